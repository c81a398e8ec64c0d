// The short ways of a call: a plain frame clears its slots as a fixed run of
// words, which must stay inside the stack's room; the allocator's inline path
// merges the free run at its hint, which must leave what a scan from the
// heap's start leaves, also when the run is too small and the scan goes on.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "support/code_builder.h"
#include "support/engine_block.h"
#include "support/heap_check.h"

namespace {

TEST(FrameCost, PlainFrameWritesNothingPastTheStacksRoom) {
  for (int32_t spare : {0, 3, 5, 8}) {  // words of room left behind the frame and its argument
    EngineBlock b = EngineBlock::make(65536);
    EngineContext* c = b.ctx();
    HandFunction f;
    f.locals = 2;
    f.max_in = 1;
    f.max_out = 1;
    const uint32_t at = place_function(c, f);
    ASSERT_EQ(stk_push_real(c, 2.5), kOk);
    const int32_t index = c->desc_top - 3;
    const int32_t limit = index + kFrameFixedWords + 2 + 3 + spare;
    ASSERT_LT(limit + 16, c->desc_capacity);
    c->desc_capacity = limit;
    for (int32_t k = limit; k < limit + 16; ++k) desc_words(c)[k] = 0x5a5a5a5a;
    CodePosition caller{kAreaCode, 0, 40};
    ASSERT_EQ(frame_push(c, &caller, function_header(c, at), 7, 0, 1, 1, 0, 0, 0), kOk) << spare;
    for (int32_t k = limit; k < limit + 16; ++k) EXPECT_EQ(desc_words(c)[k], 0x5a5a5a5au) << spare;
    const uint32_t* w = frame_words(c, c->frame);
    EXPECT_EQ(c->frame, index);
    EXPECT_GT(int32_t(w[kFrameFixedWords]), 0);
    EXPECT_EQ(w[kFrameFixedWords + 1], uint32_t(-1));
    EXPECT_EQ(w[kFwLocals], 2u);
    EXPECT_EQ(frame_pop(c), kOk);
    EXPECT_TRUE(check_heap_used(c, {}));
  }
}

TEST(FrameCost, ManyArgumentsReachTheirSlotsOverTheirOwnDescriptors) {
  // Nine arguments' descriptors reach past the fixed words into the slots;
  // the slots take them in reverse order, the last one left empty.
  EngineBlock b = EngineBlock::make(65536);
  EngineContext* c = b.ctx();
  HandFunction f;
  f.locals = 10;
  f.max_in = 9;
  for (uint16_t k = 0; k < 9; ++k) f.input_slots.push_back(uint16_t(8 - k));
  const uint32_t at = place_function(c, f);
  for (int k = 0; k < 9; ++k) ASSERT_EQ(stk_push_real(c, 10.0 + k), kOk);
  ASSERT_EQ(frame_push(c, nullptr, function_header(c, at), 7, 0, 0, 9, 0, 0, 0), kOk);
  const uint32_t* w = frame_words(c, c->frame);
  for (int k = 0; k < 9; ++k) {
    double v = 0;
    std::memcpy(&v, heap_words(c) + w[kFrameFixedWords + 8 - k] + kHeapValueHeaderWords, 8);
    EXPECT_EQ(v, 10.0 + k) << k;
  }
  EXPECT_EQ(w[kFrameFixedWords + 9], uint32_t(-1));
  EXPECT_EQ(frame_pop(c), kOk);
  EXPECT_TRUE(check_heap_used(c, {}));
}

TEST(FrameCost, InlineAllocationMatchesAScanFromTheStart) {
  // Blocks a, b, c, d of 3 words and a guard; then some are freed and a
  // request is made: exact fit at the hint, merged fit, merged run too small.
  struct Case {
    std::vector<int> freed;
    int64_t request;
  };
  for (const Case& t : {Case{{0}, 3}, Case{{0, 1}, 7}, Case{{0, 1}, 9}, Case{{1, 2}, 4}, Case{{0, 2, 3}, 6}}) {
    EngineBlock fast = EngineBlock::make(65536), scan = EngineBlock::make(65536);
    int32_t blocks[5] = {};
    for (EngineContext* c : {fast.ctx(), scan.ctx()}) {
      for (int k = 0; k < 5; ++k) ASSERT_EQ(heap_alloc(c, k == 4 ? 1 : 3, &blocks[k]), kOk);
      for (int k : t.freed) heap_free(c, blocks[k]);
    }
    heap_hint_reset(scan.ctx());
    int32_t got = 0, want = 0;
    ASSERT_EQ(heap_alloc(fast.ctx(), t.request, &got), kOk);
    ASSERT_EQ(heap_alloc_scan(scan.ctx(), t.request, &want), kOk);
    EXPECT_EQ(got, want) << t.request;
    EXPECT_EQ(fast->heap_hint, scan->heap_hint) << t.request;
    EXPECT_EQ(std::memcmp(heap_words(fast.ctx()), heap_words(scan.ctx()), size_t(fast->heap_size) * 8), 0)
        << t.request;
  }
}

}  // namespace
