// Reads the whole TAP view of an image held in memory, for the tape layer's
// tests, checking on the way what every view promises: the end test takes
// no byte, a short read comes only at the end, and the end stays.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tape/tape_view.h"
#include "tests/tape_builder.h"

namespace vetrik::tape {

struct ViewRead {
  Bytes bytes;
  std::string problem;
  bool operator==(const ViewRead&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ViewRead& read) {
  out << read.bytes.size() << " bytes:";
  for (std::size_t i = 0; i < read.bytes.size() && i < 48; ++i) {
    out << ' ' << int{read.bytes[i]};
  }
  return out << (read.bytes.size() > 48 ? " ..." : "") << ", problem \""
             << read.problem << '"';
}

// The view of image, read step bytes at a time.
inline ViewRead read_view(const Bytes& image, std::int32_t step = 0x10000) {
  MemoryInput input(image);
  const std::unique_ptr<TapeView> view = open_tape_view(input);
  ViewRead out;
  Bytes chunk(static_cast<std::size_t>(step));
  for (;;) {
    const bool at_end = view->at_end();
    EXPECT_EQ(view->at_end(), at_end) << "the end test took a byte";
    const std::int32_t got = view->read(chunk.data(), step);
    EXPECT_EQ(got == 0, at_end) << "the end test disagrees with the read";
    out.bytes.insert(out.bytes.end(), chunk.begin(), chunk.begin() + got);
    if (got < step) {
      EXPECT_TRUE(view->at_end());
      EXPECT_EQ(view->read(chunk.data(), step), 0) << "the end did not stay";
      break;
    }
    EXPECT_EQ(view->problem(), "") << "a problem before the end";
  }
  out.problem = view->problem();
  return out;
}

// Two stored files, and their blocks: the view of a TZX or PZX image of
// these blocks is this TAP image.
inline const Bytes TWO_FILES_TAP = joined(
    {tape_file("one", pattern(300, 1)), tape_file("two", pattern(20, 2), 3)});
inline const std::vector<Bytes> TWO_FILES_BLOCKS = blocks_of(TWO_FILES_TAP);

// A bad block and the problem the view must end with at it.
struct BadBlock {
  std::string what;
  Bytes bytes;
  std::string problem;
};

// Checks that the view of before, then bad, is view_before and ends with
// bad's problem; and, when bad is whole, that what follows it (after) is
// never read.
inline void expect_view_ends_at(const Bytes& before, const Bytes& view_before,
                                const BadBlock& bad, const Bytes& after) {
  SCOPED_TRACE(bad.what);
  const Bytes image = joined({before, bad.bytes});
  const ViewRead expected{view_before, bad.problem};
  EXPECT_EQ(read_view(image), expected);
  if (!bad.problem.starts_with("truncated")) {
    EXPECT_EQ(read_view(joined({image, after})), expected);
  }
}

// The TAP view of blocks: each behind its 16-bit length.
inline Bytes tap_of(std::initializer_list<Bytes> blocks) {
  Bytes out;
  for (const Bytes& block : blocks) {
    out.push_back(static_cast<std::uint8_t>(block.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(block.size() >> 8));
    append(out, block);
  }
  return out;
}

} // namespace vetrik::tape
