// Label forms of one axis. Values arrive as whole numbers of one unit
// 10^exp (the label step's), so an offset and a power of ten are taken off
// exactly; every candidate form is written and measured, and the best that
// fits wins. Nothing here draws.
#include "graphics/render/tick_label_form.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

// Values and offsets stay below 10^18, so that no difference overflows.
constexpr int32_t kMaxDigits = 18;
constexpr int64_t kPow10[kMaxDigits + 1] = {1,
                                             10,
                                             100,
                                             1000,
                                             10000,
                                             100000,
                                             1000000,
                                             10000000,
                                             100000000,
                                             1000000000,
                                             10000000000,
                                             100000000000,
                                             1000000000000,
                                             10000000000000,
                                             100000000000000,
                                             1000000000000000,
                                             10000000000000000,
                                             100000000000000000,
                                             1000000000000000000};
constexpr char kTimes[] = "\xC3\x97";  // the multiplication sign, in UTF-8
constexpr int32_t kEngineeringStep = 3;
// Score weights: an offset weighs more than any factor, a factor off the
// powers of a thousand more than any length, a length more than a shift.
constexpr int64_t kOffsetWeight = 1000000, kFactorWeight = 10000, kCharWeight = 100;

int64_t magnitude(int64_t v) { return v < 0 ? -v : v; }

int32_t digit_count(int64_t v) {
  int32_t d = 1;
  while (d <= kMaxDigits && magnitude(v) >= kPow10[d]) ++d;
  return d;
}

int32_t append(char* buf, int32_t pos, const char* text, int32_t n) {
  std::memcpy(buf + pos, text, size_t(n));
  return pos + n;
}

// The offset the labels lo..hi share: the smallest power of ten u for which
// they all lie in one stretch [o, o + u) of a shared prefix (mirrored below
// zero), else within u of the multiple of u nearest their middle. 0 when
// the values need none, false when no such u exists below 10^18.
bool common_offset(int64_t lo, int64_t hi, int64_t* out) {
  for (int32_t j = 1; j <= kMaxDigits; ++j) {
    const int64_t u = kPow10[j];
    if (lo >= 0 || hi <= 0) {
      const bool below = hi <= 0 && lo < 0;
      const int64_t a = below ? -hi : lo, b = below ? -lo : hi;
      if (a / u == b / u) {
        *out = below ? -(a / u) * u : (a / u) * u;
        return true;
      }
    }
    const int64_t mid = lo + (hi - lo) / 2;
    const int64_t q = mid >= 0 ? (mid + u / 2) / u : -((u / 2 - mid) / u);
    const int64_t o = q * u;
    if (magnitude(lo - o) < u && magnitude(hi - o) < u) {
      *out = o;
      return true;
    }
  }
  return false;
}

int32_t write_note(const TickLabelForm& f, char* buf) {
  int32_t pos = 0;
  const int32_t power = f.exp + f.shift;
  if (power != 0) {
    pos = append(buf, pos, kTimes, int32_t(sizeof kTimes - 1));
    pos = append(buf, pos, "1e", 2);
    pos = int32_t(std::to_chars(buf + pos, buf + kTickNoteBytes, power).ptr - buf);
  }
  if (f.offset != 0) {
    if (pos > 0) buf[pos++] = ' ';
    if (f.offset > 0) buf[pos++] = '+';
    pos += tick_decimal_text(f.offset, f.exp, kLabelFixedLow, kLabelFixedHigh, buf + pos);
  }
  return pos;
}

}  // namespace

