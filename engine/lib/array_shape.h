// Shape arithmetic and element movers shared by the array built-ins: views of
// numeric, char and logical arrays, storage-order subscripts, results in their
// source's class, containers through reference arrays. Storage order, slowest
// axis first, is [n-1, ..., 2, 0, 1]. Internal to the engine base library.
#pragma once

#include <cstdint>

#include "engine/core/containers.h"
#include "engine/core/context.h"

// Longest shape a built-in here builds or reads (arguments may carry more
// dimensions only where a Part says so).
constexpr int kShapeMaxDims = kMaxDims;

// A numeric, char or logical array where it lies on the stack. Pointers stay
// valid while nothing at or below the item is removed or moved (pushes above
// it do not move it).
struct ArrayArg {
  enum Cls : uint8_t { kDouble, kSingle, kInt } cls = kDouble;
  bool plain = false;       // a kind 0/1 matrix
  bool cplx = false;
  uint32_t subtype = 0;     // payload subtype 3, 4 or 5; 0 for a plain matrix
  uint32_t type = 0;        // element type; 64/65 for a plain matrix
  uint32_t esize = 0;       // bytes of one element of one part
  int ndims = 2;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  uint8_t* re = nullptr;
  uint8_t* im = nullptr;    // null unless complex

  int64_t dim(int k) const { return k < ndims ? static_cast<int64_t>(dims[k]) : 1; }
  bool is_char() const { return subtype == kPayChar; }
  bool is_logical() const { return subtype == kPayLogical; }
};

// False for anything that is not a double, single, integer, char or logical
// array (also for a damaged typed header).
bool array_arg(EngineContext* ctx, int depth, ArrayArg* out);

// A list, structure or cell array (not an object).
bool is_plain_container(EngineContext* ctx, int depth);

// The shape of a result, up to kShapeMaxDims sizes in 64 bits.
struct Shape {
  int ndims = 2;
  int64_t d[kShapeMaxDims] = {};
  int64_t dim(int k) const { return k < ndims ? d[k] : 1; }
  int64_t count() const;  // saturating product
};
Shape shape_of(const ArrayArg& a);  // the array's own dims (at most kShapeMaxDims)

// One axis in storage order: element k of line (o, s) lies at
// (o * length + k) * inner + s.
struct AxisSplit {
  int64_t outer;
  int64_t length;
  int64_t inner;
};
AxisSplit axis_split(const Shape& s, int axis);  // axis 0-based; beyond the dims: length 1

// Linear position of 0-based subscripts (n of them, missing ones 0) in a shape.
int64_t linear_from_subs(const Shape& s, const int64_t* subs, int n);

// Pushes an uninitialised array of the class of `proto` (double, single, the
// integer type, char or logical; a plain matrix when a double has at most two
// dimensions) with the given shape. im is set only when cplx and not empty.
// Sizes above the 32-bit range give kObjectTooLarge.
int push_like(EngineContext* ctx, const ArrayArg& proto, const Shape& shape, bool cplx,
              uint8_t** re, uint8_t** im);

// Pushes a result of the class and complexity of src with the given shape,
// whose element at subscripts t (storage order) is src's element map(t), or
// zero where map gives -1.
template <typename Map>
int gather_push(EngineContext* ctx, const ArrayArg& src, const Shape& shape, Map map);

// Reads the numeric array at depth as integers (floating values truncated
// toward zero): kWrongArgType when it is no numeric, char or logical array, kArgOutOfRange when it
// holds more than max entries.
int read_int_vector(EngineContext* ctx, int depth, int64_t* out, int max, int* n);

// Element k of an array as a double (the real part), for any class.
double element_as_double(const ArrayArg& a, int64_t k);

// --- Containers through references -------------------------------------------------
// A list, structure or cell array is worked on as an int32 array of the same
// dimensions whose elements are the data-word indices (from the data-stack
// base) of its entries' headers; the container stays where it is while the
// references are in use. A list is 1 x n (0 x 0 when empty).

// Pushes the references of the list or cell array at depth. kWrongType for other items.
int refs_push(EngineContext* ctx, int depth);

