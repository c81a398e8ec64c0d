// References held by the frames below the current one. An expression that
// calls a function, eval or a callback keeps its references (c{50} in
// c{50}(eval(...)), the target of c{3}(f(x)) = v) on the stack while the
// code it called runs; that code may edit the very value they point into,
// through eval's shared workspace or a global. Every edit that moves words
// of a variable's value, or drops the value, tells the waiting references:
// those behind the edit follow it, those inside what it replaced lose
// their target, so that their use fails cleanly instead of reading words
// that now belong to something else.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Whether references below the current frame may point into the value of
// the slot at slot_word (a descriptor-stack word): not when it is a plain
// slot of the current frame, which no caller can name.
bool outer_refs_may_see(EngineContext* ctx, int32_t slot_word);

// Words [at, at + old_len) of the value in `block` became new_len words and
// the value now lies in block `moved` (block itself when it stayed put).
void outer_refs_splice(EngineContext* ctx, int32_t block, int32_t moved, int64_t at, int64_t old_len,
                       int64_t new_len);

// The value in `block` is freed or rewritten whole.
void outer_refs_drop(EngineContext* ctx, int32_t block);
