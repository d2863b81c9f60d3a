// The bytes of a tape image, read in order: what every format reader stands
// on. The image is never loaded whole; a reader asks for what it needs.
#pragma once

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

} // namespace vetrik
