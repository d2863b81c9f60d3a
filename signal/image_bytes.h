// Exact reads and skips over an image, and the little-endian fields of the
// recording headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vetrik {

class ImageInput;

// Reads exactly n bytes (a header's worth). Returns false when the input
// ends first.
bool read_exactly(ImageInput& input, std::uint8_t* destination, std::size_t n);

// Reads and drops n bytes. Returns false when the input ends first.
bool skip_bytes(ImageInput& input, std::uint64_t n);

inline std::uint32_t le16(const std::uint8_t* p) {
  return p[0] + p[1] * 0x100U;
}
inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] + p[1] * 0x100U + p[2] * 0x10000U + p[3] * 0x1000000U;
}

} // namespace vetrik
