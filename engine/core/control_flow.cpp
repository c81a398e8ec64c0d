// Control-flow instructions that work on values: the switch test, the for
// steps over collections and packed ranges, range packing and the last value
// of a range. A range loop runs over exactly the colon operator's elements;
// its state lives in the item that the packed range was, on the stack below
// the loop variable, so nested loops and try handlers need nothing else.
#include "engine/core/control_flow.h"

#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/range.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

namespace {

// Kind-word bits above the kind itself. A collection counts its steps there
// (64 per step); a packed integer range marks a signed step argument; a loop
// state is a real row flagged as one.
constexpr uint32_t kKindMask = 63;
constexpr uint32_t kStepUnit = 64;
constexpr int kStepShift = 6;
constexpr uint32_t kPackedSignedStep = 128;
constexpr uint32_t kRangeStateOther = kRangeStateReal | 128;


// State words beyond those the interpreter reads (control_flow.h).
enum : int { kRsCurIm = 1, kRsStepIm = 3, kRsMode = 5 };
// Modes of a state flagged kRangeStateOther (integer states hold their element type).
constexpr uint64_t kModeComplex = 0x10000;
constexpr uint64_t kModeSingle = 0x20000;
constexpr uint64_t kModeSingleScalar = 0x30000;  // single range whose start equals its end

uint64_t word_u64(const uint64_t* w) { return tn::load<uint64_t>(w); }
double word_f64(const uint64_t* w) { return tn::ld_f64(w); }
void put_u64(uint64_t* w, uint64_t v) { tn::store<uint64_t>(w, v); }
void put_f64(uint64_t* w, double v) { tn::st_f64(w, v); }

// --- Reading scalars ---------------------------------------------------------

bool is_plain_matrix(const uint32_t* d) { return d[0] == kKindReal || d[0] == kKindComplex; }

// Elements of an item: a plain matrix's rows x columns, a typed array's count;
// -1 for anything else.
int64_t element_count(EngineContext* c, int depth) {
  const uint32_t* d = desc_at(c, depth);
  if (is_plain_matrix(d)) return int64_t(d[1]) * d[2];
  TypedView v{};
  if (typed_view(c, depth, &v)) return v.count;
  return -1;
}

// Element i of a typed array as a double (real part of complex types).
double typed_elem_double(const TypedView& v, int64_t i) {
  switch (v.type) {
    case kElemDouble:
    case kElemDoubleComplex: return tn::ld_f64(v.elems + 8 * i);
    case kElemSingle:
    case kElemSingleComplex: return double(tn::load<float>(v.elems + 4 * i));
    default: return double(load_int_element(v.elems, i, v.type));
  }
}

double typed_elem_imag(const TypedView& v, int64_t i) {
  if (v.type == kElemDoubleComplex) return tn::ld_f64(v.elems + 8 * (v.count + i));
  if (v.type == kElemSingleComplex) return double(tn::load<float>(v.elems + 4 * (v.count + i)));
  return 0;
}

// Element i of a typed array equals x (NaN equals nothing). Integers compare
// exactly, so a large 64-bit value is never matched by a nearby double.
bool typed_elem_equals(const TypedView& v, int64_t i, double x) {
  if (!elem_is_integer(v.type)) return typed_elem_double(v, i) == x && typed_elem_imag(v, i) == 0;
  constexpr double kTwo63 = 9223372036854775808.0;
  constexpr double kTwo64 = 18446744073709551616.0;
  if (!(x == std::floor(x)) || x < -kTwo63 || x >= kTwo64) return false;
  const __int128 xi = x >= kTwo63 ? (__int128(1) << 63) + tn::dtoi64(x - kTwo63) : __int128(tn::dtoi64(x));
  return load_int_element(v.elems, i, v.type) == xi;
}

// A 2-d header of one element type at the start of a payload.
struct PayloadArray {
  uint32_t type = 0;
  int64_t count = 0;
  const uint8_t* elems = nullptr;
};
bool payload_array(const uint64_t* data, uint32_t words, PayloadArray* out) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data);
  if (words < 2) return false;
  const uint32_t type = tn::ld_u32(p), ndims = tn::ld_u32(p + 4);
  if (ndims < 2 || typed_header_bytes(ndims) > uint64_t(words) * 8) return false;
  int64_t count = 1;
  for (uint32_t i = 0; i < ndims; ++i) count = tn::mul64(count, tn::ld_u32(p + 8 + 4 * i));
  const int64_t size = elem_size(type);
  if (typed_header_bytes(ndims) + count * size > int64_t(words) * 8) return false;
  *out = PayloadArray{type, count, p + typed_header_bytes(ndims)};
  return true;
}

