// Building display lists through the block header: a fresh list takes the
// largest free block, an appended list keeps what it had, a committed empty
// list leaves nothing, and the scratch region never overlaps the list being
// built.
#include <gtest/gtest.h>

#include "graphics/plotlist/plot_store.h"
#include "runtime/plot_lists.h"
#include "fake_host.h"

TEST(PlotLists, BeginAppendCommitAndScratch) {
  FakeHost h;
  ASSERT_EQ(h.start(1u << 20, 1u << 20), 0);
  RuntimeBlock* b = h.block;
  ASSERT_EQ(plotstore_begin_list(b, 2, true), 0);
  EXPECT_EQ(b->h.build.key, 2);
  EXPECT_EQ(b->h.build.subplot, -1);
  for (int i = 0; i < 5; ++i) plotstore_put(rt_plot_store(b), b->h.build.start + i, i);
  b->h.build.used = 5;
  uint8_t* scratch = nullptr;
  int64_t bytes = 0;
  rt_scratch_area(b, &scratch, &bytes);
  EXPECT_EQ(scratch, reinterpret_cast<uint8_t*>(plotstore_data(rt_plot_store(b)) + b->h.build.start + 5));
  EXPECT_EQ(bytes, int64_t(b->h.build.capacity - 5) * 8);
  plotstore_commit_list(b);
  EXPECT_EQ(b->h.build.key, -1);
  ASSERT_EQ(plotstore_begin_list(b, 2, false), 0);
  EXPECT_EQ(b->h.build.used, 5);
  plotstore_put(rt_plot_store(b), b->h.build.start + 5, 5);
  b->h.build.used = 6;
  plotstore_commit_list(b);
  int32_t pos = 0, len = 0;
  ASSERT_TRUE(plotstore_find(rt_plot_store(b), 2, &pos, &len));
  EXPECT_EQ(len, 6);
  EXPECT_EQ(plotstore_at(rt_plot_store(b), pos + 5), 5.0);
  ASSERT_EQ(plotstore_begin_list(b, 3, true), 0);
  plotstore_commit_list(b);
  EXPECT_FALSE(plotstore_find(rt_plot_store(b), 3, nullptr, nullptr));
  plotstore_free_subplot(b, 2);
  EXPECT_FALSE(plotstore_find(rt_plot_store(b), 2, nullptr, nullptr));
  EXPECT_TRUE(plotstore_check(rt_plot_store(b)));
}
