// Reshaping and moving elements: permute against a model and followed by
// ipermute, four rot90 turns, double flips, reshape and squeeze sizes,
// sub2ind and ind2sub in row-major order, containers through references.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
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

Arr model_permute(const Arr& a, const std::vector<int>& order) {  // 0-based order
  Arr r;
  const size_t nd = std::max(order.size(), a.dims.size());
  std::vector<int> perm(nd);
  for (size_t i = 0; i < nd; ++i) perm[i] = i < order.size() ? order[i] : int(i);
  for (size_t i = 0; i < nd; ++i) r.dims.push_back(a.dim(perm[i]));
  r.re.assign(a.count(), 0);
  if (!a.im.empty()) r.im.assign(a.count(), 0);
  am::for_each(r.dims, [&](const std::vector<int64_t>& t) {
    std::vector<int64_t> s(std::max(nd, a.dims.size()), 0);
    for (size_t i = 0; i < nd; ++i) s[perm[i]] = t[i];
    r.re[r.index(t)] = a.re[a.index(s)];
    if (!a.im.empty()) r.im[r.index(t)] = a.im[a.index(s)];
  });
  r.normalise();
  return r;
}

class Reshape : public ArrayFixture {
 protected:
  std::mt19937 rng{11};

  Arr random_array(Cls cls) {
    std::uniform_int_distribution<int> nd(2, 5), size(1, 3), coin(0, 1);
    D dims(nd(rng));
    for (auto& d : dims) d = size(rng);
    Arr a = am::random(rng, dims, (cls == Cls::Double || cls == Cls::Single) && coin(rng));
    if (cls == Cls::Logical)
      for (double& v : a.re) v = v > 50;
    return a;
  }
  void push_order(const std::vector<int>& order) {  // 1-based values
    tv::push_row(c, V(order.begin(), order.end()));
  }
  // Pushes A, runs fn with one optional integer argument, returns the result.
  Arr run1(int (*fn)(EngineContext*, int), const Arr& a, Cls cls, int arg) {
    am::push(c, cls, a);
    EXPECT_EQ(fn(c, arg), kOk);
    return pop();
  }
};

}  // namespace

TEST_F(Reshape, PermuteMatchesModelAndIpermuteUndoesIt) {
  for (Cls cls : am::all_classes()) {
    for (int trial = 0; trial < 8; ++trial) {
      const Arr a = random_array(cls);
      std::vector<int> order(a.dims.size() + trial % 2);  // sometimes one more dimension
      std::iota(order.begin(), order.end(), 0);
      std::shuffle(order.begin(), order.end(), rng);
      if (trial % 3 == 2) order = {trial % 2, 1 - trial % 2};  // the rest keep their place
      std::vector<int> one_based(order);
      for (int& o : one_based) ++o;
      am::push(c, cls, a);
      push_order(one_based);
      ASSERT_EQ(bi_permute(c, 0), kOk);
      const Arr p = am::read(c);
      EXPECT_EQ(p, model_permute(a, order)) << am::name(cls);
      push_order(one_based);
      ASSERT_EQ(bi_permute(c, 1), kOk);
      std::string got;
      EXPECT_EQ(pop(&got), a) << am::name(cls);
      EXPECT_EQ(got, am::name(cls));
    }
  }
}

