// What a handler call reads and writes besides the special variables: the
// instance variables and constants it pushes, the variables it stores, and
// the lookup of an instance by the name in its header record.
#include <algorithm>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kInstanceNameCompare = 32;

}  // namespace

int handler_push_input(RuntimeBlock* b, int32_t id, bool previous, int32_t code) {
  EngineContext* c = rt_engine(b);
  if (hd_is_constant(code)) return stk_push_real(c, hd_constant(code));
  int32_t units = 0;
  void* data = nullptr;
  const int status = undo_store_get_value(rt_value_store(b), id, previous ? 1 : 0, code, &units, &data);
  // A special variable that the store does not keep arrives empty.
  if (status == kRtVarNotFound && code >= 1 && code <= kCodeLastSpecial) return stk_push_empty(c);
  if (status != 0) return status;
  if (!data || units < kFlatHeaderWords) return stk_push_empty(c);
  return stk_push_descriptor(c, static_cast<const double*>(data));
}

int handler_store_output(RuntimeBlock* b, int32_t id, int32_t row, int32_t code, int32_t depth) {
  EngineContext* c = rt_engine(b);
  int64_t words = 0;
  TN_TRY(stk_item_words(c, depth, &words));
  void* data = nullptr;
  TN_TRY(undo_store_put_value(rt_value_store(b), id, row, code, words, &data));
  if (data) stk_descriptor_as_doubles(c, depth, static_cast<double*>(data));
  if (InstanceRec* rec = inst_find_by_id(b, id)) rec->menu_stale = 1;
  return 0;
}

int32_t inst_find_by_name(RuntimeBlock* b, const char* name) {
  const size_t n = strnlen(name, kInstanceNameCompare);
  for (int32_t k = 0; k < b->h.instance_count; ++k) {
    const int32_t id = inst_at(b, k)->id;
    int32_t start = 0;
    RecordView header;
    const char* text = nullptr;
    int32_t length = 0;
    if (rec_find_instance(b, id, &start) != 0 || !rec_at(b, start, &header) || !rec_text(header, 2, &text, &length))
      continue;
    const size_t m = std::min<size_t>(size_t(length), kInstanceNameCompare);
    if (m < n || std::memcmp(text, name, n) != 0) continue;
    if (m == n || text[n] == '.') return id;
  }
  return -1;
}
