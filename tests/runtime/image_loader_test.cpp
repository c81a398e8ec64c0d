// The saved-image loader against images made by the test builder: round
// trips into blocks of the builder's size, smaller and larger ones, a sweep
// over failed requests, truncations and byte flips (each answered with a
// status and the block back in its initial state), and the fit test's codes.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/core/calls.h"
#include "engine/core/image_words.h"
#include "engine/core/snapshot.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/runtime_status.h"
#include "support/image_feed.h"

namespace {

using namespace tnbuild;

constexpr uint32_t kBuildBytes = 4u << 20;
constexpr uint32_t kMaxBytes = 64u << 20;

const char kDemoSource[] =
    "function x = demo_init()\n x = 3;\nendfunction\n"
    "function x = demo_drag(px)\n x = px * 2;\nendfunction\n"
    "function demo_plot(x)\nendfunction\n"
    "function demo_menu()\nendfunction\n"
    "function demo_fill()\n global big;\n big = zeros(1, 20000);\n big(20000) = 7;\nendfunction\n"
    "function n = demo_count()\n global big;\n n = big(20000);\nendfunction\n";

const char kDemoDescription[] =
    "instance demo\n"
    "title \"Demo\"\n"
    "var x\n"
    "init x = demo_init()\n"
    "figure \"Main\"\n"
    "plot demo_plot(x)\n"
    "drag -1 x = demo_drag(_x)\n"
    "menu \"Demo\"\n"
    "entry \"Again\" demo_menu()\n";

struct Built {
  FakeHost host;
  Sections sections;
};

// Builds the demo application (or `n0`: no instance at all) in a fresh block.
// With grow_main the builder's area 1 is grown first, so that the image's
// main area exceeds the area 1 of a block of the builder's starting size.
// With big_heap a global of 20000 doubles is left in the engine's heap.
void build(Built* out, bool no_instances = false, bool grow_main = false, bool big_heap = false) {
  FakeHost& h = out->host;
  ASSERT_EQ(h.start(kBuildBytes, kMaxBytes), 0);
  if (grow_main) {
    ASSERT_TRUE(rt_memory_expand(&h.block, kRtPlotOverflow));
  }
  ASSERT_EQ(rt_register_library(h.block, g_builtin_table_host), 0);
  Builder builder(h.block, {{"demo", kDemoSource}});
  ASSERT_TRUE(builder.build(no_instances ? "" : kDemoDescription)) << builder.error;
  if (no_instances) h.block->h.instance_count = 0;
  if (big_heap) {
    int32_t slot = -1;
    ASSERT_EQ(lib_find_by_name(rt_engine(h.block), "_TN_demo", -1, 1, &slot), 0);
    ASSERT_EQ(interp_call(rt_engine(h.block), "demo_fill", slot, 0, 0, 0, 0), 0) << h.take_output();
  }
  out->sections = builder.sections();
}

int start_target(FakeHost* h, uint32_t bytes) {
  TN_TRY(h->start(bytes, kMaxBytes));
  return rt_register_library(h->block, g_builtin_table_host);
}

int load(FakeHost* h, const Sections& parts, size_t fail_at = SIZE_MAX) {
  RequestFeed feed{&parts, 0, fail_at};
  return rt_load_image(&h->block, &RequestFeed::read, &feed);
}

// The block as initialisation left it.
void expect_initial(RuntimeBlock* b) {
  EXPECT_EQ(b->h.instance_count, 1);
  EXPECT_EQ(b->h.record_words, 0);
  EXPECT_EQ(b->h.next_instance_id, 1);
  ASSERT_NE(inst_find_by_id(b, 0), nullptr);
  EXPECT_EQ(inst_find_by_id(b, 0)->subplots[0].handlerWords[kSubplotFigureWord], kEmptyFigure);
  EXPECT_TRUE(plotstore_check(rt_plot_store(b)));
  EXPECT_TRUE(undo_store_check(rt_value_store(b)));
}

void expect_demo_runs(RuntimeBlock* b) {
  int32_t slot = -1;
  EngineContext* c = rt_engine(b);
  ASSERT_EQ(lib_find_by_name(c, "_TN_demo", -1, 1, &slot), 0);
  ASSERT_EQ(stk_push_real(c, 4), 0);
  ASSERT_EQ(interp_call(c, "demo_drag", slot, 1, 1, 0, 0), 0);
  double v = 0;
  ASSERT_EQ(stk_pop_real_scalar(c, &v), 0);
  EXPECT_EQ(v, 8.0);
}

Sections cut(RuntimeBlock* b) { return Builder(b, {}).sections(); }

// The first byte at which two requests differ, or -1.
int64_t first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return int64_t(std::min(a.size(), b.size()));
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return int64_t(i);
  return -1;
}

