// The bit built-ins against a model in plain unsigned and signed C++
// arithmetic: every pair of 8-bit values, sampled 16-, 32- and 64-bit values,
// doubles out of the 32-bit range, shift counts -70..70, broadcasting, the
// reductions along every dimension, and a room sweep showing that a failing
// call leaves the stacks as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "engine/lib/bit_ops.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

namespace {

using Ints = std::vector<int64_t>;
constexpr uint32_t kIntTypes[] = {kElemI8, kElemU8, kElemI16, kElemU16, kElemI32, kElemU32, kElemI64, kElemU64};

int width_of(uint32_t type) { return int(type & 127) * 8; }
bool is_signed(uint32_t type) { return !(type & kElemUnsigned); }

// A value of the type from any 64-bit pattern (sign- or zero-extended).
int64_t wrap(uint64_t v, uint32_t type) {
  const int w = width_of(type);
  if (w == 64) return int64_t(v);
  const uint64_t low = v & ((uint64_t{1} << w) - 1);
  if (is_signed(type) && (low >> (w - 1))) return int64_t(low | ~((uint64_t{1} << w) - 1));
  return int64_t(low);
}

// Model shift: a signed value shifts right arithmetically through int64.
int64_t model_shift(int64_t v, uint32_t type, int64_t k) {
  const int w = width_of(type);
  if (k >= 0) return k >= w ? 0 : wrap(uint64_t(v) << k, type);
  const int64_t r = -k;
  if (is_signed(type)) return r >= w ? (v < 0 ? -1 : 0) : v >> r;
  return r >= w ? 0 : int64_t(uint64_t(v) >> r);
}

// A double's value as the bit functions see it: truncated to 64 bits (NaN,
// infinities and out-of-range values give the 64-bit minimum), low 32 bits.
uint32_t model_low32(double x) {
  if (std::isnan(x) || std::fabs(x) >= 9223372036854775808.0) return 0;
  return uint32_t(uint64_t(int64_t(x)));
}

// A started engine with room for the large sampled operands.
class BitOps : public ::testing::Test {
 protected:
  StartedEngine e{1u << 25};
  EngineContext* c = e.c;
  void TearDown() override {
    EXPECT_TRUE(e.invariants());
    e.clear();
  }
  int call(BuiltinFn fn, int nargin, uintptr_t data = 0) { return fn(c, nargin, 1, data); }
  std::vector<int32_t> row(size_t n) { return tv::row_dims(n); }
  Ints ints_result() {
    const tv::Value v = tv::read(c);
    stk_drop(c);
    return v.ints;
  }
  std::vector<double> doubles_result() {
    const tv::Value v = tv::read(c);
    EXPECT_FALSE(v.cplx);
    stk_drop(c);
    return v.re;
  }
};

// Every pair of 8-bit values, and sampled wider values, in every integer type.
Ints sample_values(uint32_t type, std::mt19937_64& rng, size_t n) {
  Ints v;
  if (width_of(type) == 8) {
    for (int k = 0; k < 256; ++k) v.push_back(wrap(uint64_t(k), type));
    return v;
  }
  const int w = width_of(type);
  for (uint64_t edge : {uint64_t{0}, uint64_t{1}, ~uint64_t{0}, uint64_t{1} << (w - 1), (uint64_t{1} << (w - 1)) - 1})
    v.push_back(wrap(edge, type));
  while (v.size() < n) v.push_back(wrap(rng(), type));
  return v;
}

TEST_F(BitOps, AndOrXorOverEveryTypeMatchTheModel) {
  std::mt19937_64 rng(29);
  struct Op {
    BuiltinFn fn;
    std::function<uint64_t(uint64_t, uint64_t)> model;
  };
  const Op ops[] = {{bi_bitand, [](uint64_t x, uint64_t y) { return x & y; }},
                    {bi_bitor, [](uint64_t x, uint64_t y) { return x | y; }},
                    {bi_bitxor, [](uint64_t x, uint64_t y) { return x ^ y; }}};
  for (uint32_t type : kIntTypes) {
    const Ints vals = sample_values(type, rng, 400);
    Ints a, b;
    for (int64_t x : vals)
      for (int64_t y : vals) {
        a.push_back(x);
        b.push_back(y);
      }
    for (const Op& op : ops) {
      tv::push_ints(c, type, row(a.size()), a);
      tv::push_ints(c, type, row(b.size()), b);
      ASSERT_EQ(call(op.fn, 2), kOk);
      const Ints got = ints_result();
      ASSERT_EQ(got.size(), a.size());
      for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(got[i], wrap(op.model(uint64_t(a[i]), uint64_t(b[i])), type)) << type << " " << a[i] << " " << b[i];
    }
  }
}

TEST_F(BitOps, ShiftGetSetCmpOverEveryTypeMatchTheModel) {
  std::mt19937_64 rng(30);
  for (uint32_t type : kIntTypes) {
    const int w = width_of(type);
    const Ints vals = sample_values(type, rng, 64);
    // bitshift: every value by every count from -70 to 70, with and without a mask width.
    Ints a, k;
    for (int64_t x : vals)
      for (int s = -70; s <= 70; ++s) {
        a.push_back(x);
        k.push_back(s);
      }
    tv::push_ints(c, type, row(a.size()), a);
    tv::push_ints(c, kElemI32, row(k.size()), k);
    ASSERT_EQ(call(bi_bitshift, 2), kOk);
    Ints got = ints_result();
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(got[i], model_shift(a[i], type, k[i])) << type << " " << a[i] << " " << k[i];
    for (int n : {-1, 0, 1, 3, w - 1, w, w + 5}) {
      tv::push_ints(c, type, row(a.size()), a);
      tv::push_ints(c, kElemI32, row(k.size()), k);
      tv::push_scalar(c, n);
      ASSERT_EQ(call(bi_bitshift, 3), kOk);
      got = ints_result();
      for (size_t i = 0; i < a.size(); ++i) {
        uint64_t m = n < 1 ? 0 : n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
        if (n >= w) m = ~uint64_t{0};
        ASSERT_EQ(got[i], wrap(uint64_t(model_shift(a[i], type, k[i])) & m, type)) << n;
      }
    }
    // bitget, bitset (on and off) and bitcmp with a width, at every position.
    Ints pos, vv;
    a.clear();
    for (int64_t x : vals)
      for (int p = 1; p <= w; ++p) {
        a.push_back(x);
        pos.push_back(p);
        vv.push_back(p % 2);
      }
    tv::push_ints(c, type, row(a.size()), a);
    tv::push_ints(c, kElemI16, row(pos.size()), pos);
    ASSERT_EQ(call(bi_bitget, 2), kOk);
    got = ints_result();
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(got[i], int64_t((uint64_t(a[i]) >> (pos[i] - 1)) & 1));
    tv::push_ints(c, type, row(a.size()), a);
    tv::push_ints(c, kElemI16, row(pos.size()), pos);
    tv::push_ints(c, kElemU8, row(vv.size()), vv);
    ASSERT_EQ(call(bi_bitset, 3), kOk);
    got = ints_result();
    for (size_t i = 0; i < a.size(); ++i) {
      const uint64_t bit = uint64_t{1} << (pos[i] - 1);
      ASSERT_EQ(got[i], wrap(vv[i] ? uint64_t(a[i]) | bit : uint64_t(a[i]) & ~bit, type));
    }
    tv::push_ints(c, type, row(a.size()), a);
    tv::push_ints(c, kElemI16, row(pos.size()), pos);
    ASSERT_EQ(call(bi_bitcmp, 2), kOk);
    got = ints_result();
    for (size_t i = 0; i < a.size(); ++i) {
      const uint64_t m = pos[i] >= 64 ? ~uint64_t{0} : (uint64_t{1} << pos[i]) - 1;
      ASSERT_EQ(got[i], wrap(~uint64_t(a[i]) & m, type));
    }
    tv::push_ints(c, type, row(vals.size()), vals);
    ASSERT_EQ(call(bi_bitcmp, 1), kOk);
    got = ints_result();
    for (size_t i = 0; i < vals.size(); ++i) ASSERT_EQ(got[i], wrap(~uint64_t(vals[i]), type));
  }
}

TEST_F(BitOps, DoublesUseTheLow32BitsOfTheTruncatedValue) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const std::vector<double> xs = {0, 1, 12.9, -1, -2.5, -2147483648.0, 4294967295.0, 4294967296.0, 4294967301.0,
                                  1099511627779.0, 1e20, -1e20, 9.3e18, nan, inf, -inf, 0.5, -0.5};
  const std::vector<double> ys = {0, 1, -1, 4294967296.0 + 10, nan, inf, 255, 65535.7};
  std::vector<double> a, b;
  for (double x : xs)
    for (double y : ys) {
      a.push_back(x);
      b.push_back(y);
    }
  const std::pair<BuiltinFn, std::function<uint32_t(uint32_t, uint32_t)>> ops[] = {
      {bi_bitand, [](uint32_t x, uint32_t y) { return x & y; }},
      {bi_bitor, [](uint32_t x, uint32_t y) { return x | y; }},
      {bi_bitxor, [](uint32_t x, uint32_t y) { return x ^ y; }}};
  for (const auto& [fn, model] : ops) {
    tv::push_row(c, a);
    tv::push_row(c, b);
    ASSERT_EQ(call(fn, 2), kOk);
    const std::vector<double> got = doubles_result();
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(got[i], double(model(model_low32(a[i]), model_low32(b[i])))) << a[i] << " " << b[i];
  }
  // Shifts within 32 bits, logical to the right, over counts -70..70.
  std::vector<double> x2, k2;
  for (double x : xs)
    for (int s = -70; s <= 70; ++s) {
      x2.push_back(x);
      k2.push_back(s);
    }
  tv::push_row(c, x2);
  tv::push_row(c, k2);
  ASSERT_EQ(call(bi_bitshift, 2), kOk);
  std::vector<double> got = doubles_result();
  for (size_t i = 0; i < x2.size(); ++i) {
    const uint32_t v = model_low32(x2[i]);
    const int s = int(k2[i]);
    const uint32_t want = s >= 32 || s <= -32 ? 0 : s >= 0 ? uint32_t(uint64_t(v) << s) : v >> -s;
    ASSERT_EQ(got[i], double(want)) << x2[i] << " " << s;
  }
  // A mixed integer and double operation goes through the double values.
  tv::push_ints(c, kElemI8, row(3), {-1, 5, -128});
  tv::push_scalar(c, 4294967295.0);
  ASSERT_EQ(call(bi_bitand, 2), kOk);
  EXPECT_EQ(doubles_result(), (std::vector<double>{4294967295.0, 5, 4294967168.0}));
  tv::push_row(c, xs);
  tv::push_scalar(c, 32);
  ASSERT_EQ(call(bi_bitget, 2), kOk);
  got = doubles_result();
  for (size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(got[i], double(model_low32(xs[i]) >> 31));
  tv::push_row(c, xs);
  tv::push_scalar(c, 4);
  ASSERT_EQ(call(bi_bitcmp, 2), kOk);
  got = doubles_result();
  for (size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(got[i], double(~model_low32(xs[i]) & 15u));
}

TEST_F(BitOps, BroadcastingAndErrors) {
  // One-element operands spread over the other operand's shape, on either side.
  tv::push_scalar(c, 12);
  tv::push_double(c, {2, 2}, {1, 2, 4, 8});
  ASSERT_EQ(call(bi_bitand, 2), kOk);
  tv::Value v = tv::read(c);
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{2, 2}));
  EXPECT_EQ(v.re, (std::vector<double>{0, 0, 4, 8}));
  stk_drop(c);
  tv::push_ints(c, kElemU8, row(1), {5});
  tv::push_row(c, {1, 2, 3});
  ASSERT_EQ(call(bi_bitget, 2), kOk);
  EXPECT_EQ(ints_result(), (Ints{1, 0, 1}));

