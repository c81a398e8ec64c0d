// The variable heap's first-fit allocator. There are no free lists: an
// allocation scans the chain and merges free neighbours as it meets them, so
// freeing is a single bit and the chain never needs repair. The scan starts at
// the hint of the request's size class, below which no free block would do:
// the answer and the merges are those of a scan from the start, without
// walking the prefix, and a small hole early in the heap holds back only the
// hints of the classes it could serve.
#include "engine/core/heap.h"

namespace {

// A long scan's last headers behind blocks in use replace the ring of taken
// blocks: the next frees are likely near where the scan ended.
void heap_note_seen(EngineContext* ctx, const int32_t* seen, uint32_t count) {
  if (count < kHeapTakenSlots) return;
  for (int k = 0; k < kHeapTakenSlots; ++k) ctx->heap_taken[k] = seen[k];
}

}  // namespace

int heap_alloc_scan(EngineContext* ctx, int64_t n, int32_t* index) {
  if (n == 0) {
    *index = 0;
    return kOk;
  }
  const int64_t s = ctx->heap_size;
  if (s < 1 || n < 0 || n > int64_t(kHeapSizeMask)) return kVariableOverflow;
  uint64_t* heap = heap_words(ctx);
  const int c = heap_request_class(n);
  const int64_t smallest = heap_class_smallest(c);
  int64_t start = ctx->heap_class_hint[c];
  if (start < 0 || start > s) start = 0;
  int64_t i = start;
  int64_t first_free = -1;  // the first free block passed over: heap_hint's next place
  int64_t class_free = -1;  // the first one passed that the class could use: the class's next hint
  // The last headers passed that follow a block in use: places where a
  // falling hint may stop later (the ring of taken blocks takes them).
  int32_t seen[kHeapTakenSlots];
  uint32_t seen_count = 0;
  while (i < s) {
    const uint64_t h = heap_header(heap, i);
    int64_t size = heap_header_size(h);
    int64_t j = i + size + 1;
    if (heap_header_used(h)) {
      i = j;
      if (i < s) seen[seen_count++ % kHeapTakenSlots] = int32_t(i);
      continue;
    }
    // A free block takes in the free blocks behind it, one after the other;
    // only its own header changes (to the plain merged size).
    j = heap_merge_free(heap, s, i, &size);
    if (size >= n) {
      heap_set_header(heap, i, uint64_t(n) | kHeapInUse);
      if (size > n) heap_set_header(heap, i + n + 1, uint64_t(size - n - 1));
      *index = int32_t(i + 1);
      heap_note_seen(ctx, seen, seen_count);
      const int64_t end = size > n ? i + n + 1 : j;
      heap_hints_after_scan(ctx, c, start, i, class_free >= 0 ? class_free : end, end, first_free);
      return kOk;
    }
    if (j != i + heap_header_size(h) + 1) heap_set_header(heap, i, uint64_t(size));
    if (first_free < 0) first_free = i;
    if (class_free < 0 && size >= smallest) class_free = i;
    i = j;
  }
  heap_note_seen(ctx, seen, seen_count);
  heap_hints_after_scan(ctx, c, start, -1, class_free >= 0 ? class_free : s, s, first_free);
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
