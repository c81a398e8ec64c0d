// The allocator's scan hint: starting the first-fit scan at the hint must
// give exactly what a scan from the heap's start gives (same block, same
// merges), and every rewrite of the chain outside the allocator must leave
// the hint a true lower bound.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "support/engine_block.h"
#include "support/heap_check.h"

namespace {

// Every block below the hint is in use and the hint starts a block (or is the end).
::testing::AssertionResult hint_valid(EngineContext* c) {
  const int64_t hint = c->heap_hint;
  bool at_header = hint == c->heap_size;
  bool ok = true;
  heap_walk(heap_words(c), c->heap_size, [&](int64_t i, int64_t, uint64_t h) {
    if (i == hint) at_header = true;
    if (i < hint && !heap_header_used(h)) ok = false;
  });
  if (!at_header) return ::testing::AssertionFailure() << "hint " << hint << " is not a block header";
  if (!ok) return ::testing::AssertionFailure() << "a free block lies below hint " << hint;
  return ::testing::AssertionSuccess();
}

TEST(HeapHint, ScanFromTheHintMatchesAScanFromTheStart) {
  constexpr uint32_t kSize = 40000;
  EngineBlock hinted = EngineBlock::make(kSize);
  EngineBlock plain = EngineBlock::make(kSize);
  const size_t heap_bytes = size_t(hinted->heap_size) * 8;
  std::mt19937 rng(777);
  std::vector<int32_t> live;
  for (int step = 0; step < 6000; ++step) {
    if (live.empty() || rng() % 100 < 52) {
      // Mostly small requests, some that only merged runs can meet, a few that fail.
      const int64_t n = rng() % 50 == 0 ? hinted->heap_size : 1 + rng() % (rng() % 6 == 0 ? 300 : 12);
      plain->heap_hint = 0;
      int32_t a = 0, b = 0;
      const int sa = heap_alloc(hinted, n, &a);
      const int sb = heap_alloc(plain, n, &b);
      ASSERT_EQ(sa, sb) << "step " << step;
      ASSERT_EQ(a, b) << "step " << step;
      if (sa == kOk) live.push_back(a);
    } else {
      const size_t k = rng() % live.size();
      heap_free(hinted, live[k]);
      heap_free(plain, live[k]);
      live[k] = live.back();
      live.pop_back();
    }
    ASSERT_EQ(std::memcmp(heap_words(hinted), heap_words(plain), heap_bytes), 0) << "step " << step;
    ASSERT_TRUE(hint_valid(hinted)) << "step " << step;
  }
}

TEST(HeapHint, ChainRewritesKeepTheHintTrue) {
  EngineBlock a = EngineBlock::make(32768);
  // Fill the heap: the hint reaches its end.
  int32_t index = 0;
  std::vector<int32_t> blocks;
  while (heap_alloc(a, 40, &index) == kOk) blocks.push_back(index);
  ASSERT_GE(blocks.size(), 3u);
  ASSERT_TRUE(hint_valid(a));

  // Grown heap: the new words behind the last block are found.
  EngineBlock b = a.grown(32768 + 8192);
  ASSERT_EQ(engine_offsets_to_pointers(b, b.size, kGrowHeap), kOk);
  EXPECT_TRUE(hint_valid(b));
  ASSERT_EQ(heap_alloc(b, 40, &index), kOk);
  EXPECT_GT(index, blocks.back());

  // The runtime reset frees every block that no global holds.
  heap_free(b, blocks[2]);
  ASSERT_EQ(heap_alloc(b, 40, &index), kOk);
  EXPECT_EQ(index, blocks[2]);
  engine_reset_runtime(b);
  EXPECT_TRUE(hint_valid(b));
  ASSERT_EQ(heap_alloc(b, 40, &index), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(check_heap_chain(b));
}

}  // namespace
