// Models of what the file-reading target's checked steps must give, written
// from the rules of the conversions rather than from the engine's code: the
// scan of sscanf and fscanf (a float's digits handed to the C library's
// correctly rounded strtod, integers beyond 64 bits held loosely), and fread
// of every precision and size form over the bytes a stream delivers. A model
// result is what the target's ZVR helper prints: class, size, the values as
// doubles, the count and the position.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace filemodel {

struct Result {
  int status = 0;  // the step's status; nothing is printed unless 0
  std::string cls = "double";
  int64_t rows = 0, cols = 0;
  std::vector<double> values;
  std::vector<bool> loose;  // a value only known to about twelve digits
  int64_t count = 0, pos = -1;
  // A read asking for more than the data stack may hold: "Data stack
  // overflow" (3) is as good an answer as the values.
  bool room_may_fail = false;
};

// --- Scanning ----------------------------------------------------------------

inline bool blank(int ch) { return ch == ' ' || ch == '\t'; }
inline int digit_of(int ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 10;
  return 99;
}

struct Scanner {
  const std::vector<int>& t;
  size_t pos = 0;
  Result r;
  bool numeric = false;

  explicit Scanner(const std::vector<int>& text) : t(text) {}
  int at(size_t p) const { return p < t.size() ? t[p] : -1; }
  void skip() {
    while (pos < t.size() && blank(t[pos])) ++pos;
  }
  void keep(double v, bool is_loose = false) {
    r.values.push_back(v);
    r.loose.push_back(is_loose);
  }

  // An integer field: false when it holds no digit.
  bool integer(int letter, size_t end, bool suppress) {
    size_t p = pos;
    bool negative = false;
    if ((letter == 'd' || letter == 'i') && p < end && (t[p] == '-' || t[p] == '+')) negative = t[p++] == '-';
    int base = letter == 'o' ? 8 : letter == 'x' ? 16 : 10;
    if (letter == 'i' && p < end && t[p] == '0') {
      const int mark = p + 1 < end ? t[p + 1] : -1;
      const bool next_hex = p + 2 < end && digit_of(t[p + 2]) < 16;
      const bool next_bin = p + 2 < end && digit_of(t[p + 2]) < 2;
      if ((mark == 'x' || mark == 'X') && next_hex) base = 16, p += 2;
      else if ((mark == 'b' || mark == 'B') && next_bin) base = 2, p += 2;
      else base = 8;
    }
    std::string digits;
    long double v = 0;
    for (; p < end && digit_of(t[p]) < base; ++p) {
      digits += char(t[p]);
      v = v * base + digit_of(t[p]);
    }
    if (digits.empty()) return false;
    pos = p;
    double value = base == 10 ? std::strtod(digits.c_str(), nullptr) : double(v);
    const bool wide = v >= 18446744073709551616.0L;  // past 64 bits the engine may round per digit
    if (!suppress) keep(negative ? -value : value, wide);
    return true;
  }

  // A float field: sign, digits, point, digits, and an exponent when a digit
  // follows its letter (and sign).
  bool floating(size_t end, bool suppress) {
    size_t p = pos;
    bool negative = false;
    if (p < end && (t[p] == '-' || t[p] == '+')) negative = t[p++] == '-';
    if (!(p < end && (digit_of(t[p]) < 10 || t[p] == '.'))) return false;
    std::string text = "0";
    for (; p < end && digit_of(t[p]) < 10; ++p) text += char(t[p]);
    if (p < end && t[p] == '.') {
      text += '.';
      for (++p; p < end && digit_of(t[p]) < 10; ++p) text += char(t[p]);
    }
    if (p < end && (t[p] == 'e' || t[p] == 'E')) {
      size_t q = p + 1;
      std::string exponent = "e";
      if (q < end && (t[q] == '-' || t[q] == '+')) exponent += char(t[q++]);
      if (q < end && digit_of(t[q]) < 10) {
        for (; q < end && digit_of(t[q]) < 10; ++q) exponent += char(t[q]);
        text += exponent;
        p = q;
      }
    }
    const double v = std::strtod(text.c_str(), nullptr);
    pos = p;
    if (!suppress) keep(negative ? -v : v);
    return true;
  }

