// The display-list interpreter through the recording driver: each case is a
// small list and the exact calls it makes, so the log is the expectation.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "graphics/render/plot_render.h"
#include "support/room_limit.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"

namespace {

using plotlists::flat_subplot;
using plotlists::ListBuilder;
using plotlists::pack_bytes;

struct Render : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s{};
  ScopedDrawRoom room;
  StyleSpec default_style{0, 0, 0, 0};
  // Records alone: the frame stays, its axes and grids are switched off.
  void SetUp() override { flat_subplot(&s, 0, 100, 0, 100, 0, 10, 0, 10); }
  static constexpr uint32_t kAxesBits = 0xFF;
  // Draws the object at *start; returns the log of the records alone (the
  // set-up and closing calls common to every object are dropped).
  std::string draw(ListBuilder& b, int32_t* start = nullptr, bool* more = nullptr) {
    int32_t at = 0;
    if (!start) start = &at;
    s.optionFlags &= ~kAxesBits;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), &room.room, &s, start,
                    &default_style, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table,
                    &rec.context};
    const bool m = plotlist_render(&q);
    if (more) *more = m;
    std::string log = rec.take();
    const std::string head = "clip_begin 0 100 0 100\nfill_rect 0 0 100 100 kind=1\ntext_extent \"M\"\n";
    const std::string tail = "clip_end\nclip_begin 0 100 0 100\nclip_end\n";
    if (log.rfind(head, 0) == 0 && log.size() >= head.size() + tail.size() &&
        log.compare(log.size() - tail.size(), tail.size(), tail) == 0)
      return log.substr(head.size(), log.size() - head.size() - tail.size());
    return "UNEXPECTED FRAME\n" + log;
  }
};

TEST_F(Render, AnObjectWithOnlyItsOpeningRecord) {
  ListBuilder b;
  b.open(0).open(1).rec(kCodePolyline, 0, 0, {1, 5, 5});
  int32_t start = 0;
  bool more = false;
  EXPECT_EQ(draw(b, &start, &more), "");
  EXPECT_TRUE(more);
  EXPECT_EQ(start, 7);
  EXPECT_EQ(draw(b, &start, &more), "polyline 1 style=0x0/0,0,0 (50,50)\n");
  EXPECT_FALSE(more);
  EXPECT_EQ(start, int32_t(b.d.size()));
}

TEST_F(Render, NonFiniteValuesSplitAPolylineIntoRuns) {
  const double nan = NAN;
  ListBuilder b;
  b.open(0)
      .rec(kCodePolyline, 0x44, 0xff0000, {5, 1, 2, nan, 4, 5, 1, 1, 1, 1, 1})
      .rec(kCodePolyline, 0, 0, {3, nan, 2, INFINITY, 1, 1, 1})
      .rec(kCodePolyline, 0, 0, {0});
  EXPECT_EQ(draw(b),
            "polyline 2 style=0x44/255,0,0 (10,90) (20,90)\n"
            "polyline 2 style=0x44/255,0,0 (40,90) (50,90)\n"
            "polyline 1 style=0x0/0,0,0 (20,90)\n");
}

TEST_F(Render, DefaultStyleIsSubstitutedKeepingMarkerKinds) {
  default_style = StyleSpec{0x14, 1, 2, 3};
  ListBuilder b;
  b.open(0)
      .rec(kCodePolyline, 0x8 | 0x1c0, 0, {1, 5, 5})
      .rec(kCodePolyline, 0x8 | 0x40, 0, {1, 5, 5})
      .rec(kCodePolyline, 0x1c0, 0x010203, {1, 5, 5});
  EXPECT_EQ(draw(b),
            "polyline 1 style=0x1d4/1,2,3 (50,50)\n"
            "polyline 1 style=0x14/1,2,3 (50,50)\n"
            "polyline 1 style=0x1c0/1,2,3 (50,50)\n");
}

TEST_F(Render, ArrowheadsAtBothEnds) {
  rec.table.text_extent = nullptr;  // arrow size 5
  s.optionFlags &= ~kAxesBits;
  ListBuilder b;
  b.open(0).rec(kCodePolyline, 0x3000, 0, {2, 0, 1, 10, 10});
  int32_t start = 0;
  RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start,
                  nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table, &rec.context};
  plotlist_render(&q);
  EXPECT_EQ(rec.take(),
            "clip_begin 0 100 0 100\nfill_rect 0 0 100 100 kind=1\n"
            "polyline 2 style=0x3000/0,0,0 (0,0) (10,0)\n"
            "polyline 3 style=0x3000/0,0,0 (10,-5) (0,0) (10,5)\n"
            "polyline 3 style=0x3000/0,0,0 (0,5) (10,0) (0,-5)\n"
            "clip_end\nclip_begin 0 100 0 100\nclip_end\n");
}

