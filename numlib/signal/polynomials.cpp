// polyval, polyder, polyint, roots and poly. Each call reads its arguments
// where they lie, tests the room for everything it pushes, pushes its results
// and fills them, and removes its arguments beneath the results last.
#include "numlib/signal/polynomials.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/polyroots.h"

namespace {

constexpr int kNonVectorArray = 22;  // "Non-vector array"
constexpr int32_t kDimColumns = 1;   // roots' dimension argument, 1-based
constexpr int32_t kDimRows = 2;
// Header words a pushed matrix may take beyond its elements (N-d headers).
constexpr int64_t kPushSlack = 16;

// A coefficient vector (or matrix) where it lies; im null for a real one.
struct Coeffs {
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  double* im = nullptr;
  int64_t count() const { return int64_t(rows) * cols; }
};

int read_matrix(EngineContext* ctx, int depth, Coeffs* m) {
  return stk_get_matrix(ctx, depth, &m->rows, &m->cols, &m->re, &m->im) == kOk ? kOk
                                                                                : kWrongArgType;
}

// A vector (or empty) matrix: 22 for anything else.
int read_vector(EngineContext* ctx, int depth, Coeffs* m) {
  TN_TRY(read_matrix(ctx, depth, m));
  if (m->count() != 0 && m->rows != 1 && m->cols != 1) return kNonVectorArray;
  return kOk;
}

bool has_room(const EngineContext* ctx, int items, int64_t words) {
  return int64_t(ctx->desc_top) + 3 * items < int64_t(ctx->desc_capacity) &&
         words + kPushSlack * items <= data_free_words(ctx);
}

int64_t words_of(int64_t n, bool cplx) { return cplx ? 2 * n : n; }

// d[k] = (n - 1 - k) p[k] for k = 0..n-2: the derivative of n coefficients.
void derive(const double* p_re, const double* p_im, int64_t n, double* d_re, double* d_im) {
  for (int64_t k = 0; k + 1 < n; ++k) {
    const double f = double(n - 1 - k);
    d_re[k] = f * p_re[k];
    if (d_im) d_im[k] = p_im ? f * p_im[k] : 0.0;
  }
}

}  // namespace

int poly_push_zero_coeffs(EngineContext* ctx, int32_t n, double** re, double** im) {
  TN_TRY(stk_push_zeros(ctx, 1, n + 1, im ? 1 : 0));
  return stk_get_matrix(ctx, 0, nullptr, nullptr, re, im);
}

void poly_mul_accumulate(const double* a_re, const double* a_im, int32_t na, const double* b_re,
                         const double* b_im, int32_t nb, double* c_re, double* c_im) {
  for (int64_t i = 0; i <= na; ++i)
    for (int64_t j = 0; j <= nb; ++j) {
      const double ar = a_re[i], br = b_re[j];
      if (!a_im && !b_im) {
        c_re[i + j] += ar * br;
        continue;
      }
      const double ai = a_im ? a_im[i] : 0.0, bi = b_im ? b_im[j] : 0.0;
      c_re[i + j] += ar * br - ai * bi;
      c_im[i + j] += ar * bi + ai * br;
    }
}

// --- polyval -------------------------------------------------------------------
// y = polyval(p, x): Horner's rule on every element of x; an empty p gives zeros.
int bi_polyval(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 2) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  Coeffs p;
  TN_TRY(read_vector(ctx, 1, &p));
  int nd = 0;
  const uint32_t* xd = nullptr;
  int64_t n = 0;
  double *xre = nullptr, *xim = nullptr;
  if (stk_get_double_array(ctx, 0, &nd, &xd, &n, &xre, &xim) != kOk) return kWrongArgType;
  const bool cplx = p.im || xim;
  if (!has_room(ctx, 1, words_of(n, cplx))) return kDataStackOverflow;
  int32_t dims[16];
  for (int k = 0; k < nd && k < 16; ++k) dims[k] = int32_t(xd[k]);
  double *yre = nullptr, *yim = nullptr;
  TN_TRY(stk_push_double_nd(ctx, nd, dims, &yre, cplx ? &yim : nullptr));
  TN_TRY(read_vector(ctx, 2, &p));
  stk_get_double_array(ctx, 1, &nd, &xd, &n, &xre, &xim);
  const int64_t len = p.count();
  for (int64_t e = 0; e < n; ++e) {
    const double xr = xre[e], xi = xim ? xim[e] : 0.0;
    double yr = 0.0, yi = 0.0;
    for (int64_t k = 0; k < len; ++k) {
      if (!cplx) {
        yr = yr * xr + p.re[k];
        continue;
      }
      const double tr = yr * xr - yi * xi, ti = yr * xi + yi * xr;
      yr = tr + p.re[k];
      yi = ti + (p.im ? p.im[k] : 0.0);
    }
    yre[e] = yr;
    if (cplx) yim[e] = yi;
  }
  return stk_remove(ctx, 1, 2);
}

