// The tape the benchmarks record, and the sound a transfer makes of it: a
// loader, a screen, the game and a second part, with silence after them, as
// long as a real side of tape.
#pragma once

#include "tests/signal_builder.h"
#include "tests/tape_builder.h"

namespace vetrik::bench {

inline constexpr double RECORDED_SECONDS = 401;
inline constexpr double RECORDED_RATE = 44100;

inline tape::Bytes recorded_tape() {
  tape::Bytes tap = tape::tape_file("loader", tape::pattern(400, 1), 0);
  tape::append(tap, tape::tape_file("screen", tape::pattern(6912, 2), 3));
  tape::append(tap, tape::tape_file("game", tape::pattern(40000, 3), 3));
  tape::append(tap, tape::tape_file("level2", tape::pattern(14900, 4), 3));
  return tap;
}

// The tape as saved, then silence up to RECORDED_SECONDS.
inline recording::Signal recorded_signal(const tape::Bytes& tap) {
  recording::Signal signal = recording::save_signal(tap);
  signal.push_back(
      {(RECORDED_SECONDS - recording::duration(signal)) * 3500000, 0});
  return signal;
}

// The signal as a transfer records it: filtered, with hiss, AC coupled and
// 6 dB down, at RECORDED_RATE.
inline recording::Samples transferred(const recording::Signal& signal) {
  recording::Samples samples = recording::render(signal, RECORDED_RATE);
  recording::low_pass(samples, RECORDED_RATE, 8000);
  recording::add_noise(samples, 1, 20, 1);
  recording::high_pass(samples, RECORDED_RATE, 20);
  recording::scale(samples, -6);
  return samples;
}

} // namespace vetrik::bench
