// PZX images: blocks of a 4-byte tag, a 32-bit size and that many bytes,
// the first a PZXT header. The data blocks are DATA; pulse lists (PULS) are
// decoded into data blocks; every other block is stepped over by its size.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "tape/container_reader.h"

namespace vetrik {

class PzxReader final : public ContainerReader {
public:
  // A block's tag: its 4 bytes, or those the image still held.
  using Tag = std::span<const std::uint8_t>;

  // image: from its first byte, the signature. observer, when given,
  // watches its signal blocks.
  explicit PzxReader(PeekableInput image, RecordingObserver* observer = nullptr)
      : ContainerReader(std::move(image), observer) {}

private:
  Step read_block() override;
  bool next_is_signal() override;
  // The rest of the first block, of size bytes after its tag and size:
  // stepped over, or the view's end.
  Step read_header(std::uint32_t size, Tag tag);
  // The rest of a DATA block: a data block, or the view's end.
  Step read_data(std::uint32_t size, Tag tag);

  bool header_read_ = false;
};

} // namespace vetrik
