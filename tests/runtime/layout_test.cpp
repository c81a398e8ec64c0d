// Subplot layout: grid clamps and cell moves, grid positions, the spring
// rule with its rigid and zero-sum cases, design size, value 100 and 102
// round trips in fixed and free layout, and handler resolution by element.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/runtime_status.h"
#include "engine/core/stack_ops.h"
#include "runtime/undo_store.h"
#include "tools/imagetools/image_builder.h"

namespace {

using tnbuild::Builder;

constexpr uint32_t kBytes = 2u << 20;

const char kFigures[] =
    "instance demo\n"
    "var x\n"
    "figure \"First\"\n"
    "plot demo_plot(x)\n"
    "press 5 x = demo_hit(_x)\n"
    "press -1 x = demo_any(_x)\n"
    "drag 7 x = demo_drag(_x)\n"
    "figure \"Second\"\n"
    "plot demo_plot2(x)\n";

const char kFigureSource[] =
    "function demo_plot(x)\nendfunction\nfunction demo_plot2(x)\nendfunction\n"
    "function x = demo_hit(p)\n x = p;\nendfunction\nfunction x = demo_any(p)\n x = p;\nendfunction\n"
    "function x = demo_drag(p)\n x = p;\nendfunction\n";

struct Layout : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  InstanceRec* rec = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, {{"demo", kFigureSource}});
    ASSERT_TRUE(builder.build(kFigures)) << builder.error;
    b = host.block;
    rec = inst_find_by_id(b, 0);
    ASSERT_NE(rec, nullptr);
  }
  int32_t figure(int n) {  // position of the n-th figure record
    int32_t pos = 0;
    for (int k = 0; k <= n; ++k) EXPECT_EQ(rec_find_tag(b, 0, &pos, kTagFigure), 0);
    return pos;
  }
};

TEST_F(Layout, GridRequestsAreClampedToTheMaximum) {
  struct Case { int32_t r, c, want_r, want_c; };
  const Case cases[] = {{6, 6, 5, 5}, {1, 30, 1, 25}, {5, 6, 5, 5}, {3, 9, 3, 8}, {0, 3, 0, 3}, {-2, 2, 0, 2}, {2, 2, 2, 2}};
  for (const Case& k : cases) {
    ASSERT_EQ(inst_set_grid(b, 0, k.r, k.c), 0);
    EXPECT_EQ(rec->rows, k.want_r) << k.r << "x" << k.c;
    EXPECT_EQ(rec->cols, k.want_c) << k.r << "x" << k.c;
  }
}

TEST_F(Layout, CellsKeepTheirRowAndColumnWhenColumnsGrowOrShrink) {
  ASSERT_EQ(inst_set_grid(b, 0, 2, 2), 0);
  for (int k = 0; k < 4; ++k) rec->subplots[k].trackedId = 100 + k;
  ASSERT_EQ(inst_set_grid(b, 0, 2, 3), 0);
  const int32_t want[6] = {100, 101, 0, 102, 103, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(rec->subplots[k].trackedId, want[k]) << k;
  EXPECT_EQ(rec->subplots[2].handlerWords[kSubplotFigureWord], kEmptyFigure);
  ASSERT_EQ(inst_set_grid(b, 0, 2, 1), 0);
  EXPECT_EQ(rec->subplots[0].trackedId, 100);
  EXPECT_EQ(rec->subplots[1].trackedId, 102);
  EXPECT_EQ(rec->subplots[2].trackedId, 0);
}

TEST_F(Layout, GridPositionsFollowTheFrameInEitherVerticalSense) {
  RuntimeBlock* h = b;
  ASSERT_EQ(inst_set_grid(b, 0, 2, 2), 0);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 100, 0, 50), 0);
  EXPECT_EQ(rec->subplots[3].rectLeft, 50);
  EXPECT_EQ(rec->subplots[3].rectTop, 25);
  EXPECT_EQ(rec->subplots[3].rectBottom, 50);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 100, 50, 0), 0);
  EXPECT_EQ(rec->subplots[3].rectTop, 25);
  EXPECT_EQ(rec->subplots[3].rectBottom, 0);
  ASSERT_EQ(inst_set_grid(b, 0, 0, 3), 0);  // no subplots: nothing divides by zero
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 100, 0, 50), 0);
}

