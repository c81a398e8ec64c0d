// The matrix operator intrinsics over the value stack. Results are written
// over the first operand's data wherever they fit; scratch (pivot vectors,
// power work copies, exponential work) lives above the stack tops and is
// tested for room before the operands are changed, so every failure status
// leaves the operands as they were.
#include "engine/lib/matrix_ops.h"

#include <cmath>
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/checked.h"
#include "engine/core/complex_scalar.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/arith.h"
#include "engine/lib/matprod.h"
#include "numlib/dense_lu.h"
#include "numlib/expm.h"
#include "numlib/matmul.h"

namespace {

constexpr char kPinvName[] = "pinv";
constexpr char kInvName[] = "inv";
constexpr double kMaxIntegerPower = 1023.0;

// Which operand a non-double fallback requires to be a scalar.
enum class ScalarRule { kTop, kDeeper, kEither };

struct Mat {
  uint32_t* desc;
  int32_t rows, cols;
  bool cplx;
  bool scalar() const { return rows == 1 && cols == 1; }
  bool square() const { return rows == cols; }
};

bool plain_double(const uint32_t* d) { return d[0] == kKindReal || d[0] == kKindComplex; }

// The matrix of a system (inv, \, /) holding NaN or Inf leaves no element
// of the solution known: what elimination reaches through an Inf depends on
// its pivot order, and LAPACK's order differs. Every element is NaN, as the
// "!lapack" rows answer.
bool all_finite(const double* p, int64_t count) {
  for (int64_t k = 0; k < count; ++k)
    if (!std::isfinite(p[k])) return false;
  return true;
}
void fill_nan(double* p, int64_t count) {
  for (int64_t k = 0; k < count; ++k) p[k] = NAN;
}
int64_t doubles_of(const Mat& x) { return int64_t{x.rows} * x.cols * (x.cplx ? 2 : 1); }

Mat mat_at(EngineContext* ctx, int depth) {
  uint32_t* d = desc_at(ctx, depth);
  return Mat{d, static_cast<int32_t>(d[1]), static_cast<int32_t>(d[2]), (d[0] & kKindComplex) != 0};
}

double* doubles_at(EngineContext* ctx, int depth) {
  return reinterpret_cast<double*>(item_data(ctx, depth));
}

// The pivot vector takes the free descriptor words above the top.
bool perm_fits(const EngineContext* ctx, int64_t extra_desc_words, int64_t n) {
  return static_cast<int64_t>(ctx->desc_top) + extra_desc_words + n <
         static_cast<int64_t>(ctx->desc_capacity);
}
uint32_t* perm_space(EngineContext* ctx) { return desc_words(ctx) + ctx->desc_top; }

double* data_scratch(EngineContext* ctx) {
  return reinterpret_cast<double*>(data_words(ctx) + ctx->data_top);
}

int elementwise(EngineContext* ctx, int op) { return arith_elementwise_binary(ctx, op); }

// Operands other than plain double matrices: both must be fetchable as
// arrays of one shape or a scalar (else kWrongArgType), the rule's operand must be a
// scalar (else kBadSize), and the elementwise operator does the work.
int non_double_fallback(EngineContext* ctx, int op, ScalarRule rule) {
  int ndims = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  uint8_t stride[2] = {0, 0};
  MultiArrays out;
  out.stride = stride;
  if (stk_get_multi_arrays(ctx, 2, &ndims, &dims, &count, out) != kOk) return kWrongArgType;
  const bool top_array = stride[0] != 0, deeper_array = stride[1] != 0;
  bool refused = false;
  switch (rule) {
    case ScalarRule::kTop: refused = top_array; break;
    case ScalarRule::kDeeper: refused = deeper_array; break;
    case ScalarRule::kEither: refused = top_array && deeper_array; break;
  }
  return refused ? kBadSize : elementwise(ctx, op);
}

// Two 1 x 1 operands become one 1 x 1 result in the deeper one's place; their
// data words together always hold the result.
void replace_pair_by_scalar(EngineContext* ctx, double re, double im, bool cplx) {
  stk_drop(ctx);
  uint32_t* d = desc_at(ctx, 0);
  const int32_t start = item_data_index(ctx, 0);
  double* out = reinterpret_cast<double*>(data_words(ctx) + start);
  d[0] = cplx ? kKindComplex : kKindReal;
  d[1] = d[2] = 1;
  out[0] = re;
  if (cplx) out[1] = im;
  ctx->data_top = start + (cplx ? 2 : 1);
}

struct Scalar {
  double re, im;
};

Scalar scalar_at(EngineContext* ctx, int depth, bool cplx) {
  const double* p = doubles_at(ctx, depth);
  return Scalar{p[0], cplx ? p[1] : 0.0};
}

// The two 1 x 1 operands replaced by num / den, through the one complex
// scalar kernel every path shares when either is complex.
int divide_scalars(EngineContext* ctx, const Scalar& num, bool num_cplx, const Scalar& den, bool den_cplx) {
  if (!num_cplx && !den_cplx) {
    replace_pair_by_scalar(ctx, num.re / den.re, 0.0, false);
    return kOk;
  }
  double re = 0, im = 0;
  cplx::scalar_binary(cplx::ScalarOp::kMrdivide, num.re, num.im, num_cplx, den.re, den.im, den_cplx, &re, &im);
  replace_pair_by_scalar(ctx, re, im, true);
  return kOk;
}

// The registered row a call of that name reaches, if any.
const BuiltinEntry* find_row(EngineContext* ctx, const char* name) {
  int32_t index = 0;
  const BuiltinEntry* e = lib_find_builtin(ctx, name, nullptr, 0, &index);
  return (e && e->fn) ? e : nullptr;
}

// A / B for a non-square B: A * pinv(B); A \ B for a non-square A:
// pinv(A) * B. The work is done on copies of the two operands above them, so
// that a failure (a size mismatch in the product, no room) leaves the
// operands as they were; the result then moves down over them.
int divide_by_pinv(EngineContext* ctx, bool left) {
  const BuiltinEntry* pinv = find_row(ctx, kPinvName);
  if (!pinv) return kNonSquareMatrix;
  const int32_t height = ctx->desc_top;
  int st = stk_dup(ctx, 0, 2);
  if (st == kOk && left) st = stk_move(ctx, 2, 1);  // A's copy on top
  if (st == kOk) st = pinv->fn(ctx, 1, 1, builtin_data(ctx, pinv));
  if (st == kOk && left) st = stk_move(ctx, 2, 1);  // pinv(A) under B's copy
  if (st == kOk) st = bi_mtimes(ctx);
  if (st != kOk) {
    while (ctx->desc_top > height) stk_drop(ctx);
    return st;
  }
  return stk_remove(ctx, 1, 2);
}

int divide_right_by_pinv(EngineContext* ctx) { return divide_by_pinv(ctx, false); }
int divide_left_by_pinv(EngineContext* ctx) { return divide_by_pinv(ctx, true); }

// Parity of an integral exponent, taken on the double so that exponents past
// any integer type are right; an infinite exponent counts as even.
bool odd_integral(double b) { return std::fabs(std::fmod(b, 2.0)) == 1.0; }

int push_identity(EngineContext* ctx, int32_t n) {
  TN_TRY(stk_push_zeros(ctx, n, n, 0));
  double* id = doubles_at(ctx, 0);
  for (int64_t i = 0; i < n; ++i) id[i * n + i] = 1.0;
  return kOk;
}

void square_product(bool cplx, int32_t n, const double* x, const double* y, double* z) {
  if (cplx)
    matmul_complex(n, n, n, x, y, z);
  else
    matmul_real(n, n, n, x, y, z);
}

// Both operands 1 x 1 and of double kinds.
int scalar_power(EngineContext* ctx, const Mat& a, const Mat& b) {
  const Scalar x = scalar_at(ctx, 1, a.cplx), y = scalar_at(ctx, 0, b.cplx);
  if (!a.cplx && !b.cplx) {
    double r;
    bool real = true;
    if (y.re == 2.0) {
      r = x.re * x.re;
    } else if (x.re >= 0) {
      r = std::pow(x.re, y.re);
    } else if (std::floor(y.re) == y.re) {  // an integer, odd ones above 2^52 included
      r = std::pow(std::fabs(x.re), y.re);
      if (odd_integral(y.re)) r = -r;
    } else {
      real = false;  // a negative base with a fractional exponent
      r = 0;
    }
    if (real) {
      replace_pair_by_scalar(ctx, r, 0.0, false);
      return kOk;
    }
  }
  double re = 0, im = 0;
  arith_complex_power(x.re, x.im, y.re, y.im, &re, &im);
  stk_drop(ctx);
  stk_drop(ctx);
  return stk_push_complex(ctx, re, im);  // real when the imaginary part is 0
}

// A scalar raised to a square matrix: exp(log(a) B).
int scalar_to_matrix_power(EngineContext* ctx, const Mat& a, const Mat& b) {
  if (b.rows == 0) return stk_remove(ctx, 1, 1);
  if (!b.square()) return kNonSquareMatrix;
  const int64_t n = b.rows, nn = n * n;
  const bool cplx = a.cplx || b.cplx;
  const int64_t imag_words = (cplx && !b.cplx) ? nn : 0;
  const int64_t result_words = cplx ? 2 * nn : nn;
  const int64_t work_words = cplx ? numk_expm_work_complex(n) : numk_expm_work_real(n);
  // Everything the steps below take, tested at once: none of them can fail.
  if (!desc_room(ctx)) return kDataStackOverflow;  // as the result's push reports it
  if (static_cast<int64_t>(ctx->data_top) + imag_words + result_words + work_words >=
      static_cast<int64_t>(ctx->data_capacity))
    return kDataStackOverflow;
  const Scalar x = scalar_at(ctx, 1, a.cplx);
  if (imag_words) {
    void* im = nullptr;
    TN_TRY(stk_make_complex_top(ctx, &im));
  }
  TN_TRY(stk_push_zeros(ctx, b.rows, b.rows, cplx ? 1 : 0));
  double* e = doubles_at(ctx, 0);
  double* bm = doubles_at(ctx, 1);
  if (cplx)
    numk_scalar_pow_matrix_complex(x.re, x.im, bm, b.rows, e, data_scratch(ctx));
  else
    numk_scalar_pow_matrix_real(x.re, bm, b.rows, e, data_scratch(ctx));
  return stk_remove(ctx, 1, 2);
}

// A, B -> inv(A) through a registered "inv" row, working on a copy of A
// above the operands so that a failure leaves both as they were.
int inverse_by_row(EngineContext* ctx, const BuiltinEntry* row) {
  const int32_t height = ctx->desc_top;
  int st = stk_dup(ctx, 1, 1);
  if (st == kOk) st = row->fn(ctx, 1, 1, builtin_data(ctx, row));
  if (st != kOk) {
    while (ctx->desc_top > height) stk_drop(ctx);
    return st;
  }
  return stk_remove(ctx, 1, 2);
}

// The top square matrix to the power k >= 2 by binary powering; the caller
// has tested the room for the two work copies.
void raise_top(EngineContext* ctx, int32_t k) {
  const Mat a = mat_at(ctx, 0);
  const int32_t n = a.rows;
  const int64_t w = doubles_of(a);
  double* base = doubles_at(ctx, 0);
  double* p = data_scratch(ctx);
  double* q = p + w;
  std::memcpy(p, base, static_cast<size_t>(w) * sizeof(double));
  const int bits = 32 - __builtin_clz(static_cast<uint32_t>(k));
  for (int bit = bits - 2; bit >= 0; --bit) {
    square_product(a.cplx, n, p, p, q);
    if ((k >> bit) & 1) {
      square_product(a.cplx, n, q, base, p);
    } else {
      double* t = p;
      p = q;
      q = t;
    }
  }
  std::memcpy(base, p, static_cast<size_t>(w) * sizeof(double));
}

// A square (or empty) matrix to an integral power from -1023 to 1023. A
// negative power inverts A first with the inverse that inv(A) gives: the
// registered "inv" row when a call of that name reaches one (the LAPACK
// section's), else the engine's own, so that A^-1 and inv(A) are the same.
int matrix_integer_power(EngineContext* ctx, const Mat& a, const Mat& b) {
  if (b.cplx || !b.scalar()) return kNotSupported;
  const double e = doubles_at(ctx, 0)[0];
  if (!(std::floor(e + 0.5) == e && e >= -kMaxIntegerPower && e <= kMaxIntegerPower))
    return kNotSupported;
  if (a.rows == 0) {
    stk_drop(ctx);
    return kOk;
  }
  if (!a.square()) return kNonSquareMatrix;
  int32_t k = tn::dtoi32(std::floor(e + 0.5));
  const int32_t n = a.rows;
  const int64_t w = (a.cplx ? 2 : 1) * int64_t{n} * n;
  const BuiltinEntry* inv_row = k < 0 ? find_row(ctx, kInvName) : nullptr;
  // Room for the own inv and for the two work copies, as the stacks will be
  // once the exponent is dropped; tested now so that a failure keeps both
  // operands. (A registered row tests its own room.)
  const int64_t desc_after = int64_t{ctx->desc_top} - 3;
  const int64_t data_after = int64_t{ctx->data_top} - 1;
  const int64_t magnitude = k < 0 ? -int64_t{k} : k;
  const bool own_inverse = k < 0 && !inv_row;
  if (own_inverse && desc_after + 3 + n >= int64_t{ctx->desc_capacity}) return kStackOverflow;
  if (own_inverse && data_after + w > int64_t{ctx->data_capacity}) return kDataStackOverflow;
  if (magnitude >= 2 && int64_t{ctx->data_capacity} - data_after < 2 * w) return kDataStackOverflow;
  if (inv_row) {
    TN_TRY(inverse_by_row(ctx, inv_row));
  } else {
    stk_drop(ctx);
    if (k == 0) {
      stk_drop(ctx);
      return push_identity(ctx, n);  // real, also for a complex base
    }
    if (k < 0) TN_TRY(bi_inv(ctx));
  }
  if (magnitude >= 2) raise_top(ctx, static_cast<int32_t>(magnitude));
  return kOk;
}

}  // namespace

