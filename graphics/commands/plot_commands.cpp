// plot, plot3 and polar: one polyline record per matrix row. A matrix with
// one column repeats its value along the row; one with one row serves every
// curve. Sizes and styles are settled before the room check, so a refused
// command writes nothing.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr uint32_t kStairsBit = 0x800;
constexpr uint32_t kArrowAndHighBits = 0xF000;
constexpr uint32_t kEqualAspectMask = kScaleEqualAspect;

bool stairs(const StyleSpec& st) { return (st.bits & kStairsBit) && !(st.bits & kArrowAndHighBits); }

// Points of a curve record for m samples.
int32_t curve_points(int32_t m, bool staircase) { return staircase ? std::max(0, 2 * m - 1) : m; }

// Element j of the row of `a` used by curve i (one-row and one-column
// matrices repeat).
double elem(const MatArg& a, int32_t i, int32_t j) {
  const int32_t r = a.rows >= 2 ? i : 0;
  const int32_t c = a.cols >= 2 ? j : 0;
  return a.at(r, c);
}

// Sizes of plot's matrices: k curves of m points.
int plot_sizes(const MatArg* mats, int count, int32_t* k, int32_t* m) {
  *k = 0, *m = 0;
  for (int i = 0; i < count; ++i)
    if (mats[i].given) *k = std::max(*k, mats[i].rows), *m = std::max(*m, mats[i].cols);
  for (int i = 0; i < count; ++i) {
    const MatArg& a = mats[i];
    if (!a.given) continue;
    if (a.cols >= 2 && a.cols != *m) return kIncompatibleSize;
    if (a.rows >= 2 && a.rows != *k) return kIncompatibleSize;
    if (a.rows > 0 && a.cols == 0 && *m > 0) return kIncompatibleSize;  // nothing to repeat
  }
  return kOk;
}

// Curve i's n values of a: its row copied whole when it has n columns (rows
// are contiguous), else its one value repeated; without a, 1 .. n.
void put_row(PlotWriter* w, const MatArg& a, int32_t i, int32_t n) {
  double* out = w->data + w->used;
  w->used += n;
  if (!a.given) {
    for (int32_t p = 0; p < n; ++p) out[p] = double(p + 1);
  } else if (a.cols == n && n >= 2) {
    std::memcpy(out, a.re + int64_t(a.rows >= 2 ? i : 0) * a.cols, sizeof(double) * size_t(n));
  } else {
    for (int32_t p = 0; p < n; ++p) out[p] = elem(a, i, p);
  }
}

void write_xy(PlotWriter* w, Subplot* s, int32_t code, double id, int32_t index, const StyleSpec& st, int32_t m,
              bool staircase, const MatArg& x, const MatArg& y, const MatArg* z, int32_t i) {
  const int32_t n = curve_points(m, staircase);
  const int32_t planes = z ? 3 : 2;
  plotwriter_begin_record(w, code, id, index, &st, 1 + planes * n);
  const int32_t first = w->used;
  plotwriter_put(w, n);
  if (staircase) {
    auto xv = [&](int32_t j) { return x.given ? elem(x, i, j) : double(j + 1); };
    for (int32_t p = 0; p < n; ++p) plotwriter_put(w, xv((p + 1) / 2));
    for (int32_t p = 0; p < n; ++p) plotwriter_put(w, elem(y, i, p / 2));
  } else {
    put_row(w, x, i, n);
    put_row(w, y, i, n);
    if (z) put_row(w, *z, i, n);
  }
  const double* data = w->data + first + 1;
  subplot_autoscale_to_data(s, data, data + n, z ? data + 2 * n : nullptr, n);
}

}  // namespace

