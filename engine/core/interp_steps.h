// The interpreter's slower steps, called from the loop out of line: nothing
// here is on a fast path, and each returns a status or a plain answer.
// Internal to engine/core: only the interpreter's files include it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/indexing.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"

namespace interp_steps {

// True when frame `index` is the base frame (the workspace of top-level code).
bool is_base_frame(EngineContext* c, int32_t index);
// The local slots of the workspace frame and their number (null, 0 when
// there is no workspace).
uint32_t* workspace_slots(EngineContext* c, uint32_t* count);
// The function id of the current frame (0 without one).
int32_t caller_function_id(EngineContext* c);
// The mask argument of an index read whose next instruction is at `next`
// (the area ends at `end`): the instruction's 16 mask bits, with
// kIndexReadForStatement when that instruction drops or shows the value, as
// a statement does: `h(x);` pops it, `h(x)` in a function shows it.
inline uint32_t index_read_mask(int mask_operand, const uint16_t* next, const uint8_t* end) {
  const uint32_t mask = uint16_t(mask_operand);
  if (reinterpret_cast<const uint8_t*>(next) + sizeof *next > end) return mask;
  return *next == kOpPopItem || *next == kOpDisp ? mask | kIndexReadForStatement : mask;
}

// A 1 x 1 integer of `size` bytes holding the low bytes of bits.
int push_typed_scalar(EngineContext* c, uint32_t size, bool is_unsigned, uint64_t bits);
// A 1 x 1 single, complex when imaginary is set.
int push_single(EngineContext* c, double re, double im, bool imaginary);
// Writes 16-bit text to standard output through the charset encoder, or
// byte for byte ("?" above 255) without one.
int write_string16(EngineContext* c, const uint16_t* chars, int32_t n);

// An engine opcode's handler through the registration table.
inline int call_handler(EngineContext* c, uint16_t op, int a, int b, int cc) {
  const OpHandler h = interp_op_handler(op);
  return h.fn(c, h.selector, a, b, cc);
}
// Maps kUndefinedVariable for an input slot of the current frame to
// kUndefinedInputArg; any other status passes unchanged.
int local_read_status(EngineContext* c, int status, int slot);

// True when a breakpoint is set at that line of that function.
bool breakpoint_at(EngineContext* c, int32_t function_id, int32_t line);
// Time slicing between tasks. The loop reads the slice clock once per lap
// of steps: ctx->slice_steps_left counts down by one for a fast instruction
// and by g_slice_call_steps for any other, and at 0 the loop calls
// slice_used, which reads a lap into the current context's time used and
// grants the next lap. True when the current context has used its slice
// (or, without a clock, when a switch was asked for: every instruction is
// then a lap).
bool slice_used(EngineContext* c);
// The steps an instruction other than a fast one takes of a lap: an eighth
// of the lap's budget, so that at most eight calls out, whose cost nothing
// bounds, run between two readings.
inline int32_t g_slice_call_steps = 1;
// The next lap's budget after a lap of `budget` steps measured `lap` seconds,
// with `left` seconds left of a slice of `slice`: as many steps as make a
// fiftieth of the slice, or what is left of it, at that rate; from 1 to twice
// the last budget.
int32_t slice_next_budget(int32_t budget, double lap, double left, double slice);
// Restarts the lap of the current context's slice clock, with a budget of
// one step: the time between two runs of a task, or before a fresh call, is
// the host's, not the context's.
void slice_lap_restart(EngineContext* c);

}  // namespace interp_steps
