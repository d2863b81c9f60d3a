// The tool's parameters: the tokens of its command line after the program name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vetrik {

// Splits one command-line text into tokens, the program name first. Only
// the space separates, and a run of spaces counts as one. A token that
// begins with a double quote runs to the next double quote (or to the end of
// the text when there is none), without the quotes, and the next token
// begins right after it; in any other token a double quote is an ordinary
// character. Nothing is trimmed or unescaped.
std::vector<std::string> split_command_line(std::string_view text);

// Sets the tokens that parameter_count and parameter_text report; the first
// is the program name.
void command_line_set(std::vector<std::string> tokens);

// Takes the tokens from the arguments the system handed to main.
void command_line_from_arguments(int argc, const char* const* argv);

// Takes the tokens from the system's command line text where the system keeps
// one (split by split_command_line), otherwise from main's arguments.
void command_line_from_system(int argc, const char* const* argv);

// The number of tokens less one: -1 when there is not even a program name.
std::int32_t parameter_count();

// Parameter index (0 is the first after the program name), or empty text
// when there is none.
std::string parameter_text(std::int32_t index);

} // namespace vetrik
