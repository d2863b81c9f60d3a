// Blocks by wave shape. All times inside are sample positions (sample i
// covers [i, i + 1)), the signal between them is integrated from running
// sums, and every shape is judged by the sign of such integrals, so the
// signal's level matters nowhere but in the clock's corrections.
#include "signal/shape_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "bytes/tap_block.h"

namespace vetrik {

namespace {

// Samples are taken in pieces of at most PIECE_MOST, and the ones kept
// reach this far behind a piece: past the sync search's reach behind the end
// of the tone and the bits' look ahead, at any rate.
inline constexpr std::size_t PIECE_MOST = SHAPE_PIECE_MOST;
inline constexpr double KEPT_SECONDS = 0.1;
// A tone is steady from this many fitting half-waves on; an established
// tone's half-waves fit within this share of its period.
inline constexpr int STEADY_HALF_WAVES = 6;
// A tone's period is measured well enough over this many half-waves.
inline constexpr int PERIOD_HALF_WAVES = 64;
inline constexpr double ESTABLISHED_TOLERANCE = 0.12;
inline constexpr double STARTING_TOLERANCE = 0.2;
inline constexpr int BREAK_MISFITS = 3;
// Longer than this, a half-wave is a break in a tone, not a glitch.
inline constexpr double GLITCH_LONGEST = 1.5;
// The sync is looked for this far behind the tone's last steady edge, and
// at most this far behind the edge that broke it (in pilot half-waves).
inline constexpr double SEARCH_BEHIND = 2;
inline constexpr double SEARCH_MOST = 60;
// Pilot half-waves that the tone's shape is fitted over, each side.
inline constexpr int TONE_FIT = 8;
// A sync fits with its whole 1.04 pilot periods, a tone going on with 0.36.
inline constexpr double SYNC_LEAST = 0.5;
// A sync the recording has smoothed away (its half-waves are the shortest on
// tape, and worn heads lose them first) or that hiss hides fits less; it
// counts from this fit on where the first bits after it plainly fit as bits,
// as they do after no glitch in the tone nor in a dropout (in fits of a
// period of the tone before it).
inline constexpr double FADED_SYNC_LEAST = 0.25;
inline constexpr double FADED_BITS_LEAST = 1.25;
// After a sync, the tone's shape fits the data at most this much (in pilot
// periods, of the 8 a tone going on gives).
inline constexpr double TONE_AFTER_MOST = 5;
inline constexpr double TONE_GOES_ON = 4;
// The sync's tone must have at least this share of the best fit found.
inline constexpr double TONE_LEAST = 0.7;
// Places the sync is looked at closely.
inline constexpr std::size_t SYNC_PLACES = 8;
// Bits judged after a sync to place it.
inline constexpr int FIRST_BITS = 8;
// The clock: how much of each edge's offset moves the bit, and the length
// of a half-bit.
inline constexpr double PHASE_GAIN = 0.15;
inline constexpr double RATE_GAIN = 0.01;
// How far the half-bit may follow the bits from what the tone showed.
inline constexpr double HALF_LEAST = 0.7;
inline constexpr double HALF_MOST = 1.4;
// The halves of a bit on one side of a place all this much stronger than
// those on the other: the level stepped there, where the level measured
// around the bit steps by LEVEL_STEP too.
inline constexpr double STEP_RATIO = 8;
inline constexpr double LEVEL_STEP = 1.25;
// The level measured around a bit this much lower at its end than at its
// start: it fell within the bit, steeply.
inline constexpr double LEVEL_FALL = 1.5;
// How fast the level follows the bits.
inline constexpr double LEVEL_AVERAGING = 8;
// A byte ends the block unless this many of its bits have their shape.
inline constexpr int PLAIN_BITS_LEAST = 7;
// The block ends at the last byte of these whose checksum holds.
inline constexpr std::size_t END_CANDIDATES = 3;
// Further back, up to WEAK_BACK bytes, it ends at such a byte where the
// bytes after it are weak, as bits read on into the quiet after a block
// that ended inside a dropout are: their shapes fit, on the whole, less
// than WEAK_SHARE as well as the block's.
inline constexpr std::size_t WEAK_BACK = SHAPE_WEAK_BACK;
inline constexpr double WEAK_SHARE = 0.5;
// Where the bits stop but a signal this strong (of the tone's level, in
// stretches of a half-bit) goes on, the clock has lost the bits: what was
// read is no block.
inline constexpr double LOST_LEVEL = 0.5;
inline constexpr std::size_t LOST_STRETCHES = 8;
// A bit is judged once this many half-bits from its start are in: its own
// and the next bit's first (6 at most), and where the block ends with it,
// the stretches after it (the clock moved on by the bit, 4 at most, and
// half a half-bit more) that tell whether the bits were lost.
inline constexpr double JUDGED_AHEAD =
    4 + static_cast<double>(LOST_STRETCHES) + 1;
static_assert(JUDGED_AHEAD >= 6);

} // namespace

ShapeDecoder::ShapeDecoder(double rate, bool level_free, double late)
    : t_per_sample_(T_STATES_PER_SECOND / rate),
      late_(late * T_STATES_PER_SECOND / rate), level_free_(level_free) {
  std::int64_t ring = 1;
  while (static_cast<double>(ring) < PIECE_MOST + KEPT_SECONDS * rate) {
    ring *= 2;
  }
  // The ring grows to that as the samples come, so that a short recording
  // never fills one it does not need.
  ring_most_ = ring;
  grow_ring(0);
  step_ = 0.25 * std::max(1.0, rate / 44100);
}

void ShapeDecoder::grow_ring(std::size_t coming) {
  // Until the ring is at its full size nothing in it has been overwritten,
  // so sample i stays at index i as it grows.
  const auto need = count_ + static_cast<std::int64_t>(coming) + 1;
  auto ring = std::max<std::int64_t>(mask_ + 1, 1024);
  while (ring < need && ring < ring_most_) {
    ring *= 2;
  }
  ring = std::min(ring, ring_most_);
  if (ring != mask_ + 1) {
    sums_.resize(static_cast<std::size_t>(ring), 0.0);
    levels_.resize(static_cast<std::size_t>(ring), 0.0F);
    mask_ = ring - 1;
  }
}

double ShapeDecoder::sum_to(const std::vector<double>& sums, double at) const {
  // Positions before what is kept never come up; clamp them all the same.
  if (!(at >= kept_from_ && at < kept_to_)) {
    at = std::clamp(at, kept_from_, kept_to_);
  }
  const auto i = static_cast<std::int64_t>(at);
  const double base = sums[static_cast<std::size_t>(i & mask_)];
  if (i >= count_) {
    return base;
  }
  const double next = sums[static_cast<std::size_t>((i + 1) & mask_)];
  return base + (at - static_cast<double>(i)) * (next - base);
}

double ShapeDecoder::integral(double from, double to) const {
  return sum_to(sums_, to) - sum_to(sums_, from);
}

double ShapeDecoder::level_at(double x) const {
  const double last = std::max(0.0, kept_to_ - 1);
  if (!(x >= kept_from_ && x <= last)) {
    x = x > last ? last : kept_from_;
  }
  const auto i = static_cast<std::int64_t>(x);
  // Never 0, which silence would give: what is divided by it is 0 there.
  return std::max(
      static_cast<double>(levels_[static_cast<std::size_t>(i & mask_)]), 1e-9);
}

double ShapeDecoder::level_over(double from, double to) const {
  // The level moves slowly (it is measured over a few half-waves): its
  // value at a few places tells its mean well enough.
  if (to - from < 48) {
    return (level_at(from) + 2 * level_at((from + to) / 2) + level_at(to)) / 4;
  }
  double sum = 0;
  for (int k = 0; k <= 8; ++k) {
    sum += level_at(from + (to - from) * k / 8);
  }
  return sum / 9;
}

void ShapeDecoder::push(std::span<const float> samples,
                        std::span<const float> levels,
                        std::span<const double> half_waves) {
  // More than a piece at once would push what the edges need out of the
  // ring: take only the last PIECE_MOST (a caller breaking the contract
  // loses blocks, never memory safety).
  if (samples.size() > PIECE_MOST || levels.size() != samples.size()) {
    const std::size_t n = std::min({samples.size(), levels.size(), PIECE_MOST});
    samples = samples.last(n);
    levels = levels.last(n);
    half_waves = {};
  }
  grow_ring(samples.size());
  // Locals: the compiler cannot tell that writing sums_ leaves them alone.
  double total = total_;
  std::int64_t count = count_;
  double* sums = sums_.data();
  float* kept_levels = levels_.data();
  const std::int64_t mask = mask_;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    total += samples[i];
    ++count;
    sums[count & mask] = total;
    kept_levels[(count - 1) & mask] = levels[i];
  }
  total_ = total;
  count_ = count;
  kept_from_ = static_cast<double>(std::max<std::int64_t>(0, count - mask));
  kept_to_ = static_cast<double>(count);
  // The half-waves after a break in the tone wait until the sync has been
  // looked for: where the break was a glitch, they go on with the tone, and
  // where a block was read, those after its end may start the next tone.
  waiting_.insert(waiting_.end(), half_waves.begin(), half_waves.end());
  std::size_t taken = 0;
  while (true) {
    if (state_ == State::SYNC) {
      find_sync();
    }
    if (state_ == State::BITS) {
      read_bits();
    }
    if (state_ == State::SYNC || taken == waiting_.size()) {
      break;
    }
    on_half_wave(waiting_[taken++]);
  }
  waiting_.erase(waiting_.begin(),
                 waiting_.begin() + static_cast<std::ptrdiff_t>(taken));
}

