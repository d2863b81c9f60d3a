// The TAP view's end test, and telling the formats apart.
#include "tape/tape_view.h"

#include <algorithm>
#include <array>

#include "signal/recording.h"
#include "tape/pzx_reader.h"
#include "tape/recording_view.h"
#include "tape/tap_reader.h"
#include "tape/tzx_reader.h"

namespace vetrik {

std::int32_t TapeView::read(std::uint8_t* destination, std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  if (!holding_) {
    return fill(destination, n);
  }
  holding_ = false;
  destination[0] = held_;
  return 1 + fill(destination + 1, n - 1);
}

bool TapeView::at_end() {
  if (!holding_) {
    holding_ = fill(&held_, 1) == 1;
  }
  return !holding_;
}

static_assert(PrefixedInput::MOST_LOOKED_AT >= RECORDING_SIGNATURE_SIZE);

std::unique_ptr<TapeView> open_tape_view(ImageInput& image) {
  std::array<std::uint8_t, PrefixedInput::MOST_LOOKED_AT> first{};
  const auto got = static_cast<std::size_t>(std::max(
      0, image.read(first.data(), static_cast<std::int32_t>(first.size()))));
  const std::span<const std::uint8_t> looked_at(first.data(), got);
  if (looked_at.size() >= TZX_SIGNATURE.size() &&
      std::equal(TZX_SIGNATURE.begin(), TZX_SIGNATURE.end(),
                 looked_at.begin())) {
    return std::make_unique<TzxReader>(image, looked_at);
  }
  if (looked_at.size() >= PZX_SIGNATURE.size() &&
      std::equal(PZX_SIGNATURE.begin(), PZX_SIGNATURE.end(),
                 looked_at.begin())) {
    // The signature is the tag of the first block.
    return std::make_unique<PzxReader>(image, looked_at);
  }
  if (recording_kind(looked_at) != RecordingKind::NONE) {
    return std::make_unique<RecordingView>(image, looked_at);
  }
  return std::make_unique<TapReader>(image, looked_at);
}

} // namespace vetrik
