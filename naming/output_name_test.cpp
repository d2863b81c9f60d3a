#include "naming/output_name.h"

#include <gtest/gtest.h>

#include <map>

#include "fileio/file_access.h"
#include "platform/faulty_platform.h"
#include "platform/memory_file_system.h"
#include "tests/free_name_text.h"
#include "tests/tape_builder.h"

namespace vetrik {
namespace {

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
  void SetUp() override {
    fs.install();
    file_system_init();
  }
  void TearDown() override { file_close_all(); }

  // Searches as a run does: the name found is created, and closed empty.
  FreeName search(const std::string& name, const char* extension = ".B",
                  NameHistory* history = nullptr) {
    const Claim claim = [](const std::string& file, OpenMode mode) {
      return file_create(1, file, mode);
    };
    const FreeName free = find_free_name(name, extension, claim, history);
    EXPECT_EQ(fs.open_handles(), free.status == NameStatus::CLAIMED ? 1U : 0U);
    file_close(1);
    return free;
  }

  // The base name claimed, "refused NAME" or "exhausted".
  std::string chosen(const std::string& name, const char* extension = ".B",
                     NameHistory* history = nullptr) {
    return free_name_text(search(name, extension, history));
  }

  MemoryFileSystem fs;
};

TEST_F(FindFreeName, PlainNameServesWhenMissingOrAnEmptyLeftover) {
  fs.files = {{"used.B", {1}}, {"numbered(1).B", {}}, {"fresh.B", {}}};
  for (const char* empty : {"empty.B", "foreign.B", "held.B", "numbered.B"}) {
    fs.add_leftover(empty);
  }
  fs.attributes["foreign.B"].owned_by_user = false; // someone else's
  fs.held_files = {"held.B"};                       // another run is writing it
  fs.specials = {"fifo.B"};
  fs.links["link.B"] = 0;
  fs.directories = {"dir.B"};
  const std::map<std::string, std::string> expected{
      {"missing", "missing"},   {"empty", "empty"},
      {"used", "used(1)"},      {"foreign", "foreign(1)"},
      {"held", "held(1)"},      {"fifo", "fifo(1)"},
      {"link", "link(1)"},      {"dir", "refused dir"},
      {"numbered", "numbered"}, {"fresh", "fresh(1)"},
  };
  for (const auto& [name, result] : expected) {
    EXPECT_EQ(chosen(name), result) << name;
  }
  EXPECT_EQ(chosen("used", ".C"), "used");
  // Reused files were only opened: nothing that held data was emptied.
  EXPECT_EQ(fs.files["used.B"], tape::Bytes{1});
}

TEST_F(FindFreeName, NumberedCandidateIsFreeOnlyWhenNothingIsThere) {
  for (const char* taken : {"a.B", "b.B", "c.B", "c(1).B", "d.B"}) {
    fs.files[taken] = {1};
  }
  fs.add_leftover("a(1).B");
  fs.directories.insert("b(1).B");
  fs.specials.insert("d(1).B");
  EXPECT_EQ(chosen("a"), "a(2)");
  EXPECT_EQ(chosen("b"), "refused b(1)");
  EXPECT_EQ(chosen("c"), "c(2)");
  EXPECT_EQ(chosen("d"), "d(2)");
}

TEST_F(FindFreeName, ANameMadeByAnotherSinceTheLookUpIsPassedOver) {
  fs.appearing["r.B"] = {1};
  fs.appearing["r(1).B"] = {2};
  EXPECT_EQ(chosen("r"), "r(2)");
  EXPECT_EQ(fs.files["r.B"], tape::Bytes{1});
  EXPECT_EQ(fs.files["r(1).B"], tape::Bytes{2});
  FaultyPlatform faults(fs);
  faults.install();
  faults.fail(CallKind::CREATE, 1);
  EXPECT_EQ(chosen("s"), "refused s");
}

TEST_F(FindFreeName, AnEmptyFileThisRunMadeIsNeverReused) {
  // The clock was set back: the run's own files look old enough to be
  // leftovers.
  fs.now = -AN_HOUR;
  NameHistory history;
  const auto made_empty = [&](const std::string& name) {
    const std::string base = chosen(name, ".B", &history);
    remember_empty_output(base + ".B", history);
    return base;
  };
  EXPECT_EQ(made_empty("e"), "e");
  EXPECT_EQ(made_empty("e"), "e(1)");
  // A tape name can be what the run made as a numbered name.
  EXPECT_EQ(chosen("e(1)", ".B", &history), "e(1)(1)");
  EXPECT_EQ(chosen("e"), "e") << "a run that did not make it reuses it";
  // A run that can no longer tell its files from others reuses none.
  fs.add_leftover("old.B");
  for (std::size_t i = 0; i < HISTORY_LIMIT; ++i) {
    history.left_empty.insert(std::to_string(i));
  }
  EXPECT_EQ(made_empty("new"), "new");
  EXPECT_EQ(chosen("old", ".B", &history), "old(1)");
}

TEST_F(FindFreeName, RememberedCountersKeepManyFilesOfOneNameLinear) {
  fs.files["n.B"] = {1};
  fs.files["n(3).B"] = {1}; // made by someone else
  NameHistory history;
  for (const char* expected : {"n(1)", "n(2)", "n(4)", "n(5)", "n(6)"}) {
    ASSERT_EQ(chosen("n", ".B", &history), expected);
  }
  fs.calls.clear();
  for (int i = 7; i <= 100; ++i) {
    ASSERT_EQ(chosen("n", ".B", &history), "n(" + std::to_string(i) + ")");
  }
  // The plain name, the last one made and the free one: 3 look-ups each.
  EXPECT_EQ(fs.calls_of(CallKind::FIND).size(), 3U * 94U);
}

TEST_F(FindFreeName, ANameLongUnusedIsSearchedFromTheStartAndStillRight) {
  NameHistory history;
  const auto finds_for = [&](const std::string& name) {
    fs.calls.clear();
    const std::string base = chosen(name, ".B", &history);
    return std::pair(base, fs.calls_of(CallKind::FIND).size());
  };
  fs.files["a.B"] = {1};
  for (int i = 1; i <= 5; ++i) {
    chosen("a", ".B", &history);
  }
  // Recently used: the plain name, the last one made and the free one.
  EXPECT_EQ(finds_for("a"), std::pair(std::string("a(6)"), std::size_t{3}));
  for (std::size_t i = 0; i < TAKEN_COUNTERS_LIMIT; ++i) {
    fs.files["x" + std::to_string(i) + ".B"] = {1};
    chosen("x" + std::to_string(i), ".B", &history);
  }
  // Forgotten: every numbered name again, and the same choice.
  EXPECT_EQ(finds_for("a"), std::pair(std::string("a(7)"), std::size_t{8}));
  EXPECT_EQ(finds_for("a"), std::pair(std::string("a(8)"), std::size_t{3}));
}

TEST_F(FindFreeName, RememberedCounterNearTheEndWrapsThroughNegatives) {
  fs.files["w.B"] = {1};
  NameHistory history;
  history.taken.at("w.B") = 2147483646;
  EXPECT_EQ(chosen("w", ".B", &history), "w(2147483647)");
  EXPECT_EQ(chosen("w", ".B", &history), "w(-2147483648)");
  history.taken.at("w.B") = -1;
  EXPECT_EQ(chosen("w", ".B", &history), "exhausted");
}

} // namespace
} // namespace vetrik
