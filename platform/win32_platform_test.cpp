// path_entry over the Windows platform itself: drives, directories that a
// directory search cannot see, device names and reparse points.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fileio/file_access.h"
#include "tests/entry_text.h"
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

TEST(Win32PathEntry, ADriveIsADirectoryExactlyWhenItsVolumeExists) {
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
  EXPECT_EQ(entry_text(path_entry(present)), "directory");
  EXPECT_EQ(entry_text(path_entry(present + "\\")), "directory");
  EXPECT_EQ(entry_text(path_entry(absent)), "missing");
  EXPECT_EQ(entry_text(path_entry(absent + "\\")), "missing");
}

TEST(Win32PathEntry, RootsThatNoSearchFindsAreDirectories) {
  const InDirectory root(fs::current_path().root_path());
  EXPECT_EQ(entry_text(path_entry("..")), "directory");
  EXPECT_EQ(entry_text(path_entry("..\\\\")), "directory");
  EXPECT_EQ(entry_text(path_entry("\\\\\\")), "missing");
}

TEST(Win32PathEntry, TrailingBackslashesAreIgnored) {
  const tape::TempDir dir;
  tape::write_bytes(dir.path() / "three", {1, 2, 3});
  const std::string base = dir.path().string();
  EXPECT_EQ(entry_text(path_entry(base + "\\\\")), "directory");
  EXPECT_EQ(entry_text(path_entry(base + "\\three\\")), "file 3");
  EXPECT_EQ(entry_text(path_entry(base + "\\none")), "missing");
}

TEST(Win32PathEntry, DeviceNamesAreTakenOrRefused) {
  const tape::TempDir dir;
  const InDirectory inside(dir.path());
  for (const char* device :
       {"CON       .B", "nul.txt", "sub\\Com1 .1", "LPT9"}) {
    EXPECT_EQ(entry_text(path_entry(device)), "other") << device;
  }
  // Whatever is put before the extension, this stays the console.
  EXPECT_EQ(entry_text(path_entry("con.x     .B")), "reserved");
  for (const char* file : {"CONSOLE.B", "CON(1).B", "COM0.B", "COM10.B"}) {
    EXPECT_EQ(entry_text(path_entry(file)), "missing") << file;
  }
}

TEST(Win32PathEntry, AReparsePointIsTakenAndNeverADirectory) {
  const tape::TempDir dir;
  std::error_code error;
  fs::create_directory_symlink(dir.path(), dir.path() / "to_dir", error);
  if (error) {
    GTEST_SKIP() << "no symbolic links can be made here: " << error.message();
  }
  fs::create_symlink(dir.path() / "absent", dir.path() / "dangling");
  EXPECT_EQ(path_entry((dir.path() / "to_dir").string()).kind, EntryKind::LINK);
  EXPECT_EQ(path_entry((dir.path() / "dangling").string()).kind,
            EntryKind::LINK);
}

} // namespace
} // namespace vetrik
