// Arrays built from size arguments (zeros, ones, eye, rand, randn, cell, true,
// false, the constants), eps, complex values, magic squares and the typed
// integer literals. Every argument is checked before the first push; the
// result is pushed above the arguments, which are then removed, so a failing
// call leaves the stack as it found it.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/core/convert.h"
#include "engine/core/opcodes.h"
#include "engine/lib/array_args.h"
#include "engine/lib/construct.h"
#include "engine/lib/operands.h"
#include "engine/lib/random.h"
#include "numlib/magic.h"

using namespace arr;

namespace {

constexpr double kMaxSquareOrder = 16383;
constexpr double kMaxElements = 2147483647;
constexpr uint64_t kDefaultNaNBits = 0xfff8000000000000u;
constexpr double kEpsDouble = 0x1p-52;
constexpr uint32_t kEpsSingleBits = 0x34000000u;
constexpr int kSingleClass = -1;  // element size of "single" in the class table

// --- Size arguments ------------------------------------------------------------

// What the size arguments ask for: dimensions, or the empty result (a size at
// most 0).
struct SizeRequest {
  bool empty = false;
  int ndims = 2;
  int32_t dims[kMaxDims] = {1, 1};
  int64_t count = 1;
};

// How the constructors differ in reading their size arguments.
struct SizeRules {
  bool limit_first;  // a vector's 16-element limit is tested before its elements
  bool nan_empty;    // a NaN among several scalars gives the empty result
};

// Reads the n size arguments at depths top + n - 1 .. top without removing them.
int read_size_args(EngineContext* ctx, int top, int n, SizeRules rules, SizeRequest* req) {
  double t[kMaxDims + 1];
  int nd = 0;
  for (int depth = top; depth < top + n; ++depth) {
    const uint32_t* d = desc_at(ctx, depth);
    if (d[0] != kKindReal && d[0] != kKindComplex) return kWrongArgType;
  }
  if (n == 1) {
    int32_t rows, cols;
    double* re;
    stk_get_matrix(ctx, top, &rows, &cols, &re, nullptr);
    const int64_t count = int64_t{rows} * cols;
    if (count == 1) {
      const double v = re[0];
      if (v > kMaxSquareOrder) return kObjectTooLarge;
      if (v <= 0) {
        req->empty = true;
        return kOk;
      }
      t[0] = t[1] = std::isnan(v) ? 0.0 : std::trunc(v);  // 0.5 gives 0x0 of the class
      nd = 2;
    } else {
      if (rules.limit_first && count > kMaxDims) return kObjectTooLarge;
      for (int64_t i = 0; i < count; ++i) {
        const double v = std::trunc(re[i]);
        if (!(v >= 1)) {
          req->empty = true;
          return kOk;
        }
      }
      if (count > kMaxDims) return kObjectTooLarge;
      for (int64_t i = 0; i < count; ++i) t[nd++] = std::trunc(re[i]);
      if (nd == 0) t[nd++] = 1, t[nd++] = 1;  // [] asks for no dimensions: 1x1
    }
  } else if (n >= 2) {
    // Read from the last argument to the first: the first size at most 0 ends
    // the reading, whatever the arguments before it hold.
    for (int depth = 0; depth < n; ++depth) {
      double v;
      int st = stk_get_real_scalar(ctx, top + depth, &v);
      if (st != kOk) return as_arg_error(st);
      if (v <= 0 || (rules.nan_empty && std::isnan(v))) {
        req->empty = true;
        return kOk;
      }
      t[n - 1 - depth] = std::isnan(v) ? 0.0 : std::trunc(v);
    }
    if (n > kMaxDims) return kObjectTooLarge;
    nd = n;
  } else {
    t[0] = t[1] = 1;
    nd = 2;
  }
  // Each size is tested too: a 0 among them would hide an infinite one.
  double product = 1;
  for (int k = 0; k < nd; ++k) {
    if (t[k] > kMaxElements) return kObjectTooLarge;
    product *= t[k];
  }
  if (product > kMaxElements) return kObjectTooLarge;
  req->ndims = nd;
  req->count = static_cast<int64_t>(product);
  for (int k = 0; k < nd; ++k) req->dims[k] = static_cast<int32_t>(t[k]);
  return kOk;
}

// True when the char array at depth holds exactly the text.
bool char_text_is(EngineContext* ctx, int depth, const char* text) {
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.subtype != kPayChar || t.size != 2) return false;
  const auto n = static_cast<int64_t>(std::strlen(text));
  if (t.count != n) return false;
  for (int64_t i = 0; i < n; ++i)
    if (tn::load<uint16_t>(t.elems + 2 * i) != static_cast<uint8_t>(text[i])) return false;
  return true;
}

