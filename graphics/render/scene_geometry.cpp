// The scene's geometry: boxes, vertex order, planes with their tolerance,
// crossings, projected overlap by clipping, and the cuts of a segment or a
// triangle along a plane. Coordinates are stored in single precision and
// worked in doubles, so the tolerances below are not eaten by rounding.
#include "graphics/render/scene_geometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kPlaneTolerance = 1e-4;
constexpr double kCrossLow = 1e-4;
constexpr double kCrossHigh = 0.9999;
constexpr double kInsideTolerance = 1e-4;
constexpr double kDegenerateArea2 = 1e-4;  // doubled area below this contains nothing
constexpr double kSegmentInsideShare = 1e-3;
constexpr double kAreaShare = 1e-3;
constexpr int kMaxClipVertices = 12;

struct V2 {
  double x, y;
};

double cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

double area2(const ScenePrim& t) {
  return cross(double(t.x[1]) - t.x[0], double(t.y[1]) - t.y[0], double(t.x[2]) - t.x[0],
               double(t.y[2]) - t.y[0]);
}

bool point_in_triangle(const ScenePrim& t, double px, double py) {
  const double a2 = area2(t);
  if (!(std::fabs(a2) >= kDegenerateArea2)) return false;
  double scale = std::max(std::fabs(px), std::fabs(py));
  for (int i = 0; i < 3; ++i) scale = std::max({scale, std::fabs(double(t.x[i])), std::fabs(double(t.y[i]))});
  const double tol = kInsideTolerance * scale;
  const double sgn = a2 > 0 ? 1.0 : -1.0;
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    const double e = cross(double(t.x[j]) - t.x[i], double(t.y[j]) - t.y[i], px - t.x[i], py - t.y[i]);
    if (e * sgn < -tol) return false;
  }
  return true;
}

bool cross_params(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy,
                  double* t, double* u) {
  const double rx = bx - ax, ry = by - ay, sx = dx - cx, sy = dy - cy;
  const double den = cross(rx, ry, sx, sy);
  if (den == 0 || !std::isfinite(den)) return false;
  *t = cross(cx - ax, cy - ay, sx, sy) / den;
  *u = cross(cx - ax, cy - ay, rx, ry) / den;
  return *t > kCrossLow && *t < kCrossHigh && *u > kCrossLow && *u < kCrossHigh;
}

// The part of a -> b inside the triangle: parameters t0 < t1, or false.
bool clip_segment(const ScenePrim& t, double ax, double ay, double bx, double by, double* t0, double* t1) {
  const double a2 = area2(t);
  if (!(std::fabs(a2) >= kDegenerateArea2)) return false;
  const double sgn = a2 > 0 ? 1.0 : -1.0;
  double lo = 0.0, hi = 1.0;
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    const double ex = double(t.x[j]) - t.x[i], ey = double(t.y[j]) - t.y[i];
    // f(s) = sgn * cross(e, p(s) - v_i) >= 0 inside.
    const double f0 = sgn * cross(ex, ey, ax - t.x[i], ay - t.y[i]);
    const double f1 = sgn * cross(ex, ey, bx - t.x[i], by - t.y[i]);
    if (f0 < 0 && f1 < 0) return false;
    if (f0 < 0) lo = std::max(lo, f0 / (f0 - f1));
    else if (f1 < 0) hi = std::min(hi, f0 / (f0 - f1));
    if (!(lo < hi)) return false;
  }
  *t0 = lo, *t1 = hi;
  return true;
}

// Squared length of the part of a -> b inside the triangle (0 when none),
// with its midpoint.
double inside_length2(const ScenePrim& t, double ax, double ay, double bx, double by, double* mx, double* my) {
  double t0, t1;
  if (!clip_segment(t, ax, ay, bx, by, &t0, &t1)) return 0.0;
  const double dx = (bx - ax) * (t1 - t0), dy = (by - ay) * (t1 - t0);
  const double tm = 0.5 * (t0 + t1);
  *mx = ax + (bx - ax) * tm;
  *my = ay + (by - ay) * tm;
  return dx * dx + dy * dy;
}

