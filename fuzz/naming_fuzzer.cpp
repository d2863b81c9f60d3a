// Fuzzes output naming: rendering and safe names never let a forbidden
// character through, and the search for a free name, with and without the
// counters a run remembers, picks the same name, never one that is taken,
// and always the first free one.
//
// Input: 10 name bytes, a type byte, then pairs of (operation, counter) that
// add entries to the directory or search for a name and create it.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "naming/output_name.h"
#include "platform/fake_platform.h"

namespace vetrik {
namespace {

constexpr std::string_view FORBIDDEN = ":/?*<>|\\\"";
// Each search without remembered counters looks at every numbered name
// before the free one, so a run costs the square of its operations.
constexpr std::size_t MAX_OPERATIONS = 32;

// Checks one rendered name byte: itself for 32 to 127, else "(value)".
bool rendered_right(std::uint8_t byte, const std::string& text) {
  if (byte >= 32 && byte <= 127) {
    return text.size() == 1 && static_cast<std::uint8_t>(text[0]) == byte;
  }
  return text == "(" + std::to_string(byte) + ")";
}

bool safe_right(const std::string& name, const std::string& safe) {
  if (safe.size() != name.size() ||
      safe.find_first_of(FORBIDDEN) != std::string::npos) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool forbidden = FORBIDDEN.find(name[i]) != std::string_view::npos;
    if (safe[i] != (forbidden ? '_' : name[i])) {
      return false;
    }
  }
  return true;
}

class Entries {
public:
  Entries(std::string name, std::string extension)
      : name_(std::move(name)), extension_(std::move(extension)) {}

  // The path of the plain name (counter 0) or of a numbered one.
  std::string path(int counter) const {
    std::string path = name_;
    if (counter != 0) {
      path += '(';
      path += std::to_string(counter);
      path += ')';
    }
    path += extension_;
    return path;
  }

  bool exists(const std::string& path) const {
    return fake.files.count(path) + fake.directories.count(path) +
               fake.links.count(path) !=
           0;
  }

  // Taken as the plain name: a file holding data, or a link.
  bool plain_taken() const {
    const auto file = fake.files.find(path(0));
    return fake.links.count(path(0)) != 0 ||
           (fake.directories.count(path(0)) == 0 && file != fake.files.end() &&
            !file->second.empty());
  }

  // Taken as a numbered name: anything but a directory.
  bool numbered_taken(int counter) const {
    const std::string p = path(counter);
    return fake.directories.count(p) == 0 && exists(p);
  }

  // Whether base is the first free name, as the rules define it.
  bool first_free(const std::string& base) const {
    if (base == name_) {
      return !plain_taken();
    }
    if (!plain_taken()) {
      return false;
    }
    for (int counter = 1; counter <= 1024; ++counter) {
      if (!numbered_taken(counter)) {
        return base == name_ + "(" + std::to_string(counter) + ")";
      }
    }
    return false;
  }

  FakePlatform fake;

private:
  std::string name_;
  std::string extension_;
};

const char* naming_violation(const std::uint8_t* data, std::size_t size) {
  std::string name;
  for (std::size_t i = 0; i < 10 && i < size; ++i) {
    const std::string text = render_name_byte(data[i]);
    if (!rendered_right(data[i], text)) {
      return "a name byte rendered wrongly";
    }
    name += text;
  }
  const std::string safe = make_safe_name(name);
  if (!safe_right(name, safe)) {
    return "a safe name that is not the name with forbidden characters as _";
  }
  const std::uint8_t type = size > 10 ? data[10] : 0;
  const std::string extension = extension_for_type(type);
  if (extension != (type == 0   ? ".B"
                    : type == 3 ? ".C"
                                : "." + std::to_string(type))) {
    return "a wrong extension";
  }

  Entries directory(safe, extension);
  directory.fake.install();
  FakePlatform& fake = directory.fake;
  TakenCounters taken;
  for (std::size_t i = 11, done = 0; i + 1 < size && done < MAX_OPERATIONS;
       i += 2, ++done) {
    const int counter = data[i + 1];
    const std::string path = directory.path(counter);
    const bool free = !directory.exists(path);
    switch (data[i] % 6) {
    case 0: // entries are only ever added, as during a run
      if (free) {
        fake.files[path] = {1};
      }
      break;
    case 1:
      if (free) {
        fake.files[path] = {};
      }
      break;
    case 2:
      if (free) {
        fake.directories.insert(path);
      }
      break;
    case 3:
      if (free) {
        fake.links[path] = 0;
      }
      break;
    default: {
      const FreeName remembered = find_free_name(safe, extension, &taken);
      const FreeName fresh = find_free_name(safe, extension);
      if (!remembered.found || !fresh.found ||
          remembered.base_name != fresh.base_name) {
        return "remembered counters changed the name chosen";
      }
      if (!directory.first_free(fresh.base_name)) {
        return "the name chosen is taken or not the first free one";
      }
      // Create the file the way a run would, with or without a payload.
      const std::string output = fresh.base_name + extension;
      if (data[i] % 6 == 4 && fake.directories.count(output) == 0 &&
          fake.links.count(output) == 0) {
        fake.files[output] = std::vector<std::uint8_t>(counter % 2, 1);
      }
    }
    }
  }
  return "";
}

} // namespace
} // namespace vetrik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const char* violation = vetrik::naming_violation(data, size);
  if (*violation != '\0') {
    std::fprintf(stderr, "%s\n", violation);
    std::abort();
  }
  return 0;
}
