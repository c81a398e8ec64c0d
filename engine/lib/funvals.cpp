// Calling function values: feval, builtin and the call by an expanded list
// go straight to the callee (its results are theirs); apply and fevalx are
// resumed when it returns. deal, str2fun and fun2str make and take apart the
// values. Invariant: a call either is prepared, with exactly the callee's
// frame above what the instruction keeps, or fails leaving no frame.
#include "engine/lib/funvals.h"

#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/continuation.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/indexing.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/lib/eval.h"

namespace {

constexpr int kOutputCountLimit = 65536;  // apply's explicit output count
constexpr int kFevalxArrays = 5;
constexpr int kMaxExpandDims = 16;

int wrong_type_as_44(int status) { return status == kWrongType ? kWrongArgType : status; }

bool is_payload(const uint32_t* d, uint32_t subtype) { return d[0] == kKindPayload && d[2] == subtype; }

// The characters of the string at depth as a name, cut to 32; kUnknownCharset for a
// character above 255 (no name holds one).
int name_at(EngineContext* c, int depth, char (&name)[kIdentifierLimit + 1], int32_t* length) {
  TypedView t{};
  if (!stk_is_char(c, depth) || !typed_view(c, depth, &t)) return kWrongArgType;
  const int64_t n = t.count < kIdentifierLimit ? t.count : kIdentifierLimit;
  TN_TRY(wchars_to_name_bytes(t.elems, n, name));
  name[n] = 0;
  *length = int32_t(n);
  return kOk;
}

// The name and context of a function reference's payload at depth.
int reference_at(EngineContext* c, int depth, char (&name)[kIdentifierLimit + 1], int32_t* context) {
  const uint32_t* d = desc_at(c, depth);
  const char* text = nullptr;
  int32_t n = 0;
  code_string_ref(item_data(c, depth), &text, &n);
  if (n > kIdentifierLimit || int64_t(n) + 4 > int64_t(d[1]) * 8) return kUndefinedFunction;
  std::memcpy(name, text, size_t(n));
  name[n] = 0;
  *context = tn::load<uint16_t>(reinterpret_cast<const uint8_t*>(item_data(c, depth)) + 2);
  return kOk;
}

uint32_t data_byte_offset(EngineContext* c, const void* p) {
  return uint32_t(reinterpret_cast<const uint8_t*>(p) - reinterpret_cast<const uint8_t*>(data_words(c)));
}

// Calls name with the args items on top; the function value lies at depth
// args and is removed first. A statement call (nargout < 0) leaves exactly
// one item whatever it reaches: a built-in's stub pushes it, a user
// function's frame leaves it on return, so nothing is added here.
int call_by_name(EngineContext* c, const char* name, int32_t context_id, int args, int nargout, uint32_t flags) {
  TN_TRY(stk_remove(c, args, 1));
  return fn_call_resolving(c, name, context_id, args, nargout, flags);
}

int call_inline(EngineContext* c, int32_t caller_id, int args, int nargout) {
  InlineParts parts{};
  TN_TRY(wrong_type_as_44(stk_get_inline(c, args, &parts)));
  if (!parts.code) return kWrongArgType;
  const CodePosition keep = c->pos;
  const uint32_t start = data_byte_offset(c, parts.code + code_header_words(parts.code));
  const int status = frame_push(c, keep.kind != kAreaNone ? &keep : nullptr, parts.code, caller_id, 0, nargout, args,
                                1, 0, 0);
  if (status != kOk) return status;
  c->pos = CodePosition{kAreaDataStack, 0, start};
  return kOk;
}

// --- Opcode handlers -------------------------------------------------------------

int h_feval(EngineContext* c, int32_t builtin_only, int nargin, int nargout, int) {
  return call_function_value(c, builtin_only, frame_current_function(c), nargin, nargout);
}

// The call by an expanded list: [list, name] or [list, empty] for feval,
// whose function value is then the list's first element.
int h_call_list(EngineContext* c, int32_t, int nargout, int, int) {
  if (!stk_has_item(c, 1)) return kBadArgument;
  const uint32_t* top = desc_at(c, 0);
  int extra = 0;
  if (top[0] == kKindReal && int64_t(top[1]) * top[2] == 0) {
    stk_drop(c);
  } else {
    TN_TRY(stk_move(c, 2, 1));
    extra = 1;
  }
  if (desc_at(c, 0)[0] == kKindReference) TN_TRY(ref_deref_top(c));
  int32_t count = 0;
  TN_TRY(wrong_type_as_44(stk_expand_list(c, &count)));
  return call_function_value(c, 0, frame_current_function(c), count + extra, nargout);
}

int h_deal(EngineContext* c, int32_t, int nargin, int nargout, int) { return bi_deal(c, nargin, nargout); }
int h_str2fun(EngineContext* c, int32_t, int, int, int) { return bi_str2fun(c); }
int h_fun2str(EngineContext* c, int32_t, int, int, int) { return bi_fun2str(c); }
int h_eval(EngineContext* c, int32_t, int, int nargout, int) { return bi_eval(c, nargout); }

// A function value read with subscripts: the subscripts are its arguments.
int index_call(EngineContext* c, int nargin, int nargout) {
  return call_function_value(c, 0, frame_current_function(c), nargin + 1, nargout);
}

// --- fevalx: singleton expansion ---------------------------------------------------

// Strides of a row-by-row array: a page's rows, then its columns, then the
// pages in the order of the higher subscripts.
void array_strides(int nd, const int32_t* dims, int64_t* strides) {
  int64_t page = 1;
  for (int k = 0; k < nd && k < 2; ++k) page *= dims[k];
  if (nd >= 2) {
    strides[1] = 1;
    strides[0] = dims[1];
  } else if (nd == 1) {
    strides[0] = 1;
  }
  int64_t s = page;
  for (int k = 2; k < nd; ++k) {
    strides[k] = s;
    s *= dims[k];
  }
}

// Pushes src repeated along the dimensions where it has size 1 up to the
// common shape, as an array of its own class.
int push_expanded(EngineContext* c, int depth, int nd, const int32_t* shape) {
  ArrayView v{};
  if (!array_view(desc_at(c, depth), item_data(c, depth), &v)) return kWrongArgType;
  int32_t src_dims[kMaxExpandDims];
  for (int k = 0; k < nd; ++k) src_dims[k] = k < v.ndims ? int32_t(v.dims[k]) : 1;
  int64_t total = 1;
  for (int k = 0; k < nd; ++k) total = tn::mul64(total, shape[k]);
  const bool cplx = v.cplx && total > 0;
  switch (v.cls) {
    case ElemClass::Double: {
      double *re = nullptr, *im = nullptr;
      TN_TRY(stk_push_double_nd(c, nd, shape, &re, cplx ? &im : nullptr));
      break;
    }
    case ElemClass::Single: {
      float *re = nullptr, *im = nullptr;
      TN_TRY(stk_push_single_nd(c, nd, shape, &re, cplx ? &im : nullptr));
      break;
    }
    case ElemClass::Int: {
      void* data = nullptr;
      TN_TRY(stk_push_typed_array(c, nd, shape, int(v.esize), (v.type & kElemUnsigned) ? 1 : 0, &data));
      desc_at(c, 0)[2] = v.subtype;
      break;
    }
  }
  // The source lies below the new array: find both again.
  ArrayView src{}, dst{};
  array_view(desc_at(c, depth + 1), item_data(c, depth + 1), &src);
  array_view(desc_at(c, 0), item_data(c, 0), &dst);
  int64_t src_strides[kMaxExpandDims] = {}, dst_strides[kMaxExpandDims] = {};
  array_strides(nd, src_dims, src_strides);
  array_strides(nd, shape, dst_strides);
  int64_t index[kMaxExpandDims] = {};
  const uint32_t size = src.esize;
  for (int64_t n = 0; n < total; ++n) {
    int64_t from = 0, to = 0;
    for (int k = 0; k < nd; ++k) {
      if (src_dims[k] != 1) from += index[k] * src_strides[k];
      to += index[k] * dst_strides[k];
    }
    std::memcpy(dst.re + to * size, src.re + from * size, size);
    if (dst.im) {
      if (src.im) std::memcpy(dst.im + to * size, src.im + from * size, size);
      else std::memset(dst.im + to * size, 0, size);
    }
    for (int k = nd - 1; k >= 0; --k) {
      if (++index[k] < shape[k]) break;
      index[k] = 0;
    }
  }
  return kOk;
}

int fevalx_start(EngineContext* c, int nargin, int nargout) {
  if (nargin < 2 || nargin > kFevalxArrays + 1 || !stk_has_item(c, nargin - 1)) return kBadArgument;
  const int args = nargin - 1;
  const uint32_t* f = desc_at(c, args);
  if (!stk_is_char(c, args) && !is_payload(f, kPayInline) && !is_payload(f, kPayFuncRef)) return kWrongArgType;
  int32_t shape[kMaxExpandDims];
  int nd = 2;
  shape[0] = shape[1] = 1;
  for (int depth = 0; depth < args; ++depth) {
    ArrayView v{};
    if (!array_view(desc_at(c, depth), item_data(c, depth), &v)) continue;  // passed as it is
    if (v.ndims > kMaxExpandDims) return kArgOutOfRange;
    for (int k = nd; k < v.ndims; ++k) shape[k] = 1;
    if (v.ndims > nd) nd = v.ndims;
    for (int k = 0; k < v.ndims; ++k) {
      const int32_t s = int32_t(v.dims[k]);
      if (s == shape[k] || s == 1) continue;
      if (shape[k] != 1) return kIncompatibleSize;
      shape[k] = s;
    }
  }
  for (int depth = 0; depth < args; ++depth) {
    ArrayView v{};
    if (!array_view(desc_at(c, depth), item_data(c, depth), &v)) continue;
    bool same = true;
    for (int k = 0; k < nd && same; ++k) same = (k < v.ndims ? int32_t(v.dims[k]) : 1) == shape[k];
    if (same) continue;
    TN_TRY(push_expanded(c, depth, nd, shape));
    stk_replace_with_top(c, depth);
  }
  return builtin_call_value(c, args, args, nargout);
}

}  // namespace

