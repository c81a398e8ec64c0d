// The plot store against a model of committed lists: random fresh and
// appending builds, frees, compactions, resizes and moves, with the tiling
// check (blocks cover the area exactly, one block per key) and every list's
// data compared after each step; then the edge cases.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "graphics/plotlist/plot_store.h"

namespace {

constexpr int32_t kMaxDoubles = 4096;

struct Buffer {
  std::vector<double> d = std::vector<double>(2 * kMaxDoubles);
  PlotStore* at(int32_t offset) { return reinterpret_cast<PlotStore*>(d.data() + offset); }
};

// Builds a list for key with `extra` new doubles, fresh or appended; the
// status of the reservation.
int build(PlotStore* s, int32_t key, bool fresh, const std::vector<double>& extra) {
  int32_t pos = 0, used = 0, cap = 0;
  if (fresh) {
    plotstore_free(s, key);
    plotstore_largest_free(s, &pos, &cap, true, nullptr);
  } else {
    const int st = plotstore_reserve(s, key, &pos, &used, &cap);
    if (st) return st;
  }
  EXPECT_LE(used + int32_t(extra.size()), cap);
  for (size_t i = 0; i < extra.size(); ++i) plotstore_put(s, pos + used + int32_t(i), extra[i]);
  if (used + int32_t(extra.size()) > 0) plotstore_write_block(s, key, pos, used + int32_t(extra.size()));
  return 0;
}

std::vector<double> list_of(PlotStore* s, int32_t key) {
  int32_t pos = 0, len = 0;
  if (!plotstore_find(s, key, &pos, &len)) return {};
  std::vector<double> out;
  for (int32_t i = 0; i < len; ++i) out.push_back(plotstore_at(s, pos + i));
  return out;
}

}  // namespace

TEST(PlotStore, RandomOperationsAgainstAModel) {
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Buffer buf;
  int32_t offset = 0, total = 1024;
  PlotStore* s = buf.at(offset);
  plotstore_init(s, total);
  std::map<int32_t, std::vector<double>> model;
  for (int step = 0; step < 10000; ++step) {
    const int op = pick(0, 9);
    const int32_t key = pick(0, 5);
    if (op <= 4) {
      const bool fresh = op <= 1;
      int32_t pos = 0, cap = 0, free_total = 0;
      plotstore_largest_free(s, &pos, &cap, false, &free_total);
      const int32_t room = fresh ? std::max(cap, free_total - 2) : free_total;
      std::vector<double> extra(size_t(std::max(0, pick(0, std::max(0, std::min(room / 3, 60))))));
      for (double& v : extra) v = pick(-1000, 1000) + 0.25;
      // The reservation decides what fits; the new data are trimmed to it.
      if (fresh) {
        plotstore_free(s, key);
        model.erase(key);
        plotstore_largest_free(s, &pos, &cap, true, nullptr);
        extra.resize(size_t(std::max(0, std::min<int32_t>(cap, int32_t(extra.size())))));
        ASSERT_EQ(build(s, key, false, extra), 0);
        if (!extra.empty()) model[key] = extra;
      } else {
        int32_t used = 0;
        const int st = plotstore_reserve(s, key, &pos, &used, &cap);
        if (st) {
          ASSERT_EQ(st, kPlotOverflow);
        } else {
          ASSERT_EQ(used, int32_t(model[key].size()));
          extra.resize(size_t(std::max(0, std::min<int32_t>(cap - used, int32_t(extra.size())))));
          for (size_t i = 0; i < extra.size(); ++i) plotstore_put(s, pos + used + int32_t(i), extra[i]);
          if (used + int32_t(extra.size()) > 0) plotstore_write_block(s, key, pos, used + int32_t(extra.size()));
          model[key].insert(model[key].end(), extra.begin(), extra.end());
        }
        if (model[key].empty()) model.erase(key);
      }
    } else if (op == 5) {
      plotstore_free(s, key);
      model.erase(key);
    } else if (op == 6) {
      plotstore_compact(s);
    } else if (op == 7) {
      int32_t pos = 0, cap = 0, free_total = 0;
      plotstore_largest_free(s, &pos, &cap, pick(0, 1) == 1, &free_total);
    } else if (op == 8) {
      const int32_t next = pick(64, kMaxDoubles);
      const int st = plotstore_resize(s, next);
      if (st == 0) {
        total = next;
      } else {
        ASSERT_EQ(st, kPlotStoreExhausted);
      }
    } else {
      const int32_t to = pick(0, kMaxDoubles - 1);
      const int32_t next = std::max(total, pick(total, kMaxDoubles));
      if (to == offset) continue;
      PlotStore* moved = buf.at(to);
      ASSERT_EQ(plotstore_move(s, moved, next), 0);
      s = moved;
      offset = to;
      total = next;
    }
    ASSERT_TRUE(plotstore_check(s)) << "step " << step;
    ASSERT_EQ(s->n, total - kPlotStoreOverhead);
    for (const auto& [k, data] : model) ASSERT_EQ(list_of(s, k), data) << "step " << step << " key " << k;
    for (int32_t k = 0; k <= 5; ++k) {
      if (!model.count(k)) {
        ASSERT_FALSE(plotstore_find(s, k, nullptr, nullptr)) << step;
      }
    }
  }
}