bool chars_equal(const uint8_t* a, int64_t na, const uint8_t* b, int64_t nb) {
  return na == nb && std::memcmp(a, b, size_t(na) * 2) == 0;
}

}  // namespace

// --- switch --------------------------------------------------------------------

int op_case_match(EngineContext* ctx, bool* match) {
  *match = false;
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  // The switch value: a number, a char array, or an empty value that matches nothing.
  const uint32_t* sd = desc_at(ctx, 1);
  bool is_char = false, empty = false;
  double x = 0;
  TypedView sv{};
  if (desc_is_real_scalar(sd)) {
    x = tn::ld_f64(item_data(ctx, 1));
  } else if (is_plain_matrix(sd)) {
    if (int64_t(sd[1]) * sd[2] != 0) return kWrongType;
    empty = true;
  } else if (typed_view(ctx, 1, &sv)) {
    if (sv.subtype == kPayChar) {
      is_char = true;
    } else if (sv.count == 0) {
      empty = true;
    } else if (sv.ndims != 2 || sv.dims[0] != 1 || sv.dims[1] != 1) {
      return kBadSize;
    } else if (sv.size == 0) {
      return kWrongType;
    } else {
      x = typed_elem_double(sv, 0);
    }
  } else {
    return kWrongType;
  }

  const uint32_t* cd = desc_at(ctx, 0);
  bool m = false;
  TypedView cv{};
  if (cd[0] == kKindContainer && cd[2] == kContList) {
    int32_t count = 0;
    uint64_t* e = nullptr;
    TN_TRY(stk_get_container(ctx, 0, &count, &e));
    for (int32_t k = 0; k < count && !m; ++k, e += elem_total_words(e)) {
      const uint32_t kind = elem_kind(e), a = elem_word(e, 1), b = elem_word(e, 2);
      PayloadArray pa{};
      if (is_char) {
        if (kind != kKindPayload || b != kPayChar || !payload_array(elem_data(e), a, &pa)) return kWrongType;
        m = chars_equal(sv.elems, sv.count, pa.elems, pa.count);
      } else if (kind == kKindReal) {
        if (int64_t(a) * b != 1) return kBadSize;
        m = !empty && tn::ld_f64(elem_data(e)) == x;
      } else if (kind == kKindPayload && (b == kPayNumeric || b == kPayLogical)) {
        return kNotSupported;
      } else {
        return kWrongType;
      }
    }
  } else if (!is_char && typed_view(ctx, 0, &cv)) {
    for (int64_t i = 0; i < cv.count && !m && !empty; ++i) m = typed_elem_equals(cv, i, x);
  } else if (!is_char && is_plain_matrix(cd)) {
    const int64_t n = int64_t(cd[1]) * cd[2];
    const uint64_t* p = item_data(ctx, 0);
    for (int64_t i = 0; i < n && !m && !empty; ++i)
      m = tn::ld_f64(p + i) == x && (cd[0] == kKindReal || tn::ld_f64(p + n + i) == 0);
  } else if (is_char && typed_view(ctx, 0, &cv) && cv.subtype == kPayChar) {
    m = chars_equal(sv.elems, sv.count, cv.elems, cv.count);
  } else {
    return kWrongType;
  }
  stk_drop(ctx);
  *match = m;
  return kOk;
}

// --- for over a collection ---------------------------------------------------------

