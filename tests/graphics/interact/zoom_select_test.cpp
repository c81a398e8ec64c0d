// Zoom, drag, frame moves and camera moves as scripted mouse events on
// built figures: bands through the self-inverting rectangle (erased before
// each new one, clamped to the frame, none with Shift, 10201 without the
// entry), limits after the release, grid moves that permute the subplots
// (undone by undo) and free-layout frames on the grid step, and the camera
// cases on a 3-D subplot.
#include "graphics/interact/figure_events.h"

#include <cmath>
#include <sstream>

#include "graphics/subplot/subplot_view.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function p = start()\n p = [2 3];\nendfunction\n"
    "function draw(p)\n scale([0 10 0 10]);\n plot(p(1), p(2), 'o', 1);\nendfunction\n"
    "function draw3(p)\n plot3([0 1], [0 2], [0 3]);\nendfunction\n";

const char kApp[] = "instance demo\nvar p\ninit p = start()\nfigure \"A\"\nplot draw(p)\nfigure \"B\"\nplot draw(p)\n"
                    "figure \"C\"\nplot draw(p)\nfigure \"D\"\nplot draw(p)\nfigure \"E\"\nplot draw3(p)\n";

int count(const std::string& log, const std::string& what) {
  int n = 0;
  for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
  return n;
}

// The focus rectangles of a log, as "l t r b" lines.
std::vector<std::string> rects(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("focus_rect ", 0) == 0) out.push_back(line.substr(11, line.find(" mode") - 11));
  return out;
}

TEST_F(Figure, AZoomBandIsErasedBeforeEachNewOneAndLocksTheLimits) {
  open(kApp, kSource);
  interact_set_tool_mode(h(), kToolZoom);
  EXPECT_EQ(down(0, 2, 2), 0);
  EXPECT_EQ(rec.take(), "");
  EXPECT_EQ(move(0, 5, 6), 0);
  const std::vector<std::string> first = rects(rec.take());
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(move(0, 6, 7), 0);
  const std::vector<std::string> second = rects(rec.take());
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0], first[0]);  // the old band erased, then the new one drawn
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<std::string> last = rects(rec.take());
  ASSERT_GE(last.size(), 1u);
  EXPECT_EQ(last[0], second[1]);  // the release erases the band on screen
  EXPECT_NEAR(sp(0).xMin, 2, 1e-9);
  EXPECT_NEAR(sp(0).xMax, 6, 1e-9);
  EXPECT_NEAR(sp(0).yMin, 2, 1e-9);
  EXPECT_NEAR(sp(0).yMax, 7, 1e-9);
  EXPECT_EQ(sp(0).xMode, kAxisLocked);
  EXPECT_EQ(sp(0).yMode, kAxisLocked);
  EXPECT_EQ(host.block->h.band_drawn, 0);
}

TEST_F(Figure, AClickHalvesTheRangeAndShiftZoomsOutWithoutABand) {
  open(kApp, kSource);
  interact_set_tool_mode(h(), kToolZoom);
  EXPECT_EQ(down(0, 8, 5), 0);
  EXPECT_EQ(up(), kRtHandledRedraw);
  EXPECT_NEAR(sp(0).xMin, 4, 1e-9);
  EXPECT_NEAR(sp(0).xMax, 9, 1e-9);
  rec.take();
  EXPECT_EQ(down(0, 6, 6, 1), 0);
  EXPECT_EQ(move(0, 7, 7, 1), 0);
  EXPECT_EQ(up(1), kRtHandledRedraw);
  EXPECT_EQ(count(rec.take(), "focus_rect"), 0);
  EXPECT_NEAR(sp(0).xMax - sp(0).xMin, 10, 1e-9);  // twice the 5 shown, about the point
  EXPECT_EQ(interact_cursor_kind(h(), 0, px(0, 6), py(0, 6), 1), kCursorZoomOut);
}

TEST_F(Figure, TheBandStaysInTheFrameAndWithoutTheEntryTheViewRedraws) {
  open(kApp, kSource);
  interact_set_tool_mode(h(), kToolZoom);
  EXPECT_EQ(down(0, 5, 5), 0);
  EXPECT_EQ(interact_mouse_move(h(), 0, 5000, -5000, 0, nullptr, 0, nullptr), 0);
  const Subplot& s = sp(0);
  std::ostringstream want;
  want << recdrv::num(px(0, 5)) << " " << recdrv::num(py(0, 5)) << " " << recdrv::num(s.frameRight) << " "
       << recdrv::num(std::min(s.frameTop, s.frameBottom));
  const std::vector<std::string> band = rects(rec.take());
  ASSERT_EQ(band.size(), 1u);
  EXPECT_EQ(band[0], want.str());
  rec.table.focus_rect = nullptr;
  EXPECT_EQ(move(0, 6, 6), kRtHandledRedraw);
  EXPECT_EQ(rec.take(), "");
  EXPECT_EQ(up(), kRtHandledRedraw);
}

