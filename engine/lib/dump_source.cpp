// The source-text writer: any value as ZVR text that recreates it. Values are
// read in place (stack items, container elements, flat items) through one
// view {kind, a, b, data}; nothing is pushed except a library object copied
// on top for its class's dump hook. Invariant: the text written always reads
// back to the value through str2obj: every character at or above 128 is an
// escape, complex values with zero imaginary parts stay complex, 64-bit
// integers never pass through double.
#include "engine/lib/dump_source.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/element_layout.h"
#include "engine/core/frames.h"
#include "engine/core/newline.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/lib/dump_writer.h"

// --- Bounded 16-bit buffers ---------------------------------------------------------

int32_t wbuf_append_cstr(uint16_t* buf, int32_t* position, const char* text, int32_t capacity) {
  int32_t n = 0;
  for (; text[n] && *position < capacity; ++n) buf[(*position)++] = uint8_t(text[n]);
  return n;
}

bool wbuf_widen_in_place(uint16_t* buf, int32_t* position, int32_t count, int32_t capacity) {
  if (count < 0 || int64_t(*position) + count > capacity) return false;
  // Last to first: character k lands on bytes 2k and 2k + 1, never before
  // byte k, so no byte is overwritten before it was read.
  auto* bytes = reinterpret_cast<uint8_t*>(buf + *position);
  for (int32_t k = count - 1; k >= 0; --k) {
    const uint16_t ch = bytes[k];
    std::memcpy(bytes + 2 * k, &ch, sizeof ch);
  }
  *position += count;
  return true;
}

int io_write_wchars(EngineContext* ctx, int32_t fd, const uint16_t* text, int32_t count, void* spare,
                    int32_t spare_bytes) {
  constexpr int32_t kLocalChunk = 16;
  uint8_t local[kLocalChunk];
  uint8_t* chunk = spare_bytes > kLocalChunk ? static_cast<uint8_t*>(spare) : local;
  const int32_t chunk_bytes = spare_bytes > kLocalChunk ? spare_bytes : kLocalChunk;
  // Each character needs at most kMaxEncodedBytes; the terminator one more.
  const int32_t per_chunk = std::max<int32_t>(1, (chunk_bytes - 1) / kMaxEncodedBytes);
  for (int32_t at = 0; at < count;) {
    const int32_t take = std::min(per_chunk, count - at);
    int32_t bytes = 0;
    wstr_to_bytes(ctx, kNewlineLF, text + at, take, chunk, chunk_bytes, &bytes);
    TN_TRY(io_write(ctx, fd, reinterpret_cast<const char*>(chunk), bytes));
    at += take;
  }
  return kOk;
}

// --- The writer --------------------------------------------------------------------

namespace {

constexpr int32_t kStepRoom = 50;      // characters every step needs in a buffer
constexpr int32_t kCharRowRoom = 10;   // more inside a quoted row
constexpr int64_t kCharPieceChars = 1024;  // characters of one quoted piece
constexpr int32_t kLongLine = 60;      // a row breaks after this many characters
constexpr int32_t kMinRun = 5;         // equal values (and zeros) of any class
constexpr int32_t kMinFloatRun = 3;    // equal doubles or singles other than 1
constexpr int32_t kMinZerosLeft = 6;   // zeros form a run only with this many left
constexpr int32_t kMinRunLeft = 4;
constexpr int32_t kMinRange = 3;
constexpr double kRangeStartLimit = 0.1;  // |start| * eps below this
constexpr double kEps = 2.220446049250313e-16;
constexpr int32_t kNumberChars = 64;

}  // namespace

int DumpOut::flush() {
  if (!to_fd || stage_n == 0) return kOk;
  const int32_t n = stage_n;
  stage_n = 0;
  return io_write_wchars(ctx, fd, stage, n, nullptr, 0);
}

int DumpOut::room(int32_t extra) {
  if (to_fd) return stage_n + extra + kStepRoom > kDumpStage ? flush() : kOk;
  return capacity - *pos < kStepRoom + extra ? kDataStackOverflow : kOk;
}

int DumpOut::put(uint16_t ch) {
  if (to_fd) {
    if (stage_n >= kDumpStage) TN_TRY(flush());
    stage[stage_n++] = ch;
  } else {
    if (*pos >= capacity) return kDataStackOverflow;
    buf[(*pos)++] = ch;
  }
  ++line;
  return kOk;
}

