// Unary minus, conjugate and the matrix product on every numeric class: the
// listed cases, products against a naive model (real, complex and mixed), the
// hand-off of scalars to the elementwise product, and the error codes with
// the stacks left as they were. Also the hooks handed to the numerical library.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "engine/core/containers.h"
#include "engine/lib/matprod.h"
#include "engine/lib/matrix_ops.h"
#include "support/expect_error.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"
#include "support/typed_values.h"

namespace {

using V = std::vector<double>;

class MatProd : public ::testing::Test {
 protected:
  TestContext t = make_test_context(1 << 20);
  EngineContext* c = t.ctx();

  void TearDown() override { EXPECT_TRUE(check_stack_invariants(c)); }

  tv::Value pop() {
    tv::Value v = tv::read(c);
    stk_drop(c);
    return v;
  }
};

TEST_F(MatProd, UnaryMinusOnEveryClass) {
  struct Case {
    uint32_t type;
    int64_t in, want;
    const char* cls;
  };
  const Case cases[] = {{kElemI8, -128, -128, "int8"},       {kElemU8, 1, 255, "uint8"},
                        {kElemI16, 5, -5, "int16"},          {kElemU16, 0, 0, "uint16"},
                        {kElemI32, INT32_MIN, INT32_MIN, "int32"}, {kElemU32, 1, 4294967295, "uint32"},
                        {kElemI64, INT64_MIN, INT64_MIN, "int64"}, {kElemU64, 1, -1, "uint64"}};
  for (const Case& k : cases) {
    tv::push_ints(c, k.type, {1, 2}, {k.in, 0});
    ASSERT_EQ(bi_uminus(c), kOk);
    tv::Value v = pop();
    EXPECT_EQ(v.cls, k.cls);
    EXPECT_EQ(v.ints, (std::vector<int64_t>{k.want, 0})) << k.cls;
  }
  tv::push_chars(c, u"a");
  ASSERT_EQ(bi_uminus(c), kOk);
  tv::Value v = pop();
  EXPECT_EQ(v.cls, "uint16");
  EXPECT_EQ(v.ints, std::vector<int64_t>{65439});
  tv::push_logicals(c, {1, 0});
  ASSERT_EQ(bi_uminus(c), kOk);
  v = pop();
  EXPECT_EQ(v.cls, "uint8");
  EXPECT_EQ(v.ints, (std::vector<int64_t>{255, 0}));
  tv::push_row(c, {1, -0.0}, {2, 0});
  const int32_t data_top = c->data_top;
  ASSERT_EQ(bi_uminus(c), kOk);
  EXPECT_EQ(c->data_top, data_top);  // in place
  v = pop();
  EXPECT_EQ(v.re, (V{-1, 0}));
  EXPECT_EQ(tv::bits(v.re[1]), 0u);
  EXPECT_EQ(v.im, (V{-2, -0.0}));
  tv::push_double(c, {1, 1, 2}, {1, 2}, {3, 4});
  ASSERT_EQ(bi_uminus(c), kOk);
  v = pop();
  EXPECT_EQ(v.re, (V{-1, -2}));
  EXPECT_EQ(v.im, (V{-3, -4}));
  tv::push_single(c, {1, 2}, {1.5f, -2});
  ASSERT_EQ(bi_uminus(c), kOk);
  EXPECT_EQ(pop().re, (V{-1.5, 2}));
  ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk);
  expect_error(c, kWrongArgType, [&] { return bi_uminus(c); }, stk_item_count(c));
}

