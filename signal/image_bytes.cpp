// Exact reads and skips.
#include "signal/image_bytes.h"

#include <algorithm>

#include "tape/image_input.h"

namespace vetrik {

bool read_exactly(ImageInput& input, std::uint8_t* destination, std::size_t n) {
  return input.read(destination, static_cast<std::int32_t>(n)) ==
         static_cast<std::int32_t>(n);
}

bool skip_bytes(ImageInput& input, std::uint64_t n) {
  std::uint8_t scratch[4096];
  while (n > 0) {
    const auto want =
        static_cast<std::int32_t>(std::min<std::uint64_t>(n, sizeof scratch));
    if (input.read(scratch, want) != want) {
      return false;
    }
    n -= static_cast<std::uint64_t>(want);
  }
  return true;
}

} // namespace vetrik
