// Function names for messages: read from the function table and the symbol
// area only, so they can be formed at any moment, also while an error is
// being stored. Unknown ids and damaged entries give placeholder names.
#include "engine/core/function_names.h"

#include <cstring>

#include "engine/core/strings.h"
#include "engine/core/symbols.h"

namespace {

// Function-table entry words.
enum : int { kEntryKind = 0, kEntryFlags = 1, kEntryCode = 2, kEntryClass = 3 };
constexpr uint32_t kEntryPrivate = 1u << 31;
constexpr uint32_t kEntryLibraryMask = (1u << 30) - 1;

constexpr char kNameBase[] = "(base)";
constexpr char kNameNone[] = "(none)";
constexpr char kNameInline[] = "(inline)";

bool valid_entry(const EngineContext* ctx, int32_t id) { return id > 0 && id < ctx->fn_count; }

// Name of a symbol, or nothing when the offset names none.
void symbol_text(EngineContext* ctx, int32_t symbol, const char** text, int32_t* length) {
  *text = symtab_name(ctx, symbol, length);
  if (!*text) {
    *text = "";
    *length = 0;
  }
}

void set_literal(const char* literal, const char** text, int32_t* length) {
  *text = literal;
  *length = str_len(literal);
}

}  // namespace

void fn_name_by_id(EngineContext* ctx, int32_t id, const char** text, int32_t* length) {
  if (id == kFunctionInline) return set_literal(kNameInline, text, length);
  if (id == 0) return set_literal(kNameBase, text, length);
  if (!valid_entry(ctx, id)) return set_literal(kNameNone, text, length);
  const uint32_t* e = fn_entry(ctx, id);
  const int32_t kind = int32_t(e[kEntryKind]);
  // Functions carry their name in the kind word; libraries and variables in word 1.
  symbol_text(ctx, kind < 0 ? kind : int32_t(e[kEntryFlags]), text, length);
}

void fn_name_and_line(EngineContext* ctx, int32_t id, char* buffer, int32_t size, int32_t* length) {
  int32_t pos = 0;
  if (size < 1) {
    if (length) *length = 0;
    return;
  }
  const char* text;
  int32_t n;
  if (valid_entry(ctx, id) && int32_t(fn_entry(ctx, id)[kEntryKind]) < 0) {
    const uint32_t* e = fn_entry(ctx, id);
    const int32_t library = int32_t(e[kEntryFlags] & kEntryLibraryMask);
    if (library > 0) {
      fn_name_by_id(ctx, library, &text, &n);
      buf_append_n(buffer, &pos, text, n, size);
      buf_append_cstr(buffer, &pos, "/", size);
    }
    if (e[kEntryFlags] & kEntryPrivate) buf_append_cstr(buffer, &pos, ".", size);
    if (int32_t(e[kEntryClass]) < 0) {
      symbol_text(ctx, int32_t(e[kEntryClass]), &text, &n);
      buf_append_n(buffer, &pos, text, n, size);
      buf_append_cstr(buffer, &pos, "::", size);
    }
  }
  fn_name_by_id(ctx, id, &text, &n);
  buf_append_n(buffer, &pos, text, n, size);
  buffer[pos] = 0;
  if (length) *length = pos;
}

int32_t code_function_name(EngineContext* ctx, char* buffer, int32_t size, char* operation,
                           int32_t operation_size) {
  const int32_t function = ctx->error_area.loc_function;
  if (buffer && size > 0) {
    // Code outside any function has no name: only its line is shown.
    if (function > 0 || function == kFunctionInline)
      fn_name_and_line(ctx, function, buffer, size, nullptr);
    else
      buffer[0] = 0;
  }
  if (operation && operation_size > 0) {
    int32_t pos = 0;
    buf_append_n(operation, &pos, ctx->failing_op,
                 int32_t(strnlen(ctx->failing_op, sizeof ctx->failing_op)), operation_size);
    operation[pos] = 0;
  }
  return ctx->error_area.loc_line;
}
