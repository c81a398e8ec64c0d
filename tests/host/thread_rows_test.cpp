// The semaphore rows of the host's table run from ZVR code, with the host's
// table registered in front of the engine's as start-up does.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/core/events.h"
#include "engine/core/snapshot.h"
#include "engine/core/heap.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/clock_source.h"
#include "engine/lib/tasks.h"
#include "host/builtin_table_host.h"
#include "support/zvr_session.h"

namespace {

class SemaphoreTest : public ::testing::Test {
 protected:
  ZvrSession s;
  void SetUp() override { ASSERT_EQ(engine_register_builtin_table(s.c, g_builtin_table_host, 1), kOk); }
};

TEST_F(SemaphoreTest, LockUnlockAndTheirErrors) {
  const struct {
    const char* expr;
    const char* result;
  } steps[] = {
      {"semaphorenew()", "double 1x1 [1]"},
      {"semaphorenew", "double 1x1 [2]"},
      {"semaphorelock(1)", "logical 1x1 [1]"},
      {"semaphorelock(1)", "logical 1x1 [0]"},  // one output: no waiting
      {"semaphorelock(2)", "logical 1x1 [1]"},
      {"semaphorelock(3)", "error 100"},
      {"semaphorelock('a')", "error 43"},
      {"semaphorelock(0)", "error 100"},
      {"semaphorelock(1.5)", "error 100"},
  };
  for (const auto& k : steps) EXPECT_EQ(s.value(k.expr), k.result) << k.expr;
  EXPECT_EQ(s.run("semaphoreunlock(1);\n"), kOk);
  EXPECT_EQ(s.run("semaphoreunlock(1);\n"), 101);
  EXPECT_EQ(s.run("semaphoreunlock(7);\n"), 100);
  EXPECT_EQ(s.run("semaphorelock(1);\n"), kOk);  // statement form: taken at once
  EXPECT_EQ(s.value("semaphorelock(1)"), "logical 1x1 [0]");
  EXPECT_EQ(s.run("semaphoredelete(1);\n"), kOk);  // whatever its count
  EXPECT_EQ(s.run("semaphoredelete(1);\n"), 100);
  EXPECT_EQ(s.value("semaphorelock(1)"), "error 100");
}

// Ids are never given twice; freed entries are reused, and the ninth live
// semaphore grows the table with every entry kept.
TEST_F(SemaphoreTest, TableGrowsAndKeepsEntries) {
  ASSERT_EQ(s.run("for k = 1:8, s(k) = semaphorenew(); end\n"), kOk);
  ASSERT_EQ(s.run("semaphorelock(s(3)); semaphoredelete(s(8));\n"), kOk);
  EXPECT_EQ(s.value("semaphorenew"), "double 1x1 [9]");
  const int32_t before = s.c->sem_table[1];
  EXPECT_EQ(s.value("semaphorenew"), "double 1x1 [10]");
  EXPECT_EQ(s.c->sem_table[1], 2 * before);
  EXPECT_EQ(s.value("semaphorelock(s(3))"), "logical 1x1 [0]");
  EXPECT_EQ(s.value("semaphorelock(s(4))"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("semaphorelock(10)"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("semaphorelock(8)"), "error 100");
}

}  // namespace

namespace {

// A clock that moves only when the test says so, or by a fixed step at every
// lap reading (so slices end after a known number of instructions). A clock
// state holds the time its lap began.
double g_now = 0;
double g_step = 0;
double fake_clock(void* state, int, int mode) {
  auto* start = static_cast<double*>(state);
  if (mode == 1) g_now += g_step;
  const double lap = g_now - *start;
  if (mode == 1) *start = g_now;
  return lap;
}

class TaskTest : public ::testing::Test {
 protected:
  ZvrSession s;
  double main_state = 0;
  void SetUp() override {
    ASSERT_EQ(engine_register_builtin_table(s.c, g_builtin_table_host, 1), kOk);
    g_now = 0;
    g_step = 0;
    engine_set_callbacks(s.c, fake_clock, &main_state, int32_t(sizeof(double)));
  }
  // Runs the slices the host would run while tasks have code.
  int drain(int limit = 1000) {
    int status = kOk;
    for (int i = 0; i < limit && s.c->task_first != 0; ++i) {
      status = interp_run(s.c, 0);
      if (status != kOk && status != kSliceEnded) return status;
    }
    return status;
  }
  int tasks() const {
    int n = 0;
    for (int32_t t = s.c->task_first; t != 0; t = int32_t(tn::ld_u32(reinterpret_cast<uint8_t*>(heap_words(s.c) + t) + 100)))
      ++n;
    return n;
  }
  uint32_t record_word(int32_t id, int w) {
    int32_t index = 0;
    if (!task_find(s.c, id, &index) || index == 0) return 0;
    return tn::ld_u32(reinterpret_cast<uint8_t*>(heap_words(s.c) + index) + 4 * w);
  }
  // Runs a command line to its end as a host does: a yield back to the main
  // context hands control back (kSliceEnded) on the way.
  int finish(const std::string& text, int sliced = 0) {
    int status = exec_command_line(s.c, text.data(), int32_t(text.size()), 0);
    while (status == kSliceEnded) status = interp_run(s.c, sliced);
    return status;
  }
  double record_double(int32_t id, int w) {
    int32_t index = 0;
    if (!task_find(s.c, id, &index) || index == 0) return 0;
    return tn::ld_f64(reinterpret_cast<uint8_t*>(heap_words(s.c) + index) + 4 * w);
  }
  static constexpr int kPriorityWord = 33;
  static constexpr int kTotalTimeWord = 30;
};

// A task that loops n times (several slices' worth), then ends.
const char kSpinner[] =
    "function spinner(n)\n"
    "  k = 0;\n"
    "  while k < n\n"
    "    k = k + 1;\n"
    "  end\n"
    "endfunction\n";

const char kWorker[] =
    "function w(tag, n)\n"
    "  global trace\n"
    "  for k = 1:n\n"
    "    trace(end + 1) = tag;\n"
    "  end\n"
    "endfunction\n";

TEST_F(TaskTest, TaskRunsToItsEndAndIsDeleted) {
  ASSERT_EQ(s.run(kWorker), kOk);
  ASSERT_EQ(s.run("global trace; trace = []; id = threadnew(@w, threadset(), 7, 3);\n"), kOk);
  EXPECT_EQ(tasks(), 1);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("trace"), "double 1x3 [7 7 7]");
  EXPECT_EQ(s.value("id"), "double 1x1 [1]");
}

TEST_F(TaskTest, PriorityIsLimitedAndBadIdsFail) {
  ASSERT_EQ(s.run(kWorker), kOk);
  ASSERT_EQ(s.run("a = threadnew(@w, threadset('Priority', 50), 1, 1);\n"
                  "b = threadnew(@w, threadset('Priority', -30), 2, 1);\n"
                  "c = threadnew(@w, threadset(), 3, 1);\n"),
            kOk);
  EXPECT_EQ(record_word(1, kPriorityWord), 41u);
  EXPECT_EQ(record_word(2, kPriorityWord), 1u);
  EXPECT_EQ(record_word(3, kPriorityWord), 21u);
  EXPECT_EQ(s.run("threadkill(0);\n"), 100);
  EXPECT_EQ(s.run("threadkill(9);\n"), 100);
  EXPECT_EQ(s.run("threadkill(2);\n"), kOk);
  EXPECT_EQ(tasks(), 2);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
}

// Ids count on from the context's next id (as a loaded image may leave it,
// up to INT32_MAX) without overflowing: past INT32_MAX they start again at 1,
// passing over the ids live tasks hold; no id is given twice.
TEST_F(TaskTest, TaskIdsNeverOverflowNorRepeat) {
  ASSERT_EQ(s.run(kWorker), kOk);
  const struct {
    int32_t next;
    const char* ids;
  } rows[] = {
      {INT32_MAX - 1, "[2147483646 2147483647 1 2]"},
      {INT32_MAX, "[2147483647 1 2 3]"},
      {1, "[1 2 3 4]"},
  };
  for (const auto& r : rows) {
    s.c->task_next_id = r.next;
    ASSERT_EQ(s.run("ids = [];\nfor k = 1:4, ids(k) = threadnew(@w, threadset(), k, 1); end\n"), kOk);
    EXPECT_EQ(s.value("all(ids == " + std::string(r.ids) + ")"), "logical 1x1 [1]") << r.next;
    EXPECT_EQ(drain(), kOk);
    EXPECT_EQ(tasks(), 0);
  }
  // Live tasks hold 1 and 3 when the count passes INT32_MAX.
  s.c->task_next_id = 1;
  ASSERT_EQ(s.run("a = threadnew(@w, threadset(), 1, 1); threadnew(@w, threadset(), 2, 1);\n"
                  "b = threadnew(@w, threadset(), 3, 1); threadkill(2);\n"),
            kOk);
  s.c->task_next_id = INT32_MAX;
  ASSERT_EQ(s.run("ids = [];\nfor k = 1:3, ids(k) = threadnew(@w, threadset(), k, 1); end\n"), kOk);
  EXPECT_EQ(s.value("all(ids == [2147483647 2 4])"), "logical 1x1 [1]");
  EXPECT_EQ(s.c->task_next_id, 5);
  EXPECT_EQ(drain(), kOk);
}

// Each side stamps its steps with `toc`, whose clock here counts calls, into
// its own global (a global is written back when its function ends).
double g_calls = 0;
double counting_clock() { return g_calls += 1; }

TEST_F(TaskTest, MainAndTaskTakeTurnsWhenSlicesEnd) {
  clock_set_sources_for_tests(counting_clock, nullptr);
  ASSERT_EQ(s.run("function stamp(which, n)\n  global t0 t1\n  r = zeros(1, n);\n"
                  "  for k = 1:n\n    r(k) = toc;\n  end\n"
                  "  if which, t1 = r; else, t0 = r; end\nendfunction\n"),
            kOk);
  g_step = 0.03;  // a slice ends after two instructions
  ASSERT_EQ(s.run("global t0 t1; threadnew(@stamp, threadset(), 1, 40); stamp(0, 40);\n"), kOk);
  EXPECT_EQ(drain(), kOk);
  clock_set_sources_for_tests(nullptr, nullptr);
  ASSERT_EQ(s.run("[s_, i] = sort([t0 t1]); turns = sum(diff(i > 40) ~= 0);\n"), kOk);
  EXPECT_EQ(s.value("numel(t0) + numel(t1)"), "double 1x1 [80]");
  EXPECT_EQ(s.value("turns > 10"), "logical 1x1 [1]");  // interleaved, not one after the other
}

// Each task keeps its own generator records across switches.
TEST_F(TaskTest, TasksDrawTheSequencesTheyDrawAlone) {
  ASSERT_EQ(s.run("function dr(which, seed)\n  global r1 r2\n  rand('state', seed);\n  x = zeros(1, 30);\n"
                  "  for k = 1:30\n    x(k) = rand;\n  end\n"
                  "  if which == 1, r1 = x; else, r2 = x; end\nendfunction\n"),
            kOk);
  ASSERT_EQ(s.run("global r1 r2; dr(1, 5); a1 = r1; dr(2, 9); a2 = r2; r1 = []; r2 = [];\n"), kOk);
  g_step = 0.03;
  ASSERT_EQ(s.run("threadnew(@dr, threadset(), 1, 5); threadnew(@dr, threadset(), 2, 9); rand('state', 1); y = rand(1, 50);\n"),
            kOk);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(s.value("all(r1 == a1) && all(r2 == a2) && any(a1 ~= a2)"), "logical 1x1 [1]");
}

TEST_F(TaskTest, TaskThatKillsItselfIsDeleted) {
  ASSERT_EQ(s.run("function sk(id)\n  global z\n  z = 1;\n  threadkill(id);\n  z = 2;\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global z; z = 0; threadnew(@sk, threadset(), 1); y = 3;\n"), kOk);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("y"), "double 1x1 [3]");
}

TEST_F(TaskTest, SandboxedTaskMayNotCallRestrictedRows) {
  ASSERT_EQ(s.run("function cl()\n  global got\n  got = sin(1) + numel(clock);\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global got; got = 0; threadnew(@cl, threadset('Sandbox', true));\n"), kOk);
  drain();
  EXPECT_EQ(tasks(), 0);
  EXPECT_NE(s.take_output().find("Security violation"), std::string::npos);
  ASSERT_EQ(s.run("threadnew(@cl, threadset('Sandbox', false));\n"), kOk);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(s.value("got > 6"), "logical 1x1 [1]");
}

TEST_F(TaskTest, AnErrorEndsOnlyItsTask) {
  ASSERT_EQ(s.run(kWorker), kOk);
  ASSERT_EQ(s.run("function bad()\n  error('boom');\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global trace; trace = []; threadnew(@bad); threadnew(@w, threadset(), 5, 2);\n"), kOk);
  drain();
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("trace"), "double 1x2 [5 5]");
  EXPECT_NE(s.take_output().find("boom"), std::string::npos);
}

