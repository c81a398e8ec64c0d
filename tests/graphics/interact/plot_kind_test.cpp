// What a plot handler draws decides, at every run, whether its subplot is
// 3-D: a handler that drew a surface and now draws a curve draws it as a
// fresh subplot would (and the tools act in 2-D), while a handler that
// draws 3-D at every run keeps the camera the user turned, and undo of a
// camera move still works. The drawings are compared as recording logs.
#include "graphics/interact/figure_events.h"

#include "graphics/interact/interaction.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/menu_exec.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function [mode, a] = start()\n mode = 0;\n a = 1;\nendfunction\n"
    "function draw(mode, a)\n x = -1:0.1:1;\n z = a * (1 + x' * x - 0.5 * ones(21, 1) * x .^ 2);\n"
    " if mode == 0, surf(x, x, z); else plot(x, z(11, :), 'b'); end\nendfunction\n"
    "function mode = toggle(mode)\n mode = 1 - mode;\nendfunction\n"
    "function a = taller(a)\n a = 1.5 * a;\nendfunction\n";
const char kApp[] = "instance demo\nvar mode\nvar a\ninit [mode, a] = start()\nmenutitle \"&T\"\n"
                    "menu \"&Toggle\" mode = toggle(mode)\nmenu \"T&aller\" a = taller(a)\n"
                    "figure \"Surface\"\nplot draw(mode, a)\n";

struct Kinds : Figure {
  void SetUp() override {
    Figure::SetUp();
    open(kApp, kSource);
    picture();  // the first drawing measures the subplot
  }
  std::string picture() {
    figure_draw(host.block, 0);
    return rec.take();
  }
  int menu(int n) { return inst_menu_exec(h(), 0, record(kTagMenuTitle, n)); }
  double cx() { return (sp(0).frameLeft + sp(0).frameRight) / 2; }
  double cy() { return (sp(0).frameTop + sp(0).frameBottom) / 2; }
  // A press at the centre, a move by (dx, dy) and the release.
  void drag(int32_t tool, double dx, double dy) {
    interact_set_tool_mode(h(), tool);
    ASSERT_EQ(interact_mouse_down(h(), 0, cx(), cy(), 0), 0);
    figtest::g_now += 1;
    interact_mouse_move(h(), 0, cx() + dx, cy() + dy, 0, nullptr, 0, nullptr);
    interact_mouse_up(h(), 0, 0);
    rec.take();
  }
  // The subplot as a fresh figure draws it: the figure assigned again.
  std::string fresh_picture() {
    EXPECT_EQ(inst_subplot_assign(host.block, 0, 0, 0, sp(0).handlerWords[kSubplotFigureWord], true), 0);
    EXPECT_EQ(inst_refresh(h(), 0), 0);
    picture();
    return picture();
  }
};

TEST_F(Kinds, ACurveAfterASurfaceIsDrawnAsAFreshSubplotDrawsIt) {
  ASSERT_EQ(sp(0).is3D, 1);
  drag(kToolDrag, 40, -20);  // the camera turned, as a user would
  ASSERT_EQ(menu(0), kRtHandledRedraw);
  EXPECT_EQ(sp(0).is3D, 0);
  const std::string toggled = picture();
  // The tools act in 2-D: drag pans, zoom x zooms along x.
  EXPECT_EQ(interact_case(host.block, 0, &sp(0)), kCaseDrag);
  EXPECT_EQ(interact_cursor_kind(h(), 0, cx(), cy(), 0), kCursorDrag);
  EXPECT_EQ(toggled, fresh_picture());
}

// A 3-D box the user zoomed (its axes locked) keeps the lock while the
// handler draws 3-D, and a 2-D run after it scales as a fresh subplot.
TEST_F(Kinds, TheLocksOfAZoomed3DBoxStayIn3DAndGoWithA2DRun) {
  interact_set_tool_mode(h(), kToolZoom);
  const Subplot& s = sp(0);
  ASSERT_EQ(interact_mouse_down(h(), 0, s.frameLeft + 10, s.frameTop + 10, 0), 0);
  figtest::g_now += 1;
  interact_mouse_move(h(), 0, s.frameRight - 10, s.frameBottom - 10, 0, nullptr, 0, nullptr);
  ASSERT_EQ(interact_mouse_up(h(), 0, 0), kRtHandledRedraw);
  ASSERT_EQ(sp(0).zMode, kAxisLocked);
  const double top = sp(0).zMax;
  const std::string zoomed = picture();
  ASSERT_EQ(menu(1), kRtHandledRedraw);  // taller: the locked box stays
  EXPECT_EQ(sp(0).zMode, kAxisLocked);
  EXPECT_EQ(sp(0).zMax, top);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), zoomed);
  ASSERT_EQ(menu(0), kRtHandledRedraw);  // the curve
  EXPECT_EQ(sp(0).xMode, kAxisAuto);
  EXPECT_EQ(picture(), fresh_picture());
}

TEST_F(Kinds, A3DHandlerKeepsTheTurnedCameraAndItsMovesUndo) {
  const std::string first = picture();
  drag(kToolDrag, 40, -20);
  const std::string turned = picture();
  ASSERT_NE(turned, first);
  const double pos[3] = {sp(0).camPos[0], sp(0).camPos[1], sp(0).camPos[2]};
  ASSERT_EQ(menu(1), kRtHandledRedraw);  // taller: a new surface, the same camera
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sp(0).camPos[i], pos[i]) << i;
  EXPECT_NE(picture(), turned);
  // To the curve and back: the surface comes back under the turned camera.
  ASSERT_EQ(menu(0), kRtHandledRedraw);
  ASSERT_EQ(menu(0), kRtHandledRedraw);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), turned);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), first);
  ASSERT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), turned);
}

}  // namespace
