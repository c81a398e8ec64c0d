// Timing for the benchmarks: the shortest of several runs, which is the
// figure least disturbed by the rest of the machine, and their median, the
// figure a user meets.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

// Seconds of the fastest of reps runs of run(), each after an untimed prepare().
template <class Prepare, class Run>
double best_seconds(Prepare&& prepare, Run&& run, int reps) {
  using Clock = std::chrono::steady_clock;
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    prepare();
    const auto t0 = Clock::now();
    run();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

template <class Run>
double best_seconds(Run&& run, int reps) {
  return best_seconds([] {}, run, reps);
}

// The shortest and the median of reps runs of run(), each after an untimed prepare().
struct Spread {
  double best;
  double median;
};

template <class Prepare, class Run>
Spread spread_seconds(Prepare&& prepare, Run&& run, int reps) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> t;
  for (int r = 0; r < reps; ++r) {
    prepare();
    const auto t0 = Clock::now();
    run();
    t.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::sort(t.begin(), t.end());
  if (t.empty()) return {0.0, 0.0};
  const size_t m = t.size() / 2;
  return {t.front(), t.size() % 2 ? t[m] : (t[m - 1] + t[m]) / 2};
}

}  // namespace bench
