// End-to-end runs that only a POSIX system can set up: permissions, FIFOs,
// device nodes, hard links, other owners, signals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tests/run_tool.h"

namespace vetrik::tape {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A run that hangs ends after this long, and fails its test.
constexpr unsigned TIME_LIMIT = 20;

TEST(EndToEndPosix, AnImageWithoutReadPermissionIsReportedWithExit1AndNoDone) {
  TempDir dir;
  // An unprivileged run may look into the directory, not write to it.
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  const fs::path image = dir.path() / "tape.tap";
  write_bytes(image, {});
  fs::permissions(image, fs::perms::owner_write);
  Result r =
      run_tool(dir.path(), {"vetrik", "tape.tap"}, {.unprivileged = true});
  if (r.status == UNPRIVILEGED_FAILED) {
    GTEST_SKIP() << "root, and cannot run as an ordinary user";
  }
  EXPECT_EQ(r.out, "cannot read tape.tap");
  EXPECT_EQ(r.status, 1);
  // Readable, the same image is unpacked: the refusal was the permission's.
  fs::permissions(image, fs::perms::owner_read | fs::perms::others_read);
  r = run_tool(dir.path(), {"vetrik", "tape.tap"}, {.unprivileged = true});
  EXPECT_EQ(r.out, "done!");
  EXPECT_EQ(r.status, 0);
}

TEST(EndToEndPosix, AReadErrorInTheImageIsReportedBeforeDone) {
  TempDir dir;
  // Its first read fails: nothing is mapped at address 0.
  const Result r = run_tool(dir.path(), {"vetrik", "/proc/self/mem"},
                            {.time_limit = TIME_LIMIT});
  EXPECT_EQ(r.out, "cannot read /proc/self/memdone!");
  EXPECT_EQ(r.status, 1);
}

class Folder : public ::testing::Test {
protected:
  fs::path at(const std::string& name) const { return dir_.path() / name; }

  // Feeds bytes into the FIFO at path from another thread, piece bytes at a
  // time with a pause after each; when halfway, calls halfway.
  void feed(const fs::path& path, const Bytes& bytes, std::size_t piece,
            std::function<void()> halfway = {}) {
    // A tool that has gone makes the write fail, and must not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    feeder_ = std::thread([=, this]() mutable {
      // Waits for the tool to open the FIFO, but not for ever.
      int fd = -1;
      for (int i = 0; i < 1000 * int{TIME_LIMIT} && fd < 0; ++i) {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
          std::this_thread::sleep_for(1ms);
        }
      }
      if (fd < 0) {
        return;
      }
      ::fcntl(fd, F_SETFL, 0);
      for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (halfway && at >= bytes.size() / 2) {
          halfway();
          halfway = {};
        }
        const std::size_t n = std::min(piece, bytes.size() - at);
        if (::write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) {
          break;
        }
        std::this_thread::sleep_for(1ms);
      }
      ::close(fd);
    });
  }

  void TearDown() override {
    if (feeder_.joinable()) {
      feeder_.join();
    }
  }

  // Names of the regular files in the directory.
  std::set<std::string> file_names() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(dir_.path())) {
      if (entry.is_regular_file() && !entry.is_symlink()) {
        names.insert(entry.path().filename().string());
      }
    }
    return names;
  }

  TempDir dir_;
  std::thread feeder_;
  const Bytes& good_ = GOOD_PAYLOAD;
  const Bytes& next_ = NEXT_PAYLOAD;
  const Bytes& two_ = GOOD_AND_NEXT;
};

// Names extracted from an image of count files called f0, f1 ...
std::string names_extracted(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    const std::string name = "f" + std::to_string(i);
    out += "Extracting " + name + std::string(10 - name.size(), ' ') + ".B\r\n";
  }
  return out;
}

Bytes files_called_f(int count, std::size_t size) {
  Bytes image;
  for (int i = 0; i < count; ++i) {
    append(image, tape_file("f" + std::to_string(i),
                            pattern(size, static_cast<std::uint32_t>(i))));
  }
  return image;
}

