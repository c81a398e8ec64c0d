// "_menuFlags" and the menu state tables. The function runs outside any
// handler: the engine's frames are unwound first and the call context points
// at the instance only while it runs. Its three results are always popped,
// whatever they hold, so no path leaves them on the stack.
#include "runtime/menu_state.h"

#include <algorithm>
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr char kXdataPrefix[] = "%TN xdata ";
constexpr int32_t kXdataPrefixLength = int32_t(sizeof kXdataPrefix - 1);
constexpr char kPlainType[] = "text";
constexpr int32_t kFirstVariableField = kKeyHelp + 1;
constexpr int32_t kFlagResults = 3;
static_assert(kFlagResults == kMenuStateTables);
enum : int32_t { kTitleTable = 0, kItemTable = 1, kEntryTable = 2 };
constexpr int32_t kValuesPerTitle = 2;

int32_t table_of_tag(int32_t tag) {
  switch (tag) {
    case kTagMenuTitle: return kTitleTable;
    case kTagItem: return kItemTable;
    case kTagEntry: return kEntryTable;
    default: return -1;
  }
}

// Pushes the stored value of a field of the newest row, or an empty matrix.
int push_field(RuntimeBlock* b, int32_t id, int32_t code) {
  EngineContext* c = rt_engine(b);
  int32_t units = 0;
  void* data = nullptr;
  if (undo_store_get_value(rt_value_store(b), id, 0, code, &units, &data) != 0 || !data || units < kFlatHeaderWords)
    return stk_push_empty(c);
  TN_TRY(stk_push_descriptor(c, static_cast<const double*>(data)));
  int64_t words = 0;
  if (stk_item_words(c, 0, &words) != 0 || words != units) {
    stk_drop(c);
    return stk_push_empty(c);
  }
  return kOk;
}

// Pushes the arguments of "_menuFlags"; *count receives how many.
int push_arguments(RuntimeBlock* b, int32_t id, const char* data, int32_t length, int* count) {
  EngineContext* c = rt_engine(b);
  *count = 0;
  int32_t code = 0;
  for (int32_t k = 0; undo_store_get_field(rt_value_store(b), id, k, false, &code) == 0; ++k) {
    if (code < kFirstVariableField) continue;
    TN_TRY(push_field(b, id, code));
    ++*count;
  }
  const char* type = nullptr;
  const int32_t n = xdata_text_type(data, length, &type);
  TN_TRY(stk_push_cstr(c, n, type ? type : ""));
  ++*count;
  TN_TRY(inst_store_get_value(b, id, inst_current_subplot(b, id), false));
  ++*count;
  return kOk;
}

// The handler description of the record at w, or null.
const int32_t* handler_of(RuntimeBlock* b, int64_t w, int32_t* words) {
  RecordView r;
  if (!rec_at(b, w, &r)) return nullptr;
  const int32_t at = rec_hd_offset(r.tag, r.data, r.data_words);
  if (at < 0) return nullptr;
  *words = r.data_words - at;
  return r.data + at;
}

bool uses_param_at(RuntimeBlock* b, int64_t w) {
  int32_t words = 0;
  const int32_t* hd = handler_of(b, w, &words);
  if (!hd || words < kHdFixedWords) return false;
  const int64_t n = std::min<int64_t>(int64_t(hd[kHdInputs]) + hd[kHdOutputs], words - kHdFixedWords);
  for (int64_t k = 0; k < n; ++k)
    if (hd[kHdFixedWords + k] == kParamCode) return true;
  return false;
}

bool item_label_empty(RuntimeBlock* b, int64_t w) {
  RecordView r;
  const char* text = nullptr;
  int32_t length = 0;
  constexpr int32_t kItemLabelWord = 2;  // after the link instance id and link id
  return rec_at(b, w, &r) && r.tag == kTagItem && rec_text(r, kItemLabelWord, &text, &length) && length == 0;
}

