// Entry fingers: the last entries found in lists or cell arrays held in
// variables' blocks, the value itself or nested in it (block, place, data
// words, count, one entry and its offset), so that c{k} in a loop, s.c{k},
// a{k} * b{k} and c{end + 1} = v find their entry and the count without
// walking the container from its start. Whatever may change the layout of a
// block forgets its fingers (heap_free, a whole-value store, a splice); the
// few edits that know how the layout changed carry them over instead.
#pragma once

#include <cstdint>

#include "engine/core/element_layout.h"
#include "engine/core/entry_index.h"
#include "engine/core/status.h"
#include "engine/core/var_blocks.h"

inline void finger_forget(EngineContext* ctx, int32_t block) {
  for (EntryFinger& f : ctx->entry_finger)
    if (f.block == block) f.block = 0;
  entry_index_forget(block);  // an index outlives its finger only while nothing edits its block
}

// True when finger f is on a container of its block as it is now.
inline bool finger_valid(EngineContext* ctx, const EntryFinger& f) {
  if (f.block == 0) return false;
  const uint32_t* h = block_words32(ctx, f.block + f.at);
  return h[0] == kKindContainer && (h[2] == kContList || h[2] == kContCell) && h[1] == f.words;
}

// The finger on the container at word `at` of block, or null.
inline EntryFinger* finger_at(EngineContext* ctx, int32_t block, int64_t at) {
  for (EntryFinger& f : ctx->entry_finger)
    if (f.block == block && block != 0 && f.at == at && finger_valid(ctx, f)) return &f;
  return nullptr;
}

// The entries of the container at word `at` of block, from its finger, in
// constant time: false (and nothing written) when no finger is on it. The
// count is the one a full walk found when the finger was first noted, kept
// up by the edits since; the debug build checks it against a walk.
inline bool finger_entries(EngineContext* ctx, int32_t block, int64_t at, Entries* out) {
  const EntryFinger* f = finger_at(ctx, block, at);
  if (!f) return false;
  uint64_t* e = heap_words(ctx) + block + at;
  const auto* h = reinterpret_cast<const uint32_t*>(e);
  uint64_t* data = elem_data(e);
  if (!container_span(h, data, out)) return false;
  out->count = f->count;
  if (!out->cell) list_dims_set(out, f->count);
#ifdef TN_DEBUG_CHECKS
  Entries walked;
  TN_ASSERT(entry_gap_open_in(ctx, block) ||  // a walk would read the gap's words as entries
            (container_entries(h, data, &walked) && walked.count == f->count && walked.first == out->first));
#endif
  return true;
}

// The entries of the container at word `at` of block: from its finger, else
// by a walk, which notes a finger at its first entry in front, the ones
// noted before it moving behind up to the first forgotten one (two
// containers read in turn keep theirs, and a finger forgotten in front, as a
// small value stored again each time forgets its own, pushes out no other).
// Entries are walked from out->first: a gap in the block is closed first,
// except for the value's own container during a brace store's step, which
// finds its entry across the gap (entry_gap_seek).
inline bool block_entries(EngineContext* ctx, int32_t block, int64_t at, Entries* out) {
  if (at != 0 || !ctx->entry_gap_allowed) entry_gap_close_in(ctx, block);
  if (finger_entries(ctx, block, at, out)) return true;
  uint64_t* e = heap_words(ctx) + block + at;
  if (!container_entries(reinterpret_cast<const uint32_t*>(e), elem_data(e), out)) return false;
  if (out->count > INT32_MAX || at > INT32_MAX) return true;
  int free_slot = kEntryFingers - 1;
  for (int i = 0; i < kEntryFingers - 1; ++i)
    if (ctx->entry_finger[i].block == 0) {
      free_slot = i;
      break;
    }
  for (int i = free_slot; i > 0; --i) ctx->entry_finger[i] = ctx->entry_finger[i - 1];
  ctx->entry_finger[0] = EntryFinger{block, int32_t(at), elem_word(e, 1), int32_t(out->count), 0, 0};
  return true;
}

// Entry `linear` (below ent.count) of the container at word `at` of block,
// whose entries ent holds (from block_entries); its finger moves to it.
// Walks on from the finger when it lies shortly before the entry; else the
// container's offset index (entry_index.h) gives the entry, and only a
// container too small to index is walked from its first entry.
inline uint64_t* finger_seek(EngineContext* ctx, int32_t block, int64_t at, const Entries& ent,
                             int64_t linear) {
  EntryFinger* f = finger_at(ctx, block, at);
  const bool on = f && f->index <= linear;
  int64_t i = on ? f->index : 0;
  uint64_t* target = ent.first + (on ? f->offset : 0);
  if (f && linear - i > kEntryShortWalk) {
    const int64_t o = entry_index_offset(ctx, *f, ent.first, linear);
    if (o >= 0) {
      i = linear;
      target = ent.first + o;
    }
  }
  for (; i < linear; ++i) target += elem_total_words(target);
#ifdef TN_DEBUG_CHECKS
  const uint64_t* walked = ent.first;
  for (int64_t w = 0; w < linear; ++w) walked += elem_total_words(walked);
  TN_ASSERT(walked == target);
#endif
  if (f && target - ent.first <= INT32_MAX) {
    f->index = int32_t(linear);
    f->offset = int32_t(target - ent.first);
  }
  return target;
}

// Word offset, from the block's start, of the first entry of the container
// finger f is on (after its header and, in a cell array, its size element).
inline int64_t finger_first_word(EngineContext* ctx, const EntryFinger& f) {
  uint64_t* e = heap_words(ctx) + f.block + f.at;
  const int64_t head = kElemHeaderWords;
  return f.at + (elem_word(e, 2) == kContCell ? head + elem_total_words(e + head) : head);
}