  struct Bad {
    BuiltinFn fn;
    int nargin;
    std::function<void()> push;
    int status;
  };
  const Bad cases[] = {
      {bi_bitand, 2, [&] { tv::push_row(c, {1, 2}); tv::push_row(c, {1, 2, 3}); }, kIncompatibleSize},
      {bi_bitshift, 3, [&] { tv::push_row(c, {1, 2}); tv::push_scalar(c, 1); tv::push_row(c, {1, 2, 3}); }, kIncompatibleSize},
      {bi_bitand, 2, [&] { tv::push_single(c, {1, 1}, {1}); tv::push_scalar(c, 1); }, kWrongArgType},
      {bi_bitxor, 2, [&] { tv::push_scalar(c, 1); tv::push_single(c, {1, 1}, {1}); }, kWrongArgType},
      {bi_bitcmp, 1, [&] { tv::push_scalar(c, 5); }, kWrongType},
      {bi_bitcmp, 2, [&] { tv::push_scalar(c, 5); tv::push_scalar(c, 0); }, kArgOutOfRange},
      {bi_bitcmp, 2, [&] { tv::push_scalar(c, 5); tv::push_scalar(c, 33); }, kArgOutOfRange},
      {bi_bitcmp, 2, [&] { tv::push_ints(c, kElemU8, row(1), {5}); tv::push_scalar(c, 9); }, kArgOutOfRange},
      {bi_bitget, 2, [&] { tv::push_ints(c, kElemU8, row(1), {5}); tv::push_scalar(c, 9); }, kIndexOutOfRange},
      {bi_bitget, 2, [&] { tv::push_scalar(c, 5); tv::push_scalar(c, 33); }, kIndexOutOfRange},
      {bi_bitset, 2, [&] { tv::push_scalar(c, 5); tv::push_scalar(c, 0); }, kIndexOutOfRange},
      {bi_bitall, 2, [&] { tv::push_row(c, {1, 2}); tv::push_scalar(c, 0); }, kBadDimension},
      {bi_bitall, 1, [&] { tv::push_single(c, {1, 1}, {1}); }, kWrongArgType},
  };
  for (const Bad& b : cases) {
    b.push();
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(b.fn(c, b.nargin, 1, '|'), b.status);
    EXPECT_TRUE(before == snapshot_stacks(c));
    e.clear();
  }
}

