// Image bytes from the file layer or from memory.
#include "tape/image_input.h"

#include <algorithm>
#include <cstring>

#include "fileio/file_access.h"

namespace vetrik {

std::int32_t FileInput::read(std::uint8_t* destination, std::int32_t n) {
  return file_read(number_, destination, n);
}

std::int32_t MemoryInput::read(std::uint8_t* destination, std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  const std::size_t take =
      std::min(static_cast<std::size_t>(n), bytes_.size() - at_);
  if (take > 0) {
    std::memcpy(destination, bytes_.data() + at_, take);
  }
  at_ += take;
  return static_cast<std::int32_t>(take);
}

} // namespace vetrik
