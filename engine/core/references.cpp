// References into variables (kind-8 items) and the steps of a nested
// assignment: pushing a reference, stepping it into a field or a list or cell
// element (creating and growing what an assignment needs), and storing through
// it. A variable's block is edited in place: only the words behind a changed
// element move, and every container enclosing it has its size corrected.
#include <algorithm>
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/element_layout.h"
#include "engine/core/entry_finger.h"
#include "engine/core/entry_gap.h"
#include "engine/core/outer_refs.h"
#include "engine/core/entry_index.h"
#include "engine/core/errors.h"
#include "engine/core/index_walk.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/var_blocks.h"

namespace {

constexpr int32_t kNoArgument = -1;

bool is_object_subtype(uint32_t b) { return b != kContList && b != kContStruct && b != kContCell; }

// The heap block's words after its header word: size n, in use.
void heap_block_shrink(EngineContext* ctx, int32_t block, int64_t n) {
  uint64_t* heap = heap_words(ctx);
  const int64_t size = heap_block_size(ctx, block);
  if (size <= n) return;
  heap_set_header(heap, block - 1, uint64_t(n) | kHeapInUse);
  heap_set_header(heap, block + n, uint64_t(size - n - 1));
  heap_hint_lower(ctx, block + n);
}

// Replaces the container on top by a copy of one of its elements, moving the
// element's data down over the container's.
void replace_top_with_element(EngineContext* ctx, const uint64_t* e) {
  uint32_t* d = desc_at(ctx, 0);
  uint64_t* data = item_data(ctx, 0);
  const uint32_t kind = elem_word(e, 0), a = elem_word(e, 1), b = elem_word(e, 2);
  const uint32_t n = item_data_words(kind, a, b);
  std::memmove(data, e + kElemHeaderWords, size_t(n) * 8);
  ctx->data_top -= int32_t(desc_data_words(d)) - int32_t(n);
  d[0] = kind;
  d[1] = a;
  d[2] = b;
}

// The field of a plain value at depth: a container is required (44), an
// object's fields are read only inside a class method (40).
int plain_field(EngineContext* ctx, int depth, int32_t symbol, int32_t method_class, uint64_t** field) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindContainer) return kWrongArgType;
  if (is_object_subtype(d[2]) && method_class == 0) return kPrivateField;
  *field = find_named_element(item_data(ctx, depth), d[1], symbol);
  if (!*field) return err_raise_code(ctx, kUndefinedField, kNoArgument, symbol, kNoArgument, nullptr);
  return kOk;
}

// The field step on the reference at depth.
int ref_field_step(EngineContext* ctx, int depth, int32_t symbol, int32_t method_class) {
  VarRef r;
  if (!ref_at(ctx, depth, &r)) return TN_ILLEGAL();
  uint64_t* e = ref_element(ctx, r);
  const bool has_fields =
      elem_kind(e) == kKindContainer && elem_word(e, 2) != kContList && elem_word(e, 2) != kContCell;
  if (!has_fields) {
    // An element this assignment created is still untyped: it becomes a struct.
    if (!(r.assign && r.created && elem_data_words(e) == 0))
      return err_raise_code(ctx, kFieldOfNonStruct, r.slot, symbol, kNoArgument, nullptr);
    elem_set_header(e, kKindContainer, 0, kContStruct, elem_name(e));
  }
  const uint32_t subtype = elem_word(e, 2);
  // Fields of an object are private to its class's methods.
  if (is_object_subtype(subtype) && int32_t(subtype) != method_class) return kPrivateField;
  uint64_t* field = find_named_element(elem_data(e), elem_word(e, 1), symbol);
  if (field) {
    r.offset = int32_t(field - (heap_words(ctx) + r.block));
    r.created = 0;
  } else {
    if (!r.assign) return err_raise_code(ctx, kUndefinedField, kNoArgument, symbol, kNoArgument, nullptr);
    const int64_t container = r.offset;
    const int64_t at = container + kElemHeaderWords + elem_word(e, 1);
    TN_TRY(block_splice(ctx, &r, at, 0, kElemHeaderWords));
    uint64_t* heap = heap_words(ctx) + r.block;
    elem_set_header(heap + at, kKindContainer, 0, kContList, symbol);
    block_adjust_enclosing(ctx, r.block, container, kElemHeaderWords);
    auto* c = reinterpret_cast<uint32_t*>(heap + container);
    c[1] += kElemHeaderWords;
    r.offset = int32_t(at);
    r.created = 1;
  }
  ref_put(ctx, depth, r);
  return kOk;
}

