// The subplot record: its documented edge cases, pixel-to-data round trips on
// linear and log axes, and orthonormal view-matrix rows for random cameras.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "graphics/subplot/autoscale.h"
#include "graphics/subplot/subplot.h"

namespace {

Subplot laid_out(double x0, double x1, double y0, double y1) {
  Subplot s;
  subplot_init_defaults(&s);
  s.xMin = x0, s.xMax = x1, s.yMin = y0, s.yMax = y1;
  s.xMode = s.yMode = kAxisAuto;
  subplot_set_rect(&s, 10, 610, 20, 420);
  return s;
}

}  // namespace

TEST(Subplot, DefaultsAndFixedLayout) {
  Subplot s;
  subplot_init_defaults(&s);
  EXPECT_EQ(s.optionFlags, 0x138BBBu);
  EXPECT_EQ(s.viewFlags, 15u);
  EXPECT_EQ(s.camPos[0], -3.0);
  EXPECT_EQ(s.xMin, 1e30);
  EXPECT_EQ(s.needsLayout, 1);
  EXPECT_EQ(s.frameRight, 1000.0);
  EXPECT_EQ(s.xOffset, 0.0);
  EXPECT_EQ(s.yScale, 1.0);
  EXPECT_EQ(s.invAspect[2], 1.0);
}

TEST(Subplot, DegenerateAxisInFineAndCoarseMode) {
  Subplot s = laid_out(3, 3, 0, 1);
  subplot_compute_transform(&s, 1, 0.04);
  const double x = 3.0;
  double px = 0;
  subplot_data_to_pixel(&s, &x, nullptr, nullptr, 1, &px, nullptr, nullptr);
  EXPECT_NEAR(px, 0.98 * s.frameLeft + 0.02 * s.frameRight, 1e-6);
  subplot_compute_transform(&s, 0, 0.04);
  EXPECT_EQ(s.xScale, 1e6);
  EXPECT_EQ(s.xOffset, 0.0);
}

TEST(Subplot, LogAxisEdges) {
  Subplot s = laid_out(-5, 100, 0, 1);
  s.scaleFlags = kScaleLogX;
  subplot_compute_transform(&s, 1, 0.0);
  double lo = 0;
  subplot_pixel_to_point(&s, s.frameLeft, 0, &lo, nullptr);
  EXPECT_NEAR(lo, 1e-4, 1e-12);
  const double xs[3] = {10, -1, 100};
  double px[3];
  subplot_data_to_pixel(&s, xs, nullptr, nullptr, 3, px, nullptr, nullptr);
  EXPECT_EQ(px[1], px[0]);
  EXPECT_GT(px[2], px[0]);
  const double first[2] = {-1, 10};
  subplot_data_to_pixel(&s, first, nullptr, nullptr, 2, px, nullptr, nullptr);
  EXPECT_FALSE(std::isfinite(px[0]));
}

TEST(Subplot, EqualAspectAndLockedRect) {
  Subplot s = laid_out(0, 1, 0, 1);
  s.xScale = 3.0, s.yScale = -2.0;
  subplot_fit_aspect(&s);
  EXPECT_EQ(s.xScale, 2.0);
  EXPECT_EQ(s.yScale, -2.0);
  Subplot t = laid_out(0, 10, 0, 10);
  t.xMode = kAxisLocked;
  double centre = 0;
  subplot_pixel_to_point(&t, (t.frameLeft + t.frameRight) / 2, 0, &centre, nullptr);
  subplot_set_rect(&t, 100, 300, 20, 420);
  double now = 0;
  subplot_pixel_to_point(&t, (t.frameLeft + t.frameRight) / 2, 0, &now, nullptr);
  EXPECT_NEAR(now, centre, 1e-9);
}

// A new rectangle keeps the data range of every axis whose transform is
// kept: locked, and any axis while a manipulation marks it, on linear and
// log axes, growing, shrinking and turning over. A fixed axis marked during
// the resize shows, once the mark is off and its map computed again, the map
// it had under the mark: what a drag handler saw is where the point is drawn.
TEST(Subplot, ANewRectangleKeepsTheRangeOfEveryHeldAxis) {
  struct Case {
    int32_t mode;
    uint32_t flags;
    double left, right, top, bottom;
  };
  const Case cases[] = {
      {kAxisLocked, 0, 100, 300, 20, 420},          {kAxisFixed | kAxisMark, 0, 10, 910, 20, 720},
      {kAxisLocked | kAxisMark, 0, 40, 240, 70, 170}, {kAxisAuto | kAxisMark, kScaleLogX | kScaleLogY, 0, 800, 0, 900},
      {kAxisFixed | kAxisMark, kScaleEqualAspect, 10, 910, 20, 720}, {kAxisFixed | kAxisMark, 0, 10, 610, 420, 20},
  };
  for (const Case& c : cases) {
    Subplot s = laid_out(1, 10, 2, 20);
    s.scaleFlags = c.flags;
    s.xMode = s.yMode = c.mode & ~kAxisMark;
    subplot_compute_transform(&s, 1, 0.04);
    s.xMode = s.yMode = c.mode;
    auto centre = [&s](double* x, double* y) {
      subplot_pixel_to_point(&s, (s.frameLeft + s.frameRight) / 2, (s.frameTop + s.frameBottom) / 2, x, y);
    };
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0, cx = 0, cy = 0;
    subplot_visible_xrange(&s, &x0, &x1);
    subplot_visible_yrange(&s, &y0, &y1);
    centre(&cx, &cy);
    subplot_set_rect(&s, c.left, c.right, c.top, c.bottom);
    double a0 = 0, a1 = 0, b0 = 0, b1 = 0, ax = 0, ay = 0;
    subplot_visible_xrange(&s, &a0, &a1);
    subplot_visible_yrange(&s, &b0, &b1);
    centre(&ax, &ay);
    const std::string what = "mode " + std::to_string(c.mode) + ", flags " + std::to_string(c.flags);
    EXPECT_NEAR(ax, cx, 1e-9) << what;
    EXPECT_NEAR(ay, cy, 1e-9) << what;
    // With equal aspect one factor scales both axes: the centres stay.
    if (c.flags & kScaleEqualAspect) continue;
    EXPECT_NEAR(a0, x0, 1e-9) << what;
    EXPECT_NEAR(a1, x1, 1e-9) << what;
    EXPECT_NEAR(b0, y0, 1e-9) << what;
    EXPECT_NEAR(b1, y1, 1e-9) << what;
    if (c.mode != (kAxisFixed | kAxisMark) || c.flags != 0) continue;
    const Subplot held = s;
    subplot_mark_axes(&s, 0);
    subplot_compute_transform(&s, 1, 0.04);
    EXPECT_NEAR(s.xOffset, held.xOffset, 1e-9) << what;
    EXPECT_NEAR(s.xScale, held.xScale, 1e-12) << what;
    EXPECT_NEAR(s.yOffset, held.yOffset, 1e-9) << what;
    EXPECT_NEAR(s.yScale, held.yScale, 1e-12) << what;
  }
  // A subplot of flowed text keeps its scroll offset, marked or not.
  for (int32_t mode : {int32_t{kAxisFixed}, kAxisFixed | kAxisMark}) {
    Subplot text;
    subplot_init_defaults(&text);
    subplot_set_rect(&text, 0, 400, 0, 300);
    text.yMode = mode, text.yMax = 900, text.yOffset = -250;
    subplot_set_rect(&text, 0, 500, 0, 200);
    EXPECT_EQ(text.yOffset, -250) << "mode " << mode;
  }
}

