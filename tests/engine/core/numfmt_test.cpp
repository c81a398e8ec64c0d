// Number formatters and the scanner: golden texts byte for byte, capacity
// bounds, and randomised checks of the digits against exact references.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "engine/core/numfmt.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Flags as letters: '-' left, 'U' upper case, '+' plus, ' ' space, '0' zero
// pad, '#' alternate.
struct Flags {
  bool left, upper, plus, space, zero, alt;
  explicit Flags(const char* f) {
    std::string s(f);
    auto has = [&](char c) { return s.find(c) != std::string::npos; };
    left = has('-');
    upper = has('U');
    plus = has('+');
    space = has(' ');
    zero = has('0');
    alt = has('#');
  }
};

std::string fmt(double v, char style, int prec, const char* flags = "", int width = 0,
                int capacity = 512) {
  char buf[2048];
  std::memset(buf, '@', sizeof buf);
  int32_t pos = 0;
  Flags f(flags);
  fmt_double(buf, &pos, v, prec, style, width, f.left, f.upper, f.plus, f.space, f.zero, f.alt, capacity);
  EXPECT_LE(pos, capacity);
  EXPECT_EQ(buf[capacity], '@') << "wrote at the capacity";
  return std::string(buf, pos);
}

std::string cfmt(double re, double im, char style, int prec, const char* flags, int width,
                 char unit = 'i') {
  char buf[512];
  int32_t pos = 0;
  Flags f(flags);
  fmt_complex(buf, &pos, re, im, prec, style, width, f.left, f.upper, unit, f.plus, f.space, f.alt, sizeof buf);
  return std::string(buf, pos);
}

struct Golden {
  double value;
  char style;
  int prec;
  const char* flags;
  int width;
  const char* text;
};