TEST_F(Figure, ZoomXBandSpansTheFrameHeight) {
  open(kApp, kSource);
  interact_set_tool_mode(h(), kToolZoomX);
  EXPECT_EQ(down(0, 2, 2), 0);
  EXPECT_EQ(move(0, 4, 8), 0);
  const std::vector<std::string> band = rects(rec.take());
  ASSERT_EQ(band.size(), 1u);
  EXPECT_NE(band[0].find(recdrv::num(sp(0).frameBottom)), std::string::npos) << band[0];
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<std::string> erased = rects(rec.take());
  ASSERT_GE(erased.size(), 1u);
  EXPECT_EQ(erased[0], band[0]);
  EXPECT_NEAR(sp(0).xMin, 2, 1e-9);
  EXPECT_NEAR(sp(0).xMax, 4, 1e-9);
  EXPECT_EQ(sp(0).yMode, kAxisFixed);  // y untouched
}

TEST_F(Figure, DragMovesTheLimitsWithThePointer) {
  open(kApp, kSource);
  interact_set_tool_mode(h(), kToolDrag);
  const double x0 = sp(0).xMin, y0 = sp(0).yMin;
  EXPECT_EQ(down(0, 5, 5), 0);
  EXPECT_EQ(move(0, 6, 7), kRtHandledRedraw);
  EXPECT_NEAR(sp(0).xMin, x0 - 1, 1e-9);
  EXPECT_NEAR(sp(0).yMin, y0 - 2, 1e-9);
  EXPECT_EQ(move(0, 8, 1, 1), kRtHandledRedraw);  // Shift: along x only
  EXPECT_NEAR(sp(0).yMin, y0 - 2, 1e-9);
  EXPECT_EQ(up(), 0);  // the selection's answer: the driver draws marks itself
  EXPECT_EQ(sp(0).xMode, kAxisLocked);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
}

// A 2 x 2 grid showing figures A to D: the order is read from the figure words.
struct Grid : Figure {
  int32_t figure[4] = {};
  void SetUp() override {
    Figure::SetUp();
    open(kApp, kSource, 2, 2);
    for (int32_t k = 0; k < 4; ++k) {
      figure[k] = record(kTagFigure, k);
      ASSERT_EQ(inst_subplot_assign(host.block, 0, k / 2, k % 2, figure[k], true), 0);
    }
    ASSERT_EQ(inst_refresh(h(), 0), 0);
    interact_set_tool_mode(h(), kToolSelect);
  }
  std::string order() {
    std::string s;
    for (int32_t k = 0; k < 4; ++k)
      for (int32_t f = 0; f < 4; ++f)
        if (sp(k).handlerWords[kSubplotFigureWord] == figure[f]) s += char('A' + f);
    return s;
  }
  double cx(int32_t k) { return (sp(k).rectLeft + sp(k).rectRight) / 2; }
  double cy(int32_t k) { return (sp(k).rectTop + sp(k).rectBottom) / 2; }
  int press(int32_t k, uint8_t shift = 0) { return interact_mouse_down(h(), 0, cx(k), cy(k), shift); }
  int drag_to(int32_t k, uint8_t shift = 0) {
    figtest::g_now += 1;
    return interact_mouse_move(h(), 0, cx(k), cy(k), shift, nullptr, 0, nullptr);
  }
};

TEST_F(Grid, MovesPermuteTheSubplotsAndUndoRestoresTheOrder) {
  EXPECT_EQ(order(), "ABCD");
  EXPECT_EQ(press(0), 0);
  EXPECT_EQ(inst()->selection, 1u);
  EXPECT_EQ(drag_to(3), kRtHandledRedraw);
  EXPECT_EQ(order(), "DBCA");  // A onto the last cell, D into the vacated one
  EXPECT_EQ(inst()->selection, 8u);
  EXPECT_EQ(drag_to(1), kRtHandledRedraw);  // always from the layout at the press
  EXPECT_EQ(order(), "BACD");
  EXPECT_EQ(up(), 0);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(order(), "ABCD");
}

