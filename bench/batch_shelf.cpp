// Writes a shelf of TAP images for the batch benchmark (bench/batch.sh), a
// hundred to a folder:
//
//   vetrik_batch_shelf DIR small COUNT   each a header and a 1 KB data block
//   vetrik_batch_shelf DIR large COUNT   each 16 files of 65533 bytes, 1 MB
//
// DIR must not exist. Every image's payloads differ, so that no two images
// give the same files.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "tests/tape_builder.h"

namespace {

using vetrik::tape::Bytes;

constexpr std::size_t IMAGES_A_FOLDER = 100;
constexpr std::size_t SMALL_PAYLOAD = 1024;
constexpr std::size_t LARGE_FILES = 16;
constexpr std::size_t LARGE_PAYLOAD = 65533;

bool make_folder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool write_file(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr ||
      std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::fprintf(stderr, "%s: cannot write\n", path.c_str());
    return false;
  }
  return true;
}

Bytes small_image(std::size_t i) {
  char name[11];
  std::snprintf(name, sizeof name, "t%06zu", i);
  return vetrik::tape::tape_file(
      name, vetrik::tape::pattern(SMALL_PAYLOAD, static_cast<std::uint32_t>(i)),
      3);
}

Bytes large_image(std::size_t i) {
  Bytes image;
  for (std::size_t f = 0; f < LARGE_FILES; ++f) {
    char name[11];
    std::snprintf(name, sizeof name, "part%02zu", f);
    const auto seed = static_cast<std::uint32_t>(i * LARGE_FILES + f);
    vetrik::tape::append(
        image, vetrik::tape::tape_file(
                   name, vetrik::tape::pattern(LARGE_PAYLOAD, seed), 3));
  }
  return image;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string_view(argv[2]) != "small" &&
                    std::string_view(argv[2]) != "large")) {
    std::fprintf(stderr, "usage: vetrik_batch_shelf DIR small|large COUNT\n");
    return 2;
  }
  const std::string root = argv[1];
  const bool large = std::string_view(argv[2]) == "large";
  const std::size_t count = std::strtoull(argv[3], nullptr, 10);
  if (!make_folder(root)) {
    return 1;
  }
  for (std::size_t i = 0; i < count; ++i) {
    char folder[16], file[32];
    std::snprintf(folder, sizeof folder, "/shelf%03zu", i / IMAGES_A_FOLDER);
    std::snprintf(file, sizeof file, "/tape%06zu.tap", i);
    if (i % IMAGES_A_FOLDER == 0 && !make_folder(root + folder)) {
      return 1;
    }
    if (!write_file(root + folder + file,
                    large ? large_image(i) : small_image(i))) {
      return 1;
    }
  }
  return 0;
}
