// The life of an instance with its handlers: reset (a failing init leaves
// it off), terminate and close, change handlers by watch rule, refresh with
// each subplot's plot handler behind its opening record, the figure command
// text, undo and redo of a variable and the layout, resize handlers, and
// idle steps under a fake clock.
#include "runtime/app_fixture.h"

#include "graphics/plotlist/plot_records.h"
#include "graphics/interact/interaction.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "engine/core/stack_ops.h"
#include "runtime/special_vars.h"
#include "runtime/tn_builtins.h"
#include "support/recording_driver.h"

namespace {

using apptest::App;
using apptest::g_probe;

const char kSource[] =
    "function a = start()\n tn_count;\n a = 1;\nendfunction\n"
    "function stop()\n global stops;\n stops = 1;\nendfunction\n"
    "function draw(a)\n tn_plot_mark;\nendfunction\n"
    "function a = inc(a)\n a = a + 1;\nendfunction\n"
    "function n = watch()\n n = tn_count;\nendfunction\n"
    "function a = tick(a)\n a = a + 1;\nendfunction\n"
    "function r = idle_rate()\n r = 0.5;\nendfunction\n"
    "function r = idle_amount()\n r = 0.25;\nendfunction\n"
    "function bad()\n error('idle failed');\nendfunction\n"
    "function stopidle()\n cancel;\nendfunction\n"
    "function quietidle()\n cancel(false);\nendfunction\n"
    "function keep()\n tn_answer;\nendfunction\n";

std::string app(const std::string& extra) {
  return "instance demo\nvar a\nvar n\ninit a = start()\nterminate stop()\nfigure \"Main\"\nplot draw(a)\n"
         "resize a = inc(a)\nchange a n = watch()\nchange - n = watch()\n" +
         extra;
}

TEST_F(App, ResetRunsInitHandlersAndAFailureLeavesItOff) {
  build(app(""), kSource);
  EXPECT_EQ(g_probe.counted, 1);  // at build time
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  EXPECT_EQ(rec->initialised, 1);
  ASSERT_EQ(inst_reset(h(), 0), 0);
  EXPECT_EQ(g_probe.counted, 2);
  EXPECT_EQ(value("a"), 1);
}

TEST_F(App, FailingInitLeavesStateAndInitialisedClear) {
  ASSERT_EQ(host.start(2u << 20, 2u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host.block, {{"demo", "function a = start()\n error('no');\nendfunction\n"}});
  EXPECT_FALSE(builder.build("instance demo\nvar a\nidle a = start()\ninit a = start()\n"));
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  EXPECT_EQ(rec->state, 0);
  EXPECT_EQ(rec->initialised, 0);
  EXPECT_NE(inst_reset(h(), 0), 0);
  EXPECT_EQ(rec->state, 0);
  EXPECT_EQ(inst_reset(h(), 42), kRtNonexistentInstance);
}

TEST_F(App, FailingTerminateHandlerLeavesTheResetInstanceOff) {
  build("instance demo\nvar a\ninit a = start()\nterminate bad()\nidle a = tick(a)\n", kSource);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->state, 2);
  EXPECT_NE(inst_reset(h(), 0), 0);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->state, 0);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->initialised, 0);
  EXPECT_EQ(inst_reset(h(), 0), 0);  // not initialised now: no terminate handler runs
  EXPECT_EQ(inst_find_by_id(host.block, 0)->state, 2);
}

TEST_F(App, TerminateOnceThenCloseKeepsSlotZero) {
  build(app("instance second\nvar z\n"), kSource);
  ASSERT_EQ(inst_run_terminate_handlers(h(), 0), 0);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->initialised, 0);
  ASSERT_EQ(inst_close(h(), 1), 0);
  EXPECT_EQ(host.block->h.instance_count, 1);
  ASSERT_EQ(inst_close(h(), 0), 0);
  EXPECT_EQ(host.block->h.instance_count, 1);  // instance 0 keeps its slot
  EXPECT_EQ(inst_close(h(), 1), kRtNonexistentInstance);
}

