// Conversions between numeric item types, the condition test and argument
// checking. A conversion that changes an item's size builds the new item on
// top and moves it into the old one's place; conversions of several items are
// planned in full before the first write, so an error changes nothing.
#include "engine/core/convert.h"

#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/value_stack.h"

namespace {

enum class Cls { Double, Single, Int, Other };

// A numeric item as the conversions see it.
struct Operand {
  Cls cls = Cls::Other;
  bool cplx = false;
  uint32_t type = 0;  // element type; 64/65 for a double matrix too
  uint32_t size = 0;
  uint32_t subtype = 0;
  int ndims = 2;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  uint8_t* elems = nullptr;  // real parts first, then the imaginary parts
  uint32_t words = 0;
  uint32_t* desc = nullptr;
};

Operand classify(EngineContext* c, int depth) {
  Operand o;
  if (!stk_has_item(c, depth)) return o;
  uint32_t* d = desc_at(c, depth);
  o.desc = d;
  o.words = desc_data_words(d);
  if (d[0] == kKindReal || d[0] == kKindComplex) {
    o.cls = Cls::Double;
    o.cplx = d[0] == kKindComplex;
    o.type = o.cplx ? kElemDoubleComplex : kElemDouble;
    o.size = 8;
    o.dims = d + 1;
    o.count = static_cast<int64_t>(d[1]) * d[2];
    o.elems = reinterpret_cast<uint8_t*>(item_data(c, depth));
    return o;
  }
  TypedView t;
  if (!typed_view(c, depth, &t) || t.size == 0) return o;
  o.type = t.type;
  o.size = t.size;
  o.subtype = t.subtype;
  o.cplx = t.is_complex;
  o.ndims = static_cast<int>(t.ndims);
  o.dims = t.dims;
  o.count = t.count;
  o.elems = t.elems;
  if (t.type == kElemDouble || t.type == kElemDoubleComplex)
    o.cls = Cls::Double;
  else if (t.type == kElemSingle || t.type == kElemSingleComplex)
    o.cls = Cls::Single;
  else
    o.cls = Cls::Int;
  return o;
}

const int32_t* signed_dims(const Operand& o) { return reinterpret_cast<const int32_t*>(o.dims); }

// Element i (real part) of a numeric operand as a double.
double real_at(const Operand& o, int64_t i) {
  switch (o.cls) {
    case Cls::Double: return tn::ld_f64(o.elems + 8 * i);
    case Cls::Single: return tn::load<float>(o.elems + 4 * i);
    default: return static_cast<double>(load_int_element(o.elems, i, o.type));
  }
}
double imag_at(const Operand& o, int64_t i) {
  if (!o.cplx) return 0.0;
  return o.cls == Cls::Double ? tn::ld_f64(o.elems + 8 * (o.count + i))
                              : tn::load<float>(o.elems + 4 * (o.count + i));
}

// --- Planning: the size of a replacement item and the test its push makes.

struct NewItem {
  bool none = true;  // no new item: unchanged or converted in place
  int64_t words = 0;
  bool matrix = false;  // may fill the data stack to its last word
};

int64_t header_bytes(int ndims) { return (static_cast<int64_t>(ndims) + 3) / 2 * 8; }

NewItem typed_item(const Operand& o, int64_t elem_bytes) {
  int nd = o.count == 0 ? 2 : o.ndims;
  return {false, (header_bytes(nd) + o.count * elem_bytes + 7) / 8, false};
}

NewItem float_item(const Operand& o, bool single) {
  if (single) return o.cls == Cls::Single ? NewItem{} : typed_item(o, o.cplx ? 8 : 4);
  if (o.cls == Cls::Double) return {};
  if (o.count == 0 || o.ndims == 2) return {false, o.count * (o.cplx ? 2 : 1), true};
  return typed_item(o, o.cplx ? 16 : 8);
}

NewItem int_item(const Operand& o, uint32_t size) {
  if (o.cls == Cls::Int && o.size == size) return {};  // relabelled in place
  return typed_item(o, size);
}

// Walks a sequence of replacements as the stacks will see them and gives the
// status the first failing push would give.
struct Planner {
  EngineContext* c;
  int64_t top;
  bool pushes = false;
  int status = kOk;
  void step(const NewItem& n, uint32_t old_words) {
    if (n.none || status != kOk) return;
    pushes = true;
    int64_t cap = c->data_capacity;
    bool fits = n.matrix ? n.words <= cap - top : top + n.words < cap;
    if (!fits) status = kDataStackOverflow;
    top += n.words - old_words;
  }
  int result() const {
    if (pushes && !desc_room(c)) return kStackOverflow;
    return status;
  }
};

// --- Builders: each pushes the converted copy of o on top.

int build_float(EngineContext* c, const Operand& o, bool single) {
  if (single) {
    float *re, *im = nullptr;
    TN_TRY(stk_push_single_nd(c, o.ndims, signed_dims(o), &re, o.cplx ? &im : nullptr));
    for (int64_t i = 0; i < o.count; ++i) re[i] = static_cast<float>(real_at(o, i));
    if (im)
      for (int64_t i = 0; i < o.count; ++i) im[i] = static_cast<float>(imag_at(o, i));
    return kOk;
  }
  double *re, *im = nullptr;
  TN_TRY(stk_push_double_nd(c, o.ndims, signed_dims(o), &re, o.cplx ? &im : nullptr));
  for (int64_t i = 0; i < o.count; ++i) re[i] = real_at(o, i);
  if (im)
    for (int64_t i = 0; i < o.count; ++i) im[i] = imag_at(o, i);
  return kOk;
}

// Truncation toward zero through 64 bits. Values of [2^63, 2^64) keep all
// their bits for unsigned 64-bit targets, which hold them; for every other
// target they take the integer-indefinite pattern like any value too large.
uint64_t double_to_bits(double x, uint32_t size, bool is_unsigned) {
  constexpr double kTwo63 = 9223372036854775808.0;
  constexpr double kTwo64 = 18446744073709551616.0;
  if (size == 8 && is_unsigned && x >= kTwo63 && x < kTwo64) return static_cast<uint64_t>(x);
  return tn::dto_wrap64(x);
}

void store_low(uint8_t* e, int64_t i, uint32_t size, uint64_t bits) {
  switch (size) {
    case 1: tn::store<uint8_t>(e + i, static_cast<uint8_t>(bits)); break;
    case 2: tn::store<uint16_t>(e + 2 * i, static_cast<uint16_t>(bits)); break;
    case 4: tn::store<uint32_t>(e + 4 * i, static_cast<uint32_t>(bits)); break;
    default: tn::store<uint64_t>(e + 8 * i, bits); break;
  }
}

// Range of an integer type, as integers and as the doubles that bound it
// (the upper double bound is exclusive: 2^(bits) or 2^(bits-1) is exact).
struct IntRange {
  __int128 lo, hi;
  double dlo, dhi_excl;
};
IntRange int_range(uint32_t size, bool is_unsigned) {
  int bits = 8 * static_cast<int>(size);
  if (is_unsigned) {
    __int128 hi = (static_cast<__int128>(1) << bits) - 1;
    return {0, hi, 0.0, std::ldexp(1.0, bits)};
  }
  __int128 half = static_cast<__int128>(1) << (bits - 1);
  return {-half, half - 1, -std::ldexp(1.0, bits - 1), std::ldexp(1.0, bits - 1)};
}

int check_int_values(const Operand& o, uint32_t size, bool is_unsigned) {
  IntRange r = int_range(size, is_unsigned);
  for (int64_t i = 0; i < o.count; ++i) {
    if (o.cls == Cls::Int) {
      __int128 v = load_int_element(o.elems, i, o.type);
      if (v < r.lo || v > r.hi) return kArgOutOfRange;
      continue;
    }
    double x = real_at(o, i);
    if (!std::isnan(x) && std::floor(x) != x) return kNonIntegerArg;  // NaN fails the range
    if (!(x >= r.dlo && x < r.dhi_excl)) return kArgOutOfRange;
  }
  return kOk;
}

int build_int(EngineContext* c, const Operand& o, uint32_t size, bool is_unsigned) {
  void* data;
  TN_TRY(stk_push_typed_array(c, o.ndims, signed_dims(o), static_cast<int>(size),
                              is_unsigned ? 1 : 0, &data));
  auto* e = static_cast<uint8_t*>(data);
  for (int64_t i = 0; i < o.count; ++i) {
    uint64_t bits = o.cls == Cls::Int
                        ? static_cast<uint64_t>(load_int_element(o.elems, i, o.type))
                        : double_to_bits(real_at(o, i), size, is_unsigned);
    store_low(e, i, size, bits);
  }
  return kOk;
}

void relabel_int(const Operand& o, uint32_t size, bool is_unsigned) {
  uint8_t* header = o.elems - header_bytes(o.ndims);
  tn::st_u32(header, size + (is_unsigned ? uint32_t{kElemUnsigned} : 0u));
  o.desc[2] = kPayNumeric;
}

// Converts one item to an integer type, without the value checks.
int convert_int_at(EngineContext* c, int depth, const Operand& o, uint32_t size,
                   bool is_unsigned) {
  if (o.cls == Cls::Int && o.size == size) {
    relabel_int(o, size, is_unsigned);
    return kOk;
  }
  TN_TRY(build_int(c, o, size, is_unsigned));
  stk_replace_with_top(c, depth);
  return kOk;
}

bool valid_int_size(int size) { return size == 1 || size == 2 || size == 4 || size == 8; }

// --- Condition truth and argument letters.

bool all_nonzero(const Operand& o) {
  for (int64_t i = 0; i < o.count; ++i) {
    if (o.cls == Cls::Int) {
      if (load_int_element(o.elems, i, o.type) == 0) return false;
      continue;
    }
    // NaN compares unequal to 0, so it is true here (unlike logical()).
    if (!(real_at(o, i) != 0 || imag_at(o, i) != 0)) return false;
  }
  return true;
}

bool real_matrix_integral(EngineContext* c, int depth) {
  double* re;
  int32_t rows, cols;
  stk_get_matrix(c, depth, &rows, &cols, &re, nullptr);
  int64_t n = static_cast<int64_t>(rows) * cols;
  for (int64_t i = 0; i < n; ++i)
    if (std::floor(re[i]) != re[i]) return false;  // NaN is not integral
  return true;
}

bool is_object(const uint32_t* d) {
  if (d[0] == kKindContainer) return d[2] != kContList && d[2] != kContStruct && d[2] != kContCell;
  return d[0] == kKindPayload && d[2] >= kPayFirstClass;
}

// 1 when the argument matches the letter, 0 when not, -1 for an unknown letter.
int letter_accepts(EngineContext* c, int depth, char letter) {
  const uint32_t* d = desc_at(c, depth);
  Operand o = classify(c, depth);
  bool matrix = d[0] == kKindReal || d[0] == kKindComplex;
  bool real_matrix = d[0] == kKindReal;
  bool one = matrix && d[1] == 1 && d[2] == 1;
  switch (letter) {
    case '?': return 1;
    case 'A': return o.cls == Cls::Double;
    case 'a': return o.cls == Cls::Double && !o.cplx;
    case 'B': return o.cls == Cls::Single;
    case 'b': return o.cls == Cls::Single && !o.cplx;
    case 'C': return matrix;
    case 'c': return one;
    case 'R': return real_matrix;
    case 'r': return real_matrix && one;
    case 'I': return real_matrix && real_matrix_integral(c, depth);
    case 'i': return real_matrix && one && real_matrix_integral(c, depth);
    case 'L': return d[0] == kKindPayload && d[2] == kPayLogical && o.cls == Cls::Int;
    case 'S': return d[0] == kKindPayload && d[2] == kPayChar && o.cls == Cls::Int;
    case 's': return d[0] == kKindPayload && d[2] == kPayChar && o.cls == Cls::Int && o.count == 1;
    case 'j': return o.cls == Cls::Int;
    case 'f': return d[0] == kKindPayload && (d[2] == kPayInline || d[2] == kPayFuncRef);
    case 'l': return d[0] == kKindContainer && d[2] == kContList;
    case 't': return d[0] == kKindContainer && d[2] == kContStruct;
    default: return -1;
  }
}

}  // namespace

