// What the TZX and PZX readers share: stepping through the blocks of a
// container, the runs of signal blocks among them decoded into data blocks
// as they are read, and the bytes of a data block gathered when they do not
// come straight from the image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bytes/image_input.h"
#include "bytes/little_endian.h"
#include "bytes/tap_block.h"
#include "tape/framed_view.h"
#include "tape/signal_run.h"

namespace vetrik {

// The problems of a container, each followed by the block's name.
inline constexpr std::string_view TRUNCATED_BLOCK = "truncated block ";
inline constexpr std::string_view CANNOT_DECODE = "cannot decode block ";
inline constexpr std::string_view DAMAGED_BLOCK = "damaged block ";

// "unsupported " + format + " version M.N".
std::string unsupported_version(std::string_view format, std::uint8_t major,
                                std::uint8_t minor);

// The end of the view at a bad block: message, then the block's name.
Step bad_block(std::string_view message, std::string_view block);

class ContainerReader : public BlockReader {
public:
  // The blocks decoded from a run of signal blocks come where the run
  // stands. Any other block ends the run, and so do a bad block and the
  // image's end: a block running up to there is complete. A signal block
  // cut short or broken ends the view once the blocks decoded before the
  // fault are given; the block under way there is lost.
  Step step() final;

protected:
  // image: from its first byte, the signature. observer, when given, watches
  // the signal blocks as the signal run decodes them.
  explicit ContainerReader(PeekableInput image,
                           RecordingObserver* observer = nullptr)
      : image_(std::move(image)), signal_(image_, observer) {}

  // Reads the image's next block. A signal block is started in signal_
  // first; a data block's bytes are the image's next, or gathered.
  virtual Step read_block() = 0;

  // Whether the image's next block is a signal block, which goes on with a
  // run under way. Consumes nothing.
  virtual bool next_is_signal() = 0;

  // Reads past the next size bytes of the image, keeping kept bytes from
  // kept_at on (kept_at + kept <= size, kept <= MAX_BLOCK_SIZE) for
  // gathered_block; false when the image ends first.
  bool gather(std::uint64_t size, std::uint64_t kept_at, std::int32_t kept);
  // A data block of the size bytes gather last kept.
  Step gathered_block(std::int32_t size);

  PeekableInput image_;
  SignalRun signal_;

private:
  // Reads and decodes the next piece of the signal block being read.
  void feed_signal();

  // The signal block being read, by its name in messages.
  std::string signal_block_;
  // The view's problem once the signal run's blocks are given ("" for the
  // image's end); none while the view goes on.
  std::optional<std::string> ending_;
  std::vector<std::uint8_t> gathered_;
  MemoryInput gathered_input_{{}};
};

} // namespace vetrik