TEST(PlotStore, EdgeCases) {
  Buffer buf;
  PlotStore* s = buf.at(0);
  plotstore_init(s, 104);
  EXPECT_EQ(s->n, 100);
  EXPECT_EQ(plotstore_at(s, 0), -100.0);
  ASSERT_EQ(build(s, 3, true, std::vector<double>(7, 1.0)), 0);
  EXPECT_EQ(plotstore_at(s, 0), 9.0);
  EXPECT_EQ(plotstore_at(s, 9), -91.0);
  // Committing nothing leaves no block.
  ASSERT_EQ(build(s, 4, true, {}), 0);
  EXPECT_FALSE(plotstore_find(s, 4, nullptr, nullptr));
  // Resizing to exactly the used length fails and changes nothing.
  EXPECT_EQ(plotstore_resize(s, 9 + kPlotStoreOverhead), kPlotStoreExhausted);
  EXPECT_EQ(s->n, 100);
  // Append with a free block right after the list grows in place.
  int32_t pos = 0, used = 0, cap = 0;
  ASSERT_EQ(plotstore_reserve(s, 3, &pos, &used, &cap), 0);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(used, 7);
  EXPECT_EQ(cap, 7 + 91);
  plotstore_write_block(s, 3, pos, 8);
  EXPECT_TRUE(plotstore_check(s));
}

TEST(PlotStore, EqualFreeBlocksAndLazyMerging) {
  Buffer buf;
  PlotStore* s = buf.at(0);
  plotstore_init(s, 44);  // n = 40
  // used 10, free 10, used 10, free 10
  plotstore_put(s, 0, 10), plotstore_put(s, 1, 1);
  plotstore_put(s, 10, -10);
  plotstore_put(s, 20, 10), plotstore_put(s, 21, 2);
  plotstore_put(s, 30, -4), plotstore_put(s, 34, -6);  // two adjacent free blocks
  int32_t pos = 0, cap = 0, total = 0;
  plotstore_largest_free(s, &pos, &cap, false, &total);
  EXPECT_EQ(pos, 12);  // ties keep the first block
  EXPECT_EQ(cap, 8);
  EXPECT_EQ(total, 20);
  EXPECT_EQ(plotstore_at(s, 30), -10.0);  // merged by the search
  // Appending to key 1 with no free block after it copies the list.
  plotstore_put(s, 10, 10), plotstore_put(s, 11, 5);
  ASSERT_EQ(plotstore_reserve(s, 1, &pos, &total, &cap), 0);
  EXPECT_EQ(pos, 32);
  EXPECT_EQ(total, 8);
  EXPECT_LT(plotstore_at(s, 0), 0);  // the old block is free
}

TEST(PlotStore, ReopenedListThatCannotMoveStays) {
  Buffer buf;
  PlotStore* s = buf.at(0);
  plotstore_init(s, 44);  // n = 40
  plotstore_put(s, 0, 20), plotstore_put(s, 1, 1);
  plotstore_put(s, 20, 12), plotstore_put(s, 21, 2);
  plotstore_put(s, 32, -8);
  int32_t pos = 0, used = 0, cap = 0;
  EXPECT_EQ(plotstore_reserve(s, 1, &pos, &used, &cap), kPlotOverflow);
  EXPECT_EQ(plotstore_at(s, 0), 20.0);
  EXPECT_TRUE(plotstore_check(s));
}

// A list being built is a free block with data in it. When the store grows
// under it, it takes the new room: the free blocks after it, or a larger
// free block elsewhere, its data moved along. Committed, it is a list.
TEST(PlotStore, ARoomBeingBuiltWidensWhenTheStoreGrows) {
  struct Block {
    int32_t at, size, key;  // size < 0: free
  };
  struct Case {
    const char* what;
    std::vector<Block> before;  // tiles n = 40
    int32_t room_at;            // the room's block
    int32_t want_pos, want_cap;
  } cases[] = {
      {"room at the end", {{0, 10, 1}, {10, -30, 0}}, 10, 12, 68},
      {"room before a list", {{0, -10, 0}, {10, 30, 1}}, 0, 42, 38},
      {"room with free blocks after it", {{0, 10, 1}, {10, -10, 0}, {20, -4, 0}, {24, -16, 0}}, 10, 12, 68},
      {"room behind a freed block", {{0, -10, 0}, {10, -10, 0}, {20, 20, 1}}, 10, 42, 38},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Buffer buf;
    PlotStore* s = buf.at(0);
    plotstore_init(s, 44);
    for (const Block& b : c.before) {
      plotstore_put(s, b.at, b.size);
      if (b.size > 0) plotstore_put(s, b.at + 1, b.key);
    }
    int32_t pos = c.room_at + kPlotBlockHead, cap = 0;
    for (const Block& b : c.before)
      if (b.at == c.room_at) cap = -b.size - kPlotBlockHead;
    const std::vector<double> data = {69, -1, -1, 0, 0, 1, 0, 1.5};
    for (size_t i = 0; i < data.size(); ++i) plotstore_put(s, pos + int32_t(i), data[i]);
    ASSERT_EQ(plotstore_resize(s, 84), 0);
    plotstore_widen_room(s, &pos, &cap, int32_t(data.size()));
    EXPECT_EQ(pos, c.want_pos);
    EXPECT_EQ(cap, c.want_cap);
    plotstore_write_block(s, 2, pos, int32_t(data.size()));
    ASSERT_TRUE(plotstore_check(s));
    EXPECT_EQ(list_of(s, 2), data);
  }
}
