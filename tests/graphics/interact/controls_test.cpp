// On-screen controls operated by scripted mouse events on a built figure: a
// two-thumb slider, check boxes, a push button, a pop-up menu and a text
// field drawn by the plot handler; presses, drags and releases give the
// handlers _x, _x0, _x1, _ix, _id, _nb; controls that show their own state
// hold the drag handler back until the release. Also the tracking
// operations as tables.
#include "graphics/interact/figure_events.h"

#include <cmath>

#include "graphics/interact/control_track.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/render/plot_render.h"
#include "graphics/render/render_flow.h"
#include "runtime/instances.h"
#include "runtime/runtime_status.h"
#include "support/golden_file.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function [v, m] = start()\n v = [2 8];\n m = 5;\nendfunction\n"
    "function draw(v, m)\n"
    " settabs([6 6 6 6]);\n"
    " text(['name' 9 'value' 10 'speed' 9 'fast'], fontset('Font', 'Mono', 'Bold', 1, 'Color', [0 0 1]));\n"
    " legend(['one' 10 'two'], 'r,g');\n"
    " slider('speed', v, [0 10], '', 'k', 1);\n"
    " button(['opts' 9 'a' 9 'b' 9 'c'], m, 'c', 'k', 2);\n"
    " pushbutton(['go' 9 'Go'], 'k', 3);\n"
    " popupmenu('pick', {'one', 'two', 'three'}, 2, 'k', 4);\n"
    " textfield('val', '%.2f', 1.5, 'k', 5);\n"
    " slider('free', 1, [0 2]);\n"
    "endfunction\n"
    "function v = slid(v, ix, x1)\n v(ix) = x1;\nendfunction\n"
    "function log = note1(log, a, b, c, d, e)\n log = [log; 1 a b c d e];\nendfunction\n"
    "function log = note2(log, a, b, c, d, e)\n log = [log; 2 a b c d e];\nendfunction\n"
    "function log = note3(log, a, d, e)\n log = [log; 3 a 0 0 d e];\nendfunction\n"
    "function log = note4(log, a, b, c, d)\n log = [log; 4 a b c d 0];\nendfunction\n";

const char kApp[] =
    "instance demo\nvar v\nvar m\nvar log\ninit [v, m] = start()\nfigure \"Main\"\nplot draw(v, m)\n"
    "drag 1 v = slid(v, _ix, _x1)\n"
    "release 1 log = note1(log, _x, _x0, _ix, _id, _nb)\n"
    "drag 2 log = note2(log, _x, _x0, _x1, _id, _nb)\n"
    "drag 3 log = note3(log, _ix, _id, _nb)\n"
    "drag 4 log = note4(log, _x, _x0, _x1, _id)\n";

struct Controls : Figure {
  void SetUp() override {
    Figure::SetUp();
    open(kApp, kSource);
    figure_draw(host.block, 0);  // painted once, as the view does: the controls are laid out
    rec.take();
  }
  // The committed list of the instance.
  double* list(int32_t* length) {
    int32_t pos = 0;
    EXPECT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &pos, length));
    return plotstore_data(rt_plot_store(host.block)) + pos;
  }
  // The data of the record with this code and id.
  double* record(int32_t code, double id) {
    int32_t length = 0;
    double* l = list(&length);
    PlotReader r;
    plotreader_init(&r, l, length, 0);
    PlotRecord p;
    while (plotreader_next(&r, &p))
      if (p.code_int == code && p.head[kPlotRecId] == id) return l + p.at + kRecHead;
    ADD_FAILURE() << "no record " << code << " id " << id;
    static double none[16] = {};
    return none;
  }
  // The left edge of segment k of the flow's row (6 characters a stop).
  double segment(int32_t k) {
    const Subplot& s = sp(0);
    const double stops[4] = {42, 84, 126, 168};
    return plot_scale_value(s.frameLeft, s.frameRight, 5, stops, 4, k);
  }
  int press(double x, double y) { return interact_mouse_down(h(), 0, x, y, 0); }
  int drag(double x, double y) {
    figtest::g_now += 1.0;
    return interact_mouse_move(h(), 0, x, y, 0, nullptr, 0, nullptr);
  }
  std::vector<double> row(int32_t r) {
    const std::vector<double> log = matrix("log");
    return log.size() >= size_t(6 * (r + 1)) ? std::vector<double>(log.begin() + 6 * r, log.begin() + 6 * r + 6)
                                             : std::vector<double>{};
  }
};

