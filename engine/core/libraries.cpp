// Library entries, their use-lists in the code area, and loading: "use" lines
// record libraries; lib_use defines a text's functions and then reads and
// defines every library still pending, until none is. A use-list is a count
// word and library indices (0xFFFF for a slot given up), kept in a block of
// the code area like compiled code, so it moves with the code.
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/libraries.h"
#include "engine/core/symbols.h"

namespace {

uint32_t align_up(uint32_t words, uint32_t a) { return (words + a - 1) / a * a; }

int32_t run_of_identifier(const char* name, int32_t length) {
  int32_t n = 0;
  while (n < length && ((name[n] >= 'a' && name[n] <= 'z') || (name[n] >= 'A' && name[n] <= 'Z') ||
                        (name[n] >= '0' && name[n] <= '9') || name[n] == '_'))
    ++n;
  return n;
}

// Reads a library's source into scratch space past `avoid`.
int read_library(EngineContext* c, int32_t lib, const char* avoid, int32_t avoid_length, char** text,
                 int32_t* length) {
  int32_t n = 0;
  const char* name = symtab_name(c, ent(c, lib, kEntLink), &n);
  if (!name) return kLibraryNotFound;
  char extensions[kExtensionListBytes];
  library_extensions(c, extensions);
  int32_t capacity = 0, first_line = 0;
  char* buffer = source_scratch(c, avoid, avoid_length, &capacity);
  TN_TRY(lib_read_source(c, name, n, extensions, 1, kReadConvert, buffer, capacity, length, &first_line));
  *text = buffer;
  return kOk;
}

struct UseContext {
  EngineContext* c;
  int32_t library;
  const char* text;
  int32_t length;
};

int use_one(void* arg, const char* name, int32_t length, bool if_exists) {
  auto* u = static_cast<UseContext*>(arg);
  EngineContext* c = u->c;
  if (if_exists) {
    // A library that cannot be read is left out without an entry.
    const int32_t existing = lib_index_by_symbol(c, symtab_find(c, name, length));
    if (existing < 0 || ent(c, existing, kEntCode) == kLibraryPending) {
      char extensions[kExtensionListBytes];
      library_extensions(c, extensions);
      int32_t capacity = 0, n = 0, line = 0;
      char* buffer = source_scratch(c, u->text, u->length, &capacity);
      const int status = lib_read_source(c, name, length, extensions, 1, kReadConvert | kReadNoInclude, buffer,
                                         capacity, &n, &line);
      if (status == kLibraryNotFound) return kOk;
      TN_TRY(status);
    }
  }
  int32_t other = 0;
  TN_TRY(lib_find_by_name(c, name, length, 0, &other));
  return lib_add_use(c, u->library, other);
}

// Defines every function of a text in the library; the definitions become
// "not compiled" (compiled at their first call) unless already compiled.
int define_all(EngineContext* c, int32_t library, const char* text, int32_t length) {
  return fn_each_definition(c, text, length, [&](const SourceDefinition& d) {
    int32_t id = 0;
    TN_TRY(fn_table_define(c, d.name, d.name_length, d.class_name, d.class_length, library, d.is_private, 0,
                           library != 0 ? 0 : kNoLibrary, &id));
    if (ent(c, id, kEntCode) == kCodeReferenced) ent_set(c, id, kEntCode, kCodeNotCompiled);
    return int(kOk);
  });
}

}  // namespace

int32_t lib_index_by_symbol(EngineContext* c, int32_t symbol) {
  if (symbol == 0) return -1;
  for (int32_t id = 1; id < c->fn_count; ++id)
    if (ent(c, id, kEntName) == kEntryLibrary && ent(c, id, kEntLink) == symbol) return id;
  return -1;
}

int lib_find_by_name(EngineContext* c, const char* name, int32_t length, int loaded_flag, int32_t* index) {
  if (length < 0) length = int32_t(std::strlen(name));
  int32_t sym = 0;
  TN_TRY(symtab_intern(c, name, run_of_identifier(name, length), kIdentifierLimit, &sym));
  const int32_t found = lib_index_by_symbol(c, sym);
  if (found > 0) {
    *index = found;
    return kOk;
  }
  return fn_table_add(c, kEntryLibrary, sym, loaded_flag ? 0 : kLibraryPending, 0, index);
}

