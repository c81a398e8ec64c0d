// The 3-D view of a subplot: camera reset, the view computation (aspect
// ratios, automatic camera, view matrix, scale and fill) and the 3x3 rotation
// helpers of the camera moves. The view matrix rows stay orthonormal.
#include <algorithm>
#include <cmath>

#include "graphics/subplot/subplot.h"

namespace {

constexpr double kTinyLength = 2.22e-15;
constexpr double kOrthoViewPos[3] = {-3.0, -2.0, 1.0};
constexpr double kPerspectiveFactor = 2.6;  // the automatic view point is D * 2.6 * (-3, -2, 1)

double dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm3(const double* a) { return std::sqrt(dot3(a, a)); }
void cross3(const double* a, const double* b, double* out) {
  const double r0 = a[1] * b[2] - a[2] * b[1], r1 = a[2] * b[0] - a[0] * b[2], r2 = a[0] * b[1] - a[1] * b[0];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
}
void scale3(double* a, double k) {
  a[0] *= k;
  a[1] *= k;
  a[2] *= k;
}

double axis_range(const Subplot* s, int i) {
  const double lo[3] = {s->xMin, s->yMin, s->zMin}, hi[3] = {s->xMax, s->yMax, s->zMax};
  return hi[i] - lo[i];
}
int32_t axis_mode(const Subplot* s, int i) {
  const int32_t m[3] = {s->xMode, s->yMode, s->zMode};
  return m[i];
}

void compute_aspect(Subplot* s) {
  if (!s->aspectAuto) return;
  double r = 0.0;
  bool first = true;
  for (int i = 0; i < 3; ++i) {
    const double range = axis_mode(s, i) <= 0 ? 0.0 : axis_range(s, i);
    if (first || range < r) r = range;
    first = false;
  }
  if (!(r > 0.0) || (s->scaleFlags & kScaleEqualAspect)) {
    s->aspect[0] = s->aspect[1] = s->aspect[2] = 1.0;
    return;
  }
  for (int i = 0; i < 3; ++i) s->aspect[i] = axis_mode(s, i) > 0 ? aspect_round(axis_range(s, i) / r) : 1.0;
}

// Scales xScale and yScale so the projected data box touches the frame.
void fit_box(Subplot* s, double w, double h) {
  const double lo[3] = {s->xMin, s->yMin, s->zMin}, hi[3] = {s->xMax, s->yMax, s->zMax};
  double dx = 0.0, dy = 0.0;
  for (int c = 0; c < 8; ++c) {
    const double x = (c & 1) ? hi[0] : lo[0], y = (c & 2) ? hi[1] : lo[1], z = (c & 4) ? hi[2] : lo[2];
    double px = 0.0, py = 0.0;
    subplot_data_to_pixel(s, &x, &y, &z, 1, &px, &py, nullptr);
    dx = std::max(dx, std::fabs(px - s->xOffset));
    dy = std::max(dy, std::fabs(py - s->yOffset));
  }
  const double f = std::min((w / 2) / dx, (h / 2) / dy);
  if (std::isfinite(f) && f > 0.0) {
    s->xScale *= f;
    s->yScale *= f;
  }
}

}  // namespace

void subplot_reset_camera(Subplot* s) {
  for (int i = 0; i < 3; ++i) {
    s->camPos[i] = kOrthoViewPos[i];
    s->camTarget[i] = 0.0;
    s->camUp[i] = 0.0;
    s->aspect[i] = 1.0;
  }
  s->camUp[2] = 1.0;
  s->orthographic = 1;
  s->viewAngleFactor = 1.0;
  s->aspectAuto = 1;
  s->viewFlags = kViewAutoAll;
}

