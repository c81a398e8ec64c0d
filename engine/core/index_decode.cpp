// Shape arithmetic, array views and the subscript decoder. The decoder only
// reads the stack (sorting rewrites subscript values in place): it checks
// every subscript against the extents, computes counts and the grown shape in
// 64 bits, and leaves the iteration to IndexWalk.
#include <algorithm>
#include <cmath>
#include <bit>

#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/index_walk.h"
#include "engine/core/indexing.h"
#include "engine/core/value_stack.h"

namespace {

constexpr uint32_t kZeroDims[2] = {0, 0};
constexpr double kListIndexLimit = 2147483647.0;

uint32_t low_bits(int n) { return n >= 32 ? ~0u : (1u << n) - 1; }

int64_t dims_product(int ndims, const uint32_t* dims) {
  int64_t n = 1;
  for (int k = 0; k < ndims; ++k) n = tn::mul64(n, dims[k]);
  return n;
}

bool is_function_value(const uint32_t* h) {
  return h[0] == kKindPayload && (h[2] == kPayInline || h[2] == kPayFuncRef);
}
bool is_object(const uint32_t* h) {
  return (h[0] == kKindContainer && h[2] != kContList && h[2] != kContStruct && h[2] != kContCell) ||
         (h[0] == kKindPayload && h[2] >= kPayFirstClass);
}

// The header of the item at depth, or of the value a reference there points at.
const uint32_t* indexed_header(EngineContext* ctx, int depth) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindReference) return d;
  const uint32_t* r = reinterpret_cast<const uint32_t*>(item_data(ctx, depth));
  const int64_t at = int64_t(int32_t(r[3])) + int32_t(r[4]);
  if (at < 1 || at + 2 > ctx->heap_size) return d;
  return reinterpret_cast<const uint32_t*>(heap_words(ctx) + at);
}

// A subscript item as the decoder sees it.
struct SubItem {
  bool logical = false;
  const int32_t* values = nullptr;
  const uint8_t* mask = nullptr;
  int64_t count = 0;
  int ndims = 2;
  const uint32_t* dims = kZeroDims;
};

int sub_item(EngineContext* ctx, int depth, SubItem* s) {
  ArrayView v;
  if (!array_view(desc_at(ctx, depth), item_data(ctx, depth), &v)) return kBadIndexType;
  s->count = v.count;
  s->ndims = v.ndims;
  s->dims = v.dims;
  if (v.subtype == kPayLogical && v.esize == 1) {
    s->logical = true;
    s->mask = v.re;
    return kOk;
  }
  if (v.cls == ElemClass::Int && v.type == kElemI32) {
    s->values = reinterpret_cast<const int32_t*>(v.re);
    return kOk;
  }
  return kBadIndexType;
}

int64_t count_set(const uint8_t* mask, int64_t n) {
  int64_t c = 0;
  for (int64_t i = 0; i < n; ++i) c += mask[i] != 0;
  return c;
}

// Checks the values of a number subscript against extent e: each at least 1;
// above e only with growth, *largest then receiving the largest value.
int check_values(const SubItem& s, int64_t e, bool growth, int64_t* largest) {
  int64_t big = 0;
  for (int64_t i = 0; i < s.count; ++i) {
    const int64_t v = s.values[i];
    if (v < 1) return kIndexOutOfRange;
    if (v > big) big = v;
  }
  if (big > e && !growth) return kIndexOutOfRange;
  *largest = big;
  return kOk;
}

// Sorts a number subscript's values in place and keeps each once.
int64_t sort_unique(const int32_t* values, int64_t n) {
  int32_t* v = const_cast<int32_t*>(values);
  std::sort(v, v + n);
  return std::unique(v, v + n) - v;
}

}  // namespace

int64_t index_linear_from_subs(int ndims, const uint32_t* dims, int nsubs, const int64_t* subs) {
  if (nsubs <= 0) return 0;
  if (nsubs == 1) return subs[0];
  if (ndims < 2) return subs[0] + subs[1];
  int64_t page = 0;
  for (int k = nsubs - 1; k >= 2; --k) page = page * dim_at(ndims, dims, k) + subs[k];
  return (page * dims[0] + subs[0]) * dims[1] + subs[1];
}

