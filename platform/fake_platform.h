// A platform held in memory for tests: files, directories and links in maps,
// every call logged with its size, and any call made to fail on request.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vetrik {

enum class CallKind {
  CREATE,
  READ,
  WRITE,
  SEEK,
  CLOSE,
  FIND,
  CONSOLE,
  ALLOCATE
};

struct FakeCall {
  CallKind kind;
  std::string path; // CREATE and FIND
  std::int64_t amount =
      0; // bytes asked for (READ, WRITE, ALLOCATE) or distance (SEEK)
  std::int64_t result = 0; // bytes moved (READ, WRITE)
  bool failed = false;     // made to fail on request
  bool deferred = false;   // made while interrupts were deferred
};

class FakePlatform final : public Platform {
public:
  FakePlatform();
  ~FakePlatform() override;

  // The file system: plain files with their bytes, directories, and links
  // (with the length of their target, as the system reports it).
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::set<std::string> directories;
  std::map<std::string, std::uint64_t> links;
  // Sizes reported for files too large to hold; they cannot be opened.
  std::map<std::string, std::uint64_t> huge_files;
  // Devices, FIFOs and sockets: never opened.
  std::set<std::string> specials;
  // Files (in files) that have another name too or belong to someone else.
  std::set<std::string> foreign_files;
  // Files (in files) that another run holds open for writing.
  std::set<std::string> held_files;
  // Files that appear just before the tool creates their path, as if
  // another process had been quicker.
  std::map<std::string, std::vector<std::uint8_t>> appearing;

  std::string console;         // everything written to the console
  bool console_lost = false;   // a CONSOLE call failed
  std::vector<FakeCall> calls; // every call, in order

  // Makes the nth call of kind from now on fail (n counts from 1). A failed
  // CREATE returns INVALID_HANDLE, READ and WRITE move nothing, CLOSE reports
  // an error after closing, ALLOCATE returns nullptr, CONSOLE loses its text.
  void fail(CallKind kind, int n);
  // Makes the nth WRITE from now on take only half of its bytes.
  void shorten_write(int n);
  // Makes every READ bring at most this many bytes, as a pipe does; 0: no
  // limit.
  std::uint32_t read_piece = 0;
  // Makes every ALLOCATE fail.
  bool allocations_fail = false;

  // The calls of one kind, and the amounts they asked for.
  std::vector<FakeCall> calls_of(CallKind kind) const;
  std::vector<std::int64_t> amounts_of(CallKind kind) const;
  // Handles and buffers not given back.
  std::size_t open_handles() const { return open_.size(); }
  std::size_t live_buffers() const { return buffers_; }
  // Whether interrupts are deferred now.
  bool deferring() const { return defer_depth_ > 0; }

  // Installs itself as the platform in use, and the system's again when
  // destroyed.
  void install();

  bool read_file(Handle handle, void* destination, std::uint32_t count,
                 std::uint32_t* count_read) override;
  bool write_file(Handle handle, const void* source, std::uint32_t count,
                  std::uint32_t* count_written) override;
  void set_file_pointer(Handle handle, std::int32_t distance) override;
  bool close_handle(Handle handle) override;
  EntryInfo find_entry(std::string_view path) override;
  bool console_write(std::string_view text) override;
  bool console_flush() override { return !console_lost; }
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

  // Logs a call and tells whether it is one that must fail.
  bool log(FakeCall call);
  // Whether anything at all is at path.
  bool exists(const std::string& path) const;
  Opened open(const std::string& path, bool can_read, bool can_write);

  std::map<Handle, OpenFile> open_;
  Handle next_handle_ = 1;
  std::map<CallKind, int> counts_;
  std::map<CallKind, std::set<int>> failing_;
  std::set<int> short_writes_;
  std::size_t buffers_ = 0;
  int defer_depth_ = 0;
  bool installed_ = false;
};

} // namespace vetrik