int call_function_value(EngineContext* c, int builtin_only, int32_t caller_id, int nargin, int nargout) {
  if (nargin < 1) return kTooFewInputs;
  const int args = nargin - 1;
  if (!stk_has_item(c, args)) return kBadArgument;
  const uint32_t* d = desc_at(c, args);
  if (!builtin_only && is_payload(d, kPayInline)) return call_inline(c, caller_id, args, nargout);
  char name[kIdentifierLimit + 1] = {};
  if (!builtin_only && is_payload(d, kPayFuncRef)) {
    int32_t context = 0;
    TN_TRY(reference_at(c, args, name, &context));
    return call_by_name(c, name, context, args, nargout, 0);
  }
  int32_t n = 0;
  TN_TRY(name_at(c, args, name, &n));
  if (n == 0) return kNullName;
  return call_by_name(c, name, caller_id, args, nargout, builtin_only ? uint32_t(kResolveBuiltinOnly) : 0u);
}

int str2fun_core(EngineContext* c, int depth, int32_t context_id) {
  if (!stk_has_item(c, depth)) return kBadArgument;
  char name[kIdentifierLimit + 1] = {};
  int32_t n = 0;
  TN_TRY(name_at(c, depth, name, &n));
  TN_TRY(stack_push_record(c, name, n, context_id));
  stk_replace_with_top(c, depth);
  return kOk;
}

