// Line drawings of the interpreter: polylines split into finite runs with
// their arrowheads, lines clipped to the visible ranges, circles and
// ellipses, bars reflected at the frame, multi-part polylines and the line
// where two planes meet. Every count is checked against the record first.
#include <algorithm>
#include <cmath>

#include "graphics/render/render_internal.h"

namespace {

constexpr uint32_t kScaleLogXBits = 9;     // logarithmic or dB x
constexpr uint32_t kScaleLogYBits = 0x12;  // logarithmic or dB y
constexpr uint32_t kScaleNonLinear = 3;
constexpr uint32_t kBarsHorizontal = 1;
constexpr uint32_t kBarsBases = 2;
constexpr int32_t kMaxCount = 1 << 28;  // beyond any list that fits an int32 index

void clamp_point(const RenderState* st, double* x, double* y) {
  const double c = st->clamp;
  if (std::fabs(*x) > c) {
    const double f = c / (std::fabs(*x) + std::fabs(*y));
    *x *= f;
    *y *= f;
  } else if (std::fabs(*y) > c) {
    *y = *y < 0 ? -c : c;
  }
}

// The arrowhead at P coming from Q.
void arrowhead(const RenderState* st, double px, double py, double qx, double qy, const StyleSpec& style) {
  const double a = px - qx, b = py - qy;
  const double len = std::sqrt(a * a + b * b);
  if (!(len > 0.0) || !std::isfinite(len)) return;
  const double s = st->arrow_size / len;
  const double x[3] = {px + (-2 * a - b) * s, px, px + (b - 2 * a) * s};
  const double y[3] = {py + (a - 2 * b) * s, py, py + (-a - 2 * b) * s};
  st->drv->draw_polyline(x, y, 3, &style, st->ctx);
}

// A 2-D curve goes to the driver run by run (a run: consecutive finite
// points), converted a slice at a time, so that a curve of any length is
// drawn in bounded memory. A run that outgrows the buffer is handed over in
// pieces, each starting at the point the one before ended with, so solid
// lines join exactly; a curve whose runs fit the buffer makes the same
// driver calls as one conversion of the whole curve would. The buffer holds
// the whole curve up to kRunPoints points; when the room cannot give that
// much, the slice buffer still draws the curve whole.
constexpr int32_t kSlicePoints = 512;
constexpr int64_t kRunPoints = int64_t(1) << 21;

struct RunBuffer {
  double* x;
  double* y;
  int32_t capacity;
  int32_t length;
};

void flush_run(RenderState* st, RunBuffer* run, const StyleSpec& style, bool carry_on) {
  if (run->length == 0) return;
  st->drv->draw_polyline(run->x, run->y, run->length, &style, st->ctx);
  if (carry_on) {
    run->x[0] = run->x[run->length - 1];
    run->y[0] = run->y[run->length - 1];
    run->length = 1;
  } else {
    run->length = 0;
  }
}

// The pixels of points first .. first + n - 1 of a curve, into sx, sy:
// NaN where a point has none.
struct CurvePixels {
  const double* x;
  const double* y;
  const double* z;  // a 3-D curve's heights (null: the plane z = 0); unused in 2-D
  double carry[2];  // a log axis repeats the pixel before a non-positive value
};

void curve_slice(RenderState* st, CurvePixels* c, int32_t first, int32_t n, double* sx, double* sy) {
  if (!st->is3d) {
    subplot_data_to_pixel_slice(st->s, c->x, c->y, first, n, sx, sy, c->carry);
    for (int32_t i = 0; i < n; ++i)
      if (render_finite(sx[i], sy[i])) clamp_point(st, &sx[i], &sy[i]);
    return;
  }
  // A 3-D curve takes the pixels its segments would have in the scene
  // (single precision), so that it looks the same drawn either way.
  subplot_data_to_pixel(st->s, c->x + first, c->y + first, c->z ? c->z + first : nullptr, n, sx, sy, nullptr);
  for (int32_t i = 0; i < n; ++i) sx[i] = double(render_narrow(sx[i])), sy[i] = double(render_narrow(sy[i]));
}

void draw_runs(RenderState* st, CurvePixels* c, int32_t m, const StyleSpec& style) {
  double sx[kSlicePoints], sy[kSlicePoints];
  double own_x[kSlicePoints], own_y[kSlicePoints];
  RunBuffer run{own_x, own_y, kSlicePoints, 0};
  const int32_t want = int32_t(std::min<int64_t>(m, kRunPoints));
  if (want > kSlicePoints) {
    if (double* buffer = draw_room_offer_doubles(st->room, 2 * int64_t(want)))
      run = RunBuffer{buffer, buffer + want, want, 0};
  }
  for (int32_t first = 0; first < m; first += kSlicePoints) {
    const int32_t n = std::min(kSlicePoints, m - first);
    curve_slice(st, c, first, n, sx, sy);
    for (int32_t i = 0; i < n; ++i) {
      if (!render_finite(sx[i], sy[i])) {
        flush_run(st, &run, style, false);
        continue;
      }
      if (run.length == run.capacity) flush_run(st, &run, style, true);
      run.x[run.length] = sx[i];
      run.y[run.length] = sy[i];
      ++run.length;
    }
  }
  flush_run(st, &run, style, false);
}

// Pixels of points i and j of a 2-D curve, clamped; false when either is
// not finite.
bool end_pair(RenderState* st, const double* x, const double* y, int32_t i, int32_t j, double p[4]) {
  double carry[2] = {0.0, 0.0};
  double px[2], py[2];
  const int32_t at[2] = {i, j};
  for (int k = 0; k < 2; ++k) {
    // The pixel of a non-positive value on a log axis comes from the points
    // before it, so the conversion runs from the curve's start when needed.
    const int32_t from = st->s->scaleFlags & (kScaleXLog | kScaleYLog) ? 0 : at[k];
    for (int32_t f = from; f <= at[k]; f += kSlicePoints) {
      double sx[kSlicePoints], sy[kSlicePoints];
      const int32_t n = std::min(kSlicePoints, at[k] + 1 - f);
      subplot_data_to_pixel_slice(st->s, x, y, f, n, sx, sy, carry);
      px[k] = sx[n - 1], py[k] = sy[n - 1];
    }
    if (!render_finite(px[k], py[k])) return false;
    clamp_point(st, &px[k], &py[k]);
  }
  p[0] = px[0], p[1] = py[0], p[2] = px[1], p[3] = py[1];
  return true;
}

// The two ends of a line a*x + b*y = c across the visible ranges.
bool line_ends(const RenderState* st, double a, double b, double c, double x[2], double y[2], bool* steep) {
  const Subplot* s = st->s;
  *steep = std::fabs(b) <= std::fabs(a);
  if (*steep) {
    subplot_visible_yrange(s, &y[0], &y[1]);
    x[0] = (c - y[0] * b) / a;
    x[1] = (c - y[1] * b) / a;
  } else {
    subplot_visible_xrange(s, &x[0], &x[1]);
    y[0] = (c - x[0] * a) / b;
    y[1] = (c - x[1] * a) / b;
  }
  for (int i = 0; i < 2; ++i) {
    if ((s->scaleFlags & kScaleLogXBits) && !(x[i] > 0)) return false;
    if ((s->scaleFlags & kScaleLogYBits) && !(y[i] > 0)) return false;
  }
  return true;
}

}  // namespace

