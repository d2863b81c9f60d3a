#include "signal/block_chooser.h"

#include <gtest/gtest.h>

#include <vector>

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;

DecodedBlock block(double start, double end, Bytes bytes) {
  return {std::move(bytes), start, end, false};
}

std::vector<Bytes> popped(BlockChooser& chooser) {
  std::vector<Bytes> out;
  for (DecodedBlock b; chooser.pop(b);) {
    out.push_back(b.bytes);
  }
  return out;
}

TEST(BlockChooser, OfOverlappingBlocksTheOneThatChecksThenTheLongestIsKept) {
  const Bytes checks = {0x00, 0x12, 0x12};    // XOR 0
  const Bytes longer = {0x00, 0x12, 0x13, 4}; // does not check
  const Bytes shorter = {0x00, 0x12};
  BlockChooser chooser(3);
  chooser.add(0, block(100, 200, shorter));
  chooser.add(1, block(90, 210, longer));
  // Placed by a listener's filters a little before the recording's start.
  chooser.add(2, block(-10, 190, checks));
  chooser.add(0, block(300, 400, longer));
  chooser.add(1, block(310, 390, shorter));
  chooser.finish();
  EXPECT_EQ(popped(chooser), (std::vector<Bytes>{checks, longer}));
}

TEST(BlockChooser, WaitsForEveryChannelToBeHeardPastABlocksEnd) {
  BlockChooser chooser(2);
  chooser.add(0, block(100, 200, {1}));
  chooser.progress(0, 250);
  chooser.progress(1, 150); // channel 1 may still bring a block from 150
  EXPECT_TRUE(popped(chooser).empty());
  chooser.progress(1, 200);
  EXPECT_EQ(popped(chooser), std::vector<Bytes>{{1}});
}

TEST(BlockChooser, StopsWaitingWhenBlocksPileUpAndDropsWhatComesLate) {
  BlockChooser chooser(2);
  chooser.progress(1, 0); // channel 1 is inside a long block from 0
  for (std::uint8_t i = 1; i <= CHOOSER_MOST_WAITING + 1; ++i) {
    chooser.add(0, block(100.0 * i, 100.0 * i + 50, {i}));
  }
  EXPECT_EQ(popped(chooser).size(), 1U);
  chooser.add(1, block(0, 1000, {9, 9})); // that long block, too late
  chooser.finish();
  EXPECT_EQ(popped(chooser).size(), CHOOSER_MOST_WAITING);
}

// Candidates for one block, all overlapping; what the chooser gives.
TEST(BlockChooser, TakesTheBytesMostCandidatesThatCheckAgreeOn) {
  const Bytes a = {0xFF, 0x10, 0x20, 0xCF};         // checks
  const Bytes b = {0xFF, 0x30, 0x00, 0xCF};         // checks, other bytes
  const Bytes near_a = {0xFF, 0x10, 0x20, 0x00};    // fails, like a
  const Bytes header = {0x00, 0x00, 0x41, 0x41, 0}; // checks
  const Bytes start = {0x00, 0x00};                 // its start, checks
  const Bytes short_fail = {0xFF, 0x01};
  const Bytes long_fail = {0xFF, 0x01, 0x02};
  const Bytes a_and_zero = {0xFF, 0x10, 0x20, 0xCF, 0x00}; // checks too
  struct Case {
    const char* name;
    std::vector<Bytes> candidates;
    Bytes chosen; // empty: the block must fail its check
  };
  const Case cases[] = {
      {"two against one", {b, a, a}, a},
      {"a lost listener's start counts for the block",
       {start, start, header},
       header},
      {"an even vote goes to the bytes the others agree with",
       {b, a, near_a},
       a},
      {"an even vote nothing breaks fails", {a, b}, {}},
      {"a 0 byte read past the end wins no votes", {a, a, a_and_zero}, a},
      {"with none that checks, the longest",
       {short_fail, long_fail},
       long_fail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlockChooser chooser(c.candidates.size());
    for (std::size_t i = 0; i < c.candidates.size(); ++i) {
      chooser.add(i, block(100 + static_cast<double>(i), 200, c.candidates[i]));
    }
    chooser.finish();
    const std::vector<Bytes> got = popped(chooser);
    ASSERT_EQ(got.size(), 1U);
    if (c.chosen.empty()) {
      std::uint8_t sum = 0;
      for (std::uint8_t byte : got[0]) {
        sum ^= byte;
      }
      EXPECT_NE(sum, 0);
    } else {
      EXPECT_EQ(got[0], c.chosen);
    }
  }
}

} // namespace
} // namespace vetrik
