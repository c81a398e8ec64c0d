// Time responses against scipy.signal references (refdata/): continuous and
// discrete steps and impulses, initial states, driven simulations, plus the
// grids, counts, room limits, staircases and resampling of the simulators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/commands/time_response.h"
#include "numlib/control/conversions.h"

namespace {

#include "refdata/response_reference.inc"

double peak(const std::vector<double>& v) {
  double p = 0;
  for (double x : v) p = std::max(p, std::fabs(x));
  return p;
}

// got[0..want.size()) within tol of the reference's peak.
void expect_near_peak(const double* got, const std::vector<double>& want, double tol,
                      const char* what) {
  const double scale = tol * std::max(1.0, peak(want));
  for (size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], scale) << what << " at " << k;
}

TEST(TimeResponse, ContinuousTransferFunctionsMatchScipy) {
  for (const TimeCase& c : kTimeCases) {
    const int32_t m = int32_t(c.num.size()) - 1, n = int32_t(c.den.size()) - 1;
    std::vector<double> work(size_t(timeresp_tf_continuous_work(m, n)));
    double t[kContinuousPoints], y[kContinuousPoints];
    for (TimeDrive drive : {kDriveStep, kDriveImpulse}) {
      ASSERT_EQ(timeresp_tf_continuous(c.num.data(), m, c.den.data(), n, 0, c.tf, 0, drive, t, y,
                                       work.data()),
                0);
      // Two leading points: the value before 0 and the jump at 0.
      EXPECT_EQ(t[0], 0.0);
      EXPECT_EQ(t[1], 0.0);
      EXPECT_EQ(y[0], 0.0);
      EXPECT_EQ(y[1], 0.0);
      EXPECT_NEAR(t[kContinuousPoints - 1], c.tf, 1e-12 * c.tf);
      expect_near_peak(y + 2, drive == kDriveStep ? c.step : c.impulse, 1e-9, c.name);
    }
  }
}

TEST(TimeResponse, ContinuousGridCounts) {
  const ContinuousGrid automatic = timeresp_continuous_grid(0, 10);
  EXPECT_EQ(automatic.points, 203);
  EXPECT_TRUE(automatic.lead);
  const ContinuousGrid ranged = timeresp_continuous_grid(1, 5);
  EXPECT_EQ(ranged.points, 201);
  EXPECT_EQ(ranged.skip, 50);
  EXPECT_DOUBLE_EQ(ranged.dt, 0.02);
  EXPECT_TRUE(timeresp_continuous_grid(1e12, 1e12 + 1).too_many);
  EXPECT_TRUE(timeresp_continuous_grid(NAN, 1).too_many);
}

TEST(TimeResponse, RangeAfterZeroSamplesTheSameCurve) {
  // 2 / (s + 0.5): y = 4 (1 - e^(-t / 2)) at the grid's own times.
  const double num[] = {2}, den[] = {1, 0.5};
  std::vector<double> work(size_t(timeresp_tf_continuous_work(0, 1)));
  double t[kContinuousPoints], y[kContinuousPoints];
  ASSERT_EQ(timeresp_tf_continuous(num, 0, den, 1, 1, 5, 0, kDriveStep, t, y, work.data()), 0);
  EXPECT_DOUBLE_EQ(t[0], 1.0);
  EXPECT_NEAR(t[200], 5.0, 1e-12);
  for (int k = 0; k < 201; ++k) EXPECT_NEAR(y[k], 4 * (1 - std::exp(-t[k] / 2)), 1e-12);
  // A delay shifts the curve: the same values, later.
  double td[kContinuousPoints], yd[kContinuousPoints];
  ASSERT_EQ(timeresp_tf_continuous(num, 0, den, 1, 0, 10, 1, kDriveStep, td, yd, work.data()), 0);
  EXPECT_EQ(td[0], 0.0);
  EXPECT_EQ(td[1], 1.0);
  for (int k = 2; k < kContinuousPoints; ++k)
    EXPECT_NEAR(yd[k], 4 * (1 - std::exp(-(td[k] - 1) / 2)), 1e-12);
}

