// Sweeps of built-in rows called directly on a started engine: each call runs
// with room for k data words, k = 0, 1, 2, ..., until it succeeds; every
// failure must be a stack overflow with the stacks exactly as before, and the
// success must leave exactly the outputs in place of the inputs. Error calls
// must leave the stacks as they were, whatever their status.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

inline void sweep_room(ZvrSession& s, const RowCall& rc) {
  SCOPED_TRACE(std::string(rc.name) + " nargout " + std::to_string(rc.nargout));
  EngineContext* c = s.c;
  const int nargin = int(rc.inputs.size());
  assign_inputs(s, rc);
  const uint32_t capacity = c->data_capacity;
  bool done = false;
  for (int64_t k = 0; k < 200000 && !done; ++k) {
    push_inputs(s, rc);
    const StackSnapshot before = snapshot_stacks(c);
    const int items = stk_item_count(c);
    c->data_capacity = uint32_t(c->data_top + k);
    const int st = rc.fn(c, nargin, rc.nargout, rc.data);
    c->data_capacity = capacity;
    if (st == kOk) {
      EXPECT_EQ(stk_item_count(c), items - nargin + (rc.nargout < 1 ? 1 : rc.nargout));
      EXPECT_TRUE(check_stack_invariants(c, s.e.desc_base, s.e.data_base));
      done = true;
    } else {
      ASSERT_TRUE(st == kDataStackOverflow || st == kStackOverflow) << "status " << st << " at " << k;
      ASSERT_TRUE(snapshot_stacks(c) == before) << "changed at room " << k;
    }
    s.e.clear();
  }
  EXPECT_TRUE(done);
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
