// The variable heap: first fit with lazy merging, checked against a model
// that only knows which word intervals are in use.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/core/heap.h"
#include "support/engine_block.h"
#include "support/heap_check.h"

namespace {

uint64_t header_at(EngineContext* c, int64_t i) { return heap_header(heap_words(c), i); }

TEST(Heap, ZeroWordsGivesNoBlockAndTouchesNothing) {
  EngineBlock b = EngineBlock::make(16384);
  const uint64_t before = header_at(b, 0);
  int32_t index = 77;
  EXPECT_EQ(heap_alloc(b, 0, &index), kOk);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(header_at(b, 0), before);
}

TEST(Heap, ExactFitWritesNoRemainderAndSizeMinusOneLeavesEmptyBlock) {
  EngineBlock b = EngineBlock::make(16384);
  const int64_t s = b->heap_size;
  int32_t index = 0;
  ASSERT_EQ(heap_alloc(b, s - 1, &index), kOk);  // the whole initial free block
  EXPECT_EQ(index, 1);
  EXPECT_EQ(header_at(b, 0), uint64_t(s - 1) | kHeapInUse);
  EXPECT_TRUE(check_heap_chain(b));
  int32_t none = 0;
  EXPECT_EQ(heap_alloc(b, 1, &none), kVariableOverflow);

  heap_free(b, index);
  ASSERT_EQ(heap_alloc(b, s - 2, &index), kOk);
  EXPECT_EQ(header_at(b, s - 1), 0u);  // a zero-size free block at the very end
  EXPECT_TRUE(check_heap_chain(b));
}

TEST(Heap, FreedNeighboursMergeOnTheNextScan) {
  EngineBlock b = EngineBlock::make(16384);
  int32_t x = 0, y = 0, z = 0, big = 0;
  ASSERT_EQ(heap_alloc(b, 10, &x), kOk);
  ASSERT_EQ(heap_alloc(b, 10, &y), kOk);
  ASSERT_EQ(heap_alloc(b, 10, &z), kOk);
  heap_free(b, x);
  heap_free(b, y);
  // 10 + 10 + the freed header: 21 words fit where x began.
  ASSERT_EQ(heap_alloc(b, 21, &big), kOk);
  EXPECT_EQ(big, x);
  EXPECT_TRUE(check_heap_used(b, {{big, 21}, {z, 10}}));
}

TEST(Heap, MoveWordsCopiesBackwardAndWritesFreeTail) {
  uint64_t w[8] = {1, 2, 3, 0, 0, 0, 0, 0};
  heap_move_words(w, 3, w + 1, 6);  // overlapping move up by one
  EXPECT_EQ(w[1], 1u);
  EXPECT_EQ(w[2], 2u);
  EXPECT_EQ(w[3], 3u);
  EXPECT_EQ(w[4], 2u);  // free header of 6 - 3 - 1 words
}

// Model: used intervals [header, header + size]. Lazy merging makes every
// maximal free run one block when the scan reaches it, so first fit picks the
// first gap whose merged size (gap words - 1) holds the request.
class HeapModel {
 public:
  explicit HeapModel(int64_t size) : size_(size) {}
  int64_t predict(int64_t n) const {
    int64_t at = 0;
    for (const auto& [start, words] : used_) {
      if (start - at - 1 >= n) return at + 1;
      at = start + words + 1;
    }
    return size_ - at - 1 >= n ? at + 1 : 0;
  }
  void take(int64_t index, int64_t n) { used_[index - 1] = n; }
  void release(int64_t index) { used_.erase(index - 1); }

 private:
  int64_t size_;
  std::map<int64_t, int64_t> used_;  // header index -> data words
};

TEST(Heap, RandomAllocationAndFreeingFollowsTheModel) {
  EngineBlock b = EngineBlock::make(40000);
  HeapModel model(b->heap_size);
  std::mt19937 rng(12345);
  std::map<int32_t, std::pair<int64_t, uint64_t>> live;  // index -> (words, fill pattern)
  for (int step = 0; step < 4000; ++step) {
    if (live.empty() || rng() % 100 < 55) {
      const int64_t n = 1 + rng() % (rng() % 8 == 0 ? 400 : 40);
      const int64_t expect = model.predict(n);
      int32_t index = 0;
      const int status = heap_alloc(b, n, &index);
      if (expect == 0) {
        ASSERT_EQ(status, kVariableOverflow) << "step " << step;
        continue;
      }
      ASSERT_EQ(status, kOk) << "step " << step;
      ASSERT_EQ(index, expect) << "step " << step;
      model.take(index, n);
      const uint64_t fill = rng();
      for (int64_t k = 0; k < n; ++k) heap_words(b)[index + k] = fill + uint64_t(k);
      live[index] = {n, fill};
    } else {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      heap_free(b, it->first);
      model.release(it->first);
      live.erase(it);
    }
    if (step % 50 == 0) {
      std::map<int64_t, int64_t> used;
      for (const auto& [index, v] : live) used[index] = v.first;
      ASSERT_TRUE(check_heap_used(b, used)) << "step " << step;
    }
  }
  // No block was written over by another.
  for (const auto& [index, v] : live)
    for (int64_t k = 0; k < v.first; ++k) ASSERT_EQ(heap_words(b)[index + k], v.second + uint64_t(k));
}

TEST(Heap, ChainQueriesFindBlocksAndTheUsedExtent) {
  EngineBlock b = EngineBlock::make(16384);
  int32_t x = 0, y = 0;
  ASSERT_EQ(heap_alloc(b, 5, &x), kOk);
  ASSERT_EQ(heap_alloc(b, 7, &y), kOk);
  const uint64_t* h = heap_words(b);
  EXPECT_TRUE(heap_is_used_block(h, b->heap_size, x));
  EXPECT_TRUE(heap_is_used_block(h, b->heap_size, y));
  EXPECT_FALSE(heap_is_used_block(h, b->heap_size, x + 1));  // inside a block
  EXPECT_EQ(heap_used_extent(h, b->heap_size), y + 7);
  heap_free(b, y);
  EXPECT_FALSE(heap_is_used_block(h, b->heap_size, y));
  EXPECT_EQ(heap_used_extent(h, b->heap_size), x + 5);
}

}  // namespace
