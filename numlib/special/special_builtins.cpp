// The error, gamma and beta built-ins and hypot: elementwise over double
// arrays, in place in an argument's storage (hypot and the incomplete gamma
// and beta functions into a new array). Only
// real parts take part (hypot also takes the imaginary ones); results are real.
// The one-argument kernels are dear and call nothing but the maths library:
// over large arrays their loop is split across cores.
#include "numlib/special/special_builtins.h"

#include <cmath>

#include "engine/core/parallel_for.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/special/element_args.h"
#include "numlib/special/special_kernels.h"

namespace {

using Unary = double (*)(double);

double erf_of(double x) { return erf_kernel(x, false); }
double erfc_of(double x) { return erf_kernel(x, true); }
double gamma_of(double x) { return gamma_function_kernel(x, false); }
double gammaln_of(double x) { return x >= 0 ? log_gamma_lanczos(x) : std::nan(""); }

struct UnaryLoop {
  double* re;
  Unary f;
};

// Copies of the fields, so that a store through re does not reload them.
void unary_range(void* p, int64_t lo, int64_t hi) {
  const UnaryLoop loop = *static_cast<UnaryLoop*>(p);
  for (int64_t i = lo; i < hi; ++i) loop.re[i] = loop.f(loop.re[i]);
}

int unary_in_place(EngineContext* ctx, Unary f) {
  int64_t count;
  double *re, *im;
  if (stk_get_double_array(ctx, 0, nullptr, nullptr, &count, &re, &im) != kOk) return kWrongArgType;
  UnaryLoop loop{re, f};
  tn_parallel_for<unary_range>(count, kParallelForMinRange, &loop);
  stk_make_real_top(ctx);
  return kOk;
}

// Fetches n operands and picks the one that takes the result.
int binary_setup(EngineContext* ctx, int n, ElementArgs* a, double** out, int* keep) {
  TN_TRY(element_args_fetch(ctx, n, a));
  *keep = element_args_widest(*a);
  *out = a->re[*keep];
  return kOk;
}

}  // namespace

int bi_erf(EngineContext* ctx, int, int, uintptr_t data) {
  return unary_in_place(ctx, data == kSelErf ? erf_of : data == kSelErfc ? erfc_of : erfinv_kernel);
}

int bi_gamma(EngineContext* ctx, int, int, uintptr_t data) {
  return unary_in_place(ctx, data == kSelGamma      ? gamma_of
                             : data == kSelGammaln ? gammaln_of
                                                   : factorial_exact);
}

// The incomplete gamma and beta functions can fail to converge part way:
// their results go into a new array, which goes again on a failure, so that
// the arguments stay as they were.
template <int N, typename Kernel>
int elementwise_may_fail(EngineContext* ctx, Kernel kernel) {
  ElementArgs a;
  TN_TRY(element_args_fetch(ctx, N, &a));
  double* out;
  TN_TRY(element_args_push_result(ctx, a, &out));
  for (int64_t i = 0; i < a.count; ++i) {
    double v[N];
    for (int j = 0; j < N; ++j) v[j] = a.re[j][i * a.stride[j]];
    if (!kernel(v, &out[i])) {
      stk_drop(ctx);
      return kNoConvergence;
    }
  }
  return stk_remove(ctx, 1, N);
}

int bi_gammainc(EngineContext* ctx, int, int, uintptr_t) {
  return elementwise_may_fail<2>(ctx, [](const double* v, double* r) { return incomplete_gamma_kernel(v[1], v[0], r); });
}

int bi_beta(EngineContext* ctx, int, int, uintptr_t data) {
  ElementArgs a;
  double* out;
  int keep;
  TN_TRY(binary_setup(ctx, 2, &a, &out, &keep));
  for (int64_t i = 0; i < a.count; ++i) {
    const double p = a.re[0][i * a.stride[0]], q = a.re[1][i * a.stride[1]];
    out[i] = data == kSelBetaln ? log_beta(p, q) : beta_function_kernel(p, q);
  }
  element_args_keep(ctx, a, keep);
  return kOk;
}

int bi_betainc(EngineContext* ctx, int, int, uintptr_t data) {
  const auto kernel = reinterpret_cast<IncompleteBetaFn>(data);
  return elementwise_may_fail<3>(ctx, [kernel](const double* v, double* r) { return kernel(v[0], v[1], v[2], r); });
}

int bi_hypot(EngineContext* ctx, int, int, uintptr_t) {
  ElementArgs a;
  TN_TRY(element_args_fetch(ctx, 2, &a));
  double* out;
  TN_TRY(element_args_push_result(ctx, a, &out));
  // Components per element: both real parts, then the imaginary parts present.
  constexpr int kMaxParts = 4;
  const double* part[kMaxParts];
  int64_t stride[kMaxParts];
  int parts = 0;
  for (int j = 0; j < 2; ++j) {
    part[parts] = a.re[j];
    stride[parts++] = a.stride[j];
  }
  for (int j = 0; j < 2; ++j)
    if (a.im[j]) {
      part[parts] = a.im[j];
      stride[parts++] = a.stride[j];
    }
  for (int64_t i = 0; i < a.count; ++i) {
    double c[kMaxParts];
    for (int k = 0; k < parts; ++k) c[k] = std::fabs(part[k][i * stride[k]]);
    double m = c[0];
    for (int k = 1; k < parts; ++k)
      if (c[k] > m) m = c[k];
    bool all_zero = true;
    for (int k = 0; k < parts; ++k) all_zero = all_zero && c[k] == 0;
    if (std::isinf(m)) {
      out[i] = m;
    } else if (all_zero) {
      out[i] = 0;
    } else {
      double s = 0;
      for (int k = 0; k < parts; ++k) s += (c[k] / m) * (c[k] / m);
      out[i] = m * std::sqrt(s);
    }
  }
  stk_remove(ctx, 1, 2);
  return kOk;
}
