// The function table and the code blocks behind it: defining entries, growing
// the table (code moves up), removing a function's code (later code moves
// down) and compiling on demand. Code moves only while nothing can hold a
// position in it: no position, frame or compilation refers to moved words.
#include "engine/core/fntable.h"

#include <cstring>

#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/libraries.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int64_t kGrowthDivisor = 256;  // free code words per entry added
constexpr int32_t kMinGrowth = 2;        // entries added when space is short
constexpr int64_t kMinGrowthFreeWords = 16;
constexpr int32_t kCodeFailedThisScan = -2;  // marks a failure during one pending scan
// The table cannot grow while a compilation writes code behind it, so room
// for the entries a compilation adds (references, globals) is made first.
constexpr int32_t kSpareEntriesForCompile = 8;

int missing_compiler(EngineContext*, int32_t, const char*, int32_t, uint16_t*, int64_t, int64_t*, int32_t,
                     uint32_t, int32_t*) {
  return kNotSupported;
}

CompileSourceFn g_compiler = missing_compiler;

uint32_t align_up(uint32_t words, uint32_t a) { return (words + a - 1) / a * a; }

// Entries whose third word is a code offset: functions and use-lists.
bool holds_code_offset(EngineContext* c, int32_t id) {
  const int32_t kind = ent(c, id, kEntName);
  return (kind < 0 || kind == kEntryLibrary) && ent(c, id, kEntCode) > 0;
}

void shift_offsets_from(EngineContext* c, uint32_t from, int64_t delta) {
  for (int32_t id = 1; id < c->fn_count; ++id)
    if (holds_code_offset(c, id) && uint32_t(ent(c, id, kEntCode)) >= from)
      ent_set(c, id, kEntCode, int32_t(ent(c, id, kEntCode) + delta));
}

bool position_at_or_above(uint32_t kind, uint32_t byte_offset, uint32_t start) {
  return int32_t(kind) == kAreaCode && byte_offset / 2 >= start;
}

bool function_in_frames(EngineContext* c, int32_t id) {
  for (int32_t index = c->frame; index >= 0;) {
    const uint32_t* w = frame_words(c, index);
    if (int32_t(w[kFwFunctionId]) == id) return true;
    if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame) break;
    const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
    if (prev < 0 || prev >= index) break;
    index = int32_t(prev);
  }
  return false;
}

}  // namespace

CompileSourceFn fn_set_compiler(CompileSourceFn fn) {
  CompileSourceFn old = g_compiler;
  g_compiler = fn ? fn : missing_compiler;
  return old;
}

CompileSourceFn fn_compiler() { return g_compiler; }

int fn_raise(EngineContext* c, int code, int32_t symbol, int32_t integer, const char* text) {
  return err_raise_code(c, code, -1, symbol, integer, text);
}

bool code_in_use_from(EngineContext* c, uint32_t start) {
  // Other tasks keep their positions in their own records.
  if (c->compiling || c->task_first != 0 || c->task_current != 0) return true;
  if (position_at_or_above(uint32_t(c->pos.kind), c->pos.offset, start)) return true;
  for (int32_t index = c->frame; index >= 0;) {
    const uint32_t* w = frame_words(c, index);
    if (position_at_or_above(w[kFwCallerKind], w[kFwCallerOffset], start) ||
        position_at_or_above(w[kFwCatchKind], w[kFwCatchOffset], start) ||
        position_at_or_above(w[kFwSuspendKind], w[kFwSuspendOffset], start))
      return true;
    if (int32_t(w[kFwNameTable]) > 0 && w[kFwNameTable] >= start) return true;
    if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame) break;
    const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
    if (prev < 0 || prev >= index) break;
    index = int32_t(prev);
  }
  return false;
}

uint32_t code_block_end(EngineContext* c, uint32_t start) {
  uint32_t end = c->code_free;
  for (int32_t id = 1; id < c->fn_count; ++id) {
    if (!holds_code_offset(c, id)) continue;
    const uint32_t off = uint32_t(ent(c, id, kEntCode));
    if (off > start && off < end) end = off;
  }
  return end;
}

int fn_table_add(EngineContext* c, int32_t w0, int32_t w1, int32_t w2, int32_t w3, int32_t* id) {
  if (c->fn_count >= c->fn_capacity) fn_table_grow(c);
  if (c->fn_count >= c->fn_capacity) return kTooManyUserFunctions;
  call_cache_clear();
  const int32_t at = c->fn_count++;
  uint32_t* e = fn_entry(c, at);
  e[kEntName] = uint32_t(w0);
  e[kEntLink] = uint32_t(w1);
  e[kEntCode] = uint32_t(w2);
  e[kEntExtra] = uint32_t(w3);
  *id = at;
  return kOk;
}

