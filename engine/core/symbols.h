// The symbol area: interned 8-bit names stored downward from the end of the
// code area, each a length byte followed by its characters. A symbol is named
// by its negative byte offset from the code area's end; symbols only go away
// with a full reset, so an offset stays valid for the life of the engine.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int32_t kIdentifierLimit = 32;  // longest identifier a name may have
constexpr int32_t kSymbolAreaLimit = 32767;  // symbol offsets fit a signed 16-bit operand

// Symbol offset of an existing name, 0 when it was never interned.
int32_t symtab_find(EngineContext* ctx, const char* name, int32_t length);

// Interns a name (at most `limit` characters) and returns its symbol; an
// existing symbol is returned as it is and costs no space.
int symtab_intern(EngineContext* ctx, const char* name, int32_t length, int32_t limit,
                  int32_t* symbol);

// Characters and length of a symbol; null when the offset names no symbol.
const char* symtab_name(EngineContext* ctx, int32_t symbol, int32_t* length);
