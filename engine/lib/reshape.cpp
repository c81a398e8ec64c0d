// Reshaping and moving elements between positions: reshape and squeeze,
// permute and ipermute, the flips, rot90, and the conversions between
// subscripts and row-major linear indices. Results are built above the
// arguments and moved down; containers go through their references.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/arrays.h"

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int kMaxSub2indArgs = 17;
constexpr int kMaxOutputs = 16;

int arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

// Element count and dims of the array or container at depth.
int item_shape(EngineContext* ctx, int depth, Shape* s, int64_t* count) {
  ArrayArg a;
  if (array_arg(ctx, depth, &a)) {
    if (a.ndims > kShapeMaxDims) return kArgOutOfRange;
    *s = shape_of(a);
    *count = a.count;
    return kOk;
  }
  if (!is_plain_container(ctx, depth)) return kWrongArgType;
  if (desc_at(ctx, depth)[2] == kContStruct) {  // one entry
    *s = Shape{2, {1, 1}};
    *count = 1;
    return kOk;
  }
  int nd = 0;
  const uint32_t* dims = nullptr;
  int32_t n = 0;
  TN_TRY(arg_error(stk_get_container_dims(ctx, depth, &nd, &dims, &n, nullptr)));
  *count = n;
  if (!dims) {
    *s = Shape{2, {n > 0 ? 1 : 0, n}};
    return kOk;
  }
  s->ndims = nd < kShapeMaxDims ? nd : kShapeMaxDims;
  for (int k = 0; k < s->ndims; ++k) s->d[k] = dims[k];
  return kOk;
}

// Gives the top item the sizes in s (already checked against its count).
int apply_sizes(EngineContext* ctx, const Shape& s) {
  int32_t dims[kShapeMaxDims];
  for (int k = 0; k < s.ndims; ++k) dims[k] = static_cast<int32_t>(s.d[k]);
  return arg_error(stk_reshape(ctx, s.ndims, dims));
}

// Storage order of the dimensions of s that are not 1, most rapidly varying
// first: the column, the row, then the pages in their order.
int storage_order(const Shape& s, const bool* kept, int* order) {
  int count = 0;
  auto take = [&](int k) {
    if (k < s.ndims && kept[k]) order[count++] = k;
  };
  take(1);
  take(0);
  for (int k = 2; k < s.ndims; ++k) take(k);
  return count;
}

// squeeze drops every dimension of size 1, keeping every element at its
// subscripts. The sizes alone change when the remaining dimensions keep their
// storage order (as for a row, a column, or pages of size 1 left out);
// otherwise (1 x n x m, n x 1 x m, ...) the elements move.
int squeeze(EngineContext* ctx) {
  Shape s;
  int64_t count = 0;
  TN_TRY(item_shape(ctx, 0, &s, &count));
  Shape out;
  out.ndims = 0;
  int source[kShapeMaxDims];  // result dimension i is source dimension source[i]
  bool kept[kShapeMaxDims] = {};
  for (int k = 0; k < s.ndims; ++k)
    if (s.d[k] != 1) {
      kept[k] = true;
      source[out.ndims] = k;
      out.d[out.ndims++] = s.d[k];
    }
  const int dims = out.ndims;
  while (out.ndims < 2) out.d[out.ndims++] = 1;
  // The result's order, told in source dimensions, against the source's.
  int before[kShapeMaxDims], after[kShapeMaxDims];
  const int n = storage_order(s, kept, before);
  bool all[kShapeMaxDims];
  for (int i = 0; i < kShapeMaxDims; ++i) all[i] = i < dims;
  const int m = storage_order(out, all, after);
  bool same = n == m;
  for (int i = 0; same && i < n; ++i) same = before[i] == source[after[i]];
  if (same || count == 0) return apply_sizes(ctx, out);
  return run_on_array(ctx, 0, [&](EngineContext* c, const ArrayArg& a) {
    const Shape src = shape_of(a);
    return gather_push(c, a, out, [&](const int64_t* t) {
      int64_t subs[kShapeMaxDims] = {};
      for (int i = 0; i < dims; ++i) subs[source[i]] = t[i];
      return linear_from_subs(src, subs, src.ndims);
    });
  });
}

}  // namespace

