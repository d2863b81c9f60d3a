// Builds TAP images in memory for tests, the sample tape and the benchmark:
// blocks get their length word and checksum computed, so a test damages one
// byte on purpose and nothing else by accident.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace vetrik::tape {

using Bytes = std::vector<std::uint8_t>;

// Offsets in a header/data pair that tests damage.
inline constexpr std::size_t HEADER_SIZE = 21; // length word + 19
inline constexpr std::size_t HEADER_FLAG_OFFSET = 2;
inline constexpr std::size_t HEADER_NAME_OFFSET = 4;
inline constexpr std::size_t HEADER_CHECKSUM_OFFSET = 20;

// A block: length word, then body (flag first), then the XOR of body.
Bytes block(const Bytes& body);

// A header block. name is taken byte for byte, padded with spaces (or cut)
// to 10 bytes; data_length defaults to nothing in particular.
Bytes header_block(std::string_view name, std::uint8_t type = 0,
                   std::uint16_t data_length = 0, std::uint16_t parameter1 = 0,
                   std::uint16_t parameter2 = 0);

// A data block carrying payload after flag.
Bytes data_block(const Bytes& payload, std::uint8_t flag = 0xFF);

// A header and its data block.
Bytes tape_file(std::string_view name, const Bytes& payload,
                std::uint8_t type = 0);

// payload bytes: n bytes of a pattern that differs with seed.
Bytes pattern(std::size_t n, std::uint32_t seed = 1);

// Appends tail to image.
void append(Bytes& image, const Bytes& tail);

// parts one after the other.
Bytes joined(std::initializer_list<Bytes> parts);

// The first size bytes of bytes (all of them when it holds fewer).
Bytes cut(Bytes bytes, std::size_t size);

// Sets the 32-bit little-endian number at offset at of bytes.
void set_dword(Bytes& bytes, std::size_t at, std::uint32_t value);

// The blocks of a well-formed TAP image, each without its length word.
std::vector<Bytes> blocks_of(const Bytes& image);

} // namespace vetrik::tape