int fn_table_define(EngineContext* c, const char* name, int32_t length, const char* class_name,
                    int32_t class_length, int32_t library, int private_flag, int restricted_flag,
                    int32_t second_library, int32_t* id) {
  if (library != 0 && !ent_is_library(c, library)) return kBadArgument;
  call_cache_clear();  // an entry's library or private bit may change below
  int32_t sym = 0, csym = 0;
  TN_TRY(symtab_intern(c, name, length, kIdentifierLimit, &sym));
  if (class_length > 0) TN_TRY(symtab_intern(c, class_name, class_length, kIdentifierLimit, &csym));

  auto same = [&](int32_t k, int32_t lib) {
    return ent_is_function(c, k) && ent(c, k, kEntName) == sym && ent(c, k, kEntExtra) == csym &&
           ent_library(c, k) == lib;
  };
  for (int32_t k = 1; k < c->fn_count; ++k) {
    if (!same(k, library)) continue;
    uint32_t& link = fn_entry(c, k)[kEntLink];
    link = private_flag ? (link | kEntryPrivate) : (link & ~kEntryPrivate);
    *id = k;
    return kOk;
  }
  // Only an entry that has no code yet is adopted: compiled code stays with
  // the library whose source it came from.
  if (second_library >= 0 && second_library != library && !private_flag) {
    for (int32_t k = 1; k < c->fn_count; ++k) {
      if (!same(k, second_library) || ent(c, k, kEntCode) > 0) continue;
      fn_entry(c, k)[kEntLink] = (restricted_flag ? kEntryRestricted : 0) | uint32_t(library);
      *id = k;
      return kOk;
    }
  }
  const uint32_t link = (private_flag ? kEntryPrivate : 0) | (restricted_flag ? kEntryRestricted : 0) |
                        uint32_t(library);
  return fn_table_add(c, sym, int32_t(link), kCodeReferenced, csym, id);
}

void fn_table_grow(EngineContext* c) {
  if (c->pos.kind != kAreaNone || code_in_use_from(c, 0)) return;
  const int64_t free = int64_t(code_symbol_floor(c)) - int64_t(c->code_free);
  int64_t added = (free - 1) / kGrowthDivisor;
  if (added < kMinGrowth) added = free >= kMinGrowthFreeWords ? kMinGrowth : 0;
  if (added <= 0) return;
  const uint32_t first = uint32_t(c->fn_capacity) * kEntryCodeWords;
  const uint32_t shift = uint32_t(added) * kEntryCodeWords;
  uint16_t* code = code_words(c);
  std::memmove(code + first + shift, code + first, size_t(c->code_free - first) * 2);
  shift_offsets_from(c, first, shift);
  c->fn_capacity += int32_t(added);
  c->code_free += shift;
}

int fn_code_remove(EngineContext* c, int32_t id) {
  if (!ent_is_function(c, id) || ent(c, id, kEntCode) <= 0) return kOk;
  const uint32_t start = uint32_t(ent(c, id, kEntCode));
  // A return position into moved code would resume in the wrong place.
  if (code_in_use_from(c, start) || function_in_frames(c, id)) return kFunctionRedefined;
  const uint32_t end = code_block_end(c, start);
  uint16_t* code = code_words(c);
  std::memmove(code + start, code + end, size_t(c->code_free - end) * 2);
  ent_set(c, id, kEntCode, kCodeNotCompiled);
  shift_offsets_from(c, end, -int64_t(end - start));
  c->code_free -= end - start;
  return kOk;
}

void fn_table_reset(EngineContext* c) {
  call_cache_clear();
  c->fn_count = 1;
  std::memset(fn_entry(c, 0), 0, kFnEntryWords * 4);
  c->code_free = uint32_t(c->fn_capacity) * kEntryCodeWords;
}

void fn_release_references(EngineContext* c) {
  for (int32_t k = 1; k < c->fn_count; ++k)
    if (ent_is_function(c, k) && ent(c, k, kEntCode) == kCodeReferenced) ent_set(c, k, kEntCode, kCodeNotCompiled);
}

namespace {

int compile_into_code(EngineContext* c, int32_t id, const char* text, int32_t length, int32_t first_line) {
  if (c->fn_capacity - c->fn_count < kSpareEntriesForCompile) fn_table_grow(c);
  const uint32_t start = align_up(c->code_free, kCodeAlignWords);
  const uint32_t floor = code_symbol_floor(c);
  if (start >= floor) {
    ent_set(c, id, kEntCode, kCodeNotCompiled);
    return kCodeOverflow;
  }
  c->compiling = 1;
  c->compile_fn = id;
  c->compile_line = first_line;
  int64_t size = 0;
  int32_t values = 0;
  int status = g_compiler(c, ent_library(c, id), text, length, code_words(c) + start, floor - start, &size, id,
                          kCompileHeaderExpected | kCompileDefineAllowed, &values);
  c->compiling = 0;
  if (status == kOk && (size < kHdrInputSlots || int64_t(start) + size > int64_t(code_symbol_floor(c))))
    status = kCodeOverflow;
  if (status != kOk) {
    // A body that did not compile calls nothing: what it marked waits again.
    ent_set(c, id, kEntCode, kCodeNotCompiled);
    fn_release_references(c);
    return status;
  }
  uint16_t* header = code_words(c) + start;
  if (fn_entry(c, id)[kEntLink] & kEntryRestricted) header[kHdrFlags] |= kHdrRestricted;
  ent_set(c, id, kEntCode, int32_t(start));
  const uint32_t end = start + uint32_t(size);
  const uint32_t aligned = align_up(end, kCodeAlignWords);
  c->code_free = aligned <= code_symbol_floor(c) ? aligned : end;
  return kOk;
}

}  // namespace

