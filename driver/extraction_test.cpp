#include "driver/extraction.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "platform/faulty_platform.h"
#include "platform/memory_file_system.h"
#include "tests/pzx_builder.h"
#include "tests/tape_builder.h"
#include "tests/tzx_builder.h"

namespace vetrik {
namespace {

using tape::Bytes;
using Files = std::map<std::string, Bytes>;
using Prepare = std::function<void(MemoryFileSystem&)>;
using Fault = std::function<void(FaultyPlatform&)>;

struct Outcome {
  int status = -1;
  std::string console;
  Files files; // everything in the file system but the image
  std::vector<LoggedCall> calls;
};

// Runs the tool on image in a fresh file system, once prepare has set it up,
// with the faults that fault asks for in front of it.
Outcome extract(const Bytes& image, const Prepare& prepare = {},
                const Fault& fault = {}) {
  MemoryFileSystem fs;
  FaultyPlatform faults(fs);
  if (fault) {
    fault(faults);
    faults.install();
  } else {
    fs.install();
  }
  fs.files["t.tap"] = image;
  if (prepare) {
    prepare(fs);
  }
  command_line_set({"vetrik", "t.tap"});
  Outcome out{run_extraction(), fs.console, fs.files, fs.calls};
  out.files.erase("t.tap");
  EXPECT_EQ(fs.open_handles(), 0U);
  EXPECT_EQ(fs.live_buffers(), 0U);
  return out;
}

// A tape name as the header holds it, padded with spaces to 10 characters.
std::string padded(const std::string& name) {
  return name + std::string(10 - name.size(), ' ');
}

std::string extracting(const std::string& file) {
  return "Extracting " + file + "\r\n";
}

using tape::cut;

Bytes joined(Bytes image, const Bytes& tail) {
  tape::append(image, tail);
  return image;
}

const Bytes ONE = tape::pattern(300, 1);
const Bytes TWO = tape::pattern(20, 2);
const Bytes TWO_FILES =
    joined(tape::tape_file("one", ONE), tape::tape_file("two", TWO, 3));
const std::string ONE_B = padded("one") + ".B";
const std::string TWO_C = padded("two") + ".C";

TEST(Usage, NoParameterPrintsUsageAndAnUnreadableImageItsName) {
  MemoryFileSystem fs;
  fs.install();
  command_line_set({"vetrik"});
  EXPECT_EQ(run_extraction(), EXIT_USAGE);
  command_line_set({"vetrik", "gone.tap"});
  EXPECT_EQ(run_extraction(), EXIT_INCOMPLETE);
  command_line_set({}); // not even a program name: the image name is empty
  EXPECT_EQ(run_extraction(), EXIT_INCOMPLETE);
  EXPECT_EQ(fs.console,
            "usage: vetrik filename.tapcannot read gone.tapcannot read ");
}

TEST(Extraction, EachPairBecomesAFileNamedByHeaderAndType) {
  Outcome out = extract(TWO_FILES);
  EXPECT_EQ(out.status, EXIT_COMPLETE);
  EXPECT_EQ(out.console, extracting(ONE_B) + extracting(TWO_C) + "done!");
  EXPECT_EQ(out.files, (Files{{ONE_B, ONE}, {TWO_C, TWO}}));
  out = extract({});
  EXPECT_EQ(out.status, EXIT_COMPLETE);
  EXPECT_EQ(out.console, "done!");
}

TEST(Extraction, NameBytesOutside32To127AreWrittenAsTheirValue) {
  const Outcome out = extract(tape::tape_file(std::string(10, '\0'), ONE));
  EXPECT_EQ(out.files, (Files{{"(0)(0)(0)(0)(0)(0)(0)(0)(0)(0).B", ONE}}));
}

TEST(Extraction, ShortDataBlocksGiveEmptyFilesWhateverTheirFlag) {
  const Bytes header = tape::header_block("e");
  for (std::uint8_t length : {0, 1, 2}) {
    const Outcome out = extract(joined(header, {length, 0, 0x7E, 0x7E}));
    EXPECT_EQ(out.status, EXIT_COMPLETE) << int{length};
    EXPECT_EQ(out.files, (Files{{padded("e") + ".B", {}}})) << int{length};
  }
}

TEST(BadHeader, WrongLengthOrFlagStopsTheRun) {
  Bytes image = TWO_FILES;
  image[tape::HEADER_SIZE + ONE.size() + 4] = 18; // the second header
  Outcome out = extract(image);
  EXPECT_EQ(out.status, EXIT_INCOMPLETE);
  EXPECT_EQ(out.console, extracting(ONE_B) + "Not a headerdone!");
  EXPECT_EQ(out.files, (Files{{ONE_B, ONE}}));
  image = TWO_FILES;
  image[tape::HEADER_FLAG_OFFSET] = 0xFF;
  out = extract(image);
  EXPECT_EQ(out.status, EXIT_INCOMPLETE);
  EXPECT_EQ(out.console, "not a headerdone!");
  EXPECT_TRUE(out.files.empty());
}

TEST(BadHeader, WrongChecksumShowsTheNameUnreplaced) {
  Bytes image = tape::tape_file("a/b\xC8", ONE);
  image[tape::HEADER_CHECKSUM_OFFSET] ^= 1;
  const Outcome out = extract(image);
  EXPECT_EQ(out.status, EXIT_INCOMPLETE);
  EXPECT_EQ(out.console, "wrong header checksum for a/b(200)      done!");
  EXPECT_TRUE(out.files.empty());
}

TEST(BadData, WrongChecksumKeepsTheWholeFile) {
  Bytes image = TWO_FILES;
  image[tape::HEADER_SIZE + ONE.size() + 3] ^= 1;
  const Outcome out = extract(image);
  EXPECT_EQ(out.status, EXIT_INCOMPLETE);
  EXPECT_EQ(out.console, extracting(ONE_B) + "wrong data checksum for " +
                             padded("one") + "done!");
  EXPECT_EQ(out.files, (Files{{ONE_B, ONE}}));
}

TEST(Truncation, ImageEndingInsideAHeader) {
  const Bytes header = tape::header_block("h");
  for (const Bytes& image :
       {joined(TWO_FILES, {19}), cut(header, 3), cut(header, 20)}) {
    const Outcome out = extract(image);
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_TRUE(out.console.ends_with("truncated headerdone!")) << out.console;
    EXPECT_EQ(out.files.size(), image.size() > 21 ? 2U : 0U);
  }
}

TEST(Truncation, ImageEndingBeforeThePayloadCreatesNoFile) {
  const Bytes pair = tape::tape_file("a/b", ONE);
  for (std::size_t size : {21, 22, 23}) {
    // With the plain name taken, the message still shows no counter.
    const Outcome out = extract(cut(pair, size), [](MemoryFileSystem& fs) {
      fs.files["a_b       .B"] = {9};
    });
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.console, "truncated data for a_b       done!") << size;
    EXPECT_EQ(out.files, (Files{{"a_b       .B", {9}}})) << size;
  }
}

TEST(Truncation, FileHoldsOnlyThePayloadBytesThatWereThere) {
  const Bytes payload = tape::pattern(10000, 5);
  const std::string base = padded("p") + "(1)";
  for (std::size_t present : {40, 6000, 10000}) {
    const Outcome out = extract(
        cut(tape::tape_file("p", payload), 24 + present),
        [](MemoryFileSystem& fs) { fs.files[padded("p") + ".B"] = {9}; });
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.console,
              extracting(base + ".B") + "truncated data for " + base + "done!");
    EXPECT_EQ(out.files.at(base + ".B"),
              Bytes(payload.begin(), payload.begin() + present));
  }
}

