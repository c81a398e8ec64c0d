// Concatenation: cat along any dimension for every class of array and for
// containers, and the bracket operators [A, B] and [A; B] with their
// descriptor-only fast paths for plain double matrices. The result's class is
// the first array's; the arguments stay on the stack until the result is
// built above them.
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/stack_ops.h"

#include "engine/core/convert.h"
#include "engine/core/errors.h"
#include "engine/core/local_queries.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/arrays.h"

namespace {

constexpr int kCatMaxDim = 16;
constexpr int kMaxCatArgs = 1024;  // arrays in one call; more give kTooManyInputs
constexpr char kComplexToIntMessage[] =
    "Complex value concatenated to an integer, char or logical array";

// Value getters answer kWrongType for a wrong kind; built-ins report it as kWrongArgType so the
// interpreter tries an object's method.
int arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

// Raised as kWrongType, not kWrongArgType: the latter would have the
// interpreter convert the operands to double and try again.
int complex_into_int(EngineContext* ctx) {
  err_store(ctx, kWrongType, kComplexToIntMessage, int32_t(sizeof kComplexToIntMessage - 1), true);
  return kWrongType;
}

// The plan of a concatenation along axis q: the result's shape, which
// arguments contribute (empty ones do not) and whether it is complex. ref is
// -1 when every argument is empty.
struct CatPlan {
  int ref = -1;
  Shape result;
  bool keep[kMaxCatArgs] = {};
  bool cplx = false;
};

int cat_plan(int q, const ArrayArg* args, int n, CatPlan* p) {
  for (int i = 0; i < n && p->ref < 0; ++i)
    if (args[i].ndims > 2 || args[i].dim(0) >= 1) p->ref = i;
  if (p->ref < 0) return kOk;
  for (int i = 0; i < n; ++i)
    if (args[i].ndims > kShapeMaxDims) return kArgOutOfRange;
  Shape& result = p->result;
  result = shape_of(args[p->ref]);
  while (result.ndims < q + 1) result.d[result.ndims++] = 1;
  p->keep[p->ref] = true;
  p->cplx = args[p->ref].cplx;
  int64_t total = result.d[q];
  for (int i = p->ref + 1; i < n; ++i) {
    const ArrayArg& a = args[i];
    if ((a.ndims == 2 && a.dim(0) == 0) || a.dim(1) == 0) continue;
    if (a.ndims > result.ndims) return kIncompatibleSize;
    for (int k = 0; k < result.ndims; ++k)
      if (k != q && a.dim(k) != result.d[k]) return kIncompatibleSize;
    p->keep[i] = true;
    total += a.dim(q);
    p->cplx = p->cplx || a.cplx;
  }
  result.d[q] = total;
  return kOk;
}

// Pushes the concatenation of args (in argument order) along axis q, in the
// class of proto.
int cat_core(EngineContext* ctx, int q, const ArrayArg* args, int n, const ArrayArg& proto) {
  CatPlan plan;
  TN_TRY(cat_plan(q, args, n, &plan));
  if (plan.ref < 0) {
    uint8_t *re, *im;
    return push_like(ctx, proto, Shape{2, {0, 0}}, false, &re, &im);
  }
  const Shape& result = plan.result;
  const bool* keep = plan.keep;
  const bool cplx = plan.cplx;
  uint8_t *re = nullptr, *im = nullptr;
  TN_TRY(push_like(ctx, proto, result, cplx, &re, &im));
  if (result.count() == 0) return kOk;
  const AxisSplit split = axis_split(result, q);
  const int64_t es = proto.esize;
  const int64_t slab = split.length * split.inner * es;  // bytes of one outer step
  int64_t at = 0;                                       // byte offset in the first slab
  for (int i = 0; i < n; ++i) {
    if (!keep[i]) continue;
    const ArrayArg& a = args[i];
    const int64_t part = a.dim(q) * split.inner * es;
    for (int64_t o = 0; o < split.outer; ++o) {
      std::memcpy(re + o * slab + at, a.re + o * part, static_cast<size_t>(part));
      if (!im) continue;
      if (a.im)
        std::memcpy(im + o * slab + at, a.im + o * part, static_cast<size_t>(part));
      else
        std::memset(im + o * slab + at, 0, static_cast<size_t>(part));
    }
    at += part;
  }
  return kOk;
}

// Words an item of count elements of es bytes (each part) takes at most,
// with the longest typed header.
int64_t item_words_bound(int64_t count, int64_t es, bool cplx) {
  return (typed_header_bytes(kShapeMaxDims) + count * es * (cplx ? 2 : 1) + 7) / 8;
}

// The shapes fit, and the data stack holds every conversion of an argument
// to the first one's class and the result.
int cat_check_room(EngineContext* ctx, int q, const ArrayArg* args, int n) {
  CatPlan plan;
  TN_TRY(cat_plan(q, args, n, &plan));
  const ArrayArg& first = args[0];
  const bool to_int = first.cls == ArrayArg::kInt;
  const int64_t es = to_int ? first.esize : first.cls == ArrayArg::kSingle ? 4 : 8;
  int64_t need = item_words_bound(plan.ref < 0 ? 0 : plan.result.count(), es, plan.cplx);
  for (int i = 1; i < n; ++i) {
    const ArrayArg& a = args[i];
    const bool converts = to_int ? a.type != first.type : a.cls != first.cls || a.subtype != 0;
    if (converts) need += item_words_bound(a.count, es, a.cplx);
  }
  if (!desc_room(ctx)) return kStackOverflow;
  return need < data_free_words(ctx) ? kOk : kDataStackOverflow;
}

// Containers: each is worked on through its references (a structure as a
// one-element list); the result is a list when every argument is a list and
// it is a row, else a cell array.
int cat_containers_core(EngineContext* ctx, int q, int n, bool all_lists) {
  // Each argument lies n - 1 items down once the references of those before
  // it are pushed.
  for (int i = 0; i < n; ++i) TN_TRY(refs_push(ctx, n - 1));
  ArrayArg refs[kMaxCatArgs];
  for (int i = 0; i < n; ++i)
    if (!array_arg(ctx, n - 1 - i, &refs[i])) return TN_ILLEGAL();
  TN_TRY(cat_core(ctx, q, refs, n, refs[0]));
  return refs_build(ctx, all_lists);
}

int cat_containers(EngineContext* ctx, int q, int n) {
  bool all_lists = true;
  bool wrapped[kMaxCatArgs] = {};
  int status = kOk;
  for (int d = 0; d < n && status == kOk; ++d) {
    const uint32_t sub = desc_at(ctx, d)[2];
    if (sub == kContStruct) status = wrap_in_list(ctx, d);
    wrapped[d] = sub == kContStruct && status == kOk;
    all_lists = all_lists && sub != kContCell;
  }
  // A failure drops what was pushed and gives the structures their own form.
  const int32_t height = ctx->desc_top;
  if (status == kOk) status = cat_containers_core(ctx, q, n, all_lists);
  if (status != kOk) {
    drop_to(ctx, height);
    for (int d = 0; d < n; ++d)
      if (wrapped[d]) unwrap_list(ctx, d);
    return status;
  }
  TN_TRY(remove_under_top(ctx, n + 1));  // the result's references and the arguments'
  return remove_under_top(ctx, n + 1);   // the arguments and dim
}

// [A; B] (axis 0) or [A, B] (axis 1) of two plain double matrices.
int concat_plain(EngineContext* ctx, int axis) {
  uint32_t* da = desc_at(ctx, 1);
  uint32_t* db = desc_at(ctx, 0);
  const uint32_t ra = da[1], ca = da[2], rb = db[1], cb = db[2];
  const bool a_empty = axis == 0 ? ra == 0 : ca == 0;
  const bool b_empty = axis == 0 ? rb == 0 : cb == 0;
  if (a_empty) return remove_under_top(ctx, 1);
  if (b_empty) {
    stk_drop(ctx);
    return kOk;
  }
  if (axis == 0 ? ca != cb : ra != rb) return kIncompatibleSize;
  const bool real = da[0] == kKindReal && db[0] == kKindReal;
  // The data of two real operands already lie in order when stacked
  // vertically, or side by side as one-row matrices.
  if (real && axis == 0) {
    da[1] = ra + rb;
    ctx->desc_top -= 3;
    return kOk;
  }
  if (real && ra == 1) {
    da[2] = ca + cb;
    ctx->desc_top -= 3;
    return kOk;
  }
  ArrayArg args[2];
  array_arg(ctx, 1, &args[0]);
  array_arg(ctx, 0, &args[1]);
  TN_TRY(cat_core(ctx, axis, args, 2, args[0]));
  return remove_under_top(ctx, 2);
}

bool is_typed(const uint32_t* d) {
  return d[0] == kKindPayload && (d[2] == kPayNumeric || d[2] == kPayChar || d[2] == kPayLogical);
}

// [A, B] of two rows or [A; B] of two arrays with as many columns, both
// non-empty 2-D typed arrays of one subtype and one integer, char or logical
// element type: stored row by row, the result's elements are A's followed by
// B's, so B's elements move down behind A's in one block copy and A's header
// takes the new size. Growing a string a character at a time costs one pass
// over the new part instead of several over the whole. False (nothing
// changed) for any other pair.
constexpr uint32_t kTypedDimsByte = 8;  // behind the type and ndims words

bool concat_typed_in_place(EngineContext* ctx, int axis) {
  ArrayArg a, b;
  if (!array_arg(ctx, 1, &a) || !array_arg(ctx, 0, &b)) return false;
  if (a.plain || b.plain || a.cplx || b.cplx || a.cls != ArrayArg::kInt || b.cls != ArrayArg::kInt ||
      a.subtype != b.subtype || a.type != b.type || a.ndims != 2 || b.ndims != 2 || a.count == 0 ||
      b.count == 0)
    return false;
  const bool fits = axis == 0 ? a.dims[1] == b.dims[1] : a.dims[0] == 1 && b.dims[0] == 1;
  if (!fits) return false;
  const uint32_t head = typed_header_bytes(2);
  uint8_t* base = reinterpret_cast<uint8_t*>(item_data(ctx, 1));
  if (a.re != base + head) return false;
  const int64_t a_bytes = a.count * a.esize, b_bytes = b.count * b.esize;
  const int64_t words = (head + a_bytes + b_bytes + 7) / 8;
  if (words > INT32_MAX || int64_t(a.dims[axis]) + b.dims[axis] > INT32_MAX) return false;
  // B's header lies where its elements go: its size is read first.
  const uint32_t grown = a.dims[axis] + b.dims[axis];
  std::memmove(base + head + a_bytes, b.re, static_cast<size_t>(b_bytes));
  std::memset(base + head + a_bytes + b_bytes, 0, static_cast<size_t>(words * 8 - head - a_bytes - b_bytes));
  tn::st_u32(base + kTypedDimsByte + 4 * axis, grown);
  stk_drop(ctx);
  uint32_t* d = desc_at(ctx, 0);
  ctx->data_top += static_cast<int32_t>(words - d[1]);
  d[1] = static_cast<uint32_t>(words);
  return true;
}

int concat_pair(EngineContext* ctx, int axis) {
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  if (desc_at(ctx, 1)[0] == kKindReference) {
    // x = [x item]: the load left a reference to x (local_append_reference).
    bool done = false;
    TN_TRY(local_append_finish(ctx, axis == 0, &done));
    if (done) return kOk;
  }
  const uint32_t* da = desc_at(ctx, 1);
  const uint32_t* db = desc_at(ctx, 0);
  const bool plain_a = da[0] == kKindReal || da[0] == kKindComplex;
  const bool plain_b = db[0] == kKindReal || db[0] == kKindComplex;
  if (plain_a && plain_b) return concat_plain(ctx, axis);
  if (is_typed(da) && is_typed(db) && concat_typed_in_place(ctx, axis)) return kOk;
  if (is_typed(da) || is_typed(db) || is_plain_container(ctx, 0)) {
    TN_TRY(stk_push_real(ctx, axis + 1));
    TN_TRY(stk_move(ctx, 3, 2));  // the dimension beneath the operands
    const int status = bi_cat(ctx, 3);
    if (status != kOk) (void)stk_remove(ctx, 2, 1);  // the operands stay, the dimension goes
    return status;
  }
  return kWrongArgType;
}

}  // namespace