TEST_F(Controls, ASliderDragMovesTheNearerThumbAndTheReleaseSeesTheHit) {
  const double* d = record(59, 1);
  const double left = d[3], right = d[4], y = (d[5] + d[6]) / 2;
  ASSERT_LT(left, right);
  auto at = [&](double v) { return left + (right - left) * v / 10; };
  EXPECT_EQ(press(at(2.4), y), kRtHandledRedraw);
  EXPECT_NEAR(matrix("v")[0], 2.4, 1e-9);  // the drag handler ran at the press
  EXPECT_EQ(drag(at(5), y + 30), kRtHandledRedraw);
  EXPECT_EQ(drag(right + 100, y), kRtHandledRedraw);  // beyond the track: the maximum
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<double> v = matrix("v");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NEAR(v[0], 10, 1e-9);
  EXPECT_EQ(v[1], 8);
  const std::vector<double> r = row(0);
  ASSERT_EQ(r.size(), 6u);
  EXPECT_NEAR(r[1], 2.4, 1e-9);  // _x: the value under the press
  EXPECT_EQ(r[2], 2);            // _x0: the thumb's old value
  EXPECT_EQ(r[3], 1);            // _ix
  EXPECT_EQ(r[4], 1);            // _id
  EXPECT_EQ(r[5], 1);            // _nb
}

TEST_F(Controls, ThePressNearerTheSecondThumbDragsIt) {
  const double* d = record(59, 1);
  const double left = d[3], right = d[4], y = (d[5] + d[6]) / 2;
  auto at = [&](double v) { return left + (right - left) * v / 10; };
  EXPECT_EQ(press(at(7), y), kRtHandledRedraw);
  EXPECT_EQ(host.block->h.manip.ix, 2);
  EXPECT_EQ(drag(at(6), y), kRtHandledRedraw);
  EXPECT_NEAR(matrix("v")[1], 6, 1e-9);
  EXPECT_EQ(up(), kRtHandledRedraw);
}

TEST_F(Controls, CheckBoxesToggleTheirBitAndComeBackWhenDraggedOff) {
  const double* d = record(62, 2);
  const double y = (d[2] + d[3]) / 2;
  EXPECT_EQ(d[1], 3);  // three boxes after the label, written by the layout
  EXPECT_EQ(press(segment(2) + 3, y), kRtHandledRedraw);
  EXPECT_EQ(drag(segment(2) + 3, y + 200), kRtHandledRedraw);
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<double> r0 = row(0), r1 = row(1);
  ASSERT_EQ(r1.size(), 6u);
  EXPECT_EQ(r0[1], 7);  // _x: 5 with bit 2 toggled
  EXPECT_EQ(r0[2], 5);  // _x0: the mask at the press
  EXPECT_EQ(r0[3], 7);  // _x1 on the box
  EXPECT_EQ(r1[3], 5);  // _x1 off the boxes: the old mask
  EXPECT_EQ(r1[4], 2);
  EXPECT_EQ(r1[5], 1);
}

TEST_F(Controls, APushButtonShowsItsStateAndItsDragHandlerWaitsForTheRelease) {
  const double* d = record(61, 3);
  const double y = (d[2] + d[3]) / 2, x = segment(1) + 3;
  EXPECT_EQ(press(x, y), kRtHandledRedraw);
  EXPECT_TRUE(host.block->h.manip.valid & kManipControl);
  EXPECT_EQ(record(61, 3)[0], 1);  // drawn pressed
  EXPECT_TRUE(matrix("log").empty());
  EXPECT_EQ(drag(x, y + 200), kRtHandledRedraw);  // off: unpressed, no _ix
  EXPECT_EQ(record(61, 3)[0], 0);
  EXPECT_FALSE(host.block->h.manip.valid & kManipIx);
  EXPECT_EQ(drag(x, y), kRtHandledRedraw);  // back: pressed again
  EXPECT_EQ(record(61, 3)[0], 1);
  EXPECT_TRUE(matrix("log").empty());
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<double> r = row(0);
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[0], 3);
  EXPECT_EQ(r[1], 1);  // _ix: the button under the pointer at the release
  EXPECT_EQ(r[4], 3);
}

