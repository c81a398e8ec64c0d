// The lists of info(kind) and inmem: variables of the current workspace,
// user functions, libraries, global and persistent variables, the libraries
// in use, built-ins, operators and engine threads. Each object is either one
// line on fd 1 or one structure of the result list; a failure removes the
// structures already pushed, so the stacks are as they were.
#include "engine/lib/info_lists.h"

#include <cstdio>
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/libraries.h"
#include "engine/core/opcodes.h"
#include "engine/core/operator_table.h"
#include "engine/core/snapshot.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"
#include "engine/lib/classes.h"

namespace {

constexpr int32_t kLineBytes = 512;
constexpr char kEngineSection[] = "ZVR";
// The thread id sits right behind the next-task word of a task record.
constexpr int kTaskIdWord = kTaskNext + 1;

constexpr char kNoVariable[] = "No variable";
constexpr char kNoUserFunction[] = "No user function";
constexpr char kNoLibraryText[] = "No library";

// One printed line, cut at kLineBytes.
struct Line {
  char text[kLineBytes];
  int32_t n = 0;
  Line& add(const char* s, int32_t k) {
    if (k < 0) k = int32_t(std::strlen(s));
    if (k > kLineBytes - n) k = kLineBytes - n;
    std::memcpy(text + n, s, size_t(k));
    n += k;
    return *this;
  }
  Line& add(const char* s) { return add(s, -1); }
  Line& add_int(int64_t v) {
    char b[24];
    const int k = std::snprintf(b, sizeof b, "%lld", static_cast<long long>(v));
    return add(b, k);
  }
  Line& add_dims(int nd, const uint32_t* dims) {
    for (int i = 0; i < nd; ++i) {
      if (i) add("x", 1);
      add_int(dims[i]);
    }
    return *this;
  }
};

// Prints lines or pushes structures, counting what it pushed.
class Lister {
 public:
  Lister(EngineContext* c, int nargout) : c_(c), out_(nargout >= 1) {}
  bool to_list() const { return out_; }
  EngineContext* ctx() const { return c_; }

  int begin() {
    if (!out_) (void)io_set_buffering(c_, kFdStdout, 1);  // a hint only
    return kOk;
  }
  int line(const Line& l) {
    ++count_;
    TN_TRY(io_write(c_, kFdStdout, l.text, l.n));
    return io_newline(c_, kFdStdout);
  }
  // Fields of the structure being built: the first makes it.
  int text_field(bool first, const char* field, const char* s, int32_t k) {
    TN_TRY(stk_push_cstr(c_, k, s));
    return close_field(first, field);
  }
  int bool_field(bool first, const char* field, bool v) {
    TN_TRY(stk_push_logical_scalar(c_, v));
    return close_field(first, field);
  }
  int real_field(bool first, const char* field, double v) {
    TN_TRY(stk_push_real(c_, v));
    return close_field(first, field);
  }
  void counted() { ++count_; }
  // Drops a structure whose fields failed half-way.
  void drop_partial(int32_t desc_top_before) {
    while (c_->desc_top > desc_top_before) stk_drop(c_);
  }
  // The list, or the text for an empty listing when printing.
  int end(int status, const char* none) {
    if (!out_) {
      if (status == kOk && count_ == 0 && none) {
        status = io_write(c_, kFdStdout, none, -1);
        if (status == kOk) status = io_newline(c_, kFdStdout);
      }
      (void)io_set_buffering(c_, kFdStdout, 0);
      return status;
    }
    if (status == kOk) status = stk_make_container(c_, count_, 0, nullptr, 0);
    if (status != kOk) (void)stk_remove(c_, 0, count_);
    return status;
  }

