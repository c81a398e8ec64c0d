// interpn and its interval search. A decreasing grid is read through a
// reversed view, so every rule (ties, previous, next, weights) mirrors the
// increasing case exactly and no index leaves the grid. Equal neighbouring
// grid points give their lower point weight 1 rather than 0/0.
#include "numlib/signal/interpn.h"

#include <cmath>
#include <limits>

#include "engine/core/errors.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

namespace {

enum class Method { Linear, Nearest, Previous, Next };

constexpr int kMethodTextCap = 8;

// A grid vector seen in increasing order.
struct GridView {
  const double* x = nullptr;
  int64_t m = 0;
  bool reversed = false;
  double at(int64_t j) const { return x[reversed ? m - 1 - j : j]; }
  int64_t real_index(int64_t j) const { return reversed ? m - 1 - j : j; }
};

// x[lo] <= v <= x[hi] on an increasing view with m >= 2: the interval lo.
int64_t bisect_increasing(const GridView& g, double v) {
  int64_t lo = 0, hi = g.m - 1;
  while (hi - lo > 1) {
    const int64_t mid = (lo + hi) / 2;
    if (g.at(mid) <= v)
      lo = mid;
    else
      hi = mid;
  }
  return lo;
}

bool inside(const GridView& g, double v) {
  return g.m >= 2 && v >= g.at(0) && v <= g.at(g.m - 1);
}

int read_method(EngineContext* ctx, int depth, Method* out) {
  char text[kMethodTextCap] = {};
  int32_t length = 0;
  TN_TRY(stk_get_string_buf(ctx, depth, text, kMethodTextCap, &length));
  const char c = length > 0 ? text[0] : 'l';
  switch (c) {
    case 'l': case '1': *out = Method::Linear; return kOk;
    case 'n': case '0': *out = Method::Nearest; return kOk;
    case '<': *out = Method::Previous; return kOk;
    case '>': *out = Method::Next; return kOk;
    default: return kUnknownOption;
  }
}

struct DoubleArg {
  int nd = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
};

int read_double(EngineContext* ctx, int depth, DoubleArg* a) {
  return stk_get_double_array(ctx, depth, &a->nd, &a->dims, &a->count, &a->re, &a->im) == kOk
             ? kOk
             : kWrongArgType;
}

bool monotonic(const double* x, int64_t m) {
  bool up = true, down = true;
  for (int64_t k = 1; k < m; ++k) {
    if (!(x[k] >= x[k - 1])) up = false;
    if (!(x[k] <= x[k - 1])) down = false;
  }
  return up || down;
}

bool same_dims(const DoubleArg& a, const DoubleArg& b) {
  if (a.nd != b.nd) return false;
  for (int k = 0; k < a.nd; ++k)
    if (a.dims[k] != b.dims[k]) return false;
  return true;
}

// The interpolation of one query point; dims n, V's strides per dimension.
struct Cell {
  int64_t lower[kInterpnMaxDims];  // real grid index of the lower point
  int64_t upper[kInterpnMaxDims];
  double wl[kInterpnMaxDims], wu[kInterpnMaxDims];
};

}  // namespace

int64_t interpn_find_interval(const double* x, int64_t m, double v) {
  if (m < 2) return -1;
  if (x[0] <= x[m - 1]) {
    const GridView g{x, m, false};
    return inside(g, v) ? bisect_increasing(g, v) : -1;
  }
  if (!(v <= x[0] && v >= x[m - 1])) return -1;
  int64_t lo = 0, hi = m - 1;
  while (hi - lo > 1) {
    const int64_t mid = (lo + hi + 1) / 2;
    if (x[mid] <= v)
      hi = mid;
    else
      lo = mid;
  }
  // x[lo] > v >= x[hi] unless v equals the first point.
  return x[lo] > v ? hi : lo + 1;
}

