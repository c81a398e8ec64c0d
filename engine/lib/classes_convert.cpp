// Conversions between value classes and the integer limits. Value
// conversions go through the engine's converters (truncate, keep the low
// bits); typecast copies bytes. Every check precedes the first change to the
// stacks, except that char converts its arguments one after the other.
#include "engine/lib/classes_convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/type_tests.h"

namespace {

int as_arg_error(int st) { return st == kWrongType ? kWrongArgType : st; }

// --- Class names ----------------------------------------------------------------

constexpr int kNameCap = 16;  // longer texts name no class

// The codes of the char array at depth as 8-bit text; a text that cannot be
// a class name (too long, codes above 127) reads as "?". kWrongArgType when the item is
// not a char array.
int read_name(EngineContext* ctx, int depth, char (&buf)[kNameCap]) {
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.subtype != kPayChar || t.type != kElemU16)
    return kWrongArgType;
  std::strcpy(buf, "?");
  if (t.count >= kNameCap) return kOk;
  for (int64_t i = 0; i < t.count; ++i) {
    uint16_t ch = tn::load<uint16_t>(t.elems + 2 * i);
    if (ch == 0 || ch > 127) {
      std::strcpy(buf, "?");
      return kOk;
    }
    buf[i] = static_cast<char>(ch);
  }
  buf[t.count] = 0;
  return kOk;
}

// "int" or "uint" followed by exactly 8, 16, 32 or 64.
bool parse_int_class(const char* s, int* size, bool* is_unsigned) {
  *is_unsigned = s[0] == 'u';
  if (*is_unsigned) ++s;
  if (std::strncmp(s, "int", 3) != 0) return false;
  s += 3;
  static const struct {
    const char* digits;
    int size;
  } kSizes[] = {{"8", 1}, {"16", 2}, {"32", 4}, {"64", 8}};
  for (const auto& k : kSizes)
    if (std::strcmp(s, k.digits) == 0) {
      *size = k.size;
      return true;
    }
  return false;
}

enum class ClassKind { kDouble, kSingle, kChar, kLogical, kInt };
struct ClassTarget {
  ClassKind kind;
  int size = 0;  // bytes of an element
  bool is_unsigned = false;
};

bool parse_class(const char* s, ClassTarget* t) {
  static const struct {
    const char* name;
    ClassKind kind;
    int size;
  } kNamed[] = {{"double", ClassKind::kDouble, 8},
                {"single", ClassKind::kSingle, 4},
                {"char", ClassKind::kChar, 2},
                {"logical", ClassKind::kLogical, 1}};
  for (const auto& k : kNamed)
    if (std::strcmp(s, k.name) == 0) {
      *t = ClassTarget{k.kind, k.size, k.kind == ClassKind::kChar || k.kind == ClassKind::kLogical};
      return true;
    }
  t->kind = ClassKind::kInt;
  return parse_int_class(s, &t->size, &t->is_unsigned);
}

// --- The bytes of an array ------------------------------------------------------

// The real parts of a double, single or integer array (chars and logicals
// included) as bytes.
struct RawArray {
  uint8_t* bytes = nullptr;
  int64_t count = 0;
  uint32_t size = 0;  // bytes per element
  int ndims = 2;
  const uint32_t* dims = nullptr;
  bool cplx = false;
};

bool raw_array(EngineContext* ctx, int depth, RawArray* r) {
  double *re, *im;
  if (stk_get_double_array(ctx, depth, &r->ndims, &r->dims, &r->count, &re, &im) == kOk) {
    r->bytes = reinterpret_cast<uint8_t*>(re);
    r->size = 8;
    r->cplx = im != nullptr;
    return true;
  }
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.size == 0) return false;
  r->bytes = t.elems;
  r->count = t.count;
  r->size = t.size;
  r->ndims = static_cast<int>(t.ndims);
  r->dims = t.dims;
  r->cplx = t.is_complex;
  return true;
}

void swap_elements(uint8_t* p, int64_t n, uint32_t size) {
  switch (size) {
    case 2:
      for (int64_t i = 0; i < n; ++i)
        tn::store<uint16_t>(p + 2 * i, __builtin_bswap16(tn::load<uint16_t>(p + 2 * i)));
      break;
    case 4:
      for (int64_t i = 0; i < n; ++i)
        tn::store<uint32_t>(p + 4 * i, __builtin_bswap32(tn::load<uint32_t>(p + 4 * i)));
      break;
    case 8:
      for (int64_t i = 0; i < n; ++i)
        tn::store<uint64_t>(p + 8 * i, __builtin_bswap64(tn::load<uint64_t>(p + 8 * i)));
      break;
    default: break;  // one-byte elements have no order to reverse
  }
}

