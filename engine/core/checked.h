// Checked numeric helpers used by every subsystem: double-to-integer
// conversions with defined results for NaN, infinities and out-of-range
// values, 64-bit size arithmetic, and memcpy-based loads and stores of the
// words in area memory (one word is read as double, integer, char or header).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tn {

// Conversions reproduce what the original x86 code gave for values the target
// cannot hold: targets of 8 to 32 bits get 0, 64-bit targets get their minimum
// (the "integer indefinite" value). Truncation is toward zero.
inline int32_t dtoi32(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return 0;  // NaN fails both
  return static_cast<int32_t>(x);
}

inline int64_t dtoi64(double x) {
  if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0))
    return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(x);
}

// Truncate through 64 bits and keep the low bits: the wrapping conversion to
// an integer element type. Out-of-range values wrap the 64-bit minimum.
inline uint64_t dto_wrap64(double x) { return static_cast<uint64_t>(dtoi64(x)); }

inline uint32_t dtou32(double x) {
  if (!(x > -1.0 && x < 4294967296.0)) return 0;
  return static_cast<uint32_t>(x);
}

inline int16_t dtoi16(double x) {
  if (!(x > -32769.0 && x < 32768.0)) return 0;
  return static_cast<int16_t>(x);
}

inline int8_t dtoi8(double x) {
  if (!(x > -129.0 && x < 128.0)) return 0;
  return static_cast<int8_t>(x);
}

// True when x is integral and fits a signed 32-bit integer.
inline bool double_is_int32(double x) {
  return x >= -2147483648.0 && x <= 2147483647.0 && std::floor(x) == x;
}

// Rounds halves upward, as floor(x + 0.5) means to. The addition itself
// would round 0.49999999999999994 up to 1 and every odd integer between 2^52
// and 2^53 up by one; x - floor(x) is exact, so the comparison is not.
inline double round_half_up(double x) {
  const double f = std::floor(x);
  return (x - f >= 0.5 ? f + 1 : f) + 0.0;  // + 0.0: -0 becomes 0
}

// Size arithmetic: products and sums of counts are formed in 64 bits before any
// limit test, so no 32-bit wrap can slip past the test.
inline int64_t mul64(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) return std::numeric_limits<int64_t>::max();
  return r;
}

// Loads and stores of area memory. The same word is read as a double, as
// integers of several widths and as 16-bit characters, so every access goes
// through memcpy: no aliasing or alignment assumption is made.
template <typename T>
inline T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
inline void store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

inline uint32_t ld_u32(const void* p) { return load<uint32_t>(p); }
inline int32_t ld_i32(const void* p) { return load<int32_t>(p); }
inline double ld_f64(const void* p) { return load<double>(p); }
inline void st_u32(void* p, uint32_t v) { store(p, v); }
inline void st_i32(void* p, int32_t v) { store(p, v); }
inline void st_f64(void* p, double v) { store(p, v); }

// Little-endian field access for external formats (images, buffers), whatever
// the host's byte order.
inline uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void put_le32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline uint16_t get_le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void put_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace tn
