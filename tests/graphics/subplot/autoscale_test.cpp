// Auto-scaling: widening against a model that skips non-finite values, the
// filter by a fixed other axis, z including 0, and fixed, locked and empty
// limits.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "graphics/subplot/autoscale.h"

namespace {

Subplot fresh() {
  Subplot s;
  subplot_init_defaults(&s);
  subplot_set_rect(&s, 0, 200, 0, 100);
  subplot_begin_autoscale(&s);
  return s;
}

TEST(Autoscale, WideningSkipsNonFiniteValuesLikeTheModel) {
  std::mt19937 rng(7);
  const double specials[] = {NAN, INFINITY, -INFINITY};
  for (int k = 0; k < 300; ++k) {
    Subplot s = fresh();
    double lo = 1e30, hi = -1e30;
    const int batches = 1 + int(rng() % 3);
    for (int batch = 0; batch < batches; ++batch) {
      std::vector<double> x(1 + rng() % 6), y(x.size());
      for (size_t i = 0; i < x.size(); ++i) {
        x[i] = rng() % 4 == 0 ? specials[rng() % 3] : double(int(rng() % 200) - 100);
        y[i] = x[i];
        if (std::isfinite(x[i])) lo = std::fmin(lo, x[i]), hi = std::fmax(hi, x[i]);
      }
      subplot_autoscale_to_data(&s, x.data(), y.data(), nullptr, int32_t(x.size()));
    }
    EXPECT_EQ(s.xMin, lo);
    EXPECT_EQ(s.xMax, hi);
    EXPECT_EQ(s.yMin, lo);
    EXPECT_EQ(s.xMode, kAxisAuto);
    EXPECT_FALSE(std::isnan(s.xScale));
  }
}

TEST(Autoscale, AFixedAxisFiltersThePointsOfTheOther) {
  Subplot s = fresh();
  subplot_set_auto_limits(&s, 1e30, -1e30, 0, 1, 1e30, -1e30);
  EXPECT_EQ(s.yMode, kAxisFixed);
  EXPECT_EQ(s.xMode, kAxisAuto);  // an empty range leaves the axis alone
  const double x[4] = {-5, 2, 3, 50}, y[4] = {0.5, 2, 1, -1};
  subplot_autoscale_to_data(&s, x, y, nullptr, 4);
  EXPECT_EQ(s.xMin, -5);
  EXPECT_EQ(s.xMax, 3);
  EXPECT_EQ(s.yMin, 0);
  EXPECT_EQ(s.yMax, 1);
}

TEST(Autoscale, WithoutZDataTheZRangeHoldsZero) {
  Subplot s = fresh();
  s.is3D = 1;
  const double x[2] = {1, 2}, y[2] = {3, 4}, z[2] = {5, 6};
  subplot_autoscale_to_data(&s, x, y, nullptr, 2);
  EXPECT_EQ(s.zMin, 0);
  EXPECT_EQ(s.zMax, 0);
  subplot_autoscale_to_data(&s, x, y, z, 2);
  EXPECT_EQ(s.zMin, 0);
  EXPECT_EQ(s.zMax, 6);
}

TEST(Autoscale, FixedLockedAndRestarted) {
  Subplot s = fresh();
  subplot_set_fixed_limits(&s, 0, 10, 5, 5);  // y range empty: only x is set and locked
  EXPECT_EQ(s.xMode, kAxisLocked);
  EXPECT_EQ(s.yMode, kAxisAuto);
  EXPECT_DOUBLE_EQ(s.xScale, 20.0);  // no margin: 200 pixels over 10
  EXPECT_TRUE(subplot_is_x_locked(&s));
  EXPECT_FALSE(subplot_is_scale_locked(&s));
  subplot_lock_scale(&s);
  EXPECT_TRUE(subplot_is_scale_locked(&s));
  subplot_begin_autoscale(&s);  // locked axes keep their limits
  EXPECT_EQ(s.xMax, 10);
  subplot_unlock_scale(&s);
  EXPECT_EQ(s.xMode, kAxisFixed);
  EXPECT_TRUE(s.viewFlags & kViewAutoAngle);
  subplot_begin_autoscale(&s);
  EXPECT_EQ(s.xMode, kAxisAuto);
  EXPECT_EQ(s.xMin, s.xDefMin);
  subplot_mark_axes(&s, 1);
  EXPECT_EQ(s.zMode, kAxisAuto | kAxisMark);
  subplot_mark_axes(&s, 0);
  EXPECT_EQ(s.zMode, kAxisAuto);
}

}  // namespace
