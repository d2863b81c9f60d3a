// Finds where decoding recordings starts failing, for each kind of damage:
// the harshest level at which every block of every trial still comes out
// exact. A trial is a tape of a header and a data block (300 bytes or 4 KB)
// of a pattern from the trial's seed, saved as the ROM does, damaged with
// the same seed, written as a WAV image in memory and read back through
// RecordingReader alone; a level passes when all its trials pass. Each limit
// is found by bisection on a grid of levels, trials run on several threads.
// Progress goes to the error stream, the Markdown tables to the output and,
// with --results, into that file under "## Limits by kind of damage: NAME"
// (the section replaced if there, the rest of the file kept).
//
//   vetrik_signal_limits [--trials N] [--jobs N] [--only TEXT]
//                        [--results FILE] [--section NAME]
//
// --trials: 300-byte trials a level (32), and half as many of 4 KB; --jobs:
// threads (2); --only: only the rows whose name holds TEXT; --section:
// before (the default) or after.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bytes/image_input.h"
#include "signal/recording.h"
#include "signal/wav_reader.h"
#include "tests/signal_builder.h"

namespace {

namespace rec = vetrik::recording;
namespace tape = vetrik::tape;
using tape::Bytes;
using vetrik::WavEncoding;

constexpr double RATE = 44100;
constexpr double T_PER_SECOND = 3500000;
constexpr double ZERO_HALF_WAVE = 855;
constexpr std::size_t SMALL = 300, LARGE = 4096, LARGEST = 65535;
constexpr std::size_t HEADER_BLOCK = 19; // flag, 17 bytes, checksum
constexpr double NO_NOISE = 999;

// The level a careful transfer records at: the square wave 6 dB below full
// scale, or lower where the damage's peaks would otherwise clip.
constexpr double LEVEL = 0.5;
constexpr double PEAK_MOST = 0.98;

// Dropouts are measured over a hiss at this SNR: without it any depth
// leaves a clean, if small, square wave.
constexpr double DROPOUT_HISS_DB = 30;

struct Options {
  int trials = 32;
  int jobs = 2;
  std::string only;
  std::string results;
  std::string section = "before";
  std::string command;
};

Options options;
std::chrono::steady_clock::time_point started;

// A trial: its data block's size, and the seed of its bytes and damage.
struct Trial {
  std::size_t payload = SMALL;
  std::uint32_t seed = 1;
};

int trials_of(std::size_t payload) {
  return payload == SMALL ? options.trials : std::max(1, options.trials / 2);
}

Bytes trial_tape(const Trial& t) {
  return tape::tape_file("trial", tape::pattern(t.payload, t.seed), 3);
}

// The trial's signal as saved; odd seeds start high.
rec::Signal trial_signal(const Trial& t) {
  rec::SaveOptions save;
  save.gap = 0.2;
  save.lead_in = 0.1;
  save.tail = 0.1;
  save.first_high = t.seed % 2 == 1;
  return rec::save_signal(trial_tape(t), save);
}

// The trial's sound at rate, amplitude 1.
rec::Samples played(const Trial& t, double rate, const rec::Speed& speed = {}) {
  return rec::render(trial_signal(t), rate, speed);
}

// The samples as a WAV image, at LEVEL or as near as no peak clips.
Bytes recorded(rec::Samples s, double rate,
               WavEncoding encoding = WavEncoding::PCM_16) {
  float peak = 0;
  for (float x : s) {
    peak = std::max(peak, std::fabs(x));
  }
  const double gain = std::min(LEVEL, peak > 0 ? PEAK_MOST / peak : LEVEL);
  for (float& x : s) {
    x = static_cast<float>(x * gain);
  }
  return rec::wav({s}, static_cast<std::uint32_t>(rate), encoding);
}

// Whether every block of the trial's tape comes out of image exact.
bool exact(const Bytes& image, const Trial& t) {
  if (image.empty()) {
    return false;
  }
  vetrik::MemoryInput input(image);
  vetrik::RecordingReader reader(input, vetrik::ImageFormat::WAV);
  std::vector<Bytes> blocks;
  for (Bytes b; reader.next_block(b);) {
    blocks.push_back(b);
  }
  return blocks == rec::tap_blocks(trial_tape(t));
}

// Whether all trials of payload pass ok, shared among the jobs; stops at the
// first that fails.
bool all_pass(std::size_t payload,
              const std::function<bool(const Trial&)>& ok) {
  const int trials = trials_of(payload);
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  const auto work = [&] {
    for (int t = next++; t < trials && !failed; t = next++) {
      if (!ok({payload, static_cast<std::uint32_t>(t + 1)})) {
        failed = true;
      }
    }
  };
  std::vector<std::thread> pool;
  for (int j = 1; j < std::min(options.jobs, trials); ++j) {
    pool.emplace_back(work);
  }
  work();
  for (std::thread& t : pool) {
    t.join();
  }
  return !failed;
}

// Lossy copies, through the tools on the path.

enum class Codec { MP3, VORBIS };

// Whether each of the tools named, apart by spaces, is on the path.
bool have_tools(const std::string& names) {
  std::istringstream list(names);
  for (std::string name; list >> name;) {
    const std::string command = "command -v " + name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      return false;
    }
  }
  return true;
}

