// The engine opcodes served by the array built-ins, as a table that the
// interpreter's start-up walks to register each handler for its opcode.
// Handlers take the interpreter's arguments: a = nargin and b = nargout for
// intrinsics; the literal range's operand words start, end, step as a, b, c.
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
