// The type predicates over the kinds of the value stack: plain double
// matrices, typed arrays (numeric, char, logical) and everything else, which
// is neither numeric nor an array for these questions.
#include "engine/lib/type_tests.h"

#include "engine/core/value_stack.h"

namespace {

enum class Sort { kNone, kPlain, kTyped, kOther };

struct Item {
  Sort sort = Sort::kNone;
  uint32_t subtype = 0;  // typed arrays
  uint32_t type = 0;     // typed arrays' element type
  uint32_t ndims = 2;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
};

Item top_item(EngineContext* ctx) {
  Item it;
  if (!stk_has_item(ctx, 0)) return it;
  uint32_t* d = desc_at(ctx, 0);
  if (d[0] == kKindReal || d[0] == kKindComplex) {
    it.sort = Sort::kPlain;
    it.dims = d + 1;
    it.count = static_cast<int64_t>(d[1]) * d[2];
    return it;
  }
  TypedView t;
  if (typed_view(ctx, 0, &t) && t.size != 0) {
    it.sort = Sort::kTyped;
    it.subtype = t.subtype;
    it.type = t.type;
    it.ndims = t.ndims;
    it.dims = t.dims;
    it.count = t.count;
    return it;
  }
  it.sort = Sort::kOther;
  return it;
}

bool is_float_type(uint32_t type) {
  return type == kElemDouble || type == kElemDoubleComplex || type == kElemSingle ||
         type == kElemSingleComplex;
}

// Answers a question every value may be asked.
template <class Q>
int answer(EngineContext* ctx, Q question) {
  Item it = top_item(ctx);
  if (it.sort == Sort::kNone) return kWrongArgType;
  return replace_top_with_logical(ctx, question(it));
}

// Answers a question only arrays may be asked.
template <class Q>
int answer_array(EngineContext* ctx, Q question) {
  Item it = top_item(ctx);
  if (it.sort != Sort::kPlain && it.sort != Sort::kTyped) return kWrongArgType;
  return replace_top_with_logical(ctx, question(it));
}

}  // namespace

int replace_top_with_logical(EngineContext* ctx, bool v) {
  const int32_t desc_top = ctx->desc_top, data_top = ctx->data_top;
  stk_drop(ctx);
  int st = stk_push_logical_scalar(ctx, v ? 1 : 0);
  if (st != kOk) {
    // A failed push writes nothing, so the dropped item is still there.
    ctx->desc_top = desc_top;
    ctx->data_top = data_top;
  }
  return st;
}

int bi_ischar(EngineContext* ctx) {
  return answer(ctx,
                [](const Item& it) { return it.sort == Sort::kTyped && it.subtype == kPayChar; });
}

int bi_islogical(EngineContext* ctx) {
  return answer(
      ctx, [](const Item& it) { return it.sort == Sort::kTyped && it.subtype == kPayLogical; });
}

int bi_isnumeric(EngineContext* ctx) {
  return answer(ctx, [](const Item& it) {
    return it.sort == Sort::kPlain || (it.sort == Sort::kTyped && it.subtype == kPayNumeric);
  });
}

int bi_isfloat(EngineContext* ctx) {
  return answer(ctx, [](const Item& it) {
    return it.sort == Sort::kPlain || (it.sort == Sort::kTyped && is_float_type(it.type));
  });
}

// Char and logical arrays hold integers too, so they answer true.
int bi_isinteger(EngineContext* ctx) {
  return answer(ctx,
                [](const Item& it) { return it.sort == Sort::kTyped && elem_is_integer(it.type); });
}

int bi_isscalar(EngineContext* ctx) {
  return answer_array(ctx, [](const Item& it) { return it.count == 1; });
}

// Two dimensions with fewer than 2 rows or columns: 1 x 1 and 0 x 0 count.
int bi_isvector(EngineContext* ctx) {
  return answer_array(
      ctx, [](const Item& it) { return it.ndims == 2 && (it.dims[0] < 2 || it.dims[1] < 2); });
}
