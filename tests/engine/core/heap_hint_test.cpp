// The allocator against its first form, a block-by-block scan from the heap's
// start: starting at a size class's hint and merging a free run in one pass
// must leave exactly the same heap words, by each of its ways in, also when
// code shrinks a block by hand; and a small hole early in the heap must not
// hold back larger requests.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/core/heap.h"
#include "support/engine_block.h"

namespace {

int reference_alloc(std::vector<uint64_t>& heap, int64_t n, int32_t* index) {
  const int64_t s = int64_t(heap.size());
  for (int64_t i = 0; i < s;) {
    const int64_t size = int64_t(heap[i] & kHeapSizeMask), j = i + size + 1;
    const bool free = !(heap[i] & kHeapInUse);
    if (free && j < s && !(heap[j] & kHeapInUse) && j + int64_t(heap[j] & kHeapSizeMask) + 1 <= s) {
      heap[i] = uint64_t(size + int64_t(heap[j] & kHeapSizeMask) + 1);
    } else if (free && size >= n) {
      heap[i] = uint64_t(n) | kHeapInUse;
      if (size > n) heap[i + n + 1] = uint64_t(size - n - 1);
      *index = int32_t(i + 1);
      return kOk;
    } else {
      i = j;
    }
  }
  return kVariableOverflow;
}

TEST(HeapHint, AllocationLeavesWhatAScanFromTheStartLeaves) {
  EngineBlock b = EngineBlock::make(40000);
  std::vector<uint64_t> model(heap_words(b), heap_words(b) + b->heap_size);
  std::mt19937 rng(777);
  std::vector<int32_t> live;
  for (int step = 0; step < 6000; ++step) {
    if (live.empty() || rng() % 2) {
      // Mostly small requests, some only merged runs meet, a few that fail.
      // Each of the allocator's ways in: heap_alloc, the take at the hint
      // alone (heap_alloc after it when it declines) and a real scalar's block.
      const int64_t n = rng() % 50 == 0 ? b->heap_size
                        : rng() % 3 == 0 ? kScalarValueBlockWords
                                         : 1 + rng() % (rng() % 6 ? 12 : 300);
      const unsigned way = rng() % 3;
      int32_t got = 0, want = 0;
      int status = kOk;
      if (way == 1 && n == kScalarValueBlockWords) {
        got = heap_alloc_scalar_block(b);
        status = got ? kOk : kVariableOverflow;
      } else if (way == 2 && (got = heap_take_at_hint(b, n)) != 0) {
      } else {
        ASSERT_EQ(std::memcmp(heap_words(b), model.data(), model.size() * 8), 0) << "step " << step;
        status = heap_alloc(b, n, &got);
      }
      ASSERT_EQ(status, reference_alloc(model, n, &want)) << "step " << step;
      if (status == kOk) live.push_back(got);
      ASSERT_EQ(got, status == kOk ? want : 0) << "step " << step;
    } else if (rng() % 4 == 0) {
      // A block shrunk by hand, as a value that loses words is: the tail
      // becomes a free block and the hints are lowered to it.
      const size_t k = rng() % live.size();
      const int64_t header = live[k] - 1, size = int64_t(model[header] & kHeapSizeMask);
      if (size < 2) continue;
      const int64_t keep = 1 + int64_t(rng() % uint64_t(size - 1));
      for (std::vector<uint64_t>* w : {&model, static_cast<std::vector<uint64_t>*>(nullptr)}) {
        uint64_t* words = w ? w->data() : heap_words(b);
        words[header] = (words[header] & ~kHeapSizeMask) | uint64_t(keep);
        words[header + keep + 1] = uint64_t(size - keep - 1);
      }
      heap_hint_lower(b, header + keep + 1);
    } else {
      const size_t k = rng() % live.size();
      const size_t header = size_t(live[k]) - 1;
      if (rng() % 8 == 0) heap_words(b)[header] |= kHeapMark, model[header] |= kHeapMark;  // merging drops it
      heap_free(b, live[k]);
      model[header] &= ~kHeapInUse;
      live[k] = live.back();
      live.pop_back();
    }
    ASSERT_EQ(std::memcmp(heap_words(b), model.data(), model.size() * 8), 0) << "step " << step;
  }
  int32_t index = 0;
  ASSERT_EQ(heap_alloc(b, 1, &index), kOk);  // the heap's first words are in use now
  engine_reset_runtime(b);                    // frees every block: the next one is the first again
  ASSERT_EQ(heap_alloc(b, 1, &index), kOk);
  EXPECT_EQ(index, 1);
}

TEST(HeapHint, AnEarlyHoleHoldsBackOnlyTheRequestsItCouldServe) {
  // A one-word hole, then a call stack of blocks that come and go on top: a
  // request of 5 words starts behind the live blocks, where its class's hint
  // stays, while heap_hint keeps its promise at the hole.
  EngineBlock b = EngineBlock::make(1 << 20);
  int32_t hole = 0, guard = 0;
  ASSERT_EQ(heap_alloc(b, 1, &hole), kOk);
  ASSERT_EQ(heap_alloc(b, 1, &guard), kOk);
  heap_free(b, hole);
  std::vector<int32_t> stack;
  for (int depth = 0; depth < 200; ++depth) {
    int32_t x = 0, temp = 0;
    ASSERT_EQ(heap_alloc(b, 5, &x), kOk);
    ASSERT_EQ(heap_alloc(b, 6, &temp), kOk);
    heap_free(b, temp);
    stack.push_back(x);
    EXPECT_GE(b->heap_class_hint[heap_request_class(5)], x + 5) << depth;
  }
  EXPECT_EQ(b->heap_hint, hole - 1);
  while (!stack.empty()) {
    heap_free(b, stack.back());
    stack.pop_back();
  }
  int32_t again = 0;
  ASSERT_EQ(heap_alloc(b, 1, &again), kOk);
  EXPECT_EQ(again, hole);
}

}  // namespace
