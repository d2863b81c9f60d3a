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

// The level the decoders' samples are brought to is measured this far each
// side of a sample: about a period of the tones, so that a dropout or a
// tremolo changes it within a few half-waves.
inline constexpr double LEVEL_SECONDS = 0.00125;
// Below this RMS a recording is silent: it is not made louder still.
inline constexpr double QUIET = 1e-6;

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
      window_(static_cast<std::size_t>(
          std::lround(rate / factor_for(rate) * LEVEL_SECONDS))),
      kept_plain_(2 * window_ + 1), kept_high_(2 * window_ + 1),
      tone_edges_(rate / factor_for(rate)),
      decoders_{ShapeDecoder(rate / factor_for(rate), false),
                ShapeDecoder(rate / factor_for(rate), true)} {
  levels_.reserve(PIECE);
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
    level(y, high_[1].run(high_[0].run(y)));
  }
  run(plain_.size());
}

void ShapeListener::level(float plain, float high) {
  const std::size_t ring = kept_high_.size();
  const std::size_t at = taken_ % ring;
  if (taken_ >= ring) {
    squares_ -= static_cast<double>(kept_high_[at]) * kept_high_[at];
  }
  kept_plain_[at] = plain;
  kept_high_[at] = high;
  squares_ += static_cast<double>(high) * high;
  ++taken_;
  if (taken_ <= window_) {
    return;
  }
  const std::size_t given = (taken_ - 1 - window_) % ring;
  give(kept_plain_[given], kept_high_[given],
       static_cast<float>(
           std::sqrt(std::max(0.0, squares_) /
                     static_cast<double>(std::min(taken_, ring)))));
}

void ShapeListener::give(float plain, float high, float level) {
  const float gain = 1 / std::max(level, static_cast<float>(QUIET));
  levels_.push_back(level);
  plain_.push_back(plain);
  filtered_.push_back(high);
  tone_.push_back(tone_low_.run(high * gain));
  if (plain_.size() == PIECE) {
    run(PIECE);
  }
}

void ShapeListener::run(std::size_t n) {
  if (n == 0) {
    return;
  }
  half_waves_.clear();
  tone_edges_.push(tone_, half_waves_);
  decoders_[0].push(plain_, levels_, half_waves_);
  decoders_[1].push(filtered_, levels_, half_waves_);
  levels_.clear();
  plain_.clear();
  filtered_.clear();
  tone_.clear();
}

void ShapeListener::finish() {
  // The last window_ samples, each over the samples there are around it.
  const std::size_t ring = kept_high_.size();
  std::size_t from = taken_ > 2 * window_ ? taken_ - 2 * window_ - 1 : 0;
  for (std::size_t n = taken_ > window_ ? taken_ - window_ : 0; n < taken_;
       ++n) {
    if (n > window_ && n - window_ - 1 >= from) {
      const float old = kept_high_[from % ring];
      squares_ -= static_cast<double>(old) * old;
      ++from;
    }
    give(kept_plain_[n % ring], kept_high_[n % ring],
         static_cast<float>(std::sqrt(std::max(0.0, squares_) /
                                      static_cast<double>(taken_ - from))));
  }
  run(plain_.size());
  half_waves_.clear();
  tone_edges_.finish(half_waves_);
  for (ShapeDecoder& d : decoders_) {
    d.push({}, {}, half_waves_);
    d.finish();
  }
}

} // namespace vetrik
