// tn_parallel_for: every index in exactly one range for sizes around the
// thresholds, ranges of at least the minimum, the caller and a worker both
// at work on one call, callers on several threads at once and nested calls,
// a fork child that calls it, workers that use no CPU time when idle, and
// workers stopped and started again.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/core/parallel_for.h"
#include "support/process_threads.h"

namespace {

// Counts the calls of each index and records the ranges' bounds.
struct Coverage {
  explicit Coverage(int64_t n) : hits(n) {}
  std::vector<std::atomic<int>> hits;
  std::mutex mu;
  std::vector<std::pair<int64_t, int64_t>> ranges;

  static void range(void* p, int64_t lo, int64_t hi) {
    auto* c = static_cast<Coverage*>(p);
    for (int64_t i = lo; i < hi; ++i) c->hits[i].fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> hold(c->mu);
    c->ranges.emplace_back(lo, hi);
  }
  bool each_once() const {
    return std::all_of(hits.begin(), hits.end(), [](const std::atomic<int>& h) { return h == 1; });
  }
};

int64_t process_cpu_ns() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

TEST(ParallelFor, EveryIndexOnceAroundTheThresholds) {
  const int workers = tn_parallel_for_workers();
  EXPECT_LE(workers, 7);
  EXPECT_GE(workers, 0);
  const int64_t m = kParallelForMinCount;
  const int64_t sizes[] = {0,         1,     1000,      m - 1,  m,      m + 1,
                           2 * m - 1, 2 * m, 2 * m + 1, 100003, 1 << 20};
  const int64_t chunks[] = {0, 1, 1000, m / 2, m, 1 << 20};
  for (int64_t n : sizes) {
    for (int64_t chunk : chunks) {
      SCOPED_TRACE(testing::Message() << "n " << n << " min_chunk " << chunk);
      Coverage c(n);
      tn_parallel_for(n, chunk, Coverage::range, &c);
      EXPECT_TRUE(c.each_once());
      if (n == 0) {
        EXPECT_TRUE(c.ranges.empty());
        continue;
      }
      // Small loops, and loops that hold fewer than two minimum ranges, are
      // one call over everything; split ones keep the minimum in each range.
      if (n < m || n / std::max<int64_t>(chunk, 1) < 2 || workers == 0) {
        ASSERT_EQ(c.ranges.size(), 1u);
        EXPECT_EQ(c.ranges[0], std::make_pair(int64_t{0}, n));
      } else {
        EXPECT_GE(c.ranges.size(), 2u);
        EXPECT_LE(c.ranges.size(), 4u * (workers + 1));
        for (auto [lo, hi] : c.ranges) EXPECT_GE(hi - lo, chunk);
      }
    }
  }
}

// The first range to run waits until a range has run on another thread:
// it can only return when a worker takes part in the call.
TEST(ParallelFor, CallerAndWorkerShareOneCall) {
  if (tn_parallel_for_workers() == 0) GTEST_SKIP() << "one hardware thread: every call runs alone";
  struct Meeting {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::thread::id> threads;
    bool met = false;
  } meet;
  auto range = [](void* p, int64_t, int64_t) {
    auto* m = static_cast<Meeting*>(p);
    std::unique_lock<std::mutex> hold(m->mu);
    const auto self = std::this_thread::get_id();
    if (std::find(m->threads.begin(), m->threads.end(), self) == m->threads.end())
      m->threads.push_back(self);
    if (m->threads.size() >= 2) {
      m->met = true;
      m->cv.notify_all();
    }
    // A bound only so that a broken pool fails instead of hanging.
    m->cv.wait_for(hold, std::chrono::seconds(60), [m] { return m->met; });
  };
  tn_parallel_for(4 * kParallelForMinCount, kParallelForMinCount, range, &meet);
  EXPECT_TRUE(meet.met);
}

// A range that calls again finds the pool taken by its own call, so the
// inner call, over the range's own indices, runs alone in the range's thread.
TEST(ParallelFor, NestedCallRunsAlone) {
  constexpr int kOuter = 8;
  Coverage c(kOuter * kParallelForMinCount);
  auto outer = [](void* p, int64_t lo, int64_t hi) {
    struct Slice {
      Coverage* c;
      int64_t lo;
    } slice{static_cast<Coverage*>(p), lo};
    auto inner = [](void* q, int64_t a, int64_t b) {
      auto* s = static_cast<Slice*>(q);
      Coverage::range(s->c, s->lo + a, s->lo + b);
    };
    tn_parallel_for(hi - lo, 1000, inner, &slice);
  };
  tn_parallel_for(kOuter * kParallelForMinCount, kParallelForMinCount, outer, &c);
  EXPECT_TRUE(c.each_once());
  EXPECT_EQ(c.ranges.size(), tn_parallel_for_workers() > 0 ? size_t{kOuter} : 1u);
}

// Callers on several threads: whichever gets the pool, each call covers its
// own indices exactly once.
TEST(ParallelFor, ConcurrentCallers) {
  constexpr int kThreads = 4, kRounds = 60;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &bad] {
      for (int r = 0; r < kRounds; ++r) {
        const int64_t n = kParallelForMinCount + 977 * (t + 1) * (r + 1);
        Coverage c(n);
        tn_parallel_for(n, 1000 * (t + 1), Coverage::range, &c);
        if (!c.each_once()) ++bad;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad, 0);
}

// Children forked while another thread keeps the pool busy: each calls it
// and must finish, its indices covered, with a pool of its own.
TEST(ParallelFor, ForkChildCallsIt) {
  const int workers = tn_parallel_for_workers();
  std::atomic<bool> stop{false};
  std::thread busy([&stop] {
    while (!stop) {
      Coverage c(3 * kParallelForMinCount);
      tn_parallel_for(3 * kParallelForMinCount, 1000, Coverage::range, &c);
    }
  });
  for (int round = 0; round < 5; ++round) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      alarm(60);  // a hang ends the child by a signal, which the parent reports
      bool ok = tn_parallel_for_workers() == workers;
      for (int64_t n : {int64_t{100}, 5 * kParallelForMinCount}) {
        Coverage c(n);
        tn_parallel_for(n, 1000, Coverage::range, &c);
        ok = ok && c.each_once();
      }
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
  }
  stop = true;
  busy.join();
}

