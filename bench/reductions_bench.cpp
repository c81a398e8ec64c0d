// Times the array built-ins on a 1000 x 1000 real matrix, called on the value
// stack as the interpreter calls them (result pushed, argument removed),
// beside the bare loop that computes the same numbers: the ratio is what the
// stack protocol and the generality cost. Usage: reductions_bench [reps]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "bench/timing.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "engine/lib/extremes.h"
#include "engine/lib/reductions.h"

namespace {

constexpr int kRows = 1000, kCols = 1000;

double best_ms(const std::function<void()>& f, int reps) { return 1000 * bench::best_seconds(f, reps); }

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::atoi(argv[1]) : 20;
  constexpr uint32_t kBlock = 1u << 30;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlock / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlock, &c) != 0) return 1;
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> x(size_t(kRows) * kCols);
  for (double& v : x) v = u(rng) < -0.5 ? 0.0 : u(rng);
  std::vector<double> out(size_t(kRows) * kCols);
  volatile double sink = 0;

  // Pushes x, then optionally the dimension, then runs fn and drops the outputs.
  auto call = [&](int dim, int nout, const std::function<int(int)>& fn) {
    double* p;
    stk_push_matrix(c, kRows, kCols, &p, nullptr);
    std::copy(x.begin(), x.end(), p);
    int nargin = 1;
    if (dim > 0) {
      stk_push_real(c, dim);
      nargin = 2;
    }
    if (fn(nargin) != 0) std::abort();
    for (int i = 0; i < nout; ++i) stk_drop(c);
  };
  auto copy_only = [&] { call(0, 1, [](int) { return 0; }); };

  struct Row {
    const char* name;
    std::function<void()> engine;
    std::function<void()> bare;
  };
  const std::vector<Row> rows = {
      {"sum(x, 1)", [&] { call(1, 1, [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }); },
       [&] {
         std::fill(out.begin(), out.begin() + kCols, 0.0);
         for (int i = 0; i < kRows; ++i)
           for (int j = 0; j < kCols; ++j) out[size_t(j)] += x[size_t(i) * kCols + j];
       }},
      {"sum(x, 2)", [&] { call(2, 1, [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }); },
       [&] {
         for (int i = 0; i < kRows; ++i) {
           double s = 0;
           for (int j = 0; j < kCols; ++j) s += x[size_t(i) * kCols + j];
           out[size_t(i)] = s;
         }
       }},
      {"[m, i] = max(x)", [&] { call(0, 2, [&](int n) { return bi_min_max(c, kExtremeMax, n, 2); }); },
       [&] {
         for (int j = 0; j < kCols; ++j) out[size_t(j)] = x[size_t(j)];
         for (int i = 1; i < kRows; ++i)
           for (int j = 0; j < kCols; ++j)
             if (x[size_t(i) * kCols + j] > out[size_t(j)]) out[size_t(j)] = x[size_t(i) * kCols + j];
       }},
      {"cumsum(x, 1)", [&] { call(1, 1, [&](int n) { return bi_cumsum_cumprod(c, kCumSum, n); }); },
       [&] {
         std::copy(x.begin(), x.end(), out.begin());
         for (int i = 1; i < kRows; ++i)
           for (int j = 0; j < kCols; ++j) out[size_t(i) * kCols + j] += out[size_t(i - 1) * kCols + j];
       }},
      {"any(x)", [&] { call(0, 1, [&](int n) { return bi_any_all(c, kReduceAny, n); }); },
       [&] {
         for (int j = 0; j < kCols; ++j) out[size_t(j)] = 0;
         for (int i = 0; i < kRows; ++i)
           for (int j = 0; j < kCols; ++j) out[size_t(j)] = out[size_t(j)] || x[size_t(i) * kCols + j] != 0;
       }},
      {"find(x)", [&] { call(0, 1, [&](int n) { return bi_find(c, n, 1); }); },
       [&] {
         size_t k = 0;
         for (size_t s = 0; s < x.size(); ++s)
           if (x[s] != 0) out[k++] = double(s + 1);
         sink = double(k);
       }},
  };
  const double copy_ms = best_ms(copy_only, reps);
  std::printf("%d x %d doubles, best of %d; pushing the argument (%.3f ms) is taken off the engine times\n",
              kRows, kCols, reps, copy_ms);
  std::printf("%-18s %10s %10s %8s\n", "call", "engine ms", "bare ms", "ratio");
  for (const Row& r : rows) {
    const double e = best_ms(r.engine, reps) - copy_ms, b = best_ms(r.bare, reps);
    std::printf("%-18s %10.3f %10.3f %8.2f\n", r.name, e, b, e / b);
  }
  sink = sink + out[0];
  return 0;
}
