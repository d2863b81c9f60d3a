// What the two platforms for tests share: the kinds of call they log and
// fail, and taking the system's place for as long as they live.
#pragma once

#include "platform/platform.h"

namespace vetrik {

enum class CallKind {
  CREATE, // any of the ways of create_file
  READ,
  WRITE,
  SEEK,
  CLOSE,
  FIND,
  CONSOLE, // console_write
  ALLOCATE
};

class TestPlatform : public Platform {
public:
  ~TestPlatform() override;

  // Installs this platform as the one in use, and the system's again when it
  // is destroyed.
  void install();

private:
  bool installed_ = false;
};

} // namespace vetrik
