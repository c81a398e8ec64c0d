// What the compiler needs from the function table and name resolution: the
// user-function lookup, the registered-row lookup, defining forward
// references and variable entries, and the form of the compile hook. These
// declarations follow the function-table module and give way to its headers.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Function-table entry words.
enum FnEntryWord : int {
  kEntName = 0,
  kEntLink = 1,
  kEntCode = 2,
  kEntExtra = 3,
};
constexpr int32_t kEntryVariable = 1;
constexpr uint32_t kEntryLibraryMask = 0x3fffffffu;
constexpr int32_t kCodeNotCompiled = 0;
constexpr int32_t kCodeReferenced = -1;
constexpr int32_t kVariableGlobalOwner = -1;
constexpr int32_t kInlineFunctionId = -2;
constexpr int32_t kNoLibrary = -1;

enum : int {
  kUndefinedFunction = 121,
  kMissingFunctionName = 151,
  kBadFunctionHeader = 152,
  kBadDefinition = 153,
  kIncludeNotPermitted = 158,
  kVariableTableOverflow = 182,
  kWrongNargin = 186,
  kWrongNargout = 187,
  kTooManyUserFunctions = 198,
  kUnexpectedEndfunction = 209,
  kFunctionHeaderExpected = 211,
};

inline int32_t ent(EngineContext* c, int32_t id, int word) { return int32_t(fn_entry(c, id)[word]); }
inline void ent_set(EngineContext* c, int32_t id, int word, int32_t v) { fn_entry(c, id)[word] = uint32_t(v); }
inline uint32_t code_symbol_floor(const EngineContext* c) {
  return uint32_t((int64_t(c->code_size) * 2 + c->sym_extent) / 2);
}

enum : uint32_t {
  kCompileHeaderExpected = 1,
  kCompileDefineAllowed = 2,
  kCompileStopAtHeader = 4,
  kCompileKeepNames = 8,
  kCompileAnsConvention = 16,
  kCompileReadfnPresent = 32,
};
using CompileSourceFn = int (*)(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                uint16_t* code, int64_t capacity, int64_t* code_words,
                                int32_t function_id, uint32_t flags, int32_t* values);

int32_t fn_find_user(EngineContext* ctx, const char* name, int32_t length, const char* class_name,
                     int32_t class_length, int32_t library, int search_uses, int32_t* class_symbol);
const BuiltinEntry* lib_find_builtin(EngineContext* ctx, const char* name, const BuiltinEntry* after,
                                     int32_t class_filter, int32_t* index);
int fn_table_define(EngineContext* ctx, const char* name, int32_t length, const char* class_name,
                    int32_t class_length, int32_t library, int private_flag, int restricted_flag,
                    int32_t second_library, int32_t* id);
int fn_table_add(EngineContext* ctx, int32_t w0, int32_t w1, int32_t w2, int32_t w3, int32_t* id);

// The line before the first line of the text being compiled.
inline int32_t compile_first_line(EngineContext*) { return 0; }
