// The command line, by CLI11.
#include "batch/batch_options.h"

#include <CLI/CLI.hpp>
#include <sstream>

namespace vetrik {

namespace {

constexpr std::string_view DESCRIPTION =
    "Unpacks every tape image and recording under the paths given, each by\n"
    "the vetrik program into a folder of its own under the output root,\n"
    "named as the image is under its path. Folders are walked for files\n"
    "ending in .tap, .tzx, .pzx, .wav or .csw (any case); an image named\n"
    "itself is taken whatever its name. A rerun skips the images done\n"
    "already. Each image's outcome is appended to report.jsonl in the\n"
    "output root.";

constexpr std::string_view FOOTER =
    "Exit status: 0 when every image came out whole, 1 when any had a\n"
    "problem or could not be read, 2 for a usage error, 130 when\n"
    "interrupted. See vetrik-batch(1).";

} // namespace

ParsedOptions parse_batch_options(const std::vector<std::string>& arguments,
                                  std::string_view version) {
  ParsedOptions parsed;
  CLI::App app{std::string(DESCRIPTION), "vetrik-batch"};
  app.footer(std::string(FOOTER));
  app.set_version_flag("--version", "vetrik-batch " + std::string(version));
  app.add_option("PATH", parsed.options.paths,
                 "a tape image or recording, or a folder of them")
      ->required();
  app.add_option("-o,--output", parsed.options.output,
                 "the output root (default: the current folder)")
      ->type_name("DIR");
  app.add_option("-j,--jobs", parsed.options.jobs,
                 "images extracted at once (default: one a processor)")
      ->type_name("N")
      ->check(CLI::Range(1, 256));
  app.add_flag("--map", parsed.options.map,
               "also draw each recording as a timeline, .vetrik-map.svg "
               "beside its files");
  std::vector<std::string> rest(arguments.begin() + (arguments.empty() ? 0 : 1),
                                arguments.end());
  std::reverse(rest.begin(), rest.end()); // CLI11 takes them last first
  try {
    app.parse(rest);
    parsed.outcome = OptionsOutcome::RUN;
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, error;
    const int status = app.exit(e, out, error);
    parsed.outcome = status == 0 ? OptionsOutcome::DONE : OptionsOutcome::USAGE;
    parsed.text = status == 0 ? out.str() : error.str();
    if (status != 0) {
      parsed.text = "vetrik-batch: " + parsed.text;
    }
  }
  return parsed;
}

} // namespace vetrik
