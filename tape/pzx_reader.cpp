// Finds the data blocks of a PZX image, one at a time, in file order.
#include "tape/pzx_reader.h"

#include <algorithm>

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
inline constexpr std::array<std::uint8_t, 4> DATA_TAG = {'D', 'A', 'T', 'A'};
inline constexpr std::array<std::uint8_t, 4> PULS_TAG = {'P', 'U', 'L', 'S'};

// A tag as messages show it: its bytes rendered like name bytes.
std::string block_name(PzxReader::Tag tag) {
  std::string name;
  for (std::uint8_t b : tag) {
    name += render_name_byte(b);
  }
  return name;
}

} // namespace

bool PzxReader::read_block() {
  std::int32_t got = 0;
  if (head_held_) {
    got = *head_held_;
    head_held_.reset();
  } else {
    got = image_.read(head_.data(), BLOCK_HEAD_SIZE);
  }
  const Tag tag(head_.data(), std::min<std::size_t>(got, 4));
  const bool pulses =
      got == BLOCK_HEAD_SIZE && header_read_ &&
      std::equal(PULS_TAG.begin(), PULS_TAG.end(), head_.begin());
  // Any block but a pulse list ends a signal run, and so does the end: the
  // run's last blocks come first.
  if (!pulses && end_signal()) {
    head_held_ = got;
    return false;
  }
  if (got == 0) {
    end_view();
    return true;
  }
  if (got < BLOCK_HEAD_SIZE) {
    end_view(TRUNCATED_BLOCK, block_name(tag));
    return true;
  }
  const std::uint32_t size = little_endian(&head_[4], 4);
  if (pulses) {
    signal_.start_pulses(size);
    signal_block_started(block_name(tag));
    return false;
  }
  if (!header_read_) {
    header_read_ = true;
    return !read_header(size, tag);
  }
  if (std::equal(DATA_TAG.begin(), DATA_TAG.end(), head_.begin())) {
    read_data(size, tag);
    return true;
  }
  if (!skip(size)) {
    end_view(TRUNCATED_BLOCK, block_name(tag));
    return true;
  }
  return false;
}

bool PzxReader::read_header(std::uint32_t size, Tag tag) {
  std::array<std::uint8_t, VERSION_SIZE> version{};
  const std::uint32_t present = std::min(size, VERSION_SIZE);
  if (!take(version.data(), static_cast<std::int32_t>(present)) ||
      !skip(size - present)) {
    end_view(TRUNCATED_BLOCK, block_name(tag));
    return false;
  }
  if (size < VERSION_SIZE) {
    end_view(DAMAGED_BLOCK, block_name(tag));
    return false;
  }
  if (version[0] != 1) {
    end_view(unsupported_version("PZX", version[0], version[1]));
    return false;
  }
  return true;
}

void PzxReader::read_data(std::uint32_t size, Tag tag) {
  std::array<std::uint8_t, DATA_FIELDS> f{};
  const std::uint64_t present = std::min<std::uint64_t>(size, DATA_FIELDS);
  if (!take(f.data(), static_cast<std::int32_t>(present))) {
    end_view(TRUNCATED_BLOCK, block_name(tag));
    return;
  }
  const std::uint64_t bits = little_endian(&f[0], 4) & ~LEVEL_BIT;
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
    end_view(TRUNCATED_BLOCK, block_name(tag));
  } else if (!fault.empty()) {
    end_view(fault, block_name(tag));
  } else {
    start_gathered_block(static_cast<std::int32_t>(data_size));
  }
}

} // namespace vetrik
