// Delaunay triangulation by circumsphere insertion (Bowyer-Watson): the points
// are inserted in index order into a simplex that encloses them all; each
// insertion removes the simplices whose circumsphere holds the point and
// fills the hole with new simplices from its boundary facets. Everything
// lives in the free data-stack space: per simplex its centre, squared radius
// and vertex list, and one slot of the boundary facet list.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/misc/geometry.h"
#include "numlib/svd.h"

namespace {

// How far the enclosing simplex reaches beyond the points' box.
constexpr double kEncloseBelow = 100000.0;
constexpr double kEncloseAbove = 3.0;
// Singular values below d^2 s0 times this count as zero.
constexpr double kRankTolerance = 1.1102230246251565e-12;
constexpr int32_t kRemoved = -1;

int64_t pair_rows(int32_t d) { return int64_t(d + 1) * d / 2; }

}  // namespace

int64_t geom_circumcenter_work(int32_t d) {
  const int64_t m = pair_rows(d);
  return m * d + m + d + int64_t(d) * d + svd_work_real(d, true) + 1;
}

void geom_circumcenter(const double* points, int32_t d, const int32_t* verts, double* centre,
                       double* r2, double* work) {
  const int64_t m = pair_rows(d);
  double* a = work;
  double* b = a + m * d;
  double* w = b + m;
  double* v = w + d;
  double* svd_work = v + int64_t(d) * d;
  int64_t row = 0;
  for (int32_t i = 0; i <= d; ++i)
    for (int32_t j = i + 1; j <= d; ++j, ++row) {
      const double* pi = points + int64_t(verts[i]) * d;
      const double* pj = points + int64_t(verts[j]) * d;
      double rhs = 0;
      for (int32_t k = 0; k < d; ++k) {
        a[row * d + k] = pi[k] - pj[k];
        rhs += (pi[k] + pj[k]) * (pi[k] - pj[k]);
      }
      b[row] = rhs / 2;
    }
  svd_decompose(a, int32_t(m), d, w, v, svd_work);
  for (int32_t k = 0; k < d; ++k) centre[k] = 0;
  const double limit = double(d) * d * w[0] * kRankTolerance;
  for (int32_t k = 0; k < d && w[k] > limit; ++k) {
    double ub = 0;
    for (int64_t r = 0; r < m; ++r) ub += a[r * d + k] * b[r];
    ub /= w[k];
    for (int32_t i = 0; i < d; ++i) centre[i] += v[i * d + k] * ub;
  }
  if (r2) {
    const double* p0 = points + int64_t(verts[0]) * d;
    double s = 0;
    for (int32_t k = 0; k < d; ++k) s += (centre[k] - p0[k]) * (centre[k] - p0[k]);
    *r2 = s;
  }
}