// The linear position a brace subscript list selects in entries of this
// shape, or the grown shape that would hold it. 32 for a cell given too few
// subscripts; *beyond tells whether the position lies outside.
struct BracePlace {
  int64_t linear;
  bool beyond;
  int64_t bad;  // first subscript past its extent, 1-based
};

int brace_place(const Entries& ent, const int64_t* pos, int n, BracePlace* out) {
  out->beyond = false;
  out->bad = -1;
  if (n == 1) {
    out->linear = pos[0];
    if (pos[0] >= ent.count) {
      out->beyond = true;
      out->bad = pos[0] + 1;
    }
    return kOk;
  }
  if (n < ent.ndims) return kWrongIndexCount;
  for (int i = 0; i < n; ++i)
    if (pos[i] >= dim_at(ent.ndims, ent.dims, i)) {
      out->beyond = true;
      out->bad = pos[i] + 1;
      break;
    }
  out->linear = out->beyond ? -1 : index_linear_from_subs(ent.ndims, ent.dims, n, pos);
  return kOk;
}

// The shape a cell array (or an empty list) grows to so that the position
// exists: one subscript grows a row (or an empty value) along its columns and
// a column along its rows; a matrix cannot grow so (29).
int brace_grown_shape(const Entries& ent, const int64_t* pos, int n, int32_t* dims, int* nd) {
  if (n == 1) {
    const bool matrix = ent.ndims > 2 || (ent.dims[0] > 1 && ent.dims[1] > 1);
    if (matrix) return kIndexOutOfRange;
    const bool column = ent.dims[0] > 1;
    if (pos[0] + 1 > INT32_MAX) return kIndexOutOfRange;
    dims[0] = column ? int32_t(pos[0] + 1) : 1;
    dims[1] = column ? 1 : int32_t(pos[0] + 1);
    *nd = 2;
    return kOk;
  }
  *nd = std::max(n, ent.ndims);
  for (int i = 0; i < *nd; ++i) {
    const int64_t want = i < n ? pos[i] + 1 : 1;
    dims[i] = int32_t(std::max(want, dim_at(ent.ndims, ent.dims, i)));
  }
  while (*nd > 2 && dims[*nd - 1] == 1) --*nd;
  return kOk;
}

// Rebuilds the referenced cell array (or list) with the given shape: each old
// entry at its place, each new place an empty 0 x 0 matrix.
int ref_cell_grow(EngineContext* ctx, VarRef* r, const Entries& ent, const int32_t* dims, int nd) {
  int64_t n = 1;
  for (int i = 0; i < nd; ++i) n = tn::mul64(n, dims[i]);
  const int64_t size_words = kElemHeaderWords + cell_size_words(nd);
  const int64_t words = size_words + ent.words + kElemHeaderWords * (n - std::min(n, ent.count));
  if (n > kMaxTypedElements || words > INT32_MAX) return kObjectTooLarge;
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* out = stk_claim(ctx, kKindContainer, uint32_t(words), kContCell, uint32_t(words));
  write_cell_sizes(out, dims, nd);
  out += size_words;
  uint32_t new_dims[kMaxDims];
  for (int i = 0; i < nd; ++i) new_dims[i] = uint32_t(dims[i]);
  const uint64_t* old = ent.first;
  int64_t taken = 0;
  int64_t subs[kMaxDims];
  const int span = std::max(nd, ent.ndims);
  for (int64_t p = 0; p < n; ++p) {
    index_subs_from_linear(nd, new_dims, p, subs);
    bool inside = taken < ent.count;
    for (int i = 0; i < span && inside; ++i)
      inside = (i < nd ? subs[i] : 0) < dim_at(ent.ndims, ent.dims, i);
    if (inside) {
      const uint32_t w = elem_total_words(old);
      std::memcpy(out, old, size_t(w) * 8);
      out += w;
      old += w;
      ++taken;
    } else {
      elem_set_header(out, kKindReal, 0, 0, 0);
      out += kElemHeaderWords;
    }
  }
  const int status = ref_store_value(ctx, r, desc_at(ctx, 0), item_data(ctx, 0));
  stk_drop(ctx);
  return status;
}

