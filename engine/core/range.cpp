// Counts and elements of ranges, for the colon operator and the for loop.
// Every count is a pure function of the operands: the same range gives the
// same elements whether it is built as a row or stepped by a loop.
#include "engine/core/range.h"

#include <cmath>
#include <limits>

#include "engine/core/checked.h"
#include "engine/core/status.h"

namespace {

constexpr uint32_t kUnsignedBit = 128;

uint64_t width_mask(uint32_t type) {
  const uint32_t bytes = type & 127;
  return bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
}

// The value that the bits stand for in the class, or, with as_signed, in the
// signed class of the same width.
__int128 int_value(uint64_t bits, uint32_t type, bool as_signed) {
  const int width = 8 * static_cast<int>(type & 127);
  bits &= width_mask(type);
  if ((type & kUnsignedBit) && !as_signed) return static_cast<__int128>(bits);
  const int shift = 64 - width;
  return static_cast<__int128>(static_cast<int64_t>(bits << shift) >> shift);
}

// Floor division of 128-bit values (d != 0).
__int128 floor_div(__int128 a, __int128 d) {
  __int128 q = a / d;
  if ((a % d != 0) && ((a < 0) != (d < 0))) --q;
  return q;
}

}  // namespace

int range_real_count(double start, double step, double end, int64_t* n) {
  *n = 0;
  const double q = ((end - start) + step) / step;
  if (q > kRangeRealLimit) return kObjectTooLarge;
  const int32_t k = tn::dtoi32(std::floor(q * kRangeCountFactor));  // NaN and -Inf give 0
  if (k >= 1) *n = k;
  return kOk;
}

uint64_t range_real_loop_count(double start, double step, double end) {
  if (step == 0) return 0;
  const double q = ((end - start) + step) / step;
  // The widening takes a quotient just below a whole number up to it, and
  // never further: floor(q * factor) itself wherever the colon answers, but
  // not a count inflated by the factor far beyond it.
  const double up = std::ceil(q);
  const double f = q * kRangeCountFactor >= up ? up : std::floor(q);
  constexpr double kAboveUint64 = 18446744073709551616.0;  // 2^64
  if (!(f >= 1)) return 0;  // NaN and empty ranges
  return f >= kAboveUint64 ? UINT64_MAX : static_cast<uint64_t>(f);
}

RangeAxis range_axis(const ComplexRange& r) {
  const double dr = r.end_re - r.start_re, di = r.end_im - r.start_im;
  const double top = std::fmax(std::fabs(dr), std::fabs(di));
  double scale = 1.0;
  if (top > 0 && top <= std::numeric_limits<double>::max()) {
    constexpr int kMaxShift = 1022;  // 2^+-1022 are normal
    const int e = std::ilogb(top);
    scale = std::ldexp(1.0, e > kMaxShift ? -kMaxShift : e < -kMaxShift ? kMaxShift : -e);
  }
  const double sr = dr * scale, si = di * scale;
  return RangeAxis{scale, sr, si, sr * sr + si * si};
}

int range_complex_count(const ComplexRange& r, int64_t cap, int64_t* n) {
  *n = 0;
  if (r.start_re == r.end_re && r.start_im == r.end_im) {
    *n = 1;
    return kOk;
  }
  const RangeAxis axis = range_axis(r);
  const double p = range_projection(axis, r.step_re, r.step_im);
  if (p == 0) {
    *n = 1;
    return kOk;
  }
  if (p < 0) return kOk;
  // A step so short that the points could not reach the end within the
  // bound fails at once: the running sums drift by far less than half a step
  // over that many points.
  const int64_t bound = (cap < kRangeComplexLimit ? cap : kRangeComplexLimit) + 1;
  if (p * static_cast<double>(bound) < 0.5)
    return bound > kRangeComplexLimit ? kObjectTooLarge : kDataStackOverflow;
  // Counted one point after the other, exactly as the points are formed.
  double re = r.start_re, im = r.start_im;
  int64_t k = 0;
  while (k < bound && range_projection(axis, re - r.start_re, im - r.start_im) <= 1) {
    ++k;
    re += r.step_re;
    im += r.step_im;
  }
  if (k > kRangeComplexLimit) return kObjectTooLarge;
  if (k > cap) return kDataStackOverflow;
  *n = k;
  return kOk;
}

void range_complex_fill(double* re, double* im, const ComplexRange& r, int64_t n) {
  double vr = r.start_re, vi = r.start_im;
  for (int64_t k = 0; k < n; ++k) {
    re[k] = vr;
    im[k] = vi;
    vr += r.step_re;
    vi += r.step_im;
  }
}

int range_int_count(uint32_t type, uint64_t start, uint64_t step, uint64_t end, bool signed_step,
                    uint64_t* n) {
  *n = 0;
  const __int128 a = int_value(start, type, false);
  const __int128 b = int_value(end, type, false);
  __int128 s = int_value(step, type, false);
  if ((type & kUnsignedBit) && signed_step) {
    const __int128 as_signed = int_value(step, type, true);
    if (as_signed < 1) s = as_signed;
  }
  if (s == 0) return kDataStackOverflow;
  // Floor, not truncation: int8(5):int8(2):int8(4) is empty, not [5].
  const __int128 count = floor_div(b - a, s) + 1;
  if (count < 1) return kOk;
  constexpr __int128 kMax = std::numeric_limits<uint64_t>::max();
  *n = static_cast<uint64_t>(count > kMax ? kMax : count);
  return kOk;
}

uint64_t range_int_element(uint32_t type, uint64_t start, uint64_t step, uint64_t k) {
  return (start + k * step) & width_mask(type);
}
