// Zoom, drag and the camera moves: the documented edge cases (zoom
// references, a click and a zoom out on [0, 10], log axes, the automatic
// perspective view point, camva, aspect with an unscaled axis), what each
// camera move keeps, and orthonormal view-matrix rows over random moves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>
#include <algorithm>

#include "graphics/subplot/subplot_view.h"

namespace {

// A 2-D subplot whose limits map exactly onto its frame 0..1000 (y upward).
Subplot plain(double x0, double x1, double y0, double y1, uint32_t scale_flags = 0) {
  Subplot s;
  subplot_init_defaults(&s);
  s.scaleFlags = scale_flags;
  s.xMin = x0, s.xMax = x1, s.yMin = y0, s.yMax = y1;
  s.xMode = s.yMode = kAxisFixed;
  subplot_compute_transform(&s, 0, 0.0);
  return s;
}
double px_of(const Subplot& s, double x) {
  double p = 0;
  subplot_data_to_pixel(&s, &x, &x, nullptr, 1, &p, nullptr, nullptr);
  return p;
}
double py_of(const Subplot& s, double y) {
  double p = 0;
  subplot_data_to_pixel(&s, &y, &y, nullptr, 1, nullptr, &p, nullptr);
  return p;
}

// A 3-D subplot on the unit data box.
Subplot box3(uint8_t orthographic) {
  Subplot s;
  subplot_init_defaults(&s);
  s.is3D = 1;
  s.xMin = s.yMin = s.zMin = 0, s.xMax = s.yMax = s.zMax = 1;
  s.xMode = s.yMode = s.zMode = kAxisAuto;
  s.orthographic = orthographic;
  subplot_update_transform(&s);
  return s;
}

double dist(const double* a, const double* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

void expect_orthonormal(const Subplot& s, const char* where) {
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double dot = 0;
      for (int k = 0; k < 3; ++k) dot += s.viewMatrix[a][k] * s.viewMatrix[b][k];
      EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-12) << where;
    }
}

}  // namespace

TEST(ZoomLimits, FirstZoomTakesTheReferencesAndZoomingInStopsAtThem) {
  Subplot s = plain(0, 10, 0, 10);
  EXPECT_TRUE(subplot_zoom_allowed(&s, 1));
  EXPECT_EQ(s.xZoomMin, 0.5);
  EXPECT_EQ(s.xZoomMax, 200);
  EXPECT_EQ(s.xZoomRefSet, 1);
  int steps = 0;
  for (; steps < 100 && subplot_zoom_allowed(&s, 1); ++steps) subplot_zoom_rect(&s, 500, 500, 500, 500);
  EXPECT_LE(0.99 * (s.xMax - s.xMin), 0.5);
  EXPECT_GT(0.99 * 2 * (s.xMax - s.xMin), 0.5);  // it stopped at the first step past the reference
  EXPECT_EQ(steps, 5);  // 10 -> 5 -> 2.5 -> 1.25 -> 0.625 -> 0.3125
  const double range = s.xMax - s.xMin;
  subplot_zoom_rect(&s, 500, 500, 500, 500);  // refused: nothing changes
  EXPECT_EQ(s.xMax - s.xMin, range);
  // An axis that was never scaled takes no reference and never refuses.
  Subplot u = plain(0, 10, 0, 10);
  u.yMode = kAxisUnscaled;
  EXPECT_TRUE(subplot_zoom_allowed(&u, 0));
  EXPECT_EQ(u.yZoomRefSet, 0);
}

