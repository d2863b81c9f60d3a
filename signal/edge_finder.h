// Finds the edges of a recorded square wave: where the signal, smoothed,
// crosses its running middle level by more than a hysteresis that follows
// its swing. Any level, offset or polarity; no fixed thresholds.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vetrik {

class EdgeFinder {
public:
  // rate: samples a second, more than 0.
  explicit EdgeFinder(double rate);

  // Reads the next samples (finite, full scale about -1 to 1, though any
  // level will do); appends the length in T-states of each half-wave that an
  // edge among them ends.
  void push(std::span<const float> samples, std::vector<double>& half_waves);

  // Ends the samples: appends the half-wave from the last edge to the end,
  // when samples came after it.
  void finish(std::vector<double>& half_waves);

  // T-states from the start of the samples to the end of the samples read.
  double time() const { return static_cast<double>(samples_) * t_per_sample_; }

private:
  double t_per_sample_;
  double delay_; // how far the smoothing puts edges late, in samples
  // The smoothing filter, a two-pole low-pass, and its last values.
  float b0_, b1_, b2_, a1_, a2_;
  float x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
  // The running middle level and the mean distance from it, and how much
  // of the difference each sample moves them.
  float middle_ = 0, swing_ = 0;
  float middle_rate_, swing_rate_;
  bool up_ = false;
  std::int64_t samples_ = 0;
  double last_edge_;
  double crossing_ = -1; // where the middle was last crossed, -1 when not
};

} // namespace vetrik
