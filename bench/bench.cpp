// Times vetrik against the floor program on tape images it builds itself, and
// writes the results as a Markdown table.
//
//   vetrik_bench VETRIK FLOOR RESULTS.md [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "bench/recorded_tape.h"
#include "tests/tape_builder.h"
#include "tests/tzx_builder.h"

namespace {

using vetrik::tape::Bytes;

struct Case {
  std::string name;
  std::string what;
  Bytes image;
  std::size_t files = 0;
  int runs = 0;
  // The TAP image of the same payloads, for the floor, when image is of
  // another format; empty when the floor reads image itself.
  Bytes floor_image = {};
};

struct Measure {
  double seconds = 0; // median wall time
  long peak_kib = 0;  // largest resident set of any run
  int status = 0;     // exit status of the last run
};

constexpr std::string_view NOTES_HEADING = "## Measured by hand";

std::string padded_index(const char* prefix, std::size_t i) {
  char name[16];
  std::snprintf(name, sizeof name, "%s%06zu", prefix, i);
  return name;
}

Case distinct_files(std::string name, std::string what, std::size_t count,
                    std::size_t payload, int runs) {
  Case c{std::move(name), std::move(what), {}, count, runs};
  const Bytes data = vetrik::tape::pattern(payload, 9);
  for (std::size_t i = 0; i < count; ++i) {
    vetrik::tape::append(
        c.image, vetrik::tape::tape_file(padded_index("f", i), data, 3));
  }
  return c;
}

Case same_name_files(std::string name, std::string what, std::size_t count,
                     std::size_t payload, int runs) {
  Case c{std::move(name), std::move(what), {}, count, runs};
  const Bytes data = vetrik::tape::pattern(payload, 5);
  for (std::size_t i = 0; i < count; ++i) {
    vetrik::tape::append(c.image, vetrik::tape::tape_file("same", data, 0));
  }
  return c;
}

// count names, each stored twice: every second file needs a numbered name.
Case names_twice(std::size_t count, int runs) {
  Case c{"names-twice",
         "100000 names, each twice, 10 bytes a file",
         {},
         2 * count,
         runs};
  const Bytes data = vetrik::tape::pattern(10, 4);
  for (std::size_t i = 0; i < count; ++i) {
    const Bytes file = vetrik::tape::tape_file(padded_index("n", i), data, 3);
    vetrik::tape::append(c.image, file);
    vetrik::tape::append(c.image, file);
  }
  return c;
}

// The same files as tap, in a TZX image of standard-speed blocks with a
// description in front; the floor reads tap.
Case tzx_twin(std::string name, std::string what, const Case& tap) {
  Bytes image = vetrik::tape::tzx_header();
  const std::string_view text = "benchmark";
  image.push_back(0x30);
  image.push_back(static_cast<std::uint8_t>(text.size()));
  for (char c : text) {
    image.push_back(static_cast<std::uint8_t>(c));
  }
  const Bytes blocks =
      vetrik::tape::tzx_from_tap(tap.image, {vetrik::tape::TzxData::STANDARD});
  image.insert(image.end(),
               blocks.begin() + static_cast<std::ptrdiff_t>(
                                    vetrik::tape::tzx_header().size()),
               blocks.end());
  return {std::move(name), std::move(what), std::move(image),
          tap.files,       tap.runs,        tap.image};
}

// A side of tape recorded as a WAV file; the floor reads its TAP image.
Case recording(int runs) {
  const Bytes tap = vetrik::bench::recorded_tape();
  const vetrik::recording::Samples samples =
      vetrik::bench::transferred(vetrik::bench::recorded_signal(tap));
  Case c{"recording",
         "a 401 s WAV, 44.1 kHz 16-bit mono, of 4 files (floor: their TAP)",
         vetrik::recording::wav(
             {samples},
             static_cast<std::uint32_t>(vetrik::bench::RECORDED_RATE),
             vetrik::WavEncoding::PCM_16),
         4,
         runs,
         tap};
  return c;
}

// A tone as a CSW Z-RLE file: TONE_MIB times 1 MiB of pulses, each 16 samples
// at 44.1 kHz, so that about 2 MB hold 2^31 of them.
constexpr int TONE_MIB = 2048;
constexpr std::size_t MIB = std::size_t{1} << 20;

struct Tone {
  Bytes image;
  std::size_t stream_at = 0; // where the Z-RLE stream starts
};

Tone csw_tone() {
  Tone tone{vetrik::recording::csw_image(
      {}, 44100, vetrik::recording::CswVariant::V2_Z_RLE, false, 0)};
  tone.stream_at = tone.image.size();
  const Bytes pulses(MIB, 16);
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  for (int i = 0; i < TONE_MIB; ++i) {
    z.next_in = const_cast<Bytef*>(pulses.data());
    z.avail_in = static_cast<uInt>(pulses.size());
    const int flush = i + 1 == TONE_MIB ? Z_FINISH : Z_NO_FLUSH;
    int result = Z_OK;
    do {
      Bytes& out = tone.image;
      const std::size_t had = out.size();
      out.resize(had + MIB);
      z.next_out = out.data() + had;
      z.avail_out = static_cast<uInt>(MIB);
      result = deflate(&z, flush);
      out.resize(out.size() - z.avail_out);
    } while (z.avail_in > 0 || (flush == Z_FINISH && result != Z_STREAM_END));
  }
  deflateEnd(&z);
  return tone;
}

// Seconds to inflate the tone's stream alone, through a buffer of the size
// vetrik inflates into.
double inflate_seconds(const Tone& tone) {
  const auto start = std::chrono::steady_clock::now();
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(tone.image.data() + tone.stream_at);
  z.avail_in = static_cast<uInt>(tone.image.size() - tone.stream_at);
  Bytes out(16384);
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    result = inflate(&z, Z_NO_FLUSH);
  }
  inflateEnd(&z);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  return result == Z_STREAM_END ? took.count() : -1;
}

