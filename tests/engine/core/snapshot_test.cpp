// Engine images: round trips into blocks of other sizes, refusals that leave
// the context untouched, damaged images (every truncation, random mutation),
// and tasks recomputed for the loading block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/image_words.h"
#include "engine/core/opcodes.h"
#include "engine/core/snapshot.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/core/assign.h"
#include "engine/core/var_blocks.h"
#include "support/code_builder.h"
#include "support/engine_block.h"
#include "support/heap_check.h"
#include "support/snapshot_writer.h"

namespace {

int32_t intern(EngineContext* c, const char* name) {
  int32_t s = 0;
  EXPECT_EQ(symtab_intern(c, name, int32_t(std::strlen(name)), 32, &s), kOk);
  return s;
}

void set_entry(EngineContext* c, int id, int32_t w0, int32_t w1, int32_t w2, int32_t w3) {
  uint32_t* e = fn_entry(c, id);
  e[0] = uint32_t(w0);
  e[1] = uint32_t(w1);
  e[2] = uint32_t(w2);
  e[3] = uint32_t(w3);
}

int32_t store_real(EngineContext* c, double v) {
  int32_t index = 0;
  EXPECT_EQ(heap_alloc(c, 3, &index), kOk);
  uint8_t* h = reinterpret_cast<uint8_t*>(heap_words(c) + index);
  std::memset(h, 0, 16);
  tn::st_u32(h + 4, 1);
  tn::st_u32(h + 8, 1);
  tn::st_f64(h + 16, v);
  return index;
}

// Function table: a library with a use-list, a compiled function of that
// library, a referenced method, a global variable; a frame of that function
// with arguments and items; a base-frame variable. The ids are fixed.
struct Populated {
  uint32_t code_f;
  int32_t global_block;
};
enum : int { kLib = 1, kFnF = 2, kFnG = 3, kVarGv = 4 };

Populated populate(EngineContext* c, bool with_frame = true) {
  Populated p{};
  const int32_t s_lib = intern(c, "mylib"), s_f = intern(c, "f"), s_g = intern(c, "g");
  const int32_t s_gv = intern(c, "gv"), s_cls = intern(c, "cls");
  HandFunction f;
  f.locals = 2;
  f.max_in = 2;
  f.max_out = 1;
  f.names = {"x", "y"};
  // Code that verifies: the positions below are instruction starts in it.
  f.code = {kOpNop, kOpNop, kOpNop, kOpNop, kOpRetFunction};
  p.code_f = place_function(c, f);
  const uint32_t code_start = p.code_f + uint32_t(code_header_words(function_header(c, p.code_f)));
  const uint32_t uses = c->code_free;
  code_words(c)[uses] = 2;
  code_words(c)[uses + 1] = kLib;
  code_words(c)[uses + 2] = 0xffff;
  c->code_free += 4;
  p.global_block = store_real(c, 3.25);
  set_entry(c, kLib, 0, s_lib, int32_t(uses), 0);
  set_entry(c, kFnF, s_f, kLib, int32_t(p.code_f), 0);
  set_entry(c, kFnG, s_g, 0, -1, s_cls);
  set_entry(c, kVarGv, 1, s_gv, p.global_block, -1);
  c->fn_count = 5;

  frame_words(c, 0)[kFrameFixedWords] = uint32_t(store_real(c, 42));  // "ans"
  EXPECT_EQ(stk_push_cstr(c, -1, "kept by the base frame"), kOk);
  if (!with_frame) return p;
  EXPECT_EQ(stk_push_real(c, 1.5), kOk);
  EXPECT_EQ(stk_push_cstr(c, -1, "argument"), kOk);
  const CodePosition caller{kAreaCode, 0, (code_start + 1) * 2};
  EXPECT_EQ(frame_push(c, &caller, function_header(c, p.code_f), kFnF, 0, 1, 2, 0, 0, 0), kOk);
  double* re = nullptr;
  EXPECT_EQ(stk_push_matrix(c, 2, 3, &re, nullptr), kOk);
  for (int i = 0; i < 6; ++i) re[i] = i * 0.5;
  EXPECT_EQ(stk_push_cstr(c, -1, "result"), kOk);
  c->pos = CodePosition{kAreaCode, 1, (code_start + 3) * 2};
  c->disp_flag = 0;
  c->disp_word1 = 9;
  c->rng_uniform = RandomState{123456789u, 987654321u};  // where init's draws left them
  c->rng_normal = RandomState{5u, 77u};
  return p;
}

TEST(Snapshot, RoundTripIntoOtherBlockSizesRunsOnAlike) {
  EngineBlock a = EngineBlock::make(98304);
  populate(a);
  const std::vector<uint8_t> image = write_engine_image(a);
  const EngineState saved = capture_state(a);

  for (uint32_t size : {65536u, 163840u}) {
    EngineBlock b = EngineBlock::make(size, false);
    ASSERT_EQ(load_image(b, image), kOk) << size;
    EXPECT_TRUE(capture_state(b) == saved) << size;
    EXPECT_TRUE(check_heap_chain(b));
    EXPECT_EQ(b->fn_capacity, a->fn_capacity);  // the writer's table is adopted

    // Both run on identically: the frame returns its result, the heap hands
    // out the same blocks, and only the global variable survives a reset.
    EngineBlock a2 = EngineBlock::raw(a.size);
    std::memcpy(a2.mem.get(), a.mem.get(), a.size);
    for (EngineContext* c : {a2.ctx(), b.ctx()}) {
      ASSERT_EQ(frame_pop(c), kOk);
      char text[32] = {};
      ASSERT_EQ(stk_get_string_buf(c, 0, text, sizeof text, nullptr), kOk);
      EXPECT_STREQ(text, "result");
      int32_t index = 0;
      ASSERT_EQ(heap_alloc(c, 30, &index), kOk);
      for (int k = 0; k < 30; ++k) heap_words(c)[index + k] = uint64_t(k);  // fresh blocks hold leftovers
    }
    const EngineState sa = capture_state(a2), sb = capture_state(b);
    EXPECT_TRUE(sa.desc == sb.desc);
    EXPECT_TRUE(sa.data == sb.data);
    EXPECT_TRUE(sa.heap == sb.heap) << sa.heap.size() << " " << sb.heap.size();
    EXPECT_TRUE(sa.table == sb.table);
    EXPECT_TRUE(sa.code == sb.code);
    EXPECT_TRUE(sa.symbols == sb.symbols);
    EXPECT_TRUE(sa.words == sb.words);
    engine_reset(b);
    EXPECT_TRUE(check_heap_used(b, {{int64_t(fn_entry(b, kVarGv)[2]), 3}}));
  }
}

// The generators go on where the writer's were; an image whose main task
// record holds none (all four words zero) leaves the fresh ones.
TEST(Snapshot, GeneratorsGoOnWhereTheWritersWere) {
  EngineBlock a = EngineBlock::make(98304);
  populate(a);
  std::vector<uint8_t> image = write_engine_image(a);
  for (bool kept : {true, false}) {
    if (!kept)
      for (int k = 0; k < 4; ++k) tn::put_le32(image.data() + kImgMainTask + 4 * (kTaskRandom + k), 0);
    EngineBlock b = EngineBlock::make(98304, false);
    ASSERT_EQ(load_image(b, image), kOk);
    const RandomState fresh{0, 1};
    const RandomState want_u = kept ? a->rng_uniform : fresh, want_n = kept ? a->rng_normal : fresh;
    EXPECT_EQ(b->rng_uniform.lcg, want_u.lcg) << kept;
    EXPECT_EQ(b->rng_uniform.xs, want_u.xs) << kept;
    EXPECT_EQ(b->rng_normal.lcg, want_n.lcg) << kept;
    EXPECT_EQ(b->rng_normal.xs, want_n.xs) << kept;
  }
}

TEST(Snapshot, TooLargeStateIsRefusedWithTheContextUntouched) {
  EngineBlock a = EngineBlock::make(98304);
  populate(a);
  std::vector<uint8_t> image = write_engine_image(a);
  const uint32_t d = tn::get_le32(image.data() + kImgDescTop);

  EngineBlock b = EngineBlock::make(98304, false);
  b->desc_capacity = d;  // exactly enough
  ASSERT_EQ(load_image(b, image), kOk);

  // Sizes are unsigned counts: one past the block, and any size of 2^31 or
  // more, is the overflow of its area, checked in the order D, T, H, code.
  constexpr int64_t kSet = -1;  // value replaces the field, else is added to it
  struct Case {
    uint32_t field;
    int64_t delta;
    int status;
    uint32_t value = 0;
  };
  const Case cases[] = {{kImgDescTop, 1, kStackOverflow},
                        {kImgDataTop, 100000, kDataStackOverflow},
                        {kImgHeapWords, 1000000, kVariableOverflow},
                        {kImgSymbolBytes, 100000, kCodeOverflow},
                        {kImgDescTop, kSet, kStackOverflow, 0x80000000u},
                        {kImgDescTop, kSet, kStackOverflow, 0xFFFFFFFFu},
                        {kImgDataTop, kSet, kDataStackOverflow, 0x80000000u},
                        {kImgDataTop, kSet, kDataStackOverflow, 0xFFFFFFFFu},
                        {kImgHeapWords, kSet, kVariableOverflow, 0x80000000u},
                        {kImgHeapWords, kSet, kVariableOverflow, 0xFFFFFFFFu},
                        {kImgFnCount, kSet, kCodeOverflow, 0x80000000u},
                        {kImgFnCount, kSet, kCodeOverflow, 0xFFFFFFFFu},
                        {kImgCodeWords, kSet, kCodeOverflow, 0x80000000u},
                        {kImgCodeWords, kSet, kCodeOverflow, 0xFFFFFFFFu},
                        {kImgSymbolBytes, kSet, kCodeOverflow, 0x80000000u},
                        {kImgSymbolBytes, kSet, kCodeOverflow, 0xFFFFFFFFu}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "field " << k.field << " delta " << k.delta << " value " << k.value);
    EngineBlock c = EngineBlock::make(98304, false);
    c->desc_capacity = d;
    std::vector<uint8_t> bad = image;
    const uint32_t was = tn::get_le32(bad.data() + k.field);
    tn::put_le32(bad.data() + k.field, k.delta == kSet ? k.value : uint32_t(was + k.delta));
    std::vector<uint8_t> before(c.mem.get(), c.mem.get() + c.size);
    EXPECT_EQ(load_image(c, bad), k.status);
    EXPECT_EQ(std::memcmp(before.data(), c.mem.get(), c.size), 0);
  }
  // With every size at the largest word, the areas answer in that order.
  std::vector<uint8_t> all = image;
  for (uint32_t field : {kImgDescTop, kImgDataTop, kImgHeapWords, kImgFnCount, kImgCodeWords, kImgSymbolBytes})
    tn::put_le32(all.data() + field, 0xFFFFFFFFu);
  const std::pair<uint32_t, int> order[] = {{kImgDescTop, kStackOverflow},
                                            {kImgDataTop, kDataStackOverflow},
                                            {kImgHeapWords, kVariableOverflow},
                                            {kImgCodeWords, kCodeOverflow}};
  for (const auto& [field, status] : order) {
    EngineBlock e = EngineBlock::make(98304, false);
    EXPECT_EQ(load_image(e, all), status) << field;
    tn::put_le32(all.data() + field, tn::get_le32(image.data() + field));
  }

