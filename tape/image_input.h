// The bytes of a tape image, read in order: what every format reader stands
// on. The image is never loaded whole; a reader asks for what it needs.
#pragma once

#include <array>
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

// The image as an open numbered file of the file layer.
class FileInput final : public ImageInput {
public:
  explicit FileInput(std::int32_t number) : number_(number) {}
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

private:
  std::int32_t number_;
};

// An image held in memory, for tests and fuzzers; bytes must outlive it.
class MemoryInput final : public ImageInput {
public:
  explicit MemoryInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// The first bytes of the image, already read to tell its format, then the
// rest of it. Once the image comes up short, nothing more is read: a read
// error ends the image where it struck, as if it had been cut there.
class PrefixedInput final : public ImageInput {
public:
  static constexpr std::size_t MOST_LOOKED_AT = 8;

  // looked_at: at most MOST_LOOKED_AT bytes; fewer means the image ended.
  PrefixedInput(ImageInput& rest, std::span<const std::uint8_t> looked_at);
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override;

private:
  ImageInput& rest_;
  std::array<std::uint8_t, MOST_LOOKED_AT> looked_at_{};
  std::size_t size_ = 0;
  std::size_t at_ = 0;
  bool ended_ = false;
};

} // namespace vetrik