TEST_F(TaskTest, SleepingTaskIsPassedOverUntilItsTime) {
  ASSERT_EQ(s.run(kWorker), kOk);
  ASSERT_EQ(s.run("function sleeper()\n  global trace\n  threadsleep(1);\n  trace(end + 1) = 9;\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global trace; trace = []; threadnew(@sleeper);\n"), kOk);
  for (int i = 0; i < 5; ++i) interp_run(s.c, 0);
  EXPECT_EQ(tasks(), 1);
  EXPECT_EQ(s.value("trace"), "double 0x0 []");
  g_now += 1.5;
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(s.value("trace"), "double 1x1 [9]");
}

// A task that works 0.3 s before each periodic sleep of 1 s still wakes
// every second: the wake time counts from the previous one.
TEST_F(TaskTest, PeriodicSleepKeepsItsPeriod) {
  ASSERT_EQ(s.run("function per()\n  for k = 1:3\n    threadsleep(1, true);\n  end\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("id = threadnew(@per);\n"), kOk);
  const auto wake = [&] {
    int32_t index = 0;
    task_find(s.c, 1, &index);
    return tn::ld_f64(reinterpret_cast<uint8_t*>(heap_words(s.c) + index) + 4 * 36);
  };
  const struct {
    double now;
    double wake;  // after the slice
  } steps[] = {{0.3, 0.7}, {0.99, 0.7}, {1.3, 0.7}, {2.2, 0.8}, {2.5, 0.8}};
  for (const auto& k : steps) {
    g_now = k.now;
    interp_run(s.c, 0);
    EXPECT_NEAR(wake(), k.wake, 1e-12) << k.now;
  }
  EXPECT_EQ(tasks(), 1);
  g_now = 3.0;
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
}

// Task records and stacks live in the block as offsets: a block copied to a
// new address (the old one poisoned) keeps running its sleeping task.
TEST_F(TaskTest, MovedBlockKeepsRunningSleepingTasks) {
  ASSERT_EQ(s.run("function sleeper()\n  global trace\n  threadsleep(1);\n  trace(end + 1) = 9;\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global trace; trace = []; threadnew(@sleeper); threadnew(@sleeper);\n"), kOk);
  for (int i = 0; i < 5; ++i) interp_run(s.c, 0);
  constexpr uint32_t kBytes = 1u << 22;  // the session's block
  std::unique_ptr<uint64_t[]> moved(new uint64_t[kBytes / 8]);
  std::memcpy(moved.get(), s.e.block.get(), kBytes);
  std::memset(s.e.block.get(), 0xDD, kBytes);
  const ptrdiff_t at = reinterpret_cast<uint8_t*>(s.c) - reinterpret_cast<uint8_t*>(s.e.block.get());
  s.e.block = std::move(moved);
  s.c = s.e.c = reinterpret_cast<EngineContext*>(reinterpret_cast<uint8_t*>(s.e.block.get()) + at);
  ASSERT_EQ(engine_offsets_to_pointers(s.c, 0, 0), kOk);
  EXPECT_EQ(tasks(), 2);
  g_now += 1.5;
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("trace"), "double 1x2 [9 9]");
}

TEST_F(TaskTest, LockedSemaphoreBlocksUntilUnlocked) {
  ASSERT_EQ(s.run("function taker(id)\n  global trace\n  semaphorelock(id);\n  trace(end + 1) = 1;\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global trace; trace = []; sem = semaphorenew(); semaphorelock(sem); threadnew(@taker, threadset(), sem);\n"), kOk);
  for (int i = 0; i < 5; ++i) interp_run(s.c, 0);
  EXPECT_EQ(tasks(), 1);
  EXPECT_EQ(s.value("trace"), "double 0x0 []");
  ASSERT_EQ(s.run("semaphoreunlock(sem);\n"), kOk);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("trace"), "double 1x1 [1]");
  EXPECT_EQ(s.value("semaphorelock(sem)"), "logical 1x1 [0]");  // the task holds it
}

