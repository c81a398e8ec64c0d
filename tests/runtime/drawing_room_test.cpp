// Drawings larger than what the plot store has free once their lists are
// built: from the program's first block, under the default memory bound, a
// handler's plot grows the block as it must, and every record kind is then
// drawn whole. The sizes lie just past the room the store used to lend the
// drawing. A handler that grew the block on its way reports only the growth.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/streams.h"
#include "runtime/app_fixture.h"
#include "runtime/console_hooks.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "support/recording_driver.h"
#include "support/room_limit.h"

namespace {

constexpr double kWidth = 400, kHeight = 300;
constexpr uint32_t kFirstBlock = 8290304;   // the program's block at start-up (its smallest MemMin)
constexpr uint32_t kMemMax = 134217728;     // the program's default MemMax

// What reached the driver, by shape.
struct Tally {
  int64_t triangles = 0, quads = 0, segments = 0, points = 0, ellipses = 0;
  static Tally& now() {
    static Tally t;
    return t;
  }
  static void polyline(const double*, const double*, int32_t n, const StyleSpec* s, GraphicsDriverContext*) {
    if (n == 3 && (s->bits & kStyleBitFill)) ++now().triangles;
    else if (n == 4 && (s->bits & kStyleBitFill)) ++now().quads;
    else if (n >= 2 && !(s->bits & kStyleBitFill)) now().segments += n - 1;  // a curve's segments joined
    now().points += n;
  }
  static void ellipse(double, double, double, double, const StyleSpec*, GraphicsDriverContext*) { ++now().ellipses; }
};

std::string source_for(const std::string& body) { return "function big_plot()\n" + body + "\nendfunction\n"; }
constexpr char kDescription[] = "instance demo\nfigure \"Big\"\nplot big_plot()\n";

// Standard error as the program's console receives it.
std::string& console_errors() {
  static std::string text;
  return text;
}
int keep_errors(void*, int32_t stream, const char* bytes, int32_t length) {
  if (stream == kConsoleErr) console_errors().append(bytes, size_t(length));
  return 0;
}

struct DrawingRoom : apptest::App {
  recdrv::Recorder rec;
  GraphicsDriver driver{};
  void TearDown() override { rt_console_set_sink(nullptr); }
  // Builds the plot, refreshes it (the handler runs and grows the block) and
  // draws the figure; the refresh's standard error goes to *report.
  void draw(const std::string& body, std::string* report) {
    ASSERT_NO_FATAL_FAILURE(build(kDescription, source_for(body), kFirstBlock, kMemMax));
    // Standard error through the program's console hooks, not the capture.
    io_set_redirect(c(), kFdStderr, kFdStderr, 0);
    const ConsoleSink sink{keep_errors, nullptr, nullptr};
    rt_console_set_sink(&sink);
    console_errors().clear();
    driver = rec.table;
    driver.draw_polyline = Tally::polyline;
    driver.draw_ellipse = Tally::ellipse;
    rt_set_graphics_driver(host.block, &driver);
    rt_set_graphics_context(host.block, &rec.context);
    ASSERT_EQ(figure_layout_subplots(h(), 0, 0, kWidth, 0, kHeight), 0);
    ASSERT_EQ(inst_refresh(h(), 0), 0) << console_errors();
    *report = console_errors();
    Tally::now() = Tally{};
    figure_draw(host.block, 0);
  }
};

struct Case {
  const char* what;
  const char* body;
  int64_t Tally::*shape;
  int64_t at_least;
};

// Surfaces: two triangles a quadrilateral (more where the walk splits);
// 3-D curves: a segment between neighbours, alone or joined in a polyline; circles: one ellipse each;
// cells: one filled quadrilateral each; markers: every point.
constexpr int64_t kSurfSide = 110, kHelix = 30000, kCircles = 100000, kCells = 300, kMarkers = 200000;
const Case kCases[] = {
    {"surf", "[x, y] = meshgrid((-2:4/109:2)); surf(x, y, x .* exp(-x.^2 - y.^2));", &Tally::triangles,
     2 * (kSurfSide - 1) * (kSurfSide - 1)},
    {"mesh", "[x, y] = meshgrid((-2:4/109:2)); mesh(x, y, x .* exp(-x.^2 - y.^2));", &Tally::points,
     2 * (kSurfSide - 1) * (kSurfSide - 1)},
    {"plot3", "t = (0:29999) * (20 * pi / 29999); plot3(cos(t), sin(t), t);", &Tally::segments, kHelix - 1},
    {"circle", "circle(rand(1, 100000), rand(1, 100000), 0.01 * ones(1, 100000));", &Tally::ellipses, kCircles},
    {"pcolor", "pcolor(rand(300, 300));", &Tally::quads, (kCells - 1) * (kCells - 1)},
    {"markers", "plot(1:200000, rand(1, 200000), 'o');", &Tally::points, kMarkers},
};

TEST_F(DrawingRoom, EveryRecordKindDrawsWholeFromTheFirstBlock) {
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.what);
    std::string report;
    ASSERT_NO_FATAL_FAILURE(draw(k.body, &report));
    EXPECT_GE(Tally::now().*k.shape, k.at_least);
    std::free(host.block);
    host.block = nullptr;
  }
}

// Memory that really runs out: the figure keeps what it could draw (the
// frame, the axes and the line after the circles: every segment of the
// whole drawing) and the drawing answers kRtPlotOverflow,
// which the window shows; with the memory to be had again it draws whole.
TEST_F(DrawingRoom, MemoryThatRunsOutLeavesTheRestAndSaysSo) {
  std::string report;
  ASSERT_NO_FATAL_FAILURE(draw("circle(rand(1, 10000), rand(1, 10000), 0.01 * ones(1, 10000)); plot([0 1], [0 1]);",
                               &report));
  ASSERT_EQ(Tally::now().ellipses, 10000);
  const int64_t segments = Tally::now().segments;
  {
    const DrawRoomBound bound(65536);
    Tally::now() = Tally{};
    EXPECT_EQ(figure_draw(host.block, 0), kRtPlotOverflow);
    EXPECT_EQ(Tally::now().ellipses, 0);
    EXPECT_EQ(Tally::now().segments, segments);
    Tally::now() = Tally{};
    EXPECT_EQ(figure_draw_subplot(host.block, 0, 0), kRtPlotOverflow);
    EXPECT_EQ(Tally::now().segments, segments);
  }
  Tally::now() = Tally{};
  EXPECT_EQ(figure_draw(host.block, 0), 0);
  EXPECT_EQ(Tally::now().ellipses, 10000);
}

// Growth answered every overflow of the handler's run: the only lines on
// standard error are the growth lines.
TEST_F(DrawingRoom, AHandlerThatGrewReportsOnlyTheGrowth) {
  std::string report;
  ASSERT_NO_FATAL_FAILURE(draw("x = rand(1, 400000); y = cumsum(x); plot(x, y);", &report));
  EXPECT_NE(report.find("TN memory expanded to"), std::string::npos) << report;
  size_t lines = 0, growth = 0;
  for (size_t at = 0; at < report.size();) {
    const size_t end = std::min(report.find('\n', at), report.size());
    if (end > at && report[at] != '\r') {
      ++lines;
      growth += report.compare(at, 21, "TN memory expanded to") == 0;
    }
    at = end + 1;
  }
  EXPECT_EQ(lines, growth) << report;
}

}  // namespace
