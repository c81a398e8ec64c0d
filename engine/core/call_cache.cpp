// The call cache's storage: a small table indexed by the callee's id, one per
// thread (engines on different threads never share it), tagged with the
// engine's address. A block that moves, or a new engine at an old address,
// finds the cache empty or emptied: engine_init and image loads clear it.
#include "engine/core/call_cache.h"

namespace {

constexpr int32_t kCallCacheSlots = 256;  // a power of two
static_assert((kCallCacheSlots & (kCallCacheSlots - 1)) == 0);

struct CallCache {
  const EngineContext* owner = nullptr;
  CallCacheEntry slot[kCallCacheSlots];
};

thread_local CallCache t_cache;

}  // namespace

void call_cache_clear() {
  // Emptying the owner alone would do, but a cleared table keeps a later
  // owner from meeting an entry it never stored.
  if (!t_cache.owner) return;
  t_cache.owner = nullptr;
  for (CallCacheEntry& e : t_cache.slot) e.callee = 0;
}

const CallCacheEntry* call_cache_find(const EngineContext* ctx, int32_t callee, int32_t context) {
  if (t_cache.owner != ctx) return nullptr;
  const CallCacheEntry& e = t_cache.slot[uint32_t(callee) & (kCallCacheSlots - 1)];
  return e.callee == callee && e.context == context && callee != 0 ? &e : nullptr;
}

void call_cache_store(const EngineContext* ctx, const CallCacheEntry& e) {
  if (t_cache.owner != ctx) {
    call_cache_clear();
    t_cache.owner = ctx;
  }
  t_cache.slot[uint32_t(e.callee) & (kCallCacheSlots - 1)] = e;
}
