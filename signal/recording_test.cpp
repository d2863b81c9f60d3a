#include "signal/recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bytes/image_input.h"
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
  RecordingReader reader(input, image_format(image));
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
  // On the tape, with its hiss: rumble and pink noise (brown and pink noise
  // at these SNRs), mains hum
  // (with its harmonics, at this level over the signal), dropouts of this
  // depth for this long once a second, and clicks this many times the
  // signal's height twice a second.
  double rumble_db = 0; // none when 0
  double pink_db = 0;   // none when 0
  double hum_db = 0;    // none when 0
  double hum_hz = 50;
  double dropout_db = 0; // none when 0
  double dropout_seconds = 0.08;
  double click_height = 0; // none when 0
};

Samples transferred(const Transfer& t) {
  recording::SaveOptions save;
  save.lead_in = t.lead_in;
  save.tail = t.tail;
  save.gap = 0.7;
  const recording::Signal signal = recording::save_signal(source_tape(), save);
  const double sound_rate = t.sound_rate > 0 ? t.sound_rate : t.rate;
  Samples s = recording::render(signal, sound_rate, t.speed);
  if (t.low_pass_hz > 0) {
    recording::low_pass(s, sound_rate, t.low_pass_hz);
  }
  if (t.snr_db != 0) {
    recording::add_noise(s, 1, t.snr_db, 7);
  }
  if (t.rumble_db != 0) {
    recording::add_coloured_noise(s, sound_rate, 1, t.rumble_db, 2, 8);
  }
  if (t.pink_db != 0) {
    recording::add_coloured_noise(s, sound_rate, 1, t.pink_db, 1, 12);
  }
  if (t.dropout_db != 0) {
    recording::add_dropouts(s, sound_rate, t.dropout_db, t.dropout_seconds, 1,
                            9);
  }
  if (t.hum_db != 0) {
    recording::add_hum(s, sound_rate, 1, t.hum_db, t.hum_hz, 10);
  }
  if (t.click_height != 0) {
    recording::add_clicks(s, sound_rate, 1, t.click_height, 2, 11);
  }
  if (t.high_pass_hz > 0) {
    recording::high_pass(s, sound_rate, t.high_pass_hz);
  }
  if (sound_rate != t.rate) {
    s = recording::resample(s, sound_rate, t.rate);
  }
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
        Transfer{.name = "LowPass3kHz", .low_pass_hz = 1550},
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
                 .inverted = true},
        // What only the wave's shape reads: hiss louder than edges stand,
        // hum and rumble under the signal (recorded low enough not to
        // clip), dropouts, clicks.
        Transfer{.name = "HeavyHiss", .snr_db = 4},
        Transfer{.name = "Hum50HzAbove", .level_db = -18, .hum_db = 12},
        Transfer{.name = "Hum60HzAbove",
                 .level_db = -18,
                 .hum_db = 12,
                 .hum_hz = 60},
        Transfer{.name = "Rumble", .level_db = -12, .rumble_db = 0},
        Transfer{.name = "PinkNoise", .level_db = -12, .pink_db = 5},
        Transfer{.name = "WornHeads", .low_pass_hz = 1550},
        Transfer{.name = "DeepDropouts", .snr_db = 30, .dropout_db = 40},
        Transfer{.name = "Clicks", .click_height = 3},
        // A worn cassette on a poor deck: most of the above at once, with
        // shallow dropouts, which must not be taken for steps in level.
        Transfer{.name = "WornCassette",
                 .speed = speed(1, 0, 0.005, 0.003),
                 .low_pass_hz = 2600,
                 .high_pass_hz = 150,
                 .level_db = -12,
                 .pink_db = 12,
                 .hum_db = -6,
                 .dropout_db = 6,
                 .dropout_seconds = 0.02}),
    [](const auto& info) { return std::string(info.param.name); });

// One file: a header and 100 bytes of data.
const Bytes& short_tape() {
  static const Bytes tape = tape::tape_file("short", tape::pattern(100, 5), 3);
  return tape;
}

// tape, played with gaps of 0.3 s at half the full swing, with noise.
Samples played(const Bytes& tape, double rate, double snr_db = 0,
               std::uint32_t seed = 1) {
  recording::SaveOptions save;
  save.gap = 0.3;
  Samples s = recording::render(recording::save_signal(tape, save), rate);
  recording::scale(s, -6);
  if (snr_db != 0) {
    recording::add_noise(s, 0.5, snr_db, seed);
  }
  return s;
}

