#include "tape/pzx_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/pzx_builder.h"
#include "tests/read_view.h"

namespace vetrik::tape {
namespace {

const Bytes& TAP = TWO_FILES_TAP;
const std::vector<Bytes>& BLOCKS = TWO_FILES_BLOCKS;
const Bytes GOOD_START =
    joined({pzx_header(), pzx_data(BLOCKS[0]), pzx_data(BLOCKS[1])});
const Bytes GOOD_VIEW = tap_of({BLOCKS[0], BLOCKS[1]});

TEST(PzxReader, DataBlocksGiveTheBytesOfTheirBits) {
  const Bytes odd = pattern(5, 4);
  const Bytes big = pattern(0xFFFF, 3);
  PzxData partial; // 35 bits take 5 bytes; the level bit is no count
  partial.bytes = odd;
  partial.bits = 35;
  partial.high = true;
  partial.pulses0 = 0;
  partial.pulses1 = 7;
  partial.left_over = 3;
  PzxData high = {.bytes = odd, .high = true};
  const std::vector<std::pair<Bytes, Bytes>> cases = {
      {pzx_from_tap(TAP), TAP},
      {joined({pzx_header(1, 7, "info"), pzx_data(partial), pzx_data(high)}),
       tap_of({odd, odd})},
      {joined({pzx_header(), pzx_data(big)}), tap_of({big})},
      {joined({pzx_header(), pzx_data(Bytes{}), pzx_data(odd)}),
       tap_of({{}, odd})},
      {pzx_header(), {}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(read_view(cases[i].first), (ViewRead{cases[i].second, ""}))
        << "case " << i;
  }
}

// Sets the size of block, and fills it to that size with zeros.
void set_size(Bytes& block, std::uint32_t size) {
  set_dword(block, PZX_SIZE_AT, size);
  block.resize(std::max<std::size_t>(block.size(), PZX_SIZE_AT + 4 + size));
}

// A DATA block of 3 bytes with 1 and 2 pulses a bit, declaring size bytes
// after its size field, all of them in the image.
Bytes data_of_size(std::uint32_t size, std::uint32_t bits = 24) {
  PzxData block;
  block.bytes = pattern(3, 6);
  block.bits = bits;
  block.pulses0 = 1;
  block.pulses1 = 2;
  Bytes out = pzx_data(block);
  set_size(out, size);
  return out;
}

// Fixed fields 8, pulse tables 2 * (1 + 2), then the bits.
constexpr std::uint32_t FIXED = 8;
constexpr std::uint32_t TABLES = 6;

// Bad blocks after GOOD_START; those in the header make the whole image.
std::vector<BadBlock> problems() {
  const Bytes header = pzx_header(1, 0, "about");
  Bytes short_header = pzx_header(1, 0);
  short_header[4] = 1;
  const Bytes big = pattern(0x10000, 8);
  PzxData too_long;
  too_long.bytes = big;
  return {
      {"signature only", cut(header, 4), "truncated block PZXT"},
      {"header cut in its size", cut(header, 6), "truncated block PZXT"},
      {"header cut", cut(header, 12), "truncated block PZXT"},
      {"header of 1 byte", short_header, "damaged block PZXT"},
      {"header of 1 byte, cut", cut(short_header, 8), "truncated block PZXT"},
      {"header of no bytes", pzx_block("PZXT", {}), "damaged block PZXT"},
      {"major version 2", pzx_header(2, 1), "unsupported PZX version 2.1"},
      {"major version 0", pzx_header(0, 0), "unsupported PZX version 0.0"},
      {"major version 2, cut", cut(pzx_header(2, 1, "x"), 10),
       "truncated block PZXT"},
      {"tag cut", {'D', 'A'}, "truncated block DA"},
      {"odd tag cut", {0, 0xFF, 'A'}, "truncated block (0)(255)A"},
      {"size cut", cut(pzx_data(BLOCKS[2]), 7), "truncated block DATA"},
      {"DATA cut", cut(pzx_data(BLOCKS[2]), 30), "truncated block DATA"},
      {"PULS cut", cut(pzx_block("PULS", {1, 2, 3, 4}), 10),
       "truncated block PULS"},
      {"unknown tag cut",
       cut(pzx_block("\x1F"
                     "ab\x7F",
                     {1, 2, 3}),
           9),
       "truncated block (31)ab\x7F"},
      {"DATA too short for its fields", data_of_size(FIXED - 1),
       "damaged block DATA"},
      {"DATA tables past its end", data_of_size(FIXED + TABLES - 1),
       "damaged block DATA"},
      {"DATA bits past its end", data_of_size(FIXED + TABLES + 2),
       "damaged block DATA"},
      {"DATA of 65536 bytes", pzx_data(too_long), "cannot decode block DATA"},
      // The order of checks: the first fault met decides.
      {"DATA cut, and damaged", cut(data_of_size(FIXED + TABLES - 1), 12),
       "truncated block DATA"},
      {"DATA cut, and too long", cut(pzx_data(too_long), 1000),
       "truncated block DATA"},
      {"DATA bits past its end, and too long",
       data_of_size(FIXED + TABLES + 0x10000, 8 * 0x10000 + 1),
       "damaged block DATA"},
  };
}

TEST(PzxReader, EachProblemEndsTheViewWhereTheBadBlockBegins) {
  for (const BadBlock& bad : problems()) {
    const bool in_header = bad.problem.find("PZX") != std::string::npos;
    expect_view_ends_at(in_header ? Bytes{} : GOOD_START,
                        in_header ? Bytes{} : GOOD_VIEW, bad,
                        pzx_data(BLOCKS[2]));
  }
}

} // namespace
} // namespace vetrik::tape