  // One conversion; false when it fails and the scan ends.
  bool convert(int letter, bool suppress, size_t width) {
    if (letter == '%') {
      if (at(pos) != '%') return false;
      ++pos;
      return true;
    }
    if (letter == 'c') {
      if (pos >= t.size()) return false;
      if (!suppress) keep(t[pos]);
      ++pos;
      ++r.count;
      return true;
    }
    const std::string known = "sdioxefg";
    if (letter < 0 || known.find(char(letter)) == std::string::npos) return true;  // skipped
    skip();
    const size_t end = width > 0 && width < t.size() - pos ? pos + width : t.size();
    if (letter == 's') {
      if (pos >= end || blank(t[pos])) return false;
      for (; pos < end && !blank(t[pos]); ++pos)
        if (!suppress) keep(t[pos]);
      ++r.count;
      return true;
    }
    const bool ok = letter == 'e' || letter == 'f' || letter == 'g' ? floating(end, suppress) : integer(letter, end, suppress);
    if (!ok) return false;
    numeric = true;
    ++r.count;
    return true;
  }
};

// The scan of `text` (character codes) by `format` (bytes).
inline Result scan(const std::vector<int>& text, const std::string& format) {
  Scanner s(text);
  const size_t n = format.size();
  if (n > 0) {
    for (;;) {
      const size_t start = s.pos;
      bool ended = false;
      for (size_t i = 0; i < n && !ended;) {
        const int ch = uint8_t(format[i]);
        if (blank(ch)) {
          s.skip();
          ++i;
        } else if (ch != '%' || i + 1 == n) {
          if (s.at(s.pos) == ch) ++s.pos, ++i;
          else ended = true;
        } else {
          ++i;
          const bool suppress = format[i] == '*';
          if (suppress) ++i;
          size_t width = 0;
          for (; i < n && digit_of(uint8_t(format[i])) < 10; ++i) width = std::min<size_t>(width * 10 + size_t(format[i] - '0'), 1u << 30);
          if (i >= n) break;
          ended = !s.convert(uint8_t(format[i++]), suppress, width);
        }
      }
      if (ended || s.pos >= text.size() || s.pos == start) break;
    }
  }
  Result& r = s.r;
  r.pos = int64_t(s.pos);
  const int64_t k = int64_t(r.values.size());
  if (k == 0) return r;
  r.cls = s.numeric ? "double" : "char";
  r.rows = s.numeric ? k : 1;
  r.cols = s.numeric ? 1 : k;
  return r;
}

// --- Reading bytes -----------------------------------------------------------

struct Type {
  const char* name;
  int size;
  bool is_unsigned, is_char, is_float;
};
// The twelve base names; each also with ";l" (the machine's order) and ";b".
constexpr Type kTypes[12] = {
    {"int8", 1, false, false, false},  {"int16", 2, false, false, false}, {"int32", 4, false, false, false},
    {"int64", 8, false, false, false}, {"uint8", 1, true, false, false},  {"uint16", 2, true, false, false},
    {"uint32", 4, true, false, false}, {"uint64", 8, true, false, false}, {"char", 1, false, true, false},
    {"uchar", 1, true, true, false},   {"single", 4, false, false, true}, {"double", 8, false, false, true},
};
constexpr int kPrecisions = 36;
inline const Type& type_of(int precision) { return kTypes[precision % 12]; }
inline bool big_endian(int precision) { return precision / 12 == 2; }
inline std::string precision_name(int precision) {
  static const char* const suffix[3] = {"", ";l", ";b"};
  return std::string(type_of(precision).name) + suffix[precision / 12];
}

