// SHA-1 (FIPS 180-1): the compression function, feeding and finishing. Whole
// 64-byte blocks of the input are compressed where they lie; only a partial
// block is copied into the context's buffer.
#include <algorithm>
#include <cstring>

#include "numlib/misc/digest.h"
#include "numlib/misc/sha1_blocks.h"

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

// The schedule is kept as a 16-word ring and the rounds written in groups of
// five, so that the state needs no shuffling: the hot loop of a stream.
void sha1_transform(Sha1Context* s, const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
  uint32_t a = s->state[0], b = s->state[1], c = s->state[2], d = s->state[3], e = s->state[4];
  auto word = [&w](int i) -> uint32_t {
    if (i < 16) return w[i];
    const uint32_t v = rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
    w[i & 15] = v;
    return v;
  };
  auto step = [&](int i, uint32_t& va, uint32_t& vb, uint32_t& vc, uint32_t& vd, uint32_t& ve) {
    uint32_t f;
    if (i < 20) f = (vb & vc) | (~vb & vd);
    else if (i < 40) f = vb ^ vc ^ vd;
    else if (i < 60) f = (vb & vc) | (vb & vd) | (vc & vd);
    else f = vb ^ vc ^ vd;
    ve += rotl(va, 5) + f + kRoundConstant[i / 20] + word(i);
    vb = rotl(vb, 30);
  };
  for (int i = 0; i < kSchedule; i += 5) {
    step(i, a, b, c, d, e);
    step(i + 1, e, a, b, c, d);
    step(i + 2, d, e, a, b, c);
    step(i + 3, c, d, e, a, b);
    step(i + 4, b, c, d, e, a);
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
  const uint64_t blocks = length / kDigestBlockBytes;
  if (blocks > 0 && sha1_blocks_hw_available()) {
    sha1_blocks_hw(s->state, bytes, blocks);
    bytes += blocks * kDigestBlockBytes;
    length -= blocks * kDigestBlockBytes;
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
