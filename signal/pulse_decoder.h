// Finds the blocks of the ROM's save routine in a stream of half-wave
// durations: a pilot tone, two short sync half-waves, then each bit as two
// equal half-waves, most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "bytes/tap_block.h"

namespace vetrik {

class RecordingObserver;

// The ROM's timing, in T-states of the 3.5 MHz clock.
inline constexpr double T_STATES_PER_SECOND = 3500000.0;
inline constexpr double PILOT_HALF_WAVE = 2168;
inline constexpr double SYNC1_HALF_WAVE = 667;
inline constexpr double SYNC2_HALF_WAVE = 735;
inline constexpr double ZERO_HALF_WAVE = 855;
inline constexpr double ONE_HALF_WAVE = 1710;

// Half-waves outside this range never start a pilot tone: tape speed from
// about 35% slow to 55% fast.
inline constexpr double PILOT_SHORTEST = 1400;
inline constexpr double PILOT_LONGEST = 3300;
// Half-waves of a steady tone before it counts as a pilot.
inline constexpr std::size_t PILOT_MIN_HALF_WAVES = 256;

struct DecodedBlock {
  // Whole bytes only, 1 to MAX_BLOCK_SIZE: a longer block could not be a
  // TAP block.
  std::vector<std::uint8_t> bytes;
  double start = 0; // T-states from the signal's start to the pilot tone
  double end = 0;   // ... to the end of the last whole byte
  // The block went on past MAX_BLOCK_SIZE bytes: the rest of its bits were
  // read and dropped.
  bool cut = false;
  // The signal ended inside one of the block's bytes: the recording has
  // most likely cut the block short.
  bool open_end = false;
  // T-states from the signal's start to the end of the sync, where the bits
  // begin: the tone lies from start to here.
  double data_start = 0;
};

// Moves the oldest of done into block; false when done is empty. The
// decoders' pop.
bool take_oldest(std::deque<DecodedBlock>& done, DecodedBlock& block);

class PulseDecoder {
public:
  // Takes the next half-wave of the signal, in T-states (0 or more).
  void push(double half_wave);
  void push(std::span<const double> half_waves);
  // Takes times equal half-waves, with the same result as one at a time
  // (times only rounded otherwise). Where they keep the decoder in a steady
  // state (a tone, quiet, bytes of equal bits) they are passed over together:
  // at most 30 are judged alone, and the bytes they add cost their length.
  void push(double half_wave, std::uint64_t times);

  // Ends the signal: a block running up to its last half-wave is complete.
  // Further pushes start a new signal at the end of this one.
  void finish();

  // Moves the oldest completed block into block. Returns false when none is
  // waiting.
  bool pop(DecodedBlock& block);

  // Whether a completed block is waiting.
  bool holds_block() const { return !done_.empty(); }

  // T-states from the signal's start to the end of the last half-wave.
  double now() const { return now_; }

  // Whether a tone or a block is under way; if so, busy_since() is where it
  // began, and no later block can start before it.
  bool busy() const { return state_ != State::SEARCH || run_ > 0; }
  double busy_since() const { return run_start_; }

  // Half-waves judged one at a time so far; those passed over together in a
  // steady state count as none. Shows the work a signal cost.
  std::uint64_t judged() const { return judged_; }

private:
  enum class State { SEARCH, PILOT, SYNC, DATA };

  // A pair of half-waves as a bit: whether it is one, its value, and the
  // value its first half alone tells.
  struct Bit {
    bool whole = false;
    bool one = false;
    bool first_alone = false;
  };

  void search(double h);
  void pilot(double h);
  void sync(double h);
  void data(double h);
  void add_bit(bool one, double end, bool doubt);
  void end_block();
  bool fits_pilot(double h) const;
  bool fits_half(double h) const;
  Bit judge_bit(double first, double second) const;
  std::uint64_t pass_steady(double h, std::uint64_t times);
  void follow_tone(double h, std::uint64_t times);
  std::uint64_t pass_bytes(double h, std::uint64_t times);

  State state_ = State::SEARCH;
  double now_ = 0;
  double period_ = 0; // the pilot half-wave, as the block showed it
  std::size_t run_ = 0;
  double run_start_ = 0;
  double sync1_ = 0;
  double data_start_ = 0;
  double first_half_ = 0; // the first half of a bit, 0 when none waits
  // The bit that completed the last byte: its first half alone tells the
  // other value than both halves did.
  bool last_byte_doubt_ = false;
  std::vector<std::uint8_t> bytes_;
  std::uint32_t byte_ = 0; // bits of the byte so far, behind a leading 1
  std::size_t bits_ = 0;
  double byte_end_ = 0;
  bool cut_ = false;
  bool ending_ = false; // finish() ends the block inside a byte
  std::deque<DecodedBlock> done_;
  std::uint64_t judged_ = 0;
};

// Turns a two-level signal given in pieces (a level for a time) into
// half-waves for a decoder: pieces of one level join into one half-wave, and
// pieces of no length change nothing. For direct recordings, CSW runs and
// pulse lists; a signal stored in several blocks, split anywhere, goes
// through one joiner and one decoder.
class PulseJoiner {
public:
  // observer, when given, is shown each half-wave passed on.
  explicit PulseJoiner(PulseDecoder& decoder,
                       RecordingObserver* observer = nullptr)
      : decoder_(decoder), observer_(observer) {}

  // The signal stays at level for t_states more (0 or less: no change).
  void add(bool level, double t_states);

  // count pieces of t_states each, the first at level and each next one at
  // the other level: a repeated pulse of a pulse list.
  void add_alternating(bool level, double t_states, std::uint64_t count);

  // Passes on the last half-wave; call before the decoder's finish().
  void finish();

private:
  void pass_on(double half_wave);

  PulseDecoder& decoder_;
  RecordingObserver* observer_;
  bool level_ = false;
  double pending_ = 0;
};

// Adds bits samples of a direct recording (one bit a sample, most
// significant first, 1 the high level), each t_states long; bits past the end
// of bytes are not there and add nothing.
void add_direct_recording(PulseJoiner& joiner,
                          std::span<const std::uint8_t> bytes, std::size_t bits,
                          double t_states);

} // namespace vetrik
