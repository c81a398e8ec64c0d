// The entry indexes' storage: a few slots per thread, each one container's
// offsets in memory of its own, tagged with the engine's address and its
// finger's view of the container. A slot is used only when all of that
// matches; the hooks drop it before anything it describes changes.
#include "engine/core/entry_index.h"

#include <cstdlib>
#include <utility>

#include "engine/core/containers.h"

thread_local constinit int32_t t_entry_index_block[kEntryIndexSlots] = {};

namespace {

// Slot i's block is t_entry_index_block[i]; a slot whose block is 0 is empty
// whatever else it still holds.
struct IndexSlot {
  const EngineContext* owner = nullptr;
  int32_t at = 0;
  uint32_t words = 0;
  EntryIndexHeld held;
  uint64_t used = 0;
};

struct IndexTable {
  IndexSlot slot[kEntryIndexSlots];
  uint64_t clock = 0;
};

thread_local IndexTable t_table;

bool slot_live(int i) { return t_entry_index_block[i] != 0; }

void slot_drop(int i) {
  t_entry_index_block[i] = 0;
  t_table.slot[i].owner = nullptr;
}

int slot_find(const EngineContext* ctx, const EntryFinger& f) {
  for (int i = 0; i < kEntryIndexSlots; ++i) {
    const IndexSlot& s = t_table.slot[i];
    if (slot_live(i) && t_entry_index_block[i] == f.block && s.owner == ctx && s.at == f.at &&
        s.words == f.words && s.held.count == f.count)
      return i;
  }
  return -1;
}

// An empty slot, else the one used least recently, emptied (its memory kept
// for the index that takes its place).
int slot_claim() {
  int pick = 0;
  for (int i = 0; i < kEntryIndexSlots; ++i) {
    if (!slot_live(i)) {
      pick = i;
      break;
    }
    if (t_table.slot[i].used < t_table.slot[pick].used) pick = i;
  }
  slot_drop(pick);
  t_table.slot[pick].held.count = 0;
  return pick;
}

// Fills slot i with an index for the container as `view` shows it.
void slot_fill(int i, const EngineContext* ctx, const EntryFinger& view) {
  IndexSlot& s = t_table.slot[i];
  s.owner = ctx;
  s.at = view.at;
  s.words = view.words;
  s.used = ++t_table.clock;
  t_entry_index_block[i] = view.block;
}

// Every offset written out: shift 0 from entry 0 (what the raw table and
// the appends read).
void settle(EntryIndexHeld* h) {
  if (h->shift != 0) {
    int32_t* const o = h->offsets;
    const int64_t n = h->count;
    const uint32_t d = uint32_t(h->shift);
    for (int64_t i = h->shift_from; i < n; ++i) o[i] = int32_t(uint32_t(o[i]) + d);
  }
  h->shift = 0;
  h->shift_from = 0;
}

bool reserve(EntryIndexHeld* h, int64_t n) {
  if (n <= h->capacity) return true;
  int64_t cap = h->capacity > 0 ? h->capacity : 64;
  while (cap < n) cap *= 2;
  void* p = std::realloc(h->offsets, size_t(cap) * sizeof(int32_t));
  if (!p) return false;
  h->offsets = static_cast<int32_t*>(p);
  h->capacity = cap;
  return true;
}

}  // namespace

EntryIndexHeld::EntryIndexHeld(EntryIndexHeld&& o) noexcept
    : offsets(std::exchange(o.offsets, nullptr)), capacity(std::exchange(o.capacity, 0)),
      count(std::exchange(o.count, 0)), shift_from(std::exchange(o.shift_from, 0)),
      shift(std::exchange(o.shift, 0)) {}

EntryIndexHeld& EntryIndexHeld::operator=(EntryIndexHeld&& o) noexcept {
  if (this != &o) {
    std::free(offsets);
    offsets = std::exchange(o.offsets, nullptr);
    capacity = std::exchange(o.capacity, 0);
    count = std::exchange(o.count, 0);
    shift_from = std::exchange(o.shift_from, 0);
    shift = std::exchange(o.shift, 0);
  }
  return *this;
}

EntryIndexHeld::~EntryIndexHeld() { std::free(offsets); }