TEST_F(BitOps, ReductionsAlongEveryDimension) {
  std::mt19937_64 rng(31);
  const std::vector<int32_t> dims = {2, 3, 4};
  for (uint32_t type : {uint32_t{kElemU8}, uint32_t{kElemI16}, uint32_t{kElemU64}, uint32_t{kElemDouble}}) {
    const bool dbl = type == kElemDouble;
    Ints vals(24);
    std::vector<double> dvals(24);
    for (int i = 0; i < 24; ++i) {
      vals[i] = dbl ? int64_t(rng() % 5000000000ull) : wrap(rng(), type);
      dvals[i] = double(vals[i]);
    }
    for (int d = 1; d <= 4; ++d)
      for (uintptr_t op : {uintptr_t{'&'}, uintptr_t{'|'}}) {
        if (dbl)
          tv::push_double(c, dims, dvals);
        else
          tv::push_ints(c, type, dims, vals);
        tv::push_scalar(c, d);
        ASSERT_EQ(bi_bitall(c, 2, 1, op), kOk);
        const tv::Value v = tv::read(c);
        stk_drop(c);
        // Model: subscripts (i, j, p) at (p * 2 + i) * 3 + j; the reduced one set to 0.
        std::vector<int32_t> rd = dims;
        if (d <= 3) rd[d - 1] = 1;
        while (rd.size() > 2 && rd.back() == 1) rd.pop_back();
        EXPECT_EQ(v.dims, std::vector<uint32_t>(rd.begin(), rd.end())) << d;
        const int w = dbl ? 32 : width_of(type);
        const uint64_t mask = w == 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1;
        size_t at = 0;
        for (int p = 0; p < (d == 3 ? 1 : 4); ++p)
          for (int i = 0; i < (d == 1 ? 1 : 2); ++i)
            for (int j = 0; j < (d == 2 ? 1 : 3); ++j, ++at) {
              uint64_t acc = op == '&' ? mask : 0;
              for (int t = 0; t < (d <= 3 ? dims[d - 1] : 1); ++t) {
                const int ii = d == 1 ? t : i, jj = d == 2 ? t : j, pp = d == 3 ? t : p;
                const uint64_t x = uint64_t(vals[(pp * 2 + ii) * 3 + jj]) & mask;
                acc = op == '&' ? acc & x : acc | x;
              }
              if (dbl)
                ASSERT_EQ(v.re[at], double(acc));
              else
                ASSERT_EQ(v.ints[at], wrap(acc, type));
            }
      }
  }
}

