// The colon operator and the literal range over every class, trace, cov, cross and dot, with the edge cases and error codes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/lib/array_opcodes.h"
#include "engine/lib/ranges.h"
#include "engine/core/opcodes.h"
#include "support/array_fixture.h"
#include "support/array_model.h"
#include "support/raw_items.h"
#include "support/test_context.h"
#include "support/stack_invariants.h"
#include "support/typed_values.h"

namespace {

using am::Arr;
using am::Cls;
using V = std::vector<double>;
using D = std::vector<int64_t>;

class Ranges : public ArrayFixture {
 protected:
  Arr colon(std::initializer_list<double> args, std::string* cls = nullptr) {
    for (double a : args) tv::push_scalar(c, a);
    EXPECT_EQ(bi_colon(c, static_cast<int>(args.size())), kOk);
    return pop(cls);
  }
  Arr int_colon(uint32_t type, std::initializer_list<int64_t> args, std::string* cls = nullptr) {
    for (int64_t a : args) tv::push_ints(c, type, {1, 1}, {a});
    EXPECT_EQ(bi_colon(c, static_cast<int>(args.size())), kOk);
    return pop(cls);
  }
};

}  // namespace

TEST_F(Ranges, RealRanges) {
  EXPECT_EQ(colon({1, 5}), (Arr{{1, 5}, {1, 2, 3, 4, 5}, {}}));
  EXPECT_EQ(colon({5, 1}).dims, (D{0, 0}));
  const Arr r = colon({0, 0.1, 1});
  ASSERT_EQ(r.re.size(), 11u);
  double sum = 0;
  for (int k = 0; k < 10; ++k) sum += 0.1;
  EXPECT_EQ(tv::bits(r.re[10]), tv::bits(sum));  // a running sum, not 10 * 0.1
  EXPECT_EQ(colon({1, 2, 6}).re, (V{1, 3, 5}));
  EXPECT_EQ(colon({5, 0, 1}).dims, (D{0, 0}));
  EXPECT_EQ(colon({1, 0, 1}).dims, (D{0, 0}));
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 0);
  tv::push_scalar(c, 5);
  EXPECT_EQ(bi_colon(c, 3), kObjectTooLarge);
  drop(3);
  // The literal range instruction's handler and its operand order.
  for (int i = 0; i < kArrayOpcodeHandlerCount; ++i) {
    const ArrayOpcodeHandler& e = kArrayOpcodeHandlers[i];
    if (e.opcode != kOpPushRange16) continue;
    ASSERT_EQ(e.fn(c, e.selector, 10, 4, -3), kOk);
    EXPECT_EQ(pop().re, (V{10, 7, 4}));
  }
  // A complex end with a real start and step: the real part of the end.
  tv::push_scalar(c, 1);
  tv::push_cscalar(c, 3, 5);
  ASSERT_EQ(bi_colon(c, 2), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 3}, {1, 2, 3}, {}}));
}

TEST_F(Ranges, ComplexAndSingleRanges) {
  tv::push_cscalar(c, 1, 1);
  tv::push_cscalar(c, 3, 1);
  ASSERT_EQ(bi_colon(c, 2), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 3}, {1, 2, 3}, {1, 1, 1}}));
  tv::push_cscalar(c, 0, 1);
  tv::push_cscalar(c, 0, 1);
  ASSERT_EQ(bi_colon(c, 2), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 1}, {0}, {1}}));
  tv::push_cscalar(c, 0, 1);
  tv::push_cscalar(c, 0, 2);  // a step across the direction
  tv::push_cscalar(c, 5, 1);
  ASSERT_EQ(bi_colon(c, 3), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 1}, {0}, {1}}));
  // Single ranges follow the complex rule and stay complex.
  std::string cls;
  tv::push_single(c, {1, 1}, {1});
  tv::push_single(c, {1, 1}, {3});
  ASSERT_EQ(bi_colon(c, 2), kOk);
  EXPECT_EQ(pop(&cls), (Arr{{1, 3}, {1, 2, 3}, {0, 0, 0}}));
  EXPECT_EQ(cls, "single");
  tv::push_single(c, {1, 1}, {2});
  tv::push_single(c, {1, 1}, {2});
  ASSERT_EQ(bi_colon(c, 2), kOk);
  EXPECT_EQ(pop(&cls), (Arr{{1, 1}, {2}, {}}));
}

