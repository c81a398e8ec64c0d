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

inline uint32_t rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

// One step: a = b + ((a + f(b, c, d) + word + constant) <<< shift).
inline void round_f(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t w, int s, uint32_t k) {
  a = b + rotl(a + ((b & c) | (~b & d)) + w + k, s);
}
inline void round_g(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t w, int s, uint32_t k) {
  a = b + rotl(a + ((d & b) | (~d & c)) + w + k, s);
}
inline void round_h(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t w, int s, uint32_t k) {
  a = b + rotl(a + (b ^ c ^ d) + w + k, s);
}
inline void round_i(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t w, int s, uint32_t k) {
  a = b + rotl(a + (c ^ (b | ~d)) + w + k, s);
}

inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void md5_init(Md5Context* m) {
  std::memcpy(m->state, kMd5Init, sizeof m->state);
  m->buffered = 0;
  m->count = 0;
}

// Written out step by step: this is the hot loop of hashing a stream, and the
// unrolled form lets the compiler keep the state in registers.
void md5_transform(Md5Context* m, const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
  uint32_t a = m->state[0], b = m->state[1], c = m->state[2], d = m->state[3];
  round_f(a, b, c, d, x[0], 7, kSine[0]);
  round_f(d, a, b, c, x[1], 12, kSine[1]);
  round_f(c, d, a, b, x[2], 17, kSine[2]);
  round_f(b, c, d, a, x[3], 22, kSine[3]);
  round_f(a, b, c, d, x[4], 7, kSine[4]);
  round_f(d, a, b, c, x[5], 12, kSine[5]);
  round_f(c, d, a, b, x[6], 17, kSine[6]);
  round_f(b, c, d, a, x[7], 22, kSine[7]);
  round_f(a, b, c, d, x[8], 7, kSine[8]);
  round_f(d, a, b, c, x[9], 12, kSine[9]);
  round_f(c, d, a, b, x[10], 17, kSine[10]);
  round_f(b, c, d, a, x[11], 22, kSine[11]);
  round_f(a, b, c, d, x[12], 7, kSine[12]);
  round_f(d, a, b, c, x[13], 12, kSine[13]);
  round_f(c, d, a, b, x[14], 17, kSine[14]);
  round_f(b, c, d, a, x[15], 22, kSine[15]);
  round_g(a, b, c, d, x[1], 5, kSine[16]);
  round_g(d, a, b, c, x[6], 9, kSine[17]);
  round_g(c, d, a, b, x[11], 14, kSine[18]);
  round_g(b, c, d, a, x[0], 20, kSine[19]);
  round_g(a, b, c, d, x[5], 5, kSine[20]);
  round_g(d, a, b, c, x[10], 9, kSine[21]);
  round_g(c, d, a, b, x[15], 14, kSine[22]);
  round_g(b, c, d, a, x[4], 20, kSine[23]);
  round_g(a, b, c, d, x[9], 5, kSine[24]);
  round_g(d, a, b, c, x[14], 9, kSine[25]);
  round_g(c, d, a, b, x[3], 14, kSine[26]);
  round_g(b, c, d, a, x[8], 20, kSine[27]);
  round_g(a, b, c, d, x[13], 5, kSine[28]);
  round_g(d, a, b, c, x[2], 9, kSine[29]);
  round_g(c, d, a, b, x[7], 14, kSine[30]);
  round_g(b, c, d, a, x[12], 20, kSine[31]);
  round_h(a, b, c, d, x[5], 4, kSine[32]);
  round_h(d, a, b, c, x[8], 11, kSine[33]);
  round_h(c, d, a, b, x[11], 16, kSine[34]);
  round_h(b, c, d, a, x[14], 23, kSine[35]);
  round_h(a, b, c, d, x[1], 4, kSine[36]);
  round_h(d, a, b, c, x[4], 11, kSine[37]);
  round_h(c, d, a, b, x[7], 16, kSine[38]);
  round_h(b, c, d, a, x[10], 23, kSine[39]);
  round_h(a, b, c, d, x[13], 4, kSine[40]);
  round_h(d, a, b, c, x[0], 11, kSine[41]);
  round_h(c, d, a, b, x[3], 16, kSine[42]);
  round_h(b, c, d, a, x[6], 23, kSine[43]);
  round_h(a, b, c, d, x[9], 4, kSine[44]);
  round_h(d, a, b, c, x[12], 11, kSine[45]);
  round_h(c, d, a, b, x[15], 16, kSine[46]);
  round_h(b, c, d, a, x[2], 23, kSine[47]);
  round_i(a, b, c, d, x[0], 6, kSine[48]);
  round_i(d, a, b, c, x[7], 10, kSine[49]);
  round_i(c, d, a, b, x[14], 15, kSine[50]);
  round_i(b, c, d, a, x[5], 21, kSine[51]);
  round_i(a, b, c, d, x[12], 6, kSine[52]);
  round_i(d, a, b, c, x[3], 10, kSine[53]);
  round_i(c, d, a, b, x[10], 15, kSine[54]);
  round_i(b, c, d, a, x[1], 21, kSine[55]);
  round_i(a, b, c, d, x[8], 6, kSine[56]);
  round_i(d, a, b, c, x[15], 10, kSine[57]);
  round_i(c, d, a, b, x[6], 15, kSine[58]);
  round_i(b, c, d, a, x[13], 21, kSine[59]);
  round_i(a, b, c, d, x[4], 6, kSine[60]);
  round_i(d, a, b, c, x[11], 10, kSine[61]);
  round_i(c, d, a, b, x[2], 15, kSine[62]);
  round_i(b, c, d, a, x[9], 21, kSine[63]);
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
