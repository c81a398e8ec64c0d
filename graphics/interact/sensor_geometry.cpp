// Sensor geometry over the subplot's 3-D view: data point q maps to view
// space as V = R (q / aspect) + t and to pixels as offset - V.xy * scale / w,
// w being V.z in perspective and t.z in orthographic projection. Both sensors
// invert that map itself (R's rows are orthonormal, so R^T undoes R), so a
// point they return projects back onto the pointer.
#include "graphics/interact/sensor_geometry.h"

#include <cmath>

#include "numlib/dense_lu.h"

namespace {

constexpr int kDim = 3;
constexpr double kSingularRatio = 1e-12;  // |det| against the product of the column lengths
constexpr double kOutsideMargin = 1.0;    // an orthographic ray starts this far outside the sphere

double dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// R (v / aspect), plus t when `translate`.
void to_view(const Subplot* s, const double* v, bool translate, double* out) {
  const double p[kDim] = {v[0] * s->invAspect[0], v[1] * s->invAspect[1], v[2] * s->invAspect[2]};
  for (int k = 0; k < kDim; ++k)
    out[k] = s->viewMatrix[k][0] * p[0] + s->viewMatrix[k][1] * p[1] + s->viewMatrix[k][2] * p[2] +
             (translate ? s->viewMatrix[k][3] : 0.0);
}

// The data point (or vector) whose view coordinates are v: R^T (v - t), each
// axis times its aspect (divided by the inverse that to_view multiplies by).
void from_view(const Subplot* s, const double* v, bool translate, double* out) {
  double w[kDim];
  for (int k = 0; k < kDim; ++k) w[k] = v[k] - (translate ? s->viewMatrix[k][3] : 0.0);
  for (int i = 0; i < kDim; ++i)
    out[i] = (s->viewMatrix[0][i] * w[0] + s->viewMatrix[1][i] * w[1] + s->viewMatrix[2][i] * w[2]) /
             s->invAspect[i];
}

// The pointer in projection units: -V.x / w and -V.y / w of what lies under it.
void normalised_pointer(const Subplot* s, double px, double py, double* nx, double* ny) {
  *nx = (px - s->xOffset) / s->xScale;
  *ny = (py - s->yOffset) / s->yScale;
}

bool all_finite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// x1, y1, z1 and q, only when every value is finite.
void deliver(ManipState* st, const double* p1, double q1, double q2) {
  const double all[5] = {p1[0], p1[1], p1[2], q1, q2};
  if (!all_finite(all, 5)) return;
  st->x1 = p1[0], st->y1 = p1[1], st->z1 = p1[2];
  st->q1 = q1, st->q2 = q2;
  st->valid |= kSensorFlags;
}

}  // namespace

bool solve3x3_first_two(const double* m12, double* first, double* second) {
  double a[kDim * kDim], b[kDim];
  for (int i = 0; i < kDim * kDim; ++i) a[i] = m12[i];
  for (int i = 0; i < kDim; ++i) b[i] = m12[kDim * kDim + i];
  // Elimination leaves rounding residue where a column depends on the others:
  // a plane seen edge-on or spanned by parallel vectors answers nothing.
  const double det = a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
                     a[2] * (a[3] * a[7] - a[4] * a[6]);
  double bound = 1.0;
  for (int j = 0; j < kDim; ++j) bound *= std::sqrt(a[j] * a[j] + a[3 + j] * a[3 + j] + a[6 + j] * a[6 + j]);
  if (!(std::fabs(det) > kSingularRatio * bound)) return false;
  uint32_t perm[kDim];
  linsolve_left_real(a, b, kDim, 1, perm, 0);
  if (!std::isfinite(b[0]) || !std::isfinite(b[1])) return false;
  *first = b[0];
  *second = b[1];
  return true;
}

