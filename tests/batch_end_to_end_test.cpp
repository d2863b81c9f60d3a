// Runs of the built vetrik-batch on shelves of our own tapes: each folder
// holds what the vetrik program makes alone, the report a line an image, a
// rerun skips, an interrupt leaves nothing claimed done, and two batches at
// once share the work.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "batch/image_record.h"
#include "batch/sha256.h"
#include "tests/run_tool.h"
#include "tests/sample_tape.h"
#include "tests/signal_builder.h"
#include "tests/tape_builder.h"

#ifdef _WIN32
// Last: its macros would rewrite names in the headers above.
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vetrik::tape {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Files = std::map<std::string, Bytes>;

// A batch that hangs ends after this long, and fails its test.
constexpr unsigned TIME_LIMIT_SECONDS = 120;

// vetrik-batch started in dir with args, its standard output and error
// both into the file output.
class BatchProcess {
public:
  BatchProcess(const fs::path& dir, const std::vector<std::string>& args,
               const fs::path& output) {
#ifdef _WIN32
    std::string text = "vetrik-batch";
    for (const std::string& arg : args) {
      text +=
          arg.find(' ') == std::string::npos ? " " + arg : " \"" + arg + "\"";
    }
    std::wstring line(text.begin(), text.end()); // ASCII on Windows
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE out = CreateFileW(output.wstring().c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out;
    PROCESS_INFORMATION process{};
    const std::wstring binary = fs::absolute(VETRIK_BATCH_BINARY).wstring();
    if (CreateProcessW(binary.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, dir.wstring().c_str(), &startup,
                       &process) != 0) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
    CloseHandle(out);
#else
    std::vector<char*> argv{const_cast<char*>("vetrik-batch")};
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const std::string cwd = dir.string(), out = output.string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      ::alarm(TIME_LIMIT_SECONDS); // outlives execv
      if (::chdir(cwd.c_str()) == 0) {
        ::execv(VETRIK_BATCH_BINARY, argv.data());
      }
      ::_exit(127);
    }
#endif
  }

  // The exit status, or 128 + the signal that ended it; -1 when it never
  // started.
  int wait() {
#ifdef _WIN32
    if (process_ == nullptr) {
      return -1;
    }
    WaitForSingleObject(process_, TIME_LIMIT_SECONDS * 1000);
    DWORD status = 0;
    GetExitCodeProcess(process_, &status);
    CloseHandle(process_);
    process_ = nullptr;
    return static_cast<int>(status);
#else
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) {
      return -1;
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  }

#ifndef _WIN32
  void terminate() {
    ::kill(pid_, SIGTERM);
  }
#endif

private:
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = 0;
#endif
};

// Every plain file in folder, with its bytes.
Files files_in(const fs::path& folder) {
  Files found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      found[entry.path().filename().string()] = read_bytes(entry.path());
    }
  }
  return found;
}

std::string text_of(const fs::path& path) {
  const Bytes bytes = read_bytes(path);
  return {bytes.begin(), bytes.end()};
}

// The records of a report, each line whole; an empty one where a line is
// no record.
std::vector<ImageRecord> records_in(const fs::path& report) {
  std::vector<ImageRecord> records;
  const std::string text = text_of(report);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    EXPECT_NE(end, std::string::npos) << "a broken last line";
    ImageRecord r;
    EXPECT_TRUE(read_record_line(text.substr(at, end - at), r))
        << text.substr(at, end - at);
    records.push_back(r);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return records;
}

std::string sha256_of(const Bytes& bytes) {
  Sha256 hash;
  hash.update(bytes);
  return hash.hex();
}

Bytes damaged(Bytes tape) {
  tape.back() ^= 0x40; // the last data block's checksum
  return tape;
}

class BatchEndToEnd : public ::testing::Test {
protected:
  // Puts each image under tree/ by its path there.
  void shelve(const std::map<std::string, Bytes>& images) {
    for (const auto& [name, bytes] : images) {
      fs::create_directories((tree() / name).parent_path());
      write_bytes(tree() / name, bytes);
    }
  }