TEST_F(MatProd, ConjugateOnEveryClass) {
  tv::push_row(c, {1, 2}, {3, -4});
  ASSERT_EQ(bi_conj(c), kOk);
  tv::Value v = pop();
  EXPECT_EQ(v.re, (V{1, 2}));
  EXPECT_EQ(v.im, (V{-3, 4}));
  tv::push_single(c, {1, 1}, {1}, {2});
  ASSERT_EQ(bi_conj(c), kOk);
  EXPECT_EQ(pop().im, V{-2});
  tv::push_double(c, {1, 1, 2}, {1, 2}, {3, 4});
  ASSERT_EQ(bi_conj(c), kOk);
  EXPECT_EQ(pop().im, (V{-3, -4}));
  tv::push_row(c, {1, -2});
  tv::push_ints(c, kElemI8, {1, 1}, {-5});
  tv::push_chars(c, u"z");
  for (int i = 0; i < 3; ++i) {
    const StackSnapshot before = snapshot_stacks(c);
    ASSERT_EQ(bi_conj(c), kOk);
    EXPECT_TRUE(snapshot_stacks(c) == before);  // unchanged, even the char's class
    stk_drop(c);
  }
  ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk);
  expect_error(c, kWrongArgType, [&] { return bi_conj(c); }, stk_item_count(c));
}

// Naive row-major product of complex matrices given as parts.
void model_product(int m, int k, int n, const V& ar, const V& ai, const V& br, const V& bi,
                   V& cr, V& ci) {
  cr.assign(size_t(m) * n, 0);
  ci.assign(size_t(m) * n, 0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j)
      for (int l = 0; l < k; ++l) {
        const double xr = ar[i * k + l], xi = ai.empty() ? 0 : ai[i * k + l];
        const double yr = br[l * n + j], yi = bi.empty() ? 0 : bi[l * n + j];
        cr[i * n + j] += xr * yr - xi * yi;
        ci[i * n + j] += xr * yi + xi * yr;
      }
}

TEST_F(MatProd, ProductsAgainstTheModel) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-2, 2);
  auto random = [&](size_t n) {
    V v(n);
    for (double& x : v) x = u(rng);
    return v;
  };
  for (int trial = 0; trial < 40; ++trial) {
    const int m = 2 + trial % 5, k = 2 + trial % 3, n = 2 + trial % 4;
    const bool ac = trial % 4 == 1 || trial % 4 == 3, bc = trial % 4 >= 2;
    const V ar = random(m * k), br = random(k * n);
    const V ai = ac ? random(m * k) : V{}, bi = bc ? random(k * n) : V{};
    tv::push_double(c, {m, k}, ar, ai);
    tv::push_double(c, {k, n}, br, bi);
    ASSERT_EQ(bi_mtimes(c), kOk);
    ASSERT_EQ(stk_item_count(c), 1);
    const tv::Value v = pop();
    V cr, ci;
    model_product(m, k, n, ar, ai, br, bi, cr, ci);
    ASSERT_EQ(v.dims, (std::vector<uint32_t>{uint32_t(m), uint32_t(n)}));
    ASSERT_EQ(v.cplx, ac || bc);
    for (size_t i = 0; i < cr.size(); ++i) {
      EXPECT_NEAR(v.re[i], cr[i], 1e-13);
      if (v.cplx) {
        EXPECT_NEAR(v.im[i], ci[i], 1e-13);
      }
    }
  }
}