// The class names of zeros, ones and eye; size 0 is double, -1 single.
struct ClassRow {
  const char* name;
  int size;
  bool is_unsigned;
};
constexpr ClassRow kClassTable[] = {
    {"int8", 1, false},  {"int16", 2, false},  {"int32", 4, false}, {"uint8", 1, true},
    {"uint16", 2, true}, {"uint32", 4, true},  {"int64", 8, false}, {"uint64", 8, true},
    {"double", 0, false}, {"single", kSingleClass, false},
};
static_assert(sizeof(kClassTable) / sizeof(kClassTable[0]) == 10);

const ClassRow* class_of_text(EngineContext* ctx, int depth) {
  for (const ClassRow& row : kClassTable)
    if (char_text_is(ctx, depth, row.name)) return &row;
  return nullptr;
}

// --- Filling -------------------------------------------------------------------

template <typename T>
void fill_value(T* p, int64_t n, T v) {
  for (int64_t i = 0; i < n; ++i) p[i] = v;
}

template <typename T>
void fill_eye(T* p, int32_t rows, int32_t cols) {
  std::memset(p, 0, sizeof(T) * size_t(rows) * size_t(cols));
  const int32_t m = rows < cols ? rows : cols;
  for (int64_t i = 0; i < m; ++i) p[i * (int64_t{cols} + 1)] = T(1);
}

template <typename T>
void fill_plain(int selector, T* p, const SizeRequest& r) {
  switch (selector) {
    case kCtorZeros: std::memset(p, 0, sizeof(T) * size_t(r.count)); break;
    case kCtorOnes: fill_value(p, r.count, T(1)); break;
    case kCtorEye: fill_eye(p, r.dims[0], r.dims[1]); break;
    default: break;
  }
}

void fill_int(int selector, void* p, int size, const SizeRequest& r) {
  switch (size) {
    case 1: fill_plain(selector, static_cast<uint8_t*>(p), r); break;
    case 2: fill_plain(selector, static_cast<uint16_t*>(p), r); break;
    case 4: fill_plain(selector, static_cast<uint32_t*>(p), r); break;
    default: fill_plain(selector, static_cast<uint64_t*>(p), r); break;
  }
}

// Pushes and fills the array of a constructor; the arguments stay below it.
int push_ctor_result(EngineContext* ctx, int selector, const ClassRow* cls, const SizeRequest& r) {
  if (selector == kCtorCell) {
    if (r.empty) {
      const int32_t none[2] = {0, 0};
      return stk_push_cell_array(ctx, 2, none);
    }
    return stk_push_cell_array(ctx, r.ndims, r.dims);
  }
  if (r.empty) return stk_push_empty(ctx);
  const int size = cls ? cls->size : 0;
  if (size == 0) {
    double* p;
    TN_TRY(stk_push_double_nd(ctx, r.ndims, r.dims, &p, nullptr));
    if (selector == kCtorRand || selector == kCtorRandn)
      rand_fill(ctx, selector == kCtorRand ? kRandUniform : kRandNormal, p, r.count);
    else
      fill_plain(selector, p, r);
    return kOk;
  }
  if (size == kSingleClass) {
    float* p;
    TN_TRY(stk_push_single_nd(ctx, r.ndims, r.dims, &p, nullptr));
    fill_plain(selector, p, r);
    return kOk;
  }
  void* p;
  TN_TRY(stk_push_typed_array(ctx, r.ndims, r.dims, size, cls->is_unsigned ? 1 : 0, &p));
  fill_int(selector, p, size, r);
  return kOk;
}

