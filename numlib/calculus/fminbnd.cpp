// fminbnd: a minimum of a function of one variable, bracketed from an
// interval (the midpoint moved towards the better end until it is below
// both) or from a point (the bracket grown by the golden ratio), then found
// by Brent's golden-section search with parabolic interpolation. The 21-double
// state row is the one work value; its phase names the awaited value. Before
// the main iteration v and f(v) hold the best point seen so far.
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/core/continuation.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/solver_calls.h"
#include "numlib/calculus/solver_options.h"
#include "numlib/special/special_kernels.h"

namespace {

enum MinSlot : int {
  kPhase,
  kNargin,
  kA,
  kB,
  kFa,
  kFb,
  kU,
  kV,
  kW,
  kX,
  kD,
  kE,
  kFx,
  kFv,
  kFw,
  kTolX,
  kMaxIter,
  kMaxEvals,
  kDisplay,
  kIter,
  kEvals,
  kMinSlots,
};
static_assert(kMinSlots == 21, "the state row holds 21 doubles");

enum MinPhase : int {
  kLowEnd = 1,    // f(xmin)
  kHighEnd = 2,   // f(xmax)
  kMidpoint = 3,  // f(m) of the interval start, m in u
  kStart = 4,     // f(x0)
  kStep = 5,      // f(x0 + step)
  kGrowUp = 6,    // f(u), u the upper end moved out, the middle in x
  kGrowDown = 7,  // f(u), u the lower end moved out
  kBrent = 8,     // f(u) in the main iteration
};

constexpr int kFunInput = 0;
constexpr int kSpecInput = 1;
constexpr int kOptionsInput = 2;
constexpr int kFirstExtra = 3;
constexpr int kWork = 1;
constexpr int kFlagOutputs = 3;
constexpr double kMinTolX = 1.4901161193847656e-08;  // 2^-26
constexpr double kDefaultMaxIter = 500;
constexpr double kDefaultMaxEvals = 1000;
constexpr double kGolden = 0.381966;
constexpr double kGrow = 1.618034;
constexpr double kFirstStep = 0.001;
constexpr double kEndShare = 0.001;  // a midpoint this close (x TolX) to an end is the end
constexpr double kTolFloor = 1e-20;

// How a search ends: still running, converged, or stopped at a limit.
enum class MinEnd { kRunning, kConverged, kLimit };

struct MinOutcome {
  MinEnd end = MinEnd::kRunning;
  double x = 0, f = 0;
};

void finish(MinOutcome* o, MinEnd end, double x, double f) {
  o->end = end;
  o->x = x;
  o->f = f;
}

// The best point before the main iteration: the later one only when strictly lower.
void note_best(double* s, double x, double f) {
  if (s[kEvals] <= 1 || f < s[kFv]) {
    s[kV] = x;
    s[kFv] = f;
  }
}

void trace_value_line(EngineContext* ctx, const double* s, const char* text, double v) {
  if (s[kDisplay] == 0) return;
  trace_text(ctx, text);
  trace_number(ctx, v);
  trace_newline(ctx);
}

// Evaluates f(x) unless the evaluation limit is passed (then the search ends
// with the best point known).
int evaluate(EngineContext* ctx, double* s, int phase, double x, MinOutcome* o) {
  if (s[kEvals] > s[kMaxEvals]) {
    if (phase == kBrent)
      finish(o, MinEnd::kLimit, s[kX], s[kFx]);
    else
      finish(o, MinEnd::kLimit, s[kV], s[kFv]);
    return kOk;
  }
  s[kPhase] = phase;
  s[kU] = x;
  return solver_call_scalar(ctx, int(s[kNargin]), kWork, kFunInput, kFirstExtra, x);
}

// Step 7: the convergence test, then a parabolic or golden step.
int brent_step(EngineContext* ctx, double* s, MinOutcome* o) {
  const double a = s[kA], b = s[kB], x = s[kX];
  const double xm = (a + b) / 2;
  const double tol1 = std::fabs(x) * s[kTolX] + kTolFloor, tol2 = 2 * tol1;
  if (std::fabs(x - xm) <= tol2 - (b - a) / 2) {
    finish(o, MinEnd::kConverged, x, s[kFx]);
    return kOk;
  }
  s[kIter] += 1;
  if (s[kIter] > s[kMaxIter]) {
    finish(o, MinEnd::kLimit, x, s[kFx]);
    return kOk;
  }
  bool golden = true;
  const char* how = "Golden section: ";
  if (std::fabs(s[kE]) > tol1) {
    const double r = (x - s[kW]) * (s[kFx] - s[kFv]);
    double q = (x - s[kV]) * (s[kFx] - s[kFw]);
    double p = (x - s[kV]) * q - (x - s[kW]) * r;
    q = 2 * (q - r);
    if (q > 0) p = -p;
    q = std::fabs(q);
    const double previous = s[kE];
    s[kE] = s[kD];
    if (!(std::fabs(p) >= std::fabs(q * previous / 2) || p <= q * (a - x) || p >= q * (b - x))) {
      golden = false;
      how = "Parabolic fit: ";
      s[kD] = p / q;
      const double u = x + s[kD];
      if (u - a < tol2 || b - u < tol2) s[kD] = xm - x >= 0 ? tol1 : -tol1;
    }
  }
  if (golden) {
    s[kE] = x < xm ? b - x : a - x;
    s[kD] = kGolden * s[kE];
  }
  const double d = s[kD];
  const double u = std::fabs(d) >= tol1 ? x + d : x + (d >= 0 ? tol1 : -tol1);
  if (s[kDisplay] != 0) {
    const double pts[3] = {a, s[kV], b};
    trace_points(ctx, how, pts, 3);
  }
  return evaluate(ctx, s, kBrent, u, o);
}

// Step 8: the new point's value moves the bracket and Brent's three points.
int brent_update(EngineContext* ctx, double* s, double fu, MinOutcome* o) {
  const double u = s[kU], x = s[kX];
  if (fu <= s[kFx]) {
    if (u >= x)
      s[kA] = x;
    else
      s[kB] = x;
    s[kV] = s[kW];
    s[kFv] = s[kFw];
    s[kW] = x;
    s[kFw] = s[kFx];
    s[kX] = u;
    s[kFx] = fu;
  } else {
    if (u < x)
      s[kA] = u;
    else
      s[kB] = u;
    if (fu <= s[kFw] || s[kW] == x) {
      s[kV] = s[kW];
      s[kFv] = s[kFw];
      s[kW] = u;
      s[kFw] = fu;
    } else if (fu <= s[kFv] || s[kV] == x || s[kV] == s[kW]) {
      s[kV] = u;
      s[kFv] = fu;
    }
  }
  return brent_step(ctx, s, o);
}

// The bracket a < x < b stands: step 6, then the main iteration.
int bracketed(EngineContext* ctx, double* s, MinOutcome* o) {
  if (s[kDisplay] != 0) {
    const double pts[3] = {s[kA], s[kX], s[kB]};
    trace_points(ctx, "Initial bracketing: ", pts, 3);
  }
  s[kV] = s[kW] = s[kX];
  s[kFv] = s[kFw] = s[kFx];
  s[kD] = s[kE] = 0;
  return brent_step(ctx, s, o);
}

// The single-point bracket: the middle goes to the lower of a and b and the
// end beyond it moves out by the golden ratio.
int grow(EngineContext* ctx, double* s, MinOutcome* o) {
  const double step = kGrow * (s[kB] - s[kA]);
  const bool up = s[kFb] <= s[kFa];
  s[kX] = up ? s[kB] : s[kA];
  s[kFx] = up ? s[kFb] : s[kFa];
  const double moved = up ? s[kB] + step : s[kA] - step;
  trace_value_line(ctx, s, "Extending bracketing to ", moved);
  return evaluate(ctx, s, up ? kGrowUp : kGrowDown, moved, o);
}

int interval_midpoint(EngineContext* ctx, double* s, double m, MinOutcome* o) {
  trace_value_line(ctx, s, "Checking ", m);
  return evaluate(ctx, s, kMidpoint, m, o);
}

bool growing(int phase) { return phase == kStart || phase == kStep || phase == kGrowUp || phase == kGrowDown; }

int min_step(EngineContext* ctx, double* s, double v, int nargout, MinOutcome* o) {
  const int phase = int(s[kPhase]);
  const double u = s[kU];
  s[kEvals] += 1;
  if (!std::isfinite(v)) {
    // Growing from a point, a fall to -Inf (or NaN) is as low as it gets.
    if (nargout >= kFlagOutputs && growing(phase) && !(v == std::numeric_limits<double>::infinity())) {
      finish(o, MinEnd::kLimit, u, v);
      return kOk;
    }
    return kNoConvergence;
  }
  if (phase != kBrent) note_best(s, u, v);
  switch (phase) {
    case kLowEnd:
      s[kFa] = v;
      trace_value_line(ctx, s, "Calculating f(xmin)=", v);
      return evaluate(ctx, s, kHighEnd, s[kB], o);
    case kHighEnd:
      s[kFb] = v;
      trace_value_line(ctx, s, "Calculating f(xmax)=", v);
      return interval_midpoint(ctx, s, (s[kA] + s[kB]) / 2, o);
    case kMidpoint: {
      if (v < s[kFa] && v < s[kFb]) {
        s[kX] = u;
        s[kFx] = v;
        return bracketed(ctx, s, o);
      }
      const bool upper = s[kFb] <= s[kFa];
      const double m = (u + (upper ? s[kB] : s[kA])) / 2;
      const double near = kEndShare * s[kTolX];
      if (std::fabs(m - s[kA]) < near || std::fabs(m - s[kB]) < near) {
        finish(o, MinEnd::kConverged, upper ? s[kB] : s[kA], upper ? s[kFb] : s[kFa]);
        return kOk;
      }
      return interval_midpoint(ctx, s, m, o);
    }
    case kStart:
      s[kFa] = v;
      trace_value_line(ctx, s, "Calculating f(x0)=", v);
      s[kB] = s[kA] + kFirstStep * std::fmax(std::fabs(s[kA]), 1);
      return evaluate(ctx, s, kStep, s[kB], o);
    case kStep:
      s[kFb] = v;
      return grow(ctx, s, o);
    case kGrowUp:
    case kGrowDown: {
      const bool up = phase == kGrowUp;
      const double other = up ? s[kFa] : s[kFb];
      if (s[kFx] < other && s[kFx] < v) {
        (up ? s[kB] : s[kA]) = u;
        (up ? s[kFb] : s[kFa]) = v;
        return bracketed(ctx, s, o);
      }
      // The middle becomes the inner end and the moved point the outer one.
      if (up) {
        s[kA] = s[kX];
        s[kFa] = s[kFx];
        s[kB] = u;
        s[kFb] = v;
      } else {
        s[kB] = s[kX];
        s[kFb] = s[kFx];
        s[kA] = u;
        s[kFa] = v;
      }
      return grow(ctx, s, o);
    }
    default:
      return brent_update(ctx, s, v, o);
  }
}

// After a step: a call under way, or the end (the state goes, then the
// inputs, and the outputs are pushed), or an error (the state goes).
int min_settle(EngineContext* ctx, int st, const MinOutcome& o, int inputs, int nargout) {
  if (st == kOk && o.end == MinEnd::kLimit && nargout < kFlagOutputs) st = kNoConvergence;
  if (st != kOk || o.end != MinEnd::kRunning) stk_drop(ctx);
  if (st != kOk) return st;
  if (o.end == MinEnd::kRunning) return kOk;
  TN_TRY(stk_remove(ctx, 0, inputs));
  return solver_push_outcome(ctx, nargout, o.x, o.f, o.end == MinEnd::kConverged);
}

int min_start(EngineContext* ctx, int nargin, int nargout) {
  int64_t count = 0;
  double *re, *im;
  if (stk_get_double_array(ctx, nargin - 1 - kSpecInput, nullptr, nullptr, &count, &re, &im) != kOk)
    return kWrongArgType;
  if (count < 1 || count > 2) return kBadSize;
  const double lo = re[0], hi = re[count - 1];
  if (hi < lo) return kBadArgument;
  SolverOptions opt{kMinTolX, kDefaultMaxIter, kDefaultMaxEvals, false};
  TN_TRY(solver_read_options(ctx, nargin > kOptionsInput ? nargin - 1 - kOptionsInput : -1, &opt));
  if (!(opt.tol_x >= kMinTolX)) opt.tol_x = kMinTolX;
  double* s;
  TN_TRY(solver_push_state(ctx, kMinSlots, &s));
  s[kNargin] = nargin;
  s[kTolX] = opt.tol_x;
  s[kMaxIter] = opt.max_iter;
  s[kMaxEvals] = opt.max_fun_evals;
  s[kDisplay] = opt.display;
  MinOutcome o;
  int st;
  s[kA] = lo;
  if (count == 2 && lo != hi) {
    s[kB] = hi;
    st = evaluate(ctx, s, kLowEnd, lo, &o);
  } else {
    st = evaluate(ctx, s, kStart, lo, &o);
  }
  return min_settle(ctx, st, o, nargin, nargout);
}

}  // namespace

int bi_fminbnd(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) return min_start(ctx, nargin, nargout);
  double v = 0;
  int st = solver_resume_value(ctx, results, kWork, &v);
  if (st != kOk) return st;
  double* s = solver_row(ctx, 0);
  if (!s) return TN_ILLEGAL();
  const int inputs = int(s[kNargin]);
  MinOutcome o;
  st = min_step(ctx, s, v, nargout, &o);
  return min_settle(ctx, st, o, inputs, nargout);
}