// One element's value from its bytes, in the file's order.
inline double decode(const uint8_t* e, int precision) {
  const Type& t = type_of(precision);
  uint8_t b[8];
  for (int i = 0; i < t.size; ++i) b[i] = big_endian(precision) ? e[t.size - 1 - i] : e[i];
  uint64_t u = 0;
  for (int i = t.size - 1; i >= 0; --i) u = u << 8 | b[i];
  if (t.is_float) {
    if (t.size == 8) {
      double d;
      std::memcpy(&d, &u, 8);
      return d;
    }
    float f;
    const uint32_t w = uint32_t(u);
    std::memcpy(&f, &w, 4);
    return double(f);
  }
  if (t.is_unsigned) return double(u);
  const int shift = 64 - 8 * t.size;
  return double(int64_t(u << shift) >> shift);
}

// The bytes of one element of value v (an integer in range, or any double).
inline void encode(double v, int precision, uint8_t* out) {
  const Type& t = type_of(precision);
  uint64_t u = 0;
  if (t.is_float && t.size == 8) std::memcpy(&u, &v, 8);
  else if (t.is_float) {
    const float f = float(v);
    uint32_t w;
    std::memcpy(&w, &f, 4);
    u = w;
  } else {
    u = t.is_unsigned ? uint64_t(v) : uint64_t(int64_t(v));
  }
  for (int i = 0; i < t.size; ++i) out[big_endian(precision) ? t.size - 1 - i : i] = uint8_t(u >> (8 * i));
}

// How a read is sized: all of it, n rows, or [m n] (m may be Inf).
struct Size {
  bool all = true;
  bool columns_given = false;
  int64_t rows = 0, cols = 1;
};

// fread(f, size, [*]precision) with `left` the bytes still to come; [r, n].
inline Result fread(const std::vector<uint8_t>& left, const Size& size, int precision, bool star) {
  Result r;
  const Type& t = type_of(precision);
  r.count = 0;
  if (size.cols == 0 || (!size.all && size.rows == 0)) return r;  // the empty matrix
  const uint64_t want = size.all ? UINT64_MAX : uint64_t(size.rows * size.cols) * uint64_t(t.size);
  const uint64_t bytes = std::min<uint64_t>(want, left.size());
  const uint64_t held = star ? (t.is_char ? 2 : uint64_t(t.size)) : 8;  // each element's room in the result
  r.room_may_fail = !size.all && uint64_t(size.rows * size.cols) * (uint64_t(t.size) + held) > (64u << 10);
  if (bytes == 0) {
    r.status = 305;  // the end of the file, nothing read
    return r;
  }
  r.rows = int64_t(bytes / uint64_t(size.cols * t.size));
  r.cols = size.cols;
  const int64_t n = r.rows * r.cols;
  r.count = n;
  r.cls = !star || (t.is_float && t.size == 8) ? "double" : t.name;
  if (star && t.is_char) {
    r.cls = "char";
    if (!size.columns_given) r.rows = 1, r.cols = n;
  }
  // Fewer bytes than a row: the stack's shape rules make every empty array
  // 0 x 0, whatever its class (a 0 x n int32 or 1 x 0 char is pushed as 0 x 0).
  if (n == 0) r.rows = r.cols = 0;
  for (int64_t i = 0; i < n; ++i) {
    const uint8_t* e = left.data() + i * t.size;
    // A char array holds each byte as its code, whatever the signedness.
    r.values.push_back(star && t.is_char ? double(e[0]) : decode(e, precision));
    r.loose.push_back(false);
  }
  return r;
}

// Whether the engine's printed result matches the model.
inline bool same_value(double got, double want, bool loose) {
  if (std::isnan(want)) return std::isnan(got);
  if (!loose) return std::memcmp(&got, &want, 8) == 0;
  if (std::isinf(got) || std::isinf(want)) return std::fabs(got) > 1e307 && std::fabs(want) > 1e307 && (got > 0) == (want > 0);
  return std::fabs(got - want) <= 1e-12 * std::fabs(want);
}

}  // namespace filemodel
