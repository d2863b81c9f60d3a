#include "tape/tape_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string_view>

#include "tests/flaky_input.h"
#include "tests/pzx_builder.h"
#include "tests/read_view.h"
#include "tests/tape_builder.h"
#include "tests/tzx_builder.h"

namespace vetrik::tape {
namespace {

Bytes text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

TEST(TapeView, AnImageWithoutASignatureIsItsOwnViewReadInAnySteps) {
  Bytes two_files = tape_file("one", pattern(5000, 1));
  append(two_files, tape_file("two", pattern(20, 2), 3));
  const Bytes almost_tzx = text("ZXTape!\x1B and more");
  for (const Bytes& image :
       {Bytes{}, Bytes{19}, text("ZXTape!"), almost_tzx, text("PZX"),
        text("pzxt1234"), text("12345678"), two_files}) {
    for (std::int32_t step : {1, 3, 8, 4096, 0x10000}) {
      EXPECT_EQ(read_view(image, step), (ViewRead{image, ""}))
          << image.size() << " bytes in steps of " << step;
    }
  }
}

TEST(TapeView, TheSignatureDecidesTheFormatWhateverFollows) {
  Bytes pzx_after_tap = tape_file("one", pattern(10, 1));
  append(pzx_after_tap, text("PZXT"));
  Bytes tzx = text("ZXTape!\x1A");
  tzx.push_back(2); // a version vetrik does not read
  tzx.push_back(0);
  const std::vector<std::pair<Bytes, ViewRead>> cases = {
      {tzx, {{}, "unsupported TZX version 2.0"}},
      {text("PZXT\x01\x00"), {{}, "truncated block PZXT"}},
      // Only the first bytes count.
      {pzx_after_tap, {pzx_after_tap, ""}},
  };
  for (const auto& [image, expected] : cases) {
    EXPECT_EQ(read_view(image), expected);
  }
}

TEST(TapeView, EveryBytelessBlockIsSteppedOverBetweenAHeaderAndItsData) {
  const Bytes& tap = TWO_FILES_TAP;
  const auto tzx = [&](const Bytes& between) {
    return tzx_from_tap(tap, {TzxData::STANDARD}, between);
  };
  const auto pzx = [&](const Bytes& between) {
    return pzx_from_tap(tap, between);
  };
  for (const auto& [blocks, image_of] :
       {std::pair{tzx_byteless_blocks(),
                  std::function<Bytes(const Bytes&)>(tzx)},
        std::pair{pzx_byteless_blocks(),
                  std::function<Bytes(const Bytes&)>(pzx)}}) {
    Bytes all;
    for (const Bytes& block : blocks) {
      SCOPED_TRACE("block starting " + std::to_string(block[0]));
      EXPECT_EQ(read_view(image_of(block)), (ViewRead{tap, ""}));
      append(all, block);
    }
    for (std::int32_t step : {1, 5, 0x10000}) {
      EXPECT_EQ(read_view(image_of(all), step), (ViewRead{tap, ""})) << step;
    }
  }
}

TEST(TapeView, AReadThatComesUpShortEndsTheViewForGood) {
  const Bytes& tap = TWO_FILES_TAP;
  for (const Bytes& image :
       {tap, tzx_from_tap(tap, {TzxData::GENERALIZED, TzxData::TURBO}),
        pzx_from_tap(tap)}) {
    const Bytes whole = read_view(image).bytes;
    for (int failing = 1; failing <= 12; ++failing) {
      SCOPED_TRACE("format " + std::to_string(image[0]) + ", read " +
                   std::to_string(failing));
      FlakyInput input(image, failing);
      const std::unique_ptr<TapeView> view = open_tape_view(input);
      Bytes seen(whole.size() + 1);
      std::size_t at = 0;
      std::int32_t got = 0;
      do {
        got = view->read(seen.data() + at, 7);
        at += static_cast<std::size_t>(got);
      } while (got == 7 && at + 7 <= seen.size());
      EXPECT_LT(at, whole.size()); // a failed read always costs something
      EXPECT_TRUE(std::equal(seen.begin(), seen.begin() + at, whole.begin()));
      EXPECT_TRUE(view->at_end());
      EXPECT_EQ(view->read(seen.data(), 7), 0);
    }
  }
}

} // namespace
} // namespace vetrik::tape
