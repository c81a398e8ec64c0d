// optimset and odeset: option structures built from the engine's templates
// (Display, MaxFunEvals, MaxIter, TolX for the minimisers and fzero; the
// thirteen ODE options for ode45 and ode23).
#include "engine/core/options.h"
#include "numlib/calculus/calculus_builtins.h"

int bi_optimset(EngineContext* ctx, int nargin, int, uintptr_t) {
  return opt_make_struct(ctx, nargin, kOptimsetOptions);
}

int bi_odeset(EngineContext* ctx, int nargin, int, uintptr_t) {
  return opt_make_struct(ctx, nargin, kOdesetOptions);
}
