#include "naming/output_name.h"

#include <gtest/gtest.h>

#include "platform/fake_platform.h"

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

TEST(MakeSafeName, ReplacesEachForbiddenCharacterAndKeepsTheRest) {
  EXPECT_EQ(make_safe_name("a:b/c?d*e<f>g|h\\i\"j(1) k::"),
            "a_b_c_d_e_f_g_h_i_j(1) k__");
}

TEST(ExtensionForType, ProgramAndCodeHaveLettersOthersTheirNumber) {
  EXPECT_EQ(extension_for_type(0), ".B");
  EXPECT_EQ(extension_for_type(3), ".C");
  EXPECT_EQ(extension_for_type(1), ".1");
  EXPECT_EQ(extension_for_type(2), ".2");
  EXPECT_EQ(extension_for_type(255), ".255");
}

class FindFreeName : public ::testing::Test {
protected:
  void SetUp() override { fake.install(); }

  std::string chosen(const std::string& name, const char* extension = ".B") {
    const FreeName free = find_free_name(name, extension);
    EXPECT_TRUE(free.found) << name;
    return free.base_name;
  }

  std::string chosen_with(TakenCounters& taken) {
    return find_free_name("w", ".B", &taken).base_name;
  }

  FakePlatform fake;
};

TEST_F(FindFreeName, PlainNameServesUnlessAFileOfItsExtensionHoldsData) {
  fake.files["empty.B"] = {};
  fake.directories.insert("dir.B");
  fake.files["used.B"] = {1};
  EXPECT_EQ(chosen("missing"), "missing");
  EXPECT_EQ(chosen("empty"), "empty");
  EXPECT_EQ(chosen("dir"), "dir");
  EXPECT_EQ(chosen("used"), "used(1)");
  EXPECT_EQ(chosen("used", ".C"), "used");
}

TEST_F(FindFreeName, NumberedCandidateIsFreeOnlyWhenMissingOrADirectory) {
  for (const char* taken : {"a.B", "b.B", "c.B", "c(1).B"}) {
    fake.files[taken] = {1};
  }
  fake.files["a(1).B"] = {};
  fake.directories.insert("b(1).B");
  EXPECT_EQ(chosen("a"), "a(2)");
  EXPECT_EQ(chosen("b"), "b(1)");
  EXPECT_EQ(chosen("c"), "c(2)");
}

TEST_F(FindFreeName, SymbolicLinksAreTakenEvenWithAnEmptyTarget) {
  fake.links["link.B"] = 0;
  fake.files["n.B"] = {1};
  fake.links["n(1).B"] = 0;
  EXPECT_EQ(chosen("link"), "link(1)");
  EXPECT_EQ(chosen("n"), "n(2)");
}

TEST_F(FindFreeName, RememberedCountersKeepManyFilesOfOneNameLinear) {
  fake.files["n.B"] = {1};
  fake.files["n(3).B"] = {1}; // made by someone else
  TakenCounters taken;
  for (const char* expected : {"n(1)", "n(2)", "n(4)", "n(5)", "n(6)"}) {
    const FreeName free = find_free_name("n", ".B", &taken);
    ASSERT_EQ(free.base_name, expected);
    fake.files[free.base_name + ".B"] = {1};
  }
  fake.calls.clear();
  for (int i = 7; i <= 100; ++i) {
    const FreeName free = find_free_name("n", ".B", &taken);
    ASSERT_EQ(free.base_name, "n(" + std::to_string(i) + ")");
    fake.files[free.base_name + ".B"] = {1};
  }
  // The plain name, the last one made and the free one: 3 look-ups each.
  EXPECT_EQ(fake.calls_of(CallKind::FIND).size(), 3U * 94U);
}

TEST_F(FindFreeName, RememberedCounterNearTheEndWrapsThroughNegatives) {
  fake.files["w.B"] = {1};
  TakenCounters taken{{{"w", ".B"}, 2147483646}};
  EXPECT_EQ(chosen_with(taken), "w(2147483647)");
  fake.files["w(2147483647).B"] = {1};
  EXPECT_EQ(chosen_with(taken), "w(-2147483648)");
  taken[{"w", ".B"}] = -1;
  EXPECT_FALSE(find_free_name("w", ".B", &taken).found);
}

} // namespace
} // namespace vetrik
