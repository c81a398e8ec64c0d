// Diagonals, triangular parts, replication against a model, repeated differences and Kronecker products, with their error codes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/lib/arrays.h"
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

class ArrayParts : public ArrayFixture {};

}  // namespace

TEST_F(ArrayParts, DiagBuildsAndExtracts) {
  tv::push_row(c, {1, 2});
  tv::push_scalar(c, 1);
  ASSERT_EQ(bi_diag(c, 2), kOk);
  EXPECT_EQ(pop(), (Arr{{3, 3}, {0, 1, 0, 0, 0, 2, 0, 0, 0}, {}}));
  tv::push_double(c, {2, 1}, {1, 2});
  tv::push_scalar(c, -1);
  ASSERT_EQ(bi_diag(c, 2), kOk);
  EXPECT_EQ(pop().re, (V{0, 0, 0, 1, 0, 0, 0, 2, 0}));
  std::string cls;
  am::push(c, Cls::Char, Arr{{2, 3}, {1, 2, 3, 4, 5, 6}, {}});
  ASSERT_EQ(bi_diag(c, 1), kOk);
  EXPECT_EQ(pop(&cls), (Arr{{2, 1}, {1, 5}, {}}));
  EXPECT_EQ(cls, "char");
  for (auto [k, want] : std::vector<std::pair<int, V>>{{1, {2, 6}}, {2, {3}}, {-1, {4}}, {3, {}}, {-2, {}}}) {
    tv::push_double(c, {2, 3}, {1, 2, 3, 4, 5, 6});
    tv::push_scalar(c, k);
    ASSERT_EQ(bi_diag(c, 2), kOk);
    EXPECT_EQ(pop().re, want) << k;
  }
  tv::push_double(c, {2, 2, 2}, V(8, 1));
  EXPECT_EQ(bi_diag(c, 1), kBadDimension);
  drop(1);
  tv::push_double(c, {1, 2}, {1, 2}, {3, 4});
  ASSERT_EQ(bi_diag(c, 1), kOk);
  EXPECT_EQ(pop().im, (V{3, 0, 0, 4}));
}

TEST_F(ArrayParts, TriangularPartsInPlace) {
  const V m = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  auto run = [&](int which, int k, Cls cls = Cls::Double) {
    am::push(c, cls, Arr{{3, 3}, m, {}});
    tv::push_scalar(c, k);
    EXPECT_EQ(bi_tril(c, which, 2), kOk);
    return pop().re;
  };
  EXPECT_EQ(run(kTril, 0), (V{1, 0, 0, 4, 5, 0, 7, 8, 9}));
  EXPECT_EQ(run(kTriu, 0), (V{1, 2, 3, 0, 5, 6, 0, 0, 9}));
  EXPECT_EQ(run(kTril, -1, Cls::U16), (V{0, 0, 0, 4, 0, 0, 7, 8, 0}));
  EXPECT_EQ(run(kTriu, 1, Cls::Logical), (V{0, 1, 1, 0, 0, 1, 0, 0, 0}));
  tv::push_double(c, {2, 2}, {1, 2, 3, 4}, {5, 6, 7, 8});
  ASSERT_EQ(bi_tril(c, kTril, 1), kOk);
  EXPECT_EQ(pop().im, (V{5, 0, 7, 8}));
  tv::push_double(c, {2, 2, 2}, V(8, 1));
  EXPECT_EQ(bi_tril(c, kTriu, 1), kBadDimension);
  drop(1);
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  EXPECT_EQ(bi_tril(c, kTril, 1), kWrongArgType);
  drop(1);
}

