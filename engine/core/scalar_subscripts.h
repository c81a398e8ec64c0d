// The in-range element test of the scalar fast paths: one or two real scalar
// subscripts into a real double matrix, read and written without a decode.
// Every reader and writer of an element by scalar subscripts uses this one
// test, so that they agree on which subscripts take the general path.
#pragma once

#include <cstdint>

#include "engine/core/checked.h"

// The element offset that n (1 or 2) real scalar subscripts s0 (and s1)
// select in the real double matrix of header h (rows h[1], columns h[2],
// stored row by row): false unless every subscript is integral and in range
// (the general path reports the rest).
inline bool scalar_subscript_offset(const uint32_t* h, int n, double s0, double s1, int64_t* off) {
  const double rows = h[1], cols = h[2];
  if (n == 1) {
    if (!(s0 >= 1 && s0 <= rows * cols)) return false;
    *off = tn::dtoi64(s0) - 1;
    return double(*off + 1) == s0;
  }
  if (!(s0 >= 1 && s0 <= rows && s1 >= 1 && s1 <= cols)) return false;
  const int64_t i = tn::dtoi64(s0), j = tn::dtoi64(s1);
  *off = (i - 1) * int64_t(h[2]) + j - 1;
  return double(i) == s0 && double(j) == s1;
}
