// Dense LU, solvers and determinants: the exact pivot and sign rules, and
// randomised systems checked by their residuals.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numlib/dense_lu.h"

namespace {

using Mat = std::vector<double>;

Mat random_matrix(std::mt19937_64& rng, int rows, int cols, double diag_boost = 0.0) {
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  Mat a(size_t(rows) * cols);
  for (auto& x : a) x = d(rng);
  for (int i = 0; i < rows && i < cols; ++i) a[size_t(i) * cols + i] += diag_boost;
  return a;
}

// max |A X - B| for real A (n x n), X and B (n x p).
double residual_left(const Mat& a, const Mat& x, const Mat& b, int n, int p) {
  double worst = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < p; ++j) {
      double s = 0;
      for (int l = 0; l < n; ++l) s += a[size_t(i) * n + l] * x[size_t(l) * p + j];
      worst = std::fmax(worst, std::fabs(s - b[size_t(i) * p + j]));
    }
  return worst;
}

Mat transpose(const Mat& a, int rows, int cols) {
  Mat t(a.size());
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) t[size_t(j) * rows + i] = a[size_t(i) * cols + j];
  return t;
}

TEST(DenseLu, FactorKeepsEarlierRowOnTiesAndNaNNeverWins) {
  Mat a = {1, 2, -1, 3};
  std::vector<uint32_t> perm(2);
  lu_factor_real(a.data(), 2, 2, perm.data());
  EXPECT_EQ(perm, (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(a, (Mat{1, 2, -1, 5}));

  // A NaN on the diagonal keeps its row and the column is skipped.
  Mat b = {NAN, 1, 5, 2};
  lu_factor_real(b.data(), 2, 2, perm.data());
  EXPECT_EQ(perm, (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(b[2], 5.0);
  EXPECT_EQ(b[3], 2.0);

  // Below the diagonal a NaN loses to every number.
  Mat c = {1, 0, NAN, 0, 3, 0};
  std::vector<uint32_t> p3(3);
  lu_factor_real(c.data(), 3, 2, p3.data());
  EXPECT_EQ(p3, (std::vector<uint32_t>{2, 1, 0}));
  EXPECT_EQ(c[0], 3.0);
}

TEST(DenseLu, FactorShapes) {
  Mat row = {0, 4, -2};
  std::vector<uint32_t> perm(3, 99);
  lu_factor_real(row.data(), 1, 3, perm.data());
  EXPECT_EQ(row, (Mat{0, 4, -2}));
  EXPECT_EQ(perm[0], 0u);

  Mat col = {1, -4, 2};
  lu_factor_real(col.data(), 3, 1, perm.data());
  EXPECT_EQ(col, (Mat{-4, -0.25, -0.5}));
  EXPECT_EQ(perm, (std::vector<uint32_t>{1, 0, 2}));
}

TEST(DenseLu, FactorComplexReconstruction) {
  std::mt19937_64 rng(7);
  for (auto [m, n] : {std::pair{5, 5}, {7, 4}, {4, 7}, {1, 1}, {12, 12}}) {
    Mat re0 = random_matrix(rng, m, n), im0 = random_matrix(rng, m, n);
    Mat re = re0, im = im0;
    std::vector<uint32_t> perm(m);
    lu_factor_complex(re.data(), im.data(), m, n, perm.data());
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) {
        double sr = 0, si = 0;
        for (int l = 0; l <= std::min(i, j) && l < std::min(m, n); ++l) {
          double lr = l == i ? 1.0 : re[size_t(i) * n + l];
          double li = l == i ? 0.0 : im[size_t(i) * n + l];
          double ur = re[size_t(l) * n + j], ui = im[size_t(l) * n + j];
          sr += lr * ur - li * ui;
          si += lr * ui + li * ur;
        }
        EXPECT_NEAR(sr, re0[size_t(perm[i]) * n + j], 1e-12);
        EXPECT_NEAR(si, im0[size_t(perm[i]) * n + j], 1e-12);
      }
  }
}

TEST(DenseLu, FactorRealReconstruction) {
  std::mt19937_64 rng(8);
  for (auto [m, n] : {std::pair{6, 6}, {8, 3}, {3, 8}}) {
    Mat a0 = random_matrix(rng, m, n), a = a0;
    std::vector<uint32_t> perm(m);
    lu_factor_real(a.data(), m, n, perm.data());
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0;
        for (int l = 0; l <= std::min(i, j) && l < std::min(m, n); ++l)
          s += (l == i ? 1.0 : a[size_t(i) * n + l]) * a[size_t(l) * n + j];
        EXPECT_NEAR(s, a0[size_t(perm[i]) * n + j], 1e-12) << m << "x" << n;
      }
  }
}

TEST(DenseLu, DeterminantRules) {
  std::vector<uint32_t> perm(4);
  double d = 0;
  Mat swap = {0, 1, 1, 0};
  det_real(swap.data(), &d, 2, perm.data());
  EXPECT_EQ(d, -1.0);

  Mat singular = {1, 2, 2, 4};
  det_real(singular.data(), &d, 2, perm.data());
  EXPECT_EQ(d, 0.0);
  EXPECT_TRUE(std::signbit(d));

  det_real(nullptr, &d, 0, perm.data());
  EXPECT_EQ(d, 1.0);
  double dr = 0, di = 5;
  det_complex(nullptr, nullptr, &dr, &di, 0, perm.data());
  EXPECT_EQ(dr, 1.0);
  EXPECT_EQ(di, 0.0);

  Mat tie = {1, 2, -1, 3};
  det_real(tie.data(), &d, 2, perm.data());
  EXPECT_EQ(d, 5.0);
  EXPECT_EQ(perm[0], 0u);

  // A NaN pivot stops the elimination: the determinant is NaN.
  Mat nan_col = {NAN, 1, NAN, 2};
  det_real(nan_col.data(), &d, 2, perm.data());
  EXPECT_TRUE(std::isnan(d));

  Mat re = {1, 0, 0, 2}, im = {1, 0, 0, 0};
  det_complex(re.data(), im.data(), &dr, &di, 2, perm.data());
  EXPECT_EQ(dr, 2.0);
  EXPECT_EQ(di, 2.0);

  Mat cre = {0, 1, 1, 0}, cim = {0, 0, 0, 0};
  det_complex(cre.data(), cim.data(), &dr, &di, 2, perm.data());
  EXPECT_EQ(dr, -1.0);
  EXPECT_EQ(di, 0.0);
}

TEST(DenseLu, DeterminantIsMultiplicative) {
  std::mt19937_64 rng(11);
  for (int n = 1; n <= 9; ++n) {
    Mat a = random_matrix(rng, n, n), b = random_matrix(rng, n, n), ab(size_t(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        for (int l = 0; l < n; ++l) ab[size_t(i) * n + j] += a[size_t(i) * n + l] * b[size_t(l) * n + j];
    std::vector<uint32_t> perm(n);
    double da, db, dab;
    det_real(a.data(), &da, n, perm.data());
    det_real(b.data(), &db, n, perm.data());
    det_real(ab.data(), &dab, n, perm.data());
    EXPECT_NEAR(da * db, dab, 1e-10 * (1 + std::fabs(dab))) << n;
  }
}

TEST(DenseLu, LeftSolverExamples) {
  std::vector<uint32_t> perm(2);
  Mat a = {2, 0, 0, 4}, b = {2, 4, 2, -8};  // [2+2i; 4-8i]
  linsolve_left_real(a.data(), b.data(), 2, 1, perm.data(), 1);
  EXPECT_EQ(b, (Mat{1, 1, 1, -2}));

  Mat a2 = {1, 2, 3, 4}, b2 = {5, 6};
  linsolve_left_real(a2.data(), b2.data(), 2, 1, perm.data(), 0);
  EXPECT_NEAR(b2[0], -4.0, 4e-15);  // the reciprocal pivot 1/3 rounds
  EXPECT_NEAR(b2[1], 4.5, 4e-15);

  Mat ar = {2, 0, 0, 4}, br = {2, 4};
  linsolve_right_real(ar.data(), br.data(), 2, 1, perm.data());
  EXPECT_EQ(br, (Mat{1, 1}));

  // Nothing happens for n = 0.
  Mat untouched = {7};
  linsolve_left_real(untouched.data(), untouched.data(), 0, 1, perm.data(), 0);
  EXPECT_EQ(untouched[0], 7.0);
}

TEST(DenseLu, LeftSolverPivotSkipsNaN) {
  std::vector<uint32_t> perm(3);
  // Column 0 holds NaN, 1, 3: row 2 is chosen, NaN never wins.
  Mat a = {NAN, 0, 0, 1, 1, 0, 3, 0, 1}, b = {1, 2, 3};
  linsolve_left_real(a.data(), b.data(), 3, 1, perm.data(), 0);
  EXPECT_EQ(perm[0], 2u);

  // A column of NaNs keeps the current position.
  Mat n2 = {NAN, 1, NAN, 2}, b2 = {1, 1};
  linsolve_left_real(n2.data(), b2.data(), 2, 1, perm.data(), 0);
  EXPECT_EQ(perm[0], 0u);
}

TEST(DenseLu, SingularSystemGivesNonFiniteWithoutFailing) {
  std::vector<uint32_t> perm(2);
  Mat a = {1, 2, 2, 4}, b = {1, 1};
  linsolve_left_real(a.data(), b.data(), 2, 1, perm.data(), 0);
  EXPECT_FALSE(std::isfinite(b[0]) && std::isfinite(b[1]));
}

TEST(DenseLu, RandomSystemsSolveAndBothSidesAgree) {
  std::mt19937_64 rng(1234);
  for (int n = 1; n <= 60; ++n) {
    const int p = 1 + n % 4;
    Mat a = random_matrix(rng, n, n, 2.0), b = random_matrix(rng, n, p);
    std::vector<uint32_t> perm(n);

    Mat work = a, x = b;
    linsolve_left_real(work.data(), x.data(), n, p, perm.data(), 0);
    EXPECT_LT(residual_left(a, x, b, n, p), 1e-12 * n) << n;

    // X A = B with B' = x': the right solver on A' must give x' again, with the
    // very same operations as the left solver, hence the same bits.
    Mat at = transpose(a, n, n), bt = transpose(b, n, p);
    Mat y = bt;
    linsolve_right_real(at.data(), y.data(), n, p, perm.data());
    EXPECT_EQ(transpose(y, p, n), x) << n;

    // Complex right-hand side with a real matrix: each block as a real solve.
    Mat bi = random_matrix(rng, n, p), both = b;
    both.insert(both.end(), bi.begin(), bi.end());
    Mat xi = bi;
    work = a;
    linsolve_left_real(work.data(), both.data(), n, p, perm.data(), 1);
    work = a;
    linsolve_left_real(work.data(), xi.data(), n, p, perm.data(), 0);
    EXPECT_EQ(Mat(both.begin(), both.begin() + n * p), x);
    EXPECT_EQ(Mat(both.begin() + n * p, both.end()), xi);
  }
}

TEST(DenseLu, RandomComplexSystems) {
  std::mt19937_64 rng(99);
  for (int n = 1; n <= 40; n += 3) {
    const int p = 2;
    Mat ar = random_matrix(rng, n, n, 2.0), ai = random_matrix(rng, n, n);
    Mat br = random_matrix(rng, n, p), bi = random_matrix(rng, n, p);
    Mat a = ar, b = br;
    a.insert(a.end(), ai.begin(), ai.end());
    b.insert(b.end(), bi.begin(), bi.end());
    std::vector<uint32_t> perm(n);
    Mat work = a, x = b;
    linsolve_left_complex(work.data(), x.data(), n, p, perm.data());
    double worst = 0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < p; ++j) {
        double sr = 0, si = 0;
        for (int l = 0; l < n; ++l) {
          double pr = ar[size_t(i) * n + l], pi = ai[size_t(i) * n + l];
          double qr = x[size_t(l) * p + j], qi = x[size_t(n) * p + size_t(l) * p + j];
          sr += pr * qr - pi * qi;
          si += pr * qi + pi * qr;
        }
        worst = std::fmax(worst, std::fabs(sr - br[size_t(i) * p + j]));
        worst = std::fmax(worst, std::fabs(si - bi[size_t(i) * p + j]));
      }
    EXPECT_LT(worst, 1e-12 * n) << n;

    // Right solver on the transposed problem agrees to rounding.
    Mat at = transpose(ar, n, n), ati = transpose(ai, n, n);
    at.insert(at.end(), ati.begin(), ati.end());
    Mat y = transpose(br, n, p), yi = transpose(bi, n, p);
    y.insert(y.end(), yi.begin(), yi.end());
    linsolve_right_complex(at.data(), y.data(), n, p, perm.data());
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < p; ++j) {
        const double xr = x[size_t(i) * p + j], xi = x[size_t(n) * p + size_t(i) * p + j];
        EXPECT_NEAR(y[size_t(j) * n + i], xr, 1e-12 * (1 + std::fabs(xr)));
        EXPECT_NEAR(y[size_t(p) * n + size_t(j) * n + i], xi, 1e-12 * (1 + std::fabs(xi)));
      }
  }
}

// The complex kernels on a matrix scaled by 2^k to the ends of the range give
// the unscaled results scaled exactly: pivots are chosen as at scale 1 (their
// squared moduli would overflow or underflow), and the pivot reciprocals and
// multipliers neither overflow nor flush.
TEST(DenseLu, ComplexKernelsScaleExactlyToTheEndsOfTheRange) {
  std::mt19937_64 rng(91);
  const int n = 6, p = 2;
  const Mat ar = random_matrix(rng, n, n), ai = random_matrix(rng, n, n);
  const Mat br = random_matrix(rng, n, p), bi = random_matrix(rng, n, p);
  auto join = [](const Mat& re, const Mat& im) {
    Mat m = re;
    m.insert(m.end(), im.begin(), im.end());
    return m;
  };
  auto scaled = [](Mat m, int k) {
    for (auto& x : m) x = std::ldexp(x, k);
    return m;
  };
  std::vector<uint32_t> perm0(n), perm(n);
  Mat lr0 = ar, li0 = ai;
  lu_factor_complex(lr0.data(), li0.data(), n, n, perm0.data());
  Mat x0 = join(br, bi), w = join(ar, ai);
  linsolve_left_complex(w.data(), x0.data(), n, p, perm.data());
  Mat y0 = join(transpose(br, n, p), transpose(bi, n, p));
  w = join(ar, ai);
  linsolve_right_complex(w.data(), y0.data(), n, p, perm.data());
  for (int k : {-1000, -996, -560, 560, 996, 1000}) {
    Mat lr = scaled(ar, k), li = scaled(ai, k);
    lu_factor_complex(lr.data(), li.data(), n, n, perm.data());
    EXPECT_EQ(perm, perm0) << k;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const size_t at = size_t(i) * n + j;
        const int u = j >= i ? k : 0;  // U scales, the multipliers of L do not
        ASSERT_EQ(lr[at], std::ldexp(lr0[at], u)) << k << " " << i << " " << j;
        ASSERT_EQ(li[at], std::ldexp(li0[at], u)) << k << " " << i << " " << j;
      }
    Mat x = join(br, bi);
    w = scaled(join(ar, ai), k);
    linsolve_left_complex(w.data(), x.data(), n, p, perm.data());
    EXPECT_EQ(x, scaled(x0, -k)) << k;
    Mat y = join(transpose(br, n, p), transpose(bi, n, p));
    w = scaled(join(ar, ai), k);
    linsolve_right_complex(w.data(), y.data(), n, p, perm.data());
    EXPECT_EQ(y, scaled(y0, -k)) << k;
  }
}

// det of [p q; r s] with its first row scaled by 2^k against ad - bc in long
// double, whose range holds every product.
TEST(DenseLu, ComplexDeterminantWithARowAtTheEndsOfTheRange) {
  std::mt19937_64 rng(92);
  std::uniform_real_distribution<double> part(-1.0, 1.0);
  std::vector<uint32_t> perm(2);
  for (int trial = 0; trial < 50; ++trial) {
    for (int k : {-1000, -996, -700, 700, 996, 1000}) {
      Mat re(4), im(4);
      for (int e = 0; e < 4; ++e) {
        re[e] = std::ldexp(part(rng), e < 2 ? k : 0);
        im[e] = std::ldexp(part(rng), e < 2 ? k : 0);
      }
      using L = long double;
      const L tr = L(re[0]) * re[3] - L(im[0]) * im[3] - (L(re[1]) * re[2] - L(im[1]) * im[2]);
      const L ti = L(re[0]) * im[3] + L(im[0]) * re[3] - (L(re[1]) * im[2] + L(im[1]) * re[2]);
      double dr = 0, di = 0;
      Mat wr = re, wi = im;
      det_complex(wr.data(), wi.data(), &dr, &di, 2, perm.data());
      const L err = std::hypot(L(dr) - tr, L(di) - ti);
      // The elimination's error is relative to the products of the entries.
      const L scale = std::hypot(L(re[0]), L(im[0])) * std::hypot(L(re[3]), L(im[3])) +
                      std::hypot(L(re[1]), L(im[1])) * std::hypot(L(re[2]), L(im[2]));
      ASSERT_LE(double(err / scale), 4 * 2.220446049250313e-16) << k;
    }
  }
}

}  // namespace
