// The variable heap's first-fit allocator. There are no free lists: an
// allocation scans the chain and merges free neighbours as it meets them, so
// freeing is a single bit and the chain never needs repair. The scan starts at
// the context's hint, below which every block is in use: the answer and the
// merges are those of a scan from the start, without walking the used prefix.
#include "engine/core/heap.h"

int heap_alloc_scan(EngineContext* ctx, int64_t n, int32_t* index) {
  if (n == 0) {
    *index = 0;
    return kOk;
  }
  const int64_t s = ctx->heap_size;
  if (s < 1 || n < 0 || n > int64_t(kHeapSizeMask)) return kVariableOverflow;
  uint64_t* heap = heap_words(ctx);
  int64_t i = ctx->heap_hint;
  if (i < 0 || i > s) i = 0;
  int64_t first_free = -1;  // the first free block passed over: the next hint
  while (i < s) {
    const uint64_t h = heap_header(heap, i);
    int64_t size = heap_header_size(h);
    int64_t j = i + size + 1;
    if (heap_header_used(h)) {
      i = j;
      continue;
    }
    // A free block takes in the free blocks behind it, one after the other;
    // only its own header changes (to the plain merged size).
    j = heap_merge_free(heap, s, i, &size);
    if (size >= n) {
      heap_set_header(heap, i, uint64_t(n) | kHeapInUse);
      if (size > n) heap_set_header(heap, i + n + 1, uint64_t(size - n - 1));
      *index = int32_t(i + 1);
      ctx->heap_hint = int32_t(first_free >= 0 ? first_free : size > n ? i + n + 1 : j);
      return kOk;
    }
    if (j != i + heap_header_size(h) + 1) heap_set_header(heap, i, uint64_t(size));
    if (first_free < 0) first_free = i;
    i = j;
  }
  ctx->heap_hint = int32_t(first_free >= 0 ? first_free : s);
  return kVariableOverflow;
}

void heap_move_words(const uint64_t* source, int64_t n, uint64_t* destination, int64_t total) {
  for (int64_t k = n - 1; k >= 0; --k) tn::store<uint64_t>(destination + k, tn::load<uint64_t>(source + k));
  if (total > n) heap_set_header(destination, n, uint64_t(total - n - 1));
}

bool heap_is_used_block(const uint64_t* heap, int64_t limit, int64_t index) {
  if (index < 1 || index > limit) return false;
  int64_t i = 0;
  while (i < limit) {
    const uint64_t h = heap_header(heap, i);
    const int64_t size = heap_header_size(h);
    if (i + size + 1 > limit) return false;
    if (i + 1 == index) return heap_header_used(h);
    if (i + 1 > index) return false;
    i += size + 1;
  }
  return false;
}

int64_t heap_used_extent(const uint64_t* heap, int64_t limit) {
  int64_t end = 0;
  heap_walk(heap, limit, [&](int64_t i, int64_t size, uint64_t h) {
    if (heap_header_used(h)) end = i + size + 1;
  });
  return end;
}
