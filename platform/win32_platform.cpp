// The platform on Windows: Win32 handles stand behind handles, paths cross
// into the system as UTF-16, and the console gets UTF-16 or, when standard
// output is a pipe or a file, UTF-8.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

// windows.h defines the dispositions as macros, which would rewrite the
// members of OpenMode that share their names.
namespace {
constexpr DWORD DISPOSITION_CREATE_NEW = CREATE_NEW;
} // namespace
#undef CREATE_NEW

#include "platform/leftover.h"
#include "platform/platform.h"
#include "platform/win32_text.h"

namespace vetrik {

namespace {

HANDLE native(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

enum class DeviceName { NONE, UP_TO_EXTENSION, UP_TO_EARLIER_DOT };

// Windows opens a device instead of a file when the last component, up to its
// first dot and without the spaces before that dot, is CON, PRN, AUX, NUL,
// COM1 to COM9 or LPT1 to LPT9, in any case: "nul .txt" and "Con.x.B" are
// the null device and the console. CONIN$ and CONOUT$ open the console's
// input and output; they are kept the same way, to be safe. When that first
// dot is also the last one, a different text before the extension makes a
// file name of it.
DeviceName device_name(std::string_view path) {
  const std::size_t start = path.find_last_of("\\/:");
  const std::string_view name =
      start == std::string_view::npos ? path : path.substr(start + 1);
  const std::size_t dot = name.find('.');
  std::string_view word = name.substr(0, dot);
  while (!word.empty() && word.back() == ' ') {
    word.remove_suffix(1);
  }
  std::string key;
  for (char c : word) {
    key += upper(c);
  }
  const bool device =
      key == "CON" || key == "PRN" || key == "AUX" || key == "NUL" ||
      key == "CONIN$" || key == "CONOUT$" ||
      (key.size() == 4 && (key.starts_with("COM") || key.starts_with("LPT")) &&
       key[3] >= '1' && key[3] <= '9');
  if (!device) {
    return DeviceName::NONE;
  }
  return dot == name.rfind('.') ? DeviceName::UP_TO_EXTENSION
                                : DeviceName::UP_TO_EARLIER_DOT;
}

// GetDriveTypeW: 0 and 1 say that the path names no volume root.
bool is_volume_root(const std::wstring& path) {
  return GetDriveTypeW(path.c_str()) > DRIVE_NO_ROOT_DIR;
}

Opened opened(HANDLE handle) {
  return {OpenOutcome::OPENED, reinterpret_cast<Handle>(handle)};
}

Opened given_up(HANDLE handle, OpenOutcome outcome) {
  CloseHandle(handle);
  return {outcome, INVALID_HANDLE};
}

// Opens path for reading and writing, sharing it with readers only: while
// the tool holds it, no other run can open it to write.
HANDLE open_for_output(const std::string& path, DWORD disposition,
                       DWORD flags) {
  return CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ, nullptr, disposition, flags, nullptr);
}

// The image is opened for reading only. Without FILE_FLAG_BACKUP_SEMANTICS a
// directory is refused here.
Opened open_image(const std::string& path) {
  const HANDLE handle =
      CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return {};
  }
  return opened(handle);
}

// Exclusive creation opens nothing that is there; a device name that
// slipped past the name search would still open the device, so anything
// but a disk file is refused.
Opened create_new_file(const std::string& path) {
  const HANDLE handle =
      open_for_output(path, DISPOSITION_CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return {error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                ? OpenOutcome::TAKEN
                : OpenOutcome::FAILED,
            INVALID_HANDLE};
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    return given_up(handle, OpenOutcome::FAILED);
  }
  return opened(handle);
}

// A time in 100-nanosecond steps, as files are stamped.
std::uint64_t ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

// When this run began, by the clock that stamps files.
std::uint64_t run_start() {
  static const std::uint64_t start = [] {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return ticks(now);
  }();
  return start;
}

// Ticks from a change at changed to the start of the run; a stamp however
// far off saturates rather than overflows.
std::int64_t age_of(const FILETIME& changed) {
  const std::uint64_t start = run_start();
  const std::uint64_t stamp = ticks(changed);
  if (stamp >= start) {
    return -static_cast<std::int64_t>(
        std::min<std::uint64_t>(stamp - start, INT64_MAX));
  }
  return static_cast<std::int64_t>(
      std::min<std::uint64_t>(start - stamp, INT64_MAX));
}

// What attributes say of an entry's kind. A symbolic link or junction is a
// link, even one to a directory.
EntryKind kind_of(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return EntryKind::LINK;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::DIRECTORY
                                                      : EntryKind::FILE;
}

std::uint64_t size_of(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The open file about describes. Windows has no set-ID bits, and the owner
// is not looked at.
EntryInfo described(const BY_HANDLE_FILE_INFORMATION& about) {
  EntryInfo info;
  info.kind = kind_of(about.dwFileAttributes);
  info.size = size_of(about.nFileSizeHigh, about.nFileSizeLow);
  info.links = about.nNumberOfLinks;
  info.age = age_of(about.ftLastWriteTime);
  return info;
}

// An empty leftover is reused only when nobody else has it open for writing
// (another run holding it makes the open fail with a sharing violation, and
// the open keeps every other run out), and when the open file is a disk
// file that may be taken over.
Opened reuse_empty_file(const std::string& path) {
  const HANDLE handle =
      open_for_output(path, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const bool trouble = error == ERROR_WRITE_PROTECT ||
                         error == ERROR_TOO_MANY_OPEN_FILES ||
                         error == ERROR_NOT_ENOUGH_MEMORY;
    return {trouble ? OpenOutcome::FAILED : OpenOutcome::TAKEN, INVALID_HANDLE};
  }
  BY_HANDLE_FILE_INFORMATION about{};
  if (GetFileType(handle) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(handle, &about) == 0 ||
      !may_take_over(described(about))) {
    return given_up(handle, OpenOutcome::TAKEN);
  }
  return opened(handle);
}

// A path of the drive form, C: or C:\ (any first and third character),
// names a volume, which no directory search finds. Returns whether that
// volume exists; std::nullopt for any other path.
std::optional<bool> find_drive(std::string_view path) {
  std::wstring root = wide(path);
  if ((root.size() != 2 && root.size() != 3) || root[1] != L':') {
    return std::nullopt;
  }
  if (root.size() == 2) {
    root += L'\\';
  }
  return is_volume_root(root);
}

// A second look at a path that a directory search did not find: true when
// it names a directory that a search cannot see. Share roots and the parents
// of roots are found by their attributes, and failing those by the volume
// they may name.
bool find_unlisted_directory(std::string_view path) {
  if (!path.starts_with("\\\\") && !path.starts_with("..")) {
    return false;
  }
  const std::wstring wide_path = wide(path);
  const DWORD attributes = GetFileAttributesW(wide_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  return is_volume_root(wide_path);
}

class Win32Platform final : public Platform {
public:
  // Standard output is taken once, at start-up, as the system handed it over.
  Win32Platform() : out_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    DWORD mode = 0;
    console_ = GetConsoleMode(out_, &mode) != 0;
  }

  bool read_file(Handle handle, void* destination, std::uint32_t count,
                 std::uint32_t* count_read) override {
    DWORD got = 0;
    if (ReadFile(native(handle), destination, count, &got, nullptr) != 0) {
      *count_read = got;
      return true;
    }
    *count_read = 0;
    // A pipe whose writer has closed or let go ends this way: the end, no
    // error.
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_HANDLE_EOF;
  }

  bool write_file(Handle handle, const void* source, std::uint32_t count,
                  std::uint32_t* count_written) override {
    DWORD written = 0;
    const bool ok =
        WriteFile(native(handle), source, count, &written, nullptr) != 0;
    *count_written = ok ? written : 0;
    return ok;
  }

  void set_file_pointer(Handle handle, std::int32_t distance) override {
    SetFilePointer(native(handle), distance, nullptr, FILE_CURRENT);
  }

  bool close_handle(Handle handle) override {
    return CloseHandle(native(handle)) != 0;
  }

  EntryInfo find_entry(std::string_view given) override {
    // A drive is asked about as it stands, separator and all: C:\ names the
    // volume's root.
    if (const std::optional<bool> drive = find_drive(given)) {
      return {*drive ? EntryKind::DIRECTORY : EntryKind::MISSING};
    }
    const std::string_view path = without_final_separators(given, '\\');
    EntryInfo info;
    if (path.empty()) {
      return info;
    }
    // A device is never free, and never written to. When every numbered
    // name would be the same device, no file can have the name at all.
    if (const DeviceName device = device_name(path);
        device != DeviceName::NONE) {
      info.kind = device == DeviceName::UP_TO_EXTENSION ? EntryKind::OTHER
                                                        : EntryKind::RESERVED;
      return info;
    }
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW(wide(path).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
      // Only a directory counts when a search could not see the entry.
      if (find_unlisted_directory(path)) {
        info.kind = EntryKind::DIRECTORY;
      }
      return info;
    }
    FindClose(search);
    // A search tells neither owner nor links: reuse_empty looks again.
    info.kind = kind_of(data.dwFileAttributes);
    info.size = size_of(data.nFileSizeHigh, data.nFileSizeLow);
    info.age = age_of(data.ftLastWriteTime);
    return info;
  }

  bool console_write(std::string_view text) override {
    // A process started without standard output loses its report.
    if (out_ == INVALID_HANDLE_VALUE || out_ == nullptr) {
      lost_ = true;
    } else if (console_) {
      const std::wstring units = wide(text);
      lost_ = !write_all(units.data(), units.size(),
                         [this](const wchar_t* p, DWORD n, DWORD* done) {
                           return WriteConsoleW(out_, p, n, done, nullptr) != 0;
                         }) ||
              lost_;
    } else {
      // A pipe or a file gets UTF-8, so that scripts can read it.
      lost_ = !write_all(text.data(), text.size(),
                         [this](const char* p, DWORD n, DWORD* done) {
                           return WriteFile(out_, p, n, done, nullptr) != 0;
                         }) ||
              lost_;
    }
    return !lost_;
  }

  bool console_flush() override { return !lost_; }

  std::uint8_t* allocate_buffer(std::size_t size) override {
    return static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, size));
  }

