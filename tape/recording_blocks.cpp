// Decoded blocks of a recording as a TAP view.
#include "tape/recording_blocks.h"

#include <algorithm>
#include <cstring>

#include "bytes/tap_block.h"

namespace vetrik {

namespace {

// The length a block's word claims. A block the recording's end cut short
// (its bytes do not check out) is given as the tape held it, longer than
// what is there, so that it ends like a cut TAP image: a header as 19
// bytes, any other block as one byte more.
std::size_t claimed_length(const std::vector<std::uint8_t>& block,
                           bool open_end) {
  if (!open_end || xor_checksum(block) == 0 || block.size() >= MAX_BLOCK_SIZE) {
    return block.size();
  }
  return block[0] == HEADER_FLAG && block.size() < HEADER_BLOCK_LENGTH
             ? HEADER_BLOCK_LENGTH
             : block.size() + 1;
}

} // namespace

std::int32_t RecordingView::fill(std::uint8_t* destination, std::int32_t n) {
  std::int32_t got = 0;
  while (got < n) {
    if (at_ < LENGTH_WORD_SIZE) {
      // Little-endian: the low byte first.
      destination[got++] = static_cast<std::uint8_t>(length_ >> (8 * at_));
      ++at_;
    } else if (at_ < LENGTH_WORD_SIZE + block_.size()) {
      const std::size_t take = std::min(static_cast<std::size_t>(n - got),
                                        LENGTH_WORD_SIZE + block_.size() - at_);
      std::memcpy(destination + got, block_.data() + (at_ - LENGTH_WORD_SIZE),
                  take);
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
    length_ = claimed_length(block_, reader_.open_end());
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
