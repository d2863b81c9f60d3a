// Holds the platform in use, so that tests can put a fake in its place.
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

} // namespace vetrik