int bi_mrdivide(EngineContext* ctx) {
  if (stk_item_count(ctx) < 2) return kWrongArgType;
  if (!plain_double(desc_at(ctx, 0)) || !plain_double(desc_at(ctx, 1)))
    return non_double_fallback(ctx, kArithRdivide, ScalarRule::kTop);
  Mat a = mat_at(ctx, 1);
  const Mat b = mat_at(ctx, 0);
  if (a.scalar() && b.scalar()) {
    return divide_scalars(ctx, scalar_at(ctx, 1, a.cplx), a.cplx, scalar_at(ctx, 0, b.cplx), b.cplx);
  }
  if (b.scalar()) return elementwise(ctx, kArithRdivide);
  if (!b.square()) return divide_right_by_pinv(ctx);
  const int32_t n = b.rows, m = a.rows;
  if (m > 0 && a.cols != n) return kIncompatibleSize;
  if (m == 0) {
    stk_drop(ctx);
    return kOk;
  }
  if (!perm_fits(ctx, 0, n)) return kStackOverflow;
  if (b.cplx && !a.cplx) {
    const int64_t mn = int64_t{m} * n;
    if (int64_t{ctx->data_top} + mn >= int64_t{ctx->data_capacity}) return kDataStackOverflow;
    // B moves up; the words it leaves become A's zero imaginary block.
    uint64_t* bw = item_data(ctx, 0);
    std::memmove(bw + mn, bw, static_cast<size_t>(2 * int64_t{n} * n) * 8);
    std::memset(bw, 0, static_cast<size_t>(mn) * 8);
    ctx->data_top += static_cast<int32_t>(mn);
    a.desc[0] = kKindComplex;
    a.cplx = true;
  }
  double* am = doubles_at(ctx, 1);
  double* bm = doubles_at(ctx, 0);
  if (!all_finite(bm, doubles_of(b))) {
    fill_nan(am, doubles_of(a));
    stk_drop(ctx);
    return kOk;
  }
  if (b.cplx)
    linsolve_right_complex(bm, am, n, m, perm_space(ctx));
  else  // a complex A is 2m rows: both blocks divided at once
    linsolve_right_real(bm, am, n, a.cplx ? 2 * m : m, perm_space(ctx));
  stk_drop(ctx);
  return kOk;
}

