// Assignment through parenthesis subscripts (instruction 111): writing the
// selected elements of an array in place, growing an array, list or cell
// array, and deleting elements with an empty right-hand side. A write that
// keeps the shape and the element kind goes straight into the variable's
// block; everything else builds the new value above the operands, checks its
// size first, and stores it through the reference in one step.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/convert.h"
#include "engine/core/element_layout.h"
#include "engine/core/entry_finger.h"
#include "engine/core/entry_gap.h"
#include "engine/core/errors.h"
#include "engine/core/index_walk.h"
#include "engine/core/scalar_subscripts.h"
#include "engine/core/var_blocks.h"

namespace {

constexpr int32_t kNoArgument = -1;
constexpr int32_t kKeepOld = -1;

int stack_subs(int nsubs, uint32_t colon_mask) {
  const uint32_t low = nsubs >= 32 ? ~0u : (1u << nsubs) - 1;
  return nsubs - std::popcount(colon_mask & low);
}

void drop_items(EngineContext* ctx, int n) {
  for (int i = 0; i < n; ++i) stk_drop(ctx);
}

// Decoder errors about a variable name it; others pass as they are.
int raise_index_error(EngineContext* ctx, int status, int32_t slot, int nsubs) {
  switch (status) {
    case kBadIndexType:
    case kNonIntegerIndex:
    case kIndexOutOfRange:
    case kBadSelectionSize:
      return err_raise_code(ctx, status, slot, 0, kNoArgument, nullptr);
    case kWrongIndexCount:
      return err_raise_code(ctx, status, slot, 0, nsubs, nullptr);
    default:
      return status;
  }
}

// Decodes the subscripts of an assignment (positions past the end grow the
// target; ndims 0 when it does not exist), raising index faults against slot.
int decode_growth(EngineContext* ctx, int ndims, const uint32_t* dims, int rhs_ndims, const uint32_t* rhs_dims,
                  int n, uint32_t colon_mask, int slot, IndexPlan* p) {
  IndexRequest req;
  req.ndims = ndims;
  req.dims = dims;
  req.rhs_ndims = rhs_ndims;
  req.rhs_dims = rhs_dims;
  req.nsubs = n;
  req.colon_mask = colon_mask;
  req.growth = true;
  const int status = index_decode(ctx, req, p);
  if (status != kOk) return raise_index_error(ctx, status, slot, n);
  return kOk;
}

bool is_empty_list(const uint32_t* h) { return h[0] == kKindContainer && h[1] == 0 && h[2] == kContList; }

// Pushes a zeroed array of proto's element kind.
int push_zeroed_like(EngineContext* ctx, const ArrayView& proto, bool cplx, int nd, const int32_t* dims,
                     ArrayView* out) {
  TN_TRY(push_array_like(ctx, proto, cplx, nd, dims, out));
  const int64_t bytes = out->count * out->esize;
  std::memset(out->re, 0, size_t(bytes));
  if (out->im) std::memset(out->im, 0, size_t(bytes));
  return kOk;
}

inline void put(uint8_t* to, int64_t i, const uint8_t* from, int64_t j, uint32_t size) {
  std::memcpy(to + size * i, from + size * j, size);
}

// Writes the selected positions of dst (strides over its shape) from src's
// elements in order, or from its single element.
void write_selected(const ArrayView& dst, const ArrayView& src, const IndexPlan& p, const int64_t* strides) {
  if (p.total <= 0) return;
  const bool one = src.count == 1;
  IndexWalk w;
  w.start(p, strides);
  for (int64_t i = 0; i < p.total; ++i, w.next()) {
    const int64_t j = one ? 0 : i;
    put(dst.re, w.offset(), src.re, j, dst.esize);
    if (dst.im) {
      if (src.im)
        put(dst.im, w.offset(), src.im, j, dst.esize);
      else
        std::memset(dst.im + dst.esize * w.offset(), 0, dst.esize);
    }
  }
}

// Copies the old elements of src to their places in the larger dst, a row
// at a time: the elements of a row lie side by side in both.
void copy_into_grown(const ArrayView& dst, int nd, const int64_t* dims, const ArrayView& src) {
  const int64_t row = src.ndims >= 2 ? src.dims[1] : 1;
  if (src.count == 0 || row == 0) return;
  uint32_t d32[kMaxSubscripts];
  for (int k = 0; k < nd; ++k) d32[k] = uint32_t(dims[k]);
  int64_t subs[kMaxSubscripts] = {};
  const size_t bytes = size_t(row) * dst.esize;
  for (int64_t q = 0; q < src.count; q += row) {
    index_subs_from_linear(src.ndims, src.dims, q, subs);
    const int64_t at = index_linear_from_subs(nd, d32, std::max(nd, src.ndims), subs);
    std::memcpy(dst.re + at * dst.esize, src.re + q * dst.esize, bytes);
    if (dst.im && src.im) std::memcpy(dst.im + at * dst.esize, src.im + q * dst.esize, bytes);
  }
}

// True when the old elements keep their storage places in the grown shape:
// one page that gains rows at its end, or a row that gains columns. Such a
// growth appends to the value's data. (A shape with no elements is left to
// the general path, which gives it its canonical empty form.)
bool grows_at_end(const ArrayView& tv, const IndexPlan& p, uint64_t* e) {
  if (tv.ndims != 2 || p.grown_ndims != 2) return false;
  // Data words beyond the elements (which no store writes) are left to the
  // general path, which drops them.
  const int64_t head = tv.re - reinterpret_cast<uint8_t*>(elem_data(e));
  if ((head + tv.count * tv.esize + 7) / 8 != elem_data_words(e)) return false;
  if (tv.count == 0) return true;
  return p.grown[1] == tv.dims[1] || (tv.dims[0] == 1 && p.grown[0] == 1);
}

// Grows the referenced real array where it lies: its element takes the new
// words behind the old elements (the block keeps spare room, so appending in
// a loop moves each word a bounded number of times), the new places are
// zeroed and the selected ones written.
int grow_in_place(EngineContext* ctx, VarRef* r, const ArrayView& tv, const ArrayView& rv, const IndexPlan& p,
                  uint32_t subtype) {
  uint64_t* e = ref_element(ctx, *r);
  const uint32_t kind = elem_word(e, 0);
  const int64_t head = tv.re - reinterpret_cast<uint8_t*>(elem_data(e));  // the typed header's bytes
  const int64_t count = p.grown[0] * p.grown[1];
  const int64_t old_words = elem_data_words(e);
  const int64_t old_bytes = head + tv.count * tv.esize;
  const int64_t new_words = (head + count * tv.esize + 7) / 8;
  if (new_words > INT32_MAX) return kObjectTooLarge;
  TN_TRY(block_splice(ctx, r, r->offset + kElemHeaderWords + old_words, 0, new_words - old_words));
  block_adjust_enclosing(ctx, r->block, r->offset, new_words - old_words);
  e = ref_element(ctx, *r);
  auto* bytes = reinterpret_cast<uint8_t*>(elem_data(e));
  std::memset(bytes + old_bytes, 0, size_t(new_words * 8 - old_bytes));
  if (kind == kKindReal) {
    elem_set_header(e, kKindReal, uint32_t(p.grown[0]), uint32_t(p.grown[1]), elem_name(e));
  } else {
    elem_set_header(e, kind, uint32_t(new_words), subtype, elem_name(e));
    tn::st_u32(bytes + 8, uint32_t(p.grown[0]));
    tn::st_u32(bytes + 12, uint32_t(p.grown[1]));
  }
  ArrayView nv;
  if (!array_view(reinterpret_cast<uint32_t*>(e), elem_data(e), &nv)) return TN_ILLEGAL();
  int64_t strides[kMaxSubscripts];
  plan_strides(p, 2, p.grown, strides);
  write_selected(nv, rv, p, strides);
  return kOk;
}

// The new element kind of an array assignment: the target's, with char and
// logical kept only for a right-hand side of the same kind.
uint32_t assigned_subtype(const ArrayView* target, uint32_t rhs_subtype) {
  if (!target) return rhs_subtype;
  if (target->subtype == kPayChar || target->subtype == kPayLogical)
    return rhs_subtype == target->subtype ? target->subtype : uint32_t(kPayNumeric);
  return target->subtype;
}

// Converts the right-hand side at depth to the target's element type.
int convert_rhs(EngineContext* ctx, int depth, const ArrayView& target, const ArrayView& rhs) {
  int status = kOk;
  switch (target.cls) {
    case ElemClass::Double:
      if (rhs.cls != ElemClass::Double) status = stk_convert_to_double(ctx, depth, 0, nullptr);
      break;
    case ElemClass::Single:
      if (rhs.cls != ElemClass::Single) status = stk_convert_to_double(ctx, depth, 1, nullptr);
      break;
    case ElemClass::Int:
      if (rhs.cls != ElemClass::Int || rhs.type != target.type)
        status = stk_convert_to_int(ctx, depth, int(target.esize), (target.type & kElemUnsigned) ? 1 : 0, 0);
      break;
  }
  return status == kWrongType ? kWrongArgType : status;
}

// --- Arrays ------------------------------------------------------------------------

// The right-hand side at depth k + 1, the reference at k, k subscripts above.
int assign_array(EngineContext* ctx, int n, uint32_t colon_mask, int k, bool exists) {
  VarRef r;
  ref_at(ctx, k, &r);
  ArrayView rv;
  if (!array_view(desc_at(ctx, k + 1), item_data(ctx, k + 1), &rv)) return kWrongArgType;
  const uint32_t rhs_subtype = rv.subtype;
  ArrayView tv;
  if (exists) {
    uint64_t* e = ref_element(ctx, r);
    if (!array_view(reinterpret_cast<uint32_t*>(e), elem_data(e), &tv)) return TN_ILLEGAL();
    TN_TRY(convert_rhs(ctx, k + 1, tv, rv));
    array_view(desc_at(ctx, k + 1), item_data(ctx, k + 1), &rv);
  }
  IndexPlan p;
  TN_TRY(decode_growth(ctx, exists ? tv.ndims : 0, exists ? tv.dims : nullptr, rv.ndims, rv.dims, n, colon_mask,
                       r.slot, &p));
  if (rv.count != 1 && rv.count != p.total)
    return err_raise_code(ctx, kBadAssignmentSize, r.slot, 0, kNoArgument, nullptr);

  const bool cplx = (exists && tv.cplx) || rv.cplx;
  const uint32_t subtype = assigned_subtype(exists ? &tv : nullptr, rhs_subtype);
  int64_t strides[kMaxSubscripts];
  if (exists && !p.grows && cplx == tv.cplx) {
    // Same shape and kind: written where the variable lies.
    if (tv.subtype != subtype) block_words32(ctx, r.block + r.offset)[2] = subtype;
    plan_strides(p, tv.ndims, tv.dims, strides);
    write_selected(tv, rv, p, strides);
    drop_items(ctx, k + 2);
    return kOk;
  }
  ArrayView proto = exists ? tv : rv;
  proto.subtype = subtype;
  int32_t dims[kMaxSubscripts];
  int64_t count = 1;
  for (int i = 0; i < p.grown_ndims; ++i) {
    if (p.grown[i] > INT32_MAX) return kObjectTooLarge;
    dims[i] = int32_t(p.grown[i]);
    count = tn::mul64(count, p.grown[i]);
  }
  TN_TRY(check_result_size(proto.cls, count));
  if (exists && !cplx && count > 0 && grows_at_end(tv, p, ref_element(ctx, r))) {
    TN_TRY(grow_in_place(ctx, &r, tv, rv, p, subtype));
    drop_items(ctx, k + 2);
    return kOk;
  }
  ArrayView nv;
  TN_TRY(push_zeroed_like(ctx, proto, cplx, p.grown_ndims, dims, &nv));
  if (nv.count > 0) {
    if (exists) copy_into_grown(nv, p.grown_ndims, p.grown, tv);
    plan_strides(p, p.grown_ndims, p.grown, strides);
    write_selected(nv, rv, p, strides);
  }
  const int status = ref_store_value(ctx, &r, desc_at(ctx, 0), item_data(ctx, 0));
  stk_drop(ctx);
  TN_TRY(status);
  drop_items(ctx, k + 2);
  return kOk;
}

// --- Deletion ------------------------------------------------------------------------

// Which old positions an empty right-hand side deletes, and the shape left.
struct DeletePlan {
  bool nothing = false;
  const IndexSub* sub = nullptr;  // the one subscript that is not a colon
  bool linear = false;
  int64_t stride = 1, extent = 0;
  int nd = 2;
  int32_t dims[kMaxSubscripts] = {0, 0};
};

bool is_deleted(const DeletePlan& d, int64_t q) {
  if (!d.sub) return true;  // every position goes
  const int64_t coord = d.linear ? q : (q / d.stride) % d.extent;
  if (d.sub->mask) return d.sub->mask[coord] != 0;
  return std::binary_search(d.sub->values, d.sub->values + d.sub->count, int32_t(coord + 1));
}

// All colons delete everything; two or more partial subscripts are refused
// unless one selects nothing; one partial subscript removes its positions
// along its dimension (with one subscript: along a vector, and a matrix
// keeps the rest as a row in storage order).
int delete_plan(const IndexPlan& p, int nd, const uint32_t* dims, DeletePlan* d) {
  int partial = -1, partials = 0;
  bool selects_nothing = false;
  for (int i = 0; i < p.nsubs; ++i)
    if (!((p.colon >> i) & 1)) {
      partial = i;
      ++partials;
      selects_nothing = selects_nothing || p.sub[i].count == 0;
    }
  if (partials == 0) return kOk;  // dims stay {0, 0}
  if (selects_nothing) {
    d->nothing = true;
    return kOk;
  }
  if (partials > 1) return kDeleteMultipleDims;
  d->sub = &p.sub[partial];
  int64_t left = 0;
  if (p.linear) {
    d->linear = true;
    d->extent = p.sub[0].extent;
    left = d->extent - d->sub->count;
    const bool column = nd == 2 && dims[1] == 1 && dims[0] != 1;
    d->nd = 2;
    d->dims[0] = column ? int32_t(left) : 1;
    d->dims[1] = column ? 1 : int32_t(left);
  } else {
    d->extent = dim_at(nd, dims, partial);
    d->stride = partial == 1 ? 1 : partial == 0 ? dim_at(nd, dims, 1) : 1;
    for (int j = 0; partial >= 2 && j < partial; ++j) d->stride *= dim_at(nd, dims, j);
    d->nd = p.nsubs;
    left = 1;
    for (int i = 0; i < p.nsubs; ++i) {
      d->dims[i] = int32_t(i == partial ? d->extent - d->sub->count : dim_at(nd, dims, i));
      left *= d->dims[i];
    }
  }
  if (left == 0) {
    d->nd = 2;
    d->dims[0] = d->dims[1] = 0;
  }
  while (d->nd > 2 && d->dims[d->nd - 1] == 1) --d->nd;
  return kOk;
}

// Decodes the subscripts of a deletion (sorted, duplicates once) against a
// value of the given shape and plans it; d refers into p, so p must outlive it.
int decode_delete(EngineContext* ctx, int ndims, const uint32_t* dims, int n, uint32_t colon_mask, int slot,
                  IndexPlan* p, DeletePlan* d) {
  IndexRequest req;
  req.ndims = ndims;
  req.dims = dims;
  req.nsubs = n;
  req.colon_mask = colon_mask;
  req.sort = true;
  const int status = index_decode(ctx, req, p);
  if (status != kOk) return raise_index_error(ctx, status, slot, n);
  return delete_plan(*p, ndims, dims, d);
}

// The next coordinate at or after c that the deletion's subscript selects
// (extent when none); *vi walks its sorted values alongside.
int64_t next_deleted(const DeletePlan& d, int64_t c, int64_t* vi) {
  const IndexSub& s = *d.sub;
  if (s.mask) {
    while (c < d.extent && s.mask[c] == 0) ++c;
    return c;
  }
  while (*vi < s.count && int64_t(s.values[*vi]) - 1 < c) ++*vi;
  return *vi < s.count ? int64_t(s.values[*vi]) - 1 : d.extent;
}

// Moves the kept elements of one part (real or imaginary) of the value down
// to `to`, run by run: the positions of coordinate c along the deleted
// dimension are o * extent * stride + c * stride + s, so the kept
// coordinates between two deleted ones are one run within each outer slab.
void compact_part(const DeletePlan& d, uint8_t* to, const uint8_t* from, int64_t count, uint32_t esize) {
  const int64_t slab = d.extent * d.stride;
  const int64_t outer = slab > 0 ? count / slab : 0;
  int64_t at = 0;
  for (int64_t o = 0; o < outer; ++o) {
    int64_t vi = 0;
    for (int64_t c = 0; c < d.extent;) {
      const int64_t stop = next_deleted(d, c, &vi);
      const int64_t run = (stop - c) * d.stride;
      if (run > 0) std::memmove(to + at * esize, from + (o * slab + c * d.stride) * esize, size_t(run) * esize);
      at += run;
      c = stop + 1;
    }
  }
}

// Deletes where the value lies: the kept elements move down in storage order
// (none at all when the last ones go), the header takes the new shape, and
// the block gives back the words freed, so that x(end) = [] costs the same
// for any length of x. The words left are those the value built on the
// stack would have: elements, then zero padding to the word. False, with
// nothing changed, for a deletion that leaves no element or turns a double
// array into a matrix (the general path gives those their canonical forms).
bool delete_in_place(EngineContext* ctx, VarRef* r, const ArrayView& tv, const DeletePlan& d) {
  int64_t left = 1;
  for (int i = 0; i < d.nd; ++i) left *= d.dims[i];
  if (left <= 0 || !d.sub) return false;
  uint64_t* e = ref_element(ctx, *r);
  const uint32_t kind = elem_word(e, 0);
  auto* data = reinterpret_cast<uint8_t*>(elem_data(e));
  const bool typed = kind == kKindPayload;
  // A double array of more than two dimensions left with two becomes a
  // plain matrix, whose layout differs: the general path builds it.
  if (typed ? tv.cls == ElemClass::Double && d.nd <= 2 : d.nd > 2) return false;
  const int64_t old_head = tv.re - data;
  const int64_t new_head = typed ? typed_header_bytes(uint32_t(d.nd)) : 0;
  if (new_head > old_head) return false;
  const int64_t old_words = elem_data_words(e);
  const int64_t parts = tv.cplx ? 2 : 1;
  const int64_t used = new_head + parts * left * tv.esize;
  const int64_t new_words = (used + 7) / 8;
  uint8_t* to = data + new_head;
  compact_part(d, to, tv.re, tv.count, tv.esize);
  if (tv.cplx) compact_part(d, to + left * tv.esize, tv.im, tv.count, tv.esize);
  std::memset(data + used, 0, size_t(new_words * 8 - used));
  if (new_words < old_words) {
    // Read while the header still gives the old size. Shrinking never moves
    // the block: the words behind the element move down within it.
    block_splice(ctx, r, r->offset + kElemHeaderWords + new_words, old_words - new_words, 0);
    block_adjust_enclosing(ctx, r->block, r->offset, new_words - old_words);
    e = ref_element(ctx, *r);
    data = reinterpret_cast<uint8_t*>(elem_data(e));
  }
  if (typed) {
    tn::st_u32(data + 4, uint32_t(d.nd));
    for (int i = 0; i < d.nd; ++i) tn::st_u32(data + 8 + 4 * i, uint32_t(d.dims[i]));
    std::memset(data + 8 + 4 * d.nd, 0, size_t(new_head - 8 - 4 * d.nd));
    elem_set_header(e, kind, uint32_t(new_words), elem_word(e, 2), elem_name(e));
  } else {
    elem_set_header(e, kind, uint32_t(d.dims[0]), uint32_t(d.dims[1]), elem_name(e));
  }
  return true;
}

int delete_array(EngineContext* ctx, int n, uint32_t colon_mask, int k) {
  VarRef r;
  ref_at(ctx, k, &r);
  uint64_t* e = ref_element(ctx, r);
  ArrayView tv;
  if (!array_view(reinterpret_cast<uint32_t*>(e), elem_data(e), &tv)) return TN_ILLEGAL();
  IndexPlan p;
  DeletePlan d;
  TN_TRY(decode_delete(ctx, tv.ndims, tv.dims, n, colon_mask, r.slot, &p, &d));
  if (!d.nothing && !delete_in_place(ctx, &r, tv, d)) {
    ArrayView nv;
    TN_TRY(push_zeroed_like(ctx, tv, tv.cplx, d.nd, d.dims, &nv));
    int64_t at = 0;
    for (int64_t q = 0; q < tv.count && at < nv.count; ++q) {
      if (is_deleted(d, q)) continue;
      put(nv.re, at, tv.re, q, tv.esize);
      if (nv.im) put(nv.im, at, tv.im, q, tv.esize);
      ++at;
    }
    const int status = ref_store_value(ctx, &r, desc_at(ctx, 0), item_data(ctx, 0));
    stk_drop(ctx);
    TN_TRY(status);
  }
  drop_items(ctx, k + 2);
  return kOk;
}

// --- Lists and cell arrays ---------------------------------------------------------------

// Pushes a list or cell array whose entry q is chosen by a picker: a pointer
// to an entry to copy, or null for an empty 0 x 0 matrix. Pickers walk their
// sources in order, so each of the two passes (sizes, then copies) gets a
// fresh one from make_picker.
template <typename MakePicker>
int push_container(EngineContext* ctx, bool cell, int nd, const int32_t* dims, int64_t count,
                   MakePicker&& make_picker) {
  int64_t words = cell ? kElemHeaderWords + cell_size_words(nd) : 0;
  auto sizer = make_picker();
  for (int64_t q = 0; q < count; ++q) {
    const uint64_t* e = sizer(q);
    words += e ? elem_total_words(e) : kElemHeaderWords;
  }
  if (words > INT32_MAX || count > kMaxTypedElements) return kObjectTooLarge;
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* out = stk_claim(ctx, kKindContainer, uint32_t(words), cell ? kContCell : kContList, uint32_t(words));
  if (cell) {
    write_cell_sizes(out, dims, nd);
    out += elem_total_words(out);
  }
  auto pick = make_picker();
  for (int64_t q = 0; q < count; ++q) {
    const uint64_t* e = pick(q);
    if (!e) {
      elem_set_header(out, kKindReal, 0, 0, 0);
      out += kElemHeaderWords;
      continue;
    }
    const uint32_t w = elem_total_words(e);
    std::memcpy(out, e, size_t(w) * 8);
    out += w;
  }
  return kOk;
}

int delete_entries(EngineContext* ctx, int n, uint32_t colon_mask, int k, const Entries& ent) {
  VarRef r;
  ref_at(ctx, k, &r);
  IndexPlan p;
  DeletePlan d;
  TN_TRY(decode_delete(ctx, ent.ndims, ent.dims, n, colon_mask, r.slot, &p, &d));
  if (!d.nothing) {
    int64_t left = 1;
    for (int i = 0; i < d.nd; ++i) left *= d.dims[i];
    auto kept = [&] {
      return [&d, &ent, at = ent.first, q = int64_t(0)](int64_t) mutable -> const uint64_t* {
        while (q < ent.count && is_deleted(d, q)) {
          at += elem_total_words(at);
          ++q;
        }
        if (q >= ent.count) return nullptr;
        const uint64_t* e = at;
        at += elem_total_words(at);
        ++q;
        return e;
      };
    };
    TN_TRY(push_container(ctx, ent.cell, d.nd, d.dims, left, kept));
    const int status = ref_store_value(ctx, &r, desc_at(ctx, 0), item_data(ctx, 0));
    stk_drop(ctx);
    TN_TRY(status);
  }
  drop_items(ctx, k + 2);
  return kOk;
}

// Entry `linear` of the container the reference names (ent: its entries)
// takes the one entry `value` where it lies, as c{i} = v stores it (found
// through the container's finger and index, across a gap in its block
// during a brace store). False, with nothing changed, when the two entries'
// names differ (the rebuilt container would take the right-hand side's).
bool store_entry_at(EngineContext* ctx, const VarRef& r, const Entries& ent, int64_t linear, const uint64_t* value,
                    int* status) {
  VarRef at = r;
  uint64_t* base = heap_words(ctx) + r.block;
  const int64_t across = entry_gap_open_in(ctx, r.block) ? entry_gap_seek(ctx, r.block, ent, linear) : -1;
  const uint64_t* e;
  if (across >= 0) {
    at.offset = int32_t(across);
    e = base + across + (across < ctx->entry_gap.at ? 0 : ctx->entry_gap.words);
  } else {
    entry_gap_close_in(ctx, r.block);
    e = finger_seek(ctx, r.block, r.offset, ent, linear);
    at.offset = int32_t(e - base);
  }
  if (elem_name(e) != elem_name(value)) return false;
  *status = ref_store_value(ctx, &at, reinterpret_cast<const uint32_t*>(value), value + kElemHeaderWords);
  return true;
}

// c(i) = {v}: the one selected entry of the container the reference names
// takes the one entry of the right-hand side, as c{i} = v stores it,
// instead of the container being built again. False, with nothing changed,
// when store_entry_at declines.
bool store_one_entry(EngineContext* ctx, VarRef* r, const IndexPlan& p, const Entries& target,
                     const uint64_t* value) {
  int64_t strides[kMaxSubscripts];
  plan_strides(p, target.ndims, target.dims, strides);
  IndexWalk w;
  w.start(p, strides);
  Entries ent;
  if (!block_entries(ctx, r->block, r->offset, &ent) || ent.count != target.count) return false;
  int status = kOk;
  return store_entry_at(ctx, *r, ent, w.offset(), value, &status) && status == kOk;
}

// The same with one real scalar subscript inside the list or cell array,
// without a plan of the selection. -1 when the statement is any other
// (nothing changed), else the status.
int store_one_entry_by_scalar(EngineContext* ctx) {
  const uint32_t* sub = desc_at(ctx, 0);
  const uint32_t* rh = desc_at(ctx, 2);
  if (!desc_is_real_scalar(sub) || rh[0] != kKindContainer || (rh[2] != kContList && rh[2] != kContCell)) return -1;
  const double x = tn::ld_f64(item_data(ctx, 0));
  VarRef r;
  if (!(x >= 1 && x <= double(INT32_MAX) && x == double(int64_t(x))) || !ref_at(ctx, 1, &r)) return -1;
  Entries rhs;
  if (!container_entries(rh, item_data(ctx, 2), &rhs) || rhs.count != 1) return -1;
  if (entry_gap_open_in(ctx, r.block) && !entry_gap_serves_step(ctx, r)) entry_gap_close(ctx);
  Entries ent;
  if (!block_entries(ctx, r.block, r.offset, &ent) || int64_t(x) > ent.count) return -1;
  int status = kOk;
  if (!store_entry_at(ctx, r, ent, int64_t(x) - 1, rhs.first, &status)) return -1;  // the general path names it
  TN_TRY(status);
  drop_items(ctx, 3);
  return kOk;
}

// A list or cell array target, a list or cell array right-hand side.
int assign_entries(EngineContext* ctx, int n, uint32_t colon_mask, int k, const Entries& target) {
  VarRef r;
  ref_at(ctx, k, &r);
  Entries rhs;
  if (!container_entries(desc_at(ctx, k + 1), item_data(ctx, k + 1), &rhs)) return kWrongArgType;
  IndexPlan p;
  TN_TRY(decode_growth(ctx, target.ndims, target.dims, rhs.ndims, rhs.dims, n, colon_mask, r.slot, &p));
  if (p.total == 0 && rhs.count > 1) return kBadSize;
  if (rhs.count != 1 && rhs.count != p.total)
    return err_raise_code(ctx, kBadAssignmentSize, r.slot, 0, kNoArgument, nullptr);

  int32_t dims[kMaxSubscripts];
  int nd = p.grows ? p.grown_ndims : target.ndims;
  int64_t count = 1;
  for (int i = 0; i < nd; ++i) {
    const int64_t v = p.grows ? p.grown[i] : int64_t(target.dims[i]);
    if (v > INT32_MAX) return kObjectTooLarge;
    dims[i] = int32_t(v);
    count = tn::mul64(count, v);
  }
  cell_shape_rules(dims, &nd);
  // A list is one row; an empty one may take any shape and becomes a cell array.
  const bool row = nd == 2 && dims[0] <= 1;
  if (!target.cell && !row && target.count > 0)
    return err_raise_code(ctx, kIndexOutOfRange, r.slot, 0, kNoArgument, nullptr);
  const bool cell = target.cell || !row;
  if (count > kMaxTypedElements) return kObjectTooLarge;
  if (!p.grows && p.total == 1 && rhs.count == 1 && cell == target.cell && count == target.count &&
      store_one_entry(ctx, &r, p, target, rhs.first)) {
    drop_items(ctx, k + 2);
    return kOk;
  }
  entry_gap_close_in(ctx, r.block);  // the container is built again from its entries

  // Which right-hand entry each new position takes (kKeepOld: the old one).
  void* raw = nullptr;
  const int32_t pick_dims[2] = {1, int32_t(count)};
  TN_TRY(stk_push_typed_array(ctx, 2, pick_dims, 4, 0, &raw));
  auto* pick = static_cast<int32_t*>(raw);
  for (int64_t q = 0; q < count; ++q) pick[q] = kKeepOld;
  int64_t strides[kMaxSubscripts];
  uint32_t udims[kMaxSubscripts];
  for (int i = 0; i < nd; ++i) udims[i] = uint32_t(dims[i]);
  if (p.total > 0) {
    int64_t grown[kMaxSubscripts];
    for (int i = 0; i < p.grown_ndims; ++i) grown[i] = p.grows ? p.grown[i] : dim_at(target.ndims, target.dims, i);
    plan_strides(p, p.grown_ndims, grown, strides);
    IndexWalk w;
    w.start(p, strides);
    for (int64_t i = 0; i < p.total; ++i, w.next()) pick[w.offset()] = rhs.count == 1 ? 0 : int32_t(i);
  }
  const int32_t rhs_dims[2] = {1, int32_t(rhs.count)};
  int status = stk_push_typed_array(ctx, 2, rhs_dims, 4, 0, &raw);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  auto* rhs_offsets = static_cast<int32_t*>(raw);
  if (rhs.count > 0) entry_offsets(rhs, rhs_offsets);

  // Old entries keep their places: walked in storage order, they map to
  // increasing new positions.
  const int span = std::max(nd, target.ndims);
  auto chooser = [&] {
    return [&, at = target.first, taken = int64_t(0), subs = std::array<int64_t, kMaxSubscripts>{}](
               int64_t q) mutable -> const uint64_t* {
      index_subs_from_linear(nd, udims, q, subs.data());
      bool old = taken < target.count;
      for (int i = 0; i < span && old; ++i) old = (i < nd ? subs[i] : 0) < dim_at(target.ndims, target.dims, i);
      const uint64_t* mine = nullptr;
      if (old) {
        mine = at;
        at += elem_total_words(at);
        ++taken;
      }
      if (pick[q] != kKeepOld) return rhs.first + rhs_offsets[pick[q]];
      return mine;
    };
  };
  status = push_container(ctx, cell, nd, dims, count, chooser);
  if (status == kOk) {
    status = ref_store_value(ctx, &r, desc_at(ctx, 0), item_data(ctx, 0));
    stk_drop(ctx);
  }
  stk_drop(ctx);
  stk_drop(ctx);
  TN_TRY(status);
  drop_items(ctx, k + 2);
  return kOk;
}

// The fast path: a real scalar into a real double matrix at scalar subscripts in range.
bool store_scalar_fast(EngineContext* ctx, int n) {
  VarRef r;
  if (!ref_at(ctx, n, &r)) return false;
  const uint32_t* rh = desc_at(ctx, n + 1);
  if (rh[0] != kKindReal || rh[1] != 1 || rh[2] != 1) return false;
  uint64_t* e = ref_element(ctx, r);
  const auto* h = reinterpret_cast<const uint32_t*>(e);
  if (h[0] != kKindReal) return false;
  double s[2];
  for (int i = 0; i < n; ++i) {
    const uint32_t* d = desc_at(ctx, n - 1 - i);
    if (d[0] != kKindReal || d[1] != 1 || d[2] != 1) return false;
    s[i] = tn::ld_f64(item_data(ctx, n - 1 - i));
  }
  int64_t off;
  if (!scalar_subscript_offset(h, n, s[0], n == 2 ? s[1] : 0.0, &off)) return false;
  tn::st_f64(e + kElemHeaderWords + off, tn::ld_f64(item_data(ctx, n + 1)));
  drop_items(ctx, n + 2);
  return true;
}

}  // namespace

