// Runs of the built tool as a real process in a scratch directory: the exact
// console bytes, the exit status and the files left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/pzx_builder.h"
#include "tests/run_tool.h"
#include "tests/sample_recording.h"
#include "tests/sample_tape.h"
#include "tests/signal_builder.h"
#include "tests/tape_builder.h"
#include "tests/tzx_builder.h"

namespace vetrik::tape {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Files = std::map<std::string, Bytes>;

// Absolute, so that the tool finds it from its scratch directory, on
// whatever drive that lies.
const std::string SAMPLE_TAPE = fs::absolute(VETRIK_SAMPLE_TAPE).string();
const std::string SAMPLE_TZX = fs::absolute(VETRIK_SAMPLE_TZX).string();
const std::string SAMPLE_CSW = fs::absolute(VETRIK_SAMPLE_CSW).string();

// The payloads of a well-formed image, in tape order.
std::vector<Bytes> payloads_of(const Bytes& image) {
  std::vector<Bytes> out;
  for (std::size_t at = HEADER_SIZE; at + 2 < image.size();) {
    const std::size_t length = image[at] + image[at + 1] * 256U;
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(at + 3);
    out.emplace_back(first, first + static_cast<std::ptrdiff_t>(length - 2));
    at += 2 + length + HEADER_SIZE;
  }
  return out;
}

const std::string IMAGE = "tape.tap";

class EndToEnd : public ::testing::Test {
protected:
  fs::path at(const std::string& name) const { return dir_.path() / name; }

  Result run_on(const Bytes& image, const Launch& launch = {}) {
    write_bytes(at(IMAGE), image);
    return run_tool(dir_.path(), {"vetrik", IMAGE}, launch);
  }

  // Every plain file in the directory but the image, with its bytes.
  Files files() const {
    Files found;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name != IMAGE && entry.is_regular_file() && !entry.is_symlink()) {
        found[name] = read_bytes(entry.path());
      }
    }
    return found;
  }

  TempDir dir_;
  const Bytes& good_ = GOOD_PAYLOAD;
  const Bytes& next_ = NEXT_PAYLOAD;
  // Two stored files, "good" and "next", and what unpacking them leaves.
  const Bytes& two_ = GOOD_AND_NEXT;
  const Files both_{{"good      .B", good_}, {"next      .B", next_}};
};

TEST_F(EndToEnd, CommittedSampleTapesAreWhatTheBuilderMakes) {
  EXPECT_EQ(read_bytes(SAMPLE_TAPE), sample_tape());
  EXPECT_EQ(read_bytes(SAMPLE_TZX), sample_tzx());
#ifndef _WIN32
  // Made on Linux: elsewhere the floating point and the zlib of the builder
  // may differ, and the recording is checked by unpacking it alone.
  EXPECT_EQ(read_bytes(SAMPLE_CSW), sample_csw());
#endif
}

TEST_F(EndToEnd, SampleTapesUnpackIntoOneFilePerStoredFileAndEndWithDone) {
  const std::vector<Bytes> payloads = payloads_of(sample_tape());
  ASSERT_EQ(payloads.size(), 4U);
  for (const std::string& sample : {SAMPLE_TAPE, SAMPLE_TZX, SAMPLE_CSW}) {
    SCOPED_TRACE(sample);
    for (const auto& [name, bytes] : files()) {
      fs::remove(at(name));
    }
    const Result r = run_tool(dir_.path(), {"vetrik", sample});
    EXPECT_EQ(r.out, "Extracting hello     .B\r\nExtracting screen    .C\r\n"
                     "Extracting a_b_c     .1\r\nExtracting hello     (1).B\r\n"
                     "done!");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(files(), (Files{{"hello     .B", payloads[0]},
                              {"screen    .C", payloads[1]},
                              {"a_b_c     .1", payloads[2]},
                              {"hello     (1).B", payloads[3]}}));
  }
}

// What a user sees of a run: the console, the exit status and the files.
struct Seen {
  Result result;
  Files files;
};