// Triangle a clipped by triangle b (Sutherland-Hodgman); the polygon's area.
double clip_area(const ScenePrim& a, const ScenePrim& b, double* mx, double* my) {
  const double b2 = area2(b);
  if (!(std::fabs(b2) >= kDegenerateArea2)) return 0.0;
  const double sgn = b2 > 0 ? 1.0 : -1.0;
  V2 poly[kMaxClipVertices], next[kMaxClipVertices];
  int n = 3;
  for (int i = 0; i < 3; ++i) poly[i] = {a.x[i], a.y[i]};
  for (int e = 0; e < 3 && n > 0; ++e) {
    const int f = (e + 1) % 3;
    const double ex = double(b.x[f]) - b.x[e], ey = double(b.y[f]) - b.y[e];
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const V2 p = poly[i], q = poly[(i + 1) % n];
      const double fp = sgn * cross(ex, ey, p.x - b.x[e], p.y - b.y[e]);
      const double fq = sgn * cross(ex, ey, q.x - b.x[e], q.y - b.y[e]);
      if (fp >= 0 && m < kMaxClipVertices) next[m++] = p;
      if ((fp >= 0) != (fq >= 0) && m < kMaxClipVertices) {
        const double s = fp / (fp - fq);
        next[m++] = {p.x + (q.x - p.x) * s, p.y + (q.y - p.y) * s};
      }
    }
    n = m;
    for (int i = 0; i < n; ++i) poly[i] = next[i];
  }
  if (n < 3) return 0.0;
  double sum = 0.0, sx = 0.0, sy = 0.0;
  for (int i = 0; i < n; ++i) {
    const V2 p = poly[i], q = poly[(i + 1) % n];
    sum += cross(p.x, p.y, q.x, q.y);
    sx += p.x, sy += p.y;
  }
  *mx = sx / n, *my = sy / n;
  return 0.5 * std::fabs(sum);
}

double plane_value(const ScenePlane& pl, double x, double y, double z) { return pl.a * x + pl.b * y + pl.c * z + pl.d; }

// A value between a and b in single precision; kept between them so that
// rounding never carries it out of the float range.
float between(float a, float b, double t) {
  const double v = a + (double(b) - a) * t;
  return float(std::clamp(v, double(std::min(a, b)), double(std::max(a, b))));
}

// The point where a -> b meets the plane, by the plane parameter.
void lerp_vertex(const ScenePrim& p, int i, int j, double t, float* x, float* y, float* z) {
  *x = between(p.x[i], p.x[j], t);
  *y = between(p.y[i], p.y[j], t);
  *z = between(p.z[i], p.z[j], t);
}

double edge_param(const ScenePlane& pl, const ScenePrim& p, int i, int j) {
  const double num = plane_value(pl, p.x[i], p.y[i], p.z[i]);
  const double den = pl.a * (double(p.x[i]) - p.x[j]) + pl.b * (double(p.y[i]) - p.y[j]) +
                     pl.c * (double(p.z[i]) - p.z[j]);
  return num / den;
}

struct Corner {
  float x, y, z;
};

Corner corner(const ScenePrim& p, int i) { return {p.x[i], p.y[i], p.z[i]}; }

ScenePrim piece(const ScenePrim& from, Corner a, Corner b, Corner c, int32_t e0, int32_t e1, int32_t e2) {
  ScenePrim t = from;
  t.x[0] = a.x, t.y[0] = a.y, t.z[0] = a.z;
  t.x[1] = b.x, t.y[1] = b.y, t.z[1] = b.z;
  t.x[2] = c.x, t.y[2] = c.y, t.z[2] = c.z;
  t.edge[0] = e0, t.edge[1] = e1, t.edge[2] = e2;
  t.moved = 0;
  return t;
}

// The cut line from a to b matters when enough of it lies over `by`.
bool cut_matters(const ScenePrim& by, const Corner& a, const Corner& b) {
  double mx, my;
  const double len2 = inside_length2(by, a.x, a.y, b.x, b.y, &mx, &my);
  return len2 > kSegmentInsideShare * 0.5 * std::fabs(area2(by));
}

}  // namespace

void scene_prim_box(ScenePrim* p) {
  float x0 = p->x[0], x1 = p->x[0], y0 = p->y[0], y1 = p->y[0];
  for (int i = 1; i < p->vertexCount; ++i) {
    x0 = std::min(x0, p->x[i]), x1 = std::max(x1, p->x[i]);
    y0 = std::min(y0, p->y[i]), y1 = std::max(y1, p->y[i]);
  }
  p->box[0] = x0, p->box[1] = x1, p->box[2] = y0, p->box[3] = y1;
}

