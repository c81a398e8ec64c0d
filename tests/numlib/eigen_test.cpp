// Eigenvalue kernels: the worked cases, eigenvalues of random real and complex
// matrices (through the elimination/QR kernel and both Schur forms) against
// reference values from an independent library, Jacobi by A V = V diag(d) with
// V orthogonal, and balancing by its examples and the exactness of D^-1 A D;
// the wide kernels for companion matrices on the same references and on
// matrices whose elements span the exponent range.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "numlib/eigen.h"
#include "numlib/householder.h"
#include "numlib/schur.h"
#include "support/dense_model.h"

namespace {

using model::cd;
using model::Mat;
using Vec = std::vector<double>;

const std::string kRefDir = TN_NUMLIB_REFDATA;

struct EigResult {
  bool ok;
  Vec wr, wi;
};

EigResult eig_real(Vec a, int n) {
  EigResult r{false, Vec(n, -7), Vec(n, -7)};
  std::vector<int32_t> piv(n);
  r.ok = numk_eig_real(a.data(), n, piv.data(), r.wr.data(), r.wi.data());
  return r;
}

// Pairs stand next to each other, positive imaginary part first.
void expect_pairs_adjacent(const EigResult& r) {
  const size_t n = r.wr.size();
  for (size_t k = 0; k < n; ++k) {
    if (r.wi[k] == 0.0) continue;
    ASSERT_LT(k + 1, n);
    EXPECT_GT(r.wi[k], 0.0) << k;
    EXPECT_EQ(r.wr[k + 1], r.wr[k]);
    EXPECT_EQ(r.wi[k + 1], -r.wi[k]);
    ++k;
  }
}

TEST(EigenReal, WorkedCases) {
  EigResult r = eig_real(Vec(9, 0.0), 3);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.wr, Vec(3, 0.0));
  EXPECT_EQ(r.wi, Vec(3, 0.0));
  r = eig_real({-4.25}, 1);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.wr, Vec{-4.25});
  r = eig_real({0, 1, -1, 0}, 2);
  EXPECT_EQ(r.wr, (Vec{0, 0}));
  EXPECT_EQ(r.wi, (Vec{1, -1}));
  EXPECT_TRUE(eig_real({}, 0).ok);

  // The elimination leaves small orders alone and records its pivots.
  Vec a = {1, 2, 3, 4}, a0 = a;
  std::vector<int32_t> piv = {-1, -1};
  numk_hessenberg_elim(a.data(), 2, piv.data());
  EXPECT_EQ(a, a0);
  EXPECT_EQ(piv, (std::vector<int32_t>{-1, -1}));
  Vec b = {1, 1, 1, 1, 1, 1, 4, 1, 1};
  piv = {-1, -1, -1};
  numk_hessenberg_elim(b.data(), 3, piv.data());
  EXPECT_EQ(piv[0], -1);  // never written
  EXPECT_EQ(piv[1], 2);
  EXPECT_EQ(b[2 * 3 + 0], 0.25);  // the multiplier stays below the subdiagonal
}

TEST(EigenReal, BudgetExhaustionLeavesNaN) {
  Vec a = {1, INFINITY, 0, 1, 1, 1, 0, 1, 1};
  EigResult r = eig_real(a, 3);
  EXPECT_FALSE(r.ok);
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(std::isnan(r.wr[k])) << k;
    EXPECT_TRUE(std::isnan(r.wi[k])) << k;
  }
}

