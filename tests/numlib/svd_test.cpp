// SVD kernels: singular values against LAPACK's (refdata/singular_values.txt),
// and for every shape the invariants of the factors: A = U S V^T (V^H), the
// orthonormal columns, non-negative decreasing values. Work arrays are sized
// exactly by the kernels' own size functions, so the sanitizers see overruns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numlib/svd.h"

namespace {

using Mat = std::vector<double>;
constexpr double kEps = 2.220446049250313e-16;

struct RefCase {
  std::string name;
  bool cplx = false;
  int m = 0, n = 0;
  Mat re, im, values;
};

std::vector<RefCase> load_cases() {
  std::ifstream in(std::string(TN_NUMLIB_REFDATA) + "/singular_values.txt");
  std::vector<RefCase> cases;
  std::string word;
  while (in >> word) {
    if (word == "#") {
      std::getline(in, word);
      continue;
    }
    RefCase c;
    std::string kind;
    in >> c.name >> kind >> c.m >> c.n;
    c.cplx = kind == "complex";
    c.re.resize(size_t(c.m) * c.n);
    for (double& x : c.re) in >> x;
    c.im.assign(c.re.size(), 0.0);
    if (c.cplx)
      for (double& x : c.im) in >> x;
    size_t k = 0;
    in >> word >> k;
    c.values.resize(k);
    for (double& x : c.values) in >> x;
    cases.push_back(std::move(c));
  }
  return cases;
}

const std::vector<RefCase>& ref_cases() {
  static const std::vector<RefCase> cases = load_cases();
  return cases;
}

// Tolerance scaled by the size and the largest singular value.
double tol_for(int m, int n, double smax) {
  return 64 * kEps * std::max(m, n) * std::max(smax, 1e-300);
}

// Random m x n complex test matrix: every third one an exact low-rank product
// of small integer matrices, so that singular values come out exactly zero;
// every third one with a zero column, half of those with a zero row too.
void random_matrix(std::mt19937_64& gen, int trial, int m, int n, Mat& re, Mat& im) {
  std::normal_distribution<double> nd;
  const size_t mn = size_t(m) * n;
  re.assign(mn, 0.0), im.assign(mn, 0.0);
  if (trial % 3 == 1) {
    const int r = 1 + int(gen() % std::min(m, n));
    Mat l(size_t(2 * m) * r), rt(size_t(r) * n);  // real and imaginary left factors
    for (double& x : l) x = double(int(gen() % 5) - 2);
    for (double& x : rt) x = double(int(gen() % 5) - 2);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j)
        for (int q = 0; q < r; ++q) {
          re[size_t(i) * n + j] += l[size_t(i) * r + q] * rt[size_t(q) * n + j];
          im[size_t(i) * n + j] += l[size_t(m + i) * r + q] * rt[size_t(q) * n + j];
        }
    return;
  }
  for (size_t k = 0; k < mn; ++k) re[k] = nd(gen), im[k] = nd(gen);
  const int zc = int(gen() % n), zr = int(gen() % m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j)
      if ((trial % 3 == 2 && j == zc) || (trial % 6 == 5 && i == zr))
        re[size_t(i) * n + j] = im[size_t(i) * n + j] = 0.0;
}

// Largest |X^H X - I| over the first count columns of X (rows x cols); xi
// empty for a real X.
double unitarity_error(const Mat& xr, const Mat& xi, int rows, int cols, int count) {
  double err = 0.0;
  for (int p = 0; p < count; ++p)
    for (int q = 0; q < count; ++q) {
      double dr = 0.0, di = 0.0;
      for (int r = 0; r < rows; ++r) {
        const size_t a = size_t(r) * cols + p, b = size_t(r) * cols + q;
        dr += xr[a] * xr[b];
        if (!xi.empty()) {
          dr += xi[a] * xi[b];
          di += xr[a] * xi[b] - xi[a] * xr[b];
        }
      }
      err = std::max(err, std::hypot(dr - (p == q ? 1.0 : 0.0), di));
    }
  return err;
}

struct RealSvd {
  Mat u, w, v;
  bool ok;
};

