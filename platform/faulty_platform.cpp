// Faults injected in front of any platform.
#include "platform/faulty_platform.h"

namespace vetrik {

FaultyPlatform::FaultyPlatform(Platform& target) : target_(target) {}
FaultyPlatform::~FaultyPlatform() = default;

void FaultyPlatform::fail(CallKind kind, int n) {
  failing_[kind].insert(counts_[kind] + n);
}

void FaultyPlatform::fail_all(CallKind kind) {
  failing_all_.insert(kind);
}

void FaultyPlatform::shorten_write(int n) {
  short_writes_.insert(counts_[CallKind::WRITE] + n);
}

int FaultyPlatform::failures(CallKind kind) const {
  const auto found = failures_.find(kind);
  return found != failures_.end() ? found->second : 0;
}

bool FaultyPlatform::failing(CallKind kind) {
  const int number = ++counts_[kind];
  const bool fails =
      failing_all_.count(kind) != 0 || failing_[kind].count(number) != 0;
  failures_[kind] += fails ? 1 : 0;
  return fails;
}

Opened FaultyPlatform::create(const std::string& path, OpenMode mode) {
  if (failing(CallKind::CREATE)) {
    return {};
  }
  return target_.create_file(path, mode);
}

Opened FaultyPlatform::open_existing(const std::string& path) {
  return create(path, OpenMode::READ_EXISTING);
}

Opened FaultyPlatform::create_new(const std::string& path) {
  return create(path, OpenMode::CREATE_NEW);
}

Opened FaultyPlatform::reuse_empty(const std::string& path) {
  return create(path, OpenMode::REUSE_EMPTY);
}

bool FaultyPlatform::read_file(Handle handle, void* destination,
                               std::uint32_t count, std::uint32_t* count_read) {
  *count_read = 0;
  if (failing(CallKind::READ)) {
    return false;
  }
  return target_.read_file(handle, destination, count, count_read);
}

bool FaultyPlatform::write_file(Handle handle, const void* source,
                                std::uint32_t count,
                                std::uint32_t* count_written) {
  *count_written = 0;
  if (failing(CallKind::WRITE)) {
    return false;
  }
  const bool shortened = short_writes_.count(counts_[CallKind::WRITE]) != 0;
  return target_.write_file(handle, source, shortened ? count / 2 : count,
                            count_written);
}

void FaultyPlatform::set_file_pointer(Handle handle, std::int32_t distance) {
  target_.set_file_pointer(handle, distance);
}

bool FaultyPlatform::close_handle(Handle handle) {
  const bool fails = failing(CallKind::CLOSE);
  return target_.close_handle(handle) && !fails;
}

EntryInfo FaultyPlatform::find_entry(std::string_view path) {
  return target_.find_entry(path);
}

bool FaultyPlatform::console_write(std::string_view text) {
  if (failing(CallKind::CONSOLE)) {
    console_lost_ = true;
    return false;
  }
  return target_.console_write(text) && !console_lost_;
}

bool FaultyPlatform::console_flush() {
  return target_.console_flush() && !console_lost_;
}

void FaultyPlatform::defer_interrupts() {
  target_.defer_interrupts();
}

void FaultyPlatform::allow_interrupts() {
  target_.allow_interrupts();
}

std::uint8_t* FaultyPlatform::allocate_buffer(std::size_t size) {
  if (failing(CallKind::ALLOCATE)) {
    return nullptr;
  }
  return target_.allocate_buffer(size);
}

void FaultyPlatform::free_buffer(std::uint8_t* buffer) {
  target_.free_buffer(buffer);
}

} // namespace vetrik
