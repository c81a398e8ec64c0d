// Polynomial roots: the worked examples, random real and complex polynomials
// up to degree 30 against reference roots (as multisets) through the companion
// matrix and through the Laguerre fallbacks forced by the test hook, poly of
// the roots against the coefficients, and characteristic polynomials.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "numlib/polyroots.h"
#include "support/dense_model.h"

namespace {

using model::cd;
using Vec = std::vector<double>;

const std::string kRefDir = TN_NUMLIB_REFDATA;

// Laguerre stops once a step is below about 1e-9 and deflates without
// polishing, so its roots are good to that order, not to rounding.
double root_tol(bool fallback) { return fallback ? 1e-5 : 1e-7; }
double coeff_tol(bool fallback) { return fallback ? 1e-5 : 1e-10; }

// Sets the test hooks for one scope.
struct HookScope {
  RootsTestHooks saved = roots_test_hooks();
  HookScope(bool force, int32_t iterations = 200) {
    roots_test_hooks().force_fallback = force;
    roots_test_hooks().laguerre_iterations = iterations;
  }
  ~HookScope() { roots_test_hooks() = saved; }
};

struct Roots {
  int32_t flag = -1;
  Vec re, im;
  std::vector<cd> z() const { return model::zip(re.data(), im.data(), re.size()); }
};

Roots real_roots(Vec p) {
  const int n = int(p.size()) - 1;
  Roots r;
  r.re.assign(n, -99);
  r.im.assign(n, -99);
  Vec work(roots_real_work(n));
  r.flag = roots_real_coeffs(p.data(), n, r.re.data(), r.im.data(), work.data());
  return r;
}

Roots complex_roots(Vec pr, Vec pi) {
  const int n = int(pr.size()) - 1;
  Roots r;
  r.re.assign(n, -99);
  r.im.assign(n, -99);
  Vec work(roots_complex_work(n));
  roots_complex_coeffs(pr.data(), pi.data(), n, r.re.data(), r.im.data(), work.data());
  return r;
}

double max_modulus(const std::vector<cd>& z) {
  double m = 1.0;
  for (const cd& x : z) m = std::max(m, std::abs(x));
  return m;
}

// Expands the roots again and compares with p / p(0).
double poly_error(const Roots& r, const Vec& pr, const Vec* pi) {
  const int n = int(r.re.size());
  Vec qr(n + 1), qi(n + 1);
  numk_poly_from_roots(r.re.data(), r.im.data(), n, qr.data(), qi.data());
  const cd lead(pr[0], pi ? (*pi)[0] : 0.0);
  double err = 0, scale = 0;
  for (int k = 0; k <= n; ++k) {
    const cd want = cd(pr[k], pi ? (*pi)[k] : 0.0) / lead;
    err = std::max(err, std::abs(cd(qr[k], qi[k]) - want));
    scale = std::max(scale, std::abs(want));
  }
  return err / scale;
}

TEST(PolyRoots, WorkedExamples) {
  Roots r = real_roots({1, 0, 1});
  EXPECT_EQ(r.re, (Vec{0, 0}));
  EXPECT_EQ(r.im, (Vec{1, -1}));
  EXPECT_EQ(r.flag, 1);
  r = real_roots({1, 0, 0});
  EXPECT_EQ(r.re, (Vec{0, 0}));
  EXPECT_EQ(r.im, (Vec{0, 0}));
  EXPECT_EQ(r.flag, 0);
  r = real_roots({3, 1, NAN});  // a NaN constant term is no zero: no root is known
  EXPECT_TRUE(std::isnan(r.re[0]) && std::isnan(r.re[1]));
  EXPECT_EQ(r.im, (Vec{0, 0}));
  EXPECT_EQ(r.flag, 0);

  Vec p(3);
  numk_poly_from_real_roots(Vec{1, 2}.data(), 2, p.data());
  EXPECT_EQ(p, (Vec{1, -3, 2}));
  Vec pr(3), pi(3);
  EXPECT_TRUE(numk_poly_from_roots(Vec{0, 0}.data(), Vec{1, -1}.data(), 2, pr.data(), pi.data()));
  EXPECT_EQ(pr, (Vec{1, 0, 1}));
  EXPECT_EQ(pi, (Vec{0, 0, 0}));
  EXPECT_FALSE(numk_poly_from_roots(Vec{0}.data(), Vec{1}.data(), 1, pr.data(), pi.data()));
  EXPECT_EQ(pr[0], 1);
  EXPECT_EQ(pr[1], 0);
  EXPECT_EQ(pi[1], -1);
  // Pairing looks at imaginary parts only, each partner used once.
  Vec p5(5), i5(5);
  EXPECT_TRUE(numk_poly_from_roots(Vec{1, 5, 2, 3}.data(), Vec{2, -2, 2, -2}.data(), 4, p5.data(), i5.data()));
  EXPECT_FALSE(numk_poly_from_roots(Vec{1, 5, 2}.data(), Vec{2, -2, 2}.data(), 3, p5.data(), i5.data()));
  EXPECT_FALSE(numk_poly_from_roots(Vec{1, 1}.data(), Vec{NAN, NAN}.data(), 2, p5.data(), i5.data()));

  Vec a = {2, 0, 0, 3}, cp(3), work(numk_charpoly_work(2));
  EXPECT_TRUE(numk_charpoly(a.data(), 2, cp.data(), work.data()));
  EXPECT_EQ(cp, (Vec{1, -5, 6}));

  // A negative discriminant too small to count: a double real root, result 1.
  Vec q = {1, -2, 1 + std::ldexp(1.0, -50)}, qre(2), qim(2);
  EXPECT_EQ(poly_roots_real(q.data(), 2, qre.data(), qim.data()), 1);
  EXPECT_EQ(qre, (Vec{1, 1}));
  EXPECT_EQ(qim, (Vec{0, 0}));
}

TEST(PolyRoots, ComplexLinearAndZeroCases) {
  // (1 + i) x - (3 + i): root (3 + i) / (1 + i) = 2 - i.
  Roots r = complex_roots({1, -3}, {1, -1});
  EXPECT_DOUBLE_EQ(r.re[0], 2);
  EXPECT_DOUBLE_EQ(r.im[0], -1);
  // A zero leading coefficient: NaN when the numerator is complex ...
  r = complex_roots({0, 1}, {0, 1});
  EXPECT_TRUE(std::isnan(r.re[0]) && std::isnan(r.im[0]));
  // ... else c_re / 0 with a zero imaginary part.
  r = complex_roots({0, -1}, {0, 0});
  EXPECT_EQ(r.re[0], INFINITY);
  EXPECT_EQ(r.im[0], 0);
  // Trailing zeros are roots 0 at the end.
  r = complex_roots({1, 0, 0, 0}, {0, 2, 0, 0});
  EXPECT_EQ(r.re[1], 0);
  EXPECT_EQ(r.re[2], 0);
  EXPECT_NEAR(r.re[0], 0, 1e-15);
  EXPECT_NEAR(r.im[0], -2, 1e-15);
}

TEST(PolyRoots, RealAgainstReferenceRoots) {
  const auto recs = model::read_records(kRefDir + "/roots_real.txt");
  ASSERT_GE(recs.size(), 4u * 30);
  for (bool fallback : {false, true}) {
    HookScope hooks(fallback);
    for (size_t at = 0; at + 3 < recs.size(); at += 4) {
      const int n = int(recs[at][0]);
      const Vec& p = recs[at + 1];
      const auto want = model::zip(recs[at + 2].data(), recs[at + 3].data(), n);
      SCOPED_TRACE(testing::Message() << "n=" << n << " fallback=" << fallback);
      Roots r = real_roots(p);
      EXPECT_LE(model::multiset_distance(r.z(), want), root_tol(fallback) * max_modulus(want));
      bool any_complex = false;
      for (double x : r.im) any_complex |= x != 0.0;
      EXPECT_EQ(r.flag, any_complex ? 1 : 0);
      EXPECT_LE(poly_error(r, p, nullptr), coeff_tol(fallback));
    }
  }
}

TEST(PolyRoots, ComplexAgainstReferenceRoots) {
  const auto recs = model::read_records(kRefDir + "/roots_complex.txt");
  ASSERT_GE(recs.size(), 5u * 15);
  for (bool fallback : {false, true}) {
    HookScope hooks(fallback);
    for (size_t at = 0; at + 4 < recs.size(); at += 5) {
      const int n = int(recs[at][0]);
      const Vec &pr = recs[at + 1], &pi = recs[at + 2];
      const auto want = model::zip(recs[at + 3].data(), recs[at + 4].data(), n);
      SCOPED_TRACE(testing::Message() << "n=" << n << " fallback=" << fallback);
      Roots r = complex_roots(pr, pi);
      EXPECT_LE(model::multiset_distance(r.z(), want), root_tol(fallback) * max_modulus(want));
      // The reference's own roots rebuild the degree-30 record only to 3e-10:
      // within twice that is as good as it gets there.
      Roots ref;
      ref.re = recs[at + 3];
      ref.im = recs[at + 4];
      EXPECT_LE(poly_error(r, pr, &pi), std::max(coeff_tol(fallback), 2 * poly_error(ref, pr, &pi)));
    }
  }
}

// Polynomials built from known, well separated roots (conjugate pairs for
// real coefficients) give those roots back on every path.
TEST(PolyRoots, RandomKnownRoots) {
  std::mt19937_64 rng(41);
  std::uniform_real_distribution<double> u(-3, 3);
  for (int n = 1; n <= 12; ++n) {
    for (int rep = 0; rep < 4; ++rep) {
      std::vector<cd> roots;
      while (int(roots.size()) < n) {
        cd z(u(rng), u(rng));
        bool pair = int(roots.size()) + 2 <= n && rep % 2 == 0;
        if (!pair) z = z.real();
        bool close = false;
        for (const cd& w : roots) close |= std::abs(w - z) < 0.25 || std::abs(w - std::conj(z)) < 0.25;
        if (close || (pair && std::fabs(z.imag()) < 0.25)) continue;
        roots.push_back(z);
        if (pair) roots.push_back(std::conj(z));
      }
      Vec rr(n), ri(n), pr(n + 1), pi(n + 1);
      for (int k = 0; k < n; ++k) {
        rr[k] = roots[k].real();
        ri[k] = roots[k].imag();
      }
      ASSERT_TRUE(numk_poly_from_roots(rr.data(), ri.data(), n, pr.data(), pi.data()));
      for (double& c : pr) c *= 3.0;  // the leading coefficient is not 1
      for (bool fallback : {false, true}) {
        HookScope hooks(fallback);
        SCOPED_TRACE(testing::Message() << "n=" << n << " rep=" << rep << " fb=" << fallback);
        const double tol = fallback ? 1e-6 : 1e-8;
        EXPECT_LE(model::multiset_distance(real_roots(pr).z(), roots), tol);
        // The same polynomial times (1 + 2i) as a complex one; with real
        // coefficients taken as complex the real fallback runs.
        Vec cr(n + 1), ci(n + 1);
        for (int k = 0; k <= n; ++k) {
          cr[k] = pr[k];
          ci[k] = 2 * pr[k];
        }
        EXPECT_LE(model::multiset_distance(complex_roots(cr, ci).z(), roots), tol);
        EXPECT_LE(model::multiset_distance(complex_roots(pr, Vec(n + 1, 0.0)).z(), roots), tol);
      }
    }
  }
}

TEST(PolyRoots, ExhaustedStartsStillGiveEveryRoot) {
  HookScope hooks(true, 0);  // no Laguerre iteration ever converges
  Roots r = real_roots({1, 2, 3, 4, 5, 6});
  // Each Laguerre root is the last start, 29; the final quadratic is solved.
  EXPECT_EQ(r.re[4], 29);
  EXPECT_EQ(r.re[3], 29);
  EXPECT_EQ(r.re[2], 29);
  EXPECT_EQ(r.im[4], 0);
  Roots c = complex_roots({1, 2, 3, 4}, {1, 0, 0, 0});
  EXPECT_EQ(c.re[2], 29);
  EXPECT_EQ(c.im[2], -1);
  EXPECT_EQ(c.re[1], 29);
  for (double x : c.re) EXPECT_FALSE(std::isnan(x));
}

// A NaN or infinite coefficient anywhere (either part of a complex one)
// leaves no root to find: every root is NaN, real for real coefficients, in
// both parts for complex ones. The companion iteration and the Laguerre
// steps used to turn such a polynomial into ordinary-looking roots.
TEST(PolyRoots, NonFiniteCoefficientsGiveNaNRoots) {
  std::mt19937_64 rng(9);
  for (int n = 1; n <= 6; ++n)
    for (int at = 0; at <= n; ++at)
      for (double x : {double(NAN), double(INFINITY), -double(INFINITY)})
        for (bool fallback : {false, true}) {
          HookScope hooks(fallback);
          SCOPED_TRACE(testing::Message() << "n=" << n << " at=" << at << " x=" << x << " fallback=" << fallback);
          Vec p = model::random_vec(rng, size_t(n) + 1);
          p[at] = x;
          const Roots r = real_roots(p);
          EXPECT_EQ(r.flag, 0);
          for (int k = 0; k < n; ++k) EXPECT_TRUE(std::isnan(r.re[k]) && r.im[k] == 0) << k;
          for (int part = 0; part < 2; ++part) {
            Vec pr = model::random_vec(rng, size_t(n) + 1), pi = model::random_vec(rng, size_t(n) + 1);
            (part ? pi : pr)[at] = x;
            const Roots c = complex_roots(pr, pi);
            for (int k = 0; k < n; ++k) EXPECT_TRUE(std::isnan(c.re[k]) && std::isnan(c.im[k])) << k;
          }
        }
}

// The characteristic polynomial of a matrix holding NaN or Inf: the leading
// 1, then NaN (both parts for a complex matrix), never the zeros of an
// eigenvalue shortcut.
TEST(CharPoly, NonFiniteMatricesGiveNaNCoefficients) {
  std::mt19937_64 rng(3);
  for (int n = 1; n <= 5; ++n)
    for (int at = 0; at < n * n; ++at)
      for (double x : {double(NAN), double(INFINITY)}) {
        SCOPED_TRACE(testing::Message() << "n=" << n << " at=" << at << " x=" << x);
        Vec a = model::random_vec(rng, size_t(n) * n), ai = model::random_vec(rng, size_t(n) * n);
        Vec ar = a;
        a[at] = x;
        ai[at] = x;
        Vec p(n + 1), work(numk_charpoly_work(n)), pr(n + 1), pi(n + 1);
        std::vector<int32_t> perm(n);
        numk_charpoly(a.data(), n, p.data(), work.data());
        numk_charpoly_complex(ar.data(), ai.data(), n, pr.data(), pi.data(), perm.data());
        EXPECT_EQ(p[0], 1);
        EXPECT_EQ(pr[0], 1);
        EXPECT_EQ(pi[0], 0);
        for (int k = 1; k <= n; ++k) {
          EXPECT_TRUE(std::isnan(p[k])) << k;
          EXPECT_TRUE(std::isnan(pr[k]) && std::isnan(pi[k])) << k;
        }
      }
}

TEST(CharPoly, RealAndComplexMatrices) {
  std::mt19937_64 rng(42);
  for (int n = 1; n <= 8; ++n) {
    Vec a = model::random_vec(rng, size_t(n) * n), a2 = a, zero(size_t(n) * n, 0.0);
    Vec p(n + 1), work(numk_charpoly_work(n)), pr(n + 1), pi(n + 1);
    std::vector<int32_t> perm(n);
    numk_charpoly(a.data(), n, p.data(), work.data());
    numk_charpoly_complex(a2.data(), zero.data(), n, pr.data(), pi.data(), perm.data());
    for (int k = 0; k <= n; ++k) {
      EXPECT_NEAR(p[k], pr[k], 1e-10) << n << " " << k;
      EXPECT_NEAR(pi[k], 0.0, 1e-10);
    }
  }

  // Complex matrices: the roots of the characteristic polynomial are the
  // reference eigenvalues (small orders: the reduction is not orthogonal).
  const auto recs = model::read_records(kRefDir + "/eig_complex.txt");
  for (size_t at = 0; at + 4 < recs.size(); at += 5) {
    const int n = int(recs[at][0]);
    if (n > 7) continue;
    Vec ar = recs[at + 1], ai = recs[at + 2], pr(n + 1), pi(n + 1);
    std::vector<int32_t> perm(n);
    numk_charpoly_complex(ar.data(), ai.data(), n, pr.data(), pi.data(), perm.data());
    const auto want = model::zip(recs[at + 3].data(), recs[at + 4].data(), n);
    EXPECT_LE(model::multiset_distance(complex_roots(pr, pi).z(), want), 1e-8) << n;
  }

  // Zero pivots split the matrix into blocks whose polynomials multiply:
  // diag(i, 2, -1) gives (x - i)(x - 2)(x + 1) = x^3 - (1 + i)x^2 + (-2 + i)x + 2i.
  Vec dr = {0, 0, 0, 0, 2, 0, 0, 0, -1}, di = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  Vec pr(4), pi(4);
  std::vector<int32_t> perm(3);
  numk_charpoly_complex(dr.data(), di.data(), 3, pr.data(), pi.data(), perm.data());
  EXPECT_EQ(pr, (Vec{1, -1, -2, 0}));
  EXPECT_EQ(pi, (Vec{0, -1, 1, 2}));
  // Block upper triangular: [[1, 2, 5], [3, 4, 6], [0, 0, 7]].
  Vec br = {1, 2, 5, 3, 4, 6, 0, 0, 7}, bi(9, 0.0);
  numk_charpoly_complex(br.data(), bi.data(), 3, pr.data(), pi.data(), perm.data());
  // (x^2 - 5x - 2)(x - 7) = x^3 - 12x^2 + 33x + 14
  const Vec want = {1, -12, 33, 14};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(pr[k], want[k], 1e-12);
    EXPECT_EQ(pi[k], 0);
  }
}

}  // namespace
