// Comparisons, logic, identity and the finiteness tests: truth tables with
// NaN, signed zeros and complex values, comparisons in the promoted class,
// same/unsame over every kind of item, and the error codes with the stacks
// left as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/core/containers.h"
#include "engine/lib/relational.h"
#include "support/expect_error.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"
#include "support/typed_values.h"

namespace {

using V = std::vector<double>;
using L = std::vector<int64_t>;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

class Relational : public ::testing::Test {
 protected:
  TestContext t = make_test_context(1 << 18);
  EngineContext* c = t.ctx();

  void TearDown() override { EXPECT_TRUE(check_stack_invariants(c)); }

  // Runs fn on the n top items; expects one logical array in their place.
  L run(int (*fn)(EngineContext*, int), int sel, int n = 2) {
    const int items = stk_item_count(c);
    EXPECT_EQ(fn(c, sel), kOk) << char(sel);
    EXPECT_EQ(stk_item_count(c), items - n + 1);
    const tv::Value v = tv::read(c);
    EXPECT_EQ(v.cls, "logical");
    stk_drop(c);
    return v.ints;
  }
  L compare(const V& x, const V& y, int sel) {
    tv::push_row(c, x);
    tv::push_row(c, y);
    return run(bi_eq, sel);
  }
  L compare_c(double xr, double xi, double yr, double yi, int sel) {
    tv::push_cscalar(c, xr, xi);
    tv::push_cscalar(c, yr, yi);
    return run(bi_eq, sel);
  }
};

TEST_F(Relational, RealTruthTablesWithNaNAndSignedZeros) {
  const V x = {kNaN, kNaN, 1, 1, 0, -0.0, -kInf, 3};
  const V y = {kNaN, 1, kNaN, 2, -0.0, 0, 1, 3};
  EXPECT_EQ(compare(x, y, kCmpEq), (L{0, 0, 0, 0, 1, 1, 0, 1}));
  EXPECT_EQ(compare(x, y, kCmpNe), (L{1, 1, 1, 1, 0, 0, 1, 0}));
  EXPECT_EQ(compare(x, y, kCmpLt), (L{0, 0, 0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(compare(x, y, kCmpGt), (L{0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(compare(x, y, kCmpLe), (L{0, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(compare(x, y, kCmpGe), (L{0, 0, 0, 0, 1, 1, 0, 1}));
  // Scalars on either side, and the two-scalar fast path.
  EXPECT_EQ(compare({2}, {1, 2, 3, kNaN}, kCmpGe), (L{1, 1, 0, 0}));
  EXPECT_EQ(compare({1, 2, 3, kNaN}, {2}, kCmpGt), (L{0, 0, 1, 0}));
  for (int sel : {kCmpEq, kCmpNe, kCmpLt, kCmpGt, kCmpLe, kCmpGe})
    EXPECT_EQ(compare({kNaN}, {1}, sel), L{sel == kCmpNe ? 1 : 0});
  EXPECT_EQ(compare({1}, {2}, kCmpLt), L{1});
}

TEST_F(Relational, ComplexComparisons) {
  EXPECT_EQ(compare_c(1, 2, 1, 2, kCmpEq), L{1});
  EXPECT_EQ(compare_c(1, 2, 1, 0, kCmpEq), L{0});
  EXPECT_EQ(compare_c(1, 2, 2, -5, kCmpLt), L{1});  // real parts only
  EXPECT_EQ(compare_c(1, 2, 1, 9, kCmpGe), L{1});
  EXPECT_EQ(compare_c(1, 2, 1, 9, kCmpGt), L{0});
  EXPECT_EQ(compare_c(kNaN, 0, kNaN, 0, kCmpEq), L{0});
  EXPECT_EQ(compare_c(1, kNaN, 1, kNaN, kCmpNe), L{1});
  tv::push_row(c, {1, 1, 2}, {2, 0, 0});
  tv::push_scalar(c, 1);
  EXPECT_EQ(run(bi_eq, kCmpEq), (L{0, 1, 0}));
  tv::push_scalar(c, 1);
  tv::push_row(c, {1, 1, 2}, {2, 0, 0});
  EXPECT_EQ(run(bi_eq, kCmpNe), (L{1, 0, 1}));
}

TEST_F(Relational, ComparisonsInThePromotedClass) {
  tv::push_chars(c, u"abc");
  tv::push_chars(c, u"abd");
  EXPECT_EQ(run(bi_eq, kCmpEq), (L{1, 1, 0}));
  tv::push_chars(c, u"abc");
  tv::push_chars(c, u"b");
  EXPECT_EQ(run(bi_eq, kCmpEq), (L{0, 1, 0}));
  tv::push_chars(c, u"a");
  tv::push_scalar(c, 97);
  EXPECT_EQ(run(bi_eq, kCmpEq), L{1});
  tv::push_ints(c, kElemI8, {1, 1}, {-1});
  tv::push_ints(c, kElemI8, {1, 1}, {0});
  EXPECT_EQ(run(bi_eq, kCmpLt), L{1});
  tv::push_ints(c, kElemU8, {1, 1}, {200});
  tv::push_ints(c, kElemU8, {1, 1}, {100});
  EXPECT_EQ(run(bi_eq, kCmpGt), L{1});
  // Full 64-bit precision: no detour through doubles.
  tv::push_ints(c, kElemI64, {1, 2}, {INT64_MAX, INT64_MIN});
  tv::push_ints(c, kElemI64, {1, 2}, {INT64_MAX - 1, INT64_MIN + 1});
  EXPECT_EQ(run(bi_eq, kCmpGt), (L{1, 0}));
  // int8 with uint8 compares as uint8: -1 keeps its bits, 255.
  tv::push_ints(c, kElemI8, {1, 1}, {-1});
  tv::push_ints(c, kElemU8, {1, 1}, {255});
  EXPECT_EQ(run(bi_eq, kCmpEq), L{1});
  tv::push_single(c, {1, 1}, {0.1f});
  tv::push_scalar(c, 0.1);
  EXPECT_EQ(run(bi_eq, kCmpEq), L{0});
  tv::push_single(c, {1, 2}, {0.5f, float(kNaN)});
  tv::push_single(c, {1, 1}, {0.5f});
  EXPECT_EQ(run(bi_eq, kCmpLe), (L{1, 0}));
  tv::push_logicals(c, {1, 0});
  tv::push_scalar(c, 1);
  EXPECT_EQ(run(bi_eq, kCmpEq), (L{1, 0}));
}

TEST_F(Relational, ComparisonErrors) {
  tv::push_chars(c, u"abc");
  tv::push_chars(c, u"ab");
  expect_error(c, kIncompatibleSize, [&] { return bi_eq(c, kCmpEq); }, 2);
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  tv::push_scalar(c, 1);
  expect_error(c, kWrongArgType, [&] { return bi_eq(c, kCmpEq); }, 2);
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_push_raw(c, kPayFuncRef, 8, nullptr), kOk);
  expect_error(c, kWrongArgType, [&] { return bi_eq(c, kCmpLt); }, 2);
}

TEST_F(Relational, LogicTruthTables) {
  auto logic = [&](const V& x, const V& y, int sel) {
    tv::push_row(c, x);
    tv::push_row(c, y);
    return run(bi_and, sel);
  };
  const V x = {0, 0, 1, 1, kNaN, -0.0, -3};
  const V y = {0, 1, 0, 1, 1, 1, kInf};
  EXPECT_EQ(logic(x, y, kLogicAnd), (L{0, 0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(logic(x, y, kLogicOr), (L{0, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(logic(x, y, kLogicXor), (L{0, 1, 1, 0, 1, 1, 0}));
  EXPECT_EQ(logic({1, 0, 2}, {1}, kLogicXor), (L{0, 1, 0}));
  EXPECT_EQ(logic({1}, {1, 0, 2}, kLogicAnd), (L{1, 0, 1}));
  // Complex: true when either part is nonzero (a NaN part counts as zero).
  tv::push_row(c, {0, 0, 0}, {1, 0, kNaN});
  tv::push_scalar(c, 1);
  EXPECT_EQ(run(bi_and, kLogicAnd), (L{1, 0, 0}));
  tv::push_ints(c, kElemI16, {1, 3}, {0, 256, -1});
  tv::push_chars(c, u"a");
  EXPECT_EQ(run(bi_and, kLogicAnd), (L{0, 1, 1}));
  tv::push_ints(c, kElemU64, {1, 2}, {0, int64_t(1) << 40});
  tv::push_logicals(c, {0, 0});
  EXPECT_EQ(run(bi_and, kLogicOr), (L{0, 1}));
}

TEST_F(Relational, LogicErrors) {
  tv::push_row(c, {1, 0});
  tv::push_row(c, {1, 1, 1});
  expect_error(c, kIncompatibleSize, [&] { return bi_and(c, kLogicAnd); }, 2);
  ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk);
  tv::push_scalar(c, 1);
  expect_error(c, kWrongArgType, [&] { return bi_and(c, kLogicAnd); }, 2);
  tv::push_single(c, {1, 1}, {1});
  tv::push_scalar(c, 1);
  expect_error(c, kWrongArgType, [&] { return bi_and(c, kLogicOr); }, 2);
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_push_raw(c, kPayFirstClass, 8, nullptr), kOk);
  expect_error(c, kWrongArgType, [&] { return bi_and(c, kLogicXor); }, 2);
}

TEST_F(Relational, NotAndLogical) {
  tv::push_scalar(c, 3);
  EXPECT_EQ(run(bi_not, kNotNot, 1), L{0});
  tv::push_row(c, {0, 2, -1, kNaN});
  EXPECT_EQ(run(bi_not, kNotLogical, 1), (L{0, 1, 1, 0}));
  tv::push_row(c, {0, kNaN}, {0, 1});
  EXPECT_EQ(run(bi_not, kNotNot, 1), (L{1, 0}));
  tv::push_ints(c, kElemI16, {1, 2}, {0, 5});
  EXPECT_EQ(run(bi_not, kNotNot, 1), (L{1, 0}));
  tv::push_ints(c, kElemU8, {1, 2}, {0, 7});
  EXPECT_EQ(run(bi_not, kNotLogical, 1), (L{0, 1}));
  tv::push_logicals(c, {1, 0});
  EXPECT_EQ(run(bi_not, kNotNot, 1), (L{0, 1}));
  ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk);
  expect_error(c, kWrongArgType, [&] { return bi_not(c, kNotNot); }, 1);
  tv::push_single(c, {1, 1}, {1});
  expect_error(c, kWrongArgType, [&] { return bi_not(c, kNotLogical); }, 1);
}

TEST_F(Relational, SameOnEveryKind) {
  auto same = [&](auto push_x, auto push_y) {
    push_x();
    push_y();
    const L same_result = run(bi_same, kSameSame);
    push_x();
    push_y();
    EXPECT_NE(same_result, run(bi_same, kSameUnsame));
    return same_result == L{1};
  };
  auto dbl = [&](double v) { return [this, v] { tv::push_scalar(c, v); }; };
  auto row = [&](V v, bool column = false) {
    return [this, v, column] {
      tv::push_double(c, column ? std::vector<int32_t>{int32_t(v.size()), 1} : tv::row_dims(v.size()), v);
    };
  };
  EXPECT_TRUE(same(dbl(kNaN), dbl(kNaN)));
  EXPECT_FALSE(same(dbl(0), dbl(-0.0)));
  EXPECT_TRUE(same(dbl(2), dbl(2)));
  EXPECT_FALSE(same(row({1, 2}), row({1, 2}, true)));
  EXPECT_FALSE(same(dbl(1), [this] { tv::push_ints(c, kElemI8, {1, 1}, {1}); }));
  EXPECT_FALSE(same([this] { tv::push_ints(c, kElemU8, {1, 1}, {1}); },
                    [this] { tv::push_ints(c, kElemI8, {1, 1}, {1}); }));
  EXPECT_TRUE(same([this] { tv::push_ints(c, kElemI32, {1, 2}, {1, -1}); },
                   [this] { tv::push_ints(c, kElemI32, {1, 2}, {1, -1}); }));
  EXPECT_TRUE(same([this] { tv::push_chars(c, u"ab"); }, [this] { tv::push_chars(c, u"ab"); }));
  EXPECT_FALSE(same([this] { tv::push_chars(c, u"a"); }, [this] { tv::push_ints(c, kElemU16, {1, 1}, {97}); }));
  EXPECT_FALSE(same([this] { tv::push_logicals(c, {1}); }, [this] { tv::push_ints(c, kElemU8, {1, 1}, {1}); }));
  EXPECT_FALSE(same([this] { tv::push_cscalar(c, 1, 0); }, dbl(1)));
  EXPECT_TRUE(same([this] { tv::push_single(c, {1, 1}, {float(kNaN)}); }, [this] { tv::push_single(c, {1, 1}, {float(kNaN)}); }));
  auto list = [this](double a, double b) {
    return [this, a, b] {
      tv::push_scalar(c, a);
      tv::push_row(c, {b, b});
      ASSERT_EQ(stk_make_container(c, 2, 0, nullptr, 0), kOk);
    };
  };
  EXPECT_TRUE(same(list(1, 2), list(1, 2)));
  EXPECT_FALSE(same(list(1, 2), list(1, 3)));
  auto funcref = [this](uint8_t tag) {
    return [this, tag] {
      void* d;
      ASSERT_EQ(stk_push_raw(c, kPayFuncRef, 5, &d), kOk);
      std::memset(d, tag, 5);
    };
  };
  EXPECT_TRUE(same(funcref(7), funcref(7)));
  EXPECT_FALSE(same(funcref(7), funcref(8)));
  auto cell = [this] { ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk); };
  EXPECT_TRUE(same(cell, cell));
  EXPECT_TRUE(same([this] { ASSERT_EQ(stk_push_no_value(c), kOk); },
                   [this] { ASSERT_EQ(stk_push_no_value(c), kOk); }));
  EXPECT_FALSE(same([this] { ASSERT_EQ(stk_push_marker(c, 1), kOk); },
                    [this] { ASSERT_EQ(stk_push_marker(c, 2), kOk); }));
  // No room for the logical scalar: nothing changes.
  ASSERT_EQ(stk_push_no_value(c), kOk);
  ASSERT_EQ(stk_push_no_value(c), kOk);
  t.set_capacity(static_cast<uint32_t>(c->data_top) + 3, t.desc_room);
  expect_error(c, kDataStackOverflow, [&] { return bi_same(c, kSameSame); }, 2);
  t.set_capacity(t.data_room, t.desc_room);
}

TEST_F(Relational, FinitenessTests) {
  const V x = {1, kInf, -kInf, kNaN, -0.0};
  auto test = [&](int sel) {
    tv::push_row(c, x);
    return run(bi_isfinite, sel, 1);
  };
  EXPECT_EQ(test(kFiniteIsfinite), (L{1, 0, 0, 0, 1}));
  EXPECT_EQ(test(kFiniteIsinf), (L{0, 1, 1, 0, 0}));
  EXPECT_EQ(test(kFiniteIsnan), (L{0, 0, 0, 1, 0}));
  auto test_c = [&](int sel) {
    tv::push_double(c, {1, 1, 4}, {1, kNaN, 1, kInf}, {kInf, 0, 1, kNaN});
    const int items = stk_item_count(c);
    EXPECT_EQ(bi_isfinite(c, sel), kOk);
    EXPECT_EQ(stk_item_count(c), items);
    const tv::Value v = tv::read(c);
    EXPECT_EQ(v.dims, (std::vector<uint32_t>{1, 1, 4}));
    stk_drop(c);
    return v.ints;
  };
  EXPECT_EQ(test_c(kFiniteIsfinite), (L{0, 0, 1, 0}));
  EXPECT_EQ(test_c(kFiniteIsinf), (L{1, 0, 0, 1}));
  EXPECT_EQ(test_c(kFiniteIsnan), (L{0, 1, 0, 1}));
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  expect_error(c, kWrongArgType, [&] { return bi_isfinite(c, kFiniteIsnan); }, 1);
  tv::push_single(c, {1, 1}, {1});
  expect_error(c, kWrongArgType, [&] { return bi_isfinite(c, kFiniteIsinf); }, 1);
  tv::push_chars(c, u"a");
  expect_error(c, kWrongArgType, [&] { return bi_isfinite(c, kFiniteIsfinite); }, 1);
}

}  // namespace
