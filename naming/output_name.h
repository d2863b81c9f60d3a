// Output file names: a tape header's name bytes and type made into a safe
// name in the current directory that clobbers no file holding data.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vetrik {

// Characters that never reach a file name, each replaced by REPLACEMENT.
inline constexpr std::string_view FORBIDDEN_CHARACTERS = ":/?*<>|\\\"";
inline constexpr std::string_view REPLACEMENT = "_";

// The text one name byte adds to a rendered name: the character itself for
// 32 to 127, else its decimal value in parentheses ("(0)", "(200)").
std::string render_name_byte(std::uint8_t byte);

// name with every forbidden character replaced by an underscore.
std::string make_safe_name(std::string_view name);

// ".B" for type 0, ".C" for type 3, else "." and the type in decimal.
std::string extension_for_type(std::uint8_t type);

struct FreeName {
  bool found = false;    // false: every counter value was taken
  std::string base_name; // name, or name followed by "(counter)"
};

// For each name and extension, the highest counter whose numbered name a
// search found taken. Kept by the caller for a whole run.
using TakenCounters =
    std::map<std::pair<std::string, std::string>, std::int32_t>;

// Chooses the base name for name + extension. The plain name is used unless
// it is a file of at least one byte; otherwise the first of "name(1)",
// "name(2)" ... (counting on through the negative numbers up to -1) for which
// nothing but a directory exists. found is false when every counter is taken.
//
// With taken, the numbered search starts just past the highest counter an
// earlier search of the run found taken, so that n files of one name cost
// O(n) look-ups in all instead of O(n^2). The plain name is still looked at
// first and every name returned is still confirmed free, so the result is
// the same as without taken, unless another process deletes numbered files
// during the run: a later free number is then chosen. Nothing is ever
// overwritten either way.
FreeName find_free_name(const std::string& name, const std::string& extension,
                        TakenCounters* taken = nullptr);

} // namespace vetrik