  void free_buffer(std::uint8_t* buffer) override {
    if (buffer != nullptr) {
      HeapFree(GetProcessHeap(), 0, buffer);
    }
  }

protected:
  Opened open_existing(const std::string& path) override {
    return open_image(path);
  }
  Opened create_new(const std::string& path) override {
    return create_new_file(path);
  }
  Opened reuse_empty(const std::string& path) override {
    return reuse_empty_file(path);
  }

private:
  // Writes n units with write, which may take fewer. Returns false when it
  // stopped at a failure.
  template <typename Unit, typename Write>
  static bool write_all(const Unit* p, std::size_t n, Write write) {
    while (n > 0) {
      DWORD done = 0;
      if (!write(p, static_cast<DWORD>(n), &done) || done == 0) {
        return false;
      }
      p += done;
      n -= done;
    }
    return true;
  }

  HANDLE out_;
  bool console_ = false;
  bool lost_ = false; // some console text could not be written
};

} // namespace

Platform& system_platform() {
  static Win32Platform instance;
  return instance;
}

std::optional<std::string> system_command_line() {
  return narrow(GetCommandLineW());
}

void prepare_process() {
  // Files written from now on are this run's, or another's.
  run_start();
  // A drive without a medium must fail the call that touches it rather than
  // wait for someone to answer a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Take standard output now, before any file is opened.
  system_platform();
}

} // namespace vetrik
