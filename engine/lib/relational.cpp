// Relational and logical operators. The comparison loops are hot paths: one
// loop per selector and class, scalar operands hoisted, and a fast path for
// two real double scalars that replaces them without moving any data.
// Every check precedes the first change to the stacks.
#include "engine/lib/relational.h"

#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/operands.h"
#include "engine/lib/zip.h"

namespace {

// Data words of a 1 x 1 logical array: the 2-dimensional header and a byte.
constexpr int64_t kLogicalHeaderBytes = 16;
constexpr int64_t kLogicalScalarWords = (kLogicalHeaderBytes + 1 + 7) / 8;
static_assert(kLogicalScalarWords == 3);

// Replaces the `count` top items by the logical scalar v when it fits (the
// push keeps one spare data word); false, with nothing changed, when not.
// Scalar comparisons are the commonest operators in loops, so the item is
// written here directly rather than through the general array pusher.
bool replace_top_by_logical(EngineContext* ctx, int count, bool v) {
  const int32_t start = item_data_index(ctx, count - 1);
  if (!(static_cast<int64_t>(start) + kLogicalScalarWords <
        static_cast<int64_t>(ctx->data_capacity)))
    return false;
  ctx->desc_top -= 3 * count;
  ctx->data_top = start;
  auto* b = reinterpret_cast<uint8_t*>(
      stk_claim(ctx, kKindPayload, kLogicalScalarWords, kPayLogical, kLogicalScalarWords));
  std::memset(b, 0, kLogicalScalarWords * 8);
  tn::st_u32(b, kElemU8);  // element type, ndims, then the sizes 1 x 1
  tn::st_u32(b + 4, 2);
  tn::st_u32(b + 8, 1);
  tn::st_u32(b + 12, 1);
  b[kLogicalHeaderBytes] = v ? 1 : 0;
  return true;
}


// --- Comparisons ------------------------------------------------------------------

// Selector after the exchange of > and >=: one of = ~ < L.
template <typename T>
void compare_real(int sel, uint8_t* out, const LoopArg& a, const LoopArg& b, int64_t n) {
  // IEEE comparisons already make NaN unequal, not less and not less-or-equal.
  switch (sel) {
    case kCmpEq: zip<T>(out, a, b, n, [](T x, T y) -> uint8_t { return x == y; }); break;
    case kCmpNe: zip<T>(out, a, b, n, [](T x, T y) -> uint8_t { return x != y; }); break;
    case kCmpLt: zip<T>(out, a, b, n, [](T x, T y) -> uint8_t { return x < y; }); break;
    default: zip<T>(out, a, b, n, [](T x, T y) -> uint8_t { return x <= y; }); break;
  }
}

// At least one operand complex (a real one's imaginary part counts as 0).
template <typename T>
void compare_complex(int sel, uint8_t* out, const LoopArg& a, const LoopArg& b, int64_t n) {
  if (sel == kCmpLt || sel == kCmpLe) {  // real parts only, by design
    compare_real<T>(sel, out, a, b, n);
    return;
  }
  const T* ar = static_cast<const T*>(a.re);
  const T* ai = static_cast<const T*>(a.im);
  const T* br = static_cast<const T*>(b.re);
  const T* bi = static_cast<const T*>(b.im);
  const int64_t ma = a.array ? -1 : 0, mb = b.array ? -1 : 0;
  const uint8_t ne = sel == kCmpNe ? 1 : 0;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t ja = i & ma, jb = i & mb;
    const T xi = ai ? ai[ja] : T(0), yi = bi ? bi[jb] : T(0);
    out[i] = static_cast<uint8_t>((ar[ja] == br[jb] && xi == yi) ^ ne);
  }
}

void compare_int(uint32_t type, int sel, uint8_t* out, const LoopArg& a, const LoopArg& b,
                 int64_t n) {
  visit_int_type(type, [&](auto t) { compare_real<decltype(t)>(sel, out, a, b, n); });
}

bool scalar_compare(int sel, double x, double y) {
  switch (sel) {
    case kCmpEq: return x == y;
    case kCmpNe: return x != y;
    case kCmpLt: return x < y;
    case kCmpGt: return y < x;
    case kCmpLe: return x <= y;
    default: return y <= x;  // kCmpGe
  }
}

