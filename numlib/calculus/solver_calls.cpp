// Shared pieces of the re-entrant solvers: work values, calls of the user's
// function, scalar inputs and trace output.
#include "numlib/calculus/solver_calls.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"

int solver_push_state(EngineContext* ctx, int n, double** row) {
  TN_TRY(stk_push_matrix(ctx, 1, n, row, nullptr));
  std::memset(*row, 0, sizeof(double) * size_t(n));
  return kOk;
}

double* solver_row(EngineContext* ctx, int depth) {
  int32_t rows, cols;
  double *re, *im;
  if (stk_get_matrix(ctx, depth, &rows, &cols, &re, &im) != kOk) return nullptr;
  return re;
}

int solver_call_with_top(EngineContext* ctx, int nargin, int work, int fun_input, int first_extra) {
  const int extras = nargin > first_extra ? nargin - first_extra : 0;
  // Depth of input i with x and the extras pushed so far on top.
  for (int j = 0; j < extras; ++j) {
    const int input = first_extra + j;
    const int depth = (nargin - 1 - input) + work + 1 + j;
    const int st = stk_dup(ctx, depth, 1);
    if (st != kOk) {
      stk_remove(ctx, 0, j + 1);
      return st;
    }
  }
  const int fun_depth = (nargin - 1 - fun_input) + work + 1 + extras;
  const int st = fn_call_funarg(ctx, fun_depth, 1 + extras, 1, 0);
  if (st != kOk) stk_remove(ctx, 0, 1 + extras);
  return st;
}

int solver_call_scalar(EngineContext* ctx, int nargin, int work, int fun_input, int first_extra,
                       double x) {
  TN_TRY(stk_push_real(ctx, x));
  return solver_call_with_top(ctx, nargin, work, fun_input, first_extra);
}

int solver_take_value(EngineContext* ctx, int results, double* v) {
  if (results < 1) return kWrongType;
  TN_TRY(stk_get_real_scalar(ctx, 0, v));
  stk_remove(ctx, 0, results);
  return kOk;
}

int solver_resume_value(EngineContext* ctx, int results, int work, double* v) {
  const int st = solver_take_value(ctx, results, v);
  if (st != kOk) stk_remove(ctx, 0, results + work);
  return st;
}

int solver_scalar_arg(EngineContext* ctx, int depth, double empty_value, double* out) {
  int64_t count = 0;
  if (stk_get_array_info(ctx, depth, nullptr, nullptr, &count) != kOk) return kWrongArgType;
  if (count == 0) {
    *out = empty_value;
    return kOk;
  }
  if (count != 1) return kBadSize;
  double *re, *im;
  float *sre, *sim;
  if (stk_get_double_array(ctx, depth, nullptr, nullptr, nullptr, &re, &im) == kOk) {
    *out = re[0];
    return kOk;
  }
  if (stk_get_single_array(ctx, depth, nullptr, nullptr, nullptr, &sre, &sim) == kOk) {
    *out = sre[0];
    return kOk;
  }
  TypedView t;
  if (!typed_view(ctx, depth, &t)) return kWrongArgType;
  if (elem_is_integer(t.type)) {
    *out = static_cast<double>(load_int_element(t.elems, 0, t.type));
    return kOk;
  }
  if (t.subtype == kPayLogical || t.subtype == kPayChar) {
    *out = t.subtype == kPayChar ? tn::load<uint16_t>(t.elems) : tn::load<uint8_t>(t.elems);
    return kOk;
  }
  return kWrongArgType;
}

void trace_text(EngineContext* ctx, const char* text) {
  io_write(ctx, kTraceFd, text, static_cast<int32_t>(std::strlen(text)));
}

void trace_number(EngineContext* ctx, double v) { io_printf(ctx, kTraceFd, v); }

void trace_newline(EngineContext* ctx) { io_newline(ctx, kTraceFd); }

void trace_points(EngineContext* ctx, const char* text, const double* v, int n) {
  trace_text(ctx, text);
  for (int i = 0; i < n; ++i) {
    if (i) trace_text(ctx, ",");
    trace_number(ctx, v[i]);
  }
  trace_newline(ctx);
}

int solver_push_outcome(EngineContext* ctx, int nargout, double x, double f, bool converged) {
  constexpr int kFlagOutputs = 3;
  if (nargout >= kFlagOutputs) TN_TRY(stk_push_logical_scalar(ctx, converged ? 1 : 0));
  if (nargout >= 2) TN_TRY(stk_push_real(ctx, f));
  return stk_push_real(ctx, x);
}
