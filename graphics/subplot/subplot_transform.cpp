// The 2-D map between data and pixels of a subplot and the conversions
// through it (and through the 3-D view matrix): pixel = value * scale +
// offset, ln(value) on a log axis. Nothing here fails; degenerate limits give
// the documented fallback scales.
#include <cmath>

#include "graphics/subplot/subplot.h"

namespace {

constexpr double kFineGuard = 1e-6, kCoarseGuard = 1e-24;
constexpr double kEmptyScale = 1e-9;
constexpr double kZeroScale = 1e-30;
constexpr double kHugeScale = 1e6;
constexpr double kLogSpread = 1.000001;
constexpr double kVisibleScaleLimit = 1e9;
constexpr double kAspectRoundAbove = 5.0;
constexpr double kAspectSnap = 0.05;
constexpr double kNiceAspects[] = {1, 1.2, 1.25, 4.0 / 3, 1.5, 5.0 / 3, 1.75, 2, 2.25, 2.5, 3, 3.5, 4, 4.5};

bool log_x(const Subplot* s) { return (s->scaleFlags & kScaleXLog) != 0; }
bool log_y(const Subplot* s) { return (s->scaleFlags & kScaleYLog) != 0; }

// One axis of the 2-D map: lo..hi of the data onto the frame from `near` to
// `far`, less m/2 of the frame on each side.
void axis_map(double vmin, double vmax, bool logarithmic, double guard, double m, double near, double far,
              double* offset, double* scale) {
  const double extent = far - near;
  if (logarithmic) {
    const double lo = vmax * guard <= vmin ? vmin : std::fmax(vmin, vmax * guard);
    const double hi = std::fmax(lo * kLogSpread, vmax);
    *scale = extent * (1 - m) / std::log(hi / lo);
    *offset = (1 - m / 2) * near + (m / 2) * far - std::log(lo) * *scale;
    return;
  }
  const double hi = std::fmax(vmax, vmin + guard);
  const double sc = extent * (1 - m) / (hi - vmin);
  if (sc + 1 != sc) {
    *scale = sc;
    *offset = (1 - m / 2) * near + (m / 2) * far - sc * vmin;
  } else {
    *scale = kHugeScale;
    *offset = 0.0;
  }
}

double project(const Subplot*, double v, bool logarithmic) { return logarithmic ? std::log(v) : v; }

}  // namespace

void subplot_compute_transform(Subplot* s, uint8_t fine, double margin) {
  if (s->xMax < s->xMin) {
    // A subplot without content keeps its flowed text's scroll offset in
    // yOffset: a layout must not scroll the text back to the top.
    s->xOffset = 0.0, s->xScale = kEmptyScale, s->yScale = kEmptyScale;
    if (s->hasContent) s->yOffset = 0.0;
    return;
  }
  if (s->is3D && s->zMode < kAxisLocked) {
    s->hasContent = 1;
    subplot_update_transform(s);
    return;
  }
  const double guard = fine == 1 ? kFineGuard : kCoarseGuard;
  if (s->xMode < kAxisLocked)
    axis_map(s->xMin, s->xMax, log_x(s), guard, margin, s->frameLeft, s->frameRight, &s->xOffset, &s->xScale);
  if (s->yMode < kAxisLocked)
    axis_map(s->yMin, s->yMax, log_y(s), guard, margin, s->frameBottom, s->frameTop, &s->yOffset, &s->yScale);
  if (s->xScale == 0.0) s->xScale = kZeroScale;
  if (s->yScale == 0.0) s->yScale = kZeroScale;
  s->hasContent = 1;
  subplot_limits_hook(s);
  if (s->scaleFlags & kScaleEqualAspect) subplot_fit_aspect(s);
}

void subplot_fit_aspect(Subplot* s) {
  if (s->xMode == kAxisLocked || s->yMode == kAxisLocked) return;
  if (std::fabs(s->xScale) > std::fabs(s->yScale)) {
    const double old = s->xScale;
    const double now = old <= 0 ? -std::fabs(s->yScale) : std::fabs(s->yScale);
    const double cx = (s->frameLeft + s->frameRight) / 2;
    s->xOffset = cx - (cx - s->xOffset) * now / old;
    s->xScale = now;
  } else {
    const double old = s->yScale;
    const double now = old <= 0 ? -std::fabs(s->xScale) : std::fabs(s->xScale);
    const double cy = (s->frameTop + s->frameBottom) / 2;
    s->yOffset = cy - (cy - s->yOffset) * now / old;
    s->yScale = now;
  }
}

namespace {

// A loop whose iterations are independent: vectorised without the
// compiler's runtime checks for overlapping arrays.
#if defined(__clang__)
#define TN_INDEPENDENT_ITERATIONS _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define TN_INDEPENDENT_ITERATIONS _Pragma("GCC ivdep")
#else
#define TN_INDEPENDENT_ITERATIONS
#endif

// The 3-D transform as values, which the loops below keep in registers:
// read through the subplot, a store through px could change them as far as
// the compiler knows (-fno-strict-aliasing), and every point would reload
// them.
struct Terms {
  double m[3][4];
  double ax, ay, az, xs, xo, ys, yo;
};

Terms terms_of(const Subplot* s) {
  Terms t;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) t.m[r][c] = s->viewMatrix[r][c];
  t.ax = s->invAspect[0], t.ay = s->invAspect[1], t.az = s->invAspect[2];
  t.xs = s->xScale, t.xo = s->xOffset, t.ys = s->yScale, t.yo = s->yOffset;
  return t;
}

