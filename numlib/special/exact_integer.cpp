// Exact non-negative integers in fixed limbs: multiplication and exact
// division by a 64-bit number, and correctly rounded conversion to double.
// The limbs above `used` are never read, so the structure needs no clearing.
#include "numlib/special/exact_integer.h"

#include <cmath>
#include <limits>

namespace {

constexpr int kLimbBits = 32;
constexpr int kDoubleMantissa = 53;

int bit_length(const ExactInteger* x) {
  if (x->used == 0) return 0;
  uint32_t top = x->limb[x->used - 1];
  int bits = 0;
  while (top) {
    ++bits;
    top >>= 1;
  }
  return (x->used - 1) * kLimbBits + bits;
}

bool bit_at(const ExactInteger* x, int i) {
  return (x->limb[i / kLimbBits] >> (i % kLimbBits)) & 1u;
}

bool any_bit_below(const ExactInteger* x, int i) {
  for (int k = 0; k < i / kLimbBits; ++k)
    if (x->limb[k]) return true;
  const int rest = i % kLimbBits;
  return rest && (x->limb[i / kLimbBits] & ((1u << rest) - 1)) != 0;
}

}  // namespace

void exact_set(ExactInteger* x, uint64_t v) {
  x->used = 0;
  x->overflow = false;
  while (v) {
    x->limb[x->used++] = static_cast<uint32_t>(v);
    v >>= kLimbBits;
  }
}

void exact_mul(ExactInteger* x, uint64_t m) {
  if (x->overflow) return;
  unsigned __int128 carry = 0;
  for (int i = 0; i < x->used; ++i) {
    unsigned __int128 p = static_cast<unsigned __int128>(x->limb[i]) * m + carry;
    x->limb[i] = static_cast<uint32_t>(p);
    carry = p >> kLimbBits;
  }
  while (carry) {
    if (x->used == kExactIntegerLimbs) {
      x->overflow = true;
      return;
    }
    x->limb[x->used++] = static_cast<uint32_t>(carry);
    carry >>= kLimbBits;
  }
  if (m == 0) x->used = 0;
}

uint64_t exact_div(ExactInteger* x, uint64_t d) {
  unsigned __int128 rem = 0;
  for (int i = x->used - 1; i >= 0; --i) {
    unsigned __int128 cur = (rem << kLimbBits) | x->limb[i];
    x->limb[i] = static_cast<uint32_t>(cur / d);
    rem = cur % d;
  }
  while (x->used > 0 && x->limb[x->used - 1] == 0) --x->used;
  return static_cast<uint64_t>(rem);
}

double exact_to_double(const ExactInteger* x) {
  if (x->overflow) return std::numeric_limits<double>::infinity();
  const int bits = bit_length(x);
  if (bits == 0) return 0.0;
  // The top 53 bits, then round to nearest on the bits below, ties to even.
  const int shift = bits > kDoubleMantissa ? bits - kDoubleMantissa : 0;
  uint64_t mant = 0;
  for (int i = bits - 1; i >= shift; --i) mant = (mant << 1) | (bit_at(x, i) ? 1u : 0u);
  if (shift > 0) {
    const bool half = bit_at(x, shift - 1);
    const bool sticky = any_bit_below(x, shift - 1);
    if (half && (sticky || (mant & 1u))) ++mant;  // may carry to 2^53: still exact
  }
  return std::ldexp(static_cast<double>(mant), shift);
}
