// Image bytes from memory, peeked at, or limited to a block, and the exact
// reads and skips every reader uses.
#include "bytes/image_input.h"

#include <algorithm>
#include <cstring>

namespace vetrik {

namespace {

inline constexpr std::size_t SKIP_SCRATCH = 4096;

} // namespace

bool read_exactly(ImageInput& input, std::uint8_t* destination, std::size_t n) {
  return input.read(destination, static_cast<std::int32_t>(n)) ==
         static_cast<std::int32_t>(n);
}

bool skip_bytes(ImageInput& input, std::uint64_t n,
                std::span<std::uint8_t> scratch) {
  while (n > 0) {
    const auto want =
        static_cast<std::int32_t>(std::min<std::uint64_t>(n, scratch.size()));
    if (input.read(scratch.data(), want) != want) {
      return false;
    }
    n -= static_cast<std::uint64_t>(want);
  }
  return true;
}

bool skip_bytes(ImageInput& input, std::uint64_t n) {
  std::array<std::uint8_t, SKIP_SCRATCH> scratch;
  return skip_bytes(input, n, scratch);
}

std::int32_t MemoryInput::read(std::uint8_t* destination, std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  const std::size_t take =
      std::min(static_cast<std::size_t>(n), bytes_.size() - at_);
  if (take > 0) {
    std::memcpy(destination, bytes_.data() + at_, take);
  }
  at_ += take;
  return static_cast<std::int32_t>(take);
}

std::span<const std::uint8_t> PeekableInput::peek(std::size_t n) {
  n = std::min(n, MOST_PEEKED);
  if (held_ - at_ < n) {
    // Room behind what is held, then the bytes still missing.
    std::copy(peeked_.begin() + static_cast<std::ptrdiff_t>(at_),
              peeked_.begin() + static_cast<std::ptrdiff_t>(held_),
              peeked_.begin());
    held_ -= at_;
    at_ = 0;
    if (!ended_) {
      const auto want = static_cast<std::int32_t>(n - held_);
      const std::int32_t got = rest_->read(peeked_.data() + held_, want);
      ended_ = got < want;
      held_ += static_cast<std::size_t>(std::max(got, 0));
    }
  }
  return {peeked_.data() + at_, std::min(n, held_ - at_)};
}

std::int32_t PeekableInput::read(std::uint8_t* destination, std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  const auto replay = static_cast<std::int32_t>(
      std::min(static_cast<std::size_t>(n), held_ - at_));
  std::copy_n(peeked_.begin() + static_cast<std::ptrdiff_t>(at_), replay,
              destination);
  at_ += static_cast<std::size_t>(replay);
  if (replay == n || ended_) {
    return replay;
  }
  const std::int32_t got = rest_->read(destination + replay, n - replay);
  ended_ = got < n - replay;
  return replay + std::max(got, 0);
}

std::int32_t LimitedInput::read(std::uint8_t* destination, std::int32_t n) {
  const auto want = static_cast<std::int32_t>(std::min<std::uint64_t>(
      left_, static_cast<std::uint64_t>(std::max(n, 0))));
  if (want == 0) {
    return 0;
  }
  const std::int32_t got = whole_.read(destination, want);
  left_ -= static_cast<std::uint64_t>(std::max(got, 0));
  cut_short_ = cut_short_ || got < want;
  return got;
}

bool LimitedInput::skip_rest() {
  return !cut_short_ && skip_bytes(*this, left_);
}

} // namespace vetrik
