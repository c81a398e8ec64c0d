// A figure of two subplots, the second selected, drawn by the runtime through
// the Qt screen driver into an image: the same bytes every time, and the
// selection mark drawn with XOR, so marking and unmarking restores the image.
// And the figure a built application's plot handler draws: the background
// and the curves' colours at their pixels.
// And the control-design responses in 2 x 2 with their charts: the chart
// grey where a chart is, a Bode magnitude pixel where the curve passes.
#include <cmath>

#include <QImage>

#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"
#include "graphics/subplot/subplot.h"
#include "runtime/fake_host.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "runtime/plot_demo_app.h"
#include "runtime/plot_lists.h"
#include "tools/imagetools/image_builder.h"
#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

struct QtFigureDraw : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(2u << 20, 2u << 20), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    tnbuild::Builder builder(host.block, {});
    ASSERT_TRUE(builder.build("instance demo\nvar x\nfigure \"Two\"\nplot demo_plot(x)\n")) << builder.error;
    ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
    ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 200, 0, 100), 0);
    b = host.block;
    // Subplot 0: a dashed line with a NaN gap; subplot 1: red circle markers.
    const double x0[4] = {0, 1, 2, 3}, y0[4] = {0, 1, NAN, 3};
    const double x1[3] = {1, 2, 3}, y1[3] = {3, 1, 2};
    ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
    InstanceRec* r = inst_find_by_id(b, 0);
    PlotWriter w{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, 0};
    const StyleSpec styles[2] = {{kStyleKindDashed | 2, 0, 0, 0}, {kStyleKindCircle | 4, 0, 0, 0}};
    const double* xs[2] = {x0, x1};
    const double* ys[2] = {y0, y1};
    const int32_t ns[2] = {4, 3};
    for (int k = 0; k < 2; ++k) {
      ASSERT_TRUE(plotlist_open_object(w.data, w.capacity, &w.used, k));
      Subplot* s = &r->subplots[k];
      subplot_begin_autoscale(s);
      subplot_autoscale_to_data(s, xs[k], ys[k], nullptr, ns[k]);
      ASSERT_EQ(plotwriter_begin_record(&w, kCodePolyline, -1, 1, &styles[k], 1 + 2 * ns[k]), 0);
      plotwriter_put(&w, ns[k]);
      for (int i = 0; i < ns[k]; ++i) plotwriter_put(&w, xs[k][i]);
      for (int i = 0; i < ns[k]; ++i) plotwriter_put(&w, ys[k][i]);
    }
    b->h.build.used = w.used;
    plotstore_commit_list(b);
    r->selection = 2;
  }
  // The figure drawn into a fresh image through the screen table.
  QImage draw() {
    Canvas c(200, 100);
    rt_set_graphics_driver(b, &g_qt_screen_driver);
    rt_set_graphics_context(b, &c.ctx);
    figure_draw(b, 0);
    c.finish();
    rt_set_graphics_driver(b, &kEmptyGraphicsDriver);
    return c.image.copy();
  }
};

TEST_F(QtFigureDraw, SameBytesEveryTimeAndTheMarkIsSelfInverting) {
  QImage a = draw(), again = draw();
  ASSERT_EQ(a, again);
  EXPECT_EQ(std::memcmp(a.constBits(), again.constBits(), size_t(a.sizeInBytes())), 0);
  // The background outside the frames, the line and the markers are there.
  std::set<QRgb> colours;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) colours.insert(a.pixel(x, y));
  EXPECT_TRUE(colours.count(qRgb(0xE5, 0xE5, 0xE5)));
  EXPECT_TRUE(colours.count(qRgb(0, 153, 0)));
  EXPECT_TRUE(colours.count(qRgb(255, 0, 0)));
  // Unmarking the selected subplot inverts its mark's pixels back.
  Canvas c(200, 100);
  c.finish();
  c.image = a;
  c.resume();
  rt_set_graphics_driver(b, &g_qt_screen_driver);
  rt_set_graphics_context(b, &c.ctx);
  inst_draw_subplot(b, 0, 1, false);
  c.finish();
  EXPECT_NE(c.image, a);
  c.resume();
  inst_draw_subplot(b, 0, 1, true);
  c.finish();
  rt_set_graphics_driver(b, &kEmptyGraphicsDriver);
  EXPECT_EQ(c.image, a);
}

}  // namespace

