// The one rule of what an existing file must be for a run to take it over
// as a leftover. The name search asks it of a look-up, the platforms of the
// open file, the in-memory file system of its files.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace vetrik {

// A file changed this long before the run began, or later, may be another
// run's output, finished or not; two seconds also cover file systems that
// keep times to the even second.
inline constexpr std::int64_t RECENT_TICKS = 2 * TICKS_PER_SECOND;

// Whether entry is plainly a leftover: an empty regular file with no other
// name, the user's own, changed more than RECENT_TICKS before the run began,
// and without set-user-ID or set-group-ID bits (the tape's bytes would then
// run with its owner's rights). Whether another run holds it, or this run
// made it, is for the caller to tell.
bool may_take_over(const EntryInfo& entry);

} // namespace vetrik
