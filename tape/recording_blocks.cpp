// Decoded blocks of a recording, for the TAP view.
#include "tape/recording_blocks.h"

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

Step RecordingBlocks::step() {
  if (!started_) {
    started_ = true;
    return Step::signal_block();
  }
  if (!reader_.next_block(block_)) {
    return Step::end(reader_.problem());
  }
  bytes_ = MemoryInput(block_);
  return Step::data_block(
      bytes_, static_cast<std::int32_t>(block_.size()),
      static_cast<std::uint16_t>(claimed_length(block_, reader_.open_end())));
}

} // namespace vetrik
