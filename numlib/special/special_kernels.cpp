// Error, gamma and beta kernels. erf, erfc and ln Gamma come from the C++
// library (they are accurate to a few units in the last place, which the
// short series and fractions are not); everything built on them follows the
// iterations of this library: Newton steps for erfinv, a rational form on
// [1, 2] with Stirling's series for Gamma, continued fractions by Lentz.
#include "numlib/special/special_kernels.h"

#include <cmath>
#include <limits>

#include "numlib/special/exact_integer.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoOverSqrtPi = 1.1283791670955126;
constexpr double kHalfLog2Pi = 0.9189385332046728;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Lentz's guard against a zero denominator, and its large reciprocal.
constexpr double kTiny = 2.2251e-308;
constexpr double kHuge = 4.494180036852276e+307;
// Terms of the series and continued fractions before giving up.
constexpr int kMaxTerms = 1000;
// Largest n whose factorial is a finite double.
constexpr double kLargestFactorial = 170;
// Stirling's series is used from here up.
constexpr double kStirlingFrom = 12;
// Below 0.7 in magnitude erfinv starts from the central rational form.
constexpr double kErfinvCentral = 0.7;

// Rational approximation of Gamma on [1, 2], in w = z - 1.
constexpr double kGammaP[8] = {-1.716185138865495,  24.76565080557592,   -379.80425647094563,
                               629.3311553128184,   866.9662027904133,   -31451.272968848367,
                               -36144.413418691176, 66456.14382024054};
constexpr double kGammaQ[8] = {-30.840230011973897, 315.35062697960416, -1015.1563674902192,
                               -3107.771671572311,  22538.11842098015,  4755.846277527881,
                               -134659.9598649693,  -115132.25967555349};
// Stirling's correction S, evaluated from the innermost coefficient out.
constexpr double kStirlingFirst = 0.0057083835261;
constexpr double kStirlingC[6] = {-0.001910444077728,     0.00084171387781295,
                                  -0.0005952379913043012, 0.0007936507935003503,
                                  -0.0027777777777776816, 0.08333333333333333};

double gamma_positive(double x) {
  if (x >= kStirlingFrom) {
    const double x2 = x * x;
    double s = kStirlingFirst;
    for (double c : kStirlingC) s = s / x2 + c;
    const double lg = s / x - x + (x - 0.5) * std::log(x) + kHalfLog2Pi;
    return std::exp(lg);
  }
  const double n = std::floor(x) - 1;
  double z = x - n;
  const double w = z - 1;
  double num = 0, den = 1;
  for (int i = 0; i < 8; ++i) {
    num = (num + kGammaP[i]) * w;
    den = den * w + kGammaQ[i];
  }
  double g = num / den + 1;
  for (double i = 0; i < n; ++i) {
    g *= z;
    z += 1;
  }
  return g;
}

}  // namespace

double erf_kernel(double x, bool complement) { return complement ? std::erfc(x) : std::erf(x); }

double erfinv_kernel(double y) {
  if (y == 1) return kInf;
  if (y == -1) return -kInf;
  if (!(y > -1 && y < 1)) return kNaN;
  double x;
  if (std::fabs(y) < kErfinvCentral) {
    const double z = y * y;
    x = y * (((-0.140543331 * z + 0.914624893) * z - 1.645349621) * z + 0.886226899) /
        ((((0.012229801 * z - 0.329097515) * z + 1.442710462) * z - 2.118377725) * z + 1);
  } else {
    const double z = std::sqrt(-std::log((1 - std::fabs(y)) / 2));
    x = (((1.641345311 * z + 3.429567803) * z - 1.624906493) * z - 1.970840454) /
        ((1.6370678 * z + 3.5438892) * z + 1);
    if (y < 0) x = -x;
  }
  for (int i = 0; i < 2; ++i) x -= (erf_kernel(x, false) - y) / (kTwoOverSqrtPi * std::exp(-x * x));
  return x;
}

double gamma_function_kernel(double x, bool factorial) {
  if (std::isinf(x) || std::isnan(x)) {
    if (factorial && !(x > 0)) return kNaN;
    return x;
  }
  if (factorial) {
    if (x < 0 || std::floor(x + 0.5) != x) return kNaN;
    x += 1;
  }
  double reflect = 0;  // nonzero after a reflection: the numerator pi / sin
  if (x <= 0) {
    const double y = -x;
    const double fy = std::floor(y);
    reflect = kPi / std::sin(kPi * (y - fy));
    if (std::fmod(fy, 2) == 0) reflect = -reflect;
    x = y + 1;
  }
  double g;
  if (x < 1) {
    g = gamma_positive(x + 1) / x;
  } else {
    g = gamma_positive(x);
  }
  if (factorial) return std::floor(g + 0.5);
  return reflect != 0 ? reflect / g : g;
}