// Fills the tables from the three logical results on the stack (first on
// top), one table after the other. A result that is not a logical array
// ends the fill there, keeping what was written before it: false then.
bool fill_tables(RuntimeBlock* b, int32_t id, InstanceRec* rec, int64_t start, int64_t end) {
  EngineContext* c = rt_engine(b);
  const bool no_subplot = inst_current_subplot(b, id) < 0;
  for (int32_t t = 0; t < kMenuStateTables; ++t) {
    TypedView v;
    if (stk_is_logical(c, t) != 1 || !typed_view(c, t, &v)) return false;
    const uint8_t* values = v.elems;
    int32_t k = 0;
    RecordView r;
    for (int64_t w = start; w < end && rec_at(b, w, &r); w += r.length) {
      if (table_of_tag(r.tag) != t) continue;
      const bool param_off = no_subplot && uses_param_at(b, w);
      if (t == kTitleTable) {
        const int64_t at = int64_t(k) * kValuesPerTitle;
        uint8_t byte = 0;
        if (at < v.count && values[at]) byte |= kMenuEnabled;
        if (at + 1 < v.count && values[at + 1]) byte |= kMenuChecked;
        if (k < kMenuStateBytes) rec->menu_state[t][k] = param_off ? 0 : byte;
        ++k;
        continue;
      }
      const uint8_t on = (k < v.count && values[k] && !param_off) ? kMenuEnabled : 0;
      // An item without a label is an alternative of the one before it.
      if (t == kItemTable && k > 0 && item_label_empty(b, w)) {
        if (k - 1 < kMenuStateBytes) rec->menu_state[t][k - 1] |= on;
      } else if (k < kMenuStateBytes) {
        rec->menu_state[t][k] = on;
      }
      ++k;
    }
  }
  return true;
}

// The index of the record at run word w among the records of its tag.
int32_t index_in_tag(RuntimeBlock* b, int64_t start, int64_t w) {
  RecordView r, target;
  if (!rec_at(b, w, &target)) return -1;
  int32_t k = 0;
  for (int64_t v = start; v < w && rec_at(b, v, &r); v += r.length)
    if (r.tag == target.tag) ++k;
  return k;
}

void reset_call_context(RuntimeBlock* b) { b->h.user = CallContext{b, 0, 0, 0, 0}; }

}  // namespace

int32_t xdata_text_type(const char* text, int32_t length, const char** type) {
  *type = nullptr;
  if (!text || length == 0) return 0;
  if (length < 0) length = int32_t(std::strlen(text));
  if (length == 0) return 0;
  if (length <= kXdataPrefixLength || std::memcmp(text, kXdataPrefix, size_t(kXdataPrefixLength)) != 0 ||
      text[kXdataPrefixLength] != '"') {
    *type = kPlainType;
    return int32_t(sizeof kPlainType - 1);
  }
  const int32_t from = kXdataPrefixLength + 1;
  int32_t to = from;
  while (to < length && text[to] != '"' && text[to] != '\n' && text[to] != '\r') ++to;
  *type = text + from;
  return to - from;
}

int inst_menu_flags_eval(RuntimeBlock* b, int32_t id, const char* data, int32_t length) {
  EngineContext* c = rt_engine(b);
  const int32_t slot = rec_instance_slot(b, id);
  int32_t fn = -1;
  if (fn_find_user_simple(c, kMenuFlagsFunction, -1, slot, &fn) != kOk || fn < 1) return kUndefinedFunction;
  b->h.user = CallContext{b, id, 0, 0, 0};
  int status = frame_unwind(c, 0);
  const int32_t base = c->desc_top;
  int count = 0;
  if (status == kOk) status = push_arguments(b, id, data, length, &count);
  if (status == kOk) status = interp_call(c, kMenuFlagsFunction, slot, count, kFlagResults, 0, 0);
  if (status != kOk) {
    frame_unwind(c, 0);
    while (c->desc_top > base) stk_drop(c);
  }
  reset_call_context(b);
  return status;
}

