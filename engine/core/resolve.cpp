// Name resolution: user functions through a library, its use-list and the
// functions without library; methods of user classes and of their parent
// objects; rows of the registered tables in search order (the last table
// registered first); intrinsics last.
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/libraries.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int kMaxParentDepth = 64;  // nesting of parent objects searched for a method

bool is_object_subtype(uint32_t subtype) { return int32_t(subtype) < 0; }

// A function entry of that name in library lib matching the class request.
int32_t find_in(EngineContext* c, int32_t sym, bool any_class, int32_t csym, int32_t lib, bool own,
                int32_t* class_symbol) {
  for (int32_t id = 1; id < c->fn_count; ++id) {
    const uint32_t* e = fn_entry(c, id);
    if (int32_t(e[kEntName]) != sym || int32_t(e[kEntLink] & kEntryLibraryMask) != lib) continue;
    const int32_t ec = int32_t(e[kEntExtra]);
    // A constructor is the method named after its own class.
    if (!any_class && ec != csym && ec != sym) continue;
    if (!own && (e[kEntLink] & kEntryPrivate) && !c->private_visible) continue;
    if (class_symbol) *class_symbol = ec;
    return id;
  }
  return -1;
}

bool row_named(const BuiltinEntry& row, const char* name) {
  // The first character settles most rows without a call.
  return row.name[0] == name[0] && std::strncmp(row.name, name, sizeof row.name) == 0;
}

int search_parents(EngineContext* c, const char* name, int32_t length, int32_t library, const uint64_t* data,
                   int64_t words, int depth, int32_t* id) {
  if (depth >= kMaxParentDepth) return kDataStackOverflow;
  const uint64_t* e = data;
  const uint64_t* end = data + words;
  while (e + kElemHeaderWords <= end) {
    const int64_t total = elem_total_words(e);
    if (e + total > end) break;
    const uint32_t sub = elem_word(e, 2);
    if (elem_kind(e) == kKindContainer && is_object_subtype(sub) && elem_name(e) == int32_t(sub)) {
      int32_t k = 0;
      const char* cls = symtab_name(c, int32_t(sub), &k);
      if (cls) {
        *id = fn_find_user(c, name, length, cls, k, library, 1, nullptr);
        if (*id > 0) return kOk;
        TN_TRY(search_parents(c, name, length, library, e + kElemHeaderWords, int64_t(elem_data_words(e)),
                              depth + 1, id));
        if (*id > 0) return kOk;
      }
    }
    e += total;
  }
  return kOk;
}

// True when row (row r of table t) holds the "Not supported" placeholder and
// gives way: a later row in search order or an intrinsic has its name.
// Markers and hooks are never placeholders of this kind.
bool placeholder_gives_way(EngineContext* c, const BuiltinEntry& row, int32_t t, int32_t r, const char* name) {
  if (row.fn != builtin_not_supported || row.name[0] == '+' || row.name[0] == '@' || row.name[0] == '!')
    return false;
  if (intrinsic_find(name)) return true;
  const LibraryTableRef* refs = table_refs(c);
  for (++r; t < c->table_count; ++t, r = 0)
    for (; r < refs[t].rows; ++r)
      if (row_named(refs[t].table[r], name)) return true;
  return false;
}

}  // namespace

int builtin_not_supported(EngineContext*, int, int, uintptr_t) { return kNotSupported; }

int32_t fn_library_of(EngineContext* c, int32_t context_id) {
  if (ent_is_function(c, context_id)) return ent_library(c, context_id);
  if (ent_is_library(c, context_id)) return context_id;
  return 0;
}

int32_t fn_find_user(EngineContext* c, const char* name, int32_t length, const char* class_name,
                     int32_t class_length, int32_t library, int search_uses, int32_t* class_symbol) {
  const int32_t sym = symtab_find(c, name, length);
  if (sym == 0) return -1;
  const bool any = class_length < 0;
  int32_t csym = 0;
  if (class_length > 0 && (csym = symtab_find(c, class_name, class_length)) == 0) return -1;
  int32_t id = find_in(c, sym, any, csym, library, true, class_symbol);
  if (id > 0 || !search_uses) return id;

  // Later "use" lines win: the list is searched from its last entry.
  if (ent_is_library(c, library) && ent(c, library, kEntCode) > 0) {
    const uint16_t* list = code_words(c) + ent(c, library, kEntCode);
    for (int32_t k = int32_t(list[0]) - 1; k >= 0; --k) {
      const int32_t other = list[1 + k];
      if (other == kUseListDeleted || other == library || !ent_is_library(c, other)) continue;
      if ((id = find_in(c, sym, any, csym, other, false, class_symbol)) > 0) return id;
    }
  }
  if (library != 0) return find_in(c, sym, any, csym, 0, false, class_symbol);
  const int32_t cli = lib_index_by_symbol(c, symtab_find(c, kCliLibrary, int32_t(sizeof kCliLibrary) - 1));
  return cli > 0 ? find_in(c, sym, any, csym, cli, false, class_symbol) : -1;
}