namespace {

// Pushes column k (from 0) of the typed array at depth 0: subscripts (:, k, :, ...).
int push_column_slab(EngineContext* c, const TypedView& v, int64_t k) {
  const int64_t rows = v.dims[0], cols = v.dims[1];
  int64_t pages = 1;
  for (uint32_t i = 2; i < v.ndims; ++i) pages = tn::mul64(pages, v.dims[i]);
  const int64_t out_count = rows * pages;
  const int64_t parts = v.is_complex ? 2 : 1;
  const int64_t hdr = typed_header_bytes(v.ndims);
  const int64_t bytes = hdr + out_count * v.size * parts;
  if (bytes > int64_t(UINT32_MAX)) return kObjectTooLarge;
  void* out = nullptr;
  TN_TRY(stk_push_raw(c, v.subtype, uint32_t(bytes), &out));
  // The source moved one item down; its data did not move.
  TypedView src{};
  typed_view(c, 1, &src);
  uint8_t* o = static_cast<uint8_t*>(out);
  std::memcpy(o, item_data(c, 1), size_t(hdr));
  tn::st_u32(o + 8 + 4, 1);  // dims[1] = 1
  uint8_t* dst = o + hdr;
  for (int64_t part = 0; part < parts; ++part) {
    const uint8_t* from = src.elems + part * src.count * v.size;
    for (int64_t r = 0; r < rows * pages; ++r) {
      std::memcpy(dst, from + (r * cols + k) * v.size, v.size);
      dst += v.size;
    }
  }
  return kOk;
}

}  // namespace

int op_for_next(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  uint32_t* d = desc_at(ctx, 0);
  const uint32_t counted = d[0] + kStepUnit;
  const uint32_t kind = counted & kKindMask;
  const bool typed = kind == kKindPayload && d[2] >= kPayNumeric && d[2] <= kPayLogical;
  if (kind != kKindReal && kind != kKindComplex && !typed && kind != kKindContainer) return kWrongArgType;
  const int64_t k = counted >> kStepShift;
  const int items = stk_item_count(ctx);

  // The helpers see the collection's plain kind; the count goes back after.
  d[0] = kind;
  int status = kOk;
  if (kind == kKindReal || kind == kKindComplex) {
    const int32_t rows = int32_t(d[1]), cols = int32_t(d[2]);
    if (k > cols) {
      status = kLoopExhausted;
    } else {
      double* re = nullptr;
      double* im = nullptr;
      status = stk_push_matrix(ctx, rows, 1, &re, kind == kKindComplex ? &im : nullptr);
      if (status == kOk) {
        const double* src = reinterpret_cast<const double*>(item_data(ctx, 1));
        const int64_t n = int64_t(rows) * cols;
        for (int32_t i = 0; i < rows; ++i) {
          re[i] = tn::ld_f64(src + int64_t(i) * cols + (k - 1));
          if (im) im[i] = tn::ld_f64(src + n + int64_t(i) * cols + (k - 1));
        }
      }
    }
  } else if (typed) {
    TypedView v{};
    if (!typed_view(ctx, 0, &v) || v.size == 0) status = kWrongArgType;
    else if (k > v.dims[1]) status = kLoopExhausted;
    else status = push_column_slab(ctx, v, k - 1);
  } else if (d[2] == kContList) {
    int32_t count = 0;
    status = stk_get_container(ctx, 0, &count, nullptr);
    if (status == kOk) status = k > count ? kLoopExhausted : stk_list_get(ctx, 0, int32_t(k));
  } else {
    // Cells, structures and objects: the column slab through indexing, on a
    // copy, with the second of ndims subscripts the only one given.
    int ndims = 2;
    const uint32_t* dims = nullptr;
    if (d[2] == kContCell) stk_get_container_dims(ctx, 0, &ndims, &dims, nullptr, nullptr);
    status = stk_dup(ctx, 0, 1);
    if (status == kOk) status = stk_push_real(ctx, double(k));
    if (status == kOk) {
      const OpHandler h = interp_op_handler(kOpIndexRead);
      const int colon_mask = ((1 << ndims) - 1) & ~2;
      int32_t caller = ctx->frame >= 0 ? int32_t(frame_words(ctx, ctx->frame)[kFwFunctionId]) : -1;
      status = h.fn(ctx, h.selector, ndims, colon_mask, caller);
    }
    if (status != kOk) {
      const int extra = stk_item_count(ctx) - items;
      if (extra > 0) stk_remove(ctx, 0, extra);
    }
  }
  const int depth = stk_item_count(ctx) - items;  // 1 when an element was pushed
  desc_at(ctx, depth)[0] = counted;
  return status;
}

// --- Ranges ------------------------------------------------------------------------

