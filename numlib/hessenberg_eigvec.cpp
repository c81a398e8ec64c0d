// Inverse iteration on an upper Hessenberg matrix. The shifted matrix is
// divided by its largest element first, so that the factor's elements stay
// below about n: one threshold then keeps the scaled back substitution finite
// for matrices of any magnitude. A zero pivot stands in for a rounding error
// of the elements around it; the start vectors are of the size of a rounding
// error of the whole matrix (eps3).
#include "numlib/hessenberg_eigvec.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numlib/complex_arith.h"

namespace {

constexpr double kEps = 2.220446049250313e-16;
// A solution element that would pass this (in |re| + |im|) has the whole
// vector scaled down first.
constexpr double kGrowLimit = 1e100;
// Start vectors tried before the last solution is taken as it stands.
constexpr int kMaxStarts = 6;
// Steps of the whole iteration after growth before x is given up on, and
// the residual, in units of n eps times |H - lambda I| |x|, that ends them.
constexpr int kMaxSteps = 6;
constexpr double kResidualUnits = 4.0;

// b := (h - lambda I) / scale on and above the subdiagonal.
void shifted(const double* h_re, const double* h_im, int32_t n, Cx lambda, double scale,
             const CxMatrix& b) {
  const Cx l = cx_scale(lambda, 1.0 / scale);
  for (std::ptrdiff_t i = 0; i < n; ++i)
    for (std::ptrdiff_t j = std::max<std::ptrdiff_t>(i - 1, 0); j < n; ++j) {
      Cx v{h_re[i * n + j] / scale, h_im ? h_im[i * n + j] / scale : 0.0};
      if (i == j) v = cx_sub(v, l);
      b.set(i, j, v);
    }
}

// What a zero pivot at (i, i) becomes: eps times the size of its row and of
// its column above it, so that the perturbation is a rounding error of the
// elements it meets. A graded matrix's small block is then not swamped by
// the large one's rounding (eps3 of the whole matrix would make the vectors
// of the block 1 and 2 beside 1e20 indistinguishable); a pivot with nothing
// around it takes the smallest normal number.
Cx zero_pivot(const CxMatrix& b, std::ptrdiff_t i) {
  double size = 0.0;
  for (std::ptrdiff_t j = i; j < b.n; ++j) size += cx_abs1(b.get(i, j));
  for (std::ptrdiff_t k = 0; k < i; ++k) size += cx_abs1(b.get(k, i));
  return {size > 0.0 ? std::max(size * kEps, std::numeric_limits<double>::min())
                     : std::numeric_limits<double>::min(),
          0.0};
}

// b := its upper factor by elimination down the subdiagonal, each step
// pivoting between the two rows it touches; a zero pivot becomes a rounding
// error of its row and column (zero_pivot), so that an exact eigenvalue still
// gives a solvable system. Step i's multiplier is kept at (i + 1, i) and its
// interchange in swapped[i] (1 or 0).
void factor(const CxMatrix& b, double* swapped) {
  const std::ptrdiff_t n = b.n;
  for (std::ptrdiff_t i = 0; i + 1 < n; ++i) {
    const Cx e = b.get(i + 1, i);
    const Cx d = b.get(i, i);
    Cx x;
    swapped[i] = cx_abs1(d) < cx_abs1(e) ? 1.0 : 0.0;
    if (swapped[i] != 0.0) {
      x = cx_div(d, e);
      b.set(i, i, e);
      for (std::ptrdiff_t j = i + 1; j < n; ++j) {
        const Cx t = b.get(i + 1, j);
        b.set(i + 1, j, cx_sub(b.get(i, j), cx_mul(x, t)));
        b.set(i, j, t);
      }
    } else {
      if (!b.nonzero(i, i)) b.set(i, i, zero_pivot(b, i));
      x = cx_div(e, b.get(i, i));
      if (x.re != 0.0 || x.im != 0.0)
        for (std::ptrdiff_t j = i + 1; j < n; ++j)
          b.set(i + 1, j, cx_sub(b.get(i + 1, j), cx_mul(x, b.get(i, j))));
    }
    b.set(i + 1, i, x);
  }
  if (!b.nonzero(n - 1, n - 1)) b.set(n - 1, n - 1, zero_pivot(b, n - 1));
}

// x := L^-1 P x, the elimination of factor() applied to a right-hand side.
// Multipliers are at most 1 in size.
void solve_lower(const CxMatrix& b, const double* swapped, double* x_re, double* x_im) {
  for (std::ptrdiff_t i = 0; i + 1 < b.n; ++i) {
    if (swapped[i] != 0.0) std::swap(x_re[i], x_re[i + 1]), std::swap(x_im[i], x_im[i + 1]);
    const Cx t = cx_mul(b.get(i + 1, i), {x_re[i], x_im[i]});
    x_re[i + 1] -= t.re, x_im[i + 1] -= t.im;
  }
}

// U x = s b for the upper triangle of u, x holding b on entry; returns s, 1
// unless x had to be scaled down on the way. No pivot is zero.
double solve_upper(const CxMatrix& u, double* x_re, double* x_im) {
  const std::ptrdiff_t n = u.n;
  double s = 1.0;
  for (std::ptrdiff_t i = n - 1; i >= 0; --i) {
    const Cx p = u.get(i, i);
    const double ar = std::fabs(x_re[i]) + std::fabs(x_im[i]), ap = cx_abs1(p);
    if (ar > kGrowLimit * ap) {
      const double f = kGrowLimit * ap / ar;
      for (std::ptrdiff_t j = 0; j < n; ++j) x_re[j] *= f, x_im[j] *= f;
      s *= f;
    }
    const Cx xi = cx_div({x_re[i], x_im[i]}, p);
    x_re[i] = xi.re, x_im[i] = xi.im;
    for (std::ptrdiff_t j = 0; j < i; ++j) {
      const Cx t = cx_mul(u.get(j, i), xi);
      x_re[j] -= t.re, x_im[j] -= t.im;
    }
  }
  return s;
}

// x := x / its largest element (|re| + |im|). A zero or non-finite x becomes
// the last unit vector, and the answer is false.
bool normalise(double* x_re, double* x_im, int64_t n) {
  double big = 0.0;
  for (int64_t i = 0; i < n; ++i) big = std::max(big, std::fabs(x_re[i]) + std::fabs(x_im[i]));
  if (!(big > 0.0) || !std::isfinite(big)) {
    for (int64_t i = 0; i < n; ++i) x_re[i] = x_im[i] = 0.0;
    x_re[n - 1] = 1.0;
    return false;
  }
  for (int64_t i = 0; i < n; ++i) x_re[i] /= big, x_im[i] /= big;
  return true;
}

// Whether x is an eigenvector of h for lambda to working accuracy: the
// residual (h - lambda I) x, weighed element by element against
// (|h| + |lambda| I) |x|, so that a vector of a graded matrix is judged at its own
// scale (a vector of the small block of [1e20 0 0; 0 1 1; 0 0 2] with a
// residual of 1 passes no norm-wise test it should fail). The sums are of
// h / scale, the same scaled matrix the factor was made of.
bool settled(const double* h_re, const double* h_im, int32_t n, Cx lambda, double scale,
             const double* x_re, const double* x_im) {
  const Cx l = cx_scale(lambda, 1.0 / scale);
  double worst = 0.0, bound = 0.0;
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    Cx r{0.0, 0.0};
    double b = 0.0;
    for (std::ptrdiff_t j = std::max<std::ptrdiff_t>(i - 1, 0); j < n; ++j) {
      Cx hij{h_re[i * n + j] / scale, h_im ? h_im[i * n + j] / scale : 0.0};
      const double xj = std::fabs(x_re[j]) + std::fabs(x_im[j]);
      b += (cx_abs1(hij) + (i == j ? cx_abs1(l) : 0.0)) * xj;
      if (i == j) hij = cx_sub(hij, l);
      r = cx_add(r, cx_mul(hij, {x_re[j], x_im[j]}));
    }
    worst = std::max(worst, cx_abs1(r));
    bound = std::max(bound, b);
  }
  return worst <= kResidualUnits * n * kEps * bound;
}

}  // namespace

