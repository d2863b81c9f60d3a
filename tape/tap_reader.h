// TAP images: the view is the image itself, byte for byte.
#pragma once

#include "tape/tape_view.h"

namespace vetrik {

class TapReader final : public TapeView {
public:
  explicit TapReader(PeekableInput image) : TapeView(std::move(image)) {}

private:
  std::int32_t fill(std::uint8_t* destination, std::int32_t n) override {
    return image_.read(destination, n);
  }
};

} // namespace vetrik
