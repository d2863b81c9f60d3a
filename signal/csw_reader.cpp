// CSW header and run-length decoding; Z-RLE through zlib.
#include "signal/csw_reader.h"

#include <cstring>
#include <zlib.h>

#include "bytes/image_format.h"
#include "bytes/image_input.h"
#include "bytes/little_endian.h"

namespace vetrik {

namespace {

// "Compressed Square Wave", 0x1A, major, minor; then version 1: rate (2),
// compression (1), flags (1), 3 reserved bytes; version 2: rate (4), pulse
// count (4, not trusted), compression (1), flags (1), extension length (1),
// the encoding program's name (16), the extension.
inline constexpr std::size_t SIGNATURE_SIZE = CSW_SIGNATURE.size();
inline constexpr std::size_t START_SIZE = SIGNATURE_SIZE + 2;
inline constexpr std::size_t V1_REST_SIZE = 2 + 1 + 1 + 3;
inline constexpr std::size_t V2_REST_SIZE = 4 + 4 + 1 + 1 + 1 + 16;
inline constexpr std::uint8_t FLAG_INITIAL_HIGH = 0x01;

inline constexpr std::size_t READ_BYTES = 16384;

SignalProblem damaged_header() {
  return {SignalProblemKind::DAMAGED_CSW_HEADER, 0};
}

// How many of the n bytes at p, from the first, equal the first; 1 unless
// the next 8 do too, as a few equal pulses cost less one by one than
// counted. Eight at a time, as a tone holds millions.
std::size_t equal_bytes(const std::uint8_t* p, std::size_t n) {
  const std::uint64_t all = p[0] * std::uint64_t{0x0101010101010101};
  std::uint64_t word = 0;
  std::size_t i = 1;
  while (i + 8 <= n) {
    std::memcpy(&word, p + i, 8);
    if (word != all) {
      break;
    }
    i += 8;
  }
  if (i == 1) {
    return 1;
  }
  while (i < n && p[i] == p[0]) {
    ++i;
  }
  return i;
}

} // namespace

struct CswRuns::Inflater {
  Inflater() { ready = inflateInit(&stream) == Z_OK; }
  ~Inflater() {
    if (ready) {
      inflateEnd(&stream);
    }
  }
  z_stream stream{};
  bool ready = false;
  bool ended = false;
  std::vector<std::uint8_t> input = std::vector<std::uint8_t>(READ_BYTES);
};

CswRuns::CswRuns(ImageInput& data, std::uint32_t compression)
    : data_(data), bytes_(READ_BYTES) {
  if (compression == CSW_Z_RLE) {
    inflater_ = std::make_unique<Inflater>();
    damaged_ = !inflater_->ready;
  }
}

CswRuns::~CswRuns() = default;

// Makes bytes_ hold the next run-length coded bytes. Returns false at the
// end of them.
bool CswRuns::fill() {
  at_ = end_ = 0;
  if (damaged_) {
    return false;
  }
  if (!inflater_) {
    const std::int32_t got =
        data_.read(bytes_.data(), static_cast<std::int32_t>(bytes_.size()));
    end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    return end_ > 0;
  }
  z_stream& z = inflater_->stream;
  while (!damaged_ && !inflater_->ended) {
    if (z.avail_in == 0) {
      const std::int32_t got =
          data_.read(inflater_->input.data(),
                     static_cast<std::int32_t>(inflater_->input.size()));
      if (got <= 0) {
        ended_early_ = true; // decoded as far as it goes
        return false;
      }
      z.next_in = inflater_->input.data();
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = bytes_.data();
    z.avail_out = static_cast<uInt>(bytes_.size());
    const int result = inflate(&z, Z_NO_FLUSH);
    inflater_->ended = result == Z_STREAM_END;
    // Without progress while input waits, the stream cannot go on.
    const bool stuck = result == Z_BUF_ERROR && z.avail_in > 0;
    damaged_ =
        (result != Z_OK && result != Z_BUF_ERROR && !inflater_->ended) || stuck;
    // What came out before a break is good data.
    end_ = bytes_.size() - z.avail_out;
    if (end_ > 0) {
      return true;
    }
  }
  return false;
}

std::size_t CswRuns::read(CswPulses* runs, std::size_t most) {
  std::size_t n = 0;
  const auto add = [&](std::uint32_t samples, std::uint64_t count) {
    if (n > 0 && runs[n - 1].samples == samples) {
      runs[n - 1].count += count;
    } else {
      runs[n++] = {samples, count};
    }
  };
  while (n < most) {
    if (at_ == end_ && !fill()) {
      break;
    }
    if (long_bytes_ >= 0 || bytes_[at_] == 0) {
      // 0, then the length in 4 bytes.
      const std::uint8_t b = bytes_[at_++];
      if (long_bytes_ < 0) {
        long_run_ = 0;
        long_bytes_ = 0;
      } else {
        long_run_ |= std::uint32_t{b} << (8 * long_bytes_);
        if (++long_bytes_ == 4) {
          add(long_run_, 1);
          long_bytes_ = -1;
        }
      }
      continue;
    }
    // Lengths of a byte, up to a 0 or the end of the bytes; in locals, as
    // the runs written might alias members.
    const std::uint8_t* const bytes = bytes_.data();
    const std::size_t end = end_;
    std::size_t at = at_;
    while (at < end && n < most && bytes[at] != 0) {
      const std::size_t same = equal_bytes(bytes + at, end - at);
      if (same == 1) {
        runs[n++] = {bytes[at], 1};
      } else {
        add(bytes[at], same);
      }
      at += same;
    }
    at_ = at;
  }
  return n;
}

std::size_t add_csw_pulses(std::span<const CswPulses> pulses, double t_states,
                           PulseJoiner& joiner, const PulseDecoder& decoder,
                           bool& level) {
  bool high = level;
  std::size_t i = 0;
  while (i < pulses.size()) {
    const CswPulses& p = pulses[i++];
    const double t = p.samples * t_states;
    if (p.count == 1) {
      joiner.add(high, t); // most pulses of a recording
      high = !high;
    } else {
      joiner.add_alternating(high, t, p.count);
      // Pulses of no length still turn the level.
      high = high != (p.count % 2 == 1);
    }
    // An entry may hold millions of pulses: a few could make many blocks.
    if (decoder.holds_block()) {
      break;
    }
  }
  level = high;
  return i;
}

SignalProblem CswReader::open() {
  std::uint8_t start[START_SIZE];
  if (!read_exactly(input_, start, sizeof start) ||
      !holds_at(start, 0, CSW_SIGNATURE)) {
    return damaged_header();
  }
  format_.major = start[SIGNATURE_SIZE];
  format_.minor = start[SIGNATURE_SIZE + 1];
  std::uint8_t rest[V2_REST_SIZE];
  std::uint8_t flags = 0;
  if (format_.major == 1) {
    if (!read_exactly(input_, rest, V1_REST_SIZE)) {
      return damaged_header();
    }
    format_.rate = le16(rest);
    format_.compression = rest[2];
    flags = rest[3];
  } else if (format_.major == 2) {
    if (!read_exactly(input_, rest, V2_REST_SIZE) ||
        !skip_bytes(input_, rest[10])) {
      return damaged_header();
    }
    format_.rate = le32(rest);
    format_.compression = rest[8];
    flags = rest[9];
  } else {
    return damaged_header();
  }
  const std::uint32_t most = format_.major == 1 ? CSW_RLE : CSW_Z_RLE;
  if (format_.compression < CSW_RLE || format_.compression > most) {
    return {SignalProblemKind::UNSUPPORTED_CSW_COMPRESSION,
            format_.compression};
  }
  if (format_.rate == 0) {
    return damaged_header();
  }
  format_.initial_high = (flags & FLAG_INITIAL_HIGH) != 0;
  runs_ = std::make_unique<CswRuns>(input_, format_.compression);
  return {};
}

SignalProblem CswReader::problem() const {
  if (runs_ && runs_->damaged()) {
    return {SignalProblemKind::DAMAGED_CSW_DATA, 0};
  }
  return {};
}

} // namespace vetrik
