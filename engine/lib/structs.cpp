// Structure intrinsics: building structures, testing, reading, setting and
// removing fields, listing and reordering them. Fields are container elements
// named by symbol; every result is built above the arguments (or on a copy)
// and then takes their place, so an error leaves the arguments as they were.
// Only names interned on the way stay behind.
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "engine/lib/container_access.h"
#include "engine/lib/container_builtins.h"
#include "engine/lib/operands.h"
#include "numlib/shellsort.h"

namespace {

using clib::Walk;

// Parent objects nest by containment; a deeper chain is not searched.
constexpr int kMaxParentDepth = 32;

// The 8-bit form of a name argument.
struct NameArg {
  char bytes[clib::kNameBytes];
  int32_t length = 0;
  bool too_long = false;  // longer than any name can be
};

// The char array at depth as a name; kWrongArgType when it is not a char array.
int name_arg(EngineContext* ctx, int depth, NameArg* out) {
  const uint16_t* s;
  int64_t n;
  if (!clib::item_chars(ctx, depth, &s, &n)) return kWrongArgType;
  return clib::name_bytes(s, n, out->bytes, clib::kNameBytes, &out->length, &out->too_long);
}

// The same for a list entry: kWrongArgType when it is no text.
int name_of_elem(const uint64_t* e, NameArg* out) {
  const uint16_t* s;
  int64_t n;
  if (!clib::elem_chars(e, &s, &n)) return kWrongArgType;
  return clib::name_bytes(s, n, out->bytes, clib::kNameBytes, &out->length, &out->too_long);
}

// The text of a field-name symbol; "" for 0 (an unnamed element).
const char* symbol_text(EngineContext* ctx, int32_t sym, int32_t* length) {
  *length = 0;
  const char* s = sym != 0 ? symtab_name(ctx, sym, length) : nullptr;
  if (!s) *length = 0;
  return s ? s : "";
}

const char* field_name(EngineContext* ctx, const uint64_t* e, int32_t* length) {
  return symbol_text(ctx, elem_name(e), length);
}

// Byte-wise name comparison, for names that may never have been interned.
bool field_named(EngineContext* ctx, const uint64_t* e, const NameArg& name) {
  if (name.too_long || elem_name(e) == 0) return false;
  int32_t len;
  const char* s = field_name(ctx, e, &len);
  return len == name.length && std::memcmp(s, name.bytes, static_cast<size_t>(len)) == 0;
}

bool is_struct(EngineContext* ctx, int depth) { return clib::is_container(ctx, depth, kContStruct); }

// The class whose method the current frame runs; 0 outside class methods.
int32_t method_class(EngineContext* ctx) {
  if (ctx->frame < 0) return 0;
  return static_cast<int32_t>(frame_words(ctx, ctx->frame)[kFwMethodClass]);
}

// The part of a structure or object whose fields may be read and set: its
// data words [start, start + words) relative to the item's data, and the
// element headers of the parent objects that enclose it (their sizes change
// with it).
struct FieldScope {
  int64_t start = 0;
  int64_t words = 0;
  int64_t path[kMaxParentDepth];
  int depth = 0;
};

bool is_parent_field(const uint64_t* e) {
  const uint32_t sub = elem_word(e, 2);
  return elem_kind(e) == kKindContainer && clib::is_user_object_subtype(sub) &&
         static_cast<int32_t>(sub) == elem_name(e);
}

// Searches the parent objects held in [start, start + words) for the one of
// class cls, depth first in field order.
bool find_part(const uint64_t* base, int64_t start, int64_t words, int32_t cls, FieldScope* scope) {
  if (scope->depth == kMaxParentDepth) return false;
  for (Walk w{const_cast<uint64_t*>(base) + start, words}; !w.done(); w.next()) {
    if (!is_parent_field(w.at)) continue;
    const int64_t at = w.at - base;
    scope->path[scope->depth++] = at;
    const int64_t inner = at + kElemHeaderWords, inner_words = elem_data_words(w.at);
    if (elem_name(w.at) == cls) {
      scope->start = inner;
      scope->words = inner_words;
      return true;
    }
    if (find_part(base, inner, inner_words, cls, scope)) return true;
    --scope->depth;
  }
  return false;
}

// A structure's fields, or the part of an object the running class may see:
// all of it in the object's own class methods, a parent object of the running
// class found inside it, else nothing (kPrivateField). kWrongArgType for any other argument.
int field_scope(EngineContext* ctx, int depth, FieldScope* scope) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindContainer || d[2] == kContList || d[2] == kContCell) return kWrongArgType;
  scope->start = 0;
  scope->words = d[1];
  scope->depth = 0;
  const int32_t running = method_class(ctx);
  if (d[2] == kContStruct || static_cast<int32_t>(d[2]) == running) return kOk;
  if (running == 0 || !find_part(item_data(ctx, depth), 0, d[1], running, scope)) return kPrivateField;
  return kOk;
}