TEST(ZoomLimits, AClickHalvesTheRangeAboutThePointAndLocksIt) {
  Subplot s = plain(0, 10, 0, 10);
  const double x = px_of(s, 8), y = py_of(s, 8);
  subplot_zoom_rect(&s, x, x, y, y);
  EXPECT_NEAR(s.xMin, 4, 1e-9);
  EXPECT_NEAR(s.xMax, 9, 1e-9);
  EXPECT_EQ(s.xMode, kAxisLocked);
  EXPECT_EQ(s.yMode, kAxisLocked);
  Subplot g = plain(1, 100, 1, 100, kScaleLogX);
  const double gx = px_of(g, 10);
  subplot_zoom_rect(&g, gx, gx, 500, 500);
  EXPECT_NEAR(g.xMin, std::sqrt(10.0), 1e-9);
  EXPECT_NEAR(g.xMax, std::sqrt(1000.0), 1e-9);
  // A drag across a quarter of the frame becomes the new limits, in either direction.
  Subplot r = plain(0, 10, 0, 10);
  subplot_zoom_rect(&r, px_of(r, 6), px_of(r, 2), py_of(r, 3), py_of(r, 7));
  EXPECT_NEAR(r.xMin, 2, 1e-9);
  EXPECT_NEAR(r.xMax, 6, 1e-9);
  EXPECT_NEAR(r.yMin, 3, 1e-9);
  EXPECT_NEAR(r.yMax, 7, 1e-9);
  EXPECT_NEAR(px_of(r, 2), 0, 1e-9);  // mapped onto the frame without margin
  // The x span leaves y alone.
  Subplot x_only = plain(0, 10, 0, 10);
  subplot_zoom_x_span(&x_only, px_of(x_only, 8), px_of(x_only, 8));
  EXPECT_NEAR(x_only.xMin, 4, 1e-9);
  EXPECT_EQ(x_only.yMin, 0);
  EXPECT_EQ(x_only.yMode, kAxisFixed);
  // Without content nothing zooms.
  Subplot empty = plain(0, 10, 0, 10);
  empty.hasContent = 0;
  subplot_zoom_rect(&empty, 100, 100, 100, 100);
  EXPECT_EQ(empty.xMin, 0);
}

TEST(ZoomLimits, ZoomOutDoublesTheVisibleRangeAboutThePoint) {
  Subplot s = plain(0, 10, 0, 10);
  subplot_zoom_out_at(&s, px_of(s, 8), py_of(s, 5));
  EXPECT_NEAR(s.xMin, -8, 1e-9);
  EXPECT_NEAR(s.xMax, 12, 1e-9);
  EXPECT_NEAR(s.yMin, -5, 1e-9);
  EXPECT_NEAR(s.yMax, 15, 1e-9);
  Subplot g = plain(1, 100, 0, 10, kScaleLogX);
  subplot_zoom_x_out_at(&g, px_of(g, 10));
  EXPECT_NEAR(g.xMin, 0.1, 1e-12);
  EXPECT_NEAR(g.xMax, 1000, 1e-9);
  // Out stops at the first step past 20 times the first range.
  Subplot far = plain(0, 10, 0, 10);
  for (int k = 0; k < 10; ++k) subplot_zoom_out_at(&far, 500, 500);
  EXPECT_NEAR(far.xMax - far.xMin, 320, 1e-9);  // 160 was still below 200 / 1.01
}

TEST(ZoomLimits, DragMovesLimitsWithThePointerAndLogAxesByRatio) {
  Subplot s = plain(0, 10, 0, 10);
  const double before = px_of(s, 3);
  subplot_drag_by(&s, 100, -50);  // right and up: the view shows what lay left and below
  EXPECT_NEAR(s.xMin, -1, 1e-12);
  EXPECT_NEAR(s.yMin, -0.5, 1e-12);
  EXPECT_NEAR(px_of(s, 3), before + 100, 1e-9);  // the drawing moved with the pointer
  EXPECT_EQ(s.xMode, kAxisLocked);
  Subplot g = plain(1, 100, 0, 10, kScaleLogX);
  const double f = std::exp(-40 / g.xScale);
  subplot_drag_x_by(&g, 40);
  EXPECT_NEAR(g.xMin, f, 1e-12);
  EXPECT_NEAR(g.xMax, 100 * f, 1e-10);
  EXPECT_EQ(g.yMin, 0);
  EXPECT_EQ(g.yMode, kAxisFixed);
}

TEST(Camera, AutomaticPerspectiveViewPointAndAspect) {
  Subplot o = box3(1);
  EXPECT_EQ(o.camPos[0], -3);
  EXPECT_EQ(o.camPos[1], -2);
  EXPECT_EQ(o.camPos[2], 1);
  subplot_set_orthographic(&o, 0);
  const double d = std::sqrt(3.0);
  const double k[3] = {-7.800000000000001, -5.2, 2.6};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(o.camPos[i], 0.5 + d * k[i], 1e-12) << i;
  Subplot flat = box3(1);
  flat.xMax = 10;
  flat.zMode = kAxisUnscaled;
  subplot_update_transform(&flat);
  EXPECT_EQ(flat.aspect[0], 1.0);
  EXPECT_EQ(flat.aspect[1], 1.0);
  EXPECT_EQ(flat.aspect[2], 1.0);
  EXPECT_TRUE(std::isinf(subplot_camera_distance(&o)) == false);
  EXPECT_TRUE(std::isinf(subplot_camera_distance(&flat)));
}