void ShapeDecoder::finish() {
  finishing_ = true;
  push({}, {}, {});
  finishing_ = false;
  if (state_ == State::SYNC) {
    finishing_ = true;
    find_sync();
  }
  if (state_ == State::BITS) {
    // The last bits are judged on what there is: past the end is silence.
    finishing_ = true;
    read_bits();
  }
  if (state_ == State::BITS) {
    end_block();
  }
  finishing_ = false;
  state_ = State::TONE;
  run_ = 0;
}

bool ShapeDecoder::pop(DecodedBlock& block) {
  return take_oldest(done_, block);
}

double ShapeDecoder::heard_until() const {
  if (state_ != State::TONE || run_ > 0) {
    return std::max(0.0, tone_start_ - late_);
  }
  return std::max(0.0, edge_ - late_);
}

// Follows the tone by its edges; where an established tone breaks, the sync
// is looked for.
void ShapeDecoder::on_half_wave(double h) {
  const double start = edge_;
  edge_ += h;
  const double here = edge_ / t_per_sample_;
  if (state_ != State::TONE || here < quiet_until_) {
    return;
  }
  if (run_ >= PILOT_MIN_HALF_WAVES) {
    // An established tone survives a glitch or two.
    if (std::fabs(h - period_) <= ESTABLISHED_TOLERANCE * period_) {
      period_ += (h - period_) / 16;
      misfits_ = 0;
      if (steady_++ == 0) {
        steady_start_ = start / t_per_sample_;
      }
      if (steady_ >= STEADY_HALF_WAVES) {
        last_fit_ = here;
        // A short stretch after a glitch (a dropout's edges) tells the
        // period worse than the long one before it did.
        if (steady_ >= std::min(measured_over_, PERIOD_HALF_WAVES)) {
          steady_period_ = (here - steady_start_) * t_per_sample_ / steady_;
          measured_over_ = steady_;
        }
      }
      return;
    }
    steady_ = 0;
    if (++misfits_ < BREAK_MISFITS) {
      return;
    }
    const double p = steady_period_ / t_per_sample_;
    sync_from_ =
        std::max(last_fit_ - SEARCH_BEHIND * p, here - SEARCH_MOST * p);
    sync_to_ = here + p;
    misfits_ = 0;
    state_ = State::SYNC;
    return;
  }
  const bool candidate = h >= PILOT_SHORTEST && h <= PILOT_LONGEST;
  const bool fits =
      candidate &&
      (run_ == 0 || std::fabs(h - period_) <= STARTING_TOLERANCE * period_);
  if (!fits && run_ > 0 && h < GLITCH_LONGEST * period_ &&
      ++misfits_ < BREAK_MISFITS) {
    return; // a glitch in a tone being found
  }
  misfits_ = 0;
  if (!fits) {
    run_ = 0;
  }
  if (!candidate) {
    return;
  }
  if (run_ == 0) {
    period_ = h;
    tone_start_ = start;
    steady_ = 0;
    steady_period_ = h;
    measured_over_ = 0;
    last_fit_ = here;
  } else {
    period_ += (h - period_) / 16;
  }
  ++run_;
}