// The first line command prints, or "" where it fails.
std::string first_line(const char* command) {
  std::FILE* pipe = popen(command, "r");
  if (pipe == nullptr) {
    return "";
  }
  char line[256] = "";
  if (std::fgets(line, sizeof line, pipe) == nullptr) {
    line[0] = 0;
  }
  pclose(pipe);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

const std::string& scratch_folder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") +
        "/vetrik_limits_XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }();
  return folder;
}

// image encoded by codec at level (kbit/s for MP3, quality for Vorbis) and
// decoded again to a WAV image; empty where a tool failed.
Bytes lossy_copy(const Bytes& image, Codec codec, double level) {
  static std::atomic<int> count{0};
  const std::string base = scratch_folder() + "/copy" + std::to_string(count++);
  const std::string in = base + ".wav", coded = base + ".coded",
                    out = base + ".back.wav";
  {
    std::ofstream file(in, std::ios::binary);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
  }
  char command[1024];
  if (codec == Codec::MP3) {
    std::snprintf(command, sizeof command,
                  "lame --quiet -m m -b %.0f '%s' '%s' && lame --quiet "
                  "--decode '%s' '%s'",
                  level, in.c_str(), coded.c_str(), coded.c_str(), out.c_str());
  } else {
    std::snprintf(command, sizeof command,
                  "oggenc --quiet -q %.2f -o '%s' '%s' && oggdec --quiet -o "
                  "'%s' '%s'",
                  level, coded.c_str(), in.c_str(), out.c_str(), coded.c_str());
  }
  Bytes back;
  if (std::system(command) == 0) {
    std::ifstream file(out, std::ios::binary);
    back.assign(std::istreambuf_iterator<char>(file), {});
  } else {
    std::fprintf(stderr, "failed: %s\n", command);
  }
  std::remove(in.c_str());
  std::remove(coded.c_str());
  std::remove(out.c_str());
  return back;
}

// The trial's clean recording through codec at level, as a WAV image.
Bytes copied(const Trial& t, Codec codec, double level) {
  return lossy_copy(recorded(played(t, RATE), RATE), codec, level);
}

// Decoders that know where every bit starts, to read lossy copies against.

// A WAV image's first channel and its rate, as the tool's WAV reader reads
// them; no samples where it cannot read the image.
struct Pcm {
  double rate = 0;
  rec::Samples samples;
};

Pcm first_channel(const Bytes& image) {
  vetrik::MemoryInput input(image);
  vetrik::WavReader reader(input);
  Pcm out;
  if (reader.open().kind != vetrik::SignalProblemKind::NONE) {
    return out;
  }
  out.rate = reader.format().rate;
  std::vector<rec::Samples> chunk;
  while (reader.read(chunk) > 0) {
    out.samples.insert(out.samples.end(), chunk[0].begin(), chunk[0].end());
  }
  return out;
}

// Where each bit of each block starts on the tape, in T-states, the level it
// starts at and what it is.
struct BitAt {
  double t_states = 0;
  int level = 0;
  bool one = false;
};

std::vector<BitAt> bits_of(const rec::Signal& signal) {
  std::vector<BitAt> bits;
  double t = 0;
  bool in_block = false;
  for (std::size_t i = 0; i < signal.size(); ++i) {
    const rec::Piece& p = signal[i];
    if (p.level == 0) {
      in_block = false;
    } else if (in_block && i + 1 < signal.size()) {
      bits.push_back({t, p.level, p.t_states > 1000});
      t += p.t_states;
      ++i; // the bit's second half-wave
    } else if (i > 0 && signal[i - 1].t_states == 667 && p.t_states == 735) {
      in_block = true; // the sync's second half-wave
    }
    t += signal[i].t_states;
  }
  return bits;
}

// The first 1710 T-states of each bit (where a 1 and a 0 differ only in the
// second 855), as the white noise table's ideal decoder weighs them; or
// also the 855 T-states after them, a 1's second half-wave against the start
// of the bit after a 0.
enum class Known { FIRST_1710, THREE_QUARTERS };

// The lag of copy against clean, in the copy's samples, near at (a T-state
// of clean): where they correlate best, within 2048 samples.
long lag_of(const rec::Samples& clean, const Pcm& copy, double at) {
  const double k = copy.rate / RATE;
  const auto from = static_cast<long>(at / T_PER_SECOND * copy.rate) - 3000;
  const auto size = static_cast<long>(copy.samples.size());
  long best_lag = 0;
  double best = -1e300;
  for (long lag = -2048; lag <= 2048; ++lag) {
    double sum = 0;
    for (long i = std::max(0L, from); i < from + 9000; ++i) {
      const auto j = static_cast<std::size_t>(static_cast<double>(i) / k);
      if (i + lag >= 0 && i + lag < size && j < clean.size()) {
        sum += static_cast<double>(clean[j]) *
               copy.samples[static_cast<std::size_t>(i + lag)];
      }
    }
    if (sum > best) {
      best = sum;
      best_lag = lag;
    }
  }
  return best_lag;
}