TEST(WriteError, FailedCreateSkipsTheDataBlockAndGoesOn) {
  const Prepare directory = [](MemoryFileSystem& fs) {
    fs.directories.insert(ONE_B);
  };
  // The system refuses the file; the image was opened first.
  const Fault refused = [](FaultyPlatform& faults) {
    faults.fail(CallKind::CREATE, 2);
  };
  for (const Outcome& out :
       {extract(TWO_FILES, directory), extract(TWO_FILES, {}, refused)}) {
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.console,
              "Write Error " + ONE_B + extracting(TWO_C) + "done!");
    EXPECT_EQ(out.files, (Files{{TWO_C, TWO}}));
  }
  const Outcome out = extract(cut(TWO_FILES, 100), directory);
  EXPECT_EQ(out.console, "Write Error " + ONE_B + "truncated data for " +
                             padded("one") + "done!");
}

TEST(WriteError, LostOutputIsReportedAndTheRunGoesOn) {
  for (const Fault& fault :
       {Fault([](FaultyPlatform& faults) { faults.fail(CallKind::WRITE, 1); }),
        Fault([](FaultyPlatform& faults) { faults.shorten_write(1); }),
        Fault(
            [](FaultyPlatform& faults) { faults.fail(CallKind::CLOSE, 1); })}) {
    const Outcome out = extract(TWO_FILES, {}, fault);
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.console, extracting(ONE_B) + "Write Error " + ONE_B +
                               extracting(TWO_C) + "done!");
    EXPECT_EQ(out.files.at(TWO_C), TWO);
  }
  // A payload too large for the stream buffer is written directly.
  const Outcome out = extract(tape::tape_file("big", tape::pattern(60000)), {},
                              [](FaultyPlatform& faults) {
                                for (int n = 1; n <= 4; ++n) {
                                  faults.fail(CallKind::WRITE, n);
                                }
                              });
  const std::string big = padded("big") + ".B";
  EXPECT_EQ(out.console, extracting(big) + "Write Error " + big + "done!");
}

