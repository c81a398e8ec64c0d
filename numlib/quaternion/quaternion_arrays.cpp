// Quaternion arrays component by component: the array functions of the real
// library applied to w, x, y and z in turn, concatenation, indexing and
// indexed assignment, and the index bounds. Each splits its operands into
// real components above its inputs, lets the engine work on them, and builds
// the result with the four-argument constructor; on failure everything it
// pushed is dropped again.
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/engine_ops.h"
#include "numlib/quaternion/quaternion.h"

namespace {

constexpr int kFieldNameCap = 8;
constexpr char kTypeParen[] = "()";
constexpr char kTypeField[] = ".";

// The stack height at entry; restore() drops whatever was pushed since.
struct Mark {
  int32_t desc;
  explicit Mark(EngineContext* ctx) : desc(ctx->desc_top) {}
  int restore(EngineContext* ctx, int status) const {
    while (ctx->desc_top > desc) stk_drop(ctx);
    return status;
  }
};

int as43(int status) { return status == kWrongArgType ? kWrongType : status; }

// Pushes component j of a quaternion or of a double array (its real part,
// zeros for the vector part) as a real array of its dims.
int push_component(EngineContext* ctx, const QuaternionView& q, int j) {
  int32_t dims[kQuaternionMaxDims];
  for (int k = 0; k < q.ndims; ++k) dims[k] = int32_t(q.dims[k]);
  double* re = nullptr;
  TN_TRY(stk_push_double_nd(ctx, q.ndims, dims, &re, nullptr));
  if (q.c[j]) std::memcpy(re, q.c[j], size_t(q.count) * 8);
  else std::memset(re, 0, size_t(q.count) * 8);
  return kOk;
}

// The four results on top, z deepest: reversed to w..z and combined.
int combine_components(EngineContext* ctx) {
  TN_TRY(stk_reverse(ctx, kQuaternionParts));
  return bi_quaternion(ctx, kQuaternionParts, 1, 0);
}

int call_array_function(EngineContext* ctx, int data, int nargin) {
  const NumlibEngineOps& ops = numlib_engine_ops();
  switch (data) {
    case 'T': case 't': return ops.transpose ? ops.transpose(ctx) : kNotSupported;
    case 'U': return ops.cumsum_cumprod ? ops.cumsum_cumprod(ctx, 0, nargin) : kNotSupported;
    case 'd': return ops.diff ? ops.diff(ctx, nargin) : kNotSupported;
    case 'F': case 'f': case 'g': {
      if (!ops.flipud_flipdim) return kNotSupported;
      const int form = data == 'F' ? kFlipFormDim : data == 'f' ? kFlipFormUd : kFlipFormLr;
      return ops.flipud_flipdim(ctx, form, nargin);
    }
    case 'p': case 'P': return ops.permute_ipermute ? ops.permute_ipermute(ctx, data == 'P') : kNotSupported;
    case 'm': case 'u':
      return ops.sum_prod_stats ? ops.sum_prod_stats(ctx, data == 'm' ? 'm' : 's', nargin) : kNotSupported;
    case 'R': return ops.repmat ? ops.repmat(ctx, nargin) : kNotSupported;
    case 'r': return ops.reshape_squeeze ? ops.reshape_squeeze(ctx, nargin) : kNotSupported;
    case 's': return ops.reshape_squeeze ? ops.reshape_squeeze(ctx, kReshapeSqueeze) : kNotSupported;
    case '9': return ops.rot90 ? ops.rot90(ctx, nargin) : kNotSupported;
    default: return TN_ILLEGAL();
  }
}

bool known_array_function(int data) {
  return std::strchr("TtUdFfgpPmuRrs9", data) != nullptr && data != 0;
}

int field_name(EngineContext* ctx, int s_depth, const char* field, char* out) {
  TN_TRY(stk_struct_get_field(ctx, s_depth, field, int32_t(std::strlen(field))));
  int32_t n = 0;
  const int status = stk_get_string_buf(ctx, 0, out, kFieldNameCap, &n);
  stk_drop(ctx);
  if (status != kOk) return kWrongArgType;
  out[n < kFieldNameCap ? n : kFieldNameCap - 1] = 0;
  return kOk;
}

// The component a field name stands for: 0..3, or -1.
int component_of(const char* name) {
  if (name[0] && !name[1]) {
    const char* at = std::strchr("wxyz", name[0]);
    if (at) return int(at - "wxyz");
  }
  return -1;
}

}  // namespace

int bi_quaternion_arrayop(EngineContext* ctx, int nargin, int, uintptr_t data) {
  if (!known_array_function(int(data))) return TN_ILLEGAL();
  QuaternionView q;
  const int s = quaternion_get_operand(ctx, nargin - 1, &q);
  TN_TRY(s == kWrongType ? kWrongArgType : s);
  const Mark mark(ctx);
  const int extra = nargin - 1;
  for (int j = kQuaternionParts - 1, done = 0; j >= 0; --j, ++done) {
    int status = push_component(ctx, q, j);
    if (status == kOk && extra > 0) status = stk_dup(ctx, done + 1, extra);
    if (status == kOk) status = call_array_function(ctx, int(data), nargin);
    if (status != kOk) return mark.restore(ctx, as43(status));
  }
  int status = combine_components(ctx);
  if (status == kOk && data == 'T') status = bi_quaternion_elemfun(ctx, 1, 1, 'c');
  if (status != kOk) return mark.restore(ctx, status);
  return stk_remove(ctx, 1, nargin);
}

