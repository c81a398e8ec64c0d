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

  // Array intrinsics the quaternion class applies to one real component at a
  // time; each replaces its nargin inputs (the array deepest) by one result.
  int (*sum_prod_stats)(EngineContext* ctx, int selector, int nargin) = nullptr;
  int (*cumsum_cumprod)(EngineContext* ctx, int which, int nargin) = nullptr;
  int (*diff)(EngineContext* ctx, int nargin) = nullptr;
  // form: kFlipFormDim, kFlipFormUd, kFlipFormLr.
  int (*flipud_flipdim)(EngineContext* ctx, int form, int nargin) = nullptr;
  int (*permute_ipermute)(EngineContext* ctx, int inverse) = nullptr;
  int (*repmat)(EngineContext* ctx, int nargin) = nullptr;
  // nargin, or kReshapeSqueeze for squeeze.
  int (*reshape_squeeze)(EngineContext* ctx, int nargin) = nullptr;
  int (*rot90)(EngineContext* ctx, int nargin) = nullptr;
  int (*transpose)(EngineContext* ctx) = nullptr;
  int (*cat)(EngineContext* ctx, int nargin) = nullptr;
  int (*horzcat)(EngineContext* ctx) = nullptr;
  int (*vertcat)(EngineContext* ctx) = nullptr;
  // The display format: style letter and digit count.
  void (*display_format)(EngineContext* ctx, char* letter, int32_t* digits) = nullptr;
};

enum : int { kFlipFormDim = 0, kFlipFormUd = 1, kFlipFormLr = 2 };
constexpr int kReshapeSqueeze = -1;

void numlib_set_engine_ops(const NumlibEngineOps& ops);
const NumlibEngineOps& numlib_engine_ops();
