// Undo and redo of the view, driven as a user drives it: random runs of
// zooms, clicks, zooms out, x zooms, drags and x drags, with a menu handler
// and the scale lock between them, on a figure that scales itself. Each
// undo draws the figure as it was before its step, down to the automatic
// scale, and each redo as it was after; a press that changes nothing leaves
// no step behind. Half the runs move two selected subplots together. The
// drawings are compared as the recording driver's logs.
#include "graphics/interact/figure_events.h"

#include <cstdlib>
#include <random>

#include "graphics/interact/interaction.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/instances.h"
#include "runtime/menu_exec.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function a = start()\n a = 1;\nendfunction\n"
    "function draw(a)\n x = 0:0.1:10;\n plot(x, a * sin(x) + x / 3, 'b');\n plot(4, a, 'ro', 1);\nendfunction\n"
    "function a = bump(a)\n a = a + 0.5;\nendfunction\n";
const char kApp[] = "instance demo\nvar a\ninit a = start()\nmenutitle \"&T\"\nmenu \"&Bump\" a = bump(a)\n"
                    "figure \"A\"\nplot draw(a)\n";

enum Step { kZoomBand, kZoomClick, kZoomOut, kZoomXSpan, kZoomXOut, kDrag, kDragX, kStill, kBump, kLock, kSteps };
const char* const kStepNames[] = {"zoom band", "zoom click", "zoom out", "x zoom", "x zoom out",
                                  "drag",      "x drag",     "still click", "menu", "scale lock"};

struct ViewUndo : Figure {
  // The figure as the screen would show it.
  std::string picture() {
    figure_draw(host.block, 0);
    return rec.take();
  }
  // A press at frame fraction (fx0, fy0), two moves and the release at
  // (fx1, fy1), with the tool and Shift given.
  void gesture(int32_t tool, double fx0, double fy0, double fx1, double fy1, uint8_t shift) {
    interact_set_tool_mode(h(), tool);
    const Subplot& s = sp(0);
    const double l = s.frameLeft, w = s.frameRight - s.frameLeft, t = s.frameTop, v = s.frameBottom - s.frameTop;
    const int down = interact_mouse_down(h(), 0, l + fx0 * w, t + fy0 * v, shift);
    ASSERT_TRUE(down == 0 || down == kRtNoInteraction) << down;
    for (double f : {0.5, 1.0}) {
      figtest::g_now += 1;
      interact_mouse_move(h(), 0, l + (fx0 + f * (fx1 - fx0)) * w, t + (fy0 + f * (fy1 - fy0)) * v, shift, nullptr,
                          0, nullptr);
    }
    interact_mouse_up(h(), 0, shift);
    rec.take();
  }
  // One step of a kind at random places; false when it can leave the
  // picture unchanged without a row (a mouse step that moved nothing).
  bool step(Step kind, std::mt19937& rng) {
    std::uniform_real_distribution<double> in(0.1, 0.9), near(-0.3, 0.3);
    const double x = in(rng), y = in(rng);
    switch (kind) {
      case kZoomBand: gesture(kToolZoom, x, y, x + near(rng), y + near(rng), 0); return false;
      case kZoomClick: gesture(kToolZoom, x, y, x, y, 0); return false;
      case kZoomOut: gesture(kToolZoom, x, y, x, y, 1); return false;
      case kZoomXSpan: gesture(kToolZoomX, x, y, x + near(rng), y, 0); return false;
      case kZoomXOut: gesture(kToolZoomX, x, y, x, y, 1); return false;
      case kDrag: gesture(kToolDrag, x, y, x + near(rng), y + near(rng), 0); return false;
      case kDragX: gesture(kToolDrag, x, y, x + near(rng), y + near(rng), 1); return false;
      case kStill: gesture(kToolDrag, x, y, x, y, 0); return false;
      case kBump: EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 0)), kRtHandledRedraw); return true;
      default: EXPECT_EQ(inst_key_shortcut(h(), 0, 'o'), kRtHandledRedraw); return true;
    }
  }
};