TEST(Camera, ViewAngleZeroIsOrthographicAndThirtyIsThirty) {
  Subplot s = box3(1);
  EXPECT_EQ(subplot_view_angle(&s), 0.0);
  subplot_set_view_angle(&s, 30);
  EXPECT_EQ(s.orthographic, 0);
  EXPECT_NEAR(subplot_view_angle(&s), 30, 1e-9);
  EXPECT_EQ(s.viewFlags & kViewAutoAngle, 0u);
  subplot_set_view_angle(&s, 12.5);
  EXPECT_NEAR(subplot_view_angle(&s), 12.5, 1e-9);
  subplot_set_view_angle(&s, 0);
  EXPECT_EQ(s.orthographic, 1);
  const double factor = s.viewAngleFactor;
  subplot_camzoom(&s, 2);
  EXPECT_EQ(s.viewAngleFactor, 2 * factor);
}

TEST(Camera, MovesKeepWhatTheyPromise) {
  Subplot s = box3(0);
  const double r0 = subplot_camera_distance(&s);
  double target[3] = {s.camTarget[0], s.camTarget[1], s.camTarget[2]};
  subplot_camorbit(&s, 0.4, -0.3);
  EXPECT_NEAR(subplot_camera_distance(&s), r0, 1e-12);
  EXPECT_NEAR(dist(s.camTarget, target), 0, 1e-15);
  EXPECT_EQ(s.viewFlags & kViewAutoPos, 0u);
  // Pan turns the target about the camera: its distance stays.
  double pos[3] = {s.camPos[0], s.camPos[1], s.camPos[2]};
  subplot_campan(&s, 0.2, 0.1);
  EXPECT_NEAR(dist(s.camPos, pos), 0, 1e-15);
  EXPECT_NEAR(subplot_camera_distance(&s), r0, 1e-12);
  EXPECT_EQ(s.viewFlags & kViewAutoTarget, 0u);
  // Roll turns the up vector about the view axis: the view direction stays.
  double dir[3] = {s.viewMatrix[2][0], s.viewMatrix[2][1], s.viewMatrix[2][2]};
  auto up_along_axis = [&] {
    double dot = 0;
    for (int i = 0; i < 3; ++i) dot += s.camUp[i] * (s.camTarget[i] - s.camPos[i]);
    return dot;
  };
  const double along = up_along_axis();
  const double right_before[3] = {s.viewMatrix[0][0], s.viewMatrix[0][1], s.viewMatrix[0][2]};
  subplot_camroll(&s, 0.5);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(s.viewMatrix[2][i], dir[i], 1e-12);
  EXPECT_NEAR(up_along_axis(), along, 1e-9);
  double turned = 0;  // the right vector turned by the roll angle about the view axis
  for (int i = 0; i < 3; ++i) turned += s.viewMatrix[0][i] * right_before[i];
  EXPECT_NEAR(turned, std::cos(0.5), 1e-12);
  EXPECT_EQ(s.viewFlags & kViewAutoUp, 0u);
  // A lateral dolly moves camera and target together by one pixel's worth per pixel.
  for (int i = 0; i < 3; ++i) pos[i] = s.camPos[i], target[i] = s.camTarget[i];
  const double right[3] = {s.viewMatrix[0][0], s.viewMatrix[0][1], s.viewMatrix[0][2]};
  const double step = 10 * r0 / s.xScale;
  subplot_camera_move(&s, 10, 0, 0, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(s.camPos[i] - pos[i], step * right[i], 1e-12);
    EXPECT_NEAR(s.camTarget[i] - target[i], step * right[i], 1e-12);
  }
  // A dolly along the view axis with the target kept only changes the distance.
  for (int i = 0; i < 3; ++i) target[i] = s.camTarget[i];
  const double r1 = subplot_camera_distance(&s), forward = 5 * r1 / s.xScale;
  subplot_camera_move(&s, 0, 0, 5, 1);
  EXPECT_NEAR(dist(s.camTarget, target), 0, 0);
  EXPECT_NEAR(subplot_camera_distance(&s), r1 + forward, 1e-9);
  // Zero and NaN angles move nothing.
  Subplot still = box3(0);
  const Subplot before = still;
  subplot_camorbit(&still, 0, NAN);
  subplot_campan(&still, NAN, 0);
  EXPECT_EQ(dist(still.camPos, before.camPos), 0);
  EXPECT_EQ(dist(still.camTarget, before.camTarget), 0);
}

