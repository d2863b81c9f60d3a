// The batch's platform on Windows: paths cross into the system as UTF-16,
// children run in a job that ends with the batch, and one event wakes the
// wait for them when a console interrupt comes.
#define NOMINMAX
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/batch_platform.h"
#include "platform/win32_text.h"

namespace vetrik {

namespace {

// The system's text for error, without the full stop and line end it
// comes with.
std::string reason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : L"";
  LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\r' || message.back() == L'\n' ||
          message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) {
    return "system error " + std::to_string(error);
  }
  return narrow(message);
}

std::string last_reason() {
  return reason(GetLastError());
}

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

// The last name in path, trailing separators left out.
std::string last_part(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && is_separator(path[end - 1])) {
    --end;
  }
  std::size_t start = end;
  while (start > 0 && !is_separator(path[start - 1]) &&
         path[start - 1] != ':') {
    --start;
  }
  return path.substr(start, end - start);
}

// The folder path is in, "" when there is none to make (a bare name, a
// drive or a root).
std::string parent_of(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && is_separator(path[end - 1])) {
    --end;
  }
  while (end > 0 && !is_separator(path[end - 1]) && path[end - 1] != ':') {
    --end;
  }
  while (end > 0 && is_separator(path[end - 1])) {
    --end;
  }
  return path.substr(0, end);
}

std::uint64_t joined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// What attributes say of an entry. A symbolic link or junction is a link,
// even one to a folder.
BatchEntryKind kind_of(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return BatchEntryKind::LINK;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? BatchEntryKind::FOLDER
                                                      : BatchEntryKind::FILE;
}

BatchEntry entry_of(std::string name, DWORD attributes, DWORD size_high,
                    DWORD size_low) {
  BatchEntry entry;
  entry.name = std::move(name);
  entry.kind = kind_of(attributes);
  if (entry.kind == BatchEntryKind::FILE) {
    entry.size = joined(size_high, size_low);
  }
  return entry;
}

bool is_folder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens what path names, links followed, only to ask about it; a folder
// opens as well.
HANDLE open_to_look(const std::string& path) {
  return CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

// Writes all of text to handle; false when some of it could not be
// written. WriteFile takes a DWORD count, so a large text goes in pieces.
bool write_all(HANDLE handle, std::string_view text) {
  constexpr std::size_t MOST = 1 << 30;
  while (!text.empty()) {
    const DWORD count = static_cast<DWORD>(std::min(text.size(), MOST));
    DWORD written = 0;
    if (!WriteFile(handle, text.data(), count, &written, nullptr) ||
        written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

// Writes text to the console as UTF-16, in pieces the console takes, none
// ending inside a surrogate pair.
void write_console(HANDLE console, std::string_view text) {
  constexpr std::size_t PIECE = 8192;
  const std::wstring all = wide(text);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = std::min(all.size(), start + PIECE);
    if (end < all.size() && all[end - 1] >= 0xD800 && all[end - 1] <= 0xDBFF) {
      --end;
    }
    DWORD written = 0;
    if (!WriteConsoleW(console, all.data() + start,
                       static_cast<DWORD>(end - start), &written, nullptr) ||
        written == 0) {
      return;
    }
    start += written;
  }
}

void write_standard(DWORD which, std::string_view text) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    write_console(handle, text);
  } else {
    write_all(handle, text);
  }
}

// A name for a file beside path that no other process or call picks.
std::string temporary_name(const std::string& path) {
  static std::atomic<unsigned long> made{0};
  return path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(made.fetch_add(1));
}

// The command line that gives a program built with the usual C runtime
// exactly image as its one argument. The program's own path may hold no
// quote, and its backslashes stand as they are.
std::wstring command_line(const std::wstring& program,
                          const std::wstring& image) {
  std::wstring line = L"\"" + program + L"\" \"";
  std::size_t backslashes = 0;
  for (const wchar_t c : image) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are doubled before a quote, which is escaped itself.
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
  return line;
}

// Interrupts since the start; the event is set by each and taken by the
// wait that it wakes.
volatile LONG interrupts = 0;
HANDLE interrupt_event = nullptr;

// The job the children run in: closed with the batch however it ends, and
// every child with it.
HANDLE children_job = nullptr;

BOOL WINAPI on_console_event(DWORD) {
  InterlockedIncrement(&interrupts);
  SetEvent(interrupt_event);
  return TRUE;
}

void install_handlers() {
  interrupt_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_event, TRUE);
  children_job = CreateJobObjectW(nullptr, nullptr);
  if (children_job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(children_job, JobObjectExtendedLimitInformation,
                            &limits, sizeof limits);
  }
}