TEST(DoubleNames, TakenNameGetsACounterAndLinksAreNotWrittenThrough) {
  Outcome out =
      extract(joined(tape::tape_file("hi", ONE), tape::tape_file("hi", TWO)));
  const std::string first = padded("hi") + ".B";
  const std::string second = padded("hi") + "(1).B";
  EXPECT_EQ(out.console, extracting(first) + extracting(second) + "done!");
  EXPECT_EQ(out.files, (Files{{first, ONE}, {second, TWO}}));
  out = extract(tape::tape_file("hi", ONE),
                [&](MemoryFileSystem& fs) { fs.links[first] = 0; });
  EXPECT_EQ(out.status, EXIT_COMPLETE);
  EXPECT_EQ(out.files, (Files{{second, ONE}}));
}

// The clock set back, the run's own empty files look old enough to be
// leftovers: the run remembers them all the same.
const Prepare CLOCK_SET_BACK = [](MemoryFileSystem& fs) { fs.now = -AN_HOUR; };

TEST(DoubleNames, AnEmptyFileThisRunMadeIsNeverReused) {
  Bytes image;
  for (int i = 0; i < 4; ++i) {
    tape::append(image, tape::tape_file("z", {}));
  }
  const Outcome out = extract(image, CLOCK_SET_BACK);
  const std::string z = padded("z");
  EXPECT_EQ(out.console, extracting(z + ".B") + extracting(z + "(1).B") +
                             extracting(z + "(2).B") + extracting(z + "(3).B") +
                             "done!");
  EXPECT_EQ(out.files.size(), 4U);
}

// A tape name can render as a numbered name the run has already made.
TEST(DoubleNames, ANumberedFileThisRunLeftEmptyIsNeverReused) {
  const std::string ten_one = "(10)\x01"
                              "abcde";
  Bytes image = tape::tape_file(ten_one, ONE);
  tape::append(image, tape::tape_file(ten_one, {}));
  tape::append(image, tape::tape_file("\x0a(1)abcde\x01", TWO));
  const Outcome out = extract(image, CLOCK_SET_BACK);
  EXPECT_EQ(out.console, extracting("(10)(1)abcde.B") +
                             extracting("(10)(1)abcde(1).B") +
                             extracting("(10)(1)abcde(1)(1).B") + "done!");
  EXPECT_EQ(out.files.size(), 3U);
}

TEST(DoubleNames, OnlyAnEmptyLeftoverOfTheUsersOwnIsReused) {
  const std::string one_1 = padded("one") + "(1).B";
  for (const auto& [what, prepare] : std::map<std::string, Prepare>{
           {"another's",
            [](MemoryFileSystem& f) {
              f.attributes[ONE_B].owned_by_user = false;
            }},
           {"held by another run",
            [](MemoryFileSystem& f) { f.held_files = {ONE_B}; }},
           {"a FIFO", [](MemoryFileSystem& f) { f.specials = {ONE_B}; }},
           {"made meanwhile", [](MemoryFileSystem& f) { f.appearing[ONE_B]; }},
           {"changed lately",
            [](MemoryFileSystem& f) { f.attributes[ONE_B].changed_at = 0; }}}) {
    const Outcome out = extract(TWO_FILES, [&](MemoryFileSystem& fs) {
      fs.add_leftover(ONE_B);
      prepare(fs);
      if (fs.specials.count(ONE_B) != 0 || fs.appearing.count(ONE_B)) {
        fs.files.erase(ONE_B);
      }
    });
    EXPECT_EQ(out.status, EXIT_COMPLETE) << what;
    EXPECT_EQ(out.files.at(one_1), ONE) << what;
    EXPECT_TRUE(out.files.count(ONE_B) == 0 || out.files.at(ONE_B).empty())
        << what;
  }
  const Outcome out =
      extract(TWO_FILES, [](MemoryFileSystem& fs) { fs.add_leftover(ONE_B); });
  EXPECT_EQ(out.files, (Files{{ONE_B, ONE}, {TWO_C, TWO}})) << "a leftover";
}