// Whether a decoder that knows where every bit starts reads every bit of
// the blocks of signal right from copy, a WAV image of clean (its sound).
bool known_timing_exact(const Bytes& copy_image, const rec::Samples& clean,
                        const rec::Signal& signal, Known known) {
  const Pcm copy = first_channel(copy_image);
  const std::vector<BitAt> bits = bits_of(signal);
  if (copy.samples.empty() || bits.empty()) {
    return false;
  }
  const long lag = lag_of(clean, copy, bits.back().t_states);
  const auto size = static_cast<long>(copy.samples.size());
  // The samples' sum from T-state a to b, each weighed by how much of it
  // lies between.
  const auto sum = [&](double a, double b) {
    a = a / T_PER_SECOND * copy.rate + static_cast<double>(lag);
    b = b / T_PER_SECOND * copy.rate + static_cast<double>(lag);
    double total = 0;
    for (auto i = static_cast<long>(std::floor(a)); i < std::ceil(b); ++i) {
      const double part = std::min(b, i + 1.0) - std::max(a, double(i));
      if (i >= 0 && i < size && part > 0) {
        total += copy.samples[static_cast<std::size_t>(i)] * part;
      }
    }
    return total;
  };
  for (const BitAt& bit : bits) {
    const double q = ZERO_HALF_WAVE, at = bit.t_states;
    double weight = sum(at + q, at + 2 * q);
    if (known == Known::THREE_QUARTERS) {
      weight -= sum(at + 2 * q, at + 3 * q);
    }
    if ((bit.level * weight > 0) != bit.one) {
      return false;
    }
  }
  return true;
}

// Searching a limit.

// Levels from easy, which should pass, to hard on a grid of step (or the
// given steps, easy first).
struct Search {
  double easy = 0, hard = 0, step = 1;
  std::vector<double> steps;
};

enum class Found { LIMIT, EASY_FAILS, HARD_PASSES, SKIPPED };

struct Limit {
  Found found = Found::SKIPPED;
  double value = 0; // the harshest level passed, or easy, or hard
  std::string note;
};

// The harshest level at which passes holds, by bisection (it is taken to
// hold up to some level and not past it).
Limit harshest(const Search& s, const std::function<bool(double)>& passes) {
  const auto n = static_cast<long>(
      s.steps.empty() ? std::lround(std::fabs(s.hard - s.easy) / s.step)
                      : static_cast<long>(s.steps.size()) - 1);
  const auto level = [&](long i) {
    if (!s.steps.empty()) {
      return s.steps[static_cast<std::size_t>(i)];
    }
    return s.easy +
           (s.hard > s.easy ? 1 : -1) * s.step * static_cast<double>(i);
  };
  if (!passes(level(0))) {
    return {Found::EASY_FAILS, level(0), {}};
  }
  if (passes(level(n))) {
    return {Found::HARD_PASSES, level(n), {}};
  }
  long good = 0, bad = n;
  while (bad - good > 1) {
    const long middle = (good + bad) / 2;
    (passes(level(middle)) ? good : bad) = middle;
  }
  return {Found::LIMIT, level(good), {}};
}

double seconds_since_start() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       started)
      .count();
}

void progress(const std::string& what, std::size_t payload, double level,
              bool passed) {
  const double s = seconds_since_start();
  std::fprintf(stderr, "[%3d:%02d] %s, %s: %g %s\n", static_cast<int>(s) / 60,
               static_cast<int>(s) % 60, what.c_str(),
               payload == SMALL ? "300 B" : "4 KB", level,
               passed ? "passes" : "fails");
}

// The harshest level of trials of payload, searched by s, at which ok holds
// for every trial.
Limit limit_where(const std::string& what, std::size_t payload, const Search& s,
                  const std::function<bool(const Trial&, double)>& ok) {
  return harshest(s, [&](double level) {
    const bool passed =
        all_pass(payload, [&](const Trial& t) { return ok(t, level); });
    progress(what, payload, level, passed);
    return passed;
  });
}

// The limit of make's damage to trials of payload, searched by s; make
// turns a trial and a level into a WAV image.
Limit limit_of(const std::string& what, std::size_t payload, const Search& s,
               const std::function<Bytes(const Trial&, double)>& make) {
  return limit_where(what, payload, s, [&](const Trial& t, double level) {
    return exact(make(t, level), t);
  });
}

// What a level is: its format ("%.2f dB") and whether harder is higher.
struct Unit {
  const char* format;
  bool harder_is_higher;
};

std::string text(const Limit& l, const Unit& u) {
  char value[64];
  std::snprintf(value, sizeof value, u.format, l.value);
  switch (l.found) {
  case Found::LIMIT:
    return value;
  case Found::EASY_FAILS:
    return std::string("fails at ") + value;
  case Found::HARD_PASSES:
    return std::string(u.harder_is_higher ? "≥ " : "≤ ") + value +
           " (the end searched)";
  case Found::SKIPPED:
    return l.note;
  }
  return "";
}

bool chosen(const std::string& name) {
  return options.only.empty() || name.find(options.only) != std::string::npos;
}

