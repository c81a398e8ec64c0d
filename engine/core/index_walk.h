// Walking the positions a decoded index plan selects, in the row-major order
// of the selection (position 1 fastest, then 0, then 2, 3, ...), and the
// shape rules of a read. Shared by the reads and the assignments; internal to
// the indexing code.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>

#include "engine/core/indexing.h"

// dims[k] as a 64-bit size, 1 beyond ndims.
inline int64_t dim_at(int ndims, const uint32_t* dims, int k) { return k < ndims ? int64_t(dims[k]) : 1; }

// First and next selected position of one subscript.
inline int64_t sub_first(const IndexSub& s) {
  if (s.values) return int64_t(s.values[0]) - 1;
  if (s.mask) {
    int64_t p = 0;
    while (!s.mask[p]) ++p;
    return p;
  }
  return 0;
}
inline int64_t sub_next(const IndexSub& s, int64_t k, int64_t pos) {
  if (s.values) return int64_t(s.values[k]) - 1;
  if (s.mask) {
    ++pos;
    while (!s.mask[pos]) ++pos;
    return pos;
  }
  return pos + 1;
}

// The element distance of one step of each position of the plan in an array
// of the given dims: 1 for linear indexing; else 1 for columns, d1 for rows,
// d0 * d1 for the third position and so on.
inline void plan_strides(const IndexPlan& p, int ndims, const int64_t* dims, int64_t* strides) {
  if (p.linear) {
    strides[0] = 1;
    return;
  }
  auto d = [&](int k) { return k < ndims ? dims[k] : int64_t(1); };
  strides[1] = 1;
  strides[0] = d(1);
  int64_t s = d(0) * d(1);
  for (int k = 2; k < p.nsubs; ++k) {
    strides[k] = s;
    s *= d(k);
  }
}

inline void plan_strides(const IndexPlan& p, int ndims, const uint32_t* dims, int64_t* strides) {
  int64_t d[kMaxSubscripts];
  const int n = ndims < kMaxSubscripts ? ndims : kMaxSubscripts;
  for (int k = 0; k < n; ++k) d[k] = dims[k];
  plan_strides(p, n, d, strides);
}

// Offsets of the selected elements, one after the other. The plan's total
// must be above 0 before start().
class IndexWalk {
 public:
  void start(const IndexPlan& p, const int64_t* strides) {
    n_ = p.nsubs;
    subs_ = p.sub;
    offset_ = 0;
    for (int o = 0; o < n_; ++o) order_[o] = n_ >= 2 && o < 2 ? 1 - o : o;
    for (int i = 0; i < n_; ++i) {
      stride_[i] = strides[i];
      k_[i] = 0;
      pos_[i] = sub_first(subs_[i]);
      offset_ += pos_[i] * stride_[i];
    }
  }
  int64_t offset() const { return offset_; }
  // The current subscript of position i (0-based).
  int64_t position(int i) const { return pos_[i]; }
  void next() {
    for (int o = 0; o < n_; ++o) {
      const int i = order_[o];
      const IndexSub& s = subs_[i];
      offset_ -= pos_[i] * stride_[i];
      if (++k_[i] < s.count) {
        pos_[i] = sub_next(s, k_[i], pos_[i]);
        offset_ += pos_[i] * stride_[i];
        return;
      }
      k_[i] = 0;
      pos_[i] = sub_first(s);
      offset_ += pos_[i] * stride_[i];
    }
  }

 private:
  int n_ = 0;
  int order_[kMaxSubscripts];
  const IndexSub* subs_ = nullptr;
  int64_t stride_[kMaxSubscripts];
  int64_t k_[kMaxSubscripts];
  int64_t pos_[kMaxSubscripts];
  int64_t offset_ = 0;
};

// The shape of a read's result (before the shape rules of the pushers): one
// dimension per position, or for one subscript the shape rules of linear
// indexing against the indexed value's shape.
void selection_shape(const IndexPlan& p, int ndims, const uint32_t* dims, int32_t* out, int* out_ndims);

// The largest result an element class may have: typed integer arrays stop at
// their element limit, double and single arrays at theirs.
int check_result_size(ElemClass cls, int64_t total);

// Pushes an uninitialised array of src's element kind and the given shape
// (never complex when empty).
int push_array_like(EngineContext* ctx, const ArrayView& src, bool cplx, int nd, const int32_t* dims,
                    ArrayView* out);
