// Matrix product, unary minus and conjugate. Negation and conjugation work in
// place and never allocate; the product of two plain double matrices goes to
// the numerical library's kernels, scalars and other classes to the
// elementwise operator.
#include "engine/lib/matprod.h"

#include <cstdint>
#include <type_traits>

#include "engine/core/checked.h"
#include "engine/core/complex_scalar.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/arith.h"
#include "engine/lib/operands.h"
#include "numlib/matmul.h"

namespace {

// A matrix push refuses counts from here on (the value stack's own limit).
constexpr int64_t kMatrixCountLimit = 2147483647;

bool plain_double(const uint32_t* d) { return d[0] == kKindReal || d[0] == kKindComplex; }
bool one_by_one(const uint32_t* d) { return d[1] == 1 && d[2] == 1; }

template <typename T>
void negate(T* p, int64_t n) {
  for (int64_t i = 0; i < n; ++i) p[i] = -p[i];
}

// Two's-complement negation in the element's own width.
template <typename T>
void negate_int(void* data, int64_t n) {
  using U = std::make_unsigned_t<T>;
  using W = std::conditional_t<(sizeof(T) <= 4), uint32_t, uint64_t>;
  auto* p = static_cast<U*>(data);
  for (int64_t i = 0; i < n; ++i) p[i] = static_cast<U>(W{0} - static_cast<W>(p[i]));
}

void negate_ints(void* data, uint32_t size, int64_t n) {
  switch (size) {
    case 1: negate_int<int8_t>(data, n); break;
    case 2: negate_int<int16_t>(data, n); break;
    case 4: negate_int<int32_t>(data, n); break;
    default: negate_int<int64_t>(data, n); break;
  }
}

// Two 1 x 1 plain matrices; the product takes the deeper one's data words,
// which with the top one's always hold a complex scalar.
void scalar_product(EngineContext* ctx, uint32_t* da, const uint32_t* db) {
  const int32_t start = item_data_index(ctx, 1);
  uint64_t* p = data_words(ctx) + start;
  const bool ac = da[0] == kKindComplex, bc = db[0] == kKindComplex;
  const double ar = tn::ld_f64(p), ai = ac ? tn::ld_f64(p + 1) : 0.0;
  uint64_t* q = p + (ac ? 2 : 1);
  const double br = tn::ld_f64(q), bi = bc ? tn::ld_f64(q + 1) : 0.0;
  ctx->desc_top -= 3;
  if (!ac && !bc) {
    tn::st_f64(p, ar * br);
    ctx->data_top = start + 1;
    return;
  }
  // A real operand counts with a zero imaginary part; the result stays complex.
  double re = 0, im = 0;
  cplx::scalar_binary(cplx::ScalarOp::kMtimes, ar, ai, ac, br, bi, bc, &re, &im);
  tn::st_f64(p, re);
  tn::st_f64(p + 1, im);
  da[0] = kKindComplex;
  ctx->data_top = start + 2;
}

int matrix_product(EngineContext* ctx, const uint32_t* da, const uint32_t* db) {
  const int64_t m = da[1], k = da[2], k2 = db[1], n = db[2];
  if (m == 0 || n == 0) {
    // No test of the inner sizes: an empty product is empty.
    stk_drop(ctx);
    stk_drop(ctx);
    return stk_push_empty(ctx);  // the dropped descriptors left room
  }
  if (k != k2) return kIncompatibleSize;
  const bool ac = da[0] == kKindComplex, bc = db[0] == kKindComplex;
  const bool cplx = ac || bc;
  // Sizes in 64 bits: with an inner size of 0 the operands hold no data, so
  // m and n alone bound nothing.
  const int64_t mn = m * n;
  if ((cplx ? 2 * mn : mn) >= kMatrixCountLimit || k > INT32_MAX) return kDataStackOverflow;
  double *c, *ci = nullptr;
  TN_TRY(stk_push_matrix(ctx, static_cast<int32_t>(m), static_cast<int32_t>(n), &c,
                         cplx ? &ci : nullptr));
  const auto* a = reinterpret_cast<const double*>(item_data(ctx, 2));
  const auto* b = reinterpret_cast<const double*>(item_data(ctx, 1));
  const auto mi = static_cast<int32_t>(m), ki = static_cast<int32_t>(k),
             ni = static_cast<int32_t>(n);
  // The kernels assign every element (zeros when k is 0).
  if (ac && bc) {
    matmul_complex(mi, ki, ni, a, b, c);
  } else if (bc) {
    matmul_real(mi, ki, ni, a, b, c);
    matmul_real(mi, ki, ni, a, b + k * n, ci);
  } else if (ac) {
    matmul_real(mi, ki, ni, a, b, c);
    matmul_real(mi, ki, ni, a + m * k, b, ci);
  } else {
    matmul_real(mi, ki, ni, a, b, c);
  }
  return stk_remove(ctx, 1, 2);
}

}  // namespace

int bi_uminus(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kWrongArgType;
  uint32_t* d = desc_at(ctx, 0);
  if (plain_double(d)) {
    negate(reinterpret_cast<double*>(item_data(ctx, 0)), desc_data_words(d));
    return kOk;
  }
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.size == 0) return kWrongArgType;
  const int64_t parts = t.count * (t.is_complex ? 2 : 1);
  switch (t.type) {
    case kElemDouble:
    case kElemDoubleComplex:
      negate(reinterpret_cast<double*>(t.elems), parts);
      return kOk;
    case kElemSingle:
    case kElemSingleComplex:
      negate(reinterpret_cast<float*>(t.elems), parts);
      return kOk;
    default:
      negate_ints(t.elems, t.size, t.count);
      d[2] = kPayNumeric;  // char and logical become numbers of their width
      return kOk;
  }
}

int bi_conj(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kWrongArgType;
  const uint32_t* d = desc_at(ctx, 0);
  if (plain_double(d)) {
    if (d[0] == kKindComplex) {
      const int64_t n = static_cast<int64_t>(d[1]) * d[2];
      negate(reinterpret_cast<double*>(item_data(ctx, 0)) + n, n);
    }
    return kOk;
  }
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.size == 0) return kWrongArgType;
  if (t.type == kElemDoubleComplex)
    negate(reinterpret_cast<double*>(t.elems) + t.count, t.count);
  else if (t.type == kElemSingleComplex)
    negate(reinterpret_cast<float*>(t.elems) + t.count, t.count);
  return kOk;
}

int bi_mtimes(EngineContext* ctx) {
  if (stk_item_count(ctx) < 2) return kWrongArgType;
  uint32_t* da = desc_at(ctx, 1);
  const uint32_t* db = desc_at(ctx, 0);
  if (plain_double(da) && plain_double(db)) {
    const bool as = one_by_one(da), bs = one_by_one(db);
    if (as && bs) {
      scalar_product(ctx, da, db);
      return kOk;
    }
    if (as || bs) return arith_elementwise_binary(ctx, kArithTimes);
    return matrix_product(ctx, da, db);
  }
  // Other classes: no promotion here; only a scalar factor is accepted.
  const NumOperand a = num_operand(ctx, 1), b = num_operand(ctx, 0);
  if (a.kind == NumKind::kNone || b.kind == NumKind::kNone) return kWrongArgType;
  if (!a.scalar() && !b.scalar()) return shapes_agree(a, b) ? kBadSize : kWrongArgType;
  return arith_elementwise_binary(ctx, kArithTimes);
}
