// Sorting: the `sort` intrinsic over the Shell sort kernels, the comparison
// functions of the index sort (one per element class, NaN ranked above every
// number), and the element views that the set functions share with it. No
// built-in here changes its arguments: results are built above them, so an
// error leaves the stacks as they were.
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/core/context.h"
#include "engine/lib/operands.h"

// The record every comparison function receives: element k of the sequence
// is data[k * stride] (imag[k * stride] its imaginary part, when present).
struct SortCmpRec {
  const void* data;
  const void* imag;  // null for real elements
  uint8_t descending;
  int32_t stride;
};

// -1, 0 or 1 with NaN ranked above every number and equal to NaN: the order
// every sort and set function uses for floating values.
inline int32_t cmp_nan_last(double a, double b) {
  if (a < b) return -1;
  if (a > b) return 1;
  const bool na = std::isnan(a), nb = std::isnan(b);
  return na == nb ? 0 : na ? 1 : -1;
}

// cmp(i, j, rec) -> -1, 0 or 1 as element i is less than, equal to or
// greater than element j. The 64-bit forms compare their high words first,
// then their low words unsigned, which is the plain 64-bit comparison.
int32_t sort_cmp_uint8(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_uint16(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_uint32(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_uint64(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_int8(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_int16(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_int32(int32_t i, int32_t j, void* rec);
int32_t sort_cmp_int64(int32_t i, int32_t j, void* rec);
// Singles: by value, or by squared modulus (formed in double) when the
// imaginary parts are given; NaN ranks above every number.
int32_t sort_cmp_single(int32_t i, int32_t j, void* rec);

// The comparison function of an integer element type (chars and logicals
// included); null for any other type.
using SortCmpFn = int32_t (*)(int32_t, int32_t, void*);
SortCmpFn sort_cmp_for_type(uint32_t type);

// A string element of a list or cell: the element (header first) and its
// characters in storage order.
struct StringElem {
  const uint64_t* elem;
  const uint16_t* chars;
  int32_t length;
};
constexpr int64_t kStringElemWords = 3;
static_assert(sizeof(StringElem) <= kStringElemWords * 8);

// Characters compared as unsigned 16-bit codes; the first difference decides,
// and a prefix comes before the longer string.
int32_t string_compare(const StringElem& a, const StringElem& b);
bool string_equal(const StringElem& a, const StringElem& b);
// rec points to the StringElem array.
int32_t sort_cmp_string(int32_t i, int32_t j, void* rec);

// True for a list or a cell array (the containers sort and the sets accept).
bool item_is_list_or_cell(EngineContext* ctx, int depth);
// The element count of the list or cell at depth.
int32_t list_or_cell_count(EngineContext* ctx, int depth);
// Fills elems (count entries) with the elements of the list or cell at
// depth; kWrongType for an element that is not a char array.
int list_string_elems(EngineContext* ctx, int depth, StringElem* elems, int32_t count);
// Pushes a list of copies of the k given elements, in that order.
int push_list_of(EngineContext* ctx, const StringElem* elems, const int32_t* order, int32_t k);

// Pushes an uninitialised array of the class of `like` (double, single, or
// the integer type with its numeric, char or logical subtype) with the given
// dimensions; im is null unless cplx and the array has elements.
int push_array_like(EngineContext* ctx, const NumOperand& like, int ndims, const int32_t* dims,
                    bool cplx, uint8_t** re, uint8_t** im);
// Element size in bytes of a numeric operand's real part.
uint32_t num_elem_bytes(const NumOperand& o);

// A contiguous real line of singles or integers of the operand y's class
// (n elements at p) sorted by value where it lies, stably, with the index
// (positions 1, 2, ... on entry) when given, through room (room_bytes of
// free space): false, the line untouched, when that sort does not take it
// (see sort_typed_line).
bool sort_line_of_type(const NumOperand& y, uint8_t* p, double* index, int64_t n, uint8_t descending,
                       void* room, int64_t room_bytes);

// Pushes scratch space of `words` data words as a plain item (at least one
// word, so the pointer is always usable); kDataStackOverflow when it does not fit.
int push_scratch(EngineContext* ctx, int64_t words, void** p);

// Pushes a 1 x n real row (0 x 0 when n is 0) to be filled by the caller.
int push_index_row(EngineContext* ctx, int64_t n, double** p);

// The stack heights at a built-in's entry. Everything a built-in pushes lies
// above them, so a failure truncates the stacks back to them.
struct StackMark {
  int32_t desc_top;
  int32_t data_top;
};
inline StackMark stack_mark(const EngineContext* ctx) { return {ctx->desc_top, ctx->data_top}; }
inline int fail_to_mark(EngineContext* ctx, StackMark m, int status) {
  ctx->desc_top = m.desc_top;
  ctx->data_top = m.data_top;
  return status;
}

// sort(x), sort(x, dim), sort(x, direction), sort(x, dim, direction) with
// one or two outputs (sorted values on top, the index below). With nargout 0
// the arguments are removed and nothing is done; a statement call (nargout
// negative) gives the sorted values.
int bi_sort(EngineContext* ctx, int nargin, int nargout);

// sort(x) of a variable written into the block of the variable it is
// stored in (see local_result_into).
struct LocalResultHooks;
extern const LocalResultHooks kSortBlockHooks;
