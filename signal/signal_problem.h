// What can stop the reading of a recording, and the message for it.
#pragma once

#include <cstdint>
#include <string>

namespace vetrik {

enum class SignalProblemKind {
  NONE,
  UNSUPPORTED_WAV_ENCODING, // number: the format tag
  DAMAGED_WAV_HEADER,
  UNSUPPORTED_CSW_COMPRESSION, // number: the compression type
  DAMAGED_CSW_HEADER,
  DAMAGED_CSW_DATA,
};

struct SignalProblem {
  SignalProblemKind kind = SignalProblemKind::NONE;
  std::uint32_t number = 0;
};

// The message for problem, one line without a line break; empty for NONE.
std::string signal_problem_text(const SignalProblem& problem);

// Reads exactly n bytes. Returns false when the input ends first.
class ImageInput;
bool read_exactly(ImageInput& input, std::uint8_t* destination, std::size_t n);

// Reads and drops n bytes. Returns false when the input ends first.
bool skip_bytes(ImageInput& input, std::uint64_t n);

// Little-endian fields.
inline std::uint32_t le16(const std::uint8_t* p) {
  return p[0] + p[1] * 0x100U;
}
inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] + p[1] * 0x100U + p[2] * 0x10000U + p[3] * 0x1000000U;
}

} // namespace vetrik
