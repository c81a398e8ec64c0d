// Records that take working memory, drawn under bounds on the drawing room
// from almost nothing to none at all: each record is drawn whole or not at
// all, the room tells which, and the records after it are drawn either way.
// Without a bound every record is drawn whole, however large.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "graphics/render/plot_render.h"
#include "graphics/render/render_scene.h"
#include "support/box3_subplot.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"
#include "support/room_limit.h"

namespace {

using plotlists::flat_subplot;
using plotlists::ListBuilder;
using plotlists::pack_bytes;

constexpr uint32_t kBlue = 0x0000FF, kMark = 0x123456;
const std::string kBlueStyle = "style=0x0/0,0,255", kMarkStyle = "style=0x0/18,52,86";

int count(const std::string& log, const std::string& what) {
  int n = 0;
  for (size_t p = log.find(what); p != std::string::npos; p = log.find(what, p + 1)) ++n;
  return n;
}

// Record 15 of an n x n grid of quadrilaterals (v = 4), or of hexagons cut
// into ears (v = 6), filled in their computed colour.
std::vector<double> grid_polygons(int32_t n, bool ears) {
  const int32_t side = n + 1, v = ears ? 6 : 4;
  std::vector<double> x, y, z;
  for (int32_t r = 0; r < side; ++r)
    for (int32_t c = 0; c < side; ++c) x.push_back(2.0 * c / n - 1), y.push_back(2.0 * r / n - 1), z.push_back(0.1 * x.back() * y.back());
  std::vector<int32_t> idx;
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < n; ++c) {
      const int32_t a = r * side + c;
      if (ears) idx.insert(idx.end(), {a, a + 1, a + 1, a + side + 1, a + side, a + side});
      else idx.insert(idx.end(), {a, a + 1, a + side + 1, a + side});
    }
  const uint32_t flags = 0x403 | (ears ? 0x4u : 0u);
  std::vector<double> d = {double(flags), double(v), double(x.size())};
  for (const auto* part : {&x, &y, &z}) d.insert(d.end(), part->begin(), part->end());
  d.push_back(double(idx.size() / size_t(v)));
  std::vector<double> packed(idx.size() / 2 + 1, 0.0);
  std::memcpy(packed.data(), idx.data(), idx.size() * sizeof(int32_t));
  d.insert(d.end(), packed.begin(), packed.end());
  return d;
}

// m points along a curve, planes x, y (and z), after the count.
std::vector<double> points(int32_t m, int planes) {
  std::vector<double> d = {double(m)};
  for (int p = 0; p < planes; ++p)
    for (int32_t i = 0; i < m; ++i) d.push_back(p == 0 ? 0.9 * std::cos(i * 0.01) : 0.9 * std::sin(i * 0.013 * (p + 1)));
  return d;
}

struct Case {
  const char* what;
  bool three_d;
  std::function<void(ListBuilder&)> add;  // the record under test
  std::string shape;                      // what its drawing leaves in the log
};

const std::vector<Case>& cases() {
  static const std::vector<Case> k = {
      {"circles", false,
       [](ListBuilder& b) {
         std::vector<double> d = points(3000, 2);
         d.insert(d.end(), 3000, 0.01);
         b.recv(kCodeCircles, 0, kBlue, d);
       },
       "ellipse "},
      {"ellipses", false,
       [](ListBuilder& b) {
         std::vector<double> d = points(3000, 2);
         d.insert(d.end(), 6000, 0.01);
         b.recv(kCodeEllipses, 0, kBlue, d);
       },
       "ellipse "},
      {"multi-polyline", false,
       [](ListBuilder& b) {
         std::vector<double> d = points(3000, 2);
         d.push_back(-1);
         b.recv(kCodeMultiPolyline, 0, kBlue, d);
       },
       "polyline 3000 " + kBlueStyle},
      {"image", false,
       [](ListBuilder& b) {
         std::vector<double> d = {0, 2, 2, -1, -1, 2, 2};
         for (double v : pack_bytes({0, 100, 200, 255})) d.push_back(v);
         b.recv(kCodeImage, 0, 0, d);
       },
       "image_row"},
      {"3-D curve", true, [](ListBuilder& b) { b.recv(kCodePolyline3, 0, kBlue, points(3000, 3)); },
       "polyline 2 " + kBlueStyle},
      {"surface", true, [](ListBuilder& b) { b.recv(kCodePolygons, 0, 0, grid_polygons(40, false)); },
       "polyline 3 style=0x20/"},
      {"ear-cut polygons", true, [](ListBuilder& b) { b.recv(kCodePolygons, 0, 0, grid_polygons(30, true)); },
       "polyline 3 style=0x20/"},
  };
  return k;
}

