// Problem messages.
#include "signal/signal_problem.h"

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

} // namespace vetrik
