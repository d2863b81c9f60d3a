#include "signal/pulse_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "bytes/tap_block.h"

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using HalfWaves = std::vector<double>;

// Half-waves of a block as the ROM saves it, every length divided by speed.
HalfWaves saved(const Bytes& bytes, std::size_t pilot = 3223, double speed = 1,
                std::size_t bits = SIZE_MAX) {
  HalfWaves out(pilot, PILOT_HALF_WAVE / speed);
  out.push_back(SYNC1_HALF_WAVE / speed);
  out.push_back(SYNC2_HALF_WAVE / speed);
  for (std::size_t i = 0; i < bytes.size() * 8 && i < bits; ++i) {
    const bool one = ((bytes[i / 8] >> (7 - i % 8)) & 1) != 0;
    out.insert(out.end(), 2, (one ? ONE_HALF_WAVE : ZERO_HALF_WAVE) / speed);
  }
  return out;
}

HalfWaves joined(std::initializer_list<HalfWaves> parts) {
  HalfWaves out;
  for (const HalfWaves& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

// Pushes alternately one at a time and in spans, so both ways are used.
std::vector<DecodedBlock> decoded(const HalfWaves& half_waves) {
  PulseDecoder decoder;
  for (std::size_t at = 0; at < half_waves.size();) {
    const std::size_t n =
        std::min<std::size_t>(at % 2 == 0 ? 1 : 777, half_waves.size() - at);
    decoder.push(std::span(half_waves).subspan(at, n));
    at += n;
  }
  decoder.finish();
  std::vector<DecodedBlock> out;
  for (DecodedBlock b; decoder.pop(b);) {
    out.push_back(std::move(b));
  }
  return out;
}

const Bytes HEADER = {0x00, 0x03, 'n',  'a',  'm',  'e',  ' ',  ' ',  ' ', ' ',
                      ' ',  ' ',  0x10, 0x00, 0x00, 0x80, 0x00, 0x00, 0x9A};
const Bytes DATA = {0xFF, 0x00, 0x55, 0xAA, 0x0F, 0xF0, 0x81, 0x7E, 0x2E};
const HalfWaves GAP = {3.5e6};
const HalfWaves NOISE = {300, 2900, 120, 5000, 400, 900, 50};

struct Case {
  const char* name;
  HalfWaves half_waves;
  std::vector<Bytes> want;
};

// Each block's halves, speeds and drift as a tape gives them.
HalfWaves drifting(const Bytes& bytes, double from, double to) {
  HalfWaves h = saved(bytes);
  for (std::size_t i = 0; i < h.size(); ++i) {
    h[i] /= from + (to - from) * static_cast<double>(i) / h.size();
  }
  return h;
}

HalfWaves wobbling(const Bytes& bytes, double depth) {
  HalfWaves h = saved(bytes);
  for (std::size_t i = 0; i < h.size(); ++i) {
    h[i] *= 1 + depth * std::sin(static_cast<double>(i) / 300);
  }
  return h;
}

// A pilot half-wave split by a noise spike into three.
HalfWaves glitched(HalfWaves h, std::size_t at) {
  const double whole = h[at];
  h[at] = whole * 0.45;
  h.insert(h.begin() + static_cast<std::ptrdiff_t>(at) + 1,
           {whole * 0.1, whole * 0.45});
  return h;
}

// The edge inside bit k pulled early by shift T-states, as a filter may.
HalfWaves pulled(HalfWaves h, std::size_t bit, double shift) {
  const std::size_t at = 3223 + 2 + 2 * bit;
  h[at] -= shift;
  h[at + 1] += shift;
  return h;
}

TEST(PulseDecoder, FindsExactlyTheWholeBytesOfEachBlock) {
  const Case cases[] = {
      {"first and last pulse",
       joined({saved(HEADER, 8063), saved(DATA)}),
       {HEADER, DATA}},
      {"gaps and noise",
       joined({NOISE, saved(HEADER), GAP, NOISE, saved(DATA), NOISE}),
       {HEADER, DATA}},
      {"no gap between blocks",
       joined({saved(DATA), saved(HEADER)}),
       {DATA, HEADER}},
      {"shortest pilot", saved(DATA, PILOT_MIN_HALF_WAVES), {DATA}},
      {"too short a pilot", saved(DATA, PILOT_MIN_HALF_WAVES - 1), {}},
      {"pilot alone", HalfWaves(3223, PILOT_HALF_WAVE), {}},
      {"pilot and sync", saved({}), {}},
      {"seven bits", saved(DATA, 3223, 1, 7), {}},
      {"partial last byte dropped",
       saved(DATA, 3223, 1, 8 * 3 + 5),
       {{0xFF, 0x00, 0x55}}},
      {"10% fast", saved(DATA, 3223, 1.1), {DATA}},
      {"10% slow", saved(DATA, 3223, 0.9), {DATA}},
      {"30% slow", saved(DATA, 3223, 0.7), {DATA}},
      {"drift from 8% slow to 8% fast", drifting(DATA, 0.92, 1.08), {DATA}},
      {"wow of 4%", wobbling(DATA, 0.04), {DATA}},
      {"glitch in the pilot's last half-waves",
       glitched(saved(DATA), 3223 - 20),
       {DATA}},
      {"edge in a 1 bit pulled", pulled(saved(DATA), 3, 460), {DATA}},
      {"edge in a 0 bit pulled", pulled(saved(DATA), 9, -300), {DATA}},
      {"last half-wave running on", joined({saved(DATA), {5000}}), {DATA}},
      {"last half-wave cut", joined({saved(DATA), {}}), {DATA}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> got;
    for (const DecodedBlock& b : decoded(c.half_waves)) {
      got.push_back(b.bytes);
      EXPECT_FALSE(b.cut);
    }
    EXPECT_EQ(got, c.want);
  }
}

TEST(PulseDecoder, TheLastBitIsToldByItsFirstHalfWhenTheSecondRunsOnOrIsCut) {
  // DATA ends in a 0 bit; its second half runs on into a gap or noise (so
  // far that both halves would read as a 1, or further), or the signal ends
  // inside it.
  const std::pair<double, double> last_bits[] = {
      {1000, 1790}, {855, 1800}, {855, 2600}, {855, 200}, {855, 400}};
  for (auto [first, second] : last_bits) {
    SCOPED_TRACE(second);
    HalfWaves h = saved(DATA);
    h[h.size() - 2] = first;
    h.back() = second;
    h.insert(h.end(), {250, 3000, 90});
    const auto got = decoded(h);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].bytes, DATA);
  }
}

TEST(PulseDecoder, BlockTimesRunFromThePilotToTheLastWholeByte) {
  Bytes longer = DATA;
  longer.push_back(0xE0);
  const HalfWaves block = saved(longer, 500, 1, 8 * DATA.size() + 3);
  const auto got = decoded(joined({{1000, 5000}, block, GAP}));
  ASSERT_EQ(got.size(), 1U);
  EXPECT_EQ(got[0].bytes, DATA);
  EXPECT_DOUBLE_EQ(got[0].start, 6000);
  double end = 6000 + 500 * PILOT_HALF_WAVE + SYNC1_HALF_WAVE + SYNC2_HALF_WAVE;
  for (std::size_t i = 500 + 2; i + 6 < block.size(); ++i) {
    end += block[i];
  }
  EXPECT_DOUBLE_EQ(got[0].end, end);
}

TEST(PulseDecoder, ABlockPastTheLongestKeepsItsFirstBytesAndIsMarkedCut) {
  Bytes big(MAX_BLOCK_SIZE + 1000);
  for (std::size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<std::uint8_t>(i * 31 + 7);
  }
  const auto got = decoded(joined({saved(big), GAP, saved(DATA)}));
  ASSERT_EQ(got.size(), 2U);
  EXPECT_TRUE(got[0].cut);
  EXPECT_EQ(got[0].bytes, Bytes(big.begin(), big.begin() + MAX_BLOCK_SIZE));
  EXPECT_EQ(got[1].bytes, DATA);
  EXPECT_FALSE(got[1].cut);
}

// Equal half-waves given at once: the same blocks as one at a time.

struct Repeat {
  double h;
  std::uint64_t count;
};

struct Tally {
  std::size_t blocks = 0;
  std::size_t cut = 0;
  std::uint64_t pushed = 0;
  std::uint64_t judged = 0;

  void add(const std::vector<DecodedBlock>& blocks_done) {
    blocks += blocks_done.size();
    for (const DecodedBlock& b : blocks_done) {
      cut += b.cut ? 1 : 0;
    }
  }
};

std::vector<DecodedBlock> popped(PulseDecoder& decoder) {
  std::vector<DecodedBlock> out;
  for (DecodedBlock b; decoder.pop(b);) {
    out.push_back(std::move(b));
  }
  return out;
}

// Clocks kept apart: one sums each half-wave, the other whole runs.
bool near(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

bool same(const std::vector<DecodedBlock>& a,
          const std::vector<DecodedBlock>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const DecodedBlock& x, const DecodedBlock& y) {
                      return x.bytes == y.bytes && x.cut == y.cut &&
                             near(x.start, y.start) && near(x.end, y.end);
                    });
}

