// The batch program's command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vetrik {

struct BatchOptions {
  std::vector<std::string> paths; // images and folders, at least one
  std::string output = ".";       // the output root
  int jobs = 0;                   // images at once; 0: one a processor
  bool map = false;               // a map of each recording
};

enum class OptionsOutcome {
  RUN,  // options holds what to do
  DONE, // --help or --version: text is to go to standard output, exit 0
  USAGE // a usage error: text is to go to standard error, exit 2
};

struct ParsedOptions {
  OptionsOutcome outcome = OptionsOutcome::USAGE;
  BatchOptions options;
  std::string text; // with "\n" line ends
};

// Parses arguments (the program's name first), GNU style.
ParsedOptions parse_batch_options(const std::vector<std::string>& arguments,
                                  std::string_view version);

} // namespace vetrik
