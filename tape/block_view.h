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

#include "tape/tape_view.h"

namespace vetrik {

// A data block's length must fit the view's 16-bit length word.
inline constexpr std::int32_t MAX_BLOCK_SIZE = 0xFFFF;

// The problems of a container, each followed by the block's name.
inline constexpr std::string_view TRUNCATED_BLOCK = "truncated block ";
inline constexpr std::string_view CANNOT_DECODE = "cannot decode block ";
inline constexpr std::string_view DAMAGED_BLOCK = "damaged block ";

// The size bytes of a little-endian number at bytes, 0 to 4 of them.
std::uint32_t little_endian(const std::uint8_t* bytes, std::size_t size);

// "unsupported " + format + " version M.N".
std::string unsupported_version(std::string_view format, std::uint8_t major,
                                std::uint8_t minor);

class BlockView : public TapeView {
protected:
  BlockView(ImageInput& image, std::span<const std::uint8_t> looked_at)
      : TapeView(image, looked_at) {}

  // Reads blocks until one is a data block, then starts it with
  // start_block or start_gathered_block; or ends the view with end_view.
  virtual void next_block() = 0;

  // The next data block: size bytes read straight from the image. When the
  // image ends inside them, the view ends there, with no problem.
  void start_block(std::int32_t size);
  // The next data block: the size bytes gather last kept.
  void start_gathered_block(std::int32_t size);
  // Ends the view: at the image's end when message is empty, else at a bad
  // block, with message + block as its problem.
  void end_view(std::string_view message = {}, std::string_view block = {});

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
  // The next data block: size bytes from source, which delivers them all
  // unless the image ends.
  void start_from(ImageInput& source, std::int32_t size);

  // The current data block: what is left of its length word and its bytes.
  std::array<std::uint8_t, 2> length_{};
  std::int32_t length_left_ = 0;
  std::int32_t bytes_left_ = 0;
  ImageInput* source_ = nullptr;
  MemoryInput gathered_input_{{}};
  bool ended_ = false;
  std::vector<std::uint8_t> gathered_;
  std::array<std::uint8_t, 4096> scratch_{};
};

} // namespace vetrik
