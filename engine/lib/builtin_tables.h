// The engine's built-in table and the helpers every table is built with: row
// makers, the placeholders that stand in for functions not yet written, and
// binding of real functions into rows at start-up. A row's index is part of
// the saved-image format (opcode 327 + k), so rows are never added, removed or
// moved: an implementation replaces only the function (and data word) of its row.
#pragma once

#include <cstdint>

#include "engine/core/calls.h"
#include "engine/core/context.h"

// Rows before the empty-name end row.
constexpr int kEngineTableRows = 324;

// The engine's own table, registered first at start-up (so searched after
// every table registered later). Writable: rows are bound and data words set
// before registration.
extern BuiltinEntry g_builtin_table_engine[kEngineTableRows + 1];

// builtin_not_supported, the placeholder of a built-in function row, is
// declared with name resolution, which passes over rows that still hold it.

// Row makers. A hook row gets the placeholder of its hook kind, which answers
// as a hook that owns nothing ("+write", "+read", "+fclose", "+iocontrol",
// "+iocbuffering": kNotMyDescriptor; "+readlib": kFileNotFound; others: kNotSupported); "+errmsgtable" keeps
// its error table in the function field and starts null.
BuiltinEntry builtin_row(const char* name, uint8_t min_in = 1, uint8_t max_in = 1,
                         uint8_t min_out = 1, uint8_t max_out = 1, uintptr_t data = 0,
                         int32_t class_word = 0, BuiltinFn fn = builtin_not_supported);
BuiltinEntry builtin_marker(const char* name);
BuiltinEntry builtin_hook(const char* name, uint8_t mode = 0, int32_t class_word = 0);
BuiltinEntry builtin_end_row();

// Hooks keep their own signatures in the function field; these convert
// between a hook and the field's type (through void (*)(), the one cast that
// compilers accept between unrelated function types without a warning).
template <typename Hook>
BuiltinFn builtin_fn_from(Hook hook) {
  return reinterpret_cast<BuiltinFn>(reinterpret_cast<void (*)()>(hook));
}
template <typename Hook>
Hook builtin_fn_as(BuiltinFn fn) {
  return reinterpret_cast<Hook>(reinterpret_cast<void (*)()>(fn));
}

// True while the row holds a placeholder (or, for "+errmsgtable", no table).
bool builtin_is_placeholder(const BuiltinEntry* row);

// Rows before the empty-name row.
int builtin_table_rows(const BuiltinEntry* table);

// The section that row i lies in: the name of the nearest "@" or "!" row
// above it, "" for the unnamed head.
const char* builtin_row_section(const BuiltinEntry* table, int i);

// One function a subsystem supplies for a row of a table it does not own.
struct BuiltinBinding {
  const char* section;  // "@..." or "!..." as written in the table; "" for the head
  const char* name;
  BuiltinFn fn;         // a hook or an error table is cast to BuiltinFn
  uintptr_t data;       // replaces the row's data word when nonzero
};

// Stores each binding in the first row of that section and name that still
// holds its placeholder or already holds that function (so binding twice is
// harmless, and two hooks of one name in one section are bound in row order).
// kOk, or kUnknownFunction for a binding that finds no such row (the rows
// before it stay bound).
int builtin_table_bind(BuiltinEntry* table, const BuiltinBinding* list, int count);
