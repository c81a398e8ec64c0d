// Reads of a local value done where it lies, without copying it onto the
// stack. Shape queries (numel, length, ndims, isempty, one-output size) and
// type tests of an array, and the shape queries of a list or cell array
// (through the entry finger), push their answer, so numel(x) costs the same
// for any size of x; class, iscell, islist, isstruct, isobject and isfield
// run on an empty stand-in of the value's class (a skeleton of its fields
// for isfield). x.' of a matrix is written transposed from its block in one
// pass; x = reshape(x, m, n) of a matrix gives its block the new sizes; and
// s = [s t] of two rows of one class grows s's block where it lies (with
// room to spare, as appending does), so growing a text in a loop copies each
// character a bounded number of times; x = [x a b] with computed items
// leaves a reference in place of x's copy, and the concatenations append
// the items to x's block; s = sort(x) and [s, i] = sort(x) sort a copy
// of x in the block the store of s fills (x's own for «x = sort(x)») and
// write the positions in i's, d = diff(x) writes the differences in d's,
// and tf = ismember(x, y) of a strictly ascending y reads both where they
// lie. Each result is the one the
// instructions give through the stack, word for word, failures included:
// where the stack has no room for the copy, the instructions run as they
// are and report it.
#include "engine/core/local_queries.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/code_position.h"
#include "engine/core/containers.h"
#include "engine/core/entry_finger.h"
#include "engine/core/heap.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/opcodes.h"
#include "engine/core/transpose_copy.h"
#include "engine/core/var_blocks.h"

namespace {

// size's operand words: nargin, nargout.
constexpr int kSizeWords = 3;
constexpr uint16_t kOneArgument = 1;
constexpr uint16_t kOneResult = 1;
constexpr int kPushDoubleWords = 5;  // the opcode and the double's four words

// The dimensions of an array value (kind 0/1, or a valid typed payload of
// subtype 3 to 5), read where it lies; false for anything else, which the
// built-ins then meet in their own way.
struct ArrayShape {
  int ndims;
  const uint32_t* dims;
  int64_t count;
  uint32_t subtype;  // 0 for a matrix (kind 0/1)
  uint32_t type;     // typed arrays' element type
};

bool array_shape_of(const uint32_t* h, const uint64_t* data, ArrayShape* out) {
  if (h[0] == kKindReal || h[0] == kKindComplex) {
    *out = ArrayShape{2, h + 1, int64_t(h[1]) * h[2], 0, 0};
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
  *out = ArrayShape{int(nd), dims, count, h[2], type};
  return true;
}

// The copy the load would make, and `items` more items of one word each,
// fit on the stacks.
bool load_fits(EngineContext* ctx, const uint32_t* h, int items = 0) {
  return int64_t(ctx->desc_top) + kDescWords * (items + 1) < int64_t(ctx->desc_capacity) &&
         int64_t(desc_data_words(h)) + items + 1 < data_free_words(ctx);
}

bool is_type_test(uint16_t op) {
  return op == kOpIschar || op == kOpIslogical || op == kOpIsnumeric || op == kOpIsfloat || op == kOpIsinteger ||
         op == kOpIsscalar || op == kOpIsvector;
}

// The type tests' answers for an array, as their built-ins give them.
bool type_test(uint16_t op, const ArrayShape& s) {
  const bool plain = s.subtype == 0;
  const bool floating = s.type == kElemDouble || s.type == kElemDoubleComplex || s.type == kElemSingle ||
                        s.type == kElemSingleComplex;
  switch (op) {
    case kOpIschar: return s.subtype == kPayChar;
    case kOpIslogical: return s.subtype == kPayLogical;
    case kOpIsnumeric: return plain || s.subtype == kPayNumeric;
    case kOpIsfloat: return plain || floating;
    case kOpIsinteger: return !plain && elem_is_integer(s.type);
    case kOpIsscalar: return s.count == 1;
    default: return s.ndims == 2 && (s.dims[0] < 2 || s.dims[1] < 2);  // isvector
  }
}

// The value of a size operand pushed by the instruction at p (a small
// or large constant, 1, or a local holding a real scalar, each an integer
// from 1 up); its length goes to words. False for anything else.
bool size_operand(EngineContext* ctx, const uint16_t* p, const uint16_t* end, int64_t* v, int* words) {
  if (p >= end) return false;
  double x = 0;
  switch (*p) {
    case kOpPushOne:
      *v = 1;
      *words = 1;
      return true;
    case kOpPushInt16:
      if (p + 2 > end) return false;
      x = int16_t(p[1]);
      break;
    case kOpPushDouble:
      if (p + kPushDoubleWords > end) return false;
      x = tn::ld_f64(p + 1);
      if (!(x >= 1 && x <= double(INT32_MAX)) || x != double(int64_t(x))) return false;
      *v = int64_t(x);
      *words = kPushDoubleWords;
      return true;
    case kOpLoadLocal: {
      if (p + 2 > end) return false;
      SlotTarget t;
      if (slot_locate(ctx, int16_t(p[1]), &t) != kOk || t.block == kNoBlock) return false;
      const uint32_t* h = block_words32(ctx, t.block);
      if (h[0] != kKindReal || h[1] != 1 || h[2] != 1) return false;
      x = tn::ld_f64(heap_words(ctx) + t.block + kElemHeaderWords);
      break;
    }
    default:
      return false;
  }
  if (!(x >= 1 && x <= double(INT32_MAX)) || x != double(int64_t(x))) return false;
  *v = int64_t(x);
  *words = 2;
  return true;
}

}  // namespace

bool local_reshape_in_place(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                            const uint8_t* base) {
  const int32_t k = int16_t(load[1]);
  const uint16_t* p = load + 2;
  int64_t dims[2];
  for (int64_t& d : dims) {
    while (p < end && *p == kOpNop) ++p;  // the padding that aligns a double operand
    int words = 0;
    if (!size_operand(ctx, p, end, &d, &words)) return false;
    p += words;
  }
  // reshape with three arguments, then the store into the same variable.
  constexpr uint16_t kReshapeArgs = 3;
  if (p + 4 > end || p[0] != kOpReshape || p[1] != kReshapeArgs || p[2] != kOpStoreLocal || int16_t(p[3]) != k)
    return false;
  SlotTarget t;
  if (slot_locate(ctx, k, &t) != kOk || t.link || t.block != block || !heap_index_ok(ctx, block)) return false;
  uint32_t* h = block_words32(ctx, block);
  // A matrix keeps its words; the store would rewrite them in the same
  // block only when the block holds exactly them.
  if ((h[0] != kKindReal && h[0] != kKindComplex) || int64_t(h[1]) * h[2] != dims[0] * dims[1] ||
      heap_block_size(ctx, block) != kElemHeaderWords + int64_t(desc_data_words(h)) ||
      !load_fits(ctx, h, 2))  // the two sizes pushed above the copy
    return false;
  h[1] = uint32_t(dims[0]);
  h[2] = uint32_t(dims[1]);
  h[3] = 0;  // the name word, as a store writes it
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(p + 4) - base);
  return true;
}

