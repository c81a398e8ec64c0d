// Reductions and accumulations along one dimension. Sum, product, mean,
// cumsum, cumprod, any and all are hot: for lines of stride 1 they run one
// sequential loop a line, for wider strides they sweep whole rows of lines at
// once (same additions in the same order per line, so the results are the
// same bits as line by line). The statistics walk each line on its own.
#include "engine/lib/reductions.h"

#include <cmath>
#include <complex>
#include <limits>

#include "engine/lib/array_args.h"
#include "engine/lib/operands.h"

using namespace arr;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// --- Sum and product ----------------------------------------------------------

template <bool kProd>
void sum_lines(const double* x, double* r, const DimLines& g) {
  const int64_t L = g.length, S = g.stride;
  const double start = kProd ? 1.0 : 0.0;
  for (int64_t o = 0; o < g.outer; ++o, x += L * S, r += S) {
    if (S == 1) {
      double acc = start;
      for (int64_t k = 0; k < L; ++k) acc = kProd ? acc * x[k] : acc + x[k];
      r[0] = acc;
      continue;
    }
    for (int64_t i = 0; i < S; ++i) r[i] = start;
    for (int64_t k = 0; k < L; ++k) {
      const double* row = x + k * S;
      for (int64_t i = 0; i < S; ++i) r[i] = kProd ? r[i] * row[i] : r[i] + row[i];
    }
  }
}

void complex_prod_lines(const double* xr, const double* xi, double* rr, double* ri,
                        const DimLines& g) {
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o) {
    for (int64_t i = 0; i < S; ++i) {
      double pr = 1, pi = 0;
      for (int64_t k = 0, at = o * L * S + i; k < L; ++k, at += S) {
        const double a = xr[at], b = xi[at];
        const double nr = pr * a - pi * b;
        pi = pr * b + pi * a;
        pr = nr;
      }
      rr[o * S + i] = pr;
      ri[o * S + i] = pi;
    }
  }
}

void divide_all(double* r, int64_t n, double by) {
  for (int64_t i = 0; i < n; ++i) r[i] /= by;
}

// --- Statistics of one line ----------------------------------------------------------

// |d|^k, negative for odd k when d is.
double signed_power(double d, int32_t k) {
  const double p = std::pow(std::fabs(d), k);
  return (k & 1) && d < 0 ? -p : p;
}

struct StatArgs {
  int selector;
  int32_t order;
  bool by_n;  // var and std normalised by n instead of n - 1
};

double real_stat(const StatArgs& a, const double* x, int64_t S, int64_t n) {
  double s = 0;
  for (int64_t k = 0; k < n; ++k) s += x[k * S];
  const double m = s / static_cast<double>(n);
  const double dn = static_cast<double>(n);
  double q2 = 0, q = 0;
  switch (a.selector) {
    case kStatVar:
    case kStatStd: {
      for (int64_t k = 0; k < n; ++k) {
        const double d = x[k * S] - m;
        q2 += d * d;
      }
      const double v = q2 / (a.by_n ? dn : dn - 1);
      return a.selector == kStatStd ? std::sqrt(v) : v;
    }
    case kStatMoment:
      for (int64_t k = 0; k < n; ++k) q += signed_power(x[k * S] - m, a.order);
      return q / dn;
    case kStatSkewness:
    case kStatKurtosis: {
      for (int64_t k = 0; k < n; ++k) {
        const double d = x[k * S] - m;
        q2 += d * d;
        q += a.selector == kStatSkewness ? d * d * d : (d * d) * (d * d);
      }
      const double m2 = q2 / dn;
      if (a.selector == kStatSkewness) return (q / std::sqrt(m2 * m2 * m2)) / dn;
      return q / (m2 * m2) / dn;
    }
    default:
      return kNaN;
  }
}

using Cx = std::complex<double>;

// Division with the larger of the divisor's parts factored out.
Cx scaled_div(Cx a, Cx b) {
  const double c = b.real(), d = b.imag();
  if (std::fabs(c) >= std::fabs(d)) {
    const double r = d / c, den = c + d * r;
    return {(a.real() + a.imag() * r) / den, (a.imag() - a.real() * r) / den};
  }
  const double r = c / d, den = c * r + d;
  return {(a.real() * r + a.imag()) / den, (a.imag() * r - a.real()) / den};
}

