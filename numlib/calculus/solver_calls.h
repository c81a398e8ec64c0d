// What the re-entrant solvers (quad, fzero, fminbnd, fminsearch, the ODE
// solvers) share: a state row kept as a work value on top of the built-in's
// inputs, calls of the user's function with the extra inputs passed on, the
// value it returns, scalar inputs and options, and the trace on fd 2.
// A solver never keeps a pointer into the block across a call of user code:
// it finds its state by depth each time it is entered.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int32_t kTraceFd = 2;

// Pushes a 1 x n real row of zeros as the state; *row points at it.
int solver_push_state(EngineContext* ctx, int n, double** row);
// The data of the real work value at depth (null when it is not one).
double* solver_row(EngineContext* ctx, int depth);

// Calls the function value at input `fun_input` (0 = the deepest of nargin
// inputs, under `work` work values) as fun(x, extra...) with the inputs from
// `first_extra` on as extra, asking for one result. x must be on top already.
int solver_call_with_top(EngineContext* ctx, int nargin, int work, int fun_input, int first_extra);
// The same with a real scalar x pushed first.
int solver_call_scalar(EngineContext* ctx, int nargin, int work, int fun_input, int first_extra,
                       double x);

// Takes the one result of a resumed call off the stack as a real scalar:
// kWrongType or kNonScalarArg for anything else (nothing is taken then).
int solver_take_value(EngineContext* ctx, int results, double* v);
// The same for a solver entered again: when the result is no real scalar,
// the results and the solver's `work` work values go before the status
// comes back, so that the error leaves the solver's frame as it found it.
int solver_resume_value(EngineContext* ctx, int results, int work, double* v);

// The numeric scalar at depth: double, single, logical or integer of any
// width; `empty_value` for an empty array; kBadSize for more elements.
int solver_scalar_arg(EngineContext* ctx, int depth, double empty_value, double* out);

// Trace pieces on fd 2: text, a number in the display format, end of line.
void trace_text(EngineContext* ctx, const char* text);
void trace_number(EngineContext* ctx, double v);
void trace_newline(EngineContext* ctx);
// text, then the numbers separated by ",", then an end of line.
void trace_points(EngineContext* ctx, const char* text, const double* v, int n);

// Pushes a minimiser's outputs as asked: x, then f(x), then the exit flag,
// the first output ending on top.
int solver_push_outcome(EngineContext* ctx, int nargout, double x, double f, bool converged);
