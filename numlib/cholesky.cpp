// Cholesky factorisation, real and complex. Each row of R is formed first in
// the lower triangle, so that the upper triangle of A is still there to read,
// and moved up at the end as it stands: the recurrence already forms R's
// entries, so the move does not conjugate.
#include "numlib/cholesky.h"

#include <cmath>
#include <cstddef>

namespace {

using Idx = std::ptrdiff_t;

// Element (j, i) of the strictly lower triangle to (i, j), then zeroed.
void move_lower_up(double* a, Idx n) {
  for (Idx i = 0; i < n; ++i)
    for (Idx j = i + 1; j < n; ++j) {
      a[i * n + j] = a[j * n + i];
      a[j * n + i] = 0.0;
    }
}

}  // namespace

bool chol_factor_real(double* a, int32_t n32) {
  const Idx n = n32 > 0 ? n32 : 0;
  for (Idx i = 0; i < n; ++i) {
    const double* li = a + i * n;
    double d = a[i * n + i];
    for (Idx k = 0; k < i; ++k) d -= li[k] * li[k];
    if (!(d > 0.0)) return false;
    const double r = std::sqrt(d);
    for (Idx j = i + 1; j < n; ++j) {
      double* lj = a + j * n;
      double x = a[i * n + j];
      for (Idx k = 0; k < i; ++k) x -= lj[k] * li[k];
      lj[i] = x / r;
    }
    a[i * n + i] = r;
  }
  move_lower_up(a, n);
  return true;
}

bool chol_factor(double* re, double* im, int32_t n32) {
  const Idx n = n32 > 0 ? n32 : 0;
  for (Idx i = 0; i < n; ++i) {
    const double* lr = re + i * n;
    const double* li = im + i * n;
    double d = re[i * n + i];
    for (Idx k = 0; k < i; ++k) d -= lr[k] * lr[k] + li[k] * li[k];
    if (!(d > 0.0)) return false;
    const double r = std::sqrt(d);
    for (Idx j = i + 1; j < n; ++j) {
      double* jr = re + j * n;
      double* ji = im + j * n;
      double xr = re[i * n + j], xi = im[i * n + j];
      for (Idx k = 0; k < i; ++k) {  // conj(X[i][k]) X[j][k]
        xr -= lr[k] * jr[k] + li[k] * ji[k];
        xi -= lr[k] * ji[k] - li[k] * jr[k];
      }
      jr[i] = xr / r;
      ji[i] = xi / r;
    }
    re[i * n + i] = r;
    // R's diagonal is real, whatever the input's diagonal carried.
    im[i * n + i] = 0.0;
  }
  move_lower_up(re, n);
  move_lower_up(im, n);
  return true;
}