  // Many functions: the Part-style sum passes, the exact fit does not.
  EngineBlock c = EngineBlock::make(98304, false);
  std::vector<uint8_t> bad = image;
  tn::put_le32(bad.data() + kImgFnCount, c->code_size / 4);
  tn::put_le32(bad.data() + kImgCodeWords, 0);
  tn::put_le32(bad.data() + kImgSymbolBytes, 0);
  std::vector<uint8_t> before(c.mem.get(), c.mem.get() + c.size);
  EXPECT_EQ(load_image(c, bad), kCodeOverflow);
  EXPECT_EQ(std::memcmp(before.data(), c.mem.get(), c.size), 0);

  EXPECT_EQ(load_image(c, std::vector<uint8_t>(100)), kEndOfFile);
}

// An image from a block whose function table alone is larger than this
// block's code area asks for a larger code area (the status a host grows on)
// instead of laying the table out at this block's capacity, where every
// entry's code offset would point elsewhere and the check refused the image.
TEST(Snapshot, WritersTableTooLargeAsksForGrowth) {
  EngineBlock a = EngineBlock::make(1u << 22);
  populate(a);
  const std::vector<uint8_t> image = write_engine_image(a);
  EngineBlock small = EngineBlock::make(65536, false);
  ASSERT_GT(int64_t(a->fn_capacity) * kEntryCodeWords, int64_t(small->code_size));
  const int32_t capacity = small->fn_capacity;
  EXPECT_EQ(load_image(small, image), kCodeOverflow);
  EXPECT_EQ(small->fn_count, 1);
  EXPECT_EQ(small->fn_capacity, capacity);
  // A block whose code area holds the writer's table takes the image.
  EngineBlock large = EngineBlock::make(1u << 22, false);
  EXPECT_EQ(load_image(large, image), kOk);
  EXPECT_EQ(large->fn_capacity, a->fn_capacity);
}