TEST_F(ViewUndo, EachUndoDrawsTheFigureAsBeforeItsStepAndEachRedoAsAfter) {
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::free(host.block);  // each run in a block of its own
    host.block = nullptr;
    // Every other run shows the figure twice side by side, both selected:
    // zooms and drags move them together.
    const bool pair = seed % 2 == 0;
    ASSERT_NO_FATAL_FAILURE(open(kApp, kSource, 1, pair ? 2 : 1));
    if (pair) inst_set_selection(host.block, 0, 3, false);
    picture();  // the first drawing measures the subplots
    ASSERT_FALSE(rt_can_undo(host.block, 0));
    std::mt19937 rng(seed);
    std::vector<std::string> pictures{picture()}, done;
    for (int n = 0; n < 10; ++n) {
      const Step kind = Step(std::uniform_int_distribution<int>(0, kSteps - 1)(rng));
      const bool always = step(kind, rng);
      // Both stay selected (a press clears the selection, and a refused
      // zoom does not give it back).
      if (pair) inst_set_selection(host.block, 0, 3, false);
      const std::string now = picture();
      if (!always && now == pictures.back()) continue;
      pictures.push_back(now);
      done.push_back(kStepNames[kind]);
      // A view that left the data ends the run: its y axis has no range to
      // take, and its map is the placeholder of an empty axis.
      if (sp(0).yMin > sp(0).yMax) break;
    }
    std::string steps;
    for (const std::string& d : done) steps += d + "; ";
    SCOPED_TRACE("steps: " + steps);
    for (size_t k = pictures.size() - 1; k > 0; --k) {
      ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw) << "undo of " << done[k - 1];
      ASSERT_EQ(picture(), pictures[k - 1]) << "undo of " << done[k - 1] << " (step " << k << ")";
    }
    EXPECT_FALSE(rt_can_undo(host.block, 0));
    EXPECT_EQ(sp(0).xMode, kAxisAuto);
    EXPECT_EQ(sp(0).yMode, kAxisAuto);
    for (size_t k = 1; k < pictures.size(); ++k) {
      ASSERT_EQ(inst_redo(h(), 0), kRtHandledRedraw) << "redo of " << done[k - 1];
      ASSERT_EQ(picture(), pictures[k]) << "redo of " << done[k - 1] << " (step " << k << ")";
    }
    EXPECT_FALSE(rt_can_redo(host.block, 0));
  }
}

// The scale lock is a lock of the axes: the view stays while the data
// change, and undo gives the automatic scale back.
TEST_F(ViewUndo, TheScaleLockHoldsTheViewAndUndoes) {
  open(kApp, kSource);
  picture();
  const std::string automatic = picture();
  bool locked = false, mixed = false;
  ASSERT_EQ(inst_subplot_query(host.block, 0, &locked, &mixed), 0);
  EXPECT_FALSE(locked);
  ASSERT_EQ(inst_key_shortcut(h(), 0, 'o'), kRtHandledRedraw);
  ASSERT_EQ(inst_subplot_query(host.block, 0, &locked, &mixed), 0);
  EXPECT_TRUE(locked);
  EXPECT_EQ(picture(), automatic);
  const double y_top = sp(0).yMax;
  ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 0)), kRtHandledRedraw);
  EXPECT_EQ(sp(0).yMax, y_top);  // the larger curve did not widen the locked axis
  ASSERT_EQ(inst_key_shortcut(h(), 0, 'o'), kRtHandledRedraw);
  EXPECT_GT(sp(0).yMax, y_top);  // unlocked: it follows the data again
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), automatic);
  ASSERT_EQ(inst_subplot_query(host.block, 0, &locked, &mixed), 0);
  EXPECT_FALSE(locked);
}

// A view changed without a row of its own (the wheel's pan) is where the
// next step's undo returns, not the view before it.
TEST_F(ViewUndo, UndoReturnsToAViewTheWheelPanned) {
  open(kApp, kSource);
  picture();
  interact_set_tool_mode(h(), kToolDrag);
  const Subplot& s = sp(0);
  const double cx = (s.frameLeft + s.frameRight) / 2, cy = (s.frameTop + s.frameBottom) / 2;
  ASSERT_EQ(interact_mouse_wheel(h(), 0, cx, cy, 0, 3, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  const std::string panned = picture();
  gesture(kToolZoom, 0.3, 0.3, 0.6, 0.7, 0);
  ASSERT_NE(picture(), panned);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), panned);
}

}  // namespace
