// The engine opcodes served by the array built-ins (concatenation, reshaping,
// ranges, transposes, products), as a table the interpreter's start-up walks
// to register each handler for its opcode. Handlers take the interpreter's
// arguments: for intrinsics a = nargin and b = nargout; for the literal range
// the instruction's operand words start, end, step as a, b, c.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

using ArrayOpcodeFn = int (*)(EngineContext* ctx, int32_t selector, int a, int b, int c);

struct ArrayOpcodeHandler {
  uint16_t opcode;
  ArrayOpcodeFn fn;
  int32_t selector;  // passed back to fn
};

extern const ArrayOpcodeHandler kArrayOpcodeHandlers[];
extern const int kArrayOpcodeHandlerCount;
