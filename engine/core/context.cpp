// Engine start-up: the division of the caller's block into the four areas,
// the defaults of the context record, registration of built-in tables (whose
// records are carved from the front of the data area), the library group flag
// and the reset of the engine. The engine never allocates: every limit
// follows from the block size.
#include "engine/core/context.h"

#include <cstring>

#include "engine/core/call_cache.h"
#include "engine/core/entry_index.h"
#include "engine/core/checked.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/opcodes.h"
#include "engine/core/service_table.h"

namespace {

constexpr const char kVersionBanner[] = "ZVR 5.0.1";
constexpr int kFunctionTableMinCapacity = 100;
constexpr int64_t kRegistrationReserveBytes = 800;
// The descriptor stack must hold the base frame and a few items beyond it.
constexpr uint32_t kBaseFrameMarginWords = 24;

void store_defaults(EngineContext* c) {
  c->svc = &kEngineServices;
  c->frame = -1;
  c->fn_count = 1;
  c->task_next_id = 1;
  c->time_slice = 0.05;
  c->task_word = -1;
  c->rng_uniform = {0, 1};
  c->rng_normal = {0, 1};
  c->handler_mark = -1;
  c->handler_mark2 = -1;
  c->error_area.loc_function = -1;
  c->err_pending_text = -1;
  c->err_last_text = -1;
  c->reserved_word = -1;
  c->free_at_run = -1;
  c->opt_level = 1;
  c->disp_word1 = 4;
  c->disp_text[0] = 'g';
  c->disp_text[1] = 'j';
  c->disp_word2 = 24;
  c->disp_flag = -1;
  c->redirect[0] = 1024;
  c->redirect[1] = 1;
  c->redirect[2] = 2;
  c->lib_ext = "zvl";
  c->help_ext = "hlp";
  c->bp_list = -1;
  c->dbg_word[0] = c->dbg_word[1] = c->dbg_word[2] = -1;
}

// Moves the data-stack items so that the stack starts at new_base, shrinking
// its capacity by the distance moved. Highest word first: the move is upward.
void shift_data_stack(EngineContext* c, uint32_t new_base) {
  uint8_t* bytes = ctx_bytes(c);
  const uint32_t old_base = c->data_base.v;
  std::memmove(bytes + new_base, bytes + old_base, size_t(c->data_top) * 8);
  c->data_capacity -= (new_base - old_base) / 8;
  c->data_base.v = new_base;
}

// Start of the registration area: where the data stack began before any
// table or named block was registered.
uint32_t registration_start(const EngineContext* c) {
  if (c->tables.v) return c->tables.v;
  if (c->named.v) return c->named.v - 8;
  return c->data_base.v;
}

bool row_name_is(const BuiltinEntry& row, char mark, const char* name) {
  return row.name[0] == mark && std::strncmp(row.name + 1, name, sizeof row.name - 1) == 0;
}

}  // namespace

const char* engine_version_string() { return kVersionBanner; }

AreaLayout engine_area_layout(uint32_t size) {
  AreaLayout l{};
  const int64_t r = int64_t(size) - kContextNominalBytes;
  if (r <= 0) return l;
  l.data_words = uint32_t((r / 64) & ~int64_t(7));
  l.heap_words = uint32_t(((3 * r / 8) / 8) & ~int64_t(7));
  l.desc_words = uint32_t(((r / 8) / 4) & ~int64_t(7));
  l.desc_bytes = uint32_t((r / 8) & ~int64_t(31));
  l.code_bytes = uint32_t(r - int64_t(l.data_words) * 8 - int64_t(l.heap_words) * 8 - l.desc_bytes);
  l.code_words = (l.code_bytes / 2) & ~7u;
  l.fn_capacity = int32_t(l.code_bytes / 512);
  if (l.fn_capacity < kFunctionTableMinCapacity) l.fn_capacity = int32_t(l.code_words / 128);
  return l;
}

AreaOffsets engine_area_offsets(const AreaLayout& l) {
  AreaOffsets o{};
  o.data = kContextNominalBytes;
  o.heap = o.data + l.data_words * 8;
  o.desc = o.heap + l.heap_words * 8;
  o.code = o.desc + l.desc_bytes;
  o.end = o.code + l.code_bytes;
  return o;
}

