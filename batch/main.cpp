// vetrik-batch [OPTIONS] PATH...: unpacks a whole shelf of tape images and
// recordings, each by the vetrik program into a folder of its own.
#include "batch/batch_options.h"
#include "batch/batch_run.h"
#include "fileio/file_access.h"
#include "platform/batch_platform.h"

#ifndef VETRIK_VERSION
#define VETRIK_VERSION "0"
#endif

int main(int argc, char** argv) {
  const std::unique_ptr<vetrik::BatchPlatform> platform =
      vetrik::make_system_batch_platform();
  const vetrik::ParsedOptions parsed = vetrik::parse_batch_options(
      vetrik::batch_arguments(argc, argv), VETRIK_VERSION);
  if (parsed.outcome == vetrik::OptionsOutcome::DONE) {
    platform->write_out(parsed.text);
    return vetrik::BATCH_OK;
  }
  if (parsed.outcome == vetrik::OptionsOutcome::USAGE) {
    platform->write_error(parsed.text);
    return vetrik::BATCH_USAGE;
  }
  vetrik::file_system_init();
  return vetrik::run_batch(*platform, parsed.options,
                           vetrik::program_beside(*platform, "vetrik"));
}
