// The in-memory file system used by tests.
#include "platform/memory_file_system.h"

#include <algorithm>
#include <cstring>

#include "platform/leftover.h"

namespace vetrik {

EntryInfo file_entry(std::uint64_t size, const FileAttributes& attributes) {
  EntryInfo info;
  info.kind = EntryKind::FILE;
  info.size = size;
  info.links = attributes.links;
  info.owned_by_user = attributes.owned_by_user;
  info.set_user_id = attributes.set_user_id;
  info.set_group_id = attributes.set_group_id;
  info.age = -std::max(attributes.changed_at, -INT64_MAX);
  return info;
}

MemoryFileSystem::MemoryFileSystem() = default;
MemoryFileSystem::~MemoryFileSystem() = default;

void MemoryFileSystem::add_leftover(const std::string& path) {
  files[path].clear();
  attributes[path] = {-AN_HOUR};
}

void MemoryFileSystem::log(LoggedCall call) {
  call.deferred = defer_depth_ > 0;
  calls.push_back(std::move(call));
}

std::vector<LoggedCall> MemoryFileSystem::calls_of(CallKind kind) const {
  std::vector<LoggedCall> result;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(result),
               [kind](const LoggedCall& c) { return c.kind == kind; });
  return result;
}

std::vector<std::int64_t> MemoryFileSystem::amounts_of(CallKind kind) const {
  std::vector<std::int64_t> result;
  for (const LoggedCall& c : calls_of(kind)) {
    result.push_back(c.amount);
  }
  return result;
}

EntryInfo MemoryFileSystem::describe(const std::string& path) const {
  EntryInfo info;
  if (directories.count(path) != 0) {
    info.kind = EntryKind::DIRECTORY;
  } else if (auto link = links.find(path); link != links.end()) {
    info.kind = EntryKind::LINK;
    info.size = link->second;
  } else if (specials.count(path) != 0) {
    info.kind = EntryKind::OTHER;
  } else if (auto huge = huge_files.find(path); huge != huge_files.end()) {
    info = file_entry(huge->second, {});
  } else if (auto file = files.find(path); file != files.end()) {
    const auto about = attributes.find(path);
    info = file_entry(file->second.size(), about != attributes.end()
                                               ? about->second
                                               : FileAttributes{});
  }
  return info;
}

Opened MemoryFileSystem::open(const std::string& path, bool can_read,
                              bool can_write) {
  const Handle handle = next_handle_++;
  open_[handle] = {path, can_read, can_write};
  return {OpenOutcome::OPENED, handle};
}

Opened MemoryFileSystem::open_existing(const std::string& path) {
  log({CallKind::CREATE, path});
  // Only a plain file is read: links are not followed.
  return files.count(path) != 0 ? open(path, true, false) : Opened{};
}

Opened MemoryFileSystem::create_new(const std::string& path) {
  log({CallKind::CREATE, path});
  if (auto it = appearing.find(path); it != appearing.end()) {
    files[path] = it->second;
    attributes[path] = {now};
    appearing.erase(it);
  }
  if (describe(path).kind != EntryKind::MISSING) {
    return {OpenOutcome::TAKEN, INVALID_HANDLE};
  }
  files[path].clear();
  attributes[path] = {now};
  return open(path, true, true);
}

// The lock of another run is what a held file has; anything else is for
// the rule to tell.
Opened MemoryFileSystem::reuse_empty(const std::string& path) {
  log({CallKind::CREATE, path});
  if (files.count(path) == 0 || held_files.count(path) != 0 ||
      !may_take_over(describe(path))) {
    return {OpenOutcome::TAKEN, INVALID_HANDLE};
  }
  return open(path, true, true);
}

bool MemoryFileSystem::read_file(Handle handle, void* destination,
                                 std::uint32_t count,
                                 std::uint32_t* count_read) {
  *count_read = 0;
  log({CallKind::READ, {}, count});
  auto it = open_.find(handle);
  if (it == open_.end() || !it->second.can_read) {
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

bool MemoryFileSystem::write_file(Handle handle, const void* source,
                                  std::uint32_t count,
                                  std::uint32_t* count_written) {
  *count_written = 0;
  log({CallKind::WRITE, {}, count});
  auto it = open_.find(handle);
  if (it == open_.end() || !it->second.can_write) {
    return false;
  }
  OpenFile& file = it->second;
  auto& bytes = files[file.path];
  const auto end = static_cast<std::size_t>(file.position) + count;
  if (bytes.size() < end) {
    bytes.resize(end);
  }
  if (count > 0) {
    std::memcpy(bytes.data() + file.position, source, count);
    attributes[file.path].changed_at = now;
  }
  file.position += count;
  *count_written = count;
  calls.back().result = count;
  return true;
}

void MemoryFileSystem::set_file_pointer(Handle handle, std::int32_t distance) {
  log({CallKind::SEEK, {}, distance});
  auto it = open_.find(handle);
  if (it != open_.end()) {
    it->second.position =
        std::max<std::int64_t>(0, it->second.position + distance);
  }
}

bool MemoryFileSystem::close_handle(Handle handle) {
  log({CallKind::CLOSE, {}});
  return open_.erase(handle) != 0;
}

EntryInfo MemoryFileSystem::find_entry(std::string_view path) {
  log({CallKind::FIND, std::string(path)});
  return describe(std::string(without_final_separators(path, '/')));
}

bool MemoryFileSystem::console_write(std::string_view text) {
  log({CallKind::CONSOLE, {}, static_cast<std::int64_t>(text.size())});
  console += text;
  return true;
}

std::uint8_t* MemoryFileSystem::allocate_buffer(std::size_t size) {
  log({CallKind::ALLOCATE, {}, static_cast<std::int64_t>(size)});
  ++buffers_;
  return new std::uint8_t[size];
}

void MemoryFileSystem::free_buffer(std::uint8_t* buffer) {
  if (buffer != nullptr) {
    --buffers_;
    delete[] buffer;
  }
}

} // namespace vetrik
