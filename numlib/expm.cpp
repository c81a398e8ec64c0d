// Scaling and squaring with the (6,6) Pade approximant, after balancing. The
// matrix is first balanced (isolated eigenvalues permuted to the ends, the
// rest scaled by powers of two, both exact) when that lowers its norm, and
// scaled by 2^-k until its norm is below 1/2, k as large as the norm needs.
// The approximant is formed as exp(A) - I and squared in that form while it
// is a small correction to I, so that slowly varying parts of a stiff matrix
// survive the many squarings; the squarings go on as plain ones once the
// exponential has decayed below its correction. The Pade numerator is built
// in E, the denominator in the work block, and the quotient is formed by the
// left-division solver.
#include "numlib/expm.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <utility>

#include "numlib/balance_factor.h"
#include "numlib/dense_lu.h"
#include "numlib/matmul.h"

namespace {

using Idx = std::ptrdiff_t;

constexpr int kPadeDegree = 6;
// A NaN or infinite norm passes no test of size: such a matrix takes 30
// squarings (a scale of 2^30), whatever it leads to.
constexpr int kNonFiniteSquarings = 30;

// A square matrix of order n: re, and im (null when real) n*n further on.
struct Square {
  double* re;
  double* im;
  Idx n;
  double& at(Idx i, Idx j) const { return re[i * n + j]; }
  double& at_im(Idx i, Idx j) const { return im[i * n + j]; }
  double abs(Idx i, Idx j) const {
    return im ? std::hypot(re[i * n + j], im[i * n + j]) : std::fabs(re[i * n + j]);
  }
  bool zero(Idx i, Idx j) const { return re[i * n + j] == 0.0 && (!im || im[i * n + j] == 0.0); }
};

// The infinity norm the scaling is judged by.
double norm_of(const Square& m) {
  return m.im ? numk_norm_inf_complex(m.re, m.im, int32_t(m.n)) : numk_norm_inf_real(m.re, int32_t(m.n));
}

// Infinity norm of M + shift I.
double norm_inf_shifted(const Square& m, double shift) {
  double nrm = 0.0;
  for (Idx i = 0; i < m.n; ++i) {
    double sum = 0.0;
    for (Idx j = 0; j < m.n; ++j) {
      const double r = m.at(i, j) + (i == j ? shift : 0.0);
      sum = sum + (m.im ? std::hypot(r, m.at_im(i, j)) : std::fabs(r));
    }
    if (sum > nrm || std::isnan(sum)) nrm = sum;
  }
  return nrm;
}

// --- Balancing ------------------------------------------------------------------------
// B = D^-1 P^T A P D: P moves rows and columns that isolate an eigenvalue to
// the ends (rows with no other entry to the bottom, then columns to the
// left), D scales the rest, lo..hi, by powers of two. scale[j] holds the index
// swapped with j for j outside lo..hi (as a double) and d_j inside.
struct Balance {
  Idx lo;
  Idx hi;
  double* scale;
};

void swap_index(const Square& m, Idx p, Idx q) {
  if (p == q) return;
  for (double* part : {m.re, m.im}) {
    if (!part) continue;
    for (Idx k = 0; k < m.n; ++k) std::swap(part[k * m.n + p], part[k * m.n + q]);
    for (Idx k = 0; k < m.n; ++k) std::swap(part[p * m.n + k], part[q * m.n + k]);
  }
}

void scale_index(const Square& m, Idx i, double f) {
  const double g = 1.0 / f;
  for (double* part : {m.re, m.im}) {
    if (!part) continue;
    for (Idx k = 0; k < m.n; ++k) part[i * m.n + k] *= g;
    for (Idx k = 0; k < m.n; ++k) part[k * m.n + i] *= f;
  }
}

// The 2-norm of the entries (i, lo..hi) (row) or (lo..hi, i), scaled so that
// it neither overflows nor underflows, and the largest modulus of the whole
// row or column (the entries outside lo..hi that are not 0 lie beyond it).
void line_norms(const Square& m, Idx i, bool row, Idx lo, Idx hi, double* two, double* big) {
  double mx = 0.0, whole = 0.0;
  for (Idx k = 0; k < m.n; ++k) {
    const double v = row ? m.abs(i, k) : m.abs(k, i);
    whole = std::max(whole, v);
    if (k >= lo && k <= hi) mx = std::max(mx, v);
  }
  *big = whole;
  if (mx == 0.0) {
    *two = 0.0;
    return;
  }
  double sum = 0.0;
  for (Idx k = lo; k <= hi; ++k) {
    const double v = (row ? m.abs(i, k) : m.abs(k, i)) / mx;
    sum = sum + v * v;
  }
  *two = mx * std::sqrt(sum);
}

// Pushes rows with no entry off the diagonal (within 0..hi) to the bottom and
// then columns with none (within lo..hi) to the left.
void balance_permute(const Square& m, Balance* b) {
  const Idx n = m.n;
  b->lo = 0;
  b->hi = n - 1;
  for (bool found = true; found && b->hi > 0;) {
    found = false;
    for (Idx i = b->hi; i >= 0; --i) {
      bool alone = true;
      for (Idx j = 0; j <= b->hi && alone; ++j) alone = i == j || m.zero(i, j);
      if (!alone) continue;
      b->scale[b->hi] = double(i);
      swap_index(m, i, b->hi);
      found = true;
      --b->hi;
      break;
    }
  }
  if (b->hi == 0) return;  // every eigenvalue isolated
  for (bool found = true; found;) {
    found = false;
    for (Idx j = b->lo; j <= b->hi; ++j) {
      bool alone = true;
      for (Idx i = b->lo; i <= b->hi && alone; ++i) alone = i == j || m.zero(i, j);
      if (!alone) continue;
      b->scale[b->lo] = double(j);
      swap_index(m, j, b->lo);
      found = true;
      ++b->lo;
      break;
    }
  }
}

void balance(const Square& m, Balance* b) {
  balance_permute(m, b);
  for (Idx i = b->lo; i <= b->hi; ++i) b->scale[i] = 1.0;
  if (b->lo >= b->hi) return;
  // Every change lowers c + r of its index by a twentieth, so the sweeps end.
  for (bool changed = true; changed;) {
    changed = false;
    for (Idx i = b->lo; i <= b->hi; ++i) {
      double c, ca, r, ra;
      line_norms(m, i, false, b->lo, b->hi, &c, &ca);
      line_norms(m, i, true, b->lo, b->hi, &r, &ra);
      if (c == 0.0 || r == 0.0) continue;
      const double d = b->scale[i], f = numk_detail::balance_factor(c, ca, r, ra, d);
      if (f == 1.0) continue;
      b->scale[i] = d * f;
      scale_index(m, i, f);
      changed = true;
    }
  }
}

// M := P D M D^-1 P^T, which takes exp(B) to exp(A): the scaling first, then
// the swaps in the reverse order of their making.
void unbalance(const Square& m, const Balance& b) {
  for (Idx i = b.lo; i <= b.hi; ++i)
    if (b.scale[i] != 1.0) scale_index(m, i, 1.0 / b.scale[i]);
  for (Idx i = b.lo - 1; i >= 0; --i) swap_index(m, i, Idx(b.scale[i]));
  for (Idx i = b.hi + 1; i < m.n; ++i) swap_index(m, i, Idx(b.scale[i]));
}

// --- Scaling and the approximant -------------------------------------------------------

// Smallest k >= 0 with nrm / 2^k < 0.5 (0 for a zero norm).
int squarings_for(double nrm) {
  if (!std::isfinite(nrm)) return kNonFiniteSquarings;
  int k = 0;
  while (!(std::ldexp(1.0, k - 1) > nrm)) ++k;
  return k;
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

// The row scratch is dead once the powers are formed: it holds the pivots.
uint32_t* row_as_perm(double* row) { return reinterpret_cast<uint32_t*>(row); }

// The work block of either element type: blocks is 1 (real) or 2 (complex).
struct Work {
  double* row;
  double* x;
  double* d;
  double* scale;
};

Work work_parts(double* work, Idx n, Idx blocks) {
  const Idx nn = n * n;
  Work w;
  w.row = work;
  w.x = w.row + blocks * n;
  w.d = w.x + blocks * nn;
  w.scale = w.d + blocks * nn;
  return w;
}

// Balances A in place when that lowers its norm (trying it on the copy in x);
// returns the norm of A as it stands and whether it was balanced.
double balance_if_better(const Square& a, const Work& w, Balance* b, bool* balanced) {
  const Idx blocks = a.im ? 2 : 1, count = blocks * a.n * a.n;
  const double nrm = norm_of(a);
  *balanced = false;
  if (a.n < 2 || !std::isfinite(nrm)) return nrm;
  std::memcpy(w.x, a.re, size_t(count) * sizeof(double));
  const Square x{w.x, a.im ? w.x + a.n * a.n : nullptr, a.n};
  b->scale = w.scale;
  balance(x, b);
  const double after = norm_of(x);
  if (!(after < nrm)) return nrm;
  std::memcpy(a.re, w.x, size_t(count) * sizeof(double));
  *balanced = true;
  return after;
}

// E := exp(A) for either element type (a.im set for a complex A, its
// imaginary block right after the real one, as in e).
void expm_kernel(const Square& a, double* e, double* work) {
  const Idx n = a.n, nn = n * n;
  const bool cplx = a.im != nullptr;
  const Idx blocks = cplx ? 2 : 1, count = blocks * nn;
  const Work w = work_parts(work, n, blocks);
  Balance bal{0, n - 1, w.scale};
  bool balanced = false;
  const int squarings = squarings_for(balance_if_better(a, w, &bal, &balanced));
  for (Idx i = 0; i < count; ++i) a.re[i] = std::ldexp(a.re[i], -squarings);

  // r(A) - I = D^-1 (N - D) = 2 D^-1 U, with U the odd part of the numerator
  // and D = V - U its denominator: U is built in e, D in d.
  double c = 0.5;
  std::memcpy(w.x, a.re, size_t(count) * sizeof(double));
  for (Idx i = 0; i < count; ++i) {
    e[i] = c * a.re[i];
    w.d[i] = -c * a.re[i];
  }
  for (Idx i = 0; i < n; ++i) w.d[i * n + i] = w.d[i * n + i] + 1.0;
  for (int k = 2; k <= kPadeDegree; ++k) {
    c = c * (kPadeDegree + 1 - k) / (k * (2 * kPadeDegree + 1 - k));
    if (cplx) left_multiply_complex(a.re, w.x, n, w.row);
    else left_multiply_real(a.re, w.x, n, w.row);
    if (k % 2 == 0) {
      for (Idx i = 0; i < count; ++i) w.d[i] = w.d[i] + c * w.x[i];
    } else {
      for (Idx i = 0; i < count; ++i) {
        e[i] = e[i] + c * w.x[i];
        w.d[i] = w.d[i] - c * w.x[i];
      }
    }
  }
  for (Idx i = 0; i < count; ++i) e[i] = 2.0 * e[i];
  if (cplx) linsolve_left_complex(w.d, e, int32_t(n), int32_t(n), row_as_perm(w.row));
  else linsolve_left_real(w.d, e, int32_t(n), int32_t(n), row_as_perm(w.row), 0);

  // Squaring F = exp(A/2^q) - I as (I + F)^2 - I = F F + 2 F keeps the parts
  // of F that are tiny beside I; once I + F is small beside F (the
  // exponential has decayed), plain squaring keeps E's own digits instead.
  double* cur = e;
  double* other = w.x;
  bool correction = true;
  for (int q = 0; q < squarings; ++q) {
    if (cplx) matmul_complex(int32_t(n), int32_t(n), int32_t(n), cur, cur, other);
    else matmul_real(int32_t(n), int32_t(n), int32_t(n), cur, cur, other);
    if (correction) {
      for (Idx i = 0; i < count; ++i) other[i] = other[i] + 2.0 * cur[i];
      const Square f{other, cplx ? other + nn : nullptr, n};
      if (norm_inf_shifted(f, 1.0) < 0.5 * norm_inf_shifted(f, 0.0)) {
        for (Idx i = 0; i < n; ++i) other[i * n + i] = other[i * n + i] + 1.0;
        correction = false;
      }
    }
    std::swap(cur, other);
  }
  if (correction)
    for (Idx i = 0; i < n; ++i) cur[i * n + i] = cur[i * n + i] + 1.0;
  if (cur != e) std::memcpy(e, cur, size_t(count) * sizeof(double));
  if (balanced) unbalance(Square{e, cplx ? e + nn : nullptr, n}, bal);
}

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
  if (n32 < 1) return;
  expm_kernel(Square{a, nullptr, n32}, e, work);
}

void numk_expm_complex(double* a, int32_t n32, double* e, double* work) {
  if (n32 < 1) return;
  expm_kernel(Square{a, a + Idx(n32) * n32, n32}, e, work);
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