// Word offset (relative to the item's data) of the first field of that
// symbol in the scope, -1 when none.
int64_t find_field(EngineContext* ctx, int depth, const FieldScope& scope, int32_t sym) {
  uint64_t* base = item_data(ctx, depth);
  for (Walk w{base + scope.start, scope.words}; !w.done(); w.next())
    if (elem_name(w.at) == sym) return w.at - base;
  return -1;
}

int intern_name(EngineContext* ctx, const NameArg& name, int32_t* sym) {
  if (name.too_long) return kNameTooLong;
  return symtab_intern(ctx, name.bytes, name.length, kFieldNameLimit, sym);
}

// struct's name/value pairs lie at depths top - 1 - 2i (name) and top - 2 - 2i
// (value), pair 0 deepest. Names compare by their characters.
bool pair_names_equal(EngineContext* ctx, int top, int i, int j) {
  const uint16_t *a, *b;
  int64_t na, nb;
  if (!clib::item_chars(ctx, top - 1 - 2 * i, &a, &na) || !clib::item_chars(ctx, top - 1 - 2 * j, &b, &nb))
    return false;
  return na == nb && std::memcmp(a, b, size_t(na) * 2) == 0;
}

int first_pair_of_name(EngineContext* ctx, int top, int i) {
  for (int j = 0; j < i; ++j)
    if (pair_names_equal(ctx, top, i, j)) return j;
  return i;
}

int last_pair_of_name(EngineContext* ctx, int top, int pairs, int i) {
  int last = i;
  for (int j = i + 1; j < pairs; ++j)
    if (pair_names_equal(ctx, top, i, j)) last = j;
  return last;
}

int push_empty_struct(EngineContext* ctx) {
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindContainer, 0, kContStruct, 0);
  return kOk;
}

// --- orderfields --------------------------------------------------------------

struct FieldTable {
  EngineContext* ctx;
  const int32_t* syms;
};

// Byte-wise order of two fields' names: the first differing byte decides, a
// prefix comes first.
int32_t cmp_field_names(int32_t x, int32_t y, void* context) {
  const auto* t = static_cast<const FieldTable*>(context);
  int32_t lx = 0, ly = 0;
  const char* a = symbol_text(t->ctx, t->syms[x], &lx);
  const char* b = symbol_text(t->ctx, t->syms[y], &ly);
  const int32_t n = lx < ly ? lx : ly;
  for (int32_t i = 0; i < n; ++i) {
    const auto p = static_cast<uint8_t>(a[i]), q = static_cast<uint8_t>(b[i]);
    if (p != q) return p < q ? -1 : 1;
  }
  return lx - ly;
}

// Scratch for m fields, kept at the far end of the data stack: each field's
// word offset and symbol, the permutation and a mark per field.
struct OrderScratch {
  int32_t* offs;
  int32_t* syms;
  int32_t* perm;
  uint8_t* seen;
};
int64_t order_scratch_words(int64_t m) { return (13 * m + 7) / 8; }

// Position (0-based) of the first field of s named like `name`, -1 when none.
int32_t field_position(EngineContext* ctx, int s_depth, const NameArg& name) {
  int32_t k = 0;
  for (Walk w = clib::walk_items(ctx, s_depth); !w.done(); w.next(), ++k)
    if (field_named(ctx, w.at, name)) return k;
  return -1;
}