TEST_F(Render, ClippedLinesAndHalfPlanes) {
  ListBuilder b;
  b.open(0)
      .rec(kCodeLine, 0, 0, {1, 0, 5})       // x = 5
      .rec(kCodeLine, 0x20, 0, {1, 0, 5})    // x >= 5 filled to the left edge
      .rec(kCodeLine, 0x20, 0, {1, 2, 10})   // shallow: closed against the bottom
      .rec(kCodeLine, 0, 0, {0, 0, 1})       // no line
      .rec(kCodeLine, 0, 0, {1, 0});         // too short
  EXPECT_EQ(draw(b),
            "polyline 2 style=0x0/0,0,0 (50,100) (50,0)\n"
            "polyline 4 style=0x20/0,0,0 (50,100) (50,0) (0,0) (0,100)\n"
            "polyline 4 style=0x20/0,0,0 (0,50) (100,100) (100,100) (0,100)\n");
}

TEST_F(Render, BarsBeyondTheFrameAreReflected) {
  ListBuilder b;
  b.open(0).rec(kCodeBars, 0, 0, {0, 2, 2, 5, -20, 30, 4})  // vertical, no bases: one tall, one left
      .rec(kCodeBars, 0, 0, {3, 2, 1, 5, 8, 2})            // horizontal with a base
      .rec(kCodeBars, 0, 0, {0, 2, 1, NAN, 4});            // NaN corner
  EXPECT_EQ(draw(b),
            "polyline 5 style=0x0/0,0,0 (40,100) (60,100) (60,-100) (40,-100) (40,100)\n"
            "polyline 5 style=0x0/0,0,0 (-100,100) (-100,100) (-100,60) (-100,60) (-100,100)\n"
            "polyline 5 style=0x0/0,0,0 (20,60) (80,60) (80,40) (20,40) (20,60)\n");
}

TEST_F(Render, CirclesTakeRadiiInPixels) {
  ListBuilder b;
  b.open(0).rec(kCodeCircles, 0, 0, {2, 5, 1, 5, 1, 1, 2}).rec(kCodeEllipses, 0, 0, {1, 5, 5, 1, 3});
  EXPECT_EQ(draw(b),
            "ellipse 50 50 10 10 style=0x0/0,0,0\nellipse 10 90 20 20 style=0x0/0,0,0\n"
            "ellipse 50 50 10 30 style=0x0/0,0,0\n");
  s.scaleFlags = kScaleLogX;
  EXPECT_EQ(draw(b), "");
}

TEST_F(Render, ImagesNearestGroupsRowsAndInterpolatesOtherwise) {
  flat_subplot(&s, 0, 100, 0, 100, 0, 100, 0, 100);
  // 2 x 2 grey image with its bottom at 96, 4 x 4 pixels: device rows 0 to 3.
  const std::vector<double> head = {0, 2, 2, 0, 96, 4, 4};
  std::vector<double> img = head;
  for (double v : pack_bytes({0, 100, 200, 255})) img.push_back(v);
  std::vector<double> linear = img;
  linear[0] = 4;  // mode 1
  std::vector<double> rgb = head;
  rgb[0] = 1;
  for (double v : pack_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})) rgb.push_back(v);
  ListBuilder b;
  b.open(0).recv(kCodeImage, 0, 0, img).recv(kCodeImage, 0, 0, linear).recv(kCodeImage, 0, 0, rgb);
  EXPECT_EQ(draw(b),
            "pixel_size\n"
            "image_row 0 0 n=4 bands=1 cell=1 rows=2 r=0,0,100,100 g=- b=-\n"
            "image_row 0 2 n=4 bands=1 cell=1 rows=2 r=200,200,255,255 g=- b=-\n"
            "pixel_size\n"
            "image_row 0 0 n=4 bands=1 cell=1 rows=1 r=0,33,67,100 g=- b=-\n"
            "image_row 0 1 n=4 bands=1 cell=1 rows=1 r=67,95,123,152 g=- b=-\n"
            "image_row 0 2 n=4 bands=1 cell=1 rows=1 r=133,157,180,203 g=- b=-\n"
            "image_row 0 3 n=4 bands=1 cell=1 rows=1 r=200,218,237,255 g=- b=-\n"
            "pixel_size\n"
            "image_row 0 0 n=4 bands=1 cell=1 rows=2 r=1,1,2,2 g=5,5,6,6 b=9,9,10,10\n"
            "image_row 0 2 n=4 bands=1 cell=1 rows=2 r=3,3,4,4 g=7,7,8,8 b=11,11,12,12\n");
}

