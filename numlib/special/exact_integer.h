// Exact non-negative integers of up to kExactIntegerLimbs 32-bit limbs, for
// factorials and binomial coefficients that must come out correctly rounded.
// Fixed storage and no allocation; an overflowing product sets the overflow
// flag, which the conversion to double reports as +Inf.
#pragma once

#include <cstdint>

// 1,280 bits: every finite double's integer part fits with room to spare.
constexpr int kExactIntegerLimbs = 40;
static_assert(kExactIntegerLimbs * 32 > 1024 + 64, "room above the largest finite double");

struct ExactInteger {
  uint32_t limb[kExactIntegerLimbs];  // least significant first
  int used;                           // limbs in use, 0 for the value 0
  bool overflow;
};

// x := v.
void exact_set(ExactInteger* x, uint64_t v);
// x := x * m (sets the overflow flag when the product no longer fits).
void exact_mul(ExactInteger* x, uint64_t m);
// x := x / d for d > 0; the remainder is returned (0 for an exact division).
uint64_t exact_div(ExactInteger* x, uint64_t d);
// The value rounded to the nearest double (ties to even); +Inf beyond the
// largest double or after an overflow.
double exact_to_double(const ExactInteger* x);
