// The allocator's scan hint and run merging: starting the first-fit scan at
// the hint and merging a free run in one go must leave exactly the words a
// block-by-block scan from the heap's start leaves, and every rewrite of the
// chain outside the allocator must leave the hint a true lower bound.
#include <gtest/gtest.h>

#include <algorithm>
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

// The allocator as first written: a scan from the start that merges one
// free neighbour at a time, over a copy of the heap words.
int reference_alloc(std::vector<uint64_t>& heap, int64_t n, int32_t* index) {
  const int64_t s = int64_t(heap.size());
  int64_t i = 0;
  while (i < s) {
    const int64_t size = int64_t(heap[i] & kHeapSizeMask);
    const int64_t j = i + size + 1;
    const bool free = !(heap[i] & kHeapInUse);
    if (free && j < s && !(heap[j] & kHeapInUse) && i + size + int64_t(heap[j] & kHeapSizeMask) + 2 <= s) {
      heap[i] = uint64_t(size + int64_t(heap[j] & kHeapSizeMask) + 1);
      continue;
    }
    if (free && size >= n) {
      heap[i] = uint64_t(n) | kHeapInUse;
      if (size > n) heap[i + n + 1] = uint64_t(size - n - 1);
      *index = int32_t(i + 1);
      return kOk;
    }
    i = j;
  }
  return kVariableOverflow;
}

TEST(HeapHint, AllocationMatchesAScanFromTheStart) {
  EngineBlock b = EngineBlock::make(40000);
  const int64_t s = b->heap_size;
  std::vector<uint64_t> model(heap_words(b), heap_words(b) + s);
  std::mt19937 rng(777);
  std::vector<int32_t> live;
  for (int step = 0; step < 6000; ++step) {
    const unsigned roll = rng() % 100;
    if (live.empty() || roll < 52) {
      // Mostly small requests, some that only merged runs can meet, a few that fail.
      const int64_t n = rng() % 50 == 0 ? s : 1 + rng() % (rng() % 6 == 0 ? 300 : 12);
      int32_t got = 0, want = 0;
      const int status = heap_alloc(b, n, &got);
      ASSERT_EQ(status, reference_alloc(model, n, &want)) << "step " << step;
      if (status != kOk) continue;
      ASSERT_EQ(got, want) << "step " << step;
      live.push_back(got);
    } else if (roll < 97) {
      const size_t k = rng() % live.size();
      heap_free(b, live[k]);
      model[size_t(live[k]) - 1] &= ~kHeapInUse;
      live[k] = live.back();
      live.pop_back();
    } else {
      // A mark left on a header (as the runtime reset's sweep leaves them) goes when the block merges.
      const int32_t block = live[rng() % live.size()];
      heap_words(b)[block - 1] |= kHeapMark;
      model[size_t(block) - 1] |= kHeapMark;
      heap_free(b, block);
      model[size_t(block) - 1] &= ~kHeapInUse;
      live.erase(std::find(live.begin(), live.end(), block));
    }
    ASSERT_EQ(std::memcmp(heap_words(b), model.data(), size_t(s) * 8), 0) << "step " << step;
    ASSERT_TRUE(hint_valid(b)) << "step " << step;
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