// NaN, Inf or -Inf at any place of a random matrix, structured ones included
// (zero columns below a pivot leave an element among the multipliers the
// iteration never reads): no eigenvalue comes out, every one NaN, result
// false. The old zero-norm shortcut answered zeros for a NaN.
TEST(EigenReal, NonFiniteElementsGiveNaNEverywhere) {
  std::mt19937_64 rng(77);
  const double bad[] = {NAN, INFINITY, -INFINITY};
  for (int n = 1; n <= 6; ++n) {
    for (int shape = 0; shape < 3; ++shape) {
      Vec base = model::random_vec(rng, size_t(n) * n);
      if (shape == 1) base.assign(base.size(), 0.0);                            // zero matrix
      if (shape == 2)                                                           // upper triangular
        for (int i = 0; i < n; ++i)
          for (int j = 0; j < i; ++j) base[size_t(i) * n + j] = 0.0;
      for (size_t at = 0; at < base.size(); ++at)
        for (double x : bad) {
          Vec a = base;
          a[at] = x;
          SCOPED_TRACE(testing::Message() << "n=" << n << " shape=" << shape << " at=" << at << " x=" << x);
          const EigResult r = eig_real(a, n);
          EXPECT_FALSE(r.ok);
          for (int k = 0; k < n; ++k) EXPECT_TRUE(std::isnan(r.wr[k]) && std::isnan(r.wi[k])) << k;
        }
    }
  }
  // The Hessenberg iteration alone, handed a NaN in its band.
  Vec h = {1, 2, 3, NAN, 5, 6, 0, 8, 9}, wr(3), wi(3);
  EXPECT_FALSE(numk_hessenberg_eigvals(h.data(), 3, 0x1p-52, wr.data(), wi.data()));
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isnan(wr[k]) && std::isnan(wi[k]));
}

TEST(EigenReal, AgainstReferenceValues) {
  const auto recs = model::read_records(kRefDir + "/eig_real.txt");
  ASSERT_GE(recs.size(), 4u * 16);
  for (size_t at = 0; at + 3 < recs.size(); at += 4) {
    const int n = int(recs[at][0]);
    const Vec& a = recs[at + 1];
    const auto want = model::zip(recs[at + 2].data(), recs[at + 3].data(), n);
    const double tol = 1e-10 * model::norm1(model::from_real(a.data(), n, n));
    SCOPED_TRACE(testing::Message() << "n=" << n);

    EigResult r = eig_real(a, n);
    ASSERT_TRUE(r.ok);
    expect_pairs_adjacent(r);
    EXPECT_LE(model::multiset_distance(model::zip(r.wr.data(), r.wi.data(), n), want), tol);

    // The diagonal of the complex Schur form, through the real form and
    // directly on the matrix taken as complex. Balanced first, as the callers
    // do: the orthogonal iterations are accurate in the norm of what they get.
    Vec b = a, d(n);
    numk_balance(b.data(), nullptr, n, d.data());
    Vec t = b, ti(size_t(n) * n), w(2 * n);
    ASSERT_TRUE(la_schur_real(t.data(), n, nullptr, nullptr, w.data()));
    la_schur_real_to_complex(t.data(), ti.data(), nullptr, nullptr, n);
    std::vector<cd> diag(n);
    for (int k = 0; k < n; ++k) diag[k] = cd(t[k * n + k], ti[k * n + k]);
    EXPECT_LE(model::multiset_distance(diag, want), tol);
    t = b;
    std::fill(ti.begin(), ti.end(), 0.0);
    ASSERT_TRUE(la_schur_complex(t.data(), ti.data(), n, nullptr, nullptr, w.data()));
    for (int k = 0; k < n; ++k) diag[k] = cd(t[k * n + k], ti[k * n + k]);
    EXPECT_LE(model::multiset_distance(diag, want), tol);
  }
}

TEST(EigenComplex, SchurAgainstReferenceValues) {
  const auto recs = model::read_records(kRefDir + "/eig_complex.txt");
  ASSERT_GE(recs.size(), 5u * 9);
  for (size_t at = 0; at + 4 < recs.size(); at += 5) {
    const int n = int(recs[at][0]);
    Vec ar = recs[at + 1], ai = recs[at + 2], w(2 * n);
    const auto want = model::zip(recs[at + 3].data(), recs[at + 4].data(), n);
    const double tol = 1e-10 * model::norm1(model::from_split(ar.data(), ai.data(), n, n));
    SCOPED_TRACE(testing::Message() << "n=" << n);
    ASSERT_TRUE(la_schur_complex(ar.data(), ai.data(), n, nullptr, nullptr, w.data()));
    std::vector<cd> diag(n);
    for (int k = 0; k < n; ++k) diag[k] = cd(ar[k * n + k], ai[k * n + k]);
    EXPECT_LE(model::multiset_distance(diag, want), tol);
  }
}

