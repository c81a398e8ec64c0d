// Integer elementwise arithmetic against a wrapping model computed in 128
// bits: every int8 and uint8 pair for + - .* ./ rem mod, sampled pairs of the
// wider types with their extreme values, and scalar expansion on either side.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/lib/arith.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"
#include "support/typed_values.h"

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

// The value's low `bits` bits, sign-extended for signed types.
i128 wrap(i128 v, int bits, bool is_signed) {
  const auto u = static_cast<unsigned __int128>(v);
  const unsigned __int128 mask = (static_cast<unsigned __int128>(1) << bits) - 1;
  unsigned __int128 low = u & mask;
  if (is_signed && (low >> (bits - 1)) & 1) return static_cast<i128>(low) - (static_cast<i128>(1) << bits);
  return static_cast<i128>(low);
}

// Mathematical definitions in 128 bits, wrapped to the element width.
i128 model(int op, i128 a, i128 b, int bits, bool is_signed) {
  switch (op) {
    // Modulo 2^128 first (uint64 products overflow 128 signed bits).
    case '+': return wrap(static_cast<i128>(u128(a) + u128(b)), bits, is_signed);
    case '-': return wrap(static_cast<i128>(u128(a) - u128(b)), bits, is_signed);
    case '*': return wrap(static_cast<i128>(u128(a) * u128(b)), bits, is_signed);
    case '/': return b == 0 ? 0 : wrap(a / b, bits, is_signed);
    case '%': return b == 0 ? 0 : wrap(a - b * (a / b), bits, is_signed);
    default: {  // mod: a - floor(a / b) b
      if (b == 0) return is_signed ? a : 0;
      i128 q = a / b;
      if ((a % b != 0) && ((a < 0) != (b < 0))) q -= 1;
      return wrap(a - b * q, bits, is_signed);
    }
  }
}

struct IntType {
  uint32_t type;
  int bits;
  bool is_signed;
};
const IntType kTypes[] = {{kElemI8, 8, true},    {kElemU8, 8, false},  {kElemI16, 16, true},
                          {kElemU16, 16, false}, {kElemI32, 32, true}, {kElemU32, 32, false},
                          {kElemI64, 64, true},  {kElemU64, 64, false}};
const int kOps[] = {'+', '-', '*', '/', '%', 'o'};

class ArithInt : public ::testing::Test {
 protected:
  TestContext t = make_test_context(8 << 20);
  EngineContext* c = t.ctx();

  void TearDown() override { EXPECT_TRUE(check_stack_invariants(c)); }

  // Runs op on two rows (either may be one element) and checks every result
  // element against the model.
  void check(const IntType& ty, int op, const std::vector<int64_t>& a,
             const std::vector<int64_t>& b) {
    const int32_t items = stk_item_count(c);
    tv::push_ints(c, ty.type, tv::row_dims(a.size()), a);
    tv::push_ints(c, ty.type, tv::row_dims(b.size()), b);
    ASSERT_EQ(arith_elementwise_binary(c, op), kOk);
    ASSERT_EQ(stk_item_count(c), items + 1);
    const tv::Value r = tv::read(c);
    ASSERT_EQ(r.cls, tv::int_class_name(ty.type));
    const size_t n = std::max(a.size(), b.size());
    ASSERT_EQ(r.ints.size(), n);
    for (size_t i = 0; i < n; ++i) {
      const i128 x = wrap(a[a.size() == 1 ? 0 : i], ty.bits, ty.is_signed);
      const i128 y = wrap(b[b.size() == 1 ? 0 : i], ty.bits, ty.is_signed);
      const i128 want = model(op, x, y, ty.bits, ty.is_signed);
      ASSERT_EQ(static_cast<i128>(r.ints[i]), ty.bits == 64 && !ty.is_signed
                                                  ? wrap(want, 64, true)
                                                  : want)
          << tv::int_class_name(ty.type) << " " << char(op) << " " << int64_t(x) << ", "
          << int64_t(y);
    }
    stk_drop(c);
  }
};

TEST_F(ArithInt, EveryInt8AndUint8PairForEveryOperator) {
  for (const IntType& ty : {kTypes[0], kTypes[1]}) {
    std::vector<int64_t> a, b;
    for (int x = 0; x < 256; ++x)
      for (int y = 0; y < 256; ++y) {
        a.push_back(x);
        b.push_back(y);
      }
    for (int op : kOps) check(ty, op, a, b);
  }
}

TEST_F(ArithInt, SampledWiderTypesWithExtremes) {
  std::mt19937_64 rng(20240601);
  for (const IntType& ty : kTypes) {
    const i128 lo = ty.is_signed ? -(static_cast<i128>(1) << (ty.bits - 1)) : 0;
    const i128 hi = ty.is_signed ? (static_cast<i128>(1) << (ty.bits - 1)) - 1
                                 : (static_cast<i128>(1) << ty.bits) - 1;
    const std::vector<i128> special = {lo, lo + 1, -1, 0, 1, 2, -2, hi - 1, hi, 7, -7, 3};
    std::vector<int64_t> a, b;
    for (i128 x : special)
      for (i128 y : special) {
        a.push_back(static_cast<int64_t>(x));
        b.push_back(static_cast<int64_t>(y));
      }
    for (int i = 0; i < 4000; ++i) {
      // Mix full-width values with small ones so that quotients are not all 0.
      uint64_t x = rng(), y = rng();
      if (i % 3 == 1) y >>= (rng() % 64);
      if (i % 3 == 2) x >>= (rng() % 64);
      a.push_back(static_cast<int64_t>(x));
      b.push_back(static_cast<int64_t>(y));
    }
    for (int op : kOps) check(ty, op, a, b);
  }
}

TEST_F(ArithInt, ScalarOnEitherSideIsExpanded) {
  const std::vector<int64_t> row = {-128, -7, -1, 0, 1, 5, 127};
  for (int op : kOps) {
    for (int64_t s : {-128, -1, 0, 3}) {
      check(kTypes[0], op, {s}, row);
      check(kTypes[0], op, row, {s});
    }
  }
  check(kTypes[6], '/', {INT64_MIN}, {-1});
  check(kTypes[4], 'o', {INT32_MIN}, {-1});
}

TEST_F(ArithInt, ListedCases) {
  struct Case {
    uint32_t type;
    int op;
    int64_t a, b, want;
  };
  const Case cases[] = {
      {kElemI8, '+', 100, 100, -56},     {kElemU8, '-', 3, 5, 254},
      {kElemI16, '/', -7, 2, -3},        {kElemI16, '%', -7, 2, -1},
      {kElemI16, 'o', -7, 2, 1},         {kElemI16, 'o', 5, 0, 5},
      {kElemU16, 'o', 5, 0, 0},          {kElemI32, '%', 5, 0, 0},
      {kElemI32, '/', 5, 0, 0},          {kElemI32, 'o', 1500000000, 2000000000, 1500000000},
      {kElemI32, '/', INT32_MIN, -1, INT32_MIN}, {kElemI32, '%', INT32_MIN, -1, 0},
      {kElemI64, 'o', INT64_MIN, -1, 0}, {kElemI64, '*', INT64_MAX, 2, -2},
  };
  for (const Case& k : cases) {
    tv::push_ints(c, k.type, {1, 1}, {k.a});
    tv::push_ints(c, k.type, {1, 1}, {k.b});
    ASSERT_EQ(arith_elementwise_binary(c, k.op), kOk);
    EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{k.want}) << char(k.op) << " " << k.a;
    stk_drop(c);
  }
}

}  // namespace
