// The blocks of a recorded tape (a WAV or CSW image), pulled one at a time:
// the image is read in chunks as each block needs it, never whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bytes/image_format.h"

namespace vetrik {

class ImageInput;
class RecordingObserver;

class RecordingReader {
public:
  // Reads the recording from input, from its first byte on, as format (as
  // image_format() tells it): WAV or CSW; any other format gives no block
  // and no problem. observer, when given, is shown the signal as it is read
  // and each block as next_block() gives it; it must outlive the reader.
  RecordingReader(ImageInput& input, ImageFormat format,
                  RecordingObserver* observer = nullptr);
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  // Replaces block with the next block's bytes, in recording order: every
  // whole byte of it, 1 to 65535 of them (a block that went on past that
  // gives its first 65535). Returns false at the end of the recording, or
  // where a problem stopped it (see problem()).
  bool next_block(std::vector<std::uint8_t>& block);

  // Whether the recording ended inside one of the last given block's bytes:
  // it has most likely been cut short.
  bool open_end() const { return open_end_; }

  // The message for what stopped the recording ("unsupported WAV encoding
  // 85", "damaged WAV header", "unsupported CSW compression 3", "damaged CSW
  // header", "damaged CSW data"); empty when nothing did. Blocks before a
  // damage in the CSW data are given first; a block under way there is not.
  std::string problem() const;

private:
  struct Source;
  struct WavSource;
  struct CswSource;

  std::unique_ptr<Source> source_;
  bool open_end_ = false;
};

} // namespace vetrik
