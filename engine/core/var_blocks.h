// Variables as blocks of the variable heap, shared by indexing, references
// and assignment: where slot k of the current workspace keeps its value
// (directly, through a link block to a global or persistent entry, or, for an
// argument lent by its caller, through a link block to the caller's value), the
// kind-8 reference item, and the editing of a value block in place. A block
// holds its value's words (header + data); one that grew keeps spare room
// behind them for the next growth, and a store of another size gives it up.
#pragma once

#include <cstdint>

#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/heap.h"
#include "engine/core/state_copy.h"
#include "engine/core/value_stack.h"

// --- Slots and link blocks ----------------------------------------------------------

// The 12 u32 words of a link block: the header {8, 4, 0, 0}, then element
// offset 0, created 1, the function-table entry, three zero words, the slot
// number and a zero word.
// A borrowed argument's slot holds a link block too: entry 0, created 0, and
// in the lender word the caller's block that it reads (a block index, not a
// slot word: the stacks move, the heap blocks of a frame below do not). The
// caller's variable cannot change while the callee's frame lies above it, so
// the link stands for a copy; whatever would change the argument gives it a
// block of its own first (slot_detach), and whatever would free it frees the
// link alone.
enum LinkWord : int {
  kLinkOffset = 4,
  kLinkCreated = 5,
  kLinkEntry = 6,
  kLinkLender = 7,
  kLinkSlot = 10,
};
constexpr int32_t kLinkDataWords = 4;  // 8-byte words behind the header
constexpr int32_t kLinkBlockWords = kElemHeaderWords + kLinkDataWords;
static_assert(kLinkBlockWords * 2 == 12);
static_assert(kLinkEntry == 6 && kLinkLender == 7 && kLinkDataWords == 4);  // the image loader checks these words
constexpr int32_t kNoBlock = -1;

inline uint32_t* block_words32(EngineContext* ctx, int32_t block) {
  return reinterpret_cast<uint32_t*>(heap_words(ctx) + block);
}
inline bool heap_index_ok(const EngineContext* ctx, int64_t block) {
  return block >= 1 && block + kElemHeaderWords <= ctx->heap_size;
}
inline bool block_is_link(EngineContext* ctx, int32_t block) {
  return heap_index_ok(ctx, block) && (block_words32(ctx, block)[0] & kKindReference) != 0;
}

// Where slot k keeps its value. block is kNoBlock when it is undefined.
struct SlotTarget {
  int32_t slot_word;   // descriptor-stack index of the slot
  int32_t link;        // the slot's link block, 0 when it holds a value itself
  int32_t entry;       // the linked function-table entry, 0 without a link
  int32_t block;       // the value's block
};

// Slot k of the current workspace; 12 without a workspace or for k past its slots.
int slot_locate(EngineContext* ctx, int32_t k, SlotTarget* out);
// The same from the slot's descriptor-stack word.
void slot_locate_word(EngineContext* ctx, int32_t slot_word, SlotTarget* out);
// Stores block as the value of the slot (through its link).
void slot_set_block(EngineContext* ctx, const SlotTarget& t, int32_t block);

// A borrowed argument: a link without an entry, reading the caller's block.
inline bool slot_borrowed(const SlotTarget& t) { return t.link != 0 && t.entry == 0 && t.block != kNoBlock; }
// A slot whose block must be neither written nor freed: a borrowed
// argument's, or a global's or persistent's value that a held state copy
// keeps in place (state_copy.h). A write gives the slot a copy first
// (slot_detach), a store or a clear leaves the block alone.
inline bool slot_keeps_block(const SlotTarget& t) {
  return slot_borrowed(t) || (t.entry != 0 && t.block != kNoBlock && engine_block_kept(t.block));
}
// The lender block of link block `link` when it is a borrowed argument's, else 0.
inline int32_t link_lender(EngineContext* ctx, int32_t link) {
  const uint32_t* w = block_words32(ctx, link);
  const int32_t lender = int32_t(w[kLinkLender]);
  return w[kLinkEntry] == 0 && heap_index_ok(ctx, lender) ? lender : 0;
}
// The block a slot word names for reading: its own block, or the caller's
// block for a borrowed argument; 0 when it names neither (undefined, global).
inline int32_t slot_read_block(EngineContext* ctx, uint32_t word) {
  const int32_t v = int32_t(word);
  if (!heap_index_ok(ctx, v)) return 0;
  return block_is_link(ctx, v) ? link_lender(ctx, v) : v;
}
// Makes link block `link` a borrowed argument reading `lender`.
void link_write_borrowed(EngineContext* ctx, int32_t link, int32_t lender);
// A borrowed argument about to change gets a copy of the caller's value as
// its own block, a kept global or persistent value a copy that its entry
// names from then on (t then names it); anything else is left alone. 5 when
// the heap has no room (nothing changed).
int slot_detach(EngineContext* ctx, SlotTarget* t);
// The slot takes block as its own value: the value it owned is freed (for a
// borrowed argument only its link: the caller's block stays; a kept value
// stays too).
void slot_replace_block(EngineContext* ctx, const SlotTarget& t, int32_t block);