const Golden kGolden[] = {
    // Not finite: fixed words, blank padding only, NaN never signed.
    {kNaN, 'g', 6, "", 0, "nan"},
    {-kNaN, 'g', 6, "U+", 0, "NaN"},
    {kNaN, 'g', 6, "U0", 6, "   NaN"},
    {-kInf, 'f', 2, "", 0, "-inf"},
    {kInf, 'g', 6, "U+", 0, "+Inf"},
    {kInf, 'e', 6, " ", 0, " inf"},
    {kInf, 'g', 6, "-", 6, "inf   "},
    // Negative zero has no sign.
    {-0.0, 'g', 6, "", 0, "0"},
    {-0.0, 'e', 6, "", 0, "0.000000e0"},
    {-0.0, 'f', 2, "", 0, "0.00"},
    // 'g': fixed from 0.1 up to 2e9, scientific elsewhere; trailing digits trimmed.
    {1234567.5, 'g', 6, "", 0, "1234567.5"},
    {2500000000.0, 'g', 6, "", 0, "2.5e9"},
    {1999999999.0, 'g', 6, "", 0, "1999999999"},
    {2000000000.0, 'g', 6, "", 0, "2e9"},
    {0.1, 'g', 6, "", 0, "0.1"},
    {0.09, 'g', 6, "", 0, "9e-2"},
    {0.099, 'g', 6, "", 0, "9.9e-2"},
    {0.05, 'g', 6, "", 0, "5e-2"},
    {123.456, 'g', 6, "", 0, "123.456"},
    {1.00000999, 'g', 4, "", 0, "1"},
    {99999.95, 'g', 6, "", 0, "99999.95"},
    {1e22, 'g', 6, "", 0, "1e22"},
    {1e-5, 'g', 6, "", 0, "1e-5"},
    {1.0 / 3, 'g', 17, "", 0, "0.33333333333333331"},
    {0.3, 'g', 17, "", 0, "0.3"},
    {1e-320, 'g', 6, "", 0, "9.999889e-321"},
    // 'e' and 'f'.
    {1500, 'e', 1, "", 0, "1.5e3"},
    {1500, 'e', 1, "U", 0, "1.5E3"},
    {1000, 'e', 0, "", 0, "1e3"},
    {1e300, 'e', 2, "", 0, "1.00e300"},
    // A mantissa that rounds up to 10 carries into the exponent, in every
    // style that writes one.
    {9.9999999, 'e', 2, "", 0, "1.00e1"},
    {9.5, 'e', 0, "", 0, "1e1"},
    {-9.96, 'e', 1, "", 8, "  -1.0e1"},
    {9.99999e-3, 'g', 4, "", 0, "1e-2"},
    {0.0999999999, 'g', 4, "", 0, "1e-1"},
    {9.9999999e9, 'g', 4, "", 0, "1e10"},
    {9.99999999e99, 'e', 3, "", 0, "1.000e100"},
    {9.9999999e18, 'f', 2, "", 0, "1.00e19"},
    {9.99e-5, 'k', 1, "", 0, "1e-4"},
    {9.96e9, 'k', 1, "", 0, "1e10"},
    {9.96e9, 'K', 1, "", 0, "1e10"},
    {double(3.4e38f), 'g', 4, "", 0, "3.4e38"},
    {double(1e38f), 'g', 4, "", 0, "1e38"},
    {0.1, 'e', 16, "", 0, "1.0000000000000001e-1"},
    {5e-324, 'e', 3, "", 0, "4.941e-324"},
    {1.7976931348623157e308, 'e', 16, "", 0, "1.7976931348623157e308"},
    {3e18, 'f', 6, "", 0, "3.000000e18"},
    {1e18, 'f', 0, "", 0, "1000000000000000000"},
    {0.1, 'f', 20, "", 0, "0.10000000000000000555"},
    {2.5, 'f', 0, "", 0, "3"},
    {0.125, 'f', 2, "", 0, "0.13"},
    {5e-7, 'f', 6, "", 0, "0.000000"},
    {1e-7, 'f', 6, "", 0, "0.000000"},
    {3, 'g', 6, "#", 0, "3."},
    {3, 'f', 0, "#", 0, "3."},
    // Other style letters: 'g' without fraction digits.
    {2.5, 'd', 6, "", 0, "3"},
    {1e10, 'x', 6, "", 0, "1e10"},
    // Width, signs and zero padding.
    {-3.5, 'f', 1, "0", 8, "-00003.5"},
    {3.5, 'f', 1, "+0", 7, "+0003.5"},
    {3.5, 'f', 1, " 0", 7, " 0003.5"},
    {3.5, 'f', 1, "0", 7, "00003.5"},
    {-3.5, 'f', 1, "", 8, "    -3.5"},
    {-3.5, 'f', 1, "-", 8, "-3.5    "},
    {3.5, 'g', 6, "+", 0, "+3.5"},
    // 'k' and 'K': the shortest of fixed, scientific and whole-number mantissa.
    {0.000123, 'k', 6, "", 0, "123e-6"},
    {1000, 'k', 6, "", 0, "1e3"},
    {1000, 'K', 6, "", 0, "1000"},
    {12000, 'k', 6, "", 0, "12e3"},
    {12000, 'K', 6, "", 0, "12000"},
    {120000, 'K', 6, "", 0, "12e4"},
    {1.5, 'k', 6, "", 0, "1.5"},
    {1234.5, 'k', 6, "", 0, "1234.5"},
    {0.5, 'k', 6, "", 0, "0.5"},
    {0.099, 'k', 6, "", 0, "0.099"},
    {1.0 / 3, 'k', 6, "", 0, "0.3333333"},
    {0.0, 'k', 6, "", 0, "0"},
    {1e-10, 'k', 6, "", 0, "1e-10"},
    {123456789012.0, 'k', 6, "", 0, "1234568e5"},
    {1.5e18, 'K', 6, "", 0, "15e17"},
    {9.99, 'k', 1, "", 0, "10"},
};

TEST(NumFmt, GoldenDoubles) {
  for (const Golden& g : kGolden)
    EXPECT_EQ(fmt(g.value, g.style, g.prec, g.flags, g.width), g.text)
        << g.value << " '" << g.style << "' prec " << g.prec << " flags \"" << g.flags << "\" width "
        << g.width;
}

