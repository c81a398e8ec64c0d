// The runtime block: layouts for a range of buffer sizes, growth for each
// overflow code on a host that always moves the block (the whole gain to the
// code's area, every other area byte for byte as it was), the expansion
// message, a host at its maximum, and the engine still running afterwards.
#include <gtest/gtest.h>

#include <vector>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/lib/engine_start.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/plot_lists.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"
#include "fake_host.h"

namespace {

constexpr uint32_t kMiB = 1u << 20;

std::vector<uint8_t> area_copy(RuntimeBlock* b, int k) {
  const uint8_t* a = rt_area(b, k);
  return std::vector<uint8_t>(a, a + b->h.area_size[k]);
}

int run(EngineContext* c, const std::string& text) {
  const int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  return status == kSliceEnded ? interp_run(c, 0) : status;
}

// Puts something into every area, so that moves have content to keep.
void fill_areas(RuntimeBlock* b) {
  UndoStore* vs = rt_value_store(b);
  ASSERT_EQ(undo_store_add_record(vs, 7), 0);
  ASSERT_EQ(undo_store_add_field(vs, 7, 200, 0), 0);
  ASSERT_EQ(undo_store_clear_record(vs, 7), 0);
  void* data = nullptr;
  ASSERT_EQ(undo_store_put_value(vs, 7, 0, 200, 3, &data), 0);
  std::memset(data, 0x5A, 24);
  ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
  for (int i = 0; i < 9; ++i) plotstore_put(rt_plot_store(b), b->h.build.start + i, i + 0.5);
  b->h.build.used = 9;
  plotstore_commit_list(b);
  int32_t* words = rt_record_words(b);
  for (int i = 0; i < 16; ++i) words[i] = 1000 + i;
  b->h.record_words = 16;
  inst_at(b, 0)->subplots[3].fontSize = 17.0;
}

}  // namespace

// The status initialisation gives for a split: the name table's least size
// is checked first, then the engine starts in area 0 (as it would alone in
// a buffer of that size), then what instance 0, the value store and the
// special variables' names need.
int expected_status(const AreaSplit& s) {
  if (s.size[kAreaNames] < kNameTableMinBytes) return kRtTooSmallNameBuf;
  std::vector<uint64_t> engine_area(size_t(s.size[kAreaEngine]) / 8);
  EngineContext* ctx = nullptr;
  if (const int status = engine_start(engine_area.data(), uint32_t(s.size[kAreaEngine]), &ctx)) return status;
  if (s.size[kAreaMain] < kInstanceBytes + 8 * kPlotStoreOverhead) return kRtPlotOverflow;
  if (s.size[kAreaValues] < kUndoMinBytes) return kRtTooSmallUndoBuf;
  if (s.size[kAreaNames] < name_table_bytes(kSpecialVarRows)) return kRtNoMoreNameSlot;
  return 0;
}

TEST(RuntimeBlock, HeaderAndSmallestLayout) {
  EXPECT_EQ(sizeof(RuntimeBlock), 496u);
  // Every buffer from 8192 bytes up is laid out; below it none is.
  for (const uint32_t size : {0u, 4096u, 8191u}) {
    std::vector<uint64_t> buffer(1024);
    RuntimeBlock* b = reinterpret_cast<RuntimeBlock*>(0x1);
    EXPECT_EQ(runtime_block_init(&b, buffer.data(), size, 0, 2), kRtNotEnoughMemForTN) << size;
    EXPECT_EQ(b, nullptr);
  }
  std::vector<uint64_t> buffer(1024);
  RuntimeBlock* b = nullptr;
  EXPECT_EQ(runtime_block_init(&b, buffer.data(), 8192, 0, 2), kRtTooSmallNameBuf);
  ASSERT_EQ(b, reinterpret_cast<RuntimeBlock*>(buffer.data()));
  const int32_t expected[kAreaCount] = {2304, 2304, 192, 192, 1152};
  for (int a = 0; a < kAreaCount; ++a) EXPECT_EQ(b->h.area_size[a], expected[a]) << a;
}