namespace {

// Keeps at, of fit, among the best places (fits falling), unless a better one
// lies within a sample of it.
void keep_place(std::array<double, SYNC_PLACES>& places,
                std::array<double, SYNC_PLACES>& fits, double at, double fit) {
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (places[i] >= 0 && std::fabs(places[i] - at) <= 2) {
      if (fit > fits[i]) {
        places[i] = at;
        fits[i] = fit;
      }
      return;
    }
  }
  std::size_t worst = 0;
  for (std::size_t i = 1; i < places.size(); ++i) {
    if (places[i] < 0 || (places[worst] >= 0 && fits[i] < fits[worst])) {
      worst = i;
    }
  }
  if (places[worst] < 0 || fit > fits[worst]) {
    places[worst] = at;
    fits[worst] = fit;
  }
}

} // namespace

ShapeDecoder::SyncFit ShapeDecoder::fit_sync(double s, bool whole) const {
  const double p = steady_period_ / t_per_sample_;
  const double unit = p / PILOT_HALF_WAVE; // samples a T-state
  const double s1 = SYNC1_HALF_WAVE * unit, s2 = SYNC2_HALF_WAVE * unit;
  const double z = ZERO_HALF_WAVE * unit;
  SyncFit fit;
  // The tone before s: its last half-wave has the level opposite the sync's
  // first.
  double sign = -1;
  for (int k = 1; k <= TONE_FIT; ++k) {
    fit.tone += sign * integral(s - k * p, s - (k - 1) * p);
    sign = -sign;
  }
  const double d = s + s1 + s2;
  fit.sync = integral(s, s + s1) - integral(s + s1, d) + integral(d, d + z);
  // Each part against the level it was recorded at, so that a tone that
  // fades or drops out still fits as well as one that does not.
  fit.tone /= level_over(s - TONE_FIT * p, s);
  fit.sync /= level_over(s, d + z);
  fit.sign = fit.tone + fit.sync >= 0 ? 1 : -1;
  fit.tone *= fit.sign;
  fit.sync *= fit.sign;
  if (!whole) {
    return fit;
  }
  sign = fit.sign;
  for (int k = 0; k < TONE_FIT; ++k) {
    fit.after += sign * integral(s + k * p, s + (k + 1) * p);
    sign = -sign;
  }
  fit.after /= level_over(s, s + TONE_FIT * p);
  // The first bits fit too: each rises and falls where a bit does.
  double bits = 0;
  double at = d;
  for (int k = 0; k < FIRST_BITS; ++k) {
    const Bit bit = judge(at, z, fit.sign, Steps::NONE);
    bits += std::min(bit.swing, bit.next) * z;
    at += (bit.one ? 4 : 2) * z;
  }
  bits /= level_over(d, at);
  fit.bits = bits;
  fit.score = fit.tone + fit.sync + bits;
  return fit;
}