 private:
  int close_field(bool first, const char* field) {
    const int status = stk_make_container(c_, 1, first ? 0 : 1, field, int32_t(std::strlen(field)));
    if (status != kOk) stk_drop(c_);
    return status;
  }
  EngineContext* c_;
  bool out_;
  int32_t count_ = 0;
};

// Runs one object's structure builder; on failure the partial structure goes.
template <typename Build>
int one_struct(Lister* l, Build&& build) {
  const int32_t before = l->ctx()->desc_top;
  const int status = build();
  if (status != kOk) {
    l->drop_partial(before);
    return status;
  }
  l->counted();
  return kOk;
}

// --- 'v' -------------------------------------------------------------------------

// The description of the value on top: what info('v') shows in parentheses.
void describe_top(EngineContext* c, Line* d) {
  const uint32_t* desc = desc_at(c, 0);
  const uint32_t kind = desc[0];
  if (kind == kKindReal || kind == kKindComplex) {
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    (void)stk_get_matrix(c, 0, &rows, &cols, &re, &im);
    d->add_int(rows).add("x").add_int(cols);
    if (kind == kKindComplex) d->add(" complex");
    return;
  }
  if (kind == kKindContainer) {
    int nd = 0;
    const uint32_t* dims = nullptr;
    int32_t count = 0;
    const uint32_t sub = desc[2];
    if (sub == kContCell)
      (void)stk_get_container_dims(c, 0, &nd, &dims, &count, nullptr);
    else
      (void)stk_get_container(c, 0, &count, nullptr);
    if (sub == kContList) {
      d->add("list length=").add_int(count);
    } else if (sub == kContCell) {
      d->add("cell size=").add_dims(nd, dims);
    } else if (sub == kContStruct) {
      // A structure's size is its number of fields.
      d->add("struct size=").add_int(count);
    } else {
      const char* name = nullptr;
      int32_t n = 0;
      d->add("object class=");
      if (value_class_name(c, &name, &n)) d->add(name, n);
      d->add(" size=").add_int(count);
    }
    return;
  }
  TypedView t{};
  if (kind == kKindPayload && (desc[2] == kPayNumeric || desc[2] == kPayChar || desc[2] == kPayLogical) &&
      typed_view(c, 0, &t)) {
    d->add(desc[2] == kPayChar ? "char array ndim=" : desc[2] == kPayLogical ? "logical array ndim=" : "array ndim=");
    d->add_int(t.ndims);
    if (t.is_complex) d->add(" complex");
    return;
  }
  const int64_t bytes = int64_t(desc_data_words(desc)) * 8;
  if (kind == kKindPayload && desc[2] == kPayInline) {
    d->add("inline function size=").add_int(bytes);
    return;
  }
  d->add("binary data size=").add_int(bytes);
}

int list_variables(Lister* l) {
  EngineContext* c = l->ctx();
  if (frame_workspace_index(c) < 0) return l->end(kOk, kNoVariable);
  TN_TRY(l->begin());
  uint8_t* table = nullptr;
  int32_t count = 0;
  frame_var_table(c, &table, &count);
  int status = kOk;
  for (int32_t k = 0; k < count && status == kOk; ++k) {
    // The table lives in the code area or the stack: re-read after each push.
    frame_var_table(c, &table, &count);
    char name[kFrameNameBytes + 1] = {};
    std::memcpy(name, table + int64_t(kFrameNameBytes) * k, kFrameNameBytes);
    const int32_t n = int32_t(strnlen(name, kFrameNameBytes));
    if (n == 0) continue;
    SlotTarget t{};
    const bool located = slot_locate(c, k, &t) == kOk;
    const bool global = located && t.entry > 0 && ent(c, t.entry, kEntExtra) == kVariableGlobalOwner;
    const bool defined = located && t.block != kNoBlock;
    if (l->to_list()) {
      status = one_struct(l, [&] {
        TN_TRY(l->text_field(true, "name", name, n));
        return l->bool_field(false, "defined", defined);
      });
      continue;
    }
    Line line;
    line.add(name, n).add(" (");
    if (global) {
      line.add("global");
    } else if (!defined) {
      line.add("not defined");
    } else {
      // The copy's room is checked here, so that a full stack reads as such
      // rather than as the load instruction's error about the variable.
      const uint32_t words = desc_data_words(block_words32(c, t.block));
      if (!desc_room(c)) status = kStackOverflow;
      else if (int64_t(words) > data_free_words(c)) status = kDataStackOverflow;
      if (status == kOk) status = var_push_local(c, k);
      if (status != kOk) break;
      describe_top(c, &line);
      stk_drop(c);
    }
    line.add(")");
    status = l->line(line);
  }
  return l->end(status, nullptr);
}

// --- 'f', 'm' and the loaded functions ---------------------------------------------

enum class FnFilter { kWithoutLibrary, kInLibrary, kLoaded };

bool fn_selected(EngineContext* c, int32_t id, FnFilter f) {
  if (!ent_is_function(c, id)) return false;
  switch (f) {
    case FnFilter::kWithoutLibrary: return ent_library(c, id) == 0;
    case FnFilter::kInLibrary: return ent_library(c, id) != 0;
    case FnFilter::kLoaded: return ent(c, id, kEntCode) > 0;
  }
  return false;
}

// Copies a symbol's name (symbols move when others are interned).
int32_t symbol_copy(EngineContext* c, int32_t symbol, char* out, int32_t size) {
  int32_t n = 0;
  const char* s = symbol ? symtab_name(c, symbol, &n) : nullptr;
  if (!s || n < 0) return 0;
  if (n > size) n = size;
  std::memcpy(out, s, size_t(n));
  return n;
}

int list_functions(Lister* l, FnFilter filter) {
  EngineContext* c = l->ctx();
  TN_TRY(l->begin());
  int status = kOk;
  for (int32_t id = 1; id < c->fn_count && status == kOk; ++id) {
    if (!fn_selected(c, id, filter)) continue;
    const bool loaded = ent(c, id, kEntCode) > 0;
    if (!l->to_list()) {
      char full[kLineBytes];
      int32_t n = 0;
      fn_name_and_line(c, id, full, int32_t(sizeof full), &n);
      Line line;
      if (!loaded) line.add("(");
      line.add(full, n);
      if (!loaded) line.add(")");
      status = l->line(line);
      continue;
    }
    char lib[kFrameNameBytes * 2], cls[kFrameNameBytes * 2], name[kFrameNameBytes * 2];
    const int32_t library = ent_library(c, id);
    const int32_t ln = library > 0 ? symbol_copy(c, ent(c, library, kEntLink), lib, int32_t(sizeof lib)) : 0;
    const int32_t cn = symbol_copy(c, ent(c, id, kEntExtra), cls, int32_t(sizeof cls));
    const int32_t nn = symbol_copy(c, ent(c, id, kEntName), name, int32_t(sizeof name));
    status = one_struct(l, [&] {
      TN_TRY(l->text_field(true, "library", lib, ln));
      if (cn > 0) TN_TRY(l->text_field(false, "class", cls, cn));
      TN_TRY(l->text_field(false, "name", name, nn));
      return l->bool_field(false, "loaded", loaded);
    });
  }
  return l->end(status, kNoUserFunction);
}

// --- names: 'l', 'g', 'p', 'u' -------------------------------------------------------

// Lists the names that name_of gives for the ids 1.. it accepts: one line
// each, or a list of char rows.
template <typename NameOf>
int list_names(Lister* l, const char* none, NameOf&& name_of) {
  EngineContext* c = l->ctx();
  TN_TRY(l->begin());
  int status = kOk;
  for (int32_t id = 1; id < c->fn_count && status == kOk; ++id) {
    char name[kLineBytes];
    int32_t n = 0;
    if (!name_of(id, name, &n)) continue;
    if (l->to_list()) {
      status = stk_push_cstr(c, n, name);
      if (status == kOk) l->counted();
    } else {
      Line line;
      status = l->line(line.add(name, n));
    }
  }
  return l->end(status, none);
}

bool variable_entry(EngineContext* c, int32_t id, bool global) {
  if (id <= 0 || id >= c->fn_count || ent(c, id, kEntName) != kEntryVariable) return false;
  return (ent(c, id, kEntExtra) == kVariableGlobalOwner) == global;
}

// The library whose use lines the current code follows: its function's, or
// the command line's at the top level.
int32_t current_library(EngineContext* c) {
  const int32_t library = fn_library_of(c, frame_current_function(c));
  if (library > 0) return library;
  return lib_index_by_symbol(c, symtab_find(c, kCliLibrary, int32_t(sizeof kCliLibrary) - 1));
}

// --- 'b' and 'o' ---------------------------------------------------------------------

int builtin_entry(Lister* l, const char* module, int32_t mn, const char* name, int32_t nn, bool trusted,
                  bool mark_core) {
  if (l->to_list()) {
    return one_struct(l, [&] {
      TN_TRY(l->text_field(true, "name", name, nn));
      TN_TRY(l->text_field(false, "module", module, mn));
      return l->bool_field(false, "trusted", trusted);
    });
  }
  Line line;
  if (module) line.add(module, mn).add("/");
  line.add(name, nn);
  if (mark_core) line.add(" u");
  return l->line(line);
}

bool function_row_name(const char* name) {
  const char ch = name[0];
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_';
}

int list_builtins(Lister* l) {
  EngineContext* c = l->ctx();
  TN_TRY(l->begin());
  const int32_t en = int32_t(sizeof kEngineSection) - 1;
  int status = kOk;
  for (int i = 0; status == kOk && kIntrinsicTable[i].opcode != kIntrinsicEndOpcode; ++i) {
    const char* name = kIntrinsicTable[i].name;
    const int32_t n = int32_t(strnlen(name, sizeof kIntrinsicTable[i].name));
    if (n > 0) status = builtin_entry(l, kEngineSection, en, name, n, true, false);
  }
  for (int32_t t = 0; t < c->table_count && status == kOk; ++t) {
    const char* section = "";
    int32_t sn = 0;
    bool core = false, trusted = false;  // rows of an "@" or a "!" section
    for (int32_t r = 0; r < table_refs(c)[t].rows && status == kOk; ++r) {
      const BuiltinEntry& row = table_refs(c)[t].table[r];
      if (row.name[0] == '@' || row.name[0] == '!') {
        section = row.name + 1;
        sn = int32_t(strnlen(section, sizeof row.name - 1));
        core = row.name[0] == '@';
        trusted = row.name[0] == '!';
        continue;
      }
      if (!function_row_name(row.name)) continue;
      // The row's text is static data, not part of the block: it stays put.
      status = builtin_entry(l, section, sn, row.name, int32_t(strnlen(row.name, sizeof row.name)), trusted, core);
    }
  }
  return l->end(status, nullptr);
}

int list_operators(Lister* l) {
  TN_TRY(l->begin());
  const int32_t en = int32_t(sizeof kEngineSection) - 1;
  int status = kOk;
  for (int i = 0; status == kOk && kOperatorTable[i].kind != kOperatorEnd; ++i) {
    const char* token = kOperatorTable[i].token;
    const int32_t n = int32_t(strnlen(token, sizeof kOperatorTable[i].token));
    // A token of both a binary and a prefix operator ("+", "-") is listed once.
    bool earlier = false;
    for (int j = 0; j < i && !earlier; ++j) earlier = std::strncmp(kOperatorTable[j].token, token, 4) == 0;
    if (earlier) continue;
    status = l->to_list() ? builtin_entry(l, kEngineSection, en, token, n, true, false)
                          : l->line(Line().add(token, n));
  }
  return l->end(status, nullptr);
}

// --- 't' -------------------------------------------------------------------------------

int list_threads(Lister* l) {
  EngineContext* c = l->ctx();
  TN_TRY(l->begin());
  int status = kOk;
  for (int32_t task = c->task_first; task > 0 && task < c->heap_size && status == kOk;) {
    const auto* rec = reinterpret_cast<const uint8_t*>(heap_words(c) + task);
    const int32_t id = int32_t(tn::ld_u32(rec + 4 * kTaskIdWord));
    const double total = tn::ld_f64(rec + 4 * kTaskTotalUsed);
    const int32_t next = int32_t(tn::ld_u32(rec + 4 * kTaskNext));
    if (l->to_list()) {
      status = one_struct(l, [&] {
        TN_TRY(l->real_field(true, "id", double(id)));
        return l->real_field(false, "totaltime", total);
      });
    } else {
      status = l->line(Line().add_int(id));
    }
    // The list is read afresh from the heap: pushing moved nothing there.
    task = next == task ? 0 : next;
  }
  return l->end(status, nullptr);
}

}  // namespace

