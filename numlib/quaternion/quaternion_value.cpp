// Quaternion values: the payload layout and its accessors, the constructor,
// the type and size queries, conversion to double, the display text and the
// "+dump" hook that writes a value back as source text.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "numlib/engine_ops.h"
#include "engine/core/numfmt.h"
#include "numlib/quaternion/quaternion.h"

namespace {

constexpr char kEmptyText[] = "empty quaternion array";
constexpr char kArrayText[] = " quaternion array";
constexpr char kPartLetters[] = " ijk";
// Room for the display text: sixteen dims, or four numbers with their letters.
constexpr int32_t kTextCap = 256;
// Digits of a component written back as source text.
constexpr int kDumpDigits = 15;

uint32_t* header(void* payload) { return static_cast<uint32_t*>(payload); }

void fill_view(void* payload, QuaternionView* out) {
  const uint32_t* h = header(payload);
  out->ndims = int(h[kQFieldNdims]);
  out->dims = h + kQFieldDims;
  out->count = h[kQFieldCount];
  auto* data = static_cast<double*>(payload) + h[kQFieldHdrlen];
  for (int j = 0; j < kQuaternionParts; ++j) out->c[j] = data + j * out->count;
  out->is_quaternion = true;
}

}  // namespace

int quaternion_new(EngineContext* ctx, int ndims, const uint32_t* dims, QuaternionView* out) {
  static const uint32_t kScalarDims[2] = {1, 1};
  if (ndims == 0 || !dims) {
    ndims = 2;
    dims = kScalarDims;
  }
  while (ndims > 2 && dims[ndims - 1] == 1) --ndims;
  if (ndims < 2 || ndims > kQuaternionMaxDims) return kObjectTooLarge;
  int64_t count = 1;
  for (int k = 0; k < ndims; ++k) {
    count *= dims[k];
    if (count > kMaxNdElements) return kObjectTooLarge;
  }
  const uint32_t hdrlen = quaternion_hdrlen(uint32_t(ndims));
  const int64_t bytes = (int64_t(hdrlen) + kQuaternionParts * count) * 8;
  if (bytes > int64_t(INT32_MAX)) return kObjectTooLarge;
  void* payload = nullptr;
  TN_TRY(stk_push_object(ctx, uint32_t(bytes), &payload));
  std::memset(payload, 0, size_t(hdrlen) * 8);
  uint32_t* h = header(payload);
  h[kQFieldNdims] = uint32_t(ndims);
  h[kQFieldCount] = uint32_t(count);
  h[kQFieldHdrlen] = hdrlen;
  for (int k = 0; k < ndims; ++k) h[kQFieldDims + k] = dims[k];
  if (out) fill_view(payload, out);
  return kOk;
}

int quaternion_get_arg(EngineContext* ctx, int depth, QuaternionView* out) {
  uint32_t bytes = 0;
  void* payload = nullptr;
  TN_TRY(stk_get_object(ctx, depth, &bytes, &payload));
  // The layout comes from saved images too: check it before trusting it.
  const uint32_t* h = header(payload);
  if (bytes < 12) return kWrongType;
  const uint32_t ndims = h[kQFieldNdims];
  if (ndims < 2 || ndims > kQuaternionMaxDims || h[kQFieldHdrlen] != quaternion_hdrlen(ndims))
    return kWrongType;
  if (int64_t(h[kQFieldHdrlen]) * 8 > int64_t(bytes)) return kWrongType;
  int64_t count = 1;
  for (uint32_t k = 0; k < ndims && count <= kMaxNdElements; ++k) count *= h[kQFieldDims + k];
  if (count != h[kQFieldCount]) return kWrongType;
  if ((int64_t(h[kQFieldHdrlen]) + kQuaternionParts * count) * 8 > int64_t(bytes)) return kWrongType;
  fill_view(payload, out);
  return kOk;
}

int quaternion_get_operand(EngineContext* ctx, int depth, QuaternionView* out) {
  *out = QuaternionView{};
  if (quaternion_get_arg(ctx, depth, out) == kOk) return kOk;
  double* re = nullptr;
  TN_TRY(stk_get_double_array(ctx, depth, &out->ndims, &out->dims, &out->count, &re, nullptr));
  out->c[0] = re;
  out->is_quaternion = false;
  return kOk;
}

