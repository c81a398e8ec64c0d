// What a built-in leaves on the stacks: its nargin inputs replaced by exactly
// nargout outputs, or, called as a statement (nargout below 0), by one item:
// its first output or the no-value item. The debug build checks it after
// every call of a registered row and of an intrinsic that returns 0, and
// reports a breach by the built-in's name; the optimised build calls plainly.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/status.h"

// The state a call starts from. A call that hands the run over to code (a
// frame pushed or popped, the position or the task changed) leaves its
// results later, and a resumed call (nargin below 0) learns its count from
// the frame: neither is judged.
struct BuiltinCallMark {
  int32_t desc_top;
  int32_t frame;
  int32_t task;
  CodePosition pos;
};

BuiltinCallMark builtin_call_mark(const EngineContext* ctx);

// The number of items a call asked for nargout leaves in place of its inputs.
constexpr int builtin_results_owed(int nargout) { return nargout < 0 ? 1 : nargout; }

// Whether the call that started at mark and returned 0 can be judged, and
// when it can, the number of items it left in place of its inputs.
bool builtin_results_left(const EngineContext* ctx, const BuiltinCallMark& mark, int nargin, int64_t* items);

// Called on a breach with the row's name; the default prints the breach on
// standard error and aborts, so that no test can pass over one. A test that
// collects breaches installs its own (nullptr puts the default back).
using BuiltinBreachFn = void (*)(void* context, const char* name, int nargin, int nargout, int64_t items);
void builtin_check_set_reporter(BuiltinBreachFn fn, void* context);

// After a call that returned 0: a breach of the convention goes to the
// reporter under the built-in's name.
void builtin_call_verify(const EngineContext* ctx, const BuiltinCallMark& mark, const char* name, int nargin,
                         int nargout);
// The same for the handler of an intrinsic function, named by its opcode.
void intrinsic_call_verify(const EngineContext* ctx, const BuiltinCallMark& mark, uint32_t opcode, int nargin,
                           int nargout);

// Calls the row and, when it returns 0, checks what it left. Used by the
// debug build for every call, and by tests in both builds.
int builtin_call_checked(EngineContext* ctx, const BuiltinEntry* row, int nargin, int nargout);

// The call of a registered row by the interpreter and the library services.
inline int builtin_call(EngineContext* ctx, const BuiltinEntry* row, int nargin, int nargout) {
#ifdef TN_DEBUG_CHECKS
  return builtin_call_checked(ctx, row, nargin, nargout);
#else
  return row->fn(ctx, nargin, nargout, builtin_data(ctx, row));
#endif
}
