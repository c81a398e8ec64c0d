// The pool behind tn_parallel_for: workers, one per hardware thread but the
// caller's (at most kMaxWorkers), asleep on a condition variable between
// calls. One caller at a time owns the pool; a job lives on its caller's
// stack until no worker is inside it any more.
#include "engine/core/parallel_for.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "engine/core/status.h"

namespace {

constexpr int kMaxWorkers = 7;
// Ranges per thread of a call: more than one, so that a thread that gets
// dearer elements (large arguments of sin) or loses its core for a while
// does not hold up the rest.
constexpr int64_t kRangesPerThread = 4;

struct Job {
  TnRangeFn fn;
  void* ctx;
  int64_t n;
  int64_t ranges;
  std::atomic<int64_t> next{0};  // the first range nobody has taken
  int64_t done = 0;              // ranges finished; under g_lock
  int joined = 0;                // workers inside the job; under g_lock
};

// Held by the one caller that has the pool for its call; others, finding it
// taken, run alone rather than wait.
pthread_mutex_t g_owner = PTHREAD_MUTEX_INITIALIZER;
// Guards g_job, g_generation and the counts of the job.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_wake = PTHREAD_COND_INITIALIZER;  // a job was posted
pthread_cond_t g_idle = PTHREAD_COND_INITIALIZER;  // the last worker left a job
Job* g_job = nullptr;
uint64_t g_generation = 0;  // counts posted jobs: a worker joins each one once
bool g_quit = false;        // tn_parallel_for_stop asks the workers to end
// Under g_owner.
bool g_started = false;
int g_workers = 0;
pthread_t g_threads[kMaxWorkers];
pthread_once_t g_fork_handlers = PTHREAD_ONCE_INIT;

// Range k of r over [0, n): the first n % r ranges are one longer.
int64_t range_start(int64_t n, int64_t r, int64_t k) { return k * (n / r) + std::min(k, n % r); }

// Takes ranges until none is left; returns how many this thread ran.
int64_t run_ranges(Job* job) {
  int64_t ran = 0;
  for (;;) {
    const int64_t k = job->next.fetch_add(1, std::memory_order_relaxed);
    if (k >= job->ranges) return ran;
    job->fn(job->ctx, range_start(job->n, job->ranges, k), range_start(job->n, job->ranges, k + 1));
    ++ran;
  }
}

void* worker_main(void*) {
  // The owner creates the workers before it posts a job, but a worker may
  // get here after that: any job it finds posted is one to join.
  uint64_t seen = 0;
  pthread_mutex_lock(&g_lock);
  for (;;) {
    while (!g_quit && (g_job == nullptr || g_generation == seen))
      pthread_cond_wait(&g_wake, &g_lock);
    if (g_quit) break;
    Job* job = g_job;
    seen = g_generation;
    ++job->joined;
    pthread_mutex_unlock(&g_lock);
    const int64_t ran = run_ranges(job);
    pthread_mutex_lock(&g_lock);
    job->done += ran;
    // The job may leave its caller's stack once this is seen: not touched after.
    if (--job->joined == 0) pthread_cond_signal(&g_idle);
  }
  pthread_mutex_unlock(&g_lock);
  return nullptr;
}

// A fork copies the pool's memory but none of its workers, and possibly a
// lock some other thread held: fork waits until no call is running, and the
// child starts from a pool that has not started (it starts its own workers
// when it needs them). Fresh objects are copied over the old ones rather
// than destroyed: destroying a condition variable that the parent's workers
// wait on would wait for them.
void before_fork() {
  pthread_mutex_lock(&g_owner);
  pthread_mutex_lock(&g_lock);
}
void after_fork_in_parent() {
  pthread_mutex_unlock(&g_lock);
  pthread_mutex_unlock(&g_owner);
}
void after_fork_in_child() {
  const pthread_mutex_t fresh_mutex = PTHREAD_MUTEX_INITIALIZER;
  const pthread_cond_t fresh_cond = PTHREAD_COND_INITIALIZER;
  g_owner = fresh_mutex;
  g_lock = fresh_mutex;
  g_wake = fresh_cond;
  g_idle = fresh_cond;
  g_job = nullptr;
  g_generation = 0;
  g_quit = false;
  g_started = false;
  g_workers = 0;
}
void register_fork_handlers() {
  pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
}

int hardware_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

// Called by the owner, on the first call and the first after a stop. A
// worker that cannot be created is done without: the pool has the ones that
// could, perhaps none.
void start_pool() {
  g_started = true;
  pthread_once(&g_fork_handlers, register_fork_handlers);
  const int want = std::min(hardware_threads() - 1, kMaxWorkers);
  if (want <= 0) return;
  // Nothing joins them but tn_parallel_for_stop: the process's exit does not
  // wait for them. Signals sent to the process are blocked in them, so that
  // such a signal reaches a thread of its own; the ones a fault raises are
  // not, so that a fault in a range is reported where it happened.
  sigset_t all, old;
  sigfillset(&all);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, fault);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  for (int i = 0; i < want; ++i) {
    if (pthread_create(&g_threads[i], nullptr, worker_main, nullptr) != 0) break;
    ++g_workers;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// The owner's share of a call with g_workers > 0.
void run_with_workers(int64_t n, int64_t most_ranges, TnRangeFn fn, void* ctx) {
  Job job;
  job.fn = fn;
  job.ctx = ctx;
  job.n = n;
  job.ranges = std::min<int64_t>(most_ranges, kRangesPerThread * (g_workers + 1));
  const int64_t wake = std::min<int64_t>(job.ranges - 1, g_workers);
  pthread_mutex_lock(&g_lock);
  g_job = &job;
  ++g_generation;
  for (int64_t i = 0; i < wake; ++i) pthread_cond_signal(&g_wake);
  pthread_mutex_unlock(&g_lock);
  const int64_t ran = run_ranges(&job);
  pthread_mutex_lock(&g_lock);
  job.done += ran;
  g_job = nullptr;  // a worker that wakes from now on finds nothing to join
  while (job.joined > 0) pthread_cond_wait(&g_idle, &g_lock);
  // Every range was taken before the caller's share ended, and each taker
  // has left.
  TN_ASSERT(job.done == job.ranges);
  pthread_mutex_unlock(&g_lock);
}

}  // namespace

void tn_parallel_for(int64_t n, int64_t min_chunk, TnRangeFn fn, void* ctx) {
  if (n <= 0) return;
  const int64_t most_ranges = n / std::max<int64_t>(min_chunk, 1);
  if (n < kParallelForMinCount || most_ranges < 2 || pthread_mutex_trylock(&g_owner) != 0) {
    fn(ctx, 0, n);
    return;
  }
  if (!g_started) start_pool();
  if (g_workers == 0) {
    pthread_mutex_unlock(&g_owner);
    fn(ctx, 0, n);
    return;
  }
  run_with_workers(n, most_ranges, fn, ctx);
  pthread_mutex_unlock(&g_owner);
}

int tn_parallel_for_workers() {
  pthread_mutex_lock(&g_owner);
  if (!g_started) start_pool();
  const int workers = g_workers;
  pthread_mutex_unlock(&g_owner);
  return workers;
}

void tn_parallel_for_stop() {
  pthread_mutex_lock(&g_owner);
  if (g_workers > 0) {
    pthread_mutex_lock(&g_lock);
    g_quit = true;
    pthread_cond_broadcast(&g_wake);
    pthread_mutex_unlock(&g_lock);
    for (int i = 0; i < g_workers; ++i) pthread_join(g_threads[i], nullptr);
    pthread_mutex_lock(&g_lock);
    g_quit = false;
    pthread_mutex_unlock(&g_lock);
  }
  g_workers = 0;
  g_started = false;
  pthread_mutex_unlock(&g_owner);
}