TEST(RuntimeBlock, LayoutsBySize) {
  // Every step of the area total from the smallest buffer past the smallest
  // usable one, then larger blocks: the areas are the initial split of
  // (size - 496) in whole 2048-byte steps, and the status is the first area
  // that cannot hold what initialisation puts there.
  std::vector<uint32_t> sizes;
  for (uint32_t size = 8192; size <= rt_min_block_bytes() + 4096; size += 2048) sizes.push_back(size);
  for (const uint32_t size : {rt_min_block_bytes() - 1, rt_min_block_bytes() + 2047, 131072u, 134144u, kMiB,
                              kMiB + 1, 8 * kMiB})
    sizes.push_back(size);
  int usable = 0;
  for (const uint32_t size : sizes) {
    const AreaSplit s = rt_initial_split(rt_area_total(size));
    std::vector<uint64_t> buffer(size / 8 + 1);
    RuntimeBlock* b = nullptr;
    const int status = runtime_block_init(&b, buffer.data(), size, 0, 2);
    EXPECT_EQ(status, expected_status(s)) << size;
    EXPECT_EQ(status == 0, size >= rt_min_block_bytes()) << size;
    if (status == kInitError) {
      EXPECT_EQ(b, nullptr) << size;
      continue;
    }
    ASSERT_EQ(b, reinterpret_cast<RuntimeBlock*>(buffer.data())) << size;
    int64_t sum = 0;
    for (int a = 0; a < kAreaCount; ++a) {
      EXPECT_EQ(b->h.area_size[a], s.size[a]) << size << " area " << a;
      sum += s.size[a];
    }
    EXPECT_EQ(sum % 2048, 0);
    EXPECT_LE(sum + kRuntimeHeaderBytes, size);
    EXPECT_GT(sum + kRuntimeHeaderBytes + 2048, size);
    if (status != 0) continue;
    ++usable;
    EXPECT_EQ(b->h.instance_count, 1);
    EXPECT_EQ(b->h.next_instance_id, 1);
    EXPECT_EQ(b->h.cursor_kind, 1);
    EXPECT_EQ(b->h.build.key, -1);
    EXPECT_EQ(rt_name_table(b)->count, kSpecialVarRows);
    EXPECT_TRUE(plotstore_check(rt_plot_store(b)));
    EXPECT_TRUE(undo_store_check(rt_value_store(b)));
    EXPECT_EQ(inst_find_by_id(b, 0), inst_at(b, 0));
    EXPECT_EQ(inst_at(b, 0)->styles[2].bits, 256u);
    EXPECT_EQ(inst_at(b, 0)->styles[3].g, 204);
    EXPECT_EQ(inst_at(b, 0)->subplots[0].handlerWords[kSubplotFigureWord], kEmptyFigure);
    // The engine in the smallest usable block runs code.
    EXPECT_EQ(run(rt_engine(b), "x = 1 + 2;\n"), 0) << size;
  }
  EXPECT_GE(usable, 8);
}

