// Error, gamma and beta kernels. erf, erfc and ln Gamma come from the C++
// library (they are accurate to a few units in the last place, which the
// short series and fractions are not); everything built on them follows the
// iterations of this library: Newton steps for erfinv and erfc's inverse, a
// rational form on [1, 2] with Stirling's series for Gamma, continued
// fractions by Lentz, an asymptotic expansion for I_x(a, b) of one large and
// one small shape. Each incomplete function gives both of its tails, each
// to its own relative accuracy wherever it is the smaller.
#include "numlib/special/special_kernels.h"

#include <cmath>
#include <limits>
#include <utility>

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
// Terms of the series and continued fractions before giving up. Near x = a
// the incomplete gamma forms need about 8 sqrt(a) terms, so their limit
// grows with a.
constexpr int kMaxTerms = 1000;
constexpr double kTermsPerRootShape = 16;
// Largest n whose factorial is a finite double.
constexpr double kLargestFactorial = 170;
// Stirling's series is used from here up.
constexpr double kStirlingFrom = 12;
// Where a variable or tail changes from its own form to 1 minus the other.
constexpr double kHalf = 0.5;
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

int gamma_term_limit(double a) {
  const double n = kMaxTerms + kTermsPerRootShape * std::sqrt(std::fabs(a));
  return n < INT32_MAX ? int(n) : INT32_MAX;
}

// From this shape on, the incomplete gamma prefactor is formed around x = a
// with Stirling's series for ln Gamma(a); its last term left out is below
// 2^-52 there.
constexpr double kPrefactorStirlingFrom = 16;
constexpr double kStirlingTail[5] = {1.0 / 12, -1.0 / 360, 1.0 / 1260, -1.0 / 1680, 1.0 / 1188};

// ln Gamma(a) - ((a - 1/2) ln a - a + ln(2 pi) / 2), for a >= 16.
double stirling_tail(double a) {
  const double r = 1 / (a * a);
  double s = kStirlingTail[4];
  for (int i = 3; i >= 0; --i) s = s * r + kStirlingTail[i];
  return s / a;
}

