// Manipulate mode, as scripted mouse events on a built figure: press, drag
// and release handlers in order with the hit's special variables, undo of
// the dragged variable, the second drag handler after a cancel, the mouse
// rate, failing handlers ended once, overlapping subplots, context clicks,
// mouse-over and leave handlers, and the wheel.
#include "graphics/interact/figure_events.h"

#include <cmath>

#include "runtime/instances.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function p = start()\n p = [2 3];\nendfunction\n"
    "function draw(p)\n scale([0 10 0 10]);\n plot(p(1), p(2), 'o', 1);\nendfunction\n"
    "function log = pressed(log, x, y, id, ix)\n log = [log; 1 x y id ix];\nendfunction\n"
    "function [p, log] = dragged(p, log, x1, y1, id, ix)\n"
    " if x1 > 8\n  error('too far');\n end\n p = [x1 y1];\n log = [log; 2 x1 y1 id ix];\nendfunction\n"
    "function log = released(log)\n log = [log; 3 0 0 0 0];\nendfunction\n"
    "function stop()\n cancel;\nendfunction\n"
    "function log = second(log, x1)\n log = [log; 4 x1 0 0 0];\nendfunction\n"
    "function [n, m] = over(n, x)\n if isempty(n)\n  n = 0;\n end\n n = n + 1;\n m = sprintf('at %g', round(x));\nendfunction\n"
    "function log = gone(log)\n log = [log; 5 0 0 0 0];\nendfunction\n"
    "function log = rolled(log, dx, dy)\n log = [log; 6 dx dy 0 0];\nendfunction\n"
    "function n = zero()\n n = 0;\nendfunction\n"
    "function log = out(log, id)\n log = [log; 7 id 0 0 0];\nendfunction\n"
    "function log = dropped(log, id, x0, nb)\n log = [log; 8 id x0 nb 0];\nendfunction\n"
    "function fragile(p)\n if p(1) > 6\n  error('cannot draw');\n end\n draw(p);\nendfunction\n";

std::string app(const std::string& handlers) {
  return "instance demo\nvar p\nvar log\nvar n\ninit p = start()\nfigure \"Main\"\nplot draw(p)\n" + handlers;
}
const char kDragApp[] =
    "press 1 log = pressed(log, _x, _y, _id, _ix)\n"
    "drag 1 [p, log] = dragged(p, log, _x1, _y1, _id, _ix)\n"
    "release 1 log = released(log)\n";

TEST_F(Figure, PressDragReleaseRunTheHandlersInOrderAndUndoRestores) {
  open(app(kDragApp), kSource);
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  EXPECT_EQ(move(0, 4, 5), kRtHandledRedraw);
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<double> log = matrix("log");
  ASSERT_EQ(log.size(), 20u) << "press, drag at the press, drag, release";
  const double rows[4][5] = {{1, 2, 3, 1, 1}, {2, 2, 3, 1, 1}, {2, 4, 5, 1, 1}, {3, 0, 0, 0, 0}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 5; ++c) EXPECT_NEAR(log[5 * r + c], rows[r][c], 1e-9) << r << "," << c;
  EXPECT_NEAR(matrix("p")[0], 4, 1e-9);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  EXPECT_EQ(sp(0).xMode & 64, 0);  // the manipulated mark is gone
  // Undo steps back over the drag: the point is where it was before the press.
  EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_NEAR(matrix("p")[0], 2, 1e-9);
  EXPECT_EQ(up(), kRtNoInteraction);
}

TEST_F(Figure, ACancelledDragRunsTheSecondDragHandler) {
  open(app("drag 1 stop()\ndrag2 1 log = second(log, _x1)\n"), kSource);
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  EXPECT_EQ(move(0, 5, 5), kRtHandledRedraw);
  const std::vector<double> log = matrix("log");
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[0], 4);
  EXPECT_NEAR(log[6], 5, 1e-9);
  EXPECT_EQ(up(), kRtHandledRedraw);
}

TEST_F(Figure, MovesFasterThanTheMouseRateChangeNothing) {
  open(app(kDragApp), kSource);
  with_clock();
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  EXPECT_EQ(move(0, 4, 4), kRtHandledRedraw);
  const size_t rows = matrix("log").size();
  figtest::g_now += 0.001;
  EXPECT_EQ(interact_mouse_move(h(), 0, px(0, 6), py(0, 6), 0, nullptr, 0, nullptr), kRtNoHandler);
  EXPECT_EQ(matrix("log").size(), rows);
  EXPECT_NEAR(matrix("p")[0], 4, 1e-9);
  EXPECT_EQ(move(0, 6, 6), kRtHandledRedraw);
  EXPECT_NEAR(matrix("p")[0], 6, 1e-9);
}

