// The map of a recording: drawn, rendered by rsvg-convert where it is
// installed, and looked at where each block should lie.
#include "batch/recording_map.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bytes/image_input.h"
#include "signal/pulse_decoder.h"
#include "signal/recording.h"
#include "tape/framed_view.h"
#include "tests/pzx_builder.h"
#include "tests/signal_builder.h"
#include "tests/tzx_builder.h"

namespace vetrik {
namespace {

using recording::Signal;
using tape::Bytes;

constexpr std::uint32_t RATE = 44100;
constexpr std::uint16_t SAMPLE_T_STATES = 79; // a direct recording's

// Two files; the second one's data block fails its checksum.
const Bytes& damaged_tape() {
  static const Bytes tape = [] {
    Bytes t = tape::tape_file("loader", tape::pattern(40, 11), 0);
    tape::append(t, tape::tape_file("screen", tape::pattern(300, 12), 3));
    // Length word, flag, then a payload byte of the fourth block.
    t[tape::HEADER_SIZE + 44 + tape::HEADER_SIZE + 2 + 1 + 10] ^= 0x5A;
    return t;
  }();
  return tape;
}
constexpr std::size_t DAMAGED_BLOCK = 3;

const Signal& saved() {
  static const Signal signal = [] {
    recording::SaveOptions options;
    options.lead_in = 0.5;
    options.tail = 0.5;
    return recording::save_signal(damaged_tape(), options);
  }();
  return signal;
}

// Where a block of the signal lies: its tone, from start to data, then its
// bits to end, in T-states.
struct Place {
  double start = 0;
  double data = 0;
  double end = 0;
};

std::vector<Place> places(const Signal& signal, double* length) {
  std::vector<Place> out;
  double t = 0;
  bool in_block = false;
  int after_tone = -1; // sync half-waves seen
  for (const recording::Piece& p : signal) {
    if (p.level == 0) {
      in_block = false;
    } else if (!in_block) {
      in_block = true;
      out.push_back({t, 0, 0});
      after_tone = -1;
    }
    t += p.t_states;
    if (in_block) {
      if (after_tone < 0 && p.t_states != PILOT_HALF_WAVE) {
        after_tone = 0;
      }
      if (after_tone >= 0 && ++after_tone == 2) {
        out.back().data = t;
      }
      out.back().end = t;
    }
  }
  *length = t;
  return out;
}

Bytes tzx(const Bytes& blocks) {
  return tape::joined({tape::tzx_header(), blocks});
}

Bytes pzx(const Bytes& blocks) {
  return tape::joined({tape::pzx_header(), blocks});
}

// The text of each <text> element, its inner elements taken out.
std::vector<std::string> texts(const std::string& svg) {
  std::vector<std::string> out;
  for (std::size_t at = svg.find("<text"); at != std::string::npos;
       at = svg.find("<text", at + 1)) {
    const std::size_t end = svg.find("</text>", at);
    std::string text;
    bool in_tag = true;
    for (std::size_t i = at; i < end; ++i) {
      if (svg[i] == '<' || svg[i] == '>') {
        in_tag = svg[i] == '<';
      } else if (!in_tag) {
        text += svg[i];
      }
    }
    out.push_back(text);
  }
  return out;
}

bool holds_text(const std::vector<std::string>& all, const std::string& text) {
  return std::find(all.begin(), all.end(), text) != all.end();
}

struct Map {
  bool drawn = false;
  std::string svg;
};

Map map_of(const Bytes& image, ImageFormat format,
           std::string_view title = "tape.wav") {
  MemoryInput input(image);
  Map map;
  map.drawn = draw_recording_map(input, format, title, map.svg);
  return map;
}

// An RGBA picture.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
  const std::uint8_t* at(int x, int y) const {
    return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
         std::uint32_t{p[2]} << 8 | p[3];
}

// Decodes a PNG of 8-bit RGB or RGBA, not interlaced; false for any other.
bool decode_png(const Bytes& png, Picture& picture) {
  if (png.size() < 8 || png[1] != 'P' || png[2] != 'N' || png[3] != 'G') {
    return false;
  }
  Bytes packed;
  int channels = 0;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t size = be32(&png[at]);
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    const std::uint8_t* body = &png[at + 8];
    if (at + 12 + size > png.size()) {
      return false;
    }
    if (type == "IHDR") {
      picture.width = static_cast<int>(be32(body));
      picture.height = static_cast<int>(be32(body + 4));
      channels = body[9] == 6 ? 4 : body[9] == 2 ? 3 : 0;
      if (body[8] != 8 || channels == 0 || body[12] != 0) {
        return false;
      }
    } else if (type == "IDAT") {
      packed.insert(packed.end(), body, body + size);
    }
    at += 12 + size;
  }
  const std::size_t row = static_cast<std::size_t>(picture.width) * channels;
  Bytes raw((row + 1) * picture.height);
  uLongf raw_size = raw.size();
  if (uncompress(raw.data(), &raw_size, packed.data(), packed.size()) != Z_OK ||
      raw_size != raw.size()) {
    return false;
  }
  Bytes pixels(row * picture.height);
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t filter = raw[y * (row + 1)];
    const std::uint8_t* in = &raw[y * (row + 1) + 1];
    std::uint8_t* out = &pixels[y * row];
    const std::uint8_t* up = y > 0 ? out - row : nullptr;
    for (std::size_t i = 0; i < row; ++i) {
      const int a =
          i >= static_cast<std::size_t>(channels) ? out[i - channels] : 0;
      const int b = up ? up[i] : 0;
      const int c =
          up && i >= static_cast<std::size_t>(channels) ? up[i - channels] : 0;
      int predicted = 0;
      if (filter == 1) {
        predicted = a;
      } else if (filter == 2) {
        predicted = b;
      } else if (filter == 3) {
        predicted = (a + b) / 2;
      } else if (filter == 4) {
        const int p = a + b - c;
        const int pa = std::abs(p - a), pb = std::abs(p - b),
                  pc = std::abs(p - c);
        predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      out[i] = static_cast<std::uint8_t>(in[i] + predicted);
    }
  }
  picture.rgba.clear();
  for (std::size_t i = 0; i < pixels.size(); i += channels) {
    picture.rgba.insert(picture.rgba.end(), &pixels[i], &pixels[i] + 3);
    picture.rgba.push_back(channels == 4 ? pixels[i + 3] : 255);
  }
  return true;
}

bool rsvg_installed() {
  static const bool installed =
      std::system("rsvg-convert --version > /dev/null 2>&1") == 0;
  return installed;
}

// Renders svg with rsvg-convert; false when it fails or the PNG is not one.
bool render(const std::string& svg, Picture& picture) {
  // Named after the test, which ctest may run beside the others.
  static int count = 0;
  const std::string base =
      ::testing::TempDir() + "/vetrik_map_" +
      ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
      std::to_string(count++);
  const std::string in = base + ".svg";
  const std::string out = base + ".png";
  std::ofstream(in, std::ios::binary) << svg;
  std::remove(out.c_str());
  if (std::system(("rsvg-convert -o '" + out + "' '" + in + "'").c_str()) !=
      0) {
    return false;
  }
  std::ifstream file(out, std::ios::binary);
  const Bytes png{std::istreambuf_iterator<char>(file), {}};
  file.close();
  std::remove(in.c_str());
  std::remove(out.c_str());
  return decode_png(png, picture);
}

bool red(const std::uint8_t* p) {
  return p[0] >= 190 && p[1] <= 70 && p[2] <= 70;
}
bool green(const std::uint8_t* p) {
  return p[1] >= p[0] + 50 && p[1] >= p[2] + 30;
}
bool amber(const std::uint8_t* p) {
  return p[0] >= 200 && p[1] >= 140 && p[1] <= 210 && p[2] <= 120;
}
bool blue(const std::uint8_t* p) {
  return p[2] >= p[0] + 30;
}

// Pixels of the signal's level in column x.
int level_height(const Picture& picture, int x) {
  int n = 0;
  for (int y = 60; y < MAP_BLOCKS_TOP; ++y) {
    n += blue(picture.at(x, y)) ? 1 : 0;
  }
  return n;
}

// The same tape in every form a recording comes in, the TZX one after a
// tone that its decoder never hears.
struct Form {
  const char* name;
  Bytes image;
  double offset = 0; // T-states of signal before the saved tape's
};

std::vector<Form> forms() {
  const recording::Levels levels = recording::levels(saved());
  const recording::Bits bits =
      recording::direct_samples(saved(), SAMPLE_T_STATES);
  bool high = false;
  const Bytes z_rle = recording::csw_data(saved(), RATE, true, &high);
  Bytes tone{0x12, 0x78, 0x08, 0xE3, 0x12}; // 2168 T-states, 4835 pulses
  recording::Samples samples = recording::render(saved(), RATE);
  recording::scale(samples, -3);
  return {
      {"WAV", recording::wav({samples}, RATE, WavEncoding::PCM_16)},
      {"CSW", recording::csw(saved(), RATE, recording::CswVariant::V2_Z_RLE)},
      {"TZX direct recording", tzx(tape::tzx_direct_recording(
                                   bits.bytes, bits.count, SAMPLE_T_STATES))},
      {"TZX tone, then CSW recording",
       tzx(tape::joined({tone, tape::tzx_csw_recording(z_rle, RATE, 2)})),
       2168.0 * 4835},
      {"PZX pulses", pzx(tape::pzx_pulses(levels.t_states, levels.first_high))},
  };
}

TEST(RecordingMap, EachBlockShowsAtItsPlaceWithItsNameAndProblem) {
  double length = 0;
  const std::vector<Place> saved_places = places(saved(), &length);
  ASSERT_EQ(saved_places.size(), 4U);
  const std::vector<Form> all_forms = forms();
  std::vector<Map> maps;
  for (const Form& form : all_forms) {
    SCOPED_TRACE(form.name);
    maps.push_back(map_of(form.image, image_format(form.image)));
    const Map& map = maps.back();
    ASSERT_TRUE(map.drawn);
    const std::vector<std::string> all = texts(map.svg);
    EXPECT_TRUE(holds_text(all, "loader: header, 19 bytes"));
    EXPECT_TRUE(holds_text(all, "42 bytes"));
    EXPECT_TRUE(holds_text(all, "screen: header, 19 bytes"));
    EXPECT_TRUE(holds_text(all, "302 bytes, wrong checksum"));
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const std::string& t) {
                              return t.find(MAP_WRONG_CHECKSUM) !=
                                     std::string::npos;
                            }),
              2) // the block's, and the count of such blocks
        << map.svg;
  }

  if (!rsvg_installed()) {
    GTEST_SKIP() << "rsvg-convert is not installed: the maps are not looked at";
  }
  for (std::size_t f = 0; f < all_forms.size(); ++f) {
    const Form& form = all_forms[f];
    const Map& map = maps[f];
    SCOPED_TRACE(form.name);
    Picture picture;
    ASSERT_TRUE(render(map.svg, picture));
    ASSERT_EQ(picture.width, MAP_WIDTH);
    const double total = length + form.offset;
    auto x_of = [&](double t) {
      return static_cast<int>(MAP_LEFT +
                              MAP_TIMELINE * (form.offset + t) / total);
    };
    const int middle = MAP_BLOCKS_TOP + MAP_BLOCKS_HEIGHT / 2;
    for (std::size_t k = 0; k < saved_places.size(); ++k) {
      const Place& p = saved_places[k];
      const int tone = x_of((p.start + p.data) / 2);
      const int bits = x_of((p.data + p.end) / 2);
      EXPECT_TRUE(amber(picture.at(tone, middle))) << "tone of block " << k;
      if (k == DAMAGED_BLOCK) {
        EXPECT_TRUE(red(picture.at(bits, middle))) << "block " << k;
      } else {
        EXPECT_TRUE(green(picture.at(bits, middle))) << "block " << k;
      }
      EXPECT_GE(level_height(picture, tone), 60) << "tone of block " << k;
    }
    // Red in the blocks' rows lies over the damaged block's bits and
    // nowhere else.
    const Place& bad = saved_places[DAMAGED_BLOCK];
    for (int x = MAP_LEFT; x < MAP_LEFT + MAP_TIMELINE; ++x) {
      bool any = false;
      for (int y = MAP_BLOCKS_TOP; y < MAP_BLOCKS_TOP + MAP_BLOCKS_HEIGHT;
           ++y) {
        any = any || red(picture.at(x, y));
      }
      const bool inside = x > x_of(bad.data) + 2 && x < x_of(bad.end) - 2;
      const bool near = x >= x_of(bad.data) - 2 && x <= x_of(bad.end) + 2;
      if (inside) {
        EXPECT_TRUE(any) << "x " << x;
      } else if (!near) {
        EXPECT_FALSE(any) << "x " << x;
      }
    }
    // The quiet between the files shows as none.
    const int gap = x_of((saved_places[1].end + saved_places[2].start) / 2);
    EXPECT_LE(level_height(picture, gap), 4);
  }
}

