// Safe names, extensions and the search for a free name.
#include "naming/output_name.h"

#include "fileio/file_access.h"
#include "platform/leftover.h"

namespace vetrik {

namespace {

inline constexpr std::uint8_t TYPE_PROGRAM = 0;
inline constexpr std::uint8_t TYPE_CODE = 3;

// text followed by value in decimal between parentheses.
std::string numbered(std::string text, std::int32_t value) {
  text += '(';
  text += std::to_string(value);
  text += ')';
  return text;
}

// The counter after counter: past the largest value it goes on from the
// smallest, without overflow, and reaches 0 after -1.
std::int32_t next(std::int32_t counter) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1U);
}

} // namespace

std::string make_safe_name(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    if (FORBIDDEN_CHARACTERS.find(c) != std::string_view::npos) {
      c = REPLACEMENT[0];
    }
  }
  return safe;
}

std::string extension_for_type(std::uint8_t type) {
  switch (type) {
  case TYPE_PROGRAM:
    return ".B";
  case TYPE_CODE:
    return ".C";
  default:
    std::string extension = ".";
    extension += std::to_string(type);
    return extension;
  }
}

namespace {

// Whether the plain-name file file_name may be reused by this run: a
// leftover by the look-up, and not one of the run's own empty files.
bool leftover(const EntryInfo& entry, const std::string& file_name,
              const NameHistory* history) {
  if (!may_take_over(entry)) {
    return false;
  }
  return history == nullptr ||
         (!history->forgetful && !history->left_empty.contains(file_name));
}

} // namespace

namespace {

// Twice the names the set holds at most, so that probes stay short.
constexpr std::size_t NAME_SLOTS = 2 * HISTORY_LIMIT;

// FNV-1a over the name's bytes, never 0 (the mark of a free slot).
std::uint64_t fingerprint(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325U;
  for (const char c : text) {
    hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3U;
  }
  return hash != 0 ? hash : 1;
}

} // namespace

bool NameSet::insert(std::string_view file_name) {
  if (size_ >= HISTORY_LIMIT) {
    return false;
  }
  if (slots_.empty()) {
    slots_.assign(NAME_SLOTS, 0);
  }
  const std::uint64_t print = fingerprint(file_name);
  for (std::size_t i = print % NAME_SLOTS;; i = (i + 1) % NAME_SLOTS) {
    if (slots_[i] == print) {
      return true;
    }
    if (slots_[i] == 0) {
      slots_[i] = print;
      ++size_;
      return true;
    }
  }
}

bool NameSet::contains(std::string_view file_name) const {
  if (slots_.empty()) {
    return false;
  }
  const std::uint64_t print = fingerprint(file_name);
  // The table is never more than half full, so a free slot ends the probe.
  for (std::size_t i = print % NAME_SLOTS; slots_[i] != 0;
       i = (i + 1) % NAME_SLOTS) {
    if (slots_[i] == print) {
      return true;
    }
  }
  return false;
}

void NameSet::clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  size_ = 0;
}

std::int32_t& TakenCounters::at(const std::string& file_name) {
  const auto found = index_.find(file_name);
  if (found != index_.end()) {
    recent_.splice(recent_.begin(), recent_, found->second);
    return found->second->counter;
  }
  if (recent_.size() >= TAKEN_COUNTERS_LIMIT) {
    index_.erase(recent_.back().file_name);
    recent_.pop_back();
  }
  recent_.push_front({file_name, 0});
  index_.emplace(recent_.front().file_name, recent_.begin());
  return recent_.front().counter;
}

void remember_empty_output(const std::string& file_name, NameHistory& history) {
  if (history.forgetful) {
    return;
  }
  if (!history.left_empty.insert(file_name)) {
    history.forgetful = true;
    history.left_empty.clear();
  }
}

FreeName find_free_name(const std::string& name, const std::string& extension,
                        const Claim& claim, NameHistory* history) {
  const std::string plain = name + extension;
  const EntryInfo entry = path_entry(plain);
  OpenOutcome outcome = OpenOutcome::TAKEN;
  if (entry.kind == EntryKind::DIRECTORY || entry.kind == EntryKind::RESERVED) {
    return {NameStatus::REFUSED, name};
  }
  if (entry.kind == EntryKind::MISSING) {
    outcome = claim(plain, OpenMode::CREATE_NEW);
  } else if (leftover(entry, plain, history)) {
    outcome = claim(plain, OpenMode::REUSE_EMPTY);
  }
  if (outcome == OpenOutcome::OPENED) {
    return {NameStatus::CLAIMED, name};
  }
  if (outcome == OpenOutcome::FAILED) {
    return {NameStatus::REFUSED, name};
  }

  std::int32_t* last_taken =
      history != nullptr ? &history->taken.at(plain) : nullptr;
  std::int32_t counter =
      last_taken != nullptr && *last_taken != 0 ? next(*last_taken) : 1;
  for (; counter != 0; counter = next(counter)) {
    std::string candidate = numbered(name, counter);
    const std::string file_name = candidate + extension;
    const EntryKind kind = path_entry(file_name).kind;
    if (kind == EntryKind::DIRECTORY || kind == EntryKind::RESERVED) {
      return {NameStatus::REFUSED, std::move(candidate)};
    }
    if (kind == EntryKind::MISSING) {
      outcome = claim(file_name, OpenMode::CREATE_NEW);
      if (outcome == OpenOutcome::OPENED) {
        return {NameStatus::CLAIMED, std::move(candidate)};
      }
      if (outcome == OpenOutcome::FAILED) {
        return {NameStatus::REFUSED, std::move(candidate)};
      }
    }
    if (last_taken != nullptr) {
      *last_taken = counter;
    }
  }
  return {NameStatus::EXHAUSTED, name};
}

} // namespace vetrik
