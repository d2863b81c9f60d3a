// Blocks from half-waves. Every length is judged against the pilot period the
// block itself showed, which follows the tape's speed through the block.
#include "signal/pulse_decoder.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "signal/recording_observer.h"

namespace vetrik {

namespace {

// Limits as fractions of the pilot period P.
inline constexpr double PILOT_TOLERANCE = 0.2; // a tone half-wave: P +- 20%
inline constexpr double SYNC_LONGEST = 0.6;    // each sync half: 0.31P, 0.34P
inline constexpr double SYNC_PAIR_SHORTEST = 0.35; // both: 0.65P
inline constexpr double SYNC_PAIR_LONGEST = 1.0;
inline constexpr double HALF_SHORTEST = 0.15; // bit halves: 0.39P and 0.79P
inline constexpr double HALF_LONGEST = 1.1;
inline constexpr double PAIR_SHORTEST = 0.45; // a 0 bit: 0.79P, a 1: 1.58P
inline constexpr double PAIR_LONGEST = 1.8;   // two tone half-waves: 2P
inline constexpr double ZERO_PAIR = 2 * ZERO_HALF_WAVE / PILOT_HALF_WAVE;
inline constexpr double ONE_PAIR = 2 * ONE_HALF_WAVE / PILOT_HALF_WAVE;
inline constexpr double ONE_THRESHOLD = (ZERO_PAIR + ONE_PAIR) / 2;
// A bit's halves are equal; the bits around it may pull the edge between
// them so far, and noise after a block mostly does not keep to it.
inline constexpr double HALVES_RATIO = 1.8;

// How fast the period follows the tone and, more slowly, the bits.
inline constexpr double PILOT_AVERAGING = 16;
inline constexpr double DATA_AVERAGING = 64;

// A byte's half-waves: 8 bits of two halves.
inline constexpr std::uint64_t HALF_WAVES_PER_BYTE = 16;

bool could_start_pilot(double h) {
  return h >= PILOT_SHORTEST && h <= PILOT_LONGEST;
}

// Where n steps of period += (target - period) / averaging take the period,
// but for rounding.
double approach(double period, double target, double averaging,
                std::uint64_t n) {
  const double keep = 1 - 1 / averaging;
  return target + (period - target) * std::pow(keep, static_cast<double>(n));
}

} // namespace

void PulseDecoder::push(double half_wave) {
  if (!(half_wave >= 0)) {
    half_wave = 0;
  }
  ++judged_;
  switch (state_) {
  case State::SEARCH:
    search(half_wave);
    break;
  case State::PILOT:
    pilot(half_wave);
    break;
  case State::SYNC:
    sync(half_wave);
    break;
  case State::DATA:
    data(half_wave);
    break;
  }
  now_ += half_wave;
}

void PulseDecoder::push(std::span<const double> half_waves) {
  for (double h : half_waves) {
    push(h);
  }
}

void PulseDecoder::push(double half_wave, std::uint64_t times) {
  if (!(half_wave >= 0)) {
    half_wave = 0;
  }
  while (times > 0) {
    const std::uint64_t passed = pass_steady(half_wave, times);
    if (passed > 0) {
      times -= passed;
    } else {
      push(half_wave);
      --times;
    }
  }
}

// Equal half-waves leave each state in a few pushes or settle into one where
// each further push only moves the clock, moves the period toward a fixed
// target, or adds to a byte of equal bits. There they are passed over at
// once; returns how many, or 0 where h must be judged alone.
std::uint64_t PulseDecoder::pass_steady(double h, std::uint64_t times) {
  switch (state_) {
  case State::SEARCH:
    if (!could_start_pilot(h)) {
      run_ = 0;
    } else if (run_ > 0 && fits_pilot(h)) {
      follow_tone(h, times);
    } else {
      return 0;
    }
    break;
  case State::PILOT:
    if (!fits_pilot(h)) {
      return 0;
    }
    follow_tone(h, times);
    break;
  case State::SYNC:
    return 0;
  case State::DATA:
    return pass_bytes(h, times);
  }
  now_ += h * static_cast<double>(times);
  return times;
}

// A tone of times half-waves that fit its period. The period only moves
// toward h, by a 16th of the way each time, so h goes on fitting.
void PulseDecoder::follow_tone(double h, std::uint64_t times) {
  if (state_ == State::SEARCH) {
    run_ += static_cast<std::size_t>(
        std::min<std::uint64_t>(times, PILOT_MIN_HALF_WAVES - run_));
    if (run_ >= PILOT_MIN_HALF_WAVES) {
      state_ = State::PILOT;
    }
  }
  period_ = approach(period_, h, PILOT_AVERAGING, times);
}

// Whole bytes of bits of two halves h from a byte's start, if such a bit is
// taken now. Returns the half-waves used, 0 if none.
std::uint64_t PulseDecoder::pass_bytes(double h, std::uint64_t times) {
  const std::uint64_t bytes = times / HALF_WAVES_PER_BYTE;
  if (bytes == 0 || first_half_ != 0 || bits_ != 0 || !fits_half(h)) {
    return 0;
  }
  const Bit bit = judge_bit(h, h);
  if (!bit.whole) {
    return 0;
  }
  // The period moves toward the one this bit shows, where h / period lies
  // well inside the limits of a half, of a pair and of this bit's value: so
  // each next bit is taken and reads the same. Equal halves leave no doubt.
  const std::uint64_t room = MAX_BLOCK_SIZE - bytes_.size();
  bytes_.insert(bytes_.end(), static_cast<std::size_t>(std::min(bytes, room)),
                bit.one ? 0xFF : 0x00);
  cut_ = cut_ || bytes > room;
  last_byte_doubt_ = false;
  const double target = 2 * h / (bit.one ? ONE_PAIR : ZERO_PAIR);
  period_ = approach(period_, target, DATA_AVERAGING, 8 * bytes);
  now_ += h * static_cast<double>(HALF_WAVES_PER_BYTE * bytes);
  byte_end_ = now_;
  return HALF_WAVES_PER_BYTE * bytes;
}

bool PulseDecoder::fits_pilot(double h) const {
  return std::fabs(h - period_) <= PILOT_TOLERANCE * period_;
}

bool PulseDecoder::fits_half(double h) const {
  return h >= HALF_SHORTEST * period_ && h <= HALF_LONGEST * period_;
}

void PulseDecoder::search(double h) {
  const bool candidate = could_start_pilot(h);
  if (!candidate || (run_ > 0 && !fits_pilot(h))) {
    run_ = 0;
  }
  if (!candidate) {
    return;
  }
  if (run_ == 0) {
    period_ = h;
    run_start_ = now_;
  } else {
    period_ += (h - period_) / PILOT_AVERAGING;
  }
  if (++run_ >= PILOT_MIN_HALF_WAVES) {
    state_ = State::PILOT;
  }
}

void PulseDecoder::pilot(double h) {
  if (fits_pilot(h)) {
    period_ += (h - period_) / PILOT_AVERAGING;
  } else if (h <= SYNC_LONGEST * period_) {
    sync1_ = h;
    state_ = State::SYNC;
  } else {
    state_ = State::SEARCH;
    run_ = 0;
    search(h);
  }
}

void PulseDecoder::sync(double h) {
  const double both = sync1_ + h;
  if (h <= SYNC_LONGEST * period_ && both >= SYNC_PAIR_SHORTEST * period_ &&
      both <= SYNC_PAIR_LONGEST * period_) {
    state_ = State::DATA;
    data_start_ = now_ + h;
    first_half_ = 0;
    byte_ = 0;
    bits_ = 0;
  } else if (fits_pilot(h)) {
    state_ = State::PILOT; // a glitch in the tone, not a sync
  } else {
    state_ = State::SEARCH;
    run_ = 0;
    search(h);
  }
}

PulseDecoder::Bit PulseDecoder::judge_bit(double first, double second) const {
  const double pair = first + second;
  // The two halves together tell the bit best, as the edge between them may
  // be pulled either way; each alone, doubled, should tell the same.
  Bit bit;
  bit.one = pair >= ONE_THRESHOLD * period_;
  bit.first_alone = 2 * first >= ONE_THRESHOLD * period_;
  const bool second_alone = 2 * second >= ONE_THRESHOLD * period_;
  const bool alike =
      second <= HALVES_RATIO * first && first <= HALVES_RATIO * second;
  bit.whole =
      first > 0 && fits_half(second) && pair >= PAIR_SHORTEST * period_ &&
      pair <= PAIR_LONGEST * period_ &&
      (alike || (bit.first_alone == bit.one && second_alone == bit.one));
  return bit;
}

void PulseDecoder::data(double h) {
  if (first_half_ == 0 && fits_half(h)) {
    first_half_ = h;
    return;
  }
  const double first = first_half_;
  first_half_ = 0;
  const Bit bit = judge_bit(first, h);
  if (bit.whole) {
    const double pair = first + h;
    period_ +=
        (pair / (bit.one ? ONE_PAIR : ZERO_PAIR) - period_) / DATA_AVERAGING;
    // If this is the block's last bit, its second half may have run on into
    // what follows or been cut by the end: then its first half tells.
    add_bit(bit.one, now_ + h, bit.first_alone != bit.one);
    return;
  }
  // The bits stop here. Before the first whole byte, a tone that goes on
  // means the sync was a glitch in it.
  if (bytes_.empty() && fits_pilot(h)) {
    state_ = State::PILOT;
    return;
  }
  if (first > 0) {
    add_bit(bit.first_alone, now_ + first, false);
  }
  end_block();
  search(h);
}

void PulseDecoder::add_bit(bool one, double end, bool doubt) {
  byte_ = (byte_ << 1) | (one ? 1U : 0U);
  if (++bits_ < 8) {
    return;
  }
  last_byte_doubt_ = doubt;
  if (bytes_.size() < MAX_BLOCK_SIZE) {
    bytes_.push_back(static_cast<std::uint8_t>(byte_));
  } else {
    cut_ = true;
  }
  byte_ = 0;
  bits_ = 0;
  byte_end_ = end;
}

void PulseDecoder::end_block() {
  if (last_byte_doubt_ && !cut_) {
    // The block ends after the bit that completed its last byte (or a few
    // more that make no byte): that bit's first half tells it.
    bytes_.back() ^= 1;
  }
  last_byte_doubt_ = false;
  if (!bytes_.empty()) {
    done_.push_back(
        {std::move(bytes_), run_start_, byte_end_, cut_, ending_, data_start_});
    bytes_ = {};
  }
  cut_ = false;
  state_ = State::SEARCH;
  run_ = 0;
  first_half_ = 0;
}

void PulseDecoder::finish() {
  if (state_ == State::DATA) {
    ending_ = bits_ > 0 || first_half_ > 0;
    end_block();
    ending_ = false;
  }
  state_ = State::SEARCH;
  run_ = 0;
}

bool take_oldest(std::deque<DecodedBlock>& done, DecodedBlock& block) {
  if (done.empty()) {
    return false;
  }
  block = std::move(done.front());
  done.pop_front();
  return true;
}

bool PulseDecoder::pop(DecodedBlock& block) {
  return take_oldest(done_, block);
}

void PulseJoiner::add(bool level, double t_states) {
  if (!(t_states > 0)) {
    return;
  }
  if (pending_ > 0 && level != level_) {
    pass_on(pending_);
    pending_ = 0;
  }
  level_ = level;
  pending_ += t_states;
}

void PulseJoiner::add_alternating(bool level, double t_states,
                                  std::uint64_t count) {
  if (!(t_states > 0) || count == 0) {
    return;
  }
  add(level, t_states);
  if (count == 1) {
    return;
  }
  // Each piece but the first and the last is a half-wave of its own.
  pass_on(pending_);
  decoder_.push(t_states, count - 2);
  if (observer_ != nullptr && count > 2) {
    observer_->half_waves(t_states, count - 2);
  }
  level_ = (count % 2 == 0) ? !level : level;
  pending_ = t_states;
}

void PulseJoiner::finish() {
  if (pending_ > 0) {
    pass_on(pending_);
  }
  pending_ = 0;
}

void PulseJoiner::pass_on(double half_wave) {
  decoder_.push(half_wave);
  if (observer_ != nullptr) {
    observer_->half_waves(half_wave, 1);
  }
}

void add_direct_recording(PulseJoiner& joiner,
                          std::span<const std::uint8_t> bytes, std::size_t bits,
                          double t_states) {
  bits = std::min(bits, bytes.size() * 8);
  for (std::size_t i = 0; i < bits;) {
    const std::uint8_t byte = bytes[i / 8];
    if (i % 8 == 0 && bits - i >= 8 && (byte == 0 || byte == 0xFF)) {
      joiner.add(byte != 0, 8 * t_states); // a byte of one level at once
      i += 8;
      continue;
    }
    joiner.add(((byte >> (7 - i % 8)) & 1) != 0, t_states);
    ++i;
  }
}

} // namespace vetrik
