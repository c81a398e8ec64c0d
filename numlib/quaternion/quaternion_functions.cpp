// Quaternion functions element by element: norms and scalar parts, the
// elementwise functions computed in place on the argument, conversions from
// and to roll-pitch-yaw angles and rotation matrices, and spherical linear
// interpolation.
#include <cmath>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/quaternion/quaternion.h"

namespace {

constexpr double kPi = 3.141592653589793;
// Closer than this the two ends are interpolated linearly.
constexpr double kSlerpLinear = 0.9995;
constexpr int kMatrixSide = 3;

int quaternion_arg44(EngineContext* ctx, int depth, QuaternionView* q) {
  const int s = quaternion_get_arg(ctx, depth, q);
  return s == kWrongType ? kWrongArgType : s;
}

int push_real_like(EngineContext* ctx, const QuaternionView& q, double** re) {
  int32_t dims[kQuaternionMaxDims];
  for (int k = 0; k < q.ndims; ++k) dims[k] = int32_t(q.dims[k]);
  return stk_push_double_nd(ctx, q.ndims, dims, re, nullptr);
}

// A double array or a quaternion as an interpolation end: a double array
// stands for quaternion(A), its imaginary part as x.
struct End {
  QuaternionView q;
  double* im = nullptr;
  void load(int64_t k, double* out) const {
    for (int j = 0; j < kQuaternionParts; ++j) out[j] = qpart(q, j, k);
    if (!q.is_quaternion && im) out[1] = im[k];
  }
};

int read_end(EngineContext* ctx, int depth, End* e) {
  if (quaternion_get_arg(ctx, depth, &e->q) == kOk) return kOk;
  e->q = QuaternionView{};
  double* re = nullptr;
  TN_TRY(stk_get_double_array(ctx, depth, &e->q.ndims, &e->q.dims, &e->q.count, &re, &e->im));
  e->q.c[0] = re;
  return kOk;
}

bool dims_equal(int na, const uint32_t* a, int nb, const uint32_t* b) {
  if (na != nb) return false;
  for (int k = 0; k < na; ++k)
    if (a[k] != b[k]) return false;
  return true;
}

void normalise(double* q) {
  const double f = 1 / std::sqrt(quaternion_norm2(q[0], q[1], q[2], q[3]));
  for (int j = 0; j < kQuaternionParts; ++j) q[j] *= f;
}

void slerp_one(double* a, const double* b, double t, double* out) {
  normalise(a);
  double bb[4] = {b[0], b[1], b[2], b[3]};
  normalise(bb);
  const double d = a[0] * bb[0] + a[1] * bb[1] + a[2] * bb[2] + a[3] * bb[3];
  if (d > kSlerpLinear) {
    for (int j = 0; j < kQuaternionParts; ++j) out[j] = (1 - t) * a[j] + t * bb[j];
    return;
  }
  const double theta = (d < -1 || std::isnan(d)) ? t * kPi : t * std::acos(d);
  double u[4];
  for (int j = 0; j < kQuaternionParts; ++j) u[j] = bb[j] - d * a[j];
  const double m = std::sqrt(quaternion_norm2(u[0], u[1], u[2], u[3]));
  if (m == 0) {
    // Opposite ends: any direction orthogonal to a will do; this one is a's
    // vector part turned away from bb, or i for a real a.
    if (a[1] == 0 && a[2] == 0 && a[3] == 0) {
      u[0] = 0, u[1] = 1, u[2] = 0, u[3] = 0;
    } else {
      u[0] = 1 - bb[0] * a[0], u[1] = -bb[0] * a[1], u[2] = -bb[0] * a[2], u[3] = -bb[0] * a[3];
      normalise(u);
    }
    for (int j = 0; j < kQuaternionParts; ++j) out[j] = std::cos(theta) * a[j] + std::sin(theta) * u[j];
    return;
  }
  for (int j = 0; j < kQuaternionParts; ++j) out[j] = std::cos(theta) * a[j] + std::sin(theta) / m * u[j];
}

}  // namespace

// abs 'a', qnorm 'n', real 'r'.
int bi_quaternion_norm(EngineContext* ctx, int, int, uintptr_t data) {
  if (data != 'a' && data != 'n' && data != 'r') return TN_ILLEGAL();
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  double* re = nullptr;
  TN_TRY(push_real_like(ctx, q, &re));
  for (int64_t k = 0; k < q.count; ++k) {
    const double n2 = quaternion_norm2(q.c[0][k], q.c[1][k], q.c[2][k], q.c[3][k]);
    re[k] = data == 'a' ? std::sqrt(n2) : data == 'n' ? n2 : q.c[0][k];
  }
  stk_replace_with_top(ctx, 0);
  return kOk;
}

