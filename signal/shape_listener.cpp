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
// The samples at the decoders' rate filtered at a time.
inline constexpr std::size_t CHUNK = 256;

std::size_t mean_length(double rate) {
  return std::max<std::size_t>(
      2, static_cast<std::size_t>(std::lround(rate / ONE_TONE_HZ)));
}

std::size_t factor_for(double rate) {
  return std::max<std::size_t>(
      1, static_cast<std::size_t>(std::floor(rate / LEAST_RATE)));
}

// How late the decoders' samples come, at their rate: the means' delay.
double late(double rate) {
  return 2 * static_cast<double>(mean_length(rate / factor_for(rate)) - 1);
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
      tone_edges_(rate / factor_for(rate)),
      decoders_{ShapeDecoder(rate / factor_for(rate), false, late(rate)),
                ShapeDecoder(rate / factor_for(rate), true, late(rate))} {
  // A piece, the stretches whose level is not known yet, and a chunk.
  const std::size_t room = PIECE + (LEVEL_BEHIND + 1) * stretch_ + CHUNK;
  levels_.resize(room);
  plain_.resize(room);
  filtered_.resize(room);
  tone_.resize(room);
  decimated_.resize(CHUNK);
}

void ShapeListener::MeanCut::run(const float* in, std::size_t n, float* high,
                                 float* plain) {
  // The sums and the place in locals, which the stores cannot touch.
  float sum = sums[0], means_sum = sums[1];
  float cut_sum = sums[2], cut_means_sum = sums[3];
  Slot* const slots = ring.data();
  const std::size_t length = ring.size();
  const float per = per_length;
  std::size_t here = at;
  for (std::size_t i = 0; i < n; ++i) {
    // The new sample goes in at the slot of the oldest; the centre is the
    // slot after it.
    const std::size_t next = here + 1 == length ? 0 : here + 1;
    Slot& slot = slots[here];
    const Slot& ahead = slots[next];
    const float x = in[i];
    sum += x - slot.x;
    slot.x = x;
    const float mean = sum * per;
    means_sum += mean - slot.mean;
    slot.mean = mean;
    const float first = ahead.x - means_sum * per;
    cut_sum += first - slot.cut;
    slot.cut = first;
    const float cut_mean = cut_sum * per;
    cut_means_sum += cut_mean - slot.cut_mean;
    slot.cut_mean = cut_mean;
    high[i] = ahead.cut - cut_means_sum * per;
    plain[i] = ahead.late;
    slot.late = ahead.x;
    here = next;
    if (next == 0) {
      // Summed again once a round, so that rounding never adds up.
      sum = means_sum = cut_sum = cut_means_sum = 0;
      for (std::size_t k = 0; k < length; ++k) {
        sum += slots[k].x;
        means_sum += slots[k].mean;
        cut_sum += slots[k].cut;
        cut_means_sum += slots[k].cut_mean;
      }
    }
  }
  sums = {sum, means_sum, cut_sum, cut_means_sum};
  at = here;
}

namespace {

// Sums each factor samples in order into out[0..n), from x; inlined where
// factor is a constant, so that the compiler unrolls the sums.
inline void decimate_by(std::size_t factor, const float* x, std::size_t n,
                        float scale, float* out) {
  for (std::size_t i = 0; i < n; ++i, x += factor) {
    float sum = 0;
    for (std::size_t k = 0; k < factor; ++k) {
      sum += x[k];
    }
    out[i] = sum * scale;
  }
}

// The same, the usual rates' factors each with its constant.
void decimate(std::size_t factor, const float* x, std::size_t n, float scale,
              float* out) {
  switch (factor) {
  case 1:
    return decimate_by(1, x, n, scale, out);
  case 2:
    return decimate_by(2, x, n, scale, out);
  case 3:
    return decimate_by(3, x, n, scale, out);
  case 4:
    return decimate_by(4, x, n, scale, out);
  default:
    return decimate_by(factor, x, n, scale, out);
  }
}

} // namespace

void ShapeListener::push(std::span<const float> samples) {
  if (!samples.empty()) {
    last_ = samples.back();
  }
  // The mean of each factor samples: crude, but the bits' tones lie far
  // below the new rate's half, and the noise it folds in is small.
  const std::size_t factor = factor_;
  const float scale = 1 / static_cast<float>(factor);
  float* const decimated = decimated_.data();
  const float* x = samples.data();
  std::size_t left = samples.size();
  while (left > 0) {
    std::size_t n = 0;
    if (pending_ > 0 || left < factor) {
      // A sum begun in the last samples, or fewer than factor left: the
      // sum goes on, given once it is whole.
      const std::size_t part = std::min(factor - pending_, left);
      for (std::size_t k = 0; k < part; ++k) {
        pending_sum_ += x[k];
      }
      x += part;
      left -= part;
      pending_ += part;
      if (pending_ < factor) {
        break;
      }
      decimated[n++] = pending_sum_ * scale;
      pending_ = 0;
      pending_sum_ = 0;
    }
    const std::size_t whole = std::min(CHUNK - n, left / factor);
    decimate(factor, x, whole, scale, decimated + n);
    n += whole;
    x += whole * factor;
    left -= whole * factor;
    take(decimated, n);
  }
  run(filled_);
}

void ShapeListener::take(const float* samples, std::size_t n) {
  if (n == 0) {
    return;
  }
  const std::size_t from = written_;
  cut_.run(samples, n, filtered_.data() + from, plain_.data() + from);
  Section tone = tone_low_;
  for (std::size_t i = from; i < from + n; ++i) {
    tone_[i] = tone.run(filtered_[i]);
  }
  tone_low_ = tone;
  written_ = from + n;
  // The squares, a stretch at a time; giving a stretch may move the samples
  // not given yet to the front, so they are found from the end.
  std::size_t done = 0;
  while (done < n) {
    const float* const high = filtered_.data() + written_ - (n - done);
    const std::size_t part = std::min(n - done, stretch_ - in_stretch_);
    float squares = squares_;
    for (std::size_t k = 0; k < part; ++k) {
      squares += high[k] * high[k];
    }
    squares_ = squares;
    taken_ += part;
    in_stretch_ += part;
    done += part;
    if (in_stretch_ == stretch_) {
      in_stretch_ = 0;
      end_stretch(squares_);
      squares_ = 0;
    }
  }
}

void ShapeListener::end_stretch(float squares) {
  const std::uint64_t stretches = taken_ / stretch_;
  stretch_squares_[stretches & (SQUARES_RING - 1)] = squares;
  if (stretches > LEVEL_BEHIND) {
    // The stretches around the one given, as far as there are any before.
    const auto around = static_cast<std::size_t>(
        std::min<std::uint64_t>(stretches, LEVEL_STRETCHES));
    float sum = 0;
    for (std::size_t k = 0; k < around; ++k) {
      sum += stretch_squares_[(stretches - k) & (SQUARES_RING - 1)];
    }
    give_stretch(stretches - 1 - LEVEL_BEHIND,
                 std::sqrt(sum / static_cast<float>(around * stretch_)));
  }
}

// Brings the samples of a stretch, the next not given, to the same level.
void ShapeListener::give_stretch(std::uint64_t stretch, float level) {
  const float gain = 1 / std::max(level, QUIET);
  const std::uint64_t first = stretch * stretch_;
  auto left = static_cast<std::size_t>(
      std::min<std::uint64_t>(taken_, first + stretch_) - first);
  while (left > 0) {
    // As many as fit in the piece under way.
    const std::size_t had = filled_;
    const std::size_t n = std::min(left, PIECE - had);
    for (std::size_t i = had; i < had + n; ++i) {
      levels_[i] = level;
      // The tone's smoothing is linear and the level moves slowly:
      // smoothing first and bringing to the level after is the same.
      tone_[i] *= gain;
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
  // The samples whose level is not known yet to the front.
  const auto rest = static_cast<std::ptrdiff_t>(written_ - n);
  for (std::vector<float>* v : {&plain_, &filtered_, &tone_}) {
    std::copy_n(v->begin() + static_cast<std::ptrdiff_t>(n), rest, v->begin());
  }
  written_ -= n;
  filled_ = 0;
}

void ShapeListener::finish() {
  // The last samples still in the means come out with the last sample held
  // after them, as the edges' smoothing settles (silence would step from
  // any offset the recording ends on); in pieces, so that a recording of a
  // huge rate never asks for much.
  std::array<float, 1024> held;
  held.fill(last_);
  std::size_t left = 2 * (cut_.ring.size() - 1) * factor_ - pending_;
  while (left > 0) {
    const std::size_t n = std::min(left, held.size());
    push({held.data(), n});
    left -= n;
  }
  // The stretches not given yet, the one under way too, each over the
  // stretches there are around it.
  const std::uint64_t done = taken_ / stretch_;
  if (taken_ % stretch_ != 0) {
    stretch_squares_[(done + 1) & (SQUARES_RING - 1)] = squares_;
  }
  const std::uint64_t all = (taken_ + stretch_ - 1) / stretch_;
  for (std::uint64_t stretch = done > LEVEL_BEHIND ? done - LEVEL_BEHIND : 0;
       stretch < all; ++stretch) {
    float sum = 0;
    std::size_t around = 0;
    for (std::uint64_t k = stretch > LEVEL_BEHIND ? stretch - LEVEL_BEHIND : 0;
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
