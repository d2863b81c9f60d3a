#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace vetrik {
namespace {

using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, OnlyRunsOfSpacesSeparate) {
  EXPECT_EQ(split_command_line("  vetrik   a.tap  b "),
            (Tokens{"vetrik", "a.tap", "b"}));
  EXPECT_EQ(split_command_line("p\ta.tap"), (Tokens{"p\ta.tap"}));
  EXPECT_TRUE(split_command_line("").empty());
  EXPECT_TRUE(split_command_line("    ").empty());
}

TEST(SplitCommandLine, QuotedTokenRunsToTheNextQuoteOrTheEnd) {
  EXPECT_EQ(split_command_line("p \"my tape.tap\" x"),
            (Tokens{"p", "my tape.tap", "x"}));
  EXPECT_EQ(split_command_line("p \"a b\"c"), (Tokens{"p", "a b", "c"}));
  EXPECT_EQ(split_command_line("p \"\""), (Tokens{"p", ""}));
  EXPECT_EQ(split_command_line("p \"a  b "), (Tokens{"p", "a  b "}));
}

TEST(SplitCommandLine, QuoteInsideAnUnquotedTokenIsOrdinary) {
  EXPECT_EQ(split_command_line("p a\"b c\""), (Tokens{"p", "a\"b", "c\""}));
}

TEST(Parameters, CountAndIndexLeaveOutTheProgramName) {
  command_line_set({});
  EXPECT_EQ(parameter_count(), -1);
  command_line_set({"prog"});
  EXPECT_EQ(parameter_count(), 0);
  command_line_set({"prog", "a", "b"});
  EXPECT_EQ(parameter_count(), 2);
  EXPECT_EQ(parameter_text(0), "a");
  EXPECT_EQ(parameter_text(1), "b");
}

TEST(Parameters, TextOutOfRangeIsEmpty) {
  command_line_set({"prog", "a"});
  EXPECT_EQ(parameter_text(1), "");
  EXPECT_EQ(parameter_text(-1), "");
  command_line_set({});
  EXPECT_EQ(parameter_text(0), "");
}

} // namespace
} // namespace vetrik