// Pushes each repeat into one decoder at once and into another one
// half-wave at a time. Returns the first repeat after which their blocks,
// clocks or tones differ, or the count of repeats if none.
std::size_t parting(const std::vector<Repeat>& repeats, Tally& tally) {
  PulseDecoder at_once;
  PulseDecoder one_by_one;
  for (std::size_t i = 0; i <= repeats.size(); ++i) {
    if (i < repeats.size()) {
      at_once.push(repeats[i].h, repeats[i].count);
      for (std::uint64_t n = 0; n < repeats[i].count; ++n) {
        one_by_one.push(repeats[i].h);
      }
      tally.pushed += repeats[i].count;
    } else {
      at_once.finish();
      one_by_one.finish();
    }
    const std::vector<DecodedBlock> got = popped(at_once);
    tally.add(got);
    const bool busy = at_once.busy();
    if (!same(got, popped(one_by_one)) || busy != one_by_one.busy() ||
        !near(at_once.now(), one_by_one.now()) ||
        (busy && !near(at_once.busy_since(), one_by_one.busy_since()))) {
      return i;
    }
  }
  tally.judged += at_once.judged();
  return repeats.size();
}

// Blocks at speeds from 25% slow to 25% fast, each a pilot of some length, a
// sync and runs of equal bits: some long, some past the longest block, some
// odd in count so the halves pair up across runs, some off by a little, some
// faster or slower than the pilot. Between them noise, gaps, quiet and
// values that count as nothing.
std::vector<Repeat> random_repeats(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto below = [&rng](std::uint64_t n) { return rng() % n; };
  const auto around = [&below](double from) {
    return from + static_cast<double>(below(1000)) / 1000 * 2 * (1 - from);
  };
  const std::uint64_t pilots[] = {1, 255, 256, 257, 3223, 40000};
  const double odd[] = {0,     -7,  std::numeric_limits<double>::quiet_NaN(),
                        3.5e6, 400, 5000};
  std::vector<Repeat> runs;
  for (int block = 0; block < 10; ++block) {
    double speed = around(0.75);
    runs.push_back({PILOT_HALF_WAVE / speed, pilots[below(6)]});
    runs.push_back({SYNC1_HALF_WAVE / speed, 1});
    runs.push_back({SYNC2_HALF_WAVE / speed, below(3) == 0 ? 1000U : 1U});
    speed *= below(3) == 0 ? around(0.8) : 1;
    for (std::uint64_t n = below(8); n > 0; --n) {
      double h = (below(2) == 0 ? ZERO_HALF_WAVE : ONE_HALF_WAVE) / speed;
      h *= below(4) == 0 ? around(0.97) : 1;
      const std::uint64_t count =
          below(30) == 0  ? 16 * (MAX_BLOCK_SIZE + 100) + below(16)
          : below(2) == 0 ? 1 + below(40)
                          : 16 * below(3000) + below(16);
      runs.push_back({h, count});
    }
    runs.push_back({static_cast<double>(below(6000)), 1 + below(3)});
    runs.push_back({odd[below(6)], below(2) == 0 ? 1U : 32767U});
  }
  return runs;
}

