#include "bytes/name_byte.h"

#include <gtest/gtest.h>

namespace vetrik {
namespace {

TEST(RenderNameByte, Bytes32To127AreThemselvesOthersTheirDecimalValue) {
  EXPECT_EQ(render_name_byte(32), " ");
  EXPECT_EQ(render_name_byte(127), "\x7f");
  EXPECT_EQ(render_name_byte(0), "(0)");
  EXPECT_EQ(render_name_byte(31), "(31)");
  EXPECT_EQ(render_name_byte(128), "(128)");
  EXPECT_EQ(render_name_byte(200), "(200)");
}

} // namespace
} // namespace vetrik
