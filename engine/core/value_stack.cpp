// Value-stack pushers and getters: item shapes, the capacity tests, the
// typed-array header and the scalar readers. Every test precedes the first
// write, so a failing push or getter leaves both stacks exactly as they were.
#include "engine/core/value_stack.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"

namespace {

// A matrix push whose element count (doubled when complex) reaches this is
// refused before anything else is looked at.
constexpr int64_t kMatrixCountLimit = 2147483647;
// Element counts are saturated here while they are formed, far above every
// limit, so that later products of counts and sizes cannot overflow.
constexpr int64_t kCountCap = int64_t(1) << 40;

constexpr uint32_t kTypedMinWords = 2;
constexpr uint64_t kDefaultNaNBits = 0xfff8000000000000u;  // the header of a 2-dimensional array

int64_t header_bytes64(int64_t ndims) { return (ndims + 3) / 2 * 8; }

// A shape after the shape rules: at least two dimensions, trailing ones beyond
// the second dropped, 0 x 0 when any size is 0 or negative.
struct Shape {
  uint32_t ndims = 2;
  const int32_t* dims = nullptr;  // null: the sizes are in `two`
  int32_t two[2] = {0, 0};
  int64_t count = 0;  // saturated at kCountCap
  int32_t dim(uint32_t i) const { return dims ? dims[i] : two[i]; }
};

Shape apply_shape_rules(int ndims, const int32_t* dims) {
  Shape s;
  int n = ndims < 0 ? 0 : ndims;
  while (n > 2 && dims[n - 1] == 1) --n;
  if (n == 0) {
    s.two[0] = s.two[1] = 1;
    s.count = 1;
    return s;
  }
  if (n == 1) {
    if (dims[0] > 0) {
      s.two[0] = dims[0];
      s.two[1] = 1;
      s.count = dims[0];
    }
    return s;
  }
  int64_t count = 1;
  for (int i = 0; i < n; ++i) {
    if (dims[i] <= 0) return s;  // 0 x 0
    count = std::min(tn::mul64(count, dims[i]), kCountCap);
  }
  s.count = count;
  if (n == 2) {
    s.two[0] = dims[0];
    s.two[1] = dims[1];
  } else {
    s.ndims = static_cast<uint32_t>(n);
    s.dims = dims;
  }
  return s;
}

// The two data tests: scalars and payloads keep one spare word
// (top + n below the capacity), matrices may fill the stack to the last word.
bool data_fits_spare(const EngineContext* c, int64_t n) {
  return static_cast<int64_t>(c->data_top) + n < static_cast<int64_t>(c->data_capacity);
}
bool data_fits_full(const EngineContext* c, int64_t n) { return n <= data_free_words(c); }

int push_payload_words(EngineContext* c, uint32_t subtype, int64_t words, uint64_t** out) {
  if (!desc_room(c)) return kStackOverflow;
  if (!data_fits_spare(c, words)) return kDataStackOverflow;
  auto w = static_cast<uint32_t>(words);
  uint64_t* p = stk_claim(c, kKindPayload, w, subtype, w);
  if (w) p[w - 1] = 0;  // the padding bytes of the last word read as zero
  *out = p;
  return kOk;
}

// Pushes a typed array of the given shape; elem_bytes is the storage of one
// element (both parts for a complex type). The elements are left for the caller.
int push_typed(EngineContext* c, uint32_t subtype, uint32_t type, const Shape& s,
               int64_t elem_bytes, uint8_t** elems) {
  int64_t hdr = header_bytes64(s.ndims);
  int64_t words = (hdr + s.count * elem_bytes + 7) / 8;
  uint64_t* p;
  TN_TRY(push_payload_words(c, subtype, words, &p));
  auto* b = reinterpret_cast<uint8_t*>(p);
  std::memset(b, 0, static_cast<size_t>(hdr));
  tn::st_u32(b, type);
  tn::st_u32(b + 4, s.ndims);
  for (uint32_t i = 0; i < s.ndims; ++i) tn::st_u32(b + 8 + 4 * i, static_cast<uint32_t>(s.dim(i)));
  *elems = b + hdr;
  return kOk;
}

int push_int_array(EngineContext* c, uint32_t subtype, int ndims, const int32_t* dims,
                   int size, bool is_unsigned, void** data) {
  if (size != 1 && size != 2 && size != 4 && size != 8) return kWrongType;
  Shape s = apply_shape_rules(ndims, dims);
  if (s.count > kMaxTypedElements) return kDataStackOverflow;
  uint8_t* e;
  uint32_t type = static_cast<uint32_t>(size) + (is_unsigned ? uint32_t{kElemUnsigned} : 0u);
  TN_TRY(push_typed(c, subtype, type, s, size, &e));
  if (data) *data = e;
  return kOk;
}

int push_scalar(EngineContext* c, uint32_t kind, double re, double im) {
  int64_t n = kind == kKindComplex ? 2 : 1;
  if (!desc_room(c)) return kStackOverflow;
  if (!data_fits_spare(c, n)) return kDataStackOverflow;
  uint64_t* p = stk_claim(c, kind, 1, 1, static_cast<uint32_t>(n));
  tn::st_f64(p, re);
  if (n == 2) tn::st_f64(p + 1, im);
  return kOk;
}

uint32_t* find_desc(EngineContext* c, int depth) {
  return stk_has_item(c, depth) ? desc_at(c, depth) : nullptr;
}

bool is_matrix_kind(const uint32_t* d) { return d[0] == kKindReal || d[0] == kKindComplex; }

int int_from_double(double x, int32_t* v) {
  if (!(x >= -2147483648.0 && x <= 2147483647.0)) return kArgOutOfRange;  // NaN too
  if (std::floor(x) != x) return kNonIntegerArg;
  if (v) *v = static_cast<int32_t>(x);
  return kOk;
}

// A double or single array of any dimensions through its typed view: its
// size and where its real and imaginary parts lie (im null when real).
template <typename T>
int floating_view(EngineContext* ctx, int depth, uint32_t real_type, uint32_t complex_type, int* ndims,
                  const uint32_t** dims, int64_t* count, T** re, T** im) {
  TypedView t;
  if (!typed_view(ctx, depth, &t) || (t.type != real_type && t.type != complex_type)) return kWrongType;
  auto* p = reinterpret_cast<T*>(t.elems);
  if (ndims) *ndims = static_cast<int>(t.ndims);
  if (dims) *dims = t.dims;
  if (count) *count = t.count;
  if (re) *re = p;
  if (im) *im = t.is_complex ? p + t.count : nullptr;
  return kOk;
}

}  // namespace