Cx cmul(Cx a, Cx b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Sum over the line of (x - m)^k, each power taken in polar form.
Cx polar_power_sum(const double* xr, const double* xi, int64_t S, int64_t n, Cx m, int32_t k) {
  double sr = 0, si = 0;
  for (int64_t j = 0; j < n; ++j) {
    const double dr = xr[j * S] - m.real(), di = xi[j * S] - m.imag();
    const double mod = std::pow(std::hypot(dr, di), k);
    const double angle = k == 0 ? 0.0 : k * std::atan2(di, dr);  // order 0 gives 1
    sr += mod * std::cos(angle);
    si += mod * std::sin(angle);
  }
  return {sr, si};
}

// var and std give the real part only; the others a complex value.
Cx complex_stat(const StatArgs& a, const double* xr, const double* xi, int64_t S, int64_t n) {
  double sr = 0, si = 0;
  for (int64_t k = 0; k < n; ++k) {
    sr += xr[k * S];
    si += xi[k * S];
  }
  const double dn = static_cast<double>(n);
  const Cx m{sr / dn, si / dn};
  switch (a.selector) {
    case kStatVar:
    case kStatStd: {
      double q = 0;
      for (int64_t k = 0; k < n; ++k) {
        const double dr = xr[k * S] - m.real(), di = xi[k * S] - m.imag();
        q += dr * dr + di * di;
      }
      const double v = q / (a.by_n ? dn : dn - 1);
      return {a.selector == kStatStd ? std::sqrt(v) : v, 0};
    }
    case kStatMoment:
      return polar_power_sum(xr, xi, S, n, m, a.order) / dn;
    case kStatSkewness:
    case kStatKurtosis: {
      const Cx m2 = polar_power_sum(xr, xi, S, n, m, 2) / dn;
      if (a.selector == kStatSkewness) {
        const Cx m3 = polar_power_sum(xr, xi, S, n, m, 3) / dn;
        return scaled_div(m3, std::sqrt(cmul(cmul(m2, m2), m2)));
      }
      const Cx m4 = polar_power_sum(xr, xi, S, n, m, 4) / dn;
      return scaled_div(m4, cmul(m2, m2));
    }
    default:
      return {kNaN, 0};
  }
}

void stat_lines(const StatArgs& a, const NumOperand& x, double* rr, double* ri, const DimLines& g) {
  const auto* xr = static_cast<const double*>(x.re);
  const auto* xi = static_cast<const double*>(x.im);
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o) {
    for (int64_t i = 0; i < S; ++i) {
      const int64_t at = o * L * S + i, to = o * S + i;
      if (!xi) {
        rr[to] = real_stat(a, xr + at, S, L);
        continue;
      }
      const Cx v = complex_stat(a, xr + at, xi + at, S, L);
      rr[to] = v.real();
      if (ri) ri[to] = v.imag();
    }
  }
}

bool is_stat_selector(int s) {
  return s == kStatSum || s == kStatProd || s == kStatMean || s == kStatVar || s == kStatStd ||
         s == kStatMoment || s == kStatSkewness || s == kStatKurtosis;
}

// --- Accumulation ------------------------------------------------------------------

template <bool kProd>
void accumulate_lines(double* x, const DimLines& g) {
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o, x += L * S) {
    if (S == 1) {
      for (int64_t k = 1; k < L; ++k) x[k] = kProd ? x[k - 1] * x[k] : x[k - 1] + x[k];
      continue;
    }
    for (int64_t k = 1; k < L; ++k) {
      double* row = x + k * S;
      const double* prev = row - S;
      for (int64_t i = 0; i < S; ++i) row[i] = kProd ? prev[i] * row[i] : prev[i] + row[i];
    }
  }
}

void complex_cumprod_lines(double* xr, double* xi, const DimLines& g) {
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o) {
    for (int64_t k = 1; k < L; ++k) {
      const int64_t row = o * L * S + k * S;
      for (int64_t i = row; i < row + S; ++i) {
        const double pr = xr[i - S], pi = xi[i - S], a = xr[i], b = xi[i];
        xr[i] = pr * a - pi * b;
        xi[i] = pr * b + pi * a;
      }
    }
  }
}

