// Zoom and drag of a subplot's 2-D limits. Zooming is bounded by references
// taken from the range the first zoom sees (1/20 to 20 times it); a zoom
// ends with the limits mapped onto the frame without margin and locked, so
// that auto-scaling leaves the zoomed view alone.
#include <cmath>
#include <utility>

#include "graphics/subplot/subplot_view.h"

namespace {

constexpr double kZoomInSlack = 0.99, kZoomOutSlack = 1.01;
constexpr double kLargeDragFraction = 50.0;  // a drag of 1/50 of the frame or more is a rectangle
constexpr double kZoomOutFactor = 0.5, kZoomInFactor = 2.0;

bool log_x(const Subplot* s) { return (s->scaleFlags & kScaleXLog) != 0; }
bool log_y(const Subplot* s) { return (s->scaleFlags & kScaleYLog) != 0; }

// The range of an axis: its limits, or what the frame shows when they are
// equal (or not numbers).
double x_range(const Subplot* s) {
  if (s->xMin != s->xMax && !std::isnan(s->xMin) && !std::isnan(s->xMax)) return s->xMax - s->xMin;
  double a = 0, b = 0;
  subplot_pixel_to_point(s, s->frameLeft, 0.0, &a, nullptr);
  subplot_pixel_to_point(s, s->frameRight, 0.0, &b, nullptr);
  return std::fabs(b - a);
}
double y_range(const Subplot* s) {
  if (s->yMin != s->yMax && !std::isnan(s->yMin) && !std::isnan(s->yMax)) return s->yMax - s->yMin;
  double a = 0, b = 0;
  subplot_pixel_to_point(s, 0.0, s->frameTop, nullptr, &a);
  subplot_pixel_to_point(s, 0.0, s->frameBottom, nullptr, &b);
  return std::fabs(b - a);
}

void take_reference(int32_t mode, double range, uint8_t* set, double* lo, double* hi) {
  if (*set || mode <= 0) return;
  *hi = kZoomOutLimit * range;
  *lo = kZoomInLimit * range;
  *set = 1;
}

// Whether one more step stays within an axis's references.
bool within(uint8_t set, double range, double lo, double hi, uint8_t zoom_in) {
  if (!set) return true;
  return zoom_in ? kZoomInSlack * range > lo : kZoomOutSlack * range < hi;
}

// The limits of the zoomed view mapped onto the whole frame, then locked.
void lock_zoomed(Subplot* s, bool y_too) {
  s->xMode = kAxisFixed;
  if (y_too) s->yMode = kAxisFixed;
  subplot_compute_transform(s, 0, 0.0);
  s->xMode = kAxisLocked;
  if (y_too) s->yMode = kAxisLocked;
}

// Halves the range [lo, hi] about c.
void halve_about(double c, bool logarithmic, double* lo, double* hi) {
  if (logarithmic) {
    *lo = std::sqrt(c * *lo);
    *hi = std::sqrt(c * *hi);
  } else {
    *lo = (c + *lo) / 2;
    *hi = (c + *hi) / 2;
  }
}

// Doubles the visible range [near, far] about p (stored limits on a log axis).
void double_about(double p, double near, double far, bool logarithmic, double* lo, double* hi) {
  if (logarithmic) {
    *lo = *lo * *lo / p;
    *hi = *hi * *hi / p;
  } else {
    *lo = 2 * near - p;
    *hi = 2 * far - p;
  }
}

void shift_axis(double d, bool logarithmic, double* lo, double* hi) {
  if (logarithmic) {
    const double f = std::exp(-d);
    *lo *= f;
    *hi *= f;
  } else {
    *lo -= d;
    *hi -= d;
  }
}

}  // namespace

bool subplot_zoom_allowed(Subplot* s, uint8_t zoom_in) {
  const double xr = x_range(s), yr = y_range(s);
  take_reference(s->xMode, xr, &s->xZoomRefSet, &s->xZoomMin, &s->xZoomMax);
  take_reference(s->yMode, yr, &s->yZoomRefSet, &s->yZoomMin, &s->yZoomMax);
  return within(s->xZoomRefSet, xr, s->xZoomMin, s->xZoomMax, zoom_in) &&
         within(s->yZoomRefSet, yr, s->yZoomMin, s->yZoomMax, zoom_in);
}

bool subplot_zoom_x_allowed(Subplot* s, uint8_t zoom_in) {
  const double xr = s->xMax - s->xMin;
  take_reference(s->xMode, xr, &s->xZoomRefSet, &s->xZoomMin, &s->xZoomMax);
  return within(s->xZoomRefSet, xr, s->xZoomMin, s->xZoomMax, zoom_in);
}

