// eig of the engine's own rows on 144 random matrices of every order from 1
// to 12, scaled anywhere from 1e-260 to 1e160, some with close eigenvalues or
// graded: every eigenvector must have a residual within a few n eps |A| |v|,
// and the eigenvalues must match those of the "!lapack" row on the same
// matrix. Also the 2-norm and the singular values at those scales.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/lapack_section.h"
#include "support/zvr_session.h"

namespace {

// A ZVR literal of the n x n matrix a, stored row by row, all digits kept.
std::string literal(const std::vector<double>& a, int n) {
  std::ostringstream s;
  s.precision(17);
  s << "[";
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) s << (j ? " " : "") << a[size_t(i) * n + j];
    s << (i + 1 < n ? "; " : "]");
  }
  return s.str();
}

// Random matrices as ZVR assignments to A: plain Gaussian, similar to a
// diagonal with close eigenvalue pairs, or graded upper triangular; then
// scaled by 10^e, e from -260 to 160.
std::string random_case(std::mt19937_64& rng, int n, int kind, int e) {
  std::normal_distribution<double> g;
  std::vector<double> a(size_t(n) * n), b(size_t(n) * n);
  for (double& x : a) x = g(rng);
  for (double& x : b) x = g(rng);
  std::ostringstream s;
  s.precision(17);
  if (kind == 0) {
    s << "A = " << literal(a, n) << ";\n";
  } else if (kind == 1) {
    // S diag(l) / S, with l in pairs 1e-9 apart relative.
    s << "l = zeros(1, " << n << ");\n";
    for (int i = 0; i < n; ++i) s << "l(" << i + 1 << ") = " << (i % 2 ? "l(" + std::to_string(i) + ") * (1 + 1e-9)" : std::to_string(g(rng))) << ";\n";
    s << "S = " << literal(a, n) << "; A = S * diag(l) / S;\n";
  } else {
    // Upper triangular with diagonal entries from 1 to 1e20.
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double& x = a[size_t(i) * n + j];
        if (j < i) x = 0;
        if (j == i) x = std::pow(10.0, double(rng() % 21)) * (1 + i * 0.01);
      }
    s << "A = " << literal(a, n) << ";\n";
  }
  s << "A = A * 1e" << e << ";\n";
  return s.str();
}

// The number in a rendering "double 1x1 [x]".
double scalar(const std::string& rendered) {
  const size_t at = rendered.find('[');
  return at == std::string::npos ? 1e300 : std::strtod(rendered.c_str() + at + 1, nullptr);
}

// The elements of the real vector expr as ZVR text, all digits kept.
std::string digits(ZvrSession& s, const std::string& expr) {
  const std::string v = s.value("sprintf('%.16e ', " + expr + ")");
  return v.size() >= 2 && v.front() == '\'' ? v.substr(1, v.size() - 2) : "nan";
}

TEST(EigExtremes, RandomMatricesResidualsAndLapackEigenvalues) {
  std::mt19937_64 rng(76);
  ZvrSession own{16u << 20};
  ZvrSession lapack{16u << 20};
  ASSERT_EQ(register_lapack_section(lapack.c), kOk);
  constexpr int kCases = 144;
  double worst_residual = 0, worst_match = 0;
  for (int c = 0; c < kCases; ++c) {
    const int n = 1 + c % 12, kind = (c / 12) % 3;
    const int e = int(rng() % 421) - 260;
    const std::string a = random_case(rng, n, kind, e);
    // Each column's residual over n eps |A|_1 |v|_1, the worst of them.
    ASSERT_EQ(own.run(a + "[V, D] = eig(A); w = 0; na = norm(A, 1);\n"
                          "for k = 1:size(A, 1), v = V(:, k); "
                          "w = max(w, norm(A * v - D(k, k) * v, 1) / (size(A, 1) * eps * na * norm(v, 1))); end\n"
                          "e = diag(D);\n"),
              kOk)
        << own.take_output() << a;
    const double w = scalar(own.value("w"));
    EXPECT_LE(w, 10.0) << a;
    worst_residual = std::max(worst_residual, w);
    // LAPACK's eigenvalues, each matched to the nearest unmatched own one,
    // the distance over 1e-9 |A|_1 (pairs 1e-9 apart are ill-conditioned).
    ASSERT_EQ(lapack.run(a + "el = eig(A);\n"), kOk) << lapack.take_output() << a;
    ASSERT_EQ(own.run("el = [" + digits(lapack, "real(el)") + "] + 1i * [" + digits(lapack, "imag(el)") + "];\n"
                      "m = 0; for k = 1:numel(el), [d, i] = min(abs(e - el(k))); e(i) = inf; "
                      "m = max(m, d / (1e-9 * na)); end\n"),
              kOk)
        << own.take_output() << a;
    const double m = scalar(own.value("m"));
    EXPECT_LE(m, 1.0) << a;
    worst_match = std::max(worst_match, m);
  }
  ::testing::Test::RecordProperty("worst_residual_n_eps", std::to_string(worst_residual));
  ::testing::Test::RecordProperty("worst_distance_to_lapack_e9", std::to_string(worst_match));
}