void subplot_update_transform(Subplot* s) {
  double w = s->frameRight - s->frameLeft, h = std::fabs(s->frameTop - s->frameBottom);
  if (s->optionFlags & kOptFrame) {
    w -= 2 * s->marginLeft * s->charWidth;
    h -= 2 * std::fabs(s->lineHeight) * s->marginBottom;
  }
  compute_aspect(s);
  for (int i = 0; i < 3; ++i) s->invAspect[i] = 1.0 / s->aspect[i];
  double sum = 0.0;
  for (int i = 0; i < 3; ++i)
    if (axis_mode(s, i) > 0) {
      const double r = axis_range(s, i) * s->invAspect[i];
      sum += r * r;
    }
  const double diag = sum > 0.0 ? std::sqrt(sum) : 1.0;
  if (s->viewFlags & kViewAutoTarget) {
    const double lo[3] = {s->xMin, s->yMin, s->zMin}, hi[3] = {s->xMax, s->yMax, s->zMax};
    for (int i = 0; i < 3; ++i)
      s->camTarget[i] = axis_mode(s, i) < 1 ? 0.0 : (hi[i] + lo[i]) / 2 * s->invAspect[i];
  }
  if (s->viewFlags & kViewAutoPos) {
    for (int i = 0; i < 3; ++i)
      s->camPos[i] = s->orthographic ? kOrthoViewPos[i]
                                     : s->camTarget[i] + diag * (kOrthoViewPos[i] * kPerspectiveFactor);
  }
  if (s->viewFlags & kViewAutoUp) {
    s->camUp[0] = s->camUp[1] = 0.0;
    s->camUp[2] = 1.0;
  }
  double d[3];
  for (int i = 0; i < 3; ++i) d[i] = s->orthographic ? s->camPos[i] : s->camPos[i] - s->camTarget[i];
  const double dn = norm3(d);
  if (dn > 0.0) scale3(d, 1.0 / dn);
  double r[3];
  cross3(s->camUp, d, r);
  const double rn = norm3(r);
  if (!(rn >= kTinyLength)) {
    const double* u = s->camUp;
    if (std::fabs(u[0]) + std::fabs(u[1]) >= std::fabs(u[2])) {
      r[0] = -d[1], r[1] = d[0], r[2] = 0.0;
    } else {
      r[0] = d[2], r[1] = 0.0, r[2] = -d[0];
    }
    const double n2 = norm3(r);
    if (n2 > 0.0) scale3(r, 1.0 / n2);
  } else {
    scale3(r, 1.0 / rn);
  }
  double t[3];
  cross3(d, r, t);
  const double* eye = s->orthographic ? s->camTarget : s->camPos;
  const double* rows[3] = {r, t, d};
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 3; ++i) s->viewMatrix[k][i] = rows[k][i];
    s->viewMatrix[k][3] = -dot3(rows[k], eye);
  }
  if (s->orthographic) s->viewMatrix[2][3] = -1.0;
  s->viewMatrix[3][0] = s->viewMatrix[3][1] = s->viewMatrix[3][2] = 0.0;
  s->viewMatrix[3][3] = 1.0;
  s->xOffset = (s->frameLeft + s->frameRight) / 2;
  s->yOffset = (s->frameTop + s->frameBottom) / 2;
  if (s->viewFlags & kViewAutoAngle) s->viewAngleFactor = 1.0;
  double k = std::min(w, h) * s->viewAngleFactor / diag;
  if (!s->orthographic) {
    const double v[3] = {s->camPos[0] - s->camTarget[0], s->camPos[1] - s->camTarget[1],
                         s->camPos[2] - s->camTarget[2]};
    k *= norm3(v);
  }
  s->xScale = k;
  s->yScale = s->frameTop < s->frameBottom ? -k : k;
  if (s->viewFlags & kViewFill) fit_box(s, w, h);
}

void mat3_rotation_axis(const double* axis, double angle, double* out9) {
  double a[3] = {axis[0], axis[1], axis[2]};
  const double n = norm3(a);
  if (!(n >= kTinyLength)) {
    a[0] = a[1] = 0.0;
    a[2] = 1.0;
  } else {
    scale3(a, 1.0 / n);
  }
  double c0[3];
  if (std::fabs(a[0]) >= std::fabs(a[1])) {
    c0[0] = a[2], c0[1] = 0.0, c0[2] = -a[0];
  } else {
    c0[0] = 0.0, c0[1] = -a[2], c0[2] = a[1];
  }
  scale3(c0, 1.0 / norm3(c0));
  double c1[3];
  cross3(a, c0, c1);
  // F A F^T with F = [c0 c1 a] and A the rotation in the c0-c1 plane.
  const double c = std::cos(angle), s = std::sin(angle);
  const double* f[3] = {c0, c1, a};
  const double rot[3][3] = {{c, -s, 0.0}, {s, c, 0.0}, {0.0, 0.0, 1.0}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int p = 0; p < 3; ++p)
        for (int q = 0; q < 3; ++q) sum += f[p][i] * rot[p][q] * f[q][j];
      out9[3 * i + j] = sum;
    }
}

void mat3_apply(const double* m9, const double* v, double* out) {
  const double r0 = m9[0] * v[0] + m9[1] * v[1] + m9[2] * v[2];
  const double r1 = m9[3] * v[0] + m9[4] * v[1] + m9[5] * v[2];
  const double r2 = m9[6] * v[0] + m9[7] * v[1] + m9[8] * v[2];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
}
