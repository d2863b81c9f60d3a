#include "signal/wav_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes/image_input.h"

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes le(std::uint32_t v, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) {
    out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

Bytes text(const char* s) {
  return Bytes(s, s + std::strlen(s));
}

// A chunk with its size (or a claimed one) and, after an odd size, its pad.
Bytes chunk(const char* id, const Bytes& content, std::int64_t claimed = -1) {
  const auto size = static_cast<std::uint32_t>(
      claimed >= 0 ? claimed : static_cast<std::int64_t>(content.size()));
  return cat({text(id), le(size, 4), content,
              content.size() % 2 != 0 ? Bytes{0} : Bytes{}});
}

Bytes cut(Bytes image, std::size_t n) {
  image.resize(image.size() - n);
  return image;
}

Bytes riff(std::initializer_list<Bytes> chunks) {
  const Bytes body = cat(chunks);
  return cat({text("RIFF"), le(static_cast<std::uint32_t>(body.size() + 4), 4),
              text("WAVE"), body});
}

// fmt content: tag, channels, rate, bytes a second, frame size, bits.
Bytes fmt(std::uint32_t tag, std::uint32_t channels, std::uint32_t bits,
          std::uint32_t frame = 0, std::uint32_t rate = 44100) {
  if (frame == 0) {
    frame = channels * ((bits + 7) / 8);
  }
  return cat({le(tag, 2), le(channels, 2), le(rate, 4), le(rate * frame, 4),
              le(frame, 2), le(bits, 2)});
}

// The extensible form around a sub-format tag and the rest of its GUID.
const Bytes GUID_TAIL = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
Bytes extensible(std::uint32_t sub_tag, std::uint32_t channels,
                 std::uint32_t bits, const Bytes& tail = GUID_TAIL) {
  return cat({fmt(0xFFFE, channels, bits), le(22, 2), le(bits, 2), le(3, 4),
              le(sub_tag, 2), tail});
}

const Bytes SAMPLES = {1, 2, 3, 4};

struct Opened {
  std::string problem;
  std::size_t frames = 0;
};

Opened open_and_read(const Bytes& image) {
  MemoryInput input(image);
  WavReader reader(input);
  Opened out{signal_problem_text(reader.open())};
  if (out.problem.empty()) {
    std::vector<std::vector<float>> samples;
    for (std::size_t n; (n = reader.read(samples)) > 0;) {
      out.frames += n;
    }
  }
  return out;
}

TEST(WavReader, HeaderRules) {
  const std::string damaged = "damaged WAV header";
  struct Case {
    const char* name;
    Bytes image;
    std::string problem;
    std::size_t frames = 0;
  };
  const Case cases[] = {
      {"16-bit PCM",
       riff({chunk("fmt ", fmt(1, 1, 16)), chunk("data", SAMPLES)}), "", 2},
      {"chunks stepped over",
       riff({chunk("LIST", text("INFOx")), chunk("fmt ", fmt(1, 2, 8)),
             chunk("fact", le(4, 4)), chunk("bext", Bytes(11, 'b')),
             chunk("data", SAMPLES)}),
       "", 2},
      {"odd chunk without its pad",
       cat({text("RIFF"), le(0, 4), text("WAVE"), text("LIST"), le(3, 4),
            text("abc"), chunk("fmt ", fmt(1, 1, 8)), chunk("data", SAMPLES)}),
       "", 4},
      {"longer fmt",
       riff({chunk("fmt ", cat({fmt(1, 1, 8), Bytes(30, 9)})),
             chunk("data", SAMPLES)}),
       "", 4},
      {"data claims more than there is",
       riff({chunk("fmt ", fmt(1, 1, 8)), chunk("data", SAMPLES, 100000)}), "",
       4},
      {"data size 0 reads to the end",
       riff({chunk("fmt ", fmt(1, 1, 16)), chunk("data", SAMPLES, 0)}), "", 2},
      {"a cut frame is dropped",
       riff({chunk("fmt ", fmt(1, 1, 24)), chunk("data", SAMPLES)}), "", 1},
      {"extensible float",
       riff({chunk("fmt ", extensible(3, 1, 32)), chunk("data", SAMPLES)}), "",
       1},
      {"MP3", riff({chunk("fmt ", fmt(85, 1, 0, 1)), chunk("data", SAMPLES)}),
       "unsupported WAV encoding 85"},
      {"ADPCM", riff({chunk("fmt ", fmt(2, 1, 4, 1)), chunk("data", SAMPLES)}),
       "unsupported WAV encoding 2"},
      {"extensible MP3",
       riff({chunk("fmt ", extensible(85, 1, 16)), chunk("data", SAMPLES)}),
       "unsupported WAV encoding 85"},
      {"extensible with a foreign sub-format",
       riff({chunk("fmt ", extensible(1, 1, 16, Bytes(14, 7))),
             chunk("data", SAMPLES)}),
       "unsupported WAV encoding 65534"},
      {"no channels",
       riff({chunk("fmt ", fmt(1, 0, 16, 2)), chunk("data", SAMPLES)}),
       damaged},
      {"rate 0",
       riff({chunk("fmt ", fmt(1, 1, 16, 0, 0)), chunk("data", SAMPLES)}),
       damaged},
      {"frame size off",
       riff({chunk("fmt ", fmt(1, 2, 16, 2)), chunk("data", SAMPLES)}),
       damaged},
      {"PCM of 40 bits",
       riff({chunk("fmt ", fmt(1, 1, 40)), chunk("data", SAMPLES)}), damaged},
      {"float of 16 bits",
       riff({chunk("fmt ", fmt(3, 1, 16)), chunk("data", SAMPLES)}), damaged},
      {"A-law of 16 bits",
       riff({chunk("fmt ", fmt(6, 1, 16)), chunk("data", SAMPLES)}), damaged},
      {"fmt too short",
       riff({chunk("fmt ", Bytes(14, 1)), chunk("data", SAMPLES)}), damaged},
      {"extensible too short",
       riff({chunk("fmt ", cat({fmt(0xFFFE, 1, 16), le(0, 2)})),
             chunk("data", SAMPLES)}),
       damaged},
      {"data before fmt",
       riff({chunk("data", SAMPLES), chunk("fmt ", fmt(1, 1, 16))}), damaged},
      {"no data chunk", riff({chunk("fmt ", fmt(1, 1, 16))}), damaged},
      {"a chunk runs past the end",
       riff({chunk("fmt ", fmt(1, 1, 16)), chunk("LIST", SAMPLES, 1 << 30),
             chunk("data", SAMPLES)}),
       damaged},
      {"fmt cut by the end", cut(riff({chunk("fmt ", fmt(1, 1, 16))}), 4),
       damaged},
      {"not RIFF WAVE", cat({text("RIFF"), le(4, 4), text("AVI ")}), damaged},
      {"cut in the RIFF header", text("RIFF"), damaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Opened got = open_and_read(c.image);
    EXPECT_EQ(got.problem, c.problem);
    EXPECT_EQ(got.frames, c.frames);
  }
}

TEST(WavReader, EveryEncodingReadsAsFloatsAroundZero) {
  struct Case {
    const char* name;
    Bytes format;
    Bytes data;
    std::vector<float> want; // channel 0, then the last channel read
  };
  const float nan_bits = std::numeric_limits<float>::quiet_NaN();
  std::uint32_t nan = 0, quarter = 0, huge = 0;
  const float q = 0.25F, h = 1e30F;
  std::memcpy(&nan, &nan_bits, 4);
  std::memcpy(&quarter, &q, 4);
  std::memcpy(&huge, &h, 4);
  const double minus_half = -0.5;
  std::uint64_t half64 = 0;
  std::memcpy(&half64, &minus_half, 8);
  const Case cases[] = {
      {"PCM 8, unsigned",
       fmt(1, 1, 8),
       {0x00, 0x80, 0xFF},
       {-1, 0, 127 / 128.F}},
      {"PCM 16", fmt(1, 1, 16), cat({le(0x8000, 2), le(0x4000, 2)}), {-1, 0.5}},
      {"PCM 24",
       fmt(1, 1, 24),
       cat({le(0x800000, 3), le(0xC00000, 3)}),
       {-1, -0.5}},
      {"PCM 32",
       fmt(1, 1, 32),
       cat({le(0x80000000, 4), le(0x40000000, 4)}),
       {-1, 0.5}},
      {"float 32, kept finite",
       fmt(3, 1, 32),
       cat({le(quarter, 4), le(nan, 4), le(huge, 4)}),
       {0.25, 0, 1000}},
      {"float 64",
       fmt(3, 1, 64),
       cat({le(static_cast<std::uint32_t>(half64), 4),
            le(static_cast<std::uint32_t>(half64 >> 32), 4)}),
       {-0.5}},
      {"A-law",
       fmt(6, 1, 8),
       {0xD5, 0x55, 0xAA, 0x2A},
       {8 / 32768.F, -8 / 32768.F, 32256 / 32768.F, -32256 / 32768.F}},
      {"mu-law",
       fmt(7, 1, 8),
       {0xFF, 0x80, 0x00},
       {0, 32124 / 32768.F, -32124 / 32768.F}},
      {"two channels",
       fmt(1, 2, 16),
       cat({le(0x8000, 2), le(0x4000, 2), le(0x2000, 2), le(0xC000, 2)}),
       {-1, 0.25, 0.5, -0.5}},
      {"nine channels: the first eight are read",
       fmt(1, 9, 8),
       cat({Bytes{0x00, 1, 2, 3, 4, 5, 6, 0xC0, 9},
            Bytes{0x40, 1, 2, 3, 4, 5, 6, 0x80, 9}}),
       {-1, -0.5, 0.5, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes image = riff({chunk("fmt ", c.format), chunk("data", c.data)});
    MemoryInput input(image);
    WavReader reader(input);
    ASSERT_EQ(reader.open().kind, SignalProblemKind::NONE);
    std::vector<std::vector<float>> samples;
    const std::size_t frames = reader.read(samples);
    std::vector<float> got = samples[0];
    if (samples.size() > 1) {
      got.insert(got.end(), samples.back().begin(), samples.back().end());
    }
    ASSERT_EQ(got.size(), c.want.size()) << frames;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_FLOAT_EQ(got[i], c.want[i]) << i;
    }
  }
}

} // namespace
} // namespace vetrik
