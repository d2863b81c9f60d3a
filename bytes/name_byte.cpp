// Name bytes as text.
#include "bytes/name_byte.h"

namespace vetrik {

std::string render_name_byte(std::uint8_t byte) {
  if (byte >= 32 && byte <= 127) {
    return std::string(1, static_cast<char>(byte));
  }
  return '(' + std::to_string(byte) + ')';
}

} // namespace vetrik
