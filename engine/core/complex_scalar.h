// The complex arithmetic of one element pair, shared by the elementwise loops,
// the 1 x 1 matrix operators and the interpreter's fast paths for complex
// scalars: every path computes a result from these same formulas, so that a
// fast path gives exactly the bits of the general operator.
#pragma once

#include <cmath>
#include <limits>

namespace cplx {

namespace detail {

// Smith's formula: the ratio of the divisor's parts replaces their squares.
template <typename T>
inline void smith_formula(T a, T b, T c, T d, T& re, T& im) {
  if (std::fabs(c) < std::fabs(d)) {
    const T r = c / d, t = T(1) / (r * c + d);
    re = (r * a + b) * t;
    im = (r * b - a) * t;
  } else if (c != 0) {
    const T r = d / c, t = T(1) / (r * d + c);
    re = (r * b + a) * t;
    im = (b - r * a) * t;
  } else if (d == 0 && b == 0) {
    re = a / c;
    im = 0;
  } else {  // a zero divisor under a nonzero imaginary part, or a NaN one
    re = im = std::numeric_limits<T>::quiet_NaN();
  }
}

// Parts of dividend and divisor whose largest moduli lie within [lo, 1/lo]
// keep every intermediate of Smith's formula normal and finite.
template <typename T>
struct SmithBand;
template <>
struct SmithBand<double> {
  static constexpr double lo = 0x1p-500;
};
template <>
struct SmithBand<float> {
  static constexpr float lo = 0x1p-50f;
};

}  // namespace detail

// (a + bi) / (c + di) by Smith's formula. Outside the band where its
// intermediates are safe (moduli near the ends of the range: 1e300 over
// 1e-300, or a subnormal divisor), both operands are first brought to moduli
// in [1, 2) by powers of two and the quotient is scaled back once: the parts
// and the ratio are exact under such scaling, so the bits are those of the
// unscaled formula wherever that does not overflow or underflow. Infinite,
// NaN and zero operands take the plain formula.
template <typename T>
inline void smith_divide(T a, T b, T c, T d, T& re, T& im) {
  constexpr T lo = detail::SmithBand<T>::lo, hi = T(1) / lo;
  const T ab = std::fmax(std::fabs(a), std::fabs(b)), cd = std::fmax(std::fabs(c), std::fabs(d));
  const bool inside = cd >= lo && cd <= hi && ab <= hi && (ab >= lo || ab == 0);
  if (inside || cd == 0 || !(std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d))) {
    detail::smith_formula(a, b, c, d, re, im);
    return;
  }
  const int kc = std::ilogb(cd), ka = ab == 0 ? 0 : std::ilogb(ab);
  detail::smith_formula(std::scalbn(a, -ka), std::scalbn(b, -ka), std::scalbn(c, -kc), std::scalbn(d, -kc), re, im);
  re = std::scalbn(re, ka - kc);
  im = std::scalbn(im, ka - kc);
}

// 1 / (c + di), the pivot reciprocal of the complex solvers and of inv: the
// value of conj(p) / |p|^2 without forming |p|^2. The dividend's imaginary
// part is -0 so that zero parts of the result carry the signs of that form
// (1 / (2 + 0i) is 0.5 - 0i), and a zero divisor gives its 0 / 0, NaN.
template <typename T>
inline void reciprocal(T c, T d, T& re, T& im) {
  if (c == 0 && d == 0) {
    re = im = std::numeric_limits<T>::quiet_NaN();
    return;
  }
  smith_divide(T(1), -T(0), c, d, re, im);
}

// The elementwise operations: AC / BC say which operand is complex. Where
// only one is, the other's missing imaginary part is never formed as a zero
// in products, so infinities scale instead of turning into NaN.
struct Add {
  template <bool AC, bool BC, typename T>
  static void f(T ar, T ai, T br, T bi, T& re, T& im) {
    re = ar + br;
    im = AC && BC ? ai + bi : AC ? ai : bi;
  }
};
struct Sub {
  template <bool AC, bool BC, typename T>
  static void f(T ar, T ai, T br, T bi, T& re, T& im) {
    re = ar - br;
    im = AC && BC ? ai - bi : AC ? ai : -bi;
  }
};
struct Mul {
  template <bool AC, bool BC, typename T>
  static void f(T ar, T ai, T br, T bi, T& re, T& im) {
    if (AC && BC) {
      re = ar * br - ai * bi;
      im = ar * bi + ai * br;
    } else if (AC) {
      re = ar * br;
      im = ai * br;
    } else {
      re = ar * br;
      im = ar * bi;
    }
  }
};
struct Div {
  template <bool AC, bool BC, typename T>
  static void f(T ar, T ai, T br, T bi, T& re, T& im) {
    if (!BC) {
      re = ar / br;
      im = ai / br;
    } else {
      smith_divide(ar, AC ? ai : T(0), br, bi, re, im);
    }
  }
};

// The operations of one pair of scalars, at least one of them complex.
enum class ScalarOp : int {
  kAdd,       // elementwise
  kSub,
  kMul,
  kDiv,       // elementwise x ./ y, Smith's division
  kMtimes,    // 1 x 1 matrix product: a real operand counts with a zero imaginary part
  kMrdivide,  // 1 x 1 matrix division x / y, Smith's division (a real x as x - 0i)
};

// The result of op on x and y (xc, yc: which is complex; a real operand's
// imaginary part is not read). Out of line on purpose: every path that
// computes a complex scalar calls this one body, so even the NaN that an
// operation passes on (which one of two, with its sign) is the same. noipa
// keeps link-time optimisation from inlining or cloning it per caller.
__attribute__((noipa)) void scalar_binary(ScalarOp op, double xr, double xi, bool xc, double yr, double yi, bool yc,
                   double* re, double* im);

}  // namespace cplx
