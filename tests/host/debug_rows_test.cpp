// The debugger from ZVR code and through its services, with the host's table
// registered in front as start-up does: the breakpoint list against a model,
// the interrupt key (SIGINT through the host's poll) suspending or halting,
// and the clock callback's laps.
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <utility>
#include <vector>

#include "engine/core/debug_state.h"
#include "engine/core/errors.h"
#include "host/builtin_table_host.h"
#include "host/interrupt_poll.h"
#include "host/posix_clock.h"
#include "support/zvr_session.h"

namespace {

class DebugTest : public ::testing::Test {
 protected:
  ZvrSession s;
  void SetUp() override { ASSERT_EQ(engine_register_builtin_table(s.c, g_builtin_table_host, 1), kOk); }
  // Runs a command line in slices, as a host does, so that the abort poll is read.
  int run_sliced(const std::string& text) {
    err_state_clear(s.c);
    int status = exec_command_line(s.c, text.data(), int32_t(text.size()), 0);
    while (status == kSliceEnded) status = interp_run(s.c, 1);
    return status;
  }
  std::vector<std::pair<int32_t, int32_t>> list() {
    std::vector<std::pair<int32_t, int32_t>> v;
    for (int32_t i = 0; i < (s.c->bp_list > 0 ? s.c->bp_count : 0); ++i) {
      int32_t f = 0, l = 0;
      dbg_breakpoint_get(s.c, i, &f, &l);
      v.emplace_back(f, l);
    }
    return v;
  }
};

// Random adds and removes (by function and line, by function, by index,
// everything) agree with a vector that keeps the entries in order.
TEST_F(DebugTest, BreakpointListFollowsItsModel) {
  const char* names[] = {"fa", "fb", "fc"};
  ASSERT_EQ(s.run("function fa()\nendfunction\nfunction fb()\nendfunction\nfunction fc()\nendfunction\n"), kOk);
  int32_t ids[3] = {};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(dbg_find_function(s.c, names[i], 2, &ids[i]), kOk);
  std::vector<std::pair<int32_t, int32_t>> model;
  std::mt19937 rng(27);
  for (int step = 0; step < 2000; ++step) {
    const int f = int(rng() % 3);
    const int32_t line = int32_t(rng() % 4);
    switch (rng() % 8) {
      case 0: {  // by function and line
        ASSERT_EQ(dbg_breakpoint_remove(s.c, names[f], 2, line), kOk);
        std::erase_if(model, [&](auto& e) { return e.first == ids[f] && e.second == line; });
        break;
      }
      case 1: {  // every line of a function
        ASSERT_EQ(dbg_breakpoint_remove(s.c, names[f], 2, -1), kOk);
        std::erase_if(model, [&](auto& e) { return e.first == ids[f]; });
        break;
      }
      case 2: {  // by index, inside or outside the list
        const int32_t index = int32_t(rng() % (model.size() + 2));
        const int status = dbg_breakpoint_remove(s.c, nullptr, 0, index);
        if (index < int32_t(model.size())) {
          ASSERT_EQ(status, kOk);
          model.erase(model.begin() + index);
        } else {
          ASSERT_EQ(status, kArgOutOfRange);
        }
        break;
      }
      case 3:
        if (rng() % 16 == 0) {
          ASSERT_EQ(dbg_breakpoint_remove(s.c, nullptr, 0, -1), kOk);
          model.clear();
        }
        break;
      default:
        ASSERT_EQ(dbg_breakpoint_add(s.c, names[f], 2, line), kOk);
        model.emplace_back(ids[f], line);
    }
    ASSERT_EQ(list(), model) << "step " << step;
    ASSERT_EQ(s.c->bp_list > 0, !model.empty());
  }
  EXPECT_EQ(dbg_breakpoint_add(s.c, "nosuch", 6, 1), kUndefinedFunction);
}

const char kCounter[] =
    "function n = count()\n"
    "  n = 0;\n"
    "  for k = 1:100000\n"
    "    n = n + 1;\n"
    "  end\n"
    "endfunction\n";

// SIGINT reaches the engine through the host's poll: with the interrupt mode
// on it suspends the loop and dbcont takes it on to its end; without, it halts.
TEST_F(DebugTest, InterruptSuspendsOrHalts) {
  ASSERT_TRUE(interrupt_poll_install());
  engine_set_option_pair(s.c, interrupt_poll, nullptr);
  interrupt_poll_set_armed(true);
  ASSERT_EQ(s.run(kCounter), kOk);
  ASSERT_EQ(run_sliced("dbstop -interrupt\n"), kOk);
  ASSERT_EQ(std::raise(SIGINT), 0);
  EXPECT_EQ(run_sliced("r = count();\n"), kDebugSuspend);
  EXPECT_EQ(frame_pending_step_present(s.c), 1);
  EXPECT_EQ(run_sliced("dbstack\n"), kOk);
  EXPECT_EQ(s.take_output().substr(0, 6), "count;");
  EXPECT_EQ(run_sliced("dbcont\n"), kOk);
  EXPECT_EQ(frame_pending_step_present(s.c), 0);
  EXPECT_EQ(s.value("r"), "double 1x1 [100000]");
  EXPECT_TRUE(s.clean());

  ASSERT_EQ(s.run("dbclear -interrupt\n"), kOk);
  ASSERT_EQ(std::raise(SIGINT), 0);
  EXPECT_EQ(run_sliced("r = count();\n"), kAborted);
  frame_unwind(s.c, 0);
  s.take_output();
  EXPECT_EQ(run_sliced("r = count();\n"), kOk);
  EXPECT_EQ(s.value("r"), "double 1x1 [100000]");
  interrupt_poll_set_armed(false);
}

// dbquit abandons the suspended run; everything above the base frame goes.
TEST_F(DebugTest, QuitLeavesTheStacksClean) {
  ASSERT_EQ(s.run(kCounter), kOk);
  ASSERT_EQ(s.run("dbstop count 4\n"), kOk);
  EXPECT_EQ(run_sliced("r = count();\n"), kDebugSuspend);
  EXPECT_EQ(run_sliced("disp(n)\n"), kOk);
  EXPECT_NE(s.take_output().find("0\n"), std::string::npos);
  EXPECT_EQ(run_sliced("dbquit\n"), kOk);
  EXPECT_EQ(frame_pending_step_present(s.c), 0);
  EXPECT_TRUE(s.clean());
  EXPECT_EQ(run_sliced("dbcont\n"), kBadContext);
}

// Laps measured with the update flag add up to the time between the first and
// the last reading, whatever the clock's resolution.
TEST(PosixClock, LapsAddUpToTheWhole) {
  uint64_t lap = 0, whole = 0, cpu = 0;
  posix_clock_callback(&whole, 0, 1);
  posix_clock_callback(&lap, 0, 1);
  posix_clock_callback(&cpu, 1, 1);
  double sum = 0;
  for (int i = 0; i < 1000; ++i) sum += posix_clock_callback(&lap, 0, 1);
  const double total = posix_clock_callback(&whole, 0, 0);
  EXPECT_GE(sum, 0.0);
  EXPECT_LE(sum, total);
  EXPECT_GE(posix_clock_callback(&cpu, 1, 0), 0.0);
}

}  // namespace