// A posted call runs at the next instruction boundary, with the code
// position of the running code stored before it and taken back after it;
// the queue holds 16 entries.
int g_event_runs = 0;
int32_t g_event_pos_kind = -1;
int count_event(EngineContext* c, void*) {
  ++g_event_runs;
  g_event_pos_kind = c->pos.kind;
  return kOk;
}

TEST_F(TaskTest, PostedCallsRunBetweenInstructions) {
  EventPoster poster{};
  engine_get_event_poster(s.c, &poster);
  g_event_runs = 0;
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(poster.post_call(&poster, count_event, nullptr));
  EXPECT_FALSE(poster.post_call(&poster, count_event, nullptr));  // the 17th
  ASSERT_EQ(s.run("x = 0;\nfor k = 1:40, x = x + k; end\n"), kOk);
  EXPECT_EQ(g_event_runs, 16);
  EXPECT_NE(g_event_pos_kind, kAreaNone);  // the command line's code
  EXPECT_EQ(s.c->event_count, 0);
  EXPECT_EQ(s.value("x"), "double 1x1 [820]");
}

// Item lists as the exporter lays them out.
std::vector<double> item_list(ZvrSession& s, const char* fn, double a, double b) {
  std::vector<double> buf(64);
  EXPECT_EQ(stk_push_cstr(s.c, int32_t(std::strlen(fn)), fn), kOk);
  EXPECT_EQ(stk_push_real(s.c, a), kOk);
  EXPECT_EQ(stk_push_real(s.c, b), kOk);
  EXPECT_EQ(stk_export_items(s.c, 2, 2, nullptr, buf.data()), kOk);
  for (int i = 0; i < 3; ++i) stk_drop(s.c);
  uint32_t head[2] = {};
  std::memcpy(head, buf.data(), sizeof head);
  EXPECT_EQ(head[0], 2u);  // the argument count, then four unused bytes
  EXPECT_EQ(head[1], 0u);
  return buf;
}

