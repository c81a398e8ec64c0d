// quiver: a field of arrows written as ordinary polylines, a shaft and a
// three-point head per grid point. The x and the y spacing both divide
// their range by the column count less one; a spacing that cannot be used
// (all positions equal) borrows the other, and with a single column the
// rows' spacing serves, so no arrow scale is ever divided by zero.
#include <algorithm>
#include <cmath>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/image_commands.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kShaftPoints = 2, kHeadPoints = 3;
constexpr int64_t kArrowDoubles = 2 * kRecHead + 2 + 2 * (kShaftPoints + kHeadPoints);
static_assert(kArrowDoubles == 24);
constexpr double kLengthShare = 0.9;  // the longest arrow's share of the spacing
constexpr double kHeadShare = 0.3;
constexpr double kLeastSquare = 2.220446e-16;

bool usable(double d) { return d > 0 && std::isfinite(d); }

// Positions along one axis: a matrix of U's size, or one value per column
// (x) or row (y). Anything else is kIncompatibleSize.
int check_positions(const MatArg& p, int32_t rows, int32_t cols, bool along_columns) {
  if (!p.given || (p.rows == rows && p.cols == cols)) return kOk;
  const int64_t n = int64_t(p.rows) * p.cols;
  if ((p.rows == 1 || p.cols == 1) && n == (along_columns ? cols : rows)) return kOk;
  return kIncompatibleSize;
}

double position(const MatArg& p, int32_t r, int32_t c, int32_t rows, int32_t cols, bool along_columns) {
  if (!p.given) return along_columns ? c + 1 : r + 1;
  if (p.rows == rows && p.cols == cols) return p.at(r, c);
  return p.re[along_columns ? c : r];
}

// Smallest and largest finite position; 1 and count without positions.
void position_range(const MatArg& p, int32_t count, double* lo, double* hi) {
  *lo = 1.0, *hi = double(count);
  if (!p.given) return;
  *lo = INFINITY, *hi = -INFINITY;
  for (int64_t i = 0; i < int64_t(p.rows) * p.cols; ++i)
    if (std::isfinite(p.re[i])) *lo = std::min(*lo, p.re[i]), *hi = std::max(*hi, p.re[i]);
  if (*lo > *hi) *lo = *hi = 0.0;
}

void put_points(PlotWriter* w, const StyleSpec& st, const double* x, const double* y, int32_t m) {
  plotwriter_begin_record(w, kCodePolyline, -1, -1, &st, 1 + 2 * m);
  plotwriter_put(w, m);
  for (int32_t i = 0; i < m; ++i) plotwriter_put(w, x[i]);
  for (int32_t i = 0; i < m; ++i) plotwriter_put(w, y[i]);
}

}  // namespace

// quiver(U, V [, s [, style]]) or quiver(X, Y, U, V [, s [, style]]).
int plot_cmd_quiver(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  const bool positions = nargin >= 4 && !stk_is_char(ctx, nargin - 4);
  const int u_at = positions ? 2 : 0;
  if (nargin < u_at + 2) return kTooFewInputs;
  if (nargin > u_at + 4) return kTooManyInputs;
  MatArg x, y, u, v;
  TN_TRY(arg_matrix(ctx, nargin, u_at, &u));
  TN_TRY(arg_matrix(ctx, nargin, u_at + 1, &v));
  if (u.rows != v.rows || u.cols != v.cols) return kIncompatibleSize;
  const int32_t R = u.rows, C = u.cols;
  if (positions) {
    TN_TRY(arg_matrix(ctx, nargin, 0, &x));
    TN_TRY(arg_matrix(ctx, nargin, 1, &y));
    TN_TRY(check_positions(x, R, C, true));
    TN_TRY(check_positions(y, R, C, false));
  }
  double scale = 1.0;
  if (nargin > u_at + 2) TN_TRY(stk_get_real_scalar(ctx, nargin - 1 - (u_at + 2), &scale));
  StyleArg style;
  if (nargin > u_at + 3) TN_TRY(arg_style(ctx, nargin, u_at + 3, &style));
  StyleSpec st;
  TN_TRY(style_of(style, 0, kDefaultCurveBits, nullptr, &st));
  const int64_t arrows = int64_t(R) * C;
  if (arrows == 0) {
    command_done(ctx, nargin);
    return kOk;
  }
  TN_TRY(command_room(list, arrows * kArrowDoubles));
  command_open(list, s);
  double xmin, xmax, ymin, ymax;
  position_range(x, C, &xmin, &xmax);
  position_range(y, R, &ymin, &ymax);
  double dx = C > 1 ? (xmax - xmin) / (C - 1) : 0.0;
  double dy = C > 1 ? (ymax - ymin) / (C - 1) : 0.0;
  if (!usable(dx) && !usable(dy) && R > 1) dy = (ymax - ymin) / (R - 1);
  if (!usable(dx)) dx = usable(dy) ? dy : 1.0;
  if (!usable(dy)) dy = dx;
  const double xs[2] = {xmin - dx, xmax + dx}, ys[2] = {ymin - dy, ymax + dy};
  subplot_autoscale_to_data(s, xs, ys, nullptr, 2);
  const double spacing = std::min(dx, dy);
  const double head = (scale != 0 ? scale : 1.0) * spacing * kHeadShare;
  double l2 = kLeastSquare;
  for (int64_t i = 0; i < arrows; ++i) {
    const double q = u.re[i] * u.re[i] + v.re[i] * v.re[i];
    if (std::isfinite(q)) l2 = std::max(l2, q);
  }
  // Without a scale the arrows keep their own lengths, and the head is
  // sized by the column spacing in place of the longest arrow.
  if (scale == 0) l2 = dx;
  const double a = scale != 0 ? kLengthShare * scale * spacing / std::sqrt(l2) : 1.0;
  const double f = head / std::sqrt(l2);
  PlotWriter w = command_writer(list);
  for (int32_t r = 0; r < R; ++r)
    for (int32_t c = 0; c < C; ++c) {
      const double uu = u.at(r, c), vv = v.at(r, c);
      const double x0 = position(x, r, c, R, C, true), y0 = position(y, r, c, R, C, false);
      const double tx = x0 + a * uu, ty = y0 + a * vv;
      const double sx[kShaftPoints] = {x0, tx}, sy[kShaftPoints] = {y0, ty};
      put_points(&w, st, sx, sy, kShaftPoints);
      const double hx[kHeadPoints] = {tx - f * uu - f * vv / 2, tx, tx - f * uu + f * vv / 2};
      const double hy[kHeadPoints] = {ty - f * vv + f * uu / 2, ty, ty - f * vv - f * uu / 2};
      put_points(&w, st, hx, hy, kHeadPoints);
    }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}
