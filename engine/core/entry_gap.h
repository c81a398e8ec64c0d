// Gaps in variables' blocks: free words left between two entries of the
// list or cell array that is a variable's value, so that brace stores
// changing entries' lengths one after another move only the entries between
// two stores. The value's headers, its entry fingers and its offset indexes
// describe the value without the gap; only the interpreter's brace store
// steps read through it, and everything else closes it before it can look.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

struct VarRef;
struct Entries;

// The entries behind the open gap move down to their places (the block
// keeps the gap's words as spare room behind its value), and the last store
// is forgotten.
void entry_gap_close(EngineContext* ctx);

// Gaps opened so far in this process (every engine's): for tests.
uint64_t entry_gap_opened_count();

// True when the gap is open in heap block `block`.
inline bool entry_gap_open_in(const EngineContext* ctx, int32_t block) {
  return ctx->entry_gap.block == block && ctx->entry_gap.words >= 0;
}

// Closes any open gap and forgets the last store: called before whatever
// else the interpreter does that may read or change a variable.
[[gnu::always_inline]] inline void entry_gap_settle(EngineContext* ctx) {
  if (__builtin_expect(ctx->entry_gap.block != 0, 0)) entry_gap_close(ctx);
}

// Closes the gap when it is open in heap block `block`.
inline void entry_gap_close_in(EngineContext* ctx, int32_t block) {
  if (__builtin_expect(entry_gap_open_in(ctx, block) && block != 0, 0)) entry_gap_close(ctx);
}

// The heap block is freed or rewritten as a whole: its gap is gone with it.
inline void entry_gap_drop(EngineContext* ctx, int32_t block) {
  if (ctx->entry_gap.block == block) ctx->entry_gap = EntryGap{};
}

// Whether a reference among the items above the current frame (the
// operands an instruction can reach) points into the block with the open
// gap; true also when there are too many items to look at.
bool entry_gap_referenced(EngineContext* ctx);

// Whether the brace step on reference r may look through the gap in its
// block: an assignment's step into the value's own list or cell array
// (r names the whole value) during a brace store, with the container's
// finger in place. When not, the caller closes the gap first.
bool entry_gap_serves_step(EngineContext* ctx, const VarRef& r);

// The word offset, in the block, of entry `linear` of the value's own
// container (ent: its entries, from the finger), found across the gap; the
// finger moves to it. -1 when neither the finger's walk nor an index reaches
// it (the caller closes the gap and seeks as usual).
int64_t entry_gap_seek(EngineContext* ctx, int32_t block, const Entries& ent, int64_t linear);

// ref_store_value for an entry of the value's own list or cell array during
// a brace store: the entry is replaced at the gap, which is moved to it
// first and widened when the new entry needs more words than it holds.
// -1 when the store is not one for the gap (nothing changed; the plain
// store follows), else the status.
int entry_gap_store(EngineContext* ctx, VarRef* r, const uint32_t* h, const uint64_t* data);
