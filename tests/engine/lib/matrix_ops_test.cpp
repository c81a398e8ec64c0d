// Matrix operators over the value stack: every listed edge case, the hand-off
// to the elementwise operators, "pinv" (a stand-in row registered for the
// test) and the product, capacity failures that must leave the stacks exactly
// as they were, and A (A \ B) = B, (B / A) A = B.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "engine/core/value_stack.h"
#include "engine/core/context.h"
#include "engine/lib/matrix_ops.h"
#include "numlib/matmul.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"

namespace {

using Vec = std::vector<double>;

struct Item {
  uint32_t kind = 0;
  int32_t rows = 0, cols = 0;
  Vec re, im;
};

// --- A stand-in "pinv", registered as the only row of the test's table ---------

struct Calls {
  int pinv = 0;
  int pinv_rows = 0, pinv_cols = 0;
  bool pinv_fails = false;
  int inv = 0;
  bool inv_fails = false;
};
Calls g_calls;

// Records its operand and answers with the transposed shape, all 0.5.
int model_pinv(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  ++g_calls.pinv;
  if (g_calls.pinv_fails) return kWrongArgType;
  EXPECT_EQ(nargin, 1);
  EXPECT_EQ(nargout, 1);
  int32_t r, c;
  TN_TRY(stk_get_matrix(ctx, 0, &r, &c, nullptr, nullptr));
  g_calls.pinv_rows = r;
  g_calls.pinv_cols = c;
  stk_drop(ctx);
  double* p;
  TN_TRY(stk_push_matrix(ctx, c, r, &p, nullptr));
  for (int64_t i = 0; i < int64_t{r} * c; ++i) p[i] = 0.5;
  return kOk;
}

// Renamed to take "pinv" away; the empty row ends the table.
BuiltinEntry g_pinv_rows[] = {{model_pinv, 0, 0, "pinv", 1, 1, 1, 1}, {nullptr, 0, 0, "", 0, 0, 0, 0}};

// A stand-in "inv" that answers -A, so that its result is told from A^-1.
int model_inv(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  ++g_calls.inv;
  if (g_calls.inv_fails) return kWrongArgType;
  EXPECT_EQ(nargin, 1);
  EXPECT_EQ(nargout, 1);
  int32_t r, c;
  double *re, *im;
  TN_TRY(stk_get_matrix(ctx, 0, &r, &c, &re, &im));
  for (int64_t i = 0; i < int64_t{r} * c; ++i) {
    re[i] = -re[i];
    if (im) im[i] = -im[i];
  }
  return kOk;
}
BuiltinEntry g_inv_rows[] = {{model_inv, 0, 0, "inv", 1, 1, 1, 1}, {nullptr, 0, 0, "", 0, 0, 0, 0}};

// One operator applied to operands pushed in order; what is left unset is
// not checked.
struct Operand {
  int32_t rows, cols;
  Vec re, im = {};
};
struct Case {
  int (*op)(EngineContext*);
  std::vector<Operand> in;
  int status = kOk;
  uint32_t kind = 0;
  int32_t rows = -1, cols = -1;
  Vec re = {}, im = {};
  double tol = 0;
};
Operand S(double re) { return {1, 1, {re}}; }
Operand C(double re, double im) { return {1, 1, {re}, {im}}; }

// --- Fixture -----------------------------------------------------------------

class MatrixOps : public ::testing::Test {
 protected:
  TestContext tc = make_test_context(1 << 20);
  EngineContext* ctx = tc.ctx();

  void SetUp() override {
    g_calls = Calls{};
    std::strcpy(g_pinv_rows[0].name, "pinv");
    ASSERT_EQ(engine_register_builtin_table(ctx, g_pinv_rows, 1), kOk);
  }
  void TearDown() override { EXPECT_TRUE(check_stack_invariants(ctx)); }

