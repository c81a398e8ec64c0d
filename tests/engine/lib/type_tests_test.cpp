// The type predicates, unary plus and byte swapping over every kind of value:
// plain and N-d doubles, singles, integers, chars, logicals, containers,
// function values and objects; answers, refusals and the stacks after each.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/opcodes.h"
#include "engine/lib/classes_convert.h"
#include "engine/lib/type_tests.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

namespace {

constexpr int E = -1;  // refused with 44

struct Kind {
  const char* name;
  std::function<void(EngineContext*)> push;
  // ischar, islogical, isnumeric, isfloat, isinteger, isscalar, isvector
  int answers[7];
};

void push_payload(EngineContext* c, uint32_t subtype) {
  void* d;
  ASSERT_EQ(stk_push_raw(c, subtype, 8, &d), kOk);
}

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> k = {
      {"double scalar", [](EngineContext* c) { tv::push_scalar(c, 5); }, {0, 0, 1, 1, 0, 1, 1}},
      {"complex row", [](EngineContext* c) { tv::push_row(c, {1, 2}, {3, 4}); }, {0, 0, 1, 1, 0, 0, 1}},
      {"empty", [](EngineContext* c) { ASSERT_EQ(stk_push_empty(c), kOk); }, {0, 0, 1, 1, 0, 0, 1}},
      {"2x2 double", [](EngineContext* c) { tv::push_double(c, {2, 2}, {1, 2, 3, 4}); }, {0, 0, 1, 1, 0, 0, 0}},
      {"2x1x2 double", [](EngineContext* c) { tv::push_double(c, {2, 1, 2}, {1, 2, 3, 4}); }, {0, 0, 1, 1, 0, 0, 0}},
      {"2x1x2 complex",
       [](EngineContext* c) { tv::push_double(c, {2, 1, 2}, {1, 2, 3, 4}, {1, 1, 1, 1}); },
       {0, 0, 1, 1, 0, 0, 0}},
      {"1x1x1 double", [](EngineContext* c) { tv::push_double(c, {1, 1, 1}, {7}); }, {0, 0, 1, 1, 0, 1, 1}},
      {"single scalar", [](EngineContext* c) { tv::push_single(c, {1, 1}, {1}); }, {0, 0, 1, 1, 0, 1, 1}},
      {"single complex row",
       [](EngineContext* c) { tv::push_single(c, {1, 3}, {1, 2, 3}, {1, 1, 1}); },
       {0, 0, 1, 1, 0, 0, 1}},
      {"int8 scalar", [](EngineContext* c) { tv::push_ints(c, kElemI8, {1, 1}, {1}); }, {0, 0, 1, 0, 1, 1, 1}},
      {"uint64 2x2",
       [](EngineContext* c) { tv::push_ints(c, kElemU64, {2, 2}, {1, 2, 3, 4}); },
       {0, 0, 1, 0, 1, 0, 0}},
      {"int16 column",
       [](EngineContext* c) { tv::push_ints(c, kElemI16, {3, 1}, {1, 2, 3}); },
       {0, 0, 1, 0, 1, 0, 1}},
      {"int32 2x2x2",
       [](EngineContext* c) { tv::push_ints(c, kElemI32, {2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8}); },
       {0, 0, 1, 0, 1, 0, 0}},
      {"char row", [](EngineContext* c) { tv::push_chars(c, u"abc"); }, {1, 0, 0, 0, 1, 0, 1}},
      {"empty char", [](EngineContext* c) { tv::push_chars(c, u""); }, {1, 0, 0, 0, 1, 0, 1}},
      {"logical scalar", [](EngineContext* c) { tv::push_logicals(c, {1}); }, {0, 1, 0, 0, 1, 1, 1}},
      {"list",
       [](EngineContext* c) { ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk); },
       {0, 0, 0, 0, 0, E, E}},
      {"structure",
       [](EngineContext* c) { tv::push_scalar(c, 1); ASSERT_EQ(stk_make_container(c, 1, 0, "a", 1), kOk); },
       {0, 0, 0, 0, 0, E, E}},
      {"1x1 cell",
       [](EngineContext* c) { const int32_t one[2] = {1, 1}; ASSERT_EQ(stk_push_cell_array(c, 2, one), kOk); },
       {0, 0, 0, 0, 0, E, E}},
      {"inline function", [](EngineContext* c) { push_payload(c, kPayInline); }, {0, 0, 0, 0, 0, E, E}},
      {"function reference", [](EngineContext* c) { push_payload(c, kPayFuncRef); }, {0, 0, 0, 0, 0, E, E}},
      {"user object",
       [](EngineContext* c) {
         tv::push_scalar(c, 1);
         ASSERT_EQ(stk_make_container(c, 1, 0, "x", 1), kOk);
         desc_at(c, 0)[2] = static_cast<uint32_t>(-3);
       },
       {0, 0, 0, 0, 0, E, E}},
      {"library object", [](EngineContext* c) { push_payload(c, kPayFirstClass + 128); }, {0, 0, 0, 0, 0, E, E}},
      {"no value", [](EngineContext* c) { ASSERT_EQ(stk_push_no_value(c), kOk); }, {0, 0, 0, 0, 0, E, E}},
  };
  return k;
}

