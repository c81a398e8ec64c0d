// Numeric operands as the operators read them, their common class and the
// result pushers. Reading an operand never changes the stacks; promotion
// goes through the engine's conversions and reads both operands again.
#include "engine/lib/operands.h"

#include <algorithm>

#include "engine/core/convert.h"
#include "engine/core/value_stack.h"

namespace {

const int32_t* signed_dims(const NumOperand& o) {
  return reinterpret_cast<const int32_t*>(o.dims);
}

}  // namespace

NumOperand num_operand(EngineContext* ctx, int depth) {
  if (!stk_has_item(ctx, depth)) return NumOperand{};
  return num_operand_of(desc_at(ctx, depth), item_data(ctx, depth));
}

NumOperand num_operand_of(uint32_t* d, uint64_t* data) {
  NumOperand o;
  o.desc = d;
  if (d[0] == kKindReal || d[0] == kKindComplex) {
    o.kind = NumKind::kDouble;
    o.plain = true;
    o.cplx = d[0] == kKindComplex;
    o.type = o.cplx ? kElemDoubleComplex : kElemDouble;
    o.dims = d + 1;
    o.count = static_cast<int64_t>(d[1]) * d[2];
    auto* p = reinterpret_cast<double*>(data);
    o.re = p;
    o.im = o.cplx ? p + o.count : nullptr;
    return o;
  }
  TypedView t;
  if (!typed_view_of(d, reinterpret_cast<uint8_t*>(data), &t) || t.size == 0) return o;
  o.type = t.type;
  o.ndims = static_cast<int>(t.ndims);
  o.dims = t.dims;
  o.count = t.count;
  o.cplx = t.is_complex;
  o.re = t.elems;
  if (t.type == kElemDouble || t.type == kElemDoubleComplex) {
    o.kind = NumKind::kDouble;
    if (o.cplx) o.im = reinterpret_cast<double*>(t.elems) + t.count;
  } else if (t.type == kElemSingle || t.type == kElemSingleComplex) {
    o.kind = NumKind::kSingle;
    if (o.cplx) o.im = reinterpret_cast<float*>(t.elems) + t.count;
  } else {
    o.kind = NumKind::kInt;
  }
  return o;
}

bool shapes_agree(const NumOperand& a, const NumOperand& b) {
  if (a.count == 1 || b.count == 1) return true;
  return a.ndims == b.ndims && std::equal(a.dims, a.dims + a.ndims, b.dims);
}

int elementwise_pair(EngineContext* ctx, NumOperand* a, NumOperand* b) {
  *a = num_operand(ctx, 1);
  *b = num_operand(ctx, 0);
  if (a->kind == NumKind::kNone || b->kind == NumKind::kNone) return kWrongArgType;
  return shapes_agree(*a, *b) ? kOk : kIncompatibleSize;
}

CommonClass common_class(const NumOperand& a, const NumOperand& b) {
  if (a.kind == NumKind::kDouble || b.kind == NumKind::kDouble) return {NumKind::kDouble, 0};
  if (a.kind == NumKind::kSingle || b.kind == NumKind::kSingle) return {NumKind::kSingle, 0};
  // The top operand is looked at first, as the engine's promotion does.
  uint32_t size = 1;
  bool is_unsigned = false;
  for (const NumOperand* o : {&b, &a}) {
    uint32_t s = o->type & 127;
    bool u = (o->type & kElemUnsigned) != 0;
    if (s > size) {
      size = s;
      is_unsigned = u;
    } else if (s == size && u) {
      is_unsigned = true;
    }
  }
  return {NumKind::kInt, size | (is_unsigned ? uint32_t{kElemUnsigned} : 0u)};
}

