// The POSIX platform itself: which entries a run may create or reuse (and
// that the in-memory file system and the one rule agree), and how a request
// to stop keeps the report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/leftover.h"
#include "platform/memory_file_system.h"
#include "platform/platform.h"
#include "tests/run_tool.h"

namespace vetrik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// An empty file changed an hour ago: a leftover, by its age.
void make_old_empty(const fs::path& path) {
  tape::write_bytes(path, {});
  fs::last_write_time(path, fs::last_write_time(path) - 1h);
}

std::string outcome_text(Platform& platform, const Opened& opened) {
  if (opened.outcome == OpenOutcome::OPENED) {
    platform.close_handle(opened.handle);
    return "opened";
  }
  return opened.outcome == OpenOutcome::TAKEN ? "taken" : "failed";
}

std::string outcome_text(const Opened& opened) {
  return outcome_text(system_platform(), opened);
}

// What can stand at a name, made on disk and in the in-memory file system;
// whether the one rule takes it for a leftover, and what REUSE_EMPTY gives.
struct ReuseCase {
  std::string name;
  // Makes the entry at path; false when it cannot be made here.
  std::function<bool(const std::string& path)> on_disk;
  std::function<void(MemoryFileSystem& memory, const std::string& name)>
      in_memory;
  bool leftover;
  std::string reused;
};

TEST(PosixCreate, OnlyAFreeNameOrAnOldEmptyFileOfOnesOwnIsOpened) {
  tape::TempDir dir;
  const auto at = [&](const std::string& name) {
    return (dir.path() / name).string();
  };
  const auto old_empty = [](const std::string& path) {
    make_old_empty(path);
    return true;
  };
  const auto with_mode = [](fs::perms bit) {
    return [bit](const std::string& path) {
      make_old_empty(path);
      fs::permissions(path, bit, fs::perm_options::add);
      return true;
    };
  };
  const auto in_memory = [](const std::function<void(FileAttributes&)>& set) {
    return [set](MemoryFileSystem& memory, const std::string& name) {
      memory.add_leftover(name);
      set(memory.attributes[name]);
    };
  };
  int holder = -1;
  const std::vector<ReuseCase> cases = {
      {"leftover", old_empty,
       [](MemoryFileSystem& m, const std::string& n) { m.add_leftover(n); },
       true, "opened"},
      // Another run may have just made it.
      {"fresh",
       [](const std::string& path) {
         tape::write_bytes(path, {});
         return true;
       },
       [](MemoryFileSystem& m, const std::string& n) { m.files[n] = {}; },
       false, "taken"},
      {"data",
       [](const std::string& path) {
         make_old_empty(path);
         tape::write_bytes(path, {1});
         return true;
       },
       [](MemoryFileSystem& m, const std::string& n) { m.files[n] = {1}; },
       false, "taken"},
      {"linked",
       [&](const std::string& path) {
         make_old_empty(at("outside"));
         fs::create_hard_link(at("outside"), path);
         return true;
       },
       in_memory([](FileAttributes& a) { a.links = 2; }), false, "taken"},
      {"symlink",
       [&](const std::string& path) {
         fs::create_symlink(at("leftover"), path);
         return true;
       },
       [](MemoryFileSystem& m, const std::string& n) { m.links[n] = 0; }, false,
       "taken"},
      {"fifo",
       [](const std::string& path) {
         return ::mkfifo(path.c_str(), 0666) == 0;
       },
       [](MemoryFileSystem& m, const std::string& n) { m.specials.insert(n); },
       false, "taken"},
      {"directory",
       [](const std::string& path) { return fs::create_directory(path); },
       [](MemoryFileSystem& m, const std::string& n) {
         m.directories.insert(n);
       },
       false, "taken"},
      // A leftover by all it shows, but another run writes it.
      {"held",
       [&](const std::string& path) {
         make_old_empty(path);
         holder = ::open(path.c_str(), O_RDONLY);
         return ::flock(holder, LOCK_EX) == 0;
       },
       [](MemoryFileSystem& m, const std::string& n) {
         m.add_leftover(n);
         m.held_files.insert(n);
       },
       true, "taken"},
      {"missing", [](const std::string&) { return true; },
       [](MemoryFileSystem&, const std::string&) {}, false, "taken"},
      // Not root: no file of another user's can be made.
      {"other",
       [](const std::string& path) {
         make_old_empty(path);
         return ::chown(path.c_str(), 65534, 65534) == 0;
       },
       in_memory([](FileAttributes& a) { a.owned_by_user = false; }), false,
       "taken"},
      {"setuid", with_mode(fs::perms::set_uid),
       in_memory([](FileAttributes& a) { a.set_user_id = true; }), false,
       "taken"},
      {"setgid", with_mode(fs::perms::set_gid),
       in_memory([](FileAttributes& a) { a.set_group_id = true; }), false,
       "taken"},
  };
  for (const ReuseCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFileSystem memory;
    c.in_memory(memory, c.name);
    EXPECT_EQ(may_take_over(memory.find_entry(c.name)), c.leftover);
    EXPECT_EQ(
        outcome_text(memory, memory.create_file(c.name, OpenMode::REUSE_EMPTY)),
        c.reused);
    if (!c.on_disk(at(c.name))) {
      continue;
    }
    EXPECT_EQ(may_take_over(system_platform().find_entry(at(c.name))),
              c.leftover);
    EXPECT_EQ(outcome_text(system_platform().create_file(
                  at(c.name), OpenMode::REUSE_EMPTY)),
              c.reused);
  }
  ::close(holder);
  for (const char* name : {"symlink", "fifo", "data", "missing"}) {
    EXPECT_EQ(outcome_text(system_platform().create_file(at(name),
                                                         OpenMode::CREATE_NEW)),
              std::string(name) == "missing" ? "opened" : "taken")
        << name;
  }
  EXPECT_EQ(outcome_text(system_platform().create_file(at("no/such/dir"),
                                                       OpenMode::CREATE_NEW)),
            "failed");
  EXPECT_TRUE(fs::is_fifo(at("fifo")));
  EXPECT_EQ(fs::file_size(at("outside")), 0U);
}

