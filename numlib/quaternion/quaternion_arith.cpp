// Quaternion arithmetic and comparison: sums, Hamilton products and
// quotients, powers and equality, with either operand a quaternion or a
// double array and single elements broadcast. The result is computed in the
// storage of the operand that already has its size (a real one is converted
// first), so nothing is copied that need not be.
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/quaternion/quaternion.h"

namespace {

// Which operands must be single elements.
enum class SizeRule { kElementwise, kOneScalar, kFirstScalar, kSecondScalar, kBothScalar };

struct Binary {
  QuaternionView a, b;   // first operand (depth 1), second (depth 0)
  int64_t n = 0;         // elements of the result
  int64_t sa = 0, sb = 0;  // 0 for a broadcast operand
  int target = 0;        // 0: the result goes into a, 1: into b
};

int read_operands(EngineContext* ctx, Binary* p) {
  int s = quaternion_get_operand(ctx, 1, &p->a);
  if (s == kOk) s = quaternion_get_operand(ctx, 0, &p->b);
  return s == kWrongType ? kWrongArgType : s;
}

// Reads both operands, checks the sizes and makes the operand that holds the
// result a quaternion. Nothing changes when it fails.
int binary_prepare(EngineContext* ctx, SizeRule rule, Binary* p) {
  TN_TRY(read_operands(ctx, p));
  const bool as = p->a.count == 1, bs = p->b.count == 1;
  switch (rule) {
    case SizeRule::kOneScalar: if (!as && !bs) return kIncompatibleSize; break;
    case SizeRule::kFirstScalar: if (!as) return kIncompatibleSize; break;
    case SizeRule::kSecondScalar: if (!bs) return kIncompatibleSize; break;
    case SizeRule::kBothScalar: if (!as || !bs) return kIncompatibleSize; break;
    case SizeRule::kElementwise: break;
  }
  if (!as && !bs && !quaternion_same_dims(p->a, p->b)) return kIncompatibleSize;
  p->n = as ? p->b.count : p->a.count;
  const bool a_fits = p->a.count == p->n, b_fits = p->b.count == p->n;
  if (a_fits && p->a.is_quaternion) p->target = 0;
  else if (b_fits && p->b.is_quaternion) p->target = 1;
  else {
    // A real operand of the result's size becomes a quaternion (x = y = z = 0).
    p->target = a_fits ? 0 : 1;
    const QuaternionView& r = a_fits ? p->a : p->b;
    QuaternionView q;
    TN_TRY(quaternion_new(ctx, r.ndims, r.dims, &q));
    std::memcpy(q.c[0], r.c[0], size_t(q.count) * 8);
    for (int j = 1; j < kQuaternionParts; ++j) std::memset(q.c[j], 0, size_t(q.count) * 8);
    stk_replace_with_top(ctx, a_fits ? 1 : 0);
    TN_TRY(read_operands(ctx, p));
  }
  p->sa = p->a.count == 1 ? 0 : 1;
  p->sb = p->b.count == 1 ? 0 : 1;
  return kOk;
}

// Removes the operand that does not hold the result.
int binary_finish(EngineContext* ctx, const Binary& p) {
  if (p.target == 0) {
    stk_drop(ctx);
    return kOk;
  }
  return stk_remove(ctx, 1, 1);
}

void load(const QuaternionView& v, int64_t k, double* q) {
  for (int j = 0; j < kQuaternionParts; ++j) q[j] = qpart(v, j, k);
}

void store(const Binary& p, int64_t k, const double* q) {
  const QuaternionView& t = p.target == 0 ? p.a : p.b;
  for (int j = 0; j < kQuaternionParts; ++j) t.c[j][k] = q[j];
}

// q^-1 = conj(q) / |q|^2. The product takes the conjugate and the division
// by |q|^2 comes last, which keeps q / q exactly 1 for moderate q.
double conjugate(double* q) {
  for (int j = 1; j < kQuaternionParts; ++j) q[j] = -q[j];
  return quaternion_norm2(q[0], q[1], q[2], q[3]);
}

int sum_or_difference(EngineContext* ctx, double sign) {
  Binary p;
  TN_TRY(binary_prepare(ctx, SizeRule::kElementwise, &p));
  double a[4], b[4];
  for (int64_t k = 0; k < p.n; ++k) {
    load(p.a, k * p.sa, a);
    load(p.b, k * p.sb, b);
    for (int j = 0; j < kQuaternionParts; ++j) a[j] += sign * b[j];
    store(p, k, a);
  }
  return binary_finish(ctx, p);
}

}  // namespace