void ray_sphere_angles(const double* origin, const double* dir, double r, double* azimuth, double* elevation) {
  const double A = dot3(dir, dir), B = 2 * dot3(origin, dir), C = dot3(origin, origin) - r * r;
  const double D = B * B - 4 * A * C;
  double t;
  if (D >= 0) {
    t = (-B - std::sqrt(D)) / (2 * A);
    if (!(t >= 0)) t = (std::sqrt(D) - B) / (2 * A);
  } else {
    t = -B / (2 * A);  // the ray misses: its closest approach
  }
  const double p[kDim] = {origin[0] + t * dir[0], origin[1] + t * dir[1], origin[2] + t * dir[2]};
  *azimuth = std::atan2(p[1], p[0]);
  *elevation = std::atan2(p[2], std::sqrt(p[0] * p[0] + p[1] * p[1]));
}

void sensor3_plane_point(const Subplot* s, double px, double py, const double* a, const double* b, ManipState* st) {
  const double p0[kDim] = {st->x0, st->y0, st->z0};
  double v0[kDim], va[kDim], vb[kDim], nx, ny;
  to_view(s, p0, true, v0);
  to_view(s, a, false, va);
  to_view(s, b, false, vb);
  normalised_pointer(s, px, py, &nx, &ny);
  // Unknowns u, v and the depth d along the pointer's ray.
  double m[12];
  if (s->orthographic) {
    // Depth is free; the pointer fixes V.x = -nx t.z and V.y = -ny t.z.
    const double w = s->viewMatrix[2][3];
    const double rows[12] = {va[0], vb[0], 0.0, va[1], vb[1], 0.0, va[2], vb[2], 1.0,
                             -nx * w - v0[0], -ny * w - v0[1], -v0[2]};
    for (int i = 0; i < 12; ++i) m[i] = rows[i];
  } else {
    // V(p1) = -d (nx, ny, -1): on the ray from the eye through the pointer.
    const double rows[12] = {va[0], vb[0], nx, va[1], vb[1], ny, va[2], vb[2], -1.0, -v0[0], -v0[1], -v0[2]};
    for (int i = 0; i < 12; ++i) m[i] = rows[i];
  }
  double u = 0, v = 0;
  if (!solve3x3_first_two(m, &u, &v)) return;
  const double p1[kDim] = {p0[0] + u * a[0] + v * b[0], p0[1] + u * a[1] + v * b[1], p0[2] + u * a[2] + v * b[2]};
  deliver(st, p1, u, v);
}

void sensor3_sphere_point(const Subplot* s, double px, double py, const double* c, ManipState* st) {
  const double rel0[kDim] = {st->x0 - c[0], st->y0 - c[1], st->z0 - c[2]};
  const double r = std::sqrt(dot3(rel0, rel0));
  double nx, ny, o[kDim], d[kDim];
  normalised_pointer(s, px, py, &nx, &ny);
  if (s->orthographic) {
    // Every depth projects alike: the ray runs into the view, from a start
    // moved back so that it lies outside the sphere.
    const double w = s->viewMatrix[2][3];
    const double start[kDim] = {-nx * w, -ny * w, 0.0}, into[kDim] = {0.0, 0.0, -1.0};
    from_view(s, start, true, o);
    from_view(s, into, false, d);
    const double oc[kDim] = {c[0] - o[0], c[1] - o[1], c[2] - o[2]};
    const double len = std::sqrt(dot3(d, d));
    const double back = dot3(oc, d) / (len * len) - (r + kOutsideMargin) / len;
    for (int i = 0; i < kDim; ++i) o[i] += back * d[i];
  } else {
    // From the eye (the view origin) through the pointer.
    const double eye[kDim] = {0.0, 0.0, 0.0}, ray[kDim] = {nx, ny, -1.0};
    from_view(s, eye, true, o);
    from_view(s, ray, false, d);
  }
  const double rel[kDim] = {o[0] - c[0], o[1] - c[1], o[2] - c[2]};
  double az = NAN, el = NAN;
  ray_sphere_angles(rel, d, r, &az, &el);
  const double ce = std::cos(el);
  const double p1[kDim] = {c[0] + r * std::cos(az) * ce, c[1] + r * std::sin(az) * ce, c[2] + r * std::sin(el)};
  deliver(st, p1, az, el);
}
