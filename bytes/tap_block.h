// The TAP format as the block loop reads it (a TAP image, or the TAP view of
// a TZX or PZX image): blocks of a 16-bit little-endian length N followed by
// N bytes (flag, N - 2 body bytes, XOR checksum), taken in pairs: a header
// block, then the data block it describes.
#pragma once

#include <cstdint>

namespace vetrik {

inline constexpr std::int32_t NAME_LENGTH = 10;
// Header block body after the length word: flag 1 + type 1 + name 10 +
// data length 2 + parameter 1 2 + parameter 2 2 + checksum 1.
inline constexpr std::uint16_t HEADER_BLOCK_LENGTH =
    1 + 1 + NAME_LENGTH + 2 + 2 + 2 + 1;
inline constexpr std::uint8_t HEADER_FLAG = 0x00;
// A data block of length N carries N - 2 payload bytes (flag and checksum
// take the other two); at most 65533.
inline constexpr std::int32_t DATA_BLOCK_OVERHEAD = 2;
inline constexpr std::int32_t MAX_PAYLOAD = 0xFFFF - DATA_BLOCK_OVERHEAD;

} // namespace vetrik
