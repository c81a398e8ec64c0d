// which, isglobal, iskeyword, hasfeature and info. Names are read as 8-bit
// text of at most an identifier's length; a longer name names nothing.
#include "engine/lib/introspection.h"

#include "engine/lib/info_lists.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"

namespace {

constexpr char kVarPrefix[] = "(var)/";
constexpr char kBuiltinPrefix[] = "(builtin)/";
constexpr int32_t kNameBytes = kFrameNameBytes * 4;
constexpr int32_t kFunctionNameLimit = 100;
constexpr char kFeatureSeparator = '\n';

// The name argument; *length is -1 when it is longer than any name.
int name_arg(EngineContext* ctx, int depth, char (&name)[kNameBytes], int32_t* length) {
  const int status = stk_get_string_buf(ctx, depth, name, kNameBytes, length);
  if (status == kObjectTooLarge) {
    *length = -1;
    return kOk;
  }
  return status;
}

// Slot of the current workspace's variable of that name, -1 when none.
int32_t workspace_slot(EngineContext* ctx, const char* name, int32_t n) {
  if (n < 1 || n > kFrameNameBytes || frame_workspace_index(ctx) < 0) return -1;
  uint8_t* table = nullptr;
  int32_t count = 0;
  frame_var_table(ctx, &table, &count);
  for (int32_t i = 0; table && i < count; ++i) {
    const char* entry = reinterpret_cast<const char*>(table) + int64_t(kFrameNameBytes) * i;
    if (std::memcmp(entry, name, size_t(n)) == 0 && (n == kFrameNameBytes || entry[n] == 0)) return i;
  }
  return -1;
}

bool slot_defined(EngineContext* ctx, int32_t slot) {
  SlotTarget t{};
  return slot >= 0 && slot_locate(ctx, slot, &t) == kOk && t.block != kNoBlock;
}

int push_text(EngineContext* ctx, const char* a, int32_t na, const char* b, int32_t nb) {
  uint16_t* out = nullptr;
  TN_TRY(stk_push_char_row(ctx, na + nb, &out));
  for (int32_t i = 0; i < na; ++i) out[i] = uint8_t(a[i]);
  for (int32_t i = 0; i < nb; ++i) out[na + i] = uint8_t(b[i]);
  return kOk;
}

// Pushes the answer and removes the nargin arguments below it.
int answer_bool(EngineContext* ctx, int nargin, bool v) {
  TN_TRY(stk_push_logical_scalar(ctx, v));
  return stk_remove(ctx, 1, nargin);
}

}  // namespace

int bi_which(EngineContext* ctx, int nargin, int, uintptr_t) {
  char name[kNameBytes];
  int32_t n = 0;
  TN_TRY(name_arg(ctx, 0, name, &n));
  int status = kOk;
  if (n > 0 && slot_defined(ctx, workspace_slot(ctx, name, n))) {
    status = push_text(ctx, kVarPrefix, int32_t(sizeof kVarPrefix) - 1, name, n);
    return status == kOk ? stk_remove(ctx, 1, nargin) : status;
  }
  int32_t id = -1;
  if (n > 0 && fn_find_user_simple(ctx, name, n, fn_library_of(ctx, frame_current_function(ctx)), &id) == kOk &&
      id > 0) {
    char full[kFunctionNameLimit + 1];
    int32_t length = 0;
    fn_name_and_line(ctx, id, full, int32_t(sizeof full), &length);
    status = push_text(ctx, full, length, "", 0);
    return status == kOk ? stk_remove(ctx, 1, nargin) : status;
  }
  if (n > 0) {
    name[n] = 0;
    int32_t index = 0;
    if (lib_find_builtin(ctx, name, nullptr, 0, &index) || intrinsic_find(name)) {
      status = push_text(ctx, kBuiltinPrefix, int32_t(sizeof kBuiltinPrefix) - 1, name, n);
      return status == kOk ? stk_remove(ctx, 1, nargin) : status;
    }
  }
  TN_TRY(push_text(ctx, "", 0, "", 0));
  return stk_remove(ctx, 1, nargin);
}

