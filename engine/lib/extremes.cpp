// min and max, elementwise and along a dimension. Real floating values: a NaN
// never wins against a number; complex values compare by squared modulus and
// the whole element is kept; integers compare in their own class. The real
// double loops are hot: two real scalars are combined in place, and lines of a
// wide stride are swept a whole row at a time.
#include "engine/lib/extremes.h"

#include <cmath>

#include "engine/lib/array_args.h"
#include "engine/lib/operands.h"
#include "engine/lib/zip.h"

using namespace arr;

namespace {

// --- Elementwise -----------------------------------------------------------------

// max takes b when a is NaN or a <= b; min when a is NaN or b <= a. So a NaN
// loses against a number, two NaNs give NaN and equal values give b.
template <typename T>
T real_pick(bool is_max, T a, T b) {
  if (is_max) return (a != a || a <= b) ? b : a;
  return (a != a || b <= a) ? b : a;
}

template <typename T>
void real_pair_loop(bool is_max, T* out, const LoopArg& a, const LoopArg& b, int64_t n) {
  if (is_max)
    zip<T>(out, a, b, n, [](T x, T y) { return (x != x || x <= y) ? y : x; });
  else
    zip<T>(out, a, b, n, [](T x, T y) { return (x != x || y <= x) ? y : x; });
}

template <typename T>
void int_pair_loop(bool is_max, void* out, const LoopArg& a, const LoopArg& b, int64_t n) {
  T* o = static_cast<T*>(out);
  if (is_max)
    zip<T>(o, a, b, n, [](T x, T y) { return x <= y ? y : x; });
  else
    zip<T>(o, a, b, n, [](T x, T y) { return x > y ? y : x; });
}

void int_pair_dispatch(bool is_max, uint32_t type, void* out, const LoopArg& a, const LoopArg& b,
                       int64_t n) {
  visit_int_type(type, [&](auto t) { int_pair_loop<decltype(t)>(is_max, out, a, b, n); });
}

// Complex operands: the whole value of the winner (imaginary part 0 for a real
// operand). With one complex operand it takes a's place, so equal moduli and a
// NaN part of it give the real operand.
template <typename T>
void complex_pair_loop(bool is_max, T* ore, T* oim, LoopArg a, LoopArg b, int64_t n) {
  if (!a.im) std::swap(a, b);
  const T* ar = static_cast<const T*>(a.re);
  const T* ai = static_cast<const T*>(a.im);
  const T* br = static_cast<const T*>(b.re);
  const T* bi = static_cast<const T*>(b.im);
  const int64_t sa = a.array ? 1 : 0, sb = b.array ? 1 : 0;
  for (int64_t i = 0; i < n; ++i) {
    const double xr = ar[i * sa], xi = ai[i * sa];
    const double yr = br[i * sb], yi = bi ? double(bi[i * sb]) : 0.0;
    bool take_b;
    if (std::isnan(xr) || std::isnan(xi)) {
      take_b = true;
    } else {
      const double ma = xr * xr + xi * xi, mb = yr * yr + yi * yi;
      take_b = is_max ? ma <= mb : mb <= ma;
    }
    ore[i] = T(take_b ? yr : xr);
    oim[i] = T(take_b ? yi : xi);
  }
}

int min_max_pair(EngineContext* ctx, bool is_max, int nargout) {
  if (nargout > 1) return kTooManyOutputs;
  if (top_two_real_scalars(ctx)) {
    uint64_t* p = data_words(ctx) + ctx->data_top - 2;
    tn::st_f64(p, real_pick(is_max, tn::ld_f64(p), tn::ld_f64(p + 1)));
    ctx->desc_top -= 3;
    ctx->data_top -= 1;
    return kOk;
  }
  NumOperand a, b;
  TN_TRY(elementwise_pair(ctx, &a, &b));
  const CommonClass cc = common_class(a, b);
  TN_TRY(promote_pair(ctx, &a, &b, cc, numeric_result_words(cc, a.cplx || b.cplx, result_shape(a, b))));
  const NumOperand shape = result_shape(a, b);
  const bool cplx = a.cplx || b.cplx;
  void *ore, *oim;
  TN_TRY(push_numeric_result(ctx, cc, cplx, shape, &ore, &oim));
  const int64_t n = shape.count;
  const LoopArg la{a.re, a.im, a.count != 1}, lb{b.re, b.im, b.count != 1};
  if (n > 0) {
    switch (cc.kind) {
      case NumKind::kDouble:
        if (cplx)
          complex_pair_loop(is_max, static_cast<double*>(ore), static_cast<double*>(oim), la, lb, n);
        else
          real_pair_loop(is_max, static_cast<double*>(ore), la, lb, n);
        break;
      case NumKind::kSingle:
        if (cplx)
          complex_pair_loop(is_max, static_cast<float*>(ore), static_cast<float*>(oim), la, lb, n);
        else
          real_pair_loop(is_max, static_cast<float*>(ore), la, lb, n);
        break;
      default:
        int_pair_dispatch(is_max, cc.int_type, ore, la, lb, n);
        break;
    }
  }
  return stk_remove(ctx, 1, 2);
}

// --- Along a dimension ---------------------------------------------------------------

// A later element replaces the kept one only when strictly beyond it, so ties
// keep the first; a NaN never replaces, and a NaN kept is replaced by the
// first number. idx (1-based positions) may be null.
template <typename T, bool kMax>
void real_extreme_lines(const T* x, T* r, double* idx, const DimLines& g) {
  auto beyond = [](T v, T best) { return kMax ? v > best : v < best; };
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o, x += L * S, r += S) {
    double* oi = idx ? idx + o * S : nullptr;
    if (S == 1) {
      T best = x[0];
      int64_t at = 0;
      for (int64_t k = 1; k < L; ++k) {
        const T v = x[k];
        if (beyond(v, best) || (best != best && v == v)) {
          best = v;
          at = k;
        }
      }
      r[0] = best;
      if (oi) oi[0] = double(at + 1);
      continue;
    }
    for (int64_t i = 0; i < S; ++i) r[i] = x[i];
    if (oi)
      for (int64_t i = 0; i < S; ++i) oi[i] = 1;
    for (int64_t k = 1; k < L; ++k) {
      const T* row = x + k * S;
      for (int64_t i = 0; i < S; ++i) {
        const T v = row[i];
        if (beyond(v, r[i]) || (r[i] != r[i] && v == v)) {
          r[i] = v;
          if (oi) oi[i] = double(k + 1);
        }
      }
    }
  }
}

