// The one complex division: Smith's formula, scaled at the ends of the range.
// Judged against exact power-of-two scaling of its own unscaled bits and
// against the textbook formula in long double (whose range holds |p|^2).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "engine/core/complex_scalar.h"

namespace {

struct Q {
  double re, im;
};

Q divide(double a, double b, double c, double d) {
  Q q;
  cplx::smith_divide(a, b, c, d, q.re, q.im);
  return q;
}

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// |q - (a + bi) / (c + di)| over |(a + bi) / (c + di)|, in units of eps,
// with the quotient formed in long double.
double error_eps(Q q, double a, double b, double c, double d) {
  using L = long double;
  const L m = L(c) * c + L(d) * d;
  const L re = (L(a) * c + L(b) * d) / m, im = (L(b) * c - L(a) * d) / m;
  const L err = std::hypot(L(q.re) - re, L(q.im) - im), mod = std::hypot(re, im);
  return double(err / mod / std::numeric_limits<double>::epsilon());
}

TEST(ComplexDivision, PowersOfTwoScaleTheUnscaledBitsExactly) {
  std::mt19937_64 rng(91);
  std::uniform_real_distribution<double> part(-4.0, 4.0);
  const int shifts[] = {-1016, -1000, -996, -700, -520, 0, 520, 700, 996, 1000, 1020};
  // x 2^j and everything the formula forms from it stay normal.
  auto normal = [](double x, int j) { return x != 0 && std::ilogb(x) + j >= -1020 && std::ilogb(x) + j <= 1020; };
  int checked = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const double a = part(rng), b = part(rng), c = part(rng), d = part(rng);
    const Q q = divide(a, b, c, d);
    for (int j : shifts) {
      for (int k : shifts) {
        // Operands and quotient normal: then the scaled division is exact.
        const int lo = std::ilogb(std::fmin(std::fabs(q.re), std::fabs(q.im))) + j - k;
        const int hi = std::ilogb(std::fmax(std::fabs(q.re), std::fabs(q.im))) + j - k;
        if (!normal(a, j) || !normal(b, j) || !normal(c, k) || !normal(d, k) || lo < -1020 || hi > 1020) continue;
        const Q s = divide(std::ldexp(a, j), std::ldexp(b, j), std::ldexp(c, k), std::ldexp(d, k));
        ASSERT_TRUE(same_bits(s.re, std::ldexp(q.re, j - k)) && same_bits(s.im, std::ldexp(q.im, j - k)))
            << "(" << a << ", " << b << ") 2^" << j << " / (" << c << ", " << d << ") 2^" << k;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 20000);
}

TEST(ComplexDivision, EndsOfTheRangeAgainstLongDouble) {
  const double sub = 0x1p-1060;  // subnormal
  const struct {
    double a, b, c, d;
  } cases[] = {
      {2, 0, 1e200, 1e200},              // 1e-200 - 1e-200i
      {1, 0, 1e-300, 1e-300},            // 5e299 - 5e299i
      {1e300, 1e300, 1e-5, 3e-6},        // the quotient near the top
      {3e-300, -4e-300, 1e7, 2e7},       // and near the bottom
      {1e308, 1e308, 1.5, 0.5},          // numerator parts at the top
      {1e308, -1e308, 1e308, 1e308},
      {3 * sub, sub, 2 * sub, 5 * sub},  // every part subnormal
      {1e-310, 2e-310, 1e-300, 3e-301},
      {1, 2, 3 * sub, sub},              // a subnormal divisor: the quotient overflows
      {1e-20, 3e-21, 7 * sub, 2 * sub},  // a subnormal divisor, a normal quotient
      {5, 7, 0x1p-1022, 0x1p1023},       // parts of the divisor 2^2045 apart
      {0x1p1023, 0x1p-1074, 0x1p-1074, 0x1p-2},
  };
  for (const auto& t : cases) {
    const Q q = divide(t.a, t.b, t.c, t.d);
    if (std::isinf(q.re) || std::isinf(q.im)) {
      // Only a quotient beyond the range may overflow.
      EXPECT_GT(std::hypot(t.a, t.b) / std::hypot(t.c, t.d), 1.7e308) << t.a << " " << t.c;
      continue;
    }
    EXPECT_LE(error_eps(q, t.a, t.b, t.c, t.d), 2.0) << "(" << t.a << ", " << t.b << ") / (" << t.c << ", " << t.d << ")";
  }
}

TEST(ComplexDivision, RandomScalesAgainstLongDouble) {
  std::mt19937_64 rng(92);
  std::uniform_real_distribution<double> mant(0.5, 1.0);
  std::uniform_int_distribution<int> expo(-1074, 1023), sign(0, 1);
  auto draw = [&] { return (sign(rng) ? -1.0 : 1.0) * std::ldexp(mant(rng), expo(rng)); };
  double worst = 0;
  for (int trial = 0; trial < 100000; ++trial) {
    const double a = draw(), b = draw(), c = draw(), d = draw();
    using L = long double;
    const L m = L(c) * c + L(d) * d;
    const L re = (L(a) * c + L(b) * d) / m, im = (L(b) * c - L(a) * d) / m;
    const L mod = std::hypot(re, im);
    // Judged where the quotient's modulus is a normal double.
    if (!(mod > 0x1p-1000L && mod < 0x1p1020L)) continue;
    worst = std::fmax(worst, error_eps(divide(a, b, c, d), a, b, c, d));
  }
  EXPECT_LE(worst, 2.0);
}

TEST(ComplexDivision, ReciprocalKeepsTheSignsOfTheConjugateForm) {
  // conj(p) / |p|^2 for the zero parts; a zero divisor is 0 / 0.
  const struct {
    double c, d, re, im;
  } cases[] = {
      {2, 0, 0.5, -0.0}, {2, -0.0, 0.5, 0.0}, {-2, 0, -0.5, -0.0}, {0, 2, 0, -0.5},
      {-0.0, 2, -0.0, -0.5}, {0, -4, 0, 0.25}, {0x1p-1000, 0x1p-1000, 0x1p999, -0x1p999},
  };
  for (const auto& t : cases) {
    double re, im;
    cplx::reciprocal(t.c, t.d, re, im);
    EXPECT_TRUE(same_bits(re, t.re) && same_bits(im, t.im)) << t.c << " " << t.d << ": " << re << " " << im;
  }
  double re, im;
  cplx::reciprocal(0.0, 0.0, re, im);
  EXPECT_TRUE(std::isnan(re) && std::isnan(im));
  // Only for a real dividend does the division itself give a/0 on a zero divisor.
  const Q q = divide(3, 0, 0, 0);
  EXPECT_EQ(q.re, INFINITY);
  EXPECT_EQ(q.im, 0.0);
}

}  // namespace
