// filter: the rational digital filter y = (b / a) x in transposed direct
// form II along one dimension of a double or single signal, with initial and
// final state. The state item is updated in place and kept in double for a
// single signal; the normalised coefficients live in a scratch item on top.
#include <cmath>
#include <cstdint>

#include "engine/core/complex_scalar.h"
#include "engine/core/convert.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_args.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/poly_filter.h"

namespace {

constexpr int kFilterMinArgs = 3;
constexpr int kArgZi = 4;
constexpr int kArgDim = 5;
constexpr int kCoefRows = 2;  // scratch: b padded to n + 1, then a

// Element k of a numeric argument as a double pair (any class, imag 0 when real).
void element(const ArrayArg& x, int64_t k, double* re, double* im) {
  *re = element_as_double(x, k);
  *im = 0.0;
  if (!x.im) return;
  *im = x.cls == ArrayArg::kSingle ? double(tn::load<float>(x.im + 4 * k)) : tn::ld_f64(x.im + 8 * k);
}

bool one_row(const ArrayArg& v) { return v.ndims == 2 && v.dims[0] == 1; }

// The coefficients after normalisation by a(1): bre/bim then are/aim, each
// n + 1 long; the imaginary parts are null when both b and a are real.
struct Coefs {
  int64_t n;
  double *bre, *bim, *are, *aim;
};

void fill_coefs(const ArrayArg& b, const ArrayArg& a, const Coefs& c) {
  for (int64_t k = 0; k <= c.n; ++k) {
    double re = 0, im = 0;
    if (k < b.count) element(b, k, &re, &im);
    c.bre[k] = re;
    if (c.bim) c.bim[k] = im;
    re = im = 0;
    if (k < a.count) element(a, k, &re, &im);
    c.are[k] = re;
    if (c.aim) c.aim[k] = im;
  }
  const double a0r = c.are[0], a0i = c.aim ? c.aim[0] : 0.0;
  if (a0r == 1.0 && a0i == 0.0) return;
  if (a.cplx) {
    // Divided by a(1).
    auto divide = [&](double* re, double* im) { cplx::smith_divide(*re, *im, a0r, a0i, *re, *im); };
    for (int64_t k = 1; k <= c.n; ++k) divide(&c.are[k], &c.aim[k]);
    for (int64_t k = 0; k <= c.n; ++k) divide(&c.bre[k], &c.bim[k]);
    c.are[0] = 1.0;
    c.aim[0] = 0.0;
    return;
  }
  const double s = 1.0 / a0r;
  for (int64_t k = 0; k <= c.n; ++k) {
    c.are[k] *= s;
    c.bre[k] *= s;
    if (c.bim) c.bim[k] *= s;
  }
}

// One signal vector: element t at base + t * step of x and y; its state
// element i at i * gap of z.
struct Line {
  int64_t base, step, length;
};

// Real data: the hot loop, written for speed.
template <typename T>
void run_real(const Coefs& c, const T* x, T* y, double* z, int64_t gap, const Line& l) {
  const int64_t n = c.n;
  for (int64_t t = 0; t < l.length; ++t) {
    const double xt = double(x[l.base + t * l.step]);
    const double yt = c.bre[0] * xt + (n > 0 ? z[0] : 0.0);
    for (int64_t i = 0; i + 1 < n; ++i) z[i * gap] = c.bre[i + 1] * xt + z[(i + 1) * gap] - c.are[i + 1] * yt;
    if (n > 0) z[(n - 1) * gap] = c.bre[n] * xt + 0.0 - c.are[n] * yt;
    y[l.base + t * l.step] = T(yt);
  }
}

// Complex data: the same recurrences in complex arithmetic; a null imaginary
// pointer reads as zeros.
template <typename T>
void run_complex(const Coefs& c, const T* xr, const T* xi, T* yr, T* yi, double* zr, double* zi,
                 int64_t gap, const Line& l) {
  const int64_t n = c.n;
  auto im = [](const double* p, int64_t k) { return p ? p[k] : 0.0; };
  for (int64_t t = 0; t < l.length; ++t) {
    const int64_t at = l.base + t * l.step;
    const double xre = double(xr[at]), xim = xi ? double(xi[at]) : 0.0;
    const double b0r = c.bre[0], b0i = im(c.bim, 0);
    const double yre = (b0r * xre - b0i * xim) + (n > 0 ? zr[0] : 0.0);
    const double yim = (b0r * xim + b0i * xre) + (n > 0 ? zi[0] : 0.0);
    for (int64_t i = 0; i < n; ++i) {
      const double br = c.bre[i + 1], bi = im(c.bim, i + 1), ar = c.are[i + 1], ai = im(c.aim, i + 1);
      const double nr = i + 1 < n ? zr[(i + 1) * gap] : 0.0, ni = i + 1 < n ? zi[(i + 1) * gap] : 0.0;
      zr[i * gap] = (br * xre - bi * xim) + nr - (ar * yre - ai * yim);
      zi[i * gap] = (br * xim + bi * xre) + ni - (ar * yim + ai * yre);
    }
    yr[at] = T(yre);
    yi[at] = T(yim);
  }
}

// Copies a given initial state (n x vectors, or a row of n for one vector)
// into the state item.
void copy_state(const ArrayArg& zi, double* zr, double* zim, int64_t count) {
  for (int64_t k = 0; k < count; ++k) {
    double re, im;
    element(zi, k, &re, &im);
    zr[k] = re;
    if (zim) zim[k] = im;
  }
}

int read_dim(EngineContext* ctx, int* dim) {
  double v = 0;
  TN_TRY(arr::as_arg_error(stk_get_real_scalar(ctx, 0, &v)));
  if (!(v >= 1) || !tn::double_is_int32(v)) return kBadDimension;
  *dim = int(v) - 1;
  return kOk;
}

template <typename T>
void run_all(const Coefs& c, const ArrayArg& x, uint8_t* yre, uint8_t* yim, double* zr, double* zi,
             const DimSplit& sp) {
  const int64_t vectors = sp.outer * sp.stride;
  // A filter of order 0 keeps no state: the state item holds no elements and
  // its parts may be null, where no offset may be taken.
  auto state = [](double* z, int64_t v) { return z ? z + v : nullptr; };
  for (int64_t o = 0; o < sp.outer; ++o)
    for (int64_t s = 0; s < sp.stride; ++s) {
      const int64_t v = o * sp.stride + s;
      const Line l{o * sp.length * sp.stride + s, sp.stride, sp.length};
      if (!yim) {
        run_real(c, reinterpret_cast<const T*>(x.re), reinterpret_cast<T*>(yre), state(zr, v), vectors, l);
      } else {
        run_complex(c, reinterpret_cast<const T*>(x.re), reinterpret_cast<const T*>(x.im),
                    reinterpret_cast<T*>(yre), reinterpret_cast<T*>(yim), state(zr, v), state(zi, v), vectors, l);
      }
    }
}

}  // namespace

