// The contour tracer against numpy (refdata/make_contour_reference.py): on
// random 40 x 30 grids, smooth, noisy and pure noise full of saddles, each
// level's traces pass every cell-edge crossing numpy finds, to 1e-12, once;
// closed curves repeat their first point and nothing else is passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "graphics/commands/contour_trace.h"

namespace {

#include "refdata/contour_reference.inc"

constexpr double kTol = 1e-12;

struct Point {
  double x, y;
};

bool near(Point a, Point b) { return std::fabs(a.x - b.x) <= kTol && std::fabs(a.y - b.y) <= kTol; }

// Every point the traces of one level pass, as the command runs them, the
// closing repeat of a closed curve left out.
std::vector<Point> traced_points(const ContourGrid& g, double level, int* closed_curves) {
  std::vector<uint8_t> visited(size_t(g.rows) * size_t(g.cols), 0);
  const int32_t room = 8 * g.rows * g.cols + 64;
  std::vector<double> x(static_cast<size_t>(room)), y(static_cast<size_t>(room));
  std::vector<Point> out;
  contour_for_each_start(g, level, false, visited.data(), [&](const ContourStart& s) {
    int32_t m = 0;
    EXPECT_EQ(contour_trace_level(g, level, false, s.r, s.c, s.dir, visited.data(), x.data(), y.data(), room, &m), 0);
    EXPECT_GE(m, 2);
    const bool closed = m > 2 && x[0] == x[size_t(m) - 1] && y[0] == y[size_t(m) - 1];
    *closed_curves += closed;
    for (int32_t i = 0; i < m - (closed ? 1 : 0); ++i) out.push_back({x[size_t(i)], y[size_t(i)]});
    return 0;
  });
  return out;
}

TEST(ContourReference, TracesPassEveryCrossingNumpyFindsOnce) {
  int closed_curves = 0;
  for (const ContourGridRef& grid : kContourGridRefs) {
    ASSERT_EQ(grid.z.size(), size_t(kContourRefRows) * kContourRefCols);
    const ContourGrid g{grid.z.data(), kContourRefRows, kContourRefCols, grid.x1, grid.x2, grid.y1, grid.y2};
    for (const ContourLevelRef& lv : grid.levels) {
      std::vector<Point> got = traced_points(g, lv.level, &closed_curves);
      ASSERT_EQ(lv.x.size(), lv.y.size());
      EXPECT_EQ(got.size(), lv.x.size()) << grid.kind << " level " << lv.level;
      // Sorted by x, each crossing's matches lie in a window of 2 kTol.
      std::sort(got.begin(), got.end(), [](Point a, Point b) { return a.x < b.x; });
      for (size_t k = 0; k < lv.x.size(); ++k) {
        const Point want{lv.x[k], lv.y[k]};
        auto it = std::lower_bound(got.begin(), got.end(), want.x - kTol, [](Point a, double v) { return a.x < v; });
        int seen = 0;
        for (; it != got.end() && it->x <= want.x + kTol; ++it) seen += near(*it, want);
        EXPECT_EQ(seen, 1) << grid.kind << " level " << lv.level << " at " << want.x << "," << want.y;
      }
    }
  }
  EXPECT_GT(closed_curves, 10);
}

}  // namespace
