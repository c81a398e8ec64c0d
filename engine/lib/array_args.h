// Shared by the array built-ins (construction, reductions, extremes, search):
// the lines of an array along one dimension, result shapes, dimension
// arguments and the undoing of pushes when a later step fails. Internal to
// the engine base library.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"

namespace arr {

// A getter's "wrong type" is reported as the argument error, for which the
// interpreter tries an object operand's class method.
inline int as_arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

// True when the n arguments of a call lie on the stack.
inline bool args_present(const EngineContext* ctx, int n) {
  return n >= 0 && (n == 0 || stk_has_item(ctx, n - 1));
}

// Size of dimension k (0-based); dimensions past the last read as 1.
inline int64_t dim_size(int ndims, const uint32_t* dims, int k) {
  return k < ndims ? int64_t{dims[k]} : 1;
}

// The lines of an array along dimension d: element k of line (o, i) lies at
// o * length * stride + k * stride + i, and the line's result (its dimension
// set to 1) at o * stride + i. Storage is row-major, so the column dimension
// (1) varies fastest, then the rows (0), then dimensions 2, 3, ... in order.
struct DimLines {
  int64_t outer;
  int64_t stride;
  int64_t length;
};

// A negative d becomes the first dimension above 1 (0 when none).
inline int default_dim(int ndims, const uint32_t* dims) {
  for (int k = 0; k < ndims; ++k)
    if (dims[k] > 1) return k;
  return 0;
}

inline DimLines dim_lines(int ndims, const uint32_t* dims, int d) {
  auto rank = [](int k) { return k == 1 ? 0 : k == 0 ? 1 : k; };
  DimLines g{1, 1, dim_size(ndims, dims, d)};
  for (int k = 0; k < std::max(ndims, 2); ++k) {
    if (k == d) continue;
    if (rank(k) < rank(d))
      g.stride *= dim_size(ndims, dims, k);
    else
      g.outer *= dim_size(ndims, dims, k);
  }
  return g;
}

// The dimensions of a result along d: the argument's with d set to 1 (a d
// past the last leaves them as they are); the pushers' shape rules drop the
// trailing ones. kArgOutOfRange for an argument of more than 16 dimensions.
struct ResultDims {
  int ndims = 0;
  int32_t dims[kMaxDims];
};
inline int reduced_dims(int ndims, const uint32_t* dims, int d, ResultDims* out) {
  if (ndims > kMaxDims) return kArgOutOfRange;
  out->ndims = ndims;
  for (int k = 0; k < ndims; ++k) out->dims[k] = k == d ? 1 : static_cast<int32_t>(dims[k]);
  return kOk;
}

// A dimension argument at depth, 1-based in the language: *d receives it
// 0-based. kBadDimension below 1; the integer getter's errors otherwise.
inline int peek_dim_arg(EngineContext* ctx, int depth, int* d) {
  int32_t v = 0;
  int st = stk_get_int(ctx, depth, &v);
  if (st != kOk) return as_arg_error(st);
  if (v < 1) return kBadDimension;
  *d = v - 1;
  return kOk;
}

// The stack heights before a sequence of pushes, to withdraw them all when a
// later push fails (pushes only ever append).
struct StackMark {
  int32_t desc_top;
  int32_t data_top;
};
inline StackMark stack_mark(const EngineContext* ctx) { return {ctx->desc_top, ctx->data_top}; }
inline int stack_restore(EngineContext* ctx, StackMark m, int status) {
  ctx->desc_top = m.desc_top;
  ctx->data_top = m.data_top;
  return status;
}

// Drops the n top items.
inline void drop_items(EngineContext* ctx, int n) {
  for (int i = 0; i < n; ++i) stk_drop(ctx);
}

// True when the item is a typed array whose element type is unknown: the
// array built-ins report it as kIllegalError rather than as a wrong type.
inline bool bad_element_size(EngineContext* ctx, int depth) {
  TypedView t;
  return typed_view(ctx, depth, &t) && t.size == 0;
}

// Pushes an integer, char or logical array of the given element type, keeping
// the payload subtype (the class) of the array it was derived from.
inline int push_int_like(EngineContext* ctx, uint32_t subtype, uint32_t type, int ndims,
                         const int32_t* dims, void** data) {
  if (subtype == kPayChar) return stk_push_char_array(ctx, ndims, dims, reinterpret_cast<uint16_t**>(data));
  if (subtype == kPayLogical)
    return stk_push_logical_array(ctx, ndims, dims, reinterpret_cast<uint8_t**>(data));
  return stk_push_typed_array(ctx, ndims, dims, static_cast<int>(type & 127),
                              (type & kElemUnsigned) ? 1 : 0, data);
}

}  // namespace arr
