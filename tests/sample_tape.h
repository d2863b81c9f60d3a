// The sample tape bundled with the tool, as the tape builder makes it.
#pragma once

#include "tests/tape_builder.h"

namespace vetrik::tape {

// Four stored files: a BASIC program, a screen of code, a number array whose
// name holds a slash and a colon, and a second program of the first's name.
Bytes sample_tape();

// The same four files as a TZX image: each pair in another kind of data
// block, with a description, archive information, pauses and groups around
// them, as a tape transferred from cassette carries them.
Bytes sample_tzx();

} // namespace vetrik::tape
