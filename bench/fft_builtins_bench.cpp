// Times the fft and fft2 built-ins (argument copies, resizing and batching
// included) on 2^16, 2^20, 3^12, 10^6 and 10,007 points and a 1024 by 1024
// array, and lyap and care at order 100, beside numpy and scipy on the same
// problems (bench/fft_builtins_reference.py, passed in as key=seconds words by
// bench/fft_builtins.sh). The transforms report their best and median runs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "bench/timing.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "numlib/control/matrix_equations.h"
#include "numlib/signal/fft_builtins.h"

namespace {

constexpr uint32_t kBlock = 1u << 30;  // room for the 2^20 transform and its scratch

double reference(int argc, char** argv, const std::string& key) {
  const std::string k = key + "=";
  for (int i = 2; i < argc; ++i)
    if (std::strncmp(argv[i], k.c_str(), k.size()) == 0) return std::atof(argv[i] + k.size());
  return 0.0;
}

// Best and median beside the reference's best and median.
void report_spread(const char* what, bench::Spread ours, double theirs, double theirs_median) {
  std::printf("%-22s best %9.3f ms", what, ours.best * 1e3);
  if (theirs > 0) std::printf(" (ref %8.3f, ratio %5.2f)", theirs * 1e3, ours.best / theirs);
  std::printf("   median %9.3f ms", ours.median * 1e3);
  if (theirs_median > 0)
    std::printf(" (ref %8.3f, ratio %5.2f)", theirs_median * 1e3, ours.median / theirs_median);
  std::printf("\n");
}

void report(const char* what, double ours, double theirs) {
  if (theirs > 0)
    std::printf("%-22s %10.3f ms   reference %10.3f ms   ratio %6.2f\n", what, ours * 1e3,
                theirs * 1e3, ours / theirs);
  else
    std::printf("%-22s %10.3f ms\n", what, ours * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlock / 8]());
  EngineContext* ctx = nullptr;
  if (engine_start(block.get(), kBlock, &ctx) != kOk) return 1;
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int status = 0;
  struct Case {
    const char* key;
    int rows, cols;
    bool two_d;
  };
  for (const Case& c : {Case{"65536", 1, 65536, false}, Case{"1048576", 1, 1048576, false},
                        Case{"531441", 1, 531441, false}, Case{"1000000", 1, 1000000, false},
                        Case{"10007", 1, 10007, false}, Case{"1024x1024", 1024, 1024, true}}) {
    const bench::Spread s = bench::spread_seconds(
        [&] {
          double *re = nullptr, *im = nullptr;
          stk_push_matrix(ctx, c.rows, c.cols, &re, &im);
          for (int64_t k = 0; k < int64_t(c.rows) * c.cols; ++k) re[k] = u(rng), im[k] = u(rng);
        },
        [&] {
          status |= c.two_d ? bi_fft2(ctx, 1, 1, '2') : bi_fft(ctx, 1, 1, 'f');
          stk_drop(ctx);  // the result; dropping costs nothing
        },
        reps);
    report_spread(c.two_d ? "fft2 1024x1024" : (std::string("fft ") + c.key).c_str(), s,
                  reference(argc, argv, c.key), reference(argc, argv, std::string(c.key) + "@median"));
  }
  // lyap and care at order 100 on a stable system.
  const int n = 100;
  auto push_random = [&](int rows, int cols, double diag) {
    double* re = nullptr;
    stk_push_matrix(ctx, rows, cols, &re, nullptr);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) re[i * cols + j] = 0.1 * u(rng) + (i == j ? diag : 0.0);
  };
  const double lyap_s = bench::best_seconds(
      [&] {
        push_random(n, n, -2.0);
        push_random(n, n, 4.0);
      },
      [&] {
        status |= bi_lyap(ctx, 2, 1, 0);
        stk_drop(ctx);
      },
      std::max(1, reps / 2));
  report("lyap order 100", lyap_s, reference(argc, argv, "lyap"));
  const double care_s = bench::best_seconds(
      [&] {
        push_random(n, n, -2.0);
        push_random(n, 10, 1.0);
        push_random(n, n, 4.0);
      },
      [&] {
        status |= bi_care(ctx, 3, 1, 'c');
        stk_drop(ctx);
      },
      std::max(1, reps / 2));
  report("care order 100", care_s, reference(argc, argv, "care"));
  return status == kOk ? 0 : 1;
}