int op_index_set(EngineContext* ctx, int n, uint32_t colon_mask) {
  if (colon_mask == 0 && (n == 1 || n == 2) && stk_has_item(ctx, n + 1) && store_scalar_fast(ctx, n)) return kOk;
  if (colon_mask == 0 && n == 1 && stk_has_item(ctx, 2)) {
    const int one = store_one_entry_by_scalar(ctx);
    if (one >= 0) return one;
  }
  const int k = stack_subs(n, colon_mask);
  if (n < 0 || !stk_has_item(ctx, k + 1)) return TN_ILLEGAL();
  VarRef r;
  if (!ref_at(ctx, k, &r)) return TN_ILLEGAL();
  // Only the store of one entry of the value's own container reads across a
  // gap in its block (store_one_entry); every other path reads it closed.
  if (entry_gap_open_in(ctx, r.block) && !entry_gap_serves_step(ctx, r)) entry_gap_close(ctx);
  uint64_t* e = ref_element(ctx, r);
  const auto* h = reinterpret_cast<const uint32_t*>(e);
  // A target this assignment created is still untyped: it takes the kind of
  // what is assigned.
  const bool exists = !(r.created && is_empty_list(h));
  Entries ent;
  ArrayView tv;
  // Through the entry finger: a container's count is known without a walk.
  const bool entries = block_entries(ctx, r.block, r.offset, &ent);
  const bool array = array_view(h, elem_data(e), &tv);
  // Another target fails before its subscripts are touched.
  if (exists && !entries && !array) return err_raise_code(ctx, kWrongVariableType, r.slot, 0, kNoArgument, nullptr);
  int converted = 0;
  TN_TRY(index_convert_subscripts(ctx, n, colon_mask, &converted, 1));
  const uint32_t* rh = desc_at(ctx, k + 1);
  const bool rhs_container = rh[0] == kKindContainer && (rh[2] == kContList || rh[2] == kContCell);
  ArrayView rv;
  const bool rhs_array = array_view(rh, item_data(ctx, k + 1), &rv);
  if (entries && (exists || rhs_container)) {
    if (!rhs_container) {
      entry_gap_close_in(ctx, r.block);
      if (exists && rh[0] == kKindReal && int64_t(rh[1]) * rh[2] == 0) return delete_entries(ctx, n, colon_mask, k, ent);
      return kWrongArgType;
    }
    return assign_entries(ctx, n, colon_mask, k, ent);
  }
  entry_gap_close_in(ctx, r.block);
  if (exists && rhs_array && rv.count == 0) return delete_array(ctx, n, colon_mask, k);
  return assign_array(ctx, n, colon_mask, k, exists);
}
