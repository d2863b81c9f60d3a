// Reads a CSW recording (compressed square wave): a header with the sample
// rate, compression and initial level, then each pulse's length in samples,
// run-length coded and, in Z-RLE, compressed with zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "signal/pulse_decoder.h"
#include "signal/signal_problem.h"

namespace vetrik {

class ImageInput;

// Compression types as CSW stores them.
inline constexpr std::uint32_t CSW_RLE = 1;
inline constexpr std::uint32_t CSW_Z_RLE = 2;

// Pulses of one length, one after another.
struct CswPulses {
  std::uint32_t samples = 0; // the length of each
  std::uint64_t count = 0;
};

// Pulse lengths out of CSW data, for a CSW image or a recording block inside
// another format.
class CswRuns {
public:
  // Reads the data of the given compression (CSW_RLE or CSW_Z_RLE) from
  // data, up to its end.
  CswRuns(ImageInput& data, std::uint32_t compression);
  ~CswRuns();
  CswRuns(const CswRuns&) = delete;
  CswRuns& operator=(const CswRuns&) = delete;

  // Reads the next pulses into runs, up to most entries, each pulses of one
  // length in samples (a pulse of 0 samples is possible and is no pulse).
  // Many equal pulses in a row come as one entry, or a few, so that they
  // cost about what their bytes do. Returns how many entries: 0 at the end of
  // the data, where a pulse cut short is dropped, or where it broke (see
  // damaged()).
  std::size_t read(CswPulses* runs, std::size_t most);

  // Whether the Z-RLE stream broke; the runs before the break are given.
  // Data that ends before its stream does is no break here.
  bool damaged() const { return damaged_; }

  // Whether the data ended before its Z-RLE stream did; the runs it held are
  // given. The caller tells whether that is a recording cut short or a
  // broken stream.
  bool ended_early() const { return ended_early_; }

private:
  struct Inflater;
  bool fill();

  ImageInput& data_;
  std::unique_ptr<Inflater> inflater_; // none for RLE
  std::vector<std::uint8_t> bytes_;    // run-length coded bytes
  std::size_t at_ = 0;
  std::size_t end_ = 0;
  std::uint32_t long_run_ = 0; // a 4-byte length being gathered
  int long_bytes_ = -1;        // its bytes so far, -1 when none
  bool damaged_ = false;
  bool ended_early_ = false;
};

// Adds pulses to joiner, each sample t_states long, the first at level and
// each next one at the other level, up to the one that completes a block of
// decoder (the joiner's), so that no more than one waits. Returns how many
// were added; level becomes the level after them.
std::size_t add_csw_pulses(std::span<const CswPulses> pulses, double t_states,
                           PulseJoiner& joiner, const PulseDecoder& decoder,
                           bool& level);

struct CswFormat {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t rate = 0; // samples a second, 1 or more
  std::uint32_t compression = CSW_RLE;
  bool initial_high = false; // the level of the first pulse
};

class CswReader {
public:
  explicit CswReader(ImageInput& input) : input_(input) {}

  // Reads the header from the image's first byte. Returns the problem:
  // DAMAGED_CSW_HEADER (no signature, a version other than 1 or 2, a rate
  // of 0, the image ending inside it) or UNSUPPORTED_CSW_COMPRESSION; kind
  // NONE when read() may be called.
  SignalProblem open();

  const CswFormat& format() const { return format_; }

  // The next pulses, as CswRuns::read.
  std::size_t read(CswPulses* runs, std::size_t most) {
    return runs_ ? runs_->read(runs, most) : 0;
  }

  // DAMAGED_CSW_DATA once the compressed data broke, else kind NONE: data
  // that ends before its stream does is a recording cut short.
  SignalProblem problem() const;

private:
  ImageInput& input_;
  CswFormat format_;
  std::unique_ptr<CswRuns> runs_;
};

} // namespace vetrik