// What replacing the element of old_len words at word `offset` of the
// finger's block by one delta words longer does to the finger's container:
// behind it, nothing; before it, the container moves by delta; among its
// entries, its size changes by delta and the entries behind the element
// move (the count stays). The container itself or one enclosing it
// replaced: the finger is not carried.
struct FingerCarry {
  bool carry = false;
  bool before = false;
  bool among = false;
  int64_t finger_word = 0;  // the finger's entry, from the block's start
};

FingerCarry plan_carry(EngineContext* ctx, const EntryFinger& f, int32_t block, int64_t offset, int64_t old_len,
                       int64_t delta) {
  FingerCarry c;
  if (f.block != block || !finger_valid(ctx, f)) return c;
  const int64_t container_end = f.at + kElemHeaderWords + int64_t(f.words);
  const int64_t first = finger_first_word(ctx, f);
  c.finger_word = first + f.offset;
  c.before = offset + old_len <= f.at;
  c.among = offset >= first && offset < container_end;
  c.carry = c.before || c.among || offset >= container_end;
  if (c.before && (f.at + delta < 0 || f.at + delta > INT32_MAX)) c.carry = false;
  if (c.among && (int64_t(f.words) + delta < 0 || int64_t(f.words) + delta > INT32_MAX)) c.carry = false;
  return c;
}

void apply_carry(const FingerCarry& c, int32_t block, int64_t offset, int64_t delta, EntryFinger* f) {
  f->block = block;
  if (c.before) {
    f->at = int32_t(f->at + delta);
  } else if (c.among) {
    f->words = uint32_t(int64_t(f->words) + delta);
    if (c.finger_word > offset) f->offset = int32_t(f->offset + delta);
  }
}

// The offset indexes of a block, carried over the same change by the same
// plan as the fingers (an index's view is a finger on its first entry): a
// container before the changed element moves whole, which offsets from its
// first entry ignore; one enclosing it has the entries behind the changed
// one moved by delta; one inside it, or the element itself, is dropped.
struct IndexCarry {
  EntryIndexTaken taken[kEntryIndexSlots];
  FingerCarry plan[kEntryIndexSlots];
  int64_t first[kEntryIndexSlots] = {};
  int n = 0;
};

void index_carry_plan(EngineContext* ctx, int32_t block, int64_t offset, int64_t old_len, int64_t delta,
                      IndexCarry* c) {
  c->n = entry_index_take_block(ctx, block, c->taken);
  for (int t = 0; t < c->n; ++t) {
    c->plan[t] = plan_carry(ctx, c->taken[t].view, block, offset, old_len, delta);
    if (c->plan[t].carry) c->first[t] = finger_first_word(ctx, c->taken[t].view);
  }
}

// The entry holding the changed element, in the container with the most
// entries whose index holds it (the longest walk saved), as the start of the
// walk that corrects the sizes.
void index_carry_hint(const IndexCarry& c, int64_t offset, int64_t* hint_container, int64_t* hint_start) {
  int64_t best = -1;
  for (int t = 0; t < c.n; ++t) {
    if (!c.plan[t].carry || !c.plan[t].among || c.taken[t].view.count <= best) continue;
    const int64_t j = entry_index_entry_of(c.taken[t].held, offset - c.first[t]);
    if (j < 0) continue;
    best = c.taken[t].view.count;
    *hint_container = c.taken[t].view.at;
    *hint_start = c.first[t] + entry_index_at(c.taken[t].held, j);
  }
}

void index_carry_apply(EngineContext* ctx, int32_t block, int64_t offset, int64_t delta, IndexCarry* c) {
  for (int t = 0; t < c->n; ++t) {
    if (!c->plan[t].carry) continue;
    EntryFinger& view = c->taken[t].view;
    apply_carry(c->plan[t], block, offset, delta, &view);
    if (c->plan[t].among && delta != 0) entry_index_shift(&c->taken[t].held, offset - c->first[t], delta);
    entry_index_put(ctx, view, std::move(c->taken[t].held));
  }
}

