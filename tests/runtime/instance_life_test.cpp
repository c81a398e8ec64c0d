// Instance life and the host's queries: creation and discard keep the slots
// packed with the plot store below them, closing deletes the record run,
// figure-only detection, capability kinds, and the title lookup order
// (stored value, then record text, then 10039).
#include <gtest/gtest.h>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "runtime/runtime_status.h"
#include "tools/imagetools/image_builder.h"

namespace {

using tnbuild::Builder;

constexpr uint32_t kBytes = 2u << 20;

struct Instances : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    b = host.block;
  }
  void build(const char* description) {
    Builder builder(b, {});
    ASSERT_TRUE(builder.build(description)) << builder.error;
  }
};

TEST_F(Instances, CreateAndDiscardKeepSlotsPackedAndOrdered) {
  ASSERT_EQ(inst_create(b, nullptr), 0);
  int32_t ids[3] = {};
  for (int32_t& id : ids) ASSERT_EQ(inst_create(b, &id), 0);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[2], 3);
  EXPECT_EQ(b->h.instance_count, 4);
  EXPECT_EQ(b->h.next_instance_id, 4);
  EXPECT_EQ(inst_find_by_id(b, 2)->flag, 0);
  EXPECT_EQ(inst_find_by_id(b, 0)->flag, 1);
  inst_store_discard(b, 2);
  EXPECT_EQ(b->h.instance_count, 3);
  EXPECT_EQ(inst_at(b, 1)->id, 1);
  EXPECT_EQ(inst_at(b, 2)->id, 3);
  EXPECT_EQ(inst_find_by_id(b, 2), nullptr);
  EXPECT_TRUE(plotstore_check(rt_plot_store(b)));
  EXPECT_EQ(rt_plot_store(b)->n + kPlotStoreOverhead, rt_plot_store_doubles(b, 3));
  inst_store_discard(b, 0);  // instance 0 keeps its slot
  EXPECT_EQ(b->h.instance_count, 3);
  EXPECT_TRUE(undo_store_check(rt_value_store(b)));
}

TEST_F(Instances, CloseDeletesTheRunAndTheSlot) {
  build("instance one\ntitle \"One\"\ninstance two\ntitle \"Two\"\nidle two_idle()\n");
  RuntimeBlock* h = b;
  const int32_t words = b->h.record_words;
  EXPECT_TRUE(inst_has_idle_handler(b, 1));
  ASSERT_EQ(inst_close(&h, 1), 0);
  EXPECT_LT(b->h.record_words, words);
  EXPECT_EQ(inst_find_by_id(b, 1), nullptr);
  EXPECT_FALSE(inst_has_idle_handler(b, 1));
  EXPECT_EQ(inst_close(&h, 1), kRtNonexistentInstance);
}

TEST_F(Instances, TitleComesFromTheStoredValueThenTheRecord) {
  build("instance demo\ntitle \"Record title\"\ninstance bare\n");
  const char* text = nullptr;
  int32_t length = 0;
  char buffer[64];
  ASSERT_EQ(inst_get_title(b, 0, &text, &length, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(text, length), "Record title");
  EXPECT_EQ(inst_get_version(b, 0, &text, &length, buffer, sizeof buffer), kRtUndefElement);
  EXPECT_EQ(inst_get_title(b, 1, &text, &length, buffer, sizeof buffer), kRtUndefElement);
  EXPECT_EQ(inst_get_title(b, 7, &text, &length, buffer, sizeof buffer), kRtNonexistentInstance);

  // A text stored under value 103 wins.
  EngineContext* c = rt_engine(b);
  ASSERT_EQ(stk_push_bytes(c, 6, "Stored"), 0);
  int64_t words = 0;
  ASSERT_EQ(stk_item_words(c, 0, &words), 0);
  void* data = nullptr;
  ASSERT_EQ(undo_store_put_value(rt_value_store(b), 0, 0, kKeyTitle, words, &data), 0);
  ASSERT_EQ(stk_descriptor_as_doubles(c, 0, static_cast<double*>(data)), 0);
  stk_drop(c);
  ASSERT_EQ(inst_get_title(b, 0, &text, &length, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(text, length), "Stored");
}

TEST_F(Instances, QueriesAndSetters) {
  build("instance demo\ncapabilities 40\nfigure \"F\"\nidle demo_idle()\n");
  InstanceRec* rec = inst_find_by_id(b, 0);
  rec->capabilities = 40;  // bits 3 and 5: kinds 9 and 1, 2, 3, 5, 6 are off
  const bool want[10] = {false, false, false, false, true, false, false, true, true, false};
  for (int32_t kind = 0; kind < 10; ++kind) EXPECT_EQ(inst_capability(b, 0, kind), want[kind]) << kind;
  EXPECT_FALSE(inst_capability(b, 0, 10));
  EXPECT_FALSE(inst_capability(b, 5, 4));
  EXPECT_TRUE(inst_has_any_handler(b, 0));
  rec->capabilities = 2;
  EXPECT_FALSE(inst_has_any_handler(b, 0));
  EXPECT_EQ(inst_set_mode_word(b, 0, 3), kRtSectionChanged);
  EXPECT_EQ(inst_set_mode_word(b, 0, 3), 0);
  EXPECT_EQ(inst_mark_state(b, 0, true)->state, 2);
  EXPECT_TRUE(inst_idle_running(b, 0));
  EXPECT_EQ(inst_mark_state(b, 0, false)->state, 0);
  EXPECT_FALSE(inst_idle_running(b, 0));
  EXPECT_EQ(inst_mark_state(b, 9, true), nullptr);
  ASSERT_EQ(inst_set_flag(b, 0, 1), 0);
  EXPECT_TRUE(inst_get_debug_flag(b, 0));
  EXPECT_FALSE(inst_get_debug_flag(b, 9));
  EXPECT_FALSE(inst_changed_flag(b, 9));
  EXPECT_FALSE(inst_detect_figure_only(b, 0));
}

TEST_F(Instances, FigureOnlyInstancesAreDetected) {
  const char run[] = "instance demo\n";
  build(run);
  // A figure command text directly after the header (the builder puts its
  // library record there; the text record replaces it).
  int32_t pos = 0;
  ASSERT_EQ(rec_find_tag(b, 0, &pos, kTagLibrary), 0);
  int32_t* w = rt_record_words(b) + pos;
  w[0] = kTagFigureOnly;
  w[2] = 0;  // an empty text; the rest of the record is padding
  EXPECT_TRUE(inst_detect_figure_only(b, 0));
  EXPECT_EQ(inst_find_by_id(b, 0)->figure_only, 1);
}

}  // namespace
