// Finds the data blocks of a TZX image, one at a time, in file order.
#include "tape/tzx_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <utility>

#include "bytes/image_format.h"

namespace vetrik {

namespace {

// Signature + major 1 + minor 1.
inline constexpr std::size_t TZX_HEADER_SIZE = TZX_SIGNATURE.size() + 1 + 1;

enum class Kind : std::uint8_t {
  SKIP,        // no bytes for the view: read past it
  DATA,        // its bytes as stored are a data block
  RECORDING,   // its bytes are a signal, decoded by the signal run
  GENERALIZED, // 0x19: a data block when its symbols are bits
};

// How a block is laid out after its ID: fixed bytes, and in them the count
// of what follows, in units of unit bytes.
struct Layout {
  Kind kind;
  std::uint8_t fixed;
  std::uint8_t count_at;
  std::uint8_t count_size; // 0: nothing follows
  std::uint8_t unit;
};

// The most fixed bytes a block has: 0x35's identification 16 + length 4.
inline constexpr std::size_t MOST_FIXED = 16 + 4;

// 0x19's fields after its length: pause 2 + pilot symbol count 4 + pulses
// per pilot symbol 1 + pilot alphabet 1 + data symbol count 4 + pulses per
// data symbol 1 + data alphabet 1.
inline constexpr std::uint64_t GENERALIZED_FIELDS = 2 + 4 + 1 + 1 + 4 + 1 + 1;

// 0x18's fields after its length: pause 2 + sample rate 3 + compression 1 +
// stored pulses 4, then the CSW data.
inline constexpr std::uint64_t CSW_FIELDS = 2 + 3 + 1 + 4;

Layout layout_of(std::uint8_t id) {
  switch (id) {
  case 0x10: // pause 2, length 2
    return {Kind::DATA, 4, 2, 2, 1};
  case 0x11: // 6 pulse words, used bits 1, pause 2, length 3
    return {Kind::DATA, 18, 15, 3, 1};
  case 0x12: // pulse length 2, pulses 2
    return {Kind::SKIP, 4, 0, 0, 0};
  case 0x13: // pulses 1, then a word each
    return {Kind::SKIP, 1, 0, 1, 2};
  case 0x14: // 2 pulse words, used bits 1, pause 2, length 3
    return {Kind::DATA, 10, 7, 3, 1};
  case 0x15: // sample length 2, pause 2, used bits 1, length 3
    return {Kind::RECORDING, 8, 5, 3, 1};
  case 0x18: // length 4
    return {Kind::RECORDING, 4, 0, 4, 1};
  case 0x19: // length 4
    return {Kind::GENERALIZED, 4, 0, 4, 1};
  case 0x20: // pause
  case 0x23: // jump
  case 0x24: // loop start
    return {Kind::SKIP, 2, 0, 0, 0};
  case 0x21: // group start: name length 1, name
  case 0x30: // text length 1, text
    return {Kind::SKIP, 1, 0, 1, 1};
  case 0x22: // group end
  case 0x25: // loop end
  case 0x27: // return
    return {Kind::SKIP, 0, 0, 0, 0};
  case 0x26: // calls 2, then a word each
    return {Kind::SKIP, 2, 0, 2, 2};
  case 0x28: // select: length 2
  case 0x32: // archive info: length 2
    return {Kind::SKIP, 2, 0, 2, 1};
  case 0x31: // message: time 1, length 1
    return {Kind::SKIP, 2, 1, 1, 1};
  case 0x33: // hardware: entries 1, 3 bytes each
    return {Kind::SKIP, 1, 0, 1, 3};
  case 0x34: // emulation info
    return {Kind::SKIP, 8, 0, 0, 0};
  case 0x35: // custom info: identification 16, length 4
    return {Kind::SKIP, 20, 16, 4, 1};
  case 0x40: // snapshot: type 1, length 3
    return {Kind::SKIP, 4, 1, 3, 1};
  case 0x5A: // glue: the rest of a second TZX header
    return {Kind::SKIP, 9, 0, 0, 0};
  default: // 0x16, 0x17, 0x2A, 0x2B and any other: length 4
    return {Kind::SKIP, 4, 0, 4, 1};
  }
}

std::string block_name(std::uint8_t id) {
  char name[8];
  std::snprintf(name, sizeof name, "0x%02X", id);
  return name;
}

bool is_recording(std::uint8_t id) {
  return id == 0x15 || id == 0x18;
}

bool is_tone(std::uint8_t id) {
  return id == 0x12 || id == 0x13;
}

} // namespace

Step TzxReader::read_block() {
  if (!header_read_) {
    header_read_ = true;
    if (std::string problem = read_header(); !problem.empty()) {
      return Step::end(std::move(problem));
    }
  }
  std::uint8_t id = 0;
  if (!read_exactly(image_, &id, 1)) {
    return Step::end();
  }
  return read_block(id);
}

bool TzxReader::next_is_signal() {
  const std::span<const std::uint8_t> id = image_.peek(1);
  return !id.empty() && is_recording(id[0]);
}

std::string TzxReader::read_header() {
  std::array<std::uint8_t, TZX_HEADER_SIZE> header{};
  if (!read_exactly(image_, header.data(), TZX_HEADER_SIZE)) {
    return std::string(TRUNCATED_TZX_HEADER);
  }
  if (header[8] != 1) {
    return unsupported_version("TZX", header[8], header[9]);
  }
  return {};
}

Step TzxReader::read_block(std::uint8_t id) {
  const Layout layout = layout_of(id);
  std::array<std::uint8_t, MOST_FIXED> fixed{};
  if (!read_exactly(image_, fixed.data(), layout.fixed)) {
    return bad_block(TRUNCATED_BLOCK, block_name(id));
  }
  const std::uint64_t length =
      std::uint64_t{layout.unit} *
      little_endian(fixed.data() + layout.count_at, layout.count_size);
  switch (layout.kind) {
  case Kind::SKIP:
    if (is_tone(id) && signal_.observed()) {
      return read_tone(id, fixed.data());
    }
    if (!skip_bytes(image_, length)) {
      return bad_block(TRUNCATED_BLOCK, block_name(id));
    }
    return Step::stepped_over();
  case Kind::DATA:
    if (length > MAX_BLOCK_SIZE) {
      return bad_block(CANNOT_DECODE, block_name(id));
    }
    return Step::data_block(image_, static_cast<std::int32_t>(length));
  case Kind::RECORDING:
    return read_recording(id, fixed.data(), length);
  case Kind::GENERALIZED:
    return read_generalized(length);
  }
  return Step::stepped_over();
}

Step TzxReader::read_generalized(std::uint64_t length) {
  std::array<std::uint8_t, GENERALIZED_FIELDS> f{};
  const std::uint64_t present = std::min(length, GENERALIZED_FIELDS);
  if (!read_exactly(image_, f.data(), static_cast<std::size_t>(present))) {
    return bad_block(TRUNCATED_BLOCK, block_name(0x19));
  }
  const std::uint64_t pilot_symbols = le32(&f[2]);
  const std::uint64_t pilot_alphabet = f[7] == 0 ? 256 : f[7];
  const std::uint64_t data_symbols = le32(&f[8]);
  const std::uint64_t data_alphabet = f[13] == 0 ? 256 : f[13];
  // A symbol is a flag byte and its pulse lengths; a pilot run is a symbol
  // byte and a 16-bit repeat count; a data symbol is one bit.
  std::uint64_t end = GENERALIZED_FIELDS;
  if (pilot_symbols != 0) {
    end += pilot_alphabet * (1 + 2 * std::uint64_t{f[6]}) + 3 * pilot_symbols;
  }
  std::string_view fault;
  std::uint64_t data_at = 0;
  std::uint64_t data_size = 0;
  if (length < GENERALIZED_FIELDS || end > length) {
    fault = DAMAGED_BLOCK;
  } else if (data_symbols != 0) {
    data_at = end + data_alphabet * (1 + 2 * std::uint64_t{f[12]});
    data_size = (data_symbols + 7) / 8;
    if (data_alphabet != 2) {
      fault = CANNOT_DECODE;
    } else if (data_at + data_size > length) {
      fault = DAMAGED_BLOCK;
    } else if (data_size > MAX_BLOCK_SIZE) {
      fault = CANNOT_DECODE;
    }
  }
  const bool kept = fault.empty() && data_size > 0;
  if (!gather(length - present, kept ? data_at - present : 0,
              kept ? static_cast<std::int32_t>(data_size) : 0)) {
    return bad_block(TRUNCATED_BLOCK, block_name(0x19));
  }
  if (!fault.empty()) {
    return bad_block(fault, block_name(0x19));
  }
  if (data_symbols == 0) {
    return Step::stepped_over();
  }
  return gathered_block(static_cast<std::int32_t>(data_size));
}

Step TzxReader::read_recording(std::uint8_t id, const std::uint8_t* fixed,
                               std::uint64_t length) {
  if (id == 0x15) {
    // T-states a sample 2, pause 2, used bits in the last byte 1.
    signal_.start_direct(length, fixed[4], le16(fixed));
    return Step::signal_block(block_name(id));
  }
  std::array<std::uint8_t, CSW_FIELDS> f{};
  const std::uint64_t present = std::min(length, CSW_FIELDS);
  if (!read_exactly(image_, f.data(), static_cast<std::size_t>(present))) {
    return bad_block(TRUNCATED_BLOCK, block_name(id));
  }
  const std::uint32_t rate = little_endian(&f[2], 3);
  const std::uint8_t compression = f[5];
  std::string_view fault;
  if (length < CSW_FIELDS || rate == 0) {
    fault = DAMAGED_BLOCK;
  } else if (compression != CSW_RLE && compression != CSW_Z_RLE) {
    fault = CANNOT_DECODE;
  }
  if (!fault.empty()) {
    return bad_block(skip_bytes(image_, length - present) ? fault
                                                          : TRUNCATED_BLOCK,
                     block_name(id));
  }
  signal_.start_csw(length - CSW_FIELDS, rate, compression);
  return Step::signal_block(block_name(id));
}

Step TzxReader::read_tone(std::uint8_t id, const std::uint8_t* fixed) {
  if (id == 0x12) {
    // Pulse length 2, pulses 2.
    signal_.pass_unheard(le16(fixed), le16(fixed + 2));
    return Step::stepped_over();
  }
  // A word a pulse, as many as the fixed byte says.
  for (std::uint8_t i = 0; i < fixed[0]; ++i) {
    std::array<std::uint8_t, 2> word{};
    if (!read_exactly(image_, word.data(), word.size())) {
      return bad_block(TRUNCATED_BLOCK, block_name(id));
    }
    signal_.pass_unheard(le16(word.data()), 1);
  }
  return Step::stepped_over();
}

} // namespace vetrik
