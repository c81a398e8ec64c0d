// Undo and redo of the view, driven as a user drives it: random runs of
// zooms, clicks, zooms out, x zooms, drags, x drags and wheel pans, with a
// menu handler and the scale lock between them, on a figure that scales
// itself. Each undo draws the figure as it was before its step, down to the
// automatic scale, and each redo as it was after; a press or a wheel that
// changes nothing leaves no step behind, and an uninterrupted run of wheel
// steps over one subplot is one step. Half the runs move two selected
// subplots together. The drawings are compared as the recording driver's
// logs.
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
    "function a = bump(a)\n a = a + 0.5;\nendfunction\n"
    "function a = roll(a, dy)\n if a + dy > 3\n  error('too far');\n end\n a = a + dy / 2;\nendfunction\n";
const char kApp[] = "instance demo\nvar a\ninit a = start()\nmenutitle \"&T\"\nmenu \"&Bump\" a = bump(a)\n"
                    "figure \"A\"\nplot draw(a)\n";

enum Step {
  kZoomBand, kZoomClick, kZoomOut, kZoomXSpan, kZoomXOut, kDrag, kDragX, kStill, kWheel, kBump, kLock, kSteps
};
const char* const kStepNames[] = {"zoom band", "zoom click",  "zoom out",    "x zoom", "x zoom out", "drag",
                                  "x drag",    "still click", "wheel pan", "menu",   "scale lock"};

