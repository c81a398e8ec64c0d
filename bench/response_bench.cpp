// The responses of a tenth-order transfer function, two ways. "figure": a
// built application's plot handler draws bodemag, bodephase, step and rlocus
// in 2 x 2; one refresh (the handler runs again) and the figure drawn through
// the Qt raster driver into 800 x 600, beside the redraw alone (medians, ms).
// A kernel name and a count: that kernel run count times in this process, for
// bench/response.sh to time against scipy with the start-up subtracted.
// Usage: response_bench figure [refreshes] | response_bench KERNEL REPS
//   KERNEL: freqresp (magnitude and phase at 200 frequencies), step (203
//   points), roots500 (the locus polynomial's roots at 500 gains), locus
//   (the root-locus builder; prints the number of gains it solved)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <QGuiApplication>

#include "graphics/commands/freq_response.h"
#include "graphics/commands/root_locus.h"
#include "graphics/commands/time_response.h"
#include "numlib/polyroots.h"
#include "bench/bench_figure.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr uint32_t kBytes = 64u << 20;
constexpr int kWidth = 800, kHeight = 600;
constexpr int kGains = 500;

// (s + 1)(s + 2)...(s + 10) over a numerator of degree 4, the same system as
// bench/response_scipy.py; one figure per cell, each with its plot handler.
const char kSource[] =
    "function d = tenth()\n d = 1;\n for k = 1:10\n  d = conv(d, [1 k]);\n end\nendfunction\n"
    "function n = numerator()\n n = [1 3 5 7 9];\nendfunction\n"
    "function magnitude(d)\n scale('loglog'); bodemag(numerator(), d, 'r');\nendfunction\n"
    "function phase(d)\n scale('loglin'); bodephase(numerator(), d, 'b');\nendfunction\n"
    "function step_plot(d)\n step(numerator(), d);\nendfunction\n"
    "function locus(d)\n rlocus(numerator(), d, 'g');\nendfunction\n";
const char kApp[] =
    "instance responses\nvar d\ninit d = tenth()\n"
    "figure \"Magnitude\"\nplot magnitude(d)\nfigure \"Phase\"\nplot phase(d)\n"
    "figure \"Step\"\nplot step_plot(d)\nfigure \"Locus\"\nplot locus(d)\n";

// The four figures in the cells of a 2 x 2 grid, row by row.
int lay_out(RuntimeBlock* b) {
  if (int status = inst_set_grid(b, 0, 2, 2); status != 0) return status;
  int32_t pos = 0;
  for (int32_t k = 0; k < 4; ++k) {
    if (int status = rec_find_tag(b, 0, &pos, kTagFigure); status != 0) return status;
    if (int status = inst_subplot_assign(b, 0, k / 2, k % 2, pos, true); status != 0) return status;
  }
  return 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

int run_figure(int argc, char** argv, int refreshes) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  BenchFigure fig;
  if (!fig.open(kBytes, {{"responses", kSource}}, kApp, kWidth, kHeight)) return 1;
  RuntimeBlock*& block = fig.block;
  if (lay_out(block) != 0 || figure_layout_subplots(&block, 0, 0, kWidth, 0, kHeight) != 0 ||
      inst_refresh(&block, 0) != 0)
    return 1;
  figure_draw(block, 0);
  int failures = 0;
  std::vector<double> refresh_ms, redraw_ms;
  for (int k = 0; k < refreshes; ++k) {
    auto t0 = std::chrono::steady_clock::now();
    const int status = inst_refresh(&block, 0);
    if (status != 0 && failures++ == 0) std::fprintf(stderr, "refresh: %d\n", status);
    figure_draw(block, 0);
    refresh_ms.push_back(ms_since(t0));
    t0 = std::chrono::steady_clock::now();
    figure_draw(block, 0);
    redraw_ms.push_back(ms_since(t0));
  }
  fig.close();
  std::printf("figure 2 x 2 at %d x %d: refresh and redraw %.2f ms, redraw alone %.2f ms (medians of %d)%s\n",
              kWidth, kHeight, median(refresh_ms), median(redraw_ms), refreshes, failures ? " (failures!)" : "");
  return failures ? 1 : 0;
}

struct System {
  std::vector<double> num = {1, 3, 5, 7, 9}, den = {1};
  System() {
    for (int k = 1; k <= 10; ++k) {
      std::vector<double> next(den.size() + 1, 0.0);
      for (size_t i = 0; i < den.size(); ++i) next[i] += den[i], next[i + 1] += k * den[i];
      den = next;
    }
  }
};

// A checksum of the results, printed so that no run can be optimised away.
int run_kernel(const char* kernel, int reps) {
  const System sys;
  const double* num = sys.num.data();
  const double* den = sys.den.data();
  double sum = 0;
  if (std::strcmp(kernel, "freqresp") == 0) {
    std::vector<double> w(200), mag(200), ph(200);
    for (int r = 0; r < reps; ++r) {
      freqresp_grid(1e-2, 1e2, 200, true, w.data());
      freqresp_tf_curve(num, 4, den, 10, false, 1, kFreqMagnitude, 0, w.data(), 200, mag.data());
      freqresp_tf_curve(num, 4, den, 10, false, 1, kFreqPhase, 0, w.data(), 200, ph.data());
      sum += mag[100] + ph[100];
    }
  } else if (std::strcmp(kernel, "step") == 0) {
    std::vector<double> t(kContinuousPoints), y(kContinuousPoints);
    std::vector<double> work(size_t(timeresp_tf_continuous_work(4, 10)));
    for (int r = 0; r < reps; ++r) {
      timeresp_tf_continuous(num, 4, den, 10, 0, 20, 0, kDriveStep, t.data(), y.data(), work.data());
      sum += y[100];
    }
  } else if (std::strcmp(kernel, "roots500") == 0) {
    std::vector<double> p(11), re(10), im(10), rw(size_t(roots_real_work(10)) + 11);
    for (int r = 0; r < reps; ++r)
      for (int g = 0; g < kGains; ++g) {
        rlocus_char_poly(num, 4, den, 10, g / double(kGains), p.data());
        roots_real_coeffs(p.data(), 10, re.data(), im.data(), rw.data());
        sum += re[0];
      }
  } else if (std::strcmp(kernel, "locus") == 0) {
    // A window around the poles (-10 .. -1) and the zeros.
    std::vector<double> data(20000), work(size_t(rlocus_build_work(10)));
    const LocusWindow win{-12, 2, -7, 7, 0.02};
    int64_t gains = 0;
    for (int r = 0; r < reps; ++r)
      sum += rlocus_build_branches(den, 10, num, 4, win, data.data(), 10000, work.data(), &gains);
    std::printf("gains %lld\n", static_cast<long long>(gains));
  } else {
    std::fprintf(stderr, "unknown kernel %s\n", kernel);
    return 2;
  }
  std::printf("checksum %.6g\n", sum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "figure") == 0)
    return run_figure(argc, argv, argc > 2 ? std::max(1, std::atoi(argv[2])) : 41);
  if (argc != 3) {
    std::fprintf(stderr, "usage: response_bench figure [refreshes] | response_bench KERNEL REPS\n");
    return 2;
  }
  return run_kernel(argv[1], std::max(0, std::atoi(argv[2])));
}
