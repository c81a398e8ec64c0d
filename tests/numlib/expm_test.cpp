// Matrix exponential kernels: the scaling rule (observable through the scaled
// input they leave behind), known exponentials, exp(A) exp(-A) = I, and
// stiff, mixed-unit, shifted and moderate matrices against mpmath.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "numlib/expm.h"

namespace {

using Mat = std::vector<double>;

Mat expm_real(Mat a, int n, Mat* scaled = nullptr) {
  Mat e(size_t(n) * n), work(numk_expm_work_real(n));
  numk_expm_real(a.data(), n, e.data(), work.data());
  if (scaled) *scaled = a;
  return e;
}

Mat expm_complex(Mat a, int n) {
  Mat e(2 * size_t(n) * n), work(numk_expm_work_complex(n));
  numk_expm_complex(a.data(), n, e.data(), work.data());
  return e;
}

Mat product(const Mat& x, const Mat& y, int n, bool cplx) {
  const size_t nn = size_t(n) * n;
  Mat out(cplx ? 2 * nn : nn, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int l = 0; l < n; ++l) {
        const size_t p = size_t(i) * n + l, q = size_t(l) * n + j, r = size_t(i) * n + j;
        if (!cplx) {
          out[r] += x[p] * y[q];
        } else {
          out[r] += x[p] * y[q] - x[nn + p] * y[nn + q];
          out[nn + r] += x[p] * y[nn + q] + x[nn + p] * y[q];
        }
      }
  return out;
}

TEST(Expm, ZeroMatrixGivesIdentityWithoutScaling) {
  Mat scaled;
  Mat e = expm_real(Mat(9, 0.0), 3, &scaled);
  EXPECT_EQ(e, (Mat{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(scaled, Mat(9, 0.0));
}

TEST(Expm, ScalingFollowsTheInfinityNorm) {
  Mat scaled;
  expm_real({0.25, 0.25, 0, 0.5}, 2, &scaled);  // norm exactly 0.5: s = 2
  EXPECT_EQ(scaled, (Mat{0.125, 0.125, 0, 0.25}));
  expm_real({0.2, 0.2, 0, 0.4}, 2, &scaled);  // norm 0.4: not scaled
  EXPECT_EQ(scaled, (Mat{0.2, 0.2, 0, 0.4}));

  Mat e = expm_real({1.0}, 1, &scaled);  // norm 1: s = 4, two squarings
  EXPECT_EQ(scaled[0], 0.25);
  EXPECT_NEAR(e[0], 2.718281828459045, 4e-15);

  // Beyond 2^30 the scale follows the norm: 2^41 is the first power of two
  // whose half exceeds 1e12.
  e = expm_real({-1e12}, 1, &scaled);
  EXPECT_EQ(scaled[0], -1e12 / std::ldexp(1.0, 41));
  EXPECT_EQ(e[0], 0.0);
  e = expm_real({-700}, 1, &scaled);  // decayed far below 1, to full precision
  EXPECT_NEAR(e[0], 9.8596765437597708e-305, 2e-12 * 9.8596765437597708e-305);

  // A NaN or infinite norm passes no test: the scale stays at 2^30.
  expm_real({NAN, 1, 0, 1}, 2, &scaled);
  EXPECT_EQ(scaled[1], std::ldexp(1.0, -30));
  expm_real({INFINITY, 1, 0, 1}, 2, &scaled);
  EXPECT_EQ(scaled[3], std::ldexp(1.0, -30));
}

TEST(Expm, KnownExponentials) {
  Mat e = expm_real({0, 1, 0, 0}, 2);
  EXPECT_NEAR(e[0], 1, 1e-15);
  EXPECT_NEAR(e[1], 1, 1e-15);
  EXPECT_NEAR(e[2], 0, 1e-15);
  EXPECT_NEAR(e[3], 1, 1e-15);

  Mat a = {1, 0, 0, 2}, out(4), work(numk_expm_work_real(2));
  numk_scalar_pow_matrix_real(2.0, a.data(), 2, out.data(), work.data());
  EXPECT_NEAR(out[0], 2, 1e-14);
  EXPECT_NEAR(out[3], 4, 1e-14);
  EXPECT_NEAR(out[1], 0, 1e-14);

  Mat c = expm_complex({0, M_PI}, 1);  // exp(i pi)
  EXPECT_NEAR(c[0], -1, 1e-14);
  EXPECT_NEAR(c[1], 0, 1e-14);

  Mat z = {1, 0}, zo(2), zw(numk_expm_work_complex(1));
  numk_scalar_pow_matrix_complex(0, 1, z.data(), 1, zo.data(), zw.data());  // i^1
  EXPECT_NEAR(zo[0], 0, 1e-14);
  EXPECT_NEAR(zo[1], 1, 1e-14);

  // A negative base has no real logarithm.
  Mat neg = {1}, no(1), nw(numk_expm_work_real(1));
  numk_scalar_pow_matrix_real(-2.0, neg.data(), 1, no.data(), nw.data());
  EXPECT_TRUE(std::isnan(no[0]));
}

TEST(Expm, NormsOfRowsAndNaN) {
  Mat a = {1, -2, 0.5, 0.5};
  EXPECT_EQ(numk_norm_inf_real(a.data(), 2), 3.0);
  EXPECT_EQ(numk_norm_inf_real(nullptr, 0), 0.0);
  Mat re = {3, 0}, im = {4, 0};
  EXPECT_EQ(numk_norm_inf_complex(re.data(), im.data(), 1), 5.0);
  Mat with_nan = {1, NAN, 5, 5};
  EXPECT_TRUE(std::isnan(numk_norm_inf_real(with_nan.data(), 2)));
}

TEST(Expm, ProductWithNegativeIsIdentity) {
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> d(-1.5, 1.5);
  for (int n : {1, 2, 3, 5, 8, 13}) {
    for (bool cplx : {false, true}) {
      const size_t nn = size_t(n) * n;
      Mat a(cplx ? 2 * nn : nn);
      for (auto& x : a) x = d(rng);
      Mat neg = a;
      for (auto& x : neg) x = -x;
      Mat p = cplx ? expm_complex(a, n) : expm_real(a, n);
      Mat q = cplx ? expm_complex(neg, n) : expm_real(neg, n);
      Mat id = product(p, q, n, cplx);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          EXPECT_NEAR(id[size_t(i) * n + j], i == j ? 1.0 : 0.0, 1e-11) << n << " " << cplx;
          if (cplx) {
            EXPECT_NEAR(id[nn + size_t(i) * n + j], 0.0, 1e-11);
          }
        }
    }
  }
}

TEST(Expm, ComplexKernelAgreesWithRealOnRealInput) {
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> d(-2, 2);
  const int n = 6;
  Mat a(n * n);
  for (auto& x : a) x = d(rng);
  Mat ac = a;
  ac.resize(2 * a.size(), 0.0);
  Mat er = expm_real(a, n), ec = expm_complex(ac, n);
  for (int i = 0; i < n * n; ++i) {
    EXPECT_NEAR(er[i], ec[i], 1e-12 * (1 + std::fabs(er[i])));
    EXPECT_NEAR(ec[n * n + i], 0.0, 1e-12);
  }
}

struct Reference {
  const char* label;
  int n;
  bool cplx;
  Mat a, e, d;
};

const Reference kReferences[] = {
#include "expm_reference.inc"
};

// Largest error over largest element, both taken in the units the matrix
// was made in (element (i, j) divided by d_i / d_j), so that the smallest
// elements of a mixed-unit matrix count as much as the largest.
double unit_error(const Reference& r, const Mat& e) {
  const size_t nn = size_t(r.n) * r.n;
  double err = 0, big = 0;
  for (int i = 0; i < r.n; ++i)
    for (int j = 0; j < r.n; ++j) {
      const size_t k = size_t(i) * r.n + j;
      const double s = r.d[j] / r.d[i];
      const std::complex<double> x(e[k], r.cplx ? e[nn + k] : 0), want(r.e[k], r.cplx ? r.e[nn + k] : 0);
      err = std::fmax(err, std::abs(x - want) * s);
      big = std::fmax(big, std::abs(want) * s);
    }
  return err / big;
}

TEST(Expm, StiffAndMixedUnitMatricesAgainstReference) {
  // Stiff matrices of norms 2^29 to 1e12 (mixed units; triangular with rates
  // from 1 to 1e12), exponentials far from 1, and moderate matrices, whose
  // accuracy must not suffer from the rest.
  constexpr double kEps = 0x1p-52;
  const struct {
    std::string label;
    double tolerance;
  } groups[] = {{"kinetics", 1e-12}, {"units", 1e-12}, {"triangular", 1e-12}, {"shifted", 4e-12},
                {"moderate", 64 * kEps}};
  for (const auto& g : groups) {
    double worst = 0;
    int count = 0;
    for (const Reference& r : kReferences) {
      if (g.label != r.label) continue;
      const Mat e = r.cplx ? expm_complex(r.a, r.n) : expm_real(r.a, r.n);
      const double err = unit_error(r, e);
      EXPECT_LE(err, g.tolerance) << r.label << " " << r.n << (r.cplx ? " complex" : " real") << " #" << count;
      worst = std::fmax(worst, err);
      ++count;
    }
    EXPECT_GT(count, 0) << g.label;
    RecordProperty("worst_" + g.label, std::to_string(worst));
  }
}

TEST(Expm, ExpOfMinusAIsTheInverseAtLargeNorms) {
  // The mixed-unit matrices once more, with -A: exp(A) exp(-A) = I in the
  // matrix's units.
  for (const Reference& r : kReferences) {
    if (std::string(r.label) != "units") continue;
    Mat neg = r.a;
    for (auto& x : neg) x = -x;
    const Mat p = r.cplx ? expm_complex(r.a, r.n) : expm_real(r.a, r.n);
    const Mat q = r.cplx ? expm_complex(neg, r.n) : expm_real(neg, r.n);
    const Mat id = product(p, q, r.n, r.cplx);
    const size_t nn = size_t(r.n) * r.n;
    for (int i = 0; i < r.n; ++i)
      for (int j = 0; j < r.n; ++j) {
        const double s = r.d[j] / r.d[i];
        EXPECT_NEAR(id[size_t(i) * r.n + j] * s, i == j ? 1.0 : 0.0, 1e-9) << r.n;
        if (r.cplx) {
          EXPECT_NEAR(id[nn + size_t(i) * r.n + j] * s, 0.0, 1e-9);
        }
      }
  }
}

}  // namespace
