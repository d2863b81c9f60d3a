// The door vetrik-batch goes through to the operating system: folder walks,
// the batch's own files, child processes, the terminal and interrupts. One
// implementation a system (batch_posix.cpp, batch_win32.cpp, picked by the
// build) and an in-memory fake for tests (fake_batch_platform.h).
// Paths are bytes on POSIX and UTF-8 on Windows, '/' or the system's own
// separator between their parts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vetrik {

enum class BatchEntryKind {
  MISSING, // nothing there
  FILE,    // a regular file
  FOLDER,  // a directory
  LINK,    // a symbolic link (any reparse point on Windows): never followed
  OTHER    // a device, FIFO, socket
};

struct BatchEntry {
  std::string name; // the last part of the path alone
  BatchEntryKind kind = BatchEntryKind::MISSING;
  std::uint64_t size = 0; // of a FILE
};

// What identifies a folder or file whatever path leads to it (device and
// inode, or volume serial and file index).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t node = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A child process started by start_child. 0 names none.
using ChildId = std::int64_t;

struct ChildEnd {
  ChildId id = 0;
  // The exit status (0 to 255), or 128 + the signal that ended it (POSIX);
  // -1 when waiting failed.
  int exit_status = -1;
};

class BatchPlatform {
public:
  virtual ~BatchPlatform() = default;

  // What path is. With follow, a link is followed to what it names (for
  // the paths given on the command line); without, a link is LINK.
  virtual BatchEntry look(const std::string& path, bool follow) = 0;

  // The entries of folder (without "." and ".."), each as look(entry,
  // false) would give it, in no particular order. Returns false and sets
  // error (the system's reason) when the folder cannot be read.
  virtual bool list_folder(const std::string& folder,
                           std::vector<BatchEntry>& entries,
                           std::string& error) = 0;

  // The identity of what path names (links followed); false when none.
  virtual bool identity(const std::string& path, FileIdentity& id) = 0;

  // Makes folder and any missing parent. True when it exists as a folder
  // afterwards, whoever made it; false with error otherwise.
  virtual bool make_folders(const std::string& folder, std::string& error) = 0;

  // Calls take with the file's bytes, a piece at a time, in order. False
  // with error when the file cannot be opened or read.
  virtual bool read_file(const std::string& path,
                         const std::function<void(std::span<const char>)>& take,
                         std::string& error) = 0;

  // Writes contents as path, which must not exist: to a new file beside it
  // first, then renamed into place, so that path is either missing or
  // whole. False with error when it could not (path exists, disk full).
  virtual bool write_new_file(const std::string& path,
                              std::string_view contents,
                              std::string& error) = 0;

  // Appends line to path (created when missing) in one write, so that
  // lines of several processes never mix. False with error otherwise.
  virtual bool append(const std::string& path, std::string_view line,
                      std::string& error) = 0;

  // Renames from to to, which must not exist. False with error otherwise.
  virtual bool rename_new(const std::string& from, const std::string& to,
                          std::string& error) = 0;

  // Removes the file path (only the batch's own work files). False when it
  // could not.
  virtual bool remove_file(const std::string& path) = 0;

  // Takes the lock on path (a file, created when missing) for this process
  // until release_lock or the process ends, however it ends. Returns a
  // lock handle, or 0 when another process holds it or it failed.
  virtual std::int64_t try_lock(const std::string& path) = 0;
  virtual void release_lock(std::int64_t lock) = 0;

  // path made absolute against the current folder ("" when it cannot
  // tell), so that a child in another folder finds it.
  virtual std::string absolute(const std::string& path) = 0;

  // Starts program with the one argument image, in folder, its standard
  // output and standard error both into the new file output, its standard
  // input empty. Returns the child, or 0 with error.
  virtual ChildId start_child(const std::string& program,
                              const std::string& image,
                              const std::string& folder,
                              const std::string& output,
                              std::string& error) = 0;

  // Waits for any child to end, or for an interrupt (then id is 0), or for
  // at most timeout_seconds (then id is 0 as well). An interrupt wakes one
  // wait: the call after it returns at once, later ones wait again.
  virtual ChildEnd wait_child(double timeout_seconds) = 0;

  // Whether an interrupt (Ctrl-C, SIGINT, SIGTERM; Ctrl-Break or close on
  // Windows) has come since the start.
  virtual bool interrupted() = 0;

  // Whether standard error is a terminal, and its width in columns (80
  // when it cannot tell).
  virtual bool error_is_terminal() = 0;
  virtual int terminal_width() = 0;

  // Writes text to standard output or standard error as it is (the caller
  // puts the line ends in).
  virtual void write_out(std::string_view text) = 0;
  virtual void write_error(std::string_view text) = 0;

  // Seconds from some fixed point, never going back.
  virtual double now() = 0;

  // The processors there are to run children on (1 at least).
  virtual int processors() = 0;

  // The path of the running program, or "" when it cannot tell.
  virtual std::string own_program() = 0;

  // The system's line end: "\n", or "\r\n" on Windows.
  virtual std::string_view line_end() = 0;
};

// The platform of the system the program was built for.
std::unique_ptr<BatchPlatform> make_system_batch_platform();

// The program's arguments, its name first: as given on POSIX, from the
// wide command line as UTF-8 on Windows.
std::vector<std::string> batch_arguments(int argc, char** argv);

// The path of the program called name (".exe" added on Windows) in the
// folder the running program lies in; name alone when that is not known.
std::string program_beside(BatchPlatform& platform, std::string_view name);

} // namespace vetrik