TEST(Camera, ViewMatrixRowsStayOrthonormalOverRandomMoves) {
  std::mt19937 rng(22);
  std::uniform_real_distribution<double> angle(-3.0, 3.0), amount(-40.0, 40.0);
  for (int run = 0; run < 40; ++run) {
    Subplot s = box3(uint8_t(run % 2));
    for (int step = 0; step < 25; ++step) {
      switch (rng() % 6) {
        case 0: subplot_camorbit(&s, angle(rng), angle(rng)); break;
        case 1: subplot_campan(&s, angle(rng) / 10, angle(rng) / 10); break;
        case 2: subplot_camroll(&s, angle(rng)); break;
        case 3: subplot_camera_move(&s, amount(rng), amount(rng), 0, uint8_t(rng() % 2)); break;
        case 4: subplot_camzoom(&s, 1.0 + angle(rng) / 10); break;
        default: subplot_set_orthographic(&s, uint8_t(rng() % 2)); break;
      }
      expect_orthonormal(s, "after a random move");
    }
  }
}

namespace {

// One point through the projection as written out by hand: the model the
// batch conversion must match bit for bit, whatever its loops do.
void model_point(const Subplot& s, double x, double y, const double* z, double* px, double* py, double* depth) {
  const auto& m = s.viewMatrix;
  const double p[3] = {x * s.invAspect[0], y * s.invAspect[1], (z ? *z : 0.0) * s.invAspect[2]};
  double w = m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2] + m[2][3];
  const double depth_w = w;
  if (!s.orthographic && w >= 0) {
    *px = *py = NAN;
    if (z) *depth = NAN;
    return;
  }
  if (s.orthographic) w = m[2][3];
  const double rx = m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2] + m[0][3];
  const double ry = m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2] + m[1][3];
  *px = s.xOffset - rx * s.xScale / w;
  *py = s.yOffset - ry * s.yScale / w;
  if (z) *depth = depth_w;
}

}  // namespace

// Curves and surfaces go through the batch conversion of 3-D points: over
// parallel and perspective views, turned, with and without z and depth,
// with NaN and points behind the camera, it gives the model's bits.
TEST(Camera, BatchProjectionGivesTheBitsOfOnePointAtATime) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> v(-30.0, 30.0);
  const int n = 1001;
  for (int run = 0; run < 12; ++run) {
    Subplot s = box3(uint8_t(run % 2));
    if (run % 3) subplot_camorbit(&s, 0.3 * run, -0.1 * run);
    if (run % 4 == 3) s.viewMatrix[2][3] *= 1.5;  // a parallel w that is no power of two
    std::vector<double> x(n), y(n), z(n);
    for (int i = 0; i < n; ++i) x[i] = v(rng), y[i] = v(rng), z[i] = i % 97 == 3 ? NAN : v(rng);
    for (const bool with_z : {true, false})
      for (const bool with_depth : {true, false}) {
        std::vector<double> px(n), py(n), depth(n, 1.5), want_x(n), want_y(n), want_d(n, 1.5);
        subplot_data_to_pixel(&s, x.data(), y.data(), with_z ? z.data() : nullptr, n, px.data(), py.data(),
                              with_depth ? depth.data() : nullptr);
        double unused;
        for (int i = 0; i < n; ++i)
          model_point(s, x[i], y[i], with_z ? &z[i] : nullptr, &want_x[i], &want_y[i],
                      with_depth ? &want_d[i] : &unused);
        if (!with_z) std::fill(want_d.begin(), want_d.end(), 1.5);  // depth is written only with z
        EXPECT_EQ(0, std::memcmp(px.data(), want_x.data(), n * sizeof(double))) << run << with_z << with_depth;
        EXPECT_EQ(0, std::memcmp(py.data(), want_y.data(), n * sizeof(double))) << run << with_z << with_depth;
        EXPECT_EQ(0, std::memcmp(depth.data(), want_d.data(), n * sizeof(double))) << run << with_z << with_depth;
      }
  }
}
