// The bit built-ins. Every operand is read as bit patterns: an integer
// element in its own width (char and logical as 16- and 8-bit unsigned), a
// double as the low 32 bits of its value truncated to 64 bits. All shifting
// and masking is done on unsigned 64-bit words, so no count is undefined.
// Results are built above the operands, then the operands are removed.
#include "engine/lib/bit_ops.h"

#include <algorithm>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_args.h"
#include "engine/lib/operands.h"

namespace {

constexpr int kDoubleWidth = 32;
constexpr int kMaxOperands = 3;
constexpr uintptr_t kReduceAnd = '&';

uint64_t width_mask(int width) { return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1; }

// A double's bits: its value truncated to 64 bits, the low 32 kept.
uint64_t double_bits(double x) { return uint32_t(tn::dto_wrap64(x)); }

// One operand as bit patterns (an element index past a one-element operand reads element 0).
struct Bits {
  NumOperand o;
  bool dbl = false;
  int width = 0;
  bool is_signed = false;

  int64_t index(int64_t i) const { return o.count == 1 ? 0 : i; }
  uint64_t at(int64_t i) const {
    if (dbl) return double_bits(static_cast<const double*>(o.re)[index(i)]);
    return uint64_t(load_int_element(static_cast<const uint8_t*>(o.re), index(i), o.type)) & width_mask(width);
  }
};

// The operand at depth as bits: kWrongArgType for anything but an integer, char,
// logical or double array.
int read_bits(EngineContext* ctx, int depth, Bits* b) {
  b->o = num_operand(ctx, depth);
  if (b->o.kind == NumKind::kDouble) {
    b->dbl = true;
    b->width = kDoubleWidth;
    return kOk;
  }
  if (b->o.kind != NumKind::kInt) return kWrongArgType;
  b->width = int(elem_size(b->o.type)) * 8;
  b->is_signed = (b->o.type & kElemUnsigned) == 0;
  return kOk;
}

// Element i of a count, position or width argument (any numeric class) as a
// signed 32-bit integer, truncated and wrapped.
int64_t int32_at(const NumOperand& o, int64_t i) {
  const int64_t k = o.count == 1 ? 0 : i;
  switch (o.kind) {
    case NumKind::kDouble: return int32_t(uint32_t(tn::dto_wrap64(static_cast<const double*>(o.re)[k])));
    case NumKind::kSingle: return int32_t(uint32_t(tn::dto_wrap64(static_cast<const float*>(o.re)[k])));
    default: return int32_t(uint32_t(uint64_t(load_int_element(static_cast<const uint8_t*>(o.re), k, o.type))));
  }
}

int read_numeric(EngineContext* ctx, int depth, NumOperand* o) {
  *o = num_operand(ctx, depth);
  return o->kind == NumKind::kNone ? kWrongArgType : kOk;
}

// The shape of an elementwise result over n operands: the first operand of
// more than one element; kIncompatibleSize when two such differ.
int common_shape(const NumOperand* ops, int n, const NumOperand** shape) {
  *shape = &ops[0];
  for (int k = 0; k < n; ++k) {
    if (ops[k].count == 1) continue;
    if ((*shape)->count == 1) *shape = &ops[k];
    if (!shapes_agree(**shape, ops[k])) return kIncompatibleSize;
  }
  return kOk;
}

// An uninitialised result: a real double array, or an integer array of the
// element type, with the shape of `like`.
struct Result {
  bool dbl;
  uint32_t type;
  uint8_t* data = nullptr;
  void put(int64_t i, uint64_t v) const {
    if (dbl) {
      tn::st_f64(data + 8 * i, double(uint32_t(v)));
      return;
    }
    switch (elem_size(type)) {
      case 1: tn::store<uint8_t>(data + i, uint8_t(v)); break;
      case 2: tn::store<uint16_t>(data + 2 * i, uint16_t(v)); break;
      case 4: tn::store<uint32_t>(data + 4 * i, uint32_t(v)); break;
      default: tn::store<uint64_t>(data + 8 * i, v); break;
    }
  }
};

int push_result(EngineContext* ctx, int ndims, const uint32_t* dims, Result* r) {
  int32_t d[kMaxDims];
  const int nd = std::min(ndims, int(kMaxDims));
  for (int k = 0; k < nd; ++k) d[k] = int32_t(dims[k]);
  if (r->dbl) {
    double* re = nullptr;
    TN_TRY(stk_push_double_nd(ctx, nd, d, &re, nullptr));
    r->data = reinterpret_cast<uint8_t*>(re);
    return kOk;
  }
  void* data = nullptr;
  TN_TRY(stk_push_typed_array(ctx, nd, d, int(elem_size(r->type)), (r->type & kElemUnsigned) ? 1 : 0, &data));
  r->data = static_cast<uint8_t*>(data);
  return kOk;
}

// The class of a result computed from a: double, or a's integer type
// (char and logical give the unsigned numbers they count as).
Result result_of(const Bits& a) { return {a.dbl, a.dbl ? uint32_t{kElemDouble} : a.o.type}; }

// Bit positions: 1 .. width, else kIndexOutOfRange.
int check_positions(const NumOperand& pos, int width) {
  for (int64_t i = 0; i < pos.count; ++i) {
    const int64_t p = int32_at(pos, i);
    if (p < 1 || p > width) return kIndexOutOfRange;
  }
  return kOk;
}

// Elementwise over the n top operands with a first: shape check, push, fill.
template <typename F>
int bits_elementwise(EngineContext* ctx, int n, F f) {
  NumOperand ops[kMaxOperands];
  for (int k = 0; k < n; ++k) ops[k] = num_operand(ctx, n - 1 - k);
  const NumOperand* shape = nullptr;
  TN_TRY(common_shape(ops, n, &shape));
  Bits a;
  TN_TRY(read_bits(ctx, n - 1, &a));
  Result r = result_of(a);
  const int64_t count = shape->count;
  TN_TRY(push_result(ctx, shape->ndims, shape->dims, &r));
  TN_TRY(read_bits(ctx, n, &a));
  NumOperand args[kMaxOperands];
  for (int k = 1; k < n; ++k) args[k] = num_operand(ctx, n - k);
  for (int64_t i = 0; i < count; ++i) r.put(i, f(a, args, i));
  return stk_remove(ctx, 1, n);
}

int check_args(EngineContext* ctx, int nargin, int min, int max) {
  if (nargin < min || nargin > max) return nargin < min ? kTooFewInputs : kTooManyInputs;
  if (!arr::args_present(ctx, nargin)) return kBadArgument;
  return stk_argcheck(ctx, nargin, nullptr);
}

// bitand, bitor, bitxor: both operands in their common class.
template <typename Op>
int bit_binary(EngineContext* ctx, int nargin, Op op) {
  TN_TRY(check_args(ctx, nargin, 2, 2));
  NumOperand a = num_operand(ctx, 1), b = num_operand(ctx, 0);
  auto usable = [](const NumOperand& o) { return o.kind == NumKind::kDouble || o.kind == NumKind::kInt; };
  if (!usable(a) || !usable(b)) return kWrongArgType;
  if (!shapes_agree(a, b)) return kIncompatibleSize;
  const bool dbl = a.kind == NumKind::kDouble || b.kind == NumKind::kDouble;
  const CommonClass cc = common_class(a, b);
  Result r{dbl, dbl ? uint32_t{kElemDouble} : cc.int_type};
  const int width = dbl ? kDoubleWidth : int(elem_size(cc.int_type)) * 8;
  const NumOperand& shape = result_shape(a, b);
  const int64_t count = shape.count;
  TN_TRY(push_result(ctx, shape.ndims, shape.dims, &r));
  a = num_operand(ctx, 2);
  b = num_operand(ctx, 1);
  // An integer operand of a double operation goes through its double value.
  auto bits = [&](const NumOperand& o, int64_t i) -> uint64_t {
    const int64_t k = o.count == 1 ? 0 : i;
    if (o.kind == NumKind::kDouble) return double_bits(static_cast<const double*>(o.re)[k]);
    const __int128 v = load_int_element(static_cast<const uint8_t*>(o.re), k, o.type);
    if (dbl) return double_bits(double(v));
    return uint64_t(v) & width_mask(width);
  };
  for (int64_t i = 0; i < count; ++i) r.put(i, op(bits(a, i), bits(b, i)));
  return stk_remove(ctx, 1, 2);
}

}  // namespace