// Parallel projection, the default view: w is the same for every point and
// the loop has no branch, so the compiler vectorises it. Point i reads x,
// y, z at i and writes the outputs at i only: no point depends on another,
// even where depth is z. With w a power of two (-1 in every parallel view)
// dividing by it and multiplying by its reciprocal round the same value,
// and the divider does not keep pace with the multipliers.
template <bool kWithZ, bool kWithDepth, bool kByReciprocal>
void ortho_points(const Terms t, const double* x, const double* y, const double* z, int32_t n, double* px,
                  double* py, double* depth) {
  const auto& m = t.m;
  const double w = m[2][3], v = 1 / w, z0 = 0.0 * t.az;
  TN_INDEPENDENT_ITERATIONS
  for (int32_t i = 0; i < n; ++i) {
    const double p0 = x[i] * t.ax, p1 = y[i] * t.ay, p2 = kWithZ ? z[i] * t.az : z0;
    const double rx = m[0][0] * p0 + m[0][1] * p1 + m[0][2] * p2 + m[0][3];
    const double ry = m[1][0] * p0 + m[1][1] * p1 + m[1][2] * p2 + m[1][3];
    px[i] = t.xo - (kByReciprocal ? rx * t.xs * v : rx * t.xs / w);
    py[i] = t.yo - (kByReciprocal ? ry * t.ys * v : ry * t.ys / w);
    if (kWithDepth) depth[i] = m[2][0] * p0 + m[2][1] * p1 + m[2][2] * p2 + m[2][3];
  }
}

template <bool kByReciprocal>
void ortho_dispatch(const Terms& t, const double* x, const double* y, const double* z, int32_t n, double* px,
                  double* py, double* depth) {
  if (z && depth) ortho_points<true, true, kByReciprocal>(t, x, y, z, n, px, py, depth);
  else if (z) ortho_points<true, false, kByReciprocal>(t, x, y, z, n, px, py, depth);
  else ortho_points<false, false, kByReciprocal>(t, x, y, z, n, px, py, depth);
}

}  // namespace

void subplot_data_to_pixel(const Subplot* s, const double* x, const double* y, const double* z, int32_t n,
                           double* px, double* py, double* depth) {
  if (!s->is3D) {
    const bool lx = log_x(s), ly = log_y(s);
    double prev_x = 0.0, prev_y = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      if (px && x) {
        // A non-positive value after the first repeats the previous pixel.
        prev_x = (!lx || x[i] > 0 || i == 0) ? project(s, x[i], lx) * s->xScale + s->xOffset : prev_x;
        px[i] = prev_x;
      }
      if (py && y) {
        prev_y = (!ly || y[i] > 0 || i == 0) ? project(s, y[i], ly) * s->yScale + s->yOffset : prev_y;
        py[i] = prev_y;
      }
      if (depth) depth[i] = 0.0;
    }
    return;
  }
  const Terms t = terms_of(s);
  const auto& m = t.m;
  const bool ortho = s->orthographic != 0;
  if (ortho && px && py) {
    int e;
    if (std::fabs(std::frexp(m[2][3], &e)) == 0.5) ortho_dispatch<true>(t, x, y, z, n, px, py, depth);
    else ortho_dispatch<false>(t, x, y, z, n, px, py, depth);
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    const double p0 = x[i] * t.ax, p1 = y[i] * t.ay, p2 = (z ? z[i] : 0.0) * t.az;
    double w = m[2][0] * p0 + m[2][1] * p1 + m[2][2] * p2 + m[2][3];
    const double depth_w = w;
    if (!ortho && w >= 0) {
      if (px) px[i] = NAN;
      if (py) py[i] = NAN;
      if (z && depth) depth[i] = NAN;
      continue;
    }
    if (ortho) w = m[2][3];
    const double rx = m[0][0] * p0 + m[0][1] * p1 + m[0][2] * p2 + m[0][3];
    const double ry = m[1][0] * p0 + m[1][1] * p1 + m[1][2] * p2 + m[1][3];
    if (px) px[i] = t.xo - rx * t.xs / w;
    if (py) py[i] = t.yo - ry * t.ys / w;
    if (z && depth) depth[i] = depth_w;
  }
}