TEST_F(Grid, ShiftCopiesAndMovesAreClippedAtTheGridEdge) {
  EXPECT_EQ(press(0), 0);
  EXPECT_EQ(drag_to(3, 1), kRtHandledRedraw);
  EXPECT_EQ(order(), "ABCA");
  EXPECT_EQ(up(1), 0);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(order(), "ABCD");
  // A and B selected (the first row, as a handler may select them): a move
  // toward the last cell keeps both on the grid, so it only goes down a row.
  EXPECT_EQ(press(0), 0);
  inst()->selection = 3;
  host.block->h.interaction.moving = 3;
  EXPECT_EQ(drag_to(3), kRtHandledRedraw);
  EXPECT_EQ(order(), "CDAB");
  EXPECT_EQ(inst()->selection, 12u);
  EXPECT_EQ(up(), 0);
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_EQ(order(), "ABCD");
}

TEST_F(Grid, AReleaseWithoutAMoveLeavesNothingToUndo) {
  const bool could = rt_can_undo(host.block, 0);
  EXPECT_EQ(press(2), 0);
  EXPECT_EQ(up(), 0);
  EXPECT_EQ(rt_can_undo(host.block, 0), could);
  EXPECT_EQ(order(), "ABCD");
  // Outlines follow the pointer inside the pressed cell in erase and draw pairs.
  EXPECT_EQ(press(2), 0);
  rec.take();
  EXPECT_EQ(drag_to(2), kRtHandledRedraw);  // the first move lays the cell out
  EXPECT_EQ(interact_mouse_move(h(), 0, cx(2) + 5, cy(2) + 4, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(count(rec.take(), "focus_rect"), 1);
  EXPECT_EQ(interact_mouse_move(h(), 0, cx(2) + 9, cy(2) + 4, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(count(rec.take(), "focus_rect"), 2);
  EXPECT_EQ(up(), 0);
  EXPECT_EQ(count(rec.take(), "focus_rect"), 1);  // the outline erased
}

TEST_F(Grid, FreeLayoutFramesLandOnTheGridStep) {
  ASSERT_EQ(inst_free_layout(host.block, 0, false), 0);
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  EXPECT_EQ(interact_context_click(h(), 0, cx(0), cy(0)), kRtHandledRedraw);
  ASSERT_EQ(inst()->selection, 8u);  // compacted: the selected subplot is last
  Subplot& s = sp(3);
  // Resize by the bottom-right corner.
  const double left = s.rectLeft, top = s.rectTop;
  EXPECT_EQ(interact_mouse_down(h(), 0, s.rectRight, s.rectBottom, 0), kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.frame_part, 4);
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, s.rectRight + 13, s.rectBottom + 21, 0, nullptr, 0, nullptr),
            kRtHandledRedraw);
  EXPECT_EQ(s.rectLeft, left);
  EXPECT_EQ(s.rectTop, top);
  EXPECT_EQ(std::fmod(s.rectRight - s.rectLeft, 8.0), 0.0);
  EXPECT_EQ(std::fmod(s.rectBottom - s.rectTop, 8.0), 0.0);
  EXPECT_EQ(up(), kRtHandledRedraw);
  // Move the whole frame: its left and top edges snap, its size stays.
  const double w = s.rectRight - s.rectLeft, h_ = s.rectBottom - s.rectTop;
  const double x = (s.rectLeft + s.rectRight) / 2, y = (s.rectTop + s.rectBottom) / 2;
  EXPECT_EQ(interact_mouse_down(h(), 0, x, y, 0), kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.frame_part, 0);
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, x + 5, y + 11, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(std::fmod(s.rectLeft, 8.0), 0.0);
  EXPECT_EQ(std::fmod(s.rectTop, 8.0), 0.0);
  EXPECT_EQ(s.rectRight - s.rectLeft, w);
  EXPECT_EQ(s.rectBottom - s.rectTop, h_);
  EXPECT_EQ(up(), kRtHandledRedraw);
  char text[80] = {};
  EXPECT_EQ(interact_mouse_hover(h(), 0, s.rectLeft, s.rectTop, 0, text, sizeof text, nullptr), 0);
  EXPECT_STREQ(text, "Resize");
}

// Subplot 0 showing figure E, a 3-D plot.
struct Camera : Figure {
  void SetUp() override {
    Figure::SetUp();
    open(kApp, kSource);
    ASSERT_EQ(inst_subplot_assign(host.block, 0, 0, 0, record(kTagFigure, 4), true), 0);
    ASSERT_EQ(inst_refresh(h(), 0), 0);
    ASSERT_TRUE(sp(0).is3D);
    subplot_set_orthographic(&sp(0), 0);
  }
  double cx() { return (sp(0).frameLeft + sp(0).frameRight) / 2; }
  double cy() { return (sp(0).frameTop + sp(0).frameBottom) / 2; }
  int drag(double dx, double dy, uint8_t shift = 0) {
    EXPECT_EQ(interact_mouse_down(h(), 0, cx(), cy(), shift), 0);
    figtest::g_now += 1;
    const int status = interact_mouse_move(h(), 0, cx() + dx, cy() + dy, shift, nullptr, 0, nullptr);
    EXPECT_EQ(up(shift), 0);
    return status;
  }
};

double gap(const double* a, const double* b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

TEST_F(Camera, OrbitKeepsTheDistanceAndDollyMovesCameraAndTarget) {
  interact_set_tool_mode(h(), kToolDrag);
  EXPECT_EQ(interact_cursor_kind(h(), 0, cx(), cy(), 0), kCursorOrbit);
  EXPECT_EQ(interact_cursor_kind(h(), 0, cx(), cy(), 1), kCursorDollyLateral);
  const double r = subplot_camera_distance(&sp(0));
  const double pos[3] = {sp(0).camPos[0], sp(0).camPos[1], sp(0).camPos[2]};
  EXPECT_EQ(drag(40, -25), kRtHandledRedraw);
  EXPECT_NEAR(subplot_camera_distance(&sp(0)), r, 1e-9);
  EXPECT_GT(gap(sp(0).camPos, pos), 0.1);
  const double target[3] = {sp(0).camTarget[0], sp(0).camTarget[1], sp(0).camTarget[2]};
  EXPECT_EQ(drag(30, 0, 1), kRtHandledRedraw);
  EXPECT_GT(gap(sp(0).camTarget, target), 0.01);
  EXPECT_NEAR(subplot_camera_distance(&sp(0)), r, 1e-9);
}

TEST_F(Camera, DollyForwardChangesTheDistanceAndShiftKeepsTheTarget) {
  interact_set_tool_mode(h(), kToolZoomX);
  EXPECT_EQ(interact_cursor_kind(h(), 0, cx() + 10, cy(), 0), kCursorDollyForward);
  const double r = subplot_camera_distance(&sp(0));
  const double target[3] = {sp(0).camTarget[0], sp(0).camTarget[1], sp(0).camTarget[2]};
  EXPECT_EQ(interact_mouse_down(h(), 0, cx() + 10, cy(), 1), 0);
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, cx() + 60, cy(), 1, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(up(1), 0);
  EXPECT_NE(subplot_camera_distance(&sp(0)), r);
  EXPECT_EQ(gap(sp(0).camTarget, target), 0);
}

TEST_F(Camera, RollAndPanFromTheSavedToolVariants) {
  host.block->h.interaction_mode = kCaseRoll;  // an image may hold the camera tools
  EXPECT_EQ(interact_cursor_kind(h(), 0, cx() + 10, cy(), 0), kCursorRoll);
  const double dir[3] = {sp(0).viewMatrix[2][0], sp(0).viewMatrix[2][1], sp(0).viewMatrix[2][2]};
  const double right[3] = {sp(0).viewMatrix[0][0], sp(0).viewMatrix[0][1], sp(0).viewMatrix[0][2]};
  EXPECT_EQ(interact_mouse_down(h(), 0, cx() + 50, cy(), 0), 0);
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, cx(), cy() + 50, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(up(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(sp(0).viewMatrix[2][i], dir[i], 1e-12);
  double turned = 0;  // a quarter turn about the view axis
  for (int i = 0; i < 3; ++i) turned += sp(0).viewMatrix[0][i] * right[i];
  EXPECT_NEAR(turned, 0, 1e-9);
  host.block->h.interaction_mode = kCasePan;
  const double target[3] = {sp(0).camTarget[0], sp(0).camTarget[1], sp(0).camTarget[2]};
  EXPECT_EQ(drag(20, 10), kRtHandledRedraw);
  EXPECT_GT(gap(sp(0).camTarget, target), 0);
  EXPECT_EQ(sp(0).viewFlags & kViewAutoTarget, 0u);
  char text[64] = {};
  EXPECT_EQ(interact_mouse_hover(h(), 0, cx(), cy(), 0, text, sizeof text, nullptr), 0);
  EXPECT_STREQ(text, "Pan and tilt camera");
}

}  // namespace
