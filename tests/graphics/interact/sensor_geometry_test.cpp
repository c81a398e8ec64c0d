// 3-D sensors: plane and sphere points found from a pointer position project
// back onto it through subplot_data_to_pixel, in both projections and with
// unequal aspects; the missed ray, the ray from inside the sphere and the
// singular plane; and, on a built figure, a press on a plot3 point whose id
// a sensor shares, then moves, giving the drag handler _p1, _x1, _y1, _q.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/interact/figure_events.h"
#include "graphics/interact/sensor_geometry.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr double kTol = 1e-9;

struct View {
  bool ortho;
  double aspect[3];  // {0, 0, 0}: automatic
};

// A 3-D subplot over [-2, 2] x [-1, 3] x [0, 4] in a 400 x 300 frame.
Subplot make_subplot(const View& v) {
  Subplot s{};
  subplot_init_defaults(&s);
  subplot_set_rect(&s, 0, 400, 0, 300);
  s.orthographic = v.ortho ? 1 : 0;
  subplot_set_3d(&s, 1);
  subplot_set_auto_limits(&s, -2, 2, -1, 3, 0, 4);
  if (v.aspect[0] > 0) subplot_set_aspect(&s, v.aspect);
  subplot_update_transform(&s);
  return s;
}

void pixel_of(const Subplot& s, const double* p, double* px, double* py) {
  subplot_data_to_pixel(&s, &p[0], &p[1], &p[2], 1, px, py, nullptr);
}

ManipState pressed_at(const double* p0) {
  ManipState st{};
  st.x0 = p0[0], st.y0 = p0[1], st.z0 = p0[2];
  st.valid = kManipX0 | kManipY0 | kManipZ0;
  return st;
}

const View kViews[] = {{true, {0, 0, 0}}, {false, {0, 0, 0}}, {true, {1, 1, 2}}, {false, {1, 1, 2}}};

TEST(SensorGeometry, PlanePointsRoundTrip) {
  const double p0[3] = {0.5, 1.0, 2.0};
  const double planes[][6] = {{1, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 0, 1}, {0.6, 0.8, 0, 0.3, -0.2, 0.9}};
  const double uv[][2] = {{0, 0}, {0.7, -0.4}, {-1.2, 0.9}, {0.25, 1.5}};
  for (const View& v : kViews) {
    const Subplot s = make_subplot(v);
    for (const auto& pl : planes)
      for (const auto& w : uv) {
        const double* a = pl;
        const double* b = pl + 3;
        const double want[3] = {p0[0] + w[0] * a[0] + w[1] * b[0], p0[1] + w[0] * a[1] + w[1] * b[1],
                                p0[2] + w[0] * a[2] + w[1] * b[2]};
        double px, py;
        pixel_of(s, want, &px, &py);
        ManipState st = pressed_at(p0);
        sensor3_plane_point(&s, px, py, a, b, &st);
        ASSERT_EQ(st.valid & kSensorFlags, kSensorFlags) << v.ortho;
        EXPECT_NEAR(st.q1, w[0], kTol) << v.ortho << " aspect " << v.aspect[2];
        EXPECT_NEAR(st.q2, w[1], kTol);
        const double got[3] = {st.x1, st.y1, st.z1};
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], kTol) << i;
        double qx, qy;
        pixel_of(s, got, &qx, &qy);
        EXPECT_NEAR(qx, px, kTol);
        EXPECT_NEAR(qy, py, kTol);
      }
  }
}