// The tape as recordings: a WAV file, a TZX image of direct recordings and
// a PZX image of pulses.
std::vector<Bytes> recordings_of(const Bytes& tap) {
  recording::SaveOptions options;
  options.gap = 0.5;
  options.first_high = false;
  const recording::Signal signal = recording::save_signal(tap, options);
  recording::Samples samples = recording::render(signal, 22050);
  recording::add_noise(samples, 1, 20, 7);
  const recording::Bits bits = recording::direct_samples(signal, 79);
  const recording::Levels levels = recording::levels(signal);
  return {
      recording::wav({samples}, 22050, WavEncoding::PCM_8),
      joined({tzx_header(), tzx_direct_recording(bits.bytes, bits.count, 79)}),
      joined({pzx_header(), pzx_pulses(levels.t_states, levels.first_high)})};
}

TEST_F(EndToEnd, EveryFormatExtractsExactlyAsItsTapTwin) {
  Bytes clean = tape_file("prog", good_);
  append(clean, tape_file("empty", {}, 3));
  append(clean, tape_file("a/b*", pattern(9000, 5), 7));
  append(clean, tape_file("prog", next_));
  Bytes bad_checksum = clean;
  bad_checksum.back() ^= 0x40;
  Bytes tzx_between, pzx_between;
  for (const Bytes& block : tzx_byteless_blocks()) {
    append(tzx_between, block);
  }
  for (const Bytes& block : pzx_byteless_blocks()) {
    append(pzx_between, block);
  }
  const std::vector<TzxData> every_kind = {TzxData::STANDARD, TzxData::TURBO,
                                           TzxData::PURE, TzxData::GENERALIZED,
                                           TzxData::STANDARD};
  for (const Bytes& tap : {clean, bad_checksum}) {
    std::vector<Bytes> images{tap, tzx_from_tap(tap, every_kind, tzx_between),
                              pzx_from_tap(tap, pzx_between)};
    for (Bytes& recorded : recordings_of(tap)) {
      images.push_back(std::move(recorded));
    }
    std::vector<Seen> seen;
    for (const Bytes& image : images) {
      for (const auto& [name, bytes] : files()) {
        fs::remove(at(name));
      }
      const Result r = run_on(image);
      seen.push_back({r, files()});
    }
    EXPECT_EQ(seen[0].files.size(), 4U);
    EXPECT_EQ(seen[0].result.status, tap == clean ? 0 : 1);
    for (std::size_t i = 1; i < seen.size(); ++i) {
      SCOPED_TRACE("image " + std::to_string(i));
      EXPECT_EQ(seen[i].result.out, seen[0].result.out);
      EXPECT_EQ(seen[i].result.status, seen[0].result.status);
      EXPECT_EQ(seen[i].files, seen[0].files);
    }
  }
}

TEST_F(EndToEnd, ABadOrEmptyOrCutRecordingIsReported) {
  const recording::Samples silence(22050, 0.0F);
  Bytes bad_header = recording::wav({silence}, 22050, WavEncoding::PCM_16);
  bad_header[20] = 0x55; // format tag 85
  const std::vector<std::pair<Bytes, std::string>> cases{
      {recording::wav({silence}, 22050, WavEncoding::PCM_16),
       "no blocks found"},
      {bad_header, "unsupported WAV encoding 85"},
      {cut(recording::wav({silence}, 22050, WavEncoding::PCM_16), 30),
       "damaged WAV header"}};
  for (const auto& [image, message] : cases) {
    const Result r = run_on(image);
    EXPECT_EQ(r.out, message + "done!");
    EXPECT_EQ(r.status, 1);
  }
  // Cut inside its last block, a recording ends as a TAP image cut there.
  recording::Samples samples =
      recording::render(recording::save_signal(two_), 22050);
  samples.resize(samples.size() * 99 / 100);
  const Result r =
      run_on(recording::wav({samples}, 22050, WavEncoding::PCM_16));
  EXPECT_EQ(r.out, "Extracting good      .B\r\nExtracting next      .B\r\n"
                   "truncated data for next      done!");
  EXPECT_EQ(r.status, 1);
  const Bytes there = read_bytes(at("next      .B"));
  EXPECT_LT(there.size(), next_.size());
  EXPECT_TRUE(std::equal(there.begin(), there.end(), next_.begin()));
}

