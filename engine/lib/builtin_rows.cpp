// Making and binding built-in table rows. Placeholders keep each row callable
// through its own hook signature until its real function arrives, so a hook
// walk passes over a placeholder exactly as over a library that owns nothing.
#include <cstring>
#include <type_traits>

#include "engine/core/streams.h"
#include "engine/lib/builtin_tables.h"

namespace {

// The hook signatures used by the stream layer, the library loader and the dump.
int write_placeholder(EngineContext*, int32_t, const char*, int32_t, uintptr_t) {
  return kNotMyDescriptor;
}
int read_placeholder(EngineContext*, int32_t, char*, int32_t, int32_t*, uintptr_t) {
  return kNotMyDescriptor;
}
int close_placeholder(EngineContext*, int32_t, uintptr_t) { return kNotMyDescriptor; }
int control_placeholder(EngineContext*, int32_t, uint32_t, uint32_t*, uintptr_t) {
  return kNotMyDescriptor;
}
int buffering_placeholder(EngineContext*, int32_t, int32_t, uintptr_t) { return kNotMyDescriptor; }
static_assert(std::is_same_v<decltype(&write_placeholder), StreamWriteHook>);
static_assert(std::is_same_v<decltype(&read_placeholder), StreamReadHook>);
static_assert(std::is_same_v<decltype(&close_placeholder), StreamCloseHook>);
static_assert(std::is_same_v<decltype(&control_placeholder), StreamControlHook>);
static_assert(std::is_same_v<decltype(&buffering_placeholder), StreamBufferingHook>);
int readlib_placeholder(EngineContext*, const char*, const char*, uint32_t, char*, int32_t, int32_t*,
                        int32_t*, uint8_t*, uintptr_t) {
  return kFileNotFound;
}
int dump_placeholder(EngineContext*, char*, int32_t, int32_t*, uintptr_t) { return kNotSupported; }

struct HookPlaceholder {
  const char* name;
  BuiltinFn fn;
};

// Built on first use: the function-pointer casts make this a dynamic
// initialisation, and the tables of other files are built from it during
// their own static initialisation, in an order the language leaves open.
const HookPlaceholder* hook_placeholders(size_t* count) {
  static const HookPlaceholder list[] = {
      {kHookWrite, builtin_fn_from(write_placeholder)},
      {kHookRead, builtin_fn_from(read_placeholder)},
      {kHookClose, builtin_fn_from(close_placeholder)},
      {kHookControl, builtin_fn_from(control_placeholder)},
      {kHookBuffering, builtin_fn_from(buffering_placeholder)},
      {"+readlib", builtin_fn_from(readlib_placeholder)},
      {"+dump", builtin_fn_from(dump_placeholder)},
  };
  *count = sizeof list / sizeof list[0];
  return list;
}

constexpr char kErrTableHook[] = "+errmsgtable";

BuiltinFn hook_placeholder(const char* name) {
  if (std::strcmp(name, kErrTableHook) == 0) return nullptr;
  size_t count = 0;
  const HookPlaceholder* list = hook_placeholders(&count);
  for (size_t i = 0; i < count; ++i)
    if (std::strcmp(list[i].name, name) == 0) return list[i].fn;
  return builtin_not_supported;
}

bool is_marker(const BuiltinEntry* row) { return row->name[0] == '@' || row->name[0] == '!'; }

void set_name(BuiltinEntry* e, const char* name) {
  // Names are fixed text of this program; one that does not fit is cut, and
  // the golden row list catches it.
  std::strncpy(e->name, name, sizeof e->name - 1);
}

}  // namespace

BuiltinEntry builtin_row(const char* name, uint8_t min_in, uint8_t max_in, uint8_t min_out,
                         uint8_t max_out, uintptr_t data, int32_t class_word, BuiltinFn fn) {
  BuiltinEntry e{};
  e.fn = fn;
  e.data = data;
  e.class_word = class_word;
  set_name(&e, name);
  e.min_in = min_in;
  e.max_in = max_in;
  e.min_out = min_out;
  e.max_out = max_out;
  return e;
}

BuiltinEntry builtin_marker(const char* name) {
  BuiltinEntry e{};
  set_name(&e, name);
  return e;
}

BuiltinEntry builtin_hook(const char* name, uint8_t mode, int32_t class_word) {
  BuiltinEntry e{};
  e.fn = hook_placeholder(name);
  e.class_word = class_word;
  set_name(&e, name);
  e.min_in = mode;
  return e;
}

BuiltinEntry builtin_end_row() { return BuiltinEntry{}; }

bool builtin_is_placeholder(const BuiltinEntry* row) {
  if (row->name[0] == '+') return row->fn == hook_placeholder(row->name);
  return row->fn == builtin_not_supported && !is_marker(row) && row->name[0];
}

int builtin_table_rows(const BuiltinEntry* table) {
  int n = 0;
  while (table[n].name[0]) ++n;
  return n;
}

const char* builtin_row_section(const BuiltinEntry* table, int i) {
  for (int r = i; r >= 0; --r)
    if (is_marker(&table[r])) return table[r].name;
  return "";
}

int builtin_table_bind(BuiltinEntry* table, const BuiltinBinding* list, int count) {
  for (int b = 0; b < count; ++b) {
    const BuiltinBinding& bind = list[b];
    // Rows before the first section marker belong to the section "". The
    // section is compared at its marker, not at every row: start-up binds
    // every row this way.
    bool in_section = bind.section[0] == '\0';
    BuiltinEntry* target = nullptr;
    for (BuiltinEntry* row = table; row->name[0] && !target; ++row) {
      if (is_marker(row)) {
        in_section = std::strcmp(row->name, bind.section) == 0;
        continue;
      }
      if (!in_section || std::strcmp(row->name, bind.name) != 0) continue;
      if (builtin_is_placeholder(row) || row->fn == bind.fn) target = row;
    }
    if (!target) return kUnknownFunction;
    target->fn = bind.fn;
    if (bind.data) target->data = bind.data;
  }
  return kOk;
}
