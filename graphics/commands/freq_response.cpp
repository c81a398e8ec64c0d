// Frequency grids and the magnitude, phase and singular-value curves of
// transfer functions and state-space models. Pure functions over caller
// arrays: the plot commands own the records, the room and the results.
#include "graphics/commands/freq_response.h"

#include <cmath>

#include "numlib/control/response_kernels.h"
#include "numlib/control/tf_eval.h"
#include "numlib/eigen.h"

namespace {

constexpr double kPi = 3.14159265358979323846264338327950288;
constexpr double kTwoPi = 2 * kPi;
constexpr int kMaxUnwrapTurns = 20;
// Beyond this the angle's cosine and sine no longer agree with those of its
// mirror 2 pi - angle: the evaluation point is off the unit circle by rounding.
constexpr double kAnglePrecision = 1e-7;

bool angle_out_of_precision(double th) {
  const double mirror = kTwoPi - th;
  return std::fabs(std::cos(th) - std::cos(mirror)) + std::fabs(std::sin(th) + std::sin(mirror)) >
         kAnglePrecision;
}

// The evaluation point of frequency w.
void eval_point(bool discrete, double ts, double w, bool precision_test, double* re, double* im) {
  if (!discrete) {
    *re = 0.0;
    *im = w;
    return;
  }
  double th = w * ts;
  if (precision_test && angle_out_of_precision(th)) th = 0.0;
  *re = std::cos(th);
  *im = std::sin(th);
}

// Magnitude or phase of re + i im; the phase continues from *previous.
double value_of(char mode, double re, double im, bool discrete, double w, double delay,
                double* previous) {
  if (mode != kFreqPhase) return std::sqrt(re * re + im * im);
  double ph = std::atan2(im, re);
  if (!discrete) ph -= w * delay;
  if (std::isnan(ph)) return ph;
  ph = freqresp_unwrap(ph, *previous);
  *previous = ph;
  return ph;
}

}  // namespace

void freqresp_grid(double low, double high, int32_t count, bool log_axis, double* w) {
  if (count <= 0) return;
  w[0] = low;
  if (count == 1) return;
  const double steps = double(count - 1);
  if (log_axis) {
    const double r = std::pow(high / low, 1.0 / steps);
    double x = low;
    for (int32_t k = 1; k < count - 1; ++k) {
      x *= r;
      w[k] = x;
    }
  } else {
    for (int32_t k = 1; k < count - 1; ++k) w[k] = low + double(k) * (high - low) / steps;
  }
  w[count - 1] = high;
}

double freqresp_unwrap(double phase, double previous) {
  if (std::isnan(previous)) return phase;
  for (int i = 0; i < kMaxUnwrapTurns && phase > previous + kPi; ++i) phase -= kTwoPi;
  for (int i = 0; i < kMaxUnwrapTurns && phase < previous - kPi; ++i) phase += kTwoPi;
  return phase;
}

void freqresp_tf_curve(const double* num, int32_t m, const double* den, int32_t n, bool discrete,
                       double ts, char mode, double delay, const double* w, int32_t count,
                       double* y) {
  double previous = -kPi / 2;
  for (int32_t k = 0; k < count; ++k) {
    double s_re, s_im, re, im;
    eval_point(discrete, ts, w[k], false, &s_re, &s_im);
    tf_eval_at_complex(num, m, den, n, s_re, s_im, &re, &im);
    y[k] = value_of(mode, re, im, discrete, w[k], delay, &previous);
  }
}

int32_t freqresp_ss_curve_count(const SsModel& s, char mode) {
  return mode == kFreqSigma ? s.m : s.p;
}

int64_t freqresp_ss_work(const SsModel& s) {
  return 3 * int64_t(s.p) + int64_t(s.m) + ss_shifted_eval_multi_work(s.n, s.m, s.p);
}

// Frequency outermost: one evaluation serves every curve at that frequency.
void freqresp_ss_curves(const SsModel& s, bool discrete, double ts, char mode, double delay,
                        const double* w, int32_t count, double* y, double* work) {
  const int32_t curves = freqresp_ss_curve_count(s, mode);
  double* out_re = work;
  double* out_im = out_re + s.p;
  double* previous = out_im + s.p;
  double* sv = previous + s.p;
  double* scratch = sv + s.m;
  for (int32_t j = 0; j < s.p; ++j) previous[j] = -kPi / 2;
  for (int32_t k = 0; k < count; ++k) {
    double s_re, s_im;
    eval_point(discrete, ts, w[k], true, &s_re, &s_im);
    if (mode == kFreqSigma) {
      ss_shifted_eval_multi(s.a, s.b, s.c, s.d, s.n, s.m, s.p, s_re, s_im, sv, scratch);
      for (int32_t j = 0; j < curves; ++j) y[int64_t(j) * count + k] = sv[j];
      continue;
    }
    ss_shifted_eval(s.a, s.b, s.c, s.d, s.n, s.m, s.p, 0, s_re, s_im, out_re, out_im, scratch);
    for (int32_t j = 0; j < curves; ++j)
      y[int64_t(j) * count + k] =
          value_of(mode, out_re[j], out_im[j], discrete, w[k], delay, &previous[j]);
  }
}

void ss_balance_model(double* a, double* b, double* c, int32_t n, int32_t m, int32_t p, double* d) {
  if (n <= 0) return;
  numk_balance(a, nullptr, n, d);
  for (int64_t i = 0; i < n; ++i) {
    if (b)
      for (int64_t j = 0; j < m; ++j) b[i * m + j] /= d[i];
    if (c)
      for (int64_t o = 0; o < p; ++o) c[o * n + i] *= d[i];
  }
}