int engine_init(void* block, uint32_t size, EngineContext** out) {
  if (out) *out = nullptr;
  if (!block || size < kMinBlockBytes) return kInitError;
  // Doubles and 32-bit words are addressed directly in the areas.
  if (reinterpret_cast<uintptr_t>(block) % 8 != 0) return kInitError;
  const AreaLayout l = engine_area_layout(size);
  if (l.desc_words < uint32_t(kBaseFrameWords) + kBaseFrameMarginWords) return kInitError;
  if (opcode_table_selfcheck() != kOk) return kInitError;

  auto* c = static_cast<EngineContext*>(block);
  call_cache_clear();  // an earlier engine may have lived at this address
  entry_index_forget_all();
  std::memset(c, 0, kContextNominalBytes);
  store_defaults(c);

  const AreaOffsets at = engine_area_offsets(l);
  c->data_base.v = at.data;
  c->data_capacity = l.data_words;
  c->heap_base.v = at.heap;
  c->heap_size = int32_t(l.heap_words);
  c->desc_base.v = at.desc;
  c->desc_capacity = l.desc_words;
  c->code_base.v = at.code;
  c->code_size = l.code_words;
  c->fn_capacity = l.fn_capacity;
  c->code_free = uint32_t(l.fn_capacity) * 8;

  // The whole heap is one free block; entry 0 of the function table is zero.
  tn::store<uint64_t>(heap_words(c), uint64_t(l.heap_words - 1));
  std::memset(fn_entry(c, 0), 0, kFnEntryWords * 4);
  if (out) *out = c;
  return kOk;
}

void engine_set_callbacks(EngineContext* c, ClockFn fn, void* state, int32_t state_size) {
  c->clock_fn = fn;
  c->clock_state = state;
  c->clock_state_size = state_size;
}

void engine_set_context_resolver(EngineContext* c, ContextResolverFn fn, void* handle) {
  c->resolver_fn = fn;
  c->resolver_handle = handle;
}

void engine_set_option_pair(EngineContext* c, AbortPollFn fn, void* arg) {
  c->abort_fn = fn;
  c->abort_arg = arg;
}

void engine_set_user_data(EngineContext* c, uintptr_t word) { c->default_data = word; }

void compile_set_debug_info(EngineContext* c, int flag) { c->emit_positions = flag ? 1 : 0; }

void compile_set_optimisation(EngineContext* c, int level, int flag) {
  c->opt_level = level;
  c->opt_flag = uint8_t(flag);
}

int engine_register_builtin_table(EngineContext* c, const BuiltinEntry* table, int prepend) {
  if (!table || table[0].name[0] == 0) return kOk;
  LibraryTableRef* refs = table_refs(c);
  for (int i = 0; i < c->table_count; ++i)
    if (refs[i].table == table) return kInitError;
  int32_t rows = 0;
  for (; table[rows].name[0]; ++rows)
    if (table[rows].class_word < -127 || table[rows].class_word > 127) return kInitError;

  // A real reserve of data stack is kept: the test is signed.
  if (int64_t(c->data_capacity) * 8 - kRegistrationReserveBytes < 12) return kInitError;
  const uint32_t start = registration_start(c);
  const int32_t count = c->table_count + 1;
  const uint32_t named_start = start + uint32_t(count) * sizeof(LibraryTableRef) + 8;
  const uint32_t new_base = named_start + uint32_t(c->named_count) * sizeof(NamedBlock) + 8;
  const int64_t moved_words = (int64_t(new_base) - c->data_base.v) / 8;
  if (int64_t(c->data_capacity) <= int64_t(c->data_top) + 2 ||
      int64_t(c->data_capacity) - moved_words < int64_t(c->data_top) + 2)
    return kDataStackOverflow;

  shift_data_stack(c, new_base);
  if (c->named_count) {
    std::memmove(ctx_bytes(c) + named_start, named_blocks(c), size_t(c->named_count) * sizeof(NamedBlock));
    c->named.v = named_start;
  }
  c->tables.v = start;
  refs = table_refs(c);
  const LibraryTableRef rec{table, rows, 0};
  if (prepend) {
    std::memmove(refs + 1, refs, size_t(c->table_count) * sizeof(LibraryTableRef));
    refs[0] = rec;
  } else {
    refs[c->table_count] = rec;
  }
  c->table_count = count;
  return kOk;
}

int engine_set_library_flag(EngineContext* c, const char* name, uint8_t flag) {
  LibraryTableRef* refs = table_refs(c);
  for (int t = 0; t < c->table_count; ++t) {
    for (int r = 0; r < refs[t].rows; ++r) {
      const BuiltinEntry& row = refs[t].table[r];
      if (row_name_is(row, '@', name)) return kSecurityViolation;
      if (row_name_is(row, '!', name)) refs[t].group_flag = flag;
    }
  }
  return kSourceNotFound;
}

void builtin_table_set_data(BuiltinEntry* table, BuiltinFn fn, uintptr_t data) {
  for (BuiltinEntry* row = table; row->name[0]; ++row)
    if (row->fn == fn) row->data = data;
}

const BuiltinEntry* lib_entry_by_index(EngineContext* c, int k) {
  if (k < 0) return nullptr;
  const LibraryTableRef* refs = table_refs(c);
  for (int t = 0; t < c->table_count; ++t) {
    if (k < refs[t].rows) return &refs[t].table[k];
    k -= refs[t].rows;
  }
  return nullptr;
}