TEST_F(App, ChangeHandlersRunByTheirWatchRule) {
  build(app(""), kSource);
  g_probe.counted = 0;
  ASSERT_EQ(inst_run_change_handlers(h(), 0), 0);
  EXPECT_EQ(g_probe.counted, 2);  // a holds a value; the unwatched one always runs
  ASSERT_EQ(undo_store_set_value(rt_value_store(host.block), 0, 0, code("a"), false), 0);
  g_probe.counted = 0;
  ASSERT_EQ(inst_run_change_handlers(h(), 0), 0);
  EXPECT_EQ(g_probe.counted, 1);
}

TEST_F(App, RefreshDrawsEachSubplotOnceBehindItsOpeningRecord) {
  build(app(""), kSource);
  ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 1, record(kTagFigure), true), 0);
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  int32_t at = 0, length = 0;
  ASSERT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &at, &length));
  const double* d = plotstore_data(rt_plot_store(host.block)) + at;
  const double want[] = {69, -1, -1, 0, 0, 1, 0, 1, 0, -1, 0, 0, 0, 69, -1, -1, 0, 0, 1, 1, 1, 1, -1, 0, 0, 0};
  ASSERT_EQ(length, int32_t(std::size(want)));
  for (int k = 0; k < length; ++k) EXPECT_EQ(d[k], want[k]) << k;
  EXPECT_EQ(inst_refresh(h(), 9), kRtNonexistentInstance);
}

TEST_F(App, TheCurrentSubplotRunsItsPlotHandlerAndIsDrawnIntoTheRectangle) {
  build("instance demo\nvar a\nfigure \"Main\"\nplot counted(a)\n",
        "function counted(a)\n tn_count;\n tn_plot_mark;\nendfunction\n");
  ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
  ASSERT_EQ(figure_layout_subplots(h(), 0, 0, 400, 0, 200), 0);
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 0, kEmptyFigure, true), 0);  // only cell (0, 1) plots
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 1, record(kTagFigure), true), 0);
  recdrv::Recorder rec;
  rt_set_graphics_driver(host.block, &rec.table);
  rt_set_graphics_context(host.block, &rec.context);
  inst_find_by_id(host.block, 0)->selection = 2;
  g_probe.counted = 0;
  ASSERT_EQ(inst_draw_current_subplot(h(), 0, 10, 110, 20, 70), 0);
  const std::string log = rec.take();
  EXPECT_NE(log.find("clip_begin 10 110 20 70"), std::string::npos) << log;
  EXPECT_EQ(log.find("fill_rect 0 0 400 200"), std::string::npos) << log;  // not the whole figure
  EXPECT_EQ(g_probe.counted, 2);  // once for the picture, once for the refresh
  const InstanceRec* r = inst_find_by_id(host.block, 0);
  EXPECT_EQ(r->subplots[1].rectLeft, 200);  // laid out again afterwards
  int32_t at = 0, length = 0;
  ASSERT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &at, &length));
  EXPECT_EQ(length, 2 * 7 + 6);  // refreshed: both objects, one mark
  EXPECT_EQ(inst_draw_current_subplot(h(), 5, 0, 1, 0, 1), kRtNonexistentInstance);
}

TEST_F(App, OpeningRecordNeedsSevenFreeDoubles) {
  double list[16] = {};
  int32_t used = 9;
  EXPECT_FALSE(plotlist_open_object(list, 15, &used, 3));
  EXPECT_EQ(used, 9);
  EXPECT_TRUE(plotlist_open_object(list, 16, &used, 3));
  EXPECT_EQ(used, 16);
  EXPECT_EQ(list[9], 69);
  EXPECT_EQ(list[15], 3);
}

