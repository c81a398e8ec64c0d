// trace, cov, cross and dot: small products along a dimension or over a
// whole matrix. Arguments are checked first; results are built above them
// and moved down (cov centres its argument's columns in place once its
// result stands).
#include <algorithm>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/ranges.h"

namespace {

constexpr int kCrossLength = 3;

int arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

bool same_dims(const ArrayArg& a, const ArrayArg& b) {
  return a.ndims == b.ndims && std::equal(a.dims, a.dims + a.ndims, b.dims);
}

// First dimension whose size is not 1 (0 when there is none).
int default_dim(const ArrayArg& a) {
  for (int k = 0; k < a.ndims; ++k)
    if (a.dims[k] != 1) return k;
  return 0;
}

// A vector of n elements: every dimension 1 or n.
bool is_vector_of(const ArrayArg& a, int64_t n) {
  for (int k = 0; k < a.ndims; ++k)
    if (a.dims[k] != 1 && a.dims[k] != n) return false;
  return true;
}

double at(const uint8_t* part, int64_t k) { return part ? tn::ld_f64(part + 8 * k) : 0.0; }

// The optional dimension argument (nargin 3) as a 0-based axis.
int read_dim(EngineContext* ctx, int nargin, int* q) {
  *q = -1;
  if (nargin < 3) return kOk;
  int32_t d = 0;
  TN_TRY(arg_error(stk_get_int(ctx, 0, &d)));
  *q = d - 1;
  return kOk;
}

// The arguments cross and dot share: two arrays and an optional dimension
// (q stays -1 without one).
int read_pair_args(EngineContext* ctx, int nargin, const char* spec, int* q, ArrayArg* a,
                   ArrayArg* b) {
  if (nargin < 2 || nargin > 3) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, spec));
  TN_TRY(read_dim(ctx, nargin, q));
  array_arg(ctx, nargin - 1, a);
  array_arg(ctx, nargin - 2, b);
  return kOk;
}

}  // namespace

int bi_trace(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  TN_TRY(arg_error(stk_get_matrix(ctx, 0, &rows, &cols, &re, &im)));
  double sr = 0, si = 0;
  const int32_t n = std::min(rows, cols);
  for (int32_t i = 0; i < n; ++i) {
    sr += re[static_cast<int64_t>(i) * (cols + 1)];
    if (im) si += im[static_cast<int64_t>(i) * (cols + 1)];
  }
  TN_TRY(im ? stk_push_complex(ctx, sr, si) : stk_push_real(ctx, sr));
  return remove_under_top(ctx, 1);
}

int bi_cov(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 2) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, "C[r"));
  double flag = 0;
  if (nargin == 2) TN_TRY(arg_error(stk_get_real_scalar(ctx, 0, &flag)));
  const int depth = nargin - 1;
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  TN_TRY(arg_error(stk_get_matrix(ctx, depth, &rows, &cols, &re, &im)));
  if (rows <= 1) {
    TN_TRY(stk_push_zeros(ctx, cols, cols, 0));
    return remove_under_top(ctx, nargin);
  }
  // The result is pushed first: once it stands, the argument may be centred
  // in place (it goes away), and no failure can follow.
  double* c = nullptr;
  TN_TRY(stk_push_matrix(ctx, cols, cols, &c, nullptr));
  stk_get_matrix(ctx, depth + 1, &rows, &cols, &re, &im);  // the argument did not move
  // Centre every column (both parts), then C(i, j) for j <= i, mirrored.
  for (int32_t j = 0; j < cols; ++j)
    for (double* part : {re, im}) {
      if (!part) continue;
      double sum = 0;
      for (int32_t k = 0; k < rows; ++k) sum += part[static_cast<int64_t>(k) * cols + j];
      const double mean = sum / rows;
      for (int32_t k = 0; k < rows; ++k) part[static_cast<int64_t>(k) * cols + j] -= mean;
    }
  const double div = flag == 0 ? rows - 1 : rows;
  for (int32_t i = 0; i < cols; ++i)
    for (int32_t j = 0; j <= i; ++j) {
      double s = 0;
      for (int32_t k = 0; k < rows; ++k) {
        const int64_t row = static_cast<int64_t>(k) * cols;
        s += re[row + i] * re[row + j];
        if (im) s += im[row + i] * im[row + j];
      }
      c[static_cast<int64_t>(i) * cols + j] = c[static_cast<int64_t>(j) * cols + i] = s / div;
    }
  return remove_under_top(ctx, nargin);
}