TEST(Recording, EveryWavEncodingInBothHeaderFormsDecodes) {
  const Samples samples = played(short_tape(), 22050, 20);
  for (WavEncoding encoding :
       {WavEncoding::PCM_8, WavEncoding::PCM_16, WavEncoding::PCM_24,
        WavEncoding::PCM_32, WavEncoding::FLOAT_32, WavEncoding::FLOAT_64,
        WavEncoding::A_LAW, WavEncoding::MU_LAW}) {
    for (bool extensible : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << static_cast<int>(encoding) << " " << extensible);
      const Bytes image =
          recording::wav({samples}, 22050, encoding, {extensible, extensible});
      const Decoded got = decode(image);
      EXPECT_EQ(got.problem, "");
      EXPECT_EQ(got.blocks, recording::tap_blocks(short_tape()));
    }
  }
}

// Seconds from the start of the source tape, played with gaps of 0.3 s, to
// the middle of the bytes of its block i.
double middle_of_block(std::size_t i) {
  recording::SaveOptions save;
  save.gap = 0.3;
  double seconds = 0;
  std::size_t gaps = 0;
  for (const recording::Piece& p :
       recording::save_signal(source_tape(), save)) {
    if (p.level == 0 && gaps++ == i) {
      break;
    }
    seconds += p.t_states / 3500000;
  }
  const std::size_t bytes = recording::tap_blocks(source_tape())[i].size();
  return seconds - static_cast<double>(bytes) * 8 * (855 + 1710) / 3500000 / 2;
}

// The samples, silenced for 400 samples in the middle of the bytes of the
// given blocks of the source tape.
Samples with_dropouts(Samples s, std::initializer_list<std::size_t> blocks,
                      double rate) {
  for (std::size_t block : blocks) {
    const auto from = static_cast<std::size_t>(middle_of_block(block) * rate);
    std::fill(s.begin() + static_cast<std::ptrdiff_t>(from),
              s.begin() + static_cast<std::ptrdiff_t>(from + 400), 0.0F);
  }
  return s;
}