// Every damaged image gives a status, and the context can then be reset and
// used: checked for each truncation and for random byte changes.
void expect_usable_after(EngineContext* c, int status) {
  if (status != kOk) {
    EXPECT_EQ(c->fn_count, 1);
    EXPECT_EQ(c->desc_top, 0);
  }
  engine_reset(c);
  ASSERT_TRUE(check_heap_chain(c));
  int32_t index = 0;
  EXPECT_EQ(heap_alloc(c, 4, &index), kOk);
  EXPECT_EQ(stk_push_real(c, 1), kOk);
}

TEST(Snapshot, EveryTruncationIsRefused) {
  EngineBlock a = EngineBlock::make(32768);
  populate(a);
  const std::vector<uint8_t> image = write_engine_image(a);
  EngineBlock b = EngineBlock::make(32768, false);
  const std::vector<uint8_t> fresh(b.mem.get(), b.mem.get() + b.size);
  for (size_t n = 0; n < image.size(); ++n) {
    std::memcpy(b.mem.get(), fresh.data(), b.size);
    std::vector<uint8_t> cut(image.begin(), image.begin() + long(n));
    const int status = load_image(b, cut);
    ASSERT_EQ(status, n < kImageHeaderBytes ? kEndOfFile : kInitError) << n;
    expect_usable_after(b, status);
  }
}