constexpr int kAnError = -1;  // a handler's error, whichever

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
  // Wheel notches of `dy` lines each at frame fraction (fx, fy) of subplot k,
  // as the view sends them, under the tool given.
  void wheel(int32_t tool, int32_t k, double fx, double fy, int notches, double dy, int expected = kRtHandledRedraw) {
    interact_set_tool_mode(h(), tool);
    const Subplot& s = sp(k);
    const double x = s.frameLeft + fx * (s.frameRight - s.frameLeft);
    const double y = s.frameTop + fy * (s.frameBottom - s.frameTop);
    for (int n = 0; n < notches; ++n) {
      const int status = interact_mouse_wheel(h(), 0, x, y, 0, dy, 0, nullptr, 0, nullptr);
      if (expected == kAnError) ASSERT_TRUE(status != 0 && status != kRtHandledRedraw) << status;
      else ASSERT_EQ(status, expected);
    }
    rec.take();
  }
  // Undo back through `pictures` to its first, then redo to its last.
  void undo_redo(const std::vector<std::string>& pictures) {
    for (size_t k = pictures.size() - 1; k > 0; --k) {
      ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw) << "undo " << k;
      ASSERT_EQ(picture(), pictures[k - 1]) << "undo " << k;
    }
    for (size_t k = 1; k < pictures.size(); ++k) {
      ASSERT_EQ(inst_redo(h(), 0), kRtHandledRedraw) << "redo " << k;
      ASSERT_EQ(picture(), pictures[k]) << "redo " << k;
    }
    EXPECT_FALSE(rt_can_redo(host.block, 0));
  }
  // One step of a kind at random places; false when it can leave the
  // picture unchanged without a row (a mouse step that moved nothing).
  int32_t wheel_at = 0;   // the subplot under the wheel
  int wheel_notches = 1;  // 0: one notch under the zoom tool
  double wheel_dy = 1;    // one direction in a run: it never comes back to where it began
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
      case kWheel:
        if (wheel_notches == 0) wheel(kToolZoom, wheel_at, x, y, 1, wheel_dy, 0);  // does nothing
        else wheel(kToolDrag, wheel_at, x, y, wheel_notches, wheel_dy);
        return false;
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
    wheel_dy = seed % 4 < 2 ? 1 : -1;
    int32_t last_wheel = -1;  // the subplot of a wheel run the next wheel step adds to
    for (int n = 0; n < 10; ++n) {
      const Step kind = Step(std::uniform_int_distribution<int>(0, kSteps - 1)(rng));
      // With two subplots the wheel turns over one and then as much over
      // the other, a run each: they keep one scale and move together under
      // the other tools.
      const int32_t first = pair ? std::uniform_int_distribution<int>(0, 1)(rng) : 0;
      wheel_notches = std::uniform_int_distribution<int>(0, 4)(rng) == 0 ? 0 : 1 + int(rng() % 3);
      for (int turn = 0; turn < (kind == kWheel && pair ? 2 : 1); ++turn) {
        wheel_at = (first + turn) % 2;
        const bool always = step(kind, rng);
        // Both stay selected (a press clears the selection, and a refused
        // zoom does not give it back).
        if (pair) inst_set_selection(host.block, 0, 3, false);
        const std::string now = picture();
        // A wheel pan right after one over the same subplot is part of its run.
        const bool pan = kind == kWheel && interact_get_tool_mode(host.block) == kToolDrag;
        if (pan && last_wheel == wheel_at) pictures.pop_back(), done.pop_back();
        last_wheel = pan ? wheel_at : -1;
        if (!always && now == pictures.back()) {
          last_wheel = -1;  // a run back where it began leaves no row and ends
          continue;
        }
        pictures.push_back(now);
        done.push_back(kStepNames[kind]);
      }
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

// The view a wheel panned is where the next step's undo returns, not the
// view before the pan.
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

// A run of wheel notches over one subplot is one step; anything between
// two runs makes them two: a press (even one that changes nothing), a tool
// change, the wheel over another subplot, an undo and its redo, a menu
// handler. Pointer moves over the same subplot do not. The history is full
// before the runs, so that its length alone cannot tell the runs apart.
TEST_F(ViewUndo, AWheelRunIsOneStepUntilSomethingComesBetween) {
  enum Between { kNothing, kHover, kStillPress, kToolChange, kOtherSubplot, kUndoRedo, kMenu, kCount };
  const char* const names[] = {"nothing",       "hover",         "still press", "tool change",
                               "other subplot", "undo and redo", "menu"};
  for (int between = kNothing; between < kCount; ++between) {
    SCOPED_TRACE(names[between]);
    std::free(host.block);
    host.block = nullptr;
    ASSERT_NO_FATAL_FAILURE(open(kApp, kSource, 1, 2));
    picture();
    for (int n = 0; n < 16; ++n) ASSERT_EQ(inst_key_shortcut(h(), 0, 'o'), kRtHandledRedraw);  // lock, unlock, ...
    std::vector<std::string> pictures{picture()};
    ASSERT_NO_FATAL_FAILURE(wheel(kToolDrag, 0, 0.4, 0.5, 2, 1));
    pictures.push_back(picture());
    switch (between) {
      case kHover: interact_mouse_hover(h(), 0, sp(0).frameLeft + 5, sp(0).frameTop + 5, 0, nullptr, 0, nullptr); break;
      case kStillPress: gesture(kToolDrag, 0.5, 0.5, 0.5, 0.5, 0); break;
      case kToolChange: interact_set_tool_mode(h(), kToolZoom); break;
      case kOtherSubplot: ASSERT_NO_FATAL_FAILURE(wheel(kToolDrag, 1, 0.5, 0.5, 1, 1)); break;
      case kUndoRedo:
        ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
        ASSERT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
        break;
      case kMenu: ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 0)), kRtHandledRedraw); break;
      default: break;
    }
    if (picture() != pictures.back()) pictures.push_back(picture());
    ASSERT_NO_FATAL_FAILURE(wheel(kToolDrag, 0, 0.6, 0.4, 3, 1));
    if (between == kNothing || between == kHover) pictures.pop_back();
    pictures.push_back(picture());
    ASSERT_NO_FATAL_FAILURE(undo_redo(pictures));
    EXPECT_TRUE(rt_can_undo(host.block, 0));  // the scale locks before the runs
  }
}

// A wheel that changes nothing pushes nothing: under the zoom tool and over
// a subplot without content. Undo then still steps over the last change.
TEST_F(ViewUndo, AWheelThatChangesNothingLeavesNoStep) {
  open(kApp, kSource, 1, 2);
  picture();
  const std::string start = picture();
  ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 0)), kRtHandledRedraw);
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 1, kEmptyFigure, true), 0);  // in the menu's row
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  ASSERT_FALSE(sp(1).hasContent);
  const std::string emptied = picture();
  ASSERT_NO_FATAL_FAILURE(wheel(kToolZoom, 0, 0.5, 0.5, 2, 1, 0));
  ASSERT_NO_FATAL_FAILURE(wheel(kToolDrag, 1, 0.5, 0.5, 2, 1, 0));
  EXPECT_EQ(picture(), emptied);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(picture(), start);
  EXPECT_FALSE(rt_can_undo(host.block, 0));
}

