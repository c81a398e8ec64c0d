// Point location in a triangulation (the barycentric coordinates of each
// query point in each simplex, in simplex order) and scattered-data
// interpolation over the Delaunay triangulation of the data points, linear or
// nearest; the plane forms take x and y vectors and give results shaped like xi.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/dense_lu.h"
#include "numlib/misc/geometry.h"

namespace {

constexpr double kEps = 2.220446049250313e-16;
constexpr int kMethodCap = 16;

// Called for each query point when a simplex first accepts it.
struct LocateSink {
  void (*found)(void* self, int64_t point, int64_t simplex, const int32_t* verts, const double* bary);
  void* self;
};

struct Points {
  const double* x = nullptr;
  int32_t n = 0, d = 0;
};

// Every vertex index of T must name a point: 29 otherwise.
int check_indices(const double* t, int64_t entries, int32_t n) {
  for (int64_t k = 0; k < entries; ++k) {
    const double v = std::trunc(t[k]);
    if (!(v >= 1 && v <= n)) return kIndexOutOfRange;
  }
  return kOk;
}

// Rounding bound of a barycentric coordinate, in units of eps: the inverse
// from the LU solve is off by about |inv| |A| |inv| (partial pivoting keeps
// |L| |U| near |A|), applied to |(xi - v0, 1)|, which also covers the product
// with the query point; and a query point computed on a facet (a midpoint of
// two vertices) is off it by an ulp of its own coordinates, |inv| |xi|.
// kLocateSlack multiplies the unit roundoff per vertex; a bound above
// kLocateTolCap means a simplex too thin to have barycentric coordinates
// worth the name, and is cut there.
constexpr double kLocateSlack = 4.0;
constexpr double kLocateTolCap = 1e-9;

// bound := |inv| |A| |inv| (k x k). a holds |A| on entry and |A| |inv| on
// return; row is k doubles of scratch.
void rounding_bounds(double* a, const double* inv, int32_t k, double* bound, double* row) {
  for (int32_t t = 0; t < k; ++t) {
    for (int32_t c = 0; c < k; ++c) {
      double g = 0;
      for (int32_t u = 0; u < k; ++u) g += a[t * k + u] * std::fabs(inv[u * k + c]);
      row[c] = g;
    }
    for (int32_t c = 0; c < k; ++c) a[t * k + c] = row[c];
  }
  for (int32_t r = 0; r < k; ++r)
    for (int32_t c = 0; c < k; ++c) {
      double h = 0;
      for (int32_t t = 0; t < k; ++t) h += std::fabs(inv[r * k + t]) * a[t * k + c];
      bound[r * k + c] = h;
    }
}

// Locates the p query points (rows of xi) in the m simplices of t. Scratch is
// taken from the free space above the top item. Coordinates are taken
// relative to the simplex's first vertex (barycentric coordinates do not
// change under translation, and data far from the origin then lose no digits
// to it). A point accepts a simplex when every barycentric coordinate lies in
// [0, 1] up to its rounding bound: the exact test lost data points and points
// on shared facets to coordinates of -1e-15.
int locate(EngineContext* ctx, const Points& pts, const double* t, int32_t m, const double* xi,
           int32_t p, uint8_t* done, const LocateSink& sink) {
  const int32_t d = pts.d, k = d + 1;
  int64_t free_bytes = 0;
  void* free_start = nullptr;
  stk_free_space(ctx, &free_bytes, &free_start);
  const int64_t need = 8 * (3 * int64_t(k) * k + 3 * int64_t(k)) + 4 * k + 8 * k;
  if (free_bytes < need) return kDataStackOverflow;
  double* a = static_cast<double*>(free_start);
  double* inv = a + k * k;
  double* bound = inv + k * k;
  double* lambda = bound + k * k;
  double* rel = lambda + k;  // xi - v0, then 1
  double* row = rel + k;
  auto* perm = reinterpret_cast<uint32_t*>(row + k);
  int32_t verts[64];
  const double tau = 4.0 * k * kEps;
  for (int32_t s = 0; s < m; ++s) {
    for (int32_t c = 0; c < k; ++c) verts[c] = int32_t(std::trunc(t[int64_t(s) * k + c])) - 1;
    const double* v0 = pts.x + int64_t(verts[0]) * d;
    // Column c: vertex c's coordinates relative to vertex 0, then a one.
    for (int32_t c = 0; c < k; ++c) {
      for (int32_t r = 0; r < d; ++r) a[r * k + c] = pts.x[int64_t(verts[c]) * d + r] - v0[r];
      a[d * k + c] = 1;
    }
    for (int32_t r = 0; r < k * k; ++r) inv[r] = (r % (k + 1) == 0) ? 1.0 : 0.0;
    linsolve_left_real(a, inv, k, k, perm, 0);
    for (int32_t c = 0; c < k; ++c) {  // |A| again: the solve left its LU factors
      for (int32_t r = 0; r < d; ++r) a[r * k + c] = std::fabs(pts.x[int64_t(verts[c]) * d + r] - v0[r]);
      a[d * k + c] = 1;
    }
    rounding_bounds(a, inv, k, bound, row);
    for (int32_t q = 0; q < p; ++q) {
      if (done[q]) continue;
      for (int32_t c = 0; c < d; ++c) rel[c] = xi[int64_t(q) * d + c] - v0[c];
      rel[d] = 1;
      bool inside = true;
      for (int32_t r = 0; r < k && inside; ++r) {
        double v = 0;
        for (int32_t c = 0; c < k; ++c) v += inv[r * k + c] * rel[c];
        lambda[r] = v;
        if (v >= 0 && v <= 1) continue;
        double slack = bound[r * k + d];
        for (int32_t c = 0; c < d; ++c)
          slack += bound[r * k + c] * std::fabs(rel[c]) +
                   std::fabs(inv[r * k + c]) * std::fabs(xi[int64_t(q) * d + c]);
        slack = std::max(tau, std::min(kLocateSlack * k * kEps * slack, kLocateTolCap));
        inside = v >= -slack && v <= 1 + slack;
      }
      if (!inside) continue;
      done[q] = 1;
      sink.found(sink.self, q, s, verts, lambda);
    }
  }
  return kOk;
}

struct Matrix {
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  double* im = nullptr;
};

int matrix_at(EngineContext* ctx, int depth, Matrix* out) {
  const int s = stk_get_matrix(ctx, depth, &out->rows, &out->cols, &out->re, &out->im);
  return s == kWrongType ? kWrongArgType : s;
}

// A byte per query point, above the result: pushed last, dropped first.
int push_flags(EngineContext* ctx, int32_t p, uint8_t** flags) {
  const int32_t dims[2] = {p, 1};
  TN_TRY(stk_push_logical_array(ctx, 2, dims, flags));
  std::memset(*flags, 0, size_t(p));
  return kOk;
}

struct Interpolation {
  const Matrix* y;
  int32_t k;  // vertices per simplex
  double* out_re;
  double* out_im;
  bool nearest;

