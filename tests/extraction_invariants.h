// Rules every run of the tool on a TAP image keeps on the in-memory file
// system, whatever the image holds and whatever call the platform fails. The
// fuzzer checks them on every input, the fault-injection tests after every
// injected failure.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "platform/memory_file_system.h"
#include "tests/tape_builder.h"

namespace vetrik {

// The entries of the directory a run starts in, the image left out.
struct Directory {
  std::map<std::string, tape::Bytes> files;
  std::set<std::string> directories;
  std::map<std::string, std::uint64_t> links;
  std::map<std::string, std::uint64_t> huge_files;
  std::set<std::string> specials; // devices, FIFOs, sockets
  // Of files, where they differ from the defaults: fresh, another's, linked.
  std::map<std::string, FileAttributes> attributes;
};

// Puts the entries of directory into fs.
void directory_install(const Directory& directory, MemoryFileSystem& fs);

struct ExtractionRun {
  const tape::Bytes& image;
  const std::string& image_path; // the image's name in the file system
  const Directory& before;
  const MemoryFileSystem& after;
  int status;
  // A read of the image may have failed: the run may then stop at any pair,
  // with any message, and the file being copied may hold fewer bytes.
  bool reads_may_fail = false;
  int failed_reads = 0; // reads of the image that the platform made fail
};

// Checks a finished run against what its image dictates:
// - the console holds, for each stored file in tape order, "Extracting F"
//   CR LF (perhaps followed by "Write Error F") or "Write Error F" alone,
//   where F is the header's name made safe, perhaps numbered, with its
//   extension; then the message that ended the loop, if any; then "done!";
//   or only "cannot read " and the path when the image could not be opened;
//   after a failed read of the image, "cannot read " and the path come
//   right before "done!";
// - the exit status is 0 exactly when nothing but "Extracting" lines came
//   before "done!" and no read of the image failed;
// - a file reported as extracted and not followed by "Write Error" holds
//   exactly its payload bytes (those present, when the image ends inside it);
// - every path looked up or created is a plain name, every new file was
//   reported, and no file of at least one byte, directory, link, special
//   file or empty file that may not be taken over that was there is
//   touched;
// - no handle or buffer is left over.
// Returns "" when every rule holds, else a description of the first broken.
std::string extraction_violation(const ExtractionRun& run);

} // namespace vetrik
