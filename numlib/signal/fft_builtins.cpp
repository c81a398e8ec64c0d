// fft, ifft, fft2, ifft2, fftn and ifftn: argument checks, resizing along the
// chosen dimensions, and the batched kernel passes. The input is never
// changed in place: the result is pushed, the input copied into it (padded or
// truncated) and the passes ping-pong between it and scratch above it, so any
// failure drops the result and leaves the caller's stack as it was.
#include "numlib/signal/fft_builtins.h"

#include <algorithm>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/fft.h"

namespace {

constexpr int kMaxFftDims = 16;         // sizes beyond this give 109
constexpr uintptr_t kForward = 'f';
constexpr uintptr_t kForward2 = '2';

// Dims of an array as the pushers take them.
struct FftShape {
  int nd = 0;
  int32_t d[kMaxFftDims] = {};
  int64_t count() const {
    int64_t n = 1;
    for (int k = 0; k < nd; ++k) n = tn::mul64(n, d[k]);
    return n;
  }
};

// The input: a double array read where it lies.
struct FftInput {
  int nd = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
};

int read_input(EngineContext* ctx, int depth, FftInput* x) {
  const int s = stk_get_double_array(ctx, depth, &x->nd, &x->dims, &x->count, &x->re, &x->im);
  return s == kOk ? kOk : kWrongArgType;
}

// Element strides in the engine's order: dimension 1 fastest, then 0, then 2, 3, ...
void engine_strides(const int32_t* d, int nd, int64_t* stride) {
  int64_t s = 1;
  if (nd > 1) {
    stride[1] = 1;
    s = d[1];
  }
  stride[0] = s;
  s *= d[0];
  for (int k = 2; k < nd; ++k) {
    stride[k] = s;
    s *= d[k];
  }
  if (nd == 1) stride[0] = 1;
}

// Copies the overlap of src (dims sd) into dst (dims dd, same number nd),
// zero-filling the rest of dst. dst_im may be null only when src_im is.
void copy_resized(const double* src_re, const double* src_im, const int32_t* sd,
                  double* dst_re, double* dst_im, const int32_t* dd, int nd, int64_t dst_count) {
  // Zeros go only where the copy leaves a gap: a large transform of
  // unchanged size would otherwise write its whole result twice.
  bool padded = false;
  for (int k = 0; k < nd; ++k) padded = padded || sd[k] < dd[k];
  if (padded) std::fill(dst_re, dst_re + dst_count, 0.0);
  if (dst_im && (padded || !src_im)) std::fill(dst_im, dst_im + dst_count, 0.0);
  int64_t ss[kMaxFftDims], ds[kMaxFftDims], box[kMaxFftDims], at[kMaxFftDims] = {};
  engine_strides(sd, nd, ss);
  engine_strides(dd, nd, ds);
  for (int k = 0; k < nd; ++k) {
    box[k] = std::min(sd[k], dd[k]);
    if (box[k] == 0) return;
  }
  // The odometer runs over every dimension but the fastest one (1, or 0 alone).
  const int inner = nd > 1 ? 1 : 0;
  const int64_t run = box[inner];
  for (;;) {
    int64_t so = 0, dof = 0;
    for (int k = 0; k < nd; ++k) {
      so += at[k] * ss[k];
      dof += at[k] * ds[k];
    }
    std::memcpy(dst_re + dof, src_re + so, size_t(run) * sizeof(double));
    if (src_im) std::memcpy(dst_im + dof, src_im + so, size_t(run) * sizeof(double));
    int k = 0;
    for (; k < nd; ++k) {
      if (k == inner) continue;
      if (++at[k] < box[k]) break;
      at[k] = 0;
    }
    if (k == nd) return;
  }
}

// The plan of one call: the result's dims and the dimensions transformed.
struct FftPlan {
  FftShape out;
  int passes = 0;
  int dim[kMaxFftDims] = {};
  bool inverse = false;
};

// Sets size n (below 1 counts as 0) along dimension d of the shape, whose
// dims past the last read as 1.
int resize_shape(FftShape* s, int d, int64_t n) {
  if (d >= kMaxFftDims) return n == 1 ? kOk : kObjectTooLarge;
  while (s->nd <= d) s->d[s->nd++] = 1;
  s->d[d] = int32_t(std::max<int64_t>(n, 0));
  return kOk;
}

// Pushes the result, copies x into the buffer where the passes must start,
// runs them, and replaces the nargin arguments by the result. x at depth
// nargin - 1 before the push.
int run_plan(EngineContext* ctx, int nargin, const FftPlan& plan) {
  FftInput x;
  TN_TRY(read_input(ctx, nargin - 1, &x));
  const int64_t count = plan.out.count();
  if (x.count == 0 || (x.nd > 0 && x.dims[0] == 0)) {
    // Returned unchanged: an empty x stays as it is.
    TN_TRY(stk_dup(ctx, nargin - 1, 1));
    return stk_remove(ctx, 1, nargin);
  }
  if (count == 0) {
    TN_TRY(stk_push_matrix(ctx, 0, 0, nullptr, nullptr));
    return stk_remove(ctx, 1, nargin);
  }
  if (count > kMaxNdElements) return kObjectTooLarge;
  int64_t work = 0;
  for (int p = 0; p < plan.passes; ++p)
    work = std::max(work, numk_fft_work_doubles(plan.out.d[plan.dim[p]]));
  const int64_t scratch = plan.passes > 0 ? 2 * count + work : 0;
  if (!desc_room(ctx) || 2 * count + scratch > data_free_words(ctx)) return kDataStackOverflow;

  double *rre = nullptr, *rim = nullptr;
  TN_TRY(stk_push_double_nd(ctx, plan.out.nd, plan.out.d, &rre, &rim));
  TN_TRY(read_input(ctx, nargin, &x));  // the push may have moved nothing, but read again
  void* free_ptr = nullptr;
  int64_t free_bytes = 0;
  stk_free_space(ctx, &free_bytes, &free_ptr);
  if (free_bytes / 8 < scratch) {
    stk_drop(ctx);
    return kDataStackOverflow;
  }
  double* tre = static_cast<double*>(free_ptr);
  double* tim = tre + count;
  double* wk = tim + count;

  // x's dims, extended with ones to the result's number of dims.
  int32_t xd[kMaxFftDims];
  for (int k = 0; k < plan.out.nd; ++k) xd[k] = k < x.nd ? int32_t(x.dims[k]) : 1;
  // With an odd number of passes the copy goes to scratch, so the last pass
  // writes into the result.
  double* bre[2] = {rre, tre};
  double* bim[2] = {rim, tim};
  int cur = plan.passes % 2;
  copy_resized(x.re, x.im, xd, bre[cur], bim[cur], plan.out.d, plan.out.nd, count);
  bool real = x.im == nullptr;
  for (int p = 0; p < plan.passes; ++p) {
    int d = plan.dim[p];
    DimSplit split;
    uint32_t ud[kMaxFftDims];
    for (int k = 0; k < plan.out.nd; ++k) ud[k] = uint32_t(plan.out.d[k]);
    shape_split_at_dim(plan.out.nd, ud, &d, &split);
    const int nxt = 1 - cur;
    const bool real_path = real && split.stride % 2 == 0;
    for (int64_t o = 0; o < split.outer; ++o) {
      const int64_t off = o * split.length * split.stride;
      const int r = numk_fft(bre[cur] + off, real_path ? nullptr : bim[cur] + off,
                             int32_t(split.length), int32_t(split.stride),
                             int32_t(split.stride), 1, bre[nxt] + off, bim[nxt] + off,
                             plan.inverse ? 1 : 0, wk, work, ctx);
      if (r != kFftDone) {
        stk_drop(ctx);
        return r == kFftInterrupted ? kAborted : kDataStackOverflow;
      }
    }
    real = false;
    cur = nxt;
  }
  return stk_remove(ctx, 1, nargin);
}

// Adds dimension d to the passes when its size is above 1.
void add_pass(FftPlan* plan, int d) {
  if (d < plan->out.nd && plan->out.d[d] > 1) plan->dim[plan->passes++] = d;
}

void shape_of(const FftInput& x, FftShape* s) {
  s->nd = std::min(x.nd, kMaxFftDims);
  for (int k = 0; k < s->nd; ++k) s->d[k] = int32_t(x.dims[k]);
}

// An integer argument that may be empty (*given false).
int optional_int(EngineContext* ctx, int depth, bool* given, int32_t* v) {
  if (stk_is_char(ctx, depth)) return kWrongArgType;
  int32_t rows = 0, cols = 0;
  if (stk_get_matrix(ctx, depth, &rows, &cols, nullptr, nullptr) == kOk && (rows == 0 || cols == 0)) {
    *given = false;
    return kOk;
  }
  *given = true;
  const int status = stk_get_int(ctx, depth, v);
  return status == kWrongType ? kWrongArgType : status;
}

// The shape of a size argument: a double matrix, not text.
int size_matrix(EngineContext* ctx, int depth, int32_t* rows, int32_t* cols) {
  if (stk_is_char(ctx, depth) || stk_is_logical(ctx, depth)) return kWrongArgType;
  return stk_get_matrix(ctx, depth, rows, cols, nullptr, nullptr) == kOk ? kOk : kWrongArgType;
}

// A size vector: real double elements, each an integer.
int read_sizes(EngineContext* ctx, int depth, int64_t* n, int32_t* out, int cap) {
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  if (stk_get_matrix(ctx, depth, &rows, &cols, &re, &im) != kOk || im) return kWrongArgType;
  *n = int64_t(rows) * cols;
  if (*n > cap) return kObjectTooLarge;
  for (int64_t k = 0; k < *n; ++k) {
    if (!tn::double_is_int32(re[k])) return kNonIntegerArg;
    out[k] = int32_t(re[k]);
  }
  return kOk;
}

}  // namespace