// The permutation an order argument at depth 0 gives for the m fields of s.
int order_permutation(EngineContext* ctx, int s_depth, int32_t m, OrderScratch& x) {
  const uint32_t* d = desc_at(ctx, 0);
  const NumOperand o = num_operand(ctx, 0);
  if (o.kind == NumKind::kDouble) {
    if (o.count != m) return kBadSize;
    const auto* re = static_cast<const double*>(o.re);
    const auto* im = static_cast<const double*>(o.im);
    for (int32_t k = 0; k < m; ++k)
      if (std::floor(re[k]) != re[k] || (im && im[k] != 0)) return kNonIntegerArg;
    for (int32_t k = 0; k < m; ++k) {
      if (!(re[k] >= 1 && re[k] <= m)) return kNotPermutation;
      x.perm[k] = static_cast<int32_t>(re[k]) - 1;
    }
    return kOk;
  }
  if (d[0] != kKindContainer || clib::is_user_object_subtype(d[2])) return kWrongType;
  const bool by_struct = d[2] == kContStruct;
  Walk w = by_struct ? clib::walk_items(ctx, 0) : clib::walk_entries(ctx, 0);
  if (clib::count_walk(w) != m) return kBadSize;
  for (int32_t k = 0; !w.done(); w.next(), ++k) {
    NameArg name;
    if (by_struct) {
      int32_t len;
      const char* s = field_name(ctx, w.at, &len);
      std::memcpy(name.bytes, s, static_cast<size_t>(len));
      name.length = len;
      if (len == 0) return kBadArgument;
    } else if (name_of_elem(w.at, &name) != kOk) {
      return kBadArgument;
    }
    x.perm[k] = field_position(ctx, s_depth, name);
    if (x.perm[k] < 0) return kBadArgument;
  }
  return kOk;
}

}  // namespace