  // Runs the batch on args, -o out first; its status, its text in text_.
  int batch(std::vector<std::string> args) {
    args.insert(args.begin(), {"-o", "out"});
    const int status = BatchProcess(dir_.path(), args, output()).wait();
    text_ = text_of(output());
    return status;
  }

  fs::path tree() const { return dir_.path() / "tree"; }
  fs::path out() const { return dir_.path() / "out"; }
  fs::path output() const { return dir_.path() / "batch.txt"; }

  TempDir dir_;
  std::string text_;
};

TEST_F(BatchEndToEnd, EachFolderHoldsWhatTheVetrikProgramMakesAlone) {
  std::map<std::string, Bytes> images = {
      {"sample.tap", sample_tape()},
      {"sub dir/sample.tzx", sample_tzx()},
      {"sub dir/with space.tap", GOOD_AND_NEXT},
      {"damaged.tap", damaged(GOOD_AND_NEXT)},
      {"recorded.wav",
       recording::wav(
           {recording::render(recording::save_signal(GOOD_AND_NEXT), 22050)},
           22050, WavEncoding::PCM_8)},
  };
#ifndef _WIN32
  // Names only POSIX allows: a line end, bytes that are no UTF-8.
  images["new\nline.tap"] = GOOD_AND_NEXT;
  images["odd \xff\xfe.tzx"] = sample_tzx();
#endif
  shelve(images);
  ASSERT_EQ(batch({"-j", "2", "--map", "tree"}), 1) << text_;
  EXPECT_NE(text_.find(std::to_string(images.size()) +
                       " images: " + std::to_string(images.size() - 1) +
                       " ok, 1 with a problem, 0 unreadable"),
            std::string::npos)
      << text_;

  const std::vector<ImageRecord> records = records_in(out() / REPORT_FILE);
  ASSERT_EQ(records.size(), images.size());
  std::map<std::string, ImageRecord> by_image;
  for (const ImageRecord& r : records) {
    EXPECT_FALSE(r.skipped);
    by_image[r.image] = r;
  }
  for (const auto& [name, bytes] : images) {
    SCOPED_TRACE(name);
    TempDir alone;
    const Result vetrik = run_tool(
        alone.path(), {"vetrik", fs::absolute(tree() / name).string()});
    const fs::path folder = out() / name;
    Files made = files_in(folder);
    EXPECT_EQ(text_of(folder / KEPT_REPORT), vetrik.out);
    EXPECT_EQ(made.erase(std::string(KEPT_REPORT)), 1U);
    EXPECT_EQ(made.erase(std::string(DONE_RECORD)), 1U);
    EXPECT_EQ(made.erase(std::string(MAP_FILE)),
              name.ends_with(".wav") ? 1U : 0U);
    EXPECT_EQ(made, files_in(alone.path()));

    ImageRecord done;
    ASSERT_TRUE(read_record_line(text_of(folder / DONE_RECORD), done));
    const ImageRecord& r = by_image[done.image];
    EXPECT_EQ(record_line(r), record_line(done));
    EXPECT_EQ(r.outcome, name == "damaged.tap" ? PROBLEM : OK);
    EXPECT_EQ(r.exit_status, vetrik.status);
    EXPECT_EQ(r.size, bytes.size());
    ASSERT_EQ(r.files.size(), made.size());
    for (const MadeFile& file : r.files) {
      EXPECT_EQ(file.size, made[file.name].size());
      EXPECT_EQ(file.sha256, sha256_of(made[file.name]));
    }
  }
  const std::string map = text_of(out() / "recorded.wav" / MAP_FILE);
  EXPECT_NE(map.find("<svg"), std::string::npos);
  EXPECT_NE(map.find("recorded.wav"), std::string::npos);

  // A rerun does nothing again, and tells the same outcomes.
  EXPECT_EQ(batch({"-j", "2", "--map", "tree"}), 1) << text_;
  const std::vector<ImageRecord> again = records_in(out() / REPORT_FILE);
  ASSERT_EQ(again.size(), 2 * images.size());
  for (std::size_t i = images.size(); i < again.size(); ++i) {
    EXPECT_TRUE(again[i].skipped) << again[i].image;
    EXPECT_EQ(again[i].outcome, by_image[again[i].image].outcome);
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(out())) {
    EXPECT_EQ(entry.path().string().find(".unfinished"), std::string::npos);
  }
}

