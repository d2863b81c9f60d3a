// The platform on POSIX systems: file descriptors stand behind handles.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

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

class PosixPlatform final : public Platform {
public:
  Handle create_file(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::READ_EXISTING:
      flags |= O_RDONLY;
      break;
    case OpenMode::CREATE_ALWAYS:
      flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
      break;
    case OpenMode::TRUNCATE_EXISTING:
      flags |= O_WRONLY | O_TRUNC | O_NOFOLLOW;
      break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      return INVALID_HANDLE;
    }
    // A directory opens for reading here, but it is no file to read. (One
    // cannot be opened for writing at all.)
    struct stat st {};
    if (mode == OpenMode::READ_EXISTING &&
        (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
      ::close(fd);
      return INVALID_HANDLE;
    }
    return handle_of(fd);
  }

  bool read_file(Handle handle, void* destination, std::uint32_t count,
                 std::uint32_t* count_read) override {
    *count_read = 0;
    ssize_t n;
    do {
      n = ::read(fd_of(handle), destination, count);
    } while (n < 0 && errno == EINTR);
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
    ssize_t n;
    do {
      n = ::write(fd_of(handle), source, count);
    } while (n < 0 && errno == EINTR);
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
    return ::close(fd_of(handle)) == 0;
  }

  EntryInfo find_entry(const std::string& path) override {
    EntryInfo info;
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
      return info;
    }
    info.found = true;
    info.directory = S_ISDIR(st.st_mode);
    info.link = S_ISLNK(st.st_mode);
    info.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return info;
  }

  char path_separator() const override { return '/'; }

  void console_write(std::string_view text) override {
    if (!held_.has_value()) {
      held_.emplace();
      if (::isatty(STDOUT_FILENO) == 0) {
        held_->reserve(CONSOLE_HOLD_SIZE);
      }
    }
    // A terminal sees every message at once; a pipe or file gets the text
    // in blocks, which spares a system call per extracted file.
    if (held_->capacity() < CONSOLE_HOLD_SIZE) {
      write_out(text);
      return;
    }
    if (held_->size() + text.size() > CONSOLE_HOLD_SIZE) {
      console_flush();
    }
    if (text.size() >= CONSOLE_HOLD_SIZE) {
      write_out(text);
    } else {
      held_->append(text);
    }
  }

  void console_flush() override {
    if (held_.has_value() && !held_->empty()) {
      write_out(*held_);
      held_->clear();
    }
  }

  std::uint8_t* allocate_buffer(std::size_t size) override {
    return static_cast<std::uint8_t*>(std::malloc(size));
  }

  void free_buffer(std::uint8_t* buffer) override { std::free(buffer); }

private:
  static constexpr std::size_t CONSOLE_HOLD_SIZE = 4096;

  static void write_out(std::string_view text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      ssize_t n = ::write(STDOUT_FILENO, p, left);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        return;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }

  // Console text not yet written; unset until the first message, when
  // the kind of standard output is known. No capacity: not held back.
  std::optional<std::string> held_;
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
  // Keep descriptors 0 to 2 taken, so that neither the image nor an output
  // file can become "standard output" and receive the console text.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null_fd = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (null_fd >= 0 && null_fd != fd) {
        ::close(null_fd);
      }
    }
  }
}

} // namespace vetrik