// ln(1 + d) - d for |d| <= 1/2, without the cancellation near 0: with
// r = d / (2 + d),
// ln(1 + d) = 2 atanh(r) and d - 2r = r d, so the value is
// -r d + 2 (r^3 / 3 + r^5 / 5 + ...), whose terms do not cancel.
double log1p_minus(double d) {
  const double r = d / (2 + d), r2 = r * r;
  double sum = 0, power = r * r2;
  for (int k = 3; k < 100; k += 2) {
    const double term = power / k;
    sum += term;
    if (std::fabs(term) <= std::fabs(sum) * kSpecialEps) break;
    power *= r2;
  }
  return -r * d + 2 * sum;
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

namespace {

// Newton steps of erfc_inverse: quadratic convergence from the rational
// start takes three or four, the rest is a guard.
constexpr int kErfcInverseSteps = 12;
// Where erfc_inverse leaves the tail form for erfinv of 1 - q (exact there).
constexpr double kErfcCentralLow = 0.5;
constexpr double kErfcConverged = 0x1p-30;
constexpr double kSqrtPi = 1.7724538509055159;
// Terms of erfc's asymptotic series past x = 26: the first left out is
// below 2^-60 there.
constexpr int kErfcAsymptoticTerms = 8;

// ln erfc(x) and its slope for x >= 26 (where erfc(x) may be below the
// normal doubles): erfc(x) = e^-x^2 / (x sqrt(pi)) S, S the series in
// 1 / (2 x^2), whose slope is -2x / S to the accuracy Newton needs.
double log_erfc_large(double x, double* slope) {
  const double r = 1 / (2 * x * x);
  double term = 1, sum = 1;
  for (int n = 1; n <= kErfcAsymptoticTerms; ++n) {
    term *= -(2 * n - 1) * r;
    sum += term;
  }
  *slope = -2 * x / sum;
  return -x * x - std::log(x * kSqrtPi) + std::log(sum);
}

// erfc_inverse of q below the normal doubles, Newton on the series' log.
double erfc_inverse_subnormal(double q) {
  const double log_q = std::log(q);
  double x = std::sqrt(-log_q - std::log(std::sqrt(-log_q) * kSqrtPi));
  for (int i = 0; i < kErfcInverseSteps; ++i) {
    double slope;
    const double dx = -(log_erfc_large(x, &slope) - log_q) / slope;
    x += dx;
    if (std::fabs(dx) <= kErfcConverged * x) break;
  }
  return x;
}

}  // namespace

double erfc_inverse(double q) {
  if (!(q >= 0 && q <= 2)) return kNaN;
  if (q == 0) return kInf;
  if (q == 2) return -kInf;
  if (q >= kErfcCentralLow && q <= 2 - kErfcCentralLow) return erfinv_kernel(1 - q);
  if (q > 1) return -erfc_inverse(2 - q);
  if (q < std::numeric_limits<double>::min()) return erfc_inverse_subnormal(q);
  // The tail start of erfinv, from q itself rather than from 1 - |y|.
  const double z = std::sqrt(-std::log(q / 2));
  double x = (((1.641345311 * z + 3.429567803) * z - 1.624906493) * z - 1.970840454) /
             ((1.6370678 * z + 3.5438892) * z + 1);
  // Newton on ln erfc(x) = ln q: ln erfc is concave and decreasing, so after
  // the first step the iterates approach the root from above.
  const double log_q = std::log(q);
  for (int i = 0; i < kErfcInverseSteps; ++i) {
    const double e = std::erfc(x);
    if (e == 0) {  // overshot past the doubles: back towards the start
      x *= 0.5;
      continue;
    }
    const double dx = (std::log(e) - log_q) * e / (kTwoOverSqrtPi * std::exp(-x * x));
    x += dx;
    // Newton's error after a step is about the square of the step (the
    // curvature of ln erfc is below x + 1): a step below 2^-30 x leaves less
    // than 2^-60 x (x + 1), under half a unit for every x up to 27.
    if (std::fabs(dx) <= kErfcConverged * x) break;
  }
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

double log_gamma_prefactor(double a, double x) {
  if (a >= kPrefactorStirlingFrom && x > 0 && std::isfinite(x) && std::isfinite(a)) {
    // a ln x - x - ln Gamma(a) = a (ln(1 + d) - d) + ln(a) / 2 - ln(2 pi) / 2
    // - tail, with x = a (1 + d): each term small, none near a ln a. Far
    // from a, 1 + d is better taken as x / a than formed from d.
    const double d = (x - a) / a;
    const double core = std::fabs(d) <= 0.5 ? a * log1p_minus(d) : a * std::log(x / a) - (x - a);
    return core + 0.5 * std::log(a) - kHalfLog2Pi - stirling_tail(a);
  }
  return a * std::log(x) - x - log_gamma_lanczos(a);
}

bool incomplete_gamma_kernel(double a, double x, double* out) {
  double upper;
  return incomplete_gamma_pair(a, x, out, &upper);
}

namespace {

// Below this shape ln Gamma(1 + a) is taken from its Taylor series to the
// tenth power; the first term left out is below 2^-53 of the sum.
constexpr double kLogGamma1pSeriesBelow = 0.03;
constexpr double kEulerGamma = 0.5772156649015329;
constexpr double kZeta[9] = {1.6449340668482264, 1.2020569031595943, 1.0823232337111382,
                             1.0369277551433699, 1.0173430619844491, 1.0083492773819228,
                             1.0040773561979443, 1.0020083928260822, 1.0009945751278181};
// Q(a, x) of shapes below 1 comes from the alternating series of P, not
// from 1 - P, below this x (where the fraction converges slowly).
constexpr double kSmallShapeSeriesBelow = 1.5;

// ln Gamma(1 + a) for small a without rounding 1 + a.
double log_gamma_1p(double a) {
  if (std::fabs(a) >= kLogGamma1pSeriesBelow) return std::lgamma(1 + a);
  double sum = 0, power = -a, k = 1;  // (-a)^k zeta(k) / k for k = 2, 3, ...
  for (double zeta : kZeta) {
    power *= -a;
    k += 1;
    sum += zeta * power / k;
  }
  return -kEulerGamma * a + sum;
}

// P and Q for 0 < a < 1 and 0 < x < 1.5: with u = x^a / Gamma(1 + a),
// P = u (1 + a T) and Q = (1 - u) - u a T, T = sum over n >= 1 of
// (-x)^n / (n! (a + n)), so that a small Q keeps its digits.
bool small_shape_gamma_pair(double a, double x, double* lower, double* upper) {
  const double log_u = a * std::log(x) - log_gamma_1p(a);
  double t = 0, term = 1;
  for (int n = 1; n < kMaxTerms; ++n) {
    term *= -x / n;
    const double add = term / (a + n);
    t += add;
    if (std::fabs(add) <= kSpecialEps * 0.25 * std::fabs(t)) {
      const double u = std::exp(log_u);
      *lower = u + u * a * t;
      *upper = -std::expm1(log_u) - u * a * t;
      return true;
    }
  }
  return false;
}

}  // namespace

bool incomplete_gamma_pair(double a, double x, double* lower, double* upper) {
  if (x == kInf && a >= 0) {
    *lower = 1;
    *upper = 0;
    return true;
  }
  if (a > 0 && a < 1 && x > 0 && x < kSmallShapeSeriesBelow) return small_shape_gamma_pair(a, x, lower, upper);
  const double g = log_gamma_prefactor(a, x);
  const int limit = gamma_term_limit(a);
  if (!(x >= a + 1) && !(a < 1 && x >= kSmallShapeSeriesBelow)) {  // NaN takes the series
    double ap = a, d = 1 / a, s = d;
    for (int i = 0; i < limit; ++i) {
      ap += 1;
      d = d * x / ap;
      s += d;
      if (std::fabs(d) < std::fabs(s) * kSpecialEps) {
        *lower = s * std::exp(g);
        *upper = 1 - *lower;
        return true;
      }
    }
    return false;
  }
  double b = x + 1 - a, c = kHuge, d = 1 / b, h = d;
  for (int i = 1; i < limit; ++i) {
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
      *upper = std::exp(g) * h;
      *lower = 1 - *upper;
      return true;
    }
  }
  return false;
}

double log_beta(double a, double b) {
  if (!(a >= 0 && b >= 0)) return kNaN;
  if (a > b) std::swap(a, b);
  if (b >= kPrefactorStirlingFrom && a > 0 && std::isfinite(b)) {
    // ln Gamma(b) - ln Gamma(a + b) by Stirling's series, as a difference:
    // both are near b ln b, their difference may be small.
    const double diff = -(b - 0.5) * std::log1p(a / b) - a * std::log(a + b) + a + stirling_tail(b) -
                        stirling_tail(a + b);
    return log_gamma_lanczos(a) + diff;
  }
  return log_gamma_lanczos(a) + log_gamma_lanczos(b) - log_gamma_lanczos(a + b);
}

namespace {

// a (ln(1 + d) - d) with 1 + d = x / x0, x0 = a / c and ln x given: the
// series near d = 0, else ln x - ln x0 itself (1 + d formed from d would
// have lost the digits of a small x / x0).
double scaled_log1p_minus(double a, double c, double d, double log_x) {
  if (std::fabs(d) <= 0.5) return a * log1p_minus(d);
  return a * (log_x - std::log(a / c) - d);
}

// ln(x^s (1 - x)^l / B(s, l)) for a small shape s and a large one l, x
// the small shape's variable: with z = x (s + l) and Stirling's series for
// ln Gamma(l) - ln Gamma(s + l), the value is ln(z^s e^-z / Gamma(s)) +
// s x + l (ln(1 - x) + x) + l (ln(1 + s / l) - s / l) - ln(1 + s / l) / 2 +
// the series' tails, whose terms are all small near the mode (where s ln x,
// l ln(1 - x) and ln B are each near s ln l). False outside that form.
bool mixed_beta_power(double s, double l, double x, double* out) {
  if (!(s > 0 && s < kPrefactorStirlingFrom && l >= kPrefactorStirlingFrom && std::isfinite(l) && x > 0 &&
        x <= kHalf && s / l <= kHalf))
    return false;
  const double c = s + l, z = x * c;
  *out = log_gamma_prefactor(s, z) + s * x + l * log1p_minus(-x) + l * log1p_minus(s / l) -
         0.5 * std::log1p(s / l) - stirling_tail(l) + stirling_tail(c);
  return true;
}

}  // namespace

double log_beta_power(double a, double b, double x, double y) {
  if (!(a >= 0 && b >= 0 && x >= 0 && y >= 0)) return kNaN;
  const bool stirling = a >= kPrefactorStirlingFrom && b >= kPrefactorStirlingFrom &&
                        std::isfinite(a) && std::isfinite(b) && x > 0 && y > 0;
  // x + y = 1: the smaller of the two carries the digits (the other may be
  // 1 minus it, rounded), so both logarithms come from it.
  const bool x_small = x <= y;
  const double lx = x_small ? std::log(x) : std::log1p(-y);
  const double ly = x_small ? std::log1p(-x) : std::log(y);
  if (!stirling) {
    double v;
    if (a < b ? mixed_beta_power(a, b, x, &v) : mixed_beta_power(b, a, y, &v)) return v;
    // a ln x with a = 0 at x = 0 is the empty power, 1.
    return (a == 0 ? 0 : a * lx) + (b == 0 ? 0 : b * ly) - log_beta(a, b);
  }
  // With c = a + b, x0 = a / c, y0 = b / c and Stirling's series for the
  // three ln Gamma: a ln(x / x0) + b ln(y / y0) + ln(a b / c) / 2 - ln(2 pi)
  // / 2 + tails. Writing x = x0 (1 + d1), y = y0 (1 + d2), a d1 + b d2 = 0,
  // so the two logarithms become a (ln(1 + d1) - d1) + b (ln(1 + d2) - d2).
  // c x - a = -(c y - b) is formed once, from the smaller of x and y, with
  // one rounding (the fused product), so that x0 is never rounded.
  const double c = a + b;
  const double t = x_small ? std::fma(x, c, -a) : -std::fma(y, c, -b);
  const double d1 = t / a, d2 = -t / b;
  const double core = scaled_log1p_minus(a, c, d1, lx) + scaled_log1p_minus(b, c, d2, ly);
  return core + 0.5 * (std::log(a) + std::log(b) - std::log(c)) - kHalfLog2Pi + stirling_tail(c) -
         stirling_tail(a) - stirling_tail(b);
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

namespace {

// The asymptotic expansion of I_x(a, b) in incomplete gamma functions for
// a large and b small (DiDonato and Morris): used from these shapes where x
// is near 1, where the continued fraction's denominators 1 - x (...) lose
// the digits of x.
constexpr double kExpansionMinA = 15;
constexpr double kExpansionMaxB = 1;
constexpr int kExpansionTerms = 30;

// I_x(a, b) for a >= 15, b <= 1, with y = 1 - x: with nu = a + (b - 1) / 2
// and z = -nu ln x, I = u (J_0 + sum over n of d_n J_n), u = z^b e^-z /
// (nu^b B(a, b)), J_0 = Q(b, z) e^z / z^b Gamma(b) and the J_n and d_n by
// their recurrences. False where the expansion does not settle.
bool beta_expansion(double a, double b, double x, double y, double* out) {
  const double bm1 = b - 1;
  const double nu = a + bm1 / 2;
  const double lnx = y > kHalf ? std::log(x) : std::log1p(-y);
  const double z = -nu * lnx;
  if (!(b * z > 0)) return false;
  double p, q;
  if (!incomplete_gamma_pair(b, z, &p, &q)) return false;
  if (q == 0) {
    *out = 0;
    return true;
  }
  const double log_r = b * std::log(z) - z - log_gamma_lanczos(b);
  const double log_u = b * std::log(z) - z - log_beta(a, b) - b * std::log(nu);
  double c[kExpansionTerms], d[kExpansionTerms];
  const double v = 0.25 / (nu * nu), t2 = 0.25 * lnx * lnx;
  double j = std::exp(std::log(q) - log_r), sum = j, t = 1, cn = 1, n2 = 0;
  for (int n = 1; n <= kExpansionTerms; ++n) {
    const double bp2n = b + n2;
    j = (bp2n * (bp2n + 1) * j + (z + bp2n + 1) * t) * v;
    n2 += 2;
    t *= t2;
    cn /= n2 * (n2 + 1);
    c[n - 1] = cn;
    double s = 0, coef = b - n;
    for (int i = 1; i < n; ++i) {
      s += coef * c[i - 1] * d[n - 1 - i];
      coef += b;
    }
    d[n - 1] = bm1 * cn + s / n;
    const double dj = d[n - 1] * j;
    sum += dj;
    if (!(sum > 0)) return false;
    if (std::fabs(dj) <= kSpecialEps * sum) {
      *out = std::exp(log_u) * sum;
      return true;
    }
  }
  return false;
}

// The odd Lentz update 1 + e d, 1 + e / c of the fraction for x near 1,
// where e is near -1 and both nearly cancel: 1 + e = ((a + 2m)(a + 2m + 1) -
// (a + m)(a + b + m) x) / ((a + 2m)(a + 2m + 1)) from y = 1 - x, and the
// even step's d - 1 = -ed d (ed = its e times the d before) and c - 1 = ec
// (its e over the c before) carried exactly rather than rounded into d
// and c.
double odd_step_near_one(double a, double b, double y, int m, double e, double ed, double ec, double* c,
                         double* d) {
  const double m2 = 2.0 * m;
  const double one_plus_e =
      (a * (m2 + 1 - b) + m * (3.0 * m + 2 - b) + (a + m) * (a + b + m) * y) / ((a + m2) * (a + m2 + 1));
  double dd = one_plus_e - e * ed * *d;
  if (std::fabs(dd) < kTiny) dd = kTiny;
  double cc = one_plus_e - e * ec / *c;
  if (std::fabs(cc) < kTiny) cc = kTiny;
  *d = 1 / dd;
  *c = cc;
  return *d * *c;
}

}  // namespace

bool incomplete_beta_kernel(double x, double a, double b, double* out) {
  if (!(x >= 0 && x <= 1)) {
    *out = kNaN;
    return true;
  }
  double upper;
  return incomplete_beta_pair(x, 1 - x, a, b, out, &upper);
}

bool incomplete_beta_pair(double x, double y, double a, double b, double* lower, double* upper) {
  if (!(x >= 0 && x <= 1)) {
    *lower = *upper = kNaN;
    return true;
  }
  // The expansion for a large shape and a small one, in whichever order it
  // applies, gives its tail where that is the smaller: the fraction's side
  // of the mean may hold the larger tail when the shapes are this far apart.
  double v;
  if (a >= kExpansionMinA && b <= kExpansionMaxB && b > 0 && x > kHalf && beta_expansion(a, b, x, y, &v) &&
      v <= kHalf) {
    *lower = v;
    *upper = 1 - v;
    return true;
  }
  if (b >= kExpansionMinA && a <= kExpansionMaxB && a > 0 && y > kHalf && beta_expansion(b, a, y, x, &v) &&
      v <= kHalf) {
    *upper = v;
    *lower = 1 - v;
    return true;
  }
  // The prefactor x^a y^b / B(a, b), which only the fraction needs.
  const double bt = (x == 0 || y == 0) ? 0.0 : std::exp(log_beta_power(a, b, x, y));
  const bool swap = (a + 1) / (a + b + 2) <= x;
  if (swap) {
    std::swap(a, b);
    std::swap(x, y);
  }
  // The first denominator 1 - (a + b) x / (a + 1) = ((a + 1) - (a + b) x) /
  // (a + 1) nearly cancels near the mean of large shapes: formed with one
  // rounding, from y = 1 - x where x is near 1 and has lost its digits.
  const double first = x <= kHalf ? std::fma(-(a + b), x, a + 1) : std::fma(a + b, y, 1 - b);
  double c = 1, d = first / (a + 1);
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1 / d;
  double h = d;
  const int limit = gamma_term_limit(std::fmax(a, b));
  const bool near_one = x > kHalf;
  for (int m = 1; m < limit; ++m) {
    const double m2 = 2.0 * m;
    const double even = m * (b - m) * x / ((a - 1 + m2) * (a + m2));
    const double d_before = d, c_before = c;
    h *= lentz_step(even, &c, &d);
    const double odd = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
    double f;
    if (near_one) {
      f = odd_step_near_one(a, b, y, m, odd, even * d_before, even / c_before, &c, &d);
    } else {
      f = lentz_step(odd, &c, &d);
    }
    h *= f;
    if (std::fabs(f - 1) < kSpecialEps) {
      const double v = bt * h / a;
      *lower = swap ? 1 - v : v;
      *upper = swap ? v : 1 - v;
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
