// The engine opcodes served by the string, cell, list and structure
// intrinsics, as a table that the interpreter's start-up walks to register
// each handler for its opcode. Handlers take the interpreter's arguments:
// a = nargin, b = nargout (the fixed counts where the opcode has them).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

using TextContainerOpcodeFn = int (*)(EngineContext* ctx, int32_t selector, int a, int b, int c);

struct TextContainerOpcodeHandler {
  uint16_t opcode;
  TextContainerOpcodeFn fn;
  int32_t selector;  // passed back to fn
};

extern const TextContainerOpcodeHandler kTextContainerOpcodeHandlers[];
extern const int kTextContainerOpcodeHandlerCount;
