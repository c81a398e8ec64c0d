// The function table at the start of the code area: entries for functions,
// libraries and global or persistent variables, compiled code growing upward
// behind the table, and the compile step. Code offsets in entries (functions'
// code, libraries' use-lists) move whenever code moves; a variable entry's
// heap index in the same word never does.
#pragma once

#include <cstdint>

#include "engine/core/call_cache.h"
#include "engine/core/context.h"
#include "engine/core/frames.h"
#include "engine/core/function_names.h"

// Entry layout: four 32-bit words.
enum FnEntryWord : int {
  kEntName = 0,   // <0 a function's name symbol; 0 a library; 1 a variable
  kEntLink = 1,   // function: private, restricted and library bits; else the name symbol
  kEntCode = 2,   // function: code offset; library: use-list offset; variable: heap index
  kEntExtra = 3,  // function: class symbol or 0; variable: owner (-1 global)
};
constexpr int32_t kEntryLibrary = 0;
constexpr int32_t kEntryVariable = 1;
constexpr uint32_t kEntryPrivate = 1u << 31;
constexpr uint32_t kEntryRestricted = 1u << 30;
constexpr uint32_t kEntryLibraryMask = 0x3fffffffu;
constexpr int32_t kCodeNotCompiled = 0;
constexpr int32_t kCodeReferenced = -1;   // to be compiled before it runs
constexpr int32_t kLibraryPending = -1;   // used, source not read yet
constexpr int32_t kVariableGlobalOwner = -1;
constexpr uint16_t kUseListDeleted = 0xFFFF;
constexpr uint32_t kEntryCodeWords = 8;   // code words one entry occupies
constexpr uint32_t kCodeAlignWords = 4;   // code blocks start on 8-byte boundaries
static_assert(kEntryCodeWords * 2 == kFnEntryWords * 4);
constexpr int32_t kNoLibrary = -1;         // "no second library" for fn_table_define

inline int32_t ent(EngineContext* c, int32_t id, int word) { return int32_t(fn_entry(c, id)[word]); }
// Every write of an entry word goes through here (or clears the call cache
// itself); a variable's heap index is the one word no call depends on.
inline void ent_set(EngineContext* c, int32_t id, int word, int32_t v) {
  if (word != kEntCode || int32_t(fn_entry(c, id)[kEntName]) != kEntryVariable) call_cache_clear();
  fn_entry(c, id)[word] = uint32_t(v);
}
inline bool ent_is_function(EngineContext* c, int32_t id) {
  return id > 0 && id < c->fn_count && ent(c, id, kEntName) < 0;
}
inline bool ent_is_library(EngineContext* c, int32_t id) {
  return id > 0 && id < c->fn_count && ent(c, id, kEntName) == kEntryLibrary;
}
inline int32_t ent_library(EngineContext* c, int32_t id) {
  return int32_t(fn_entry(c, id)[kEntLink] & kEntryLibraryMask);
}
// Lowest code word the symbol area leaves free (symbols grow down to it).
inline uint32_t code_symbol_floor(const EngineContext* c) {
  return uint32_t((int64_t(c->code_size) * 2 + c->sym_extent) / 2);
}

// --- The compile step ---------------------------------------------------------
// The compiler turns one function definition (function_id >= 0, or
// kFunctionInline) or a block of top-level code (-1) into code words at
// `code` with room for `capacity` words, setting *code_words; for top-level
// code *values receives the number of values the code leaves. It must keep
// its code below the symbol area as that area stands after every name it
// interns (the symbols grow down toward the code).
enum : uint32_t {
  kCompileHeaderExpected = 1,
  kCompileDefineAllowed = 2,
  kCompileStopAtHeader = 4,
  kCompileKeepNames = 8,
  kCompileAnsConvention = 16,
  kCompileReadfnPresent = 32,  // a "+readfn" row exists: unknown names may be functions
  // Top-level code whose caller takes its last values: *values holds, on
  // entry, how many values come before those, and the shown expressions
  // from there on call their functions with one output (a function that may
  // return nothing then returns its value, or fails for want of one).
  kCompileValuesFrom = 64,
};
using CompileSourceFn = int (*)(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                uint16_t* code, int64_t capacity, int64_t* code_words,
                                int32_t function_id, uint32_t flags, int32_t* values);
// Installs the compiler and returns the previous one. Until the statement
// compiler is installed every compilation reports kNotSupported.
CompileSourceFn fn_set_compiler(CompileSourceFn fn);
CompileSourceFn fn_compiler();

// --- Table operations -------------------------------------------------------------
int fn_table_define(EngineContext* ctx, const char* name, int32_t length, const char* class_name,
                    int32_t class_length, int32_t library, int private_flag, int restricted_flag,
                    int32_t second_library, int32_t* id);
void fn_table_grow(EngineContext* ctx);
// Removes a function's compiled code; later code moves down. kFunctionRedefined when a frame
// or the current position still runs code at or above the block (nothing
// changes then). An uncompiled function: 0, nothing to do.
int fn_code_remove(EngineContext* ctx, int32_t id);
void fn_table_reset(EngineContext* ctx);
// Every function marked to be compiled before it runs (kCodeReferenced) goes
// back to waiting for its first call (kCodeNotCompiled).
void fn_release_references(EngineContext* ctx);
// Appends a new entry, growing the table when full; kTooManyUserFunctions when it stays full.
int fn_table_add(EngineContext* ctx, int32_t w0, int32_t w1, int32_t w2, int32_t w3, int32_t* id);
// True when running or suspended code (the current position, any frame's
// return, catch or suspend position, a frame's name table) lies in the code
// area at or above code word `start`, or a compilation or a task could hold one.
bool code_in_use_from(EngineContext* ctx, uint32_t start);
// Finds the end of the code block that starts at code word `start`: the next
// higher code offset of any entry, or the first free word.
uint32_t code_block_end(EngineContext* ctx, uint32_t start);

// --- Compiling --------------------------------------------------------------------
int fn_compile_on_demand(EngineContext* ctx, int32_t id, const char* source, int32_t length,
                         int32_t first_line, int restricted_flag);
int fn_define_from_source(EngineContext* ctx, const char* name, int32_t name_length, const char* source,
                          int32_t length, int32_t library, int32_t first_line, int restricted_flag,
                          int32_t* id);
int fn_compile_pending(EngineContext* ctx, int all_flag);

// The compiled header of a function, or null when it has no code (every
// call asks, so it is inline).
inline const uint16_t* fn_code_header(EngineContext* ctx, int32_t id) {
  if (!ent_is_function(ctx, id) || ent(ctx, id, kEntCode) <= 0) return nullptr;
  return code_words(ctx) + ent(ctx, id, kEntCode);
}
// Words from a compiled header to its first instruction.
inline int64_t code_header_words(const uint16_t* header) {
  const int64_t names =
      (header[kHdrFlags] & kHdrNoNames) ? 0 : int64_t(kFrameNameBytes / 2) * header[kHdrLocals];
  return kHdrInputSlots + int64_t(header[kHdrMaxIn]) + names;
}

// The one place where this code raises errors that carry arguments, in the
// form of the error module's raise by code: `symbol` names a function (%f),
// `integer` a count (%i) or the length of `text` (%S), `text` a name (%n).
// Returns code.
int fn_raise(EngineContext* ctx, int code, int32_t symbol, int32_t integer, const char* text);
