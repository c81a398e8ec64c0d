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
constexpr double kSettleTimeConstants = 5.0;
constexpr double kOscillationPeriods = 2.0;
// A pole this lightly damped is treated as damped by this share of its
// magnitude, so an undamped pair still gives a finite span.
constexpr double kMinDampingShare = 0.05;
constexpr double kDefaultTimeScale = 10.0;
constexpr double kMinSamples = 10.0;
constexpr double kTwoPi = 6.283185307179586476925286766559;

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

// Eigenvalues of a (n x n, kept). work: n^2 + 2n + n (pivots, as ints in doubles).
void eigs_of(const double* a, int32_t n, double* work, double** re, double** im) {
  double* copy = work;
  *re = copy + int64_t(n) * n;
  *im = *re + n;
  int32_t* pivots = reinterpret_cast<int32_t*>(*im + n);
  std::memcpy(copy, a, size_t(int64_t(n) * n) * sizeof(double));
  numk_eig_real(copy, n, pivots, *re, *im);
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

// The span over continuous poles (re + i im); 0 when none counts.
double settle_span(double re, double im) {
  const double r = std::hypot(re, im);
  if (!(r > 0.0) || !std::isfinite(r)) return 0.0;
  const double rate = std::max(std::fabs(re), kMinDampingShare * r);
  double span = kSettleTimeConstants / rate;
  if (im != 0.0) span = std::max(span, kOscillationPeriods * kTwoPi / std::fabs(im));
  return span;
}

double continuous_scale(const double* re, const double* im, int32_t k) {
  double span = 0.0;
  for (int32_t i = 0; i < k; ++i) span = std::max(span, settle_span(re[i], im[i]));
  return span > 0.0 ? span : kDefaultTimeScale;
}

// Discrete poles mapped by s = log(z) / ts; a pole at the origin settles at once.
double discrete_scale(const double* re, const double* im, int32_t k, double ts) {
  double span = 0.0;
  for (int32_t i = 0; i < k; ++i) {
    const double r = std::hypot(re[i], im[i]);
    if (!(r > 0.0) || !std::isfinite(r)) continue;
    span = std::max(span, settle_span(std::log(r) / ts, std::atan2(im[i], re[i]) / ts));
  }
  if (!(span > 0.0)) return k > 0 ? kMinSamples * ts : kDefaultTimeScale;
  return std::max(span, kMinSamples * ts);
}

int64_t roots_work(int32_t n) { return 3 * int64_t(n) + 1 + roots_real_work(n); }
int64_t eigs_work(int32_t n) { return int64_t(n) * n + 3 * int64_t(n); }

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
  *out = continuous_scale(re, im, k);
}

void poly_roots_frequency_scale_alt(const double* p, int32_t n, double ts, double* work,
                                    double* out) {
  double *re, *im;
  int32_t k;
  roots_of(p, n, work, &re, &im, &k);
  *out = k > 0 ? discrete_scale(re, im, k, ts) : kDefaultTimeScale;
}

int64_t matrix_eig_frequency_scale_work(int32_t n) { return eigs_work(n); }

void matrix_eig_frequency_scale(const double* a, int32_t n, double* work, double* out) {
  double *re, *im;
  eigs_of(a, n, work, &re, &im);
  *out = continuous_scale(re, im, n);
}

void matrix_eig_frequency_scale_alt(const double* a, int32_t n, double ts, double* work,
                                    double* out) {
  double *re, *im;
  eigs_of(a, n, work, &re, &im);
  *out = n > 0 ? discrete_scale(re, im, n, ts) : kDefaultTimeScale;
}
