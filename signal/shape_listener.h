// The ways of listening to one channel of a recording beside its edges: the
// wave's shape as recorded, which copes best with plain noise, and its shape
// with hum and rumble filtered out. Both run at about 15 kHz or less, which
// the bits' tones need, whatever the recording's rate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
  static Section low_pass(double rate, double hz, double q);
  // The level is measured in stretches of stretch_ samples: when one is
  // complete (its high-passed samples' squares summed to squares), the
  // stretch LEVEL_BEHIND before it is given, over the level of the
  // LEVEL_STRETCHES around it.
  void end_stretch(float squares);
  void give_stretch(std::uint64_t stretch, float level);
  // Filters n samples at the decoders' rate and takes their levels.
  void take(const float* samples, std::size_t n);
  void run(std::size_t n);

  std::size_t factor_; // recording samples a sample here
  std::size_t pending_ = 0;
  float pending_sum_ = 0;
  float last_ = 0; // the last sample taken
  // A high-pass of linear phase, which leaves the bits' shapes as they
  // were, run twice over (hum's harmonics lie close below the tones): each
  // sample less the mean, over length samples centred on it, of the means
  // over length samples, given length - 1 samples late. The samples as they
  // were come out as late as the second run's.
  struct MeanCut {
    explicit MeanCut(std::size_t length)
        : ring(length), per_length(1 / static_cast<float>(length)) {}
    // Takes in[0..n); gives them high-passed to high, and as they were to
    // plain, each 2 (length - 1) late.
    void run(const float* in, std::size_t n, float* high, float* plain);
    struct Slot {
      float x = 0, mean = 0, cut = 0, cut_mean = 0, late = 0;
    };
    std::vector<Slot> ring;
    float per_length;
    std::size_t at = 0;
    std::array<float, 4> sums{};
  };
  MeanCut cut_;
  Section tone_low_;
  // The level: the RMS of the high-passed samples, the sum of the squares
  // of each of the last LEVEL_STRETCHES stretches.
  std::size_t stretch_;
  std::array<float, 8> stretch_squares_{};
  float squares_ = 0;          // of the stretch under way
  std::uint64_t taken_ = 0;    // samples taken so far, however long
  std::size_t in_stretch_ = 0; // samples of the stretch under way
  EdgeFinder tone_edges_;
  std::array<ShapeDecoder, DECODERS> decoders_;
  // The decoders' samples: the first filled_ brought to their level and
  // given to the decoders PIECE at a time, then the written_ - filled_ of
  // the last LEVEL_BEHIND + 1 stretches, whose level is not known yet.
  std::vector<float> levels_, plain_, filtered_, tone_;
  std::size_t filled_ = 0;
  std::size_t written_ = 0;
  std::vector<float> decimated_;
  std::vector<double> half_waves_;
};

} // namespace vetrik
