// Recordings to blocks: samples to edges to half-waves to blocks for a WAV,
// one decoder a channel; pulse lengths to half-waves to blocks for a CSW.
#include "signal/recording.h"

#include <utility>

#include "bytes/image_input.h"
#include "signal/block_chooser.h"
#include "signal/csw_reader.h"
#include "signal/edge_finder.h"
#include "signal/pulse_decoder.h"
#include "signal/recording_observer.h"
#include "signal/shape_listener.h"
#include "signal/wav_reader.h"

namespace vetrik {

namespace {

inline constexpr std::size_t CSW_RUNS_A_CHUNK = 4096;

} // namespace

// Decodes the image a chunk at a time into blocks for the chooser.
struct RecordingReader::Source {
  Source(ImageInput& image, RecordingObserver* watcher)
      : input(image), observer(watcher) {}
  virtual ~Source() = default;

  // Reads and decodes the next chunk; sets ended at the end.
  virtual void pump() { ended = true; }

  ImageInput& input;
  RecordingObserver* observer;
  BlockChooser chooser{1};
  SignalProblem problem;
  bool ended = false;
};

struct RecordingReader::WavSource final : Source {
  WavSource(ImageInput& image, RecordingObserver* watcher)
      : Source(image, watcher), reader(input) {
    problem = reader.open();
    ended = problem.kind != SignalProblemKind::NONE;
    if (!ended) {
      const double rate = reader.format().rate;
      for (std::size_t c = 0; c < reader.read_channels(); ++c) {
        channels.push_back({EdgeFinder(rate), {}});
      }
      // The shapes are listened to as well on a mono or stereo recording,
      // so that a block has at most 6 candidates.
      if (channels.size() <= SHAPE_CHANNELS_MOST) {
        shapes.reserve(channels.size());
        for (std::size_t c = 0; c < channels.size(); ++c) {
          shapes.emplace_back(rate);
        }
      }
      chooser = BlockChooser(channels.size() +
                             shapes.size() * ShapeListener::DECODERS);
    }
  }

  static constexpr std::size_t SHAPE_CHANNELS_MOST = 2;

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
    if (observer != nullptr && frames > 0) {
      observer->samples(samples, T_STATES_PER_SECOND / reader.format().rate);
    }
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
    for (std::size_t c = 0; c < shapes.size(); ++c) {
      if (frames > 0) {
        shapes[c].push(samples[c]);
      } else {
        shapes[c].finish();
      }
      for (std::size_t d = 0; d < ShapeListener::DECODERS; ++d) {
        ShapeDecoder& decoder = shapes[c].decoder(d);
        const std::size_t listener =
            channels.size() + c * ShapeListener::DECODERS + d;
        DecodedBlock block;
        while (decoder.pop(block)) {
          chooser.add(listener, std::move(block));
        }
        chooser.progress(listener, decoder.heard_until());
      }
    }
    if (frames == 0) {
      chooser.finish();
      ended = true;
    }
  }

  WavReader reader;
  std::vector<Channel> channels;
  std::vector<ShapeListener> shapes;
  std::vector<std::vector<float>> samples;
  std::vector<double> half_waves;
};

struct RecordingReader::CswSource final : Source {
  CswSource(ImageInput& image, RecordingObserver* watcher)
      : Source(image, watcher), reader(input), joiner(decoder, watcher),
        runs(CSW_RUNS_A_CHUNK) {
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
  PulseJoiner joiner;
  std::vector<CswPulses> runs; // read, and decoded up to at
  std::size_t at = 0;
  std::size_t got = 0;
  bool level = false;
  double t_per_sample = 0;
};

RecordingReader::RecordingReader(ImageInput& input, ImageFormat format,
                                 RecordingObserver* observer) {
  switch (format) {
  case ImageFormat::WAV:
    source_ = std::make_unique<WavSource>(input, observer);
    break;
  case ImageFormat::CSW:
    source_ = std::make_unique<CswSource>(input, observer);
    break;
  case ImageFormat::TAP:
  case ImageFormat::TZX:
  case ImageFormat::PZX:
    source_ = std::make_unique<Source>(input, observer);
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
  if (source_->observer != nullptr) {
    source_->observer->block(decoded);
  }
  block = std::move(decoded.bytes);
  open_end_ = decoded.open_end;
  return true;
}

std::string RecordingReader::problem() const {
  return signal_problem_text(source_->problem);
}

} // namespace vetrik
