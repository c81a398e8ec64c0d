// The entry finger: the last entry found in a variable's top-level list or
// cell array (block, header words, count, one entry and its offset), so that
// c{k} in a loop and c{end + 1} = v find their entry and the count without
// walking the container from its start. Whatever may change the layout of
// the block forgets it (heap_free, a whole-value store, a splice); the few
// edits that know how the layout changed carry it over instead.
#pragma once

#include <cstdint>

#include "engine/core/element_layout.h"
#include "engine/core/status.h"
#include "engine/core/var_blocks.h"

inline void finger_forget(EngineContext* ctx, int32_t block) {
  if (ctx->entry_finger.block == block) ctx->entry_finger.block = 0;
}

// The entries of the container in block's value, from the finger, in
// constant time: false (and nothing written) when the finger is not on it.
// The count is the one a full walk found when the finger was first noted,
// kept up by the edits since; the debug build checks it against a walk.
inline bool finger_entries(EngineContext* ctx, int32_t block, Entries* out) {
  const EntryFinger& f = ctx->entry_finger;
  if (f.block != block || block == 0) return false;
  uint64_t* e = heap_words(ctx) + block;
  const auto* h = reinterpret_cast<const uint32_t*>(e);
  if (h[0] != kKindContainer || h[1] != f.words || h[2] != f.subtype) return false;
  uint64_t* data = elem_data(e);
  out->first = data;
  out->words = h[1];
  out->cell = h[2] == kContCell;
  out->count = f.count;
  if (out->cell) {
    int k = 0;
    const uint32_t* s = read_cell_sizes(data, out->words, &k);
    if (!s) return false;
    const uint32_t w = elem_total_words(data);
    out->first = data + w;
    out->words -= w;
    out->ndims = k;
    out->dims = s;
  } else {
    out->list_dims[0] = f.count > 0 ? 1 : 0;
    out->list_dims[1] = uint32_t(f.count);
    out->ndims = 2;
    out->dims = out->list_dims;
  }
#ifdef TN_DEBUG_CHECKS
  Entries walked;
  TN_ASSERT(container_entries(h, data, &walked) && walked.count == f.count && walked.first == out->first);
#endif
  return true;
}

// The entries of block's value: from the finger when it is on it, else by
// a walk (which notes the finger at the first entry).
inline bool block_entries(EngineContext* ctx, int32_t block, Entries* out) {
  if (finger_entries(ctx, block, out)) return true;
  uint64_t* e = heap_words(ctx) + block;
  if (!container_entries(reinterpret_cast<const uint32_t*>(e), elem_data(e), out)) return false;
  if (out->count > INT32_MAX || out->words > INT32_MAX) return true;
  ctx->entry_finger = EntryFinger{block, elem_word(e, 1), elem_word(e, 2), int32_t(out->count), 0, 0};
  return true;
}

// Entry `linear` (below ent.count) of block's value, whose entries ent holds
// (from block_entries); the finger moves to it. Walks on from the finger
// when it lies at or before the entry, else from the first entry.
inline uint64_t* finger_seek(EngineContext* ctx, int32_t block, const Entries& ent, int64_t linear) {
  EntryFinger& f = ctx->entry_finger;
  const bool on = f.block == block && f.index <= linear;
  int64_t i = on ? f.index : 0;
  uint64_t* target = ent.first + (on ? f.offset : 0);
  for (; i < linear; ++i) target += elem_total_words(target);
  if (f.block == block && target - ent.first <= INT32_MAX) {
    f.index = int32_t(linear);
    f.offset = int32_t(target - ent.first);
  }
  return target;
}

// True when the finger is on block's value as it is now (so an edit that
// knows how the layout changes may carry it over).
inline bool finger_on(EngineContext* ctx, int32_t block) {
  const EntryFinger& f = ctx->entry_finger;
  if (f.block != block || block == 0) return false;
  const uint32_t* h = block_words32(ctx, block);
  return h[0] == kKindContainer && h[1] == f.words && h[2] == f.subtype;
}

// Word offset, from the block's start, of the first entry of the container
// the finger is on (after its header and, in a cell array, its size element).
inline int64_t finger_first_word(EngineContext* ctx, int32_t block) {
  uint64_t* e = heap_words(ctx) + block;
  const int64_t head = kElemHeaderWords;
  return elem_word(e, 2) == kContCell ? head + elem_total_words(e + head) : head;
}