  void push(int32_t rows, int32_t cols, const Vec& re, const Vec& im = {}) {
    if (rows <= 0 || cols <= 0) {  // keep shapes such as 0 x 3 as given
      ASSERT_TRUE(desc_room(ctx));
      stk_claim(ctx, kKindReal, uint32_t(rows < 0 ? 0 : rows), uint32_t(cols < 0 ? 0 : cols), 0);
      return;
    }
    double *r, *i;
    ASSERT_EQ(stk_push_matrix(ctx, rows, cols, &r, im.empty() ? nullptr : &i), kOk);
    ASSERT_EQ(re.size(), size_t(rows) * cols);
    std::copy(re.begin(), re.end(), r);
    if (!im.empty()) std::copy(im.begin(), im.end(), i);
  }
  void push_scalar(double re) { push(1, 1, {re}); }
  void push_complex(double re, double im) { push(1, 1, {re}, {im}); }

  Item top() {
    Item it;
    const uint32_t* d = desc_at(ctx, 0);
    it.kind = d[0];
    it.rows = int32_t(d[1]);
    it.cols = int32_t(d[2]);
    if (d[0] == kKindReal || d[0] == kKindComplex) {
      const double* p = reinterpret_cast<const double*>(item_data(ctx, 0));
      const size_t n = size_t(it.rows) * it.cols;
      it.re.assign(p, p + n);
      if (d[0] == kKindComplex) it.im.assign(p + n, p + 2 * n);
    }
    return it;
  }

  // The whole of both stacks, to prove a failure changed nothing.
  struct Snapshot {
    int32_t desc_top, data_top;
    std::vector<uint32_t> desc;
    std::vector<uint64_t> data;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot snap() {
    Snapshot s{ctx->desc_top, ctx->data_top, {}, {}};
    s.desc.assign(desc_words(ctx), desc_words(ctx) + ctx->desc_top);
    s.data.assign(data_words(ctx), data_words(ctx) + ctx->data_top);
    return s;
  }

  void check(const std::vector<Case>& cases);

  // Runs op expecting status; on failure the stacks must be untouched, on
  // success one item (binary) or none (unary) fewer, with data words exactly
  // those of the items left.
  Item run(int (*op)(EngineContext*), int want, int operands) {
    const Snapshot before = snap();
    const int st = op(ctx);
    EXPECT_EQ(st, want);
    if (st != kOk) {
      EXPECT_TRUE(snap() == before) << "a failure changed the stacks";
      return Item{};
    }
    EXPECT_EQ(ctx->desc_top, before.desc_top - 3 * (operands - 1));
    EXPECT_TRUE(check_stack_invariants(ctx));
    return top();
  }
};

void expect_values(const Vec& got, const Vec& want, double tol = 0) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (tol == 0) {
      EXPECT_EQ(got[i], want[i]) << i;
    } else {
      EXPECT_NEAR(got[i], want[i], tol) << i;
    }
  }
}

void MatrixOps::check(const std::vector<Case>& cases) {
  for (size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(::testing::Message() << "case " << k);
    for (const Operand& o : c.in) push(o.rows, o.cols, o.re, o.im);
    const Item r = run(c.op, c.status, int(c.in.size()));
    if (c.status == kOk) {
      if (c.kind) {
        EXPECT_EQ(r.kind, c.kind);
      }
      if (c.rows >= 0) {
        EXPECT_EQ(std::make_pair(r.rows, r.cols), std::make_pair(c.rows, c.cols));
      }
      if (!c.re.empty()) expect_values(r.re, c.re, c.tol);
      if (!c.im.empty()) expect_values(r.im, c.im, c.tol);
    }
    for (size_t n = c.status == kOk ? 1 : c.in.size(); n > 0; --n) stk_drop(ctx);
  }
}

// --- Division ------------------------------------------------------------------