bool quaternion_same_dims(const QuaternionView& a, const QuaternionView& b) {
  if (a.ndims != b.ndims) return false;
  for (int k = 0; k < a.ndims; ++k)
    if (a.dims[k] != b.dims[k]) return false;
  return true;
}

// --- Constructor ---------------------------------------------------------------

namespace {

struct RealArg {
  int ndims = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
};

int real_arg(EngineContext* ctx, int depth, RealArg* a) {
  const int s = stk_get_double_array(ctx, depth, &a->ndims, &a->dims, &a->count, &a->re, &a->im);
  return s == kWrongType ? kWrongArgType : s;
}

bool same_dims(const RealArg& a, const RealArg& b) {
  if (a.ndims != b.ndims) return false;
  for (int k = 0; k < a.ndims; ++k)
    if (a.dims[k] != b.dims[k]) return false;
  return true;
}

// quaternion(w, v): the vector parts from v, by rows of three or by pages.
int construct_scalar_vector(EngineContext* ctx) {
  RealArg w, v;
  TN_TRY(real_arg(ctx, 1, &w));
  TN_TRY(real_arg(ctx, 0, &v));
  bool pages = false;
  if (v.ndims <= 2) {
    const bool one_column = w.ndims == 2 && w.dims[1] <= 1;
    const bool rows_fit = w.ndims == 2 && (w.dims[0] == v.dims[0] || w.dims[0] == 1);
    if (!one_column || !rows_fit || 3 * w.count != v.count) return kIncompatibleSize;
  } else {
    if (v.ndims != w.ndims + 1) return kIncompatibleSize;
    if (v.dims[v.ndims - 1] != 3) return kBadSize;
    for (int k = 0; k < w.ndims; ++k)
      if (w.dims[k] != v.dims[k]) return kIncompatibleSize;
    pages = true;
  }
  QuaternionView q;
  TN_TRY(quaternion_new(ctx, w.ndims, w.dims, &q));
  // The push leaves the arguments where they were.
  for (int64_t k = 0; k < q.count; ++k) {
    q.c[0][k] = w.re[k];
    for (int j = 0; j < 3; ++j) q.c[j + 1][k] = pages ? v.re[j * q.count + k] : v.re[3 * k + j];
  }
  stk_replace_with_top(ctx, 0);
  return stk_remove(ctx, 1, 1);
}

// quaternion(x, y, z) and quaternion(w, x, y, z).
int construct_components(EngineContext* ctx, int nargin) {
  RealArg a[kQuaternionParts];
  for (int i = 0; i < nargin; ++i) TN_TRY(real_arg(ctx, nargin - 1 - i, &a[i]));
  for (int i = 1; i < nargin; ++i)
    if (!same_dims(a[0], a[i])) return kIncompatibleSize;
  QuaternionView q;
  TN_TRY(quaternion_new(ctx, a[0].ndims, a[0].dims, &q));
  const int first = kQuaternionParts - nargin;
  if (first) std::memset(q.c[0], 0, size_t(q.count) * 8);
  for (int i = 0; i < nargin; ++i) std::memcpy(q.c[first + i], a[i].re, size_t(q.count) * 8);
  stk_replace_with_top(ctx, 0);
  return stk_remove(ctx, 1, nargin - 1);
}

}  // namespace

int bi_quaternion(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin > kQuaternionParts) return kTooManyInputs;
  QuaternionView q;
  if (nargin == 0) {
    TN_TRY(quaternion_new(ctx, 0, nullptr, &q));
    for (int j = 0; j < kQuaternionParts; ++j) q.c[j][0] = 0;
    return kOk;
  }
  if (nargin == 1) {
    if (quaternion_get_arg(ctx, 0, &q) == kOk) return kOk;
    RealArg a;
    TN_TRY(real_arg(ctx, 0, &a));
    TN_TRY(quaternion_new(ctx, a.ndims, a.dims, &q));
    for (int64_t k = 0; k < q.count; ++k) {
      q.c[0][k] = a.re[k];
      q.c[1][k] = a.im ? a.im[k] : 0.0;
      q.c[2][k] = q.c[3][k] = 0.0;
    }
    stk_replace_with_top(ctx, 0);
    return kOk;
  }
  if (nargin == 2) return construct_scalar_vector(ctx);
  return construct_components(ctx, nargin);
}

