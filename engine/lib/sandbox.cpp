// sandbox and sandboxtrust. The code of sandbox is compiled as a block, like
// eval's, but in a workspace of its own (nothing it assigns reaches its
// caller), and its frame is marked restricted: the interpreter then refuses
// library rows outside "!" sections (403) and global or persistent
// declarations (404), and frames called from it inherit the mark.
// While the compiler works the text lies beyond the lowered end of the data
// stack; the end is restored whatever the compilation gives.
#include "engine/lib/sandbox.h"

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

int bi_sandbox(EngineContext* c, int nargin, int nargout, uintptr_t) {
  // The block has no argument slot: a second input is not taken.
  if (nargin != 1) return kNotSupported;
  if (!stk_has_item(c, 0)) return kBadArgument;
  TypedView t{};
  if (!stk_is_char(c, 0) || !typed_view(c, 0, &t)) return kWrongArgType;
  const int64_t length = t.count;
  const int64_t words = (length + 7) / 8;
  if (words + 1 > data_free_words(c) || length > INT32_MAX) return kDataStackOverflow;
  auto* text = reinterpret_cast<char*>(data_words(c) + c->data_capacity - words);
  TN_TRY(wchars_to_name_bytes(t.elems, length, text));
  // The shape, to put the argument back as it was when the code fails to compile.
  int32_t dims[kMaxDims] = {};
  const int ndims = int(t.ndims) <= kMaxDims ? int(t.ndims) : 0;
  for (int k = 0; k < ndims; ++k) dims[k] = int32_t(t.dims[k]);
  if (ndims == 0) return kWrongArgType;
  stk_drop(c);
  const bool statement = nargout < 0;
  if (statement) TN_TRY(stk_push_no_value(c));
  c->data_capacity -= uint32_t(words);
  const int status = exec_own_workspace_block(c, text, int32_t(length), nargout >= 1 ? 1 : 0,
                                              statement ? uint32_t(kCompileAnsConvention) : 0u);
  c->data_capacity += uint32_t(words);
  if (status != kOk) {
    if (statement) stk_drop(c);
    // The dropped argument's words lie below the copy, so the copy survives
    // the push that restores the argument from it.
    uint16_t* chars = nullptr;
    if (stk_push_char_array(c, ndims, dims, &chars) == kOk)
      for (int64_t i = 0; i < length; ++i) chars[i] = uint8_t(text[i]);
    return status;
  }
  frame_set_flag(c);
  return kOk;
}

namespace {

// The function a sandboxtrust argument names: a function reference or a name.
int trusted_target(EngineContext* c, int32_t* id) {
  const uint32_t* d = desc_at(c, 0);
  char name[kFrameNameBytes * 4];
  int32_t length = 0;
  if (d[0] == kKindPayload && d[2] == kPayFuncRef) {
    const char* text = nullptr;
    code_string_ref(item_data(c, 0), &text, &length);
    if (length <= 0 || length >= int32_t(sizeof name)) return kUndefinedFunction;
    for (int32_t i = 0; i < length; ++i) name[i] = text[i];
  } else {
    TN_TRY(stk_get_string_buf(c, 0, name, int32_t(sizeof name), &length));
  }
  const int32_t library = fn_library_of(c, frame_current_function(c));
  if (fn_find_user_simple(c, name, length, library, id) != kOk || *id <= 0) return kUndefinedFunction;
  return kOk;
}

}  // namespace

int bi_sandboxtrust(EngineContext* c, int nargin, int nargout, uintptr_t) {
  if (nargin != 1 || !stk_has_item(c, 0)) return kBadArgument;
  int32_t id = 0;
  TN_TRY(trusted_target(c, &id));
  if (!fn_code_header(c, id)) {
    const int status = fn_compile_on_demand(c, id, nullptr, 0, 0, 0);
    if (status != kOk && status != kUndefinedFunctionOrVariable) return status;
    if (!fn_code_header(c, id)) return kUndefinedFunction;
  }
  code_words(c)[ent(c, id, kEntCode) + kHdrFlags] |= uint16_t(kHdrTrusted);
  TN_TRY(stk_remove(c, 0, 1));
  return nargout < 0 ? stk_push_no_value(c) : kOk;
}
