// Parts and patterns of arrays: diagonals, triangular parts, replication,
// grids, repeated differences and Kronecker products. tril and triu work in
// place on their argument; the others build their result above the arguments
// and move it down, so that a failure leaves the arguments as they were.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/local_queries.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/arrays.h"

namespace {

constexpr int kMaxGridArgs = 16;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

int arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

void zero_element(const ArrayArg& a, int64_t k) {
  std::memset(a.re + k * a.esize, 0, a.esize);
  if (a.im) std::memset(a.im + k * a.esize, 0, a.esize);
}

// Reads an optional integer argument on top (when present) and pops it.
int pop_optional_int(EngineContext* ctx, bool present, int32_t* v) {
  if (!present) return kOk;
  return arg_error(stk_pop_int(ctx, v));
}

}  // namespace

int bi_diag(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 2) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  int32_t k = 0;
  if (nargin == 2) TN_TRY(arg_error(stk_get_int(ctx, 0, &k)));
  const int depth = nargin - 1;
  ArrayArg x;
  if (!array_arg(ctx, depth, &x)) return kWrongArgType;
  if (x.count == 0) {
    if (depth) stk_drop(ctx);
    return kOk;
  }
  if (x.ndims > 2) return kBadDimension;
  const int64_t rows = x.dims[0], cols = x.dims[1];
  const int64_t below = k < 0 ? -static_cast<int64_t>(k) : 0;  // row of the diagonal's start
  const int64_t right = k > 0 ? k : 0;                          // its column
  if (rows == 1 || cols == 1) {
    // A vector along diagonal k of a square zero matrix.
    const int64_t n = x.count, m = n + below + right;
    TN_TRY(gather_push(ctx, x, Shape{2, {m, m}}, [&](const int64_t* t) -> int64_t {
      const int64_t i = t[0] - below;
      return (t[1] - t[0] == k && i >= 0 && i < n) ? i : -1;
    }));
  } else {
    int64_t len = 0;
    if (-rows < k && k < cols) len = k <= 0 ? std::min(rows + k, cols) : std::min(rows, cols - k);
    TN_TRY(gather_push(ctx, x, Shape{2, {len, len > 0 ? 1 : 0}}, [&](const int64_t* t) {
      return (t[0] + below) * cols + t[0] + right;
    }));
  }
  return remove_under_top(ctx, nargin);
}

int bi_tril(EngineContext* ctx, int which, int nargin) {
  if (nargin < 1 || nargin > 2) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  int32_t k = 0;
  if (nargin == 2) {
    ArrayArg x;
    if (!array_arg(ctx, 1, &x)) return kWrongArgType;
    TN_TRY(pop_optional_int(ctx, true, &k));
  }
  ArrayArg a;
  if (!array_arg(ctx, 0, &a)) return kWrongArgType;
  if (a.ndims > 2) return kBadDimension;
  const int64_t rows = a.dims[0], cols = a.dims[1];
  for (int64_t i = 0; i < rows; ++i)
    for (int64_t j = 0; j < cols; ++j) {
      const bool zero = which == kTril ? j > i + k : j < i + k;
      if (zero) zero_element(a, i * cols + j);
    }
  return kOk;
}

