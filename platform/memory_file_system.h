// A file system held in memory for tests: files, directories and links in
// maps, and every call logged with its size. It fails nothing on its own;
// FaultyPlatform wraps it for that.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/test_platform.h"

namespace vetrik {

// What find_entry tells of a file besides its kind and length. A file put
// in place without any is the user's own, of one name, without set-ID bits,
// and changed as the run began: too fresh to be taken over.
struct FileAttributes {
  std::int64_t changed_at = 0; // ticks from the start of the run
  std::uint32_t links = 1;
  bool owned_by_user = true;
  bool set_user_id = false;
  bool set_group_id = false;
};

// How long before the run began the tests' leftovers were changed.
inline constexpr std::int64_t AN_HOUR = 3600 * TICKS_PER_SECOND;

struct LoggedCall {
  CallKind kind;
  std::string path; // CREATE and FIND
  // Bytes asked for (READ, WRITE, CONSOLE, ALLOCATE) or distance (SEEK).
  std::int64_t amount = 0;
  std::int64_t result = 0; // bytes moved (READ, WRITE)
  bool deferred = false;   // made while interrupts were deferred
};

// The description find_entry gives of a file of size bytes with attributes.
EntryInfo file_entry(std::uint64_t size, const FileAttributes& attributes);

class MemoryFileSystem final : public TestPlatform {
public:
  MemoryFileSystem();
  ~MemoryFileSystem() override;

  // The file system: plain files with their bytes, directories, and links
  // (with the length of their target, as the system reports it).
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::set<std::string> directories;
  std::map<std::string, std::uint64_t> links;
  // Files (in files) that differ from the defaults of FileAttributes.
  std::map<std::string, FileAttributes> attributes;
  // Sizes reported for files too large to hold; they cannot be opened.
  std::map<std::string, std::uint64_t> huge_files;
  // Devices, FIFOs and sockets: never opened.
  std::set<std::string> specials;
  // Files (in files) that another run holds open for writing.
  std::set<std::string> held_files;
  // Files that appear just before the tool creates their path, as if
  // another process had been quicker.
  std::map<std::string, std::vector<std::uint8_t>> appearing;

  // The clock, in ticks from the start of the run: a file made or written
  // is stamped with it. Below 0 once the clock has been set back.
  std::int64_t now = 0;
  // Makes every READ bring at most this many bytes, as a pipe does; 0: no
  // limit.
  std::uint32_t read_piece = 0;

  std::string console;           // everything written to the console
  std::vector<LoggedCall> calls; // every call, in order

  // Puts at path an empty file of the user's own that changed an hour before
  // the run began: a leftover.
  void add_leftover(const std::string& path);

  // The calls of one kind, and the amounts they asked for.
  std::vector<LoggedCall> calls_of(CallKind kind) const;
  std::vector<std::int64_t> amounts_of(CallKind kind) const;
  // Handles and buffers not given back.
  std::size_t open_handles() const { return open_.size(); }
  std::size_t live_buffers() const { return buffers_; }

  bool read_file(Handle handle, void* destination, std::uint32_t count,
                 std::uint32_t* count_read) override;
  bool write_file(Handle handle, const void* source, std::uint32_t count,
                  std::uint32_t* count_written) override;
  void set_file_pointer(Handle handle, std::int32_t distance) override;
  bool close_handle(Handle handle) override;
  EntryInfo find_entry(std::string_view path) override;
  bool console_write(std::string_view text) override;
  bool console_flush() override { return true; }
  void defer_interrupts() override { ++defer_depth_; }
  void allow_interrupts() override { --defer_depth_; }
  std::uint8_t* allocate_buffer(std::size_t size) override;
  void free_buffer(std::uint8_t* buffer) override;

protected:
  Opened open_existing(const std::string& path) override;
  Opened create_new(const std::string& path) override;
  Opened reuse_empty(const std::string& path) override;

private:
  struct OpenFile {
    std::string path;
    bool can_read = false;
    bool can_write = false;
    std::int64_t position = 0;
  };

  void log(LoggedCall call);
  // What is at path, exactly as named.
  EntryInfo describe(const std::string& path) const;
  Opened open(const std::string& path, bool can_read, bool can_write);

  std::map<Handle, OpenFile> open_;
  Handle next_handle_ = 1;
  std::size_t buffers_ = 0;
  int defer_depth_ = 0;
};

} // namespace vetrik
