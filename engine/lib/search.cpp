// find and nnz: the nonzero elements of an array in storage order (row-major),
// scanned from the first or from the last. An element is nonzero when either
// part is nonzero or NaN. find counts first, then pushes its outputs and
// fills them in a second scan, so nothing is pushed that could not be filled.
#include <cstring>

#include "engine/core/convert.h"
#include "engine/lib/array_args.h"
#include "engine/lib/extremes.h"
#include "engine/lib/operands.h"

using namespace arr;

namespace {

// Calls emit(j, s) for the j-th found element, at storage index s, until
// `limit` were found (a negative limit finds all); returns how many.
template <typename NZ, typename Emit>
int64_t scan_found(NZ nz, int64_t count, int64_t limit, bool from_last, Emit emit) {
  int64_t found = 0;
  if (!from_last) {
    for (int64_t s = 0; s < count && found != limit; ++s)
      if (nz(s)) emit(found++, s);
  } else {
    for (int64_t s = count - 1; s >= 0 && found != limit; --s)
      if (nz(s)) emit(found++, s);
  }
  return found;
}

// Runs f with the nonzero test of x: f(nz) where nz(s) tells element s.
template <typename F>
auto with_nonzero_test(const NumOperand& x, F f) {
  switch (x.kind) {
    case NumKind::kDouble: {
      const auto* re = static_cast<const double*>(x.re);
      const auto* im = static_cast<const double*>(x.im);
      if (im) return f([re, im](int64_t s) { return re[s] != 0 || im[s] != 0; });
      return f([re](int64_t s) { return re[s] != 0; });  // NaN != 0 holds
    }
    case NumKind::kSingle: {
      const auto* re = static_cast<const float*>(x.re);
      const auto* im = static_cast<const float*>(x.im);
      if (im) return f([re, im](int64_t s) { return re[s] != 0 || im[s] != 0; });
      return f([re](int64_t s) { return re[s] != 0; });
    }
    default:
      break;
  }
  switch (x.type & 127) {
    case 1: {
      const auto* p = static_cast<const uint8_t*>(x.re);
      return f([p](int64_t s) { return p[s] != 0; });
    }
    case 2: {
      const auto* p = static_cast<const uint16_t*>(x.re);
      return f([p](int64_t s) { return p[s] != 0; });
    }
    case 4: {
      const auto* p = static_cast<const uint32_t*>(x.re);
      return f([p](int64_t s) { return p[s] != 0; });
    }
    default: {
      const auto* p = static_cast<const uint64_t*>(x.re);
      return f([p](int64_t s) { return p[s] != 0; });
    }
  }
}

// The numeric argument at depth, or the status that refuses it.
int numeric_arg(EngineContext* ctx, int depth, NumOperand* x) {
  *x = num_operand(ctx, depth);
  if (x->kind != NumKind::kNone) return kOk;
  return bad_element_size(ctx, depth) ? TN_ILLEGAL() : kWrongArgType;
}

// Pushes the values output of find: k elements of x's class, complex when x is.
int push_values(EngineContext* ctx, const NumOperand& x, int32_t rows, int32_t cols, uint8_t** re,
                uint8_t** im, uint32_t* esize) {
  const int32_t dims[2] = {rows, cols};
  *im = nullptr;
  switch (x.kind) {
    case NumKind::kDouble: {
      double *r, *i = nullptr;
      TN_TRY(stk_push_matrix(ctx, rows, cols, &r, x.cplx ? &i : nullptr));
      *re = reinterpret_cast<uint8_t*>(r);
      *im = reinterpret_cast<uint8_t*>(i);
      *esize = 8;
      return kOk;
    }
    case NumKind::kSingle: {
      float *r, *i = nullptr;
      TN_TRY(stk_push_single_nd(ctx, 2, dims, &r, x.cplx ? &i : nullptr));
      *re = reinterpret_cast<uint8_t*>(r);
      *im = reinterpret_cast<uint8_t*>(i);
      *esize = 4;
      return kOk;
    }
    default: {
      void* p;
      TN_TRY(push_int_like(ctx, x.desc[2], x.type, 2, dims, &p));
      *re = static_cast<uint8_t*>(p);
      *esize = x.type & 127;
      return kOk;
    }
  }
}

// One output in one scan: the indices are written into a column long enough
// for every element, branch-free, and the column is then cut to the ones
// found. kDataStackOverflow when that column does not fit (the caller then counts first).
int find_indices_one_pass(EngineContext* ctx, const NumOperand& x, int32_t limit, bool from_last) {
  const int64_t most = limit >= 0 && limit < x.count ? limit : x.count;
  if (most + 1 > data_free_words(ctx) || !desc_room(ctx)) return kDataStackOverflow;
  double* out;
  TN_TRY(stk_push_matrix(ctx, static_cast<int32_t>(most), 1, &out, nullptr));
  const int64_t k = with_nonzero_test(x, [&](auto nz) {
    int64_t found = 0;
    if (!from_last) {
      for (int64_t s = 0; s < x.count && found < most; ++s) {
        out[found] = double(s + 1);
        found += nz(s) ? 1 : 0;
      }
    } else {
      for (int64_t s = x.count - 1; s >= 0 && found < most; --s) {
        out[found] = double(s + 1);
        found += nz(s) ? 1 : 0;
      }
    }
    return found;
  });
  // A row argument gives a row, anything else a column; none found gives 0x0.
  uint32_t* d = desc_at(ctx, 0);
  const bool row = x.ndims == 2 && x.dims[0] == 1;
  d[1] = k == 0 ? 0 : row ? 1 : static_cast<uint32_t>(k);
  d[2] = k == 0 ? 0 : row ? static_cast<uint32_t>(k) : 1;
  ctx->data_top -= static_cast<int32_t>(most - k);
  return kOk;
}

}  // namespace

