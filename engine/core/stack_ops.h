// General value-stack operations: item sizes, the flat item buffer form,
// scratch space, and removing, rotating, reversing and duplicating items.
// Every operation tests all it needs before its first change to the stacks.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Words of the flat item buffer ahead of the item's data: kind, a, b.
constexpr int kFlatHeaderWords = 3;

int stk_item_words(EngineContext* ctx, int depth, int64_t* n);
int stk_descriptor_as_doubles(EngineContext* ctx, int depth, double* buffer);
int stk_push_descriptor(EngineContext* ctx, const double* buffer);
int stk_reserve_top(EngineContext* ctx, int64_t n, void** pointer);
// The top item, a real double matrix, keeps its first rows * cols elements
// as a rows x cols matrix (a result computed in place of its argument);
// kBadArgument when the top is no such matrix or would grow.
int stk_shrink_top_matrix(EngineContext* ctx, int32_t rows, int32_t cols);
// The same for a two-dimensional typed array on top (singles, integers,
// characters, logicals): the bytes past its new end in its last word are
// cleared.
int stk_shrink_top_typed(EngineContext* ctx, int32_t rows, int32_t cols);
// Pushes a double array of the given shape under the top item, whose data
// moves up past the new array's (one copy; its descriptor is unchanged). The
// new elements are left for the caller. Fails, changing nothing, without
// room for both.
int stk_push_double_under_top(EngineContext* ctx, int ndims, const int32_t* dims, double** re);
int stk_free_space(EngineContext* ctx, int64_t* bytes, void** pointer);
int stk_remove(EngineContext* ctx, int depth, int count);
int stk_move(EngineContext* ctx, int n, int k);
int stk_reverse(EngineContext* ctx, int n);
int stk_dup(EngineContext* ctx, int depth, int count);