// Every bit built-in, given room for k data words, k = 0, 1, ...: each
// failure leaves the stacks exactly as they were, and some room succeeds.
TEST_F(BitOps, FailuresForLackOfRoomChangeNothing) {
  struct Call {
    BuiltinFn fn;
    int nargin;
    uintptr_t data;
    std::function<void()> push;
  };
  const Call calls[] = {
      {bi_bitget, 2, 0, [&] { tv::push_row(c, {5, 6, 7}); tv::push_scalar(c, 1); }},
      {bi_bitset, 3, 0, [&] { tv::push_ints(c, kElemI8, row(3), {1, 2, 3}); tv::push_scalar(c, 8); tv::push_scalar(c, 1); }},
      {bi_bitand, 2, 0, [&] { tv::push_row(c, {5, 6, 7}); tv::push_scalar(c, 3); }},
      {bi_bitor, 2, 0, [&] { tv::push_ints(c, kElemU16, row(3), {1, 2, 3}); tv::push_ints(c, kElemU8, row(3), {4, 4, 4}); }},
      {bi_bitcmp, 2, 0, [&] { tv::push_row(c, {5, 6, 7}); tv::push_scalar(c, 3); }},
      {bi_bitshift, 3, 0, [&] { tv::push_row(c, {5, 6, 7}); tv::push_scalar(c, 3); tv::push_scalar(c, 4); }},
      {bi_bitall, 2, '&', [&] { tv::push_ints(c, kElemU32, {2, 3}, {1, 2, 3, 4, 5, 6}); tv::push_scalar(c, 2); }},
      {bi_graycode, 1, 'g', [&] { tv::push_row(c, {5, 6}, {1, 1}); }},
      {bi_base64encode, 1, 'e', [&] { tv::push_chars(c, u"foobar"); }},
      {bi_base64encode, 1, 'd', [&] { tv::push_chars(c, u"Zm9vYmFy"); }},
  };
  for (const Call& call : calls) {
    bool done = false;
    for (int k = 0; k < 200 && !done; ++k) {
      call.push();
      const uint32_t capacity = c->data_capacity;
      const StackSnapshot before = snapshot_stacks(c);
      c->data_capacity = uint32_t(c->data_top + k);
      const int st = call.fn(c, call.nargin, 1, call.data);
      c->data_capacity = capacity;
      if (st == kOk) {
        done = true;
      } else {
        EXPECT_EQ(st, kDataStackOverflow);
        EXPECT_TRUE(before == snapshot_stacks(c)) << k;
      }
      EXPECT_TRUE(e.invariants());
      e.clear();
    }
    EXPECT_TRUE(done);
  }
}

}  // namespace