  static void found(void* self, int64_t q, int64_t, const int32_t* verts, const double* bary) {
    auto* in = static_cast<Interpolation*>(self);
    const Matrix& y = *in->y;
    if (in->nearest) {
      int32_t best = 0;
      for (int32_t c = 1; c < in->k; ++c)
        if (bary[c] > bary[best]) best = c;
      in->out_re[q] = y.re[verts[best]];
      if (in->out_im) in->out_im[q] = y.im[verts[best]];
      return;
    }
    double re = 0, im = 0;
    for (int32_t c = 0; c < in->k; ++c) {
      re += y.re[verts[c]] * bary[c];
      if (y.im) im += y.im[verts[c]] * bary[c];
    }
    in->out_re[q] = re;
    if (in->out_im) in->out_im[q] = im;
  }
};

// The method argument: linear (absent, empty, "l...", "1...") or nearest
// ("n...", "0..."); 108 for anything else.
int read_method(EngineContext* ctx, int depth, bool* nearest) {
  *nearest = false;
  Matrix m;
  if (stk_get_matrix(ctx, depth, &m.rows, &m.cols, &m.re, &m.im) == kOk && int64_t(m.rows) * m.cols == 0)
    return kOk;
  if (!stk_is_char(ctx, depth)) return kUnknownOption;
  char text[kMethodCap];
  int32_t n = 0;
  if (stk_get_string_buf(ctx, depth, text, kMethodCap, &n) != kOk) return kUnknownOption;
  if (n == 0 || text[0] == 'l' || text[0] == '1') return kOk;
  if (text[0] == 'n' || text[0] == '0') {
    *nearest = true;
    return kOk;
  }
  return kUnknownOption;
}

}  // namespace

int bi_tsearchn(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 3) return nargin < 3 ? kTooFewInputs : kTooManyInputs;
  Matrix x, t, xi;
  TN_TRY(matrix_at(ctx, 2, &x));
  TN_TRY(matrix_at(ctx, 1, &t));
  TN_TRY(matrix_at(ctx, 0, &xi));
  if (x.cols < 1 || x.cols > 63) return kBadSize;
  if (t.cols != x.cols + 1 || xi.cols != x.cols) return kIncompatibleSize;
  TN_TRY(check_indices(t.re, int64_t(t.rows) * t.cols, x.rows));
  double* idx = nullptr;
  TN_TRY(stk_push_matrix(ctx, xi.rows, 1, &idx, nullptr));
  for (int32_t q = 0; q < xi.rows; ++q) idx[q] = std::numeric_limits<double>::quiet_NaN();
  uint8_t* done = nullptr;
  int status = push_flags(ctx, xi.rows, &done);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  struct Sink {
    double* idx;
    static void found(void* self, int64_t q, int64_t s, const int32_t*, const double*) {
      static_cast<Sink*>(self)->idx[q] = double(s + 1);
    }
  } sink{idx};
  status = locate(ctx, Points{x.re, x.rows, x.cols}, t.re, t.rows, xi.re, xi.rows, done,
                  LocateSink{&Sink::found, &sink});
  stk_drop(ctx);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  return stk_remove(ctx, 1, 3);
}