// The 2-norm, the Frobenius norm and the singular values of [1 2; 3 4] and
// of [3 4] at the ends of the range, in both sections, against their values
// at scale 1, scaled: to a few ulps (the decimal scales round A itself).
TEST(EigExtremes, NormsAndSingularValuesAtTheEnds) {
  for (bool with_lapack : {false, true}) {
    ZvrSession s;
    if (with_lapack) ASSERT_EQ(register_lapack_section(s.c), kOk);
    ASSERT_EQ(s.run("A = [1 2; 3 4]; s1 = svd(A); n2 = norm(A); nf = norm(A, 'fro');\n"), kOk);
    for (const char* f : {"2^500", "2^-900", "1e160", "1e-261"}) {
      const std::string k = f;
      EXPECT_EQ(s.value("max(abs(svd(A * " + k + ") ./ (s1 * " + k + ") - 1)) <= 32 * eps"), "logical 1x1 [1]") << k;
      EXPECT_EQ(s.value("abs(norm(A * " + k + ") / (n2 * " + k + ") - 1) <= 32 * eps"), "logical 1x1 [1]") << k;
      EXPECT_EQ(s.value("abs(norm(A * " + k + ", 'fro') / (nf * " + k + ") - 1) <= 4 * eps"), "logical 1x1 [1]") << k;
      EXPECT_EQ(s.value("abs(norm([3 4] * " + k + ") / (5 * " + k + ") - 1) <= 2 * eps"), "logical 1x1 [1]") << k;
      EXPECT_EQ(s.value("abs(norm([3; 4i] * " + k + ", 'fro') / (5 * " + k + ") - 1) <= 2 * eps"), "logical 1x1 [1]") << k;
    }
    EXPECT_EQ(s.value("norm([3 4] * 1e-160) == 5e-160"), "logical 1x1 [1]");
  }
}

// A graded matrix, a nearly defective one, a badly balanced one and
// [1 2; 3 4] at the ends of the range: each vector's residual within a few eps of its own eigenvalue's
// size, and the eigenvalues those at scale 1, scaled.
TEST(EigExtremes, GradedNearlyDefectiveAndScaledMatrices) {
  ZvrSession s;
  auto holds = [&](const std::string& code, const std::string& test) {
    EXPECT_EQ(s.run(code), kOk) << s.take_output() << code;
    EXPECT_EQ(s.value(test), "logical 1x1 [1]") << code << " " << test << " " << s.value("r");
  };
  holds("A = [1e20 0 0; 0 1 1; 0 0 2]; [V, D] = eig(A); d = diag(D)';"
        "r = max(sum(abs(A * V - V * D), 1) ./ abs(d));",
        "r <= 8 * eps && all(sort(d) == [1 2 1e20])");
  holds("A = [0.453665216937867877 -1.30404570684239740; 0.254253748364062282 1.60528756649998483];"
        "[V, D] = eig(A); r = norm(A * V - V * D, 1) / norm(A, 1);",
        "r <= 8 * eps");
  // Rows and columns 1e16 apart in size: balanced first, the eigenvalues
  // keep their digits (8e-9 relative without).
  holds("B = [4 -2 1 0.5; 3 6 -4 1; 2 1 8 -1; 1 1 1 1]; D = diag([1 1e8 1e-8 1e4]);"
        "r = max(abs(sort(eig(D * B / D)) ./ sort(eig(B)) - 1));",
        "r <= 64 * eps");
  for (const char* k : {"1e160", "1e-261", "2^-1000"}) {
    const std::string f = k;
    holds("A = [1 2; 3 4]; e0 = sort(eig(A)); e = sort(eig(A * " + f + ")); [V, D] = eig(A * " + f + ");"
          "r = max(abs(e ./ (e0 * " + f + ") - 1));"
          "r = max(r, norm(A * V - V * D / " + f + ", 1) / norm(A, 1));",
          "r <= 16 * eps");
    holds("A = [4 -2 1; 3 6 -4; 2 1 8]; e0 = sort(eig(A)); e = sort(eig(A * " + f + "));"
          "r = max(abs(e ./ (e0 * " + f + ") - 1));",
          "r <= 64 * eps");
  }
}

}  // namespace
