// The 1-pixel line rasteriser: random segments in every direction against
// the properties the driver relies on, and clipped output against the
// unclipped output filtered to the bounds (the dash phase must survive the
// skipped steps).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "platform/pixel_lines.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

Pixels as_set(const QList<QPoint>& pts) {
  Pixels s;
  for (const QPoint& p : pts) s.insert({p.x(), p.y()});
  return s;
}

TEST(PixelLines, SegmentsFromStartToBeforeTheEnd) {
  const QRect everywhere(-1000, -1000, 2000, 2000);
  std::mt19937 rng(110);
  for (int trial = 0; trial < 3000; ++trial) {
    int x0 = int(rng() % 200) - 100, y0 = int(rng() % 200) - 100;
    int x1 = int(rng() % 200) - 100, y1 = int(rng() % 200) - 100;
    QList<QPoint> out;
    DashState solid;
    raster_segment(&out, x0, y0, x1, y1, everywhere, &solid);
    int major = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    ASSERT_EQ(out.size(), major);
    if (major == 0) continue;
    EXPECT_EQ(out.front(), QPoint(x0, y0));
    Pixels s = as_set(out);
    EXPECT_FALSE(s.count({x1, y1}));
    for (qsizetype i = 0; i < out.size(); ++i) {
      if (i > 0) {  // 8-connected, one step along the major axis at a time
        EXPECT_LE(std::abs(out[i].x() - out[i - 1].x()), 1);
        EXPECT_LE(std::abs(out[i].y() - out[i - 1].y()), 1);
      }
      // Within half a pixel of the ideal line, measured along the minor axis.
      double t = double(i) / major;
      bool xm = std::abs(x1 - x0) >= std::abs(y1 - y0);
      double ideal = xm ? y0 + t * (y1 - y0) : x0 + t * (x1 - x0);
      EXPECT_LE(std::fabs((xm ? out[i].y() : out[i].x()) - ideal), 0.5 + 1e-9);
    }
  }
}

TEST(PixelLines, ClippingKeepsDashPhase) {
  static const int pattern[] = {9, 6, 3, 6};
  std::mt19937 rng(111);
  for (int trial = 0; trial < 500; ++trial) {
    QRect bounds(int(rng() % 60), int(rng() % 60), 1 + int(rng() % 80), 1 + int(rng() % 80));
    const QRect everywhere(-1000, -1000, 3000, 3000);
    QList<QPoint> full, clipped;
    DashState a, b;
    dash_start(&a, pattern, 4);
    dash_start(&b, pattern, 4);
    int px = int(rng() % 300) - 100, py = int(rng() % 300) - 100;
    for (int k = 0; k < 5; ++k) {  // a five-segment polyline: the phase carries on
      int qx = int(rng() % 300) - 100, qy = int(rng() % 300) - 100;
      raster_segment(&full, px, py, qx, qy, everywhere, &a);
      raster_segment(&clipped, px, py, qx, qy, bounds, &b);
      px = qx;
      py = qy;
    }
    Pixels want;
    for (const QPoint& p : full)
      if (bounds.contains(p)) want.insert({p.x(), p.y()});
    ASSERT_EQ(as_set(clipped), want) << trial;
    EXPECT_EQ(a.index, b.index);
    EXPECT_EQ(a.left, b.left);
  }
}

TEST(PixelLines, HugeSegmentsCostOnlyTheirVisiblePixels) {
  QList<QPoint> out;
  DashState solid;
  const QRect dev(0, 0, 100, 100);
  raster_segment(&out, INT32_MIN, 50, INT32_MAX, 50, dev, &solid);
  EXPECT_EQ(out.size(), 100);
  out.clear();
  raster_segment(&out, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, dev, &solid);
  EXPECT_EQ(out.size(), 100);
  EXPECT_EQ(out.front(), QPoint(0, 0));
}

}  // namespace