TEST(TimeResponse, ImpulseOfIntegratorIsStepOfOne) {
  const double num[] = {1}, den[] = {1, 0}, one[] = {1};
  std::vector<double> work(size_t(timeresp_tf_continuous_work(1, 1)));
  double t[kContinuousPoints], y[kContinuousPoints], t1[kContinuousPoints], y1[kContinuousPoints];
  ASSERT_EQ(timeresp_tf_continuous(num, 0, den, 1, 0, 10, 0, kDriveImpulse, t, y, work.data()), 0);
  ASSERT_EQ(timeresp_tf_continuous(one, 0, one, 0, 0, 10, 0, kDriveStep, t1, y1, work.data()), 0);
  for (int k = 0; k < kContinuousPoints; ++k) {
    EXPECT_EQ(t[k], t1[k]);
    EXPECT_EQ(y[k], y1[k]);
  }
  EXPECT_EQ(y[2], 1.0);
}

TEST(TimeResponse, StateSpaceMatchesScipy) {
  const SsFreqCase& f = kSsFreqCase;
  const SsTimeCase& c = kSsTimeCase;
  const SsModel s{f.a.data(), f.b.data(), f.c.data(), f.d.data(), 3, 2, 2};
  std::vector<double> work(size_t(timeresp_ss_continuous_work(s)));
  double t[kContinuousPoints], y[2 * kContinuousPoints];
  const struct { TimeDrive drive; const std::vector<double>* want; } rows[] = {
      {kDriveStep, &c.step}, {kDriveImpulse, &c.impulse}, {kDriveInitial, &c.initial}};
  for (const auto& r : rows) {
    ASSERT_EQ(timeresp_ss_continuous(s, 0, c.tf, 0, r.drive, c.x0.data(), t, y, work.data()), 0);
    for (int o = 0; o < 2; ++o) {
      EXPECT_EQ(y[o * kContinuousPoints], 0.0);
      EXPECT_EQ(y[o * kContinuousPoints + 1], 0.0);
      const std::vector<double> want(r.want->begin() + o * 201, r.want->begin() + (o + 1) * 201);
      expect_near_peak(y + o * kContinuousPoints + 2, want, 1e-9, "state space");
    }
  }
}

TEST(TimeResponse, DiscreteStepImpulseAndSimulationMatchScipy) {
  const DiscreteCase& c = kDiscreteCase;
  std::vector<double> work(size_t(timeresp_tf_discrete_work(1, 2)));
  std::vector<double> y(30);
  timeresp_tf_discrete(c.num.data(), 1, c.den.data(), 2, 0, 30, kDriveStep, y.data(), work.data());
  expect_near_peak(y.data(), c.step, 1e-10, "dstep");
  timeresp_tf_discrete(c.num.data(), 1, c.den.data(), 2, 0, 30, kDriveImpulse, y.data(), work.data());
  expect_near_peak(y.data(), c.impulse, 1e-10, "dimpulse");
  // From sample -3 on: three zeros, then the same response.
  std::vector<double> early(33);
  timeresp_tf_discrete(c.num.data(), 1, c.den.data(), 2, -3, 33, kDriveStep, early.data(), work.data());
  EXPECT_EQ(early[0] + early[1] + early[2], 0.0);
  expect_near_peak(early.data() + 3, c.step, 1e-10, "dstep from -3");
  // dlsim: the difference equation in z^-1 form with the numerator padded.
  const double b[] = {0, 0.1, 0.05};
  std::vector<double> area(2 * 30);
  int64_t count = 0;
  ASSERT_EQ(timeresp_lsim_tf(b, 2, c.den.data(), 2, c.u.data(), 30, c.ts, 0, 29 * c.ts, 0, false,
                             area.data(), int64_t(area.size()), &count),
            0);
  ASSERT_EQ(count, 30);
  EXPECT_NEAR(area[29], 29 * c.ts, 1e-12);
  expect_near_peak(area.data() + 30, c.lsim, 1e-10, "dlsim");
  // One double short.
  EXPECT_EQ(timeresp_lsim_tf(b, 2, c.den.data(), 2, c.u.data(), 30, c.ts, 0, 29 * c.ts, 0, false,
                             area.data(), int64_t(area.size()) - 1, &count),
            kTimeAreaFull);
}