// Bytes 30% slower than their pilot: the period follows the 0 bits, and
// after 10 bytes of them (not 5) the 1 bits fit it.
std::vector<Repeat> slower_bytes(std::uint64_t zero_bytes) {
  return {
      {PILOT_HALF_WAVE, 3223},        {SYNC1_HALF_WAVE, 1},
      {SYNC2_HALF_WAVE, 1},           {ZERO_HALF_WAVE / 0.7, 16 * zero_bytes},
      {ONE_HALF_WAVE / 0.7, 16 * 10}, {3.5e6, 1}};
}

TEST(PulseDecoder, EqualHalfWavesAtOnceDecodeAsOneAtATime) {
  const double fast = 1.36;
  std::vector<std::vector<Repeat>> cases = {
      // A tone speeding up in steps, each within the tolerance of the last.
      {{2168, 100},
       {2500, 3000},
       {2950, 3000},
       {SYNC1_HALF_WAVE * fast, 1},
       {SYNC2_HALF_WAVE * fast, 1},
       {ZERO_HALF_WAVE * fast, 16 * 20},
       {ONE_HALF_WAVE * fast, 16 * 20},
       {3.5e6, 1}},
      slower_bytes(5),
      slower_bytes(10),
      // A byte ended by a bit whose first half alone reads 0, then bytes of
      // equal bits: only the block's last bit is read by its first half.
      {{PILOT_HALF_WAVE, 3223},
       {SYNC1_HALF_WAVE, 1},
       {SYNC2_HALF_WAVE, 1},
       {ZERO_HALF_WAVE, 14},
       {1000, 1},
       {1790, 1},
       {ZERO_HALF_WAVE, 16 * 3},
       {3.5e6, 1}},
      // 1 bits past the longest block, the last byte unfinished.
      {{PILOT_HALF_WAVE, 3223},
       {SYNC1_HALF_WAVE, 1},
       {SYNC2_HALF_WAVE, 1},
       {ONE_HALF_WAVE, 16 * (MAX_BLOCK_SIZE + 10) + 5},
       {200, 1}},
  };
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    cases.push_back(random_repeats(seed));
  }
  Tally tally;
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(parting(cases[c], tally), cases[c].size());
  }
  // The cases made many blocks, some past the longest, and most of their
  // half-waves were passed over in steady states.
  EXPECT_GE(tally.blocks, 40U);
  EXPECT_GE(tally.cut, 2U);
  EXPECT_LT(tally.judged, tally.pushed / 100);
}

