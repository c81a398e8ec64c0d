// The engine's state copied out and put back (state_copy.h). Every place
// inside the block is an offset from its area's start, except the stacks of
// tasks, whose records name them (and their clock states) by offsets from
// the context: those follow the heap when the heap has moved since the copy.
#include "engine/core/state_copy.h"

#include <algorithm>
#include <cstring>

#include "engine/core/call_cache.h"
#include "engine/core/checked.h"
#include "engine/core/fntable.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "engine/core/streams.h"

namespace {

// Values kept in place per copy; any further large ones are copied. Free
// blocks from kFreeSkipWords on are not copied either (only their headers).
constexpr int kMaxKept = 64;
constexpr int kMaxFreeSkipped = 64;
constexpr int kMaxSkipped = kMaxKept + kMaxFreeSkipped;
constexpr int64_t kFreeSkipWords = 512;
constexpr int kNextFdWord = 0;  // EngineContext::redirect: the next descriptor fd_alloc reserves
constexpr int64_t kKeptWordsDefault = 4096;  // 32 KB: below it a copy costs less than the bookkeeping
int64_t g_kept_words = kKeptWordsDefault;

// Where the copied parts lay when the copy was taken; the parts follow in
// this order, each padded to 8 bytes: context, data area, heap, descriptor
// stack, code words, symbols.
struct CopyHead {
  uint32_t data_start, data_end;  // the registration lists and the main data stack
  uint32_t heap_base;
  int64_t heap_words;  // up to the end of the last block in use
  int64_t desc_words;  // the main descriptor stack
  int64_t table_words;  // the function table's entries in use
  int64_t code_from;    // the code behind the table, up to code_words
  int64_t code_words;
  int64_t symbol_bytes;
  uint64_t opens;  // streams noted open so far (streams.h)
  // The kept values: data indices of heap blocks in use, ascending; their
  // data words are left out of the heap's copy (their headers are in it).
  int32_t kept_count;
  int32_t kept[kMaxKept];
  // Blocks whose data words are left out of the heap's copy: the kept ones
  // and large free ones, ascending.
  int32_t skipped_count;
  int32_t skipped[kMaxSkipped];
};

// The copies held, innermost last.
constexpr int kMaxHolds = 16;
thread_local const CopyHead* t_holds[kMaxHolds];
thread_local int t_hold_count = 0;

bool head_keeps(const CopyHead* h, int32_t block) {
  return std::binary_search(h->kept, h->kept + h->kept_count, block);
}

int64_t padded(int64_t bytes) { return (bytes + 7) & ~int64_t(7); }

struct MainStacks {
  uint32_t desc_base, desc_capacity;
  int32_t desc_top;
  uint32_t data_base, data_capacity;
  int32_t data_top;
};

// While a task runs, the context's stack words are the task's and the main
// stacks are described by the main task's record.
MainStacks main_stacks(const EngineContext* c) {
  if (c->task_current == 0)
    return {c->desc_base.v, c->desc_capacity, c->desc_top, c->data_base.v, c->data_capacity, c->data_top};
  const uint32_t* r = c->main_task;
  return {r[kTaskDescBase], r[kTaskDescCapacity], int32_t(r[kTaskDescTop]), r[kTaskDataBase],
          r[kTaskDataCapacity], int32_t(r[kTaskDataTop])};
}

void set_main_stacks(EngineContext* c, const MainStacks& m) {
  if (c->task_current == 0) {
    c->desc_base.v = m.desc_base;
    c->desc_capacity = m.desc_capacity;
    c->data_capacity = m.data_capacity;
  } else {
    c->main_task[kTaskDescBase] = m.desc_base;
    c->main_task[kTaskDescCapacity] = m.desc_capacity;
    c->main_task[kTaskDataCapacity] = m.data_capacity;
  }
}

// The registration lists, when there are any, lie ahead of the data stack.
uint32_t data_area_start(const EngineContext* c, uint32_t data_base) {
  uint32_t start = data_base;
  if (c->table_count > 0 && c->tables.v && c->tables.v < start) start = c->tables.v;
  if (c->named_count > 0 && c->named.v && c->named.v - 8 < start) start = c->named.v - 8;
  return start;
}

CopyHead head_of(EngineContext* c) {
  const MainStacks m = main_stacks(c);
  CopyHead h{};
  h.data_start = data_area_start(c, m.data_base);
  h.data_end = uint32_t(m.data_base + int64_t(m.data_top) * 8);
  h.heap_base = c->heap_base.v;
  // One walk: the end of the last block in use, and the large free blocks
  // before it.
  const uint64_t* heap = heap_words(c);
  heap_walk(heap, c->heap_size, [&](int64_t i, int64_t size, uint64_t header) {
    if (heap_header_used(header)) h.heap_words = i + size + 1;
    else if (size >= kFreeSkipWords && h.skipped_count < kMaxFreeSkipped) h.skipped[h.skipped_count++] = int32_t(i + 1);
  });
  while (h.skipped_count > 0 && h.skipped[h.skipped_count - 1] > h.heap_words) --h.skipped_count;
  h.desc_words = m.desc_top;
  h.table_words = int64_t(c->fn_count) * kEntryCodeWords;
  h.code_from = int64_t(c->fn_capacity) * kEntryCodeWords;
  h.code_words = c->code_free;
  h.symbol_bytes = -int64_t(c->sym_extent);
  h.opens = io_opens_mark();
  // The large values of global and persistent variables.
  for (int32_t id = 1; id < c->fn_count && h.kept_count < kMaxKept; ++id) {
    if (ent(c, id, kEntName) != kEntryVariable) continue;
    const int32_t block = ent(c, id, kEntCode);
    if (block < 1 || block > h.heap_words) continue;
    const uint64_t header = heap_header(heap, block - 1);
    if (!heap_header_used(header) || heap_header_size(header) < g_kept_words ||
        block + heap_header_size(header) > h.heap_words)
      continue;
    h.kept[h.kept_count++] = block;
  }
  std::sort(h.kept, h.kept + h.kept_count);
  h.kept_count = int32_t(std::unique(h.kept, h.kept + h.kept_count) - h.kept);
  std::copy(h.kept, h.kept + h.kept_count, h.skipped + h.skipped_count);
  h.skipped_count += h.kept_count;
  std::sort(h.skipped, h.skipped + h.skipped_count);
  return h;
}

// The heap's copied words: [0, heap_words) less the skipped blocks' data,
// as runs visit(from, words).
template <typename Visit>
void copied_runs(const CopyHead& h, const uint64_t* heap, Visit&& visit) {
  int64_t at = 0;
  for (int k = 0; k < h.skipped_count; ++k) {
    const int64_t block = h.skipped[k];
    visit(at, block - at);
    at = block + heap_header_size(heap_header(heap, block - 1));
  }
  visit(at, h.heap_words - at);
}

int64_t copied_heap_words(const CopyHead& h, const uint64_t* heap) {
  int64_t n = 0;
  copied_runs(h, heap, [&](int64_t, int64_t words) { n += words; });
  return n;
}

int64_t copy_bytes(const CopyHead& h, const uint64_t* heap) {
  return padded(sizeof(CopyHead)) + padded(sizeof(EngineContext)) + padded(h.data_end - h.data_start) +
         copied_heap_words(h, heap) * 8 + padded(h.desc_words * 4) + padded(h.table_words * 2) +
         padded((h.code_words - h.code_from) * 2) + padded(h.symbol_bytes);
}

// Ends the latest hold, which must be the copy's.
void end_hold(const uint8_t* copy) {
  if (t_hold_count > 0 && t_holds[t_hold_count - 1] == reinterpret_cast<const CopyHead*>(copy)) --t_hold_count;
}

uint8_t* code_end(EngineContext* c) { return ctx_bytes(c) + c->code_base.v + int64_t(c->code_size) * 2; }

// The context words that belong to the process, not to the engine's state:
// they keep the values they have when the copy goes back.
void keep_process_words(EngineContext* c, const EngineContext& now) {
  c->svc = now.svc;
  c->default_data = now.default_data;
  c->clock_fn = now.clock_fn;
  c->clock_state = now.clock_state;
  c->clock_state_size = now.clock_state_size;
  c->resolver_fn = now.resolver_fn;
  c->resolver_handle = now.resolver_handle;
  c->abort_fn = now.abort_fn;
  c->abort_arg = now.abort_arg;
  std::memcpy(c->charset, now.charset, sizeof c->charset);
  c->capture = now.capture;
  c->lib_ext = now.lib_ext;
  c->help_ext = now.help_ext;
  // Descriptors reserved are never given back: the libraries that reserved
  // them keep their ranges outside the engine.
  c->redirect[kNextFdWord] = now.redirect[kNextFdWord];
}

// Task records name their stacks and clock states by offsets from the
// context, inside the heap: they move with it.
void shift_task_offsets(EngineContext* c, int64_t delta) {
  uint64_t* heap = heap_words(c);
  int64_t guard = c->heap_size;
  for (int32_t index = c->task_first; index > 0 && index < c->heap_size && guard-- > 0;) {
    uint8_t* r = reinterpret_cast<uint8_t*>(heap + index);
    static constexpr int kOffsetWords[] = {kTaskDescBase, kTaskDataBase, kTaskClockState, kTaskSleepClockState};
    for (int word : kOffsetWords) tn::st_u32(r + 4 * word, uint32_t(int64_t(tn::ld_u32(r + 4 * word)) + delta));
    index = int32_t(tn::ld_u32(r + 4 * kTaskNext));
  }
  if (c->task_current != 0) {
    c->desc_base.v = uint32_t(int64_t(c->desc_base.v) + delta);
    c->data_base.v = uint32_t(int64_t(c->data_base.v) + delta);
  }
}

}  // namespace

