// The batch's platform on the system it runs on: folder walks, files made
// whole or not at all, lines from several processes, locks between
// processes, and children started, waited for and interrupted. The test
// program itself is the child, started again with a word of what to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/batch_platform.h"
#include "tests/run_tool.h"

#ifdef _WIN32
// Last: its macros would rewrite names in the headers above.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace vetrik {
namespace {

namespace fs = std::filesystem;

// Set in the environment of a child that is to act for a test.
constexpr const char* CHILD_VARIABLE = "VETRIK_BATCH_TEST_CHILD";

// The one argument the program was started with; "" when none.
std::string first_argument() {
#ifdef _WIN32
  return __argc > 1 ? __argv[1] : "";
#else
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string program;
  std::string argument;
  std::getline(in, program, '\0');
  std::getline(in, argument, '\0');
  return argument;
#endif
}

void say(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

// Whether handle (a descriptor, or a Windows handle value) is open here.
bool handle_open(long long handle) {
#ifdef _WIN32
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags) != 0;
#else
  return ::fcntl(static_cast<int>(handle), F_GETFD) != -1;
#endif
}

// "report STATUS HANDLE TEXT": tells what it was given and where it runs,
// and ends with STATUS.
int report(std::istringstream& words, const std::string& image) {
  int status = 0;
  long long handle = 0;
  words >> status >> handle;
  say(stdout, "image: " + image + "\n");
  say(stderr, "to standard error\n");
  char byte;
  say(stdout,
      "input: " + std::to_string(std::fread(&byte, 1, 1, stdin)) + " bytes\n");
  say(stdout, std::string("handle: ") +
                  (handle_open(handle) ? "open" : "closed") + "\n");
  std::ofstream("made-here") << "here\n";
  return status;
}

// "append COUNT PATH": COUNT long lines, each whole or not at all.
int append_lines(std::istringstream& words) {
  int count = 0;
  std::string path;
  words >> count;
  std::getline(words >> std::ws, path);
  auto platform = make_system_batch_platform();
#ifdef _WIN32
  const std::string tag = std::to_string(GetCurrentProcessId());
#else
  const std::string tag = std::to_string(::getpid());
#endif
  for (int i = 0; i < count; ++i) {
    const std::string line =
        tag + " " + std::to_string(i) + " " + std::string(1500, 'x') + "\n";
    std::string error;
    if (!platform->append(path, line, error)) {
      return 2;
    }
  }
  return 0;
}

// "lock PATH": 0 when it took the lock, which it keeps to the end; 1 when
// another holds it.
int take_lock(std::istringstream& words) {
  std::string path;
  std::getline(words >> std::ws, path);
  return make_system_batch_platform()->try_lock(path) != 0 ? 0 : 1;
}

#ifndef _WIN32
// "interrupt": starts a child that sleeps, says "ready", and tells how the
// waits went once SIGTERM has come.
int be_interrupted() {
  auto platform = make_system_batch_platform();
  std::string error;
  if (platform->start_child(platform->own_program(), "sleep", ".",
                            "grandchild.txt", error) == 0) {
    return 2;
  }
  say(stdout, "ready\n");
  const double start = platform->now();
  const ChildEnd woken = platform->wait_child(30);
  const bool soon = platform->now() - start < 10;
  say(stdout, "woke " + std::to_string(woken.id) + (soon ? " soon\n" : "\n"));
  const ChildEnd child = platform->wait_child(10);
  say(stdout, "grandchild " + std::to_string(child.exit_status) + "\n");
  say(stdout, std::string("interrupted ") +
                  (platform->interrupted() ? "yes" : "no") + "\n");
  return 0;
}

// "write-limited PATH": writes a file larger than the process may make.
int write_limited(std::istringstream& words) {
  std::string path;
  std::getline(words >> std::ws, path);
  const rlimit limit{1000, 1000};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, SIG_IGN);
  std::string error;
  const bool written = make_system_batch_platform()->write_new_file(
      path, std::string(5000, 'z'), error);
  say(stdout, (written ? "written" : "refused: " + error) + "\n");
  return 0;
}
#endif