bool known_compare(int sel) {
  return sel == kCmpEq || sel == kCmpNe || sel == kCmpLt || sel == kCmpGt || sel == kCmpLe ||
         sel == kCmpGe;
}

// --- Logic ------------------------------------------------------------------------

// Truth of one element: nonzero, with NaN counting as zero.
template <typename T>
inline bool truth(T x) {
  if constexpr (std::is_floating_point_v<T>)
    return x < 0 || x > 0;
  else
    return x != 0;
}

// out[i] = c(out[i], truth of the operand's element i, or of its one element).
template <typename T, typename C>
void fold_truth(uint8_t* out, const NumOperand& o, int64_t n, C c) {
  const T* re = static_cast<const T*>(o.re);
  const T* im = static_cast<const T*>(o.im);
  if (o.count == 1) {
    const bool t = truth(re[0]) || (im && truth(im[0]));
    for (int64_t i = 0; i < n; ++i) out[i] = c(out[i], t);
  } else if (im) {
    for (int64_t i = 0; i < n; ++i) out[i] = c(out[i], truth(re[i]) || truth(im[i]));
  } else {
    for (int64_t i = 0; i < n; ++i) out[i] = c(out[i], truth(re[i]));
  }
}

template <typename C>
void fold_operand(uint8_t* out, const NumOperand& o, int64_t n, C c) {
  if (o.kind == NumKind::kDouble) {
    fold_truth<double>(out, o, n, c);
    return;
  }
  switch (o.type) {  // integer classes: the width decides, not the sign
    case kElemI8: case kElemU8: fold_truth<uint8_t>(out, o, n, c); break;
    case kElemI16: case kElemU16: fold_truth<uint16_t>(out, o, n, c); break;
    case kElemI32: case kElemU32: fold_truth<uint32_t>(out, o, n, c); break;
    default: fold_truth<uint64_t>(out, o, n, c); break;
  }
}

bool can_be_logical(const NumOperand& o) {
  return o.kind == NumKind::kDouble || o.kind == NumKind::kInt;
}

// --- Tests of double elements -------------------------------------------------

template <typename F>
void classify_elements(uint8_t* out, const double* re, const double* im, int64_t n, F f) {
  if (im)
    for (int64_t i = 0; i < n; ++i) out[i] = f(re[i], im[i]);
  else
    for (int64_t i = 0; i < n; ++i) out[i] = f(re[i], 0.0);
}

}  // namespace

int bi_eq(EngineContext* ctx, int sel) {
  if (!known_compare(sel)) return kBadArgument;
  if (top_two_real_scalars(ctx)) {
    const uint64_t* p = data_words(ctx) + ctx->data_top - 2;
    if (replace_top_by_logical(ctx, 2, scalar_compare(sel, tn::ld_f64(p), tn::ld_f64(p + 1))))
      return kOk;
  }
  NumOperand a, b;
  TN_TRY(elementwise_pair(ctx, &a, &b));
  const CommonClass cc = common_class(a, b);
  TN_TRY(promote_pair(ctx, &a, &b, cc, logical_result_words(result_shape(a, b))));
  const NumOperand shape = result_shape(a, b);
  const int64_t n = shape.count;
  uint8_t* out;
  TN_TRY(push_logical_result(ctx, shape, &out));
  LoopArg la{a.re, a.im, a.count != 1}, lb{b.re, b.im, b.count != 1};
  if (sel == kCmpGt || sel == kCmpGe) {
    std::swap(la, lb);
    sel = sel == kCmpGt ? kCmpLt : kCmpLe;
  }
  const bool cplx = la.im || lb.im;
  switch (cc.kind) {
    case NumKind::kDouble:
      if (cplx)
        compare_complex<double>(sel, out, la, lb, n);
      else
        compare_real<double>(sel, out, la, lb, n);
      break;
    case NumKind::kSingle:
      if (cplx)
        compare_complex<float>(sel, out, la, lb, n);
      else
        compare_real<float>(sel, out, la, lb, n);
      break;
    default: compare_int(cc.int_type, sel, out, la, lb, n); break;
  }
  return stk_remove(ctx, 1, 2);
}

