// The map of a recording: its signal and blocks gathered while the readers
// decode it, in columns and marks of a fixed most size, then drawn.
#include "batch/recording_map.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "bytes/image_input.h"
#include "bytes/tap_block.h"
#include "signal/recording.h"
#include "signal/recording_observer.h"
#include "tape/framed_view.h"
#include "tape/pzx_reader.h"
#include "tape/tzx_reader.h"

namespace vetrik {

namespace {

// The level is kept in at most MOST_COLUMNS columns of equal length; when
// the signal outgrows them, neighbours merge and each covers twice as long.
inline constexpr std::size_t MOST_COLUMNS = 2048;
inline constexpr double FIRST_COLUMN = 350; // T-states: 0.1 ms

// A half-wave of a two-level signal longer than this is quiet, not a tone:
// about 3 ms, well past the longest the ROM's loader reads.
inline constexpr double QUIET_HALF_WAVE = 10000;

// Gaps between blocks at least this long are labelled.
inline constexpr double LABELLED_GAP = 2 * T_STATES_PER_SECOND;

// Where the parts of the picture lie, in y.
inline constexpr double SIGNAL_MIDDLE = 136;
inline constexpr double SIGNAL_HALF = 58;
inline constexpr double LABELS_TOP = 258;
inline constexpr int LABEL_ROWS = 4;
inline constexpr double LABEL_ROW = 13;
inline constexpr double LABEL_CHAR = 5.8; // about, at font size 10
inline constexpr double AXIS = 320;

inline constexpr const char* TONE_FILL = "#e8b04a";
inline constexpr const char* GOOD_FILL = "#2f8f4e";
inline constexpr const char* BAD_FILL = "#d62020";
inline constexpr const char* BAD_TEXT = "#a00000";

struct Column {
  bool heard = false;
  float low = 0;
  float high = 0;
  double squares = 0; // the level squared, times the T-states it lasted
  double length = 0;  // T-states
};

// The level over time, in columns.
class Envelope {
public:
  // The level lies between low and high for t_states, its square square on
  // average. Times that are not finite are dropped.
  void add(float low, float high, double square, double t_states);

  double now() const { return now_; }
  double column_length() const { return width_; }
  // T-states from now to the end of the column now lies in.
  double room() const {
    return (std::floor(now_ / width_) + 1) * width_ - now_;
  }
  const std::vector<Column>& columns() const { return columns_; }

private:
  void merge();

  std::vector<Column> columns_;
  double width_ = FIRST_COLUMN;
  double now_ = 0;
};

void Envelope::add(float low, float high, double square, double t_states) {
  if (!(t_states > 0) || !std::isfinite(t_states)) {
    return;
  }
  while ((now_ + t_states) / width_ >= MOST_COLUMNS) {
    merge();
  }
  while (t_states > 0) {
    const auto i =
        std::min(static_cast<std::size_t>(now_ / width_), MOST_COLUMNS - 1);
    if (i >= columns_.size()) {
      columns_.resize(i + 1);
    }
    // Up to the column's end; rounding may leave it none, then one more.
    double piece =
        std::min(t_states, static_cast<double>(i + 1) * width_ - now_);
    if (!(piece > 0)) {
      piece = std::min(t_states, width_);
    }
    Column& c = columns_[i];
    c.low = c.heard ? std::min(c.low, low) : low;
    c.high = c.heard ? std::max(c.high, high) : high;
    c.heard = true;
    c.squares += square * piece;
    c.length += piece;
    now_ += piece;
    t_states -= piece;
  }
}

void Envelope::merge() {
  for (std::size_t i = 0; i < columns_.size(); i += 2) {
    Column both = columns_[i];
    if (i + 1 < columns_.size()) {
      const Column& next = columns_[i + 1];
      if (next.heard) {
        both.low = both.heard ? std::min(both.low, next.low) : next.low;
        both.high = both.heard ? std::max(both.high, next.high) : next.high;
        both.heard = true;
      }
      both.squares += next.squares;
      both.length += next.length;
    }
    columns_[i / 2] = both;
  }
  columns_.resize((columns_.size() + 1) / 2);
  width_ *= 2;
}

// A block as drawn.
struct Mark {
  double start = 0;
  double data_start = 0;
  double end = 0;
  std::size_t size = 0;
  bool checks = true;
  bool open_end = false;
  bool cut = false;
  bool header = false;
  std::string name; // a header's, as it shows in text
};

// The time the ROM's save routine takes over bytes, at its own speed.
double save_time(const std::vector<std::uint8_t>& bytes) {
  double t = 0;
  for (std::uint8_t b : bytes) {
    const int ones = std::popcount(b);
    t += 2 * (ONE_HALF_WAVE * ones + ZERO_HALF_WAVE * (8 - ones));
  }
  return t;
}

// Text made safe for XML: &<>"' escaped, and anything but printable ASCII
// (and, with utf8, well-formed UTF-8 past it) replaced by '?'.
std::string xml_text(std::string_view text, bool utf8) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (c >= 0x20 && c < 0x7F) {
      length = 1;
    } else if (utf8 && c >= 0xC2 && c <= 0xF4) {
      length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      const auto second =
          i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      // No overlong forms, no surrogates, nothing past U+10FFFF.
      const bool first_ok =
          !(c == 0xE0 && second < 0xA0) && !(c == 0xED && second > 0x9F) &&
          !(c == 0xF0 && second < 0x90) && !(c == 0xF4 && second > 0x8F);
      bool whole = first_ok && i + length <= text.size();
      for (std::size_t k = 1; whole && k < length; ++k) {
        whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      }
      if (!whole) {
        length = 0;
      }
    }
    if (length == 0) {
      out += '?';
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(i, length));
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&apos;";
    } else {
      out += static_cast<char>(c);
    }
    i += length;
  }
  return out;
}

