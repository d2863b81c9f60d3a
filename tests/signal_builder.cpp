// Tape recordings for tests: ROM timing, rendering, damage and writers.
#include "tests/signal_builder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <iterator>
#include <numbers>
#include <random>
#include <zlib.h>

namespace vetrik::recording {

namespace {

constexpr double T_PER_SECOND = 3500000.0;
constexpr double PILOT = 2168, SYNC1 = 667, SYNC2 = 735, ZERO = 855, ONE = 1710;

void put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

void put_text(Bytes& out, const char* text) {
  out.insert(out.end(), text, text + std::strlen(text));
}

// Calls f(level, seconds) for each piece as recorded at speed.
template <typename F>
void for_each_recorded(const Signal& signal, const Speed& speed, F f) {
  double total = 0;
  for (const Piece& p : signal) {
    total += p.t_states / T_PER_SECOND;
  }
  double at = 0; // nominal seconds
  for (const Piece& p : signal) {
    const double two_pi = 2 * std::numbers::pi;
    const double s =
        (speed.factor + speed.drift * (total > 0 ? at / total : 0)) *
        (1 + speed.wow * std::sin(two_pi * speed.wow_hz * at) +
         speed.flutter * std::sin(two_pi * speed.flutter_hz * at));
    f(p.level, p.t_states / T_PER_SECOND / s);
    at += p.t_states / T_PER_SECOND;
  }
}

// n normal values from seed, by Box-Muller: two from two uniform ones.
std::vector<double> gaussian(std::size_t n, std::uint32_t seed) {
  std::vector<double> out(n);
  std::mt19937 random(seed);
  const auto uniform = [&] { return (random() + 0.5) / 4294967296.0; };
  for (std::size_t i = 0; i < n; i += 2) {
    const double r = std::sqrt(-2 * std::log(uniform()));
    const double angle = 2 * std::numbers::pi * uniform();
    out[i] = r * std::cos(angle);
    if (i + 1 < n) {
      out[i + 1] = r * std::sin(angle);
    }
  }
  return out;
}

// The inverse discrete Fourier transform, unscaled, of a power-of-two
// number of values, in place: x[j] = sum of X[k] e^(2 pi i jk / n).
void inverse_fft(std::vector<std::complex<double>>& x) {
  const std::size_t n = x.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      std::swap(x[i], x[j]);
    }
  }
  std::vector<std::complex<double>> twiddle(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    twiddle[k] = std::polar(1.0, 2 * std::numbers::pi * static_cast<double>(k) /
                                     static_cast<double>(n));
  }
  for (std::size_t half = 1; half < n; half *= 2) {
    const std::size_t stride = n / (2 * half);
    for (std::size_t start = 0; start < n; start += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        // By hand: the library's product checks for infinities.
        const std::complex<double> w = twiddle[k * stride];
        const std::complex<double> y = x[start + k + half];
        const std::complex<double> t(w.real() * y.real() - w.imag() * y.imag(),
                                     w.real() * y.imag() + w.imag() * y.real());
        x[start + k + half] = x[start + k] - t;
        x[start + k] += t;
      }
    }
  }
}

// A biquad low-pass after the audio cookbook, run in place.
void biquad_low_pass(Samples& samples, double rate, double hz, double q) {
  const double w = 2 * std::numbers::pi * hz / rate;
  const double alpha = std::sin(w) / (2 * q);
  const double c = std::cos(w);
  const double a0 = 1 + alpha;
  const double b0 = (1 - c) / 2 / a0, b1 = (1 - c) / a0, b2 = b0;
  const double a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
  double z1 = 0, z2 = 0;
  for (float& s : samples) {
    const double x = s;
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    s = static_cast<float>(y);
  }
}

