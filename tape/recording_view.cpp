// Decoded blocks of a recording as a TAP view.
#include "tape/recording_view.h"

#include <algorithm>
#include <cstring>

namespace vetrik {

namespace {

inline constexpr std::size_t LENGTH_WORD = 2;

} // namespace

std::int32_t RecordingView::fill(std::uint8_t* destination, std::int32_t n) {
  std::int32_t got = 0;
  while (got < n) {
    if (at_ < LENGTH_WORD) {
      // Little-endian: the low byte first.
      destination[got++] =
          static_cast<std::uint8_t>(block_.size() >> (8 * at_));
      ++at_;
    } else if (at_ < LENGTH_WORD + block_.size()) {
      const std::size_t take = std::min(static_cast<std::size_t>(n - got),
                                        LENGTH_WORD + block_.size() - at_);
      std::memcpy(destination + got, block_.data() + (at_ - LENGTH_WORD), take);
      got += static_cast<std::int32_t>(take);
      at_ += take;
    } else if (ended_ || !next_block()) {
      break;
    }
  }
  return got;
}

bool RecordingView::next_block() {
  if (reader_.next_block(block_)) {
    block_seen_ = true;
    at_ = 0;
    return true;
  }
  ended_ = true;
  problem_ = reader_.problem();
  if (problem_.empty() && !block_seen_) {
    problem_ = NO_BLOCKS_FOUND;
  }
  return false;
}

} // namespace vetrik
