// Engine operations the numerical library's built-ins hand work to but that
// live above it: the elementwise arithmetic, the array intrinsics the
// quaternion class applies per component, and the display format. The engine
// installs them once at start-up; a path that needs one that is not
// installed returns kNotSupported.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

struct NumlibEngineOps {
  // Replaces the two top items by their elementwise combination; op is the
  // operator character ('/', '\\', '^', ...).
  int (*elementwise_binary)(EngineContext* ctx, int op) = nullptr;

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