// conj 'c', cos 'C', exp 'e', log 'l', qimag 'i', qinv 'v', sign 's', sin
// 'S', sqrt 'q': in place on the argument.
int bi_quaternion_elemfun(EngineContext* ctx, int, int, uintptr_t data) {
  void (*kernel)(double*) = nullptr;
  switch (data) {
    case 'C': kernel = quaternion_cos_kernel; break;
    case 'e': kernel = quaternion_exp_kernel; break;
    case 'l': kernel = quaternion_log_kernel; break;
    case 'S': kernel = quaternion_sin_kernel; break;
    case 'q': kernel = quaternion_sqrt_kernel; break;
    case 'c': case 'i': case 'v': case 's': break;
    default: return TN_ILLEGAL();
  }
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  for (int64_t k = 0; k < q.count; ++k) {
    double e[4] = {q.c[0][k], q.c[1][k], q.c[2][k], q.c[3][k]};
    const double n2 = quaternion_norm2(e[0], e[1], e[2], e[3]);
    switch (data) {
      case 'c': e[1] = -e[1], e[2] = -e[2], e[3] = -e[3]; break;
      case 'i': e[0] = 0; break;
      case 'v': e[0] /= n2, e[1] /= -n2, e[2] /= -n2, e[3] /= -n2; break;
      case 's': {
        const double n = std::sqrt(n2);
        for (double& v : e) v /= n;
        break;
      }
      default: kernel(e); break;
    }
    for (int j = 0; j < kQuaternionParts; ++j) q.c[j][k] = e[j];
  }
  return kOk;
}

int bi_rpy2q(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 3) return nargin < 3 ? kTooFewInputs : kTooManyInputs;
  QuaternionView a[3];
  for (int i = 0; i < 3; ++i) {
    a[i] = QuaternionView{};
    double* re = nullptr;
    const int s = stk_get_double_array(ctx, 2 - i, &a[i].ndims, &a[i].dims, &a[i].count, &re, nullptr);
    TN_TRY(s == kWrongType ? kWrongArgType : s);
    a[i].c[0] = re;
  }
  const QuaternionView* shape = &a[0];
  for (int i = 0; i < 3; ++i)
    if (a[i].count != 1) shape = &a[i];
  for (int i = 0; i < 3; ++i)
    if (a[i].count != 1 && !quaternion_same_dims(a[i], *shape)) return kIncompatibleSize;
  QuaternionView q;
  TN_TRY(quaternion_new(ctx, shape->ndims, shape->dims, &q));
  for (int64_t k = 0; k < q.count; ++k) {
    double e[4];
    quaternion_from_rpy_kernel(a[0].c[0][a[0].count == 1 ? 0 : k], a[1].c[0][a[1].count == 1 ? 0 : k],
                               a[2].c[0][a[2].count == 1 ? 0 : k], e);
    for (int j = 0; j < kQuaternionParts; ++j) q.c[j][k] = e[j];
  }
  stk_replace_with_top(ctx, 0);
  return stk_remove(ctx, 1, 2);
}

// [roll, pitch, yaw] = q2rpy(q): the first output ends on top.
int bi_q2rpy(EngineContext* ctx, int, int nargout, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  const int outs = nargout < 1 ? 1 : nargout > 3 ? 3 : nargout;
  double* angle[3] = {};
  for (int i = outs - 1; i >= 0; --i) {
    const int s = push_real_like(ctx, q, &angle[i]);
    if (s != kOk) {
      for (int j = outs - 1; j > i; --j) stk_drop(ctx);
      return s;
    }
  }
  for (int64_t k = 0; k < q.count; ++k) {
    double r = 0, p = 0, y = 0;
    quaternion_to_rpy_kernel(q.c[0][k], q.c[1][k], q.c[2][k], q.c[3][k], &r, &p, &y);
    angle[0][k] = r;
    if (outs > 1) angle[1][k] = p;
    if (outs > 2) angle[2][k] = y;
  }
  return stk_remove(ctx, outs, 1);
}

int bi_q2mat(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  TN_TRY(quaternion_arg44(ctx, 0, &q));
  if (q.count != 1) return kBadSize;
  double* re = nullptr;
  TN_TRY(stk_push_matrix(ctx, kMatrixSide, kMatrixSide, &re, nullptr));
  quaternion_to_matrix_kernel(q.c[0][0], q.c[1][0], q.c[2][0], q.c[3][0], re);
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_qslerp(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 3) return nargin < 3 ? kTooFewInputs : kTooManyInputs;
  End e1, e2;
  TN_TRY(read_end(ctx, 2, &e1));
  TN_TRY(read_end(ctx, 1, &e2));
  int tn = 0;
  const uint32_t* td = nullptr;
  int64_t tc = 0;
  double* t = nullptr;
  TN_TRY(stk_get_double_array(ctx, 0, &tn, &td, &tc, &t, nullptr));
  // The result takes the dims of the first argument with more than one element.
  int nd = e1.q.ndims;
  const uint32_t* dims = e1.q.dims;
  int64_t n = 1;
  if (e1.q.count != 1) n = e1.q.count;
  else if (e2.q.count != 1) nd = e2.q.ndims, dims = e2.q.dims, n = e2.q.count;
  else if (tc != 1) nd = tn, dims = td, n = tc;
  if ((e1.q.count != 1 && !dims_equal(e1.q.ndims, e1.q.dims, nd, dims)) ||
      (e2.q.count != 1 && !dims_equal(e2.q.ndims, e2.q.dims, nd, dims)) ||
      (tc != 1 && !dims_equal(tn, td, nd, dims)))
    return kIncompatibleSize;
  QuaternionView r;
  TN_TRY(quaternion_new(ctx, nd, dims, &r));
  for (int64_t k = 0; k < n; ++k) {
    double a[4], b[4], out[4];
    e1.load(e1.q.count == 1 ? 0 : k, a);
    e2.load(e2.q.count == 1 ? 0 : k, b);
    slerp_one(a, b, t[tc == 1 ? 0 : k], out);
    for (int j = 0; j < kQuaternionParts; ++j) r.c[j][k] = out[j];
  }
  stk_replace_with_top(ctx, 0);
  return stk_remove(ctx, 1, 2);
}
