// Splitting one elementwise loop across cores: a small pool of persistent
// workers, started on first use, shares the ranges of a call with its caller.
// A call returns only when every range is done, and every index is in
// exactly one range, so a loop whose element i depends on element i alone
// gives the same bits however it is split.
#pragma once

#include <cstdint>

// One range [lo, hi) of a loop; ctx is the caller's. A range must touch only
// its own elements and never call into the engine: it may run on a worker.
using TnRangeFn = void (*)(void* ctx, int64_t lo, int64_t hi);

// Below this many elements a loop runs in the caller alone: waking the
// workers costs more than they would save.
constexpr int64_t kParallelForMinCount = 32768;

// The least range of an elementwise loop whose elements each cost what a
// maths library call does: a worker's wake-up costs some microseconds, a
// few thousand elements of the cheapest such call (sqrt) more.
constexpr int64_t kParallelForMinRange = 8192;

// Runs fn over [0, n) in ranges of at least min_chunk elements, on the caller
// and the pool's workers. It runs fn(ctx, 0, n) on the caller alone when n is
// small, when the machine has one core, when the workers cannot be had, and
// when the pool is busy with another caller (a range that calls it again
// gets that too). Safe to call from several threads at once, and in the
// child of a fork.
void tn_parallel_for(int64_t n, int64_t min_chunk, TnRangeFn fn, void* ctx);

// The same with the range known at compile time: a loop too small to split
// calls it directly, where it can be inlined, so that a scalar's call costs
// what the plain loop did.
template <TnRangeFn Range>
inline void tn_parallel_for(int64_t n, int64_t min_chunk, void* ctx) {
  if (n < kParallelForMinCount)
    Range(ctx, 0, n);
  else
    tn_parallel_for(n, min_chunk, Range, ctx);
}

// The number of workers the pool has (starting it if it has not started):
// 0 where every call runs in the caller alone.
int tn_parallel_for_workers();

// Ends the pool's workers and returns once they have ended; a later call
// starts them again. The process's exit does not need it: it is for a
// program that must see its threads gone first (the Qt tests' main waits
// for that before the leak checker reads every thread).
void tn_parallel_for_stop();
