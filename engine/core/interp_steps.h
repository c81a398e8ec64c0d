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
// Time slicing between tasks after an instruction: true when the current
// task has used its slice (or, without a clock, when a switch was asked for).
// After a fast instruction the loop calls it once ctx->slice_steps_left has
// run out, and it sets that count to how many fast instructions may run
// before the next reading: one while the clock moves between readings,
// several once a lap has measured no time (a clock coarser than the
// instructions). After any other instruction the clock is read every time.
// One function for both: a second one called from the loop changed the
// loop's code on its paths without tasks (50 instructions more a call).
bool slice_used(EngineContext* c, bool fast);
// Restarts the lap of the current context's slice clock: the time between
// two runs is the host's, not the context's.
void slice_lap_restart(EngineContext* c);

}  // namespace interp_steps
