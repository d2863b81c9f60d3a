// The blocks of a container, one step at a time.
#include "tape/container_reader.h"

#include <utility>

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

Step bad_block(std::string_view message, std::string_view block) {
  std::string problem(message);
  problem += block;
  return Step::end(std::move(problem));
}

Step ContainerReader::step() {
  for (;;) {
    if (signal_.pop(gathered_)) {
      return gathered_block(static_cast<std::int32_t>(gathered_.size()));
    }
    if (ending_) {
      return Step::end(std::move(*ending_));
    }
    if (signal_.feeding()) {
      feed_signal();
      continue;
    }
    if (signal_.active() && !next_is_signal()) {
      // Any other block ends the run, and so does the image's end: a block
      // running up to there is complete.
      signal_.end();
      continue;
    }
    Step found = read_block();
    if (found.kind == Step::Kind::END && signal_.active()) {
      signal_.end();
      ending_ = std::move(found.problem);
      continue;
    }
    if (found.kind == Step::Kind::SIGNAL_BLOCK) {
      signal_block_ = found.name;
    }
    return found;
  }
}

void ContainerReader::feed_signal() {
  // A block cut by the image or broken ends the view where the blocks
  // decoded before it end; a block under way there is lost.
  switch (signal_.feed()) {
  case SignalRun::Feed::TRUNCATED:
    ending_ = std::string(TRUNCATED_BLOCK) + signal_block_;
    break;
  case SignalRun::Feed::DAMAGED:
    ending_ = std::string(DAMAGED_BLOCK) + signal_block_;
    break;
  case SignalRun::Feed::MORE:
  case SignalRun::Feed::DONE:
    break;
  }
}

bool ContainerReader::gather(std::uint64_t size, std::uint64_t kept_at,
                             std::int32_t kept) {
  // Room for the largest block, made once, when a first block needs it.
  gathered_.resize(MAX_BLOCK_SIZE);
  return skip_bytes(image_, kept_at) &&
         read_exactly(image_, gathered_.data(),
                      static_cast<std::size_t>(kept)) &&
         skip_bytes(image_, size - kept_at - static_cast<std::uint64_t>(kept));
}

Step ContainerReader::gathered_block(std::int32_t size) {
  gathered_input_ =
      MemoryInput({gathered_.data(), static_cast<std::size_t>(size)});
  return Step::data_block(gathered_input_, size);
}

} // namespace vetrik
