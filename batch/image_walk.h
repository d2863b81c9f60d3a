// Finding the images a batch extracts, and the folder each one's files go
// into.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/batch_platform.h"

namespace vetrik {

struct ImageJob {
  std::string path;   // as given, or found under a folder given
  std::string folder; // under the output root: its path under the folder
                      // given, or its name when given itself
  std::uint64_t size = 0;
};

struct FoundImages {
  std::vector<ImageJob> images;    // in the order given, each folder sorted
  std::vector<std::string> errors; // "PATH: reason", one a path not read
};

// Whether name ends in .tap, .tzx, .pzx, .wav or .csw, in any case.
bool has_image_name(std::string_view name);

// The images under paths: each path that is a file (or anything but a
// folder) is an image; each folder is walked for files with image names,
// never following a link and never into output_root. Two images that would
// share a folder get " (2)", " (3)"... after the later one's.
FoundImages find_images(BatchPlatform& platform,
                        const std::vector<std::string>& paths,
                        const std::string& output_root);

// parent and name joined by one "/".
std::string join_path(std::string_view parent, std::string_view name);

} // namespace vetrik
