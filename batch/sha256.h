// SHA-256 of the files a batch makes, so that a report tells each file's
// bytes without holding them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vetrik {

class Sha256 {
public:
  // by_instructions: use the processor's SHA instructions where it has them
  // (false tests the plain code on any processor).
  explicit Sha256(bool by_instructions = true);
  // Takes the next bytes of the message.
  void update(std::span<const std::uint8_t> bytes);
  // The digest of all the bytes taken, as 64 lower-case hex digits. Ends the
  // message: update must not be called after it.
  std::string hex();

private:
  void compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pending_size_ = 0;
  std::uint64_t length_ = 0; // bytes taken
  bool by_instructions_;
};

} // namespace vetrik
