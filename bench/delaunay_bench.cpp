// delaunay of 10^3 and 10^4 random points in the plane through the built-in
// on a started engine (the insertion scans every simplex: quadratic time).
// Usage: delaunay_bench [reps]; bench/delaunay.sh runs scipy beside it.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "bench/timing.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "numlib/misc/geometry.h"

namespace {
constexpr uint32_t kBlockBytes = 256u << 20;
}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::atoi(argv[1]) : 3;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlockBytes / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlockBytes, &c) != kOk) return 1;
  for (int32_t n : {1000, 10000}) {
    std::mt19937_64 rng{static_cast<uint64_t>(n)};
    std::uniform_real_distribution<double> u(0, 1);
    const double s = bench::best_seconds(
        [&] {
          for (int k = 0; k < 2; ++k) {
            double* re = nullptr;
            if (stk_push_matrix(c, 1, n, &re, nullptr) != kOk) std::abort();
            for (int32_t i = 0; i < n; ++i) re[i] = u(rng);
          }
        },
        [&] {
          if (bi_delaunay(c, 2, 1, 0) != kOk) std::abort();
          stk_drop(c);
        },
        reps);
    std::printf("delaunay, %d points: %.3f s\n", n, s);
  }
  return 0;
}
