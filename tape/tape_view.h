// The TAP view of a tape image: whatever the image's format, the bytes that a
// TAP image of its data blocks would hold, in order. The block loop reads
// nothing else, so it never knows which format it reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bytes/image_input.h"

namespace vetrik {

class TapeView {
public:
  virtual ~TapeView() = default;
  TapeView(const TapeView&) = delete;
  TapeView& operator=(const TapeView&) = delete;

  // Reads up to n bytes of the view into destination. Returns how many
  // arrived: fewer than n only at the end of the view, and 0 ever after.
  std::int32_t read(std::uint8_t* destination, std::int32_t n);

  // Whether the view has no byte left. Consumes none: a byte it looks at is
  // the next one read.
  bool at_end();

  // Why the view ended before the image did: the message for the bad block it
  // stopped at. Empty while the view goes on, and when it ended with the image.
  const std::string& problem() const { return problem_; }

protected:
  TapeView() = default;

  // Delivers up to n bytes of the view: fewer only at its end, then 0.
  virtual std::int32_t fill(std::uint8_t* destination, std::int32_t n) = 0;

  // Set by the view as it ends.
  std::string problem_;

private:
  std::uint8_t held_ = 0;
  bool holding_ = false;
};

// Looks at the first bytes of image and opens the view for the format they
// tell (image_format()); a TAP image is its own view, from its first byte.
// image must outlive the view.
std::unique_ptr<TapeView> open_tape_view(ImageInput& image);

} // namespace vetrik
