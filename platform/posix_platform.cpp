// The platform on POSIX systems: file descriptors stand behind handles.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/leftover.h"
#include "platform/platform.h"
#include "platform/posix_retry.h"

namespace vetrik {

namespace {

// Handle 0 means "no file" to the callers, while descriptor 0 is a real one,
// so every handle is its descriptor plus one.
Handle handle_of(int fd) {
  return static_cast<Handle>(fd) + 1;
}
int fd_of(Handle handle) {
  return static_cast<int>(handle - 1);
}

Opened opened(int fd) {
  return {OpenOutcome::OPENED, handle_of(fd)};
}

// Closes fd, which holds nothing worth keeping, and gives outcome.
Opened given_up(int fd, OpenOutcome outcome) {
  ::close(fd);
  return {outcome, INVALID_HANDLE};
}

// Takes the lock that tells other runs a file is being written. Nothing
// but a stray process can hold the lock of a file just made (no run takes
// so new a file for a leftover), so a few tries suffice; a file system
// without locks lets it pass. Returns false when the lock stayed out of
// reach.
bool lock_new_file(int fd) {
  constexpr int TRIES = 100;
  for (int i = 0; i < TRIES; ++i) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 ||
        (errno != EWOULDBLOCK && errno != EINTR)) {
      return true;
    }
    const timespec pause{0, 1000000};
    ::nanosleep(&pause, nullptr);
  }
  return false;
}

// When this run began, by the clock that stamps files.
const timespec& run_start() {
  static const timespec start = [] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
  }();
  return start;
}

// Ticks from a change at changed to the start of the run. Both times count
// whole seconds, so a file counts as changed lately for two to three
// seconds; a stamp however far off saturates rather than overflows.
std::int64_t age_of(time_t changed) {
  constexpr std::int64_t LIMIT = INT64_MAX / TICKS_PER_SECOND;
  const std::int64_t start = run_start().tv_sec;
  const std::int64_t stamp = changed;
  if (stamp < start - LIMIT) {
    return LIMIT * TICKS_PER_SECOND;
  }
  if (stamp > start + LIMIT) {
    return -LIMIT * TICKS_PER_SECOND;
  }
  return (start - stamp) * TICKS_PER_SECOND;
}

// The entry st describes.
EntryInfo described(const struct stat& st) {
  EntryInfo info;
  info.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  if (S_ISDIR(st.st_mode)) {
    info.kind = EntryKind::DIRECTORY;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = EntryKind::LINK;
  } else if (!S_ISREG(st.st_mode)) {
    info.kind = EntryKind::OTHER;
  } else {
    info.kind = EntryKind::FILE;
    info.links =
        static_cast<std::uint32_t>(std::min<nlink_t>(st.st_nlink, UINT32_MAX));
    info.owned_by_user = st.st_uid == ::geteuid();
    info.set_user_id = (st.st_mode & S_ISUID) != 0;
    info.set_group_id = (st.st_mode & S_ISGID) != 0;
    info.age = age_of(st.st_mtim.tv_sec);
  }
  return info;
}

// Whether an open failed for want of something the system lacks, rather
// than because of what is at the path.
bool system_trouble(int error) {
  return error == EROFS || error == EMFILE || error == ENFILE ||
         error == ENOMEM || error == EIO;
}

// The image when it is no regular file (a pipe, a FIFO, a terminal): a read
// from it may wait for bytes that come late, or never. -1 when none.
int waiting_fd = -1;

Opened open_image(const std::string& path) {
  const int fd =
      retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) {
    return {};
  }
  // A directory opens for reading here, but it is no file to read.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    return given_up(fd, OpenOutcome::FAILED);
  }
  if (!S_ISREG(st.st_mode)) {
    waiting_fd = fd;
  }
  return opened(fd);
}

// Exclusive creation never opens what is there, whatever it is: a FIFO, a
// device or a link stays untouched, and so does a name made by another run
// since the search looked.
Opened create_new_file(const std::string& path) {
  const int fd = retry([&] {
    return ::open(path.c_str(),
                  O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                  0666);
  });
  if (fd < 0) {
    return {errno == EEXIST ? OpenOutcome::TAKEN : OpenOutcome::FAILED,
            INVALID_HANDLE};
  }
  if (!lock_new_file(fd)) {
    return given_up(fd, OpenOutcome::FAILED);
  }
  return opened(fd);
}

