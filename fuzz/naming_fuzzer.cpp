// Fuzzes output naming: rendering and safe names never let a forbidden
// character through, and the search for a free name, with what a run
// remembers, picks the first free name, never one that is taken, whatever
// the directory holds and whatever appears in it meanwhile.
//
// Input: 10 name bytes, a type byte, then pairs of (operation, counter) that
// add entries to the directory or search for a name and create it.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

#include "fileio/file_access.h"
#include "naming/output_name.h"
#include "platform/memory_file_system.h"
#include "tests/free_name_text.h"

namespace vetrik {
namespace {

constexpr std::string_view FORBIDDEN = ":/?*<>|\\\"";
// The model looks at every numbered name before the free one, so a run costs
// the square of its operations.
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

// The directory a run writes into, and the rules of a free name, written
// out on their own so that a fault in the search shows as a disagreement.
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

  // Whether anything is at path, or will appear there when it is created.
  bool exists(const std::string& path) const {
    return fs.files.count(path) + fs.directories.count(path) +
               fs.links.count(path) + fs.specials.count(path) +
               fs.appearing.count(path) !=
           0;
  }

  // The plain name is free when nothing is there, or an empty file that none
  // of the reasons of add_empty keeps from being a leftover, and that this
  // run did not make.
  bool plain_free() const {
    const std::string p = path(0);
    const auto file = fs.files.find(p);
    return !exists(p) || (file != fs.files.end() && file->second.empty() &&
                          no_leftover_.count(p) == 0 && made_.count(p) == 0);
  }

  // Puts at path an empty file that changed long before the run, which
  // reason keeps from being a leftover: 0 none, 1 another's, 2 a second
  // link, 3 a set-user-ID bit, 4 a set-group-ID bit, 5 a change as the run
  // began.
  void add_empty(const std::string& path, int reason) {
    fs.add_leftover(path);
    FileAttributes& about = fs.attributes[path];
    about.owned_by_user = reason != 1;
    about.links = reason == 2 ? 2 : 1;
    about.set_user_id = reason == 3;
    about.set_group_id = reason == 4;
    about.changed_at = reason == 5 ? 0 : about.changed_at;
    if (reason != 0) {
      no_leftover_.insert(path);
    }
  }

  // What a search should give: the base name claimed, or "refused NAME".
  // Names that appear when claimed are taken, as the search finds them.
  std::string expected() {
    if (fs.directories.count(path(0)) != 0) {
      return "refused " + name_;
    }
    if (plain_free()) {
      return name_;
    }
    for (int counter = 1; counter <= 1024; ++counter) {
      const std::string p = path(counter);
      const std::string base = p.substr(0, p.size() - extension_.size());
      if (fs.directories.count(p) != 0) {
        return "refused " + base;
      }
      if (!exists(p)) {
        return base;
      }
    }
    return "exhausted";
  }

  // Notes that the run made the file at path and left it empty.
  void left_empty(const std::string& path) { made_.insert(path); }

  MemoryFileSystem fs;

private:
  std::string name_;
  std::string extension_;
  std::set<std::string> made_;        // files this run made and left empty
  std::set<std::string> no_leftover_; // empty files add_empty kept from it
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
  directory.fs.install();
  MemoryFileSystem& fs = directory.fs;
  // The clock was set back: the files the run makes look old enough to be
  // leftovers, and only what the run remembers keeps them.
  fs.now = -AN_HOUR;
  file_system_init();
  NameHistory history;
  const Claim claim = [](const std::string& file, OpenMode mode) {
    return file_create(1, file, mode);
  };
  for (std::size_t i = 11, done = 0; i + 1 < size && done < MAX_OPERATIONS;
       i += 2, ++done) {
    const int counter = data[i + 1] % 64;
    const std::string path = directory.path(counter);
    // Entries are only ever added, as during a run.
    const bool free = !directory.exists(path);
    switch (data[i] % 8) {
    case 0:
      if (free) {
        fs.files[path] = {1};
      }
      break;
    case 1:
      if (free) {
        directory.add_empty(path, 0);
      }
      break;
    case 2:
      if (free) {
        fs.directories.insert(path);
      }
      break;
    case 3:
      if (free) {
        fs.links[path] = 0;
      }
      break;
    case 4:
      if (free) {
        fs.specials.insert(path);
      }
      break;
    case 5:
      // The operation's higher bits pick the reason.
      if (free) {
        directory.add_empty(path, 1 + data[i] / 8 % 5);
      }
      break;
    case 6:
      if (free) {
        fs.appearing[path] = {2};
      }
      break;
    default: {
      const std::string expected = directory.expected();
      const FreeName chosen = find_free_name(safe, extension, claim, &history);
      if (free_name_text(chosen) != expected) {
        return "the name chosen is taken or not the first free one";
      }
      // The file made holds a payload or stays empty, as the run notes.
      if (chosen.status == NameStatus::CLAIMED) {
        const std::string output = chosen.base_name + extension;
        if (counter % 2 == 1) {
          file_write_byte(1, 1);
        } else {
          remember_empty_output(output, history);
          directory.left_empty(output);
        }
      }
      file_close(1);
    }
    }
  }
  file_close_all();
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