bool typed_view(EngineContext* c, int depth, TypedView* v) {
  const uint32_t* d = find_desc(c, depth);
  return d && typed_view_of(d, reinterpret_cast<uint8_t*>(item_data(c, depth)), v);
}

bool typed_view_of(const uint32_t* d, uint8_t* p, TypedView* v) {
  if (d[0] != kKindPayload || d[2] < kPayNumeric || d[2] > kPayLogical) return false;
  uint32_t words = d[1];
  if (words < kTypedMinWords) return false;
  uint32_t type = tn::ld_u32(p);
  uint32_t ndims = tn::ld_u32(p + 4);
  int64_t bytes = static_cast<int64_t>(words) * 8;
  int64_t hdr = header_bytes64(ndims);
  if (ndims < 2 || hdr > bytes) return false;
  const auto* dims = reinterpret_cast<const uint32_t*>(p + 8);
  int64_t count = 1;
  for (uint32_t i = 0; i < ndims; ++i) count = std::min(tn::mul64(count, dims[i]), kCountCap);
  uint32_t size = elem_size(type);
  bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
  if (size && hdr + count * size * (cplx ? 2 : 1) > bytes) return false;
  *v = TypedView{d[2], type, ndims, dims, count, size, cplx, p + hdr, words};
  return true;
}

void stk_replace_with_top(EngineContext* c, int depth) {
  // The top item goes below the `depth` items under it, then the old item,
  // now just below it, is removed. Neither step can fail on existing items.
  stk_move(c, depth + 1, depth);
  stk_remove(c, depth + 1, 1);
}

// --- Pushers -----------------------------------------------------------------

int stk_push_empty(EngineContext* ctx) {
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindReal, 0, 0, 0);
  return kOk;
}

int stk_push_no_value(EngineContext* ctx) {
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindNoValue, 0, 0, 0);
  return kOk;
}

int stk_push_marker(EngineContext* ctx, int32_t tag) {
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindMarker, 0, static_cast<uint32_t>(tag), 0);
  return kOk;
}

int stk_push_real(EngineContext* ctx, double v) { return push_scalar(ctx, kKindReal, v, 0); }
int stk_push_inf(EngineContext* ctx) { return stk_push_real(ctx, HUGE_VAL); }
int stk_push_nan(EngineContext* ctx) {
  // The bits 0/0 gives: the default NaN, sign bit set, on every machine.
  return stk_push_real(ctx, std::bit_cast<double>(kDefaultNaNBits));
}

