// ellipam, ellipj, ellipe, ellipf and ellipke: new real arrays of the inputs'
// common dimensions, one per requested output, pushed last output first so
// that the first ends on top; then the inputs go. Outputs not requested are
// neither pushed nor computed.
#include <algorithm>
#include <cmath>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/special/element_args.h"
#include "numlib/special/elliptic_kernels.h"
#include "numlib/special/special_builtins.h"
#include "numlib/special/special_kernels.h"

namespace {

constexpr int kMaxOutputs = 3;
constexpr uintptr_t kSelAm = 'a';
constexpr uintptr_t kSelJacobi = 'j';
constexpr uintptr_t kSelE = 'e';
// Mean steps the Jacobi kernel may take: the means agree to rounding within
// about six, so more means a tolerance that cannot be met (kNoConvergence).
// Its four work arrays are borrowed from the free data-stack room; too little
// room is a room failure, not a convergence one.
constexpr int64_t kJacobiSteps = 64;
constexpr int64_t kJacobiWorkDoubles = 4 * kJacobiSteps;

// Pushes `count` result arrays; out[k] is output k (out[0] ends on top). On a
// failure nothing stays pushed.
int push_outputs(EngineContext* ctx, const ElementArgs& a, int count, double** out) {
  for (int k = count - 1; k >= 0; --k) {
    const int st = element_args_push_result(ctx, a, &out[k]);
    if (st != kOk) {
      for (int j = k + 1; j < count; ++j) stk_drop(ctx);
      return st;
    }
  }
  return kOk;
}

void drop_outputs(EngineContext* ctx, int count) {
  for (int k = 0; k < count; ++k) stk_drop(ctx);
}

double tol_at(const ElementArgs& a, int j, int64_t i) {
  return j < a.n ? a.re[j][i * a.stride[j]] : kEllipticTol;
}

}  // namespace

int bi_elliptic(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  ElementArgs a;
  TN_TRY(element_args_fetch(ctx, nargin, &a));
  const int outs = data == kSelJacobi ? std::max(1, std::min(nargout, kMaxOutputs)) : 1;
  double* out[kMaxOutputs] = {nullptr, nullptr, nullptr};
  TN_TRY(push_outputs(ctx, a, outs, out));
  int64_t free_bytes;
  void* free_at;
  stk_free_space(ctx, &free_bytes, &free_at);
  double* work = static_cast<double*>(free_at);
  const int64_t work_doubles = kJacobiWorkDoubles;
  if ((data == kSelAm || data == kSelJacobi) && free_bytes / 8 < kJacobiWorkDoubles) {
    drop_outputs(ctx, outs);
    return kDataStackOverflow;
  }
  for (int64_t i = 0; i < a.count; ++i) {
    const double x = a.re[0][i * a.stride[0]], m = a.re[1][i * a.stride[1]];
    bool ok;
    if (data == kSelAm) {
      ok = jacobi_elliptic_kernel(x, m, tol_at(a, 2, i), &out[0][i], nullptr, nullptr, nullptr,
                                  work, work_doubles);
    } else if (data == kSelJacobi) {
      ok = jacobi_elliptic_kernel(x, m, tol_at(a, 2, i), nullptr, &out[0][i],
                                  outs > 1 ? &out[1][i] : nullptr, outs > 2 ? &out[2][i] : nullptr,
                                  work, work_doubles);
    } else if (data == kSelE) {
      ok = elliptic_e_kernel(x, m, &out[0][i]);
    } else {
      ok = elliptic_f_kernel(x, m, &out[0][i]);
    }
    if (!ok) {
      drop_outputs(ctx, outs);
      return kNoConvergence;
    }
  }
  stk_remove(ctx, outs, nargin);
  return kOk;
}

int bi_ellipke(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  ElementArgs a;
  TN_TRY(element_args_fetch(ctx, nargin, &a));
  const int outs = nargout >= 2 ? 2 : 1;
  double* out[2] = {nullptr, nullptr};
  TN_TRY(push_outputs(ctx, a, outs, out));
  for (int64_t i = 0; i < a.count; ++i) {
    if (!ellipke_agm_kernel(a.re[0][i * a.stride[0]], tol_at(a, 1, i), &out[0][i],
                            outs > 1 ? &out[1][i] : nullptr)) {
      drop_outputs(ctx, outs);
      return kNoConvergence;
    }
  }
  stk_remove(ctx, outs, nargin);
  return kOk;
}