// A coordinate, to a tenth of a pixel.
std::string px(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// seconds as a clock shows them: "m:ss" from a minute on ("h:mm:ss" from an
// hour), else seconds, with as many decimals as step needs.
std::string clock_text(double seconds, double step) {
  char text[48];
  if (seconds >= 60 || step >= 60) {
    const auto whole = static_cast<long long>(std::llround(seconds));
    if (whole >= 3600) {
      std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600,
                    whole / 60 % 60, whole % 60);
    } else {
      std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
  } else {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
    std::snprintf(text, sizeof text, "%.*f s", decimals, seconds);
  }
  return text;
}

// Gathers the map as the readers go.
class MapMaker final : public RecordingObserver {
public:
  void samples(std::span<const std::vector<float>> channels,
               double t_per_sample) override;
  void half_waves(double t_states, std::uint64_t count) override;
  void block(const DecodedBlock& block) override;

  // Whether any signal was heard.
  bool heard() const { return heard_; }
  // Blocks given so far.
  std::size_t blocks() const { return blocks_; }

  // The picture. problem: what stopped the reader, if anything; stored:
  // blocks the image held as data rather than as signal.
  std::string draw(std::string_view title, std::string_view problem,
                   std::size_t stored) const;

private:
  void draw_signal(std::string& out, double length) const;
  void draw_blocks(std::string& out, double length) const;
  void draw_axis(std::string& out, double length) const;

  Envelope envelope_;
  std::vector<Mark> marks_;
  std::size_t blocks_ = 0;
  std::size_t failing_ = 0;
  bool heard_ = false;
};

void MapMaker::samples(std::span<const std::vector<float>> channels,
                       double t_per_sample) {
  if (channels.empty()) {
    return;
  }
  heard_ = true;
  const std::size_t frames = channels[0].size();
  for (std::size_t f = 0; f < frames;) {
    // The frames that fit in the current column go in together.
    const double fit = std::floor(envelope_.room() / t_per_sample);
    const std::size_t n =
        fit < 1 ? 1
                : std::min(frames - f, static_cast<std::size_t>(std::min(
                                           fit, static_cast<double>(frames))));
    float low = 1, high = -1;
    double squares = 0;
    for (std::size_t end = f + n; f < end; ++f) {
      float square = 0;
      for (const std::vector<float>& channel : channels) {
        float v = f < channel.size() ? channel[f] : 0;
        v = std::isfinite(v) ? std::clamp(v, -1.0F, 1.0F) : 0;
        low = std::min(low, v);
        high = std::max(high, v);
        square = std::max(square, v * v);
      }
      squares += square;
    }
    envelope_.add(low, high, squares / static_cast<double>(n),
                  t_per_sample * static_cast<double>(n));
  }
}

void MapMaker::half_waves(double t_states, std::uint64_t count) {
  heard_ = true;
  const double length = t_states * static_cast<double>(count);
  if (t_states > QUIET_HALF_WAVE) {
    envelope_.add(0, 0, 0, length);
  } else {
    envelope_.add(-1, 1, 1, length);
  }
}

void MapMaker::block(const DecodedBlock& block) {
  ++blocks_;
  const bool checks = xor_checksum(block.bytes) == 0;
  failing_ += checks ? 0 : 1;
  if (marks_.size() >= MAP_MOST_BLOCKS) {
    return;
  }
  Mark m;
  m.start = block.start;
  m.end = std::max(block.end, block.start);
  // Where the decoder did not tell where the bits begin, they are taken to
  // have been saved at the ROM's speed.
  m.data_start = block.data_start > m.start && block.data_start <= m.end
                     ? block.data_start
                     : std::max(m.start, m.end - save_time(block.bytes));
  m.size = block.bytes.size();
  m.checks = checks;
  m.open_end = block.open_end;
  m.cut = block.cut;
  m.header = block.bytes.size() == HEADER_BLOCK_LENGTH &&
             block.bytes[0] == HEADER_FLAG;
  if (m.header) {
    const auto* name = reinterpret_cast<const char*>(block.bytes.data() + 2);
    // Names are padded with spaces, which show as nothing.
    std::string_view text(name, NAME_LENGTH);
    text = text.substr(0, text.find_last_not_of(' ') + 1);
    m.name = xml_text(text, false);
  }
  marks_.push_back(std::move(m));
}

std::string MapMaker::draw(std::string_view title, std::string_view problem,
                           std::size_t stored) const {
  double length = envelope_.now();
  for (const Mark& m : marks_) {
    length = std::max(length, m.end);
  }
  const std::string name = xml_text(title, true);
  const std::string width = std::to_string(MAP_WIDTH);
  const std::string height = std::to_string(MAP_HEIGHT);
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
         width + "\" height=\"" + height + "\" viewBox=\"0 0 " + width + " " +
         height + "\" font-family=\"sans-serif\">\n";
  out += "<title>" + name + "</title>\n";
  out += "<rect x=\"0\" y=\"0\" width=\"" + width + "\" height=\"" + height +
         "\" fill=\"#ffffff\"/>\n";
  out += "<text x=\"" + px(MAP_LEFT) +
         "\" y=\"26\" font-size=\"18\" font-weight=\"bold\">" + name +
         "</text>\n";

  std::string summary = clock_text(length / T_STATES_PER_SECOND, 1) +
                        " of signal, " + std::to_string(blocks_) +
                        (blocks_ == 1 ? " block" : " blocks");
  if (failing_ > 0) {
    summary += ", " + std::to_string(failing_) + " with a " +
               std::string(MAP_WRONG_CHECKSUM);
  }
  if (!problem.empty()) {
    summary += "; stopped: " + xml_text(problem, true);
  } else if (blocks_ == 0) {
    summary += "; " + std::string(NO_BLOCKS_FOUND);
  }
  out += "<text x=\"" + px(MAP_LEFT) + "\" y=\"46\" font-size=\"12\">" +
         summary + "</text>\n";
  std::string notes;
  if (blocks_ > marks_.size()) {
    notes += std::to_string(blocks_ - marks_.size()) +
             " more blocks after these not drawn. ";
  }
  if (stored > 0) {
    notes += std::to_string(stored) +
             " blocks stored as data, not as signal, not on the timeline.";
  }
  if (!notes.empty()) {
    out += "<text x=\"" + px(MAP_LEFT) + "\" y=\"62\" font-size=\"12\">" +
           notes + "</text>\n";
  }
  draw_signal(out, length);
  draw_blocks(out, length);
  draw_axis(out, length);
  out += "</svg>\n";
  return out;
}

void MapMaker::draw_signal(std::string& out, double length) const {
  const double top = SIGNAL_MIDDLE - SIGNAL_HALF;
  out += "<text x=\"4\" y=\"" + px(SIGNAL_MIDDLE + 4) +
         "\" font-size=\"11\">signal</text>\n";
  out += "<rect x=\"" + px(MAP_LEFT) + "\" y=\"" + px(top) + "\" width=\"" +
         px(MAP_TIMELINE) + "\" height=\"" + px(2 * SIGNAL_HALF) +
         "\" fill=\"#f4f6f8\"/>\n";
  const std::vector<Column>& columns = envelope_.columns();
  if (columns.empty() || !(length > 0)) {
    return;
  }
  const double w = envelope_.column_length();
  auto x_of = [&](std::size_t i) {
    const double t = std::min((static_cast<double>(i) + 0.5) * w, length);
    return px(MAP_LEFT + MAP_TIMELINE * t / length);
  };
  auto y_of = [](double v) { return px(SIGNAL_MIDDLE - SIGNAL_HALF * v); };
  // The peaks, then the RMS inside them: each the top edge forward, the
  // bottom edge back.
  for (int rms = 0; rms < 2; ++rms) {
    std::string d;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const Column& c = columns[i];
      const double v =
          rms ? std::sqrt(c.length > 0 ? c.squares / c.length : 0) : c.high;
      d += (i == 0 ? "M" : " L") + x_of(i) + "," + y_of(c.heard ? v : 0);
    }
    for (std::size_t i = columns.size(); i-- > 0;) {
      const Column& c = columns[i];
      const double v =
          rms ? -std::sqrt(c.length > 0 ? c.squares / c.length : 0) : c.low;
      d += " L" + x_of(i) + "," + y_of(c.heard ? v : 0);
    }
    out += "<path d=\"" + d + " Z\" fill=\"" + (rms ? "#3b6ea5" : "#a9c1dc") +
           "\"/>\n";
  }
}

