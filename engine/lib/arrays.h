// The intrinsics that rearrange arrays without computing new values:
// concatenation, reshaping, permutation, flips, rotations, index conversions,
// diagonal and triangular parts, replication, grids, differences, Kronecker
// products. Each replaces its arguments (the last on top) by its result;
// objects give kWrongArgType so the interpreter can call their methods.
#pragma once

#include "engine/core/context.h"

// cat(dim, A1, A2, ...): the class of the result is the FIRST array's (every
// other one is converted to it, integers truncating and wrapping); empty
// arrays are skipped; kBadDimension for dim outside 1..16, kIncompatibleSize for sizes that differ off
// dim, kWrongArgType for arguments of other kinds. Lists, structures and cell arrays
// concatenate into a list (a row of lists and structures) or a cell array.
int bi_cat(EngineContext* ctx, int nargin);

// [A, B] and [A; B]: plain double matrices directly (an operand with no
// columns, resp. no rows, is dropped), every other pair through cat.
int bi_horzcat(EngineContext* ctx);
int bi_vertcat(EngineContext* ctx);

// reshape(A, d1, d2, ...), reshape(A, dims), reshape(A) with nargin >= 1;
// squeeze(A) with nargin -1. One size given as [] is computed; more than one
// gives kBadSize, as does a product that differs from A's element count.
constexpr int kSqueeze = -1;
int bi_reshape(EngineContext* ctx, int nargin);

// permute(A, order) (inverse 0) and ipermute(A, order) (inverse 1): kNotPermutation when
// order is not a permutation of 1..length(order), kArgOutOfRange when longer than 16.
int bi_permute(EngineContext* ctx, int inverse);

// sub2ind(siz, i1, i2, ...) with 2 to 17 arguments; linear indices are
// row-major (sub2ind([2 3], 1, 2) is 2). Subscripts are not checked.
int bi_sub2ind(EngineContext* ctx, int nargin);
// [s1, s2, ...] = ind2sub(siz, ind): the first output on top; kBadSize for a 0 in
// siz, kTooManyOutputs beyond 16 outputs, kTooFewOutputs for fewer outputs than entries of siz.
int bi_ind2sub(EngineContext* ctx, int nargout);

// fliplr(A); flipud(A) (selector kFlipUd) and flipdim(A, d) (selector kFlipDim).
int bi_fliplr(EngineContext* ctx);
enum : int { kFlipDim = 0, kFlipUd = 1 };
int bi_flipud(EngineContext* ctx, int selector);
// rot90(A), rot90(A, k): k counterclockwise quarter turns of every page.
int bi_rot90(EngineContext* ctx, int nargin);

// diag(X), diag(X, k).
int bi_diag(EngineContext* ctx, int nargin);
// tril (which 'l') and triu (which 'u') with an optional diagonal offset.
enum : int { kTril = 'l', kTriu = 'u' };
int bi_tril(EngineContext* ctx, int which, int nargin);
// repmat(A, n), repmat(A, [r1 ... rm]), repmat(A, m, n).
int bi_repmat(EngineContext* ctx, int nargin);
// ndgrid (mesh 0) and meshgrid (mesh 1); the first output on top.
int bi_ndgrid(EngineContext* ctx, int nargin, int nargout, int mesh);
// diff(X), diff(X, n), diff(X, n, dim) of double arrays.
int bi_diff(EngineContext* ctx, int nargin);
// d = diff(x) of a variable written into d's block (see local_result_into).
struct LocalResultHooks;
extern const LocalResultHooks kDiffBlockHooks;
// kron(A, B) of plain double matrices.
int bi_kron(EngineContext* ctx);
