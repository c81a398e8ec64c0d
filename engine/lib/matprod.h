// The matrix product operator and the unary minus and conjugate, over the top
// value-stack items. Negation and conjugation rewrite the item in place.
#pragma once

#include "engine/core/context.h"

// Negates the top item in place; integer, char and logical arrays wrap in
// their width and become numeric arrays of their element type. kWrongArgType for an
// item that is not numeric.
int bi_uminus(EngineContext* ctx);

// Conjugates the top item in place; real and integer items stay as they are.
// kWrongArgType for an item that is not numeric.
int bi_conj(EngineContext* ctx);

// Replaces the two top items (first operand deeper) by their matrix product:
// kIncompatibleSize when inner sizes differ, kBadSize for two non-scalar operands of one shape
// that are not both plain double matrices, kWrongArgType for operands that are no
// numeric arrays (or differ in shape when not plain), kStackOverflow or kDataStackOverflow (no room).
int bi_mtimes(EngineContext* ctx);
