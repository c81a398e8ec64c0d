// The colon operator and the literal range, and transposition. A range's
// count comes from the engine's one rule (engine/core/range.h), so a loop
// over a range and the range as a value hold the same elements.
#include "engine/lib/ranges.h"

#include <cstring>
#include <limits>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/range.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/arrays.h"
#include "engine/lib/matprod.h"

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

int arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

// The room of a complex range, in points: half the data-stack capacity.
int64_t complex_range_cap(const EngineContext* ctx) { return ctx->data_capacity / 2; }

struct Scalar {
  double re = 0, im = 0;
  uint64_t bits = 0;  // integer classes: the stored bits, zero-extended
};

int read_scalar(EngineContext* ctx, int depth, Scalar* s) {
  ArrayArg a;
  if (!array_arg(ctx, depth, &a)) return kWrongArgType;
  if (a.count != 1) return kNonScalarArg;
  if (a.cls == ArrayArg::kInt) {
    std::memcpy(&s->bits, a.re, a.esize);
    return kOk;
  }
  s->re = element_as_double(a, 0);
  if (a.im) {
    ArrayArg imag = a;
    imag.re = a.im;
    s->im = element_as_double(imag, 0);
  }
  return kOk;
}

int integer_colon(EngineContext* ctx, int nargin, bool signed_step) {
  ArrayArg cls;
  array_arg(ctx, 0, &cls);
  Scalar start, step, end;
  step.bits = 1;
  TN_TRY(read_scalar(ctx, nargin - 1, &start));
  if (nargin == 3) TN_TRY(read_scalar(ctx, 1, &step));
  TN_TRY(read_scalar(ctx, 0, &end));
  uint64_t n = 0;
  TN_TRY(range_int_count(cls.type, start.bits, step.bits, end.bits, signed_step, &n));
  if (n > static_cast<uint64_t>(kInt32Max)) return kDataStackOverflow;
  const int32_t dims[2] = {1, static_cast<int32_t>(n)};
  void* data = nullptr;
  TN_TRY(stk_push_typed_array(ctx, 2, dims, static_cast<int>(cls.esize),
                              (cls.type & kElemUnsigned) ? 1 : 0, &data));
  auto* out = static_cast<uint8_t*>(data);
  for (uint64_t k = 0; k < n; ++k) {
    const uint64_t v = range_int_element(cls.type, start.bits, step.bits, k);
    std::memcpy(out + k * cls.esize, &v, cls.esize);  // the low bytes: little-endian host
  }
  return remove_under_top(ctx, nargin);
}

}  // namespace

int colon_range(EngineContext* ctx, double start, double end, double step) {
  int64_t n = 0;
  TN_TRY(range_real_count(start, step, end, &n));
  if (n == 0) return stk_push_empty(ctx);
  double* re = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, static_cast<int32_t>(n), &re, nullptr));
  range_real_fill(re, start, step, n);
  return kOk;
}

int colon_complex_range(EngineContext* ctx, double start_re, double start_im, double end_re,
                        double end_im, double step_re, double step_im) {
  if (start_re == end_re && start_im == end_im) return stk_push_complex(ctx, start_re, start_im);
  const ComplexRange r{start_re, start_im, step_re, step_im, end_re, end_im};
  int64_t n = 0;
  TN_TRY(range_complex_count(r, complex_range_cap(ctx), &n));
  if (n == 0) return stk_push_empty(ctx);
  double *re = nullptr, *im = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, static_cast<int32_t>(n), &re, &im));
  range_complex_fill(re, im, r, n);
  return kOk;
}

int bi_colon(EngineContext* ctx, int nargin) {
  if (nargin < 2 || nargin > 3) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  if (!stk_has_item(ctx, nargin - 1)) return kBadArgument;
  // An unsigned range counts down when its step was a negative signed number
  // before the operands were brought to one class.
  bool signed_step = false;
  if (nargin == 3) {
    ArrayArg s;
    signed_step = array_arg(ctx, 1, &s) && s.cls == ArrayArg::kInt && s.subtype == kPayNumeric &&
                  !(s.type & kElemUnsigned);
  }
  // Every operand is a scalar before any is brought to the common class.
  for (int d = 0; d < nargin; ++d) {
    ArrayArg a;
    if (!array_arg(ctx, d, &a)) return kWrongArgType;
    if (a.count != 1) return kNonScalarArg;
  }
  TN_TRY(arg_error(stk_promote_args(ctx, nargin)));
  ArrayArg cls;
  if (!array_arg(ctx, 0, &cls)) return kWrongArgType;
  if (cls.cls == ArrayArg::kInt) return integer_colon(ctx, nargin, signed_step);

  Scalar start, step, end;
  step.re = 1;
  TN_TRY(read_scalar(ctx, nargin - 1, &start));
  if (nargin == 3) TN_TRY(read_scalar(ctx, 1, &step));
  TN_TRY(read_scalar(ctx, 0, &end));
  if (cls.cls == ArrayArg::kDouble) {
    if (start.im == 0 && step.im == 0)
      TN_TRY(colon_range(ctx, start.re, end.re, step.re));
    else
      TN_TRY(colon_complex_range(ctx, start.re, start.im, end.re, end.im, step.re, step.im));
    return remove_under_top(ctx, nargin);
  }
  // Single ranges follow the complex rule on the widened values and stay
  // complex (zero imaginary parts for real operands).
  TN_TRY(colon_complex_range(ctx, start.re, start.im, end.re, end.im, step.re, step.im));
  TN_TRY(stk_convert_to_double(ctx, 0, 1, nullptr));
  return remove_under_top(ctx, nargin);
}

int bi_transpose(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, 1, nullptr));
  int st = is_plain_container(ctx, 0) ? kNonMatrixArray : stk_transpose(ctx);
  if (st != kNonMatrixArray) return arg_error(st);
  // More than two dimensions (or a container): permute by [2 1].
  double* order = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, 2, &order, nullptr));
  order[0] = 2;
  order[1] = 1;
  const int status = bi_permute(ctx, 0);
  if (status != kOk) stk_drop(ctx);  // the order goes again; the operand stays
  return status;
}

int bi_ctranspose(EngineContext* ctx) {
  TN_TRY(bi_transpose(ctx));
  const uint32_t* d = desc_at(ctx, 0);
  if (d[0] == kKindComplex || (d[0] == kKindPayload && d[2] == kPayNumeric)) return bi_conj(ctx);
  return kOk;
}
