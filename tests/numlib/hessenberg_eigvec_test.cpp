// Inverse iteration on Hessenberg matrices: for random real and complex
// matrices of several sizes and magnitudes, every eigenvalue found by the
// Hessenberg QR kernels gets a vector whose residual is of rounding size and
// whose largest element is 1; exact eigenvalues (zero pivots), the zero
// matrix and a shift far from every eigenvalue take their own paths.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numlib/eigen.h"
#include "numlib/hessenberg_eigvec.h"

namespace {

using Vec = std::vector<double>;

constexpr double kEps = 2.220446049250313e-16;

struct Vector {
  bool grown;
  Vec re, im;
};

Vector eigvec(const Vec& re, const Vec* im, int n, double lr, double li) {
  Vector x{false, Vec(n, -7), Vec(n, -7)};
  Vec work(size_t(numk_hessenberg_eigvec_work(n)), -7);
  x.grown = numk_hessenberg_eigvec(re.data(), im ? im->data() : nullptr, n, lr, li, x.re.data(),
                                   x.im.data(), work.data());
  return x;
}

// max |(H - lambda) x| / (max |h| max |x|), in |re| + |im|.
double residual(const Vec& re, const Vec* im, int n, double lr, double li, const Vector& x) {
  double worst = 0, big = 0, top = 0;
  for (int k = 0; k < n * n; ++k) big = std::max(big, std::fabs(re[k]) + (im ? std::fabs((*im)[k]) : 0));
  for (int k = 0; k < n; ++k) top = std::max(top, std::fabs(x.re[k]) + std::fabs(x.im[k]));
  for (int i = 0; i < n; ++i) {
    double sr = -(lr * x.re[i] - li * x.im[i]), si = -(lr * x.im[i] + li * x.re[i]);
    for (int j = std::max(i - 1, 0); j < n; ++j) {
      const double hr = re[i * n + j], hi = im ? (*im)[i * n + j] : 0;
      sr += hr * x.re[j] - hi * x.im[j];
      si += hr * x.im[j] + hi * x.re[j];
    }
    worst = std::max(worst, std::fabs(sr) + std::fabs(si));
  }
  return worst / (big * top);
}

double largest(const Vector& x) {
  double top = 0;
  for (size_t k = 0; k < x.re.size(); ++k) top = std::max(top, std::fabs(x.re[k]) + std::fabs(x.im[k]));
  return top;
}

// A random upper Hessenberg matrix, every element times scale.
Vec hessenberg(std::mt19937_64& rng, int n, double scale) {
  std::uniform_real_distribution<double> u(-1, 1);
  Vec h(size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = std::max(i - 1, 0); j < n; ++j) h[i * n + j] = u(rng) * scale;
  return h;
}

TEST(HessenbergEigvec, RandomRealMatricesAtEveryScale) {
  std::mt19937_64 rng(2024);
  for (int n : {1, 2, 3, 7, 20, 60})
    for (double scale : {1e-250, 1e-15, 1.0, 1e15, 1e250}) {
      const Vec h = hessenberg(rng, n, scale);
      // The eigenvalue kernel works at unit scale; the vectors do not care.
      Vec unit = h, wr(n), wi(n);
      for (double& v : unit) v /= scale;
      ASSERT_TRUE(numk_hessenberg_eigvals(unit.data(), n, kEps, wr.data(), wi.data()));
      for (int k = 0; k < n; ++k) {
        const Vector x = eigvec(h, nullptr, n, wr[k] * scale, wi[k] * scale);
        EXPECT_TRUE(x.grown) << n << " " << scale << " " << k;
        EXPECT_NEAR(largest(x), 1.0, 4 * kEps);
        EXPECT_LE(residual(h, nullptr, n, wr[k] * scale, wi[k] * scale, x), 20 * n * kEps)
            << n << " " << scale << " " << k;
        if (wi[k] == 0) {
          for (double v : x.im) EXPECT_EQ(v, 0.0);
        }
      }
    }
}

TEST(HessenbergEigvec, ConjugateEigenvaluesGiveConjugateVectors) {
  std::mt19937_64 rng(7);
  const int n = 12;
  const Vec h = hessenberg(rng, n, 1.0);
  Vec work = h, wr(n), wi(n);
  ASSERT_TRUE(numk_hessenberg_eigvals(work.data(), n, kEps, wr.data(), wi.data()));
  int pairs = 0;
  for (int k = 0; k < n; ++k) {
    if (wi[k] <= 0) continue;
    const Vector a = eigvec(h, nullptr, n, wr[k], wi[k]), b = eigvec(h, nullptr, n, wr[k], -wi[k]);
    EXPECT_EQ(a.re, b.re);
    for (int i = 0; i < n; ++i) EXPECT_EQ(a.im[i], -b.im[i]);
    ++pairs;
  }
  EXPECT_GT(pairs, 0);
}

TEST(HessenbergEigvec, RandomComplexMatrices) {
  std::mt19937_64 rng(99);
  for (int n : {1, 2, 5, 30})
    for (double scale : {1e-200, 1.0, 1e200}) {
      const Vec re = hessenberg(rng, n, scale), im = hessenberg(rng, n, scale);
      Vec ur = re, ui = im, wr(n), wi(n);
      for (int k = 0; k < n * n; ++k) ur[k] /= scale, ui[k] /= scale;
      ASSERT_TRUE(numk_hessenberg_eigvals_complex_wide(ur.data(), ui.data(), n, wr.data(), wi.data()));
      for (int k = 0; k < n; ++k) {
        const Vector x = eigvec(re, &im, n, wr[k] * scale, wi[k] * scale);
        EXPECT_TRUE(x.grown);
        EXPECT_NEAR(largest(x), 1.0, 4 * kEps);
        EXPECT_LE(residual(re, &im, n, wr[k] * scale, wi[k] * scale, x), 20 * n * kEps) << n << " " << k;
      }
    }
}

TEST(HessenbergEigvec, ExactEigenvaluesAndSpecialMatrices) {
  // Triangular: each diagonal element is exact, its pivot 0.
  const Vec t = {1, 2, 3, 0, 4, 5, 0, 0, 6};
  for (double l : {1.0, 4.0, 6.0}) {
    const Vector x = eigvec(t, nullptr, 3, l, 0);
    EXPECT_TRUE(x.grown);
    EXPECT_LE(residual(t, nullptr, 3, l, 0, x), 4 * kEps) << l;
  }
  // The zero matrix: any vector is one; the answer is a unit vector.
  const Vector z = eigvec(Vec(9, 0.0), nullptr, 3, 0, 0);
  EXPECT_TRUE(z.grown);
  EXPECT_NEAR(largest(z), 1.0, 4 * kEps);
  // 1 x 1.
  const Vector one = eigvec({-2.5}, nullptr, 1, -2.5, 0);
  EXPECT_EQ(one.re, Vec{1.0});
  EXPECT_EQ(one.im, Vec{0.0});
  // A shift far from the eigenvalues never grows: the last try, scaled, and false.
  const Vector far = eigvec(t, nullptr, 3, 100, 0);
  EXPECT_FALSE(far.grown);
  EXPECT_NEAR(largest(far), 1.0, 4 * kEps);
}

// A nearly defective pair (eigenvalues 1e-8 apart, each known to about
// 3e-9): inverse iteration draws x to an exact eigenvector, whose residual
// for the computed eigenvalue is that 3e-9, and must say so (eig then takes
// the vector of least residual from the SVD). A graded triangular matrix
// must get the vectors of its small block exactly, not those the large
// element's rounding would allow.
TEST(HessenbergEigvec, NearlyDefectiveAndGradedMatrices) {
  const Vec a = {0.453665216937867877, -1.30404570684239740, 0.254253748364062282, 1.60528756649998483};
  Vec work = a, wr(2), wi(2);
  ASSERT_TRUE(numk_hessenberg_eigvals(work.data(), 2, kEps, wr.data(), wi.data()));
  for (int k = 0; k < 2; ++k) {
    const Vector x = eigvec(a, nullptr, 2, wr[k], wi[k]);
    EXPECT_GT(residual(a, nullptr, 2, wr[k], wi[k], x), 1e-10) << k;
    EXPECT_FALSE(x.grown) << k;
  }
  const Vec g = {1e20, 0, 0, 0, 1, 1, 0, 0, 2};
  const struct {
    double lambda;
    Vec want;
  } kGraded[] = {{1, {0, 1, 0}}, {2, {0, 1, 1}}, {1e20, {1, 0, 0}}};
  for (const auto& c : kGraded) {
    const Vector x = eigvec(g, nullptr, 3, c.lambda, 0);
    EXPECT_TRUE(x.grown) << c.lambda;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(std::fabs(x.re[i]), c.want[i], 4 * kEps) << c.lambda << " " << i;
  }
}

}  // namespace