TEST(Snapshot, ReaderFailingOnTheCodeGivesInitError) {
  EngineBlock a = EngineBlock::make(32768);
  populate(a);
  const std::vector<uint8_t> image = write_engine_image(a);
  const size_t code_at = kImageHeaderBytes + size_t(a->desc_top) * 4 + size_t(a->data_top) * 8 +
                         size_t(heap_used_extent(heap_words(a), a->heap_size)) * 8 + size_t(a->fn_count) * 16;
  EngineBlock b = EngineBlock::make(32768, false);
  EXPECT_EQ(load_image(b, image, code_at + 1), kInitError);
  expect_usable_after(b, kInitError);
}

TEST(Snapshot, RandomlyDamagedImagesNeverCrash) {
  EngineBlock a = EngineBlock::make(32768);
  populate(a);
  const std::vector<uint8_t> image = write_engine_image(a);
  EngineBlock b = EngineBlock::make(32768, false);
  const std::vector<uint8_t> fresh(b.mem.get(), b.mem.get() + b.size);
  std::mt19937 rng(777);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bad = image;
    const int changes = 1 + int(rng() % 4);
    for (int k = 0; k < changes; ++k) {
      // Half of the changes hit the header, where the sizes and links are.
      const size_t at = rng() % 2 ? rng() % kImageHeaderBytes : rng() % bad.size();
      bad[at] = rng() % 3 ? uint8_t(rng()) : uint8_t(bad[at] ^ (1u << (rng() % 8)));
    }
    std::memcpy(b.mem.get(), fresh.data(), b.size);
    const int status = load_image(b, bad);
    if (status == kOk) {
      ++loaded;
      ASSERT_TRUE(check_heap_chain(b)) << round;
      ASSERT_EQ(frame_unwind(b, 0), kOk);
    }
    expect_usable_after(b, status);
  }
  EXPECT_GT(loaded, 0);  // harmless changes (text, numbers) still load
}

// A task's block: record, then the data stack and the descriptor stack.
int32_t make_task(EngineContext* c, int32_t id, int32_t next) {
  constexpr uint32_t kStack = 1024;
  int32_t index = 0;
  EXPECT_EQ(heap_alloc(c, ((kStack + kTaskRecordBytes) >> 3) + 1, &index), kOk);
  uint32_t r[kMainTaskWords] = {};
  const uint32_t record = c->heap_base.v + uint32_t(index) * 8;
  r[kTaskClockState] = record + kTaskRecordBytes;
  r[kTaskDataBase] = record + kTaskRecordBytes;
  r[kTaskDataCapacity] = kStack / 2 / 8;
  r[kTaskDescBase] = record + kTaskRecordBytes + kStack / 2;
  r[kTaskDescCapacity] = kStack / 2 / 4;
  r[kTaskFrame] = uint32_t(-1);
  r[kTaskNext] = uint32_t(next);
  r[kTaskId] = uint32_t(id);
  r[kTaskPriority] = 21;
  // Two real scalars on the task's stacks, to be found again wherever the
  // load puts them.
  r[kTaskDataTop] = 2;
  r[kTaskDescTop] = 6;
  std::memcpy(heap_words(c) + index, r, sizeof r);
  uint8_t* b = reinterpret_cast<uint8_t*>(c);
  for (uint32_t k = 0; k < 2; ++k) tn::st_f64(b + r[kTaskDataBase] + 8 * k, id + 0.25 * k);
  const uint32_t desc[6] = {0, 1, 1, 0, 1, 1};
  std::memcpy(b + r[kTaskDescBase], desc, sizeof desc);
  return index;
}

// A task's stacks as make_task wrote them.
bool task_stacks_kept(EngineContext* c, const uint32_t* r) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(c);
  if (r[kTaskDataTop] != 2 || r[kTaskDescTop] != 6) return false;
  for (uint32_t k = 0; k < 2; ++k)
    if (tn::ld_f64(b + r[kTaskDataBase] + 8 * k) != r[kTaskId] + 0.25 * k) return false;
  const uint32_t desc[6] = {0, 1, 1, 0, 1, 1};
  return std::memcmp(b + r[kTaskDescBase], desc, sizeof desc) == 0;
}

// A host clock whose state is its lap's start, reading a counter that moves
// at every lap restart; counts the restarts.
int g_clock_restarts = 0;
double counting_clock(void* state, int, int mode) {
  double start = 0;
  std::memcpy(&start, state, sizeof start);
  if (mode == 1) {
    ++g_clock_restarts;
    const double now = 100.0 + g_clock_restarts;
    std::memcpy(state, &now, sizeof now);
  }
  return 1.0;
}

