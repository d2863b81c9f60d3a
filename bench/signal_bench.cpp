// Times the decoding of tape recordings it builds itself: a 401-second tape
// of four files at 44.1 kHz, as 16-bit mono WAV, 16-bit stereo WAV (the
// second channel silent), 8-bit 11025 Hz WAV and Z-RLE CSW. Each is decoded
// through the file layer in a fresh process, started by the benchmark's
// launcher (vetrik_launch, beside this program), which measures its time and
// peak memory; the process writes what blocks it found to a file. Prints a
// Markdown table.
//
//   vetrik_signal_bench [RUNS]
//   vetrik_signal_bench decode RECORDING RESULT   (the measured process)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/recorded_tape.h"
#include "bytes/image_input.h"
#include "fileio/file_access.h"
#include "fileio/file_input.h"
#include "signal/recording.h"
#include "tests/signal_builder.h"

namespace {

namespace rec = vetrik::recording;
namespace tape = vetrik::tape;
using tape::Bytes;

constexpr double SECONDS = vetrik::bench::RECORDED_SECONDS;

// A sum over the bytes of blocks, to see that every run found them all.
std::uint64_t blocks_sum(const std::vector<Bytes>& blocks) {
  std::uint64_t sum = 0;
  for (const Bytes& b : blocks) {
    std::uint64_t one = b.size();
    for (std::uint8_t x : b) {
      one = one * 1000003 + x;
    }
    sum = sum * 1000003 + one;
  }
  return sum;
}

// Writes "BLOCKS SUM" to result. Only the sum is kept, not the blocks.
int decode(const char* path, const char* result) {
  vetrik::file_system_init();
  if (vetrik::file_open_read(0, path) == 0) {
    return 1;
  }
  vetrik::FileInput file(0);
  vetrik::PeekableInput input(file);
  vetrik::RecordingReader reader(
      input, vetrik::image_format(input.peek(vetrik::IMAGE_FORMAT_BYTES)));
  std::uint64_t sum = 0;
  std::size_t count = 0;
  for (Bytes b; reader.next_block(b); ++count) {
    sum = sum * 1000003 + blocks_sum({b});
  }
  std::FILE* out = std::fopen(result, "w");
  if (out == nullptr) {
    return 1;
  }
  std::fprintf(out, "%zu %llu\n", count, static_cast<unsigned long long>(sum));
  return std::fclose(out) == 0 ? 0 : 1;
}

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  std::string report;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the decoding of file through the launcher.
Run run_decoder(const std::string& launcher, const std::string& self,
                const std::string& file, const std::string& dir) {
  const std::string report = dir + "/vetrik-signal-bench.report";
  const std::string result = dir + "/vetrik-signal-bench.result";
  const pid_t pid = fork();
  if (pid == 0) {
    execl(launcher.c_str(), launcher.c_str(), report.c_str(), dir.c_str(),
          self.c_str(), "decode", file.c_str(), result.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  long long ns = 0;
  Run run;
  std::sscanf(read_file(report).c_str(), "%lld %ld", &ns, &run.peak_kib);
  run.seconds = static_cast<double>(ns) / 1e9;
  run.report = read_file(result);
  unlink(report.c_str());
  unlink(result.c_str());
  return run;
}

std::string scratch_root() {
  struct stat st {};
  return stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm"
                                                           : "/tmp";
}

struct Case {
  std::string name;
  Bytes image;
};

// The 401-second tape in each form; want gets the sum of its blocks.
std::vector<Case> recordings(std::uint64_t* want) {
  const Bytes tap = vetrik::bench::recorded_tape();
  const rec::Signal signal = vetrik::bench::recorded_signal(tap);
  *want = 0;
  for (const Bytes& b : rec::tap_blocks(tap)) {
    *want = *want * 1000003 + blocks_sum({b});
  }
  const rec::Samples mono = vetrik::bench::transferred(signal);
  const rec::Samples low = rec::resample(mono, 44100, 11025);
  std::vector<Case> cases;
  cases.push_back({"WAV 44.1 kHz 16-bit mono",
                   rec::wav({mono}, 44100, vetrik::WavEncoding::PCM_16)});
  cases.push_back({"WAV 44.1 kHz 16-bit stereo",
                   rec::wav({mono, rec::Samples(mono.size(), 0.0F)}, 44100,
                            vetrik::WavEncoding::PCM_16)});
  cases.push_back({"WAV 11025 Hz 8-bit mono",
                   rec::wav({low}, 11025, vetrik::WavEncoding::PCM_8)});
  cases.push_back({"CSW Z-RLE 44.1 kHz",
                   rec::csw(signal, 44100, rec::CswVariant::V2_Z_RLE)});
  return cases;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Decodes c runs times; returns its row of the table.
std::string measured(const Case& c, int runs, std::uint64_t want,
                     const std::string& launcher, const std::string& program) {
  const std::string dir = scratch_root();
  const std::string path = dir + "/vetrik-signal-bench.rec";
  write_file(path, c.image);
  std::vector<double> times;
  long peak = 0;
  bool right = true;
  std::string report;
  for (int i = 0; i < runs; ++i) {
    const Run r = run_decoder(launcher, program, path, dir);
    times.push_back(r.seconds);
    peak = std::max(peak, r.peak_kib);
    report = r.report;
    right = right && r.report == "8 " + std::to_string(want) + "\n";
  }
  unlink(path.c_str());
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  char line[256];
  std::snprintf(line, sizeof line,
                "| %s | %.1f MB | %.1f ms | %.1f ms | %ld KiB | %s |\n",
                c.name.c_str(), static_cast<double>(c.image.size()) / 1e6,
                median * 1000, median * 1000 / (SECONDS / 60), peak,
                right ? "all 8 exact" : ("WRONG: " + report).c_str());
  return line;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "decode") {
    return decode(argv[2], argv[3]);
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    std::perror("readlink");
    return 1;
  }
  const std::string program = self;
  const std::string launcher =
      program.substr(0, program.rfind('/') + 1) + "vetrik_launch";
  std::uint64_t want = 0;
  const std::vector<Case> cases = recordings(&want);
  std::cout << "| recording (" << SECONDS
            << " s) | size | median time | per minute of audio | peak "
               "memory | blocks |\n|---|---|---|---|---|---|\n";
  for (const Case& c : cases) {
    std::cout << measured(c, runs, want, launcher, program) << std::flush;
  }
  return 0;
}
