// conv, deconv, addpol and conv2 on plain double matrices (real or complex),
// and the opcode rows of the polynomial and filter intrinsics. Results are
// pushed zero-filled above the operands and accumulated in place, then the
// operands are removed beneath them; nothing changes before the room tests.
#include "engine/lib/poly_filter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/core/complex_scalar.h"
#include "engine/core/convert.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_args.h"
#include "engine/lib/array_shape.h"

namespace {

constexpr int kDimColumns = 1;  // conv's dimension argument, 1-based
constexpr int kDimRows = 2;
constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();

// A plain matrix where it lies; im is null for a real one.
struct Mat {
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  double* im = nullptr;
  int64_t count() const { return int64_t{rows} * cols; }
  bool empty() const { return rows == 0 || cols == 0; }
};

int get_mat(EngineContext* ctx, int depth, Mat* m) {
  return arr::as_arg_error(stk_get_matrix(ctx, depth, &m->rows, &m->cols, &m->re, &m->im));
}

int64_t words_of(int64_t count, bool cplx) { return cplx ? 2 * count : count; }

// Room for `items` more descriptors and `words` more data words.
// Room for `items` pushes: each push keeps its descriptor below the capacity,
// as desc_room asks of one.
bool has_room(const EngineContext* ctx, int items, int64_t words) {
  return int64_t{ctx->desc_top} + kDescWords * items < int64_t{ctx->desc_capacity} && words <= data_free_words(ctx);
}

// --- conv --------------------------------------------------------------------------
// conv -> (a, b [, dim]): the vectors of a along dim convolved with those of b.

// The vectors of a matrix along dim: element k of vector v at k * step + v * gap.
struct Vectors {
  int64_t length, count, step, gap;
};
Vectors vectors_of(const Mat& m, int dim) {
  if (dim == kDimColumns) return {m.rows, m.cols, m.cols, 1};
  return {m.cols, m.rows, 1, m.cols};
}

constexpr int kConvBlock = 8;  // values of a taken together on the hot path
constexpr int kLanes = 2;      // results computed side by side (one SSE2 register)
constexpr int kLaneGroups = 4;
using Lanes = double __attribute__((vector_size(kLanes * sizeof(double))));
Lanes load_lanes(const double* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// r[i + j] += a[i] b[j] for real vectors of unit step. Eight values of a are
// taken at once, and each r element still receives its terms in increasing
// i, so the sums round exactly as the plain double loop does.
void conv_real_unit(const double* a, int64_t la, int64_t astep, const double* b, int64_t lb, double* r) {
  int64_t i = 0;
  for (; i + kConvBlock <= la; i += kConvBlock) {
    double av[kConvBlock];
    for (int u = 0; u < kConvBlock; ++u) av[u] = a[(i + u) * astep];
    double* rr = r + i;
    auto edge = [&](int64_t j) {
      double t = rr[j];
      for (int u = 0; u < kConvBlock; ++u)
        if (j - u >= 0 && j - u < lb) t += av[u] * b[j - u];
      rr[j] = t;
    };
    const int64_t lo = kConvBlock - 1;
    for (int64_t j = 0; j < std::min(lo, lb + lo); ++j) edge(j);
    // Each lane adds its terms in the same order as the scalar loop; four
    // independent groups of lanes per step keep the adders busy.
    int64_t j = lo;
    for (; j + kLaneGroups * kLanes <= lb; j += kLaneGroups * kLanes) {
      Lanes t0 = load_lanes(rr + j), t1 = load_lanes(rr + j + kLanes);
      Lanes t2 = load_lanes(rr + j + 2 * kLanes), t3 = load_lanes(rr + j + 3 * kLanes);
      for (int u = 0; u < kConvBlock; ++u) {
        const double* bu = b + j - u;
        t0 += av[u] * load_lanes(bu);
        t1 += av[u] * load_lanes(bu + kLanes);
        t2 += av[u] * load_lanes(bu + 2 * kLanes);
        t3 += av[u] * load_lanes(bu + 3 * kLanes);
      }
      std::memcpy(rr + j, &t0, sizeof t0);
      std::memcpy(rr + j + kLanes, &t1, sizeof t1);
      std::memcpy(rr + j + 2 * kLanes, &t2, sizeof t2);
      std::memcpy(rr + j + 3 * kLanes, &t3, sizeof t3);
    }
    for (; j + kLanes <= lb; j += kLanes) {
      Lanes t = load_lanes(rr + j);
      for (int u = 0; u < kConvBlock; ++u) t += av[u] * load_lanes(b + j - u);
      std::memcpy(rr + j, &t, sizeof t);
    }
    for (; j < lb; ++j) {
      double t = rr[j];
      for (int u = 0; u < kConvBlock; ++u) t += av[u] * b[j - u];
      rr[j] = t;
    }
    for (int64_t j = std::max(lo, lb); j < lb + lo; ++j) edge(j);
  }
  for (; i < la; ++i) {
    const double ai = a[i * astep];
    for (int64_t j = 0; j < lb; ++j) r[i + j] += ai * b[j];
  }
}

void conv_accumulate(const Mat& a, const Mat& b, const Mat& r, int dim) {
  const Vectors va = vectors_of(a, dim), vb = vectors_of(b, dim), vr = vectors_of(r, dim);
  for (int64_t v = 0; v < vr.count; ++v) {
    const int64_t oa = (va.count == 1 ? 0 : v) * va.gap, ob = (vb.count == 1 ? 0 : v) * vb.gap;
    double* rre = r.re + v * vr.gap;
    double* rim = r.im ? r.im + v * vr.gap : nullptr;
    if (!rim && vb.step == 1 && vr.step == 1) {
      conv_real_unit(a.re + oa, va.length, va.step, b.re + ob, vb.length, rre);
      continue;
    }
    for (int64_t i = 0; i < va.length; ++i) {
      const double ar = a.re[oa + i * va.step], ai = a.im ? a.im[oa + i * va.step] : 0.0;
      double* rr = rre + i * vr.step;
      if (!rim) {
        for (int64_t j = 0; j < vb.length; ++j) rr[j * vr.step] += ar * b.re[ob + j * vb.step];
        continue;
      }
      double* ri = rim + i * vr.step;
      for (int64_t j = 0; j < vb.length; ++j) {
        const double br = b.re[ob + j * vb.step], bi = b.im ? b.im[ob + j * vb.step] : 0.0;
        rr[j * vr.step] += ar * br;
        rr[j * vr.step] -= ai * bi;
        ri[j * vr.step] += ar * bi;
        ri[j * vr.step] += ai * br;
      }
    }
  }
}

// --- deconv ------------------------------------------------------------------------

// Makes the real matrix at depth 1 complex where it lies: the item above it
// moves up by the zero imaginary half. The caller has tested the room.
void make_complex_under_top(EngineContext* ctx) {
  uint32_t* d = desc_at(ctx, 1);
  const int64_t n = int64_t{d[1]} * d[2];
  uint64_t* words = data_words(ctx);
  const int32_t top_start = item_data_index(ctx, 0);
  std::memmove(words + top_start + n, words + top_start, size_t(ctx->data_top - top_start) * 8);
  std::memset(words + top_start, 0, size_t(n) * 8);
  d[0] = kKindComplex;
  ctx->data_top += static_cast<int32_t>(n);
}

// Long division in the numerator's storage w (na elements), by b (nb >= 1).
void long_divide(const Mat& w, const Mat& b, const Mat& q) {
  const int64_t na = w.count(), nb = b.count();
  const double b0r = b.re[0], b0i = b.im ? b.im[0] : 0.0;
  for (int64_t i = 0; i + nb <= na; ++i) {
    double qr, qi = 0.0;
    if (!w.im) {
      qr = w.re[i] / b0r;
    } else if (!b.im) {
      qr = w.re[i] / b0r;
      qi = w.im[i] / b0r;
    } else {
      cplx::smith_divide(w.re[i], w.im[i], b0r, b0i, qr, qi);
    }
    q.re[i] = qr;
    if (q.im) q.im[i] = qi;
    for (int64_t j = 1; j < nb; ++j) {
      w.re[i + j] -= qr * b.re[j];
      if (!w.im) continue;
      const double bj = b.im ? b.im[j] : 0.0;
      w.re[i + j] += qi * bj;
      w.im[i + j] -= qr * bj;
      w.im[i + j] -= qi * b.re[j];
    }
  }
}

// --- addpol ------------------------------------------------------------------------

// Adds m into r aligned at the bottom-right corner.
void add_aligned(const Mat& m, const Mat& r) {
  const int64_t dr = r.rows - m.rows, dc = r.cols - m.cols;
  for (int64_t i = 0; i < m.rows; ++i)
    for (int64_t j = 0; j < m.cols; ++j) {
      const int64_t at = (i + dr) * r.cols + j + dc;
      r.re[at] += m.re[i * m.cols + j];
      if (m.im) r.im[at] += m.im[i * m.cols + j];
    }
}

bool fits_inside(const Mat& small, const Mat& big) { return small.rows <= big.rows && small.cols <= big.cols; }

// --- conv2 -------------------------------------------------------------------------

enum class Conv2Shape { kFull, kSame, kValid };

bool chars_equal(const ArrayArg& s, const char* word) {
  const int64_t n = int64_t(std::strlen(word));
  if (s.count != n) return false;
  for (int64_t i = 0; i < n; ++i)
    if (tn::load<uint16_t>(s.re + 2 * i) != uint16_t(word[i])) return false;
  return true;
}

int read_conv2_shape(EngineContext* ctx, Conv2Shape* shape) {
  ArrayArg s;
  if (!array_arg(ctx, 0, &s) || !s.is_char()) return kWrongArgType;
  if (chars_equal(s, "full") || chars_equal(s, "f")) {
    *shape = Conv2Shape::kFull;
  } else if (chars_equal(s, "same") || chars_equal(s, "s")) {
    *shape = Conv2Shape::kSame;
  } else if (chars_equal(s, "valid") || chars_equal(s, "v")) {
    *shape = Conv2Shape::kValid;
  } else {
    return kUnknownOption;
  }
  return kOk;
}

// out(i, j) += A(i + r0 + p, j + c0 + q) K(mk - 1 - p, nk - 1 - q), for p
// then q in order, so each element sums its terms in the documented order;
// the loop over j runs innermost over contiguous rows (the hot path).
void conv2_accumulate(const Mat& a, const Mat& k, const Mat& out, int64_t r0, int64_t c0) {
  const int64_t mk = k.rows, nk = k.cols;
  for (int64_t i = 0; i < out.rows; ++i) {
    double* ore = out.re + i * out.cols;
    double* oim = out.im ? out.im + i * out.cols : nullptr;
    for (int64_t p = 0; p < mk; ++p) {
      const int64_t ar = i + r0 + p;
      if (ar < 0 || ar >= a.rows) continue;
      for (int64_t q = 0; q < nk; ++q) {
        const int64_t kat = (mk - 1 - p) * nk + (nk - 1 - q);
        const double kr = k.re[kat], ki = k.im ? k.im[kat] : 0.0;
        const int64_t shift = c0 + q;  // A column of output column j is j + shift
        const int64_t jlo = std::max<int64_t>(0, -shift), jhi = std::min<int64_t>(out.cols, a.cols - shift);
        const double* are = a.re + ar * a.cols + shift;
        const double* aim = a.im ? a.im + ar * a.cols + shift : nullptr;
        if (!oim) {
          for (int64_t j = jlo; j < jhi; ++j) ore[j] += are[j] * kr;
        } else if (!aim) {
          for (int64_t j = jlo; j < jhi; ++j) {
            ore[j] += are[j] * kr;
            oim[j] += are[j] * ki;
          }
        } else if (!k.im) {
          for (int64_t j = jlo; j < jhi; ++j) {
            ore[j] += are[j] * kr;
            oim[j] += aim[j] * kr;
          }
        } else {
          for (int64_t j = jlo; j < jhi; ++j) {
            ore[j] += are[j] * kr;
            ore[j] -= aim[j] * ki;
            oim[j] += are[j] * ki;
            oim[j] += aim[j] * kr;
          }
        }
      }
    }
  }
}

// --- Opcode adapters ---------------------------------------------------------------

int op_conv(EngineContext* c, int32_t, int nargin, int, int) { return bi_conv(c, nargin); }
int op_conv2(EngineContext* c, int32_t, int nargin, int, int) { return bi_conv2(c, nargin); }
int op_deconv(EngineContext* c, int32_t, int, int nargout, int) { return bi_deconv(c, nargout); }
int op_filter(EngineContext* c, int32_t, int nargin, int nargout, int) { return bi_filter(c, nargin, nargout); }
int op_addpol(EngineContext* c, int32_t, int, int, int) { return bi_addpol(c); }

constexpr ArrayIntrinsic kRows[] = {
    {kOpConv, op_conv, 0},     {kOpConv2, op_conv2, 0},   {kOpDeconv, op_deconv, 0},
    {kOpFilter, op_filter, 0}, {kOpAddpol, op_addpol, 0},
};

}  // namespace

std::span<const ArrayIntrinsic> poly_filter_intrinsics() { return kRows; }

int bi_conv(EngineContext* ctx, int nargin) {
  if (nargin < 2 || nargin > 3) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  if (!arr::args_present(ctx, nargin)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, "CC[r"));
  Mat a, b;
  TN_TRY(get_mat(ctx, nargin - 1, &a));
  TN_TRY(get_mat(ctx, nargin - 2, &b));
  int dim = (a.rows == 1 && b.rows == 1) ? kDimRows : kDimColumns;
  if (nargin == 3) {
    int32_t d = 0;
    TN_TRY(arr::as_arg_error(stk_get_int(ctx, 0, &d)));
    if (d != kDimColumns && d != kDimRows) return kBadDimension;
    dim = d;
  }
  if (a.empty() || b.empty()) {
    TN_TRY(stk_push_zeros(ctx, 0, 0, 0));
    return arr::as_arg_error(stk_remove(ctx, 1, nargin));
  }
  const Vectors va = vectors_of(a, dim), vb = vectors_of(b, dim);
  if (va.count != vb.count && va.count != 1 && vb.count != 1) return kIncompatibleSize;
  const int64_t length = va.length + vb.length - 1, count = std::max(va.count, vb.count);
  if (length > kMaxSide) return kDataStackOverflow;
  const bool cplx = a.im || b.im;
  const int32_t rows = int32_t(dim == kDimColumns ? length : count);
  const int32_t cols = int32_t(dim == kDimColumns ? count : length);
  TN_TRY(stk_push_zeros(ctx, rows, cols, cplx));
  Mat r;
  get_mat(ctx, 0, &r);
  get_mat(ctx, nargin, &a);  // the operands did not move; read again all the same
  get_mat(ctx, nargin - 1, &b);
  conv_accumulate(a, b, r, dim);
  return stk_remove(ctx, 1, nargin);
}

