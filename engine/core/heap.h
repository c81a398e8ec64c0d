// The variable heap: a first-fit allocator over the context's array of 8-byte
// words. The heap is a chain of blocks, each a header word (size, in-use bit,
// mark bit) followed by its data words; the chain always covers the heap
// exactly. Blocks are named by the index of their first data word (0 = none).
#pragma once

#include <bit>
#include <cstdint>

#include "engine/core/checked.h"
#include "engine/core/context.h"
#include "engine/core/entry_gap.h"
#include "engine/core/entry_index.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"

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
// The walk follows j, the header behind the run so far: the block at j joins
// when it ends within the heap, and a block in use counts its in-use bit as
// part of its size, so that it ends past any heap (under 2^29 words: the
// engine's block is addressed with 32 bits) and stops the walk by the same
// one test. The mark bit stays out of both.
inline int64_t heap_merge_free(const uint64_t* heap, int64_t s, int64_t i, int64_t* size) {
  static_assert(kHeapInUse == kHeapSizeMask + 1, "the in-use bit lies just above the size");
  int64_t j = i + *size + 1;
  while (j < s) {
    const int64_t next = j + int64_t(heap_header(heap, j) & (kHeapInUse | kHeapSizeMask)) + 1;
    if (next > s) break;
    j = next;
  }
  *size = j - i - 1;
  return j;
}

// The class of a request of n >= 1 words: one class for each size up to
// kHeapExactClasses words (small values, the most frequent requests), then
// one for each power of two, the last for 128 words and more. A hole smaller
// than a request holds back the hint of the request's class only when it is
// at least the class's smallest size.
constexpr int kHeapExactClasses = 8;
constexpr int kHeapLargeClass = kHeapHintClasses - 1;  // 128 words and more
static_assert(kHeapHintClasses == kHeapExactClasses + 5);
inline int heap_request_class(int64_t n) {
  if (n <= kHeapExactClasses) return int(n) - 1;
  const int c = kHeapExactClasses + std::bit_width(uint64_t(n)) - 4;  // 9-15, 16-31, ...
  return c < kHeapLargeClass ? c : kHeapLargeClass;
}
inline int64_t heap_class_smallest(int c) {
  if (c < kHeapExactClasses) return c + 1;
  return c == kHeapExactClasses ? kHeapExactClasses + 1 : int64_t(1) << (c - kHeapExactClasses + 3);
}

// The hints after a scan of class c that started at start: taken is the
// header of the block taken (-1 when none), class_hint the class's new hint,
// end the header behind the block taken (the heap's end when nothing was
// taken), first_free the first free block passed (-1 when none). Below end
// every block is in use or a free block smaller than the request, so the
// larger classes may start there; heap_hint moves only when the scan started
// at it. The block taken began a run of free blocks, so the block before it
// is in use: it joins the ring of places a falling hint may stop at.
inline void heap_hints_after_scan(EngineContext* ctx, int c, int64_t start, int64_t taken, int64_t class_hint,
                                  int64_t end, int64_t first_free) {
  static_assert((kHeapTakenSlots & (kHeapTakenSlots - 1)) == 0);
  if (taken >= 0) ctx->heap_taken[ctx->heap_taken_next++ % kHeapTakenSlots] = int32_t(taken);
  if (start == ctx->heap_hint) ctx->heap_hint = int32_t(first_free >= 0 ? first_free : end);
  int32_t* hint = ctx->heap_class_hint;
  hint[c] = int32_t(class_hint);
  // The hints rise with the class: each loop stops at the first that needs nothing.
  for (int k = c - 1; k >= 0 && hint[k] < ctx->heap_hint; --k) hint[k] = ctx->heap_hint;
  for (int k = c + 1; k < kHeapHintClasses && hint[k] < end; ++k) hint[k] = int32_t(end);
  if (hint[kHeapHintClasses - 1] == ctx->heap_hint) ctx->heap_hints_split = 0;  // all equal again
}

// The scanning allocator behind heap_alloc: starts at the hint of the
// request's class.
int heap_alloc_scan(EngineContext* ctx, int64_t n, int32_t* index);