TEST_F(Controls, APopupOpensOnItsChoiceAndFollowsThePointer) {
  const double* d = record(64, 4);
  const double top = d[5], bottom = d[6], h = bottom - top, x = d[4] + 2;
  ASSERT_GT(h, 0);
  inst()->state = 2;  // idle processing on: the open menu suspends it until the release
  EXPECT_EQ(press(x, (top + bottom) / 2), kRtHandledRedraw);
  EXPECT_EQ(inst()->state, 1);
  EXPECT_EQ(inst()->resume, 1);
  EXPECT_EQ(record(64, 4)[1], 1);  // open, showing the current choice (held from 0)
  EXPECT_EQ(drag(x, bottom + h / 2), kRtHandledRedraw);
  EXPECT_EQ(record(64, 4)[1], 2);
  EXPECT_EQ(drag(x, bottom + 20 * h), kRtHandledRedraw);  // below the last item: the last
  EXPECT_EQ(record(64, 4)[1], 2);
  EXPECT_EQ(drag(x, top - 20 * h), kRtHandledRedraw);  // above the first: the first
  EXPECT_EQ(record(64, 4)[1], 0);
  EXPECT_EQ(drag(x, bottom + h / 2), kRtHandledRedraw);
  EXPECT_EQ(up(), kRtHandledRedraw);
  EXPECT_EQ(inst()->state, 2);
  const std::vector<double> r = row(0);
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[2], 2);  // _x0: the current choice, from 1
  EXPECT_EQ(r[3], 3);  // _x1: the chosen item
}

TEST_F(Controls, ATextFieldTakesTheFocusWithItsWholeTextSelected) {
  const double* d = record(65, 5);
  EXPECT_EQ(press((d[0] + d[1]) / 2, (d[2] + d[3]) / 2), kRtHandledRedraw);
  EXPECT_GE(inst()->focus_record, 0);
  EXPECT_EQ(inst()->focus_subplot, 0);
  EXPECT_EQ(inst()->focus_caret, 0);
  EXPECT_EQ(inst()->focus_anchor, 32000);
}

TEST_F(Controls, AControlWithoutIdIsNeverHitAndAPressAfterAPrintHitsTheScreenControl) {
  const double* free = record(59, -1);
  EXPECT_EQ(press((free[3] + free[4]) / 2, (free[5] + free[6]) / 2), 0);
  EXPECT_EQ(host.block->h.interaction.active, -1);
  // A print laid the slider out in its own pixels: the press lays it out again.
  double* d = record(59, 1);
  const double left = d[3], right = d[4], y = (d[5] + d[6]) / 2;
  for (int i = 3; i <= 6; ++i) d[i] *= 4;
  EXPECT_EQ(press(left + (right - left) * 0.8, y), kRtHandledRedraw);
  EXPECT_EQ(host.block->h.manip.ix, 2);  // at 4 times its pixels the slider would lie right of the press
  EXPECT_EQ(up(), kRtHandledRedraw);
}