TEST_F(BatchEndToEnd, TwoBatchesAtOnceDoEachImageOnce) {
  std::map<std::string, Bytes> images;
  for (std::uint32_t n = 0; n < 16; ++n) {
    images["tape " + std::to_string(n) + ".tap"] =
        tape_file("file" + std::to_string(n), pattern(2000 + n, n));
  }
  shelve(images);
  fs::create_directories(out());
  const std::vector<std::string> args = {"-o", "out", "-j", "2", "tree"};
  BatchProcess first(dir_.path(), args, dir_.path() / "first.txt");
  BatchProcess second(dir_.path(), args, dir_.path() / "second.txt");
  EXPECT_EQ(first.wait(), 0) << text_of(dir_.path() / "first.txt");
  EXPECT_EQ(second.wait(), 0) << text_of(dir_.path() / "second.txt");

  std::map<std::string, int> done;
  for (const ImageRecord& r : records_in(out() / REPORT_FILE)) {
    EXPECT_EQ(r.outcome, OK) << r.image;
    done[r.image] += r.skipped ? 0 : 1;
  }
  ASSERT_EQ(done.size(), images.size());
  for (const auto& [name, bytes] : images) {
    EXPECT_EQ(done["tree/" + name], 1) << name;
    EXPECT_TRUE(fs::exists(out() / name / DONE_RECORD)) << name;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(out())) {
    EXPECT_EQ(entry.path().string().find(".unfinished"), std::string::npos);
  }
}

// POSIX only: Windows has no FIFO to stall a child on and no SIGTERM to
// send; there an interrupted batch is tested on the in-memory platform.
#ifndef _WIN32
TEST_F(BatchEndToEnd, SigtermEndsTheBatchWith130AndARerunFinishesTheRest) {
  std::map<std::string, Bytes> images;
  for (const char* name : {"a.tap", "b.tap", "c.tap"}) {
    images[name] = GOOD_AND_NEXT;
  }
  shelve(images);
  // An image that stalls its reader until a writer comes.
  const fs::path stall = dir_.path() / "stall.tap";
  ASSERT_EQ(::mkfifo(stall.c_str(), 0600), 0);
  BatchProcess running(dir_.path(),
                       {"-o", "out", "-j", "2", "tree", "stall.tap"}, output());
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  const auto under_way = [&] {
    return fs::exists(out() / "a.tap" / DONE_RECORD) &&
           fs::exists(out() / "b.tap" / DONE_RECORD) &&
           fs::exists(out() / "c.tap" / DONE_RECORD) &&
           fs::exists(out() / "stall.tap");
  };
  while (!under_way() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(under_way()) << text_of(output());
  std::this_thread::sleep_for(200ms); // the stalled child under way
  running.terminate();
  const int status = running.wait();
  // A child the signal missed is let go, so that nothing is left waiting.
  const int writer = ::open(stall.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) {
    ::close(writer);
  }
  ASSERT_EQ(status, 130) << text_of(output());
  EXPECT_FALSE(fs::exists(out() / "stall.tap" / DONE_RECORD));
  EXPECT_EQ(records_in(out() / REPORT_FILE).size(), 3U);

  fs::remove(stall);
  write_bytes(stall, GOOD_AND_NEXT);
  EXPECT_EQ(batch({"-j", "2", "tree", "stall.tap"}), 0) << text_;
  const std::vector<ImageRecord> records = records_in(out() / REPORT_FILE);
  ASSERT_EQ(records.size(), 7U);
  for (std::size_t i = 3; i < 7; ++i) {
    EXPECT_EQ(records[i].skipped, records[i].image != "stall.tap")
        << records[i].image;
  }
  EXPECT_EQ(files_in(out() / "stall.tap").size(), 4U); // 2 files, 2 of ours
}
#endif

} // namespace
} // namespace vetrik::tape
