// The optimset options as the solvers read them.
#include "numlib/calculus/solver_options.h"

#include "engine/core/options.h"
#include "engine/core/status.h"

int solver_read_options(EngineContext* ctx, int depth, SolverOptions* o) {
  if (depth < 0) return kOk;
  double display = o->display ? 1 : 0;
  TN_TRY(opt_get_number(ctx, depth, "TolX", kOptimsetOptions, o->tol_x, &o->tol_x));
  TN_TRY(opt_get_number(ctx, depth, "MaxIter", kOptimsetOptions, o->max_iter, &o->max_iter));
  TN_TRY(opt_get_number(ctx, depth, "MaxFunEvals", kOptimsetOptions, o->max_fun_evals,
                        &o->max_fun_evals));
  TN_TRY(opt_get_number(ctx, depth, "Display", kOptimsetOptions, display, &display));
  o->display = display != 0;
  return kOk;
}