// --- References ----------------------------------------------------------------------------

// The u32 words of a reference's data (4 data words).
enum RefWord : int {
  kRefAssign = 0,
  kRefTag = 1,       // always kRefTagValue
  kRefSlotWord = 2,  // descriptor-stack index of the slot
  kRefBlock = 3,
  kRefOffset = 4,    // word offset of the element in the block; 0 = the whole value
  kRefCreated = 5,
  kRefSlot = 6,      // slot number, to name the variable in messages
};
constexpr uint32_t kRefTagValue = 2;
constexpr uint32_t kRefDataWords = 4;
constexpr int kRefWords32 = 8;

struct VarRef {
  uint32_t assign;
  int32_t slot_word;
  int32_t block;
  int32_t offset;
  uint32_t created;
  int32_t slot;
};

// False when the item at depth is no reference (or names no block).
inline bool ref_at(EngineContext* ctx, int depth, VarRef* r) {
  if (!stk_has_item(ctx, depth)) return false;
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindReference || d[1] != kRefDataWords) return false;
  const auto* w = reinterpret_cast<const uint32_t*>(item_data(ctx, depth));
  *r = VarRef{w[kRefAssign], int32_t(w[kRefSlotWord]), int32_t(w[kRefBlock]), int32_t(w[kRefOffset]),
              w[kRefCreated], int32_t(w[kRefSlot])};
  return heap_index_ok(ctx, int64_t(r->block) + r->offset);
}

inline void ref_put(EngineContext* ctx, int depth, const VarRef& r) {
  auto* w = reinterpret_cast<uint32_t*>(item_data(ctx, depth));
  w[kRefAssign] = r.assign;
  w[kRefTag] = kRefTagValue;
  w[kRefSlotWord] = uint32_t(r.slot_word);
  w[kRefBlock] = uint32_t(r.block);
  w[kRefOffset] = uint32_t(r.offset);
  w[kRefCreated] = r.created;
  w[kRefSlot] = uint32_t(r.slot);
  w[7] = 0;
}

// The referenced element's header (its data follow it). Offsets count the
// value's words as if no gap were open in its block; the value's own header
// (offset 0) lies in front of any gap, but an element inside it lies where
// its offset says only once the gap is closed. Only the brace store's steps
// read across a gap (entry_gap.h); every other way from a reference to its
// element comes through here and closes it.
inline uint64_t* ref_element(EngineContext* ctx, const VarRef& r) {
  if (r.offset != 0) entry_gap_close_in(ctx, r.block);
  return heap_words(ctx) + r.block + r.offset;
}

// Pushes a reference (1 without descriptor room, 3 without data room).
int ref_push(EngineContext* ctx, const VarRef& r);

// Replaces the reference at depth by a copy of the value it designates.
int ref_deref_at(EngineContext* ctx, int depth);

// --- Editing a value block ------------------------------------------------------------

// The words [at, at + old_len) of the reference's block become new_len words;
// the words behind move. A growth that fits the block's spare room happens
// in place; otherwise a larger block (with half as much again as spare room
// when the heap has it) is allocated first and the old one freed after the
// copy (the slot or entry then names the new block, and r follows it); a
// smaller one gives its tail back. The new words are not written. 5 when the
// heap has no room (nothing changed).
int block_splice(EngineContext* ctx, VarRef* r, int64_t at, int64_t old_len, int64_t new_len);

// Adds delta to the size word of every container that encloses the element
// at word offset `target` of the block (the element itself excepted).
void block_adjust_enclosing(EngineContext* ctx, int32_t block, int64_t target, int64_t delta);
// The same, with the walk through the container at word hint_container
// starting at word hint_start: the header of an entry at or before the one
// holding target (-1: no hint).
void block_adjust_enclosing_from(EngineContext* ctx, int32_t block, int64_t target, int64_t delta,
                                 int64_t hint_container, int64_t hint_start);

// The referenced element becomes the value {h, data} (its name word kept),
// with the enclosing containers' sizes corrected.
int ref_store_value(EngineContext* ctx, VarRef* r, const uint32_t* h, const uint64_t* data);
