// Reading by subscripts: element extraction from arrays wherever they lie,
// selection of list and cell entries, the in-place read of a variable through
// its reference, and the values of the index pseudo-variables. Scalar
// subscripts into real double matrices take a fast path that converts and
// allocates nothing; everything else decodes, checks the result's size, then
// builds the result above its operands and removes them.
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/element_layout.h"
#include "engine/core/entry_finger.h"
#include "engine/core/errors.h"
#include "engine/core/scalar_subscripts.h"
#include "engine/core/index_walk.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "engine/core/var_blocks.h"

namespace {

constexpr int32_t kNoArgument = -1;
constexpr int kOneOutput = 1;
constexpr int kStatementCall = -1;  // the output count of a call made as a statement

FunctionValueCaller g_function_caller = nullptr;

int stack_subs(int nsubs, uint32_t colon_mask) {
  const uint32_t low = nsubs >= 32 ? ~0u : (1u << nsubs) - 1;
  return nsubs - std::popcount(colon_mask & low);
}

bool is_function_value(const uint32_t* h) {
  return h[0] == kKindPayload && (h[2] == kPayInline || h[2] == kPayFuncRef);
}

// Values that parenthesis subscripts can read: arrays, lists, cell arrays
// and function values (which are called).
bool indexable(const uint32_t* h) {
  if (h[0] == kKindReal || h[0] == kKindComplex) return true;
  if (h[0] == kKindPayload) return (h[2] >= kPayInline && h[2] <= kPayLogical);
  return h[0] == kKindContainer && (h[2] == kContList || h[2] == kContCell);
}

int call_function_value(EngineContext* ctx, int nargin, int call_kind) {
  if (!g_function_caller) return kNotSupported;
  return g_function_caller(ctx, nargin, call_kind == kIndexCallStatement ? kStatementCall : kOneOutput);
}

// The fast path: one or two real scalar subscripts, in range and integral,
// into a real double matrix. False sends the read down the general path,
// which also reports every error.
bool scalar_offset(EngineContext* ctx, const uint32_t* h, int nsubs, int64_t* off) {
  if (h[0] != kKindReal) return false;
  double s[2] = {0.0, 0.0};
  for (int i = 0; i < nsubs; ++i) {
    const uint32_t* d = desc_at(ctx, nsubs - 1 - i);
    if (d[0] != kKindReal || d[1] != 1 || d[2] != 1) return false;
    s[i] = tn::ld_f64(item_data(ctx, nsubs - 1 - i));
  }
  return scalar_subscript_offset(h, nsubs, s[0], nsubs == 2 ? s[1] : 0.0, off);
}

// Drops the subscripts and puts the real scalar v in place of the item under
// them, reusing its data words (an item under scalar subscripts has at least one).
void replace_with_scalar(EngineContext* ctx, int nsubs, double v) {
  for (int i = 0; i < nsubs; ++i) stk_drop(ctx);
  uint32_t* d = desc_at(ctx, 0);
  const int32_t at = item_data_index(ctx, 0);
  tn::st_f64(data_words(ctx) + at, v);
  ctx->data_top = at + 1;
  d[0] = kKindReal;
  d[1] = 1;
  d[2] = 1;
}

template <int kSize>
void copy_part(const uint8_t* from, uint8_t* to, const IndexPlan& p, const int64_t* strides) {
  IndexWalk w;
  w.start(p, strides);
  for (int64_t i = 0; i < p.total; ++i, w.next()) std::memcpy(to + kSize * i, from + kSize * w.offset(), kSize);
}

void copy_selected_part(const uint8_t* from, uint8_t* to, uint32_t size, const IndexPlan& p,
                        const int64_t* strides) {
  switch (size) {
    case 1: copy_part<1>(from, to, p, strides); break;
    case 2: copy_part<2>(from, to, p, strides); break;
    case 4: copy_part<4>(from, to, p, strides); break;
    default: copy_part<8>(from, to, p, strides); break;
  }
}

// Selects entries of a list or cell array (lying anywhere pushes do not move)
// by the subscripts on top; the result replaces them and the k + 1 items
// from the indexed one up. A list gives a list, a cell array a cell array of
// the selection's shape. The entries' offsets are those of `known` (a
// variable's container's index, left alone by what runs here) or a table
// pushed for the selection (an empty one beside known, so that the stack
// holds the same items either way).
int select_entries(EngineContext* ctx, const Entries& src, int nsubs, uint32_t colon_mask, int k,
                   const int32_t* known = nullptr) {
  if (nsubs > kMaxSubscripts) return kBadDimension;
  const int32_t table_dims[2] = {1, known ? 0 : int32_t(src.count)};
  void* table = nullptr;
  TN_TRY(stk_push_typed_array(ctx, 2, table_dims, 4, 0, &table));
  if (src.count > 0 && !known) entry_offsets(src, static_cast<int32_t*>(table));
  const auto* offsets = known ? known : static_cast<const int32_t*>(table);

  IndexRequest req;
  req.ndims = src.ndims;
  req.dims = src.dims;
  req.nsubs = nsubs;
  req.colon_mask = colon_mask;
  req.above = 1;
  IndexPlan p;
  int status = index_decode(ctx, req, &p);
  int32_t dims[kMaxSubscripts];
  int nd = 0;
  if (status == kOk) {
    selection_shape(p, src.ndims, src.dims, dims, &nd);
    cell_shape_rules(dims, &nd);
    if (p.total > kMaxTypedElements) status = kObjectTooLarge;
  }
  int64_t strides[kMaxSubscripts];
  int64_t words = src.cell ? kElemHeaderWords + cell_size_words(nd) : 0;
  if (status == kOk && p.total > 0) {
    plan_strides(p, src.ndims, src.dims, strides);
    IndexWalk w;
    w.start(p, strides);
    for (int64_t i = 0; i < p.total; ++i, w.next()) words += elem_total_words(src.first + offsets[w.offset()]);
  }
  if (status == kOk && words > INT32_MAX) status = kObjectTooLarge;
  if (status == kOk && !desc_room(ctx)) status = kStackOverflow;
  if (status == kOk && words > data_free_words(ctx)) status = kDataStackOverflow;
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  uint64_t* out = stk_claim(ctx, kKindContainer, uint32_t(words), src.cell ? kContCell : kContList,
                            uint32_t(words));
  if (src.cell) {
    write_cell_sizes(out, dims, nd);
    out += elem_total_words(out);
  }
  if (p.total > 0) {
    IndexWalk w;
    w.start(p, strides);
    for (int64_t i = 0; i < p.total; ++i, w.next()) {
      const uint64_t* e = src.first + offsets[w.offset()];
      const uint32_t n = elem_total_words(e);
      std::memcpy(out, e, size_t(n) * 8);
      out += n;
    }
  }
  return stk_remove(ctx, 1, k + 2);
}

// The shape "end" and its kin see: an array's dims, a list as a row, a cell
// array's sizes; the item may be a reference, read in its block.
int indexed_shape(EngineContext* ctx, int depth, int* nd, const uint32_t** dims, uint32_t* list_dims) {
  if (!stk_has_item(ctx, depth)) return TN_ILLEGAL();
  const uint32_t* h = desc_at(ctx, depth);
  uint64_t* data = item_data(ctx, depth);
  int32_t slot = kNoArgument;
  VarRef r{};
  bool is_ref = false;
  if (h[0] == kKindReference) {
    is_ref = true;
    if (!ref_at(ctx, depth, &r)) return TN_ILLEGAL();
    uint64_t* e = ref_element(ctx, r);
    h = reinterpret_cast<const uint32_t*>(e);
    data = elem_data(e);
    slot = r.slot;
  }
  ArrayView v;
  if (array_view(h, data, &v)) {
    *nd = v.ndims;
    *dims = v.dims;
    return kOk;
  }
  if (h[0] == kKindContainer && (h[2] == kContList || h[2] == kContCell)) {
    // A variable's container answers end through the entry finger.
    Entries ent;
    if (!(is_ref ? block_entries(ctx, r.block, r.offset, &ent) : container_entries(h, data, &ent)))
      return TN_ILLEGAL();
    list_dims[0] = ent.dims[0];
    list_dims[1] = ent.dims[1];
    *nd = ent.ndims;
    *dims = ent.cell ? ent.dims : list_dims;
    return kOk;
  }
  if (slot >= 0) return err_raise_code(ctx, kWrongVariableType, slot, 0, kNoArgument, nullptr);
  return kWrongVariableType;
}

}  // namespace

