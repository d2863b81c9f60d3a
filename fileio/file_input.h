// The tape image as an open numbered file: the byte source the driver hands
// to the tape layer.
#pragma once

#include <cstdint>

#include "bytes/image_input.h"

namespace vetrik {

class FileInput final : public ImageInput {
public:
  // number: a file opened for reading with file_open_read.
  explicit FileInput(std::int32_t number) : number_(number) {}

  // As file_read: fewer than n bytes at the end of the file or after a read
  // error, which file_read_failed then tells.
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

private:
  std::int32_t number_;
};

} // namespace vetrik