TEST_F(MatrixOps, Quotients) {
  const Operand eye2 = {2, 2, {1, 0, 0, 1}};
  check({
      {.op = bi_mrdivide, .in = {S(49), S(49)}, .kind = kKindReal, .re = {1}},
      {.op = bi_mrdivide, .in = {C(1, 2), C(1, -1)}, .kind = kKindComplex, .re = {-0.5}, .im = {1.5}},
      // Left division divides the top by the deeper operand.
      {.op = bi_mldivide, .in = {S(2), C(4, -6)}, .kind = kKindComplex, .re = {2}, .im = {-3}},
      {.op = bi_mldivide, .in = {C(0, 2), S(4)}, .re = {0}, .im = {-2}},  // 4 / 2i = -2i
      // A scalar divisor goes elementwise.
      {.op = bi_mrdivide, .in = {{1, 3, {1, 2, 3}}, S(2)}, .re = {0.5, 1, 1.5}},
      {.op = bi_mldivide, .in = {S(2), {1, 2, {2, 4}}}, .re = {1, 2}},
      // Square systems.
      {.op = bi_mrdivide, .in = {{1, 2, {2, 4}}, {2, 2, {1, 0, 0, 2}}}, .re = {2, 2}},
      // Both blocks of a complex dividend are divided by a real matrix.
      {.op = bi_mrdivide, .in = {{1, 2, {0, 0}, {1, 2}}, {2, 2, {2, 0, 0, 2}}}, .kind = kKindComplex,
       .re = {0, 0}, .im = {0.5, 1}},
      // A real dividend over a complex divisor diag(2i, 4i) gains an imaginary block.
      {.op = bi_mrdivide, .in = {{1, 2, {2, 4}}, {2, 2, {0, 0, 0, 0}, {2, 0, 0, 4}}}, .kind = kKindComplex,
       .re = {0, 0}, .im = {-1, -1}},
      {.op = bi_mldivide, .in = {{2, 2, {1, 2, 3, 4}}, {2, 1, {5, 6}}}, .rows = 2, .cols = 1, .re = {-4, 4.5},
       .tol = 4e-15},
      // Complex right-hand side, real matrix; complex matrix, real right-hand side.
      {.op = bi_mldivide, .in = {{2, 2, {2, 0, 0, 4}}, {2, 1, {2, 4}, {2, -8}}}, .re = {1, 1}, .im = {1, -2}},
      {.op = bi_mldivide, .in = {{2, 2, {0, 0, 0, 0}, {1, 0, 0, 2}}, {2, 1, {1, 2}}}, .re = {0, 0}, .im = {-1, -1}},
      // Empty operands keep their shapes; sizes that do not fit.
      {.op = bi_mrdivide, .in = {{0, 3, {}}, eye2}, .rows = 0, .cols = 3},
      {.op = bi_mldivide, .in = {eye2, {5, 0, {}}}, .rows = 5, .cols = 0},
      {.op = bi_mrdivide, .in = {{1, 3, {1, 2, 3}}, eye2}, .status = kIncompatibleSize},
      {.op = bi_mldivide, .in = {eye2, {3, 1, {1, 2, 3}}}, .status = kIncompatibleSize},
  });

  // 4 / (2+0i) keeps the complex kind: 2 - 0i.
  push_scalar(4);
  push_complex(2, 0);
  Item r = run(bi_mrdivide, kOk, 2);
  EXPECT_EQ(r.kind, kKindComplex);
  EXPECT_EQ(r.re, (Vec{2}));
  EXPECT_EQ(r.im, (Vec{0}));
  EXPECT_TRUE(std::signbit(r.im[0]));
  stk_drop(ctx);
}

TEST_F(MatrixOps, NonSquareDivisorsUsePinv) {
  push(1, 3, {1, 2, 3});
  push(2, 3, {1, 0, 0, 0, 1, 0});
  Item r = run(bi_mrdivide, kOk, 2);
  EXPECT_EQ(g_calls.pinv, 1);
  EXPECT_EQ(g_calls.pinv_rows, 2);  // pinv saw B
  EXPECT_EQ(r.re, (Vec{3, 3}));  // [1 2 3] * 0.5 ones(3, 2)
  stk_drop(ctx);

  push(3, 2, {1, 0, 0, 1, 0, 0});
  push(3, 1, {2, 4, 6});
  r = run(bi_mldivide, kOk, 2);
  EXPECT_EQ(g_calls.pinv, 2);
  EXPECT_EQ(g_calls.pinv_rows, 3);  // pinv saw A
  EXPECT_EQ(g_calls.pinv_cols, 2);
  EXPECT_EQ(r.rows, 2);
  EXPECT_EQ(r.re, (Vec{6, 6}));  // 0.5 ones(2, 3) * [2; 4; 6]
  stk_drop(ctx);

  // A failing "pinv" passes its status on and leaves the operands in order.
  g_calls.pinv_fails = true;
  push(3, 2, {1, 0, 0, 1, 0, 0});
  push(3, 1, {2, 4, 6});
  run(bi_mldivide, kWrongArgType, 2);
  stk_drop(ctx);
  stk_drop(ctx);
  g_calls.pinv_fails = false;

  // A row divisor is not square either; with no "pinv" registered: 26.
  std::strcpy(g_pinv_rows[0].name, "nopinv");
  push(1, 3, {1, 2, 3});
  push(1, 3, {1, 1, 1});
  run(bi_mrdivide, kNonSquareMatrix, 2);
  stk_drop(ctx);
  stk_drop(ctx);
  push(3, 2, {1, 0, 0, 1, 0, 0});
  push(3, 1, {2, 4, 6});
  run(bi_mldivide, kNonSquareMatrix, 2);
}