void subplot_zoom_rect(Subplot* s, double px1, double px2, double py1, double py2) {
  if (!s->hasContent || !subplot_zoom_allowed(s, 1)) return;
  const bool large = s->frameRight - s->frameLeft <= kLargeDragFraction * std::fabs(px1 - px2) &&
                     std::fabs(s->frameTop - s->frameBottom) <= kLargeDragFraction * std::fabs(py1 - py2);
  if (s->is3D) {
    if (!large) return subplot_camzoom(s, kZoomInFactor);
    s->xMode = s->yMode = s->zMode = kAxisFixed;
    subplot_compute_transform(s, 0, 0.0);
    s->xMode = s->yMode = s->zMode = kAxisLocked;
    return;
  }
  if (large) {
    subplot_pixel_to_point(s, px1, py1, &s->xMin, &s->yMin);
    subplot_pixel_to_point(s, px2, py2, &s->xMax, &s->yMax);
    if (s->xMin > s->xMax) std::swap(s->xMin, s->xMax);
    if (s->yMin > s->yMax) std::swap(s->yMin, s->yMax);
  } else {
    double cx = 0, cy = 0;
    subplot_pixel_to_point(s, (px1 + px2) / 2, (py1 + py2) / 2, &cx, &cy);
    halve_about(cx, log_x(s), &s->xMin, &s->xMax);
    halve_about(cy, log_y(s), &s->yMin, &s->yMax);
  }
  lock_zoomed(s, true);
}

void subplot_zoom_x_span(Subplot* s, double px1, double px2) {
  if (!s->hasContent || !subplot_zoom_x_allowed(s, 1)) return;
  if (s->frameRight - s->frameLeft <= kLargeDragFraction * std::fabs(px1 - px2)) {
    subplot_pixel_to_point(s, px1, 0.0, &s->xMin, nullptr);
    subplot_pixel_to_point(s, px2, 0.0, &s->xMax, nullptr);
    if (s->xMin > s->xMax) std::swap(s->xMin, s->xMax);
  } else {
    double c = 0;
    subplot_pixel_to_point(s, (px1 + px2) / 2, 0.0, &c, nullptr);
    halve_about(c, log_x(s), &s->xMin, &s->xMax);
  }
  lock_zoomed(s, false);
}

void subplot_zoom_out_at(Subplot* s, double px, double py) {
  if (!s->hasContent || !subplot_zoom_allowed(s, 0)) return;
  if (s->is3D) return subplot_camzoom(s, kZoomOutFactor);
  double p = 0, q = 0, left = 0, right = 0, bottom = 0, top = 0;
  subplot_pixel_to_point(s, px, py, &p, &q);
  subplot_pixel_to_point(s, s->frameLeft, s->frameBottom, &left, &bottom);
  subplot_pixel_to_point(s, s->frameRight, s->frameTop, &right, &top);
  double_about(p, left, right, log_x(s), &s->xMin, &s->xMax);
  double_about(q, bottom, top, log_y(s), &s->yMin, &s->yMax);
  lock_zoomed(s, true);
}

void subplot_zoom_x_out_at(Subplot* s, double px) {
  if (!s->hasContent || !subplot_zoom_x_allowed(s, 0)) return;
  double p = 0, left = 0, right = 0;
  subplot_pixel_to_point(s, px, 0.0, &p, nullptr);
  subplot_pixel_to_point(s, s->frameLeft, 0.0, &left, nullptr);
  subplot_pixel_to_point(s, s->frameRight, 0.0, &right, nullptr);
  double_about(p, left, right, log_x(s), &s->xMin, &s->xMax);
  lock_zoomed(s, false);
}

// The view follows the pointer by moving the map's offsets: no transform is
// computed, so the limits and the drawing move together exactly.
void subplot_drag_by(Subplot* s, double dpx, double dpy) {
  if (!s->hasContent) return;
  s->xOffset += dpx;
  shift_axis(dpx / s->xScale, log_x(s), &s->xMin, &s->xMax);
  s->yOffset += dpy;
  shift_axis(dpy / s->yScale, log_y(s), &s->yMin, &s->yMax);
  s->xMode = s->yMode = kAxisLocked;
}

void subplot_drag_x_by(Subplot* s, double dpx) {
  if (!s->hasContent) return;
  // y goes on fitting the points within x's limits: once x is locked they
  // are the range it shows, as after an x zoom, and so what a stored view
  // gives back.
  if (s->xMode != kAxisLocked) subplot_visible_xrange(s, &s->xMin, &s->xMax);
  s->xOffset += dpx;
  shift_axis(dpx / s->xScale, log_x(s), &s->xMin, &s->xMax);
  s->xMode = kAxisLocked;
}