TEST_F(EndToEnd, ABadBlockInATzxImageIsReportedAfterTheFilesBeforeIt) {
  Bytes image = tzx_from_tap(two_, {TzxData::TURBO});
  append(image, tzx_block_with_length(0x18, pattern(100, 6)));
  append(image, tzx_standard(blocks_of(header_block("lost"))[0]));
  const Result r = run_on(image);
  EXPECT_EQ(r.out, "Extracting good      .B\r\nExtracting next      .B\r\n"
                   "cannot decode block 0x18done!");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(files(), both_);
}

TEST_F(EndToEnd, WithoutAnImageItPrintsUsageAndExits2) {
  const Result r = run_tool(dir_.path(), {"vetrik"});
  EXPECT_EQ(r.out, "usage: vetrik filename.tap");
  EXPECT_EQ(r.status, 2);
  // Without even a program name (some kernels supply an empty one) the run
  // still ends with a report, not a crash.
  const Result bare = run_tool(dir_.path(), {});
  EXPECT_TRUE(bare.status == 1 || bare.status == 2) << bare.status;
  EXPECT_EQ(bare.out,
            bare.status == 2 ? "usage: vetrik filename.tap" : "cannot read ");
}

TEST_F(EndToEnd, OnlyTheFirstParameterIsRead) {
  const Bytes other = tape_file("other", next_);
  write_bytes(at("other.tap"), other);
  write_bytes(at(IMAGE), tape_file("good", good_));
  const Result r = run_tool(dir_.path(), {"vetrik", IMAGE, "other.tap", "x"});
  EXPECT_EQ(r.out, "Extracting good      .B\r\ndone!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files(), (Files{{"good      .B", good_}, {"other.tap", other}}));
}

TEST_F(EndToEnd, AnImageThatCannotBeReadIsReportedWithExit1AndNoDone) {
  fs::create_directory(at("folder.tap"));
  for (const std::string& path :
       {std::string("missing.tap"), std::string("folder.tap")}) {
    const Result r = run_tool(dir_.path(), {"vetrik", path});
    EXPECT_EQ(r.out, "cannot read " + path);
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_TRUE(files().empty());
}

TEST_F(EndToEnd, AnEmptyImageIsDoneWithExit0) {
  const Result r = run_on({});
  EXPECT_EQ(r.out, "done!");
  EXPECT_EQ(r.status, 0);
}

TEST_F(EndToEnd, AnyProblemBeforeTheDataEndsTheRunWithExit1) {
  const Bytes header = header_block("next", 0, 30);
  Bytes long_header = header;
  long_header[0] = 20;
  Bytes flagged = header;
  flagged[HEADER_FLAG_OFFSET] = 1;
  Bytes bad_checksum = header;
  bad_checksum[HEADER_CHECKSUM_OFFSET] ^= 1;
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {long_header, "Not a header"},
      {flagged, "not a header"},
      {bad_checksum, "wrong header checksum for next      "},
      {{19}, "truncated header"},
      {header, "truncated data for next      "}};
  for (const auto& [tail, message] : cases) {
    SCOPED_TRACE(message);
    fs::remove(at("good      .B"));
    Bytes image = tape_file("good", good_);
    append(image, tail);
    const Result r = run_on(image);
    EXPECT_EQ(r.out, "Extracting good      .B\r\n" + message + "done!");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(files(), (Files{{"good      .B", good_}}));
  }
}

TEST_F(EndToEnd, AWrongDataChecksumIsReportedAfterTheWholeFileIsWritten) {
  Bytes image = two_;
  image.back() ^= 1; // the data checksum of "next"
  const Result r = run_on(image);
  EXPECT_EQ(r.out, "Extracting good      .B\r\nExtracting next      .B\r\n"
                   "wrong data checksum for next      done!");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(files(), both_);
}

TEST_F(EndToEnd, TruncatedDataLeavesAFileOfExactlyTheBytesPresent) {
  const Bytes cut = pattern(100, 3);
  Bytes image = tape_file("good", good_);
  Bytes tail = tape_file("cut", cut);
  tail.resize(HEADER_SIZE + 3 + 40); // length word, flag and 40 bytes
  append(image, tail);
  const Result r = run_on(image);
  EXPECT_EQ(r.out, "Extracting good      .B\r\nExtracting cut       .B\r\n"
                   "truncated data for cut       done!");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(files(),
            (Files{{"good      .B", good_},
                   {"cut       .B", Bytes(cut.begin(), cut.begin() + 40)}}));
}

TEST_F(EndToEnd, AnExistingFileIsReplacedOnlyWhenEmpty) {
  const Bytes kept{'k', 'e', 'p', 't'};
  write_bytes(at("good      .B"), kept);
  write_bytes(at("next      .B"), kept);
  fs::permissions(at("next      .B"), fs::perms::owner_read);
  write_bytes(at("void      .B"), {});
  // A leftover from long ago; one that has just changed may be another run's.
  fs::last_write_time(at("void      .B"),
                      fs::last_write_time(at("void      .B")) - 1h);
  Bytes image = two_;
  append(image, tape_file("void", good_));
  const Result r = run_on(image);
  EXPECT_EQ(r.out,
            "Extracting good      (1).B\r\nExtracting next      (1).B\r\n"
            "Extracting void      .B\r\ndone!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files(), (Files{{"good      .B", kept},
                            {"next      .B", kept},
                            {"void      .B", good_},
                            {"good      (1).B", good_},
                            {"next      (1).B", next_}}));
  const fs::perms left = fs::status(at("next      .B")).permissions();
  EXPECT_EQ(left & fs::perms::owner_all, fs::perms::owner_read);
  fs::permissions(at("next      .B"), fs::perms::owner_write,
                  fs::perm_options::add); // so that it can be cleared away
}