TEST(Springs, TableOfCases) {
  struct Case { double a, b, q0, q1, q2, want_near, want_far; };
  // Old extent 0..300, new 0..600 (a change of 300).
  const Case cases[] = {
      {100, 200, 0.5, 0.5, 0.5, 200, 400},  // equal parts stay equal
      {100, 200, 1.0, 0.5, 1.0, 100, 500},  // rigid margins: the width takes it all
      {100, 200, 1.0, 1.0, 0.0, 100, 200},  // rigid near margin and size
      {100, 200, 0.0, 0.5, 0.5, 400, 500},  // a soft near margin takes the change
      {0, 0, 0.5, 0.5, 0.5, 0, 300},        // nothing to weigh: f1 = 0, f12 = 1
  };
  for (const Case& k : cases) {
    const double q[3] = {k.q0, k.q1, k.q2};
    double n = 0, f = 0;
    spring_move(0, k.a == 0 && k.b == 0 ? 0 : 300, 0, k.a == 0 && k.b == 0 ? 300 : 600, k.a, k.b, q, &n, &f);
    EXPECT_NEAR(n, k.want_near, 1e-6) << k.a << " " << k.q0;
    EXPECT_NEAR(f, k.want_far, 1e-6) << k.a << " " << k.q0;
  }
}

TEST_F(Layout, FreeLayoutFollowsResizeAndDesignSize) {
  RuntimeBlock* h = b;
  ASSERT_EQ(inst_set_grid(b, 0, 1, 3), 0);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 300, 0, 300), 0);
  ASSERT_EQ(inst_free_layout(b, 0, false), 0);
  EXPECT_EQ(rec->rows, 3);
  EXPECT_EQ(rec->cols, 1);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 600, 0, 300), 0);
  EXPECT_DOUBLE_EQ(rec->subplots[1].rectLeft, 200);
  EXPECT_DOUBLE_EQ(rec->subplots[1].rectRight, 400);
  // Frames given for a 300 x 300 design, shown in the 600 x 300 frame.
  subplot_set_rect(&rec->subplots[1], 100, 200, 0, 300);
  ASSERT_EQ(inst_layout_from_design_size(b, 0, 300, 300), 0);
  EXPECT_DOUBLE_EQ(rec->subplots[1].rectLeft, 200);
  EXPECT_DOUBLE_EQ(rec->subplots[1].rectRight, 400);
}

// Frames kept before the figure is laid out at another size come back
// exactly, where the spring rule with uneven springs does not retrace its
// way; nothing comes back to a layout that changed meanwhile.
TEST_F(Layout, KeptFramesComeBackAfterAnotherSize) {
  RuntimeBlock* h = b;
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 640, 0, 400), 0);
  ASSERT_EQ(inst_free_layout(b, 0, false), 0);
  const double springs[kSpringValues] = {0.25, 0.5, 0.75, 0.8, 0.3, 0.6};
  for (auto& each : rec->springs) std::copy(springs, springs + kSpringValues, each);
  auto rects = [this] {
    std::vector<double> out(rec->frame, rec->frame + 4);
    for (int k = 0; k < 2; ++k) {
      const Subplot& s = rec->subplots[k];
      for (double v : {s.rectLeft, s.rectRight, s.rectTop, s.rectBottom, s.frameLeft, s.frameRight})
        out.push_back(v);
    }
    return out;
  };
  rec->subplots[1].charWidth = 9;
  const std::vector<double> screen = rects();
  FigureFrames kept;
  inst_frames_keep(b, 0, &kept);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 0.95 * 640, 0, 0.95 * 400), 0);
  rec->subplots[1].charWidth = 12;
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 640, 0, 400), 0);
  EXPECT_NE(rects(), screen);  // the springs' way back ends elsewhere
  inst_frames_give_back(b, 0, kept);
  EXPECT_EQ(rects(), screen);
  EXPECT_EQ(rec->subplots[1].charWidth, 9);
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 640, 0, 400), 0);
  EXPECT_EQ(rects(), screen);
  // Another grid since: the new layout stays as it is.
  ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 300, 0, 200), 0);
  ASSERT_EQ(inst_set_grid(b, 0, 2, 2), 0);
  const std::vector<double> grid(rec->frame, rec->frame + 4);
  inst_frames_give_back(b, 0, kept);
  EXPECT_EQ(std::vector<double>(rec->frame, rec->frame + 4), grid);
  inst_frames_give_back(b, 7, kept);  // no such instance
}

