// Telling an image's format by its first bytes, never by its name, and the
// signatures that do it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vetrik {

enum class ImageFormat { TAP, TZX, PZX, WAV, CSW };

inline constexpr std::string_view TZX_SIGNATURE{"ZXTape!\x1A", 8};
// The tag of a PZX image's first block.
inline constexpr std::string_view PZX_SIGNATURE = "PZXT";
// A WAV file is a RIFF file of form WAVE: "RIFF", the size of the rest,
// "WAVE".
inline constexpr std::string_view WAV_RIFF = "RIFF";
inline constexpr std::string_view WAV_WAVE = "WAVE";
inline constexpr std::size_t WAV_WAVE_AT = 4 + 4;
inline constexpr std::string_view CSW_SIGNATURE = "Compressed Square Wave\x1A";

// The most first bytes image_format() looks at: a CSW signature's.
inline constexpr std::size_t IMAGE_FORMAT_BYTES = CSW_SIGNATURE.size();

// Whether bytes hold signature at offset at.
bool holds_at(std::span<const std::uint8_t> bytes, std::size_t at,
              std::string_view signature);

// The format first_bytes, the start of an image, make it: TZX for
// TZX_SIGNATURE, PZX for PZX_SIGNATURE, WAV for WAV_RIFF with WAV_WAVE at
// WAV_WAVE_AT, CSW for CSW_SIGNATURE; TAP for anything else, too few bytes to
// tell included (a TAP image cannot start with any of them).
ImageFormat image_format(std::span<const std::uint8_t> first_bytes);

} // namespace vetrik
