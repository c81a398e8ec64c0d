// The built-ins of the character-set conversions: utf8encode (char array to a
// 1 x n uint8 row of its UTF-8 bytes) and utf8decode (8-bit integer array to a
// char row). Both replace their argument on the value stack.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int builtin_utf8encode(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int builtin_utf8decode(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
