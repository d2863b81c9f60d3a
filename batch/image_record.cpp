// Records as JSON, by nlohmann-json.
#include "batch/image_record.h"

#include <nlohmann/json.hpp>

namespace vetrik {

namespace {

using nlohmann::json;

// The vetrik program's report: lines ending in CR LF, and these texts.
constexpr std::string_view REPORT_LINE_END = "\r\n";
constexpr std::string_view EXTRACTING = "Extracting ";
constexpr std::string_view DONE = "done!";
constexpr std::string_view CANNOT_READ = "cannot read ";

} // namespace

std::string record_line(const ImageRecord& record) {
  json files = json::array();
  for (const MadeFile& file : record.files) {
    files.push_back(
        {{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}});
  }
  const json line = {
      {"image", record.image},
      {"size", record.size},
      {"format", record.format.empty() ? json(nullptr) : json(record.format)},
      {"folder", record.folder},
      {"outcome", record.outcome},
      {"problem", record.problem ? json(*record.problem) : json(nullptr)},
      {"exit_status", record.exit_status},
      {"files", files},
      {"seconds", record.seconds},
      {"skipped", record.skipped},
  };
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool read_record_line(std::string_view line, ImageRecord& record) {
  const json j = json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    return false;
  }
  try {
    ImageRecord r;
    r.image = j.at("image").get<std::string>();
    r.size = j.at("size").get<std::uint64_t>();
    if (!j.at("format").is_null()) {
      r.format = j.at("format").get<std::string>();
    }
    r.folder = j.at("folder").get<std::string>();
    r.outcome = j.at("outcome").get<std::string>();
    if (!j.at("problem").is_null()) {
      r.problem = j.at("problem").get<std::string>();
    }
    r.exit_status = j.at("exit_status").get<int>();
    for (const json& file : j.at("files")) {
      r.files.push_back({file.at("name").get<std::string>(),
                         file.at("size").get<std::uint64_t>(),
                         file.at("sha256").get<std::string>()});
    }
    r.seconds = j.at("seconds").get<double>();
    r.skipped = j.at("skipped").get<bool>();
    record = std::move(r);
    return true;
  } catch (const json::exception&) {
    return false;
  }
}

// The report is a run of texts: "Extracting NAME" and a line end for each
// file made, a problem message (without a line end) for each problem, and
// "done!" at the end.
std::optional<std::string> report_problem(std::string_view report) {
  if (report.ends_with(DONE)) {
    report.remove_suffix(DONE.size());
  }
  while (!report.empty()) {
    if (report.starts_with(EXTRACTING)) {
      const std::size_t end = report.find(REPORT_LINE_END);
      if (end == std::string_view::npos) {
        return std::nullopt;
      }
      report.remove_prefix(end + REPORT_LINE_END.size());
      continue;
    }
    // A problem runs up to the next file's line, or a line end.
    std::size_t end =
        std::min(report.find(EXTRACTING, 1), report.find(REPORT_LINE_END));
    end = std::min(end, report.size());
    if (end > 0) {
      return std::string(report.substr(0, end));
    }
    report.remove_prefix(REPORT_LINE_END.size());
  }
  return std::nullopt;
}

std::string_view report_outcome(std::string_view report, int exit_status) {
  if (exit_status == 0) {
    return OK;
  }
  const std::optional<std::string> problem = report_problem(report);
  if (problem && std::string_view(*problem).starts_with(CANNOT_READ)) {
    return UNREADABLE;
  }
  return PROBLEM;
}

} // namespace vetrik
