// End to end without a screen: a built application's plot handler draws a
// Bode magnitude, a Nyquist curve over the Nyquist chart, a step response
// and a root locus over the s-plane chart in 2 x 2; the refresh runs it and
// figure_draw draws the figure through the recording driver, pinned as a
// golden log.
#include <gtest/gtest.h>

#include <string>

#include "runtime/fake_host.h"
#include "runtime/figure_draw.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr char kDescription[] =
    "instance responses\n"
    "var x\n"
    "figure \"Responses\"\n"
    "plot response_plot(x)\n";

constexpr char kSource[] =
    "function response_plot(x)\n"
    "  subplot(221); bodemag([1 2], [1 0.5 4], 'r');\n"
    "  subplot(222); hgrid; nyquist(1, [1 2 1], 'b');\n"
    "  subplot(223); step(1, [1 1 1]);\n"
    "  subplot(224); sgrid; rlocus(1, [1 3 2 0], 'g');\n"
    "endfunction\n";

TEST(ResponseFigure, TwoByTwoMatchesItsGoldenLog) {
  FakeHost host;
  ASSERT_EQ(host.start(2u << 20, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host.block, {{"responses", kSource}});
  ASSERT_TRUE(builder.build(kDescription)) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 800, 0, 600), 0);
  ASSERT_EQ(inst_refresh(&host.block, 0), 0);
  ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 800, 0, 600), 0);
  recdrv::Recorder rec;
  rt_set_graphics_driver(host.block, &rec.table);
  rt_set_graphics_context(host.block, &rec.context);
  figure_draw(host.block, 0);
  const std::string log = rec.take();
  expect_golden(log, "response_figure.log");
  // Whatever else changes: the Bode curve of 200 points, the step's 203, the
  // chart grey of the grids, the Nyquist curve in blue, the locus in green.
  for (const char* piece : {"polyline 200 style=0x4/255,0,0", "polyline 203 style=", "style=0x100/204,204,204",
                            "style=0x1/0,0,255", "style=0x2/0,255,0"})
    EXPECT_NE(log.find(piece), std::string::npos) << piece;
}

}  // namespace
