// The batch: a queue of images, up to jobs children at once, and the record
// of each image written once its child has ended.
#include "batch/batch_run.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "batch/image_record.h"
#include "batch/image_walk.h"
#include "batch/progress.h"
#include "batch/recording_map.h"
#include "batch/sha256.h"
#include "bytes/image_format.h"
#include "fileio/file_access.h"
#include "fileio/file_input.h"

namespace vetrik {

namespace {

// How often the progress line is drawn again while children run.
constexpr double WAIT_SECONDS = 0.2;
// The slot of the file layer the batch reads images through.
constexpr std::int32_t IMAGE_SLOT = 1;

const char* format_name(ImageFormat format) {
  switch (format) {
  case ImageFormat::TAP:
    return "TAP";
  case ImageFormat::TZX:
    return "TZX";
  case ImageFormat::PZX:
    return "PZX";
  case ImageFormat::WAV:
    return "WAV";
  case ImageFormat::CSW:
    return "CSW";
  }
  return "TAP";
}

// The image's format by its first bytes, as the vetrik program tells it;
// false when the image cannot be opened.
bool format_of(const std::string& path, ImageFormat& format) {
  if (file_open_read(IMAGE_SLOT, path) == INVALID_HANDLE) {
    return false;
  }
  std::uint8_t first[IMAGE_FORMAT_BYTES] = {};
  const std::int32_t got =
      file_read(IMAGE_SLOT, first, static_cast<std::int32_t>(sizeof first));
  file_close(IMAGE_SLOT);
  format = image_format({first, static_cast<std::size_t>(std::max(0, got))});
  return true;
}

// An image under way: its child, its lock, where it goes.
struct Running {
  std::size_t image = 0;
  std::string folder;
  std::string output; // the child's console text, in the work folder
  std::int64_t lock = 0;
  double started = 0;
};

class Batch {
public:
  Batch(BatchPlatform& platform, const BatchOptions& options,
        const std::string& program)
      : platform_(platform), options_(options), program_(program),
        progress_(platform) {}

  int run();

private:
  bool prepare();
  void start(std::size_t image);
  bool skip_done(std::size_t image, const std::string& folder);
  std::optional<std::string> clear_folder(const std::string& folder);
  void finish(const Running& r, int exit_status, double seconds);
  void record(std::size_t image, const std::string& folder,
              const std::string& report, int exit_status, double seconds);
  std::vector<MadeFile> made_files(const std::string& folder);
  void draw_map(const ImageJob& image, const std::string& folder,
                ImageFormat format);
  void fail(std::size_t image, const std::string& folder,
            const std::string& problem);
  void tell(const std::string& text);
  int summary();

