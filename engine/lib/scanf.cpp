// The scan engine behind sscanf and fscanf: reads values out of 16-bit text
// by a format, stores them as doubles straight into the free data space, and
// applies the format again while text remains. A pass over the format that
// consumes no text ends the scan, so no format can loop.
#include <cstdint>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/printf.h"

namespace {

// Significant digits kept for a correctly rounded value (more never change it).
constexpr int32_t kMaxSignificant = 800;
constexpr int64_t kExponentSaturation = 100000;
constexpr int32_t kWidthSaturation = 1 << 30;
// Room for "0.", the digits, a sticky digit, 'e' and a 64-bit exponent.
constexpr int32_t kNormalBytes = kMaxSignificant + 40;
// Descriptor words left free below the line that fscanf reads into the
// descriptor stack: the results are pushed there.
constexpr int32_t kLineDescReserve = 16;
constexpr int kMaxScanResults = 3;

constexpr int kNotADigit = 99;

bool is_blank(uint16_t ch) { return ch == ' ' || ch == '\t'; }
bool is_digit(uint16_t ch) { return ch >= '0' && ch <= '9'; }
int digit_value(uint16_t ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return kNotADigit;
}

struct Scan {
  const uint16_t* text;
  int32_t length;
  int32_t pos;
  uint8_t* values;  // doubles, in the free data space
  int64_t n;
  int64_t room;     // values that fit
  int32_t conversions;
  bool numeric;
};

void skip_blanks(Scan& s) {
  while (s.pos < s.length && is_blank(s.text[s.pos])) ++s.pos;
}

// The end of a field of at most width characters (0: unlimited) from pos.
int32_t field_end(const Scan& s, int32_t width) {
  return width > 0 && width < s.length - s.pos ? s.pos + width : s.length;
}

// Digits of base from *p up to end. The value is exact while it fits 64 bits
// and rounded once there; beyond it every further digit rounds again.
int64_t read_digits(const uint16_t* t, int32_t end, int32_t* p, int base, double* v) {
  int64_t k = 0;
  uint64_t exact = 0;
  bool wide = false;
  double value = 0;
  for (; *p < end; ++*p, ++k) {
    const int d = digit_value(t[*p]);
    if (d >= base) break;
    if (!wide && exact > (UINT64_MAX - uint64_t(d)) / uint64_t(base)) {
      wide = true;
      value = double(exact);
    }
    if (wide) value = value * base + d;
    else exact = exact * uint64_t(base) + uint64_t(d);
  }
  *v = wide ? value : double(exact);
  return k;
}

bool digit_follows(const uint16_t* t, int32_t at, int32_t end, int base) {
  return at < end && digit_value(t[at]) < base;
}

// 'd', 'i', 'o' and 'x'. False when no digit is found.
bool scan_integer(Scan& s, uint16_t letter, int32_t width, double* out) {
  const uint16_t* t = s.text;
  const int32_t end = field_end(s, width);
  int32_t p = s.pos;
  bool negative = false;
  if ((letter == 'd' || letter == 'i') && p < end && (t[p] == '-' || t[p] == '+'))
    negative = t[p++] == '-';
  int base = letter == 'o' ? 8 : letter == 'x' ? 16 : 10;
  if (letter == 'i' && p < end && t[p] == '0') {
    const uint16_t mark = p + 1 < end ? t[p + 1] : 0;
    if ((mark == 'x' || mark == 'X') && digit_follows(t, p + 2, end, 16)) {
      base = 16;
      p += 2;
    } else if ((mark == 'b' || mark == 'B') && digit_follows(t, p + 2, end, 2)) {
      base = 2;
      p += 2;
    } else {
      base = 8;  // the leading '0' is read as an octal digit
    }
  }
  double v = 0;
  if (read_digits(t, end, &p, base, &v) == 0) return false;
  s.pos = p;
  *out = negative ? -v : v;
  return true;
}

// 'e', 'f' and 'g': sign, digits, point, digits, exponent. The digits are
// reduced to "0.<significant digits>e<point>" and read by the engine's
// scanner, which gives the double nearest the text.
bool scan_float(Scan& s, int32_t width, double* out) {
  const uint16_t* t = s.text;
  const int32_t end = field_end(s, width);
  int32_t p = s.pos;
  bool negative = false;
  if (p < end && (t[p] == '-' || t[p] == '+')) negative = t[p++] == '-';
  if (!(p < end && (is_digit(t[p]) || t[p] == '.'))) return false;

  char norm[kNormalBytes];
  int32_t nsig = 0;
  bool dropped_nonzero = false;
  int64_t point = 0;
  auto take = [&](uint16_t ch, bool fraction) {
    if (nsig == 0 && ch == '0') {
      if (fraction) --point;
      return;
    }
    if (nsig < kMaxSignificant) norm[2 + nsig++] = char(ch);
    else if (ch != '0') dropped_nonzero = true;
    if (!fraction) ++point;
  };
  while (p < end && is_digit(t[p])) take(t[p++], false);
  if (p < end && t[p] == '.') {
    ++p;
    while (p < end && is_digit(t[p])) take(t[p++], true);
  }
  // An exponent needs a digit; otherwise the 'e' stays unread.
  if (p < end && (t[p] == 'e' || t[p] == 'E')) {
    int32_t q = p + 1;
    bool exp_negative = false;
    if (q < end && (t[q] == '-' || t[q] == '+')) exp_negative = t[q++] == '-';
    if (q < end && is_digit(t[q])) {
      int64_t exp = 0;
      for (; q < end && is_digit(t[q]); ++q)
        if (exp < kExponentSaturation) exp = exp * 10 + (t[q] - '0');
      point += exp_negative ? -exp : exp;
      p = q;
    }
  }
  double v = 0;
  if (nsig > 0) {
    if (dropped_nonzero) norm[2 + nsig++] = '1';  // stands for the dropped tail in rounding
    norm[0] = '0';
    norm[1] = '.';
    int32_t n = 2 + nsig;
    norm[n++] = 'e';
    fmt_int64_dec(norm, &n, point, false, 0, false, false, false, 1, kNormalBytes);
    scan_number(norm, n, nullptr, &v);
  }
  s.pos = p;
  *out = negative ? -v : v;
  return true;
}

int store(Scan& s, double v) {
  if (s.n >= s.room) return kDataStackOverflow;
  tn::st_f64(s.values + 8 * s.n, v);
  ++s.n;
  return kOk;
}

// One conversion; *ended when it fails and the scan stops.
int convert(Scan& s, uint16_t letter, bool suppress, int32_t width, bool* ended) {
  switch (letter) {
    case '%':
      if (s.pos < s.length && s.text[s.pos] == '%') ++s.pos;
      else *ended = true;
      return kOk;
    case 'c': case 's': case 'd': case 'i': case 'o': case 'x': case 'e': case 'f': case 'g':
      break;
    default:
      return kOk;  // an unknown letter is skipped, and only the letter
  }
  if (s.n >= s.room) return kDataStackOverflow;
  if (letter == 'c') {
    if (s.pos >= s.length) {
      *ended = true;
      return kOk;
    }
    const uint16_t ch = s.text[s.pos++];
    if (!suppress) TN_TRY(store(s, ch));
    ++s.conversions;
    return kOk;
  }
  skip_blanks(s);
  if (letter == 's') {
    const int32_t end = field_end(s, width);
    if (s.pos >= end || is_blank(s.text[s.pos])) {
      *ended = true;
      return kOk;
    }
    for (; s.pos < end && !is_blank(s.text[s.pos]); ++s.pos)
      if (!suppress) TN_TRY(store(s, s.text[s.pos]));
    ++s.conversions;
    return kOk;
  }
  double v = 0;
  const bool ok = letter == 'e' || letter == 'f' || letter == 'g'
                      ? scan_float(s, width, &v)
                      : scan_integer(s, letter, width, &v);
  if (!ok) {
    *ended = true;
    return kOk;
  }
  if (!suppress) TN_TRY(store(s, v));
  s.numeric = true;
  ++s.conversions;
  return kOk;
}

int run_scan(Scan& s, const uint16_t* f, int64_t flen) {
  for (;;) {
    const int32_t pass_start = s.pos;
    bool ended = false;
    for (int64_t i = 0; i < flen && !ended;) {
      const uint16_t ch = f[i];
      if (is_blank(ch)) {
        skip_blanks(s);
        ++i;
        continue;
      }
      if (ch != '%' || i + 1 == flen) {
        if (s.pos < s.length && s.text[s.pos] == ch) {
          ++s.pos;
          ++i;
        } else {
          ended = true;
        }
        continue;
      }
      ++i;
      const bool suppress = f[i] == '*';
      if (suppress) ++i;
      int32_t width = 0;
      for (; i < flen && is_digit(f[i]); ++i)
        width = width < kWidthSaturation / 10 ? width * 10 + (f[i] - '0') : kWidthSaturation;
      if (i >= flen) break;
      const uint16_t letter = f[i++];
      TN_TRY(convert(s, letter, suppress, width, &ended));
    }
    if (ended || s.pos >= s.length || s.pos == pass_start) return kOk;
  }
}

// The values already lie where the result's data go: a column in place, or a
// char row whose codes are moved clear of the row before it is pushed.
int push_values(EngineContext* ctx, const Scan& s) {
  if (s.n == 0) return stk_push_empty(ctx);
  const auto n = int32_t(s.n);
  if (s.numeric) {
    double* re = nullptr;
    return stk_push_matrix(ctx, n, 1, &re, nullptr);  // re is s.values
  }
  const int64_t code_words = (2 * int64_t(n) + 7) / 8;
  const int64_t row_words = typed_header_bytes(2) / 8 + code_words;
  if (row_words + code_words > data_free_words(ctx)) return kDataStackOverflow;
  uint8_t* v = s.values;
  for (int32_t i = 0; i < n; ++i)  // 2i <= 8i: no value is overwritten before it is read
    tn::store<uint16_t>(v + 2 * i, uint16_t(tn::dtoi32(tn::ld_f64(v + 8 * i))));
  uint8_t* codes = v + 8 * row_words;
  std::memmove(codes, v, size_t(n) * 2);
  uint16_t* row = nullptr;
  TN_TRY(stk_push_char_row(ctx, n, &row));
  std::memcpy(row, codes, size_t(n) * 2);
  return kOk;
}

void drop_items(EngineContext* ctx, int count) {
  for (int k = 0; k < count && stk_item_count(ctx) > 0; ++k) stk_drop(ctx);
}

}  // namespace