// The ideal decoder's SNR: one that knows where every bit starts and tells
// each bit from the two shapes by a matched filter over its first 1710
// T-states (where they differ by 2 over 855 T-states, n samples) errs with
// odds Q(sqrt(n SNR)); the SNR in dB at which bits bits all come out right
// with even odds, at rate.
double ideal_snr_db(double bits, double rate) {
  const double bit_error = -std::expm1(std::log(0.5) / bits);
  const auto q = [](double x) { return 0.5 * std::erfc(x / std::sqrt(2.0)); };
  double low = 0, high = 40;
  for (int i = 0; i < 100; ++i) {
    const double x = (low + high) / 2;
    (q(x) > bit_error ? low : high) = x;
  }
  const double n = ZERO_HALF_WAVE / T_PER_SECOND * rate;
  return 10 * std::log10(low * low / n);
}

double block_bits(std::size_t payload) {
  return 8.0 * static_cast<double>(payload + 2);
}

// The bits of all trials of payload, header blocks too.
double trials_bits(std::size_t payload) {
  return trials_of(payload) *
         (block_bits(payload) + 8.0 * static_cast<double>(HEADER_BLOCK));
}

// White noise and tape speed, at the rates and encodings of transfers.

struct Transfer {
  const char* name;
  double rate = RATE;       // of the file
  double sound_rate = RATE; // where noise and filters are made
  WavEncoding encoding = WavEncoding::PCM_16;
  double low_pass_hz = 0;
  double high_pass_hz = 0;
};

Bytes transferred(const Transfer& c, const Trial& t, double snr_db,
                  double speed) {
  rec::Samples s = played(t, c.sound_rate, rec::Speed{speed});
  if (c.low_pass_hz > 0) {
    rec::low_pass(s, c.sound_rate, c.low_pass_hz);
  }
  if (snr_db < NO_NOISE) {
    rec::add_noise(s, 1, snr_db, t.seed);
  }
  if (c.high_pass_hz > 0) {
    rec::high_pass(s, c.sound_rate, c.high_pass_hz);
  }
  if (c.sound_rate != c.rate) {
    s = rec::resample(s, c.sound_rate, c.rate);
  }
  return recorded(std::move(s), c.rate, c.encoding);
}

const Search SNR_SEARCH{40, -20, 0.25, {}};
const Search MP3_SEARCH{
    0,
    0,
    1,
    {320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 40, 32, 24, 16, 8}};
const Search VORBIS_SEARCH{10, -1, 0.25, {}};
const Unit DB{"%.2f dB", false};
const Unit DB_UP{"%+.2f dB", true};
const Unit PERCENT_SLOW{"%+.1f%%", false};
const Unit PERCENT_FAST{"%+.1f%%", true};

std::string percent(Limit l, bool fast) {
  l.value = (l.value - 1) * 100;
  return text(l, fast ? PERCENT_FAST : PERCENT_SLOW);
}

struct WhiteNoise {
  bool measured = false;
  Limit small, large;
};

// The table of transfers; the limits of the first are kept in white.
std::string transfers_table(WhiteNoise& white) {
  const Transfer transfers[] = {
      {"44.1 kHz 16-bit"},
      {"44.1 kHz, low-pass 3 kHz", RATE, RATE, WavEncoding::PCM_16, 3000},
      {"44.1 kHz, AC coupling 150 Hz", RATE, RATE, WavEncoding::PCM_16, 0, 150},
      {"11025 Hz 8-bit, recorded from 44.1 kHz sound", 11025, RATE,
       WavEncoding::PCM_8},
      {"11025 Hz 8-bit, low-pass 3 kHz, from 44.1 kHz sound", 11025, RATE,
       WavEncoding::PCM_8, 3000},
      {"11025 Hz 16-bit, noise white to 5.5 kHz", 11025, 11025,
       WavEncoding::PCM_16},
      {"8000 Hz 16-bit, noise white to 4 kHz", 8000, 8000, WavEncoding::PCM_16},
  };
  std::ostringstream out;
  for (const Transfer& c : transfers) {
    if (!chosen(c.name)) {
      continue;
    }
    const auto snr = [&](std::size_t payload) {
      return limit_of(
          std::string(c.name) + ", white noise", payload, SNR_SEARCH,
          [&](const Trial& t, double v) { return transferred(c, t, v, 1); });
    };
    const auto speed = [&](double snr_db, bool fast) {
      const Search s{1, fast ? 2.5 : 0.3, 0.005, {}};
      char what[200];
      std::snprintf(what, sizeof what, "%s, %s%s", c.name,
                    fast ? "fast" : "slow",
                    snr_db < NO_NOISE ? " at 20 dB" : "");
      return limit_of(what, SMALL, s, [&](const Trial& t, double v) {
        return transferred(c, t, snr_db, v);
      });
    };
    const Limit small = snr(SMALL), large = snr(LARGE);
    if (&c == &transfers[0]) {
      white = {true, small, large};
    }
    const auto ideal = [&](std::size_t payload, bool all) {
      char cell[64];
      std::snprintf(
          cell, sizeof cell, "%.2f dB",
          ideal_snr_db(all ? trials_bits(payload) : block_bits(payload),
                       c.sound_rate));
      return std::string(cell);
    };
    out << "| " << c.name << " | " << text(small, DB) << " | "
        << ideal(SMALL, false) << " (" << ideal(SMALL, true) << ") | "
        << text(large, DB) << " | " << ideal(LARGE, false) << " ("
        << ideal(LARGE, true) << ") | " << ideal(LARGEST, false) << " | "
        << percent(speed(NO_NOISE, false), false) << " | "
        << percent(speed(NO_NOISE, true), true) << " | "
        << percent(speed(20, false), false) << " | "
        << percent(speed(20, true), true) << " |\n";
    std::fflush(stdout);
  }
  if (out.str().empty()) {
    return "";
  }
  return "| recording | lowest SNR, 300 B | ideal, 300 B | lowest SNR, 4 KB "
         "| ideal, 4 KB | ideal, 64 KB | slowest | fastest | slowest at "
         "20 dB | fastest at 20 dB |\n"
         "|---|---|---|---|---|---|---|---|---|---|\n" +
         out.str();
}

