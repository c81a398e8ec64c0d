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

// One elementwise operation on a scalar pair whose kinds are known only at
// run time (at least one operand complex; a real one's imaginary part unread).
template <typename Op, typename T>
inline void scalar_op(T ar, T ai, bool ac, T br, T bi, bool bc, T& re, T& im) {
  if (ac && bc)
    Op::template f<true, true>(ar, ai, br, bi, re, im);
  else if (ac)
    Op::template f<true, false>(ar, ai, br, T(0), re, im);
  else
    Op::template f<false, true>(ar, T(0), br, bi, re, im);
}

// The matrix product of two 1 x 1 operands: a real one counts with a zero
// imaginary part (unlike the elementwise product).
inline void mtimes(double ar, double ai, double br, double bi, double& re, double& im) {
  re = ar * br - ai * bi;
  im = ar * bi + ai * br;
}

// The matrix right division x / y of two 1 x 1 operands, at least one
// complex or not; a real operand's imaginary part is 0. The result is complex
// when either operand is.
inline void mrdivide(double xr, double xi, bool xc, double yr, double yi, bool yc, double& re,
                     double& im) {
  if (!yc) {
    re = xr / yr;
    im = xi / yr;
    return;
  }
  const double m = yr * yr + yi * yi;
  if (!xc) {
    re = xr * yr / m;
    im = -(xr * yi) / m;
  } else {
    re = (xr * yr + xi * yi) / m;
    im = (xi * yr - xr * yi) / m;
  }
}

}  // namespace cplx