int fn_compile_on_demand(EngineContext* c, int32_t id, const char* source, int32_t length,
                         int32_t first_line, int restricted_flag) {
  if (!ent_is_function(c, id)) return fn_raise(c, kUndefinedFunctionOrVariable, 0, -1, nullptr);
  const int32_t name = ent(c, id, kEntName);
  if (ent(c, id, kEntCode) > 0) return fn_raise(c, kFunctionRedefined, name, -1, nullptr);
  // The compiler writes at the first free word; a second compilation would too.
  if (c->compiling) return TN_ILLEGAL();
  if (restricted_flag) {
    call_cache_clear();
    fn_entry(c, id)[kEntLink] |= kEntryRestricted;
  }
  if (!source) {
    int32_t capacity = 0;
    char* buffer = source_scratch(c, nullptr, 0, &capacity);
    const int status = fn_locate_source(c, id, buffer, capacity, &length, &first_line);
    if (status == kSourceNotFound) {
      int32_t n = 0;
      const char* text = symtab_name(c, name, &n);
      char terminated[kIdentifierLimit + 1] = {};
      std::memcpy(terminated, text, size_t(n < kIdentifierLimit ? n : kIdentifierLimit));
      return fn_raise(c, kUndefinedFunctionOrVariable, 0, -1, terminated);
    }
    TN_TRY(status);
    source = buffer;
  }
  return compile_into_code(c, id, source, length, first_line);
}

int fn_define_from_source(EngineContext* c, const char* name, int32_t name_length, const char* source,
                          int32_t length, int32_t library, int32_t first_line, int restricted_flag,
                          int32_t* id) {
  if (name_length < 0) name_length = int32_t(std::strlen(name));
  const char* plain = name;
  int32_t plain_length = name_length;
  const char* class_name = nullptr;
  int32_t class_length = 0;
  for (int32_t i = 0; i + 1 < name_length; ++i) {
    if (name[i] == ':' && name[i + 1] == ':') {
      class_name = name;
      class_length = i;
      plain = name + i + 2;
      plain_length = name_length - i - 2;
      break;
    }
  }
  int32_t k = 0;
  TN_TRY(fn_table_define(c, plain, plain_length, class_name, class_length, library, 0, restricted_flag,
                         kNoLibrary, &k));
  if (id) *id = k;
  return fn_compile_on_demand(c, k, source, length, first_line, restricted_flag);
}

namespace {

// Locates a pending function's source (descriptor-stack space first, the
// data stack's free space when that is too small) and compiles it.
int compile_pending_one(EngineContext* c, int32_t id) {
  int32_t capacity = 0, length = 0, first_line = 0;
  char* buffer = source_scratch(c, nullptr, 0, &capacity);
  int status = fn_locate_source(c, id, buffer, capacity, &length, &first_line);
  if (status == kOk) return compile_into_code(c, id, buffer, length, first_line);
  if (status != kDataStackOverflow) return status;

  // The text is held as an item while the compiler works above it.
  const int64_t words = data_free_words(c) / 2;
  if (!desc_room(c) || words < 1) return kDataStackOverflow;
  uint64_t* area = stk_claim(c, kKindReal, 1, uint32_t(words), uint32_t(words));
  const int64_t bytes = words * 8 > INT32_MAX ? INT32_MAX : words * 8;
  status = fn_locate_source(c, id, reinterpret_cast<char*>(area), bytes, &length, &first_line);
  if (status == kOk) status = compile_into_code(c, id, reinterpret_cast<char*>(area), length, first_line);
  stk_drop(c);
  return status;
}

void clear_scan_marks(EngineContext* c) {
  for (int32_t id = 1; id < c->fn_count; ++id)
    if (ent_is_function(c, id) && ent(c, id, kEntCode) == kCodeFailedThisScan)
      ent_set(c, id, kEntCode, kCodeNotCompiled);
}

}  // namespace

int fn_compile_pending(EngineContext* c, int all_flag) {
  if (c->compiling) return TN_ILLEGAL();
  int result = kOk;
  for (int32_t id = 1; id < c->fn_count;) {
    const int32_t code = ent_is_function(c, id) ? ent(c, id, kEntCode) : 1;
    if (!(code == kCodeReferenced || (all_flag && code == kCodeNotCompiled))) {
      ++id;
      continue;
    }
    const int status = compile_pending_one(c, id);
    if (status == kOk) {
      id = 1;  // the new code may have referenced functions not seen before
      continue;
    }
    ent_set(c, id, kEntCode, kCodeFailedThisScan);
    if (status == kSourceNotFound || status == kLibraryNotFound) {
      result = fn_raise(c, kFunctionNotFound, ent(c, id, kEntName), -1, nullptr);
      ++id;
      continue;
    }
    clear_scan_marks(c);
    return status;
  }
  clear_scan_marks(c);
  return result;
}
