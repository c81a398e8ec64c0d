// Indexing: the shape arithmetic of row-major arrays, the decoder that turns
// subscripts (numbers, logical masks, colons) into positions, and the reads of
// instructions 100 (index a value), 102-105 (values of "beginning", "end",
// "matrixrow", "matrixcol") and 109 (index a variable in place). Positions are
// kept in 32 bits; counts, totals and sizes are formed in 64 bits before any
// limit test, and nothing is pushed before the test passed.
//
// Stack layout of an index instruction: the indexed item (a value, or a kind-8
// reference to a variable), then its subscripts, first deepest. A colon has no
// item: bit i of the colon mask marks subscript i as ":". Every handler leaves
// the stacks unchanged when it fails with a type error (kBadIndexType,
// kWrongVariableType, kWrongArgType), so the
// interpreter can hand the operation to an object's method.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kMaxSubscripts = 16;

// --- Shape helpers -------------------------------------------------------------
// dims[k] for k >= ndims reads as 1. Subscripts and positions are 0-based.

// Linear position of an element: 0 for no subscript, subs[0] for one, then
// (page * d0 + subs[0]) * d1 + subs[1] with page folded from the last
// subscript down to the third.
int64_t index_linear_from_subs(int ndims, const uint32_t* dims, int nsubs, const int64_t* subs);

// Inverse of the above for ndims subscripts (ndims 1 copies the position).
void index_subs_from_linear(int ndims, const uint32_t* dims, int64_t linear, int64_t* subs);

// One dimension's lines: element k of line (o, s) lies at
// o * length * stride + k * stride + s. A negative *dim becomes the first
// dimension whose size is above 1 (0 when none) and is written back.
struct DimSplit {
  int64_t outer;
  int64_t stride;
  int64_t length;
};
void shape_split_at_dim(int ndims, const uint32_t* dims, int* dim, DimSplit* out);

// --- Views of arrays -----------------------------------------------------------
// An array value read where it lies (on the data stack or in a heap block):
// a double matrix (kinds 0 and 1) or a typed array (payload subtypes 3 to 5).
enum class ElemClass : uint8_t { Double, Single, Int };

struct ArrayView {
  ElemClass cls;
  bool cplx;
  uint32_t subtype;   // payload subtype; 0 for a matrix
  uint32_t type;      // element type (a matrix reads as 64 or 65)
  uint32_t esize;     // bytes of one element (of one part, for complex)
  int ndims;
  const uint32_t* dims;
  int64_t count;
  uint8_t* re;
  uint8_t* im;        // null unless complex
};

// header: the {kind, a, b} words of the value; data: its data words (which
// number desc_data_words(header)). False when the value is no array or its
// typed header does not fit its data.
bool array_view(const uint32_t* header, uint64_t* data, ArrayView* out);

// --- Decoding --------------------------------------------------------------------

// One subscript position after decoding.
struct IndexSub {
  int64_t count;          // positions selected
  int64_t extent;         // positions it ranges over (grown extent when assigning)
  const int32_t* values;  // 1-based positions of a number subscript, else null
  const uint8_t* mask;    // a logical mask (nonzero selects), else null
  int64_t mask_length;
  int ndims;              // shape of the subscript item (numbers and masks)
  const uint32_t* dims;
};

struct IndexPlan {
  int nsubs;        // positions after a final colon stood for the remaining dims
  uint32_t colon;   // colon bits over those positions
  IndexSub sub[kMaxSubscripts];
  int64_t total;    // product of the counts
  bool linear;      // one subscript: positions over the element count
  bool empty_read;  // a colon on an empty value read: the result is 0 x 0
  // Assignment only: the dims after growth, and whether they differ.
  int grown_ndims;
  int64_t grown[kMaxSubscripts];
  bool grows;
};

struct IndexRequest {
  int ndims = 0;                     // the indexed value; 0 when it does not exist
  const uint32_t* dims = nullptr;
  int rhs_ndims = 0;                 // assignment: the right-hand side's shape
  const uint32_t* rhs_dims = nullptr;
  int nsubs = 0;
  uint32_t colon_mask = 0;
  int above = 0;                     // items above the subscripts
  bool growth = false;               // assignment: positions past the end grow
  bool sort = false;                 // sort number subscripts, duplicates once
};

// Decodes the subscripts that lie at the top of the stack (under `above`
// items) after index_convert_subscripts. Pointers in the plan stay valid
// until an item at or below the subscripts moves. Sorting rewrites the
// subscripts' values in place.
int index_decode(EngineContext* ctx, const IndexRequest& req, IndexPlan* plan);

