// The image is parsed here on its own, byte by byte, without the tool's code,
// so that a fault in the block loop or the naming shows as a disagreement.
#include "tests/extraction_invariants.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/leftover.h"

namespace vetrik {

namespace {

using tape::Bytes;

constexpr std::string_view FORBIDDEN = ":/?*<>|\\\"";

// A stored file whose header passed every check and whose data block began,
// so the tool chooses an output name for it.
struct StoredFile {
  std::string safe_name; // the rendered name with forbidden characters as _
  std::string extension;
  std::size_t payload_at = 0; // offset of the first payload byte
  std::size_t present = 0;    // payload bytes in the image
  bool complete = false;      // payload and checksum byte all there
  bool checksum_ok = false;
};

struct TapeModel {
  std::vector<StoredFile> files;
  // The message that ends the loop after the last of files, when it is not
  // about that file's data; empty when the image ends cleanly or it is.
  std::string end_message;
};

std::string rendered(std::uint8_t b) {
  if (b >= 32 && b <= 127) {
    return std::string(1, static_cast<char>(b));
  }
  return "(" + std::to_string(b) + ")";
}

TapeModel model_of(const Bytes& image) {
  const std::size_t size = image.size();
  // Bytes past the end read as 0 for the header's length and flag checks.
  const auto at = [&](std::size_t i) -> unsigned {
    return i < size ? image[i] : 0U;
  };
  TapeModel model;
  std::size_t pos = 0;
  while (pos < size) {
    // Length word, flag, type, 10 name bytes, 3 words, checksum: 21 bytes.
    if (at(pos) + at(pos + 1) * 0x100 != 19) {
      model.end_message = "Not a header";
      return model;
    }
    if (at(pos + 2) != 0) {
      model.end_message = "not a header";
      return model;
    }
    if (pos + 21 > size) {
      model.end_message = "truncated header";
      return model;
    }
    std::uint8_t sum = 0;
    std::string name;
    for (std::size_t i = pos + 2; i < pos + 20; ++i) {
      sum ^= image[i];
      if (i >= pos + 4 && i < pos + 14) {
        name += rendered(image[i]);
      }
    }
    if (sum != image[pos + 20]) {
      model.end_message = "wrong header checksum for " + name;
      return model;
    }
    StoredFile file;
    for (char& c : name) {
      if (FORBIDDEN.find(c) != std::string_view::npos) {
        c = '_';
      }
    }
    file.safe_name = name;
    const std::uint8_t type = image[pos + 3];
    file.extension = type == 0   ? ".B"
                     : type == 3 ? ".C"
                                 : "." + std::to_string(type);
    pos += 21;
    // Data block: length word, flag, payload, checksum.
    if (pos + 3 > size) {
      model.end_message = "truncated data for " + file.safe_name;
      return model;
    }
    const std::size_t length = image[pos] + image[pos + 1] * 0x100U;
    const std::size_t payload = length > 2 ? length - 2 : 0;
    file.payload_at = pos + 3;
    file.present = std::min(payload, size - file.payload_at);
    file.complete = file.payload_at + payload < size;
    if (file.complete) {
      std::uint8_t data_sum = image[pos + 2];
      for (std::size_t i = 0; i < payload; ++i) {
        data_sum ^= image[file.payload_at + i];
      }
      file.checksum_ok = data_sum == image[file.payload_at + payload];
    }
    model.files.push_back(file);
    // A wrong data checksum ends the loop only for a file that was created,
    // which the run decides, so the parse goes on past it.
    if (!file.complete) {
      return model;
    }
    pos = file.payload_at + payload + 1;
  }
  return model;
}

bool plain_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(FORBIDDEN) == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// Reads the console text from the front.
class Cursor {
public:
  explicit Cursor(std::string_view text) : rest_(text) {}

  bool take(std::string_view text) {
    if (!rest_.starts_with(text)) {
      return false;
    }
    rest_.remove_prefix(text.size());
    return true;
  }

  bool next_is(std::string_view text) const { return rest_.starts_with(text); }

  // Takes an output name for file: its safe name, perhaps "(counter)" with a
  // non-zero counter in the tool's decimal form, then its extension.
  std::optional<std::string> take_name(const StoredFile& file) {
    const std::string_view start = rest_;
    if (!take(file.safe_name)) {
      return std::nullopt;
    }
    if (take("(")) {
      const std::size_t close = rest_.find(')');
      if (close == std::string_view::npos || close > 11) {
        return std::nullopt;
      }
      const std::string_view digits = rest_.substr(0, close);
      const bool negative = digits.starts_with('-');
      long long counter = 0;
      for (char c : digits.substr(negative ? 1 : 0)) {
        if (c < '0' || c > '9') {
          return std::nullopt;
        }
        counter = counter * 10 + (c - '0');
      }
      counter = negative ? -counter : counter;
      if (counter == 0 || counter != static_cast<std::int32_t>(counter) ||
          std::to_string(counter) != digits) {
        return std::nullopt;
      }
      rest_.remove_prefix(close + 1);
    }
    if (!take(file.extension)) {
      return std::nullopt;
    }
    return std::string(start.substr(0, start.size() - rest_.size()));
  }