// Entries of a pulse list, each up to 32767 pieces, as a hostile image might
// hold them by the million: whatever state an entry finds the decoder in, it
// costs a few half-waves judged alone. Counting them shows the work without
// timing it; one at a time, such a signal would take minutes.
TEST(PulseDecoder, RepeatedPulsesAreJudgedAFewAtATime) {
  const double kinds[] = {PILOT_HALF_WAVE,
                          2000,
                          2500,
                          SYNC1_HALF_WAVE,
                          SYNC2_HALF_WAVE,
                          ZERO_HALF_WAVE,
                          ONE_HALF_WAVE,
                          1200,
                          500,
                          300,
                          4000,
                          0};
  std::mt19937_64 rng(7);
  PulseDecoder decoder;
  PulseJoiner joiner(decoder);
  Tally tally;
  bool level = false;
  std::uint64_t worst = 0;
  for (int entry = 0; entry < 20000;) {
    // The same kind for up to 40 entries, so blocks grow past the longest.
    double h = kinds[rng() % std::size(kinds)];
    h *= rng() % 3 == 0 ? 0.8 + static_cast<double>(rng() % 400) / 1000 : 1;
    for (std::uint64_t n = 1 + rng() % 40; n > 0; --n, ++entry) {
      const std::uint64_t count = rng() % 8 == 0 ? 1 + rng() % 40 : 32767;
      const std::uint64_t before = decoder.judged();
      joiner.add_alternating(level, h, count);
      level = count % 2 == 0 ? level : !level;
      worst = std::max(worst, decoder.judged() - before);
      tally.add(popped(decoder));
    }
  }
  // The last piece before and this entry's first go alone; of the rest, up
  // to 15 to a byte's start and 15 left over after the whole bytes.
  EXPECT_LE(worst, 32U);
  EXPECT_GE(tally.blocks, 100U);
  EXPECT_GE(tally.cut, 1U);
}

