// The TAP view of a TZX or PZX image worked out on its own, from the whole
// image in memory, for the fuzzer to check the tape layer against: a second
// reading of the same rules, sharing no code with the readers. Recordings
// inside are decoded by the signal layer, which is tested on its own.
#pragma once

#include <string>

#include "tests/tape_builder.h"

namespace vetrik::tape {

struct ReferenceView {
  Bytes tap;           // the data blocks, each behind its 16-bit length
  std::string problem; // the message for the bad block it ended at, or ""
};

// Whether image starts with the signature of a format other than TAP: TZX,
// PZX, or a recording.
bool has_signature(const Bytes& image);

// The view of image: TZX or PZX by its first bytes, else the image itself.
ReferenceView reference_view(const Bytes& image);

} // namespace vetrik::tape
