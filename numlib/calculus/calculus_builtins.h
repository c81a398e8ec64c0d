// Built-ins of the solvers that call user code: quadrature, zero finding,
// minimisation and their option structures. The engine's table names them
// in their rows; each takes the engine context, the input and output counts
// (a negative input count when resumed after a call) and the row's data word.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int bi_quad(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_fzero(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_fminbnd(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_fminsearch(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_optimset(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_odeset(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// data: the solver's RungeKuttaTableau (kOde45Tableau or kOde23Tableau).
int bi_ode(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
