// Times filter, conv and conv2 on the value stack as the interpreter calls
// them (operands pushed untimed, the call and the drop of its result timed)
// and prints them beside the scipy and numpy times given as NAME=seconds
// words (bench/signal.sh passes them). Usage: signal_bench [reps] [NAME=s ...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "engine/lib/poly_filter.h"

namespace {

constexpr int kFilterSamples = 1000000, kFilterTaps = 8;
constexpr int kConvLong = 10000, kConvShort = 1000;
constexpr int kImageSide = 1000, kKernelSide = 5;

double given_seconds(int argc, char** argv, const char* name) {
  const std::string key = std::string(name) + "=";
  for (int i = 2; i < argc; ++i)
    if (std::strncmp(argv[i], key.c_str(), key.size()) == 0) return std::atof(argv[i] + key.size());
  return 0;
}

void push_matrix(EngineContext* c, int rows, int cols, const std::vector<double>& v) {
  double* p = nullptr;
  if (stk_push_matrix(c, rows, cols, &p, nullptr) != 0) std::abort();
  std::copy(v.begin(), v.end(), p);
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  constexpr uint32_t kBlock = 1u << 28;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlock / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlock, &c) != 0) return 1;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  auto random = [&](size_t n) {
    std::vector<double> v(n);
    for (double& x : v) x = u(rng);
    return v;
  };
  // A stable filter: a(1) = 1 and small feedback coefficients.
  std::vector<double> b = random(kFilterTaps), a = random(kFilterTaps);
  a[0] = 1;
  for (size_t k = 1; k < a.size(); ++k) a[k] *= 0.1;
  const std::vector<double> x = random(kFilterSamples), p = random(kConvLong), q = random(kConvShort);
  const std::vector<double> img = random(size_t(kImageSide) * kImageSide), ker = random(kKernelSide * kKernelSide);

  auto check = [](int st) {
    if (st != 0) std::abort();
  };
  struct Row {
    const char* name;
    const char* other;
    std::function<void()> prepare;
    std::function<void()> run;
  };
  const Row rows[] = {
      {"filter", "scipy.signal.lfilter",
       [&] {
         push_matrix(c, 1, kFilterTaps, b);
         push_matrix(c, 1, kFilterTaps, a);
         push_matrix(c, 1, kFilterSamples, x);
       },
       [&] {
         check(bi_filter(c, 3, 1));
         stk_drop(c);
       }},
      {"conv", "numpy.convolve",
       [&] {
         push_matrix(c, 1, kConvLong, p);
         push_matrix(c, 1, kConvShort, q);
       },
       [&] {
         check(bi_conv(c, 2));
         stk_drop(c);
       }},
      {"conv2", "scipy.signal.convolve2d",
       [&] {
         push_matrix(c, kImageSide, kImageSide, img);
         push_matrix(c, kKernelSide, kKernelSide, ker);
       },
       [&] {
         check(bi_conv2(c, 2));
         stk_drop(c);
       }},
  };
  for (const Row& r : rows) {
    const double t = bench::best_seconds(r.prepare, r.run, reps);
    const double other = given_seconds(argc, argv, r.name);
    std::printf("%-7s %9.3f ms", r.name, t * 1e3);
    if (other > 0) std::printf("   %-24s %9.3f ms   ratio %.2f", r.other, other * 1e3, t / other);
    std::printf("\n");
  }
  return 0;
}
