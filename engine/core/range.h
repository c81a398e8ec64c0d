// The one count rule of ranges start:step:end, shared by the colon operator
// and the for loop over a packed range, so a loop runs over exactly the
// elements that the same range written as a value holds. Counts are formed in
// 64 bits (integer spans in 128) before any limit test.
#pragma once

#include <cstdint>

// --- Real double ranges ---------------------------------------------------------
// The quotient ((end - start) + step) / step is widened by this factor before
// it is floored, so a quotient that rounding left just below a whole number
// loses no element (0:0.1:1 has 11).
constexpr double kRangeCountFactor = 1.000000000000222;
// A quotient above this gives 109 "Object too large".
constexpr double kRangeRealLimit = 2147483647.0;

// Elements of start:step:end. kOk with *n >= 0 (0 for an empty range, also for
// NaN operands and for a zero step with end not above start), or
// kObjectTooLarge when the quotient passes the limit (a zero step with end
// above start among them).
int range_real_count(double start, double step, double end, int64_t* n);

// The same count for a loop, which steps lazily and so has no limit: counted
// in 64 bits, saturated at UINT64_MAX (1:Inf). Where the colon operator
// answers, the two agree; a zero step gives 0 as for the loop it always did.
uint64_t range_real_loop_count(double start, double step, double end);

// The elements are a running sum: e(0) = start, e(k + 1) = e(k) + step, so a
// loop that adds the step each time meets the same values.
inline void range_real_fill(double* out, double start, double step, int64_t n) {
  double v = start;
  for (int64_t k = 0; k < n; ++k) {
    out[k] = v;
    v += step;
  }
}

// --- Complex ranges (single ranges are counted the same way, in double) -------------
// Points start, start + step, ... (running sums of each part) are taken while
// their projection onto end - start, Re((p - start) * conj(d)) / |d|^2, is at
// most 1. start equal to end gives that one point; a step whose projection is
// 0 (a zero step, or one across the direction) gives only the start, one whose
// projection is negative none.
struct ComplexRange {
  double start_re, start_im;
  double step_re, step_im;
  double end_re, end_im;
};

// More points than this give 109.
constexpr int64_t kRangeComplexLimit = 1073741823;

// The direction d = end - start and |d|^2, both taken at the scale (a
// power of two) that brings d's larger part to [1, 2): |d|^2 then neither
// overflows for extents past 1e154 nor vanishes below 1e-162. A projection is
// a ratio of products of d with itself or with an offset, so the common
// scale cancels exactly: its bits are those of the unscaled form wherever
// that is finite. Needs end != start.
struct RangeAxis {
  double scale;
  double dr, di;  // d times scale
  double norm2;   // |d|^2 times scale^2
};
RangeAxis range_axis(const ComplexRange& r);

// Projection of the offset (re, im) from the start onto the direction:
// Re(offset conj(d)) / |d|^2. A point lies in the range while its
// projection is at most 1.
inline double range_projection(const RangeAxis& a, double re, double im) {
  return (re * a.scale * a.dr + im * a.scale * a.di) / a.norm2;
}

// The count of a complex range: 0, 1, or counted point by point. cap bounds
// the counting (the caller's room in elements): more points than cap give 3
// "Data stack overflow", more than kRangeComplexLimit give 109.
int range_complex_count(const ComplexRange& r, int64_t cap, int64_t* n);

// Fills re and im with the first n points (running sums of each part).
void range_complex_fill(double* re, double* im, const ComplexRange& r, int64_t n);

// --- Integer ranges ----------------------------------------------------------------
// Values are the stored bits of the class (element type 1, 2, 4, 8 signed or
// 129..136 unsigned), zero-extended to 64 bits. The count is
// floor((end - start) / step) + 1 on the values the bits stand for, formed in
// 128 bits, so no span wraps in the class (int8(-100):int8(1):int8(100) has
// 201 elements); an unsigned range whose step argument was of a signed class
// and reads as a signed number below 1 counts down by its magnitude.
// signed_step: the step argument (three operands only) was of a signed class
// before the operands were brought to their common class.
// kOk with *n (0 for an empty range; saturated at UINT64_MAX), or
// kDataStackOverflow for a zero step, which is what the colon operator reports.
int range_int_count(uint32_t type, uint64_t start, uint64_t step, uint64_t end, bool signed_step,
                    uint64_t* n);

// Element k: start + k * step, wrapping in the class's width (bits of the
// class, zero-extended). Within the count no element wraps, except that a
// downward unsigned range adds its step modulo the width, which subtracts.
uint64_t range_int_element(uint32_t type, uint64_t start, uint64_t step, uint64_t k);
