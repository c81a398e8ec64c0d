// The transfer-function kernel against std::complex evaluation at random
// points, and its documented answers for a zero denominator.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "numlib/control/tf_eval.h"

namespace {

TEST(TfEval, OneOverSPlusOneAtI) {
  const double num[] = {1}, den[] = {1, 1};
  double re, im;
  tf_eval_at_complex(num, 0, den, 1, 0, 1, &re, &im);
  EXPECT_DOUBLE_EQ(re, 0.5);
  EXPECT_DOUBLE_EQ(im, -0.5);
}

TEST(TfEval, ZeroDenominator) {
  const double one[] = {1}, s[] = {1, 0}, zero[] = {0};
  double re, im;
  tf_eval_at_complex(one, 0, zero, 0, 0.3, 0, &re, &im);
  EXPECT_EQ(re, INFINITY);
  EXPECT_EQ(im, 0.0);
  tf_eval_at_complex(s, 1, zero, 0, 0, 1, &re, &im);  // numerator i
  EXPECT_TRUE(std::isnan(re) && std::isnan(im));
}

TEST(TfEval, MatchesComplexHorner) {
  std::mt19937_64 rng(130);
  std::uniform_real_distribution<double> u(-2, 2);
  for (int k = 0; k < 2000; ++k) {
    const int m = int(rng() % 4), n = int(rng() % 5);
    std::vector<double> num(m + 1), den(n + 1);
    for (double& c : num) c = u(rng);
    for (double& c : den) c = u(rng);
    const std::complex<double> z(u(rng), u(rng));
    std::complex<double> p = 0, q = 0;
    for (double c : num) p = p * z + c;
    for (double c : den) q = q * z + c;
    const std::complex<double> want = p / q;
    double re, im;
    tf_eval_at_complex(num.data(), m, den.data(), n, z.real(), z.imag(), &re, &im);
    const double scale = std::abs(want) + 1;
    EXPECT_NEAR(re, want.real(), 1e-9 * scale);
    EXPECT_NEAR(im, want.imag(), 1e-9 * scale);
  }
}

}  // namespace
