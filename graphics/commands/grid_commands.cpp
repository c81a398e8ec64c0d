// zgrid, sgrid, hgrid and ngrid: a chart record, or one record per chart
// value, in the chart style; a chart drawn first in its object widens the
// limits to the chart's natural extent, and every chart turns the grid on.
#include "graphics/commands/grid_commands.h"

#include <initializer_list>
#include <utility>

#include "engine/core/status.h"
#include "graphics/commands/command_args.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kChartTools = 0x7000;
constexpr uint32_t kChartGridBits = 0x2000;
constexpr uint32_t kChartDefaultBits = 256;
constexpr uint8_t kChartGrey = 204;
constexpr double kChartId = -1.0;

// The chart's natural extent, widened into the automatic limits.
void widen(Subplot* s, int32_t chart) {
  double x[2] = {-1.1, 1.1}, y[2] = {-1.1, 1.1};
  if (chart == kCodeSgrid) x[0] = y[0] = -0.001, x[1] = y[1] = 0.001;
  if (chart == kCodeNgrid) x[0] = -2 * kPi, x[1] = 0, y[0] = 0.1, y[1] = 2;
  subplot_autoscale_to_data(s, x, y, nullptr, 2);
}

}  // namespace

int plot_cmd_grid(EngineContext* ctx, int32_t chart, int32_t first_code, int32_t second_code,
                  int nargin, Subplot* s, CommandList list, const StyleSpec* chart_style) {
  const StyleSpec fallback{kChartDefaultBits, kChartGrey, kChartGrey, kChartGrey};
  const StyleSpec base = chart_style ? *chart_style : fallback;
  StyleSpec style = base;
  int values = nargin;
  if (nargin == 1 || nargin == 3) {
    StyleArg st;
    TN_TRY(arg_style(ctx, nargin, nargin - 1, &st));
    const uint8_t rgb[3] = {base.r, base.g, base.b};
    TN_TRY(style_of(st, 0, base.bits, rgb, &style));
    --values;
  }
  MatArg first, second;
  int64_t count = 0;
  if (values >= 2) {
    if (first_code < 0 || second_code < 0) return kBadArgument;
    TN_TRY(arg_matrix(ctx, nargin, 0, &first));
    TN_TRY(arg_matrix(ctx, nargin, 1, &second));
    count = int64_t(first.rows) * first.cols + int64_t(second.rows) * second.cols;
    TN_TRY(command_room(list, count * (kRecHead + 1)));
  } else {
    TN_TRY(command_room(list, kRecHead));
  }
  // In a figure the list already holds the subplot's opening record when
  // the plot handler runs: the chart is first when nothing follows it.
  const bool chart_first = command_object_empty(list);
  command_open(list, s);
  if (chart_first) widen(s, chart);
  PlotWriter w = command_writer(list);
  if (values >= 2) {
    // The last argument's values first, then the first argument's.
    for (const auto& [m, code] : {std::pair{&second, second_code}, std::pair{&first, first_code}})
      for (int64_t k = 0; k < int64_t(m->rows) * m->cols; ++k) {
        TN_TRY(plotwriter_begin_record(&w, code, kChartId, kChartId, &style, 1));
        plotwriter_put(&w, m->re[k]);
      }
  } else {
    TN_TRY(plotwriter_begin_record(&w, chart, kChartId, kChartId, &style, 0));
  }
  *list.used = w.used;
  subplot_set_tools(s, kChartTools, kChartGridBits);
  command_done(ctx, nargin);
  return kOk;
}
