// Scaling and squaring with the (6,6) Pade approximant. The Pade numerator is
// built in E, the denominator in the work block, and the quotient is formed by
// the left-division solver; the squarings alternate between E and the power
// block so that no copy is needed until the end.
#include "numlib/expm.h"

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>

#include "numlib/dense_lu.h"
#include "numlib/matmul.h"

namespace {

using Idx = std::ptrdiff_t;

constexpr double kMaxScale = 1073741824.0;  // 2^30
constexpr int kPadeDegree = 6;

// Smallest power of two s with nrm / s < 0.5, capped at 2^30. A NaN or
// infinite norm never satisfies the test and takes the cap.
double scale_for(double nrm) {
  double s = 1.0;
  while (s < kMaxScale && !(s / 2 > nrm)) s = s * 2;
  return s;
}

int squarings_for(double s) {
  int count = 0;
  for (; s > 1; s = s / 2) ++count;
  return count;
}

// x := a x one column at a time through row, so the product can overwrite x.
void left_multiply_real(const double* a, double* x, Idx n, double* row) {
  for (Idx j = 0; j < n; ++j) {
    for (Idx i = 0; i < n; ++i) {
      double sum = 0.0;
      for (Idx l = 0; l < n; ++l) sum = sum + a[i * n + l] * x[l * n + j];
      row[i] = sum;
    }
    for (Idx i = 0; i < n; ++i) x[i * n + j] = row[i];
  }
}

void left_multiply_complex(const double* a, double* x, Idx n, double* row) {
  const Idx nn = n * n;
  const double* ar = a;
  const double* ai = a + nn;
  double* xr = x;
  double* xi = x + nn;
  double* rr = row;
  double* ri = row + n;
  for (Idx j = 0; j < n; ++j) {
    for (Idx i = 0; i < n; ++i) {
      double sr = 0.0, si = 0.0;
      for (Idx l = 0; l < n; ++l) {
        const double pr = ar[i * n + l], pi = ai[i * n + l];
        const double qr = xr[l * n + j], qi = xi[l * n + j];
        sr = sr + (pr * qr - pi * qi);
        si = si + (pr * qi + pi * qr);
      }
      rr[i] = sr;
      ri[i] = si;
    }
    for (Idx i = 0; i < n; ++i) {
      xr[i * n + j] = rr[i];
      xi[i * n + j] = ri[i];
    }
  }
}

// Shared by both element types: blocks is 1 (real) or 2 (complex); the
// identity touches the real block only.
void pade_start(const double* a, Idx n, Idx blocks, double c, double* e, double* x, double* d) {
  const Idx nn = n * n;
  std::memcpy(x, a, static_cast<size_t>(blocks * nn) * sizeof(double));
  for (Idx b = 0; b < blocks; ++b)
    for (Idx i = 0; i < n; ++i)
      for (Idx j = 0; j < n; ++j) {
        const Idx at = b * nn + i * n + j;
        const double id = (b == 0 && i == j) ? 1.0 : 0.0;
        e[at] = id + c * a[at];
        d[at] = id - c * a[at];
      }
}

void pade_accumulate(Idx count, int k, double c, const double* x, double* e, double* d) {
  for (Idx i = 0; i < count; ++i) e[i] = e[i] + c * x[i];
  if (k % 2 == 0)
    for (Idx i = 0; i < count; ++i) d[i] = d[i] + c * x[i];
  else
    for (Idx i = 0; i < count; ++i) d[i] = d[i] - c * x[i];
}

// The row scratch is dead once the powers are formed: it holds the pivots.
uint32_t* row_as_perm(double* row) { return reinterpret_cast<uint32_t*>(row); }

}  // namespace

double numk_norm_inf_real(const double* a, int32_t n32) {
  const Idx n = n32;
  double nrm = 0.0;
  for (Idx i = 0; i < n; ++i) {
    double sum = 0.0;
    for (Idx j = 0; j < n; ++j) sum = sum + std::fabs(a[i * n + j]);
    if (sum > nrm || std::isnan(sum)) nrm = sum;
  }
  return nrm;
}

