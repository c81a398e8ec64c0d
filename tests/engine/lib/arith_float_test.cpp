// Elementwise arithmetic on doubles, singles and complex values, shapes, the error codes with the stacks left
// as they were, and the complex scalar power against the standard library.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "engine/core/containers.h"
#include "engine/lib/arith.h"
#include "support/expect_error.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"
#include "support/typed_values.h"

namespace {

using V = std::vector<double>;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Equal as values, NaN equal to NaN.
bool same_value(double x, double y) { return (std::isnan(x) && std::isnan(y)) || x == y; }

class ArithFloat : public ::testing::Test {
 protected:
  TestContext t = make_test_context(1 << 20);
  EngineContext* c = t.ctx();

  void TearDown() override { EXPECT_TRUE(check_stack_invariants(c)); }

  // Runs op on the two pushed operands, expects one item in their place.
  tv::Value run(int op) {
    const int items = stk_item_count(c);
    EXPECT_EQ(arith_elementwise_binary(c, op), kOk);
    EXPECT_EQ(stk_item_count(c), items - 1);
    tv::Value v = tv::read(c);
    stk_drop(c);
    return v;
  }
  void expect_values(const tv::Value& v, const V& re, const V& im = {}) {
    ASSERT_EQ(v.re.size(), re.size());
    for (size_t i = 0; i < re.size(); ++i) EXPECT_TRUE(same_value(v.re[i], re[i])) << i << ": " << v.re[i];
    ASSERT_EQ(v.cplx, !im.empty());
    for (size_t i = 0; i < im.size(); ++i) EXPECT_TRUE(same_value(v.im[i], im[i])) << i << ": " << v.im[i];
  }
};

TEST_F(ArithFloat, ArraysAndScalarExpansionOnBothSides) {
  const V x = {1, -2, 3.5, 0, -0.0, kInf};
  tv::push_row(c, x);
  tv::push_scalar(c, 2);
  expect_values(run('-'), {-1, -4, 1.5, -2, -2, kInf});
  tv::push_scalar(c, 2);
  tv::push_row(c, x);
  expect_values(run('-'), {1, 4, -1.5, 2, 2, -kInf});
  tv::push_scalar(c, 2);
  tv::push_row(c, x);
  expect_values(run('\\'), {0.5, -1, 1.75, 0, -0.0, kInf});
  tv::push_row(c, x);
  tv::push_row(c, {2, 2, 2, 2, 2, 2});
  expect_values(run('o'), {1, 0, 1.5, 0, 0, kNaN});
  // N-d operands keep their dimensions.
  tv::push_double(c, {1, 2, 2}, {1, 2, 3, 4});
  tv::push_double(c, {1, 2, 2}, {4, 3, 2, 1});
  tv::Value v = run('*');
  EXPECT_FALSE(v.plain);
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{1, 2, 2}));
  expect_values(v, {4, 6, 6, 4});
}

TEST_F(ArithFloat, RealPowerRules) {
  tv::push_scalar(c, -8);
  tv::push_scalar(c, 1.0 / 3);
  tv::Value v = run('^');
  ASSERT_TRUE(v.cplx);
  EXPECT_NEAR(v.re[0], 1.0, 1e-15);
  EXPECT_NEAR(v.im[0], std::sqrt(3.0), 1e-15);
  tv::push_row(c, {1, -1});
  tv::push_scalar(c, 0.5);
  v = run('^');
  ASSERT_TRUE(v.cplx);
  EXPECT_EQ(v.re[0], 1.0);
  EXPECT_EQ(tv::bits(v.im[0]), 0u);
  EXPECT_NEAR(v.im[1], 1.0, 1e-15);
  // Integral exponents keep negative bases real, elementwise too.
  tv::push_row(c, {-2, -2, 3, -1.5});
  tv::push_row(c, {3, -2, 2, 2});
  expect_values(run('^'), {-8, 0.25, 9, 2.25});
  tv::push_row(c, {-3, 4, kNaN});
  tv::push_scalar(c, 2);
  expect_values(run('^'), {9, 16, kNaN});
  tv::push_row(c, {-2, 2});
  tv::push_scalar(c, -3);
  expect_values(run('^'), {-0.125, 0.125});
  // realpow gives NaN where power gives a complex value.
  tv::push_scalar(c, -8);
  tv::push_row(c, {1.0 / 3, 2});
  expect_values(run('r'), {kNaN, 64});
}

