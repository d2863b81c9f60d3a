#include "fileio/file_access.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/faulty_platform.h"
#include "platform/memory_file_system.h"
#include "tests/entry_text.h"

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Amounts = std::vector<std::int64_t>;

Bytes pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  return bytes;
}

class FileAccessTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs.install();
    file_system_init();
  }
  void TearDown() override { file_close_all(); }

  MemoryFileSystem fs;
};

// The same, with faults injected in front of the file system.
class FileAccessFaultTest : public FileAccessTest {
protected:
  void SetUp() override {
    faults.install();
    file_system_init();
  }

  FaultyPlatform faults{fs};
};

TEST_F(FileAccessTest, SingleByteWritesGoOut4095AtATime) {
  const Bytes data = pattern(4096);
  ASSERT_EQ(file_create(1, "out"), OpenOutcome::OPENED);
  for (std::uint8_t byte : data) {
    ASSERT_EQ(file_write_byte(1, byte), 1);
  }
  EXPECT_EQ(fs.amounts_of(CallKind::WRITE), Amounts{4095});
  EXPECT_TRUE(file_close(1));
  EXPECT_EQ(fs.amounts_of(CallKind::WRITE), (Amounts{4095, 1}));
  EXPECT_EQ(fs.files["out"], data);
}

TEST_F(FileAccessTest, ByteReadsRefillAWholeBufferAtATime) {
  fs.files["in"] = pattern(10000);
  ASSERT_NE(file_open_read(1, "in"), 0);
  Bytes got;
  for (int i = 0; i < 10000; ++i) {
    got.push_back(static_cast<std::uint8_t>(file_read_byte(1)));
  }
  EXPECT_EQ(got, fs.files["in"]);
  EXPECT_EQ(fs.amounts_of(CallKind::READ), (Amounts{4096, 4096, 4096}));
}

TEST_F(FileAccessTest, BlocksOfABufferOrMoreBypassTheBuffer) {
  fs.files["in"] = pattern(5000);
  ASSERT_NE(file_open_read(1, "in"), 0);
  Bytes got(4500);
  EXPECT_EQ(file_read(1, got.data(), 4500), 4500);
  EXPECT_EQ(got, Bytes(fs.files["in"].begin(), fs.files["in"].begin() + 4500));
  EXPECT_EQ(fs.amounts_of(CallKind::READ), Amounts{4500});

  const Bytes block = pattern(5003);
  ASSERT_EQ(file_create(2, "out"), OpenOutcome::OPENED);
  file_write(2, block.data(), 3);
  EXPECT_EQ(file_write(2, block.data() + 3, 5000), 5000);
  EXPECT_EQ(fs.amounts_of(CallKind::WRITE), (Amounts{3, 5000}));
  EXPECT_TRUE(file_close(2));
  EXPECT_EQ(fs.files["out"], block);
}

TEST_F(FileAccessTest, EofNeverConsumesAByteEvenWhenItRefills) {
  fs.files["in"] = pattern(4097);
  const Bytes& data = fs.files["in"];
  ASSERT_NE(file_open_read(1, "in"), 0);
  for (int i = 0; i < 4096; ++i) {
    ASSERT_EQ(file_eof(1), 0);
    ASSERT_EQ(file_read_byte(1), data[static_cast<std::size_t>(i)]);
  }
  EXPECT_EQ(file_eof(1), 0); // refills here
  EXPECT_EQ(file_eof(1), 0);
  EXPECT_EQ(file_read_byte(1), data[4096]);
  EXPECT_EQ(file_eof(1), 1);
}

TEST_F(FileAccessTest, ReadsAtTheEndGiveZeroAndEofKeepsReportingEnd) {
  fs.files["empty"] = {};
  ASSERT_NE(file_open_read(1, "empty"), 0);
  EXPECT_EQ(file_eof(1), 1);
  EXPECT_EQ(file_read_byte(1), 0);
  EXPECT_EQ(file_read_word(1), 0);

  fs.files["in"] = {0x07};
  ASSERT_NE(file_open_read(1, "in"), 0);
  EXPECT_EQ(file_read_byte(1), 7);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(file_read_byte(1), 0);
    EXPECT_EQ(file_eof(1), 1);
  }
}