int bi_reshape(EngineContext* ctx, int nargin) {
  if (nargin == kSqueeze) return squeeze(ctx);
  if (nargin < 1) return kTooFewInputs;
  if (nargin - 1 > kShapeMaxDims) return kArgOutOfRange;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  if (nargin == 1) return arg_error(stk_reshape(ctx, 0, nullptr));
  Shape a_shape;
  int64_t count = 0;
  TN_TRY(item_shape(ctx, nargin - 1, &a_shape, &count));

  Shape s;
  int computed = -1;
  if (nargin == 2) {
    int n = 0;
    TN_TRY(read_int_vector(ctx, 0, s.d, kShapeMaxDims, &n));
    s.ndims = n;
  } else {
    s.ndims = nargin - 1;
    for (int k = 0; k < s.ndims; ++k) {
      const int depth = nargin - 2 - k;
      ArrayArg size_arg;
      if (array_arg(ctx, depth, &size_arg) && size_arg.count == 0) {
        if (computed >= 0) return kBadSize;  // only one size can be left open
        computed = k;
        s.d[k] = 1;
        continue;
      }
      int32_t v = 0;
      TN_TRY(arg_error(stk_get_int(ctx, depth, &v)));
      s.d[k] = v;
    }
  }
  int64_t product = 1;
  for (int k = 0; k < s.ndims; ++k) {
    if (s.d[k] < 0 || s.d[k] > kInt32Max) return kBadSize;
    if (k != computed) product = tn::mul64(product, s.d[k]);
  }
  if (computed >= 0) s.d[computed] = product == 0 ? 0 : count / product;
  if (s.count() != count) return kBadSize;
  if (s.ndims == 1) s.d[s.ndims++] = 1;
  if (s.ndims == 0) s = Shape{2, {1, 1}};
  for (int k = 1; k < nargin; ++k) stk_drop(ctx);
  return apply_sizes(ctx, s);
}

int bi_permute(EngineContext* ctx, int inverse) {
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  int64_t order[kShapeMaxDims];
  int k = 0;
  TN_TRY(read_int_vector(ctx, 0, order, kShapeMaxDims, &k));
  bool seen[kShapeMaxDims] = {};
  for (int i = 0; i < k; ++i) {
    if (order[i] < 1 || order[i] > k || seen[order[i] - 1]) return kNotPermutation;
    seen[order[i] - 1] = true;
  }
  int perm[kShapeMaxDims];  // result dimension i takes source dimension perm[i]
  for (int i = 0; i < k; ++i) {
    if (inverse)
      perm[order[i] - 1] = i;
    else
      perm[i] = static_cast<int>(order[i] - 1);
  }
  return run_on_array(ctx, 1, [&](EngineContext* c, const ArrayArg& a) {
    if (a.ndims > kShapeMaxDims) return static_cast<int>(kArgOutOfRange);
    const Shape src = shape_of(a);
    Shape out;
    out.ndims = k > a.ndims ? k : a.ndims;
    for (int i = 0; i < out.ndims; ++i) out.d[i] = src.dim(i < k ? perm[i] : i);
    return gather_push(c, a, out, [&](const int64_t* t) {
      int64_t s[kShapeMaxDims] = {};
      for (int i = 0; i < out.ndims; ++i) s[i < k ? perm[i] : i] = t[i];
      return linear_from_subs(src, s, out.ndims);
    });
  });
}

namespace {

// Reverses the order along axis q of the array or container at depth (with
// `depth` arguments above it, removed with it).
int flip_axis(EngineContext* ctx, int depth, int q) {
  return run_on_array(ctx, depth, [q](EngineContext* c, const ArrayArg& a) {
    const Shape s = shape_of(a);
    const int64_t n = s.dim(q);
    return gather_push(c, a, s, [&](const int64_t* t) {
      int64_t u[kShapeMaxDims];
      for (int i = 0; i < s.ndims; ++i) u[i] = t[i];
      if (q < s.ndims) u[q] = n - 1 - t[q];
      return linear_from_subs(s, u, s.ndims);
    });
  });
}

}  // namespace

int bi_fliplr(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  return flip_axis(ctx, 0, 1);
}

int bi_flipud(EngineContext* ctx, int selector) {
  if (selector == kFlipUd) {
    if (!stk_has_item(ctx, 0)) return kBadArgument;
    return flip_axis(ctx, 0, 0);
  }
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  int32_t d = 0;
  TN_TRY(arg_error(stk_get_int(ctx, 0, &d)));
  if (d < 1) return kBadDimension;
  return flip_axis(ctx, 1, d - 1);
}

int bi_rot90(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 2) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  int32_t k = 1;
  if (nargin == 2) TN_TRY(arg_error(stk_get_int(ctx, 0, &k)));
  const int turns = k & 3;  // -1 acts as 3
  const int depth = nargin - 1;
  Shape s;
  int64_t count = 0;
  TN_TRY(item_shape(ctx, depth, &s, &count));
  if (turns == 0 || count == 0) {
    if (depth) stk_drop(ctx);  // A itself is the result
    return kOk;
  }
  return run_on_array(ctx, depth, [turns](EngineContext* c, const ArrayArg& a) {
    const Shape src = shape_of(a);
    const int64_t rows = src.d[0], cols = src.d[1];
    Shape out = src;
    if (turns != 2) std::swap(out.d[0], out.d[1]);
    return gather_push(c, a, out, [&](const int64_t* t) {
      int64_t u[kShapeMaxDims];
      for (int i = 2; i < src.ndims; ++i) u[i] = t[i];
      const int64_t i = t[0], j = t[1];
      switch (turns) {
        case 1: u[0] = j; u[1] = cols - 1 - i; break;
        case 2: u[0] = rows - 1 - i; u[1] = cols - 1 - j; break;
        default: u[0] = rows - 1 - j; u[1] = i; break;
      }
      return linear_from_subs(src, u, src.ndims);
    });
  });
}

