// Frequency responses of linear systems as pure computations: the frequency
// grid, phase unwrapping, and the magnitude, phase and singular-value curves
// of a transfer function or a state-space model. The plot commands turn them
// into records or results; nothing here touches the engine or a list.
#pragma once

#include <cstdint>

enum FreqMode : char { kFreqMagnitude = 'm', kFreqPhase = 'p', kFreqSigma = 's' };

// count points from low to high, geometric on a log axis; the last is
// exactly high (a single point is low).
void freqresp_grid(double low, double high, int32_t count, bool log_axis, double* w);

// phase moved by whole turns to within pi of previous; at most 20 turns each
// way, so a huge phase stays finite work. A NaN previous leaves it alone.
double freqresp_unwrap(double phase, double previous);

// One curve of num (degree m) / den (degree n) at the count frequencies w:
// magnitude or phase (mode 'm' or 'p'). Discrete systems are evaluated at
// e^(i w ts); continuous ones at i w, their phase less w delay.
void freqresp_tf_curve(const double* num, int32_t m, const double* den, int32_t n, bool discrete,
                       double ts, char mode, double delay, const double* w, int32_t count,
                       double* y);

// A state-space model (A n x n, B n x m, C p x n, D p x m or null, row-major).
struct SsModel {
  const double* a;
  const double* b;
  const double* c;
  const double* d;
  int32_t n, m, p;
};

// The curves of a state-space model: in modes 'm' and 'p' one per output
// (the response to the first input), in mode 's' the m singular values.
// y is curve-major: curve j's count values at y + j count.
int32_t freqresp_ss_curve_count(const SsModel& s, char mode);
int64_t freqresp_ss_work(const SsModel& s);
void freqresp_ss_curves(const SsModel& s, bool discrete, double ts, char mode, double delay,
                        const double* w, int32_t count, double* y, double* work);

// A balanced in place (diagonal scaling d, n doubles), row i of B divided by
// d_i and column i of C multiplied by it: the response is unchanged and the
// solves are better conditioned. B or C may be null (empty).
void ss_balance_model(double* a, double* b, double* c, int32_t n, int32_t m, int32_t p, double* d);
