// Command-line tokens, taken either from one text or from main's arguments.
#include "driver/command_line.h"

#include "platform/platform.h"

namespace vetrik {

namespace {
std::vector<std::string> tokens;
}

std::vector<std::string> split_command_line(std::string_view text) {
  std::vector<std::string> result;
  std::size_t i = 0;
  while (true) {
    while (i < text.size() && text[i] == ' ') {
      ++i;
    }
    if (i >= text.size()) {
      return result;
    }
    if (text[i] == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) {
        result.emplace_back(text.substr(i + 1));
        return result;
      }
      result.emplace_back(text.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      const std::size_t space = text.find(' ', i);
      result.emplace_back(text.substr(i, space - i));
      if (space == std::string_view::npos) {
        return result;
      }
      i = space;
    }
  }
}

void command_line_set(std::vector<std::string> new_tokens) {
  tokens = std::move(new_tokens);
}

void command_line_from_arguments(int argc, const char* const* argv) {
  std::vector<std::string> list;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    list.emplace_back(argv[i]);
  }
  command_line_set(std::move(list));
}

void command_line_from_system(int argc, const char* const* argv) {
  if (std::optional<std::string> text = system_command_line()) {
    command_line_set(split_command_line(*text));
  } else {
    command_line_from_arguments(argc, argv);
  }
}

std::int32_t parameter_count() {
  return static_cast<std::int32_t>(tokens.size()) - 1;
}

std::string parameter_text(std::int32_t index) {
  if (index < 0 || index >= parameter_count()) {
    return {};
  }
  return tokens[static_cast<std::size_t>(index) + 1];
}

} // namespace vetrik
