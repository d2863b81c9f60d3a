// Starts the built tool as a real process in a directory and collects what a
// user sees: the bytes it wrote to standard output and its exit status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tests/tape_builder.h"

namespace vetrik::tape {

// Where the tool's standard output goes: a pipe the test reads, a pipe with
// no reader, nowhere (closed at start), or an output that refuses every
// write (a full disk).
enum class Stdout { CAPTURED, BROKEN_PIPE, CLOSED, REFUSING };

struct Launch {
  Stdout out = Stdout::CAPTURED;     // CLOSED closes standard input as well
  std::uint64_t file_size_limit = 0; // bytes a file may grow to; 0: no limit
  // POSIX: when started as root, run as the user nobody, so that file
  // permissions count; the status is UNPRIVILEGED_FAILED when that fails.
  bool unprivileged = false;
  // POSIX: seconds after which a run that still goes on is ended by SIGALRM
  // (status 128 + 14), so that a run that hangs fails its test; 0: none.
  unsigned time_limit = 0;
  // Called with the process id as soon as the tool runs.
  std::function<void(long)> started = nullptr;
  // POSIX: called from the reading thread with each piece of standard output
  // as it arrives, while the tool runs.
  std::function<void(std::string_view)> output = nullptr;
};

inline constexpr int UNPRIVILEGED_FAILED = 125;

struct Result {
  std::string out;
  int status = -1; // the exit status, or 128 + the signal that ended the run
};

// Whether Launch::file_size_limit can be honoured on this system.
extern const bool CAN_LIMIT_FILE_SIZE;

// Runs the tool in dir with args as its parameters, the program name first
// (no name at all when args is empty). On Windows they are joined into one
// command line, each one quoted when it holds a space or is empty.
Result run_tool(const std::filesystem::path& dir,
                const std::vector<std::string>& args,
                const Launch& launch = {});

// Windows only: runs the tool in dir with exactly text (UTF-8) as its command
// line.
Result run_command_line(const std::filesystem::path& dir,
                        const std::string& text);

// A fresh, empty directory of its own. Throws std::runtime_error on failure.
std::filesystem::path make_temp_dir();

// A directory made by make_temp_dir, removed with everything in it.
class TempDir {
public:
  TempDir() : path_(make_temp_dir()) {}
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

// Two stored files, "good" and "next", for runs that need a small tape.
inline const Bytes GOOD_PAYLOAD = pattern(40, 1);
inline const Bytes NEXT_PAYLOAD = pattern(30, 2);
inline const Bytes GOOD_AND_NEXT =
    joined({tape_file("good", GOOD_PAYLOAD), tape_file("next", NEXT_PAYLOAD)});

// The bytes of a file; empty when it cannot be read.
inline Bytes read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Creates or replaces a file holding bytes.
inline void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

} // namespace vetrik::tape