TEST_F(ArithFloat, ComplexOperands) {
  // (1+2i) - 2i stays complex with a zero imaginary part.
  tv::push_cscalar(c, 1, 2);
  tv::push_cscalar(c, 0, 2);
  expect_values(run('-'), {1}, {0});
  tv::push_cscalar(c, 1, 2);
  tv::push_cscalar(c, 3, -1);
  expect_values(run('*'), {5}, {5});
  // A real factor scales both parts: no Inf * 0 anywhere.
  tv::push_cscalar(c, kInf, 1);
  tv::push_scalar(c, 2);
  expect_values(run('*'), {kInf}, {2});
  tv::push_scalar(c, 2);
  tv::push_cscalar(c, 1, 3);
  expect_values(run('-'), {1}, {-3});
  tv::push_cscalar(c, 1, 2);
  tv::push_scalar(c, 0);
  expect_values(run('/'), {kInf}, {kInf});
  tv::push_row(c, {1, 3}, {2, 0});
  tv::push_row(c, {0, 0}, {0, 1});
  expect_values(run('/'), {kNaN, 0}, {kNaN, -3});
  tv::push_scalar(c, 3);
  tv::push_row(c, {0, 0}, {0, 1});
  expect_values(run('/'), {kInf, 0}, {0, -3});
  // realpow works on the real parts.
  tv::push_cscalar(c, 1, 2);
  tv::push_scalar(c, 2);
  expect_values(run('r'), {1});
  tv::push_cscalar(c, 1, 2);
  tv::push_scalar(c, 2);
  expect_values(run('^'), {-3}, {4});
}

TEST_F(ArithFloat, ComplexDivisionMatchesTheQuotient) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1e3, 1e3);
  V ar, ai, br, bi;
  for (int i = 0; i < 500; ++i) {
    ar.push_back(u(rng));
    ai.push_back(u(rng));
    br.push_back(u(rng) * (i % 5 == 0 ? 1e-200 : 1));
    bi.push_back(u(rng) * (i % 7 == 0 ? 1e200 : 1));
  }
  tv::push_row(c, ar, ai);
  tv::push_row(c, br, bi);
  tv::Value v = run('/');
  for (size_t i = 0; i < ar.size(); ++i) {
    // Reference in long double, where the scaled parts cannot overflow.
    const std::complex<long double> q = std::complex<long double>(ar[i], ai[i]) /
                                        std::complex<long double>(br[i], bi[i]);
    EXPECT_NEAR(v.re[i] / static_cast<double>(std::abs(q)), static_cast<double>(q.real() / std::abs(q)), 1e-14);
    EXPECT_NEAR(v.im[i] / static_cast<double>(std::abs(q)), static_cast<double>(q.imag() / std::abs(q)), 1e-14);
  }
}

TEST_F(ArithFloat, SinglesComputeInSingle) {
  tv::push_single(c, {1, 2}, {1, 2});
  tv::push_single(c, {1, 1}, {3});
  tv::Value v = run('/');
  EXPECT_EQ(v.cls, "single");
  EXPECT_EQ(v.re[0], static_cast<double>(1.0f / 3.0f));
  EXPECT_EQ(v.re[1], static_cast<double>(2.0f / 3.0f));
  tv::push_single(c, {1, 1}, {-8});
  tv::push_single(c, {1, 1}, {0.5f});
  v = run('^');
  EXPECT_EQ(v.cls, "single");
  ASSERT_TRUE(v.cplx);
  EXPECT_NEAR(v.im[0], std::sqrt(8.0), 1e-6);
  tv::push_single(c, {1, 1}, {1}, {2});
  tv::push_single(c, {1, 1}, {0}, {1});
  v = run('/');
  EXPECT_EQ(v.cls, "single");
  expect_values(v, {2}, {-1});
}