// The largest result an element class may have: typed integer arrays stop at
// their element limit (3), double and single arrays at theirs (109).
int check_result_size(ElemClass cls, int64_t total) {
  if (cls == ElemClass::Int) return total > kMaxTypedElements ? kDataStackOverflow : kOk;
  return total > kMaxNdElements ? kObjectTooLarge : kOk;
}

// Pushes an uninitialised array of src's element kind and the given shape.
int push_array_like(EngineContext* ctx, const ArrayView& src, bool cplx, int nd, const int32_t* dims,
                    ArrayView* out) {
  // An empty array is never complex.
  int64_t count = 1;
  for (int k = 0; k < nd; ++k) count = tn::mul64(count, dims[k] < 0 ? 0 : dims[k]);
  cplx = cplx && count > 0;
  switch (src.cls) {
    case ElemClass::Double: {
      double *re, *im = nullptr;
      TN_TRY(stk_push_double_nd(ctx, nd, dims, &re, cplx ? &im : nullptr));
      break;
    }
    case ElemClass::Single: {
      float *re, *im = nullptr;
      TN_TRY(stk_push_single_nd(ctx, nd, dims, &re, cplx ? &im : nullptr));
      break;
    }
    case ElemClass::Int: {
      void* data;
      TN_TRY(stk_push_typed_array(ctx, nd, dims, int(src.esize), (src.type & kElemUnsigned) ? 1 : 0, &data));
      desc_at(ctx, 0)[2] = src.subtype;
      break;
    }
  }
  array_view(desc_at(ctx, 0), item_data(ctx, 0), out);
  return kOk;
}