TEST_F(Controls, TheFigureDrawsBevelsFieldsAndTheFlow) {
  figure_draw(host.block, 0);
  const std::string log = rec.take();
  for (const char* want : {"set_font \"Mono\"", "\"value\"", "image_row", "r=250,220", "style=0x27/255,255,255",
                           "\"speed\"", "\"1.50\"", "\"two\"", "\"Go\""})
    EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
  expect_golden(log, "controls_closed.log");
  // Pressed: the pop-up open while tracked, drawn over everything else.
  const double* d = record(64, 4);
  ASSERT_EQ(press(d[4] + 2, (d[5] + d[6]) / 2), kRtHandledRedraw);
  figure_draw(host.block, 0);
  const std::string open = rec.take();
  EXPECT_NE(open.find("colour=255,255,255 \"two\""), std::string::npos) << open;
  expect_golden(open, "controls_open_menu.log");
  ASSERT_EQ(up(), kRtHandledRedraw);
  figure_draw(host.block, 0);  // the view paints after the release
  rec.take();
  // A focused field shows its selection in yellow.
  const double* f = record(65, 5);
  ASSERT_EQ(press((f[0] + f[1]) / 2, (f[2] + f[3]) / 2), kRtHandledRedraw);
  figure_draw(host.block, 0);
  const std::string focused = rec.take();
  EXPECT_NE(focused.find("style=0x26/255,255,0"), std::string::npos) << focused;
  expect_golden(focused, "controls_focused_field.log");
}

// A long text scrolls with the wheel and with drags, and keeps its offset
// through the redraw after the release.
struct TextScroll : Figure {};