class TypeTests : public StartedEngineClearing {};

TEST_F(TypeTests, EveryKindAnswersEveryPredicate) {
  const struct {
    const char* name;
    uint32_t opcode;
  } predicates[] = {{"ischar", kOpIschar},       {"islogical", kOpIslogical},
                    {"isnumeric", kOpIsnumeric}, {"isfloat", kOpIsfloat},
                    {"isinteger", kOpIsinteger}, {"isscalar", kOpIsscalar},
                    {"isvector", kOpIsvector}};
  for (const Kind& k : kinds())
    for (int p = 0; p < 7; ++p) {
      SCOPED_TRACE(std::string(predicates[p].name) + " of " + k.name);
      tv::push_scalar(c, 99);  // a neighbour below stays
      k.push(c);
      const StackSnapshot before = snapshot_stacks(c);
      const int status = classes_run_opcode(c, predicates[p].opcode, 1);
      if (k.answers[p] == E) {
        EXPECT_EQ(status, kWrongArgType);
        EXPECT_TRUE(snapshot_stacks(c) == before);
      } else {
        ASSERT_EQ(status, kOk);
        EXPECT_EQ(e.items(), 2);
        const tv::Value v = tv::read(c);
        EXPECT_EQ(v.cls, "logical");
        EXPECT_EQ(v.dims, (std::vector<uint32_t>{1, 1}));
        EXPECT_EQ(v.ints, std::vector<int64_t>{k.answers[p]});
      }
      EXPECT_TRUE(e.invariants());
      stk_drop(c);
      EXPECT_EQ(tv::read(c).re, std::vector<double>{99});
      stk_drop(c);
    }
}

TEST_F(TypeTests, UnaryPlusMakesCharsAndLogicalsNumeric) {
  for (const Kind& k : kinds()) {
    SCOPED_TRACE(k.name);
    k.push(c);
    const StackSnapshot before = snapshot_stacks(c);
    const tv::Value in = tv::read(c);
    const int status = bi_uplus(c);
    if (k.answers[5] == E) {  // the non-arrays
      EXPECT_EQ(status, kWrongArgType);
      EXPECT_TRUE(snapshot_stacks(c) == before);
    } else {
      ASSERT_EQ(status, kOk);
      const tv::Value out = tv::read(c);
      const std::string want = in.cls == "char" ? "uint16" : in.cls == "logical" ? "uint8" : in.cls;
      EXPECT_EQ(out.cls, want);
      EXPECT_EQ(out.dims, in.dims);
      EXPECT_EQ(out.ints, in.ints);
      EXPECT_EQ(out.re, in.re);
    }
    stk_drop(c);
  }
  tv::push_chars(c, u"A");
  ASSERT_EQ(classes_run_opcode(c, kOpUplus, 1), kOk);
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{65});
}

TEST_F(TypeTests, SwapbytesReversesEachElement) {
  tv::push_ints(c, kElemU16, {1, 2}, {1, 0x1234});
  ASSERT_EQ(bi_swapbytes(c), kOk);
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{256, 0x3412}));
  stk_drop(c);
  tv::push_ints(c, kElemI8, {1, 1}, {-3});
  ASSERT_EQ(bi_swapbytes(c), kOk);
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{-3});
  stk_drop(c);
  tv::push_ints(c, kElemI64, {1, 1}, {0x0102030405060708});
  ASSERT_EQ(bi_swapbytes(c), kOk);
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{0x0807060504030201});
  stk_drop(c);
  tv::push_chars(c, u"A");
  ASSERT_EQ(bi_swapbytes(c), kOk);
  EXPECT_EQ(tv::read(c).cls, "char");
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{0x4100});
  stk_drop(c);

  // Doubles reverse 8 bytes, singles 4; a complex argument loses its
  // imaginary part.
  tv::push_row(c, {1.0, 2.0}, {5.0, 6.0});
  ASSERT_EQ(bi_swapbytes(c), kOk);
  tv::Value v = tv::read(c);
  EXPECT_FALSE(v.cplx);
  EXPECT_EQ(tv::bits(v.re[0]), 0x000000000000F03Full);
  EXPECT_EQ(tv::bits(v.re[1]), 0x0000000000000040ull);
  ASSERT_EQ(bi_swapbytes(c), kOk);  // and back
  EXPECT_EQ(tv::read(c).re, (std::vector<double>{1.0, 2.0}));
  stk_drop(c);
  tv::push_single(c, {1, 1}, {1.0f}, {2.0f});
  ASSERT_EQ(bi_swapbytes(c), kOk);
  v = tv::read(c);
  EXPECT_EQ(v.cls, "single");
  EXPECT_FALSE(v.cplx);
  float f = static_cast<float>(v.re[0]);
  uint32_t u;
  std::memcpy(&u, &f, 4);
  EXPECT_EQ(u, 0x0000803Fu);
  stk_drop(c);

  for (const Kind& k : kinds()) {
    if (k.answers[5] != E) continue;
    SCOPED_TRACE(k.name);
    k.push(c);
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(bi_swapbytes(c), kWrongArgType);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    stk_drop(c);
  }
}

}  // namespace
