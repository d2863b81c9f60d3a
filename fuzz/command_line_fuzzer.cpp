// Fuzzes the command-line splitter: every token must be text that stands
// where the splitting rules put it, nothing may be left over, and the
// parameters must report exactly the tokens after the first.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "driver/command_line.h"

namespace vetrik {
namespace {

// Walks text along tokens; returns "" when the tokens are what the rules
// give, else what went wrong.
const char* split_violation(std::string_view text,
                            const std::vector<std::string>& tokens) {
  std::size_t at = 0;
  const auto skip_spaces = [&] {
    while (at < text.size() && text[at] == ' ') {
      ++at;
    }
  };
  for (const std::string& token : tokens) {
    skip_spaces();
    if (at >= text.size()) {
      return "a token past the end of the text";
    }
    const bool quoted = text[at] == '"';
    at += quoted ? 1 : 0;
    if (text.substr(at, token.size()) != token) {
      return "a token that is not the text where it stands";
    }
    at += token.size();
    if (quoted) {
      // Runs to the next quote, or to the end when there is none.
      if (token.find('"') != std::string::npos) {
        return "a quoted token holding a quote";
      }
      if (at < text.size()) {
        if (text[at] != '"') {
          return "a quoted token that stops before its closing quote";
        }
        at += 1;
      }
    } else if (token.empty() || token.find(' ') != std::string::npos ||
               (at < text.size() && text[at] != ' ')) {
      return "an unquoted token that is empty, holds a space or stops early";
    }
  }
  skip_spaces();
  return at == text.size() ? "" : "text left after the last token";
}

} // namespace
} // namespace vetrik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace vetrik;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> tokens = split_command_line(text);
  const char* violation = split_violation(text, tokens);
  if (*violation == '\0') {
    command_line_set(tokens);
    const auto count = static_cast<std::int32_t>(tokens.size()) - 1;
    bool same = parameter_count() == count && parameter_text(count).empty() &&
                parameter_text(-1).empty();
    for (std::int32_t i = 0; i < count && same; ++i) {
      same = parameter_text(i) == tokens[static_cast<std::size_t>(i) + 1];
    }
    violation =
        same ? "" : "parameters that are not the tokens after the first";
  }
  if (*violation != '\0') {
    std::fprintf(stderr, "%s\n", violation);
    std::abort();
  }
  return 0;
}
