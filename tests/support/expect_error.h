// The one check of a call that must fail: its status, and both stacks exactly
// as they were before it (a failing call changes nothing its caller can see).
// The inputs are then dropped, so that the next case starts from a clean stack.
#pragma once

#include <gtest/gtest.h>

#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"

// Runs call() expecting status, then drops `drop` items (at most what is there).
template <typename Call>
void expect_error(EngineContext* c, int status, Call call, int drop = 0) {
  const StackSnapshot before = snapshot_stacks(c);
  EXPECT_EQ(call(), status);
  EXPECT_TRUE(snapshot_stacks(c) == before) << "a failed call changed the stacks";
  for (int i = 0; i < drop && stk_item_count(c) > 0; ++i) stk_drop(c);
}