TEST(RuntimeBlock, GrowthGivesTheWholeGainToTheCodesArea) {
  struct Case {
    int code;
    int area;  // -1: a fresh split
  } cases[] = {{kDataStackOverflow, kAreaEngine}, {kCodeOverflow, kAreaEngine}, {kRtPlotOverflow, kAreaMain},
               {kRtNotEnoughMemForTNFile, kAreaRecords}, {kRtVarTooLargeForUndo, kAreaValues},
               {kRtExhausted, -1}};
  for (const Case& k : cases) {
    FakeHost h;
    ASSERT_EQ(h.start(kMiB, 4 * kMiB), 0);
    ASSERT_EQ(run(rt_engine(h.block), "function y = twice(a)\n y = a * 2;\nendfunction\n"), 0) << h.take_output();
    fill_areas(h.block);
    std::vector<uint8_t> before[kAreaCount];
    int32_t old_size[kAreaCount];
    for (int a = 0; a < kAreaCount; ++a) {
      before[a] = area_copy(h.block, a);
      old_size[a] = h.block->h.area_size[a];
    }
    const uint32_t old_data = rt_engine(h.block)->data_capacity, old_code = rt_engine(h.block)->code_size;
    ASSERT_TRUE(rt_memory_expand(&h.block, k.code)) << k.code;
    EXPECT_EQ(h.moves, 1);
    RuntimeBlock* b = h.block;
    const int64_t gain = rt_area_total(h.size) - rt_area_total(kMiB);
    for (int a = 0; a < kAreaCount; ++a) {
      if (k.area < 0) {
        EXPECT_EQ(b->h.area_size[a], rt_initial_split(rt_area_total(h.size)).size[a]);
        continue;
      }
      if (a == k.area) {
        EXPECT_EQ(b->h.area_size[a], old_size[a] + gain) << k.code;
        continue;
      }
      EXPECT_EQ(b->h.area_size[a], old_size[a]);
      // The engine's context names the moved header (its user data); the
      // rest of the engine's area is compared byte for byte.
      const size_t skip = a == kAreaEngine ? sizeof(EngineContext) : 0;
      const std::vector<uint8_t> now = area_copy(b, a);
      EXPECT_TRUE(std::equal(now.begin() + skip, now.end(), before[a].begin() + skip)) << k.code << " area " << a;
    }
    if (k.code == kDataStackOverflow) {
      EXPECT_GT(rt_engine(b)->data_capacity, old_data);
    }
    if (k.code == kCodeOverflow) {
      EXPECT_GT(rt_engine(b)->code_size, old_code);
    }
    // Everything kept its content and the engine still runs compiled code.
    EXPECT_TRUE(undo_store_check(rt_value_store(b)));
    EXPECT_TRUE(plotstore_check(rt_plot_store(b)));
    int32_t units = 0;
    void* data = nullptr;
    ASSERT_EQ(undo_store_get_value(rt_value_store(b), 7, 0, 200, &units, &data), 0);
    EXPECT_EQ(units, 3);
    EXPECT_EQ(static_cast<uint8_t*>(data)[23], 0x5A);
    int32_t pos = 0, len = 0;
    ASSERT_TRUE(plotstore_find(rt_plot_store(b), 0, &pos, &len));
    EXPECT_EQ(len, 9);
    EXPECT_EQ(plotstore_at(rt_plot_store(b), pos + 8), 8.5);
    EXPECT_EQ(rt_record_words(b)[15], 1015);
    EXPECT_EQ(inst_at(b, 0)->subplots[3].fontSize, 17.0);
    EXPECT_EQ(b->h.user.block, b);
    h.take_output();
    EXPECT_EQ(run(rt_engine(b), "disp(twice(21))\n"), 0);
    EXPECT_NE(h.take_output().find("42"), std::string::npos);
  }
}

TEST(RuntimeBlock, ExpansionMessages) {
  struct Case {
    uint32_t from;
    const char* text;
  } cases[] = {{512 * 1024, "TN memory expanded to 768 KB\n"}, {kMiB, "TN memory expanded to 1.5 MB\n"}};
  for (const Case& k : cases) {
    FakeHost h;
    ASSERT_EQ(h.start(k.from, 8 * kMiB), 0);
    ASSERT_TRUE(rt_memory_expand(&h.block, kRtVarTooLargeForUndo));
    EXPECT_EQ(h.take_output(), k.text);
  }
}

TEST(RuntimeBlock, HostAtItsMaximumRefuses) {
  FakeHost h;
  ASSERT_EQ(h.start(kMiB, kMiB), 0);
  RuntimeBlock* before = h.block;
  EXPECT_FALSE(rt_memory_expand(&h.block, kRtPlotOverflow));
  EXPECT_EQ(h.block, before);
  EXPECT_EQ(h.moves, 0);
  // A caller that grows until refused stops at the maximum.
  FakeHost g;
  ASSERT_EQ(g.start(kMiB, 2 * kMiB), 0);
  int grown = 0;
  while (rt_memory_expand(&g.block, kRtVarTooLargeForUndo)) ++grown;
  EXPECT_EQ(grown, 2);
  EXPECT_EQ(g.size, 2 * kMiB);
}

