// Offsets into the whole image, every field checked against what is left
// before it is read.
#include "tests/tap_view_reference.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "bytes/image_input.h"
#include "signal/csw_reader.h"
#include "signal/pulse_decoder.h"

namespace vetrik::tape {

namespace {

using Size = std::uint64_t;
constexpr Size LARGEST = 0xFFFF;

struct Image {
  const Bytes& bytes;

  Size left(Size at) const { return at < bytes.size() ? bytes.size() - at : 0; }

  // The little-endian number of n bytes at at.
  Size number(Size at, int n) const {
    Size value = 0;
    for (int i = n - 1; i >= 0; --i) {
      value = value * 256 + bytes[static_cast<std::size_t>(at) + i];
    }
    return value;
  }
};

// A block of length n at at, of which present bytes are in the image.
void add_block(Bytes& tap, const Image& image, Size at, Size n,
               std::optional<Size> present = std::nullopt) {
  tap.push_back(static_cast<std::uint8_t>(n % 256));
  tap.push_back(static_cast<std::uint8_t>(n / 256));
  const auto first = image.bytes.begin() + static_cast<std::ptrdiff_t>(at);
  tap.insert(tap.end(), first,
             first + static_cast<std::ptrdiff_t>(present.value_or(n)));
}

std::string hex_id(std::uint8_t id) {
  const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[id / 16] + digits[id % 16];
}

std::string version(std::string_view format, std::uint8_t major,
                    std::uint8_t minor) {
  return "unsupported " + std::string(format) + " version " +
         std::to_string(major) + "." + std::to_string(minor);
}

// A run of signal blocks. The containers around the signal are read here;
// the signal itself is decoded by the signal layer, whose decoding is tested
// on its own.
struct SignalRun {
  PulseDecoder decoder;
  PulseJoiner joiner{decoder};
  bool active = false;
  bool seen = false; // any signal block at all

  void start() {
    active = true;
    seen = true;
  }

  // Adds the blocks decoded so far to tap.
  void take_blocks(Bytes& tap) {
    DecodedBlock block;
    while (decoder.pop(block)) {
      tap.push_back(static_cast<std::uint8_t>(block.bytes.size() % 256));
      tap.push_back(static_cast<std::uint8_t>(block.bytes.size() / 256));
      tap.insert(tap.end(), block.bytes.begin(), block.bytes.end());
    }
  }