bool lib_uses_library(EngineContext* c, int32_t library, int32_t other) {
  if (!ent_is_library(c, library) || ent(c, library, kEntCode) <= 0) return false;
  const uint16_t* list = code_words(c) + ent(c, library, kEntCode);
  for (uint32_t k = 0; k < list[0]; ++k)
    if (list[1 + k] == other) return true;
  return false;
}

int lib_add_use(EngineContext* c, int32_t library, int32_t other) {
  if (other == library || !ent_is_library(c, other)) return kOk;
  if (!ent_is_library(c, library)) return kBadArgument;
  uint16_t* code = code_words(c);
  const int32_t off = ent(c, library, kEntCode);
  uint32_t count = 0, live = 0;
  if (off > 0) {
    count = code[off];
    for (uint32_t k = 0; k < count; ++k) {
      if (code[off + 1 + k] != uint16_t(other)) continue;
      if (k + 1 == count) return kOk;  // already the last one: nothing changes
      code[off + 1 + k] = kUseListDeleted;
    }
    for (uint32_t k = 0; k < count; ++k) live += code[off + 1 + k] != kUseListDeleted;
    // Room in its own block (up to the next block or the first free word).
    const uint32_t end = code_block_end(c, uint32_t(off));
    if (off + 2 + count <= end) {
      code[off + 1 + count] = uint16_t(other);
      code[off] = uint16_t(count + 1);
      return kOk;
    }
    if (end == c->code_free && off + 2 + count <= code_symbol_floor(c)) {
      code[off + 1 + count] = uint16_t(other);
      code[off] = uint16_t(count + 1);
      c->code_free = off + 2 + count;
      return kOk;
    }
  }
  // A new block at the first free word; the old one stays as dead words of
  // the block before it until that block's code is removed.
  const uint32_t start = align_up(c->code_free, kCodeAlignWords);
  const uint32_t words = align_up(2 + live, kCodeAlignWords);
  if (int64_t(start) + words > int64_t(code_symbol_floor(c)) || live + 1 > 0xFFFE) return kCodeOverflow;
  uint32_t n = 0;
  for (uint32_t k = 0; off > 0 && k < count; ++k)
    if (code[off + 1 + k] != kUseListDeleted) code[start + 1 + n++] = code[off + 1 + k];
  code[start + 1 + n++] = uint16_t(other);
  code[start] = uint16_t(n);
  for (uint32_t k = 1 + n; k < words; ++k) code[start + k] = 0;
  ent_set(c, library, kEntCode, int32_t(start));
  c->code_free = start + words;
  return kOk;
}

int lib_parse_use_lines(EngineContext* c, int32_t library, const char* text, int32_t length) {
  UseContext u{c, library, text, length};
  return source_use_lines(c, text, length, use_one, &u);
}

int lib_use(EngineContext* c, int32_t library, const char* text, int32_t length) {
  TN_TRY(lib_parse_use_lines(c, library, text, length));
  TN_TRY(define_all(c, library, text, length));
  for (;;) {
    int32_t pending = -1;
    for (int32_t id = 1; id < c->fn_count && pending < 0; ++id)
      if (ent(c, id, kEntName) == kEntryLibrary && ent(c, id, kEntCode) == kLibraryPending) pending = id;
    if (pending < 0) return kOk;
    char* source = nullptr;
    int32_t n = 0;
    TN_TRY(read_library(c, pending, text, length, &source, &n));
    // Loaded before its own "use" lines are read, so a cycle ends here.
    ent_set(c, pending, kEntCode, 0);
    TN_TRY(lib_parse_use_lines(c, pending, source, n));
    TN_TRY(define_all(c, pending, source, n));
  }
}

int lib_compile_source(EngineContext* c, int32_t library, const char* text, int32_t length, int replace_flag) {
  TN_TRY(lib_use(c, library, text, length));
  TN_TRY(fn_each_definition(c, text, length, [&](const SourceDefinition& d) {
    int32_t id = 0;
    TN_TRY(fn_table_define(c, d.name, d.name_length, d.class_name, d.class_length, library, d.is_private, 0,
                           kNoLibrary, &id));
    if (ent(c, id, kEntCode) > 0 && replace_flag) TN_TRY(fn_code_remove(c, id));
    return fn_compile_on_demand(c, id, text + d.start, d.end - d.start, d.line, 0);
  }));
  return fn_compile_pending(c, 0);
}
