// The subplot parameter list behind `_param`: value 101 of an instance is a
// list whose element k + 1 belongs to subplot k. Reading pushes one element
// (or an empty matrix); writing rebuilds the list of the newest row with the
// value on top of the stack in its place and pops the value.
#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "runtime/layout.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

// Pushes the list stored under value 101 of the row `back`; false (nothing
// pushed) when there is none, or the stored value is not a list whose words
// match its descriptor.
bool push_stored_list(RuntimeBlock* b, int32_t id, int32_t back, int32_t* count) {
  int32_t units = 0;
  void* data = nullptr;
  if (undo_store_get_value(rt_value_store(b), id, back, kKeyParam, &units, &data) != 0 || !data) return false;
  if (units < kFlatHeaderWords) return false;
  const double* flat = static_cast<const double*>(data);
  // A container's a word counts its data words.
  if (tn::ld_f64(flat) != double(kKindContainer) || tn::ld_f64(flat + 1) + kFlatHeaderWords != units) return false;
  EngineContext* c = rt_engine(b);
  if (stk_push_descriptor(c, flat) != 0) return false;
  if (!stk_is_list(c, 0) || stk_get_container(c, 0, count, nullptr) != 0) {
    stk_drop(c);
    return false;
  }
  return true;
}

}  // namespace

int inst_store_get_value(RuntimeBlock* b, int32_t id, int32_t subplot, bool previous) {
  EngineContext* c = rt_engine(b);
  int32_t n = 0;
  if (subplot >= 0 && push_stored_list(b, id, previous ? 1 : 0, &n)) {
    if (subplot < n && stk_list_get(c, 0, subplot + 1) == 0) return stk_remove(c, 1, 1);
    stk_drop(c);
  }
  return stk_push_empty(c);
}

int inst_store_set_value(RuntimeBlock* b, int32_t id, int32_t subplot) {
  EngineContext* c = rt_engine(b);
  if (subplot < 0) {
    stk_drop(c);
    return 0;
  }
  int32_t n = 0;
  const bool had_list = push_stored_list(b, id, 0, &n);
  if (!had_list) n = 0;
  const int32_t m = subplot < n ? n : subplot + 1;
  // Above the value (and the old list, when there is one) the new elements
  // are pushed in order; after i of them the old list lies at depth i.
  const int value_depth = had_list ? 1 : 0;
  for (int32_t i = 0; i < m; ++i) {
    if (i == subplot) {
      TN_TRY(stk_dup(c, i + value_depth, 1));
    } else if (had_list && i < n) {
      TN_TRY(stk_list_get(c, i, i + 1));
    } else {
      TN_TRY(stk_push_empty(c));
    }
  }
  TN_TRY(stk_make_container(c, m, 0, nullptr, 0));
  int64_t words = 0;
  void* data = nullptr;
  // A store that cannot take the list is not reported: the write is dropped.
  if (stk_item_words(c, 0, &words) == 0 &&
      undo_store_put_value(rt_value_store(b), id, 0, kKeyParam, words, &data) == 0)
    stk_descriptor_as_doubles(c, 0, static_cast<double*>(data));
  stk_drop(c);
  if (had_list) stk_drop(c);
  stk_drop(c);
  return 0;
}
