// A channel's samples brought down to the decoders' rate and filtered for
// each of them.
#include "signal/shape_listener.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace vetrik {

namespace {

// The decoders' rate is the recording's divided by a whole number, down to
// no less than this.
inline constexpr double LEAST_RATE = 14700;
// Hum (50 or 60 Hz and its harmonics up to the 7th) and rumble are taken
// out by means over about a period of the 1 bits' tone, which pass that
// tone and the 0 bits' (its second harmonic) all but whole: the 7th
// harmonic of 60 Hz hum comes out about 15 dB down, its 3rd 40 dB.
inline constexpr double ONE_TONE_HZ = T_STATES_PER_SECOND / (2 * ONE_HALF_WAVE);
// The tone is told from a copy smoothed well below the bits' tones: the
// pilot lies far below this, most of the hiss above it.
inline constexpr double TONE_HZ = 1600;

// The level the decoders' samples are brought to is measured about this far
// each side of a sample: about a period of the tones, so that a dropout or a
// tremolo changes it within a few half-waves. It is measured in stretches of
// samples, over 7 of them centred on the one it is given for.
inline constexpr double LEVEL_SECONDS = 0.00125;
inline constexpr std::size_t LEVEL_STRETCHES = 7;
inline constexpr std::size_t LEVEL_BEHIND = LEVEL_STRETCHES / 2;
// The stretches' squares are kept in a ring of this many, a power of 2.
inline constexpr std::size_t SQUARES_RING = 8;
static_assert(SQUARES_RING >= LEVEL_STRETCHES &&
              (SQUARES_RING & (SQUARES_RING - 1)) == 0);
// Below this RMS a recording is silent: it is not made louder still.
inline constexpr float QUIET = 1e-6F;

inline constexpr std::size_t PIECE = SHAPE_PIECE_MOST;

std::size_t mean_length(double rate) {
  return std::max<std::size_t>(
      2, static_cast<std::size_t>(std::lround(rate / ONE_TONE_HZ)));
}

std::size_t factor_for(double rate) {
  return std::max<std::size_t>(
      1, static_cast<std::size_t>(std::floor(rate / LEAST_RATE)));
}

} // namespace

// The audio cookbook's low-pass biquad, by the bilinear transform.
ShapeListener::Section ShapeListener::low_pass(double rate, double hz,
                                               double q) {
  const double w = 2 * std::numbers::pi * std::min(hz, rate / 4) / rate;
  const double alpha = std::sin(w) / (2 * q);
  const double c = std::cos(w);
  const double a0 = 1 + alpha;
  Section s;
  s.b0 = static_cast<float>((1 - c) / 2 / a0);
  s.b1 = static_cast<float>((1 - c) / a0);
  s.b2 = s.b0;
  s.a1 = static_cast<float>(-2 * c / a0);
  s.a2 = static_cast<float>((1 - alpha) / a0);
  return s;
}

ShapeListener::ShapeListener(double rate)
    : factor_(factor_for(rate)), cut_(mean_length(rate / factor_for(rate))),
      tone_low_(low_pass(rate / factor_for(rate), TONE_HZ, std::sqrt(0.5))),
      stretch_(std::max<std::size_t>(
          1, static_cast<std::size_t>(
                 std::lround(rate / factor_for(rate) * LEVEL_SECONDS * 2 /
                             static_cast<double>(LEVEL_STRETCHES))))),
      kept_plain_((LEVEL_BEHIND + 1) * stretch_),
      kept_high_((LEVEL_BEHIND + 1) * stretch_),
      kept_tone_((LEVEL_BEHIND + 1) * stretch_),
      tone_edges_(rate / factor_for(rate)),
      decoders_{ShapeDecoder(rate / factor_for(rate), false),
                ShapeDecoder(rate / factor_for(rate), true)} {
  levels_.resize(PIECE);
  plain_.resize(PIECE);
  filtered_.resize(PIECE);
  tone_.resize(PIECE);
}

void ShapeListener::push(std::span<const float> samples) {
  // The filters' state, the mean and the stretch under way in locals, which
  // the stores into the rings cannot touch.
  Section tone = tone_low_;
  MeanCut cut = std::move(cut_);
  std::size_t pending = pending_;
  float sum = pending_sum_;
  float squares = squares_;
  std::size_t put = put_;
  std::size_t in_stretch = in_stretch_;
  std::size_t taken = taken_;
  float* const plain = kept_plain_.data();
  float* const high = kept_high_.data();
  float* const toned = kept_tone_.data();
  const std::size_t ring = kept_high_.size();
  const std::size_t factor = factor_;
  const std::size_t stretch = stretch_;
  const float scale = 1 / static_cast<float>(factor);
  for (const float x : samples) {
    // The mean of each factor samples: crude, but the bits' tones lie far
    // below the new rate's half, and the noise it folds in is small.
    sum += x;
    if (++pending < factor) {
      continue;
    }
    const float y = sum * scale;
    pending = 0;
    sum = 0;
    float late = 0;
    const float h = cut.run(y, late);
    plain[put] = late;
    high[put] = h;
    toned[put] = tone.run(h);
    put = put + 1 == ring ? 0 : put + 1;
    squares += h * h;
    ++taken;
    if (++in_stretch < stretch) {
      continue;
    }
    in_stretch = 0;
    taken_ = taken;
    end_stretch(squares);
    squares = 0;
  }
  taken_ = taken;
  pending_ = pending;
  pending_sum_ = sum;
  squares_ = squares;
  put_ = put;
  in_stretch_ = in_stretch;
  cut_ = std::move(cut);
  tone_low_ = tone;
  run(filled_);
}

