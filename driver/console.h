// Console output: every message of the tool goes through console_print.
#pragma once

#include <string_view>

namespace vetrik {

// Writes text to standard output as it is, adding no line terminator.
// A failed write is ignored.
void console_print(std::string_view text);

// Sends out whatever console text is still held back; the last call of a run.
void console_finish();

} // namespace vetrik
