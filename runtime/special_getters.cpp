// The getter of the special handler variables: each value is computed from
// the block's event state and counts only when all the validity bits it
// needs are set; otherwise the variable is an empty matrix, never an error.
#include <cmath>

#include "engine/core/value_stack.h"
#include "runtime/layout.h"
#include "runtime/special_vars.h"

namespace {

bool has(const ManipState& m, uint32_t bits) { return (m.valid & bits) == bits; }

int push_column(EngineContext* c, const double* v, int32_t n) {
  double* re = nullptr;
  TN_TRY(stk_push_matrix(c, n, 1, &re, nullptr));
  for (int32_t k = 0; k < n; ++k) re[k] = v[k];
  return 0;
}

// A point (x, y) given its two bits: the complex value, its angle or length.
enum class PointForm { kComplex, kAngle, kLength };
int push_point(EngineContext* c, const ManipState& m, double x, double y, uint32_t bits, PointForm form) {
  if (!has(m, bits)) return stk_push_empty(c);
  switch (form) {
    case PointForm::kComplex: return stk_push_complex(c, x, y);
    case PointForm::kAngle: return stk_push_real(c, std::atan2(y, x));
    case PointForm::kLength: return stk_push_real(c, std::sqrt(x * x + y * y));
  }
  return stk_push_empty(c);
}

// _p0 / _p1: as many coordinates as their bits give, at least the first.
int push_point3(EngineContext* c, const ManipState& m, const double* xyz, const uint32_t* bits) {
  if (!has(m, bits[0])) return stk_push_empty(c);
  const int32_t n = has(m, bits[0] | bits[1] | bits[2]) ? 3 : has(m, bits[0] | bits[1]) ? 2 : 1;
  return push_column(c, xyz, n);
}

int push_if(EngineContext* c, bool ok, double v) { return ok ? stk_push_real(c, v) : stk_push_empty(c); }

}  // namespace

int handler_push_special_var(RuntimeBlock* b, int32_t id, int32_t code, bool previous) {
  EngineContext* c = rt_engine(b);
  const ManipState& m = b->h.manip;
  switch (code) {
    case 2: return push_point(c, m, m.x, m.y, kManipX | kManipY, PointForm::kComplex);
    case 3: return push_point(c, m, m.x0, m.y0, kManipX0 | kManipY0, PointForm::kComplex);
    case 4: return push_point(c, m, m.x1, m.y1, kManipX1 | kManipY1, PointForm::kComplex);
    case 5: return push_if(c, has(m, kManipX), m.x);
    case 6: return push_if(c, has(m, kManipX0), m.x0);
    case 7: return push_if(c, has(m, kManipX1), m.x1);
    case 8: return push_if(c, has(m, kManipY), m.y);
    case 9: return push_if(c, has(m, kManipY0), m.y0);
    case 10: return push_if(c, has(m, kManipY1), m.y1);
    case 11: return push_point(c, m, m.x, m.y, kManipX | kManipY, PointForm::kAngle);
    case 12: return push_point(c, m, m.x0, m.y0, kManipX0 | kManipY0, PointForm::kAngle);
    case 13: return push_point(c, m, m.x1, m.y1, kManipX1 | kManipY1, PointForm::kAngle);
    case 14: return push_point(c, m, m.x, m.y, kManipX | kManipY, PointForm::kLength);
    case 15: return push_point(c, m, m.x0, m.y0, kManipX0 | kManipY0, PointForm::kLength);
    case 16: return push_point(c, m, m.x1, m.y1, kManipX1 | kManipY1, PointForm::kLength);
    case 17: {
      const double p[3] = {m.x0, m.y0, m.z0};
      const uint32_t bits[3] = {kManipX0, kManipY0, kManipZ0};
      return push_point3(c, m, p, bits);
    }
    case 18: {
      const double p[3] = {m.x1, m.y1, m.z1};
      const uint32_t bits[3] = {kManipX1, kManipY1, kManipZ1};
      return push_point3(c, m, p, bits);
    }
    case 19: return push_if(c, has(m, kManipX | kManipX1), m.x1 / m.x);
    case 20: return push_if(c, has(m, kManipY | kManipY1), m.y1 / m.y);
    case 21:
      if (has(m, kManipDelta)) return stk_push_real(c, m.dx);
      return push_if(c, has(m, kManipX | kManipX1), m.x1 - m.x);
    case 22:
      if (has(m, kManipDelta)) return stk_push_real(c, m.dy);
      return push_if(c, has(m, kManipY | kManipY1), m.y1 - m.y);
    case 23: {
      if (!has(m, kManipQ1)) return stk_push_empty(c);
      const double q[2] = {m.q1, m.q2};
      return push_column(c, q, has(m, kManipQ2) ? 2 : 1);
    }
    case 24: return stk_push_logical_scalar(c, has(m, kManipFlag) ? 1 : 0);
    case 25: return push_if(c, has(m, kManipId), m.id);
    case 26: return push_if(c, has(m, kManipNb), m.nb);
    case 27: return push_if(c, has(m, kManipIx), m.ix);
    case 28: return inst_store_get_value(b, id, m.handler_subplot, previous);
    default: return stk_push_empty(c);
  }
}