// Pushes an uninitialised rows x cols array of the target class.
int push_class_array(EngineContext* ctx, const ClassTarget& t, int32_t rows, int32_t cols,
                     void** data) {
  const int32_t dims[2] = {rows, cols};
  switch (t.kind) {
    case ClassKind::kDouble: {
      double* re;
      TN_TRY(stk_push_matrix(ctx, rows, cols, &re, nullptr));
      *data = re;
      return kOk;
    }
    case ClassKind::kSingle: {
      float* re;
      TN_TRY(stk_push_single_nd(ctx, 2, dims, &re, nullptr));
      *data = re;
      return kOk;
    }
    case ClassKind::kChar: {
      uint16_t* c;
      TN_TRY(stk_push_char_array(ctx, 2, dims, &c));
      *data = c;
      return kOk;
    }
    case ClassKind::kLogical: {
      uint8_t* l;
      TN_TRY(stk_push_logical_array(ctx, 2, dims, &l));
      *data = l;
      return kOk;
    }
    default: return stk_push_typed_array(ctx, 2, dims, t.size, t.is_unsigned ? 1 : 0, data);
  }
}

// X at depth 1, the class name (already read) on top.
int cast_values(EngineContext* ctx, const ClassTarget& t) {
  constexpr int kX = 1;
  switch (t.kind) {
    case ClassKind::kDouble:
    case ClassKind::kSingle:
      TN_TRY(as_arg_error(stk_convert_to_double(ctx, kX, t.kind == ClassKind::kSingle, nullptr)));
      break;
    case ClassKind::kLogical: TN_TRY(as_arg_error(stk_convert_to_logical(ctx, kX))); break;
    case ClassKind::kChar:
      TN_TRY(as_arg_error(stk_convert_to_int(ctx, kX, 2, 1, 0)));
      desc_at(ctx, kX)[2] = kPayChar;
      break;
    default:
      TN_TRY(as_arg_error(stk_convert_to_int(ctx, kX, t.size, t.is_unsigned ? 1 : 0, 0)));
      break;
  }
  stk_drop(ctx);
  return kOk;
}

int cast_bytes(EngineContext* ctx, const ClassTarget& t) {
  constexpr int kX = 1;
  RawArray x;
  if (!raw_array(ctx, kX, &x)) return kWrongArgType;
  int64_t bytes = x.count * x.size;  // the real parts only
  if (bytes % t.size != 0) return kBadSize;
  int64_t k = bytes / t.size;
  if (k > INT32_MAX) return kDataStackOverflow;
  bool row = x.ndims == 2 && x.dims[0] == 1;
  auto n = static_cast<int32_t>(k);
  void* out;
  // A push above X leaves X's bytes where they are.
  TN_TRY(push_class_array(ctx, t, row ? 1 : n, row ? n : 1, &out));
  if (bytes) std::memcpy(out, x.bytes, static_cast<size_t>(bytes));
  stk_remove(ctx, 1, 2);
  return kOk;
}

// --- char -----------------------------------------------------------------------------

constexpr uint16_t kBlank = 32;

bool numeric_array(EngineContext* ctx, int depth) {
  RawArray r;
  return raw_array(ctx, depth, &r);
}