int bi_mldivide(EngineContext* ctx) {
  if (stk_item_count(ctx) < 2) return kWrongArgType;
  if (!plain_double(desc_at(ctx, 0)) || !plain_double(desc_at(ctx, 1)))
    return non_double_fallback(ctx, kArithLdivide, ScalarRule::kDeeper);
  const Mat a = mat_at(ctx, 1), b = mat_at(ctx, 0);
  if (a.scalar() && b.scalar()) {
    return divide_scalars(ctx, scalar_at(ctx, 0, b.cplx), b.cplx, scalar_at(ctx, 1, a.cplx), a.cplx);
  }
  if (a.scalar()) return elementwise(ctx, kArithLdivide);
  if (!a.square()) return divide_left_by_pinv(ctx);
  const int32_t n = a.rows, p = b.cols;
  if (p > 0 && b.rows != n) return kIncompatibleSize;
  if (p == 0) return stk_remove(ctx, 1, 1);
  if (!perm_fits(ctx, 0, n)) return kStackOverflow;
  if (!all_finite(doubles_at(ctx, 1), doubles_of(a))) {
    if (a.cplx && !b.cplx) {
      void* im = nullptr;
      TN_TRY(stk_make_complex_top(ctx, &im));
    }
    fill_nan(doubles_at(ctx, 0), doubles_of(mat_at(ctx, 0)));
    return stk_remove(ctx, 1, 1);
  }
  if (!a.cplx) {
    linsolve_left_real(doubles_at(ctx, 1), doubles_at(ctx, 0), n, p, perm_space(ctx),
                       b.cplx ? 1 : 0);
  } else {
    if (!b.cplx) {
      void* im = nullptr;
      TN_TRY(stk_make_complex_top(ctx, &im));
    }
    linsolve_left_complex(doubles_at(ctx, 1), doubles_at(ctx, 0), n, p, perm_space(ctx));
  }
  return stk_remove(ctx, 1, 1);
}

