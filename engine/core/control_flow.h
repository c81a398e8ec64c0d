// The special instructions of control flow that work on values: the switch
// test, the steps of for loops over collections and ranges, the packing of a
// range and its last value. The jumps themselves are the interpreter loop's.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Status of a for step that has no element left (not an error there).
constexpr int kLoopExhausted = 29;

// Opcode 305: compares the case value on top with the switch value below it;
// on success the case value is popped and *match tells whether it matched.
int op_case_match(EngineContext* ctx, bool* match);

// Opcode 306: pushes the next column (or list element) of the collection on
// top; kLoopExhausted when there is none.
int op_for_next(EngineContext* ctx);

// Opcode 307: pushes the next value of the range on top; kLoopExhausted when
// there is none. The range runs over exactly the elements that the colon
// operator gives for its start, step and end, and a zero step over none.
// The first step turns the packed range into the loop's own state record,
// which later steps advance in place.
int op_for_range_next(EngineContext* ctx);

// The state record of a range loop over real doubles, which the interpreter
// steps without a call: a real 1 x kRangeStateWords row whose descriptor kind
// carries kRangeStateReal; word 0 the next value, word 2 the step, word 4 the
// values left (unsigned 64-bit).
constexpr uint32_t kRangeStateReal = 64;
constexpr uint32_t kRangeStateWords = 10;
enum : int { kRsCur = 0, kRsStep = 2, kRsLeft = 4 };

// Opcode 308: packs the n (2 or 3) scalars on top into one range row.
int op_range_pack(EngineContext* ctx, int n);

// Opcode 309: replaces the packed range on top by its last element (the value
// a full loop leaves in its variable); the no-value item for an empty range.
int op_range_final(EngineContext* ctx);
