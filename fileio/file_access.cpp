// Numbered files with 4096-byte stream buffers, over the platform's calls.
#include "fileio/file_access.h"

#include <algorithm>
#include <cstring>

#include "fileio/slot_table.h"

namespace vetrik {

namespace {

inline constexpr std::int32_t FILE_TABLE_STEP = 16;

SlotTable table;
bool table_ready = false;

void release_file(std::int32_t number) {
  file_close(number);
}

// One system write of count bytes. A write that takes fewer bytes, or fails,
// marks the slot: its file is incomplete. Returns the count taken.
std::int32_t system_write(FileSlot& slot, const std::uint8_t* source,
                          std::int32_t count) {
  std::uint32_t written = 0;
  platform().write_file(slot.handle, source, static_cast<std::uint32_t>(count),
                        &written);
  if (written < static_cast<std::uint32_t>(count)) {
    slot.write_failed = true;
  }
  return static_cast<std::int32_t>(
      std::min<std::uint32_t>(written, static_cast<std::uint32_t>(count)));
}

// One system read of up to count bytes. A failure marks the slot and reads
// as nothing. Returns the count read.
std::int32_t system_read(FileSlot& slot, std::uint8_t* destination,
                         std::int32_t count) {
  std::uint32_t got = 0;
  if (!platform().read_file(slot.handle, destination,
                            static_cast<std::uint32_t>(count), &got)) {
    slot.read_failed = true;
    return 0;
  }
  return static_cast<std::int32_t>(
      std::min<std::uint32_t>(got, static_cast<std::uint32_t>(count)));
}

// Writes out the pending output of a slot in write state, in one call even
// when nothing is pending. Returns the count the system took.
std::int32_t stream_flush(FileSlot& slot) {
  if (slot.reading != 0) {
    return 0;
  }
  const std::int32_t written =
      system_write(slot, slot.buffer, FILE_BUFFER_SIZE - slot.remaining);
  // The buffer counts as written either way; a loss is marked on the slot.
  slot.remaining = FILE_BUFFER_SIZE;
  return written;
}

// Delivers up to n bytes: first what the buffer still holds, then, until n
// bytes are there, either one read straight into the destination (for the
// rest of a buffer or more) or a refill. A pipe hands its bytes over in
// pieces, so a short read is followed by another; only a read that brings
// nothing ends the file. A regular file keeps its pattern of whole-buffer
// refills and large direct reads.
std::int32_t stream_read(FileSlot& slot, std::uint8_t* destination,
                         std::int32_t n) {
  if (slot.reading == 0) {
    stream_flush(slot);
    slot.reading = 1;
    slot.remaining = 0;
  }
  std::int32_t delivered = std::min(slot.remaining, n);
  if (delivered > 0) {
    std::memcpy(destination, slot.buffer + (slot.filled - slot.remaining),
                static_cast<std::size_t>(delivered));
    slot.remaining -= delivered;
  }
  while (delivered < n) {
    const std::int32_t need = n - delivered;
    std::int32_t got;
    if (need >= FILE_BUFFER_SIZE) {
      got = system_read(slot, destination + delivered, need);
    } else {
      slot.filled = system_read(slot, slot.buffer, FILE_BUFFER_SIZE);
      got = std::min(need, slot.filled);
      std::memcpy(destination + delivered, slot.buffer,
                  static_cast<std::size_t>(got));
      slot.remaining = slot.filled - got;
    }
    if (got == 0) {
      break;
    }
    delivered += got;
  }
  return delivered;
}

// Accepts n bytes into the buffer. The buffer is never filled to its last
// byte: the write that would fill it sends the pending bytes out first, so a
// file written byte by byte goes out 4095 bytes at a time.
std::int32_t stream_write(FileSlot& slot, const std::uint8_t* source,
                          std::int32_t n) {
  if (slot.reading != 0) {
    // Give back the unread read-ahead, so that the write lands where the
    // caller stands rather than where the last refill stopped.
    platform().set_file_pointer(slot.handle, -slot.remaining);
    slot.reading = 0;
    slot.remaining = FILE_BUFFER_SIZE;
  }
  if (slot.remaining > n) {
    std::memcpy(slot.buffer + (FILE_BUFFER_SIZE - slot.remaining), source,
                static_cast<std::size_t>(n));
    slot.remaining -= n;
    return n;
  }
  stream_flush(slot);
  if (n >= FILE_BUFFER_SIZE) {
    return system_write(slot, source, n);
  }
  std::memcpy(slot.buffer, source, static_cast<std::size_t>(n));
  slot.remaining -= n;
  return n;
}

// Reads n bytes through the slot: buffered, or with system reads until n
// bytes are there or one brings nothing.
std::int32_t slot_read(FileSlot& slot, std::uint8_t* destination,
                       std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  if (slot.buffer != nullptr) {
    return stream_read(slot, destination, n);
  }
  std::int32_t delivered = 0;
  while (delivered < n) {
    const std::int32_t got =
        system_read(slot, destination + delivered, n - delivered);
    if (got == 0) {
      break;
    }
    delivered += got;
  }
  return delivered;
}

// Writes n bytes through the slot: buffered, or with one system write.
std::int32_t slot_write(FileSlot& slot, const std::uint8_t* source,
                        std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  if (slot.buffer != nullptr) {
    return stream_write(slot, source, n);
  }
  return system_write(slot, source, n);
}

OpenOutcome open_slot(std::int32_t number, const std::string& path,
                      OpenMode mode) {
  FileSlot* slot = slot_table_acquire(table, number);
  if (slot == nullptr) {
    return OpenOutcome::FAILED;
  }
  const Opened opened = platform().create_file(path, mode);
  if (opened.outcome != OpenOutcome::OPENED || opened.handle == 0 ||
      opened.handle == INVALID_HANDLE) {
    return opened.outcome == OpenOutcome::TAKEN ? OpenOutcome::TAKEN
                                                : OpenOutcome::FAILED;
  }
  // Without a buffer the file still works, one system call per operation.
  slot->buffer =
      platform().allocate_buffer(static_cast<std::size_t>(FILE_BUFFER_SIZE));
  slot->handle = opened.handle;
  slot->remaining = 0;
  slot->reading = 1;
  return OpenOutcome::OPENED;
}

} // namespace

void file_system_init() {
  if (table_ready) {
    file_close_all();
  }
  table = slot_table_create(FILE_TABLE_STEP, release_file);
  table_ready = true;
}

Handle file_open_read(std::int32_t number, const std::string& path) {
  if (open_slot(number, path, OpenMode::READ_EXISTING) != OpenOutcome::OPENED) {
    return 0;
  }
  return slot_table_lookup(table, number)->handle;
}

OpenOutcome file_create(std::int32_t number, const std::string& path,
                        OpenMode mode) {
  // Reading is not creating: a caller never gets the image's mode here.
  if (mode == OpenMode::READ_EXISTING) {
    return OpenOutcome::FAILED;
  }
  return open_slot(number, path, mode);
}

std::int32_t file_eof(std::int32_t number) {
  FileSlot* slot = slot_table_lookup(table, number);
  if (slot == nullptr) {
    return 0;
  }
  std::uint8_t scratch = 0;
  if (slot->buffer != nullptr) {
    if (stream_read(*slot, &scratch, 1) == 1) {
      // Leave the byte in the buffer as the next one to be read.
      slot->remaining += 1;
      return 0;
    }
    return 1;
  }
  if (system_read(*slot, &scratch, 1) == 0) {
    return -1;
  }
  platform().set_file_pointer(slot->handle, -1);
  return 0;
}

std::int32_t file_read_byte(std::int32_t number) {
  FileSlot* slot = slot_table_lookup(table, number);
  if (slot == nullptr) {
    return 0;
  }
  std::uint8_t scratch = 0;
  slot_read(*slot, &scratch, 1);
  return scratch;
}

std::int32_t file_read_word(std::int32_t number) {
  FileSlot* slot = slot_table_lookup(table, number);
  if (slot == nullptr) {
    return 0;
  }
  std::uint8_t bytes[2] = {0, 0};
  slot_read(*slot, bytes, 2);
  const auto word = static_cast<std::uint16_t>(bytes[0] + bytes[1] * 0x100);
  return static_cast<std::int16_t>(word);
}

std::int32_t file_write_byte(std::int32_t number, std::int32_t value) {
  FileSlot* slot = slot_table_lookup(table, number);
  if (slot == nullptr) {
    return 0;
  }
  const auto byte = static_cast<std::uint8_t>(value & 0xFF);
  return slot_write(*slot, &byte, 1);
}

std::int32_t file_read(std::int32_t number, std::uint8_t* destination,
                       std::int32_t n) {
  FileSlot* slot = slot_table_lookup(table, number);
  return slot == nullptr ? 0 : slot_read(*slot, destination, n);
}

std::int32_t file_write(std::int32_t number, const std::uint8_t* source,
                        std::int32_t n) {
  FileSlot* slot = slot_table_lookup(table, number);
  return slot == nullptr ? 0 : slot_write(*slot, source, n);
}

bool file_read_failed(std::int32_t number) {
  const FileSlot* slot = slot_table_lookup(table, number);
  return slot != nullptr && slot->read_failed;
}

bool file_close(std::int32_t number) {
  FileSlot* slot = slot_table_lookup(table, number);
  if (slot == nullptr) {
    return true;
  }
  if (slot->buffer != nullptr) {
    stream_flush(*slot);
    platform().free_buffer(slot->buffer);
    slot->buffer = nullptr;
  }
  if (!platform().close_handle(slot->handle)) {
    slot->write_failed = true;
  }
  const bool complete = !slot->write_failed;
  slot_table_release(table, number);
  return complete;
}

void file_close_all() {
  slot_table_for_each(table);
}

EntryInfo path_entry(std::string_view path) {
  // The work copy ends at the first terminator and holds at most
  // PATH_WORK_LIMIT characters.
  path = path.substr(0, std::min(path.find('\0'), PATH_WORK_LIMIT));
  if (path.empty()) {
    return {};
  }
  return platform().find_entry(path);
}

} // namespace vetrik
