// The range count rule: real quotients widened before the floor, limits,
// zero steps and NaN; complex counting by projection; integer ranges counted
// in 128 bits with the signed-step rule for unsigned classes, and elements
// against a running sum in the class's width.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "engine/core/range.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"

namespace {

int64_t real_count(double start, double step, double end, int* status = nullptr) {
  int64_t n = -1;
  const int st = range_real_count(start, step, end, &n);
  if (status) *status = st;
  return n;
}

uint64_t int_count(uint32_t type, int64_t start, int64_t step, int64_t end, bool signed_step = true) {
  uint64_t n = 0;
  EXPECT_EQ(range_int_count(type, uint64_t(start), uint64_t(step), uint64_t(end), signed_step, &n), kOk);
  return n;
}

}  // namespace

TEST(RangeCount, RealQuotientsAndLimits) {
  EXPECT_EQ(real_count(1, 1, 5), 5);
  EXPECT_EQ(real_count(5, 1, 1), 0);
  EXPECT_EQ(real_count(0, 0.1, 1), 11);  // the widened quotient keeps the last element
  EXPECT_EQ(real_count(1, 2, 6), 3);
  EXPECT_EQ(real_count(5, -1, 1), 5);
  EXPECT_EQ(real_count(1, 0.1, 1.3), 4);
  EXPECT_EQ(real_count(0, 0.1, 0.3), 4);
  int st = 0;
  EXPECT_EQ(real_count(1, 0, 5, &st), 0);
  EXPECT_EQ(st, kObjectTooLarge);  // a zero step toward a larger end
  EXPECT_EQ(real_count(5, 0, 1, &st), 0);
  EXPECT_EQ(st, kOk);
  EXPECT_EQ(real_count(1, 0, 1, &st), 0);
  EXPECT_EQ(st, kOk);
  const double nan = std::nan("");
  for (auto [a, s, b] : {std::tuple{nan, 1.0, 5.0}, {1.0, nan, 5.0}, {1.0, 1.0, nan}}) {
    EXPECT_EQ(real_count(a, s, b, &st), 0);
    EXPECT_EQ(st, kOk);
  }
  EXPECT_EQ(real_count(0, 1, 2147483646), 2147483647);
  real_count(0, 1, 2147483647, &st);
  EXPECT_EQ(st, kObjectTooLarge);
  real_count(0, 1, std::numeric_limits<double>::infinity(), &st);
  EXPECT_EQ(st, kObjectTooLarge);

  // Every element the count admits lies within the range by the running sum.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-10, 10), st_d(0.01, 3);
  for (int i = 0; i < 2000; ++i) {
    const double a = u(rng), s = (i % 2 ? 1 : -1) * st_d(rng), b = u(rng);
    const int64_t n = real_count(a, s, b);
    ASSERT_GE(n, 0);
    double v = a;
    for (int64_t k = 0; k + 1 < n; ++k) v += s;
    if (n > 0) {
      EXPECT_TRUE(s > 0 ? v <= b + 1e-9 * std::fabs(b) + 1e-12 : v >= b - 1e-9 * std::fabs(b) - 1e-12);
    }
    const double next = v + s;
    if (n > 0) {
      EXPECT_TRUE(s > 0 ? next > b - 1e-9 : next < b + 1e-9);
    }
  }
}

// A loop steps lazily: its count is the colon's wherever the colon answers,
// and goes on in 64 bits past the colon's limit.
TEST(RangeCount, LoopCountIsTheColonsWithoutItsLimit) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(-1e3, 1e3), st_d(-7, 7);
  for (int i = 0; i < 2000; ++i) {
    const double a = u(rng), s = i % 5 ? st_d(rng) : std::round(st_d(rng)), b = u(rng);
    int st = 0;
    const int64_t n = real_count(a, s, b, &st);
    if (st == kOk) ASSERT_EQ(range_real_loop_count(a, s, b), uint64_t(n)) << a << ":" << s << ":" << b;
  }
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  EXPECT_EQ(range_real_loop_count(1, 1, 1e18), uint64_t(1e18));  // not widened past its end
  EXPECT_EQ(range_real_loop_count(0, 0.1, 1e12), uint64_t(1e13) + 1);
  EXPECT_EQ(range_real_loop_count(0, 1, 2147483647), uint64_t{2147483648});
  EXPECT_EQ(range_real_loop_count(1, 1, inf), UINT64_MAX);
  EXPECT_EQ(range_real_loop_count(1, 1, 1e30), UINT64_MAX);
  EXPECT_EQ(range_real_loop_count(-1, -1, -inf), UINT64_MAX);
  EXPECT_EQ(range_real_loop_count(1, -1, inf), 0u);
  EXPECT_EQ(range_real_loop_count(1, 0, 5), 0u);  // a zero step runs nothing
  EXPECT_EQ(range_real_loop_count(1, 0, 0), 0u);
  EXPECT_EQ(range_real_loop_count(nan, 1, 5), 0u);
  EXPECT_EQ(range_real_loop_count(1, 1, nan), 0u);
}