namespace {

// Pushes the tiling of a (shape src) to shape out. Rows are stored whole, so
// each row of the result is its source row copied side by side as often as
// the columns repeat: block copies, not a subscript walk per element.
int repmat_push(EngineContext* ctx, const ArrayArg& a, const Shape& src, const Shape& out) {
  uint8_t *re = nullptr, *im = nullptr;
  TN_TRY(push_like(ctx, a, out, a.cplx, &re, &im));
  const int64_t n = out.count();
  if (n == 0) return kOk;
  const int64_t es = a.esize, cols = out.d[1];
  const size_t row_bytes = static_cast<size_t>(src.dim(1) * es);
  const int64_t copies = cols / src.dim(1);
  int64_t t[kShapeMaxDims] = {};  // subscripts of the result row's first element
  int64_t s[kShapeMaxDims] = {};
  for (int64_t at = 0; at < n; at += cols) {
    for (int i = 0; i < out.ndims; ++i) s[i] = t[i] % src.dim(i);
    const int64_t from = linear_from_subs(src, s, out.ndims) * es;
    for (int64_t k = 0; k < copies; ++k) {
      std::memcpy(re + at * es + k * int64_t(row_bytes), a.re + from, row_bytes);
      if (im) std::memcpy(im + at * es + k * int64_t(row_bytes), a.im + from, row_bytes);
    }
    t[1] = cols - 1;  // the odometer steps on to the next row
    subs_next(out, t);
  }
  return kOk;
}

Shape tiled(const Shape& src, const Shape& reps) {
  Shape out;
  out.ndims = std::max(src.ndims, reps.ndims);
  for (int i = 0; i < out.ndims; ++i) out.d[i] = tn::mul64(src.dim(i), reps.dim(i));
  return out;
}

// The tiling written where the arguments began, when it fits above them:
// the source is set aside first, so that the result is written once, where
// it stays, instead of built above the arguments and moved down over them (a
// whole extra pass over a result many times the size of its source). Sets
// *done when it took the call; otherwise the stack is as it was.
int repmat_over_arguments(EngineContext* ctx, int nargin, const ArrayArg& a, const Shape& src,
                          const Shape& out, bool* done) {
  *done = false;
  if (a.count == 0) return kOk;
  const size_t part = static_cast<size_t>(a.count) * a.esize;
  std::unique_ptr<uint8_t[]> aside(new (std::nothrow) uint8_t[a.im ? 2 * part : part]);
  if (!aside) return kOk;
  uint8_t *re = nullptr, *im = nullptr;
  // Room above the arguments is room where they began: the claim proves it
  // and is given back unwritten.
  TN_TRY(push_like(ctx, a, out, a.cplx, &re, &im));
  stk_drop(ctx);
  std::memcpy(aside.get(), a.re, part);
  if (a.im) std::memcpy(aside.get() + part, a.im, part);
  ArrayArg from = a;
  from.dims = nullptr;  // they lay in the dropped item; src holds the shape
  from.re = aside.get();
  from.im = a.im ? aside.get() + part : nullptr;
  for (int k = 0; k < nargin; ++k) stk_drop(ctx);
  *done = true;
  return repmat_push(ctx, from, src, out);
}

}  // namespace

int bi_repmat(EngineContext* ctx, int nargin) {
  if (nargin < 2 || nargin > 3) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  Shape reps;
  if (nargin == 2) {
    int n = 0;
    TN_TRY(read_int_vector(ctx, 0, reps.d, kShapeMaxDims, &n));
    if (n == 0) return kArgOutOfRange;
    reps.ndims = n;
    if (n == 1) reps = Shape{2, {reps.d[0], reps.d[0]}};
  } else {
    const uint32_t* dm = desc_at(ctx, 1);
    if (dm[0] != kKindReal && dm[0] != kKindComplex) return kWrongArgType;
    int32_t m = 0, n = 0;
    TN_TRY(arg_error(stk_get_int(ctx, 1, &m)));
    TN_TRY(arg_error(stk_get_int(ctx, 0, &n)));
    reps = Shape{2, {m, n}};
  }
  bool empty = false;
  for (int i = 0; i < reps.ndims; ++i) empty = empty || reps.d[i] < 1;
  ArrayArg a;
  if (!empty && array_arg(ctx, nargin - 1, &a) && a.ndims <= kShapeMaxDims) {
    const Shape src = shape_of(a);
    const Shape out = tiled(src, reps);
    bool done = false;
    TN_TRY(repmat_over_arguments(ctx, nargin, a, src, out, &done));
    if (done) return kOk;
  }
  return run_on_array(ctx, nargin - 1, [&](EngineContext* c, const ArrayArg& a) {
    if (a.ndims > kShapeMaxDims) return static_cast<int>(kArgOutOfRange);
    if (empty) return gather_push(c, a, Shape{2, {0, 0}}, [](const int64_t*) { return int64_t{-1}; });
    const Shape src = shape_of(a);
    const Shape out = tiled(src, reps);
    return repmat_push(c, a, src, out);
  });
}