bool is_ctor_selector(int s) {
  return s == kCtorZeros || s == kCtorOnes || s == kCtorEye || s == kCtorRand ||
         s == kCtorRandn || s == kCtorCell;
}

// --- eps -------------------------------------------------------------------------

// The spacing of the floating values in the binade of x, with x's sign: the
// value whose top 16 bits are x's, less the same with its lowest bit set.
double eps_of(double x) {
  const uint64_t b0 = std::bit_cast<uint64_t>(x) & 0xffff000000000000u;
  return std::bit_cast<double>(b0 | 1u) - std::bit_cast<double>(b0);
}
float eps_of(float x) {
  const uint32_t b0 = std::bit_cast<uint32_t>(x) & 0xffff0000u;
  return std::bit_cast<float>(b0 | 1u) - std::bit_cast<float>(b0);
}

// --- Typed literals ----------------------------------------------------------------

template <typename T>
int push_int_scalar(EngineContext* ctx, T v) {
  const int32_t one[2] = {1, 1};
  void* p;
  TN_TRY(stk_push_typed_array(ctx, 2, one, sizeof(T), std::is_unsigned_v<T> ? 1 : 0, &p));
  tn::store(p, v);
  return kOk;
}

}  // namespace

// --- Constructors ------------------------------------------------------------------

int bi_array_ctor(EngineContext* ctx, int selector, int nargin) {
  if (!is_ctor_selector(selector)) return TN_ILLEGAL();
  if (!args_present(ctx, nargin)) return kWrongArgType;
  const bool random = selector == kCtorRand || selector == kCtorRandn;
  if (random && nargin >= 1 && stk_is_char(ctx, nargin - 1))
    return rand_state(ctx, selector == kCtorRand ? kRandUniform : kRandNormal, nargin);
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  const ClassRow* cls = nullptr;
  int nsize = nargin;
  const bool takes_class = selector == kCtorZeros || selector == kCtorOnes || selector == kCtorEye;
  if (takes_class && nargin >= 1 && stk_is_char(ctx, 0)) {
    cls = class_of_text(ctx, 0);
    if (!cls) return kUnknownOption;
    --nsize;
  }
  SizeRequest req;
  TN_TRY(read_size_args(ctx, nargin - nsize, nsize, SizeRules{false, false}, &req));
  if (selector == kCtorEye && !req.empty && req.ndims > 2) return kBadSize;
  TN_TRY(push_ctor_result(ctx, selector, cls, req));
  return stk_remove(ctx, 1, nargin);
}

int bi_true_false(EngineContext* ctx, int selector, int nargin) {
  if (selector != kLogicalTrue && selector != kLogicalFalse) return TN_ILLEGAL();
  if (!args_present(ctx, nargin)) return kWrongArgType;
  SizeRequest req;
  TN_TRY(read_size_args(ctx, 0, nargin, SizeRules{true, true}, &req));
  if (req.empty) {
    // Every empty request is the 0x0 logical, as true(NaN) is already.
    req.ndims = 2;
    req.dims[0] = req.dims[1] = 0;
    req.count = 0;
  }
  uint8_t* p;
  TN_TRY(stk_push_logical_array(ctx, req.ndims, req.dims, &p));
  std::memset(p, selector == kLogicalTrue ? 1 : 0, size_t(req.count));
  return stk_remove(ctx, 1, nargin);
}

