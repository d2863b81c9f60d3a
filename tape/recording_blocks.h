// WAV and CSW images: recordings of a tape, decoded into its blocks, each a
// data block of the view in recording order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signal/recording.h"
#include "tape/tape_view.h"

namespace vetrik {

class RecordingView final : public TapeView {
public:
  // image: from its first byte, a recording of format WAV or CSW.
  RecordingView(PeekableInput image, ImageFormat format)
      : TapeView(std::move(image)), reader_(image_, format) {}

private:
  std::int32_t fill(std::uint8_t* destination, std::int32_t n) override;
  // Starts the next block, or ends the view; false when it ended.
  bool next_block();

  RecordingReader reader_;
  // The current block: its length word, then its bytes; at_ counts both.
  // The length word may claim more bytes than there are: the recording
  // ended inside the block.
  std::vector<std::uint8_t> block_;
  std::size_t length_ = 0;
  std::size_t at_ = 2; // none yet: as if past the end of an empty one
  bool block_seen_ = false;
  bool ended_ = false;
};

} // namespace vetrik
