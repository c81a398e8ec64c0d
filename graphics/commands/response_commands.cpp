// Bodies of the response plot commands. Arguments are classified first, the
// options read (they push and drop on the stack, so before any scratch is
// laid out), then each row or model is checked for room as a whole (system
// record, curves and scratch) before anything is written: a failure leaves
// the list as it was for that row, earlier rows stay.
#include "graphics/commands/response_commands.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/freq_response.h"
#include "graphics/commands/nyquist_response.h"
#include "graphics/commands/root_locus.h"
#include "graphics/commands/time_response.h"
#include "graphics/subplot/autoscale.h"
#include "numlib/control/conversions.h"
#include "numlib/control/response_kernels.h"
#include "numlib/control/tf_eval.h"
#include "numlib/polyroots.h"

const OptionDesc kResponseOptions[] = {
    opt_row("Delay", kOptReal),
    opt_row("NegFreq", kOptLogical),
    opt_row("Range", kOptEmpty, 0, 0, 0, 0, kOptionHidden),
    opt_row("tOnly", kOptLogical, 0, 0, 0, 0, kOptionHidden),
    opt_end_row(),
};

//                                 TF  SS  kind           properness        1in  disc   Ts     range  opts  id
const ResponseCommand kCmdBodemag{19, 27, kRespMagnitude, kAnyDegree, true, false, false, true, true, true};
const ResponseCommand kCmdBodephase{20, 28, kRespPhase, kAnyDegree, true, false, false, true, true, true};
const ResponseCommand kCmdSigma{-1, 31, kRespSigma, kAnyDegree, false, false, false, true, true, true};
const ResponseCommand kCmdDbodemag{23, 29, kRespMagnitude, kAnyDegree, true, true, true, true, true, true};
const ResponseCommand kCmdDbodephase{24, 30, kRespPhase, kAnyDegree, true, true, true, true, true, true};
const ResponseCommand kCmdDsigma{-1, 32, kRespSigma, kAnyDegree, false, true, true, true, true, true};
const ResponseCommand kCmdStep{34, 38, kRespStep, kProper, true, false, false, false, true, true};
const ResponseCommand kCmdDstep{36, 40, kRespStep, kProper, true, true, true, false, true, true};
const ResponseCommand kCmdImpulse{33, 37, kRespImpulse, kStrictlyProper, true, false, false, false, true, true};
const ResponseCommand kCmdDimpulse{35, 39, kRespImpulse, kProper, true, true, true, false, true, true};
const ResponseCommand kCmdNyquist{21, -1, kRespNyquist, kAnyDegree, true, false, false, true, true, true};
const ResponseCommand kCmdDnyquist{25, -1, kRespNyquist, kAnyDegree, true, true, false, true, true, true};
const ResponseCommand kCmdNichols{22, -1, kRespNichols, kAnyDegree, true, false, false, true, true, true};
const ResponseCommand kCmdDnichols{26, -1, kRespNichols, kAnyDegree, true, true, false, true, true, true};
const ResponseCommand kCmdRlocus{45, -1, kRespLocus, kAnyDegree, true, false, false, false, false, true};
const ResponseCommand kCmdInitial{-1, 41, kRespInitial, kAnyDegree, false, false, false, false, true, true};
const ResponseCommand kCmdDinitial{-1, 42, kRespInitial, kAnyDegree, false, true, true, false, true, true};

namespace {

constexpr char kDelayWarning[] = "Delay option is ignored for discrete-time responses.";
constexpr int32_t kFreqPoints = 200;
constexpr double kPi = 3.14159265358979323846;
constexpr double kLogLowShare = 1e-4;        // a log axis's low end from its high one
constexpr double kDiscreteLogDecades = 1000; // pi / (1000 Ts) .. pi / Ts on a log axis
constexpr int64_t kPushSlack = 16;           // words a pushed matrix may take beyond its data
constexpr uint32_t kStairMask = 0xf800, kStairBits = 0x800;
constexpr uint32_t kSystemRecordBits = 8;
constexpr int kNotColumnVector = 23;  // "Not a column vector"

// --- Options ---------------------------------------------------------------

}  // namespace

int response_options_parse(EngineContext* ctx, int depth, bool discrete, double* delay,
                           uint8_t* negfreq, uint8_t* tonly, double* range) {
  if (delay) *delay = 0;
  if (negfreq) *negfreq = 0;
  if (tonly) *tonly = 0;
  if (range) range[0] = range[1] = 0;
  if (depth < 0) return kOk;
  double d = 0;
  TN_TRY(opt_get_number(ctx, depth, "Delay", kResponseOptions, 0, &d));
  if (discrete && d != 0) {
    TN_TRY(io_write(ctx, 2, kDelayWarning, -1));
    TN_TRY(io_newline(ctx, 2));
  }
  if (delay) *delay = d;
  if (negfreq) TN_TRY(opt_get_bool(ctx, depth, "NegFreq", kResponseOptions, 0, negfreq));
  if (tonly) TN_TRY(opt_get_bool(ctx, depth, "tOnly", kResponseOptions, 0, tonly));
  if (!range) return kOk;
  const int status = opt_read_struct(ctx, depth, "Range", kResponseOptions);
  if (status == kUndefinedField) return kOk;
  TN_TRY(status);
  int64_t count = 0;
  double* re = nullptr;
  int s = stk_get_double_array(ctx, 0, nullptr, nullptr, &count, &re, nullptr);
  if (s == kOk && count == 2) range[0] = re[0], range[1] = re[1];
  else if (s == kOk && count != 0) s = kBadSize;
  stk_drop(ctx);
  return s;
}

