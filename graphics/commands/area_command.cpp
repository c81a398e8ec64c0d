// area: filled bands, one per column of y, each closed down to the base
// level. Without x, or with one x column, the bands stack: band c shows the
// sum of columns 0..c. Bands are written last column first, so the larger
// sums lie under the smaller ones.
#include <algorithm>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kDefaultColourCount = 7;
// Colour indices of the default band colours: blue, red, green, yellow,
// black, cyan, magenta.
constexpr uint32_t kDefaultColours[kDefaultColourCount] = {1, 4, 2, 6, 0, 3, 5};

// Column c of a matrix whose single column serves every band.
int32_t col_of(const MatArg& a, int32_t c) { return a.cols > 1 ? c : 0; }

}  // namespace

uint32_t command_default_colour_bits(int32_t i) { return kDefaultColours[i % kDefaultColourCount]; }

int plot_cmd_area(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed) {
  int style_at = -1;
  for (int a = 0; a < nargin && style_at < 0; ++a)
    if (stk_is_char(ctx, nargin - 1 - a)) style_at = a;
  int first = 0;  // the first argument read
  int numeric;
  double id = kNoId;
  StyleArg style;
  if (style_at >= 0) {
    numeric = style_at;
    const int after = nargin - style_at - 1;
    if (numeric < 1 || numeric > 3 || after > 1 || (after == 1 && !ids_allowed)) return kBadArgument;
    if (after == 1) TN_TRY(stk_get_real_scalar(ctx, 0, &id));
    TN_TRY(arg_style(ctx, nargin, style_at, &style));
  } else {
    if (nargin > 4) return kBadArgument;
    numeric = nargin;
    if (numeric == 4) first = 1, numeric = 3;  // the first of four is not read
  }
  double base = 0.0;
  if (numeric == 3) TN_TRY(stk_get_real_scalar(ctx, nargin - 1 - (first + 2), &base));
  MatArg x, y;
  if (numeric >= 2) {
    TN_TRY(arg_matrix(ctx, nargin, first, &x));
    TN_TRY(arg_matrix(ctx, nargin, first + 1, &y));
  } else {
    TN_TRY(arg_matrix(ctx, nargin, first, &y));
  }
  const bool x_empty = x.given && int64_t(x.rows) * x.cols == 0;
  const bool y_empty = int64_t(y.rows) * y.cols == 0;
  // Columns pair up when equal or when one side has a single column;
  // rows pair up point by point.
  if (x.given && !x_empty && !y_empty) {
    if (x.cols != y.cols && x.cols != 1 && y.cols != 1) return kIncompatibleSize;
    if (x.rows != y.rows) return kIncompatibleSize;
  }
  const int32_t m = x.given ? x.rows : y.rows;
  const int32_t bands = std::max(x.given ? x.cols : 1, y.cols);
  const bool nothing = x_empty || y_empty;
  const int32_t count = nothing ? 0 : bands;
  for (int32_t i = 0; i < count; ++i) {
    StyleSpec st;
    TN_TRY(style_of(style, i, command_default_colour_bits(i), nullptr, &st));
  }
  const int64_t band_doubles = 2 * (int64_t(m) + 2) + kRecHead + 1;
  TN_TRY(command_room(list, count * band_doubles));
  command_open(list, s);
  const bool stacked = !x.given || x.cols == 1;
  PlotWriter w = command_writer(list);
  const int32_t start = w.used;
  auto xv = [&](int32_t j, int32_t c) { return x.given ? x.at(j, col_of(x, c)) : double(j + 1); };
  for (int32_t i = 0; i < count; ++i) {
    const int32_t c = bands - 1 - i;
    StyleSpec st;
    style_of(style, i, command_default_colour_bits(i), nullptr, &st);
    st.bits |= kStyleBitFill;
    plotwriter_begin_record(&w, kCodePolyline, id, c + 1, &st, 1 + 2 * (m + 2));
    plotwriter_put(&w, m + 2);
    plotwriter_put(&w, m > 0 ? xv(0, c) : 0.0);
    for (int32_t j = 0; j < m; ++j) plotwriter_put(&w, xv(j, c));
    plotwriter_put(&w, m > 0 ? xv(m - 1, c) : 0.0);
    plotwriter_put(&w, base);
    for (int32_t j = 0; j < m; ++j) plotwriter_put(&w, y.at(j, col_of(y, c)));
    plotwriter_put(&w, base);
  }
  // Stacking: running sums from the first column on, into the records of
  // the bands (band of column c is the (bands-1-c)-th record).
  auto y_data = [&](int32_t c) { return w.data + start + (bands - 1 - c) * band_doubles + kRecHead + 1 + (m + 2) + 1; };
  if (stacked && y.cols > 1)
    for (int32_t c = 1; c < count; ++c)
      for (int32_t j = 0; j < m; ++j) y_data(c)[j] += y_data(c - 1)[j];
  for (int32_t i = 0; i < count; ++i) {
    const double* d = w.data + start + i * band_doubles + kRecHead + 1;
    subplot_autoscale_to_data(s, d, d + m + 2, nullptr, m + 2);
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}