// Each kind of damage alone, at 44.1 kHz 16-bit.

struct Kind {
  std::string name;    // what the damage is
  std::string measure; // which limit is found
  Unit unit;
  Search search;
  std::function<Bytes(const Trial&, double)> make;
  const char* tool = nullptr; // needed on the path, if any
};

Bytes plain(const Trial& t, const std::function<void(rec::Samples&)>& damage) {
  rec::Samples s = played(t, RATE);
  damage(s);
  return recorded(std::move(s), RATE);
}

Bytes hum(const Trial& t, double level_db, double mains_hz) {
  return plain(t, [&](rec::Samples& s) {
    rec::add_hum(s, RATE, 1, level_db, mains_hz, t.seed);
  });
}

Bytes dropouts(const Trial& t, double depth_db, double seconds) {
  return plain(t, [&](rec::Samples& s) {
    // The tape's hiss drops out with the signal it lies on.
    rec::add_noise(s, 1, DROPOUT_HISS_DB, t.seed + 1000);
    rec::add_dropouts(s, RATE, depth_db, seconds, 1, t.seed);
  });
}

Bytes clicks(const Trial& t, double height, double per_second) {
  return plain(t, [&](rec::Samples& s) {
    rec::add_clicks(s, RATE, 1, height, per_second, t.seed);
  });
}

// The combined chain: each step can be left out, and white noise added.
struct Chain {
  bool wow_and_flutter = true; // wow 0.5% at 0.7 Hz, flutter 0.3% at 11 Hz
  bool dropouts = true;        // 6 dB for 20 ms once a second
  bool low_pass = true;        // 2.6 kHz, 4-pole
  bool pink = true;            // pink noise at 12 dB SNR
  bool hum = true;             // 50 Hz and harmonics at -6 dB
  bool high_pass = true;       // 150 Hz, one pole
  bool mp3 = true;             // lame at 64 kbit/s
  double white_snr_db = NO_NOISE;
  double harsher_db = 0; // the pink noise and the hum both this much louder
};

constexpr const char* CHAIN_STEPS[] = {
    "wow and flutter", "dropouts", "low-pass", "pink noise", "hum",
    "high-pass",       "MP3"};

Chain without(std::size_t step) {
  Chain c;
  bool* steps[] = {
      &c.wow_and_flutter, &c.dropouts, &c.low_pass, &c.pink, &c.hum,
      &c.high_pass,       &c.mp3};
  *steps[step] = false;
  return c;
}

Bytes chained(const Trial& t, const Chain& c) {
  rec::Speed speed;
  if (c.wow_and_flutter) {
    speed.wow = 0.005;
    speed.flutter = 0.003;
  }
  rec::Samples s = played(t, RATE, speed);
  if (c.dropouts) {
    rec::add_dropouts(s, RATE, 6, 0.020, 1, t.seed + 100);
  }
  if (c.low_pass) {
    rec::low_pass(s, RATE, 2600);
  }
  if (c.pink) {
    rec::add_coloured_noise(s, RATE, 1, 12 - c.harsher_db, 1, t.seed + 200);
  }
  if (c.hum) {
    rec::add_hum(s, RATE, 1, -6 + c.harsher_db, 50, t.seed + 300);
  }
  if (c.white_snr_db < NO_NOISE) {
    rec::add_noise(s, 1, c.white_snr_db, t.seed + 400);
  }
  if (c.high_pass) {
    rec::high_pass(s, RATE, 150);
  }
  const Bytes image = recorded(std::move(s), RATE);
  return c.mp3 ? lossy_copy(image, Codec::MP3, 64) : image;
}

