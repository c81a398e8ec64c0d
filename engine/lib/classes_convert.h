// Conversions between value classes: unary plus, byte swapping, double and
// single, the integer classes, cast and typecast, the char constructors, the
// integer limits and map2int. Integer conversions truncate toward zero and
// keep the low bits; nothing here fails for a value out of range.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Selectors of the shared handlers.
enum : int {
  kCastValues = 0,       // cast
  kCastReinterpret = 1,  // typecast
};
constexpr uintptr_t kIntLimitMax = 'a';  // data word of the intmax row
constexpr uintptr_t kIntLimitMin = 'i';  // data word of the intmin row

// Intrinsics (interpreter handlers); a getter's kWrongType is answered as kWrongArgType.
int bi_uplus(EngineContext* ctx);
int bi_swapbytes(EngineContext* ctx);
int bi_double(EngineContext* ctx);
int bi_single(EngineContext* ctx);
// int8 ... uint64: element size 1, 2, 4 or 8 and the unsigned flag.
int bi_int_convert(EngineContext* ctx, int elem_size, int unsigned_flag);
// cast (X, type) with kCastValues, typecast (X, type) with kCastReinterpret.
int bi_cast(EngineContext* ctx, int reinterpret);
// char (A1, ..., An) with n = nargin; setstr (A) is (ctx, 1).
int bi_char(EngineContext* ctx, int nargin);

// Rows of the engine's built-in table.
int bi_intlimit(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_map2int(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Runs the handler of one of the intrinsics above or of the type tests
// (uplus 116, ischar 198 ... typecast 218, islogical 271) as its instruction
// calls it; nargin matters only to char. kNotSupported for any other opcode.
int classes_run_opcode(EngineContext* ctx, uint32_t opcode, int nargin);
