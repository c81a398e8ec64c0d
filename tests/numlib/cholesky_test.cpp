// Cholesky kernels: R^T R = A (R^H R = A) on random
// positive definite matrices, that only the upper triangle and the real part
// of the diagonal are read, and failure at the first pivot that is not positive.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numlib/cholesky.h"

namespace {

using Mat = std::vector<double>;
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

TEST(Cholesky, FailsAtFirstNonPositivePivot) {
  for (Mat a : {Mat{1, 2, 2, 1}, Mat{0}, Mat{-1}, Mat{kNan}, Mat{1, 0, 0, kNan}}) {
    const int n = a.size() == 1 ? 1 : 2;
    Mat im(a.size(), 0.0), re = a;
    EXPECT_FALSE(chol_factor_real(a.data(), n));
    EXPECT_FALSE(chol_factor(re.data(), im.data(), n));
  }
  // Hermitian [[1, 1+i], [1-i, 1]]: 1 - |1+i|^2 < 0 at the second pivot.
  Mat re{1, 1, 1, 1}, im{0, 1, -1, 0};
  EXPECT_FALSE(chol_factor(re.data(), im.data(), 2));
  EXPECT_EQ(re[0], 1.0);  // the first pivot was done
}

TEST(Cholesky, RandomPositiveDefiniteRealAndComplex) {
  std::mt19937_64 gen(11);
  std::normal_distribution<double> nd;
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + trial % 12;
    const size_t nn = size_t(n) * n;
    // A = B^H B + n I, Hermitian positive definite.
    Mat br(nn), bi(nn), ar(nn, 0.0), ai(nn, 0.0);
    for (size_t k = 0; k < nn; ++k) br[k] = nd(gen), bi[k] = nd(gen);
    const bool cplx = trial % 2 == 1;
    if (!cplx) bi.assign(nn, 0.0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        for (int k = 0; k < n; ++k) {
          const size_t p = size_t(k) * n + i, q = size_t(k) * n + j;
          ar[size_t(i) * n + j] += br[p] * br[q] + bi[p] * bi[q];
          ai[size_t(i) * n + j] += br[p] * bi[q] - bi[p] * br[q];
        }
        if (i == j) ar[size_t(i) * n + j] += n;
      }
    // Garbage below the diagonal and in the diagonal's imaginary parts: never read.
    Mat rr = ar, ri = ai;
    for (int i = 0; i < n; ++i) {
      ri[size_t(i) * n + i] = kNan;
      for (int j = 0; j < i; ++j) rr[size_t(i) * n + j] = ri[size_t(i) * n + j] = kNan;
    }
    SCOPED_TRACE(testing::Message() << "trial " << trial << ", n " << n);
    if (cplx) {
      ASSERT_TRUE(chol_factor(rr.data(), ri.data(), n));
    } else {
      ri.assign(nn, 0.0);
      ASSERT_TRUE(chol_factor_real(rr.data(), n));
    }
    for (int i = 0; i < n; ++i) {
      EXPECT_GT(rr[size_t(i) * n + i], 0.0);
      EXPECT_EQ(ri[size_t(i) * n + i], 0.0);
      for (int j = 0; j < i; ++j) {
        EXPECT_EQ(rr[size_t(i) * n + j], 0.0);
        EXPECT_EQ(ri[size_t(i) * n + j], 0.0);
      }
    }
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double xr = 0.0, xi = 0.0;  // (R^H R)(i, j)
        for (int k = 0; k < n; ++k) {
          const size_t p = size_t(k) * n + i, q = size_t(k) * n + j;
          xr += rr[p] * rr[q] + ri[p] * ri[q];
          xi += rr[p] * ri[q] - ri[p] * rr[q];
        }
        const double tol = 1e-13 * n * n;
        EXPECT_NEAR(xr, ar[size_t(i) * n + j], tol);
        EXPECT_NEAR(xi, ai[size_t(i) * n + j], tol);
      }
  }
}

}  // namespace