  BatchPlatform& platform_;
  const BatchOptions& options_;
  const std::string& program_;
  Progress progress_;
  std::string work_;
  std::vector<ImageJob> images_;
  std::map<ChildId, Running> running_;
  std::vector<ImageRecord> problems_; // the images whose outcome is not ok
  std::size_t ok_ = 0, skipped_ = 0, unreadable_ = 0, failed_ = 0;
  std::size_t unfinished_ = 0; // left by an interrupt
  bool trouble_ = false;       // an error of the batch's own
};

void Batch::tell(const std::string& text) {
  progress_.clear();
  platform_.write_error("vetrik-batch: " + text +
                        std::string(platform_.line_end()));
}

bool Batch::prepare() {
  std::string error;
  work_ = join_path(options_.output, WORK_FOLDER);
  if (!platform_.make_folders(options_.output, error) ||
      !platform_.make_folders(work_, error)) {
    tell(options_.output + ": cannot make the output folder: " + error);
    return false;
  }
  FoundImages found = find_images(platform_, options_.paths, options_.output);
  for (const std::string& e : found.errors) {
    tell(e);
    trouble_ = true;
  }
  images_ = std::move(found.images);
  std::uint64_t bytes = 0;
  for (const ImageJob& image : images_) {
    bytes += image.size;
  }
  progress_.begin(images_.size(), bytes);
  return true;
}

int Batch::run() {
  if (!prepare()) {
    return BATCH_PROBLEM;
  }
  const std::size_t jobs = static_cast<std::size_t>(
      options_.jobs > 0 ? options_.jobs : platform_.processors());
  std::size_t next = 0;
  const auto fill = [&] {
    while (!platform_.interrupted() && next < images_.size() &&
           running_.size() < jobs) {
      start(next++);
    }
    if (platform_.interrupted()) {
      next = images_.size();
    }
  };
  while (next < images_.size() || !running_.empty()) {
    fill();
    if (running_.empty()) {
      continue;
    }
    const ChildEnd end = platform_.wait_child(WAIT_SECONDS);
    const auto found = running_.find(end.id);
    if (end.id != 0 && found != running_.end()) {
      const Running r = found->second;
      const double seconds = platform_.now() - r.started;
      running_.erase(found);
      // The next child starts before this one's files are read and hashed.
      fill();
      finish(r, end.exit_status, seconds);
    }
    progress_.draw(false);
  }
  return summary();
}

// Starts the vetrik program on image in its folder, or skips it as done.
void Batch::start(std::size_t image) {
  const ImageJob& job = images_[image];
  const std::string folder = join_path(options_.output, job.folder);
  Sha256 name;
  name.update({reinterpret_cast<const std::uint8_t*>(job.folder.data()),
               job.folder.size()});
  const std::string key = join_path(work_, name.hex().substr(0, 32));
  const std::int64_t lock = platform_.try_lock(key + ".lock");
  if (lock == 0) {
    tell(job.path + ": being extracted by another batch into " + folder +
         "; left to it");
    progress_.passed(job.size);
    return;
  }
  if (skip_done(image, folder)) {
    platform_.release_lock(lock);
    return;
  }
  if (const std::optional<std::string> problem = clear_folder(folder)) {
    fail(image, folder, *problem);
    platform_.release_lock(lock);
    return;
  }
  Running r{image, folder, key + ".out", lock, platform_.now()};
  platform_.remove_file(r.output); // left by a batch that was killed
  std::string error;
  const std::string path = platform_.absolute(job.path);
  const ChildId id = platform_.start_child(
      program_, path.empty() ? job.path : path, folder, r.output, error);
  if (id == 0) {
    fail(image, folder, "cannot run " + program_ + ": " + error);
    platform_.release_lock(lock);
    return;
  }
  running_.emplace(id, std::move(r));
}

// An image whose folder holds its record is done: its line is told again.
bool Batch::skip_done(std::size_t image, const std::string& folder) {
  std::string text, error;
  if (!platform_.read_file(
          join_path(folder, DONE_RECORD),
          [&](std::span<const char> piece) {
            text.append(piece.data(), piece.size());
          },
          error)) {
    return false;
  }
  ImageRecord record;
  if (!read_record_line(text, record)) {
    return false;
  }
  record.image = images_[image].path;
  record.skipped = true;
  std::string line = record_line(record) + "\n";
  if (!platform_.append(join_path(options_.output, REPORT_FILE), line, error)) {
    tell(std::string(REPORT_FILE) + ": " + error);
    trouble_ = true;
  }
  ++skipped_;
  if (record.outcome == OK) {
    ++ok_;
  } else {
    (record.outcome == UNREADABLE ? unreadable_ : failed_) += 1;
    problems_.push_back(record);
  }
  progress_.finished(images_[image].size, record.outcome != OK);
  progress_.line(record.outcome, images_[image].path, record.problem, true);
  return true;
}

// Makes folder empty for the vetrik program: a folder left by an
// unfinished extraction is moved aside, never emptied. The problem, if any.
std::optional<std::string> Batch::clear_folder(const std::string& folder) {
  std::string error;
  const BatchEntry entry = platform_.look(folder, false);
  if (entry.kind == BatchEntryKind::FOLDER) {
    std::vector<BatchEntry> entries;
    if (!platform_.list_folder(folder, entries, error)) {
      return folder + ": " + error;
    }
    if (entries.empty()) {
      return std::nullopt;
    }
    std::string aside = folder + ".unfinished";
    for (int n = 2;
         platform_.look(aside, false).kind != BatchEntryKind::MISSING; ++n) {
      aside = folder + ".unfinished-" + std::to_string(n);
    }
    if (!platform_.rename_new(folder, aside, error)) {
      return folder + ": cannot move an unfinished extraction aside: " + error;
    }
    tell(folder + ": an unfinished extraction, kept as " + aside);
  } else if (entry.kind != BatchEntryKind::MISSING) {
    return folder + ": something other than a folder is in the way";
  }
  if (!platform_.make_folders(folder, error)) {
    return folder + ": " + error;
  }
  return std::nullopt;
}

void Batch::finish(const Running& r, int exit_status, double seconds) {
  std::string report, error;
  platform_.read_file(
      r.output,
      [&](std::span<const char> piece) {
        report.append(piece.data(), piece.size());
      },
      error);
  // The report is kept beside the files, whatever became of the run.
  const std::string kept = join_path(r.folder, KEPT_REPORT);
  if (!platform_.rename_new(r.output, kept, error)) {
    tell(kept + ": " + error);
    trouble_ = true;
  }
  if (exit_status >= 128 && platform_.interrupted()) {
    ++unfinished_; // no record: a rerun does it again
    progress_.passed(images_[r.image].size);
  } else {
    record(r.image, r.folder, report, exit_status, seconds);
  }
  platform_.release_lock(r.lock);
}

std::vector<MadeFile> Batch::made_files(const std::string& folder) {
  std::vector<BatchEntry> entries;
  std::string error;
  std::vector<MadeFile> files;
  if (!platform_.list_folder(folder, entries, error)) {
    tell(folder + ": " + error);
    trouble_ = true;
    return files;
  }
  std::sort(
      entries.begin(), entries.end(),
      [](const BatchEntry& a, const BatchEntry& b) { return a.name < b.name; });
  for (const BatchEntry& entry : entries) {
    if (entry.name == KEPT_REPORT || entry.name == DONE_RECORD ||
        entry.name == MAP_FILE) {
      continue;
    }
    Sha256 hash;
    std::uint64_t size = 0;
    const bool read = platform_.read_file(
        join_path(folder, entry.name),
        [&](std::span<const char> piece) {
          hash.update({reinterpret_cast<const std::uint8_t*>(piece.data()),
                       piece.size()});
          size += piece.size();
        },
        error);
    if (!read) {
      tell(join_path(folder, entry.name) + ": " + error);
      trouble_ = true;
    }
    files.push_back({entry.name, size, hash.hex()});
  }
  return files;
}

// The record of an image whose child ended: into its folder last of all,
// and onto the report.
void Batch::record(std::size_t image, const std::string& folder,
                   const std::string& report, int exit_status, double seconds) {
  const ImageJob& job = images_[image];
  ImageRecord r;
  r.image = job.path;
  r.size = job.size;
  // A pipe or device was read by the child: opening it again would wait
  // for a writer that never comes.
  ImageFormat format = ImageFormat::TAP;
  const bool told =
      platform_.look(job.path, true).kind == BatchEntryKind::FILE &&
      format_of(job.path, format);
  r.format = told ? format_name(format) : "";
  r.folder = folder;
  r.exit_status = exit_status;
  r.problem = report_problem(report);
  r.outcome = std::string(report_outcome(report, exit_status));
  if (exit_status >= 128 && !r.problem) {
    r.problem = "the vetrik program ended by signal " +
                std::to_string(exit_status - 128);
  } else if (exit_status != 0 && !r.problem) {
    r.problem =
        "the vetrik program ended with status " + std::to_string(exit_status);
  }
  r.files = made_files(folder);
  r.seconds = seconds;
  if (options_.map && told) {
    draw_map(job, folder, format);
  }
  const std::string line = record_line(r) + "\n";
  std::string error;
  if (!platform_.write_new_file(join_path(folder, DONE_RECORD), line, error)) {
    tell(join_path(folder, DONE_RECORD) + ": " + error);
    trouble_ = true;
  }
  if (!platform_.append(join_path(options_.output, REPORT_FILE), line, error)) {
    tell(join_path(options_.output, REPORT_FILE) + ": " + error);
    trouble_ = true;
  }
  if (r.outcome == OK) {
    ++ok_;
  } else {
    (r.outcome == UNREADABLE ? unreadable_ : failed_) += 1;
    problems_.push_back(r);
  }
  progress_.finished(job.size, r.outcome != OK);
  progress_.line(r.outcome, job.path, r.problem, false);
}

void Batch::draw_map(const ImageJob& image, const std::string& folder,
                     ImageFormat format) {
  if (format == ImageFormat::TAP ||
      file_open_read(IMAGE_SLOT, image.path) == INVALID_HANDLE) {
    return;
  }
  std::string svg;
  FileInput input(IMAGE_SLOT);
  const bool drawn = draw_recording_map(input, format, image.path, svg);
  file_close(IMAGE_SLOT);
  std::string error;
  if (drawn &&
      !platform_.write_new_file(join_path(folder, MAP_FILE), svg, error)) {
    tell(join_path(folder, MAP_FILE) + ": " + error);
    trouble_ = true;
  }
}

// An image the batch could not hand to the vetrik program at all.
void Batch::fail(std::size_t image, const std::string& folder,
                 const std::string& problem) {
  ImageRecord r;
  r.image = images_[image].path;
  r.size = images_[image].size;
  r.folder = folder;
  r.outcome = std::string(PROBLEM);
  r.problem = problem;
  r.exit_status = -1;
  tell(images_[image].path + ": " + problem);
  // On the report, as every image is, but with no record: a rerun tries it
  // again.
  std::string error;
  if (!platform_.append(join_path(options_.output, REPORT_FILE),
                        record_line(r) + "\n", error)) {
    tell(join_path(options_.output, REPORT_FILE) + ": " + error);
  }
  ++failed_;
  problems_.push_back(r);
  progress_.finished(images_[image].size, true);
}

int Batch::summary() {
  progress_.clear();
  const std::string end(platform_.line_end());
  char counts[256];
  const std::size_t all = ok_ + failed_ + unreadable_;
  std::snprintf(counts, sizeof counts,
                "%zu image%s: %zu ok, %zu with a problem, %zu unreadable", all,
                all == 1 ? "" : "s", ok_, failed_, unreadable_);
  std::string text = std::string("vetrik-batch: ") + counts;
  if (skipped_ > 0) {
    text += " (" + std::to_string(skipped_) + " done before, skipped)";
  }
  if (unfinished_ > 0) {
    text += "; " + std::to_string(unfinished_) +
            " left unfinished by the interrupt, done again on a rerun";
  }
  text += end;
  for (const ImageRecord& r : problems_) {
    text += "  " + r.image + ": " + r.problem.value_or(r.outcome) + end;
  }
  platform_.write_error(text);
  if (platform_.interrupted()) {
    return BATCH_INTERRUPTED;
  }
  return ok_ == ok_ + failed_ + unreadable_ && !trouble_ ? BATCH_OK
                                                         : BATCH_PROBLEM;
}

} // namespace

int run_batch(BatchPlatform& platform, const BatchOptions& options,
              const std::string& program) {
  Batch batch(platform, options, program);
  return batch.run();
}

} // namespace vetrik