// Stacks the arguments' rows (already 2-d uint16 arrays at depths nargin-1
// .. 0) into one char array, each row padded with blanks to the widest.
int stack_rows(EngineContext* ctx, int nargin) {
  int64_t rows = 0, cols = 0;
  for (int d = 0; d < nargin; ++d) {
    TypedView t;
    typed_view(ctx, d, &t);
    rows += t.dims[0];
    cols = t.dims[1] > cols ? t.dims[1] : cols;
  }
  if (tn::mul64(rows, cols) > kMaxTypedElements) return kDataStackOverflow;
  const int32_t dims[2] = {static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
  uint16_t* out;
  TN_TRY(stk_push_char_array(ctx, 2, dims, &out));
  int64_t at = 0;
  for (int d = nargin; d >= 1; --d) {  // first argument deepest
    TypedView t;
    typed_view(ctx, d, &t);
    const int64_t r = t.dims[0], c = t.dims[1];
    for (int64_t i = 0; i < r; ++i, ++at) {
      uint16_t* line = out + at * cols;
      for (int64_t j = 0; j < c; ++j) line[j] = tn::load<uint16_t>(t.elems + 2 * (i * c + j));
      for (int64_t j = c; j < cols; ++j) line[j] = kBlank;
    }
  }
  stk_remove(ctx, 1, nargin);
  return kOk;
}

// --- map2int ------------------------------------------------------------------------

// Scale of the 8-, 16- and 32-bit results: just below 2^bits, so that the
// top of the range still truncates into the type.
double map_scale(int size) {
  switch (size) {
    case 1: return 255.999;
    case 2: return 65535.999;
    default: return 4294967295.999;
  }
}

constexpr double kTwo64 = 18446744073709551616.0;
constexpr uint64_t kTwo63Bits = uint64_t{1} << 63;

uint64_t map_element(double x, double lo, double hi, double s, int size, bool is_unsigned) {
  if (x < lo) x = lo;
  if (x > hi) x = hi;
  if (size == 8) {
    uint64_t u;
    if (x == hi) {
      u = ~uint64_t{0};
    } else {
      double v = (x - lo) * s * kTwo64;
      // A product that rounds up to 2^64 is clamped; NaN takes the
      // integer-indefinite pattern as every other conversion does.
      u = !(v == v) ? tn::dto_wrap64(v) : v >= kTwo64 ? ~uint64_t{0} : static_cast<uint64_t>(v);
    }
    return is_unsigned ? u : u - kTwo63Bits;
  }
  double v = (x - lo) * s * map_scale(size);
  if (!is_unsigned) v = std::floor(v - std::ldexp(1.0, 8 * size - 1));
  return tn::dto_wrap64(v);
}

void store_low_bits(uint8_t* e, int64_t i, int size, uint64_t bits) {
  switch (size) {
    case 1: e[i] = static_cast<uint8_t>(bits); break;
    case 2: tn::store<uint16_t>(e + 2 * i, static_cast<uint16_t>(bits)); break;
    case 4: tn::store<uint32_t>(e + 4 * i, static_cast<uint32_t>(bits)); break;
    default: tn::store<uint64_t>(e + 8 * i, bits); break;
  }
}

}  // namespace

int bi_uplus(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kWrongArgType;
  uint32_t* d = desc_at(ctx, 0);
  if (d[0] == kKindReal || d[0] == kKindComplex) return kOk;
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.size == 0) return kWrongArgType;
  d[2] = kPayNumeric;  // char and logical arrays keep their element type
  return kOk;
}

int bi_swapbytes(EngineContext* ctx) {
  RawArray r;
  if (!raw_array(ctx, 0, &r)) return kWrongArgType;
  if (r.cplx) stk_make_real_top(ctx);  // the real parts stay where they are
  swap_elements(r.bytes, r.count, r.size);
  return kOk;
}

int bi_double(EngineContext* ctx) {
  return as_arg_error(stk_convert_to_double(ctx, 0, 0, nullptr));
}

int bi_single(EngineContext* ctx) {
  return as_arg_error(stk_convert_to_double(ctx, 0, 1, nullptr));
}

int bi_int_convert(EngineContext* ctx, int elem_size, int unsigned_flag) {
  return as_arg_error(stk_convert_to_int(ctx, 0, elem_size, unsigned_flag, 0));
}

int bi_cast(EngineContext* ctx, int reinterpret) {
  int st = stk_argcheck(ctx, 2, "AS");
  if (st != kOk) st = stk_argcheck(ctx, 2, "BS");
  if (st != kOk) st = stk_argcheck(ctx, 2, "jS");
  TN_TRY(st);
  char name[kNameCap];
  TN_TRY(read_name(ctx, 0, name));
  ClassTarget t;
  if (!parse_class(name, &t)) return kUnknownOption;
  return reinterpret ? cast_bytes(ctx, t) : cast_values(ctx, t);
}

int bi_char(EngineContext* ctx, int nargin) {
  if (nargin <= 0) {
    uint16_t* c;
    return stk_push_char_row(ctx, 0, &c);
  }
  if (nargin > stk_item_count(ctx)) return kWrongArgType;
  for (int d = 0; d < nargin; ++d)
    if (!numeric_array(ctx, d)) return kWrongArgType;
  if (nargin > 1) {
    // The rows are stacked after every argument is converted in place to
    // 16-bit codes: room for the conversions and the result is made sure of
    // first, so that a failure leaves the arguments as they were.
    int64_t rows = 0, cols = 0, need = 0;
    for (int d = 0; d < nargin; ++d) {
      RawArray r;
      raw_array(ctx, d, &r);
      if (r.ndims != 2) return kBadSize;
      rows += r.dims[0];
      cols = std::max<int64_t>(cols, r.dims[1]);
      need += (typed_header_bytes(2) + 2 * r.count + 7) / 8;
    }
    if (tn::mul64(rows, cols) > kMaxTypedElements) return kDataStackOverflow;
    need += (typed_header_bytes(2) + 2 * rows * cols + 7) / 8;
    if (!desc_room(ctx)) return kStackOverflow;
    if (need >= data_free_words(ctx)) return kDataStackOverflow;
  }
  for (int d = 0; d < nargin; ++d) TN_TRY(as_arg_error(stk_convert_to_int(ctx, d, 2, 1, 0)));
  if (nargin == 1) {
    desc_at(ctx, 0)[2] = kPayChar;  // same shape, now 16-bit codes
    return kOk;
  }
  return stack_rows(ctx, nargin);
}