template <typename T>
void real_extreme(bool is_max, const void* x, void* r, double* idx, const DimLines& g) {
  if (is_max)
    real_extreme_lines<T, true>(static_cast<const T*>(x), static_cast<T*>(r), idx, g);
  else
    real_extreme_lines<T, false>(static_cast<const T*>(x), static_cast<T*>(r), idx, g);
}

// Complex lines compare squared moduli; an element with a NaN part never
// replaces, and one kept is replaced by the first element without.
template <typename T>
void complex_extreme_lines(bool is_max, const T* xr, const T* xi, T* rr, T* ri, double* idx,
                           const DimLines& g) {
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o) {
    for (int64_t i = 0; i < S; ++i) {
      const int64_t base = o * L * S + i;
      int64_t best = 0;
      bool best_nan = std::isnan(xr[base]) || std::isnan(xi[base]);
      double bm = double(xr[base]) * xr[base] + double(xi[base]) * xi[base];
      for (int64_t k = 1; k < L; ++k) {
        const int64_t at = base + k * S;
        if (std::isnan(xr[at]) || std::isnan(xi[at])) continue;
        const double m = double(xr[at]) * xr[at] + double(xi[at]) * xi[at];
        if (best_nan || (is_max ? m > bm : m < bm)) {
          best = k;
          bm = m;
          best_nan = false;
        }
      }
      rr[o * S + i] = xr[base + best * S];
      ri[o * S + i] = xi[base + best * S];
      if (idx) idx[o * S + i] = double(best + 1);
    }
  }
}

void int_extreme(bool is_max, uint32_t type, const void* x, void* r, double* idx, const DimLines& g) {
  visit_int_type(type, [&](auto t) { real_extreme<decltype(t)>(is_max, x, r, idx, g); });
}