TEST(ImageLoader, RoundTripInTheBuildersSizeIsEqualByteForByte) {
  Built built;
  build(&built);
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  ASSERT_EQ(load(&target, requests(built.sections)), 0);
  Sections again = cut(target.block);
  // The head ends in two spare words that the store's loader lets the value
  // area's first unit overwrite (with an odd record capacity also the last
  // record word, which the store's reserve keeps unused); request 13
  // carries those values.
  const size_t record_words = size_t(kUsHeaderWords + undo_word(rt_value_store(target.block), kUsRecordCapacity));
  const size_t record_end = 4 * record_words / kUndoUnitBytes * kUndoUnitBytes;
  for (Sections* s : {&again, &built.sections}) (*s)[kReqValueHead].resize(record_end);
  for (int k = 0; k < kImageRequests; ++k)
    EXPECT_EQ(first_difference(again[size_t(k)], built.sections[size_t(k)]), -1) << "request " << k;
  EXPECT_EQ(target.block->h.instance_count, 1);
  expect_demo_runs(target.block);
}

TEST(ImageLoader, SmallerBlockGrowsAndLargerBlockLoads) {
  Built built;
  build(&built);
  for (uint32_t bytes : {1u << 20, 16u << 20}) {
    FakeHost target;
    ASSERT_EQ(start_target(&target, bytes), 0);
    ASSERT_EQ(load(&target, requests(built.sections)), 0) << bytes;
    const Sections again = cut(target.block);
    for (int k : {kReqInstances, kReqRecords})
      EXPECT_EQ(first_difference(again[size_t(k)], built.sections[size_t(k)]), -1) << bytes << " request " << k;
    // The name table's capacity follows its area; its count and rows do not.
    auto rows = [](const std::vector<uint8_t>& v) { return std::vector<uint8_t>(v.begin() + 4, v.end()); };
    EXPECT_EQ(rows(again[kReqNames]), rows(built.sections[kReqNames])) << bytes;
    EXPECT_EQ(target.block->h.record_words, built.host.block->h.record_words);
    if (bytes < kBuildBytes) {
      EXPECT_GT(target.moves, 0);
    }
    expect_demo_runs(target.block);
  }
}

TEST(ImageLoader, EngineAreaGrowsAndTheDeliveredSectionsAreReplayed) {
  Built built;
  build(&built, false, false, true);
  FakeHost target;
  ASSERT_EQ(start_target(&target, 512u << 10), 0);
  const int32_t engine_before = target.block->h.area_size[kAreaEngine];
  ASSERT_EQ(load(&target, requests(built.sections)), 0);
  EXPECT_GT(target.block->h.area_size[kAreaEngine], engine_before);
  int32_t slot = -1;
  EngineContext* c = rt_engine(target.block);
  ASSERT_EQ(lib_find_by_name(c, "_TN_demo", -1, 1, &slot), 0);
  ASSERT_EQ(interp_call(c, "demo_count", slot, 0, 1, 0, 0), 0);
  double n = 0;
  ASSERT_EQ(stk_pop_real_scalar(c, &n), 0);
  EXPECT_EQ(n, 7.0);
}

TEST(ImageLoader, OversizeMainAreaGrowsAreaOneOnly) {
  Built built;
  build(&built, false, true);
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  int32_t before[kAreaCount];
  std::memcpy(before, target.block->h.area_size, sizeof before);
  ASSERT_EQ(load(&target, requests(built.sections)), 0);
  EXPECT_GT(target.block->h.area_size[kAreaMain], before[kAreaMain]);
  for (int k : {kAreaEngine, kAreaRecords, kAreaNames, kAreaValues}) EXPECT_EQ(target.block->h.area_size[k], before[k]);
}

TEST(ImageLoader, NoInstancesLoadsWithCountZero) {
  Built built;
  build(&built, true);
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  ASSERT_EQ(load(&target, requests(built.sections)), 0);
  EXPECT_EQ(target.block->h.instance_count, 0);
}

TEST(ImageLoader, EveryFailedRequestGivesAStatusAndTheInitialBlock) {
  Built built;
  build(&built);
  const Sections parts = requests(built.sections);
  for (size_t k = 0; k < parts.size(); ++k) {
    FakeHost target;
    ASSERT_EQ(start_target(&target, kBuildBytes), 0);
    EXPECT_EQ(load(&target, parts, k), k == 0 ? kEndOfFile : kInitError) << "request " << k;
    expect_initial(target.block);
    EXPECT_EQ(load(&target, parts), 0) << "after request " << k;
  }
}

