// Edges by level crossings. The signal is smoothed against noise; its middle
// level is its running mean, which follows offsets and AC coupling (the
// ROM's waves spend as long high as low), and its swing the running mean
// distance from that, which noise peaks hardly move. An edge is taken where
// the signal crosses the middle once it has gone past the hysteresis: the
// crossing, found between two samples, is on time whatever the hysteresis.
#include "signal/edge_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "signal/pulse_decoder.h"

namespace vetrik {

namespace {

// Smoothing: passes the bits' tones (0.8 to 2.3 kHz), not the hiss above.
inline constexpr double SMOOTHING_HZ = 4000;
inline constexpr double SMOOTHING_MOST = 0.35; // of the sample rate
// Time constants of the running middle and swing: a few pilot periods, so
// that a block is followed within its first pilot half-waves.
inline constexpr double MIDDLE_SECONDS = 0.004;
inline constexpr double SWING_SECONDS = 0.005;
// An edge needs the signal this far past the middle, as a fraction of the
// swing.
inline constexpr float HYSTERESIS = 0.3F;

// The most samples finish() runs the smoothing on at the last level.
inline constexpr std::size_t HOLD_MOST = 256;

float rate_for(double seconds, double rate) {
  return static_cast<float>(-std::expm1(-1 / (seconds * rate)));
}

} // namespace

EdgeFinder::EdgeFinder(double rate)
    : t_per_sample_(T_STATES_PER_SECOND / rate) {
  // Butterworth low-pass by the bilinear transform.
  const double fc = std::min(SMOOTHING_HZ, SMOOTHING_MOST * rate);
  const double k = std::tan(std::numbers::pi * fc / rate);
  const double q = std::numbers::sqrt2;
  const double norm = 1 / (1 + q * k + k * k);
  b0_ = static_cast<float>(k * k * norm);
  b1_ = 2 * b0_;
  b2_ = b0_;
  a1_ = static_cast<float>(2 * (k * k - 1) * norm);
  a2_ = static_cast<float>((1 - q * k + k * k) * norm);
  delay_ = q / (2 * std::numbers::pi * fc) * rate; // at low frequencies
  last_edge_ = delay_;
  middle_rate_ = rate_for(MIDDLE_SECONDS, rate);
  swing_rate_ = rate_for(SWING_SECONDS, rate);
}

void EdgeFinder::push(std::span<const float> samples,
                      std::vector<double>& half_waves) {
  if (samples.empty()) {
    return;
  }
  if (samples_ == 0) {
    // Start settled on the first sample, on its side of 0.
    x1_ = x2_ = y1_ = y2_ = middle_ = samples[0];
    up_ = samples[0] >= 0;
  }
  // Locals throughout: the compiler cannot tell that appending to
  // half_waves leaves the members alone.
  const float b0 = b0_, b1 = b1_, b2 = b2_, a1 = a1_, a2 = a2_;
  const float middle_rate = middle_rate_, swing_rate = swing_rate_;
  double last_edge = last_edge_;
  float x1 = x1_, x2 = x2_, y1 = y1_, y2 = y2_;
  float middle = middle_, swing = swing_;
  bool up = up_;
  double crossing = crossing_;
  const double first = static_cast<double>(samples_);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const float x = samples[i];
    const float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    const float previous = y1;
    y2 = y1;
    y1 = y;
    middle += (y - middle) * middle_rate;
    swing += (std::fabs(y - middle) - swing) * swing_rate;
    const float margin = swing * HYSTERESIS;
    // Sample i stands for the time first + i + 0.5 (in samples).
    if (up ? (previous >= middle && y < middle)
           : (previous <= middle && y > middle)) {
      // Where the wave crossed between the two samples; kept between
      // them however the arithmetic rounds.
      const float fall = previous - y;
      const float part =
          fall != 0 ? std::clamp((previous - middle) / fall, 0.0F, 1.0F) : 0.5F;
      crossing =
          first + static_cast<double>(i) - 0.5 + static_cast<double>(part);
    }
    if (up ? y < middle - margin : y > middle + margin) {
      const double at = crossing >= 0 ? crossing : first + i + 0.5;
      half_waves.push_back((at - last_edge) * t_per_sample_);
      last_edge = at;
      crossing = -1;
      up = !up;
    }
  }
  x1_ = x1, x2_ = x2, y1_ = y1, y2_ = y2;
  middle_ = middle, swing_ = swing;
  last_edge_ = last_edge;
  up_ = up;
  crossing_ = crossing;
  samples_ += static_cast<std::int64_t>(samples.size());
}

void EdgeFinder::finish(std::vector<double>& half_waves) {
  if (samples_ == 0) {
    return;
  }
  // The smoothing still holds back the last samples' change: let it settle
  // on the last level, so that an edge just before the end is found. Edges
  // it puts past the end are not taken.
  const double end = static_cast<double>(samples_) + delay_;
  const auto hold = static_cast<std::size_t>(
      std::min(4 * delay_ + 4, static_cast<double>(HOLD_MOST)));
  std::array<float, HOLD_MOST> level;
  level.fill(x1_);
  std::vector<double> settled;
  double at = last_edge_;
  push(std::span(level).first(hold), settled);
  samples_ -= static_cast<std::int64_t>(hold);
  for (double h : settled) {
    if (at + h / t_per_sample_ > end) {
      break;
    }
    half_waves.push_back(h);
    at += h / t_per_sample_;
  }
  if (end > at) {
    half_waves.push_back((end - at) * t_per_sample_);
  }
  last_edge_ = end;
}

} // namespace vetrik
