// Problem messages and the byte helpers the recording readers share.
#include "signal/signal_problem.h"

#include <algorithm>

#include "tape/image_input.h"

namespace vetrik {

std::string signal_problem_text(const SignalProblem& problem) {
  const std::string number = std::to_string(problem.number);
  switch (problem.kind) {
  case SignalProblemKind::NONE:
    return "";
  case SignalProblemKind::UNSUPPORTED_WAV_ENCODING:
    return "unsupported WAV encoding " + number;
  case SignalProblemKind::DAMAGED_WAV_HEADER:
    return "damaged WAV header";
  case SignalProblemKind::UNSUPPORTED_CSW_COMPRESSION:
    return "unsupported CSW compression " + number;
  case SignalProblemKind::DAMAGED_CSW_HEADER:
    return "damaged CSW header";
  case SignalProblemKind::DAMAGED_CSW_DATA:
    return "damaged CSW data";
  }
  return "";
}

bool read_exactly(ImageInput& input, std::uint8_t* destination, std::size_t n) {
  return input.read(destination, static_cast<std::int32_t>(n)) ==
         static_cast<std::int32_t>(n);
}

bool skip_bytes(ImageInput& input, std::uint64_t n) {
  std::uint8_t scratch[4096];
  while (n > 0) {
    const auto want =
        static_cast<std::int32_t>(std::min<std::uint64_t>(n, sizeof scratch));
    if (input.read(scratch, want) != want) {
      return false;
    }
    n -= static_cast<std::uint64_t>(want);
  }
  return true;
}

} // namespace vetrik