// The argument is passed as the row's number of inputs, with one output asked.
int lib_call_by_name(EngineContext* c, const char* name, int class_word, int arg) {
  const LibraryTableRef* refs = table_refs(c);
  for (int t = 0; t < c->table_count; ++t) {
    for (int r = 0; r < refs[t].rows; ++r) {
      const BuiltinEntry& row = refs[t].table[r];
      if (row.fn && row.class_word == class_word &&
          std::strncmp(row.name, name, sizeof row.name) == 0)
        return row.fn(c, arg, 1, builtin_data(c, &row));
    }
  }
  return kUnknownFunction;
}

// Named blocks follow the table records; adding one moves the data stack up.
int engine_add_named_block(EngineContext* c, const char* name, void* block) {
  TN_TRY(frame_unwind(c, 0));
  if (!block) return kOk;
  if (engine_find_named_block(c, name)) return kInitError;
  if (int64_t(c->data_capacity) * 8 - kRegistrationReserveBytes < 8) return kInitError;
  const uint32_t start = registration_start(c);
  const uint32_t named_start = start + uint32_t(c->table_count) * sizeof(LibraryTableRef) + 8;
  const int32_t count = c->named_count + 1;
  const uint32_t new_base = named_start + uint32_t(count) * sizeof(NamedBlock) + 8;
  const int64_t moved_words = (int64_t(new_base) - c->data_base.v) / 8;
  if (int64_t(c->data_capacity) - moved_words < int64_t(c->data_top) + 2) return kDataStackOverflow;
  // Items already on the stack move with its base, so none is overwritten.
  shift_data_stack(c, new_base);
  c->named.v = named_start;
  named_blocks(c)[c->named_count] = NamedBlock{name, block};
  c->named_count = count;
  return kOk;
}

void* engine_find_named_block(EngineContext* c, const char* name) {
  const NamedBlock* pairs = named_blocks(c);
  for (int i = 0; i < c->named_count && c->named.v; ++i)
    if (std::strcmp(pairs[i].name, name) == 0) return pairs[i].block;
  return nullptr;
}

void engine_reset_runtime(EngineContext* c) {
  entry_gap_settle(c);  // the sweep below keeps global blocks as they lie
  c->frame = -1;
  c->reserved_word = -1;
  c->free_at_run = -1;
  c->bp_list = -1;
  c->dbg_word[0] = c->dbg_word[1] = c->dbg_word[2] = -1;
  c->desc_top = 0;
  c->data_top = 0;
  c->bp_count = 0;
  c->interrupt_debug = 0;
  c->pending_debug = 0;
  c->status_word = 0;
  // Task records and the semaphore table are heap blocks that the sweep below
  // frees: the main context goes on alone, with no task and no semaphore.
  c->task_current = 0;
  c->task_first = 0;
  c->yield_request = 0;
  c->slice_steps_left = 1;
  c->sem_table[0] = 0;
  c->sem_table[1] = 0;
  // The sweep below frees every unmarked heap block, the error texts with them.
  c->err_pending_text = -1;
  c->err_last_text = -1;

  // Sweep: only the heap blocks of global and persistent variables survive.
  uint64_t* heap = heap_words(c);
  const int64_t size = c->heap_size;
  for (int64_t i = 0; i < size; i += int64_t(heap[i] & kHeapSizeMask) + 1) heap[i] &= ~kHeapMark;
  for (int id = 0; id < c->fn_count; ++id) {
    const uint32_t* e = fn_entry(c, id);
    const int32_t index = int32_t(e[2]);
    if (int32_t(e[0]) == 1 && index > 0 && index < size) heap[index - 1] |= kHeapMark;
  }
  for (int64_t i = 0; i < size; i += int64_t(heap[i] & kHeapSizeMask) + 1)
    if (!(heap[i] & kHeapMark)) heap[i] &= kHeapSizeMask;
  heap_hint_reset(c);
}

void engine_reset(EngineContext* c) {
  engine_reset_runtime(c);
  uint32_t* w = desc_words(c);
  std::memset(w, 0, kBaseFrameWords * 4);
  w[0] = kAreaBaseFrame;
  w[2] = uint32_t(-1);
  w[9] = uint32_t(-1);
  w[11] = 1;
  w[15] = kBaseFrameSlots;
  w[18] = uint32_t(-1);
  w[19] = uint32_t(-1);
  for (int i = 0; i < kBaseFrameSlots; ++i) w[22 + i] = uint32_t(-1);
  std::memcpy(reinterpret_cast<char*>(w + 22 + kBaseFrameSlots), "ans", 3);
  c->desc_top = kBaseFrameWords;
  c->frame = 0;
}