int bi_find(EngineContext* ctx, int nargin, int nargout) {
  if (nargin > 3) return kTooManyInputs;
  if (nargin < 1 || !args_present(ctx, nargin)) return kWrongArgType;
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  bool from_last = false;
  if (nargin == 3) {
    TypedView t;
    if (!stk_is_char(ctx, 0) || !typed_view(ctx, 0, &t)) return kWrongArgType;
    const uint16_t first = t.count > 0 ? tn::load<uint16_t>(t.elems) : 'f';
    if (first == 'l')
      from_last = true;
    else if (first != 'f')
      return kUnknownOption;
  }
  int32_t limit = -1;
  if (nargin >= 2) {
    int st = stk_get_int(ctx, nargin == 3 ? 1 : 0, &limit);
    if (st != kOk) return as_arg_error(st);
    if (limit < 0) limit = -1;
  }
  NumOperand x;
  TN_TRY(numeric_arg(ctx, nargin - 1, &x));
  const int nout = nargout >= 3 ? 3 : nargout == 2 ? 2 : 1;
  if (nout >= 2 && x.ndims > 2) return kBadSize;

  if (nout == 1) {
    int st = find_indices_one_pass(ctx, x, limit, from_last);
    if (st != kDataStackOverflow) return st == kOk ? stk_remove(ctx, 1, nargin) : st;
  }
  const int64_t k = with_nonzero_test(
      x, [&](auto nz) { return scan_found(nz, x.count, limit, from_last, [](int64_t, int64_t) {}); });
  const StackMark mark = stack_mark(ctx);
  if (k == 0) {
    for (int j = 0; j < nout; ++j) {
      int st = stk_push_empty(ctx);
      if (st != kOk) return stack_restore(ctx, mark, st);
    }
    return stk_remove(ctx, nout, nargin);
  }
  // A row argument gives rows, anything else columns.
  const bool row = x.ndims == 2 && x.dims[0] == 1;
  const auto rows = static_cast<int32_t>(row ? 1 : k), cols = static_cast<int32_t>(row ? k : 1);
  uint8_t *vre = nullptr, *vim = nullptr;
  uint32_t esize = 0;
  double *first_out, *second_out = nullptr;
  int st = kOk;
  if (nout == 3) st = push_values(ctx, x, rows, cols, &vre, &vim, &esize);
  if (st == kOk && nout >= 2) st = stk_push_matrix(ctx, rows, cols, &second_out, nullptr);
  if (st == kOk) st = stk_push_matrix(ctx, rows, cols, &first_out, nullptr);
  if (st != kOk) return stack_restore(ctx, mark, st);

  const int64_t ncols = x.ndims >= 2 ? int64_t{x.dims[1]} : 1;
  const auto* xre = static_cast<const uint8_t*>(x.re);
  const auto* xim = static_cast<const uint8_t*>(x.im);
  with_nonzero_test(x, [&](auto nz) {
    return scan_found(nz, x.count, limit, from_last, [&](int64_t j, int64_t s) {
      if (nout == 1) {
        first_out[j] = double(s + 1);
        return;
      }
      first_out[j] = double(s / ncols + 1);
      second_out[j] = double(s % ncols + 1);
      if (nout == 3) {
        std::memcpy(vre + j * esize, xre + s * esize, esize);
        if (vim) std::memcpy(vim + j * esize, xim + s * esize, esize);
      }
    });
  });
  return stk_remove(ctx, nout, nargin);
}

int bi_nnz(EngineContext* ctx) {
  if (!args_present(ctx, 1)) return kWrongArgType;
  NumOperand x;
  TN_TRY(numeric_arg(ctx, 0, &x));
  const int64_t n = with_nonzero_test(
      x, [&](auto nz) { return scan_found(nz, x.count, -1, false, [](int64_t, int64_t) {}); });
  TN_TRY(stk_push_real(ctx, static_cast<double>(n)));
  return stk_remove(ctx, 1, 1);
}
