// line, line3, circle and activeregion: records of lines given by their
// equations, circles, and the polygons that only the hit test reads. Lines
// and regions do not touch the automatic limits; circles widen them by their
// bounding squares.
#include <algorithm>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/plotlist/plot_style.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kLineRecord = kRecHead + 3;
constexpr int32_t kLine3Record = kRecHead + 8;
constexpr int32_t kCircleRecord = kRecHead + 4;
constexpr int32_t kRectRecord = kRecHead + 1 + 8;
constexpr int32_t kRegionIndex = -1;
constexpr int32_t kAllCirclesIndex = -1;

// Row r of a matrix that repeats a single row.
int32_t row_of(const MatArg& a, int32_t r) { return a.rows > 1 ? r : 0; }

// A double array argument of any shape: count and data.
int arg_array(EngineContext* ctx, int nargin, int arg, int64_t* count, const double** data) {
  double* re = nullptr;
  double* im = nullptr;
  TN_TRY(stk_get_double_array(ctx, nargin - 1 - arg, nullptr, nullptr, count, &re, &im));
  *data = re;
  return kOk;
}

void widen_to_circle(Subplot* s, double x, double y, double r) {
  const double xs[2] = {x - r, x + r}, ys[2] = {y - r, y + r};
  subplot_autoscale_to_data(s, xs, ys, nullptr, 2);
}

}  // namespace

