// The semaphore table: a variable-heap block whose first word keeps the last
// id given, followed by capacity entries {id u32 (0 = free), lock count u32}.
// The context keeps the block's index (0 or -1: none) and the capacity. The
// block is read by index each time, since any allocation may move the heap.
#include "engine/lib/semaphores.h"

#include "engine/core/checked.h"
#include "engine/core/heap.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int kSemIndexWord = 0;     // EngineContext::sem_table: heap index
constexpr int kSemCapacityWord = 1;  // and capacity in entries
constexpr int32_t kFirstCapacity = 8;
constexpr int kEntryBytes = 8;
constexpr int kHeadWords = 1;  // the last id given
constexpr uint32_t kMaxId = 0x7fffffff;
static_assert(kEntryBytes == 8, "one heap word per entry");

int32_t table_index(const EngineContext* ctx) { return ctx->sem_table[kSemIndexWord]; }
int32_t capacity(const EngineContext* ctx) {
  return table_index(ctx) > 0 ? ctx->sem_table[kSemCapacityWord] : 0;
}
uint8_t* entry(EngineContext* ctx, int32_t i) {
  return reinterpret_cast<uint8_t*>(heap_words(ctx) + table_index(ctx) + kHeadWords) + kEntryBytes * i;
}
uint8_t* head(EngineContext* ctx) { return reinterpret_cast<uint8_t*>(heap_words(ctx) + table_index(ctx)); }

// Doubles the table (8 entries at first): new block, entries copied, old
// block freed, the new entries cleared.
int grow(EngineContext* ctx) {
  const int32_t old_cap = capacity(ctx);
  const int32_t new_cap = old_cap == 0 ? kFirstCapacity : 2 * old_cap;
  int32_t index = 0;
  TN_TRY(heap_alloc(ctx, kHeadWords + new_cap, &index));
  uint64_t* heap = heap_words(ctx);
  for (int32_t w = 0; w < kHeadWords + new_cap; ++w) tn::store<uint64_t>(heap + index + w, 0);
  if (old_cap > 0) {
    const int32_t old = table_index(ctx);
    for (int32_t w = 0; w < kHeadWords + old_cap; ++w)
      tn::store<uint64_t>(heap + index + w, tn::load<uint64_t>(heap + old + w));
    heap_free(ctx, old);
  }
  ctx->sem_table[kSemIndexWord] = index;
  ctx->sem_table[kSemCapacityWord] = new_cap;
  return kOk;
}

int arg_id(EngineContext* ctx, uint32_t* id) {
  double v = 0;
  TN_TRY(stk_get_real_scalar(ctx, 0, &v));
  *id = (v >= 1 && v <= kMaxId && v == double(uint32_t(v))) ? uint32_t(v) : 0;
  return kOk;
}

}  // namespace

int finish_no_output(EngineContext* ctx, int nargin, int nargout) {
  if (nargout >= 0) return stk_remove(ctx, 0, nargin);
  TN_TRY(stk_push_no_value(ctx));
  return stk_remove(ctx, 1, nargin);
}

int32_t sem_find(EngineContext* ctx, uint32_t id) {
  if (id == 0) return -1;
  const int32_t n = capacity(ctx);
  for (int32_t i = 0; i < n; ++i)
    if (tn::ld_u32(entry(ctx, i)) == id) return i;
  return -1;
}

int sem_create(EngineContext* ctx, uint32_t* id) {
  int32_t slot = -1;
  for (int32_t i = 0; i < capacity(ctx) && slot < 0; ++i)
    if (tn::ld_u32(entry(ctx, i)) == 0) slot = i;
  if (slot < 0) {
    slot = capacity(ctx);
    TN_TRY(grow(ctx));
  }
  const uint32_t last = tn::ld_u32(head(ctx));
  if (last >= kMaxId) return kInvalidId;
  tn::st_u32(head(ctx), last + 1);
  tn::st_u32(entry(ctx, slot), last + 1);
  tn::st_u32(entry(ctx, slot) + 4, 0);
  *id = last + 1;
  return kOk;
}

int sem_free(EngineContext* ctx, uint32_t id) {
  const int32_t i = sem_find(ctx, id);
  if (i < 0) return kInvalidId;
  tn::st_u32(entry(ctx, i), 0);
  tn::st_u32(entry(ctx, i) + 4, 0);
  return kOk;
}

int sem_try_lock(EngineContext* ctx, uint32_t id, int* taken) {
  const int32_t i = sem_find(ctx, id);
  if (i < 0) return kInvalidId;
  *taken = tn::ld_u32(entry(ctx, i) + 4) == 0;
  if (*taken) tn::st_u32(entry(ctx, i) + 4, 1);
  return kOk;
}

int sem_unlock(EngineContext* ctx, uint32_t id) {
  const int32_t i = sem_find(ctx, id);
  if (i < 0) return kInvalidId;
  const uint32_t count = tn::ld_u32(entry(ctx, i) + 4);
  if (count == 0) return kSemaphoreAlreadyUnlocked;
  tn::st_u32(entry(ctx, i) + 4, count - 1);
  return kOk;
}

int bi_semaphorenew(EngineContext* ctx, int, int, uintptr_t) {
  uint32_t id = 0;
  TN_TRY(sem_create(ctx, &id));
  const int st = stk_push_real(ctx, double(id));
  if (st != kOk) sem_free(ctx, id);
  return st;
}

int bi_semaphoredelete(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  uint32_t id = 0;
  TN_TRY(arg_id(ctx, &id));
  if (sem_find(ctx, id) < 0) return kInvalidId;
  TN_TRY(finish_no_output(ctx, nargin, nargout));
  return sem_free(ctx, id);
}

// A locked semaphore: with one output false at once; otherwise the id stays
// and kWaitRetry backs the loop up to this call, which runs again when the
// task is next scheduled.
int bi_semaphorelock(EngineContext* ctx, int, int nargout, uintptr_t) {
  uint32_t id = 0;
  TN_TRY(arg_id(ctx, &id));
  const int32_t i = sem_find(ctx, id);
  if (i < 0) return kInvalidId;
  const bool locked = tn::ld_u32(entry(ctx, i) + 4) != 0;
  if (locked && nargout != 1) return kWaitRetry;
  if (nargout == 1) {
    TN_TRY(stk_push_logical_scalar(ctx, locked ? 0 : 1));
  } else if (nargout < 0) {
    TN_TRY(stk_push_no_value(ctx));
  }
  if (!locked) tn::st_u32(entry(ctx, sem_find(ctx, id)) + 4, 1);
  return stk_remove(ctx, nargout == 0 ? 0 : 1, 1);
}

int bi_semaphoreunlock(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  uint32_t id = 0;
  TN_TRY(arg_id(ctx, &id));
  const int32_t i = sem_find(ctx, id);
  if (i < 0) return kInvalidId;
  if (tn::ld_u32(entry(ctx, i) + 4) == 0) return kSemaphoreAlreadyUnlocked;
  TN_TRY(finish_no_output(ctx, nargin, nargout));
  return sem_unlock(ctx, id);
}