TEST(TimeResponse, DiscreteSampleCounts) {
  int64_t k0, count;
  EXPECT_EQ(timeresp_discrete_samples(0, 2000000, 1, &k0, &count), kTooManySamples);
  EXPECT_EQ(timeresp_discrete_samples(0, NAN, 1, &k0, &count), kTooManySamples);
  ASSERT_EQ(timeresp_discrete_samples(-0.5, 3.2, 1, &k0, &count), 0);
  EXPECT_EQ(k0, 0);
  EXPECT_EQ(count, 4);
  ASSERT_EQ(timeresp_discrete_samples(3, 2, 1, &k0, &count), 0);
  EXPECT_EQ(count, 0);
}

SsModel discrete_model() {
  const DiscreteSsCase& c = kDiscreteSsCase;
  return SsModel{c.a.data(), c.b.data(), c.c.data(), c.d.data(), 3, 2, 2};
}

TEST(TimeResponse, StateSpaceSimulationMatchesScipy) {
  const DiscreteSsCase& c = kDiscreteSsCase;
  const SsModel s = discrete_model();
  for (bool with_x0 : {false, true}) {
    const int64_t room = 12 * 3 + 6;  // (1 + 0) N (p + 1) + 2n
    std::vector<double> area(static_cast<size_t>(room));
    int64_t count = 0;
    ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 1, 0, 11, 0, with_x0 ? c.x0.data() : nullptr,
                               false, area.data(), room, &count),
              0);
    ASSERT_EQ(count, 12);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(area[k], double(k));
    const std::vector<double>& want = with_x0 ? c.yx : c.y;
    expect_near_peak(area.data() + 12, want, 1e-10, with_x0 ? "dlsim x0" : "dlsim");
    EXPECT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 1, 0, 11, 0, nullptr, false, area.data(),
                               room - 1, &count),
              kTimeAreaFull);
  }
}

TEST(TimeResponse, StateSpaceRangesBeforeZero) {
  const DiscreteSsCase& c = kDiscreteSsCase;
  const SsModel s = discrete_model();
  std::vector<double> area(200);
  int64_t count = 0;
  ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 1, 0, 3, 0, nullptr, false, area.data(), 200, &count), 0);
  EXPECT_EQ(count, 4);
  std::vector<double> first(area.begin(), area.begin() + 12);
  ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 1, -2, 3, 0, nullptr, false, area.data(), 200, &count), 0);
  ASSERT_EQ(count, 6);
  const double times[] = {-2, -1, 0, 1, 2, 3};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(area[k], times[k]);
  for (int o = 0; o < 2; ++o) {
    EXPECT_EQ(area[6 + o * 6], 0.0);
    EXPECT_EQ(area[6 + o * 6 + 1], 0.0);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(area[6 + o * 6 + 2 + k], first[4 + o * 4 + k]);
  }
  // Not a positive sample time: nothing.
  EXPECT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 0, 0, 3, 0, nullptr, false, area.data(), 200, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, NAN, 0, 3, 0, nullptr, false, area.data(), 200, &count), 0);
  EXPECT_EQ(count, 0);
  // A start after 0 advances the state without output.
  ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 1, 2, 5, 0, nullptr, false, area.data(), 200, &count), 0);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(area[0], 2.0);
  for (int o = 0; o < 2; ++o)
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(area[4 + o * 4 + k], c.y[o * 12 + 2 + k], 1e-12);
}