int bi_inv(EngineContext* ctx) {
  if (stk_item_count(ctx) < 1 || !plain_double(desc_at(ctx, 0))) return kWrongArgType;
  const Mat a = mat_at(ctx, 0);
  if (!a.square()) return kNonSquareMatrix;
  const int32_t n = a.rows;
  if (n == 0) return kOk;  // the empty 0 x 0 is its own inverse
  if (n == 1) {
    double* p = doubles_at(ctx, 0);
    if (!a.cplx) {
      p[0] = 1.0 / p[0];
    } else {
      cplx::reciprocal(p[0], p[1], p[0], p[1]);
    }
    return kOk;
  }
  if (!all_finite(doubles_at(ctx, 0), doubles_of(a))) {
    fill_nan(doubles_at(ctx, 0), doubles_of(a));
    return kOk;
  }
  // The pivots go above the identity's descriptor: their room is tested
  // before the push, so a failure leaves the stack as it was.
  if (!perm_fits(ctx, 3, n)) return kStackOverflow;
  TN_TRY(stk_push_zeros(ctx, n, n, a.cplx ? 1 : 0));
  double* id = doubles_at(ctx, 0);
  for (int64_t i = 0; i < n; ++i) id[i * n + i] = 1.0;
  if (a.cplx)
    linsolve_left_complex(doubles_at(ctx, 1), id, n, n, perm_space(ctx));
  else
    linsolve_left_real(doubles_at(ctx, 1), id, n, n, perm_space(ctx), 0);
  return stk_remove(ctx, 1, 1);
}