int fn_find_user_simple(EngineContext* c, const char* name, int32_t length, int32_t library, int32_t* id) {
  if (length < 0) length = int32_t(std::strlen(name));
  const char* plain = name;
  int32_t plain_length = length;
  const char* cls = nullptr;
  int32_t cls_length = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (name[i] != ':') continue;
    if (i + 1 >= length || name[i + 1] != ':' || cls) return kBadArgument;
    cls = name;
    cls_length = i;
    plain = name + i + 2;
    plain_length = length - i - 2;
    ++i;
  }
  *id = fn_find_user(c, plain, plain_length, cls, cls_length, library, 1, nullptr);
  return kOk;
}

const BuiltinEntry* lib_find_builtin(EngineContext* c, const char* name, const BuiltinEntry* after,
                                     int32_t class_filter, int32_t* index) {
  const LibraryTableRef* refs = table_refs(c);
  bool passed = after == nullptr;
  int32_t k = 0;
  for (int32_t t = 0; t < c->table_count; ++t) {
    for (int32_t r = 0; r < refs[t].rows; ++r, ++k) {
      const BuiltinEntry* row = &refs[t].table[r];
      if (!passed) {
        passed = row == after;
        continue;
      }
      if (!row_named(*row, name) || placeholder_gives_way(c, *row, t, r, name)) continue;
      const int32_t id = builtin_class_id(t, row->class_word);
      if (class_filter != 0 && id != class_filter && id != -class_filter) continue;
      if (index) *index = k;
      return row;
    }
  }
  return nullptr;
}

int fn_find_by_name(EngineContext* c, const char* name, const char* library_name, int32_t context_id,
                    uint32_t flags, int32_t* max_in, int32_t* max_out) {
  const int32_t length = int32_t(std::strlen(name));
  if (!(flags & kResolveBuiltinOnly)) {
    int32_t library = fn_library_of(c, context_id);
    bool search = true;
    if (library_name) {
      library = lib_index_by_symbol(c, symtab_find(c, library_name, int32_t(std::strlen(library_name))));
      search = library >= 0;
    }
    int32_t id = -1;
    if (search) TN_TRY(fn_find_user_simple(c, name, length, library, &id));
    if (id > 0) {
      if (!fn_code_header(c, id) && !c->compiling) TN_TRY(fn_compile_on_demand(c, id, nullptr, 0, 0, 0));
      const uint16_t* h = fn_code_header(c, id);
      // During a compilation the callee cannot be compiled: its counts are open.
      *max_in = h ? h[kHdrMaxIn] : kCountUnbounded;
      *max_out = h ? h[kHdrMaxOut] : kCountUnbounded;
      return kOk;
    }
  }
  int32_t k = 0;
  if (const BuiltinEntry* row = lib_find_builtin(c, name, nullptr, 0, &k)) {
    *max_in = row->max_in;
    *max_out = row->max_out;
    return kOk;
  }
  if (const IntrinsicEntry* e = intrinsic_find(name)) {
    const int in = argc_max(e->in_args), out = argc_max(e->out_args);
    *max_in = in == kArgcNoMaximum ? kCountUnbounded : in;
    *max_out = out == kArgcNoMaximum ? kCountUnbounded : out;
    return kOk;
  }
  return fn_raise(c, kUndefinedFunctionOrVariable, 0, -1, name);
}