// Pushes the extremes' array: the class of x, complex when x is.
int push_like(EngineContext* ctx, const NumOperand& x, const ResultDims& rd, void** re, void** im) {
  *im = nullptr;
  switch (x.kind) {
    case NumKind::kDouble: {
      double *r, *i = nullptr;
      TN_TRY(stk_push_double_nd(ctx, rd.ndims, rd.dims, &r, x.cplx ? &i : nullptr));
      *re = r;
      *im = i;
      return kOk;
    }
    case NumKind::kSingle: {
      float *r, *i = nullptr;
      TN_TRY(stk_push_single_nd(ctx, rd.ndims, rd.dims, &r, x.cplx ? &i : nullptr));
      *re = r;
      *im = i;
      return kOk;
    }
    default:
      return push_int_like(ctx, x.desc[2], x.type, rd.ndims, rd.dims, re);
  }
}

int min_max_along(EngineContext* ctx, bool is_max, int nargin, int nargout) {
  int d = -1;
  if (nargin == 3) {
    int64_t middle = 1;
    if (stk_get_array_info(ctx, 1, nullptr, nullptr, &middle) != kOk || middle != 0) return kBadSize;
    TN_TRY(peek_dim_arg(ctx, 0, &d));
  }
  const NumOperand x = num_operand(ctx, nargin - 1);
  if (x.kind == NumKind::kNone) return kWrongArgType;
  const int nout = nargout >= 2 ? 2 : 1;
  if (d < 0) d = default_dim(x.ndims, x.dims);
  // No element to start from: 0x0 results, the extremes in the argument's
  // class (the positions are doubles), and nothing read.
  if (x.count == 0 || dim_size(x.ndims, x.dims, d) == 0) {
    const StackMark mark = stack_mark(ctx);
    int st = nout == 2 ? stk_push_empty(ctx) : kOk;
    if (st == kOk) {
      ResultDims empty;
      empty.ndims = 2;
      empty.dims[0] = empty.dims[1] = 0;
      void *re, *im;
      st = x.kind == NumKind::kDouble ? stk_push_empty(ctx) : push_like(ctx, x, empty, &re, &im);
    }
    if (st != kOk) return stack_restore(ctx, mark, st);
    return stk_remove(ctx, nout, nargin);
  }
  ResultDims rd;
  TN_TRY(reduced_dims(x.ndims, x.dims, d, &rd));
  const DimLines g = dim_lines(x.ndims, x.dims, d);
  const StackMark mark = stack_mark(ctx);
  double* idx = nullptr;
  if (nout == 2) TN_TRY(stk_push_double_nd(ctx, rd.ndims, rd.dims, &idx, nullptr));
  void *re, *im;
  int st = push_like(ctx, x, rd, &re, &im);
  if (st != kOk) return stack_restore(ctx, mark, st);
  switch (x.kind) {
    case NumKind::kDouble:
      if (x.cplx)
        complex_extreme_lines(is_max, static_cast<const double*>(x.re), static_cast<const double*>(x.im),
                              static_cast<double*>(re), static_cast<double*>(im), idx, g);
      else
        real_extreme<double>(is_max, x.re, re, idx, g);
      break;
    case NumKind::kSingle:
      if (x.cplx)
        complex_extreme_lines(is_max, static_cast<const float*>(x.re), static_cast<const float*>(x.im),
                              static_cast<float*>(re), static_cast<float*>(im), idx, g);
      else
        real_extreme<float>(is_max, x.re, re, idx, g);
      break;
    default:
      int_extreme(is_max, x.type, x.re, re, idx, g);
      break;
  }
  return stk_remove(ctx, nout, nargin);
}

}  // namespace

int bi_min_max(EngineContext* ctx, int which, int nargin, int nargout) {
  if (which != kExtremeMin && which != kExtremeMax) return TN_ILLEGAL();
  if (nargin > 3) return kTooManyInputs;
  if (nargin < 1 || !args_present(ctx, nargin)) return kWrongArgType;
  if (nargin == 2) return min_max_pair(ctx, which == kExtremeMax, nargout);
  return min_max_along(ctx, which == kExtremeMax, nargin, nargout);
}
