// The matrix operators of the language as engine intrinsics: right and left
// division, inv, det and the matrix power. Each takes its operands from the
// top of the value stack (first operand deeper), replaces them by the result
// and returns a status; on a status returned before any data changed the
// operands stay as they were.
#pragma once

#include "engine/core/context.h"

int bi_mrdivide(EngineContext* ctx);  // A / B: X with X B = A
int bi_mldivide(EngineContext* ctx);  // A \ B: X with A X = B
int bi_inv(EngineContext* ctx);
int bi_det(EngineContext* ctx);
int bi_mpower(EngineContext* ctx);    // A ^ B
