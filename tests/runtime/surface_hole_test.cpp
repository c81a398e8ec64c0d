// A surface with a hole of NaN values: the facets beside the hole keep the
// shade the colour map gives their finite corners; none is drawn black.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "runtime/app_fixture.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "support/recording_driver.h"

namespace {

constexpr double kWidth = 400, kHeight = 300;

using Rgb = std::tuple<int, int, int>;
std::map<Rgb, int>& fills() {
  static std::map<Rgb, int> f;
  return f;
}
void count_fill(const double*, const double*, int32_t n, const StyleSpec* s, GraphicsDriverContext*) {
  if (n == 3 && (s->bits & kStyleBitFill)) ++fills()[Rgb{s->r, s->g, s->b}];
}

struct SurfaceHole : apptest::App {
  recdrv::Recorder rec;
  GraphicsDriver driver{};
  void draw(const std::string& last_line) {
    const std::string source =
        "function hole()\n  [x, y] = meshgrid(-2:0.2:2);\n  z = x .* exp(-x.^2 - y.^2);\n" + last_line +
        "\n  surf(x, y, z);\nendfunction\n";
    ASSERT_NO_FATAL_FAILURE(build("instance demo\nfigure \"Hole\"\nplot hole()\n", source));
    driver = rec.table;
    driver.draw_polyline = count_fill;
    rt_set_graphics_driver(host.block, &driver);
    rt_set_graphics_context(host.block, &rec.context);
    ASSERT_EQ(figure_layout_subplots(h(), 0, 0, kWidth, 0, kHeight), 0);
    ASSERT_EQ(inst_refresh(h(), 0), 0) << host.take_output();
    fills().clear();
    figure_draw(host.block, 0);
  }
};

TEST_F(SurfaceHole, FacetsBesideTheHoleKeepTheirShade) {
  ASSERT_NO_FATAL_FAILURE(draw(""));
  std::map<Rgb, int> whole = fills();
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(whole.count(Rgb{0, 0, 0}), 0u);
  std::free(host.block);
  host.block = nullptr;
  ASSERT_NO_FATAL_FAILURE(draw("  z(abs(x) < 0.5 & abs(y) < 0.5) = NaN;"));
  int drawn = 0;
  for (const auto& f : fills()) drawn += f.second;
  // 20 x 20 quadrilaterals, split as fans from their first corner; the 5 x 5
  // NaN points take the 6 x 6 that touch them, except the triangle off the
  // diagonal in the two corner quadrilaterals whose one NaN corner is not on it.
  EXPECT_EQ(drawn, 2 * (400 - 36) + 2);
  EXPECT_EQ(fills().count(Rgb{0, 0, 0}), 0u) << fills()[Rgb{0, 0, 0}] << " black facets";
  // Every shade beside the hole is one the colour map gives.
  for (const auto& f : fills()) EXPECT_GT(std::get<0>(f.first) + std::get<1>(f.first) + std::get<2>(f.first), 0);
}

}  // namespace