  // Ends the signal, and adds every block decoded from it to tap.
  void end(Bytes& tap) {
    if (active) {
      joiner.finish();
      decoder.finish();
      active = false;
    }
    take_blocks(tap);
  }
};

// Bytes a block that carries nothing takes after its ID; empty when the
// image ends inside the fields that tell.
std::optional<Size> byteless_size(std::uint8_t id, const Image& image,
                                  Size at) {
  const auto counted = [&](Size fixed, Size count_at, int count_size,
                           Size unit) -> std::optional<Size> {
    if (image.left(at) < fixed) {
      return std::nullopt;
    }
    return fixed + (count_size == 0
                        ? 0
                        : unit * image.number(at + count_at, count_size));
  };
  switch (id) {
  case 0x12:
    return counted(4, 0, 0, 0);
  case 0x13:
    return counted(1, 0, 1, 2);
  case 0x20:
  case 0x23:
  case 0x24:
    return counted(2, 0, 0, 0);
  case 0x21:
  case 0x30:
    return counted(1, 0, 1, 1);
  case 0x22:
  case 0x25:
  case 0x27:
    return Size{0};
  case 0x26:
    return counted(2, 0, 2, 2);
  case 0x28:
  case 0x32:
    return counted(2, 0, 2, 1);
  case 0x31:
    return counted(2, 1, 1, 1);
  case 0x33:
    return counted(1, 0, 1, 3);
  case 0x34:
    return counted(8, 0, 0, 0);
  case 0x35:
    return counted(20, 16, 4, 1);
  case 0x40:
    return counted(4, 1, 3, 1);
  case 0x5A:
    return counted(9, 0, 0, 0);
  default:
    return counted(4, 0, 4, 1);
  }
}

// The problem of a 0x19 block whose body is whole at [body, end), or "" with
// its bytes added to tap (none when it has no data part).
std::string generalized(Bytes& tap, const Image& image, Size body, Size end) {
  const std::string damaged = "damaged block 0x19";
  const std::string undecodable = "cannot decode block 0x19";
  if (end - body < 14) {
    return damaged;
  }
  const auto& b = image.bytes;
  const Size pilot_runs = image.number(body + 2, 4);
  const Size pilot_pulses = b[body + 6];
  const Size pilot_symbols = b[body + 7] == 0 ? 256 : b[body + 7];
  const Size bits = image.number(body + 8, 4);
  const Size data_pulses = b[body + 12];
  const Size data_symbols = b[body + 13] == 0 ? 256 : b[body + 13];
  Size at = body + 14;
  if (pilot_runs > 0) {
    at += pilot_symbols * (2 * pilot_pulses + 1) + 3 * pilot_runs;
    if (at > end) {
      return damaged;
    }
  }
  if (bits == 0) {
    return "";
  }
  if (data_symbols != 2) {
    return undecodable;
  }
  at += 2 * (2 * data_pulses + 1);
  const Size n = (bits + 7) / 8;
  if (at + n > end) {
    return damaged;
  }
  if (n > LARGEST) {
    return undecodable;
  }
  add_block(tap, image, at, n);
  return "";
}

// A 0x15 direct recording whose fixed fields are at p: fed to run, or the
// problem it ends the view with.
std::optional<Size> direct_recording(ReferenceView& out, SignalRun& run,
                                     const Image& image, Size p) {
  if (image.left(p) < 8) {
    run.end(out.tap);
    out.problem = "truncated block 0x15";
    return std::nullopt;
  }
  const Size n = image.number(p + 5, 3);
  const Size present = std::min(n, image.left(p + 8));
  Size bits = present * 8;
  if (present == n && n > 0) {
    bits -= 8 - std::min<Size>(image.bytes[p + 4], 8);
  }
  run.start();
  add_direct_recording(
      run.joiner,
      {image.bytes.data() + p + 8, static_cast<std::size_t>(present)}, bits,
      static_cast<double>(image.number(p, 2)));
  if (present < n) {
    run.take_blocks(out.tap);
    out.problem = "truncated block 0x15";
    return std::nullopt;
  }
  return p + 8 + n;
}

// A 0x18 CSW recording whose length is at p: fed to run, or the problem it
// ends the view with.
std::optional<Size> csw_recording(ReferenceView& out, SignalRun& run,
                                  const Image& image, Size p) {
  const Size n = image.left(p) < 4 ? 0 : image.number(p, 4);
  const bool whole = image.left(p) >= 4 && image.left(p + 4) >= n;
  const auto stop = [&](const std::string& problem) -> std::optional<Size> {
    run.end(out.tap);
    out.problem = problem + " 0x18";
    return std::nullopt;
  };
  if (image.left(p) < 4 || (image.left(p + 4) < std::min<Size>(n, 10))) {
    return stop("truncated block");
  }
  if (n < 10 || image.number(p + 6, 3) == 0) {
    return stop(whole ? "damaged block" : "truncated block");
  }
  const std::uint8_t compression = image.bytes[p + 9];
  if (compression != CSW_RLE && compression != CSW_Z_RLE) {
    return stop(whole ? "cannot decode block" : "truncated block");
  }
  const double t_states = T_STATES_PER_SECOND / image.number(p + 6, 3);
  const Size data = p + 14;
  MemoryInput input(
      {image.bytes.data() + data,
       static_cast<std::size_t>(std::min(n - 10, image.left(data)))});
  CswRuns runs(input, compression);
  run.start();
  bool level = false;
  for (CswPulses p; runs.read(&p, 1) == 1;) {
    run.joiner.add_alternating(level, p.samples * t_states, p.count);
    level = level != (p.count % 2 == 1);
  }
  // In a whole block, a stream that stops before its end is broken.
  if (!whole || runs.damaged() || runs.ended_early()) {
    // Broken data still ends in whole pulses; cut data may not.
    if (whole) {
      run.joiner.finish();
    }
    run.take_blocks(out.tap);
    out.problem = whole ? "damaged block 0x18" : "truncated block 0x18";
    return std::nullopt;
  }
  return p + 4 + n;
}

// The block whose ID is at at: adds its bytes to out and returns where the
// next block begins; or ends the view there and returns nothing. Any block
// but a recording ends a signal run first.
std::optional<Size> tzx_block(ReferenceView& out, SignalRun& run,
                              const Image& image, Size at) {
  const std::uint8_t id = image.bytes[at];
  const Size p = at + 1;
  if (id == 0x15) {
    return direct_recording(out, run, image, p);
  }
  if (id == 0x18) {
    return csw_recording(out, run, image, p);
  }
  run.end(out.tap);
  const std::string truncated = "truncated block " + hex_id(id);
  const std::string undecodable = "cannot decode block " + hex_id(id);
  // The fields before a block's bytes, and where in them their count is.
  Size fixed = 0, count_at = 0;
  int count_size = 0;
  switch (id) {
  case 0x10:
    fixed = 4, count_at = 2, count_size = 2;
    break;
  case 0x11:
    fixed = 18, count_at = 15, count_size = 3;
    break;
  case 0x14:
    fixed = 10, count_at = 7, count_size = 3;
    break;
  case 0x19:
    fixed = 4, count_at = 0, count_size = 4;
    break;
  default: {
    const std::optional<Size> size = byteless_size(id, image, p);
    if (size && image.left(p) >= *size) {
      return p + *size;
    }
    out.problem = truncated;
    return std::nullopt;
  }
  }
  const Size data = p + fixed;
  const Size n =
      image.left(p) < fixed ? 0 : image.number(p + count_at, count_size);
  if (image.left(p) < fixed || (id == 0x19 && image.left(data) < n)) {
    out.problem = truncated;
  } else if (id != 0x19 && n > LARGEST) {
    out.problem = undecodable;
  } else if (id == 0x19) {
    out.problem = generalized(out.tap, image, data, data + n);
  } else if (image.left(data) < n) {
    // Plain truncation: the bytes that are there, and no problem.
    add_block(out.tap, image, data, n, image.left(data));
    return std::nullopt;
  } else {
    add_block(out.tap, image, data, n);
  }
  if (!out.problem.empty()) {
    return std::nullopt;
  }
  return data + n;
}

// The view's end: a signal in which no block at all was found says so.
void end_of_image(ReferenceView& out, SignalRun& run) {
  run.end(out.tap);
  if (out.problem.empty() && run.seen && out.tap.empty()) {
    out.problem = "no blocks found";
  }
}

ReferenceView tzx(const Image& image) {
  const auto& b = image.bytes;
  if (b.size() < 10) {
    return {{}, "truncated TZX header"};
  }
  if (b[8] != 1) {
    return {{}, version("TZX", b[8], b[9])};
  }
  ReferenceView out;
  SignalRun run;
  std::optional<Size> at = 10;
  while (at && *at < b.size()) {
    at = tzx_block(out, run, image, *at);
  }
  if (at) {
    end_of_image(out, run);
  }
  return out;
}

std::string rendered(const Bytes& bytes, Size at, Size n) {
  std::string text;
  for (Size i = at; i < at + n; ++i) {
    const unsigned c = bytes[i];
    text += c >= 32 && c <= 127 ? std::string(1, static_cast<char>(c))
                                : "(" + std::to_string(c) + ")";
  }
  return text;
}

// The pulse list of n bytes at at, of which present are in the image, fed
// to run; false when an entry runs past its end.
bool pulse_list(SignalRun& run, const Image& image, Size at, Size present) {
  run.start();
  bool level = false;
  std::optional<Size> count;
  std::optional<Size> high;
  Size i = at;
  for (; i + 2 <= at + present; i += 2) {
    const Size word = image.number(i, 2);
    Size duration = 0;
    if (high) {
      duration = *high * 65536 + word;
      high.reset();
    } else if (!count && word >= 0x8000) {
      count = word - 0x8000;
      continue;
    } else if (word >= 0x8000) {
      high = word - 0x8000;
      continue;
    } else {
      duration = word;
    }
    const Size times = count.value_or(1);
    run.joiner.add_alternating(level, static_cast<double>(duration), times);
    level = level != (times % 2 == 1);
    count.reset();
  }
  return !count && !high && i == at + present;
}

ReferenceView pzx(const Image& image) {
  ReferenceView out;
  SignalRun run;
  const auto& b = image.bytes;
  bool first = true;
  for (Size at = 0; at < b.size();) {
    const std::string tag = rendered(b, at, std::min<Size>(4, image.left(at)));
    const bool pulses = !first && tag == "PULS" && image.left(at) >= 8;
    if (!pulses) {
      run.end(out.tap);
    }
    if (image.left(at) < 8 ||
        (!pulses && image.left(at + 8) < image.number(at + 4, 4))) {
      out.problem = "truncated block " + tag;
      return out;
    }
    const Size body = at + 8;
    const Size end = body + image.number(at + 4, 4);
    if (pulses) {
      const Size present = std::min(end - body, image.left(body));
      const bool entries_whole = pulse_list(run, image, body, present);
      if (present < end - body || !entries_whole) {
        if (present == end - body) {
          run.joiner.finish();
        }
        run.take_blocks(out.tap);
        out.problem = present < end - body ? "truncated block PULS"
                                           : "damaged block PULS";
        return out;
      }
    } else if (first) {
      first = false;
      if (end - body < 2) {
        out.problem = "damaged block " + tag;
        return out;
      }
      if (b[body] != 1) {
        out.problem = version("PZX", b[body], b[body + 1]);
        return out;
      }
    } else if (tag == "DATA") {
      if (end - body < 8) {
        out.problem = "damaged block DATA";
        return out;
      }
      const Size bits = image.number(body, 4) & 0x7FFFFFFF;
      const Size bytes_at = body + 8 + 2 * (Size{b[body + 6]} + b[body + 7]);
      const Size n = (bits + 7) / 8;
      if (bytes_at + n > end) {
        out.problem = "damaged block DATA";
        return out;
      }
      if (n > LARGEST) {
        out.problem = "cannot decode block DATA";
        return out;
      }
      add_block(out.tap, image, bytes_at, n);
    }
    at = end;
  }
  end_of_image(out, run);
  return out;
}

bool starts_with(const Bytes& bytes, std::string_view start) {
  return bytes.size() >= start.size() &&
         std::equal(start.begin(), start.end(), bytes.begin());
}

} // namespace

bool has_signature(const Bytes& image) {
  return starts_with(image, std::string_view("ZXTape!\x1A", 8)) ||
         starts_with(image, "PZXT") ||
         starts_with(image, "Compressed Square Wave\x1A") ||
         (starts_with(image, "RIFF") && image.size() >= 12 &&
          std::equal(image.begin() + 8, image.begin() + 12, "WAVE"));
}

ReferenceView reference_view(const Bytes& image) {
  if (starts_with(image, std::string_view("ZXTape!\x1A", 8))) {
    return tzx(Image{image});
  }
  if (starts_with(image, "PZXT")) {
    return pzx(Image{image});
  }
  return {image, ""};
}

} // namespace vetrik::tape