uint64_t bits_shift(uint64_t v, int width, bool arithmetic, int64_t k) {
  const uint64_t m = width_mask(width);
  v &= m;
  if (k >= 0) return k >= width ? 0 : (v << k) & m;
  const int64_t r = -k;
  const bool negative = arithmetic && ((v >> (width - 1)) & 1);
  if (r >= width) return negative ? m : 0;
  uint64_t out = v >> r;
  if (negative) out |= m & ~(m >> r);
  return out;
}

uint64_t bits_low(uint64_t v, int width, int64_t n) {
  if (n < 1) return 0;
  if (n >= width) return v & width_mask(width);
  return v & width_mask(int(n));
}

int bi_bitget(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(check_args(ctx, nargin, 2, 2));
  Bits a;
  NumOperand pos;
  TN_TRY(read_bits(ctx, 1, &a));
  TN_TRY(read_numeric(ctx, 0, &pos));
  TN_TRY(check_positions(pos, a.width));
  return bits_elementwise(ctx, 2, [](const Bits& x, const NumOperand* args, int64_t i) -> uint64_t {
    return (x.at(i) >> (int32_at(args[1], i) - 1)) & 1;
  });
}

int bi_bitset(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(check_args(ctx, nargin, 2, 3));
  Bits a;
  NumOperand pos, v;
  TN_TRY(read_bits(ctx, nargin - 1, &a));
  TN_TRY(read_numeric(ctx, nargin - 2, &pos));
  if (nargin == 3) TN_TRY(read_numeric(ctx, 0, &v));
  TN_TRY(check_positions(pos, a.width));
  return bits_elementwise(ctx, nargin, [nargin](const Bits& x, const NumOperand* args, int64_t i) -> uint64_t {
    const uint64_t bit = uint64_t{1} << (int32_at(args[1], i) - 1);
    bool on = true;
    if (nargin == 3) {
      const NumOperand& o = args[2];
      const int64_t k = o.count == 1 ? 0 : i;
      // Logical conversion: nonzero is true, NaN is not.
      if (o.kind == NumKind::kDouble) {
        const double d = static_cast<const double*>(o.re)[k];
        const double di = o.im ? static_cast<const double*>(o.im)[k] : 0.0;
        on = (d != 0 && d == d) || (di != 0 && di == di);
      } else if (o.kind == NumKind::kSingle) {
        const float f = static_cast<const float*>(o.re)[k];
        const float fi = o.im ? static_cast<const float*>(o.im)[k] : 0.0f;
        on = (f != 0 && f == f) || (fi != 0 && fi == fi);
      } else {
        on = load_int_element(static_cast<const uint8_t*>(o.re), k, o.type) != 0;
      }
    }
    return on ? x.at(i) | bit : x.at(i) & ~bit;
  });
}