TEST(NumFmt, ComplexForms) {
  EXPECT_EQ(cfmt(2, -3, 'g', 6, "", 0), "2 -3i");
  EXPECT_EQ(cfmt(2, -3, 'g', 6, "-", 0), "2-3i");
  EXPECT_EQ(cfmt(2, -3, 'g', 6, "-U", 0, 'j'), "2-3J");
  EXPECT_EQ(cfmt(2, 3, 'g', 6, "", 0, 'j'), "2 +3j");
  // Each part gets (width - 2) / 2; an odd width adds a blank after the sign.
  EXPECT_EQ(cfmt(2, -3, 'g', 6, "", 10), "   2 -   3i");
  EXPECT_EQ(cfmt(2, -3, 'g', 6, "", 11), "   2 -    3i");
  EXPECT_EQ(cfmt(-1.5, 0.25, 'f', 2, "+", 0), "-1.50 +0.25i");
  EXPECT_EQ(cfmt(1.5, 2, 'e', 1, "-", 0), "1.5e0+2.0e0i");
  // A negligible or zero imaginary part looks real, padded to the width.
  EXPECT_EQ(cfmt(1, 1e-20, 'g', 6, "", 10), "   1      ");
  EXPECT_EQ(cfmt(1, 0, 'g', 6, "-", 4), "1   ");
  EXPECT_EQ(cfmt(1, -0.0, 'g', 6, "", 0), "1");
  EXPECT_EQ(cfmt(1, kNaN, 'g', 6, "", 0), "1 +nani");
  EXPECT_EQ(cfmt(0, -kInf, 'g', 6, "-", 0), "0-infi");
}

std::string ifmt32(int32_t v, bool is_unsigned, int width, const char* flags, int min_digits) {
  char buf[128];
  int32_t pos = 0;
  Flags f(flags);
  fmt_int32_dec(buf, &pos, v, is_unsigned, width, f.left, f.plus, f.space, min_digits, sizeof buf);
  return std::string(buf, pos);
}

std::string ifmt64(int64_t v, bool is_unsigned, int width, const char* flags, int min_digits) {
  char buf[128];
  int32_t pos = 0;
  Flags f(flags);
  fmt_int64_dec(buf, &pos, v, is_unsigned, width, f.left, f.plus, f.space, min_digits, sizeof buf);
  return std::string(buf, pos);
}

std::string hex(uint64_t v, bool wide, int width, const char* flags, int min_digits) {
  char buf[128];
  int32_t pos = 0;
  Flags f(flags);
  if (wide)
    fmt_int64_hex(buf, &pos, v, width, f.left, f.upper, f.alt, min_digits, sizeof buf);
  else
    fmt_uint_hex(buf, &pos, static_cast<uint32_t>(v), width, f.left, f.upper, f.alt, min_digits, sizeof buf);
  return std::string(buf, pos);
}

std::string oct(uint64_t v, bool wide, int width, const char* flags, int min_digits) {
  char buf[128];
  int32_t pos = 0;
  Flags f(flags);
  if (wide)
    fmt_int64_oct(buf, &pos, v, width, f.left, f.alt, min_digits, sizeof buf);
  else
    fmt_uint_oct(buf, &pos, static_cast<uint32_t>(v), width, f.left, f.alt, min_digits, sizeof buf);
  return std::string(buf, pos);
}

TEST(NumFmt, Integers) {
  EXPECT_EQ(ifmt32(-42, false, 6, "", 0), "   -42");
  EXPECT_EQ(ifmt32(-42, false, 6, "-", 0), "-42   ");
  EXPECT_EQ(ifmt32(42, false, 0, "+", 0), "+42");
  EXPECT_EQ(ifmt32(42, false, 0, " ", 0), " 42");
  EXPECT_EQ(ifmt32(-42, false, 8, "", 5), "  -00042");
  EXPECT_EQ(ifmt32(0, false, 0, "", 0), "");
  EXPECT_EQ(ifmt32(0, false, 3, "", 1), "  0");
  EXPECT_EQ(ifmt32(INT32_MIN, false, 0, "", 0), "-2147483648");
  EXPECT_EQ(ifmt32(-1, true, 0, "", 0), "4294967295");
  EXPECT_EQ(ifmt64(INT64_MIN, false, 0, "", 0), "-9223372036854775808");
  EXPECT_EQ(ifmt64(-1, true, 0, "", 0), "18446744073709551615");
  EXPECT_EQ(ifmt64(7, false, -3, "-", 0), "7");

  EXPECT_EQ(hex(255, false, 6, "#", 0), "  0xff");
  EXPECT_EQ(hex(255, false, 0, "#U", 0), "0xFF");
  EXPECT_EQ(hex(255, false, 6, "-", 4), "00ff  ");
  EXPECT_EQ(hex(0, false, 0, "#", 0), "");
  EXPECT_EQ(hex(0, false, 0, "#", 1), "0");
  EXPECT_EQ(hex(~0ull, true, 0, "#", 0), "0xffffffffffffffff");
  EXPECT_EQ(hex(0x1234abcdull, false, 0, "U", 0), "1234ABCD");

  EXPECT_EQ(oct(8, false, 0, "#", 0), "010");
  EXPECT_EQ(oct(8, false, 0, "#", 2), "10");
  EXPECT_EQ(oct(8, false, 5, "", 0), "   10");
  EXPECT_EQ(oct(0, false, 0, "#", 0), "");
  EXPECT_EQ(oct(~0ull, true, 0, "#", 0), "01777777777777777777777");
}

