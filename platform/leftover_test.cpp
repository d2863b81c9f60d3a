#include "platform/leftover.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vetrik {
namespace {

TEST(MayTakeOver, OnlyAnEmptyFileOfOnesOwnChangedBeforeTheRunIsALeftover) {
  EntryInfo leftover;
  leftover.kind = EntryKind::FILE;
  leftover.age = 3600 * TICKS_PER_SECOND;
  struct Case {
    std::string what;
    std::function<void(EntryInfo&)> change;
    bool verdict;
  };
  const std::vector<Case> cases = {
      {"old", [](EntryInfo&) {}, true},
      {"changed as the run began", [](EntryInfo& e) { e.age = 0; }, false},
      {"changed since", [](EntryInfo& e) { e.age = -1; }, false},
      {"changed two seconds before", [](EntryInfo& e) { e.age = RECENT_TICKS; },
       false},
      {"changed just over two seconds before",
       [](EntryInfo& e) { e.age = RECENT_TICKS + 1; }, true},
      {"linked", [](EntryInfo& e) { e.links = 2; }, false},
      {"another's", [](EntryInfo& e) { e.owned_by_user = false; }, false},
      {"set-user-ID", [](EntryInfo& e) { e.set_user_id = true; }, false},
      {"set-group-ID", [](EntryInfo& e) { e.set_group_id = true; }, false},
      {"not empty", [](EntryInfo& e) { e.size = 1; }, false},
      {"a directory", [](EntryInfo& e) { e.kind = EntryKind::DIRECTORY; },
       false},
      {"a link", [](EntryInfo& e) { e.kind = EntryKind::LINK; }, false},
      {"a FIFO", [](EntryInfo& e) { e.kind = EntryKind::OTHER; }, false},
      {"a device name", [](EntryInfo& e) { e.kind = EntryKind::RESERVED; },
       false},
      {"missing", [](EntryInfo& e) { e.kind = EntryKind::MISSING; }, false},
  };
  for (const Case& c : cases) {
    EntryInfo entry = leftover;
    c.change(entry);
    EXPECT_EQ(may_take_over(entry), c.verdict) << c.what;
  }
}

} // namespace
} // namespace vetrik
