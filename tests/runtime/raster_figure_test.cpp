// A figure of the raster and field commands built from ZVR code and drawn
// by figure_draw through the recording driver: a 2 x 3 grid (image under a
// colour map, pcolor with a map, contour, filled contour, quiver, erlocus
// with levels) pinned as a golden log, and two subplots that keep their own
// colour maps.
#include <gtest/gtest.h>

#include <string>

#include "runtime/drawing_context.h"
#include "runtime/figure_draw.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"

namespace {

struct RasterFigure : DrawingCommands {
  recdrv::Recorder rec;
  // Runs the plot code, commits the list, lays out 600 x 400 and draws.
  std::string draw(const std::string& code) {
    EXPECT_EQ(run(code), kOk);
    RuntimeBlock* b = host.block;
    plotstore_commit_list(b);
    EXPECT_EQ(figure_layout_subplots(&host.block, 0, 0, 600, 0, 400), 0);
    b = host.block;
    rt_set_graphics_driver(b, &rec.table);
    rt_set_graphics_context(b, &rec.context);
    rec.take();
    figure_draw(b, 0);
    return rec.take();
  }
};

TEST_F(RasterFigure, TheSixCommandsInOneFigure) {
  const std::string log = draw(
      "subplot(231); colormap([0 0 0; 1 0 0; 1 1 0]); image([0 0.5 1; 1 0.5 0], '1');\n"
      "subplot(232); colormap([0 0 1; 0 1 0]); pcolor([0 0.25; 0.75 1], 'k');\n"
      "subplot(233); contour([0 1 2; 1 2 3; 2 3 4], [], 3);\n"
      "subplot(234); contour([3 2 3; 2 0 2; 3 2 3], [], [-1 1 2.5], 'rf,gf,bf');\n"
      "subplot(235); quiver([1 0; 0 1], [0 1; -1 0], 1, 'r');\n"
      "subplot(236); erlocus([1 0 1], eye(2), [0.5 1], [0 0 0; 0.5 0.5 1]);\n");
  expect_golden(log, "raster_figure.log");
  // The erlocus raster is black at its roots +i and -i: some row has a
  // black pixel, mirrored.
  EXPECT_NE(log.find("image_row"), std::string::npos);
}

// Each subplot's object is coloured by its own map: the second map does not
// replace the first.
TEST_F(RasterFigure, TwoSubplotsKeepTheirOwnColourMaps) {
  const std::string log = draw(
      "subplot(121); colormap([1 0 0; 1 0 0]); pcolor([0 0; 0 0]);\n"
      "subplot(122); colormap([0 0 1; 0 0 1]); pcolor([1 1; 1 1]);\n");
  EXPECT_NE(log.find("style=0x20/255,0,0"), std::string::npos) << log;
  EXPECT_NE(log.find("style=0x20/0,0,255"), std::string::npos) << log;
}

}  // namespace
