// A small, obviously correct model of row-major N-d arrays for differential
// tests of indexing and assignment: elements kept as raw bytes by
// coordinates, with reads, assignments (with growth) and deletions written
// straight from their definitions, and conversion to and from value items.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/core/indexing.h"
#include "engine/core/value_stack.h"

namespace ndm {

enum class Cls { Double, Single, Int };

struct Array {
  Cls cls = Cls::Double;
  bool cplx = false;
  uint32_t type = kElemDouble;  // element type (64/65 for doubles of any shape)
  uint32_t subtype = 0;         // 0 double/single, else 3, 4 or 5
  uint32_t esize = 8;
  std::vector<int64_t> dims{0, 0};
  std::vector<uint8_t> re, im;  // count * esize bytes each (im empty when real)

  int64_t count() const {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    return n;
  }
  bool operator==(const Array&) const = default;
};

inline int64_t dim(const std::vector<int64_t>& d, size_t k) { return k < d.size() ? d[k] : 1; }

// Linear position of coordinates: (page * d0 + c0) * d1 + c1, page folded
// from the last coordinate down to the third.
inline int64_t linear_of(const std::vector<int64_t>& c, const std::vector<int64_t>& d) {
  int64_t page = 0;
  for (size_t k = c.size(); k-- > 2;) page = page * dim(d, k) + c[k];
  const int64_t c0 = c.size() > 0 ? c[0] : 0, c1 = c.size() > 1 ? c[1] : 0;
  return (page * dim(d, 0) + c0) * dim(d, 1) + c1;
}

// The coordinates of the n-th element in row-major order of dims d.
inline std::vector<int64_t> coords_of(int64_t n, const std::vector<int64_t>& d) {
  std::vector<int64_t> c(std::max<size_t>(d.size(), 2));
  c[1] = n % dim(d, 1);
  n /= dim(d, 1);
  c[0] = n % dim(d, 0);
  n /= dim(d, 0);
  for (size_t k = 2; k < c.size(); ++k) {
    c[k] = n % d[k];
    n /= d[k];
  }
  return c;
}

// Shape rules: trailing ones dropped down to 2 dims, any zero gives 0 x 0.
inline std::vector<int64_t> normal(std::vector<int64_t> d) {
  while (d.size() < 2) d.push_back(d.empty() ? 1 : 1);
  for (int64_t v : d)
    if (v == 0) return {0, 0};
  while (d.size() > 2 && d.back() == 1) d.pop_back();
  return d;
}

inline Array like(const Array& a, std::vector<int64_t> dims, bool cplx) {
  Array r = a;
  r.dims = normal(std::move(dims));
  r.cplx = cplx && r.count() > 0;
  if (r.cls != Cls::Int) r.type = r.cls == Cls::Double ? (r.cplx ? kElemDoubleComplex : kElemDouble)
                                                       : (r.cplx ? kElemSingleComplex : kElemSingle);
  r.re.assign(size_t(r.count() * r.esize), 0);
  r.im.assign(r.cplx ? r.re.size() : 0, 0);
  return r;
}

inline void copy_el(Array& to, int64_t i, const Array& from, int64_t j) {
  std::memcpy(&to.re[i * to.esize], &from.re[j * from.esize], to.esize);
  if (to.cplx) {
    if (from.cplx)
      std::memcpy(&to.im[i * to.esize], &from.im[j * from.esize], to.esize);
    else
      std::memset(&to.im[i * to.esize], 0, to.esize);
  }
}

// A subscript: a colon, 1-based numbers with a shape, or a logical mask.
struct Sub {
  enum Kind { Colon, Numbers, Mask } kind = Colon;
  std::vector<int64_t> values;  // numbers, or mask bytes (0/1)
  std::vector<int64_t> shape{1, 1};
};

// Selected positions (0-based) of one subscript over extent e; status 0, 29 or 33.
inline int positions(const Sub& s, int64_t e, bool grow, std::vector<int64_t>* out) {
  out->clear();
  if (s.kind == Sub::Colon) {
    for (int64_t i = 0; i < e; ++i) out->push_back(i);
  } else if (s.kind == Sub::Mask) {
    if (int64_t(s.values.size()) != e) return kBadSelectionSize;
    for (int64_t i = 0; i < e; ++i)
      if (s.values[i]) out->push_back(i);
  } else {
    for (int64_t v : s.values) {
      if (v < 1 || (!grow && v > e)) return kIndexOutOfRange;
      out->push_back(v - 1);
    }
  }
  return kOk;
}

struct Selection {
  bool linear = false;
  std::vector<std::vector<int64_t>> pos;  // per position
  std::vector<int64_t> grown;             // dims after growth
};

// Resolves the subscripts against a value of dims d (exists: false for none).
inline int select(const std::vector<int64_t>& d0, std::vector<Sub> subs, bool grow,
                  const std::vector<int64_t>* rhs_dims, Selection* sel) {
  std::vector<int64_t> d = d0;
  const size_t nd = d.size();
  if (subs.size() >= 2 && subs.size() < nd) {
    if (subs.back().kind != Sub::Colon) return kWrongIndexCount;
    while (subs.size() < nd) subs.push_back(Sub{});
  }
  int64_t n = 1;
  for (int64_t v : d) n *= v;
  sel->linear = subs.size() == 1;
  sel->pos.assign(subs.size(), {});
  if (sel->linear) {
    const Sub& s = subs[0];
    if (s.kind == Sub::Mask && (s.shape.size() > 2 || (s.shape[0] > 1 && s.shape[1] > 1))) {
      for (size_t k = 0; k < std::max(s.shape.size(), nd); ++k)
        if (dim(s.shape, k) != dim(d, k)) return kBadSelectionSize;
    }
    if (int st = positions(s, n, grow, &sel->pos[0])) return st;
    int64_t big = 0;
    for (int64_t p : sel->pos[0]) big = std::max(big, p + 1);
    sel->grown = d;
    if (big > n) {
      if (nd > 2 || (d[0] > 1 && d[1] > 1)) return kIndexOutOfRange;
      sel->grown = d[0] > 1 ? std::vector<int64_t>{big, 1} : std::vector<int64_t>{1, big};
    }
    return kOk;
  }
  const bool empty = n == 0;
  sel->grown.assign(std::max<size_t>(subs.size(), 2), 1);
  for (size_t k = 0; k < sel->grown.size(); ++k) sel->grown[k] = dim(d, k);
  for (size_t i = 0; i < subs.size(); ++i) {
    int64_t e = dim(d, i);
    if (subs[i].kind == Sub::Colon && grow && empty && rhs_dims) e = sel->grown[i] = dim(*rhs_dims, i);
    if (int st = positions(subs[i], e, grow, &sel->pos[i])) return st;
    for (int64_t p : sel->pos[i]) sel->grown[i] = std::max(sel->grown[i], p + 1);
  }
  return kOk;
}

// Visits the selected elements in row-major order of the selection: f(k, coords).
template <typename F>
void each_selected(const Selection& s, F&& f) {
  std::vector<int64_t> counts;
  int64_t total = 1;
  for (const auto& p : s.pos) {
    counts.push_back(int64_t(p.size()));
    total *= int64_t(p.size());
  }
  for (int64_t k = 0; k < total; ++k) {
    std::vector<int64_t> c = s.linear ? std::vector<int64_t>{k} : coords_of(k, counts);
    std::vector<int64_t> at(s.pos.size());
    for (size_t i = 0; i < at.size(); ++i) at[i] = s.pos[i][c[i]];
    f(k, at);
  }
}

inline int read(const Array& a, const std::vector<Sub>& subs, Array* out) {
  Selection s;
  if (subs.size() >= 2 && subs.size() < a.dims.size() && subs.back().kind != Sub::Colon) return kWrongIndexCount;
  if (!subs.empty() && a.count() == 0)
    for (const Sub& x : subs)
      if (x.kind == Sub::Colon) {
        *out = like(a, {0, 0}, false);
        return kOk;
      }
  if (int st = select(a.dims, subs, false, nullptr, &s)) return st;
  std::vector<int64_t> rd;
  if (s.linear) {
    const int64_t n = int64_t(s.pos[0].size());
    const Sub& x = subs[0];
    const bool row = a.dims.size() == 2 && a.dims[0] == 1 && a.dims[1] != 1;
    const bool column = a.dims.size() == 2 && a.dims[1] == 1 && a.dims[0] != 1;
    if (x.kind == Sub::Colon) rd = {n, 1};
    else if (x.kind == Sub::Mask) rd = row ? std::vector<int64_t>{1, n} : std::vector<int64_t>{n, 1};
    else if (column && x.shape.size() == 2 && x.shape[0] == 1) rd = {n, 1};
    else if (row && x.shape.size() == 2 && x.shape[1] == 1) rd = {1, n};
    else rd = x.shape;
  } else {
    for (const auto& p : s.pos) rd.push_back(int64_t(p.size()));
  }
  *out = like(a, rd, a.cplx);
  each_selected(s, [&](int64_t k, const std::vector<int64_t>& at) {
    copy_el(*out, k, a, s.linear ? at[0] : linear_of(at, a.dims));
  });
  return kOk;
}

// Assigns rhs (already of the target's element kind when a exists).
inline int assign(const std::optional<Array>& a, const std::vector<Sub>& subs, const Array& rhs, Array* out) {
  const std::vector<int64_t> d = a ? a->dims : std::vector<int64_t>{0, 0};
  Selection s;
  if (int st = select(d, subs, true, &rhs.dims, &s)) return st;
  int64_t total = 1;
  for (const auto& p : s.pos) total *= int64_t(p.size());
  if (rhs.count() != 1 && rhs.count() != total) return kBadAssignmentSize;
  const Array& proto = a ? *a : rhs;
  Array r = like(proto, s.grown, (a && a->cplx) || rhs.cplx);
  if (a && (a->subtype == kPayChar || a->subtype == kPayLogical) && rhs.subtype != a->subtype)
    r.subtype = kPayNumeric;
  if (a)
    for (int64_t q = 0; q < a->count(); ++q) {
      std::vector<int64_t> c = coords_of(q, a->dims);
      c.resize(std::max(c.size(), s.grown.size()), 0);
      copy_el(r, linear_of(c, s.grown), *a, q);
    }
  each_selected(s, [&](int64_t k, const std::vector<int64_t>& at) {
    const int64_t to = s.linear ? at[0] : linear_of(at, s.grown);
    copy_el(r, to, rhs, rhs.count() == 1 ? 0 : k);
  });
  *out = r;
  return kOk;
}

// Deletes the selected elements; *out unchanged (a copy of a) when nothing goes.
inline int erase(const Array& a, const std::vector<Sub>& subs, Array* out) {
  Selection s;
  if (subs.size() >= 2 && subs.size() < a.dims.size() && subs.back().kind != Sub::Colon) return kWrongIndexCount;
  if (a.count() == 0)  // an empty value with a colon selects nothing
    for (const Sub& x : subs)
      if (x.kind == Sub::Colon) {
        *out = a;
        return kOk;
      }
  if (int st = select(a.dims, subs, false, nullptr, &s)) return st;
  std::vector<size_t> partial;
  for (size_t i = 0; i < s.pos.size(); ++i)
    if ((i < subs.size() ? subs[i].kind : Sub::Colon) != Sub::Colon) partial.push_back(i);
  if (partial.empty()) {
    *out = like(a, {0, 0}, false);
    return kOk;
  }
  for (size_t i : partial)
    if (s.pos[i].empty()) {
      *out = a;
      return kOk;
    }
  if (partial.size() > 1) return kDeleteMultipleDims;
  const size_t ax = partial[0];
  std::vector<int64_t> gone = s.pos[ax];
  std::sort(gone.begin(), gone.end());
  gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
  auto deleted = [&](int64_t q) {
    if (s.linear) return std::binary_search(gone.begin(), gone.end(), q);
    const std::vector<int64_t> at = coords_of(q, a.dims);
    const int64_t c = ax < at.size() ? at[ax] : 0;  // dimensions past ndims have the one coordinate 0
    return std::binary_search(gone.begin(), gone.end(), c);
  };
  std::vector<int64_t> nd;
  if (s.linear) {
    const int64_t left = a.count() - int64_t(gone.size());
    const bool column = a.dims.size() == 2 && a.dims[1] == 1 && a.dims[0] != 1;
    nd = column ? std::vector<int64_t>{left, 1} : std::vector<int64_t>{1, left};
  } else {
    nd = s.grown;
    nd[ax] -= int64_t(gone.size());
  }
  Array r = like(a, nd, a.cplx);
  int64_t at = 0;
  for (int64_t q = 0; q < a.count(); ++q)
    if (!deleted(q)) copy_el(r, at++, a, q);
  *out = r;
  return kOk;
}

// --- Items --------------------------------------------------------------------

// Reads an item (matrix or typed array) into the model.
inline std::optional<Array> from_item(const uint32_t* h, uint64_t* data) {
  ArrayView v;
  if (!array_view(h, data, &v)) return std::nullopt;
  Array a;
  a.cls = v.cls == ElemClass::Double ? Cls::Double : v.cls == ElemClass::Single ? Cls::Single : Cls::Int;
  a.cplx = v.cplx;
  a.type = v.type;
  a.subtype = v.cls == ElemClass::Int ? v.subtype : 0;
  a.esize = v.esize;
  a.dims.assign(v.dims, v.dims + v.ndims);
  a.re.assign(v.re, v.re + v.count * v.esize);
  if (v.cplx) a.im.assign(v.im, v.im + v.count * v.esize);
  return a;
}

// Pushes the model's array as an item (through the engine's pushers).
inline int push(EngineContext* ctx, const Array& a) {
  std::vector<int32_t> d(a.dims.begin(), a.dims.end());
  const int nd = int(d.size());
  void* re = nullptr;
  void* im = nullptr;
  int st;
  if (a.cls == Cls::Double) {
    double *r, *i = nullptr;
    st = stk_push_double_nd(ctx, nd, d.data(), &r, a.cplx ? &i : nullptr);
    re = r, im = i;
  } else if (a.cls == Cls::Single) {
    float *r, *i = nullptr;
    st = stk_push_single_nd(ctx, nd, d.data(), &r, a.cplx ? &i : nullptr);
    re = r, im = i;
  } else {
    st = stk_push_typed_array(ctx, nd, d.data(), int(a.esize), (a.type & kElemUnsigned) ? 1 : 0, &re);
    if (st == kOk) desc_at(ctx, 0)[2] = a.subtype;
  }
  if (st != kOk) return st;
  if (!a.re.empty()) std::memcpy(re, a.re.data(), a.re.size());
  if (im && !a.im.empty()) std::memcpy(im, a.im.data(), a.im.size());
  return kOk;
}

// A subscript as an item: numbers as doubles (or int32 with as_int), a mask as logical.
inline int push_sub(EngineContext* ctx, const Sub& s, bool as_int) {
  std::vector<int32_t> d(s.shape.begin(), s.shape.end());
  if (s.kind == Sub::Mask) {
    uint8_t* p;
    int st = stk_push_logical_array(ctx, int(d.size()), d.data(), &p);
    if (st == kOk)
      for (size_t i = 0; i < s.values.size(); ++i) p[i] = uint8_t(s.values[i]);
    return st;
  }
  if (as_int) {
    void* p;
    int st = stk_push_typed_array(ctx, int(d.size()), d.data(), 4, 0, &p);
    if (st == kOk)
      for (size_t i = 0; i < s.values.size(); ++i) static_cast<int32_t*>(p)[i] = int32_t(s.values[i]);
    return st;
  }
  double* p;
  int st = stk_push_double_nd(ctx, int(d.size()), d.data(), &p, nullptr);
  if (st == kOk)
    for (size_t i = 0; i < s.values.size(); ++i) p[i] = double(s.values[i]);
  return st;
}

}  // namespace ndm