int64_t engine_state_copy(EngineContext* c, uint8_t* out, int64_t capacity) {
  const CopyHead h = head_of(c);
  const int64_t bytes = copy_bytes(h, heap_words(c));
  if (!out || bytes > capacity) return bytes;
  uint8_t* at = out;
  auto put = [&](const void* from, int64_t n) {
    std::memcpy(at, from, size_t(n));
    at += padded(n);
  };
  put(&h, sizeof h);
  put(c, sizeof *c);
  put(ctx_bytes(c) + h.data_start, h.data_end - h.data_start);
  const uint64_t* heap = heap_words(c);
  copied_runs(h, heap, [&](int64_t from, int64_t words) {
    std::memcpy(at, heap + from, size_t(words) * 8);
    at += words * 8;
  });
  put(ctx_bytes(c) + main_stacks(c).desc_base, h.desc_words * 4);
  put(code_words(c), h.table_words * 2);
  put(code_words(c) + h.code_from, (h.code_words - h.code_from) * 2);
  put(code_end(c) - h.symbol_bytes, h.symbol_bytes);
  return bytes;
}

void engine_state_restore(EngineContext* c, const uint8_t* copy) {
  CopyHead h;
  std::memcpy(&h, copy, sizeof h);
  const uint8_t* at = copy + padded(sizeof h);
  auto take = [&](void* to, int64_t n) {
    std::memcpy(to, at, size_t(n));
    at += padded(n);
  };
  // Streams opened since the copy are closed while the hooks that own them
  // can still be reached.
  io_close_opened_since(c, h.opens);

  const EngineContext now = *c;
  const MainStacks stacks_now = main_stacks(&now);
  take(c, sizeof *c);
  keep_process_words(c, now);
  // The areas as they are now: each holds at least what it held then. The
  // function table keeps the capacity its code words were laid out for.
  c->heap_base = now.heap_base;
  c->heap_size = now.heap_size;
  c->code_base = now.code_base;
  c->code_size = now.code_size;
  MainStacks m = main_stacks(c);
  m.desc_base = stacks_now.desc_base;
  m.desc_capacity = stacks_now.desc_capacity;
  m.data_capacity = stacks_now.data_capacity;
  set_main_stacks(c, m);

  take(ctx_bytes(c) + h.data_start, h.data_end - h.data_start);
  // The kept blocks lie where they lay, unwritten: their headers come back
  // with the copy, their data are still in place. A skipped free block's
  // data mean nothing.
  uint64_t* heap = heap_words(c);
  int64_t at_word = 0;
  for (int k = 0; k <= h.skipped_count; ++k) {
    const int64_t end = k < h.skipped_count ? h.skipped[k] : h.heap_words;
    std::memcpy(heap + at_word, at, size_t(end - at_word) * 8);
    at += (end - at_word) * 8;
    if (k < h.skipped_count) at_word = end + heap_header_size(heap_header(heap, end - 1));
  }
  if (h.heap_words < c->heap_size) heap_set_header(heap, h.heap_words, uint64_t(c->heap_size - h.heap_words - 1));
  take(ctx_bytes(c) + m.desc_base, h.desc_words * 4);
  take(code_words(c), h.table_words * 2);
  take(code_words(c) + h.code_from, (h.code_words - h.code_from) * 2);
  take(code_end(c) - h.symbol_bytes, h.symbol_bytes);

  if (c->heap_base.v != h.heap_base) shift_task_offsets(c, int64_t(c->heap_base.v) - int64_t(h.heap_base));
  // The hints and the caches outside the block describe the heap undone.
  heap_hint_reset(c);
  call_cache_clear();
  end_hold(copy);
}

