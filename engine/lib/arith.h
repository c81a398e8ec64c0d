// The elementwise arithmetic operators (plus, minus, times, rdivide, ldivide,
// rem, mod, power, realpow) over the two top value-stack items, and the
// complex scalar power they and the matrix power share. Integer arithmetic
// wraps in the element type; no operation saturates.
#pragma once

#include "engine/core/context.h"

// Operator characters of arith_elementwise_binary.
enum : int {
  kArithPlus = '+',
  kArithMinus = '-',
  kArithTimes = '*',
  kArithRdivide = '/',
  kArithLdivide = '\\',
  kArithRem = '%',
  kArithMod = 'o',
  kArithPower = '^',
  kArithRealpow = 'r',
};

// Replaces the two top items (first operand deeper, second on top) by their
// elementwise combination. kOk, or kWrongArgType (an operand not numeric, char or logical),
// kIncompatibleSize (different non-scalar shapes), kBadArgument (power of integers), kWrongType (rem or mod of
// a complex operand), kStackOverflow or kDataStackOverflow (no room for the result). On an error both
// operands stay (possibly converted to their common class).
int arith_elementwise_binary(EngineContext* ctx, int op);

// The principal value of (xr + xi i) ^ (yr + yi i).
void arith_complex_power(double xr, double xi, double yr, double yi, double* out_re,
                         double* out_im);