bool menu_item_uses_param(RuntimeBlock* b, int32_t id, char, int32_t position) {
  int32_t start = 0;
  if (rec_find_instance(b, id, &start) != 0) return false;
  return uses_param_at(b, int64_t(start) + position);
}

int32_t inst_menu_item_state(RuntimeBlock* b, int32_t id, int32_t position, int32_t stamp, const char* data,
                             int32_t length) {
  InstanceRec* rec = inst_find_by_id(b, id);
  int32_t start = 0;
  RecordView r;
  if (!rec || rec_find_instance(b, id, &start) != 0) return kSectionOther;
  const int64_t w = int64_t(start) + position;
  if (position < 0 || !rec_at(b, w, &r)) return kSectionOther;
  if (r.tag == kTagSection) return position == rec->section_selector ? kSectionSelected : kSectionOther;
  const int32_t table = table_of_tag(r.tag);
  if (table < 0) return kSectionOther;
  if (rec->menu_stale || rec->menu_stamp != stamp) {
    EngineContext* c = rt_engine(b);
    const int32_t base = c->desc_top;
    if (inst_menu_flags_eval(b, id, data, length) != kOk) return kSectionOther;
    int64_t end = start;
    for (RecordView v; rec_at(b, end, &v) && (end == start || v.tag != kTagHeader); end += v.length) {}
    const bool whole = fill_tables(b, id, rec, start, end);
    while (c->desc_top > base) stk_drop(c);
    reset_call_context(b);
    if (whole) {
      rec->menu_stale = 0;
      rec->menu_stamp = stamp;
    }
  }
  const int32_t k = index_in_tag(b, start, w);
  return k >= 0 && k < kMenuStateBytes ? rec->menu_state[table][k] : kSectionOther;
}

int32_t inst_handler_text_value(RuntimeBlock* b, int32_t id, int32_t position, const char* text, int32_t length) {
  int32_t start = 0;
  if (rec_find_instance(b, id, &start) != 0) return kNoTextHandler;
  EngineContext* c = rt_engine(b);
  const int32_t base = c->desc_top;
  int32_t chosen = kNoTextHandler;
  if (inst_menu_flags_eval(b, id, text, length) == kOk) {
    TypedView v;
    const bool items = stk_is_logical(c, kItemTable) == 1 && typed_view(c, kItemTable, &v);
    const bool no_subplot = inst_current_subplot(b, id) < 0;
    RecordView r;
    int64_t w = int64_t(start) + position;
    for (bool first = true; items && rec_at(b, w, &r) && r.tag == kTagItem; w += r.length, first = false) {
      if (!first && !item_label_empty(b, w)) break;  // the next item is not an alternative
      const int32_t k = index_in_tag(b, start, w);
      const bool linked = r.data_words > 0 && r.data[0] != 0;
      if (!linked || k < 0 || k >= v.count || !v.elems[k]) continue;
      if (no_subplot && uses_param_at(b, w)) continue;
      chosen = int32_t(w - start);
      break;
    }
  }
  while (c->desc_top > base) stk_drop(c);
  reset_call_context(b);
  return chosen;
}

int32_t inst_can_select_subplot(RuntimeBlock* b, int32_t id, int32_t figure) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return 0;
  const int32_t current = inst_current_subplot(b, id);
  if (current >= 0) {
    const bool shown = inst_own_figure(rec->subplots[current]) == figure;
    return kFigureSelectable | (shown ? kFigureShown : 0);
  }
  // A free layout without a selection takes the figure in a new subplot.
  const int32_t n = std::max(0, rec->rows) * std::max(0, rec->cols);
  const bool room = rec->free_layout && rec->selection == 0 && n < std::min(rec->max_subplots, kMaxSubplots);
  return room ? kFigureSelectable : 0;
}
