// The allocator against its first form, a block-by-block scan from the heap's
// start: starting at the hint and merging a free run in one pass must leave
// exactly the same heap words.
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
      const int64_t n = rng() % 50 == 0 ? b->heap_size : 1 + rng() % (rng() % 6 ? 12 : 300);
      int32_t got = 0, want = 0;
      const int status = heap_alloc(b, n, &got);
      ASSERT_EQ(status, reference_alloc(model, n, &want)) << "step " << step;
      if (status == kOk) live.push_back(got);
      ASSERT_EQ(got, status == kOk ? want : 0) << "step " << step;
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

}  // namespace