void subplot_data_to_pixel_slice(const Subplot* s, const double* x, const double* y, int32_t first, int32_t n,
                                 double* px, double* py, double carry[2]) {
  if (n <= 0) return;
  x += first, y += first;
  const double xs = s->xScale, xo = s->xOffset, ys = s->yScale, yo = s->yOffset;
  const bool lx = log_x(s), ly = log_y(s);
  if (!lx && !ly) {
    // The common case, written so that the compiler vectorises it.
    for (int32_t i = 0; i < n; ++i) px[i] = x[i] * xs + xo;
    for (int32_t i = 0; i < n; ++i) py[i] = y[i] * ys + yo;
  } else {
    double prev_x = carry[0], prev_y = carry[1];
    for (int32_t i = 0; i < n; ++i) {
      const bool start = first == 0 && i == 0;
      px[i] = prev_x = (!lx || x[i] > 0 || start) ? project(s, x[i], lx) * xs + xo : prev_x;
      py[i] = prev_y = (!ly || y[i] > 0 || start) ? project(s, y[i], ly) * ys + yo : prev_y;
    }
  }
  carry[0] = px[n - 1];
  carry[1] = py[n - 1];
}

void subplot_data_to_pixel_extent(const Subplot* s, const double* x, const double* y, const double* z,
                                  int32_t n, double* px, double* py) {
  if (!s->is3D) {
    for (int32_t i = 0; i < n; ++i) {
      if (px && x) px[i] = project(s, x[i], log_x(s)) * s->xScale;
      if (py && y) py[i] = project(s, y[i], log_y(s)) * s->yScale;
    }
    return;
  }
  if (!x || !y || !z) return;
  const auto& m = s->viewMatrix;
  for (int32_t i = 0; i < n; ++i) {
    const double p[3] = {x[i] * s->invAspect[0], y[i] * s->invAspect[1], z[i] * s->invAspect[2]};
    const double w = s->orthographic ? m[2][3] : m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2] + m[2][3];
    const double rx = m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2];
    const double ry = m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2];
    if (px) px[i] = rx * s->xScale / w;
    if (py) py[i] = ry * s->yScale / w;
  }
}

void subplot_pixel_to_point(const Subplot* s, double px, double py, double* x, double* y) {
  if (x) {
    const double v = (px - s->xOffset) / s->xScale;
    *x = log_x(s) ? std::exp(v) : v;
  }
  if (y) {
    const double v = (py - s->yOffset) / s->yScale;
    *y = log_y(s) ? std::exp(v) : v;
  }
}

void subplot_pixel_delta_to_data(const Subplot* s, double dpx, double dpy, double* dx, double* dy) {
  if (dx) {
    const double v = dpx / s->xScale;
    *dx = log_x(s) ? std::exp(-v) : v;
  }
  if (dy) {
    const double v = dpy / s->yScale;
    *dy = log_y(s) ? std::exp(-v) : v;
  }
}

void subplot_visible_xrange(const Subplot* s, double* lo, double* hi) {
  double a = s->xMin, b = s->xMax;
  if (std::fabs(s->xScale) <= kVisibleScaleLimit) {
    subplot_pixel_to_point(s, s->frameLeft, 0.0, &a, nullptr);
    subplot_pixel_to_point(s, s->frameRight, 0.0, &b, nullptr);
    if (std::isnan(a)) a = s->xMin;
    if (std::isnan(b)) b = s->xMax;
  }
  if (lo) *lo = a;
  if (hi) *hi = b;
}

void subplot_visible_yrange(const Subplot* s, double* lo, double* hi) {
  double a = s->yMin, b = s->yMax;
  if (std::fabs(s->yScale) <= kVisibleScaleLimit) {
    subplot_pixel_to_point(s, 0.0, s->frameBottom, nullptr, &a);
    subplot_pixel_to_point(s, 0.0, s->frameTop, nullptr, &b);
    if (std::isnan(a)) a = s->yMin;
    if (std::isnan(b)) b = s->yMax;
  }
  if (lo) *lo = a;
  if (hi) *hi = b;
}

void subplot_line_to_pixel(const Subplot* s, double a, double b, double c, double* a2, double* b2, double* c2) {
  double ra, rb, rc;
  if (a == 0) {
    ra = 0, rb = 1, rc = project(s, c / b, log_y(s)) * s->yScale + s->yOffset;
  } else if (b == 0) {
    ra = 1, rb = 0, rc = project(s, c / a, log_x(s)) * s->xScale + s->xOffset;
  } else {
    ra = a / s->xScale, rb = b / s->yScale, rc = c + ra * s->xOffset + rb * s->yOffset;
  }
  if (a2) *a2 = ra;
  if (b2) *b2 = rb;
  if (c2) *c2 = rc;
}

void subplot_get_visible_ranges(const Subplot* s, double* xlo, double* xhi, double* ylo, double* yhi) {
  if (xlo && xhi) {
    *xlo = *xhi = 0.0;
    if (s->xMode == kAxisLocked) subplot_visible_xrange(s, xlo, xhi);
  }
  if (ylo && yhi) {
    *ylo = *yhi = 0.0;
    if (s->yMode == kAxisLocked) subplot_visible_yrange(s, ylo, yhi);
  }
}

double aspect_round(double value) {
  if (value >= kAspectRoundAbove) return std::floor(value + 0.5);
  for (double nice : kNiceAspects)
    if (std::fabs(value - nice) <= kAspectSnap) return nice;
  return value;
}