// Does what a child is asked to and ends, before any test runs; does
// nothing in the test program itself.
int act_as_child() {
#ifdef _WIN32
  // Text as it is, without "\r" put before each line end.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  const std::string image = first_argument();
  std::istringstream words(image);
  std::string word;
  words >> word;
  if (word == "report") {
    return report(words, image);
  }
  if (word == "sleep") {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  if (word == "append") {
    return append_lines(words);
  }
  if (word == "lock") {
    return take_lock(words);
  }
#ifndef _WIN32
  if (word == "interrupt") {
    return be_interrupted();
  }
  if (word == "write-limited") {
    return write_limited(words);
  }
#endif
  return 99;
}

[[maybe_unused]] const bool acting_as_child = [] {
  if (std::getenv(CHILD_VARIABLE) != nullptr) {
    std::_Exit(act_as_child());
  }
  return false;
}();

void set_child_variable(bool set) {
#ifdef _WIN32
  SetEnvironmentVariableA(CHILD_VARIABLE, set ? "1" : nullptr);
#else
  set ? ::setenv(CHILD_VARIABLE, "1", 1) : ::unsetenv(CHILD_VARIABLE);
#endif
}

// Starts the test program as a child doing what image says.
ChildId start_helper(BatchPlatform& platform, const std::string& image,
                     const fs::path& folder, const fs::path& output) {
  set_child_variable(true);
  std::string error;
  const ChildId id = platform.start_child(
      platform.own_program(), image, folder.string(), output.string(), error);
  set_child_variable(false);
  EXPECT_NE(id, 0) << error;
  return id;
}

// Waits for child, the only one running, to end; its exit status, or -2
// when it did not end.
int status_of(BatchPlatform& platform, ChildId child) {
  for (;;) {
    const ChildEnd end = platform.wait_child(30);
    if (end.id == 0) {
      return -2;
    }
    if (end.id == child) {
      return end.exit_status;
    }
  }
}

void end_child(ChildId child) {
#ifdef _WIN32
  const HANDLE process =
      OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(child));
  TerminateProcess(process, 9);
  CloseHandle(process);
#else
  ::kill(static_cast<pid_t>(child), SIGKILL);
#endif
}

// What a child ended by end_child gives.
#ifdef _WIN32
constexpr int ENDED_STATUS = 9;
#else
constexpr int ENDED_STATUS = 128 + 9;
#endif

std::string text_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string kind_text(BatchEntryKind kind) {
  switch (kind) {
  case BatchEntryKind::MISSING:
    return "missing";
  case BatchEntryKind::FILE:
    return "file";
  case BatchEntryKind::FOLDER:
    return "folder";
  case BatchEntryKind::LINK:
    return "link";
  case BatchEntryKind::OTHER:
    return "other";
  }
  return "?";
}

std::string entry_text(const BatchEntry& entry) {
  return entry.name + " " + kind_text(entry.kind) +
         (entry.kind == BatchEntryKind::FILE ? " " + std::to_string(entry.size)
                                             : "");
}