TEST(EigenSymmetric, DiagonalReturnsAtOnce) {
  Vec a = {3, 0, 0, 0, -1, 0, 0, 0, 2}, d(3), v(9, 5.0), w(6);
  numk_eig_symmetric(a.data(), 3, d.data(), v.data(), w.data());
  EXPECT_EQ(d, (Vec{3, -1, 2}));
  EXPECT_EQ(v, (Vec{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  Vec one = {7}, d1(1), w1(2);
  numk_eig_symmetric(one.data(), 1, d1.data(), nullptr, w1.data());
  EXPECT_EQ(d1[0], 7);
}

// A NaN or infinite element of the upper triangle (the part read) makes
// every value and every vector element NaN; a NaN off the diagonal used to
// fail the rotation threshold and leave the diagonal as the answer.
TEST(EigenSymmetric, NonFiniteElementsGiveNaN) {
  std::mt19937_64 rng(5);
  for (int n = 1; n <= 5; ++n)
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j)
        for (double x : {double(NAN), double(INFINITY), -double(INFINITY)}) {
          Vec a = model::random_vec(rng, size_t(n) * n);
          a[size_t(i) * n + j] = a[size_t(j) * n + i] = x;
          Vec d(n), v(size_t(n) * n), w(2 * size_t(n));
          numk_eig_symmetric(a.data(), n, d.data(), v.data(), w.data());
          SCOPED_TRACE(testing::Message() << "n=" << n << " at " << i << "," << j << " x=" << x);
          for (double e : d) EXPECT_TRUE(std::isnan(e));
          for (double e : v) EXPECT_TRUE(std::isnan(e));
        }
}

TEST(EigenSymmetric, RandomMatricesGiveOrthogonalEigenvectors) {
  std::mt19937_64 rng(31);
  for (int n : {2, 3, 5, 8, 13, 21, 30}) {
    for (int rep = 0; rep < 3; ++rep) {
      Vec a = model::random_vec(rng, size_t(n) * n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) a[i * n + j] = a[j * n + i];
      if (rep == 2)  // I + ones: the eigenvalue 1 repeated n-1 times
        for (int i = 0; i < n; ++i)
          for (int j = 0; j < n; ++j) a[i * n + j] = (i == j ? 1.0 : 0.0) + 1.0;
      const Mat a0 = model::from_real(a.data(), n, n);
      Vec work_a = a, d(n), v(size_t(n) * n), w(2 * n);
      // Poison the lower triangle: only the upper one may be read.
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) work_a[i * n + j] = NAN;
      numk_eig_symmetric(work_a.data(), n, d.data(), v.data(), w.data());
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) EXPECT_TRUE(std::isnan(work_a[i * n + j]));
      const Mat vm = model::from_real(v.data(), n, n);
      Mat vd = vm;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) vd(i, j) *= d[j];
      SCOPED_TRACE(testing::Message() << "n=" << n << " rep=" << rep);
      EXPECT_LT(model::unitarity_error(vm), 1e-13);
      EXPECT_LT(model::max_diff(model::mul(a0, vm), vd), 1e-13 * n * model::max_abs(a0));
    }
  }
}

TEST(Balance, WorkedExamples) {
  Vec a = {1, 1024, 1.0 / 1024, 1}, d(2);
  numk_balance(a.data(), nullptr, 2, d.data());
  EXPECT_EQ(d, (Vec{64, 0.125}));
  EXPECT_EQ(a, (Vec{1, 2, 0.5, 1}));
  a = {1, 100, 1, 1};
  numk_balance(a.data(), nullptr, 2, d.data());
  EXPECT_EQ(d, (Vec{8, 1}));
  EXPECT_EQ(a, (Vec{1, 12.5, 8, 1}));
  // A zero row (index 1) or a zero column (index 0 of the second) keeps d = 1.
  Vec z = {1, 1000, 0, 0}, dz(2);
  numk_balance(z.data(), nullptr, 2, dz.data());
  EXPECT_EQ(dz[1], 1);
  Vec zc = {0, 5, 0, 5}, dzc(2);
  numk_balance(zc.data(), nullptr, 2, dzc.data());
  EXPECT_EQ(dzc[0], 1);
}

