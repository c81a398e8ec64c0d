// List intrinsics: the list and cell tests, repetition of a list and the
// concatenation of a list's entries into one array. The argument list is
// only read; results are built above it and then take its place.
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/lib/arrays.h"
#include "engine/lib/container_access.h"
#include "engine/lib/container_builtins.h"

namespace {

constexpr double kMaxRepeats = 2147483647.0;  // more copies never fit a block

}  // namespace

int bi_iscell(EngineContext* ctx, int which) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  const bool yes = clib::is_container(ctx, 0, kContList) ||
                   (which == kIsCell && clib::is_container(ctx, 0, kContCell));
  TN_TRY(stk_push_logical_scalar(ctx, yes ? 1 : 0));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_list2num(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0) || !clib::is_list_like(ctx, 0)) return kWrongArgType;
  const int before = stk_item_count(ctx);
  const clib::Walk first = clib::walk_entries(ctx, 0);
  if (first.done()) {
    TN_TRY(stk_push_empty(ctx));
    stk_replace_with_top(ctx, 0);
    return kOk;
  }
  // Entries are copied up one at a time and joined to the result so far, so
  // the class rules of [e1, e2, ...] apply from the first entry on. The list
  // stays just below the result: entry offsets within it stay valid.
  const int64_t total = desc_at(ctx, 0)[1];
  int64_t offset = first.at - item_data(ctx, 0);
  int status = kOk;
  for (bool joined_first = false; status == kOk; joined_first = true) {
    const int list_depth = joined_first ? 1 : 0;
    const clib::Walk w{item_data(ctx, list_depth) + offset, total - offset};
    if (w.done()) break;
    offset += elem_total_words(w.at);
    status = clib::push_elem_copy(ctx, w.at);
    if (status == kOk && joined_first) status = bi_horzcat(ctx);
  }
  if (status != kOk) {
    clib::pop_to(ctx, before);
    return status;
  }
  return stk_remove(ctx, 1, 1);
}

int bi_replist(EngineContext* ctx) {
  TN_TRY(stk_argcheck(ctx, 2, "li"));
  double n = 0;
  TN_TRY(stk_get_real_scalar(ctx, 0, &n));
  if (n == 1) return stk_remove(ctx, 0, 1);
  const int64_t reps = n <= 0 ? 0 : n > kMaxRepeats ? int64_t{INT32_MAX} : static_cast<int64_t>(n);
  const int64_t words = desc_at(ctx, 1)[1];
  uint64_t* out = nullptr;
  TN_TRY(clib::claim_container(ctx, tn::mul64(words, reps), kContList, &out));
  // The copies' data lie one after the other: one list of all their elements.
  const uint64_t* x = item_data(ctx, 2);
  for (int64_t i = 0; i < reps; ++i) std::memcpy(out + i * words, x, static_cast<size_t>(words) * 8);
  return stk_remove(ctx, 1, 2);
}
