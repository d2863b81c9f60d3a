// What the batch tells of each image: one line of report.jsonl, the same
// line kept in the image's folder as the record that it is done, and what
// it takes from the vetrik program's report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vetrik {

// The batch's own files in an image's folder: the vetrik program's report,
// the record that marks the image done (written last), the map.
inline constexpr std::string_view KEPT_REPORT = ".vetrik-report.txt";
inline constexpr std::string_view DONE_RECORD = ".vetrik-done.json";
inline constexpr std::string_view MAP_FILE = ".vetrik-map.svg";
// In the output root: the report, and the folder of the batch's work files.
inline constexpr std::string_view REPORT_FILE = "report.jsonl";
inline constexpr std::string_view WORK_FOLDER = ".vetrik-batch";

// The outcomes.
inline constexpr std::string_view OK = "ok";
inline constexpr std::string_view PROBLEM = "problem";
inline constexpr std::string_view UNREADABLE = "unreadable";

struct MadeFile {
  std::string name;
  std::uint64_t size = 0;
  std::string sha256;
};

struct ImageRecord {
  std::string image;
  std::uint64_t size = 0;
  std::string format; // TAP, TZX, PZX, WAV, CSW; "" (null) when not told
  std::string folder;
  std::string outcome;
  std::optional<std::string> problem;
  int exit_status = 0;
  std::vector<MadeFile> files;
  double seconds = 0;
  bool skipped = false;
};

// The record as one line of JSON, without a line end. Bytes that are no
// UTF-8 (in names from the file system) come out as U+FFFD.
std::string record_line(const ImageRecord& record);

// The record a line holds; false when it is no record.
bool read_record_line(std::string_view line, ImageRecord& record);

// From the vetrik program's report (its console text) and exit status: the
// first problem it reports, if any, and the outcome.
std::optional<std::string> report_problem(std::string_view report);
std::string_view report_outcome(std::string_view report, int exit_status);

} // namespace vetrik