TEST(RangeCount, ComplexByProjection) {
  int64_t n = -1;
  auto count = [&](ComplexRange r, int64_t cap = 1 << 20) {
    n = -1;
    return range_complex_count(r, cap, &n);
  };
  EXPECT_EQ(count({1, 1, 1, 0, 3, 1}), kOk);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(count({0, 1, 0, 0, 0, 1}), kOk);  // start equals end
  EXPECT_EQ(n, 1);
  EXPECT_EQ(count({0, 0, 0, 1, 3, 0}), kOk);  // a step across the direction
  EXPECT_EQ(n, 1);
  EXPECT_EQ(count({0, 0, 0, 0, 3, 0}), kOk);  // a zero step: the start only
  EXPECT_EQ(n, 1);
  EXPECT_EQ(count({0, 0, -1, 0, 3, 0}), kOk);  // away from the end
  EXPECT_EQ(n, 0);
  EXPECT_EQ(count({0, 0, 1, 1, 2, 2}), kOk);
  EXPECT_EQ(n, 3);
  // Room and size limits.
  EXPECT_EQ(count({0, 0, 1, 0, 10, 0}, 10), kDataStackOverflow);
  EXPECT_EQ(count({0, 0, 1, 0, 9, 0}, 10), kOk);
  EXPECT_EQ(n, 10);
  EXPECT_EQ(count({0, 0, 1, 0, 4e9, 0}, int64_t{1} << 40), kObjectTooLarge);
  EXPECT_EQ(count({0, 0, 1e-3, 0, 1e9, 1e9}, 1000), kDataStackOverflow);
  // Extents whose |d|^2 would overflow or vanish count as at scale 1: the
  // points k (1 + i) s for k = 0 ... 3, with the end at 3 (1 + i) s.
  for (double s : {1e300, 0x1p1020, 1e-300, 0x1p-1060, 1e155, 1e-170}) {
    EXPECT_EQ(count({0, 0, s, s, 3 * s, 3 * s}), kOk) << s;
    EXPECT_EQ(n, 4) << s;
    EXPECT_EQ(count({-s, 2 * s, s, 0, 2.5 * s, 2 * s}), kOk) << s;  // stops short of the end
    EXPECT_EQ(n, 4) << s;
  }
}

TEST(RangeCount, IntegersCountWithoutWrapping) {
  EXPECT_EQ(int_count(kElemI8, -100, 1, 100), 201u);  // 200 does not fit int8
  EXPECT_EQ(int_count(kElemI8, 1, 2, 6), 3u);
  EXPECT_EQ(int_count(kElemI8, 5, -1, 1), 5u);
  EXPECT_EQ(int_count(kElemI8, 5, 2, 4), 0u);  // floor, not truncation
  EXPECT_EQ(int_count(kElemI8, 4, -2, 5), 0u);
  EXPECT_EQ(int_count(kElemI8, -128, 1, 127), 256u);
  EXPECT_EQ(int_count(kElemU8, 0, 1, 255), 256u);
  EXPECT_EQ(int_count(kElemI64, std::numeric_limits<int64_t>::min(), 1, std::numeric_limits<int64_t>::max()),
            std::numeric_limits<uint64_t>::max());  // 2^64 saturates
  EXPECT_EQ(int_count(kElemU64, 0, 1, -1, false), std::numeric_limits<uint64_t>::max());
  // An unsigned range with a step that was a negative signed number counts down.
  EXPECT_EQ(int_count(kElemU8, 10, 0xFE, 4, true), 4u);   // step -2: 10 8 6 4
  EXPECT_EQ(int_count(kElemU8, 10, 0xFE, 4, false), 0u);  // step 254 upward: none
  uint64_t n = 7;
  EXPECT_EQ(range_int_count(kElemI8, 1, 0, 5, true, &n), kDataStackOverflow);
  // Elements: start + k * step in the width of the class.
  EXPECT_EQ(range_int_element(kElemU8, 10, 0xFE, 3), 4u);
  EXPECT_EQ(range_int_element(kElemI16, uint64_t(-5) & 0xFFFF, 3, 2), 1u);
  EXPECT_EQ(range_int_element(kElemI8, uint64_t(-100) & 0xFF, 1, 200), 100u);
}