TEST_F(App, FigureCommandTextRunsAndACompileErrorIsPrinted) {
  build("instance demo\ncommands \"tn_count; tn_plot_mark;\"\n", "");
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  EXPECT_EQ(rec->figure_only, 1);
  g_probe.counted = 0;
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  EXPECT_EQ(g_probe.counted, 1);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->figure_only, 0);
  FakeHost broken;
  std::swap(broken.block, host.block);
  build("instance demo\ncommands \"x = (;\"\n", "");
  EXPECT_NE(inst_run_figure_commands(h(), 0), 0);
  EXPECT_NE(host.take_output(), "");
  EXPECT_EQ(host.block->h.user.instance_id, 0);
  EXPECT_EQ(host.block->h.build.subplot, -1);
}

// A figure-only instance draws its text at every refresh, in the layout of
// the moment: each new frame, the refresh after it runs the text again
// (`firstrun` true only the first time after a reset), and its subplot is
// the frame's one cell, already right after the `clf` that begins the text
// and right after a reset, never at a subplot's default frame.
TEST_F(App, AFigureOnlyTextRunsAtEveryRefreshInTheFrameOfTheMoment) {
  build("instance demo\ncommands \"clf; tn_count; fprintf('%g %g %g %g %d\\n', subplotpos(), firstrun); "
        "plot([0 1], [0 0]);\"\n",
        "");
  double gx = 0, gy = 0;
  rt_grid_steps(host.block, &gx, &gy);
  ASSERT_GT(gx, 0);
  ASSERT_GT(gy, 0);
  // What the text prints: subplotpos in grid steps, then firstrun (lines
  // end in CR LF, the block's line-end mode).
  auto cell = [&](double w, double h, int first) {
    char line[128];
    std::snprintf(line, sizeof line, "0 %g 0 %g %d\r\n", w / gx, h / gy, first);
    return std::string(line);
  };
  struct Frame {
    double left, right, top, bottom;
    bool reset;  // Reset Data before the refresh
  };
  const Frame frames[] = {{0, 400, 0, 200, false}, {0, 640, 0, 480, false}, {0, 640, 0, 480, true},
                          {10, 110, 5, 85, false}};
  int runs = 0;
  for (const Frame& f : frames) {
    SCOPED_TRACE(f.right);
    ASSERT_EQ(figure_layout_subplots(h(), 0, f.left, f.right, f.top, f.bottom), 0);
    if (f.reset) ASSERT_EQ(inst_reset(h(), 0), 0);
    const Subplot* s = &inst_find_by_id(host.block, 0)->subplots[0];
    if (f.reset) EXPECT_EQ(s->rectRight, f.right);  // the reset's empty cell
    const bool first = runs == 0 || f.reset;
    ASSERT_EQ(inst_refresh(h(), 0), 0);
    EXPECT_EQ(g_probe.counted, ++runs);
    EXPECT_EQ(host.take_output(), cell(f.right - f.left, f.bottom - f.top, first));
    s = &inst_find_by_id(host.block, 0)->subplots[0];
    EXPECT_EQ(s->rectLeft, f.left);
    EXPECT_EQ(s->rectRight, f.right);
    EXPECT_EQ(s->rectTop, f.top);
    EXPECT_EQ(s->rectBottom, f.bottom);
    int32_t at = 0, length = 0;
    ASSERT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &at, &length));
    EXPECT_GT(length, kOpenObjectLength);  // the line is in the list
  }
}

TEST_F(App, UndoAndRedoRestoreAVariableAndTheLayout) {
  build(app(""), kSource);
  ASSERT_EQ(inst_layout_to_array(host.block, 0), 0);
  ASSERT_EQ(undo_store_push_row(rt_value_store(host.block), 0), 0);
  ASSERT_EQ(call(record(kTagResize)), 0);  // a = 2
  ASSERT_EQ(inst_set_grid_redraw(h(), 0, 2, 2), 0);
  EXPECT_EQ(value("a"), 2);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->rows, 1);
  EXPECT_EQ(value("a"), 2);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(value("a"), 1);
  EXPECT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->rows, 2);
  EXPECT_EQ(inst_redo(h(), 0), 0);  // nothing to redo
}