int stk_convert_to_double(EngineContext* ctx, int which, int single_flag, int* changed) {
  bool single = single_flag != 0;
  int deepest = which < 0 ? ~which : which;
  int last = which < 0 ? 0 : which;
  Planner plan{ctx, ctx->data_top};
  for (int d = deepest; d >= last; --d) {
    Operand o = classify(ctx, d);
    if (o.cls == Cls::Other) return kWrongType;
    plan.step(float_item(o, single), o.words);
  }
  TN_TRY(plan.result());
  bool any = false;
  for (int d = deepest; d >= last; --d) {
    Operand o = classify(ctx, d);
    if (float_item(o, single).none) continue;
    TN_TRY(build_float(ctx, o, single));
    stk_replace_with_top(ctx, d);
    any = true;
  }
  if (changed) *changed = any ? 1 : 0;
  return kOk;
}

int stk_convert_to_int(EngineContext* ctx, int depth, int elem_size, int unsigned_flag,
                       int check_flag) {
  if (!valid_int_size(elem_size)) return kWrongType;
  auto size = static_cast<uint32_t>(elem_size);
  bool is_unsigned = unsigned_flag != 0;
  Operand o = classify(ctx, depth);
  if (o.cls == Cls::Other) return kWrongType;
  // Same width: the bits are kept as they are, without any range check.
  if (check_flag && !(o.cls == Cls::Int && o.size == size))
    TN_TRY(check_int_values(o, size, is_unsigned));
  return convert_int_at(ctx, depth, o, size, is_unsigned);
}

