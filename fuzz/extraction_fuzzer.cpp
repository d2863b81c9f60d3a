// Fuzzes the whole run of the tool on a TAP image held in memory, in a
// directory where some output names are already taken, with at most one
// platform call made to fail. Every input must keep the rules of
// extraction_violation.
//
// Input: one byte choosing the failure (see inject_failure), then the image.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "driver/command_line.h"
#include "driver/extraction.h"
#include "fileio/file_access.h"
#include "platform/faulty_platform.h"
#include "platform/memory_file_system.h"
#include "tests/extraction_invariants.h"
#include "tests/tap_view_reference.h"

namespace vetrik {
namespace {

const std::string IMAGE_PATH = "t.tap";
constexpr std::size_t UNBUFFERED_IMAGE_LIMIT = 1024;

// Names the seed tapes use, so that runs meet every kind of taken name.
const Directory& taken_directory() {
  static const Directory directory{
      .files = {{"taken     .B", {7}},
                {"taken     (3).B", {}},
                {"empty     .B", {}},
                {"other     .B", {}},
                {"fresh     .B", {}}},
      .directories = {"taken     (2).B", "folder    .B"},
      .links = {{"taken     (1).B", 0}, {"link      .B", 0}},
      .huge_files = {{"huge      .C", 1ULL << 40}},
      .specials = {"fifo      .B", "taken     (4).B"},
      // A leftover, one of another's, and "fresh", changed as the run began.
      .attributes = {
          {"empty     .B", {-AN_HOUR}},
          {"other     .B", {.changed_at = -AN_HOUR, .owned_by_user = false}}}};
  return directory;
}

// The low 3 bits of control pick the kind of failure, the rest which call of
// that kind fails (1 to 32); with no failure, the rest may make the image
// arrive in pieces, as through a pipe. Returns whether a read of the image
// may fail.
bool inject_failure(FaultyPlatform& faults, MemoryFileSystem& fs,
                    std::uint8_t control) {
  const int n = control / 8 + 1;
  switch (control % 8) {
  case 1:
    faults.fail(CallKind::WRITE, n);
    return false;
  case 2:
    faults.shorten_write(n);
    return false;
  case 3:
    faults.fail(CallKind::READ, n);
    return true;
  case 4:
    faults.fail(CallKind::CLOSE, n);
    return false;
  case 5:
    faults.fail(CallKind::CREATE, n); // the first opens the image
    return false;
  case 6:
    faults.fail(CallKind::ALLOCATE, n);
    return false;
  case 7:
    faults.fail_all(CallKind::ALLOCATE);
    return false;
  default:
    // A pipe: every read brings at most a piece of the image.
    fs.read_piece = static_cast<std::uint32_t>(n - 1) * 61;
    return false;
  }
}

} // namespace
} // namespace vetrik

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vetrik::command_line_set({"vetrik", vetrik::IMAGE_PATH});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace vetrik;
  const std::uint8_t control = size > 0 ? data[0] : 0;
  const std::uint8_t* image_start = data + (size > 0 ? 1 : 0);
  // Without stream buffers every byte of a header costs a call on the file
  // system: such runs take only the start of the image, or they would take most
  // of the fuzzing time.
  const std::size_t image_size = std::min<std::size_t>(
      data + size - image_start,
      control == 6 || control % 8 == 7 ? UNBUFFERED_IMAGE_LIMIT : size);
  const tape::Bytes image(image_start, image_start + image_size);
  // An image with a TZX or PZX signature is read as that format, not as a
  // TAP image; fuzz_formats checks those runs against their TAP view.
  if (tape::has_signature(image)) {
    return 0;
  }

  MemoryFileSystem fs;
  FaultyPlatform faults(fs);
  faults.install();
  // The call log keeps its room from run to run instead of growing anew.
  static std::vector<LoggedCall> call_log;
  call_log.clear();
  fs.calls.swap(call_log);
  directory_install(taken_directory(), fs);
  fs.files[IMAGE_PATH] = image;
  const bool reads_may_fail = inject_failure(faults, fs, control);
  const int status = run_extraction();
  // Give back the records of the file table now rather than in the next run,
  // so that the fuzzer does not take them for a leak of this one: the table
  // starts afresh.
  file_system_init();

  const std::string violation =
      extraction_violation({image, IMAGE_PATH, taken_directory(), fs, status,
                            reads_may_fail, faults.failures(CallKind::READ)});
  if (!violation.empty()) {
    std::fprintf(stderr, "%s\nexit status %d, console:\n%s\n",
                 violation.c_str(), status, fs.console.c_str());
    std::abort();
  }
  fs.calls.swap(call_log);
  return 0;
}
