// The adaptive sampler of Nyquist curves: a transfer function in z swept
// along the unit circle with steps that shrink where the curve bends inside
// the visible window and collapse where it runs outside. Pure: the command
// owns the record and the room.
#pragma once

#include <cstdint>

// What one sweep evaluates and where it looks.
struct NyquistSweep {
  const double* num;  // in z: m + 1 coefficients
  int32_t m;
  const double* den;  // n + 1 coefficients
  int32_t n;
  bool continuous;    // frequencies tan(theta / 2), the delay as a phase
  bool negfreq;       // the conjugate sweep: the mirror image
  double delay;
  double theta0, theta1;
  double xlo, xhi, ylo, yhi;  // the window
  double xtol, ytol;   // Nyquist: xtol alone, for |dx| + |dy|; Nichols: per axis
  double xshare, yshare;  // Nichols: the tolerance grows to this share of the curve's extent (0: fixed)
  bool with_freq;     // a frequency block is written
  bool log_y;         // Nichols: magnitudes compared as logarithms
  // Continuous sweeps: the system in s (null: none), evaluated at
  // s = i tan(theta / 2) directly, where the mapped system in z would lose
  // the digits of a high frequency near z = -1.
  const double* snum;
  int32_t sm;
  const double* sden;
  int32_t sn;
  // Angles the sweep steps on (ascending): each pole and zero's frequency and
  // a ladder about it down to its distance from the stability boundary, so
  // that a resonance is sampled at its own scale wherever it lies. breaks:
  // the poles on the boundary (ascending), where the curve goes to infinity
  // and a NaN point parts it.
  const double* marks;
  int32_t nmarks;
  const double* breaks;
  int32_t nbreaks;
  int32_t max_depth;  // bisection levels below a step (0: the default)
};

// Room in doubles for the marks and breaks of k poles and zeros.
int64_t nyquist_marks_room(int32_t k);
// Fills room (nyquist_marks_room(np + nz) doubles) with the sweep's marks
// and breaks from the poles (pre, pim; np) and zeros (zre, zim; nz) of the
// system in s (continuous) or z (discrete), and points sw's marks and
// breaks at them; at most max_marks marks (the ladders thin out).
void nyquist_sweep_marks(NyquistSweep* sw, const double* pre, const double* pim, int32_t np, const double* zre,
                         const double* zim, int32_t nz, int32_t max_marks, double* room);

// Writes {c', re[c'], im[c'], w[c']} (w only with_freq) into data, which
// has `space` doubles; at most max_points points. Returns the data length
// (2c' + 1 or 3c' + 1); with room for fewer than 5 points a single 0 and 1.
int32_t freqresp_nyquist_adaptive(const NyquistSweep& sw, double* data, int64_t space,
                                  int32_t max_points);

// The value of the sweep at angle theta, and the frequency written for it.
// A continuous sweep's delay turns the value by -delay w.
void nyquist_point(const NyquistSweep& sw, double theta, double* re, double* im, double* w);

// (re, im) turned by the phase -delay w of a delay at frequency w (w signed:
// negative on the mirrored sweep). Nothing at an infinite frequency, where
// the delay's phase has no value.
void nyquist_delay_rotate(double delay, double w, double* re, double* im);

// The Nichols curve of the same sweep: {c', phase[c'], magnitude[c'], w[c']}
// with phases unwrapped; no approach phase, cells by phase and magnitude.
int32_t freqresp_nichols_adaptive(const NyquistSweep& sw, double* data, int64_t space,
                                  int32_t max_points);
