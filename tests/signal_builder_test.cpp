// The damage the benchmark measures the decoder against is what it claims:
// noise of the stated colour and level, hum of the stated harmonics and RMS.
#include "tests/signal_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

namespace vetrik {
namespace {

using recording::Samples;

constexpr double RATE = 44100;

double rms(const Samples& s) {
  double power = 0;
  for (float x : s) {
    power += static_cast<double>(x) * x;
  }
  return std::sqrt(power / static_cast<double>(s.size()));
}

// The complex amplitude of the sine at hz in s[from .. from + n), weighted
// by window (of n values; empty for none).
std::complex<double> component(const Samples& s, std::size_t from,
                               std::size_t n, double hz,
                               const std::vector<double>& window) {
  std::complex<double> sum = 0;
  const double step = 2 * std::numbers::pi * hz / RATE;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = window.empty() ? 1 : window[i];
    sum += w * s[from + i] * std::polar(1.0, -step * static_cast<double>(i));
  }
  return 2.0 / static_cast<double>(n) * sum;
}

// The power density about hz in dB (up to a constant): the mean over
// windowed segments of 4096 samples and over five frequencies 10 Hz apart.
double density_db(const Samples& s, double hz) {
  constexpr std::size_t SEGMENT = 4096;
  std::vector<double> hann(SEGMENT);
  for (std::size_t i = 0; i < SEGMENT; ++i) {
    hann[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi *
                                   static_cast<double>(i) / SEGMENT);
  }
  double sum = 0;
  int count = 0;
  for (std::size_t from = 0; from + SEGMENT <= s.size(); from += SEGMENT) {
    for (int d = -2; d <= 2; ++d) {
      sum += std::norm(component(s, from, SEGMENT, hz + 10 * d, hann));
      ++count;
    }
  }
  return 10 * std::log10(sum / count);
}

TEST(SignalBuilder, ColouredNoiseFallsByItsExponentAndHasItsRms) {
  struct Case {
    const char* name;
    double exponent;
    double drop_db; // from 250 Hz to 4 kHz: 4 octaves
  };
  const Case cases[] = {
      {"white", 0, 0},
      {"pink", 1, 10 * std::log10(16.0)},
      {"brown", 2, 20 * std::log10(16.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Samples s(static_cast<std::size_t>(10 * RATE), 0.0F);
    recording::add_coloured_noise(s, RATE, 0.5, 6, c.exponent, 3);
    EXPECT_NEAR(rms(s), 0.5 / std::pow(10.0, 6.0 / 20), 1e-4);
    EXPECT_NEAR(density_db(s, 250) - density_db(s, 4000), c.drop_db, 1);
  }
}

TEST(SignalBuilder, HumHasItsHarmonicsAndRms) {
  Samples s(static_cast<std::size_t>(4 * RATE), 0.0F);
  recording::add_hum(s, RATE, 0.5, -6, 50, 3);
  EXPECT_NEAR(rms(s), 0.5 * std::pow(10.0, -6.0 / 20), 1e-4);
  const double fundamental = std::abs(component(s, 0, s.size(), 50, {}));
  const double relative[] = {1, 0.5, 0.3, 0, 0.2, 0, 0.1, 0};
  for (int h = 1; h <= 8; ++h) {
    SCOPED_TRACE(h);
    EXPECT_NEAR(std::abs(component(s, 0, s.size(), 50.0 * h, {})) / fundamental,
                relative[h - 1], 1e-3);
  }
}

} // namespace
} // namespace vetrik
