// State-space evaluation at a complex point and the automatic frequency and
// time ranges of the response plots. Every routine works in the caller's
// scratch (sized by its _work function) and leaves its inputs unchanged.
#include "numlib/control/response_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numlib/dense_lu.h"
#include "numlib/eigen.h"
#include "numlib/polyroots.h"
#include "numlib/svd.h"

namespace {

constexpr double kDecade = 10.0;
constexpr double kLinearDefaultHigh = 10.0;
constexpr double kLogDefaultLow = 1e-3;
constexpr double kRootSeconds = 10.0;       // a root r adds 10/|r| to the time scale
constexpr double kSmallRootSquare = 1e-6;   // roots with |r|^2 at most this add nothing
constexpr double kMaxTimeScale = 1e6;
constexpr double kDefaultTimeScale = 10.0;

// Roots of p (n + 1 coefficients) after its leading zeros; count in *k.
// work: n + 1 + 2n + roots_real_work(n).
void roots_of(const double* p, int32_t n, double* work, double** re, double** im, int32_t* k) {
  int32_t lead = 0;
  while (lead < n && p[lead] == 0.0) ++lead;
  const int32_t d = n - lead;
  double* copy = work;
  *re = copy + n + 1;
  *im = *re + n;
  *k = d;
  if (d <= 0) return;
  std::memcpy(copy, p + lead, size_t(d + 1) * sizeof(double));
  roots_real_coeffs(copy, d, *re, *im, *im + n);
}

// Eigenvalues of a (n x n, kept); false when the iteration failed. With
// `wide` the copy is first balanced over the whole exponent range, as the
// companion form of a polynomial needs (its entries may span 1 to 1e18, far
// beyond what the iteration's own scaling reaches).
// work: n^2 + 2n + n (pivots, as ints in doubles) + n (the scaling).
bool eigs_of(const double* a, int32_t n, double* work, double** re, double** im, bool wide = false) {
  double* copy = work;
  *re = copy + int64_t(n) * n;
  *im = *re + n;
  int32_t* pivots = reinterpret_cast<int32_t*>(*im + n);
  std::memcpy(copy, a, size_t(int64_t(n) * n) * sizeof(double));
  if (wide && n > 0) numk_balance_wide(copy, nullptr, n, *im + 2 * n);
  return numk_eig_real(copy, n, pivots, *re, *im);
}

void magnitude_range(const double* re, const double* im, int32_t k, bool log_axis, double* low,
                     double* high) {
  double lo = INFINITY, hi = 0.0;
  for (int32_t i = 0; i < k; ++i) {
    const double r = std::hypot(re[i], im[i]);
    if (!(r > 0.0) || !std::isfinite(r)) continue;
    lo = std::min(lo, r);
    hi = std::max(hi, r);
  }
  if (!(hi > 0.0)) {
    *low = log_axis ? kLogDefaultLow : 0.0;
    *high = kLinearDefaultHigh;
    return;
  }
  *low = log_axis ? lo / kDecade : 0.0;
  *high = hi * kDecade;
}

// The time scale of roots (re + i im): 10/|r| seconds for each root with
// |r|^2 above kSmallRootSquare, summed and limited to kMaxTimeScale. A root
// at (or by rounding next to) the origin adds nothing: it neither decays nor
// oscillates, and the rounding noise of a repeated root there would read as
// an enormous period. With no root counting the scale is the default.
double root_time_scale(const double* re, const double* im, int32_t k) {
  double sum = 0.0;
  for (int32_t i = 0; i < k; ++i) {
    const double sq = re[i] * re[i] + im[i] * im[i];
    if (sq > kSmallRootSquare) sum += kRootSeconds / std::sqrt(sq);  // an infinite root adds 0
  }
  if (!(sum > 0.0)) return kDefaultTimeScale;  // NaN roots (a failed iteration) likewise
  return std::min(sum, kMaxTimeScale);
}

// Discrete roots taken to their continuous equivalents ln(z) / ts in place:
// |ln z| = sqrt(ln|z|^2 + arg(z)^2); z = 0 becomes an infinite root.
void discrete_to_continuous(double* re, double* im, int32_t k, double ts) {
  for (int32_t i = 0; i < k; ++i) {
    const double lr = std::log(std::hypot(re[i], im[i])) / ts, arg = std::atan2(im[i], re[i]) / ts;
    re[i] = lr;
    im[i] = arg;
  }
}

int64_t roots_work(int32_t n) { return 3 * int64_t(n) + 1 + roots_real_work(n); }
int64_t eigs_work(int32_t n) { return int64_t(n) * n + 4 * int64_t(n); }

}  // namespace

int64_t ss_shifted_eval_work(int32_t n) {
  // (sI - A) complex, the right-hand column complex, the permutation.
  return 2 * int64_t(n) * n + 2 * int64_t(n) + n;
}