namespace {

// Sizes of a siz argument: one entry stands for [n n].
int read_siz(EngineContext* ctx, int depth, Shape* siz) {
  int n = 0;
  TN_TRY(read_int_vector(ctx, depth, siz->d, kShapeMaxDims, &n));
  siz->ndims = n;
  if (n == 1) {
    siz->d[1] = siz->d[0];
    siz->ndims = 2;
  }
  return kOk;
}

int64_t floor_mod(__int128 a, int64_t d, __int128* quotient) {
  __int128 q = a / d, r = a % d;
  if (r != 0 && ((r < 0) != (d < 0))) {
    r += d;
    --q;
  }
  *quotient = q;
  return static_cast<int64_t>(r);
}

}  // namespace

int bi_sub2ind(EngineContext* ctx, int nargin) {
  if (nargin < 2) return kTooFewInputs;
  if (nargin > kMaxSub2indArgs) return kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  const int nsubs = nargin - 1;
  Shape siz;
  TN_TRY(read_siz(ctx, nargin - 1, &siz));
  if (siz.ndims > nsubs) return kTooFewInputs;
  if (nsubs == 1) return remove_under_top(ctx, 1);

  // Subscripts of one shape, or scalars standing for every position.
  ArrayArg subs[kMaxSub2indArgs];
  const ArrayArg* shape = nullptr;
  for (int i = 0; i < nsubs; ++i) {
    if (!array_arg(ctx, nsubs - 1 - i, &subs[i])) return kWrongArgType;
    const ArrayArg& a = subs[i];
    if (a.count == 1) continue;
    if (!shape) {
      shape = &a;
    } else if (a.ndims != shape->ndims || !std::equal(a.dims, a.dims + a.ndims, shape->dims)) {
      return kIncompatibleSize;
    }
  }
  if (!shape) shape = &subs[0];
  if (shape->ndims > kShapeMaxDims) return kArgOutOfRange;
  ArrayArg proto;  // a plain double
  uint8_t *re = nullptr, *im = nullptr;
  TN_TRY(push_like(ctx, proto, shape_of(*shape), false, &re, &im));
  const int64_t n = shape->count;
  for (int64_t e = 0; e < n; ++e) {
    // Row-major: ((page * d0 + s0) * d1 + s1), pages folded from the last
    // subscript down; in double, so no size can overflow.
    double s[kMaxSub2indArgs];
    for (int i = 0; i < nsubs; ++i)
      s[i] = std::trunc(element_as_double(subs[i], subs[i].count == 1 ? 0 : e)) - 1;
    double page = 0;
    for (int k = nsubs - 1; k >= 2; --k) page = page * static_cast<double>(siz.dim(k)) + s[k];
    const double linear =
        (page * static_cast<double>(siz.dim(0)) + s[0]) * static_cast<double>(siz.dim(1)) + s[1];
    tn::st_f64(re + 8 * e, linear + 1);
  }
  return remove_under_top(ctx, nargin);
}

int bi_ind2sub(EngineContext* ctx, int nargout) {
  if (nargout < 1) nargout = 1;
  if (nargout > kMaxOutputs) return kTooManyOutputs;
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  Shape siz;
  TN_TRY(read_siz(ctx, 1, &siz));
  if (nargout < siz.ndims) return kTooFewOutputs;
  for (int k = 0; k < siz.ndims; ++k)
    if (siz.d[k] < 1) return kBadSize;  // no size to divide by
  ArrayArg ind;
  if (!array_arg(ctx, 0, &ind)) return kWrongArgType;
  if (ind.ndims > kShapeMaxDims) return kArgOutOfRange;
  const Shape shape = shape_of(ind);
  ArrayArg proto;
  const int32_t height = ctx->desc_top;
  // The last output first, so the first lies on top.
  for (int j = nargout - 1; j >= 0; --j) {
    uint8_t *re = nullptr, *im = nullptr;
    if (const int status = push_like(ctx, proto, shape, false, &re, &im); status != kOk) {
      drop_to(ctx, height);  // the outputs made so far go; the arguments stay
      return status;
    }
    if (!array_arg(ctx, nargout - j, &ind)) return TN_ILLEGAL();  // pointers after the push
    for (int64_t e = 0; e < ind.count; ++e) {
      double sub = 1;
      if (j < siz.ndims) {
        // Column first, then row, then the further subscripts: each the
        // remaining quotient modulo its size, so large offsets wrap.
        __int128 q = static_cast<__int128>(tn::dtoi64(std::trunc(element_as_double(ind, e)))) - 1;
        const int order[kShapeMaxDims] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int step = 0; step < siz.ndims; ++step) {
          const int k = order[step];
          const int64_t r = floor_mod(q, siz.d[k], &q);
          if (k == j) {
            sub = static_cast<double>(r) + 1;
            break;
          }
        }
      }
      tn::st_f64(re + 8 * e, sub);
    }
  }
  return stk_remove(ctx, nargout, 2);
}