// Figure of subplot k in the stored layout (value 100) of the newest row.
double stored_figure(RuntimeBlock* b, int32_t k) {
  int32_t units = 0;
  void* data = nullptr;
  if (undo_store_get_value(rt_value_store(b), 0, 0, kKeyLayout, &units, &data) != 0 || !data) return NAN;
  const int32_t at = kFlatHeaderWords + 2 + 6 * k;  // rows, cols, then six words per fixed-layout subplot
  return at < units ? static_cast<const double*>(data)[at] : NAN;
}

TEST_F(App, AssigningAFigureStoresItInTheValuesAndUndoBringsItBack) {
  build(app(""), kSource);
  const int32_t figure = record(kTagFigure);
  ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 1, figure, true), 0);
  EXPECT_EQ(stored_figure(host.block, 1), figure);
  inst_find_by_id(host.block, 0)->selection = 2;
  ASSERT_EQ(inst_set_current_subplot(h(), 0, -1), 0);  // subplot 1 gets no figure
  EXPECT_EQ(stored_figure(host.block, 1), kEmptyFigure);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->subplots[1].handlerWords[kSubplotFigureWord], figure);
  // An instance not initialised only changes its subplots.
  inst_find_by_id(host.block, 0)->initialised = 0;
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 0, kEmptyFigure, true), 0);
  EXPECT_EQ(stored_figure(host.block, 0), figure);
}

// Choosing plots one after the other from the figure menu: each figure
// starts from a clean subplot, whatever the one before drew (a 3-D box and
// camera, a polar grid, logarithmic axes).
TEST_F(App, EachChosenFigureStartsFromACleanSubplot) {
  build("instance demo\nvar z\ninit z = start()\nfigure \"Surface\"\nplot surface(z)\n"
        "figure \"Contour\"\nplot levels(z)\nfigure \"Polar\"\nplot round()\nfigure \"Log\"\nplot logs()\n",
        "function z = start()\n z = [0 1 2; 1 2 3; 2 3 5];\nendfunction\n"
        "function surface(z)\n surf(z);\n camorbit(0.3, 0.2);\nendfunction\n"
        "function levels(z)\n contour(z);\nendfunction\n"
        "function round()\n polar([0 1 2], [1 2 1]);\nendfunction\n"
        "function logs()\n scale('loglog');\n plot([1 10 100], [1 2 3]);\nendfunction\n");
  struct Step {
    int figure;  // which figure record, in order
    uint8_t is3d, polar;
    uint32_t log_bits;
  };
  const Step steps[] = {{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {2, 0, 1, 0},
                        {3, 0, 0, kScaleLogX | kScaleLogY}, {1, 0, 0, 0}, {2, 0, 1, 0}, {1, 0, 0, 0}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.figure);
    ASSERT_EQ(inst_set_current_subplot(h(), 0, record(kTagFigure, step.figure)), 0);
    const Subplot& s = inst_find_by_id(host.block, 0)->subplots[0];
    EXPECT_EQ(s.is3D, step.is3d);
    EXPECT_EQ(s.polar, step.polar);
    EXPECT_EQ(s.scaleFlags & (kScaleLogX | kScaleLogY), step.log_bits);
  }
}