int bi_fft(EngineContext* ctx, int nargin, int, uintptr_t data) {
  FftInput x;
  TN_TRY(read_input(ctx, nargin - 1, &x));
  int dim = -1;
  if (nargin == 3) {
    bool given = false;
    int32_t d = 0;
    TN_TRY(optional_int(ctx, 0, &given, &d));
    if (given) {
      if (d < 1) return kBadDimension;
      dim = d - 1;
    }
  }
  bool have_n = false;
  int32_t n = 0;
  if (nargin >= 2) TN_TRY(optional_int(ctx, nargin - 2, &have_n, &n));
  FftPlan plan;
  plan.inverse = data != kForward;
  shape_of(x, &plan.out);
  if (dim < 0) {
    DimSplit split;
    shape_split_at_dim(x.nd, x.dims, &dim, &split);
  }
  if (have_n) TN_TRY(resize_shape(&plan.out, dim, n));
  add_pass(&plan, dim);
  return run_plan(ctx, nargin, plan);
}

int bi_fft2(EngineContext* ctx, int nargin, int, uintptr_t data) {
  FftInput x;
  TN_TRY(read_input(ctx, nargin - 1, &x));
  FftPlan plan;
  plan.inverse = data != kForward2;
  shape_of(x, &plan.out);
  int32_t siz[2] = {};
  int64_t nsiz = 0;
  if (nargin == 3) {
    bool given = false;
    TN_TRY(optional_int(ctx, 1, &given, &siz[0]));
    if (!given) return kNonScalarArg;
    TN_TRY(optional_int(ctx, 0, &given, &siz[1]));
    if (!given) return kNonScalarArg;
    nsiz = 2;
  } else if (nargin == 2) {
    int32_t rows = 0, cols = 0;
    TN_TRY(size_matrix(ctx, 0, &rows, &cols));
    if (int64_t(rows) * cols > 2) return kBadSize;
    TN_TRY(read_sizes(ctx, 0, &nsiz, siz, 2));
    if (nsiz == 1) {
      siz[1] = siz[0];
      nsiz = 2;
    }
  }
  for (int k = 0; k < nsiz; ++k) TN_TRY(resize_shape(&plan.out, k, siz[k]));
  add_pass(&plan, 0);
  add_pass(&plan, 1);
  return run_plan(ctx, nargin, plan);
}

int bi_fftn(EngineContext* ctx, int nargin, int, uintptr_t data) {
  FftInput x;
  TN_TRY(read_input(ctx, nargin - 1, &x));
  FftPlan plan;
  plan.inverse = data != kForward;
  shape_of(x, &plan.out);
  if (nargin == 2) {
    int32_t rows = 0, cols = 0;
    TN_TRY(size_matrix(ctx, 0, &rows, &cols));
    const int64_t given = int64_t(rows) * cols;
    if (given < x.nd) return kBadSize;
    if (given > kMaxFftDims) return kObjectTooLarge;
    int32_t siz[kMaxFftDims];
    int64_t nsiz = 0;
    TN_TRY(read_sizes(ctx, 0, &nsiz, siz, kMaxFftDims));
    for (int k = 0; k < nsiz; ++k) TN_TRY(resize_shape(&plan.out, k, siz[k]));
  }
  for (int k = 0; k < plan.out.nd; ++k) add_pass(&plan, k);
  return run_plan(ctx, nargin, plan);
}
