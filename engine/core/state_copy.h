// A copy of everything in the engine's block that a run can change, taken
// before a run that may have to be undone and put back after it: the
// context record, the used parts of the data and descriptor stacks, the
// heap up to its last block in use (globals, persistents, tasks and their
// stacks, the semaphore table) and the code area's used words and symbols.
// The copy is position-free: it goes back into the same block after the
// block has moved or grown, its areas laid out as they are then.
// Large values of global and persistent variables are not copied: they are
// kept where they lie. While the copy is held, such a value is never
// written or freed: a write gives the variable a copy of its own first
// (as for an argument lent by a caller), so the kept block still holds the
// value when the copy is put back; releasing the copy frees the kept blocks
// no variable names any more. A copy costs the engine's used words less
// these values.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Writes the copy into `out` when `capacity` bytes hold it and returns its
// size either way (the caller makes room and asks again). The engine must
// be idle: no run under way, the main task current or a task's slice over.
int64_t engine_state_copy(EngineContext* ctx, uint8_t* out, int64_t capacity);

// Puts the engine back into the state the copy was taken in. The areas keep
// their present places and sizes (each at least what it was then); the
// process-bound words of the context (service table, callbacks, user data,
// capture buffer, the next descriptor to reserve) keep their present values. Streams the engine handed out
// since the copy are closed first: they belong to the state undone. Bytes
// already written to a stream are not taken back.
// Ends the hold (engine_state_hold) of that copy, which must be the last
// one held.
void engine_state_restore(EngineContext* ctx, const uint8_t* copy);

// Starts holding a copy: its kept values stay as they are until the copy
// is restored or released. Holds nest; each ends the latest one.
void engine_state_hold(const uint8_t* copy);
// Ends the hold of the latest copy without putting it back: the kept values
// that no variable names any more (a write gave the variable a new block,
// or cleared it) are freed, unless a hold around this one keeps them.
void engine_state_release(EngineContext* ctx, const uint8_t* copy);

// Whether a held copy keeps the block (a variable's value) where it lies.
bool engine_block_kept(int32_t block);

// The smallest value (in heap words) kept instead of copied; tests lower it
// so that small values are kept too. Returns the previous setting.
int64_t engine_state_set_kept_words(int64_t words);