TEST(Snapshot, TaskRecordsAreRecomputedForTheLoadingBlock) {
  EngineBlock a = EngineBlock::make(65536);
  populate(a, false);
  const int32_t t2 = make_task(a, 2, 0);
  const int32_t t1 = make_task(a, 1, t2);
  a->task_first = t1;
  a->task_next_id = 3;
  const std::vector<uint8_t> image = write_engine_image(a);

  EngineBlock b = EngineBlock::make(131072, false);
  ASSERT_EQ(load_image(b, image), kOk);
  for (int32_t index : {t1, t2}) {
    const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(b) + index);
    const uint32_t record = b->heap_base.v + uint32_t(index) * 8;
    EXPECT_EQ(r[kTaskClockState], record + kTaskRecordBytes);
    EXPECT_EQ(r[kTaskDataBase], record + kTaskRecordBytes);
    EXPECT_EQ(r[kTaskDescBase], record + kTaskRecordBytes + 512);
  }
  EXPECT_EQ(b->main_task[kTaskDescBase], b->desc_base.v);
  EXPECT_EQ(b->main_task[kTaskDataCapacity], b->data_capacity);
  EXPECT_EQ(b->main_task[kTaskDescTop], uint32_t(b->desc_top));
  EXPECT_EQ(b->task_first, t1);

  // Stacks reaching outside their block, a loop in the list, or a running
  // task cannot be recomputed.
  const size_t heap_at = kImageHeaderBytes + size_t(a->desc_top) * 4 + size_t(a->data_top) * 8;
  std::vector<uint8_t> outside = image, loop = image, running = image;
  const size_t desc_cap_at = heap_at + size_t(t2) * 8 + 4 * kTaskDescCapacity;
  tn::put_le32(outside.data() + desc_cap_at, 4096);
  tn::put_le32(loop.data() + heap_at + size_t(t2) * 8 + 4 * kTaskNext, uint32_t(t1));
  tn::put_le32(running.data() + kImgTaskCurrent, uint32_t(t1));
  for (const auto* bad : {&outside, &loop, &running}) {
    EngineBlock c = EngineBlock::make(131072, false);
    const int status = load_image(c, *bad);
    EXPECT_EQ(status, kInitError);
    EXPECT_EQ(c->task_first, 0);
    expect_usable_after(c, status);
  }
}

// The two 8-byte clock states of the task at index lie right behind its
// record; returns the record's offset.
uint32_t expect_clocks_behind_record(EngineBlock& c, int32_t index) {
  const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(c) + index);
  const uint32_t record = c->heap_base.v + uint32_t(index) * 8;
  EXPECT_EQ(r[kTaskClockState], record + kTaskRecordBytes);
  EXPECT_EQ(r[kTaskSleepClockState], record + kTaskRecordBytes + 8);
  return record;
}

// The writer kept no clock (a builder has none), so its tasks' stacks start
// right behind their records; a host whose clock keeps 8 bytes a state needs
// 16 there. The tasks move to blocks with room, their stacks' capacities
// and contents kept, the list in its order, the old blocks freed; every
// clock state lies in the task's own block and starts its lap at the load,
// and moves with the block when it grows.
TEST(Snapshot, TasksOfAWriterWithoutAClockGetThisHostsClockStates) {
  EngineBlock a = EngineBlock::make(65536);
  populate(a, false);
  const int32_t t2 = make_task(a, 2, 0);
  const int32_t t1 = make_task(a, 1, t2);
  a->task_first = t1;
  a->task_next_id = 3;
  const std::vector<uint8_t> image = write_engine_image(a);

  EngineBlock b = EngineBlock::make(131072, false);
  double main_state = 0;
  engine_set_callbacks(b, counting_clock, &main_state, int32_t(sizeof(double)));
  g_clock_restarts = 0;
  ASSERT_EQ(load_image(b, image), kOk);
  EXPECT_TRUE(check_heap_chain(b));
  EXPECT_EQ(g_clock_restarts, 4);  // two states a task
  std::vector<uint32_t> ids;
  for (int32_t index = b->task_first; index != 0 && ids.size() < 4;) {
    const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(b) + index);
    const uint32_t record = expect_clocks_behind_record(b, index);
    EXPECT_TRUE(heap_is_used_block(heap_words(b), b->heap_size, index));
    EXPECT_EQ(r[kTaskDataBase], record + kTaskRecordBytes + 16);
    EXPECT_EQ(r[kTaskDescBase], r[kTaskDataBase] + 512);
    EXPECT_EQ(r[kTaskDataCapacity], 64u);
    EXPECT_EQ(r[kTaskDescCapacity], 128u);
    EXPECT_LE(r[kTaskDescBase] + 512, record + uint32_t(heap_block_size(b, index)) * 8);
    EXPECT_TRUE(task_stacks_kept(b, r)) << r[kTaskId];
    double lap = 0;
    std::memcpy(&lap, reinterpret_cast<const uint8_t*>(b.ctx()) + r[kTaskSleepClockState], sizeof lap);
    EXPECT_GT(lap, 100.0);  // the host's state, restarted at the load
    ids.push_back(r[kTaskId]);
    index = int32_t(r[kTaskNext]);
  }
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2}));
  // The old blocks were freed: none of the first two blocks is a task's now.
  EXPECT_NE(b->task_first, t1);
  EXPECT_FALSE(heap_is_used_block(heap_words(b), b->heap_size, t1));
  EXPECT_FALSE(heap_is_used_block(heap_words(b), b->heap_size, t2));

  // Grown, every offset of a record moves with the heap: the sleep clock too.
  EngineBlock g = b.grown(262144);
  ASSERT_EQ(engine_offsets_to_pointers(g, 262144, kGrowHeap), kOk);
  for (int32_t index = g->task_first; index != 0;) {
    const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(g) + index);
    expect_clocks_behind_record(g, index);
    EXPECT_TRUE(task_stacks_kept(g, r));
    index = int32_t(r[kTaskNext]);
  }

  // A heap with no room for the larger blocks asks for a larger heap; the
  // context is left empty and usable.
  EngineBlock small = EngineBlock::make(131072, false);
  double state[64] = {};
  engine_set_callbacks(small, counting_clock, state, 1 << 20);
  const int status = load_image(small, image);
  EXPECT_EQ(status, kVariableOverflow);
  EXPECT_EQ(small->task_first, 0);
  expect_usable_after(small, status);
}