TEST_F(FileAccessTest, WordsAreSignedLittleEndianAndMissingBytesCountAsZero) {
  fs.files["in"] = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0x56};
  ASSERT_NE(file_open_read(1, "in"), 0);
  EXPECT_EQ(file_read_word(1), 0x1234);
  EXPECT_EQ(file_read_word(1), -1);
  EXPECT_EQ(file_read_word(1), -32768);
  EXPECT_EQ(file_read_word(1), 0x56);
  EXPECT_EQ(file_eof(1), 1);
}

TEST_F(FileAccessTest, WordAcrossARefillTakesOneByteFromEach) {
  fs.files["in"] = pattern(4097);
  fs.files["in"][4095] = 0xCD;
  fs.files["in"][4096] = 0x2B;
  ASSERT_NE(file_open_read(1, "in"), 0);
  Bytes skip(4095);
  ASSERT_EQ(file_read(1, skip.data(), 4095), 4095);
  EXPECT_EQ(file_read_word(1), 0x2BCD);
  EXPECT_EQ(fs.amounts_of(CallKind::READ), (Amounts{4096, 4096}));
}

TEST_F(FileAccessTest, WriteAfterReadsLandsWhereTheReaderStands) {
  ASSERT_EQ(file_create(1, "f"), OpenOutcome::OPENED);
  fs.files["f"] = pattern(100); // placed behind the open handle
  Bytes head(3);
  ASSERT_EQ(file_read(1, head.data(), 3), 3);
  file_write_byte(1, 0xEE);
  EXPECT_EQ(fs.amounts_of(CallKind::SEEK), Amounts{-97});
  EXPECT_TRUE(file_close(1));
  Bytes expected = pattern(100);
  expected[3] = 0xEE;
  EXPECT_EQ(fs.files["f"], expected);
}

TEST_F(FileAccessTest, ReadAfterWritesSendsPendingOutputFirst) {
  ASSERT_EQ(file_create(1, "f"), OpenOutcome::OPENED);
  fs.files["f"] = {0, 1, 2, 3, 4, 5};
  for (std::uint8_t byte : {0xAA, 0xBB}) {
    file_write_byte(1, byte);
  }
  EXPECT_EQ(file_read_byte(1), 2);
  EXPECT_EQ(fs.files["f"], (Bytes{0xAA, 0xBB, 2, 3, 4, 5}));

  ASSERT_EQ(file_create(2, "g"), OpenOutcome::OPENED);
  file_write_byte(2, 0x11);
  EXPECT_EQ(file_eof(2), 1);
  EXPECT_EQ(fs.files["g"], Bytes{0x11});
}

TEST_F(FileAccessFaultTest, CreateNeverEmptiesWhatIsThere) {
  fs.files["old"] = {1, 2, 3};
  fs.add_leftover("empty");
  ASSERT_EQ(file_create(1, "new"), OpenOutcome::OPENED);
  EXPECT_EQ(file_create(1, "old"), OpenOutcome::TAKEN);
  EXPECT_EQ(file_write_byte(1, 9), 0) << "nothing is open after TAKEN";
  EXPECT_EQ(file_create(1, "old", OpenMode::REUSE_EMPTY), OpenOutcome::TAKEN);
  EXPECT_EQ(fs.files["old"], (Bytes{1, 2, 3}));
  EXPECT_EQ(fs.calls_of(CallKind::CREATE).size(), 3U) << "no second try";

  ASSERT_EQ(file_create(1, "empty", OpenMode::REUSE_EMPTY),
            OpenOutcome::OPENED);
  file_write_byte(1, 9);
  EXPECT_TRUE(file_close(1));
  EXPECT_EQ(fs.files["empty"], Bytes{9});
  faults.fail(CallKind::CREATE, 1);
  EXPECT_EQ(file_create(1, "other"), OpenOutcome::FAILED);
  EXPECT_EQ(fs.open_handles(), 0U);
}