int bi_isquaternion(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  QuaternionView q;
  TN_TRY(stk_push_logical_scalar(ctx, quaternion_get_arg(ctx, 0, &q) == kOk ? 1 : 0));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

// --- Sizes -----------------------------------------------------------------------

namespace {

int quaternion_arg44(EngineContext* ctx, int depth, QuaternionView* q) {
  const int s = quaternion_get_arg(ctx, depth, q);
  return s == kWrongType ? kWrongArgType : s;
}

}  // namespace

int bi_quaternion_count(EngineContext* ctx, int, int, uintptr_t data) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  double v = 0;
  switch (data) {
    case 'l':
      for (int k = 0; k < q.ndims; ++k) v = std::max(v, double(q.dims[k]));
      break;
    case 'd': v = q.ndims; break;
    case 'e': v = double(q.count); break;
    default: return TN_ILLEGAL();
  }
  TN_TRY(stk_push_real(ctx, v));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_quaternion_isempty(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  TN_TRY(stk_push_logical_scalar(ctx, q.count == 0 ? 1 : 0));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_quaternion_size(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, nargin - 1, &q));
  if (nargin == 2) {
    int32_t k = 0;
    const int s = stk_get_int(ctx, 0, &k);
    TN_TRY(s == kWrongType ? kWrongArgType : s);
    if (k < 1) return kBadDimension;
    const double v = k <= q.ndims ? q.dims[k - 1] : (q.dims[0] != 0 ? 1.0 : 0.0);
    TN_TRY(stk_push_real(ctx, v));
    stk_replace_with_top(ctx, 0);
    return stk_remove(ctx, 1, 1);
  }
  if (nargout >= 2) {
    // Rows deepest: the first output ends on top.
    TN_TRY(stk_push_real(ctx, q.dims[1]));
    const int s = stk_push_real(ctx, q.dims[0]);
    if (s != kOk) {
      stk_drop(ctx);
      return s;
    }
    return stk_remove(ctx, 2, 1);
  }
  double* re = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, q.ndims, &re, nullptr));
  for (int k = 0; k < q.ndims; ++k) re[k] = q.dims[k];
  stk_replace_with_top(ctx, 0);
  return kOk;
}

// --- Conversion to double ---------------------------------------------------------

namespace {

// The shape of double() (parts 4) and of the ".v" field (parts 3): a scalar
// or column gives count by parts (a scalar parts by 1), a row parts by
// columns, any other array its dims and a last dimension of parts.
int push_parts_array(EngineContext* ctx, const QuaternionView& q, int first, int parts) {
  if (q.ndims >= kQuaternionMaxDims) return kObjectTooLarge;
  int32_t dims[kQuaternionMaxDims];
  int nd = 0;
  enum { kByRows, kByColumns, kByPages } layout = kByPages;
  if (q.count == 0) {
    // Nothing to read: an empty result whatever the dims.
    return stk_push_empty(ctx);
  }
  if (q.count == 1 && q.ndims == 2) {
    dims[0] = parts, dims[1] = 1, nd = 2;
  } else if (q.ndims == 2 && q.dims[1] == 1) {
    dims[0] = int32_t(q.dims[0]), dims[1] = parts, nd = 2, layout = kByRows;
  } else if (q.ndims == 2 && q.dims[0] == 1) {
    dims[0] = parts, dims[1] = int32_t(q.dims[1]), nd = 2, layout = kByColumns;
  } else {
    for (int k = 0; k < q.ndims; ++k) dims[nd++] = int32_t(q.dims[k]);
    dims[nd++] = parts;
  }
  double* re = nullptr;
  TN_TRY(stk_push_double_nd(ctx, nd, dims, &re, nullptr));
  const int64_t n = q.count;
  for (int j = 0; j < parts; ++j)
    for (int64_t k = 0; k < n; ++k) {
      const double v = q.c[first + j][k];
      // Row-major: a column's rows hold (w, x, y, z); a row's columns are elements.
      if (layout == kByRows) re[k * parts + j] = v;
      else re[j * n + k] = v;
    }
  return kOk;
}

}  // namespace

int quaternion_push_parts(EngineContext* ctx, const QuaternionView& q, int first, int parts) {
  return push_parts_array(ctx, q, first, parts);
}

