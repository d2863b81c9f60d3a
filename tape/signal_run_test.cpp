// Recorded tapes: WAV and CSW images, and the recordings inside TZX and PZX
// images, each give the TAP view of the tape that was recorded.
#include "tape/signal_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bytes/tap_block.h"
#include "tests/pzx_builder.h"
#include "tests/read_view.h"
#include "tests/signal_builder.h"
#include "tests/tzx_builder.h"

namespace vetrik::tape {
namespace {

using recording::Bits;
using recording::Levels;
using recording::Signal;

// T-states a sample of a direct recording: about 44.3 kHz.
constexpr std::uint16_t SAMPLE_T_STATES = 79;
constexpr std::uint32_t RATE = 44100;

// The two files, played as the ROM saves them, starting low.
const Signal& saved() {
  static const Signal signal = [] {
    recording::SaveOptions options;
    options.gap = 0.3;
    options.first_high = false;
    return recording::save_signal(TWO_FILES_TAP, options);
  }();
  return signal;
}

// Direct recordings of bits, split into blocks at the given sample counts.
Bytes direct_blocks(const Bits& bits, const std::vector<std::size_t>& cuts) {
  Bytes out;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : bits.count;
    Bytes part((to - from + 7) / 8);
    for (std::size_t b = from; b < to; ++b) {
      if ((bits.bytes[b / 8] & (0x80 >> (b % 8))) != 0) {
        part[(b - from) / 8] |=
            static_cast<std::uint8_t>(0x80 >> ((b - from) % 8));
      }
    }
    append(out, tzx_direct_recording(part, to - from, SAMPLE_T_STATES));
    from = to;
  }
  return out;
}

// Pulse lists of the signal, split into blocks at the given pulses; each cut
// goes through the middle of its pulse.
Bytes pulse_blocks(const Levels& levels, const std::vector<std::size_t>& cuts) {
  Bytes out;
  std::vector<double> part;
  bool high = levels.first_high;
  bool part_high = high;
  std::size_t next_cut = 0;
  for (std::size_t i = 0; i < levels.t_states.size(); ++i) {
    double t = levels.t_states[i];
    if (next_cut < cuts.size() && cuts[next_cut] == i) {
      part.push_back(t / 2);
      append(out, pzx_pulses(part, part_high));
      part.clear();
      part_high = high;
      t -= t / 2;
      ++next_cut;
    }
    part.push_back(t);
    high = !high;
  }
  append(out, pzx_pulses(part, part_high));
  return out;
}

Bytes tzx(const Bytes& blocks) {
  return joined({tzx_header(), blocks});
}

Bytes pzx(const Bytes& blocks) {
  return joined({pzx_header(), blocks});
}

TEST(RecordedTapes, EveryKindOfRecordingGivesTheViewOfItsTape) {
  const Bits bits = recording::direct_samples(saved(), SAMPLE_T_STATES);
  const Levels levels = recording::levels(saved());
  bool high = false;
  const Bytes rle = recording::csw_data(saved(), RATE, false, &high);
  const Bytes z_rle = recording::csw_data(saved(), RATE, true, &high);
  ASSERT_FALSE(high);
  const std::vector<std::pair<std::string, Bytes>> images{
      {"WAV", recording::wav({recording::render(saved(), RATE)}, RATE,
                             WavEncoding::PCM_16)},
      {"CSW", recording::csw(saved(), RATE, recording::CswVariant::V2_Z_RLE)},
      {"TZX direct recording", tzx(direct_blocks(bits, {}))},
      // Splits inside bytes of the tape, and inside half-waves.
      {"TZX direct recordings split anywhere",
       tzx(direct_blocks(bits, {1001, 50003, 90001}))},
      {"TZX CSW recording", tzx(tzx_csw_recording(rle, RATE, 1))},
      {"TZX Z-RLE recording", tzx(tzx_csw_recording(z_rle, RATE, 2))},
      {"PZX pulses", pzx(pulse_blocks(levels, {}))},
      {"PZX pulses split anywhere", pzx(pulse_blocks(levels, {3, 8100, 8200}))},
  };
  for (const auto& [what, image] : images) {
    EXPECT_EQ(read_view(image), (ViewRead{TWO_FILES_TAP, ""})) << what;
  }
}

// The blocks found in a recording come where it stands among the others.
TEST(RecordedTapes, AnyOtherBlockEndsTheSignalAndBlocksKeepTheirOrder) {
  const Bits bits = recording::direct_samples(saved(), SAMPLE_T_STATES);
  const Bytes third = tape_file("three", pattern(50, 3));
  const std::vector<Bytes> blocks = blocks_of(third);
  const Bytes image =
      tzx(joined({tzx_standard(blocks[0]), direct_blocks(bits, {40000}),
                  Bytes{0x30, 3, 'a', 'b', 'c'}, tzx_standard(blocks[1])}));
  EXPECT_EQ(read_view(image),
            (ViewRead{joined({tap_of({blocks[0]}), TWO_FILES_TAP,
                              tap_of({blocks[1]})}),
                      ""}));
}

TEST(RecordedTapes, ARecordingWithoutBlocksSaysSo) {
  const recording::Samples silence(RATE, 0.0F);
  const Bytes quiet(4000, 0);
  Signal pilot;
  for (int i = 0; i < 5000; ++i) {
    pilot.push_back({2168, i % 2 == 0 ? 1 : -1});
  }
  const std::vector<std::pair<std::string, Bytes>> images{
      {"WAV of silence", recording::wav({silence}, RATE, WavEncoding::PCM_8)},
      {"TZX of silence", tzx(tzx_direct_recording(quiet, 32000, 79))},
      {"PZX of a pilot tone",
       pzx(pzx_pulses(recording::levels(pilot).t_states, true))},
  };
  for (const auto& [what, image] : images) {
    EXPECT_EQ(read_view(image), (ViewRead{{}, "no blocks found"})) << what;
  }
  // Blocks elsewhere in the image are blocks all the same.
  const Bytes block = TWO_FILES_BLOCKS[1];
  EXPECT_EQ(read_view(tzx(joined({tzx_direct_recording(quiet, 32000, 79),
                                  tzx_standard(block)}))),
            (ViewRead{tap_of({block}), ""}));
}

// A recording cut by the image's end, or broken, gives the blocks found
// before the fault, then the fault: the block under way there is lost.
TEST(RecordedTapes, ABrokenRecordingGivesTheBlocksBeforeTheBreak) {
  const Bits bits = recording::direct_samples(saved(), SAMPLE_T_STATES);
  const Bytes direct = tzx(direct_blocks(bits, {}));
  bool high = false;
  const Bytes rle = recording::csw_data(saved(), RATE, false, &high);
  const Bytes broken = recording::deflated(rle, rle.size() - 40);
  const Bytes pulses = pzx(pulse_blocks(recording::levels(saved()), {}));
  const Bytes before_last =
      tap_of({TWO_FILES_BLOCKS[0], TWO_FILES_BLOCKS[1], TWO_FILES_BLOCKS[2]});
  const std::vector<std::pair<Bytes, std::string>> images{
      {cut(direct, direct.size() - 200), "truncated block 0x15"},
      {tzx(tzx_csw_recording(broken, RATE, 2)), "damaged block 0x18"},
      {cut(pulses, pulses.size() - 30), "truncated block PULS"},
  };
  for (const auto& [image, problem] : images) {
    EXPECT_EQ(read_view(image), (ViewRead{before_last, problem}));
  }
}

// Seconds from the start of saved() to share of the way through the bits of
// block i.
double into_block(std::size_t i, double share) {
  const std::vector<Bytes>& blocks = TWO_FILES_BLOCKS;
  const auto bits = [](const Bytes& block) {
    double t = 0;
    for (std::uint8_t byte : block) {
      for (int bit = 7; bit >= 0; --bit) {
        t += ((byte >> bit) & 1) != 0 ? 2 * ONE_HALF_WAVE : 2 * ZERO_HALF_WAVE;
      }
    }
    return t;
  };
  double t = 0;
  for (std::size_t b = 0; b <= i; ++b) {
    const double pilot = blocks[b][0] < 128 ? 8063 : 3223;
    t += pilot * PILOT_HALF_WAVE + SYNC1_HALF_WAVE + SYNC2_HALF_WAVE;
    t += b < i ? bits(blocks[b]) + 0.3 * T_STATES_PER_SECOND
               : bits(blocks[b]) * share;
  }
  return t / T_STATES_PER_SECOND;
}

// The view of the blocks of saved() before block i.
Bytes blocks_before(std::size_t i) {
  Bytes out;
  for (std::size_t b = 0; b < i; ++b) {
    append(out, tap_of({TWO_FILES_BLOCKS[b]}));
  }
  return out;
}

// Checks that view ends as a TAP image cut inside block i of saved(): the
// blocks before it, then the start of its bytes behind a length word that
// claims the bytes the tape held.
void expect_cut_inside(const ViewRead& view, std::size_t i) {
  const Bytes start = blocks_before(i);
  const Bytes& block = TWO_FILES_BLOCKS[i];
  ASSERT_GT(view.bytes.size(), start.size() + 2) << i;
  ASSERT_TRUE(std::equal(start.begin(), start.end(), view.bytes.begin()));
  const std::size_t length =
      view.bytes[start.size()] + view.bytes[start.size() + 1] * 0x100U;
  const Bytes there(view.bytes.begin() +
                        static_cast<std::ptrdiff_t>(start.size() + 2),
                    view.bytes.end());
  // A header as the 19 bytes it is, any other block one byte longer.
  EXPECT_EQ(length, block[0] == 0 ? 19 : there.size() + 1);
  EXPECT_LT(there.size(), block.size());
  EXPECT_GT(there.size(), 2U);
  EXPECT_TRUE(std::equal(there.begin(), there.end(), block.begin()));
  EXPECT_EQ(view.problem, "");
}

// A recording that ends inside a block's bytes ends as a TAP image cut
// there: the block's length word claims the bytes the tape held.
TEST(RecordedTapes, ARecordingCutInsideABlockEndsLikeACutTapImage) {
  const recording::Samples whole = recording::render(saved(), RATE);
  // The second header, and the last data block.
  for (const std::size_t cut_block : {std::size_t{2}, std::size_t{3}}) {
    const auto end =
        static_cast<std::ptrdiff_t>(into_block(cut_block, 0.5) * RATE);
    expect_cut_inside(
        read_view(recording::wav(
            {recording::Samples(whole.begin(), whole.begin() + end)}, RATE,
            WavEncoding::PCM_16)),
        cut_block);
  }
}

// The count of RLE bytes before the first pulse that runs past seconds.
std::size_t rle_bytes_before(const Bytes& rle, double seconds) {
  double samples = 0;
  std::size_t at = 0;
  while (at < rle.size()) {
    const bool long_form = rle[at] == 0;
    samples += long_form ? rle[at + 1] + rle[at + 2] * 0x100 +
                               rle[at + 3] * 0x10000 + rle[at + 4] * 16777216.0
                         : rle[at];
    if (samples > seconds * RATE) {
      break;
    }
    at += long_form ? 5 : 1;
  }
  return at;
}

// Z-RLE data that stops before the end of its stream: in a TZX block that
// holds all the bytes it declares, the stream is broken; a TZX image that
// ends there has a truncated block; a CSW file is a recording cut short.
// Each gives the blocks before the stop.
TEST(RecordedTapes, AZRleStreamThatStopsEarlyBreaksATzxBlockAndCutsACswFile) {
  bool high = false;
  const Bytes rle = recording::csw_data(saved(), RATE, false, &high);
  const Bytes after = tzx_standard(TWO_FILES_BLOCKS[0]);
  const struct {
    const char* where;
    double seconds;
    std::size_t next_block;
    bool inside_it;
  } stops[] = {
      {"in the pilot tone of the second file", into_block(2, 0) - 1, 2, false},
      {"inside the last data block", into_block(3, 0.5), 3, true},
  };
  for (const auto& stop : stops) {
    SCOPED_TRACE(stop.where);
    const Bytes stream =
        recording::deflated_start(rle, rle_bytes_before(rle, stop.seconds));
    const Bytes before = blocks_before(stop.next_block);
    const Bytes block = tzx_csw_recording(stream, RATE, 2);
    expect_view_ends_at(tzx_header(), before,
                        {"whole block", block, "damaged block 0x18"}, after);
    // The same block, claiming more bytes than the image holds.
    Bytes longer = block;
    set_dword(longer, 1, static_cast<std::uint32_t>(block.size() - 5 + 100));
    expect_view_ends_at(
        tzx_header(), before,
        {"image ending in the block", longer, "truncated block 0x18"}, after);
    const ViewRead file = read_view(recording::csw_image(
        stream, RATE, recording::CswVariant::V2_Z_RLE, high, 0));
    if (stop.inside_it) {
      expect_cut_inside(file, stop.next_block);
    } else {
      EXPECT_EQ(file, (ViewRead{before, ""}));
    }
  }
}

// Data that breaks only in its last check still holds whole pulses: a block
// they end is given.
TEST(RecordedTapes, BlocksEndedBeforeABreakAreGiven) {
  recording::SaveOptions options;
  options.tail = 0.5;
  options.first_high = false;
  const Signal signal = recording::save_signal(TWO_FILES_TAP, options);
  bool high = false;
  Bytes z_rle = recording::csw_data(signal, RATE, true, &high);
  z_rle.back() ^= 0xFF; // the stream's checksum
  Bytes csw = recording::csw(signal, RATE, recording::CswVariant::V2_Z_RLE);
  csw.back() ^= 0xFF;
  EXPECT_EQ(read_view(csw), (ViewRead{TWO_FILES_TAP, "damaged CSW data"}));
  EXPECT_EQ(read_view(tzx(tzx_csw_recording(z_rle, RATE, 2))),
            (ViewRead{TWO_FILES_TAP, "damaged block 0x18"}));
}

// At this rate a sample is 70 T-states, and the ROM's timing comes out in
// whole samples: a pilot half-wave of 31, bit halves of 12 and 24.
constexpr std::uint32_t WHOLE_RATE = 50000;

// CSW pulse lengths in runs of equal ones: blocks at speeds from 25% slow to
// 25% fast, each a pilot of some length, a sync and runs of equal bits, some
// past the longest block, some odd in count, some a sample off; between them
// gaps, long pulses and pulses of no length.
std::vector<std::uint32_t> equal_pulse_runs(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto below = [&rng](std::uint64_t n) { return rng() % n; };
  std::vector<std::uint32_t> runs;
  const auto add = [&runs](double samples, std::uint64_t count) {
    runs.insert(runs.end(), count,
                static_cast<std::uint32_t>(std::lround(samples)));
  };
  const std::uint64_t pilots[] = {1, 255, 256, 257, 3223, 20000};
  const double odd[] = {0, 1, 300, 50000};
  for (int block = 0; block < 10; ++block) {
    const double speed = 0.75 + static_cast<double>(below(500)) / 1000;
    add(31 / speed, pilots[below(6)]);
    add(10 / speed, 1);
    add(10 / speed, below(3) == 0 ? 1000 : 1);
    for (std::uint64_t n = below(8); n > 0; --n) {
      const double bit = (below(2) == 0 ? 12 : 24) / speed;
      const std::uint64_t count =
          below(30) == 0  ? 16 * (MAX_BLOCK_SIZE + 100) + below(16)
          : below(2) == 0 ? 1 + below(40)
                          : 16 * below(1000) + below(16);
      add(bit + (below(4) == 0 ? 1 : 0), count);
    }
    add(static_cast<double>(below(400)), 1 + below(3));
    add(odd[below(4)], below(2) == 0 ? 1 : 5000);
  }
  add(WHOLE_RATE, 1); // a second of quiet after the last block
  return runs;
}

// The view of the blocks decoded from runs fed one pulse at a time.
Bytes one_at_a_time(const std::vector<std::uint32_t>& runs, std::size_t& blocks,
                    std::size_t& cut) {
  PulseDecoder decoder;
  PulseJoiner joiner(decoder);
  bool level = false;
  for (std::uint32_t n : runs) {
    joiner.add(level, n * (T_STATES_PER_SECOND / WHOLE_RATE));
    level = !level;
  }
  joiner.finish();
  decoder.finish();
  Bytes view;
  for (DecodedBlock block; decoder.pop(block);) {
    EXPECT_FALSE(block.open_end);
    append(view, tap_of({block.bytes}));
    ++blocks;
    cut += block.cut ? 1 : 0;
  }
  return view;
}

// Equal pulses of a CSW are decoded together, in a file and in a TZX block,
// coded either way: the same blocks as one pulse at a time.
TEST(RecordedTapes, EqualCswPulsesDecodeAsOnePulseAtATime) {
  std::size_t blocks = 0;
  std::size_t cut = 0;
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    const std::vector<std::uint32_t> runs = equal_pulse_runs(seed);
    const ViewRead expected{one_at_a_time(runs, blocks, cut), ""};
    const Bytes rle = recording::csw_rle(runs);
    const Bytes z_rle = recording::deflated(rle);
    using recording::CswVariant;
    const std::vector<std::pair<std::string, Bytes>> images{
        {"CSW RLE",
         recording::csw_image(rle, WHOLE_RATE, CswVariant::V1_RLE, false, 0)},
        {"CSW Z-RLE", recording::csw_image(z_rle, WHOLE_RATE,
                                           CswVariant::V2_Z_RLE, true, 0)},
        {"TZX RLE", tzx(tzx_csw_recording(rle, WHOLE_RATE, 1))},
        {"TZX Z-RLE", tzx(tzx_csw_recording(z_rle, WHOLE_RATE, 2))},
    };
    for (const auto& [what, image] : images) {
      EXPECT_EQ(read_view(image), expected) << what;
    }
  }
  // The runs made many blocks, some past the longest.
  EXPECT_GE(blocks, 20U);
  EXPECT_GE(cut, 1U);
}

} // namespace
} // namespace vetrik::tape
