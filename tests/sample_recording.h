// The sample tape as a recording, bundled with the tool.
#pragma once

#include "tests/tape_builder.h"

namespace vetrik::tape {

// The sample tape's four files as the ROM saves them, recorded as a CSW
// image (version 2, Z-RLE) at 44.1 kHz.
Bytes sample_csw();

} // namespace vetrik::tape