void MapMaker::draw_blocks(std::string& out, double length) const {
  auto x_of = [&](double t) {
    return MAP_LEFT +
           MAP_TIMELINE * (length > 0 ? std::clamp(t / length, 0.0, 1.0) : 0);
  };
  const double top = MAP_BLOCKS_TOP;
  out += "<text x=\"4\" y=\"" + px(top + MAP_BLOCKS_HEIGHT / 2.0 + 4) +
         "\" font-size=\"11\">blocks</text>\n";
  out += "<rect x=\"" + px(MAP_LEFT) + "\" y=\"" + px(top) + "\" width=\"" +
         px(MAP_TIMELINE) + "\" height=\"" + px(MAP_BLOCKS_HEIGHT) +
         "\" fill=\"#eeeeee\"/>\n";
  auto rect = [&](double from, double to, double y, double h, const char* fill,
                  const std::string& extra) {
    const double x = x_of(from);
    const double w = std::max(x_of(to) - x, 1.0);
    out += "<rect x=\"" + px(x) + "\" y=\"" + px(y) + "\" width=\"" + px(w) +
           "\" height=\"" + px(h) + "\" fill=\"" + fill + "\"" + extra;
  };
  // The gaps: stretches without a block, before, between and after them.
  double last_end = 0;
  for (std::size_t i = 0; i <= marks_.size(); ++i) {
    const double next = i < marks_.size() ? marks_[i].start : length;
    if (next - last_end >= LABELLED_GAP && x_of(next) - x_of(last_end) >= 70) {
      out += "<text x=\"" + px((x_of(last_end) + x_of(next)) / 2) + "\" y=\"" +
             px(top + MAP_BLOCKS_HEIGHT / 2.0 + 4) +
             "\" font-size=\"10\" fill=\"#777777\" text-anchor=\"middle\">"
             "no block, " +
             clock_text((next - last_end) / T_STATES_PER_SECOND, 0.1) +
             "</text>\n";
    }
    if (i < marks_.size()) {
      last_end = std::max(last_end, marks_[i].end);
    }
  }
  std::array<double, LABEL_ROWS> row_end{};
  row_end.fill(0);
  for (const Mark& m : marks_) {
    std::string label =
        m.header ? m.name + ": header, " + std::to_string(m.size) + " bytes"
                 : std::to_string(m.size) + " bytes";
    std::string problem;
    if (!m.checks) {
      problem = m.open_end ? MAP_CUT_SHORT : MAP_WRONG_CHECKSUM;
    } else if (m.cut) {
      problem = "cut at 65535 bytes";
    }
    const std::string when = clock_text(m.start / T_STATES_PER_SECOND, 0.01) +
                             " to " +
                             clock_text(m.end / T_STATES_PER_SECOND, 0.01);
    if (!m.checks) {
      // Over the signal of its bits too, faintly, to lead the eye.
      rect(m.data_start, m.end, SIGNAL_MIDDLE - SIGNAL_HALF, 2 * SIGNAL_HALF,
           BAD_FILL, " fill-opacity=\"0.15\"/>\n");
    }
    rect(m.start, m.data_start, top + 6, MAP_BLOCKS_HEIGHT - 12.0, TONE_FILL,
         "><title>tone, " + when + "</title></rect>\n");
    rect(m.data_start, m.end, top, MAP_BLOCKS_HEIGHT,
         m.checks ? GOOD_FILL : BAD_FILL,
         "><title>" + label + (problem.empty() ? "" : ", " + problem) + ", " +
             when + "</title></rect>\n");
    // The first row free at the block's start, else the one that frees first.
    const double x = x_of(m.start);
    std::size_t row = 0;
    for (std::size_t r = 0; r < LABEL_ROWS; ++r) {
      if (row_end[r] <= x) {
        row = r;
        break;
      }
      if (row_end[r] < row_end[row]) {
        row = r;
      }
    }
    const std::size_t chars =
        label.size() + (problem.empty() ? 0 : problem.size() + 2);
    row_end[row] = x + LABEL_CHAR * static_cast<double>(chars) + 6;
    out += "<text x=\"" + px(x) + "\" y=\"" +
           px(LABELS_TOP + LABEL_ROW * static_cast<double>(row + 1)) +
           "\" font-size=\"10\">" + label;
    if (!problem.empty()) {
      out += "<tspan fill=\"" + std::string(BAD_TEXT) + "\">, " + problem +
             "</tspan>";
    }
    out += "</text>\n";
  }
}