TEST(TimeResponse, Staircases) {
  const DiscreteSsCase& c = kDiscreteSsCase;
  const SsModel s = discrete_model();
  std::vector<double> plain(100), stairs(100);
  int64_t n = 0, n2 = 0;
  ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 0.5, 0, 2, 0, nullptr, false, plain.data(), 100, &n), 0);
  ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 0.5, 0, 2, 0, nullptr, true, stairs.data(), 100, &n2), 0);
  ASSERT_EQ(n2, 2 * n);
  for (int64_t k = 0; k < n; ++k) {
    EXPECT_EQ(stairs[2 * k], plain[k]);
    EXPECT_EQ(stairs[2 * k + 1], plain[k] + 0.5);
    for (int o = 1; o <= 2; ++o) {
      EXPECT_EQ(stairs[o * n2 + 2 * k], plain[o * n + k]);
      EXPECT_EQ(stairs[o * n2 + 2 * k + 1], plain[o * n + k]);
    }
  }
  // The staircase room is twice the plain one: one double short fails.
  const int64_t room = 2 * n * 3 + 6;
  EXPECT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 0.5, 0, 2, 0, nullptr, true, stairs.data(), room, &n2), 0);
  EXPECT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 0.5, 0, 2, 0, nullptr, true, stairs.data(), room - 1, &n2),
            kTimeAreaFull);
  // The transfer-function simulator's staircase.
  const double b[] = {1}, a[] = {1, -0.5}, u[] = {1, 1, 1};
  std::vector<double> area(16);
  ASSERT_EQ(timeresp_lsim_tf(b, 0, a, 1, u, 3, 1, 0, 2, 0, true, area.data(), 12, &n), 0);
  ASSERT_EQ(n, 6);
  const double times[] = {0, 1, 1, 2, 2, 3}, values[] = {1, 1, 1.5, 1.5, 1.75, 1.75};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(area[k], times[k]);
    EXPECT_EQ(area[6 + k], values[k]);
  }
  EXPECT_EQ(timeresp_lsim_tf(b, 0, a, 1, u, 3, 1, 0, 2, 0, true, area.data(), 11, &n), kTimeAreaFull);
}

TEST(TimeResponse, InitialStateSampleWrittenOnce) {
  const DiscreteSsCase& c = kDiscreteSsCase;
  const SsModel s = discrete_model();
  std::vector<double> area(200);
  int64_t count = 0;
  // A negative start becomes 0 with an initial state; the delay shifts the times.
  ASSERT_EQ(timeresp_lsim_ss(s, c.u.data(), 12, 1, -3, 4, 1, c.x0.data(), false, area.data(), 200, &count), 0);
  ASSERT_GE(count, 4);
  EXPECT_EQ(area[0], 1.0);
  for (int64_t k = 1; k < count; ++k) EXPECT_EQ(area[k], area[k - 1] + 1);
  for (int o = 0; o < 2; ++o) EXPECT_NEAR(area[count * (o + 1)], c.yx[o * 12], 1e-12);
}

TEST(TimeResponse, ResampleEnds) {
  // Times 1, 2, 3 with one row 10, 20, 30.
  std::vector<double> area = {1, 2, 3, 10, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const double new_t[] = {0, 1.5, 3, 4};
  ASSERT_EQ(timeresp_resample(area.data(), 16, 3, 1, new_t, 4), 0);
  const double want[] = {0, 1.5, 3, 4, 0, 15, 30, 30};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(area[k], want[k]);
  EXPECT_EQ(timeresp_resample(area.data(), 15, 4, 1, new_t, 4), kTimeAreaFull);
}

TEST(TimeResponse, ContinuousDrivenRampAndSineMatchScipy) {
  // The first-order hold is exact for inputs linear between samples.
  const LsimCase& c = kLsimCase;
  const double dt = c.t[1] - c.t[0];
  std::vector<double> numd(3), dend(3), work(size_t(ctrl_matrix_kernel_c_work(2)));
  ctrl_matrix_kernel_d(c.num.data(), 1, c.den.data(), 2, dt, numd.data(), dend.data(), work.data());
  for (const auto& [u, want] : {std::pair{&c.ramp, &c.yramp}, std::pair{&c.sine, &c.ysine}}) {
    std::vector<double> area(2 * 201);
    int64_t count = 0;
    ASSERT_EQ(timeresp_lsim_tf(numd.data(), 2, dend.data(), 2, u->data(), 201, dt, 0, c.t.back(), 0,
                               false, area.data(), int64_t(area.size()), &count),
              0);
    ASSERT_EQ(count, 201);
    expect_near_peak(area.data() + 201, *want, 1e-9, "lsim");
  }
}

}  // namespace