// --- polyder -------------------------------------------------------------------
// d = polyder(p); d = polyder(a, b) (the product's); [q, d] = polyder(a, b) (the quotient's).
int bi_polyder(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  // The quotient form needs the denominator: with one input there is none.
  if (nargout > nargin || nargout > 2) return kTooManyOutputs;
  Coeffs a, b;
  TN_TRY(read_vector(ctx, nargin - 1, &a));
  if (nargin == 2) TN_TRY(read_vector(ctx, 0, &b));
  if (nargin == 1) {
    const int64_t la = a.count();
    const int64_t ld = std::max<int64_t>(la - 1, 0);
    if (!has_room(ctx, 1, words_of(ld, a.im))) return kDataStackOverflow;
    double *dre = nullptr, *dim = nullptr;
    TN_TRY(stk_push_zeros(ctx, 1, int32_t(ld), a.im ? 1 : 0));
    stk_get_matrix(ctx, 0, nullptr, nullptr, &dre, &dim);
    read_vector(ctx, 1, &a);
    derive(a.re, a.im, la, dre, dim);
    return stk_remove(ctx, 1, 1);
  }
  const int64_t la = a.count(), lb = b.count();
  const bool cplx = a.im || b.im;
  if (nargout < 2) {
    // The derivative of the product: the product in scratch above the result.
    const int64_t lc = la > 0 && lb > 0 ? la + lb - 1 : 0;
    const int64_t ld = std::max<int64_t>(lc - 1, 0);
    if (!has_room(ctx, 1, words_of(ld, cplx) + 2 * lc)) return kDataStackOverflow;
    TN_TRY(stk_push_zeros(ctx, 1, int32_t(ld), cplx ? 1 : 0));
    double *dre = nullptr, *dim = nullptr;
    stk_get_matrix(ctx, 0, nullptr, nullptr, &dre, &dim);
    read_vector(ctx, 2, &a);
    read_vector(ctx, 1, &b);
    void* free_ptr = nullptr;
    stk_free_space(ctx, nullptr, &free_ptr);
    double* cre = static_cast<double*>(free_ptr);
    double* cim = cre + lc;
    std::fill(cre, cre + 2 * lc, 0.0);
    if (lc > 0)
      poly_mul_accumulate(a.re, a.im, int32_t(la - 1), b.re, b.im, int32_t(lb - 1), cre,
                          cplx ? cim : nullptr);
    derive(cre, cplx ? cim : nullptr, lc, dre, dim);
    return stk_remove(ctx, 1, 2);
  }
  // The quotient a/b: q = a' b - a b' over d = b b; a' and b' in scratch.
  const int64_t lq = la > 0 && lb > 0 ? la + lb - 2 : 0;
  const int64_t ld = lb > 0 ? 2 * lb - 1 : 0;
  const int64_t scratch = 2 * (la + lb) + 2 * lq;
  if (!has_room(ctx, 2, words_of(ld, cplx) + words_of(lq, cplx) + scratch))
    return kDataStackOverflow;
  TN_TRY(stk_push_zeros(ctx, 1, int32_t(ld), cplx ? 1 : 0));
  TN_TRY(stk_push_zeros(ctx, 1, int32_t(lq), cplx ? 1 : 0));
  double *dre = nullptr, *dim = nullptr, *qre = nullptr, *qim = nullptr;
  stk_get_matrix(ctx, 1, nullptr, nullptr, &dre, &dim);
  stk_get_matrix(ctx, 0, nullptr, nullptr, &qre, &qim);
  read_vector(ctx, 3, &a);
  read_vector(ctx, 2, &b);
  if (lb > 0)
    poly_mul_accumulate(b.re, b.im, int32_t(lb - 1), b.re, b.im, int32_t(lb - 1), dre, dim);
  if (lq > 0) {
    void* free_ptr = nullptr;
    stk_free_space(ctx, nullptr, &free_ptr);
    double* dare = static_cast<double*>(free_ptr);
    double* daim = dare + la;
    double* dbre = daim + la;
    double* dbim = dbre + lb;
    double* tre = dbim + lb;  // a b', subtracted at the end
    double* tim = tre + lq;
    derive(a.re, a.im, la, dare, cplx ? daim : nullptr);
    derive(b.re, b.im, lb, dbre, cplx ? dbim : nullptr);
    std::fill(tre, tre + 2 * lq, 0.0);
    if (la > 1)
      poly_mul_accumulate(dare, cplx ? daim : nullptr, int32_t(la - 2), b.re, b.im,
                          int32_t(lb - 1), qre, qim);
    if (lb > 1)
      poly_mul_accumulate(a.re, a.im, int32_t(la - 1), dbre, cplx ? dbim : nullptr,
                          int32_t(lb - 2), tre, cplx ? tim : nullptr);
    for (int64_t k = 0; k < lq; ++k) {
      qre[k] -= tre[k];
      if (cplx) qim[k] -= tim[k];
    }
  }
  return stk_remove(ctx, 2, 2);
}