namespace {

using namespace qt_probe;

// Whether the colour is at the pixel of data point (x, y) or beside it.
bool colour_near(const QImage& image, const Subplot& s, double x, double y, QRgb colour) {
  double px = 0, py = 0;
  subplot_data_to_pixel(&s, &x, &y, nullptr, 1, &px, &py, nullptr);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (image.pixel(int(px) + dx, int(py) + dy) == colour) return true;
  return false;
}

TEST(QtPlotDemo, TheBackgroundAndTheCurvesShowAtTheirPixels) {
  FakeHost host;
  ASSERT_NO_FATAL_FAILURE(plotdemo::open_plot_demo(&host, 400, 300));
  RuntimeBlock* b = host.block;
  Canvas c(400, 300);
  rt_set_graphics_driver(b, &g_qt_screen_driver);
  rt_set_graphics_context(b, &c.ctx);
  figure_draw(b, 0);
  c.finish();
  rt_set_graphics_driver(b, &kEmptyGraphicsDriver);
  const QImage& image = c.image;
  const Subplot& s = inst_find_by_id(b, 0)->subplots[0];
  // The figure's background beside the frame, the frame's inside between
  // grid lines, a grid line.
  EXPECT_EQ(image.pixel(2, 150), qRgb(0xE5, 0xE5, 0xE5));
  EXPECT_EQ(image.pixel(50, 38), kWhite);
  double gx = 0.2, gy = 16;  // a vertical grid line
  double px = 0, py = 0;
  subplot_data_to_pixel(&s, &gx, &gy, nullptr, 1, &px, &py, nullptr);
  EXPECT_EQ(image.pixel(int(px), 38), qRgb(204, 204, 204));
  // The red curve at its points (above the bars drawn after it), the
  // sampled blue one at its ends, the green circle at its rightmost point.
  for (double x : {2.0, 3.0, 4.0}) EXPECT_TRUE(colour_near(image, s, x, x * x, qRgb(255, 0, 0))) << x;
  EXPECT_TRUE(colour_near(image, s, 0, 10, qRgb(0, 0, 255)));
  EXPECT_TRUE(colour_near(image, s, 4, 10 + 4 * std::sin(4.0), qRgb(0, 0, 255)));
  EXPECT_TRUE(colour_near(image, s, 3, 8, qRgb(0, 153, 0)));  // the palette's green
}

}  // namespace

namespace {

using namespace qt_probe;

// A built application's plot handler drawing control-design responses in
// 2 x 2: Bode magnitude on log axes, Nyquist over the Nyquist chart, a step
// response, a root locus over the s-plane chart; refreshed and drawn through
// the Qt screen driver into 800 x 600.
constexpr char kResponseDescription[] =
    "instance responses\nvar x\nfigure \"Responses\"\nplot response_plot(x)\n";
constexpr char kResponseSource[] =
    "function response_plot(x)\n"
    "  subplot(221); scale('loglog'); bodemag([1 2], [1 0.5 4], 'r');\n"
    "  subplot(222); hgrid; nyquist(1, [1 2 1], 'b');\n"
    "  subplot(223); step(1, [1 1 1]);\n"
    "  subplot(224); scale([-3 1 -2 2]); sgrid; rlocus(1, [1 3 2 0], 'g');\n"
    "endfunction\n";
constexpr QRgb kChartGrey = qRgb(204, 204, 204);

// Pixels of the colour strictly inside the subplot's frame.
int count_in_frame(const QImage& image, const Subplot& s, QRgb colour) {
  int n = 0;
  for (int y = int(s.frameTop) + 2; y < int(s.frameBottom) - 1; ++y)
    for (int x = int(s.frameLeft) + 2; x < int(s.frameRight) - 1; ++x) n += image.pixel(x, y) == colour;
  return n;
}

TEST(QtResponseFigure, ChartsShowTheirGreyAndTheBodeCurveItsPixels) {
  FakeHost host;
  ASSERT_EQ(host.start(2u << 20, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host.block, {{"responses", kResponseSource}});
  ASSERT_TRUE(builder.build(kResponseDescription)) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 800, 0, 600), 0);
  ASSERT_EQ(inst_refresh(&host.block, 0), 0);
  ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 800, 0, 600), 0);
  RuntimeBlock* b = host.block;
  Canvas c(800, 600);
  rt_set_graphics_driver(b, &g_qt_screen_driver);
  rt_set_graphics_context(b, &c.ctx);
  figure_draw(b, 0);
  c.finish();
  rt_set_graphics_driver(b, &kEmptyGraphicsDriver);
  const QImage& image = c.image;
  const Subplot* s = inst_find_by_id(b, 0)->subplots;
  // The grid is off: the grey inside a frame is a chart's, so the step's
  // subplot has none and the Nyquist and s-plane charts have theirs.
  EXPECT_EQ(count_in_frame(image, s[2], kChartGrey), 0);
  EXPECT_GT(count_in_frame(image, s[1], kChartGrey), 50);
  EXPECT_GT(count_in_frame(image, s[3], kChartGrey), 50);
  // The Bode magnitude |(jw + 2) / (4 - w^2 + 0.5jw)| in red at its pixels
  // on both log axes, below and above the resonance at w = 2.
  ASSERT_TRUE(s[0].scaleFlags & kScaleXLog);
  ASSERT_TRUE(s[0].scaleFlags & kScaleYLog);
  for (double w : {0.3, 1.0, 1.5, 3.0, 6.0}) {
    const double mag = std::hypot(2.0, w) / std::hypot(4.0 - w * w, 0.5 * w);
    EXPECT_TRUE(colour_near(image, s[0], w, mag, qRgb(255, 0, 0))) << w;
  }
  // The Nyquist curve in blue, the locus in green, inside their frames.
  EXPECT_GT(count_in_frame(image, s[1], qRgb(0, 0, 255)), 20);
  EXPECT_GT(count_in_frame(image, s[3], qRgb(0, 153, 0)), 20);  // the palette's green
}

}  // namespace