TEST_F(Ranges, IntegerRangesCountInWideArithmetic) {
  std::string cls;
  const Arr r = int_colon(kElemI8, {-100, 1, 100}, &cls);
  EXPECT_EQ(cls, "int8");
  ASSERT_EQ(r.re.size(), 201u);
  EXPECT_EQ(r.re.front(), -100);
  EXPECT_EQ(r.re.back(), 100);
  EXPECT_EQ(int_colon(kElemI8, {1, 2, 6}).re, (V{1, 3, 5}));
  EXPECT_EQ(int_colon(kElemI8, {5, -1, 1}).re, (V{5, 4, 3, 2, 1}));
  EXPECT_EQ(int_colon(kElemI8, {5, 2, 4}).dims, (D{0, 0}));
  EXPECT_EQ(int_colon(kElemU8, {250, 255}).re, (V{250, 251, 252, 253, 254, 255}));
  EXPECT_EQ(int_colon(kElemI64, {-2, 2}).re, (V{-2, -1, 0, 1, 2}));
  // Mixed classes: promoted; an unsigned range whose step was signed and
  // negative counts down.
  tv::push_ints(c, kElemU8, {1, 1}, {10});
  tv::push_ints(c, kElemI8, {1, 1}, {-3});
  tv::push_ints(c, kElemU8, {1, 1}, {1});
  ASSERT_EQ(bi_colon(c, 3), kOk);
  EXPECT_EQ(pop(&cls).re, (V{10, 7, 4, 1}));
  EXPECT_EQ(cls, "uint8");
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  tv::push_scalar(c, 3);
  ASSERT_EQ(bi_colon(c, 2), kOk);  // double wins
  EXPECT_EQ(pop(&cls).re, (V{1, 2, 3}));
  EXPECT_EQ(cls, "double");
  // Errors: a zero step, a non-scalar operand, an operand of no class.
  for (int64_t v : {1, 0, 5}) tv::push_ints(c, kElemI8, {1, 1}, {v});
  EXPECT_EQ(bi_colon(c, 3), kDataStackOverflow);
  drop(3);
  tv::push_ints(c, kElemI8, {1, 2}, {1, 2});
  tv::push_ints(c, kElemI8, {1, 1}, {5});
  EXPECT_EQ(bi_colon(c, 2), kNonScalarArg);
  drop(2);
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  EXPECT_EQ(bi_colon(c, 2), kWrongArgType);
  drop(2);
}

TEST_F(Ranges, TraceAndCov) {
  tv::push_double(c, {2, 2}, {1, 2, 3, 4});
  ASSERT_EQ(bi_trace(c), kOk);
  EXPECT_EQ(pop().re, V{5});
  tv::push_double(c, {2, 3}, {1, 2, 3, 4, 5, 6}, {1, 0, 0, 0, 2, 0});
  ASSERT_EQ(bi_trace(c), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 1}, {6}, {3}}));
  ASSERT_EQ(stk_push_empty(c), kOk);
  ASSERT_EQ(bi_trace(c), kOk);
  EXPECT_EQ(pop().re, V{0});
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  EXPECT_EQ(bi_trace(c), kWrongArgType);
  drop(1);

  tv::push_row(c, {1, 2, 3});
  ASSERT_EQ(bi_cov(c, 1), kOk);
  EXPECT_EQ(pop(), (Arr{{3, 3}, V(9, 0), {}}));
  tv::push_double(c, {3, 1}, {1, 2, 3});
  ASSERT_EQ(bi_cov(c, 1), kOk);
  EXPECT_EQ(pop().re, V{1});
  tv::push_double(c, {3, 1}, {1, 2, 3});
  tv::push_scalar(c, 1);
  ASSERT_EQ(bi_cov(c, 2), kOk);
  EXPECT_EQ(pop().re, V{2.0 / 3});
  tv::push_double(c, {3, 2}, {1, 2, 2, 4, 3, 9});
  ASSERT_EQ(bi_cov(c, 1), kOk);
  const Arr cv = pop();
  EXPECT_EQ(cv.dims, (D{2, 2}));
  EXPECT_EQ(cv.re[1], cv.re[2]);
  EXPECT_DOUBLE_EQ(cv.re[0], 1);
  EXPECT_DOUBLE_EQ(cv.re[1], 3.5);
  tv::push_double(c, {2, 1}, {0, 0}, {1, -1});
  ASSERT_EQ(bi_cov(c, 1), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 1}, {2}, {}}));  // always real
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  EXPECT_EQ(bi_cov(c, 1), kWrongArgType);
  drop(1);
}

