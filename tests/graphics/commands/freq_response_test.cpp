// Frequency responses against scipy.signal and numpy references (refdata/),
// the frequency grid, phase unwrapping and the automatic ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/commands/freq_response.h"
#include "numlib/control/response_kernels.h"

namespace {

#include "refdata/response_reference.inc"

constexpr double kPi = 3.14159265358979323846;

void expect_rel(const std::vector<double>& got, const std::vector<double>& want, double tol,
                const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t k = 0; k < got.size(); ++k)
    EXPECT_NEAR(got[k], want[k], tol * (1 + std::fabs(want[k]))) << what << " at " << k;
}

TEST(FreqResponse, TransferFunctionsMatchScipy) {
  for (const TfFreqCase& c : kTfFreqCases) {
    const int32_t count = int32_t(c.w.size());
    std::vector<double> mag(count), ph(count);
    const int32_t m = int32_t(c.num.size()) - 1, n = int32_t(c.den.size()) - 1;
    freqresp_tf_curve(c.num.data(), m, c.den.data(), n, c.discrete, c.ts, kFreqMagnitude, 0,
                      c.w.data(), count, mag.data());
    freqresp_tf_curve(c.num.data(), m, c.den.data(), n, c.discrete, c.ts, kFreqPhase, 0,
                      c.w.data(), count, ph.data());
    expect_rel(mag, c.mag, 1e-12, c.name);
    expect_rel(ph, c.phase, 1e-12, c.name);
    EXPECT_LT(std::fabs(ph[0] + kPi / 2), kPi) << c.name;
  }
}

TEST(FreqResponse, DelayTakesPhaseInContinuousTimeOnly) {
  const double num[] = {1}, den[] = {1, 1}, w[] = {0.5, 1, 2};
  double plain[3], late[3];
  freqresp_tf_curve(num, 0, den, 1, false, 1, kFreqPhase, 0, w, 3, plain);
  freqresp_tf_curve(num, 0, den, 1, false, 1, kFreqPhase, 0.5, w, 3, late);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(late[k], plain[k] - 0.5 * w[k], 1e-15);
  freqresp_tf_curve(num, 0, den, 1, true, 1, kFreqPhase, 0, w, 3, plain);
  freqresp_tf_curve(num, 0, den, 1, true, 1, kFreqPhase, 0.5, w, 3, late);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(late[k], plain[k]);
}

SsModel model_of(const SsFreqCase& c) {
  return SsModel{c.a.data(), c.b.data(), c.c.data(), c.d.data(), 3, 2, 2};
}

TEST(FreqResponse, StateSpaceMatchesNumpySolveAndSvd) {
  const SsFreqCase& c = kSsFreqCase;
  const int32_t count = int32_t(c.w.size());
  // Balanced copies answer the same.
  std::vector<double> a = c.a, b = c.b, cc = c.c, scale(3);
  ss_balance_model(a.data(), b.data(), cc.data(), 3, 2, 2, scale.data());
  const SsModel plain = model_of(c);
  const SsModel balanced{a.data(), b.data(), cc.data(), c.d.data(), 3, 2, 2};
  for (const SsModel& s : {plain, balanced}) {
    std::vector<double> work(size_t(freqresp_ss_work(s)));
    std::vector<double> mag(2 * count), ph(2 * count), sv(2 * count);
    EXPECT_EQ(freqresp_ss_curve_count(s, kFreqSigma), 2);
    freqresp_ss_curves(s, false, 1, kFreqMagnitude, 0, c.w.data(), count, mag.data(), work.data());
    freqresp_ss_curves(s, false, 1, kFreqPhase, 0, c.w.data(), count, ph.data(), work.data());
    freqresp_ss_curves(s, false, 1, kFreqSigma, 0, c.w.data(), count, sv.data(), work.data());
    expect_rel(mag, c.mag, 1e-10, "magnitude");
    expect_rel(ph, c.phase, 1e-10, "phase");
    expect_rel(sv, c.sigma, 1e-10, "sigma");
  }
}

TEST(FreqResponse, EmptyInputOrOutputMatricesAreZeros) {
  const double a[] = {-1};
  const SsModel no_b{a, nullptr, a, nullptr, 1, 1, 1};
  std::vector<double> work(size_t(freqresp_ss_work(no_b)));
  const double w[] = {0.1, 1};
  double y[2] = {7, 7};
  freqresp_ss_curves(no_b, false, 1, kFreqMagnitude, 0, w, 2, y, work.data());
  EXPECT_EQ(y[0], 0.0);
  EXPECT_EQ(y[1], 0.0);
}