// Appends m empty entries to the referenced list or cell array (behind its
// last entry; a cell array's caller rewrites its sizes). A finger on this
// container stays on its entry: nothing before the end moved.
int ref_append_entries(EngineContext* ctx, VarRef* r, int64_t m) {
  const int64_t list = r->offset;
  const int64_t at = list + kElemHeaderWords + elem_word(ref_element(ctx, *r), 1);
  if (tn::mul64(m, kElemHeaderWords) + at > INT32_MAX || m > INT32_MAX) return kObjectTooLarge;
  EntryFinger* f = finger_at(ctx, r->block, list);
  const int i = f ? int(f - ctx->entry_finger) : 0;
  EntryFinger keep = f ? *f : EntryFinger{};
  const bool carry = f && int64_t(keep.count) + m <= INT32_MAX;
  // The list's own index gains the new entries' offsets; the other indexes
  // of the block see the list as one element grown by the new words.
  const int64_t grown = kElemHeaderWords * m;
  IndexCarry others;
  index_carry_plan(ctx, r->block, list, at - list, grown, &others);
  EntryIndexHeld own;
  for (int t = 0; t < others.n; ++t) {
    const EntryFinger& v = others.taken[t].view;
    if (carry && v.at == list && v.words == keep.words && v.count == keep.count) own = std::move(others.taken[t].held);
  }
  const int64_t appended_word = carry ? at - finger_first_word(ctx, keep) : 0;
  TN_TRY(block_splice(ctx, r, at, 0, grown));
  uint64_t* base = heap_words(ctx) + r->block;
  for (int64_t i = 0; i < m; ++i) elem_set_header(base + at + kElemHeaderWords * i, kKindReal, 0, 0, 0);
  block_adjust_enclosing(ctx, r->block, list, kElemHeaderWords * m);
  reinterpret_cast<uint32_t*>(base + list)[1] += uint32_t(kElemHeaderWords * m);
  if (carry) {
    keep.block = r->block;
    keep.words += uint32_t(kElemHeaderWords * m);
    keep.count += int32_t(m);
    ctx->entry_finger[i] = keep;
    entry_index_append(&own, appended_word, m, kElemHeaderWords);
    entry_index_put(ctx, keep, std::move(own));
  }
  index_carry_apply(ctx, r->block, list, grown, &others);
  return kOk;
}

// Grows the referenced row or column cell array (or empty one) to dims by
// new empty entries behind its last: its entries keep their order, so only
// the size vector changes (two sizes before and after: same words).
int ref_cell_append(EngineContext* ctx, VarRef* r, const Entries& ent, const int32_t* dims) {
  const int64_t count = int64_t(dims[0]) * dims[1];
  TN_TRY(ref_append_entries(ctx, r, count - ent.count));
  auto* sizes = reinterpret_cast<uint8_t*>(elem_data(ref_element(ctx, *r) + kElemHeaderWords)) +
                typed_header_bytes(kCellSizeNdims);
  tn::st_i32(sizes, dims[0]);
  tn::st_i32(sizes + 4, dims[1]);
  return kOk;
}

// The entries of the referenced value, through the entry finger.
bool ref_entries(EngineContext* ctx, const VarRef& r, Entries* ent) {
  return block_entries(ctx, r.block, r.offset, ent);
}

// A list is one row: it holds a position given by one subscript, or by a
// first subscript 1 (0 here) and no page beyond the first.
bool list_row_position(const int64_t* pos, int n, int64_t* along) {
  if (n == 1) {
    *along = pos[0];
    return true;
  }
  for (int i = 0; i < n; ++i)
    if (i != 1 && pos[i] != 0) return false;
  *along = pos[1];
  return true;
}