int bi_bitand(EngineContext* ctx, int nargin, int, uintptr_t) {
  return bit_binary(ctx, nargin, [](uint64_t x, uint64_t y) { return x & y; });
}
int bi_bitor(EngineContext* ctx, int nargin, int, uintptr_t) {
  return bit_binary(ctx, nargin, [](uint64_t x, uint64_t y) { return x | y; });
}
int bi_bitxor(EngineContext* ctx, int nargin, int, uintptr_t) {
  return bit_binary(ctx, nargin, [](uint64_t x, uint64_t y) { return x ^ y; });
}

int bi_bitcmp(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(check_args(ctx, nargin, 1, 2));
  Bits a;
  TN_TRY(read_bits(ctx, nargin - 1, &a));
  if (nargin == 1) {
    if (a.dbl) return kWrongType;
    // In place, in the element's own width; a char or logical array becomes
    // the unsigned numbers it counts as, whose element type it already has.
    Result r{false, a.o.type, static_cast<uint8_t*>(a.o.re)};
    for (int64_t i = 0; i < a.o.count; ++i) r.put(i, ~a.at(i));
    if (!a.o.plain) a.o.desc[2] = kPayNumeric;
    return kOk;
  }
  NumOperand n;
  TN_TRY(read_numeric(ctx, 0, &n));
  if (!shapes_agree(a.o, n)) return kIncompatibleSize;
  for (int64_t i = 0; i < n.count; ++i) {
    const uint32_t w = uint32_t(int32_at(n, i));
    if (w < 1 || w > uint32_t(a.width)) return kArgOutOfRange;
  }
  return bits_elementwise(ctx, 2, [](const Bits& x, const NumOperand* args, int64_t i) -> uint64_t {
    const int w = int(uint32_t(int32_at(args[1], i)));
    return ~x.at(i) & (width_mask(x.width) >> (x.width - w));
  });
}

int bi_bitshift(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(check_args(ctx, nargin, 2, 3));
  Bits a;
  NumOperand k, n;
  TN_TRY(read_bits(ctx, nargin - 1, &a));
  TN_TRY(read_numeric(ctx, nargin - 2, &k));
  if (nargin == 3) TN_TRY(read_numeric(ctx, 0, &n));
  return bits_elementwise(ctx, nargin, [nargin](const Bits& x, const NumOperand* args, int64_t i) -> uint64_t {
    const uint64_t v = bits_shift(x.at(i), x.width, x.is_signed, int32_at(args[1], i));
    return nargin == 3 ? bits_low(v, x.width, int32_at(args[2], i)) : v;
  });
}

int bi_bitall(EngineContext* ctx, int nargin, int, uintptr_t data) {
  TN_TRY(check_args(ctx, nargin, 1, 2));
  Bits a;
  TN_TRY(read_bits(ctx, nargin - 1, &a));
  int dim = -1;
  if (nargin == 2) TN_TRY(arr::peek_dim_arg(ctx, 0, &dim));
  if (a.o.ndims > kMaxDims) return kArgOutOfRange;
  DimSplit sp{};
  shape_split_at_dim(a.o.ndims, a.o.dims, &dim, &sp);
  arr::ResultDims rd;
  TN_TRY(arr::reduced_dims(a.o.ndims, a.o.dims, dim, &rd));
  uint32_t dims[kMaxDims];
  for (int k = 0; k < rd.ndims; ++k) dims[k] = uint32_t(rd.dims[k]);
  Result r = result_of(a);
  TN_TRY(push_result(ctx, rd.ndims, dims, &r));
  TN_TRY(read_bits(ctx, nargin, &a));
  const bool all = data == kReduceAnd;
  for (int64_t o = 0; o < sp.outer; ++o)
    for (int64_t s = 0; s < sp.stride; ++s) {
      uint64_t acc = all ? width_mask(a.width) : 0;
      for (int64_t t = 0; t < sp.length; ++t) {
        const uint64_t v = a.at((o * sp.length + t) * sp.stride + s);
        acc = all ? acc & v : acc | v;
      }
      r.put(o * sp.stride + s, acc);
    }
  return stk_remove(ctx, 1, nargin);
}
