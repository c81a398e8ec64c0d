// Drawing a figure of two subplots, the second selected, through the
// recording driver: pinned as golden logs with the selection mark through
// the mark entry, through the frame entry, and as a polyline. Also the
// selection operations' answers and a list damaged after it was committed.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/fake_host.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "runtime/plot_lists.h"
#include "runtime/runtime_status.h"
#include "tools/imagetools/image_builder.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"

namespace {

using tnbuild::Builder;

constexpr uint32_t kBytes = 2u << 20;
const char kFigure[] =
    "instance demo\n"
    "var x\n"
    "figure \"Two\"\n"
    "plot demo_plot(x)\n";

struct Figure : ::testing::Test {
  FakeHost host;
  recdrv::Recorder rec;
  RuntimeBlock* b = nullptr;
  const GraphicsDriver* initial_driver = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    initial_driver = host.block->h.driver;
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, {});
    ASSERT_TRUE(builder.build(kFigure)) << builder.error;
    ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
    ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 400, 0, 200), 0);
    b = host.block;
    rt_set_graphics_driver(b, &rec.table);
    rt_set_graphics_context(b, &rec.context);
    // Subplot 0: a line with a NaN gap; subplot 1: red circle markers.
    const double x0[4] = {0, 1, 2, 3}, y0[4] = {0, 1, NAN, 3};
    const double x1[3] = {1, 2, 3}, y1[3] = {3, 1, 2};
    ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
    InstanceRec* r = inst_find_by_id(b, 0);
    PlotWriter w{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, 0};
    const StyleSpec styles[2] = {{0x8, 0, 0, 0}, {0x1c4, 255, 0, 0}};
    const double* xs[2] = {x0, x1};
    const double* ys[2] = {y0, y1};
    const int32_t ns[2] = {4, 3};
    for (int k = 0; k < 2; ++k) {
      ASSERT_TRUE(plotlist_open_object(w.data, w.capacity, &w.used, k));
      Subplot* s = &r->subplots[k];
      subplot_begin_autoscale(s);
      subplot_autoscale_to_data(s, xs[k], ys[k], nullptr, ns[k]);
      ASSERT_EQ(plotwriter_begin_record(&w, kCodePolyline, -1, 1, &styles[k], 1 + 2 * ns[k]), 0);
      plotwriter_put(&w, ns[k]);
      for (int i = 0; i < ns[k]; ++i) plotwriter_put(&w, xs[k][i]);
      for (int i = 0; i < ns[k]; ++i) plotwriter_put(&w, ys[k][i]);
    }
    b->h.build.used = w.used;
    plotstore_commit_list(b);
    r->selection = 2;
  }
};

TEST_F(Figure, TwoSubplotsWithTheMarkThroughTheMarkEntry) {
  figure_draw(b, 0);
  expect_golden(rec.take(), "figure_mark_entry.log");
}

TEST_F(Figure, MarksFallBackToTheFrameEntryThenToAPolyline) {
  rec.table.focus_rect = nullptr;
  figure_draw(b, 0);
  expect_golden(rec.take(), "figure_frame_entry.log");
  rec.table.frame_rect = nullptr;
  inst_find_by_id(b, 0)->free_layout = 1;  // free layout adds the four corner handles
  figure_draw(b, 0);
  expect_golden(rec.take(), "figure_polyline_marks.log");
}

TEST_F(Figure, SelectionAnswersByTheMarkEntry) {
  EXPECT_EQ(inst_set_selection(b, 0, 1, true), 0);  // mark entry: 1 on, 2 off
  EXPECT_EQ(rec.take(),
            "focus_rect 0 0 200 200 mode=1\n"
            "focus_rect 200 0 400 200 mode=0\n");
  rec.table.focus_rect = nullptr;
  EXPECT_EQ(inst_set_selection(b, 0, 3, true), kRtHandledRedraw);
  EXPECT_EQ(rec.take(), "frame_rect 200 0 400 200\n");
  EXPECT_EQ(inst_set_selection(b, 0, 0, false), kRtHandledRedraw);
  EXPECT_EQ(rec.take(), "");
  EXPECT_EQ(inst_set_selection(b, 7, 0, true), kRtNonexistentInstance);
}