namespace {

// Data words of a typed array, one more for the strict test of its push.
int64_t typed_words(int ndims, int64_t count, int64_t elem_bytes) {
  return (int64_t{typed_header_bytes(uint32_t(ndims))} + count * elem_bytes + 7) / 8 + 1;
}

// Words an operand takes once converted to the class: none when it is
// relabelled in place or of the class already.
int64_t converted_words(const NumOperand& o, const CommonClass& cc) {
  const int64_t parts = o.cplx ? 2 : 1;
  switch (cc.kind) {
    case NumKind::kDouble:
      if (o.kind == NumKind::kDouble) return 0;
      return o.ndims <= 2 || o.count == 0 ? o.count * parts : typed_words(o.ndims, o.count, 8 * parts);
    case NumKind::kSingle:
      return o.kind == NumKind::kSingle ? 0 : typed_words(o.ndims, o.count, 4 * parts);
    default:
      return (o.type & 127) == (cc.int_type & 127) ? 0 : typed_words(o.ndims, o.count, cc.int_type & 127);
  }
}

}  // namespace

int64_t numeric_result_words(const CommonClass& cc, bool cplx, const NumOperand& shape) {
  const int64_t parts = cplx ? 2 : 1;
  switch (cc.kind) {
    case NumKind::kDouble:
      return shape.ndims <= 2 ? shape.count * parts : typed_words(shape.ndims, shape.count, 8 * parts);
    case NumKind::kSingle: return typed_words(shape.ndims, shape.count, 4 * parts);
    default: return typed_words(shape.ndims, shape.count, cc.int_type & 127);
  }
}

int64_t logical_result_words(const NumOperand& shape) { return typed_words(shape.ndims, shape.count, 1); }

int promote_pair(EngineContext* ctx, NumOperand* a, NumOperand* b, const CommonClass& cc,
                 int64_t result_words) {
  auto fits = [&](const NumOperand& o) {
    return o.kind == cc.kind && (cc.kind != NumKind::kInt || o.type == cc.int_type);
  };
  if (fits(*a) && fits(*b)) return kOk;
  // The conversions replace the operands; a result that would then not fit
  // must fail before them, or the caller's operands come back converted.
  if (!desc_room(ctx)) return kStackOverflow;
  if (converted_words(*a, cc) + converted_words(*b, cc) + result_words > data_free_words(ctx))
    return kDataStackOverflow;
  int st = stk_promote_args(ctx, 2);
  if (st == kWrongType) return kWrongArgType;
  if (st != kOk) return st;
  *a = num_operand(ctx, 1);
  *b = num_operand(ctx, 0);
  return kOk;
}

int push_numeric_result(EngineContext* ctx, const CommonClass& cc, bool cplx,
                        const NumOperand& shape, void** re, void** im) {
  *re = *im = nullptr;
  cplx = cplx && shape.count > 0;  // an empty array is never complex
  switch (cc.kind) {
    case NumKind::kDouble: {
      double *r, *i = nullptr;
      TN_TRY(stk_push_double_nd(ctx, shape.ndims, signed_dims(shape), &r, cplx ? &i : nullptr));
      *re = r;
      *im = i;
      return kOk;
    }
    case NumKind::kSingle: {
      float *r, *i = nullptr;
      TN_TRY(stk_push_single_nd(ctx, shape.ndims, signed_dims(shape), &r, cplx ? &i : nullptr));
      *re = r;
      *im = i;
      return kOk;
    }
    case NumKind::kInt:
      return stk_push_typed_array(ctx, shape.ndims, signed_dims(shape),
                                  static_cast<int>(cc.int_type & 127),
                                  (cc.int_type & kElemUnsigned) ? 1 : 0, re);
    default:
      return kWrongArgType;
  }
}

int push_logical_result(EngineContext* ctx, const NumOperand& shape, uint8_t** out) {
  return stk_push_logical_array(ctx, shape.ndims, signed_dims(shape), out);
}

bool item_is_object(EngineContext* ctx, int depth) {
  if (!stk_has_item(ctx, depth)) return false;
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] == kKindContainer) return d[2] != kContList && d[2] != kContStruct && d[2] != kContCell;
  return d[0] == kKindPayload && d[2] >= kPayFirstClass;
}
