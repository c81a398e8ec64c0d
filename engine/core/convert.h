// Type conversion of value-stack items and argument checking: the common
// type of an operation's operands, conversions to double, single, integer and
// logical arrays, the truth of a condition and the built-ins' spec strings.
// Every conversion either completes or leaves both stacks as they were.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Converts the n top items to one common type: double when any is double,
// else single when any is single, else the widest integer type (unsigned when
// a widest operand is unsigned).
int stk_promote_args(EngineContext* ctx, int n);

// Converts the item at depth `which` (or, with which negative, every item from
// depth ~which up to the top) to a double array (single with the flag). The
// changed flag, when given, is set to 1 when an item changed, else to 0.
int stk_convert_to_double(EngineContext* ctx, int which, int single_flag, int* changed);

// Converts the item at depth to an integer array of that element size and
// signedness, truncating and wrapping; with the check flag a value that is not
// integral (kNonIntegerArg) or out of the target range (kArgOutOfRange) is refused.
int stk_convert_to_int(EngineContext* ctx, int depth, int elem_size, int unsigned_flag,
                       int check_flag);

// Replaces the item at depth by a logical array of the same dimensions.
int stk_convert_to_logical(EngineContext* ctx, int depth);

// Makes the top double or single item complex with zero imaginary parts; im
// receives the start of the imaginary parts (double* or float*).
int stk_make_complex_top(EngineContext* ctx, void** im);

// The truth of a condition: at least one element and none zero (NaN is true).
int stk_test_condition(EngineContext* ctx, int depth, uint8_t* out);
int stk_pop_condition(EngineContext* ctx, uint8_t* out);

// Checks the nargin top items against a spec string (one letter an argument);
// without a spec only objects are refused. kOk or kWrongArgType.
int stk_argcheck(EngineContext* ctx, int nargin, const char* spec);
