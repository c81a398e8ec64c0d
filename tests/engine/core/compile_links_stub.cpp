// Minimal function-table operations for the compiler tests, standing in for
// the function-table module until it is part of the engine: lookups by name
// and library, forward definitions and appended entries.
#include <cstring>

#include "engine/core/compile_links.h"
#include "engine/core/symbols.h"

int32_t fn_find_user(EngineContext* c, const char* name, int32_t length, const char*, int32_t class_length,
                     int32_t library, int, int32_t*) {
  const int32_t sym = symtab_find(c, name, length);
  if (sym == 0) return -1;
  for (int32_t id = 1; id < c->fn_count; ++id) {
    const int32_t lib = int32_t(fn_entry(c, id)[kEntLink] & kEntryLibraryMask);
    if (ent(c, id, kEntName) == sym && (lib == library || lib == 0) &&
        (class_length < 0 || ent(c, id, kEntExtra) == 0))
      return id;
  }
  return -1;
}

const BuiltinEntry* lib_find_builtin(EngineContext* c, const char* name, const BuiltinEntry* after, int32_t,
                                     int32_t* index) {
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
      if (std::strncmp(row->name, name, sizeof row->name) != 0) continue;
      if (index) *index = k;
      return row;
    }
  }
  return nullptr;
}

int fn_table_add(EngineContext* c, int32_t w0, int32_t w1, int32_t w2, int32_t w3, int32_t* id) {
  if (c->fn_count >= c->fn_capacity) return kTooManyUserFunctions;
  const int32_t n = c->fn_count++;
  ent_set(c, n, kEntName, w0);
  ent_set(c, n, kEntLink, w1);
  ent_set(c, n, kEntCode, w2);
  ent_set(c, n, kEntExtra, w3);
  *id = n;
  return kOk;
}

int fn_table_define(EngineContext* c, const char* name, int32_t length, const char*, int32_t, int32_t library,
                    int, int, int32_t, int32_t* id) {
  int32_t sym = 0;
  TN_TRY(symtab_intern(c, name, length, 32, &sym));
  return fn_table_add(c, sym, library, kCodeReferenced, 0, id);
}