TEST(Interrupts, WaitBetweenMakingAFileAndReportingIt) {
  const Outcome out = extract(TWO_FILES);
  int made = 0;
  for (std::size_t i = 0; i < out.calls.size(); ++i) {
    const LoggedCall& call = out.calls[i];
    if (call.kind != CallKind::CREATE || call.path == "t.tap") {
      continue;
    }
    ++made;
    // Everything from the create up to its report line.
    for (std::size_t j = i; j < out.calls.size(); ++j) {
      EXPECT_TRUE(out.calls[j].deferred) << call.path;
      if (out.calls[j].kind == CallKind::CONSOLE) {
        break;
      }
    }
  }
  EXPECT_EQ(made, 2);
  EXPECT_FALSE(out.calls.back().deferred);
}

TEST(SystemCalls, PayloadMovesInLargeCalls) {
  const Bytes big = tape::pattern(60000, 4);
  const Outcome out = extract(tape::tape_file("big", big));
  EXPECT_EQ(out.files.at(padded("big") + ".B"), big);
  std::map<CallKind, int> counts;
  for (const LoggedCall& call : out.calls) {
    counts[call.kind] += 1;
    EXPECT_FALSE(call.amount == 1 &&
                 (call.kind == CallKind::READ || call.kind == CallKind::WRITE));
  }
  EXPECT_LE(counts[CallKind::READ], 5);
  EXPECT_LE(counts[CallKind::WRITE], 4);
}

TEST(SystemCalls, AnImageArrivingInPiecesIsReadToItsEnd) {
  const Bytes image =
      joined(tape::tape_file("big", tape::pattern(9000)), TWO_FILES);
  for (std::uint32_t piece : {1U, 7U, 1000U}) {
    const Outcome out = extract(
        image, [piece](MemoryFileSystem& fs) { fs.read_piece = piece; });
    EXPECT_EQ(out.status, EXIT_COMPLETE) << piece;
    EXPECT_EQ(out.files.size(), 3U) << piece;
    EXPECT_EQ(out.files.at(ONE_B), ONE) << piece;
  }
}

TEST(SystemCalls, WithoutBuffersTheResultIsTheSame) {
  const Bytes image =
      joined(tape::tape_file("big", tape::pattern(5000)), TWO_FILES);
  for (const Bytes& tape : {image, cut(image, image.size() - 1)}) {
    const Outcome buffered = extract(tape);
    const Outcome unbuffered = extract(tape, {}, [](FaultyPlatform& faults) {
      faults.fail_all(CallKind::ALLOCATE);
    });
    EXPECT_EQ(unbuffered.status, buffered.status);
    EXPECT_EQ(unbuffered.console, buffered.console);
    EXPECT_EQ(unbuffered.files, buffered.files);
    EXPECT_EQ(buffered.files.size(), 3U);
  }
}

// A block that ends the view of a TZX image with a problem, and its message.
// A CSW recording of a compression there is none of.
const Bytes BAD_BLOCK = {0x18, 11, 0, 0, 0, 0, 0, 0x44,
                         0xAC, 0,  3, 0, 0, 0, 0, 0xAA};
const std::string BAD_BLOCK_PROBLEM = "cannot decode block 0x18";

// The header block of a file "lead", as a TZX block.
const Bytes LEAD_HEADER =
    tape::tzx_standard(tape::blocks_of(tape::header_block("lead"))[0]);

// TZX blocks after which the block loop starts a pass at the first byte of
// stream and finds the view's end right after its last: a pair "lead" whose
// data block of 1 byte takes its checksum from the low byte of the next
// block's length, so that the high byte begins the next pass. Needs
// (stream.size() - 1) / 256 == stream[0].
Bytes continued_by(const Bytes& stream) {
  const Bytes rest(stream.begin() + 1, stream.end());
  EXPECT_EQ(rest.size() >> 8, stream.at(0));
  Bytes out = LEAD_HEADER;
  tape::append(out,
               tape::tzx_standard({static_cast<std::uint8_t>(rest.size())}));
  tape::append(out, tape::tzx_standard(rest));
  return out;
}

