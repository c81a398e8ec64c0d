// The calling protocol for built-ins that call user code.
//
// A built-in never runs the interpreter itself to call ZVR code. Instead:
//   1. It leaves whatever state it needs on the value stack (below the
//      arguments of the call it makes), prepares the call with
//      builtin_call_value or builtin_call_name, and returns that status at
//      once (0 when the call is prepared).
//   2. The interpreter loop runs the callee. When the callee returns, its
//      frame's resume mark (frame word 16) makes frame_pop call the same
//      built-in again through the same instruction: nargin is then
//      ~(number of results the callee left) -- always negative -- and
//      nargout is the instruction's own. The results lie on top of the state.
//   3. The built-in reads builtin_resumed(nargin) to tell the two cases
//      apart; it may call again (back to 2), or finish by replacing its state
//      with its outputs and returning 0 (or an error code, which is reported
//      as its own).
// Only a built-in called by an instruction of the form {opcode, nargin,
// nargout} can be resumed: a library row's opcode, an intrinsic with both
// counts variable (feval, builtin), or the stub fn_call writes for a row.
// The position a resumed built-in returns to is the one after its
// instruction, so a built-in that finishes simply returns.
//
// Example, twice(f, x) = f(f(x)), keeping a step counter under the value:
//   first call:   [f, x]        -> push 1, move it below x -> [f, 1, x];
//                                  builtin_call_value(ctx, 2, 1, 1)
//   resumed (1):  [f, 1, r1]    -> counter 2; builtin_call_value(ctx, 2, 1, 1)
//   resumed (1):  [f, 2, r2]    -> remove f and the counter -> [r2]; return 0
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Results the callee left when the built-in is being resumed, -1 on its first call.
constexpr int builtin_resumed(int nargin) { return nargin < 0 ? ~nargin : -1; }

// Prepares the call of the function value `depth` items down (a name string,
// an inline function or a function reference) with the nargin items on top
// as its arguments; nargout results will be kept (-1: as a statement). The
// function value itself stays where it is.
int builtin_call_value(EngineContext* ctx, int depth, int nargin, int nargout);

// Prepares the call of the function of that name (user function, row or
// intrinsic, resolved from the calling code's library) with the nargin
// items on top as its arguments.
int builtin_call_name(EngineContext* ctx, const char* name, int nargin, int nargout);

// builtin_call_name with the name resolved as from the function context_id
// (a library's code, say) instead of the calling code's.
int builtin_call_name_from(EngineContext* ctx, const char* name, int32_t context_id, int nargin, int nargout);