TEST_F(MatrixOps, NonDoubleOperands) {
  auto push_int32 = [&](std::vector<int32_t> v, int32_t rows, int32_t cols) {
    const int32_t d[2] = {rows, cols};
    void* p;
    ASSERT_EQ(stk_push_typed_array(ctx, 2, d, 4, 0, &p), kOk);
    std::memcpy(p, v.data(), v.size() * 4);
  };
  // The elements on top as doubles, whether the result kept int32 or is double.
  auto top_values = [&] {
    int ndims = 0, size = 0, is_unsigned = 0;
    const uint32_t* dims = nullptr;
    int64_t count = 0;
    void* data = nullptr;
    if (stk_get_typed_array(ctx, 0, &ndims, &dims, &count, &size, &is_unsigned, &data) == kOk && size == 4) {
      Vec v(static_cast<size_t>(count));
      for (int64_t i = 0; i < count; ++i) v[size_t(i)] = static_cast<const int32_t*>(data)[i];
      return v;
    }
    return top().re;
  };

  push_int32({1, 2, 3, 4}, 2, 2);
  push_scalar(2);
  run(bi_mpower, kOk, 2);  // int32([1 2; 3 4])^2 is elementwise
  EXPECT_EQ(top_values(), (Vec{1, 4, 9, 16}));
  stk_drop(ctx);

  push_int32({1, 2}, 1, 2);
  push_int32({1, 2}, 1, 2);
  run(bi_mpower, kBadSize, 2);
  stk_drop(ctx);
  stk_drop(ctx);

  push_int32({1, 2}, 1, 2);
  push_int32({1, 2, 3}, 1, 3);
  run(bi_mrdivide, kWrongArgType, 2);  // different shapes cannot be fetched together
  stk_drop(ctx);
  stk_drop(ctx);

  push_int32({4, 6}, 1, 2);
  push_int32({2, 3}, 1, 2);
  run(bi_mrdivide, kBadSize, 2);  // a divisor that is not a scalar
  stk_drop(ctx);
  stk_drop(ctx);

  push_scalar(2);
  push_int32({2, 4}, 1, 2);
  run(bi_mldivide, kOk, 2);  // 2 \ int32([2 4]): scalar divisor, elementwise
  EXPECT_EQ(top_values(), (Vec{1, 2}));
  stk_drop(ctx);

  push_int32({2, 4}, 1, 2);
  push_scalar(2);
  run(bi_mldivide, kBadSize, 2);
  stk_drop(ctx);
  stk_drop(ctx);

  ASSERT_EQ(stk_push_cstr(ctx, 2, "ab"), kOk);
  run(bi_inv, kWrongArgType, 1);
  run(bi_det, kWrongArgType, 1);
  stk_drop(ctx);
  ASSERT_EQ(stk_push_no_value(ctx), kOk);
  push_scalar(1);
  run(bi_mrdivide, kWrongArgType, 2);
}

// --- inv and det -----------------------------------------------------------------

