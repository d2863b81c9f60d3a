// Runs of the Windows program that only Windows can show: device names, the
// command line as one text, and console text through a pipe.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include <windows.h>

#include "tests/run_tool.h"
#include "tests/tape_builder.h"

namespace vetrik::tape {
namespace {

namespace fs = std::filesystem;

class EndToEndWin32 : public ::testing::Test {
protected:
  fs::path at(const std::string& name) const { return dir_.path() / name; }

  // Every file in the directory, with its bytes.
  std::map<std::string, Bytes> files() const {
    std::map<std::string, Bytes> found;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(dir_.path())) {
      found[entry.path().filename().string()] = read_bytes(entry.path());
    }
    return found;
  }

  TempDir dir_;
};

TEST_F(EndToEndWin32, DeviceNamesAreTakenSoTheFileGetsANumber) {
  Bytes image;
  std::string expected;
  std::map<std::string, Bytes> left;
  const auto add = [&](const std::string& name, const std::string& suffix) {
    const Bytes payload = pattern(5, static_cast<std::uint32_t>(left.size()));
    append(image, tape_file(name, payload));
    const std::string file = name + std::string(10 - name.size(), ' ') + suffix;
    expected += "Extracting " + file + "\r\n";
    left[file] = payload;
  };
  for (const std::string device :
       {"CON", "nul", "Aux", "prn", "com1", "LPT9", "CONIN$", "conout$"}) {
    add(device, "(1).B");
  }
  for (const std::string plain : {"console", "COM10", "LPT0x", "xNUL"}) {
    add(plain, ".B");
  }
  write_bytes(at("tape.tap"), image);
  const Result r = run_tool(dir_.path(), {"vetrik", "tape.tap"});
  EXPECT_EQ(r.out, expected + "done!");
  EXPECT_EQ(r.status, 0);
  left["tape.tap"] = image;
  EXPECT_EQ(files(), left);
}

// "nul.x     (1).B" is the null device as much as "nul.x     .B": no file of
// that name can be made, and the run goes on with the next one.
TEST_F(EndToEndWin32, ADeviceNameBeforeAnEarlierDotIsAWriteError) {
  Bytes image = tape_file("nul.x", pattern(5));
  append(image, tape_file("next", pattern(6)));
  write_bytes(at("tape.tap"), image);
  const Result r = run_tool(dir_.path(), {"vetrik", "tape.tap"});
  EXPECT_EQ(r.out, "Write Error nul.x     .BExtracting next      .B\r\ndone!");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(files().size(), 2U);
}

// A pipe hands the image over in pieces and ends when its writer closes it:
// the tool reads it to that end, and takes the end for no error.
TEST_F(EndToEndWin32, AnImageThroughANamedPipeIsReadToItsEnd) {
  Bytes image;
  std::string expected;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "f" + std::to_string(i);
    append(image,
           tape_file(name, pattern(3000, static_cast<std::uint32_t>(i))));
    expected += "Extracting " + name + std::string(8, ' ') + ".B\r\n";
  }
  const std::string pipe_name =
      "\\\\.\\pipe\\vetrik_test_" + std::to_string(GetCurrentProcessId());
  const HANDLE pipe =
      CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND,
                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::thread feeder([&] {
    if (ConnectNamedPipe(pipe, nullptr) == 0 &&
        GetLastError() != ERROR_PIPE_CONNECTED) {
      return;
    }
    for (std::size_t at = 0; at < image.size(); at += 1000) {
      DWORD written = 0;
      WriteFile(
          pipe, image.data() + at,
          static_cast<DWORD>(std::min<std::size_t>(1000, image.size() - at)),
          &written, nullptr);
      Sleep(1);
    }
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
  });
  const Result r = run_tool(dir_.path(), {"vetrik", pipe_name});
  feeder.join();
  CloseHandle(pipe);
  EXPECT_EQ(r.out, expected + "done!");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_bytes(at("f5        .B")), pattern(3000, 5));
}

TEST_F(EndToEndWin32, TheCommandLineIsCutByTheToolsOwnRules) {
  const Bytes payload = pattern(12);
  write_bytes(at("my tape.tap"), tape_file("quoted", payload));
  // A C runtime would read one parameter "my tape.tapx" here.
  Result r = run_command_line(dir_.path(), "vetrik.exe \"my tape.tap\"x");
  EXPECT_EQ(r.out, "Extracting quoted    .B\r\ndone!");
  EXPECT_EQ(r.status, 0);
  // Backslashes escape nothing.
  r = run_command_line(dir_.path(), "vetrik.exe \\\"my");
  EXPECT_EQ(r.out, "cannot read \\\"my");
  EXPECT_EQ(r.status, 1);
  // Two quotes make an empty parameter, which is not a missing one.
  r = run_command_line(dir_.path(), "vetrik.exe \"\"");
  EXPECT_EQ(r.out, "cannot read ");
  EXPECT_EQ(r.status, 1);
  r = run_command_line(dir_.path(), "  vetrik.exe   ");
  EXPECT_EQ(r.out, "usage: vetrik filename.tap");
  EXPECT_EQ(r.status, 2);
}

TEST_F(EndToEndWin32, APipeGetsTheConsoleTextAsUtf8) {
  const std::string name = "b\xC3\xA4nd \xE2\x82\xAC\xF0\x9F\x98\x80.tap";
  write_bytes(dir_.path() / std::u8string(name.begin(), name.end()),
              tape_file("found", pattern(3)));
  Result r = run_tool(dir_.path(), {"vetrik", name});
  EXPECT_EQ(r.out, "Extracting found     .B\r\ndone!");
  r = run_tool(dir_.path(), {"vetrik", "missing " + name});
  EXPECT_EQ(r.out, "cannot read missing " + name);
}

} // namespace
} // namespace vetrik::tape
