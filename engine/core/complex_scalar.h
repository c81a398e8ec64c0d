// The complex arithmetic of one element pair, shared by the elementwise loops,
// the 1 x 1 matrix operators and the interpreter's fast paths for complex
// scalars: every path computes a result from these same formulas, so that a
// fast path gives exactly the bits of the general operator.
#pragma once

#include <cmath>
#include <limits>

namespace cplx {

// Smith's division (a + bi) / (c + di), scaled by the larger divisor part.
template <typename T>
inline void smith_divide(T a, T b, T c, T d, T& re, T& im) {
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
  kMrdivide,  // 1 x 1 matrix division x / y, over |y|^2
};

// The result of op on x and y (xc, yc: which is complex; a real operand's
// imaginary part is not read). Out of line on purpose: every path that
// computes a complex scalar calls this one body, so even the NaN that an
// operation passes on (which one of two, with its sign) is the same. noipa
// keeps link-time optimisation from inlining or cloning it per caller.
__attribute__((noipa)) void scalar_binary(ScalarOp op, double xr, double xi, bool xc, double yr, double yi, bool yc,
                   double* re, double* im);

}  // namespace cplx