// Waits up to two seconds for the child pid to end, and kills it when it
// does not. Returns the signal that ended it, 0 when it exited, -1 when it
// had to be killed.
int wait_for_end(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

// Runs body in a child process readied as for a run, its standard output a
// pipe that is read only once the child has ended; poke runs in the parent
// first, with the child's id. Returns what the child printed and the signal
// that ended it (0 when it exited, -1 when it hung).
std::pair<std::string, int>
in_child(const std::function<void()>& body,
         const std::function<void(pid_t)>& poke = {}) {
  int fds[2];
  if (::pipe(fds) != 0) {
    return {"", -1};
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    prepare_process();
    body();
    ::_exit(0);
  }
  ::close(fds[1]);
  if (poke) {
    poke(pid);
  }
  const int signal = wait_for_end(pid);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  return {out, signal};
}

TEST(PosixStopRequest, WaitsWhileDeferredThenWritesTheHeldTextAndEndsTheRun) {
  const auto [out, signal] = in_child([] {
    Platform& p = system_platform();
    p.console_write("made ");
    p.defer_interrupts();
    ::raise(SIGTERM);
    p.console_write("and reported");
    p.allow_interrupts();
    p.console_write(" never");
  });
  EXPECT_EQ(out, "made and reported");
  EXPECT_EQ(signal, SIGTERM);
}

// Text held back for a pipe goes out once it has waited a tenth of a second,
// at the next file call, even when nothing more is printed.
TEST(PosixConsole, HeldTextGoesOutAfterATenthOfASecond) {
  tape::TempDir dir;
  const std::string image = (dir.path() / "image").string();
  tape::write_bytes(image, {1, 2, 3});
  const auto [out, signal] = in_child([&] {
    Platform& p = system_platform();
    const Opened file = p.create_file(image, OpenMode::READ_EXISTING);
    p.console_write("early");
    ::usleep(150000);
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    p.read_file(file.handle, &byte, 1, &got);
    p.console_write(" late");
    ::_exit(0); // what is still held is never written
  });
  EXPECT_EQ(out, "early");
  EXPECT_EQ(signal, 0);
}

// A reader that stops reading must not make the run unstoppable: the first
// request is stuck writing the report, the second ends the run.
TEST(PosixStopRequest, ASecondRequestEndsARunStuckOnItsReport) {
  const auto [out, signal] = in_child(
      [] {
        // Fill the pipe, so that the report cannot go out.
        ::fcntl(STDOUT_FILENO, F_SETFL, O_NONBLOCK);
        const std::string block(4096, 'x');
        while (::write(STDOUT_FILENO, block.data(), block.size()) > 0) {
        }
        ::fcntl(STDOUT_FILENO, F_SETFL, 0);
        system_platform().console_write("held");
        ::raise(SIGINT);
        ::pause();
      },
      [](pid_t pid) {
        ::usleep(200000);
        ::kill(pid, SIGTERM);
      });
  EXPECT_EQ(signal, SIGTERM);
  EXPECT_FALSE(out.ends_with("held"));
}

} // namespace
} // namespace vetrik