// Between calls the workers sleep: over a pause the process uses almost no
// CPU time.
TEST(ParallelFor, IdleWorkersUseNoCpu) {
  Coverage c(4 * kParallelForMinCount);
  tn_parallel_for(4 * kParallelForMinCount, 1000, Coverage::range, &c);
  ASSERT_TRUE(c.each_once());
  const int64_t before = process_cpu_ns();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(process_cpu_ns() - before, 30000000);  // 10 % of one core
}

// Stopped, the workers are gone from the kernel's list when it returns; a
// later call starts them again.
TEST(ParallelFor, StopEndsTheWorkersAndALaterCallStartsThem) {
  tn_parallel_for_stop();  // an earlier test in this process may have started them
  const int before = process_thread_count();
  ASSERT_GT(before, 0);
  const int workers = tn_parallel_for_workers();
  EXPECT_EQ(process_thread_count(), before + workers);
  for (int round = 0; round < 3; ++round) {
    tn_parallel_for_stop();
    EXPECT_EQ(process_thread_count(), before);
    Coverage c(3 * kParallelForMinCount);
    tn_parallel_for(3 * kParallelForMinCount, 1000, Coverage::range, &c);
    EXPECT_TRUE(c.each_once());
    EXPECT_EQ(process_thread_count(), before + workers);
  }
  tn_parallel_for_stop();
  tn_parallel_for_stop();  // with no workers: nothing to do
  EXPECT_EQ(process_thread_count(), before);
}