FunctionValueCaller index_set_function_caller(FunctionValueCaller fn) {
  FunctionValueCaller old = g_function_caller;
  g_function_caller = fn;
  return old;
}

int index_extract_array(EngineContext* ctx, const ArrayView& src, int nsubs, uint32_t colon_mask) {
  if (nsubs > kMaxSubscripts) return kBadDimension;
  IndexRequest req;
  req.ndims = src.ndims;
  req.dims = src.dims;
  req.nsubs = nsubs;
  req.colon_mask = colon_mask;
  IndexPlan p;
  TN_TRY(index_decode(ctx, req, &p));
  int32_t dims[kMaxSubscripts];
  int nd = 0;
  selection_shape(p, src.ndims, src.dims, dims, &nd);
  TN_TRY(check_result_size(src.cls, p.total));
  ArrayView out;
  TN_TRY(push_array_like(ctx, src, src.cplx, nd, dims, &out));
  if (p.total > 0) {
    int64_t strides[kMaxSubscripts];
    plan_strides(p, src.ndims, src.dims, strides);
    copy_selected_part(src.re, out.re, src.esize, p, strides);
    if (src.cplx && out.im) copy_selected_part(src.im, out.im, src.esize, p, strides);
  }
  return stk_remove(ctx, 1, stack_subs(nsubs, colon_mask) + 1);
}