namespace {

// The simplex store in the free space, in the order the layout fixes.
struct Store {
  int32_t d = 0;
  int64_t capacity = 0;  // M
  double* work = nullptr;
  double* centres = nullptr;
  double* radii = nullptr;
  int32_t* verts = nullptr;
  int32_t* facets = nullptr;
  int64_t count = 0;
  int64_t facet_count = 0;
  int32_t* vlist(int64_t s) const { return verts + s * (d + 1); }
  int32_t* facet(int64_t f) const { return facets + f * d; }
};

// The facet of simplex s without its vertex at position skip, into out.
void facet_of(const Store& st, int64_t s, int32_t skip, int32_t* out) {
  const int32_t* v = st.vlist(s);
  for (int32_t k = 0, at = 0; k <= st.d; ++k)
    if (k != skip) out[at++] = v[k];
}

// A facet met twice is shared by two removed simplices: it leaves the list.
int toggle_facet(Store& st, const int32_t* f) {
  const size_t bytes = size_t(st.d) * 4;
  for (int64_t i = 0; i < st.facet_count; ++i) {
    if (std::memcmp(st.facet(i), f, bytes) != 0) continue;
    std::memmove(st.facet(i), st.facet(i + 1), size_t(st.facet_count - i - 1) * bytes);
    --st.facet_count;
    return kOk;
  }
  if (st.facet_count >= st.capacity) return kDataStackOverflow;
  std::memcpy(st.facet(st.facet_count++), f, bytes);
  return kOk;
}

int insert_point(Store& st, const double* pts, int32_t i) {
  const int32_t d = st.d;
  const double* p = pts + int64_t(i) * d;
  st.facet_count = 0;
  int32_t f[64];
  int64_t first_removed = -1;
  for (int64_t s = 0; s < st.count; ++s) {
    double dist = 0;
    const double* c = st.centres + s * d;
    for (int32_t k = 0; k < d; ++k) dist += (p[k] - c[k]) * (p[k] - c[k]);
    if (!(dist < st.radii[s])) continue;
    for (int32_t skip = 0; skip <= d; ++skip) {
      facet_of(st, s, skip, f);
      TN_TRY(toggle_facet(st, f));
    }
    st.vlist(s)[0] = kRemoved;
    if (first_removed < 0) first_removed = s;
  }
  if (first_removed >= 0) {
    int64_t keep = first_removed;
    for (int64_t s = first_removed; s < st.count; ++s) {
      if (st.vlist(s)[0] == kRemoved) continue;
      std::memmove(st.vlist(keep), st.vlist(s), size_t(d + 1) * 4);
      std::memmove(st.centres + keep * d, st.centres + s * d, size_t(d) * 8);
      st.radii[keep] = st.radii[s];
      ++keep;
    }
    st.count = keep;
  }
  for (int64_t k = 0; k < st.facet_count; ++k) {
    if (st.count >= st.capacity) return kDataStackOverflow;
    int32_t* v = st.vlist(st.count);
    std::memcpy(v, st.facet(k), size_t(d) * 4);
    v[d] = i;
    geom_circumcenter(pts, d, v, st.centres + st.count * d, &st.radii[st.count], st.work);
    ++st.count;
  }
  return kOk;
}

}  // namespace