int fn_resolve_ref(EngineContext* c, const char* name, int32_t context_id, int nargin, int nargout,
                   int32_t* function_id, const BuiltinEntry** row_out, int32_t* opcode,
                   const IntrinsicEntry** intrinsic, uint32_t flags) {
  *function_id = -1;
  *row_out = nullptr;
  *opcode = -1;
  *intrinsic = nullptr;
  const int32_t length = int32_t(std::strlen(name));
  const int32_t library = fn_library_of(c, context_id);
  const int args = nargin < stk_item_count(c) ? (nargin < 0 ? 0 : nargin) : stk_item_count(c);

  if (!(flags & kResolveBuiltinOnly)) {
    // 1. A method of the class of an object argument or of its parents, the
    // last argument first: the first object whose class has it («a + b»
    // finds ca::plus when b's class has no plus).
    for (int d = 0; d < args; ++d) {
      const uint32_t* desc = desc_at(c, d);
      if (desc[0] != kKindContainer || !is_object_subtype(desc[2])) continue;
      int32_t k = 0;
      const char* cls = symtab_name(c, int32_t(desc[2]), &k);
      int32_t id = cls ? fn_find_user(c, name, length, cls, k, library, 1, nullptr) : -1;
      if (id <= 0) TN_TRY(search_parents(c, name, length, library, item_data(c, d), desc[1], 0, &id));
      if (id > 0) {
        *function_id = id;
        return kOk;
      }
    }
    // 2. A user function visible from the library.
    const int32_t id = fn_find_user(c, name, length, nullptr, 0, library, 1, nullptr);
    if (id > 0) {
      *function_id = id;
      return kOk;
    }
  }
  const bool user_only = (flags & kResolveUserOnly) != 0;

  // 3. Rows: of the class of a library object argument, else plain rows.
  int32_t lib_class = 0;
  for (int d = 0; d < args; ++d) {
    const uint32_t* desc = desc_at(c, d);
    if (desc[0] == kKindPayload && desc[2] >= kPayFirstClass) {
      lib_class = int32_t(desc[2]);
      break;
    }
  }
  int mismatch = 0;
  int32_t mismatch_count = -1;
  const LibraryTableRef* refs = table_refs(c);
  int32_t k = 0;
  for (int32_t t = 0; t < c->table_count; ++t) {
    for (int32_t r = 0; r < refs[t].rows; ++r, ++k) {
      const BuiltinEntry& row = refs[t].table[r];
      if (!row.fn || !row_named(row, name) || placeholder_gives_way(c, row, t, r, name)) continue;
      if (lib_class ? builtin_class_id(t, row.class_word) != lib_class : row.class_word >= 1) continue;
      if (nargin < row.min_in || (nargin > row.max_in && !(row.max_in & kArgsAny))) {
        mismatch = kWrongNargin;
        mismatch_count = nargin;
        continue;
      }
      if (nargout >= 0 && nargout > row.max_out && !(row.max_out & kArgsAny)) {
        mismatch = kWrongNargout;
        mismatch_count = nargout;
        continue;
      }
      if (user_only) return fn_raise(c, kUndefinedFunctionOrVariable, 0, -1, name);
      *row_out = &row;
      *opcode = kFirstLibraryOpcode + k;
      return kOk;
    }
  }

  // 4. Intrinsics. A result count below the minimum is allowed: a call
  // drops the results that were not asked for.
  if (const IntrinsicEntry* e = intrinsic_find(name)) {
    const int max_out = argc_max(e->out_args);
    if (!argc_admits(e->in_args, nargin)) return fn_raise(c, kWrongNargin, 0, nargin, name);
    if (nargout >= 0 && max_out != kArgcNoMaximum && nargout > max_out)
      return fn_raise(c, kWrongNargout, 0, nargout, name);
    if (user_only) return fn_raise(c, kUndefinedFunctionOrVariable, 0, -1, name);
    *intrinsic = e;
    *opcode = int32_t(e->opcode);
    return kOk;
  }
  if (mismatch) return fn_raise(c, mismatch, 0, mismatch_count, name);
  return fn_raise(c, kUndefinedFunction, 0, -1, name);
}

bool fn_resolves_to_self(EngineContext* c, int32_t id, int32_t context_id, int nargin) {
  if (!ent_is_function(c, id)) return false;
  const uint32_t* e = fn_entry(c, id);
  const int32_t sym = int32_t(e[kEntName]);
  const int32_t ec = int32_t(e[kEntExtra]);
  const int32_t library = ent_is_function(c, context_id)  ? ent_library(c, context_id)
                          : ent_is_library(c, context_id) ? context_id
                                                          : 0;  // as fn_library_of
  if ((ec != 0 && ec != sym) || int32_t(e[kEntLink] & kEntryLibraryMask) != library) return false;
  // The name as the call by name sees it: whole (a call copies at most
  // kOpNameBytes of it) and without a NUL. Interned names are unique, so its
  // lookup gives back this entry's symbol.
  int32_t length = 0;
  const char* text = symtab_name(c, sym, &length);
  if (!text || length < 1 || length > kOpNameBytes) return false;
  for (int32_t k = 0; k < length; ++k)
    if (text[k] == 0) return false;
  const int items = stk_item_count(c);
  const int args = nargin < items ? (nargin < 0 ? 0 : nargin) : items;
  for (int d = 0; d < args; ++d) {
    const uint32_t* desc = desc_at(c, d);
    if (desc[0] == kKindContainer && is_object_subtype(desc[2])) return false;
  }
  // find_in's test for the caller's own library, on the entries before id.
  for (int32_t k = 1; k < id; ++k) {
    const uint32_t* other = fn_entry(c, k);
    const int32_t oc = int32_t(other[kEntExtra]);
    if (int32_t(other[kEntName]) == sym && int32_t(other[kEntLink] & kEntryLibraryMask) == library &&
        (oc == 0 || oc == sym))
      return false;
  }
  return true;
}

int32_t frame_current_function(EngineContext* c) {
  for (int32_t index = c->frame; index >= 0;) {
    const uint32_t* w = frame_words(c, index);
    if (int32_t(w[kFwFunctionId]) >= 0) return int32_t(w[kFwFunctionId]);
    if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame) break;
    const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
    if (prev < 0 || prev >= index) break;
    index = int32_t(prev);
  }
  return 0;
}
