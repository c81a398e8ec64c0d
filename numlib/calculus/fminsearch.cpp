// fminsearch: Nelder-Mead's simplex, without derivatives. Work values on top
// of the inputs, deepest first: the simplex V (n x (n+1), column j vertex j),
// the values F (1 x (n+1)), the centroid C and the difference D (n x 1), and
// the 12-double state row on top. Each call of the user's function gets a
// copy of x0 holding the point, so fun sees x0's shape.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/core/continuation.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/solver_calls.h"
#include "numlib/calculus/solver_options.h"
#include "numlib/special/special_kernels.h"

namespace {

enum SearchSlot : int {
  kPhase,
  kNargin,
  kVertex,  // the vertex the awaited value belongs to
  kBest,    // the vertex a shrink keeps
  kRows,
  kCols,
  kTolX,
  kDisplay,
  kMaxIter,
  kMaxEvals,
  kIter,
  kEvals,
  kSearchSlots,
};
static_assert(kSearchSlots == 12, "the state row holds 12 doubles");

enum SearchPhase : int {
  kInitial = 1,   // a vertex of the first simplex
  kReflect = 2,   // R = C - D
  kExpand = 3,    // E = C - 2D
  kContract = 4,  // K = C + D / 2
  kShrink = 5,    // a vertex moved halfway to the best
};

// Depths of the work values above the inputs.
enum : int { kDepthState, kDepthD, kDepthC, kDepthF, kDepthV, kWork };

constexpr int kFunInput = 0;
constexpr int kStartInput = 1;
constexpr int kOptionsInput = 2;
constexpr int kFirstExtra = 3;
constexpr int kFlagOutputs = 3;
constexpr double kMinTolX = 1.4901161193847656e-08;  // 2^-26
constexpr double kEvalsPerDim = 200;
constexpr double kDeltaShare = 0.05;
constexpr double kDeltaFloor = 0.001;

struct Work {
  double* s;
  double* v;  // n x (n + 1), row-major
  double* f;
  double* c;
  double* d;
  int n;
};

Work work_at(EngineContext* ctx) {
  Work w{};
  w.s = solver_row(ctx, kDepthState);
  w.d = solver_row(ctx, kDepthD);
  w.c = solver_row(ctx, kDepthC);
  w.f = solver_row(ctx, kDepthF);
  w.v = solver_row(ctx, kDepthV);
  w.n = w.s ? int(w.s[kRows] * w.s[kCols]) : 0;
  return w;
}

double& vert(const Work& w, int i, int j) { return w.v[i * (w.n + 1) + j]; }

// Calls fun with a copy of x0 holding the point p (n doubles).
int evaluate(EngineContext* ctx, const Work& w, int phase, int vertex, const double* p) {
  w.s[kPhase] = phase;
  w.s[kVertex] = vertex;
  const int nargin = int(w.s[kNargin]);
  const int x0_depth = (nargin - 1 - kStartInput) + kWork;
  TN_TRY(stk_dup(ctx, x0_depth, 1));
  double *re, *im;
  if (stk_get_double_array(ctx, 0, nullptr, nullptr, nullptr, &re, &im) != kOk) {
    stk_drop(ctx);
    return TN_ILLEGAL();
  }
  std::memmove(re, p, sizeof(double) * size_t(w.n));
  return solver_call_with_top(ctx, nargin, kWork, kFunInput, kFirstExtra);
}

int evaluate_vertex(EngineContext* ctx, const Work& w, int phase, int j) {
  // The vertex is a column: gather it into D, which is free at these times.
  for (int i = 0; i < w.n; ++i) w.d[i] = vert(w, i, j);
  return evaluate(ctx, w, phase, j, w.d);
}

// Calls fun at C + t D (C and D stay for the steps that follow).
int evaluate_along(EngineContext* ctx, const Work& w, int phase, double t) {
  const int nargin = int(w.s[kNargin]);
  w.s[kPhase] = phase;
  const int x0_depth = (nargin - 1 - kStartInput) + kWork;
  TN_TRY(stk_dup(ctx, x0_depth, 1));
  double *re, *im;
  if (stk_get_double_array(ctx, 0, nullptr, nullptr, nullptr, &re, &im) != kOk) {
    stk_drop(ctx);
    return TN_ILLEGAL();
  }
  for (int i = 0; i < w.n; ++i) re[i] = w.c[i] + t * w.d[i];
  return solver_call_with_top(ctx, nargin, kWork, kFunInput, kFirstExtra);
}

int first_min(const Work& w) {
  int b = 0;
  for (int j = 1; j <= w.n; ++j)
    if (w.f[j] < w.f[b]) b = j;
  return b;
}

// An iteration: the worst vertex, the centroid of the others, the reflection.
int start_iteration(EngineContext* ctx, const Work& w) {
  int worst = 0;
  for (int j = 1; j <= w.n; ++j)
    if (w.f[j] > w.f[worst]) worst = j;
  for (int i = 0; i < w.n; ++i) {
    double sum = 0;
    for (int j = 0; j <= w.n; ++j)
      if (j != worst) sum += vert(w, i, j);
    w.c[i] = sum / w.n;
    w.d[i] = vert(w, i, worst) - w.c[i];
  }
  w.s[kVertex] = worst;
  return evaluate_along(ctx, w, kReflect, -1);
}

void trace_vertex(EngineContext* ctx, const Work& w, const char* text, int vertex) {
  if (w.s[kDisplay] == 0) return;
  trace_text(ctx, text);
  trace_number(ctx, vertex + 1);
  trace_newline(ctx);
}

struct SearchEnd {
  bool done = false;
  bool converged = false;
};

// Convergence test, then the limits, then the next iteration.
int after_iteration(EngineContext* ctx, const Work& w, SearchEnd* e) {
  bool close = true;
  for (int i = 0; i < w.n && close; ++i)
    for (int j = 1; j <= w.n && close; ++j)
      close = std::fabs(vert(w, i, j) - vert(w, i, 0)) <= w.s[kTolX];
  if (close) {
    e->done = e->converged = true;
    return kOk;
  }
  w.s[kIter] += 1;
  if (w.s[kIter] <= w.s[kMaxIter] && w.s[kEvals] <= w.s[kMaxEvals]) return start_iteration(ctx, w);
  if (w.s[kDisplay] != 0) {
    const bool iterations = w.s[kIter] > w.s[kMaxIter];
    trace_text(ctx, iterations ? "Too many iterations (" : "Too many evaluations (");
    trace_number(ctx, iterations ? w.s[kIter] : w.s[kEvals]);
    trace_text(ctx, ")");
    trace_newline(ctx);
  }
  e->done = true;
  return kOk;
}

void set_vertex_along(const Work& w, int j, double t) {
  for (int i = 0; i < w.n; ++i) vert(w, i, j) = w.c[i] + t * w.d[i];
}

int search_step(EngineContext* ctx, const Work& w, double v, SearchEnd* e) {
  if (std::isnan(v)) return kNoConvergence;
  w.s[kEvals] += 1;
  const int j = int(w.s[kVertex]);
  switch (int(w.s[kPhase])) {
    case kInitial:
      w.f[j] = v;
      if (j < w.n) return evaluate_vertex(ctx, w, kInitial, j + 1);
      return start_iteration(ctx, w);
    case kReflect:
      if (v < w.f[j]) {
        w.f[j] = v;
        return evaluate_along(ctx, w, kExpand, -2);
      }
      return evaluate_along(ctx, w, kContract, 0.5);
    case kExpand:
      if (w.f[j] <= v) {
        set_vertex_along(w, j, -1);
        trace_vertex(ctx, w, "Reflecting vertex ", j);
      } else {
        set_vertex_along(w, j, -2);
        w.f[j] = v;
        trace_vertex(ctx, w, "Expanding vertex ", j);
      }
      return after_iteration(ctx, w, e);
    case kContract: {
      if (v < w.f[j]) {
        set_vertex_along(w, j, 0.5);
        w.f[j] = v;
        trace_vertex(ctx, w, "Contracting vertex ", j);
        return start_iteration(ctx, w);
      }
      const int b = first_min(w);
      w.s[kBest] = b;
      trace_vertex(ctx, w, "Shrinking around vertex ", b);
      for (int k = 0; k <= w.n; ++k)
        if (k != b)
          for (int i = 0; i < w.n; ++i) vert(w, i, k) = (vert(w, i, b) + vert(w, i, k)) / 2;
      return evaluate_vertex(ctx, w, kShrink, b == 0 ? 1 : 0);
    }
    default: {
      w.f[j] = v;
      const int b = int(w.s[kBest]);
      int next = j + 1;
      if (next == b) ++next;
      if (next <= w.n) return evaluate_vertex(ctx, w, kShrink, next);
      return after_iteration(ctx, w, e);
    }
  }
}

int push_work(EngineContext* ctx, int n, double** out) {
  const int32_t shapes[4][2] = {{n, n + 1}, {1, n + 1}, {n, 1}, {n, 1}};
  for (int k = 0; k < 4; ++k) {
    const int st = stk_push_matrix(ctx, shapes[k][0], shapes[k][1], &out[k], nullptr);
    if (st != kOk) {
      stk_remove(ctx, 0, k);
      return st;
    }
  }
  const int st = solver_push_state(ctx, kSearchSlots, &out[4]);
  if (st != kOk) stk_remove(ctx, 0, 4);
  return st;
}

// Pushes f and the exit flag as asked, above everything, before anything
// else changes: a push that fails leaves the stack as it found it.
// *pushed tells how many items went on.
int push_f_and_flag(EngineContext* ctx, int nargout, double f, bool converged, int* pushed) {
  *pushed = 0;
  if (nargout >= kFlagOutputs) {
    TN_TRY(stk_push_logical_scalar(ctx, converged ? 1 : 0));
    ++*pushed;
  }
  if (nargout >= 2) {
    const int st = stk_push_real(ctx, f);
    if (st != kOk) {
      stk_remove(ctx, 0, *pushed);
      *pushed = 0;
      return st;
    }
    ++*pushed;
  }
  return kOk;
}

// The end: the outputs' room is taken first, then the best vertex goes into
// x0's data, and the work values and the other inputs go.
int finish(EngineContext* ctx, const Work& w, bool converged, int nargout) {
  const int b = first_min(w);
  const double fb = w.f[b];
  const int nargin = int(w.s[kNargin]);
  int pushed = 0;
  if (int st = push_f_and_flag(ctx, nargout, fb, converged, &pushed); st != kOk) {
    stk_remove(ctx, 0, kWork);
    return st;
  }
  const int x0_depth = (nargin - 1 - kStartInput) + kWork + pushed;
  double *re, *im;
  if (stk_get_double_array(ctx, x0_depth, nullptr, nullptr, nullptr, &re, &im) != kOk) return TN_ILLEGAL();
  for (int i = 0; i < w.n; ++i) re[i] = vert(w, i, b);
  TN_TRY(stk_move(ctx, x0_depth + 1, 1));
  stk_make_real_top(ctx);
  return stk_remove(ctx, 1 + pushed, kWork + nargin - 1);
}

int search_start(EngineContext* ctx, int nargin, int nargout) {
  const int x0_depth = nargin - 1 - kStartInput;
  int64_t count = 0;
  int ndims;
  const uint32_t* dims;
  double *re, *im;
  if (stk_get_double_array(ctx, x0_depth, &ndims, &dims, &count, &re, &im) != kOk) return kWrongArgType;
  if (count > 0x7fff) return kBadSize;
  const int n = int(count);
  SolverOptions opt{kMinTolX, kEvalsPerDim * n, kEvalsPerDim * n, false};
  TN_TRY(solver_read_options(ctx, nargin > kOptionsInput ? nargin - 1 - kOptionsInput : -1, &opt));
  if (!(opt.tol_x >= kMinTolX)) opt.tol_x = kMinTolX;
  if (n == 0) {
    // Nothing to move: x0 itself, f = 0, converged, fun never called.
    int pushed = 0;
    TN_TRY(push_f_and_flag(ctx, nargout, 0, true, &pushed));
    TN_TRY(stk_move(ctx, x0_depth + pushed + 1, 1));
    return stk_remove(ctx, 1 + pushed, nargin - 1);
  }
  const double rows = ndims == 2 ? dims[0] : 1, cols = ndims == 2 ? dims[1] : double(count);
  double* p[5];
  TN_TRY(push_work(ctx, n, p));
  Work w = work_at(ctx);
  w.s[kNargin] = nargin;
  w.s[kRows] = rows;
  w.s[kCols] = cols;
  w.n = n;
  w.s[kTolX] = opt.tol_x;
  w.s[kDisplay] = opt.display;
  w.s[kMaxIter] = opt.max_iter;
  w.s[kMaxEvals] = opt.max_fun_evals;
  re = nullptr;
  TN_TRY(stk_get_double_array(ctx, x0_depth + kWork, nullptr, nullptr, nullptr, &re, &im));
  for (int i = 0; i < n; ++i) {
    const double delta = std::fmax(kDeltaShare * std::fabs(re[i]), kDeltaFloor);
    for (int j = 0; j <= n; ++j) vert(w, i, j) = re[i];
    vert(w, i, 0) = re[i] - delta / (n + 1);
    vert(w, i, i + 1) = re[i] + delta;
  }
  const int st = evaluate_vertex(ctx, w, kInitial, 0);
  if (st != kOk) stk_remove(ctx, 0, kWork);
  return st;
}

}  // namespace

int bi_fminsearch(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) return search_start(ctx, nargin, nargout);
  double v = 0;
  int st = solver_resume_value(ctx, results, kWork, &v);
  if (st != kOk) return st;
  const Work w = work_at(ctx);
  if (!w.s || !w.v) return TN_ILLEGAL();
  SearchEnd e;
  st = search_step(ctx, w, v, &e);
  if (st == kOk && e.done && !e.converged && nargout < kFlagOutputs) st = kNoConvergence;
  if (st != kOk) {
    stk_remove(ctx, 0, kWork);
    return st;
  }
  if (!e.done) return kOk;
  return finish(ctx, w, e.converged, nargout);
}