// cat(dim, a, b, ...) 'c', horzcat(a, b) 'h', vertcat(a, b) 'v'.
int bi_quaternion_cat(EngineContext* ctx, int nargin, int, uintptr_t data) {
  if (data != 'c' && data != 'h' && data != 'v') return TN_ILLEGAL();
  const int first = data == 'c' ? 1 : 0;  // operands after dim
  const int operands = nargin - first;
  if (operands < 1 || (data != 'c' && operands != 2)) return kTooFewInputs;
  // Operand i lies at depth operands - 1 - i.
  const Mark mark(ctx);
  const NumlibEngineOps& ops = numlib_engine_ops();
  for (int j = kQuaternionParts - 1, done = 0; j >= 0; --j, ++done) {
    int status = kOk;
    if (first) status = stk_dup(ctx, done + nargin - 1, 1);  // a copy of dim
    for (int i = 0; i < operands && status == kOk; ++i) {
      QuaternionView q;
      // Depth counted from the top: the pushed items sit above the inputs.
      const int depth = (ctx->desc_top - mark.desc) / 3 + operands - 1 - i;
      status = quaternion_get_operand(ctx, depth, &q);
      if (status == kWrongType) status = kWrongArgType;
      if (status == kOk) status = push_component(ctx, q, j);
    }
    if (status == kOk) {
      if (data == 'c') status = ops.cat ? ops.cat(ctx, nargin) : kNotSupported;
      else if (data == 'h') status = ops.horzcat ? ops.horzcat(ctx) : kNotSupported;
      else status = ops.vertcat ? ops.vertcat(ctx) : kNotSupported;
      status = as43(status);
    }
    if (status != kOk) return mark.restore(ctx, status);
  }
  const int status = combine_components(ctx);
  if (status != kOk) return mark.restore(ctx, status);
  return stk_remove(ctx, 1, nargin);
}

// subsref(q, s): "()" per component, "." a component or the vector part.
int bi_quaternion_subsref(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q;
  int status = quaternion_get_arg(ctx, 1, &q);
  TN_TRY(status == kWrongType ? kWrongArgType : status);
  char type[kFieldNameCap];
  TN_TRY(field_name(ctx, 0, "type", type));
  if (std::strcmp(type, kTypeField) == 0) {
    char name[kFieldNameCap];
    TN_TRY(field_name(ctx, 0, "subs", name));
    const int j = component_of(name);
    if (j >= 0) status = push_component(ctx, q, j);
    else if (std::strcmp(name, "v") == 0) status = quaternion_push_parts(ctx, q, 1, 3);
    else return kUndefinedField;
    TN_TRY(status);
    return stk_remove(ctx, 1, 2);
  }
  if (std::strcmp(type, kTypeParen) != 0) return kWrongVariableType;
  const Mark mark(ctx);
  for (int j = kQuaternionParts - 1, done = 0; j >= 0; --j, ++done) {
    status = push_component(ctx, q, j);
    if (status == kOk) status = stk_dup(ctx, done + 1, 1);  // a copy of s
    if (status == kOk) status = as43(bi_subsref(ctx));
    if (status != kOk) return mark.restore(ctx, status);
  }
  status = combine_components(ctx);
  if (status != kOk) return mark.restore(ctx, status);
  return stk_remove(ctx, 1, 2);
}

// subsasgn(q, s, v): "()" component by component, "." one component.
int bi_quaternion_subsasgn(EngineContext* ctx, int, int, uintptr_t) {
  QuaternionView q, v;
  int status = quaternion_get_arg(ctx, 2, &q);
  TN_TRY(status == kWrongType ? kWrongArgType : status);
  status = quaternion_get_operand(ctx, 0, &v);
  TN_TRY(status == kWrongType ? kWrongArgType : status);
  char type[kFieldNameCap];
  TN_TRY(field_name(ctx, 1, "type", type));
  if (std::strcmp(type, kTypeField) == 0) {
    char name[kFieldNameCap];
    TN_TRY(field_name(ctx, 1, "subs", name));
    const int j = component_of(name);
    if (j < 0) return kUndefinedField;
    if (v.is_quaternion) return kWrongArgType;
    if (v.count != 1 && !quaternion_same_dims(q, v)) return kIncompatibleSize;
    for (int64_t k = 0; k < q.count; ++k) q.c[j][k] = v.c[0][v.count == 1 ? 0 : k];
    stk_drop(ctx);
    stk_drop(ctx);
    return kOk;
  }
  if (std::strcmp(type, kTypeParen) != 0) return kWrongVariableType;
  const Mark mark(ctx);
  for (int j = kQuaternionParts - 1, done = 0; j >= 0; --j, ++done) {
    status = push_component(ctx, q, j);
    if (status == kOk) status = stk_dup(ctx, done + 2, 1);  // a copy of s
    if (status == kOk) status = push_component(ctx, v, j);
    if (status == kOk) status = as43(bi_subsasgn(ctx));
    if (status != kOk) return mark.restore(ctx, status);
  }
  status = combine_components(ctx);
  if (status != kOk) return mark.restore(ctx, status);
  return stk_remove(ctx, 1, 3);
}

// beginning 'b' and end 'e' (q, position, count of indices).
int bi_quaternion_bounds(EngineContext* ctx, int, int, uintptr_t data) {
  if (data != 'b' && data != 'e') return TN_ILLEGAL();
  QuaternionView q;
  int status = quaternion_get_arg(ctx, 2, &q);
  TN_TRY(status == kWrongType ? kWrongArgType : status);
  double v = 1;
  if (data == 'e') {
    int32_t k = 0, n = 0;
    TN_TRY(stk_get_int(ctx, 1, &k));
    TN_TRY(stk_get_int(ctx, 0, &n));
    if (n == 1) v = double(q.count);
    else if (k < 1) return kBadDimension;
    else if (k <= q.ndims) v = q.dims[k - 1];
    else v = q.count > 0 ? 1 : 0;
  }
  TN_TRY(stk_push_real(ctx, v));
  return stk_remove(ctx, 1, 3);
}
