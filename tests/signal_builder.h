// Recordings of tapes, made in code for the tests, the fuzz seeds and the
// benchmark: a TAP image as the ROM's save routine would play it, turned
// into samples at a rate, damaged on purpose with a seeded generator, and
// written as WAV or CSW.
#pragma once

#include <cstdint>
#include <vector>

#include "signal/wav_reader.h"
#include "tests/tape_builder.h"

namespace vetrik::recording {

using tape::Bytes;
using Samples = std::vector<float>;

// A level held for a time: +1 high, -1 low, 0 no signal (the middle).
struct Piece {
  double t_states = 0;
  int level = 0;
};
using Signal = std::vector<Piece>;

struct SaveOptions {
  std::size_t header_pilot = 8063; // pilot half-waves before a header block
  std::size_t data_pilot = 3223;   // and before any other (flag 128 or more)
  double lead_in = 0;              // seconds of no signal before the first
  double gap = 1;                  // between blocks
  double tail = 0;                 // after the last
  bool first_high = true;          // the level of the first half-wave
};

// The blocks of a TAP image, each from its flag byte to its checksum.
std::vector<Bytes> tap_blocks(const Bytes& tap);

// The signal of each block of tap in turn: pilot, two sync half-waves, two
// equal half-waves a bit, most significant first; gaps of no signal.
Signal save_signal(const Bytes& tap, const SaveOptions& options = {});

// How the tape moved past the head: durations are divided by the speed,
// which starts at factor, changes by drift over the whole signal, and swings
// by wow and flutter (fractions of it) at their frequencies.
struct Speed {
  double factor = 1;
  double drift = 0;
  double wow = 0;
  double wow_hz = 0.7;
  double flutter = 0;
  double flutter_hz = 11;
};

// Seconds of signal at speed.
double duration(const Signal& signal, const Speed& speed = {});

// The signal as samples at rate, amplitude 1: each sample is the mean level
// over its time, so the last sample holds the end of the last half-wave.
Samples render(const Signal& signal, double rate, const Speed& speed = {});

// Damage, in place, each seeded. A signal-to-noise ratio is always
// 20 log10(amplitude / noise RMS), amplitude that of the square wave and the
// noise taken over the whole band, 0 to half the rate.

// White Gaussian noise.
void add_noise(Samples& samples, double amplitude, double snr_db,
               std::uint32_t seed);

// Gaussian noise whose power density goes as 1 / f^exponent above
// NOISE_CORNER_HZ and stays at its value there below it, down to 0 Hz:
// exponent 1 is pink noise (equal power in each octave), 2 brown (a rumble,
// half the power in each octave up). Made for the whole length at once, its
// RMS over the samples is exactly the one snr_db asks for.
inline constexpr double NOISE_CORNER_HZ = 20;
void add_coloured_noise(Samples& samples, double rate, double amplitude,
                        double snr_db, double exponent, std::uint32_t seed);

// Mains hum at mains_hz: sines at the harmonics HUM_HARMONICS with the
// relative amplitudes HUM_AMPLITUDES and seeded phases, scaled to an RMS of
// level_db relative to amplitude (20 log10(hum RMS / amplitude)).
inline constexpr int HUM_HARMONICS[] = {1, 2, 3, 5, 7};
inline constexpr double HUM_AMPLITUDES[] = {1, 0.5, 0.3, 0.2, 0.1};
void add_hum(Samples& samples, double rate, double amplitude, double level_db,
             double mains_hz, std::uint32_t seed);

// Dropouts: in each interval of 1 / per_second seconds, from the start, the
// level falls by depth_db for seconds, from a point drawn evenly within the
// interval; the fall and the rise are sudden, and where two dropouts overlap
// the level falls by depth_db once. Noise added later stays.
void add_dropouts(Samples& samples, double rate, double depth_db,
                  double seconds, double per_second, std::uint32_t seed);

// Clicks: in each interval of 1 / per_second seconds, from the start, one
// click at a sample drawn evenly within the interval, of random sign, adding
// CLICK_SHAPE times height times amplitude to the samples from there on.
inline constexpr double CLICK_SHAPE[] = {0.5, 1, 0.5};
void add_clicks(Samples& samples, double rate, double amplitude, double height,
                double per_second, std::uint32_t seed);

void low_pass(Samples& samples, double rate, double hz);  // 4th order
void high_pass(Samples& samples, double rate, double hz); // AC coupling
void scale(Samples& samples, double db);
void clip(Samples& samples, double limit);
void offset(Samples& samples, double dc);
void invert(Samples& samples);
// To another rate by linear interpolation, low-passed first at 0.45 times
// the new rate when going down.
Samples resample(const Samples& samples, double from, double to);

struct WavLayout {
  bool extensible = false;   // the 40-byte fmt with a sub-format
  bool extra_chunks = false; // LIST of odd size (padded), fact, bext
};

// A WAV image of channels (equal lengths), samples clipped to -1 .. 1.
Bytes wav(const std::vector<Samples>& channels, std::uint32_t rate,
          WavEncoding encoding, const WavLayout& layout = {});

enum class CswVariant { V1_RLE, V2_RLE, V2_Z_RLE };

// A CSW image of signal at rate; no signal keeps the last level. With
// break_at below 1, Z-RLE data breaks after that share of its RLE bytes.
Bytes csw(const Signal& signal, std::uint32_t rate, CswVariant variant,
          const Speed& speed = {}, double break_at = 1);

// The signal as runs of one level, each in T-states, the first high when
// first_high; no signal keeps the last level.
struct Levels {
  bool first_high = false;
  std::vector<double> t_states;
};
Levels levels(const Signal& signal);

// The signal sampled every t_states, as a direct recording holds it: one
// bit a sample, 1 high, most significant first; no signal keeps the last
// level.
struct Bits {
  Bytes bytes;
  std::size_t count = 0;
};
Bits direct_samples(const Signal& signal, double t_states);

// The CSW data of signal at rate, RLE coded, and deflated for Z-RLE; its
// first pulse is high when *first_high comes back true.
Bytes csw_data(const Signal& signal, std::uint32_t rate, bool z_rle,
               bool* first_high);

// Pulse lengths in samples as CSW codes them: a byte each, or 0 and 4 bytes
// for a length of 0 or past 255.
Bytes csw_rle(const std::vector<std::uint32_t>& runs);

// A CSW image of variant at rate around data (RLE bytes, deflated for
// Z-RLE), its first pulse high when first_high, its header claiming pulses.
Bytes csw_image(const Bytes& data, std::uint32_t rate, CswVariant variant,
                bool first_high, std::uint32_t pulses);

// bytes as a zlib stream; with at below bytes.size(), the stream holds only
// the first at bytes, then a byte no stream may hold there (a block of the
// reserved type), so that inflating them fails.
Bytes deflated(const Bytes& bytes, std::size_t at = SIZE_MAX);

// The first at bytes of bytes as a zlib stream that stops there, as if its
// data ran out: they all come out, but no last block or check follows.
Bytes deflated_start(const Bytes& bytes, std::size_t at);

// G.711 compression of a 16-bit sample, as a writer does it.
std::uint8_t a_law(int sample);
std::uint8_t mu_law(int sample);

} // namespace vetrik::recording
