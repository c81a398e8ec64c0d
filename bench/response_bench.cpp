// The response computations of a tenth-order transfer function: magnitude and
// phase at 200 frequencies, the step response at 203 points, a root locus,
// and the roots of the locus polynomial at 500 gains, beside scipy's
// freqresp, step and numpy.roots when their times are given.
// Usage: response_bench [reps] [scipy freqresp s] [scipy step s] [numpy roots x500 s]
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/timing.h"
#include "graphics/commands/freq_response.h"
#include "graphics/commands/root_locus.h"
#include "graphics/commands/time_response.h"
#include "numlib/polyroots.h"

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::atoi(argv[1]) : 10;
  // (s + 1)(s + 2)...(s + 10), with a numerator of degree 4.
  std::vector<double> den = {1};
  for (int k = 1; k <= 10; ++k) {
    std::vector<double> next(den.size() + 1, 0.0);
    for (size_t i = 0; i < den.size(); ++i) next[i] += den[i], next[i + 1] += k * den[i];
    den = next;
  }
  const std::vector<double> num = {1, 3, 5, 7, 9};
  std::vector<double> w(200), y(200), t(kContinuousPoints), ys(kContinuousPoints);
  std::vector<double> work(size_t(timeresp_tf_continuous_work(4, 10)));
  const double f = bench::best_seconds([&] {
    freqresp_grid(1e-2, 1e2, 200, true, w.data());
    freqresp_tf_curve(num.data(), 4, den.data(), 10, false, 1, kFreqMagnitude, 0, w.data(), 200, y.data());
    freqresp_tf_curve(num.data(), 4, den.data(), 10, false, 1, kFreqPhase, 0, w.data(), 200, y.data());
  }, reps);
  const double s = bench::best_seconds([&] {
    timeresp_tf_continuous(num.data(), 4, den.data(), 10, 0, 20, 0, kDriveStep, t.data(), ys.data(), work.data());
  }, reps);
  std::vector<double> data(20000), lwork(size_t(rlocus_build_work(10)));
  const LocusWindow win{-12, 2, -7, 7, 0.02};
  int32_t length = 0;
  const double l = bench::best_seconds([&] {
    length = rlocus_build_branches(den.data(), 10, num.data(), 4, win, data.data(), 10000, lwork.data());
  }, reps);
  std::vector<double> p(11), re(10), im(10), rw(size_t(roots_real_work(10)) + 11);
  const double r = bench::best_seconds([&] {
    for (int g = 0; g < 500; ++g) {
      rlocus_char_poly(num.data(), 4, den.data(), 10, g / 500.0, p.data());
      roots_real_coeffs(p.data(), 10, re.data(), im.data(), rw.data());
    }
  }, reps);
  std::printf("freqresp 200 points (magnitude and phase): %.1f us", f * 1e6);
  if (argc > 2) std::printf("   scipy freqresp: %.1f us", std::atof(argv[2]) * 1e6);
  std::printf("\nstep 203 points: %.1f us", s * 1e6);
  if (argc > 3) std::printf("   scipy step: %.1f us", std::atof(argv[3]) * 1e6);
  std::printf("\nroot locus (10 branches, %d doubles): %.1f us\n", length, l * 1e6);
  std::printf("roots at 500 gains: %.1f us (%.2f us per gain)", r * 1e6, r * 1e6 / 500);
  if (argc > 4) std::printf("   numpy.roots: %.2f us per gain", std::atof(argv[4]) * 1e6 / 500);
  std::printf("\n");
  return 0;
}