int32_t tick_decimal_text(int64_t n, int32_t exp, int32_t fixed_low, int32_t fixed_high, char* buf) {
  if (n == 0) {
    buf[0] = '0';
    return 1;
  }
  uint64_t u = n < 0 ? uint64_t(0) - uint64_t(n) : uint64_t(n);
  while (u % 10 == 0) u /= 10, ++exp;
  char d[24];
  const int32_t nd = int32_t(std::to_chars(d, d + sizeof d, u).ptr - d);
  const int32_t lead = nd - 1 + exp;  // the leading digit stands at 10^lead
  const bool fixed = lead >= fixed_low && (lead < fixed_high || (lead == fixed_high && d[0] < '2'));
  int32_t pos = 0;
  if (n < 0) buf[pos++] = '-';
  if (!fixed) {
    buf[pos++] = d[0];
    if (nd > 1) buf[pos++] = '.', pos = append(buf, pos, d + 1, nd - 1);
    buf[pos++] = 'e';
    return int32_t(std::to_chars(buf + pos, buf + kTickDecimalBytes, lead).ptr - buf);
  }
  if (exp >= 0) {
    pos = append(buf, pos, d, nd);
    for (int32_t k = 0; k < exp; ++k) buf[pos++] = '0';
    return pos;
  }
  if (lead < 0) {
    pos = append(buf, pos, "0.", 2);
    for (int32_t k = 0; k < -lead - 1; ++k) buf[pos++] = '0';
    return append(buf, pos, d, nd);
  }
  pos = append(buf, pos, d, lead + 1);
  buf[pos++] = '.';
  return append(buf, pos, d + lead + 1, nd - lead - 1);
}

bool tick_decimal_of(double v, int64_t* n, int32_t* exp) {
  if (!(v != 0) || !(v - v == 0)) return false;  // zero, NaN and infinities
  char text[40];
  const char* end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific).ptr;
  const char* e = static_cast<const char*>(std::memchr(text, 'e', size_t(end - text)));
  if (!e) return false;
  int64_t digits = 0;
  int32_t count = 0;
  for (const char* p = text; p < e; ++p)
    if (*p >= '0' && *p <= '9') digits = 10 * digits + (*p - '0'), ++count;
  int32_t power = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, power);
  *n = text[0] == '-' ? -digits : digits;
  *exp = power - (count - 1);
  return true;
}

int32_t tick_label_form_text(const TickLabelForm& form, int64_t n, char* buf) {
  return tick_decimal_text(n - form.offset, -form.shift, kLabelFixedLow, kLabelFixedHigh, buf);
}

bool tick_label_form_choose(const int64_t* n, int32_t count, int32_t exp, double label_room, double note_room,
                            TickTextWidth width, void* context, TickLabelForm* out) {
  int64_t lo = n[0], hi = n[0];
  for (int32_t k = 1; k < count; ++k) lo = std::min(lo, n[k]), hi = std::max(hi, n[k]);
  if (magnitude(lo) >= kPow10[kMaxDigits] || magnitude(hi) >= kPow10[kMaxDigits]) return false;
  int64_t offsets[2] = {0, 0};
  int32_t kinds = 1;
  if (int64_t o = 0; common_offset(lo, hi, &o) && o != 0) offsets[kinds++] = o;
  int64_t best = -1;
  for (int32_t i = 0; i < kinds; ++i) {
    const int64_t o = offsets[i];
    const int32_t most = digit_count(std::max(magnitude(lo - o), magnitude(hi - o)));
    for (int32_t shift = 0; shift <= most; ++shift) {
      if (o == 0 && exp + shift == 0) continue;  // the plain labels, which did not fit
      TickLabelForm f{o, exp, shift, {}, 0};
      f.note_length = write_note(f, f.note);
      if (width(f.note, f.note_length, context) > note_room) continue;
      int32_t chars = 0;
      bool fits = true;
      for (int32_t k = 0; k < count && fits; ++k) {
        char text[kTickDecimalBytes];
        const int32_t len = tick_label_form_text(f, n[k], text);
        fits = width(text, len, context) <= label_room;
        chars = std::max(chars, len);
      }
      if (!fits) continue;
      const bool thousands = (exp + shift) % kEngineeringStep == 0;
      const int64_t score =
          (o != 0 ? kOffsetWeight : 0) + (thousands ? 0 : kFactorWeight) + chars * kCharWeight + shift;
      if (best < 0 || score < best) best = score, *out = f;
    }
  }
  return best >= 0;
}