namespace {

// A packed range as read from its row.
struct PackedRange {
  enum Cls { kReal, kComplex, kSingle, kInt } cls = kReal;
  int n = 0;                   // 2 or 3 values
  uint32_t type = 0;           // integer element type
  bool signed_step = false;    // integer range: the step argument was of a signed class
  double re[3] = {}, im[3] = {};
  uint64_t bits[3] = {};       // integer values, zero-extended from the element width
};

uint64_t width_mask(uint32_t size) { return size >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * size)) - 1; }

int read_packed(EngineContext* c, PackedRange* r) {
  const uint32_t* d = desc_at(c, 0);
  if (is_plain_matrix(d)) {
    if (d[1] != 1 || (d[2] != 2 && d[2] != 3)) return kWrongType;
    r->n = int(d[2]);
    const uint64_t* p = item_data(c, 0);
    for (int i = 0; i < r->n; ++i) {
      r->re[i] = word_f64(p + i);
      r->im[i] = d[0] == kKindComplex ? word_f64(p + r->n + i) : 0;
    }
    r->cls = d[0] == kKindComplex ? PackedRange::kComplex : PackedRange::kReal;
    return kOk;
  }
  const uint32_t flags = d[0] & ~kKindMask;
  uint32_t* md = desc_at(c, 0);
  md[0] &= kKindMask;  // typed_view reads the plain kind
  TypedView v{};
  const bool ok = typed_view(c, 0, &v);
  md[0] |= flags;
  if (!ok || v.subtype != kPayNumeric || v.size == 0 || (v.count != 2 && v.count != 3)) return kWrongType;
  r->n = int(v.count);
  if (elem_is_integer(v.type)) {
    r->cls = PackedRange::kInt;
    r->type = v.type;
    r->signed_step = (flags & kPackedSignedStep) != 0;
    for (int i = 0; i < r->n; ++i) {
      uint64_t b = 0;
      std::memcpy(&b, v.elems + i * v.size, v.size);
      r->bits[i] = b;
    }
    return kOk;
  }
  for (int i = 0; i < r->n; ++i) {
    r->re[i] = typed_elem_double(v, i);
    r->im[i] = typed_elem_imag(v, i);
  }
  const bool single = v.type == kElemSingle || v.type == kElemSingleComplex;
  r->cls = single ? PackedRange::kSingle : (v.is_complex ? PackedRange::kComplex : PackedRange::kReal);
  return kOk;
}

// The loop state of a packed range, in kRangeStateWords words.
struct RangeState {
  uint32_t kind = kRangeStateReal;
  uint64_t w[kRangeStateWords] = {};
};

// The loop state of a packed range: the colon operator's count (range.h) and
// its first element. A zero step runs nothing, whatever the colon operator
// makes of it.
int plan_range(const PackedRange& r, RangeState* s) {
  const int last = r.n - 1;
  if (r.cls == PackedRange::kInt) {
    const uint32_t size = elem_size(r.type);
    const uint64_t step_bits = (r.n == 3 ? r.bits[1] : 1) & width_mask(size);
    uint64_t n = 0;
    if (step_bits != 0) TN_TRY(range_int_count(r.type, r.bits[0], step_bits, r.bits[last], r.signed_step, &n));
    s->kind = kRangeStateOther;
    put_u64(&s->w[kRsCur], r.bits[0] & width_mask(size));
    put_u64(&s->w[kRsStep], step_bits);
    put_u64(&s->w[kRsLeft], n);
    put_u64(&s->w[kRsMode], r.type);
    return kOk;
  }
  const double start = r.re[0], step = r.n == 3 ? r.re[1] : 1, end = r.re[last];
  const double start_im = r.im[0], step_im = r.n == 3 ? r.im[1] : 0;
  put_f64(&s->w[kRsCur], start);
  put_f64(&s->w[kRsCurIm], start_im);
  put_f64(&s->w[kRsStep], step);
  put_f64(&s->w[kRsStepIm], step_im);
  const bool zero_step = step == 0 && step_im == 0;
  if (r.cls != PackedRange::kSingle && start_im == 0 && step_im == 0) {
    // A real start and step give the real range to the real part of the end,
    // stepped without a limit on the count.
    put_u64(&s->w[kRsLeft], range_real_loop_count(start, step, end));
    return kOk;
  }
  // Complex and single ranges: points along the direction from start to end.
  s->kind = kRangeStateOther;
  const ComplexRange cr{start, start_im, step, step_im, end, r.im[last]};
  int64_t n = 0;
  if (!zero_step) TN_TRY(range_complex_count(cr, kRangeComplexLimit, &n));
  uint64_t mode = r.cls == PackedRange::kSingle ? kModeSingle : kModeComplex;
  if (mode == kModeSingle && start == end && start_im == r.im[last]) mode = kModeSingleScalar;
  put_u64(&s->w[kRsLeft], uint64_t(n));
  put_u64(&s->w[kRsMode], mode);
  return kOk;
}

