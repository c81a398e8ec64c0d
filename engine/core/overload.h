// Operator overloading and operand conversion: the second chance that the
// interpreter gives an instruction that failed with a type error. An object
// operand has the operation done by its class's method; integer, char and
// logical operands are converted to double and the instruction runs again.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// What the interpreter does after overload_try.
enum class OverloadAction {
  kReport,    // not handled: report the returned status
  kContinue,  // handled: go on from the current code position
  kRetry,     // operands converted: run the failing instruction again
};

// True for the statuses on which the step is tried.
bool overload_status(int status);

// Tries the step for the instruction at insn (length words) that failed with
// status. Returns the status to report with kReport, else 0.
int overload_try(EngineContext* ctx, int status, const uint16_t* insn, int length, OverloadAction* action);

// Operand tests. The subtype word of the container at depth when it is an
// object (a kind-8 reference is followed), else 0; the b word of the item (or
// of the referenced value) when it is a payload, else 0.
uint32_t item_user_class(EngineContext* ctx, int depth);
uint32_t item_payload_subtype(EngineContext* ctx, int depth);
// n minus the number of set bits among the low n bits of mask (n < 1: n).
int mask_count_unset(int n, uint32_t mask);