int stk_promote_args(EngineContext* ctx, int n) {
  enum { kRankInt, kRankSingle, kRankDouble } rank = kRankInt;
  uint32_t size = 1;
  bool is_unsigned = false;
  for (int d = 0; d < n; ++d) {
    Operand o = classify(ctx, d);
    if (o.cls == Cls::Double) {
      rank = kRankDouble;
    } else if (o.cls == Cls::Single) {
      if (rank != kRankDouble) rank = kRankSingle;
    } else if (o.cls == Cls::Int) {
      bool u = (o.type & kElemUnsigned) != 0;
      if (o.size > size) {
        size = o.size;
        is_unsigned = u;
      } else if (o.size == size && u) {
        is_unsigned = true;
      }
    } else {
      return kWrongType;
    }
  }
  if (n <= 0) return kOk;
  if (rank != kRankInt) return stk_convert_to_double(ctx, ~(n - 1), rank == kRankSingle, nullptr);
  Planner plan{ctx, ctx->data_top};
  for (int d = 0; d < n; ++d) {
    Operand o = classify(ctx, d);
    plan.step(int_item(o, size), o.words);
  }
  TN_TRY(plan.result());
  for (int d = 0; d < n; ++d) TN_TRY(convert_int_at(ctx, d, classify(ctx, d), size, is_unsigned));
  return kOk;
}