int stk_push_complex(EngineContext* ctx, double re, double im) {
  bool cplx = im != 0 && !std::isnan(im);
  return push_scalar(ctx, cplx ? kKindComplex : kKindReal, re, im);
}

int stk_push_matrix(EngineContext* ctx, int32_t rows, int32_t cols, double** re, double** im) {
  if (rows <= 0 || cols <= 0) rows = cols = 0;
  int64_t count = static_cast<int64_t>(rows) * cols;
  bool cplx = im && count > 0;
  int64_t n = cplx ? 2 * count : count;
  if (n >= kMatrixCountLimit) return kDataStackOverflow;
  if (!desc_room(ctx)) return kStackOverflow;
  if (!data_fits_full(ctx, n)) return kDataStackOverflow;
  uint64_t* p = stk_claim(ctx, cplx ? kKindComplex : kKindReal, static_cast<uint32_t>(rows),
                          static_cast<uint32_t>(cols), static_cast<uint32_t>(n));
  auto* d = reinterpret_cast<double*>(p);
  if (re) *re = d;
  if (im) *im = cplx ? d + count : nullptr;
  return kOk;
}

int stk_push_zeros(EngineContext* ctx, int32_t rows, int32_t cols, int complex_flag) {
  double* re;
  double* im;
  int st = stk_push_matrix(ctx, rows, cols, &re, complex_flag ? &im : nullptr);
  if (st != kOk) return kDataStackOverflow;  // both overflows read as a full data stack
  std::memset(re, 0, desc_data_words(desc_at(ctx, 0)) * size_t{8});
  return kOk;
}

int stk_push_logical_scalar(EngineContext* ctx, uint8_t v) {
  uint8_t* e;
  TN_TRY(stk_push_logical_array(ctx, 0, nullptr, &e));
  *e = v;
  return kOk;
}

int stk_push_double_nd(EngineContext* ctx, int ndims, const int32_t* dims, double** re,
                       double** im) {
  Shape s = apply_shape_rules(ndims, dims);
  if (s.count == 0) return stk_push_matrix(ctx, 0, 0, re, im);
  if (s.ndims == 2) return stk_push_matrix(ctx, s.two[0], s.two[1], re, im);
  if (s.count > kMaxNdElements) return kObjectTooLarge;
  uint8_t* e;
  TN_TRY(push_typed(ctx, kPayNumeric, im ? kElemDoubleComplex : kElemDouble, s,
                    im ? 16 : 8, &e));
  auto* d = reinterpret_cast<double*>(e);
  if (re) *re = d;
  if (im) *im = d + s.count;
  return kOk;
}

int stk_push_single_nd(EngineContext* ctx, int ndims, const int32_t* dims, float** re,
                       float** im) {
  Shape s = apply_shape_rules(ndims, dims);
  if (s.count > kMaxNdElements) return kObjectTooLarge;
  uint8_t* e;
  TN_TRY(push_typed(ctx, kPayNumeric, im ? kElemSingleComplex : kElemSingle, s, im ? 8 : 4, &e));
  auto* f = reinterpret_cast<float*>(e);
  if (re) *re = f;
  if (im) *im = f + s.count;
  return kOk;
}

int stk_push_typed_array(EngineContext* ctx, int ndims, const int32_t* dims, int size,
                         int unsigned_flag, void** data) {
  return push_int_array(ctx, kPayNumeric, ndims, dims, size, unsigned_flag != 0, data);
}

int stk_push_char_array(EngineContext* ctx, int ndims, const int32_t* dims, uint16_t** data) {
  void* e;
  TN_TRY(push_int_array(ctx, kPayChar, ndims, dims, 2, true, &e));
  if (data) *data = static_cast<uint16_t*>(e);
  return kOk;
}

int stk_push_char_row(EngineContext* ctx, int32_t n, uint16_t** data) {
  const int32_t dims[2] = {1, n};
  return stk_push_char_array(ctx, 2, dims, data);
}

int stk_push_logical_array(EngineContext* ctx, int ndims, const int32_t* dims, uint8_t** data) {
  void* e;
  TN_TRY(push_int_array(ctx, kPayLogical, ndims, dims, 1, true, &e));
  if (data) *data = static_cast<uint8_t*>(e);
  return kOk;
}

