// pdf, cdf and icdf: the distribution named by the first argument, evaluated
// elementwise over the broadcast numeric arguments. The checks run in a fixed
// order (name type, numeric fetch, name, too few inputs, selector, too many
// inputs); arguments that must be converted first are converted only once
// every other check has passed. The result is formed before the inputs are
// removed, so a failure leaves the inputs in place.
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/special/distribution_kernels.h"
#include "numlib/special/element_args.h"
#include "numlib/special/special_builtins.h"
#include "numlib/special/special_kernels.h"

namespace {

constexpr uintptr_t kSelPdf = 'p';
constexpr uintptr_t kSelCdf = 'c';
// Longer than any distribution's name.
constexpr int32_t kNameBuffer = 16;
// Inputs a one-parameter call has (name, x, a) and a two-parameter call needs.
constexpr int kOneParamInputs = 3;
constexpr int kTwoParamInputs = 4;
constexpr double kDefaultA = 0;
constexpr double kDefaultB = 1;

const DistributionRow* find_distribution(const char* name, int32_t length) {
  for (const DistributionRow& row : kDistributionTable)
    for (const char* n : row.names)
      if (n && std::strlen(n) == size_t(length) && std::memcmp(n, name, size_t(length)) == 0)
        return &row;
  return nullptr;
}

// An array that converts to double: a matrix, or an integer, single, char
// or logical array.
bool converts_to_double(EngineContext* ctx, int depth) {
  const uint32_t* d = desc_at(ctx, depth);
  return d[0] == kKindReal || d[0] == kKindComplex ||
         (d[0] == kKindPayload && (d[2] == kPayNumeric || d[2] == kPayChar || d[2] == kPayLogical));
}

// The checks that need no numbers: the name, then the input counts and the
// kernel, in that order.
int check_call(const DistributionRow* row, int nargin, DistKernel kernel) {
  if (!row) return kUnknownOption;
  if ((row->params == DistParams::kOne && nargin < kOneParamInputs) ||
      (row->params == DistParams::kTwo && nargin < kTwoParamInputs))
    return kTooFewInputs;
  if (!kernel) return kNotSupported;
  if (row->params == DistParams::kOne && nargin > kOneParamInputs) return kTooManyInputs;
  return kOk;
}

}  // namespace

int bi_distribution(EngineContext* ctx, int nargin, int, uintptr_t data) {
  char name[kNameBuffer];
  int32_t length = 0;
  const int name_status = stk_get_string_buf(ctx, nargin - 1, name, kNameBuffer, &length);
  if (name_status != kOk && name_status != kObjectTooLarge) return kWrongArgType;
  const int n = nargin - 1;
  const DistributionRow* row = name_status == kOk ? find_distribution(name, length) : nullptr;
  const DistKernel kernel = !row ? nullptr : data == kSelPdf ? row->pdf : data == kSelCdf ? row->cdf : row->icdf;
  ElementArgs a;
  int st = element_args_fetch_raw(ctx, n, &a);
  if (st == kWrongType) {
    // Arguments of another class are converted in place: every check that
    // could still refuse the call comes first, so a refusal leaves them as
    // they were. The fetch after the conversion (20 for sizes) stands.
    for (int d = 0; d < n; ++d)
      if (!converts_to_double(ctx, d)) return kWrongArgType;
    TN_TRY(check_call(row, nargin, kernel));
    int changed = 0;
    if (stk_convert_to_double(ctx, ~(n - 1), 0, &changed) != kOk || !changed) return kWrongArgType;
    st = element_args_fetch_raw(ctx, n, &a);
  }
  TN_TRY(st);
  TN_TRY(check_call(row, nargin, kernel));

  double defaults[2] = {kDefaultA, kDefaultB};
  const double* par[2];
  int64_t stride[2];
  for (int j = 0; j < 2; ++j) {
    const bool given = 1 + j < n;
    par[j] = given ? a.re[1 + j] : &defaults[j];
    stride[j] = given ? a.stride[1 + j] : 0;
  }
  double* out;
  TN_TRY(element_args_push_result(ctx, a, &out));
  for (int64_t i = 0; i < a.count; ++i) {
    if (!kernel(a.re[0][i * a.stride[0]], par[0][i * stride[0]], par[1][i * stride[1]], &out[i])) {
      stk_drop(ctx);
      return kNoConvergence;
    }
  }
  stk_remove(ctx, 1, nargin);
  return kOk;
}