int bi_ndgrid(EngineContext* ctx, int nargin, int nargout, int mesh) {
  if (nargout < 1) nargout = 1;
  if (nargin > kMaxGridArgs || nargout > kMaxGridArgs) return kArgOutOfRange;
  if (nargin < 1) return kTooFewInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  ArrayArg in[kMaxGridArgs];
  for (int i = 0; i < nargin; ++i)
    if (!array_arg(ctx, nargin - 1 - i, &in[i])) return kWrongArgType;
  // The grid's axes: meshgrid takes its first two inputs swapped; one input
  // stands for every axis.
  int axes = nargin;
  if (nargin == 1) {
    axes = mesh ? 2 : nargout;
    for (int i = 1; i < axes; ++i) in[i] = in[0];
  } else if (nargout > nargin) {
    return kTooManyOutputs;
  }
  if (mesh) std::swap(in[0], in[1]);
  Shape grid;
  grid.ndims = std::max(axes, 2);
  for (int i = 0; i < grid.ndims; ++i) grid.d[i] = i < axes ? in[i].count : 1;
  // meshgrid's grid has its x values along the columns: its outputs are the
  // grid's second and first.
  const int built = mesh ? 2 : nargout;
  const int outputs = std::min(built, nargout);
  auto axis_of = [&](int output) { return mesh ? 1 - output : output; };
  const int32_t height = ctx->desc_top;
  for (int o = outputs - 1; o >= 0; --o) {
    const int axis = axis_of(o);
    const int st = gather_push(ctx, in[axis], grid, [axis](const int64_t* t) { return t[axis]; });
    if (st != kOk) {
      drop_to(ctx, height);  // the outputs made so far go; the inputs stay
      return st;
    }
  }
  return stk_remove(ctx, outputs, nargin);
}

namespace {

// The first differences of the lines of from along the split's axis, to
// `to` (which may be from itself: each result lies at or before the first
// element it reads).
void first_differences(const double* from, double* to, const AxisSplit& sp) {
  const int64_t kept = sp.length - 1, in = sp.inner;
  for (int64_t o = 0; o < sp.outer; ++o) {
    const double* f = from + o * sp.length * in;
    double* t = to + o * kept * in;
    for (int64_t k = 0; k < kept * in; ++k) t[k] = f[k + in] - f[k];
  }
}

// diff(x) of a real matrix: the axis (its first dimension longer than one)
// split, and the result's shape.
bool matrix_diff_split(const uint32_t* h, AxisSplit* sp, uint32_t* result) {
  if (h[0] != kKindReal) return false;
  Shape s;
  s.d[0] = h[1];
  s.d[1] = h[2];
  const int q = s.d[0] == 1 ? 1 : 0;
  *sp = axis_split(s, q);
  if (sp->length < 2) return false;  // an empty result, which the instructions push
  result[0] = kKindReal;
  result[1] = uint32_t(s.d[0] - (q == 0 ? 1 : 0));
  result[2] = uint32_t(s.d[1] - (q == 1 ? 1 : 0));
  return true;
}

bool diff_block_takes(EngineContext*, const LocalArg* args, int64_t, uint32_t* result) {
  AxisSplit sp;
  return matrix_diff_split(args[0].h, &sp, result);
}

void diff_block_write(EngineContext*, const LocalArg* args, const uint32_t*, uint64_t* dst, double*, uint8_t) {
  AxisSplit sp;
  uint32_t result[3];
  if (matrix_diff_split(args[0].h, &sp, result))
    first_differences(reinterpret_cast<const double*>(args[0].data), reinterpret_cast<double*>(dst), sp);
}

}  // namespace

const LocalResultHooks kDiffBlockHooks = {diff_block_takes, diff_block_write};

