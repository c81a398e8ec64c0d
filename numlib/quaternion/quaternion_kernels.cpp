// One-element quaternion kernels: products, the exponential and logarithm
// that the powers stand on, square root, sine and cosine, and the conversions
// between quaternions, roll-pitch-yaw angles and rotation matrices.
#include <cmath>

#include "numlib/quaternion/quaternion.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEps = 2.220446049250313e-16;
// Beyond this |d| the pitch is taken as exactly plus or minus 90 degrees.
constexpr double kGimbalLimit = 0.9999999;

double vector_norm(const double* q) { return std::sqrt(q[1] * q[1] + q[2] * q[2] + q[3] * q[3]); }

void scale_vector(double* q, double f) {
  q[1] *= f;
  q[2] *= f;
  q[3] *= f;
}

}  // namespace

void quaternion_mul_kernel(const double* a, const double* b, double* out) {
  const double w = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
  const double x = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
  const double y = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
  const double z = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
  out[0] = w, out[1] = x, out[2] = y, out[3] = z;
}

void quaternion_exp_kernel(double* q) {
  const double r = vector_norm(q);
  const double e = std::exp(q[0]);
  if (r == 0) {
    q[0] = e, q[1] = q[2] = q[3] = 0;
    return;
  }
  q[0] = e * std::cos(r);
  scale_vector(q, e * std::sin(r) / r);
}

void quaternion_log_kernel(double* q) {
  const double r = vector_norm(q);
  const double w = q[0];
  q[0] = std::log(std::sqrt(quaternion_norm2(q[0], q[1], q[2], q[3])));
  if (r > 0) {
    scale_vector(q, std::atan2(r, w) / r);
  } else {
    q[1] = w < 0 ? kPi : 0.0;
    q[2] = q[3] = 0;
  }
}

void quaternion_sqrt_kernel(double* q) {
  const double r = vector_norm(q);
  const double w = q[0];
  if (r == 0) {
    if (w >= 0) q[0] = std::sqrt(w), q[1] = 0;
    else q[0] = 0, q[1] = std::sqrt(-w);
    q[2] = q[3] = 0;
    return;
  }
  const double n = std::sqrt(quaternion_norm2(q[0], q[1], q[2], q[3]));
  double a = 0, b = 0;
  if (w >= 0) {
    a = std::sqrt((n + w) / 2);
    b = r / (2 * a);
  } else {
    b = std::sqrt((n - w) / 2);
    a = r / (2 * b);
  }
  q[0] = a;
  scale_vector(q, b / r);
}

void quaternion_sin_kernel(double* q) {
  const double r = vector_norm(q);
  const double w = q[0];
  const double er = std::exp(r), emr = std::exp(-r);
  const double cosh_r = (er + emr) / 2, sinh_r = (er - emr) / 2;
  q[0] = std::sin(w) * cosh_r;
  if (r == 0) q[1] = q[2] = q[3] = 0;
  else scale_vector(q, std::cos(w) * sinh_r / r);
}

void quaternion_cos_kernel(double* q) {
  const double r = vector_norm(q);
  const double w = q[0];
  const double er = std::exp(r), emr = std::exp(-r);
  const double cosh_r = (er + emr) / 2, sinh_r = (er - emr) / 2;
  q[0] = std::cos(w) * cosh_r;
  if (r == 0) q[1] = q[2] = q[3] = 0;
  else scale_vector(q, -std::sin(w) * sinh_r / r);
}

void quaternion_pow_kernel(double* a, const double* b) {
  quaternion_log_kernel(a);
  quaternion_mul_kernel(b, a, a);
  quaternion_exp_kernel(a);
}

void quaternion_from_rpy_kernel(double roll, double pitch, double yaw, double* q) {
  const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  q[0] = cr * cp * cy + sr * sp * sy;
  q[1] = sr * cp * cy - cr * sp * sy;
  q[2] = cr * sp * cy + sr * cp * sy;
  q[3] = cr * cp * sy - sr * sp * cy;
}

void quaternion_to_rpy_kernel(double w, double x, double y, double z, double* roll, double* pitch,
                              double* yaw) {
  const double n2 = quaternion_norm2(w, x, y, z);
  double r = 0, p = 0, a = 0;
  if (n2 >= kEps) {
    const double f = 1 / std::sqrt(n2);
    w *= f, x *= f, y *= f, z *= f;
    const double d = 2 * (x * z - w * y);
    if (std::fabs(d) <= kGimbalLimit) {
      r = std::atan2(2 * (y * z + w * x), w * w - x * x - y * y + z * z);
      p = std::asin(-d);
      a = std::atan2(2 * (w * z + x * y), w * w + x * x - y * y - z * z);
    } else {
      r = 0;
      p = d < 0 ? kPi / 2 : -kPi / 2;
      a = std::atan2(2 * (w * z - x * y), -2 * (w * y + x * z) * d);
    }
  }
  if (roll) *roll = r;
  if (pitch) *pitch = p;
  if (yaw) *yaw = a;
}

void quaternion_to_matrix_kernel(double w, double x, double y, double z, double* m) {
  const double n2 = quaternion_norm2(w, x, y, z);
  if (n2 < kEps) {
    for (int k = 0; k < 9; ++k) m[k] = (k % 4 == 0) ? 1.0 : 0.0;
    return;
  }
  const double f = 1 / std::sqrt(n2);
  w *= f, x *= f, y *= f, z *= f;
  m[0] = w * w + x * x - y * y - z * z;
  m[1] = 2 * (x * y - w * z);
  m[2] = 2 * (x * z + w * y);
  m[3] = 2 * (x * y + w * z);
  m[4] = w * w - x * x + y * y - z * z;
  m[5] = 2 * (y * z - w * x);
  m[6] = 2 * (x * z - w * y);
  m[7] = 2 * (w * x + y * z);
  m[8] = w * w - x * x - y * y + z * z;
}
