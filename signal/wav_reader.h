// Reads a WAV recording: the RIFF header's format and data chunks, then the
// samples in chunks, each channel as floats of about -1 to 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signal/signal_problem.h"

namespace vetrik {

class ImageInput;

enum class WavEncoding {
  PCM_8, // unsigned
  PCM_16,
  PCM_24,
  PCM_32,
  FLOAT_32,
  FLOAT_64,
  A_LAW,
  MU_LAW,
};

// Format tags of the fmt chunk.
inline constexpr std::uint32_t WAV_PCM = 1;
inline constexpr std::uint32_t WAV_FLOAT = 3;
inline constexpr std::uint32_t WAV_A_LAW = 6;
inline constexpr std::uint32_t WAV_MU_LAW = 7;
inline constexpr std::uint32_t WAV_EXTENSIBLE = 0xFFFE;

// Only the first channels are read; further ones are stepped over.
inline constexpr std::size_t WAV_MOST_CHANNELS = 8;

struct WavFormat {
  WavEncoding encoding = WavEncoding::PCM_16;
  std::uint32_t channels = 0;   // as the header gives them, 1 or more
  std::uint32_t rate = 0;       // samples a second, 1 or more
  std::uint32_t frame_size = 0; // bytes of one sample of every channel
};

class WavReader {
public:
  explicit WavReader(ImageInput& input) : input_(input) {}

  // Reads the header from the image's first byte up to the first sample.
  // Returns the problem: DAMAGED_WAV_HEADER (no RIFF WAVE form, no fmt chunk
  // before the data chunk, impossible fields, the image ending first) or
  // UNSUPPORTED_WAV_ENCODING; kind NONE when read() may be called.
  SignalProblem open();

  const WavFormat& format() const { return format_; }
  std::size_t read_channels() const {
    return format_.channels < WAV_MOST_CHANNELS ? format_.channels
                                                : WAV_MOST_CHANNELS;
  }

  // Reads the next whole frames, up to about 64 KB of them, into samples:
  // one vector for each of the read_channels(), resized to the frames read.
  // Returns how many were read: 0 at the end of the data chunk or of the
  // image (a frame cut by the end is dropped).
  std::size_t read(std::vector<std::vector<float>>& samples);

private:
  SignalProblem read_format(const std::uint8_t* fmt, std::uint32_t size);
  bool chunk_header(std::uint8_t* header);

  ImageInput& input_;
  WavFormat format_;
  std::uint64_t data_left_ = 0;
  int carried_ = -1; // a byte read as padding that was not, or -1
  std::vector<std::uint8_t> buffer_;
};

} // namespace vetrik