// The brace step on the reference below the n subscripts on top.
int ref_element_step(EngineContext* ctx, int n) {
  VarRef r;
  if (!ref_at(ctx, n, &r)) return TN_ILLEGAL();
  // A brace store steps across the gap in the value's block; anything else
  // reads the block closed.
  if (entry_gap_open_in(ctx, r.block) && !entry_gap_serves_step(ctx, r)) entry_gap_close(ctx);
  uint64_t* e = ref_element(ctx, r);
  const int32_t container = r.offset;
  Entries ent;
  if (!ref_entries(ctx, r, &ent)) {
    if (!(r.assign && r.created && elem_data_words(e) == 0)) {
      int32_t index = kNoArgument;
      double v;
      if (n == 1 && stk_get_real_scalar(ctx, 0, &v) == kOk && v >= 0 && v < 2147483647.0) index = int32_t(v);
      return err_raise_code(ctx, kElementOfNonList, r.slot, 0, index, nullptr);
    }
    elem_set_header(e, kKindContainer, 0, kContList, elem_name(e));
    ref_entries(ctx, r, &ent);
  }
  int64_t pos[kMaxSubscripts];
  int64_t bad = -1;
  int status = index_list_subscripts(ctx, pos, n, &bad);
  if (status == kNonIntegerIndex || status == kIndexOutOfRange || status == kBadListIndex)
    return err_raise_code(ctx, status, r.slot, 0, bad > INT32_MAX ? kNoArgument : int32_t(bad), nullptr);
  TN_TRY(status);
  BracePlace place;
  if (brace_place(ent, pos, n, &place) == kWrongIndexCount)
    return err_raise_code(ctx, kWrongIndexCount, r.slot, 0, n, nullptr);
  int32_t dims_scratch[kMaxDims];
  int nd_scratch = 0;
  if (place.beyond) {
    entry_gap_close_in(ctx, r.block);  // growth rewrites the container
    if (!r.assign)
      return err_raise_code(ctx, kIndexOutOfRange, r.slot, 0,
                            place.bad > INT32_MAX ? kNoArgument : int32_t(place.bad), nullptr);
    int64_t along = 0;
    if (!ent.cell && list_row_position(pos, n, &along)) {
      TN_TRY(ref_append_entries(ctx, &r, along + 1 - ent.count));
      place.linear = along;
    } else if (ent.cell && n == 1 && ent.ndims == 2 && ent.count == int64_t(ent.dims[0]) * ent.dims[1] &&
               brace_grown_shape(ent, pos, n, dims_scratch, &nd_scratch) == kOk) {
      // A row, column or empty cell array grown by one subscript keeps its
      // entries in order: the new ones go behind them.
      TN_TRY(ref_cell_append(ctx, &r, ent, dims_scratch));
      place.linear = pos[0];
    } else {
      // A list holding entries is one row; only an empty one may take a shape.
      if (!ent.cell && ent.count > 0)
        return err_raise_code(ctx, kIndexOutOfRange, r.slot, 0, int32_t(place.bad), nullptr);
      int32_t dims[kMaxDims];
      int nd = 0;
      if (brace_grown_shape(ent, pos, n, dims, &nd) != kOk)
        return err_raise_code(ctx, kIndexOutOfRange, r.slot, 0, int32_t(place.bad), nullptr);
      TN_TRY(ref_cell_grow(ctx, &r, ent, dims, nd));
      uint32_t udims[kMaxDims];
      for (int i = 0; i < nd; ++i) udims[i] = uint32_t(dims[i]);
      place.linear = index_linear_from_subs(nd, udims, n, pos);
    }
    ref_entries(ctx, r, &ent);
    r.created = 1;
  } else {
    r.created = 0;
  }
  if (entry_gap_open_in(ctx, r.block)) {
    const int64_t at = entry_gap_seek(ctx, r.block, ent, place.linear);
    if (at >= 0) {
      r.offset = int32_t(at);
      ref_put(ctx, 0, r);
      return kOk;
    }
    entry_gap_close(ctx);
  }
  const uint64_t* target = finger_seek(ctx, r.block, container, ent, place.linear);
  r.offset = int32_t(target - (heap_words(ctx) + r.block));
  ref_put(ctx, 0, r);
  return kOk;
}

