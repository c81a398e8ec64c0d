// Shape queries on a local array answered where the array lies, without
// copying it onto the stack (see local_queries.cpp).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// When the instruction at query (code ending at end, area starting at base)
// is numel, length, ndims, isempty or one-output size of one argument, and
// heap block `block` holds an array, pushes the query's answer for that
// array, sets the position past the query and answers true. False, with
// nothing changed, for any other instruction or value.
bool local_shape_query(EngineContext* ctx, const uint16_t* query, const uint16_t* end, int32_t block,
                       const uint8_t* base);