// A wheel handler in manipulate mode changes the data in a row of its own,
// one per run like the pan; a handler that leaves them as they were, a run
// that comes back to where it began and a handler that fails push none,
// and a failure later in a run keeps the run's row.
TEST_F(ViewUndo, AWheelHandlerRunIsOneStepOfTheData) {
  open(std::string(kApp) + "wheel -1 a = roll(a, _dy)\n", kSource);
  picture();
  const std::string start = picture();
  ASSERT_NO_FATAL_FAILURE(wheel(kToolManipulate, 0, 0.5, 0.5, 2, 0));  // a = a: no change
  EXPECT_FALSE(rt_can_undo(host.block, 0));
  ASSERT_NO_FATAL_FAILURE(wheel(kToolManipulate, 0, 0.5, 0.5, 1, 5, kAnError));  // too far at once
  EXPECT_FALSE(rt_can_undo(host.block, 0));
  EXPECT_EQ(value("a"), 1);
  // Up and down again in one run: back where it began, and no row.
  ASSERT_NO_FATAL_FAILURE(wheel(kToolManipulate, 0, 0.5, 0.5, 1, 1));
  EXPECT_TRUE(rt_can_undo(host.block, 0));
  ASSERT_NO_FATAL_FAILURE(wheel(kToolManipulate, 0, 0.5, 0.5, 1, -1));
  EXPECT_FALSE(rt_can_undo(host.block, 0));
  // Three notches of one: 1.5, 2, 2.5; the fourth fails (3.5 > 3).
  ASSERT_NO_FATAL_FAILURE(wheel(kToolManipulate, 0, 0.5, 0.5, 3, 1));
  ASSERT_NO_FATAL_FAILURE(wheel(kToolManipulate, 0, 0.5, 0.5, 1, 1, kAnError));
  EXPECT_EQ(value("a"), 2.5);
  const std::string rolled = picture();
  ASSERT_NE(rolled, start);
  ASSERT_NO_FATAL_FAILURE(undo_redo({start, rolled}));
  EXPECT_EQ(value("a"), 2.5);
}

// The middle button drags as the left one with Shift, and the view sends
// no release for it: the drag ends at the next hover. Undo goes back to the
// view before the drag, redo to the one it left, on a curve (a drag along
// x) and on a surface (the camera dollied sideways); a middle click that
// moves nothing leaves no step.
TEST_F(ViewUndo, AMiddleDragWithoutItsReleaseUndoesAndRedoes) {
  const char kSurface[] =
      "function a = start()\n a = 1;\nendfunction\n"
      "function draw(a)\n x = -1:0.25:1;\n surf(x, x, a * (x' * x));\nendfunction\n";
  for (const char* source : {kSource, kSurface}) {
    SCOPED_TRACE(source == kSource ? "curve" : "surface");
    std::free(host.block);
    host.block = nullptr;
    ASSERT_NO_FATAL_FAILURE(open(kApp, source));
    picture();
    interact_set_tool_mode(h(), kToolDrag);
    const Subplot& s = sp(0);
    const double x = (s.frameLeft + s.frameRight) / 2, y = (s.frameTop + s.frameBottom) / 2;
    const std::string start = picture();
    // A click: press and hover, nothing between.
    ASSERT_EQ(interact_mouse_down(h(), 0, x, y, 1), 0);
    interact_mouse_hover(h(), 0, x, y, 0, nullptr, 0, nullptr);
    EXPECT_FALSE(rt_can_undo(host.block, 0));
    EXPECT_EQ(picture(), start);
    // A drag: press, moves, and the hover after the button went up.
    ASSERT_EQ(interact_mouse_down(h(), 0, x, y, 1), 0);
    for (double d : {15.0, 30.0}) {
      figtest::g_now += 1;
      ASSERT_EQ(interact_mouse_move(h(), 0, x + d, y + d / 2, 1, nullptr, 0, nullptr), kRtHandledRedraw);
    }
    interact_mouse_hover(h(), 0, x + 30, y + 15, 0, nullptr, 0, nullptr);
    const std::string dragged = picture();
    ASSERT_NE(dragged, start);
    ASSERT_NO_FATAL_FAILURE(undo_redo({start, dragged}));
    // A left drag after it is a step of its own.
    gesture(kToolDrag, 0.5, 0.5, 0.3, 0.6, 0);
    const std::string again = picture();
    ASSERT_NE(again, dragged);
    ASSERT_NO_FATAL_FAILURE(undo_redo({start, dragged, again}));
  }
}

}  // namespace