TEST_F(MatrixOps, InverseAndDeterminant) {
  check({
      {.op = bi_inv, .in = {{2, 2, {1, 2, 3, 4}}}, .re = {-2, 1, 1.5, -0.5}, .tol = 1e-15},
      {.op = bi_inv, .in = {{2, 2, {2, 0, 0, 0}, {0, 0, 0, 4}}}, .kind = kKindComplex,  // diag(2, 4i)
       .re = {0.5, 0, 0, 0}, .im = {0, 0, 0, -0.25}},
      {.op = bi_inv, .in = {S(4)}, .re = {0.25}},
      {.op = bi_inv, .in = {C(0, 2)}, .re = {0}, .im = {-0.5}},
      {.op = bi_inv, .in = {{0, 0, {}}}, .rows = 0, .cols = 0},
      {.op = bi_det, .in = {{0, 0, {}}}, .kind = kKindReal, .re = {1}},
      {.op = bi_inv, .in = {{1, 2, {1, 2}}}, .status = kNonSquareMatrix},
      {.op = bi_det, .in = {{1, 2, {1, 2}}}, .status = kIncompatibleSize},
      {.op = bi_det, .in = {{2, 2, {0, 1, 1, 0}}}, .re = {-1}},
      {.op = bi_det, .in = {C(3, 4)}, .kind = kKindComplex},
      // A complex determinant with a zero imaginary part comes back real.
      {.op = bi_det, .in = {{2, 2, {0, 0, 0, 0}, {1, 0, 0, 1}}}, .kind = kKindReal, .re = {-1}},  // diag(i, i)
      {.op = bi_det, .in = {{2, 2, {1, 0, 0, 1}, {1, 0, 0, 0}}}, .kind = kKindComplex,  // diag(1+i, 1)
       .re = {1}, .im = {1}},
  });
  push(2, 2, {1, 2, 2, 4});
  const Item r = run(bi_det, kOk, 1);
  EXPECT_EQ(r.re, (Vec{0}));
  EXPECT_TRUE(std::signbit(r.re[0]));
}

TEST_F(MatrixOps, CapacityFailuresLeaveTheStacks) {
  const uint32_t data_cap = ctx->data_capacity;
  // Right division: pivots above the descriptor top.
  push(1, 3, {1, 2, 3});
  push(3, 3, {2, 0, 0, 0, 2, 0, 0, 0, 2});
  tc.set_capacity(data_cap, uint32_t(ctx->desc_top + 3));
  run(bi_mrdivide, kStackOverflow, 2);
  tc.set_capacity(data_cap, uint32_t(ctx->desc_top + 4));
  run(bi_mrdivide, kOk, 2);
  stk_drop(ctx);

  // Right division: the zero imaginary block of a real dividend.
  tc.set_capacity(data_cap, 1 << 16);
  push(2, 2, {1, 2, 3, 4});
  push(2, 2, {1, 0, 0, 1}, {1, 0, 0, 1});
  tc.set_capacity(uint32_t(ctx->data_top + 4), 1 << 16);
  run(bi_mrdivide, kDataStackOverflow, 2);
  tc.set_capacity(uint32_t(ctx->data_top + 5), 1 << 16);
  run(bi_mrdivide, kOk, 2);
  stk_drop(ctx);

  // Left division: a complex matrix needs the right-hand side made complex.
  tc.set_capacity(data_cap, 1 << 16);
  push(2, 2, {1, 0, 0, 1}, {1, 0, 0, 1});
  push(2, 1, {1, 2});
  tc.set_capacity(uint32_t(ctx->data_top + 1), 1 << 16);
  run(bi_mldivide, kStackOverflow, 2);  // the status of making it complex
  tc.set_capacity(uint32_t(ctx->data_top + 2), uint32_t(ctx->desc_top + 2));
  run(bi_mldivide, kStackOverflow, 2);  // no room for the pivots
  tc.set_capacity(uint32_t(ctx->data_top + 2), uint32_t(ctx->desc_top + 3));
  run(bi_mldivide, kOk, 2);
  stk_drop(ctx);

  // inv tests the pivots' room before pushing its identity.
  tc.set_capacity(data_cap, 1 << 16);
  push(3, 3, {2, 0, 0, 0, 2, 0, 0, 0, 2});
  tc.set_capacity(data_cap, uint32_t(ctx->desc_top + 3 + 3));
  run(bi_inv, kStackOverflow, 1);
  tc.set_capacity(uint32_t(ctx->data_top + 8), 1 << 16);
  run(bi_inv, kDataStackOverflow, 1);
  tc.set_capacity(uint32_t(ctx->data_top + 9), uint32_t(ctx->desc_top + 3 + 4));
  Item r = run(bi_inv, kOk, 1);
  EXPECT_EQ(r.re[0], 0.5);

  tc.set_capacity(data_cap, uint32_t(ctx->desc_top + 3));
  run(bi_det, kStackOverflow, 1);
  tc.set_capacity(data_cap, uint32_t(ctx->desc_top + 4));
  run(bi_det, kOk, 1);
  stk_drop(ctx);

  // det of an empty matrix pushes a word it did not free.
  tc.set_capacity(data_cap, 1 << 16);
  push(0, 0, {});
  tc.set_capacity(uint32_t(ctx->data_top + 1), 1 << 16);
  run(bi_det, kDataStackOverflow, 1);
  tc.set_capacity(uint32_t(ctx->data_top + 2), 1 << 16);
  run(bi_det, kOk, 1);
}