struct Room : ::testing::Test {
  recdrv::Recorder rec;
  // Draws the object; *failed tells whether the room ran out.
  std::string draw(const Case& k, bool* failed) {
    Subplot s{};
    if (k.three_d) {
      s = box3_subplot(1);
      s.hasContent = 1;
      s.optionFlags &= ~kOptFrame;
    } else {
      // Wide enough that an image row outgrows the smallest region.
      flat_subplot(&s, 0, 6000, 0, 400, -1, 1, -1, 1);
      s.optionFlags &= ~0xFFu;
    }
    ListBuilder b;
    b.open(0);
    k.add(b);
    b.rec(kCodePolyline, 0, kMark, {2, -0.5, 0.5, 0, 0});
    ScopedDrawRoom room;
    int32_t at = 0;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), &room.room, &s, &at, nullptr, nullptr, nullptr, nullptr,
                    nullptr, -1, 0, 0, 0, false, &rec.table, &rec.context, 0, 0, 0, 0.0};
    plotlist_render(&q);
    *failed = draw_room_failed(&room.room);
    return rec.take();
  }
};

TEST_F(Room, EachRecordIsDrawnWholeOrNotAtAllAndTheRoomSaysWhich) {
  for (const Case& k : cases()) {
    SCOPED_TRACE(k.what);
    bool failed = true;
    const int whole = count(draw(k, &failed), k.shape);
    ASSERT_GT(whole, 0);
    EXPECT_FALSE(failed);
    int none = 0;
    for (int64_t limit = 2048; limit <= (int64_t(16) << 20); limit *= 2) {
      SCOPED_TRACE(limit);
      const DrawRoomBound bound(limit);
      const std::string log = draw(k, &failed);
      const int drawn = count(log, k.shape);
      EXPECT_TRUE(drawn == whole || drawn == 0) << drawn << " of " << whole;
      EXPECT_EQ(failed, drawn == 0);
      none += drawn == 0;
      // The record after it does not depend on its memory (2-D; in 3-D
      // it waits in the same scene).
      if (!k.three_d) EXPECT_EQ(count(log, kMarkStyle), 1);
    }
    EXPECT_GT(none, 0) << "no bound was small enough to matter";
  }
}

// Drawing after drawing, as every step of a camera drag redraws: a room
// takes the regions the last one gave back instead of allocating (and
// faulting in) its memory afresh, also when its first request is small and
// it widens the region later, as the scene does; a region far larger than
// anything asked for goes back to the heap when the room gives back its own.
TEST(RoomReuse, ARedrawTakesTheRegionsTheLastDrawingGaveBack) {
  constexpr int64_t kBytes = int64_t(1) << 22;
  {
    ScopedDrawRoom first;
    ASSERT_NE(draw_room_take(&first.room, kRoomScene, kBytes), nullptr);
    ASSERT_NE(draw_room_doubles(&first.room, kBytes / 8), nullptr);
  }
  const int64_t fresh = draw_room_fresh_regions();
  for (int k = 0; k < 3; ++k) {
    ScopedDrawRoom again;
    ASSERT_NE(draw_room_take(&again.room, kRoomScene, kBytes - 4096 * k), nullptr);
    ASSERT_NE(draw_room_doubles(&again.room, kBytes / 8), nullptr);
  }
  EXPECT_EQ(draw_room_fresh_regions(), fresh);
  {
    ScopedDrawRoom growing;
    ASSERT_NE(draw_room_take(&growing.room, kRoomScene, 4096), nullptr);
    ASSERT_NE(draw_room_widen(&growing.room, kRoomScene, kBytes, 4096), nullptr);
  }
  EXPECT_EQ(draw_room_fresh_regions(), fresh + 1);  // the small start only
  for (int k = 0; k < 2; ++k) {
    ScopedDrawRoom small;
    ASSERT_NE(draw_room_take(&small.room, kRoomScene, 4096), nullptr);
  }
  EXPECT_EQ(draw_room_fresh_regions(), fresh + 2);  // the large one went back
}

}  // namespace
