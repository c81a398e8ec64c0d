// Complex kernels of the elementary functions. Off the branch cuts they are
// the standard library's (overflow-safe) complex functions or formulas with
// the same care; on the cuts they give the values the real functions give, so
// an element does not change its result when its array happens to be complex
// (a negative zero imaginary part, which a real element never has, takes the
// lower side of the logarithms' cut).
#include "engine/lib/elemfun_complex.h"

#include <cmath>
#include <complex>

#include "engine/lib/elemfun.h"

namespace {

using C = std::complex<double>;

Cx of(C z) { return {z.real(), z.imag()}; }

// Beyond 2^1020 the root's intermediate sums could overflow; below 2^-1000
// subnormal inputs would lose bits. Scaling by a power of 4 scales the root
// by the exact power of 2.
constexpr double kSqrtBig = 0x1p1020;
constexpr double kSqrtTiny = 0x1p-1000;

// expm1 of a complex argument: exp(a) cos b - 1 written without cancellation
// as expm1(a) cos b - 2 sin^2(b/2); for a large exp(a) is split in halves so
// that it overflows only when the result does.
constexpr double kExpSplit = 700.0;

Cx cx_expm1(double a, double b) {
  if (b == 0) return {std::expm1(a), b};
  if (a > kExpSplit) {
    double h = std::exp(a / 2);
    return {h * std::cos(b) * h - 1.0, h * std::sin(b) * h};
  }
  double s = std::sin(b / 2);
  return {std::expm1(a) * std::cos(b) - 2 * s * s, std::exp(a) * std::sin(b)};
}

// log(1 + z): near z = 0 the modulus of 1 + z is formed as log1p of its
// square's excess over 1, which keeps small arguments exact.
constexpr double kLog1pNear = 0.5;

Cx cx_log1p(double a, double b) {
  double re;
  if (std::fabs(a) < kLog1pNear && std::fabs(b) < kLog1pNear)
    re = 0.5 * std::log1p(a * (2 + a) + b * b);
  else
    re = std::log(std::hypot(1 + a, b));
  return {re, std::atan2(b, 1 + a)};
}

Cx cx_sinc(double a, double b) {
  double wr = kPi * a, wi = kPi * b;
  if (wr == 0 && wi == 0) return {1.0, 0.0};
  return cx_div(of(std::sin(C(wr, wi))), Cx{wr, wi});
}

}  // namespace

Cx cx_recip(double a, double b) {
  if (a == 0 && b == 0) return {INFINITY, 0.0};
  if (std::fabs(a) >= std::fabs(b)) {
    double r = b / a, d = a + b * r;
    return {1 / d, -r / d};
  }
  double r = a / b, d = a * r + b;
  return {r / d, -1 / d};
}

Cx cx_div(Cx p, Cx q) {
  if (std::fabs(q.re) >= std::fabs(q.im)) {
    double r = q.im / q.re, d = q.re + q.im * r;
    return {(p.re + p.im * r) / d, (p.im - p.re * r) / d};
  }
  double r = q.re / q.im, d = q.re * r + q.im;
  return {(p.re * r + p.im) / d, (p.im * r - p.re) / d};
}

Cx cx_sqrt(double x, double y) {
  if (std::isinf(y)) return {INFINITY, y};
  double m = std::fmax(std::fabs(x), std::fabs(y));
  double back = 1.0;
  if (m > kSqrtBig) {
    x *= 0.25;
    y *= 0.25;
    back = 2.0;
  } else if (m < kSqrtTiny && m > 0) {
    x *= 0x1p108;
    y *= 0x1p108;
    back = 0x1p-54;
  }
  double r = std::hypot(x, y);
  if (r == 0) return {0.0, 0.0};
  if (x > 0) {
    double re = std::sqrt((r + x) / 2);
    return {re * back, y / (2 * re) * back};
  }
  double t = std::sqrt((r - x) / 2);
  if (y < 0) t = -t;  // -0 counts as positive: the cut takes the upper side
  return {y / (2 * t) * back, t * back};
}

// The logarithms' imaginary part is atan2(b, a): on the cut the sign of a
// zero b chooses the side, so log(complex(-1, -0)) is -pi i, the limit from
// below.
Cx cx_exp_family(int letter, double a, double b) {
  switch (letter) {
    case kExpExp: return of(std::exp(C(a, b)));
    case kExpExpm1: return cx_expm1(a, b);
    case kExpLog: return of(std::log(C(a, b)));
    case kExpLog10: {
      C l = std::log(C(a, b));
      return {l.real() * kLog10E, l.imag() * kLog10E};
    }
    case kExpLog2: {
      C l = std::log(C(a, b));
      return {l.real() * kLog2E, l.imag() * kLog2E};
    }
    case kExpLog1p: return cx_log1p(a, b);
    default: return cx_sqrt(a, b);  // kExpSqrt
  }
}

Cx real_asin_wide(double x) {
  return x > 0 ? Cx{kHalfPi, -std::acosh(x)} : Cx{-kHalfPi, std::acosh(-x)};
}

Cx real_acos_wide(double x) { return x > 0 ? Cx{0.0, std::acosh(x)} : Cx{kPi, -std::acosh(-x)}; }

