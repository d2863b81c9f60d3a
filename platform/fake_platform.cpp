// The in-memory platform used by tests.
#include "platform/fake_platform.h"

#include <algorithm>
#include <cstring>

namespace vetrik {

FakePlatform::FakePlatform() = default;

FakePlatform::~FakePlatform() {
  if (installed_) {
    set_platform(system_platform());
  }
}

void FakePlatform::install() {
  set_platform(*this);
  installed_ = true;
}

void FakePlatform::fail(CallKind kind, int n) {
  failing_[kind].insert(counts_[kind] + n);
}

void FakePlatform::shorten_write(int n) {
  short_writes_.insert(counts_[CallKind::WRITE] + n);
}

bool FakePlatform::log(FakeCall call) {
  const int number = ++counts_[call.kind];
  call.failed = failing_[call.kind].count(number) != 0;
  call.deferred = deferring();
  calls.push_back(std::move(call));
  return calls.back().failed;
}

std::vector<FakeCall> FakePlatform::calls_of(CallKind kind) const {
  std::vector<FakeCall> result;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(result),
               [kind](const FakeCall& c) { return c.kind == kind; });
  return result;
}

std::vector<std::int64_t> FakePlatform::amounts_of(CallKind kind) const {
  std::vector<std::int64_t> result;
  for (const FakeCall& c : calls_of(kind)) {
    result.push_back(c.amount);
  }
  return result;
}

bool FakePlatform::exists(const std::string& path) const {
  return files.count(path) + directories.count(path) + links.count(path) +
             huge_files.count(path) + specials.count(path) !=
         0;
}

Opened FakePlatform::open(const std::string& path, bool can_read,
                          bool can_write) {
  const Handle handle = next_handle_++;
  open_[handle] = {path, can_read, can_write};
  return {OpenOutcome::OPENED, handle};
}

Opened FakePlatform::open_existing(const std::string& path) {
  if (log({CallKind::CREATE, path, 0})) {
    return {};
  }
  // Links included: the fake does not resolve them.
  return files.count(path) != 0 ? open(path, true, false) : Opened{};
}

Opened FakePlatform::create_new(const std::string& path) {
  if (log({CallKind::CREATE, path, 0})) {
    return {};
  }
  if (auto it = appearing.find(path); it != appearing.end()) {
    files[path] = it->second;
    appearing.erase(it);
  }
  if (exists(path)) {
    return {OpenOutcome::TAKEN, INVALID_HANDLE};
  }
  files[path].clear();
  return open(path, true, true);
}

Opened FakePlatform::reuse_empty(const std::string& path) {
  if (log({CallKind::CREATE, path, 0})) {
    return {};
  }
  const auto file = files.find(path);
  if (file == files.end() || !file->second.empty() ||
      foreign_files.count(path) != 0 || held_files.count(path) != 0) {
    return {OpenOutcome::TAKEN, INVALID_HANDLE};
  }
  return open(path, true, true);
}

bool FakePlatform::read_file(Handle handle, void* destination,
                             std::uint32_t count, std::uint32_t* count_read) {
  *count_read = 0;
  const bool failing = log({CallKind::READ, {}, count});
  auto it = open_.find(handle);
  if (failing || it == open_.end() || !it->second.can_read) {
    return false;
  }
  OpenFile& file = it->second;
  const auto& bytes = files[file.path];
  const auto size = static_cast<std::int64_t>(bytes.size());
  const std::uint32_t limit =
      read_piece != 0 ? std::min(count, read_piece) : count;
  const std::int64_t n =
      std::clamp<std::int64_t>(size - file.position, 0, limit);
  if (n > 0) {
    std::memcpy(destination, bytes.data() + file.position,
                static_cast<std::size_t>(n));
  }
  file.position += n;
  *count_read = static_cast<std::uint32_t>(n);
  calls.back().result = n;
  return true;
}

bool FakePlatform::write_file(Handle handle, const void* source,
                              std::uint32_t count,
                              std::uint32_t* count_written) {
  *count_written = 0;
  const bool failing = log({CallKind::WRITE, {}, count});
  const bool shortened = short_writes_.count(counts_[CallKind::WRITE]) != 0;
  auto it = open_.find(handle);
  if (failing || it == open_.end() || !it->second.can_write) {
    return false;
  }
  OpenFile& file = it->second;
  const std::uint32_t n = shortened ? count / 2 : count;
  auto& bytes = files[file.path];
  const auto end = static_cast<std::size_t>(file.position) + n;
  if (bytes.size() < end) {
    bytes.resize(end);
  }
  if (n > 0) {
    std::memcpy(bytes.data() + file.position, source, n);
  }
  file.position += n;
  *count_written = n;
  calls.back().result = n;
  return true;
}

void FakePlatform::set_file_pointer(Handle handle, std::int32_t distance) {
  log({CallKind::SEEK, {}, distance});
  auto it = open_.find(handle);
  if (it != open_.end()) {
    it->second.position =
        std::max<std::int64_t>(0, it->second.position + distance);
  }
}

bool FakePlatform::close_handle(Handle handle) {
  const bool failing = log({CallKind::CLOSE, {}});
  const bool known = open_.erase(handle) != 0;
  return known && !failing;
}

EntryInfo FakePlatform::find_entry(std::string_view given) {
  log({CallKind::FIND, std::string(given), 0});
  const std::string path(without_final_separators(given, '/'));
  EntryInfo info;
  if (directories.count(path) != 0) {
    info.kind = EntryKind::DIRECTORY;
  } else if (auto link = links.find(path); link != links.end()) {
    info.kind = EntryKind::LINK;
    info.size = link->second;
  } else if (specials.count(path) != 0) {
    info.kind = EntryKind::OTHER;
  } else if (auto huge = huge_files.find(path); huge != huge_files.end()) {
    info.kind = EntryKind::FILE;
    info.size = huge->second;
  } else if (auto file = files.find(path); file != files.end()) {
    info.kind = EntryKind::FILE;
    info.size = file->second.size();
    info.own_single = foreign_files.count(path) == 0;
  }
  return info;
}

bool FakePlatform::console_write(std::string_view text) {
  if (log({CallKind::CONSOLE, {}, static_cast<std::int64_t>(text.size())})) {
    console_lost = true;
  } else {
    console += text;
  }
  return !console_lost;
}

std::uint8_t* FakePlatform::allocate_buffer(std::size_t size) {
  const bool failing =
      log({CallKind::ALLOCATE, {}, static_cast<std::int64_t>(size)});
  if (failing || allocations_fail) {
    return nullptr;
  }
  ++buffers_;
  return new std::uint8_t[size];
}

void FakePlatform::free_buffer(std::uint8_t* buffer) {
  if (buffer != nullptr) {
    --buffers_;
    delete[] buffer;
  }
}

} // namespace vetrik
