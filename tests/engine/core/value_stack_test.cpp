// Value-stack pushers and getters: every kind of item at the exact capacity
// limits, the shape rules, the scalar readers and a block that moves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"

namespace {

constexpr uint32_t kLots = 1u << 20;

class ValueStack : public ::testing::Test {
 protected:
  TestContext t = make_test_context(1 << 16);
  EngineContext* c = t.ctx();
};

// One pusher: the data words its item takes (an independent count from the
// layout rules), whether its test keeps a spare word, and a read-back check.
struct PushCase {
  const char* name;
  int64_t words;
  bool spare;
  int desc_status;
  std::function<int(EngineContext*)> push;
  std::function<void(EngineContext*)> check;
};

template <typename T>
void fill(T* p, int64_t n, double start) {
  for (int64_t i = 0; i < n; ++i) p[i] = static_cast<T>(start + i);
}

void expect_dims(EngineContext* c, std::vector<uint32_t> dims, int64_t count) {
  int nd;
  const uint32_t* dp;
  int64_t n;
  ASSERT_EQ(stk_get_array_info(c, 0, &nd, &dp, &n), kOk);
  EXPECT_EQ(std::vector<uint32_t>(dp, dp + nd), dims);
  EXPECT_EQ(n, count);
}

std::vector<PushCase> push_cases() {
  auto matrix_check = [](int32_t r, int32_t k, bool cplx) {
    return [=](EngineContext* c) {
      int32_t rows, cols;
      double *re, *im;
      ASSERT_EQ(stk_get_matrix(c, 0, &rows, &cols, &re, &im), kOk);
      EXPECT_EQ(rows, r);
      EXPECT_EQ(cols, k);
      EXPECT_EQ(im != nullptr, cplx);
      for (int i = 0; i < r * k; ++i) EXPECT_EQ(re[i], i);
      if (cplx) {
        EXPECT_EQ(im[r * k - 1], 100 + r * k - 1);
      }
    };
  };
  auto typed = [](int nd, std::vector<int32_t> dims, int size, int uns) {
    return [=](EngineContext* c) {
      void* d;
      int st = stk_push_typed_array(c, nd, dims.data(), size, uns, &d);
      if (st == kOk) std::memset(d, 0x5a, 1);
      return st;
    };
  };
  auto typed_check = [](std::vector<uint32_t> dims, int64_t count, int size, int uns) {
    return [=](EngineContext* c) {
      int s, u;
      void* d;
      ASSERT_EQ(stk_get_typed_array(c, 0, nullptr, nullptr, nullptr, &s, &u, &d), kOk);
      EXPECT_EQ(s, size);
      EXPECT_EQ(u, uns);
      EXPECT_EQ(*static_cast<uint8_t*>(d), 0x5a);
      expect_dims(c, dims, count);
    };
  };
  return {
      {"real scalar", 1, true, kStackOverflow, [](EngineContext* c) { return stk_push_real(c, 2.5); },
       [](EngineContext* c) {
         double v;
         ASSERT_EQ(stk_get_real_scalar(c, 0, &v), kOk);
         EXPECT_EQ(v, 2.5);
       }},
      {"complex scalar", 2, true, kStackOverflow,
       [](EngineContext* c) { return stk_push_complex(c, 1, -2); },
       [](EngineContext* c) {
         double re, im;
         ASSERT_EQ(stk_pop_complex_scalar(c, &re, &im), kOk);
         EXPECT_EQ(re, 1);
         EXPECT_EQ(im, -2);
         ASSERT_EQ(stk_push_complex(c, 1, -2), kOk);  // put it back for the drop
       }},
      {"real matrix", 6, false, kStackOverflow,
       [](EngineContext* c) {
         double* re;
         int st = stk_push_matrix(c, 2, 3, &re, nullptr);
         if (st == kOk) fill(re, 6, 0);
         return st;
       },
       matrix_check(2, 3, false)},
      {"complex matrix", 12, false, kStackOverflow,
       [](EngineContext* c) {
         double *re, *im;
         int st = stk_push_matrix(c, 2, 3, &re, &im);
         if (st == kOk) fill(re, 6, 0), fill(im, 6, 100);
         return st;
       },
       matrix_check(2, 3, true)},
      {"complex zeros", 24, false, kDataStackOverflow,
       [](EngineContext* c) { return stk_push_zeros(c, 3, 4, 1); },
       [](EngineContext* c) {
         double *re, *im;
         ASSERT_EQ(stk_get_matrix(c, 0, nullptr, nullptr, &re, &im), kOk);
         for (int i = 0; i < 12; ++i) EXPECT_EQ(re[i] + im[i], 0);
       }},
      {"double 2x3x2", 15, true, kStackOverflow,
       [](EngineContext* c) {
         int32_t dims[] = {2, 3, 2};
         double* re;
         int st = stk_push_double_nd(c, 3, dims, &re, nullptr);
         if (st == kOk) fill(re, 12, 0);
         return st;
       },
       [](EngineContext* c) {
         double *re, *im;
         ASSERT_EQ(stk_get_double_array(c, 0, nullptr, nullptr, nullptr, &re, &im), kOk);
         EXPECT_EQ(im, nullptr);
         EXPECT_EQ(re[11], 11);
         expect_dims(c, {2, 3, 2}, 12);
       }},
      {"complex double 2x2x2", 19, true, kStackOverflow,
       [](EngineContext* c) {
         int32_t dims[] = {2, 2, 2};
         double *re, *im;
         int st = stk_push_double_nd(c, 3, dims, &re, &im);
         if (st == kOk) fill(re, 8, 0), fill(im, 8, 100);
         return st;
       },
       [](EngineContext* c) {
         double *re, *im;
         ASSERT_EQ(stk_get_double_array(c, 0, nullptr, nullptr, nullptr, &re, &im), kOk);
         EXPECT_EQ(im - re, 8);
         EXPECT_EQ(im[7], 107);
       }},
      {"single 3x1", 4, true, kStackOverflow,
       [](EngineContext* c) {
         int32_t dims[] = {3};
         float* re;
         int st = stk_push_single_nd(c, 1, dims, &re, nullptr);
         if (st == kOk) fill(re, 3, 1);
         return st;
       },
       [](EngineContext* c) {
         float *re, *im;
         ASSERT_EQ(stk_get_single_array(c, 0, nullptr, nullptr, nullptr, &re, &im), kOk);
         EXPECT_EQ(re[2], 3.0f);
         EXPECT_EQ(im, nullptr);
         expect_dims(c, {3, 1}, 3);
       }},
      {"int8 5x1", 3, true, kStackOverflow, typed(1, {5}, 1, 0), typed_check({5, 1}, 5, 1, 0)},
      {"uint64 1x3x1x1", 5, true, kStackOverflow, typed(4, {1, 3, 1, 1}, 8, 1), typed_check({1, 3}, 3, 8, 1)},
      {"char 2x2x2", 5, true, kStackOverflow,
       [](EngineContext* c) {
         int32_t dims[] = {2, 2, 2};
         uint16_t* d;
         int st = stk_push_char_array(c, 3, dims, &d);
         if (st == kOk) fill(d, 8, 'a');
         return st;
       },
       [](EngineContext* c) { EXPECT_TRUE(stk_is_char(c, 0)); expect_dims(c, {2, 2, 2}, 8); }},
      {"char row", 4, true, kStackOverflow,
       [](EngineContext* c) {
         uint16_t* d;
         int st = stk_push_char_row(c, 7, &d);
         if (st == kOk) fill(d, 7, 'a');
         return st;
       },
       [](EngineContext* c) {
         char buf[8];
         ASSERT_EQ(stk_get_string_buf(c, 0, buf, 8, nullptr), kOk);
         EXPECT_STREQ(buf, "abcdefg");
       }},
      {"logical 4x1", 3, true, kStackOverflow,
       [](EngineContext* c) {
         int32_t dims[] = {4};
         uint8_t* d;
         int st = stk_push_logical_array(c, 1, dims, &d);
         if (st == kOk) fill(d, 4, 0);
         return st;
       },
       [](EngineContext* c) { EXPECT_TRUE(stk_is_logical(c, 0)); expect_dims(c, {4, 1}, 4); }},
      {"raw 13 bytes", 2, true, kStackOverflow,
       [](EngineContext* c) { void* d; return stk_push_raw(c, 9, 13, &d); },
       [](EngineContext* c) {
         EXPECT_EQ(desc_at(c, 0)[2], 9u);
         EXPECT_EQ(item_data(c, 0)[1], 0u);  // padding
       }},
      {"empty", 0, false, kStackOverflow, stk_push_empty, [](EngineContext* c) { expect_dims(c, {0, 0}, 0); }},
      {"no value", 0, false, kStackOverflow, stk_push_no_value,
       [](EngineContext* c) { EXPECT_EQ(desc_at(c, 0)[0], kKindNoValue); }},
      {"marker", 0, false, kStackOverflow, [](EngineContext* c) { return stk_push_marker(c, -7); },
       [](EngineContext* c) {
         int32_t tag;
         EXPECT_TRUE(stk_is_marker(c, 0, &tag));
         EXPECT_EQ(tag, -7);
       }},
  };
}

TEST_F(ValueStack, EveryKindAtItsExactCapacityLimits) {
  // Something below, so that the limits are not measured from zero.
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  ASSERT_EQ(stk_push_cstr(c, -1, "below"), kOk);
  const int32_t data0 = c->data_top, desc0 = c->desc_top;
  for (const PushCase& pc : push_cases()) {
    SCOPED_TRACE(pc.name);
    int64_t need = pc.words + (pc.spare ? 1 : 0);
    t.set_capacity(static_cast<uint32_t>(data0 + need), kLots);
    ASSERT_EQ(pc.push(c), kOk);
    EXPECT_EQ(c->data_top, data0 + pc.words);
    EXPECT_TRUE(check_stack_invariants(c));
    pc.check(c);
    stk_drop(c);
    EXPECT_EQ(c->data_top, data0);
    if (need > 0) {
      t.set_capacity(static_cast<uint32_t>(data0 + need - 1), kLots);
      StackSnapshot before = snapshot_stacks(c);
      EXPECT_EQ(pc.push(c), kDataStackOverflow);
      EXPECT_TRUE(snapshot_stacks(c) == before);
    }
    t.set_capacity(kLots, desc0 + 3);
    StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(pc.push(c), pc.desc_status);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    t.set_capacity(kLots, desc0 + 4);
    ASSERT_EQ(pc.push(c), kOk);
    stk_drop(c);
    EXPECT_TRUE(check_stack_invariants(c));
  }
}

TEST_F(ValueStack, ShapeRulesAndEmptyValues) {
  double *re, *im = reinterpret_cast<double*>(1);
  ASSERT_EQ(stk_push_zeros(c, 0, 5, 1), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  expect_dims(c, {0, 0}, 0);
  ASSERT_EQ(stk_push_matrix(c, 3, 0, &re, &im), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  EXPECT_EQ(im, nullptr);
  expect_dims(c, {0, 0}, 0);
  ASSERT_EQ(stk_push_complex(c, 1, 0), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  ASSERT_EQ(stk_push_complex(c, 1, NAN), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);

  int32_t flat[] = {2, 3, 1, 1};
  ASSERT_EQ(stk_push_double_nd(c, 4, flat, &re, nullptr), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  expect_dims(c, {2, 3}, 6);
  int32_t deep[] = {2, 3, 2};
  ASSERT_EQ(stk_push_double_nd(c, 3, deep, &re, nullptr), kOk);
  EXPECT_EQ(desc_at(c, 0)[2], kPayNumeric);
  expect_dims(c, {2, 3, 2}, 12);
  int32_t with_zero[] = {0, 7};
  void* d;
  ASSERT_EQ(stk_push_typed_array(c, 2, with_zero, 4, 0, &d), kOk);
  expect_dims(c, {0, 0}, 0);
  int32_t negative[] = {3, -2, 4};
  ASSERT_EQ(stk_push_typed_array(c, 3, negative, 2, 0, &d), kOk);
  expect_dims(c, {0, 0}, 0);
  ASSERT_EQ(stk_push_typed_array(c, 0, nullptr, 8, 1, &d), kOk);
  expect_dims(c, {1, 1}, 1);
  ASSERT_EQ(stk_push_char_row(c, 0, nullptr), kOk);
  expect_dims(c, {0, 0}, 0);
  EXPECT_TRUE(check_stack_invariants(c));
}

TEST_F(ValueStack, SizeLimitsAreTestedInSixtyFourBits) {
  void* d;
  double *re, *im;
  StackSnapshot before = snapshot_stacks(c);
  int32_t too_many[] = {100000001};
  EXPECT_EQ(stk_push_typed_array(c, 1, too_many, 1, 0, &d), kDataStackOverflow);
  int32_t wraps32[] = {65536, 65536};  // the 32-bit product is 0
  EXPECT_EQ(stk_push_typed_array(c, 2, wraps32, 1, 0, &d), kDataStackOverflow);
  int32_t limit[] = {10000, 10000};
  t.set_capacity(kLots, kLots);
  EXPECT_EQ(stk_push_typed_array(c, 2, limit, 1, 0, &d), kDataStackOverflow);  // fits no stack here
  int32_t size3[] = {2, 2};
  EXPECT_EQ(stk_push_typed_array(c, 2, size3, 3, 0, &d), kWrongType);
  int32_t nd_big[] = {2048, 2048, 256};  // 2^30 elements
  EXPECT_EQ(stk_push_double_nd(c, 3, nd_big, &re, nullptr), kObjectTooLarge);
  EXPECT_EQ(stk_push_single_nd(c, 3, nd_big, nullptr, nullptr), kObjectTooLarge);
  int32_t nd_wrap[] = {65536, 65536, 2};
  EXPECT_EQ(stk_push_double_nd(c, 3, nd_wrap, &re, nullptr), kObjectTooLarge);
  // A matrix this large is refused before the descriptor is looked at.
  t.set_capacity(kLots, 0);
  EXPECT_EQ(stk_push_matrix(c, 46341, 46341, &re, nullptr), kDataStackOverflow);
  EXPECT_EQ(stk_push_matrix(c, 32768, 32768, &re, &im), kDataStackOverflow);  // doubled
  EXPECT_EQ(stk_push_matrix(c, 1, 1, &re, nullptr), kStackOverflow);
  EXPECT_TRUE(snapshot_stacks(c) == before);
}

// Builds one value at the top; the tables below use these by name.
using Builder = std::function<void(EngineContext*)>;

Builder real(double v) {
  return [=](EngineContext* c) { ASSERT_EQ(stk_push_real(c, v), kOk); };
}
Builder cplx(double re, double im) {
  return [=](EngineContext* c) { ASSERT_EQ(stk_push_complex(c, re, im), kOk); };
}
Builder row(std::vector<double> v) {
  return [=](EngineContext* c) {
    double* re;
    ASSERT_EQ(stk_push_matrix(c, 1, static_cast<int32_t>(v.size()), &re, nullptr), kOk);
    std::copy(v.begin(), v.end(), re);
  };
}
template <typename T>
Builder int_scalar(T v) {
  return [=](EngineContext* c) {
    void* d;
    ASSERT_EQ(stk_push_typed_array(c, 0, nullptr, sizeof(T), std::is_unsigned_v<T>, &d), kOk);
    std::memcpy(d, &v, sizeof v);
  };
}
Builder single(float v) {
  return [=](EngineContext* c) {
    float* re;
    ASSERT_EQ(stk_push_single_nd(c, 0, nullptr, &re, nullptr), kOk);
    *re = v;
  };
}

struct IntCase {
  const char* name;
  Builder build;
  int status;
  int32_t value;
};

TEST_F(ValueStack, GetIntOverEveryKind) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const IntCase cases[] = {
      {"3.0", real(3), kOk, 3},
      {"-2^31", real(-2147483648.0), kOk, INT32_MIN},
      {"2^31", real(2147483648.0), kArgOutOfRange, 0},
      {"2.5", real(2.5), kNonIntegerArg, 0},
      {"1e10", real(1e10), kArgOutOfRange, 0},
      {"Inf", real(HUGE_VAL), kArgOutOfRange, 0},
      {"NaN", real(kNaN), kArgOutOfRange, 0},
      {"2+1i", cplx(2, 1), kWrongType, 0},
      {"1x2", row({1, 2}), kNonScalarArg, 0},
      {"empty", row({}), kNonScalarArg, 0},
      {"single 7", single(7), kOk, 7},
      {"single 0.5", single(0.5f), kNonIntegerArg, 0},
      {"int8 -5", int_scalar<int8_t>(-5), kOk, -5},
      {"uint8 200", int_scalar<uint8_t>(200), kOk, 200},
      {"uint16 65535", int_scalar<uint16_t>(65535), kOk, 65535},
      {"int32 min", int_scalar<int32_t>(INT32_MIN), kOk, INT32_MIN},
      {"uint32 3e9", int_scalar<uint32_t>(3000000000u), kArgOutOfRange, 0},
      {"int64 -9", int_scalar<int64_t>(-9), kOk, -9},
      {"int64 2^32+1", int_scalar<int64_t>((int64_t{1} << 32) + 1), kArgOutOfRange, 0},
      {"uint64 max", int_scalar<uint64_t>(~uint64_t{0}), kArgOutOfRange, 0},
      {"char A", [](EngineContext* c) { ASSERT_EQ(stk_push_cstr(c, 1, "A"), kOk); }, kOk, 65},
      {"logical", [](EngineContext* c) { ASSERT_EQ(stk_push_logical_scalar(c, 1), kOk); }, kOk, 1},
      {"marker", [](EngineContext* c) { ASSERT_EQ(stk_push_marker(c, 1), kOk); }, kWrongType, 0},
  };
  for (const IntCase& k : cases) {
    SCOPED_TRACE(k.name);
    k.build(c);
    StackSnapshot before = snapshot_stacks(c);
    int32_t v = 0;
    EXPECT_EQ(stk_get_int(c, 0, &v), k.status);
    EXPECT_EQ(v, k.value);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    EXPECT_EQ(stk_pop_int(c, &v), k.status);
    if (k.status != kOk) stk_drop(c);
    EXPECT_EQ(c->desc_top, 0);
  }
}

TEST_F(ValueStack, BoolAndScalarReaders) {
  struct BoolCase {
    const char* name;
    Builder build;
    int status;
    uint8_t value;
  } cases[] = {
      {"NaN is false", real(NAN), kOk, 0},
      {"0+1i", cplx(0, 1), kOk, 1},
      {"NaN+0i", cplx(NAN, 0), kOk, 0},
      {"-0.0", real(-0.0), kOk, 0},
      {"int64 high half", int_scalar<int64_t>(int64_t{1} << 40), kOk, 1},
      {"uint8 0", int_scalar<uint8_t>(0), kOk, 0},
      {"single NaN", single(NAN), kOk, 0},
      {"1x2", row({1, 1}), kWrongType, 0},
      {"no value", [](EngineContext* c) { ASSERT_EQ(stk_push_no_value(c), kOk); }, kWrongType, 0},
      {"unknown element size",
       [](EngineContext* c) {
         void* d;
         ASSERT_EQ(stk_push_raw(c, kPayNumeric, 24, &d), kOk);
         uint32_t hdr[] = {3, 2, 1, 1};  // element type 3: no such size
         std::memcpy(d, hdr, sizeof hdr);
       },
       kNotSupported, 0},
  };
  for (const BoolCase& k : cases) {
    SCOPED_TRACE(k.name);
    k.build(c);
    uint8_t v = 9;
    ASSERT_EQ(stk_get_bool(c, 0, &v), k.status);
    if (k.status == kOk) {
      EXPECT_EQ(v, k.value);
    }
    stk_drop(c);
  }
  double v;
  cplx(3, 0)(c);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  EXPECT_EQ(stk_pop_real_scalar(c, &v), kOk);
  EXPECT_EQ(v, 3);
  cplx(3, 1)(c);
  EXPECT_EQ(stk_pop_real_scalar(c, &v), kWrongType);
  row({1, 2})(c);
  EXPECT_EQ(stk_get_real_scalar(c, 0, &v), kNonScalarArg);
  EXPECT_EQ(stk_pop_complex_scalar(c, &v, &v), kNonScalarArg);
  EXPECT_EQ(stk_get_matrix(c, 5, nullptr, nullptr, nullptr, nullptr), kWrongType);  // no such item
  EXPECT_EQ(c->desc_top, 6);
}

TEST_F(ValueStack, MultiArraysShapesAndStrides) {
  int32_t dims[] = {2, 3};
  double* re;
  float* sre;
  void* d;
  ASSERT_EQ(stk_push_real(c, 5), kOk);                                  // depth 3
  ASSERT_EQ(stk_push_single_nd(c, 2, dims, &sre, nullptr), kOk);        // depth 2
  ASSERT_EQ(stk_push_typed_array(c, 0, nullptr, 2, 1, &d), kOk);        // depth 1
  ASSERT_EQ(stk_push_matrix(c, 2, 3, &re, nullptr), kOk);               // depth 0
  double* res[4];
  double* ims[4];
  float* sres[4];
  void* ids[4];
  int isz[4];
  uint8_t uns[4], stride[4];
  MultiArrays out{res, ims, sres, nullptr, ids, isz, uns, stride};
  int nd;
  const uint32_t* dp;
  int64_t count;
  ASSERT_EQ(stk_get_multi_arrays(c, 4, &nd, &dp, &count, out), kOk);
  EXPECT_EQ(nd, 2);
  EXPECT_EQ(std::vector<uint32_t>(dp, dp + 2), (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(count, 6);
  EXPECT_EQ(res[0], re);
  EXPECT_EQ(sres[0], nullptr);
  EXPECT_EQ(ids[1], d);
  EXPECT_EQ(isz[1], 2);
  EXPECT_EQ(uns[1], 1);
  EXPECT_EQ(sres[2], sre);
  EXPECT_EQ(res[2], nullptr);
  EXPECT_EQ(std::vector<uint8_t>(stride, stride + 4), (std::vector<uint8_t>{1, 0, 1, 0}));

  // Only the double slots asked for: the single operand is refused.
  MultiArrays doubles_only{res, ims};
  EXPECT_EQ(stk_get_multi_arrays(c, 4, &nd, &dp, &count, doubles_only), kWrongType);

  // A different non-scalar shape, and an empty operand against a non-scalar.
  ASSERT_EQ(stk_push_matrix(c, 3, 2, &re, nullptr), kOk);
  EXPECT_EQ(stk_get_multi_arrays(c, 2, &nd, &dp, &count, out), kIncompatibleSize);
  stk_drop(c);
  ASSERT_EQ(stk_push_empty(c), kOk);
  EXPECT_EQ(stk_get_multi_arrays(c, 2, &nd, &dp, &count, out), kIncompatibleSize);
  // A scalar against an empty operand gives the empty shape.
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  ASSERT_EQ(stk_get_multi_arrays(c, 2, &nd, &dp, &count, out), kOk);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(std::vector<uint8_t>(stride, stride + 2), (std::vector<uint8_t>{0, 1}));
  // All scalars: one element, the deepest one's shape.
  ASSERT_EQ(stk_push_typed_array(c, 0, nullptr, 8, 0, &d), kOk);
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  ASSERT_EQ(stk_get_multi_arrays(c, 2, &nd, &dp, &count, out), kOk);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::vector<uint32_t>(dp, dp + nd), (std::vector<uint32_t>{1, 1}));
  EXPECT_EQ(ids[1], d);
  EXPECT_EQ(std::vector<uint8_t>(stride, stride + 2), (std::vector<uint8_t>{0, 0}));
}

TEST_F(ValueStack, BlockCopiedToAnotherAddressKeepsWorking) {
  int32_t dims[] = {2, 2, 2};
  double* re;
  ASSERT_EQ(stk_push_cstr(c, -1, "moved"), kOk);
  ASSERT_EQ(stk_push_double_nd(c, 3, dims, &re, nullptr), kOk);
  fill(re, 8, 10);
  ASSERT_EQ(stk_push_real(c, 4), kOk);
  TestContext moved = t.clone();
  std::memset(t.mem.get(), 0xdd, t.bytes);  // the old copy is gone
  EngineContext* m = moved.ctx();
  EXPECT_TRUE(check_stack_invariants(m));
  int32_t v;
  ASSERT_EQ(stk_pop_int(m, &v), kOk);
  EXPECT_EQ(v, 4);
  ASSERT_EQ(stk_get_double_array(m, 0, nullptr, nullptr, nullptr, &re, nullptr), kOk);
  EXPECT_EQ(re[7], 17);
  char buf[8];
  ASSERT_EQ(stk_get_string_buf(m, 1, buf, sizeof buf, nullptr), kOk);
  EXPECT_STREQ(buf, "moved");
  ASSERT_EQ(stk_push_cstr(m, -1, "again"), kOk);
  EXPECT_TRUE(check_stack_invariants(m));
}

}  // namespace