int bi_diff(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 3) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  ArrayArg x;
  if (!array_arg(ctx, nargin - 1, &x) || x.cls != ArrayArg::kDouble) return kWrongArgType;
  if (x.ndims > kShapeMaxDims) return kArgOutOfRange;
  int32_t n = 1;
  if (nargin >= 2) {
    const int depth = nargin - 2;
    ArrayArg na;
    if (array_arg(ctx, depth, &na) && na.count > 1) return kBadSize;
    if (!(array_arg(ctx, depth, &na) && na.count == 0)) TN_TRY(arg_error(stk_get_int(ctx, depth, &n)));
    if (n < 0) return kArgOutOfRange;
  }
  const Shape s = shape_of(x);
  int q = 0;
  if (nargin == 3) {
    int32_t dim = 0;
    TN_TRY(arg_error(stk_get_int(ctx, 0, &dim)));
    if (dim < 1) return kBadDimension;
    q = dim - 1;
  } else {
    while (q < s.ndims && s.d[q] == 1) ++q;
    if (q == s.ndims) q = 0;
  }
  const AxisSplit sp = axis_split(s, q);
  if (sp.length <= n) {
    TN_TRY(stk_push_empty(ctx));
    return remove_under_top(ctx, nargin);
  }
  if (n == 0) {
    // No difference taken: the operand is the result, as it is. The passes
    // below assume at least one.
    for (int k = 1; k < nargin; ++k) stk_drop(ctx);
    return kOk;
  }
  Shape out = s;
  while (out.ndims <= q) out.d[out.ndims++] = 1;
  out.d[q] = sp.length - n;
  if (n == 1 && nargin == 1 && desc_at(ctx, 0)[0] == kKindReal && s.ndims == 2) {
    // The first difference of a real matrix, the common case, is written
    // over its argument (the stack's own copy) and the item shrunk: no
    // result to push and move down. Every element is read before it is
    // written, since each result lies at or before the first element it
    // reads.
    double* v = reinterpret_cast<double*>(const_cast<uint8_t*>(x.re));
    first_differences(v, v, sp);
    return stk_shrink_top_matrix(ctx, out.d[0], out.d[1]);
  }
  // The result is pushed before anything is computed, so that a failure
  // leaves the operand as it was. Each line takes its n passes of
  // differences on a copy; each pass leaves one value fewer at its front.
  uint8_t *re = nullptr, *im = nullptr;
  TN_TRY(push_like(ctx, x, out, x.cplx, &re, &im));
  const int64_t kept = sp.length - n;
  std::vector<double> line(static_cast<size_t>(n > 1 ? sp.length : 0));
  for (int part = 0; part < 2; ++part) {
    const uint8_t* from = part ? x.im : x.re;
    uint8_t* to = part ? im : re;
    if (!from) continue;
    if (n == 1) {
      // The first difference, the common case, straight from the operand
      // into the result: one pass, neighbours inner elements apart.
      for (int64_t o = 0; o < sp.outer; ++o) {
        const uint8_t* f = from + 8 * o * sp.length * sp.inner;
        uint8_t* t = to + 8 * o * kept * sp.inner;
        for (int64_t k = 0; k < kept * sp.inner; ++k)
          tn::st_f64(t + 8 * k, tn::ld_f64(f + 8 * (k + sp.inner)) - tn::ld_f64(f + 8 * k));
      }
      continue;
    }
    for (int64_t o = 0; o < sp.outer; ++o)
      for (int64_t si = 0; si < sp.inner; ++si) {
        for (int64_t k = 0; k < sp.length; ++k) line[k] = tn::ld_f64(from + 8 * ((o * sp.length + k) * sp.inner + si));
        for (int32_t pass = 0; pass < n; ++pass)
          for (int64_t k = 0; k + 1 < sp.length - pass; ++k) line[k] = line[k + 1] - line[k];
        for (int64_t k = 0; k < kept; ++k) tn::st_f64(to + 8 * ((o * kept + k) * sp.inner + si), line[k]);
      }
  }
  return remove_under_top(ctx, nargin);
}

int bi_kron(EngineContext* ctx) {
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  ArrayArg a, b;
  if (!array_arg(ctx, 1, &a) || !a.plain || !array_arg(ctx, 0, &b) || !b.plain)
    return kWrongArgType;
  const int64_t ra = a.dims[0], ca = a.dims[1], rb = b.dims[0], cb = b.dims[1];
  const int64_t rows = ra * rb, cols = ca * cb;
  if (rows > kInt32Max || cols > kInt32Max) return kDataStackOverflow;
  const bool cplx = a.cplx || b.cplx;
  double *re = nullptr, *im = nullptr;
  TN_TRY(stk_push_matrix(ctx, static_cast<int32_t>(rows), static_cast<int32_t>(cols), &re,
                         cplx ? &im : nullptr));
  auto get = [](const uint8_t* part, int64_t k) { return part ? tn::ld_f64(part + 8 * k) : 0.0; };
  for (int64_t i = 0; i < ra; ++i)
    for (int64_t j = 0; j < ca; ++j) {
      const double xr = get(a.re, i * ca + j), xi = get(a.im, i * ca + j);
      for (int64_t k = 0; k < rb; ++k)
        for (int64_t l = 0; l < cb; ++l) {
          const double yr = get(b.re, k * cb + l), yi = get(b.im, k * cb + l);
          const int64_t at = (i * rb + k) * cols + j * cb + l;
          // A real factor scales the other's parts (no 0 * Inf from a
          // missing imaginary part).
          if (!a.im) {
            re[at] = xr * yr;
            if (im) im[at] = xr * yi;
          } else if (!b.im) {
            re[at] = xr * yr;
            im[at] = xi * yr;
          } else {
            re[at] = xr * yr - xi * yi;
            im[at] = xr * yi + xi * yr;
          }
        }
    }
  return remove_under_top(ctx, 2);
}
