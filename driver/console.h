// Console output: every message of the tool goes through console_print.
#pragma once

#include <string_view>

namespace vetrik {

// Writes text to standard output as it is, adding no line terminator.
// A failed write does not stop the run; console_finish tells of it.
void console_print(std::string_view text);

// Sends out whatever console text is still held back; the last call of a run.
// Returns false when any console text of the run could not be written.
bool console_finish();

// While one lives, a request to end the process (an interrupt, a termination,
// a hang-up) waits, so that what is done in between and its report are never
// parted. When the request is carried out, the console text held back is
// written out first.
class InterruptsDeferred {
public:
  InterruptsDeferred();
  ~InterruptsDeferred();
  InterruptsDeferred(const InterruptsDeferred&) = delete;
  InterruptsDeferred& operator=(const InterruptsDeferred&) = delete;
};

} // namespace vetrik
