// N-d interpolation on rectangular grids: the interval search and the
// interpn built-in (multilinear, nearest, previous and next point, up to 16
// dimensions; grids in either direction; NaN outside the grid).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kInterpnMaxDims = 16;

// The interval of v in the grid x of m points, or -1 (m < 2, v outside the
// grid or NaN). Increasing grid: i in 0..m-2 with x[i] <= v <= x[i+1] (the
// last point gives m-2). Decreasing grid: i in 1..m-1 with x[i-1] > v >= x[i].
int64_t interpn_find_interval(const double* x, int64_t m, double v);

// interpn(x1, ..., xn, V, y1, ..., yn[, method]).
int bi_interpn(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
