// SHA-1 (FIPS 180-1): the compression function, feeding and finishing. Whole
// 64-byte blocks of the input are compressed where they lie; only a partial
// block is copied into the context's buffer.
#include <algorithm>
#include <cstring>

#include "numlib/misc/digest.h"

namespace {

constexpr uint32_t kSha1Init[kSha1StateWords] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u,
                                                 0xc3d2e1f0u};
constexpr uint32_t kRoundConstant[4] = {0x5a827999u, 0x6ed9eba1u, 0x8f1bbcdcu, 0xca62c1d6u};
constexpr int kLengthOffset = 56;
constexpr uint8_t kPadByte = 0x80;
constexpr int kSchedule = 80;

inline uint32_t rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

inline uint32_t load_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

void sha1_init(Sha1Context* s) {
  std::memcpy(s->state, kSha1Init, sizeof s->state);
  s->buffered = 0;
  s->count = 0;
}

void sha1_transform(Sha1Context* s, const uint8_t* block) {
  uint32_t w[kSchedule];
  for (int i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
  for (int i = 16; i < kSchedule; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = s->state[0], b = s->state[1], c = s->state[2], d = s->state[3], e = s->state[4];
  for (int i = 0; i < kSchedule; ++i) {
    const int round = i / 20;
    uint32_t f = 0;
    switch (round) {
      case 0: f = (b & c) | (~b & d); break;
      case 2: f = (b & c) | (b & d) | (c & d); break;
      default: f = b ^ c ^ d; break;
    }
    const uint32_t t = rotl(a, 5) + f + e + kRoundConstant[round] + w[i];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = t;
  }
  s->state[0] += a;
  s->state[1] += b;
  s->state[2] += c;
  s->state[3] += d;
  s->state[4] += e;
}

void sha1_update(Sha1Context* s, const uint8_t* bytes, uint64_t length) {
  s->count += length;
  if (s->buffered > 0) {
    const uint64_t take = std::min<uint64_t>(length, kDigestBlockBytes - s->buffered);
    std::memcpy(s->buffer + s->buffered, bytes, size_t(take));
    s->buffered += uint32_t(take);
    bytes += take;
    length -= take;
    if (s->buffered < kDigestBlockBytes) return;
    sha1_transform(s, s->buffer);
    s->buffered = 0;
  }
  for (; length >= kDigestBlockBytes; bytes += kDigestBlockBytes, length -= kDigestBlockBytes)
    sha1_transform(s, bytes);
  std::memcpy(s->buffer, bytes, size_t(length));
  s->buffered = uint32_t(length);
}

void sha1_final(Sha1Context* s) {
  const uint64_t bits = s->count * 8;
  s->buffer[s->buffered++] = kPadByte;
  if (s->buffered > kLengthOffset) {
    std::memset(s->buffer + s->buffered, 0, kDigestBlockBytes - s->buffered);
    sha1_transform(s, s->buffer);
    s->buffered = 0;
  }
  std::memset(s->buffer + s->buffered, 0, kLengthOffset - s->buffered);
  for (int i = 0; i < 8; ++i) s->buffer[kLengthOffset + i] = uint8_t(bits >> (56 - 8 * i));
  sha1_transform(s, s->buffer);
  s->buffered = 0;
}

void sha1_hex_digest(const Sha1Context* s, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (int w = 0; w < kSha1StateWords; ++w)
    for (int byte = 3; byte >= 0; --byte) {
      const uint32_t v = (s->state[w] >> (8 * byte)) & 0xff;
      *out++ = kDigits[v >> 4];
      *out++ = kDigits[v & 15];
    }
}
