// Output file names: a tape header's name bytes and type made into a safe
// name in the current directory that clobbers no file holding data.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bytes/name_byte.h"
#include "platform/platform.h"

namespace vetrik {

// Characters that never reach a file name, each replaced by REPLACEMENT.
inline constexpr std::string_view FORBIDDEN_CHARACTERS = ":/?*<>|\\\"";
inline constexpr std::string_view REPLACEMENT = "_";

// name with every forbidden character replaced by an underscore.
std::string make_safe_name(std::string_view name);

// ".B" for type 0, ".C" for type 3, else "." and the type in decimal.
std::string extension_for_type(std::uint8_t type);

enum class NameStatus {
  CLAIMED,  // base_name + extension was created by claim and is open
  REFUSED,  // base_name + extension is a directory, no file can ever have
            // its name, or claim failed: a write error
  EXHAUSTED // every counter value was taken
};

struct FreeName {
  NameStatus status = NameStatus::EXHAUSTED;
  std::string base_name; // name, or name followed by "(counter)"
};

// Creates file_name for writing in mode (OpenMode::CREATE_NEW or
// OpenMode::REUSE_EMPTY) and keeps it open; the caller's way of making
// files, which decides where they go.
using Claim =
    std::function<OpenOutcome(const std::string& file_name, OpenMode mode)>;

// For the names searched most recently, the highest counter whose numbered
// name a search found taken. At most TAKEN_COUNTERS_LIMIT names are kept, so
// memory stays the same however many names a tape holds; a name that fell
// out is searched from counter 1 again.
class TakenCounters {
public:
  // The counter remembered for file_name (a plain name with its extension),
  // 0 when none; file_name becomes the most recent name. The reference holds
  // until the next call.
  std::int32_t& at(const std::string& file_name);

private:
  struct Entry {
    std::string file_name;
    std::int32_t counter = 0;
  };
  std::list<Entry> recent_; // most recent first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
};
inline constexpr std::size_t TAKEN_COUNTERS_LIMIT = 1024;

inline constexpr std::size_t HISTORY_LIMIT = 65536;

// A set of up to HISTORY_LIMIT file names, kept as 64-bit fingerprints in one
// table of fixed size (1 MiB once the first name is added). Two names can
// share a fingerprint; the set then holds both, which only ever keeps the
// run from reusing an empty file.
class NameSet {
public:
  // Adds file_name; false, adding nothing, when HISTORY_LIMIT names are in.
  bool insert(std::string_view file_name);
  bool contains(std::string_view file_name) const;
  void clear();

private:
  std::vector<std::uint64_t> slots_; // 0 is a free slot
  std::size_t size_ = 0;
};

// What the searches of one run have learnt; kept by the caller for the run.
struct NameHistory {
  TakenCounters taken;
  // Files this run made and left empty: its own output, never a leftover.
  // Past HISTORY_LIMIT of them the run stops remembering and reuses no empty
  // file at all.
  NameSet left_empty;
  bool forgetful = false;
};

// Notes in history that this run made file_name and left it empty (it had
// no payload, or its bytes were lost), so that no later search of the run
// reuses it.
void remember_empty_output(const std::string& file_name, NameHistory& history);

// Finds the output name for name + extension and claims it. The plain name
// is used when nothing is there, or when it is an empty file that is plainly
// a leftover (one that may_take_over allows, not made by this run);
// otherwise the first of "name(1)", "name(2)" ... (counting on
// through the negative numbers up to -1) at which nothing is there. A
// directory at the name chosen, or a name no file can have, gives REFUSED.
// When claim finds a name taken after all (something appeared there since
// it was looked at), the search goes on with the next counter.
//
// With history, the numbered search starts just past the highest counter an
// earlier search of the run found taken, so that n files of one name cost
// O(n) look-ups in all instead of O(n^2). The plain name is still looked at
// first and every name returned is still claimed, so the result is the same
// as without history, unless another process deletes numbered files during
// the run: a later free number is then chosen. Nothing is ever overwritten
// either way.
FreeName find_free_name(const std::string& name, const std::string& extension,
                        const Claim& claim, NameHistory* history = nullptr);

} // namespace vetrik
