// TZX images: a signature and version, then blocks, each starting with its
// ID byte. The data blocks are 0x10, 0x11 and 0x14, and 0x19 with a data
// alphabet of two symbols; the recordings 0x15 and 0x18 are decoded into
// data blocks; every other block is stepped over by its length.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "tape/container_reader.h"

namespace vetrik {

class TzxReader final : public BlockView {
public:
  // image: from its first byte, the signature.
  explicit TzxReader(PeekableInput image) : BlockView(std::move(image)) {}

private:
  bool read_block() override;
  // Reads the signature and version; false when the view ended there.
  bool read_header();
  // Reads the rest of the block id; true when it started a data block or
  // ended the view, false when it was stepped over or started a signal
  // block.
  bool read_block(std::uint8_t id);
  // The rest of a 0x19 block after its 32-bit length; as read_block.
  bool read_generalized(std::uint64_t length);
  // The rest of a recording, 0x15 or 0x18, after its fixed bytes and with
  // the length they give; starts it in the signal run, or ends the view.
  // As read_block.
  bool read_recording(std::uint8_t id, const std::uint8_t* fixed,
                      std::uint64_t length);

  bool header_read_ = false;
  // A block's ID read when it ended a signal run, to be read on from.
  std::optional<std::uint8_t> held_id_;
};

} // namespace vetrik