int bi_deconv(EngineContext* ctx, int nargout) {
  if (!arr::args_present(ctx, 2)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, 2, "CC"));
  Mat a, b;
  TN_TRY(get_mat(ctx, 1, &a));
  TN_TRY(get_mat(ctx, 0, &b));
  if ((a.rows > 1 && a.cols > 1) || (b.rows > 1 && b.cols > 1)) return kIncompatibleSize;
  const int64_t na = a.count(), nb = b.count();
  if (nb == 0) return kBadSize;  // no leading coefficient to divide by
  const int nout = nargout >= 2 ? 2 : 1;
  const bool widen = b.im && !a.im && na > 0;  // an empty matrix stays real
  const bool cplx = a.im || b.im;
  const bool as_rows = a.rows < 2;
  const int64_t nq = std::max<int64_t>(na - nb + 1, 0), nr = nb - 1;
  const int64_t words = (widen ? na : 0) + words_of(nq, cplx) + (nout == 2 ? words_of(nr, cplx) : 0);
  if (!has_room(ctx, nout, words)) return kDataStackOverflow;
  if (widen) make_complex_under_top(ctx);
  auto push_vector = [&](int64_t n) {
    return stk_push_zeros(ctx, int32_t(as_rows ? 1 : n), int32_t(as_rows ? n : 1), cplx);
  };
  if (nout == 2) TN_TRY(push_vector(nr));
  TN_TRY(push_vector(nq));
  const int above = nout;  // items pushed above the operands
  Mat w, q, r;
  get_mat(ctx, above + 1, &w);
  get_mat(ctx, above, &b);
  get_mat(ctx, 0, &q);
  long_divide(w, b, q);
  if (nout == 2 && nr > 0) {
    get_mat(ctx, 1, &r);
    // The remainder is the tail of the working copy; a numerator shorter
    // than the denominator stands right-aligned after zeros.
    const int64_t from = std::max<int64_t>(na - nr, 0), to = std::max<int64_t>(nr - na, 0);
    for (int64_t k = 0; k + to < nr; ++k) {
      r.re[to + k] = w.re[from + k];
      if (r.im) r.im[to + k] = w.im ? w.im[from + k] : 0.0;
    }
  }
  return stk_remove(ctx, above, 2);
}