RealSvd run_real(const Mat& a, int m, int n, bool with_v) {
  RealSvd r{a, Mat(n), with_v ? Mat(size_t(n) * n) : Mat(), false};
  Mat work(svd_work_real(n, with_v));
  r.ok = svd_decompose(r.u.data(), m, n, r.w.data(), with_v ? r.v.data() : nullptr, work.data());
  return r;
}

void check_real_factors(const Mat& a, int m, int n, const RealSvd& r) {
  ASSERT_TRUE(r.ok);
  const double tol = tol_for(m, n, r.w.empty() ? 0.0 : r.w[0]);
  for (int j = 0; j < n; ++j) {
    EXPECT_GE(r.w[j], 0.0);
    if (j > 0) {
      EXPECT_GE(r.w[j - 1], r.w[j]);
    }
  }
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      double x = 0.0;
      for (int k = 0; k < n; ++k) x += r.u[size_t(i) * n + k] * r.w[k] * r.v[size_t(j) * n + k];
      EXPECT_NEAR(x, a[size_t(i) * n + j], tol) << "A(" << i << ", " << j << ")";
    }
  // A wide U has more columns than rows: only those of non-zero values count.
  int formed = n;
  if (m < n) formed = int(std::count_if(r.w.begin(), r.w.end(), [&](double x) { return x > tol; }));
  EXPECT_LT(unitarity_error(r.v, {}, n, n, n), 64 * kEps * n);
  EXPECT_LT(unitarity_error(r.u, {}, m, n, formed), 64 * kEps * std::max(m, n));
}

TEST(SvdReal, ReferenceValuesAndFactors) {
  int seen = 0;
  for (const RefCase& c : ref_cases()) {
    if (c.cplx) continue;
    ++seen;
    SCOPED_TRACE(c.name);
    const RealSvd r = run_real(c.re, c.m, c.n, true);
    check_real_factors(c.re, c.m, c.n, r);
    const double tol = tol_for(c.m, c.n, c.values[0]);
    for (size_t k = 0; k < c.values.size(); ++k) EXPECT_NEAR(r.w[k], c.values[k], tol);
    for (size_t k = c.values.size(); k < size_t(c.n); ++k) EXPECT_NEAR(r.w[k], 0.0, tol);
    // Without V the same iteration runs: the values agree to the bit.
    EXPECT_EQ(run_real(c.re, c.m, c.n, false).w, r.w);
  }
  EXPECT_GE(seen, 15);
}

TEST(SvdReal, RandomShapesAndRankDeficiency) {
  std::mt19937_64 gen(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int m = 1 + int(gen() % 10), n = 1 + int(gen() % 10);
    Mat a, unused;
    random_matrix(gen, trial, m, n, a, unused);
    SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << m << " x " << n);
    check_real_factors(a, m, n, run_real(a, m, n, true));
  }
}