std::string kinds_table(const WhiteNoise& white) {
  std::vector<Kind> kinds = {
      {"pink noise (1/f above 20 Hz)", "lowest SNR", DB, SNR_SEARCH,
       [](const Trial& t, double v) {
         return plain(t, [&](rec::Samples& s) {
           rec::add_coloured_noise(s, RATE, 1, v, 1, t.seed);
         });
       }},
      {"brown noise (1/f² above 20 Hz)",
       "lowest SNR",
       DB,
       {40, -50, 0.25, {}},
       [](const Trial& t, double v) {
         return plain(t, [&](rec::Samples& s) {
           rec::add_coloured_noise(s, RATE, 1, v, 2, t.seed);
         });
       }},
      {"hum, 50 Hz and harmonics",
       "highest level",
       DB_UP,
       {-40, 30, 0.25, {}},
       [](const Trial& t, double v) { return hum(t, v, 50); }},
      {"hum, 60 Hz and harmonics",
       "highest level",
       DB_UP,
       {-40, 30, 0.25, {}},
       [](const Trial& t, double v) { return hum(t, v, 60); }},
      {"dropouts of 2 ms once a second, tape hiss at 30 dB",
       "deepest",
       {"%.1f dB", true},
       {0, 60, 0.5, {}},
       [](const Trial& t, double v) { return dropouts(t, v, 0.002); }},
      {"dropouts of 20 ms once a second, tape hiss at 30 dB",
       "deepest",
       {"%.1f dB", true},
       {0, 60, 0.5, {}},
       [](const Trial& t, double v) { return dropouts(t, v, 0.020); }},
      {"dropouts of 80 ms once a second, tape hiss at 30 dB",
       "deepest",
       {"%.1f dB", true},
       {0, 60, 0.5, {}},
       [](const Trial& t, double v) { return dropouts(t, v, 0.080); }},
      {"worn heads: 4-pole low-pass",
       "lowest cut-off",
       {"%.0f Hz", false},
       {8000, 200, 10, {}},
       [](const Trial& t, double v) {
         return plain(t, [&](rec::Samples& s) { rec::low_pass(s, RATE, v); });
       }},
      {"clicks, 2 a second",
       "highest height",
       {"%.1f", true},
       {0.5, 100, 0.1, {}},
       [](const Trial& t, double v) { return clicks(t, v, 2); }},
      {"clicks of height 3",
       "most a second",
       {"%.1f", true},
       {0.1, 1000, 0.1, {}},
       [](const Trial& t, double v) { return clicks(t, 3, v); }},
      {"MP3: lame -m m -b R",
       "lowest R",
       {"%.0f kbit/s", false},
       MP3_SEARCH,
       [](const Trial& t, double v) { return copied(t, Codec::MP3, v); },
       "lame"},
      {"Ogg Vorbis: oggenc -q Q",
       "lowest Q",
       {"%.2f", false},
       VORBIS_SEARCH,
       [](const Trial& t, double v) { return copied(t, Codec::VORBIS, v); },
       "oggenc oggdec"},
  };
  std::ostringstream out;
  if (white.measured) {
    out << "| white noise | lowest SNR | " << text(white.small, DB) << " | "
        << text(white.large, DB) << " |\n";
  }
  for (const Kind& k : kinds) {
    if (!chosen(k.name)) {
      continue;
    }
    Limit small, large;
    if (k.tool != nullptr && !have_tools(k.tool)) {
      small.note = large.note = std::string("skipped: no ") + k.tool;
      std::fprintf(stderr, "%s: skipped, %s is not installed\n", k.name.c_str(),
                   k.tool);
    } else if (k.tool != nullptr && scratch_folder().empty()) {
      small.note = large.note = "skipped: no scratch folder";
    } else {
      small = limit_of(k.name, SMALL, k.search, k.make);
      large = limit_of(k.name, LARGE, k.search, k.make);
    }
    out << "| " << k.name << " | " << k.measure << " | " << text(small, k.unit)
        << " | " << text(large, k.unit) << " |\n";
  }
  if (out.str().empty()) {
    return "";
  }
  return "| damage | limit | 300 B | 4 KB |\n|---|---|---|---|\n" + out.str();
}

// The lossy copies read by the decoders that know where every bit starts.
std::string known_timing_table() {
  struct Copy {
    const char* name;
    Codec codec;
    const Search& search;
    Unit unit;
    const char* tool;
  };
  const Copy copies[] = {
      {"MP3: lame -m m -b R",
       Codec::MP3,
       MP3_SEARCH,
       {"%.0f kbit/s", false},
       "lame"},
      {"Ogg Vorbis: oggenc -q Q",
       Codec::VORBIS,
       VORBIS_SEARCH,
       {"%.2f", false},
       "oggenc oggdec"},
  };
  const std::pair<Known, const char*> decoders[] = {
      {Known::FIRST_1710, "known timing, first 1710 T-states (the ideal)"},
      {Known::THREE_QUARTERS, "known timing, first 2565 T-states"},
  };
  std::ostringstream out;
  for (const Copy& c : copies) {
    if (!chosen(std::string(c.name) + ", known timing")) {
      continue;
    }
    for (const auto& [known, name] : decoders) {
      std::string cells[2];
      for (std::size_t payload : {SMALL, LARGE}) {
        Limit l;
        if (!have_tools(c.tool) || scratch_folder().empty()) {
          l.note = std::string("skipped: no ") + c.tool;
        } else {
          l = limit_where(std::string(c.name) + ", " + name, payload, c.search,
                          [&](const Trial& t, double v) {
                            const rec::Signal signal = trial_signal(t);
                            const rec::Samples clean =
                                rec::render(signal, RATE);
                            return known_timing_exact(
                                lossy_copy(recorded(clean, RATE), c.codec, v),
                                clean, signal, known);
                          });
        }
        cells[payload == SMALL ? 0 : 1] = text(l, c.unit);
      }
      out << "| " << c.name << " | " << name << " | " << cells[0] << " | "
          << cells[1] << " |\n";
    }
  }
  if (out.str().empty()) {
    return "";
  }
  return "| copy | decoder | lowest level, 300 B | lowest level, 4 KB |\n"
         "|---|---|---|---|\n" +
         out.str();
}

