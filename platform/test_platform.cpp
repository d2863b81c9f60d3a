// Putting a platform for tests in the system's place.
#include "platform/test_platform.h"

namespace vetrik {

TestPlatform::~TestPlatform() {
  if (installed_) {
    set_platform(system_platform());
  }
}

void TestPlatform::install() {
  set_platform(*this);
  installed_ = true;
}

} // namespace vetrik
