// Matrix product kernels: bit for bit equal to the plain ordered triple loop,
// for every instruction-set variant the machine runs, at sizes that cross the
// register tiles and every cache block (l blocks of 128, row blocks of 256,
// column blocks of 1536).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "numlib/matmul.h"

namespace {

using Mat = std::vector<double>;

Mat naive_real(int m, int k, int n, const double* a, const double* b) {
  Mat c(size_t(m) * n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int l = 0; l < k; ++l) s = s + a[size_t(i) * k + l] * b[size_t(l) * n + j];
      c[size_t(i) * n + j] = s;
    }
  return c;
}

Mat naive_complex(int m, int k, int n, const double* a, const double* b) {
  Mat c(2 * size_t(m) * n);
  const double* ai = a + size_t(m) * k;
  const double* bi = b + size_t(k) * n;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      double sr = 0.0, si = 0.0;
      for (int l = 0; l < k; ++l) {
        const double xr = a[size_t(i) * k + l], xi = ai[size_t(i) * k + l];
        const double yr = b[size_t(l) * n + j], yi = bi[size_t(l) * n + j];
        sr = sr + (xr * yr - xi * yi);
        si = si + (xr * yi + xi * yr);
      }
      c[size_t(i) * n + j] = sr;
      c[size_t(m) * n + size_t(i) * n + j] = si;
    }
  return c;
}

// Values spread over many binades so that any change of summation order or a
// fused multiply-add would change low bits.
Mat random_values(std::mt19937_64& rng, size_t count) {
  std::uniform_real_distribution<double> mant(-1.0, 1.0);
  std::uniform_int_distribution<int> expo(-20, 20);
  Mat v(count);
  for (auto& x : v) x = std::ldexp(mant(rng), expo(rng));
  return v;
}

bool same_bits(const Mat& x, const Mat& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

std::vector<MatmulIsa> isas() {
  std::vector<MatmulIsa> out;
  for (MatmulIsa isa : {MatmulIsa::kSse2, MatmulIsa::kAvx, MatmulIsa::kAvx512})
    if (matmul_isa_supported(isa)) out.push_back(isa);
  return out;
}

struct Shape {
  int m, k, n;
};

// Row counts around the tiles (2, 4, 8) and the 256-row block; depths around
// the 128 l block; widths around 6/12/24-column strips, the 4/2/1 tails and the
// 1536-column block.
const Shape kShapes[] = {
    {1, 1, 1},     {3, 5, 7},      {8, 128, 24},  {9, 129, 25},  {17, 127, 23},
    {7, 257, 31},  {2, 3, 1},      {11, 1, 13},   {5, 300, 47},  {257, 130, 29},
    {258, 64, 50}, {3, 130, 1541}, {1, 200, 1560}, {33, 17, 3},   {12, 256, 60},
};

TEST(Matmul, RealMatchesOrderedTripleLoopBitForBit) {
  std::mt19937_64 rng(2024);
  for (MatmulIsa isa : isas())
    for (const Shape& s : kShapes) {
      Mat a = random_values(rng, size_t(s.m) * s.k), b = random_values(rng, size_t(s.k) * s.n);
      Mat c(size_t(s.m) * s.n, 12345.0);
      matmul_real_isa(isa, s.m, s.k, s.n, a.data(), b.data(), c.data());
      EXPECT_TRUE(same_bits(c, naive_real(s.m, s.k, s.n, a.data(), b.data())))
          << "isa " << int(isa) << " " << s.m << "x" << s.k << "x" << s.n;
    }
}

TEST(Matmul, ComplexMatchesOrderedTripleLoopBitForBit) {
  std::mt19937_64 rng(77);
  for (MatmulIsa isa : isas())
    for (const Shape& s : kShapes) {
      if (s.n > 1000 && isa != matmul_best_isa()) continue;  // keep the run short
      Mat a = random_values(rng, 2 * size_t(s.m) * s.k);
      Mat b = random_values(rng, 2 * size_t(s.k) * s.n);
      Mat c(2 * size_t(s.m) * s.n, -1.0);
      matmul_complex_isa(isa, s.m, s.k, s.n, a.data(), b.data(), c.data());
      EXPECT_TRUE(same_bits(c, naive_complex(s.m, s.k, s.n, a.data(), b.data())))
          << "isa " << int(isa) << " " << s.m << "x" << s.k << "x" << s.n;
    }
}

// A real operand against a complex one is two real products, one per block.
TEST(Matmul, MixedOperandsThroughTheRealKernel) {
  std::mt19937_64 rng(5);
  const int m = 19, k = 140, n = 37;
  Mat a = random_values(rng, size_t(m) * k), b = random_values(rng, 2 * size_t(k) * n);
  Mat c(2 * size_t(m) * n);
  matmul_real(m, k, n, a.data(), b.data(), c.data());
  matmul_real(m, k, n, a.data(), b.data() + size_t(k) * n, c.data() + size_t(m) * n);
  Mat a_c = a;
  a_c.resize(2 * a.size(), 0.0);  // a + 0i
  Mat full = naive_complex(m, k, n, a_c.data(), b.data());
  // With a zero imaginary part the complex sums differ only by adding exact
  // zeros, which never changes a value except the sign of a zero.
  for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i], full[i]) << i;
  EXPECT_TRUE(same_bits(Mat(c.begin(), c.begin() + m * n), naive_real(m, k, n, a.data(), b.data())));
  EXPECT_TRUE(same_bits(Mat(c.begin() + m * n, c.end()), naive_real(m, k, n, a.data(), b.data() + size_t(k) * n)));
}

