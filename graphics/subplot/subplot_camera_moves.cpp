// The 3-D camera moves of the mouse and of the camera commands: dolly, pan,
// orbit, roll, zoom, projection and view angle. Each ends with the view
// computation; a zero or not-a-number angle moves nothing.
#include <cmath>
#include <limits>
#include <numbers>

#include "graphics/subplot/subplot_view.h"

namespace {

constexpr double kMinViewAngle = 1.4901161193847656e-8;  // sqrt(2.22e-16): below it, orthographic
constexpr double kHalfTurnDegrees = 360.0;                // tan(deg * pi / 360): half the angle

bool turns(double angle) { return angle == angle && angle != 0.0; }

double distance3(const double* a, const double* b) {
  const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

// p := centre + R(angle about axis) (p - centre), or p := centre - R (centre - p): the same.
void rotate_about(double* p, const double* centre, const double* axis, double angle) {
  double r[9];
  mat3_rotation_axis(axis, angle, r);
  double v[3] = {p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
  mat3_apply(r, v, v);
  for (int i = 0; i < 3; ++i) p[i] = centre[i] + v[i];
}

void right_vector(const Subplot* s, double* out) {
  for (int i = 0; i < 3; ++i) out[i] = s->viewMatrix[0][i];
}

}  // namespace

void subplot_camdolly(Subplot* s, const double* v, uint8_t keep_target) {
  if (!keep_target) {
    for (int i = 0; i < 3; ++i) s->camTarget[i] += v[i];
    s->viewFlags &= ~uint32_t(kViewAutoTarget);
  }
  if (!s->orthographic) {
    for (int i = 0; i < 3; ++i) s->camPos[i] += v[i];
    s->viewFlags &= ~uint32_t(kViewAutoPos);
  }
  subplot_update_transform(s);
}

// Pixel-sized amounts along the view axes become the matching distance at
// the target.
void subplot_camera_move(Subplot* s, double right, double up, double forward, uint8_t keep_target) {
  const double f = s->orthographic ? 1.0 : distance3(s->camPos, s->camTarget);
  double v[3];
  for (int i = 0; i < 3; ++i)
    v[i] = (right * s->viewMatrix[0][i] + up * s->viewMatrix[1][i] + forward * s->viewMatrix[2][i]) * f / s->xScale;
  subplot_camdolly(s, v, keep_target);
}

void subplot_campan(Subplot* s, double theta, double phi) {
  subplot_update_transform(s);
  double axis[3];
  right_vector(s, axis);
  if (turns(theta)) rotate_about(s->camTarget, s->camPos, s->camUp, theta);
  if (turns(phi)) rotate_about(s->camTarget, s->camPos, axis, phi);
  if (turns(theta) || turns(phi)) s->viewFlags &= ~uint32_t(kViewAutoTarget);
  subplot_update_transform(s);
}

void subplot_camorbit(Subplot* s, double theta, double phi) {
  subplot_update_transform(s);
  if (!turns(theta) && !turns(phi)) return;
  s->viewFlags &= ~uint32_t(kViewAutoPos);
  // Orthographic: camPos is a direction, turned about the origin.
  const double origin[3] = {0.0, 0.0, 0.0};
  const double* centre = s->orthographic ? origin : s->camTarget;
  if (turns(theta)) {
    rotate_about(s->camPos, centre, s->camUp, theta);
    subplot_update_transform(s);
  }
  if (turns(phi)) {
    double axis[3];
    right_vector(s, axis);
    rotate_about(s->camPos, centre, axis, phi);
  }
  subplot_update_transform(s);
}

void subplot_camroll(Subplot* s, double angle) {
  if (turns(angle)) {
    subplot_update_transform(s);
    const double axis[3] = {s->camTarget[0] - s->camPos[0], s->camTarget[1] - s->camPos[1],
                            s->camTarget[2] - s->camPos[2]};
    const double origin[3] = {0.0, 0.0, 0.0};
    rotate_about(s->camUp, origin, axis, angle);
  }
  s->viewFlags &= ~uint32_t(kViewAutoUp);
  subplot_update_transform(s);
}

// The view is computed before and after the switch, so that the camera the
// other projection inherits is the one on screen.
void subplot_set_orthographic(Subplot* s, uint8_t on) {
  if ((s->orthographic != 0) == (on != 0)) return;
  subplot_update_transform(s);
  s->orthographic = on ? 1 : 0;
  subplot_update_transform(s);
  // Perspective: the automatic view point depends on the target that the
  // first computation in the new projection places.
  if (!on) subplot_update_transform(s);
}

double subplot_camera_distance(const Subplot* s) {
  if (!s->is3D || s->orthographic) return std::numeric_limits<double>::infinity();
  return distance3(s->camPos, s->camTarget);
}

double subplot_view_angle(const Subplot* s) {
  if (!s->is3D || s->orthographic) return 0.0;
  const double w = s->frameRight - s->frameLeft - 2 * s->charWidth * s->marginLeft;
  const double h = std::fabs(s->frameTop - s->frameBottom) - 2 * std::fabs(s->lineHeight) * s->marginBottom;
  const double a = std::fmin(w, h) * 0.5 / s->xScale;
  return a >= 0 ? std::atan(a) * kHalfTurnDegrees / std::numbers::pi : 0.0;
}

void subplot_camzoom(Subplot* s, double factor) {
  subplot_update_transform(s);
  s->viewAngleFactor *= factor;
  s->viewFlags &= ~uint32_t(kViewAutoAngle);
  subplot_update_transform(s);
}

void subplot_set_view_angle(Subplot* s, double degrees) {
  if (!(degrees > kMinViewAngle)) return subplot_set_orthographic(s, 1);
  subplot_set_orthographic(s, 0);
  const double current = subplot_view_angle(s);
  subplot_camzoom(s, std::tan(current * std::numbers::pi / kHalfTurnDegrees) / std::tan(degrees * std::numbers::pi / kHalfTurnDegrees));
}
