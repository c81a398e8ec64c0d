// Calls of built-ins by opcode or by function, with the checks the call
// instruction makes (restricted frames, class methods). Below the
// interpreter loop: frames resume a built-in through it after a return.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Calls row k = opcode - kFirstLibraryOpcode of the registered tables (the
// same checks as the instruction: restricted frames, class methods); an
// engine opcode calls its handler. kIllegalError when k lies past the last row.
int lib_call_opcode(EngineContext* ctx, int32_t opcode, int nargin, int nargout);
// Calls a built-in function found among the registered rows (first match)
// with that row's class id and data word; unknown: default data word.
int lib_call_builtin(EngineContext* ctx, BuiltinFn fn, int nargin, int nargout);

// Built-ins that, called with two real double scalars for one output, leave
// exactly what an engine operator leaves for them (the LAPACK divisions,
// bound under the operators' names, divide two real scalars as `/` and `\`
// do): the library that defines one notes it once, before any engine runs,
// and the interpreter then divides such a call inline instead of calling.
// op is kOpMrdivide or kOpMldivide; kBadArgument for any other, or when the
// few places are taken.
int lib_note_scalar_operator(BuiltinFn fn, uint16_t op);
// The operator noted for fn; 0 when none was.
uint16_t lib_scalar_operator(BuiltinFn fn);