TEST(RecordingMap, AnImageWithoutRecordedSignalHasNoMap) {
  const Bytes tap = tape::tape_file("plain", tape::pattern(20, 1), 0);
  const struct {
    const char* name;
    Bytes image;
  } cases[] = {
      {"TAP", tap},
      {"TZX of data blocks", tape::tzx_from_tap(tap, {tape::TzxData::STANDARD,
                                                      tape::TzxData::TURBO})},
      {"TZX without blocks", tzx({})},
      {"PZX of data blocks", tape::pzx_from_tap(tap)},
  };
  for (const auto& c : cases) {
    MemoryInput input(c.image);
    std::string svg = "untouched";
    EXPECT_FALSE(draw_recording_map(input, image_format(c.image), "x", svg))
        << c.name;
    EXPECT_EQ(svg, "untouched") << c.name;
  }
}

// Signal without blocks is drawn: a tone shows, quiet does not.
TEST(RecordingMap, SignalWithoutBlocksIsDrawnAsItIs) {
  const std::vector<double> pilot(3000, PILOT_HALF_WAVE);
  const struct {
    const char* name;
    Bytes image;
    bool tone;
  } cases[] = {
      {"TZX pure tone", tzx({0x12, 0x78, 0x08, 0x00, 0x10}), true},
      {"TZX pulse sequence", tzx({0x13, 3, 0x78, 0x08, 0x78, 0x08, 0x9B, 0x02}),
       true},
      {"PZX pulses", pzx(tape::pzx_pulses(pilot, true)), true},
      {"TZX direct recording of quiet",
       tzx(tape::tzx_direct_recording(Bytes(4000, 0), 32000, SAMPLE_T_STATES)),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Map map = map_of(c.image, image_format(c.image));
    ASSERT_TRUE(map.drawn);
    EXPECT_NE(map.svg.find(NO_BLOCKS_FOUND), std::string::npos);
    Picture picture;
    if (rsvg_installed()) {
      ASSERT_TRUE(render(map.svg, picture));
      const int height = level_height(picture, MAP_LEFT + MAP_TIMELINE / 2);
      if (c.tone) {
        EXPECT_GE(height, 100);
      } else {
        EXPECT_LE(height, 4);
      }
    }
  }
}

// Whatever is wrong with a recording, the map is drawn and tells it.
TEST(RecordingMap, ABrokenRecordingIsDrawnWithItsProblem) {
  const Bytes wav = recording::wav({recording::render(saved(), RATE)}, RATE,
                                   WavEncoding::PCM_16);
  Bytes unsupported = wav;
  unsupported[20] = 85; // the format tag
  const struct {
    const char* name;
    Bytes image;
    ImageFormat format;
    const char* ending; // how one of its texts must end, or none
  } cases[] = {
      {"empty WAV", {}, ImageFormat::WAV, nullptr},
      {"WAV cut in its header", tape::cut(wav, 30), ImageFormat::WAV, nullptr},
      {"unsupported WAV", unsupported, ImageFormat::WAV, nullptr},
      {"WAV cut in its last block", tape::cut(wav, wav.size() * 9 / 10),
       ImageFormat::WAV, " bytes, cut short, wrong checksum"},
      {"broken CSW",
       recording::csw(saved(), RATE, recording::CswVariant::V2_Z_RLE, {}, 0.5),
       ImageFormat::CSW, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Map map = map_of(c.image, c.format);
    ASSERT_TRUE(map.drawn);
    MemoryInput input(c.image);
    RecordingReader reader(input, c.format);
    for (Bytes block; reader.next_block(block);) {
    }
    const std::vector<std::string> all = texts(map.svg);
    ASSERT_GE(all.size(), 2U);
    EXPECT_NE(all[1].find(reader.problem()), std::string::npos) << all[1];
    if (c.ending != nullptr) {
      const std::string ending = c.ending;
      EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                              [&](const std::string& t) {
                                return t.size() > ending.size() &&
                                       t.compare(t.size() - ending.size(),
                                                 ending.size(), ending) == 0;
                              }))
          << map.svg;
    }
    Picture picture;
    if (rsvg_installed()) {
      EXPECT_TRUE(render(map.svg, picture));
    }
  }
}

