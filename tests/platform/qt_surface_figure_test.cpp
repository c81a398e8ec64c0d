// The lit surface a built application's plot handler draws, through the Qt
// screen driver offscreen: the plane's one lit colour at its middle, the
// white backdrop of the box around it, and the outline's edges in black.
// The engine headers come first: Qt's keyword macros (slots) would rename
// their parameters.
#include "runtime/figure_draw.h"
#include "runtime/surface_demo_app.h"

#include <cmath>

#include <QImage>

#include "graphics/render/render_box3d.h"
#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

struct QtSurface : ::testing::TestWithParam<bool> {
  FakeHost host;
  QImage image;
  const Subplot* s = nullptr;
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(surfdemo::open(&host, true, GetParam(), 600, 400));
    Canvas c(600, 400);
    rt_set_graphics_driver(host.block, &g_qt_screen_driver);
    rt_set_graphics_context(host.block, &c.ctx);
    figure_draw(host.block, 0);
    c.finish();
    rt_set_graphics_driver(host.block, &kEmptyGraphicsDriver);
    image = c.image.copy();
    s = &inst_find_by_id(host.block, 0)->subplots[0];
  }
  void pixel_of(double x, double y, double z, int* px, int* py) {
    double fx, fy;
    subplot_data_to_pixel(s, &x, &y, &z, 1, &fx, &fy, nullptr);
    *px = int(fx), *py = int(fy);
  }
  // Whether the colour lies within `reach` pixels of the data point.
  bool near(double x, double y, double z, QRgb want, int reach = 1) {
    int px, py;
    pixel_of(x, y, z, &px, &py);
    for (int dy = -reach; dy <= reach; ++dy)
      for (int dx = -reach; dx <= reach; ++dx) {
        const int ix = px + dx, iy = py + dy;
        if (ix >= 0 && iy >= 0 && ix < image.width() && iy < image.height() && image.pixel(ix, iy) == want)
          return true;
      }
    return false;
  }
};

TEST_P(QtSurface, LitFacetBackdropAndEdges) {
  const double l = surfdemo::light_factor();
  const QRgb lit = qRgb(int(std::floor(255 * l + 0.5)), int(std::floor(127 * l + 0.5)), 0);
  int px, py;
  pixel_of(0.1, 0.1, 0.05, &px, &py);
  EXPECT_EQ(image.pixel(px, py), lit);
  // White inside the box where no facet lies: the backdrop above the plane
  // at its low edge, half way up the box.
  double lo[3], hi[3], back[3], front[3], x[7], y[7], d[7];
  render_box3d_outline(s, lo, hi, back, front, x, y, d);
  int white = 0;
  for (int yy = int(s->frameTop); yy < int(s->frameBottom); ++yy)
    for (int xx = int(s->frameLeft); xx < int(s->frameRight); ++xx) white += image.pixel(xx, yy) == kWhite;
  EXPECT_GT(white, 1000);
  // The outline's edges in black at the middle of each side: all six when
  // it is drawn over the data (orthographic); in perspective it is drawn
  // first, and the plane covers the side it lies along.
  int black_sides = 0;
  for (int k = 0; k < 6; ++k) {
    const int mx = int((x[k] + x[k + 1]) / 2), my = int((y[k] + y[k + 1]) / 2);
    bool black = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) black = black || image.pixel(mx + dx, my + dy) == kBlack;
    black_sides += black;
  }
  EXPECT_EQ(black_sides, GetParam() ? 5 : 6);
}

INSTANTIATE_TEST_SUITE_P(Projections, QtSurface, ::testing::Values(false, true));

}  // namespace
