// sandbox and sandboxtrust. The code of sandbox is compiled as a block, like
// eval's, but in a workspace of its own (nothing it assigns reaches its
// caller), and its frame is marked restricted: the interpreter then refuses
// library rows outside "!" sections (403) and global or persistent
// declarations (404), and frames called from it inherit the mark.
// While the compiler works the text (and the input of the two-argument form)
// lies beyond the lowered end of the data stack; the end is restored whatever
// the compilation gives. The input is the text's variable x.
#include "engine/lib/sandbox.h"

#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

namespace {

// An argument copied beyond the lowered end of the data stack while the code
// compiles: its descriptor here, its words there.
struct ParkedItem {
  uint32_t desc[3] = {};
  uint32_t words = 0;
  int64_t at = 0;  // data-stack word index of the copy
};

// Pushes a parked item back; the copy may overlap the words it goes to.
int unpark(EngineContext* c, const ParkedItem& p) {
  if (!desc_room(c) || int64_t(p.words) > data_free_words(c)) return kDataStackOverflow;
  const int64_t from = p.at;
  uint64_t* to = stk_claim(c, p.desc[0], p.desc[1], p.desc[2], p.words);
  std::memmove(to, data_words(c) + from, size_t(p.words) * 8);
  return kOk;
}

// The code argument as it was, from its 8-bit copy.
void restore_code(EngineContext* c, int ndims, const int32_t* dims, const char* text, int64_t length) {
  uint16_t* chars = nullptr;
  if (stk_push_char_array(c, ndims, dims, &chars) == kOk)
    for (int64_t i = 0; i < length; ++i) chars[i] = uint8_t(text[i]);
}

// The two-argument form's text begins with an assignment to x that never
// runs: the compiler then gives x a slot, so that the text may read x, and
// the input is stored there before the text starts (x, the argument name
// inline functions take by default).
constexpr char kInputPrefix[] = "if 0, x = 0; end, ";
constexpr int32_t kInputPrefixLength = int32_t(sizeof kInputPrefix) - 1;
constexpr char kInputName[] = "x";

int give_input(EngineContext* c, const ParkedItem& input) {
  uint8_t* table = nullptr;
  int32_t count = 0;
  frame_var_table(c, &table, &count);
  int32_t slot = -1;
  for (int32_t k = 0; table && k < count && slot < 0; ++k)
    if (std::strncmp(reinterpret_cast<const char*>(table) + int64_t(kFrameNameBytes) * k, kInputName,
                     kFrameNameBytes) == 0)
      slot = k;
  if (slot < 0) return TN_ILLEGAL();  // the prefix always names it
  TN_TRY(unpark(c, input));
  const int status = var_store_local(c, slot);
  if (status != kOk) stk_drop(c);
  return status;
}

}  // namespace

int bi_sandbox(EngineContext* c, int nargin, int nargout, uintptr_t) {
  if (nargin < 1 || nargin > 2 || !stk_has_item(c, nargin - 1)) return kBadArgument;
  const int code_depth = nargin - 1;
  TypedView t{};
  if (!stk_is_char(c, code_depth) || !typed_view(c, code_depth, &t)) return kWrongArgType;
  const int64_t length = t.count;
  const int32_t prefix = nargin == 2 ? kInputPrefixLength : 0;
  const int64_t words = (length + prefix + 7) / 8;
  ParkedItem input;
  if (nargin == 2) {
    std::memcpy(input.desc, desc_at(c, 0), sizeof input.desc);
    input.words = desc_data_words(input.desc);
  }
  if (words + input.words + 1 > data_free_words(c) || length > INT32_MAX) return kDataStackOverflow;
  const int64_t text_at = int64_t(c->data_capacity) - words;
  input.at = text_at - input.words;
  auto* compiled = reinterpret_cast<char*>(data_words(c) + text_at);
  char* text = compiled + prefix;
  TN_TRY(wchars_to_name_bytes(t.elems, length, text));
  std::memcpy(compiled, kInputPrefix, size_t(prefix));
  // The shape, to put the argument back as it was when the code fails to compile.
  int32_t dims[kMaxDims] = {};
  const int ndims = int(t.ndims) <= kMaxDims ? int(t.ndims) : 0;
  for (int k = 0; k < ndims; ++k) dims[k] = int32_t(t.dims[k]);
  if (ndims == 0) return kWrongArgType;
  if (nargin == 2) {
    std::memcpy(data_words(c) + input.at, item_data(c, 0), size_t(input.words) * 8);
    stk_drop(c);
  }
  stk_drop(c);
  const bool statement = nargout < 0;
  int status = statement ? stk_push_no_value(c) : kOk;
  // The dropped arguments' words lie below the copies, so the copies survive
  // every push that puts the arguments back.
  const uint32_t parked = uint32_t(words + input.words);
  if (status == kOk) {
    c->data_capacity -= parked;
    status = exec_own_workspace_block(c, compiled, int32_t(length + prefix), nargout >= 1 ? 1 : 0,
                                      statement ? uint32_t(kCompileAnsConvention) : 0u);
    c->data_capacity += parked;
    if (status == kOk && nargin == 2) {
      status = give_input(c, input);
      if (status != kOk) frame_return_discard(c);
    }
    if (status != kOk && statement) stk_drop(c);
  }
  if (status != kOk) {
    restore_code(c, ndims, dims, text, length);
    if (nargin == 2) (void)unpark(c, input);
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