void index_subs_from_linear(int ndims, const uint32_t* dims, int64_t linear, int64_t* subs) {
  if (ndims <= 1) {
    subs[0] = linear;
    return;
  }
  const int64_t d1 = dims[1] ? dims[1] : 1;
  const int64_t d0 = dims[0] ? dims[0] : 1;
  subs[1] = linear % d1;
  int64_t q = linear / d1;
  subs[0] = q % d0;
  q /= d0;
  for (int k = 2; k < ndims; ++k) {
    const int64_t dk = dims[k] ? dims[k] : 1;
    subs[k] = q % dk;
    q /= dk;
  }
}

void shape_split_at_dim(int ndims, const uint32_t* dims, int* dim, DimSplit* out) {
  if (*dim < 0) {
    *dim = 0;
    for (int k = 0; k < ndims; ++k)
      if (dims[k] > 1) {
        *dim = k;
        break;
      }
  }
  const int d = *dim;
  // Storage order, innermost first: 1, 0, 2, 3, ...
  auto rank = [](int k) { return k == 1 ? 0 : k == 0 ? 1 : k; };
  int64_t stride = 1, outer = 1;
  const int n = std::max(ndims, 2);
  for (int k = 0; k < n; ++k) {
    if (k == d) continue;
    const int64_t s = dim_at(ndims, dims, k);
    if (rank(k) < rank(d))
      stride *= s;
    else
      outer *= s;
  }
  out->stride = stride;
  out->outer = outer;
  out->length = dim_at(ndims, dims, d);
}

bool array_view(const uint32_t* h, uint64_t* data, ArrayView* v) {
  if (h[0] == kKindReal || h[0] == kKindComplex) {
    v->cls = ElemClass::Double;
    v->cplx = h[0] == kKindComplex;
    v->subtype = 0;
    v->type = v->cplx ? kElemDoubleComplex : kElemDouble;
    v->esize = 8;
    v->ndims = 2;
    v->dims = h + 1;
    v->count = int64_t(h[1]) * h[2];
    v->re = reinterpret_cast<uint8_t*>(data);
    v->im = v->cplx ? v->re + 8 * v->count : nullptr;
    return true;
  }
  if (h[0] != kKindPayload || h[2] < kPayNumeric || h[2] > kPayLogical) return false;
  const int64_t bytes = int64_t(h[1]) * 8;
  auto* p = reinterpret_cast<uint8_t*>(data);
  if (bytes < 8) return false;
  const uint32_t type = tn::ld_u32(p);
  const uint32_t ndims = tn::ld_u32(p + 4);
  const int64_t hb = (int64_t(ndims) + 3) / 2 * 8;
  if (ndims < 2 || hb > bytes) return false;
  const uint32_t size = elem_size(type);
  if (size == 0) return false;
  const auto* dims = reinterpret_cast<const uint32_t*>(p + 8);
  const int64_t count = dims_product(int(ndims), dims);
  const bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
  if (count > bytes || hb + count * size * (cplx ? 2 : 1) > bytes) return false;
  v->cls = (type == kElemDouble || type == kElemDoubleComplex)   ? ElemClass::Double
           : (type == kElemSingle || type == kElemSingleComplex) ? ElemClass::Single
                                                                 : ElemClass::Int;
  v->cplx = cplx;
  v->subtype = h[2];
  v->type = type;
  v->esize = size;
  v->ndims = int(ndims);
  v->dims = dims;
  v->count = count;
  v->re = p + hb;
  v->im = cplx ? v->re + size * count : nullptr;
  return true;
}

void selection_shape(const IndexPlan& p, int ndims, const uint32_t* dims, int32_t* out, int* out_ndims) {
  if (p.empty_read) {
    out[0] = out[1] = 0;
    *out_ndims = 2;
    return;
  }
  if (!p.linear) {
    for (int k = 0; k < p.nsubs; ++k) out[k] = int32_t(p.sub[k].count);
    *out_ndims = p.nsubs;
    return;
  }
  const IndexSub& s = p.sub[0];
  const int32_t n = int32_t(s.count);
  *out_ndims = 2;
  out[0] = n;
  out[1] = 1;
  const bool value_row = ndims == 2 && dims[0] == 1 && dims[1] != 1;
  const bool value_column = ndims == 2 && dims[1] == 1 && dims[0] != 1;
  if (s.mask) {
    if (value_row) out[0] = 1, out[1] = n;
    return;
  }
  if (!s.values) return;  // colon: a column
  const bool sub_row = s.ndims == 2 && s.dims[0] == 1;
  const bool sub_column = s.ndims == 2 && s.dims[1] == 1;
  if (value_column && sub_row) return;
  if (value_row && sub_column) {
    out[0] = 1;
    out[1] = n;
    return;
  }
  // A scalar follows the subscript's shape, as every other value does.
  const int nd = std::min(s.ndims, kMaxSubscripts);
  for (int k = 0; k < nd; ++k) out[k] = int32_t(s.dims[k]);
  *out_ndims = nd;
}