bool ShapeDecoder::sync_fits(const SyncFit& fit, double period_fit) {
  if (fit.sync >= SYNC_LEAST * period_fit) {
    return true;
  }
  return fit.sync >= FADED_SYNC_LEAST * period_fit &&
         fit.bits >= FADED_BITS_LEAST * period_fit;
}

// Looks for the sync where the tone broke, once the samples after it are in.
void ShapeDecoder::find_sync() {
  // The samples every fit reads: the tone after the last place, and the
  // sync and the first bits after it, each as long as a 1 and the last
  // with the next bit's first half-bit.
  const double p = steady_period_ / t_per_sample_;
  const double unit = p / PILOT_HALF_WAVE;
  const double reach =
      std::max(TONE_FIT * p, 1 + (SYNC1_HALF_WAVE + SYNC2_HALF_WAVE +
                                  (4 * FIRST_BITS + 1) * ZERO_HALF_WAVE) *
                                     unit);
  if (!finishing_ &&
      static_cast<double>(count_) < sync_to_ + reach + 2 * p + 4) {
    return;
  }
  // First every sample, by the tone and the sync alone; then the few best
  // places closely, with the tone after them and the first bits.
  std::array<double, SYNC_PLACES> places{};
  std::array<double, SYNC_PLACES> fits{};
  places.fill(-1);
  double tone_most = 0;
  for (double s = sync_from_; s <= sync_to_; s += 1) {
    const SyncFit fit = fit_sync(s, false);
    tone_most = std::max(tone_most, std::fabs(fit.tone));
    keep_place(places, fits, s, fit.tone + fit.sync);
  }
  SyncFit best;
  double best_at = -1;
  double goes_on = 0;
  for (const double place : places) {
    for (double s = place - 1; place >= 0 && s <= place + 1; s += step_) {
      const SyncFit fit = fit_sync(s, true);
      goes_on = std::max(goes_on, fit.after);
      // After a sync the tone is gone: its shape fits no better than chance.
      if (fit.after > TONE_AFTER_MOST * fit.tone / TONE_FIT) {
        continue;
      }
      if (best_at < 0 || fit.score > best.score) {
        best = fit;
        best_at = s;
      }
    }
  }
  const double level = tone_most / (TONE_FIT * p);
  if (best_at < 0 || best.tone < TONE_LEAST * tone_most ||
      !sync_fits(best, p * level)) {
    // A glitch in a tone that goes on keeps the tone; otherwise it is gone.
    state_ = State::TONE;
    if (goes_on < TONE_GOES_ON * p * level) {
      run_ = 0;
    }
    last_fit_ = sync_to_;
    return;
  }
  state_ = State::BITS;
  sign_ = best.sign;
  at_ = best_at + (SYNC1_HALF_WAVE + SYNC2_HALF_WAVE) * unit;
  half_ = ZERO_HALF_WAVE * unit;
  sync_half_ = half_;
  data_start_ = at_ * t_per_sample_;
  level_ = best.tone / (TONE_FIT * p);
  tone_level_ = level_;
  recorded_sum_ = 0;
  recorded_length_ = 0;
  byte_strength_ = 0;
  strength_sum_ = 0;
  bytes_.clear();
  check_.clear();
  byte_ = 0;
  bits_ = 0;
  plain_bits_ = 0;
  cut_ = false;
  run_ = 0;
}

