// What the TZX and PZX readers share: a view made of the data blocks of a
// container, found one at a time as the view is read. Each data block shows
// as its 16-bit little-endian length, then its bytes, which come straight
// from the image or from bytes the reader gathered first.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/little_endian.h"
#include "bytes/tap_block.h"
#include "signal/pulse_decoder.h"
#include "tape/signal_run.h"
#include "tape/tape_view.h"

namespace vetrik {

// The problems of a container, each followed by the block's name.
inline constexpr std::string_view TRUNCATED_BLOCK = "truncated block ";
inline constexpr std::string_view CANNOT_DECODE = "cannot decode block ";
inline constexpr std::string_view DAMAGED_BLOCK = "damaged block ";

// "unsupported " + format + " version M.N".
std::string unsupported_version(std::string_view format, std::uint8_t major,
                                std::uint8_t minor);

class BlockView : public TapeView {
protected:
  explicit BlockView(PeekableInput image) : TapeView(std::move(image)) {}

  // Reads the image's next block. Returns true when it started a data block
  // (start_block, start_gathered_block) or ended the view (end_view); false
  // when it stepped over the block or started a signal block, or ended a
  // signal run (whose blocks then come first).
  virtual bool read_block() = 0;

  // The next data block: size bytes read straight from the image. When the
  // image ends inside them, the view ends there, with no problem.
  void start_block(std::int32_t size);
  // The next data block: the size bytes gather last kept.
  void start_gathered_block(std::int32_t size);
  // Ends the view: at the image's end when message is empty, else at a bad
  // block, with message + block as its problem. An image that held signal
  // blocks but gave no block at all ends with NO_BLOCKS_FOUND.
  void end_view(std::string_view message = {}, std::string_view block = {});

  // Starts reading a signal block of the run; name is its name in messages.
  // The reader has started it in signal_ first.
  void signal_block_started(std::string name);
  // Ends a signal run that is under way, so that a block running up to its
  // end is complete, and returns true; false when no run is under way.
  bool end_signal();
  // Ends a signal run that is under way, then the view at a bad block, once
  // the blocks decoded before it are given.
  void end_view_after_signal(std::string_view message, std::string_view block);

  SignalRun signal_{image_};

  // Reads n bytes of the image into destination; false when it ends first.
  bool take(std::uint8_t* destination, std::int32_t n);
  // Reads past n bytes of the image; false when it ends first.
  bool skip(std::uint64_t n);
  // Reads past the next size bytes of the image, keeping kept bytes from
  // kept_at on (kept_at + kept <= size, kept <= MAX_BLOCK_SIZE) for
  // start_gathered_block; false when the image ends first.
  bool gather(std::uint64_t size, std::uint64_t kept_at, std::int32_t kept);

private:
  std::int32_t fill(std::uint8_t* destination, std::int32_t n) override;
  // Finds the next data block, or the view's end.
  void next_block();

  // What a signal run does before the reader goes on with the image's next
  // block.
  enum class SignalStep {
    DONE,  // a block decoded from the signal started, or the view ended
    AGAIN, // some of a signal block was read: take the next step
    IDLE   // nothing to do: the reader reads its next block
  };
  SignalStep signal_step();
  // The next data block: size bytes from source, which delivers them all
  // unless the image ends.
  void start_from(ImageInput& source, std::int32_t size);

  // The blocks of a signal run: its problem, which ends the view once the
  // blocks decoded before it are given, and the name of the block being
  // read.
  std::string signal_problem_;
  std::string signal_block_;
  bool signal_seen_ = false;
  bool block_seen_ = false;

  // The current data block: what is left of its length word and its bytes.
  std::array<std::uint8_t, 2> length_{};
  std::int32_t length_left_ = 0;
  std::int32_t bytes_left_ = 0;
  ImageInput* source_ = nullptr;
  MemoryInput gathered_input_{{}};
  bool ended_ = false;
  std::vector<std::uint8_t> gathered_;
};

} // namespace vetrik