TEST_F(EndToEnd, ADirectoryOfThePlainNameIsAWriteErrorAndTheRunGoesOn) {
  fs::create_directory(at("good      .B"));
  const Result r = run_on(two_);
  EXPECT_EQ(r.out, "Write Error good      .BExtracting next      .B\r\ndone!");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(files(), (Files{{"next      .B", next_}}));
  EXPECT_TRUE(fs::is_directory(at("good      .B")));
  EXPECT_TRUE(fs::is_empty(at("good      .B")));
}

TEST_F(EndToEnd, ASymbolicLinkOfThePlainNameIsNeverWrittenThrough) {
  TempDir outside;
  const Bytes target_bytes{'o', 'u', 't'};
  write_bytes(outside.path() / "target", target_bytes);
  std::error_code error;
  fs::create_symlink(outside.path() / "target", at("good      .B"), error);
  if (error) {
    // Windows lets only privileged users, or developer mode, make them.
    GTEST_SKIP() << "no symbolic links can be made here: " << error.message();
  }
  fs::create_symlink(outside.path() / "absent", at("next      .B"));
  const Result r = run_on(two_);
  EXPECT_EQ(
      r.out,
      "Extracting good      (1).B\r\nExtracting next      (1).B\r\ndone!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files(),
            (Files{{"good      (1).B", good_}, {"next      (1).B", next_}}));
  EXPECT_EQ(read_bytes(outside.path() / "target"), target_bytes);
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside.path() / "absent")));
}

// Console text that cannot be written is lost; the files are not, and no
// console text may end up in them. A lost report is no success.
TEST_F(EndToEnd, AnUnwritableStandardOutputLosesNoFileButFailsTheRun) {
  const std::pair<Stdout, const char*> outputs[] = {
      {Stdout::BROKEN_PIPE, "broken pipe"},
      {Stdout::CLOSED, "closed"},
      {Stdout::REFUSING, "full"}};
  for (const auto& [out, what] : outputs) {
    SCOPED_TRACE(what);
    fs::remove(at("good      .B"));
    fs::remove(at("next      .B"));
    const Result r = run_on(two_, {out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(files(), both_);
  }
}

TEST_F(EndToEnd, TheImageIsNeverModifiedEvenUnderAnOutputName) {
  Bytes image = tape_file("good", good_);
  append(image, tape_file("good", next_));
  write_bytes(at("good      .B"), image);
  const Result r = run_tool(dir_.path(), {"vetrik", "good      .B"});
  EXPECT_EQ(
      r.out,
      "Extracting good      (1).B\r\nExtracting good      (2).B\r\ndone!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files(), (Files{{"good      .B", image},
                            {"good      (1).B", good_},
                            {"good      (2).B", next_}}));
}