int bi_inf_nan_realmin_realmax(EngineContext* ctx, int selector, int nargin) {
  double v;
  switch (selector) {
    case kConstInf: v = std::numeric_limits<double>::infinity(); break;
    case kConstNaN: v = std::bit_cast<double>(kDefaultNaNBits); break;
    // The extreme normal doubles the searches by doubling and halving find.
    case kConstRealmin: v = std::numeric_limits<double>::min(); break;
    case kConstRealmax: v = std::numeric_limits<double>::max(); break;
    default: return TN_ILLEGAL();
  }
  if (nargin == 0) return stk_push_real(ctx, v);
  if (!args_present(ctx, nargin)) return kWrongArgType;
  bool single = false;
  int nsize = nargin;
  if (stk_is_char(ctx, 0)) {
    single = char_text_is(ctx, 0, "single");
    if (!single && !char_text_is(ctx, 0, "double")) return kUnknownOption;
    --nsize;
  }
  SizeRequest req;
  TN_TRY(read_size_args(ctx, nargin - nsize, nsize, SizeRules{true, false}, &req));
  if (req.empty) {
    req.empty = false;  // the empty result keeps the class
    req.ndims = 2;
    req.dims[0] = req.dims[1] = 0;
    req.count = 0;
  }
  if (single) {
    float fv;
    switch (selector) {
      case kConstRealmin: fv = std::numeric_limits<float>::min(); break;
      case kConstRealmax: fv = std::numeric_limits<float>::max(); break;
      default: fv = static_cast<float>(v); break;
    }
    float* p;
    TN_TRY(stk_push_single_nd(ctx, req.ndims, req.dims, &p, nullptr));
    fill_value(p, req.count, fv);
  } else {
    double* p;
    TN_TRY(stk_push_double_nd(ctx, req.ndims, req.dims, &p, nullptr));
    fill_value(p, req.count, v);
  }
  return stk_remove(ctx, 1, nargin);
}

int bi_eps(EngineContext* ctx, int nargin) {
  if (nargin == 0) return stk_push_real(ctx, kEpsDouble);
  if (nargin != 1 || !args_present(ctx, 1)) return kWrongArgType;
  if (stk_is_char(ctx, 0)) {
    if (char_text_is(ctx, 0, "double")) {
      TN_TRY(stk_push_real(ctx, kEpsDouble));
    } else if (char_text_is(ctx, 0, "single")) {
      const int32_t one[2] = {1, 1};
      float* p;
      TN_TRY(stk_push_single_nd(ctx, 2, one, &p, nullptr));
      *p = std::bit_cast<float>(kEpsSingleBits);
    } else {
      return kUnknownOption;
    }
    return stk_remove(ctx, 1, 1);
  }
  // In place: the imaginary parts are dropped first.
  NumOperand x = num_operand(ctx, 0);
  if (x.kind != NumKind::kDouble && x.kind != NumKind::kSingle) return kWrongArgType;
  stk_make_real_top(ctx);
  x = num_operand(ctx, 0);
  if (x.kind == NumKind::kDouble) {
    auto* p = static_cast<double*>(x.re);
    for (int64_t i = 0; i < x.count; ++i) p[i] = eps_of(p[i]);
  } else {
    auto* p = static_cast<float*>(x.re);
    for (int64_t i = 0; i < x.count; ++i) p[i] = eps_of(p[i]);
  }
  return kOk;
}

// --- Complex values and magic squares ----------------------------------------------

