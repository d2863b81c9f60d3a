// A whole batch: each image extracted by the vetrik program, run as a child
// in the image's own folder, several at once; its outcome recorded; the
// progress and a summary on standard error.
#pragma once

#include <string>
#include <string_view>

#include "batch/batch_options.h"
#include "platform/batch_platform.h"

namespace vetrik {

// Exit statuses.
inline constexpr int BATCH_OK = 0;
inline constexpr int BATCH_PROBLEM = 1;
inline constexpr int BATCH_USAGE = 2;
inline constexpr int BATCH_INTERRUPTED = 130;

// Runs the batch options ask for, with program (the vetrik program) for
// each image. The file layer must be set up first (file_system_init), as
// images are read through it for their format and their maps. Returns BATCH_OK when every image's outcome (recorded before
// for the ones skipped) is ok, BATCH_INTERRUPTED after an interrupt, and
// BATCH_PROBLEM otherwise.
int run_batch(BatchPlatform& platform, const BatchOptions& options,
              const std::string& program);

} // namespace vetrik