TEST(RuntimeBlock, ResizeThatGainsNothingIsRefused) {
  FakeHost h;
  ASSERT_EQ(h.start(kMiB, kMiB), 0);
  const std::vector<uint8_t> before = area_copy(h.block, kAreaValues);
  // The largest size with the same area total as kMiB.
  const uint32_t same_total = kMiB + kAreaAlignBytes - 1 - (kMiB - kRuntimeHeaderBytes) % kAreaAlignBytes;
  ASSERT_EQ(rt_area_total(same_total), rt_area_total(kMiB));
  EXPECT_FALSE(runtime_block_resize(h.block, same_total, kRtVarTooLargeForUndo));
  EXPECT_TRUE(area_copy(h.block, kAreaValues) == before);
  EXPECT_EQ(run(rt_engine(h.block), "x = 1;\n"), 0);
}

TEST(RuntimeBlock, EngineTickRunsNothingWhileBusy) {
  FakeHost h;
  ASSERT_EQ(h.start(kMiB, kMiB), 0);
  h.block->h.busy = 1;
  EXPECT_EQ(rt_engine_tick(h.block), 0);
  h.block->h.busy = 0;
  EXPECT_EQ(rt_engine_tick(h.block), 0);
}

TEST(NameTable, AddAndFind) {
  alignas(8) uint8_t area[8 + 3 * 32 + 160] = {};
  NameTable* t = nullptr;
  EXPECT_EQ(fixtab_init(&t, area, 255), kRtTooSmallNameBuf);
  ASSERT_EQ(fixtab_init(&t, area, 8 + 8 * 32), 0);
  const char* long28 = "abcdefghijklmnopqrstuvwxyz01";
  ASSERT_EQ(fixtab_add(t, 1, long28, 0), 0);
  EXPECT_EQ(fixtab_add(t, 2, "abcdefghijklmnopqrstuvwxyz01_and_more", 0), kRtVarDuplicate);
  EXPECT_EQ(fixtab_add(t, 1, "other", 0), kRtVarDuplicate);
  EXPECT_EQ(fixtab_add(t, 1 << 30, "big", 0), kRtVarDuplicate);
  EXPECT_EQ(fixtab_add(t, 3, "abcXYZ", 3), 0);  // stored as "abc"
  EXPECT_EQ(fixtab_add(t, 4, "abc", -1), kRtVarDuplicate);
  EXPECT_EQ(fixtab_add(t, 4, "ab", 0), 0);
  const char* name = nullptr;
  int32_t len = 0;
  ASSERT_EQ(fixtab_find(t, 1, &name, &len), 0);
  EXPECT_EQ(std::string(name, size_t(len)), long28);
  EXPECT_EQ(fixtab_find(t, 99, &name), kRtVarNotFound);
  for (int code = 10; t->count < t->capacity; ++code) ASSERT_EQ(fixtab_add(t, code, std::to_string(code).c_str(), 0), 0);
  EXPECT_EQ(fixtab_add(t, 500, "full", 0), kRtNoMoreNameSlot);
  EXPECT_EQ(fixtab_resize(t, 8 + 7 * 32), kRtTooSmallNameBuf);
}

namespace {
double* g_clock_calls[4];
int g_clock_count = 0;
double fake_clock(void* slot, int process_time, int update) {
  if (g_clock_count < 4) g_clock_calls[g_clock_count++] = static_cast<double*>(slot);
  EXPECT_EQ(process_time, 0);
  EXPECT_EQ(update, 1);
  return 0.0;
}
}  // namespace

TEST(RuntimeBlock, ClockSlotsLiveInHostMemory) {
  FakeHost h;
  ASSERT_EQ(h.start(kMiB, 2 * kMiB), 0);
  double slots[6] = {};
  rt_set_clock_callback(h.block, fake_clock, slots, 8);
  ASSERT_EQ(g_clock_count, 3);
  EXPECT_EQ(g_clock_calls[0], slots + 3);
  EXPECT_EQ(g_clock_calls[2], slots + 5);
  ASSERT_TRUE(rt_memory_expand(&h.block, kRtPlotOverflow));
  EXPECT_EQ(rt_clock_slots(h.block), slots + 3);  // unchanged by the move
  const char* name = nullptr;
  int32_t len = 0;
  ASSERT_EQ(fixtab_find(rt_name_table(h.block), 28, &name, &len), 0);
  EXPECT_EQ(std::string(name, size_t(len)), "_param");
}