int stk_push_raw(EngineContext* ctx, uint32_t subtype, uint32_t byte_length, void** data) {
  uint64_t* p;
  TN_TRY(push_payload_words(ctx, subtype, (static_cast<int64_t>(byte_length) + 7) / 8, &p));
  if (data) *data = p;
  return kOk;
}

// --- Inspectors and getters ---------------------------------------------------

bool stk_is_marker(EngineContext* ctx, int depth, int32_t* tag) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d || !(d[0] & kKindMarker)) return false;
  if (tag) *tag = static_cast<int32_t>(d[2]);
  return true;
}

int stk_is_char(EngineContext* ctx, int depth) {
  uint32_t* d = find_desc(ctx, depth);
  return d && d[0] == kKindPayload && d[2] == kPayChar;
}

int stk_is_logical(EngineContext* ctx, int depth) {
  uint32_t* d = find_desc(ctx, depth);
  return d && d[0] == kKindPayload && d[2] == kPayLogical;
}

int stk_get_matrix(EngineContext* ctx, int depth, int32_t* rows, int32_t* cols, double** re,
                   double** im) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d || !is_matrix_kind(d)) return kWrongType;
  auto* p = reinterpret_cast<double*>(item_data(ctx, depth));
  if (rows) *rows = static_cast<int32_t>(d[1]);
  if (cols) *cols = static_cast<int32_t>(d[2]);
  if (re) *re = p;
  if (im) *im = (d[0] & kKindComplex) ? p + static_cast<size_t>(d[1]) * d[2] : nullptr;
  return kOk;
}

int stk_top_matrix(EngineContext* ctx, int32_t* rows, int32_t* cols, double** re, double** im) {
  TN_TRY(stk_get_matrix(ctx, 0, rows, cols, re, im));
  stk_drop(ctx);  // the data stay readable until the next push
  return kOk;
}

int stk_get_array_info(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                       int64_t* count) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d) return kWrongType;
  int nd = 2;
  const uint32_t* dp = d + 1;
  int64_t n = static_cast<int64_t>(d[1]) * d[2];
  TypedView t;
  if (is_matrix_kind(d)) {
  } else if (typed_view(ctx, depth, &t)) {
    nd = static_cast<int>(t.ndims);
    dp = t.dims;
    n = t.count;
  } else if (d[0] == kKindContainer) {
    int32_t cells;
    TN_TRY(stk_get_container_dims(ctx, depth, &nd, &dp, &cells, nullptr));
    n = cells;
  } else {
    return kWrongType;
  }
  if (ndims) *ndims = nd;
  if (dims) *dims = dp;
  if (count) *count = n;
  return kOk;
}

int stk_get_double_array(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                         int64_t* count, double** re, double** im) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d) return kWrongType;
  if (is_matrix_kind(d)) {
    int64_t n = static_cast<int64_t>(d[1]) * d[2];
    auto* p = reinterpret_cast<double*>(item_data(ctx, depth));
    if (ndims) *ndims = 2;
    if (dims) *dims = d + 1;
    if (count) *count = n;
    if (re) *re = p;
    if (im) *im = (d[0] & kKindComplex) ? p + n : nullptr;
    return kOk;
  }
  return floating_view(ctx, depth, kElemDouble, kElemDoubleComplex, ndims, dims, count, re, im);
}

int stk_get_single_array(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                         int64_t* count, float** re, float** im) {
  return floating_view(ctx, depth, kElemSingle, kElemSingleComplex, ndims, dims, count, re, im);
}

int stk_get_typed_array(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                        int64_t* count, int* size, int* unsigned_flag, void** data) {
  TypedView t;
  if (!typed_view(ctx, depth, &t) || !elem_is_integer(t.type)) return kWrongType;
  if (ndims) *ndims = static_cast<int>(t.ndims);
  if (dims) *dims = t.dims;
  if (count) *count = t.count;
  if (size) *size = static_cast<int>(t.size);
  if (unsigned_flag) *unsigned_flag = (t.type & kElemUnsigned) ? 1 : 0;
  if (data) *data = t.elems;
  return kOk;
}

