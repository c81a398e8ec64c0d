// Reading by subscripts: the decoder's errors and shape rules, function
// values called with their subscripts, size limits, and a randomised differential test of every read against the N-d model, from the
// stack (100) and in place through a reference (109).
#include <gtest/gtest.h>

#include <random>

#include "engine/core/assign.h"
#include "engine/core/containers.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "support/nd_model.h"
#include "support/workspace.h"

namespace {

using ndm::Sub;

Sub colon() { return Sub{}; }
Sub nums(std::vector<int64_t> v, std::vector<int64_t> shape = {}) {
  if (shape.empty()) shape = {1, int64_t(v.size())};
  return Sub{Sub::Numbers, std::move(v), std::move(shape)};
}
Sub mask(std::vector<int64_t> v, std::vector<int64_t> shape = {}) {
  if (shape.empty()) shape = {1, int64_t(v.size())};
  return Sub{Sub::Mask, std::move(v), std::move(shape)};
}

ndm::Array doubles(std::vector<int64_t> dims, std::vector<double> v) {
  ndm::Array a = ndm::like(ndm::Array{}, dims, false);
  std::memcpy(a.re.data(), v.data(), v.size() * 8);
  return a;
}

std::vector<double> values(const ndm::Array& a) {
  std::vector<double> v(a.re.size() / 8);
  std::memcpy(v.data(), a.re.data(), a.re.size());
  return v;
}

uint32_t colon_mask(const std::vector<Sub>& subs) {
  uint32_t m = 0;
  for (size_t i = 0; i < subs.size(); ++i)
    if (subs[i].kind == Sub::Colon) m |= 1u << i;
  return m;
}

// value(subs) from the stack; the result replaces value and subscripts.
int read_stack(Workspace& w, const ndm::Array& a, const std::vector<Sub>& subs, ndm::Array* out,
               bool int_subs = false) {
  EXPECT_EQ(ndm::push(w.c, a), kOk);
  for (const Sub& s : subs)
    if (s.kind != Sub::Colon) {
      EXPECT_EQ(ndm::push_sub(w.c, s, int_subs), kOk);
    }
  const int st = index_extract(w.c, int(subs.size()), colon_mask(subs), 0, 0);
  if (st == kOk) *out = *ndm::from_item(desc_at(w.c, 0), item_data(w.c, 0));
  return st;
}

// The same through a reference to slot 0, read in place.
int read_ref(Workspace& w, const ndm::Array& a, const std::vector<Sub>& subs, ndm::Array* out) {
  EXPECT_EQ(ndm::push(w.c, a), kOk);
  EXPECT_EQ(var_store_local(w.c, 0), kOk);
  EXPECT_EQ(var_push_ref(w.c, 0, 0), kOk);
  for (const Sub& s : subs)
    if (s.kind != Sub::Colon) {
      EXPECT_EQ(ndm::push_sub(w.c, s, false), kOk);
    }
  const int st = op_index_get(w.c, 0, int(subs.size()), colon_mask(subs), kIndexCallOne);
  if (st == kOk) *out = *ndm::from_item(desc_at(w.c, 0), item_data(w.c, 0));
  return st;
}

TEST(IndexRead, ShapeRulesAndErrors) {
  Workspace w;
  ndm::Array out;
  const ndm::Array m23 = doubles({2, 3}, {1, 2, 3, 4, 5, 6});
  // A(:) runs in storage order, row by row.
  ASSERT_EQ(read_stack(w, m23, {colon()}, &out), kOk);
  EXPECT_EQ(out.dims, (std::vector<int64_t>{6, 1}));
  EXPECT_EQ(values(out), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  w.clear_stack();
  const ndm::Array col = doubles({3, 1}, {7, 8, 9}), row = doubles({1, 3}, {7, 8, 9});
  ASSERT_EQ(read_stack(w, col, {nums({1, 2})}, &out), kOk);
  EXPECT_EQ(out.dims, (std::vector<int64_t>{2, 1}));
  ASSERT_EQ(read_stack(w, row, {nums({3, 1}, {2, 1})}, &out), kOk);
  EXPECT_EQ(out.dims, (std::vector<int64_t>{1, 2}));
  ASSERT_EQ(read_stack(w, row, {nums({1, 2, 3, 1}, {2, 2})}, &out), kOk);
  EXPECT_EQ(out.dims, (std::vector<int64_t>{2, 2}));
  ASSERT_EQ(read_stack(w, row, {mask({1, 0, 1})}, &out), kOk);
  EXPECT_EQ(out.dims, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(values(out), (std::vector<double>{7, 9}));
  w.clear_stack();

  ndm::Array cube = ndm::like(ndm::Array{}, {2, 3, 2}, false);
  for (int i = 0; i < 12; ++i) tn::st_f64(&cube.re[8 * i], i);
  ASSERT_EQ(read_stack(w, cube, {nums({2}), colon()}, &out), kOk);  // the colon covers the rest
  EXPECT_EQ(out.dims, (std::vector<int64_t>{1, 3, 2}));
  EXPECT_EQ(values(out), (std::vector<double>{3, 4, 5, 9, 10, 11}));
  w.clear_stack();

  struct Bad {
    ndm::Array value;
    std::vector<Sub> subs;
    int status;
  };
  const Bad bad[] = {
      {cube, {nums({1}), nums({2})}, kWrongIndexCount},
      {row, {mask({1, 0})}, kBadSelectionSize},
      {row, {nums({0})}, kIndexOutOfRange},
      {row, {nums({4})}, kIndexOutOfRange},
      {m23, {nums({3}), nums({1})}, kIndexOutOfRange},
      {m23, {mask({1, 1, 0, 0, 1, 1}, {3, 2})}, kBadSelectionSize},
  };
  for (const Bad& b : bad) {
    EXPECT_EQ(read_stack(w, b.value, b.subs, &out), b.status);
    w.clear_stack();
  }
  // A(1.5) and A({1}).
  ndm::push(w.c, row);
  stk_push_real(w.c, 1.5);
  EXPECT_EQ(index_extract(w.c, 1, 0, 0, 0), kNonIntegerIndex);
  w.clear_stack();
  ndm::push(w.c, row);
  stk_push_real(w.c, 1);
  stk_make_container(w.c, 1, 0, nullptr, 0);
  EXPECT_EQ(index_extract(w.c, 1, 0, 0, 0), kBadIndexType);
  w.clear_stack();
  // A struct cannot be indexed; the operands stay for its class's method.
  stk_push_real(w.c, 1);
  stk_make_container(w.c, 1, 0, "f", 1);
  stk_push_real(w.c, 1);
  const StackSnapshot before = snapshot_stacks(w.c);
  EXPECT_EQ(index_extract(w.c, 1, 0, 0, 0), kWrongArgType);
  EXPECT_TRUE(snapshot_stacks(w.c) == before);
  w.clear_stack();
  EXPECT_TRUE(w.sound());
}

TEST(IndexRead, FunctionValueIsCalledWithTheSubscripts) {
  Workspace w;
  static int calls = 0;
  FunctionValueCaller old = index_set_function_caller([](EngineContext* c, int nargin, int nargout) {
    ++calls;
    EXPECT_EQ(nargin, 1);
    EXPECT_EQ(nargout, 1);
    return stk_remove(c, 0, nargin + 1) == kOk ? stk_push_real(c, 99) : kIllegalError;
  });
  void* p;
  stk_push_raw(w.c, kPayFuncRef, 8, &p);
  stk_push_real(w.c, 3);
  EXPECT_EQ(index_extract(w.c, 1, 0, 1, 0), kOk);
  EXPECT_EQ(calls, 1);
  // f(3) on a variable holding the reference: the value takes the reference's place.
  w.clear_stack();
  stk_push_raw(w.c, kPayFuncRef, 8, &p);
  ASSERT_EQ(var_store_local(w.c, 0), kOk);
  ASSERT_EQ(var_push_ref(w.c, 0, 0), kOk);
  stk_push_real(w.c, 3);
  EXPECT_EQ(op_index_get(w.c, 0, 1, 0, kIndexCallOne), kOk);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(w.c->desc_top, kBaseFrameWords + 3);
  index_set_function_caller(old);
}

TEST(IndexRead, TooLargeResultsFailBeforeAnythingIsPushed) {
  Workspace w(1u << 23);
  ndm::push(w.c, doubles({1, 1}, {5}));
  ndm::push_sub(w.c, nums(std::vector<int64_t>(40000, 1)), true);
  ndm::push_sub(w.c, nums(std::vector<int64_t>(40000, 1)), true);
  const StackSnapshot before = snapshot_stacks(w.c);
  EXPECT_EQ(index_extract(w.c, 2, 0, 0, 0), kObjectTooLarge);  // 1.6e9 doubles
  EXPECT_TRUE(snapshot_stacks(w.c) == before);
  w.clear_stack();
  ndm::Array i8;
  i8.cls = ndm::Cls::Int;
  i8.type = kElemI8;
  i8.subtype = kPayNumeric;
  i8.esize = 1;
  i8 = ndm::like(i8, {1, 1}, false);
  ndm::push(w.c, i8);
  ndm::push_sub(w.c, nums(std::vector<int64_t>(20000, 1)), true);
  ndm::push_sub(w.c, nums(std::vector<int64_t>(20000, 1)), true);
  EXPECT_EQ(index_extract(w.c, 2, 0, 0, 0), kDataStackOverflow);  // 4e8 int8 elements
}

// --- Randomised reads against the model ---------------------------------------------

struct ElemKind {
  ndm::Cls cls;
  bool cplx;
  uint32_t type, subtype, esize;
};
const ElemKind kKinds[] = {
    {ndm::Cls::Double, false, kElemDouble, 0, 8},  {ndm::Cls::Double, true, kElemDoubleComplex, 0, 8},
    {ndm::Cls::Single, false, kElemSingle, 0, 4},  {ndm::Cls::Single, true, kElemSingleComplex, 0, 4},
    {ndm::Cls::Int, false, kElemI8, kPayNumeric, 1}, {ndm::Cls::Int, false, kElemU8, kPayNumeric, 1},
    {ndm::Cls::Int, false, kElemI16, kPayNumeric, 2}, {ndm::Cls::Int, false, kElemU16, kPayNumeric, 2},
    {ndm::Cls::Int, false, kElemI32, kPayNumeric, 4}, {ndm::Cls::Int, false, kElemU32, kPayNumeric, 4},
    {ndm::Cls::Int, false, kElemI64, kPayNumeric, 8}, {ndm::Cls::Int, false, kElemU64, kPayNumeric, 8},
    {ndm::Cls::Int, false, kElemU16, kPayChar, 2},   {ndm::Cls::Int, false, kElemU8, kPayLogical, 1},
};

}  // namespace

// Shared with the assignment tests.
ndm::Array random_array(std::mt19937& g, int kind, std::vector<int64_t> dims) {
  const ElemKind& k = kKinds[kind];
  ndm::Array a;
  a.cls = k.cls;
  a.type = k.type;
  a.subtype = k.subtype;
  a.esize = k.esize;
  a = ndm::like(a, std::move(dims), k.cplx);
  for (auto& b : a.re) b = uint8_t(g());
  for (auto& b : a.im) b = uint8_t(g());
  if (k.subtype == kPayLogical)
    for (auto& b : a.re) b &= 1;
  return a;
}

int random_kind(std::mt19937& g) { return int(g() % (sizeof kKinds / sizeof kKinds[0])); }

std::vector<int64_t> random_dims(std::mt19937& g) {
  const int nd = 1 + int(g() % 4);
  std::vector<int64_t> d;
  for (int i = 0; i < nd; ++i) d.push_back(g() % 9 == 0 ? 0 : 1 + int64_t(g() % 4));
  return ndm::normal(d);
}

// A random subscript over extent e: mostly in range, sometimes past it.
Sub random_sub(std::mt19937& g, int64_t e, bool linear, const std::vector<int64_t>& value_dims, bool growth) {
  const unsigned r = g() % 10;
  if (r < 2) return Sub{};
  if (r < 4) {
    std::vector<int64_t> m;
    const int64_t len = g() % 8 == 0 ? e + 1 : e;
    for (int64_t i = 0; i < len; ++i) m.push_back(g() % 2);
    if (linear && g() % 2 && len == e) return mask(m, value_dims);
    return mask(m, {1, len});
  }
  const int64_t n = int64_t(g() % 4);
  std::vector<int64_t> v;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t top = e + (g() % 6 == 0 ? (growth ? 3 : 1) : 0);
    v.push_back(top > 0 ? 1 + int64_t(g() % top) : 1);
  }
  if (g() % 15 == 0) v.push_back(0);
  if (linear && n == 4 && g() % 2) return nums(v, {2, 2});
  return nums(v, g() % 2 ? std::vector<int64_t>{int64_t(v.size()), 1} : std::vector<int64_t>{1, int64_t(v.size())});
}

std::vector<Sub> random_subs(std::mt19937& g, const std::vector<int64_t>& dims, bool growth) {
  const int nd = int(dims.size());
  int n = 1 + int(g() % 4);
  if (g() % 3 == 0) n = nd;
  std::vector<Sub> subs;
  int64_t count = 1;
  for (int64_t d : dims) count *= d;
  for (int i = 0; i < n; ++i) subs.push_back(random_sub(g, n == 1 ? count : ndm::dim(dims, i), n == 1, dims, growth));
  return subs;
}

TEST(IndexRead, RandomReadsMatchTheModel) {
  Workspace w;
  w.name(0, "x");
  std::mt19937 g(20240611);
  int ok = 0;
  for (int round = 0; round < 3000; ++round) {
    const ndm::Array a = random_array(g, random_kind(g), random_dims(g));
    const std::vector<Sub> subs = random_subs(g, a.dims, false);
    ndm::Array want, got;
    const int expect = ndm::read(a, subs, &want);
    const bool int_subs = g() % 2;
    ASSERT_EQ(read_stack(w, a, subs, &got, int_subs), expect) << "round " << round;
    if (expect == kOk) {
      ASSERT_TRUE(got == want) << "round " << round;
      ASSERT_EQ(w.c->desc_top, kBaseFrameWords + 3);
      ++ok;
    }
    ASSERT_TRUE(check_stack_invariants(w.c, kBaseFrameWords, 0));
    w.clear_stack();
    ASSERT_EQ(read_ref(w, a, subs, &got), expect) << "round " << round;
    if (expect == kOk) {
      ASSERT_TRUE(got == want) << "round " << round;
    }
    ASSERT_TRUE(w.sound()) << "round " << round;
    w.clear_stack();
  }
  EXPECT_GT(ok, 1000);
}
