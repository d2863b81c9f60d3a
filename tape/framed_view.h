// The TAP view of an image whose blocks a reader finds one at a time (TZX,
// PZX, a recording): each data block shows as its 16-bit little-endian
// length word, then its bytes, which come straight from the image or from
// bytes the reader gathered first. The one place such a view is framed and
// ends.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "bytes/image_input.h"
#include "bytes/tap_block.h"
#include "tape/tape_view.h"

namespace vetrik {

// The problem of an image with recorded signal in which no block at all was
// found.
inline constexpr std::string_view NO_BLOCKS_FOUND = "no blocks found";

// What one step of a reader found.
struct Step {
  enum class Kind {
    DATA_BLOCK,   // a data block of the view
    SIGNAL_BLOCK, // a block of recorded signal: its blocks come later
    STEPPED_OVER, // a block with nothing for the view
    END,          // the end of the view
  };

  // size bytes read from bytes, behind a length word that says size. When
  // bytes ends inside them (the image was cut there), so does the view, with
  // no problem, as a cut TAP image does.
  static Step data_block(ImageInput& bytes, std::int32_t size);
  // The same behind a length word that says length: more than size for a
  // block a recording's end cut short.
  static Step data_block(ImageInput& bytes, std::int32_t size,
                         std::uint16_t length);
  // name: the block's name in messages.
  static Step signal_block(std::string name = {});
  static Step stepped_over() { return {}; }
  // At the image's end when problem is empty, else at a bad block, with
  // problem as the view's problem.
  static Step end(std::string problem = {});

  Kind kind = Kind::STEPPED_OVER;
  ImageInput* bytes = nullptr; // DATA_BLOCK: where its bytes come from
  std::int32_t size = 0;       // ... how many
  std::uint16_t length = 0;    // ... its length word
  std::string name;            // SIGNAL_BLOCK
  std::string problem;         // END
};

// A format's reader, stepping through its image block by block.
class BlockReader {
public:
  virtual ~BlockReader() = default;

  // Reads on to what comes next. A data block's bytes are read before the
  // next step is taken, and no step after the end.
  virtual Step step() = 0;
};

class FramedView final : public TapeView {
public:
  explicit FramedView(std::unique_ptr<BlockReader> reader)
      : reader_(std::move(reader)) {}

private:
  std::int32_t fill(std::uint8_t* destination, std::int32_t n) override;
  // Steps on to the next data block, or the view's end. A view that held
  // signal but gave no block at all ends with NO_BLOCKS_FOUND, when nothing
  // else went wrong.
  void next_block();

  std::unique_ptr<BlockReader> reader_;
  bool ended_ = false;
  bool block_seen_ = false;
  bool signal_seen_ = false;
  // The current data block: what is left of its length word and its bytes.
  std::array<std::uint8_t, LENGTH_WORD_SIZE> length_{};
  std::size_t length_left_ = 0;
  std::int32_t bytes_left_ = 0;
  ImageInput* source_ = nullptr;
};

} // namespace vetrik