double ShapeDecoder::signs_over(double from, double to) const {
  // The samples whose middles lie between from and to.
  double signs = 0;
  const auto last = static_cast<std::int64_t>(std::ceil(to - 0.5));
  for (auto i = static_cast<std::int64_t>(std::ceil(from - 0.5));
       i < last && i < count_; ++i) {
    if (i < 0 || i < count_ - mask_) {
      continue;
    }
    const double x = sums_[static_cast<std::size_t>((i + 1) & mask_)] -
                     sums_[static_cast<std::size_t>(i & mask_)];
    signs += x > 0 ? 1 : (x < 0 ? -1 : 0);
  }
  return signs;
}

bool ShapeDecoder::plain_by_signs(double at, double h, double sign,
                                  bool one) const {
  const auto part = [&](double k) {
    return sign * signs_over(at + k * h, at + (k + 1) * h);
  };
  const double i1 = part(0), i2 = part(1), i3 = part(2);
  if (!one) {
    return i1 > i2 && i3 > i2;
  }
  const double i4 = part(3), i5 = part(4);
  return i1 + i2 > i3 + i4 && 2 * i5 > i3 + i4;
}

ShapeDecoder::Bit ShapeDecoder::judge(double at, double h, double sign,
                                      Steps steps) const {
  QuarterSums sums{this, at, h};
  return judge(sums, sign, steps);
}