// Every field of the header at the ends of its range and past them: out of
// range is refused as damage (600) with the context usable; in range loads,
// but for the fields that name a place in the image, which the structure
// checks may still refuse. The rows cover the header exactly once.
TEST(Snapshot, EveryHeaderWordOutsideItsRangeIsRefused) {
  EngineBlock a = EngineBlock::make(65536);
  populate(a, false);
  const int32_t t1 = make_task(a, 1, 0);
  a->task_first = t1;
  a->task_next_id = 2;
  const std::vector<uint8_t> image = write_engine_image(a);
  std::vector<int> covered(kImageHeaderBytes, 0);
  for (size_t i = 0; i < kEngineImageWordRows; ++i)
    for (uint32_t k = 0; k < kEngineImageWords[i].count * kEngineImageWords[i].bytes; ++k)
      ++covered[kEngineImageWords[i].offset + k];
  EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), int(kImageHeaderBytes));
  // Fields the loader checks again against the block or the structures.
  const uint32_t kPlaces[] = {kImgDescTop, kImgDataTop, kImgHeapWords, kImgFnCount, kImgCodeWords,
                              kImgSymbolBytes, kImgFrame, kImgPosKind, kImgPosOffset, kImgTaskFirst,
                              kImgSemWord0, kImgSemWord1};
  int refused = 0, loaded = 0;
  for (size_t i = 0; i < kEngineImageWordRows; ++i) {
    const ImageWordRange& row = kEngineImageWords[i];
    const int64_t limit = row.bytes == kImageByte ? 255 : row.unsigned_count ? int64_t(UINT32_MAX) : INT32_MAX;
    const int64_t floor = row.bytes == kImageByte || row.unsigned_count ? 0 : INT32_MIN;
    for (uint32_t k = 0; k < row.count; ++k) {
      const uint32_t at = row.offset + k * row.bytes;
      const bool place = std::find(std::begin(kPlaces), std::end(kPlaces), at) != std::end(kPlaces);
      for (int64_t v : {row.min - 1, row.min, row.max, row.max + 1, int64_t(0), int64_t(-1), int64_t(1),
                        int64_t(INT32_MIN), int64_t(INT32_MAX), int64_t(255), int64_t(256)}) {
        if (v < floor || v > limit) continue;
        std::vector<uint8_t> bad = image;
        if (row.bytes == kImageByte) bad[at] = uint8_t(v);
        else tn::put_le32(bad.data() + at, uint32_t(v));
        EngineBlock b = EngineBlock::make(65536, false);
        const int status = load_image(b, bad);
        const bool in_range = v >= row.min && v <= row.max;
        if (!in_range) {
          EXPECT_EQ(status, kInitError) << row.name << " at " << at << " = " << v;
          ++refused;
        } else if (!place) {
          EXPECT_EQ(status, kOk) << row.name << " at " << at << " = " << v;
          ++loaded;
        }
        expect_usable_after(b, status);
      }
    }
  }
  EXPECT_GT(refused, 40);
  EXPECT_GT(loaded, 400);

  // A task record's words read as they stand.
  const size_t heap_at = kImageHeaderBytes + size_t(a->desc_top) * 4 + size_t(a->data_top) * 8;
  for (size_t i = 0; i < kTaskRecordWordRows; ++i) {
    const ImageWordRange& row = kTaskRecordWords[i];
    for (int64_t v : {row.min - 1, row.min, row.max, row.max + 1, int64_t(0), int64_t(-1), int64_t(INT32_MIN),
                      int64_t(INT32_MAX)}) {
      if (v < INT32_MIN || v > INT32_MAX) continue;
      std::vector<uint8_t> bad = image;
      tn::put_le32(bad.data() + heap_at + size_t(t1) * 8 + row.offset, uint32_t(int32_t(v)));
      EngineBlock b = EngineBlock::make(65536, false);
      const int status = load_image(b, bad);
      EXPECT_EQ(status, v >= row.min && v <= row.max ? kOk : kInitError) << row.name << " = " << v;
      expect_usable_after(b, status);
    }
  }
}

