// WAV and CSW images: recordings of a tape, decoded into its blocks, each a
// data block of the view in recording order.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "bytes/image_format.h"
#include "bytes/image_input.h"
#include "signal/recording.h"
#include "tape/framed_view.h"

namespace vetrik {

class RecordingBlocks final : public BlockReader {
public:
  // image: from its first byte, a recording of format WAV or CSW.
  RecordingBlocks(PeekableInput image, ImageFormat format)
      : image_(std::move(image)), reader_(image_, format) {}

  // First the recording itself, a signal block; then the blocks decoded
  // from it, and its end.
  Step step() override;

private:
  PeekableInput image_;
  RecordingReader reader_;
  bool started_ = false;
  // The current block, and its bytes as the view reads them.
  std::vector<std::uint8_t> block_;
  MemoryInput bytes_{{}};
};

} // namespace vetrik