// --- polyint -------------------------------------------------------------------
// P = polyint(p[, c]): P[k] = p[k] / (n - k), P[n] = c.
int bi_polyint(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  Coeffs p;
  TN_TRY(read_vector(ctx, nargin - 1, &p));
  double cr = 0.0, ci = 0.0;
  if (nargin == 2) {
    Coeffs c;
    TN_TRY(read_matrix(ctx, 0, &c));
    if (c.count() != 1) return kNonScalarArg;
    cr = c.re[0];
    ci = c.im ? c.im[0] : 0.0;
  }
  const int64_t n = p.count();
  if (n == 0) {
    TN_TRY(stk_push_empty(ctx));
    return stk_remove(ctx, 1, nargin);
  }
  const bool cplx = p.im || ci != 0.0;
  if (!has_room(ctx, 1, words_of(n + 1, cplx))) return kDataStackOverflow;
  TN_TRY(stk_push_zeros(ctx, 1, int32_t(n + 1), cplx ? 1 : 0));
  double *re = nullptr, *im = nullptr;
  stk_get_matrix(ctx, 0, nullptr, nullptr, &re, &im);
  read_vector(ctx, nargin, &p);
  for (int64_t k = 0; k < n; ++k) {
    re[k] = p.re[k] / double(n - k);
    if (cplx) im[k] = p.im ? p.im[k] / double(n - k) : 0.0;
  }
  re[n] = cr;
  if (cplx) im[n] = ci;
  return stk_remove(ctx, 1, nargin);
}

