// Number formatters and the decimal scanner. Digits come from the exact
// decimal expansion of the double (a small base-10^9 big integer), so every
// digit written is correct however many are asked for; no write reaches the
// capacity.
#include "engine/core/numfmt.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <system_error>

#include "engine/core/strings.h"

namespace {

// --- Exact decimal expansion -------------------------------------------------

// A double is M * 2^q with M below 2^53; its decimal expansion ends after at
// most 767 significant digits (M * 5^1074 for the smallest subnormals).
constexpr int kMaxDecimalDigits = 800;
constexpr uint32_t kLimbBase = 1000000000;
constexpr int kLimbDigits = 9;
constexpr int kMaxLimbs = kMaxDecimalDigits / kLimbDigits + 2;
constexpr int kPow2Chunk = 31;
constexpr int kPow5Chunk = 13;
constexpr uint32_t kPow5ChunkValue = 1220703125;  // 5^13

struct BigNum {
  uint32_t limb[kMaxLimbs];  // little-endian, base 10^9
  int n;
};

constexpr void big_mul(BigNum& b, uint32_t m) {
  uint64_t carry = 0;
  for (int i = 0; i < b.n; ++i) {
    uint64_t t = uint64_t(b.limb[i]) * m + carry;
    b.limb[i] = static_cast<uint32_t>(t % kLimbBase);
    carry = t / kLimbBase;
  }
  while (carry) {
    b.limb[b.n++] = static_cast<uint32_t>(carry % kLimbBase);
    carry /= kLimbBase;
  }
}

constexpr uint32_t pow5(int k) {
  uint32_t r = 1;
  while (k-- > 0) r *= 5;
  return r;
}

static_assert(pow5(kPow5Chunk) == kPow5ChunkValue);
static_assert(uint64_t(kLimbBase - 1) * (uint64_t(1) << kPow2Chunk) + kLimbBase < UINT64_MAX / 2);

// Multiplies by 5^k a chunk at a time.
constexpr void big_mul_pow5(BigNum& b, int k) {
  for (; k >= kPow5Chunk; k -= kPow5Chunk) big_mul(b, kPow5ChunkValue);
  if (k > 0) big_mul(b, pow5(k));
}

// 5^(64 j) for the subnormal range, built at compile time: a tiny number then
// costs one long multiplication instead of some eighty short ones.
constexpr int kPow5TableStep = 64;
constexpr int kPow5TableSize = 1074 / kPow5TableStep + 1;

struct Pow5Table {
  BigNum p[kPow5TableSize];
};

constexpr Pow5Table make_pow5_table() {
  Pow5Table t{};
  BigNum b{};
  b.limb[0] = 1;
  b.n = 1;
  for (int j = 0; j < kPow5TableSize; ++j) {
    t.p[j] = b;
    big_mul_pow5(b, kPow5TableStep);
  }
  return t;
}

constexpr Pow5Table kPow5Table = make_pow5_table();

// out = a * b; out may not be a or b.
void big_mul_big(const BigNum& a, const BigNum& b, BigNum* out) {
  out->n = a.n + b.n;
  std::memset(out->limb, 0, sizeof(uint32_t) * static_cast<size_t>(out->n));
  for (int i = 0; i < a.n; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < b.n; ++j) {
      uint64_t t = out->limb[i + j] + uint64_t(a.limb[i]) * b.limb[j] + carry;
      out->limb[i + j] = static_cast<uint32_t>(t % kLimbBase);
      carry = t / kLimbBase;
    }
    out->limb[i + b.n] = static_cast<uint32_t>(carry);
  }
  while (out->n > 1 && out->limb[out->n - 1] == 0) --out->n;
}

// value = 0.d1 d2 ... d_count * 10^point, d1 and d_count nonzero; zero has
// count 0.
struct Decimal {
  uint8_t digit[kMaxDecimalDigits];
  int32_t count;
  int32_t point;
};

void strip_trailing_zeros(Decimal& d) {
  while (d.count > 0 && d.digit[d.count - 1] == 0) --d.count;
}

