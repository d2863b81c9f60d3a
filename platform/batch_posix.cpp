// The batch's platform on POSIX systems: children are spawned into the
// batch's own process group, and one pipe wakes the wait for them when a
// child ends or an interrupt comes.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/batch_platform.h"
#include "platform/posix_retry.h"

extern char** environ;

// glibc has had a chdir action for posix_spawn since 2.29; elsewhere the
// child is forked and changes folder itself.
#if defined(__GLIBC__) &&                                                      \
    (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
#define VETRIK_SPAWN_CHDIR 1
#endif

namespace vetrik {

namespace {

std::string reason(int error) {
  return std::strerror(error);
}

// Pieces of a file read handed to the caller at a time.
constexpr std::size_t READ_PIECE_SIZE = 64 * 1024;

// Children that have not been waited for yet. A signal handler reads the
// table, so every slot is a lock-free atomic; 0 is a free slot. A child
// leaves its slot before it is reaped, so that its process id, free again,
// never gets a forwarded SIGTERM.
constexpr std::size_t MAX_CHILDREN = 1024;
std::atomic<pid_t> children[MAX_CHILDREN];

// The pipe that wakes wait_child: a byte is written to it when a child ends
// and when an interrupt comes. Both ends are non-blocking.
int wake_read = -1;
int wake_write = -1;

// Interrupts since the start, and those wait_child has already told of.
volatile std::sig_atomic_t interrupts = 0;
std::sig_atomic_t interrupts_told = 0;

void wake() {
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = ::write(wake_write, &byte, 1);
}

void on_child_end(int) {
  const int saved_errno = errno;
  wake();
  errno = saved_errno;
}

// kill(1) of the batch alone must stop its children too; Ctrl-C at a
// terminal reaches the whole process group by itself.
void on_interrupt(int signal) {
  const int saved_errno = errno;
  interrupts = interrupts + 1;
  if (signal == SIGTERM) {
    for (const std::atomic<pid_t>& slot : children) {
      const pid_t pid = slot.load();
      if (pid > 0) {
        ::kill(pid, SIGTERM);
      }
    }
  }
  wake();
  errno = saved_errno;
}

void handle(int signal, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

// Installs the handlers, once a process. An interrupt the batch was started
// to ignore (a background job of a shell without job control) stays
// ignored. A reader that goes away must not end the batch; the write fails
// instead.
void install_handlers() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  wake_read = ends[0];
  wake_write = ends[1];
  handle(SIGCHLD, on_child_end, SA_RESTART | SA_NOCLDSTOP);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    ::sigaction(signal, nullptr, &before);
    if (before.sa_handler != SIG_IGN) {
      handle(signal, on_interrupt, SA_RESTART);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
}

void drain_wake_pipe() {
  char bytes[64];
  while (::read(wake_read, bytes, sizeof bytes) > 0) {
  }
}

// What a wait status says, as a shell would put it.
int exit_status_of(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Reaps one child that has ended, if any: its slot is freed first.
bool reap_one(ChildEnd& end) {
  for (std::atomic<pid_t>& slot : children) {
    const pid_t pid = slot.load();
    if (pid <= 0) {
      continue;
    }
    siginfo_t info{};
    const int looked = retry([&] {
      return ::waitid(P_PID, static_cast<id_t>(pid), &info,
                      WEXITED | WNOHANG | WNOWAIT);
    });
    if (looked == 0 && info.si_pid == 0) {
      continue; // still running
    }
    slot.store(0);
    int status = 0;
    end.id = pid;
    end.exit_status = retry([&] { return ::waitpid(pid, &status, 0); }) == pid
                          ? exit_status_of(status)
                          : -1;
    return true;
  }
  return false;
}

bool put_in_table(pid_t pid) {
  for (std::atomic<pid_t>& slot : children) {
    pid_t free_slot = 0;
    if (slot.compare_exchange_strong(free_slot, pid)) {
      return true;
    }
  }
  return false;
}

bool children_full() {
  for (const std::atomic<pid_t>& slot : children) {
    if (slot.load() == 0) {
      return false;
    }
  }
  return true;
}

// Writes all of text to fd; false when some of it could not be written.
bool write_all(int fd, std::string_view text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = retry([&] { return ::write(fd, p, left); });
    if (n <= 0) {
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes text to fd and closes it; false with error when either failed. A
// full disk may show only when the file is closed (NFS).
bool write_and_close(int fd, std::string_view text, std::string& error) {
  bool written = write_all(fd, text);
  int failed = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    failed = errno;
  }
  if (!written) {
    error = reason(failed);
  }
  return written;
}

// The last name in path, trailing slashes left out.
std::string last_part(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') {
    --end;
  }
  const std::size_t slash = path.rfind('/', end - 1);
  const std::size_t start =
      slash == std::string::npos || end == 1 ? 0 : slash + 1;
  return path.substr(start, end - start);
}

BatchEntryKind kind_of(const struct stat& st) {
  if (S_ISREG(st.st_mode)) {
    return BatchEntryKind::FILE;
  }
  if (S_ISDIR(st.st_mode)) {
    return BatchEntryKind::FOLDER;
  }
  return S_ISLNK(st.st_mode) ? BatchEntryKind::LINK : BatchEntryKind::OTHER;
}

BatchEntry entry_of(std::string name, const struct stat& st) {
  BatchEntry entry;
  entry.name = std::move(name);
  entry.kind = kind_of(st);
  if (entry.kind == BatchEntryKind::FILE && st.st_size > 0) {
    entry.size = static_cast<std::uint64_t>(st.st_size);
  }
  return entry;
}

bool is_folder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder path is in: "." for a bare name, "/" for a name at the root;
// "" when path is a root itself.
std::string parent_of(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') {
    --end;
  }
  while (end > 0 && path[end - 1] != '/') {
    --end;
  }
  if (end == 0) {
    return path.empty() || path[0] == '/' ? "" : ".";
  }
  while (end > 1 && path[end - 1] == '/') {
    --end;
  }
  return path.substr(0, end);
}

// Moves from to to, which must not exist. renameat2 does it in one step; a
// file system without it gets a new link, and one without links a rename
// after a look, which another process could beat.
bool move_new(const std::string& from, const std::string& to,
              std::string& error) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    error = reason(errno);
    return false;
  }
#endif
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP &&
      errno != EMLINK) {
    error = reason(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) {
    error = reason(EEXIST);
    return false;
  }
  if (::rename(from.c_str(), to.c_str()) != 0) {
    error = reason(errno);
    return false;
  }
  return true;
}

// A name for a file beside path that no other process or call picks.
std::string temporary_name(const std::string& path) {
  static std::atomic<unsigned long> made{0};
  return path + ".tmp-" + std::to_string(::getpid()) + "-" +
         std::to_string(made.fetch_add(1));
}

// Starts program image in folder with the standard streams given. Returns
// the child's process id, or 0 with errno set.
pid_t spawn(const std::string& program, const std::string& image,
            const std::string& folder, int input, int output) {
  std::string program_copy = program;
  std::string image_copy = image;
  char* argv[] = {program_copy.data(), image_copy.data(), nullptr};
  // The child starts with no signal blocked and SIGPIPE back as it was
  // meant to be.
  sigset_t none;
  sigemptyset(&none);
#ifdef VETRIK_SPAWN_CHDIR
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int failed =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    errno = failed;
    return 0;
  }
  return pid;
#else
  // The child tells why it failed through a pipe that closes on exec.
  int report[2];
  if (::pipe(report) != 0) {
    return 0;
  }
  ::fcntl(report[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(report[1], F_SETFD, FD_CLOEXEC);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::dup2(input, STDIN_FILENO) >= 0 &&
        ::dup2(output, STDOUT_FILENO) >= 0 &&
        ::dup2(output, STDERR_FILENO) >= 0 && ::chdir(folder.c_str()) == 0) {
      ::execv(program.c_str(), argv);
    }
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored =
        ::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    return 0;
  }
  int error = 0;
  const ssize_t n =
      retry([&] { return ::read(report[0], &error, sizeof error); });
  ::close(report[0]);
  if (n == sizeof error) {
    retry([&] { return ::waitpid(pid, nullptr, 0); });
    errno = error;
    return 0;
  }
  return pid;
#endif
}

// path from the current folder, "" when that cannot be told.
std::string absolute_path(const std::string& path) {
  if (!path.empty() && path[0] == '/') {
    return path;
  }
  std::vector<char> here(4096);
  while (::getcwd(here.data(), here.size()) == nullptr) {
    if (errno != ERANGE) {
      return "";
    }
    here.resize(here.size() * 2);
  }
  return path.empty() ? std::string(here.data())
                      : std::string(here.data()) + "/" + path;
}

class PosixBatchPlatform final : public BatchPlatform {
public:
  BatchEntry look(const std::string& path, bool follow) override {
    struct stat st {};
    const int looked =
        follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (looked != 0) {
      return {last_part(path), BatchEntryKind::MISSING, 0};
    }
    return entry_of(last_part(path), st);
  }

  bool list_folder(const std::string& folder, std::vector<BatchEntry>& entries,
                   std::string& error) override {
    entries.clear();
    const int fd = retry([&] {
      return ::open(folder.c_str(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    });
    if (fd < 0) {
      error = reason(errno);
      return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      error = reason(errno);
      ::close(fd);
      return false;
    }
    bool read = true;
    for (;;) {
      errno = 0;
      const dirent* found = ::readdir(dir);
      if (found == nullptr) {
        if (errno != 0) {
          error = reason(errno);
          read = false;
        }
        break;
      }
      const std::string name = found->d_name;
      if (name == "." || name == "..") {
        continue;
      }
      // d_type may say nothing, and says nothing of the size.
      struct stat st {};
      if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        entries.push_back(entry_of(name, st));
      } else if (errno != ENOENT) { // a name removed meanwhile is left out
        entries.push_back({name, BatchEntryKind::MISSING, 0});
      }
    }
    ::closedir(dir);
    return read;
  }

  bool identity(const std::string& path, FileIdentity& id) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      return false;
    }
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.node = static_cast<std::uint64_t>(st.st_ino);
    return true;
  }

  // Makes the folder, and its parent first only when that is missing, so
  // that a root or a folder of someone else's is never made.
  bool make_folders(const std::string& folder, std::string& error) override {
    if (folder.empty()) {
      error = reason(ENOENT);
      return false;
    }
    if (::mkdir(folder.c_str(), 0777) == 0) {
      return true;
    }
    if (errno == ENOENT) {
      const std::string parent = parent_of(folder);
      if (parent.empty() || !make_folders(parent, error)) {
        return false;
      }
      if (::mkdir(folder.c_str(), 0777) == 0) {
        return true;
      }
    }
    const int failed = errno;
    // Made by another process meanwhile, or there all along.
    if (is_folder(folder)) {
      return true;
    }
    error = reason(failed == EEXIST ? ENOTDIR : failed);
    return false;
  }

  bool read_file(const std::string& path,
                 const std::function<void(std::span<const char>)>& take,
                 std::string& error) override {
    const int fd = retry(
        [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); });
    if (fd < 0) {
      error = reason(errno);
      return false;
    }
    std::vector<char> piece(READ_PIECE_SIZE);
    for (;;) {
      const ssize_t n =
          retry([&] { return ::read(fd, piece.data(), piece.size()); });
      if (n < 0) {
        error = reason(errno);
        ::close(fd);
        return false;
      }
      if (n == 0) {
        break;
      }
      take(std::span<const char>(piece.data(), static_cast<std::size_t>(n)));
    }
    ::close(fd);
    return true;
  }

  bool write_new_file(const std::string& path, std::string_view contents,
                      std::string& error) override {
    const std::string temporary = temporary_name(path);
    const int fd = retry([&] {
      return ::open(temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    });
    if (fd < 0) {
      error = reason(errno);
      return false;
    }
    if (!write_and_close(fd, contents, error)) {
      ::unlink(temporary.c_str());
      return false;
    }
    if (!move_new(temporary, path, error)) {
      ::unlink(temporary.c_str());
      return false;
    }
    return true;
  }

  // O_APPEND puts each write at the end as it is then, so one write a line
  // keeps the lines of several processes whole.
  bool append(const std::string& path, std::string_view line,
              std::string& error) override {
    const int fd = retry([&] {
      return ::open(path.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    });
    if (fd < 0) {
      error = reason(errno);
      return false;
    }
    return write_and_close(fd, line, error);
  }

  bool rename_new(const std::string& from, const std::string& to,
                  std::string& error) override {
    return move_new(from, to, error);
  }

  bool remove_file(const std::string& path) override {
    return ::unlink(path.c_str()) == 0;
  }

  // flock belongs to the open file, so the lock goes when the descriptor
  // is closed or the process ends, and a second open conflicts even within
  // one process.
  std::int64_t try_lock(const std::string& path) override {
    const int fd = retry([&] {
      return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY,
                    0666);
    });
    if (fd < 0) {
      return 0;
    }
    if (retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
      ::close(fd);
      return 0;
    }
    return static_cast<std::int64_t>(fd) + 1;
  }

  void release_lock(std::int64_t lock) override {
    if (lock > 0) {
      ::close(static_cast<int>(lock - 1));
    }
  }

  std::string absolute(const std::string& path) override {
    return absolute_path(path);
  }

  // The output file is made here, so a relative output path is taken from
  // the batch's folder; so is a relative program path. The image is given
  // as it is. A child that cannot be started leaves no output file.
  ChildId start_child(const std::string& program, const std::string& image,
                      const std::string& folder, const std::string& output,
                      std::string& error) override {
    if (children_full()) {
      error = reason(EAGAIN);
      return 0;
    }
    const int input = retry(
        [] { return ::open("/dev/null", O_RDONLY | O_CLOEXEC | O_NOCTTY); });
    if (input < 0) {
      error = reason(errno);
      return 0;
    }
    const int out = retry([&] {
      return ::open(output.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    });
    if (out < 0) {
      error = reason(errno);
      ::close(input);
      return 0;
    }
    // The table is filled while SIGTERM waits, so that a child started
    // just as it comes is stopped as well.
    sigset_t term;
    sigset_t before;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &term, &before);
    const std::string found = absolute_path(program);
    const pid_t pid =
        spawn(found.empty() ? program : found, image, folder, input, out);
    const int failed = errno;
    const bool listed = pid > 0 && put_in_table(pid);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(input);
    ::close(out);
    if (pid <= 0) {
      error = reason(failed);
      ::unlink(output.c_str());
      return 0;
    }
    if (!listed) {
      ::kill(pid, SIGKILL);
      retry([&] { return ::waitpid(pid, nullptr, 0); });
      error = reason(EAGAIN);
      return 0;
    }
    return pid;
  }

  ChildEnd wait_child(double timeout_seconds) override {
    const double deadline = now() + timeout_seconds;
    for (;;) {
      ChildEnd end;
      if (reap_one(end)) {
        return end;
      }
      const std::sig_atomic_t seen = interrupts;
      if (seen != interrupts_told) {
        interrupts_told = seen;
        return {};
      }
      const double left = deadline - now();
      if (left <= 0) {
        return {};
      }
      pollfd waiting{wake_read, POLLIN, 0};
      // Rounded up, so a wait never ends just short of the deadline;
      // without the pipe, children are looked at every 50 ms.
      int milliseconds = static_cast<int>(left * 1000) + 1;
      if (wake_read < 0) {
        milliseconds = std::min(milliseconds, 50);
      }
      ::poll(&waiting, 1, milliseconds);
      drain_wake_pipe();
    }
  }

  bool interrupted() override { return interrupts != 0; }

  bool error_is_terminal() override { return ::isatty(STDERR_FILENO) == 1; }

  int terminal_width() override {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
      return size.ws_col;
    }
    return 80;
  }

  void write_out(std::string_view text) override {
    write_all(STDOUT_FILENO, text);
  }

  void write_error(std::string_view text) override {
    write_all(STDERR_FILENO, text);
  }

  double now() override {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) +
           static_cast<double>(now.tv_nsec) / 1e9;
  }

  // The processors this process may run on, which a container or taskset
  // may make fewer than the machine has.
  int processors() override {
#ifdef __linux__
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 &&
        CPU_COUNT(&allowed) > 0) {
      return CPU_COUNT(&allowed);
    }
#endif
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0) {
      return static_cast<int>(online);
    }
    const unsigned counted = std::thread::hardware_concurrency();
    return counted > 0 ? static_cast<int>(counted) : 1;
  }

  std::string own_program() override {
    std::vector<char> path(256);
    for (;;) {
      const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
      if (n < 0) {
        return "";
      }
      if (static_cast<std::size_t>(n) < path.size()) {
        return std::string(path.data(), static_cast<std::size_t>(n));
      }
      path.resize(path.size() * 2);
    }
  }

  std::string_view line_end() override {
    return "\n";
  }
};

} // namespace

// Every platform made shares the one table of children and the handlers.
std::unique_ptr<BatchPlatform> make_system_batch_platform() {
  static std::once_flag installed;
  std::call_once(installed, install_handlers);
  return std::make_unique<PosixBatchPlatform>();
}

std::vector<std::string> batch_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + std::max(argc, 0));
}

std::string program_beside(BatchPlatform& platform, std::string_view name) {
  const std::string own = platform.own_program();
  const std::size_t slash = own.find_last_of('/');
  if (slash == std::string::npos) {
    return std::string(name);
  }
  return own.substr(0, slash + 1) + std::string(name);
}

} // namespace vetrik