// Converts the non-colon subscripts (at the top, first deepest) to int32 in
// place, logical masks excepted: kBadIndexType for a non-numeric subscript,
// kNonIntegerIndex for a fraction, kIndexOutOfRange outside the int32 range. With the check flag, subscripts of an
// object or a function value (the item below them, followed through a
// reference) are its arguments and stay as they are. *count receives the
// number of subscript items.
int index_convert_subscripts(EngineContext* ctx, int nsubs, uint32_t colon_mask, int* count,
                             int check_flag);

// Pops n brace subscripts (the last first) into 0-based positions: kBadDimension for
// more than 16, kBadListIndex for a value that is not a numeric scalar,
// kNonIntegerIndex for a fraction, kIndexOutOfRange
// below 1 or from 2147483647. Nothing is popped on an error; *bad (may be null)
// receives the offending subscript for the message when it is a number.
int index_list_subscripts(EngineContext* ctx, int64_t* positions, int n, int64_t* bad);

// Pushes the value of "end" at subscript position k (1-based) of n.
int dim_extent_push(EngineContext* ctx, int k, int n, int ndims, const uint32_t* dims);

// --- Reading -----------------------------------------------------------------------

// Replaces the item under the subscripts and the subscripts by the elements of
// src they select (src may lie in that item, in a heap block or elsewhere that
// pushes do not move). kBadDimension for more than 16 subscripts.
int index_extract_array(EngineContext* ctx, const ArrayView& src, int nsubs, uint32_t colon_mask);

// How an index read treats a function value: not at all, as a call for one
// output, or as a statement call (the statement drops or shows the value, so
// a function without results runs, as `h(x);` with h = @plot must).
enum : int { kIndexNoCall = 0, kIndexCallOne = 1, kIndexCallStatement = 2 };

// The mask argument the interpreter hands to the handlers of instructions 100
// and 109: the instruction's 16 mask bits, and this bit above them when the
// next instruction drops or shows the value read (a statement's pop_item or
// disp).
constexpr uint32_t kIndexReadForStatement = 1u << 16;
inline int index_read_call_kind(uint32_t mask_argument) {
  return (mask_argument & kIndexReadForStatement) ? kIndexCallStatement : kIndexCallOne;
}

// Instruction 100: value(subscripts). Arrays give their selected elements,
// lists and cell arrays the selected elements as a list (a cell array when the
// source is one); with a call kind other than kIndexNoCall a function value is
// called with the subscripts as arguments (no colon allowed). kWrongArgType
// for other values.
int index_extract(EngineContext* ctx, int nsubs, uint32_t colon_mask, int call_kind,
                  int32_t caller_function);

// Instruction 109: the same through a kind-8 reference, read in place in the
// variable's block; 35 naming the variable for a value that cannot be indexed.
// A function value is always called, as call_kind says.
int op_index_get(EngineContext* ctx, int32_t caller_function, int nsubs, uint32_t colon_mask, int call_kind);

// Instructions 102 ("beginning", end_flag 0) and 103 ("end", end_flag 1): the
// indexed item lies `depth` items down; position is 1-based among count.
int op_index_end(EngineContext* ctx, int depth, int position, int count, int end_flag);

// Instructions 104 ("matrixrow", row_flag 1) and 105 ("matrixcol", row_flag 0).
int op_index_matrixrow(EngineContext* ctx, int depth, int position, int count, int row_flag);

// --- Lists and cell arrays ------------------------------------------------------------

// Pushes an int32 array holding the data-word offset of each entry of the list
// or cell array at depth (a cell's size element skipped), relative to the
// container's data, or with the flag to the data-stack base. A cell array's
// offsets take its shape, a list's are 1 x n.
int list_element_offsets(EngineContext* ctx, int depth, int absolute_flag);

// The int32 offsets array on top selects entries (relative offsets) of the
// container at `depth` (counted with the array on the stack); both are
// replaced by a new container of those entries in the array's order: a list,
// or a cell array of the array's shape when the source is a cell array.
int list_build(EngineContext* ctx, int depth);

// Calls a function value lying under its nargin arguments with nargout
// outputs. Installed by the function-value code; until then kNotSupported.
using FunctionValueCaller = int (*)(EngineContext* ctx, int nargin, int nargout);
FunctionValueCaller index_set_function_caller(FunctionValueCaller fn);
