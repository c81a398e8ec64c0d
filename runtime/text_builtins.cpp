// `tntitle`, `tnversion` and `tnhelp`: an instance's title, version and help
// texts, stored as values 103 to 105 of its newest value-store row once set,
// and read from its records of tag 2, 3 and 5 until then. Also the binding
// of the runtime's rows into the engine's table.
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "engine/core/libraries.h"
#include "runtime/embedded_streams.h"
#include "runtime/console_hooks.h"
#include "runtime/instances.h"
#include "runtime/library_source.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/tn_builtins.h"
#include "runtime/undo_store.h"

namespace {

// Pushes the text stored under key in the newest row and sets *found; a
// stored value that is not one text item is passed over (nothing pushed).
int push_stored_text(RuntimeBlock* b, int32_t id, int32_t key, bool* found) {
  *found = false;
  int32_t units = 0;
  void* data = nullptr;
  if (undo_store_get_value(rt_value_store(b), id, 0, key, &units, &data) != 0 || !data) return kOk;
  if (units < kFlatHeaderWords) return kOk;
  EngineContext* c = rt_engine(b);
  TN_TRY(stk_push_descriptor(c, static_cast<const double*>(data)));
  int64_t words = 0;
  if (!stk_is_char(c, 0) || stk_item_words(c, 0, &words) != 0 || words != units) {
    stk_drop(c);
    return kOk;
  }
  *found = true;
  return kOk;
}

// The current text: the stored one, else the record's; kRtUndefElement
// when there is neither.
int push_text(RuntimeBlock* b, int32_t id, int32_t key, int32_t tag) {
  bool found = false;
  TN_TRY(push_stored_text(b, id, key, &found));
  if (found) return kOk;
  int32_t start = 0, pos = -1;
  RecordView r;
  const char* text = nullptr;
  int32_t length = 0;
  if (rec_find_instance(b, id, &start) != 0 || rec_find_tag(b, id, &pos, tag) != 0) return kRtUndefElement;
  if (!rec_at(b, int64_t(start) + pos, &r) || !rec_text(r, 0, &text, &length)) return kRtUndefElement;
  return stk_push_cstr(rt_engine(b), length, text);
}

// Stores the text at depth under key in the newest row.
int store_text(RuntimeBlock* b, int32_t id, int32_t key, int depth) {
  EngineContext* c = rt_engine(b);
  int64_t words = 0;
  void* data = nullptr;
  TN_TRY(stk_item_words(c, depth, &words));
  TN_TRY(undo_store_put_value(rt_value_store(b), id, -1, key, words, &data));
  return stk_descriptor_as_doubles(c, depth, static_cast<double*>(data));
}

// One of the three texts. An empty input stores nothing: the declaration
// hands its empty default over.
int instance_text(EngineContext* ctx, int nargin, int nargout, uintptr_t data, int32_t key, int32_t tag) {
  if (nargout > 1) return kTooManyOutputs;  // one text at most
  CallContext* cc = reinterpret_cast<CallContext*>(data);
  if (!cc || !cc->block || !inst_find_by_id(cc->block, cc->instance_id)) return kBadContext;
  RuntimeBlock* b = cc->block;
  const int32_t id = cc->instance_id;
  bool set = false;
  if (nargin > 0) {
    int ndims = 0;
    const uint32_t* dims = nullptr;
    int64_t count = 0;
    const bool is_text = stk_is_char(ctx, 0);
    if (!is_text && (stk_get_array_info(ctx, 0, &ndims, &dims, &count) != kOk || count != 0)) return kWrongArgType;
    set = is_text;
  }
  // Without an input a statement call shows the text; no output asked for
  // (nargout 0) leaves nothing.
  const bool wanted = nargout > 0 || (nargin == 0 && nargout < 0);
  if (set) {
    TN_TRY(store_text(b, id, key, 0));
    // The text just stored is the current one: the input stays as the output.
    if (wanted) return kOk;
    if (nargout < 0) {
      TN_TRY(stk_push_no_value(ctx));  // a statement call leaves one item
      return stk_remove(ctx, 1, 1);
    }
    return stk_remove(ctx, 0, 1);
  }
  if (wanted) {
    TN_TRY(push_text(b, id, key, tag));
  } else if (nargout < 0) {
    TN_TRY(stk_push_no_value(ctx));
  }
  const int pushed = wanted || nargout < 0 ? 1 : 0;
  return nargin > 0 ? stk_remove(ctx, pushed, nargin) : kOk;
}

}  // namespace

int bi_tntitle(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return instance_text(ctx, nargin, nargout, data, kKeyTitle, kTagTitle);
}
int bi_tnversion(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return instance_text(ctx, nargin, nargout, data, kKeyVersion, kTagVersion);
}
int bi_tnhelp(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return instance_text(ctx, nargin, nargout, data, kKeyHelp, kTagHelp);
}

int rt_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {"", kHookRead, builtin_fn_from(static_cast<StreamReadHook>(rt_stdin_read)), 0},
      {"!Tarnivel", "subplots", bi_subplots, 0},
      {"!Tarnivel", "subplotprops", bi_subplotprops, 0},
      {"!Tarnivel", "subplotpos", bi_subplotpos, 0},
      {"!Tarnivel", "subplotsize", bi_subplotsize, 0},
      {"!Tarnivel", "subplotspring", bi_subplotspring, 0},
      {"!Tarnivel", "subplotparam", bi_subplotparam, 0},
      {"!Tarnivel", "tntitle", bi_tntitle, 0},
      {"!Tarnivel", "tnversion", bi_tnversion, 0},
      {"!Tarnivel", "tnhelp", bi_tnhelp, 0},
      // The record list's reader ends the quaternion section.
      {"!quaternion", kHookReadLib, builtin_fn_from(static_cast<SourceHookFn>(bi_tn_readlib)), 0},
  };
  TN_TRY(builtin_table_bind(g_builtin_table_engine, bindings, int(sizeof bindings / sizeof bindings[0])));
  TN_TRY(rt_embedded_bind());
  return rt_figure_builtins_bind();
}
