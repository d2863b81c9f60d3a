// The in-memory batch platform.
#include "platform/fake_batch_platform.h"

#include <algorithm>

namespace vetrik {

namespace {

// Files are read out in pieces this small, so that callers join them.
constexpr std::size_t READ_PIECE = 7;

std::string parent_of(const std::string& p) {
  const std::size_t slash = p.rfind('/');
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string name_of(const std::string& p) {
  return p.substr(p.rfind('/') + 1);
}

// Whether p lies under folder (not folder itself).
bool is_under(const std::string& p, const std::string& folder) {
  const std::string prefix = folder == "/" ? "/" : folder + "/";
  return p.size() > prefix.size() && p.starts_with(prefix);
}

} // namespace

std::string FakeBatchPlatform::path_of(const std::string& path) const {
  const std::string whole = path.starts_with("/") ? path : current + "/" + path;
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= whole.size()) {
    const std::size_t slash = std::min(whole.find('/', at), whole.size());
    const std::string part = whole.substr(at, slash - at);
    if (part == "..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = slash + 1;
  }
  std::string p;
  for (const std::string& part : parts) {
    p += "/" + part;
  }
  return p.empty() ? "/" : p;
}

void FakeBatchPlatform::put_file(const std::string& path,
                                 const std::string& contents) {
  const std::string p = path_of(path);
  for (std::string f = parent_of(p); folders.insert(f).second;
       f = parent_of(f)) {
  }
  files[p] = contents;
}

const std::string* FakeBatchPlatform::file(const std::string& path) const {
  const auto found = files.find(path_of(path));
  return found == files.end() ? nullptr : &found->second;
}

std::vector<std::string>
FakeBatchPlatform::names_in(const std::string& folder) const {
  const std::string f = path_of(folder);
  std::set<std::string> names;
  const auto add = [&](const std::string& p) {
    if (is_under(p, f) && parent_of(p) == f) {
      names.insert(name_of(p));
    }
  };
  std::for_each(folders.begin(), folders.end(), add);
  for (const auto& [p, contents] : files) {
    add(p);
  }
  for (const auto& [p, target] : links) {
    add(p);
  }
  std::for_each(others.begin(), others.end(), add);
  return {names.begin(), names.end()};
}

void FakeBatchPlatform::raise_interrupt() {
  interrupted_ = true;
  wake_ = true;
}

void FakeBatchPlatform::restart() {
  interrupted_ = wake_ = false;
  interrupt_at_start = 0;
  locks_.clear();
  children_.clear();
  out.clear();
  error.clear();
}

BatchEntryKind FakeBatchPlatform::kind_of(const std::string& p) const {
  if (folders.contains(p)) {
    return BatchEntryKind::FOLDER;
  }
  if (files.contains(p)) {
    return BatchEntryKind::FILE;
  }
  if (links.contains(p)) {
    return BatchEntryKind::LINK;
  }
  return others.contains(p) ? BatchEntryKind::OTHER : BatchEntryKind::MISSING;
}

BatchEntry FakeBatchPlatform::look(const std::string& path, bool follow) {
  std::string p = path_of(path);
  for (int hops = 0; follow && links.contains(p) && hops < 40; ++hops) {
    p = path_of(links.at(p));
  }
  BatchEntry entry{name_of(p), kind_of(p), 0};
  if (entry.kind == BatchEntryKind::FILE) {
    entry.size = files.at(p).size();
  }
  return entry;
}

bool FakeBatchPlatform::list_folder(const std::string& folder,
                                    std::vector<BatchEntry>& entries,
                                    std::string& error) {
  const std::string f = path_of(folder);
  if (!folders.contains(f) || unreadable.contains(f)) {
    error = folders.contains(f) ? "permission denied" : "no such folder";
    return false;
  }
  entries.clear();
  for (const std::string& name : names_in(f)) {
    entries.push_back(look(f + (f == "/" ? "" : "/") + name, false));
  }
  // In no particular order: the newest first.
  std::reverse(entries.begin(), entries.end());
  return true;
}

bool FakeBatchPlatform::identity(const std::string& path, FileIdentity& id) {
  std::string p = path_of(path);
  for (int hops = 0; links.contains(p) && hops < 40; ++hops) {
    p = path_of(links.at(p));
  }
  if (kind_of(p) == BatchEntryKind::MISSING) {
    return false;
  }
  id = {1, std::hash<std::string>{}(p)};
  return true;
}

bool FakeBatchPlatform::make_folders(const std::string& folder,
                                     std::string& error) {
  const std::string p = path_of(folder);
  std::vector<std::string> missing;
  for (std::string f = p; !folders.contains(f); f = parent_of(f)) {
    if (kind_of(f) != BatchEntryKind::MISSING) {
      error = f + " is in the way";
      return false;
    }
    missing.push_back(f);
  }
  folders.insert(missing.begin(), missing.end());
  return true;
}

bool FakeBatchPlatform::read_file(
    const std::string& path,
    const std::function<void(std::span<const char>)>& take,
    std::string& error) {
  const std::string p = path_of(path);
  const auto found = files.find(p);
  if (found == files.end() || unreadable.contains(p)) {
    error = found == files.end() ? "no such file" : "permission denied";
    return false;
  }
  const std::string bytes = found->second; // take may change the tree
  for (std::size_t at = 0; at < bytes.size(); at += READ_PIECE) {
    take({bytes.data() + at, std::min(READ_PIECE, bytes.size() - at)});
  }
  return true;
}

bool FakeBatchPlatform::take_disk(std::size_t size, std::string& error) {
  if (disk_left >= 0 && static_cast<std::int64_t>(size) > disk_left) {
    error = "no space left on device";
    return false;
  }
  if (disk_left >= 0) {
    disk_left -= static_cast<std::int64_t>(size);
  }
  return true;
}

bool FakeBatchPlatform::write_new_file(const std::string& path,
                                       std::string_view contents,
                                       std::string& error) {
  const std::string p = path_of(path);
  if (kind_of(p) != BatchEntryKind::MISSING ||
      !folders.contains(parent_of(p))) {
    error = kind_of(p) != BatchEntryKind::MISSING ? "file exists"
                                                  : "no such folder";
    return false;
  }
  if (!take_disk(contents.size(), error)) {
    return false;
  }
  files[p] = contents;
  return true;
}

bool FakeBatchPlatform::append(const std::string& path, std::string_view line,
                               std::string& error) {
  const std::string p = path_of(path);
  const BatchEntryKind kind = kind_of(p);
  if ((kind != BatchEntryKind::FILE && kind != BatchEntryKind::MISSING) ||
      !folders.contains(parent_of(p))) {
    error = "cannot open for appending";
    return false;
  }
  if (!take_disk(line.size(), error)) {
    return false;
  }
  files[p] += line;
  return true;
}

bool FakeBatchPlatform::rename_new(const std::string& from,
                                   const std::string& to, std::string& error) {
  const std::string f = path_of(from), t = path_of(to);
  if (kind_of(f) == BatchEntryKind::MISSING ||
      kind_of(t) != BatchEntryKind::MISSING ||
      !folders.contains(parent_of(t))) {
    error = kind_of(f) == BatchEntryKind::MISSING ? "no such file"
                                                  : "cannot rename there";
    return false;
  }
  const auto moved = [&](const std::string& p) {
    return p == f ? t : t + p.substr(f.size());
  };
  const auto move_keys = [&](auto& table) {
    std::remove_reference_t<decltype(table)> kept;
    for (auto it = table.begin(); it != table.end();) {
      if (it->first == f || is_under(it->first, f)) {
        kept.emplace(moved(it->first), it->second);
        it = table.erase(it);
      } else {
        ++it;
      }
    }
    table.merge(kept);
  };
  move_keys(files);
  move_keys(links);
  for (std::set<std::string>* set : {&folders, &others}) {
    std::set<std::string> kept;
    for (auto it = set->begin(); it != set->end();) {
      if (*it == f || is_under(*it, f)) {
        kept.insert(moved(*it));
        it = set->erase(it);
      } else {
        ++it;
      }
    }
    set->merge(kept);
  }
  return true;
}

bool FakeBatchPlatform::remove_file(const std::string& path) {
  return files.erase(path_of(path)) == 1;
}

std::int64_t FakeBatchPlatform::try_lock(const std::string& path) {
  const std::string p = path_of(path);
  if (!folders.contains(parent_of(p)) || locked_elsewhere.contains(p)) {
    return 0;
  }
  for (const auto& [lock, held] : locks_) {
    if (held == p) {
      return 0;
    }
  }
  files.try_emplace(p);
  locks_[next_lock_] = p;
  return next_lock_++;
}

void FakeBatchPlatform::release_lock(std::int64_t lock) {
  locks_.erase(lock);
}

std::string FakeBatchPlatform::absolute(const std::string& path) {
  return path_of(path);
}

ChildId FakeBatchPlatform::start_child(const std::string& program,
                                       const std::string& image,
                                       const std::string& folder,
                                       const std::string& output,
                                       std::string& error) {
  if (!child || !folders.contains(path_of(folder))) {
    error = !child ? "no such program" : "no such folder";
    return 0;
  }
  if (!write_new_file(output, "", error)) {
    return 0;
  }
  started.emplace_back(image, folder);
  const ChildId id = next_child_++;
  children_[id] = {program, image, folder, output};
  most_running = std::max(most_running, children_.size());
  if (static_cast<int>(started.size()) == interrupt_at_start) {
    raise_interrupt();
  }
  return id;
}

ChildEnd FakeBatchPlatform::wait_child(double timeout_seconds) {
  if (wake_ || children_.empty()) {
    clock += wake_ ? 0 : timeout_seconds;
    wake_ = false;
    return {0, -1};
  }
  const auto ending =
      newest_ends_first ? std::prev(children_.end()) : children_.begin();
  const ChildId id = ending->first;
  const Child c = ending->second;
  children_.erase(ending);
  FakeChildRun run = child(c.program, c.image, c.folder);
  clock += run.seconds;
  files[path_of(c.output)] = run.console;
  for (const auto& [name, bytes] : run.files) {
    files[path_of(c.folder + "/" + name)] = bytes;
  }
  return {id, interrupted_ ? FAKE_INTERRUPTED_STATUS : run.exit_status};
}

} // namespace vetrik
