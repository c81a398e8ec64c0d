// End to end without a screen: a built application's plot handler calls
// lightangle, material and surf on an 8 x 8 grid; the refresh runs it and
// figure_draw draws the framed 3-D box and the lit, depth-sorted facets
// through the recording driver, pinned as golden logs: without a colour
// map, with one, and in perspective.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/figure_draw.h"
#include "runtime/surface_demo_app.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"

namespace {

constexpr double kWidth = 400, kHeight = 300;

std::string draw(bool with_map, bool perspective) {
  FakeHost host;
  recdrv::Recorder rec;
  surfdemo::open(&host, with_map, perspective, kWidth, kHeight);
  if (::testing::Test::HasFatalFailure()) return "";
  rt_set_graphics_driver(host.block, &rec.table);
  rt_set_graphics_context(host.block, &rec.context);
  figure_draw(host.block, 0);
  rt_set_graphics_driver(host.block, &kEmptyGraphicsDriver);
  const Subplot& s = inst_find_by_id(host.block, 0)->subplots[0];
  EXPECT_TRUE(s.is3D);
  EXPECT_EQ(s.orthographic, perspective ? 0 : 1);
  return rec.take();
}

int count(const std::string& log, const std::string& what) {
  int n = 0;
  for (size_t p = log.find(what); p != std::string::npos; p = log.find(what, p + 1)) ++n;
  return n;
}

TEST(SurfaceFigure, OrthographicWithoutAMap) {
  const std::string log = draw(false, false);
  expect_golden(log, "surface_ortho.log");
  // 49 quadrilaterals, two triangles each, filled in their computed colour
  // and no edges (surf's default); the box's backdrop, far edges, outline.
  EXPECT_EQ(count(log, "polyline 3 style=0x20/"), 98);
  EXPECT_EQ(count(log, "polyline 7 "), 2);
}

TEST(SurfaceFigure, OrthographicWithAMapIsLitUniformly) {
  const std::string log = draw(true, false);
  expect_golden(log, "surface_ortho_map.log");
  const double l = surfdemo::light_factor();
  const std::string colour = "style=0x20/" + std::to_string(int(std::floor(255 * l + 0.5))) + "," +
                             std::to_string(int(std::floor(127 * l + 0.5))) + ",0 ";
  EXPECT_EQ(count(log, "polyline 3 " + colour), 98) << colour;
}

TEST(SurfaceFigure, Perspective) {
  const std::string log = draw(true, true);
  expect_golden(log, "surface_perspective.log");
  EXPECT_EQ(count(log, "polyline 3 style=0x20/"), 98);
  // In perspective the labels are drawn before the data: the first text
  // comes before the first facet.
  EXPECT_LT(log.find("text "), log.find("polyline 3 style=0x20/"));
}

}  // namespace
