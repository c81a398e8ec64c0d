// The call cache: for a call instruction's function id and its caller's
// context, that resolution by name gives the id itself, with what the callee's
// header says, so that the next call of the pair skips both. It lives outside
// the block (nothing of it is saved in an image), belongs to one engine at one
// address, and is emptied by every change of the function table (its code
// offsets included), the library path, a cleared library, a task switch and a
// new or loaded engine: an entry found is true without a check of its own.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/frames.h"

// One remembered callee: a plain compiled function (no varargin, varargout,
// argument-less form or captures) whose input slots lie inside its locals.
// One cache line.
struct alignas(64) CallCacheEntry {
  int32_t callee = 0;   // function id; kCallCacheNoCallee for an empty entry
  int32_t context = 0;  // the caller's context id
  int32_t code = 0;     // the callee's code word offset (its header) when filled
  int32_t start_offset = 0;  // byte offset of its first instruction in the code area
  // How many output counts, from -1 up, the one-scalar push that calls
  // nothing takes (frame_push_scalar_call_few): 3 (-1, 0 and 1) for a callee
  // with an input, an output and at most kScalarCallFewLocals locals, else 0.
  uint32_t few_nargout_span = 0;
  PlainCallee shape{};       // what its header says
};
static_assert(sizeof(CallCacheEntry) == 64);

// No id: a call instruction's id is a 16-bit word.
constexpr int32_t kCallCacheNoCallee = INT32_MIN;

// Empties the cache of this thread and makes every other thread's find its
// own empty at its next look (an engine may be changed from another thread
// than the one that runs it). Cheap: every change that could alter what a
// call resolves to calls it.
void call_cache_clear();

// The entry for (callee, context) of this engine, or null.
const CallCacheEntry* call_cache_find(const EngineContext* ctx, int32_t callee, int32_t context);

// Remembers an entry for this engine (an entry of another engine, or of this
// one at another address, empties the cache first).
void call_cache_store(const EngineContext* ctx, const CallCacheEntry& e);
