// A run of signal blocks inside a TZX or PZX image, decoded into data blocks
// as it is read, a piece at a time. Consecutive signal blocks are one
// continuous signal, since a recording may be split anywhere, even inside a
// byte; any other block ends it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "bytes/image_input.h"
#include "signal/csw_reader.h"
#include "signal/pulse_decoder.h"
#include "signal/recording_observer.h"

namespace vetrik {

class SignalRun {
public:
  enum class Feed {
    MORE,      // some of the block is read; more is left
    DONE,      // the block is read to its end
    TRUNCATED, // the image ended inside the block
    DAMAGED    // its data broke or stopped short, or an entry ran past its end
  };

  // Reads the signal blocks' bytes from image. observer, when given, is
  // shown the signal and each block pop() gives; it must outlive the run.
  explicit SignalRun(ImageInput& image, RecordingObserver* observer = nullptr)
      : block_(image), observer_(observer), joiner_(decoder_, observer) {}

  // Each starts the next signal block of the run, its size bytes next in
  // the image.
  // A direct recording: one sample a bit, t_states long, most significant
  // first; the last byte holds used_bits samples.
  void start_direct(std::uint64_t size, std::uint8_t used_bits,
                    double t_states);
  // CSW data of compression CSW_RLE or CSW_Z_RLE, at rate samples a second.
  void start_csw(std::uint64_t size, std::uint32_t rate,
                 std::uint32_t compression);
  // A pulse list: 16-bit words, each pulse a duration in T-states with an
  // optional repeat count, the level low at its start and turning after
  // each pulse.
  void start_pulses(std::uint64_t size);

  // Whether a block started is still being read.
  bool feeding() const { return source_ != Source::NONE; }

  // Reads and decodes the next piece of the block being read.
  Feed feed();

  // Whether a signal block was started since the run last ended.
  bool active() const { return active_; }

  // Ends the signal: a block running up to its end is complete.
  void end();

  // Moves the bytes of the oldest decoded block into bytes. Returns false
  // when none waits.
  bool pop(std::vector<std::uint8_t>& bytes);

  // Whether an observer watches the signal.
  bool observed() const { return observer_ != nullptr; }

  // Signal the decoder never hears (a TZX tone or pulse sequence), between
  // runs: count half-waves of t_states each, shown to the observer only. Its
  // clock goes on by them; the decoder's does not.
  void pass_unheard(double t_states, std::uint64_t count);

private:
  enum class Source { NONE, DIRECT, CSW, PULSES };

  void start(Source source, std::uint64_t size);
  Feed feed_direct();
  Feed feed_csw();
  Feed feed_pulses();
  // One 16-bit word of a pulse list.
  void pulse_word(std::uint16_t word);
  void pulse(std::uint32_t count, std::uint32_t duration);

  LimitedInput block_; // the block being read
  Source source_ = Source::NONE;
  bool active_ = false;
  RecordingObserver* observer_;
  double unheard_ = 0; // T-states shown to the observer only
  PulseDecoder decoder_;
  PulseJoiner joiner_;
  std::array<std::uint8_t, 4096> chunk_{};

  // Direct recordings.
  std::uint8_t used_bits_ = 8;
  double t_states_ = 0;
  // CSW data, and the pulses read but not yet decoded.
  std::unique_ptr<CswRuns> runs_;
  std::array<CswPulses, 1024> pulses_{};
  std::size_t pulses_at_ = 0;
  std::size_t pulses_got_ = 0;
  double t_states_a_sample_ = 0;
  // Pulse lists: the level, and an entry or word still incomplete.
  bool level_ = false;
  enum class Expect { FIRST, DURATION, LOW } expect_ = Expect::FIRST;
  std::uint32_t count_ = 0;
  std::uint32_t high_ = 0;
  int half_word_ = -1; // the first byte of a word, -1 when none
};

} // namespace vetrik