struct Child {
  DWORD id;
  HANDLE process;
};

// Children not waited for yet, shared by every platform made.
std::vector<Child> children;

// The exit code of a child that has ended. Codes past 255 (an exception
// such as 0xC0000005) count as 255, so none is taken for success.
int exit_status_of(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) {
    return -1;
  }
  return code <= 255 ? static_cast<int>(code) : 255;
}

ChildEnd ended(std::size_t index) {
  const Child child = children[index];
  children.erase(children.begin() + static_cast<std::ptrdiff_t>(index));
  ChildEnd end{child.id, exit_status_of(child.process)};
  CloseHandle(child.process);
  return end;
}

// Starts the command line in folder with the standard handles given, which
// alone it inherits. The child starts suspended, to join the job before it
// can start children of its own. False with the last error set when it
// failed.
bool create_process(const std::wstring& program, std::wstring line,
                    const std::wstring& folder, HANDLE input, HANDLE output,
                    PROCESS_INFORMATION& started) {
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = output;
  HANDLE inherited[] = {input, output};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> list_space(size);
  auto* list =
      reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_space.data());
  DWORD flags = CREATE_SUSPENDED;
  // Without the list the child inherits every inheritable handle there is.
  if (size > 0 && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                  inherited, sizeof inherited, nullptr,
                                  nullptr)) {
      startup.lpAttributeList = list;
      startup.StartupInfo.cb = sizeof startup;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }
  if ((flags & EXTENDED_STARTUPINFO_PRESENT) == 0) {
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
  }
  const BOOL made = CreateProcessW(
      program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr,
      folder.c_str(), &startup.StartupInfo, &started);
  const DWORD error = GetLastError();
  if (startup.lpAttributeList != nullptr) {
    DeleteProcThreadAttributeList(list);
  }
  SetLastError(error);
  return made != 0;
}

// A lock is taken on one byte far past any content the file may have, so
// that what is written in it stays readable to everyone.
constexpr DWORD LOCK_OFFSET_HIGH = 0x40000000;
// Appenders take turns by a byte of their own, so that the holder of a
// file's lock may append to it as well.
constexpr DWORD APPEND_LOCK_OFFSET_HIGH = LOCK_OFFSET_HIGH + 1;

