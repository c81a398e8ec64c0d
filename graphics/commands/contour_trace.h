// The contour tracer: one level curve of a grid, walked from cell edge to
// cell edge. A pure function over the grid and caller-provided memory (the
// visited marks and the point outputs), so it is tested and fuzzed without
// the engine. Every walk ends: closed curves on their first crossing, and
// any walk after 4·R·C + 8 steps.
#pragma once

#include <cstdint>

// Grid z of R rows and C columns, row by row; row r lies at y1 + r·dy and
// column c at x1 + c·dx over the limits.
struct ContourGrid {
  const double* z;
  int32_t rows, cols;
  double x1, x2, y1, y2;
};

// Directions of a walk: 0 and 2 stand on the edge between (r, c) and
// (r + 1, c), 1 and 3 on the edge between (r, c) and (r, c + 1).
enum : int32_t { kHeadRight = 0, kHeadUp = 1, kHeadLeft = 2, kHeadDown = 3 };

// Marks in the visited byte of a grid point: its crossing reached heading
// right, and the starts on the grid's edge that a trace has taken (filled
// mode's edge walk enters the grid at them, so the scan skips them after).
enum : uint8_t { kMarkRight = 1, kMarkBottom = 2, kMarkTop = 4, kMarkRightSide = 8 };

// Traces the level from the start crossing into x[] and y[] (room points
// each), adding to *count. Crossings reached heading right are marked in
// `visited` (one byte per grid point). In filled mode the walk follows the
// grid's edge clockwise instead of ending there, so the points close a
// region. Returns 0, or kPlotOverflow when the room cut the trace short.
int contour_trace_level(const ContourGrid& g, double level, bool filled, int32_t start_r, int32_t start_c,
                        int32_t start_dir, uint8_t* visited, double* x, double* y, int32_t room, int32_t* count);

// The start crossings of one level, in the order traces start from them:
// bottom row heading up, top row heading down, left column heading right,
// right column heading left, then interior crossings heading right; a start
// whose mark is already set has been traced and is skipped. In filled mode
// a value at or above the level is high and any other (NaN too) low, as in
// the walk, so that every start is where the edge walk enters the grid and
// every trace comes back to its own start. The callback returns a status;
// a nonzero one ends the scan.
struct ContourStart {
  int32_t r, c, dir;
};
template <class Fn>
int contour_for_each_start(const ContourGrid& g, double L, bool filled, const uint8_t* visited, Fn&& fn) {
  const int32_t R = g.rows, C = g.cols;
  auto z = [&](int32_t r, int32_t c) { return g.z[int64_t(r) * C + c]; };
  auto unmarked = [&](int32_t r, int32_t c, uint8_t mark) { return !(visited[int64_t(r) * C + c] & mark); };
  // Whether L lies between a and b going up: a <= L <= b for lines; a low
  // and b high for regions.
  auto rises = [&](double a, double b) { return filled ? !(a >= L) && b >= L : a <= L && L <= b; };
  // Whether b lies below L and a at or above it.
  auto falls = [&](double a, double b) { return filled ? a >= L && !(b >= L) : b < L && L <= a; };
  for (int32_t j = 0; j + 1 < C; ++j)
    if (rises(z(0, j), z(0, j + 1)) && unmarked(0, j, kMarkBottom))
      if (int s = fn(ContourStart{0, j, kHeadUp})) return s;
  for (int32_t j = 0; j + 1 < C; ++j)
    if (falls(z(R - 1, j), z(R - 1, j + 1)) && unmarked(R - 1, j, kMarkTop))
      if (int s = fn(ContourStart{R - 1, j, kHeadDown})) return s;
  for (int32_t r = 0; r + 1 < R; ++r)
    if (falls(z(r, 0), z(r + 1, 0)) && unmarked(r, 0, kMarkRight))
      if (int s = fn(ContourStart{r, 0, kHeadRight})) return s;
  for (int32_t r = 0; r + 1 < R; ++r)
    if (rises(z(r, C - 1), z(r + 1, C - 1)) && unmarked(r, C - 1, kMarkRightSide))
      if (int s = fn(ContourStart{r, C - 1, kHeadLeft})) return s;
  for (int32_t r = 0; r + 1 < R; ++r)
    for (int32_t c = 1; c + 1 < C; ++c)
      if (unmarked(r, c, kMarkRight) && falls(z(r, c), z(r + 1, c)))
        if (int s = fn(ContourStart{r, c, kHeadRight})) return s;
  return 0;
}
