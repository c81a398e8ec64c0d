// Comparison and logic operators over the top value-stack items. Every result
// is a logical array (bytes 0 or 1) that takes the operands' place.
#pragma once

#include "engine/core/context.h"

// Selectors.
enum : int {
  kCmpEq = '=',
  kCmpNe = '~',
  kCmpLt = '<',
  kCmpGt = '>',
  kCmpLe = 'L',
  kCmpGe = 'G',
  kLogicAnd = '&',
  kLogicOr = '|',
  kLogicXor = '^',
  kNotLogical = 0,  // "logical"
  kNotNot = 1,      // "not"
  kSameSame = 0,
  kSameUnsame = 1,
  kFiniteIsfinite = 'f',
  kFiniteIsinf = 'i',
  kFiniteIsnan = 'n',
};

// eq, ne, lt, gt, le, ge after promotion to the common class. NaN is unequal
// to everything; complex < and <= compare the real parts only. kWrongArgType for an
// operand that is not numeric, char or logical; kIncompatibleSize for different shapes.
int bi_eq(EngineContext* ctx, int selector);

// and, or, xor of the operands' truth (nonzero; a NaN part counts as zero).
// kWrongArgType for objects and operands that cannot be made logical (single arrays,
// containers); kIncompatibleSize for different shapes.
int bi_and(EngineContext* ctx, int selector);

// "logical" (selector 0) or "not" (1) of the top item; kWrongArgType when it cannot be
// made logical.
int bi_not(EngineContext* ctx, int selector);

// "same" (0) or "unsame" (1): identity of descriptor and stored bits, so NaN
// is the same as itself and 0 is not the same as -0.
int bi_same(EngineContext* ctx, int selector);

// isfinite, isinf, isnan of a double array (plain or N-d, real or complex);
// kWrongArgType for anything else.
int bi_isfinite(EngineContext* ctx, int selector);