TEST(SvdReal, ZeroMatrixGivesIdentityFactors) {
  const RealSvd r = run_real(Mat(12, 0.0), 4, 3, true);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.w, Mat(3, 0.0));
  EXPECT_EQ(r.u, (Mat{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(r.v, (Mat{1, 0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST(SvdReal, NonConvergenceIsReportedAndStaysInBounds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Mat a{1, 2, 3, nan, 5, 6, 7, 8, 9};
  EXPECT_FALSE(run_real(a, 3, 3, true).ok);
  EXPECT_FALSE(run_real(a, 3, 3, false).ok);
  Mat re{1, 2, nan, 4}, im(4, 0.0), s(2), work(svd_work_values_complex(2, 2));
  EXPECT_FALSE(svd_values_complex(re.data(), im.data(), 2, 2, s.data(), work.data()));
}

struct ComplexSvd {
  Mat ur, ui, vr, vi, s;
  bool ok;
};

ComplexSvd run_checked(const RefCase& c, int nu, int nv) {
  ComplexSvd r{Mat(size_t(c.m) * nu),
               Mat(size_t(c.m) * nu),
               Mat(size_t(c.n) * nv),
               Mat(size_t(c.n) * nv),
               Mat(c.n),
               false};
  Mat re = c.re, im = c.im, work(svd_work_checked(c.m, c.n, nu, nv));
  r.ok = svd_decompose_checked(re.data(), im.data(), c.m, c.n, r.s.data(), r.ur.data(), r.ui.data(),
                               nu, r.vr.data(), r.vi.data(), nv, work.data());
  return r;
}

void check_complex_factors(const RefCase& c, int nu, int nv) {
  SCOPED_TRACE(testing::Message() << c.name << ", nu " << nu << ", nv " << nv);
  const ComplexSvd r = run_checked(c, nu, nv);
  ASSERT_TRUE(r.ok);
  const int m = c.m, n = c.n, k = std::min(m, n);
  const double tol = tol_for(m, n, c.values[0]);
  for (int j = 0; j < n; ++j) {
    EXPECT_NEAR(r.s[j], j < k ? c.values[j] : 0.0, tol) << "s " << j;
    if (j > 0) {
      EXPECT_GE(r.s[j - 1], r.s[j]);
    }
  }
  // A = U(:, 1:k) diag(s) V(:, 1:k)^H
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      double xr = 0.0, xi = 0.0;
      for (int l = 0; l < k; ++l) {
        const size_t p = size_t(i) * nu + l, q = size_t(j) * nv + l;
        xr += r.s[l] * (r.ur[p] * r.vr[q] + r.ui[p] * r.vi[q]);
        xi += r.s[l] * (r.ui[p] * r.vr[q] - r.ur[p] * r.vi[q]);
      }
      EXPECT_NEAR(xr, c.re[size_t(i) * n + j], tol);
      EXPECT_NEAR(xi, c.im[size_t(i) * n + j], tol);
    }
  EXPECT_LT(unitarity_error(r.ur, r.ui, m, nu, nu), 64 * kEps * std::max(m, n));
  EXPECT_LT(unitarity_error(r.vr, r.vi, n, nv, nv), 64 * kEps * std::max(m, n));
}

TEST(SvdComplex, ReferenceValuesAndFactorsForEveryFactorShape) {
  int seen = 0;
  for (const RefCase& c : ref_cases()) {
    if (!c.cplx) continue;
    ++seen;
    const int k = std::min(c.m, c.n);
    check_complex_factors(c, k, k);      // economy
    check_complex_factors(c, c.m, c.n);  // full
    check_complex_factors(c, k, c.n);
  }
  EXPECT_GE(seen, 10);
}

TEST(SvdComplex, NarrowFactorsAreTheLeadingColumnsOfFullOnes) {
  for (const RefCase& c : ref_cases()) {
    if (!c.cplx) continue;
    SCOPED_TRACE(c.name);
    // Only a wide matrix may have U narrower than n.
    const ComplexSvd full = run_checked(c, c.m, c.n),
                     narrow = run_checked(c, c.m < c.n ? 1 : c.m, 1);
    ASSERT_TRUE(full.ok && narrow.ok);
    EXPECT_EQ(narrow.s, full.s);
    for (int j = 0; j < c.n; ++j) {
      EXPECT_EQ(narrow.vr[j], full.vr[size_t(j) * c.n]);
      EXPECT_EQ(narrow.vi[j], full.vi[size_t(j) * c.n]);
    }
    if (c.m < c.n)
      for (int i = 0; i < c.m; ++i) {
        EXPECT_EQ(narrow.ur[i], full.ur[size_t(i) * c.m]);
        EXPECT_EQ(narrow.ui[i], full.ui[size_t(i) * c.m]);
      }
  }
}

TEST(SvdComplex, RandomShapesAndRankDeficiency) {
  std::mt19937_64 gen(13);
  for (int trial = 0; trial < 300; ++trial) {
    RefCase c;
    c.name = "trial " + std::to_string(trial);
    c.cplx = true;
    c.m = 1 + int(gen() % 9), c.n = 1 + int(gen() % 9);
    random_matrix(gen, trial, c.m, c.n, c.re, c.im);
    // Reference values from the embedding kernel, itself checked against LAPACK.
    Mat s(c.n), work(svd_work_values_complex(c.m, c.n));
    ASSERT_TRUE(svd_values_complex(c.re.data(), c.im.data(), c.m, c.n, s.data(), work.data()));
    const int k = std::min(c.m, c.n);
    c.values.assign(s.begin(), s.begin() + k);
    check_complex_factors(c, k, k);
    check_complex_factors(c, c.m, c.n);
    check_complex_factors(c, k, c.n);
  }
}

TEST(SvdComplex, EmbeddingAgreesWithReferenceAndTheOtherKernels) {
  for (const RefCase& c : ref_cases()) {
    SCOPED_TRACE(c.name);
    Mat s(c.n), work(svd_work_values_complex(c.m, c.n));
    ASSERT_TRUE(svd_values_complex(c.re.data(), c.im.data(), c.m, c.n, s.data(), work.data()));
    const double tol = tol_for(c.m, c.n, c.values[0]);
    for (int j = 0; j < c.n; ++j)
      EXPECT_NEAR(s[j], j < int(c.values.size()) ? c.values[j] : 0.0, tol);
    if (!c.cplx) {
      const Mat w = run_real(c.re, c.m, c.n, false).w;
      for (int j = 0; j < c.n; ++j) EXPECT_NEAR(s[j], w[j], tol);
    } else {  // the values alone, without U or V, as the full kernel gives them
      Mat re = c.re, im = c.im, s2(c.n), w2(svd_work_checked(c.m, c.n, 0, 0));
      ASSERT_TRUE(svd_decompose_checked(re.data(), im.data(), c.m, c.n, s2.data(), nullptr, nullptr,
                                        0, nullptr, nullptr, 0, w2.data()));
      for (int j = 0; j < c.n; ++j) EXPECT_NEAR(s2[j], s[j], tol);
    }
  }
}

TEST(SvdComplex, ZeroMatrixGivesIdentityFactors) {
  const RefCase zero{"zero", true, 3, 2, Mat(6, 0.0), Mat(6, 0.0), {0.0, 0.0}};
  const ComplexSvd r = run_checked(zero, 3, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.s, Mat(2, 0.0));
  EXPECT_EQ(r.ur, (Mat{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(r.ui, Mat(9, 0.0));
  EXPECT_EQ(r.vr, (Mat{1, 0, 0, 1}));
}

TEST(SvdComplex, WideWithZeroRowsKeepsUUnitary) {
  // Exact zero values whose left vectors must stay within the m rows of U.
  const RefCase cases[] = {
      {"2x3", true, 2, 3, {0, 0, 0, 0, 0, -2}, {0, 0, 0, 0, 0, 0}, {2, 0}},
      {"2x4", true, 2, 4, {0, 0, 0, 0, 0, 0, -1, -2}, Mat(8, 0.0), {std::sqrt(5.0), 0}},
      {"2x3i", true, 2, 3, {0, 0, 0, 0, 0, 4}, {0, 0, 0, 0, 0, 2}, {std::sqrt(20.0), 0}},
  };
  for (const RefCase& c : cases) {
    check_complex_factors(c, 2, 2);
    check_complex_factors(c, 2, c.n);
  }
}

TEST(SvdComplex, RejectsFactorShapesItCannotForm) {
  Mat re(12, 1.0), im(12, 0.0), s(3, -7.0), u(12 * 4), v(9), work(svd_work_checked(4, 3, 4, 3));
  // Tall matrix, U narrower than n: the rotations would run past its columns.
  EXPECT_FALSE(svd_decompose_checked(re.data(), im.data(), 4, 3, s.data(), u.data(), u.data(), 2,
                                     v.data(), v.data(), 3, work.data()));
  EXPECT_FALSE(svd_decompose_checked(re.data(), im.data(), 4, 3, s.data(), u.data(), u.data(), 5,
                                     v.data(), v.data(), 3, work.data()));
  EXPECT_FALSE(svd_decompose_checked(re.data(), im.data(), 4, 3, s.data(), u.data(), u.data(), 4,
                                     v.data(), v.data(), 4, work.data()));
  EXPECT_EQ(s, Mat(3, -7.0));
  EXPECT_EQ(re, Mat(12, 1.0));
}

TEST(SvdComplex, NonConvergenceIsReported) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const RefCase c{"nan", true, 3, 3, {1, 2, 3, 4, nan, 6, 7, 8, 9}, Mat(9, 0.5), {1, 1, 1}};
  EXPECT_FALSE(run_checked(c, 3, 3).ok);
}

}  // namespace
