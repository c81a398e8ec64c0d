// The type predicates: ischar, islogical, isnumeric, isfloat, isinteger,
// isscalar and isvector. Each replaces the top item by a 1 x 1 logical.
#pragma once

#include "engine/core/context.h"

// Any value answers these; containers, function values and objects are false.
int bi_ischar(EngineContext* ctx);
int bi_islogical(EngineContext* ctx);
int bi_isnumeric(EngineContext* ctx);
int bi_isfloat(EngineContext* ctx);
int bi_isinteger(EngineContext* ctx);

// Only double, single and typed (numeric, char, logical) arrays are asked;
// any other value gives kWrongArgType.
int bi_isscalar(EngineContext* ctx);
int bi_isvector(EngineContext* ctx);

// Replaces the top item by a logical scalar; when that does not fit the
// item stays as it was.
int replace_top_with_logical(EngineContext* ctx, bool v);
