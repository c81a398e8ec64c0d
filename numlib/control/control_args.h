// What the control built-ins share: scratch handed out front to back, and a
// real matrix argument read from the value stack (a complex one is refused).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/core/value_stack.h"

namespace control_args {

// Scratch handed out front to back.
struct Bump {
  double* p;
  double* take(int64_t n) {
    double* r = p;
    p += n;
    return r;
  }
};

struct Mat {
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  int64_t count() const { return int64_t(rows) * cols; }
};

// False when an element is NaN or infinite.
inline bool finite(const Mat& m) {
  return std::all_of(m.re, m.re + m.count(), [](double x) { return std::isfinite(x); });
}

inline int real_matrix(EngineContext* ctx, int depth, Mat* m) {
  double* im = nullptr;
  if (stk_get_matrix(ctx, depth, &m->rows, &m->cols, &m->re, &im) != kOk || im) return kWrongArgType;
  return kOk;
}

}  // namespace control_args