TEST(Subplot, VisibleRangeTitleAndLabels) {
  Subplot s = laid_out(0, 10, 0, 1);
  s.xScale = 2e9;
  double lo = 0, hi = 0;
  subplot_visible_xrange(&s, &lo, &hi);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 10.0);
  const std::string seventy(70, 't');
  subplot_set_title(&s, seventy.c_str(), -1);
  EXPECT_EQ(std::string(s.title, 64), seventy.substr(0, 64));
  subplot_set_labels(&s, "abcdefghijklmnopqrst", 20, nullptr, 0, nullptr, 0);
  EXPECT_EQ(std::string(s.xLabel, 16), "abcdefghijklmnop");
}

TEST(Subplot, PixelDataRoundTrips) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (uint32_t flags : {0u, kScaleLogX | kScaleLogY}) {
    Subplot s = laid_out(0.5, 400, 2, 9000);
    s.scaleFlags = flags;
    subplot_compute_transform(&s, 1, 0.04);
    for (int i = 0; i < 200; ++i) {
      const double x = 0.5 + u(rng) * 399.5, y = 2 + u(rng) * 8998;
      double px = 0, py = 0, bx = 0, by = 0;
      subplot_data_to_pixel(&s, &x, &y, nullptr, 1, &px, &py, nullptr);
      subplot_pixel_to_point(&s, px, py, &bx, &by);
      EXPECT_NEAR(bx, x, 1e-9 * x);
      EXPECT_NEAR(by, y, 1e-9 * y);
    }
  }
}

TEST(Subplot, ViewMatrixRowsAreOrthonormal) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (int i = 0; i < 300; ++i) {
    Subplot s;
    subplot_init_defaults(&s);
    s.is3D = 1;
    s.xMin = s.yMin = s.zMin = -1, s.xMax = 2, s.yMax = 3, s.zMax = 4;
    s.xMode = s.yMode = s.zMode = kAxisAuto;
    s.viewFlags = i % 3 == 0 ? uint32_t(kViewAutoAll) : 0u;
    s.orthographic = uint8_t(i % 2);
    for (int k = 0; k < 3; ++k) s.camPos[k] = u(rng), s.camTarget[k] = u(rng) / 10, s.camUp[k] = u(rng);
    if (i % 7 == 0) s.camUp[0] = s.camUp[1] = 0, s.camPos[0] = s.camPos[1] = 0, s.camTarget[0] = s.camTarget[1] = 0;
    subplot_update_transform(&s);
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        double dot = 0;
        for (int k = 0; k < 3; ++k) dot += s.viewMatrix[a][k] * s.viewMatrix[b][k];
        EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-12) << i;
      }
  }
}

TEST(Subplot, CameraStraightAboveTheTarget) {
  Subplot s;
  subplot_init_defaults(&s);
  s.viewFlags = 0;
  s.camPos[0] = s.camPos[1] = 0, s.camPos[2] = 1;
  subplot_update_transform(&s);
  EXPECT_EQ(s.viewMatrix[0][0], 1.0);
  EXPECT_EQ(s.viewMatrix[0][1], 0.0);
  EXPECT_EQ(s.viewMatrix[0][2], 0.0);
}

TEST(Subplot, RotationAboutAnAxis) {
  const double axis[3] = {0, 0, 2};
  double m[9];
  mat3_rotation_axis(axis, M_PI / 2, m);
  double v[3] = {1, 0, 0};
  mat3_apply(m, v, v);
  EXPECT_NEAR(v[0], 0, 1e-15);
  EXPECT_NEAR(v[1], 1, 1e-15);
  EXPECT_NEAR(v[2], 0, 1e-15);
  EXPECT_EQ(aspect_round(7.4), 7.0);
  EXPECT_EQ(aspect_round(1.33), 4.0 / 3);
  EXPECT_EQ(aspect_round(2.7), 2.7);
}