double numk_norm_inf_complex(const double* re, const double* im, int32_t n32) {
  const Idx n = n32;
  double nrm = 0.0;
  for (Idx i = 0; i < n; ++i) {
    double sum = 0.0;
    for (Idx j = 0; j < n; ++j) {
      const double r = re[i * n + j], m = im[i * n + j];
      sum = sum + std::sqrt(r * r + m * m);
    }
    if (sum > nrm || std::isnan(sum)) nrm = sum;
  }
  return nrm;
}

void numk_expm_real(double* a, int32_t n32, double* e, double* work) {
  const Idx n = n32;
  if (n < 1) return;
  const Idx nn = n * n;
  double* row = work;
  double* x = work + n;
  double* d = x + nn;
  const double s = scale_for(numk_norm_inf_real(a, n32));
  for (Idx i = 0; i < nn; ++i) a[i] = a[i] / s;
  double c = 0.5;
  pade_start(a, n, 1, c, e, x, d);
  for (int k = 2; k <= kPadeDegree; ++k) {
    c = c * (kPadeDegree + 1 - k) / (k * (2 * kPadeDegree + 1 - k));
    left_multiply_real(a, x, n, row);
    pade_accumulate(nn, k, c, x, e, d);
  }
  linsolve_left_real(d, e, n32, n32, row_as_perm(row), 0);
  const int count = squarings_for(s);
  double* cur = e;
  double* other = x;
  for (int q = 0; q < count; ++q) {
    matmul_real(n32, n32, n32, cur, cur, other);
    double* t = cur;
    cur = other;
    other = t;
  }
  if (count % 2 != 0) std::memcpy(e, x, static_cast<size_t>(nn) * sizeof(double));
}

void numk_expm_complex(double* a, int32_t n32, double* e, double* work) {
  const Idx n = n32;
  if (n < 1) return;
  const Idx nn = n * n;
  double* row = work;
  double* x = work + 2 * n;
  double* d = x + 2 * nn;
  const double s = scale_for(numk_norm_inf_complex(a, a + nn, n32));
  for (Idx i = 0; i < 2 * nn; ++i) a[i] = a[i] / s;
  double c = 0.5;
  pade_start(a, n, 2, c, e, x, d);
  for (int k = 2; k <= kPadeDegree; ++k) {
    c = c * (kPadeDegree + 1 - k) / (k * (2 * kPadeDegree + 1 - k));
    left_multiply_complex(a, x, n, row);
    pade_accumulate(2 * nn, k, c, x, e, d);
  }
  linsolve_left_complex(d, e, n32, n32, row_as_perm(row));
  const int count = squarings_for(s);
  double* cur = e;
  double* other = x;
  for (int q = 0; q < count; ++q) {
    matmul_complex(n32, n32, n32, cur, cur, other);
    double* t = cur;
    cur = other;
    other = t;
  }
  if (count % 2 != 0) std::memcpy(e, x, static_cast<size_t>(2 * nn) * sizeof(double));
}

void numk_scalar_pow_matrix_real(double x, double* a, int32_t n32, double* e, double* work) {
  const Idx nn = Idx(n32) * n32;
  const double lx = std::log(x);  // 0 gives -Inf, a negative x NaN
  for (Idx i = 0; i < nn; ++i) a[i] = lx * a[i];
  numk_expm_real(a, n32, e, work);
}

void numk_scalar_pow_matrix_complex(double z_re, double z_im, double* a, int32_t n32, double* e,
                                    double* work) {
  const Idx nn = Idx(n32) * n32;
  // The complex logarithm scales the parts: ln|z| stays finite for any
  // finite non-zero z (|z|^2 overflows above 1e154 and underflows below 1e-154).
  const std::complex<double> lz = std::log(std::complex<double>(z_re, z_im));
  const double lr = lz.real();
  const double li = lz.imag();
  double* ar = a;
  double* ai = a + nn;
  for (Idx i = 0; i < nn; ++i) {
    const double r = ar[i], m = ai[i];
    ar[i] = lr * r - li * m;
    ai[i] = lr * m + li * r;
  }
  numk_expm_complex(a, n32, e, work);
}
