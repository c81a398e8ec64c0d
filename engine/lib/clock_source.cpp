// The process clocks behind clock_seconds, `tic`/`toc` and `clock`: a
// steady_clock origin taken at program start and CLOCK_REALTIME turned into
// local civil seconds with localtime_r. Everything runs on the engine's thread.
#include "engine/lib/clock_source.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

constexpr double kMillisecond = 0.001;

std::chrono::steady_clock::time_point start_point() {
  static const std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
  return t0;
}

// Taken before main, so "since start" means since the program started rather
// than since the first call.
[[maybe_unused]] const std::chrono::steady_clock::time_point kStartTaken = start_point();

double real_elapsed() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_point());
  return double(ms.count()) * kMillisecond;
}

int64_t real_local_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t now = ts.tv_sec;
  tm parts{};
  if (!localtime_r(&now, &parts)) return int64_t(now);
  return int64_t(now) + int64_t(parts.tm_gmtoff);
}

ElapsedSourceFn g_elapsed = real_elapsed;
LocalTimeSourceFn g_local = real_local_seconds;
double g_tic_time = 0;
double g_clock_origin = 0;

}  // namespace

double clock_seconds() { return g_elapsed(); }
int64_t clock_local_seconds() { return g_local(); }

void clock_set_sources_for_tests(ElapsedSourceFn elapsed, LocalTimeSourceFn local) {
  g_elapsed = elapsed ? elapsed : real_elapsed;
  g_local = local ? local : real_local_seconds;
  clock_reset_for_tests();
}

void clock_reset_for_tests() {
  g_tic_time = 0;
  g_clock_origin = 0;
}

double clock_tic_time() { return g_tic_time; }
void clock_set_tic_time(double t) { g_tic_time = t; }
double clock_origin() { return g_clock_origin; }
void clock_set_origin(double t) { g_clock_origin = t; }
