// The sample tape bundled with the tool, as the tape builder makes it.
#pragma once

#include "tests/tape_builder.h"

namespace vetrik::tape {

// Four stored files: a BASIC program, a screen of code, a number array whose
// name holds a slash and a colon, and a second program of the first's name.
Bytes sample_tape();

} // namespace vetrik::tape
