// Every cell of a layout answers the mouse: 1 x 2 and 2 x 2 layouts made by
// the declaration (a figure of its own in each cell) and by one plot
// handler that draws every cell through `subplot`, with a point and a
// slider in each cell. A press, a drag and a release in each cell run the
// figure's handlers with that cell's element, and move only its own point
// or thumb.
#include "graphics/interact/figure_events.h"

#include <string>

#include "graphics/plotlist/plot_records.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function [p, v, log] = start()\n p = 2 * ones(1, 4);\n v = 2 * ones(1, 4);\n log = zeros(0, 3);\nendfunction\n"
    "function one(p, v, k)\n scale([0 10 0 10]);\n plot(p(k), 8, 'ro', k);\n"
    " slider('s', v(k), [0 10], '', 'k', 10 + k);\nendfunction\n"
    "function cells(p, v, r, c)\n for k = 1:r * c\n  subplot(r, c, k);\n  one(p, v, k);\n end\nendfunction\n"
    "function cells12(p, v)\n cells(p, v, 1, 2);\nendfunction\n"
    "function cells22(p, v)\n cells(p, v, 2, 2);\nendfunction\n"
    "function one1(p, v)\n one(p, v, 1);\nendfunction\n"
    "function one2(p, v)\n one(p, v, 2);\nendfunction\n"
    "function one3(p, v)\n one(p, v, 3);\nendfunction\n"
    "function one4(p, v)\n one(p, v, 4);\nendfunction\n"
    "function log = pressed(log, id, x)\n log = [log; 1 id x];\nendfunction\n"
    "function log = released(log, id, x)\n log = [log; 3 id x];\nendfunction\n"
    "function [p, v, log] = moved(p, v, log, id, x1)\n"
    " if id > 10\n  v(id - 10) = x1;\n else\n  p(id) = x1;\n end\n log = [log; 2 id x1];\nendfunction\n";

const char kMouse[] =
    "press -1 log = pressed(log, _id, _x)\n"
    "drag -1 [p, v, log] = moved(p, v, log, _id, _x1)\n"
    "release -1 log = released(log, _id, _x)\n";

const char kHead[] = "instance demo\nvar p\nvar v\nvar log\ninit [p, v, log] = start()\n";

// One figure whose handler lays out rows x cols cells with `subplot`.
std::string by_subplot(int rows, int cols) {
  return std::string(kHead) + "figure \"F\"\nplot cells" + std::to_string(rows) + std::to_string(cols) +
         "(p, v)\n" + kMouse;
}

// The declaration's layout: figure k (with handlers of its own) in cell k.
std::string by_declaration(int rows, int cols) {
  std::string layout, figures;
  for (int k = 1; k <= rows * cols; ++k) {
    const std::string name(1, char('A' + k - 1));
    layout += name + (k == rows * cols ? "" : k % cols == 0 ? "\\n" : "\\t");
    figures += "figure \"" + name + "\"\nplot one" + std::to_string(k) + "(p, v)\n" + kMouse;
  }
  return std::string(kHead) + "declare \"_plots = sprintf('" + layout + "');\"\n" + figures;
}

struct Cells : Figure {
  // The slider record (code 59) of this id in the committed list: its
  // track's left and right ends and its middle row.
  bool slider(double id, double* left, double* right, double* y) {
    int32_t pos = 0, length = 0;
    if (!plotstore_find(rt_plot_store(host.block), 0, &pos, &length)) return false;
    const double* l = plotstore_data(rt_plot_store(host.block)) + pos;
    PlotReader r;
    plotreader_init(&r, l, length, 0);
    PlotRecord p;
    while (plotreader_next(&r, &p)) {
      if (p.code_int != 59 || p.head[kPlotRecId] != id) continue;
      const double* d = l + p.at + kRecHead;
      *left = d[3], *right = d[4], *y = (d[5] + d[6]) / 2;
      return *left < *right;
    }
    return false;
  }
  // The log rows from `from` on, as "kind id" pairs.
  std::string log_from(size_t from) {
    const std::vector<double> log = matrix("log");
    std::string out;
    for (size_t r = from; 3 * r + 2 < log.size(); ++r)
      out += (out.empty() ? "" : " ") + std::to_string(int(log[3 * r])) + ":" + std::to_string(int(log[3 * r + 1]));
    return out;
  }
  size_t log_rows() { return matrix("log").size() / 3; }
  // The sliders in the committed list.
  int sliders() {
    int32_t pos = 0, length = 0;
    if (!plotstore_find(rt_plot_store(host.block), 0, &pos, &length)) return 0;
    PlotReader r;
    plotreader_init(&r, plotstore_data(rt_plot_store(host.block)) + pos, length, 0);
    PlotRecord p;
    int n = 0;
    while (plotreader_next(&r, &p)) n += p.code_int == 59;
    return n;
  }