TEST_F(Folder, AnImageArrivingThroughAFifoInPiecesIsReadToItsEnd) {
  ASSERT_EQ(::mkfifo(at("pipe.tap").c_str(), 0600), 0);
  feed(at("pipe.tap"), files_called_f(8, 5000), 1500);
  const Result r =
      run_tool(dir_.path(), {"vetrik", "pipe.tap"}, {.time_limit = TIME_LIMIT});
  EXPECT_EQ(r.out, names_extracted(8) + "done!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_bytes(at("f7        .B")), pattern(5000, 7));
}

TEST_F(Folder, TheReportKeepsUpWithAnImageThatStalls) {
  ASSERT_EQ(::mkfifo(at("pipe.tap").c_str(), 0600), 0);
  std::mutex lock;
  std::string so_far;
  std::size_t on_disk = 0;
  std::size_t reported = 0;
  feed(at("pipe.tap"), files_called_f(8, 5000), 1500, [&] {
    // The image stalls halfway: the files made so far are soon reported.
    std::this_thread::sleep_for(300ms);
    on_disk = file_names().size();
    for (int i = 0; i < 300 && reported < on_disk; ++i) {
      std::this_thread::sleep_for(10ms);
      const std::lock_guard<std::mutex> guard(lock);
      reported = 0;
      for (std::size_t at = 0;
           (at = so_far.find("Extracting", at)) != std::string::npos; ++at) {
        ++reported;
      }
    }
  });
  const Result r = run_tool(
      dir_.path(), {"vetrik", "pipe.tap"},
      {.time_limit = TIME_LIMIT, .output = [&](std::string_view piece) {
         const std::lock_guard<std::mutex> guard(lock);
         so_far += piece;
       }});
  EXPECT_EQ(r.out, names_extracted(8) + "done!");
  EXPECT_GE(on_disk, 2U);
  EXPECT_EQ(reported, on_disk) << "reported while the image stalled";
}

// Something to open at path that is no regular file: a device node where the
// system lets one be made, else a socket.
std::string make_special(const fs::path& path) {
  if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
    return "null device";
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const bool bound =
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound ? "socket" : "";
}

TEST_F(Folder, OnlyRegularFilesAreEverWritten) {
  ASSERT_EQ(::mkfifo(at("good      .B").c_str(), 0666), 0);
  const std::string special = make_special(at("next      .B"));
  ASSERT_FALSE(special.empty());
  write_bytes(at("tape.tap"), two_);
  const Result r =
      run_tool(dir_.path(), {"vetrik", "tape.tap"}, {.time_limit = TIME_LIMIT});
  EXPECT_EQ(r.out, "Extracting good      (1).B\r\n"
                   "Extracting next      (1).B\r\ndone!")
      << special;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_bytes(at("good      (1).B")), good_);
  EXPECT_EQ(read_bytes(at("next      (1).B")), next_);
  EXPECT_TRUE(fs::is_fifo(at("good      .B")));
}

TEST_F(Folder, AnEmptyFileIsReusedOnlyWhenPlainlyALeftover) {
  // An empty hard link to a file outside: the payload must not land there.
  TempDir outside;
  write_bytes(outside.path() / "target", {});
  fs::create_hard_link(outside.path() / "target", at("good      .B"));
  // An empty file of another user's, from long ago.
  write_bytes(at("next      .B"), {});
  fs::last_write_time(at("next      .B"),
                      fs::last_write_time(at("next      .B")) - 1h);
  const bool foreign = ::chown(at("next      .B").c_str(), 65534, 65534) == 0;
  write_bytes(at("tape.tap"), two_);
  const Result r = run_tool(dir_.path(), {"vetrik", "tape.tap"});
  EXPECT_EQ(r.out, std::string("Extracting good      (1).B\r\n") +
                       (foreign ? "Extracting next      (1).B\r\n"
                                : "Extracting next      .B\r\n") +
                       "done!");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(read_bytes(outside.path() / "target").empty());
  EXPECT_EQ(read_bytes(at("good      (1).B")), good_);
  if (!foreign) {
    GTEST_SKIP() << "not root: no file of another user could be made";
  }
  EXPECT_TRUE(read_bytes(at("next      .B")).empty());
}

// Killed while it waits for more of the image, the run still reports every
// file it made, and ends by the signal.
TEST_F(Folder, ATerminatedRunReportsExactlyTheFilesOnDisk) {
  ASSERT_EQ(::mkfifo(at("pipe.tap").c_str(), 0600), 0);
  std::promise<long> started;
  std::shared_future<long> process = started.get_future().share();
  feed(at("pipe.tap"), files_called_f(60, 300), 1000, [&] {
    // Wait until the first half is on disk, then stop the run.
    for (int i = 0; i < 2000 && file_names().size() < 20; ++i) {
      std::this_thread::sleep_for(5ms);
    }
    ::kill(static_cast<pid_t>(process.get()), SIGTERM);
  });
  const Result r =
      run_tool(dir_.path(), {"vetrik", "pipe.tap"},
               {.time_limit = TIME_LIMIT,
                .started = [&](long pid) { started.set_value(pid); }});
  EXPECT_EQ(r.status, 128 + SIGTERM);
  std::set<std::string> on_disk = file_names();
  std::string expected;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "f" + std::to_string(i);
    const std::string file = name + std::string(10 - name.size(), ' ') + ".B";
    if (on_disk.erase(file) != 0) {
      expected += "Extracting " + file + "\r\n";
    }
  }
  EXPECT_TRUE(on_disk.empty());
  EXPECT_GE(expected.size(), 20U * 25U);
  EXPECT_EQ(r.out, expected);
}

} // namespace
} // namespace vetrik::tape
