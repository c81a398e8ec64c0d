// The in-range element test shared by every scalar fast path (the loop's
// element reads and writes, index reads, indexed assignment), against a model
// written from the rules: every subscript integral and in range, elements
// stored row by row. Edge values and random ones, one and two subscripts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <random>

#include "engine/core/scalar_subscripts.h"

namespace {

std::optional<int64_t> model(uint32_t rows, uint32_t cols, int n, double s0, double s1) {
  auto whole = [](double s, double most) { return s >= 1 && s <= most && std::trunc(s) == s; };
  if (n == 1) {
    if (!whole(s0, double(rows) * cols)) return std::nullopt;
    return int64_t(s0) - 1;
  }
  if (!whole(s0, rows) || !whole(s1, cols)) return std::nullopt;
  return (int64_t(s0) - 1) * cols + int64_t(s1) - 1;
}

TEST(ScalarSubscripts, AgreesWithTheModelOnEdgesAndRandomValues) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const uint32_t shapes[][2] = {{1, 1}, {3, 4}, {4, 3}, {1, 7}, {0, 5}, {5, 0}, {65536, 65537}};
  std::mt19937_64 rng(14);
  std::uniform_real_distribution<double> any(-3, 12);
  int checked = 0;
  for (const auto& s : shapes) {
    const uint32_t h[3] = {0, s[0], s[1]};
    const double last = double(s[0]) * s[1];
    std::vector<double> values = {0, 1, 2, 1.5, -1, -0.0, nan, inf, -inf, 0.999999, double(s[0]), double(s[1]),
                                  double(s[0]) + 1, double(s[1]) + 1, last, last + 1, 9007199254740993.0};
    for (int i = 0; i < 40; ++i) values.push_back(std::round(any(rng)) + (i % 5 == 0 ? 0.25 : 0));
    for (int n = 1; n <= 2; ++n) {
      for (double a : values) {
        for (double b : values) {
          if (n == 1 && b != values[0]) continue;
          int64_t off = -7;
          const bool ok = scalar_subscript_offset(h, n, a, b, &off);
          const std::optional<int64_t> want = model(s[0], s[1], n, a, b);
          ASSERT_EQ(ok, want.has_value()) << s[0] << "x" << s[1] << " n " << n << " (" << a << ", " << b << ")";
          if (ok) {
            ASSERT_EQ(off, *want);
          }
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 20000);
}

}  // namespace