int bi_addpol(EngineContext* ctx) {
  if (!arr::args_present(ctx, 2)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, 2, "CC"));
  Mat a, b;
  TN_TRY(get_mat(ctx, 1, &a));
  TN_TRY(get_mat(ctx, 0, &b));
  if (b.empty()) {
    stk_drop(ctx);
    return kOk;
  }
  if (a.empty()) return stk_remove(ctx, 1, 1);
  const bool same_kind = !a.im == !b.im;
  if (same_kind && fits_inside(b, a)) {
    add_aligned(b, a);
    stk_drop(ctx);
    return kOk;
  }
  if (same_kind && fits_inside(a, b)) {
    add_aligned(a, b);
    return stk_remove(ctx, 1, 1);
  }
  TN_TRY(stk_push_zeros(ctx, std::max(a.rows, b.rows), std::max(a.cols, b.cols), a.im || b.im));
  Mat r;
  get_mat(ctx, 0, &r);
  get_mat(ctx, 2, &a);
  get_mat(ctx, 1, &b);
  add_aligned(a, r);
  add_aligned(b, r);
  return stk_remove(ctx, 1, 2);
}

int bi_conv2(EngineContext* ctx, int nargin) {
  if (nargin < 2 || nargin > 3) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  if (!arr::args_present(ctx, nargin)) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, "CC[S"));
  Conv2Shape shape = Conv2Shape::kFull;
  if (nargin == 3) TN_TRY(read_conv2_shape(ctx, &shape));
  Mat a, k;
  TN_TRY(get_mat(ctx, nargin - 1, &a));
  TN_TRY(get_mat(ctx, nargin - 2, &k));
  if (a.empty() || k.empty()) return stk_remove(ctx, 0, nargin - 1);  // A unchanged
  int64_t rows = a.rows, cols = a.cols, r0 = 0, c0 = 0;
  switch (shape) {
    case Conv2Shape::kFull:
      rows = int64_t{a.rows} + k.rows - 1;
      cols = int64_t{a.cols} + k.cols - 1;
      r0 = 1 - int64_t{k.rows};
      c0 = 1 - int64_t{k.cols};
      break;
    case Conv2Shape::kSame:
      r0 = -(k.rows / 2);
      c0 = -(k.cols / 2);
      break;
    case Conv2Shape::kValid:
      rows = int64_t{a.rows} - k.rows + 1;
      cols = int64_t{a.cols} - k.cols + 1;
      if (rows < 1 || cols < 1) rows = cols = 0;
      break;
  }
  if (rows > kMaxSide || cols > kMaxSide) return kDataStackOverflow;
  TN_TRY(stk_push_zeros(ctx, int32_t(rows), int32_t(cols), (a.im || k.im) && rows > 0));
  Mat out;
  get_mat(ctx, 0, &out);
  get_mat(ctx, nargin, &a);
  get_mat(ctx, nargin - 1, &k);
  if (!out.empty()) conv2_accumulate(a, k, out, r0, c0);
  return stk_remove(ctx, 1, nargin);
}
