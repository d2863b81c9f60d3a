// Signal blocks of a container, through one pulse decoder a run.
#include "tape/signal_run.h"

#include <algorithm>
#include <span>

namespace vetrik {

namespace {

// A pulse list's count word has this bit set, and a duration word this bit
// when a second word holds its low 16 bits.
inline constexpr std::uint32_t LONG_FORM = 0x8000;

} // namespace

void SignalRun::start(Source source, std::uint64_t size) {
  block_.limit(size);
  source_ = source;
  active_ = true;
}

void SignalRun::start_direct(std::uint64_t size, std::uint8_t used_bits,
                             double t_states) {
  start(Source::DIRECT, size);
  used_bits_ = std::min<std::uint8_t>(used_bits, 8);
  t_states_ = t_states;
}

void SignalRun::start_csw(std::uint64_t size, std::uint32_t rate,
                          std::uint32_t compression) {
  start(Source::CSW, size);
  runs_ = std::make_unique<CswRuns>(block_, compression);
  pulses_at_ = pulses_got_ = 0;
  t_states_a_sample_ = T_STATES_PER_SECOND / rate;
  level_ = false;
}

void SignalRun::start_pulses(std::uint64_t size) {
  start(Source::PULSES, size);
  level_ = false;
  expect_ = Expect::FIRST;
  half_word_ = -1;
}

SignalRun::Feed SignalRun::feed() {
  Feed result = Feed::DONE;
  switch (source_) {
  case Source::DIRECT:
    result = feed_direct();
    break;
  case Source::CSW:
    result = feed_csw();
    break;
  case Source::PULSES:
    result = feed_pulses();
    break;
  case Source::NONE:
    break;
  }
  if (result != Feed::MORE) {
    source_ = Source::NONE;
    runs_.reset();
  }
  return result;
}

SignalRun::Feed SignalRun::feed_direct() {
  const std::int32_t got =
      block_.read(chunk_.data(), static_cast<std::int32_t>(chunk_.size()));
  if (got == 0) {
    return block_.cut_short() ? Feed::TRUNCATED : Feed::DONE;
  }
  auto bits = static_cast<std::size_t>(got) * 8;
  // The last byte of the block holds only its used samples.
  if (block_.left() == 0) {
    bits -= 8U - used_bits_;
  }
  add_direct_recording(joiner_, {chunk_.data(), static_cast<std::size_t>(got)},
                       bits, t_states_);
  return Feed::MORE;
}

SignalRun::Feed SignalRun::feed_csw() {
  if (pulses_at_ == pulses_got_) {
    pulses_got_ = runs_->read(pulses_.data(), pulses_.size());
    pulses_at_ = 0;
  }
  if (pulses_got_ > 0) {
    pulses_at_ +=
        add_csw_pulses({pulses_.data() + pulses_at_, pulses_got_ - pulses_at_},
                       t_states_a_sample_, joiner_, decoder_, level_);
    return Feed::MORE;
  }
  if (block_.cut_short()) {
    return Feed::TRUNCATED;
  }
  // All of the block is there, so a stream that stops before its end is as
  // broken as one that fails.
  if (runs_->damaged() || runs_->ended_early()) {
    // The pulses before the break are whole, and the last may end a block.
    joiner_.finish();
    return Feed::DAMAGED;
  }
  // Bytes after the end of the compressed stream are ignored.
  return block_.skip_rest() ? Feed::DONE : Feed::TRUNCATED;
}

SignalRun::Feed SignalRun::feed_pulses() {
  const std::int32_t got =
      block_.read(chunk_.data(), static_cast<std::int32_t>(chunk_.size()));
  for (std::int32_t i = 0; i < got; ++i) {
    const std::uint8_t b = chunk_[static_cast<std::size_t>(i)];
    if (half_word_ < 0) {
      half_word_ = b;
    } else {
      pulse_word(static_cast<std::uint16_t>(half_word_ + b * 0x100));
      half_word_ = -1;
    }
  }
  if (got > 0) {
    return Feed::MORE;
  }
  if (block_.cut_short()) {
    return Feed::TRUNCATED;
  }
  if (half_word_ < 0 && expect_ == Expect::FIRST) {
    return Feed::DONE;
  }
  // The pulses before the broken entry are whole.
  joiner_.finish();
  return Feed::DAMAGED;
}

void SignalRun::pulse_word(std::uint16_t word) {
  switch (expect_) {
  case Expect::FIRST:
    // A count comes first when it has its flag.
    if ((word & LONG_FORM) != 0) {
      count_ = word & ~LONG_FORM;
      expect_ = Expect::DURATION;
      return;
    }
    count_ = 1;
    [[fallthrough]];
  case Expect::DURATION:
    if ((word & LONG_FORM) != 0) {
      high_ = word & ~LONG_FORM;
      expect_ = Expect::LOW;
      return;
    }
    pulse(count_, word);
    break;
  case Expect::LOW:
    pulse(count_, high_ * 0x10000 + word);
    break;
  }
  expect_ = Expect::FIRST;
}

void SignalRun::pulse(std::uint32_t count, std::uint32_t duration) {
  joiner_.add_alternating(level_, duration, count);
  // Pulses of no length still turn the level.
  level_ = level_ != (count % 2 == 1);
}

void SignalRun::end() {
  joiner_.finish();
  decoder_.finish();
  active_ = false;
}

bool SignalRun::pop(std::vector<std::uint8_t>& bytes) {
  DecodedBlock block;
  if (!decoder_.pop(block)) {
    return false;
  }
  if (observer_ != nullptr) {
    // On the observer's clock, which the unheard signal moved on.
    block.start += unheard_;
    block.data_start += unheard_;
    block.end += unheard_;
    observer_->block(block);
  }
  bytes = std::move(block.bytes);
  return true;
}

void SignalRun::pass_unheard(double t_states, std::uint64_t count) {
  if (observer_ == nullptr || !(t_states > 0) || count == 0) {
    return;
  }
  observer_->half_waves(t_states, count);
  unheard_ += t_states * static_cast<double>(count);
}

} // namespace vetrik