int bi_complex(EngineContext* ctx) {
  if (!args_present(ctx, 2)) return kWrongArgType;
  NumOperand a, b;
  TN_TRY(elementwise_pair(ctx, &a, &b));
  const NumOperand& shape = result_shape(a, b);
  double *re, *im;
  if (shape.count == 0) {
    TN_TRY(stk_push_empty(ctx));
    return stk_remove(ctx, 1, 2);
  }
  // A complex 1x1 is pushed as a matrix so that it stays complex.
  TN_TRY(stk_push_double_nd(ctx, shape.ndims, reinterpret_cast<const int32_t*>(shape.dims), &re,
                            &im));
  const int64_t n = shape.count;
  auto part = [n](const NumOperand& o, double* out) {
    const int64_t step = o.count == 1 ? 0 : 1;
    switch (o.kind) {
      case NumKind::kDouble: {
        const auto* p = static_cast<const double*>(o.re);
        if (step)
          std::memcpy(out, p, sizeof(double) * size_t(n));
        else
          fill_value(out, n, p[0]);
        break;
      }
      case NumKind::kSingle: {
        const auto* p = static_cast<const float*>(o.re);
        for (int64_t i = 0; i < n; ++i) out[i] = p[i * step];
        break;
      }
      default: {
        const auto* p = static_cast<const uint8_t*>(o.re);
        for (int64_t i = 0; i < n; ++i) out[i] = static_cast<double>(load_int_element(p, i * step, o.type));
        break;
      }
    }
  };
  part(a, re);
  part(b, im);
  return stk_remove(ctx, 1, 2);
}

int bi_real(EngineContext* ctx) {
  if (num_operand(ctx, 0).kind == NumKind::kNone) return kWrongArgType;
  stk_make_real_top(ctx);
  return kOk;
}

int bi_imag(EngineContext* ctx) {
  const NumOperand x = num_operand(ctx, 0);
  if (x.kind != NumKind::kDouble) return kWrongArgType;
  auto* re = static_cast<double*>(x.re);
  if (x.cplx)
    std::memcpy(re, x.im, sizeof(double) * size_t(x.count));
  else
    std::memset(re, 0, sizeof(double) * size_t(x.count));
  stk_make_real_top(ctx);
  return kOk;
}

int bi_magic(EngineContext* ctx) {
  if (!args_present(ctx, 1)) return kWrongArgType;
  int32_t rows, cols;
  double* re;
  if (stk_get_matrix(ctx, 0, &rows, &cols, &re, nullptr) != kOk || rows != 1 || cols != 1)
    return kWrongArgType;
  const double v = re[0];
  if (!(v > 0) || v < 1) {  // NaN, at most 0, or truncated to 0
    TN_TRY(stk_push_empty(ctx));
    return stk_remove(ctx, 1, 1);
  }
  if (v > kMaxSquareOrder) return kObjectTooLarge;
  const auto n = static_cast<int32_t>(v);
  if (int64_t{n} * n > data_free_words(ctx)) return kDataStackOverflow;
  double* out;
  TN_TRY(stk_push_matrix(ctx, n, n, &out, nullptr));
  magic_square_kernel(out, n);
  return stk_remove(ctx, 1, 1);
}

// --- Typed literals ----------------------------------------------------------------

int op_typed_scalar(EngineContext* ctx, int opcode, int32_t value) {
  const auto w = static_cast<int16_t>(value);  // one code word, signed
  switch (opcode) {
    case kOpPushSmallInt8: return push_int_scalar(ctx, static_cast<int8_t>(w));
    case kOpPushSmallInt16: return push_int_scalar(ctx, w);
    case kOpPushSmallInt32: return push_int_scalar(ctx, static_cast<int32_t>(w));
    case kOpPushSmallUint8: return push_int_scalar(ctx, static_cast<uint8_t>(w));
    case kOpPushSmallUint16: return push_int_scalar(ctx, static_cast<uint16_t>(w));
    case kOpPushSmallUint32: return push_int_scalar(ctx, static_cast<uint32_t>(static_cast<int32_t>(w)));
    case kOpPushInt32: return push_int_scalar(ctx, value);
    case kOpPushUint32: return push_int_scalar(ctx, static_cast<uint32_t>(value));
    case kOpPushSmallInt64: return push_int_scalar(ctx, static_cast<int64_t>(w));
    case kOpPushSmallUint64: return push_int_scalar(ctx, static_cast<uint64_t>(static_cast<int64_t>(w)));
    default: return kNotSupported;
  }
}
