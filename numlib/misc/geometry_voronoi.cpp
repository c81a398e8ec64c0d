// Voronoi diagrams from the Delaunay triangulation: the vertices are the
// simplices' circumcentres after a first row at infinity, and the cell of a
// point lists the simplices around it (the point at infinity first for hull
// points); in the plane each cell is ordered by angle around its point, with
// the point at infinity moved into the cell's open gap.
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/misc/geometry.h"
#include "numlib/shellsort.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// The key that sorts the point at infinity last.
constexpr double kInfinityKey = 10.0;

// Orders one cell of the plane by angle around point (px, py).
int order_cell(EngineContext* ctx, double* cell, int32_t count, const double* v, double px, double py) {
  int64_t free_bytes = 0;
  void* free_start = nullptr;
  stk_free_space(ctx, &free_bytes, &free_start);
  if (free_bytes < int64_t(count) * 8) return kDataStackOverflow;
  auto* keys = static_cast<double*>(free_start);
  for (int32_t k = 0; k < count; ++k) {
    const int64_t row = int64_t(cell[k]) - 1;
    if (row == 0) {
      keys[k] = kInfinityKey;
      continue;
    }
    double a = std::atan2(v[2 * row + 1] - py, v[2 * row] - px);
    if (a < 0) a += kTwoPi;
    keys[k] = a;
  }
  shellsort_real_pair(keys, cell, count, 1, 0);
  if (count >= 2 && cell[count - 1] == 1) {
    for (int32_t k = 1; k < count - 1; ++k) {
      if (keys[k] - keys[k - 1] < kPi) continue;
      std::memmove(cell + k + 1, cell + k, size_t(count - 1 - k) * 8);
      cell[k] = 1;
      break;
    }
  }
  return kOk;
}

// Replaces the n x d points on top by V, or by V and C (V on top).
int voronoi_core(EngineContext* ctx, int nargout, bool angular) {
  int32_t n = 0, d = 0;
  double* x = nullptr;
  const int s = stk_get_matrix(ctx, 0, &n, &d, &x, nullptr);
  TN_TRY(s == kWrongType ? kWrongArgType : s);
  const int32_t mark = ctx->desc_top;
  auto fail = [&](int status) {
    while (ctx->desc_top > mark) stk_drop(ctx);
    return status;
  };
  uint8_t* hull = nullptr;
  const int32_t hdims[2] = {n, 1};
  TN_TRY(stk_push_logical_array(ctx, 2, hdims, &hull));
  std::memset(hull, 0, size_t(n));
  int status = geom_delaunay_push(ctx, x, n, d, hull);
  if (status != kOk) return fail(status);
  int32_t m = 0, k = 0;
  double* t = nullptr;
  stk_get_matrix(ctx, 0, &m, &k, &t, nullptr);
  double* v = nullptr;
  status = stk_push_matrix(ctx, m + 1, d, &v, nullptr);
  if (status != kOk) return fail(status);
  int64_t free_bytes = 0;
  void* free_start = nullptr;
  stk_free_space(ctx, &free_bytes, &free_start);
  const int64_t ws = geom_circumcenter_work(d);
  if (free_bytes < 8 * ws + 4 * int64_t(k)) return fail(kDataStackOverflow);
  auto* work = static_cast<double*>(free_start);
  auto* verts = reinterpret_cast<int32_t*>(work + ws);
  for (int32_t j = 0; j < d; ++j) v[j] = std::numeric_limits<double>::infinity();
  for (int32_t sx = 0; sx < m; ++sx) {
    for (int32_t c = 0; c < k; ++c) verts[c] = int32_t(t[int64_t(sx) * k + c]) - 1;
    geom_circumcenter(x, d, verts, v + int64_t(sx + 1) * d, nullptr, work);
  }
  if (nargout < 2) return stk_remove(ctx, 1, 3);  // [X, H, T, V] -> [V]
  for (int32_t i = 0; i < n; ++i) {
    int32_t count = hull[i] ? 1 : 0;
    for (int64_t e = 0; e < int64_t(m) * k; ++e)
      if (int32_t(t[e]) - 1 == i) ++count;
    double* cell = nullptr;
    status = stk_push_matrix(ctx, count > 0 ? 1 : 0, count, &cell, nullptr);
    if (status != kOk) return fail(status);
    int32_t at = 0;
    if (hull[i]) cell[at++] = 1;
    for (int32_t sx = 0; sx < m; ++sx)
      for (int32_t c = 0; c < k; ++c)
        if (int32_t(t[int64_t(sx) * k + c]) - 1 == i) cell[at++] = sx + 2;
    if (angular && count > 0) {
      status = order_cell(ctx, cell, count, v, x[2 * int64_t(i)], x[2 * int64_t(i) + 1]);
      if (status != kOk) return fail(status);
    }
    if (poll_abort(ctx)) return fail(kAborted);
  }
  status = stk_make_container(ctx, n, 0, nullptr, 0);
  if (status != kOk) return fail(status);
  // [X, H, T, V, C] -> [C, V] in place of X.
  TN_TRY(stk_reverse(ctx, 2));
  return stk_remove(ctx, 2, 3);
}

}  // namespace

int bi_voronoin(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  return voronoi_core(ctx, nargout, false);
}

int bi_voronoi(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 2) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  TN_TRY(geom_xy_to_points(ctx, 1));
  const int status = voronoi_core(ctx, nargout, true);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  return stk_remove(ctx, nargout >= 2 ? 2 : 1, 2);
}
