// Runs the tool with CreateProcessW, standard output on a pipe.
#include <windows.h>

#include "tests/run_tool.h"

#include <atomic>
#include <stdexcept>

namespace vetrik::tape {

const bool CAN_LIMIT_FILE_SIZE = false;

namespace {

std::wstring wide(const std::string& text) {
  std::wstring result(text.size(), L'\0');
  const int n = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
      static_cast<int>(text.size()));
  result.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return result;
}

Result run(const std::filesystem::path& dir, std::wstring command_line,
           const Launch& launch) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (CreatePipe(&read_end, &write_end, &inherited, 0) == 0) {
    throw std::runtime_error("CreatePipe failed");
  }
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  if (launch.out == Stdout::BROKEN_PIPE) {
    CloseHandle(read_end); // every write to the pipe now fails
    read_end = nullptr;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  // A closed stream is one the process starts without; a handle open for
  // reading only refuses every write.
  HANDLE refusing = nullptr;
  if (launch.out == Stdout::REFUSING) {
    refusing =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
  }
  startup.hStdOutput = launch.out == Stdout::CLOSED     ? nullptr
                       : launch.out == Stdout::REFUSING ? refusing
                                                        : write_end;
  PROCESS_INFORMATION process{};
  const std::wstring binary =
      std::filesystem::absolute(VETRIK_BINARY).wstring();
  const BOOL started = CreateProcessW(
      binary.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
      dir.wstring().c_str(), &startup, &process);
  CloseHandle(write_end);
  if (refusing != nullptr && refusing != INVALID_HANDLE_VALUE) {
    CloseHandle(refusing);
  }
  if (started == 0) {
    if (read_end != nullptr) {
      CloseHandle(read_end);
    }
    throw std::runtime_error("CreateProcessW failed");
  }
  if (launch.started) {
    launch.started(static_cast<long>(process.dwProcessId));
  }
  Result result;
  if (read_end != nullptr) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) != 0 &&
           n > 0) {
      result.out.append(buffer, n);
    }
    CloseHandle(read_end);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  result.status = static_cast<int>(status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

} // namespace

Result run_tool(const std::filesystem::path& dir,
                const std::vector<std::string>& args, const Launch& launch) {
  std::string text;
  for (const std::string& arg : args) {
    if (!text.empty()) {
      text += ' ';
    }
    const bool quoted = arg.empty() || arg.find(' ') != std::string::npos;
    text += quoted ? '"' + arg + '"' : arg;
  }
  return run(dir, wide(text), launch);
}

Result run_command_line(const std::filesystem::path& dir,
                        const std::string& text) {
  return run(dir, wide(text), {});
}

std::filesystem::path make_temp_dir() {
  static std::atomic<unsigned> made{0};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path =
        base / ("vetrik_e2e_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(made++));
    if (std::filesystem::create_directory(path)) {
      return path;
    }
  }
  throw std::runtime_error("no fresh temporary directory");
}

} // namespace vetrik::tape