// The highlight preference draws the axes of a subplot whose figure has
// mouse handlers (of any kind, for any element) in the instance's
// interactive axes style (colour index 4); a figure without them, and every
// figure with the preference off, keeps the axes style.
TEST_F(App, HighlightDrawsTheAxesOfFiguresThatTakeTheMouse) {
  for (const char* kind : {"press", "drag", "drag2", "release", "over", "leave", "wheel", "drop", "dragout"}) {
    SCOPED_TRACE(kind);
    FakeHost fresh;
    std::swap(fresh.block, host.block);
    build(std::string("instance demo\nvar x\ninit x = start()\nfigure \"Still\"\nplot draw(x)\n"
                      "figure \"Moves\"\nplot draw(x)\n") + kind + " 1 x = move(x)\n",
          "function x = start()\n x = 1;\nendfunction\n"
          "function draw(x)\n plot([0 1 2], [x 0 x]);\nendfunction\n"
          "function x = move(x)\nendfunction\n");
    ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
    ASSERT_EQ(figure_layout_subplots(h(), 0, 0, 400, 0, 200), 0);
    ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 0, record(kTagFigure, 0), true), 0);
    ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 1, record(kTagFigure, 1), true), 0);
    ASSERT_EQ(inst_refresh(h(), 0), 0);
    recdrv::Recorder rec;
    rt_set_graphics_driver(host.block, &rec.table);
    rt_set_graphics_context(host.block, &rec.context);
    auto draw = [&](uint8_t highlight) {
      rt_set_interactive_highlight(host.block, highlight);
      figure_draw(host.block, 0);
      return rec.take();
    };
    draw(0);  // the first drawing measures the subplots
    const std::string plain = draw(0), lit = draw(1);
    // Subplot 0's object is drawn as before; subplot 1's axes change style.
    const size_t second = plain.find("clip_begin 200 400 0 200");
    ASSERT_NE(second, std::string::npos) << plain;
    EXPECT_EQ(lit.substr(0, second), plain.substr(0, second));
    const std::string interactive = "style=0x4/0,0,0";
    EXPECT_EQ(plain.find(interactive), std::string::npos);
    EXPECT_NE(lit.find(interactive, second), std::string::npos);
  }
}

TEST_F(App, LayoutCommandsPushAnUndoRowAndRefresh) {
  build(app(""), kSource);
  RuntimeBlock* b = host.block;
  EXPECT_FALSE(rt_can_undo(b, 0));
  g_probe.counted = 0;
  inst_find_by_id(b, 0)->subplots[0].hasContent = 1;  // a subplot that holds a plot
  ASSERT_EQ(inst_subplots_apply(h(), 0), 0);
  EXPECT_TRUE(subplot_is_scale_locked(&inst_find_by_id(host.block, 0)->subplots[0]));
  EXPECT_TRUE(rt_can_undo(host.block, 0));
  int32_t at = 0, length = 0;
  EXPECT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &at, &length));  // refreshed
  ASSERT_EQ(inst_set_grid_redraw(h(), 0, 6, 6), 0);
  EXPECT_EQ(inst_find_by_id(host.block, 0)->rows, 5);
  EXPECT_EQ(inst_set_grid_redraw(h(), 7, 1, 1), kRtNonexistentInstance);
}

TEST_F(App, ResizeHandlersRunWhenInitialised) {
  build(app(""), kSource);
  ASSERT_EQ(figure_layout_subplots(h(), 0, 0, 200, 0, 100), 0);
  EXPECT_EQ(value("a"), 2);
  inst_find_by_id(host.block, 0)->initialised = 0;
  ASSERT_EQ(figure_layout_subplots(h(), 0, 0, 300, 0, 100), 0);
  EXPECT_EQ(value("a"), 2);
}

// A clock the test sets: every slot reads `now`.
double g_now = 0;
double fake_clock(void*, int, int) { return g_now; }

struct Idle : App {
  double slots[8] = {};
  void with(const std::string& idle) {
    build(app(idle), kSource);
    rt_set_clock_callback(host.block, fake_clock, slots, 8);
    g_now = 10.0;
  }
  InstanceRec* rec() { return inst_find_by_id(host.block, 0); }
};

