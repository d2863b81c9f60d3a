// Numbered, buffered files and the look-up of what is at a path. Every byte
// the tool reads or writes passes through here; nothing here prints.
#pragma once

#include <cstdint>
#include <string_view>

#include "fileio/file_slot.h"
#include "platform/platform.h"

namespace vetrik {

// path_entry looks at no more than this many characters of a path.
inline constexpr std::size_t PATH_WORK_LIMIT = 260;

// Creates the file table. Runs once, before any other call here; a second
// call closes every open file and starts afresh.
void file_system_init();

// Opens path for reading as file number. A file already open on that number
// is closed first. Returns the handle, or 0 on failure (the number is then
// not open). Directories are refused.
Handle file_open_read(std::int32_t number, const std::string& path);

// Creates path for writing as file number, in mode CREATE_NEW (the path must
// be free) or REUSE_EMPTY (an empty leftover is taken over); see OpenMode.
// A file already open on that number is closed first. Returns OPENED; TAKEN
// when the path is not this run's to write; FAILED when the system refused.
// The number is open only after OPENED.
OpenOutcome file_create(std::int32_t number, const std::string& path,
                        OpenMode mode = OpenMode::CREATE_NEW);

// The numbered-stream operations of single bytes and words: file_eof,
// file_read_byte, file_read_word and file_write_byte. They belong to this
// layer's interface, with their own patterns of system calls, though the
// tool itself moves its bytes with file_read and file_write.

// 0 while a byte remains to be read; 1 at the end (-1 for an unbuffered file,
// also after a read error). Never consumes a byte. 0 for a number not open.
std::int32_t file_eof(std::int32_t number);

// The next byte, 0 to 255; 0 at the end and for a number not open.
std::int32_t file_read_byte(std::int32_t number);

// The next two bytes as a little-endian word, as a signed 16-bit value
// extended to 32 bits (FF FF gives -1). Missing bytes count as 0.
std::int32_t file_read_word(std::int32_t number);

// Writes the low 8 bits of value. Returns the bytes accepted: 1, or what the
// system took for an unbuffered file; 0 for a number not open.
std::int32_t file_write_byte(std::int32_t number, std::int32_t value);

// Reads up to n bytes into destination through the stream buffer. Returns the
// bytes delivered: fewer than n only at the end or after a read error. A
// system read that brings fewer bytes than asked (a pipe) is followed by
// another; only one that brings none, or fails, ends the file.
std::int32_t file_read(std::int32_t number, std::uint8_t* destination,
                       std::int32_t n);

// Writes n bytes from source through the stream buffer. Returns the bytes
// accepted; 0 for a number not open.
std::int32_t file_write(std::int32_t number, const std::uint8_t* source,
                        std::int32_t n);

// Whether a read of the open file number failed with an error, as opposed to
// reaching the end; false for a number not open.
bool file_read_failed(std::int32_t number);

// Writes out what is buffered and closes the file. Returns false when some
// of its output did not reach the system (a short or failed write, or a
// failed close); true otherwise, also for a number not open.
bool file_close(std::int32_t number);

// Closes every open file in ascending order of number.
void file_close_all();

// What is at path, as the platform's find_entry describes it: separators at
// the end of path are ignored, and so is anything past PATH_WORK_LIMIT
// characters or a first NUL. MISSING for an empty path.
EntryInfo path_entry(std::string_view path);

} // namespace vetrik