void scene_vertex_order(ScenePrim* p) {
  auto swap_vertices = [p](int i, int j) {
    std::swap(p->x[i], p->x[j]);
    std::swap(p->y[i], p->y[j]);
    std::swap(p->z[i], p->z[j]);
  };
  if (p->vertexCount == 2) {
    if (p->z[1] > p->z[0]) swap_vertices(0, 1);
    return;
  }
  if (p->vertexCount != 3) return;
  static constexpr int kPairs[3][2] = {{0, 1}, {1, 2}, {0, 1}};
  for (const auto& pr : kPairs) {
    const int i = pr[0], j = pr[1];
    if (p->z[j] > p->z[i]) {
      swap_vertices(i, j);
      std::swap(p->edge[(i + 1) % 3], p->edge[(j + 1) % 3]);
    }
  }
}

ScenePlane scene_plane(const ScenePrim& t) {
  const double ux = double(t.x[1]) - t.x[0], uy = double(t.y[1]) - t.y[0], uz = double(t.z[1]) - t.z[0];
  const double vx = double(t.x[2]) - t.x[0], vy = double(t.y[2]) - t.y[0], vz = double(t.z[2]) - t.z[0];
  ScenePlane pl{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx, 0.0, 0.0};
  if (pl.c < 0) pl.a = -pl.a, pl.b = -pl.b, pl.c = -pl.c;
  pl.d = -(pl.a * t.x[0] + pl.b * t.y[0] + pl.c * t.z[0]);
  pl.tol = kPlaneTolerance * (std::fabs(pl.a) + std::fabs(pl.b) + std::fabs(pl.c) + std::fabs(pl.d));
  return pl;
}

bool scene_all_in_front(const ScenePlane& pl, const ScenePrim& q) {
  for (int i = 0; i < q.vertexCount; ++i)
    if (!(plane_value(pl, q.x[i], q.y[i], q.z[i]) >= -pl.tol)) return false;
  return true;
}

bool scene_all_behind(const ScenePlane& pl, const ScenePrim& p) {
  for (int i = 0; i < p.vertexCount; ++i)
    if (!(-plane_value(pl, p.x[i], p.y[i], p.z[i]) >= -pl.tol)) return false;
  return true;
}

double scene_plane_depth(const ScenePlane& pl, double x, double y) { return -(pl.a * x + pl.b * y + pl.d) / pl.c; }

bool scene_segments_cross(const ScenePrim& p, const ScenePrim& q, double* t, double* u) {
  return cross_params(p.x[0], p.y[0], p.x[1], p.y[1], q.x[0], q.y[0], q.x[1], q.y[1], t, u);
}

bool scene_overlap(const ScenePrim& p, const ScenePrim& q, double* ox, double* oy) {
  const ScenePrim* a = &p;
  const ScenePrim* b = &q;
  if (a->vertexCount > b->vertexCount) std::swap(a, b);
  const int na = a->vertexCount, nb = b->vertexCount;
  if (na == 1) {
    if (nb != 3 || !point_in_triangle(*b, a->x[0], a->y[0])) return false;
    *ox = a->x[0], *oy = a->y[0];
    return true;
  }
  if (na == 2 && nb == 2) {
    double t, u;
    if (!scene_segments_cross(*a, *b, &t, &u)) return false;
    *ox = a->x[0] + (double(a->x[1]) - a->x[0]) * t;
    *oy = a->y[0] + (double(a->y[1]) - a->y[0]) * t;
    return true;
  }
  if (na == 2) {
    // A share of the triangle's size, or of the segment's own length when
    // that is less: the segments of a finely drawn curve are short beside
    // a surface's facets, and each must still be ordered against them.
    const double len2 = inside_length2(*b, a->x[0], a->y[0], a->x[1], a->y[1], ox, oy);
    const double dx = double(a->x[1]) - a->x[0], dy = double(a->y[1]) - a->y[0];
    return len2 > kSegmentInsideShare * std::min(0.5 * std::fabs(area2(*b)), dx * dx + dy * dy);
  }
  const double area = clip_area(*a, *b, ox, oy);
  return area > kAreaShare * 0.5 * (std::fabs(area2(*a)) + std::fabs(area2(*b)));
}

