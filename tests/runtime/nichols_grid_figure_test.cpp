// The Nichols chart's closed-loop magnitude curves in a built application's
// figure, drawn through the recording driver: on automatic axes and on axes
// set by scale they must be the curves of the locked picture of the same
// visible window, point for point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/fake_host.h"
#include "runtime/figure_draw.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "support/recording_driver.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr char kDescription[] =
    "instance charts\n"
    "var x\n"
    "figure \"Chart\"\n"
    "plot chart_plot(x)\n";

struct Drawn {
  std::vector<std::vector<double>> curves;  // the chart's 16-point curves, x then y
  double xlo = 0, xhi = 0, ylo = 0, yhi = 0;
};

// Runs the plot handler's body, draws the figure and keeps the chart-grey
// 16-point polylines (the magnitude curves; the straight lines have 2).
Drawn draw_body(const std::string& body) {
  Drawn out;
  FakeHost host;
  EXPECT_EQ(host.start(2u << 20, 64u << 20), 0);
  EXPECT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host.block, {{"charts", "function chart_plot(x)\n" + body + "\nendfunction\n"}});
  EXPECT_TRUE(builder.build(kDescription)) << builder.error;
  EXPECT_EQ(figure_layout_subplots(&host.block, 0, 0, 640, 0, 480), 0);
  EXPECT_EQ(inst_refresh(&host.block, 0), 0) << body;
  EXPECT_EQ(figure_layout_subplots(&host.block, 0, 0, 640, 0, 480), 0);
  recdrv::Recorder rec;
  rt_set_graphics_driver(host.block, &rec.table);
  rt_set_graphics_context(host.block, &rec.context);
  figure_draw(host.block, 0);
  const Subplot& s = inst_find_by_id(host.block, 0)->subplots[0];
  subplot_visible_xrange(&s, &out.xlo, &out.xhi);
  subplot_visible_yrange(&s, &out.ylo, &out.yhi);
  std::istringstream lines(rec.take());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("polyline 16 ", 0) != 0 || line.find("/204,204,204") == std::string::npos) continue;
    std::vector<double> v;
    for (size_t at = line.find('('); at != std::string::npos; at = line.find('(', at + 1)) {
      double x = 0, y = 0;
      if (std::sscanf(line.c_str() + at, "(%lf,%lf)", &x, &y) == 2) v.push_back(x), v.push_back(y);
    }
    out.curves.push_back(v);
  }
  return out;
}

std::string locked_text(const Drawn& d) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "scale('lock', [%.17g %.17g %.17g %.17g]);", d.xlo, d.xhi, d.ylo, d.yhi);
  return buf;
}

TEST(NicholsGridFigure, MagnitudeCurvesOnEveryKindOfAxesAreTheLockedOnes) {
  const char* grid = " ngrid(); plotoption('fullgrid');";
  const char* bodies[] = {
      "",                                // the chart alone: its own automatic limits
      "nichols(1, [1 3 3 1]);",          // automatic limits from the curve
      "nichols(1, [1 2 1 0]);",          // a curve with an integrator
      "scale([-6.3 0 0 5]);",            // limits set, not locked
      "scale([-20 -1 0.2 3]); nichols(2, [1 1 1]);",
  };
  for (const char* body : bodies) {
    const Drawn free = draw_body(std::string(body) + grid);
    ASSERT_LT(free.xlo, free.xhi) << body;
    ASSERT_LT(free.ylo, free.yhi) << body;
    const Drawn locked = draw_body(locked_text(free) + body + grid);
    EXPECT_NEAR(locked.xlo, free.xlo, 1e-9 * (1 + std::fabs(free.xlo))) << body;
    EXPECT_NEAR(locked.yhi, free.yhi, 1e-9 * (1 + std::fabs(free.yhi))) << body;
    // Seven magnitudes (1 only when the window reaches 0.5), each and its
    // mirror for every period the window shows.
    EXPECT_GE(locked.curves.size(), 12u) << body;
    ASSERT_EQ(free.curves.size(), locked.curves.size()) << body;
    double worst = 0;
    for (size_t i = 0; i < free.curves.size(); ++i) {
      ASSERT_EQ(free.curves[i].size(), locked.curves[i].size());
      for (size_t k = 0; k < free.curves[i].size(); ++k)
        worst = std::max(worst, std::fabs(free.curves[i][k] - locked.curves[i][k]));
    }
    EXPECT_LE(worst, 0.0015) << body;  // the log's rounding to 1e-3 pixels
  }
}

}  // namespace