TEST_F(Layout, HandlersResolveByElementId) {
  const int32_t first = figure(0);
  SubplotHandlers h;
  ASSERT_EQ(inst_subplot_resolve(b, 0, first, 5, &h), 0);
  const int32_t press5 = h.mouse[0];
  ASSERT_GE(press5, 0);
  ASSERT_GE(h.plot, 0);
  ASSERT_EQ(inst_subplot_resolve(b, 0, first, 7, &h), 0);
  EXPECT_GT(h.mouse[0], press5);  // the record for any element
  EXPECT_GE(h.mouse[1], 0);       // the drag of element 7
  ASSERT_EQ(inst_subplot_resolve(b, 0, first, 3, &h), 0);
  EXPECT_EQ(h.mouse[1], kNoHandler);
  ASSERT_EQ(inst_subplot_resolve(b, 0, figure(1), 5, &h), 0);
  EXPECT_EQ(h.mouse[0], kNoHandler);  // the next figure's records are its own
  EXPECT_EQ(inst_subplot_resolve(b, 0, first + 1, 5, &h), kRtUndefElement);
}

TEST_F(Layout, StoredLayoutRoundTripsInFixedAndFreeLayout) {
  for (bool free : {false, true}) {
    ASSERT_EQ(inst_set_grid(b, 0, 2, 2), 0);
    ASSERT_EQ(inst_subplot_assign(b, 0, 0, 1, figure(0), true), 0);
    ASSERT_EQ(inst_subplot_assign(b, 0, 1, 0, figure(1), true), 0);
    Subplot& s = rec->subplots[1];
    s.scaleFlags = kScaleLogX | kScaleEqualAspect;
    s.optionFlags = kOptDefault;
    s.xMode = s.yMode = kAxisLocked;  // a box the user locked
    s.xMin = -1, s.xMax = 2, s.yMin = -3, s.yMax = 4;
    s.is3D = 1;
    s.viewFlags = 0;  // a fixed camera: the transform keeps it
    s.camPos[0] = 9.5;
    rec->selection = 0b0110;
    if (free) {
      ASSERT_EQ(inst_free_layout(b, 0, true), 0);
    }
    const InstanceRec saved = *rec;
    ASSERT_EQ(inst_layout_to_array(b, 0), 0);
    ASSERT_EQ(inst_layout_reset(b, 0, false), 0);
    ASSERT_EQ(inst_apply_stored(b, 0), 0);
    EXPECT_EQ(rec->rows, saved.rows);
    EXPECT_EQ(rec->cols, saved.cols);
    EXPECT_EQ(rec->free_layout, saved.free_layout);
    EXPECT_EQ(rec->selection, saved.selection);
    for (int k = 0; k < 4; ++k) {
      const Subplot& a = rec->subplots[k];
      const Subplot& e = saved.subplots[k];
      EXPECT_EQ(a.handlerWords[kSubplotFigureWord], e.handlerWords[kSubplotFigureWord]) << k;
      EXPECT_EQ(layout_pack_flags(a, false), layout_pack_flags(e, false)) << k;
      EXPECT_EQ(a.rectLeft, e.rectLeft) << k;
      EXPECT_EQ(a.rectBottom, e.rectBottom) << k;
    }
    EXPECT_EQ(rec->subplots[1].xMax, 2);
    EXPECT_EQ(rec->subplots[1].camPos[0], 9.5);
    ASSERT_EQ(inst_layout_reset(b, 0, true), 0);
  }
}