int stk_convert_to_logical(EngineContext* ctx, int depth) {
  Operand o = classify(ctx, depth);
  if (o.cls == Cls::Int && o.size == 1) {
    // Same width: in place.
    for (int64_t i = 0; i < o.count; ++i) o.elems[i] = o.elems[i] != 0;
    tn::st_u32(o.elems - header_bytes(o.ndims), kElemU8);
    o.desc[2] = kPayLogical;
    return kOk;
  }
  if (o.cls != Cls::Double && o.cls != Cls::Int) return kWrongType;
  uint8_t* e;
  TN_TRY(stk_push_logical_array(ctx, o.ndims, signed_dims(o), &e));
  for (int64_t i = 0; i < o.count; ++i) {
    if (o.cls == Cls::Int) {
      e[i] = load_int_element(o.elems, i, o.type) != 0;
    } else {
      // NaN counts as zero here, unlike in a condition.
      double re = real_at(o, i), im = imag_at(o, i);
      e[i] = (re != 0 && !std::isnan(re)) || (im != 0 && !std::isnan(im));
    }
  }
  stk_replace_with_top(ctx, depth);
  return kOk;
}

int stk_make_complex_top(EngineContext* ctx, void** im) {
  Operand o = classify(ctx, 0);
  if (o.cls != Cls::Double && o.cls != Cls::Single) return kWrongType;
  int64_t part = o.cls == Cls::Double ? 8 : 4;
  uint8_t* imag = o.elems + part * o.count;
  if (!o.cplx && o.count > 0) {
    // No room for the zeros reads as a full stack (1), as callers expect.
    if (o.desc[0] == kKindReal) {
      if (2 * o.count >= 2147483647 || o.count > data_free_words(ctx)) return kStackOverflow;
      std::memset(imag, 0, static_cast<size_t>(8 * o.count));
      o.desc[0] = kKindComplex;
      ctx->data_top += static_cast<int32_t>(o.count);
    } else {
      int64_t hdr = header_bytes(o.ndims);
      int64_t words = (hdr + 2 * part * o.count + 7) / 8;
      int64_t grow = words - o.words;
      if (!(ctx->data_top + grow < static_cast<int64_t>(ctx->data_capacity)))
        return kStackOverflow;
      uint8_t* item = o.elems - hdr;
      std::memset(imag, 0, static_cast<size_t>(words * 8 - (imag - item)));
      tn::st_u32(item, o.type + 1);  // 64 -> 65, 66 -> 67
      o.desc[1] = static_cast<uint32_t>(words);
      ctx->data_top += static_cast<int32_t>(grow);
    }
  }
  if (im) *im = imag;
  return kOk;
}