bool local_transpose(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                     const uint8_t* base) {
  if (query >= end || *query != kOpTranspose || !heap_index_ok(ctx, block)) return false;
  const uint32_t* h = block_words32(ctx, block);
  if (h[0] != kKindReal && h[0] != kKindComplex) return false;
  const uint32_t rows = h[1], cols = h[2], words = desc_data_words(h);
  // The room the load and the transpose's scratch space would take.
  if (!desc_room(ctx) || 2 * int64_t(words) > data_free_words(ctx)) return false;
  const auto* from = reinterpret_cast<const uint8_t*>(heap_words(ctx) + block + kElemHeaderWords);
  auto* to = reinterpret_cast<uint8_t*>(stk_claim(ctx, h[0], cols, rows, words));
  const int64_t page = int64_t(rows) * cols * sizeof(double);
  for (int part = 0; part < (h[0] == kKindComplex ? 2 : 1); ++part) {
    if (rows > 1 && cols > 1)
      copy_transposed(from + part * page, to + part * page, rows, cols, sizeof(double));
    else
      std::memcpy(to + part * page, from + part * page, size_t(page));
  }
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query + 1) - base);
  return true;
}

namespace {

// The shape queries of a variable's list or cell array, answered as their
// built-ins answer them (a list reads as 1 x n, 0 x 0 when empty, with
// ndims 1), from the entry finger: constant time once the count is known.
bool container_shape_query(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                           const uint8_t* base) {
  const uint32_t* h = block_words32(ctx, block);
  if (h[0] != kKindContainer || (h[2] != kContList && h[2] != kContCell)) return false;
  const uint16_t op = *query;
  int words = 1;
  if (op == kOpSize) {
    if (query + kSizeWords > end || query[1] != kOneArgument || query[2] != kOneResult) return false;
    words = kSizeWords;
  } else if (op != kOpNumel && op != kOpLength && op != kOpNdims && op != kOpIsempty) {
    return false;
  }
  if (!desc_room(ctx) || int64_t(kMaxDims) + 1 >= data_free_words(ctx) || !load_fits(ctx, h)) return false;
  Entries ent;
  if (!block_entries(ctx, block, 0, &ent) || ent.count > INT32_MAX) return false;
  const bool list = !ent.cell;
  double dims[kMaxDims];
  for (int k = 0; k < ent.ndims; ++k) dims[k] = ent.dims[k];
  double v = 0;
  switch (op) {
    case kOpNumel: v = double(ent.count); break;
    case kOpLength:
      for (int k = 0; k < ent.ndims; ++k) v = std::max(v, dims[k]);
      break;
    case kOpNdims: v = list ? 1 : ent.ndims; break;
    case kOpIsempty:
      return stk_push_logical_scalar(ctx, (list ? h[1] == 0 : ent.count == 0) ? 1 : 0) == kOk &&
             (ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query + words) - base), true);
    default: {  // size
      uint64_t* p = stk_claim(ctx, kKindReal, 1, uint32_t(ent.ndims), uint32_t(ent.ndims));
      for (int k = 0; k < ent.ndims; ++k) tn::st_f64(p + k, dims[k]);
      ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query + words) - base);
      return true;
    }
  }
  tn::st_f64(stk_claim(ctx, kKindReal, 1, 1, 1), v);
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query + words) - base);
  return true;
}

