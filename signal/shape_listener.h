// The ways of listening to one channel of a recording beside its edges: the
// wave's shape as recorded, which copes best with plain noise, and its shape
// with hum and rumble filtered out. Both run at about 22 kHz or less, which
// the bits' tones need, whatever the recording's rate.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "signal/edge_finder.h"
#include "signal/shape_decoder.h"

namespace vetrik {

class ShapeListener {
public:
  // The decoders, as which() names them.
  static constexpr std::size_t DECODERS = 2;

  // rate: the recording's samples a second, more than 0.
  explicit ShapeListener(double rate);

  // Takes the channel's next samples.
  void push(std::span<const float> samples);
  // Ends the samples.
  void finish();

  // The decoder which (below DECODERS), for its blocks and progress.
  ShapeDecoder& decoder(std::size_t which) { return decoders_[which]; }

private:
  // One section of a Butterworth filter, in single precision: fast enough,
  // and exact enough at these rates.
  struct Section {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float z1 = 0, z2 = 0;
    float run(float x) {
      const float y = b0 * x + z1;
      z1 = b1 * x - a1 * y + z2;
      z2 = b2 * x - a2 * y;
      return y;
    }
  };
  static Section section(double rate, double hz, double q, bool high);
  // Takes one sample as recorded and high-passed; gives the one window_
  // samples before it, over the level around it.
  void level(float plain, float high);
  void give(float plain, float high, float level);
  void run(std::size_t n);

  std::size_t factor_; // recording samples a sample here
  std::size_t pending_ = 0;
  float pending_sum_ = 0;
  std::array<Section, 2> high_;
  Section tone_low_;
  // The level: the RMS of the high-passed samples over window_ samples
  // each side, from the last 2 window_ + 1 of them.
  std::size_t window_;
  std::vector<float> kept_plain_, kept_high_;
  std::size_t taken_ = 0; // samples taken into the level so far
  double squares_ = 0;
  EdgeFinder tone_edges_;
  std::array<ShapeDecoder, DECODERS> decoders_;
  std::vector<float> levels_, plain_, filtered_, tone_;
  std::vector<double> half_waves_;
};

} // namespace vetrik