namespace {

// --- Arguments -------------------------------------------------------------

struct Args {
  bool ss = false;
  double ts = 1.0;
  MatArg range_vec;
  int opts_depth = -1;  // depth at the time the options are read
  StyleArg style;
  double id = kNoId;
};

bool char_or_struct(EngineContext* ctx, int nargin, int arg) {
  const int depth = nargin - 1 - arg;
  return stk_is_char(ctx, depth) || stk_is_struct(ctx, depth);
}

int classify(EngineContext* ctx, int nargin, const ResponseCommand& cmd, Args* a) {
  const int ts_n = cmd.ts_arg ? 1 : 0;
  a->ss = nargin >= 4 + ts_n && !char_or_struct(ctx, nargin, 2) && !char_or_struct(ctx, nargin, 3);
  int pos = a->ss ? 4 : 2;
  if (nargin < pos + ts_n) return kBadArgument;
  if (cmd.ts_arg) {
    if (stk_get_real_scalar(ctx, nargin - 1 - pos, &a->ts) != kOk) return kBadArgument;
    if (!(a->ts > 0) || !std::isfinite(a->ts)) return kBadArgument;
    ++pos;
  }
  if (cmd.range_arg && pos < nargin && !char_or_struct(ctx, nargin, pos))
    TN_TRY(arg_real_matrix(ctx, nargin, pos++, &a->range_vec));
  if (pos < nargin && stk_is_struct(ctx, nargin - 1 - pos)) {
    if (!cmd.options_arg) return kBadArgument;
    a->opts_depth = nargin - 1 - pos++;
  }
  if (pos < nargin && stk_is_char(ctx, nargin - 1 - pos)) TN_TRY(arg_style(ctx, nargin, pos++, &a->style));
  if (pos < nargin) {
    if (!cmd.id_arg) return kBadArgument;
    TN_TRY(arg_scalar_id(ctx, nargin, pos++, &a->id));
  }
  if (pos != nargin) return kBadArgument;
  if ((a->ss ? cmd.ss_code : cmd.tf_code) < 0) return kBadArgument;
  return kOk;
}

// --- Where results go --------------------------------------------------------

// Drawing: the list, with scratch beyond the records. Outputs: the upper
// half of the engine's free space, the lower half kept for the pushes.
struct Target {
  bool drawing;
  Subplot* s;
  CommandList list;
  double* half = nullptr;  // outputs: scratch base
  int64_t half_words = 0;
  int64_t push_words = 0;  // outputs: words the lower half holds
};

int output_target(EngineContext* ctx, Target* t) {
  void* free_ptr = nullptr;
  int64_t bytes = 0;
  TN_TRY(stk_free_space(ctx, &bytes, &free_ptr));
  const int64_t words = bytes / 8;
  t->push_words = words / 2;
  t->half = static_cast<double*>(free_ptr) + t->push_words;
  t->half_words = words - t->push_words;
  return kOk;
}

// Pushes the results of a curve set and removes the nargin arguments
// beneath them: the values y (count x curves, given curve-major) are the
// first output, so they go on top, pushed last; with two outputs x (count x
// 1, the frequencies or times) is the second, pushed first. One and two
// outputs thus agree on the first.
int push_results(EngineContext* ctx, const Target& t, int nargin, int nargout, const double* x,
                 const double* y, int64_t count, int32_t curves) {
  const int nout = nargout >= 2 ? 2 : 1;
  const int64_t words = count * curves + kPushSlack + (nout == 2 ? count + kPushSlack : 0);
  if (words > t.push_words || count > INT32_MAX) return kDataStackOverflow;
  const int32_t desc0 = ctx->desc_top, data0 = ctx->data_top;
  double* p = nullptr;
  int s = kOk;
  if (nout == 2) {
    s = stk_push_matrix(ctx, int32_t(count), 1, &p, nullptr);
    if (s == kOk && count) std::memcpy(p, x, size_t(count) * sizeof(double));
  }
  if (s == kOk) s = stk_push_matrix(ctx, int32_t(count), curves, &p, nullptr);
  if (s == kOk) {
    for (int64_t k = 0; k < count; ++k)
      for (int32_t j = 0; j < curves; ++j) p[k * curves + j] = y[j * count + k];
  }
  if (s != kOk) {
    ctx->desc_top = desc0;
    ctx->data_top = data0;
    return s;
  }
  return stk_remove(ctx, nout, nargin);
}

// Empty results for a system with nothing to compute, one per output.
int push_empty_results(EngineContext* ctx, int nargin, int nargout) {
  const int nout = nargout >= 1 ? nargout : 1;
  for (int k = 0; k < nout; ++k) {
    const int s = stk_push_empty(ctx);
    if (s != kOk) {
      for (int j = 0; j < k; ++j) stk_drop(ctx);
      return s;
    }
  }
  return stk_remove(ctx, nout, nargin);
}

// --- The system ----------------------------------------------------------------

struct System {
  bool ss = false;
  // Transfer function (after leading zeros).
  const double* num = nullptr;
  const double* den = nullptr;
  int32_t dn = 0, dd = 0;
  // State space, copies with empty B or C made zeros.
  SsModel m{};
};

int32_t skip_leading(const double* p, int32_t len, const double** start) {
  int32_t k = 0;
  while (k < len - 1 && p[k] == 0.0) ++k;
  *start = p + k;
  return len - 1 - k;
}

// Doubles of the system record's data.
int64_t system_record_data(const ResponseCommand& cmd, const System& sys) {
  const int64_t ts = cmd.ts_arg ? 1 : 0;
  if (!sys.ss) return ts + 2 + sys.dn + 1 + sys.dd + 1;
  const SsModel& m = sys.m;
  if (cmd.kind == kRespInitial) return ts + 2 + int64_t(m.n) * m.n + int64_t(m.p) * m.n + m.n;
  return ts + 2 + (cmd.kind == kRespSigma ? 1 : 0) + int64_t(m.n) * m.n + int64_t(m.n) * m.m +
         int64_t(m.p) * m.n + int64_t(m.p) * m.m;
}

void put_block(PlotWriter* w, const double* p, int64_t count) {
  for (int64_t k = 0; k < count; ++k) plotwriter_put(w, p[k]);
}

int write_system_record(PlotWriter* w, const ResponseCommand& cmd, const System& sys, double ts,
                        double id, double index, const StyleSpec& style) {
  const int32_t n = int32_t(system_record_data(cmd, sys));
  if (!sys.ss) {
    TN_TRY(plotwriter_begin_record(w, cmd.tf_code, id, index, &style, n));
    if (cmd.ts_arg) plotwriter_put(w, ts);
    plotwriter_put(w, sys.dn);
    plotwriter_put(w, sys.dd);
    put_block(w, sys.num, sys.dn + 1);
    put_block(w, sys.den, sys.dd + 1);
    return kOk;
  }
  const SsModel& m = sys.m;
  const StyleSpec plain{kSystemRecordBits, 0, 0, 0, 0};
  TN_TRY(plotwriter_begin_record(w, cmd.ss_code, id, 1, &plain, n));
  if (cmd.ts_arg) plotwriter_put(w, ts);
  plotwriter_put(w, m.n);
  plotwriter_put(w, m.p);
  if (cmd.kind == kRespInitial) {
    // {Ts,} n, p, A, C, x0: the state is what B holds for the computation.
    put_block(w, m.a, int64_t(m.n) * m.n);
    put_block(w, m.c, int64_t(m.p) * m.n);
    put_block(w, m.b, m.n);
    return kOk;
  }
  if (cmd.kind == kRespSigma) plotwriter_put(w, m.m);
  put_block(w, m.a, int64_t(m.n) * m.n);
  put_block(w, m.b, int64_t(m.n) * m.m);
  put_block(w, m.c, int64_t(m.p) * m.n);
  put_block(w, m.d, int64_t(m.p) * m.m);
  return kOk;
}

// Scratch for one system: a region and its size, behind `reserved` doubles
// of records (drawing) or at the half (outputs).
// Running out is the list's overflow when drawing, the data stack's when
// computing for outputs (the free space is the stack's).
struct Scratch {
  double* base;
  int64_t room;
  int full;
};
Scratch scratch_after(const Target& t, int64_t reserved) {
  if (!t.drawing) return {t.half, t.half_words, kDataStackOverflow};
  const int64_t open = *t.list.used == 0 ? kOpenObjectLength : 0;
  const int64_t at = *t.list.used + open + reserved;
  return {t.list.data + at, int64_t(t.list.capacity) - at, kPlotOverflow};
}

// --- Ranges ----------------------------------------------------------------------

bool axis_fixed(const Subplot* s) { return s && (s->xMode == kAxisFixed || s->xMode == kAxisLocked); }
bool log_x(const Subplot* s) { return s && (s->scaleFlags & kScaleLogX); }

// The frequency range; scratch for the pole magnitudes at `work` (room checked).
int frequency_range(const System& sys, const ResponseCommand& cmd, const double* range, double ts,
                    const Subplot* s, const Scratch& sc, double* lo, double* hi) {
  double* work = sc.base;
  const int64_t work_room = sc.room;
  const bool lg = log_x(s);
  if (std::isfinite(range[0]) && std::isfinite(range[1]) && range[1] > range[0]) {
    *lo = range[0], *hi = range[1];
  } else if (axis_fixed(s)) {
    subplot_visible_xrange(s, lo, hi);
    if (!std::isfinite(*lo) || !std::isfinite(*hi) || !(*hi > *lo)) *lo = 0, *hi = 10;
    if (*lo < 0 && 0 < *hi && -10 * *lo < *hi) *lo = 0;
  } else if (!cmd.discrete) {
    if (sys.ss) {
      if (matrix_eig_magnitude_range_work(sys.m.n) > work_room) return sc.full;
      matrix_eig_magnitude_range(sys.m.a, sys.m.n, lg, work, lo, hi);
    } else {
      if (poly_root_magnitude_range_work(sys.dd) > work_room) return sc.full;
      poly_root_magnitude_range(sys.den, sys.dd, lg, work, lo, hi);
    }
    return kOk;
  } else {
    *hi = kPi / ts;
    *lo = lg ? kPi / (kDiscreteLogDecades * ts) : 0;
    return kOk;
  }
  if (lg && *lo <= 0) *lo = *hi * kLogLowShare;
  return kOk;
}

int time_range(const System& sys, const ResponseCommand& cmd, const double* range, double ts,
               const Subplot* s, const Scratch& sc, double* t0, double* tf) {
  double* work = sc.base;
  const int64_t work_room = sc.room;
  if (std::isfinite(range[0]) && std::isfinite(range[1]) && range[1] > range[0]) {
    *t0 = range[0], *tf = range[1];
    return kOk;
  }
  if (axis_fixed(s)) {
    subplot_visible_xrange(s, t0, tf);
    if (std::isfinite(*t0) && std::isfinite(*tf) && *tf > *t0) return kOk;
  }
  *t0 = 0;
  if (sys.ss) {
    if (matrix_eig_frequency_scale_work(sys.m.n) > work_room) return sc.full;
    if (cmd.discrete) matrix_eig_frequency_scale_alt(sys.m.a, sys.m.n, ts, work, tf);
    else matrix_eig_frequency_scale(sys.m.a, sys.m.n, work, tf);
  } else {
    if (poly_roots_frequency_scale_work(sys.dd) > work_room) return sc.full;
    if (cmd.discrete) poly_roots_frequency_scale_alt(sys.den, sys.dd, ts, work, tf);
    else poly_roots_frequency_scale(sys.den, sys.dd, work, tf);
  }
  // An automatic range never asks for more samples than a discrete response
  // may have: a slow pole with a short sample time would otherwise fail.
  if (cmd.discrete) *tf = std::min(*tf, (kMaxDiscreteSamples - 1) * ts);
  return kOk;
}

// --- One computation -------------------------------------------------------------

struct Call {
  EngineContext* ctx;
  int nargin, nargout;
  const ResponseCommand* cmd;
  const Args* args;
  Target* target;
  double delay;
  double range[2];
  uint8_t negfreq;
};

// Writes one curve record {1, id, index, bits, rgb, 2c + 1, c, x, y} and widens the auto-scale.
void put_curve(PlotWriter* w, Subplot* s, const double* x, const double* y, int64_t count,
               double id, double index, const StyleSpec& style) {
  plotwriter_begin_record(w, kCodePolyline, id, index, &style, int32_t(2 * count + 1));
  const int32_t at = w->used;
  plotwriter_put(w, double(count));
  put_block(w, x, count);
  put_block(w, y, count);
  subplot_autoscale_to_data(s, w->data + at + 1, w->data + at + 1 + count, nullptr, int32_t(count));
}

int32_t curve_count(const Call& c, const System& sys) {
  if (!sys.ss) return 1;
  return c.cmd->kind == kRespSigma ? sys.m.m : sys.m.p;
}

// Lays out x (count), y (curves x count) and the work behind them in the
// scratch; kPlotOverflow when they do not fit.
int take(Scratch* sc, int64_t n, double** out) {
  if (n > sc->room) return sc->full;
  *out = sc->base;
  sc->base += n;
  sc->room -= n;
  return kOk;
}

// The same from the top end of the scratch.
int take_top(Scratch* sc, int64_t n, double** out) {
  if (n > sc->room) return sc->full;
  sc->room -= n;
  *out = sc->base + sc->room;
  return kOk;
}

// The frequency curves of one system at index `index`: x, y computed in
// scratch, then drawn or pushed.
int run_frequency(const Call& c, const System& sys, double index, const StyleSpec& first_style) {
  const ResponseCommand& cmd = *c.cmd;
  const Args& a = *c.args;
  Target& t = *c.target;
  const int32_t curves = curve_count(c, sys);
  const int64_t count = a.range_vec.given ? int64_t(a.range_vec.rows) * a.range_vec.cols : kFreqPoints;
  const int64_t sysrec = kRecHead + system_record_data(cmd, sys);
  const int64_t records = t.drawing ? sysrec + curves * (2 * count + kRecHead + 1) : 0;
  if (t.drawing && records > int64_t(t.list.capacity)) return kPlotOverflow;
  Scratch sc = scratch_after(t, records);
  if (sc.room < 0) return sc.full;
  double *x, *y;
  TN_TRY(take(&sc, count, &x));
  TN_TRY(take(&sc, count * curves, &y));
  if (a.range_vec.given) {
    std::memcpy(x, a.range_vec.re, size_t(count) * sizeof(double));
  } else {
    double lo, hi;
    TN_TRY(frequency_range(sys, cmd, c.range, a.ts, t.s, sc, &lo, &hi));
    freqresp_grid(lo, hi, int32_t(count), log_x(t.s), x);
  }
  const char mode = char(cmd.kind);
  if (!sys.ss) {
    freqresp_tf_curve(sys.num, sys.dn, sys.den, sys.dd, cmd.discrete, a.ts, mode, c.delay, x,
                      int32_t(count), y);
  } else {
    // Balanced copies: A, B, C and the scaling, then the evaluation's work.
    SsModel m = sys.m;
    double *ab, *bb, *cb, *scale, *work;
    TN_TRY(take(&sc, int64_t(m.n) * m.n, &ab));
    TN_TRY(take(&sc, int64_t(m.n) * m.m, &bb));
    TN_TRY(take(&sc, int64_t(m.p) * m.n, &cb));
    TN_TRY(take(&sc, m.n, &scale));
    TN_TRY(take(&sc, freqresp_ss_work(m), &work));
    // A model without states has no A, B or C to copy (their data may be
    // no memory at all): std::copy_n reads nothing for a count of 0.
    std::copy_n(m.a, int64_t(m.n) * m.n, ab);
    std::copy_n(m.b, int64_t(m.n) * m.m, bb);
    std::copy_n(m.c, int64_t(m.p) * m.n, cb);
    ss_balance_model(ab, bb, cb, m.n, m.m, m.p, scale);
    m.a = ab, m.b = bb, m.c = cb;
    freqresp_ss_curves(m, cmd.discrete, a.ts, mode, c.delay, x, int32_t(count), y, work);
  }
  if (!t.drawing) return push_results(c.ctx, t, c.nargin, c.nargout, x, y, count, curves);
  command_open(t.list, t.s);
  PlotWriter w = command_writer(t.list);
  TN_TRY(write_system_record(&w, cmd, sys, a.ts, a.id, index, first_style));
  for (int32_t j = 0; j < curves; ++j) {
    StyleSpec st = first_style;
    if (sys.ss) TN_TRY(style_of(a.style, j, kDefaultCurveBits, nullptr, &st));
    put_curve(&w, t.s, x, y + j * count, count, a.id, sys.ss ? j + 1 : index, st);
  }
  *t.list.used = w.used;
  return kOk;
}

bool staircase(const StyleSpec& st) { return (st.bits & kStairMask) == kStairBits; }

// How a drawn discrete curve is shaped by its style: a staircase holds each
// sample twice, a line each sample once, markers the samples only. When the
// range starts at or before 0 (and reaches sample 0), a staircase or line
// begins with zero points instead of the samples before 0: a staircase at
// t0 and 0, a line at t0 and, when t0 < -Ts, at -Ts (the rise to the first
// sample is then one Ts wide, as between samples).
struct DiscreteShape {
  bool stairs = false;
  int32_t lead = 0;   // zero points before the samples
  int64_t skip = 0;   // samples before 0 that the zero points replace
  double lead_t[2] = {0, 0};
};

DiscreteShape discrete_shape(const StyleSpec& st, double t0, double ts, int64_t k0, int64_t count) {
  DiscreteShape sh;
  sh.stairs = staircase(st);
  const bool markers = (st.bits & kStyleBitsKind) >= kStyleKindInvisible;
  if (markers || !(t0 <= 0) || k0 + count - 1 < 0) return sh;
  sh.skip = k0 < 0 ? -k0 : 0;
  sh.lead_t[sh.lead++] = t0;
  if (sh.stairs) sh.lead_t[sh.lead++] = 0;
  else if (t0 < -ts) sh.lead_t[sh.lead++] = -ts;
  return sh;
}

int64_t shape_points(const DiscreteShape& sh, int64_t count) {
  return sh.lead + (count - sh.skip) * (sh.stairs ? 2 : 1);
}

// One discrete curve record in its shape, the auto-scale widened by it.
void put_discrete_curve(PlotWriter* w, Subplot* s, const DiscreteShape& sh, const double* x, const double* y,
                        int64_t count, double ts, double id, double index, const StyleSpec& style) {
  const int64_t points = shape_points(sh, count);
  plotwriter_begin_record(w, kCodePolyline, id, index, &style, int32_t(2 * points + 1));
  const int32_t at = w->used;
  plotwriter_put(w, double(points));
  for (int32_t i = 0; i < sh.lead; ++i) plotwriter_put(w, sh.lead_t[i]);
  for (int64_t k = sh.skip; k < count; ++k) {
    plotwriter_put(w, x[k]);
    if (sh.stairs) plotwriter_put(w, x[k] + ts);
  }
  for (int32_t i = 0; i < sh.lead; ++i) plotwriter_put(w, 0.0);
  for (int64_t k = sh.skip; k < count; ++k) {
    plotwriter_put(w, y[k]);
    if (sh.stairs) plotwriter_put(w, y[k]);
  }
  subplot_autoscale_to_data(s, w->data + at + 1, w->data + at + 1 + points, nullptr, int32_t(points));
}

// The step or impulse curves of one system.
int run_time(const Call& c, const System& sys, double index, const StyleSpec& first_style) {
  const ResponseCommand& cmd = *c.cmd;
  const Args& a = *c.args;
  Target& t = *c.target;
  const int32_t curves = curve_count(c, sys);
  const TimeDrive drive = cmd.kind == kRespImpulse ? kDriveImpulse
                          : cmd.kind == kRespInitial ? kDriveInitial
                                                     : kDriveStep;
  const double* x0 = cmd.kind == kRespInitial ? sys.m.b : nullptr;  // the state rides in B
  // The range needs scratch before the record sizes are known: it uses the
  // room behind the largest record set, which is what the computation needs.
  Scratch probe = scratch_after(t, 0);
  double t0, tf;
  TN_TRY(time_range(sys, cmd, c.range, a.ts, t.s, probe, &t0, &tf));
  int64_t count = 0, k0 = 0;
  if (cmd.discrete) TN_TRY(timeresp_discrete_samples(t0, tf, a.ts, &k0, &count));
  else {
    const ContinuousGrid g = timeresp_continuous_grid(t0 - c.delay, tf - c.delay);
    if (g.too_many) return kTooManySamples;
    count = g.points;
  }
  // The drawn records: a discrete curve's length depends on its style.
  auto curve_style = [&](int32_t j, StyleSpec* st) -> int {
    *st = first_style;
    if (sys.ss) return style_of(a.style, j, kDefaultCurveBits, nullptr, st);
    return kOk;
  };
  int64_t records = 0;
  if (t.drawing) {
    records = kRecHead + system_record_data(cmd, sys);
    for (int32_t j = 0; j < curves; ++j) {
      StyleSpec st;
      TN_TRY(curve_style(j, &st));
      const int64_t points = cmd.discrete ? shape_points(discrete_shape(st, t0, a.ts, k0, count), count) : count;
      records += 2 * points + kRecHead + 1;
    }
    if (records > int64_t(t.list.capacity)) return kPlotOverflow;
  }
  Scratch sc = scratch_after(t, records);
  if (sc.room < 0) return sc.full;
  double *x, *y, *work;
  TN_TRY(take(&sc, count, &x));
  TN_TRY(take(&sc, count * curves, &y));
  if (!cmd.discrete) {
    if (!sys.ss) {
      TN_TRY(take(&sc, timeresp_tf_continuous_work(sys.dn, sys.dd), &work));
      TN_TRY(timeresp_tf_continuous(sys.num, sys.dn, sys.den, sys.dd, t0, tf, c.delay, drive, x, y, work));
    } else {
      TN_TRY(take(&sc, timeresp_ss_continuous_work(sys.m), &work));
      TN_TRY(timeresp_ss_continuous(sys.m, t0, tf, c.delay, drive, x0, x, y, work));
    }
  } else {
    for (int64_t k = 0; k < count; ++k) x[k] = double(k0 + k) * a.ts;
    if (!sys.ss) {
      TN_TRY(take(&sc, timeresp_tf_discrete_work(sys.dn, sys.dd), &work));
      timeresp_tf_discrete(sys.num, sys.dn, sys.den, sys.dd, k0, count, drive, y, work);
    } else {
      TN_TRY(take(&sc, timeresp_ss_discrete_work(sys.m), &work));
      timeresp_ss_discrete(sys.m, k0, count, drive, x0, y, work);
    }
  }
  // Values are the samples themselves; the shaping is the drawing's.
  if (!t.drawing) return push_results(c.ctx, t, c.nargin, c.nargout, x, y, count, curves);
  command_open(t.list, t.s);
  PlotWriter w = command_writer(t.list);
  TN_TRY(write_system_record(&w, cmd, sys, a.ts, a.id, index, first_style));
  for (int32_t j = 0; j < curves; ++j) {
    StyleSpec st;
    TN_TRY(curve_style(j, &st));
    const double idx = sys.ss ? j + 1 : index;
    if (!cmd.discrete)
      put_curve(&w, t.s, x, y + j * count, count, a.id, idx, st);
    else
      put_discrete_curve(&w, t.s, discrete_shape(st, t0, a.ts, k0, count), x, y + j * count, count, a.ts, a.id,
                         idx, st);
  }
  *t.list.used = w.used;
  return kOk;
}

// Pushes k column vectors of count values, given in output order (the
// first output on top, pushed last), and removes the arguments beneath them.
int push_columns(EngineContext* ctx, const Target& t, int nargin, const double* const* cols, int k,
                 int64_t count) {
  if (k * (count + kPushSlack) > t.push_words || count > INT32_MAX) return kDataStackOverflow;
  const int32_t desc0 = ctx->desc_top, data0 = ctx->data_top;
  for (int j = k - 1; j >= 0; --j) {
    double* p = nullptr;
    const int s = stk_push_matrix(ctx, int32_t(count), 1, &p, nullptr);
    if (s != kOk) {
      ctx->desc_top = desc0;
      ctx->data_top = data0;
      return s;
    }
    if (count) std::memcpy(p, cols[j], size_t(count) * sizeof(double));
  }
  return stk_remove(ctx, k, nargin);
}

constexpr double kNyquistWindow = 50;
constexpr double kNyquistTolerance = 0.05;
constexpr double kNyquistFixedTolerance = 0.002;
constexpr int64_t kNyquistPointsPerDegree = 800;
constexpr double kNyquistScale = 5;
constexpr double kNicholsWindow = 1e18;
constexpr double kNicholsPixels = 2;
constexpr int32_t kNicholsPointsPerDegree = 100;
constexpr double kNicholsShare = 0.005;  // of the curve's extent on an automatic axis: about 2 pixels
// Marks of the poles and zeros a sweep may step on, per degree; the rest of
// the budget is the bisections'.
constexpr int32_t kNyquistMarksPerDegree = 100, kNicholsMarksPerDegree = 30;
// Bisection levels below a Nyquist step: a delay's spiral at a high
// frequency turns many times within the finest mark.
constexpr int kNyquistDepth = 24;
constexpr double kBoundaryTolerance = 1e-9;

// A pole on the stability boundary at zero frequency: continuous, a zero
// constant coefficient; discrete, coefficients summing to (almost) zero.
bool pole_at_zero_frequency(const ResponseCommand& cmd, const System& sys) {
  if (!cmd.discrete) return sys.den[sys.dd] == 0;
  double dc = 0;
  for (int32_t k = 0; k <= sys.dd; ++k) dc += sys.den[k];
  return std::fabs(dc) < kBoundaryTolerance;
}

// The roots of p (degree d, leading zeros allowed) into re, im; their count.
int32_t roots_into(Scratch* sc, const double* p, int32_t d, double* re, double* im, int32_t* count) {
  int32_t lead = 0;
  while (lead < d && p[lead] == 0) ++lead;
  const int32_t n = d - lead;
  *count = 0;
  if (n <= 0) return kOk;
  double *copy = nullptr, *work = nullptr;
  TN_TRY(take_top(sc, n + 1, &copy));
  TN_TRY(take_top(sc, roots_real_work(n), &work));
  std::memcpy(copy, p + lead, size_t(n + 1) * sizeof(double));
  roots_real_coeffs(copy, n, re, im, work);
  *count = n;
  return kOk;
}

// The marks and breaks of a sweep from the system's poles and zeros (in s
// or z as the system is given), at the top of the scratch.
int sweep_marks(Scratch* sc, const System& sys, bool nichols, NyquistSweep* sw) {
  double *pre, *pim, *zre, *zim, *room;
  TN_TRY(take_top(sc, int64_t(sys.dd) + 1, &pre));
  TN_TRY(take_top(sc, int64_t(sys.dd) + 1, &pim));
  TN_TRY(take_top(sc, int64_t(sys.dn) + 1, &zre));
  TN_TRY(take_top(sc, int64_t(sys.dn) + 1, &zim));
  TN_TRY(take_top(sc, nyquist_marks_room(sys.dd + sys.dn), &room));
  // The root finders' scratch is given back once the marks are made.
  const Scratch keep = *sc;
  int32_t np = 0, nz = 0;
  TN_TRY(roots_into(sc, sys.den, sys.dd, pre, pim, &np));
  TN_TRY(roots_into(sc, sys.num, sys.dn, zre, zim, &nz));
  *sc = keep;
  const int32_t deg = std::max({sys.dd, sys.dn, 1});
  const int32_t most = (nichols ? kNicholsMarksPerDegree : kNyquistMarksPerDegree) * deg;
  nyquist_sweep_marks(sw, pre, pim, np, zre, zim, nz, most, room);
  return kOk;
}

// A Nyquist curve: record 2 {m, re, im [, w]} sampled adaptively (or at the
// explicit frequencies); the frequency block is left out for two outputs.
int run_nyquist(const Call& c, const System& sys, double index, const StyleSpec& style) {
  const Args& a = *c.args;
  Target& t = *c.target;
  const bool nichols = c.cmd->kind == kRespNichols;
  double previous = -kPi / 2;
  const bool with_freq = c.nargout != 2;
  const int64_t planes = with_freq ? 3 : 2;
  const int64_t sysrec = kRecHead + system_record_data(*c.cmd, sys);
  Scratch sc = scratch_after(t, t.drawing ? sysrec + kRecHead : 0);
  if (sc.room < 0) return sc.full;
  double* data = nullptr;
  int32_t length = 0;
  if (a.range_vec.given) {
    const int64_t m = int64_t(a.range_vec.rows) * a.range_vec.cols;
    TN_TRY(take(&sc, planes * m + 1, &data));
    data[0] = double(m);
    for (int64_t k = 0; k < m; ++k) {
      const double w = a.range_vec.re[k];
      double sr = 0, si = w;
      if (c.cmd->discrete) sr = std::cos(w * a.ts), si = std::sin(w * a.ts);
      double hr, hi;
      tf_eval_at_complex(sys.num, sys.dn, sys.den, sys.dd, sr, si, &hr, &hi);
      if (nichols) {
        // Phase (unwrapped as the Bode phase is) and magnitude.
        const double mag = std::sqrt(hr * hr + hi * hi);
        double ph = std::atan2(hi, hr);
        if (!c.cmd->discrete) ph -= w * c.delay;
        if (!std::isnan(ph)) ph = freqresp_unwrap(ph, previous), previous = ph;
        hr = ph, hi = mag;
      } else if (!c.cmd->discrete) {
        nyquist_delay_rotate(c.delay, w, &hr, &hi);
      }
      data[1 + k] = hr, data[1 + m + k] = hi;
      if (with_freq) data[1 + 2 * m + k] = w;
    }
    length = int32_t(planes * m + 1);
  } else {
    const int32_t deg = std::max(sys.dn, sys.dd);
    NyquistSweep sw{};
    sw.continuous = !c.cmd->discrete;
    sw.negfreq = c.negfreq != 0;
    sw.delay = c.delay;
    const double lo = c.range[1] > c.range[0] ? c.range[0] : 0;
    if (sw.continuous) {
      // s = (z - 1) / (z + 1) over the larger degree, the shorter side padded.
      // The mapped system lies at the top of the scratch, so that the curve
      // can take whatever room is left below it.
      double *pn, *pd, *zn, *zd, *work;
      TN_TRY(take_top(&sc, deg + 1, &pn));
      TN_TRY(take_top(&sc, deg + 1, &pd));
      TN_TRY(take_top(&sc, deg + 1, &zn));
      TN_TRY(take_top(&sc, deg + 1, &zd));
      TN_TRY(take_top(&sc, 2 * int64_t(deg + 1) * (deg + 1), &work));
      std::fill(pn, pn + deg + 1, 0.0);
      std::fill(pd, pd + deg + 1, 0.0);
      std::memcpy(pn + deg - sys.dn, sys.num, size_t(sys.dn + 1) * sizeof(double));
      std::memcpy(pd + deg - sys.dd, sys.den, size_t(sys.dd + 1) * sizeof(double));
      if (deg > 0) {
        ctrl_bilinear_subst(pn, deg, pd, deg, 1, -1, 1, 1, false, zn, zd, work);
      } else {
        zn[0] = pn[0], zd[0] = pd[0];
      }
      sw.num = zn, sw.m = deg, sw.den = zd, sw.n = deg;
      sw.theta0 = 2 * std::atan(lo);
      sw.theta1 = c.range[1] > c.range[0] ? 2 * std::atan(c.range[1]) : kPi;
    } else {
      sw.num = sys.num, sw.m = sys.dn, sw.den = sys.den, sw.n = sys.dd;
      sw.theta0 = lo;
      sw.theta1 = c.range[1] > c.range[0] ? c.range[1] : kPi;
    }
    if (!std::isfinite(sw.theta0) || !std::isfinite(sw.theta1)) return kBadArgument;
    if (sw.continuous) sw.snum = sys.num, sw.sm = sys.dn, sw.sden = sys.den, sw.sn = sys.dd;
    // A drawn Nichols curve takes the room left, and goes without its marks
    // when they do not fit.
    const Scratch before_marks = sc;
    const int marked = sweep_marks(&sc, sys, nichols, &sw);
    if (marked != kOk) {
      if (!(nichols && t.drawing)) return marked;
      sc = before_marks;
      sw.marks = sw.breaks = nullptr, sw.nmarks = sw.nbreaks = 0;
    }
    if (!nichols) sw.max_depth = kNyquistDepth;
    const Subplot* s = t.s;
    const bool y_fixed = s && (s->yMode == kAxisFixed || s->yMode == kAxisLocked);
    const double window = nichols ? kNicholsWindow : kNyquistWindow;
    sw.xlo = sw.ylo = -window, sw.xhi = sw.yhi = window;
    sw.xtol = sw.ytol = kNyquistTolerance;
    if (axis_fixed(s)) {
      subplot_visible_xrange(s, &sw.xlo, &sw.xhi);
      sw.xtol = nichols ? kNicholsPixels / std::fabs(s->xScale) : kNyquistFixedTolerance * (s->xMax - s->xMin);
    }
    if (y_fixed) {
      subplot_visible_yrange(s, &sw.ylo, &sw.yhi);
      // A Nyquist curve's one tolerance comes from the x limits alone.
      if (nichols) sw.ytol = kNicholsPixels / std::fabs(s->yScale);
    }
    if (!nichols) sw.ytol = sw.xtol;
    // An automatic gain axis over a pole at zero frequency ends at the
    // auto-scale's top: the gains above it are never seen, and sampling
    // them finely would spend the budget before the visible curve.
    if (nichols && !y_fixed && pole_at_zero_frequency(*c.cmd, sys)) sw.yhi = kNyquistScale;
    if (nichols) sw.xshare = axis_fixed(s) ? 0 : kNicholsShare, sw.yshare = y_fixed ? 0 : kNicholsShare;
    sw.log_y = nichols && s && (s->scaleFlags & kScaleYLog);
    if (!(sw.xtol > 0) || !(sw.ytol > 0) || !std::isfinite(sw.xtol) || !std::isfinite(sw.ytol))
      sw.xtol = sw.ytol = kNyquistTolerance;
    sw.with_freq = with_freq;
    if (nichols) {
      // A drawn Nichols curve takes the room left in the list and holds as
      // many points as fit (a single 0 below five), up to its point budget.
      // Values asked for never depend on free memory: they need the budget
      // whole, and a short stack grows like any other.
      const int32_t most = kNicholsPointsPerDegree * std::max(deg, 1);
      const int64_t whole = planes * most + 1;
      if (!t.drawing && sc.room < whole) return sc.full;
      if (sc.room < 1) return sc.full;
      data = sc.base;
      length = freqresp_nichols_adaptive(sw, data, t.drawing ? sc.room : whole, most);
    } else {
      // Nyquist needs its whole budget: the curve never depends on the room.
      const int64_t space = kNyquistPointsPerDegree * std::max(deg, 1) + 10;
      TN_TRY(take(&sc, space, &data));
      length = freqresp_nyquist_adaptive(sw, data, space, INT32_MAX);
    }
  }
  const int64_t m = int64_t(data[0]);
  if (!t.drawing) {
    // In output order: [w], [a, b] or [a, b, w], a and b in the record's
    // order (real and imaginary parts, or phases and magnitudes).
    const double* cols[3];
    int k = 0;
    if (c.nargout >= 2) cols[k++] = data + 1, cols[k++] = data + 1 + m;
    if (c.nargout != 2) cols[k++] = data + 1 + 2 * m;  // the frequencies (Ts is 1 here)
    return push_columns(c.ctx, t, c.nargin, cols, k, m);
  }
  // The records: the system's, then the curve's header before its data,
  // which moves down behind it.
  if (*t.list.used + (*t.list.used == 0 ? kOpenObjectLength : 0) + sysrec + kRecHead + length >
      t.list.capacity)
    return kPlotOverflow;
  command_open(t.list, t.s);
  PlotWriter w = command_writer(t.list);
  TN_TRY(write_system_record(&w, *c.cmd, sys, a.ts, a.id, index, style));
  TN_TRY(plotwriter_begin_record(&w, kCodeFreqPolyline, a.id, index, &style, length));
  std::memmove(w.data + w.used, data, size_t(length) * sizeof(double));
  w.used += length;
  if (!nichols) {
    const double corner_x[2] = {-kNyquistScale, kNyquistScale}, corner_y[2] = {-kNyquistScale, kNyquistScale};
    subplot_autoscale_to_data(t.s, corner_x, corner_y, nullptr, 2);
  } else {
    const double* ph = w.data + w.used - length + 1;
    const double* mg = ph + m;
    // A pole on the stability boundary at zero frequency sends the gain to
    // infinity: the curve's own extent would swamp the chart.
    if (!pole_at_zero_frequency(*c.cmd, sys)) {
      subplot_autoscale_to_data(t.s, ph, mg, nullptr, int32_t(m));
    } else if (m > 0) {
      double p0 = ph[0], p1 = ph[0], g0 = mg[0];
      for (int64_t k = 1; k < m; ++k) p0 = std::min(p0, ph[k]), p1 = std::max(p1, ph[k]), g0 = std::min(g0, mg[k]);
      const double xs[2] = {p0, p1}, ys[2] = {g0, kNyquistScale};
      subplot_autoscale_to_data(t.s, xs, ys, nullptr, 2);
    }
  }
  *t.list.used = w.used;
  return kOk;
}

constexpr double kLocusWindow = 2;
constexpr double kLocusTolerance = 0.1;
constexpr double kLocusPixels = 10;
constexpr double kLocusWiden = 0.05;
constexpr double kLocusTolShare = 0.2;
constexpr int64_t kLocusBudgetLarge = 1000, kLocusBudget = 500;

// The y extent of the branches {m, x[m], y[m]} ... -1 within +-limit, taken
// into the automatic y limits (x stays the poles' and zeros').
void widen_by_branches(Subplot* s, const double* data, int32_t length, double limit) {
  double lo = INFINITY, hi = -INFINITY;
  int64_t at = 0;
  while (at < length && data[at] >= 0) {
    const double m = data[at];
    if (!(m <= double(length - at - 1) / 2)) break;
    const int64_t n = int64_t(m);
    for (int64_t k = 0; k < n; ++k) {
      const double y = data[at + 1 + n + k];
      if (std::fabs(y) <= limit) lo = std::min(lo, y), hi = std::max(hi, y);
    }
    at += 2 * n + 1;
  }
  if (!(lo < hi)) return;
  const double ys[2] = {lo, hi};
  subplot_autoscale_to_data(s, nullptr, ys, nullptr, 2);
}

// A root locus: record 45, then one record 8 of the branches' polylines.
int run_rlocus(const Call& c, const System& sys, double index, const StyleSpec& style) {
  const Args& a = *c.args;
  Target& t = *c.target;
  if (!t.drawing) return kBadArgument;
  const int64_t sysrec = kRecHead + system_record_data(*c.cmd, sys);
  const int64_t base = *t.list.used + (*t.list.used == 0 ? kOpenObjectLength : 0);
  if (base + 4 * int64_t(sys.dd) + 9 >= t.list.capacity) return kPlotOverflow;
  // The larger degree traces the branches.
  const bool swap = sys.dn > sys.dd;
  const double* pa = swap ? sys.num : sys.den;
  const double* pb = swap ? sys.den : sys.num;
  const int32_t da = swap ? sys.dn : sys.dd, db = swap ? sys.dd : sys.dn;
  // Scratch from the top of the list: the builder's work and the poles and zeros.
  const int64_t work_size = rlocus_build_work(da) + 2 * int64_t(da + 1) + roots_real_work(da) + da + 1;
  const int64_t data_at = base + sysrec + kRecHead;
  const int64_t room = int64_t(t.list.capacity) - data_at - work_size;
  if (room < 1) return kPlotOverflow;
  double* work = t.list.data + t.list.capacity - work_size;
  Subplot* s = t.s;
  // Nothing fails from here on: the object opens (and its auto-scale
  // starts) before the poles, zeros and branches widen the limits.
  command_open(t.list, s);
  const bool y_fixed = s->yMode == kAxisFixed || s->yMode == kAxisLocked;
  const bool automatic = !axis_fixed(s) || !y_fixed;
  bool all_real = true;
  double reach = 0;   // the largest real part of a pole or zero, in magnitude
  double extent = 0;  // the largest real or imaginary part of a pole or zero, in magnitude
  if (automatic) {
    // Poles and zeros widen the automatic limits.
    double* re = work + rlocus_build_work(da);
    double* im = re + da + 1;
    double* rw = im + da + 1;
    for (const auto& [p, d] : {std::pair{sys.den, sys.dd}, std::pair{sys.num, sys.dn}}) {
      if (d <= 0) continue;
      std::memcpy(rw, p, size_t(d + 1) * sizeof(double));
      if (rw[0] == 0) continue;
      roots_real_coeffs(rw, d, re, im, rw + d + 1);
      subplot_autoscale_to_data(s, re, im, nullptr, d);
      for (int32_t k = 0; k < d; ++k) {
        all_real = all_real && im[k] == 0;
        if (std::isfinite(re[k])) reach = std::max(reach, std::fabs(re[k]));
        if (std::isfinite(re[k]) && std::isfinite(im[k]))
          extent = std::max({extent, std::fabs(re[k]), std::fabs(im[k])});
      }
    }
  }
  // An automatic axis traces the poles' and zeros' own scale (the limits
  // follow them), [-2, 2] for a system of unit scale; the tolerance's share
  // of the window is the same at every scale.
  const double unit = extent > 0 && std::isfinite(extent) ? extent : 1.0;
  LocusWindow win{-kLocusWindow * unit, kLocusWindow * unit, -kLocusWindow * unit, kLocusWindow * unit, 0};
  if (axis_fixed(s)) {
    double lo, hi;
    subplot_visible_xrange(s, &lo, &hi);
    hi += kLocusWiden * (hi - lo);
    lo -= kLocusWiden * (hi - lo);
    win.xlo = lo, win.xhi = hi;
    win.tol = kLocusPixels / std::fabs(s->xScale);
  }
  win.tol += kLocusTolerance * (win.xhi - win.xlo) / (2 * kLocusWindow);
  if (s->yMode == kAxisFixed || s->yMode == kAxisLocked) {
    double lo, hi;
    subplot_visible_yrange(s, &lo, &hi);
    hi += kLocusWiden * (hi - lo);
    lo -= kLocusWiden * (hi - lo);
    win.ylo = lo, win.yhi = hi;
    win.tol += kLocusPixels / std::fabs(s->yScale);
  }
  if (!std::isfinite(win.tol) || !(win.tol > 0)) win.tol = kLocusTolerance;
  win.tol *= kLocusTolShare;
  const int64_t budget = int64_t(std::max(da, 1)) * kLocusBudgetLarge > room
                             ? room / 2
                             : int64_t(std::max(da, 1)) * kLocusBudget;
  double* data = t.list.data + data_at;
  const int32_t length = rlocus_build_branches(pa, da, pb, db, win, data, budget, work);
  // Real poles and zeros give an automatic y axis no height, and the
  // branches that leave the real axis would lie outside the view: they
  // widen it, as far as the trace window or the farthest pole or zero.
  if (automatic && !y_fixed && all_real)
    widen_by_branches(s, data, length, std::max(kLocusWindow, reach));
  // The records go in front of the data, which already lies in its place.
  PlotWriter w = command_writer(t.list);
  TN_TRY(write_system_record(&w, *c.cmd, sys, a.ts, a.id, index, style));
  TN_TRY(plotwriter_begin_record(&w, kCodeMultiPolyline, a.id, index, &style, length));
  TN_ASSERT(w.used == data_at);
  w.used += length;
  *t.list.used = w.used;
  return kOk;
}

int run_system(const Call& c, const System& sys, double index, const StyleSpec& style) {
  const char k = char(c.cmd->kind);
  if (k == kRespLocus) return run_rlocus(c, sys, index, style);
  if (k == kRespNyquist || k == kRespNichols) return run_nyquist(c, sys, index, style);
  return k == kRespStep || k == kRespImpulse || k == kRespInitial ? run_time(c, sys, index, style)
                                             : run_frequency(c, sys, index, style);
}

// --- The two forms ----------------------------------------------------------------

// A system with nothing to compute: empty results, or an opened object
// and nothing drawn.
int empty_system(const Call& c) {
  if (!c.target->drawing) return push_empty_results(c.ctx, c.nargin, c.nargout);
  TN_TRY(command_room(c.target->list, 0));
  command_open(c.target->list, c.target->s);
  return kOk;
}

int transfer_functions(const Call& c) {
  const Args& a = *c.args;
  MatArg num, den;
  TN_TRY(arg_real_matrix(c.ctx, c.nargin, 0, &num));
  TN_TRY(arg_real_matrix(c.ctx, c.nargin, 1, &den));
  if (num.rows != den.rows) return kIncompatibleSize;
  const bool outputs = !c.target->drawing;
  if (outputs && num.rows > 1) return kBadSize;
  if (c.cmd->properness == kProper && num.cols > den.cols) return kIncompatibleSize;
  if (c.cmd->properness == kStrictlyProper && num.cols >= den.cols) return kIncompatibleSize;
  if (num.rows == 0 || num.cols == 0 || den.cols == 0) return empty_system(c);
  for (int32_t i = 0; i < num.rows; ++i) {
    System sys;
    sys.dn = skip_leading(num.re + int64_t(i) * num.cols, num.cols, &sys.num);
    sys.dd = skip_leading(den.re + int64_t(i) * den.cols, den.cols, &sys.den);
    StyleSpec st;
    TN_TRY(style_of(a.style, i, kDefaultCurveBits, nullptr, &st));
    TN_TRY(run_system(c, sys, i + 1, st));
  }
  return kOk;
}

int state_space(const Call& c) {
  MatArg A, B, C, D;
  TN_TRY(arg_real_matrix(c.ctx, c.nargin, 0, &A));
  TN_TRY(arg_real_matrix(c.ctx, c.nargin, 1, &B));
  TN_TRY(arg_real_matrix(c.ctx, c.nargin, 2, &C));
  TN_TRY(arg_real_matrix(c.ctx, c.nargin, 3, &D));
  const int32_t p = D.rows, m = D.cols, n = A.rows;
  if (c.cmd->one_input && m != 1) return kIncompatibleSize;
  if (A.cols != n) return kIncompatibleSize;
  const bool b_empty = B.rows * B.cols == 0, c_empty = C.rows * C.cols == 0;
  if (!c_empty && (C.rows != p || C.cols != n)) return kIncompatibleSize;
  if (!b_empty && (B.rows != n || B.cols != m)) return kIncompatibleSize;
  if (c.cmd->properness == kStrictlyProper)
    for (int64_t k = 0; k < int64_t(p) * m; ++k)
      if (D.re[k] != 0) return kBadArgument;
  // No input or no output (an empty D): no curve to compute. A model
  // without states but with D is a static gain and goes on.
  if (int64_t(p) * m == 0) return empty_system(c);
  // Empty B or C become zeros of their shape, in scratch ahead of the
  // computation's own (the record copies them too).
  Target& t = *c.target;
  const int64_t zeros = (b_empty ? int64_t(n) * m : 0) + (c_empty ? int64_t(p) * n : 0);
  double* zb = nullptr;
  if (zeros) {
    if (t.drawing) {
      // Taken from the top of the list so the records can still grow below.
      if (zeros > int64_t(t.list.capacity) - *t.list.used) return kPlotOverflow;
      zb = t.list.data + t.list.capacity - zeros;
      t.list.capacity -= int32_t(zeros);
    } else {
      if (zeros > t.half_words) return kDataStackOverflow;
      zb = t.half + t.half_words - zeros;
      t.half_words -= zeros;
    }
    std::fill(zb, zb + zeros, 0.0);
  }
  System sys;
  sys.ss = true;
  sys.m = SsModel{A.re, b_empty ? zb : B.re, c_empty ? zb + (b_empty ? int64_t(n) * m : 0) : C.re,
                  D.re, n, m, p};
  StyleSpec st{kDefaultCurveBits, 0, 0, 0, 0};
  TN_TRY(style_of(c.args->style, 0, kDefaultCurveBits, nullptr, &st));
  return run_system(c, sys, 1, st);
}

}  // namespace

