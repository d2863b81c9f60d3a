// The folder walk.
#include "batch/image_walk.h"

#include <algorithm>
#include <array>
#include <set>

namespace vetrik {

namespace {

constexpr std::array<std::string_view, 5> IMAGE_ENDINGS = {
    ".tap", ".tzx", ".pzx", ".wav", ".csw"};

// The last part of path, without the separators after it.
std::string last_part(std::string_view path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
    path.remove_suffix(1);
  }
  const std::size_t slash = path.find_last_of("/\\");
  std::string_view name =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  // A drive or the root alone names no folder of its own.
  if (name.empty() || name == "." || name == ".." || name.back() == ':') {
    return "image";
  }
  return std::string(name);
}

struct Walk {
  BatchPlatform& platform;
  FileIdentity output;
  bool has_output = false;
  FoundImages found;

  void folder(const std::string& path, const std::string& under) {
    std::vector<BatchEntry> entries;
    std::string error;
    if (!platform.list_folder(path, entries, error)) {
      found.errors.push_back(path + ": " + error);
      return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const BatchEntry& a, const BatchEntry& b) {
                return a.name < b.name;
              });
    for (const BatchEntry& entry : entries) {
      const std::string child = join_path(path, entry.name);
      const std::string child_under =
          under.empty() ? entry.name : join_path(under, entry.name);
      if (entry.kind == BatchEntryKind::FOLDER) {
        FileIdentity id;
        if (has_output && platform.identity(child, id) && id == output) {
          continue; // the batch's own output
        }
        folder(child, child_under);
      } else if (entry.kind == BatchEntryKind::FILE &&
                 has_image_name(entry.name)) {
        found.images.push_back({child, child_under, entry.size});
      }
    }
  }
};

} // namespace

bool has_image_name(std::string_view name) {
  if (name.size() < 4) {
    return false;
  }
  std::string ending(name.substr(name.size() - 4));
  for (char& c : ending) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return std::find(IMAGE_ENDINGS.begin(), IMAGE_ENDINGS.end(), ending) !=
         IMAGE_ENDINGS.end();
}

std::string join_path(std::string_view parent, std::string_view name) {
  std::string path(parent);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') {
    path += '/';
  }
  path += name;
  return path;
}

FoundImages find_images(BatchPlatform& platform,
                        const std::vector<std::string>& paths,
                        const std::string& output_root) {
  Walk walk{platform, {}, false, {}};
  walk.has_output = platform.identity(output_root, walk.output);
  for (const std::string& path : paths) {
    const BatchEntry entry = platform.look(path, true);
    if (entry.kind == BatchEntryKind::MISSING) {
      walk.found.errors.push_back(path + ": no such file or folder");
    } else if (entry.kind == BatchEntryKind::FOLDER) {
      walk.folder(path, "");
    } else {
      walk.found.images.push_back({path, last_part(path), entry.size});
    }
  }
  // One folder an image.
  std::set<std::string> taken;
  for (ImageJob& image : walk.found.images) {
    std::string folder = image.folder;
    for (int n = 2; !taken.insert(folder).second; ++n) {
      folder = image.folder + " (" + std::to_string(n) + ")";
    }
    image.folder = folder;
  }
  return walk.found;
}

} // namespace vetrik
