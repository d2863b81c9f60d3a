// The one door to the operating system. Every file, console and memory call
// the tool makes goes through the Platform installed with set_platform().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vetrik {

// An open file. 0 never names an open file; INVALID_HANDLE marks a failed open.
using Handle = std::intptr_t;
inline constexpr Handle INVALID_HANDLE = -1;

// How create_file opens its path. The two ways of creating never empty a
// file that holds data and never follow a link, and the file stays locked
// against other runs of the tool until it is closed.
enum class OpenMode {
  READ_EXISTING, // read only; the path must name an existing entry that is
                 // no directory
  CREATE_NEW,    // read and write; the path must not exist, and is created
  REUSE_EMPTY    // read and write; an existing file that may_take_over
                 // (platform/leftover.h) allows, and that no other run holds
};

enum class OpenOutcome {
  OPENED,
  TAKEN, // the path holds something this run may not write: for CREATE_NEW
         // anything at all, for REUSE_EMPTY anything but a leftover
  FAILED // the system refused for another reason
};

struct Opened {
  OpenOutcome outcome = OpenOutcome::FAILED;
  Handle handle = INVALID_HANDLE; // valid only when OPENED
};

// What a look-up found at a path. The entry itself is described: a link is
// never followed.
enum class EntryKind {
  MISSING,   // nothing is there
  FILE,      // a regular file
  DIRECTORY, // a directory
  LINK,      // a symbolic link (on Windows any reparse point)
  OTHER,     // a device, a FIFO, a socket: nothing a file is written to
  RESERVED   // a name that the system keeps for a device whatever counter
             // is put before its extension, so no file can ever have it
};

// Times of entries count in steps of 100 nanoseconds.
inline constexpr std::int64_t TICKS_PER_SECOND = 10'000'000;

struct EntryInfo {
  EntryKind kind = EntryKind::MISSING;
  std::uint64_t size = 0; // FILE: its length; LINK: its target's length
  // The rest tells of a FILE. Where the system cannot tell from a look-up,
  // each says what a leftover would; REUSE_EMPTY looks again at the open
  // file.
  std::uint32_t links = 1;   // the names the file has
  bool owned_by_user = true; // it belongs to the user running the tool
  bool set_user_id = false;  // it runs with its owner's rights
  bool set_group_id = false; // it runs with its group's rights
  // Ticks from its last change to the start of the run; 0 or less when it
  // changed since.
  std::int64_t age = 0;
};

class Platform {
public:
  virtual ~Platform() = default;

  // Opens or creates path as mode says, by one of the three ways below. A
  // directory is never opened, and neither way of creating opens anything
  // but a regular file.
  Opened create_file(const std::string& path, OpenMode mode);

  // Reads up to count bytes at the file position and advances it. Returns
  // false when the call failed; *count_read is 0 then, and at the end.
  virtual bool read_file(Handle handle, void* destination, std::uint32_t count,
                         std::uint32_t* count_read) = 0;

  // Writes count bytes at the file position. Returns false when the call
  // failed; *count_written tells how many bytes were taken (0 on failure).
  virtual bool write_file(Handle handle, const void* source,
                          std::uint32_t count,
                          std::uint32_t* count_written) = 0;

  // Moves the file position by distance from where it stands.
  virtual void set_file_pointer(Handle handle, std::int32_t distance) = 0;

  // Closes the handle. Returns false when the system reports an error, which
  // for a written file means its data may not have reached the disk.
  virtual bool close_handle(Handle handle) = 0;

  // Describes the entry at path; MISSING when there is none. Separators at
  // the end of path are ignored. A name that the system keeps for a device
  // is OTHER (or RESERVED), whether or not a directory search would find it.
  // Where the system has drives, a drive (C: or C:\, any first and third
  // character) is a DIRECTORY when its volume exists, else MISSING; so is
  // a directory that no search can see (a share root, the parent of a root).
  virtual EntryInfo find_entry(std::string_view path) = 0;

  // Writes text to standard output. When standard output is no terminal,
  // text may be held back, until console_flush or for a tenth of a second
  // at most (and never while a read waits on an image that is no regular
  // file). Returns false when any console text so far could not be written:
  // standard output is full, broken, or was closed when the process started.
  virtual bool console_write(std::string_view text) = 0;

  // Sends out console text still held back. Returns false as console_write.
  virtual bool console_flush() = 0;

  // Between defer_interrupts and the matching allow_interrupts, a request to
  // end the process (an interrupt, a termination or a hang-up signal) waits.
  // Whenever such a request is carried out, the console text held back is
  // written out first, and the process then ends by that request as it would
  // have without the tool's help. Calls nest.
  virtual void defer_interrupts() {}
  virtual void allow_interrupts() {}

  // A block of size bytes for a stream buffer, or nullptr when none can be had.
  virtual std::uint8_t* allocate_buffer(std::size_t size) = 0;
  virtual void free_buffer(std::uint8_t* buffer) = 0;

protected:
  // The ways of create_file, one for each OpenMode, with its outcomes.
  virtual Opened open_existing(const std::string& path) = 0;
  virtual Opened create_new(const std::string& path) = 0;
  virtual Opened reuse_empty(const std::string& path) = 0;

  // path without the separators at its end, for find_entry.
  static std::string_view without_final_separators(std::string_view path,
                                                   char separator);
};

// The platform in use. Until set_platform is called it is the operating
// system's own (the one this build was made for).
Platform& platform();

// Installs p as the platform in use; it must outlive its use.
void set_platform(Platform& p);

// The operating system's own platform.
Platform& system_platform();

// The command line as one text, for systems that keep it that way; the tool
// then cuts its parameters from it by its own rules. std::nullopt where the
// system hands the parameters to main already split.
std::optional<std::string> system_command_line();

// Readies the process for a run: a closed or broken standard output must not
// end it, a file the tool opens must never take the place of a standard
// stream that was closed when the process started, and a request to end the
// process keeps the console text held back (see defer_interrupts).
void prepare_process();

} // namespace vetrik