int bi_cat(EngineContext* ctx, int nargin) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin - 1 > kMaxCatArgs) return kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  const int n = nargin - 1;
  double dv = 0;
  TN_TRY(arg_error(stk_get_real_scalar(ctx, n, &dv)));
  const int32_t dim = tn::dtoi32(dv);
  if (dim < 1 || dim > kCatMaxDim) return kBadDimension;
  if (n == 0) {
    stk_drop(ctx);
    return stk_push_empty(ctx);
  }
  if (n == 1) return remove_under_top(ctx, 1);

  if (is_plain_container(ctx, 0)) {
    for (int d = 0; d < n; ++d)
      if (!is_plain_container(ctx, d)) return kWrongArgType;
    return cat_containers(ctx, dim - 1, n);
  }
  ArrayArg args[kMaxCatArgs];
  for (int i = 0; i < n; ++i)
    if (!array_arg(ctx, n - 1 - i, &args[i])) return kWrongArgType;
  const ArrayArg first = args[0];
  // An integer, char or logical result has no imaginary part to keep: a
  // complex argument with elements is refused rather than losing them.
  if (first.cls == ArrayArg::kInt)
    for (int i = 1; i < n; ++i)
      if (args[i].cplx && args[i].count > 0) return complex_into_int(ctx);
  // Shapes and room are settled before any argument is converted to the
  // result's class, so that a failure leaves the arguments as they were.
  TN_TRY(cat_check_room(ctx, dim - 1, args, n));
  // The first array decides the class.
  if (first.cls == ArrayArg::kInt) {
    for (int d = 0; d < n - 1; ++d) {
      ArrayArg a;
      array_arg(ctx, d, &a);
      if (a.type == first.type) continue;
      TN_TRY(arg_error(stk_convert_to_int(ctx, d, static_cast<int>(first.esize),
                                          (first.type & kElemUnsigned) ? 1 : 0, 0)));
    }
  } else {
    TN_TRY(arg_error(stk_convert_to_double(ctx, ~(n - 1), first.cls == ArrayArg::kSingle, nullptr)));
  }
  for (int i = 0; i < n; ++i) array_arg(ctx, n - 1 - i, &args[i]);
  TN_TRY(cat_core(ctx, dim - 1, args, n, args[0]));
  return remove_under_top(ctx, nargin);
}

int bi_horzcat(EngineContext* ctx) { return concat_pair(ctx, 1); }
int bi_vertcat(EngineContext* ctx) { return concat_pair(ctx, 0); }