int DumpOut::put(const char* text, int32_t n) {
  if (n < 0) n = int32_t(std::strlen(text));
  for (int32_t i = 0; i < n; ++i) TN_TRY(put(uint16_t(uint8_t(text[i]))));
  return kOk;
}

int DumpOut::newline() {
  line = 0;
  if (!to_fd) return put(uint16_t('\n'));
  TN_TRY(flush());
  TN_TRY(io_newline(ctx, fd));
  return poll_abort(ctx) ? kAborted : kOk;
}

int DumpOut::number(double v, int digits) {
  char text[kNumberChars];
  int32_t n = 0;
  fmt_double(text, &n, v, digits, 'g', 0, true, false, false, false, false, false, kNumberChars - 1);
  return put(text, n);
}

namespace {

// Digits for one element: digits < 0 asks for the fewest of 15, 16 and 17
// that read back to the same double (7 to 9 for singles), as the language's
// own reader reads them; 0 when no count does, since the general style
// stops at a long run of zeros or nines that the value still has digits
// after (see put_every_digit).
int exact_digits(double v, int digits, bool single) {
  if (digits >= 0) return single ? kDumpDigitsSingle : digits;
  if (!std::isfinite(v)) return kDumpDigitsDouble;
  const int first = single ? kDumpDigitsSingle : kDumpDigitsDouble;
  const int last = single ? 9 : 17;
  for (int d = first; d <= last; ++d) {
    char text[kNumberChars];
    int32_t n = 0;
    fmt_double(text, &n, v, d, 'g', 0, true, false, false, false, false, false, kNumberChars - 1);
    double back = 0;
    if (!scan_number(text, n, nullptr, &back)) continue;
    if (single ? float(back) == float(v) : back == v) return d;
  }
  return 0;
}

// Every significant digit a double (or single) needs, in the exponent style,
// which writes the exact decimal value rounded at its last digit: always
// reads back to the same number.
int put_every_digit(DumpOut& out, double v, bool single) {
  constexpr int kFractionDigitsDouble = 16, kFractionDigitsSingle = 8;
  char text[kNumberChars];
  int32_t n = 0;
  fmt_double(text, &n, v, single ? kFractionDigitsSingle : kFractionDigitsDouble, 'e', 0, true, false, false,
             false, false, false, kNumberChars - 1);
  return out.put(text, n);
}

// A text that rounds a finite value up past the largest double (or single)
// reads back as infinity: its last digit goes one down instead, so that it
// rounds toward zero. Only values this near the end of the range are read
// back to find out; their text has every digit, trailing zeros included.
constexpr double kNearOverflowDouble = 1e308;
constexpr double kNearOverflowSingle = 3.4e38;
constexpr double kSingleOverflow = 0x1p128 - 0x1p103;  // halfway past the largest single: Inf

bool near_overflow(double v, bool single) {
  return std::fabs(v) >= (single ? kNearOverflowSingle : kNearOverflowDouble);
}

void keep_finite(char* text, int32_t n, bool single) {
  double back = 0;
  if (!scan_number(text, n, nullptr, &back)) return;
  if (!(single ? std::fabs(back) >= kSingleOverflow : std::isinf(back))) return;
  const char* e = static_cast<const char*>(std::memchr(text, 'e', size_t(n)));
  // The text was rounded up, so its digits are not all zero: the borrow ends.
  for (int32_t k = int32_t(e ? e - text : n) - 1; k >= 0; --k) {
    if (text[k] == '.') continue;
    if (text[k] == '-') break;
    if (text[k] > '0') {
      --text[k];
      break;
    }
    text[k] = '9';
  }
}

// Drops the zeros that end the fraction of the mantissa, and a point left
// alone; returns the new length.
int32_t drop_trailing_zeros(char* text, int32_t n) {
  const char* e = static_cast<const char*>(std::memchr(text, 'e', size_t(n)));
  const int32_t end = int32_t(e ? e - text : n);
  if (!std::memchr(text, '.', size_t(end))) return n;
  int32_t cut = end;
  while (text[cut - 1] == '0') --cut;
  if (text[cut - 1] == '.') --cut;
  std::memmove(text + cut, text + end, size_t(n - end));
  return n - (end - cut);
}

// A number with the caller's digit count. The general style chooses the
// notation, but it stops taking digits once the rest of the fraction lies
// within a millionth of a whole number, which would lose the value here
// (1 + 1e-8 would read back as 1, a single widened to double its low
// digits): the digits are then those of the fixed or exponent style, with
// the trailing zeros dropped as the general style drops them.
int put_with_digits(DumpOut& out, double v, int digits, bool single) {
  char text[kNumberChars];
  int32_t n = 0;
  fmt_double(text, &n, v, digits, kStyleGeneral, 0, true, false, false, false, false, false, kNumberChars - 1);
  const char* e = static_cast<const char*>(std::memchr(text, 'e', size_t(n)));
  const char* point = static_cast<const char*>(std::memchr(text, '.', size_t(n)));
  const int32_t fraction = point ? int32_t((e ? e : text + n) - point) - 1 : 0;
  const bool near_end = near_overflow(v, single);
  if (fraction >= digits && !near_end) return out.put(text, n);
  const char style = e ? kStyleExp : kStyleFixed;
  n = 0;
  fmt_double(text, &n, v, digits, style, 0, true, false, false, false, false, false, kNumberChars - 1);
  if (near_end) keep_finite(text, n, single);
  return out.put(text, drop_trailing_zeros(text, n));
}

// Non-finite numbers in the spelling the language reads. The literal NaN
// has its sign bit set (as the processor's own NaN has): the other one is
// its negation.
int put_real(DumpOut& out, double v, int digits, bool single) {
  if (std::isnan(v)) return out.put(std::signbit(v) ? "NaN" : "-NaN");
  if (std::isinf(v)) return out.put(v > 0 ? "Inf" : "-Inf");
  if (v == 0 && std::signbit(v)) return out.put("-0");  // the formatter drops the sign of a zero
  const int d = exact_digits(v, digits, single);
  if (d <= 0) return put_every_digit(out, v, single);
  // The fewest exact digits were read back already: the text is the value.
  return digits < 0 ? out.number(v, d) : put_with_digits(out, v, d, single);
}

// A 1 x 1 single carries its class as a suffix, which only a number takes:
// the non-finite ones are converted instead.
int put_single_scalar(DumpOut& out, double v, int digits) {
  if (std::isfinite(v)) {
    TN_TRY(put_real(out, v, digits, true));
    return out.put("single");
  }
  const bool negated = std::isnan(v) ? !std::signbit(v) : v < 0;
  TN_TRY(out.put(negated ? "-single(" : "single("));
  TN_TRY(out.put(std::isnan(v) ? "NaN" : "Inf"));
  return out.put(')');
}

// Whether re + im*j, as the reader computes it, gives back both parts: not
// with a non-finite part (Inf*j has a NaN real part) nor a negative zero
// (adding a zero part turns -0 into 0). Such elements are written as
// complex(re,im).
bool literal_keeps_parts(double re, double im) {
  return std::isfinite(re) && std::isfinite(im) && !(re == 0 && std::signbit(re)) &&
         !(im == 0 && std::signbit(im));
}

// Each part with its own digits: a part far smaller than the other is kept.
int put_complex(DumpOut& out, double re, double im, int digits, bool single) {
  if (!literal_keeps_parts(re, im)) {
    TN_TRY(out.put("complex("));
    TN_TRY(put_real(out, re, digits, single));
    TN_TRY(out.put(','));
    TN_TRY(put_real(out, im, digits, single));
    return out.put(')');
  }
  TN_TRY(put_real(out, re, digits, single));
  TN_TRY(out.put(std::signbit(im) ? '-' : '+'));
  TN_TRY(put_real(out, std::fabs(im), digits, single));
  return out.put('j');
}

const char* int_class_name(int size, bool is_unsigned) {
  switch (size) {
    case 1: return is_unsigned ? "uint8" : "int8";
    case 2: return is_unsigned ? "uint16" : "int16";
    case 4: return is_unsigned ? "uint32" : "int32";
    default: return is_unsigned ? "uint64" : "int64";
  }
}

int64_t int_at(const void* data, int64_t i, int size, bool is_unsigned) {
  const auto* p = static_cast<const uint8_t*>(data);
  switch (size) {
    case 1: return is_unsigned ? int64_t(tn::load<uint8_t>(p + i)) : int64_t(tn::load<int8_t>(p + i));
    case 2: return is_unsigned ? int64_t(tn::load<uint16_t>(p + 2 * i)) : int64_t(tn::load<int16_t>(p + 2 * i));
    case 4: return is_unsigned ? int64_t(tn::load<uint32_t>(p + 4 * i)) : int64_t(tn::load<int32_t>(p + 4 * i));
    default: return tn::load<int64_t>(p + 8 * i);
  }
}

// One integer element. Inside a class wrapper: its digits (a double literal,
// exact for every value of 32 bits or less). Alone: a typed literal where the
// reader takes one (16-bit range), else the class applied to a double
// literal, and past 2^53 two exact 32-bit halves combined in the class.
int put_integer(DumpOut& out, int64_t v, int size, bool is_unsigned, bool wrapped) {
  constexpr int64_t kLiteralMin = INT16_MIN, kLiteralMax = INT16_MAX;
  constexpr uint64_t kExactDouble = uint64_t(1) << 53;
  const char* cls = int_class_name(size, is_unsigned);
  const bool u64 = is_unsigned && size == 8;
  auto digits = [&](int64_t x, bool as_unsigned) {
    char text[kNumberChars];
    int32_t n = 0;
    fmt_int64_dec(text, &n, x, as_unsigned, 0, true, false, false, 1, kNumberChars - 1);
    return out.put(text, n);
  };
  if (wrapped) return digits(v, u64);
  const bool literal = u64 ? uint64_t(v) <= uint64_t(kLiteralMax)
                           : (size < 4 || (v >= (is_unsigned ? 0 : kLiteralMin) && v <= kLiteralMax));
  if (literal) {
    TN_TRY(digits(v, u64));
    return out.put(cls);
  }
  const uint64_t magnitude = u64 ? uint64_t(v) : (v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v));
  TN_TRY(out.put(cls));
  TN_TRY(out.put('('));
  if (magnitude <= kExactDouble) {
    TN_TRY(digits(v, u64));
    return out.put(')');
  }
  // v = high * 2^32 + low, high signed (or unsigned), 0 <= low < 2^32.
  const int64_t high = u64 ? int64_t(uint64_t(v) >> 32) : (v >> 32);
  const int64_t low = int64_t(uint64_t(v) & 0xffffffffu);
  TN_TRY(digits(high, false));
  TN_TRY(out.put(")*"));
  TN_TRY(out.put(cls));
  TN_TRY(out.put("(4294967296)+"));
  TN_TRY(out.put(cls));
  TN_TRY(out.put('('));
  TN_TRY(digits(low, false));
  return out.put(')');
}

}  // namespace