// The pieces of a CSW: sample counts of alternating levels.
std::vector<std::uint32_t> csw_runs(const Signal& signal, double rate,
                                    const Speed& speed, bool* first_high) {
  std::vector<std::uint32_t> runs;
  int level = 0;
  double seconds = 0;
  std::int64_t done = 0;
  for_each_recorded(signal, speed, [&](int piece_level, double length) {
    seconds += length;
    const auto end = static_cast<std::int64_t>(std::llround(seconds * rate));
    const auto n = static_cast<std::uint32_t>(end - done);
    done = end;
    const int now = piece_level != 0 ? piece_level : (level != 0 ? level : -1);
    if (n == 0) {
      return;
    }
    if (!runs.empty() && now == level) {
      runs.back() += n;
    } else {
      if (runs.empty()) {
        *first_high = now > 0;
      }
      runs.push_back(n);
    }
    level = now;
  });
  return runs;
}

} // namespace

std::vector<Bytes> tap_blocks(const Bytes& tap) {
  std::vector<Bytes> blocks;
  for (std::size_t at = 0; at + 2 <= tap.size();) {
    const std::size_t length = tap[at] + tap[at + 1] * 0x100U;
    const auto start = tap.begin() + static_cast<std::ptrdiff_t>(at + 2);
    const std::size_t take = std::min(length, tap.size() - at - 2);
    blocks.emplace_back(start, start + static_cast<std::ptrdiff_t>(take));
    at += 2 + length;
  }
  return blocks;
}

Signal save_signal(const Bytes& tap, const SaveOptions& options) {
  Signal out;
  int level = options.first_high ? 1 : -1;
  auto half_wave = [&](double t) {
    out.push_back({t, level});
    level = -level;
  };
  auto no_signal = [&](double seconds) {
    if (seconds > 0) {
      out.push_back({seconds * T_PER_SECOND, 0});
    }
  };
  no_signal(options.lead_in);
  const std::vector<Bytes> blocks = tap_blocks(tap);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const Bytes& block = blocks[i];
    const bool header = !block.empty() && block[0] < 128;
    const std::size_t pilot =
        header ? options.header_pilot : options.data_pilot;
    for (std::size_t n = 0; n < pilot; ++n) {
      half_wave(PILOT);
    }
    half_wave(SYNC1);
    half_wave(SYNC2);
    for (std::uint8_t byte : block) {
      for (int bit = 7; bit >= 0; --bit) {
        const double t = ((byte >> bit) & 1) != 0 ? ONE : ZERO;
        half_wave(t);
        half_wave(t);
      }
    }
    no_signal(i + 1 < blocks.size() ? options.gap : options.tail);
  }
  return out;
}

double duration(const Signal& signal, const Speed& speed) {
  double seconds = 0;
  for_each_recorded(signal, speed,
                    [&](int, double length) { seconds += length; });
  return seconds;
}

Samples render(const Signal& signal, double rate, const Speed& speed) {
  const double total = duration(signal, speed) * rate;
  Samples out(static_cast<std::size_t>(std::ceil(total - 1e-9)), 0.0F);
  double at = 0; // in samples
  for_each_recorded(signal, speed, [&](int level, double length) {
    const double end = at + length * rate;
    for (auto i = static_cast<std::size_t>(at);
         i < out.size() && static_cast<double>(i) < end; ++i) {
      const double from = std::max(at, static_cast<double>(i));
      const double to = std::min(end, static_cast<double>(i + 1));
      out[i] += static_cast<float>(level * (to - from));
    }
    at = end;
  });
  return out;
}

void add_noise(Samples& samples, double amplitude, double snr_db,
               std::uint32_t seed) {
  const double sigma = amplitude / std::pow(10.0, snr_db / 20);
  const std::vector<double> noise = gaussian(samples.size(), seed);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] += static_cast<float>(sigma * noise[i]);
  }
}

