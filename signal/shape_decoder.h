// Finds the blocks of the ROM's save routine by the shape of the wave
// itself, for recordings too noisy or too damaged for edges alone: the tone
// is found by its edges, the sync where the samples fit the sync's shape
// best, and each bit by which of the two bit shapes the samples fit, on a
// clock that follows the bits' own edges.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "signal/pulse_decoder.h"

namespace vetrik {

inline constexpr std::size_t SHAPE_PIECE_MOST = 4096;
inline constexpr std::size_t SHAPE_WEAK_BACK = 32;

class ShapeDecoder {
public:
  // rate: samples a second, more than 0. With level_free, the level of each
  // bit is told from its halves against each other, never from the level
  // around 0, which suits samples passed through a high-pass (against hum
  // and rumble) that leaves the wave's halves uneven; without, from its
  // first half, which suits samples as recorded. late: how many samples
  // late against the recording the samples come (a filter's delay); the
  // times given are the recording's.
  ShapeDecoder(double rate, bool level_free, double late = 0);

  // Takes the next samples, at most SHAPE_PIECE_MOST of them, brought to
  // about the same level throughout; the level each was brought from
  // (levels, as many); and the half-waves (in T-states) an edge finder found
  // in the same samples, from which the tone is told.
  void push(std::span<const float> samples, std::span<const float> levels,
            std::span<const double> half_waves);

  // Ends the samples: a block running up to their end is complete.
  void finish();

  // Moves the oldest block found into block. Returns false when none waits.
  bool pop(DecodedBlock& block);

  // No block can start before this time (T-states from the start).
  double heard_until() const;

private:
  enum class State { TONE, SYNC, BITS };

  double integral(double from, double to) const;
  // The level the samples were brought from, at x and, on the mean,
  // between from and to.
  double level_at(double x) const;
  double level_over(double from, double to) const;
  double sum_to(const std::vector<double>& sums, double at) const;
  // Makes room in the ring for coming samples more.
  void grow_ring(std::size_t coming);
  void on_half_wave(double h);
  void find_sync();
  // Scores the sync at s; fills the parts of the score.
  struct SyncFit {
    double score = 0;
    double tone = 0;  // how the tone before s fits
    double sync = 0;  // how the sync and the first half-bit fit
    double after = 0; // how a tone going on after s would fit
    double sign = 1;  // the level of the sync's first half-wave
    double bits = 0;  // how the first bits fit
  };
  // whole: also the tone after s and the first bits, and so the score.
  SyncFit fit_sync(double s, bool whole) const;
  // Whether a sync fits as one does, period_fit being how a period of the
  // tone before it fits.
  static bool sync_fits(const SyncFit& fit, double period_fit);
  // A bit at at, its half-bit h samples long, its first half at level sign.
  struct Bit {
    bool one = false;
    double first = 0;           // the mean level of its first half
    double swing = 0;           // its first half against its second
    double next = 0;            // its second half against the next bit's first
    bool step = false;          // judged by signs, across a step in level
    bool fell = false;          // the level fell steeply within it
    bool level_stepped = false; // the level around it stepped
  };
  // With steps, by the signs of its samples where its level steps steeply:
  // never, only where it rises, or either way.
  enum class Steps { NONE, RISES, ANY };
  Bit judge(double at, double h, double sign, Steps steps) const;
  // The running sum at from + k h / 2 for k up to 10 (h a half-bit, so a
  // 0 bit in four steps), each taken once for a bit's judging and its edges.
  struct QuarterSums {
    const ShapeDecoder* decoder;
    double from;
    double h;
    std::array<double, 11> sums{};
    std::uint32_t taken = 0;
    double at(std::size_t k) {
      if ((taken & (1U << k)) == 0) {
        taken |= 1U << k;
        sums[k] = decoder->sum_to(decoder->sums_,
                                  from + static_cast<double>(k) * (h / 2));
      }
      return sums[k];
    }
  };
  Bit judge(QuarterSums& sums, double sign, Steps steps) const;
  // Whether a bit's shape shows in the signs of its samples.
  bool plain_by_signs(double at, double h, double sign, bool one) const;
  // The signs of the samples between from and to, summed.
  double signs_over(double from, double to) const;
  void read_bits();
  void follow_edges(QuarterSums& sums, bool one, double level);
  bool add_bit(bool one);
  std::size_t checked_end() const;
  void end_block();

  double t_per_sample_;
  double late_; // T-states
  bool level_free_;
  // Running sums of the samples, the last ring_ of them: sum_[i & mask]
  // is the sum of the samples before sample i.
  std::vector<double> sums_;
  std::vector<float> levels_; // the level of each sample, the same ones
  std::int64_t mask_ = -1;
  std::int64_t ring_most_ = 1;
  std::int64_t count_ = 0;
  double kept_from_ = 0, kept_to_ = 0; // the samples kept, as positions
  double total_ = 0;
  double step_ = 0.25; // samples between the places a sync is tried at

  // The tone.
  State state_ = State::TONE;
  bool finishing_ = false; // the samples have ended: judge on what is there
  double edge_ = 0;        // T-states to the last edge
  std::size_t run_ = 0;
  int misfits_ = 0;
  int steady_ = 0;
  double steady_start_ = 0;  // sample position where the steady stretch began
  double period_ = 0;        // T-states, following the tone
  double steady_period_ = 0; // T-states, measured over a steady stretch
  int measured_over_ = 0;    // ... of this many half-waves
  double tone_start_ = 0;    // T-states
  double last_fit_ = 0;      // sample position of the last steady edge
  double sync_from_ = 0, sync_to_ = 0;
  double quiet_until_ = 0; // sample position before which no tone counts

  // The bits.
  double at_ = 0;         // sample position of the next bit
  double data_start_ = 0; // T-states to the block's first bit
  double half_ = 0;       // samples in 855 T-states, following the bits
  double sync_half_ = 0;  // half_ as the tone showed it
  double sign_ = 1;
  double level_ = 0;
  double tone_level_ = 0; // the level of the block's tone
  // The level the block's bits were recorded at, summed over their length.
  double recorded_sum_ = 0, recorded_length_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> check_; // XOR of the bytes up to each one
  std::uint32_t byte_ = 0;
  int bits_ = 0;
  int plain_bits_ = 0; // bits of the byte whose shape is plainly there
  bool cut_ = false;
  // How well the bits fit their shapes: summed over the byte under way,
  // the mean of each of the last bytes, and those means summed.
  double byte_strength_ = 0;
  std::array<float, SHAPE_WEAK_BACK> strengths_{};
  // Where each of the last bytes ended, as sample positions: as many as
  // the block's end can go back, and the byte before them.
  std::array<double, SHAPE_WEAK_BACK + 1> byte_ends_{};
  double strength_sum_ = 0;
  std::vector<double> waiting_; // half-waves not yet followed
  std::deque<DecodedBlock> done_;
};

} // namespace vetrik