TEST_F(ArrayParts, RepmatMatchesModel) {
  std::mt19937 rng(3);
  for (Cls cls : {Cls::Double, Cls::I32, Cls::Char, Cls::Single}) {
    const Arr a = am::random(rng, {2, 3, 2}, cls == Cls::Double);
    const D reps = {2, 1, 1, 3};
    am::push(c, cls, a);
    tv::push_row(c, V(reps.begin(), reps.end()));
    ASSERT_EQ(bi_repmat(c, 2), kOk);
    Arr want;
    for (size_t k = 0; k < 4; ++k) want.dims.push_back(a.dim(k) * reps[k]);
    want.re.assign(want.count(), 0);
    if (!a.im.empty()) want.im.assign(want.count(), 0);
    am::for_each(want.dims, [&](const std::vector<int64_t>& t) {
      std::vector<int64_t> s(4);
      for (size_t k = 0; k < 4; ++k) s[k] = t[k] % a.dim(k);
      want.re[want.index(t)] = a.re[a.index(s)];
      if (!a.im.empty()) want.im[want.index(t)] = a.im[a.index(s)];
    });
    want.normalise();
    std::string got;
    EXPECT_EQ(pop(&got), want) << am::name(cls);
    EXPECT_EQ(got, am::name(cls));
  }
  tv::push_row(c, {1, 2});
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_repmat(c, 2), kOk);  // n means [n n]
  EXPECT_EQ(pop(), (Arr{{2, 4}, {1, 2, 1, 2, 1, 2, 1, 2}, {}}));
  tv::push_row(c, {1, 2});
  tv::push_scalar(c, 3);
  tv::push_scalar(c, 1);
  ASSERT_EQ(bi_repmat(c, 3), kOk);
  EXPECT_EQ(pop().dims, (D{3, 2}));
  tv::push_row(c, {1, 2});
  tv::push_scalar(c, 0);
  ASSERT_EQ(bi_repmat(c, 2), kOk);
  EXPECT_EQ(pop().dims, (D{0, 0}));
  // Errors: no counts, more than 16, m not a plain number.
  tv::push_row(c, {1, 2});
  tv::push_row(c, {});
  EXPECT_EQ(bi_repmat(c, 2), kArgOutOfRange);
  drop(2);
  tv::push_row(c, {1, 2});
  tv::push_row(c, V(17, 1));
  EXPECT_EQ(bi_repmat(c, 2), kArgOutOfRange);
  drop(2);
  tv::push_row(c, {1, 2});
  tv::push_ints(c, kElemI8, {1, 1}, {2});
  tv::push_scalar(c, 2);
  EXPECT_EQ(bi_repmat(c, 3), kWrongArgType);
  drop(3);
  // A list replicates its entries into a cell array.
  tv::push_scalar(c, 7);
  ASSERT_EQ(stk_make_container(c, 1, 0, nullptr, 0), kOk);
  tv::push_row(c, {2, 2});
  ASSERT_EQ(bi_repmat(c, 2), kOk);
  EXPECT_EQ(desc_at(c, 0)[2], kContCell);
  int32_t n = 0;
  ASSERT_EQ(stk_get_container_dims(c, 0, nullptr, nullptr, &n, nullptr), kOk);
  EXPECT_EQ(n, 4);
  drop(1);
}

TEST_F(ArrayParts, DiffAlongDimensions) {
  auto diff = [&](const Arr& x, std::initializer_list<double> args) {
    am::push(c, Cls::Double, x);
    for (double a : args) tv::push_scalar(c, a);
    EXPECT_EQ(bi_diff(c, 1 + static_cast<int>(args.size())), kOk);
    return pop();
  };
  EXPECT_EQ(diff(Arr{{1, 3}, {1, 4, 9}, {}}, {}), (Arr{{1, 2}, {3, 5}, {}}));
  EXPECT_EQ(diff(Arr{{1, 4}, {1, 4, 9, 16}, {}}, {2}), (Arr{{1, 2}, {2, 2}, {}}));
  EXPECT_EQ(diff(Arr{{1, 3}, {1, 4, 9}, {}}, {5}).dims, (D{0, 0}));
  EXPECT_EQ(diff(Arr{{2, 2}, {1, 2, 4, 8}, {}}, {}), (Arr{{1, 2}, {3, 6}, {}}));
  EXPECT_EQ(diff(Arr{{2, 2}, {1, 2, 4, 8}, {}}, {1, 2}), (Arr{{2, 1}, {1, 4}, {}}));
  EXPECT_EQ(diff(Arr{{2, 2, 2}, {1, 2, 3, 4, 11, 12, 13, 14}, {}}, {1, 3}), (Arr{{2, 2}, {10, 10, 10, 10}, {}}));
  EXPECT_EQ(diff(Arr{{1, 3}, {1, 4, 9}, {2, 2, 5}}, {}), (Arr{{1, 2}, {3, 5}, {0, 3}}));
  am::push(c, Cls::Double, Arr{{1, 3}, {1, 4, 9}, {}});
  ASSERT_EQ(stk_push_empty(c), kOk);  // n given as [] is 1
  ASSERT_EQ(bi_diff(c, 2), kOk);
  EXPECT_EQ(pop().re, (V{3, 5}));
  auto expect = [&](std::initializer_list<double> n, int status, int nargs) {
    tv::push_row(c, {1, 4, 9});
    tv::push_row(c, n);
    if (nargs == 3) tv::push_scalar(c, 0);
    EXPECT_EQ(bi_diff(c, nargs), status);
    drop(nargs);
  };
  expect({-1}, kArgOutOfRange, 2);
  expect({1, 2}, kBadSize, 2);
  expect({1}, kBadDimension, 3);
  am::push(c, Cls::I8, Arr{{1, 2}, {1, 2}, {}});
  EXPECT_EQ(bi_diff(c, 1), kWrongArgType);
  drop(1);
}