class Win32BatchPlatform final : public BatchPlatform {
public:
  BatchEntry look(const std::string& path, bool follow) override {
    if (!follow) {
      WIN32_FILE_ATTRIBUTE_DATA data{};
      if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard,
                                &data)) {
        return {last_part(path), BatchEntryKind::MISSING, 0};
      }
      return entry_of(last_part(path), data.dwFileAttributes,
                      data.nFileSizeHigh, data.nFileSizeLow);
    }
    const HANDLE handle = open_to_look(path);
    if (handle == INVALID_HANDLE_VALUE) {
      return {last_part(path), BatchEntryKind::MISSING, 0};
    }
    BatchEntry entry{last_part(path), BatchEntryKind::OTHER, 0};
    BY_HANDLE_FILE_INFORMATION about{};
    if (GetFileType(handle) == FILE_TYPE_DISK &&
        GetFileInformationByHandle(handle, &about)) {
      entry = entry_of(entry.name,
                       about.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT,
                       about.nFileSizeHigh, about.nFileSizeLow);
    }
    CloseHandle(handle);
    return entry;
  }

  bool list_folder(const std::string& folder, std::vector<BatchEntry>& entries,
                   std::string& error) override {
    entries.clear();
    std::wstring pattern = wide(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
      pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      // A drive's root has no "." and "..": empty, it finds nothing.
      if (GetLastError() == ERROR_FILE_NOT_FOUND && is_folder(wide(folder))) {
        return true;
      }
      error = last_reason();
      return false;
    }
    bool read = true;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      entries.push_back(entry_of(narrow(name), found.dwFileAttributes,
                                 found.nFileSizeHigh, found.nFileSizeLow));
    } while (FindNextFileW(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
      error = last_reason();
      read = false;
    }
    FindClose(search);
    return read;
  }

  bool identity(const std::string& path, FileIdentity& id) override {
    const HANDLE handle = open_to_look(path);
    if (handle == INVALID_HANDLE_VALUE) {
      return false;
    }
    BY_HANDLE_FILE_INFORMATION about{};
    const bool known = GetFileInformationByHandle(handle, &about) != 0;
    CloseHandle(handle);
    if (known) {
      id.device = about.dwVolumeSerialNumber;
      id.node = joined(about.nFileIndexHigh, about.nFileIndexLow);
    }
    return known;
  }

  // Makes the folder, and its parent first only when that is missing, so
  // that a drive or a share is never made.
  bool make_folders(const std::string& folder, std::string& error) override {
    const std::wstring path = wide(folder);
    if (path.empty()) {
      error = reason(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) {
      return true;
    }
    DWORD failed = GetLastError();
    if (failed == ERROR_PATH_NOT_FOUND) {
      const std::string parent = parent_of(folder);
      if (parent.empty() || !make_folders(parent, error)) {
        error = error.empty() ? reason(failed) : error;
        return false;
      }
      if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
      }
      failed = GetLastError();
    }
    // Made by another process meanwhile, or there all along.
    if (is_folder(path)) {
      return true;
    }
    error = reason(failed);
    return false;
  }

  bool read_file(const std::string& path,
                 const std::function<void(std::span<const char>)>& take,
                 std::string& error) override {
    const HANDLE file =
        CreateFileW(wide(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = last_reason();
      return false;
    }
    std::vector<char> piece(64 * 1024);
    for (;;) {
      DWORD n = 0;
      if (!ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &n,
                    nullptr)) {
        error = last_reason();
        CloseHandle(file);
        return false;
      }
      if (n == 0) {
        break;
      }
      take(std::span<const char>(piece.data(), n));
    }
    CloseHandle(file);
    return true;
  }

  bool write_new_file(const std::string& path, std::string_view contents,
                      std::string& error) override {
    const std::wstring temporary = wide(temporary_name(path));
    const HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = last_reason();
      return false;
    }
    const bool written = write_all(file, contents);
    const DWORD failed = GetLastError();
    CloseHandle(file);
    if (!written) {
      error = reason(failed);
      DeleteFileW(temporary.c_str());
      return false;
    }
    // Without MOVEFILE_REPLACE_EXISTING a file already there stays.
    if (!MoveFileExW(temporary.c_str(), wide(path).c_str(), 0)) {
      error = last_reason();
      DeleteFileW(temporary.c_str());
      return false;
    }
    return true;
  }

  // With FILE_APPEND_DATA and no FILE_WRITE_DATA every write goes to the
  // end as it is then. Not every system makes that one step (Wine does
  // not), so the writers of a file take turns by a lock as well.
  bool append(const std::string& path, std::string_view line,
              std::string& error) override {
    const HANDLE file = CreateFileW(
        wide(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = last_reason();
      return false;
    }
    OVERLAPPED where{};
    where.OffsetHigh = APPEND_LOCK_OFFSET_HIGH;
    const bool turn =
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) != 0;
    const bool written = write_all(file, line);
    if (!written) {
      error = last_reason();
    }
    if (turn) {
      UnlockFileEx(file, 0, 1, 0, &where);
    }
    CloseHandle(file);
    return written;
  }

  bool rename_new(const std::string& from, const std::string& to,
                  std::string& error) override {
    if (!MoveFileExW(wide(from).c_str(), wide(to).c_str(), 0)) {
      error = last_reason();
      return false;
    }
    return true;
  }

  bool remove_file(const std::string& path) override {
    return DeleteFileW(wide(path).c_str()) != 0;
  }

  // The lock belongs to the handle: a second handle conflicts even within
  // one process, and the lock goes when the handle is closed or the
  // process ends.
  std::int64_t try_lock(const std::string& path) override {
    const HANDLE file =
        CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return 0;
    }
    OVERLAPPED where{};
    where.OffsetHigh = LOCK_OFFSET_HIGH;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                    0, 1, 0, &where)) {
      CloseHandle(file);
      return 0;
    }
    return reinterpret_cast<std::int64_t>(file);
  }

  void release_lock(std::int64_t lock) override {
    if (lock == 0) {
      return;
    }
    const HANDLE file = reinterpret_cast<HANDLE>(lock);
    OVERLAPPED where{};
    where.OffsetHigh = LOCK_OFFSET_HIGH;
    UnlockFileEx(file, 0, 1, 0, &where);
    CloseHandle(file);
  }

  std::string absolute(const std::string& path) override {
    const std::wstring given = wide(path.empty() ? "." : path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetFullPathNameW(
          given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
      if (n == 0) {
        return "";
      }
      if (n < full.size()) {
        full.resize(n);
        return narrow(full);
      }
      full.resize(n);
    }
  }

  // The output file is made here, so a relative output path is taken from
  // the batch's folder, and so is a relative program path. A child that
  // cannot be started leaves no output file. The child's id is its process
  // id.
  ChildId start_child(const std::string& program, const std::string& image,
                      const std::string& folder, const std::string& output,
                      std::string& error) override {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE input = CreateFileW(
        L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
      error = last_reason();
      return 0;
    }
    const std::wstring output_path = wide(output);
    const HANDLE out =
        CreateFileW(output_path.c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &inheritable, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      error = last_reason();
      CloseHandle(input);
      return 0;
    }
    const std::string found = absolute(program);
    const std::wstring program_path = wide(found.empty() ? program : found);
    PROCESS_INFORMATION started{};
    const bool made =
        create_process(program_path, command_line(program_path, wide(image)),
                       wide(folder), input, out, started);
    const DWORD failed = GetLastError();
    CloseHandle(input);
    CloseHandle(out);
    if (!made) {
      error = reason(failed);
      DeleteFileW(output_path.c_str());
      return 0;
    }
    if (children_job != nullptr) {
      AssignProcessToJobObject(children_job, started.hProcess);
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    children.push_back({started.dwProcessId, started.hProcess});
    return started.dwProcessId;
  }

  // The auto-reset event is taken by the wait it wakes. One wait takes 63
  // children and the event; with more, each group is looked at in turn.
  ChildEnd wait_child(double timeout_seconds) override {
    constexpr std::size_t GROUP = MAXIMUM_WAIT_OBJECTS - 1;
    const double deadline = now() + timeout_seconds;
    for (;;) {
      const double left = std::max(0.0, deadline - now());
      // Rounded up, so a wait never ends just short of the deadline.
      const DWORD milliseconds = static_cast<DWORD>(left * 1000) + 1;
      const bool one_group = children.size() <= GROUP;
      for (std::size_t first = 0; first < children.size() || first == 0;
           first += GROUP) {
        std::vector<HANDLE> handles;
        for (std::size_t i = first;
             i < children.size() && handles.size() < GROUP; ++i) {
          handles.push_back(children[i].process);
        }
        handles.push_back(interrupt_event);
        const DWORD woken = WaitForMultipleObjects(
            static_cast<DWORD>(handles.size()), handles.data(), FALSE,
            one_group ? milliseconds : 0);
        if (woken >= WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + handles.size()) {
          const std::size_t index = woken - WAIT_OBJECT_0;
          if (index + 1 == handles.size()) {
            return {};
          }
          return ended(first + index);
        }
        if (woken == WAIT_FAILED) {
          return {0, -1};
        }
      }
      if (left <= 0 || one_group) {
        return {};
      }
      if (WaitForSingleObject(interrupt_event,
                              std::min<DWORD>(milliseconds, 20)) ==
          WAIT_OBJECT_0) {
        return {};
      }
    }
  }

  bool interrupted() override { return interrupts != 0; }

  bool error_is_terminal() override {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  }

  int terminal_width() override {
    CONSOLE_SCREEN_BUFFER_INFO about{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &about)) {
      const int width = about.srWindow.Right - about.srWindow.Left + 1;
      if (width > 0) {
        return width;
      }
    }
    return 80;
  }

  void write_out(std::string_view text) override {
    write_standard(STD_OUTPUT_HANDLE, text);
  }

  void write_error(std::string_view text) override {
    write_standard(STD_ERROR_HANDLE, text);
  }

  double now() override {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER count{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  }

  int processors() override {
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return count > 0 ? static_cast<int>(count) : 1;
  }

  std::string own_program() override {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetModuleFileNameW(nullptr, path.data(),
                                         static_cast<DWORD>(path.size()));
      if (n == 0) {
        return "";
      }
      if (n < path.size()) {
        path.resize(n);
        return narrow(path);
      }
      path.resize(path.size() * 2);
    }
  }

  std::string_view line_end() override { return "\r\n"; }
};

} // namespace

// Every platform made shares the one table of children and the handler.
std::unique_ptr<BatchPlatform> make_system_batch_platform() {
  static const bool installed = (install_handlers(), true);
  (void)installed;
  return std::make_unique<Win32BatchPlatform>();
}

std::vector<std::string> batch_arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide_arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide_arguments == nullptr) {
    return std::vector<std::string>(argv, argv + std::max(argc, 0));
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(narrow(wide_arguments[i]));
  }
  LocalFree(wide_arguments);
  return arguments;
}

std::string program_beside(BatchPlatform& platform, std::string_view name) {
  const std::string own = platform.own_program();
  const std::size_t slash = own.find_last_of("/\\");
  const std::string file = std::string(name) + ".exe";
  if (slash == std::string::npos) {
    return file;
  }
  return own.substr(0, slash + 1) + file;
}

} // namespace vetrik
