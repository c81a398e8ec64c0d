// Type conversions and argument checking: the promotion table over every
// class, integer conversions, condition truth, spec strings including the
// end-of-arguments rules, and conversions at random depths against a model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/convert.h"
#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"

namespace {

class Convert : public ::testing::Test {
 protected:
  TestContext t = make_test_context(1 << 16);
  EngineContext* c = t.ctx();
};

// The classes of numeric values, one scalar builder each (value 3, or 3+4i).
enum Cls { kDbl, kCpx, kSgl, kI8, kU8, kI16, kU16, kI32, kU32, kI64, kU64, kChr, kLgl, kClsCount };
const char* const kClsNames[] = {"double", "complex", "single", "int8", "uint8", "int16", "uint16",
                                 "int32", "uint32", "int64", "uint64", "char", "logical"};

void push_class(EngineContext* c, int cls, double v = 3) {
  const int sizes[] = {0, 0, 0, 1, 1, 2, 2, 4, 4, 8, 8};
  void* d;
  switch (cls) {
    case kDbl: ASSERT_EQ(stk_push_real(c, v), kOk); return;
    case kCpx: ASSERT_EQ(stk_push_complex(c, v, 4), kOk); return;
    case kSgl: {
      float* f;
      ASSERT_EQ(stk_push_single_nd(c, 0, nullptr, &f, nullptr), kOk);
      *f = static_cast<float>(v);
      return;
    }
    case kChr: {
      uint16_t* ch;
      ASSERT_EQ(stk_push_char_row(c, 1, &ch), kOk);
      *ch = static_cast<uint16_t>(v);
      return;
    }
    case kLgl: ASSERT_EQ(stk_push_logical_scalar(c, v != 0), kOk); return;
    default: {
      int size = sizes[cls];
      ASSERT_EQ(stk_push_typed_array(c, 0, nullptr, size, (cls - kI8) % 2, &d), kOk);
      auto x = static_cast<int64_t>(v);
      std::memcpy(d, &x, size);  // little-endian low bytes
    }
  }
}

// Short name of an item's class after conversion: D double, S single, i1..u8.
std::string class_of(EngineContext* c, int depth) {
  const uint32_t* d = desc_at(c, depth);
  if (d[0] <= kKindComplex) return "D";
  TypedView t;
  if (!typed_view(c, depth, &t)) return "?";
  if (t.type == kElemDouble || t.type == kElemDoubleComplex) return "D";
  if (t.type == kElemSingle || t.type == kElemSingleComplex) return "S";
  return std::string(t.type & kElemUnsigned ? "u" : "i") + std::to_string(t.size);
}

TEST_F(Convert, PromotionTableOverEveryPairOfClasses) {
  // Rows: the deeper operand; columns: the top one. Symmetric by the rule.
  const char* const kTable[kClsCount][kClsCount] = {
      // dbl cpx  sgl  i8    u8    i16   u16   i32   u32   i64   u64   chr   lgl
      {"D", "D", "D", "D", "D", "D", "D", "D", "D", "D", "D", "D", "D"},                 // dbl
      {"D", "D", "D", "D", "D", "D", "D", "D", "D", "D", "D", "D", "D"},                 // cpx
      {"D", "D", "S", "S", "S", "S", "S", "S", "S", "S", "S", "S", "S"},                 // sgl
      {"D", "D", "S", "i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "u2", "u1"},       // i8
      {"D", "D", "S", "u1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "u2", "u1"},       // u8
      {"D", "D", "S", "i2", "i2", "i2", "u2", "i4", "u4", "i8", "u8", "u2", "i2"},       // i16
      {"D", "D", "S", "u2", "u2", "u2", "u2", "i4", "u4", "i8", "u8", "u2", "u2"},       // u16
      {"D", "D", "S", "i4", "i4", "i4", "i4", "i4", "u4", "i8", "u8", "i4", "i4"},       // i32
      {"D", "D", "S", "u4", "u4", "u4", "u4", "u4", "u4", "i8", "u8", "u4", "u4"},       // u32
      {"D", "D", "S", "i8", "i8", "i8", "i8", "i8", "i8", "i8", "u8", "i8", "i8"},       // i64
      {"D", "D", "S", "u8", "u8", "u8", "u8", "u8", "u8", "u8", "u8", "u8", "u8"},       // u64
      {"D", "D", "S", "u2", "u2", "u2", "u2", "i4", "u4", "i8", "u8", "u2", "u2"},       // chr
      {"D", "D", "S", "u1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "u2", "u1"},       // lgl
  };
  for (int a = 0; a < kClsCount; ++a) {
    for (int b = 0; b < kClsCount; ++b) {
      SCOPED_TRACE(std::string(kClsNames[a]) + " with " + kClsNames[b]);
      push_class(c, a);
      push_class(c, b);
      ASSERT_EQ(stk_promote_args(c, 2), kOk);
      EXPECT_EQ(class_of(c, 1), kTable[a][b]);
      EXPECT_EQ(class_of(c, 0), kTable[a][b]);
      // Values survive and complex operands stay complex.
      for (int depth = 0; depth < 2; ++depth) {
        int cls = depth ? a : b;
        double re = 0, im = 0;
        const uint32_t* d = desc_at(c, depth);
        if (kTable[a][b][0] == 'D') {
          double *r, *i;
          ASSERT_EQ(stk_get_double_array(c, depth, nullptr, nullptr, nullptr, &r, &i), kOk);
          re = *r;
          im = i ? *i : 0;
        } else if (kTable[a][b][0] == 'S') {
          float *r, *i;
          ASSERT_EQ(stk_get_single_array(c, depth, nullptr, nullptr, nullptr, &r, &i), kOk);
          re = *r;
          im = i ? *i : 0;
        } else {
          int32_t v;
          ASSERT_EQ(stk_get_int(c, depth, &v), kOk);
          re = v;
          EXPECT_EQ(d[2], kPayNumeric);  // chars and logicals become numbers
        }
        EXPECT_EQ(re, cls == kLgl ? 1 : 3);
        EXPECT_EQ(im, cls == kCpx ? 4 : 0);
      }
      EXPECT_TRUE(check_stack_invariants(c));
      stk_drop(c);
      stk_drop(c);
    }
  }
}

TEST_F(Convert, PromotionOfManyOperandsIsAllOrNothing) {
  push_class(c, kI8, -1);
  push_class(c, kU8, 200);
  push_class(c, kI16, -2);
  ASSERT_EQ(stk_promote_args(c, 3), kOk);
  int32_t v;
  ASSERT_EQ(stk_get_int(c, 2, &v), kOk);
  EXPECT_EQ(v, -1);
  ASSERT_EQ(stk_get_int(c, 1, &v), kOk);
  EXPECT_EQ(v, 200);
  EXPECT_EQ(class_of(c, 1), "i2");
  stk_drop(c);
  stk_drop(c);
  stk_drop(c);

  // A structure among the operands: an error, and nothing converted.
  push_class(c, kI8);
  push_class(c, kDbl);
  stk_claim(c, kKindContainer, 0, kContStruct, 0);
  push_class(c, kU16);
  StackSnapshot before = snapshot_stacks(c);
  EXPECT_EQ(stk_promote_args(c, 4), kWrongType);
  EXPECT_TRUE(snapshot_stacks(c) == before);
  stk_drop(c);
  stk_drop(c);

  // No room for the second widened operand: nothing converted either.
  while (c->desc_top) stk_drop(c);
  int32_t eight[] = {1, 8};
  void* d;
  ASSERT_EQ(stk_push_typed_array(c, 2, eight, 1, 0, &d), kOk);  // 3 words, 10 as int64
  ASSERT_EQ(stk_push_typed_array(c, 2, eight, 1, 1, &d), kOk);
  push_class(c, kI64);
  t.set_capacity(c->data_top + 17, 1000);  // room for one widened row, not two
  before = snapshot_stacks(c);
  EXPECT_EQ(stk_promote_args(c, 3), kDataStackOverflow);
  EXPECT_TRUE(snapshot_stacks(c) == before);
  t.set_capacity(c->data_top + 18, 1000);
  ASSERT_EQ(stk_promote_args(c, 3), kOk);
  EXPECT_EQ(class_of(c, 2), "i8");
  EXPECT_EQ(class_of(c, 1), "i8");
  EXPECT_TRUE(check_stack_invariants(c));
}

struct IntConv {
  const char* name;
  int cls;
  double value;
  int size, uns, check;
  int status;
  int64_t expect;  // the stored bits, sign-extended
};

TEST_F(Convert, ToIntegerTable) {
  const double kNaN = std::nan("");
  const IntConv cases[] = {
      {"300.7 wraps", kDbl, 300.7, 1, 0, 0, kOk, 44},
      {"300.7 checked: integrality is tested first", kDbl, 300.7, 1, 0, 1, kNonIntegerArg, 0},
      {"300 checked", kDbl, 300, 1, 0, 1, kArgOutOfRange, 0},
      {"Inf checked", kDbl, HUGE_VAL, 2, 1, 1, kArgOutOfRange, 0},
      {"2.5 checked", kDbl, 2.5, 1, 0, 1, kNonIntegerArg, 0},
      {"NaN checked", kDbl, kNaN, 4, 0, 1, kArgOutOfRange, 0},
      {"NaN unchecked", kDbl, kNaN, 4, 0, 0, kOk, 0},
      {"-1.5 to uint8", kDbl, -1.5, 1, 1, 0, kOk, -1},
      {"-1 checked to uint8", kDbl, -1, 1, 1, 1, kArgOutOfRange, 0},
      {"255 checked to uint8", kDbl, 255, 1, 1, 1, kOk, -1},
      {"-128 checked to int8", kDbl, -128, 1, 0, 1, kOk, -128},
      {"128 checked to int8", kDbl, 128, 1, 0, 1, kArgOutOfRange, 0},
      {"1e20 unchecked", kDbl, 1e20, 1, 0, 0, kOk, 0},
      {"2^63 to uint64", kDbl, 9223372036854775808.0, 8, 1, 1, kOk, INT64_MIN},
      {"2^64 to uint64", kDbl, 18446744073709551616.0, 8, 1, 1, kArgOutOfRange, 0},
      {"-2^63 to int64", kDbl, -9223372036854775808.0, 8, 0, 1, kOk, INT64_MIN},
      {"2^63 to int64", kDbl, 9223372036854775808.0, 8, 0, 1, kArgOutOfRange, 0},
      {"1e19 to uint64 directly", kDbl, 1e19, 8, 1, 0, kOk, static_cast<int64_t>(10000000000000000000u)},
      {"1e19 to int64: the indefinite pattern", kDbl, 1e19, 8, 0, 0, kOk, INT64_MIN},
      {"1e19 to uint32: the pattern's low bits", kDbl, 1e19, 4, 1, 0, kOk, 0},
      {"complex: real part", kCpx, 7, 2, 0, 1, kOk, 7},
      {"single 70000 to int16", kSgl, 70000, 2, 0, 0, kOk, 70000 - 65536},
      {"single 1.25 checked", kSgl, 1.25, 2, 0, 1, kNonIntegerArg, 0},
      {"int16 -2 to uint8", kI16, -2, 1, 1, 0, kOk, -2},
      {"int16 -2 checked to uint8", kI16, -2, 1, 1, 1, kArgOutOfRange, 0},
      {"int16 -2 to uint16 keeps bits", kI16, -2, 2, 1, 1, kOk, -2},
      {"uint8 200 to int64", kU8, 200, 8, 0, 1, kOk, 200},
      {"uint32 to int32 keeps bits", kU32, 4294967295.0, 4, 0, 1, kOk, -1},
      {"char 300 checked to int8", kChr, 300, 1, 0, 1, kArgOutOfRange, 0},
      {"logical to uint8", kLgl, 1, 1, 1, 1, kOk, 1},
      {"bad element size", kDbl, 1, 3, 0, 0, kWrongType, 0},
  };
  for (const IntConv& k : cases) {
    SCOPED_TRACE(k.name);
    push_class(c, kDbl, 99);  // a neighbour below
    push_class(c, k.cls, k.value);
    push_class(c, kDbl, 11);  // and one above: the result goes to depth 1
    StackSnapshot before = snapshot_stacks(c);
    ASSERT_EQ(stk_convert_to_int(c, 1, k.size, k.uns, k.check), k.status);
    if (k.status != kOk) {
      EXPECT_TRUE(snapshot_stacks(c) == before);
    } else {
      EXPECT_EQ(class_of(c, 1), std::string(k.uns ? "u" : "i") + std::to_string(k.size));
      EXPECT_EQ(desc_at(c, 1)[2], kPayNumeric);
      void* d;
      ASSERT_EQ(stk_get_typed_array(c, 1, nullptr, nullptr, nullptr, nullptr, nullptr, &d), kOk);
      int64_t bits = 0;
      std::memcpy(&bits, d, k.size);
      bits = (bits << (64 - 8 * k.size)) >> (64 - 8 * k.size);
      EXPECT_EQ(bits, k.expect);
      double v;
      ASSERT_EQ(stk_get_real_scalar(c, 0, &v), kOk);
      EXPECT_EQ(v, 11);
      ASSERT_EQ(stk_get_real_scalar(c, 2, &v), kOk);
      EXPECT_EQ(v, 99);
      EXPECT_TRUE(check_stack_invariants(c));
    }
    while (c->desc_top) stk_drop(c);
  }
}

TEST_F(Convert, LogicalConditionAndBoolAgreeExceptOnNaN) {
  // Pinned on purpose: NaN is true in a condition, false in logical and bool.
  ASSERT_EQ(stk_push_nan(c), kOk);
  uint8_t b;
  ASSERT_EQ(stk_test_condition(c, 0, &b), kOk);
  EXPECT_EQ(b, 1);
  ASSERT_EQ(stk_get_bool(c, 0, &b), kOk);
  EXPECT_EQ(b, 0);
  ASSERT_EQ(stk_convert_to_logical(c, 0), kOk);
  ASSERT_EQ(stk_pop_condition(c, &b), kOk);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(c->desc_top, 0);

  struct Cond {
    const char* name;
    std::function<void(EngineContext*)> build;
    int status;
    uint8_t truth;
  } cases[] = {
      {"[]", [](EngineContext* c) { stk_push_empty(c); }, kOk, 0},
      {"[1 NaN]", [](EngineContext* c) {
         double* re;
         stk_push_matrix(c, 1, 2, &re, nullptr);
         re[0] = 1, re[1] = NAN;
       }, kOk, 1},
      {"[1 0]", [](EngineContext* c) {
         double* re;
         stk_push_matrix(c, 1, 2, &re, nullptr);
         re[0] = 1, re[1] = 0;
       }, kOk, 0},
      {"0+1i", [](EngineContext* c) { stk_push_complex(c, 0, 1); }, kOk, 1},
      {"single NaN", [](EngineContext* c) { push_class(c, kSgl, NAN); }, kOk, 1},
      {"int64 high half", [](EngineContext* c) { push_class(c, kI64, 4294967296.0); }, kOk, 1},
      {"char 0", [](EngineContext* c) { push_class(c, kChr, 0); }, kOk, 0},
      {"empty char", [](EngineContext* c) { stk_push_cstr(c, 0, ""); }, kOk, 0},
      {"structure", [](EngineContext* c) { stk_claim(c, kKindContainer, 0, kContStruct, 0); }, kWrongTypeForBool, 0},
      {"function reference", [](EngineContext* c) { stk_push_raw(c, kPayFuncRef, 8, nullptr); },
       kWrongTypeForBool, 0},
  };
  for (const Cond& k : cases) {
    SCOPED_TRACE(k.name);
    k.build(c);
    StackSnapshot before = snapshot_stacks(c);
    b = 9;
    ASSERT_EQ(stk_pop_condition(c, &b), k.status);
    if (k.status == kOk) {
      EXPECT_EQ(b, k.truth);
      EXPECT_EQ(c->desc_top, 0);
    } else {
      EXPECT_TRUE(snapshot_stacks(c) == before);
      stk_drop(c);
    }
  }
}

// Argument-check cases: the arguments (first deepest) and the results.
struct ArgCase {
  const char* spec;
  std::vector<int> args;  // classes, or kStruct / kObject / kList / kFunc / kRow / kIntRow
  int status;
};
enum { kStruct = 100, kObject, kLibObject, kList, kFunc, kRow, kIntRow, kHalf, kCell };

void push_arg(EngineContext* c, int a) {
  double* re;
  switch (a) {
    case kStruct: stk_claim(c, kKindContainer, 0, kContStruct, 0); return;
    case kObject: stk_claim(c, kKindContainer, 0, static_cast<uint32_t>(-3), 0); return;
    case kLibObject: stk_push_raw(c, kPayFirstClass + 128, 8, nullptr); return;
    case kList: stk_claim(c, kKindContainer, 0, kContList, 0); return;
    case kCell: stk_claim(c, kKindContainer, 0, kContCell, 0); return;
    case kFunc: stk_push_raw(c, kPayFuncRef, 8, nullptr); return;
    case kHalf: stk_push_real(c, 2.5); return;
    case kRow:
    case kIntRow:
      stk_push_matrix(c, 1, 3, &re, nullptr);
      re[0] = 1, re[1] = 2, re[2] = a == kRow ? 3.5 : 3;
      return;
    default: push_class(c, a);
  }
}

TEST_F(Convert, ArgumentCheckBySpecLetters) {
  const ArgCase cases[] = {
      {"rS", {kHalf, kChr}, kOk},
      {"rS", {kHalf}, kWrongArgType},  // the string outlasts the arguments
      {"r[S", {kHalf}, kOk},
      {"r[", {kHalf}, kOk},
      {"r*", {kHalf}, kOk},
      {"r+", {kHalf}, kOk},
      {"i", {kDbl}, kOk},
      {"i", {kHalf}, kWrongArgType},
      {"I", {kIntRow}, kOk},
      {"I", {kRow}, kWrongArgType},
      {"r+", {kDbl, kHalf, kDbl, kDbl}, kOk},
      {"r+", {kDbl, kHalf, kChr, kDbl}, kWrongArgType},
      {"r", {kDbl, kChr, kStruct}, kOk},  // further arguments unchecked
      {"*", {kObject, kFunc}, kOk},
      {"?a", {kObject, kCpx}, kWrongArgType},
      {"?A", {kObject, kCpx}, kOk},
      {"cC", {kCpx, kRow}, kOk},
      {"c", {kRow}, kWrongArgType},
      {"R", {kCpx}, kWrongArgType},
      {"bB", {kSgl, kSgl}, kOk},
      {"a", {kSgl}, kWrongArgType},
      {"L", {kLgl}, kOk},
      {"L", {kU8}, kWrongArgType},
      {"sS", {kChr, kChr}, kOk},
      {"j", {kChr}, kOk},
      {"j", {kDbl}, kWrongArgType},
      {"f", {kFunc}, kOk},
      {"lt", {kList, kStruct}, kOk},
      {"l", {kCell}, kWrongArgType},
      {"x", {kDbl}, kWrongArgType},  // no such letter
      {"+", {kDbl}, kWrongArgType},  // nothing to repeat
      {"[", {}, kOk},
      {"r", {}, kWrongArgType},
      {"", {kDbl}, kOk},
  };
  for (const ArgCase& k : cases) {
    SCOPED_TRACE(k.spec);
    for (int a : k.args) push_arg(c, a);
    EXPECT_EQ(stk_argcheck(c, static_cast<int>(k.args.size()), k.spec), k.status);
    while (c->desc_top) stk_drop(c);
  }
  // Without a spec only objects are refused.
  const ArgCase plain[] = {
      {nullptr, {kStruct, kList, kCell, kDbl, kFunc}, kOk},
      {nullptr, {kDbl, kObject}, kWrongArgType},
      {nullptr, {kLibObject, kDbl}, kWrongArgType},
  };
  for (const ArgCase& k : plain) {
    for (int a : k.args) push_arg(c, a);
    EXPECT_EQ(stk_argcheck(c, static_cast<int>(k.args.size()), nullptr), k.status);
    while (c->desc_top) stk_drop(c);
  }
}

}  // namespace

namespace {

// Random conversions at random depths against a model of the stack: every
// item's class and values must match after each step.
struct ModelItem {
  char cls;  // 'D' double row, 'I' integer row, 'L' logical row
  int size = 8;
  bool uns = false;
  std::vector<int64_t> values;
};

int64_t wrap(int64_t v, int size, bool uns) {
  int shift = 64 - 8 * size;
  auto u = static_cast<uint64_t>(v) << shift;
  return uns ? static_cast<int64_t>(u >> shift) : static_cast<int64_t>(u) >> shift;
}

void expect_matches(EngineContext* c, const std::vector<ModelItem>& model) {
  ASSERT_EQ(stk_item_count(c), static_cast<int>(model.size()));
  ASSERT_TRUE(check_stack_invariants(c));
  for (size_t k = 0; k < model.size(); ++k) {
    const ModelItem& m = model[k];
    int depth = static_cast<int>(model.size() - 1 - k);
    SCOPED_TRACE(depth);
    std::vector<int64_t> got;
    if (m.cls == 'D') {
      double* re;
      int64_t n;
      ASSERT_EQ(stk_get_double_array(c, depth, nullptr, nullptr, &n, &re, nullptr), kOk);
      for (int64_t i = 0; i < n; ++i) got.push_back(static_cast<int64_t>(re[i]));
    } else {
      EXPECT_EQ(stk_is_logical(c, depth) != 0, m.cls == 'L');
      uint8_t* d;
      int64_t n;
      int size, uns;
      ASSERT_EQ(stk_get_typed_array(c, depth, nullptr, nullptr, &n, &size, &uns, reinterpret_cast<void**>(&d)), kOk);
      EXPECT_EQ(size, m.size);
      EXPECT_EQ(uns != 0, m.uns);
      for (int64_t i = 0; i < n; ++i) {
        int64_t v = 0;
        std::memcpy(&v, d + i * size, size);
        got.push_back(wrap(v, size, uns));
      }
    }
    EXPECT_EQ(got, m.values);
  }
}

TEST(ConvertRandom, ConversionsAtRandomDepthsMatchAModel) {
  TestContext t = make_test_context(1 << 18);
  EngineContext* c = t.ctx();
  std::vector<ModelItem> model;
  uint32_t seed = 12345;
  auto next = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  const int sizes[] = {1, 2, 4, 8};
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    uint32_t op = model.size() < 3 ? 0 : next(model.size() > 12 ? 6 : 7);
    int depth = model.empty() ? 0 : static_cast<int>(next(static_cast<uint32_t>(model.size())));
    ModelItem* m = model.empty() ? nullptr : &model[model.size() - 1 - depth];
    switch (op) {
      case 0:
      case 6: {  // push a double row of small integers (or empty)
        ModelItem item{'D', 8, false, {}};
        int n = static_cast<int>(next(6));
        double* re;
        ASSERT_EQ(stk_push_matrix(c, 1, n, &re, nullptr), kOk);
        for (int i = 0; i < n; ++i) {
          item.values.push_back(static_cast<int64_t>(next(401)) - 200);
          re[i] = static_cast<double>(item.values.back());
        }
        model.push_back(item);
        break;
      }
      case 1: {  // to an integer type, wrapping
        int size = sizes[next(4)];
        bool uns = next(2) && size < 8;  // wrapped uint64 values leave the model's int64
        ASSERT_EQ(stk_convert_to_int(c, depth, size, uns, 0), kOk);
        for (int64_t& v : m->values) v = wrap(v, size, uns);
        *m = ModelItem{'I', size, uns, m->values};
        break;
      }
      case 2: {  // to double
        int changed;
        ASSERT_EQ(stk_convert_to_double(c, depth, 0, &changed), kOk);
        EXPECT_EQ(changed, m->cls != 'D');
        m->cls = 'D';
        break;
      }
      case 3: {  // to logical
        ASSERT_EQ(stk_convert_to_logical(c, depth), kOk);
        for (int64_t& v : m->values) v = v != 0;
        *m = ModelItem{'L', 1, true, m->values};
        break;
      }
      case 4: {  // promote the top items to one type
        int n = 1 + static_cast<int>(next(static_cast<uint32_t>(std::min<size_t>(model.size(), 4))));
        bool any_double = false;
        int size = 1;
        bool uns = false;
        for (int k = 0; k < n; ++k) {
          const ModelItem& o = model[model.size() - 1 - k];
          if (o.cls == 'D') {
            any_double = true;
          } else if (o.size > size) {
            size = o.size, uns = o.uns;
          } else if (o.size == size && o.uns) {
            uns = true;
          }
        }
        ASSERT_EQ(stk_promote_args(c, n), kOk);
        for (int k = 0; k < n; ++k) {
          ModelItem& o = model[model.size() - 1 - k];
          if (any_double) {
            o.cls = 'D';
          } else {
            for (int64_t& v : o.values) v = wrap(v, size, uns);
            o = ModelItem{'I', size, uns, o.values};
          }
        }
        break;
      }
      case 5:  // pop
        stk_drop(c);
        model.pop_back();
        break;
    }
    expect_matches(c, model);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
