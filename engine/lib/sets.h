// The set intrinsics: unique, union, intersect, setdiff, setxor, ismember,
// over numeric arrays of every class and over lists (or cells) of strings.
// Each leaves its arguments untouched until its results stand above them,
// so an error leaves the stacks as they were.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// [b, i, j] = unique(x): the distinct values in ascending order (every NaN
// kept), i the position of each value's first occurrence, j the position in
// b of every element of x. A row stays a row; any other array gives a column.
int bi_unique(EngineContext* ctx, int nargout);

// Two operands (a deeper, b on top), compared in a's class: b is converted
// to it as concatenation would. Index outputs are 1 x k rows of positions.
// union: the values of either, a column; ia, ib where each first occurs
// (ib only for values not in a).
int bi_union(EngineContext* ctx, int nargout);
// intersect: the values of both, a column; ia, ib their first occurrences.
int bi_intersect(EngineContext* ctx, int nargout);
// setdiff: the values of a not in b, oriented as unique(a); ia.
int bi_setdiff(EngineContext* ctx, int nargout);
// setxor: the values of exactly one, a column; ia, ib.
int bi_setxor(EngineContext* ctx, int nargout);
// ismember(x, s): a logical array of x's dimensions, true where the element
// of x occurs in s.
int bi_ismember(EngineContext* ctx);

// --- Interpreter binding -------------------------------------------------------------
// sort and the set intrinsics in the interpreter's handler shape: selector =
// the opcode, then nargin and nargout as the interpreter passes them to every
// intrinsic (the operand words where a count varies, the fixed count
// otherwise). ismember takes neither.
int op_sort_sets(EngineContext* ctx, int32_t selector, int nargin, int nargout, int unused);

// tf = ismember(x, s) of two variables written into tf's block (see
// local_result_into).
struct LocalResultHooks;
extern const LocalResultHooks kIsmemberBlockHooks;
constexpr int kSortSetOpcodeCount = 7;
extern const uint16_t kSortSetOpcodes[kSortSetOpcodeCount];