bool info_kind_known(char kind) { return kind && std::strchr(kInfoKinds, kind) != nullptr; }

int info_list(EngineContext* c, char kind, int nargout) {
  Lister l(c, nargout);
  switch (kind) {
    case 'v': return list_variables(&l);
    case 'f': return list_functions(&l, FnFilter::kWithoutLibrary);
    case 'm': return list_functions(&l, FnFilter::kInLibrary);
    case kInmemKind: return list_functions(&l, FnFilter::kLoaded);
    case 'l':
      return list_names(&l, kNoLibraryText, [&](int32_t id, char* name, int32_t* n) {
        if (!ent_is_library(c, id)) return false;
        *n = symbol_copy(c, ent(c, id, kEntLink), name, kLineBytes);
        return *n > 0;
      });
    case 'g':
    case 'p':
      return list_names(&l, nullptr, [&](int32_t id, char* name, int32_t* n) {
        if (!variable_entry(c, id, kind == 'g')) return false;
        *n = symbol_copy(c, ent(c, id, kEntLink), name, kLineBytes);
        return *n > 0;
      });
    case 'u': {
      const int32_t library = current_library(c);
      return list_names(&l, nullptr, [&](int32_t id, char* name, int32_t* n) {
        if (library <= 0 || !ent_is_library(c, id) || !lib_uses_library(c, library, id)) return false;
        *n = symbol_copy(c, ent(c, id, kEntLink), name, kLineBytes);
        return *n > 0;
      });
    }
    case 'b': return list_builtins(&l);
    case 'o': return list_operators(&l);
    case 't': return list_threads(&l);
    default: return kUnknownOption;
  }
}