// --- roots ---------------------------------------------------------------------
// r = roots(p[, dim]): the roots of each column (or row) of p, one column each.
int bi_roots(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  int32_t dim = 0;
  if (nargin == 2) {
    TN_TRY(stk_get_int(ctx, 0, &dim));
    if (dim != kDimColumns && dim != kDimRows) return kBadArgument;
  }
  Coeffs p;
  TN_TRY(read_matrix(ctx, nargin - 1, &p));
  // The polynomials: element k of polynomial j at j * gap + k * step.
  int64_t c = p.rows, r = p.cols, step = p.cols, gap = 1;
  if (dim == kDimRows || (dim == 0 && p.rows == 1)) {
    c = p.cols;
    r = p.rows;
    step = 1;
    gap = p.cols;
  }
  // A single polynomial loses its leading zeros (roots at infinity).
  int64_t skip = 0;
  if (r == 1)
    while (skip < c && p.re[skip * step] == 0.0 && (!p.im || p.im[skip * step] == 0.0)) ++skip;
  const int64_t cc = c - skip;
  if (cc < 2 || r == 0) {
    TN_TRY(stk_push_empty(ctx));
    return stk_remove(ctx, 1, nargin);
  }
  const int64_t deg = c - 1;
  const int64_t rows = cc - 1;
  const int64_t work = std::max(roots_real_work(deg), roots_complex_work(deg));
  const int64_t scratch = 2 * c + 2 * deg + work;
  if (!has_room(ctx, 1, 2 * rows * r + scratch)) return kDataStackOverflow;
  TN_TRY(stk_push_zeros(ctx, int32_t(rows), int32_t(r), 1));
  double *ore = nullptr, *oim = nullptr;
  stk_get_matrix(ctx, 0, nullptr, nullptr, &ore, &oim);
  read_matrix(ctx, nargin, &p);
  void* free_ptr = nullptr;
  stk_free_space(ctx, nullptr, &free_ptr);
  double* q_re = static_cast<double*>(free_ptr);
  double* q_im = q_re + c;
  double* z_re = q_im + c;
  double* z_im = z_re + deg;
  double* wk = z_im + deg;
  bool any_complex = p.im != nullptr;
  for (int64_t j = 0; j < r; ++j) {
    // Leading zeros of this polynomial: its missing roots are infinite.
    int64_t lead = skip;
    while (lead < c && p.re[j * gap + lead * step] == 0.0 &&
           (!p.im || p.im[j * gap + lead * step] == 0.0))
      ++lead;
    const int64_t n = c - lead - 1;  // degree after stripping
    for (int64_t k = 0; k < c - lead; ++k) {
      q_re[k] = p.re[j * gap + (lead + k) * step];
      q_im[k] = p.im ? p.im[j * gap + (lead + k) * step] : 0.0;
    }
    if (n > 0) {
      if (p.im)
        roots_complex_coeffs(q_re, q_im, int32_t(n), z_re, z_im, wk);
      else if (roots_real_coeffs(q_re, int32_t(n), z_re, z_im, wk) != 0)
        any_complex = true;
    }
    const int64_t finite = std::max<int64_t>(n, 0);
    for (int64_t k = 0; k < rows; ++k) {
      const bool have = k < finite;
      ore[k * r + j] = have ? z_re[k] : std::numeric_limits<double>::infinity();
      oim[k * r + j] = have ? z_im[k] : 0.0;
    }
  }
  if (!any_complex) stk_make_real_top(ctx);
  return stk_remove(ctx, 1, nargin);
}

// --- poly ----------------------------------------------------------------------
// p = poly(x): the characteristic polynomial of a square matrix, else the
// polynomial whose roots are the elements of the vector x.
int bi_poly(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  Coeffs x;
  TN_TRY(read_matrix(ctx, 0, &x));
  if (x.count() == 0) {
    TN_TRY(stk_push_real(ctx, 1.0));
    return stk_remove(ctx, 1, 1);
  }
  const bool square = x.rows == x.cols && x.rows > 1;
  if (!square && x.rows != 1 && x.cols != 1) return kNonVectorArray;
  const int64_t n = square ? x.rows : x.count();
  const bool cplx = x.im != nullptr;
  // Scratch: a copy of the matrix (destroyed by the kernels) and their work.
  const int64_t copy = square ? words_of(n * n, cplx) : 0;
  const int64_t scratch = copy + numk_charpoly_work(n) + n + 2 * (n + 1);
  if (!has_room(ctx, 1, 2 * (n + 1) + scratch)) return kDataStackOverflow;
  TN_TRY(stk_push_zeros(ctx, 1, int32_t(n + 1), cplx ? 1 : 0));
  double *pre = nullptr, *pim = nullptr;
  stk_get_matrix(ctx, 0, nullptr, nullptr, &pre, &pim);
  read_matrix(ctx, 1, &x);
  void* free_ptr = nullptr;
  stk_free_space(ctx, nullptr, &free_ptr);
  double* s = static_cast<double*>(free_ptr);
  bool make_real = !cplx;
  if (square) {
    std::memcpy(s, x.re, size_t(n * n) * sizeof(double));
    if (cplx) {
      std::memcpy(s + n * n, x.im, size_t(n * n) * sizeof(double));
      numk_charpoly_complex(s, s + n * n, int32_t(n), pre, pim,
                            reinterpret_cast<int32_t*>(s + 2 * n * n));
    } else {
      numk_charpoly(s, int32_t(n), pre, s + n * n);
    }
  } else if (!cplx) {
    numk_poly_from_real_roots(x.re, int32_t(n), pre);
  } else {
    make_real = numk_poly_from_roots(x.re, x.im, int32_t(n), pre, pim);
  }
  if (cplx && make_real) stk_make_real_top(ctx);
  return stk_remove(ctx, 1, 1);
}