TEST_F(TextScroll, WheelAndDragScrollTheTextWithinItsHeight) {
  open("instance demo\nvar x\nfigure \"Main\"\nplot draw()\n",
       "function draw()\n for k = 1:60\n  text(sprintf('line %d', k));\n end\nendfunction\n");
  figure_draw(host.block, 0);
  rec.take();
  Subplot& s = sp(0);
  ASSERT_EQ(s.yMode, kAxisFixed);
  ASSERT_GT(s.yMax, 0);
  EXPECT_EQ(s.yOffset, 0);
  const double mx = (s.frameLeft + s.frameRight) / 2, my = (s.frameTop + s.frameBottom) / 2;
  EXPECT_EQ(interact_mouse_wheel(h(), 0, mx, my, 0, 2, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(s.yOffset, 2 * s.lineHeight);
  EXPECT_EQ(interact_mouse_wheel(h(), 0, mx, my, 0, -100, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(s.yOffset, 0);  // not above the top
  EXPECT_EQ(interact_mouse_down(h(), 0, mx, my, 0), kRtHandledRedraw);
  figtest::g_now += 1;
  EXPECT_EQ(interact_mouse_move(h(), 0, mx, my - 40, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(s.yOffset, 40);  // dragged up: the text moves up
  figtest::g_now += 1;
  interact_mouse_move(h(), 0, mx, my - 1e6, 0, nullptr, 0, nullptr);
  EXPECT_EQ(s.yOffset, s.yMax);  // not beyond the flow's height
  up();
  figure_draw(host.block, 0);
  EXPECT_EQ(sp(0).yOffset, sp(0).yMax);
  const std::string log = rec.take();
  EXPECT_NE(log.find("\"...\""), std::string::npos);
}

// The tracking operations alone.
TEST(ControlTrack, SliderPressesTakeTheNearerThumbTheFirstOnTies) {
  ManipState st{};
  const double thumbs[2] = {4, 6};
  EXPECT_TRUE(ui_slider_track(150, 5, 100, 200, 0, 10, 7, 2, thumbs, 2, 0, 10, false, true, &st));
  EXPECT_EQ(st.ix, 1);  // both 10 pixels away
  EXPECT_EQ(st.valid, 0x3803u);
  EXPECT_EQ(st.x, 5);
  EXPECT_EQ(st.x0, 4);
  EXPECT_FALSE(ui_slider_track(150, 11, 100, 200, 0, 10, 7, 2, thumbs, 2, 0, 10, false, true, &st));
  EXPECT_FALSE(ui_slider_track(150, 5, 100, 200, 0, 10, 7, 2, thumbs, 0, 0, 10, false, true, &st));
  const double nan_thumbs[1] = {NAN};
  EXPECT_FALSE(ui_slider_track(150, 5, 100, 200, 0, 10, 7, 2, nan_thumbs, 1, 0, 10, false, true, &st));
  ui_slider_track(250, 5, 100, 200, 0, 10, 7, 2, nullptr, 0, 10, 0, false, false, &st);
  EXPECT_EQ(st.x1, 0);  // clamped between the smaller and the larger bound
  ui_slider_track(150, 5, 100, 200, 0, 10, 7, 2, nullptr, 0, 1, 100, true, false, &st);
  EXPECT_NEAR(st.x1, 10, 1e-12);
}

// Record 45: q = Re f(x1 + i y1) / Re f(x0 + i y0) for f = num / den. The
// reference is Horner's rule in complex arithmetic, as numpy's polyval.
TEST(ControlTrack, TheRationalFunctionGivesQ) {
  std::vector<double> list = {69, -1, -1, 0, 0, 1, 0,
                              45, 6,  -1, 0, 0, 9, 2, 3, 2, -1, 0.5, 1, 3, 2, 1};
  Subplot s{};
  ManipState st{};
  auto step = [&](uint32_t valid) {
    st.id = 6, st.nb = -1;
    st.x1 = 1.5, st.y1 = 0.25, st.x0 = -0.5, st.y0 = 2;
    st.valid = valid;
    plotlist_control_step(list.data(), int32_t(list.size()), 0, &s, 0, 0, &st, nullptr, nullptr);
  };
  const uint32_t points = kManipId | kManipX0 | kManipY0 | kManipX1 | kManipY1;
  step(points);
  ASSERT_TRUE(st.valid & kManipQ1);
  EXPECT_NEAR(st.q1, 0.29483074255018116, 1e-14);
  step(points & ~uint32_t(kManipY0));  // a point missing: no q
  EXPECT_FALSE(st.valid & kManipQ1);
  list[7 + 6 + 1] = 40;  // a degree beyond the record
  step(points);
  EXPECT_FALSE(st.valid & kManipQ1);
}

TEST(ControlTrack, PopupItemsInBothOrientations) {
  Subplot down{}, up{};
  down.frameTop = 0, down.frameBottom = 100, up.frameTop = 100, up.frameBottom = 0;
  ManipState st{};
  st.x0 = 2;  // current choice 1 (from 0): the list starts one item above the control
  struct Case {
    const Subplot* s;
    double y, want;
  } cases[] = {
      {&down, 45, 2}, {&down, 35, 1}, {&down, -100, 1}, {&down, 65, 4}, {&down, 500, 4},
      {&up, 45, 2},   {&up, 55, 1},   {&up, 500, 1},    {&up, 25, 4},   {&up, -100, 4},
  };
  for (const Case& c : cases) {
    ui_popup_track(0, c.y, 0, 100, 0, 100, 2, nullptr, 0, 40, 50, 1, 1, 4, false, &st, c.s);
    EXPECT_EQ(st.x1, c.want) << c.y;
  }
  ui_popup_track(0, 45, 0, 100, 0, 100, 2, nullptr, 0, 40, 40, 1, 1, 4, false, &st, &down);
  EXPECT_EQ(st.x1, 2);  // no height: the choice stays
}

TEST(ControlTrack, RadioButtonsAndScroll) {
  ManipState st{};
  EXPECT_TRUE(ui_buttons_track(170, 5, 0, 400, 0, 400, 4, nullptr, 0, 0, 10, 1, 1, 'r', 1, true, &st));
  EXPECT_EQ(st.x, 1);  // segment 1 of four 100-pixel segments
  EXPECT_EQ(st.valid, 0x1803u);
  ui_buttons_track(250, 5, 0, 400, 0, 400, 4, nullptr, 0, 0, 10, 1, 1, 'r', 1, false, &st);
  EXPECT_EQ(st.x1, 2);
  ui_buttons_track(250, 50, 0, 400, 0, 400, 4, nullptr, 0, 0, 10, 1, 1, 'r', 1, false, &st);
  EXPECT_EQ(st.x1, 1);
  EXPECT_FALSE(ui_buttons_track(50, 5, 0, 400, 0, 400, 4, nullptr, 0, 0, 10, 1, 1, 'r', 1, true, &st));
  interact_state_set_scroll(&st, 1, -2);
  EXPECT_EQ(st.dx, 1);
  EXPECT_EQ(st.dy, -2);
  EXPECT_TRUE(st.valid & kManipDelta);
}

}  // namespace