// a: finite, not negative.
void decimal_from_double(double a, Decimal* out) {
  uint64_t bits = std::bit_cast<uint64_t>(a);
  int exp_field = static_cast<int>(bits >> 52 & 0x7ff);
  uint64_t mant = bits & ((uint64_t(1) << 52) - 1);
  int q = exp_field == 0 ? -1074 : exp_field - 1075;
  if (exp_field != 0) mant |= uint64_t(1) << 52;
  out->count = 0;
  out->point = 0;
  if (mant == 0) return;
  while (!(mant & 1)) {
    mant >>= 1;
    ++q;
  }
  BigNum b;
  b.n = 0;
  for (uint64_t v = mant; v; v /= kLimbBase) b.limb[b.n++] = static_cast<uint32_t>(v % kLimbBase);
  int shift = 0;
  if (q > 0) {
    for (int left = q; left > 0; left -= kPow2Chunk)
      big_mul(b, uint32_t(1) << std::min(left, kPow2Chunk));
  } else if (q < 0) {
    // M * 2^q = M * 5^-q / 10^-q: a whole number with the point moved.
    int k = -q;
    if (k >= kPow5TableStep) {
      BigNum m = b;
      big_mul_big(m, kPow5Table.p[k / kPow5TableStep], &b);
      k %= kPow5TableStep;
    }
    big_mul_pow5(b, k);
    shift = q;
  }
  int count = 0;
  char top[kLimbDigits + 1];
  int top_len = 0;
  for (uint32_t v = b.limb[b.n - 1]; v; v /= 10) top[top_len++] = static_cast<char>(v % 10);
  while (top_len > 0) out->digit[count++] = static_cast<uint8_t>(top[--top_len]);
  for (int i = b.n - 2; i >= 0; --i) {
    uint32_t v = b.limb[i];
    for (int k = kLimbDigits - 1; k >= 0; --k) {
      out->digit[count + k] = static_cast<uint8_t>(v % 10);
      v /= 10;
    }
    count += kLimbDigits;
  }
  out->count = count;
  out->point = count + shift;
  strip_trailing_zeros(*out);
}

// The coefficient of 10^place.
int digit_at(const Decimal& d, int64_t place) {
  int64_t i = static_cast<int64_t>(d.point) - place;
  return (i >= 1 && i <= d.count) ? d.digit[i - 1] : 0;
}

// Rounds half up so that no digit below 10^lowest_place remains.
void decimal_round(const Decimal& in, int64_t lowest_place, Decimal* out) {
  int64_t keep = static_cast<int64_t>(in.point) - lowest_place;
  if (in.count == 0 || keep >= in.count) {
    *out = in;
    return;
  }
  out->count = 0;
  out->point = in.point;
  if (keep < 0) return;
  int32_t k = static_cast<int32_t>(keep);
  std::memcpy(out->digit, in.digit, static_cast<size_t>(k));
  out->count = k;
  if (in.digit[k] >= 5) {
    int32_t i = k - 1;
    while (i >= 0 && out->digit[i] == 9) out->digit[i--] = 0;
    if (i < 0) {  // all nines (or nothing kept): one unit a place higher
      out->digit[0] = 1;
      out->count = 1;
      out->point = in.point + 1;
      return;
    }
    ++out->digit[i];
  }
  strip_trailing_zeros(*out);
}

// With f the fraction of x / 10^top (its digits at places top-1, top-2, ...):
// 1e-6 < f < 0.999999, the test that decides whether 'g' takes another digit.
bool fraction_open(const Decimal& x, int64_t top) {
  constexpr int kWindow = 6;
  int f[kWindow];
  for (int i = 0; i < kWindow; ++i) f[i] = digit_at(x, top - 1 - i);
  bool tail = x.count > 0 && static_cast<int64_t>(x.point) - x.count < top - kWindow;
  bool above = false;
  for (int i = 0; i < kWindow - 1; ++i)
    if (f[i] != 0) above = true;
  if (!above) above = f[kWindow - 1] > 1 || (f[kWindow - 1] == 1 && tail);
  bool below = false;
  for (int i = 0; i < kWindow && !below; ++i) {
    if (f[i] < 9) below = true;
    if (f[i] != 9) break;
  }
  return above && below;
}

