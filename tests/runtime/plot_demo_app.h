// A built application whose plot handler draws one framed subplot with
// plot, fplot, bar, line and circle (the default options, the grid switched
// on), refreshed through that handler and laid out in a figure of the given
// size: ready to be drawn through any driver. Its press handler stores
// 100 * _id + _ix in x, so that a hit can be read back as a variable.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "graphics/render/render_axes.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "tools/imagetools/image_builder.h"

namespace plotdemo {

constexpr char kDescription[] =
    "instance demo\n"
    "var x\n"
    "figure \"Main\"\n"
    "plot demo_plot(x)\n"
    "press -1 x = demo_hit(_id, _ix)\n";

// The red curve has id 7; its third point is (2, 4).
constexpr char kSource[] =
    "function demo_plot(x)\n"
    "  plot([0 1 2 3 4], [0 1 4 9 16], 'r', 7);\n"
    "  fplot(@(t, a) a + 4 * sin(t), [0 4], 'b', 8, 10);\n"
    "  bar([1 2 3], [2 3 1]);\n"
    "  line([1 -1], 0);\n"
    "  circle(2, 8, 1, 'g');\n"
    "endfunction\n"
    "function x = demo_hit(id, ix)\n"
    "  x = 100 * id + ix;\n"
    "endfunction\n";
constexpr double kCurveId = 7;
constexpr double kHitX = 2, kHitY = 4;
constexpr int32_t kHitIndex = 3;
constexpr uint32_t kGrid = kOptGridX | kOptGridY;

constexpr uint32_t kBlockBytes = 2u << 20;

// Builds the application on the host, lays the figure out in width x
// height pixels and runs the plot handler; then, as the user would once the
// subplot has content (a subplot without any allows no grid), switches the
// grid on and refreshes.
inline void open_plot_demo(FakeHost* host, double width, double height) {
  ASSERT_EQ(host->start(kBlockBytes, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(host->block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host->block, {{"demo", kSource}});
  ASSERT_TRUE(builder.build(kDescription)) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host->block, 0, 0, width, 0, height), 0);
  ASSERT_EQ(inst_refresh(&host->block, 0), 0);
  ASSERT_EQ(inst_subplot_props_set(host->block, 0, kGrid, kGrid), 0);
  ASSERT_EQ(inst_refresh(&host->block, 0), 0);
  ASSERT_EQ(inst_find_by_id(host->block, 0)->subplots[0].optionFlags & kGrid, kGrid);
}

}  // namespace plotdemo
