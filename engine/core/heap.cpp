// The variable heap's first-fit allocator. There are no free lists: an
// allocation scans the chain and merges free neighbours as it meets them, so
// freeing is a single bit and the chain never needs repair. The scan starts at
// the hint of the request's size class, below which no free block would do:
// the answer and the merges are those of a scan from the start, without
// walking the prefix, and a small hole early in the heap holds back only the
// hints of the classes it could serve.
#include "engine/core/heap.h"

namespace {

// Before a scan's hints are set. While the class hints all equal heap_hint
// (kept only as heap_hint) they start there, with an empty ring. A long
// scan's last headers behind blocks in use replace the ring of taken blocks:
// the next frees are likely near where the scan ended.
void heap_hints_scanned(EngineContext* ctx, bool split, const int32_t* seen, uint32_t count) {
  if (!split) {
    for (int32_t& h : ctx->heap_class_hint) h = ctx->heap_hint;
    for (int32_t& t : ctx->heap_taken) t = 0;
    ctx->heap_hints_split = 1;
  }
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
  const bool split = ctx->heap_hints_split != 0;
  int64_t start = split ? ctx->heap_class_hint[c] : ctx->heap_hint;
  if (start < 0 || start > s) start = 0;
  int64_t i = start;
  int64_t first_free = -1;  // the first free block passed over: heap_hint's next place
  int64_t class_free = -1;  // the first one passed that the class could use: the class's next hint
  // The last headers passed that follow a block in use: places where a
  // falling hint may stop later (the ring of taken blocks takes them).
  int32_t seen[kHeapTakenSlots] = {};
  uint32_t seen_count = 0;
  while (i < s) {
    const uint64_t h = heap_header(heap, i);
    int64_t size = heap_header_size(h);
    int64_t j = i + size + 1;
    TN_ASSERT(j <= s);  // the chain covers the heap exactly: no block runs past its end
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
      const int64_t end = size > n ? i + n + 1 : j;
      heap_hints_scanned(ctx, split, seen, seen_count);
      heap_hints_after_scan(ctx, c, start, i, class_free >= 0 ? class_free : end, end, first_free);
      return kOk;
    }
    if (j != i + heap_header_size(h) + 1) heap_set_header(heap, i, uint64_t(size));
    if (first_free < 0) first_free = i;
    if (class_free < 0 && size >= smallest) class_free = i;
    i = j;
  }
  heap_hints_scanned(ctx, split, seen, seen_count);
  heap_hints_after_scan(ctx, c, start, -1, class_free >= 0 ? class_free : s, s, first_free);
  return kVariableOverflow;
}

// heap_take_at_hint's steps, from the class's hint and with its hints after.
int32_t heap_take_at_class_hint(EngineContext* ctx, int64_t n) {
  const int c = heap_request_class(n);
  const int64_t s = ctx->heap_size;
  const int64_t i = ctx->heap_class_hint[c];
  if (i < 0 || i >= s || !heap_take_run(heap_words(ctx), s, i, n)) return 0;
  const int64_t end = i + n + 1;
  heap_hints_after_scan(ctx, c, i, i, end, end, -1);
  return int32_t(i + 1);
}

namespace {

// heap_alloc_scalar_block past the hint: the class hints' take, then the scan.
[[gnu::noinline]] int32_t scalar_block_beyond_hint(EngineContext* ctx) {
  if (ctx->heap_hints_split)
    if (const int32_t block = heap_take_at_class_hint(ctx, kScalarValueBlockWords)) return block;
  int32_t block = 0;
  return heap_alloc_scan(ctx, kScalarValueBlockWords, &block) == kOk ? block : 0;
}

}  // namespace

// heap_take_at_hint's common way, written out so that it saves no registers
// and keeps no stack: everything else is one tail call.
int32_t heap_alloc_scalar_block(EngineContext* ctx) {
  const int64_t s = ctx->heap_size;
  // Widened by its load, with no sign extension: a negative hint, read as
  // 2^32 or more, still fails the test against the size.
  int64_t i = int64_t(uint32_t(ctx->heap_hint));
  asm("" : "+r"(i));  // one register for it: not its low half copied again
  if (ctx->heap_hints_split || uint64_t(i) >= uint64_t(s)) return scalar_block_beyond_hint(ctx);
  if (!heap_take_run(heap_words(ctx), s, i, kScalarValueBlockWords)) return scalar_block_beyond_hint(ctx);
  ctx->heap_hint = int32_t(i + kScalarValueBlockWords + 1);
  return int32_t(i + 1);
}

// heap_hint_lower while the class hints are split (heap.h).
void heap_hint_lower_split(EngineContext* ctx, int64_t header_index) {
  const uint64_t* heap = heap_words(ctx);
  const int64_t size = heap_header_size(heap_header(heap, header_index));
  const int64_t behind = header_index + size + 1;
  // On every free: the ring is only read, and written where an entry goes.
  const int32_t h32 = int32_t(header_index), behind32 = int32_t(behind);
  int32_t is_taken = 0;
  int32_t low = 0;  // the best place below the header
  for (int32_t& taken : ctx->heap_taken) {
    const int32_t t = taken;
    if (t == behind32) [[unlikely]] taken = 0;  // 0 always keeps the promise
    is_taken |= t == h32;
    low = t < h32 && t > low ? t : low;
  }
  const bool after_used = is_taken || header_index == 0 || header_index == ctx->heap_hint;
  if (header_index < ctx->heap_hint) ctx->heap_hint = h32;
  int32_t* hint = ctx->heap_class_hint;
  int c = 0;
  while (c < kHeapHintClasses && hint[c] < header_index) ++c;
  if (c == kHeapHintClasses) return;
  const bool alone = after_used && (behind >= ctx->heap_size || heap_header_used(heap_header(heap, behind)));
  if (after_used) {
    low = int32_t(header_index);
  } else {
    if (c > 0 && hint[c - 1] > low) low = hint[c - 1];
    if (ctx->heap_hint > low) low = ctx->heap_hint;
  }
  // The classes that keep their hints are the larger ones, so the hints still rise with the class.
  for (; c < kHeapHintClasses; ++c) {
    if (alone && size < heap_class_smallest(c)) break;
    hint[c] = low;
  }
  if (hint[kHeapHintClasses - 1] == ctx->heap_hint) ctx->heap_hints_split = 0;  // all equal again
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