// --- Powers ----------------------------------------------------------------------

TEST_F(MatrixOps, ScalarPowers) {
  std::vector<Case> cases;
  for (const auto& [a, b, want] : std::vector<std::array<double, 3>>{
           {-2, 3, -8}, {-2, 2, 4}, {3, 2, 9}, {2, 0.5, std::sqrt(2.0)}, {-2, -1, -0.5}, {-0.5, 1e300, 0.0},
           {-2, 4294967297.0, -INFINITY}, {-2, INFINITY, INFINITY}})
    cases.push_back({.op = bi_mpower, .in = {S(a), S(b)}, .kind = kKindReal, .re = {want}});
  // A negative base with a fractional exponent is complex; i^2 through the
  // complex power is -1 with a rounding-sized imaginary part.
  cases.push_back({.op = bi_mpower, .in = {S(-8), S(1.0 / 3)}, .kind = kKindComplex, .re = {1},
                   .im = {std::sqrt(3.0)}, .tol = 1e-14});
  cases.push_back({.op = bi_mpower, .in = {C(0, 1), S(2)}, .kind = kKindComplex, .re = {-1}, .im = {0}, .tol = 1e-15});
  check(cases);
}

TEST_F(MatrixOps, MatrixPowers) {
  const Operand m = {2, 2, {1, 2, 3, 4}};
  check({
      {.op = bi_mpower, .in = {{2, 2, {1, 1, 0, 1}}, S(5)}, .re = {1, 5, 0, 1}},
      {.op = bi_mpower, .in = {{2, 2, {2, 0, 0, 2}}, S(-1)}, .re = {0.5, 0, 0, 0.5}},
      {.op = bi_mpower, .in = {{2, 2, {1, 2, 3, 4}, {1, 1, 1, 1}}, S(0)}, .kind = kKindReal, .re = {1, 0, 0, 1}},
      {.op = bi_mpower, .in = {m, S(1024)}, .status = kNotSupported},
      {.op = bi_mpower, .in = {m, S(0.5)}, .status = kNotSupported},
      {.op = bi_mpower, .in = {m, C(2, 0)}, .status = kNotSupported},
      {.op = bi_mpower, .in = {m, {2, 2, {1, 0, 0, 1}}}, .status = kNotSupported},
      {.op = bi_mpower, .in = {{1, 3, {1, 2, 3}}, S(2)}, .status = kNonSquareMatrix},
      {.op = bi_mpower, .in = {{0, 0, {}}, S(2)}, .rows = 0, .cols = 0},
      // Complex base, negative exponent: through the inverse.
      {.op = bi_mpower, .in = {{2, 2, {0, 0, 0, 0}, {1, 0, 0, 2}}, S(-2)}, .re = {-1, 0, 0, -0.25},  // diag(i, 2i)
       .im = {0, 0, 0, 0}, .tol = 1e-15},
      // A scalar to a matrix power.
      {.op = bi_mpower, .in = {S(2), {2, 2, {0, 0, 0, 0}}}, .re = {1, 0, 0, 1}},
      {.op = bi_mpower, .in = {S(2), {2, 2, {1, 0, 0, 2}}}, .re = {2, 0, 0, 4}, .tol = 1e-14},
      {.op = bi_mpower, .in = {S(2), {0, 0, {}}}, .rows = 0, .cols = 0},
      {.op = bi_mpower, .in = {S(2), {1, 2, {1, 2}}}, .status = kNonSquareMatrix},
      // A complex scalar makes a real exponent matrix complex: i^diag(1, 2).
      {.op = bi_mpower, .in = {C(0, 1), {2, 2, {1, 0, 0, 2}}}, .kind = kKindComplex, .re = {0, 0, 0, -1},
       .im = {1, 0, 0, 0}, .tol = 1e-14},
  });
}