// The brace step on a list or cell value below the n subscripts on top.
int plain_element_step(EngineContext* ctx, int n) {
  const uint32_t* d = desc_at(ctx, n);
  Entries ent;
  if (!container_entries(d, item_data(ctx, n), &ent)) return kWrongArgType;
  int64_t pos[kMaxSubscripts];
  TN_TRY(index_list_subscripts(ctx, pos, n, nullptr));
  BracePlace place;
  TN_TRY(brace_place(ent, pos, n, &place));
  if (place.beyond) return kIndexOutOfRange;
  container_entries(desc_at(ctx, 0), item_data(ctx, 0), &ent);
  const uint64_t* target = ent.first;
  for (int64_t i = 0; i < place.linear; ++i) target += elem_total_words(target);
  replace_top_with_element(ctx, target);
  return kOk;
}

}  // namespace

// --- Blocks -------------------------------------------------------------------------

namespace {

// The words in place, then the references that callers below hold into them.
int splice_in_place(EngineContext* ctx, VarRef* r, int64_t at, int64_t old_len, int64_t new_len) {
  const int64_t delta = new_len - old_len;
  uint64_t* heap = heap_words(ctx);
  const int64_t total = elem_total_words(heap + r->block);
  const int64_t tail = total - (at + old_len);
  if (delta < 0) {
    uint64_t* base = heap + r->block;
    std::memmove(base + at + new_len, base + at + old_len, size_t(tail) * 8);
    heap_block_shrink(ctx, r->block, total + delta);
    return kOk;
  }
  if (heap_block_size(ctx, r->block) >= total + delta) {
    // Room an earlier growth left: the words behind move up where they are.
    uint64_t* base = heap + r->block;
    std::memmove(base + at + new_len, base + at + old_len, size_t(tail) * 8);
    return kOk;
  }
  return -1;
}

}  // namespace

int block_splice(EngineContext* ctx, VarRef* r, int64_t at, int64_t old_len, int64_t new_len) {
  const int64_t delta = new_len - old_len;
  if (delta == 0) return kOk;
  finger_forget(ctx, r->block);  // the caller carries it over when it can
  const int32_t was = r->block;
  if (splice_in_place(ctx, r, at, old_len, new_len) == kOk) {
    if (outer_refs_may_see(ctx, r->slot_word)) outer_refs_splice(ctx, was, was, at, old_len, new_len);
    return kOk;
  }
  uint64_t* heap = heap_words(ctx);
  const int64_t total = elem_total_words(heap + r->block);
  const int64_t tail = total - (at + old_len);
  const int64_t want = total + delta;
  // A growing block takes half as much again, so that growing a value step
  // by step (appending in a loop) copies each word a bounded number of times.
  int32_t fresh = 0;
  if (heap_alloc(ctx, want + want / 2, &fresh) != kOk) TN_TRY(heap_alloc(ctx, want, &fresh));
  heap = heap_words(ctx);
  std::memcpy(heap + fresh, heap + r->block, size_t(at) * 8);
  std::memcpy(heap + fresh + at + new_len, heap + r->block + at + old_len, size_t(tail) * 8);
  SlotTarget t;
  slot_locate_word(ctx, r->slot_word, &t);
  if (!slot_keeps_block(t)) heap_free(ctx, r->block);
  slot_set_block(ctx, t, fresh);
  r->block = fresh;
  if (outer_refs_may_see(ctx, r->slot_word)) outer_refs_splice(ctx, was, fresh, at, old_len, new_len);
  return kOk;
}

void block_adjust_enclosing(EngineContext* ctx, int32_t block, int64_t target, int64_t delta) {
  block_adjust_enclosing_from(ctx, block, target, delta, -1, 0);
}

void block_adjust_enclosing_from(EngineContext* ctx, int32_t block, int64_t target, int64_t delta,
                                 int64_t hint_container, int64_t hint_start) {
  uint64_t* base = heap_words(ctx) + block;
  int64_t cur = 0;
  while (cur != target) {
    uint64_t* c = base + cur;
    if (elem_kind(c) != kKindContainer) return;
    const int64_t end = cur + kElemHeaderWords + elem_word(c, 1);
    int64_t at = cur == hint_container ? hint_start : cur + kElemHeaderWords;
    while (at < end && !(target >= at && target < at + int64_t(elem_total_words(base + at))))
      at += elem_total_words(base + at);
    if (at >= end) return;  // not inside: a damaged block is left alone
    reinterpret_cast<uint32_t*>(c)[1] = uint32_t(int64_t(elem_word(c, 1)) + delta);
    cur = at;
  }
}

