#include "bytes/image_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "tests/flaky_input.h"

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Peeks, then reads in steps: the bytes come once each, in order, whatever
// was peeked at; once the input comes up short, nothing more comes.
TEST(PeekableInput, PeekedBytesAreReadAgainAndAShortReadEndsIt) {
  Bytes image(100);
  std::iota(image.begin(), image.end(), std::uint8_t{0});
  const struct {
    std::vector<std::size_t> peeks;
    std::int32_t step;
    int failing; // the read of the image that fails, 0 for none
    std::size_t arrives;
  } cases[] = {
      {{}, 7, 0, 100},
      {{23}, 1, 0, 100},
      {{23, 5, 64}, 10, 0, 100},
      {{64, 64}, 100, 0, 100},
      // Each peek that needs more bytes reads once, then each step reads.
      {{1, 8}, 30, 2, 1},
      {{4}, 30, 2, 4},
      {{4}, 30, 3, 30},
  };
  for (const auto& c : cases) {
    FlakyInput flaky(image, c.failing);
    PeekableInput input(flaky);
    for (std::size_t n : c.peeks) {
      input.peek(n);
    }
    Bytes got(image.size() + 1);
    std::size_t at = 0;
    for (std::int32_t n = 0; (n = input.read(got.data() + at, c.step)) > 0;) {
      at += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(at, c.arrives) << "step " << c.step << ", failing " << c.failing;
    EXPECT_TRUE(std::equal(got.begin(),
                           got.begin() + static_cast<std::ptrdiff_t>(at),
                           image.begin()));
    EXPECT_EQ(input.read(got.data(), 1), 0);
  }
}

} // namespace
} // namespace vetrik
