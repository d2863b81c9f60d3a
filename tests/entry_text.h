// How tests write down what a look-up found: "missing", "file 3",
// "directory", "link 12", "other" or "reserved".
#pragma once

#include <string>

#include "platform/platform.h"

namespace vetrik {

inline std::string entry_text(const EntryInfo& entry) {
  switch (entry.kind) {
  case EntryKind::MISSING:
    return "missing";
  case EntryKind::FILE:
    return "file " + std::to_string(entry.size);
  case EntryKind::DIRECTORY:
    return "directory";
  case EntryKind::LINK:
    return "link " + std::to_string(entry.size);
  case EntryKind::OTHER:
    return "other";
  case EntryKind::RESERVED:
    break;
  }
  return "reserved";
}

} // namespace vetrik
