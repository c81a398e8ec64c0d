// optimset: the option structure of fzero, fminbnd and fminsearch, built
// from the engine's template (Display, MaxFunEvals, MaxIter, TolX).
#include "engine/core/options.h"
#include "numlib/calculus/calculus_builtins.h"

int bi_optimset(EngineContext* ctx, int nargin, int, uintptr_t) {
  return opt_make_struct(ctx, nargin, kOptimsetOptions);
}