// --- Arrays ------------------------------------------------------------------------

int dump_array(DumpOut& out, const ArraySource& s, int digits) {
  const bool is_int = !s.is_double && !s.is_single && !s.is_char && !s.is_logical;
  const bool wide_int = is_int && s.int_size == 8;
  const bool floating = s.is_double || s.is_single;
  const int64_t count = s.rows * s.columns;
  TN_TRY(out.room(0));
  if (s.is_char) {
    TN_TRY(out.room(kCharRowRoom));
    if (s.rows == 0 || (s.rows == 1 && s.columns == 0)) return out.put("''");
    // A long row goes out as quoted pieces side by side: a reader takes one
    // quoted literal at a time into a room of its own, which one quote
    // around the whole row could overflow.
    const bool bracket = s.rows > 1 || s.columns > kCharPieceChars;
    if (bracket) TN_TRY(out.put('['));
    const auto* chars = static_cast<const uint8_t*>(s.re);
    for (int64_t r = 0; r < s.rows; ++r) {
      if (r) TN_TRY(out.newline());
      TN_TRY(out.put('\''));
      for (int64_t c = 0; c < s.columns; ++c) {
        TN_TRY(out.room(kCharRowRoom));
        if (c > 0 && c % kCharPieceChars == 0) TN_TRY(out.put("' '"));
        TN_TRY(dump_char(out, tn::load<uint16_t>(chars + 2 * (r * s.columns + c))));
      }
      TN_TRY(out.put('\''));
    }
    return bracket ? out.put(']') : kOk;
  }
  // Class wrappers: a 1 x 1 value carries its class in its literal instead.
  // A complex value whose imaginary parts are all zero stays complex only
  // through an explicit complex zero (a literal's zero part is dropped).
  bool zero_imag = s.im && count > 0;
  for (int64_t i = 0; zero_imag && i < count; ++i)
    zero_imag = (s.is_double ? tn::load<double>(static_cast<const double*>(s.im) + i)
                             : double(tn::load<float>(static_cast<const float*>(s.im) + i))) == 0;
  char wrapper[kNumberChars] = {};
  if (s.is_single && (count != 1 || s.im)) std::strcpy(wrapper, "single(");
  if (is_int && ((!wide_int && count != 1) || (wide_int && count == 0))) {
    std::strcpy(wrapper, int_class_name(s.int_size, s.is_unsigned));
    std::strcat(wrapper, "(");
  }
  if (s.is_logical && count == 0) std::strcpy(wrapper, "logical(");
  const bool wrapped = wrapper[0] != 0;
  if (wrapped) TN_TRY(out.put(wrapper));
  if (count == 0) {
    // [] is 0 x 0; any other empty shape is spelt out.
    if (s.rows == 0 && s.columns == 0) {
      TN_TRY(out.put("[]"));
    } else {
      TN_TRY(out.put("zeros("));
      TN_TRY(out.number(double(s.rows), kDumpDigitsDouble));
      TN_TRY(out.put(','));
      TN_TRY(out.number(double(s.columns), kDumpDigitsDouble));
      TN_TRY(out.put(')'));
    }
    return wrapped ? out.put(')') : kOk;
  }
  const bool bracket = count != 1;
  if (bracket) TN_TRY(out.put('['));
  const auto* dre = static_cast<const double*>(s.re);
  const auto* dim = static_cast<const double*>(s.im);
  const auto* fre = static_cast<const float*>(s.re);
  const auto* fim = static_cast<const float*>(s.im);
  const auto* bytes = static_cast<const uint8_t*>(s.re);
  auto real_at = [&](int64_t i) -> double {
    if (s.is_double) return tn::load<double>(dre + i);
    if (s.is_single) return double(tn::load<float>(fre + i));
    return double(int_at(s.re, i, s.int_size, s.is_unsigned));
  };
  auto imag_at = [&](int64_t i) -> double {
    if (!s.im) return 0.0;
    return s.is_double ? tn::load<double>(dim + i) : double(tn::load<float>(fim + i));
  };
  // Bitwise equality: -0 never merges with 0, so a run reads back exactly.
  auto same = [&](int64_t i, int64_t j) -> bool {
    if (is_int) return int_at(s.re, i, s.int_size, s.is_unsigned) == int_at(s.re, j, s.int_size, s.is_unsigned);
    const double a = real_at(i), b = real_at(j);
    return std::memcmp(&a, &b, sizeof a) == 0;
  };
  auto is_pos_zero = [&](int64_t i) {
    const double a = real_at(i), b = imag_at(i);
    return !std::signbit(a) && a == 0 && !std::signbit(b) && b == 0;
  };
  auto put_element = [&](int64_t i) -> int {
    if (is_int) return put_integer(out, int_at(s.re, i, s.int_size, s.is_unsigned), s.int_size, s.is_unsigned,
                                   wrapped);
    if (s.im) return put_complex(out, real_at(i), imag_at(i), digits, s.is_single);
    if (s.is_single && !wrapped) return put_single_scalar(out, real_at(i), digits);
    return put_real(out, real_at(i), digits, s.is_single);
  };
  // An element written as complex(...) makes the array complex by itself;
  // adding a complex zero as well would turn its -0 parts into 0.
  bool literal_parts = true;
  for (int64_t i = 0; s.im && literal_parts && i < count; ++i) literal_parts = literal_keeps_parts(real_at(i), imag_at(i));
  auto put_count = [&](const char* head, int64_t n) -> int {
    TN_TRY(out.put(head));
    TN_TRY(out.number(double(n), kDumpDigitsDouble));
    return out.put(')');
  };
  for (int64_t r = 0; r < s.rows; ++r) {
    if (r) TN_TRY(out.newline());
    const int64_t base = r * s.columns;
    for (int64_t c = 0; c < s.columns;) {
      TN_TRY(out.room(0));
      if (c) {
        TN_TRY(out.put(','));
        if (out.line >= kLongLine) {
          TN_TRY(out.put("..."));
          TN_TRY(out.newline());
        }
      }
      const int64_t left = s.columns - c;
      const int64_t i = base + c;
      if (s.is_logical) {
        int64_t run = 1;
        while (c + run < s.columns && (bytes[i + run] != 0) == (bytes[i] != 0)) ++run;
        TN_TRY(out.put(bytes[i] ? "true" : "false"));
        if (run > 1) {
          TN_TRY(out.put("(1,"));
          TN_TRY(out.number(double(run), kDumpDigitsDouble));
          TN_TRY(out.put(')'));
        }
        c += run;
        continue;
      }
      int64_t zeros = 0;
      while (c + zeros < s.columns && is_pos_zero(i + zeros)) ++zeros;
      int64_t equal = 1;
      if (!s.im) while (c + equal < s.columns && same(i, i + equal)) ++equal;
      const double v = real_at(i);
      const bool one = !s.im && v == 1.0 && !std::signbit(v);
      const bool zero = !s.im && is_pos_zero(i);
      // 64-bit elements are never shortened: a product with ones would pass
      // through double.
      if (!wide_int && zeros >= kMinRun && left >= kMinZerosLeft) {
        TN_TRY(put_count("zeros(1,", zeros));
        c += zeros;
        continue;
      }
      const bool run = !s.im && !wide_int && left >= kMinRunLeft &&
                       (equal >= kMinRun || (floating && equal >= kMinFloatRun && !one));
      if (run) {
        if (one || zero) {
          TN_TRY(put_count(one ? "ones(1," : "zeros(1,", equal));
        } else {
          TN_TRY(put_element(i));
          TN_TRY(put_count("*ones(1,", equal));
        }
        c += equal;
        continue;
      }
      // Ranges only of whole numbers, which colon rebuilds exactly.
      int64_t range = 1;
      if (floating && !s.im && std::fabs(v) * kEps < kRangeStartLimit && v == std::floor(v) &&
          !(v == 0 && std::signbit(v)))
        while (c + range < s.columns && real_at(i + range) == v + double(range)) ++range;
      if (range >= kMinRange) {
        TN_TRY(put_element(i));
        TN_TRY(out.put(':'));
        TN_TRY(put_element(i + range - 1));
        c += range;
        continue;
      }
      TN_TRY(put_element(i));
      ++c;
    }
  }
  if (bracket) TN_TRY(out.put(']'));
  if (zero_imag && literal_parts) TN_TRY(out.put("+1j*0"));
  return wrapped ? out.put(')') : kOk;
}

