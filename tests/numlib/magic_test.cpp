// Magic squares: the classical squares of the small orders literally, and the
// magic property with every number 1 .. n^2 used once up to order 40.
#include <gtest/gtest.h>

#include <vector>

#include "numlib/magic.h"

namespace {

std::vector<double> magic(int n) {
  std::vector<double> a(size_t(n) * n, -1.0);
  magic_square_kernel(a.data(), n);
  return a;
}

TEST(Magic, LiteralSmallSquares) {
  EXPECT_EQ(magic(1), (std::vector<double>{1}));
  EXPECT_EQ(magic(2), (std::vector<double>{1, 3, 4, 2}));
  EXPECT_EQ(magic(3), (std::vector<double>{8, 1, 6, 3, 5, 7, 4, 9, 2}));
  EXPECT_EQ(magic(4), (std::vector<double>{16, 2, 3, 13, 5, 11, 10, 8, 9, 7, 6, 12, 4, 14, 15, 1}));
  EXPECT_EQ(magic(5), (std::vector<double>{17, 24, 1,  8,  15, 23, 5,  7,  14, 16, 4,  6, 13,
                                           20, 22, 10, 12, 19, 21, 3,  11, 18, 25, 2,  9}));
  EXPECT_EQ(magic(6), (std::vector<double>{35, 1,  6,  26, 19, 24, 3,  32, 7,  21, 23, 25,
                                           31, 9,  2,  22, 27, 20, 8,  28, 33, 17, 10, 15,
                                           30, 5,  34, 12, 14, 16, 4,  36, 29, 13, 18, 11}));
}

TEST(Magic, RowsAndColumnsSumAndEveryNumberOnce) {
  for (int n = 1; n <= 40; ++n) {
    if (n == 2) continue;  // no magic square of order 2 exists
    std::vector<double> a = magic(n);
    const double target = n * (double(n) * n + 1) / 2;
    std::vector<int> seen(size_t(n) * n + 1, 0);
    for (int i = 0; i < n; ++i) {
      double row = 0, col = 0;
      for (int j = 0; j < n; ++j) {
        row += a[size_t(i) * n + j];
        col += a[size_t(j) * n + i];
        const double v = a[size_t(i) * n + j];
        ASSERT_TRUE(v >= 1 && v <= double(n) * n && v == int(v)) << n;
        ++seen[int(v)];
      }
      EXPECT_EQ(row, target) << "order " << n << " row " << i;
      EXPECT_EQ(col, target) << "order " << n << " column " << i;
    }
    for (int v = 1; v <= n * n; ++v) ASSERT_EQ(seen[v], 1) << "order " << n << " value " << v;
  }
}

TEST(Magic, OddPatternHonoursRowStride) {
  std::vector<double> a(3 * 5, 0.0);
  int_pattern_matrix(a.data(), 3, 5);
  EXPECT_EQ(a, (std::vector<double>{8, 1, 6, 0, 0, 3, 5, 7, 0, 0, 4, 9, 2, 0, 0}));
}

}  // namespace
