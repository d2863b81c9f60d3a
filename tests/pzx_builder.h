// Builds PZX images in memory for tests and the fuzzer's seeds: every block
// gets its tag and size.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tests/tape_builder.h"

namespace vetrik::tape {

// Offsets in a DATA block, from its tag.
inline constexpr std::size_t PZX_SIZE_AT = 4;
inline constexpr std::size_t PZX_DATA_BITS_AT = 8;

// A block: tag (4 bytes), 32-bit size, body.
Bytes pzx_block(std::string_view tag, const Bytes& body);

// The PZXT header block: version, then info text.
Bytes pzx_header(std::uint8_t major = 1, std::uint8_t minor = 0,
                 std::string_view info = "");

// A DATA block.
struct PzxData {
  Bytes bytes{};             // the bits, as stored
  std::uint32_t bits = 0;    // 0: 8 bits a byte of bytes
  bool high = false;         // the level bit of the count
  std::uint8_t pulses0 = 2;  // pulses of a 0 bit
  std::uint8_t pulses1 = 2;  // pulses of a 1 bit
  std::size_t left_over = 0; // bytes after the bits, in the block
};
Bytes pzx_data(const PzxData& block);
Bytes pzx_data(const Bytes& bytes);

// A pulse list (PULS) of pulses of these T-states, alternating levels, the
// first high when first_high (after a pulse of no length); equal pulses in
// a row are stored once with a count.
Bytes pzx_pulses(const std::vector<double>& t_states, bool first_high);

// One block of every kind that carries no bytes for the view.
std::vector<Bytes> pzx_byteless_blocks();

// A PZX image of the blocks of a well-formed TAP image, each a DATA block,
// with between put before every block and after the last.
Bytes pzx_from_tap(const Bytes& tap, const Bytes& between = {});

} // namespace vetrik::tape
