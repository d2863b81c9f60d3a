// What may be taken over as a leftover.
#include "platform/leftover.h"

namespace vetrik {

bool may_take_over(const EntryInfo& entry) {
  return entry.kind == EntryKind::FILE && entry.size == 0 && entry.links == 1 &&
         entry.owned_by_user && !entry.set_user_id && !entry.set_group_id &&
         entry.age > RECENT_TICKS;
}

} // namespace vetrik
