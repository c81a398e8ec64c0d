// Timing for the benchmarks: the shortest of several runs, which is the
// figure least disturbed by the rest of the machine.
#pragma once

#include <chrono>

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

}  // namespace bench
