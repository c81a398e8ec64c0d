// Scaling of a matrix into the range where its kernels' squares and products
// neither overflow nor underflow. A matrix whose largest element lies outside
// [kRangeScaleLow, kRangeScaleHigh] is multiplied by a power of two that
// brings that element into [1/2, 1); powers of two scale without rounding, so
// the results are scaled back exactly. Matrices inside the range are left as
// they are, so that their results do not change by a bit.
#pragma once

#include <cmath>
#include <cstdint>

// The square root of the smallest normal number over eps, and its inverse:
// the bounds within which a matrix is taken as it stands.
constexpr double kRangeScaleLow = 0x1p-511 / 0x1p-52;
constexpr double kRangeScaleHigh = 1.0 / kRangeScaleLow;
static_assert(kRangeScaleLow > 6.7e-139 && kRangeScaleLow < 6.8e-139, "");

// The power of two to multiply by for a matrix whose largest |element| is
// amax: 0 inside the range, for a zero matrix and for a non-finite amax.
inline int range_scale_exponent(double amax) {
  if (!(amax > 0.0) || !std::isfinite(amax)) return 0;
  if (amax >= kRangeScaleLow && amax <= kRangeScaleHigh) return 0;
  int e = 0;
  std::frexp(amax, &e);
  return -e;
}

// The largest |x[k]| over count doubles (NaN is passed over).
inline double range_scale_max(const double* x, int64_t count) {
  double big = 0.0;
  for (int64_t k = 0; k < count; ++k) big = std::fmax(big, std::fabs(x[k]));
  return big;
}

// x[k] *= 2^e for count doubles.
inline void range_scale_apply(double* x, int64_t count, int e) {
  if (e == 0 || !x) return;
  for (int64_t k = 0; k < count; ++k) x[k] = std::ldexp(x[k], e);
}
