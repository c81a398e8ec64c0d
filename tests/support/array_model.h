// A plain model of N-d arrays for tests of the array built-ins: dims and
// values in the engine's storage order, written out independently of the
// engine's own shape code, pushed as any class and read back as doubles.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/core/value_stack.h"
#include "support/typed_values.h"

namespace am {

// Every class of array the built-ins move elements of.
enum class Cls { Double, Single, I8, U8, I16, U16, I32, U32, I64, U64, Char, Logical };
inline const std::vector<Cls>& all_classes() {
  static const std::vector<Cls> v = {Cls::Double, Cls::Single, Cls::I8,  Cls::U8,
                                     Cls::I16,    Cls::U16,    Cls::I32, Cls::U32,
                                     Cls::I64,    Cls::U64,    Cls::Char, Cls::Logical};
  return v;
}
inline std::string name(Cls c) {
  static const char* n[] = {"double", "single", "int8",   "uint8",  "int16", "uint16",
                            "int32",  "uint32", "int64",  "uint64", "char",  "logical"};
  return n[static_cast<int>(c)];
}
inline uint32_t int_type(Cls c) {
  switch (c) {
    case Cls::I8: return kElemI8;
    case Cls::U8: return kElemU8;
    case Cls::I16: return kElemI16;
    case Cls::U16: return kElemU16;
    case Cls::I32: return kElemI32;
    case Cls::U32: return kElemU32;
    case Cls::I64: return kElemI64;
    default: return kElemU64;
  }
}

struct Arr {
  std::vector<int64_t> dims;
  std::vector<double> re, im;  // im empty: real

  int64_t count() const {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    return n;
  }
  int64_t dim(size_t k) const { return k < dims.size() ? dims[k] : 1; }
  // Storage order: element (i, j) of a page at i * cols + j, pages by the
  // third and further subscripts, the third fastest.
  int64_t index(const std::vector<int64_t>& s) const {
    int64_t page = 0;
    for (size_t k = dims.size(); k-- > 2;) page = page * dims[k] + (k < s.size() ? s[k] : 0);
    return (page * dim(0) + s[0]) * dim(1) + s[1];
  }
  // The engine's shape rules: trailing 1s dropped down to two dims, any
  // zero size an empty 0 x 0.
  void normalise() {
    while (dims.size() < 2) dims.push_back(1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    if (count() == 0) dims = {0, 0};
  }
};

// Calls f(subs) for every subscript vector of dims, in any order.
inline void for_each(const std::vector<int64_t>& dims,
                     const std::function<void(const std::vector<int64_t>&)>& f) {
  int64_t n = 1;
  for (int64_t d : dims) n *= d;
  std::vector<int64_t> s(dims.size(), 0);
  for (int64_t r = 0; r < n; ++r) {
    f(s);
    for (size_t k = 0; k < dims.size(); ++k) {
      if (++s[k] < dims[k]) break;
      s[k] = 0;
    }
  }
}

inline Arr random(std::mt19937& rng, std::vector<int64_t> dims, bool cplx = false) {
  Arr a;
  a.dims = std::move(dims);
  std::uniform_int_distribution<int> v(0, 99);
  for (int64_t i = 0; i < a.count(); ++i) a.re.push_back(v(rng));
  if (cplx)
    for (int64_t i = 0; i < a.count(); ++i) a.im.push_back(v(rng) - 50);
  a.normalise();
  return a;
}

// Pushes the array as class c (values converted; complex only for the
// floating classes).
inline void push(EngineContext* ctx, Cls c, const Arr& a) {
  std::vector<int32_t> d(a.dims.begin(), a.dims.end());
  const int nd = static_cast<int>(d.size());
  const size_t n = a.re.size();
  switch (c) {
    case Cls::Double: tv::push_double(ctx, d, a.re, a.im); return;
    case Cls::Single: {
      std::vector<float> re(a.re.begin(), a.re.end()), im(a.im.begin(), a.im.end());
      tv::push_single(ctx, d, re, im);
      return;
    }
    case Cls::Char: {
      uint16_t* p;
      ASSERT_EQ(stk_push_char_array(ctx, nd, d.data(), &p), kOk);
      for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint16_t>(a.re[i]);
      return;
    }
    case Cls::Logical: {
      uint8_t* p;
      ASSERT_EQ(stk_push_logical_array(ctx, nd, d.data(), &p), kOk);
      for (size_t i = 0; i < n; ++i) p[i] = a.re[i] != 0;
      return;
    }
    default: {
      std::vector<int64_t> v;
      for (double x : a.re) v.push_back(static_cast<int64_t>(x));
      tv::push_ints(ctx, int_type(c), d, v);
    }
  }
}

// The item at depth as an array of doubles, with its class name.
inline Arr read(EngineContext* ctx, std::string* cls = nullptr, int depth = 0) {
  const tv::Value v = tv::read(ctx, depth);
  if (cls) *cls = v.cls;
  Arr a;
  a.dims.assign(v.dims.begin(), v.dims.end());
  if (!v.ints.empty() || v.re.empty()) {
    for (int64_t x : v.ints) a.re.push_back(static_cast<double>(x));
  } else {
    a.re = v.re;
    a.im = v.im;
  }
  return a;
}

inline bool operator==(const Arr& x, const Arr& y) {
  return x.dims == y.dims && x.re == y.re && x.im == y.im;
}
inline std::ostream& operator<<(std::ostream& os, const Arr& a) {
  os << "[";
  for (int64_t d : a.dims) os << d << " ";
  os << "]{";
  for (double x : a.re) os << x << " ";
  if (!a.im.empty()) {
    os << "| ";
    for (double x : a.im) os << x << " ";
  }
  return os << "}";
}

}  // namespace am
