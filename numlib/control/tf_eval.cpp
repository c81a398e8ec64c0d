// Transfer function at a complex point: both polynomials by Horner's rule
// in complex arithmetic, the quotient by the engine's complex division
// (Smith's, scaled), so that no intermediate overflows where the quotient
// itself does not.
#include "numlib/control/tf_eval.h"

#include <cmath>

#include "engine/core/complex_scalar.h"

namespace {

void horner(const double* c, int32_t degree, double re, double im, double* pr, double* pi) {
  double a = 0.0, b = 0.0;
  for (int32_t k = 0; k <= degree; ++k) {
    const double t = a * re - b * im + c[k];
    b = a * im + b * re;
    a = t;
  }
  *pr = a, *pi = b;
}

}  // namespace

void tf_eval_at_complex(const double* num, int32_t m, const double* den, int32_t n, double re, double im,
                        double* out_re, double* out_im) {
  double pr, pi, qr, qi;
  horner(num, m, re, im, &pr, &pi);
  horner(den, n, re, im, &qr, &qi);
  cplx::smith_divide(pr, pi, qr, qi, *out_re, *out_im);
}
