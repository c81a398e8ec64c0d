// Flowed text, tab stops, positioned text, fonts and controls through the
// recording driver: the calls of each case are its expectation. The layout
// pass gives the controls the same rectangles as the drawing pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/render/plot_render.h"
#include "graphics/render/render_flow.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"

namespace {

using plotlists::flat_subplot;
using plotlists::ListBuilder;

std::vector<double> text_data(const std::string& t, std::vector<double> head = {}) {
  head.push_back(double(t.size()));
  std::vector<double> b((t.size() + 7) / 8, 0.0);
  if (!t.empty()) std::memcpy(b.data(), t.data(), t.size());
  head.insert(head.end(), b.begin(), b.end());
  return head;
}

struct Flow : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s{};
  // A text subplot: no content, frame 0..100 both ways, line height 15.
  void SetUp() override {
    flat_subplot(&s, 0, 100, 0, 100, 0, 10, 0, 10);
    s.hasContent = 0;
    s.yMode = kAxisUnscaled;
    s.yOffset = 0;
    s.optionFlags &= ~0xFFu;
  }
  RenderRequest request(ListBuilder& b, int32_t* start, bool no_draw = false) {
    return RenderRequest{b.d.data(), int32_t(b.d.size()), nullptr, &s, start,
                         nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, no_draw, &rec.table,
                         &rec.context, 0, 0, 0};
  }
  // The log of the records and the closing bracket, set-up calls dropped.
  std::string draw(ListBuilder& b) {
    int32_t at = 0;
    RenderRequest q = request(b, &at);
    plotlist_render(&q);
    std::string log = rec.take();
    const std::string head = "clip_begin 0 100 0 100\nfill_rect 0 0 100 100 kind=2\ntext_extent \"M\"\n";
    if (log.rfind(head, 0) == 0) return log.substr(head.size());
    return "UNEXPECTED FRAME\n" + log;
  }
};

constexpr char kClose[] = "clip_end\nclip_begin 0 100 0 100\n";

TEST_F(Flow, ThreeLinesFitCentredWithoutMarks) {
  ListBuilder b;
  b.open(0).recv(55, 0, 0, text_data("one")).recv(55, 0, 0, text_data("two")).recv(55, 0, 0, text_data("three"));
  EXPECT_EQ(draw(b), std::string("text 0 35 align=1 colour=- \"one\"\n"
                                 "text 0 50 align=1 colour=- \"two\"\n"
                                 "text 0 65 align=1 colour=- \"three\"\n") +
                         kClose + "clip_end\n");
  EXPECT_EQ(s.yMode, kAxisUnscaled);
}

TEST_F(Flow, TabsMoveToColumnsAndLineFeedsToLines) {
  ListBuilder b;
  // Two columns of equal width (the row is wider than 2 x 80? no: 100 < 160,
  // so segments are 80 wide); a trailing LF adds no line.
  b.open(0).recv(55, 0, 0, text_data("a\tb\nc\n"));
  EXPECT_EQ(draw(b), std::string("text 0 42.5 align=1 colour=- \"a\"\n"
                                 "text 80 42.5 align=1 colour=- \"b\"\n"
                                 "text 0 57.5 align=1 colour=- \"c\"\n") +
                         kClose + "clip_end\n");
}

TEST_F(Flow, LongTextScrollsFromTheTopAndKeepsItsOffset) {
  std::string t;
  for (int i = 0; i < 10; ++i) t += "l" + std::to_string(i) + "\n";
  ListBuilder b;
  b.open(0).recv(55, 0, 0, text_data(t));
  std::string log = draw(b);
  EXPECT_EQ(s.yMode, kAxisFixed);
  // y = (100 - 9 x 15) / 2 = -17.5: height 2 x 17.5 + 15 = 50.
  EXPECT_EQ(s.yMax, 50);
  EXPECT_EQ(s.yOffset, 0);
  EXPECT_NE(log.find("text 0 7.5 align=1 colour=- \"l0\"\n"), std::string::npos) << log;
  EXPECT_NE(log.find("text 100 100 align=6 colour=- \"...\"\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("align=2 colour=- \"...\""), std::string::npos) << log;
  // Scrolled by 20 pixels and refreshed (the auto-scale start set mode 1).
  s.yOffset = 20;
  s.yMode = kAxisAuto;
  log = draw(b);
  EXPECT_EQ(s.yMode, kAxisFixed);
  EXPECT_EQ(s.yOffset, 20);
  EXPECT_NE(log.find("text 0 -12.5 align=1 colour=- \"l0\"\n"), std::string::npos) << log;
  EXPECT_NE(log.find("text 100 0 align=2 colour=- \"...\"\n"), std::string::npos) << log;
  // An offset beyond the height is brought back to it; NaN to 0.
  s.yOffset = 500;
  draw(b);
  EXPECT_EQ(s.yOffset, 50);
  s.yOffset = NAN;
  draw(b);
  EXPECT_EQ(s.yOffset, 0);
}