// Pushes the state's current value in the range's class.
int push_state_value(EngineContext* c, uint32_t kind, const uint64_t* w) {
  if (kind == kRangeStateReal) return stk_push_real(c, word_f64(w + kRsCur));
  const uint64_t mode = word_u64(w + kRsMode);
  const double re = word_f64(w + kRsCur), im = word_f64(w + kRsCurIm);
  if (mode == kModeComplex) {
    if (!desc_room(c)) return kStackOverflow;
    if (data_free_words(c) <= 2) return kDataStackOverflow;
    uint64_t* p = stk_claim(c, kKindComplex, 1, 1, 2);
    put_f64(p, re);
    put_f64(p + 1, im);
    return kOk;
  }
  if (mode == kModeSingle || mode == kModeSingleScalar) {
    const int32_t one[2] = {1, 1};
    float* fr = nullptr;
    float* fi = nullptr;
    const bool cplx = mode == kModeSingle || im != 0;
    TN_TRY(stk_push_single_nd(c, 2, one, &fr, cplx ? &fi : nullptr));
    *fr = float(re);
    if (fi) *fi = float(im);
    return kOk;
  }
  const uint32_t type = uint32_t(mode);
  const int32_t one[2] = {1, 1};
  void* e = nullptr;
  TN_TRY(stk_push_typed_array(c, 2, one, int(elem_size(type)), (type & kElemUnsigned) ? 1 : 0, &e));
  const uint64_t bits = word_u64(w + kRsCur);
  std::memcpy(e, &bits, elem_size(type));
  return kOk;
}

// Moves the state past the value just taken.
void advance_state(uint32_t kind, uint64_t* w) {
  put_u64(w + kRsLeft, word_u64(w + kRsLeft) - 1);
  if (kind == kRangeStateOther && word_u64(w + kRsMode) < kModeComplex) {
    const uint32_t type = uint32_t(word_u64(w + kRsMode));
    const uint64_t mask = width_mask(elem_size(type));
    put_u64(w + kRsCur, (word_u64(w + kRsCur) + word_u64(w + kRsStep)) & mask);
    return;
  }
  put_f64(w + kRsCur, word_f64(w + kRsCur) + word_f64(w + kRsStep));
  put_f64(w + kRsCurIm, word_f64(w + kRsCurIm) + word_f64(w + kRsStepIm));
}

bool state_has_value(const uint64_t* w) { return word_u64(w + kRsLeft) != 0; }

}  // namespace

int op_for_range_next(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  uint32_t* d = desc_at(ctx, 0);
  if ((d[0] != kRangeStateReal && d[0] != kRangeStateOther) || d[1] != 1 || d[2] != kRangeStateWords) {
    // First step: the packed range becomes the loop state.
    PackedRange r;
    TN_TRY(read_packed(ctx, &r));
    RangeState s;
    TN_TRY(plan_range(r, &s));
    const int64_t grow = int64_t(kRangeStateWords) - desc_data_words(d);
    if (grow > data_free_words(ctx)) return kDataStackOverflow;
    stk_drop(ctx);
    uint64_t* p = stk_claim(ctx, s.kind, 1, kRangeStateWords, kRangeStateWords);
    std::memcpy(p, s.w, sizeof s.w);
    d = desc_at(ctx, 0);
  }
  uint64_t* w = item_data(ctx, 0);
  if (!state_has_value(w)) {
    put_u64(w + kRsLeft, 0);
    return kLoopExhausted;
  }
  TN_TRY(push_state_value(ctx, d[0], w));
  advance_state(d[0], w);  // the state's data did not move with the push
  return kOk;
}

