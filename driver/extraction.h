// The whole run of the tool: the tape image named by the first parameter is
// unpacked into the current directory, one file per stored tape file.
#pragma once

namespace vetrik {

// Exit statuses of a run.
inline constexpr int EXIT_COMPLETE = 0;   // read to the end, every file whole
inline constexpr int EXIT_INCOMPLETE = 1; // a problem was reported, or the
                                          // report itself was lost
inline constexpr int EXIT_USAGE = 2;      // no image was named

// Runs the tool on the current platform and command line, printing every
// message, and returns the exit status. Never throws.
int run_extraction();

} // namespace vetrik