ShapeDecoder::Bit ShapeDecoder::judge(QuarterSums& sums, double sign,
                                      Steps steps) const {
  const double at = sums.from, h = sums.h;
  const auto part = [&](std::size_t k) {
    return sign * (sums.at(2 * k + 2) - sums.at(2 * k));
  };
  double i1 = part(0), i2 = part(1), i3 = part(2);
  Bit bit;
  bit.first = i1 / h;
  // Where the level steps steeply within the bit (a dropout's edges), the
  // one sample across the step can weigh more than all the rest of a half:
  // each half is judged by the signs of its samples instead.
  bool after_half = false;
  if (steps != Steps::NONE) {
    // Only where the level measured around the bit steps too: noise that
    // happens to leave a half small is no step.
    const double before = level_at(at - h / 2);
    const double after = level_at(at + 4.5 * h);
    bit.level_stepped =
        std::max(before, after) > LEVEL_STEP * std::min(before, after);
    if (bit.level_stepped) {
      const std::array<double, 4> size = {std::fabs(i1), std::fabs(i2),
                                          std::fabs(i3), std::fabs(part(3))};
      // A step parts the halves in two: all on one side of it stronger
      // than all on the other, by STEP_RATIO. One half that noise happens
      // to leave small among strong ones is none.
      bool rose = false;
      for (std::size_t k = 1; k < size.size(); ++k) {
        const auto [low_before, high_before] =
            std::minmax_element(size.begin(), size.begin() + k);
        const auto [low_after, high_after] =
            std::minmax_element(size.begin() + k, size.end());
        bit.fell = bit.fell || *low_before > STEP_RATIO * *high_after;
        rose = rose || *low_after > STEP_RATIO * *high_before;
      }
      bit.step = (steps == Steps::ANY && bit.fell) || rose;
      // A fall after the second half (into a dropout, or the quiet after a
      // block) leaves that half whole: it alone tells the bit.
      after_half = bit.fell && 2 * size[1] > size[0];
      bit.step = bit.step && !after_half;
    }
    bit.fell = bit.fell ||
               (steps == Steps::RISES &&
                level_at(at + 3.5 * h) * LEVEL_FALL < level_at(at + h / 2));
  }
  const auto judged = [&](std::size_t k) {
    const double from = at + static_cast<double>(k) * h;
    return bit.step ? sign * signs_over(from, from + h) : part(k);
  };
  if (bit.step) {
    i1 = judged(0);
    i2 = judged(1);
    i3 = judged(2);
  }
  // A 0 falls in its second 855 T-states and rises in its third; a 1 stays
  // up in the second and falls in the third.
  bit.one = after_half ? i2 > 0 : i2 > i3;
  // The bit's first half against its second, and its second against the
  // next bit's first: both rise where a bit is, whatever the level under
  // it, while a level that only drifts fails one of them.
  if (bit.one) {
    const double i4 = judged(3), i5 = judged(4);
    bit.swing = (i1 + i2 - i3 - i4) / (4 * h);
    bit.next = (2 * i5 - i3 - i4) / (4 * h);
  } else {
    bit.swing = (i1 - i2) / (2 * h);
    bit.next = (i3 - i2) / (2 * h);
  }
  return bit;
}

