// A figure whose plot handler lays itself out with `subplot` (a curve in
// each of two cells), drawn again every way a user can: the menu command,
// the drag handler, a new size, undo and redo, the copy of the figure or of
// the right-hand subplot alone. Each drawing must be the first one: both
// curves, each cell's labels once and for its own data.
#include "graphics/interact/figure_events.h"

#include <functional>

#include "graphics/interact/interaction.h"
#include "runtime/instances.h"
#include "runtime/menu_exec.h"
#include "runtime/runtime_status.h"
#include "support/tick_label_model.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function a = start()\n a = 1;\nendfunction\n"
    "function draw(a)\n x = 0:0.1:6;\n subplot(1, 2, 1);\n plot(x, a * sin(x), 'b');\n"
    " subplot(1, 2, 2);\n plot(x, 10 + a * x, 'r');\nendfunction\n"
    "function a = same(a)\nendfunction\n"
    "function a = twice(a)\n a = 2 * a;\nendfunction\n";
const char kApp[] = "instance demo\nvar a\ninit a = start()\nmenutitle \"&T\"\nmenu \"&Same\" a = same(a)\n"
                    "menu \"T&wice\" a = twice(a)\nfigure \"A\"\nplot draw(a)\ndrag -1 a = same(a)\n";

struct SubplotRedraw : Figure {
  std::string picture() {
    figure_draw(host.block, 0);
    return rec.take();
  }
  // The first drawing measures the subplots: the one after it is compared.
  std::string first_picture() {
    picture();
    return picture();
  }
  // The y labels drawn left of x, in the order drawn.
  std::vector<std::string> y_labels(const std::string& log, double from, double to) {
    std::vector<std::string> out;
    for (const tickmodel::Text& t : tickmodel::texts(log))
      if (t.align == kAlignRight && t.x >= from && t.x < to) out.push_back(t.text);
    return out;
  }
  std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
    return s;
  }
  // Polylines drawn in pure red, the right-hand curve's colour.
  size_t red_curves(const std::string& log) {
    size_t n = 0;
    for (size_t p = log.find("/255,0,0"); p != std::string::npos; p = log.find("/255,0,0", p + 1)) ++n;
    return n;
  }
};

TEST_F(SubplotRedraw, EveryRedrawDrawsBothCellsAsTheFirstDrawing) {
  open(kApp, kSource);
  ASSERT_EQ(inst()->rows * inst()->cols, 2);
  const std::string first = first_picture();
  const double middle = (sp(0).rectRight + sp(1).rectLeft) / 2;
  const std::vector<std::string> left = y_labels(first, 0, middle), right = y_labels(first, middle, 1e9);
  // Each cell's labels once, for its own data: sin on the left, 10 to 16
  // on the right.
  EXPECT_EQ(tickmodel::check_linear(left), "") << joined(left);
  EXPECT_EQ(tickmodel::check_linear(right), "") << joined(right);
  EXPECT_EQ(left.front(), "-1") << joined(left);
  EXPECT_EQ(right.front(), "10") << joined(right);
  EXPECT_EQ(right.back(), "16") << joined(right);
  EXPECT_GT(red_curves(first), 0u);

  struct Way {
    const char* name;
    std::function<void()> redraw;
  };
  const Way ways[] = {
      {"menu command", [&] { EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 0)), kRtHandledRedraw); }},
      {"drag handler",
       [&] {
         EXPECT_EQ(down(0, 2, 0), kRtHandledRedraw);
         EXPECT_EQ(move(0, 3, 0.5), kRtHandledRedraw);
         EXPECT_EQ(up(), kRtHandledRedraw);
       }},
      {"new size and back",
       [&] {
         EXPECT_EQ(figure_layout_subplots(h(), 0, 0, 640, 0, 480), 0);
         EXPECT_EQ(inst_refresh(h(), 0), 0);
         EXPECT_EQ(figure_layout_subplots(h(), 0, 0, 400, 0, 300), 0);
         EXPECT_EQ(inst_refresh(h(), 0), 0);
       }},
      {"undo and redo",
       [&] {
         EXPECT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 1)), kRtHandledRedraw);
         EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
         EXPECT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
         EXPECT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
       }},
      {"copy of the figure", [&] { EXPECT_EQ(inst_draw_current_subplot(h(), 0, 0, 400, 0, 300), 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    way.redraw();
    rec.take();
    const std::string now = picture();
    EXPECT_TRUE(now == first) << "right-hand labels " << joined(y_labels(now, middle, 1e9)) << ", "
                              << red_curves(now) << " red curves";
  }

  // The right-hand subplot copied alone: its own curve and labels, once.
  inst_set_selection(host.block, 0, 2, false);
  const Subplot& s = sp(1);
  rec.take();
  ASSERT_EQ(inst_draw_current_subplot(h(), 0, s.rectLeft, s.rectRight, s.rectTop, s.rectBottom), 0);
  const std::string copy = rec.take();
  EXPECT_EQ(joined(y_labels(copy, 0, 1e9)), joined(right));
  EXPECT_EQ(red_curves(copy), red_curves(first));
  EXPECT_EQ(copy.find("/0,0,255"), std::string::npos) << "the left-hand curve in the copy";
}

// Twice the data: the right-hand cell follows them (its axes are restarted
// before the handler draws into it again) and undo gives the first back.
TEST_F(SubplotRedraw, TheCellsFollowNewDataAndUndoGivesTheOldBack) {
  open(kApp, kSource);
  const std::string first = first_picture();
  const double middle = (sp(0).rectRight + sp(1).rectLeft) / 2;
  ASSERT_EQ(inst_menu_exec(h(), 0, record(kTagMenuTitle, 1)), kRtHandledRedraw);
  const std::string doubled = picture();
  const std::vector<std::string> right = y_labels(doubled, middle, 1e9);
  EXPECT_EQ(tickmodel::check_linear(right), "") << joined(right);
  EXPECT_EQ(right.front(), "10") << joined(right);
  EXPECT_EQ(right.back(), "22") << joined(right);
  ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
  EXPECT_TRUE(picture() == first);
}

}  // namespace