bool is_class_query(const uint16_t* query, const uint16_t* end) {
  const uint16_t op = *query;
  if (op == kOpClass) return query + 2 <= end && query[1] == kOneArgument;
  return op == kOpIscell || op == kOpIslist || op == kOpIsstruct || op == kOpIsobject;
}

// class(x), iscell, islist, isstruct and isobject read no more of a value
// than its kind, subtype and element type: for an array, list, struct or
// cell array they are given an empty value of the same class in place of
// the copy, and run as they are on it. Objects take the copy (their class
// may answer for itself).
bool class_query_stand_in(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                          const uint8_t* base) {
  if (!is_class_query(query, end)) return false;
  const uint32_t* h = block_words32(ctx, block);
  if (!load_fits(ctx, h) || !desc_room(ctx)) return false;
  ArrayShape s;
  const uint32_t cell_words = kElemHeaderWords + cell_size_words(2);
  if (array_shape_of(h, heap_words(ctx) + block + kElemHeaderWords, &s)) {
    if (s.subtype == 0) {
      stk_claim(ctx, h[0], 0, 0, 0);
    } else {
      constexpr uint32_t kEmptyTypedWords = 2;  // type, ndims and two sizes 0
      uint64_t* p = stk_claim(ctx, kKindPayload, kEmptyTypedWords, s.subtype, kEmptyTypedWords);
      auto* b = reinterpret_cast<uint8_t*>(p);
      tn::st_u32(b, s.type);
      tn::st_u32(b + 4, 2);
      tn::st_u32(b + 8, 0);
      tn::st_u32(b + 12, 0);
    }
  } else if (h[0] == kKindContainer && (h[2] == kContList || h[2] == kContStruct)) {
    stk_claim(ctx, kKindContainer, 0, h[2], 0);
  } else if (h[0] == kKindContainer && h[2] == kContCell && int64_t(cell_words) < data_free_words(ctx)) {
    const int32_t none[2] = {0, 0};
    write_cell_sizes(stk_claim(ctx, kKindContainer, cell_words, kContCell, cell_words), none, 2);
  } else {
    return false;
  }
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query) - base);
  return true;
}

// isfield(s, 'name') of a local struct reads only the names of its fields:
// it is given, in place of the copy, a struct of the same fields each
// holding an empty list, and runs as it is on that (the name's push too).
bool isfield_stand_in(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                      const uint8_t* base) {
  if (query + 2 > end || (*query != kOpPushString8 && *query != kOpPushString16)) return false;
  const int64_t n = query[1];
  const uint16_t* after = query + (*query == kOpPushString8 ? 2 + (n + 1) / 2 : 2 + n);
  if (after >= end || *after != kOpIsfield) return false;
  const uint32_t* h = block_words32(ctx, block);
  if (h[0] != kKindContainer || h[2] != kContStruct || !load_fits(ctx, h) || !desc_room(ctx)) return false;
  uint64_t* first = heap_words(ctx) + block + kElemHeaderWords;
  const int64_t words = h[1];
  int64_t fields = 0;
  for (int64_t at = 0; at + kElemHeaderWords <= words;) {
    const int64_t w = elem_total_words(first + at);
    if (at + w > words) break;
    at += w;
    ++fields;
  }
  const int64_t skeleton = kElemHeaderWords * fields;
  // The fields' names are read from the block while the skeleton is written
  // on the stack: the claim moves nothing.
  uint64_t* out = stk_claim(ctx, kKindContainer, uint32_t(skeleton), kContStruct, uint32_t(skeleton));
  first = heap_words(ctx) + block + kElemHeaderWords;
  for (int64_t at = 0, i = 0; i < fields; ++i) {
    elem_set_header(out + kElemHeaderWords * i, kKindContainer, 0, kContList, elem_name(first + at));
    at += elem_total_words(first + at);
  }
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(query) - base);
  return true;
}

}  // namespace

