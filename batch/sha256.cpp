// SHA-256 as FIPS 180-4 gives it.
#include "batch/sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VETRIK_SHA_INSTRUCTIONS 1
#endif

namespace vetrik {

namespace {

constexpr std::array<std::uint32_t, 64> ROUND = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotate(std::uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

#ifdef VETRIK_SHA_INSTRUCTIONS

// Whether the processor has the SHA instructions (and the SSE4.1 and SSSE3
// ones the rounds need around them).
bool has_sha_instructions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & (1U << 19)) == 0 ||
      (c & (1U << 9)) == 0) {
    return false;
  }
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & (1U << 29)) != 0;
}

// One block by the SHA instructions: the state kept as ABEF and CDGH, the
// message four words at a time.
__attribute__((target("sha,sse4.1,ssse3"))) void
compress_by_instructions(std::uint32_t* state, const std::uint8_t* block) {
  const __m128i order =
      _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  t = _mm_shuffle_epi32(t, 0xB1);
  s1 = _mm_shuffle_epi32(s1, 0x1B);
  __m128i s0 = _mm_alignr_epi8(t, s1, 8);
  s1 = _mm_blend_epi16(s1, t, 0xF0);
  const __m128i abef = s0, cdgh = s1;
  __m128i w[4];
  for (int i = 0; i < 16; ++i) {
    if (i < 4) {
      w[i] = _mm_shuffle_epi8(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)),
          order);
    } else {
      w[i % 4] = _mm_sha256msg2_epu32(
          _mm_add_epi32(_mm_sha256msg1_epu32(w[i % 4], w[(i + 1) % 4]),
                        _mm_alignr_epi8(w[(i + 3) % 4], w[(i + 2) % 4], 4)),
          w[(i + 3) % 4]);
    }
    __m128i m = _mm_add_epi32(
        w[i % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                      ROUND.data() + 4 * static_cast<std::size_t>(i))));
    s1 = _mm_sha256rnds2_epu32(s1, s0, m);
    m = _mm_shuffle_epi32(m, 0x0E);
    s0 = _mm_sha256rnds2_epu32(s0, s1, m);
  }
  s0 = _mm_add_epi32(s0, abef);
  s1 = _mm_add_epi32(s1, cdgh);
  t = _mm_shuffle_epi32(s0, 0x1B);
  s1 = _mm_shuffle_epi32(s1, 0xB1);
  s0 = _mm_blend_epi16(t, s1, 0xF0);
  s1 = _mm_alignr_epi8(s1, t, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), s0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), s1);
}

const bool SHA_INSTRUCTIONS = has_sha_instructions();

#endif

} // namespace

Sha256::Sha256(bool by_instructions)
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      by_instructions_(by_instructions) {}

void Sha256::compress(const std::uint8_t* block) {
#ifdef VETRIK_SHA_INSTRUCTIONS
  if (SHA_INSTRUCTIONS && by_instructions_) {
    compress_by_instructions(state_.data(), block);
    return;
  }
#endif
  std::array<std::uint32_t, 64> w{};
  for (std::size_t i = 0; i < 16; ++i) {
    w[i] = std::uint32_t{block[4 * i]} << 24 |
           std::uint32_t{block[4 * i + 1]} << 16 |
           std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
  }
  for (std::size_t i = 16; i < 64; ++i) {
    const std::uint32_t s0 =
        rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 =
        rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::array<std::uint32_t, 8> v = state_;
  for (std::size_t i = 0; i < 64; ++i) {
    const std::uint32_t s1 =
        rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25);
    const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choice + ROUND[i] + w[i];
    const std::uint32_t s0 =
        rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22);
    const std::uint32_t major = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    const std::uint32_t t2 = s0 + major;
    v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
  }
  for (std::size_t i = 0; i < 8; ++i) {
    state_[i] += v[i];
  }
}

void Sha256::update(std::span<const std::uint8_t> bytes) {
  length_ += bytes.size();
  std::size_t at = 0;
  if (pending_size_ > 0) {
    const std::size_t n = std::min(bytes.size(), 64 - pending_size_);
    std::memcpy(pending_.data() + pending_size_, bytes.data(), n);
    pending_size_ += n;
    at = n;
    if (pending_size_ < 64) {
      return;
    }
    compress(pending_.data());
    pending_size_ = 0;
  }
  for (; at + 64 <= bytes.size(); at += 64) {
    compress(bytes.data() + at);
  }
  pending_size_ = bytes.size() - at;
  if (pending_size_ > 0) {
    std::memcpy(pending_.data(), bytes.data() + at, pending_size_);
  }
}

std::string Sha256::hex() {
  // The message, a 1 bit, zeros up to 8 bytes short of a block, and its
  // length in bits.
  const std::uint64_t bits = length_ * 8;
  const std::uint8_t one = 0x80;
  update({&one, 1});
  const std::uint8_t zero = 0;
  while (pending_size_ != 56) {
    update({&zero, 1});
  }
  std::array<std::uint8_t, 8> length{};
  for (std::size_t i = 0; i < 8; ++i) {
    length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  }
  update(length);
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (const std::uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      text += DIGITS[(word >> shift) & 0xF];
    }
  }
  return text;
}

} // namespace vetrik
