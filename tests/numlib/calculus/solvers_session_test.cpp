// The re-entrant solvers driven from ZVR text: each call, whether it ends
// with its outputs or with an error raised at the start or in any later
// entry, leaves the engine with no frame, item or data word beyond the base
// frame once its statement is done.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/status.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/ode_tableaus.h"
#include "support/failure_sweep.h"
#include "support/zvr_session.h"

namespace {

struct Case {
  const char* text;
  int status;
};

// Errors at the start, in the middle of a run (from the user's function or
// from its value) and at the end, beside successful runs at each output count.
const Case kCases[] = {
    {"q = quad(@(x) x.^2, 0, 1);", kOk},
    {"q = quad(@(x) 1 / x, 0, 1);", 9},
    {"q = quad(@(x) [x x], 0, 1);", kNonScalarArg},
    {"q = quad(@(x) undefined_thing(x), 0, 1);", kUndefinedFunction},
    {"q = quad(@(x) x, 0, 1, [1 2]);", kBadSize},
    {"z = fzero(@(x) x^2 - 2, 1);", kOk},
    {"z = fzero(@(x) 1, 1);", 9},
    {"z = fzero(@(x) x, [2 1]);", kBadArgument},
    {"z = fzero(@(x) 'ab', 1);", kWrongType},
    {"x = fminbnd(@(x) (x - 1)^2, [0 3]);", kOk},
    {"[x, f] = fminbnd(@(x) (x - 1)^2, 0.5);", kOk},
    {"[x, f, ok] = fminbnd(@(x) -x, 1, optimset('MaxFunEvals', 5));", kOk},
    {"x = fminbnd(@(x) -x, 1, optimset('MaxFunEvals', 5));", 9},
    {"x = fminbnd(@(x) NaN, [0 1]);", 9},
    {"x = fminsearch(@(x) sum(x.^2), [1 2]);", kOk},
    {"[x, f, ok] = fminsearch(@(x) sum(x.^2), [1 2], optimset('MaxIter', 2));", kOk},
    {"x = fminsearch(@(x) sum(x.^2), [1 2], optimset('MaxIter', 2));", 9},
    {"x = fminsearch(@(x) [x x], [1 2]);", kNonScalarArg},
    {"[t, y] = ode45(@(t, y) -y, [0 1], 1);", kOk},
    {"t = ode23(@(t, y) -y, [0 1], [1; 2]);", kOk},
    {"ode45(@(t, y) -y, [0 1], 1);", kOk},
    {"[t, y] = ode45(@(t, y) -y, [0 1], 1, odeset('OutputFcn', @(t, y) t(end) > 0.5));", kOk},
    {"[t, y] = ode45(@(t, y) [y; y], [0 1], 1);", kBadSize},
    {"[t, y] = ode45(@(t, y) -y, [0 1], 1, odeset('OutputFcn', @(t, y) {1}));", kWrongType},
    {"[t, y] = ode45(@(t, y) -y, [0 1 2], 1);", kBadSize},
    {"[t, y] = ode23(@(t, y) undefined_thing, [0 1], 1);", kUndefinedFunction},
    // Through the event-capable solver: each output count, and errors raised
    // by the user's functions inside it.
    {"ode45(@(t, y) -y, [0 1], 1, odeset('EventTime', [0.5 0]));", kOk},
    {"r = ode23(@(t, y) -y, [0 1], 1, odeset('EventTime', [0.5 0]));", kOk},
    {"[t, y] = ode45(@(t, y) -y, [0 1], 1, odeset('EventTime', @(t, y) t + 0.25));", kOk},
    {"[t, y] = ode45(@(t, y) -y, [1 0], 1, odeset('EventTime', [0.5 0]));", kOk},
    {"[t, y] = ode45(@(t, y) undefined_thing, [0 1], 1, odeset('EventTime', [0.5 0]));", kUndefinedFunction},
    {"[t, y] = ode45(@(t, y) -y, [0 1], 1, odeset('EventTime', @(t, y) undefined_thing));", kUndefinedFunction},
    {"[t, y] = ode45(@(t, y) -y, [0 1], 1, odeset('Events', 'undefined_thing'));", kUndefinedFunction},
    {"[t, y] = ode45(@(t, y) -y, [0 1 2], 1, odeset('EventTime', [0.5 0]));", kBadSize},
};

TEST(SolverSessions, EveryPathLeavesTheStacksClean) {
  for (const Case& k : kCases) {
    ZvrSession s;
    const int st = s.run(std::string(k.text) + "\n");
    if (st != kOk) frame_unwind(s.c, 0);
    EXPECT_EQ(st, k.status) << k.text;
    EXPECT_TRUE(s.clean()) << k.text;
    s.take_output();
  }
}

// The outputs of a run: first output first, shapes as asked.
TEST(SolverSessions, OutputCountsAndShapes) {
  ZvrSession s;
  EXPECT_EQ(s.value("size(ode45(@(t, y) -y, [0 1], [1; 2]))"), s.value("[numel(ode45(@(t, y) -y, [0 1], 1)) 1]"));
  EXPECT_EQ(s.value("fminsearch(@(x) sum(sum((x - [1 2; 3 4]).^2)), zeros(2)) - [1 2; 3 4] < 1e-3"),
            s.value("true(2)"));
  EXPECT_TRUE(s.clean());
}

// The event-capable solver gives the results the plain solver gives when
// no event happens within the span (same tableau, same steps).
TEST(SolverSessions, EventSolverMatchesThePlainSolverWithoutEvents) {
  ZvrSession s;
  for (const char* solver : {"ode45", "ode23"}) {
    const std::string f = std::string("[t, y] = ") + solver + "(@(t, y) [y(2); -y(1)], [0 3], [0; 1], odeset(";
    EXPECT_EQ(s.run(f + "'RelTol', 1e-6)); a = [t, y];\n"), kOk);
    EXPECT_EQ(s.run(f + "'RelTol', 1e-6, 'EventTime', [10 5])); b = [t, y];\n"), kOk);
    ASSERT_EQ(s.value("size(a)"), s.value("size(b)")) << solver;
    EXPECT_EQ(s.value("max(max(abs(a - b))) < 1e-12"), s.value("true")) << solver;
  }
  s.take_output();
}

// Handing a call to the event-capable solver with k free words in each room:
// every failure leaves the inputs as they were; success leaves the solver's
// frame, which is discarded here.
TEST(SolverSessions, EventSolverStartUnderTheRoomSweep) {
  ZvrSession s;
  ASSERT_EQ(s.run("f_ = @(t, y) -y; span_ = [0 1]; y0_ = [1; 2]; o_ = odeset('EventTime', [0.5 0]);\n"), kOk);
  const char* inputs[] = {"f_", "span_", "y0_", "o_"};
  auto push = [&] {
    for (const char* name : inputs) TN_TRY(s.push_variable(name));
    return int(kOk);
  };
  {
    const double* tableau = kOde45Tableau;
    auto call = [&] {
      const int st = bi_ode(s.c, 4, 2, reinterpret_cast<uintptr_t>(tableau));
      return st == kOk ? frame_return_discard(s.c) : st;
    };
    bool swept = false;
    EXPECT_TRUE(sweep_rooms(s.c, push, call, &swept, 1 << 16, {SweepRoom::kData, SweepRoom::kDesc}));
    EXPECT_TRUE(swept);
  }
  EXPECT_TRUE(s.clean());
}

}  // namespace