int scene_cut_segment(const ScenePrim& cut, const ScenePrim& by, bool forced, ScenePrim out[3]) {
  const ScenePlane pl = scene_plane(by);
  const double t = edge_param(pl, cut, 0, 1);
  if (!(t > kCrossLow && t < kCrossHigh)) return 0;
  float x, y, z;
  lerp_vertex(cut, 0, 1, t, &x, &y, &z);
  if (!forced && !point_in_triangle(by, x, y)) return 0;
  out[0] = cut;
  out[1] = cut;
  out[0].x[1] = x, out[0].y[1] = y, out[0].z[1] = z;
  out[1].x[0] = x, out[1].y[0] = y, out[1].z[0] = z;
  out[0].moved = out[1].moved = 0;
  return 2;
}

int scene_cut_triangle(const ScenePrim& cut, const ScenePrim& by, bool forced, ScenePrim out[3]) {
  const ScenePlane pl = scene_plane(by);
  int side[3];
  for (int i = 0; i < 3; ++i) {
    const double v = plane_value(pl, cut.x[i], cut.y[i], cut.z[i]);
    side[i] = v > pl.tol ? 1 : (v < -pl.tol ? -1 : 0);
  }
  constexpr int32_t kHidden = kSceneEdgeHidden;
  for (int k = 0; k < 3; ++k) {
    const int k1 = (k + 1) % 3, k2 = (k + 2) % 3;
    if (side[k] != 0 || side[k1] * side[k2] != -1) continue;
    // Vertex k on the plane: cut from it to the crossing on the opposite edge.
    const double t = edge_param(pl, cut, k1, k2);
    if (!(t > 0 && t < 1)) return 0;
    Corner x;
    lerp_vertex(cut, k1, k2, t, &x.x, &x.y, &x.z);
    const Corner v0 = corner(cut, k), v1 = corner(cut, k1), v2 = corner(cut, k2);
    if (!forced && !cut_matters(by, v0, x)) return kSceneCutUnneeded;
    out[0] = piece(cut, v0, v1, x, cut.edge[k], cut.edge[k1], kHidden);
    out[1] = piece(cut, v0, x, v2, kHidden, cut.edge[k1], cut.edge[k2]);
    return 2;
  }
  for (int k = 0; k < 3; ++k) {
    const int k1 = (k + 1) % 3, k2 = (k + 2) % 3;
    if (side[k] == 0 || side[k1] != -side[k] || side[k2] != -side[k]) continue;
    // The lone vertex k: one triangle on its side, two of the quadrilateral.
    const double t1 = edge_param(pl, cut, k, k1), t2 = edge_param(pl, cut, k2, k);
    if (!(t1 > 0 && t1 < 1 && t2 > 0 && t2 < 1)) return 0;
    Corner x1, x2;
    lerp_vertex(cut, k, k1, t1, &x1.x, &x1.y, &x1.z);
    lerp_vertex(cut, k2, k, t2, &x2.x, &x2.y, &x2.z);
    if (!forced && !cut_matters(by, x1, x2)) return kSceneCutUnneeded;
    const Corner v0 = corner(cut, k), v1 = corner(cut, k1), v2 = corner(cut, k2);
    out[0] = piece(cut, v0, x1, x2, cut.edge[k], kHidden, cut.edge[k2]);
    out[1] = piece(cut, x1, v1, v2, cut.edge[k], cut.edge[k1], kHidden);
    out[2] = piece(cut, x1, v2, x2, kHidden, cut.edge[k2], kHidden);
    return 3;
  }
  return 0;
}

SceneExtent scene_boxes_extent(const ScenePrim* pr, int32_t n) {
  double x0 = pr[0].box[0], x1 = pr[0].box[1], y0 = pr[0].box[2], y1 = pr[0].box[3];
  for (int32_t i = 1; i < n; ++i) {
    x0 = std::min(x0, double(pr[i].box[0])), x1 = std::max(x1, double(pr[i].box[1]));
    y0 = std::min(y0, double(pr[i].box[2])), y1 = std::max(y1, double(pr[i].box[3]));
  }
  return {x0, y0, std::max(x1 - x0, 1e-3), std::max(y1 - y0, 1e-3)};
}

void scene_square_cells(const SceneExtent& e, int64_t cells, int32_t* gx, int32_t* gy) {
  const double size = std::sqrt(e.w * e.h / double(std::max<int64_t>(1, cells)));
  auto along = [size](double extent) {
    const double k = extent / size;
    return k >= 1.0 ? int32_t(std::min(k, double(kSceneMaxCellsAlong))) : 1;  // NaN too gives 1
  };
  *gx = along(e.w);
  *gy = along(e.h);
}