int bi_isglobal(EngineContext* ctx, int nargin, int, uintptr_t) {
  char name[kNameBytes];
  int32_t n = 0;
  TN_TRY(name_arg(ctx, 0, name, &n));
  const int32_t slot = workspace_slot(ctx, name, n);
  SlotTarget t{};
  const bool global = slot >= 0 && slot_locate(ctx, slot, &t) == kOk && t.entry > 0 &&
                      ent(ctx, t.entry, kEntExtra) == kVariableGlobalOwner;
  return answer_bool(ctx, nargin, global);
}

int bi_iskeyword(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin == 0) {
    int32_t count = 0;
    for (const char* k = keyword_next(nullptr); k; k = keyword_next(k), ++count) {
      const int status = push_text(ctx, k, int32_t(std::strlen(k)), "", 0);
      if (status != kOk) {
        (void)stk_remove(ctx, 0, count);
        return status;
      }
    }
    const int status = stk_make_container(ctx, count, 0, nullptr, 0);
    if (status != kOk) (void)stk_remove(ctx, 0, count);
    return status;
  }
  char name[kNameBytes];
  int32_t n = 0;
  TN_TRY(name_arg(ctx, 0, name, &n));
  bool found = false;
  for (const char* k = keyword_next(nullptr); k && !found && n >= 0; k = keyword_next(k))
    found = int32_t(std::strlen(k)) == n && std::memcmp(k, name, size_t(n)) == 0;
  return answer_bool(ctx, nargin, found);
}

int bi_hasfeature(EngineContext* ctx, int nargin, int, uintptr_t data) {
  char name[kNameBytes];
  int32_t n = 0;
  TN_TRY(name_arg(ctx, 0, name, &n));
  // The row's own data word is the list; the context's default stands in
  // only when the row has none, and is then no list: nothing is present.
  const char* list = data && data != ctx->default_data ? reinterpret_cast<const char*>(data) : "";
  bool found = false;
  while (*list && !found && n >= 0) {
    const char* end = std::strchr(list, kFeatureSeparator);
    const int32_t len = end ? int32_t(end - list) : int32_t(std::strlen(list));
    found = len == n && std::memcmp(list, name, size_t(n)) == 0;
    list += len + (end ? 1 : 0);
  }
  return answer_bool(ctx, nargin, found);
}

int bi_info(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (data == kInmemData) {
    TN_TRY(info_list(ctx, kInmemKind, nargout));
    return nargout < 0 ? stk_push_no_value(ctx) : kOk;
  }
  if (nargin == 0) {
    const char* banner = engine_version_string();
    const int32_t n = int32_t(std::strlen(banner));
    if (nargout >= 1) return push_text(ctx, banner, n, "", 0);
    TN_TRY(io_write(ctx, kFdStdout, banner, n));
    TN_TRY(io_newline(ctx, kFdStdout));
    return nargout < 0 ? stk_push_no_value(ctx) : kOk;
  }
  char kind[kNameBytes];
  int32_t n = 0;
  TN_TRY(name_arg(ctx, 0, kind, &n));
  // The kind is the first character: a long argument names it as well.
  TypedView t{};
  if (n < 0 && typed_view(ctx, 0, &t) && t.count > 0) {
    uint16_t first = 0;
    std::memcpy(&first, t.elems, sizeof first);
    kind[0] = first < 0x80 ? char(first) : 0;
    n = 1;
  }
  if (n <= 0 || !info_kind_known(kind[0])) return kUnknownOption;
  TN_TRY(info_list(ctx, kind[0], nargout));
  if (nargout >= 1) return stk_remove(ctx, 1, nargin);
  TN_TRY(stk_remove(ctx, 0, nargin));
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}
