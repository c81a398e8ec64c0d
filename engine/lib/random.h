// The engine's two random generators: a uniform one (rand) and a normal one
// (randn), each a record {lcg, xs} in the context that belongs to the running
// engine thread. A draw advances both words, so a record fixes its sequence.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Kinds of rand_normal and of the generator-state forms.
enum : int {
  kRandUniform = 'r',
  kRandNormal = 'n',
};

// One uniform draw in [0, 1): a linear congruential word and a xorshift word,
// combined by XOR and scaled by 2^-32.
inline double rand_uniform(RandomState* s) {
  uint32_t lcg = s->lcg * 1664525u + 1013904223u;
  uint32_t xs = s->xs;
  xs ^= xs << 13;
  xs ^= xs >> 17;
  xs ^= xs << 5;
  s->lcg = lcg;
  s->xs = xs;
  return static_cast<double>(xs ^ lcg) * 0x1p-32;
}

// One normal draw from the normal record (kind 'n'), else one uniform draw
// from the uniform record.
double rand_normal(EngineContext* ctx, int kind);

// n draws in storage order from the record of the kind.
void rand_fill(EngineContext* ctx, int kind, double* out, int64_t n);

// The generator-state forms of rand and randn, a string first argument among
// nargin: with one argument the record as the 2 x 1 column [lcg; xs]; with two
// the record is set from a 1- or 2-element matrix (kBadSize otherwise; xs defaults
// to 1 for rand, 2 for randn) and [] is the result; kTooManyInputs for more. The text of
// the string is not examined.
int rand_state(EngineContext* ctx, int kind, int nargin);
