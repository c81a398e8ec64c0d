// The runtime block: layouts for a range of buffer sizes, growth for each
// overflow code on a host that always moves the block (the whole gain to the
// code's area, every other area byte for byte as it was), the expansion
// message, a host at its maximum, and the engine still running afterwards.
#include <gtest/gtest.h>

#include <vector>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
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
constexpr uint32_t kSmallestBlock = 134144;  // 1024 + 65 * 2048

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

TEST(RuntimeBlock, LayoutsBySize) {
  EXPECT_EQ(rt_min_block_bytes(), kSmallestBlock);
  struct Case {
    uint32_t size;
    int status;
  } cases[] = {{8192, kRtNotEnoughMemForTN},
               {kSmallestBlock - 2048, kRtNotEnoughMemForTN},
               {kSmallestBlock, 0},
               {kMiB, 0},
               {8 * kMiB, 0}};
  for (const Case& k : cases) {
    FakeHost h;
    EXPECT_EQ(h.start(k.size, k.size), k.status) << k.size;
    if (k.status != 0) {
      EXPECT_EQ(h.block, nullptr);
      continue;
    }
    const AreaSplit s = rt_initial_split(rt_area_total(k.size));
    int64_t sum = 0;
    for (int a = 0; a < kAreaCount; ++a) {
      EXPECT_EQ(h.block->h.area_size[a], s.size[a]) << k.size << " area " << a;
      sum += s.size[a];
    }
    EXPECT_EQ(sum % 2048, 0);
    EXPECT_LE(sum + kRuntimeHeaderBytes, k.size);
    EXPECT_GT(sum + kRuntimeHeaderBytes + 2048, k.size);
    EXPECT_EQ(h.block->h.instance_count, 1);
    EXPECT_EQ(h.block->h.next_instance_id, 1);
    EXPECT_EQ(h.block->h.cursor_kind, 1);
    EXPECT_EQ(h.block->h.build.key, -1);
    EXPECT_EQ(rt_name_table(h.block)->count, kSpecialVarRows);
    EXPECT_TRUE(plotstore_check(rt_plot_store(h.block)));
    EXPECT_TRUE(undo_store_check(rt_value_store(h.block)));
    EXPECT_EQ(inst_find_by_id(h.block, 0), inst_at(h.block, 0));
    EXPECT_EQ(inst_at(h.block, 0)->styles[2].bits, 256u);
    EXPECT_EQ(inst_at(h.block, 0)->styles[3].g, 204);
    EXPECT_EQ(inst_at(h.block, 0)->subplots[0].handlerWords[kSubplotFigureWord], kEmptyFigure);
  }
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
  EXPECT_FALSE(runtime_block_resize(h.block, kMiB + 1023, kRtVarTooLargeForUndo));
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
  EXPECT_EQ(h.block->h.clock_slots, slots + 3);  // unchanged by the move
  const char* name = nullptr;
  int32_t len = 0;
  ASSERT_EQ(fixtab_find(rt_name_table(h.block), 28, &name, &len), 0);
  EXPECT_EQ(std::string(name, size_t(len)), "_param");
}