void ShapeListener::end_stretch(float squares) {
  const std::size_t stretches = taken_ / stretch_;
  stretch_squares_[stretches & (SQUARES_RING - 1)] = squares;
  if (stretches > LEVEL_BEHIND) {
    // The stretches around the one given, as far as there are any before.
    const std::size_t around = std::min(stretches, LEVEL_STRETCHES);
    float sum = 0;
    for (std::size_t k = 0; k < around; ++k) {
      sum += stretch_squares_[(stretches - k) & (SQUARES_RING - 1)];
    }
    give_stretch(stretches - 1 - LEVEL_BEHIND,
                 std::sqrt(sum / static_cast<float>(around * stretch_)));
  }
}

// Gives the decoders the samples of a stretch, brought to the same level.
void ShapeListener::give_stretch(std::size_t stretch, float level) {
  const float gain = 1 / std::max(level, QUIET);
  const std::size_t ring = kept_high_.size();
  const std::size_t first = stretch * stretch_;
  std::size_t left = std::min(taken_, first + stretch_) - first;
  std::size_t at = first % ring;
  while (left > 0) {
    // As many as fit in the piece under way.
    const std::size_t had = filled_;
    const std::size_t n = std::min(left, PIECE - had);
    float* const levels = levels_.data();
    float* const plain = plain_.data();
    float* const filtered = filtered_.data();
    float* const tone = tone_.data();
    const float* const kept_plain = kept_plain_.data();
    const float* const kept_high = kept_high_.data();
    const float* const kept_tone = kept_tone_.data();
    for (std::size_t i = had; i < had + n; ++i) {
      levels[i] = level;
      plain[i] = kept_plain[at];
      filtered[i] = kept_high[at];
      // The tone's smoothing is linear and the level moves slowly:
      // smoothing first and bringing to the level after is the same.
      tone[i] = kept_tone[at] * gain;
      at = at + 1 == ring ? 0 : at + 1;
    }
    left -= n;
    filled_ = had + n;
    if (filled_ == PIECE) {
      run(PIECE);
    }
  }
}

void ShapeListener::run(std::size_t n) {
  if (n == 0) {
    return;
  }
  half_waves_.clear();
  const std::span<const float> levels(levels_.data(), n);
  tone_edges_.push({tone_.data(), n}, half_waves_);
  decoders_[0].push({plain_.data(), n}, levels, half_waves_);
  decoders_[1].push({filtered_.data(), n}, levels, half_waves_);
  filled_ = 0;
}

void ShapeListener::finish() {
  // The last samples still in the means come out with silence after them,
  // as the recording goes on; in pieces, so that a recording of a huge
  // rate never asks for much.
  static constexpr std::array<float, 1024> SILENCE{};
  std::size_t left = 2 * (cut_.ring.size() - 1) * factor_ - pending_;
  while (left > 0) {
    const std::size_t n = std::min(left, SILENCE.size());
    push({SILENCE.data(), n});
    left -= n;
  }
  // The stretches not given yet, the one under way too, each over the
  // stretches there are around it.
  const std::size_t done = taken_ / stretch_;
  if (taken_ % stretch_ != 0) {
    stretch_squares_[(done + 1) & (SQUARES_RING - 1)] = squares_;
  }
  const std::size_t all = (taken_ + stretch_ - 1) / stretch_;
  for (std::size_t stretch = done > LEVEL_BEHIND ? done - LEVEL_BEHIND : 0;
       stretch < all; ++stretch) {
    float sum = 0;
    std::size_t around = 0;
    for (std::size_t k = stretch > LEVEL_BEHIND ? stretch - LEVEL_BEHIND : 0;
         k <= stretch + LEVEL_BEHIND && k < all; ++k) {
      sum += stretch_squares_[(k + 1) & (SQUARES_RING - 1)];
      ++around;
    }
    give_stretch(stretch,
                 std::sqrt(sum / static_cast<float>(around * stretch_)));
  }
  run(filled_);
  half_waves_.clear();
  tone_edges_.finish(half_waves_);
  for (ShapeDecoder& d : decoders_) {
    d.push({}, {}, half_waves_);
    d.finish();
  }
}

} // namespace vetrik