TEST(Balance, RandomIllScaledMatricesAreScaledExactly) {
  std::mt19937_64 rng(32);
  for (int n : {3, 6, 11, 20}) {
    for (bool cplx : {false, true}) {
      Vec ar = model::random_vec(rng, size_t(n) * n), ai = model::random_vec(rng, size_t(n) * n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          const double f = std::ldexp(1.0, (i - j) * 60 / n);
          ar[i * n + j] *= f;
          ai[i * n + j] *= f;
        }
      Vec br = ar, bi = ai, d(n);
      numk_balance(br.data(), cplx ? bi.data() : nullptr, n, d.data());
      double before = 0, after = 0;
      for (int i = 0; i < n; ++i) {
        int e;
        EXPECT_EQ(std::frexp(d[i], &e), 0.5) << "not a power of two: " << d[i];
        for (int j = 0; j < n; ++j) {
          const size_t k = size_t(i) * n + j;
          EXPECT_EQ(br[k], ar[k] * d[j] / d[i]);
          if (cplx) {
            EXPECT_EQ(bi[k], ai[k] * d[j] / d[i]);
          }
          before += std::fabs(ar[k]);
          after += std::fabs(br[k]);
        }
      }
      EXPECT_LT(after, before);
      // Balanced: running it again changes nothing.
      Vec again = br, again_i = bi, d2(n);
      numk_balance(again.data(), cplx ? again_i.data() : nullptr, n, d2.data());
      EXPECT_EQ(d2, Vec(n, 1.0));
    }
  }
}

// The wide iterations on the reference matrices reduced to Hessenberg form
// (the real one by elimination, the complex one by reflections), balanced
// over the whole range first as roots does.
TEST(EigenWide, AgainstReferenceValues) {
  const auto real_recs = model::read_records(kRefDir + "/eig_real.txt");
  for (size_t at = 0; at + 3 < real_recs.size(); at += 4) {
    const int n = int(real_recs[at][0]);
    Vec a = real_recs[at + 1], d(n), wr(n), wi(n), zero(size_t(n) * n, 0.0);
    const auto want = model::zip(real_recs[at + 2].data(), real_recs[at + 3].data(), n);
    const double tol = 1e-10 * model::norm1(model::from_real(a.data(), n, n));
    SCOPED_TRACE(testing::Message() << "real n=" << n);
    std::vector<int32_t> piv(n);
    numk_hessenberg_elim(a.data(), n, piv.data());
    for (int i = 0; i < n; ++i)
      for (int j = 0; j + 1 < i; ++j) a[i * n + j] = 0.0;
    Vec c = a, ci = zero;
    numk_balance_wide(a.data(), nullptr, n, d.data());
    ASSERT_TRUE(numk_hessenberg_eigvals_wide(a.data(), n, wr.data(), wi.data()));
    expect_pairs_adjacent(EigResult{true, wr, wi});
    EXPECT_LE(model::multiset_distance(model::zip(wr.data(), wi.data(), n), want), tol);
    // The complex iteration on the same real Hessenberg matrix.
    ASSERT_TRUE(numk_hessenberg_eigvals_complex_wide(c.data(), ci.data(), n, wr.data(), wi.data()));
    EXPECT_LE(model::multiset_distance(model::zip(wr.data(), wi.data(), n), want), tol);
  }
  const auto recs = model::read_records(kRefDir + "/eig_complex.txt");
  for (size_t at = 0; at + 4 < recs.size(); at += 5) {
    const int n = int(recs[at][0]);
    Vec ar = recs[at + 1], ai = recs[at + 2], w(2 * n), d(n), wr(n), wi(n);
    const auto want = model::zip(recs[at + 3].data(), recs[at + 4].data(), n);
    const double tol = 1e-10 * model::norm1(model::from_split(ar.data(), ai.data(), n, n));
    SCOPED_TRACE(testing::Message() << "complex n=" << n);
    la_hessenberg_complex(ar.data(), ai.data(), n, nullptr, nullptr, w.data());
    numk_balance_wide(ar.data(), ai.data(), n, d.data());
    ASSERT_TRUE(numk_hessenberg_eigvals_complex_wide(ar.data(), ai.data(), n, wr.data(), wi.data()));
    EXPECT_LE(model::multiset_distance(model::zip(wr.data(), wi.data(), n), want), tol);
  }
}

