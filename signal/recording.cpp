// Recordings to blocks: samples to edges to half-waves to blocks for a WAV,
// one decoder a channel; pulse lengths to half-waves to blocks for a CSW.
#include "signal/recording.h"

#include <cstring>
#include <utility>

#include "bytes/image_input.h"
#include "signal/block_chooser.h"
#include "signal/csw_reader.h"
#include "signal/edge_finder.h"
#include "signal/pulse_decoder.h"
#include "signal/wav_reader.h"

namespace vetrik {

namespace {

inline constexpr char WAV_RIFF[] = "RIFF";
inline constexpr char WAV_WAVE[] = "WAVE";
inline constexpr std::size_t WAV_WAVE_OFFSET = 8;
inline constexpr char CSW_SIGNATURE[] = "Compressed Square Wave\x1A";

inline constexpr std::size_t CSW_RUNS_A_CHUNK = 4096;

// The image's first RECORDING_SIGNATURE_SIZE bytes, or all of a shorter one:
// head, and what input adds to it.
std::vector<std::uint8_t> read_start(ImageInput& input,
                                     std::span<const std::uint8_t> head) {
  std::vector<std::uint8_t> first(head.begin(), head.end());
  const std::size_t had = first.size();
  if (had < RECORDING_SIGNATURE_SIZE) {
    first.resize(RECORDING_SIGNATURE_SIZE);
    const std::int32_t got = input.read(
        first.data() + had, static_cast<std::int32_t>(first.size() - had));
    first.resize(had + static_cast<std::size_t>(got > 0 ? got : 0));
  }
  return first;
}

// The image with its first bytes, already read, put back in front.
class HeadInput final : public ImageInput {
public:
  HeadInput(ImageInput& rest, std::vector<std::uint8_t> head)
      : rest_(rest), head_(std::move(head)) {}

  std::int32_t read(std::uint8_t* destination, std::int32_t n) override {
    std::int32_t given = 0;
    while (given < n && at_ < head_.size()) {
      destination[given++] = head_[at_++];
    }
    return n > given ? given + rest_.read(destination + given, n - given)
                     : given;
  }

private:
  ImageInput& rest_;
  std::vector<std::uint8_t> head_;
  std::size_t at_ = 0;
};

} // namespace

RecordingKind recording_kind(std::span<const std::uint8_t> first_bytes) {
  const std::uint8_t* p = first_bytes.data();
  if (first_bytes.size() >= WAV_WAVE_OFFSET + 4 &&
      std::memcmp(p, WAV_RIFF, 4) == 0 &&
      std::memcmp(p + WAV_WAVE_OFFSET, WAV_WAVE, 4) == 0) {
    return RecordingKind::WAV;
  }
  if (first_bytes.size() >= sizeof CSW_SIGNATURE - 1 &&
      std::memcmp(p, CSW_SIGNATURE, sizeof CSW_SIGNATURE - 1) == 0) {
    return RecordingKind::CSW;
  }
  return RecordingKind::NONE;
}

// Decodes the image a chunk at a time into blocks for the chooser.
struct RecordingReader::Source {
  Source(ImageInput& rest, std::vector<std::uint8_t> head)
      : input(rest, std::move(head)) {}
  virtual ~Source() = default;

  // Reads and decodes the next chunk; sets ended at the end.
  virtual void pump() { ended = true; }

  HeadInput input;
  BlockChooser chooser{1};
  SignalProblem problem;
  bool ended = false;
};

struct RecordingReader::WavSource final : Source {
  WavSource(ImageInput& rest, std::vector<std::uint8_t> head)
      : Source(rest, std::move(head)), reader(input) {
    problem = reader.open();
    ended = problem.kind != SignalProblemKind::NONE;
    if (!ended) {
      for (std::size_t c = 0; c < reader.read_channels(); ++c) {
        channels.push_back({EdgeFinder(reader.format().rate), {}});
      }
      chooser = BlockChooser(channels.size());
    }
  }

