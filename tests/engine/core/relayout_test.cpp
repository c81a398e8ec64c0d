// Growing the block: the host copies it into a larger buffer (the old copy is
// poisoned) and the areas are laid out again, the gain going to the area that
// overflowed. The engine must then hold the same state and keep working; a
// state copied before a run goes back into the block as it is, grown or not.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "engine/core/state_copy.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "support/code_builder.h"
#include "support/engine_block.h"
#include "support/heap_check.h"
#include "support/snapshot_writer.h"

namespace {

constexpr uint32_t kSmall = 32768;
constexpr uint32_t kGain = 24576;

BuiltinEntry g_table[2] = {};

// A context with a registered table, a heap variable held by a global entry,
// a compiled function, symbols, a frame and items.
EngineBlock busy_engine(bool with_frame) {
  EngineBlock b = EngineBlock::make(kSmall);
  EngineContext* c = b;
  std::strcpy(g_table[0].name, "probe");
  EXPECT_EQ(engine_register_builtin_table(c, g_table, 1), kOk);
  int32_t sym = 0;
  EXPECT_EQ(symtab_intern(c, "counter", 7, 32, &sym), kOk);
  HandFunction f;
  f.locals = 1;
  f.max_in = 1;
  f.max_out = 1;
  const uint32_t code = place_function(c, f);
  int32_t var = 0;
  EXPECT_EQ(heap_alloc(c, 3, &var), kOk);
  heap_words(c)[var + 2] = 0x1122334455667788u;
  uint32_t* e = fn_entry(c, 1);
  e[0] = uint32_t(sym);
  e[1] = 0;
  e[2] = code;
  e[3] = 0;
  e = fn_entry(c, 2);
  e[0] = 1;
  e[1] = uint32_t(sym);
  e[2] = uint32_t(var);
  e[3] = uint32_t(-1);
  c->fn_count = 3;
  EXPECT_EQ(stk_push_cstr(c, -1, "below the frame"), kOk);
  if (with_frame) {
    EXPECT_EQ(stk_push_real(c, 2.5), kOk);
    EXPECT_EQ(frame_push(c, nullptr, function_header(c, code), 1, 0, 1, 1, 0, 0, 0), kOk);
    EXPECT_EQ(stk_push_real(c, 8), kOk);
  }
  return b;
}

struct Areas {
  uint32_t desc, data;
  int32_t heap;
  uint32_t code;
};
Areas areas(EngineContext* c) { return {c->desc_capacity, c->data_capacity, c->heap_size, c->code_size}; }

// Uses the grown area until it is full, beyond what the old block held.
void exercise(EngineContext* c, int area, const Areas& old) {
  switch (area) {
    case kGrowDescriptors:
    case kGrowDescriptors2:
      while (stk_push_no_value(c) == kOk) {}
      EXPECT_GT(uint32_t(c->desc_top), old.desc);
      break;
    case kGrowData:
    case kGrowData2:
      EXPECT_EQ(stk_push_zeros(c, 1, int32_t(old.data), 0), kOk);
      break;
    case kGrowHeap: {
      int32_t index = 0;
      ASSERT_EQ(heap_alloc(c, old.heap, &index), kOk);
      break;
    }
    case kGrowCode: {
      int n = 0;
      char name[16];
      for (int32_t s = 0;; ++n) {
        std::snprintf(name, sizeof name, "s%05d", n);
        if (symtab_intern(c, name, 6, 32, &s) != kOk) break;
      }
      EXPECT_GT(int64_t(n) * 7, int64_t(old.code) * 2 - int64_t(c->code_free) * 2);
      break;
    }
    default: break;
  }
}

TEST(Relayout, EveryOverflowCodeGrowsItsAreaAndKeepsTheState) {
  for (int area : {1, 2, 3, 4, 5, 6, 0, 17}) {
    EngineBlock a = busy_engine(true);
    const EngineState before = capture_state(a);
    const Areas old = areas(a);
    const int32_t fn_capacity = a->fn_capacity;
    EngineBlock b = a.grown(kSmall + kGain);
    ASSERT_EQ(engine_offsets_to_pointers(b, b.size, area), kOk) << area;
    const Areas now = areas(b);
    EXPECT_TRUE(capture_state(b) == before) << area;
    EXPECT_TRUE(check_heap_chain(b)) << area;
    EXPECT_EQ(b->fn_capacity, fn_capacity);  // a frame holds code positions
    EXPECT_LE(b->code_base.v + b->code_size * 2, b.size);
    EXPECT_EQ(lib_entry_by_index(b, 0), &g_table[0]);
    const bool proportional = area < kGrowDescriptors || area > kGrowCode;
    EXPECT_EQ(now.desc > old.desc, proportional || area <= kGrowDescriptors2) << area;
    EXPECT_EQ(now.data > old.data, proportional || area == kGrowData || area == kGrowData2) << area;
    EXPECT_EQ(now.heap > old.heap, proportional || area == kGrowHeap) << area;
    EXPECT_EQ(now.code > old.code, proportional || area == kGrowCode) << area;

    // Runs on: the frame returns, the grown area takes more than before.
    ASSERT_EQ(frame_pop(b), kOk);
    double v = 0;
    ASSERT_EQ(stk_get_real_scalar(b, 0, &v), kOk);
    EXPECT_EQ(v, 8);
    exercise(b, area, old);
    EXPECT_TRUE(check_heap_chain(b));
    engine_reset(b);
    EXPECT_TRUE(check_heap_used(b, {{int64_t(fn_entry(b, 2)[2]), 3}}));
  }
}

TEST(Relayout, QuietEngineGrowsItsFunctionTableAndMovesOnlyCodeOffsets) {
  EngineBlock a = busy_engine(false);
  const uint32_t uses = a->code_free;
  code_words(a)[uses] = 1;
  code_words(a)[uses + 1] = 3;
  a->code_free += 4;
  uint32_t* lib = fn_entry(a, 3);
  lib[0] = 0;
  lib[1] = fn_entry(a, 1)[0];
  lib[2] = uses;
  lib[3] = 0;
  a->fn_count = 4;
  const uint32_t code_before = fn_entry(a, 1)[2];
  const uint32_t var_before = fn_entry(a, 2)[2];
  const std::vector<uint16_t> code(code_words(a) + code_before, code_words(a) + a->code_free);
  const int32_t capacity = a->fn_capacity;
  EngineBlock b = a.grown(4 * kSmall);
  ASSERT_EQ(engine_offsets_to_pointers(b, b.size, 0), kOk);
  ASSERT_GT(b->fn_capacity, capacity);
  const uint32_t shift = uint32_t(b->fn_capacity - capacity) * 8;
  EXPECT_EQ(fn_entry(b, 1)[2], code_before + shift);
  EXPECT_EQ(fn_entry(b, 2)[2], var_before);  // a heap index, not a code offset
  EXPECT_EQ(fn_entry(b, 3)[2], uses + shift);  // the library's use-list
  EXPECT_TRUE(std::equal(code.begin(), code.end(), code_words(b) + code_before + shift));
  int32_t sym = 0;
  ASSERT_EQ(symtab_intern(b, "counter", 7, 32, &sym), kOk);
  EXPECT_EQ(int32_t(fn_entry(b, 1)[0]), sym);  // symbols still at the area's end
}

TEST(Relayout, NothingToGainIsAFailureAndChangesNothing) {
  EngineBlock a = busy_engine(true);
  const EngineState before = capture_state(a);
  const Areas old = areas(a);
  EXPECT_EQ(engine_offsets_to_pointers(a, 0, kGrowHeap), kOk);  // only a confirmation
  for (int area : {int(kGrowHeap), int(kGrowCode), 0})
    EXPECT_EQ(engine_offsets_to_pointers(a, a.size, area), kInitError) << area;
  // Less than the 64-byte step: the named area cannot grow.
  for (int area : {int(kGrowHeap), int(kGrowCode)})
    EXPECT_EQ(engine_offsets_to_pointers(a, a.size + 40, area), kInitError) << area;
  EXPECT_TRUE(capture_state(a) == before);
  const Areas now = areas(a);
  EXPECT_EQ(now.heap, old.heap);
  EXPECT_EQ(now.code, old.code);
}

TEST(Relayout, TaskStacksMoveWithTheHeap) {
  EngineBlock a = busy_engine(false);
  int32_t index = 0;
  ASSERT_EQ(heap_alloc(a, 200, &index), kOk);
  uint32_t r[kMainTaskWords] = {};
  const uint32_t record = a->heap_base.v + uint32_t(index) * 8;
  r[kTaskClockState] = record + kTaskRecordBytes;
  r[kTaskDataBase] = record + kTaskRecordBytes;
  r[kTaskDescBase] = record + kTaskRecordBytes + 512;
  std::memcpy(heap_words(a) + index, r, sizeof r);
  a->task_first = index;
  EngineBlock b = a.grown(kSmall + kGain);
  ASSERT_EQ(engine_offsets_to_pointers(b, b.size, kGrowData), kOk);
  const uint32_t* moved = reinterpret_cast<const uint32_t*>(heap_words(b) + index);
  const uint32_t now = b->heap_base.v + uint32_t(index) * 8;
  EXPECT_EQ(moved[kTaskClockState], now + kTaskRecordBytes);
  EXPECT_EQ(moved[kTaskDescBase], now + kTaskRecordBytes + 512);
}

// A task record at the head of a heap block, its stacks and clock state
// behind it, named by offsets from the context.
int32_t add_task(EngineContext* c) {
  int32_t index = 0;
  EXPECT_EQ(heap_alloc(c, 200, &index), kOk);
  uint32_t r[kMainTaskWords] = {};
  const uint32_t record = c->heap_base.v + uint32_t(index) * 8;
  r[kTaskClockState] = record + kTaskRecordBytes;
  r[kTaskDataBase] = record + kTaskRecordBytes;
  r[kTaskDescBase] = record + kTaskRecordBytes + 512;
  std::memcpy(heap_words(c) + index, r, sizeof r);
  c->task_first = index;
  return index;
}

// What a run does to the state: the global's value, new heap blocks, items,
// a symbol, the generator, a second task.
void run_changes(EngineContext* c) {
  heap_words(c)[fn_entry(c, 2)[2] + 2] = 42;
  int32_t index = 0;
  EXPECT_EQ(heap_alloc(c, 50, &index), kOk);
  std::fill(heap_words(c) + index, heap_words(c) + index + 50, 0x77);
  EXPECT_EQ(stk_push_real(c, 3), kOk);
  int32_t sym = 0;
  EXPECT_EQ(symtab_intern(c, "later", 5, 32, &sym), kOk);
  c->rng_uniform = RandomState{7, 9};
  EXPECT_GE(fd_alloc(c, 16), kFdFirstLibrary);  // a library's descriptors, never given back
  const int32_t second = add_task(c);
  EXPECT_EQ(tn::ld_u32(reinterpret_cast<uint8_t*>(heap_words(c) + second) + 4 * kTaskNext), 0u);
  c->task_next_id += 1;
}

// The heap words of a state with the data of free blocks cleared: what a
// free block held means nothing.
void clear_free_data(std::vector<uint64_t>* heap) {
  heap_walk(heap->data(), int64_t(heap->size()), [&](int64_t i, int64_t size, uint64_t h) {
    if (!heap_header_used(h)) std::fill(heap->begin() + i + 1, heap->begin() + i + 1 + size, 0);
  });
}

TEST(StateCopy, GoesBackIntoTheBlockAsItIsGrownForAnyArea) {
  // -1: the block did not grow.
  for (int area : {-1, 1, 2, 3, 4, 5, 6, 0, 17}) {
    EngineBlock a = busy_engine(true);
    // A large free block between blocks in use, which the run's blocks take.
    int32_t hole = 0, behind = 0;
    ASSERT_EQ(heap_alloc(a, 1000, &hole), kOk);
    ASSERT_EQ(heap_alloc(a, 4, &behind), kOk);
    heap_free(a, hole);
    const int32_t task = add_task(a);
    const EngineState before = capture_state(a);
    const RandomState rng = a->rng_uniform;
    const uint32_t user_data = 0x5eed;
    std::vector<uint8_t> copy(size_t(engine_state_copy(a, nullptr, 0)));
    ASSERT_EQ(engine_state_copy(a, copy.data(), int64_t(copy.size())), int64_t(copy.size()));
    run_changes(a);
    EngineBlock b = area < 0 ? std::move(a) : a.grown(kSmall + kGain);
    if (area >= 0) ASSERT_EQ(engine_offsets_to_pointers(b, b.size, area), kOk) << area;
    b->default_data = user_data;  // the host's word after the move
    const Areas grown = areas(b);
    const int32_t reserved = fd_alloc(b, 0);
    engine_state_restore(b, copy.data());
    EXPECT_EQ(fd_alloc(b, 0), reserved);
    // The areas stay as they are; what they hold is what they held.
    const Areas now = areas(b);
    EXPECT_EQ(now.desc, grown.desc);
    EXPECT_EQ(now.data, grown.data);
    EXPECT_EQ(now.heap, grown.heap);
    EXPECT_EQ(now.code, grown.code);
    EXPECT_EQ(b->default_data, user_data);
    EXPECT_TRUE(check_heap_chain(b)) << area;
    EXPECT_EQ(b->task_first, task);
    const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(b) + task);
    const uint32_t record = b->heap_base.v + uint32_t(task) * 8;
    EXPECT_EQ(r[kTaskClockState], record + kTaskRecordBytes) << area;
    EXPECT_EQ(r[kTaskDescBase], record + kTaskRecordBytes + 512) << area;
    EXPECT_EQ(r[kTaskNext], 0u);
    EXPECT_EQ(b->rng_uniform.lcg, rng.lcg);
    EXPECT_EQ(b->rng_uniform.xs, rng.xs);
    EngineState after = capture_state(b);
    // The task record's offsets follow the heap; the rest is as it was.
    EngineState expected = before;
    clear_free_data(&after.heap);
    clear_free_data(&expected.heap);
    for (int word : {kTaskClockState, kTaskDataBase, kTaskDescBase}) {
      const int64_t at = task + word / 2;  // two record words to a heap word
      after.heap[size_t(at)] = expected.heap[size_t(at)];
    }
    EXPECT_TRUE(after == expected) << area;
    // Runs on: the frame returns with its item.
    ASSERT_EQ(frame_pop(b), kOk);
    double v = 0;
    ASSERT_EQ(stk_get_real_scalar(b, 0, &v), kOk);
    EXPECT_EQ(v, 8);
  }
}

}  // namespace