int dump_char(DumpOut& out, uint16_t ch) {
  static constexpr char kEscapes[] = "abtnvfr";  // characters 7 to 13
  constexpr uint16_t kFirstEscape = 7, kLastEscape = 13, kDelete = 127, kFirstWide = 256;
  char text[8];
  if (ch >= kFirstEscape && ch <= kLastEscape) {
    text[0] = '\\';
    text[1] = kEscapes[ch - kFirstEscape];
    return out.put(text, 2);
  }
  if (ch == '\'' || ch == '\\') {
    text[0] = '\\';
    text[1] = char(ch);
    return out.put(text, 2);
  }
  // Everything outside printable ASCII as an escape, so the text stays ASCII
  // and reads back whatever character set converts it.
  static constexpr char kHex[] = "0123456789abcdef";
  if (ch < ' ' || ch >= kDelete) {
    int32_t n = 0;
    text[n++] = '\\';
    if (ch < kFirstWide) {
      text[n++] = 'x';
    } else {
      text[n++] = 'u';
      text[n++] = kHex[(ch >> 12) & 15];
      text[n++] = kHex[(ch >> 8) & 15];
    }
    text[n++] = kHex[(ch >> 4) & 15];
    text[n++] = kHex[ch & 15];
    return out.put(text, n);
  }
  return out.put(ch);
}

int dump_array_source(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
                      const char* name, int32_t name_length, const void* re, const void* im, int64_t rows,
                      int64_t columns, bool is_double, bool is_single, bool is_char, bool is_logical,
                      int int_size, bool is_unsigned, int digits) {
  DumpOut out(ctx, buffer, capacity, position, fd);
  const ArraySource s{re, im, rows, columns, is_double, is_single, is_char, is_logical, int_size, is_unsigned};
  TN_TRY(dump_name_head(out, name, name_length));
  TN_TRY(dump_array(out, s, digits));
  TN_TRY(dump_name_tail(out, name));
  return out.flush();
}