TEST(BatchFolders, AListingSeesFilesFoldersAndLinksAndFollowsNone) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  tape::write_bytes(dir.path() / "tape.tap", tape::pattern(5));
  fs::create_directory(dir.path() / "sub");
  tape::write_bytes(dir.path() / "sub" / "inner.tzx", tape::pattern(3));
  std::error_code no_link;
  fs::create_directory_symlink(dir.path() / "sub", dir.path() / "link",
                               no_link);
  std::vector<std::string> expected = {"sub folder", "tape.tap file 5"};
  if (!no_link) {
    expected.insert(expected.begin(), "link link");
  }

  std::vector<BatchEntry> entries;
  std::string error;
  ASSERT_TRUE(platform->list_folder(dir.path().string(), entries, error))
      << error;
  std::vector<std::string> seen;
  for (const BatchEntry& entry : entries) {
    seen.push_back(entry_text(entry));
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, expected);

  const std::string missing = (dir.path() / "missing").string();
  EXPECT_FALSE(platform->list_folder(missing, entries, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(entry_text(platform->look(missing, true)), "missing missing");
  EXPECT_EQ(
      entry_text(platform->look((dir.path() / "tape.tap").string(), false)),
      "tape.tap file 5");
  if (!no_link) {
    const std::string link = (dir.path() / "link").string();
    EXPECT_EQ(entry_text(platform->look(link, false)), "link link");
    EXPECT_EQ(entry_text(platform->look(link, true)), "link folder");
  }
}

TEST(BatchFolders, IdentityIsTheSameByEveryPathAndDiffersBetweenEntries) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  fs::create_directories(dir.path() / "a" / "b");
  tape::write_bytes(dir.path() / "a" / "file", {});
  FileIdentity folder;
  FileIdentity by_detour;
  FileIdentity file;
  ASSERT_TRUE(platform->identity((dir.path() / "a").string(), folder));
  ASSERT_TRUE(
      platform->identity((dir.path() / "a" / "b" / "..").string(), by_detour));
  ASSERT_TRUE(platform->identity((dir.path() / "a" / "file").string(), file));
  EXPECT_EQ(folder, by_detour);
  EXPECT_NE(folder, file);
  EXPECT_FALSE(platform->identity((dir.path() / "none").string(), file));
}

TEST(BatchFolders, MakingFoldersSucceedsExactlyWhenAFolderIsThereAfter) {
  struct Case {
    std::string path; // within a folder holding the file "file"
    bool made;
  };
  const std::vector<Case> cases = {
      {"new", true},
      {"deep/er/still", true},
      {"deep/er", true}, // there already
      {"deep/er/still/", true},
      {"file", false},
      {"file/under", false},
  };
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  tape::write_bytes(dir.path() / "file", {});
  for (const Case& c : cases) {
    const fs::path path = dir.path() / c.path;
    std::string error;
    EXPECT_EQ(platform->make_folders(path.string(), error), c.made) << c.path;
    EXPECT_EQ(fs::is_directory(path), c.made) << c.path;
    EXPECT_EQ(error.empty(), c.made) << c.path << ": " << error;
  }
}

TEST(BatchFiles, ANewFileIsWrittenWholeAndReadBackInPieces) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path path = dir.path() / "list.txt";
  std::string contents;
  for (int i = 0; contents.size() < 300'000; ++i) {
    contents += std::to_string(i) + "\n";
  }
  std::string error;
  ASSERT_TRUE(platform->write_new_file(path.string(), contents, error))
      << error;
  std::string read;
  std::size_t largest = 0;
  ASSERT_TRUE(platform->read_file(
      path.string(),
      [&](std::span<const char> piece) {
        read.append(piece.data(), piece.size());
        largest = std::max(largest, piece.size());
      },
      error))
      << error;
  EXPECT_EQ(read, contents);
  EXPECT_LE(largest, 64u * 1024);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"list.txt"});
  EXPECT_FALSE(platform->read_file((dir.path() / "none").string(),
                                   [](std::span<const char>) {}, error));
  EXPECT_FALSE(error.empty());
}

