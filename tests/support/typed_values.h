// Building numeric values of every class on the value stack and reading them
// back, for operator tests: doubles (plain or N-d), singles, integers of each
// width and sign, chars and logicals, each real or complex where it can be.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/value_stack.h"

namespace tv {

// Class names as the language spells them.
inline std::string int_class_name(uint32_t type) {
  std::string s = (type & kElemUnsigned) ? "uint" : "int";
  return s + std::to_string(8 * (type & 127));
}

// A value read back from the stack.
struct Value {
  std::string cls;  // "double", "single", "int8" ... "uint64", "char", "logical", "other"
  bool cplx = false;
  bool plain = false;          // a kind 0/1 matrix
  std::vector<uint32_t> dims;  // as stored
  std::vector<double> re, im;  // floating classes (single widened)
  std::vector<int64_t> ints;   // integer classes: the 64-bit pattern, sign- or zero-extended
};

inline Value read(EngineContext* c, int depth = 0) {
  Value v;
  const uint32_t* d = desc_at(c, depth);
  if (d[0] == kKindReal || d[0] == kKindComplex) {
    v.cls = "double";
    v.plain = true;
    v.cplx = d[0] == kKindComplex;
    v.dims = {d[1], d[2]};
    size_t n = size_t{d[1]} * d[2];
    const auto* p = reinterpret_cast<const double*>(item_data(c, depth));
    v.re.assign(p, p + n);
    if (v.cplx) v.im.assign(p + n, p + 2 * n);
    return v;
  }
  TypedView t;
  if (!typed_view(c, depth, &t)) {
    v.cls = "other";
    return v;
  }
  v.dims.assign(t.dims, t.dims + t.ndims);
  v.cplx = t.is_complex;
  auto n = static_cast<size_t>(t.count);
  if (t.type == kElemDouble || t.type == kElemDoubleComplex) {
    v.cls = "double";
    const auto* p = reinterpret_cast<const double*>(t.elems);
    v.re.assign(p, p + n);
    if (v.cplx) v.im.assign(p + n, p + 2 * n);
  } else if (t.type == kElemSingle || t.type == kElemSingleComplex) {
    v.cls = "single";
    const auto* p = reinterpret_cast<const float*>(t.elems);
    v.re.assign(p, p + n);
    if (v.cplx) v.im.assign(p + n, p + 2 * n);
  } else {
    v.cls = t.subtype == kPayChar ? "char" : t.subtype == kPayLogical ? "logical" : int_class_name(t.type);
    for (size_t i = 0; i < n; ++i)
      v.ints.push_back(static_cast<int64_t>(load_int_element(t.elems, static_cast<int64_t>(i), t.type)));
  }
  return v;
}

inline std::vector<int32_t> row_dims(size_t n) { return {1, static_cast<int32_t>(n)}; }

// Doubles: a plain matrix for two dimensions, else an N-d array.
inline void push_double(EngineContext* c, const std::vector<int32_t>& dims,
                        const std::vector<double>& re, const std::vector<double>& im = {}) {
  double *r, *i = nullptr;
  ASSERT_EQ(stk_push_double_nd(c, static_cast<int>(dims.size()), dims.data(), &r, im.empty() ? nullptr : &i), kOk);
  std::copy(re.begin(), re.end(), r);
  if (i) std::copy(im.begin(), im.end(), i);
}
inline void push_row(EngineContext* c, const std::vector<double>& re,
                     const std::vector<double>& im = {}) {
  push_double(c, row_dims(re.size()), re, im);
}
inline void push_scalar(EngineContext* c, double re) { ASSERT_EQ(stk_push_real(c, re), kOk); }
// A complex scalar that stays complex even with a zero imaginary part.
inline void push_cscalar(EngineContext* c, double re, double im) { push_row(c, {re}, {im}); }

inline void push_single(EngineContext* c, const std::vector<int32_t>& dims,
                        const std::vector<float>& re, const std::vector<float>& im = {}) {
  float *r, *i = nullptr;
  ASSERT_EQ(stk_push_single_nd(c, static_cast<int>(dims.size()), dims.data(), &r, im.empty() ? nullptr : &i), kOk);
  std::copy(re.begin(), re.end(), r);
  if (i) std::copy(im.begin(), im.end(), i);
}

// Integers of element type `type` (1..8 signed, 129..136 unsigned): each value's
// low bytes are stored.
inline void push_ints(EngineContext* c, uint32_t type, const std::vector<int32_t>& dims,
                      const std::vector<int64_t>& values) {
  void* data;
  const int size = static_cast<int>(type & 127);
  ASSERT_EQ(stk_push_typed_array(c, static_cast<int>(dims.size()), dims.data(), size,
                                 (type & kElemUnsigned) ? 1 : 0, &data),
            kOk);
  auto* b = static_cast<uint8_t*>(data);
  for (size_t i = 0; i < values.size(); ++i) std::memcpy(b + i * size, &values[i], size);
}

inline void push_chars(EngineContext* c, const std::u16string& s) {
  uint16_t* d;
  ASSERT_EQ(stk_push_char_row(c, static_cast<int32_t>(s.size()), &d), kOk);
  std::copy(s.begin(), s.end(), d);
}

inline void push_logicals(EngineContext* c, const std::vector<uint8_t>& v) {
  uint8_t* d;
  auto dims = row_dims(v.size());
  ASSERT_EQ(stk_push_logical_array(c, 2, dims.data(), &d), kOk);
  std::copy(v.begin(), v.end(), d);
}

// Bits of a double, for comparisons that must tell -0 from 0 and NaN apart.
inline uint64_t bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, 8);
  return u;
}

}  // namespace tv