int bi_and(EngineContext* ctx, int sel) {
  if (sel != kLogicAnd && sel != kLogicOr && sel != kLogicXor) return kBadArgument;
  if (stk_item_count(ctx) < 2) return kWrongArgType;
  // Objects are refused first, so that their class's method can be tried.
  if (item_is_object(ctx, 0) || item_is_object(ctx, 1)) return kWrongArgType;
  // The operands' truth is read where they lie: the same values their
  // conversion to logical arrays would hold, without building those arrays.
  const NumOperand a = num_operand(ctx, 1), b = num_operand(ctx, 0);
  if (!can_be_logical(a) || !can_be_logical(b)) return kWrongArgType;
  if (!shapes_agree(a, b)) return kIncompatibleSize;
  const NumOperand shape = result_shape(a, b);
  const int64_t n = shape.count;
  uint8_t* out;
  TN_TRY(push_logical_result(ctx, shape, &out));
  fold_operand(out, a, n, [](uint8_t, bool t) -> uint8_t { return t; });
  switch (sel) {
    case kLogicAnd: fold_operand(out, b, n, [](uint8_t x, bool t) -> uint8_t { return x & t; }); break;
    case kLogicOr: fold_operand(out, b, n, [](uint8_t x, bool t) -> uint8_t { return x | t; }); break;
    default: fold_operand(out, b, n, [](uint8_t x, bool t) -> uint8_t { return x ^ t; }); break;
  }
  return stk_remove(ctx, 1, 2);
}

int bi_not(EngineContext* ctx, int sel) {
  if (sel != kNotLogical && sel != kNotNot) return kBadArgument;
  if (!stk_has_item(ctx, 0)) return kWrongArgType;
  if (desc_is_real_scalar(desc_at(ctx, 0))) {
    const double x = tn::ld_f64(item_data(ctx, 0));
    const bool nonzero = x < 0 || x > 0;  // NaN counts as zero
    if (replace_top_by_logical(ctx, 1, nonzero != (sel == kNotNot))) return kOk;
  }
  const int st = stk_convert_to_logical(ctx, 0);
  if (st == kWrongType) return kWrongArgType;
  TN_TRY(st);
  if (sel == kNotNot) {
    TypedView t;
    if (typed_view(ctx, 0, &t)) {
      // Byte stores may alias anything, t among them: copies, so that the
      // loop does not reload t's fields at every element.
      uint8_t* const elems = t.elems;
      const int64_t count = t.count;
      for (int64_t i = 0; i < count; ++i) elems[i] ^= 1;  // the bytes are 0 or 1
    }
  }
  return kOk;
}

int bi_same(EngineContext* ctx, int sel) {
  if (sel != kSameSame && sel != kSameUnsame) return kBadArgument;
  if (stk_item_count(ctx) < 2) return kWrongArgType;
  const uint32_t* da = desc_at(ctx, 1);
  const uint32_t* db = desc_at(ctx, 0);
  bool same = da[0] == db[0] && da[1] == db[1] && da[2] == db[2];
  if (same) {
    const size_t bytes = size_t{desc_data_words(da)} * 8;
    same = std::memcmp(item_data(ctx, 1), item_data(ctx, 0), bytes) == 0;
  }
  return replace_top_by_logical(ctx, 2, same != (sel == kSameUnsame)) ? kOk : kDataStackOverflow;
}

int bi_isfinite(EngineContext* ctx, int sel) {
  if (sel != kFiniteIsfinite && sel != kFiniteIsinf && sel != kFiniteIsnan) return kBadArgument;
  const NumOperand o = num_operand(ctx, 0);
  if (o.kind != NumKind::kDouble) return kWrongArgType;
  uint8_t* out;
  TN_TRY(push_logical_result(ctx, o, &out));
  const auto* re = static_cast<const double*>(o.re);
  const auto* im = static_cast<const double*>(o.im);
  switch (sel) {
    case kFiniteIsfinite:
      classify_elements(out, re, im, o.count, [](double x, double y) -> uint8_t {
        return std::isfinite(x) && std::isfinite(y);
      });
      break;
    case kFiniteIsinf:
      classify_elements(out, re, im, o.count, [](double x, double y) -> uint8_t {
        return std::isinf(x) || std::isinf(y);
      });
      break;
    default:
      classify_elements(out, re, im, o.count, [](double x, double y) -> uint8_t {
        return std::isnan(x) || std::isnan(y);
      });
      break;
  }
  return stk_remove(ctx, 1, 1);
}