TEST(Matmul, EmptyDimensionsAndSignedZeros) {
  for (MatmulIsa isa : isas()) {
    Mat c = {5, 5, 5, 5};
    matmul_real_isa(isa, 2, 0, 2, nullptr, nullptr, c.data());
    EXPECT_EQ(c, (Mat{0, 0, 0, 0}));
    Mat cc(8, 5.0);
    matmul_complex_isa(isa, 2, 0, 2, nullptr, nullptr, cc.data());
    EXPECT_EQ(cc, Mat(8, 0.0));
    c = {5, 5};
    matmul_real_isa(isa, 0, 3, 2, nullptr, nullptr, c.data());
    EXPECT_EQ(c, (Mat{5, 5}));

    // Every sum starts from +0.0, so products of -0 add up to +0.
    Mat a = {-0.0, 1.0}, b = {1.0, 1.0, -0.0, -0.0, 1.0, 1.0};
    Mat out(3, 7.0);
    matmul_real_isa(isa, 1, 2, 3, a.data(), b.data(), out.data());
    for (double x : out) EXPECT_FALSE(std::signbit(x));
    Mat z = {-0.0}, w(17, -0.0), zr(17, 1.0);
    matmul_real_isa(isa, 1, 1, 17, z.data(), w.data(), zr.data());
    for (double x : zr) {
      EXPECT_EQ(x, 0.0);
      EXPECT_FALSE(std::signbit(x));
    }
  }
}

TEST(Matmul, NonFiniteValuesPropagateAsInTheLoop) {
  std::mt19937_64 rng(3);
  for (MatmulIsa isa : isas()) {
    const int m = 9, k = 10, n = 27;
    Mat a = random_values(rng, size_t(m) * k), b = random_values(rng, size_t(k) * n);
    a[5] = INFINITY;
    b[40] = NAN;
    b[3] = -INFINITY;
    Mat c(size_t(m) * n);
    matmul_real_isa(isa, m, k, n, a.data(), b.data(), c.data());
    Mat ref = naive_real(m, k, n, a.data(), b.data());
    for (size_t i = 0; i < c.size(); ++i) {
      if (std::isnan(ref[i]))
        EXPECT_TRUE(std::isnan(c[i])) << i;
      else
        EXPECT_EQ(c[i], ref[i]) << i;
    }
  }
}

}  // namespace
