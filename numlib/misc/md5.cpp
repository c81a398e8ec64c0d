// MD5 (RFC 1321): the compression function, feeding and finishing. Whole
// 64-byte blocks of the input are compressed where they lie; only a partial
// block is copied into the context's buffer.
#include <algorithm>
#include <cstring>

#include "numlib/misc/digest.h"

namespace {

constexpr uint32_t kMd5Init[kMd5StateWords] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
// Where the bit length goes in the last block, and the padding's first byte.
constexpr int kLengthOffset = 56;
constexpr uint8_t kPadByte = 0x80;

// Per-step additive constants: floor(abs(sin(i + 1)) * 2^32).
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void md5_init(Md5Context* m) {
  std::memcpy(m->state, kMd5Init, sizeof m->state);
  m->buffered = 0;
  m->count = 0;
}

void md5_transform(Md5Context* m, const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
  uint32_t a = m->state[0], b = m->state[1], c = m->state[2], d = m->state[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f = 0;
    int g = 0;
    switch (round) {
      case 0: f = (b & c) | (~b & d); g = i; break;
      case 1: f = (d & b) | (~d & c); g = (5 * i + 1) & 15; break;
      case 2: f = b ^ c ^ d; g = (3 * i + 5) & 15; break;
      default: f = c ^ (b | ~d); g = (7 * i) & 15; break;
    }
    const uint32_t t = d;
    d = c;
    c = b;
    b = b + rotl(a + f + kSine[i] + x[g], kShift[round][i & 3]);
    a = t;
  }
  m->state[0] += a;
  m->state[1] += b;
  m->state[2] += c;
  m->state[3] += d;
}

void md5_update(Md5Context* m, const uint8_t* bytes, uint64_t length) {
  m->count += length;
  if (m->buffered > 0) {
    const uint64_t take = std::min<uint64_t>(length, kDigestBlockBytes - m->buffered);
    std::memcpy(m->buffer + m->buffered, bytes, size_t(take));
    m->buffered += uint32_t(take);
    bytes += take;
    length -= take;
    if (m->buffered < kDigestBlockBytes) return;
    md5_transform(m, m->buffer);
    m->buffered = 0;
  }
  for (; length >= kDigestBlockBytes; bytes += kDigestBlockBytes, length -= kDigestBlockBytes)
    md5_transform(m, bytes);
  std::memcpy(m->buffer, bytes, size_t(length));
  m->buffered = uint32_t(length);
}

void md5_final(Md5Context* m) {
  const uint64_t bits = m->count * 8;
  m->buffer[m->buffered++] = kPadByte;
  if (m->buffered > kLengthOffset) {
    std::memset(m->buffer + m->buffered, 0, kDigestBlockBytes - m->buffered);
    md5_transform(m, m->buffer);
    m->buffered = 0;
  }
  std::memset(m->buffer + m->buffered, 0, kLengthOffset - m->buffered);
  for (int i = 0; i < 8; ++i) m->buffer[kLengthOffset + i] = uint8_t(bits >> (8 * i));
  md5_transform(m, m->buffer);
  m->buffered = 0;
}

void md5_hex(const Md5Context* m, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (int w = 0; w < kMd5StateWords; ++w)
    for (int byte = 0; byte < 4; ++byte) {
      const uint32_t v = (m->state[w] >> (8 * byte)) & 0xff;
      *out++ = kDigits[v >> 4];
      *out++ = kDigits[v & 15];
    }
}