int index_convert_subscripts(EngineContext* ctx, int nsubs, uint32_t colon_mask, int* count,
                             int check_flag) {
  if (nsubs < 0) return TN_ILLEGAL();
  const int k = nsubs - std::popcount(colon_mask & low_bits(nsubs));
  if (count) *count = k;
  if (!stk_has_item(ctx, k)) return TN_ILLEGAL();
  if (check_flag) {
    const uint32_t* h = indexed_header(ctx, k);
    if (is_object(h) || is_function_value(h)) return kOk;
  }
  for (int d = k - 1; d >= 0; --d) {
    const uint32_t* s = desc_at(ctx, d);
    if (s[0] == kKindPayload && s[2] == kPayLogical) continue;
    const bool numeric = s[0] == kKindReal || s[0] == kKindComplex ||
                         (s[0] == kKindPayload && (s[2] == kPayNumeric || s[2] == kPayChar));
    if (!numeric) return kBadIndexType;
    if (s[0] == kKindPayload && s[2] == kPayNumeric &&
        tn::ld_u32(item_data(ctx, d)) == kElemI32)
      continue;
    const int status = stk_convert_to_int(ctx, d, 4, 0, 1);
    switch (status) {
      case kOk: break;
      case kNonIntegerArg: return kNonIntegerIndex;
      case kArgOutOfRange: return kIndexOutOfRange;
      case kWrongType: return kBadIndexType;
      default: return status;
    }
  }
  return kOk;
}