TEST_F(Render, ImageThroughTheColourMapAndCutAtTheFrame) {
  flat_subplot(&s, 0, 100, 0, 100, 0, 100, 0, 100);
  std::vector<double> img = {0, 1, 2, -2, 50, 4, 1};
  for (double v : pack_bytes({0, 255})) img.push_back(v);
  ListBuilder b;
  b.open(0)
      .rec(kCodeColourMap, 0, 0, {2, 0, 1, 0.5, 0.5, 1, 0})
      .recv(kCodeImage, 0, 0, img)
      .recv(kCodeImage, 0, 0, {0, 1, 2, 200, 50, 4, 1, 0});  // outside the frame
  EXPECT_EQ(draw(b),
            "pixel_size\n"
            "image_row 0 49 n=2 bands=1 cell=1 rows=1 r=255,255 g=127,127 b=0,0\n");
}

TEST_F(Render, ColouredCellsWithAndWithoutAMap) {
  ListBuilder b;
  b.open(0).rec(kCodeCells, 0x140, 0, {0, 2, 2, 0, 0.5, 0.5, 1});
  ListBuilder m;
  m.open(0).rec(kCodeColourMap, 0, 0, {2, 0, 1, 0, 0, 0, 1}).rec(kCodeCells, 0x140, 0, {0, 2, 2, 0, 0.5, 0.5, 1});
  ListBuilder g;
  g.open(0).rec(kCodeCells, 0, 0, {5, 2, 2, 1, 3, 1, 3, 0, 0, 0, 0});
  EXPECT_EQ(draw(b), "polyline 4 style=0x20/127,127,127 (10,90) (20,90) (20,80) (10,80)\n");
  EXPECT_EQ(draw(m), "polyline 4 style=0x20/255,0,255 (10,90) (20,90) (20,80) (10,80)\n");
  EXPECT_EQ(draw(g),
            "polyline 4 style=0x20/0,0,0 (10,90) (30,90) (30,70) (10,70)\n"
            "polyline 2 style=0x0/0,0,0 (10,90) (30,90)\n"
            "polyline 2 style=0x0/0,0,0 (10,70) (30,70)\n"
            "polyline 2 style=0x0/0,0,0 (10,90) (10,70)\n"
            "polyline 2 style=0x0/0,0,0 (30,90) (30,70)\n");
}

TEST_F(Render, RecordsThatDoNotAddUpAreSkipped) {
  ListBuilder b;
  b.open(0)
      .rec(kCodePolyline, 0, 0, {3, 1, 2})                 // m beyond the data
      .rec(kCodeMultiPolyline, 0, 0, {1, 5, 5, 9, 1, -1})  // second part overruns
      .rec(kCodeImage, 0, 0, {0, 1e9, 1e9, 0, 0, 1, 1})
      .rec(kCodeCells, 0, 0, {0, 1e6, 1e6})
      .rec(kCodeLine3, 0, 0, {0, 0, 1, 5, 0, 0, 0, 0})     // second plane zero
      .rec(99, 0, 0, {1, 2, 3})
      .rec(kCodePolyline, 0, 0, {1, 5, 5});
  EXPECT_EQ(draw(b),
            "polyline 1 style=0x0/0,0,0 (50,50)\n"
            "polyline 1 style=0x0/0,0,0 (50,50)\n");
}

TEST_F(Render, NoDrawCallsOnlyMeasuringAndFonts) {
  ListBuilder b;
  b.open(0).rec(kCodePolyline, 0, 0, {1, 5, 5}).rec(kCodeFont, 0, 0x0000ff, {12, 1, 0}).rec(kCodeFontReset, 0, 0, {});
  b.d[b.d.size() - 6 - 1] = 0;  // (font name: empty, zero-terminated)
  int32_t start = 0;
  RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start,
                  nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, true, &rec.table, &rec.context};
  EXPECT_FALSE(plotlist_render(&q));
  EXPECT_EQ(rec.take(), "text_extent \"M\"\nset_font \"\" 12 flags=1 colour=0,0,255\nset_font null 0 flags=0 colour=-\n");
}

}  // namespace

namespace {

TEST_F(Render, CubicImagesClampTheirNeighboursAndSingleRowsTakeTheNearest) {
  flat_subplot(&s, 0, 100, 0, 100, 0, 100, 0, 100);
  std::vector<double> cubic = {12, 2, 2, 0, 97, 3, 3};  // mode 3
  for (double v : pack_bytes({0, 255, 255, 0})) cubic.push_back(v);
  std::vector<double> row = {4, 1, 3, 0, 99, 3, 1};     // linear asked, one row
  for (double v : pack_bytes({10, 20, 30})) row.push_back(v);
  ListBuilder b;
  b.open(0).recv(kCodeImage, 0, 0, cubic).recv(kCodeImage, 0, 0, row);
  EXPECT_EQ(draw(b),
            "pixel_size\n"
            "image_row 0 0 n=3 bands=1 cell=1 rows=1 r=0,128,255 g=- b=-\n"
            "image_row 0 1 n=3 bands=1 cell=1 rows=1 r=128,128,128 g=- b=-\n"
            "image_row 0 2 n=3 bands=1 cell=1 rows=1 r=255,128,0 g=- b=-\n"
            "pixel_size\n"
            "image_row 0 0 n=3 bands=1 cell=1 rows=1 r=10,20,30 g=- b=-\n");
}

TEST_F(Render, TheLineWherePlanesMeetRunsAlongItsLongestAxis) {
  s.zMin = -1, s.zMax = 1;
  ListBuilder b;
  b.open(0)
      .rec(kCodeLine3, 0, 0, {1, -1, 0, 0, 0, 0, 1, 0})  // x = y, z = 0: ties go to y
      .rec(kCodeLine3, 0, 0, {0, 1, 0, 5, 0, 0, 1, 0});  // y = 5, z = 0: along x
  EXPECT_EQ(draw(b),
            "polyline 2 style=0x0/0,0,0 (0,100) (100,0)\n"
            "polyline 2 style=0x0/0,0,0 (0,50) (100,50)\n");
}

}  // namespace