TEST_F(FileAccessFaultTest, ShortReadsAreFollowedByMoreUntilOneBringsNothing) {
  // A pipe hands the bytes over a few at a time.
  fs.files["in"] = pattern(10000);
  fs.read_piece = 1000;
  ASSERT_NE(file_open_read(1, "in"), 0);
  Bytes got(6000);
  EXPECT_EQ(file_read(1, got.data(), 6000), 6000);
  got.resize(10000);
  for (std::size_t i = 6000; i < 10000; ++i) {
    ASSERT_EQ(file_eof(1), 0) << i;
    got[i] = static_cast<std::uint8_t>(file_read_byte(1));
  }
  EXPECT_EQ(got, fs.files["in"]);
  EXPECT_EQ(file_eof(1), 1);
  // Every read still asks for a whole buffer or more.
  for (std::int64_t amount : fs.amounts_of(CallKind::READ)) {
    EXPECT_GE(amount, FILE_BUFFER_SIZE);
  }

  faults.fail_all(CallKind::ALLOCATE);
  ASSERT_NE(file_open_read(2, "in"), 0);
  EXPECT_EQ(file_read(2, got.data(), 10000), 10000);
  EXPECT_EQ(got, fs.files["in"]);
  EXPECT_EQ(file_eof(2), -1);
}

TEST_F(FileAccessTest, FailedOpenFlushesAndClosesTheOldFileAndLeavesNoneOpen) {
  ASSERT_EQ(file_create(3, "a"), OpenOutcome::OPENED);
  file_write_byte(3, 0x42);
  EXPECT_EQ(file_open_read(3, "missing"), 0);
  EXPECT_EQ(fs.files["a"], Bytes{0x42});
  EXPECT_EQ(file_write_byte(3, 1), 0);
  EXPECT_EQ(fs.open_handles(), 0u);
  EXPECT_EQ(fs.live_buffers(), 0u);
}

TEST_F(FileAccessTest, ReopeningANumberClosesTheFirstFile) {
  fs.files["a"] = {0xA0};
  fs.files["b"] = {0xB0};
  ASSERT_NE(file_open_read(0, "a"), 0);
  ASSERT_NE(file_open_read(0, "b"), 0);
  EXPECT_EQ(fs.calls_of(CallKind::CLOSE).size(), 1u);
  EXPECT_EQ(fs.open_handles(), 1u);
  EXPECT_EQ(file_read_byte(0), 0xB0);
}

TEST_F(FileAccessTest, ClosingANumberNotOpenHasNoEffect) {
  EXPECT_TRUE(file_close(5));
  EXPECT_TRUE(file_close(500));
  EXPECT_TRUE(file_close(-1));
  ASSERT_EQ(file_create(5, "x"), OpenOutcome::OPENED);
  EXPECT_TRUE(file_close(5));
  EXPECT_TRUE(file_close(5));
  EXPECT_EQ(fs.calls_of(CallKind::CLOSE).size(), 1u);
}

TEST_F(FileAccessTest, CloseAllClosesInAscendingOrderWritingOutBuffers) {
  for (std::int32_t number : {7, 2, 30}) {
    ASSERT_EQ(file_create(number, "f" + std::to_string(number)),
              OpenOutcome::OPENED);
    const Bytes data = pattern(static_cast<std::size_t>(number));
    file_write(number, data.data(), number);
  }
  file_close_all();
  // Each file had as many bytes pending as its number.
  EXPECT_EQ(fs.amounts_of(CallKind::WRITE), (Amounts{2, 7, 30}));
  EXPECT_EQ(fs.files["f30"], pattern(30));
  EXPECT_EQ(fs.open_handles(), 0u);
  EXPECT_EQ(fs.live_buffers(), 0u);
}

