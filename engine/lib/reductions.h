// Reductions along one dimension (sum, prod, mean, var, std, moment,
// skewness, kurtosis, any, all) and accumulations (cumsum, cumprod). The
// dimension is 1-based in the language; the default is the first dimension
// above 1. A failing call leaves its arguments on the stack as they were.
#pragma once

#include "engine/core/context.h"

// Selectors of bi_sum_prod_stats.
enum : int {
  kStatSum = 's',
  kStatProd = 'p',
  kStatMean = 'm',
  kStatVar = 'v',
  kStatStd = 't',
  kStatMoment = 'M',
  kStatSkewness = 'e',
  kStatKurtosis = 'k',
  kCumSum = 0,
  kCumProd = 1,
  kReduceAny = 0,
  kReduceAll = 1,
};

// sum, prod, mean, var, std, moment, skewness, kurtosis (opcodes 178-185) of
// a double array: «f(x)», «f(x, dim)»; «var(x, flag, dim)», «moment(x, order,
// dim)». An empty argument gives 0, 1 or NaN (0x0 with a dimension).
int bi_sum_prod_stats(EngineContext* ctx, int selector, int nargin);

// cumsum, cumprod (opcodes 187, 188): the double array changed in place.
int bi_cumsum_cumprod(EngineContext* ctx, int which, int nargin);

// any, all (opcodes 262, 263) of a double, integer, char or logical array: a
// logical array; an empty argument gives the scalar false (any) or true (all).
int bi_any_all(EngineContext* ctx, int which, int nargin);