// Every formatter stops short of the capacity; the double formatter keeps the
// two bytes its digit test demands.
TEST(NumFmt, CapacityBounds) {
  EXPECT_EQ(fmt(12345, 'f', 0, "", 0, 4), "12");
  EXPECT_EQ(fmt(1.5, 'e', 1, "", 0, 8), "1.5");  // no room for the exponent
  EXPECT_EQ(fmt(1.5, 'e', 1, "", 0, 9), "1.5e0");
  EXPECT_EQ(fmt(-3.5, 'f', 1, "0", 8, 10), "-3.5");  // padding that does not fit is left out
  EXPECT_EQ(fmt(-3.5, 'f', 1, "0", 8, 11), "-00003.5");
  EXPECT_EQ(fmt(1.0 / 3, 'f', 1000000, "", 0, 50).size(), 48u);
  EXPECT_EQ(fmt(1.0 / 3, 'e', INT32_MAX, "", 0, 30).size(), 28u);
  EXPECT_EQ(fmt(kNaN, 'g', 6, "", 40, 10), std::string(9, ' '));
  EXPECT_EQ(fmt(0.5, 'g', 6, "-", 1000, 20), "0.5" + std::string(16, ' '));

  char buf[32];
  std::memset(buf, '@', sizeof buf);
  int32_t pos = 0;
  fmt_int64_dec(buf, &pos, INT64_MIN, false, 0, false, false, false, 0, 10);
  EXPECT_EQ(std::string(buf, pos), "-92233720");
  EXPECT_EQ(buf[10], '@');
  pos = 0;
  fmt_int32_dec(buf, &pos, 5, false, 0, false, false, false, 1000000, 16);
  EXPECT_EQ(pos, 15);
  pos = 0;
  fmt_complex(buf, &pos, 1, 2, 6, 'g', 0, false, false, 'i', false, false, false, 4);
  EXPECT_EQ(std::string(buf, pos), "1");  // no room for an imaginary part
}

struct Scan {
  const char* text;
  bool ok;
  double value;
  int32_t end;
};

TEST(NumFmt, ScanNumber) {
  const Scan cases[] = {
      {"  -1.5e3x", true, -1500, 8},
      {"e5", false, 0, 0},
      {"  \t-", false, 0, 4},
      {"+x", false, 0, 1},
      // A trailing 'e' is not an exponent; an 'e' followed by anything is one.
      {"1e", true, 1, 1},
      {"1ex", true, 1, 2},
      {"1e+", true, 1, 3},
      {"2E-2", true, 0.02, 4},
      {".", true, 0, 1},
      {"+.5", true, 0.5, 3},
      {"5.", true, 5, 2},
      {"0.3", true, 0.3, 3},
      {"0.1e1", true, 1, 5},
      {"123456789012345678901234567890", true, 1.2345678901234568e29, 30},
      {"2.2250738585072012e-308", true, 2.2250738585072014e-308, 23},
      {"4.9406564584124654e-324", true, 5e-324, 23},
      {"1e999999999999", true, kInf, 14},
      {"-1e400", true, -kInf, 6},
      {"1e-99999999999", true, 0, 14},
      {"9007199254740993", true, 9007199254740992.0, 16},
      {"9007199254740993.000000001", true, 9007199254740994.0, 26},
  };
  for (const Scan& c : cases) {
    int32_t pos = 0;
    double v = -777;
    bool ok = scan_number(c.text, -1, &pos, &v);
    EXPECT_EQ(ok, c.ok) << c.text;
    EXPECT_EQ(pos, c.end) << c.text;
    if (c.ok)
      EXPECT_EQ(std::bit_cast<uint64_t>(v), std::bit_cast<uint64_t>(c.value)) << c.text;
    else
      EXPECT_EQ(v, -777) << c.text;
  }

  double v = 1;
  EXPECT_TRUE(scan_number("-.", -1, nullptr, &v));
  EXPECT_TRUE(std::signbit(v) && v == 0);
  int32_t pos = 2;
  EXPECT_TRUE(scan_number("xx12yy", 4, &pos, &v));  // the length ends the text
  EXPECT_EQ(v, 12);
  EXPECT_EQ(pos, 4);

  // Long runs: leading zeros move the point, the exponent brings it back;
  // digits past those the rounding can need still decide it.
  std::string s = "0." + std::string(400, '0') + "1e401";
  EXPECT_TRUE(scan_number(s.c_str(), -1, nullptr, &v));
  EXPECT_EQ(v, 1);
  s = "9007199254740993" + std::string(900, '0') + "1e-901";  // just above a tie
  EXPECT_TRUE(scan_number(s.c_str(), -1, nullptr, &v));
  EXPECT_EQ(v, 9007199254740994.0);
  s = "9007199254740993" + std::string(900, '0') + "e-900";  // the tie itself: to even
  EXPECT_TRUE(scan_number(s.c_str(), -1, nullptr, &v));
  EXPECT_EQ(v, 9007199254740992.0);
}