// The heap is saved to the end of its last block in use: a saved heap whose
// last free block is one word short, leaving a zero-size free block at its
// end, is refused; a zero-size free block between blocks in use (what an
// allocation one word short of a free block leaves) loads.
TEST(Snapshot, SavedHeapEndingInAFreeBlockIsRefused) {
  EngineBlock a = EngineBlock::make(65536);
  populate(a, false);
  int32_t first = 0, second = 0, third = 0;
  ASSERT_EQ(heap_alloc(a, 6, &first), kOk);
  ASSERT_EQ(heap_alloc(a, 4, &second), kOk);
  ASSERT_EQ(heap_alloc(a, 2, &third), kOk);
  heap_free(a, second);
  ASSERT_EQ(heap_alloc(a, 3, &second), kOk);  // leaves a zero-size free block behind it
  EXPECT_EQ(heap_header(heap_words(a), second + 3), 0u);
  const std::vector<uint8_t> image = write_engine_image(a);
  EngineBlock b = EngineBlock::make(65536, false);
  ASSERT_EQ(load_image(b, image), kOk);

  // The last block freed and cut one word short: a zero-size free block ends
  // the saved words.
  const size_t heap_at = kImageHeaderBytes + size_t(a->desc_top) * 4 + size_t(a->data_top) * 8;
  std::vector<uint8_t> bad = image;
  const int64_t last = third - 1;
  tn::store<uint64_t>(bad.data() + heap_at + size_t(last) * 8, uint64_t(1));  // free, one word of two
  tn::store<uint64_t>(bad.data() + heap_at + size_t(last + 2) * 8, uint64_t(0));
  EngineBlock c = EngineBlock::make(65536, false);
  const int status = load_image(c, bad);
  EXPECT_EQ(status, kInitError);
  expect_usable_after(c, status);
  const uint64_t* saved = reinterpret_cast<const uint64_t*>(bad.data() + heap_at);
  EXPECT_TRUE(heap_walk(saved, third + 2, [](int64_t, int64_t, uint64_t) {}));  // a whole chain
  EXPECT_FALSE(saved_heap_ends_in_use(saved, third + 2));
}

}  // namespace

namespace {

// Targeted damage to the structures the loader walks; each is refused.
TEST(Snapshot, DamagedStructuresAreRefused) {
  EngineBlock a = EngineBlock::make(65536);
  const Populated p = populate(a);
  const std::vector<uint8_t> image = write_engine_image(a);
  const int32_t frame = a->frame;
  const size_t desc_at = kImageHeaderBytes;
  const size_t heap_at = desc_at + size_t(a->desc_top) * 4 + size_t(a->data_top) * 8;
  const size_t table_at = heap_at + size_t(heap_used_extent(heap_words(a), a->heap_size)) * 8;
  auto word = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> bad = image;
    tn::put_le32(bad.data() + at, v);
    return bad;
  };
  const size_t fw = desc_at + size_t(frame) * 4;
  const std::vector<std::vector<uint8_t>> cases = {
      word(fw + 4 * kFwPrevDistance, uint32_t(-4)),              // points upward
      word(fw + 4 * kFwLocals, 100000),                            // locals past the top
      word(fw + 4 * kFwNameTable, 0x7ffffff0),                     // names outside the code area
      word(fw + 4 * kFrameFixedWords, uint32_t(p.global_block + 1)),  // not a block
      word(desc_at + 4 * kFrameFixedWords, 3),                     // base slot inside a block
      word(kImgFrame, uint32_t(frame + 3)),                        // not a frame
      word(kImgDataTop, uint32_t(a->data_top - 1)),                // items do not add up
      word(kImgPosKind, kAreaStatic),
      word(kImgPosOffset, 2),                                      // inside the table
      word(heap_at, 0x80000000u | 3u),                             // header high bits
      word(table_at + 16 * kFnF + 8, 3),                           // code offset in the table
      word(table_at + 16 * kFnF, uint32_t(-100000)),               // symbol below the area
      word(table_at + 16 * kVarGv + 8, uint32_t(p.global_block + 1)),  // variable block index
      word(table_at + 16 * kLib + 4, 5),                           // positive symbol
      word(table_at + 4, 1),                                       // entry 0 not zero
  };
  for (size_t k = 0; k < cases.size(); ++k) {
    EngineBlock b = EngineBlock::make(65536, false);
    const int status = load_image(b, cases[k]);
    EXPECT_EQ(status, kInitError) << "case " << k;
    expect_usable_after(b, status);
  }
  EngineBlock b = EngineBlock::make(65536, false);
  EXPECT_EQ(load_image(b, image), kOk);
}