// In a subplot with axes the lines are placed by the same rule (centred
// when they fit, from the top when not) while the limits, the mode word and
// the pixel map stay the axes': a curve after the text is drawn where its
// data lie.
TEST_F(Flow, ASubplotWithAxesPlacesItsLinesAndKeepsItsMap) {
  flat_subplot(&s, 0, 100, 0, 100, 0, 10, 0, 10);  // its map: data y 0 at pixel 100
  s.optionFlags &= ~0xFFu;
  s.yMode = kAxisAuto;
  const double y_offset = s.yOffset, y_max = s.yMax;
  std::string t;
  for (int i = 0; i < 10; ++i) t += "l" + std::to_string(i) + "\n";
  for (const std::string& text : {t, std::string("one\ntwo\nthree")}) {
    ListBuilder b;
    b.open(0).recv(55, 0, 0, text_data(text)).rec(kCodePolyline, 0, 0, {2, 0, 10, 0, 10});
    int32_t at = 0;
    RenderRequest q = request(b, &at);
    plotlist_render(&q);
    const std::string log = rec.take();
    const bool fits = text.size() < 20;
    // Too long: from the top (7.5); fitting: centred (35).
    EXPECT_NE(log.find(fits ? "text 0 35 align=1 colour=- \"one\"" : "text 0 7.5 align=1 colour=- \"l0\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("polyline 2 style=0x0/0,0,0 (0,100) (100,0)"), std::string::npos) << log;
    EXPECT_EQ(s.yMode, kAxisAuto);
    EXPECT_EQ(s.yOffset, y_offset);
    EXPECT_EQ(s.yMax, y_max);
  }
}

TEST_F(Flow, LinesWhollyOutsideTheFrameAreLaidOutNotDrawn) {
  ListBuilder b;
  b.open(0);
  for (int i = 0; i < 12; ++i) b.recv(55, 0, 0, text_data("r" + std::to_string(i)));
  const std::string log = draw(b);
  // From the top at 7.5, 15 apart: r6 at 97.5 and r7 at 112.5 still touch the frame.
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(log.find("\"r" + std::to_string(i) + "\"") != std::string::npos, i <= 7) << i << "\n" << log;
}

TEST_F(Flow, WithoutTextExtentLinesAreTheMarginApart) {
  rec.table.text_extent = nullptr;
  s.rectTop = -20;  // the line height is then |frameTop - rectTop|
  ListBuilder b;
  b.open(0).recv(66, 0, 0, [] {
    std::vector<double> d{3, 0, 0, 0};
    auto t = text_data("ab\tcde\t");
    d.insert(d.end(), t.begin(), t.end());
    return d;
  }()).recv(55, 0, 0, text_data("x\ty\tz"));
  int32_t at = 0;
  RenderRequest q = request(b, &at);
  plotlist_render(&q);
  const std::string log = rec.take();
  // Stops of 10 per character, not cumulative; a k beyond its samples uses two.
  EXPECT_EQ(b.d[7 + 6 + 1], 20);
  EXPECT_EQ(b.d[7 + 6 + 2], 30);
  EXPECT_EQ(b.d[7 + 6 + 3], 0);
  EXPECT_NE(log.find("text 0 50 align=1 colour=- \"x\"\n"), std::string::npos) << log;
  EXPECT_NE(log.find("text 20 50 align=1 colour=- \"y\"\n"), std::string::npos) << log;
  EXPECT_NE(log.find("text 30 50 align=1 colour=- \"z\"\n"), std::string::npos) << log;
}

TEST_F(Flow, TabStopsAreCumulativeWidthsWithBackspaceArrows) {
  ListBuilder b;
  b.open(0).recv(66, 0, 0, [] {
    std::vector<double> d{2, 0, 0};
    auto t = text_data("xxx\t\bxx");
    d.insert(d.end(), t.begin(), t.end());
    return d;
  }());
  draw(b);
  // 3 x 7 = 21; then 2 x 7 + 3 x arrow size (0.4 x 13) = 15.6 more.
  EXPECT_DOUBLE_EQ(b.d[7 + 6 + 1], 21);
  EXPECT_DOUBLE_EQ(b.d[7 + 6 + 2], 21 + 14 + 3 * 0.4 * 13);
}

TEST_F(Flow, PositionedTextAndFontsIn2DNotIn3D) {
  const double name = [] {
    double d = 0;
    std::memcpy(&d, "Mono\0\0\0", 8);
    return d;
  }();
  flat_subplot(&s, 0, 100, 0, 100, 0, 10, 0, 10);  // positioned text gives the subplot content
  s.optionFlags &= ~(0xFFu | kOptFrame);
  ListBuilder b;
  b.open(0).rec(67, 0, 0x0000FF, {12, 1, name}).recv(56, 0, 0, text_data("p", {5, 5, 0, 6})).rec(68, 0, 0, {});
  EXPECT_EQ(draw(b), std::string("set_font \"Mono\" 12 flags=1 colour=0,0,255\n"
                                 "text 50 50 align=6 colour=- \"p\"\n"
                                 "set_font null 0 flags=0 colour=-\n") +
                         kClose + "clip_end\n");
  s.is3D = 1;
  const std::string log = draw(b);
  EXPECT_EQ(log.find("set_font"), std::string::npos) << log;
}

TEST_F(Flow, BevelBoxGreysAndTheFallbackOutline) {
  StyleSpec style{0, 1, 2, 3};
  // Not pressed, the box takes one more row below.
  render_bevel_box(10, 14, 20, 23, &style, false, &s, &rec.table, &rec.context);
  EXPECT_EQ(rec.take(),
            "image_row 10 20 n=5 bands=1 cell=1 rows=1 r=250,250,250,250,250 g=- b=-\n"
            "image_row 10 21 n=5 bands=1 cell=1 rows=3 r=250,220,220,220,127 g=- b=-\n"
            "image_row 10 24 n=5 bands=1 cell=1 rows=1 r=127,127,127,127,127 g=- b=-\n");
  render_bevel_box(10, 14, 20, 23, &style, true, &s, &rec.table, &rec.context);
  EXPECT_EQ(rec.take(),
            "image_row 10 20 n=5 bands=1 cell=1 rows=1 r=127,127,127,127,127 g=- b=-\n"
            "image_row 10 21 n=5 bands=1 cell=1 rows=2 r=127,200,200,200,250 g=- b=-\n"
            "image_row 10 23 n=5 bands=1 cell=1 rows=1 r=250,250,250,250,250 g=- b=-\n");
  render_bevel_box(10, 11, 20, 23, &style, false, &s, &rec.table, &rec.context);  // w = 2: nothing
  render_bevel_box(200, 300, 20, 23, &style, false, &s, &rec.table, &rec.context);  // outside the frame
  EXPECT_EQ(rec.take(), "");
  render_bevel_box(0, 99, 20, 20, &style, true, &s, &rec.table, &rec.context);  // chunks of 64
  const std::string chunks = rec.take();
  EXPECT_EQ(chunks.rfind("image_row 0 20 n=64 ", 0), 0u) << chunks;
  EXPECT_NE(chunks.find("\nimage_row 64 20 n=36 "), std::string::npos) << chunks;
  rec.table.draw_image_row = nullptr;
  render_bevel_box(10, 14, 20, 23, &style, false, &s, &rec.table, &rec.context);
  EXPECT_EQ(rec.take(),
            "polyline 5 style=0x27/255,255,255 (10,20) (14,20) (14,23) (10,23) (10,20)\n"
            "polyline 5 style=0x0/1,2,3 (10,20) (14,20) (14,23) (10,23) (10,20)\n");
}

// One of each control: slider (two thumbs), push button, check boxes,
// radio buttons, an open pop-up and a text field.
ListBuilder controls() {
  ListBuilder b;
  b.open(0);
  b.recv(59, 0, 0, text_data("s", {0, 10, -1, 0, 0, 0, 0, 2, 2, 8, 0, 0})).d[8] = 7;
  b.recv(61, 0, 0, text_data("p\tGo", {1, 0, 0, 0}));
  b.recv(62, 0, 0, text_data("c\ta\tb", {2, 0, 0, 0}));
  b.recv(63, 0, 0, text_data("r\tx\ty", {1, 0, 0, 0}));
  std::vector<double> menu{0, 1, 2, 1, 0, 0, 0, 0};
  const auto label = text_data("m");
  menu.insert(menu.end(), label.begin() + 1, label.end());
  double items = 0;
  std::memcpy(&items, "one\0two", 8);
  menu.push_back(items);
  menu.push_back(0);  // "two"'s zero byte
  b.recv(64, 0, 0, menu);
  std::vector<double> field{0, 0, 0, 0, -1, 0, 0};
  std::string t = std::string("f") + '\0' + "1.5";
  t.resize(1 + 1 + 16, '\0');
  std::vector<double> bytes((t.size() + 7) / 8, 0.0);
  std::memcpy(bytes.data(), t.data(), t.size());
  field.insert(field.end(), bytes.begin(), bytes.end());
  b.recv(65, 0, 0, field);
  return b;
}

TEST_F(Flow, TheLayoutPassGivesTheDrawingPassesRectangles) {
  ListBuilder drawn = controls(), laid = controls();
  int32_t at = 0;
  RenderRequest q = request(drawn, &at);
  plotlist_render(&q);
  const std::string log = rec.take();
  at = 0;
  q = request(laid, &at, true);
  plotlist_render(&q);
  const std::string layout_log = rec.take();
  EXPECT_EQ(drawn.d, laid.d);
  EXPECT_NE(drawn.d, controls().d);  // rectangles were written
  EXPECT_EQ(layout_log.find("image_row"), std::string::npos);
  EXPECT_EQ(layout_log.find("text "), std::string::npos);
  for (const char* want : {"\"Go\"", "\"two\"", "\"1.5\"", "r=250,150,150", "r=127,200", "ellipse", "align=2"})
    EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
  // The open pop-up is drawn last, over everything else: highlighted white text.
  EXPECT_NE(log.rfind("colour=255,255,255 \"two\""), std::string::npos) << log;
  EXPECT_GT(log.rfind("\"two\""), log.rfind("\"1.5\""));
}

TEST_F(Flow, TheDraggedSliderShowsItsLiveThumb) {
  ListBuilder b = controls();
  int32_t at = 0;
  RenderRequest q = request(b, &at);
  plotlist_render(&q);
  const std::string still = rec.take();
  at = 0;
  q.live_id = 7, q.live_index = -1, q.live_thumb = 1, q.live_value = 1;
  plotlist_render(&q);
  const std::string live = rec.take();
  EXPECT_NE(still, live);
  at = 0;
  q.live_value = 2;  // the record's own value: the same drawing
  plotlist_render(&q);
  EXPECT_EQ(rec.take(), still);
}

TEST(RowScale, SegmentsFromStopsOrEqualWidths) {
  const double stops[3] = {30, 50, 90};
  struct Case {
    int32_t n, t, k;
    double want;
  } cases[] = {
      {3, 0, 1, 133.33333333333334}, {3, 0, 3, 400},  // 3 segments of 133.33 in 400 pixels
      {5, 0, 1, 80},    {5, 0, 5, 400}, {6, 0, 6, 480},  // 5 or more are 80 wide, past the edge
      {4, 3, 0, 0},     {4, 3, 2, 50},  {4, 3, 3, 90},   {4, 3, 5, 90 + 40 * 2},
      {4, 1, 3, 90},  // one stop: k times it
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(plot_scale_value(0, 400, c.n, stops, c.t, c.k), c.want) << c.n << " " << c.t << " " << c.k;
  EXPECT_EQ(scale_find_segment(0, 400, 3, nullptr, 0, -1), -1);
  EXPECT_EQ(scale_find_segment(0, 400, 3, nullptr, 0, 0), 0);
  EXPECT_EQ(scale_find_segment(0, 400, 3, nullptr, 0, 140), 1);
  EXPECT_EQ(scale_find_segment(0, 400, 3, nullptr, 0, 400), -1);
  EXPECT_EQ(scale_find_segment(0, 400, 3, stops, 3, 45), 1);
}

TEST(RowScale, SliderMappingLinearLogAndDegenerate) {
  EXPECT_DOUBLE_EQ(slider_value_to_pixel(5, 0, 10, false, 100, 200), 150);
  EXPECT_DOUBLE_EQ(slider_pixel_to_value(150, 0, 10, false, 100, 200), 5);
  EXPECT_DOUBLE_EQ(slider_value_to_pixel(10, 1, 100, true, 100, 200), 150);
  EXPECT_NEAR(slider_pixel_to_value(150, 1, 100, true, 100, 200), 10, 1e-12);
  EXPECT_DOUBLE_EQ(slider_value_to_pixel(5, -1, 10, true, 100, 200), 100 + 100 * 6 / 11.0);  // linear
  EXPECT_DOUBLE_EQ(slider_pixel_to_value(150, 3, 3, false, 100, 200), 3);
  EXPECT_DOUBLE_EQ(slider_pixel_to_value(150, 3, 9, false, 100, 100), 3);
  EXPECT_DOUBLE_EQ(slider_value_to_pixel(3, 3, 3, false, 100, 200), 100);
}

}  // namespace