TEST_F(Figure, AFailingDragHandlerEndsTheDragOnceAndDropsItsRow) {
  open(app(kDragApp), kSource);
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  EXPECT_EQ(move(0, 5, 5), kRtHandledRedraw);
  const int status = move(0, 9, 5);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  EXPECT_EQ(move(0, 7, 5), kRtNoInteraction);  // answered once: the drag is over
  EXPECT_EQ(up(), kRtNoInteraction);
  // The drag's row is gone with its changes: nothing is left to undo.
  EXPECT_NEAR(matrix("p")[0], 2, 1e-9);
  EXPECT_FALSE(rt_can_undo(host.block, 0));
}

TEST_F(Figure, APlotHandlerFailingAfterADragEndsItOnce) {
  open("instance demo\nvar p\nvar log\nvar n\ninit p = start()\nfigure \"Main\"\nplot fragile(p)\n" +
           std::string(kDragApp),
       kSource);
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  const int status = move(0, 7, 3);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  EXPECT_EQ(move(0, 5, 3), kRtNoInteraction);
  EXPECT_EQ(up(), kRtNoInteraction);
  // A select press in free layout redraws: failing, it begins no frame move.
  ASSERT_EQ(inst_free_layout(host.block, 0, false), 0);
  interact_set_tool_mode(h(), kToolSelect);
  const double x = (sp(0).rectLeft + sp(0).rectRight) / 2, y = (sp(0).rectTop + sp(0).rectBottom) / 2;
  const int press = interact_mouse_down(h(), 0, x, y, 0);
  EXPECT_NE(press, 0);
  EXPECT_NE(press, kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  EXPECT_EQ(host.block->h.interaction.row_pushed, 0);
}

TEST_F(Figure, DraggingAnElementOntoAnotherSubplotRunsDragOutThenDrop) {
  open(app("drag 1 [p, log] = dragged(p, log, _x1, _y1, _id, _ix)\ndragout 1 log = out(log, _id)\n"
           "drop 1 log = dropped(log, _id, _x0, _nb)\n"),
       kSource, 1, 2);
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  const double x = (sp(1).frameLeft + sp(1).frameRight) / 2, y = (sp(1).frameTop + sp(1).frameBottom) / 2;
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, x, y, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.active, 1);
  const std::vector<double> log = matrix("log");
  // The drag's row went (with the drag at the press): drag-out, then drop.
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[0], 7);
  EXPECT_EQ(log[1], 1);
  EXPECT_EQ(log[5], 8);
  EXPECT_EQ(log[6], 1);          // the dragged element's id
  EXPECT_NEAR(log[7], 2, 1e-9);  // and its point, not the drop subplot's hit
  EXPECT_EQ(up(), kRtHandledRedraw);
  // Over a subplot without a drop handler for the element nothing moves over.
  EXPECT_EQ(down(0, 2, 3), kRtHandledRedraw);
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, -20, -20, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(host.block->h.interaction.active, 0);
}

TEST_F(Figure, APressOffTheFiguresSubplotsOrWithoutHandlersDoesNothing) {
  open(app(""), kSource);
  EXPECT_EQ(interact_mouse_down(h(), 0, 399, 299, 0), kRtNoInteraction);  // the margin, outside the frame
  EXPECT_EQ(down(0, 2, 3), kRtNoInteraction);                             // no handler
  EXPECT_EQ(interact_mouse_down(h(), 7, 10, 10, 0), kRtNonexistentInstance);
  EXPECT_EQ(up(), kRtNoInteraction);
}

// Two subplots whose frames overlap in free layout; the later one wins.
struct Overlap : Figure {
  void SetUp() override {
    Figure::SetUp();
    open(app("over -1 [n, _msg] = over(n, _x)\nleave -1 log = gone(log)\nwheel -1 log = rolled(log, _dx, _dy)\n"
             "press 1 log = pressed(log, _x, _y, _id, _ix)\n"),
         kSource, 1, 2);
    InstanceRec* r = inst();
    r->free_layout = 1;
    subplot_set_rect(&r->subplots[0], 0, 250, 0, 300);
    subplot_set_rect(&r->subplots[1], 150, 400, 0, 300);
    ASSERT_EQ(inst_refresh(h(), 0), 0);
    ASSERT_EQ(interact_set_tool_mode(h(), kToolManipulate), 0);
  }
};