TEST_F(ArithFloat, ShapesAndEmpties) {
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_push_empty(c), kOk);
  tv::Value v = run('+');
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{0, 0}));
  tv::push_double(c, {2, 3}, V(6, 1));
  tv::push_double(c, {3, 2}, V(6, 1));
  expect_error(c, kIncompatibleSize, [&] { return arith_elementwise_binary(c, '+'); }, 2);
  ASSERT_EQ(stk_push_empty(c), kOk);
  tv::push_row(c, {1, 2});
  expect_error(c, kIncompatibleSize, [&] { return arith_elementwise_binary(c, '*'); }, 2);
  tv::push_double(c, {1, 2, 2}, V(4, 1));
  tv::push_double(c, {2, 2}, V(4, 1));
  expect_error(c, kIncompatibleSize, [&] { return arith_elementwise_binary(c, '-'); }, 2);
}

TEST_F(ArithFloat, ErrorsLeaveTheOperands) {
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);  // an empty list
  tv::push_scalar(c, 1);
  expect_error(c, kWrongArgType, [&] { return arith_elementwise_binary(c, '+'); }, 2);
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_push_raw(c, kPayFirstClass + 128, 8, nullptr), kOk);  // a library object
  expect_error(c, kWrongArgType, [&] { return arith_elementwise_binary(c, '*'); }, 2);
  tv::push_ints(c, kElemI8, {1, 1}, {2});
  tv::push_ints(c, kElemI8, {1, 1}, {2});
  expect_error(c, kBadArgument, [&] { return arith_elementwise_binary(c, '^'); }, 2);
  tv::push_chars(c, u"a");
  tv::push_chars(c, u"b");
  expect_error(c, kBadArgument, [&] { return arith_elementwise_binary(c, 'r'); }, 2);
  tv::push_cscalar(c, 1, 2);
  tv::push_scalar(c, 2);
  expect_error(c, kWrongType, [&] { return arith_elementwise_binary(c, '%'); }, 2);
  tv::push_scalar(c, 2);
  tv::push_row(c, {1, 2}, {3, 4});
  expect_error(c, kWrongType, [&] { return arith_elementwise_binary(c, 'o'); }, 2);
}

TEST_F(ArithFloat, NoRoomForTheResult) {
  tv::push_single(c, {1, 4}, {1, 2, 3, 4});
  tv::push_single(c, {1, 4}, {1, 2, 3, 4});
  t.set_capacity(static_cast<uint32_t>(c->data_top) + 2, t.desc_room);
  expect_error(c, kDataStackOverflow, [&] { return arith_elementwise_binary(c, '+'); }, 2);
  t.set_capacity(t.data_room, t.desc_room);
  tv::push_row(c, {1, 2});
  tv::push_scalar(c, 2);
  t.set_capacity(t.data_room, static_cast<uint32_t>(c->desc_top) + 1);
  // Real doubles are written over an operand and need no room at all.
  tv::Value v = run('*');
  expect_values(v, {2, 4});
  tv::push_ints(c, kElemI8, {1, 2}, {1, 2});
  tv::push_ints(c, kElemI8, {1, 2}, {1, 2});
  expect_error(c, kStackOverflow, [&] { return arith_elementwise_binary(c, '+'); }, 2);
  t.set_capacity(t.data_room, t.desc_room);
}

TEST_F(ArithFloat, ComplexPowerAgainstTheStandardLibrary) {
  double re, im;
  arith_complex_power(0, 0, 0, 0, &re, &im);
  EXPECT_TRUE(re == 1 && im == 0);
  arith_complex_power(0, 0, 2, 1, &re, &im);
  EXPECT_TRUE(re == 0 && im == 0);
  // The zero tests come in that order, and a NaN part is never zero.
  arith_complex_power(kNaN, 0, 0, 0, &re, &im);
  EXPECT_TRUE(re == 1 && im == 0);
  arith_complex_power(0, 0, kNaN, 0, &re, &im);
  EXPECT_TRUE(re == 0 && im == 0);
  arith_complex_power(kNaN, 0, 1, 0, &re, &im);
  EXPECT_TRUE(std::isnan(re));
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-3, 3);
  for (int i = 0; i < 1000; ++i) {
    const std::complex<double> x(u(rng), i % 4 == 0 ? 0.0 : u(rng)), y(u(rng), u(rng));
    arith_complex_power(x.real(), x.imag(), y.real(), y.imag(), &re, &im);
    const std::complex<double> want = std::pow(x, y);
    EXPECT_NEAR(re, want.real(), 1e-12 * (1 + std::abs(want)));
    EXPECT_NEAR(im, want.imag(), 1e-12 * (1 + std::abs(want)));
  }
}

}  // namespace