TEST(ContainerProblem, IsPrintedWhereRunningOutOfTheViewWouldBe) {
  const std::string lead = extracting(padded("lead") + ".B");
  const std::string two = padded("two");
  // Streams of 4865 to 5120 bytes from a header. Files "pad" and "two",
  // then the header "cut" broken off after 10 bytes:
  Bytes in_header = tape::tape_file("pad", tape::pattern(4900 - 56));
  tape::append(in_header, tape::tape_file("two", TWO));
  tape::append(in_header, cut(tape::header_block("cut"), 10));
  // "two", its data block broken off in the payload; "pad", then "two"
  // broken off right after the length word of its data block:
  Bytes in_data = tape::tape_file("two", tape::pattern(6000, 3));
  in_data.resize(5000);
  Bytes before_data = tape::tape_file("pad", tape::pattern(4900 - 48));
  tape::append(before_data, tape::header_block("two"));
  tape::append(before_data, {0x50, 0x00});
  const Bytes payload_present(in_data.begin() + 24, in_data.end());
  struct Case {
    std::string what;
    Bytes stream; // what the pass after "lead" reads
    std::string console;
    Files files;
  };
  const std::vector<Case> cases = {
      {"between pairs", {}, lead, {}},
      {"a lone byte of a length", {0}, lead, {}},
      {"in a header",
       in_header,
       lead + extracting(padded("pad") + ".B") + extracting(two + ".B"),
       {{padded("pad") + ".B", tape::pattern(4900 - 56)}, {two + ".B", TWO}}},
      {"in the payload",
       in_data,
       lead + extracting(two + ".B"),
       {{two + ".B", payload_present}}},
      {"before the payload",
       before_data,
       lead + extracting(padded("pad") + ".B"),
       {{padded("pad") + ".B", tape::pattern(4900 - 48)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes image = tape::tzx_header();
    if (c.stream.empty()) {
      tape::append(image, LEAD_HEADER);
      tape::append(image, tape::tzx_standard({0xFF, 0xFF}));
    } else {
      tape::append(image, continued_by(c.stream));
    }
    tape::append(image, BAD_BLOCK);
    tape::append(image,
                 tape::tzx_from_tap(TWO_FILES, {tape::TzxData::STANDARD}));
    const Outcome out = extract(image);
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.console, c.console + BAD_BLOCK_PROBLEM + "done!");
    Files files = c.files;
    files[padded("lead") + ".B"] = {};
    EXPECT_EQ(out.files, files);
  }
}

TEST(ContainerProblem, IsPrintedAfterAWriteErrorThatRanOutOfTheView) {
  Bytes in_data = tape::tape_file("two", tape::pattern(6000, 3));
  in_data.resize(5000);
  Bytes image = tape::tzx_header();
  tape::append(image, continued_by(in_data));
  tape::append(image, BAD_BLOCK);
  const Outcome out = extract(image, [](MemoryFileSystem& fs) {
    fs.directories.insert(padded("two") + ".B");
  });
  EXPECT_EQ(out.status, EXIT_INCOMPLETE);
  EXPECT_EQ(out.console, extracting(padded("lead") + ".B") + "Write Error " +
                             padded("two") + ".B" + BAD_BLOCK_PROBLEM +
                             "done!");
}

TEST(ContainerProblem, IsNotPrintedWhenTheRunStopsBeforeIt) {
  const std::vector<Bytes> blocks = tape::blocks_of(TWO_FILES);
  Bytes bad_checksum = blocks[1];
  bad_checksum.back() ^= 1;
  Bytes not_a_header = tape::tzx_standard(blocks[0]);
  tape::append(not_a_header, tape::tzx_standard(blocks[1]));
  // A block of 5 bytes where a header belongs: read whole, not run out.
  tape::append(not_a_header, tape::tzx_standard(tape::pattern(5)));
  Bytes wrong_checksum = tape::tzx_standard(blocks[0]);
  tape::append(wrong_checksum, tape::tzx_standard(bad_checksum));
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {wrong_checksum, "wrong data checksum for " + padded("one")},
      {not_a_header, "Not a header"},
  };
  for (const auto& [blocks_before, message] : cases) {
    Bytes image = tape::tzx_header();
    tape::append(image, blocks_before);
    tape::append(image, BAD_BLOCK);
    const Outcome out = extract(image);
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_TRUE(out.console.ends_with(message + "done!")) << out.console;
  }
}

TEST(ContainerProblem, AnImageThatIsNothingButAProblemReportsIt) {
  Bytes damaged = tape::pzx_header();
  tape::append(damaged, tape::pzx_block("DATA", {1, 2, 3}));
  for (const auto& [image, message] :
       {std::pair{tape::tzx_header(3, 1), "unsupported TZX version 3.1"},
        std::pair{damaged, "damaged block DATA"}}) {
    const Outcome out = extract(image);
    EXPECT_EQ(out.status, EXIT_INCOMPLETE);
    EXPECT_EQ(out.console, std::string(message) + "done!");
    EXPECT_TRUE(out.files.empty());
  }
}

} // namespace
} // namespace vetrik