int scan_result_count(int nargout) {
  return nargout >= kMaxScanResults ? kMaxScanResults : nargout >= 2 ? 2 : 1;
}

int scan_engine(EngineContext* ctx, const uint16_t* text, int32_t length, int nargout) {
  if (!stk_is_char(ctx, 0)) return kBadArgument;
  TypedView f;
  if (!typed_view(ctx, 0, &f)) return kBadArgument;
  const auto* format = reinterpret_cast<const uint16_t*>(f.elems);

  // The count and the position lie below the values: the position deepest.
  const int results = scan_result_count(nargout);
  const int pushed = results - 1;
  for (int k = 0; k < pushed; ++k) {
    const int status = stk_push_real(ctx, 0);
    if (status != kOk) {
      drop_items(ctx, k);
      return status;
    }
  }

  Scan s{text, length < 0 ? 0 : length, 0,
         reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_top), 0, data_free_words(ctx),
         0, false};
  int status = run_scan(s, format, f.count);
  if (status == kOk) status = push_values(ctx, s);
  if (status != kOk) {
    drop_items(ctx, pushed);
    return status;
  }
  if (results >= 2) tn::st_f64(item_data(ctx, 1), s.conversions);
  if (results >= 3) tn::st_f64(item_data(ctx, 2), s.pos);
  return kOk;
}