TEST_F(Idle, StepsWhenDueAndSchedulesByMode) {
  with("idle a = tick(a)\n");
  EXPECT_EQ(rec()->state, 2);
  ASSERT_EQ(inst_idle_step(h(), 0, false), 0);
  EXPECT_EQ(value("a"), 2);
  EXPECT_DOUBLE_EQ(rec()->next_due, 10.1);  // the fixed period
  g_now = 10.05;
  ASSERT_EQ(inst_idle_step(h(), 0, false), 0);
  EXPECT_EQ(value("a"), 2);  // not due
  g_now = 10.2;
  ASSERT_EQ(inst_idle_step_redraw(h(), 0), kRtHandledRedraw);  // the plot handler draws
  EXPECT_EQ(value("a"), 3);
  host.block->h.busy = 1;
  g_now = 20;
  EXPECT_EQ(inst_idle_step(h(), 0, false), 0);
  EXPECT_EQ(value("a"), 3);  // busy: nothing changed
  EXPECT_DOUBLE_EQ(rec()->next_due, 10.3);
  host.block->h.busy = 0;
}

TEST_F(Idle, RateAndAmount) {
  with("idle _idlerate = idle_rate()\n");
  ASSERT_EQ(inst_idle_step(h(), 0, false), 0);
  EXPECT_DOUBLE_EQ(rec()->next_due, 10.5);
  FakeHost first;
  std::swap(first.block, host.block);
  with("idle _idleamount = idle_amount()\n");
  ASSERT_EQ(inst_idle_step(h(), 0, false), 0);
  EXPECT_DOUBLE_EQ(rec()->next_due, 10.1);  // the first step in this mode
  g_now = 11.0;
  ASSERT_EQ(inst_idle_step(h(), 0, false), 0);
  // The handler took no clock time: the delay is clamped to its least.
  EXPECT_DOUBLE_EQ(rec()->next_due, 11.001);
}

TEST_F(Idle, FailureAndLoudCancelTurnIdleOffRedrawStatusKeepsIt) {
  with("idle bad()\n");
  EXPECT_NE(inst_idle_step(h(), 0, false), 0);
  EXPECT_EQ(rec()->state, 0);
  FakeHost a;
  std::swap(a.block, host.block);
  with("idle stopidle()\n");
  EXPECT_EQ(inst_idle_step(h(), 0, false), 0);  // 402 answered 0
  EXPECT_EQ(rec()->state, 0);
  FakeHost b;
  std::swap(b.block, host.block);
  with("idle quietidle()\n");
  EXPECT_EQ(inst_idle_step(h(), 0, true), 0);  // quiet: no redraw
  EXPECT_EQ(rec()->state, 2);
  FakeHost d;
  std::swap(d.block, host.block);
  with("idle keep()\n");
  g_probe.status = kRtHandledRedraw;
  EXPECT_EQ(inst_idle_step(h(), 0, false), kRtHandledRedraw);
  EXPECT_EQ(rec()->state, 2);
}

}  // namespace

namespace {

TEST_F(App, LoadedImageDrawsWithoutRunningItsInitHandler) {
  build(app(""), kSource);
  const tnbuild::Sections parts = tnbuild::Builder(host.block, {}).sections();
  FakeHost target;
  ASSERT_EQ(target.start(2u << 20, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(target.block, g_builtin_table_host), 0);
  ASSERT_EQ(rt_register_library(target.block, apptest::g_test_rows), 0);
  size_t next = 0;
  struct Feed {
    const tnbuild::Sections* parts;
    size_t* next;
    static bool read(void* to, uint32_t bytes, void* arg) {
      auto* f = static_cast<Feed*>(arg);
      if (*f->next >= f->parts->size() || (*f->parts)[*f->next].size() != bytes) return false;
      if (bytes) std::memcpy(to, (*f->parts)[*f->next].data(), bytes);
      ++*f->next;
      return true;
    }
  } feed{&parts, &next};
  ASSERT_EQ(rt_load_image(&target.block, &Feed::read, &feed), 0);
  g_probe.counted = 0;
  ASSERT_EQ(inst_refresh(&target.block, 0), 0);
  EXPECT_EQ(g_probe.counted, 0);  // saved initialised: no init handler runs
  int32_t at = 0, length = 0;
  ASSERT_TRUE(plotstore_find(rt_plot_store(target.block), 0, &at, &length));
  EXPECT_EQ(length, kOpenObjectLength + 6);  // the opening record and the handler's mark
}

}  // namespace
