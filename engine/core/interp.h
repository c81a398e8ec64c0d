// The interpreter loop: runs compiled code from the current code position,
// dispatches intrinsic opcodes to the handlers registered for them and library
// opcodes to the rows of the registered tables, turns statuses into the next
// step and handles errors (try handlers, overloading, traceback).
#pragma once

#include <cstdint>

#include "engine/core/code_position.h"
#include "engine/core/context.h"
#include "engine/core/lib_calls.h"
#include "engine/core/opcodes.h"

// Runs from the current code position until the code ends (0), an error is
// not caught (its code, after the traceback), control is handed back
// (kSliceEnded: call again to go on) or the run is suspended (kDebugSuspend).
// With slice set control is handed back at every backward jump of the main
// context and at the end of a task's time slice (a task runs its whole slice
// however its code loops), so that a run comes back within one slice. A
// call while the loop runs returns 0 at once unless the position carries the
// nested-run mark.
int interp_run(EngineContext* ctx, int slice);
// After a run that ended with `status`: true when an error that nothing caught
// ended a task and only that task, so that the host resumes the main context
// (still holding code) with interp_run once the report is on fd 2. An abort
// (kAborted) stops everything and is never resumed.
bool interp_task_failed(const EngineContext* ctx, int status);
// After a run that ended with `status`: true when a task stopped for
// debugging. It stays the current context, so that the debugger's commands
// run in it (dbcont, dbstep, dbquit take it on); a host that cannot step
// it calls interp_end_task_stop, which ends the task and makes the main
// context current again, to be resumed with interp_run when it has code.
bool interp_task_stopped(const EngineContext* ctx, int status);
void interp_end_task_stop(EngineContext* ctx);

// --- Handlers of engine opcodes ----------------------------------------------
// Every engine opcode that the loop does not execute itself goes to the
// handler registered for it. A handler replaces its inputs on the value stack
// by its outputs and returns a status. Arguments:
//   intrinsic opcodes: a = nargin, b = nargout (the operand words where the
//     count is variable, the fixed counts otherwise), c = 0;
//   other opcodes: their operand words as signed 16-bit numbers (missing ones
//     0); the index reads (kOpIndexRead, kOpIndexRefRead) get c = the caller
//     frame's function id.
// The selector is the number given at registration, so that one function can
// serve several opcodes. The core's own operations (stack items, variables,
// references, indexing and assignment, integer conversions, lasterr and the
// like) are the defaults; the base library registers the rest at start-up
// (engine_op_handlers_install); anything unregistered reports kNotSupported.
using OpHandlerFn = int (*)(EngineContext* ctx, int32_t selector, int a, int b, int c);
struct OpHandler {
  OpHandlerFn fn;
  int32_t selector;
};
// Registers fn for an engine opcode (null restores the default); returns the
// previous registration. The table is shared by every engine of the process
// and is filled at start-up (libraries above the core cannot be called from
// it otherwise), before any code runs.
OpHandler interp_set_op_handler(uint32_t opcode, OpHandlerFn fn, int32_t selector);
OpHandler interp_op_handler(uint32_t opcode);
// False for an opcode that still has the "not supported" answer: nobody
// registered it and the core has no default for it.
bool interp_op_registered(uint32_t opcode);

// --- Reports ----------------------------------------------------------------------
constexpr int kTracebackFrames = 10;
// Prints the stored error on fd 2, then one line "-> name;line" for each of at
// most 10 callers of the current frame that run a function.
int err_print_traceback(EngineContext* ctx, int32_t code);
// Writes a function's source line to the echo descriptor: the name padded to
// 16 columns, the line number in 5, a blank and the text (80 characters in all).
int echo_source_line(EngineContext* ctx, int32_t function_id, int32_t line);

// --- Engine tasks -------------------------------------------------------------------
// The loop switches tasks and runs pending events through these services; the
// task scheduler installs them. Without it there is one context only: yielding
// goes on with the same code and only queued function calls are run.
struct InterpTaskOps {
  // Stores *pos as the current task's position, chooses the next task and
  // loads its position into *pos; true when no task has code left.
  bool (*yield)(EngineContext* ctx, CodePosition* pos);
  void (*switch_to)(EngineContext* ctx, int32_t task);  // 0 main, -1 the next one
  void (*remove)(EngineContext* ctx, int32_t task);
  // Runs the oldest pending event; pos (may be null) is the position of the
  // running code, which the event may change.
  int (*run_event)(EngineContext* ctx, CodePosition* pos);
  // A task's turn ends with the run (the host resumes the main context):
  // the main context becomes current as if the scheduler had chosen it.
  void (*hand_back)(EngineContext* ctx);
};
void interp_set_task_ops(const InterpTaskOps* ops);  // null: the single-context defaults
// The current context starts a fresh slice: the lap of its slice clock starts
// now, and the loop learns the pace of its code afresh, reading the clock
// after one step, then after more and more.
void interp_slice_restart(EngineContext* ctx);

// --- Display ----------------------------------------------------------------------
// The built-in display of the top item (fd, pop): shows an object whose class
// has no "disp" method. Installed by the library that formats values; until
// then kNotSupported.
using DisplayFn = int (*)(EngineContext* ctx, int32_t fd, int pop);
void interp_set_display(DisplayFn fn);
int interp_display(EngineContext* ctx, int32_t fd, int pop);