int plot_cmd_plot(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool three_d, bool ids_allowed) {
  int style_at = -1;
  for (int a = 0; a < nargin && style_at < 0; ++a)
    if (stk_is_char(ctx, nargin - 1 - a)) style_at = a;
  const int numeric = style_at < 0 ? nargin : style_at;
  const int after = style_at < 0 ? 0 : nargin - style_at - 1;
  if (after > 1 || (after == 1 && !ids_allowed)) return kWrongType;
  if (three_d ? numeric != 3 : (numeric < 1 || numeric > 2)) return kWrongType;
  double id = kNoId;
  if (after == 1) TN_TRY(stk_get_real_scalar(ctx, 0, &id));
  StyleArg style;
  if (style_at >= 0) TN_TRY(arg_style(ctx, nargin, style_at, &style));
  MatArg mats[3];  // x, y, z
  MatArg& x = mats[0];
  MatArg& y = mats[1];
  MatArg& z = mats[2];
  if (three_d) {
    TN_TRY(arg_matrix(ctx, nargin, 0, &x));
    TN_TRY(arg_matrix(ctx, nargin, 1, &y));
    TN_TRY(arg_matrix(ctx, nargin, 2, &z));
  } else if (numeric == 2) {
    TN_TRY(arg_matrix(ctx, nargin, 0, &x));
    TN_TRY(arg_matrix(ctx, nargin, 1, &y));
  } else {
    TN_TRY(arg_matrix(ctx, nargin, 0, &y));
  }
  int32_t k, m;
  TN_TRY(plot_sizes(mats, 3, &k, &m));
  const bool nothing = (x.given && x.rows == 0) || y.rows == 0 || (z.given && z.rows == 0);
  int64_t room = 0;
  if (!nothing)
    for (int32_t i = 0; i < k; ++i) {
      StyleSpec st;
      TN_TRY(style_of(style, i, kDefaultCurveBits, nullptr, &st));
      room += kRecHead + 1 + int64_t(three_d ? 3 : 2) * curve_points(m, !three_d && stairs(st));
    }
  TN_TRY(command_room(list, room));
  command_open(list, s);
  if (!nothing) {
    PlotWriter w = command_writer(list);
    for (int32_t i = 0; i < k; ++i) {
      StyleSpec st;
      style_of(style, i, kDefaultCurveBits, nullptr, &st);
      if (three_d) {
        subplot_set_3d(s, 1);
        write_xy(&w, s, kCodePolyline3, id, i + 1, st, m, false, x, y, &z, i);
      } else {
        write_xy(&w, s, kCodePolyline, id, i + 1, st, m, stairs(st), x, y, nullptr, i);
      }
    }
    *list.used = w.used;
  }
  command_done(ctx, nargin);
  return kOk;
}

int plot_cmd_polar(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  TN_TRY(arg_refuse_text(ctx, nargin, 0, 2));
  TN_TRY(stk_argcheck(ctx, nargin, "CC[Sr"));
  double id = kNoId;
  if (nargin >= 4) TN_TRY(stk_get_real_scalar(ctx, nargin - 4, &id));
  StyleArg style;
  if (nargin >= 3) TN_TRY(arg_style(ctx, nargin, 2, &style));
  MatArg theta, rho;
  TN_TRY(arg_matrix(ctx, nargin, 0, &theta));
  TN_TRY(arg_matrix(ctx, nargin, 1, &rho));
  const bool either_empty = int64_t(theta.rows) * theta.cols == 0 || int64_t(rho.rows) * rho.cols == 0;
  if (theta.rows == rho.rows || theta.rows == 1) {
    if (theta.cols != rho.cols && !either_empty) return kIncompatibleSize;
  } else if (rho.rows != 1 || theta.cols != rho.cols) {
    return kIncompatibleSize;
  }
  const int32_t k = std::max(theta.rows, rho.rows);
  // An empty operand leaves nothing to pair: its curves have no points.
  const int32_t m = either_empty ? 0 : theta.cols;
  for (int32_t i = 0; i < k; ++i) {
    StyleSpec st;
    TN_TRY(style_of(style, i, kDefaultCurveBits, nullptr, &st));
  }
  TN_TRY(command_room(list, int64_t(k) * (2 * int64_t(m) + kRecHead + 1)));
  command_open(list, s);
  subplot_set_scale_flags(s, kScaleEqualAspect, kEqualAspectMask);
  PlotWriter w = command_writer(list);
  for (int32_t i = 0; i < k; ++i) {
    StyleSpec st;
    style_of(style, i, kDefaultCurveBits, nullptr, &st);
    plotwriter_begin_record(&w, kCodePolyline, id, i + 1, &st, 1 + 2 * m);
    const int32_t first = w.used;
    plotwriter_put(&w, m);
    for (int32_t j = 0; j < m; ++j) plotwriter_put(&w, std::cos(elem(theta, i, j)) * elem(rho, i, j));
    for (int32_t j = 0; j < m; ++j) plotwriter_put(&w, std::sin(elem(theta, i, j)) * elem(rho, i, j));
    s->polar = 1;
    subplot_autoscale_to_data(s, w.data + first + 1, w.data + first + 1 + m, nullptr, m);
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}