TEST_F(MatrixOps, MatrixPowersAgreeWithRepeatedProducts) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> d(-1, 1);
  for (int n : {2, 3, 5}) {
    for (int k : {-5, -2, 2, 3, 7, 12, 31}) {
      Vec a(size_t(n) * n);
      for (auto& x : a) x = d(rng);
      for (int i = 0; i < n; ++i) a[size_t(i) * n + i] += 2;
      Vec base = a;
      if (k < 0) {  // invert by solving with the kernel's own operator
        push(n, n, a);
        base = run(bi_inv, kOk, 1).re;
        stk_drop(ctx);
      }
      Vec want = base, tmp(base.size());
      for (int q = 1; q < std::abs(k); ++q) {
        matmul_real(n, n, n, want.data(), base.data(), tmp.data());
        want = tmp;
      }
      push(n, n, a);
      push_scalar(k);
      Item r = run(bi_mpower, kOk, 2);
      for (size_t i = 0; i < want.size(); ++i)
        EXPECT_NEAR(r.re[i], want[i], 1e-9 * (1 + std::fabs(want[i]))) << n << " " << k;
      stk_drop(ctx);
    }
  }
}

TEST_F(MatrixOps, ScalarToMatrixPowers) {
  Item r;
  // A negative real scalar has no real logarithm.
  push_scalar(-2);
  push(2, 2, {1, 0, 0, 1});
  r = run(bi_mpower, kOk, 2);
  EXPECT_TRUE(std::isnan(r.re[0]));
  stk_drop(ctx);

  // Room for the result and the 2 (n + 1) n work words (a row, two blocks and
  // the balancing factors) is tested up front.
  push_scalar(2);
  push(2, 2, {1, 0, 0, 1});
  const uint32_t need = uint32_t(ctx->data_top + 4 + 12);
  tc.set_capacity(need, 1 << 16);
  run(bi_mpower, kDataStackOverflow, 2);
  tc.set_capacity(need + 1, 1 << 16);
  run(bi_mpower, kOk, 2);
}

TEST_F(MatrixOps, MatrixPowerCapacity) {
  push(2, 2, {1, 1, 0, 1});
  push_scalar(3);
  // After the exponent is dropped the two work copies need 8 free words.
  const uint32_t need = uint32_t(ctx->data_top - 1 + 8);
  tc.set_capacity(need - 1, 1 << 16);
  run(bi_mpower, kDataStackOverflow, 2);
  tc.set_capacity(need, 1 << 16);
  Item r = run(bi_mpower, kOk, 2);
  EXPECT_EQ(r.re, (Vec{1, 3, 0, 1}));
  stk_drop(ctx);

  push(2, 2, {2, 0, 0, 2});
  push_scalar(-1);
  tc.set_capacity(ctx->data_capacity, uint32_t(ctx->desc_top + 2));  // inv's pivots
  run(bi_mpower, kStackOverflow, 2);
}