TEST_F(Figure, DamagedListsDrawWhatAddsUp) {
  int32_t pos = 0, length = 0;
  PlotStore* store = rt_plot_store(b);
  ASSERT_TRUE(plotstore_find(store, 0, &pos, &length));
  double* list = plotstore_data(store) + pos;
  list[7 + 5] = 1e9;     // the first polyline's count runs past the list
  list[6] = 40;          // the opening record names a subplot beyond the grid's cells
  figure_draw(b, 0);
  const std::string log = rec.take();
  EXPECT_EQ(log.find("polyline"), std::string::npos) << log;
  EXPECT_NE(log.find("fill_rect 0 0 400 200 kind=0"), std::string::npos) << log;
}

TEST_F(Figure, TheEmptyDriverDrawsNothing) {
  EXPECT_EQ(initial_driver, &kEmptyGraphicsDriver);
  rt_set_graphics_driver(b, initial_driver);
  figure_draw(b, 0);
  EXPECT_EQ(rec.take(), "");
}

}  // namespace

namespace {

TEST_F(Figure, WithoutACurrentSubplotTheWholeFigureIsDrawn) {
  InstanceRec* r = inst_find_by_id(b, 0);
  r->selection = 0;
  ASSERT_EQ(inst_draw_current_subplot(&b, 0, 0, 100, 0, 50), 0);
  EXPECT_NE(rec.take().find("fill_rect 0 0 400 200 kind=0"), std::string::npos);
  // Subplot 1 is current: it has no plot handler, but objects in the list
  // (as a cell that another cell's handler draws into): they alone are
  // drawn, in the rectangle, and its frame goes back afterwards.
  r->selection = 2;
  const double right = r->subplots[1].rectRight;
  ASSERT_EQ(inst_draw_current_subplot(&b, 0, 0, 100, 0, 50), 0);
  const std::string alone = rec.take();
  EXPECT_EQ(alone.find("fill_rect 0 0 400 200 kind=0"), std::string::npos) << alone;
  EXPECT_NE(alone.find("clip_begin 0 100 0 50"), std::string::npos) << alone;
  EXPECT_NE(alone.find("style=0x1c4/255,0,0"), std::string::npos) << alone;
  EXPECT_EQ(alone.find("style=0x8/"), std::string::npos) << alone;
  EXPECT_EQ(r->subplots[1].rectRight, right);
  // In a free layout the frame that comes back is the subplot's own.
  ASSERT_EQ(inst_layout_to_free(b, 0), 0);
  subplot_set_rect(&r->subplots[1], 230, 380, 30, 170);
  r->selection = 2;
  ASSERT_EQ(inst_draw_current_subplot(&b, 0, 0, 100, 0, 50), 0);
  rec.take();
  double own[4] = {};
  subplot_get_rect(&r->subplots[1], &own[0], &own[1], &own[2], &own[3]);
  EXPECT_EQ(std::vector<double>(own, own + 4), (std::vector<double>{230, 380, 30, 170}));
  // A current subplot with neither: the whole figure.
  ASSERT_EQ(inst_set_grid(b, 0, 1, 3), 0);
  r->selection = 4;
  ASSERT_EQ(inst_draw_current_subplot(&b, 0, 0, 100, 0, 50), 0);
  EXPECT_NE(rec.take().find("fill_rect 0 0 400 200 kind=0"), std::string::npos);
  EXPECT_EQ(inst_draw_current_subplot(&b, 9, 0, 10, 0, 10), kRtNonexistentInstance);
}

}  // namespace

namespace {

TEST_F(Figure, AListBeingBuiltIsDrawnFromTheBuildArea) {
  ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);  // frees the committed list
  PlotWriter w{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, 0};
  ASSERT_TRUE(plotlist_open_object(w.data, w.capacity, &w.used, 0));
  ASSERT_EQ(plotwriter_begin_record(&w, kCodePolyline, -1, 1, nullptr, 3), 0);
  for (double v : {1.0, 2.0, 2.0}) plotwriter_put(&w, v);
  ASSERT_TRUE(plotlist_open_object(w.data, w.capacity, &w.used, 1));
  b->h.build.used = w.used;
  int32_t start = 0;
  EXPECT_FALSE(plot_draw_objects(b, 0, &start, false, &rec.table, &rec.context));  // no subplot being drawn
  b->h.build.subplot = 0;
  EXPECT_TRUE(plot_draw_objects(b, 0, &start, false, &rec.table, &rec.context));
  EXPECT_EQ(start, 16);
  EXPECT_NE(rec.take().find("polyline 1 style=0x0/0,0,0"), std::string::npos);
}

}  // namespace