  std::string_view rest() const { return rest_; }

private:
  std::string_view rest_;
};

// Whether text is one of the messages that end the loop, then "done!".
bool one_stop_message(std::string_view text) {
  text.remove_suffix(std::min<std::size_t>(text.size(), 5));
  for (std::string_view whole :
       {"Not a header", "not a header", "truncated header"}) {
    if (text == whole) {
      return true;
    }
  }
  for (std::string_view start :
       {"truncated data for ", "wrong header checksum for ",
        "wrong data checksum for "}) {
    if (text.starts_with(start) &&
        text.find("Extracting ") == std::string_view::npos &&
        text.find("Write Error ") == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// What the console said about one output file.
struct Report {
  std::size_t file = 0;   // index in TapeModel::files
  bool lost = false;      // "Write Error" followed
  bool truncated = false; // "truncated data for" followed
};

std::string base_of(const std::string& output, const StoredFile& file) {
  return output.substr(0, output.size() - file.extension.size());
}

bool is_prefix(const Bytes& bytes, const std::uint8_t* of, std::size_t size) {
  return bytes.size() <= size && std::equal(bytes.begin(), bytes.end(), of);
}

std::string check_files(const ExtractionRun& run, const TapeModel& model,
                        const std::map<std::string, Report>& reports) {
  const MemoryFileSystem& fs = run.after;
  const Directory& before = run.before;
  if (fs.directories != before.directories || fs.links != before.links ||
      fs.huge_files != before.huge_files || fs.specials != before.specials) {
    return "a directory, link, huge or special file changed";
  }
  for (const auto& [path, bytes] : before.files) {
    if (fs.files.count(path) == 0) {
      return "a file that was there is gone: " + path;
    }
  }
  for (const auto& [path, bytes] : before.files) {
    const auto about = before.attributes.find(path);
    const EntryInfo entry = file_entry(
        bytes.size(),
        about != before.attributes.end() ? about->second : FileAttributes{});
    if (bytes.empty() && !may_take_over(entry) &&
        (fs.files.at(path) != bytes || reports.count(path) != 0)) {
      return "an empty file that may not be taken over was written: " + path;
    }
  }
  for (const auto& [path, bytes] : fs.files) {
    if (path == run.image_path) {
      if (bytes != run.image) {
        return "the image changed";
      }
      continue;
    }
    const auto old = before.files.find(path);
    if (old != before.files.end() && !old->second.empty()) {
      if (bytes != old->second) {
        return "a file holding data was overwritten: " + path;
      }
      continue;
    }
    const auto report = reports.find(path);
    if (report == reports.end()) {
      if (old == before.files.end() || !bytes.empty()) {
        return "a file appeared that was never reported: " + path;
      }
      continue;
    }
    if (report->second.lost) {
      continue;
    }
    const StoredFile& file = model.files[report->second.file];
    const std::uint8_t* payload = run.image.data() + file.payload_at;
    if (report->second.truncated && run.reads_may_fail
            ? !is_prefix(bytes, payload, file.present)
            : bytes != Bytes(payload, payload + file.present)) {
      return "a file reported as extracted does not hold its payload: " + path +
             " holds " + std::to_string(bytes.size()) + " bytes";
    }
  }
  for (const auto& [path, report] : reports) {
    if (fs.files.count(path) == 0) {
      return "a file reported as extracted does not exist: " + path;
    }
  }
  return {};
}

} // namespace

void directory_install(const Directory& directory, MemoryFileSystem& fs) {
  for (const auto& [path, bytes] : directory.files) {
    fs.files[path] = bytes;
  }
  fs.directories.insert(directory.directories.begin(),
                        directory.directories.end());
  fs.links.insert(directory.links.begin(), directory.links.end());
  fs.huge_files.insert(directory.huge_files.begin(),
                       directory.huge_files.end());
  fs.specials.insert(directory.specials.begin(), directory.specials.end());
  for (const auto& [path, about] : directory.attributes) {
    fs.attributes[path] = about;
  }
}

namespace {

// Reads a run's console stored file by stored file, as the model of its
// image says they come.
class ConsoleCheck {
public:
  ConsoleCheck(const ExtractionRun& run, std::string_view text)
      : run_(run), console_(text) {}

  // The first broken rule, or "".
  std::string check(const TapeModel& model) {
    for (std::size_t i = 0; i < model.files.size() && !stopped_; ++i) {
      bool unreported = false;
      if (std::string v = file_report(i, model.files[i], &unreported);
          !v.empty()) {
        return v;
      }
      if (unreported) {
        break;
      }
    }
    return end(model);
  }

  const std::map<std::string, Report>& reports() const { return reports_; }
  // Whether anything but "Extracting" lines was printed.
  bool problem() const { return problem_; }

private:
  std::string here() const {
    return std::string(console_.rest().substr(0, 80));
  }

  void expect(const std::string& message) {
    if (!console_.take(message) && failure_.empty()) {
      failure_ = "expected \"" + message + "\" at: " + here();
    }
    problem_ = true;
    stopped_ = true;
  }

  // The report of stored file i. Sets *unreported when a failed read ended
  // the run before it.
  std::string file_report(std::size_t i, const StoredFile& file,
                          bool* unreported) {
    const bool created = console_.take("Extracting ");
    if (!created && !console_.take("Write Error ")) {
      *unreported = run_.reads_may_fail;
      return run_.reads_may_fail ? ""
                                 : "expected a report of " + file.safe_name +
                                       file.extension + " at: " + here();
    }
    const std::optional<std::string> output = console_.take_name(file);
    if (!output || !plain_name(*output)) {
      return "an output name not made from the header at: " + here();
    }
    Report report{i};
    if (created) {
      if (!console_.take("\r\n")) {
        return "no line end after Extracting " + *output;
      }
      report.lost = console_.take("Write Error " + *output);
    }
    problem_ = problem_ || !created || report.lost;
    const std::string truncated =
        "truncated data for " + base_of(*output, file);
    if (!file.complete ||
        (run_.reads_may_fail && console_.next_is(truncated))) {
      expect(truncated);
      report.truncated = true;
    } else if (created && !file.checksum_ok) {
      expect("wrong data checksum for " + base_of(*output, file));
    }
    if (created) {
      reports_[*output] = report;
    }
    return failure_;
  }

  // The message that ended the loop, if any, then "done!".
  std::string end(const TapeModel& model) {
    if (!stopped_ && !console_.next_is("done!")) {
      if (run_.reads_may_fail) {
        // The image may have ended early anywhere: one message, then done.
        problem_ = true;
        const std::string_view rest = console_.rest();
        if (!rest.ends_with("done!") || !one_stop_message(rest)) {
          return "after a failed read, not one message and done!: " + here();
        }
        console_.take(rest.substr(0, rest.size() - 5));
      } else if (model.end_message.empty()) {
        return "unexpected text at: " + here();
      } else {
        expect(model.end_message);
      }
    }
    if (!failure_.empty()) {
      return failure_;
    }
    if (console_.rest() != "done!") {
      return "the console does not end with done! after the last message: " +
             here();
    }
    return {};
  }

  const ExtractionRun& run_;
  Cursor console_;
  std::map<std::string, Report> reports_;
  bool problem_ = false;
  bool stopped_ = false;
  std::string failure_;
};

// The first rule broken before the console is read: a handle or buffer
// left over, or a path looked up or created that is no plain name. Every
// name is looked up before it is created, so a create that was made to
// fail, and never reached the file system, is checked too.
std::string leftover_violation(const ExtractionRun& run) {
  const MemoryFileSystem& fs = run.after;
  if (fs.open_handles() != 0 || fs.live_buffers() != 0) {
    return "a handle or a stream buffer was left over";
  }
  for (const LoggedCall& call : fs.calls) {
    if ((call.kind == CallKind::CREATE || call.kind == CallKind::FIND) &&
        call.path != run.image_path && !plain_name(call.path)) {
      return "looked up or tried to create a path that is not a plain name: " +
             call.path;
    }
  }
  return {};
}

} // namespace

std::string extraction_violation(const ExtractionRun& run) {
  if (std::string v = leftover_violation(run); !v.empty()) {
    return v;
  }
  const bool read_failed = run.failed_reads > 0;
  std::string text = run.after.console;
  if (text.starts_with("cannot read ") && !text.ends_with("done!")) {
    if (text != "cannot read " + run.image_path || run.status != 1) {
      return "\"cannot read\" without the path alone, or not exit 1";
    }
    return check_files(run, {}, {});
  }
  // A failed read of the image is reported last, before "done!".
  const std::string unread = "cannot read " + run.image_path + "done!";
  if (read_failed != text.ends_with(unread)) {
    return read_failed ? "a failed read was not reported"
                       : "a read failure was reported without one";
  }
  if (read_failed) {
    text.replace(text.size() - unread.size(), unread.size(), "done!");
  }
  const TapeModel model = model_of(run.image);
  ConsoleCheck console(run, text);
  if (std::string v = console.check(model); !v.empty()) {
    return v;
  }
  // A failed read of the image leaves its rest unread: never a clean run.
  const bool problem = console.problem() || read_failed;
  if (run.status != (problem ? 1 : 0)) {
    return "exit status " + std::to_string(run.status) +
           " disagrees with the messages";
  }
  return check_files(run, model, console.reports());
}

} // namespace vetrik