// Takes n words at header i, 0 <= i < s, when the block there is free and,
// with the free blocks behind it merged, large enough. The next hint is then
// the header behind the block taken, i + n + 1: the remainder's header, or
// on an exact fit the end of the run: returned (> n), or 0 when it takes
// nothing. From the start everything is reached from that index, i left to
// die: held beside it across the merge walk's loop (the compiler's choice
// when it can fold one into the other), i costs a register that the push
// inlining this must save.
[[gnu::always_inline]] inline int64_t heap_take_run(uint64_t* heap, int64_t s, int64_t i, int64_t n) {
  const uint64_t h = heap_header(heap, i);
  if (heap_header_used(h)) return 0;
  int64_t size = heap_header_size(h);
  int64_t behind = i + n + 1;
  asm("" : "+r"(behind));                    // not folded back into i
  if (behind <= n) __builtin_unreachable();  // i >= 0: the callers' tests of 0 fold away
  const int64_t j = heap_merge_free(heap, s, i, &size);  // the header behind the run
  if (j < behind) return 0;  // size < n
  uint64_t* const at = heap + (behind - n - 1);
  heap_set_header(at, 0, uint64_t(n) | kHeapInUse);
  if (__builtin_expect(j > behind, 1)) heap_set_header(at, n + 1, uint64_t(j - behind - 1));  // size - n - 1
  return behind;
}

// heap_take_at_hint while the class hints are split (heap.cpp).
int32_t heap_take_at_class_hint(EngineContext* ctx, int64_t n);

// heap_alloc's common case alone, for 1 <= n <= kHeapSizeMask: the block at
// the class's hint is free and, with the free blocks behind it, large enough.
// Takes it, with the merges and hints the scan would leave there, and returns
// its data index; 0, with nothing changed, otherwise (heap_alloc then merges
// the run again and scans on from it). The split hints' bookkeeping is kept
// out of line: with it, the common way needs registers it must save.
inline int32_t heap_take_at_hint(EngineContext* ctx, int64_t n) {
  if (ctx->heap_hints_split) return heap_take_at_class_hint(ctx, n);
  const int64_t s = ctx->heap_size;
  const int64_t i = ctx->heap_hint;
  if (uint64_t(i) >= uint64_t(s)) return 0;  // (a negative hint too)
  const int64_t behind = heap_take_run(heap_words(ctx), s, i, n);
  if (behind == 0) return 0;
  ctx->heap_hint = int32_t(behind);
  return int32_t(behind - n);
}

// heap_alloc of a block of kScalarValueBlockWords words (a real scalar's value
// block: its header and one data word), the request every new local of a
// scalar loop or call makes: its data index, or 0 when no block is large
// enough. Out of line, with the request's size fixed.
constexpr int64_t kScalarValueBlockWords = kHeapValueHeaderWords + 1;
int32_t heap_alloc_scalar_block(EngineContext* ctx);

// Allocates a block of n data words; index receives its data index (0 for
// n = 0). 5 when no block is large enough. Free neighbours met on the way are
// merged, so a request can be met by several freed blocks together.
// The common case is met here: the block at the class's hint is free and,
// with the free blocks behind it, large enough; the scan would stop there
// with the same answer, merges and hints. When it is too small its merged
// header is written as the scan would, and the scan goes on from it.
inline int heap_alloc(EngineContext* ctx, int64_t n, int32_t* index) {
  const int64_t s = ctx->heap_size;
  if (n > 0 && n <= int64_t(kHeapSizeMask)) {
    const bool split = ctx->heap_hints_split != 0;
    const int c = split ? heap_request_class(n) : 0;
    const int64_t i = split ? ctx->heap_class_hint[c] : ctx->heap_hint;
    if (i >= 0 && i < s) {
      uint64_t* heap = heap_words(ctx);
      const uint64_t h = heap_header(heap, i);
      if (!heap_header_used(h)) {
        int64_t size = heap_header_size(h);
        const int64_t j = heap_merge_free(heap, s, i, &size);
        if (size >= n) {
          heap_set_header(heap, i, uint64_t(n) | kHeapInUse);
          if (size > n) heap_set_header(heap, i + n + 1, uint64_t(size - n - 1));
          *index = int32_t(i + 1);
          const int64_t end = size > n ? i + n + 1 : j;
          if (split)
            heap_hints_after_scan(ctx, c, i, i, end, end, -1);
          else
            ctx->heap_hint = int32_t(end);
          return kOk;
        }
        if (size != heap_header_size(h)) heap_set_header(heap, i, uint64_t(size));
      }
    }
  }
  return heap_alloc_scan(ctx, n, index);
}

