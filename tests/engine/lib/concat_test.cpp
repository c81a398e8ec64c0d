// Concatenation: cat against a model along dimensions 1 to 4 on every class,
// the first argument's class deciding, empty operands skipped, containers (lists, cells, structures), and the
// errors with their codes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
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

// Concatenation of the model arrays along axis q (0-based); every array has
// elements and the sizes off q agree.
Arr model_cat(int q, const std::vector<Arr>& args) {
  Arr r;
  size_t nd = std::max<size_t>(args[0].dims.size(), q + 1);
  for (size_t k = 0; k < nd; ++k) r.dims.push_back(args[0].dim(k));
  r.dims[q] = 0;
  for (const Arr& a : args) r.dims[q] += a.dim(q);
  r.re.assign(r.count(), 0);
  const bool cplx = std::any_of(args.begin(), args.end(), [](const Arr& a) { return !a.im.empty(); });
  if (cplx) r.im.assign(r.count(), 0);
  am::for_each(r.dims, [&](const std::vector<int64_t>& t) {
    std::vector<int64_t> s = t;
    size_t i = 0;
    while (s[q] >= args[i].dim(q)) s[q] -= args[i++].dim(q);
    const Arr& a = args[i];
    r.re[r.index(t)] = a.re[a.index(s)];
    if (cplx) r.im[r.index(t)] = a.im.empty() ? 0 : a.im[a.index(s)];
  });
  r.normalise();
  return r;
}

class Concat : public ArrayFixture {
 protected:
  // An empty plain matrix of rows x cols (the pushers make every empty 0 x 0).
  void push_empty_shape(uint32_t rows, uint32_t cols) {
    ASSERT_EQ(stk_push_empty(c), kOk);
    desc_at(c, 0)[1] = rows;
    desc_at(c, 0)[2] = cols;
  }
  // The element at position k (from 1) of the container on top, as an array.
  Arr entry(int32_t k) {
    EXPECT_EQ(stk_list_get(c, 0, k), kOk);
    return pop();
  }
  void push_list(std::initializer_list<double> values) {
    for (double v : values) tv::push_scalar(c, v);
    ASSERT_EQ(stk_make_container(c, static_cast<int>(values.size()), 0, nullptr, 0), kOk);
  }
  void push_struct(double a) {
    tv::push_scalar(c, a);
    ASSERT_EQ(stk_make_container(c, 1, 0, "a", 1), kOk);
  }
  std::vector<uint32_t> container_dims(int32_t* count) {
    int nd = 0;
    const uint32_t* dims = nullptr;
    EXPECT_EQ(stk_get_container_dims(c, 0, &nd, &dims, count, nullptr), kOk);
    if (!dims) return {};
    return {dims, dims + nd};
  }
};

}  // namespace

TEST_F(Concat, CatMatchesModelAlongDimensionsOneToFourOnEveryClass) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> size(1, 3), nd(2, 4), nargs(1, 3), coin(0, 1);
  for (Cls cls : am::all_classes()) {
    const bool floating = cls == Cls::Double || cls == Cls::Single;
    for (int q = 0; q < 4; ++q) {
      for (int trial = 0; trial < 6; ++trial) {
        std::vector<int64_t> base(nd(rng));
        for (auto& d : base) d = size(rng);
        std::vector<Arr> args;
        const int n = nargs(rng) + 1;
        for (int i = 0; i < n; ++i) {
          std::vector<int64_t> dims = base;
          if (dims.size() < size_t(q + 1)) dims.resize(q + 1, 1);
          dims[q] = size(rng);
          Arr a = am::random(rng, dims, floating && coin(rng));
          if (cls == Cls::Logical)
            for (double& v : a.re) v = v > 50;
          args.push_back(a);
        }
        tv::push_scalar(c, q + 1);
        for (const Arr& a : args) am::push(c, cls, a);
        ASSERT_EQ(bi_cat(c, n + 1), kOk) << am::name(cls) << " dim " << q + 1;
        ASSERT_EQ(stk_item_count(c), 1);
        std::string got_cls;
        EXPECT_EQ(pop(&got_cls), model_cat(q, args)) << am::name(cls) << " dim " << q + 1;
        EXPECT_EQ(got_cls, am::name(cls));
      }
    }
  }
}