int stk_get_multi_arrays(EngineContext* ctx, int n, int* ndims, const uint32_t** dims,
                         int64_t* count, const MultiArrays& out) {
  bool want_d = out.re || out.im;
  bool want_s = out.sre || out.sim;
  bool want_i = out.idata || out.isize || out.iunsigned;
  if (!want_d && !want_s && !want_i) want_d = want_s = want_i = true;
  int ref_nd = 2;
  const uint32_t* ref_dims = nullptr;
  int64_t ref_count = 1;
  bool have_ref = false;
  for (int i = 0; i < n; ++i) {
    if (out.re) out.re[i] = nullptr;
    if (out.im) out.im[i] = nullptr;
    if (out.sre) out.sre[i] = nullptr;
    if (out.sim) out.sim[i] = nullptr;
    if (out.idata) out.idata[i] = nullptr;
    if (out.isize) out.isize[i] = 0;
    if (out.iunsigned) out.iunsigned[i] = 0;
    if (out.stride) out.stride[i] = 0;
    int nd;
    const uint32_t* dp;
    int64_t cnt;
    double *re, *im;
    float *sre, *sim;
    int isize, iuns;
    void* idata;
    if (want_d && stk_get_double_array(ctx, i, &nd, &dp, &cnt, &re, &im) == kOk) {
      if (out.re) out.re[i] = re;
      if (out.im) out.im[i] = im;
    } else if (want_s && stk_get_single_array(ctx, i, &nd, &dp, &cnt, &sre, &sim) == kOk) {
      if (out.sre) out.sre[i] = sre;
      if (out.sim) out.sim[i] = sim;
    } else if (want_i && stk_get_typed_array(ctx, i, &nd, &dp, &cnt, &isize, &iuns, &idata) ==
                             kOk) {
      if (out.idata) out.idata[i] = idata;
      if (out.isize) out.isize[i] = isize;
      if (out.iunsigned) out.iunsigned[i] = static_cast<uint8_t>(iuns);
    } else {
      return kWrongType;
    }
    // An empty operand is not a scalar: it must match the others' shape too,
    // or its stride of 1 would walk past its (absent) data.
    if (cnt != 1) {
      if (out.stride) out.stride[i] = 1;
      if (!have_ref) {
        have_ref = true;
        ref_nd = nd;
        ref_dims = dp;
        ref_count = cnt;
      } else if (nd != ref_nd || !std::equal(dp, dp + nd, ref_dims)) {
        return kIncompatibleSize;
      }
    } else if (!have_ref) {
      ref_nd = nd;  // all scalars so far: the deepest one's shape
      ref_dims = dp;
    }
  }
  if (ndims) *ndims = ref_nd;
  if (dims) *dims = ref_dims;
  if (count) *count = ref_count;
  return kOk;
}

int stk_get_real_scalar(EngineContext* ctx, int depth, double* v) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d || !is_matrix_kind(d)) return kWrongType;
  if (d[1] != 1 || d[2] != 1) return kNonScalarArg;
  uint64_t* p = item_data(ctx, depth);
  if ((d[0] & kKindComplex) && tn::ld_f64(p + 1) != 0) return kWrongType;
  if (v) *v = tn::ld_f64(p);
  return kOk;
}

int stk_pop_real_scalar(EngineContext* ctx, double* v) {
  TN_TRY(stk_get_real_scalar(ctx, 0, v));
  stk_drop(ctx);
  return kOk;
}

int stk_pop_complex_scalar(EngineContext* ctx, double* re, double* im) {
  uint32_t* d = find_desc(ctx, 0);
  if (!d || !is_matrix_kind(d)) return kWrongType;
  if (d[1] != 1 || d[2] != 1) return kNonScalarArg;
  uint64_t* p = item_data(ctx, 0);
  if (re) *re = tn::ld_f64(p);
  if (im) *im = (d[0] & kKindComplex) ? tn::ld_f64(p + 1) : 0.0;
  stk_drop(ctx);
  return kOk;
}

int stk_get_int(EngineContext* ctx, int depth, int32_t* v) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d) return kWrongType;
  if (is_matrix_kind(d)) {
    if (static_cast<int64_t>(d[1]) * d[2] != 1) return kNonScalarArg;
    uint64_t* p = item_data(ctx, depth);
    if ((d[0] & kKindComplex) && tn::ld_f64(p + 1) != 0) return kWrongType;
    return int_from_double(tn::ld_f64(p), v);
  }
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.size == 0) return kWrongType;
  if (t.count != 1) return kNonScalarArg;
  switch (t.type) {
    case kElemDouble:
    case kElemDoubleComplex:
      if (t.is_complex && tn::ld_f64(t.elems + 8) != 0) return kWrongType;
      return int_from_double(tn::ld_f64(t.elems), v);
    case kElemSingle:
    case kElemSingleComplex:
      if (t.is_complex && tn::load<float>(t.elems + 4) != 0) return kWrongType;
      return int_from_double(tn::load<float>(t.elems), v);
    default: {
      __int128 x = load_int_element(t.elems, 0, t.type);
      if (x < INT32_MIN || x > INT32_MAX) return kArgOutOfRange;
      if (v) *v = static_cast<int32_t>(x);
      return kOk;
    }
  }
}

