// The single route from the tool to the console.
#include "driver/console.h"

#include "platform/platform.h"

namespace vetrik {

void console_print(std::string_view text) {
  // The platform remembers a failure until the end of the run.
  platform().console_write(text);
}

bool console_finish() {
  return platform().console_flush();
}

InterruptsDeferred::InterruptsDeferred() {
  platform().defer_interrupts();
}

InterruptsDeferred::~InterruptsDeferred() {
  platform().allow_interrupts();
}

} // namespace vetrik
