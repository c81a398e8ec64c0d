// Tables of built-in rows called directly on a started engine with inputs
// made by ZVR code: each successful call runs under the failure sweep
// (support/failure_sweep.h); error calls must leave the stacks as they were,
// whatever their status.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/failure_sweep.h"
#include "support/stack_invariants.h"
#include "support/zvr_session.h"

struct RowCall {
  const char* name;
  BuiltinFn fn;
  uintptr_t data;
  std::vector<std::string> inputs;  // ZVR expressions, first input first
  int nargout;
  int status = 0;                   // the status expected with ample room
};

// An error raised by identifier: its code is assigned when the identifier is
// first met, so only its being an error is checked.
constexpr int kAnyError = -1;

// Pushes the inputs (assigned to variables first so that no literal stays behind).
inline void push_inputs(ZvrSession& s, const RowCall& rc) {
  for (size_t i = 0; i < rc.inputs.size(); ++i)
    ASSERT_EQ(s.push_variable(("in" + std::to_string(i) + "_").c_str()), kOk);
}

inline void assign_inputs(ZvrSession& s, const RowCall& rc) {
  for (size_t i = 0; i < rc.inputs.size(); ++i)
    ASSERT_EQ(s.run("in" + std::to_string(i) + "_ = " + rc.inputs[i] + ";\n"), kOk) << rc.inputs[i];
}

// The call under the failure sweep, its inputs pushed from their variables:
// the sweep's verdict (a call that fails even with room is no success).
inline ::testing::AssertionResult sweep_row(ZvrSession& s, const RowCall& rc) {
  assign_inputs(s, rc);
  EngineContext* c = s.c;
  const int nargin = int(rc.inputs.size());
  auto push = [&] {
    for (int i = 0; i < nargin; ++i) TN_TRY(s.push_variable(("in" + std::to_string(i) + "_").c_str()));
    return int(kOk);
  };
  bool swept = false;
  ::testing::AssertionResult r = sweep_rooms(c, push, [&] { return rc.fn(c, nargin, rc.nargout, rc.data); }, &swept);
  s.e.clear();
  if (r && !swept) return ::testing::AssertionFailure() << "the call fails even with room";
  return r;
}

inline void sweep_room(ZvrSession& s, const RowCall& rc) {
  EXPECT_TRUE(sweep_row(s, rc)) << rc.name << " nargout " << rc.nargout;
}

inline void expect_error_leaves_stacks(ZvrSession& s, const RowCall& rc) {
  SCOPED_TRACE(std::string(rc.name) + " " + (rc.inputs.empty() ? "" : rc.inputs[0]));
  assign_inputs(s, rc);
  push_inputs(s, rc);
  const StackSnapshot before = snapshot_stacks(s.c);
  const int st = rc.fn(s.c, int(rc.inputs.size()), rc.nargout, rc.data);
  if (rc.status == kAnyError)
    EXPECT_NE(st, kOk);
  else
    EXPECT_EQ(st, rc.status);
  EXPECT_TRUE(snapshot_stacks(s.c) == before);
  s.e.clear();
}
