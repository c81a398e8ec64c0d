// Device-pixel geometry shared by every drawing target: how a double
// coordinate becomes a pixel, which segments lie wholly beyond the drawing
// band, and how a GDI-style box (l, t)-(r, b), which covers pixels l to r - 1,
// becomes the rectangle Qt fills or strokes. No Qt drawing happens here.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// A coordinate becomes a device integer by truncation toward zero, saturated
// to the int range: no double, however large, is converted out of range.
// NaN gives 0; callers skip non-finite points before they get here.
inline int32_t device_coord(double v) {
  constexpr double kMax = static_cast<double>(std::numeric_limits<int32_t>::max());
  constexpr double kMin = static_cast<double>(std::numeric_limits<int32_t>::min());
  if (v >= kMax) return std::numeric_limits<int32_t>::max();
  if (v <= kMin) return std::numeric_limits<int32_t>::min();
  if (v != v) return 0;
  return static_cast<int32_t>(v);
}

inline bool point_is_finite(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

// Segments whose ends both lie beyond the same side of this band are not
// drawn: the pen only moves. Segments that cross it go to the platform whole.
constexpr int32_t kDrawBand = 20000;

inline bool segment_beyond_band(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  return (x0 < -kDrawBand && x1 < -kDrawBand) || (x0 > kDrawBand && x1 > kDrawBand) ||
         (y0 < -kDrawBand && y1 < -kDrawBand) || (y0 > kDrawBand && y1 > kDrawBand);
}

// A box with its corners ordered, widths as 64-bit values so that no
// difference of two saturated coordinates overflows.
struct DeviceBox {
  int32_t left, top, right, bottom;
  int64_t width() const { return int64_t(right) - left; }
  int64_t height() const { return int64_t(bottom) - top; }
};

inline DeviceBox device_box(double l, double t, double r, double b) {
  int32_t il = device_coord(l), it = device_coord(t), ir = device_coord(r), ib = device_coord(b);
  if (il > ir) { int32_t s = il; il = ir; ir = s; }
  if (it > ib) { int32_t s = it; it = ib; ib = s; }
  return {il, it, ir, ib};
}

// The box cut to [lo, hi] on both axes, so that a box reaching far off the
// device still gives Qt small numbers; the pixels cut away are never visible
// when [lo, hi] contains the device with a margin.
inline DeviceBox clamp_box(DeviceBox b, int32_t lo, int32_t hi) {
  auto c = [&](int32_t v) { return v < lo ? lo : v > hi ? hi : v; };
  return {c(b.left), c(b.top), c(b.right), c(b.bottom)};
}
