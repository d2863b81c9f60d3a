#include "signal/csw_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes/image_input.h"
#include "tests/signal_builder.h"

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Runs = std::vector<std::uint32_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

Bytes cut(Bytes image, std::size_t n) {
  image.resize(image.size() - n);
  return image;
}

Bytes signature(std::uint8_t major, std::uint8_t minor) {
  const char* s = "Compressed Square Wave\x1A";
  return cat({Bytes(s, s + std::strlen(s)), {major, minor}});
}

Bytes v1(std::uint16_t rate, std::uint8_t compression, std::uint8_t flags) {
  return cat(
      {signature(1, 1),
       {static_cast<std::uint8_t>(rate), static_cast<std::uint8_t>(rate >> 8),
        compression, flags, 0, 0, 0}});
}

Bytes v2(std::uint32_t rate, std::uint8_t compression, std::uint8_t flags,
         const Bytes& extension = {}) {
  Bytes h = signature(2, 0);
  for (int i = 0; i < 4; ++i) {
    h.push_back(static_cast<std::uint8_t>(rate >> (8 * i)));
  }
  return cat({h,
              {0xFF, 0xFF, 0xFF, 0x7F}, // a pulse count not to be trusted
              {compression, flags, static_cast<std::uint8_t>(extension.size())},
              Bytes(16, 'x'),
              extension});
}

// RLE bytes of runs: a long run as 0 and 4 bytes.
Bytes rle_of(const Runs& runs) {
  Bytes out;
  for (std::uint32_t n : runs) {
    if (n > 0 && n < 256) {
      out.push_back(static_cast<std::uint8_t>(n));
    } else {
      out.insert(out.end(), {0, static_cast<std::uint8_t>(n),
                             static_cast<std::uint8_t>(n >> 8),
                             static_cast<std::uint8_t>(n >> 16),
                             static_cast<std::uint8_t>(n >> 24)});
    }
  }
  return out;
}

// 300 runs, with long ones and one of 0 samples among them.
const Runs RUNS = [] {
  Runs r;
  for (std::uint32_t i = 0; i < 300; ++i) {
    r.push_back(i % 50 == 7 ? 70000 + i : i % 200 + 1);
  }
  r[100] = 0;
  return r;
}();

// Runs of equal pulses, long and short, one of them longer than a read.
const Runs EQUAL = [] {
  Runs r(20000, 16);
  r.insert(r.end(), 5, 70000);
  r.insert(r.end(), 3, 0);
  r.insert(r.end(), 1000, 200);
  r.push_back(16);
  return r;
}();

struct Read {
  std::string problem;
  Runs runs;
  CswFormat format;
  std::size_t entries = 0; // of equal pulses, as read gave them
};

Read read_all(const Bytes& image) {
  MemoryInput input(image);
  CswReader reader(input);
  Read out{signal_problem_text(reader.open()), {}, {}};
  out.format = reader.format();
  if (out.problem.empty()) {
    CswPulses pulses[7]; // few at a time, so reads end mid-run
    for (std::size_t n; (n = reader.read(pulses, 7)) > 0;) {
      for (std::size_t i = 0; i < n; ++i) {
        out.runs.insert(out.runs.end(), pulses[i].count, pulses[i].samples);
      }
      out.entries += n;
    }
    out.problem = signal_problem_text(reader.problem());
  }
  return out;
}

TEST(CswReader, HeaderRulesAndRunLengthsEqualOnesTogether) {
  const std::string damaged = "damaged CSW header";
  const Bytes rle = rle_of(RUNS);
  const Runs first_part(RUNS.begin(), RUNS.begin() + 120);
  // Ending in a stretch that inflates from a few bytes.
  Runs equal_end = RUNS;
  equal_end.insert(equal_end.end(), 200000, 16);
  struct Case {
    const char* name;
    Bytes image;
    std::string problem;
    Runs runs{};
    std::uint32_t rate = 0;
    bool only_a_start = false; // of runs, more than half of them
    std::size_t most_entries = SIZE_MAX;
  };
  const Case cases[] = {
      {"version 1.01", cat({v1(44100, 1, 1), rle}), "", RUNS, 44100},
      {"version 2 RLE", cat({v2(96000, 1, 0, {1, 2, 3}), rle}), "", RUNS,
       96000},
      {"version 2 Z-RLE", cat({v2(22050, 2, 1), recording::deflated(rle)}), "",
       RUNS, 22050},
      {"equal runs in RLE", cat({v1(44100, 1, 0), rle_of(EQUAL)}), "", EQUAL,
       44100, false, 10},
      {"equal runs in Z-RLE",
       cat({v2(44100, 2, 0), recording::deflated(rle_of(EQUAL))}), "", EQUAL,
       44100, false, 10},
      {"RLE cut inside a long run",
       cat({v1(44100, 1, 0), rle_of(first_part), {0, 0x10, 0x27}}), "",
       first_part, 44100},
      {"Z-RLE cut short",
       cat({v2(44100, 2, 0), cut(recording::deflated(rle), 12)}), "", RUNS,
       44100, true},
      {"Z-RLE stopping after all its runs",
       cat({v2(44100, 2, 0),
            recording::deflated_start(rle_of(equal_end), SIZE_MAX)}),
       "", equal_end, 44100},
      {"Z-RLE broken",
       cat({v2(44100, 2, 0),
            recording::deflated(rle, rle_of(first_part).size())}),
       "damaged CSW data", first_part, 44100},
      {"version 1 with Z-RLE", cat({v1(44100, 2, 0), rle}),
       "unsupported CSW compression 2"},
      {"compression 3", cat({v2(44100, 3, 0), rle}),
       "unsupported CSW compression 3"},
      {"compression 0", cat({v2(44100, 0, 0), rle}),
       "unsupported CSW compression 0"},
      {"version 3", cat({signature(3, 0), Bytes(40, 1)}), damaged},
      {"rate 0", cat({v2(0, 1, 0), rle}), damaged},
      {"extension past the end", cut(v2(44100, 1, 0, Bytes(9, 1)), 1), damaged},
      {"cut in the version 1 header", signature(1, 1), damaged},
      {"cut in the signature", cut(v1(44100, 1, 0), 20), damaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read got = read_all(c.image);
    EXPECT_EQ(got.problem, c.problem);
    if (c.only_a_start) {
      ASSERT_GT(got.runs.size(), c.runs.size() / 2);
      ASSERT_LT(got.runs.size(), c.runs.size());
      EXPECT_EQ(got.runs, Runs(c.runs.begin(),
                               c.runs.begin() + static_cast<std::ptrdiff_t>(
                                                    got.runs.size())));
    } else {
      EXPECT_EQ(got.runs, c.runs);
    }
    if (c.rate != 0) {
      EXPECT_EQ(got.format.rate, c.rate);
    }
    EXPECT_LE(got.entries, c.most_entries);
  }
}

} // namespace
} // namespace vetrik
