// Libraries and their sources: reading source text through the "+readlib"
// and "+readfn" hooks (with "include" expansion), scanning a source for its
// definitions and "use" lines, and the library entries with their use-lists.
// Libraries load lazily: "use" only records a library; its text is read when
// the loader works through the pending ones.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/status.h"

// Hook row names and the hooks' call forms.
inline constexpr const char kHookReadLib[] = "+readlib";
inline constexpr const char kHookReadFn[] = "+readfn";
inline constexpr const char kHookConvertCharset[] = "+convertcharset";
inline constexpr const char kCliLibrary[] = "_cli";

// The flags word a source hook receives: what is asked for.
constexpr uint32_t kSourceModeLibrary = 'l';
constexpr uint32_t kSourceModeFunction = 'f';

// Fills buffer (capacity bytes) with the text, sets *length and *first_line
// (the number of lines before the text's first line); 300 passes the request
// on to the next extension and the next hook; any other status ends the search.
using SourceHookFn = int (*)(EngineContext* ctx, const char* name, const char* extension, uint32_t flags,
                             char* buffer, int32_t capacity, int32_t* length, int32_t* first_line,
                             uint8_t* found, uintptr_t data);
using ConvertCharsetFn = int (*)(EngineContext* ctx, char* text, int32_t capacity, int32_t* length,
                                 uintptr_t data);

constexpr int32_t kSourceNameLimit = 32;     // library and function names
constexpr int32_t kIncludeNameLimit = 254;   // file names on "include" lines
constexpr int kMaxIncludeDepth = 16;
constexpr int32_t kExtensionListBytes = 40;

// The extension list of library sources: the context's default extension.
inline void library_extensions(const EngineContext* ctx, char (&list)[kExtensionListBytes]) {
  for (char& ch : list) ch = 0;
  const char* ext = ctx->lib_ext ? ctx->lib_ext : "";
  for (int32_t i = 0; i < kExtensionListBytes - 2 && ext[i]; ++i) list[i] = ext[i];
}

// Options of lib_read_source.
enum : uint32_t {
  kReadConvert = 1,    // run the first "+convertcharset" hook
  kReadNoInclude = 2,  // leave "include" lines alone
};

// Reads a source into buffer. extensions: terminated strings ended by an
// empty one, or null (the hooks are then asked once, without extension).
// kLibraryNotFound (a library) or kSourceNotFound (a function) when no hook has it;
// kDataStackOverflow when the text does not fit; kIncludeSyntax and
// kIncludeDepth for bad or too deeply nested "include" lines.
int lib_read_source(EngineContext* ctx, const char* name, int32_t length, const char* extensions,
                    int library_flag, uint32_t options, char* buffer, int32_t capacity,
                    int32_t* out_length, int32_t* first_line);

// Moves the source of function id to the start of buffer. kUndefinedFunctionOrVariable
// for an id outside the table, kSourceNotFound when its definition is not in its source.
int fn_locate_source(EngineContext* ctx, int32_t id, char* buffer, int64_t capacity, int32_t* length,
                     int32_t* first_line);
// The name of the function's library; kSourceNotFound when it has none.
int fn_source_text(EngineContext* ctx, int32_t id, const char** text, int32_t* length);

// --- Definitions in a source ---------------------------------------------------------
struct DefinitionScan {
  int32_t position = 0;
  int32_t line = 0;          // line ends before position
  uint8_t next_private = 0;  // set by a "private" line, cleared by "public" and by use
};

struct SourceDefinition {
  const char* name;
  int32_t name_length;
  const char* class_name;  // null for a plain function
  int32_t class_length;
  int32_t start, end;  // the definition's text in the source: its "function" or
                       // "define" statement to its "endfunction" statement, the
                       // next definition or the end of the text
  int32_t line;        // line ends before start
  uint8_t is_private;
  uint8_t is_define;   // "define name = expression"
};

// The next definition from scan->position: kOk, or kEndOfFile at the end of
// the text. The text is read by the compiler's statement reader, in the free
// data-stack space, so that a definition starts and ends where the compiler
// reads one. kIncludeNotPermitted for an "include" statement between
// definitions, kUnexpectedEndfunction for an "endfunction" that closes
// nothing, and kMissingFunctionName, kBadFunctionHeader or kBadDefinition for
// a header that cannot be read; any other fault of a header or a body is the
// compiler's to report when it compiles the definition. kDataStackOverflow
// when the free data-stack space cannot hold a statement.
int fn_find_next_definition(EngineContext* ctx, const char* text, int32_t length, DefinitionScan* scan,
                            SourceDefinition* out);

// Calls visit(definition) for each definition of the text in order; the
// first nonzero status of the scan or of a visit ends the walk with it.
template <typename Visit>
int fn_each_definition(EngineContext* ctx, const char* text, int32_t length, Visit&& visit) {
  DefinitionScan scan;
  SourceDefinition d{};
  for (;;) {
    const int status = fn_find_next_definition(ctx, text, length, &scan, &d);
    if (status == kEndOfFile) return kOk;
    TN_TRY(status);
    TN_TRY(visit(static_cast<const SourceDefinition&>(d)));
  }
}

// Calls visit(arg, name, length, if_exists) for each library named on a "use"
// or "useifexists" statement (read as the compiler reads statements); a
// visit's nonzero status ends the walk. kBadLibraryName for a name that does
// not begin with a letter or "_".
using UseLineVisit = int (*)(void* arg, const char* name, int32_t length, bool if_exists);
int source_use_lines(EngineContext* ctx, const char* text, int32_t length, UseLineVisit visit, void* arg);

// --- Library entries -------------------------------------------------------------------
int lib_find_by_name(EngineContext* ctx, const char* name, int32_t length, int loaded_flag, int32_t* index);
int32_t lib_index_by_symbol(EngineContext* ctx, int32_t symbol);
bool lib_uses_library(EngineContext* ctx, int32_t library, int32_t other);
// Appends other to the library's use-list (a library already there moves to
// the end: later "use" lines win). 6 when the code area has no room.
int lib_add_use(EngineContext* ctx, int32_t library, int32_t other);
int lib_parse_use_lines(EngineContext* ctx, int32_t library, const char* text, int32_t length);
int lib_use(EngineContext* ctx, int32_t library, const char* text, int32_t length);
int lib_compile_source(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                       int replace_flag);

// The free descriptor-stack space as a byte buffer, past `avoid` when the
// text at avoid lies in it (so a text being worked on is never overwritten).
char* source_scratch(EngineContext* ctx, const char* avoid, int32_t avoid_length, int32_t* capacity);
