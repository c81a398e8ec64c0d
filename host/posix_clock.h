// The engine's clock on POSIX: the callback that the host installs with
// engine_set_callbacks, over clock_gettime.
#pragma once

#include <cstdint>

constexpr int32_t kPosixClockStateBytes = 8;  // the last reading, in nanoseconds

// Seconds since the reading kept in state: the process's CPU time with
// process_time set, else the (coarse) monotonic wall clock. With update the current
// reading replaces the kept one, so that consecutive laps add up exactly.
// 0.0 when the clock cannot be read.
double posix_clock_callback(void* state, int process_time, int update);