TEST_F(Layout, SwitchesActOnTargetsOnly) {
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
  const uint32_t before = rec->subplots[0].viewFlags;
  ASSERT_EQ(inst_set_auto_target(&host.block, 0, !(before & kViewAutoTarget)), 0);
  EXPECT_EQ(rec->subplots[0].viewFlags, before);  // no selection: nothing
  EXPECT_EQ(inst_current_subplot(b, 0), -1);
  rec->selection = 2;
  EXPECT_EQ(inst_current_subplot(b, 0), 1);
  const uint8_t first = rec->subplots[0].orthographic;
  ASSERT_EQ(inst_set_perspective(&host.block, 0, false), 0);
  EXPECT_EQ(rec->subplots[1].orthographic, 1);
  ASSERT_EQ(inst_set_perspective(&host.block, 0, true), 0);
  EXPECT_EQ(rec->subplots[1].orthographic, 0);
  EXPECT_EQ(rec->subplots[0].orthographic, first);
  EXPECT_EQ(inst_current_subplot(b, 99), -1);
  EXPECT_EQ(inst_set_grid(b, 99, 1, 1), kRtNonexistentInstance);
}

TEST_F(Layout, ViewOptionsCombineOverTheTargets) {
  ASSERT_EQ(inst_set_grid(b, 0, 1, 3), 0);
  uint8_t o[kSubplotOptionBytes];
  EXPECT_FALSE(inst_subplot_options_get(b, 0, o));  // no selection, no targets
  EXPECT_EQ(std::count(o, o + kSubplotOptionBytes, 0), kSubplotOptionBytes);
  rec->selection = 0b011;
  for (int k = 0; k < 2; ++k) {
    rec->subplots[k].orthographic = 0;
    rec->subplots[k].viewFlags = kViewAutoTarget | kViewAutoUp;
  }
  rec->subplots[1].viewFlags |= kViewAutoPos;
  EXPECT_FALSE(inst_subplot_options_get(b, 0, o));  // no 3-D subplot among them
  rec->subplots[1].is3D = 1;
  ASSERT_TRUE(inst_subplot_options_get(b, 0, o));
  const uint8_t want[kSubplotOptionBytes] = {0, 1, 0, 1, 1, 0, 0, 1};
  EXPECT_TRUE(std::equal(o, o + kSubplotOptionBytes, want));
  EXPECT_FALSE(inst_subplot_options_get(b, 99, o));
}

TEST_F(Layout, FreeLayoutDefaultsAreRecognised) {
  bool absolute = true, relative = true;
  EXPECT_FALSE(inst_layout_is_default(b, 0, &absolute, &relative));  // fixed layout
  EXPECT_FALSE(absolute || relative);
  ASSERT_EQ(inst_set_grid(b, 0, 2, 2), 0);
  for (bool rigid : {false, true}) {
    ASSERT_EQ(inst_free_layout(b, 0, rigid), 0);
    ASSERT_TRUE(inst_layout_is_default(b, 0, &absolute, &relative));
    EXPECT_EQ(absolute, rigid);
    EXPECT_EQ(relative, !rigid);
  }
  rec->springs[3][4] = 0.25;
  ASSERT_TRUE(inst_layout_is_default(b, 0, &absolute, &relative));
  EXPECT_FALSE(absolute || relative);
  EXPECT_FALSE(inst_layout_is_default(b, 99, &absolute, &relative));
}

}  // namespace