TEST_F(EndToEnd, AFailedWriteIsReportedAndTheNextFileIsStillExtracted) {
  if (!CAN_LIMIT_FILE_SIZE) {
    GTEST_SKIP() << "this system has no per-process limit on file sizes";
  }
  const Bytes big = pattern(5000, 4);
  Bytes image = tape_file("big", big);
  append(image, tape_file("next", next_));
  const Result r = run_on(image, {Stdout::CAPTURED, 1000});
  EXPECT_EQ(r.out, "Extracting big       .B\r\nWrite Error big       .B"
                   "Extracting next      .B\r\ndone!");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_bytes(at("next      .B")), next_);
  const Bytes written = read_bytes(at("big       .B"));
  EXPECT_LE(written.size(), 1000U);
  EXPECT_TRUE(std::equal(written.begin(), written.end(), big.begin()));
}

TEST_F(EndToEnd, EmptyStoredFilesOfOneNameAreKeptApart) {
  Bytes image;
  for (int i = 0; i < 4; ++i) {
    append(image, tape_file("z", {}));
  }
  const Result r = run_on(image);
  EXPECT_EQ(r.out,
            "Extracting z         .B\r\nExtracting z         (1).B\r\n"
            "Extracting z         (2).B\r\nExtracting z         (3).B\r\n"
            "done!");
  EXPECT_EQ(files().size(), 4U);
}

// Two runs into one folder at once: neither may write a file of the other's,
// not even an empty one, which looks like a leftover once it is closed.
TEST_F(EndToEnd, TwoRunsInOneFolderNeverClobberEachOther) {
  constexpr int FILES = 2000;
  constexpr int NAMES = 50;
  for (const std::size_t first_size : {8, 0}) {
    SCOPED_TRACE("payloads of the first run: " + std::to_string(first_size));
    const TempDir dir;
    const auto payload = [first_size](int run, int i) {
      return pattern(run == 0 ? first_size : 8,
                     static_cast<std::uint32_t>(run * FILES + i));
    };
    // Both images are written before either run starts: on Windows a run
    // may inherit a handle of the image being written, which keeps the
    // other run from reading it.
    const std::string names[2] = {"run0.tap", "run1.tap"};
    for (int run = 0; run < 2; ++run) {
      Bytes image;
      for (int i = 0; i < FILES; ++i) {
        append(image,
               tape_file("n" + std::to_string(i % NAMES), payload(run, i)));
      }
      write_bytes(dir.path() / names[run], image);
    }
    Result results[2];
    std::thread runs[2];
    for (int run = 0; run < 2; ++run) {
      runs[run] =
          std::thread([&dir, &name = names[run], &result = results[run]] {
            result = run_tool(dir.path(), {"vetrik", name});
          });
    }
    for (std::thread& t : runs) {
      t.join();
    }
    std::size_t left = 0;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(dir.path())) {
      left += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(left, 2U * FILES + 2U); // and the two images
    std::set<std::string> reported;
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(results[run].status, 0) << run;
      std::string_view out = results[run].out;
      for (int i = 0; i < FILES; ++i) {
        const std::size_t end = out.find("\r\n");
        ASSERT_TRUE(out.starts_with("Extracting ") && end != out.npos) << i;
        const std::string file(out.substr(11, end - 11));
        out.remove_prefix(end + 2);
        EXPECT_TRUE(reported.insert(file).second) << file << " twice";
        EXPECT_EQ(read_bytes(dir.path() / file), payload(run, i)) << file;
      }
      EXPECT_EQ(out, "done!") << run;
    }
  }
}

TEST_F(EndToEnd, ManyFilesAreReportedInTapeOrderThroughAPipe) {
  Bytes image;
  std::string expected;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "n" + std::to_string(i);
    append(image, tape_file(name, pattern(3, static_cast<std::uint32_t>(i))));
    expected +=
        "Extracting " + name + std::string(10 - name.size(), ' ') + ".B\r\n";
  }
  const Result r = run_on(image);
  EXPECT_EQ(r.out, expected + "done!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files().size(), 400U);
}

} // namespace
} // namespace vetrik::tape
