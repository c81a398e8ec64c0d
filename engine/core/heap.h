// The variable heap: a first-fit allocator over the context's array of 8-byte
// words. The heap is a chain of blocks, each a header word (size, in-use bit,
// mark bit) followed by its data words; the chain always covers the heap
// exactly. Blocks are named by the index of their first data word (0 = none).
#pragma once

#include <cstdint>

#include "engine/core/checked.h"
#include "engine/core/context.h"

// Words of the 16-byte value header {kind, a, b, 0} that leads a variable's block.
constexpr int kHeapValueHeaderWords = 2;

inline uint64_t heap_header(const uint64_t* heap, int64_t header_index) {
  return tn::load<uint64_t>(heap + header_index);
}
inline void heap_set_header(uint64_t* heap, int64_t header_index, uint64_t h) {
  tn::store<uint64_t>(heap + header_index, h);
}
inline int64_t heap_header_size(uint64_t h) { return int64_t(h & kHeapSizeMask); }
inline bool heap_header_used(uint64_t h) { return (h & kHeapInUse) != 0; }

// The free block with header i takes in the free blocks behind it, one
// after the other, within the first s words; size is its size and becomes
// the merged size. Returns the header index behind the merged block. Only
// the caller writes the merged header.
inline int64_t heap_merge_free(const uint64_t* heap, int64_t s, int64_t i, int64_t* size) {
  int64_t j = i + *size + 1;
  while (j < s) {
    const uint64_t hj = heap_header(heap, j);
    const int64_t size_j = heap_header_size(hj);
    if (heap_header_used(hj) || i + *size + size_j + 2 > s) break;
    *size += size_j + 1;
    j = i + *size + 1;
  }
  return j;
}

// The scanning allocator behind heap_alloc.
int heap_alloc_scan(EngineContext* ctx, int64_t n, int32_t* index);

// Allocates a block of n data words; index receives its data index (0 for
// n = 0). 5 when no block is large enough. Free neighbours met on the way are
// merged, so a request can be met by several freed blocks together.
// The common case is met here: the block at the hint is free and, with the
// free blocks behind it, large enough; the scan would stop there with the
// same answer, merges and hint. When it is too small its merged header is
// written as the scan would, and the scan goes on from it.
inline int heap_alloc(EngineContext* ctx, int64_t n, int32_t* index) {
  const int64_t s = ctx->heap_size;
  const int64_t i = ctx->heap_hint;
  if (n > 0 && n <= int64_t(kHeapSizeMask) && i >= 0 && i < s) {
    uint64_t* heap = heap_words(ctx);
    const uint64_t h = heap_header(heap, i);
    if (!heap_header_used(h)) {
      int64_t size = heap_header_size(h);
      const int64_t j = heap_merge_free(heap, s, i, &size);
      if (size >= n) {
        heap_set_header(heap, i, uint64_t(n) | kHeapInUse);
        if (size > n) heap_set_header(heap, i + n + 1, uint64_t(size - n - 1));
        *index = int32_t(i + 1);
        ctx->heap_hint = int32_t(size > n ? i + n + 1 : j);
        return kOk;
      }
      if (size != heap_header_size(h)) heap_set_header(heap, i, uint64_t(size));
    }
  }
  return heap_alloc_scan(ctx, n, index);
}

// The allocator's scan hint (EngineContext::heap_hint). Code that writes a
// free header by hand lowers it to that header; code that rewrites the chain
// wholesale resets it.
inline void heap_hint_lower(EngineContext* ctx, int64_t header_index) {
  if (header_index < ctx->heap_hint) ctx->heap_hint = int32_t(header_index);
}
inline void heap_hint_reset(EngineContext* ctx) { ctx->heap_hint = 0; }

// Marks a block free; nothing else changes (merging happens in heap_alloc).
// Index 0 or -1 (no block) is ignored.
inline void heap_free(EngineContext* ctx, int32_t index) {
  if (index <= 0 || index > ctx->heap_size) return;
  uint64_t* heap = heap_words(ctx);
  heap_set_header(heap, index - 1, heap_header(heap, index - 1) & ~kHeapInUse);
  heap_hint_lower(ctx, index - 1);
}

// Copies n words from source to destination, last word first (so a block can
// grow upward in place), and when total exceeds n writes a free header of
// total - n - 1 words behind them (in a live heap the caller lowers the hint
// to that header).
void heap_move_words(const uint64_t* source, int64_t n, uint64_t* destination, int64_t total);

// Size in words of the block with that data index (no check).
inline int64_t heap_block_size(EngineContext* ctx, int32_t index) {
  return heap_header_size(heap_header(heap_words(ctx), index - 1));
}

// Walks the chain over the first `limit` words: visit(header index, size,
// header word) for each block. True when the chain ends exactly at limit;
// false as soon as a block would reach past it.
template <typename Visit>
bool heap_walk(const uint64_t* heap, int64_t limit, Visit&& visit) {
  int64_t i = 0;
  while (i < limit) {
    const uint64_t h = heap_header(heap, i);
    const int64_t size = heap_header_size(h);
    if (i + size + 1 > limit) return false;
    visit(i, size, h);
    i += size + 1;
  }
  return i == limit;
}

// True when index is the data index of an in-use block of the chain within
// the first `limit` words (a linear walk).
bool heap_is_used_block(const uint64_t* heap, int64_t limit, int64_t index);

// Words up to the end of the last in-use block (0 when everything is free):
// everything behind is free and can be rewritten as one free block.
int64_t heap_used_extent(const uint64_t* heap, int64_t limit);