int ref_store_value(EngineContext* ctx, VarRef* r, const uint32_t* h, const uint64_t* data) {
  const int through_gap = entry_gap_store(ctx, r, h, data);
  if (through_gap >= 0) return through_gap;
  entry_gap_close_in(ctx, r->block);
  uint64_t* e = ref_element(ctx, *r);
  const int32_t name = elem_name(e);
  const int64_t old_len = elem_total_words(e);
  const int64_t new_len = kElemHeaderWords + int64_t(desc_data_words(h));
  const int64_t delta = new_len - old_len;
  const uint32_t kind = h[0], a = h[1], b = h[2];
  FingerCarry plans[kEntryFingers];
  EntryFinger kept[kEntryFingers];
  for (int i = 0; i < kEntryFingers; ++i) {
    kept[i] = ctx->entry_finger[i];
    plans[i] = plan_carry(ctx, kept[i], r->block, r->offset, old_len, delta);
  }
  IndexCarry indexes;
  index_carry_plan(ctx, r->block, r->offset, old_len, delta, &indexes);
  finger_forget(ctx, r->block);
  TN_TRY(block_splice(ctx, r, r->offset, old_len, new_len));
  // A store of the same length tells the callers' references here; a splice
  // told them itself.
  if (delta == 0 && outer_refs_may_see(ctx, r->slot_word))
    outer_refs_splice(ctx, r->block, r->block, r->offset, old_len, new_len);
  e = ref_element(ctx, *r);
  elem_set_header(e, kind, a, b, name);
  std::memmove(e + kElemHeaderWords, data, size_t(new_len - kElemHeaderWords) * 8);
  // The walk to the changed element starts at a finger's entry when that
  // lies at or before it in the same container.
  if (delta != 0) {
    int64_t hint_container = -1, hint_start = 0;
    // or, better, at the entry holding it, which an index finds at once.
    for (int i = 0; i < kEntryFingers; ++i)
      if (plans[i].carry && plans[i].among && plans[i].finger_word <= r->offset) {
        hint_container = kept[i].at;
        hint_start = plans[i].finger_word;
      }
    index_carry_hint(indexes, r->offset, &hint_container, &hint_start);
    block_adjust_enclosing_from(ctx, r->block, r->offset, delta, hint_container, hint_start);
  }
  for (int i = 0; i < kEntryFingers; ++i)
    if (plans[i].carry) {
      apply_carry(plans[i], r->block, r->offset, delta, &kept[i]);
      ctx->entry_finger[i] = kept[i];
    }
  index_carry_apply(ctx, r->block, r->offset, delta, &indexes);
  return kOk;
}

// --- References on the stack ----------------------------------------------------------

int ref_push(EngineContext* ctx, const VarRef& r) {
  if (!desc_room(ctx)) return kStackOverflow;
  if (int64_t(kRefDataWords) > data_free_words(ctx)) return kDataStackOverflow;
  stk_claim(ctx, kKindReference, kRefDataWords, 0, kRefDataWords);
  ref_put(ctx, 0, r);
  return kOk;
}