namespace {

// The sampled-data chain against its closed form: the controller z / (z -
// 0.5) steps by 0.5^j at sample j, each step passing through 1 / (s + 1).
TEST(TimeResponse, HeldControllerThroughPlant) {
  const double cn[] = {1, 0}, cd[] = {1, -0.5}, pn[] = {1}, pd[] = {1, 1};
  const double ts = 0.5;
  const int32_t r = 10;
  const int64_t count = 60;
  std::vector<double> work(size_t(timeresp_hstep_work(1, 1, r))), y(count);
  timeresp_hstep_values(cn, 1, cd, 1, pn, 0, pd, 1, ts, r, 0, count, y.data(), work.data());
  for (int64_t k = 0; k < count; ++k) {
    const double t = double(k) * ts / r;
    double want = 0;
    for (int j = 0; j * ts <= t + 1e-12; ++j) want += std::pow(0.5, j) * (1 - std::exp(-(t - j * ts)));
    EXPECT_NEAR(y[size_t(k)], want, 1e-12) << k;
  }
  // A unit controller gives the plant's own held step, from any first index.
  const double one[] = {1};
  std::vector<double> y2(10);
  timeresp_hstep_values(one, 0, one, 0, pn, 0, pd, 1, ts, r, 5, 10, y2.data(), work.data());
  for (int64_t k = 0; k < 10; ++k) EXPECT_NEAR(y2[size_t(k)], 1 - std::exp(-double(5 + k) * ts / r), 1e-12);
}

// The same chain with a plant of order 10 (poles -1 .. -10, exact
// coefficients) on a fine step of 1/60 s, where its held poles crowd near
// z = 1: each controller step 0.5^j passes through the plant's closed-form
// step response.
TEST(TimeResponse, HeldControllerThroughAPlantOfOrderTen) {
  constexpr int kOrder = 10;
  std::vector<double> pd{1};
  for (int k = 1; k <= kOrder; ++k) {
    pd.push_back(0);
    for (size_t i = pd.size() - 1; i > 0; --i) pd[i] += k * pd[i - 1];
  }
  const double gain = pd.back();
  auto plant_step = [&](double t) {
    if (t < 0) return 0.0;
    double v = 1;
    for (int j = 1; j <= kOrder; ++j) {
      double den = -j;
      for (int i = 1; i <= kOrder; ++i)
        if (i != j) den *= double(i - j);
      v += gain / den * std::exp(-j * t);
    }
    return v;
  };
  const double cn[] = {1, 0}, cd[] = {1, -0.5}, pn[] = {gain};
  const double ts = 0.1;
  const int32_t r = 6;
  const int64_t count = 240;
  std::vector<double> work(size_t(timeresp_hstep_work(1, kOrder, r))), y(count);
  timeresp_hstep_values(cn, 1, cd, 1, pn, 0, pd.data(), kOrder, ts, r, 0, count, y.data(), work.data());
  double worst = 0;
  for (int64_t k = 0; k < count; ++k) {
    const double t = double(k) * ts / r;
    double want = 0;
    for (int j = 0; j * ts <= t + 1e-12; ++j) want += std::pow(0.5, j) * plant_step(t - j * ts);
    worst = std::max(worst, std::fabs(y[size_t(k)] - want));
  }
  EXPECT_LT(worst, 1e-10);
}

}  // namespace
