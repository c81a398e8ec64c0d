// Reading the optimset options of the minimisers and of fzero: each option
// is a number, its default when the options input is absent, empty, or
// lacks the field; a value of more than one element is kBadSize.
#pragma once

#include "engine/core/context.h"

struct SolverOptions {
  double tol_x;
  double max_iter;
  double max_fun_evals;
  bool display;
};

// Reads the options input at depth (none when depth < 0) over the defaults in *o.
int solver_read_options(EngineContext* ctx, int depth, SolverOptions* o);
