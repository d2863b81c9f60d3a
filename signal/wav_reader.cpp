// WAV header and sample decoding.
#include "signal/wav_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "bytes/image_format.h"
#include "bytes/image_input.h"
#include "bytes/little_endian.h"

namespace vetrik {

namespace {

// RIFF layout: "RIFF", size of the rest (not trusted), "WAVE", then chunks
// of id (4) + size (4) + data, padded to an even length.
inline constexpr std::size_t RIFF_HEADER_SIZE = 4 + 4 + 4;
inline constexpr std::size_t CHUNK_HEADER_SIZE = 4 + 4;
// fmt: tag 2, channels 2, rate 4, bytes a second 4, frame size 2, bits 2;
// the extensible form adds extra size 2, valid bits 2, channel mask 4 and a
// 16-byte sub-format whose first 2 bytes are the tag.
inline constexpr std::uint32_t FORMAT_SIZE = 16;
inline constexpr std::uint32_t EXTENSIBLE_FORMAT_SIZE = 16 + 2 + 22;
inline constexpr std::uint32_t EXTENSIBLE_EXTRA_SIZE = 22;
inline constexpr std::size_t SUB_FORMAT_OFFSET = 24;
// The sub-format's bytes after its tag.
inline constexpr std::array<std::uint8_t, 14> SUB_FORMAT_TAIL = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// A data size that means "to the end", from writers that could not go back.
inline constexpr std::uint32_t SIZE_UNKNOWN = 0xFFFFFFFF;

inline constexpr std::size_t READ_BYTES = 65536;
// Float samples beyond this are damage, not signal; kept finite.
inline constexpr double FLOAT_LIMIT = 1000;

SignalProblem damaged() {
  return {SignalProblemKind::DAMAGED_WAV_HEADER, 0};
}

// G.711 expansion to 16-bit values.
std::array<float, 256> law_table(bool a_law) {
  std::array<float, 256> table{};
  for (int code = 0; code < 256; ++code) {
    int value = 0;
    if (a_law) {
      const int a = code ^ 0x55;
      const int exponent = (a >> 4) & 7;
      const int mantissa = a & 0x0F;
      value = exponent == 0 ? (mantissa << 4) + 8
                            : ((mantissa << 4) + 0x108) << (exponent - 1);
      value = (a & 0x80) != 0 ? value : -value;
    } else {
      const int u = ~code & 0xFF;
      const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
      value = (u & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84;
    }
    table[static_cast<std::size_t>(code)] = static_cast<float>(value) / 32768;
  }
  return table;
}

float finite(double v) {
  return std::isfinite(v)
             ? static_cast<float>(std::clamp(v, -FLOAT_LIMIT, FLOAT_LIMIT))
             : 0.0F;
}

// One channel's samples, of SIZE bytes, out of interleaved frames; a mono
// recording's at a stride the compiler knows, which it can vectorise.
template <std::size_t SIZE, typename Decode>
void take_channel(const std::uint8_t* p, std::size_t frames, std::size_t stride,
                  float* out, Decode decode) {
  if (stride == SIZE) {
    for (std::size_t f = 0; f < frames; ++f) {
      out[f] = decode(p + f * SIZE);
    }
    return;
  }
  for (std::size_t f = 0; f < frames; ++f, p += stride) {
    out[f] = decode(p);
  }
}

void decode_channel(WavEncoding encoding, const std::uint8_t* p,
                    std::size_t frames, std::size_t stride, float* out) {
  static const std::array<float, 256> a_law = law_table(true);
  static const std::array<float, 256> mu_law = law_table(false);
  switch (encoding) {
  case WavEncoding::PCM_8:
    take_channel<1>(p, frames, stride, out, [](const std::uint8_t* s) {
      return static_cast<float>(s[0] - 128) / 128;
    });
    break;
  case WavEncoding::PCM_16:
    take_channel<2>(p, frames, stride, out, [](const std::uint8_t* s) {
      return static_cast<float>(static_cast<std::int16_t>(le16(s))) / 32768;
    });
    break;
  case WavEncoding::PCM_24:
    take_channel<3>(p, frames, stride, out, [](const std::uint8_t* s) {
      // Moved to the top of 32 bits, where the sign is.
      const std::uint32_t bits =
          (s[0] << 8) | (s[1] << 16) | (std::uint32_t{s[2]} << 24);
      return static_cast<float>(static_cast<std::int32_t>(bits)) /
             2147483648.0F;
    });
    break;
  case WavEncoding::PCM_32:
    take_channel<4>(p, frames, stride, out, [](const std::uint8_t* s) {
      return static_cast<float>(static_cast<std::int32_t>(le32(s))) /
             2147483648.0F;
    });
    break;
  case WavEncoding::FLOAT_32:
    take_channel<4>(p, frames, stride, out, [](const std::uint8_t* s) {
      const std::uint32_t bits = le32(s);
      float v = 0;
      std::memcpy(&v, &bits, sizeof v);
      return finite(v);
    });
    break;
  case WavEncoding::FLOAT_64:
    take_channel<8>(p, frames, stride, out, [](const std::uint8_t* s) {
      const std::uint64_t bits = le32(s) | std::uint64_t{le32(s + 4)} << 32;
      double v = 0;
      std::memcpy(&v, &bits, sizeof v);
      return finite(v);
    });
    break;
  case WavEncoding::A_LAW:
    take_channel<1>(p, frames, stride, out,
                    [](const std::uint8_t* s) { return a_law[s[0]]; });
    break;
  case WavEncoding::MU_LAW:
    take_channel<1>(p, frames, stride, out,
                    [](const std::uint8_t* s) { return mu_law[s[0]]; });
    break;
  }
}

} // namespace

bool WavReader::chunk_header(std::uint8_t* header) {
  std::size_t have = 0;
  if (carried_ >= 0) {
    header[have++] = static_cast<std::uint8_t>(carried_);
    carried_ = -1;
  }
  return read_exactly(input_, header + have, CHUNK_HEADER_SIZE - have);
}

SignalProblem WavReader::open() {
  std::uint8_t riff[RIFF_HEADER_SIZE];
  if (!read_exactly(input_, riff, sizeof riff) ||
      !holds_at(riff, 0, WAV_RIFF) || !holds_at(riff, WAV_WAVE_AT, WAV_WAVE)) {
    return damaged();
  }
  bool have_format = false;
  for (;;) {
    std::uint8_t header[CHUNK_HEADER_SIZE];
    if (!chunk_header(header)) {
      return damaged(); // the image ended before the data chunk
    }
    const std::uint32_t size = le32(header + 4);
    if (std::memcmp(header, "data", 4) == 0) {
      if (!have_format) {
        return damaged();
      }
      data_left_ = size == 0 || size == SIZE_UNKNOWN
                       ? std::numeric_limits<std::uint64_t>::max()
                       : size;
      return {};
    }
    std::uint32_t used = 0;
    if (std::memcmp(header, "fmt ", 4) == 0 && !have_format) {
      std::uint8_t fmt[EXTENSIBLE_FORMAT_SIZE] = {};
      used = std::min(size, EXTENSIBLE_FORMAT_SIZE);
      if (!read_exactly(input_, fmt, used)) {
        return damaged();
      }
      const SignalProblem problem = read_format(fmt, used);
      if (problem.kind != SignalProblemKind::NONE) {
        return problem;
      }
      have_format = true;
    }
    if (!skip_bytes(input_, size - used)) {
      return damaged();
    }
    if (size % 2 != 0) {
      // Padding; some writers leave it out, and then this is the next id.
      std::uint8_t pad = 0;
      if (!read_exactly(input_, &pad, 1)) {
        return damaged();
      }
      carried_ = pad != 0 ? pad : -1;
    }
  }
}

SignalProblem WavReader::read_format(const std::uint8_t* fmt,
                                     std::uint32_t size) {
  if (size < FORMAT_SIZE) {
    return damaged();
  }
  std::uint32_t tag = le16(fmt);
  const std::uint32_t channels = le16(fmt + 2);
  const std::uint32_t rate = le32(fmt + 4);
  const std::uint32_t frame_size = le16(fmt + 12);
  const std::uint32_t bits = le16(fmt + 14);
  if (tag == WAV_EXTENSIBLE) {
    if (size < EXTENSIBLE_FORMAT_SIZE ||
        le16(fmt + 16) < EXTENSIBLE_EXTRA_SIZE) {
      return damaged();
    }
    if (std::memcmp(fmt + SUB_FORMAT_OFFSET + 2, SUB_FORMAT_TAIL.data(),
                    SUB_FORMAT_TAIL.size()) != 0) {
      return {SignalProblemKind::UNSUPPORTED_WAV_ENCODING, WAV_EXTENSIBLE};
    }
    tag = le16(fmt + SUB_FORMAT_OFFSET);
  }
  const std::uint32_t sample_size = (bits + 7) / 8;
  switch (tag) {
  case WAV_PCM: {
    constexpr WavEncoding BY_SIZE[] = {WavEncoding::PCM_8, WavEncoding::PCM_16,
                                       WavEncoding::PCM_24,
                                       WavEncoding::PCM_32};
    if (sample_size < 1 || sample_size > 4) {
      return damaged();
    }
    format_.encoding = BY_SIZE[sample_size - 1];
    break;
  }
  case WAV_FLOAT:
    if (bits != 32 && bits != 64) {
      return damaged();
    }
    format_.encoding =
        bits == 32 ? WavEncoding::FLOAT_32 : WavEncoding::FLOAT_64;
    break;
  case WAV_A_LAW:
  case WAV_MU_LAW:
    if (bits != 8) {
      return damaged();
    }
    format_.encoding =
        tag == WAV_A_LAW ? WavEncoding::A_LAW : WavEncoding::MU_LAW;
    break;
  default:
    return {SignalProblemKind::UNSUPPORTED_WAV_ENCODING, tag};
  }
  if (channels == 0 || rate == 0 || frame_size != channels * sample_size) {
    return damaged();
  }
  format_.channels = channels;
  format_.rate = rate;
  format_.frame_size = frame_size;
  return {};
}

std::size_t WavReader::read(std::vector<std::vector<float>>& samples) {
  const std::size_t frame = format_.frame_size;
  samples.resize(read_channels());
  if (frame == 0 || data_left_ < frame) {
    return 0;
  }
  const std::size_t most = std::max<std::size_t>(1, READ_BYTES / frame);
  const std::size_t want = static_cast<std::size_t>(
      std::min<std::uint64_t>(most, data_left_ / frame));
  buffer_.resize(want * frame);
  const std::int32_t got =
      input_.read(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
  const std::size_t frames =
      got > 0 ? static_cast<std::size_t>(got) / frame : 0;
  data_left_ = frames == want ? data_left_ - want * frame : 0;
  const std::size_t sample_size = frame / format_.channels;
  for (std::size_t c = 0; c < samples.size(); ++c) {
    samples[c].resize(frames);
    decode_channel(format_.encoding, buffer_.data() + c * sample_size, frames,
                   frame, samples[c].data());
  }
  return frames;
}

} // namespace vetrik
