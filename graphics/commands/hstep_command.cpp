// hstep(num1, den1, T, num2, den2 [, style [, id]]): the step response of a
// discrete controller num1/den1 (sample time T) driving the continuous
// plant num2/den2 through a hold, drawn on a grid of T / r with r fine
// steps per sample period, one curve per row pair.
#include "graphics/commands/hstep_command.h"

#include <algorithm>
#include <cmath>

#include "engine/core/status.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/time_response.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"
#include "numlib/control/response_kernels.h"

namespace {

constexpr double kFineSamples = 200;   // fine samples over the range
constexpr double kMinFine = 6;         // fine steps per period at least
constexpr double kMaxFineIndex = 100000;

int32_t skip_zeros(const double* p, int32_t len, const double** start) {
  int32_t k = 0;
  while (k < len - 1 && p[k] == 0.0) ++k;
  *start = p + k;
  return len - 1 - k;
}

}  // namespace

int timeresp_hstep(CommandList list, const double* cn, int32_t dcn, const double* cd, int32_t dcd,
                   const double* pn, int32_t dpn, const double* pd, int32_t dpd, double ts,
                   const StyleSpec& style, double id, double index, Subplot* s) {
  if (dcn > dcd || dpn > dpd) return kIncompatibleSize;
  const int64_t base = *list.used + (*list.used == 0 ? kOpenObjectLength : 0);
  const int64_t free_room = int64_t(list.capacity) - base;
  double t0 = 0, tf = 0;
  const bool fixed = s->xMode == kAxisFixed || s->xMode == kAxisLocked;
  if (fixed) {
    subplot_visible_xrange(s, &t0, &tf);
  } else {
    // The controller's time scale plus the plant's, in scratch at the top.
    const int64_t need = std::max(poly_roots_frequency_scale_work(dcd), poly_roots_frequency_scale_work(dpd));
    if (need > free_room) return kPlotOverflow;
    double* work = list.data + list.capacity - need;
    double a, b;
    poly_roots_frequency_scale_alt(cd, dcd, ts, work, &a);
    poly_roots_frequency_scale(pd, dpd, work, &b);
    tf = a + b;
  }
  const double periods = std::floor(tf / ts) - std::ceil(t0 / ts);
  double r = periods >= 1 ? std::floor(kFineSamples / periods) : kFineSamples;
  if (!(r >= kMinFine)) r = kMinFine;
  const double first_d = std::max(0.0, std::ceil(r * t0 / ts)), last_d = std::floor(r * tf / ts);
  if (!(std::fabs(r * tf / ts) <= kMaxFineIndex) || !std::isfinite(first_d)) return kTooManySamples;
  const int64_t first = int64_t(first_d);
  const int64_t count = last_d >= first_d ? int64_t(last_d) - first + 1 : 0;
  const bool lead = t0 <= 0;
  const int64_t points = count + (lead ? 2 : 0);
  const int64_t record = kRecHead + 1 + 2 * points;
  const int64_t work = timeresp_hstep_work(dcd, dpd, int32_t(r)) + count;
  if (record + work > free_room) return kPlotOverflow;
  double* scratch = list.data + list.capacity - work;
  double* y = scratch;
  timeresp_hstep_values(cn, dcn, cd, dcd, pn, dpn, pd, dpd, ts, int32_t(r), first, count, y,
                        scratch + count);
  command_open(list, s);
  PlotWriter w = command_writer(list);
  TN_TRY(plotwriter_begin_record(&w, kCodePolyline, id, index, &style, int32_t(2 * points + 1)));
  const int32_t at = w.used;
  plotwriter_put(&w, double(points));
  if (lead) plotwriter_put(&w, t0), plotwriter_put(&w, 0.0);
  for (int64_t k = 0; k < count; ++k) plotwriter_put(&w, double(first + k) * ts / r);
  if (lead) plotwriter_put(&w, 0.0), plotwriter_put(&w, 0.0);
  for (int64_t k = 0; k < count; ++k) plotwriter_put(&w, y[k]);
  subplot_autoscale_to_data(s, w.data + at + 1, w.data + at + 1 + points, nullptr, int32_t(points));
  *list.used = w.used;
  return kOk;
}

int plot_cmd_hstep(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  double id = kNoId;
  if (nargin == 7) TN_TRY(arg_scalar_id(ctx, nargin, 6, &id));
  StyleArg style;
  if (nargin >= 6) TN_TRY(arg_style(ctx, nargin, 5, &style));
  MatArg n1, d1, T, n2, d2;
  TN_TRY(arg_real_matrix(ctx, nargin, 0, &n1));
  TN_TRY(arg_real_matrix(ctx, nargin, 1, &d1));
  TN_TRY(arg_real_matrix(ctx, nargin, 2, &T));
  TN_TRY(arg_real_matrix(ctx, nargin, 3, &n2));
  TN_TRY(arg_real_matrix(ctx, nargin, 4, &d2));
  if (n2.rows != d2.rows || n1.rows != d1.rows) return kIncompatibleSize;
  if (T.rows != 1 || T.cols != 1) return kBadArgument;
  const double ts = T.re[0];
  if (!(ts > 0) || !std::isfinite(ts)) return kBadArgument;
  const bool empty = n1.rows == 0 || n2.rows == 0 || n1.cols * d1.cols * n2.cols * d2.cols == 0;
  if (!empty) {
    const int32_t rows = std::max(n1.rows, n2.rows);
    for (int32_t i = 0; i < rows; ++i) {
      const int32_t i1 = n1.rows > 1 ? std::min(i, n1.rows - 1) : 0, i2 = n2.rows > 1 ? std::min(i, n2.rows - 1) : 0;
      const double *cn, *cd, *pn, *pd;
      const int32_t dcn = skip_zeros(n1.re + int64_t(i1) * n1.cols, n1.cols, &cn);
      const int32_t dcd = skip_zeros(d1.re + int64_t(i1) * d1.cols, d1.cols, &cd);
      const int32_t dpn = skip_zeros(n2.re + int64_t(i2) * n2.cols, n2.cols, &pn);
      const int32_t dpd = skip_zeros(d2.re + int64_t(i2) * d2.cols, d2.cols, &pd);
      StyleSpec st;
      TN_TRY(style_of(style, i, kDefaultCurveBits, nullptr, &st));
      TN_TRY(timeresp_hstep(list, cn, dcn, cd, dcd, pn, dpn, pd, dpd, ts, st, id, i + 1, s));
      if (id >= 0) id += 1;
    }
  } else {
    TN_TRY(command_room(list, 0));
    command_open(list, s);
  }
  command_done(ctx, nargin);
  return kOk;
}
