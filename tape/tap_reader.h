// TAP images: the view is the image itself, byte for byte.
#pragma once

#include <utility>

#include "tape/tape_view.h"

namespace vetrik {

class TapReader final : public TapeView {
public:
  // image: from its first byte.
  explicit TapReader(PeekableInput image) : image_(std::move(image)) {}

private:
  std::int32_t fill(std::uint8_t* destination, std::int32_t n) override {
    return image_.read(destination, n);
  }

  PeekableInput image_;
};

} // namespace vetrik