void add_coloured_noise(Samples& samples, double rate, double amplitude,
                        double snr_db, double exponent, std::uint32_t seed) {
  if (samples.empty()) {
    return;
  }
  std::size_t n = 2;
  while (n < samples.size()) {
    n *= 2;
  }
  // The spectrum: bins of random Gaussian values, shaped, with the symmetry
  // of a real signal; its inverse transform is the noise.
  const std::vector<double> normal = gaussian(n, seed);
  std::vector<std::complex<double>> spectrum(n);
  for (std::size_t k = 1; k < n / 2; ++k) {
    const double hz = static_cast<double>(k) * rate / static_cast<double>(n);
    const double gain = std::pow(std::max(hz, NOISE_CORNER_HZ), -exponent / 2);
    spectrum[k] = gain * std::complex<double>(normal[2 * k], normal[2 * k + 1]);
    spectrum[n - k] = std::conj(spectrum[k]);
  }
  spectrum[0] = std::pow(NOISE_CORNER_HZ, -exponent / 2) * normal[0];
  spectrum[n / 2] = std::pow(rate / 2, -exponent / 2) * normal[1];
  inverse_fft(spectrum);
  double power = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    power += spectrum[i].real() * spectrum[i].real();
  }
  const double rms = std::sqrt(power / static_cast<double>(samples.size()));
  const double gain = amplitude / std::pow(10.0, snr_db / 20) / rms;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] += static_cast<float>(gain * spectrum[i].real());
  }
}

void add_hum(Samples& samples, double rate, double amplitude, double level_db,
             double mains_hz, std::uint32_t seed) {
  // Sines of distinct frequencies: the powers (a^2 / 2 each) add up.
  double power = 0;
  for (double a : HUM_AMPLITUDES) {
    power += a * a / 2;
  }
  const double gain =
      amplitude * std::pow(10.0, level_db / 20) / std::sqrt(power);
  std::mt19937 random(seed);
  const double two_pi = 2 * std::numbers::pi;
  for (std::size_t h = 0; h < std::size(HUM_HARMONICS); ++h) {
    const double phase = two_pi * (random() + 0.5) / 4294967296.0;
    const double step = two_pi * mains_hz * HUM_HARMONICS[h] / rate;
    const double a = gain * HUM_AMPLITUDES[h];
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] += static_cast<float>(
          a * std::sin(phase + step * static_cast<double>(i)));
    }
  }
}

void add_dropouts(Samples& samples, double rate, double depth_db,
                  double seconds, double per_second, std::uint32_t seed) {
  const auto gain = static_cast<float>(std::pow(10.0, -depth_db / 20));
  const double interval = rate / per_second; // in samples
  const auto length = static_cast<std::size_t>(std::llround(seconds * rate));
  std::mt19937 random(seed);
  // Dropouts that overlap are one longer dropout, never one twice as deep.
  std::size_t faded_until = 0;
  for (double start = 0; start < static_cast<double>(samples.size());
       start += interval) {
    const double at = start + interval * (random() + 0.5) / 4294967296.0;
    const auto from = static_cast<std::size_t>(at);
    for (std::size_t i = std::max(from, faded_until);
         i < samples.size() && i < from + length; ++i) {
      samples[i] *= gain;
    }
    faded_until = std::max(faded_until, from + length);
  }
}

void add_clicks(Samples& samples, double rate, double amplitude, double height,
                double per_second, std::uint32_t seed) {
  const double interval = rate / per_second; // in samples
  std::mt19937 random(seed);
  for (double start = 0; start < static_cast<double>(samples.size());
       start += interval) {
    const double at = start + interval * (random() + 0.5) / 4294967296.0;
    const double sign = (random() & 1) != 0 ? 1 : -1;
    const auto from = static_cast<std::size_t>(at);
    for (std::size_t j = 0; j < std::size(CLICK_SHAPE); ++j) {
      if (from + j < samples.size()) {
        samples[from + j] +=
            static_cast<float>(sign * height * amplitude * CLICK_SHAPE[j]);
      }
    }
  }
}

void low_pass(Samples& samples, double rate, double hz) {
  // Butterworth of 4th order: two sections with these Qs.
  biquad_low_pass(samples, rate, hz, 0.54119610);
  biquad_low_pass(samples, rate, hz, 1.30656296);
}