int geom_delaunay_push(EngineContext* ctx, const double* points, int32_t n, int32_t d, uint8_t* hull) {
  // Vertex lists are compared as fixed arrays of at most 64 entries.
  if (d < 1 || d > 63) return kBadSize;
  const int32_t rows = n + d + 1;
  double* ext = nullptr;
  TN_TRY(stk_push_matrix(ctx, rows, d, &ext, nullptr));
  std::memcpy(ext, points, size_t(n) * d * 8);
  const int32_t top_desc = ctx->desc_top;
  auto fail = [&](int status) {
    while (ctx->desc_top >= top_desc) stk_drop(ctx);
    return status;
  };

  int64_t free_bytes = 0;
  void* free_start = nullptr;
  stk_free_space(ctx, &free_bytes, &free_start);
  Store st;
  st.d = d;
  const int64_t ws = geom_circumcenter_work(d);
  st.capacity = (free_bytes - 8 * ws) / (16 * int64_t(d) + 12);
  if (st.capacity < int64_t(n) + d) return fail(kDataStackOverflow);
  st.work = static_cast<double*>(free_start);
  st.centres = st.work + ws;
  st.radii = st.centres + st.capacity * d;
  st.verts = reinterpret_cast<int32_t*>(st.radii + st.capacity);
  st.facets = st.verts + st.capacity * (d + 1);

  // The enclosing simplex.
  double* lo = st.centres;  // scratch until the first simplex is stored
  for (int32_t j = 0; j < d; ++j) {
    double mn = std::numeric_limits<double>::infinity(), mx = -mn;
    for (int32_t i = 0; i < n; ++i) {
      mn = std::min(mn, points[int64_t(i) * d + j]);
      mx = std::max(mx, points[int64_t(i) * d + j]);
    }
    if (n == 0) mn = mx = 0;
    const double l = mn - kEncloseBelow * (mx - mn);
    const double h = mx + kEncloseAbove * (mx - l);
    for (int32_t k = 0; k <= d; ++k) ext[int64_t(n + k) * d + j] = l;
    ext[int64_t(n + j) * d + j] += (h - l) * d;
    lo[j] = (h + l) / 2;
  }
  for (int32_t k = 0; k <= d; ++k) st.verts[k] = n + k;
  st.radii[0] = std::numeric_limits<double>::infinity();
  st.count = 1;

  for (int32_t i = 0; i < n; ++i) {
    const int status = insert_point(st, ext, i);
    if (status != kOk) return fail(status);
    if (poll_abort(ctx)) return fail(kAborted);
  }

  // Simplices that touch the enclosing simplex go; their points are on the hull.
  int64_t kept = 0;
  for (int64_t s = 0; s < st.count; ++s) {
    const int32_t* v = st.vlist(s);
    bool outer = false;
    for (int32_t k = 0; k <= d; ++k) outer = outer || v[k] >= n;
    if (outer) {
      for (int32_t k = 0; hull && k <= d; ++k)
        if (v[k] < n) hull[v[k]] = 1;
      continue;
    }
    std::memmove(st.vlist(kept++), v, size_t(d + 1) * 4);
  }
  // The kept lists move to the top end of the free space, out of the way of
  // the result that replaces the extended points.
  const size_t list_bytes = size_t(kept) * (d + 1) * 4;
  auto* lists = reinterpret_cast<int32_t*>(static_cast<uint8_t*>(free_start) + (free_bytes - int64_t(list_bytes)) / 8 * 8);
  std::memmove(lists, st.verts, list_bytes);
  stk_drop(ctx);
  double* t = nullptr;
  TN_TRY(stk_push_matrix(ctx, int32_t(kept), d + 1, &t, nullptr));
  for (int64_t k = 0; k < kept * (d + 1); ++k) t[k] = lists[k] + 1.0;
  return kOk;
}

int geom_xy_to_points(EngineContext* ctx, int keep) {
  int nx = 0, ny = 0;
  int64_t cx = 0, cy = 0;
  double *x = nullptr, *y = nullptr;
  int s = stk_get_double_array(ctx, 1, &nx, nullptr, &cx, &x, nullptr);
  if (s == kOk) s = stk_get_double_array(ctx, 0, &ny, nullptr, &cy, &y, nullptr);
  TN_TRY(s == kWrongType ? kWrongArgType : s);
  if (cx != cy) return kIncompatibleSize;
  double* p = nullptr;
  TN_TRY(stk_push_matrix(ctx, int32_t(cx), 2, &p, nullptr));
  for (int64_t i = 0; i < cx; ++i) {
    p[2 * i] = x[i];
    p[2 * i + 1] = y[i];
  }
  if (!keep) return stk_remove(ctx, 1, 2);
  return kOk;
}

int bi_delaunayn(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t n = 0, d = 0;
  double* x = nullptr;
  const int s = stk_get_matrix(ctx, 0, &n, &d, &x, nullptr);
  TN_TRY(s == kWrongType ? kWrongArgType : s);
  uint8_t* hull = nullptr;
  const bool with_hull = nargout >= 2;
  if (with_hull) {
    const int32_t dims[2] = {n, 1};
    TN_TRY(stk_push_logical_array(ctx, 2, dims, &hull));
    std::memset(hull, 0, size_t(n));
  }
  const int status = geom_delaunay_push(ctx, x, n, d, hull);
  if (status != kOk) {
    if (with_hull) stk_drop(ctx);
    return status;
  }
  return stk_remove(ctx, with_hull ? 2 : 1, 1);
}

int bi_delaunay(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 2) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  TN_TRY(geom_xy_to_points(ctx, 1));
  const int status = bi_delaunayn(ctx, 1, nargout, 0);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  const int outs = nargout >= 2 ? 2 : 1;
  return stk_remove(ctx, outs, 2);
}
