// End to end without a screen: a built application's plot handler calls
// plot, fplot, bar, line and circle on a framed subplot with its grid on;
// the refresh runs it and figure_draw draws the figure through the
// recording driver, pinned as a golden log. The hit test at a plotted point
// fills the manipulation state, and the press handler run with that event
// reads the curve's _id and the point's _ix.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "graphics/interact/hit_test.h"
#include "graphics/plotlist/plot_records.h"
#include "runtime/app_fixture.h"
#include "runtime/figure_draw.h"
#include "runtime/plot_demo_app.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"

namespace {

constexpr double kWidth = 400, kHeight = 300;

struct PlotDemo : apptest::App {
  recdrv::Recorder rec;
  void SetUp() override {
    App::SetUp();
    ASSERT_NO_FATAL_FAILURE(plotdemo::open_plot_demo(&host, kWidth, kHeight));
    rt_set_graphics_driver(host.block, &rec.table);
    rt_set_graphics_context(host.block, &rec.context);
  }
  Subplot& s() { return inst_find_by_id(host.block, 0)->subplots[0]; }
  // The hit test at pixel (px, py) over the subplot's section of the list.
  void hit(double px, double py) {
    RuntimeBlock* b = host.block;
    int32_t pos = 0, length = 0, start = 0;
    ASSERT_TRUE(plotstore_find(rt_plot_store(b), 0, &pos, &length));
    double* list = plotstore_data(rt_plot_store(b)) + pos;
    ASSERT_TRUE(plotlist_section_start(list, length, 0, &start));
    ASSERT_TRUE(plotlist_hit_test_section(list, length, start, 0, &s(), px, py, kHitTolerance, 0, 0, &b->h.manip,
                                          &rec.table, &rec.context, nullptr));
  }
};

TEST_F(PlotDemo, TheHandlersFigureMatchesItsGoldenLog) {
  figure_draw(host.block, 0);
  const std::string log = rec.take();
  expect_golden(log, "plot_demo_figure.log");
  // What the log must hold, whatever else changes: the grid, the red curve,
  // the blue sampled one, the bars, the line and the green circle.
  for (const char* piece : {"polyline 2 style=0x100/204,204,204", "polyline 5 style=0x4/255,0,0",
                            "polyline 101 style=0x1/0,0,255", "polyline 5 style=0x21/", "ellipse 215.75 150",
                            "polyline 2 style=0x0/0,0,0 (13.31,274) (1459.31,26)"})
    EXPECT_NE(log.find(piece), std::string::npos) << piece;
}

TEST_F(PlotDemo, AHitAtAPlottedPointGivesTheCurvesIdAndThePointsIndex) {
  figure_draw(host.block, 0);
  rec.take();
  double px = 0, py = 0;
  subplot_data_to_pixel(&s(), &plotdemo::kHitX, &plotdemo::kHitY, nullptr, 1, &px, &py, nullptr);
  ASSERT_GT(px, s().frameLeft);
  ASSERT_LT(px, s().frameRight);
  hit(px + 2, py - 1);  // a pixel or two off the point still hits it
  const ManipState& m = host.block->h.manip;
  ASSERT_EQ(m.valid & kManipPointHit, uint32_t(kManipPointHit));
  EXPECT_EQ(m.id, plotdemo::kCurveId);
  EXPECT_EQ(m.ix, plotdemo::kHitIndex);
  EXPECT_EQ(m.x0, plotdemo::kHitX);
  EXPECT_EQ(m.y0, plotdemo::kHitY);
  // The press handler, run with the event, reads them as _id and _ix.
  ASSERT_EQ(call(record(kTagMousePress), true, 0), 0);
  EXPECT_EQ(value("x"), 100 * plotdemo::kCurveId + plotdemo::kHitIndex);
  // Far from every curve with an id: no element, _id empty.
  hit(s().frameLeft + 1, s().frameTop + 1);
  EXPECT_EQ(host.block->h.manip.valid & kManipId, 0u);
  ASSERT_EQ(call(record(kTagMousePress), true, 0), 0);
  EXPECT_TRUE(std::isnan(value("x")));
}

}  // namespace

namespace {

// A plot handler that lays its figure out itself with subplot: the grid
// change resets the subplots' axes but keeps their figure and handler words,
// so the next refresh finds the handler again.
TEST(SubplotInAHandler, TheGridChangeKeepsTheHandlerForTheNextRefresh) {
  FakeHost host;
  ASSERT_EQ(host.start(plotdemo::kBlockBytes, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host.block, {{"demo", "function demo_plot(x)\n"
                                                 "  subplot(2, 2, 1);\n  plot([1 2 3], [1 2 3]);\n"
                                                 "  subplot(2, 2, 4);\n  plot([3 2 1], [1 2 3]);\n"
                                                 "endfunction\n"}});
  ASSERT_TRUE(builder.build("instance demo\nvar x\nfigure \"Grid\"\nplot demo_plot(x)\n")) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 400, 0, 300), 0);
  for (int refresh = 0; refresh < 3; ++refresh) ASSERT_EQ(inst_refresh(&host.block, 0), 0) << refresh;
  const InstanceRec* rec = inst_find_by_id(host.block, 0);
  EXPECT_EQ(rec->rows, 2);
  EXPECT_EQ(rec->cols, 2);
}

}  // namespace
