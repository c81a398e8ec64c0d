// The process clocks the time built-ins read: elapsed seconds counted from a
// steady-clock reading taken at program start, and the local wall time. Both
// go through replaceable sources, so tests fix the time they see; the state
// here is process-wide and shared by every engine context.
#pragma once

#include <cstdint>

// Seconds since program start at millisecond resolution (never CPU time).
double clock_seconds();

// The local civil time now, as seconds since 1970-01-01 00:00:00 counted as if
// the local zone were UTC (so the civil fields follow from plain division).
int64_t clock_local_seconds();

// Replaces the sources (null puts the real one back) and forgets the origin
// of `clock` and the `tic` time, as at program start.
using ElapsedSourceFn = double (*)();
using LocalTimeSourceFn = int64_t (*)();
void clock_set_sources_for_tests(ElapsedSourceFn elapsed, LocalTimeSourceFn local);
void clock_reset_for_tests();

// The `tic` time shared by every context (0 until the first `tic`, so that
// `toc` then measures from program start) and the origin of `clock`.
double clock_tic_time();
void clock_set_tic_time(double t);
double clock_origin();
void clock_set_origin(double t);