TEST_F(Ranges, CrossAndDot) {
  auto run = [&](int (*fn)(EngineContext*, int), const Arr& a, const Arr& b, int dim = 0) {
    am::push(c, Cls::Double, a);
    am::push(c, Cls::Double, b);
    if (dim) tv::push_scalar(c, dim);
    EXPECT_EQ(fn(c, dim ? 3 : 2), kOk);
    return pop();
  };
  const Arr e1{{1, 3}, {1, 0, 0}, {}}, e2{{1, 3}, {0, 1, 0}, {}}, e2c{{3, 1}, {0, 1, 0}, {}};
  EXPECT_EQ(run(bi_cross, e1, e2), (Arr{{1, 3}, {0, 0, 1}, {}}));
  EXPECT_EQ(run(bi_cross, e1, e2c), (Arr{{1, 3}, {0, 0, 1}, {}}));
  const Arr rows_a{{2, 3}, {1, 0, 0, 0, 1, 0}, {}}, rows_b{{2, 3}, {0, 1, 0, 0, 0, 1}, {}};
  EXPECT_EQ(run(bi_cross, rows_a, rows_b).re, (V{0, 0, 1, 1, 0, 0}));
  const Arr cols_a{{3, 2}, {1, 0, 0, 1, 0, 0}, {}}, cols_b{{3, 2}, {0, 0, 1, 0, 0, 1}, {}};
  EXPECT_EQ(run(bi_cross, cols_a, cols_b, 1).re, (V{0, 1, 0, 0, 1, 0}));
  am::push(c, Cls::Double, Arr{{2, 2}, {1, 1, 1, 1}, {}});
  am::push(c, Cls::Double, Arr{{2, 2}, {1, 1, 1, 1}, {}});
  EXPECT_EQ(bi_cross(c, 2), kBadSize);
  drop(2);
  am::push(c, Cls::Double, rows_a);
  am::push(c, Cls::Double, cols_b);
  EXPECT_EQ(bi_cross(c, 2), kIncompatibleSize);
  drop(2);

  EXPECT_EQ(run(bi_dot, Arr{{1, 3}, {1, 2, 3}, {}}, Arr{{3, 1}, {4, 5, 6}, {}}).re, V{32});
  EXPECT_EQ(run(bi_dot, Arr{{2, 2}, {1, 2, 3, 4}, {}}, Arr{{2, 2}, {1, 2, 3, 4}, {}}), (Arr{{1, 2}, {10, 20}, {}}));
  EXPECT_EQ(run(bi_dot, Arr{{2, 2}, {1, 2, 3, 4}, {}}, Arr{{2, 2}, {1, 2, 3, 4}, {}}, 2), (Arr{{2, 1}, {5, 25}, {}}));
  am::push(c, Cls::Double, Arr{{2, 2}, {1, 2, 3, 4}, {}});
  am::push(c, Cls::Double, Arr{{1, 3}, {1, 2, 3}, {}});
  EXPECT_EQ(bi_dot(c, 2), kIncompatibleSize);
  drop(2);
  // Complex operands: the imaginary products are subtracted, no conjugation.
  EXPECT_EQ(run(bi_dot, Arr{{1, 1}, {0}, {1}}, Arr{{1, 1}, {0}, {1}}), (Arr{{1, 1}, {-1}, {}}));
  EXPECT_EQ(run(bi_dot, Arr{{1, 2}, {1, 2}, {3, 4}}, Arr{{2, 1}, {5, 6}, {7, 8}}),
            (Arr{{1, 1}, {1 * 5 + 2 * 6 - 3 * 7 - 4 * 8}, {}}));
  EXPECT_EQ(run(bi_dot, Arr{{2, 2}, {1, 2, 3, 4}, {1, 1, 1, 1}}, Arr{{2, 2}, {1, 1, 1, 1}, {}}),
            (Arr{{1, 2}, {4, 6}, {}}));
  // Other classes are still refused.
  tv::push_cscalar(c, 0, 1);
  ASSERT_EQ(stk_push_logical_scalar(c, 1), kOk);
  EXPECT_EQ(bi_dot(c, 2), kWrongArgType);
  drop(2);
}