// Judges each bit whose samples are all in.
void ShapeDecoder::read_bits() {
  while (state_ == State::BITS &&
         (at_ + JUDGED_AHEAD * half_ + 4 < static_cast<double>(count_) ||
          (finishing_ && at_ < static_cast<double>(count_)))) {
    // Samples passed through the high-pass ring on after a fall (and after
    // a block's last edge), so there only rises are judged by signs.
    QuarterSums sums{this, at_, half_};
    const Bit bit = judge(sums, sign_, level_free_ ? Steps::RISES : Steps::ANY);
    // A fall the samples were not judged across leaves the bit unsure;
    // where the level stepped, a shape that the sample across the step
    // spoils may still show in the signs of the samples.
    const bool sure = bit.step || !bit.fell;
    const bool plain = (bit.swing > 0 && bit.next > 0) ||
                       (bit.level_stepped && !bit.step &&
                        plain_by_signs(at_, half_, sign_, bit.one));
    plain_bits_ += sure && plain ? 1 : 0;
    // The level of the bits against the level they were recorded at: the
    // clock follows a fading signal at once.
    const double length = (bit.one ? 4 : 2) * half_;
    const double recorded = level_at(at_ + length / 2);
    recorded_sum_ += recorded * length;
    recorded_length_ += length;
    const double strength = (level_free_ ? bit.swing : bit.first) / recorded;
    // How well the bit fits, whatever level lies under it.
    byte_strength_ += std::clamp(bit.swing / recorded, -1.0, 2.0);
    if (strength > 0 && !bit.step) {
      level_ += (strength - level_) / LEVEL_AVERAGING;
    }
    follow_edges(sums, bit.one, std::max(level_, strength) * recorded);
    if (!add_bit(bit.one)) {
      return;
    }
  }
}

// Moves the clock to the bit after this one, by where the bit's two edges
// were found against where they were expected.
void ShapeDecoder::follow_edges(QuarterSums& sums, bool one, double level) {
  const double h = half_;
  const double w = h / 2;
  double offset = 0;
  if (level > 0) {
    // An edge from + to - at e, looked for at tau (q steps of w into the
    // bit): the window around tau holds 2 level (e - tau); the windows
    // beside it take out any level or slope under it.
    const auto late_by = [&](std::size_t q) {
      const double a = sums.at(q - 2);
      const double b = sums.at(q - 1);
      const double c = sums.at(q + 1);
      const double d = sums.at(q + 2);
      return ((c - b) - (b - a) - (d - c)) / (2 * level);
    };
    const std::size_t m = one ? 2 : 1;
    const double middle = sign_ * late_by(2 * m);
    const double end = -sign_ * late_by(4 * m);
    offset = std::clamp((middle + end) / 2, -w, w);
  }
  const double halves = one ? 4 : 2;
  at_ += halves * h + PHASE_GAIN * offset;
  // The tape's speed drifts, but not far within a block: a clock that runs
  // away has lost the bits, and must not take ever more of them a sample.
  half_ = std::clamp(half_ + RATE_GAIN * offset / halves,
                     HALF_LEAST * sync_half_, HALF_MOST * sync_half_);
}