TEST(SensorGeometry, SpherePointsRoundTrip) {
  const double c[3] = {0.0, 1.0, 2.0};
  const double p0[3] = {1.0, 1.0, 2.0};  // radius 1
  for (const View& v : kViews) {
    const Subplot s = make_subplot(v);
    // Points on the half turned to the viewer: the camera looks from
    // (-3, -2, 1), so small azimuths about the viewer's side are in front.
    const double camdir = std::atan2(-2.0, -3.0);
    for (double da : {-0.6, 0.0, 0.4})
      for (double e : {-0.3, 0.1, 0.5}) {
        const double az = camdir + da;
        const double want[3] = {c[0] + std::cos(az) * std::cos(e), c[1] + std::sin(az) * std::cos(e),
                                c[2] + std::sin(e)};
        double px, py;
        pixel_of(s, want, &px, &py);
        ManipState st = pressed_at(p0);
        sensor3_sphere_point(&s, px, py, c, &st);
        ASSERT_EQ(st.valid & kSensorFlags, kSensorFlags);
        const double got[3] = {st.x1, st.y1, st.z1};
        double qx, qy;
        pixel_of(s, got, &qx, &qy);
        EXPECT_NEAR(qx, px, kTol) << v.ortho << " aspect " << v.aspect[2] << " " << da << " " << e;
        EXPECT_NEAR(qy, py, kTol);
        // With equal aspects the sphere looks round: the point found is the one asked for.
        if (v.aspect[2] != 2) {
          for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], kTol) << i;
          EXPECT_NEAR(std::remainder(st.q1 - az, 2 * M_PI), 0, kTol);  // azimuths wrap at pi
          EXPECT_NEAR(st.q2, e, kTol);
        }
        EXPECT_NEAR(std::hypot(got[0] - c[0], got[1] - c[1], got[2] - c[2]), 1.0, kTol);
      }
  }
}

// A pointer beside the sphere's outline still gives a point of the sphere:
// the closest approach of its ray, projected by its angles.
TEST(SensorGeometry, AMissedRayTakesTheClosestApproach) {
  const double origin[3] = {-5, 3, 0}, dir[3] = {1, 0, 0};  // passes 3 above a sphere of radius 1
  double az = 0, el = 0;
  ray_sphere_angles(origin, dir, 1.0, &az, &el);
  EXPECT_NEAR(az, M_PI / 2, kTol);
  EXPECT_NEAR(el, 0, kTol);
  for (const View& v : kViews) {
    const Subplot s = make_subplot(v);
    const double c[3] = {0, 1, 2}, p0[3] = {0, 1, 2.5};
    ManipState st = pressed_at(p0);
    sensor3_sphere_point(&s, 5, 5, c, &st);  // the frame's corner, far off the sphere
    ASSERT_EQ(st.valid & kSensorFlags, kSensorFlags);
    EXPECT_NEAR(std::hypot(st.x1 - c[0], st.y1 - c[1], st.z1 - c[2]), 0.5, kTol);
  }
}

TEST(SensorGeometry, ARayFromInsideTakesTheFarSide) {
  const double origin[3] = {0, 0, 0}, dir[3] = {0, 0, 1};
  double az = 0, el = 0;
  ray_sphere_angles(origin, dir, 2.0, &az, &el);
  EXPECT_NEAR(el, M_PI / 2, kTol);
  const double before[3] = {0, 0, -5};
  ray_sphere_angles(before, dir, 2.0, &az, &el);
  EXPECT_NEAR(el, -M_PI / 2, kTol);  // from outside: the near side
  // A perspective camera inside a large sphere sees its far side.
  for (double zaspect : {1.0, 2.0}) {
    const View v{false, {1, 1, zaspect}};
    const Subplot s = make_subplot(v);
    double eye[3];
    for (int i = 0; i < 3; ++i) eye[i] = s.camPos[i] * s.aspect[i];
    const double r = 1000, p0[3] = {eye[0] + r, eye[1], eye[2]};
    const double target[3] = {s.camTarget[0] * s.aspect[0], s.camTarget[1] * s.aspect[1],
                              s.camTarget[2] * s.aspect[2]};
    double to[3], len = 0;
    for (int i = 0; i < 3; ++i) to[i] = target[i] - eye[i], len += to[i] * to[i];
    len = std::sqrt(len);
    const double want[3] = {eye[0] + r * to[0] / len, eye[1] + r * to[1] / len, eye[2] + r * to[2] / len};
    double px, py;
    pixel_of(s, want, &px, &py);
    ManipState st = pressed_at(p0);
    sensor3_sphere_point(&s, px, py, eye, &st);
    ASSERT_EQ(st.valid & kSensorFlags, kSensorFlags);
    EXPECT_NEAR(st.x1, want[0], 1e-6 * r);
    EXPECT_NEAR(st.y1, want[1], 1e-6 * r);
    EXPECT_NEAR(st.z1, want[2], 1e-6 * r);
  }
}