TEST_F(TaskTest, PostedItemListsCallTheirFunction) {
  ASSERT_EQ(s.run("function setg(a, b)\n  global g\n  g = 10 * a + b;\nendfunction\nglobal g; g = 0;\n"), kOk);
  EventPoster poster{};
  engine_get_event_poster(s.c, &poster);
  std::vector<double> bad = item_list(s, "nosuchfn", 1, 2), good = item_list(s, "setg", 4, 2);
  g_event_runs = 0;
  ASSERT_TRUE(poster.post_data(&poster, bad.data()));
  ASSERT_TRUE(poster.post_data(&poster, good.data()));
  ASSERT_TRUE(poster.post_call(&poster, count_event, nullptr));
  const int32_t desc = s.c->desc_top, frame = s.c->frame;
  ASSERT_EQ(s.run("y = 1;\nz = 2;\nw = 3;\n"), kOk);
  EXPECT_EQ(s.c->event_count, 0);  // the failing list blocked nothing
  EXPECT_EQ(g_event_runs, 1);
  EXPECT_EQ(s.value("g"), "double 1x1 [42]");
  EXPECT_EQ(s.c->desc_top, desc);
  EXPECT_EQ(s.c->frame, frame);
}


// A row that waits for console input until the test says it has come.
bool g_input_ready = false;
int bi_wait_input(EngineContext* c, int, int, uintptr_t) {
  if (!g_input_ready) return kWaitInput;
  return stk_push_real(c, 42);
}
const BuiltinEntry kInputRows[] = {builtin_row("waitinput", 0, 0, 1, 1, 0, 0, bi_wait_input), builtin_end_row()};