namespace {

double pop_real(EngineContext* c, bool* empty) {
  double v = -1;
  *empty = stk_pop_real_scalar(c, &v) != 0;
  if (*empty) stk_drop(c);
  return v;
}

TEST_F(Layout, ParameterListIsPaddedReplacedAndRead) {
  EngineContext* c = rt_engine(b);
  const int32_t top = c->desc_top;
  ASSERT_EQ(stk_push_real(c, 7), 0);
  ASSERT_EQ(inst_store_set_value(b, 0, 3), 0);  // absent list: three empties, then 7
  ASSERT_EQ(stk_push_real(c, 5), 0);
  ASSERT_EQ(inst_store_set_value(b, 0, 1), 0);  // replaces element 2
  ASSERT_EQ(stk_push_real(c, 9), 0);
  ASSERT_EQ(inst_store_set_value(b, 0, -1), 0);  // dropped
  EXPECT_EQ(c->desc_top, top);
  const struct { int32_t subplot; bool empty; double value; } reads[] = {
      {3, false, 7}, {1, false, 5}, {0, true, 0}, {2, true, 0}, {4, true, 0}, {-1, true, 0}};
  for (const auto& r : reads) {
    ASSERT_EQ(inst_store_get_value(b, 0, r.subplot, false), 0);
    bool empty = false;
    const double v = pop_real(c, &empty);
    EXPECT_EQ(empty, r.empty) << r.subplot;
    if (!r.empty) {
      EXPECT_EQ(v, r.value) << r.subplot;
    }
  }
  EXPECT_EQ(c->desc_top, top);
  // Applying the stored layout sets every parameter again unchanged.
  ASSERT_EQ(inst_set_grid(b, 0, 2, 2), 0);
  ASSERT_EQ(inst_layout_to_array(b, 0), 0);
  ASSERT_EQ(inst_apply_stored(b, 0), 0);
  ASSERT_EQ(inst_store_get_value(b, 0, 3, false), 0);
  bool empty = true;
  EXPECT_EQ(pop_real(c, &empty), 7);
  EXPECT_EQ(c->desc_top, top);
}

}  // namespace