// --- Writing -----------------------------------------------------------------

// Digits, signs and the point keep two bytes in hand: room for the caller's
// terminator and one byte of slack.
bool put_digit_char(char* buf, int32_t* pos, char c, int32_t capacity) {
  if (static_cast<int64_t>(*pos) + 2 >= capacity) return false;
  buf[(*pos)++] = c;
  return true;
}

bool put_char(char* buf, int32_t* pos, char c, int32_t capacity) {
  if (static_cast<int64_t>(*pos) + 1 >= capacity) return false;
  buf[(*pos)++] = c;
  return true;
}

int32_t clamp_count(int64_t n) {
  return static_cast<int32_t>(std::clamp<int64_t>(n, 0, INT32_MAX));
}

void write_nonfinite(char* buf, int32_t* pos, double value, int32_t width, bool left_align,
                     bool upper_case, bool plus_sign, bool space_sign, int32_t capacity) {
  const char* word;
  if (std::isnan(value)) {
    word = upper_case ? "NaN" : "nan";
  } else if (value < 0) {
    word = upper_case ? "-Inf" : "-inf";
  } else if (plus_sign) {
    word = upper_case ? "+Inf" : "+inf";
  } else if (space_sign) {
    word = upper_case ? " Inf" : " inf";
  } else {
    word = upper_case ? "Inf" : "inf";
  }
  int64_t pad = static_cast<int64_t>(width) - str_len(word);
  if (!left_align) buf_append_repeat(buf, pos, ' ', clamp_count(pad), capacity);
  buf_append_cstr(buf, pos, word, capacity);
  if (left_align) buf_append_repeat(buf, pos, ' ', clamp_count(pad), capacity);
}

