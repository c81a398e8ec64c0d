// The intrinsics that build, test and take apart lists, cell arrays and
// structures. Each works on its nargin arguments on top of the value stack
// (the first deepest), leaves its outputs in their place (the first output on
// top) and returns a status; on an error the arguments stay on the stack.
#pragma once

#include "engine/core/context.h"

// islist (kIsList: lists only) and iscell (kIsCell: lists and cell arrays).
enum : int { kIsList = 0, kIsCell = 1 };
int bi_iscell(EngineContext* ctx, int which);
// isstruct: true for a structure, not for an object.
int bi_isstruct(EngineContext* ctx);

// num2cell(A [, dims]): a cell array of A's elements, or of the sub-arrays
// spanning the given dimensions. num2list(A [, dim]): a list of A's elements
// in storage order, or of its slices along dim. A is a numeric, char or
// logical array (kWrongArgType); dimension numbers below 1 give kBadDimension; A with more than 16
// dimensions gives kArgOutOfRange; an empty A gives an empty list.
int bi_num2cell(EngineContext* ctx, int nargin);
int bi_num2list(EngineContext* ctx, int nargin);

// list2num(l): the entries of a list or cell array concatenated as by
// horzcat, from the first; 0 x 0 for an empty list.
int bi_list2num(EngineContext* ctx);

// replist(x, n): the list x repeated n times; an empty list for n <= 0.
int bi_replist(EngineContext* ctx);

// struct(name1, value1, ...): a structure with those fields in argument
// order; struct(s) of a structure or object gives a plain structure.
int bi_struct(EngineContext* ctx, int nargin);

// isfield(s, name), getfield(s, name), setfield(s, name, v), rmfield(s,
// names), fieldnames(s). getfield and setfield also take an object, whose
// fields only its own class's methods may see (kPrivateField otherwise).
int bi_isfield(EngineContext* ctx);
int bi_getfield(EngineContext* ctx);
int bi_setfield(EngineContext* ctx);
int bi_rmfield(EngineContext* ctx);
int bi_fieldnames(EngineContext* ctx);

// [s, perm] = orderfields(s [, order]): fields sorted by name (bytes), or in
// the order of a permutation vector, a list of names or another structure's
// fields. kBadSize for a count that differs, kNonIntegerArg a non-integer position, kNotPermutation a
// vector that is no permutation, kBadArgument a name that is no field, kWrongType another kind
// of order. perm is a column of 1-based positions.
int bi_orderfields(EngineContext* ctx, int nargin, int nargout);