int bi_cross(EngineContext* ctx, int nargin) {
  int q = -1;
  ArrayArg a, b;
  TN_TRY(read_pair_args(ctx, nargin, "aa[i", &q, &a, &b));
  if (a.ndims > kShapeMaxDims) return kArgOutOfRange;
  bool by_position = false;  // both three elements: paired by position
  if (nargin == 3) {
    if (!same_dims(a, b)) return kIncompatibleSize;
    if (q < 0 || q >= a.ndims || a.dims[q] != kCrossLength) return kBadSize;
  } else if (a.count == kCrossLength && b.count == kCrossLength) {
    q = default_dim(a);
    by_position = true;
  } else {
    if (!same_dims(a, b)) return kIncompatibleSize;
    if (a.dims[1] == kCrossLength) {
      q = 1;
    } else {
      for (int k = 0; k < a.ndims && q < 0; ++k)
        if (a.dims[k] == kCrossLength) q = k;
      if (q < 0) return kBadSize;
    }
  }
  const Shape shape = shape_of(a);
  uint8_t *out = nullptr, *unused = nullptr;
  TN_TRY(push_like(ctx, a, shape, false, &out, &unused));
  array_arg(ctx, nargin, &a);
  array_arg(ctx, nargin - 1, &b);
  const AxisSplit sp = axis_split(shape, q);
  for (int64_t o = 0; o < sp.outer; ++o)
    for (int64_t s = 0; s < sp.inner; ++s) {
      int64_t ia[kCrossLength], ib[kCrossLength];
      for (int k = 0; k < kCrossLength; ++k) {
        ia[k] = (o * sp.length + k) * sp.inner + s;
        ib[k] = by_position ? k : ia[k];
      }
      const double p1 = at(a.re, ia[0]), p2 = at(a.re, ia[1]), p3 = at(a.re, ia[2]);
      const double q1 = at(b.re, ib[0]), q2 = at(b.re, ib[1]), q3 = at(b.re, ib[2]);
      tn::st_f64(out + 8 * ia[0], p2 * q3 - p3 * q2);
      tn::st_f64(out + 8 * ia[1], p3 * q1 - p1 * q3);
      tn::st_f64(out + 8 * ia[2], p1 * q2 - p2 * q1);
    }
  return remove_under_top(ctx, nargin);
}

int bi_dot(EngineContext* ctx, int nargin) {
  int q = -1;
  ArrayArg a, b;
  // Complex operands are taken: the imaginary products are subtracted (no
  // conjugation), so dot(1i, 1i) is -1.
  TN_TRY(read_pair_args(ctx, nargin, "AA[i", &q, &a, &b));
  if (a.ndims > kShapeMaxDims || b.ndims > kShapeMaxDims) return kArgOutOfRange;
  bool by_position = false;
  if (nargin == 3) {
    if (!same_dims(a, b)) return kIncompatibleSize;
    if (q < 0) return kBadDimension;
  } else if (a.count == b.count && is_vector_of(a, a.count) && is_vector_of(b, b.count)) {
    // A row and a column of equal length combine.
    q = default_dim(a);
    by_position = true;
  } else {
    if (!same_dims(a, b)) return kIncompatibleSize;
    q = 0;
    for (int k = a.ndims - 1; k >= 0; --k)
      if (a.dims[k] != 1) {
        q = k == 1 ? 0 : k;  // a matrix sums down its columns
        break;
      }
  }
  const Shape shape = shape_of(a);
  Shape result = shape;
  if (q < result.ndims) result.d[q] = 1;
  const AxisSplit sp = axis_split(shape, q);
  uint8_t *out = nullptr, *unused = nullptr;
  TN_TRY(push_like(ctx, a, result, false, &out, &unused));
  array_arg(ctx, nargin, &a);
  array_arg(ctx, nargin - 1, &b);
  for (int64_t o = 0; o < sp.outer; ++o)
    for (int64_t s = 0; s < sp.inner; ++s) {
      double re = 0, im = 0;
      for (int64_t k = 0; k < sp.length; ++k) {
        const int64_t ia = (o * sp.length + k) * sp.inner + s;
        const int64_t ib = by_position ? k : ia;
        re += at(a.re, ia) * at(b.re, ib);
        im += at(a.im, ia) * at(b.im, ib);
      }
      tn::st_f64(out + 8 * (o * sp.inner + s), re - im);
    }
  return remove_under_top(ctx, nargin);
}
