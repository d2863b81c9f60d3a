// An input for tests of read errors: its nth read delivers nothing, as a
// read error does, and its later reads go on where it stood.
#pragma once

#include <cstdint>
#include <vector>

#include "bytes/image_input.h"

namespace vetrik {

class FlakyInput final : public ImageInput {
public:
  FlakyInput(const std::vector<std::uint8_t>& bytes, int failing)
      : bytes_(bytes), left_(failing) {}
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override {
    return --left_ == 0 ? 0 : bytes_.read(destination, n);
  }

private:
  MemoryInput bytes_;
  int left_;
};

} // namespace vetrik
