// The data blocks of a container as a TAP view.
#include "tape/container_reader.h"

#include <algorithm>

namespace vetrik {

std::string unsupported_version(std::string_view format, std::uint8_t major,
                                std::uint8_t minor) {
  std::string message = "unsupported ";
  message += format;
  message += " version ";
  message += std::to_string(major);
  message += '.';
  message += std::to_string(minor);
  return message;
}

void BlockView::start_block(std::int32_t size) {
  start_from(image_, size);
}

void BlockView::start_gathered_block(std::int32_t size) {
  gathered_input_ =
      MemoryInput({gathered_.data(), static_cast<std::size_t>(size)});
  start_from(gathered_input_, size);
}

void BlockView::start_from(ImageInput& source, std::int32_t size) {
  block_seen_ = true;
  length_ = {static_cast<std::uint8_t>(size & 0xFF),
             static_cast<std::uint8_t>(size >> 8)};
  length_left_ = 2;
  bytes_left_ = size;
  source_ = &source;
}

void BlockView::end_view(std::string_view message, std::string_view block) {
  ended_ = true;
  problem_ = message;
  problem_ += block;
  if (problem_.empty() && signal_seen_ && !block_seen_) {
    problem_ = NO_BLOCKS_FOUND;
  }
}

void BlockView::next_block() {
  for (;;) {
    switch (signal_step()) {
    case SignalStep::DONE:
      return;
    case SignalStep::AGAIN:
      break;
    case SignalStep::IDLE:
      if (read_block()) {
        return;
      }
      break;
    }
  }
}

BlockView::SignalStep BlockView::signal_step() {
  if (signal_.pop(gathered_)) {
    start_gathered_block(static_cast<std::int32_t>(gathered_.size()));
    return SignalStep::DONE;
  }
  if (!signal_problem_.empty()) {
    end_view(signal_problem_);
    return SignalStep::DONE;
  }
  if (!signal_.feeding()) {
    return SignalStep::IDLE;
  }
  // A block cut by the image or broken ends the view where the blocks
  // decoded before it end; a block under way there is lost.
  switch (signal_.feed()) {
  case SignalRun::Feed::TRUNCATED:
    signal_problem_ = std::string(TRUNCATED_BLOCK) + signal_block_;
    break;
  case SignalRun::Feed::DAMAGED:
    signal_problem_ = std::string(DAMAGED_BLOCK) + signal_block_;
    break;
  case SignalRun::Feed::MORE:
  case SignalRun::Feed::DONE:
    break;
  }
  return SignalStep::AGAIN;
}

void BlockView::signal_block_started(std::string name) {
  signal_block_ = std::move(name);
  signal_seen_ = true;
}

bool BlockView::end_signal() {
  if (!signal_.active()) {
    return false;
  }
  signal_.end();
  return true;
}

void BlockView::end_view_after_signal(std::string_view message,
                                      std::string_view block) {
  end_signal();
  signal_problem_ = message;
  signal_problem_ += block;
}

bool BlockView::take(std::uint8_t* destination, std::int32_t n) {
  return read_exactly(image_, destination, static_cast<std::size_t>(n));
}

bool BlockView::skip(std::uint64_t n) {
  return skip_bytes(image_, n);
}

bool BlockView::gather(std::uint64_t size, std::uint64_t kept_at,
                       std::int32_t kept) {
  // Room for the largest block, made once, when a first block needs it.
  gathered_.resize(static_cast<std::size_t>(MAX_BLOCK_SIZE));
  return skip(kept_at) && take(gathered_.data(), kept) &&
         skip(size - kept_at - static_cast<std::uint64_t>(kept));
}

std::int32_t BlockView::fill(std::uint8_t* destination, std::int32_t n) {
  std::int32_t got = 0;
  while (got < n) {
    if (length_left_ > 0) {
      destination[got++] = length_[static_cast<std::size_t>(2 - length_left_)];
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

} // namespace vetrik
