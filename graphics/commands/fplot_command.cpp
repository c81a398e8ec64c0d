// fplot: adaptive sampling of a function called through the engine, one
// value per entry. The 8-double state rides on the value stack above the
// arguments; the points are stored straight into the list under
// construction (x from the record's first data double after the count, y
// `most` doubles further on) and become a polyline record when the upper
// end or the list's room is reached. Nothing keeps a pointer across a call
// of the function: the callee may grow the block, so every entry re-reads
// the list and the state.
#include <algorithm>
#include <cmath>

#include "engine/core/continuation.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/subplot/autoscale.h"

namespace {

// The sampling state, in the order the stack holds it.
enum FplotSlot : int {
  kMostPoints,    // points the list has room for
  kPointCount,    // points stored
  kUpperEnd,
  kCurrentX,      // where the awaited value was asked for
  kSmallestStep,  // a tenth of the largest
  kLargestStep,   // 1 % of the range
  kStep,
  kArgCount,
  kFplotSlots,
};
static_assert(kFplotSlots == 8, "the sampling state holds 8 doubles");

constexpr int kFunArg = 0;
constexpr int kLimitsArg = 1;
constexpr int kStyleArg = 2;
constexpr int kIdArg = 3;
constexpr int kFirstPassedArg = 4;
constexpr int32_t kMinRoom = 16;        // beyond the opening record
constexpr int32_t kPointsAt = kRecHead + 1;  // x[0] behind the header and the count
constexpr double kRangeSteps = 100;     // the largest step is 1 % of the range
constexpr double kFineSteps = 10;       // the smallest a tenth of that
constexpr double kHalveAbove = 0.5;     // pixels of extrapolation error
constexpr double kDoubleBelow = 0.2;
constexpr double kDefaultLo = -5, kDefaultHi = 5;

// Room for points with `used` counted after the opening record.
int32_t most_points(const CommandList& list) { return (list.capacity - *list.used - kPointsAt) / 2; }

// The range from the subplot's fixed or locked x axis and the limits
// argument; false when there is nothing to draw.
int sample_range(EngineContext* ctx, int nargin, const Subplot* s, double* lo, double* hi, bool* drawn) {
  double vlo = NAN, vhi = NAN;
  if (s->xMode == kAxisFixed || s->xMode == kAxisLocked) subplot_visible_xrange(s, &vlo, &vhi);
  const bool visible = std::isfinite(vlo) && std::isfinite(vhi) && vlo < vhi;
  *lo = visible ? vlo : kDefaultLo;
  *hi = visible ? vhi : kDefaultHi;
  if (nargin > kLimitsArg) {
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    TN_TRY(stk_get_matrix(ctx, nargin - 1 - kLimitsArg, &rows, &cols, &re, &im));
    const int64_t count = int64_t(rows) * cols;
    if (count != 0 && count != 2) return kBadSize;
    if (count == 2) {
      *lo = visible ? std::max(vlo, re[0]) : re[0];
      *hi = visible ? std::min(vhi, re[1]) : re[1];
    }
  }
  *drawn = *lo <= *hi;  // false for NaN ends too
  return kOk;
}

// Asks for f(x, passed...) with the state on top of the nargin arguments.
int call_at(EngineContext* ctx, int nargin, double* state, double x) {
  state[kCurrentX] = x;
  const int passed = std::max(0, nargin - kFirstPassedArg);
  TN_TRY(stk_push_real(ctx, x));
  // Argument a lies under the state, x and the j copies made so far.
  for (int j = 0; j < passed; ++j) {
    const int st = stk_dup(ctx, (nargin - 1 - (kFirstPassedArg + j)) + 2 + j, 1);
    if (st != kOk) {
      stk_remove(ctx, 0, 1 + j);
      return st;
    }
  }
  const int st = builtin_call_value(ctx, (nargin - 1 - kFunArg) + 2 + passed, 1 + passed, 1);
  if (st != kOk) stk_remove(ctx, 0, 1 + passed);
  return st;
}

// The next x after `last`: never beyond the upper end, and the upper end
// itself when the step no longer moves x, so that sampling always ends.
double next_x(const double* state, double last) {
  const double x = last + state[kStep];
  return x < state[kUpperEnd] && x > last ? x : state[kUpperEnd];
}

// Turns the stored points into the curve's record; the state is gone, the
// arguments are on top.
int finish_curve(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed, int32_t m,
                 int32_t most) {
  StyleArg style;
  if (nargin > kStyleArg) TN_TRY(arg_style(ctx, nargin, kStyleArg, &style));
  StyleSpec st;
  TN_TRY(style_of(style, 0, kDefaultCurveBits, nullptr, &st));
  double id = kNoId;
  if (ids_allowed && nargin > kIdArg) TN_TRY(stk_get_real_scalar(ctx, nargin - 1 - kIdArg, &id));
  PlotWriter w = command_writer(list);
  const int32_t at = w.used;
  TN_TRY(plotwriter_begin_record(&w, kCodePolyline, id, 1, &st, 1 + 2 * m));
  plotwriter_put(&w, m);
  const double* xs = list.data + at + kPointsAt;
  const double* ys = xs + most;
  for (int32_t i = 0; i < m; ++i) plotwriter_put(&w, xs[i]);
  for (int32_t i = 0; i < m; ++i) plotwriter_put(&w, ys[i]);  // moves down to follow x: read ahead of the write
  subplot_autoscale_to_data(s, list.data + at + kPointsAt, list.data + at + kPointsAt + m, nullptr, m);
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

int fplot_start(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool* finished) {
  TN_TRY(stk_argcheck(ctx, nargin, "f[RSr"));
  double lo = 0, hi = 0;
  bool drawn = false;
  TN_TRY(sample_range(ctx, nargin, s, &lo, &hi, &drawn));
  StyleArg style;
  if (nargin > kStyleArg) TN_TRY(arg_style(ctx, nargin, kStyleArg, &style));
  if (!drawn) {
    command_done(ctx, nargin);
    *finished = true;
    return kOk;
  }
  TN_TRY(command_room(list, kMinRoom));
  command_open(list, s);
  double* state = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, kFplotSlots, &state, nullptr));
  const double largest = (hi - lo) / kRangeSteps;
  const double initial[kFplotSlots] = {double(most_points(list)), 0, hi, lo, largest / kFineSteps, largest, largest,
                                       double(nargin)};
  std::copy(initial, initial + kFplotSlots, state);
  const int st = call_at(ctx, nargin, state, lo);
  if (st != kOk) stk_drop(ctx);
  return st;
}

