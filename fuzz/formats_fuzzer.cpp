// Fuzzes the whole run of the tool on TZX and PZX images held in memory: each
// run must print, create and end exactly as the run on the image's TAP view,
// worked out on its own by the reference converter, save that a problem the
// view ended at is printed where running out of the view would print its
// message, and the exit status is then 1.
//
// Input: one byte choosing the format (even: TZX, odd: PZX), then the image
// after its signature.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "driver/command_line.h"
#include "driver/extraction.h"
#include "fileio/file_access.h"
#include "platform/memory_file_system.h"
#include "tests/tap_view_reference.h"

namespace vetrik {
namespace {

using tape::Bytes;

const std::string IMAGE_PATH = "t.tap";

struct Run {
  int status = 0;
  std::string console;
  std::map<std::string, Bytes> files;
};

Run run_on(const Bytes& image) {
  MemoryFileSystem fs;
  fs.install();
  // A name taken by data and one by a directory, so that numbered names and
  // "Write Error" come up.
  fs.files["taken     .B"] = {7};
  fs.directories.insert("folder    .B");
  fs.files[IMAGE_PATH] = image;
  Run run{run_extraction(), fs.console, fs.files};
  // The file table starts afresh, giving back this run's records.
  file_system_init();
  run.files.erase(IMAGE_PATH);
  return run;
}

// Whether the block loop, walking the TAP image tap, starts a pass with a
// single byte left: its length word comes up short, and "Not a header" is
// then what running out prints.
bool lone_length_byte(const Bytes& tap) {
  std::size_t at = 0;
  while (tap.size() - at >= 2) {
    if (tap[at] + tap[at + 1] * 256 != 19 || tap.size() - at < 21 + 2) {
      return false;
    }
    at += 21;
    // Length, flag, payload and checksum: a length under 2 still reads a
    // flag and a checksum.
    const std::size_t length = tap[at] + tap[at + 1] * 256U;
    at += 2 + std::max<std::size_t>(length, 2);
    if (at > tap.size()) {
      return false;
    }
  }
  return tap.size() - at == 1;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The console of the run on the container, from that of the run on its view.
std::string expected_console(const std::string& tap_console, const Bytes& tap,
                             const std::string& problem, bool* reached) {
  *reached = false;
  std::string_view before = tap_console;
  if (problem.empty() || !before.ends_with("done!")) {
    return tap_console;
  }
  before.remove_suffix(5);
  // Checks that fail with the view still going on: the problem is not met.
  if (before.ends_with("not a header") ||
      (before.ends_with("Not a header") && !lone_length_byte(tap)) ||
      contains(before, "wrong header checksum for ") ||
      contains(before, "wrong data checksum for ") ||
      contains(before, "double file ")) {
    return tap_console;
  }
  *reached = true;
  // What running out printed, if anything: the problem stands there.
  if (const std::size_t at = before.rfind("truncated data for ");
      at != std::string_view::npos) {
    before = before.substr(0, at);
  } else if (before.ends_with("truncated header")) {
    before.remove_suffix(16);
  } else if (before.ends_with("Not a header")) {
    before.remove_suffix(12);
  }
  return std::string(before) + problem + "done!";
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
  if (size == 0) {
    return 0;
  }
  const std::string_view signature =
      data[0] % 2 == 0 ? std::string_view("ZXTape!\x1A", 8) : "PZXT";
  Bytes image(signature.begin(), signature.end());
  image.insert(image.end(), data + 1, data + size);

  const tape::ReferenceView view = tape::reference_view(image);
  // A view that starts with a signature would not be read as a TAP image.
  if (tape::has_signature(view.tap)) {
    return 0;
  }
  const Run container = run_on(image);
  const Run twin = run_on(view.tap);
  bool reached = false;
  const std::string console =
      expected_console(twin.console, view.tap, view.problem, &reached);
  const int status = reached ? EXIT_INCOMPLETE : twin.status;
  if (container.console != console || container.status != status ||
      container.files != twin.files) {
    std::fprintf(stderr,
                 "the run differs from the run on its TAP view (problem "
                 "\"%s\")\nexit status %d, expected %d\nconsole:\n%s\n"
                 "expected:\n%s\nfiles %s\n",
                 view.problem.c_str(), container.status, status,
                 container.console.c_str(), console.c_str(),
                 container.files == twin.files ? "agree" : "differ");
    std::abort();
  }
  return 0;
}
