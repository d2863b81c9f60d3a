// Rendering, safe names, extensions and the search for a free name.
#include "naming/output_name.h"

#include "fileio/file_access.h"

namespace vetrik {

namespace {

inline constexpr std::uint8_t TYPE_PROGRAM = 0;
inline constexpr std::uint8_t TYPE_CODE = 3;

// text followed by value in decimal between parentheses.
std::string numbered(std::string text, std::int32_t value) {
  text += '(';
  text += std::to_string(value);
  text += ')';
  return text;
}

// The counter after counter: past the largest value it goes on from the
// smallest, without overflow, and reaches 0 after -1.
std::int32_t next(std::int32_t counter) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1U);
}

} // namespace

std::string render_name_byte(std::uint8_t byte) {
  if (byte >= 32 && byte <= 127) {
    return std::string(1, static_cast<char>(byte));
  }
  return numbered({}, byte);
}

std::string make_safe_name(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    if (FORBIDDEN_CHARACTERS.find(c) != std::string_view::npos) {
      c = REPLACEMENT[0];
    }
  }
  return safe;
}

std::string extension_for_type(std::uint8_t type) {
  switch (type) {
  case TYPE_PROGRAM:
    return ".B";
  case TYPE_CODE:
    return ".C";
  default:
    std::string extension = ".";
    extension += std::to_string(type);
    return extension;
  }
}

FreeName find_free_name(const std::string& name, const std::string& extension,
                        TakenCounters* taken) {
  // An empty file of the plain name holds nothing to lose, so it is reused;
  // a directory is "free" too, and its create fails later for all to see.
  if (path_size(name + extension) <= 0) {
    return {true, name};
  }
  std::int32_t* last_taken =
      taken != nullptr ? &(*taken)[{name, extension}] : nullptr;
  std::int32_t counter =
      last_taken != nullptr && *last_taken != 0 ? next(*last_taken) : 1;
  while (counter != 0) {
    if (path_size(numbered(name, counter) + extension) < 0) {
      return {true, numbered(name, counter)};
    }
    if (last_taken != nullptr) {
      *last_taken = counter;
    }
    counter = next(counter);
  }
  return {false, name};
}

} // namespace vetrik