TEST_F(FileAccessFaultTest, LostOutputMakesCloseReportFailure) {
  const Bytes block = pattern(5000);
  const auto run = [&](std::int32_t n) {
    fs.files.erase("out");
    file_create(1, "out");
    file_write(1, block.data(), n);
    return file_close(1);
  };
  EXPECT_TRUE(run(10));
  faults.fail(CallKind::WRITE, 1);
  EXPECT_FALSE(run(10)) << "failed flush";
  faults.shorten_write(1);
  EXPECT_FALSE(run(10)) << "short flush";
  faults.shorten_write(2); // the first WRITE flushes nothing
  EXPECT_FALSE(run(5000)) << "short direct write";
  faults.fail(CallKind::CLOSE, 1);
  EXPECT_FALSE(run(10)) << "failed close";
  EXPECT_TRUE(run(5000)) << "a failure must not outlive its file";
}

TEST_F(FileAccessFaultTest, UnbufferedFileMakesOneCallPerOperation) {
  faults.fail_all(CallKind::ALLOCATE);
  ASSERT_EQ(file_create(1, "out"), OpenOutcome::OPENED);
  const Bytes block{5, 6, 7};
  file_write_byte(1, 4);
  file_write(1, block.data(), 3);
  EXPECT_EQ(fs.amounts_of(CallKind::WRITE), (Amounts{1, 3}));
  EXPECT_TRUE(file_close(1));
  EXPECT_EQ(fs.files["out"], (Bytes{4, 5, 6, 7}));

  fs.files["in"] = {0x10, 0x34, 0x12, 0xFF, 0xFF};
  ASSERT_NE(file_open_read(2, "in"), 0);
  EXPECT_EQ(file_eof(2), 0);
  EXPECT_EQ(file_read_byte(2), 0x10);
  EXPECT_EQ(file_read_word(2), 0x1234);
  EXPECT_EQ(file_eof(2), 0);
  EXPECT_EQ(file_read_word(2), -1);
  EXPECT_EQ(file_eof(2), -1);
  EXPECT_EQ(fs.amounts_of(CallKind::READ), (Amounts{1, 1, 2, 1, 2, 1}));
  EXPECT_EQ(fs.amounts_of(CallKind::SEEK), (Amounts{-1, -1}));
  EXPECT_EQ(fs.live_buffers(), 0u);
}

TEST_F(FileAccessTest,
       PathEntryTellsFilesDirectoriesLinksAndMissingPathsApart) {
  fs.files["empty"] = {};
  fs.files["three"] = {1, 2, 3};
  fs.huge_files["huge"] = 5ull << 30;
  fs.directories = {"dir", "/"};
  EXPECT_EQ(entry_text(path_entry("")), "missing");
  EXPECT_EQ(entry_text(path_entry("nothing")), "missing");
  EXPECT_EQ(entry_text(path_entry("empty")), "file 0");
  EXPECT_EQ(entry_text(path_entry("three//")), "file 3");
  EXPECT_EQ(entry_text(path_entry("huge")),
            "file " + std::to_string(std::int64_t{5} << 30));
  EXPECT_EQ(entry_text(path_entry("dir")), "directory");
  EXPECT_EQ(entry_text(path_entry("dir//")), "directory");
  EXPECT_EQ(entry_text(path_entry("/")), "missing");
  EXPECT_EQ(entry_text(path_entry("///")), "missing");
  // A link is a link, whatever its target's length.
  fs.links["dangling"] = 0;
  fs.links["long"] = 12;
  EXPECT_EQ(entry_text(path_entry("dangling")), "link 0");
  EXPECT_EQ(entry_text(path_entry("long")), "link 12");
}

TEST_F(FileAccessTest, PathEntryLooksAtTheFirst260CharactersOnly) {
  const std::string kept(PATH_WORK_LIMIT, 'p');
  fs.files[kept] = {1, 2};
  EXPECT_EQ(entry_text(path_entry(kept + std::string(40, 'q'))), "file 2");
}

} // namespace
} // namespace vetrik