double log_gamma_lanczos(double x) {
  if (x > 0) return std::lgamma(x);
  if (x == 0) return kInf;
  return kNaN;
}

bool incomplete_gamma_kernel(double a, double x, double* out) {
  const double g = a * std::log(x) - x - log_gamma_lanczos(a);
  if (!(x >= a + 1)) {  // NaN takes the series
    double ap = a, d = 1 / a, s = d;
    for (int i = 0; i < kMaxTerms; ++i) {
      ap += 1;
      d = d * x / ap;
      s += d;
      if (std::fabs(d) < std::fabs(s) * kSpecialEps) {
        *out = s * std::exp(g);
        return true;
      }
    }
    return false;
  }
  double b = x + 1 - a, c = kHuge, d = 1 / b, h = d;
  for (int i = 1; i < kMaxTerms; ++i) {
    const double an = i * (a - i);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double e = d * c;
    h *= e;
    if (std::fabs(e - 1) < kSpecialEps) {
      *out = 1 - std::exp(g) * h;
      return true;
    }
  }
  return false;
}

double log_beta(double a, double b) {
  if (!(a >= 0 && b >= 0)) return kNaN;
  return log_gamma_lanczos(a) + log_gamma_lanczos(b) - log_gamma_lanczos(a + b);
}

double beta_function_kernel(double a, double b) {
  const double lb = log_beta(a, b);
  return std::isnan(lb) ? lb : std::exp(lb);
}

namespace {

// One Lentz update with both guards; returns the factor d c.
double lentz_step(double e, double* c, double* d) {
  *d = 1 + e * *d;
  if (std::fabs(*d) < kTiny) *d = kTiny;
  *c = 1 + e / *c;
  if (std::fabs(*c) < kTiny) *c = kTiny;
  *d = 1 / *d;
  return *d * *c;
}

}  // namespace

bool incomplete_beta_kernel(double x, double a, double b, double* out) {
  if (!(x >= 0 && x <= 1)) {
    *out = kNaN;
    return true;
  }
  const double bt =
      (x == 0 || x == 1) ? 0.0
                         : std::exp(log_gamma_lanczos(a + b) - log_gamma_lanczos(a) -
                                    log_gamma_lanczos(b) + a * std::log(x) + b * std::log(1 - x));
  const bool swap = (a + 1) / (a + b + 2) <= x;
  if (swap) {
    const double t = a;
    a = b;
    b = t;
    x = 1 - x;
  }
  double c = 1, d = 1 - (a + b) * x / (a + 1);
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1 / d;
  double h = d;
  for (int m = 1; m < kMaxTerms; ++m) {
    const double m2 = 2.0 * m;
    const double even = m * (b - m) * x / ((a - 1 + m2) * (a + m2));
    h *= lentz_step(even, &c, &d);
    const double odd = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
    const double f = lentz_step(odd, &c, &d);
    h *= f;
    if (std::fabs(f - 1) < kSpecialEps) {
      const double v = bt * h / a;
      *out = swap ? 1 - v : v;
      return true;
    }
  }
  return false;
}

double factorial_exact(double n) {
  if (!(n >= 0) || n > kLargestFactorial || std::floor(n + 0.5) != n)
    return gamma_function_kernel(n, true);
  ExactInteger p;
  exact_set(&p, 1);
  for (uint64_t i = 2; i <= static_cast<uint64_t>(n); ++i) exact_mul(&p, i);
  return exact_to_double(&p);
}

double binomial_exact(double n, double k) {
  if (!(k >= 0 && k <= n)) return 0;  // no such subsets (and no endless loop)
  if (n - k < k) k = n - k;
  // C(n - k + i, i) grows with i, so once it passes the limbs it stays +Inf.
  ExactInteger r;
  exact_set(&r, 1);
  const auto nk = static_cast<uint64_t>(n - k);
  const auto kk = static_cast<uint64_t>(k);
  for (uint64_t i = 1; i <= kk && !r.overflow; ++i) {
    exact_mul(&r, nk + i);
    exact_div(&r, i);  // exact: r is now C(nk + i, i)
  }
  return exact_to_double(&r);
}