int io_read_line(EngineContext* ctx, int32_t fd, bool drop, uint16_t* buffer, int32_t already,
                 int32_t capacity, int32_t* count) {
  *count = 0;
  if (capacity < 1) return kOk;
  if (already < 0) already = 0;
  if (already > capacity) already = capacity;
  const CharsetFn decode = ctx->charset[kCharsetDecode];
  // With a decoder the bytes go to the upper half and are decoded into the
  // lower half; each character takes at least one byte, so none is
  // overwritten before it is read.
  uint8_t* bytes = reinterpret_cast<uint8_t*>(buffer) + (decode ? capacity : 0);
  int32_t got = 0;
  int status = kOk;
  if (already < capacity)
    status = io_read(ctx, fd, reinterpret_cast<char*>(bytes) + already, capacity - already, 1,
                     &got);
  const int32_t nbytes = already + (got > 0 ? got : 0);
  if (status == kWaitRetry) {
    *count = nbytes;
    return status;
  }
  if (status == kEndOfFile) status = kOk;  // the line so far is the line
  TN_TRY(status);

  int32_t n = 0;
  if (decode) {
    for (int32_t p = 0; p < nbytes;) {
      const int32_t at = p;
      uint16_t ch = 0;
      if (!decode(bytes, &ch, &p, nbytes)) ch = bytes[at];  // an undecodable byte stays itself
      if (p <= at) p = at + 1;
      buffer[n++] = ch;
    }
  } else {
    for (int32_t i = nbytes - 1; i >= 0; --i) buffer[i] = bytes[i];  // widened in place, last first
    n = nbytes;
  }
  if (drop && n > 0 && buffer[n - 1] == '\n') --n;
  *count = n;
  return kOk;
}

int bi_sscanf(EngineContext* ctx, int nargin, int nargout) {
  if (nargin != 2) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  TN_TRY(stk_argcheck(ctx, 2, "SS"));
  TypedView t;
  if (!typed_view(ctx, 1, &t)) return kWrongArgType;
  TN_TRY(scan_engine(ctx, reinterpret_cast<const uint16_t*>(t.elems), int32_t(t.count), nargout));
  return stk_remove(ctx, scan_result_count(nargout), 2);
}

int bi_fscanf(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  int32_t fd = kFdStdin;
  if (nargin == 2) {
    double v = 0;
    TN_TRY(stk_get_real_scalar(ctx, 1, &v));
    fd = tn::dtoi32(v);
  }
  if (!stk_is_char(ctx, 0)) return kBadArgument;  // before any input is taken

  // The line lies in the free descriptor space, clear of the results' descriptors.
  const int64_t free_words =
      int64_t(ctx->desc_capacity) - ctx->desc_top - kLineDescReserve;
  if (free_words < 1) return kStackOverflow;
  const int64_t chars = free_words * 2 < INT32_MAX ? free_words * 2 : INT32_MAX;
  auto* line = reinterpret_cast<uint16_t*>(desc_words(ctx) + ctx->desc_top + kLineDescReserve);
  int32_t length = 0;
  TN_TRY(io_read_line(ctx, fd, true, line, 0, int32_t(chars), &length));
  TN_TRY(scan_engine(ctx, line, length, nargout));
  return stk_remove(ctx, scan_result_count(nargout), nargin);
}