int plot_cmd_response(EngineContext* ctx, int nargin, int nargout, Subplot* s, CommandList list,
                      const ResponseCommand& cmd) {
  Args a;
  TN_TRY(classify(ctx, nargin, cmd, &a));
  Call c{ctx, nargin, nargout, &cmd, &a, nullptr, 0, {0, 0}, 0};
  const bool time = cmd.kind == kRespStep || cmd.kind == kRespImpulse || cmd.kind == kRespInitial;
  TN_TRY(response_options_parse(ctx, a.opts_depth, cmd.discrete, &c.delay,
                                cmd.kind == kRespNyquist || cmd.kind == kRespNichols ? &c.negfreq : nullptr,
                                nullptr,
                                time || !a.range_vec.given ? c.range : nullptr));
  if (cmd.discrete) c.delay = 0;
  Target t{nargout <= 0, s, list};
  if (!t.drawing) TN_TRY(output_target(ctx, &t));
  c.target = &t;
  TN_TRY(a.ss ? state_space(c) : transfer_functions(c));
  if (!t.drawing) return kOk;  // the results replaced the arguments
  command_done(ctx, nargin);
  return kOk;
}

int plot_cmd_initial(bool discrete, EngineContext* ctx, int nargin, int nargout, Subplot* s,
                     CommandList list) {
  const ResponseCommand& cmd = discrete ? kCmdDinitial : kCmdInitial;
  // The matrices run up to the first structure or text.
  int numeric = 0;
  while (numeric < nargin && !char_or_struct(ctx, nargin, numeric)) ++numeric;
  const int ts_n = discrete ? 1 : 0;
  const bool full = numeric >= 5 + ts_n;
  const int x0_arg = (full ? 4 : 2) + ts_n;
  if (numeric < x0_arg + 1) return kBadArgument;
  Args a;
  int pos = x0_arg + 1;
  if (discrete) {
    if (stk_get_real_scalar(ctx, nargin - 1 - (x0_arg - 1), &a.ts) != kOk) return kBadArgument;
    if (!(a.ts > 0) || !std::isfinite(a.ts)) return kBadArgument;
  }
  if (pos < nargin && stk_is_struct(ctx, nargin - 1 - pos)) a.opts_depth = nargin - 1 - pos++;
  if (pos < nargin) {
    if (!stk_is_char(ctx, nargin - 1 - pos)) {
      // Not a style string where one goes: nothing is drawn.
      if (nargout > 0) return push_empty_results(ctx, nargin, nargout);
      command_done(ctx, nargin);
      return kOk;
    }
    TN_TRY(arg_style(ctx, nargin, pos++, &a.style));
  }
  if (pos < nargin) TN_TRY(arg_scalar_id(ctx, nargin, pos++, &a.id));
  if (pos != nargin) return kBadArgument;
  MatArg A, B, C, D, X;
  TN_TRY(arg_real_matrix(ctx, nargin, 0, &A));
  TN_TRY(arg_real_matrix(ctx, nargin, full ? 2 : 1, &C));
  TN_TRY(arg_real_matrix(ctx, nargin, x0_arg, &X));
  const int32_t n = A.rows, p = C.rows;
  if (X.cols != 1 && X.rows * X.cols != 0) return kNotColumnVector;
  if (A.cols != n || X.rows != n || C.cols != n) return kIncompatibleSize;
  if (full) {
    TN_TRY(arg_real_matrix(ctx, nargin, 1, &B));
    TN_TRY(arg_real_matrix(ctx, nargin, 3, &D));
    const bool b_given = B.rows * B.cols != 0, d_given = D.rows * D.cols != 0;
    if ((b_given && B.rows != n) || (d_given && (D.rows != p || (b_given && D.cols != B.cols))))
      return kIncompatibleSize;
  }
  Call c{ctx, nargin, nargout, &cmd, &a, nullptr, 0, {0, 0}, 0};
  TN_TRY(response_options_parse(ctx, a.opts_depth, discrete, &c.delay, nullptr, nullptr, c.range));
  if (discrete) c.delay = 0;
  Target t{nargout <= 0, s, list};
  if (!t.drawing) TN_TRY(output_target(ctx, &t));
  c.target = &t;
  if (int64_t(p) * n == 0) {
    // No state or no output: a free response of nothing.
    TN_TRY(empty_system(c));
    if (t.drawing) command_done(ctx, nargin);
    return kOk;
  }
  System sys;
  sys.ss = true;
  sys.m = SsModel{A.re, X.re, C.re, nullptr, n, 1, p};
  StyleSpec st{kDefaultCurveBits, 0, 0, 0, 0};
  TN_TRY(style_of(a.style, 0, kDefaultCurveBits, nullptr, &st));
  TN_TRY(run_system(c, sys, 1, st));
  if (t.drawing) command_done(ctx, nargin);
  return kOk;
}