std::string chain_table() {
  std::ostringstream out;
  if (!chosen("combined chain")) {
    return "";
  }
  if (!have_tools("lame") || scratch_folder().empty()) {
    std::fprintf(stderr, "combined chain: skipped, lame is not installed\n");
    return "Combined chain: skipped, lame is not installed.\n";
  }
  std::string passes = "| passes |";
  std::string harsher = "| most dB louder pink noise and hum together |";
  std::string extra = "| lowest SNR of white noise added |";
  std::string helps = "| passes with one step left out |";
  for (std::size_t payload : {SMALL, LARGE}) {
    const bool passed = all_pass(
        payload, [&](const Trial& t) { return exact(chained(t, Chain{}), t); });
    progress("combined chain", payload, 0, passed);
    passes += passed ? " yes |" : " no |";
    const Limit louder =
        limit_of("combined chain, louder pink noise and hum", payload,
                 {-30, 30, 0.25, {}}, [](const Trial& t, double v) {
                   Chain c;
                   c.harsher_db = v;
                   return chained(t, c);
                 });
    harsher += " " + text(louder, DB_UP) + " |";
    if (passed) {
      const Limit white =
          limit_of("combined chain, white noise added", payload,
                   {60, -10, 0.25, {}}, [](const Trial& t, double v) {
                     Chain c;
                     c.white_snr_db = v;
                     return chained(t, c);
                   });
      extra += " " + text(white, DB) + " |";
      helps += " - |";
      continue;
    }
    extra += " - |";
    std::string steps;
    for (std::size_t step = 0; step < std::size(CHAIN_STEPS); ++step) {
      const bool ok = all_pass(payload, [&](const Trial& t) {
        return exact(chained(t, without(step)), t);
      });
      progress(std::string("combined chain without ") + CHAIN_STEPS[step],
               payload, 0, ok);
      if (ok) {
        steps += (steps.empty() ? "" : ", ") + std::string(CHAIN_STEPS[step]);
      }
    }
    helps += " " + (steps.empty() ? std::string("none") : steps) + " |";
  }
  out << "| combined chain | 300 B | 4 KB |\n|---|---|---|\n"
      << passes << "\n"
      << harsher << "\n"
      << extra << "\n"
      << helps << "\n";
  return out.str();
}

std::string today() {
  const std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
  return date;
}