TEST_F(ArrayParts, KroneckerProduct) {
  tv::push_double(c, {2, 2}, {1, 2, 3, 4});
  tv::push_double(c, {1, 2}, {1, 10});
  ASSERT_EQ(bi_kron(c), kOk);
  EXPECT_EQ(pop(), (Arr{{2, 4}, {1, 10, 2, 20, 3, 30, 4, 40}, {}}));
  tv::push_row(c, {2});
  tv::push_row(c, {1, 2}, {1, -1});
  ASSERT_EQ(bi_kron(c), kOk);
  EXPECT_EQ(pop(), (Arr{{1, 2}, {2, 4}, {2, -2}}));
  tv::push_row(c, {1});
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  EXPECT_EQ(bi_kron(c), kWrongArgType);
  drop(2);
}

// The tiling is written where its arguments began, but only when it would
// also have fitted above them: across every free room around that edge, a
// call either succeeds with the right values in the arguments' place or
// fails leaving both stacks as they were, and the first room that succeeds
// holds the whole result.
TEST_F(ArrayParts, RepmatTakesTheRoomItWouldTakeAboveItsArguments) {
  const V row = {1, -2, 3, -4, 5, -6, 7, -8};
  const int64_t result_words = 3 * 2 * int64_t(row.size());
  V want;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j) want.insert(want.end(), row.begin(), row.end());
  int64_t first_fit = -1;
  for (int64_t room = result_words - 4; room <= result_words + 4; ++room) {
    const int32_t base_items = stk_item_count(c);
    // A filler under the arguments leaves exactly `room` words free above them.
    double* fill = nullptr;
    const int64_t argument_words = int64_t(row.size()) + 2;
    ASSERT_EQ(stk_push_matrix(c, 1, int32_t(data_free_words(c) - room - argument_words), &fill, nullptr), kOk);
    tv::push_row(c, row);
    tv::push_row(c, {3, 2});
    ASSERT_EQ(data_free_words(c), room);
    const StackSnapshot before = snapshot_stacks(c);
    const int status = bi_repmat(c, 2);
    if (status == kOk) {
      if (first_fit < 0) first_fit = room;
      EXPECT_EQ(stk_item_count(c), base_items + 2) << room;
      EXPECT_EQ(pop(), (Arr{{3, 16}, want, {}})) << room;
      drop(1);
    } else {
      EXPECT_EQ(status, kDataStackOverflow) << room;
      EXPECT_LT(first_fit, 0) << "a failure at a larger room than a success: " << room;
      EXPECT_TRUE(snapshot_stacks(c) == before) << room;
      drop(3);
    }
    EXPECT_EQ(stk_item_count(c), base_items);
  }
  EXPECT_GE(first_fit, result_words);
}

TEST_F(ArrayParts, SizeLimitsAreTestedOnSixtyFourBitProducts) {
  auto expect = [&](auto push_args, int (*fn)(EngineContext*, int), int nargin, int status) {
    push_args();
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(fn(c, nargin), status);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    drop(nargin);
  };
  // 70000 x 140000 elements: past every limit, found before anything is pushed.
  expect([&] {
    tv::push_row(c, {1, 2});
    tv::push_row(c, {70000, 70000});
  }, bi_repmat, 2, kDataStackOverflow);
  // A size beyond 32 bits.
  expect([&] {
    tv::push_row(c, {1, 2});
    tv::push_row(c, {4294967296.0, 1});
  }, bi_repmat, 2, kObjectTooLarge);
  expect([&] {
    tv::push_row(c, {1, 2});
    tv::push_scalar(c, 2147483647);
  }, bi_diag, 2, kObjectTooLarge);
  tv::push_row(c, V(1000, 1));
  tv::push_double(c, {1000, 1}, V(1000, 1));
  tv::push_scalar(c, 1);
  EXPECT_EQ(bi_ndgrid(c, 3, 3, 0), kDataStackOverflow);  // 10^6 elements an output
  drop(3);
}