int bi_quaternion_plus(EngineContext* ctx, int, int, uintptr_t) { return sum_or_difference(ctx, 1.0); }
int bi_quaternion_minus(EngineContext* ctx, int, int, uintptr_t) { return sum_or_difference(ctx, -1.0); }

int bi_quaternion_uminus(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  const int s = quaternion_get_arg(ctx, 0, &q);
  TN_TRY(s == kWrongType ? kWrongArgType : s);
  for (int j = 0; j < kQuaternionParts; ++j)
    for (int64_t k = 0; k < q.count; ++k) q.c[j][k] = -q.c[j][k];
  return kOk;
}

int bi_quaternion_uplus(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  const int s = quaternion_get_arg(ctx, 0, &q);
  return s == kWrongType ? kWrongArgType : s;
}

// times 't', mtimes 'T', rdivide 'r', mrdivide 'R', ldivide 'l', mldivide 'L':
// a/b = a b^-1 and a\b = a^-1 b, the inverse taken element by element.
int bi_quaternion_product(EngineContext* ctx, int, int, uintptr_t data) {
  SizeRule rule = SizeRule::kElementwise;
  switch (data) {
    case 't': case 'r': case 'l': break;
    case 'T': rule = SizeRule::kOneScalar; break;
    case 'R': rule = SizeRule::kSecondScalar; break;
    case 'L': rule = SizeRule::kFirstScalar; break;
    default: return TN_ILLEGAL();
  }
  Binary p;
  TN_TRY(binary_prepare(ctx, rule, &p));
  const bool invert_a = data == 'l' || data == 'L', invert_b = data == 'r' || data == 'R';
  double a[4], b[4], out[4];
  for (int64_t k = 0; k < p.n; ++k) {
    load(p.a, k * p.sa, a);
    load(p.b, k * p.sb, b);
    const double n2 = invert_a ? conjugate(a) : invert_b ? conjugate(b) : 1.0;
    quaternion_mul_kernel(a, b, out);
    if (invert_a || invert_b)
      for (double& v : out) v /= n2;
    store(p, k, out);
  }
  return binary_finish(ctx, p);
}

// power 'p' (elementwise) and mpower 'm' (scalars): A^B = exp(B log A).
int bi_quaternion_power(EngineContext* ctx, int, int, uintptr_t data) {
  if (data != 'p' && data != 'm') return TN_ILLEGAL();
  Binary p;
  TN_TRY(binary_prepare(ctx, data == 'm' ? SizeRule::kBothScalar : SizeRule::kElementwise, &p));
  double a[4], b[4];
  for (int64_t k = 0; k < p.n; ++k) {
    load(p.a, k * p.sa, a);
    load(p.b, k * p.sb, b);
    quaternion_pow_kernel(a, b);
    store(p, k, a);
  }
  return binary_finish(ctx, p);
}

// eq 'e', ne 'n': a logical array of the larger operand's dims.
int bi_quaternion_compare(EngineContext* ctx, int, int, uintptr_t data) {
  if (data != 'e' && data != 'n') return TN_ILLEGAL();
  Binary p;
  TN_TRY(read_operands(ctx, &p));
  const bool as = p.a.count == 1, bs = p.b.count == 1;
  if (!as && !bs && !quaternion_same_dims(p.a, p.b)) return kIncompatibleSize;
  const QuaternionView& shape = (as && !bs) ? p.b : p.a;
  int32_t dims[kQuaternionMaxDims + 1];
  for (int k = 0; k < shape.ndims; ++k) dims[k] = int32_t(shape.dims[k]);
  uint8_t* out = nullptr;
  TN_TRY(stk_push_logical_array(ctx, shape.ndims, dims, &out));
  const int64_t sa = as ? 0 : 1, sb = bs ? 0 : 1;
  double a[4], b[4];
  for (int64_t k = 0; k < shape.count; ++k) {
    load(p.a, k * sa, a);
    load(p.b, k * sb, b);
    const bool equal = a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
    out[k] = (equal == (data == 'e')) ? 1 : 0;
  }
  return stk_remove(ctx, 1, 2);
}
