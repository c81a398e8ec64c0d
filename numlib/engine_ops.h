// Engine operations the matrix operators hand work to but that live outside
// the numerical library: the elementwise arithmetic, the complex scalar power,
// the matrix product built-in and the registered built-in lookup. The engine
// installs them once at start-up; an operator whose path needs one that is
// not installed returns kNotSupported (the lookup counts as finding nothing).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

struct NumlibEngineOps {
  // Replaces the two top items by their elementwise combination; op is the
  // operator character ('/', '\\', '^', ...).
  int (*elementwise_binary)(EngineContext* ctx, int op) = nullptr;
  // The principal value of x^y for two complex scalars.
  void (*complex_power)(double xr, double xi, double yr, double yi, double* out_re,
                        double* out_im) = nullptr;
  // Replaces the two top items by their matrix product.
  int (*mtimes)(EngineContext* ctx) = nullptr;
  // The next registered row named `name` after `after` (null: the first).
  const BuiltinEntry* (*find_builtin)(EngineContext* ctx, const char* name,
                                      const BuiltinEntry* after, int32_t class_id,
                                      int32_t* index) = nullptr;
};

void numlib_set_engine_ops(const NumlibEngineOps& ops);
const NumlibEngineOps& numlib_engine_ops();
