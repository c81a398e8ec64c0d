// The raster and field commands run from ZVR code in a 2 x 3 figure and
// drawn through the Qt screen driver offscreen: probed pixels show a mapped
// image pixel, a cell's map colour, a filled contour region, a quiver
// arrow at its head, and black at an erlocus root and at its mirror.
// The engine headers come first: Qt's keyword macros (slots) would rename
// their parameters.
#include "runtime/drawing_context.h"
#include "runtime/figure_draw.h"

#include <QImage>

#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

struct QtRasterFigure : DrawingCommands {
  QImage image;
  void draw(const std::string& code) {
    ASSERT_EQ(run(code), kOk);
    plotstore_commit_list(host.block);
    ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 600, 0, 400), 0);
    Canvas c(600, 400);
    rt_set_graphics_driver(host.block, &g_qt_screen_driver);
    rt_set_graphics_context(host.block, &c.ctx);
    figure_draw(host.block, 0);
    c.finish();
    rt_set_graphics_driver(host.block, &kEmptyGraphicsDriver);
    image = c.image.copy();
  }
  // Whether the colour lies within a pixel of the data point of subplot k.
  bool near_colour(int k, double x, double y, QRgb want) {
    Subplot& sp = inst_find_by_id(host.block, 0)->subplots[k];
    double px, py;
    subplot_data_to_pixel(&sp, &x, &y, nullptr, 1, &px, &py, nullptr);
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int ix = int(px) + dx, iy = int(py) + dy;
        if (ix >= 0 && iy >= 0 && ix < image.width() && iy < image.height() && image.pixel(ix, iy) == want) return true;
      }
    return false;
  }
};

TEST_F(QtRasterFigure, ProbedPixels) {
  ASSERT_NO_FATAL_FAILURE(draw(
      "subplot(231); colormap([0 0 0; 1 1 0]); image(ones(2, 2));\n"
      "subplot(232); colormap([0 0 1; 0 1 0]); pcolor(0.5 * ones(3, 3));\n"
      "subplot(233); contour([0 1 2; 1 2 3; 2 3 4], [], 3);\n"
      "subplot(234); contour([3 2 3; 2 0 2; 3 2 3], [], [1 1], 'rf');\n"
      "subplot(235); quiver(1, 0, 1, 'r');\n"
      "subplot(236); erlocus([1 0 1], eye(2));\n"));
  EXPECT_TRUE(near_colour(0, 1, 1, qRgb(255, 255, 0)));     // the image's byte 255 through the map
  EXPECT_TRUE(near_colour(1, 2, 2, qRgb(0, 255, 0)));       // the cells' mean 0.5 through the map
  EXPECT_TRUE(near_colour(3, 1.3, 1.3, qRgb(255, 0, 0)));   // at or above the filled level
  EXPECT_FALSE(near_colour(3, 2, 2, qRgb(255, 0, 0)));      // the dip below it is a hole
  EXPECT_TRUE(near_colour(4, 1.85, 1, qRgb(255, 0, 0)));    // the arrow just behind its tip
  EXPECT_TRUE(near_colour(5, 0, 1, qRgb(0, 0, 0)));         // the root +i
  EXPECT_TRUE(near_colour(5, 0, -1, qRgb(0, 0, 0)));        // and its mirror -i
  EXPECT_TRUE(near_colour(5, 0, 0.3, qRgb(102, 102, 255)));  // d = 0.83: the third band
}

}  // namespace
