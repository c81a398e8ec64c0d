// Schur iterations: the worked 1 x 1 and 2 x 2 cases, single steps, and on
// random, ill-scaled and companion matrices up to order 60 the checks that
// define the result: Q T Q^H = A, Q unitary, T (quasi-)triangular with exact
// zeros and 2 x 2 blocks only for complex pairs. NaN input exhausts the budget.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numlib/schur.h"
#include "support/dense_model.h"

namespace {

using model::cd;
using model::Mat;
using Vec = std::vector<double>;

// T real quasi-triangular with the structure the real Schur form promises;
// returns whether a 2 x 2 block remains.
bool check_real_structure(const Vec& t, int n) {
  bool has_block = false;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(t[i * n + j], 0.0) << i << "," << j;
  for (int i = 1; i < n; ++i) {
    const double g = t[i * n + i - 1];
    if (g == 0.0) continue;
    has_block = true;
    if (i + 1 < n) {
      EXPECT_EQ(t[(i + 1) * n + i], 0.0) << "consecutive subdiagonals at " << i;
    }
    const double a = t[(i - 1) * n + i - 1], b = t[(i - 1) * n + i], d = t[i * n + i];
    EXPECT_LT((a - d) * (a - d) + 4 * b * g, 0.0) << "real pair left in a block at " << i;
  }
  return has_block;
}

double tol_for(int n, double scale) { return 1e-13 * (n + 1) * std::max(scale, 1.0); }

// Runs the real Schur form, then the complex conversion, checking both.
void check_real_schur(const Vec& a, int n) {
  SCOPED_TRACE(testing::Message() << "real n=" << n);
  const Mat a0 = model::from_real(a.data(), n, n);
  const double scale = model::max_abs(a0);
  Vec t = a, q(size_t(n) * n), w(la_schur_work_real(n));
  uint8_t flag = 9;
  ASSERT_TRUE(la_schur_real(t.data(), n, q.data(), &flag, w.data()));
  EXPECT_EQ(flag, check_real_structure(t, n) ? 1 : 0);
  const Mat tm = model::from_real(t.data(), n, n), qm = model::from_real(q.data(), n, n);
  EXPECT_LT(model::unitarity_error(qm), 1e-14 * (n + 1));
  EXPECT_LT(model::max_diff(model::mul(model::mul(qm, tm), model::adjoint(qm)), a0), tol_for(n, scale));

  // Without Q the same T results.
  Vec t2 = a;
  ASSERT_TRUE(la_schur_real(t2.data(), n, nullptr, nullptr, w.data()));
  EXPECT_EQ(t, t2);

  Vec ti(size_t(n) * n, 5.0), qi(size_t(n) * n, 5.0);
  la_schur_real_to_complex(t.data(), ti.data(), q.data(), qi.data(), n);
  const Mat tc = model::from_split(t.data(), ti.data(), n, n);
  const Mat qc = model::from_split(q.data(), qi.data(), n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) EXPECT_EQ(tc(i, j), 0.0) << i << "," << j;
  EXPECT_LT(model::unitarity_error(qc), 1e-14 * (n + 1));
  EXPECT_LT(model::max_diff(model::mul(model::mul(qc, tc), model::adjoint(qc)), a0), tol_for(n, scale));
}

void check_complex_schur(const Vec& ar, const Vec& ai, int n) {
  SCOPED_TRACE(testing::Message() << "complex n=" << n);
  const Mat a0 = model::from_split(ar.data(), ai.data(), n, n);
  const double scale = model::max_abs(a0);
  Vec tr = ar, ti = ai, qr(size_t(n) * n), qi(size_t(n) * n), w(la_schur_work_complex(n));
  ASSERT_TRUE(la_schur_complex(tr.data(), ti.data(), n, qr.data(), qi.data(), w.data()));
  const Mat t = model::from_split(tr.data(), ti.data(), n, n);
  const Mat q = model::from_split(qr.data(), qi.data(), n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      if (j + 1 == i) {  // a block too small to rotate may keep its subdiagonal
        EXPECT_LE(std::abs(t(i, j)), 1e-12 * (std::abs(t(j, j)) + std::abs(t(i, i))));
      } else {
        EXPECT_EQ(t(i, j), 0.0) << i << "," << j;
      }
    }
  EXPECT_LT(model::unitarity_error(q), 1e-14 * (n + 1));
  EXPECT_LT(model::max_diff(model::mul(model::mul(q, t), model::adjoint(q)), a0), tol_for(n, scale));
}

TEST(Schur, WorkedSmallCases) {
  Vec w(8);
  uint8_t flag = 7;
  // Order 0 succeeds; order 1 returns at once with Q = 1.
  EXPECT_TRUE(la_schur_real(nullptr, 0, nullptr, &flag, w.data()));
  EXPECT_EQ(flag, 0);
  EXPECT_TRUE(la_schur_complex(nullptr, nullptr, 0, nullptr, nullptr, w.data()));
  Vec h1 = {-3.5}, q1 = {0}, i1 = {2}, qi1 = {7};
  EXPECT_TRUE(la_schur_real(h1.data(), 1, q1.data(), &flag, w.data()));
  EXPECT_EQ(h1[0], -3.5);
  EXPECT_EQ(q1[0], 1);
  EXPECT_TRUE(la_schur_complex(h1.data(), i1.data(), 1, q1.data(), qi1.data(), w.data()));
  EXPECT_EQ(i1[0], 2);
  EXPECT_EQ(q1[0], 1);
  EXPECT_EQ(qi1[0], 0);

  // Real eigenvalues: triangular, d + mu = 2 first.
  Vec h = {2, 0, 1, 1}, q(4);
  EXPECT_TRUE(la_schur_real(h.data(), 2, q.data(), &flag, w.data()));
  EXPECT_EQ(flag, 0);
  EXPECT_NEAR(h[0], 2, 1e-15);
  EXPECT_NEAR(h[3], 1, 1e-15);
  EXPECT_EQ(h[2], 0);

  // A complex pair keeps its block unchanged.
  Vec rot = {0, 1, -1, 0};
  h = rot;
  EXPECT_TRUE(la_schur_real(h.data(), 2, q.data(), &flag, w.data()));
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(h, rot);
  Vec hi(4);
  Vec qi(4);
  la_schur_real_to_complex(h.data(), hi.data(), q.data(), qi.data(), 2);
  EXPECT_NEAR(h[0], 0, 1e-15);
  EXPECT_NEAR(hi[0], 1, 1e-15);
  EXPECT_NEAR(h[3], 0, 1e-15);
  EXPECT_NEAR(hi[3], -1, 1e-15);
  EXPECT_EQ(h[2], 0);
  EXPECT_EQ(hi[2], 0);
  check_real_schur(rot, 2);

  // An upper triangular input needs no step: T is the input, Q the identity.
  Vec up = {1, 2, 3, 0, 4, 5, 0, 0, 6}, q3(9);
  h = up;
  EXPECT_TRUE(la_schur_real(h.data(), 3, q3.data(), &flag, w.data()));
  EXPECT_EQ(h, up);
  EXPECT_EQ(q3, (Vec{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  Vec upi = {0, 1, 0, 0, 0, 2, 0, 0, 0}, upi2 = upi, q3i(9);
  h = up;
  EXPECT_TRUE(la_schur_complex(h.data(), upi2.data(), 3, q3.data(), q3i.data(), w.data()));
  EXPECT_EQ(h, up);
  EXPECT_EQ(upi2, upi);
}

// One step, plain or perturbed, on an exactly Hessenberg matrix keeps
// Q H Q^H equal to the matrix it started from; a plain one keeps the form.
TEST(Schur, SingleStepsKeepTheSimilarity) {
  std::mt19937_64 rng(21);
  const int n = 7;
  Vec hess = model::random_vec(rng, n * n), hess_im = model::random_vec(rng, n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j + 1 < i; ++j) hess[i * n + j] = hess_im[i * n + j] = 0.0;
  Vec eye(n * n, 0.0);
  for (int i = 0; i < n; ++i) eye[i * n + i] = 1.0;
  for (double p : {0.0, 0.5}) {
    for (int l : {0, 2}) {
      SCOPED_TRACE(testing::Message() << "p=" << p << " l=" << l);
      // The active block rows l .. n-2 is cut off from its neighbours.
      hess[(n - 1) * n + n - 2] = hess_im[(n - 1) * n + n - 2] = 0.0;
      if (l > 0) hess[l * n + l - 1] = hess_im[l * n + l - 1] = 0.0;
      Vec h = hess, q = eye;
      la_schur_real_step(h.data(), n, l, 1, p, q.data());
      const Mat h1 = model::from_real(h.data(), n, n), q1 = model::from_real(q.data(), n, n);
      EXPECT_LT(model::unitarity_error(q1), 1e-14);
      EXPECT_LT(model::max_diff(model::mul(model::mul(q1, h1), model::adjoint(q1)),
                                model::from_real(hess.data(), n, n)),
                1e-13);
      if (p == 0.0) {
        for (int i = 0; i < n; ++i)
          for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(h[i * n + j], 0.0);
      }

      Vec cr = hess, ci = hess_im, qr = eye, qi(n * n, 0.0);
      la_schur_complex_step(cr.data(), ci.data(), n, l, 1, p, qr.data(), qi.data());
      const Mat c1 = model::from_split(cr.data(), ci.data(), n, n);
      const Mat qc = model::from_split(qr.data(), qi.data(), n, n);
      EXPECT_LT(model::unitarity_error(qc), 1e-14);
      EXPECT_LT(model::max_diff(model::mul(model::mul(qc, c1), model::adjoint(qc)),
                                model::from_split(hess.data(), hess_im.data(), n, n)),
                1e-13);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(c1(i, j), 0.0);
    }
  }
}

TEST(Schur, RandomMatrices) {
  std::mt19937_64 rng(22);
  for (int n = 2; n <= 60; n += (n < 10 ? 1 : 10)) {
    for (int rep = 0; rep < (n < 10 ? 6 : 2); ++rep) {
      Vec ar = model::random_vec(rng, size_t(n) * n), ai = model::random_vec(rng, size_t(n) * n);
      check_real_schur(ar, n);
      check_complex_schur(ar, ai, n);
    }
  }
  // Symmetric (all real eigenvalues) and integer matrices with repeated ones.
  for (int n : {5, 16}) {
    Vec s = model::random_vec(rng, size_t(n) * n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j) s[i * n + j] = s[j * n + i];
    check_real_schur(s, n);
    Vec ones(size_t(n) * n, 1.0), zeros(size_t(n) * n, 0.0);
    check_real_schur(ones, n);
    check_complex_schur(ones, zeros, n);
    check_real_schur(zeros, n);
  }
}

TEST(Schur, IllScaledAndCompanionMatrices) {
  std::mt19937_64 rng(23);
  for (int n : {4, 9, 20, 40}) {
    // D A D^-1 with D spanning about 24 orders of magnitude.
    Vec ar = model::random_vec(rng, size_t(n) * n), ai = model::random_vec(rng, size_t(n) * n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const double f = std::ldexp(1.0, (i - j) * 80 / n);
        ar[i * n + j] *= f;
        ai[i * n + j] *= f;
      }
    check_real_schur(ar, n);
    check_complex_schur(ar, ai, n);

    // Companion matrices of random polynomials.
    Vec cr(size_t(n) * n), ci(size_t(n) * n);
    Vec pr = model::random_vec(rng, n), pi = model::random_vec(rng, n);
    for (int k = 0; k < n; ++k) {
      cr[k] = pr[k];
      ci[k] = pi[k];
      if (k > 0) cr[k * n + k - 1] = 1.0;
    }
    check_real_schur(cr, n);
    check_complex_schur(cr, ci, n);
  }
  // The companion of x^n - 1: all roots on the unit circle, equal moduli.
  for (int n : {6, 13}) {
    Vec c(size_t(n) * n), ci(size_t(n) * n);
    c[n - 1] = 1.0;
    for (int k = 1; k < n; ++k) c[k * n + k - 1] = 1.0;
    check_real_schur(c, n);
    check_complex_schur(c, ci, n);
  }
}

TEST(Schur, NanExhaustsTheBudget) {
  for (int n : {3, 5}) {
    Vec a(size_t(n) * n, 1.0), ai(size_t(n) * n, 0.0), q(size_t(n) * n), qi(size_t(n) * n),
        w(2 * n);
    a[n] = NAN;
    Vec b = a;
    EXPECT_FALSE(la_schur_real(a.data(), n, q.data(), nullptr, w.data()));
    EXPECT_FALSE(la_schur_complex(b.data(), ai.data(), n, q.data(), qi.data(), w.data()));
  }
}

}  // namespace
