// Finds where decoding recordings starts failing: the lowest signal-to-noise
// ratio and the largest constant speed errors at which every block of every
// trial still comes out exact. A trial is a header and a 300-byte data block
// with noise from its own seed; a level passes when all trials pass.
//
//   vetrik_signal_limits [TRIALS]
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bytes/image_input.h"
#include "signal/recording.h"
#include "tests/signal_builder.h"

namespace {

namespace rec = vetrik::recording;
namespace tape = vetrik::tape;
using tape::Bytes;

struct Chain {
  const char* name;
  double rate = 44100;       // of the file
  double sound_rate = 44100; // where noise and filters are made
  vetrik::WavEncoding encoding = vetrik::WavEncoding::PCM_16;
  double low_pass_hz = 0;
  double high_pass_hz = 0;
};

const Bytes& trial_tape() {
  static const Bytes tape = tape::tape_file("trial", tape::pattern(300, 9), 3);
  return tape;
}

bool decodes(const Chain& c, double snr_db, double speed, std::uint32_t seed) {
  rec::SaveOptions save;
  save.gap = 0.2;
  save.lead_in = 0.1;
  save.tail = 0.1;
  rec::Samples s = rec::render(rec::save_signal(trial_tape(), save),
                               c.sound_rate, rec::Speed{speed});
  if (c.low_pass_hz > 0) {
    rec::low_pass(s, c.sound_rate, c.low_pass_hz);
  }
  if (snr_db < 99) {
    rec::add_noise(s, 1, snr_db, seed);
  }
  if (c.high_pass_hz > 0) {
    rec::high_pass(s, c.sound_rate, c.high_pass_hz);
  }
  if (c.sound_rate != c.rate) {
    s = rec::resample(s, c.sound_rate, c.rate);
  }
  rec::scale(s, -6);
  const Bytes image =
      rec::wav({s}, static_cast<std::uint32_t>(c.rate), c.encoding);
  vetrik::MemoryInput input(image);
  vetrik::RecordingReader reader(input, vetrik::ImageFormat::WAV);
  std::vector<Bytes> blocks;
  for (Bytes b; reader.next_block(b);) {
    blocks.push_back(b);
  }
  return blocks == rec::tap_blocks(trial_tape());
}

// The last value, stepping from start by step, at which all trials pass.
double last_passing(double start, double step, double stop, int trials,
                    const std::function<bool(double, std::uint32_t)>& ok) {
  double last = start - step;
  for (double v = start; step > 0 ? v <= stop : v >= stop; v += step) {
    for (int t = 0; t < trials; ++t) {
      if (!ok(v, static_cast<std::uint32_t>(t + 1))) {
        return last;
      }
    }
    last = v;
  }
  return last;
}

} // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
  const Chain chains[] = {
      {"44.1 kHz 16-bit"},
      {"44.1 kHz, low-pass 3 kHz", 44100, 44100, vetrik::WavEncoding::PCM_16,
       3000},
      {"44.1 kHz, AC coupling 150 Hz", 44100, 44100,
       vetrik::WavEncoding::PCM_16, 0, 150},
      {"11025 Hz 8-bit, recorded from 44.1 kHz sound", 11025, 44100,
       vetrik::WavEncoding::PCM_8},
      {"11025 Hz 8-bit, low-pass 3 kHz, from 44.1 kHz sound", 11025, 44100,
       vetrik::WavEncoding::PCM_8, 3000},
      {"11025 Hz 16-bit, noise white to 5.5 kHz", 11025, 11025,
       vetrik::WavEncoding::PCM_16},
      {"8000 Hz 16-bit, noise white to 4 kHz", 8000, 8000,
       vetrik::WavEncoding::PCM_16},
  };
  std::printf("%d trials a level (a header and a 300-byte block each)\n\n"
              "| recording | lowest SNR | slowest | fastest | slowest at 20 "
              "dB | fastest at 20 dB |\n|---|---|---|---|---|---|\n",
              trials);
  for (const Chain& c : chains) {
    const double snr =
        last_passing(20, -0.5, -10, trials,
                     [&](double v, auto s) { return decodes(c, v, 1, s); });
    const auto speed_at = [&](double snr_db, double step, double stop) {
      return last_passing(
          1, step, stop, snr_db < 99 ? trials : 1,
          [&](double v, auto s) { return decodes(c, snr_db, v, s); });
    };
    std::printf("| %s | %.1f dB | %+.0f%% | %+.0f%% | %+.0f%% | %+.0f%% |\n",
                c.name, snr, (speed_at(99, -0.01, 0.3) - 1) * 100,
                (speed_at(99, 0.01, 2.5) - 1) * 100,
                (speed_at(20, -0.01, 0.3) - 1) * 100,
                (speed_at(20, 0.01, 2.5) - 1) * 100);
    std::fflush(stdout);
  }
  std::printf("\nSNR: the power of a full-swing square wave over that of "
              "white noise up to half the rate the sound is made at. Speed: "
              "the tape's, as a change of every duration (-10%% slow makes "
              "them 1/0.9 as long).\n");
  return 0;
}