void high_pass(Samples& samples, double rate, double hz) {
  const double rc = 1 / (2 * std::numbers::pi * hz);
  const double a = rc / (rc + 1 / rate);
  double x_last = 0, y = 0;
  for (float& s : samples) {
    y = a * (y + s - x_last);
    x_last = s;
    s = static_cast<float>(y);
  }
}

void scale(Samples& samples, double db) {
  const auto gain = static_cast<float>(std::pow(10.0, db / 20));
  for (float& s : samples) {
    s *= gain;
  }
}

void clip(Samples& samples, double limit) {
  const auto l = static_cast<float>(limit);
  for (float& s : samples) {
    s = std::clamp(s, -l, l);
  }
}

void offset(Samples& samples, double dc) {
  for (float& s : samples) {
    s += static_cast<float>(dc);
  }
}

void invert(Samples& samples) {
  for (float& s : samples) {
    s = -s;
  }
}

Samples resample(const Samples& samples, double from, double to) {
  Samples source = samples;
  if (to < from) {
    low_pass(source, from, 0.45 * to);
  }
  const auto n =
      static_cast<std::size_t>(static_cast<double>(source.size()) * to / from);
  Samples out(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double x =
        std::max(0.0, (static_cast<double>(j) + 0.5) * from / to - 0.5);
    const auto i = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(i);
    const float a = source[std::min(i, source.size() - 1)];
    const float b = source[std::min(i + 1, source.size() - 1)];
    out[j] = static_cast<float>(a + (b - a) * f);
  }
  return out;
}

std::uint8_t a_law(int sample) {
  int value = sample >> 3; // 13 bits
  int mask = 0xD5;
  if (value < 0) {
    mask = 0x55;
    value = -value - 1;
  }
  int segment = 0;
  while (segment < 8 && value >= (0x20 << segment)) {
    ++segment;
  }
  if (segment == 8) {
    return static_cast<std::uint8_t>(0x7F ^ mask);
  }
  const int mantissa =
      segment < 2 ? (value >> 1) & 0x0F : (value >> segment) & 0x0F;
  return static_cast<std::uint8_t>(((segment << 4) | mantissa) ^ mask);
}

std::uint8_t mu_law(int sample) {
  int value = sample >> 2; // 14 bits
  int mask = 0xFF;
  if (value < 0) {
    mask = 0x7F;
    value = -value;
  }
  value = std::min(value, 8159) + 0x21;
  int segment = 0;
  while (segment < 8 && value >= (0x40 << segment)) {
    ++segment;
  }
  if (segment == 8) {
    return static_cast<std::uint8_t>(0x7F ^ mask);
  }
  const int mantissa = (value >> (segment + 1)) & 0x0F;
  return static_cast<std::uint8_t>(((segment << 4) | mantissa) ^ mask);
}