double random_finite(std::mt19937_64& rng) {
  for (;;) {
    double v = std::bit_cast<double>(rng());
    if (std::isfinite(v)) return v;
  }
}

TEST(NumFmt, RoundTripSeventeenDigits) {
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 20000; ++i) {
    double v = i % 4 == 0 ? std::ldexp(double(rng() >> 11), int(rng() % 200) - 100) : random_finite(rng);
    std::string text = fmt(v, 'e', 16, "", 0, 64);
    double back = 0;
    int32_t pos = 0;
    ASSERT_TRUE(scan_number(text.c_str(), static_cast<int32_t>(text.size()), &pos, &back)) << text;
    ASSERT_EQ(pos, static_cast<int32_t>(text.size())) << text;
    double expect = v == 0 ? 0.0 : v;  // zero prints unsigned
    ASSERT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(expect)) << text;
  }
}

// The digits of 'e' and 'f' match an exact reference except on exact ties,
// which round half up here (half to even in the reference).
std::string reference(double a, char style, int prec, bool* tie) {
  char ref[1200], wide[1200];
  std::snprintf(ref, sizeof ref, style == 'e' ? "%.*e" : "%.*f", prec, a);
  std::snprintf(wide, sizeof wide, style == 'e' ? "%.*e" : "%.*f", prec + 800, a);
  // The digit after the last one kept is 5 and all the rest are 0.
  char* cut = std::strchr(wide, '.') + prec + 1;
  *tie = cut[0] == '5' && std::strspn(cut + 1, "0") == std::strcspn(cut + 1, "e");
  std::string r(ref);
  if (style == 'e') {  // "1.5e+03" as "1.5e3"
    size_t e = r.find('e');
    int x = std::atoi(r.c_str() + e + 1);
    r = r.substr(0, e) + "e" + std::to_string(x);
  }
  return r;
}

TEST(NumFmt, DigitsMatchExactReference) {
  std::mt19937_64 rng(77);
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    double a = std::fabs(random_finite(rng));
    if (i % 2) a = std::ldexp(double(rng() % 100000), -int(rng() % 20));  // many short fractions
    int prec = static_cast<int>(rng() % 25);
    if (i % 5 == 0)  // just below a power of ten: the rounding carries into the exponent
      a = std::pow(10.0, int(rng() % 60) - 30) * (1 - double(rng() % 1000 + 1) * std::pow(10.0, -prec - 4));
    char style = (i % 3 == 0 && a < 1e15) ? 'f' : 'e';
    if (style == 'f' && a != 0 && a < 0.1) style = 'e';
    bool tie = false;
    std::string want = reference(a, style, prec, &tie);
    if (tie) continue;
    ASSERT_EQ(fmt(a, style, prec, "", 0, 1100), want) << a << " " << style << prec;
    ++compared;
  }
  EXPECT_GT(compared, 3000);
}

}  // namespace