int plot_cmd_line(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool three_d) {
  if (nargin < 2 || nargin > 4) return kWrongType;
  double id = kNoId;
  if (nargin == 4) TN_TRY(arg_scalar_id(ctx, nargin, 3, &id));
  StyleArg style;
  if (nargin >= 3) TN_TRY(arg_style(ctx, nargin, 2, &style));
  MatArg a, b;
  TN_TRY(arg_matrix(ctx, nargin, 1, &b));
  if (b.rows > 0 && b.cols != 1) return kBadSize;
  TN_TRY(arg_matrix(ctx, nargin, 0, &a));
  const int32_t width = three_d ? 3 : 2;
  if (a.rows > 0 && a.cols != width) return kBadSize;
  const bool nothing = (a.rows == 0 && b.rows == 1) || (b.rows == 0 && a.rows == 1);
  if (!nothing && a.rows != b.rows && a.rows != 1 && b.rows != 1) return kIncompatibleSize;
  const int32_t k = nothing ? 0 : std::max(a.rows, b.rows);
  if (three_d && k > 1 && k % 2 != 0) return kBadSize;
  const int32_t records = three_d ? (k + 1) / 2 : k;
  for (int32_t i = 0; i < records; ++i) {
    StyleSpec st;
    TN_TRY(style_of(style, three_d ? 2 * i : i, kDefaultCurveBits, nullptr, &st));
  }
  TN_TRY(command_room(list, int64_t(records) * (three_d ? kLine3Record : kLineRecord)));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  for (int32_t r = 0; r < k; r += three_d ? 2 : 1) {
    StyleSpec st;
    style_of(style, r, kDefaultCurveBits, nullptr, &st);
    if (!three_d) {
      plotwriter_begin_record(&w, kCodeLine, id, r + 1, &st, 3);
      plotwriter_put(&w, a.at(row_of(a, r), 0));
      plotwriter_put(&w, a.at(row_of(a, r), 1));
      plotwriter_put(&w, b.at(row_of(b, r), 0));
      continue;
    }
    plotwriter_begin_record(&w, kCodeLine3, id, r / 2 + 1, &st, 8);
    for (int32_t q = r; q < r + 2; ++q) {
      const bool present = q < k;
      for (int32_t c = 0; c < 3; ++c) plotwriter_put(&w, present ? a.at(row_of(a, q), c) : 0.0);
      plotwriter_put(&w, present ? b.at(row_of(b, q), 0) : 0.0);
    }
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

int plot_cmd_circle(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  if (nargin < 3 || nargin > 5) return kWrongType;
  double id = kNoId;
  if (nargin == 5) TN_TRY(arg_scalar_id(ctx, nargin, 4, &id));
  StyleArg style;
  int32_t styles = 1;
  if (nargin >= 4) {
    TN_TRY(arg_style(ctx, nargin, 3, &style));
    TN_TRY(plotstyle_count(style.text, style.length, &styles));
  }
  int64_t counts[3];
  const double* v[3];
  for (int i = 0; i < 3; ++i) TN_TRY(arg_array(ctx, nargin, i, &counts[i], &v[i]));
  int64_t k = 1;
  for (int64_t c : counts)
    if (c != 1) k = c;
  for (int64_t c : counts)
    if (c != 1 && c != k) return kIncompatibleSize;
  for (int64_t c : counts)
    if (c == 0) k = 0;
  if (k == 0) {
    command_done(ctx, nargin);
    return kOk;
  }
  if (k > int64_t(list.capacity)) return kPlotOverflow;
  auto val = [&](int i, int64_t j) { return v[i][counts[i] == 1 ? 0 : j]; };
  const bool each = styles > 1;
  for (int32_t i = 0; i < (each ? int32_t(k) : 1); ++i) {
    StyleSpec st;
    TN_TRY(style_of(style, i, kDefaultCurveBits, nullptr, &st));
  }
  TN_TRY(command_room(list, each ? k * kCircleRecord : 3 * k + kRecHead + 1));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  if (each) {
    for (int32_t i = 0; i < int32_t(k); ++i) {
      StyleSpec st;
      style_of(style, i, kDefaultCurveBits, nullptr, &st);
      widen_to_circle(s, val(0, i), val(1, i), val(2, i));
      plotwriter_begin_record(&w, kCodeCircles, id, i + 1, &st, 4);
      plotwriter_put(&w, 1);
      for (int p = 0; p < 3; ++p) plotwriter_put(&w, val(p, i));
    }
  } else {
    StyleSpec st;
    style_of(style, 0, kDefaultCurveBits, nullptr, &st);
    for (int64_t j = 0; j < k; ++j) widen_to_circle(s, val(0, j), val(1, j), val(2, j));
    plotwriter_begin_record(&w, kCodeCircles, id, kAllCirclesIndex, &st, int32_t(1 + 3 * k));
    plotwriter_put(&w, double(k));
    for (int p = 0; p < 3; ++p)
      for (int64_t j = 0; j < k; ++j) plotwriter_put(&w, val(p, j));
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

int plot_cmd_activeregion(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  if (nargin == 4) return kTooFewInputs;
  if (nargin != 3 && nargin != 5) return kIllegalError;
  double id = kNoId;
  TN_TRY(stk_get_real_scalar(ctx, 0, &id));
  const StyleSpec none{0, 0, 0, 0};
  if (nargin == 5) {
    double lim[4];
    for (int i = 0; i < 4; ++i) TN_TRY(stk_get_real_scalar(ctx, nargin - 1 - i, &lim[i]));
    TN_TRY(command_room(list, kRectRecord));
    command_open(list, s);
    PlotWriter w = command_writer(list);
    plotwriter_begin_record(&w, kCodeActiveRegion, id, kRegionIndex, &none, 9);
    const double xs[4] = {lim[0], lim[1], lim[1], lim[0]}, ys[4] = {lim[2], lim[2], lim[3], lim[3]};
    plotwriter_put(&w, 4);
    for (double x : xs) plotwriter_put(&w, x);
    for (double y : ys) plotwriter_put(&w, y);
    *list.used = w.used;
    command_done(ctx, nargin);
    return kOk;
  }
  int64_t mx, my;
  const double* x;
  const double* y;
  TN_TRY(arg_array(ctx, nargin, 0, &mx, &x));
  TN_TRY(arg_array(ctx, nargin, 1, &my, &y));
  if (mx != my) return kIncompatibleSize;
  if (mx > int64_t(list.capacity)) return kPlotOverflow;
  TN_TRY(command_room(list, 2 * mx + kRecHead + 1));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeActiveRegion, id, kRegionIndex, &none, int32_t(1 + 2 * mx));
  plotwriter_put(&w, double(mx));
  for (int64_t j = 0; j < mx; ++j) plotwriter_put(&w, x[j]);
  for (int64_t j = 0; j < mx; ++j) plotwriter_put(&w, y[j]);
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}