TEST_F(MatProd, ListedCases) {
  // (1+2i) * (3-1i), and real scalars in place.
  tv::push_cscalar(c, 1, 2);
  tv::push_cscalar(c, 3, -1);
  ASSERT_EQ(bi_mtimes(c), kOk);
  tv::Value v = pop();
  EXPECT_EQ(v.re, V{5});
  EXPECT_EQ(v.im, V{5});
  tv::push_scalar(c, 2);
  tv::push_cscalar(c, 3, 0);
  ASSERT_EQ(bi_mtimes(c), kOk);
  v = pop();
  EXPECT_TRUE(v.cplx);  // a complex 1 x 1 stays complex
  EXPECT_EQ(v.re, V{6});
  tv::push_scalar(c, 3);
  tv::push_scalar(c, -4);
  ASSERT_EQ(bi_mtimes(c), kOk);
  EXPECT_EQ(c->data_top, 1);
  EXPECT_EQ(pop().re, V{-12});
  // zeros(0, 3) * ones(5, 2): empty without a size error.
  ASSERT_TRUE(desc_room(c));
  stk_claim(c, kKindReal, 0, 3, 0);
  tv::push_double(c, {5, 2}, V(10, 1));
  ASSERT_EQ(bi_mtimes(c), kOk);
  EXPECT_EQ(pop().dims, (std::vector<uint32_t>{0, 0}));
  // ones(2, 0) * ones(0, 3): a 2 x 3 of zeros.
  stk_claim(c, kKindReal, 2, 0, 0);
  stk_claim(c, kKindReal, 0, 3, 0);
  ASSERT_EQ(bi_mtimes(c), kOk);
  v = pop();
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(v.re, V(6, 0));
  // A scalar factor goes to the elementwise product.
  tv::push_row(c, {1, 2});
  tv::push_cscalar(c, 0, 1);
  ASSERT_EQ(bi_mtimes(c), kOk);
  v = pop();
  EXPECT_EQ(v.re, (V{0, 0}));
  EXPECT_EQ(v.im, (V{1, 2}));
  tv::push_single(c, {1, 2}, {1, 2});
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_mtimes(c), kOk);
  v = pop();
  EXPECT_EQ(v.cls, "double");
  EXPECT_EQ(v.re, (V{2, 4}));
  tv::push_ints(c, kElemI8, {2, 2}, {1, 2, 3, 4});
  tv::push_ints(c, kElemI8, {1, 1}, {100});
  ASSERT_EQ(bi_mtimes(c), kOk);
  EXPECT_EQ(pop().ints, (std::vector<int64_t>{100, -56, 44, -112}));
}

TEST_F(MatProd, ErrorsLeaveTheOperands) {
  tv::push_double(c, {2, 3}, V(6, 1));
  tv::push_double(c, {2, 3}, V(6, 1));
  expect_error(c, kIncompatibleSize, [&] { return bi_mtimes(c); }, stk_item_count(c));
  tv::push_single(c, {2, 2}, {1, 2, 3, 4});
  tv::push_single(c, {2, 2}, {1, 2, 3, 4});
  expect_error(c, kBadSize, [&] { return bi_mtimes(c); }, stk_item_count(c));
  tv::push_double(c, {2, 2, 2}, V(8, 1));
  tv::push_double(c, {2, 2, 2}, V(8, 1));
  expect_error(c, kBadSize, [&] { return bi_mtimes(c); }, stk_item_count(c));
  tv::push_single(c, {2, 2}, {1, 2, 3, 4});
  tv::push_single(c, {2, 1}, {1, 1});
  expect_error(c, kWrongArgType, [&] { return bi_mtimes(c); }, stk_item_count(c));
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  tv::push_scalar(c, 2);
  expect_error(c, kWrongArgType, [&] { return bi_mtimes(c); }, stk_item_count(c));
  tv::push_double(c, {3, 3}, V(9, 1));
  tv::push_double(c, {3, 3}, V(9, 1));
  t.set_capacity(static_cast<uint32_t>(c->data_top) + 4, t.desc_room);
  expect_error(c, kDataStackOverflow, [&] { return bi_mtimes(c); }, stk_item_count(c));
  t.set_capacity(t.data_room, t.desc_room);
}

TEST_F(MatProd, MatrixDivisionsAndPowerUseTheEngineOperators) {
  tv::push_row(c, {2, 4});
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_mrdivide(c), kOk);
  EXPECT_EQ(pop().re, (V{1, 2}));
  tv::push_scalar(c, 2);
  tv::push_row(c, {2, 4});
  ASSERT_EQ(bi_mldivide(c), kOk);
  EXPECT_EQ(pop().re, (V{1, 2}));
  tv::push_cscalar(c, 0, 1);
  tv::push_cscalar(c, 0, 1);
  ASSERT_EQ(bi_mpower(c), kOk);  // i^i = exp(-pi/2)
  EXPECT_NEAR(pop().re[0], std::exp(-std::numbers::pi / 2), 1e-15);
  tv::push_ints(c, kElemI8, {1, 2}, {2, 3});
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_mpower(c), kOk);
  EXPECT_EQ(pop().re, (V{4, 9}));
}

}  // namespace
