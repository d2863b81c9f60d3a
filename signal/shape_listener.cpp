// A channel's samples brought down to the decoders' rate and filtered for
// each of them.
#include "signal/shape_listener.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vetrik {

namespace {

// The decoders' rate is the recording's divided by a whole number, down to
// no less than this.
inline constexpr double LEAST_RATE = 22050;
// Hum (50 or 60 Hz and its harmonics up to the 7th) and rumble fall away
// below this, four poles steep, while the slowest pilot tone passes.
inline constexpr double HUM_HZ = 600;
// The tone is told from a copy smoothed well below the bits' tones: the
// pilot lies far below this, most of the hiss above it.
inline constexpr double TONE_HZ = 1600;
// Butterworth of 4th order: two sections with these Qs.
inline constexpr double Q4_FIRST = 0.54119610;
inline constexpr double Q4_SECOND = 1.30656296;

inline constexpr std::size_t PIECE = SHAPE_PIECE_MOST;

std::size_t factor_for(double rate) {
  return std::max<std::size_t>(
      1, static_cast<std::size_t>(std::floor(rate / LEAST_RATE)));
}

} // namespace

// The audio cookbook's biquads, by the bilinear transform: a high-pass or a
// low-pass section.
ShapeListener::Section ShapeListener::section(double rate, double hz, double q,
                                              bool high) {
  const double w = 2 * std::numbers::pi * std::min(hz, rate / 4) / rate;
  const double alpha = std::sin(w) / (2 * q);
  const double c = std::cos(w);
  const double a0 = 1 + alpha;
  const double edge = high ? 1 + c : 1 - c;
  Section s;
  s.b0 = static_cast<float>(edge / 2 / a0);
  s.b1 = static_cast<float>((high ? -edge : edge) / a0);
  s.b2 = s.b0;
  s.a1 = static_cast<float>(-2 * c / a0);
  s.a2 = static_cast<float>((1 - alpha) / a0);
  return s;
}

ShapeListener::ShapeListener(double rate)
    : factor_(factor_for(rate)), high_{section(rate / factor_for(rate), HUM_HZ,
                                               Q4_FIRST, true),
                                       section(rate / factor_for(rate), HUM_HZ,
                                               Q4_SECOND, true)},
      tone_low_(
          section(rate / factor_for(rate), TONE_HZ, std::sqrt(0.5), false)),
      tone_edges_(rate / factor_for(rate)),
      decoders_{ShapeDecoder(rate / factor_for(rate), false),
                ShapeDecoder(rate / factor_for(rate), true)} {
  plain_.reserve(PIECE);
  filtered_.reserve(PIECE);
  tone_.reserve(PIECE);
}

void ShapeListener::push(std::span<const float> samples) {
  for (const float x : samples) {
    // The mean of each factor_ samples: crude, but the bits' tones lie far
    // below the new rate's half, and the noise it folds in is small.
    pending_sum_ += x;
    if (++pending_ < factor_) {
      continue;
    }
    const float y = pending_sum_ / static_cast<float>(factor_);
    pending_ = 0;
    pending_sum_ = 0;
    const float high = high_[1].run(high_[0].run(y));
    plain_.push_back(y);
    filtered_.push_back(high);
    tone_.push_back(tone_low_.run(high));
    if (plain_.size() == PIECE) {
      run(PIECE);
    }
  }
  run(plain_.size());
}

void ShapeListener::run(std::size_t n) {
  if (n == 0) {
    return;
  }
  half_waves_.clear();
  tone_edges_.push(tone_, half_waves_);
  decoders_[0].push(plain_, half_waves_);
  decoders_[1].push(filtered_, half_waves_);
  plain_.clear();
  filtered_.clear();
  tone_.clear();
}

void ShapeListener::finish() {
  half_waves_.clear();
  tone_edges_.finish(half_waves_);
  for (ShapeDecoder& d : decoders_) {
    d.push({}, half_waves_);
    d.finish();
  }
}

} // namespace vetrik
