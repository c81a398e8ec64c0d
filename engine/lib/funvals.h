// Function values made, inspected, called and applied: feval and builtin,
// the call by an expanded argument list, deal, str2fun, fun2str, and the
// built-ins that call a function value for their work (apply, map, cellfun,
// fevalx). None of them runs the interpreter: they prepare the call and the
// loop runs it; those that need the results back are resumed by the callee's
// return (engine/core/continuation.h).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Calls the function value lying under its arguments (nargin counts the
// value): an inline function runs in a frame over the value itself; a
// function reference or a name string is removed and the function of that
// name called (a reference in its own context, a name in caller_id's). With
// builtin_only the value must be a name, and user functions of that name are
// passed over. The callee's results take the place of the value and the
// arguments; in statement context (nargout < 0) exactly one item is left (a
// value or "no value"). kTooFewInputs for no value, kWrongArgType for anything but a function
// value or name, kNullName for an empty name.
int call_function_value(EngineContext* ctx, int builtin_only, int32_t caller_id, int nargin, int nargout);

// Replaces the name string at depth by a function reference to that name
// (cut to 32 characters), resolved later in context_id's context. 44 when
// it is not a string.
int str2fun_core(EngineContext* ctx, int depth, int32_t context_id);

int bi_deal(EngineContext* ctx, int nargin, int nargout);
int bi_str2fun(EngineContext* ctx);
int bi_fun2str(EngineContext* ctx);

// Rows of the built-in table. bi_map_cellfun serves "map" (data 'm') and
// "cellfun" (data 'c').
int bi_apply(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_map_cellfun(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_fevalx(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
constexpr uintptr_t kMapSelector = 'm';
constexpr uintptr_t kCellfunSelector = 'c';

// Registers feval, builtin, the expanded-list call, deal, str2fun, fun2str
// and eval for their opcodes, and the call of function values read by
// subscripts. Start-up calls it once; calling it again changes nothing.
void funvals_install();