int stk_pop_int(EngineContext* ctx, int32_t* v) {
  TN_TRY(stk_get_int(ctx, 0, v));
  stk_drop(ctx);
  return kOk;
}

int stk_get_bool(EngineContext* ctx, int depth, uint8_t* v) {
  // NaN counts as zero here, unlike in the condition test of `if` and `while`.
  auto truth = [](double re, double im) {
    return (re != 0 && !std::isnan(re)) || (im != 0 && !std::isnan(im));
  };
  uint32_t* d = find_desc(ctx, depth);
  if (!d) return kWrongType;
  bool r;
  if (is_matrix_kind(d)) {
    if (static_cast<int64_t>(d[1]) * d[2] != 1) return kWrongType;
    uint64_t* p = item_data(ctx, depth);
    r = truth(tn::ld_f64(p), (d[0] & kKindComplex) ? tn::ld_f64(p + 1) : 0.0);
  } else {
    TypedView t;
    if (!typed_view(ctx, depth, &t)) return kWrongType;
    if (t.count != 1) return kWrongType;
    switch (t.type) {
      case kElemDouble:
      case kElemDoubleComplex:
        r = truth(tn::ld_f64(t.elems), t.is_complex ? tn::ld_f64(t.elems + 8) : 0.0);
        break;
      case kElemSingle:
      case kElemSingleComplex:
        r = truth(tn::load<float>(t.elems), t.is_complex ? tn::load<float>(t.elems + 4) : 0.0f);
        break;
      default:
        if (!elem_is_integer(t.type)) return kNotSupported;
        r = load_int_element(t.elems, 0, t.type) != 0;
    }
  }
  if (v) *v = r ? 1 : 0;
  return kOk;
}

int stk_pop_bool(EngineContext* ctx, uint8_t* v) {
  TN_TRY(stk_get_bool(ctx, 0, v));
  stk_drop(ctx);
  return kOk;
}

int stk_get_inline(EngineContext* ctx, int depth, InlineParts* out) {
  uint32_t* d = find_desc(ctx, depth);
  if (!d || d[0] != kKindPayload || d[2] != kPayInline) return kWrongType;
  auto* p = reinterpret_cast<const uint8_t*>(item_data(ctx, depth));
  int64_t bytes = static_cast<int64_t>(d[1]) * 8;
  // Counts that would run past the payload mean a damaged value, not a function.
  if (bytes < 2) return kWrongType;
  int64_t first = std::max<int16_t>(tn::load<int16_t>(p), 0);
  int64_t qat = 2 + 2 * first;
  if (qat + 2 > bytes) return kWrongType;
  int64_t q = std::max<int16_t>(tn::load<int16_t>(p + qat), 0);
  int64_t src = qat + 2;
  if (src + q > bytes) return kWrongType;
  int64_t code = (src + q + 7) / 8 * 8;
  if (out) {
    out->first = reinterpret_cast<const uint16_t*>(p);
    out->source = reinterpret_cast<const char*>(p + src);
    out->source_length = static_cast<int32_t>(q);
    out->code = code < bytes ? reinterpret_cast<const uint16_t*>(p + code) : nullptr;
  }
  return kOk;
}

void stk_make_real_top(EngineContext* ctx) {
  uint32_t* d = find_desc(ctx, 0);
  if (!d) return;
  if (d[0] == kKindComplex) {
    d[0] = kKindReal;
    ctx->data_top -= static_cast<int32_t>(d[1] * d[2]);
    return;
  }
  TypedView t;
  if (!typed_view(ctx, 0, &t) || !t.is_complex) return;
  int64_t used = header_bytes64(t.ndims) + t.count * t.size;
  auto words = static_cast<uint32_t>((used + 7) / 8);
  std::memset(t.elems + t.count * t.size, 0, static_cast<size_t>(words * int64_t{8} - used));
  tn::st_u32(t.elems - header_bytes64(t.ndims), t.type - 1);  // 65 -> 64, 67 -> 66
  ctx->data_top -= static_cast<int32_t>(t.words - words);
  d[1] = words;
}