void MapMaker::draw_axis(std::string& out, double length) const {
  out += "<line x1=\"" + px(MAP_LEFT) + "\" y1=\"" + px(AXIS) + "\" x2=\"" +
         px(MAP_LEFT + MAP_TIMELINE) + "\" y2=\"" + px(AXIS) +
         "\" stroke=\"#333333\"/>\n";
  const double seconds = length / T_STATES_PER_SECOND;
  if (!(seconds > 0)) {
    return;
  }
  // The shortest step that makes at most 10 steps.
  static constexpr std::array<double, 20> STEPS = {
      0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1,   2,    5,    10,
      15,   30,   60,   120, 300, 600, 900, 1800, 3600, 7200};
  double step = seconds / 10;
  for (double s : STEPS) {
    if (seconds / s <= 10) {
      step = s;
      break;
    }
  }
  for (int k = 0; k * step <= seconds * (1 + 1e-9) && k <= 20; ++k) {
    const double x = MAP_LEFT + MAP_TIMELINE * (k * step) / seconds;
    out += "<line x1=\"" + px(x) + "\" y1=\"" + px(AXIS) + "\" x2=\"" + px(x) +
           "\" y2=\"" + px(AXIS + 6) + "\" stroke=\"#333333\"/>\n";
    out += "<text x=\"" + px(x) + "\" y=\"" + px(AXIS + 18) +
           "\" font-size=\"10\" text-anchor=\"middle\">" +
           clock_text(k * step, step) + "</text>\n";
  }
}

