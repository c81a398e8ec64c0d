// Invariant checker for the variable heap, reused by every test that touches
// it: the block chain covers the heap exactly, and (optionally) the in-use
// blocks are exactly the expected ones.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/core/heap.h"

struct HeapBlockView {
  int64_t size;
  bool used;
};

// The chain as a map from data index to block; false when it is broken.
inline bool heap_blocks(EngineContext* c, std::map<int64_t, HeapBlockView>* out) {
  out->clear();
  return heap_walk(heap_words(c), c->heap_size, [&](int64_t i, int64_t size, uint64_t h) {
    (*out)[i + 1] = HeapBlockView{size, heap_header_used(h)};
  });
}

inline ::testing::AssertionResult check_heap_chain(EngineContext* c) {
  std::map<int64_t, HeapBlockView> blocks;
  if (c->heap_size < 1) return ::testing::AssertionFailure() << "empty heap";
  if (!heap_blocks(c, &blocks))
    return ::testing::AssertionFailure() << "block chain does not end at word " << c->heap_size;
  for (const auto& [index, b] : blocks)
    if (heap_header(heap_words(c), index - 1) >> 32)
      return ::testing::AssertionFailure() << "stray high bits in the header of block " << index;
  return ::testing::AssertionSuccess();
}

// In-use blocks must be exactly `used` (data index -> size at least).
inline ::testing::AssertionResult check_heap_used(EngineContext* c, const std::map<int64_t, int64_t>& used) {
  auto chain = check_heap_chain(c);
  if (!chain) return chain;
  std::map<int64_t, HeapBlockView> blocks;
  heap_blocks(c, &blocks);
  size_t in_use = 0;
  for (const auto& [index, b] : blocks) {
    if (!b.used) continue;
    ++in_use;
    auto it = used.find(index);
    if (it == used.end()) return ::testing::AssertionFailure() << "block " << index << " in use, not expected";
    if (b.size < it->second)
      return ::testing::AssertionFailure() << "block " << index << " has " << b.size << " words, wanted " << it->second;
  }
  if (in_use != used.size())
    return ::testing::AssertionFailure() << in_use << " blocks in use, expected " << used.size();
  return ::testing::AssertionSuccess();
}