Case typical_tape(int runs) {
  Case c{"typical", "3 files, 50 KB (start-up cost)", {}, 3, runs};
  vetrik::tape::append(
      c.image,
      vetrik::tape::tape_file("loader", vetrik::tape::pattern(600, 1), 0));
  vetrik::tape::append(
      c.image,
      vetrik::tape::tape_file("screen", vetrik::tape::pattern(6912, 2), 3));
  vetrik::tape::append(
      c.image,
      vetrik::tape::tape_file("game", vetrik::tape::pattern(43000, 3), 3));
  return c;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void empty_directory(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") {
        unlink((dir + "/" + n).c_str());
      }
    }
    closedir(d);
  }
}

// The launcher that runs each program and measures it.
std::string launcher;

// Runs program on image in dir through the launcher; returns wall seconds.
double run_once(const std::string& program, const std::string& image,
                const std::string& dir, long* peak_kib, int* status) {
  const std::string report = dir + "/../report.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    execl(launcher.c_str(), launcher.c_str(), report.c_str(), dir.c_str(),
          program.c_str(), image.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  long long ns = 0;
  long kib = 0;
  *status = 127;
  if (std::FILE* in = std::fopen(report.c_str(), "r")) {
    if (std::fscanf(in, "%lld %ld %d", &ns, &kib, status) != 3) {
      *status = 127;
    }
    std::fclose(in);
  }
  unlink(report.c_str());
  *peak_kib = std::max(*peak_kib, kib);
  return static_cast<double>(ns) / 1e9;
}

Measure measure(const std::string& program, const std::string& image,
                const std::string& dir, int runs) {
  Measure m;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    empty_directory(dir);
    times.push_back(run_once(program, image, dir, &m.peak_kib, &m.status));
  }
  empty_directory(dir);
  std::sort(times.begin(), times.end());
  m.seconds = times[times.size() / 2];
  return m;
}