TEST_F(Overlap, TheHighestIndexWinsEverywhere) {
  const double x = 200, y = 150;  // inside both frames
  ASSERT_LT(sp(1).frameLeft, x);
  ASSERT_GT(sp(0).frameRight, x);
  char text[64] = {};
  EXPECT_EQ(interact_mouse_hover(h(), 0, x, y, 0, text, sizeof text, nullptr), kRtHandledRedraw);
  EXPECT_EQ(inst()->pending_subplot, 1);
  EXPECT_EQ(interact_mouse_wheel(h(), 0, x, y, 0, 2, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  const std::vector<double> log = matrix("log");
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], 6);
  EXPECT_EQ(log[2], 2);  // _dy is the wheel's scroll amount
  EXPECT_EQ(inst()->pending_subplot, 1);
  EXPECT_EQ(interact_cursor_kind(h(), 0, x, y, 0), kCursorNone);  // no press or drag handler for empty space
  EXPECT_EQ(interact_mouse_down(h(), 0, x, y, 0), kRtNoInteraction);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  interact_set_tool_mode(h(), kToolSelect);
  EXPECT_EQ(interact_mouse_down(h(), 0, x, y, 1), kRtNoInteraction);  // Shift: a selection click only
  EXPECT_EQ(inst()->selection, 2u);
}

TEST_F(Overlap, HoverRunsTheMouseOverHandlerAndLeavingRunsTheLeaveHandler) {
  char text[64] = {};
  EXPECT_EQ(interact_mouse_hover(h(), 0, 50, 150, 0, text, sizeof text, nullptr), kRtHandledRedraw);
  const long at = std::lround((50 - sp(0).xOffset) / sp(0).xScale);
  EXPECT_EQ(std::string(text), "at " + std::to_string(at));
  EXPECT_EQ(inst()->pending_subplot, 0);
  EXPECT_EQ(value("n"), 1);
  // Into the other subplot: the first one's leave handler runs first.
  EXPECT_EQ(interact_mouse_hover(h(), 0, 300, 150, 0, text, sizeof text, nullptr), kRtHandledRedraw);
  EXPECT_EQ(matrix("log").size(), 5u);
  EXPECT_EQ(inst()->pending_subplot, 1);
  // Off every subplot: the pending one ends.
  EXPECT_EQ(interact_mouse_hover(h(), 0, -10, -10, 0, text, sizeof text, nullptr), kRtHandledRedraw);
  EXPECT_EQ(matrix("log").size(), 10u);
  EXPECT_EQ(inst()->pending_subplot, -1);
  // Leaving manipulate by the key '2' ends a pending subplot as the menu does.
  EXPECT_EQ(interact_mouse_hover(h(), 0, 50, 150, 0, text, sizeof text, nullptr), kRtHandledRedraw);
  EXPECT_EQ(inst_key_event(h(), 0, '2'), kRtHandledRedraw);
  EXPECT_EQ(matrix("log").size(), 15u);
  EXPECT_EQ(interact_get_tool_mode(host.block), kToolZoom);
  EXPECT_EQ(inst()->pending_subplot, -1);
}

// In free layout the selected subplots move to the end (drawn on top), so
// each click redraws and the clicked subplot ends as the last one.
TEST_F(Overlap, AContextClickSelectsAndRestoresTheTool) {
  interact_set_tool_mode(h(), kToolZoom);
  EXPECT_EQ(interact_context_click(h(), 0, 200, 150), kRtHandledRedraw);
  EXPECT_EQ(inst()->selection, 2u);
  EXPECT_EQ(interact_get_tool_mode(host.block), kToolZoom);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  EXPECT_EQ(interact_context_click(h(), 0, 50, 150), kRtHandledRedraw);
  EXPECT_EQ(inst()->selection, 2u);
  EXPECT_EQ(sp(1).rectLeft, 0);  // the subplot clicked, now drawn last
  EXPECT_EQ(host.block->h.interaction.active, -1);
  // In the grid nothing moves: the click selects and answers 0.
  inst()->free_layout = 0;
  inst_layout_positions(inst());
  EXPECT_EQ(interact_context_click(h(), 0, 50, 150), 0);
  EXPECT_EQ(inst()->selection, 1u);
}

TEST_F(Figure, AWheelUnderTheZoomToolDoesNothing) {
  open(app("wheel -1 log = rolled(log, _dx, _dy)\n"), kSource);
  interact_set_tool_mode(h(), kToolZoom);
  const double xMin = sp(0).xMin;
  EXPECT_EQ(interact_mouse_wheel(h(), 0, px(0, 5), py(0, 5), 0, 1, 0, nullptr, 0, nullptr), 0);
  EXPECT_EQ(sp(0).xMin, xMin);
  EXPECT_TRUE(matrix("log").empty());
  // Under the drag tool the wheel drags the view by lines and characters.
  interact_set_tool_mode(h(), kToolDrag);
  const double lines = std::fabs(sp(0).lineHeight) / std::fabs(sp(0).yScale);
  const double yMin = sp(0).yMin;
  EXPECT_EQ(interact_mouse_wheel(h(), 0, px(0, 5), py(0, 5), 0, 1, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_NEAR(std::fabs(sp(0).yMin - yMin), lines, 1e-9);
}

}  // namespace
