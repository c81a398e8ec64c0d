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

// The time scale is 10/|r| summed over the roots with |r|^2 > 1e-6, at most
// 1e6, 10 when none counts; discrete roots z count as ln(z)/T.
TEST(ResponseRanges, TimeScales) {
  struct PolyCase {
    std::vector<double> p;
    double ts;  // 0: continuous
    double want;
  };
  const PolyCase polys[] = {
      {{3}, 0, 10},
      {{3}, 0.1, 10},
      {{1, 0.5}, 0, 20},
      {{1, 0, 4}, 0, 10},                       // +-2i
      {{1, 3, 3, 1}, 0, 30},                    // a triple root: its noise moves nothing
      {{1, 2, 1, 0}, 0, 20},                    // the integrator adds nothing
      {{1, 0, 0}, 0, 10},                       // no root counts
      {{1, 1e-4}, 0, 10},                       // |r|^2 = 1e-8
      {{1, 2e-3}, 0, 5000},
      {{1, -0.5}, 1, 10 / std::log(2.0)},
      {{1, -1.5, 0.75, -0.125}, 1, 30 / std::log(2.0)},
      {{1, -0.3, -0.6, -0.1}, 1,                // z = 1, -0.5, -0.2
       10 / std::hypot(std::log(0.5), kPi) + 10 / std::hypot(std::log(0.2), kPi)},
      {{1, -2, 1}, 0.1, 10},                    // a double root at z = 1
      {{1, 0, 0}, 1, 10},                       // roots at z = 0 settle at once
      {{1, -0.9}, 0.1, 1 / -std::log(0.9)},
  };
  for (const PolyCase& c : polys) {
    const int32_t n = int32_t(c.p.size()) - 1;
    std::vector<double> work(size_t(poly_roots_frequency_scale_work(n)));
    double t;
    if (c.ts > 0) poly_roots_frequency_scale_alt(c.p.data(), n, c.ts, work.data(), &t);
    else poly_roots_frequency_scale(c.p.data(), n, work.data(), &t);
    EXPECT_NEAR(t, c.want, 1e-9 * c.want) << c.p.size() << " coefficients, ts " << c.ts;
  }
  const double a[] = {-0.1, 0, 0, -3};
  std::vector<double> work(size_t(matrix_eig_frequency_scale_work(120)));
  double t;
  matrix_eig_frequency_scale(a, 2, work.data(), &t);
  EXPECT_NEAR(t, 100 + 10 / 3.0, 1e-9);
  const double ad[] = {0.9, 0, 0, 0};  // z = 0 adds nothing
  matrix_eig_frequency_scale_alt(ad, 2, 0.1, work.data(), &t);
  EXPECT_NEAR(t, 1 / -std::log(0.9), 1e-9);
  // An integrator's eigenvalue off 0 by rounding adds nothing: the companion
  // form of s (s + 1)^2.
  const double comp[] = {-2, -1, 0, 1, 0, 0, 0, 1, 0};
  matrix_eig_frequency_scale(comp, 3, work.data(), &t);
  EXPECT_NEAR(t, 20, 1e-6);
  // 120 poles at -1.1e-3 would give 1.09e6: the scale stops at 1e6.
  std::vector<double> slow(120 * 120, 0.0);
  for (int i = 0; i < 120; ++i) slow[size_t(i) * 121] = -1.1e-3;
  matrix_eig_frequency_scale(slow.data(), 120, work.data(), &t);
  EXPECT_EQ(t, 1e6);
}

}  // namespace