// Read and write system calls of one run, counted by strace.
std::string syscall_counts(const std::string& program, const std::string& image,
                           const std::string& dir) {
  if (std::system("command -v strace >/dev/null 2>&1") != 0) {
    return "strace not found";
  }
  empty_directory(dir);
  const std::string trace = dir + "/../strace.txt";
  const std::string command = "cd '" + dir + "' && strace -c -o '" + trace +
                              "' '" + program + "' '" + image + "' >/dev/null";
  if (std::system(command.c_str()) != 0) {
    return "strace failed";
  }
  std::ifstream in(trace);
  std::string line;
  long reads = 0, writes = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) {
      w.push_back(s);
    }
    if (w.size() >= 5 && (w.back() == "read" || w.back() == "write")) {
      (w.back() == "read" ? reads : writes) = std::atol(w[3].c_str());
    }
  }
  unlink(trace.c_str());
  return std::to_string(reads) + " reads, " + std::to_string(writes) +
         " writes";
}

std::string fixed(double v, int digits) {
  char s[32];
  std::snprintf(s, sizeof s, "%.*f", digits, v);
  return s;
}

std::string scratch_root() {
  struct stat st {};
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) &&
      access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr ? tmp : "/tmp";
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::cerr
        << "usage: vetrik_bench VETRIK FLOOR LAUNCHER RESULTS.md [RUNS]\n";
    return 2;
  }
  char* paths[3] = {};
  for (int i = 0; i < 3; ++i) {
    paths[i] = realpath(argv[i + 1], nullptr);
    if (paths[i] == nullptr) {
      std::perror(argv[i + 1]);
      return 1;
    }
  }
  const std::string vetrik = paths[0], floor = paths[1], results = argv[4];
  launcher = paths[2];
  const int runs = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;

  std::string root = scratch_root() + "/vetrik-bench-XXXXXX";
  if (mkdtemp(root.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string out = root + "/out";
  mkdir(out.c_str(), 0777);

  std::vector<Case> cases;
  cases.push_back(distinct_files("large", "4095 files of 65533 bytes, 256 MB",
                                 4095, 65533, runs));
  cases.push_back(tzx_twin("large-tzx",
                           "the large case as a TZX image (floor: its TAP)",
                           cases.back()));
  cases.push_back(same_name_files("same-name",
                                  "1600 files of one name and type, 100 MB",
                                  1600, 65533, runs));
  cases.push_back(same_name_files(
      "one-name", "100000 files of one name, 10 bytes each", 100000, 10, runs));
  cases.push_back(names_twice(100000, runs));
  cases.push_back(distinct_files("many-small", "20000 files of 100 bytes",
                                 20000, 100, runs));
  cases.push_back(typical_tape(runs * 20));
  cases.push_back(recording(runs));
  Case small = distinct_files("memory-1MB", "16 files of 65533 bytes, 1 MB", 16,
                              65533, runs);

  std::ostringstream table;
  table << "| case | image | vetrik | floor | ratio | MB/s | files/s | "
           "peak memory vetrik / floor |\n"
        << "|---|---|---|---|---|---|---|---|\n";
  std::string large_calls, floor_calls, tzx_calls;
  long large_peak = 0, tzx_peak = 0, recording_peak = 0;
  double recording_seconds = 0;
  for (const Case& c : cases) {
    const std::string image = root + "/" + c.name;
    write_file(image, c.image);
    std::string floor_image = image;
    if (!c.floor_image.empty()) {
      floor_image = root + "/" + c.name + "-floor.tap";
      write_file(floor_image, c.floor_image);
    }
    const Measure v = measure(vetrik, image, out, c.runs);
    const Measure f = measure(floor, floor_image, out, c.runs);
    if (v.status != 0 || f.status != 0) {
      std::cerr << c.name << ": exit status " << v.status << " / " << f.status
                << "\n";
    }
    const double mb = static_cast<double>(c.image.size()) / 1e6;
    table << "| " << c.name << " | " << c.what << " | "
          << fixed(v.seconds * 1000, 1) << " ms | "
          << fixed(f.seconds * 1000, 1) << " ms | "
          << fixed(v.seconds / f.seconds, 2) << "x | "
          << fixed(mb / v.seconds, 0) << " | "
          << fixed(static_cast<double>(c.files) / v.seconds, 0) << " | "
          << v.peak_kib << " KiB / " << f.peak_kib << " KiB |\n";
    std::cout << c.name << ": vetrik " << fixed(v.seconds * 1000, 1)
              << " ms, floor " << fixed(f.seconds * 1000, 1) << " ms"
              << std::endl;
    if (c.name == "large") {
      large_calls = syscall_counts(vetrik, image, out);
      floor_calls = syscall_counts(floor, image, out);
      large_peak = v.peak_kib;
    } else if (c.name == "large-tzx") {
      tzx_calls = syscall_counts(vetrik, image, out);
      tzx_peak = v.peak_kib;
    } else if (c.name == "recording") {
      recording_seconds = v.seconds;
      recording_peak = v.peak_kib;
    }
    unlink(image.c_str());
    unlink(floor_image.c_str());
  }
  const Tone tone = csw_tone();
  const std::string tone_image = root + "/tone.csw";
  write_file(tone_image, tone.image);
  const Measure tone_run = measure(vetrik, tone_image, out, runs);
  unlink(tone_image.c_str());
  std::vector<double> inflating;
  for (int i = 0; i < runs; ++i) {
    inflating.push_back(inflate_seconds(tone));
  }
  std::sort(inflating.begin(), inflating.end());
  const double inflate_median = inflating[inflating.size() / 2];
  std::cout << "csw-tone: vetrik " << fixed(tone_run.seconds, 2)
            << " s, inflating " << fixed(inflate_median, 2) << " s"
            << std::endl;

  const std::string small_image = root + "/small.tap";
  write_file(small_image, small.image);
  const Measure s = measure(vetrik, small_image, out, small.runs);
  unlink(small_image.c_str());
  rmdir(out.c_str());
  rmdir(root.c_str());

  char date[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&now));
  // Measurements recorded by hand (before and after a change) follow the
  // table under a heading of their own, and are kept.
  std::string kept;
  {
    std::ifstream old(results);
    const std::string text((std::istreambuf_iterator<char>(old)), {});
    const std::size_t notes = text.find(NOTES_HEADING);
    if (notes != std::string::npos) {
      kept = "\n" + text.substr(notes);
    }
  }
  std::ofstream md(results);
  md << "# Benchmark results\n\n"
     << "Made by `bash bench/run.sh` on " << date << ", on a machine with "
     << sysconf(_SC_NPROCESSORS_ONLN) << " cores; images and output in "
     << scratch_root() << ". Times are the median of " << runs << " runs ("
     << runs * 20
     << " for the typical tape); the floor maps the "
        "image (for a TZX case, the TAP image of the same payloads) and "
        "writes each payload with one write, with no checks and no name "
        "search.\n\n"
     << table.str() << "\n"
     << "System calls for the large case: vetrik " << large_calls << "; floor "
     << floor_calls << ". For its TZX image: vetrik " << tzx_calls << ".\n\n"
     << "Peak memory: " << large_peak << " KiB for the 256 MB image, "
     << tzx_peak << " KiB for its TZX image, " << s.peak_kib
     << " KiB for a 1 MB image.\n\n"
     << "The recording: "
     << fixed(recording_seconds * 1000 * 60 / vetrik::bench::RECORDED_SECONDS,
              1)
     << " ms a minute of audio, peak memory " << recording_peak << " KiB.\n\n"
     << "## CSW runs of equal pulses\n\n"
     << "A tone of 2^31 equal pulses (16 samples each at 44.1 kHz) in a "
     << fixed(static_cast<double>(tone.image.size()) / 1e6, 1)
     << " MB CSW Z-RLE file: vetrik " << fixed(tone_run.seconds, 2)
     << " s (\"no blocks found\"), peak memory " << tone_run.peak_kib
     << " KiB; inflating its stream alone takes " << fixed(inflate_median, 2)
     << " s, so vetrik takes " << fixed(tone_run.seconds / inflate_median, 2)
     << " times that.\n";
  md << kept;
  std::cout << "results written to " << results << "\n";
  return 0;
}
