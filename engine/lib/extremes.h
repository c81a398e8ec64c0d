// Extremes and search: min and max (elementwise between two arrays, or along
// a dimension with the positions of the extremes), find and nnz. NaN loses
// against every number; positions and indices are 1-based, in storage order
// (row-major). A failing call leaves its arguments on the stack as they were.
#pragma once

#include "engine/core/context.h"

enum : int {
  kExtremeMin = 0,
  kExtremeMax = 1,
};

// min, max (opcodes 264, 265): «f(a, b)», «f(x)», «f(x, [], dim)»; with two
// outputs the extremes (first, on top) and their positions along the dimension.
int bi_min_max(EngineContext* ctx, int which, int nargin, int nargout);

// find (opcode 268): «find(x)», «find(x, n)», «find(x, n, 'first' | 'last')»;
// one output the linear indices, two the rows and columns, three the values
// as well. NaN counts as nonzero.
int bi_find(EngineContext* ctx, int nargin, int nargout);

// nnz (opcode 269): the number of nonzero elements as a double scalar.
int bi_nnz(EngineContext* ctx);
