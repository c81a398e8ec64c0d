// Interning of names in the symbol area below the end of the code area. The
// area is a packed run of {length byte, characters} records from the lowest
// symbol (the context's sym_extent, a non-positive offset) up to the end.
#include "engine/core/symbols.h"

#include <cstring>

namespace {

uint8_t* code_end(EngineContext* ctx) {
  return reinterpret_cast<uint8_t*>(code_words(ctx)) + static_cast<size_t>(ctx->code_size) * 2;
}

}  // namespace

int32_t symtab_find(EngineContext* ctx, const char* name, int32_t length) {
  if (length < 1 || length > 255) return 0;
  uint8_t* end = code_end(ctx);
  int32_t at = ctx->sym_extent;
  while (at < 0) {
    const uint8_t* rec = end + at;
    int32_t len = rec[0];
    if (len == length && std::memcmp(rec + 1, name, static_cast<size_t>(len)) == 0) return at;
    at += len + 1;
  }
  return 0;
}

int symtab_intern(EngineContext* ctx, const char* name, int32_t length, int32_t limit,
                  int32_t* symbol) {
  if (length < 1) return kNullName;
  if (length > limit || length > 255) return kNameTooLong;  // the length must fit its byte
  int32_t found = symtab_find(ctx, name, length);
  if (found != 0) {
    *symbol = found;
    return kOk;
  }
  int64_t used = -static_cast<int64_t>(ctx->sym_extent);
  if (used + length + 2 > kSymbolAreaLimit) return kSymbolTableTooLarge;
  int64_t lowest = static_cast<int64_t>(ctx->code_size) * 2 + ctx->sym_extent;
  int64_t free_bytes = lowest - static_cast<int64_t>(ctx->code_free) * 2;
  if (free_bytes < length + 1) return kCodeOverflow;
  int32_t at = ctx->sym_extent - (length + 1);
  uint8_t* rec = code_end(ctx) + at;
  rec[0] = static_cast<uint8_t>(length);
  std::memcpy(rec + 1, name, static_cast<size_t>(length));
  ctx->sym_extent = at;
  *symbol = at;
  return kOk;
}

const char* symtab_name(EngineContext* ctx, int32_t symbol, int32_t* length) {
  if (symbol >= 0 || symbol < ctx->sym_extent) return nullptr;
  const uint8_t* rec = code_end(ctx) + symbol;
  if (symbol + 1 + rec[0] > 0) return nullptr;
  if (length) *length = rec[0];
  return reinterpret_cast<const char*>(rec + 1);
}
