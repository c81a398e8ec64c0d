// Array views, storage-order shape arithmetic, results pushed in their
// source's class, and containers handled through reference arrays. Every
// size is formed in 64 bits before it is tested against a limit.
#include "engine/lib/array_shape.h"

#include <cstring>
#include <limits>

#include "engine/core/checked.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/container_access.h"

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

}  // namespace

bool array_arg(EngineContext* ctx, int depth, ArrayArg* out) {
  *out = ArrayArg{};
  if (!stk_has_item(ctx, depth)) return false;
  uint32_t* d = desc_at(ctx, depth);
  if (d[0] == kKindReal || d[0] == kKindComplex) {
    out->cls = ArrayArg::kDouble;
    out->plain = true;
    out->cplx = d[0] == kKindComplex;
    out->type = out->cplx ? kElemDoubleComplex : kElemDouble;
    out->esize = sizeof(double);
    out->ndims = 2;
    out->dims = d + 1;
    out->count = static_cast<int64_t>(d[1]) * d[2];
    out->re = reinterpret_cast<uint8_t*>(item_data(ctx, depth));
    out->im = out->cplx ? out->re + out->count * sizeof(double) : nullptr;
    return true;
  }
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.size == 0 || t.ndims < 2) return false;
  out->subtype = t.subtype;
  out->type = t.type;
  out->esize = t.size;
  out->cplx = t.is_complex;
  out->ndims = static_cast<int>(t.ndims);
  out->dims = t.dims;
  out->count = t.count;
  out->re = t.elems;
  out->im = t.is_complex ? t.elems + t.count * t.size : nullptr;
  if (t.type == kElemDouble || t.type == kElemDoubleComplex) {
    out->cls = ArrayArg::kDouble;
  } else if (t.type == kElemSingle || t.type == kElemSingleComplex) {
    out->cls = ArrayArg::kSingle;
  } else if (elem_is_integer(t.type)) {
    out->cls = ArrayArg::kInt;
  } else {
    return false;
  }
  return true;
}

bool is_plain_container(EngineContext* ctx, int depth) {
  if (!stk_has_item(ctx, depth)) return false;
  const uint32_t* d = desc_at(ctx, depth);
  return d[0] == kKindContainer && (d[2] == kContList || d[2] == kContStruct || d[2] == kContCell);
}

int64_t Shape::count() const {
  int64_t n = 1;
  for (int k = 0; k < ndims; ++k) n = tn::mul64(n, d[k]);
  return n;
}

Shape shape_of(const ArrayArg& a) {
  Shape s;
  s.ndims = a.ndims < kShapeMaxDims ? a.ndims : kShapeMaxDims;
  for (int k = 0; k < s.ndims; ++k) s.d[k] = a.dims[k];
  return s;
}

AxisSplit axis_split(const Shape& s, int axis) {
  AxisSplit out{1, s.dim(axis), 1};
  if (axis == 0) {
    for (int k = 2; k < s.ndims; ++k) out.outer = tn::mul64(out.outer, s.d[k]);
    out.inner = s.dim(1);
  } else if (axis == 1) {
    for (int k = 2; k < s.ndims; ++k) out.outer = tn::mul64(out.outer, s.d[k]);
    out.outer = tn::mul64(out.outer, s.dim(0));
  } else {
    for (int k = axis + 1; k < s.ndims; ++k) out.outer = tn::mul64(out.outer, s.d[k]);
    out.inner = tn::mul64(s.dim(0), s.dim(1));
    for (int k = 2; k < axis && k < s.ndims; ++k) out.inner = tn::mul64(out.inner, s.d[k]);
  }
  return out;
}

int64_t linear_from_subs(const Shape& s, const int64_t* subs, int n) {
  auto sub = [&](int k) { return k < n ? subs[k] : 0; };
  int64_t page = 0;
  for (int k = (n > s.ndims ? n : s.ndims) - 1; k >= 2; --k) page = page * s.dim(k) + sub(k);
  return (page * s.dim(0) + sub(0)) * s.dim(1) + sub(1);
}