void render_polyline(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  const int32_t planes = rec.code_int == kCodePolyline3 ? 3 : 2;
  int32_t m;
  if (!record_count(rec, 0, (rec.n - 1) / planes, &m) || m == 0) return;
  if (st->is3d) return render_polyline3(st, rec, style);
  if (!st->drv->draw_polyline) return;
  const double* x = rec.data + 1;
  const double* y = x + m;
  CurvePixels c{x, y, nullptr, {0.0, 0.0}};
  draw_runs(st, &c, m, style);
  if (m < 2) return;
  double p[4];
  if ((style.bits & kStyleBitArrowFirst) && end_pair(st, x, y, 0, 1, p)) arrowhead(st, p[0], p[1], p[2], p[3], style);
  if ((style.bits & kStyleBitArrowLast) && end_pair(st, x, y, m - 1, m - 2, p))
    arrowhead(st, p[0], p[1], p[2], p[3], style);
}

void render_curve3(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  const bool with_z = rec.code_int == kCodePolyline3;
  int32_t m;
  if (!st->drv->draw_polyline || !record_count(rec, 0, (rec.n - 1) / (with_z ? 3 : 2), &m) || m == 0) return;
  const double* x = rec.data + 1;
  CurvePixels c{x, x + m, with_z ? x + 2 * int64_t(m) : nullptr, {0.0, 0.0}};
  draw_runs(st, &c, m, style);
}

