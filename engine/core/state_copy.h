// A copy of everything in the engine's block that a run can change, taken
// before a run that may have to be undone and put back after it: the
// context record, the used parts of the data and descriptor stacks, the
// heap up to its last block in use (globals, persistents, tasks and their
// stacks, the semaphore table) and the code area's used words and symbols.
// The copy is position-free: it goes back into the same block after the
// block has moved or grown, its areas laid out as they are then.
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
// capture buffer) keep their present values. Streams the engine handed out
// since the copy are closed first: they belong to the state undone. Bytes
// already written to a stream are not taken back.
void engine_state_restore(EngineContext* ctx, const uint8_t* copy);
