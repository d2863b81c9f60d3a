// Holds the platform in use, so that tests can put a fake in its place, and
// what every platform does alike.
#include "platform/platform.h"

namespace vetrik {

namespace {
Platform* current = nullptr;
}

Platform& platform() {
  if (current == nullptr) {
    current = &system_platform();
  }
  return *current;
}

void set_platform(Platform& p) {
  current = &p;
}

Opened Platform::create_file(const std::string& path, OpenMode mode) {
  switch (mode) {
  case OpenMode::CREATE_NEW:
    return create_new(path);
  case OpenMode::REUSE_EMPTY:
    return reuse_empty(path);
  case OpenMode::READ_EXISTING:
    break;
  }
  return open_existing(path);
}

std::string_view Platform::without_final_separators(std::string_view path,
                                                    char separator) {
  while (!path.empty() && path.back() == separator) {
    path.remove_suffix(1);
  }
  return path;
}

} // namespace vetrik