// A task that meets kWaitInput keeps its position; the main context takes
// over and the run ends with kWaitInput. Once input is there the task reads it.
TEST_F(TaskTest, TaskWaitingForInputKeepsItsPosition) {
  g_input_ready = false;
  ASSERT_EQ(engine_register_builtin_table(s.c, kInputRows, 1), kOk);
  ASSERT_EQ(s.run("function reader()\n  global got\n  got = waitinput();\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global got; got = 0; threadnew(@reader);\n"), kOk);
  EXPECT_EQ(drain(), kWaitInput);
  EXPECT_EQ(s.c->task_current, 0);
  EXPECT_EQ(tasks(), 1);
  EXPECT_EQ(drain(), kWaitInput);  // asks again, still there
  EXPECT_EQ(tasks(), 1);
  g_input_ready = true;
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("got"), "double 1x1 [42]");
}

// A reset with tasks, semaphores and a lock alive: the sweep frees their
// blocks, and the engine goes on with none, able to make new ones.
TEST_F(TaskTest, ResetWithTasksAliveForgetsThem) {
  ASSERT_EQ(s.run(kWorker), kOk);
  ASSERT_EQ(s.run("function sleeper()\n  threadsleep(100);\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("global trace; trace = []; threadnew(@sleeper); threadnew(@sleeper); a = semaphorenew();\n"), kOk);
  for (int i = 0; i < 3; ++i) interp_run(s.c, 0);
  ASSERT_EQ(tasks(), 2);
  engine_reset(s.c);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.c->task_current, 0);
  EXPECT_EQ(s.value("semaphorenew()"), "double 1x1 [1]");
  ASSERT_EQ(s.run("global trace; trace = []; threadnew(@w, threadset(), 4, 2);\n"), kOk);
  EXPECT_EQ(drain(), kOk);
  EXPECT_EQ(s.value("trace"), "double 1x2 [4 4]");
  EXPECT_TRUE(s.clean());
}

// Passing over a sleeping task keeps the main code running past its slice,
// and the scheduler is asked again only when the sleeper may be due, a
// slice later at most: once a slice (the sleeper's accumulator gains its
// priority each time), not after every instruction once the first slice is
// used up.
TEST_F(TaskTest, PassingOverASleeperAsksOnceASlice) {
  ASSERT_EQ(s.run("function sleeper()\n  threadsleep(100);\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("id = threadnew(@sleeper);\n"), kOk);
  for (int i = 0; i < 3; ++i) interp_run(s.c, 0);
  g_step = 0.01;  // a lap per instruction: a slice of 0.05 s is five instructions
  const double start = g_now;
  ASSERT_EQ(s.run("for k = 1:1000\n  x = k;\nend\n"), kOk);
  g_step = 0;
  const double slices = (g_now - start) / 0.05;
  const double rounds = double(record_word(1, 32)) / double(record_word(1, kPriorityWord));
  EXPECT_GT(rounds, slices / 2);
  EXPECT_LT(rounds, slices * 1.5);
}

// A run with the slice flag, as the host's tick makes it with no code of
// the main context's to run: a task's backward jumps do not end it, the end
// of the task's time slice does, and the main context is current again.
TEST_F(TaskTest, SlicedRunGivesATaskOneWholeSlice) {
  ASSERT_EQ(s.run(kSpinner), kOk);
  ASSERT_EQ(s.run("threadnew(@spinner, threadset(), 1e6);\n"), kOk);
  g_step = 0.001;  // a lap per instruction: a slice is some fifty of them
  for (int run = 1; run <= 3; ++run) {
    EXPECT_EQ(interp_run(s.c, 1), kSliceEnded);
    EXPECT_EQ(s.c->task_current, 0);
    EXPECT_EQ(tasks(), 1);
    const double used = record_double(1, kTotalTimeWord);
    EXPECT_GT(used, run * s.c->time_slice - 0.005) << run;
    EXPECT_LT(used, run * s.c->time_slice + 0.005) << run;
  }
}

// Two tasks that would run for hundreds of slices beside a short main
// script: the main context too gets its turns, so its code ends while both
// tasks still run, each having had turns of its own.
TEST_F(TaskTest, BusyTasksLeaveTheMainContextItsTurns) {
  ASSERT_EQ(s.run(kSpinner), kOk);
  ASSERT_EQ(s.run("a = threadnew(@spinner, threadset(), 1e4); b = threadnew(@spinner, threadset(), 1e4);\n"), kOk);
  g_step = 0.001;
  for (int sliced = 0; sliced <= 1; ++sliced) {
    EXPECT_EQ(finish("x = 0;\nfor k = 1:300\n  x = x + k;\nend\n", sliced), kOk);
    EXPECT_EQ(tasks(), 2) << sliced;
    EXPECT_GT(record_double(1, kTotalTimeWord), 0.0) << sliced;
    EXPECT_GT(record_double(2, kTotalTimeWord), 0.0) << sliced;
    EXPECT_EQ(s.value("x"), "double 1x1 [45150]");
  }
  EXPECT_EQ(s.value("[a b]"), "double 1x2 [1 2]");  // the tasks' loops wrote none of the main script's variables
  ASSERT_EQ(s.run("threadkill(a); threadkill(b);\n"), kOk);
}

// The scheduler choosing the context already running changes nothing: it
// goes on in the slice it has used, not in a fresh one.
TEST_F(TaskTest, ChoosingTheRunningContextKeepsItsSlice) {
  ASSERT_EQ(s.run("function sleeper()\n  threadsleep(100);\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("id = threadnew(@sleeper);\n"), kOk);
  for (int i = 0; i < 3; ++i) interp_run(s.c, 0);
  ASSERT_EQ(s.c->task_current, 0);
  s.c->time_used = 0.07;
  task_switch(s.c, -1);  // the sleeper is passed over
  EXPECT_EQ(s.c->task_current, 0);
  EXPECT_EQ(s.c->time_used, 0.07);
  task_switch(s.c, 0);
  EXPECT_EQ(s.c->time_used, 0.07);
}

// A task asleep beside a busy main script wakes when it is due, not at the
// end of a slice the main script was given meanwhile: the scheduler, which
// let the main script run on, asks again when the sleeper is due.
double g_toc_now() { return g_now; }
TEST_F(TaskTest, SleeperBesideABusyMainScriptWakesOnTime) {
  clock_set_sources_for_tests(g_toc_now, nullptr);
  ASSERT_EQ(s.run("function nap()\n  global woke slept\n  slept = toc;\n  threadsleep(0.12);\n  woke = toc;\n"
                  "endfunction\n"),
            kOk);
  g_step = 0.001;
  ASSERT_EQ(finish("global woke slept; woke = 0; threadnew(@nap);\nfor k = 1:2000\n  x = k;\nend\n"), kOk);
  clock_set_sources_for_tests(nullptr, nullptr);
  EXPECT_EQ(tasks(), 0);
  EXPECT_EQ(s.value("woke - slept >= 0.12 && woke - slept < 0.135"), "logical 1x1 [1]") << s.value("woke - slept");
}

// A coarse clock, as the host's: it moves by kCoarseTick once every
// kReadsPerTick readings, whoever reads it.
constexpr double kCoarseTick = 0.02;
constexpr int kReadsPerTick = 10;
int g_coarse_reads = 0;
double coarse_clock(void* state, int, int mode) {
  auto* start = static_cast<double*>(state);
  if (++g_coarse_reads % kReadsPerTick == 0) g_now += kCoarseTick;
  const double lap = g_now - *start;
  if (mode == 1) *start = g_now;
  return lap;
}

// While a task sleeps, a loop of fast instructions reads a clock that has not
// moved once a lap of more and more steps, not after each one (that cost
// three times the loop's own time); the slices still end when the clock has
// moved on, and the sleeper is still passed over. A clock that moves a
// fiftieth of the slice or more at every reading is still read after every
// instruction (the tests above).
TEST_F(TaskTest, FastInstructionsReadACoarseClockOnceALap) {
  ASSERT_EQ(s.run("function sleeper()\n  threadsleep(100);\nendfunction\n"), kOk);
  ASSERT_EQ(s.run("id = threadnew(@sleeper);\n"), kOk);
  for (int i = 0; i < 3; ++i) interp_run(s.c, 0);
  engine_set_callbacks(s.c, coarse_clock, &main_state, int32_t(sizeof(double)));
  constexpr int kSteps = 300000;  // of the loop below, three or more fast instructions each
  g_coarse_reads = 0;
  const uint32_t rounds_before = record_word(1, 32);
  ASSERT_EQ(s.run("for k = 1:300000\n  x = k;\nend\n"), kOk);
  EXPECT_LT(g_coarse_reads, kSteps / 100);
  EXPECT_GT(record_word(1, 32), rounds_before);  // slices ended and the scheduler ran
  EXPECT_EQ(s.value("x"), "double 1x1 [300000]");
  EXPECT_EQ(tasks(), 1);
}

}  // namespace