int bi_det(EngineContext* ctx) {
  if (stk_item_count(ctx) < 1 || !plain_double(desc_at(ctx, 0))) return kWrongArgType;
  const Mat a = mat_at(ctx, 0);
  if (!a.square()) return kIncompatibleSize;
  if (a.scalar()) return kOk;
  const int32_t n = a.rows;
  if (!perm_fits(ctx, 0, n)) return kStackOverflow;
  // An empty operand frees no data word for its determinant: test the push's
  // room (one word and a spare) before the operand is dropped.
  if (n == 0 && int64_t{ctx->data_top} + 1 >= int64_t{ctx->data_capacity})
    return kDataStackOverflow;
  if (!a.cplx) {
    double d = 0;
    det_real(doubles_at(ctx, 0), &d, n, perm_space(ctx));
    stk_drop(ctx);
    return stk_push_real(ctx, d);
  }
  double* re = doubles_at(ctx, 0);
  double dr = 0, di = 0;
  det_complex(re, re + int64_t{n} * n, &dr, &di, n, perm_space(ctx));
  stk_drop(ctx);
  // Only a zero imaginary part makes the determinant real; stk_push_complex
  // would drop a NaN one too.
  if (!std::isnan(di)) return stk_push_complex(ctx, dr, di);
  double *pr = nullptr, *pi = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, 1, &pr, &pi));
  *pr = dr, *pi = di;
  return kOk;
}

int bi_mpower(EngineContext* ctx) {
  if (stk_item_count(ctx) < 2) return kWrongArgType;
  if (!plain_double(desc_at(ctx, 0)) || !plain_double(desc_at(ctx, 1)))
    return non_double_fallback(ctx, kArithPower, ScalarRule::kEither);
  const Mat a = mat_at(ctx, 1), b = mat_at(ctx, 0);
  if (a.scalar() && b.scalar()) return scalar_power(ctx, a, b);
  if (a.scalar()) return scalar_to_matrix_power(ctx, a, b);
  return matrix_integer_power(ctx, a, b);
}