TEST(PulseJoiner, PiecesOfOneLevelMakeOneHalfWaveWhereverTheSignalIsSplit) {
  // The block as a direct recording, one bit a sample at 79 T-states, fed
  // in pieces cut at odd places, with empty pieces between.
  const double t = 79;
  std::vector<bool> levels;
  bool level = true;
  for (double h : joined({saved(HEADER), GAP, saved(DATA)})) {
    levels.insert(levels.end(), static_cast<std::size_t>(std::lround(h / t)),
                  level);
    level = !level;
  }
  Bytes packed((levels.size() + 7) / 8);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    packed[i / 8] |= static_cast<std::uint8_t>(levels[i] ? 0x80 >> i % 8 : 0);
  }
  PulseDecoder decoder;
  PulseJoiner joiner(decoder);
  for (std::size_t at = 0; at < levels.size();) {
    const std::size_t n =
        std::min<std::size_t>(8 * 997 + 3, levels.size() - at);
    Bytes piece((n + 7) / 8);
    for (std::size_t i = 0; i < n; ++i) {
      piece[i / 8] |=
          static_cast<std::uint8_t>(levels[at + i] ? 0x80 >> i % 8 : 0);
    }
    add_direct_recording(joiner, piece, n, t);
    joiner.add(!levels[at + n - 1], 0);
    at += n;
  }
  joiner.finish();
  decoder.finish();
  std::vector<Bytes> got;
  for (DecodedBlock b; decoder.pop(b);) {
    got.push_back(b.bytes);
  }
  EXPECT_EQ(got, (std::vector<Bytes>{HEADER, DATA}));
}

// A repeated pulse: count pieces of t, the first at level, each next one at
// the other level.
struct Piece {
  bool level;
  double t;
  std::uint64_t count;
};

// The half-waves as a pulse list: each run of equal ones a repeated pulse of
// at most most pieces, the level turning with every piece.
std::vector<Piece> as_pulses(const HalfWaves& half_waves, std::uint64_t most) {
  std::vector<Piece> out;
  bool level = true;
  for (std::size_t i = 0; i < half_waves.size();) {
    std::uint64_t n = 1;
    while (i + n < half_waves.size() && half_waves[i + n] == half_waves[i] &&
           n < most) {
      ++n;
    }
    out.push_back({level, half_waves[i], n});
    level = n % 2 == 0 ? level : !level;
    i += n;
  }
  return out;
}

// Each repeated pulse's last piece given in two, a quarter and the rest.
std::vector<Piece> last_pieces_split(const std::vector<Piece>& pulses) {
  std::vector<Piece> out;
  for (const Piece& p : pulses) {
    const bool last = p.count % 2 == 0 ? !p.level : p.level;
    if (p.count > 1) {
      out.push_back({p.level, p.t, p.count - 1});
    }
    out.push_back({last, p.t / 4, 1});
    out.push_back({last, p.t - p.t / 4, 1});
  }
  return out;
}

// Before each repeated pulse, ones that add nothing, at the other level.
std::vector<Piece> with_empty_pulses(const std::vector<Piece>& pulses) {
  std::vector<Piece> out;
  for (const Piece& p : pulses) {
    out.insert(out.end(),
               {{!p.level, 0, 5}, {!p.level, -1, 2}, {!p.level, 855, 0}, p});
  }
  return out;
}

TEST(PulseJoiner, ARepeatedPulseGivesTheHalfWavesOfItsPiecesOneByOne) {
  const HalfWaves signal = joined({saved(HEADER), GAP, saved(DATA)});
  const std::pair<const char*, std::vector<Piece>> cases[] = {
      {"whole runs", as_pulses(signal, UINT64_MAX)},
      {"runs of up to 3", as_pulses(signal, 3)},
      {"last pieces split", last_pieces_split(as_pulses(signal, 5))},
      {"empty pulses between", with_empty_pulses(as_pulses(signal, 4))},
  };
  for (const auto& [name, pulses] : cases) {
    SCOPED_TRACE(name);
    PulseDecoder at_once;
    PulseDecoder one_by_one;
    PulseJoiner repeated(at_once);
    PulseJoiner single(one_by_one);
    for (const Piece& p : pulses) {
      repeated.add_alternating(p.level, p.t, p.count);
      for (std::uint64_t n = 0; n < p.count; ++n) {
        single.add(p.level != (n % 2 == 1), p.t);
      }
    }
    repeated.finish();
    single.finish();
    at_once.finish();
    one_by_one.finish();
    const std::vector<DecodedBlock> got = popped(at_once);
    EXPECT_TRUE(same(got, popped(one_by_one)));
    ASSERT_EQ(got.size(), 2U);
    EXPECT_EQ(got[0].bytes, HEADER);
    EXPECT_EQ(got[1].bytes, DATA);
    EXPECT_TRUE(near(at_once.now(), one_by_one.now()));
  }
}

} // namespace
} // namespace vetrik
