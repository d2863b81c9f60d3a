#include "signal/shape_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "signal/edge_finder.h"
#include "signal/pulse_decoder.h"
#include "tests/signal_builder.h"

namespace vetrik {
namespace {

using recording::Samples;
using tape::Bytes;

using Blocks = std::vector<DecodedBlock>;

// About a tenth of a bit's length, in T-states.
constexpr double NEAR_T = 1000;

// How the test tape was recorded.
struct Take {
  double rate;
  double gap;  // seconds between the blocks
  double tail; // after the last; 0: the last bit ends the samples
};

// A header and 60 bytes of data, on short pilots, with some hiss, on an
// offset the recording may end on.
Samples recorded(const Take& take) {
  recording::SaveOptions save;
  save.header_pilot = 1500;
  save.data_pilot = 1500;
  save.lead_in = 0.2;
  save.gap = take.gap;
  save.tail = take.tail;
  Samples s = recording::render(
      recording::save_signal(tape::tape_file("split", tape::pattern(60, 4), 3),
                             save),
      take.rate);
  recording::scale(s, -6);
  recording::add_noise(s, 0.5, 14, 3);
  recording::offset(s, 0.2);
  return s;
}

// Each shape decoder's blocks, the samples given piece at a time.
std::vector<Blocks> by_shape(const Samples& s, double rate, std::size_t piece) {
  ShapeListener listener(rate);
  std::vector<Blocks> got(ShapeListener::DECODERS);
  const auto take = [&] {
    for (std::size_t d = 0; d < got.size(); ++d) {
      for (DecodedBlock b; listener.decoder(d).pop(b);) {
        got[d].push_back(std::move(b));
      }
    }
  };
  for (std::size_t at = 0; at < s.size(); at += piece) {
    listener.push(std::span(s).subspan(at, std::min(piece, s.size() - at)));
    take();
  }
  listener.finish();
  take();
  return got;
}

Blocks by_edges(const Samples& s, double rate) {
  EdgeFinder edges(rate);
  std::vector<double> half_waves;
  edges.push(s, half_waves);
  edges.finish(half_waves);
  PulseDecoder decoder;
  decoder.push(half_waves);
  decoder.finish();
  Blocks got;
  for (DecodedBlock b; decoder.pop(b);) {
    got.push_back(std::move(b));
  }
  return got;
}

bool same(const DecodedBlock& a, const DecodedBlock& b) {
  return a.bytes == b.bytes && a.start == b.start &&
         a.data_start == b.data_start && a.end == b.end && a.cut == b.cut &&
         a.open_end == b.open_end;
}

TEST(ShapeListener,
     HoweverTheSamplesAreSplitItFindsTheSameBlocksWhereTheEdgesDo) {
  // At rates taken down by 3, 1 and 6; the next pilot right after a block's
  // bits; the recording cut at the last bit.
  for (const Take& take :
       {Take{44100, 0.3, 0.05}, Take{22050, 0.3, 0.05}, Take{96000, 0.3, 0.05},
        Take{44100, 0.01, 0.05}, Take{44100, 0.3, 0}}) {
    SCOPED_TRACE(testing::Message() << take.rate << " Hz, gap " << take.gap
                                    << " s, tail " << take.tail << " s");
    const Samples s = recorded(take);
    const Blocks edges = by_edges(s, take.rate);
    ASSERT_EQ(edges.size(), 2U);
    const std::vector<Blocks> whole = by_shape(s, take.rate, s.size());
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{5}, std::size_t{4097}}) {
      SCOPED_TRACE(piece);
      const std::vector<Blocks> split = by_shape(s, take.rate, piece);
      for (std::size_t d = 0; d < split.size(); ++d) {
        EXPECT_TRUE(std::equal(split[d].begin(), split[d].end(),
                               whole[d].begin(), whole[d].end(), same))
            << "decoder " << d;
      }
    }
    // The bits start and end where the edges have them, whatever the
    // filters' delay; the tone's start is each one's own.
    for (const Blocks& shape : whole) {
      ASSERT_EQ(shape.size(), edges.size());
      for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_EQ(shape[i].bytes, edges[i].bytes);
        EXPECT_NEAR(shape[i].data_start, edges[i].data_start, NEAR_T);
        EXPECT_NEAR(shape[i].end, edges[i].end, NEAR_T);
      }
    }
  }
}

} // namespace
} // namespace vetrik