int bi_str2fun(EngineContext* c) { return str2fun_core(c, 0, frame_current_function(c)); }

int bi_fun2str(EngineContext* c) {
  if (!stk_has_item(c, 0)) return kBadArgument;
  const uint32_t* d = desc_at(c, 0);
  if (is_payload(d, kPayFuncRef)) {
    const char* text = nullptr;
    int32_t n = 0;
    code_string_ref(item_data(c, 0), &text, &n);
    if (int64_t(n) + 4 > int64_t(d[1]) * 8) return kWrongArgType;
    TN_TRY(stk_push_cstr(c, n, text));
  } else if (is_payload(d, kPayInline)) {
    InlineParts parts{};
    TN_TRY(wrong_type_as_44(stk_get_inline(c, 0, &parts)));
    TN_TRY(stk_push_cstr(c, parts.source_length, parts.source));
  } else {
    return kWrongArgType;
  }
  stk_replace_with_top(c, 0);
  return kOk;
}

int bi_deal(EngineContext* c, int nargin, int nargout) {
  if (nargin == 0) {
    if (nargout < 0) return stk_push_no_value(c);
    return nargout == 0 ? kOk : kTooManyOutputs;
  }
  if (nargin < 0 || !stk_has_item(c, nargin - 1)) return kBadArgument;
  if (nargout < 0) nargout = 1;
  if (nargin == 1) {
    if (nargout == 0) {
      stk_drop(c);
      return kOk;
    }
    for (int k = 1; k < nargout; ++k) {
      if (const int status = stk_dup(c, 0, 1); status != kOk) {
        for (; k > 1; --k) stk_drop(c);  // the copies made so far go again
        return status;
      }
    }
    return kOk;
  }
  if (nargout > nargin) return kTooManyOutputs;
  TN_TRY(stk_remove(c, 0, nargin - nargout));
  return stk_reverse(c, nargout);
}

