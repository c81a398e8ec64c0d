// The bit built-ins of the general library table (bitget, bitset, bitand,
// bitor, bitxor, bitcmp, bitshift, bitall/bitany), Gray code and base64 rows.
// Integer operands work in their own width; a double is used through the low
// 32 bits of its value truncated to 64 bits and gives unsigned 32-bit results.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int bi_bitget(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_bitset(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_bitand(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_bitor(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_bitxor(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_bitcmp(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_bitshift(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// Data word '&' (bitall) or '|' (bitany).
int bi_bitall(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// Data word 'g' (graycode) or 'i' (igraycode).
int bi_graycode(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// Data word 'e' (base64encode) or 'd' (base64decode).
int bi_base64encode(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Shift of a width-bit pattern v by k (left for k >= 0, right for k < 0,
// sign-filling when arithmetic): every count is defined, a magnitude at or
// above the width shifting everything out.
uint64_t bits_shift(uint64_t v, int width, bool arithmetic, int64_t k);
// The low n bits of a width-bit pattern: all of them for n >= width, none for n < 1.
uint64_t bits_low(uint64_t v, int width, int64_t n);
