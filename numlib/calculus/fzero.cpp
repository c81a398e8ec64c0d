// fzero: a sign change is bracketed (by growing an interval around a point,
// or checked at the ends of a given one), then narrowed by Brent's mix of
// bisection and inverse quadratic interpolation. One value of the user's
// function per entry; the 14-double state row is the one work value and its
// phase says which point the awaited value belongs to.
#include <cmath>
#include <cstdint>

#include "engine/core/continuation.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/solver_calls.h"
#include "numlib/calculus/solver_options.h"
#include "numlib/special/special_kernels.h"

namespace {

enum FzeroSlot : int {
  kPhase,
  kNargin,
  kA,
  kB,
  kC,
  kFa,
  kFb,
  kFc,
  kD,
  kE,
  kTolX,
  kSpare1,
  kSpare2,
  kDisplay,
  kFzeroSlots,
};
static_assert(kFzeroSlots == 14, "the state row holds 14 doubles");

// What the awaited value is the value of.
enum FzeroPhase : int {
  kGrowA = 1,   // a, while the bracket grows from a point
  kGrowC = 2,   // c, likewise
  kLower = 3,   // the lower end of a given interval
  kUpper = 4,   // its upper end
  kBrent = 5,   // b, in the main iteration
};

constexpr int kFunInput = 0;
constexpr int kSpecInput = 1;
constexpr int kOptionsInput = 2;
constexpr int kFirstExtra = 3;
constexpr int kWork = 1;
constexpr double kMinTolX = 2.220446049250313e-16;
constexpr double kGrowShare = 0.02;  // the first bracket: x0 -+ 2 %
constexpr double kTinyStart = 1e-9;  // below this |x0| the bracket is [-0.02, 0.02]
constexpr double kGrowFactor = 0.4142;

int evaluate(EngineContext* ctx, double* s, int phase, double x) {
  s[kPhase] = phase;
  return solver_call_scalar(ctx, int(s[kNargin]), kWork, kFunInput, kFirstExtra, x);
}

bool same_strict_sign(double u, double v) { return (u > 0 && v > 0) || (u < 0 && v < 0); }

// Steps 1 to 7 of one Brent iteration from a known f(b); finished with the
// result in b when the bracket is small enough.
int brent_iterate(EngineContext* ctx, double* s, bool* finished) {
  if (same_strict_sign(s[kFb], s[kFc])) {
    s[kC] = s[kA];
    s[kFc] = s[kFa];
    s[kD] = s[kE] = s[kB] - s[kA];
  }
  if (std::fabs(s[kFc]) < std::fabs(s[kFb])) {
    s[kA] = s[kB];
    s[kFa] = s[kFb];
    s[kB] = s[kC];
    s[kFb] = s[kFc];
    s[kC] = s[kA];
    s[kFc] = s[kFa];
  }
  const double m = (s[kC] - s[kB]) / 2;
  const double tol = 2 * s[kTolX] * (std::fabs(s[kB]) + 1);
  if (std::fabs(m) <= tol || s[kFb] == 0) {
    *finished = true;
    return kOk;
  }
  const char* how = "Bisection ";
  bool bisect = std::fabs(s[kE]) < tol || std::fabs(s[kFa]) <= std::fabs(s[kFb]);
  if (!bisect) {
    const double sr = s[kFb] / s[kFa];
    double p, q;
    if (s[kA] == s[kC]) {
      p = 2 * m * sr;
      q = 1 - sr;
    } else {
      const double qa = s[kFa] / s[kFc], r = s[kFb] / s[kFc];
      p = sr * (2 * m * qa * (qa - r) - (s[kB] - s[kA]) * (r - 1));
      q = (qa - 1) * (r - 1) * (sr - 1);
    }
    if (p > 0) q = -q;
    p = std::fabs(p);
    if (2 * p >= 3 * m * q - std::fabs(tol * q) || 2 * p >= std::fabs(s[kE] * q)) {
      bisect = true;
    } else {
      s[kE] = s[kD];
      s[kD] = p / q;
      how = "Inverse quadratic interpolation ";
    }
  }
  if (bisect) s[kD] = s[kE] = m;
  s[kA] = s[kB];
  s[kFa] = s[kFb];
  s[kB] += std::fabs(s[kD]) > tol ? s[kD] : (m > 0 ? tol : -tol);
  if (s[kDisplay] != 0) {
    const double pts[3] = {s[kA], s[kB], s[kC]};
    trace_points(ctx, how, pts, 3);
  }
  return evaluate(ctx, s, kBrent, s[kB]);
}

// The bracket [a, c] holds a sign change: start the main iteration.
int start_brent(EngineContext* ctx, double* s, bool* finished) {
  s[kB] = s[kC];
  s[kFb] = s[kFc];
  return brent_iterate(ctx, s, finished);
}

int grow_upper(EngineContext* ctx, double* s) {
  s[kC] += kGrowFactor * (s[kC] - s[kA]);
  if (!std::isfinite(s[kC])) return kNoConvergence;
  if (s[kDisplay] != 0) {
    trace_text(ctx, "Extending upper limit ->");
    trace_number(ctx, s[kC]);
    trace_newline(ctx);
  }
  return evaluate(ctx, s, kGrowC, s[kC]);
}

int grow_lower(EngineContext* ctx, double* s) {
  s[kA] -= kGrowFactor * (s[kC] - s[kA]);
  if (!std::isfinite(s[kA])) return kNoConvergence;
  if (s[kDisplay] != 0) {
    trace_text(ctx, "Extending lower limit ->");
    trace_number(ctx, s[kA]);
    trace_newline(ctx);
  }
  return evaluate(ctx, s, kGrowA, s[kA]);
}

// One value received, other than 0 (the Brent iteration may end, with b).
int fzero_dispatch(EngineContext* ctx, double* s, double v, bool* finished) {
  switch (int(s[kPhase])) {
    case kGrowA:
      s[kFa] = v;
      if (s[kFa] * s[kFc] >= 0) return grow_upper(ctx, s);
      return start_brent(ctx, s, finished);
    case kGrowC:
      s[kFc] = v;
      if (s[kFc] * s[kFa] >= 0) return grow_lower(ctx, s);
      return start_brent(ctx, s, finished);
    case kLower:
      s[kFa] = v;
      if (s[kDisplay] != 0) {
        trace_text(ctx, "Checking upper bound");
        trace_newline(ctx);
      }
      return evaluate(ctx, s, kUpper, s[kC]);
    case kUpper:
      s[kFc] = v;
      if (s[kFa] * s[kFc] >= 0) return kNoConvergence;
      return start_brent(ctx, s, finished);
    default:
      s[kFb] = v;
      return brent_iterate(ctx, s, finished);
  }
}

// One value received; *finished with the root in *x.
int fzero_step(EngineContext* ctx, double* s, double v, bool* finished, double* x) {
  if (!std::isfinite(v)) return kNoConvergence;
  const int phase = int(s[kPhase]);
  if (v == 0) {  // a root: the point just evaluated
    *finished = true;
    *x = phase == kGrowA || phase == kLower ? s[kA] : phase == kBrent ? s[kB] : s[kC];
    return kOk;
  }
  const int st = fzero_dispatch(ctx, s, v, finished);
  *x = s[kB];
  return st;
}

int fzero_start(EngineContext* ctx, int nargin) {
  const int spec_depth = nargin - 1 - kSpecInput;
  int64_t count = 0;
  double *re, *im;
  if (stk_get_double_array(ctx, spec_depth, nullptr, nullptr, &count, &re, &im) != kOk)
    return kWrongArgType;
  if (count < 1 || count > 2) return kBadSize;
  const double lo = re[0], hi = re[count - 1];
  if (hi < lo) return kBadArgument;
  SolverOptions o{kMinTolX, 0, 0, false};
  TN_TRY(solver_read_options(ctx, nargin > kOptionsInput ? nargin - 1 - kOptionsInput : -1, &o));
  if (!(o.tol_x >= kMinTolX)) o.tol_x = kMinTolX;
  double* s;
  TN_TRY(solver_push_state(ctx, kFzeroSlots, &s));
  s[kNargin] = nargin;
  s[kTolX] = o.tol_x;
  s[kDisplay] = o.display;
  int st;
  if (count == 2 && lo != hi) {
    s[kA] = lo;
    s[kC] = hi;
    if (o.display) {
      trace_text(ctx, "Checking lower bound");
      trace_newline(ctx);
    }
    st = evaluate(ctx, s, kLower, lo);
  } else {
    const bool tiny = std::fabs(lo) < kTinyStart;
    s[kA] = tiny ? -kGrowShare : lo - kGrowShare * std::fabs(lo);
    s[kC] = tiny ? kGrowShare : lo + kGrowShare * std::fabs(lo);
    if (o.display) {
      trace_text(ctx, "Extending");
      trace_newline(ctx);
    }
    st = evaluate(ctx, s, kGrowA, s[kA]);
  }
  if (st != kOk) stk_drop(ctx);
  return st;
}

}  // namespace

int bi_fzero(EngineContext* ctx, int nargin, int, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) return fzero_start(ctx, nargin);
  double v = 0;
  int st = solver_resume_value(ctx, results, kWork, &v);
  if (st != kOk) return st;
  double* s = solver_row(ctx, 0);
  if (!s) return TN_ILLEGAL();
  const int inputs = int(s[kNargin]);
  bool finished = false;
  double x = 0;
  st = fzero_step(ctx, s, v, &finished, &x);
  if (st != kOk || finished) stk_drop(ctx);
  if (st != kOk) return st;
  if (!finished) return kOk;
  TN_TRY(stk_remove(ctx, 0, inputs));
  return stk_push_real(ctx, x);
}
