#include "signal/pulse_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

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

} // namespace
} // namespace vetrik