int ref_deref_at(EngineContext* ctx, int depth) {
  VarRef r;
  if (!ref_at(ctx, depth, &r)) return TN_ILLEGAL();
  const uint64_t* e = ref_element(ctx, r);
  const uint32_t n = elem_data_words(e);
  if (depth == 0) {
    // The reference's own words are free again before the copy is pushed.
    if (int64_t(n) > data_free_words(ctx) + kRefDataWords) return kDataStackOverflow;
    stk_drop(ctx);
    uint64_t* p = stk_claim(ctx, elem_word(e, 0), elem_word(e, 1), elem_word(e, 2), n);
    std::memcpy(p, e + kElemHeaderWords, size_t(n) * 8);
    return kOk;
  }
  if (!desc_room(ctx)) return kStackOverflow;
  if (int64_t(n) > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* p = stk_claim(ctx, elem_word(e, 0), elem_word(e, 1), elem_word(e, 2), n);
  std::memcpy(p, e + kElemHeaderWords, size_t(n) * 8);
  stk_replace_with_top(ctx, depth);
  return kOk;
}

int var_push_ref(EngineContext* ctx, int32_t k, int assign_flag) {
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  if (!desc_room(ctx)) return err_raise_code(ctx, kStackOverflowVar, k, 0, kNoArgument, nullptr);
  if (int64_t(kRefDataWords) > data_free_words(ctx))
    return err_raise_code(ctx, kDataStackOverflowVar, k, 0, kNoArgument, nullptr);
  uint32_t created = 0;
  // An assignment changes the variable where it lies: a borrowed argument
  // first gets its own copy, so that the caller's value stays as it was.
  if (assign_flag) TN_TRY(slot_detach(ctx, &t));
  if (t.block == kNoBlock) {
    if (!assign_flag) return err_raise_code(ctx, kUndefinedVariable, k, 0, kNoArgument, nullptr);
    // The target of an assignment starts as an empty list that the steps
    // below may still turn into a struct, a longer list or an array.
    int32_t block = 0;
    TN_TRY(heap_alloc(ctx, kElemHeaderWords, &block));
    elem_set_header(heap_words(ctx) + block, kKindContainer, 0, kContList, 0);
    slot_set_block(ctx, t, block);
    t.block = block;
    created = 1;
  }
  if (!assign_flag) entry_gap_close_in(ctx, t.block);  // a reading reference sees the block closed
  return ref_push(ctx, VarRef{assign_flag ? 1u : 0u, t.slot_word, t.block, 0, created, k});
}

int ref_deref_top(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0) || desc_at(ctx, 0)[0] != kKindReference) return kOk;
  return ref_deref_at(ctx, 0);
}

int op_ref_step(EngineContext* ctx, int32_t symbol, int32_t method_class) {
  if (!stk_has_item(ctx, 0)) return TN_ILLEGAL();
  if (desc_at(ctx, 0)[0] == kKindReference) return ref_field_step(ctx, 0, symbol, method_class);
  uint64_t* field = nullptr;
  TN_TRY(plain_field(ctx, 0, symbol, method_class, &field));
  replace_top_with_element(ctx, field);
  return kOk;
}

int op_ref_step_dynfield(EngineContext* ctx, int32_t method_class) {
  if (!stk_has_item(ctx, 1)) return TN_ILLEGAL();
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.subtype != kPayChar || t.type != kElemU16) return kWrongArgType;
  char name[kFieldNameLimit + 1];
  const int64_t n = t.count;
  if (n > kFieldNameLimit) return kNameTooLong;
  TN_TRY(wchars_to_name_bytes(t.elems, n, name));
  int32_t symbol = 0;
  TN_TRY(symtab_intern(ctx, name, int32_t(n), kFieldNameLimit, &symbol));
  // Every check runs while the name is still on top, so a failure leaves the
  // stack as the instruction found it.
  if (desc_at(ctx, 1)[0] == kKindReference) {
    TN_TRY(ref_field_step(ctx, 1, symbol, method_class));
    stk_drop(ctx);
    return kOk;
  }
  uint64_t* field = nullptr;
  TN_TRY(plain_field(ctx, 1, symbol, method_class, &field));
  stk_drop(ctx);
  return op_ref_step(ctx, symbol, method_class);
}

int op_ref_step_element(EngineContext* ctx, int n) {
  if (n > kMaxSubscripts) return kBadDimension;
  if (n < 1 || !stk_has_item(ctx, n)) return TN_ILLEGAL();
  if (desc_at(ctx, n)[0] == kKindReference) return ref_element_step(ctx, n);
  return plain_element_step(ctx, n);
}

int op_ref_assign(EngineContext* ctx) {
  if (!stk_has_item(ctx, 1) || desc_at(ctx, 0)[0] != kKindReference) return TN_ILLEGAL();
  const uint32_t kind = desc_at(ctx, 1)[0];
  if (kind == kKindNoValue) {
    stk_drop(ctx);
    stk_drop(ctx);
    return kOk;
  }
  if (kind == kKindReference) TN_TRY(ref_deref_at(ctx, 1));
  VarRef r;
  if (!ref_at(ctx, 0, &r)) return TN_ILLEGAL();
  TN_TRY(ref_store_value(ctx, &r, desc_at(ctx, 1), item_data(ctx, 1)));
  stk_drop(ctx);
  stk_drop(ctx);
  return kOk;
}
