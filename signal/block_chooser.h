// Merges the blocks decoded from each channel of a recording into one list:
// blocks of different channels that overlap in time are one block of the
// tape, and the best of them is kept.
#pragma once

#include <cstddef>
#include <deque>
#include <limits>
#include <vector>

#include "signal/pulse_decoder.h"

namespace vetrik {

// Blocks held for a channel, or bytes held in all, before the chooser stops
// waiting for a channel that lags behind: enough for the fragments an edge
// decoder reads while a shape decoder follows one long block through its
// dropouts, little enough to keep memory flat.
inline constexpr std::size_t CHOOSER_MOST_WAITING = 64;
inline constexpr std::size_t CHOOSER_MOST_BYTES = std::size_t{1} << 20;

class BlockChooser {
public:
  explicit BlockChooser(std::size_t channels) : channels_(channels) {}

  // A block of channel, later than the channel's earlier ones. A block that
  // starts before the end of one given already is dropped: the chooser gave
  // up waiting for it.
  void add(std::size_t channel, DecodedBlock&& block);

  // Tells that channel will start no block before time (T-states).
  void progress(std::size_t channel, double time);

  // No further blocks come: every block held is ready.
  void finish() { finished_ = true; }

  // Moves out the earliest block whose every channel has been heard up to
  // its end. Of the blocks that overlap it, the one kept is the one whose
  // bytes check (their XOR is 0, as the ROM's checksum makes it), then the
  // longest, then the one that started first. Returns false when no block
  // is ready.
  bool pop(DecodedBlock& block);

private:
  struct Channel {
    std::deque<DecodedBlock> blocks;
    double progress = 0;
  };
  std::vector<Channel> channels_;
  // The end of the last block given. A listener's filters may place a tone
  // that starts the recording a little before its first sample.
  double given_until_ = std::numeric_limits<double>::lowest();
  bool finished_ = false;
};

} // namespace vetrik
