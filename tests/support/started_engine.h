// A started engine (engine_start: tables registered, base frame in place) for
// tests of built-ins on the value stack. Item counts and invariants are
// taken above the base frame's words.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "support/stack_invariants.h"

struct StartedEngine {
  std::unique_ptr<uint64_t[]> block;
  EngineContext* c = nullptr;
  int32_t desc_base = 0;
  int32_t data_base = 0;

  explicit StartedEngine(uint32_t size = 1u << 22) : block(new uint64_t[size / 8]()) {
    EXPECT_EQ(engine_start(block.get(), size, &c), kOk);
    desc_base = c->desc_top;
    data_base = c->data_top;
  }

  // Items pushed by the test (above the base frame).
  int items() const { return (c->desc_top - desc_base) / 3; }
  ::testing::AssertionResult invariants() const {
    return check_stack_invariants(c, desc_base, data_base);
  }
  void clear() const {
    while (items() > 0) stk_drop(c);
  }
};

// A StartedEngine per test whose results may stay on the stack: invariants
// checked, then the items dropped, when each test ends.
class StartedEngineClearing : public ::testing::Test {
 protected:
  StartedEngine e;
  EngineContext* c = e.c;
  void TearDown() override {
    EXPECT_TRUE(e.invariants());
    e.clear();
  }
};

// The same engine as a GoogleTest fixture: heights taken after start-up,
// stack invariants checked when each test ends.
class StartedEngineTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kBlockBytes = 8u << 20;
  std::unique_ptr<uint64_t[]> block{new uint64_t[kBlockBytes / 8]()};
  EngineContext* c = nullptr;
  int32_t desc0 = 0, data0 = 0;  // the stacks after start-up (the base frame)

  void SetUp() override {
    ASSERT_EQ(engine_start(block.get(), kBlockBytes, &c), kOk);
    desc0 = c->desc_top;
    data0 = c->data_top;
  }
  void TearDown() override { EXPECT_TRUE(check_stack_invariants(c, desc0, data0)); }

  int items() const { return (c->desc_top - desc0) / 3; }
  void clear() {
    while (items() > 0) stk_drop(c);
  }
};