namespace {

struct Code {
  std::uint32_t tag, bits;
};

Code code_of(WavEncoding encoding) {
  switch (encoding) {
  case WavEncoding::PCM_8:
    return {1, 8};
  case WavEncoding::PCM_16:
    return {1, 16};
  case WavEncoding::PCM_24:
    return {1, 24};
  case WavEncoding::PCM_32:
    return {1, 32};
  case WavEncoding::FLOAT_32:
    return {3, 32};
  case WavEncoding::FLOAT_64:
    return {3, 64};
  case WavEncoding::A_LAW:
    return {6, 8};
  case WavEncoding::MU_LAW:
    return {7, 8};
  }
  return {1, 16};
}

// Appends sample x, clipped to -1 .. 1, in encoding.
void put_sample(Bytes& out, float sample, WavEncoding encoding) {
  const double x = std::clamp(static_cast<double>(sample), -1.0, 1.0);
  const int s16 = static_cast<int>(std::lround(x * 32767));
  switch (encoding) {
  case WavEncoding::PCM_8:
    out.push_back(static_cast<std::uint8_t>(
        std::clamp(std::lround(x * 128 + 128), 0L, 255L)));
    break;
  case WavEncoding::PCM_16:
    put16(out, static_cast<std::uint32_t>(s16) & 0xFFFF);
    break;
  case WavEncoding::PCM_24: {
    const auto v = static_cast<std::uint32_t>(std::lround(x * 8388607));
    put16(out, v & 0xFFFF);
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    break;
  }
  case WavEncoding::PCM_32:
    put32(out, static_cast<std::uint32_t>(
                   static_cast<std::int32_t>(std::llround(x * 2147483647.0))));
    break;
  case WavEncoding::FLOAT_32: {
    const auto v = static_cast<float>(x);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    put32(out, bits);
    break;
  }
  case WavEncoding::FLOAT_64: {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, 8);
    put32(out, static_cast<std::uint32_t>(bits));
    put32(out, static_cast<std::uint32_t>(bits >> 32));
    break;
  }
  case WavEncoding::A_LAW:
    out.push_back(a_law(s16));
    break;
  case WavEncoding::MU_LAW:
    out.push_back(mu_law(s16));
    break;
  }
}

Bytes fmt_chunk(Code code, std::uint32_t channels, std::uint32_t rate,
                bool extensible) {
  const std::uint32_t frame = channels * code.bits / 8;
  Bytes fmt;
  put16(fmt, extensible ? 0xFFFE : code.tag);
  put16(fmt, channels);
  put32(fmt, rate);
  put32(fmt, rate * frame);
  put16(fmt, frame);
  put16(fmt, code.bits);
  if (extensible) {
    put16(fmt, 22);
    put16(fmt, code.bits);
    put32(fmt, channels == 1 ? 0x4 : 0x3); // front centre, or left + right
    put32(fmt, code.tag);
    const std::uint8_t tail[] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), std::begin(tail), std::end(tail));
  } else if (code.tag != 1) {
    put16(fmt, 0);
  }
  return fmt;
}

} // namespace

Bytes wav(const std::vector<Samples>& channels, std::uint32_t rate,
          WavEncoding encoding, const WavLayout& layout) {
  const std::size_t frames = channels.empty() ? 0 : channels[0].size();
  Bytes data;
  data.reserve(frames * channels.size() * code_of(encoding).bits / 8);
  for (std::size_t f = 0; f < frames; ++f) {
    for (const Samples& channel : channels) {
      put_sample(data, channel[f], encoding);
    }
  }
  Bytes body;
  put_text(body, "WAVE");
  auto chunk = [&](const char* id, const Bytes& content) {
    put_text(body, id);
    put32(body, static_cast<std::uint32_t>(content.size()));
    tape::append(body, content);
    if (content.size() % 2 != 0) {
      body.push_back(0);
    }
  };
  if (layout.extra_chunks) {
    chunk("LIST", {'I', 'N', 'F', 'O', 'x'});
  }
  chunk("fmt ", fmt_chunk(code_of(encoding),
                          static_cast<std::uint32_t>(channels.size()), rate,
                          layout.extensible));
  if (layout.extra_chunks) {
    Bytes fact;
    put32(fact, static_cast<std::uint32_t>(frames));
    chunk("fact", fact);
    chunk("bext", Bytes(11, 'b'));
  }
  chunk("data", data);
  Bytes out;
  put_text(out, "RIFF");
  put32(out, static_cast<std::uint32_t>(body.size()));
  tape::append(out, body);
  return out;
}

