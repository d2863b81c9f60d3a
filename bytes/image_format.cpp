// Formats by their signatures.
#include "bytes/image_format.h"

#include <algorithm>

namespace vetrik {

bool holds_at(std::span<const std::uint8_t> bytes, std::size_t at,
              std::string_view signature) {
  if (bytes.size() < at || bytes.size() - at < signature.size()) {
    return false;
  }
  const std::span<const std::uint8_t> there = bytes.subspan(at);
  return std::equal(
      signature.begin(), signature.end(), there.begin(),
      [](char s, std::uint8_t b) { return static_cast<std::uint8_t>(s) == b; });
}

ImageFormat image_format(std::span<const std::uint8_t> first_bytes) {
  if (holds_at(first_bytes, 0, TZX_SIGNATURE)) {
    return ImageFormat::TZX;
  }
  if (holds_at(first_bytes, 0, PZX_SIGNATURE)) {
    return ImageFormat::PZX;
  }
  if (holds_at(first_bytes, 0, WAV_RIFF) &&
      holds_at(first_bytes, WAV_WAVE_AT, WAV_WAVE)) {
    return ImageFormat::WAV;
  }
  if (holds_at(first_bytes, 0, CSW_SIGNATURE)) {
    return ImageFormat::CSW;
  }
  return ImageFormat::TAP;
}

} // namespace vetrik