namespace {

// The slot of the index for the container finger f is on, built by one walk
// from `first` when there is none; -1 when it is too small or no memory is left.
int index_slot(const EngineContext* ctx, const EntryFinger& f, const uint64_t* first) {
  if (f.count < kEntryIndexMinCount || f.block <= 0) return -1;
  int i = slot_find(ctx, f);
  if (i < 0) {
    i = slot_claim();
    EntryIndexHeld& h = t_table.slot[i].held;
    if (!reserve(&h, f.count)) return -1;
    int64_t at = 0;
    for (int32_t k = 0; k < f.count; ++k) {
      h.offsets[k] = int32_t(at);
      at += elem_total_words(first + at);
    }
    h.count = f.count;
    h.shift = 0;
    h.shift_from = 0;
    slot_fill(i, ctx, f);
  }
  t_table.slot[i].used = ++t_table.clock;
  return i;
}

}  // namespace

const int32_t* entry_index_table(const EngineContext* ctx, const EntryFinger& f, const uint64_t* first) {
  const int i = index_slot(ctx, f, first);
  if (i < 0) return nullptr;
  settle(&t_table.slot[i].held);
  return t_table.slot[i].held.offsets;
}

int64_t entry_index_offset(const EngineContext* ctx, const EntryFinger& f, const uint64_t* first, int64_t linear) {
  if (linear < 0 || linear >= f.count) return -1;
  const int i = index_slot(ctx, f, first);
  return i < 0 ? -1 : entry_index_at(t_table.slot[i].held, linear);
}

bool entry_index_held(const EngineContext* ctx, const EntryFinger& f) {
  return f.count >= kEntryIndexMinCount && f.block > 0 && slot_find(ctx, f) >= 0;
}

void entry_index_forget_all() {
  for (int i = 0; i < kEntryIndexSlots; ++i) {
    slot_drop(i);
    t_table.slot[i].held = EntryIndexHeld{};  // an engine's start gives the memory back
  }
}

int entry_index_take_block(const EngineContext* ctx, int32_t block, EntryIndexTaken* out) {
  int n = 0;
  for (int i = 0; i < kEntryIndexSlots; ++i) {
    if (!slot_live(i) || t_entry_index_block[i] != block) continue;
    IndexSlot& s = t_table.slot[i];
    if (s.owner == ctx) {
      out[n].view = EntryFinger{block, s.at, s.words, s.held.count, 0, 0};
      out[n].held = std::move(s.held);
      ++n;
    }
    slot_drop(i);
  }
  return n;
}

void entry_index_put(const EngineContext* ctx, const EntryFinger& view, EntryIndexHeld&& h) {
  if (!h.offsets || h.count != view.count || view.block <= 0) return;
  const int i = slot_claim();
  t_table.slot[i].held = std::move(h);
  slot_fill(i, ctx, view);
}

int64_t entry_index_entry_of(const EntryIndexHeld& h, int64_t word) {
  if (!h.offsets || h.count == 0 || word < entry_index_at(h, 0)) return -1;
  int64_t lo = 0, hi = h.count - 1;  // entry lo starts at or before word throughout
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo + 1) / 2;
    if (entry_index_at(h, mid) <= word)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

void entry_index_shift(EntryIndexHeld* h, int64_t word, int64_t delta) {
  if (!h->offsets || delta == 0) return;
  const int64_t from = entry_index_entry_of(*h, word) + 1;
  // The pending shift moves to `from`: the entries between its old start and
  // the new one take it (or give it back) one by one. Through locals: a store
  // into offsets could otherwise be h->count (both int32), which kept the
  // loops from being vectorised.
  int32_t* const o = h->offsets;
  const uint32_t s = uint32_t(h->shift);
  if (h->shift == 0) {
    h->shift_from = int32_t(from);
  } else if (from > h->shift_from) {
    for (int64_t i = h->shift_from; i < from; ++i) o[i] = int32_t(uint32_t(o[i]) + s);
  } else {
    for (int64_t i = from; i < h->shift_from; ++i) o[i] = int32_t(uint32_t(o[i]) - s);
  }
  h->shift_from = int32_t(from);
  h->shift = int32_t(uint32_t(h->shift) + uint32_t(int32_t(delta)));
}

void entry_index_append(EntryIndexHeld* h, int64_t word, int64_t m, int64_t words_each) {
  if (!h->offsets) return;
  settle(h);
  if (int64_t(h->count) + m > INT32_MAX || word + m * words_each > INT32_MAX || !reserve(h, h->count + m)) {
    *h = EntryIndexHeld{};
    return;
  }
  for (int64_t i = 0; i < m; ++i) h->offsets[h->count + i] = int32_t(word + i * words_each);
  h->count = int32_t(h->count + m);
}

int entry_index_live_count() {
  int n = 0;
  for (int i = 0; i < kEntryIndexSlots; ++i) n += slot_live(i);
  return n;
}