TEST(BatchFiles, WritingOrRenamingNeverReplacesAndLeavesNoTemporaryFile) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path taken = dir.path() / "taken";
  const fs::path other = dir.path() / "other";
  tape::write_bytes(taken, tape::pattern(7));
  tape::write_bytes(other, tape::pattern(9));
  fs::create_directory(dir.path() / "folder");
  std::string error;

  EXPECT_FALSE(platform->write_new_file(taken.string(), "new", error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(platform->write_new_file((dir.path() / "missing" / "x").string(),
                                        "new", error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(platform->rename_new(other.string(), taken.string(), error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(platform->rename_new((dir.path() / "folder").string(),
                                    taken.string(), error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(tape::read_bytes(taken), tape::pattern(7));
  EXPECT_EQ(tape::read_bytes(other), tape::pattern(9));

  EXPECT_TRUE(platform->rename_new(other.string(),
                                   (dir.path() / "moved").string(), error))
      << error;
  EXPECT_TRUE(platform->rename_new((dir.path() / "folder").string(),
                                   (dir.path() / "folder2").string(), error))
      << error;
  EXPECT_TRUE(platform->remove_file(taken.string()));
  EXPECT_FALSE(platform->remove_file(taken.string()));
  EXPECT_EQ(names_in(dir.path()),
            (std::vector<std::string>{"folder2", "moved"}));
}

#ifndef _WIN32
TEST(BatchFiles, AFullDiskGivesAReasonAndLeavesNothingBehind) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path path = dir.path() / "big";
  const ChildId child =
      start_helper(*platform, "write-limited " + path.string(), dir.path(),
                   dir.path() / "out.txt");
  ASSERT_EQ(status_of(*platform, child), 0);
  EXPECT_EQ(text_of(dir.path() / "out.txt"), "refused: File too large\n");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.txt"});
}
#endif

TEST(BatchFiles, LinesAppendedBySeveralProcessesStayWhole) {
  constexpr int PROCESSES = 4;
  constexpr int LINES = 100;
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path log = dir.path() / "log.txt";
  std::vector<ChildId> children;
  for (int i = 0; i < PROCESSES; ++i) {
    children.push_back(start_helper(
        *platform, "append " + std::to_string(LINES) + " " + log.string(),
        dir.path(), dir.path() / ("out" + std::to_string(i))));
  }
  // They end in any order.
  std::map<ChildId, int> status_of_child;
  for (int i = 0; i < PROCESSES; ++i) {
    const ChildEnd end = platform->wait_child(30);
    ASSERT_NE(end.id, 0);
    status_of_child[end.id] = end.exit_status;
  }
  for (const ChildId child : children) {
    EXPECT_EQ(status_of_child[child], 0);
  }
  // Each writer's lines come whole and in its order.
  std::ifstream in(log, std::ios::binary);
  std::map<std::string, int> next_of;
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    int number = -1;
    std::string body;
    words >> tag >> number >> body;
    ASSERT_EQ(body, std::string(1500, 'x')) << "line " << lines;
    EXPECT_EQ(number, next_of[tag]++) << tag;
    ++lines;
  }
  EXPECT_EQ(lines, PROCESSES * LINES);
  EXPECT_EQ(next_of.size(), static_cast<std::size_t>(PROCESSES));
}

TEST(BatchLocks, ALockKeepsOutEveryOtherHolderUntilItsHolderEnds) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path path = dir.path() / "lock";
  const auto other_process_takes = [&] {
    const ChildId child = start_helper(*platform, "lock " + path.string(),
                                       dir.path(), dir.path() / "out");
    const int status = status_of(*platform, child);
    fs::remove(dir.path() / "out");
    return status == 0;
  };

  const std::int64_t held = platform->try_lock(path.string());
  ASSERT_NE(held, 0);
  EXPECT_EQ(platform->try_lock(path.string()), 0); // a second open here
  EXPECT_FALSE(other_process_takes());
  platform->release_lock(held);

  // The child ends holding the lock, without giving it back.
  EXPECT_TRUE(other_process_takes());
  const std::int64_t again = platform->try_lock(path.string());
  EXPECT_NE(again, 0);
  platform->release_lock(again);
  EXPECT_EQ(platform->try_lock((dir.path() / "no" / "lock").string()), 0);
}

TEST(BatchChildren, AChildRunsInItsFolderWithItsOutputCapturedAndStatusGiven) {
  struct Case {
    std::string text; // given after the status and the handle
    int status;
  };
  const std::vector<Case> cases = {
      {"plain", 0},
      {"with  two spaces", 3},
      {"\"quoted\" and \\\"escaped\\\"", 7},
      {"a\\back\\slash and a tail \\", 255},
  };
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path lock = dir.path() / "lock";
  // A handle the batch holds must not reach the child.
  const std::int64_t held = platform->try_lock(lock.string());
  ASSERT_NE(held, 0);
#ifdef _WIN32
  const long long handle = held;
#else
  const long long handle = held - 1;
#endif
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const fs::path folder = dir.path() / ("run " + std::to_string(i));
    fs::create_directory(folder);
    const fs::path output = dir.path() / ("out" + std::to_string(i) + ".txt");
    const std::string image = "report " + std::to_string(c.status) + " " +
                              std::to_string(handle) + " " + c.text;
    const ChildId child = start_helper(*platform, image, folder, output);
    EXPECT_EQ(status_of(*platform, child), c.status) << c.text;
    EXPECT_EQ(text_of(output), "image: " + image +
                                   "\nto standard error\ninput: 0 bytes\n"
                                   "handle: closed\n")
        << c.text;
    EXPECT_TRUE(fs::exists(folder / "made-here")) << c.text;
  }
  platform->release_lock(held);
}

TEST(BatchChildren, AChildThatCannotStartGivesAReasonAndNoOutput) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path taken = dir.path() / "taken.txt";
  tape::write_bytes(taken, tape::pattern(4));
  struct Case {
    std::string program;
    std::string folder;
    fs::path output;
  };
  const std::string self = platform->own_program();
  ASSERT_FALSE(self.empty());
  const std::vector<Case> cases = {
      {(dir.path() / "no-program").string(), dir.path().string(),
       dir.path() / "out1"},
      {self, (dir.path() / "no-folder").string(), dir.path() / "out2"},
      {self, dir.path().string(), taken},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(platform->start_child(c.program, "report 0 0 x", c.folder,
                                    c.output.string(), error),
              0)
        << c.program << " in " << c.folder;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"taken.txt"});
  EXPECT_EQ(tape::read_bytes(taken), tape::pattern(4));
}

TEST(BatchChildren, AWaitEndsAtItsTimeoutAndThenWithTheEndedChild) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  double start = platform->now();
  EXPECT_EQ(platform->wait_child(0.2).id, 0); // no child at all
  EXPECT_GE(platform->now() - start, 0.2);

  const ChildId child =
      start_helper(*platform, "sleep", dir.path(), dir.path() / "out");
  start = platform->now();
  EXPECT_EQ(platform->wait_child(0.3).id, 0);
  const double waited = platform->now() - start;
  EXPECT_GE(waited, 0.3);
  EXPECT_LT(waited, 10);
  end_child(child);
  start = platform->now();
  const ChildEnd end = platform->wait_child(30);
  EXPECT_EQ(end.id, child);
  EXPECT_EQ(end.exit_status, ENDED_STATUS);
  EXPECT_LT(platform->now() - start, 10);
}

#ifndef _WIN32
TEST(BatchChildren, SigtermWakesTheWaitAndReachesTheChildren) {
  auto platform = make_system_batch_platform();
  tape::TempDir dir;
  const fs::path output = dir.path() / "out.txt";
  const ChildId child =
      start_helper(*platform, "interrupt", dir.path(), output);
  const double start = platform->now();
  while (text_of(output).find("ready") == std::string::npos &&
         platform->now() - start < 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(static_cast<pid_t>(child), SIGTERM);
  EXPECT_EQ(status_of(*platform, child), 0);
  EXPECT_EQ(text_of(output),
            "ready\nwoke 0 soon\ngrandchild 143\ninterrupted yes\n");
}
#endif

} // namespace
} // namespace vetrik
