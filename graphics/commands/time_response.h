// Time responses of linear systems as pure computations: step, impulse and
// initial-state responses on the automatic grids of the response plots, and
// the driven simulations and resampling of lsim and dlsim. Results go into
// caller arrays; statuses are the plot list's (kPlotListFull when the area
// given is too small) and kTooManySamples for a grid beyond reach.
#pragma once

#include <cstdint>

#include "graphics/commands/freq_response.h"

constexpr int kTimeAreaFull = 10001;      // the data area cannot hold the result
constexpr int kTooManySamples = 109;      // a discrete grid beyond kMaxDiscreteSamples
constexpr double kMaxDiscreteSamples = 1e6;
constexpr double kMaxSimulatedSteps = 1e8;  // steps run before the first sample kept

enum TimeDrive : int { kDriveStep = 0, kDriveImpulse = 1, kDriveInitial = 2 };

// The continuous grid over [t0, tf]: step dt, skip whole steps before the
// first sample (t0 = skip dt when t0 > 0), and the record's point count:
// 201 samples, plus two leading points (t0, 0) and (0, 0) when t0 <= 0.
struct ContinuousGrid {
  double dt;
  int64_t skip;
  int32_t points;
  bool lead;
  bool too_many;  // more than kMaxDiscreteSamples steps before t0, or no finite range
};
ContinuousGrid timeresp_continuous_grid(double t0, double tf);
constexpr int32_t kContinuousSamples = 201;
constexpr int32_t kContinuousPoints = kContinuousSamples + 2;

// Step or impulse response of num (degree m) / den (degree n) over [t0, tf]
// shifted by delay: t and y get grid.points values. A transfer function that
// is not proper keeps its proper part (impulses at 0 are not drawn).
int64_t timeresp_tf_continuous_work(int32_t m, int32_t n);
int timeresp_tf_continuous(const double* num, int32_t m, const double* den, int32_t n, double t0,
                           double tf, double delay, TimeDrive drive, double* t, double* y,
                           double* work);

// The same for a state-space model driven at its first input (x0: the
// initial state for kDriveInitial); y holds p curves of grid.points values.
int64_t timeresp_ss_continuous_work(const SsModel& s);
int timeresp_ss_continuous(const SsModel& s, double t0, double tf, double delay, TimeDrive drive,
                           const double* x0, double* t, double* y, double* work);

// Discrete sample indices ceil(t0 / ts) .. floor(tf / ts): the first in *k0,
// the count in *count; kTooManySamples beyond kMaxDiscreteSamples, 0 else.
int timeresp_discrete_samples(double t0, double tf, double ts, int64_t* k0, int64_t* count);
// Responses from rest at samples k0 .. k0 + count - 1 (0 before sample 0);
// an impulse is one unit sample at 0.
int64_t timeresp_tf_discrete_work(int32_t m, int32_t n);
void timeresp_tf_discrete(const double* num, int32_t m, const double* den, int32_t n, int64_t k0,
                          int64_t count, TimeDrive drive, double* y, double* work);
int64_t timeresp_ss_discrete_work(const SsModel& s);
void timeresp_ss_discrete(const SsModel& s, int64_t k0, int64_t count, TimeDrive drive,
                          const double* x0, double* y, double* work);

// Simulation of b (degree nb) / a (degree na) in z^-1 form, driven by the nu
// samples u (0 beyond them), on the grid ts over [t0, tf] shifted by d. The
// area gets the times then the values, *count of each (twice the samples
// with staircase). A ts that is not positive gives nothing (count 0).
int timeresp_lsim_tf(const double* b, int32_t nb, const double* a, int32_t na, const double* u,
                     int64_t nu, double ts, double t0, double tf, double d, bool staircase,
                     double* area, int64_t capacity, int64_t* count);
// A state-space model driven by nu samples of m values (row after row): the
// area gets the times then p rows of values; x0 (n values) or null.
int timeresp_lsim_ss(const SsModel& s, const double* u, int64_t nu, double ts, double t0,
                     double tf, double d, const double* x0, bool staircase, double* area,
                     int64_t capacity, int64_t* count);
// The area's n times and p rows of n values rewritten at the k new times:
// 0 before the first old time, linear between, the last value after.
int timeresp_resample(double* area, int64_t capacity, int64_t n, int32_t p, const double* new_t,
                      int64_t k);

// The step response of a sampled-data chain: a discrete controller cn/cd
// (sample time ts) through a hold into a continuous plant pn/pd, on the
// fine grid ts / r: the controller's output at each sample is held over r
// fine steps into the plant, which is held for the fine step (the same as
// spreading the controller's coefficients r fine steps apart and running
// the product as one difference equation, without that recursion's loss of
// digits). y gets the values at fine indices first .. first + count - 1.
// Both must be proper (dcn <= dcd, dpn <= dpd); a non-finite plant gives NaN.
int64_t timeresp_hstep_work(int32_t dcd, int32_t dpd, int32_t r);
void timeresp_hstep_values(const double* cn, int32_t dcn, const double* cd, int32_t dcd,
                           const double* pn, int32_t dpn, const double* pd, int32_t dpd, double ts,
                           int32_t r, int64_t first, int64_t count, double* y, double* work);