TEST(ImageLoader, TruncationsAndByteFlipsAreAnsweredWithAStatus) {
  Built built;
  build(&built);
  const std::vector<uint8_t> stream = flat(built.sections);
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  const size_t stride = stream.size() / 300 + 1;
  for (size_t end = 0; end < stream.size(); end += (end < 400 ? 1 : stride)) {
    FlatFeed feed{&stream, end};
    ASSERT_NE(rt_load_image(&target.block, &FlatFeed::read, &feed), 0) << end;
  }
  expect_initial(target.block);
  int failures = 0;
  for (size_t at = 0; at < stream.size(); at += (at < 400 ? 1 : stride)) {
    std::vector<uint8_t> bad = stream;
    bad[at] ^= 0x5A;
    FlatFeed feed{&bad, bad.size()};
    FakeHost fresh;
    ASSERT_EQ(start_target(&fresh, kBuildBytes), 0);
    if (rt_load_image(&fresh.block, &FlatFeed::read, &feed) != 0) {
      ++failures;
      expect_initial(fresh.block);
    }
  }
  EXPECT_GT(failures, 0);
}

// The reserved words at 16 and 28 are never read: whatever they hold (the
// writer's table fingerprint, another one, junk), the image loads and runs,
// and written again carries the writer's own words there.
TEST(ImageLoader, ReservedWordsAreNeverRead) {
  Built built;
  build(&built);
  const Sections parts = requests(built.sections);
  const uint32_t fingerprint = tn::get_le32(parts[0].data() + kImgReserved16);
  EXPECT_EQ(fingerprint, rt_table_fingerprint(rt_engine(built.host.block)));
  const uint32_t kWords[] = {0, 1, fingerprint ^ 1, 0x5A5A5A5Au, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  for (uint32_t field : {uint32_t(kImgReserved16), uint32_t(kImgReserved28)})
    for (uint32_t v : kWords) {
      SCOPED_TRACE(testing::Message() << "word " << field << " = " << v);
      Sections junk = parts;
      tn::put_le32(junk[0].data() + field, v);
      FakeHost target;
      ASSERT_EQ(start_target(&target, kBuildBytes), 0);
      ASSERT_EQ(load(&target, junk), 0);
      expect_demo_runs(target.block);
      const Sections again = cut(target.block);
      EXPECT_EQ(tn::get_le32(again[0].data() + kImgReserved16), fingerprint);
      EXPECT_EQ(tn::get_le32(again[0].data() + kImgReserved28), 0u);
    }
}

// The default debug flag and the band-drawn byte are set by any byte but 0
// and held as 1: new instances take the debug flag, the image written again
// carries 1, and the application runs.
TEST(ImageLoader, FlagBytesAreSetByAnyByteButZero) {
  Built built;
  build(&built);
  const Sections parts = requests(built.sections);
  for (uint32_t field : {uint32_t(kImgDefaultDebug), uint32_t(kImgBandDrawn)})
    for (int v : {0, 1, 2, 0x7F, 0x80, 0xFE, 0xFF}) {
      SCOPED_TRACE(testing::Message() << "byte " << field << " = " << v);
      const uint8_t set = v != 0 ? 1 : 0;
      Sections flags = parts;
      flags[0][field] = uint8_t(v);
      FakeHost target;
      ASSERT_EQ(start_target(&target, kBuildBytes), 0);
      ASSERT_EQ(load(&target, flags), 0);
      RuntimeBlock* b = target.block;
      EXPECT_EQ(field == kImgDefaultDebug ? b->h.default_debug : b->h.band_drawn, set);
      int32_t id = 0;
      ASSERT_EQ(inst_create(b, &id), 0);
      EXPECT_EQ(inst_get_debug_flag(b, id), field == kImgDefaultDebug && set);
      EXPECT_EQ(cut(b)[0][field], set);
      expect_demo_runs(b);
    }
}

// Engine section sizes past any block, up to the largest unsigned word, are
// the engine's overflow of that area: the block grows to the host's maximum,
// the engine's code comes back and the block is as initialisation left it.
TEST(ImageLoader, EngineSectionSizesPastTheBlockGiveTheEnginesCodes) {
  Built built;
  build(&built);
  const Sections parts = requests(built.sections);
  struct Case {
    uint32_t field;
    int status;
  };
  const Case cases[] = {{kImgDescTop, kStackOverflow},    {kImgDataTop, kDataStackOverflow},
                        {kImgHeapWords, kVariableOverflow}, {kImgFnCount, kCodeOverflow},
                        {kImgCodeWords, kCodeOverflow},     {kImgSymbolBytes, kCodeOverflow}};
  for (const Case& k : cases)
    for (uint32_t v : {0x80000000u, 0xC0000000u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(testing::Message() << "engine word " << k.field << " = " << v);
      Sections huge = parts;
      tn::put_le32(huge[kReqEngineHeader].data() + k.field, v);
      FakeHost target;
      ASSERT_EQ(target.start(kBuildBytes, 2 * kBuildBytes), 0);
      ASSERT_EQ(rt_register_library(target.block, g_builtin_table_host), 0);
      EXPECT_EQ(load(&target, huge), k.status);
      expect_initial(target.block);
      EXPECT_EQ(load(&target, parts), 0);
      expect_demo_runs(target.block);
    }
}

// Every field of the header at the ends of its range and past them: out of
// range is refused (600) with the block as initialisation left it; in range
// loads, but for the section sizes, which the fit test and the sections'
// own checks judge (not loaded here: large ones grow the block far). A
// next instance id of INT32_MAX then gives new instances ids that neither
// overflow nor repeat. The rows cover the header exactly once.
TEST(ImageLoader, EveryHeaderWordOutsideItsRangeIsRefused) {
  Built built;
  build(&built);
  const Sections parts = requests(built.sections);
  std::vector<int> covered(kRuntimeImageHeaderBytes, 0);
  for (size_t i = 0; i < kRuntimeImageWordRows; ++i)
    for (uint32_t k = 0; k < kRuntimeImageWords[i].count * kRuntimeImageWords[i].bytes; ++k)
      ++covered[kRuntimeImageWords[i].offset + k];
  EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), int(kRuntimeImageHeaderBytes));
  const uint32_t kSizes[] = {kImgMainBytes, kImgInstanceCount, kImgRecordWords,
                             kImgNameBytes, kImgValueHeadBytes, kImgValueUnits};
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  int refused = 0, loaded = 0;
  for (size_t i = 0; i < kRuntimeImageWordRows; ++i) {
    const ImageWordRange& row = kRuntimeImageWords[i];
    const bool size = std::find(std::begin(kSizes), std::end(kSizes), row.offset) != std::end(kSizes);
    const int64_t limit = row.bytes == kImageByte ? 255 : INT32_MAX;
    const int64_t floor = row.bytes == kImageByte ? 0 : INT32_MIN;
    for (uint32_t k = 0; k < row.count; ++k) {
      const uint32_t at = row.offset + k * row.bytes;
      for (int64_t v : {row.min - 1, row.min, row.max, row.max + 1, int64_t(0), int64_t(-1), int64_t(1),
                        int64_t(INT32_MIN), int64_t(INT32_MAX), int64_t(255), int64_t(256)}) {
        if (v < floor || v > limit) continue;
        const bool in_range = v >= row.min && v <= row.max;
        if (in_range && size) continue;
        Sections bad = parts;
        if (row.bytes == kImageByte) bad[0][at] = uint8_t(v);
        else tn::put_le32(bad[0].data() + at, uint32_t(int32_t(v)));
        const int status = load(&target, bad);
        if (in_range) {
          EXPECT_EQ(status, 0) << row.name << " at " << at << " = " << v;
          ++loaded;
        } else {
          EXPECT_EQ(status, kInitError) << row.name << " at " << at << " = " << v;
          expect_initial(target.block);
          ++refused;
        }
        rt_reset_to_initial(target.block);
      }
    }
  }
  EXPECT_GT(refused, 15);
  EXPECT_GT(loaded, 60);

  Sections last = parts;
  tn::put_le32(last[0].data() + kImgNextInstanceId, uint32_t(INT32_MAX));
  ASSERT_EQ(load(&target, last), 0);
  int32_t a = 0, b = 0, c = 0;
  ASSERT_EQ(inst_create(target.block, &a), 0);
  ASSERT_EQ(inst_create(target.block, &b), 0);
  ASSERT_EQ(inst_create(target.block, &c), 0);
  EXPECT_EQ(a, INT32_MAX);
  EXPECT_EQ(b, 1);  // 0 is the loaded instance's
  EXPECT_EQ(c, 2);
}

TEST(ImageLoader, NameTableLargerThanItsAreaIsRefusedEvenWithGrowth) {
  Built built;
  build(&built);
  Sections parts = requests(built.sections);
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  tn::put_le32(parts[0].data() + kImgNameBytes, uint32_t(target.block->h.area_size[kAreaNames] + 8));
  EXPECT_EQ(load(&target, parts), kRtTooSmallNameBuf);
  EXPECT_EQ(target.moves, 0);
  expect_initial(target.block);
}

TEST(ImageLoader, ShortHeaderIs305) {
  const std::vector<uint8_t> stream(kRuntimeImageHeaderBytes - 1, 0);
  FakeHost target;
  ASSERT_EQ(start_target(&target, kBuildBytes), 0);
  FlatFeed feed{&stream, stream.size()};
  EXPECT_EQ(rt_load_image(&target.block, &FlatFeed::read, &feed), kEndOfFile);
}

}  // namespace