// A frame whose argument was lent (its slot a link to the caller's block)
// saves as it lies: the image loads, the argument reads the caller's value,
// and popping frees the link alone. A lender word that names no value block
// is refused.
TEST(Snapshot, LentArgumentSavesAsALinkToTheCallersBlock) {
  EngineBlock a = EngineBlock::make(65536);
  EngineContext* c = a.ctx();
  HandFunction f;
  f.locals = 1;
  f.max_in = 1;
  f.max_out = 1;
  const uint32_t at = place_function(c, f);
  double* re = nullptr;
  ASSERT_EQ(stk_push_matrix(c, 1, 300, &re, nullptr), kOk);
  for (int i = 0; i < 300; ++i) re[i] = i;
  ASSERT_EQ(var_store_local(c, 0), kOk);  // the base frame's first variable
  const int32_t lender = int32_t(frame_words(c, 0)[kFrameFixedWords]);
  ASSERT_EQ(var_push_ref(c, 0, 0), kOk);
  ASSERT_EQ(frame_push(c, nullptr, function_header(c, at), 7, 0, 1, 1, 0, 0, 0), kOk);
  const int32_t link = int32_t(frame_words(c, c->frame)[kFrameFixedWords]);
  ASSERT_TRUE(block_is_link(c, link));
  ASSERT_EQ(link_lender(c, link), lender);
  const std::vector<uint8_t> image = write_engine_image(a);

  EngineBlock b = EngineBlock::make(98304, false);
  ASSERT_EQ(load_image(b, image), kOk);
  EXPECT_TRUE(check_heap_chain(b));
  ASSERT_EQ(var_push_local(b, 0), kOk);
  EXPECT_EQ(desc_at(b, 0)[2], 300u);
  EXPECT_EQ(tn::ld_f64(item_data(b, 0) + 299), 299.0);
  stk_drop(b);
  ASSERT_EQ(frame_pop(b), kOk);
  EXPECT_TRUE(check_heap_used(b, {{int64_t(lender), kElemHeaderWords + 300}}));

  const size_t heap_at = kImageHeaderBytes + size_t(a->desc_top) * 4 + size_t(a->data_top) * 8;
  for (uint32_t bad : {uint32_t(link), uint32_t(lender + 1), uint32_t(c->heap_size + 5)}) {
    std::vector<uint8_t> damaged = image;
    tn::put_le32(damaged.data() + heap_at + size_t(link) * 8 + 4 * kLinkLender, bad);
    EngineBlock d = EngineBlock::make(65536, false);
    const int status = load_image(d, damaged);
    EXPECT_EQ(status, kInitError) << bad;
    expect_usable_after(d, status);
  }
}

}  // namespace

// A host that streams the image as one chunk per request must see one call
// per section, an empty one included, in order.
TEST(Snapshot, EverySectionIsOneReaderCallEvenWhenEmpty) {
  struct Counting {
    MemoryReader inner;
    std::vector<uint32_t> sizes;
    static int read(void* to, uint32_t bytes, void* arg) {
      auto* r = static_cast<Counting*>(arg);
      r->sizes.push_back(bytes);
      return MemoryReader::read(to, bytes, &r->inner);
    }
  };
  for (bool with_values : {false, true}) {
    EngineBlock a = EngineBlock::make(32768);
    if (with_values) populate(a);
    const std::vector<uint8_t> image = write_engine_image(a);
    const uint8_t* h = image.data();
    const std::vector<uint32_t> expected = {
        kImageHeaderBytes,          tn::get_le32(h + kImgDescTop) * 4,  tn::get_le32(h + kImgDataTop) * 8,
        tn::get_le32(h + kImgHeapWords) * 8, tn::get_le32(h + kImgFnCount) * 16,
        tn::get_le32(h + kImgCodeWords) * 2, tn::get_le32(h + kImgSymbolBytes)};
    if (!with_values) {
      // The state of a fresh context has empty sections: the case at issue.
      EXPECT_GE(std::count(expected.begin(), expected.end(), 0u), 2) << "empty data stack and heap";
    }
    EngineBlock b = EngineBlock::make(32768, false);
    Counting r{MemoryReader{&image}, {}};
    ASSERT_EQ(engine_load_image(b, &Counting::read, &r), kOk);
    EXPECT_EQ(r.sizes, expected);
    EXPECT_EQ(r.inner.at, image.size());
  }
}
