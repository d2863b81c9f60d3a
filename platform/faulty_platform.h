// A platform that passes every call on to another one and makes the calls
// asked for fail: the nth of a kind, or every one from now on.
#pragma once

#include <map>
#include <set>

#include "platform/test_platform.h"

namespace vetrik {

class FaultyPlatform final : public TestPlatform {
public:
  // target must outlive this platform.
  explicit FaultyPlatform(Platform& target);
  ~FaultyPlatform() override;

  // Makes the nth call of kind from now on fail (n counts from 1). A failed
  // call never reaches the target: CREATE opens nothing and gives FAILED,
  // READ and WRITE move nothing and give false, ALLOCATE gives nullptr, and
  // CONSOLE loses its text, after which every console call reports the
  // loss. A failed CLOSE still closes, and reports an error. SEEK and FIND
  // have no failure to report and never fail.
  void fail(CallKind kind, int n);
  // Makes every call of kind from now on fail.
  void fail_all(CallKind kind);
  // Makes the nth WRITE from now on take only half of its bytes.
  void shorten_write(int n);
  // How many calls of kind were made to fail so far.
  int failures(CallKind kind) const;

  bool read_file(Handle handle, void* destination, std::uint32_t count,
                 std::uint32_t* count_read) override;
  bool write_file(Handle handle, const void* source, std::uint32_t count,
                  std::uint32_t* count_written) override;
  void set_file_pointer(Handle handle, std::int32_t distance) override;
  bool close_handle(Handle handle) override;
  EntryInfo find_entry(std::string_view path) override;
  bool console_write(std::string_view text) override;
  bool console_flush() override;
  void defer_interrupts() override;
  void allow_interrupts() override;
  std::uint8_t* allocate_buffer(std::size_t size) override;
  void free_buffer(std::uint8_t* buffer) override;

protected:
  Opened open_existing(const std::string& path) override;
  Opened create_new(const std::string& path) override;
  Opened reuse_empty(const std::string& path) override;

private:
  // Counts a call of kind and tells whether it must fail.
  bool failing(CallKind kind);
  Opened create(const std::string& path, OpenMode mode);

  Platform& target_;
  std::map<CallKind, int> counts_;
  std::map<CallKind, std::set<int>> failing_;
  std::set<CallKind> failing_all_;
  std::map<CallKind, int> failures_;
  std::set<int> short_writes_;
  bool console_lost_ = false;
};

} // namespace vetrik
