// Shape queries (ndims, size, length, numel, isempty) and the joining of
// lists (join, instruction 66). A list or structure reads as 1 x n (0 x 0 when
// empty); cells, typed arrays and matrices by their dimensions. Joining moves
// no element: adjacent list items already lie one after the other.
#include <algorithm>
#include <cstring>

#include "engine/lib/array_args.h"
#include "engine/lib/construct.h"

using namespace arr;

namespace {

// The shape of an item as the queries read it.
struct ItemShape {
  int ndims = 2;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  uint32_t two[2] = {0, 0};  // a list's or structure's sizes
};

bool is_list_or_struct(const uint32_t* d) {
  return d[0] == kKindContainer && (d[2] == kContList || d[2] == kContStruct);
}

int item_shape(EngineContext* ctx, int depth, ItemShape* s) {
  const uint32_t* d = desc_at(ctx, depth);
  if (is_list_or_struct(d)) {
    int32_t n = 0;
    TN_TRY(as_arg_error(stk_get_container(ctx, depth, &n, nullptr)));
    s->two[0] = n >= 1 ? 1 : 0;
    s->two[1] = static_cast<uint32_t>(n);
    s->dims = s->two;
    s->count = n;
    return kOk;
  }
  return as_arg_error(stk_get_array_info(ctx, depth, &s->ndims, &s->dims, &s->count));
}

// Dimension k (0-based) of the shape: past the last, 1, or 0 when empty.
double shape_dim(const ItemShape& s, int64_t k) {
  if (k < s.ndims) return s.dims[k];
  return s.count > 0 ? 1 : 0;
}

// The data words of a cell array's size element (its first element).
uint32_t size_element_words(EngineContext* ctx, int depth) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[1] < kElemHeaderWords) return 0;
  const uint64_t* first = item_data(ctx, depth);
  const uint32_t w = elem_total_words(first);
  return w <= d[1] ? w : 0;
}

}  // namespace

int bi_ndims(EngineContext* ctx) {
  if (!args_present(ctx, 1)) return kWrongArgType;
  int nd = 1;
  if (!is_list_or_struct(desc_at(ctx, 0)))
    TN_TRY(as_arg_error(stk_get_array_info(ctx, 0, &nd, nullptr, nullptr)));
  TN_TRY(stk_push_real(ctx, nd));
  return stk_remove(ctx, 1, 1);
}

int bi_size(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 1 || nargin > 2 || !args_present(ctx, nargin)) return kWrongArgType;
  ItemShape s;
  if (nargin == 2) {
    if (nargout > 1) return kTooManyOutputs;
    TN_TRY(item_shape(ctx, 1, &s));
    int d = 0;
    TN_TRY(peek_dim_arg(ctx, 0, &d));
    TN_TRY(stk_push_real(ctx, shape_dim(s, d)));
    return stk_remove(ctx, 1, 2);
  }
  TN_TRY(item_shape(ctx, 0, &s));
  if (nargout == 0) {
    stk_drop(ctx);
    return kOk;
  }
  if (nargout <= 1) {
    double* row;
    TN_TRY(stk_push_matrix(ctx, 1, s.ndims, &row, nullptr));
    for (int k = 0; k < s.ndims; ++k) row[k] = s.dims[k];
    return stk_remove(ctx, 1, 1);
  }
  // One output a dimension, the first on top; no folding of the trailing
  // dimensions into the last output.
  const StackMark mark = stack_mark(ctx);
  for (int j = nargout - 1; j >= 0; --j) {
    int st = stk_push_real(ctx, shape_dim(s, j));
    if (st != kOk) return stack_restore(ctx, mark, st);
  }
  return stk_remove(ctx, nargout, 1);
}

int bi_length_numel(EngineContext* ctx, int which) {
  if (!args_present(ctx, 1)) return kWrongArgType;
  ItemShape s;
  TN_TRY(item_shape(ctx, 0, &s));
  double v = 0;
  if (which == kShapeNumel) {
    v = static_cast<double>(s.count);
  } else {
    for (int k = 0; k < s.ndims; ++k) v = std::max(v, static_cast<double>(s.dims[k]));
  }
  TN_TRY(stk_push_real(ctx, v));
  return stk_remove(ctx, 1, 1);
}

int bi_isempty(EngineContext* ctx) {
  if (!args_present(ctx, 1)) return kWrongArgType;
  const uint32_t* d = desc_at(ctx, 0);
  bool empty;
  if (is_list_or_struct(d)) {
    empty = d[1] == 0;
  } else if (d[0] == kKindReal || d[0] == kKindComplex) {
    empty = int64_t{d[1]} * d[2] == 0;
  } else {
    int64_t count = 0;
    TN_TRY(as_arg_error(stk_get_array_info(ctx, 0, nullptr, nullptr, &count)));
    empty = count == 0;
  }
  TN_TRY(stk_push_logical_scalar(ctx, empty ? 1 : 0));
  return stk_remove(ctx, 1, 1);
}

// --- Joining lists -----------------------------------------------------------------

int bi_join(EngineContext* ctx, int nargin) {
  if (!args_present(ctx, nargin)) return kWrongArgType;
  if (nargin == 0) return stk_make_container(ctx, 0, 0, nullptr, 0);
  for (int depth = 0; depth < nargin; ++depth) {
    const uint32_t* d = desc_at(ctx, depth);
    if (d[0] != kKindContainer || (d[2] != kContList && d[2] != kContCell)) return kWrongArgType;
  }
  // Each cell array loses its size element and becomes the list of its cells;
  // everything above it moves down by the element's words.
  for (int depth = nargin - 1; depth >= 0; --depth) {
    uint32_t* d = desc_at(ctx, depth);
    if (d[2] != kContCell) continue;
    const uint32_t w = size_element_words(ctx, depth);
    uint64_t* at = item_data(ctx, depth);
    uint64_t* end = data_words(ctx) + ctx->data_top;
    std::memmove(at, at + w, static_cast<size_t>(end - at - w) * 8);
    ctx->data_top -= static_cast<int32_t>(w);
    d[1] -= w;
    d[2] = kContList;
  }
  // The payloads lie one after the other: one descriptor spans them all.
  uint32_t words = 0;
  for (int depth = 0; depth < nargin; ++depth) words += desc_at(ctx, depth)[1];
  ctx->desc_top -= 3 * (nargin - 1);
  uint32_t* d = desc_at(ctx, 0);
  d[0] = kKindContainer;
  d[1] = words;
  d[2] = kContList;
  return kOk;
}

int op_66_join(EngineContext* ctx, int n) {
  // Items, top first: the list (or cell) of x{:}, then the n - 1 arguments
  // that precede it in the call, the first deepest. The arguments become a
  // list that the flattened one is joined to, so they keep their places.
  if (n < 1 || !args_present(ctx, n)) return kBadArgument;
  const uint32_t* list = desc_at(ctx, 0);
  if (list[0] != kKindContainer || (list[2] != kContList && list[2] != kContCell))
    return kWrongArgType;
  TN_TRY(stk_move(ctx, n, n - 1));  // the list below the arguments
  const int st = stk_make_container(ctx, n - 1, 0, nullptr, 0);
  if (st != kOk) {
    stk_move(ctx, n, 1);  // back on top: the stacks as they were
    return st;
  }
  TN_TRY(stk_move(ctx, 2, 1));
  return bi_join(ctx, 2);
}
