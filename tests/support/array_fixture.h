// A hand-made context for tests of the array built-ins on the value stack:
// results popped into the plain array model, and the stack invariants
// checked after every test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/array_model.h"
#include "support/raw_items.h"
#include "support/test_context.h"
#include "support/stack_invariants.h"

class ArrayFixture : public ::testing::Test {
 protected:
  TestContext h = make_test_context(1 << 16, 3 * 1024 + 1);
  EngineContext* c = h.ctx();

  void TearDown() override { EXPECT_TRUE(check_stack_invariants(c)); }

  am::Arr pop(std::string* cls = nullptr) {
    am::Arr a = am::read(c, cls);
    stk_drop(c);
    return a;
  }
  void drop(int n) {
    for (int i = 0; i < n; ++i) stk_drop(c);
  }
};
