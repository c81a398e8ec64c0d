// The call cache's storage: a small table indexed by the callee's id, one per
// thread (engines on different threads never share it), tagged with the
// engine's address and the clears' count. A block that moves, a new engine at
// an old address, or a change made on another thread finds the cache empty.
#include "engine/core/call_cache.h"

#include <atomic>

namespace {

constexpr int32_t kCallCacheSlots = 256;  // a power of two
static_assert((kCallCacheSlots & (kCallCacheSlots - 1)) == 0);

// Clears made on any thread: a cache filled before the last of them holds
// nothing (a table changed on one thread is run on another after it).
std::atomic<uint32_t> g_clears{0};

// Whose entries the slots hold. Apart from the slots, so that a slot's
// address is the table's plus its index's multiple.
struct CallCacheOwner {
  const EngineContext* engine = nullptr;
  uint32_t clears = 0;  // g_clears when the engine's first entry went in
};

thread_local CallCacheOwner t_owner;
thread_local CallCacheEntry t_slot[kCallCacheSlots];

void empty_slots() {
  for (CallCacheEntry& e : t_slot) e.callee = kCallCacheNoCallee;
}

}  // namespace

void call_cache_clear() {
  g_clears.fetch_add(1, std::memory_order_relaxed);
  // Emptying the owner alone would do, but a cleared table keeps a later
  // owner from meeting an entry it never stored.
  if (!t_owner.engine) return;
  t_owner.engine = nullptr;
  empty_slots();
}

const CallCacheEntry* call_cache_find(const EngineContext* ctx, int32_t callee, int32_t context) {
  // A slot never filled holds callee 0, but only while no engine owns the table.
  if (t_owner.engine != ctx || t_owner.clears != g_clears.load(std::memory_order_relaxed)) return nullptr;
  const CallCacheEntry* e = &t_slot[uint32_t(callee) & (kCallCacheSlots - 1)];
  asm("" : "+r"(e));  // one register for the slot's address: the compiler works it out twice otherwise
  return e->callee == callee && e->context == context ? e : nullptr;
}

void call_cache_store(const EngineContext* ctx, const CallCacheEntry& e) {
  const uint32_t clears = g_clears.load(std::memory_order_relaxed);
  if (t_owner.engine != ctx || t_owner.clears != clears) {
    empty_slots();
    t_owner.engine = ctx;
    t_owner.clears = clears;
  }
  t_slot[uint32_t(e.callee) & (kCallCacheSlots - 1)] = e;
}
