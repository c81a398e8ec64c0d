// The elementary functions over double arrays: magnitude, phase, sign,
// rounding, exponentials and logarithms, roots, the circular and hyperbolic
// families and atan2. Apart from atan2 each works in place on the top item;
// a real array turns complex only at its first element that needs it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Selector letters of the families (the interpreter passes them).
enum : int {
  // Rounding.
  kRoundFix = 't',
  kRoundFloor = 'f',
  kRoundCeil = 'c',
  kRoundNearest = 'r',
  // Exponential and logarithm family; reallog and realsqrt use 'l' and 's'.
  kExpExp = 'e',
  kExpExpm1 = 'E',
  kExpLog = 'l',
  kExpLog10 = '1',
  kExpLog2 = '2',
  kExpLog1p = 'L',
  kExpSqrt = 's',
  // Circular and hyperbolic families; the reciprocal flag makes sec, csc,
  // cot, asec, acsc, acot and their hyperbolic twins.
  kTrigSin = 's',
  kTrigCos = 'c',
  kTrigTan = 't',
  kTrigSinc = 'n',  // circular family only
  kTrigAsin = 'S',
  kTrigAcos = 'C',
  kTrigAtan = 'T',
};

// Every handler takes a double array (real or complex matrix, or an N-d
// array of type 64/65) and answers kWrongArgType for anything else; an unknown selector
// gives kNotSupported before the argument is looked at. When a real array cannot be
// made complex the stack's overflow status comes back and the elements
// already computed stay overwritten.
int bi_abs(EngineContext* ctx);
int bi_angle(EngineContext* ctx);
int bi_sign(EngineContext* ctx);
int bi_round(EngineContext* ctx, int letter);
int bi_exp(EngineContext* ctx, int letter);
int bi_reallog(EngineContext* ctx, int letter);
int bi_circular(EngineContext* ctx, int letter, int reciprocal);
int bi_hyperbolic(EngineContext* ctx, int letter, int reciprocal);

// atan2(Y, X): Y deeper, X on top, same shape or either one element; only the
// real parts are read. Both are replaced by a real double array. kWrongArgType for a
// non-double argument, kIncompatibleSize for different shapes.
int bi_atan2(EngineContext* ctx);

// Runs the handler of one of these functions' opcodes with the arguments its
// instruction passes (abs 122 ... realsqrt 176); kNotSupported for any other opcode.
int elemfun_run_opcode(EngineContext* ctx, uint32_t opcode);