TEST_F(Reshape, FourQuarterTurnsAndTwoFlipsAreIdentities) {
  for (Cls cls : am::all_classes()) {
    for (int trial = 0; trial < 4; ++trial) {
      const Arr a = random_array(cls);
      am::push(c, cls, a);
      for (int turn = 0; turn < 4; ++turn) {
        tv::push_scalar(c, 1);
        ASSERT_EQ(bi_rot90(c, 2), kOk);
      }
      EXPECT_EQ(am::read(c), a) << am::name(cls);
      ASSERT_EQ(bi_rot90(c, 1), kOk);  // the default turn, undone by -1 ...
      tv::push_scalar(c, -1);
      ASSERT_EQ(bi_rot90(c, 2), kOk);
      EXPECT_EQ(am::read(c), a);
      tv::push_scalar(c, 2);  // ... and two half turns
      ASSERT_EQ(bi_rot90(c, 2), kOk);
      tv::push_scalar(c, 6);
      ASSERT_EQ(bi_rot90(c, 2), kOk);
      EXPECT_EQ(am::read(c), a);
      for (int twice = 0; twice < 2; ++twice) ASSERT_EQ(bi_fliplr(c), kOk);
      for (int twice = 0; twice < 2; ++twice) ASSERT_EQ(bi_flipud(c, kFlipUd), kOk);
      for (int d = 1; d <= 6; ++d)
        for (int twice = 0; twice < 2; ++twice) {
          tv::push_scalar(c, d);
          ASSERT_EQ(bi_flipud(c, kFlipDim), kOk);
        }
      EXPECT_EQ(pop(), a) << am::name(cls);
    }
  }
}

TEST_F(Reshape, RotationsAndFlipsOfOneMatrix) {
  const Arr a{{2, 3}, {1, 2, 3, 4, 5, 6}, {}};
  EXPECT_EQ(run1(bi_rot90, a, Cls::Double, 1), (Arr{{3, 2}, {3, 6, 2, 5, 1, 4}, {}}));
  tv::push_double(c, {2, 3}, a.re);
  tv::push_scalar(c, 3);
  ASSERT_EQ(bi_rot90(c, 2), kOk);
  EXPECT_EQ(pop(), (Arr{{3, 2}, {4, 1, 5, 2, 6, 3}, {}}));
  tv::push_double(c, {2, 3}, a.re);
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_rot90(c, 2), kOk);
  EXPECT_EQ(pop().re, (V{6, 5, 4, 3, 2, 1}));
  tv::push_double(c, {2, 3}, a.re);
  ASSERT_EQ(bi_fliplr(c), kOk);
  EXPECT_EQ(pop().re, (V{3, 2, 1, 6, 5, 4}));
  EXPECT_EQ(run1(bi_flipud, a, Cls::Char, kFlipUd).re, (V{4, 5, 6, 1, 2, 3}));
  tv::push_double(c, {2, 3}, a.re);
  tv::push_scalar(c, 0);
  EXPECT_EQ(bi_flipud(c, kFlipDim), kBadDimension);
  stk_drop(c);
  stk_drop(c);
}

TEST_F(Reshape, ContainersMoveThroughTheirEntries) {
  for (double v : {1, 2, 3}) tv::push_scalar(c, v);
  ASSERT_EQ(stk_make_container(c, 3, 0, nullptr, 0), kOk);
  ASSERT_EQ(bi_fliplr(c), kOk);  // a list reverses
  ASSERT_TRUE(stk_is_list(c, 0));
  ASSERT_EQ(stk_list_get(c, 0, 1), kOk);
  EXPECT_EQ(pop().re, V{3});
  ASSERT_EQ(bi_rot90(c, 1), kOk);  // a row of entries turns into a 3 x 1 cell
  EXPECT_EQ(desc_at(c, 0)[2], kContCell);
  int nd = 0;
  const uint32_t* dims = nullptr;
  int32_t n = 0;
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &n, nullptr), kOk);
  EXPECT_EQ(std::vector<uint32_t>(dims, dims + nd), (std::vector<uint32_t>{3, 1}));
  ASSERT_EQ(stk_list_get(c, 0, 3), kOk);
  EXPECT_EQ(pop().re, V{3});  // rot90 of [3 2 1] puts 1 on top, 3 at the bottom
  tv::push_row(c, {2, 1});
  ASSERT_EQ(bi_permute(c, 0), kOk);
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &n, nullptr), kOk);
  EXPECT_EQ(std::vector<uint32_t>(dims, dims + nd), (std::vector<uint32_t>{1, 3}));
  stk_drop(c);
  // A structure is one entry: flipping it gives it back unchanged.
  tv::push_scalar(c, 4);
  ASSERT_EQ(stk_make_container(c, 1, 0, "f", 1), kOk);
  ASSERT_EQ(bi_flipud(c, kFlipUd), kOk);
  EXPECT_TRUE(stk_is_struct(c, 0));
  stk_drop(c);
}

