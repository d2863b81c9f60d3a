// The batch's door held in memory for tests: a tree of folders and files,
// links, unreadable folders, a disk that fills, locks held by another
// process, children acted by a callback when waited for, a terminal, a
// clock and an interrupt raised on request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/batch_platform.h"

namespace vetrik {

// What a simulated child does: its exit status, its console text (into its
// output file) and the files it leaves in its folder (by name).
struct FakeChildRun {
  int exit_status = 0;
  std::string console;
  std::map<std::string, std::string> files;
  double seconds = 1; // the clock moves on by this much while it runs
};

// Acts a child of program on image (made absolute) in folder.
using FakeChildAction = std::function<FakeChildRun(const std::string& program,
                                                   const std::string& image,
                                                   const std::string& folder)>;

// A child ended by the interrupt reports this status and leaves the files
// its action made so far (all of them: an extraction cut short).
inline constexpr int FAKE_INTERRUPTED_STATUS = 128 + 15;

class FakeBatchPlatform final : public BatchPlatform {
public:
  // The tree, every path absolute and normalised (see path_of): folders,
  // files with their bytes, links with what they name, and entries of
  // another kind (FIFOs). Every parent of an entry is in folders.
  std::set<std::string> folders{"/"};
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> links;
  std::set<std::string> others;
  // Folders that cannot be listed and files that cannot be read.
  std::set<std::string> unreadable;
  // Lock files another process holds.
  std::set<std::string> locked_elsewhere;
  // Bytes the batch's own writes (write_new_file, append) may still add;
  // a write that would pass it fails whole. Below 0: no limit.
  std::int64_t disk_left = -1;
  // The current folder, which relative paths start from.
  std::string current = "/cwd";

  // Children: what each one does (none set: no child can start), whether
  // the newest one running ends first, and the start that raises an
  // interrupt (1 for the first; 0 for none).
  FakeChildAction child;
  bool newest_ends_first = false;
  int interrupt_at_start = 0;
  // Each child started: its image and folder, in order; and the most that
  // ran at once.
  std::vector<std::pair<std::string, std::string>> started;
  std::size_t most_running = 0;

  // The terminal, the standard streams as written, the clock.
  bool terminal = false;
  int width = 80;
  std::string out, error;
  double clock = 0;
  int cpus = 2;
  std::string end = "\n";

  // path made absolute against current, with "." , ".." and repeated or
  // trailing separators taken out.
  std::string path_of(const std::string& path) const;
  // Puts a file at path, with every missing parent folder.
  void put_file(const std::string& path, const std::string& contents);
  // The bytes of the file at path; nullptr when there is none.
  const std::string* file(const std::string& path) const;
  // The names in folder, sorted.
  std::vector<std::string> names_in(const std::string& folder) const;
  // Raises the interrupt now: it wakes one wait.
  void raise_interrupt();
  // As a new process on the same tree: no interrupt, no locks or children
  // of its own, nothing written to its streams.
  void restart();
  // Locks this process holds, children running.
  std::size_t locks_held() const { return locks_.size(); }
  std::size_t running() const { return children_.size(); }

  BatchEntry look(const std::string& path, bool follow) override;
  bool list_folder(const std::string& folder, std::vector<BatchEntry>& entries,
                   std::string& error) override;
  bool identity(const std::string& path, FileIdentity& id) override;
  bool make_folders(const std::string& folder, std::string& error) override;
  bool read_file(const std::string& path,
                 const std::function<void(std::span<const char>)>& take,
                 std::string& error) override;
  bool write_new_file(const std::string& path, std::string_view contents,
                      std::string& error) override;
  bool append(const std::string& path, std::string_view line,
              std::string& error) override;
  bool rename_new(const std::string& from, const std::string& to,
                  std::string& error) override;
  bool remove_file(const std::string& path) override;
  std::int64_t try_lock(const std::string& path) override;
  void release_lock(std::int64_t lock) override;
  std::string absolute(const std::string& path) override;
  ChildId start_child(const std::string& program, const std::string& image,
                      const std::string& folder, const std::string& output,
                      std::string& error) override;
  ChildEnd wait_child(double timeout_seconds) override;
  bool interrupted() override { return interrupted_; }
  bool error_is_terminal() override { return terminal; }
  int terminal_width() override { return width; }
  void write_out(std::string_view text) override { out += text; }
  void write_error(std::string_view text) override { error += text; }
  double now() override { return clock; }
  int processors() override { return cpus; }
  std::string own_program() override { return "/bin/vetrik-batch"; }
  std::string_view line_end() override { return end; }

private:
  struct Child {
    std::string program, image, folder, output;
  };

  // What is at the normalised path p, links not followed.
  BatchEntryKind kind_of(const std::string& p) const;
  // Takes size bytes of the disk; false when they are not there.
  bool take_disk(std::size_t size, std::string& error);

  std::map<std::int64_t, std::string> locks_;
  std::int64_t next_lock_ = 1;
  std::map<ChildId, Child> children_;
  ChildId next_child_ = 100;
  bool interrupted_ = false;
  bool wake_ = false; // the interrupt's wake, not yet taken by a wait
};

} // namespace vetrik