  struct Channel {
    EdgeFinder edges;
    PulseDecoder decoder;
  };

  // No block can start on channel c before the time this returns.
  static double heard_until(const Channel& c) {
    if (c.decoder.busy()) {
      return c.decoder.busy_since();
    }
    // A half-wave under way that is already too long for a pilot tone
    // starts nothing.
    const double now = c.decoder.now();
    return c.edges.time() - now > PILOT_LONGEST ? c.edges.time() : now;
  }

  void pump() override {
    const std::size_t frames = reader.read(samples);
    for (std::size_t c = 0; c < channels.size(); ++c) {
      Channel& channel = channels[c];
      half_waves.clear();
      if (frames > 0) {
        channel.edges.push(samples[c], half_waves);
      } else {
        channel.edges.finish(half_waves);
      }
      channel.decoder.push(half_waves);
      if (frames == 0) {
        channel.decoder.finish();
      }
      DecodedBlock block;
      while (channel.decoder.pop(block)) {
        chooser.add(c, std::move(block));
      }
      chooser.progress(c, heard_until(channel));
    }
    if (frames == 0) {
      chooser.finish();
      ended = true;
    }
  }

  WavReader reader;
  std::vector<Channel> channels;
  std::vector<std::vector<float>> samples;
  std::vector<double> half_waves;
};

struct RecordingReader::CswSource final : Source {
  CswSource(ImageInput& rest, std::vector<std::uint8_t> head)
      : Source(rest, std::move(head)), reader(input), runs(CSW_RUNS_A_CHUNK) {
    problem = reader.open();
    ended = problem.kind != SignalProblemKind::NONE;
    level = reader.format().initial_high;
    t_per_sample = ended ? 0 : T_STATES_PER_SECOND / reader.format().rate;
  }

  void pump() override {
    if (at == got) {
      got = reader.read(runs.data(), runs.size());
      at = 0;
    }
    at += add_csw_pulses({runs.data() + at, got - at}, t_per_sample, joiner,
                         decoder, level);
    if (got == 0) {
      // The pulses before a break are whole, and the last of them may end
      // a block; a block under way where the data broke is not given.
      problem = reader.problem();
      joiner.finish();
      if (problem.kind == SignalProblemKind::NONE) {
        decoder.finish();
      }
    }
    DecodedBlock block;
    while (decoder.pop(block)) {
      chooser.add(0, std::move(block));
    }
    if (got == 0) {
      chooser.finish();
      ended = true;
    }
  }

  CswReader reader;
  PulseDecoder decoder;
  PulseJoiner joiner{decoder};
  std::vector<CswPulses> runs; // read, and decoded up to at
  std::size_t at = 0;
  std::size_t got = 0;
  bool level = false;
  double t_per_sample = 0;
};

RecordingReader::RecordingReader(ImageInput& input,
                                 std::span<const std::uint8_t> head) {
  // The kind is told from the first bytes, which then go back in front.
  std::vector<std::uint8_t> first = read_start(input, head);
  switch (recording_kind(first)) {
  case RecordingKind::WAV:
    source_ = std::make_unique<WavSource>(input, std::move(first));
    break;
  case RecordingKind::CSW:
    source_ = std::make_unique<CswSource>(input, std::move(first));
    break;
  case RecordingKind::NONE:
    source_ = std::make_unique<Source>(input, std::move(first));
    source_->ended = true;
    break;
  }
}

RecordingReader::~RecordingReader() = default;

bool RecordingReader::next_block(std::vector<std::uint8_t>& block) {
  DecodedBlock decoded;
  while (!source_->chooser.pop(decoded)) {
    if (source_->ended) {
      return false;
    }
    source_->pump();
  }
  block = std::move(decoded.bytes);
  cut_ = decoded.cut;
  open_end_ = decoded.open_end;
  return true;
}

std::string RecordingReader::problem() const {
  return signal_problem_text(source_->problem);
}

} // namespace vetrik