// A^-k inverts A with what inv(A) reaches: a registered "inv" row when there
// is one (the LAPACK section's in the program), and a failure of that row
// leaves both operands.
TEST_F(MatrixOps, NegativePowersInvertThroughTheRegisteredInv) {
  push(2, 2, {2, 0, 0, 4});
  push_scalar(-1);
  Item r = run(bi_mpower, kOk, 2);
  EXPECT_EQ(r.re, (Vec{0.5, 0, 0, 0.25}));  // no row: the engine's own inverse
  stk_drop(ctx);

  ASSERT_EQ(engine_register_builtin_table(ctx, g_inv_rows, 1), kOk);
  push(2, 2, {2, 0, 0, 4});
  push_scalar(-1);
  r = run(bi_mpower, kOk, 2);
  EXPECT_EQ(g_calls.inv, 1);
  EXPECT_EQ(r.re, (Vec{-2, 0, 0, -4}));
  stk_drop(ctx);
  push(2, 2, {1, 1, 0, 1}, {0, 1, 0, 0});
  push_scalar(-3);
  r = run(bi_mpower, kOk, 2);  // (-A)^3
  EXPECT_EQ(g_calls.inv, 2);
  EXPECT_EQ(r.kind, kKindComplex);
  EXPECT_EQ(r.re, (Vec{-1, -3, 0, -1}));
  EXPECT_EQ(r.im, (Vec{0, -3, 0, 0}));
  stk_drop(ctx);
  push(2, 2, {1, 1, 0, 1});
  push_scalar(2);
  r = run(bi_mpower, kOk, 2);
  EXPECT_EQ(g_calls.inv, 2);  // positive powers never invert
  EXPECT_EQ(r.re, (Vec{1, 2, 0, 1}));
  stk_drop(ctx);

  g_calls.inv_fails = true;
  push(2, 2, {2, 0, 0, 4});
  push_scalar(-2);
  run(bi_mpower, kWrongArgType, 2);
  EXPECT_EQ(g_calls.inv, 3);
  stk_drop(ctx);
  stk_drop(ctx);
}

// --- Properties --------------------------------------------------------------------

Vec complex_product(const Vec& xr, const Vec& xi, const Vec& yr, const Vec& yi, int m, int k, int n,
                    Vec* out_im) {
  Vec re(size_t(m) * n, 0.0), im(size_t(m) * n, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j)
      for (int l = 0; l < k; ++l) {
        const double ar = xr[size_t(i) * k + l], ai = xi.empty() ? 0 : xi[size_t(i) * k + l];
        const double br = yr[size_t(l) * n + j], bi = yi.empty() ? 0 : yi[size_t(l) * n + j];
        re[size_t(i) * n + j] += ar * br - ai * bi;
        im[size_t(i) * n + j] += ar * bi + ai * br;
      }
  *out_im = im;
  return re;
}

TEST_F(MatrixOps, DivisionPropertiesOnRandomSystems) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> d(-1, 1);
  auto random = [&](size_t count) {
    Vec v(count);
    for (auto& x : v) x = d(rng);
    return v;
  };
  for (int n = 2; n <= 25; n += 2) {  // a 1 x 1 divisor goes elementwise
    for (int mode = 0; mode < 4; ++mode) {  // bit 0: A complex, bit 1: B complex
      const bool ac = mode & 1, bc = mode & 2;
      const int p = 1 + n % 3;
      Vec ar = random(size_t(n) * n), ai = ac ? random(size_t(n) * n) : Vec{};
      for (int i = 0; i < n; ++i) ar[size_t(i) * n + i] += 3;
      Vec br = random(size_t(n) * p), bi = bc ? random(size_t(n) * p) : Vec{};

      // A (A \ B) = B.
      push(n, n, ar, ai);
      push(n, p, br, bi);
      Item x = run(bi_mldivide, kOk, 2);
      Vec im, re = complex_product(ar, ai, x.re, x.im, n, n, p, &im);
      for (size_t i = 0; i < re.size(); ++i) {
        EXPECT_NEAR(re[i], br[i], 1e-12) << n << " mode " << mode;
        EXPECT_NEAR(im[i], bc ? bi[i] : 0.0, 1e-12);
      }
      stk_drop(ctx);

      // (C / A) A = C with C p x n.
      Vec cr = random(size_t(p) * n), ci = bc ? random(size_t(p) * n) : Vec{};
      push(p, n, cr, ci);
      push(n, n, ar, ai);
      Item y = run(bi_mrdivide, kOk, 2);
      re = complex_product(y.re, y.im, ar, ai, p, n, n, &im);
      for (size_t i = 0; i < re.size(); ++i) {
        EXPECT_NEAR(re[i], cr[i], 1e-12) << n << " mode " << mode;
        EXPECT_NEAR(im[i], bc ? ci[i] : 0.0, 1e-12);
      }
      stk_drop(ctx);
    }
  }
}

}  // namespace
