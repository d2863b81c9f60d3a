// Every platform call of a run, failed in turn: each create, each write or
// short write (every flush of every file), each close, each read of the
// image, each stream buffer, each piece of the report. The run must end as its
// rules say, and no file reported as extracted may be short.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "driver/command_line.h"
#include "driver/extraction.h"
#include "fileio/file_slot.h"
#include "platform/faulty_platform.h"
#include "platform/memory_file_system.h"
#include "tests/extraction_invariants.h"
#include "tests/tape_builder.h"
#include "tests/tzx_builder.h"

namespace vetrik {
namespace {

using tape::Bytes;
using Fault = std::function<void(FaultyPlatform&)>;

const std::string IMAGE = "t.tap";
const Directory TAKEN = [] {
  Directory directory;
  directory.files["same      .B"] = {1};
  return directory;
}();

struct Outcome {
  int status = -1;
  std::string console;
  std::map<std::string, Bytes> files; // all but the image
  std::vector<LoggedCall> calls;      // those that reached the file system
};

// Runs the tool on image with fault injected, and checks every rule a run
// on a TAP image keeps (unless tap_rules is false).
Outcome run(const Bytes& image, const Fault& fault, bool reads_may_fail = false,
            bool tap_rules = true) {
  MemoryFileSystem fs;
  FaultyPlatform faults(fs);
  faults.install();
  directory_install(TAKEN, fs);
  fs.files[IMAGE] = image;
  fault(faults);
  command_line_set({"vetrik", IMAGE});
  const int status = run_extraction();
  if (tap_rules) {
    EXPECT_EQ(
        extraction_violation({image, IMAGE, TAKEN, fs, status, reads_may_fail,
                              faults.failures(CallKind::READ)}),
        "");
  }
  Outcome outcome{status, fs.console, fs.files, fs.calls};
  outcome.files.erase(IMAGE);
  return outcome;
}

const Fault NO_FAULT = [](FaultyPlatform&) {};
const Fault NO_BUFFERS = [](FaultyPlatform& faults) {
  faults.fail_all(CallKind::ALLOCATE);
};

// Payloads on both sides of the 4096-byte stream buffer, and a name taken
// before the run, so outputs are written in every pattern of calls.
std::vector<std::size_t> boundaries; // where each pair starts, and the end
const Bytes TAPE = [] {
  Bytes image;
  std::uint32_t seed = 0;
  for (std::size_t size : {0, 1, 4095, 4096, 4097, 10000, 300}) {
    boundaries.push_back(image.size());
    const std::string name =
        size == 10000 ? "same" : "f" + std::to_string(size);
    tape::append(image, tape::tape_file(name, tape::pattern(size, ++seed)));
  }
  boundaries.push_back(image.size());
  return image;
}();

int count_of(const Outcome& outcome, CallKind kind) {
  int count = 0;
  for (const LoggedCall& call : outcome.calls) {
    count += call.kind == kind ? 1 : 0;
  }
  return count;
}

// The nth call of kind (from 1) in a run.
LoggedCall call_of(const Outcome& outcome, CallKind kind, int n) {
  for (const LoggedCall& call : outcome.calls) {
    if (call.kind == kind && --n == 0) {
      return call;
    }
  }
  return {};
}

TEST(FaultInjection, EachLostWriteOrCloseIsReportedAndTheRunGoesOn) {
  for (const Fault& buffers : {NO_FAULT, NO_BUFFERS}) {
    const Outcome clean = run(TAPE, buffers);
    ASSERT_EQ(clean.status, EXIT_COMPLETE);
    for (int n = 1; n <= count_of(clean, CallKind::WRITE); ++n) {
      // Writing nothing loses nothing, whether it fails or not.
      const bool carries_bytes = call_of(clean, CallKind::WRITE, n).amount > 0;
      for (bool shorten : {false, true}) {
        SCOPED_TRACE("write " + std::to_string(n) + (shorten ? " short" : ""));
        const Outcome out = run(TAPE, [&](FaultyPlatform& faults) {
          buffers(faults);
          shorten ? faults.shorten_write(n) : faults.fail(CallKind::WRITE, n);
        });
        EXPECT_EQ(out.status, carries_bytes ? EXIT_INCOMPLETE : EXIT_COMPLETE);
        EXPECT_EQ(out.console.find("Write Error ") != std::string::npos,
                  carries_bytes);
      }
    }
    // The image is closed last, after reading, and loses nothing.
    const int closes = count_of(clean, CallKind::CLOSE);
    for (int n = 1; n <= closes; ++n) {
      SCOPED_TRACE("close " + std::to_string(n));
      const Outcome out = run(TAPE, [&](FaultyPlatform& faults) {
        buffers(faults);
        faults.fail(CallKind::CLOSE, n);
      });
      EXPECT_EQ(out.status, n < closes ? EXIT_INCOMPLETE : EXIT_COMPLETE);
    }
  }
}

TEST(FaultInjection, EachFailedCreateLosesOnlyItsOwnFile) {
  const Outcome clean = run(TAPE, NO_FAULT);
  for (int n = 2; n <= count_of(clean, CallKind::CREATE); ++n) {
    SCOPED_TRACE("create " + std::to_string(n));
    const Outcome out = run(TAPE, [&](FaultyPlatform& faults) {
      faults.fail(CallKind::CREATE, n);
    });
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.files.size(), clean.files.size() - 1);
  }
}

// The console of a run cut where a read failed, with the failure reported
// before "done!".
std::string read_error_reported(std::string console) {
  console.insert(console.size() - std::string_view("done!").size(),
                 "cannot read " + IMAGE);
  return console;
}

// A read error counts as the end of the image where it happened, exactly as
// if the image had been cut there, and is reported before "done!".
TEST(FaultInjection, AFailedReadEndsTheImageWhereItHappened) {
  const Outcome clean = run(TAPE, NO_FAULT);
  std::size_t position = 0; // image bytes read before the nth read
  for (int n = 1; n <= count_of(clean, CallKind::READ); ++n) {
    SCOPED_TRACE("read " + std::to_string(n) + " at " +
                 std::to_string(position));
    const Outcome out = run(
        TAPE, [&](FaultyPlatform& faults) { faults.fail(CallKind::READ, n); },
        true);
    const Outcome cut =
        run(Bytes(TAPE.begin(), TAPE.begin() + position), NO_FAULT);
    EXPECT_EQ(out.console, read_error_reported(cut.console));
    EXPECT_EQ(out.status, EXIT_INCOMPLETE); // the rest was never read
    EXPECT_EQ(out.files, cut.files);
    const bool between_pairs =
        std::count(boundaries.begin(), boundaries.end(), position) != 0;
    EXPECT_EQ(out.console.find("truncated ") == std::string::npos,
              between_pairs);
    position +=
        static_cast<std::size_t>(call_of(clean, CallKind::READ, n).result);
  }
  // Unbuffered, every read is a system call; none may break a rule.
  const Fault image_unbuffered = [](FaultyPlatform& faults) {
    faults.fail(CallKind::ALLOCATE, 1);
  };
  const Outcome unbuffered = run(TAPE, image_unbuffered);
  for (int n = 1; n <= count_of(unbuffered, CallKind::READ); ++n) {
    SCOPED_TRACE("unbuffered read " + std::to_string(n));
    run(
        TAPE,
        [&](FaultyPlatform& faults) {
          image_unbuffered(faults);
          faults.fail(CallKind::READ, n);
        },
        true);
  }
}

// The same for a TZX image, whose reader reads in steps of its own: block IDs
// and fields, and whole 0x19 blocks before any of their bytes count.
TEST(FaultInjection, AFailedReadEndsATzxImageWhereItHappened) {
  // A text, a custom info block and a pilot tone of generalized data.
  Bytes between;
  for (const Bytes& block : tape::tzx_byteless_blocks()) {
    if (block[0] == 0x30 || block[0] == 0x35 || block[0] == 0x19) {
      tape::append(between, block);
    }
  }
  using tape::TzxData;
  const Bytes tzx = tape::tzx_from_tap(
      TAPE,
      {TzxData::STANDARD, TzxData::TURBO, TzxData::PURE, TzxData::GENERALIZED},
      between);
  const Fault image_unbuffered = [](FaultyPlatform& faults) {
    faults.fail(CallKind::ALLOCATE, 1);
  };
  for (const Fault& buffers : {NO_FAULT, image_unbuffered}) {
    const Outcome clean = run(tzx, buffers, false, false);
    ASSERT_EQ(clean.status, EXIT_COMPLETE);
    std::size_t position = 0;
    for (int n = 1; n <= count_of(clean, CallKind::READ); ++n) {
      SCOPED_TRACE("read " + std::to_string(n) + " at " +
                   std::to_string(position));
      const Outcome out = run(
          tzx,
          [&](FaultyPlatform& faults) {
            buffers(faults);
            faults.fail(CallKind::READ, n);
          },
          true, false);
      const Outcome cut = run(tape::cut(tzx, position), buffers, false, false);
      EXPECT_EQ(out.console, read_error_reported(cut.console));
      EXPECT_EQ(out.status, EXIT_INCOMPLETE);
      EXPECT_EQ(out.files, cut.files);
      position +=
          static_cast<std::size_t>(call_of(clean, CallKind::READ, n).result);
    }
  }
}

TEST(FaultInjection, EachLostPieceOfTheReportFailsTheRunAndLosesNoFile) {
  const Outcome clean = run(TAPE, NO_FAULT);
  ASSERT_EQ(clean.status, 0);
  for (int n = 1; n <= count_of(clean, CallKind::CONSOLE); ++n) {
    SCOPED_TRACE("console write " + std::to_string(n));
    const Outcome out = run(
        TAPE,
        [&](FaultyPlatform& faults) { faults.fail(CallKind::CONSOLE, n); },
        false, false);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.files, clean.files);
  }
}

TEST(FaultInjection, AMissingStreamBufferChangesNothing) {
  const Outcome clean = run(TAPE, NO_FAULT);
  for (int n = 1; n <= count_of(clean, CallKind::ALLOCATE); ++n) {
    SCOPED_TRACE("buffer " + std::to_string(n));
    const Outcome out = run(TAPE, [&](FaultyPlatform& faults) {
      faults.fail(CallKind::ALLOCATE, n);
    });
    EXPECT_EQ(out.console, clean.console);
    EXPECT_EQ(out.status, clean.status);
    EXPECT_EQ(out.files, clean.files);
    // Without its buffer the image is read in the small steps its reader
    // takes (the first bytes, to tell the format), not a buffer at a time.
    EXPECT_EQ(call_of(out, CallKind::READ, 1).amount < FILE_BUFFER_SIZE,
              n == 1);
  }
}

} // namespace
} // namespace vetrik