namespace {

// A stored layout comes from the saved image: counts or figure positions
// that are not whole numbers in range leave the layout as it was (each was
// once converted to an integer unchecked).
TEST_F(Layout, DamagedStoredLayoutNumbersAreIgnored) {
  constexpr int kHead = 2, kPerSubplot = 6;  // rows, cols; then six words per subplot
  const struct { int word; double value; } damage[] = {
      {0, 1e300}, {0, -HUGE_VAL}, {1, 3e9}, {0, NAN}, {kHead, NAN}, {kHead, 1e300}, {kHead + kPerSubplot, HUGE_VAL}};
  for (const auto& d : damage) {
    ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
    ASSERT_EQ(inst_subplot_assign(b, 0, 0, 0, figure(0), true), 0);
    ASSERT_EQ(inst_layout_to_array(b, 0), 0);
    int32_t units = 0;
    void* data = nullptr;
    ASSERT_EQ(undo_store_get_value(rt_value_store(b), 0, 0, kKeyLayout, &units, &data), 0);
    ASSERT_EQ(units, kFlatHeaderWords + kHead + 2 * kPerSubplot);
    double* words = static_cast<double*>(data) + kFlatHeaderWords;
    words[d.word] = d.value;
    if (d.word < kHead) words[1 - d.word] = 0;  // a huge count times 0 is 0
    ASSERT_EQ(inst_apply_stored(b, 0), 0) << d.word << " " << d.value;
    EXPECT_EQ(rec->rows * 10 + rec->cols, 12) << d.word << " " << d.value;
  }
}

TEST_F(Layout, PropertiesAndScaleFlagsCombineOverTheTargets) {
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
  rec->selection = 3;
  Subplot* s = rec->subplots;
  s[0].hasContent = s[1].hasContent = 1;
  s[0].scaleFlags = kScaleLogX;
  s[1].scaleFlags = kScaleLogX | kScaleLogY;
  s[0].toolFlags = s[1].toolFlags = ~0u;
  uint32_t common = 0, allowed = 0, mixed = 0;
  ASSERT_EQ(inst_scale_flags_get(b, 0, &common, &allowed, &mixed), 0);
  EXPECT_EQ(common, kScaleLogX);
  EXPECT_EQ(mixed, kScaleLogY);
  // Both 1 and 8 asked: the one already set stays.
  ASSERT_EQ(inst_scale_flags_set(&host.block, 0, kScaleKeptBits, kScaleLogX | kScaleDbX), 0);
  EXPECT_EQ(s[0].scaleFlags & kScaleXLog, kScaleLogX);
  s[0].xMode = s[0].yMode = kAxisLocked;
  bool locked = false, differ = false;
  ASSERT_EQ(inst_subplot_query(b, 0, &locked, &differ), 0);
  EXPECT_FALSE(locked);
  EXPECT_TRUE(differ);
  s[1].xMode = s[1].yMode = kAxisLocked;
  ASSERT_EQ(inst_subplot_query(b, 0, &locked, &differ), 0);
  EXPECT_TRUE(locked);
  s[1].title[0] = s[0].title[0] = 0;  // a titled figure (subplot 0) shows its label
  ASSERT_EQ(inst_subplot_props_get(b, 0, &common, &allowed, &mixed), 0);
  EXPECT_EQ(mixed, 0u);
  EXPECT_EQ(inst_subplot_props_set(b, 99, 0, 0), kRtNonexistentInstance);
}

TEST_F(Layout, SelectionHasAPlotWhenATargetHasContent) {
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
  Subplot* s = rec->subplots;
  s[0].hasContent = 0;
  s[1].hasContent = 1;
  // Rows: selection mask, then the answer; nothing selected is no target.
  const std::pair<uint32_t, bool> rows[] = {{0, false}, {1, false}, {2, true}, {3, true}};
  for (const auto& [selection, want] : rows) {
    rec->selection = selection;
    EXPECT_EQ(inst_selection_has_plot(b, 0), want) << selection;
  }
  // A 1 x 1 layout targets its one subplot whatever is selected.
  ASSERT_EQ(inst_set_grid(b, 0, 1, 1), 0);
  rec->selection = 0;
  s[0].hasContent = 1;
  EXPECT_TRUE(inst_selection_has_plot(b, 0));
  EXPECT_FALSE(inst_selection_has_plot(b, 99));
}

}  // namespace

namespace {

TEST_F(Layout, FreeLayoutAppendsAndRemovesSelectedSubplots) {
  ASSERT_EQ(inst_set_grid(b, 0, 1, 2), 0);
  ASSERT_EQ(inst_free_layout(b, 0, false), 0);
  rec->selection = 0;
  ASSERT_EQ(inst_set_current_subplot(&host.block, 0, figure(1)), 0);  // appended and selected alone
  EXPECT_EQ(rec->rows, 3);
  EXPECT_EQ(rec->selection, 4u);
  EXPECT_EQ(rec->subplots[2].handlerWords[kSubplotFigureWord], figure(1));
  EXPECT_EQ(inst_current_subplot(b, 0), 2);
  rec->selection = 0b010;
  ASSERT_EQ(inst_set_current_subplot(&host.block, 0, -1), 0);  // removes the selected one
  EXPECT_EQ(rec->rows, 2);
  EXPECT_EQ(rec->subplots[1].handlerWords[kSubplotFigureWord], figure(1));
  rec->selection = 0b11;
  ASSERT_EQ(inst_to_free_layout(b, 0), 0);  // all selected: the last stays, empty
  EXPECT_EQ(rec->rows, 1);
  EXPECT_EQ(rec->subplots[0].handlerWords[kSubplotFigureWord], kEmptyFigure);
  EXPECT_EQ(rec->selection, 0u);
}

}  // namespace