TEST_F(Reshape, PermuteErrors) {
  auto expect = [&](const V& order, int status) {
    tv::push_double(c, {2, 3}, {1, 2, 3, 4, 5, 6});
    tv::push_row(c, order);
    EXPECT_EQ(bi_permute(c, 0), status);
    stk_drop(c);
    stk_drop(c);
  };
  expect({1, 1}, kNotPermutation);
  expect({1, 3}, kNotPermutation);
  expect({0, 1}, kNotPermutation);
  expect(V(17, 1), kArgOutOfRange);
  tv::push_double(c, {2, 3}, {1, 2, 3, 4, 5, 6});
  tv::push_row(c, {2, 1});
  ASSERT_EQ(bi_permute(c, 0), kOk);
  EXPECT_EQ(pop(), (Arr{{3, 2}, {1, 4, 2, 5, 3, 6}, {}}));
}

TEST_F(Reshape, ReshapeSizesAndTheComputedSize) {
  auto range6 = [&] { tv::push_row(c, {1, 2, 3, 4, 5, 6}); };
  range6();
  ASSERT_EQ(stk_push_empty(c), kOk);
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_reshape(c, 3), kOk);
  EXPECT_EQ(pop(), (Arr{{3, 2}, {1, 2, 3, 4, 5, 6}, {}}));
  range6();
  tv::push_scalar(c, 4);
  ASSERT_EQ(stk_push_empty(c), kOk);
  EXPECT_EQ(bi_reshape(c, 3), kBadSize);
  for (int i = 0; i < 3; ++i) stk_drop(c);
  // Only one size may be left open.
  range6();
  ASSERT_EQ(stk_push_empty(c), kOk);
  ASSERT_EQ(stk_push_empty(c), kOk);
  EXPECT_EQ(bi_reshape(c, 3), kBadSize);
  for (int i = 0; i < 3; ++i) stk_drop(c);
  range6();
  tv::push_scalar(c, -2);
  tv::push_scalar(c, -3);
  EXPECT_EQ(bi_reshape(c, 3), kBadSize);
  for (int i = 0; i < 3; ++i) stk_drop(c);
  // A size vector; trailing 1s dropped; sizes whose product overflows.
  range6();
  tv::push_row(c, {1, 2, 3, 1, 1});
  ASSERT_EQ(bi_reshape(c, 2), kOk);
  EXPECT_EQ(pop().dims, (D{1, 2, 3}));
  range6();
  tv::push_row(c, {65536, 65536, 0, 1});
  EXPECT_EQ(bi_reshape(c, 2), kBadSize);
  stk_drop(c);
  stk_drop(c);
  range6();
  tv::push_row(c, V(17, 1));
  EXPECT_EQ(bi_reshape(c, 2), kArgOutOfRange);
  stk_drop(c);
  stk_drop(c);
  // reshape(A) is a column; every class keeps its class.
  std::string cls;
  am::push(c, Cls::I64, Arr{{2, 2}, {1, 2, 3, 4}, {}});
  ASSERT_EQ(bi_reshape(c, 1), kOk);
  EXPECT_EQ(pop(&cls), (Arr{{4, 1}, {1, 2, 3, 4}, {}}));
  EXPECT_EQ(cls, "int64");
}

