// Little-endian numbers in the fields of the image formats, assembled byte
// by byte, the lowest first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vetrik {

// A field of fixed width: 16 or 32 bits. Spelt out, as samples are read
// through them.
inline std::uint32_t le16(const std::uint8_t* p) {
  return p[0] + p[1] * 0x100U;
}
inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] + p[1] * 0x100U + p[2] * 0x10000U + p[3] * 0x1000000U;
}

// A field whose width a layout gives: the size bytes at p, 0 to 4 of them.
inline std::uint32_t little_endian(const std::uint8_t* p, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i > 0; --i) {
    value = value * 0x100 + p[i - 1];
  }
  return value;
}

} // namespace vetrik