int bi_apply(EngineContext* c, int nargin, int nargout, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results >= 0) {
    // [f, r_n ... r_1]: the first output is on top; the list takes them in order.
    TN_TRY(stk_reverse(c, results));
    TN_TRY(stk_make_container(c, results, 0, nullptr, 0));
    return stk_remove(c, 1, 1);
  }
  if (nargin < 2 || nargin > 3 || !stk_has_item(c, nargin - 1)) return kBadArgument;
  int outputs = -1;
  if (nargin == 3) {
    double v = 0;
    TN_TRY(wrong_type_as_44(stk_get_real_scalar(c, 0, &v)));
    if (!(v >= 0 && v <= kOutputCountLimit) || v != double(tn::dtoi32(v))) return kArgOutOfRange;
    outputs = tn::dtoi32(v);
  }
  if (!stk_is_list(c, nargin == 3 ? 1 : 0) && !stk_is_struct(c, nargin == 3 ? 1 : 0)) return kWrongArgType;
  if (nargin == 3) stk_drop(c);
  int32_t count = 0;
  TN_TRY(wrong_type_as_44(stk_expand_list(c, &count)));
  if (outputs < 0) {
    int32_t max_in = 0, max_out = 0;
    TN_TRY(funarg_resolve(c, count, frame_current_function(c), &max_in, &max_out));
    outputs = max_out;
    if (outputs == 0 && nargout >= 1) outputs = 1;
  }
  // A function that refuses the count is tried with one output fewer. The
  // frame's own check answers kTooManyOutputs for a user function, which the resolver
  // lets through, so that answer counts as a refusal too.
  for (;;) {
    const int status = builtin_call_value(c, count, count, outputs);
    if (status == kOk || outputs == 0) return status;
    if (status != kWrongNargin && status != kWrongNargout && status != kTooManyOutputs) return status;
    --outputs;
  }
}

int bi_fevalx(EngineContext* c, int nargin, int nargout, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) return fevalx_start(c, nargin, nargout);
  TN_TRY(stk_remove(c, results, 1));
  if (nargout < 0 && results == 0) return stk_push_no_value(c);
  return kOk;
}

void funvals_install() {
  interp_set_op_handler(kOpFeval, h_feval, 0);
  interp_set_op_handler(kOpBuiltin, h_feval, 1);
  interp_set_op_handler(kOpCallNamed, h_call_list, 0);
  interp_set_op_handler(kOpDeal, h_deal, 0);
  interp_set_op_handler(kOpStr2fun, h_str2fun, 0);
  interp_set_op_handler(kOpFun2str, h_fun2str, 0);
  interp_set_op_handler(kOpEval, h_eval, 0);
  index_set_function_caller(index_call);
}