int index_extract(EngineContext* ctx, int nsubs, uint32_t colon_mask, int call_kind, int32_t caller_function) {
  if (colon_mask == 0 && (nsubs == 1 || nsubs == 2) && stk_has_item(ctx, nsubs)) {
    const uint32_t* h = desc_at(ctx, nsubs);
    int64_t off;
    if (scalar_offset(ctx, h, nsubs, &off)) {
      replace_with_scalar(ctx, nsubs, tn::ld_f64(item_data(ctx, nsubs) + off));
      return kOk;
    }
  }
  int k = stack_subs(nsubs, colon_mask);
  if (nsubs < 0 || !stk_has_item(ctx, k)) return TN_ILLEGAL();
  if (desc_at(ctx, k)[0] == kKindReference) {
    return op_index_get(ctx, caller_function, nsubs, colon_mask,
                        call_kind == kIndexNoCall ? kIndexCallOne : call_kind);
  }
  // A value that cannot be indexed fails before its subscripts are touched.
  if (!indexable(desc_at(ctx, k))) return kWrongArgType;
  TN_TRY(index_convert_subscripts(ctx, nsubs, colon_mask, &k, 1));
  const uint32_t* h = desc_at(ctx, k);
  ArrayView v;
  if (array_view(h, item_data(ctx, k), &v)) return index_extract_array(ctx, v, nsubs, colon_mask);
  if (call_kind != kIndexNoCall && colon_mask == 0 && is_function_value(h)) return call_function_value(ctx, k, call_kind);
  Entries ent;
  if (container_entries(h, item_data(ctx, k), &ent)) return select_entries(ctx, ent, nsubs, colon_mask, k);
  return kWrongArgType;
}

int op_index_get(EngineContext* ctx, int32_t caller_function, int nsubs, uint32_t colon_mask, int call_kind) {
  VarRef r;
  if (colon_mask == 0 && (nsubs == 1 || nsubs == 2) && ref_at(ctx, nsubs, &r)) {
    const uint64_t* e = ref_element(ctx, r);
    int64_t off;
    if (scalar_offset(ctx, reinterpret_cast<const uint32_t*>(e), nsubs, &off)) {
      replace_with_scalar(ctx, nsubs, tn::ld_f64(e + kElemHeaderWords + off));
      return kOk;
    }
  }
  int k = stack_subs(nsubs, colon_mask);
  if (nsubs < 0 || !stk_has_item(ctx, k)) return TN_ILLEGAL();
  if (!ref_at(ctx, k, &r)) {
    if (desc_at(ctx, k)[0] == kKindReference) return TN_ILLEGAL();
    return index_extract(ctx, nsubs, colon_mask, call_kind, caller_function);
  }
  if (!indexable(reinterpret_cast<const uint32_t*>(ref_element(ctx, r))))
    return err_raise_code(ctx, kWrongVariableType, r.slot, 0, kNoArgument, nullptr);
  TN_TRY(index_convert_subscripts(ctx, nsubs, colon_mask, &k, 1));
  uint64_t* e = ref_element(ctx, r);
  const auto* h = reinterpret_cast<const uint32_t*>(e);
  ArrayView v;
  if (array_view(h, elem_data(e), &v)) return index_extract_array(ctx, v, nsubs, colon_mask);
  if (colon_mask == 0 && is_function_value(h)) {
    TN_TRY(ref_deref_at(ctx, k));
    return call_function_value(ctx, k, call_kind);
  }
  // A variable's container: the count from its entry finger, the offsets
  // from its index (when large enough), so that c(k) reads in constant time.
  Entries ent;
  if (block_entries(ctx, r.block, r.offset, &ent)) {
    const EntryFinger* f = finger_at(ctx, r.block, r.offset);
    return select_entries(ctx, ent, nsubs, colon_mask, k, f ? entry_index_table(ctx, *f, ent.first) : nullptr);
  }
  return err_raise_code(ctx, kWrongVariableType, r.slot, 0, kNoArgument, nullptr);
}

int op_index_end(EngineContext* ctx, int depth, int position, int count, int end_flag) {
  if (!end_flag) return stk_push_real(ctx, 1.0);
  int nd = 0;
  const uint32_t* dims = nullptr;
  uint32_t list_dims[2];
  TN_TRY(indexed_shape(ctx, depth, &nd, &dims, list_dims));
  return dim_extent_push(ctx, position < 1 ? 1 : position, count, nd, dims);
}

