// Engine tasks as the runtime runs them. The engine tick, as the main
// frame's timer runs it: one time slice of a task and back, whatever the
// task's code does. A task that stops for debugging, which the program
// cannot step, ends with the report a handler that stops gives, in a tick
// or while a handler runs, and the engine (the handler) goes on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "host/builtin_table_host.h"
#include "runtime/host_clock.h"
#include "runtime/runtime_block.h"
#include "app_fixture.h"
#include "fake_host.h"
#include "support/image_feed.h"

namespace {

constexpr uint32_t kBlockBytes = 2u << 20;

// A clock that moves by a fixed step at every lap reading, so that a slice
// ends after a known number of instructions. A state holds its lap's start.
double g_now = 0;
constexpr double kStep = 0.001;
double stepping_clock(void* state, int, int mode) {
  double start = 0;
  std::memcpy(&start, state, sizeof start);
  if (mode == 1) g_now += kStep;
  const double lap = g_now - start;
  if (mode == 1) std::memcpy(state, &g_now, sizeof g_now);
  return lap;
}

int run(EngineContext* c, const std::string& text) {
  int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  while (status == kSliceEnded) status = interp_run(c, 0);
  return status;
}

struct Tick : ::testing::Test {
  FakeHost h;
  double slots[6] = {};
  EngineContext* c = nullptr;
  void SetUp() override {
    ASSERT_EQ(h.start(kBlockBytes, kBlockBytes), 0);
    ASSERT_EQ(rt_register_library(h.block, g_builtin_table_host), 0);
    rt_set_clock_callback(h.block, stepping_clock, slots, int32_t(sizeof(double)));
    c = rt_engine(h.block);
    ASSERT_EQ(run(c, "function spinner(n)\n  k = 0;\n  while k < n\n    k = k + 1;\n  end\nendfunction\n"
                     "function halter()\n  x = 7;\n  dbhalt\n  x = 8;\nendfunction\n"),
              kOk);
  }
};

TEST_F(Tick, RunsOneSliceOfATaskAndComesBack) {
  // A task a handler started: the main context has no code of its own.
  ASSERT_EQ(run(c, "threadnew(@spinner, threadset(), 1e6);\n"), kOk);
  for (int tick = 0; tick < 3; ++tick) {
    const double before = g_now;
    EXPECT_EQ(rt_engine_tick(h.block), kSliceEnded);
    EXPECT_EQ(c->task_current, 0);
    EXPECT_NE(c->task_first, 0);  // still counting
    EXPECT_NEAR(g_now - before, c->time_slice, 0.01) << tick;
  }
  ASSERT_EQ(run(c, "threadkill(1);\n"), kOk);
  EXPECT_EQ(rt_engine_tick(h.block), kOk);  // nothing left to run
}

TEST_F(Tick, TaskThatStopsForDebuggingEnds) {
  ASSERT_EQ(run(c, "threadnew(@halter);\n"), kOk);
  h.take_output();
  EXPECT_EQ(rt_engine_tick(h.block), kOk);
  const std::string out = h.take_output();
  EXPECT_NE(out.find("Cannot step in TN handlers."), std::string::npos) << out;
  EXPECT_NE(out.find("x = 7"), std::string::npos) << out;  // the task's variables
  EXPECT_EQ(c->task_first, 0);
  EXPECT_EQ(c->task_current, 0);
  EXPECT_EQ(c->status_word, kOk);
  // The engine goes on: code runs, and a new task runs to its end.
  EXPECT_EQ(run(c, "y = 3;\n"), kOk);
  ASSERT_EQ(run(c, "threadnew(@spinner, threadset(), 10);\n"), kOk);
  EXPECT_EQ(rt_engine_tick(h.block), kOk);
  EXPECT_EQ(c->task_first, 0);
}

// The handler waits on a semaphore that its task unlocks before it stops.
const char kWaiterSource[] =
    "function unlock_and_halt(s)\n"
    "  semaphoreunlock(s);\n"
    "  dbhalt\n"
    "endfunction\n"
    "function a = waiter()\n"
    "  s = semaphorenew();\n"
    "  semaphorelock(s);\n"
    "  threadnew(@unlock_and_halt, threadset(), s);\n"
    "  semaphorelock(s);\n"
    "  a = 5;\n"
    "endfunction\n";

struct HandlerTask : apptest::App {};

TEST_F(HandlerTask, TaskThatStopsEndsAndTheHandlerGoesOn) {
  build("instance demo\nvar a\nresize a = waiter()\n", kWaiterSource);
  EXPECT_EQ(call(record(kTagResize)), 0);
  EXPECT_NE(host.take_output().find("Cannot step in TN handlers."), std::string::npos);
  EXPECT_EQ(value("a"), 5);
  EXPECT_EQ(c()->task_first, 0);
  EXPECT_EQ(c()->task_current, 0);
  EXPECT_EQ(c()->status_word, kOk);
}

// A task fails while a handler counts: the task goes, with its report, and
// the handler counts on to its end and delivers its outputs. Both ways the
// runtime runs handlers: in one call, and in slices under a break poll.
const char kFailingTaskSource[] =
    "function fail_later(n)\n"
    "  k = 0;\n"
    "  while k < n\n"
    "    k = k + 1;\n"
    "  end\n"
    "  x = [1 2 3];\n"
    "  y = x(5);\n"
    "endfunction\n"
    "function id = starter()\n"
    "  id = threadnew(@fail_later, threadset(), 200);\n"
    "endfunction\n"
    "function [a, gone] = counter(id)\n"
    "  k = 0;\n"
    "  while k < 5000\n"
    "    k = k + 1;\n"
    "  end\n"
    "  a = k;\n"
    "  gone = 0;\n"
    "  try\n"
    "    threadkill(id);\n"
    "  catch\n"
    "    gone = 1;\n"
    "  end\n"
    "endfunction\n";

uint8_t no_break(void*) { return 0; }

TEST_F(HandlerTask, TaskErrorEndsTheTaskAloneAndTheHandlerCompletes) {
  build("instance demo\nvar a\nvar id\nvar gone\nresize id = starter()\nresize [a, gone] = counter(id)\n",
        kFailingTaskSource);
  double slots[6] = {};
  rt_set_clock_callback(host.block, stepping_clock, slots, int32_t(sizeof(double)));
  for (const bool sliced : {false, true}) {
    SCOPED_TRACE(sliced ? "sliced" : "in one call");
    rt_set_break_poll(host.block, sliced ? no_break : nullptr, nullptr);
    ASSERT_EQ(call(record(kTagResize, 0)), 0);
    ASSERT_NE(c()->task_first, 0);
    host.take_output();
    EXPECT_EQ(call(record(kTagResize, 1)), 0);
    const std::string out = host.take_output();
    // The task's report alone: the handler is not blamed.
    EXPECT_EQ(out, "Index out of range (_TN_demo/fail_later;7)\n");
    EXPECT_EQ(value("a"), 5000);
    EXPECT_EQ(value("gone"), 1);  // the task failed while the handler ran
    EXPECT_EQ(c()->task_first, 0);
    EXPECT_EQ(c()->task_current, 0);
  }
  rt_set_break_poll(host.block, nullptr, nullptr);
}

// The program's clock on the process's CPU time, counting its readings: a
// lap then measures the work done, however busy the machine.
int g_reads = 0;
double counting_cpu_clock(void* slot, int, int reset) {
  ++g_reads;
  return cpu_time_callback(slot, 1, reset);
}

const char kCountingSource[] =
    "function k = count(n)\n"
    "  k = 0;\n"
    "  while k < n\n"
    "    k = k + 1;\n"
    "  end\n"
    "endfunction\n"
    "function sleeper()\n"
    "  while true\n"
    "    threadsleep(100);\n"
    "  end\n"
    "endfunction\n"
    "function id = start_sleeper()\n"
    "  id = threadnew(@sleeper);\n"
    "endfunction\n"
    "function id = start_counter(n)\n"
    "  id = threadnew(@count, threadset(), n);\n"
    "endfunction\n"
    "function n = turns()\n"
    "  n = 200000;\n"
    "endfunction\n";
constexpr double kTurns = 200000;

// With a task about, the clock is read once a lap of a millisecond's work,
// not after every instruction (which cost a handler two thirds of its speed
// beside a task that only sleeps) nor at every backward jump that hands a
// handler's run back to the runtime: in a handler run in slices under the
// break poll, as the program runs it, beside a sleeping task, and in a task
// that counts in the frame's ticks. Counted readings, not times.
TEST_F(HandlerTask, ClockIsReadOnceALapBesideTasks) {
  build("instance demo\nvar n\nvar k\nvar id\ninit n = turns()\nresize k = count(n)\n"
        "resize id = start_sleeper()\nresize id = start_counter(n)\n",
        kCountingSource);
  double slots[6] = {};
  rt_set_clock_callback(host.block, counting_cpu_clock, slots, int32_t(sizeof(double)));
  rt_set_break_poll(host.block, no_break, nullptr);
  ASSERT_EQ(call(record(kTagResize, 1)), 0);
  ASSERT_NE(c()->task_first, 0);
  g_reads = 0;
  ASSERT_EQ(call(record(kTagResize, 0)), 0);
  EXPECT_EQ(value("k"), kTurns);
  EXPECT_LT(g_reads, kTurns / 100) << "readings of the clock beside a sleeping task";
  ASSERT_EQ(run(c(), "threadkill(1);\n"), kOk);  // the sleeper
  // A task alone, counting in ticks as the frame's timer runs them.
  ASSERT_EQ(call(record(kTagResize, 2)), 0);
  g_reads = 0;
  int ticks = 0;
  while (c()->task_first != 0 && ticks < 1000) {
    ASSERT_LE(rt_engine_tick(host.block), kSliceEnded);
    ++ticks;
  }
  EXPECT_EQ(c()->task_first, 0);
  EXPECT_LT(g_reads, kTurns / 100) << "readings of the clock in " << ticks << " ticks";
  rt_set_break_poll(host.block, nullptr, nullptr);
}

// Tasks saved in an image resume after it is loaded as the program loads it
// (its clock, 8 bytes a state, and its break poll installed first): one
// asleep, one waiting on a semaphore, one runnable that has not run yet.
// The writer had no clock, as the builder has none (its sleeper then never
// sleeps: threadsleep without a clock returns at once), or the program's.
const char kSavedTasksSource[] =
    "function saved_sleeper()\n"
    "  global trace\n"
    "  threadsleep(0.5);\n"
    "  trace(end + 1) = 1;\n"
    "endfunction\n"
    "function saved_waiter(s)\n"
    "  global trace\n"
    "  semaphorelock(s);\n"
    "  trace(end + 1) = 2;\n"
    "endfunction\n"
    "function saved_runner(s)\n"
    "  global trace\n"
    "  trace(end + 1) = 3;\n"
    "  semaphoreunlock(s);\n"
    "endfunction\n";

int count_tasks(EngineContext* c) {
  int n = 0;
  for (int32_t t = c->task_first; t != 0 && n < 100; ++n)
    t = int32_t(tn::ld_u32(reinterpret_cast<const uint8_t*>(heap_words(c) + t) + 4 * kTaskNext));
  return n;
}

TEST(SavedTasks, ResumeAfterLoadingInTheProgramsSetUp) {
  for (const bool writer_clock : {false, true}) {
    SCOPED_TRACE(writer_clock ? "writer with the program's clock" : "writer without a clock");
    FakeHost w;
    ASSERT_EQ(w.start(kBlockBytes, kBlockBytes), 0);
    ASSERT_EQ(rt_register_library(w.block, g_builtin_table_host), 0);
    double w_slots[6] = {};
    if (writer_clock) rt_set_clock_callback(w.block, stepping_clock, w_slots, int32_t(sizeof(double)));
    EngineContext* wc = rt_engine(w.block);
    ASSERT_EQ(run(wc, kSavedTasksSource), kOk);
    ASSERT_EQ(run(wc, "global trace s; trace = []; s = semaphorenew(); semaphorelock(s);\n"
                      "threadnew(@saved_sleeper); threadnew(@saved_waiter, threadset(), s);\n"),
              kOk);
    for (int tick = 0; tick < 4; ++tick) rt_engine_tick(w.block);  // they run until they wait
    ASSERT_EQ(run(wc, "threadnew(@saved_runner, threadset(), s);\n"), kOk);
    ASSERT_EQ(count_tasks(wc), writer_clock ? 3 : 2);
    const tnbuild::Sections image = tnbuild::Builder(w.block, {}).sections();

    // The program's set-up, in a block of another size: the heap lies elsewhere.
    FakeHost p;
    ASSERT_EQ(p.start(2 * kBlockBytes, 2 * kBlockBytes), 0);
    ASSERT_EQ(rt_register_library(p.block, g_builtin_table_host), 0);
    double slots[6] = {};
    rt_set_break_poll(p.block, no_break, nullptr);
    rt_set_clock_callback(p.block, stepping_clock, slots, int32_t(sizeof(double)));
    tnbuild::RequestFeed feed{&image};
    ASSERT_EQ(rt_load_image(&p.block, &tnbuild::RequestFeed::read, &feed), 0);
    EngineContext* c = rt_engine(p.block);
    ASSERT_EQ(count_tasks(c), writer_clock ? 3 : 2);
    for (int32_t t = c->task_first; t != 0;) {
      const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(c) + t);
      const uint32_t record = c->heap_base.v + uint32_t(t) * 8;
      EXPECT_EQ(r[kTaskClockState], record + kTaskRecordBytes);
      EXPECT_EQ(r[kTaskSleepClockState], record + kTaskRecordBytes + 8);
      t = int32_t(r[kTaskNext]);
    }
    for (int tick = 0; tick < 200 && c->task_first != 0; ++tick) {
      ASSERT_LE(rt_engine_tick(p.block), kSliceEnded);
      g_now += 0.01;
    }
    EXPECT_EQ(c->task_first, 0);
    // The sleeper woke last, after its half second (without a clock it never
    // slept); the runner let the waiter go.
    EXPECT_EQ(run(c, "global trace; fprintf('%g ', trace);\n"), kOk);
    EXPECT_EQ(p.take_output(), writer_clock ? "3 2 1 " : "1 3 2 ");
    rt_set_break_poll(p.block, nullptr, nullptr);
  }
}

}  // namespace
