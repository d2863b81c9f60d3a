// The batch's parts alone, and whole batches on the in-memory platform:
// what each image's folder and the report hold, the summary, the exit
// status, reruns, interrupts, locks, a full disk and the progress.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/batch_options.h"
#include "batch/batch_run.h"
#include "batch/image_record.h"
#include "batch/image_walk.h"
#include "batch/sha256.h"
#include "fileio/file_access.h"
#include "platform/fake_batch_platform.h"

namespace vetrik {
namespace {

std::string sha256_of(std::string_view text) {
  Sha256 hash;
  hash.update(
      {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  return hash.hex();
}

TEST(BatchSha256, DigestsAreTheStandardOnesHoweverTheBytesArePieced) {
  struct Case {
    std::string message;
    std::string digest;
  };
  const std::vector<Case> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(sha256_of(c.message), c.digest);
    // Pieces of 1, 63, 64, 65 and 1000 bytes in turn, across every block end,
    // by the plain code whatever the processor has.
    Sha256 pieced(false);
    const std::size_t sizes[] = {1, 63, 64, 65, 1000};
    for (std::size_t at = 0, n = 0; at < c.message.size(); ++n) {
      const std::size_t size = std::min(sizes[n % 5], c.message.size() - at);
      pieced.update(
          {reinterpret_cast<const std::uint8_t*>(c.message.data() + at), size});
      at += size;
    }
    EXPECT_EQ(pieced.hex(), c.digest);
  }
}

TEST(BatchWalk, FoldersAreWalkedSortedWithoutLinksOrTheOutputRoot) {
  FakeBatchPlatform p;
  p.put_file("tree/b.tap", "bb");
  p.put_file("tree/A.tzx", "a");
  p.put_file("tree/sub/c.WAV", "ccc");
  p.put_file("tree/sub/notes.txt", "");
  p.put_file("tree/sub/e.tape", "");
  p.put_file("tree/sub/tap", "");
  p.put_file("tree/out/old.tap", "");  // the output root
  p.put_file("tree/locked/d.tap", ""); // cannot be listed
  p.put_file("elsewhere/e.tap", "");   // reached only by a link
  p.put_file("other/b.tap", "1234");   // wants the folder b.tap too
  p.put_file("named.dat", "12345");    // given itself: taken by any name
  p.links["/cwd/tree/link.tap"] = "/cwd/tree/b.tap";
  p.links["/cwd/tree/linked"] = "/cwd/elsewhere";
  p.others.insert("/cwd/tree/fifo.tap");
  p.unreadable.insert("/cwd/tree/locked");
  p.links["/cwd/given.tap"] = "/cwd/other/b.tap";

  const FoundImages found =
      find_images(p, {"tree", "other/b.tap", "named.dat", "gone", "given.tap"},
                  "./tree//out/");
  std::vector<std::string> images;
  for (const ImageJob& job : found.images) {
    images.push_back(job.path + " > " + job.folder + " " +
                     std::to_string(job.size));
  }
  EXPECT_EQ(images,
            (std::vector<std::string>{
                "tree/A.tzx > A.tzx 1", "tree/b.tap > b.tap 2",
                "tree/sub/c.WAV > sub/c.WAV 3", "other/b.tap > b.tap (2) 4",
                "named.dat > named.dat 5", "given.tap > given.tap 4"}));
  EXPECT_EQ(found.errors,
            (std::vector<std::string>{"tree/locked: permission denied",
                                      "gone: no such file or folder"}));
}

TEST(BatchReport, TheFirstProblemAndTheOutcomeComeFromTheReport) {
  struct Case {
    std::string report;
    int exit_status;
    std::optional<std::string> problem;
    std::string_view outcome;
  };
  const std::vector<Case> cases = {
      {"Extracting hello     .B\r\nExtracting hello     (1).B\r\ndone!", 0,
       std::nullopt, OK},
      {"Extracting hello     .B\r\nwrong data checksum for hello     .Bdone!",
       1, "wrong data checksum for hello     .B", PROBLEM},
      {"Extracting a         .B\r\ntruncated data for a         .BExtracting "
       "b         .B\r\nNot a headerdone!",
       1, "truncated data for a         .B", PROBLEM},
      {"cannot read x.tapdone!", 1, "cannot read x.tap", UNREADABLE},
      {"", 139, std::nullopt, PROBLEM}, // ended before it said anything
      {"Extracting cut", 1, std::nullopt, PROBLEM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    EXPECT_EQ(report_problem(c.report), c.problem);
    EXPECT_EQ(report_outcome(c.report, c.exit_status), c.outcome);
  }
}

TEST(BatchRecord, ALineReadsBackAsTheRecordWithNamesMadeValid) {
  ImageRecord r;
  r.image = "shelf/odd \xff\xfe name.tap";
  r.size = 1234567890123;
  r.format = "TZX";
  r.folder = "out/odd \xff\xfe name.tap";
  r.outcome = PROBLEM;
  r.problem = "wrong data checksum for \"x\"\\";
  r.exit_status = 1;
  r.files = {{"a\nb.B", 5, sha256_of("12345")}, {"c.1", 0, sha256_of("")}};
  r.seconds = 0.25;
  r.skipped = true;
  const std::string line = record_line(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  ImageRecord back;
  ASSERT_TRUE(read_record_line(line, back));
  EXPECT_EQ(back.image, "shelf/odd \xef\xbf\xbd\xef\xbf\xbd name.tap");
  EXPECT_EQ(back.folder, "out/odd \xef\xbf\xbd\xef\xbf\xbd name.tap");
  ImageRecord valid = r;
  valid.image = back.image;
  valid.folder = back.folder;
  EXPECT_EQ(record_line(back), record_line(valid));

  r.problem.reset();
  r.files.clear();
  ASSERT_TRUE(read_record_line(record_line(r), back));
  EXPECT_EQ(back.problem, std::nullopt);
  EXPECT_NE(record_line(r).find("\"problem\":null"), std::string::npos);

  for (const std::string& bad :
       {std::string(), std::string("[1]"), std::string("{}"),
        line.substr(0, line.size() - 1),
        line.substr(0, line.find("\"skipped\"") - 1) + "}"}) {
    EXPECT_FALSE(read_record_line(bad, back)) << bad;
  }
}

TEST(BatchOptions, TheCommandLineIsReadOrRefused) {
  struct Case {
    std::vector<std::string> arguments;
    OptionsOutcome outcome;
    std::string text; // all of it when it ends a line, else a part of it
  };
  const std::vector<Case> cases = {
      {{"--version"}, OptionsOutcome::DONE, "vetrik-batch 1.2.3\n"},
      {{"--help"}, OptionsOutcome::DONE, "--map"},
      {{}, OptionsOutcome::USAGE, "PATH"},
      {{"-j", "0", "a.tap"}, OptionsOutcome::USAGE, "--jobs"},
      {{"--jobs=x", "a.tap"}, OptionsOutcome::USAGE, "--jobs"},
      {{"--frobnicate", "a.tap"}, OptionsOutcome::USAGE, "frobnicate"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"vetrik-batch"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ParsedOptions parsed = parse_batch_options(arguments, "1.2.3");
    SCOPED_TRACE(parsed.text);
    EXPECT_EQ(parsed.outcome, c.outcome);
    if (c.text.ends_with('\n')) {
      EXPECT_EQ(parsed.text, c.text);
    } else {
      EXPECT_NE(parsed.text.find(c.text), std::string::npos);
    }
    EXPECT_EQ(parsed.text.starts_with("vetrik-batch: "),
              c.outcome == OptionsOutcome::USAGE);
  }
  const ParsedOptions run = parse_batch_options(
      {"vetrik-batch", "b", "-j", "3", "--map", "a", "-o", "out dir", "c"},
      "1");
  ASSERT_EQ(run.outcome, OptionsOutcome::RUN);
  EXPECT_EQ(run.options.paths, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(run.options.jobs, 3);
  EXPECT_EQ(run.options.output, "out dir");
  EXPECT_TRUE(run.options.map);
}

// Images whose bytes tell the simulated vetrik program what to do.
constexpr std::string_view GOOD = "good";
constexpr std::string_view BAD = "bad";
constexpr std::string_view UNREAD = "unread";

const std::string HELLO_REPORT = "Extracting hello     .B\r\ndone!";
const std::string BAD_REPORT =
    "Extracting a         .B\r\nwrong data checksum for a         .Bdone!";

FakeChildRun act_vetrik(FakeBatchPlatform& p, const std::string& image) {
  const std::string* bytes = p.file(image);
  if (bytes == nullptr || *bytes == UNREAD) {
    return {1, "cannot read " + image + "done!", {}};
  }
  if (*bytes == BAD) {
    return {1, BAD_REPORT, {{"a         .B", "half"}}};
  }
  return {0, HELLO_REPORT, {{"hello     .B", "HELLO"}}};
}

class BatchRun : public ::testing::Test {
protected:
  BatchRun() {
    file_system_init(); // the batch reads images' first bytes through it
    fresh();
    options_.paths = {"shelf"};
    options_.output = "out";
    options_.jobs = 2;
  }

  // An empty tree, and children that act as the vetrik program.
  void fresh() {
    p_ = FakeBatchPlatform();
    p_.child = [this](const std::string& program, const std::string& image,
                      const std::string&) {
      EXPECT_EQ(program, "/bin/vetrik");
      return act_vetrik(p_, image);
    };
  }

  int run() { return run_batch(p_, options_, "/bin/vetrik"); }

  // The records in report.jsonl, in order.
  std::vector<ImageRecord> report() {
    std::vector<ImageRecord> records;
    const std::string* text = p_.file("out/report.jsonl");
    for (std::size_t at = 0; text != nullptr && at < text->size();) {
      const std::size_t end = text->find('\n', at);
      EXPECT_NE(end, std::string::npos) << "a line without its end";
      ImageRecord r;
      EXPECT_TRUE(read_record_line(text->substr(at, end - at), r));
      records.push_back(r);
      at = end + 1;
    }
    return records;
  }

  bool has_record(const std::string& folder) {
    return p_.file("out/" + folder + "/.vetrik-done.json") != nullptr;
  }

  FakeBatchPlatform p_;
  BatchOptions options_;
};

TEST_F(BatchRun, EveryImageGetsItsFolderRecordAndReportLine) {
  p_.put_file("shelf/good.tap", std::string(GOOD));
  p_.put_file("shelf/sub/bad.tzx", std::string(BAD));
  p_.put_file("shelf/worse.tap", std::string(UNREAD));
  p_.newest_ends_first = true; // records out of the order started
  EXPECT_EQ(run(), BATCH_PROBLEM);
  EXPECT_EQ(p_.most_running, 2U);
  EXPECT_EQ(p_.locks_held(), 0U);
  ASSERT_EQ(p_.started.size(), 3U);
  EXPECT_EQ(p_.started[0], (std::pair<std::string, std::string>(
                               "/cwd/shelf/good.tap", "out/good.tap")));

  const std::vector<ImageRecord> records = report();
  ASSERT_EQ(records.size(), 3U);
  // The other two in the order they ended; their outcomes as told below.
  EXPECT_EQ(records[0].folder, "out/sub/bad.tzx");
  EXPECT_EQ(records[1].image, "shelf/worse.tap");
  const ImageRecord& good = records[2];
  EXPECT_EQ(good.image, "shelf/good.tap");
  EXPECT_EQ(good.size, 4U);
  EXPECT_EQ(good.outcome, OK);
  EXPECT_EQ(good.problem, std::nullopt);
  EXPECT_EQ(good.exit_status, 0);
  EXPECT_DOUBLE_EQ(good.seconds, 3); // started first, ended after two others
  EXPECT_FALSE(good.skipped);
  ASSERT_EQ(good.files.size(), 1U);
  EXPECT_EQ(good.files[0].name, "hello     .B");
  EXPECT_EQ(good.files[0].size, 5U);
  EXPECT_EQ(good.files[0].sha256, sha256_of("HELLO"));

  EXPECT_EQ(p_.names_in("out/good.tap"),
            (std::vector<std::string>{".vetrik-done.json", ".vetrik-report.txt",
                                      "hello     .B"}));
  EXPECT_EQ(*p_.file("out/good.tap/.vetrik-report.txt"), HELLO_REPORT);
  EXPECT_EQ(*p_.file("out/good.tap/.vetrik-done.json"),
            record_line(good) + "\n");
  EXPECT_EQ(*p_.file("out/sub/bad.tzx/a         .B"), "half");
  for (const std::string& name : p_.names_in("out/.vetrik-batch")) {
    EXPECT_TRUE(name.ends_with(".lock")) << name << " left behind";
  }
  EXPECT_EQ(p_.error,
            "problem shelf/sub/bad.tzx: wrong data checksum for a         .B\n"
            "unreadable shelf/worse.tap: cannot read /cwd/shelf/worse.tap\n"
            "ok shelf/good.tap\n"
            "vetrik-batch: 3 images: 1 ok, 1 with a problem, 1 unreadable\n"
            "  shelf/sub/bad.tzx: wrong data checksum for a         .B\n"
            "  shelf/worse.tap: cannot read /cwd/shelf/worse.tap\n");
}

TEST_F(BatchRun, ARerunSkipsWhatIsDoneAndExitsByTheRecordedOutcomes) {
  struct Case {
    std::string second; // the bytes of the second image
    int status;
  };
  for (const Case& c : {Case{std::string(GOOD), BATCH_OK},
                        Case{std::string(BAD), BATCH_PROBLEM},
                        Case{std::string(UNREAD), BATCH_PROBLEM}}) {
    SCOPED_TRACE(c.second);
    fresh();
    p_.put_file("shelf/a.tap", std::string(GOOD));
    p_.put_file("shelf/b.tap", c.second);
    EXPECT_EQ(run(), c.status);
    const std::vector<ImageRecord> first = report();
    p_.restart();
    EXPECT_EQ(run(), c.status);
    EXPECT_EQ(p_.started.size(), 2U) << "an image done twice";
    const std::vector<ImageRecord> records = report();
    ASSERT_EQ(records.size(), 4U);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_TRUE(records[2 + i].skipped);
      EXPECT_EQ(records[2 + i].outcome, first[i].outcome);
      EXPECT_EQ(records[2 + i].problem, first[i].problem);
    }
    EXPECT_NE(p_.error.find("(2 done before, skipped)"), std::string::npos);
  }
}

TEST_F(BatchRun, AnInterruptLeavesNoRecordOfTheImagesCutShort) {
  for (const char* name : {"a.tap", "b.tap", "c.tap", "d.tap"}) {
    p_.put_file(std::string("shelf/") + name, std::string(GOOD));
  }
  p_.interrupt_at_start = 3; // a.tap has ended, b.tap runs still
  EXPECT_EQ(run(), BATCH_INTERRUPTED);
  EXPECT_EQ(p_.started.size(), 3U);
  EXPECT_TRUE(has_record("a.tap"));
  EXPECT_FALSE(has_record("b.tap"));
  EXPECT_FALSE(has_record("c.tap"));
  EXPECT_EQ(p_.look("out/d.tap", false).kind, BatchEntryKind::MISSING);
  EXPECT_EQ(report().size(), 1U);
  EXPECT_EQ(p_.locks_held(), 0U);
  EXPECT_NE(p_.error.find("1 image: 1 ok, 0 with a problem, 0 unreadable; 2 "
                          "left unfinished by the interrupt"),
            std::string::npos);

  // A folder left unfinished is moved aside, by a name not taken.
  p_.put_file("out/b.tap.unfinished/older", "");
  p_.restart();
  EXPECT_EQ(run(), BATCH_OK);
  EXPECT_EQ(p_.started.size(), 6U) << "a.tap done again";
  for (const char* name : {"a.tap", "b.tap", "c.tap", "d.tap"}) {
    EXPECT_TRUE(has_record(name)) << name;
  }
  EXPECT_EQ(p_.names_in("out/b.tap.unfinished"),
            std::vector<std::string>{"older"});
  EXPECT_EQ(p_.names_in("out/b.tap.unfinished-2"),
            (std::vector<std::string>{".vetrik-report.txt", "hello     .B"}));
  EXPECT_NE(p_.error.find("out/b.tap: an unfinished extraction, kept as "
                          "out/b.tap.unfinished-2\n"),
            std::string::npos);
  EXPECT_EQ(report().size(), 5U);
}

TEST_F(BatchRun, AnImageLockedByAnotherBatchIsLeftAlone) {
  p_.put_file("shelf/a.tap", std::string(GOOD));
  p_.put_file("shelf/b.tap", std::string(GOOD));
  // The lock's name: the first 32 hex digits of the SHA-256 of the folder.
  p_.locked_elsewhere.insert("/cwd/out/.vetrik-batch/" +
                             sha256_of("a.tap").substr(0, 32) + ".lock");
  EXPECT_EQ(run(), BATCH_OK);
  ASSERT_EQ(p_.started.size(), 1U);
  EXPECT_EQ(p_.started[0].first, "/cwd/shelf/b.tap");
  EXPECT_EQ(p_.names_in("out"), (std::vector<std::string>{
                                    ".vetrik-batch", "b.tap", "report.jsonl"}));
  EXPECT_EQ(report().size(), 1U);
  EXPECT_NE(p_.error.find("vetrik-batch: shelf/a.tap: being extracted by "
                          "another batch into out/a.tap; left to it\n"),
            std::string::npos);
}

TEST_F(BatchRun, AFullDiskIsToldAndNoImageClaimedDone) {
  p_.put_file("shelf/a.tap", std::string(GOOD));
  p_.disk_left = 0;
  EXPECT_EQ(run(), BATCH_PROBLEM);
  EXPECT_FALSE(has_record("a.tap"));
  EXPECT_EQ(p_.file("out/report.jsonl"), nullptr);
  EXPECT_NE(p_.error.find("vetrik-batch: out/a.tap/.vetrik-done.json: no "
                          "space left on device\n"),
            std::string::npos);

  p_.restart();
  p_.disk_left = -1;
  EXPECT_EQ(run(), BATCH_OK);
  EXPECT_TRUE(has_record("a.tap"));
  EXPECT_EQ(p_.started.size(), 2U);
}

TEST_F(BatchRun, AnImageThatCannotBeHandedOverIsReportedAndTriedAgain) {
  p_.put_file("shelf/a.tap", std::string(GOOD));
  p_.put_file("shelf/b.tap", std::string(GOOD));
  p_.put_file("out/b.tap", "a file in the way");
  p_.child = nullptr; // no program to start
  EXPECT_EQ(run(), BATCH_PROBLEM);
  const std::vector<ImageRecord> records = report();
  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records[0].problem, "cannot run /bin/vetrik: no such program");
  EXPECT_EQ(records[1].problem,
            "out/b.tap: something other than a folder is in the way");
  EXPECT_FALSE(has_record("a.tap"));
  EXPECT_NE(p_.error.find("  shelf/a.tap: cannot run /bin/vetrik: no such "
                          "program\n"),
            std::string::npos);
}

TEST_F(BatchRun, ProgressIsOneLineDrawnAgainOnATerminalAndALineAnImageElse) {
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal);
    fresh();
    p_.put_file("shelf/a.tap", std::string(GOOD));
    p_.put_file("shelf/b.tap", std::string(BAD));
    p_.terminal = terminal;
    p_.width = 30;
    EXPECT_EQ(run(), BATCH_PROBLEM);
    const std::string summary =
        "vetrik-batch: 2 images: 1 ok, 1 with a problem, 0 unreadable\n"
        "  shelf/b.tap: wrong data checksum for a         .B\n";
    ASSERT_TRUE(p_.error.ends_with(summary));
    const std::string progress =
        p_.error.substr(0, p_.error.size() - summary.size());
    if (!terminal) {
      EXPECT_EQ(progress, "ok shelf/a.tap\nproblem shelf/b.tap: wrong data "
                          "checksum for a         .B\n");
      continue;
    }
    EXPECT_EQ(progress.find('\n'), std::string::npos);
    EXPECT_TRUE(progress.starts_with("\r[0/2] 0 failed, 0.0 MB"));
    EXPECT_NE(progress.find("\r[2/2] 1 failed"), std::string::npos);
    // Each drawing fits the terminal, and the last is wiped before the end.
    std::vector<std::string> drawings;
    for (std::size_t at = 0; at < progress.size();) {
      const std::size_t end =
          std::min(progress.find('\r', at + 1), progress.size());
      drawings.push_back(progress.substr(at + 1, end - at - 1));
      at = end;
    }
    ASSERT_GE(drawings.size(), 4U);
    for (const std::string& drawing : drawings) {
      EXPECT_LT(drawing.size(), 30U) << drawing;
    }
    EXPECT_EQ(drawings.back(), "");
    EXPECT_EQ(drawings[drawings.size() - 2],
              std::string(drawings[drawings.size() - 3].size(), ' '));
  }
}

} // namespace
} // namespace vetrik
