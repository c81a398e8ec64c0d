// The quaternion class: the value layout (an object payload that can sit in
// saved images), its accessors, the one-element kernels and the built-ins of
// the "!quaternion" section. Every row replaces its inputs by its result and
// leaves the stacks as they were when it fails.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// QuaternionArray, in 8-byte words: u32 ndims, u32 count, u32 hdrlen, u32
// dims[ndims], a zero u32 pad when 12 + 4 ndims is not a multiple of 8; then
// from word hdrlen the f64 components w[count], x[count], y[count], z[count],
// each in the engine's element order.
enum : int { kQFieldNdims = 0, kQFieldCount = 1, kQFieldHdrlen = 2, kQFieldDims = 3 };
constexpr int kQuaternionParts = 4;
// Arrays of more dims than this are refused (109), as by double().
constexpr int kQuaternionMaxDims = 16;
inline constexpr uint32_t quaternion_hdrlen(uint32_t ndims) { return (4 * ndims + 16) / 8; }
static_assert(quaternion_hdrlen(2) == 3 && quaternion_hdrlen(3) == 3 && quaternion_hdrlen(4) == 4);

// A quaternion (or, for operands, a real double array) as the built-ins see it.
struct QuaternionView {
  int ndims = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  double* c[kQuaternionParts] = {};  // w, x, y, z; x, y, z null for a real operand
  bool is_quaternion = false;
};

// Pushes a new quaternion of the dims (trailing singletons beyond the second
// dropped; none: 1 by 1) with uninitialised components.
int quaternion_new(EngineContext* ctx, int ndims, const uint32_t* dims, QuaternionView* out);
// The quaternion at depth; kWrongType when the item is not one.
int quaternion_get_arg(EngineContext* ctx, int depth, QuaternionView* out);
// A quaternion, else a double array taken by its real part (x, y, z null).
int quaternion_get_operand(EngineContext* ctx, int depth, QuaternionView* out);
inline double quaternion_norm2(double w, double x, double y, double z) {
  return w * w + x * x + y * y + z * z;
}
// Component j of element k of an operand (a real operand has no vector part).
inline double qpart(const QuaternionView& q, int j, int64_t k) { return q.c[j] ? q.c[j][k] : 0.0; }
// The components first..first+parts-1 as the real array double() gives.
int quaternion_push_parts(EngineContext* ctx, const QuaternionView& q, int first, int parts);
bool quaternion_same_dims(const QuaternionView& a, const QuaternionView& b);

// One-element kernels over q[4] = (w, x, y, z), in place.
void quaternion_exp_kernel(double* q);
void quaternion_log_kernel(double* q);
void quaternion_sqrt_kernel(double* q);
void quaternion_sin_kernel(double* q);
void quaternion_cos_kernel(double* q);
// Hamilton product out = a b (out may be a or b).
void quaternion_mul_kernel(const double* a, const double* b, double* out);
// a := exp(b log a), b on the left.
void quaternion_pow_kernel(double* a, const double* b);
void quaternion_from_rpy_kernel(double roll, double pitch, double yaw, double* q);
void quaternion_to_rpy_kernel(double w, double x, double y, double z, double* roll, double* pitch,
                              double* yaw);
void quaternion_to_matrix_kernel(double w, double x, double y, double z, double* m9);

// Built-ins of the section (data words as in the table).
int bi_quaternion(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_isquaternion(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_q2str(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_disp(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_double(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_count(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // 'l' 'd' 'e'
int bi_quaternion_isempty(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_size(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_plus(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_minus(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_uminus(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_uplus(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_product(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // t T r R l L
int bi_quaternion_power(EngineContext* ctx, int nargin, int nargout, uintptr_t data);    // p m
int bi_quaternion_compare(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // e n
int bi_quaternion_dump(EngineContext* ctx, char* buffer, int32_t capacity, int32_t* pos, uintptr_t data);

int bi_quaternion_norm(EngineContext* ctx, int nargin, int nargout, uintptr_t data);     // a n r
int bi_quaternion_elemfun(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // c C e l i v s S q
int bi_quaternion_arrayop(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // T t U d F f g p P m u R r s 9
int bi_quaternion_cat(EngineContext* ctx, int nargin, int nargout, uintptr_t data);      // c h v
int bi_rpy2q(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_q2rpy(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_q2mat(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_qslerp(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_subsref(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_subsasgn(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_quaternion_bounds(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // b e