bool local_shape_query(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                       const uint8_t* base) {
  if (query >= end || !heap_index_ok(ctx, block)) return false;
  if (class_query_stand_in(ctx, query, end, block, base) || isfield_stand_in(ctx, query, end, block, base))
    return true;
  const uint32_t* h = block_words32(ctx, block);
  ArrayShape s;
  if (!array_shape_of(h, heap_words(ctx) + block + kElemHeaderWords, &s))
    return container_shape_query(ctx, query, end, block, base);
  const uint16_t op = *query;
  int words = 1;
  if (op == kOpSize) {
    if (query + kSizeWords > end || query[1] != kOneArgument || query[2] != kOneResult) return false;
    words = kSizeWords;
  } else if (op != kOpNumel && op != kOpLength && op != kOpNdims && op != kOpIsempty && !is_type_test(op)) {
    return false;
  }
  // The answers need one descriptor and at most kMaxDims data words; and
  // where the load itself would find no room, it is left to report that.
  if (!desc_room(ctx) || int64_t(kMaxDims) + 1 >= data_free_words(ctx) || !load_fits(ctx, h)) return false;
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
    case kOpIschar: case kOpIslogical: case kOpIsnumeric: case kOpIsfloat: case kOpIsinteger:
    case kOpIsscalar: case kOpIsvector:
      if (stk_push_logical_scalar(ctx, type_test(op, s) ? 1 : 0) != kOk) return false;
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

namespace {

// The right operand of an append: elements of one type in a row, read from
// an instruction's words or from another local's block.
struct AppendOperand {
  bool plain;         // a real matrix row (else a typed row)
  uint32_t subtype;   // typed rows: their subtype and element type
  uint32_t type;
  int64_t count;
  const uint8_t* elems;  // null for a row of bytes to widen (PushString8)
  const uint8_t* bytes;
  double scalar;      // a constant real scalar, when elems and bytes are null
  int words;          // the instruction's length
};

bool append_operand(EngineContext* ctx, const uint16_t* p, const uint16_t* end, int32_t k, AppendOperand* out) {
  if (p + 2 > end) return false;
  *out = AppendOperand{};
  switch (*p) {
    case kOpPushString8:
    case kOpPushString16: {
      const int64_t n = p[1];
      const int64_t words = *p == kOpPushString8 ? 2 + (n + 1) / 2 : 2 + n;
      if (n < 1 || p + words > end) return false;
      *out = AppendOperand{false, kPayChar, kElemU16, n, nullptr, nullptr, 0, int(words)};
      if (*p == kOpPushString8)
        out->bytes = reinterpret_cast<const uint8_t*>(p + 2);
      else
        out->elems = reinterpret_cast<const uint8_t*>(p + 2);
      return true;
    }
    case kOpPushOne:
      *out = AppendOperand{true, 0, 0, 1, nullptr, nullptr, 1.0, 1};
      return true;
    case kOpPushInt16:
      *out = AppendOperand{true, 0, 0, 1, nullptr, nullptr, double(int16_t(p[1])), 2};
      return true;
    case kOpLoadLocal: {
      SlotTarget t;
      if (int16_t(p[1]) == k || slot_locate(ctx, int16_t(p[1]), &t) != kOk || t.block == kNoBlock) return false;
      const uint32_t* h = block_words32(ctx, t.block);
      const auto* data = reinterpret_cast<const uint8_t*>(heap_words(ctx) + t.block + kElemHeaderWords);
      ArrayShape s;
      if (!array_shape_of(h, heap_words(ctx) + t.block + kElemHeaderWords, &s) || s.ndims != 2 || s.dims[0] != 1 ||
          s.count < 1 || h[0] == kKindComplex)
        return false;
      const bool plain = s.subtype == 0;
      *out = AppendOperand{plain, s.subtype, s.type, s.count, plain ? data : data + typed_header_bytes(2),
                           nullptr, 0, 2};
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool local_append_in_place(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                           const uint8_t* base) {
  const int32_t k = int16_t(load[1]);
  AppendOperand b;
  if (!append_operand(ctx, load + 2, end, k, &b)) return false;
  const uint16_t* p = load + 2 + b.words;
  if (p + 3 > end || p[0] != kOpHorzcat || p[1] != kOpStoreLocal || int16_t(p[2]) != k) return false;
  SlotTarget t;
  if (slot_locate(ctx, k, &t) != kOk || t.link || t.block != block || !heap_index_ok(ctx, block)) return false;
  const uint32_t* h = block_words32(ctx, block);
  ArrayShape a;
  if (!array_shape_of(h, heap_words(ctx) + block + kElemHeaderWords, &a) || a.ndims != 2 || a.dims[0] != 1 ||
      a.count < 1 || h[0] == kKindComplex)
    return false;
  // The pairs the concatenation joins as one block: real rows, or typed rows
  // of one subtype and one integer, char or logical element type.
  const bool plain = a.subtype == 0;
  if (plain != b.plain || (!plain && (a.subtype != b.subtype || a.type != b.type || !elem_is_integer(a.type))))
    return false;
  const int64_t esize = plain ? int64_t(sizeof(double)) : elem_size(a.type);
  const int64_t head = plain ? 0 : typed_header_bytes(2);
  const int64_t old_words = desc_data_words(h);
  const int64_t used = head + a.count * esize;
  const int64_t new_words = (used + b.count * esize + 7) / 8;
  const int64_t columns = a.count + b.count;
  // Where the stacks could not hold the two operands, the instructions run
  // as they are and report it.
  if (columns > INT32_MAX || new_words > INT32_MAX || !load_fits(ctx, h, 1) ||
      old_words + new_words + 2 >= data_free_words(ctx))
    return false;
  VarRef r{1, t.slot_word, block, 0, 0, k};
  if (block_splice(ctx, &r, kElemHeaderWords + old_words, 0, new_words - old_words) != kOk) return false;
  uint32_t* w = block_words32(ctx, r.block);
  auto* to = reinterpret_cast<uint8_t*>(heap_words(ctx) + r.block + kElemHeaderWords);
  uint8_t* at = to + used;
  if (b.bytes) {
    for (int64_t i = 0; i < b.count; ++i) tn::store(at + 2 * i, uint16_t(b.bytes[i]));
  } else if (b.elems) {
    std::memmove(at, b.elems, size_t(b.count * esize));
  } else {
    tn::st_f64(at, b.scalar);
  }
  std::memset(at + b.count * esize, 0, size_t(new_words * 8 - used - b.count * esize));
  if (plain) {
    w[2] = uint32_t(columns);
  } else {
    w[1] = uint32_t(new_words);
    tn::st_u32(to + 12, uint32_t(columns));  // the second size, behind type, ndims and the first
  }
  w[3] = 0;  // the name word, as a store writes it
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(p + 3) - base);
  return true;
}

// --- Appending a computed item -------------------------------------------------------
// x = [x item] and x = [x; item], where the item's code is anything that
// only reads: the load of x pushes a reference in place of the copy (the
// item's code cannot see the value below its own operands), and the
// concatenation, finding the reference, appends the item to x's block where
// it lies and passes over the store. Anything else on either side, and the
// reference is replaced by the copy the load would have pushed before the
// concatenation runs as it is.

namespace {

// Instructions that give a plain stack effect but may not stand inside an
// appended item: they run code in the current workspace or jump.
bool item_refuses(uint16_t op) {
  return op == kOpEval || op == kOpCallNamed || jump_origin_words(op) != 0;
}

// The inputs and outputs of the instruction at p inside an item whose
// operands above the appended value are `above` items; false for one whose
// effect is not known here, and for one that reads an item at or below the
// appended value (an index value's depth operand).
bool item_effect(const uint16_t* p, int above, int* in, int* out) {
  const uint16_t op = p[0];
  if (item_refuses(op)) return false;
  *in = 0;
  *out = 1;
  switch (op) {
    case kOpLoadLocal:
    case kOpPushRef:
    case kOpPushNoValue:
      return true;
    case kOpIndexBeginning:
    case kOpIndexEnd:
    case kOpIndexMatrixrow:
    case kOpIndexMatrixcol:
      return int16_t(p[1]) >= 0 && int16_t(p[1]) < above;
    case kOpIndexRead:
    case kOpIndexRefRead:
      *in = int(p[1]) - std::popcount(uint32_t(p[2]) & ((1u << std::min<int>(p[1], 31)) - 1)) + 1;
      return true;
    case kOpCallUser:
      *in = int16_t(p[2]);
      *out = int16_t(p[3]);
      return *in >= 0 && *out >= 1;
    default:
      break;
  }
  if (op >= kOpPushInt16 && op <= kOpPushString16) return true;  // the constant pushes
  if (insn_stack_effect(p, in, out) != kOk || *in < 0 || *out < 0) return false;
  return true;
}

// True when the code after the load at `load` of local k is, one or more
// times, an item's code and the concatenation (horzcat, or vertcat when
// *vertical, the same each time) of the value so far with it, then the
// store into k: «x = [x a b]» is x, a, horzcat, b, horzcat. The walk stops
// at the first instruction it does not know.
bool append_ahead(const uint16_t* load, const uint16_t* end, int32_t k, bool* vertical) {
  constexpr int kLongestItems = 96;  // instructions
  const uint16_t* p = load + 2;
  int above = 0;
  uint16_t join = 0;
  for (int i = 0; i < kLongestItems && p < end; ++i) {
    const uint16_t op = *p;
    if ((op == kOpHorzcat || op == kOpVertcat) && above == 1) {
      if (join && op != join) return false;
      join = op;
      *vertical = op == kOpVertcat;
      if (p + 3 <= end && p[1] == kOpStoreLocal && int16_t(p[2]) == k) return true;
      above = 0;
      ++p;
      continue;
    }
    int in = 0, out = 0;
    if (!item_effect(p, above, &in, &out) || in > above) return false;
    above += out - in;
    const int n = insn_length(p);
    if (n <= 0 || p + n > end) return false;
    p += n;
  }
  return false;
}

// A row (a column when vertical) of real doubles, or of one integer, char
// or logical type, with at least one element: what an append grows in place.
bool append_target(const uint32_t* h, const uint64_t* data, bool vertical, ArrayShape* a) {
  if (!array_shape_of(h, data, a) || a->ndims != 2 || a->dims[vertical ? 1 : 0] != 1 || a->count < 1 ||
      h[0] == kKindComplex)
    return false;
  return a->subtype == 0 || elem_is_integer(a->type);
}

}  // namespace

bool local_append_reference(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                            const uint8_t* base) {
  const int32_t k = int16_t(load[1]);
  bool vertical = false;
  if (!append_ahead(load, end, k, &vertical)) return false;
  SlotTarget t;
  if (slot_locate(ctx, k, &t) != kOk || t.link || t.block != block || !heap_index_ok(ctx, block)) return false;
  const uint32_t* h = block_words32(ctx, block);
  ArrayShape a;
  // Where the copy would not fit, the load runs as it is and reports it.
  if (!append_target(h, heap_words(ctx) + block + kElemHeaderWords, vertical, &a) || !load_fits(ctx, h) ||
      ref_push(ctx, VarRef{0, t.slot_word, block, 0, 0, k}) != kOk)
    return false;
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(load + 2) - base);
  return true;
}

namespace {

// Word 7 of a reference's data, unused by references elsewhere: for one that
// an append's load pushed, the elements of the items concatenated so far,
// kept in the block's spare room behind the value's words (the value itself
// unchanged, so the later items read x as it was).
constexpr int kRefPending = 7;
static_assert(kRefPending == kRefWords32 - 1 && kRefSlot < kRefPending);

uint32_t* ref_words(EngineContext* ctx, int depth) { return reinterpret_cast<uint32_t*>(item_data(ctx, depth)); }

// The shapes of an append in progress: the variable's value and the item on top.
struct AppendStep {
  ArrayShape a, b;
  int64_t esize, head, old_words, pending, used, pending_words;
};

// Replaces the reference at depth 1 by the value it stands for: a copy of the
// variable with the pending elements behind its own, as the concatenations
// so far would have left it. 3 when it does not fit.
int append_materialise(EngineContext* ctx, const VarRef& r, const AppendStep& s) {
  if (s.pending == 0) return ref_deref_at(ctx, 1);
  const uint32_t* h = block_words32(ctx, r.block);
  const int64_t words = (s.used + s.pending * s.esize + 7) / 8;
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  const uint32_t total = uint32_t(s.a.count + s.pending);
  const bool column = s.a.dims[1] == 1 && s.a.dims[0] != 1;
  uint64_t* p = s.a.subtype == 0 ? stk_claim(ctx, h[0], column ? total : 1, column ? 1 : total, uint32_t(words))
                                 : stk_claim(ctx, h[0], uint32_t(words), h[2], uint32_t(words));
  const uint64_t* from = heap_words(ctx) + r.block + kElemHeaderWords;
  auto* to = reinterpret_cast<uint8_t*>(p);
  std::memcpy(to, from, size_t(s.used));
  std::memcpy(to + s.used, from + s.old_words, size_t(s.pending * s.esize));
  std::memset(to + s.used + s.pending * s.esize, 0, size_t(words * 8 - s.used - s.pending * s.esize));
  if (s.a.subtype != 0) tn::st_u32(to + (column ? 8 : 12), total);
  stk_replace_with_top(ctx, 1);
  return kOk;
}

// The block of r holding at least `words` words, its first `keep` carried
// over when it has to move (with half as much again as spare room when the
// heap has it). 5 without heap room (nothing changed).
int block_reserve(EngineContext* ctx, VarRef* r, int64_t keep, int64_t words) {
  if (heap_block_size(ctx, r->block) >= words) return kOk;
  int32_t fresh = 0;
  if (heap_alloc(ctx, words + words / 2, &fresh) != kOk) TN_TRY(heap_alloc(ctx, words, &fresh));
  std::memcpy(heap_words(ctx) + fresh, heap_words(ctx) + r->block, size_t(keep) * 8);
  SlotTarget t;
  slot_locate_word(ctx, r->slot_word, &t);
  finger_forget(ctx, r->block);
  heap_free(ctx, r->block);
  slot_set_block(ctx, t, fresh);
  r->block = fresh;
  return kOk;
}

}  // namespace

int local_append_finish(EngineContext* ctx, bool vertical, bool* done) {
  *done = false;
  VarRef r;
  if (!ref_at(ctx, 1, &r)) return TN_ILLEGAL();
  AppendStep s{};
  s.pending = ref_words(ctx, 1)[kRefPending];
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, ctx->pos.kind, &bytes);
  const uint16_t* next = base ? reinterpret_cast<const uint16_t*>(base + ctx->pos.offset) : nullptr;
  const uint16_t* end = reinterpret_cast<const uint16_t*>(base + bytes);
  const bool last = next && next + 2 <= end && next[0] == kOpStoreLocal && int16_t(next[1]) == r.slot;
  SlotTarget t;
  const uint32_t* h = block_words32(ctx, r.block);
  const uint32_t* v = desc_at(ctx, 0);
  const bool ours = r.assign == 0 && r.offset == 0 && slot_locate(ctx, r.slot, &t) == kOk && !t.link &&
                    t.block == r.block &&
                    append_target(h, heap_words(ctx) + r.block + kElemHeaderWords, vertical, &s.a);
  // Without the variable as its load left it, nothing can be done (the
  // value stands for the reference as far as it can).
  if (!ours) return s.pending == 0 ? ref_deref_at(ctx, 1) : TN_ILLEGAL();
  s.esize = s.a.subtype == 0 ? int64_t(sizeof(double)) : elem_size(s.a.type);
  s.head = s.a.subtype == 0 ? 0 : typed_header_bytes(2);
  s.old_words = desc_data_words(h);
  s.used = s.head + s.a.count * s.esize;
  s.pending_words = (s.pending * s.esize + 7) / 8;
  const bool fits = append_target(v, item_data(ctx, 0), vertical, &s.b) && s.a.subtype == s.b.subtype &&
                    (s.a.subtype == 0 || s.a.type == s.b.type);
  const int64_t count = s.a.count + s.pending + s.b.count;
  const int64_t new_words = (s.used + (s.pending + s.b.count) * s.esize + 7) / 8;
  // Where the stack could not have held the copy beside the item (or, for
  // typed rows, which the concatenation builds anew, the result too), the
  // instructions run as they are and report it.
  const int64_t copy = s.old_words + s.pending_words - int64_t(kRefDataWords), free = data_free_words(ctx);
  if (!fits || count > INT32_MAX || new_words > INT32_MAX || copy >= free ||
      (s.a.subtype != 0 && copy + new_words + 2 >= free))
    return append_materialise(ctx, r, s);
  // Every element so far and the item's, behind the value's words.
  const int64_t value_end = kElemHeaderWords + s.old_words;
  const int64_t behind = (s.pending + s.b.count) * s.esize;
  if (block_reserve(ctx, &r, value_end + s.pending_words, value_end + (behind + 7) / 8) != kOk)
    return append_materialise(ctx, r, s);
  auto* to = reinterpret_cast<uint8_t*>(heap_words(ctx) + r.block + kElemHeaderWords);
  const auto* from = reinterpret_cast<const uint8_t*>(item_data(ctx, 0)) + (s.b.subtype == 0 ? 0 : s.head);
  std::memcpy(to + s.old_words * 8 + s.pending * s.esize, from, size_t(s.b.count * s.esize));
  if (!last) {
    // The value stays as it was for the items still to come.
    stk_drop(ctx);
    ref_put(ctx, 0, r);
    ref_words(ctx, 0)[kRefPending] = uint32_t(s.pending + s.b.count);
    *done = true;
    return kOk;
  }
  // The elements join the value's: moved down over the padding of its last
  // word (typed rows), the rest of the last word zeroed, and the sizes set.
  std::memmove(to + s.used, to + s.old_words * 8, size_t(behind));
  std::memset(to + s.used + behind, 0, size_t(new_words * 8 - s.used - behind));
  uint32_t* w = block_words32(ctx, r.block);
  if (s.a.subtype == 0) {
    w[vertical ? 1 : 2] = uint32_t(count);
  } else {
    w[1] = uint32_t(new_words);
    tn::st_u32(to + (vertical ? 8 : 12), uint32_t(count));  // the first or second size, behind type and ndims
  }
  w[3] = 0;  // the name word, as a store writes it
  stk_drop(ctx);
  stk_drop(ctx);
  ctx->pos.offset += 2 * sizeof(uint16_t);  // past the store
  *done = true;
  return kOk;
}

// --- s = sort(x), [s, i] = sort(x), d = diff(x), tf = ismember(x, y) -----------------

namespace {

const LocalResultHooks* g_sort_hooks = nullptr;
const LocalResultHooks* g_diff_hooks = nullptr;
const LocalResultHooks* g_ismember_hooks = nullptr;

// The direction constant pushed by the instruction at p ('ascend' or
// 'descend', read as sort reads it: by its first character, an empty text
// ascending); its length goes to words. False for anything else.
bool direction_operand(const uint16_t* p, const uint16_t* end, uint8_t* descending, int* words) {
  if (p + 2 > end || (*p != kOpPushString8 && *p != kOpPushString16)) return false;
  const int64_t n = p[1];
  const int64_t w = *p == kOpPushString8 ? 2 + (n + 1) / 2 : 2 + n;
  if (p + w > end) return false;
  const uint16_t first = n == 0 ? u'a' : *p == kOpPushString8 ? reinterpret_cast<const uint8_t*>(p + 2)[0] : p[2];
  if (first != u'a' && first != u'd') return false;
  *descending = first == u'd';
  *words = int(w);
  return true;
}

}  // namespace

void local_result_install(uint16_t opcode, const LocalResultHooks* hooks) {
  if (opcode == kOpSort) g_sort_hooks = hooks;
  if (opcode == kOpDiff) g_diff_hooks = hooks;
  if (opcode == kOpIsmember) g_ismember_hooks = hooks;
}

bool local_result_into(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                       const uint8_t* base) {
  const uint16_t* p = load + 2;
  uint8_t descending = 0;
  int words = 0;
  uint16_t nargin = 1;
  int64_t text_words = 0;  // the direction's text on the stack
  if (direction_operand(p, end, &descending, &words)) {
    text_words = (typed_header_bytes(2) + 2 * int64_t(p[1]) + 7) / 8;
    p += words;
    nargin = 2;
  }
  // The call, its outputs and the stores that take them.
  const LocalResultHooks* hooks = nullptr;
  int nout = 1, call_words = 0;
  if (p + 5 <= end && p[0] == kOpSort && p[1] == nargin && (p[2] == 1 || p[2] == 2)) {
    hooks = g_sort_hooks;
    nout = p[2];
    call_words = 3;
  } else if (p + 4 <= end && p[0] == kOpDiff && p[1] == 1 && nargin == 1) {
    hooks = g_diff_hooks;
    call_words = 2;
  } else if (p + 5 <= end && p[0] == kOpLoadLocal && p[2] == kOpIsmember && nargin == 1) {
    hooks = g_ismember_hooks;
    call_words = 3;
  }
  if (!hooks || !heap_index_ok(ctx, block)) return false;
  // ismember's second argument, another local's value where it lies.
  int32_t second = 0;
  if (p[0] == kOpLoadLocal) {
    SlotTarget t;
    if (slot_locate(ctx, int16_t(p[1]), &t) != kOk || t.block == kNoBlock || !heap_index_ok(ctx, t.block) ||
        block_is_link(ctx, t.block))
      return false;
    second = t.block;
  }
  p += call_words;
  if (p + 2 * nout > end || p[0] != kOpStoreLocal || (nout == 2 && p[2] != kOpStoreLocal)) return false;
  const int32_t x = int16_t(load[1]), s = int16_t(p[1]), i = nout == 2 ? int16_t(p[3]) : -1;
  if (nout == 2 && (i == s || i == x)) return false;
  uint32_t* h = block_words32(ctx, block);
  ArrayShape shape;
  if (!array_shape_of(h, heap_words(ctx) + block + kElemHeaderWords, &shape) || shape.count == 0 ||
      (nout == 2 && shape.ndims != 2))
    return false;
  const uint32_t rows = shape.dims[0], cols = shape.dims[1];
  // The room the instructions take on the stack: the copy, the direction
  // and the positions (or a second copy), which the call's scratch space
  // then follows.
  const int64_t data_words = desc_data_words(h);
  const int64_t second_words = second ? desc_data_words(block_words32(ctx, second)) : 0;
  const int64_t pushed = data_words * nout + text_words + second_words + (nout == 2 ? shape.count : 0);
  auto args_now = [&](LocalArg* args) {
    args[0] = LocalArg{block_words32(ctx, block), heap_words(ctx) + block + kElemHeaderWords};
    args[1] = second ? LocalArg{block_words32(ctx, second), heap_words(ctx) + second + kElemHeaderWords}
                     : LocalArg{nullptr, nullptr};
  };
  LocalArg args[2];
  args_now(args);
  uint32_t result[4] = {};
  if (int64_t(ctx->desc_top) + kDescWords * 3 >= int64_t(ctx->desc_capacity) || pushed >= data_free_words(ctx) ||
      !hooks->takes(ctx, args, pushed, result))
    return false;
  // The blocks the stores would fill, in the stores' order.
  int32_t to = 0, positions = 0;
  if (var_store_block(ctx, s, kElemHeaderWords + desc_data_words(result), &to) != kOk) return false;
  if (second && (to == block || to == second)) {  // a result the size of an argument, written over it
    var_store_abandon(ctx, s, to);
    return false;
  }
  if (nout == 2 && var_store_block(ctx, i, kElemHeaderWords + shape.count, &positions) != kOk) {
    var_store_abandon(ctx, s, to);
    return false;
  }
  uint64_t* heap = heap_words(ctx);
  args_now(args);
  double* index = nout == 2 ? reinterpret_cast<double*>(heap + positions + kElemHeaderWords) : nullptr;
  hooks->write(ctx, args, result, heap + to + kElemHeaderWords, index, descending);
  var_store_finish(ctx, s, to, result);
  if (nout == 2) {
    const uint32_t index_header[3] = {kKindReal, rows, cols};
    var_store_finish(ctx, i, positions, index_header);
  }
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(p + 2 * nout) - base);
  return true;
}
