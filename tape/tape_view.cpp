// The TAP view's end test, and the view for each format.
#include "tape/tape_view.h"

#include <utility>

#include "bytes/image_format.h"
#include "tape/framed_view.h"
#include "tape/pzx_reader.h"
#include "tape/recording_blocks.h"
#include "tape/tap_reader.h"
#include "tape/tzx_reader.h"

namespace vetrik {

std::int32_t TapeView::read(std::uint8_t* destination, std::int32_t n) {
  if (n <= 0) {
    return 0;
  }
  if (!holding_) {
    return fill(destination, n);
  }
  holding_ = false;
  destination[0] = held_;
  return 1 + fill(destination + 1, n - 1);
}

bool TapeView::at_end() {
  if (!holding_) {
    holding_ = fill(&held_, 1) == 1;
  }
  return !holding_;
}

static_assert(PeekableInput::MOST_PEEKED >= IMAGE_FORMAT_BYTES);

std::unique_ptr<TapeView> open_tape_view(ImageInput& input) {
  PeekableInput image(input);
  const ImageFormat format = image_format(image.peek(IMAGE_FORMAT_BYTES));
  switch (format) {
  case ImageFormat::TZX:
    return std::make_unique<FramedView>(
        std::make_unique<TzxReader>(std::move(image)));
  case ImageFormat::PZX:
    // The signature is the tag of the first block.
    return std::make_unique<FramedView>(
        std::make_unique<PzxReader>(std::move(image)));
  case ImageFormat::WAV:
  case ImageFormat::CSW:
    return std::make_unique<FramedView>(
        std::make_unique<RecordingBlocks>(std::move(image), format));
  case ImageFormat::TAP:
    break;
  }
  return std::make_unique<TapReader>(std::move(image));
}

} // namespace vetrik