int stk_test_condition(EngineContext* ctx, int depth, uint8_t* out) {
  Operand o = classify(ctx, depth);
  if (o.cls == Cls::Other) {
    // An integer array of an unknown element size is false, not an error.
    TypedView t;
    if (!typed_view(ctx, depth, &t)) return kWrongTypeForBool;
    if (out) *out = 0;
    return kOk;
  }
  if (out) *out = o.count > 0 && all_nonzero(o);
  return kOk;
}

int stk_pop_condition(EngineContext* ctx, uint8_t* out) {
  TN_TRY(stk_test_condition(ctx, 0, out));
  stk_drop(ctx);
  return kOk;
}

int stk_argcheck(EngineContext* ctx, int nargin, const char* spec) {
  if (nargin > stk_item_count(ctx)) return kWrongArgType;
  if (!spec) {
    for (int d = 0; d < nargin; ++d)
      if (is_object(desc_at(ctx, d))) return kWrongArgType;
    return kOk;
  }
  const char* p = spec;
  char previous = 0;
  bool optional = false;
  for (int arg = 0; arg < nargin; ++arg) {
    while (*p == '[') {
      optional = true;
      ++p;
    }
    char letter = *p;
    if (letter == 0) return kOk;  // further arguments go unchecked
    if (letter == '*') return kOk;
    if (letter == '+') {
      letter = previous;
    } else {
      previous = letter;
      ++p;
    }
    if (letter_accepts(ctx, nargin - 1 - arg, letter) != 1) return kWrongArgType;
  }
  if (*p == 0 || optional || *p == '[' || *p == '*' || *p == '+') return kOk;
  return kWrongArgType;
}
