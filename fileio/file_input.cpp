// Image bytes from the numbered-file layer.
#include "fileio/file_input.h"

#include "fileio/file_access.h"

namespace vetrik {

std::int32_t FileInput::read(std::uint8_t* destination, std::int32_t n) {
  return file_read(number_, destination, n);
}

} // namespace vetrik
