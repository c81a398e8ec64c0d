// bar and barh: one bar record per series (matrix row), bars at the x
// positions or 1..m. Grouped series sit side by side within d*w2 of each
// position, interleaved ones take their rows in pairs (bases, values),
// stacked ones show running sums and are written largest first.
#include <algorithm>
#include <cmath>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr double kDefaultWidth = 0.8;
constexpr double kBarFlagHorizontal = 1, kBarFlagBases = 2;
constexpr int32_t kBarFixed = 3;  // flags, width, m
enum class Kind { kGrouped, kStacked, kInterleaved };

int parse_kind(const StyleArg& k, Kind* out) {
  if (k.length <= 0) return kUnknownOption;
  switch (k.text[0]) {
    case 's': case 'S': *out = Kind::kStacked; return kOk;
    case 'i': case 'I': *out = Kind::kInterleaved; return kOk;
    case 'g': case 'G': *out = Kind::kGrouped; return kOk;
    default: return kUnknownOption;
  }
}

// Widens one axis (x when `on_x`) to the values.
void widen(Subplot* s, bool on_x, const double* v, int32_t n) {
  if (on_x)
    subplot_autoscale_to_data(s, v, nullptr, nullptr, n);
  else
    subplot_autoscale_to_data(s, nullptr, v, nullptr, n);
}

}  // namespace

int plot_cmd_bar(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool horizontal) {
  int kind_at = -1;
  for (int a = 0; a < nargin && kind_at < 0; ++a)
    if (stk_is_char(ctx, nargin - 1 - a)) kind_at = a;
  const int numeric = kind_at < 0 ? nargin : kind_at;
  if (numeric < 1 || numeric > 3) return kBadArgument;
  Kind kind = Kind::kGrouped;
  StyleArg kind_text, style;
  double id = kNoId;
  if (kind_at >= 0) {
    int32_t len = 0;
    TN_TRY(stk_get_string_buf(ctx, nargin - 1 - kind_at, kind_text.text, kStyleTextBytes, &len));
    kind_text.length = len;
    TN_TRY(parse_kind(kind_text, &kind));
    const int after = nargin - kind_at - 1;
    int style_at = -1;
    if (after >= 1 && !stk_is_char(ctx, 0)) {
      TN_TRY(stk_get_real_scalar(ctx, 0, &id));
      style_at = nargin - 2;
      if (!stk_is_char(ctx, 1) || style_at < kind_at) return kBadArgument;
    } else if (after >= 2) {
      return kBadArgument;
    } else if (after == 1) {
      style_at = nargin - 1;
    }
    if (style_at >= 0) TN_TRY(arg_style(ctx, nargin, style_at, &style));
  }
  double w1 = kDefaultWidth, w2 = kDefaultWidth;
  if (numeric == 3) {
    MatArg wa;
    TN_TRY(arg_matrix(ctx, nargin, 2, &wa));
    const int64_t count = int64_t(wa.rows) * wa.cols;
    if (count > 2) return kBadSize;
    if (count >= 1) w1 = wa.re[0];
    if (count == 2) w2 = wa.re[1];
  }
  MatArg x, y;
  TN_TRY(arg_matrix(ctx, nargin, numeric >= 2 ? 1 : 0, &y));
  if (numeric >= 2) TN_TRY(arg_matrix(ctx, nargin, 0, &x));
  const int32_t m = y.cols;
  const bool with_x = x.given && int64_t(x.rows) * x.cols > 0;
  if (with_x && x.cols != m) return kIncompatibleSize;
  const bool interleaved = kind == Kind::kInterleaved;
  if (interleaved && y.rows % 2 != 0) return kBadSize;
  const int32_t series = interleaved ? y.rows / 2 : y.rows;
  // Each series reads its own x row when x has several: one per series.
  if (with_x && x.rows != 1 && x.rows != series) return kIncompatibleSize;
  for (int32_t j = 0; j < series; ++j) {
    StyleSpec st;
    TN_TRY(style_of(style, j, command_default_colour_bits(j), nullptr, &st));
  }
  const int32_t n = (interleaved ? 3 : 2) * m + kBarFixed;
  TN_TRY(command_room(list, int64_t(series) * (kRecHead + n)));

  // Geometry.
  const double d = with_x && x.cols >= 2 ? x.at(0, 1) - x.at(0, 0) : 1.0;
  double width, offset = 0.0, step = 0.0;
  if (kind == Kind::kStacked) {
    width = w1;
  } else if (series >= 2) {
    step = d * w2 / ((series - 1) + w1);
    width = step * w1;
    offset = width / 2 - d * w2 / 2;
  } else {
    width = w1 * d;
  }
  command_open(list, s);
  PlotWriter w = command_writer(list);
  const int32_t start = w.used;
  const bool stacked = kind == Kind::kStacked;
  double shift = offset;
  for (int32_t r = 0; r < series; ++r) {
    const int32_t j = stacked ? series - 1 - r : r;
    StyleSpec st;
    style_of(style, j, command_default_colour_bits(j), nullptr, &st);
    st.bits |= kStyleBitFill;
    const int32_t xr = with_x && x.rows >= 2 ? r : 0;
    plotwriter_begin_record(&w, kCodeBars, id, interleaved ? 2 * r + 1 : r + 1, &st, n);
    plotwriter_put(&w, (horizontal ? kBarFlagHorizontal : 0) + (interleaved ? kBarFlagBases : 0));
    plotwriter_put(&w, width);
    plotwriter_put(&w, m);
    for (int32_t c = 0; c < m; ++c) plotwriter_put(&w, (with_x ? x.at(xr, c) : c + 1.0) + shift);
    if (interleaved) {
      for (int32_t c = 0; c < m; ++c) plotwriter_put(&w, y.at(2 * r + 1, c));
      for (int32_t c = 0; c < m; ++c) plotwriter_put(&w, y.at(2 * r, c));
    } else {
      for (int32_t c = 0; c < m; ++c) plotwriter_put(&w, y.at(j, c));
    }
    shift += step;
  }
  const int32_t rec_len = kRecHead + n;
  auto values = [&](int32_t r) { return w.data + start + r * rec_len + kRecHead + kBarFixed + m; };
  // Stacked: series j shows the sum of series 0..j; it is record series-1-j.
  if (stacked)
    for (int32_t j = 1; j < series; ++j)
      for (int32_t c = 0; c < m; ++c) values(series - 1 - j)[c] += values(series - j)[c];
  *list.used = w.used;

  // Value axis: 0 (not for interleaved) and every value; then the positions.
  const bool value_on_x = horizontal;
  if (!interleaved) {
    const double zero = 0.0;
    widen(s, value_on_x, &zero, 1);
  }
  for (int32_t r = 0; r < series; ++r) widen(s, value_on_x, values(r), interleaved ? 2 * m : m);
  if (series > 0 && m > 0) {
    double lo, hi;
    if (with_x) {
      double xmin = x.re[0], xmax = x.re[0];
      for (int64_t i = 0; i < int64_t(x.rows) * x.cols; ++i) xmin = std::min(xmin, x.re[i]), xmax = std::max(xmax, x.re[i]);
      lo = xmin + offset - width / 2;
      hi = (series - 1) * step + width / 2 + xmax + offset;
    } else {
      lo = offset + 1.0 - width / 2;
      hi = (series - 1) * step + m + width / 2 + offset;
    }
    const double ends[2] = {lo, hi};
    widen(s, !value_on_x, ends, 2);
  }
  command_done(ctx, nargin);
  return kOk;
}
