// TAP images for tests.
#include "tests/tape_builder.h"

#include <algorithm>

namespace vetrik::tape {

Bytes block(const Bytes& body) {
  Bytes out;
  const std::size_t length = body.size() + 1;
  out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  out.push_back(static_cast<std::uint8_t>((length >> 8) & 0xFF));
  std::uint8_t checksum = 0;
  for (std::uint8_t b : body) {
    out.push_back(b);
    checksum ^= b;
  }
  out.push_back(checksum);
  return out;
}

Bytes header_block(std::string_view name, std::uint8_t type,
                   std::uint16_t data_length, std::uint16_t parameter1,
                   std::uint16_t parameter2) {
  Bytes body{0x00, type};
  for (std::size_t i = 0; i < 10; ++i) {
    body.push_back(i < name.size() ? static_cast<std::uint8_t>(name[i]) : ' ');
  }
  for (std::uint16_t word : {data_length, parameter1, parameter2}) {
    body.push_back(static_cast<std::uint8_t>(word & 0xFF));
    body.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return block(body);
}

Bytes data_block(const Bytes& payload, std::uint8_t flag) {
  Bytes body{flag};
  body.insert(body.end(), payload.begin(), payload.end());
  return block(body);
}

Bytes tape_file(std::string_view name, const Bytes& payload,
                std::uint8_t type) {
  Bytes out = header_block(name, type,
                           static_cast<std::uint16_t>(payload.size()), 32768);
  append(out, data_block(payload));
  return out;
}

Bytes pattern(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  std::uint32_t x = seed * 2654435761U + 1U;
  for (auto& b : out) {
    x = x * 1103515245U + 12345U;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return out;
}

void append(Bytes& image, const Bytes& tail) {
  image.insert(image.end(), tail.begin(), tail.end());
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    append(out, part);
  }
  return out;
}

Bytes cut(Bytes bytes, std::size_t size) {
  bytes.resize(std::min(size, bytes.size()));
  return bytes;
}

std::vector<Bytes> blocks_of(const Bytes& image) {
  std::vector<Bytes> blocks;
  for (std::size_t at = 0; at + 2 <= image.size();) {
    const std::size_t length = image[at] + image[at + 1] * 0x100U;
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(at + 2);
    blocks.emplace_back(first, first + static_cast<std::ptrdiff_t>(length));
    at += 2 + length;
  }
  return blocks;
}

void set_dword(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

} // namespace vetrik::tape