TEST_F(Concat, FirstArgumentDecidesTheClass) {
  std::string cls;
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  tv::push_scalar(c, 300);
  ASSERT_EQ(bi_horzcat(c), kOk);
  EXPECT_EQ(pop(&cls).re, (std::vector<double>{1, 44}));  // low byte kept, no saturation
  EXPECT_EQ(cls, "int8");

  tv::push_ints(c, kElemI8, {1, 1}, {1});
  tv::push_scalar(c, 2.7);
  ASSERT_EQ(bi_horzcat(c), kOk);
  EXPECT_EQ(pop(&cls).re, (std::vector<double>{1, 2}));

  tv::push_scalar(c, 2.7);
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  ASSERT_EQ(bi_horzcat(c), kOk);
  EXPECT_EQ(pop(&cls).re, (std::vector<double>{2.7, 1}));
  EXPECT_EQ(cls, "double");

  tv::push_chars(c, u"a");
  tv::push_scalar(c, 66);
  ASSERT_EQ(bi_horzcat(c), kOk);
  EXPECT_EQ(pop(&cls).re, (std::vector<double>{97, 66}));
  EXPECT_EQ(cls, "char");

  tv::push_ints(c, kElemU8, {1, 1}, {200});
  tv::push_ints(c, kElemI16, {1, 1}, {-1});
  ASSERT_EQ(bi_vertcat(c), kOk);
  Arr u = pop(&cls);
  EXPECT_EQ(u.re, (std::vector<double>{200, 255}));
  EXPECT_EQ(u.dims, (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(cls, "uint8");

  tv::push_single(c, {1, 1}, {1.5f});
  tv::push_row(c, {2, 3}, {0, 1});
  ASSERT_EQ(bi_horzcat(c), kOk);
  Arr s = pop(&cls);
  EXPECT_EQ(cls, "single");
  EXPECT_EQ(s.im, (std::vector<double>{0, 0, 1}));
}

TEST_F(Concat, EmptyOperandsAreSkipped) {
  const Arr a{{2, 3}, {1, 2, 3, 4, 5, 6}, {}};
  auto run = [&](auto push_first, auto push_second, int (*fn)(EngineContext*)) {
    push_first();
    push_second();
    EXPECT_EQ(fn(c), kOk);
    return pop();
  };
  auto push_a = [&] { am::push(c, Cls::Double, a); };
  EXPECT_EQ(run([&] { push_empty_shape(0, 3); }, push_a, bi_vertcat), a);
  EXPECT_EQ(run(push_a, [&] { push_empty_shape(0, 5); }, bi_vertcat), a);
  EXPECT_EQ(run(push_a, [&] { push_empty_shape(2, 0); }, bi_horzcat), a);
  EXPECT_EQ(run([&] { push_empty_shape(7, 0); }, push_a, bi_horzcat), a);
  // Through cat, for every class: the empties of any shape drop out.
  tv::push_scalar(c, 1);
  am::push(c, Cls::I16, a);
  push_empty_shape(2, 0);
  ASSERT_EQ(bi_cat(c, 3), kOk);
  EXPECT_EQ(pop(), a);
  tv::push_scalar(c, 2);
  push_empty_shape(0, 0);
  am::push(c, Cls::Char, a);
  push_empty_shape(0, 0);
  am::push(c, Cls::Char, a);
  ASSERT_EQ(bi_cat(c, 5), kOk);
  EXPECT_EQ(pop(), model_cat(1, {a, a}));
  // Nothing but empties: an empty of the first argument's class.
  std::string cls;
  tv::push_scalar(c, 1);
  tv::push_ints(c, kElemU32, {0, 0}, {});
  push_empty_shape(0, 4);
  ASSERT_EQ(bi_cat(c, 3), kOk);
  EXPECT_EQ(pop(&cls).dims, (std::vector<int64_t>{0, 0}));
  EXPECT_EQ(cls, "uint32");
}

TEST_F(Concat, DimensionAloneOrWithOneArray) {
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_cat(c, 1), kOk);
  EXPECT_EQ(pop().dims, (std::vector<int64_t>{0, 0}));
  tv::push_scalar(c, 3);
  push_list({1, 2});
  ASSERT_EQ(bi_cat(c, 2), kOk);
  EXPECT_TRUE(stk_is_list(c, 0));
  stk_drop(c);
}

TEST_F(Concat, SizeDimensionAndKindErrors) {
  auto expect = [&](int status, int n, auto fn) {
    EXPECT_EQ(fn(), status);
    for (int i = 0; i < n; ++i) stk_drop(c);
  };
  tv::push_row(c, {1, 2});
  tv::push_row(c, {3, 4, 5});
  expect(kIncompatibleSize, 2, [&] { return bi_vertcat(c); });
  tv::push_double(c, {2, 1}, {1, 2});
  tv::push_double(c, {3, 1}, {1, 2, 3});
  expect(kIncompatibleSize, 2, [&] { return bi_horzcat(c); });
  for (double dim : {0.0, 17.0, -1.0}) {
    tv::push_scalar(c, dim);
    tv::push_scalar(c, 1);
    tv::push_scalar(c, 2);
    expect(kBadDimension, 3, [&] { return bi_cat(c, 3); });
  }
  // An array of more dimensions than the first non-empty one.
  tv::push_scalar(c, 1);
  tv::push_double(c, {2, 2}, {1, 2, 3, 4});
  tv::push_double(c, {2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8});
  expect(kIncompatibleSize, 3, [&] { return bi_cat(c, 3); });
  // Containers and arrays do not mix, whichever comes first.
  tv::push_scalar(c, 1);
  push_list({2});
  expect(kWrongArgType, 2, [&] { return bi_horzcat(c); });
  push_list({1});
  tv::push_scalar(c, 2);
  expect(kWrongArgType, 2, [&] { return bi_horzcat(c); });
  tv::push_scalar(c, 2);
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  push_list({1});
  tv::push_scalar(c, 1);
  expect(kWrongArgType, 4, [&] { return bi_cat(c, 4); });
  // An object (a container of a class subtype) is refused with 44.
  push_list({1});
  desc_at(c, 0)[2] = 7;
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  expect(kWrongArgType, 2, [&] { return bi_vertcat(c); });
}

TEST_F(Concat, ListsJoinIntoListsAndRowsOfListsIntoCells) {
  push_list({1, 2});
  push_list({3});
  ASSERT_EQ(bi_horzcat(c), kOk);
  ASSERT_TRUE(stk_is_list(c, 0));
  EXPECT_FALSE(stk_is_struct(c, 0));
  int32_t n = 0;
  EXPECT_TRUE(container_dims(&n).empty());
  EXPECT_EQ(n, 3);
  EXPECT_EQ(entry(3).re, std::vector<double>{3});
  stk_drop(c);

  // {1, 2; 3, 4}: the rows are lists joined by vertcat into a 2 x 2 cell.
  push_list({1, 2});
  push_list({3, 4});
  ASSERT_EQ(bi_vertcat(c), kOk);
  ASSERT_EQ(desc_at(c, 0)[2], kContCell);
  EXPECT_EQ(container_dims(&n), (std::vector<uint32_t>{2, 2}));
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(entry(k).re, std::vector<double>{double(k)});
  // A cell grows by further rows, and along the third dimension.
  push_list({5, 6});
  ASSERT_EQ(bi_vertcat(c), kOk);
  EXPECT_EQ(container_dims(&n), (std::vector<uint32_t>{3, 2}));
  EXPECT_EQ(entry(6).re, std::vector<double>{6});
  tv::push_scalar(c, 3);
  ASSERT_EQ(stk_move(c, 2, 1), kOk);
  ASSERT_EQ(stk_dup(c, 0, 1), kOk);
  ASSERT_EQ(bi_cat(c, 3), kOk);
  EXPECT_EQ(container_dims(&n), (std::vector<uint32_t>{3, 2, 2}));
  EXPECT_EQ(n, 12);
  EXPECT_EQ(entry(7).re, std::vector<double>{1});
  stk_drop(c);
  // Cells whose sizes do not fit.
  push_list({1, 2});
  push_list({3});
  ASSERT_EQ(bi_vertcat(c), kIncompatibleSize);
  stk_drop(c);
  stk_drop(c);
}

TEST_F(Concat, StructuresAreEntriesOfTheResult) {
  push_struct(1);
  push_struct(2);
  ASSERT_EQ(bi_horzcat(c), kOk);
  ASSERT_TRUE(stk_is_list(c, 0));
  int32_t n = 0;
  container_dims(&n);
  EXPECT_EQ(n, 2);
  ASSERT_EQ(stk_list_get(c, 0, 2), kOk);
  ASSERT_TRUE(stk_is_struct(c, 0));
  ASSERT_EQ(stk_struct_get_field(c, 0, "a", 1), kOk);
  EXPECT_EQ(pop().re, std::vector<double>{2});
  stk_drop(c);
  // A structure beside a list, and a column of structures.
  push_list({5});
  ASSERT_EQ(bi_horzcat(c), kOk);
  container_dims(&n);
  EXPECT_EQ(n, 3);
  stk_drop(c);
  push_struct(1);
  push_struct(2);
  ASSERT_EQ(bi_vertcat(c), kOk);
  EXPECT_EQ(desc_at(c, 0)[2], kContCell);
  EXPECT_EQ(container_dims(&n), (std::vector<uint32_t>{2, 1}));
  stk_drop(c);
}