// Companion matrices whose first row spans the exponent range: the plain
// iteration took the unit subdiagonals for zeros beside such a row. Each
// root must come back to a few ulps, real and complex alike, and a NaN
// gives NaN everywhere.
TEST(EigenWide, CompanionMatricesAcrossTheRange) {
  struct Case {
    Vec p;
    Vec roots;
  };
  const Case cases[] = {
      {{1e-300, 1, 1}, {-1e300, -1}},
      {{1e-18, 1, -3, 2}, {-1e18, 2, 1}},
      {{1, -2800, 3220000, -1.96e9, 6.769e11, -1.3132e14, 1.3068e16, -5.04e17}, {700, 600, 500, 400, 300, 200, 100}},
      {{1, 0, -1e-200}, {1e-100, -1e-100}},
      {{1e100, -3e200, 2e300}, {2e100, 1e100}},
  };
  for (const Case& k : cases) {
    const int n = int(k.p.size()) - 1;
    SCOPED_TRACE(testing::Message() << "degree " << n << " lead " << k.p[0]);
    for (bool cplx : {false, true}) {
      Vec c(size_t(n) * n, 0.0), ci(size_t(n) * n, 0.0), d(n), wr(n), wi(n);
      for (int j = 0; j < n; ++j) c[j] = -k.p[j + 1] / k.p[0];
      for (int j = 1; j < n; ++j) c[j * n + j - 1] = 1.0;
      numk_balance_wide(c.data(), cplx ? ci.data() : nullptr, n, d.data());
      ASSERT_TRUE(cplx ? numk_hessenberg_eigvals_complex_wide(c.data(), ci.data(), n, wr.data(), wi.data())
                       : numk_hessenberg_eigvals_wide(c.data(), n, wr.data(), wi.data()));
      std::vector<cd> want(n);
      for (int j = 0; j < n; ++j) want[j] = k.roots[j];
      for (int j = 0; j < n; ++j) {
        double best = INFINITY;
        for (const cd& w : want) best = std::min(best, std::abs(cd(wr[j], wi[j]) - w) / std::abs(w));
        EXPECT_LE(best, 1e-10) << (cplx ? "complex " : "real ") << wr[j] << " " << wi[j];
      }
    }
  }
  Vec h = {1, NAN, 1, 2}, hi(4, 0.0), wr(2), wi(2);
  EXPECT_FALSE(numk_hessenberg_eigvals_complex_wide(h.data(), hi.data(), 2, wr.data(), wi.data()));
  EXPECT_TRUE(std::isnan(wr[0]) && std::isnan(wi[1]));
}

// Wide balancing reaches factors far beyond 2^49 and stays exact.
TEST(Balance, WideBalancingSpansTheRange) {
  std::mt19937_64 rng(33);
  for (int n : {3, 8, 17}) {
    for (bool cplx : {false, true}) {
      Vec ar = model::random_vec(rng, size_t(n) * n), ai = model::random_vec(rng, size_t(n) * n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          const double f = std::ldexp(1.0, (i - j) * 800 / n);
          ar[i * n + j] *= f;
          ai[i * n + j] *= f;
        }
      Vec br = ar, bi = ai, d(n);
      numk_balance_wide(br.data(), cplx ? bi.data() : nullptr, n, d.data());
      double big = 0;
      for (int i = 0; i < n; ++i) {
        int e;
        EXPECT_EQ(std::frexp(d[i], &e), 0.5) << "not a power of two: " << d[i];
        for (int j = 0; j < n; ++j) {
          const size_t k = size_t(i) * n + j;
          EXPECT_EQ(br[k], ar[k] * d[j] / d[i]);
          if (cplx) EXPECT_EQ(bi[k], ai[k] * d[j] / d[i]);
          big = std::max(big, std::fabs(br[k]));
        }
      }
      EXPECT_LT(big, 1e10) << "n " << n;  // from 2^800 down to the size of the diagonal
    }
  }
}

}  // namespace
