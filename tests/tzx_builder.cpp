// TZX images for tests.
#include "tests/tzx_builder.h"

#include <algorithm>

#include <string_view>

namespace vetrik::tape {

namespace {

void put(Bytes& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

void put_text(Bytes& out, std::string_view text) {
  for (char c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
  }
}

Bytes with_id(std::uint8_t id, const Bytes& body) {
  Bytes out{id};
  append(out, body);
  return out;
}

// A block of id whose body follows a 16-bit length.
Bytes with_word_length(std::uint8_t id, const Bytes& body) {
  Bytes out{id};
  put(out, static_cast<std::uint32_t>(body.size()), 2);
  append(out, body);
  return out;
}

// Bytes that a reader taking them for blocks would misread.
const Bytes DECOY{0x10, 0x00, 0x00, 0x13, 0x00, 0x19, 0xFF, 0x5A};

} // namespace

Bytes tzx_header(std::uint8_t major, std::uint8_t minor) {
  Bytes out;
  put_text(out, "ZXTape!\x1A");
  out.push_back(major);
  out.push_back(minor);
  return out;
}

Bytes tzx_standard(const Bytes& bytes) {
  Bytes out{0x10};
  put(out, 1000, 2); // pause in ms
  put(out, static_cast<std::uint32_t>(bytes.size()), 2);
  append(out, bytes);
  return out;
}

Bytes tzx_turbo(const Bytes& bytes, std::uint8_t used_bits) {
  Bytes out{0x11};
  // Pilot, two sync pulses, 0 bit, 1 bit, pilot pulses.
  for (std::uint32_t word : {2168, 667, 735, 855, 1710, 3223}) {
    put(out, word, 2);
  }
  out.push_back(used_bits);
  put(out, 1000, 2);
  put(out, static_cast<std::uint32_t>(bytes.size()), 3);
  append(out, bytes);
  return out;
}

Bytes tzx_pure_data(const Bytes& bytes, std::uint8_t used_bits) {
  Bytes out{0x14};
  put(out, 855, 2);
  put(out, 1710, 2);
  out.push_back(used_bits);
  put(out, 0, 2);
  put(out, static_cast<std::uint32_t>(bytes.size()), 3);
  append(out, bytes);
  return out;
}

Bytes tzx_generalized(const Generalized& block) {
  constexpr std::uint8_t PILOT_PULSES = 2;
  Bytes body;
  put(body, 1000, 2);
  put(body, block.pilot_symbols, 4);
  body.push_back(PILOT_PULSES);
  body.push_back(block.pilot_alphabet);
  put(body, block.data_symbols, 4);
  body.push_back(block.data_pulses);
  body.push_back(block.data_alphabet);
  if (block.pilot_symbols != 0) {
    const int alphabet = block.pilot_alphabet == 0 ? 256 : block.pilot_alphabet;
    for (int symbol = 0; symbol < alphabet; ++symbol) {
      body.push_back(0); // edge flags
      put(body, 2168, 2);
      put(body, static_cast<std::uint32_t>(symbol == 0 ? 2168 : 667), 2);
    }
    for (std::uint32_t run = 0; run < block.pilot_symbols; ++run) {
      body.push_back(static_cast<std::uint8_t>(run % 2));
      put(body, run == 0 ? 3223 : 1, 2);
    }
  }
  if (block.data_symbols != 0) {
    const int alphabet = block.data_alphabet == 0 ? 256 : block.data_alphabet;
    for (int symbol = 0; symbol < alphabet; ++symbol) {
      body.push_back(0);
      for (int pulse = 0; pulse < block.data_pulses; ++pulse) {
        put(body, static_cast<std::uint32_t>(855 * (symbol + 1)), 2);
      }
    }
    append(body, block.stream);
  }
  append(body, Bytes(block.left_over, 0x19));
  return tzx_block_with_length(0x19, body);
}

Bytes tzx_generalized(const Bytes& bytes, bool pilot) {
  return tzx_generalized(
      {.pilot_symbols = pilot ? 3U : 0U,
       .data_symbols = static_cast<std::uint32_t>(8 * bytes.size()),
       .stream = bytes});
}

Bytes tzx_block_with_length(std::uint8_t id, const Bytes& body) {
  Bytes out{id};
  put(out, static_cast<std::uint32_t>(body.size()), 4);
  append(out, body);
  return out;
}

std::vector<Bytes> tzx_byteless_blocks() {
  Bytes text{static_cast<std::uint8_t>(DECOY.size())};
  append(text, DECOY);
  Bytes select{2, 1, 0, 3, 'o', 'n', 'e', 0xFE, 0xFF, 3, 't', 'w', 'o'};
  Bytes archive{1, 0x00, static_cast<std::uint8_t>(DECOY.size())};
  append(archive, DECOY);
  Bytes custom;
  put_text(custom, "POKEs           ");
  put(custom, static_cast<std::uint32_t>(DECOY.size()), 4);
  append(custom, DECOY);
  Bytes snapshot{0};
  put(snapshot, static_cast<std::uint32_t>(DECOY.size()), 3);
  append(snapshot, DECOY);
  Bytes glue;
  put_text(glue, "XTape!\x1A");
  glue.push_back(1);
  glue.push_back(13);
  Bytes message{5};
  append(message, text);
  return {
      with_id(0x12, {0x78, 0x08, 0x97, 0x0C}),          // pure tone
      with_id(0x13, {2, 0x9B, 0x02, 0xDF, 0x02}),       // pulses
      with_id(0x20, {0, 0}),                            // stop the tape
      with_id(0x21, text),                              // group start
      with_id(0x22, {}),                                // group end
      with_id(0x23, {0xFE, 0xFF}),                      // jump back
      with_id(0x24, {3, 0}),                            // loop start
      with_id(0x25, {}),                                // loop end
      with_id(0x26, {2, 0, 0xFF, 0xFF, 1, 0}),          // call sequence
      with_id(0x27, {}),                                // return
      with_word_length(0x28, select),                   // select
      tzx_block_with_length(0x2A, {}),                  // stop if 48K
      tzx_block_with_length(0x2B, {1}),                 // signal level
      with_id(0x30, text),                              // description
      with_id(0x31, message),                           // message
      with_word_length(0x32, archive),                  // archive info
      with_id(0x33, {2, 0, 1, 0, 1, 3, 1}),             // hardware
      with_id(0x34, {1, 0, 0, 0, 0, 0, 0, 0}),          // emulation info
      with_id(0x35, custom),                            // custom info
      with_id(0x40, snapshot),                          // snapshot
      with_id(0x5A, glue),                              // glue
      tzx_block_with_length(0x16, DECOY),               // C64 ROM data
      tzx_block_with_length(0x17, DECOY),               // C64 turbo data
      tzx_generalized(Generalized{.pilot_symbols = 2}), // pilot only
      tzx_generalized(Generalized{.data_alphabet = 3, .left_over = 4}),
      tzx_block_with_length(0x00, DECOY), // unknown IDs
      tzx_block_with_length(0x4B, DECOY),
      tzx_block_with_length(0xFF, {}),
  };
}

Bytes tzx_from_tap(const Bytes& tap, const std::vector<TzxData>& rotation,
                   const Bytes& between) {
  Bytes out = tzx_header();
  std::size_t turn = 0;
  for (const Bytes& block : blocks_of(tap)) {
    append(out, between);
    const TzxData kind = rotation[turn++ % rotation.size()];
    append(out, kind == TzxData::STANDARD ? tzx_standard(block)
                : kind == TzxData::TURBO  ? tzx_turbo(block)
                : kind == TzxData::PURE   ? tzx_pure_data(block)
                                          : tzx_generalized(block));
  }
  append(out, between);
  return out;
}

Bytes tzx_direct_recording(const Bytes& bytes, std::size_t bits,
                           std::uint16_t t_states) {
  const std::size_t size = (bits + 7) / 8;
  const std::size_t used = bits % 8 == 0 ? 8 : bits % 8;
  // ID, T-states a sample 2, pause 2, used bits 1, length 3, the samples.
  const Bytes head{0x15,
                   static_cast<std::uint8_t>(t_states & 0xFF),
                   static_cast<std::uint8_t>(t_states >> 8),
                   0,
                   0,
                   static_cast<std::uint8_t>(used),
                   static_cast<std::uint8_t>(size & 0xFF),
                   static_cast<std::uint8_t>((size >> 8) & 0xFF),
                   static_cast<std::uint8_t>(size >> 16)};
  Bytes out(head.size() + size);
  std::copy(head.begin(), head.end(), out.begin());
  std::copy_n(bytes.begin(), size,
              out.begin() + static_cast<std::ptrdiff_t>(head.size()));
  return out;
}

Bytes tzx_csw_recording(const Bytes& data, std::uint32_t rate,
                        std::uint8_t compression) {
  // Pause 2, rate 3, compression 1, stored pulses 4 (left 0), then the data.
  Bytes body{0,
             0,
             static_cast<std::uint8_t>(rate & 0xFF),
             static_cast<std::uint8_t>((rate >> 8) & 0xFF),
             static_cast<std::uint8_t>(rate >> 16),
             compression,
             0,
             0,
             0,
             0};
  append(body, data);
  return tzx_block_with_length(0x18, body);
}

} // namespace vetrik::tape
