// End-to-end runs that only a POSIX system can set up.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/run_tool.h"

namespace vetrik::tape {
namespace {

namespace fs = std::filesystem;

TEST(EndToEndPosix, AnImageWithoutReadPermissionIsReportedWithExit1AndNoDone) {
  TempDir dir;
  // An unprivileged run may look into the directory, not write to it.
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  const fs::path image = dir.path() / "tape.tap";
  write_bytes(image, {});
  fs::permissions(image, fs::perms::owner_write);
  Result r =
      run_tool(dir.path(), {"vetrik", "tape.tap"}, {.unprivileged = true});
  if (r.status == UNPRIVILEGED_FAILED) {
    GTEST_SKIP() << "root, and cannot run as an ordinary user";
  }
  EXPECT_EQ(r.out, "cannot read tape.tap");
  EXPECT_EQ(r.status, 1);
  // Readable, the same image is unpacked: the refusal was the permission's.
  fs::permissions(image, fs::perms::owner_read | fs::perms::others_read);
  r = run_tool(dir.path(), {"vetrik", "tape.tap"}, {.unprivileged = true});
  EXPECT_EQ(r.out, "done!");
  EXPECT_EQ(r.status, 0);
}

} // namespace
} // namespace vetrik::tape