int push_like(EngineContext* ctx, const ArrayArg& proto, const Shape& shape, bool cplx,
              uint8_t** re, uint8_t** im) {
  *re = *im = nullptr;
  int32_t dims[kShapeMaxDims];
  for (int k = 0; k < shape.ndims; ++k) {
    if (shape.d[k] > kInt32Max) return kObjectTooLarge;
    dims[k] = static_cast<int32_t>(shape.d[k] < 0 ? 0 : shape.d[k]);
  }
  const int nd = shape.ndims;
  cplx = cplx && shape.count() > 0;
  switch (proto.cls) {
    case ArrayArg::kDouble: {
      double *r = nullptr, *i = nullptr;
      TN_TRY(stk_push_double_nd(ctx, nd, dims, &r, cplx ? &i : nullptr));
      *re = reinterpret_cast<uint8_t*>(r);
      *im = reinterpret_cast<uint8_t*>(i);
      return kOk;
    }
    case ArrayArg::kSingle: {
      float *r = nullptr, *i = nullptr;
      TN_TRY(stk_push_single_nd(ctx, nd, dims, &r, cplx ? &i : nullptr));
      *re = reinterpret_cast<uint8_t*>(r);
      *im = reinterpret_cast<uint8_t*>(i);
      return kOk;
    }
    case ArrayArg::kInt:
      break;
  }
  void* data = nullptr;
  if (proto.is_char()) {
    uint16_t* c = nullptr;
    TN_TRY(stk_push_char_array(ctx, nd, dims, &c));
    data = c;
  } else if (proto.is_logical()) {
    uint8_t* l = nullptr;
    TN_TRY(stk_push_logical_array(ctx, nd, dims, &l));
    data = l;
  } else {
    TN_TRY(stk_push_typed_array(ctx, nd, dims, static_cast<int>(proto.esize),
                                (proto.type & kElemUnsigned) ? 1 : 0, &data));
  }
  *re = static_cast<uint8_t*>(data);
  return kOk;
}

double element_as_double(const ArrayArg& a, int64_t k) {
  switch (a.cls) {
    case ArrayArg::kDouble: return tn::ld_f64(a.re + 8 * k);
    case ArrayArg::kSingle: return tn::load<float>(a.re + 4 * k);
    case ArrayArg::kInt: break;
  }
  return static_cast<double>(load_int_element(a.re, k, a.type));
}

int read_int_vector(EngineContext* ctx, int depth, int64_t* out, int max, int* n) {
  ArrayArg a;
  if (!array_arg(ctx, depth, &a)) return kWrongArgType;
  if (a.count > max) return kArgOutOfRange;
  for (int64_t k = 0; k < a.count; ++k) {
    if (a.cls == ArrayArg::kInt) {
      const __int128 v = load_int_element(a.re, k, a.type);
      out[k] = v > std::numeric_limits<int64_t>::max() ? std::numeric_limits<int64_t>::max()
                                                       : static_cast<int64_t>(v);
    } else {
      out[k] = tn::dtoi64(element_as_double(a, k));
    }
  }
  *n = static_cast<int>(a.count);
  return kOk;
}

int remove_under_top(EngineContext* ctx, int count) { return stk_remove(ctx, 1, count); }

int wrap_in_list(EngineContext* ctx, int depth) {
  TN_TRY(stk_move(ctx, depth + 1, 1));  // the item to the top
  const int status = stk_make_container(ctx, 1, 0, nullptr, 0);
  const int back = stk_move(ctx, depth + 1, depth);  // and back to its place, wrapped or not
  return status != kOk ? status : back;
}

void unwrap_list(EngineContext* ctx, int depth) {
  // The one element moves down over its own header, in place: this needs no
  // room, so it cannot fail where the wrapping's own failure is undone.
  if (stk_move(ctx, depth + 1, 1) != kOk) return;
  uint32_t* d = desc_at(ctx, 0);
  uint64_t* p = item_data(ctx, 0);
  if (d[0] == kKindContainer && desc_data_words(d) == elem_total_words(p)) {
    const uint32_t words = elem_data_words(p);
    d[0] = elem_word(p, 0);
    d[1] = elem_word(p, 1);
    d[2] = elem_word(p, 2);
    std::memmove(p, p + kElemHeaderWords, size_t(words) * 8);
    ctx->data_top -= int32_t(kElemHeaderWords);
  }
  (void)stk_move(ctx, depth + 1, depth);
}