// The section of the results, with how it was made.
std::string section(const std::string& tables, double seconds) {
  std::string tools;
  for (const char* version :
       {"lame --version 2>/dev/null", "oggenc --version 2>/dev/null"}) {
    const std::string line = first_line(version);
    tools += line.empty() ? "" : " " + line + ".";
  }
  std::ostringstream out;
  char took[64];
  std::snprintf(took, sizeof took, "%d min %02d s",
                static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
  out << "## Limits by kind of damage: " << options.section << "\n\n"
      << "Made on " << today() << " by `bench/signal_limits.sh "
      << options.section << "`, which builds and runs `" << options.command
      << "`: " << options.trials << " trials of a 300-byte tape and "
      << trials_of(LARGE) << " of a 4 KB one a level, " << options.jobs
      << " threads, " << took << " in all." << tools
      << " A trial is a header and a data block of a pattern of its own "
         "seed, played from its own polarity, damaged with its own seed, "
         "recorded as a 16-bit WAV at -6 dB (or lower, as far as keeps the "
         "peaks from clipping) and read back by RecordingReader; a level "
         "passes when every block of every trial comes out exact. Each limit "
         "is the harshest level passed on its grid, found by bisection.\n\n"
      << tables;
  return out.str();
}

// Puts text in place of the section of the same heading in the file at path,
// or after its end; the file's other sections stay.
bool write_section(const std::string& path, const std::string& text) {
  std::string old;
  {
    std::ifstream in(path);
    old.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string heading = text.substr(0, text.find('\n') + 1);
  std::string out;
  std::size_t at = old.find(heading);
  if (at != std::string::npos && (at == 0 || old[at - 1] == '\n')) {
    std::size_t end = old.find("\n## ", at + heading.size());
    end = end == std::string::npos ? old.size() : end + 1;
    out = old.substr(0, at) + text + (end < old.size() ? "\n" : "") +
          old.substr(end);
  } else {
    out = old;
    while (!out.empty() && out.back() == '\n') {
      out.pop_back();
    }
    out += (out.empty() ? "" : "\n\n") + text;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << out;
  return static_cast<bool>(file);
}

bool parse(int argc, char** argv) {
  options.command = "vetrik_signal_limits";
  for (int i = 1; i < argc; ++i) {
    options.command += std::string(" ") + argv[i];
  }
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) {
      return false;
    }
    const std::string v = argv[++i];
    if (a == "--trials") {
      options.trials = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--jobs") {
      options.jobs = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--only") {
      options.only = v;
    } else if (a == "--results") {
      options.results = v;
    } else if (a == "--section") {
      options.section = v;
    } else {
      return false;
    }
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  if (!parse(argc, argv)) {
    std::fprintf(stderr, "usage: vetrik_signal_limits [--trials N] [--jobs N] "
                         "[--only TEXT] [--results FILE] [--section NAME]\n");
    return 2;
  }
  started = std::chrono::steady_clock::now();
  WhiteNoise white;
  std::string tables;
  const std::string transfers = transfers_table(white);
  if (!transfers.empty()) {
    tables +=
        "### White noise and tape speed\n\n" + transfers +
        "\nSNR: 20 log10(A / noise RMS), A the square wave's amplitude and "
        "the noise white up to half the rate the sound is made at. Ideal: the "
        "SNR at which a decoder that knew where every bit starts, deciding "
        "each between the two shapes by a matched filter over its first 1710 "
        "T-states, gets the block (with flag and checksum) exact with even "
        "odds, from bit errors of Q(sqrt(n SNR)), n the samples in 855 "
        "T-states at the rate the noise is white to; in brackets, all blocks "
        "of all trials of a level, headers too, with even odds. Speed: the "
        "tape's, as a change of every duration (-10% slow makes them 1/0.9 "
        "as long), without noise and with white noise at 20 dB.\n\n";
  }
  const std::string kinds = kinds_table(white);
  if (!kinds.empty()) {
    tables +=
        "### Each kind of damage alone, 44.1 kHz 16-bit\n\n" + kinds + "\n";
  }
  const std::string known = known_timing_table();
  if (!known.empty()) {
    tables += "### Lossy copies read knowing where every bit starts\n\n" +
              known +
              "\nEach bit decided, where the tape puts it (the copy aligned "
              "to the clean sound near the data block's end), by the sign of "
              "the samples' sum over its second 855 T-states, or that less "
              "the sum over the 855 after them; a level passes when every "
              "bit of every trial comes out right. Beside the lossy rows "
              "above they show how much of each copy is left to read.\n\n";
  }
  const std::string chain = chain_table();
  if (!chain.empty()) {
    tables += "### Combined chain, 44.1 kHz 16-bit\n\n" + chain + "\n";
  }
  tables +=
      "The damage (tests/signal_builder.h), each added to the square wave of "
      "amplitude A = 1 as rendered at 44.1 kHz:\n\n"
      "- pink and brown noise: Gaussian, power density as 1/f or 1/f² "
      "above 20 Hz and flat below, made in one inverse FFT over the whole "
      "recording and scaled to the RMS the SNR asks for, over 0 to "
      "22.05 kHz;\n"
      "- hum: sines at 1, 2, 3, 5 and 7 times the mains frequency, "
      "amplitudes 1, 0.5, 0.3, 0.2, 0.1, seeded phases, level 20 log10(hum "
      "RMS / A);\n"
      "- dropouts: in each second, from a point drawn evenly within it, the "
      "level falls by the depth for the length, suddenly, on a recording "
      "with white noise at 30 dB SNR (the tape's hiss, which drops out with "
      "the signal);\n"
      "- worn heads: a 4-pole Butterworth low-pass at the cut-off;\n"
      "- clicks: in each 1/N s, at a sample drawn evenly within it, 0.5, 1, "
      "0.5 times H A of random sign on three samples;\n"
      "- lossy copies: the clean recording through `lame -m m -b R` and "
      "`lame --decode`, or `oggenc -q Q` and `oggdec`;\n"
      "- combined chain: wow 0.5% at 0.7 Hz and flutter 0.3% at 11 Hz "
      "(peak fractions of the speed), dropouts of 6 dB for 20 ms once a "
      "second, low-pass 2.6 kHz (4-pole), pink noise at 12 dB, hum 50 Hz at "
      "-6 dB, the extra white noise if any, high-pass 150 Hz (one pole), "
      "then MP3 at 64 kbit/s, in that order. Its margin: how many dB "
      "louder the pink noise and the hum can both be (negative: how much "
      "quieter they must be); where it passes, also the most white noise "
      "added to it, as an SNR.\n";
  const double seconds = seconds_since_start();
  const std::string text = section(tables, seconds);
  std::fputs(text.c_str(), stdout);
  std::fprintf(stderr, "took %.0f s\n", seconds);
  if (!scratch_folder().empty()) {
    rmdir(scratch_folder().c_str());
  }
  if (!options.results.empty() && !write_section(options.results, text)) {
    std::fprintf(stderr, "could not write %s\n", options.results.c_str());
    return 1;
  }
  return 0;
}
