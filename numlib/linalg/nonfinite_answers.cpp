// NaN answers of the linear-algebra rows (see nonfinite_answers.h).
#include "numlib/linalg/nonfinite_answers.h"

#include <cmath>
#include <limits>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool finite_block(const double* p, int64_t rows, int64_t cols, bool upper) {
  for (int64_t i = 0; i < rows; ++i)
    for (int64_t j = upper ? i : 0; j < cols; ++j)
      if (!std::isfinite(p[i * cols + j])) return false;
  return true;
}

void fill(const NanOutput& o, double* p) {
  const int64_t count = int64_t{o.m} * o.n;
  for (int64_t k = 0; k < count; ++k)
    p[k] = o.fill == NanOutput::kDiagonal && k / o.n != k % o.n ? 0.0 : kNaN;
}

}  // namespace

void la_nan_fill(const NanOutput& o, const MatRef& r) {
  if (r.count() == 0) return;
  fill(o, r.re);
  if (r.im) fill(o, r.im);
}

bool la_finite(const MatRef& a) {
  return finite_block(a.re, a.m, a.n, false) && (!a.im || finite_block(a.im, a.m, a.n, false));
}

bool la_finite_upper(const MatRef& a) {
  return finite_block(a.re, a.m, a.n, true) && (!a.im || finite_block(a.im, a.m, a.n, true));
}

int la_answer_nan(EngineContext* ctx, int nargin, const NanOutput* outs, int nout) {
  int64_t words = 0;
  for (int k = 0; k < nout; ++k)
    words += outs[k].fill == NanOutput::kValue ? 1 : la_words(outs[k].m, outs[k].n, outs[k].cplx);
  TN_TRY(la_room(ctx, nout, words));
  for (int k = nout - 1; k >= 0; --k) {
    const NanOutput& o = outs[k];
    MatRef r;
    const int st = o.fill == NanOutput::kValue ? stk_push_real(ctx, o.value) : la_push(ctx, o.m, o.n, o.cplx, &r);
    if (st != kOk) {
      la_drop(ctx, nout - 1 - k);
      return st;
    }
    if (o.fill != NanOutput::kValue) la_nan_fill(o, r);
  }
  return stk_remove(ctx, nout, nargin);
}

namespace {

constexpr int kMaxAnswers = 4;
// The ceiling of the matrix functions' accuracy estimate: nothing is known.
constexpr double kNoAccuracy = 1.0;

}  // namespace

int la_nan_eigen(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout) {
  if (nout < 2) {
    const NanOutput e{n, 1, cplx};
    return la_answer_nan(ctx, nargin, &e, 1);
  }
  const NanOutput vd[2] = {{n, n, cplx}, {n, n, cplx, NanOutput::kDiagonal}};
  return la_answer_nan(ctx, nargin, vd, 2);
}

int la_nan_square(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout) {
  NanOutput outs[kMaxAnswers];
  if (nout > kMaxAnswers) nout = kMaxAnswers;
  for (int k = 0; k < nout; ++k) outs[k] = NanOutput{n, n, cplx};
  return la_answer_nan(ctx, nargin, outs, nout);
}

int la_nan_balance(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout) {
  const NanOutput b{n, n, cplx};
  if (nout < 2) return la_answer_nan(ctx, nargin, &b, 1);
  const NanOutput tb[2] = {{n, n, false, NanOutput::kDiagonal}, b};
  return la_answer_nan(ctx, nargin, tb, 2);
}

int la_nan_matfun(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout) {
  const NanOutput fe[2] = {{n, n, cplx}, {1, 1, false, NanOutput::kValue, kNoAccuracy}};
  return la_answer_nan(ctx, nargin, fe, nout < 2 ? 1 : 2);
}