TEST_F(Reshape, SqueezeDropsEverySingletonDimension) {
  tv::push_row(c, {1, 2, 3, 4});
  ASSERT_EQ(bi_reshape(c, kSqueeze), kOk);
  EXPECT_EQ(pop().dims, (D{4, 1}));
  tv::push_double(c, {1, 1, 3}, {1, 2, 3});
  ASSERT_EQ(bi_reshape(c, kSqueeze), kOk);
  EXPECT_EQ(pop().dims, (D{3, 1}));
  tv::push_double(c, {2, 1, 3}, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(bi_reshape(c, kSqueeze), kOk);
  EXPECT_EQ(pop().dims, (D{2, 3}));
}

// Every placement of size-1 dimensions among 2 to 5 dimensions of sizes 1, 2
// and 3 (and some of size 0): squeeze keeps each element at its subscripts,
// which is the permutation that puts the other dimensions first.
TEST_F(Reshape, SqueezeKeepsEveryElementAtItsSubscripts) {
  const std::vector<Cls> classes = {Cls::Double, Cls::I16, Cls::Char, Cls::Logical};
  int moved = 0;
  for (int nd = 2; nd <= 5; ++nd) {
    int placements = 1;
    for (int k = 0; k < nd; ++k) placements *= 4;
    for (int code = 0; code < placements; ++code) {
      D dims(nd);
      int rest = code, zeros = 0;
      for (auto& d : dims) {
        d = rest % 4;  // 0, 1, 2, 3
        rest /= 4;
        zeros += d == 0;
      }
      if (zeros > 1 || (nd == 5 && zeros == 1 && code % 7 != 0)) continue;
      std::vector<int> order;
      for (int k = 0; k < nd; ++k)
        if (dims[k] != 1) order.push_back(k);
      for (int k = 0; k < nd; ++k)
        if (dims[k] == 1) order.push_back(k);
      const Cls cls = classes[code % classes.size()];
      Arr a = am::random(rng, dims, cls == Cls::Double && code % 2 == 1);
      if (cls == Cls::Logical)
        for (double& v : a.re) v = v > 50;
      a.normalise();
      am::push(c, cls, a);
      ASSERT_EQ(bi_reshape(c, kSqueeze), kOk);
      std::string got;
      const Arr r = pop(&got);
      const Arr want = model_permute(a, order);
      EXPECT_EQ(r, want) << am::name(cls) << " code " << code << " of " << nd << " dimensions";
      EXPECT_EQ(got, am::name(cls));
      moved += r.re != a.re ? 1 : 0;
    }
  }
  EXPECT_GT(moved, 100);  // most placements move elements

  // A(1, j, k) = 10 j + k: the 1 x 2 x 3 array's pages are its columns.
  tv::push_double(c, {1, 2, 3}, {11, 21, 12, 22, 13, 23});
  ASSERT_EQ(bi_reshape(c, kSqueeze), kOk);
  const Arr b = pop();
  EXPECT_EQ(b.dims, (D{2, 3}));
  EXPECT_EQ(b.re, (V{11, 12, 13, 21, 22, 23}));

  // A cell array's entries move the same way.
  for (double v : {1, 2, 3, 4, 5, 6}) tv::push_scalar(c, v);
  const int32_t cell_dims[] = {2, 1, 3};
  ASSERT_EQ(stk_make_container(c, 6, 0, nullptr, 0), kOk);
  ASSERT_EQ(stk_reshape(c, 3, cell_dims), kOk);
  ASSERT_EQ(desc_at(c, 0)[2], kContCell);
  ASSERT_EQ(bi_reshape(c, kSqueeze), kOk);
  int nd = 0;
  const uint32_t* dims = nullptr;
  int32_t n = 0;
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &n, nullptr), kOk);
  EXPECT_EQ(std::vector<uint32_t>(dims, dims + nd), (std::vector<uint32_t>{2, 3}));
  // Source (i, 0, p) lies at p * 2 + i; the result's (i, p) at i * 3 + p.
  ASSERT_EQ(stk_list_get(c, 0, 2), kOk);  // (0, 1): source entry 2 * 1 + 0
  EXPECT_EQ(pop().re, V{3});
  ASSERT_EQ(stk_list_get(c, 0, 4), kOk);  // (1, 0): source entry 1
  EXPECT_EQ(pop().re, V{2});
  stk_drop(c);
}