int op_range_final(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  PackedRange r;
  TN_TRY(read_packed(ctx, &r));
  RangeState s;
  TN_TRY(plan_range(r, &s));
  uint64_t* w = s.w;
  uint64_t left = word_u64(w + kRsLeft);
  if (!state_has_value(w)) {
    TN_TRY(stk_push_no_value(ctx));
    return stk_remove(ctx, 1, 1);
  }
  if (s.kind == kRangeStateOther && word_u64(w + kRsMode) < kModeComplex) {
    // Integer ranges: the last element in closed form, wrapping in the type.
    const uint32_t type = uint32_t(word_u64(w + kRsMode));
    const uint64_t last = word_u64(w + kRsCur) + (left - 1) * word_u64(w + kRsStep);
    put_u64(w + kRsCur, last & width_mask(elem_size(type)));
  } else {
    // The running sum, exactly as the loop forms it.
    for (;;) {
      RangeState next = s;
      advance_state(next.kind, next.w);
      if (!state_has_value(next.w)) break;
      s = next;
    }
  }
  TN_TRY(push_state_value(ctx, s.kind, s.w));
  return stk_remove(ctx, 1, 1);
}

int op_range_pack(EngineContext* ctx, int n) {
  if (n != 2 && n != 3) return kBadArgument;
  if (!stk_has_item(ctx, n - 1)) return kBadArgument;
  bool all_real = true, all_double = true;
  for (int i = 0; i < n; ++i) {
    const uint32_t* d = desc_at(ctx, i);
    if (element_count(ctx, i) != 1) return kNonScalarArg;
    if (d[0] != kKindReal) all_real = false;
    if (!is_plain_matrix(d)) all_double = false;
  }
  if (all_real) {
    // The values already lie side by side: one descriptor replaces n.
    ctx->desc_top -= 3 * (n - 1);
    uint32_t* d = desc_at(ctx, 0);
    d[0] = kKindReal;
    d[1] = 1;
    d[2] = uint32_t(n);
    return kOk;
  }
  if (all_double) {
    double vals[6] = {};
    for (int i = 0; i < n; ++i) {
      const uint32_t* d = desc_at(ctx, n - 1 - i);
      const uint64_t* p = item_data(ctx, n - 1 - i);
      vals[i] = word_f64(p);
      vals[3 + i] = d[0] == kKindComplex ? word_f64(p + 1) : 0;
    }
    double* re = nullptr;
    double* im = nullptr;
    TN_TRY(stk_push_matrix(ctx, 1, n, &re, &im));
    for (int i = 0; i < n; ++i) {
      re[i] = vals[i];
      im[i] = vals[3 + i];
    }
    return stk_remove(ctx, 1, n);
  }
  // The step's class before promotion decides how an unsigned range counts.
  bool signed_step = false;
  if (n == 3) {
    TypedView sv{};
    signed_step = typed_view(ctx, 1, &sv) && sv.subtype == kPayNumeric && elem_is_integer(sv.type) &&
                  !(sv.type & kElemUnsigned);
  }
  const int promoted = stk_promote_args(ctx, n);
  if (promoted != kOk) return promoted == kWrongType ? kWrongArgType : promoted;
  if (is_plain_matrix(desc_at(ctx, 0))) return op_range_pack(ctx, n);  // promoted to double
  TypedView v{};
  if (!typed_view(ctx, 0, &v) || v.size == 0) return kWrongArgType;
  const int64_t parts = v.is_complex ? 2 : 1;
  const int32_t dims[2] = {1, n};
  const uint32_t hdr = typed_header_bytes(2);
  void* out = nullptr;
  TN_TRY(stk_push_raw(ctx, kPayNumeric, uint32_t(hdr + n * v.size * parts), &out));
  uint8_t* o = static_cast<uint8_t*>(out);
  tn::st_u32(o, v.type);
  tn::st_u32(o + 4, 2);
  tn::st_u32(o + 8, uint32_t(dims[0]));
  tn::st_u32(o + 12, uint32_t(dims[1]));
  for (int i = 0; i < n; ++i) {
    TypedView e{};
    typed_view(ctx, n - i, &e);
    for (int64_t part = 0; part < parts; ++part)
      std::memcpy(o + hdr + (part * n + i) * v.size, e.elems + part * v.size, v.size);
  }
  if (signed_step && (v.type & kElemUnsigned)) desc_at(ctx, 0)[0] |= kPackedSignedStep;
  return stk_remove(ctx, 1, n);
}