// Reads a TZX or PZX image through its reader, every data block's bytes as
// the view would; counts those that came from the image, not the signal.
std::string read_container(BlockReader& reader, const MapMaker& map,
                           std::size_t& stored, bool& signal) {
  for (;;) {
    const std::size_t told = map.blocks();
    Step step = reader.step();
    switch (step.kind) {
    case Step::Kind::END:
      return std::move(step.problem);
    case Step::Kind::SIGNAL_BLOCK:
      signal = true;
      break;
    case Step::Kind::DATA_BLOCK:
      stored += map.blocks() == told ? 1 : 0;
      if (!skip_bytes(*step.bytes, static_cast<std::uint64_t>(step.size))) {
        return {};
      }
      break;
    case Step::Kind::STEPPED_OVER:
      break;
    }
  }
}

} // namespace

bool draw_recording_map(ImageInput& input, ImageFormat format,
                        std::string_view title, std::string& svg) {
  MapMaker map;
  std::string problem;
  std::size_t stored = 0;
  switch (format) {
  case ImageFormat::TAP:
    return false;
  case ImageFormat::WAV:
  case ImageFormat::CSW: {
    RecordingReader reader(input, format, &map);
    for (std::vector<std::uint8_t> block; reader.next_block(block);) {
    }
    problem = reader.problem();
    break;
  }
  case ImageFormat::TZX:
  case ImageFormat::PZX: {
    PeekableInput image(input);
    std::unique_ptr<BlockReader> reader;
    if (format == ImageFormat::TZX) {
      reader = std::make_unique<TzxReader>(std::move(image), &map);
    } else {
      reader = std::make_unique<PzxReader>(std::move(image), &map);
    }
    bool signal = false;
    problem = read_container(*reader, map, stored, signal);
    if (!signal && !map.heard()) {
      return false;
    }
    break;
  }
  }
  svg = map.draw(title, problem, stored);
  return true;
}

} // namespace vetrik