void render_clipped_line(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  if (rec.n < 3 || !st->drv->draw_polyline) return;
  const double a = rec.data[0], b = rec.data[1], c = rec.data[2];
  double x[2], y[2];
  bool steep;
  if (!line_ends(st, a, b, c, x, y, &steep)) return;
  double px[4], py[4];
  subplot_data_to_pixel(st->s, x, y, nullptr, 2, px, py, nullptr);
  if (!render_finite(px[0], py[0]) || !render_finite(px[1], py[1])) return;
  int32_t n = 2;
  if (style.bits & kStyleBitFill) {
    const Subplot* s = st->s;
    if (steep) {
      const double edge = a > 0 ? s->frameLeft : s->frameRight;
      px[2] = px[3] = edge;
      py[2] = py[1];
      py[3] = py[0];
    } else {
      const double edge = b > 0 ? s->frameBottom : s->frameTop;
      py[2] = py[3] = edge;
      px[2] = px[1];
      px[3] = px[0];
    }
    n = 4;
  }
  st->drv->draw_polyline(px, py, n, &style, st->ctx);
}

void render_ellipses(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  const bool circles = rec.code_int == kCodeCircles;
  const int32_t planes = circles ? 3 : 4;
  int32_t m;
  if ((st->s->scaleFlags & kScaleNonLinear) || !st->drv->draw_ellipse) return;
  if (!record_count(rec, 0, (rec.n - 1) / planes, &m)) return;
  const double* x = rec.data + 1;
  const double* y = x + m;
  const double* rx = y + m;
  const double* ry = circles ? rx : rx + m;
  double* px = render_points(st, int64_t(4) * m);
  if (!px) return;
  double* py = px + m;
  double* prx = py + m;
  double* pry = prx + m;
  subplot_data_to_pixel(st->s, x, y, nullptr, m, px, py, nullptr);
  subplot_data_to_pixel_extent(st->s, rx, ry, nullptr, m, prx, pry);
  for (int32_t i = 0; i < m; ++i) {
    if (!render_finite(px[i], py[i]) || !render_finite(prx[i], pry[i])) continue;
    st->drv->draw_ellipse(px[i], py[i], std::fabs(prx[i]), std::fabs(pry[i]), &style, st->ctx);
  }
}