namespace {

constexpr double kLsimStepShare = 0.005;     // the continuous grid's step share of the range
constexpr int64_t kOwnSpacingSamples = 200;  // inputs this long keep their own spacing
constexpr double kSpacingTolerance = 1e-5;
constexpr int64_t kDiscreteCutPoints = 1000;           // longer discrete grids are cut to this many
constexpr double kDiscreteCutShare = 0.001001001001001001;  // 1 / (kDiscreteCutPoints - 1)

// An lsim call's system and input, read and checked.
struct LsimInput {
  const double* u;   // nu samples of m values, row after row
  int64_t nu;
  int32_t m;
  const double* t;   // continuous: the nu sample times
  double ts;         // discrete: the sample time
  const double* x0;  // or null
};

// The input linearly interpolated at times k h, k = 0 .. count - 1 (0
// before the first sample time and after the last), into out (count x m).
void resample_input(const LsimInput& in, double h, int64_t count, double* out) {
  int64_t j = 0;
  for (int64_t k = 0; k < count; ++k) {
    const double x = double(k) * h;
    for (int32_t c = 0; c < in.m; ++c) out[k * in.m + c] = 0;
    if (in.nu == 0 || x < in.t[0] || x > in.t[in.nu - 1]) continue;
    while (j + 1 < in.nu && in.t[j + 1] <= x) ++j;
    const double span = j + 1 < in.nu ? in.t[j + 1] - in.t[j] : 0;
    const double f = span > 0 ? (x - in.t[j]) / span : 0;
    for (int32_t c = 0; c < in.m; ++c) {
      const double a = in.u[j * in.m + c], b = j + 1 < in.nu ? in.u[(j + 1) * in.m + c] : a;
      out[k * in.m + c] = (1 - f) * a + f * b;
    }
  }
}

// The continuous simulation step: the input's own spacing when it is long
// and even, else a 200th of the range (1 for an empty range).
double lsim_step(const LsimInput& in, double t0, double tf) {
  if (in.nu >= kOwnSpacingSamples) {
    const double h = in.t[1] - in.t[0];
    bool even = h > 0;
    for (int64_t k = 2; even && k < in.nu; ++k)
      even = std::fabs(in.t[k] - in.t[k - 1] - h) <= kSpacingTolerance * h;
    if (even) return h;
  }
  return tf > t0 ? (tf - t0) * kLsimStepShare : 1.0;
}

// Simulates into the area (times, then one row per output); *count samples.
int lsim_area(const Call& c, const System& sys, const LsimInput& in, bool stairs, double t0,
              double tf, Scratch* sc, double** area, int64_t* area_room, int64_t* count) {
  const bool discrete = c.cmd->discrete;
  const double h = discrete ? in.ts : lsim_step(in, t0, tf);
  const double* u = in.u;
  int64_t nu = in.nu;
  const double* a = sys.m.a;
  const double* b = sys.m.b;
  const double* d = sys.m.d;
  double *num_d = nullptr, *den_d = nullptr;
  SsModel tf_held{};  // a continuous transfer function, realised and held
  const double* c_held = sys.m.c;
  const double* x0 = in.x0;
  if (!discrete) {
    // The input on the simulation grid, from time 0 to the range's end.
    const double samples = std::floor((tf - c.delay) / h + 0.5) + 1;
    if (!(samples <= kMaxDiscreteSamples)) return kTooManySamples;
    nu = samples >= 1 ? int64_t(samples) : 1;
    double* ures;
    TN_TRY(take(sc, nu * in.m, &ures));
    resample_input(in, h, nu, ures);
    u = ures;
    if (!sys.ss) {
      // The controller form's states, balanced, never the held polynomials:
      // their difference equation is unstable in rounding once the held
      // poles crowd near z = 1. The simulation is then the state space's.
      const int64_t n = sys.dd;
      double *ac, *bc, *cc, *dc, *scale, *ad, *bd, *work;
      TN_TRY(take(sc, n * n, &ac));
      TN_TRY(take(sc, n, &bc));
      TN_TRY(take(sc, n, &cc));
      TN_TRY(take(sc, 1, &dc));
      TN_TRY(take(sc, n, &scale));
      TN_TRY(take(sc, n * n, &ad));
      TN_TRY(take(sc, n, &bd));
      TN_TRY(take(sc, ctrl_matrix_kernel_b_work(n, 1), &work));
      ctrl_matrix_kernel_g(sys.num, 1, sys.dn, sys.den, int32_t(n), ac, bc, cc, dc);
      // The hold's matrix exponential turns NaN and Inf into ordinary-looking
      // numbers: a non-finite coefficient makes every output NaN.
      bool finite = true;
      for (int64_t k = 0; k <= sys.dn; ++k) finite = finite && std::isfinite(sys.num[k]);
      for (int64_t k = 0; k <= n; ++k) finite = finite && std::isfinite(sys.den[k]);
      if (!finite) {
        std::fill(ac, ac + n * n, 0.0);
        std::fill(cc, cc + n, NAN);
        *dc = NAN;
      }
      ss_balance_model(ac, bc, cc, int32_t(n), 1, 1, scale);
      if (n > 0) ctrl_matrix_kernel_b(ac, n, bc, 1, cc, 1, h, ad, bd, dc, work);
      tf_held = SsModel{ad, bd, cc, dc, int32_t(n), 1, 1};
    } else {
      // Balanced before the hold, as the step responses are: the states
      // change by powers of two (the initial state with them), the outputs
      // do not.
      const SsModel& m = sys.m;
      const int64_t n = m.n;
      double *ab, *bb, *cb, *scale, *xb, *ad, *bd, *dd, *work;
      TN_TRY(take(sc, n * n, &ab));
      TN_TRY(take(sc, n * m.m, &bb));
      TN_TRY(take(sc, int64_t(m.p) * n, &cb));
      TN_TRY(take(sc, n, &scale));
      TN_TRY(take(sc, n, &xb));
      TN_TRY(take(sc, n * n, &ad));
      TN_TRY(take(sc, n * m.m, &bd));
      TN_TRY(take(sc, int64_t(m.p) * m.m, &dd));
      TN_TRY(take(sc, ctrl_matrix_kernel_b_work(m.n, m.m), &work));
      std::copy_n(m.a, n * n, ab);
      std::copy_n(m.b, n * m.m, bb);
      std::copy_n(m.c, int64_t(m.p) * n, cb);
      ss_balance_model(ab, bb, cb, m.n, m.m, m.p, scale);
      if (in.x0) {
        for (int64_t i = 0; i < n; ++i) xb[i] = in.x0[i] / scale[i];
        x0 = xb;
      }
      for (int64_t k = 0; k < int64_t(m.p) * m.m; ++k) dd[k] = m.d ? m.d[k] : 0.0;
      if (m.n > 0) ctrl_matrix_kernel_b(ab, m.n, bb, m.m, cb, m.p, h, ad, bd, dd, work);
      a = ad, b = bd, c_held = cb, d = dd;
    }
  } else if (!sys.ss) {
    // The numerator padded to the denominator's length: the z^-1 form.
    const int64_t n = sys.dd;
    TN_TRY(take(sc, n + 1, &num_d));
    std::fill(num_d, num_d + n + 1, 0.0);
    std::memcpy(num_d + (n - sys.dn), sys.num, size_t(sys.dn + 1) * sizeof(double));
    den_d = const_cast<double*>(sys.den);
  }
  *area = sc->base;
  *area_room = sc->room;
  const double delay = discrete ? 0 : c.delay;
  const SsModel held{a, b, c_held, d, sys.m.n, sys.m.m, sys.m.p};
  const int status =
      sys.ss ? timeresp_lsim_ss(held, u, nu, h, t0, tf, delay, x0, stairs, *area, *area_room, count)
      : !discrete
          ? timeresp_lsim_ss(tf_held, u, nu, h, t0, tf, delay, nullptr, stairs, *area, *area_room, count)
          : timeresp_lsim_tf(num_d, sys.dd, den_d, sys.dd, u, nu, h, t0, tf, delay, stairs, *area,
                             *area_room, count);
  // A full area is the list's overflow, or the stack's when computing values.
  return status == kTimeAreaFull ? sc->full : status;
}

// One simulated system: the curves drawn, or the values pushed.
int run_lsim(const Call& c, const System& sys, const LsimInput& in, uint8_t t_only,
             const StyleSpec& first_style, double index) {
  const Args& a = *c.args;
  Target& t = *c.target;
  const int32_t curves = sys.ss ? sys.m.p : 1;
  double t0, tf;
  if (std::isfinite(c.range[0]) && std::isfinite(c.range[1]) && c.range[1] > c.range[0]) {
    t0 = c.range[0], tf = c.range[1];
  } else if (axis_fixed(t.s)) {
    subplot_visible_xrange(t.s, &t0, &tf);
  } else if (c.cmd->discrete) {
    t0 = 0, tf = double(in.nu - 1) * in.ts;
  } else {
    t0 = in.nu ? in.t[0] : 0, tf = in.nu ? in.t[in.nu - 1] : 0;
  }
  const bool stairs = c.cmd->discrete && staircase(first_style);
  Scratch sc = scratch_after(t, 0);
  if (sc.room < 0) return sc.full;
  double* area;
  int64_t room = 0, count = 0;
  TN_TRY(lsim_area(c, sys, in, stairs, t0, tf, &sc, &area, &room, &count));
  if (t_only && !c.cmd->discrete && in.nu > 0) {
    if (timeresp_resample(area, room, count, curves, in.t, in.nu) != kOk) return sc.full;
    count = in.nu;
  }
  if (c.cmd->discrete && (stairs ? count / 2 : count) >= kDiscreteCutPoints) {
    // A long sample grid is cut to kDiscreteCutPoints points spread evenly
    // over the range: the held values of a staircase, the line between
    // samples otherwise. The new times lie at the top of the area.
    if (room < kDiscreteCutPoints) return sc.full;
    double* cut = area + room - kDiscreteCutPoints;
    const double spacing = (tf - t0) * kDiscreteCutShare;
    for (int64_t k = 0; k < kDiscreteCutPoints; ++k) cut[k] = t0 + double(k) * spacing;
    if (timeresp_resample(area, room - kDiscreteCutPoints, count, curves, cut, kDiscreteCutPoints) != kOk)
      return sc.full;
    count = kDiscreteCutPoints;
  }
  const double* times = area;
  const double* rows = area + count;
  if (!t.drawing) return push_results(c.ctx, t, c.nargin, c.nargout, times, rows, count, curves);
  // The area moves to the top of the list; the records grow below it.
  const int64_t block = count * (curves + 1);
  const int64_t records = curves * (2 * count + kRecHead + 1);
  const Scratch base = scratch_after(t, 0);
  if (records + block > base.room) return kPlotOverflow;
  double* top = base.base + base.room - block;
  std::memmove(top, area, size_t(block) * sizeof(double));
  command_open(t.list, t.s);
  PlotWriter w = command_writer(t.list);
  for (int32_t j = 0; j < curves; ++j) {
    StyleSpec st = first_style;
    if (sys.ss) TN_TRY(style_of(a.style, j, kDefaultCurveBits, nullptr, &st));
    put_curve(&w, t.s, top, top + count * (j + 1), count, a.id, sys.ss ? j + 1 : index, st);
  }
  *t.list.used = w.used;
  return kOk;
}

}  // namespace

