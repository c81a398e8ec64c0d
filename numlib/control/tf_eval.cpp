// Transfer function at a complex point: both polynomials by Horner's rule
// in complex arithmetic, the quotient by Smith's method so that no
// intermediate product overflows where the quotient itself does not.
#include "numlib/control/tf_eval.h"

#include <cmath>

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
  if (std::fabs(qi) < std::fabs(qr)) {
    const double r = qi / qr, d = qr + r * qi;
    *out_re = (pr + r * pi) / d;
    *out_im = (pi - r * pr) / d;
  } else if (qi != 0.0) {
    const double r = qr / qi, d = r * qr + qi;
    *out_re = (r * pr + pi) / d;
    *out_im = (r * pi - pr) / d;
  } else if (pi == 0.0) {
    *out_re = pr / 0.0;
    *out_im = 0.0;
  } else {
    *out_re = *out_im = NAN;
  }
}
