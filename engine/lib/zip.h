// The shared shape of the elementwise loops: out[i] = f(a[i], b[i]) over two
// operands of which either may be one element expanded over the result. That
// element is read once, outside the loop, so each branch is a plain loop the
// compiler can vectorise. Internal to the engine base library.
#pragma once

#include <cstdint>

// One operand of an elementwise loop: its real (or only) data, its imaginary
// parts or null, and whether it advances (false: one element, expanded).
struct LoopArg {
  const void* re;
  const void* im;
  bool array;
};

template <typename T, typename R, typename F>
inline void zip(R* out, const LoopArg& a, const LoopArg& b, int64_t n, F f) {
  const T* x = static_cast<const T*>(a.re);
  const T* y = static_cast<const T*>(b.re);
  if (a.array && b.array) {
    for (int64_t i = 0; i < n; ++i) out[i] = f(x[i], y[i]);
  } else if (a.array) {
    const T y0 = y[0];
    for (int64_t i = 0; i < n; ++i) out[i] = f(x[i], y0);
  } else if (b.array) {
    const T x0 = x[0];
    for (int64_t i = 0; i < n; ++i) out[i] = f(x0, y[i]);
  } else if (n > 0) {
    out[0] = f(x[0], y[0]);
  }
}
