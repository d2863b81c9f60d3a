// PZX images: blocks of a 4-byte tag, a 32-bit size and that many bytes,
// the first a PZXT header. The data blocks are DATA; pulse lists (PULS) are
// decoded into data blocks; every other block is stepped over by its size.
#pragma once

#include <array>
#include <optional>

#include "tape/container_reader.h"

namespace vetrik {

class PzxReader final : public BlockView {
public:
  // A block's tag: its 4 bytes, or those the image still held.
  using Tag = std::span<const std::uint8_t>;

  // image: from its first byte, the signature.
  explicit PzxReader(PeekableInput image) : BlockView(std::move(image)) {}

private:
  bool read_block() override;
  // The rest of the first block, of size bytes after its tag and size;
  // false when the view ended there.
  bool read_header(std::uint32_t size, Tag tag);
  // The rest of a DATA block; starts the data block or ends the view.
  void read_data(std::uint32_t size, Tag tag);

  bool header_read_ = false;
  // The last block's tag and size, as far as the image held them; and,
  // when they ended a signal run and are still to be read on from, how many
  // bytes of them there are.
  std::array<std::uint8_t, 8> head_{};
  std::optional<std::int32_t> head_held_;
};

} // namespace vetrik
