// PZX images for tests.
#include "tests/pzx_builder.h"

#include <cmath>

namespace vetrik::tape {

namespace {

void put(Bytes& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

} // namespace

Bytes pzx_block(std::string_view tag, const Bytes& body) {
  Bytes out(tag.begin(), tag.end());
  put(out, static_cast<std::uint32_t>(body.size()), 4);
  append(out, body);
  return out;
}

Bytes pzx_header(std::uint8_t major, std::uint8_t minor,
                 std::string_view info) {
  Bytes body{major, minor};
  for (char c : info) {
    body.push_back(static_cast<std::uint8_t>(c));
  }
  return pzx_block("PZXT", body);
}

Bytes pzx_data(const PzxData& block) {
  Bytes body;
  const auto bits = block.bits != 0
                        ? block.bits
                        : static_cast<std::uint32_t>(8 * block.bytes.size());
  put(body, bits | (block.high ? 0x80000000U : 0U), 4);
  put(body, 945, 2); // tail pulse
  body.push_back(block.pulses0);
  body.push_back(block.pulses1);
  for (int i = 0; i < block.pulses0; ++i) {
    put(body, 855, 2);
  }
  for (int i = 0; i < block.pulses1; ++i) {
    put(body, 1710, 2);
  }
  append(body, block.bytes);
  append(body, Bytes(block.left_over, 0xDA));
  return pzx_block("DATA", body);
}

Bytes pzx_data(const Bytes& bytes) {
  return pzx_data(PzxData{.bytes = bytes});
}

std::vector<Bytes> pzx_byteless_blocks() {
  // A pilot tone of 3223 pulses of 2168 T-states, then the two sync pulses.
  const Bytes pulses{0x97, 0x8C, 0x78, 0x08, 0x9B, 0x02, 0xDF, 0x02};
  return {
      pzx_block("PULS", pulses),
      pzx_block("PAUS", {0x00, 0x00, 0x01, 0x80}),
      pzx_block("BRWS", {'D', 'A', 'T', 'A', 0x10, 0, 0, 0}),
      pzx_block("STOP", {0, 0}),
      pzx_header(2, 0, "a later header is stepped over"),
      pzx_block("data", {1, 2, 3}), // tags are told by case
      pzx_block(std::string_view("\0\xFF"
                                 "AT",
                                 4),
                {}),
  };
}

Bytes pzx_from_tap(const Bytes& tap, const Bytes& between) {
  Bytes out = pzx_header(1, 0, "vetrik tests");
  for (const Bytes& block : blocks_of(tap)) {
    append(out, between);
    append(out, pzx_data(block));
  }
  append(out, between);
  return out;
}

Bytes pzx_pulses(const std::vector<double>& t_states, bool first_high) {
  Bytes body;
  const auto word = [&body](std::uint32_t w) {
    body.push_back(static_cast<std::uint8_t>(w & 0xFF));
    body.push_back(static_cast<std::uint8_t>(w >> 8));
  };
  // A block starts low: a pulse of no length turns it high first.
  if (first_high) {
    word(0);
  }
  for (std::size_t i = 0; i < t_states.size();) {
    const auto duration = static_cast<std::uint32_t>(std::llround(t_states[i]));
    std::size_t count = 1;
    while (i + count < t_states.size() && count < 0x7FFF &&
           std::llround(t_states[i + count]) == duration) {
      ++count;
    }
    // A long duration is only ever read after a count.
    if (count > 1 || duration >= 0x8000) {
      word(0x8000 | static_cast<std::uint32_t>(count));
    }
    if (duration >= 0x8000) {
      word(0x8000 | (duration >> 16));
      word(duration & 0xFFFF);
    } else {
      word(duration);
    }
    i += count;
  }
  return pzx_block("PULS", body);
}

} // namespace vetrik::tape