int bi_griddatan(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 3) return kTooFewInputs;
  if (nargin > 4) return kTooManyInputs;
  const int base = nargin - 3;  // depth of XI
  bool nearest = false;
  if (nargin == 4) TN_TRY(read_method(ctx, 0, &nearest));
  Matrix x, y, xi;
  TN_TRY(matrix_at(ctx, base + 2, &x));
  TN_TRY(matrix_at(ctx, base + 1, &y));
  TN_TRY(matrix_at(ctx, base, &xi));
  if (x.cols < 1 || x.cols > 63 || y.rows != x.rows || y.cols != 1) return kBadSize;
  if (xi.cols != x.cols) return kIncompatibleSize;
  TN_TRY(geom_delaunay_push(ctx, x.re, x.rows, x.cols, nullptr));
  Matrix t;
  stk_get_matrix(ctx, 0, &t.rows, &t.cols, &t.re, &t.im);
  double *re = nullptr, *im = nullptr;
  int status = stk_push_matrix(ctx, xi.rows, 1, &re, y.im ? &im : nullptr);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  for (int32_t q = 0; q < xi.rows; ++q) {
    re[q] = std::numeric_limits<double>::quiet_NaN();
    if (im) im[q] = 0;
  }
  uint8_t* done = nullptr;
  status = push_flags(ctx, xi.rows, &done);
  if (status == kOk) {
    Interpolation in{&y, x.cols + 1, re, im, nearest};
    status = locate(ctx, Points{x.re, x.rows, x.cols}, t.re, t.rows, xi.re, xi.rows, done,
                    LocateSink{&Interpolation::found, &in});
    stk_drop(ctx);
  }
  if (status != kOk) {
    stk_drop(ctx);
    stk_drop(ctx);
    return status;
  }
  TN_TRY(stk_remove(ctx, 1, 1));  // the triangulation
  return stk_remove(ctx, 1, nargin);
}

int bi_tsearch_griddata(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (data != kGeomTsearch && data != kGeomGriddata) return TN_ILLEGAL();
  const int max_in = data == kGeomTsearch ? 5 : 6;
  if (nargin < 5) return kTooFewInputs;
  if (nargin > max_in) return kTooManyInputs;
  const int extra = nargin - 5;  // the method
  int nx = 0, ny = 0;
  const uint32_t *dx = nullptr, *dy = nullptr;
  int64_t cx = 0, cy = 0;
  int s = stk_get_array_info(ctx, extra + 1, &nx, &dx, &cx);
  if (s == kOk) s = stk_get_array_info(ctx, extra, &ny, &dy, &cy);
  TN_TRY(s == kWrongType ? kWrongArgType : s);
  bool same = nx == ny;
  for (int k = 0; same && k < nx; ++k) same = dx[k] == dy[k];
  if (!same) return kIncompatibleSize;
  int32_t dims[64];
  for (int k = 0; k < nx && k < 64; ++k) dims[k] = int32_t(dx[k]);
  const bool column = nx == 2 && dims[1] == 1;
  const int32_t mark = ctx->desc_top;
  auto fail = [&](int status) {
    while (ctx->desc_top > mark) stk_drop(ctx);
    return status;
  };
  // [x, y, T or z, xi, yi, (method)] -> P, T or z, PI, (method) on top.
  int status = stk_dup(ctx, nargin - 2, 2);
  if (status == kOk) status = geom_xy_to_points(ctx, 0);
  if (status == kOk) status = stk_dup(ctx, nargin - 2, 1);
  if (status == kOk && data == kGeomGriddata) {
    // z is taken as z(:), like x and y: values shaped like the points are
    // what users pass.
    int64_t cz = 0;
    status = stk_get_array_info(ctx, 0, nullptr, nullptr, &cz);
    const int32_t column_dims[2] = {int32_t(cz), 1};
    if (status == kOk) status = stk_reshape(ctx, 2, column_dims);
  }
  if (status == kOk) status = stk_dup(ctx, extra + 2, 2);
  if (status == kOk) status = geom_xy_to_points(ctx, 0);
  if (status == kOk && extra) status = stk_dup(ctx, 3, 1);
  if (status == kOk) {
    status = data == kGeomTsearch ? bi_tsearchn(ctx, 3, nargout, 0) : bi_griddatan(ctx, 3 + extra, nargout, 0);
  }
  if (status == kOk && !column) status = stk_reshape(ctx, nx, dims);
  if (status != kOk) return fail(status);
  return stk_remove(ctx, 1, nargin);
}
