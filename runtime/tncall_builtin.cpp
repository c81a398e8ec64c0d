// `tncall(id, name, ...)`: calls a function that another instance offers
// through its tag-17 records, in that instance's library, with the caller's
// arguments followed by the instance's variables the record names; the
// record's outputs go back into those variables, the rest to the caller.
// The call runs through the continuation protocol: [id, name] stay on the
// stack as the state, and the record is looked up again on the return, since
// the callee may grow the block or close instances.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/continuation.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/tn_builtins.h"
#include "runtime/undo_store.h"

namespace {

constexpr int kStateItems = 2;  // id, name
constexpr int32_t kNameBytes = 256;
constexpr int32_t kFunctionNameBytes = 33;

// The handler description of the instance's tag-17 record of that name,
// copied out of the record list (which moves with the block).
struct CallEntry {
  int32_t fn = 0;
  int32_t context = 0;  // the instance's library, as the handler call resolves
  std::vector<int32_t> outputs, inputs;
};

bool same_name(const char* a, int32_t an, const char* b, int32_t bn) {
  return an == bn && std::memcmp(a, b, size_t(an)) == 0;
}

int find_entry(RuntimeBlock* b, int32_t id, const char* name, int32_t length, CallEntry* out) {
  int32_t start = 0;
  if (!inst_find_by_id(b, id)) return kRtNonexistentInstance;
  TN_TRY(rec_find_instance(b, id, &start));
  RecordView header;
  if (!rec_at(b, start, &header) || header.data_words < 2) return kRtNonexistentInstance;
  for (int32_t pos = 0;;) {
    TN_TRY(rec_find_tag(b, id, &pos, kTagCallEntry));
    RecordView r;
    const char* text = nullptr;
    int32_t n = 0;
    if (!rec_at(b, int64_t(start) + pos, &r) || !rec_text(r, 0, &text, &n)) return kRtUndefElement;
    if (!same_name(text, n, name, length)) continue;
    const int32_t off = rec_hd_offset(r.tag, r.data, r.data_words);
    if (off < 0) return kRtUndefElement;
    const int32_t nin = r.data[off + kHdInputs], nout = r.data[off + kHdOutputs];
    if (nin < 0 || nout < 0 || rec_hd_words(nin, nout) > r.data_words - off) return kRtUndefElement;
    out->fn = r.data[off + kHdFunction];
    out->context = header.data[1];
    const int32_t* codes = r.data + off + kHdFixedWords;
    out->outputs.assign(codes, codes + nout);
    out->inputs.assign(codes + nout, codes + nout + nin);
    return kOk;
  }
}

// The entry named by the state [id, name] at depth.
int entry_of_state(EngineContext* ctx, RuntimeBlock* b, int depth, int32_t* id, CallEntry* entry) {
  double v = 0;
  if (stk_get_real_scalar(ctx, depth + 1, &v) != kOk) return kWrongArgType;
  if (!(v >= double(INT32_MIN) && v <= double(INT32_MAX)) || v != double(int32_t(v))) return kRtNonexistentInstance;
  *id = int32_t(v);
  if (!stk_is_char(ctx, depth)) return kWrongArgType;
  char name[kNameBytes];
  int32_t length = 0;
  TN_TRY(stk_get_string_buf(ctx, depth, name, kNameBytes, &length));
  return find_entry(b, *id, name, length, entry);
}

// First call: the instance's variables go on top of the caller's arguments.
int start_call(EngineContext* ctx, RuntimeBlock* b, int nargin, int nargout) {
  int32_t id = 0;
  CallEntry entry;
  TN_TRY(entry_of_state(ctx, b, nargin - kStateItems, &id, &entry));
  if (entry.fn < 0) return kIllegalError;
  const char* stored = nullptr;
  int32_t length = 0;
  if (fixtab_find(rt_name_table(b), entry.fn, &stored, &length) != 0) return kRtVarNotFound;
  char name[kFunctionNameBytes] = {};
  std::memcpy(name, stored, size_t(std::clamp(length, 0, kFunctionNameBytes - 1)));
  int pushed = 0;
  int status = kOk;
  for (int32_t code : entry.inputs) {
    status = handler_push_input(b, id, false, code);
    if (status == kRtNonexistentUndoSet) status = stk_push_empty(ctx);
    if (status != kOk) break;
    ++pushed;
  }
  const int args = nargin - kStateItems + pushed;
  const int wanted = int(entry.outputs.size()) + std::max(nargout, 0);
  if (status == kOk) status = builtin_call_name_from(ctx, name, entry.context, args, wanted);
  if (status != kOk) {
    for (int k = 0; k < pushed; ++k) stk_drop(ctx);
  }
  return status;
}

// Stores the record's outputs (the top items, the first on top) into the
// instance's newest row: all of them or, when the store runs short, none,
// so that the handler call can grow the block and run again.
int store_outputs(RuntimeBlock* b, int32_t id, const CallEntry& entry, bool* assigned) {
  *assigned = false;
  const bool any = std::any_of(entry.outputs.begin(), entry.outputs.end(), hd_is_variable);
  if (!any) return kOk;
  uint8_t* area = rt_area(b, kAreaValues);
  const std::vector<uint8_t> saved(area, area + b->h.area_size[kAreaValues]);
  for (size_t k = 0; k < entry.outputs.size(); ++k) {
    if (!hd_is_variable(entry.outputs[k])) continue;
    const int status = handler_store_output(b, id, 0, entry.outputs[k], int(k));
    if (status != kOk) {
      std::memcpy(area, saved.data(), saved.size());
      return status;
    }
  }
  *assigned = true;
  return kOk;
}

// On the return: [id, name, results...].
int finish_call(EngineContext* ctx, RuntimeBlock* b, int results, int nargout) {
  int32_t id = 0;
  CallEntry entry;
  TN_TRY(entry_of_state(ctx, b, results, &id, &entry));
  const int own = int(entry.outputs.size());
  const int extra = std::max(nargout, 0);
  if (results < own + extra) return kTooFewOutputs;
  bool assigned = false;
  TN_TRY(store_outputs(b, id, entry, &assigned));
  if (assigned) inst_find_by_id(b, id)->changed_outside = 1;
  TN_TRY(stk_remove(ctx, 0, own));
  int kept = results - own;
  if (kept > extra) {
    TN_TRY(stk_remove(ctx, extra, kept - extra));
    kept = extra;
  }
  if (nargout < 0) {
    TN_TRY(stk_push_no_value(ctx));
    kept = 1;
  }
  return stk_remove(ctx, kept, kStateItems);
}

}  // namespace

int bi_tncall(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* cc = reinterpret_cast<CallContext*>(data);
  if (!cc || !cc->block) return kBadContext;
  const int results = builtin_resumed(nargin);
  if (results < 0) return start_call(ctx, cc->block, nargin, nargout);
  return finish_call(ctx, cc->block, results, nargout);
}