// Opens without blocking (a FIFO would wait for a reader) and without
// emptying. The file must be a leftover before the lock is tried, so that
// a file another run has just made is never held up, and again once it is
// locked, so that nothing written meanwhile is lost; the lock keeps every
// other run out.
Opened reuse_empty_file(const std::string& path) {
  const int fd = retry([&] {
    return ::open(path.c_str(),
                  O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  });
  if (fd < 0) {
    return {system_trouble(errno) ? OpenOutcome::FAILED : OpenOutcome::TAKEN,
            INVALID_HANDLE};
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !may_take_over(described(st)) ||
      retry([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0 ||
      ::fstat(fd, &st) != 0 || !may_take_over(described(st))) {
    return given_up(fd, OpenOutcome::TAKEN);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return opened(fd);
}

// Console text held back while standard output is no terminal. A signal
// handler writes it out, so it lives in static storage and changes only
// while interrupts are deferred.
constexpr std::size_t CONSOLE_HOLD_SIZE = 4096;
char held_text[CONSOLE_HOLD_SIZE];
volatile std::sig_atomic_t held_length = 0;
volatile std::sig_atomic_t defer_depth = 0;
volatile std::sig_atomic_t deferred_signal = 0;
volatile std::sig_atomic_t ending = 0; // the held text is on its way out

// Held text goes out at the latest this long after it was printed, so that
// someone watching the report sees the run as it goes.
constexpr std::int64_t HOLD_NANOSECONDS = 100'000'000;
std::int64_t held_since = 0; // when the oldest held text was printed

std::int64_t monotonic_now() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Writes all of text to standard output. Returns false when some of it could
// not be written. Safe in a signal handler.
bool write_out(const char* p, std::size_t left) {
  while (left > 0) {
    const ssize_t n = retry([&] { return ::write(STDOUT_FILENO, p, left); });
    if (n <= 0) {
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool flush_held() {
  const bool written =
      write_out(held_text, static_cast<std::size_t>(held_length));
  held_length = 0;
  return written;
}

// Ends the process by signal as it would have ended without a handler.
void die_by(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Ends the process by signal once the held text is out. A second request
// meanwhile (a reader that has stalled) ends it at once. Safe in a signal
// handler.
void end_by(int signal) {
  if (ending == 0) {
    ending = 1;
    flush_held();
  }
  die_by(signal);
}

void on_stop_request(int signal) {
  const int saved_errno = errno;
  if (defer_depth == 0) {
    end_by(signal);
  } else if (deferred_signal == 0) {
    deferred_signal = signal;
  } else {
    // Asked twice in a moment: the held text may be half made.
    die_by(signal);
  }
  errno = saved_errno;
}

class PosixPlatform final : public Platform {
public:
  bool read_file(Handle handle, void* destination, std::uint32_t count,
                 std::uint32_t* count_read) override {
    // The report must not wait for bytes that may come late.
    hand_over_held(fd_of(handle) == waiting_fd);
    *count_read = 0;
    const ssize_t n =
        retry([&] { return ::read(fd_of(handle), destination, count); });
    if (n < 0) {
      return false;
    }
    *count_read = static_cast<std::uint32_t>(n);
    return true;
  }

  bool write_file(Handle handle, const void* source, std::uint32_t count,
                  std::uint32_t* count_written) override {
    *count_written = 0;
    // Writing nothing changes nothing; spare the system call.
    if (count == 0) {
      return true;
    }
    hand_over_held(false);
    const ssize_t n =
        retry([&] { return ::write(fd_of(handle), source, count); });
    if (n < 0) {
      return false;
    }
    *count_written = static_cast<std::uint32_t>(n);
    return true;
  }

  void set_file_pointer(Handle handle, std::int32_t distance) override {
    if (distance != 0) {
      ::lseek(fd_of(handle), distance, SEEK_CUR);
    }
  }

  bool close_handle(Handle handle) override {
    // After an interrupted close the descriptor is gone all the same on
    // Linux, so it is never retried; the data may not have been written.
    // Closing also gives up the file's lock.
    if (fd_of(handle) == waiting_fd) {
      waiting_fd = -1;
    }
    return ::close(fd_of(handle)) == 0;
  }

  EntryInfo find_entry(std::string_view path) override {
    const std::string name(without_final_separators(path, '/'));
    struct stat st {};
    if (name.empty() || ::lstat(name.c_str(), &st) != 0) {
      return {};
    }
    return described(st);
  }

  bool console_write(std::string_view text) override {
    defer_interrupts();
    if (!holding_.has_value()) {
      holding_ = ::isatty(STDOUT_FILENO) == 0;
    }
    bool written = true;
    // A terminal sees every message at once; a pipe or file gets the text
    // in blocks, which spares a system call per extracted file.
    if (!*holding_) {
      written = write_out(text.data(), text.size());
    } else {
      if (static_cast<std::size_t>(held_length) + text.size() >
          CONSOLE_HOLD_SIZE) {
        written = flush_held();
      }
      if (text.size() >= CONSOLE_HOLD_SIZE) {
        written = write_out(text.data(), text.size()) && written;
      } else if (!text.empty()) {
        if (held_length == 0) {
          held_since = monotonic_now();
        }
        std::memcpy(held_text + held_length, text.data(), text.size());
        held_length = static_cast<std::sig_atomic_t>(
            static_cast<std::size_t>(held_length) + text.size());
      }
    }
    allow_interrupts();
    lost_ = lost_ || !written;
    return !lost_;
  }

  bool console_flush() override {
    defer_interrupts();
    lost_ = !flush_held() || lost_;
    allow_interrupts();
    return !lost_;
  }

  void defer_interrupts() override {
    defer_depth = defer_depth + 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }

  void allow_interrupts() override {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    defer_depth = defer_depth - 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (defer_depth == 0 && deferred_signal != 0) {
      end_by(deferred_signal);
    }
  }

  std::uint8_t* allocate_buffer(std::size_t size) override {
    return static_cast<std::uint8_t*>(std::malloc(size));
  }

  void free_buffer(std::uint8_t* buffer) override { std::free(buffer); }

protected:
  Opened open_existing(const std::string& path) override {
    return open_image(path);
  }
  Opened create_new(const std::string& path) override {
    return create_new_file(path);
  }
  Opened reuse_empty(const std::string& path) override {
    return reuse_empty_file(path);
  }

private:
  // Writes out the held text now when at_once, else once it has been held
  // for HOLD_NANOSECONDS. A failure is told by the console calls after it.
  void hand_over_held(bool at_once) {
    if (held_length == 0 ||
        (!at_once && monotonic_now() - held_since < HOLD_NANOSECONDS)) {
      return;
    }
    defer_interrupts();
    lost_ = !flush_held() || lost_;
    allow_interrupts();
  }

  // Unset until the first message, when the kind of standard output is
  // known.
  std::optional<bool> holding_;
  bool lost_ = false; // some console text could not be written
};

} // namespace

Platform& system_platform() {
  static PosixPlatform instance;
  return instance;
}

std::optional<std::string> system_command_line() {
  return std::nullopt; // main's arguments come split already
}

void prepare_process() {
  // A reader that goes away must not kill the run, nor a limit on file
  // sizes: the write that fails is reported like any other.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Files changed from now on are this run's, or another's.
  run_start();
  // Requests to stop write out the report first. One the process was told
  // to ignore (started in the background, or under nohup) stays ignored.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) == 0 &&
        action.sa_handler == SIG_IGN) {
      continue;
    }
    action = {};
    action.sa_handler = on_stop_request;
    // A second request must get through while the first writes the report.
    action.sa_flags = SA_RESTART | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
  // Keep descriptors 0 to 2 taken, so that neither the image nor an output
  // file can become "standard output" and receive the console text. The
  // stand-in is open for reading only: writing to a stream that was closed
  // still fails, and the run can tell that its report was lost.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null_fd = ::open("/dev/null", O_RDONLY);
      if (null_fd >= 0 && null_fd != fd) {
        ::close(null_fd);
      }
    }
  }
}

} // namespace vetrik
