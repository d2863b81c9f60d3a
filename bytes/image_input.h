// The bytes of a tape image, read in order: what every format reader stands
// on. The image is never loaded whole; a reader asks for what it needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vetrik {

class ImageInput {
public:
  virtual ~ImageInput() = default;

  // Reads up to n bytes into destination. Returns how many arrived: fewer
  // than n only at the end of the image, or after a read error (which the
  // file layer remembers for the driver).
  virtual std::int32_t read(std::uint8_t* destination, std::int32_t n) = 0;
};

// Reads exactly n bytes (a header's worth). Returns false when the input
// ends first.
bool read_exactly(ImageInput& input, std::uint8_t* destination, std::size_t n);

// Reads and drops n bytes, scratch.size() at a time through scratch (which
// must not be empty), or 4096 at a time without it. Returns false when the
// input ends first.
bool skip_bytes(ImageInput& input, std::uint64_t n,
                std::span<std::uint8_t> scratch);
bool skip_bytes(ImageInput& input, std::uint64_t n);

// Bytes held in memory: a block gathered from the image, or a whole image in
// a test; bytes must outlive it.
class MemoryInput final : public ImageInput {
public:
  explicit MemoryInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// An input that can be looked ahead into: bytes peeked at stay to be read,
// and the next reads give them first. Once the input comes up short,
// nothing more is read from it: a read error ends the image where it struck,
// as if it had been cut there.
class PeekableInput final : public ImageInput {
public:
  // The most bytes a peek can look at: more than any signature needs.
  static constexpr std::size_t MOST_PEEKED = 64;

  // Reads from rest, which must outlive it.
  explicit PeekableInput(ImageInput& rest) : rest_(&rest) {}
  PeekableInput(const PeekableInput&) = delete;
  PeekableInput& operator=(const PeekableInput&) = delete;
  PeekableInput(PeekableInput&&) = default;
  PeekableInput& operator=(PeekableInput&&) = default;

  // The next n bytes, which are not consumed: fewer when the input ends
  // first, and at most MOST_PEEKED. Valid until the next call.
  std::span<const std::uint8_t> peek(std::size_t n);

  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

private:
  ImageInput* rest_;
  std::array<std::uint8_t, MOST_PEEKED> peeked_{};
  std::size_t at_ = 0;   // the next byte of peeked_ to give
  std::size_t held_ = 0; // where the bytes peeked_ holds end
  bool ended_ = false;
};

// At most a given number of bytes of another input: a block inside the
// image, read as an image of its own.
class LimitedInput final : public ImageInput {
public:
  explicit LimitedInput(ImageInput& whole) : whole_(whole) {}

  // From here on, at most size bytes.
  void limit(std::uint64_t size) {
    left_ = size;
    cut_short_ = false;
  }

  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

  // Reads past what is left of the limit; false when the input ends first.
  bool skip_rest();

  // Whether the input ended before the limit did.
  bool cut_short() const { return cut_short_; }

  // Bytes the limit still allows.
  std::uint64_t left() const { return left_; }

private:
  ImageInput& whole_;
  std::uint64_t left_ = 0;
  bool cut_short_ = false;
};

} // namespace vetrik
