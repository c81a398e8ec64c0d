// Shape queries on a local array answered from its block: numel, length,
// ndims, isempty and one-output size of a variable read only for its shape
// push the answer without first copying the whole value onto the stack, so
// numel(x) costs the same for any size of x. Each answer is the one the
// query's built-in gives for the copied value, word for word.
#include "engine/core/local_queries.h"

#include <algorithm>

#include "engine/core/containers.h"
#include "engine/core/heap.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/opcodes.h"
#include "engine/core/var_blocks.h"

namespace {

// size's operand words: nargin, nargout.
constexpr int kSizeWords = 3;
constexpr uint16_t kOneArgument = 1;
constexpr uint16_t kOneResult = 1;

// The dimensions of an array value (kind 0/1, or a valid typed payload of
// subtype 3 to 5), read where it lies; false for anything else, which the
// built-ins then meet in their own way.
struct ArrayShape {
  int ndims;
  const uint32_t* dims;
  int64_t count;
};

bool array_shape_of(const uint32_t* h, const uint64_t* data, ArrayShape* out) {
  if (h[0] == kKindReal || h[0] == kKindComplex) {
    *out = ArrayShape{2, h + 1, int64_t(h[1]) * h[2]};
    return true;
  }
  if (h[0] != kKindPayload || h[2] < kPayNumeric || h[2] > kPayLogical) return false;
  const int64_t bytes = int64_t(h[1]) * 8;
  if (bytes < int64_t(typed_header_bytes(2))) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  const uint32_t type = tn::ld_u32(p), nd = tn::ld_u32(p + 4), size = elem_size(type);
  if (nd < 2 || nd > uint32_t(kMaxDims) || size == 0 || int64_t(typed_header_bytes(nd)) > bytes) return false;
  const auto* dims = reinterpret_cast<const uint32_t*>(p + 8);
  int64_t count = 1;
  for (uint32_t i = 0; i < nd; ++i) count = tn::mul64(count, dims[i]);
  const bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
  if (count > kMaxNdElements || typed_header_bytes(nd) + count * size * (cplx ? 2 : 1) > bytes) return false;
  *out = ArrayShape{int(nd), dims, count};
  return true;
}

}  // namespace

bool local_shape_query(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                       const uint8_t* base) {
  if (query >= end || !heap_index_ok(ctx, block)) return false;
  const uint32_t* h = block_words32(ctx, block);
  ArrayShape s;
  if (!array_shape_of(h, heap_words(ctx) + block + kElemHeaderWords, &s)) return false;
  const uint16_t op = *query;
  int words = 1;
  if (op == kOpSize) {
    if (query + kSizeWords > end || query[1] != kOneArgument || query[2] != kOneResult) return false;
    words = kSizeWords;
  } else if (op != kOpNumel && op != kOpLength && op != kOpNdims && op != kOpIsempty) {
    return false;
  }
  // The answers need one descriptor and at most kMaxDims data words.
  if (!desc_room(ctx) || int64_t(kMaxDims) + 1 >= data_free_words(ctx)) return false;
  switch (op) {
    case kOpNumel:
      tn::st_f64(stk_claim(ctx, kKindReal, 1, 1, 1), double(s.count));
      break;
    case kOpLength: {
      double v = 0;
      for (int k = 0; k < s.ndims; ++k) v = std::max(v, double(s.dims[k]));
      tn::st_f64(stk_claim(ctx, kKindReal, 1, 1, 1), v);
      break;
    }
    case kOpNdims:
      tn::st_f64(stk_claim(ctx, kKindReal, 1, 1, 1), double(s.ndims));
      break;
    case kOpIsempty:
      if (stk_push_logical_scalar(ctx, s.count == 0 ? 1 : 0) != kOk) return false;
      break;
    default: {  // size
      // The dims may lie in the block: they are read before the push writes.
      double row[kMaxDims];
      for (int k = 0; k < s.ndims; ++k) row[k] = s.dims[k];
      uint64_t* p = stk_claim(ctx, kKindReal, 1, uint32_t(s.ndims), uint32_t(s.ndims));
      for (int k = 0; k < s.ndims; ++k) tn::st_f64(p + k, row[k]);
      break;
    }
  }
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query + words) - base);
  return true;
}
