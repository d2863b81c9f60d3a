#include "tape/tzx_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/read_view.h"
#include "tests/tzx_builder.h"

namespace vetrik::tape {
namespace {

const Bytes& TAP = TWO_FILES_TAP;
const std::vector<Bytes>& BLOCKS = TWO_FILES_BLOCKS;
// One whole pair in 0x10 blocks, for images that go wrong after it.
const Bytes GOOD_START =
    joined({tzx_header(), tzx_standard(BLOCKS[0]), tzx_standard(BLOCKS[1])});
const Bytes GOOD_VIEW = tap_of({BLOCKS[0], BLOCKS[1]});

TEST(TzxReader, EachDataBlockKindGivesItsBytesAsStored) {
  const Bytes big = pattern(0xFFFF, 3);
  const Bytes odd = pattern(5, 4);
  Generalized wide_pilot; // a pilot alphabet of 0 stands for 256 symbols
  wide_pilot.pilot_symbols = 1;
  wide_pilot.pilot_alphabet = 0;
  wide_pilot.data_symbols = 8 * 5;
  wide_pilot.stream = odd;
  Generalized partial_byte; // 19 bits take 3 bytes
  partial_byte.data_symbols = 19;
  partial_byte.data_pulses = 0;
  partial_byte.stream = {1, 2, 3};
  partial_byte.left_over = 6;
  const std::vector<std::pair<Bytes, Bytes>> cases = {
      {tzx_from_tap(TAP, {TzxData::TURBO}), TAP},
      {tzx_from_tap(TAP, {TzxData::PURE}), TAP},
      {tzx_from_tap(TAP, {TzxData::GENERALIZED}), TAP},
      {tzx_from_tap(TAP, {TzxData::PURE, TzxData::GENERALIZED,
                          TzxData::STANDARD, TzxData::TURBO}),
       TAP},
      // The used bits of the last byte change nothing.
      {joined({tzx_header(), tzx_turbo(odd, 3), tzx_pure_data(odd, 1)}),
       tap_of({odd, odd})},
      {joined({tzx_header(), tzx_generalized(odd, false)}), tap_of({odd})},
      {joined({tzx_header(), tzx_generalized(wide_pilot)}), tap_of({odd})},
      {joined({tzx_header(), tzx_generalized(partial_byte)}),
       tap_of({{1, 2, 3}})},
      {joined({tzx_header(), tzx_turbo(big), tzx_generalized(big)}),
       tap_of({big, big})},
      // A data block of no bytes is an empty block.
      {joined(
           {tzx_header(), tzx_standard({}), tzx_turbo({}), tzx_pure_data({})}),
       tap_of({{}, {}, {}})},
      {tzx_header(), {}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(read_view(cases[i].first), (ViewRead{cases[i].second, ""}))
        << "case " << i;
  }
}

// Two images one after the other read as one: the second signature starts
// with 'Z', the glue block's ID. Its version is not looked at.
TEST(TzxReader, GlueLetsImagesFollowEachOther) {
  Bytes second = tzx_from_tap(TAP, {TzxData::TURBO});
  second[8] = 2;
  const Bytes image =
      joined({tzx_from_tap(TAP, {TzxData::STANDARD}), second, second});
  EXPECT_EQ(read_view(image), (ViewRead{joined({TAP, TAP, TAP}), ""}));
}

TEST(TzxReader, TheImageEndingInsideTheBytesOfADataBlockIsPlainTruncation) {
  for (const Bytes& block : {tzx_standard(BLOCKS[2]), tzx_turbo(BLOCKS[2]),
                             tzx_pure_data(BLOCKS[2])}) {
    const std::size_t fixed = block.size() - BLOCKS[2].size();
    for (std::size_t present : {std::size_t{0}, std::size_t{7}}) {
      const Bytes image = joined({GOOD_START, cut(block, fixed + present)});
      Bytes view = joined({GOOD_VIEW, cut(tap_of({BLOCKS[2]}), 2 + present)});
      EXPECT_EQ(read_view(image), (ViewRead{view, ""}))
          << "block 0x" << int{block[0]} << ", " << present;
    }
  }
}

// A 0x19 block with a pilot: fixed fields, pilot table and runs, data
// table, stream; declaring length bytes after its length field, all of them
// in the image (zeros past its fields).
Bytes generalized_of_length(std::uint32_t length, std::uint8_t alphabet = 2,
                            std::size_t bytes = 3) {
  Generalized block;
  block.pilot_symbols = 3;
  block.data_symbols = static_cast<std::uint32_t>(8 * bytes);
  block.data_alphabet = alphabet;
  block.stream = pattern(bytes, 5);
  Bytes out = tzx_generalized(block);
  set_dword(out, GENERALIZED_LENGTH_AT, length);
  out.resize(std::max<std::size_t>(out.size(), 1 + 4 + length));
  return out;
}

// The byteless block of id from the builder's list.
Bytes byteless(std::uint8_t id) {
  for (const Bytes& block : tzx_byteless_blocks()) {
    if (block[0] == id) {
      return block;
    }
  }
  return {};
}

// Fixed fields 14; pilot: 2 symbols of a flag and 2 pulses, 3 runs of 3
// bytes; data: 2 symbols of a flag and 2 pulses.
constexpr std::uint32_t FIXED = 14;
constexpr std::uint32_t PILOT = 2 * 5 + 3 * 3;
constexpr std::uint32_t DATA_TABLE = 2 * 5;

// Bad blocks after GOOD_START; those in the header make the whole image.
std::vector<BadBlock> problems() {
  const Bytes turbo = tzx_turbo(BLOCKS[2]);
  Bytes huge_turbo = turbo;
  huge_turbo[16] = 0; // length 0x010000
  huge_turbo[18] = 1;
  Bytes huge_pure = tzx_pure_data(BLOCKS[2]);
  huge_pure[10] = 0x12;
  const Bytes recording = {0x15, 0x4F, 0, 0, 0, 8, 3, 0, 0, 1, 2, 3};
  // Pause, a rate of 44100, compression 3, pulses, then data.
  const Bytes csw = tzx_block_with_length(
      0x18, {0, 0, 0x44, 0xAC, 0, 3, 0, 0, 0, 0, 1, 2, 3, 4});
  Bytes no_rate = csw;
  no_rate[7] = no_rate[8] = 0;
  Bytes broken = csw;
  broken[10] = 2; // Z-RLE, of bytes that are no zlib stream
  const Bytes fieldless = tzx_block_with_length(0x18, {0, 0, 0x44, 0xAC, 0});
  const Bytes sound = generalized_of_length(FIXED + PILOT + DATA_TABLE + 3);
  Bytes short_length = tzx_block_with_length(0x4B, pattern(4, 7));
  set_dword(short_length, 1, 0xFFFFFFFF);
  return {
      {"signature only", cut(tzx_header(), 8), "truncated TZX header"},
      {"one version byte", cut(tzx_header(), 9), "truncated TZX header"},
      {"major version 2", tzx_header(2, 5), "unsupported TZX version 2.5"},
      {"major version 0", tzx_header(0, 255), "unsupported TZX version 0.255"},
      {"0x10 without its fields", {0x10, 0, 0, 0}, "truncated block 0x10"},
      {"0x11 cut in its fields", cut(turbo, 18), "truncated block 0x11"},
      {"0x11 too long", huge_turbo, "cannot decode block 0x11"},
      {"0x11 too long, cut", cut(huge_turbo, 30), "cannot decode block 0x11"},
      {"0x14 too long", huge_pure, "cannot decode block 0x14"},
      {"0x15 cut", cut(recording, 11), "truncated block 0x15"},
      {"0x15 cut in its fields", cut(recording, 7), "truncated block 0x15"},
      {"0x18 of compression 3", csw, "cannot decode block 0x18"},
      {"0x18 of compression 3, cut", cut(csw, 16), "truncated block 0x18"},
      {"0x18 of rate 0", no_rate, "damaged block 0x18"},
      {"0x18 too short for its fields", fieldless, "damaged block 0x18"},
      {"0x18 of a broken Z-RLE stream", broken, "damaged block 0x18"},
      {"0x19 cut in its length", cut(sound, 4), "truncated block 0x19"},
      {"0x19 cut", cut(sound, sound.size() - 1), "truncated block 0x19"},
      {"0x19 too short for its fields", generalized_of_length(FIXED - 1),
       "damaged block 0x19"},
      {"0x19 pilot past its end", generalized_of_length(FIXED + PILOT - 1),
       "damaged block 0x19"},
      {"0x19 data table past its end",
       generalized_of_length(FIXED + PILOT + DATA_TABLE - 1),
       "damaged block 0x19"},
      {"0x19 stream past its end",
       generalized_of_length(FIXED + PILOT + DATA_TABLE + 2),
       "damaged block 0x19"},
      {"0x19 of 3 symbols", generalized_of_length(200, 3),
       "cannot decode block 0x19"},
      {"0x19 of 256 symbols", generalized_of_length(2000, 0),
       "cannot decode block 0x19"},
      {"0x19 of 1 symbol", generalized_of_length(200, 1),
       "cannot decode block 0x19"},
      {"0x19 of 65536 bytes",
       generalized_of_length(FIXED + PILOT + DATA_TABLE + 0x10000, 2, 0x10000),
       "cannot decode block 0x19"},
      // The order of checks: the first fault met decides.
      {"0x19 cut, and of 3 symbols", cut(generalized_of_length(200, 3), 150),
       "truncated block 0x19"},
      {"0x19 cut, and damaged",
       cut(generalized_of_length(FIXED + PILOT - 1), 20),
       "truncated block 0x19"},
      {"0x19 pilot past its end, and of 3 symbols",
       generalized_of_length(FIXED + PILOT - 1, 3), "damaged block 0x19"},
      {"0x19 of 3 symbols, and its table past its end",
       generalized_of_length(FIXED + PILOT + 1, 3), "cannot decode block 0x19"},
      {"0x19 stream past its end, and too long",
       generalized_of_length(FIXED + PILOT + DATA_TABLE + 0x10000, 2, 0x10001),
       "damaged block 0x19"},
      {"0x12 cut", {0x12, 1, 2, 3}, "truncated block 0x12"},
      {"0x30 cut", {0x30, 5, 'a', 'b'}, "truncated block 0x30"},
      {"0x35 cut", cut(byteless(0x35), 22), "truncated block 0x35"},
      {"0x5A cut", {0x5A, 'X', 'T'}, "truncated block 0x5A"},
      {"unknown ID, its length past the image", short_length,
       "truncated block 0x4B"},
      {"unknown ID cut in its length", {0xE0, 1, 0}, "truncated block 0xE0"},
  };
}

TEST(TzxReader, EachProblemEndsTheViewWhereTheBadBlockBegins) {
  for (const BadBlock& bad : problems()) {
    const bool in_header = bad.problem.find("TZX") != std::string::npos;
    expect_view_ends_at(in_header ? Bytes{} : GOOD_START,
                        in_header ? Bytes{} : GOOD_VIEW, bad,
                        tzx_standard(BLOCKS[2]));
  }
}

} // namespace
} // namespace vetrik::tape