int bi_quaternion_double(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  TN_TRY(push_parts_array(ctx, q, 0, kQuaternionParts));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

// --- Display text ----------------------------------------------------------------

namespace {

bool nonzero(double v) { return v != 0 && !std::isnan(v); }

int32_t display_text(EngineContext* ctx, const QuaternionView& q, char* buf) {
  int32_t pos = 0;
  auto append = [&](const char* s) {
    for (; *s && pos < kTextCap; ++s) buf[pos++] = *s;
  };
  if (q.count == 0) {
    append(kEmptyText);
    return pos;
  }
  if (q.count > 1) {
    for (int k = 0; k < q.ndims; ++k) {
      if (k) append("x");
      fmt_int64_dec(buf, &pos, q.dims[k], true, 0, false, false, false, 0, kTextCap);
    }
    append(kArrayText);
    return pos;
  }
  char letter = 'g';
  int32_t digits = 4;
  if (numlib_engine_ops().display_format) numlib_engine_ops().display_format(ctx, &letter, &digits);
  const double v[4] = {q.c[0][0], q.c[1][0], q.c[2][0], q.c[3][0]};
  const bool vector = nonzero(v[1]) || nonzero(v[2]) || nonzero(v[3]);
  bool any = false;
  if (nonzero(v[0]) || !vector) {
    fmt_double(buf, &pos, v[0], digits, letter, 0, false, false, false, false, false, false, kTextCap);
    any = true;
  }
  for (int j = 1; j < kQuaternionParts; ++j) {
    if (!nonzero(v[j])) continue;
    fmt_double(buf, &pos, v[j], digits, letter, 0, false, false, any, false, false, false, kTextCap);
    if (pos < kTextCap) buf[pos++] = kPartLetters[j];
    any = true;
  }
  return pos;
}

}  // namespace

int bi_q2str(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  char buf[kTextCap];
  const int32_t n = display_text(ctx, q, buf);
  TN_TRY(stk_push_cstr(ctx, n, buf));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_quaternion_disp(EngineContext* ctx, int, int nargout, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  char buf[kTextCap];
  const int32_t n = display_text(ctx, q, buf);
  TN_TRY(io_write(ctx, kFdStdout, buf, n));
  TN_TRY(io_newline(ctx, kFdStdout));
  stk_drop(ctx);
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}

// --- Source text ---------------------------------------------------------------------

namespace {

void dump_append(char* buffer, int32_t capacity, int32_t* pos, const char* s) {
  for (; *s && *pos < capacity; ++s) buffer[(*pos)++] = *s;
}

// One component as a row of numbers that reads back to the same doubles for
// values of at most 15 significant digits.
void dump_row(char* buffer, int32_t capacity, int32_t* pos, const double* v, int64_t n) {
  if (n == 0) return dump_append(buffer, capacity, pos, "[]");
  dump_append(buffer, capacity, pos, "[");
  char num[40];
  for (int64_t k = 0; k < n; ++k) {
    if (k) dump_append(buffer, capacity, pos, ",");
    if (std::isnan(v[k])) std::snprintf(num, sizeof num, "NaN");
    else if (std::isinf(v[k])) std::snprintf(num, sizeof num, v[k] > 0 ? "Inf" : "-Inf");
    else std::snprintf(num, sizeof num, "%.*g", kDumpDigits, v[k]);
    dump_append(buffer, capacity, pos, num);
  }
  dump_append(buffer, capacity, pos, "]");
}

}  // namespace

int bi_quaternion_dump(EngineContext* ctx, char* buffer, int32_t capacity, int32_t* pos, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  const bool single = q.count == 1;
  dump_append(buffer, capacity, pos, single ? "quaternion(" : "reshape(quaternion(");
  for (int j = 0; j < kQuaternionParts; ++j) {
    if (j) dump_append(buffer, capacity, pos, ",");
    dump_row(buffer, capacity, pos, q.c[j], q.count);
  }
  if (single) {
    dump_append(buffer, capacity, pos, ")");
  } else {
    dump_append(buffer, capacity, pos, "),[");
    char num[16];
    for (int k = 0; k < q.ndims; ++k) {
      std::snprintf(num, sizeof num, k ? ",%u" : "%u", q.dims[k]);
      dump_append(buffer, capacity, pos, num);
    }
    dump_append(buffer, capacity, pos, "])");
  }
  stk_drop(ctx);
  return kOk;
}
