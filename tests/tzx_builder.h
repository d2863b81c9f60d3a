// Builds TZX images in memory for tests, the sample tape and the benchmark:
// every block gets its ID and its length fields, so that a test changes one
// field on purpose and nothing else by accident.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/tape_builder.h"

namespace vetrik::tape {

// Offsets in a 0x19 block, from its ID byte.
inline constexpr std::size_t GENERALIZED_LENGTH_AT = 1;
inline constexpr std::size_t GENERALIZED_PILOT_SYMBOLS_AT = 7;
inline constexpr std::size_t GENERALIZED_DATA_SYMBOLS_AT = 13;
inline constexpr std::size_t GENERALIZED_DATA_ALPHABET_AT = 18;

// The signature and a version.
Bytes tzx_header(std::uint8_t major = 1, std::uint8_t minor = 20);

// Data blocks carrying bytes (a TAP block's flag, body and checksum) as they
// are stored: 0x10 standard speed, 0x11 turbo, 0x14 pure data. used_bits is
// the count of bits used in the last byte, which the bytes do not follow.
Bytes tzx_standard(const Bytes& bytes);
Bytes tzx_turbo(const Bytes& bytes, std::uint8_t used_bits = 8);
Bytes tzx_pure_data(const Bytes& bytes, std::uint8_t used_bits = 8);

// A 0x19 block.
struct Generalized {
  std::uint32_t pilot_symbols = 0; // pilot runs; 0: no pilot part
  std::uint8_t pilot_alphabet = 2; // 0 stands for 256
  std::uint32_t data_symbols = 0;  // bits; 0: no data part
  std::uint8_t data_alphabet = 2;  // 0 stands for 256
  std::uint8_t data_pulses = 2;    // pulses per data symbol
  Bytes stream{};                  // the data stream as stored
  std::size_t left_over = 0;       // bytes after the stream, in the block
};
Bytes tzx_generalized(const Generalized& block);
// A 0x19 block carrying bytes one bit per symbol, with or without a pilot.
Bytes tzx_generalized(const Bytes& bytes, bool pilot = true);

// A block of id that starts with a 32-bit length of the body that follows.
Bytes tzx_block_with_length(std::uint8_t id, const Bytes& body);

// A direct recording (0x15) of bits samples of t_states each, held in bytes.
Bytes tzx_direct_recording(const Bytes& bytes, std::size_t bits,
                           std::uint16_t t_states);

// A CSW recording (0x18) of data, coded with compression (1 RLE, 2 Z-RLE),
// at rate samples a second.
Bytes tzx_csw_recording(const Bytes& data, std::uint32_t rate,
                        std::uint8_t compression);

// One block of every kind that carries no bytes for the view.
std::vector<Bytes> tzx_byteless_blocks();

// Which data block a TAP block becomes.
enum class TzxData { STANDARD, TURBO, PURE, GENERALIZED };

// A TZX image of the blocks of a well-formed TAP image, in order, each as
// the data block kind the rotation gives it (the first kind for the first
// block, and so on, round and round), with between put before every block
// and after the last.
Bytes tzx_from_tap(const Bytes& tap, const std::vector<TzxData>& rotation,
                   const Bytes& between = {});

} // namespace vetrik::tape