bool numk_hessenberg_eigvec(const double* h_re, const double* h_im, int32_t n, double lr, double li,
                            double* x_re, double* x_im, double* work) {
  if (n <= 0) return true;
  double scale = 0.0;
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = std::max<int64_t>(i - 1, 0); j < n; ++j)
      scale = std::max({scale, std::fabs(h_re[i * n + j]), h_im ? std::fabs(h_im[i * n + j]) : 0.0});
  if (scale == 0.0) scale = 1.0;
  const CxMatrix b{work, work + int64_t{n} * n, n};
  // The scaled H's infinity norm sets eps3, the size of the start vectors.
  double norm = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    double row = 0.0;
    for (int64_t j = std::max<int64_t>(i - 1, 0); j < n; ++j)
      row += (std::fabs(h_re[i * n + j]) + (h_im ? std::fabs(h_im[i * n + j]) : 0.0)) / scale;
    norm = std::max(norm, row);
  }
  const double eps3 = norm > 0 ? norm * kEps : std::numeric_limits<double>::min();
  double* swapped = work + numk_hessenberg_eigvec_work(n) - n;
  shifted(h_re, h_im, n, {lr, li}, scale, b);
  factor(b, swapped);
  // Wilkinson's start: solving the triangular factor alone from a vector of
  // eps3 is solving the whole system from L times it. Enough growth means the
  // system is singular to working accuracy and x lies along its null vector;
  // without it, start vectors nearly orthogonal to the last are tried.
  const double rootn = std::sqrt(double(n)), grow_to = 0.1 / rootn;
  for (int64_t i = 0; i < n; ++i) x_re[i] = eps3, x_im[i] = 0.0;
  bool grown = false;
  for (int32_t t = 0;; ++t) {
    const double s = solve_upper(b, x_re, x_im);
    double size = 0.0;
    for (int64_t i = 0; i < n; ++i) size += std::fabs(x_re[i]) + std::fabs(x_im[i]);
    if (size >= grow_to * s) {
      grown = true;
      break;
    }
    if (t + 1 >= std::min(kMaxStarts, n)) break;
    x_re[0] = eps3, x_im[0] = 0.0;
    for (int64_t i = 1; i < n; ++i) x_re[i] = eps3 / (rootn + 1), x_im[i] = 0.0;
    x_re[n - 1 - t] -= eps3 * rootn;
  }
  // Growth only bounds the residual by about n eps3 / grow_to; further steps
  // of the whole iteration from the normalised x bring it down to the
  // smallest singular value of the shifted matrix. A nearly defective
  // eigenvalue needs more than one, as its neighbour draws x towards itself;
  // the residual says when x has settled.
  if (!normalise(x_re, x_im, n)) return false;
  if (!grown) return false;
  for (int step = 0; step < kMaxSteps; ++step) {
    solve_lower(b, swapped, x_re, x_im);
    solve_upper(b, x_re, x_im);
    if (!normalise(x_re, x_im, n)) return false;
    if (settled(h_re, h_im, n, {lr, li}, scale, x_re, x_im)) return true;
  }
  return false;
}
