// The record of one numbered file and its stream buffer.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace vetrik {

// Size of every file's stream buffer, fixed for the run.
inline constexpr std::int32_t FILE_BUFFER_SIZE = 4096;

struct FileSlot {
  Handle handle = 0;              // 0: the slot holds no open file
  std::uint8_t* buffer = nullptr; // FILE_BUFFER_SIZE bytes; null: unbuffered
  // Read state: bytes of the last refill not yet delivered.
  // Write state: bytes still free in the buffer.
  std::int32_t remaining = 0;
  std::int32_t filled = 0;  // bytes the last refill placed in the buffer
  std::int32_t reading = 0; // 1: read state; 0: write state
  // Set when the system took fewer bytes than it was given, or failed to
  // close the file; data written through this slot is then incomplete.
  bool write_failed = false;
  // Set when the system reported an error on a read: what follows in the
  // file was never seen, though reads now look like the end of it.
  bool read_failed = false;
};

} // namespace vetrik