// No finite solution: x1, y1, z1, q and their flags stay as they were.
TEST(SensorGeometry, SingularCasesChangeNothing) {
  const double p0[3] = {0.5, 1.0, 2.0};
  const double a[3] = {1, 0, 0}, parallel[3] = {2, 0, 0}, zero[3] = {0, 0, 0};
  for (const View& v : kViews) {
    const Subplot s = make_subplot(v);
    // Parallel or zero spans; orthographic, also a plane seen edge-on (it
    // holds the viewing direction, so every depth of the ray lies in it).
    double view_dir[3];
    for (int i = 0; i < 3; ++i) view_dir[i] = s.viewMatrix[2][i] * s.aspect[i];
    std::vector<const double*> spans{parallel, zero};
    if (v.ortho) spans.push_back(view_dir);
    for (const double* b : spans) {
      ManipState st = pressed_at(p0);
      st.x1 = 7, st.y1 = 8, st.z1 = 9, st.q1 = 10, st.q2 = 11;
      sensor3_plane_point(&s, 120, 80, a, b, &st);
      EXPECT_EQ(st.valid, kManipX0 | kManipY0 | kManipZ0) << v.ortho;
      EXPECT_EQ(std::vector<double>({st.x1, st.y1, st.z1, st.q1, st.q2}), std::vector<double>({7, 8, 9, 10, 11}));
    }
  }
  // A zero direction meets nothing.
  double az = 1, el = 1;
  const double o[3] = {1, 0, 0}, d0[3] = {0, 0, 0};
  ray_sphere_angles(o, d0, 1.0, &az, &el);
  EXPECT_FALSE(std::isfinite(az) && std::isfinite(el));
  double u = 3, w = 4;
  const double singular[12] = {1, 2, 3, 2, 4, 6, 0, 1, 1, 1, 2, 3};
  EXPECT_FALSE(solve3x3_first_two(singular, &u, &w));
  EXPECT_EQ(u, 3);
  const double regular[12] = {2, 0, 0, 0, 4, 0, 0, 0, 1, 2, 2, 5};
  ASSERT_TRUE(solve3x3_first_two(regular, &u, &w));
  EXPECT_EQ(u, 1);
  EXPECT_EQ(w, 0.5);
}

// --- On a built figure ------------------------------------------------------

const char kSource[] =
    "function log = start()\n log = zeros(0, 7);\nendfunction\n"
    "function draw(log)\n"
    " scale([-2 2 -2 2 -2 2]);\n"
    " plot3(0.5, -0.25, 1, 'o', 7);\n"
    " sensor3('p', [1 0 0 0 1 0], 7);\n"
    "endfunction\n"
    "function log = note(log, p, x, y, q)\n log = [log; p' x y q'];\nendfunction\n";
const char kApp[] =
    "instance demo\nvar log\ninit log = start()\nfigure \"Main\"\nplot draw(log)\n"
    "drag 7 log = note(log, _p1, _x1, _y1, _q)\n";
// Two parts on one id: the sphere without the modifier key, the plane with it.
const char kTwoPartSource[] =
    "function log = start()\n log = zeros(0, 7);\nendfunction\n"
    "function draw(log)\n"
    " scale([-2 2 -2 2 -2 2]);\n"
    " plot3(1, 0, 0, 'o', 7);\n"
    " sensor3('s', [0 0 0], 'p', [0 1 0 0 0 1], 7);\n"
    "endfunction\n"
    "function log = note(log, p, x, y, q)\n log = [log; p' x y q'];\nendfunction\n";

