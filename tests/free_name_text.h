// How tests and fuzzers write down the outcome of a name search: the base
// name claimed, "refused NAME" or "exhausted".
#pragma once

#include <string>

#include "naming/output_name.h"

namespace vetrik {

inline std::string free_name_text(const FreeName& free) {
  switch (free.status) {
  case NameStatus::CLAIMED:
    return free.base_name;
  case NameStatus::REFUSED:
    return "refused " + free.base_name;
  case NameStatus::EXHAUSTED:
    break;
  }
  return "exhausted";
}

} // namespace vetrik
