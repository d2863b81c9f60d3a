// Finds the data blocks of a PZX image, one at a time, in file order.
#include "tape/pzx_reader.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "bytes/image_format.h"
#include "bytes/name_byte.h"

namespace vetrik {

namespace {

// Tag 4 + size 4.
inline constexpr std::int32_t BLOCK_HEAD_SIZE = 4 + 4;
// PZXT: major version 1 + minor version 1, then text.
inline constexpr std::uint32_t VERSION_SIZE = 1 + 1;
// DATA: bit count and level 4 + tail pulse 2 + pulses for a 0 bit 1 + for a
// 1 bit 1, then both pulse tables, then the bits.
inline constexpr std::uint64_t DATA_FIELDS = 4 + 2 + 1 + 1;
inline constexpr std::uint32_t LEVEL_BIT = 0x80000000U;
inline constexpr std::string_view DATA_TAG = "DATA";
inline constexpr std::string_view PULS_TAG = "PULS";

// A tag as messages show it: its bytes rendered like name bytes.
std::string block_name(PzxReader::Tag tag) {
  std::string name;
  for (std::uint8_t b : tag) {
    name += render_name_byte(b);
  }
  return name;
}

} // namespace

Step PzxReader::read_block() {
  std::array<std::uint8_t, BLOCK_HEAD_SIZE> head{};
  const std::int32_t got = image_.read(head.data(), BLOCK_HEAD_SIZE);
  const Tag tag(head.data(), std::min<std::size_t>(got, 4));
  if (got == 0) {
    return Step::end();
  }
  if (got < BLOCK_HEAD_SIZE) {
    return bad_block(TRUNCATED_BLOCK, block_name(tag));
  }
  const std::uint32_t size = le32(&head[4]);
  if (header_read_ && holds_at(head, 0, PULS_TAG)) {
    signal_.start_pulses(size);
    return Step::signal_block(block_name(tag));
  }
  if (!header_read_) {
    header_read_ = true;
    return read_header(size, tag);
  }
  if (holds_at(head, 0, DATA_TAG)) {
    return read_data(size, tag);
  }
  if (!skip_bytes(image_, size)) {
    return bad_block(TRUNCATED_BLOCK, block_name(tag));
  }
  return Step::stepped_over();
}

bool PzxReader::next_is_signal() {
  const std::span<const std::uint8_t> head = image_.peek(BLOCK_HEAD_SIZE);
  return header_read_ && head.size() == BLOCK_HEAD_SIZE &&
         holds_at(head, 0, PULS_TAG);
}

Step PzxReader::read_header(std::uint32_t size, Tag tag) {
  std::array<std::uint8_t, VERSION_SIZE> version{};
  const std::uint32_t present = std::min(size, VERSION_SIZE);
  if (!read_exactly(image_, version.data(), present) ||
      !skip_bytes(image_, size - present)) {
    return bad_block(TRUNCATED_BLOCK, block_name(tag));
  }
  if (size < VERSION_SIZE) {
    return bad_block(DAMAGED_BLOCK, block_name(tag));
  }
  if (version[0] != 1) {
    return Step::end(unsupported_version("PZX", version[0], version[1]));
  }
  return Step::stepped_over();
}

Step PzxReader::read_data(std::uint32_t size, Tag tag) {
  std::array<std::uint8_t, DATA_FIELDS> f{};
  const std::uint64_t present = std::min<std::uint64_t>(size, DATA_FIELDS);
  if (!read_exactly(image_, f.data(), static_cast<std::size_t>(present))) {
    return bad_block(TRUNCATED_BLOCK, block_name(tag));
  }
  const std::uint64_t bits = le32(&f[0]) & ~LEVEL_BIT;
  const std::uint64_t data_at = DATA_FIELDS + 2 * (std::uint64_t{f[6]} + f[7]);
  const std::uint64_t data_size = (bits + 7) / 8;
  std::string_view fault;
  if (size < DATA_FIELDS || data_at + data_size > size) {
    fault = DAMAGED_BLOCK;
  } else if (data_size > MAX_BLOCK_SIZE) {
    fault = CANNOT_DECODE;
  }
  const bool kept = fault.empty();
  if (!gather(size - present, kept ? data_at - present : 0,
              kept ? static_cast<std::int32_t>(data_size) : 0)) {
    return bad_block(TRUNCATED_BLOCK, block_name(tag));
  }
  if (!fault.empty()) {
    return bad_block(fault, block_name(tag));
  }
  return gathered_block(static_cast<std::int32_t>(data_size));
}

} // namespace vetrik
