// The style grammar: an alternative holds at most one colour character and
// one other character, in either order; a second character of the same class
// opens the next alternative. The character masks are exact: every
// non-colour character keeps only the colour index and the thick bit.
#include "graphics/plotlist/plot_style.h"

namespace {

constexpr uint32_t kKeepForLower = 0xfbf0;  // clears index, bit 10 and bits 16-31
constexpr uint32_t kKeepForUpper = 0xfbc0;  // also clears thick and fill
constexpr uint32_t kKeepForKind = 0x17;     // index and thick bit
constexpr char kFirstStyleChar = ' ';
constexpr char kLastStyleChar = 'y';
constexpr int32_t kShortHexClose = 5;  // h ( d d d )
constexpr int32_t kLongHexClose = 8;   // h ( dd dd dd )
constexpr int kShortDigitScale = 17;   // f -> ff

constexpr char kColourLetters[] = "kbgcrmyw";  // index 0..7

int colour_index(char ch) {
  const char lower = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
  for (int i = 0; i < 8; ++i)
    if (kColourLetters[i] == lower) return i;
  return -1;
}

bool is_colour_char(char ch) { return ch == 'h' || ch == 'H' || colour_index(ch) >= 0; }

struct KindChar {
  char ch;
  uint32_t bits;  // ORed into bits & kKeepForKind
};
constexpr KindChar kKindChars[] = {
    {'-', kStyleKindDashed},  {':', kStyleKindDotted},      {'!', kStyleKindDashDot},
    {'n', kStyleKindSolidN},  {' ', kStyleKindInvisible},   {'.', kStyleKindDot},
    {'o', kStyleKindCircle},  {'x', kStyleKindCross},       {'+', kStyleKindPlus},
    {'*', kStyleKindStar},    {'^', kStyleKindTriangleUp},  {'v', kStyleKindTriangleDown},
    {'[', kStyleKindSquare},  {'<', kStyleKindDiamond},     {'f', kStyleBitFill},
    {'s', kStyleBitStairs},   {'a', kStyleBitArrowLast},    {'A', kStyleBitArrowFirst | kStyleBitArrowLast},
    {'_', 0},
};

int hex_digit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// Checks the hexadecimal colour after the 'h' at `at`; writes its colour and
// the position of its ')'.
int read_hex_colour(const char* text, int32_t length, int32_t at, uint8_t rgb[3], int32_t* close) {
  if (at + 1 >= length || text[at + 1] != '(') return kUnknownStyle;
  int32_t digits;
  if (at + kShortHexClose < length && text[at + kShortHexClose] == ')') {
    digits = 3;
  } else if (at + kLongHexClose < length && text[at + kLongHexClose] == ')') {
    digits = 6;
  } else {
    return kUnknownStyle;
  }
  int v[6];
  for (int32_t i = 0; i < digits; ++i)
    if ((v[i] = hex_digit(text[at + 2 + i])) < 0) return kUnknownStyle;
  for (int c = 0; c < 3; ++c)
    rgb[c] = uint8_t(digits == 3 ? v[c] * kShortDigitScale : v[2 * c] * 16 + v[2 * c + 1]);
  *close = at + digits + 2;
  return 0;
}

int apply_char(char ch, const uint8_t* hex_rgb, StyleSpec* spec) {
  if (ch == ',') return 0;
  if (ch < kFirstStyleChar || ch > kLastStyleChar) return kUnknownStyle;
  if (ch == 'h' || ch == 'H') {
    spec->bits = ch == 'h' ? spec->bits & kKeepForLower : (spec->bits & kKeepForUpper) | kStyleBitThick;
    spec->r = hex_rgb[0], spec->g = hex_rgb[1], spec->b = hex_rgb[2];
    return 0;
  }
  const int index = colour_index(ch);
  if (index >= 0) {
    if (ch >= 'a') {
      spec->bits = (spec->bits & kKeepForLower) | uint32_t(index);
      if (ch == 'k') spec->r = spec->g = spec->b = 0;
    } else {
      spec->bits = (spec->bits & kKeepForUpper) | kStyleBitThick | uint32_t(index);
    }
    return 0;
  }
  for (const KindChar& k : kKindChars)
    if (k.ch == ch) {
      spec->bits = (spec->bits & kKeepForKind) | k.bits;
      return 0;
    }
  return kUnknownStyle;
}

}  // namespace

int plotstyle_parse(const char* text, int32_t length, int32_t n, int32_t* count_out, StyleSpec* spec) {
  int32_t c = 0;
  bool inside = false, colour_alternative = false;
  for (int32_t i = 0; i < length; ++i) {
    if (n >= 0 && c > n) break;
    const char ch = text[i];
    if (ch == ',') {
      if (i == 0) return kUnknownStyle;
      inside = false;
      continue;
    }
    const bool colour = is_colour_char(ch);
    if (!inside) {
      if (i != 0) ++c;
      colour_alternative = colour;
      inside = true;
    } else if (colour == colour_alternative) {
      if (c == n) return 0;  // alternative n is complete
      ++c;
    } else {
      inside = false;
    }
    uint8_t rgb[3] = {0, 0, 0};
    int32_t next = i;
    if (ch == 'h' || ch == 'H') {
      const int status = read_hex_colour(text, length, i, rgb, &next);
      if (status != 0) return status;
    }
    if (c == n) {
      const int status = apply_char(ch, rgb, spec);
      if (status != 0) return status;
    }
    i = next;
  }
  if (n < 0 && count_out) *count_out = c + 1;
  return 0;
}

int plotstyle_count(const char* text, int32_t length, int32_t* count_out) {
  return plotstyle_parse(text, length, -1, count_out, nullptr);
}

void style_palette_colour(StyleSpec* spec) {
  const uint32_t index = spec->bits & kStyleBitsIndex;
  if (index == 0) return;
  spec->r = (index & 4) ? 255 : 0;
  spec->g = (index & 2) ? 255 : 0;
  spec->b = (index & 1) ? 255 : 0;
}

int plotstyle_get_nth(const char* text, int32_t length, int32_t n, uint32_t default_bits,
                      const uint8_t* default_rgb, StyleSpec* spec) {
  spec->bits = default_bits;
  spec->r = default_rgb ? default_rgb[0] : 0;
  spec->g = default_rgb ? default_rgb[1] : 0;
  spec->b = default_rgb ? default_rgb[2] : 0;
  if (length <= 0) return 0;
  int32_t count = 1;
  int status = plotstyle_count(text, length, &count);
  if (status != 0) return status;
  if (n < 0) n = 0;
  status = plotstyle_parse(text, length, n % count, nullptr, spec);
  if (status != 0) return status;
  style_palette_colour(spec);
  return 0;
}