int plot_cmd_lsim(bool discrete, EngineContext* ctx, int nargin, int nargout, Subplot* s,
                  CommandList list) {
  const ResponseCommand cmd{-1, -1, kRespStep, kProper, false, discrete, false, false, true, true};
  int numeric = 0;
  while (numeric < nargin && !char_or_struct(ctx, nargin, numeric)) ++numeric;
  const bool ss = nargin > 5 && !char_or_struct(ctx, nargin, 4) && !char_or_struct(ctx, nargin, 5);
  const int u_arg = ss ? 4 : 2;
  int pos = u_arg + 2;
  const bool with_x0 = ss && numeric > pos;
  if (with_x0) ++pos;
  Args a;
  if (pos < nargin && stk_is_struct(ctx, nargin - 1 - pos)) a.opts_depth = nargin - 1 - pos++;
  if (pos < nargin && stk_is_char(ctx, nargin - 1 - pos)) TN_TRY(arg_style(ctx, nargin, pos++, &a.style));
  if (pos < nargin) TN_TRY(arg_scalar_id(ctx, nargin, pos++, &a.id));
  if (pos != nargin) return kBadArgument;
  MatArg U, T, X0;
  TN_TRY(arg_real_matrix(ctx, nargin, u_arg, &U));
  TN_TRY(arg_real_matrix(ctx, nargin, u_arg + 1, &T));
  LsimInput in{};
  in.u = U.re;
  // A single row is one input's samples.
  in.nu = U.rows == 1 ? U.cols : U.rows;
  in.m = U.rows == 1 ? 1 : U.cols;
  if (discrete) {
    if (T.rows * T.cols != 1 || !(T.re[0] > 0) || !std::isfinite(T.re[0])) return kBadArgument;
    in.ts = T.re[0];
  } else {
    if (int64_t(T.rows) * T.cols != in.nu) return kIncompatibleSize;
    in.t = T.re;
  }
  uint8_t t_only = 0;
  Call c{ctx, nargin, nargout, &cmd, &a, nullptr, 0, {0, 0}, 0};
  TN_TRY(response_options_parse(ctx, a.opts_depth, discrete, &c.delay, nullptr, &t_only, c.range));
  if (discrete) c.delay = 0;
  Target t{nargout <= 0, s, list};
  if (!t.drawing) TN_TRY(output_target(ctx, &t));
  c.target = &t;
  if (!ss) {
    MatArg num, den;
    TN_TRY(arg_real_matrix(ctx, nargin, 0, &num));
    TN_TRY(arg_real_matrix(ctx, nargin, 1, &den));
    if (num.rows != den.rows && num.rows != 1 && den.rows != 1) return kIncompatibleSize;
    if (num.cols > den.cols || in.m != 1) return kIncompatibleSize;
    const int32_t rows = std::max(num.rows, den.rows);
    if (!t.drawing && rows > 1) return kBadSize;
    if (rows == 0 || num.cols == 0 || den.cols == 0) {
      if (!t.drawing) return push_empty_results(ctx, nargin, nargout);
      command_done(ctx, nargin);
      return kOk;
    }
    for (int32_t i = 0; i < rows; ++i) {
      System sys;
      sys.dn = skip_leading(num.re + int64_t(num.rows == 1 ? 0 : i) * num.cols, num.cols, &sys.num);
      sys.dd = skip_leading(den.re + int64_t(den.rows == 1 ? 0 : i) * den.cols, den.cols, &sys.den);
      if (sys.dn > sys.dd) return kIncompatibleSize;
      StyleSpec st;
      TN_TRY(style_of(a.style, i, kDefaultCurveBits, nullptr, &st));
      TN_TRY(run_lsim(c, sys, in, t_only, st, i + 1));
    }
  } else {
    MatArg A, B, C, D;
    TN_TRY(arg_real_matrix(ctx, nargin, 0, &A));
    TN_TRY(arg_real_matrix(ctx, nargin, 1, &B));
    TN_TRY(arg_real_matrix(ctx, nargin, 2, &C));
    TN_TRY(arg_real_matrix(ctx, nargin, 3, &D));
    const int32_t n = A.rows, p = C.rows;
    if (A.cols != n || C.cols != n || B.rows != n || B.cols != in.m) return kIncompatibleSize;
    if (D.rows * D.cols != 0 && (D.rows != p || D.cols != in.m)) return kIncompatibleSize;
    if (with_x0) {
      TN_TRY(arg_real_matrix(ctx, nargin, u_arg + 2, &X0));
      if (int64_t(X0.rows) * X0.cols != n) return kIncompatibleSize;
      in.x0 = X0.re;
    }
    System sys;
    sys.ss = true;
    sys.m = SsModel{A.re, B.re, C.re, D.rows * D.cols != 0 ? D.re : nullptr, n, in.m, p};
    StyleSpec st;
    TN_TRY(style_of(a.style, 0, kDefaultCurveBits, nullptr, &st));
    TN_TRY(run_lsim(c, sys, in, t_only, st, 1));
  }
  if (t.drawing) command_done(ctx, nargin);
  return kOk;
}