void drop_to(EngineContext* ctx, int32_t desc_top) {
  while (ctx->desc_top > desc_top) stk_drop(ctx);
}

int refs_push(EngineContext* ctx, int depth) {
  int nd = 0;
  const uint32_t* dims = nullptr;
  int32_t count = 0;
  uint64_t* first = nullptr;
  TN_TRY(stk_get_container_dims(ctx, depth, &nd, &dims, &count, &first));
  int32_t shape[kShapeMaxDims];
  if (dims) {
    if (nd > kShapeMaxDims) return TN_ILLEGAL();
    for (int k = 0; k < nd; ++k) shape[k] = static_cast<int32_t>(dims[k]);
  } else {
    nd = 2;
    shape[0] = count > 0 ? 1 : 0;
    shape[1] = count;
  }
  const int64_t base = first - data_words(ctx);
  void* data = nullptr;
  TN_TRY(stk_push_typed_array(ctx, nd, shape, 4, 0, &data));
  // The elements did not move: the push went above them.
  auto* refs = static_cast<uint8_t*>(data);
  clib::Walk w{data_words(ctx) + base, static_cast<int64_t>(ctx->data_top) - base};
  for (int32_t i = 0; i < count && !w.done(); ++i, w.next())
    tn::st_i32(refs + 4 * i, static_cast<int32_t>(w.at - data_words(ctx)));
  return kOk;
}

int refs_build(EngineContext* ctx, bool as_list) {
  ArrayArg r;
  if (!array_arg(ctx, 0, &r) || r.type != kElemI32) return TN_ILLEGAL();
  const bool list = as_list && r.ndims == 2 && r.dims[0] <= 1;
  int64_t words = 0;
  for (int64_t i = 0; i < r.count; ++i) {
    const int32_t at = tn::ld_i32(r.re + 4 * i);
    if (at < 0 || at >= ctx->data_top) return TN_ILLEGAL();
    words += elem_total_words(data_words(ctx) + at);
  }
  int k = r.ndims;
  // A cell array starts with its 1 x k int32 size vector.
  const int64_t size_words = (typed_header_bytes(2) + 4 * static_cast<int64_t>(k) + 7) / 8;
  if (!list) words += kElemHeaderWords + size_words;
  if (!desc_room(ctx)) return kStackOverflow;
  if (words >= data_free_words(ctx) || words > std::numeric_limits<uint32_t>::max())
    return kDataStackOverflow;
  const uint32_t* dims = r.dims;
  uint8_t* refs = r.re;
  uint64_t* p = stk_claim(ctx, kKindContainer, static_cast<uint32_t>(words),
                          list ? kContList : kContCell, static_cast<uint32_t>(words));
  if (!list) {
    elem_set_header(p, kKindPayload, static_cast<uint32_t>(size_words), kPayNumeric, 0);
    auto* v = reinterpret_cast<uint8_t*>(elem_data(p));
    std::memset(v, 0, static_cast<size_t>(size_words) * 8);
    tn::st_u32(v, kElemI32);
    tn::st_u32(v + 4, 2);
    tn::st_u32(v + 8, 1);
    tn::st_u32(v + 12, static_cast<uint32_t>(k));
    for (int i = 0; i < k; ++i) tn::st_u32(v + typed_header_bytes(2) + 4 * i, dims[i]);
    p += kElemHeaderWords + size_words;
  }
  for (int64_t i = 0; i < r.count; ++i) {
    const uint64_t* e = data_words(ctx) + tn::ld_i32(refs + 4 * i);
    const uint32_t w = elem_total_words(e);
    std::memcpy(p, e, static_cast<size_t>(w) * 8);
    p += w;
  }
  return kOk;
}