void render_bars(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  if (rec.n < 3 || !st->drv->draw_polyline) return;
  const double fl = rec.data[0];
  const uint32_t flags = fl >= 0 && fl < 4.0 ? uint32_t(fl) : 0;
  const double w = rec.data[1];
  const int32_t planes = (flags & kBarsBases) ? 3 : 2;
  int32_t m;
  if (!record_count(rec, 2, (rec.n - 3) / planes, &m)) return;
  const double* pos = rec.data + 3;
  const double* val = pos + m;
  const double* base = (flags & kBarsBases) ? val + m : nullptr;
  const Subplot* s = st->s;
  const double left = s->frameLeft, right = s->frameRight;
  const double top = std::fmin(s->frameTop, s->frameBottom), bottom = std::fmax(s->frameTop, s->frameBottom);
  for (int32_t i = 0; i < m; ++i) {
    const double b0 = base ? base[i] : 0.0;
    const double p0 = pos[i] - w / 2, p1 = pos[i] + w / 2;
    double x[5], y[5];
    if (flags & kBarsHorizontal) {
      const double xs[5] = {b0, val[i], val[i], b0, b0}, ys[5] = {p0, p0, p1, p1, p0};
      for (int k = 0; k < 5; ++k) x[k] = xs[k], y[k] = ys[k];
    } else {
      const double xs[5] = {p0, p1, p1, p0, p0}, ys[5] = {b0, b0, val[i], val[i], b0};
      for (int k = 0; k < 5; ++k) x[k] = xs[k], y[k] = ys[k];
    }
    double px[5], py[5];
    subplot_data_to_pixel(s, x, y, nullptr, 5, px, py, nullptr);
    bool ok = true;
    for (int k = 0; k < 5; ++k) ok = ok && !std::isnan(px[k]) && !std::isnan(py[k]);
    if (!ok) continue;
    for (int k = 0; k < 5; ++k) {
      if (px[k] < left) px[k] = 2 * left - right;
      else if (px[k] > right) px[k] = 2 * right - left;
      if (py[k] < top) py[k] = 2 * top - bottom;
      else if (py[k] > bottom) py[k] = 2 * bottom - top;
    }
    st->drv->draw_polyline(px, py, 5, &style, st->ctx);
  }
}

void render_multi_polyline(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  if (!st->drv->draw_polyline) return;
  int32_t at = 0;
  while (at < rec.n) {
    const double count = rec.data[at];
    if (count < 0) return;  // the end mark
    int32_t m;
    if (!double_to_count(count, (rec.n - at - 1) / 2, &m)) return;  // does not add up
    double* px = render_points(st, int64_t(2) * m);
    if (!px) return;
    const double* x = rec.data + at + 1;
    subplot_data_to_pixel(st->s, x, x + m, nullptr, m, px, px + m, nullptr);
    if (m > 0) st->drv->draw_polyline(px, px + m, m, &style, st->ctx);
    at += 1 + 2 * m;
  }
}

bool render_line3_ends(const RenderState* st, const PlotRecord& rec, double x[2], double y[2], double z[2]) {
  if (rec.n < 8) return false;
  const double* p = rec.data;
  const double n1[3] = {p[0], p[1], p[2]}, n2[3] = {p[4], p[5], p[6]};
  const double d1 = p[3], d2 = p[7];
  const double dir[3] = {n1[1] * n2[2] - n1[2] * n2[1], n1[2] * n2[0] - n1[0] * n2[2], n1[0] * n2[1] - n1[1] * n2[0]};
  // Ties go to the later axis: z before y before x.
  int k = 0;
  for (int i = 1; i < 3; ++i)
    if (std::fabs(dir[i]) >= std::fabs(dir[k])) k = i;
  if (!(std::fabs(dir[k]) > 0)) return false;  // parallel or missing planes: no line
  const Subplot* s = st->s;
  const double lo[3] = {s->xMin, s->yMin, s->zMin}, hi[3] = {s->xMax, s->yMax, s->zMax};
  const int u = (k + 1) % 3, v = (k + 2) % 3;  // dir[k] = n1[u]*n2[v] - n1[v]*n2[u]
  for (int e = 0; e < 2; ++e) {
    double pt[3];
    const double t = e == 0 ? lo[k] : hi[k];
    const double r1 = d1 - n1[k] * t, r2 = d2 - n2[k] * t;
    pt[k] = t;
    pt[u] = (r1 * n2[v] - r2 * n1[v]) / dir[k];
    pt[v] = (n1[u] * r2 - n2[u] * r1) / dir[k];
    x[e] = pt[0], y[e] = pt[1], z[e] = pt[2];
  }
  return true;
}

void render_line3(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  if (st->is3d) return render_line3_to_scene(st, rec);
  double x[2], y[2], z[2];
  if (!st->drv->draw_polyline || !render_line3_ends(st, rec, x, y, z)) return;
  double px[2], py[2];
  subplot_data_to_pixel(st->s, x, y, nullptr, 2, px, py, nullptr);
  if (!render_finite(px[0], py[0]) || !render_finite(px[1], py[1])) return;
  st->drv->draw_polyline(px, py, 2, &style, st->ctx);
}
