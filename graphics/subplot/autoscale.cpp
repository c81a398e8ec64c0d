// Axis modes and limits. Widening starts from the current limits and lets
// only finite values move them, so a NaN gap in the data never turns the
// limits into NaN; empty limits (+1e30, -1e30) start an empty range.
#include "graphics/subplot/autoscale.h"

#include <cmath>
#include <initializer_list>

namespace {

constexpr double kNoMargin = 0.0;

struct Range {
  double lo, hi;
  void take(double v) {
    if (!std::isfinite(v)) return;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
};

bool within(double v, double lo, double hi) { return v >= lo && v <= hi; }

}  // namespace

void subplot_begin_autoscale(Subplot* s) {
  if (s->xMode < kAxisLocked) s->xMode = kAxisAuto, s->xMin = s->xDefMin, s->xMax = s->xDefMax;
  if (s->yMode < kAxisLocked) s->yMode = kAxisAuto, s->yMin = s->yDefMin, s->yMax = s->yDefMax;
  if (s->zMode < kAxisLocked) s->zMode = kAxisAuto, s->zMin = s->zDefMin, s->zMax = s->zDefMax;
}

void subplot_reset_for_plotting(Subplot* s, SubplotPlotRun* run) {
  *run = SubplotPlotRun{};
  run->was3d = s->is3D;
  if (s->is3D) {
    int32_t* modes[3] = {&s->xMode, &s->yMode, &s->zMode};
    const double* lo[3] = {&s->xMin, &s->yMin, &s->zMin};
    const double* hi[3] = {&s->xMax, &s->yMax, &s->zMax};
    for (int i = 0; i < 3; ++i) {
      // A marked axis (a manipulation under way) is left as it is.
      if (*modes[i] != kAxisLocked) continue;
      run->held[i] = 1, run->lo[i] = *lo[i], run->hi[i] = *hi[i];
      *modes[i] = kAxisFixed;
    }
  }
  s->is3D = 0;
  s->polar = 0;
  subplot_begin_autoscale(s);
}

void subplot_finish_plotting(Subplot* s, const SubplotPlotRun* run) {
  if (!run->was3d || !s->is3D) return;
  int32_t* modes[3] = {&s->xMode, &s->yMode, &s->zMode};
  double* lo[3] = {&s->xMin, &s->yMin, &s->zMin};
  double* hi[3] = {&s->xMax, &s->yMax, &s->zMax};
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    if (!run->held[i]) continue;
    *lo[i] = run->lo[i], *hi[i] = run->hi[i], *modes[i] = kAxisLocked;
    any = true;
  }
  if (any) subplot_update_transform(s);
}

void subplot_autoscale_to_data(Subplot* s, const double* x, const double* y, const double* z, int32_t n) {
  if (x && s->xMode < kAxisFixed) {
    Range r{s->xMin, s->xMax};
    const bool filter = y && s->yMode >= kAxisFixed;
    for (int32_t i = 0; i < n; ++i)
      if (!filter || within(y[i], s->yMin, s->yMax)) r.take(x[i]);
    s->xMin = r.lo, s->xMax = r.hi, s->xMode = kAxisAuto;
  }
  if (y && s->yMode < kAxisFixed) {
    Range r{s->yMin, s->yMax};
    const bool filter = x && s->xMode >= kAxisFixed;
    for (int32_t i = 0; i < n; ++i)
      if (!filter || within(x[i], s->xMin, s->xMax)) r.take(y[i]);
    s->yMin = r.lo, s->yMax = r.hi, s->yMode = kAxisAuto;
  }
  if (s->zMode >= kAxisFixed) {
    subplot_compute_transform(s, 1, kAutoscaleMargin);
    return;
  }
  if (z) {
    Range r{s->zMin, s->zMax};
    for (int32_t i = 0; i < n; ++i) r.take(z[i]);
    s->zMin = r.lo, s->zMax = r.hi;
  } else {
    if (s->zMin > 0) s->zMin = 0;
    if (s->zMax < 0) s->zMax = 0;
  }
  s->zMode = kAxisAuto;
  subplot_compute_transform(s, 1, kAutoscaleMargin);
}

void subplot_set_auto_limits(Subplot* s, double xmin, double xmax, double ymin, double ymax, double zmin,
                             double zmax) {
  int32_t* modes[3] = {&s->xMode, &s->yMode, &s->zMode};
  double* lo[3] = {&s->xMin, &s->yMin, &s->zMin};
  double* hi[3] = {&s->xMax, &s->yMax, &s->zMax};
  uint8_t* zoom_ref[3] = {&s->xZoomRefSet, &s->yZoomRefSet, nullptr};
  const double given[3][2] = {{xmin, xmax}, {ymin, ymax}, {zmin, zmax}};
  int32_t saved[3];
  bool held[3] = {false, false, false};
  for (int i = 0; i < 3; ++i) {
    if (given[i][0] < given[i][1]) {
      if (*modes[i] >= kAxisLocked) continue;
      *lo[i] = given[i][0], *hi[i] = given[i][1], *modes[i] = kAxisFixed;
      if (zoom_ref[i]) *zoom_ref[i] = 0;
    } else {
      saved[i] = *modes[i], held[i] = true, *modes[i] = kAxisLocked;  // kept through the transform
    }
  }
  subplot_compute_transform(s, 1, kAutoscaleMargin);
  for (int i = 0; i < 3; ++i)
    if (held[i]) *modes[i] = saved[i];
}

void subplot_set_fixed_limits3(Subplot* s, double xmin, double xmax, double ymin, double ymax, double zmin,
                               double zmax) {
  int32_t* modes[3] = {&s->xMode, &s->yMode, &s->zMode};
  double* lo[3] = {&s->xMin, &s->yMin, &s->zMin};
  double* hi[3] = {&s->xMax, &s->yMax, &s->zMax};
  const double given[3][2] = {{xmin, xmax}, {ymin, ymax}, {zmin, zmax}};
  bool set[3] = {false, false, false};
  for (int i = 0; i < 3; ++i)
    if (given[i][0] < given[i][1]) *lo[i] = given[i][0], *hi[i] = given[i][1], *modes[i] = kAxisFixed, set[i] = true;
  subplot_compute_transform(s, 0, kNoMargin);
  for (int i = 0; i < 3; ++i)
    if (set[i]) *modes[i] = kAxisLocked;
}

void subplot_set_fixed_limits(Subplot* s, double xmin, double xmax, double ymin, double ymax) {
  subplot_set_fixed_limits3(s, xmin, xmax, ymin, ymax, kEmptyMin, kEmptyMax);
}

void subplot_lock_scale(Subplot* s) {
  if (!s->hasContent) return;
  s->xMode = s->yMode = s->zMode = kAxisLocked;
}

void subplot_unlock_scale(Subplot* s) {
  for (int32_t* m : {&s->xMode, &s->yMode, &s->zMode})
    if (*m == kAxisLocked) *m = kAxisFixed;
  s->viewFlags |= kViewAutoAngle;
}

bool subplot_is_scale_locked(const Subplot* s) { return s->xMode == kAxisLocked && s->yMode == kAxisLocked; }
bool subplot_is_x_locked(const Subplot* s) { return s->xMode == kAxisLocked; }

void subplot_mark_axes(Subplot* s, uint8_t on) {
  for (int32_t* m : {&s->xMode, &s->yMode, &s->zMode}) *m = on ? (*m | kAxisMark) : (*m & ~kAxisMark);
}