struct SensorDrag : figtest::Figure {};

TEST_F(SensorDrag, APlanePointFollowsThePointer) {
  ASSERT_NO_FATAL_FAILURE(open(kApp, kSource));
  figure_draw(host.block, 0);
  ASSERT_EQ(sp(0).is3D, 1);
  const double p0[3] = {0.5, -0.25, 1};
  double px, py;
  pixel_of(sp(0), p0, &px, &py);
  ASSERT_EQ(interact_mouse_down(h(), 0, px, py, 0), kRtHandledRedraw);
  const double targets[][2] = {{0.5, -0.25}, {1.25, 0.75}, {-1.0, 0.5}};
  for (const auto& t : targets) {
    const double want[3] = {t[0], t[1], 1};
    double tx, ty;
    pixel_of(sp(0), want, &tx, &ty);
    figtest::g_now += 1.0;
    ASSERT_EQ(interact_mouse_move(h(), 0, tx, ty, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  }
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<double> log = matrix("log");
  ASSERT_GE(log.size(), 21u);
  // The last three rows: one per move ([x1 y1 z1] x1 y1 [u; v]).
  const size_t first = log.size() - 21;
  for (int k = 0; k < 3; ++k) {
    const double* r = log.data() + first + 7 * k;
    const double x = targets[k][0], y = targets[k][1];
    EXPECT_NEAR(r[0], x, kTol) << k;
    EXPECT_NEAR(r[1], y, kTol) << k;
    EXPECT_NEAR(r[2], 1, kTol) << k;
    EXPECT_NEAR(r[3], x, kTol) << k;
    EXPECT_NEAR(r[4], y, kTol) << k;
    EXPECT_NEAR(r[5], x - 0.5, kTol) << k;
    EXPECT_NEAR(r[6], y + 0.25, kTol) << k;
  }
}

TEST_F(SensorDrag, TheModifierKeyChoosesThePart) {
  ASSERT_NO_FATAL_FAILURE(open(kApp, kTwoPartSource));
  figure_draw(host.block, 0);
  const double p0[3] = {1, 0, 0};
  double px, py;
  pixel_of(sp(0), p0, &px, &py);
  ASSERT_EQ(interact_mouse_down(h(), 0, px, py, 0), kRtHandledRedraw);
  // Without the modifier: a point of the unit sphere under the pointer, on
  // the side turned to the camera (which looks from azimuth -2.55).
  const double az = -2.25, el = 0.2;
  const double on_sphere[3] = {std::cos(az) * std::cos(el), std::sin(az) * std::cos(el), std::sin(el)};
  double tx, ty;
  pixel_of(sp(0), on_sphere, &tx, &ty);
  figtest::g_now += 1.0;
  ASSERT_EQ(interact_mouse_move(h(), 0, tx, ty, 0, nullptr, 0, nullptr), kRtHandledRedraw);
  // With it: the plane x = 1 through the pressed point.
  const double on_plane[3] = {1, 0.5, -0.75};
  pixel_of(sp(0), on_plane, &tx, &ty);
  figtest::g_now += 1.0;
  ASSERT_EQ(interact_mouse_move(h(), 0, tx, ty, 1, nullptr, 0, nullptr), kRtHandledRedraw);
  EXPECT_EQ(up(), kRtHandledRedraw);
  const std::vector<double> log = matrix("log");
  ASSERT_GE(log.size(), 14u);
  const double* sphere = log.data() + log.size() - 14;
  const double* plane = log.data() + log.size() - 7;
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(sphere[i], on_sphere[i], kTol) << i;
  EXPECT_NEAR(sphere[5], az, kTol);
  EXPECT_NEAR(sphere[6], el, kTol);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(plane[i], on_plane[i], kTol) << i;
  EXPECT_NEAR(plane[5], 0.5, kTol);
  EXPECT_NEAR(plane[6], -0.75, kTol);
}

}  // namespace
