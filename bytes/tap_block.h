// The TAP block format, as the block loop reads it (a TAP image, or the TAP
// view of any other image) and as every reader makes it: blocks of a 16-bit
// little-endian length N followed by N bytes (flag, N - 2 body bytes, XOR
// checksum), taken in pairs: a header block, then the data block it
// describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vetrik {

// The length word in front of each block.
inline constexpr std::size_t LENGTH_WORD_SIZE = 2;
// The most bytes a block can hold: its length must fit the length word.
inline constexpr std::size_t MAX_BLOCK_SIZE = 0xFFFF;

inline constexpr std::int32_t NAME_LENGTH = 10;
// Header block body after the length word: flag 1 + type 1 + name 10 +
// data length 2 + parameter 1 2 + parameter 2 2 + checksum 1.
inline constexpr std::uint16_t HEADER_BLOCK_LENGTH =
    1 + 1 + NAME_LENGTH + 2 + 2 + 2 + 1;
inline constexpr std::uint8_t HEADER_FLAG = 0x00;
// A data block of length N carries N - 2 payload bytes (flag and checksum
// take the other two); at most 65533.
inline constexpr std::int32_t DATA_BLOCK_OVERHEAD = 2;
inline constexpr std::int32_t MAX_PAYLOAD =
    static_cast<std::int32_t>(MAX_BLOCK_SIZE) - DATA_BLOCK_OVERHEAD;

// The XOR of bytes, on from sum (the XOR of the bytes before them). A whole
// block, flag and checksum included, gives 0 when its checksum is right.
inline std::uint8_t xor_checksum(std::span<const std::uint8_t> bytes,
                                 std::uint8_t sum = 0) {
  for (std::uint8_t b : bytes) {
    sum ^= b;
  }
  return sum;
}

} // namespace vetrik