TEST(RecordingMap, NamesAndTitleAreMadeSafeForXml) {
  const Bytes tape = tape::tape_file("a<&\"'\x01\xC3\xA9z", {1, 2, 3}, 0);
  const Bytes image = recording::csw(recording::save_signal(tape), RATE,
                                     recording::CswVariant::V2_Z_RLE);
  const Map map = map_of(image, ImageFormat::CSW, "Tape <1> & f\xC3\xBCr\xFF");
  ASSERT_TRUE(map.drawn);
  EXPECT_NE(map.svg.find(">a&lt;&amp;&quot;&apos;???z: header, 19 bytes<"),
            std::string::npos)
      << map.svg;
  EXPECT_NE(map.svg.find("<title>Tape &lt;1&gt; &amp; f\xC3\xBCr?</title>"),
            std::string::npos);
  Picture picture;
  if (rsvg_installed()) {
    EXPECT_TRUE(render(map.svg, picture));
  }
}

// A recording of very many blocks draws the first MAP_MOST_BLOCKS and says
// how many more there were.
TEST(RecordingMap, BlocksPastTheMostAreCountedNotDrawn) {
  Bytes tap;
  const std::size_t blocks = MAP_MOST_BLOCKS + 100;
  for (std::size_t i = 0; i < blocks; ++i) {
    tape::append(tap, tape::data_block({}));
  }
  recording::SaveOptions options;
  options.data_pilot = 300;
  options.gap = 0.005;
  const recording::Levels levels =
      recording::levels(recording::save_signal(tap, options));
  const Bytes image = pzx(tape::pzx_pulses(levels.t_states, levels.first_high));
  const Map map = map_of(image, ImageFormat::PZX);
  ASSERT_TRUE(map.drawn);
  const std::vector<std::string> all = texts(map.svg);
  EXPECT_EQ(std::count(all.begin(), all.end(), "2 bytes"),
            static_cast<std::ptrdiff_t>(MAP_MOST_BLOCKS));
  EXPECT_NE(map.svg.find("100 more blocks"), std::string::npos);
  EXPECT_NE(all[1].find(std::to_string(blocks) + " blocks"), std::string::npos);
  EXPECT_LT(map.svg.size(), 2000000U);
}

} // namespace
} // namespace vetrik