// --- any and all ---------------------------------------------------------------------

template <typename Truth>
void truth_lines(uint8_t* r, const DimLines& g, bool all, Truth truth) {
  const int64_t L = g.length, S = g.stride;
  for (int64_t o = 0; o < g.outer; ++o) {
    const int64_t base = o * L * S;
    uint8_t* out = r + o * S;
    if (S == 1) {
      bool v = all;
      for (int64_t k = 0; k < L; ++k) {
        if (truth(base + k) != all) {
          v = !all;
          break;
        }
      }
      out[0] = v;
      continue;
    }
    for (int64_t i = 0; i < S; ++i) out[i] = truth(base + i);
    for (int64_t k = 1; k < L; ++k) {
      const int64_t row = base + k * S;
      if (all) {
        for (int64_t i = 0; i < S; ++i) out[i] &= truth(row + i);
      } else {
        for (int64_t i = 0; i < S; ++i) out[i] |= truth(row + i);
      }
    }
  }
}

template <typename T>
void int_truth_lines(uint8_t* r, const DimLines& g, bool all, const void* data) {
  const T* x = static_cast<const T*>(data);
  truth_lines(r, g, all, [x](int64_t i) -> uint8_t { return x[i] != 0; });
}

}  // namespace

int bi_sum_prod_stats(EngineContext* ctx, int selector, int nargin) {
  if (!is_stat_selector(selector)) return TN_ILLEGAL();
  const bool three = selector == kStatMoment || selector == kStatVar || selector == kStatStd;
  const int max_in = three ? 3 : 2;
  if (nargin > max_in) return kTooManyInputs;
  if (nargin < (selector == kStatMoment ? 2 : 1) || !args_present(ctx, nargin)) return kWrongArgType;
  const NumOperand x = num_operand(ctx, nargin - 1);
  if (x.kind != NumKind::kDouble) return kWrongArgType;

  // Arguments are read where they lie and removed only with the result in place.
  const bool have_dim = nargin == max_in;
  int d = -1, depth = 0;
  if (have_dim) {
    TN_TRY(peek_dim_arg(ctx, 0, &d));
    depth = 1;
  }
  StatArgs sa{selector, 0, false};
  if (selector == kStatMoment) {
    int st = stk_get_int(ctx, depth, &sa.order);
    if (st != kOk) return as_arg_error(st);
    if (sa.order < 0) return kArgOutOfRange;
  } else if ((selector == kStatVar || selector == kStatStd) && nargin >= 2) {
    uint8_t flag = 0;
    int st = stk_get_bool(ctx, depth, &flag);
    if (st != kOk) return as_arg_error(st);
    sa.by_n = flag != 0;
  }

  if (x.count == 0) {
    if (have_dim) {
      TN_TRY(stk_push_empty(ctx));
    } else {
      const double v = selector == kStatSum ? 0.0 : selector == kStatProd ? 1.0 : kNaN;
      TN_TRY(stk_push_real(ctx, v));
    }
    return stk_remove(ctx, 1, nargin);
  }
  const bool simple = selector == kStatSum || selector == kStatProd || selector == kStatMean;
  if (simple && have_dim && dim_size(x.ndims, x.dims, d) == 1) {
    drop_items(ctx, nargin - 1);
    return kOk;
  }
  if (d < 0) d = default_dim(x.ndims, x.dims);
  ResultDims rd;
  TN_TRY(reduced_dims(x.ndims, x.dims, d, &rd));
  const DimLines g = dim_lines(x.ndims, x.dims, d);
  const bool cplx = x.cplx && selector != kStatVar && selector != kStatStd;
  double *rr, *ri = nullptr;
  TN_TRY(stk_push_double_nd(ctx, rd.ndims, rd.dims, &rr, cplx ? &ri : nullptr));

  const auto* xr = static_cast<const double*>(x.re);
  const auto* xi = static_cast<const double*>(x.im);
  const int64_t n_out = g.outer * g.stride;
  switch (selector) {
    case kStatSum:
    case kStatMean:
      sum_lines<false>(xr, rr, g);
      if (xi) sum_lines<false>(xi, ri, g);
      if (selector == kStatMean) {
        divide_all(rr, n_out, static_cast<double>(g.length));
        if (xi) divide_all(ri, n_out, static_cast<double>(g.length));
      }
      break;
    case kStatProd:
      if (xi)
        complex_prod_lines(xr, xi, rr, ri, g);
      else
        sum_lines<true>(xr, rr, g);
      break;
    default:
      stat_lines(sa, x, rr, ri, g);
      break;
  }
  return stk_remove(ctx, 1, nargin);
}