int bi_filter(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < kFilterMinArgs || nargin > kArgDim) return nargin < kFilterMinArgs ? kTooFewInputs : kTooManyInputs;
  if (!arr::args_present(ctx, nargin)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  ArrayArg b, a, x, zi;
  if (!array_arg(ctx, nargin - 1, &b) || !array_arg(ctx, nargin - 2, &a)) return kWrongArgType;
  if (!array_arg(ctx, nargin - 3, &x) || x.cls == ArrayArg::kInt) return kWrongType;
  const bool has_zi = nargin >= kArgZi && array_arg(ctx, nargin - kArgZi, &zi) && zi.count > 0;
  if (nargin >= kArgZi && !has_zi && !array_arg(ctx, nargin - kArgZi, &zi)) return kWrongArgType;
  if (!one_row(b) || !one_row(a)) return kNonScalarArg;
  if (b.count == 0 || a.count == 0) return kBadSize;
  int dim = -1;
  if (nargin == kArgDim) TN_TRY(read_dim(ctx, &dim));
  DimSplit sp{};
  shape_split_at_dim(x.ndims, x.dims, &dim, &sp);
  const int64_t n = std::max(a.count, b.count) - 1, vectors = sp.outer * sp.stride;
  if (has_zi) {
    const bool columns = zi.ndims == 2 && zi.dims[0] == n && zi.dims[1] == vectors;
    const bool row = vectors == 1 && one_row(zi) && zi.count == n;
    if (!columns && !row) return kIncompatibleSize;
  }
  const bool coef_cplx = a.cplx || b.cplx;
  const bool cplx = x.cplx || coef_cplx || (has_zi && zi.cplx);
  if (n * vectors > kMaxTypedElements || n + 1 > kMaxTypedElements) return kDataStackOverflow;

  // State, output, then the coefficients on top; withdrawn together on failure.
  const arr::StackMark mark = arr::stack_mark(ctx);
  int st = stk_push_zeros(ctx, int32_t(n), int32_t(vectors), cplx);
  uint8_t *yre = nullptr, *yim = nullptr;
  if (st == kOk) st = push_like(ctx, x, shape_of(x), cplx, &yre, &yim);
  if (st == kOk) st = stk_push_zeros(ctx, kCoefRows, int32_t(n + 1), coef_cplx);
  if (st != kOk) return arr::stack_restore(ctx, mark, st == kStackOverflow ? kDataStackOverflow : st);

  const int above = 3;
  array_arg(ctx, above + nargin - 1, &b);
  array_arg(ctx, above + nargin - 2, &a);
  array_arg(ctx, above + nargin - 3, &x);
  if (has_zi) array_arg(ctx, above + nargin - kArgZi, &zi);
  double *cre = nullptr, *cim = nullptr, *zr = nullptr, *zim = nullptr;
  int32_t rows = 0, cols = 0;
  stk_get_matrix(ctx, 0, &rows, &cols, &cre, &cim);
  const Coefs c{n, cre, cim, cre + n + 1, cim ? cim + n + 1 : nullptr};
  fill_coefs(b, a, c);
  stk_get_matrix(ctx, 2, &rows, &cols, &zr, &zim);
  if (has_zi) copy_state(zi, zr, zim, n * vectors);
  if (x.count > 0) {
    if (x.cls == ArrayArg::kSingle)
      run_all<float>(c, x, yre, yim, zr, zim, sp);
    else
      run_all<double>(c, x, yre, yim, zr, zim, sp);
  }
  stk_drop(ctx);  // the coefficients
  if (nargout >= 2) return stk_remove(ctx, 2, nargin);
  return stk_remove(ctx, 1, nargin + 1);
}