namespace {

// The first at bytes of bytes as a zlib stream, flushed to a byte boundary
// and left open, or (finish) ended with its last block and check.
Bytes deflate_bytes(const Bytes& bytes, std::size_t at, bool finish) {
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  Bytes out(compressBound(static_cast<uLong>(bytes.size())) + 16);
  z.next_in = const_cast<Bytef*>(bytes.data());
  z.avail_in = static_cast<uInt>(std::min(at, bytes.size()));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, finish ? Z_FINISH : Z_FULL_FLUSH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

} // namespace

Bytes deflated(const Bytes& bytes, std::size_t at) {
  const bool broken = at < bytes.size();
  Bytes out = deflate_bytes(bytes, at, !broken);
  if (broken) {
    // A full flush ends the data on a byte, where the bad byte then starts.
    out.push_back(0xFF);
  }
  return out;
}

Bytes deflated_start(const Bytes& bytes, std::size_t at) {
  return deflate_bytes(bytes, at, false);
}

Levels levels(const Signal& signal) {
  Levels out;
  int level = 0;
  for (const Piece& p : signal) {
    const int now = p.level != 0 ? p.level : (level != 0 ? level : -1);
    if (out.t_states.empty() || now != level) {
      if (out.t_states.empty()) {
        out.first_high = now > 0;
      }
      out.t_states.push_back(0);
    }
    out.t_states.back() += p.t_states;
    level = now;
  }
  return out;
}

Bits direct_samples(const Signal& signal, double t_states) {
  const Levels runs = levels(signal);
  Bits out;
  bool high = runs.first_high;
  double end = 0; // where the current run ends
  std::size_t run = 0;
  for (double at = t_states / 2;; at += t_states) {
    while (run < runs.t_states.size() && at >= end + runs.t_states[run]) {
      end += runs.t_states[run++];
      high = run % 2 == 0 ? runs.first_high : !runs.first_high;
    }
    if (run == runs.t_states.size()) {
      break;
    }
    if (out.count % 8 == 0) {
      out.bytes.push_back(0);
    }
    if (high) {
      out.bytes.back() |= static_cast<std::uint8_t>(0x80 >> (out.count % 8));
    }
    ++out.count;
  }
  return out;
}

Bytes csw_rle(const std::vector<std::uint32_t>& runs) {
  Bytes rle;
  for (std::uint32_t n : runs) {
    if (n > 0 && n < 256) {
      rle.push_back(static_cast<std::uint8_t>(n));
    } else {
      rle.push_back(0);
      put32(rle, n);
    }
  }
  return rle;
}

Bytes csw_data(const Signal& signal, std::uint32_t rate, bool z_rle,
               bool* first_high) {
  const Bytes rle = csw_rle(csw_runs(signal, rate, {}, first_high));
  return z_rle ? deflated(rle) : rle;
}

Bytes csw_image(const Bytes& data, std::uint32_t rate, CswVariant variant,
                bool first_high, std::uint32_t pulses) {
  Bytes out;
  put_text(out, "Compressed Square Wave\x1A");
  const std::uint8_t flags = first_high ? 1 : 0;
  if (variant == CswVariant::V1_RLE) {
    tape::append(out, {1, 1});
    put16(out, rate);
    tape::append(out, {1, flags, 0, 0, 0});
    tape::append(out, data);
    return out;
  }
  const bool z = variant == CswVariant::V2_Z_RLE;
  tape::append(out, {2, 0});
  put32(out, rate);
  put32(out, pulses);
  tape::append(out, {static_cast<std::uint8_t>(z ? 2 : 1), flags, 3});
  Bytes program(16, 0);
  std::memcpy(program.data(), "vetrik tests", 12);
  tape::append(out, program);
  tape::append(out, {'e', 'x', 't'});
  tape::append(out, data);
  return out;
}

Bytes csw(const Signal& signal, std::uint32_t rate, CswVariant variant,
          const Speed& speed, double break_at) {
  bool first_high = false;
  const std::vector<std::uint32_t> runs =
      csw_runs(signal, rate, speed, &first_high);
  const Bytes rle = csw_rle(runs);
  const Bytes data =
      variant != CswVariant::V2_Z_RLE
          ? rle
          : deflated(rle, static_cast<std::size_t>(
                              break_at * static_cast<double>(rle.size())));
  return csw_image(data, rate, variant, first_high,
                   static_cast<std::uint32_t>(runs.size()));
}

} // namespace vetrik::recording
