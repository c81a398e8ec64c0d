// Bresenham over 64-bit and 128-bit integers: coordinates are saturated ints,
// so a segment may span 2^32 pixels along an axis and the products below need
// more than 64 bits. Steps outside the bounds along the major axis are
// skipped in one jump (the dash pattern is advanced by their count), so a
// long segment costs no more than the pixels it puts on the device.
#include "platform/pixel_lines.h"

namespace {

using i64 = int64_t;
using i128 = __int128;

// Advances the dash pattern by n pixels.
void dash_skip(DashState* d, i64 n) {
  if (!d->lengths || n <= 0) return;
  i64 period = 0;
  for (int i = 0; i < d->count; ++i) period += d->lengths[i];
  n %= period;
  while (n >= d->left) {
    n -= d->left;
    d->index = (d->index + 1) % d->count;
    d->left = d->lengths[d->index];
  }
  d->left -= int(n);
}

// Whether the next pixel lies on a dash; advances the pattern by one.
bool dash_step(DashState* d) {
  if (!d->lengths) return true;
  bool on = (d->index & 1) == 0;
  if (--d->left == 0) {
    d->index = (d->index + 1) % d->count;
    d->left = d->lengths[d->index];
  }
  return on;
}

}  // namespace

void dash_start(DashState* d, const int* lengths, int count) {
  d->lengths = count > 0 ? lengths : nullptr;
  d->count = count;
  d->index = 0;
  d->left = count > 0 ? lengths[0] : 0;
}

void raster_segment(QList<QPoint>* out, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const QRect& bounds,
                    DashState* dash) {
  i64 dx = i64(x1) - x0, dy = i64(y1) - y0;
  i64 adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  bool x_major = adx >= ady;
  i64 major = x_major ? adx : ady, minor = x_major ? ady : adx;
  if (major == 0) return;  // a zero-length segment draws nothing
  int major_sign = (x_major ? dx : dy) < 0 ? -1 : 1;
  int minor_sign = (x_major ? dy : dx) < 0 ? -1 : 1;
  i64 m0 = x_major ? x0 : y0, n0 = x_major ? y0 : x0;
  i64 lo = x_major ? bounds.left() : bounds.top(), hi = x_major ? bounds.right() : bounds.bottom();
  i64 nlo = x_major ? bounds.top() : bounds.left(), nhi = x_major ? bounds.bottom() : bounds.right();
  // Steps k = 0 .. major - 1; those whose major coordinate is inside [lo, hi].
  i64 k_first = major_sign > 0 ? lo - m0 : m0 - hi;
  i64 k_last = major_sign > 0 ? hi - m0 : m0 - lo;
  if (k_first < 0) k_first = 0;
  if (k_last > major - 1) k_last = major - 1;
  if (k_first > k_last) {
    dash_skip(dash, major);
    return;
  }
  dash_skip(dash, k_first);
  for (i64 k = k_first; k <= k_last; ++k) {
    bool on = dash_step(dash);
    // Minor offset k * minor / major rounded to nearest, halves away from the start.
    i64 off = i64((i128(k) * minor * 2 + major) / (i128(major) * 2));
    i64 m = m0 + major_sign * k, n = n0 + minor_sign * off;
    if (!on || n < nlo || n > nhi) continue;
    QPoint p = x_major ? QPoint(int(m), int(n)) : QPoint(int(n), int(m));
    if (out->isEmpty() || out->constLast() != p) out->append(p);
  }
  dash_skip(dash, major - 1 - k_last);
}
