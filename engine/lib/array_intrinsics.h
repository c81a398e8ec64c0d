// The intrinsics of construction, shape, reductions, extremes and search in
// the form the interpreter loop calls engine opcodes: (ctx, selector, a, b, c)
// with a = nargin and b = nargout for intrinsics, a = the first operand word
// for the other instructions. The start-up that installs opcode handlers
// registers each row {opcode, handler, selector}.
#pragma once

#include <cstdint>
#include <span>

#include "engine/core/context.h"

using ArrayOpHandler = int (*)(EngineContext* ctx, int32_t selector, int a, int b, int c);

struct ArrayIntrinsic {
  uint16_t opcode;
  ArrayOpHandler fn;
  int32_t selector;
};

std::span<const ArrayIntrinsic> array_intrinsics();