TEST(Recording, EachBlockComesFromTheChannelThatCarriesIt) {
  const double rate = 22050;
  const Samples good = played(source_tape(), rate, 20);
  const Samples silent(good.size(), 0.0F);
  Samples noise(good.size(), 0.0F);
  recording::add_noise(noise, 1, 0, 3);
  Samples weak_noisy = good;
  recording::scale(weak_noisy, -30);
  recording::add_noise(weak_noisy, 0.02, 3, 4);
  Samples inverted = good;
  recording::invert(inverted);
  const Samples first_damaged = with_dropouts(good, {1, 3}, rate);
  const Samples second_damaged = with_dropouts(good, {4}, rate);
  struct Case {
    const char* name;
    std::vector<Samples> channels;
  };
  const Case cases[] = {
      {"good, silent", {good, silent}},
      {"silent, good", {silent, good}},
      {"noise, good", {noise, good}},
      {"weak and noisy, good", {weak_noisy, good}},
      {"good, inverted", {good, inverted}},
      {"damaged in turn", {first_damaged, second_damaged, silent}},
      {"nine channels, the first good",
       {good, silent, silent, silent, silent, silent, silent, silent, noise}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded got =
        decode(recording::wav(c.channels, 22050, WavEncoding::PCM_16));
    EXPECT_EQ(got.blocks, recording::tap_blocks(source_tape()));
  }
  // Each damaged channel alone does lose blocks: the choice is what saves
  // them.
  EXPECT_NE(decode(recording::wav({first_damaged}, 22050, WavEncoding::PCM_16))
                .blocks,
            recording::tap_blocks(source_tape()));
  EXPECT_NE(decode(recording::wav({second_damaged}, 22050, WavEncoding::PCM_16))
                .blocks,
            recording::tap_blocks(source_tape()));
}

TEST(Recording, EveryCswVariantDecodes) {
  recording::SaveOptions save;
  save.gap = 0.5;
  const recording::Signal signal = recording::save_signal(source_tape(), save);
  const struct {
    recording::CswVariant variant;
    std::uint32_t rate;
    Speed speed;
  } cases[] = {
      {recording::CswVariant::V1_RLE, 44100, {}},
      {recording::CswVariant::V2_RLE, 22050, speed(0.9)},
      {recording::CswVariant::V2_Z_RLE, 44100, speed(1.05, 0, 0.03)},
      {recording::CswVariant::V2_Z_RLE, 3500000, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const Decoded got =
        decode(recording::csw(signal, c.rate, c.variant, c.speed));
    EXPECT_EQ(got.problem, "");
    EXPECT_EQ(got.blocks, recording::tap_blocks(source_tape()));
  }
}

// Counts the reads and their largest size.
class CountingInput final : public ImageInput {
public:
  explicit CountingInput(ImageInput& inner) : inner_(inner) {}
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override {
    ++reads;
    largest = std::max(largest, n);
    return inner_.read(destination, n);
  }
  int reads = 0;
  std::int32_t largest = 0;

private:
  ImageInput& inner_;
};

TEST(Recording, TheImageIsReadInChunksAsBlocksNeedIt) {
  const Bytes image = recording::wav({played(source_tape(), 44100)}, 44100,
                                     WavEncoding::PCM_16);
  MemoryInput memory(image);
  CountingInput input(memory);
  // As the tool reads it: its first bytes are looked at to tell its format.
  PeekableInput peekable(input);
  RecordingReader reader(peekable,
                         image_format(peekable.peek(IMAGE_FORMAT_BYTES)));
  Bytes block;
  ASSERT_TRUE(reader.next_block(block));
  EXPECT_EQ(block, recording::tap_blocks(source_tape())[0]);
  // The first block ends about 6 s into the 26 s recording.
  EXPECT_LT(input.reads * 65536LL, static_cast<long long>(image.size()) / 3);
  while (reader.next_block(block)) {
  }
  EXPECT_LE(input.largest, 65536);
  EXPECT_GT(input.reads, static_cast<int>(image.size() / 65536));
}

TEST(Recording, BytesTheCallerPeekedAtFirstAreTakenAsTheImagesStart) {
  const Bytes image = recording::csw(recording::save_signal(short_tape()),
                                     44100, recording::CswVariant::V2_RLE);
  for (std::size_t head : {0, 1, 5, 23, 60}) {
    SCOPED_TRACE(head);
    MemoryInput memory(image);
    PeekableInput input(memory);
    input.peek(head);
    RecordingReader reader(input, ImageFormat::CSW);
    std::vector<Bytes> blocks;
    for (Bytes b; reader.next_block(b);) {
      blocks.push_back(b);
    }
    EXPECT_EQ(blocks, recording::tap_blocks(short_tape()));
  }
}

TEST(Recording, ProblemsStopItWhereTheyAre) {
  recording::SaveOptions save;
  save.gap = 0.5;
  const recording::Signal signal = recording::save_signal(source_tape(), save);
  const std::vector<Bytes> all = recording::tap_blocks(source_tape());
  const Bytes wav =
      recording::wav({played(source_tape(), 11025)}, 11025, WavEncoding::PCM_8);
  Bytes bad_wav = wav;
  bad_wav[20] = 85; // the format tag
  const Bytes csw =
      recording::csw(signal, 44100, recording::CswVariant::V2_Z_RLE);
  // Broken in the pilot of block 4.
  const Bytes broken_csw =
      recording::csw(signal, 44100, recording::CswVariant::V2_Z_RLE, {}, 0.75);
  Bytes bad_csw_header = csw;
  bad_csw_header[0x21] = 7; // the compression

  struct Case {
    const char* name;
    Bytes image;
    std::string problem;
    std::size_t whole_blocks;
    bool then_a_start_of_one = false;
  };
  const Case cases[] = {
      {"unsupported WAV", bad_wav, "unsupported WAV encoding 85", 0},
      {"WAV cut in its last block", Bytes(wav.begin(), wav.end() - 3000), "", 5,
       true},
      {"unsupported CSW", bad_csw_header, "unsupported CSW compression 7", 0},
      {"CSW data broken", broken_csw, "damaged CSW data", 4},
      {"not a recording", Bytes(100, 'x'), "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded got = decode(c.image);
    EXPECT_EQ(got.problem, c.problem);
    ASSERT_EQ(got.blocks.size(),
              c.whole_blocks + (c.then_a_start_of_one ? 1 : 0));
    for (std::size_t i = 0; i < c.whole_blocks; ++i) {
      EXPECT_EQ(got.blocks[i], all[i]) << i;
    }
    if (c.then_a_start_of_one) {
      const Bytes& last = got.blocks.back();
      const Bytes& whole = all[c.whole_blocks];
      ASSERT_LT(last.size(), whole.size());
      EXPECT_EQ(last, Bytes(whole.begin(),
                            whole.begin() +
                                static_cast<std::ptrdiff_t>(last.size())));
    }
  }
}

} // namespace
} // namespace vetrik