// What a curve puts on the page: its segments in order, and the points of
// its one-point runs. A curve handed over in several pieces must give the
// same as one conversion of the whole curve cut at its non-finite points.
struct Strokes {
  std::vector<std::array<double, 4>> segments;
  std::vector<std::array<double, 2>> dots;
  int calls = 0;
  void add(const double* x, const double* y, int32_t n) {
    ++calls;
    if (n == 1) dots.push_back({x[0], y[0]});
    for (int32_t i = 1; i < n; ++i) segments.push_back({x[i - 1], y[i - 1], x[i], y[i]});
  }
  static Strokes*& current() {
    static Strokes* s = nullptr;
    return s;
  }
  static void draw(const double* x, const double* y, int32_t n, const StyleSpec*, GraphicsDriverContext*) {
    current()->add(x, y, n);
  }
};

TEST_F(Render, CurvesLongerThanTheScratchReachTheDriverWhole) {
  constexpr int32_t m = 3000;
  // Gaps at a slice's end and inside one; on the log axis, values that are
  // not positive at the start, across a slice boundary and at the end.
  const std::vector<int32_t> gaps = {511, 700, 701, 1500};
  const std::vector<int32_t> non_positive = {0, 1, 1023, 1024, 1025, 2999};
  for (const bool log_y : {false, true}) {
    std::vector<double> data(1 + 2 * m);
    data[0] = m;
    for (int32_t i = 0; i < m; ++i) {
      data[1 + i] = 10.0 * i / m;
      data[1 + m + i] = 5 + 4 * std::sin(i / 50.0);
    }
    for (int32_t i : gaps) data[1 + m + i] = NAN;
    if (log_y)
      for (int32_t i : non_positive) data[1 + m + i] = i % 2 ? 0.0 : -1.0;
    flat_subplot(&s, 0, 100, 0, 100, 0, 10, 0.5, 10);
    s.optionFlags &= ~kAxesBits;
    if (log_y) s.scaleFlags |= kScaleLogY, subplot_compute_transform(&s, 0, 0.0);
    // The model: the whole curve converted at once and cut into runs.
    std::vector<double> px(m), py(m);
    subplot_data_to_pixel(&s, data.data() + 1, data.data() + 1 + m, nullptr, m, px.data(), py.data(), nullptr);
    Strokes want;
    for (int32_t i = 0; i < m;) {
      int32_t j = i;
      while (j < m && std::isfinite(px[j]) && std::isfinite(py[j])) ++j;
      if (j > i) want.add(px.data() + i, py.data() + i, j - i);
      i = std::max(j, i + 1);
    }
    ASSERT_GE(want.calls, log_y ? 1 : 4);  // NaN is not positive either: on a log axis it repeats
    // Rooms bounded to hold no buffer, a buffer of some slices, and the
    // whole curve; 0 is no bound.
    for (const int32_t room : {0, 16, 1100, 2 * m + 16}) {
      SCOPED_TRACE(testing::Message() << "log " << log_y << " room " << room);
      const RoomLimit limit(int64_t(room) * 8);
      ListBuilder b;
      b.open(0).recv(kCodePolyline, 0, 0, data);
      Strokes got;
      Strokes::current() = &got;
      GraphicsDriver d = rec.table;
      d.draw_polyline = Strokes::draw;
      int32_t start = 0;
      RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start, nullptr,
                      nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &d, &rec.context};
      plotlist_render(&q);
      rec.take();
      // Frame and axes are off: every call is the curve's.
      EXPECT_EQ(got.segments.size(), want.segments.size());
      EXPECT_TRUE(got.segments == want.segments);
      EXPECT_EQ(got.dots, want.dots);
      // A room that holds the curve gives one call per run.
      if (room == 0 || room > 2 * m) EXPECT_EQ(got.calls, want.calls);
    }
  }
}
