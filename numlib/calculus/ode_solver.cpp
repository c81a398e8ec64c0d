// ode45 and ode23: one explicit embedded Runge-Kutta solver over the row's
// tableau, with adaptive steps, dense output (Refine points per step) and an
// optional OutputFcn. Work values above the inputs, deepest first: Y and
// Ynew (n x 1, complex), the stages K (n x (s+2), complex), the 18-double
// OdeState and, on top, the output table T, whose rows [t, re y, im y] are
// held with spare capacity that doubles when full, so a long run costs
// O(rows) in copying. The outputs t and y are built from T at the finish.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/continuation.h"
#include "engine/core/options.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/ode_events.h"
#include "numlib/calculus/ode_tableaus.h"
#include "numlib/calculus/solver_calls.h"

namespace {

enum OdeSlot : int {
  kPhase,
  kNargin,
  kT,
  kH,
  kComplex,
  kRowsF,
  kRelTol,
  kAbsRatio,
  kNormControl,
  kMaxStep,
  kMinStep,
  kRefine,
  kUsedRows,   // rows of T in use
  kHasOutput,  // 1 when OutputFcn is set
  kStats,
  kSteps,
  kFailed,
  kEvals,
  kOdeSlots,
};
static_assert(kOdeSlots == 18, "OdeState holds 18 doubles");

constexpr int kAwaitOutputFcn = 101;
// Depths of the work values above the inputs.
enum : int { kDepthTable, kDepthState, kDepthK, kDepthYnew, kDepthY, kWork };
constexpr int kFunInput = 0;
constexpr int kSpanInput = 1;
constexpr int kStartInput = 2;
constexpr int kOptionsInput = 3;
constexpr int kFirstExtra = 4;
constexpr int kNotColumnVector = 23;
constexpr double kEps = 2.220446049250313e-16;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kFinishShare = 2.220446049250313e-15;
constexpr double kStepFloor = 3.552713678800501e-15;  // 2^-48
constexpr double kMaxRefine = 32000;
constexpr double kFirstStepShare = 1e-5;
constexpr double kMaxStepShare = 0.1;
constexpr double kMinStepShare = 1e-6;
constexpr double kSafety = 0.8;
constexpr double kShrinkLimit = 0.5;
constexpr double kGrowLimit = 1.6;
// The output table starts with room for a few steps, then doubles.
constexpr double kFirstTableSteps = 4;
constexpr double kFirstTableRowsCap = 64;

struct Ode {
  EngineContext* ctx;
  TableauView tab;
  double* s;
  double* yre;
  double* yim;
  double* nre;
  double* nim;
  double* kre;  // n x (s + 2), row-major
  double* kim;
  int n;
  int stages;  // s + 2
  int width() const { return 1 + 2 * n; }
};

int input_depth(const Ode& o, int input) { return (int(o.s[kNargin]) - 1 - input) + kWork; }

bool bind(EngineContext* ctx, uintptr_t data, Ode* o) {
  o->ctx = ctx;
  o->tab = tableau_view(reinterpret_cast<const double*>(data));
  o->stages = o->tab.s + 2;
  int32_t r, c;
  if (stk_get_matrix(ctx, kDepthState, &r, &c, &o->s, &o->yim) != kOk) return false;
  if (stk_get_matrix(ctx, kDepthY, &r, &c, &o->yre, &o->yim) != kOk || !o->yim) return false;
  o->n = r;
  if (stk_get_matrix(ctx, kDepthYnew, &r, &c, &o->nre, &o->nim) != kOk || !o->nim) return false;
  return stk_get_matrix(ctx, kDepthK, &r, &c, &o->kre, &o->kim) == kOk && o->kim;
}

// T at `above` items over the work values (values pushed since the built-in
// was entered lie on top of it).
double* table(const Ode& o, int above = 0) {
  int32_t r, c;
  double *re, *im;
  stk_get_matrix(o.ctx, kDepthTable + above, &r, &c, &re, &im);
  return re;
}

// Makes room in T for `more` rows beyond those in use; T is the top work
// value, so its data end at the data top and grow in place.
int table_reserve(const Ode& o, int more) {
  uint32_t* d = desc_at(o.ctx, 0);
  const int64_t used = int64_t(o.s[kUsedRows]), capacity = d[1];
  if (used + more <= capacity) return kOk;
  const int64_t rows = std::max(2 * capacity, used + more);
  const int64_t extra = (rows - capacity) * o.width();
  if (rows * o.width() >= kMaxNdElements) return kDataStackOverflow;
  if (extra > data_free_words(o.ctx)) return kDataStackOverflow;
  double* end = reinterpret_cast<double*>(data_words(o.ctx) + o.ctx->data_top);
  std::fill(end, end + extra, 0.0);
  o.ctx->data_top += int32_t(extra);
  d[1] = uint32_t(rows);
  return kOk;
}

void table_put(const Ode& o, double* row, double t, const double* re, const double* im) {
  row[0] = t;
  for (int i = 0; i < o.n; ++i) {
    row[1 + i] = re[i];
    row[1 + o.n + i] = im ? im[i] : 0;
  }
}

// Pushes the PreArg elements (when options were given); their count in *count.
int push_prearg(const Ode& o, int extra_depth, int* count) {
  *count = 0;
  if (int(o.s[kNargin]) <= kOptionsInput) return kOk;
  TN_TRY(opt_read_struct(o.ctx, input_depth(o, kOptionsInput) + extra_depth, "PreArg", kOdesetOptions));
  if (!stk_is_list(o.ctx, 0)) {
    stk_drop(o.ctx);
    return kWrongType;
  }
  int32_t n = 0;
  TN_TRY(stk_expand_list(o.ctx, &n));
  *count = n;
  return kOk;
}

// Calls fun(PreArg..., t, y, extra...) with y = re + i im (im ignored unless complex).
int call_fun(const Ode& o, double t, const double* re, const double* im) {
  int pre = 0;
  TN_TRY(push_prearg(o, 0, &pre));
  int pushed = pre;
  double *yr, *yi = nullptr;
  int st = stk_push_real(o.ctx, t);
  if (st == kOk) {
    ++pushed;
    st = stk_push_matrix(o.ctx, o.n, 1, &yr, o.s[kComplex] != 0 ? &yi : nullptr);
  }
  if (st != kOk) {
    stk_remove(o.ctx, 0, pushed);
    return st;
  }
  ++pushed;
  std::memcpy(yr, re, sizeof(double) * size_t(o.n));
  if (yi) std::memcpy(yi, im, sizeof(double) * size_t(o.n));
  const int nargin = int(o.s[kNargin]);
  const int extras = nargin > kFirstExtra ? nargin - kFirstExtra : 0;
  for (int j = 0; j < extras; ++j) {
    st = stk_dup(o.ctx, input_depth(o, kFirstExtra + j) + pushed, 1);
    if (st != kOk) {
      stk_remove(o.ctx, 0, pushed);
      return st;
    }
    ++pushed;
  }
  st = fn_call_funarg(o.ctx, input_depth(o, kFunInput) + pushed, pushed, 1, 0);
  if (st != kOk) stk_remove(o.ctx, 0, pushed);
  return st;
}

// Evaluates stage j (1..s) of the step from t with h.
int evaluate_stage(const Ode& o, int j) {
  const double h = o.s[kH];
  // The argument is formed in Ynew, which is free until stage s is known.
  for (int i = 0; i < o.n; ++i) {
    double re = 0, im = 0;
    for (int l = 0; l < j; ++l) {
      const double a = o.tab.coupling(l, j);
      re += a * o.kre[i * o.stages + l];
      im += a * o.kim[i * o.stages + l];
    }
    o.nre[i] = o.yre[i] + h * re;
    o.nim[i] = o.yim[i] + h * im;
  }
  o.s[kPhase] = j;
  return call_fun(o, o.s[kT] + o.tab.node(j) * h, o.nre, o.nim);
}

double end_time(const Ode& o) {
  double* span;
  int64_t count;
  double* im;
  stk_get_double_array(o.ctx, input_depth(o, kSpanInput), nullptr, nullptr, &count, &span, &im);
  return span[1];
}

// Appends the Refine rows of the accepted step from t to t + h.
int add_rows(const Ode& o) {
  const int refine = int(o.s[kRefine]);
  TN_TRY(table_reserve(o, refine));
  double* rows = table(o) + int64_t(o.s[kUsedRows]) * o.width();
  const double t = o.s[kT], h = o.s[kH];
  for (int k = 1; k <= refine; ++k) {
    double* row = rows + int64_t(k - 1) * o.width();
    row[0] = t + k * h / refine;
    if (k == refine) {
      table_put(o, row, row[0], o.nre, o.nim);
      continue;
    }
    const double theta = double(k) / refine;
    for (int i = 0; i < o.n; ++i) {
      double re = o.yre[i], im = o.yim[i], power = 1;
      for (int c = 0; c < o.tab.d; ++c) {
        power *= theta;
        double qr = 0, qi = 0;
        for (int l = 0; l < o.stages; ++l) {
          qr += o.kre[i * o.stages + l] * o.tab.dense(l, c);
          qi += o.kim[i * o.stages + l] * o.tab.dense(l, c);
        }
        re += h * qr * power;
        im += h * qi * power;
      }
      row[1 + i] = re;
      row[1 + o.n + i] = o.s[kComplex] != 0 ? im : 0;
    }
  }
  o.s[kUsedRows] += refine;
  return kOk;
}

double error_measure(const Ode& o) {
  const double h = o.s[kH], floor = o.s[kAbsRatio];
  double err = 0, enorm = 0, ynorm = 0;
  for (int i = 0; i < o.n; ++i) {
    double er = 0, ei = 0;
    for (int l = 0; l < o.stages; ++l) {
      er += o.tab.error(l) * o.kre[i * o.stages + l];
      ei += o.tab.error(l) * o.kim[i * o.stages + l];
    }
    const double e = std::hypot(er, ei), y = std::hypot(o.nre[i], o.nim[i]);
    if (o.s[kNormControl] != 0) {
      enorm += er * er + ei * ei;
      ynorm += y * y;
    } else {
      const double v = h * e / std::max(y, floor);
      if (!(v <= err)) err = v;  // a NaN stays
    }
  }
  if (o.s[kNormControl] != 0) err = h * std::sqrt(enorm) / std::max(std::sqrt(ynorm), floor);
  return std::fabs(err);
}

// A step too small to change t would repeat the same point for ever, so it
// is raised to the spacing of the doubles at t.
double step_that_moves(double t, double h) {
  if (t + h > t) return h;
  return std::nextafter(t, kInfinity) - t;
}

// Step 8: finish, or the first stage of the next step.
int continue_or_finish(const Ode& o, bool* finished) {
  const double tend = end_time(o), t = o.s[kT];
  if (o.s[kH] < o.s[kMinStep] || t >= tend - std::fabs(tend) * kFinishShare) {
    *finished = true;
    return kOk;
  }
  if (t + o.s[kH] > tend) o.s[kH] = tend - t;
  return evaluate_stage(o, 1);
}

// Calls OutputFcn(PreArg..., tk, yk) with the rows just added.
int call_output_fcn(const Ode& o) {
  const int refine = int(o.s[kRefine]);
  TN_TRY(opt_read_struct(o.ctx, input_depth(o, kOptionsInput), "OutputFcn", kOdesetOptions));
  int pre = 0;
  int st = push_prearg(o, 1, &pre);
  if (st != kOk) {
    stk_drop(o.ctx);
    return st;
  }
  double *tr, *yr, *yi = nullptr;
  st = stk_push_matrix(o.ctx, 1, refine, &tr, nullptr);
  if (st == kOk) {
    st = stk_push_matrix(o.ctx, o.n, refine, &yr, o.s[kComplex] != 0 ? &yi : nullptr);
    if (st != kOk) stk_drop(o.ctx);
  }
  if (st != kOk) {
    stk_remove(o.ctx, 0, pre + 1);
    return st;
  }
  // T now lies below the OutputFcn value, the PreArg elements, tk and yk.
  const double* rows = table(o, 1 + pre + 2) + (int64_t(o.s[kUsedRows]) - refine) * o.width();
  for (int k = 0; k < refine; ++k) {
    tr[k] = rows[k * o.width()];
    for (int i = 0; i < o.n; ++i) {
      yr[i * refine + k] = rows[k * o.width() + 1 + i];
      if (yi) yi[i * refine + k] = rows[k * o.width() + 1 + o.n + i];
    }
  }
  o.s[kPhase] = kAwaitOutputFcn;
  st = fn_call_funarg(o.ctx, pre + 2, pre + 2, 1, 0);
  if (st != kOk) stk_remove(o.ctx, 0, pre + 3);
  return st;
}

// A value of fun has arrived for the phase's stage.
int take_stage(const Ode& o, bool* finished) {
  const int phase = int(o.s[kPhase]), s = o.tab.s;
  if (phase < s) return evaluate_stage(o, phase + 1);
  const double h = o.s[kH];
  if (phase == s) {
    for (int i = 0; i < o.n; ++i) {
      double re = 0, im = 0;
      for (int l = 0; l <= s; ++l) {
        re += o.tab.weight(l) * o.kre[i * o.stages + l];
        im += o.tab.weight(l) * o.kim[i * o.stages + l];
      }
      o.nre[i] = o.yre[i] + h * re;
      o.nim[i] = o.yim[i] + h * im;
    }
    o.s[kPhase] = s + 1;
    return call_fun(o, o.s[kT] + h, o.nre, o.nim);
  }
  const double err = error_measure(o);
  const bool accepted = err < o.s[kRelTol];
  if (accepted) {
    o.s[kSteps] += 1;
    TN_TRY(add_rows(o));
    o.s[kT] += h;
    std::memcpy(o.yre, o.nre, sizeof(double) * size_t(o.n));
    std::memcpy(o.yim, o.nim, sizeof(double) * size_t(o.n));
    for (int i = 0; i < o.n; ++i) {
      o.kre[i * o.stages] = o.kre[i * o.stages + s + 1];
      o.kim[i * o.stages] = o.kim[i * o.stages + s + 1];
    }
  } else {
    o.s[kFailed] += 1;
  }
  // A NaN or infinite error estimate is a rejection at the smallest factor,
  // so no NaN enters h.
  double factor = kShrinkLimit;
  if (std::isfinite(err)) {
    factor = std::min(std::max(kSafety * std::pow(o.s[kRelTol] / err, o.tab.t[kTabExponent]), kShrinkLimit),
                      kGrowLimit);
  }
  double hn = h * factor;
  if (hn > o.s[kMaxStep])
    hn = o.s[kMaxStep];
  else
    hn = std::max(hn, (o.s[kT] + 1) * kStepFloor);
  o.s[kH] = hn = step_that_moves(o.s[kT], hn);
  // A rejected step retried no smaller would be rejected again for ever (at
  // the floor above, at the resolution of t, or at zero): the run ends with
  // the points it has, as when the step falls below MinStep.
  if (!accepted && !(hn < h)) {
    *finished = true;
    return kOk;
  }
  if (accepted && o.s[kHasOutput] != 0) return call_output_fcn(o);
  return continue_or_finish(o, finished);
}

// The outputs t and y from T (first output on top), then the stats, then
// the inputs and work values go.
int finish(const Ode& o, int nargout) {
  const int rows = int(o.s[kUsedRows]);
  const int nargin = int(o.s[kNargin]);
  int pushed = 0;
  if (nargout >= 2) {
    double *yr, *yi = nullptr;
    TN_TRY(stk_push_matrix(o.ctx, rows, o.n, &yr, o.s[kComplex] != 0 ? &yi : nullptr));
    pushed = 1;
    // T lies one item deeper now.
    int32_t r, c;
    double *tab, *tim;
    stk_get_matrix(o.ctx, kDepthTable + 1, &r, &c, &tab, &tim);
    for (int k = 0; k < rows; ++k)
      for (int i = 0; i < o.n; ++i) {
        yr[k * o.n + i] = tab[k * o.width() + 1 + i];
        if (yi) yi[k * o.n + i] = tab[k * o.width() + 1 + o.n + i];
      }
  }
  if (nargout >= 1) {
    double* tr;
    const int st = stk_push_matrix(o.ctx, rows, 1, &tr, nullptr);
    if (st != kOk) {
      stk_remove(o.ctx, 0, pushed);
      return st;
    }
    int32_t r, c;
    double *tre, *tim;
    stk_get_matrix(o.ctx, kDepthTable + pushed + 1, &r, &c, &tre, &tim);
    for (int k = 0; k < rows; ++k) tr[k] = tre[k * o.width()];
    ++pushed;
  }
  if (o.s[kStats] != 0) {
    trace_text(o.ctx, "Number of function evaluations: ");
    trace_number(o.ctx, o.s[kEvals]);
    trace_newline(o.ctx);
    trace_text(o.ctx, "Successful steps: ");
    trace_number(o.ctx, o.s[kSteps]);
    trace_newline(o.ctx);
    trace_text(o.ctx, "Failed steps (error too large): ");
    trace_number(o.ctx, o.s[kFailed]);
    trace_newline(o.ctx);
  }
  TN_TRY(stk_remove(o.ctx, pushed, nargin + kWork));
  if (nargout < 0) return stk_push_no_value(o.ctx);
  return kOk;
}

// Options, in the order they are read, over the defaults already in s.
int read_options(EngineContext* ctx, int depth, double* s, double* h) {
  const char* names[] = {"RelTol", "AbsTol", "NormControl", "MinStep", "MaxStep", "InitialStep", "Refine", "Stats"};
  double abs_tol = s[kAbsRatio];
  double* slots[] = {&s[kRelTol], &abs_tol, &s[kNormControl], &s[kMinStep], &s[kMaxStep], h, &s[kRefine], &s[kStats]};
  for (int k = 0; k < 8; ++k) TN_TRY(opt_get_number(ctx, depth, names[k], kOdesetOptions, *slots[k], slots[k]));
  if (!(s[kRelTol] >= kEps)) s[kRelTol] = kEps;
  if (!(abs_tol >= kEps)) abs_tol = kEps;
  if (!(s[kMinStep] >= kEps)) s[kMinStep] = kEps;
  if (s[kMaxStep] < s[kMinStep]) s[kMaxStep] = s[kMinStep];
  if (*h < s[kMinStep]) *h = s[kMinStep];
  s[kRefine] = std::trunc(s[kRefine]);
  if (!(s[kRefine] >= 1)) s[kRefine] = 1;
  if (s[kRefine] > kMaxRefine) s[kRefine] = kMaxRefine;
  s[kAbsRatio] = abs_tol;
  return kOk;
}

// The step options of either solver: the finish test and the step control
// never settle with a NaN or an infinite step, so no bound could end such a
// run. Absent options read as 0.
int check_step_options(EngineContext* ctx, int depth) {
  for (const char* name : {"MinStep", "MaxStep", "InitialStep"}) {
    double v = 0;
    TN_TRY(opt_get_number(ctx, depth, name, kOdesetOptions, 0, &v));
    if (!std::isfinite(v)) return kBadArgument;
  }
  return kOk;
}

// True when the option is set to something other than an empty numeric matrix.
int option_set(EngineContext* ctx, int depth, const char* name, bool* set) {
  TN_TRY(opt_read_struct(ctx, depth, name, kOdesetOptions));
  int64_t count = 1;
  const bool numeric = stk_get_array_info(ctx, 0, nullptr, nullptr, &count) == kOk;
  *set = !(numeric && count == 0);
  stk_drop(ctx);
  return kOk;
}

int ode_start(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  const double* tableau = reinterpret_cast<const double*>(data);
  const TableauView tab = tableau_view(tableau);
  int64_t count = 0;
  double *span, *im;
  if (stk_get_double_array(ctx, nargin - 1 - kSpanInput, nullptr, nullptr, &count, &span, &im) != kOk)
    return kWrongArgType;
  if (count != 2) return kBadSize;
  const double t0 = span[0], tend = span[1];
  // The finish test is never true with a NaN end, and an infinite span has
  // no finite steps (its length, here, must be finite as well).
  if (!std::isfinite(tend - t0)) return kBadArgument;
  int32_t n, cols;
  double *y0r, *y0i;
  if (stk_get_matrix(ctx, nargin - 1 - kStartInput, &n, &cols, &y0r, &y0i) != kOk) return kWrongArgType;
  if (cols != 1) return kNotColumnVector;
  const bool has_options = nargin > kOptionsInput;
  const int opt_depth = nargin - 1 - kOptionsInput;
  if (has_options) {
    TN_TRY(check_step_options(ctx, opt_depth));
    bool events = false, times = false;
    TN_TRY(option_set(ctx, opt_depth, "Events", &events));
    TN_TRY(option_set(ctx, opt_depth, "EventTime", &times));
    if (events || times) return ode_events_start(ctx, nargin, nargout, tableau);
  }
  double st[kOdeSlots] = {};
  double h = (tend - t0) * kFirstStepShare;
  st[kNargin] = nargin;
  st[kT] = t0;
  st[kComplex] = y0i ? 1 : 0;
  st[kRowsF] = n;
  st[kRelTol] = 1e-3;
  st[kAbsRatio] = 1e-6;
  st[kMaxStep] = (tend - t0) * kMaxStepShare;
  st[kMinStep] = (tend - t0) * kMinStepShare;
  st[kRefine] = tableau[kTabRefine];
  if (has_options) TN_TRY(read_options(ctx, opt_depth, st, &h));
  bool output_fcn = false;
  if (has_options) TN_TRY(option_set(ctx, opt_depth, "OutputFcn", &output_fcn));
  st[kHasOutput] = output_fcn;
  st[kAbsRatio] /= st[kRelTol];
  st[kH] = step_that_moves(t0, h);
  if (tend <= t0 && nargout <= 0) {
    TN_TRY(stk_remove(ctx, 0, nargin));
    return nargout < 0 ? stk_push_no_value(ctx) : kOk;
  }
  // Work values: Y, Ynew, K, the state, then T with room for a few steps.
  const int stages = tab.s + 2;
  const int32_t shapes[3][2] = {{n, 1}, {n, 1}, {n, stages}};
  for (int k = 0; k < 3; ++k) {
    const int s2 = stk_push_zeros(ctx, shapes[k][0], std::max(shapes[k][1], 1), 1);
    if (s2 != kOk) {
      stk_remove(ctx, 0, k);
      return s2;
    }
  }
  double* s;
  int r = solver_push_state(ctx, kOdeSlots, &s);
  if (r == kOk) {
    std::memcpy(s, st, sizeof st);
    s[kUsedRows] = 1;
    const double first_rows = std::min(1 + kFirstTableSteps * st[kRefine], kFirstTableRowsCap);
    r = stk_push_zeros(ctx, int32_t(first_rows), 1 + 2 * n, 0);
    if (r != kOk) stk_drop(ctx);
  }
  if (r != kOk) {
    stk_remove(ctx, 0, 3);
    return r;
  }
  Ode o;
  if (!bind(ctx, data, &o)) return TN_ILLEGAL();
  double *yr, *yi;
  stk_get_matrix(ctx, input_depth(o, kStartInput), &n, &cols, &yr, &yi);
  for (int i = 0; i < n; ++i) {
    o.yre[i] = yr[i];
    o.yim[i] = yi ? yi[i] : 0;
  }
  table_put(o, table(o), t0, o.yre, o.yim);
  if (tend <= t0) return finish(o, nargout);  // the single row [t0, y0']
  o.s[kPhase] = 0;
  r = call_fun(o, t0, o.yre, o.yim);
  if (r != kOk) stk_remove(ctx, 0, kWork);
  return r;
}

// Resumed with an answer of OutputFcn: the answer and the OutputFcn value
// below it go, then step 8 or the finish.
int resume_output_fcn(EngineContext* ctx, int nargout, uintptr_t data) {
  uint8_t stop = 0;
  const int bst = stk_get_bool(ctx, 0, &stop);
  stk_remove(ctx, 0, 2);
  if (bst != kOk) {
    stk_remove(ctx, 0, kWork);
    return bst;
  }
  Ode o;
  if (!bind(ctx, data, &o)) return TN_ILLEGAL();
  bool finished = stop != 0;
  const int st = finished ? kOk : continue_or_finish(o, &finished);
  if (st != kOk) {
    stk_remove(ctx, 0, kWork);
    return st;
  }
  return finished ? finish(o, nargout) : kOk;
}

// Resumed with a value of fun: it must be an n x 1 column; it goes into
// column `phase` of K.
int resume_stage(EngineContext* ctx, int nargout, uintptr_t data) {
  int32_t r, c, n, one;
  double *vre, *vim, *sv, *k_re, *k_im, *a, *b;
  if (stk_get_matrix(ctx, 1 + kDepthState, &r, &c, &sv, &vim) != kOk ||
      stk_get_matrix(ctx, 1 + kDepthY, &n, &one, &a, &b) != kOk ||
      stk_get_matrix(ctx, 1 + kDepthK, &r, &c, &k_re, &k_im) != kOk) {
    stk_remove(ctx, 0, 1 + kWork);
    return TN_ILLEGAL();
  }
  int32_t vr = 0, vc = 0;
  if (stk_get_matrix(ctx, 0, &vr, &vc, &vre, &vim) != kOk || vr != n || vc != 1) {
    stk_remove(ctx, 0, 1 + kWork);
    return kBadSize;
  }
  const int phase = int(sv[kPhase]);
  for (int i = 0; i < n; ++i) {
    k_re[i * c + phase] = vre[i];
    k_im[i * c + phase] = vim ? vim[i] : 0;
  }
  if (vim) sv[kComplex] = 1;
  sv[kEvals] += 1;
  stk_drop(ctx);
  Ode o;
  if (!bind(ctx, data, &o)) return TN_ILLEGAL();
  bool finished = false;
  const int st = take_stage(o, &finished);
  if (st != kOk) {
    stk_remove(ctx, 0, kWork);
    return st;
  }
  return finished ? finish(o, nargout) : kOk;
}

int ode_resume(EngineContext* ctx, int results, int nargout, uintptr_t data) {
  if (results < 1) {
    stk_remove(ctx, 0, results + kWork);
    return kWrongType;
  }
  stk_remove(ctx, 1, results - 1);  // only the first result counts
  // Below an answer of OutputFcn lies the OutputFcn value, never the plain
  // real table T that lies below a value of fun.
  const uint32_t kind = desc_at(ctx, 1)[0];
  if (kind != kKindReal) return resume_output_fcn(ctx, nargout, data);
  return resume_stage(ctx, nargout, data);
}

}  // namespace

int bi_ode(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  const int results = builtin_resumed(nargin);
  if (results < 0) return ode_start(ctx, nargin, nargout, data);
  return ode_resume(ctx, results, nargout, data);
}
