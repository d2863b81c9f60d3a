// path_size over the Windows platform itself: drives, directories that a
// directory search cannot see, device names and reparse points.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fileio/file_access.h"
#include "tests/run_tool.h"

// Last: its macros would rewrite names in the headers above.
#include <windows.h>

namespace vetrik {
namespace {

namespace fs = std::filesystem;

// Runs a test body from another current directory.
class InDirectory {
public:
  explicit InDirectory(const fs::path& dir) : saved_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~InDirectory() { fs::current_path(saved_); }

private:
  fs::path saved_;
};

TEST(Win32PathSize, ADriveIsADirectoryExactlyWhenItsVolumeExists) {
  const DWORD drives = GetLogicalDrives();
  std::string present;
  std::string absent;
  for (char letter = 'C'; letter <= 'Y'; ++letter) {
    std::string& pick = (drives >> (letter - 'A') & 1) != 0 ? present : absent;
    if (pick.empty()) {
      pick = std::string(1, letter) + ":";
    }
  }
  ASSERT_FALSE(present.empty());
  ASSERT_FALSE(absent.empty());
  EXPECT_EQ(path_size(present), SIZE_DIRECTORY);
  EXPECT_EQ(path_size(present + "\\"), SIZE_DIRECTORY);
  EXPECT_EQ(path_size(absent), SIZE_MISSING);
  EXPECT_EQ(path_size(absent + "\\"), SIZE_MISSING);
}

TEST(Win32PathSize, RootsThatNoSearchFindsAreDirectories) {
  const InDirectory root(fs::current_path().root_path());
  EXPECT_EQ(path_size(".."), SIZE_DIRECTORY);
  EXPECT_EQ(path_size("..\\\\"), SIZE_DIRECTORY);
  EXPECT_EQ(path_size("\\\\\\"), SIZE_MISSING);
}

TEST(Win32PathSize, TrailingBackslashesAreIgnored) {
  const tape::TempDir dir;
  tape::write_bytes(dir.path() / "three", {1, 2, 3});
  const std::string base = dir.path().string();
  EXPECT_EQ(path_size(base + "\\\\"), SIZE_DIRECTORY);
  EXPECT_EQ(path_size(base + "\\three\\"), 3);
  EXPECT_EQ(path_size(base + "\\none"), SIZE_MISSING);
}

TEST(Win32PathSize, DeviceNamesAreTakenOrRefused) {
  const tape::TempDir dir;
  const InDirectory inside(dir.path());
  for (const char* device :
       {"CON       .B", "nul.txt", "sub\\Com1 .1", "LPT9"}) {
    EXPECT_EQ(path_size(device), 1) << device;
  }
  // Whatever is put before the extension, this stays the console.
  EXPECT_EQ(path_size("con.x     .B"), SIZE_DIRECTORY);
  for (const char* file : {"CONSOLE.B", "CON(1).B", "COM0.B", "COM10.B"}) {
    EXPECT_EQ(path_size(file), SIZE_MISSING) << file;
  }
}

TEST(Win32PathSize, AReparsePointIsTakenAndNeverADirectory) {
  const tape::TempDir dir;
  std::error_code error;
  fs::create_directory_symlink(dir.path(), dir.path() / "to_dir", error);
  if (error) {
    GTEST_SKIP() << "no symbolic links can be made here: " << error.message();
  }
  fs::create_symlink(dir.path() / "absent", dir.path() / "dangling");
  EXPECT_GE(path_size((dir.path() / "to_dir").string()), 1);
  EXPECT_GE(path_size((dir.path() / "dangling").string()), 1);
}

} // namespace
} // namespace vetrik