// Below -1 the principal value (real part >= 0) is the one continuous with
// the upper half plane.
Cx real_acosh_wide(double x) { return x >= -1 ? Cx{0.0, std::acos(x)} : Cx{std::acosh(-x), kPi}; }

// The real part ln((x + 1)/(x - 1))/2 = log1p(2/(|x| - 1))/2, signed as x;
// the imaginary part is +pi/2 for both signs of x. atanh(1/x) would be the
// same function, but near |x| = 1 the rounding of 1/x moves 1 - 1/x by up to
// half its value's ulp, which the logarithm magnifies a millionfold. Here
// |x| - 1 is split exactly into d + d_lo, and both that low part and the
// division's remainder are carried as a first-order correction to log1p.
Cx real_atanh_wide(double x) {
  const double ax = std::fabs(x);
  const double d = ax - 1;
  const double d_lo = -1 - (d - ax);  // ax - 1 = d + d_lo exactly, as ax >= 1
  const double u = 2 / d;
  const double u_lo = (std::fma(-u, d, 2.0) - u * d_lo) / d;  // 2/(d + d_lo) - u, to first order
  // An infinite x has no correction (its low parts are NaN): the result is 0.
  const double re = 0.5 * (std::log1p(u) + (std::isfinite(u_lo) ? u_lo / (1 + u) : 0.0));
  return {std::copysign(re, x), kHalfPi};
}

Cx cx_circular(int letter, double a, double b) {
  const C z(a, b);
  switch (letter) {
    case kTrigSin: return of(std::sin(z));
    case kTrigCos: return of(std::cos(z));
    case kTrigTan: return of(std::tan(z));
    case kTrigSinc: return cx_sinc(a, b);
    case kTrigAsin:
      if (b == 0) return std::fabs(a) > 1 ? real_asin_wide(a) : Cx{std::asin(a), 0.0};
      return of(std::asin(z));
    case kTrigAcos:
      if (b == 0) return std::fabs(a) > 1 ? real_acos_wide(a) : Cx{std::acos(a), 0.0};
      return of(std::acos(z));
    default: return of(std::atan(z));  // kTrigAtan
  }
}

namespace {

// sec, csc (and sech, csch with the parts' roles exchanged) far from the
// real axis: cos z and sin z overflow once |Im z| passes about 710, and the
// reciprocal of Inf + Inf i is NaN. With e = e^-|b| the reciprocals are
// 2 e (cos a + i sgn(b) sin a) and 2 e (sin a - i sgn(b) cos a) to within a
// relative 3 e^2, below an ulp past kRecipFar; they underflow to signed zeros
// as the true values do.
Cx far_sec(double a, double b) {
  const double e2 = 2 * std::exp(-std::fabs(b));
  return {e2 * std::cos(a), std::copysign(e2, b) * std::sin(a)};
}
Cx far_csc(double a, double b) {
  const double e2 = 2 * std::exp(-std::fabs(b));
  return {e2 * std::sin(a), -std::copysign(e2, b) * std::cos(a)};
}

}  // namespace

Cx cx_circular_recip(int letter, double a, double b) {
  if (std::fabs(b) > kRecipFar) {
    if (letter == kTrigCos) return far_sec(a, b);
    if (letter == kTrigSin) return far_csc(a, b);
  }
  const Cx r = cx_circular(letter, a, b);
  return cx_recip(r.re, r.im);
}

// sech z = sec(i z) and csch z = i csc(i z), with i z = -b + a i.
Cx cx_hyperbolic_recip(int letter, double a, double b) {
  if (std::fabs(a) > kRecipFar) {
    if (letter == kTrigCos) return far_sec(-b, a);
    if (letter == kTrigSin) {
      const Cx c = far_csc(-b, a);
      return {-c.im, c.re};
    }
  }
  const Cx r = cx_hyperbolic(letter, a, b);
  return cx_recip(r.re, r.im);
}

double real_sech(double x) {
  return std::fabs(x) > kRecipFar ? 2 * std::exp(-std::fabs(x)) : 1 / std::cosh(x);
}

double real_csch(double x) {
  return std::fabs(x) > kRecipFar ? std::copysign(2 * std::exp(-std::fabs(x)), x) : 1 / std::sinh(x);
}

Cx cx_hyperbolic(int letter, double a, double b) {
  const C z(a, b);
  switch (letter) {
    case kTrigSin: return of(std::sinh(z));
    case kTrigCos: return of(std::cosh(z));
    case kTrigTan: return of(std::tanh(z));
    case kTrigAsin:
      // On the imaginary cut the upper half takes the right side's value
      // and the lower half the left side's, whatever the zero's sign.
      if (a == 0 && std::fabs(b) > 1) {
        double s = b > 0 ? 1.0 : -1.0;
        return {s * std::acosh(std::fabs(b)), s * kHalfPi};
      }
      return of(std::asinh(z));
    case kTrigAcos:
      // The real values of acosh and atanh off their domains are the upper
      // side's of the cut.
      return of(std::acosh(C(a, b == 0 ? 0.0 : b)));
    default:  // kTrigAtan
      // On the real axis, the real function's values: its own inside
      // [-1, 1] (the zero imaginary part kept), the upper side's outside.
      if (b == 0) return std::fabs(a) > 1 ? real_atanh_wide(a) : Cx{std::atanh(a), b};
      return of(std::atanh(z));
  }
}
