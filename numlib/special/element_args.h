// Operands of the elementwise special-function built-ins: double arrays with
// scalar broadcasting, read through a stride of 0 for a one-element operand.
// Operand 0 is the deepest (the first argument); none is copied or expanded.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kMaxElementArgs = 4;

struct ElementArgs {
  int n;
  double* re[kMaxElementArgs];
  double* im[kMaxElementArgs];  // null for a real operand
  int64_t stride[kMaxElementArgs];
  int64_t count;                // elements of the result
  int ndims;
  const uint32_t* dims;         // lies in an operand: valid until operands are removed
};

// Fetches the n top items as double arrays: kWrongArgType for any other item,
// kIncompatibleSize for non-scalars of different dimensions.
int element_args_fetch(EngineContext* ctx, int n, ElementArgs* a);
// The same with the array service's own status (kWrongType for a non-double).
int element_args_fetch_raw(EngineContext* ctx, int n, ElementArgs* a);

// The operand whose storage takes the result: the one with the most
// elements, the earliest on ties.
int element_args_widest(const ElementArgs& a);

// Removes every operand but `keep`, which ends on top, made real.
void element_args_keep(EngineContext* ctx, const ElementArgs& a, int keep);

// Pushes a new real array of the operands' common dimensions.
int element_args_push_result(EngineContext* ctx, const ElementArgs& a, double** out);
