// quad: the first Romberg column over successive halvings of the trapezoidal
// rule, one point per call of the user's function. The state row is the one
// work value: phase p evaluates 2^(p-2) new midpoints (f(a) and f(b) in
// phase 1), and from phase 4 two Simpson values that agree end the search.
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/core/continuation.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/solver_calls.h"
#include "numlib/special/special_kernels.h"

namespace {

// State row layout.
enum QuadSlot : int {
  kNargin,
  kPhase,
  kNewPoints,
  kDone,
  kA,
  kB,
  kPoint,
  kSum,
  kTrap,
  kTrapPrev,
  kSimpsonPrev,
  kTol,
  kTrace,
  kQuadSlots,
};
static_assert(kQuadSlots == 13, "the state row holds 13 doubles");

constexpr int kFunInput = 0;
constexpr int kFirstExtra = 5;
constexpr int kTolInput = 3;
constexpr int kTraceInput = 4;
constexpr double kMinTol = 1.4901161193847656e-08;  // 2^-26
constexpr double kThird = 0.3333333333333333;
constexpr double kStopFloor = 1e-6;
constexpr int kFirstStopPhase = 4;
constexpr int kLastPhase = 13;
constexpr int kWork = 1;

// The next point of the phase: f(a), f(b), then the midpoints in order.
double next_point(const double* s) {
  const int p = int(s[kPhase]);
  const double done = s[kDone];
  if (p == 1) return done == 0 ? s[kA] : s[kB];
  const double h = (s[kB] - s[kA]) / std::ldexp(1.0, p - 2);
  return s[kA] + (done + 0.5) * h;
}

int evaluate_next(EngineContext* ctx, double* s) {
  const int nargin = int(s[kNargin]);
  s[kPoint] = next_point(s);
  return solver_call_scalar(ctx, nargin, kWork, kFunInput, kFirstExtra, s[kPoint]);
}

int quad_start(EngineContext* ctx, int nargin) {
  double a, b, tol = 0, trace = 0;
  TN_TRY(solver_scalar_arg(ctx, nargin - 2, std::nan(""), &a));
  TN_TRY(solver_scalar_arg(ctx, nargin - 3, std::nan(""), &b));
  if (nargin > kTolInput) TN_TRY(solver_scalar_arg(ctx, nargin - 1 - kTolInput, 0, &tol));
  if (nargin > kTraceInput) TN_TRY(solver_scalar_arg(ctx, nargin - 1 - kTraceInput, 0, &trace));
  if (!(tol >= kMinTol)) tol = kMinTol;
  double* s;
  TN_TRY(solver_push_state(ctx, kQuadSlots, &s));
  s[kNargin] = nargin;
  s[kPhase] = 1;
  s[kNewPoints] = 2;
  s[kA] = a;
  s[kB] = b;
  s[kTrapPrev] = s[kSimpsonPrev] = std::numeric_limits<double>::infinity();
  s[kTol] = tol;
  s[kTrace] = trace != 0;
  const int st = evaluate_next(ctx, s);
  if (st != kOk) stk_drop(ctx);
  return st;
}

// One value received. *result is set when the search ends with it.
int quad_step(EngineContext* ctx, double* s, double v, bool* finished, double* result) {
  if (!std::isfinite(v)) return kNoConvergence;
  const int p = int(s[kPhase]);
  s[kSum] += v;
  s[kDone] += 1;
  if (s[kDone] < s[kNewPoints]) return evaluate_next(ctx, s);
  if (p == 1) {
    s[kTrap] = s[kSum] * (s[kB] - s[kA]) / 2;
  } else {
    s[kTrap] = ((s[kB] - s[kA]) * s[kSum] / std::ldexp(1.0, p - 2) + s[kTrap]) / 2;
  }
  const double simpson = (4 * s[kTrap] - s[kTrapPrev]) * kThird;
  if (p >= kFirstStopPhase &&
      std::fabs(simpson - s[kSimpsonPrev]) <= (std::fabs(s[kSimpsonPrev]) + kStopFloor) * s[kTol]) {
    *finished = true;
    *result = simpson;
    return kOk;
  }
  if (p >= kLastPhase) return kNoConvergence;
  if (s[kTrace] != 0) {
    trace_text(ctx, "Phase ");
    trace_number(ctx, p);
    trace_text(ctx, ": ");
    trace_number(ctx, std::ldexp(1.0, p - 1) + 1);
    trace_text(ctx, " points, y=");
    trace_number(ctx, simpson);
    trace_newline(ctx);
  }
  s[kTrapPrev] = s[kTrap];
  s[kSimpsonPrev] = simpson;
  s[kPhase] = p + 1;
  s[kNewPoints] = std::ldexp(1.0, p - 1);
  s[kDone] = 0;
  s[kSum] = 0;
  return evaluate_next(ctx, s);
}

}  // namespace

int bi_quad(EngineContext* ctx, int nargin, int, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) return quad_start(ctx, nargin);
  double v = 0;
  int st = solver_resume_value(ctx, results, kWork, &v);
  if (st != kOk) return st;
  double* s = solver_row(ctx, 0);
  if (!s) return TN_ILLEGAL();
  bool finished = false;
  double result = 0;
  const int inputs = int(s[kNargin]);
  st = quad_step(ctx, s, v, &finished, &result);
  if (st != kOk || finished) stk_drop(ctx);  // the state
  if (st != kOk) return st;
  if (!finished) return kOk;
  TN_TRY(stk_remove(ctx, 0, inputs));
  return stk_push_real(ctx, result);
}