int bi_intlimit(EngineContext* ctx, int nargin, int, uintptr_t data) {
  if (data != kIntLimitMax && data != kIntLimitMin) return kNotSupported;
  if (nargin > 1) return kTooManyInputs;
  int size = 4;
  bool is_unsigned = false;
  if (nargin == 1) {
    char name[kNameCap];
    TN_TRY(read_name(ctx, 0, name));
    if (!parse_int_class(name, &size, &is_unsigned)) return kUnknownOption;
  }
  void* out;
  const int32_t one[2] = {1, 1};
  TN_TRY(stk_push_typed_array(ctx, 2, one, size, is_unsigned ? 1 : 0, &out));
  auto* b = static_cast<uint8_t*>(out);
  const bool max = data == kIntLimitMax;
  std::memset(b, max ? 0xFF : 0x00, static_cast<size_t>(size));
  if (!is_unsigned) b[size - 1] = max ? 0x7F : 0x80;  // little-endian: the top byte is last
  if (nargin == 1) stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_map2int(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin == 2) return kTooFewInputs;
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 4) return kTooManyInputs;
  TN_TRY(stk_argcheck(ctx, nargin, "a[rrS"));
  const int x_depth = nargin - 1;
  double lo = 0, hi = 1;
  if (nargin >= 3) {
    TN_TRY(as_arg_error(stk_get_real_scalar(ctx, nargin - 2, &lo)));
    TN_TRY(as_arg_error(stk_get_real_scalar(ctx, nargin - 3, &hi)));
  }
  if (!(hi > lo)) return kArgOutOfRange;
  int size = 1;
  bool is_unsigned = true;
  if (nargin == 4) {
    char name[kNameCap];
    TN_TRY(read_name(ctx, 0, name));
    if (!parse_int_class(name, &size, &is_unsigned)) return kUnknownOption;
  }
  int ndims;
  const uint32_t* dims;
  int64_t n;
  double* x;
  TN_TRY(as_arg_error(stk_get_double_array(ctx, x_depth, &ndims, &dims, &n, &x, nullptr)));
  void* out;
  // X's dims and elements lie below the push and stay put.
  TN_TRY(stk_push_typed_array(ctx, ndims, reinterpret_cast<const int32_t*>(dims), size,
                              is_unsigned ? 1 : 0, &out));
  auto* e = static_cast<uint8_t*>(out);
  const double s = 1 / (hi - lo);
  for (int64_t i = 0; i < n; ++i)
    store_low_bits(e, i, size, map_element(x[i], lo, hi, s, size, is_unsigned));
  stk_remove(ctx, 1, nargin);
  return kOk;
}

int classes_run_opcode(EngineContext* ctx, uint32_t opcode, int nargin) {
  switch (opcode) {
    case kOpUplus: return bi_uplus(ctx);
    case kOpIschar: return bi_ischar(ctx);
    case kOpSetstr: return bi_char(ctx, 1);
    case kOpChar: return bi_char(ctx, nargin);
    case kOpDouble: return bi_double(ctx);
    case kOpSingle: return bi_single(ctx);
    case kOpInt8: return bi_int_convert(ctx, 1, 0);
    case kOpInt16: return bi_int_convert(ctx, 2, 0);
    case kOpInt32: return bi_int_convert(ctx, 4, 0);
    case kOpInt64: return bi_int_convert(ctx, 8, 0);
    case kOpUint8: return bi_int_convert(ctx, 1, 1);
    case kOpUint16: return bi_int_convert(ctx, 2, 1);
    case kOpUint32: return bi_int_convert(ctx, 4, 1);
    case kOpUint64: return bi_int_convert(ctx, 8, 1);
    case kOpIsnumeric: return bi_isnumeric(ctx);
    case kOpIsfloat: return bi_isfloat(ctx);
    case kOpIsinteger: return bi_isinteger(ctx);
    case kOpIsscalar: return bi_isscalar(ctx);
    case kOpIsvector: return bi_isvector(ctx);
    case kOpSwapbytes: return bi_swapbytes(ctx);
    case kOpCast: return bi_cast(ctx, kCastValues);
    case kOpTypecast: return bi_cast(ctx, kCastReinterpret);
    case kOpIslogical: return bi_islogical(ctx);
    default: return kNotSupported;
  }
}
