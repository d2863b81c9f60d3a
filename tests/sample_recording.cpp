// The sample tape's recording.
#include "tests/sample_recording.h"

#include "tests/sample_tape.h"
#include "tests/signal_builder.h"

namespace vetrik::tape {

Bytes sample_csw() {
  return recording::csw(recording::save_signal(sample_tape()), 44100,
                        recording::CswVariant::V2_Z_RLE);
}

} // namespace vetrik::tape