// "e", an optional '-', then the digits without leading zeros.
void write_exponent(char* buf, int32_t* pos, int64_t e, bool upper_case, int32_t capacity) {
  constexpr int kExponentRoom = 5;  // "e-308" and a terminator, whatever the exponent
  char text[24];
  int len = 0;
  text[len++] = upper_case ? 'E' : 'e';
  if (e < 0) text[len++] = '-';
  uint64_t mag = e < 0 ? 0 - static_cast<uint64_t>(e) : static_cast<uint64_t>(e);
  char rev[20];
  int nd = 0;
  do {
    rev[nd++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag);
  while (nd > 0) text[len++] = rev[--nd];
  if (static_cast<int64_t>(*pos) + std::max(kExponentRoom, len) >= capacity) return;
  std::memcpy(buf + *pos, text, static_cast<size_t>(len));
  *pos += len;
}

void pad_field(char* buf, int32_t* pos, int32_t start, bool sign_written, int32_t width,
               bool left_align, bool zero_pad, int32_t capacity) {
  int64_t pad = static_cast<int64_t>(width) - (*pos - start);
  if (left_align) {
    buf_append_repeat(buf, pos, ' ', clamp_count(pad), capacity);
    return;
  }
  if (pad <= 0 || static_cast<int64_t>(*pos) + 2 + pad >= capacity) return;
  int32_t at = start + (zero_pad && sign_written ? 1 : 0);  // zeros go after the sign
  int32_t n = static_cast<int32_t>(pad);
  std::memmove(buf + at + n, buf + at, static_cast<size_t>(*pos - at));
  std::memset(buf + at, zero_pad ? '0' : ' ', static_cast<size_t>(n));
  *pos += n;
}

// --- Integers ----------------------------------------------------------------

struct IntField {
  uint64_t magnitude;
  unsigned base;
  bool upper_case;
  char sign;           // 0 for none
  const char* prefix;  // "" for none
  bool extra_zero;     // the octal alternate form's leading '0'
};

void fmt_integer(char* buf, int32_t* pos, const IntField& f, int32_t width, bool left_align,
                 int32_t min_digits, int32_t capacity) {
  const char* set = f.upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  char rev[64];
  int nd = 0;
  for (uint64_t v = f.magnitude; v; v /= f.base) rev[nd++] = set[v % f.base];
  int64_t count = std::max<int64_t>(nd, min_digits) + (f.extra_zero ? 1 : 0);
  int64_t field = (f.sign ? 1 : 0) + str_len(f.prefix) + count;
  int32_t start = *pos;
  if (!left_align && field < width) buf_append_repeat(buf, pos, ' ', clamp_count(width - field), capacity);
  if (f.sign) put_char(buf, pos, f.sign, capacity);
  buf_append_cstr(buf, pos, f.prefix, capacity);
  buf_append_repeat(buf, pos, '0', clamp_count(count - nd), capacity);
  while (nd > 0) put_char(buf, pos, rev[--nd], capacity);
  if (left_align) buf_append_repeat(buf, pos, ' ', clamp_count(int64_t(width) - (*pos - start)), capacity);
}

char sign_char(bool negative, bool plus_sign, bool space_sign) {
  return negative ? '-' : plus_sign ? '+' : space_sign ? ' ' : 0;
}

// --- Scanning ------------------------------------------------------------------

// Digits kept for the conversion: enough to decide the rounding of any
// double (a halfway point between two doubles has at most 767 significant
// digits); the dropped rest only counts as nonzero or not.
constexpr int kScanDigits = 800;
constexpr int32_t kExponentSaturation = 100000000;
constexpr int64_t kPointClamp = 100000;  // far beyond any double's range

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void fmt_double(char* buf, int32_t* pos, double value, int32_t precision, char style, int32_t width,
                bool left_align, bool upper_case, bool plus_sign, bool space_sign, bool zero_pad,
                bool alternate, int32_t capacity) {
  if (!std::isfinite(value)) {
    write_nonfinite(buf, pos, value, width, left_align, upper_case, plus_sign, space_sign, capacity);
    return;
  }
  const int32_t start = *pos;
  double a = value;
  bool sign_written = false;
  if (value < 0) {  // -0.0 is not below zero and prints as 0
    a = -value;
    sign_written = put_digit_char(buf, pos, '-', capacity);
  } else if (plus_sign) {
    sign_written = put_digit_char(buf, pos, '+', capacity);
  } else if (space_sign) {
    sign_written = put_digit_char(buf, pos, ' ', capacity);
  }

  const bool shortest = style == kStyleShortest || style == kStyleShortestFix;
  const bool general = style == kStyleGeneral || shortest;
  const bool scientific = style == kStyleExp || shortest || (a >= 2000000000.0 && style != kStyleFixed) ||
                          a > 1e18 || (a != 0 && a < 0.1 && style != kStyleFixed);

  Decimal exact;
  decimal_from_double(a, &exact);
  bool has_exponent = scientific;
  int64_t e = (scientific && exact.count) ? exact.point - 1 : 0;
  int64_t scale = scientific ? e : 0;  // the mantissa is a / 10^scale

  int64_t d = 0;  // fraction digits
  if (style == kStyleFixed || style == kStyleExp) {
    d = std::max(precision, 0);
  } else if (general) {
    while (d < precision && fraction_open(exact, scale - d)) ++d;
  }
  Decimal rounded;
  decimal_round(exact, scale - d, &rounded);
  if (scientific && rounded.count && rounded.point - 1 > scale) {
    // The mantissa rounded up to 10 (9.5 to one digit): the carry moves into
    // the exponent, and the rounded value, a power of ten, reads 1e1.
    e = rounded.point - 1;
    scale = e;
  }
  if (general) {
    // Drop trailing zeros; d may end at -1 when the last integer digit is 0.
    while (d >= 0 && digit_at(rounded, scale - d) == 0) --d;
  }

  if (shortest) {
    // Lengths of the three forms, each one less than its text.
    int64_t fixed_len = e >= d ? e : e >= 0 ? d + 1 : d - e + 1;
    if (style == kStyleShortestFix) --fixed_len;
    int64_t sci_len = d + 2 + (e < 0 ? 1 : 0) + ((-10 < e && e < 10) ? 1 : 2);
    int64_t ie = e - d;
    int64_t int_len = d + 1 + (ie < 0 ? 1 : 0) + ((-10 < ie && ie < 10) ? 1 : 2);
    if (fixed_len > sci_len || fixed_len > int_len) {
      if (int_len < sci_len) {  // whole-number mantissa: 0.000123 as 123e-6
        e = ie;
        scale = ie;
        d = 0;
      }
    } else {
      d = std::max<int64_t>(0, d - e);
      has_exponent = false;
      scale = 0;
      decimal_round(exact, -d, &rounded);
    }
  }

  int64_t int_digits = rounded.count ? std::max<int64_t>(0, rounded.point - scale) : 0;
  if (int_digits == 0) {
    put_digit_char(buf, pos, '0', capacity);
  } else {
    for (int64_t k = int_digits - 1; k >= 0; --k)
      if (!put_digit_char(buf, pos, static_cast<char>('0' + digit_at(rounded, scale + k)), capacity))
        break;
  }
  if (d > 0 || alternate) {
    if (put_digit_char(buf, pos, '.', capacity)) {
      for (int64_t j = 1; j <= d; ++j)
        if (!put_digit_char(buf, pos, static_cast<char>('0' + digit_at(rounded, scale - j)), capacity))
          break;
    }
  }
  if (has_exponent) write_exponent(buf, pos, e, upper_case, capacity);
  pad_field(buf, pos, start, sign_written, width, left_align, zero_pad, capacity);
}

void fmt_complex(char* buf, int32_t* pos, double re, double im, int32_t precision, char style,
                 int32_t width, bool left_align, bool upper_case, char unit, bool plus_sign,
                 bool space_sign, bool alternate, int32_t capacity) {
  const int32_t start = *pos;
  const int32_t half = left_align ? 0 : static_cast<int32_t>((int64_t(width) - 2) / 2);
  fmt_double(buf, pos, re, precision, style, half, left_align, upper_case, plus_sign, space_sign,
             false, alternate, capacity);
  if (re + im == re || im == 0 || int64_t(*pos) >= int64_t(capacity) - 3) {
    // Looks real: the rest of the field is blank.
    buf_append_repeat(buf, pos, ' ', clamp_count(int64_t(width) - (*pos - start)), capacity);
    return;
  }
  if (!left_align) put_char(buf, pos, ' ', capacity);
  put_char(buf, pos, im <= 0 ? '-' : '+', capacity);  // NaN takes '+'
  if (!left_align && (width & 1)) put_char(buf, pos, ' ', capacity);
  fmt_double(buf, pos, std::fabs(im), precision, style, half, left_align, upper_case, false, false,
             false, alternate, capacity - 1);
  char letter = unit == 'j' ? 'j' : 'i';
  put_char(buf, pos, upper_case ? static_cast<char>(letter - ('a' - 'A')) : letter, capacity);
}

void fmt_int32_dec(char* buf, int32_t* pos, int32_t value, bool is_unsigned, int32_t width,
                   bool left_align, bool plus_sign, bool space_sign, int32_t min_digits,
                   int32_t capacity) {
  bool negative = !is_unsigned && value < 0;
  uint64_t mag = is_unsigned ? static_cast<uint32_t>(value)
                             : negative ? uint64_t(-int64_t(value)) : uint64_t(value);
  IntField f{mag, 10, false, sign_char(negative, plus_sign, space_sign), "", false};
  fmt_integer(buf, pos, f, width, left_align, min_digits, capacity);
}

void fmt_int64_dec(char* buf, int32_t* pos, int64_t value, bool is_unsigned, int32_t width,
                   bool left_align, bool plus_sign, bool space_sign, int32_t min_digits,
                   int32_t capacity) {
  bool negative = !is_unsigned && value < 0;
  uint64_t mag = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  IntField f{mag, 10, false, sign_char(negative, plus_sign, space_sign), "", false};
  fmt_integer(buf, pos, f, width, left_align, min_digits, capacity);
}

void fmt_int64_hex(char* buf, int32_t* pos, uint64_t value, int32_t width, bool left_align,
                   bool upper_case, bool alternate, int32_t min_digits, int32_t capacity) {
  // The prefix stays lower case whatever the digits' case.
  IntField f{value, 16, upper_case, 0, alternate && value ? "0x" : "", false};
  fmt_integer(buf, pos, f, width, left_align, min_digits, capacity);
}

void fmt_uint_hex(char* buf, int32_t* pos, uint32_t value, int32_t width, bool left_align,
                  bool upper_case, bool alternate, int32_t min_digits, int32_t capacity) {
  fmt_int64_hex(buf, pos, value, width, left_align, upper_case, alternate, min_digits, capacity);
}

void fmt_int64_oct(char* buf, int32_t* pos, uint64_t value, int32_t width, bool left_align,
                   bool alternate, int32_t min_digits, int32_t capacity) {
  IntField f{value, 8, false, 0, "", alternate && value && min_digits <= 0};
  fmt_integer(buf, pos, f, width, left_align, min_digits, capacity);
}

void fmt_uint_oct(char* buf, int32_t* pos, uint32_t value, int32_t width, bool left_align,
                  bool alternate, int32_t min_digits, int32_t capacity) {
  fmt_int64_oct(buf, pos, value, width, left_align, alternate, min_digits, capacity);
}

bool scan_number(const char* text, int32_t length, int32_t* pos, double* result) {
  if (length < 0) length = str_len(text);
  int32_t p = pos ? *pos : 0;
  if (p < 0) return false;
  while (p < length && (text[p] == ' ' || text[p] == '\t')) ++p;
  bool negative = false;
  if (p < length && (text[p] == '-' || text[p] == '+')) negative = text[p++] == '-';
  if (!(p < length && (is_digit(text[p]) || text[p] == '.'))) {
    if (pos) *pos = p;
    return false;
  }

  // The significant digits and where the point falls: value = 0.sig * 10^point.
  char sig[kScanDigits + 1];
  int nsig = 0;
  bool dropped_nonzero = false;
  int64_t point = 0;
  auto take = [&](char c, bool fraction) {
    if (nsig == 0 && c == '0') {
      if (fraction) --point;
      return;
    }
    if (nsig < kScanDigits) {
      sig[nsig++] = c;
    } else if (c != '0') {
      dropped_nonzero = true;
    }
    if (!fraction) ++point;
  };
  while (p < length && is_digit(text[p])) take(text[p++], false);
  if (p < length && text[p] == '.') {
    ++p;
    while (p < length && is_digit(text[p])) take(text[p++], true);
  }
  // An 'e' with nothing after it is not an exponent and stays unread.
  if (p + 1 < length && (text[p] == 'e' || text[p] == 'E')) {
    ++p;
    bool exp_negative = false;
    if (p < length && (text[p] == '-' || text[p] == '+')) exp_negative = text[p++] == '-';
    int32_t exp = 0;
    for (; p < length && is_digit(text[p]); ++p)
      if (exp < kExponentSaturation) exp = exp * 10 + (text[p] - '0');
    point += exp_negative ? -int64_t(exp) : int64_t(exp);
  }

  double value = 0;
  if (nsig > 0) {
    if (dropped_nonzero) sig[nsig++] = '1';  // stands for the dropped tail in rounding
    point = std::clamp(point, -kPointClamp, kPointClamp);
    char norm[kScanDigits + 32];
    int n = 0;
    norm[n++] = '0';
    norm[n++] = '.';
    std::memcpy(norm + n, sig, static_cast<size_t>(nsig));
    n += nsig;
    norm[n++] = 'e';
    auto [end, ec] = std::to_chars(norm + n, norm + sizeof norm, point);
    (void)ec;  // the buffer always holds a clamped exponent
    double v = 0;
    auto parsed = std::from_chars(norm, end, v, std::chars_format::general);
    if (parsed.ec == std::errc::result_out_of_range)
      v = point > 0 ? HUGE_VAL : 0.0;
    value = v;
  }
  *result = negative ? -value : value;
  if (pos) *pos = p;
  return true;
}