int op_index_matrixrow(EngineContext* ctx, int depth, int position, int count, int row_flag) {
  (void)position;
  int nd = 0;
  const uint32_t* dims = nullptr;
  uint32_t list_dims[2];
  TN_TRY(indexed_shape(ctx, depth, &nd, &dims, list_dims));
  const int64_t d0 = dims[0], d1 = dims[1];
  if (count > 1) {
    const int64_t n = row_flag ? d0 : d1;
    double* re;
    TN_TRY(stk_push_matrix(ctx, n > 0 ? 1 : 0, int32_t(n), &re, nullptr));
    for (int64_t i = 0; i < n; ++i) re[i] = double(i + 1);
    return kOk;
  }
  if (nd > kMaxDims) return kArgOutOfRange;
  int32_t shape[kMaxDims];
  int64_t n = 1;
  for (int k = 0; k < nd; ++k) {
    shape[k] = int32_t(dims[k]);
    n = tn::mul64(n, dims[k]);
  }
  TN_TRY(check_result_size(ElemClass::Double, n));
  double* re;
  TN_TRY(stk_push_double_nd(ctx, nd, shape, &re, nullptr));
  for (int64_t p = 0; p < n; ++p) re[p] = double(row_flag ? (p / d1) % d0 + 1 : p % d1 + 1);
  return kOk;
}

int list_element_offsets(EngineContext* ctx, int depth, int absolute_flag) {
  if (!stk_has_item(ctx, depth)) return TN_ILLEGAL();
  uint64_t* data = item_data(ctx, depth);
  Entries ent;
  if (!container_entries(desc_at(ctx, depth), data, &ent)) return kWrongType;
  const int64_t base = (ent.first - data) + (absolute_flag ? item_data_index(ctx, depth) : 0);
  int32_t dims[kMaxDims];
  for (int k = 0; k < ent.ndims; ++k) dims[k] = int32_t(ent.dims[k]);
  void* table = nullptr;
  TN_TRY(stk_push_typed_array(ctx, ent.ndims, dims, 4, 0, &table));
  auto* out = static_cast<int32_t*>(table);
  entry_offsets(ent, out);
  for (int64_t i = 0; i < ent.count; ++i) out[i] = int32_t(out[i] + base);
  return kOk;
}

int list_build(EngineContext* ctx, int depth) {
  if (depth < 1 || !stk_has_item(ctx, depth)) return TN_ILLEGAL();
  uint64_t* data = item_data(ctx, depth);
  const uint32_t* h = desc_at(ctx, depth);
  Entries ent;
  if (!container_entries(h, data, &ent)) return kWrongType;
  ArrayView t;
  if (!array_view(desc_at(ctx, 0), item_data(ctx, 0), &t) || t.cls != ElemClass::Int || t.type != kElemI32 ||
      t.subtype != kPayNumeric)
    return TN_ILLEGAL();
  const auto* offsets = reinterpret_cast<const int32_t*>(t.re);
  const int64_t payload = h[1];
  int64_t words = ent.cell ? kElemHeaderWords + cell_size_words(t.ndims) : 0;
  for (int64_t i = 0; i < t.count; ++i) {
    const int64_t at = offsets[i];
    if (at < 0 || at + kElemHeaderWords > payload || at + elem_total_words(data + at) > payload)
      return TN_ILLEGAL();
    words += elem_total_words(data + at);
  }
  if (ent.cell && t.ndims > kMaxDims) return kArgOutOfRange;
  if (words > INT32_MAX) return kObjectTooLarge;
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  int32_t dims[kMaxDims];
  for (int k = 0; ent.cell && k < t.ndims; ++k) dims[k] = int32_t(t.dims[k]);
  const int nd = t.ndims;
  const int64_t count = t.count;
  uint64_t* out = stk_claim(ctx, kKindContainer, uint32_t(words), ent.cell ? kContCell : kContList,
                            uint32_t(words));
  if (ent.cell) {
    write_cell_sizes(out, dims, nd);
    out += elem_total_words(out);
  }
  for (int64_t i = 0; i < count; ++i) {
    const uint64_t* e = data + offsets[i];
    const uint32_t n = elem_total_words(e);
    std::memcpy(out, e, size_t(n) * 8);
    out += n;
  }
  TN_TRY(stk_remove(ctx, depth + 1, 1));
  return stk_remove(ctx, 1, 1);
}