TEST(FreqResponse, GridEndsExactlyAtHigh) {
  for (bool log_axis : {false, true}) {
    for (double high : {kPi / 0.1, 100.0, 3.3}) {
      std::vector<double> w(200);
      freqresp_grid(log_axis ? 1e-3 : 0.0, high, 200, log_axis, w.data());
      EXPECT_EQ(w.back(), high);
      EXPECT_EQ(w[0], log_axis ? 1e-3 : 0.0);
      for (size_t k = 1; k < w.size(); ++k) EXPECT_GT(w[k], w[k - 1]);
    }
  }
  double one = 0;
  freqresp_grid(2, 5, 1, false, &one);
  EXPECT_EQ(one, 2.0);
}

TEST(FreqResponse, UnwrapContinuesPastMinusPiAndStaysBounded) {
  EXPECT_NEAR(freqresp_unwrap(3.0, -3.0), 3.0 - 2 * kPi, 1e-15);
  EXPECT_NEAR(freqresp_unwrap(-3.0, 3.0), -3.0 + 2 * kPi, 1e-15);
  EXPECT_EQ(freqresp_unwrap(0.25, NAN), 0.25);
  // At most 20 turns: a phase far away comes only that far.
  EXPECT_NEAR(freqresp_unwrap(1000.0, 0.0), 1000.0 - 40 * kPi, 1e-9);
  // A third-order lag crosses -pi and goes on to -3 pi / 2.
  const double num[] = {1}, den[] = {1, 3, 3, 1};
  std::vector<double> w(200), ph(200);
  freqresp_grid(1e-2, 1e3, 200, true, w.data());
  freqresp_tf_curve(num, 0, den, 3, false, 1, kFreqPhase, 0, w.data(), 200, ph.data());
  for (size_t k = 1; k < ph.size(); ++k) EXPECT_LE(ph[k], ph[k - 1] + 1e-12);
  EXPECT_NEAR(ph.back(), -1.5 * kPi, 1e-2);
}

TEST(ResponseRanges, PoleMagnitudes) {
  struct Row { std::vector<double> p; bool log_axis; double low, high; };
  const Row rows[] = {
      {{1, 1}, true, 0.1, 10},          // pole at -1
      {{1, 1}, false, 0, 10},
      {{1, 0}, false, 0, 10},           // poles all at the origin
      {{1, 0, 0}, true, 1e-3, 10},
      {{5}, true, 1e-3, 10},            // no pole at all
      {{0, 0, 1, 10}, true, 1, 100},    // leading zeros: pole at -10
      {{1, 11, 10}, true, 0.1, 100},
  };
  for (const Row& r : rows) {
    const int32_t n = int32_t(r.p.size()) - 1;
    std::vector<double> work(size_t(poly_root_magnitude_range_work(n)));
    double low, high;
    poly_root_magnitude_range(r.p.data(), n, r.log_axis, work.data(), &low, &high);
    EXPECT_NEAR(low, r.low, 1e-12 * (1 + r.low));
    EXPECT_NEAR(high, r.high, 1e-10 * r.high);
  }
  const double a[] = {-2, 0, 0, -20};
  std::vector<double> work(size_t(matrix_eig_magnitude_range_work(2)));
  double low, high;
  matrix_eig_magnitude_range(a, 2, true, work.data(), &low, &high);
  EXPECT_NEAR(low, 0.2, 1e-12);
  EXPECT_NEAR(high, 200, 1e-10);
}

TEST(ResponseRanges, TimeScales) {
  std::vector<double> work(64);
  double t;
  const double constant[] = {3};
  poly_roots_frequency_scale(constant, 0, work.data(), &t);
  EXPECT_EQ(t, 10.0);
  poly_roots_frequency_scale_alt(constant, 0, 0.1, work.data(), &t);
  EXPECT_EQ(t, 10.0);
  const double lag[] = {1, 0.5};  // time constant 2: five of them
  poly_roots_frequency_scale(lag, 1, work.data(), &t);
  EXPECT_NEAR(t, 10, 1e-12);
  const double undamped[] = {1, 0, 4};  // finite, at least two periods of pi
  poly_roots_frequency_scale(undamped, 2, work.data(), &t);
  EXPECT_TRUE(std::isfinite(t));
  EXPECT_GE(t, 2 * kPi);
  const double dlag[] = {1, -0.5};  // z = 0.5 at ts 1: time constant 1 / ln 2
  poly_roots_frequency_scale_alt(dlag, 1, 1.0, work.data(), &t);
  EXPECT_NEAR(t, 10, 1e-12);  // five time constants are 7.2, below ten samples
  const double a[] = {-0.1, 0, 0, -3};
  matrix_eig_frequency_scale(a, 2, work.data(), &t);
  EXPECT_NEAR(t, 50, 1e-9);
  const double ad[] = {0.9, 0, 0, 0};
  matrix_eig_frequency_scale_alt(ad, 2, 0.1, work.data(), &t);
  EXPECT_NEAR(t, 5 * 0.1 / -std::log(0.9), 1e-9);
}

}  // namespace