int index_decode(EngineContext* ctx, const IndexRequest& req, IndexPlan* p) {
  int nd = req.ndims;
  const uint32_t* dims = req.dims;
  if (nd == 0 || !dims) {
    nd = 2;
    dims = kZeroDims;
  }
  int nsubs = req.nsubs;
  uint32_t colon = req.colon_mask & low_bits(nsubs);
  const bool last_colon = nsubs >= 1 && nsubs <= 32 && (colon >> (nsubs - 1)) & 1;
  if (nsubs >= 2 && nsubs < nd && !last_colon) return kWrongIndexCount;
  if (nsubs > kMaxSubscripts) return kArgOutOfRange;
  // A final colon stands for every remaining dimension.
  if (nsubs >= 2 && last_colon && nd > nsubs) {
    if (nd > kMaxSubscripts) return kArgOutOfRange;
    colon |= low_bits(nd) & ~low_bits(nsubs - 1);
    nsubs = nd;
  }
  const int stack_subs = nsubs - std::popcount(colon);
  if (!stk_has_item(ctx, req.above + stack_subs - 1) && stack_subs > 0) return TN_ILLEGAL();

  p->nsubs = nsubs;
  p->colon = colon;
  p->linear = nsubs == 1;
  p->empty_read = false;
  p->grows = false;
  p->total = 0;
  const int64_t n_elems = dims_product(nd, dims);
  const bool empty = n_elems == 0;
  if (!req.growth && empty && colon != 0) {
    p->empty_read = true;
    for (int i = 0; i < nsubs; ++i) p->sub[i] = IndexSub{0, 0, nullptr, nullptr, 0, 2, kZeroDims};
    return kOk;
  }

  if (p->linear) {
    p->grown_ndims = nd;
    if (req.growth && nd > kMaxSubscripts) return kArgOutOfRange;
    for (int k = 0; k < nd && k < kMaxSubscripts; ++k) p->grown[k] = dims[k];
  } else {
    p->grown_ndims = std::max(nsubs, 2);
    for (int k = 0; k < p->grown_ndims; ++k) p->grown[k] = dim_at(nd, dims, k);
  }

  int next_depth = req.above + stack_subs - 1;
  int64_t total = 1;
  for (int i = 0; i < nsubs; ++i) {
    IndexSub& s = p->sub[i];
    const int64_t e = p->linear ? n_elems : dim_at(nd, dims, i);
    s = IndexSub{e, e, nullptr, nullptr, 0, 2, kZeroDims};
    if ((colon >> i) & 1) {
      if (!p->linear && req.growth && empty && req.rhs_dims) {
        s.count = s.extent = dim_at(req.rhs_ndims, req.rhs_dims, i);
        p->grown[i] = s.count;
      }
      total = tn::mul64(total, s.count);
      continue;
    }
    SubItem it;
    TN_TRY(sub_item(ctx, next_depth--, &it));
    // A linear read takes its subscript's shape, which must fit a dimension vector.
    if (p->linear && it.ndims > kMaxSubscripts) return kBadDimension;
    s.ndims = it.ndims;
    s.dims = it.dims;
    if (it.logical) {
      if (p->linear && (it.ndims > 2 || (it.dims[0] > 1 && it.dims[1] > 1))) {
        for (int k = 0; k < std::max(it.ndims, nd); ++k)
          if (dim_at(it.ndims, it.dims, k) != dim_at(nd, dims, k)) return kBadSelectionSize;
      } else if (it.count != e) {
        return kBadSelectionSize;
      }
      s.mask = it.mask;
      s.mask_length = it.count;
      s.count = count_set(it.mask, it.count);
    } else {
      int64_t largest = 0;
      TN_TRY(check_values(it, e, req.growth, &largest));
      s.values = it.values;
      s.count = req.sort ? sort_unique(it.values, it.count) : it.count;
      if (largest > e) {
        s.extent = largest;
        if (!p->linear) {
          p->grown[i] = largest;
        } else {
          // Linear growth follows the value's shape; a matrix cannot grow so.
          const bool matrix = nd > 2 || (dims[0] > 1 && dims[1] > 1);
          if (matrix) return kIndexOutOfRange;
          p->grown_ndims = 2;
          p->grown[0] = dims[0] > 1 ? largest : 1;
          p->grown[1] = dims[0] > 1 ? 1 : largest;
        }
      }
    }
    total = tn::mul64(total, s.count);
  }
  p->total = total;
  if (req.growth) {
    if (req.ndims == 0) p->grows = true;
    for (int k = 0; k < p->grown_ndims; ++k)
      if (p->grown[k] != dim_at(nd, dims, k)) p->grows = true;
  }
  return kOk;
}

int index_list_subscripts(EngineContext* ctx, int64_t* positions, int n, int64_t* bad) {
  if (bad) *bad = -1;
  if (n > kMaxSubscripts) return kBadDimension;
  if (n < 0 || (n > 0 && !stk_has_item(ctx, n - 1))) return TN_ILLEGAL();
  for (int i = 0; i < n; ++i) {
    const int depth = n - 1 - i;
    ArrayView v;
    if (!array_view(desc_at(ctx, depth), item_data(ctx, depth), &v) || v.count != 1)
      return kBadListIndex;
    double x;
    if (v.cls == ElemClass::Double)
      x = tn::ld_f64(v.re);
    else if (v.cls == ElemClass::Single)
      x = tn::load<float>(v.re);
    else
      x = double(load_int_element(v.re, 0, v.type));
    if (x != x) return kBadListIndex;
    if (std::floor(x) != x) {
      if (bad && x >= -2147483648.0 && x < kListIndexLimit) *bad = int64_t(x);
      return kNonIntegerIndex;
    }
    if (x < 1 || x >= kListIndexLimit) {
      if (bad && x >= -2147483648.0 && x < kListIndexLimit) *bad = int64_t(x);
      return kIndexOutOfRange;
    }
    positions[i] = int64_t(x) - 1;
  }
  for (int i = 0; i < n; ++i) stk_drop(ctx);
  return kOk;
}

int dim_extent_push(EngineContext* ctx, int k, int n, int ndims, const uint32_t* dims) {
  int64_t v;
  if (k >= n) {
    v = 1;
    for (int j = k - 1; j < ndims; ++j) v = tn::mul64(v, dims[j]);
  } else {
    v = k > ndims ? 1 : dims[k - 1];
  }
  return stk_push_real(ctx, double(v));
}