void engine_state_hold(const uint8_t* copy) {
  // Holds nest only as far as steps do (a handler call inside a derived
  // update inside a figure's plot handlers): a few deep.
  TN_ASSERT(t_hold_count < kMaxHolds);
  if (t_hold_count < kMaxHolds) t_holds[t_hold_count++] = reinterpret_cast<const CopyHead*>(copy);
}

void engine_state_release(EngineContext* c, const uint8_t* copy) {
  end_hold(copy);
  CopyHead h;
  std::memcpy(&h, copy, sizeof h);
  if (h.kept_count == 0) return;
  // A kept value no variable names any more was replaced or cleared.
  bool named[kMaxKept] = {};
  for (int32_t id = 1; id < c->fn_count; ++id) {
    if (ent(c, id, kEntName) != kEntryVariable) continue;
    const int32_t* k = std::lower_bound(h.kept, h.kept + h.kept_count, ent(c, id, kEntCode));
    if (k != h.kept + h.kept_count && *k == ent(c, id, kEntCode)) named[k - h.kept] = true;
  }
  for (int k = 0; k < h.kept_count; ++k)
    if (!named[k] && !engine_block_kept(h.kept[k])) heap_free(c, h.kept[k]);
}

bool engine_block_kept(int32_t block) {
  for (int k = 0; k < t_hold_count; ++k)
    if (head_keeps(t_holds[k], block)) return true;
  return false;
}

int64_t engine_state_set_kept_words(int64_t words) {
  const int64_t before = g_kept_words;
  g_kept_words = words;
  return before;
}
