#include "signal/recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tape/image_input.h"
#include "tests/signal_builder.h"

namespace vetrik {
namespace {

using recording::Samples;
using recording::Speed;
using tape::Bytes;

// Three files, each a header and a data block.
const Bytes& source_tape() {
  static const Bytes tape = [] {
    Bytes t = tape::tape_file("loader", tape::pattern(40, 11), 0);
    tape::append(t, tape::tape_file("screen", tape::pattern(300, 12), 3));
    tape::append(t, tape::tape_file("code", tape::pattern(120, 13), 3));
    return t;
  }();
  return tape;
}

struct Decoded {
  std::vector<Bytes> blocks;
  std::string problem;
};

Decoded decode(const Bytes& image) {
  MemoryInput input(image);
  RecordingReader reader(input);
  Decoded out;
  Bytes block;
  while (reader.next_block(block)) {
    out.blocks.push_back(block);
  }
  out.problem = reader.problem();
  return out;
}

// A recording of the source tape and what happened to it on its way to the
// file, in this order: the tape played at a speed, its sound filtered and
// noisy, then recorded at a rate, at a level, with an offset, clipped.
struct Transfer {
  const char* name;
  double rate = 44100;
  WavEncoding encoding = WavEncoding::PCM_16;
  Speed speed{};
  double lead_in = 0; // seconds before the first block; 0: it starts at once
  double tail = 0;    // after the last; 0: the last sample ends it
  // Where the sound is made: 0 for rate, else it is resampled to rate. Noise
  // is white up to half this rate, so the same ratio means the same hiss
  // whatever the rate of the file.
  double sound_rate = 0;
  double low_pass_hz = 0;
  double snr_db = 0;       // no noise when 0
  double high_pass_hz = 0; // AC coupling
  double level_db = -3;
  double dc = 0;
  double clip_at = 0;
  bool inverted = false;
};

Samples transferred(const Transfer& t) {
  recording::SaveOptions save;
  save.lead_in = t.lead_in;
  save.tail = t.tail;
  save.gap = 0.7;
  recording::Signal signal = recording::save_signal(source_tape(), save);
  const double sound_rate = t.sound_rate > 0 ? t.sound_rate : t.rate;
  // Filters put the end late: the recording ends where the last half-wave
  // ends as they pass it on.
  double delay =
      t.low_pass_hz > 0 ? recording::low_pass_delay(t.low_pass_hz) : 0;
  if (t.rate < sound_rate) {
    delay += recording::low_pass_delay(0.45 * t.rate);
  }
  const double length = recording::duration(signal, t.speed) + delay;
  signal.push_back({4 * delay * 3500000, 0});

  Samples s = recording::render(signal, sound_rate, t.speed);
  if (t.low_pass_hz > 0) {
    recording::low_pass(s, sound_rate, t.low_pass_hz);
  }
  if (t.snr_db != 0) {
    recording::add_noise(s, 1, t.snr_db, 7);
  }
  if (t.high_pass_hz > 0) {
    recording::high_pass(s, sound_rate, t.high_pass_hz);
  }
  if (sound_rate != t.rate) {
    s = recording::resample(s, sound_rate, t.rate);
  }
  s.resize(static_cast<std::size_t>(std::ceil(length * t.rate - 1e-9)));
  recording::scale(s, t.level_db);
  recording::offset(s, t.dc);
  if (t.clip_at > 0) {
    recording::clip(s, t.clip_at);
  }
  if (t.inverted) {
    recording::invert(s);
  }
  return s;
}

class TransferTest : public ::testing::TestWithParam<Transfer> {};

TEST_P(TransferTest, DecodesToExactlyTheBlocksOfTheTape) {
  const Transfer& t = GetParam();
  const Bytes image = recording::wav(
      {transferred(t)}, static_cast<std::uint32_t>(t.rate), t.encoding);
  const Decoded got = decode(image);
  EXPECT_EQ(got.problem, "");
  const std::vector<Bytes> want = recording::tap_blocks(source_tape());
  ASSERT_EQ(got.blocks.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got.blocks[i], want[i]) << "block " << i;
  }
}

Speed speed(double factor, double drift = 0, double wow = 0,
            double flutter = 0) {
  return {factor, drift, wow, 0.7, flutter, 11};
}

constexpr WavEncoding PCM_8 = WavEncoding::PCM_8;

INSTANTIATE_TEST_SUITE_P(
    Damage, TransferTest,
    ::testing::Values(
        Transfer{"Clean"}, Transfer{.name = "Noise8dB", .snr_db = 8},
        Transfer{.name = "LowPass3kHz", .low_pass_hz = 3000},
        Transfer{.name = "AcCoupling", .high_pass_hz = 150},
        Transfer{
            .name = "Level30dBDown8Bit", .encoding = PCM_8, .level_db = -30},
        Transfer{.name = "Clipped",
                 .low_pass_hz = 5000,
                 .level_db = 12,
                 .clip_at = 1},
        Transfer{.name = "DcOffset", .level_db = -10, .dc = 0.45},
        Transfer{.name = "Inverted", .inverted = true},
        Transfer{.name = "Rate11025Bits8", .rate = 11025, .encoding = PCM_8},
        Transfer{.name = "Rate8000", .rate = 8000},
        Transfer{.name = "Fast10Percent", .speed = speed(1.1)},
        Transfer{.name = "Slow10Percent", .speed = speed(0.9)},
        Transfer{.name = "DriftSlowToFast", .speed = speed(0.92, 0.16)},
        Transfer{.name = "WowAndFlutter", .speed = speed(1, 0, 0.03, 0.02)},
        Transfer{
            .name = "Resampled48kTo11025", .rate = 11025, .sound_rate = 48000},
        Transfer{
            .name = "NoiseAround", .lead_in = 1.5, .tail = 1.5, .snr_db = 12},
        Transfer{.name = "SilenceAround", .lead_in = 1.5, .tail = 1.5},
        // Mixes, as transfers go wrong together.
        Transfer{.name = "OldCassette",
                 .rate = 22050,
                 .speed = speed(0.93, 0.03, 0.02, 0.01),
                 .low_pass_hz = 3000,
                 .snr_db = 12,
                 .high_pass_hz = 100,
                 .level_db = -30},
        Transfer{.name = "CheapCard",
                 .rate = 11025,
                 .encoding = PCM_8,
                 .speed = speed(1.06, 0, 0.02),
                 .sound_rate = 44100,
                 .low_pass_hz = 3000,
                 .snr_db = 8,
                 .high_pass_hz = 200,
                 .level_db = -20,
                 .dc = 0.1,
                 .inverted = true},
        Transfer{.name = "HotAndNoisy",
                 .speed = speed(0.9),
                 .snr_db = 8,
                 .level_db = 10,
                 .dc = -0.2,
                 .clip_at = 1,
                 .inverted = true},
        Transfer{.name = "Everything",
                 .rate = 11025,
                 .encoding = PCM_8,
                 .speed = speed(1.1, -0.05, 0.02, 0.01),
                 .lead_in = 1,
                 .tail = 1,
                 .sound_rate = 44100,
                 .low_pass_hz = 3000,
                 .snr_db = 8,
                 .high_pass_hz = 100,
                 .level_db = -30,
                 .dc = 0.02,
                 .inverted = true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vetrik