// Adds a bit to the block; false when the block ended with it.
bool ShapeDecoder::add_bit(bool one) {
  byte_ = (byte_ << 1) | (one ? 1U : 0U);
  if (++bits_ < 8) {
    return true;
  }
  const bool plain = plain_bits_ >= PLAIN_BITS_LEAST;
  bits_ = 0;
  plain_bits_ = 0;
  const double byte_strength = byte_strength_;
  byte_strength_ = 0;
  if (!plain) {
    end_block();
    return false;
  }
  if (bytes_.size() >= MAX_BLOCK_SIZE) {
    cut_ = true;
  } else {
    const std::uint8_t before = check_.empty() ? 0 : check_.back();
    const auto strength = static_cast<float>(byte_strength / 8);
    strengths_[bytes_.size() % WEAK_BACK] = strength;
    byte_ends_[bytes_.size() % byte_ends_.size()] = at_;
    strength_sum_ += strength;
    bytes_.push_back(static_cast<std::uint8_t>(byte_));
    check_.push_back(static_cast<std::uint8_t>(before ^ byte_));
  }
  byte_ = 0;
  return true;
}

// Where the block ends: after the last of its final bytes whose checksum
// holds, or all of them when none does.
std::size_t ShapeDecoder::checked_end() const {
  const std::size_t n = bytes_.size();
  for (std::size_t back = 0; back < END_CANDIDATES && back < n; ++back) {
    if (check_[n - 1 - back] == 0) {
      return n - back;
    }
  }
  const double weak = WEAK_SHARE * strength_sum_ / static_cast<double>(n);
  double trailing = 0; // the strengths of the last back + 1 bytes
  for (std::size_t back = 0; back < WEAK_BACK && back + 1 < n; ++back) {
    trailing += strengths_[(n - 1 - back) % WEAK_BACK];
    if (back + 1 >= END_CANDIDATES && check_[n - 2 - back] == 0 &&
        trailing < weak * static_cast<double>(back + 1)) {
      return n - 1 - back;
    }
  }
  return n;
}

// The block ends at the last of its final bytes whose checksum holds: bytes
// read into the quiet after a block fail it, bar chance.
void ShapeDecoder::end_block() {
  // Bits that run up to the end of the samples: the recording cut the block.
  const bool open_end =
      finishing_ && at_ + 8 * half_ >= static_cast<double>(count_);
  // Each stretch against their mean, which a rumble under them shifts.
  std::array<double, LOST_STRETCHES> stretches{};
  double mean = 0;
  for (std::size_t k = 0; k < stretches.size(); ++k) {
    const double from = at_ + static_cast<double>(k) * half_;
    stretches[k] = integral(from, from + half_);
    mean += stretches[k] / static_cast<double>(LOST_STRETCHES);
  }
  double after = 0;
  for (const double stretch : stretches) {
    after += std::fabs(stretch - mean);
  }
  // Against the level the block was recorded at on the whole, which a
  // dropout here or there hardly changes.
  const double recorded =
      recorded_length_ > 0 ? recorded_sum_ / recorded_length_ : 0;
  const bool lost =
      !open_end && after > LOST_LEVEL * tone_level_ * recorded * half_ *
                               static_cast<double>(LOST_STRETCHES);
  std::size_t size = lost ? 0 : bytes_.size();
  if (!cut_ && size > 0) {
    size = checked_end();
  }
  if (size > 0) {
    DecodedBlock block;
    block.bytes.assign(bytes_.begin(),
                       bytes_.begin() + static_cast<std::ptrdiff_t>(size));
    block.start = std::max(0.0, tone_start_ - late_);
    block.data_start = std::max(0.0, data_start_ - late_);
    // At the end of its last byte, not where the bits were lost.
    const double end = cut_ || bytes_.size() - size >= byte_ends_.size()
                           ? at_
                           : byte_ends_[(size - 1) % byte_ends_.size()];
    block.end = end * t_per_sample_ - late_;
    block.cut = cut_;
    block.open_end = open_end;
    done_.push_back(std::move(block));
  }
  bytes_.clear();
  check_.clear();
  strength_sum_ = 0;
  quiet_until_ = at_;
  state_ = State::TONE;
  run_ = 0;
}

} // namespace vetrik