void ss_shifted_eval(const double* a, const double* b, const double* c, const double* d,
                     int32_t n, int32_t m, int32_t p, int32_t input, double s_re, double s_im,
                     double* out_re, double* out_im, double* work) {
  const int64_t nn = int64_t(n) * n;
  double* mat = work;  // real block, then imaginary block
  double* x = mat + 2 * nn;
  uint32_t* perm = reinterpret_cast<uint32_t*>(x + 2 * n);
  for (int64_t i = 0; i < n; ++i) {
    for (int64_t j = 0; j < n; ++j) {
      mat[i * n + j] = -a[i * n + j];
      mat[nn + i * n + j] = 0.0;
    }
    mat[i * n + i] += s_re;
    mat[nn + i * n + i] = s_im;
    x[i] = b && input < m ? b[i * m + input] : 0.0;
    x[n + i] = 0.0;
  }
  if (n > 0) linsolve_left_complex(mat, x, n, 1, perm);
  for (int64_t o = 0; o < p; ++o) {
    double re = d && input < m ? d[o * m + input] : 0.0, im = 0.0;
    if (c)
      for (int64_t k = 0; k < n; ++k) {
        re += c[o * n + k] * x[k];
        im += c[o * n + k] * x[n + k];
      }
    out_re[o] = re;
    out_im[o] = im;
  }
}

int64_t ss_shifted_eval_multi_work(int32_t n, int32_t m, int32_t p) {
  return 2 * int64_t(p) * m + 2 * int64_t(p) + ss_shifted_eval_work(n) +
         svd_work_values_complex(p, m);
}

bool ss_shifted_eval_multi(const double* a, const double* b, const double* c, const double* d,
                           int32_t n, int32_t m, int32_t p, double s_re, double s_im, double* sv,
                           double* work) {
  const int64_t pm = int64_t(p) * m;
  double* g_re = work;
  double* g_im = g_re + pm;
  double* col_re = g_im + pm;
  double* col_im = col_re + p;
  double* scratch = col_im + p;
  for (int32_t j = 0; j < m; ++j) {
    ss_shifted_eval(a, b, c, d, n, m, p, j, s_re, s_im, col_re, col_im, scratch);
    for (int64_t i = 0; i < p; ++i) {
      g_re[i * m + j] = col_re[i];
      g_im[i * m + j] = col_im[i];
    }
  }
  if (p == 0) {
    std::fill(sv, sv + m, 0.0);
    return true;
  }
  const bool ok = svd_values_complex(g_re, g_im, p, m, sv, scratch);
  std::sort(sv, sv + m, [](double x, double y) { return x > y; });
  return ok;
}

int64_t poly_root_magnitude_range_work(int32_t n) { return roots_work(n); }

void poly_root_magnitude_range(const double* p, int32_t n, bool log_axis, double* work,
                               double* low, double* high) {
  double *re, *im;
  int32_t k;
  roots_of(p, n, work, &re, &im, &k);
  magnitude_range(re, im, k, log_axis, low, high);
}

int64_t matrix_eig_magnitude_range_work(int32_t n) { return eigs_work(n); }

void matrix_eig_magnitude_range(const double* a, int32_t n, bool log_axis, double* work,
                                double* low, double* high) {
  double *re, *im;
  eigs_of(a, n, work, &re, &im);
  magnitude_range(re, im, n, log_axis, low, high);
}

int64_t poly_roots_frequency_scale_work(int32_t n) { return roots_work(n); }

void poly_roots_frequency_scale(const double* p, int32_t n, double* work, double* out) {
  double *re, *im;
  int32_t k;
  roots_of(p, n, work, &re, &im, &k);
  *out = root_time_scale(re, im, k);
}

void poly_roots_frequency_scale_alt(const double* p, int32_t n, double ts, double* work,
                                    double* out) {
  double *re, *im;
  int32_t k;
  roots_of(p, n, work, &re, &im, &k);
  discrete_to_continuous(re, im, k, ts);
  *out = root_time_scale(re, im, k);
}

int64_t matrix_eig_frequency_scale_work(int32_t n) { return eigs_work(n); }

void matrix_eig_frequency_scale(const double* a, int32_t n, double* work, double* out) {
  double *re, *im;
  *out = eigs_of(a, n, work, &re, &im, true) ? root_time_scale(re, im, n) : kDefaultTimeScale;
}

void matrix_eig_frequency_scale_alt(const double* a, int32_t n, double ts, double* work,
                                    double* out) {
  double *re, *im;
  if (!eigs_of(a, n, work, &re, &im, true)) {
    *out = kDefaultTimeScale;
    return;
  }
  discrete_to_continuous(re, im, n, ts);
  *out = root_time_scale(re, im, n);
}
