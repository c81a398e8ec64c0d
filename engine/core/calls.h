// Name resolution and calls: which code a name designates (user functions
// through libraries and use-lists, methods of user classes and their parents,
// rows of the registered tables, intrinsics), and the calls that built-ins,
// library code and the host make. A call only prepares a frame and a code
// position; running the code is the interpreter's (reached through a hook).
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/function_names.h"
#include "engine/core/opcodes.h"

// --- Resolution -----------------------------------------------------------------------
// The library a calling context stands for: a function's library, a library
// itself, 0 for the base workspace or anything else.
int32_t fn_library_of(EngineContext* ctx, int32_t context_id);

// User function of that name and class visible from library; -1 when none.
// class_length < 0: any class. With search_uses, the library's use-list is
// searched after it (last entry first), then the functions without library
// (and, from the base workspace, the command line's "_cli" library).
int32_t fn_find_user(EngineContext* ctx, const char* name, int32_t length, const char* class_name,
                     int32_t class_length, int32_t library, int search_uses, int32_t* class_symbol);
// Splits "class::name" and searches with the use-lists; kBadArgument for a lone ":".
int fn_find_user_simple(EngineContext* ctx, const char* name, int32_t length, int32_t library, int32_t* id);

// Class id of a row of the table at that position of the registered list.
inline int32_t builtin_class_id(int32_t table_position, int32_t class_word) {
  return 6 + 128 * table_position + (class_word < 0 ? -class_word : class_word);
}
// The placeholder of a built-in function row: kNotSupported, "Not supported". Defined
// here so that resolution can tell an unbuilt row from a working one.
int builtin_not_supported(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// The next row named exactly name after `after` (null: from the start), in
// search order; class_filter nonzero: only rows of that class id (or its
// negation). *index receives the row's number k (opcode 327 + k). A row that
// still holds the "Not supported" placeholder is passed over when a later row
// or an intrinsic has its name: it keeps its slot and index (opcode 327 + k
// still reaches it), but it no longer hides a working function.
const BuiltinEntry* lib_find_builtin(EngineContext* ctx, const char* name, const BuiltinEntry* after,
                                     int32_t class_filter, int32_t* index);

// Maximum input and output counts of the function a name designates: a user
// function's header, a row's counts (64 = any), an intrinsic's (32767 = no
// maximum); kUndefinedFunctionOrVariable when nothing has that name.
constexpr int32_t kCountUnbounded = 32767;
int fn_find_by_name(EngineContext* ctx, const char* name, const char* library_name, int32_t context_id,
                    uint32_t flags, int32_t* max_in, int32_t* max_out);

enum : uint32_t {
  kResolveUserOnly = 1,     // a built-in result is kUndefinedFunctionOrVariable
  kResolveBuiltinOnly = 2,  // user functions are passed over
};
// The run-time resolution of a call of name with nargin arguments on top of
// the stack. Exactly one of *function_id (>= 1), *row (with *opcode 327 + k)
// and *intrinsic (with its opcode) is set. kUndefinedFunction, or
// kWrongNargin / kWrongNargout when a name matched with the wrong counts.
int fn_resolve_ref(EngineContext* ctx, const char* name, int32_t context_id, int nargin, int nargout,
                   int32_t* function_id, const BuiltinEntry** row, int32_t* opcode,
                   const IntrinsicEntry** intrinsic, uint32_t flags = 0);

// True when fn_resolve_ref, asked for the name of user function id from
// context_id with the nargin arguments on top (no flags), would answer id
// itself: a plain function (or constructor) of the caller's library, no
// earlier entry of that library with its name, and no object argument that
// could select a method. False whenever that is not certain.
bool fn_resolves_to_self(EngineContext* ctx, int32_t id, int32_t context_id, int nargin);

// --- Calls ------------------------------------------------------------------------------
// The interpreter loop: runs from the current code position (slice: hand back
// at backward jumps). interp_run unless a test installs another runner.
using InterpRunFn = int (*)(EngineContext* ctx, int slice);
InterpRunFn interp_set_runner(InterpRunFn fn);
int interp_run_hook(EngineContext* ctx, int slice);

// Pushes a frame that runs a copy of the code words, held on the data stack
// below the nargin arguments; the frame keeps nargout results.
int call_setup_frame(EngineContext* ctx, const uint16_t* code, int32_t length, int nargin, int nargout,
                     int32_t extra_locals, int32_t function_id, int flag);
// Prepares a call of name with the nargin arguments on top; context_id is
// the calling function's id (0 at the command level). keep_position: the
// code position is left as it is (the caller points it at the callee).
int fn_call(EngineContext* ctx, const char* name, int32_t context_id, int nargin, int nargout, int user_only,
            int keep_position);
// The call instruction's call: of the function named by the entry id (its
// name resolved as fn_call would, from context_id), without the name lookups
// when the id is what resolution would give anyway.
int fn_call_user_id(EngineContext* ctx, int32_t id, int32_t context_id, int nargin, int nargout);
// fn_call_user_id's short way, through the call cache, for the interpreter's
// call (a position is set): when the id is what resolution gives, its code is
// a plain function's and the nargin arguments on top are neither references
// nor containers, the frame is pushed and the position set to the callee's
// first instruction (kOk). kFrameNotPlain, with nothing changed, for every
// other call (fn_call_user_id then makes it, and reports its errors); the
// status of a heap failure, which fn_call_user_id would report for the same
// call (nothing changed either). The context is the caller's function id,
// read from its frame (0 with none), as caller_function_id gives it.
int fn_call_user_cached(EngineContext* ctx, int32_t id, int nargin, int nargout);
// fn_call_user_cached of one argument that was not pushed: its value alone
// is the data word at the data stack's top (the tops as they were before
// it). kOk with the callee entered as the cached call enters it after the
// push, or kFrameNotPlain with nothing changed (the caller then pushes the
// argument and makes the call).
int fn_call_user_given(EngineContext* ctx, int32_t id, int nargout);
// fn_call with resolution flags (kResolve...): kResolveBuiltinOnly passes
// over user functions of that name.
int fn_call_resolving(EngineContext* ctx, const char* name, int32_t context_id, int nargin, int nargout,
                      uint32_t flags);
// Calls the function value at depth (a name string, an inline function or a
// function reference) with the nargin arguments on top; builtin_only passes
// over user functions. The new frame resumes the calling built-in on return.
int fn_call_funarg(EngineContext* ctx, int depth, int nargin, int nargout, int builtin_only);
// Runs a user function for the host: frame, position, then the interpreter.
int interp_call(EngineContext* ctx, const char* name, int32_t context_id, int nargin, int nargout,
                int frame_flag, int slice);
// Sets the current frame's result count to 0 and pops it.
int frame_return_discard(EngineContext* ctx);
// Compiles text in the current workspace into code on the data stack, ready
// to run; *value_count: the values it leaves.
int exec_code_block(EngineContext* ctx, const char* text, int32_t length, int32_t* value_count);
// exec_code_block in a workspace of its own: a name the text makes (even
// one it only assigns, and never runs) goes with the block's frame, and the
// caller's workspace is as it was.
int exec_own_code_block(EngineContext* ctx, const char* text, int32_t length, int32_t* value_count);
// exec_code_block for a caller that takes exactly nargout results (0: none):
// the frame keeps the last nargout values the text leaves; kTooManyOutputs
// (nothing pushed) when it leaves fewer. flags are added to the compiler's.
int exec_eval_block(EngineContext* ctx, const char* text, int32_t length, int nargout, uint32_t flags);
// exec_eval_block for text that runs in a workspace of its own: the new
// frame holds the variables the text makes, and nothing it assigns reaches
// the caller's workspace.
int exec_own_workspace_block(EngineContext* ctx, const char* text, int32_t length, int nargout, uint32_t flags);
// Runs a command line: definitions go to "_cli", statements are compiled in
// the current workspace; 500 with the position set, for the host to run.
// flag: the host reports compilation errors itself.
int exec_command_line(EngineContext* ctx, const char* text, int32_t length, int flag);
// True when the code from the current position to its halt only builds constants.
bool exec_check_halt_opcode(EngineContext* ctx);

// The function id of the current frame (outward to the first frame that
// runs a function); 0 outside functions.
int32_t frame_current_function(EngineContext* ctx);

// --- Function values ----------------------------------------------------------------------
int stack_push_record(EngineContext* ctx, const char* name, int32_t length, int32_t word);
// Name of a function reference's payload {i16 length, u16 word, bytes}.
void code_string_ref(const void* record, const char** text, int32_t* length);
// The flat item (kind, a, b as doubles, then the data) of the values an
// inline function value at depth captured; kWrongType when the value carries none.
int inline_captures(EngineContext* ctx, int depth, const double** flat);
int funarg_resolve(EngineContext* ctx, int depth, int32_t context_id, int32_t* max_in, int32_t* max_out);
int funarg_pop_resolve(EngineContext* ctx, int depth, int which);

// --- Built-ins ----------------------------------------------------------------------------
int bi_exist(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_inline(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// The function text "inline" compiles for a body that is not itself a
// definition; names of the arguments and of the captured values are lists
// separated by ",". Returns 3 when the buffer is too small.
int inline_build_source(const char* body, int32_t body_length, const char* args, int32_t args_length,
                        const char* captures, int32_t captures_length, char* buffer, int32_t capacity,
                        int32_t* length);
