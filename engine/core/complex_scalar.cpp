// The one body of complex scalar arithmetic, out of line so that the
// interpreter's fast paths and the general operators run the same code.
#include "engine/core/complex_scalar.h"

namespace cplx {

namespace {

template <typename Op>
void pair(double xr, double xi, bool xc, double yr, double yi, bool yc, double& re, double& im) {
  if (xc && yc)
    Op::template f<true, true>(xr, xi, yr, yi, re, im);
  else if (xc)
    Op::template f<true, false>(xr, xi, yr, 0.0, re, im);
  else
    Op::template f<false, true>(xr, 0.0, yr, yi, re, im);
}

}  // namespace

__attribute__((noipa)) void scalar_binary(ScalarOp op, double xr, double xi, bool xc, double yr, double yi,
                                          bool yc, double* re, double* im) {
  if (!xc) xi = 0.0;
  if (!yc) yi = 0.0;
  switch (op) {
    case ScalarOp::kAdd: pair<Add>(xr, xi, xc, yr, yi, yc, *re, *im); return;
    case ScalarOp::kSub: pair<Sub>(xr, xi, xc, yr, yi, yc, *re, *im); return;
    case ScalarOp::kMul: pair<Mul>(xr, xi, xc, yr, yi, yc, *re, *im); return;
    case ScalarOp::kDiv: pair<Div>(xr, xi, xc, yr, yi, yc, *re, *im); return;
    case ScalarOp::kMtimes:
      *re = xr * yr - xi * yi;
      *im = xr * yi + xi * yr;
      return;
    case ScalarOp::kMrdivide:
      // A real dividend counts with a -0 imaginary part: the zero parts of
      // the quotient then carry the signs of x conj(y) / |y|^2.
      if (!yc) {
        *re = xr / yr;
        *im = xi / yr;
      } else {
        smith_divide(xr, xc ? xi : -0.0, yr, yi, *re, *im);
      }
      return;
  }
}

}  // namespace cplx
