// Times the FFT driver on 2^16 and 3^10 complex points (the power-of-two
// kernel and the radix-3 combination path) and sets the times beside those of
// numpy.fft.fft on the same lengths, measured by bench/fft_numpy.py and passed
// in as N=seconds arguments by bench/fft.sh.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "numlib/fft.h"

namespace {


using bench::best_seconds;

double numpy_seconds(int argc, char** argv, int n) {
  const std::string key = std::to_string(n) + "=";
  for (int i = 2; i < argc; ++i)
    if (std::strncmp(argv[i], key.c_str(), key.size()) == 0) return std::atof(argv[i] + key.size());
  return 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int status = 0;
  for (int n : {65536, 59049}) {
    std::vector<double> xr(n), xi(n), ir(n), ii(n), orr(n), oi(n);
    std::vector<double> work(size_t(numk_fft_work_doubles(n)));
    for (int i = 0; i < n; ++i) {
      xr[i] = u(rng);
      xi[i] = u(rng);
    }
    // The driver overwrites its input; the copy keeps the work equal to
    // numpy's, which leaves its argument alone.
    auto transform = [&](uint8_t inverse, const std::vector<double>& re,
                         const std::vector<double>& im) {
      std::memcpy(ir.data(), re.data(), sizeof(double) * n);
      std::memcpy(ii.data(), im.data(), sizeof(double) * n);
      return numk_fft(ir.data(), ii.data(), n, 1, 1, n, orr.data(), oi.data(), inverse,
                      work.data(), int64_t(work.size()), nullptr);
    };
    const double t = best_seconds([&] { transform(0, xr, xi); }, reps);
    // Sanity: the inverse brings the input back.
    transform(0, xr, xi);
    std::vector<double> fr = orr, fi = oi;
    transform(1, fr, fi);
    double err = 0;
    for (int i = 0; i < n; ++i) err = std::fmax(err, std::hypot(orr[i] - xr[i], oi[i] - xi[i]));
    const double np = numpy_seconds(argc, argv, n);
    std::printf("fft %6d points  numk_fft %8.3f ms", n, t * 1e3);
    if (np > 0)
      std::printf("  numpy.fft.fft %8.3f ms  ratio %.2f", np * 1e3, t / np);
    std::printf("  round-trip error %.1e\n", err);
    if (!(err < 1e-9)) status = 1;
  }
  return status;
}