  // Press, drag and release on the point, then on the slider, of each cell
  // in turn; the others keep their values.
  void every_cell(const std::string& description, int cells) {
    ASSERT_NO_FATAL_FAILURE(open(description, kSource));
    ASSERT_EQ(inst()->rows * inst()->cols, cells);
    figure_draw(host.block, 0);  // painted once, as the view does: the controls are laid out
    rec.take();
    std::vector<double> p(4, 2.0), v(4, 2.0);
    for (int k = 0; k < cells; ++k) {
      SCOPED_TRACE("cell " + std::to_string(k + 1));
      const std::string id = std::to_string(k + 1), slider_id = std::to_string(11 + k);
      // The point: pressed where it is, dragged to x = 3, released.
      size_t from = log_rows();
      EXPECT_EQ(down(k, 2, 8), kRtHandledRedraw);
      EXPECT_EQ(move(k, 3, 7), kRtHandledRedraw);
      EXPECT_EQ(up(), kRtHandledRedraw);
      p[size_t(k)] = 3;
      EXPECT_EQ(log_from(from), "1:" + id + " 2:" + id + " 2:" + id + " 3:" + id);
      expect_near(matrix("p"), p);
      // The slider: pressed at 3, dragged to 8, released.
      figure_draw(host.block, 0);  // the view paints after each redraw
      rec.take();
      double left = 0, right = 0, y = 0;
      ASSERT_TRUE(slider(11 + k, &left, &right, &y));
      const auto at = [&](double value) { return left + (right - left) * value / 10; };
      from = log_rows();
      EXPECT_EQ(interact_mouse_down(h(), 0, at(3), y, 0), kRtHandledRedraw);
      figtest::g_now += 1.0;
      EXPECT_EQ(interact_mouse_move(h(), 0, at(8), y, 0, nullptr, 0, nullptr), kRtHandledRedraw);
      EXPECT_EQ(up(), kRtHandledRedraw);
      v[size_t(k)] = 8;
      EXPECT_EQ(log_from(from), "1:" + slider_id + " 2:" + slider_id + " 2:" + slider_id + " 3:" + slider_id);
      expect_near(matrix("v"), v);
    }
  }
  void expect_near(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t j = 0; j < want.size(); ++j) EXPECT_NEAR(got[j], want[j], 0.05) << j;
  }
};

TEST_F(Cells, SubplotOneByTwo) { every_cell(by_subplot(1, 2), 2); }
TEST_F(Cells, SubplotTwoByTwo) { every_cell(by_subplot(2, 2), 4); }
TEST_F(Cells, DeclaredOneByTwo) { every_cell(by_declaration(1, 2), 2); }
TEST_F(Cells, DeclaredTwoByTwo) { every_cell(by_declaration(2, 2), 4); }

// A cell that another cell's handler draws takes the figure's mouse
// handlers but not its plot handler: the figure is drawn once, and the
// layout kept for undo, `subplots` and the figure menu see it as empty.
TEST_F(Cells, ACellDrawnThroughSubplotSharesTheFigureWithoutItsPlotHandler) {
  open(by_subplot(1, 2), kSource);
  figure_draw(host.block, 0);
  const Subplot& right = sp(1);
  EXPECT_EQ(right.handlerWords[kSubplotFigureWord], sp(0).handlerWords[kSubplotFigureWord]);
  EXPECT_LT(right.handlerWords[kSubplotPlotHandlerWord], 0);
  EXPECT_EQ(inst_own_figure(right), kEmptyFigure);
  EXPECT_EQ(inst_own_figure(sp(0)), sp(0).handlerWords[kSubplotFigureWord]);
  // Undo and redo of a drag in the right-hand cell keep it answering.
  EXPECT_EQ(down(1, 2, 8), kRtHandledRedraw);
  EXPECT_EQ(move(1, 3, 8), kRtHandledRedraw);
  EXPECT_EQ(up(), kRtHandledRedraw);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_NEAR(matrix("p")[1], 2, 0.05);
  EXPECT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
  EXPECT_NEAR(matrix("p")[1], 3, 0.05);
  figure_draw(host.block, 0);
  EXPECT_EQ(down(1, 3, 8), kRtHandledRedraw);
  EXPECT_EQ(up(), kRtHandledRedraw);
  EXPECT_EQ(sliders(), 2) << "the handler drew both cells once";
  // The stored layout holds the right-hand cell as empty: brought back on a
  // grid that lost it, it is shared again by the redraw, not drawn twice.
  ASSERT_EQ(inst_layout_to_array(host.block, 0), 0);  // as a change of the view stores it
  ASSERT_EQ(inst_set_grid(host.block, 0, 1, 1), 0);
  ASSERT_EQ(inst_apply_stored(host.block, 0), 0);
  EXPECT_EQ(inst()->cols, 2);
  EXPECT_EQ(sp(1).handlerWords[kSubplotPlotHandlerWord] >= 0, false);
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  EXPECT_EQ(sliders(), 2);
  EXPECT_EQ(sp(1).handlerWords[kSubplotPlotHandlerWord], kPlotByOtherCell);
}

}  // namespace