int bi_cumsum_cumprod(EngineContext* ctx, int which, int nargin) {
  if (which != kCumSum && which != kCumProd) return TN_ILLEGAL();
  if (nargin > 2) return kTooManyInputs;
  if (nargin < 1 || !args_present(ctx, nargin)) return kWrongArgType;
  const NumOperand x = num_operand(ctx, nargin - 1);
  if (x.kind != NumKind::kDouble) return kWrongArgType;
  int d = -1;
  if (nargin == 2) TN_TRY(peek_dim_arg(ctx, 0, &d));
  drop_items(ctx, nargin - 1);  // the array is changed where it lies
  if (x.count == 0 || d >= x.ndims) return kOk;
  if (d < 0) d = default_dim(x.ndims, x.dims);
  const DimLines g = dim_lines(x.ndims, x.dims, d);
  auto* xr = static_cast<double*>(x.re);
  auto* xi = static_cast<double*>(x.im);
  if (which == kCumSum) {
    accumulate_lines<false>(xr, g);
    if (xi) accumulate_lines<false>(xi, g);
  } else if (xi) {
    complex_cumprod_lines(xr, xi, g);
  } else {
    accumulate_lines<true>(xr, g);
  }
  return kOk;
}

int bi_any_all(EngineContext* ctx, int which, int nargin) {
  if (which != kReduceAny && which != kReduceAll) return TN_ILLEGAL();
  if (nargin > 2) return kTooManyInputs;
  if (nargin < 1 || !args_present(ctx, nargin)) return kWrongArgType;
  const NumOperand x = num_operand(ctx, nargin - 1);
  if (x.kind != NumKind::kDouble && x.kind != NumKind::kInt)
    return bad_element_size(ctx, nargin - 1) ? TN_ILLEGAL() : kWrongArgType;
  int d = -1;
  if (nargin == 2) TN_TRY(peek_dim_arg(ctx, 0, &d));
  const bool all = which == kReduceAll;
  if (x.count == 0) {
    TN_TRY(stk_push_logical_scalar(ctx, all ? 1 : 0));
    return stk_remove(ctx, 1, nargin);
  }
  if (d < 0) d = default_dim(x.ndims, x.dims);
  ResultDims rd;
  TN_TRY(reduced_dims(x.ndims, x.dims, d, &rd));
  const DimLines g = dim_lines(x.ndims, x.dims, d);
  uint8_t* r;
  TN_TRY(stk_push_logical_array(ctx, rd.ndims, rd.dims, &r));
  if (x.kind == NumKind::kDouble) {
    const auto* xr = static_cast<const double*>(x.re);
    const auto* xi = static_cast<const double*>(x.im);
    // A NaN compares unequal to 0, so it counts as true.
    if (xi)
      truth_lines(r, g, all, [xr, xi](int64_t i) -> uint8_t { return xr[i] != 0 || xi[i] != 0; });
    else
      truth_lines(r, g, all, [xr](int64_t i) -> uint8_t { return xr[i] != 0; });
  } else {
    switch (x.type & 127) {
      case 1: int_truth_lines<uint8_t>(r, g, all, x.re); break;
      case 2: int_truth_lines<uint16_t>(r, g, all, x.re); break;
      case 4: int_truth_lines<uint32_t>(r, g, all, x.re); break;
      default: int_truth_lines<uint64_t>(r, g, all, x.re); break;
    }
  }
  return stk_remove(ctx, 1, nargin);
}
