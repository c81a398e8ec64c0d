// The engine's clock on POSIX. The state holds the raw reading of the last
// update in nanoseconds; the engine measures laps against it, so the laps add
// up exactly whatever the clock's resolution.
#include "host/posix_clock.h"

#include <cstring>
#include <ctime>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr double kSecondsPerNano = 1e-9;
// While tasks exist the loop reads the wall clock about once a millisecond
// of work: the coarse clock costs a few nanoseconds where the precise one
// costs tens, and since each lap starts where the last ended their sum stays
// exact.
constexpr clockid_t kWallClock = CLOCK_MONOTONIC_COARSE;

}  // namespace

double posix_clock_callback(void* state, int process_time, int update) {
  timespec ts{};
  if (clock_gettime(process_time ? CLOCK_PROCESS_CPUTIME_ID : kWallClock, &ts) != 0) return 0.0;
  const int64_t now = int64_t(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
  int64_t last = 0;
  std::memcpy(&last, state, sizeof last);
  if (update) std::memcpy(state, &now, sizeof now);
  return double(now - last) * kSecondsPerNano;
}