// One value y of the function at the state's current x, with the state on
// top. Stores or discards it, then asks for the next value or finishes.
int fplot_value(EngineContext* ctx, Subplot* s, CommandList list, double y, bool ids_allowed, bool* finished) {
  int32_t rows = 0, cols = 0;
  double *state = nullptr, *im = nullptr;
  int32_t nargin = 0, most = 0, m = 0;
  if (stk_get_matrix(ctx, 0, &rows, &cols, &state, &im) != kOk || rows * cols != kFplotSlots ||
      !double_to_count(state[kArgCount], stk_item_count(ctx) - 1, &nargin) || nargin < 1)
    return TN_ILLEGAL();
  // A callee that appended records or reset the list moved the points'
  // place: they are lost, and so is the curve.
  if (!s || !double_to_count(state[kMostPoints], most_points(list), &most) || most != most_points(list) ||
      !double_to_count(state[kPointCount], most - 1, &m)) {
    stk_drop(ctx);
    return kBadContext;
  }
  double* xs = list.data + *list.used + kPointsAt;
  double* ys = xs + most;
  const double x = state[kCurrentX];
  const bool judged = m >= 2;  // two points give the slope to extrapolate
  double e = 0;
  if (judged) {
    const double slope = (ys[m - 1] - ys[m - 2]) / (xs[m - 1] - xs[m - 2]);
    const double miss = std::fabs(ys[m - 1] + slope * (x - xs[m - 1]) - y);
    subplot_data_to_pixel_extent(s, nullptr, &miss, nullptr, 1, nullptr, &e);
    e = std::fabs(e);
  }
  // At the smallest step the value is taken whatever its error.
  if (judged && e >= kHalveAbove && state[kStep] > state[kSmallestStep]) {
    state[kStep] = std::max(state[kStep] / 2, state[kSmallestStep]);
    return call_at(ctx, nargin, state, next_x(state, xs[m - 1]));
  }
  xs[m] = x;
  ys[m] = y;
  state[kPointCount] = ++m;
  if (x >= state[kUpperEnd] || m >= most) {
    stk_drop(ctx);
    *finished = true;
    return finish_curve(ctx, nargin, s, list, ids_allowed, m, most);
  }
  if (judged && e < kDoubleBelow && state[kStep] < state[kLargestStep])
    state[kStep] = std::min(state[kStep] * 2, state[kLargestStep]);
  return call_at(ctx, nargin, state, next_x(state, x));
}

}  // namespace

int plot_cmd_fplot(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed,
                   uint8_t* not_calling) {
  bool finished = false;
  int status;
  const int results = builtin_resumed(nargin);
  if (results < 0) {
    status = s ? fplot_start(ctx, nargin, s, list, &finished) : int(kBadContext);
  } else {
    // The value first: on any failure the results and the state go, the
    // arguments stay for the error to unwind.
    double y = 0;
    status = results < 1 ? int(kWrongType) : stk_get_real_scalar(ctx, 0, &y);
    stk_remove(ctx, 0, results);
    if (status != kOk)
      stk_drop(ctx);
    else
      status = fplot_value(ctx, s, list, y, ids_allowed, &finished);
  }
  if (not_calling) *not_calling = status == kOk && !finished ? 0 : 1;
  return status;
}