int bi_interpn(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 3) return kTooFewInputs;
  Method method = Method::Linear;
  int args = nargin;
  if (stk_is_char(ctx, 0)) {
    TN_TRY(read_method(ctx, 0, &method));
    --args;
  }
  const int n = args / 2;
  if (n > kInterpnMaxDims) return kBadDimension;
  if (args != 2 * n + 1) return kTooFewInputs;
  auto depth_of = [&](int i) { return nargin - 1 - i; };  // argument i, 0-based
  DoubleArg x[kInterpnMaxDims], v, y[kInterpnMaxDims];
  for (int k = 0; k < n; ++k) TN_TRY(read_double(ctx, depth_of(k), &x[k]));
  TN_TRY(read_double(ctx, depth_of(n), &v));
  if (v.nd > n && v.nd >= 3) return kBadDimension;
  if (n == 1) {
    if (v.count != x[0].count) return kBadSize;
  } else {
    for (int k = 0; k < n; ++k) {
      const int64_t want = k < v.nd ? int64_t(v.dims[k]) : 1;
      if (x[k].count != want) return kBadSize;
    }
  }
  for (int k = 0; k < n; ++k)
    if (!monotonic(x[k].re, x[k].count))
      return err_raise_id(ctx, "ZVR:unsorted", -1, "Coordinates are not monotonic", -1);
  for (int k = 0; k < n; ++k) {
    TN_TRY(read_double(ctx, depth_of(n + 1 + k), &y[k]));
    if (!same_dims(y[k], y[0])) return kBadSize;
  }
  const bool cplx = v.im != nullptr;
  const int64_t count = y[0].count;
  if (!desc_room(ctx) || (cplx ? 2 : 1) * count + 16 > data_free_words(ctx))
    return kDataStackOverflow;
  int32_t dims[kInterpnMaxDims];
  const int ynd = y[0].nd < kInterpnMaxDims ? y[0].nd : kInterpnMaxDims;
  for (int k = 0; k < ynd; ++k) dims[k] = int32_t(y[0].dims[k]);
  double *rre = nullptr, *rim = nullptr;
  TN_TRY(stk_push_double_nd(ctx, ynd, dims, &rre, cplx ? &rim : nullptr));
  // Read everything again below the result.
  for (int k = 0; k < n; ++k) read_double(ctx, depth_of(k) + 1, &x[k]);
  read_double(ctx, depth_of(n) + 1, &v);
  for (int k = 0; k < n; ++k) read_double(ctx, depth_of(n + 1 + k) + 1, &y[k]);

  // V's stride per dimension: dimension 2 (k = 1) fastest, then 1, then 3, 4, ...
  int64_t stride[kInterpnMaxDims];
  if (n == 1) {
    stride[0] = 1;
  } else {
    stride[1] = 1;
    stride[0] = x[1].count;
    int64_t s = x[0].count * x[1].count;
    for (int k = 2; k < n; ++k) {
      stride[k] = s;
      s *= x[k].count;
    }
  }
  GridView g[kInterpnMaxDims];
  for (int k = 0; k < n; ++k)
    g[k] = GridView{x[k].re, x[k].count, x[k].count >= 2 && x[k].re[0] > x[k].re[x[k].count - 1]};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Cell cell;
  for (int64_t j = 0; j < count; ++j) {
    bool outside = false;
    for (int k = 0; k < n && !outside; ++k) {
      const double q = y[k].re[j];
      if (!inside(g[k], q)) {
        outside = true;
        break;
      }
      const int64_t i = bisect_increasing(g[k], q);
      const double a = g[k].at(i), b = g[k].at(i + 1);
      int64_t lo = i, up = i + 1;
      switch (method) {
        case Method::Linear:
          if (b == a) {
            cell.wl[k] = 1.0;
            cell.wu[k] = 0.0;
          } else {
            cell.wl[k] = (b - q) / (b - a);
            cell.wu[k] = (q - a) / (b - a);
          }
          break;
        case Method::Nearest: lo = up = std::fabs(b - q) < std::fabs(q - a) ? i + 1 : i; break;
        case Method::Previous: lo = up = i; break;
        case Method::Next: lo = up = q > a ? i + 1 : i; break;
      }
      cell.lower[k] = g[k].real_index(lo);
      cell.upper[k] = g[k].real_index(up);
    }
    if (outside) {
      rre[j] = nan;
      if (cplx) rim[j] = nan;
      continue;
    }
    if (method != Method::Linear) {
      int64_t at = 0;
      for (int k = 0; k < n; ++k) at += cell.lower[k] * stride[k];
      rre[j] = v.re[at];
      if (cplx) rim[j] = v.im[at];
      continue;
    }
    double sr = 0.0, si = 0.0;
    const uint32_t corners = 1u << n;
    for (uint32_t c = 0; c < corners; ++c) {
      int64_t at = 0;
      double w = 1.0;
      for (int k = 0; k < n; ++k) {
        const bool hi = (c >> k) & 1u;
        at += (hi ? cell.upper[k] : cell.lower[k]) * stride[k];
        w *= hi ? cell.wu[k] : cell.wl[k];
      }
      sr += w * v.re[at];
      if (cplx) si += w * v.im[at];
    }
    rre[j] = sr;
    if (cplx) rim[j] = si;
  }
  return stk_remove(ctx, 1, nargin);
}
