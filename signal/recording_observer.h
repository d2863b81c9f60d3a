// A watcher of a recording as it is decoded, for a caller that pictures it:
// the signal as the decoders take it in, and each block the reader gives, at
// its place. Times are in T-states from the start of the signal, one clock
// for all three calls. A reader without one does no work for it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "signal/pulse_decoder.h"

namespace vetrik {

class RecordingObserver {
public:
  virtual ~RecordingObserver() = default;

  // The next samples of a recording, t_per_sample T-states each: a vector a
  // channel read, all of one length.
  virtual void samples(std::span<const std::vector<float>> /*channels*/,
                       double /*t_per_sample*/) {}

  // The next count half-waves of a two-level signal, t_states each.
  virtual void half_waves(double /*t_states*/, std::uint64_t /*count*/) {}

  // A block as the reader gives it, the one kept where several overlap.
  virtual void block(const DecodedBlock& /*block*/) {}
};

} // namespace vetrik
