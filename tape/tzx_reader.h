// TZX images: a signature and version, then blocks, each starting with its
// ID byte. The data blocks are 0x10, 0x11 and 0x14, and 0x19 with a data
// alphabet of two symbols; the recordings 0x15 and 0x18 are decoded into
// data blocks; every other block is stepped over by its length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tape/container_reader.h"

namespace vetrik {

inline constexpr std::string_view TRUNCATED_TZX_HEADER = "truncated TZX header";

class TzxReader final : public ContainerReader {
public:
  // image: from its first byte, the signature. observer, when given,
  // watches its signal blocks.
  explicit TzxReader(PeekableInput image, RecordingObserver* observer = nullptr)
      : ContainerReader(std::move(image), observer) {}

private:
  Step read_block() override;
  bool next_is_signal() override;
  // Reads the signature and version. Returns the problem that ends the view
  // there, or "" when blocks follow.
  std::string read_header();
  // Reads the rest of the block id.
  Step read_block(std::uint8_t id);
  // The rest of a 0x19 block after its 32-bit length.
  Step read_generalized(std::uint64_t length);
  // The rest of a recording, 0x15 or 0x18, after its fixed bytes and with
  // the length they give: started in the signal run, or a bad block.
  Step read_recording(std::uint8_t id, const std::uint8_t* fixed,
                      std::uint64_t length);
  // The rest of a tone, 0x12, or pulse sequence, 0x13, after its fixed
  // bytes, for an observer: the decoder is not given them.
  Step read_tone(std::uint8_t id, const std::uint8_t* fixed);

  bool header_read_ = false;
};

} // namespace vetrik