// Code that frees a block or writes a free header by hand calls this with
// the header's index (the header written). heap_hint falls to it; the block
// behind it leaves the ring of taken blocks (a free block lies before it now).
// A class hint at or above the header keeps its promise untouched when the
// block is known to lie alone (in use before and behind it) and is too small
// for the class; else it falls to the header, when the block before is known
// to be in use, or to the best place below whose promise still holds (the
// hint of a smaller class, heap_hint or a taken block). From there the scan
// merges the free blocks around it as a scan from the start would. While the
// class hints are not split only heap_hint is kept, as cheaply as before.
void heap_hint_lower_split(EngineContext* ctx, int64_t header_index);
inline void heap_hint_lower(EngineContext* ctx, int64_t header_index) {
  if (ctx->heap_hints_split) return heap_hint_lower_split(ctx, header_index);
  if (header_index < ctx->heap_hint) ctx->heap_hint = int32_t(header_index);
}
inline void heap_hint_reset(EngineContext* ctx) {
  ctx->entry_gap = EntryGap{};  // whoever rewrote a block with a gap closed it first
  for (EntryFinger& f : ctx->entry_finger) f.block = 0;  // the headers were rewritten wholesale
  entry_index_forget_all();
  ctx->heap_hint = 0;
  ctx->heap_hints_split = 0;
  for (int32_t& h : ctx->heap_class_hint) h = 0;
  for (int32_t& t : ctx->heap_taken) t = 0;
}

// The block with data index `index` (in use) marked free and forgotten by
// the entry fingers and offset indexes. `block` is heap + index, formed by a
// caller that holds the index already widened (heap_mark_block_free forms it).
inline void heap_mark_block_free_at(EngineContext* ctx, uint64_t* block, int32_t index) {
  // Entry fingers and offset indexes lie only in blocks holding a container
  // (the value itself or one enclosing theirs); whatever stored another value
  // in a block forgot them. The block may come back holding another value.
  // (A block's first word is always readable: the descriptor area follows
  // the heap.)
  if (__builtin_expect(reinterpret_cast<const uint32_t*>(block)[0] == kKindContainer, 0)) {
    for (EntryFinger& f : ctx->entry_finger)
      if (f.block == index) f.block = 0;
    entry_index_forget(index);
    entry_gap_drop(ctx, index);
  }
#ifdef TN_DEBUG_CHECKS
  for (const EntryFinger& f : ctx->entry_finger) TN_ASSERT(f.block != index);
#endif
  heap_set_header(block, -1, heap_header(block, -1) & ~kHeapInUse);
}
inline void heap_mark_block_free(EngineContext* ctx, uint64_t* heap, int32_t index) {
  heap_mark_block_free_at(ctx, heap + uint32_t(index), index);  // index >= 1: no sign to extend
}

// heap_free without the hints: heap_mark_block_free; false (nothing done)
// for index 0 or -1.
inline bool heap_mark_free(EngineContext* ctx, int32_t index) {
  if (index <= 0 || index > ctx->heap_size) return false;
  heap_mark_block_free(ctx, heap_words(ctx), index);
  return true;
}

// Marks a block free; nothing else changes (merging happens in heap_alloc).
// Index 0 or -1 (no block) is ignored.
inline void heap_free(EngineContext* ctx, int32_t index) {
  if (heap_mark_free(ctx, index)) heap_hint_lower(ctx, index - 1);
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
