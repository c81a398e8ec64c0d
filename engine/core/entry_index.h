// Offset indexes of large lists and cell arrays in variables' blocks, kept
// outside the block (never saved), so that c{k} in any order finds its entry
// in constant time. An index is read only through a finger with its view
// (block, place, words, count); what forgets fingers drops it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Each index holds the word offset of every entry from the first. A few live
// per thread (engines on different threads never share them), tagged with
// the engine's address; the least recently used gives its place. Whatever
// forgets fingers drops the indexes of the same block (entry_finger.h,
// heap_free, heap_hint_reset, engine_init), and the edits that carry fingers
// over carry the block's indexes by the same plan (references.cpp).

// Containers with fewer entries are walked: a walk that short costs less
// than building, and the index would be rebuilt after every edit that drops it.
constexpr int64_t kEntryIndexMinCount = 64;
// A finger this close before the entry walks on instead of reading an index.
constexpr int64_t kEntryShortWalk = 16;
// How many containers may be indexed at once on a thread: three read in turn
// (two fingers and a nested container's outer one) keep theirs.
constexpr int kEntryIndexSlots = 4;

// The heap block of each index slot on this thread, 0 for an empty slot: the
// drop by block below is a short loop over them that calls nothing, so the
// frees inlined in the interpreter's return keep their registers.
extern thread_local constinit int32_t t_entry_index_block[kEntryIndexSlots];

// An index taken out of the table while its block is edited, handed back
// (re-keyed to the carried finger) or dropped when it goes out of scope.
// Entries from `shift_from` on lie `shift` words further than offsets[]
// says: a store that changes one entry's length moves the rest by one word
// here, and the next store close to it pays only for the entries between
// the two (entry_index_at reads through it; the raw table is settled first).
struct EntryIndexHeld {
  int32_t* offsets = nullptr;  // owned; null: nothing held
  int64_t capacity = 0;
  int32_t count = 0;
  int32_t shift_from = 0;
  int32_t shift = 0;
  EntryIndexHeld() = default;
  EntryIndexHeld(const EntryIndexHeld&) = delete;
  EntryIndexHeld& operator=(const EntryIndexHeld&) = delete;
  EntryIndexHeld(EntryIndexHeld&& o) noexcept;
  EntryIndexHeld& operator=(EntryIndexHeld&& o) noexcept;
  ~EntryIndexHeld();
};

// The word offset, from the container's first entry, of entry `linear` of the
// container finger f is on (first: its first entry's header; linear below
// f.count): from its index, built by one walk when there is none. -1 when
// the container is too small to index or no memory is left for it.
int64_t entry_index_offset(const EngineContext* ctx, const EntryFinger& f, const uint64_t* first, int64_t linear);

// The offsets of all entries of the container finger f is on, as
// entry_index_offset finds them: null when there is no index for it. Valid
// until the next change of the heap or of the indexes.
const int32_t* entry_index_table(const EngineContext* ctx, const EntryFinger& f, const uint64_t* first);

// Drops every index on heap block `block` (of any engine on this thread: a
// block number another engine also uses only costs that one a rebuild). The
// slot's memory stays for the next index that takes it.
inline void entry_index_forget(int32_t block) {
  for (int32_t& b : t_entry_index_block)
    if (b == block) b = 0;
}
// Drops every index on this thread (heap headers rewritten wholesale, an
// image loaded, an engine started).
void entry_index_forget_all();

// An index taken out of the table with its container's place and view.
struct EntryIndexTaken {
  EntryFinger view{};  // block, at, words and count of its container; index and offset 0
  EntryIndexHeld held;
};

// Takes every index of this engine on heap block `block` out of the table
// (into out[0 .. returned count)), dropping those of other engines on it.
int entry_index_take_block(const EngineContext* ctx, int32_t block, EntryIndexTaken* out);
// Puts a taken index back for the container as `view` shows it now (its
// count must be the index's). Nothing when h holds nothing.
void entry_index_put(const EngineContext* ctx, const EntryFinger& view, EntryIndexHeld&& h);
// The word offset of entry i of h (below h.count).
inline int64_t entry_index_at(const EntryIndexHeld& h, int64_t i) {
  return int64_t(h.offsets[i]) + (i >= h.shift_from ? h.shift : 0);
}
// True when this engine has an index for the container finger f is on.
bool entry_index_held(const EngineContext* ctx, const EntryFinger& f);
// The entry among h's whose words hold word `word` (from the first entry):
// the last entry starting at or before it. -1 when h holds nothing.
int64_t entry_index_entry_of(const EntryIndexHeld& h, int64_t word);
// The entries starting after word `word` (from the first entry) moved by
// delta; the cost is the number of entries between this change and the last.
void entry_index_shift(EntryIndexHeld* h, int64_t word, int64_t delta);
// m entries appended, the first at word `word` (from the first entry), each
// kElemHeaderWords long; on no memory the index is dropped.
void entry_index_append(EntryIndexHeld* h, int64_t word, int64_t m, int64_t words_each);

// How many indexes this thread holds (for tests).
int entry_index_live_count();