TEST_F(Reshape, Sub2indIsRowMajor) {
  auto sub2ind = [&](const V& siz, const std::vector<V>& subs) {
    tv::push_row(c, siz);
    for (const V& s : subs) tv::push_row(c, s);
    EXPECT_EQ(bi_sub2ind(c, static_cast<int>(subs.size()) + 1), kOk);
    return pop().re;
  };
  EXPECT_EQ(sub2ind({2, 3}, {{1}, {2}}), V{2});
  EXPECT_EQ(sub2ind({2, 3}, {{2}, {1}}), V{4});
  EXPECT_EQ(sub2ind({2, 3}, {{1, 2, 2}, {3}}), (V{3, 6, 6}));   // a scalar stands for each
  EXPECT_EQ(sub2ind({2, 3, 4}, {{2}, {3}, {2}}), V{12});        // page 1 starts at 7
  EXPECT_EQ(sub2ind({3}, {{3}, {3}}), V{9});                    // one size means [n n]
  EXPECT_EQ(sub2ind({}, {{5, 6}}), (V{5, 6}));                  // one subscript is itself
  EXPECT_EQ(sub2ind({2, 3}, {{1}, {7}}), V{7});                 // not checked against siz
  tv::push_row(c, {2, 3, 4});
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 1);
  EXPECT_EQ(bi_sub2ind(c, 3), kTooFewInputs);  // more sizes than subscripts
  for (int i = 0; i < 3; ++i) stk_drop(c);
  tv::push_row(c, {2, 3});
  tv::push_scalar(c, 5);
  EXPECT_EQ(bi_sub2ind(c, 2), kTooFewInputs);
  stk_drop(c);
  stk_drop(c);
  tv::push_row(c, {2, 3});
  tv::push_row(c, {1, 2});
  tv::push_row(c, {1, 2, 3});
  EXPECT_EQ(bi_sub2ind(c, 3), kIncompatibleSize);
  for (int i = 0; i < 3; ++i) stk_drop(c);
  EXPECT_EQ(bi_sub2ind(c, 1), kTooFewInputs);
  EXPECT_EQ(bi_sub2ind(c, 18), kTooManyInputs);
}

TEST_F(Reshape, Ind2subInvertsSub2indAndWraps) {
  auto ind2sub = [&](const V& siz, const V& ind, int nargout) {
    tv::push_row(c, siz);
    tv::push_row(c, ind);
    EXPECT_EQ(bi_ind2sub(c, nargout), kOk);
    std::vector<V> out;
    for (int i = 0; i < nargout; ++i) out.push_back(pop().re);  // the first output on top
    return out;
  };
  EXPECT_EQ(ind2sub({2, 3}, {4}, 2), (std::vector<V>{{2}, {1}}));
  EXPECT_EQ(ind2sub({2, 3}, {2, 6, 7}, 2), (std::vector<V>{{1, 2, 1}, {2, 3, 1}}));  // 7 wraps
  EXPECT_EQ(ind2sub({2, 3, 4}, {12}, 4), (std::vector<V>{{2}, {3}, {2}, {1}}));
  EXPECT_EQ(ind2sub({3}, {5}, 2), (std::vector<V>{{2}, {2}}));
  // Round trip over every position of a 2 x 3 x 2 array.
  for (int k = 1; k <= 12; ++k) {
    const auto s = ind2sub({2, 3, 2}, {double(k)}, 3);
    tv::push_row(c, {2, 3, 2});
    for (const V& v : s) tv::push_row(c, v);
    ASSERT_EQ(bi_sub2ind(c, 4), kOk);
    EXPECT_EQ(pop().re, V{double(k)});
  }
  auto expect = [&](const V& siz, int nargout, int status) {
    tv::push_row(c, siz);
    tv::push_scalar(c, 4);
    EXPECT_EQ(bi_ind2sub(c, nargout), status);
    stk_drop(c);
    stk_drop(c);
  };
  expect({2, 0}, 2, kBadSize);  // no division by a zero size
  expect({0}, 2, kBadSize);
  expect({2, 3, 4}, 2, kTooFewOutputs);
  expect({2, 3}, 17, kTooManyOutputs);
}