int bi_isstruct(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  TN_TRY(stk_push_logical_scalar(ctx, is_struct(ctx, 0) ? 1 : 0));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_struct(EngineContext* ctx, int nargin) {
  if (nargin == 0) return push_empty_struct(ctx);
  if (nargin < 0 || !stk_has_item(ctx, nargin - 1)) return kBadArgument;
  if (nargin == 1) {
    // A structure or object becomes a plain structure. A cell array is
    // refused: its size vector would become a nameless field.
    uint32_t* d = desc_at(ctx, 0);
    if (d[0] != kKindContainer || d[2] == kContList || d[2] == kContCell) return kWrongArgType;
    d[2] = kContStruct;
    return kOk;
  }
  if (nargin % 2 != 0) return kTooFewInputs;
  const int pairs = nargin / 2;
  // Names are checked before anything is built. A name given again names the
  // same field, in the place of its first pair with the value of its last.
  int64_t words = 0;
  for (int i = 0; i < pairs; ++i) {
    NameArg name;
    TN_TRY(name_arg(ctx, nargin - 1 - 2 * i, &name));
    if (name.length == 0) return kNullName;
    if (name.too_long || name.length > kFieldNameLimit) return kNameTooLong;
    if (first_pair_of_name(ctx, nargin, i) != i) continue;
    const int last = last_pair_of_name(ctx, nargin, pairs, i);
    words += kElemHeaderWords + desc_data_words(desc_at(ctx, nargin - 2 - 2 * last));
  }
  uint64_t* out = nullptr;
  TN_TRY(clib::claim_container(ctx, words, kContStruct, &out));
  for (int i = 0; i < pairs; ++i) {
    // Depths count the new structure on top.
    if (first_pair_of_name(ctx, nargin + 1, i) != i) continue;
    const int last = last_pair_of_name(ctx, nargin + 1, pairs, i);
    NameArg name;
    name_arg(ctx, nargin - 2 * i, &name);
    int32_t sym = 0;
    const int status = intern_name(ctx, name, &sym);
    if (status != kOk) {
      stk_drop(ctx);
      return status;
    }
    const int vdepth = nargin - 1 - 2 * last;
    const uint32_t* vd = desc_at(ctx, vdepth);
    const uint32_t vw = desc_data_words(vd);
    elem_set_header(out, vd[0], vd[1], vd[2], sym);
    std::memcpy(out + kElemHeaderWords, item_data(ctx, vdepth), size_t{vw} * 8);
    out += kElemHeaderWords + vw;
  }
  return stk_remove(ctx, 1, nargin);
}

int bi_isfield(EngineContext* ctx) {
  TN_TRY(stk_argcheck(ctx, 2, "tS"));
  NameArg name;
  TN_TRY(name_arg(ctx, 0, &name));
  bool found = false;
  for (Walk w = clib::walk_items(ctx, 1); !w.done() && !found; w.next()) found = field_named(ctx, w.at, name);
  TN_TRY(stk_push_logical_scalar(ctx, found ? 1 : 0));
  return stk_remove(ctx, 1, 2);
}

int bi_getfield(EngineContext* ctx) {
  if (!stk_has_item(ctx, 1)) return kWrongArgType;
  NameArg name;
  TN_TRY(name_arg(ctx, 0, &name));
  FieldScope scope;
  const uint32_t* d = desc_at(ctx, 1);
  if (d[0] != kKindContainer || d[2] == kContList || d[2] == kContCell) return kWrongArgType;
  // A name never interned is no field of anything: no walk needed.
  const int32_t sym = name.too_long ? 0 : symtab_find(ctx, name.bytes, name.length);
  if (sym == 0) return kUndefinedField;
  TN_TRY(field_scope(ctx, 1, &scope));
  const int64_t at = find_field(ctx, 1, scope, sym);
  if (at < 0) return kUndefinedField;
  TN_TRY(clib::push_elem_copy(ctx, item_data(ctx, 1) + at));
  return stk_remove(ctx, 1, 2);
}

int bi_setfield(EngineContext* ctx) {
  if (!stk_has_item(ctx, 2)) return kWrongArgType;
  NameArg name;
  TN_TRY(name_arg(ctx, 1, &name));
  FieldScope scope;
  TN_TRY(field_scope(ctx, 2, &scope));
  int32_t sym = 0;
  TN_TRY(intern_name(ctx, name, &sym));

  const int64_t s_words = desc_at(ctx, 2)[1];
  const int64_t at = find_field(ctx, 2, scope, sym);
  const int64_t insert = at >= 0 ? at : scope.start + scope.words;
  const int64_t old_len = at >= 0 ? elem_total_words(item_data(ctx, 2) + at) : 0;
  const uint32_t vw = desc_data_words(desc_at(ctx, 0));
  const int64_t delta = kElemHeaderWords + int64_t{vw} - old_len;
  uint64_t* out = nullptr;
  TN_TRY(clib::claim_container(ctx, s_words + delta, desc_at(ctx, 2)[2], &out));
  // s, name and v now lie at depths 3, 2 and 1.
  const uint64_t* s = item_data(ctx, 3);
  const uint32_t* vd = desc_at(ctx, 1);
  std::memcpy(out, s, static_cast<size_t>(insert) * 8);
  elem_set_header(out + insert, vd[0], vd[1], vd[2], sym);
  std::memcpy(out + insert + kElemHeaderWords, item_data(ctx, 1), size_t{vw} * 8);
  std::memcpy(out + insert + kElemHeaderWords + vw, s + insert + old_len,
              static_cast<size_t>(s_words - insert - old_len) * 8);
  // The parent objects around the part grow or shrink with it.
  for (int i = 0; i < scope.depth; ++i) {
    auto* h = reinterpret_cast<uint8_t*>(out + scope.path[i]) + 4;
    tn::st_u32(h, static_cast<uint32_t>(tn::ld_u32(h) + delta));
  }
  return stk_remove(ctx, 1, 3);
}

int bi_rmfield(EngineContext* ctx) {
  if (!stk_has_item(ctx, 1) || !is_struct(ctx, 1)) return kWrongArgType;
  const bool one = stk_is_char(ctx, 0) != 0;
  if (!one) {
    if (!clib::is_list_like(ctx, 0)) return kWrongArgType;
    const uint16_t* s;
    int64_t n;
    for (Walk w = clib::walk_entries(ctx, 0); !w.done(); w.next())
      if (!clib::elem_chars(w.at, &s, &n)) return kWrongArgType;
  }
  TN_TRY(stk_dup(ctx, 1, 1));
  // The copy on top loses the first field of each name in turn; the names
  // below it do not move.
  auto remove_first = [&](const NameArg& name) {
    for (Walk w = clib::walk_items(ctx, 0); !w.done(); w.next()) {
      if (!field_named(ctx, w.at, name)) continue;
      const uint32_t gone = elem_total_words(w.at);
      uint64_t* end = data_words(ctx) + ctx->data_top;
      std::memmove(w.at, w.at + gone, static_cast<size_t>(end - w.at - gone) * 8);
      desc_at(ctx, 0)[1] -= gone;
      ctx->data_top -= static_cast<int32_t>(gone);
      return;
    }
  };
  NameArg name;
  if (one) {
    name_arg(ctx, 1, &name);
    remove_first(name);
  } else {
    const int64_t total = desc_at(ctx, 1)[1];
    const int64_t first = clib::walk_entries(ctx, 1).at - item_data(ctx, 1);
    for (int64_t off = first;;) {
      const Walk w{item_data(ctx, 1) + off, total - off};
      if (w.done()) break;
      off += elem_total_words(w.at);
      name_of_elem(w.at, &name);
      remove_first(name);
    }
  }
  return stk_remove(ctx, 1, 2);
}

int bi_fieldnames(EngineContext* ctx) {
  TN_TRY(stk_argcheck(ctx, 1, "t"));
  const int before = stk_item_count(ctx);
  int32_t k = 0;
  int status = kOk;
  // Each push lies above s, whose elements stay where the walk reads them.
  for (Walk w = clib::walk_items(ctx, 0); !w.done() && status == kOk; w.next()) {
    if (elem_name(w.at) == 0) continue;
    int32_t len;
    const char* s = field_name(ctx, w.at, &len);
    status = stk_push_cstr(ctx, len, s);
    ++k;
  }
  if (status == kOk) status = stk_make_container(ctx, k, 0, nullptr, 0);
  if (status != kOk) {
    clib::pop_to(ctx, before);
    return status;
  }
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_orderfields(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 1 || nargin > 2) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, "t*"));
  const int s_depth = nargin - 1;
  const int32_t m = clib::count_walk(clib::walk_items(ctx, s_depth));
  const int64_t s_words = desc_at(ctx, s_depth)[1];
  const int results = nargout >= 2 ? 2 : 1;
  const int64_t result_words = s_words + (results == 2 ? m : 0);
  if (static_cast<int64_t>(ctx->desc_top) + 3 * results >= static_cast<int64_t>(ctx->desc_capacity))
    return kStackOverflow;
  // The results are pushed below the scratch space: both must fit at once.
  if (result_words + order_scratch_words(m) > data_free_words(ctx)) return kDataStackOverflow;
  void* scratch = nullptr;
  TN_TRY(stk_reserve_top(ctx, order_scratch_words(m), &scratch));
  OrderScratch x;
  x.offs = static_cast<int32_t*>(scratch);
  x.syms = x.offs + m;
  x.perm = x.syms + m;
  x.seen = reinterpret_cast<uint8_t*>(x.perm + m);
  int64_t field_words = 0;  // the elements' own words (a damaged tail is left out)
  {
    const uint64_t* base = item_data(ctx, s_depth);
    int32_t k = 0;
    for (Walk w = clib::walk_items(ctx, s_depth); !w.done(); w.next(), ++k) {
      x.offs[k] = static_cast<int32_t>(w.at - base);
      x.syms[k] = elem_name(w.at);
      field_words += elem_total_words(w.at);
    }
  }
  if (nargin == 1) {
    FieldTable table{ctx, x.syms};
    shellsort_index(m, cmp_field_names, x.perm, &table, 0);
  } else {
    TN_TRY(order_permutation(ctx, s_depth, m, x));
    // A repeated position would copy one field twice and lose another.
    for (int32_t k = 0; k < m; ++k) x.seen[k] = 0;
    for (int32_t k = 0; k < m; ++k) {
      if (x.seen[x.perm[k]]) return kNotPermutation;
      x.seen[x.perm[k]] = 1;
    }
  }

  // Both pushes were tested for room above.
  if (results == 2) {
    double* p = nullptr;
    TN_TRY(stk_push_matrix(ctx, m, 1, &p, nullptr));
    for (int32_t k = 0; k < m; ++k) p[k] = x.perm[k] + 1.0;
  }
  uint64_t* out = nullptr;
  const int status = clib::claim_container(ctx, field_words, kContStruct, &out);
  if (status != kOk) {
    if (results == 2) stk_drop(ctx);
    return status;
  }
  const uint64_t* s = item_data(ctx, s_depth + results);
  for (int32_t k = 0; k < m; ++k) {
    const uint64_t* e = s + x.offs[x.perm[k]];
    const uint32_t w = elem_total_words(e);
    std::memcpy(out, e, size_t{w} * 8);
    out += w;
  }
  return stk_remove(ctx, results, nargin);
}
