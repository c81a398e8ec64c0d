// Reads of a local value done where it lies, without copying it onto the
// stack (see local_queries.cpp).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// When the instruction at query (code ending at end, area starting at base)
// is numel, length, ndims, isempty or one-output size of one argument, and
// heap block `block` holds an array, list or cell array, pushes the query's
// answer for that value, sets the position past the query and answers true.
// For class, iscell, islist, isstruct and isobject of an array, list,
// struct or cell array, and for isfield of a struct with a text constant,
// pushes an empty stand-in of the value's class (with its field names for
// isfield) in place of the load and sets the position at the query, which
// then runs as it is. False, with nothing changed, for anything else.
bool local_shape_query(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                       const uint8_t* base);

// When the load at `load` of local k (holding heap block `block`, a matrix)
// is followed by two size operands, reshape of three arguments and the store
// into k, gives the block the new sizes, sets the position past the store
// and answers true. False, with nothing changed, otherwise (the instructions
// then run as they are).
bool local_reshape_in_place(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                            const uint8_t* base);

// When the instruction at query is the transpose (.') and heap block
// `block` holds a real or complex matrix, pushes the matrix transposed,
// sets the position past the transpose and answers true; false otherwise.
bool local_transpose(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                     const uint8_t* base);

// When the load at `load` of local k (holding heap block `block`, a
// non-empty real row or a typed integer, char or logical row) is followed by
// the push of one more such row of its class (a text constant, a small
// number, another local), horzcat and the store into k, appends that row to
// the block where it lies, sets the position past the store and answers
// true: the value is the one the instructions would store. False, with
// nothing changed, otherwise.
bool local_append_in_place(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                           const uint8_t* base);

// When the load at `load` of local k (holding heap block `block`, a real
// row, or a typed integer, char or logical row; a column for vertcat) is
// followed by code that computes one item without writing anything or
// jumping, the concatenation of the two (horzcat, or vertcat) and the store
// into k, pushes a reference to k in place of the copy, sets the position
// past the load and answers true: the concatenation finishes the append
// (local_append_finish). False, with nothing changed, otherwise.
bool local_append_reference(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                            const uint8_t* base);

// The concatenation (vertical: vertcat) of the value a reference at depth 1
// stands for with the item on top, as the reference's load arranged: when
// the store into the variable follows and the item is a row (column) of the
// variable's class, the item is appended in the variable's block, both items
// are dropped, the position passes over the store and *done is set. Else
// the reference is replaced by a copy of the value (3 when it does not fit)
// and the concatenation runs as it is.
int local_append_finish(EngineContext* ctx, bool vertical, bool* done);

// Built-ins whose result is written from variables' blocks into the block
// of the variable it is stored in, given by the base library (the core
// knows no class's order). args: the arguments' header words and data
// (one, or two for ismember). takes: whether the call takes them there,
// with room for its scratch space past pushed_words more words on the data
// stack; the result's header goes to result[0..2], and result[3] is the
// hook's own (what takes found, for write). write: writes the result to
// dst (the first argument's own data when the variable is stored in its
// own block: sort alone), and for sort's second output the positions to
// index; it cannot fail once takes has answered true.
struct LocalArg {
  uint32_t* h;
  uint64_t* data;
};
struct LocalResultHooks {
  bool (*takes)(EngineContext* ctx, const LocalArg* args, int64_t pushed_words, uint32_t* result);
  void (*write)(EngineContext* ctx, const LocalArg* args, const uint32_t* result, uint64_t* dst, double* index,
                uint8_t descending);
};
// Installs the hooks of opcode kOpSort, kOpDiff or kOpIsmember for every
// engine of the process, at start-up.
void local_result_install(uint16_t opcode, const LocalResultHooks* hooks);

// When the load at `load` of local k (holding heap block `block`, a real
// array) is followed by sort with one output, or two for a matrix (after a
// direction constant, or none), by diff of it alone, or by the load of
// another local and ismember of the two, and the stores of the outputs
// into other locals than k's positions, writes the result in the block the
// first store would fill (k's own for «x = sort(x)»), the positions in the
// block the second would fill, sets the position past the stores and
// answers true: the values are the ones the instructions would store.
// False, with nothing changed, otherwise.
bool local_result_into(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                       const uint8_t* base);

// The six above, tried in turn on the load of a local at `load`.
inline bool local_read_in_place(EngineContext* ctx, const uint16_t* load, const uint16_t* end, int32_t block,
                                const uint8_t* base) {
  return local_shape_query(ctx, load + 2, end, block, base) || local_transpose(ctx, load + 2, end, block, base) ||
         local_reshape_in_place(ctx, load, end, block, base) || local_append_in_place(ctx, load, end, block, base) ||
         local_append_reference(ctx, load, end, block, base) || local_result_into(ctx, load, end, block, base);
}
