// Data blocks found by a reader, as a TAP view.
#include "tape/framed_view.h"

#include <algorithm>
#include <utility>

namespace vetrik {

Step Step::data_block(ImageInput& bytes, std::int32_t size) {
  return data_block(bytes, size, static_cast<std::uint16_t>(size));
}

Step Step::data_block(ImageInput& bytes, std::int32_t size,
                      std::uint16_t length) {
  Step step;
  step.kind = Kind::DATA_BLOCK;
  step.bytes = &bytes;
  step.size = size;
  step.length = length;
  return step;
}

Step Step::signal_block(std::string name) {
  Step step;
  step.kind = Kind::SIGNAL_BLOCK;
  step.name = std::move(name);
  return step;
}

Step Step::end(std::string problem) {
  Step step;
  step.kind = Kind::END;
  step.problem = std::move(problem);
  return step;
}

std::int32_t FramedView::fill(std::uint8_t* destination, std::int32_t n) {
  std::int32_t got = 0;
  while (got < n) {
    if (length_left_ > 0) {
      destination[got++] = length_[LENGTH_WORD_SIZE - length_left_];
      --length_left_;
    } else if (bytes_left_ > 0) {
      const std::int32_t want = std::min(n - got, bytes_left_);
      const std::int32_t arrived = source_->read(destination + got, want);
      got += arrived;
      bytes_left_ -= arrived;
      if (arrived < want) {
        // The image ended inside the block: plain truncation, as in a TAP.
        bytes_left_ = 0;
        ended_ = true;
        break;
      }
    } else if (ended_) {
      break;
    } else {
      next_block();
    }
  }
  return got;
}

void FramedView::next_block() {
  for (;;) {
    Step step = reader_->step();
    switch (step.kind) {
    case Step::Kind::DATA_BLOCK:
      block_seen_ = true;
      // Little-endian: the low byte first.
      length_ = {static_cast<std::uint8_t>(step.length & 0xFF),
                 static_cast<std::uint8_t>(step.length >> 8)};
      length_left_ = LENGTH_WORD_SIZE;
      bytes_left_ = step.size;
      source_ = step.bytes;
      return;
    case Step::Kind::SIGNAL_BLOCK:
      signal_seen_ = true;
      break;
    case Step::Kind::STEPPED_OVER:
      break;
    case Step::Kind::END:
      ended_ = true;
      problem_ = std::move(step.problem);
      if (problem_.empty() && signal_seen_ && !block_seen_) {
        problem_ = NO_BLOCKS_FOUND;
      }
      return;
    }
  }
}

} // namespace vetrik
