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

} // namespace vetrik