// Builds a container from the int32 reference array on top and pushes it
// above it (the references stay): a list when as_list is set and the shape is
// a row (or empty), else a cell array of the references' shape.
int refs_build(EngineContext* ctx, bool as_list);

// Runs core(ctx, array) on the array or container at depth, where core pushes
// its result on top; a container goes through its references and the result
// is rebuilt as a container of the source's kind. The item at depth and the
// `depth` items above it are then removed under the result.
template <typename Core>
int run_on_array(EngineContext* ctx, int depth, Core core);

// --- Template definitions -------------------------------------------------------------

// Odometer over subscripts in storage order (column fastest, then row, then
// the third and further subscripts).
inline bool subs_next(const Shape& s, int64_t* t) {
  if (s.ndims >= 2 && ++t[1] < s.d[1]) return true;
  if (s.ndims >= 2) t[1] = 0;
  if (++t[0] < s.d[0]) return true;
  t[0] = 0;
  for (int k = 2; k < s.ndims; ++k) {
    if (++t[k] < s.d[k]) return true;
    t[k] = 0;
  }
  return false;
}

template <typename Map>
int gather_push(EngineContext* ctx, const ArrayArg& src, const Shape& shape, Map map) {
  uint8_t *re = nullptr, *im = nullptr;
  TN_TRY(push_like(ctx, src, shape, src.cplx, &re, &im));
  const int64_t n = shape.count();
  if (n == 0) return kOk;
  const uint32_t es = src.esize;
  int64_t t[kShapeMaxDims] = {};
  for (int64_t r = 0; r < n; ++r) {
    const int64_t s = map(static_cast<const int64_t*>(t));
    if (s < 0) {
      for (uint32_t b = 0; b < es; ++b) re[r * es + b] = 0;
      if (im)
        for (uint32_t b = 0; b < es; ++b) im[r * es + b] = 0;
    } else {
      for (uint32_t b = 0; b < es; ++b) re[r * es + b] = src.re[s * es + b];
      if (im)
        for (uint32_t b = 0; b < es; ++b) im[r * es + b] = src.im[s * es + b];
    }
    subs_next(shape, t);
  }
  return kOk;
}

// Removes `count` items under the top one (which keeps its place on top).
int remove_under_top(EngineContext* ctx, int count);

// Replaces the item at depth by a list holding it as its one element; on a
// failure the item stays as it was. unwrap_list undoes it.
int wrap_in_list(EngineContext* ctx, int depth);
void unwrap_list(EngineContext* ctx, int depth);

// Drops the items above descriptor height desc_top: what a failing built-in
// pushed on its way goes again, so that its caller sees nothing changed.
void drop_to(EngineContext* ctx, int32_t desc_top);

template <typename Core>
int run_on_array(EngineContext* ctx, int depth, Core core) {
  ArrayArg a;
  if (array_arg(ctx, depth, &a)) {
    TN_TRY(core(ctx, a));
    return remove_under_top(ctx, depth + 1);
  }
  if (!is_plain_container(ctx, depth)) return kWrongArgType;
  const uint32_t kind = desc_at(ctx, depth)[2];
  // A structure is one entry: it is worked on as a one-element list, and a
  // result of one entry is that structure again.
  if (kind == kContStruct) TN_TRY(wrap_in_list(ctx, depth));
  // Everything up to the rebuilt container is pushed above the argument; a
  // failure drops it again and gives a structure back its own form.
  const int32_t height = ctx->desc_top;
  ArrayArg refs;
  int status = refs_push(ctx, depth);
  if (status == kOk) status = array_arg(ctx, 0, &refs) ? core(ctx, refs) : TN_ILLEGAL();
  if (status == kOk) status = refs_build(ctx, kind != kContCell);
  if (status != kOk) {
    drop_to(ctx, height);
    if (kind == kContStruct) unwrap_list(ctx, depth);
    return status;
  }
  TN_TRY(remove_under_top(ctx, 2));
  TN_TRY(remove_under_top(ctx, depth + 1));
  int32_t entries = 0;
  if (kind == kContStruct && stk_get_container(ctx, 0, &entries, nullptr) == kOk && entries == 1 &&
      desc_at(ctx, 0)[2] == kContList)
    return stk_expand_list(ctx, &entries);
  return kOk;
}
