// N-dimensional arrays for reference models of the array built-ins: random
// values (small integers, NaN, complex parts), element positions written out
// from the subscripts, a started engine to run the built-ins on, and the
// stack-height bookkeeping every call is checked with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

namespace ndref {

// Dimensions as the engine keeps them: at least two, trailing ones dropped.
inline std::vector<int32_t> normal_dims(std::vector<int32_t> d) {
  if (d.size() == 1) d.push_back(1);
  while (d.size() > 2 && d.back() == 1) d.pop_back();
  return d;
}

inline int64_t count_of(const std::vector<int32_t>& d) {
  int64_t n = 1;
  for (int32_t s : d) n *= s;
  return n;
}

// Position of element (s0, s1, s2, ...) of an array of dims (D0, D1, D2, ...):
// each page (s2, s3, ...) is a row-major D0 x D1 matrix and pages follow each
// other with s2 varying fastest:
//   s1 + D1 * (s0 + D0 * (s2 + D2 * (s3 + D3 * (...)))).
inline int64_t storage_index(const std::vector<int32_t>& dims, const std::vector<int64_t>& subs) {
  int64_t page = 0;
  for (size_t k = dims.size(); k-- > 2;) page = page * dims[k] + subs[k];
  return (page * dims[0] + subs[0]) * dims[1] + subs[1];
}

// Calls f(subs) for every subscript tuple, the last subscript slowest (the
// order of the tuples is immaterial to the models).
inline void for_each_subscript(const std::vector<int32_t>& dims,
                               const std::function<void(const std::vector<int64_t>&)>& f) {
  std::vector<int64_t> s(dims.size(), 0);
  if (count_of(dims) == 0) return;
  for (;;) {
    f(s);
    size_t k = 0;
    while (k < s.size() && ++s[k] == dims[k]) s[k++] = 0;
    if (k == s.size()) return;
  }
}

struct NdArray {
  std::vector<int32_t> dims;   // normal form
  std::vector<double> re, im;  // im empty when real
  bool cplx() const { return !im.empty(); }
  int64_t count() const { return count_of(dims); }
};

// Random array of 1 to 4 dimensions, sizes 1 to 4, small integer values with
// NaN now and then; complex with the flag.
inline NdArray random_array(std::mt19937& rng, bool cplx, double nan_rate = 0.08) {
  std::uniform_int_distribution<int> nd(1, 4), size(1, 4), val(-4, 4);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<int32_t> d(size_t(nd(rng)));
  for (auto& s : d) s = size(rng);
  NdArray a;
  a.dims = normal_dims(d);
  auto value = [&] { return u(rng) < nan_rate ? std::nan("") : double(val(rng)); };
  for (int64_t i = 0; i < a.count(); ++i) a.re.push_back(value());
  if (cplx)
    for (int64_t i = 0; i < a.count(); ++i) a.im.push_back(value());
  return a;
}

inline bool same_value(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return tv::bits(a) == tv::bits(b);
}

// Within a relative tolerance; non-finite values must be non-finite on both
// sides (a NaN on one side and an infinity on the other is accepted, as the
// models divide by zero in other ways).
inline bool near_value(double a, double b, double tol = 1e-9) {
  if (!std::isfinite(a) || !std::isfinite(b)) return !std::isfinite(a) && !std::isfinite(b);
  return std::fabs(a - b) <= tol * std::max(1.0, std::fabs(b));
}

// A started engine on a block of its own, with the heights at the start.
class EngineTest : public StartedEngineTest {
 protected:
  void push(const NdArray& a) { tv::push_double(c, a.dims, a.re, a.im); }

  // Runs fn over the nargin items on top: on success nout items take their
  // place; on failure the stacks are as they were (every word).
  int run(const std::function<int()>& fn, int nargin, int nout) {
    const int before = items();
    const StackSnapshot snap = snapshot_stacks(c);
    const int st = fn();
    if (st == kOk) {
      EXPECT_EQ(items(), before - nargin + nout);
    } else {
      EXPECT_TRUE(snapshot_stacks(c) == snap) << "status " << st << " changed the stacks";
    }
    EXPECT_TRUE(check_stack_invariants(c, desc0, data0));
    return st;
  }
};

}  // namespace ndref
