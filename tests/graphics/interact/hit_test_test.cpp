// The hit test's priority rules as one table: each case is a small list
// and the pointer, with the element that must win. The subplot maps data
// x to pixel x and data y to 100 - y, so distances are easy to read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/interact/hit_test.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/render/legend_box.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"

namespace {

using plotlists::ListBuilder;

struct Result {
  int32_t id, nb, ix;
  uint32_t flags;
};

Result hit(ListBuilder& b, Subplot& s, double px, double py, ManipState* out = nullptr) {
  recdrv::Recorder rec;
  ManipState st{};
  EXPECT_TRUE(plotlist_hit_test_section(b.d.data(), int32_t(b.d.size()), 0, 0, &s, px, py, kHitTolerance, 0, 0, &st,
                                        &rec.table, &rec.context, nullptr));
  if (out) *out = st;
  return {st.id, st.nb, st.ix, st.valid};
}

struct HitTest : ::testing::Test {
  Subplot s{};
  void SetUp() override { plotlists::flat_subplot(&s, 0, 100, 0, 100, 0, 100, 0, 100); }
};

TEST_F(HitTest, PriorityRules) {
  struct Case {
    const char* what;
    void (*build)(ListBuilder&);
    int32_t id, ix;
  };
  const Case cases[] = {
      {"20 pixels is not a hit", [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {1, 70, 50}, 1); }, -1, -1},
      {"19.99 pixels is", [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {1, 69.99, 50}, 1); }, 1, 1},
      {"the nearer point of two polylines",
       [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {2, 40, 55, 50, 50}, 1).rec(kCodePolyline, 0, 0, {1, 52, 50}, 2); },
       2, 1},
      {"equal distances keep the earlier",
       [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {1, 55, 50}, 1).rec(kCodePolyline, 0, 0, {1, 45, 50}, 2); }, 1, 1},
      {"a polyline beats a nearer line",
       [](ListBuilder& b) { b.rec(kCodeLine, 0, 0, {0, 1, 50}, 3).rec(kCodePolyline, 0, 0, {1, 60, 50}, 1); }, 1, 1},
      {"a line cannot follow a polyline",
       [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {1, 60, 50}, 1).rec(kCodeLine, 0, 0, {0, 1, 50}, 3); }, 1, 1},
      {"a polyline beats a nearer circle",
       [](ListBuilder& b) { b.rec(kCodeCircles, 0, 0, {1, 50, 60, 10}, 4).rec(kCodePolyline, 0, 0, {1, 55, 50}, 1); }, 1, 1},
      {"the nearer of a line and a circle",
       [](ListBuilder& b) { b.rec(kCodeLine, 0, 0, {0, 1, 55}, 3).rec(kCodeCircles, 0, 0, {1, 50, 58, 10}, 4); }, 4, -1},
      {"an image then a line: the image",
       [](ListBuilder& b) { b.rec(kCodeImage, 0, 0, {0, 1, 1, 0, 0, 100, 100, 0}, 5).rec(kCodeLine, 0, 0, {0, 1, 50}, 3); },
       5, -1},
      {"an image then a polyline: the polyline",
       [](ListBuilder& b) { b.rec(kCodeImage, 0, 0, {0, 1, 1, 0, 0, 100, 100, 0}, 5).rec(kCodePolyline, 0, 0, {1, 55, 50}, 1); },
       1, 1},
      {"a region, then nothing nearer",
       [](ListBuilder& b) { b.rec(kCodeActiveRegion, 0, 0, {4, 40, 60, 60, 40, 40, 40, 60, 60}, 6); }, 6, -1},
      {"outside the region", [](ListBuilder& b) { b.rec(kCodeActiveRegion, 0, 0, {3, 0, 10, 0, 0, 0, 10}, 6); }, -1, -1},
      {"id -1 is never hit", [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {1, 50, 50}, -1); }, -1, -1},
      // The state keeps 32-bit ids: a larger one (from a saved list) cannot be reported.
      {"an id beyond 32 bits is never hit", [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {1, 50, 50}, 1e10); }, -1, -1},
      {"nor is a region with one",
       [](ListBuilder& b) { b.rec(kCodeActiveRegion, 0, 0, {4, 40, 60, 60, 40, 40, 40, 60, 60}, 3e9); }, -1, -1},
      {"a count beyond the record is not hit", [](ListBuilder& b) { b.rec(kCodePolyline, 0, 0, {9, 50, 50}, 1); }, -1, -1},
      {"a bar by its end", [](ListBuilder& b) { b.rec(kCodeBars, 0, 0, {0, 10, 1, 50, 55}, 7); }, 7, 1},
      {"beside the bar", [](ListBuilder& b) { b.rec(kCodeBars, 0, 0, {0, 10, 1, 70, 50}, 7); }, -1, -1},
      // |100 / (s + 1)| at s = 50i is 100 / sqrt(2501) = 2: pointer y 50 is 48 pixels off.
      {"a response away from its curve", [](ListBuilder& b) { b.rec(19, 0, 0, {0, 1, 100, 1, 1}, 8); }, -1, -1},
      // |2500 / (s + 1)| at 50i is 49.99: within a pixel.
      {"a response at its curve", [](ListBuilder& b) { b.rec(19, 0, 0, {0, 1, 2500, 1, 1}, 8); }, 8, -1},
      {"a discrete response at its curve", [](ListBuilder& b) { b.rec(23, 0, 0, {0, 0, 0, 50, 1}, 9); }, 9, -1},
      {"a polyline beats a response",
       [](ListBuilder& b) { b.rec(19, 0, 0, {0, 1, 2500, 1, 1}, 8).rec(kCodePolyline, 0, 0, {1, 55, 50}, 1); }, 1, 1},
  };
  for (const Case& c : cases) {
    ListBuilder b;
    b.open(0);
    c.build(b);
    const Result r = hit(b, s, 50, 50);
    EXPECT_EQ(r.id, c.id) << c.what;
    EXPECT_EQ(r.ix, c.ix) << c.what;
    EXPECT_EQ(r.flags & kManipPointer, uint32_t(kManipPointer)) << c.what;
  }
}

// Only a whole id within int32 is hit; any other is skipped like a NaN one,
// in every hit-tested record kind, and never converted on the way.
TEST_F(HitTest, IdsThatAreNotWholeInt32AreNeverHit) {
  const double ids[] = {1e300, HUGE_VAL, -HUGE_VAL, NAN, 2147483648.0, 4294967296.0 + 3, 2.5, -0.5, -2147483649.0};
  const int32_t codes[] = {kCodePolyline, kCodeLine, kCodeCircles, kCodeBars, kCodeActiveRegion, 19};
  auto add = [](ListBuilder& b, int32_t code, double id) {
    switch (code) {
      case kCodePolyline: b.rec(code, 0, 0, {1, 50, 50}, id); break;
      case kCodeLine: b.rec(code, 0, 0, {0, 1, 50}, id); break;
      case kCodeCircles: b.rec(code, 0, 0, {1, 50, 58, 10}, id); break;
      case kCodeBars: b.rec(code, 0, 0, {0, 10, 1, 50, 55}, id); break;
      case kCodeActiveRegion: b.rec(code, 0, 0, {4, 40, 60, 60, 40, 40, 40, 60, 60}, id); break;
      default: b.rec(code, 0, 0, {0, 1, 2500, 1, 1}, id); break;
    }
  };
  for (int32_t code : codes) {
    for (double id : ids) {
      ListBuilder b;
      b.open(0);
      add(b, code, id);
      EXPECT_EQ(hit(b, s, 50, 50).id, -1) << "code " << code << " id " << id;
    }
    ListBuilder b;
    b.open(0);
    add(b, code, 2147483647.0);
    EXPECT_EQ(hit(b, s, 50, 50).id, INT32_MAX) << "code " << code;
  }
}

TEST_F(HitTest, PointsLinesAndTheirReportedPlaces) {
  ListBuilder b;
  b.open(0).rec(kCodeLine, 0, 0, {1, -1, 0}, 3);  // x = y
  ManipState st;
  hit(b, s, 50, 60, &st);  // data (50, 40): the foot of the perpendicular is (45, 45)
  EXPECT_EQ(st.id, 3);
  EXPECT_EQ(st.valid & kManipElementHit, uint32_t(kManipElementHit));
  EXPECT_DOUBLE_EQ(st.x0, 45);
  EXPECT_DOUBLE_EQ(st.y0, 45);
  ListBuilder p;
  p.open(0).rec(kCodePolyline3, 0, 0, {1, 50, 50, 7}, 2);
  s.is3D = 0;  // the 2-D map ignores z: the point still converts
  hit(p, s, 50, 50, &st);
  EXPECT_EQ(st.valid & (kManipPointHit | kManipZ0), uint32_t(kManipPointHit | kManipZ0));
  EXPECT_EQ(st.z0, 7);
}

TEST_F(HitTest, LegendOnlyWithItsOption) {
  ListBuilder b;
  b.open(0);
  std::vector<double> legend = {0, 1, 3, 1, 0};
  double text = 0;
  std::memcpy(&text, "abc", 3);
  legend.push_back(text);
  b.recv(kCodeLegend, 0, 0, legend);
  recdrv::Recorder rec;
  LegendLayout l{};
  s.optionFlags |= kOptFrame;
  // The box of the legend, as drawing lays it out.
  const double* t = &b.d[b.d.size() - 1];
  legend_box_layout(&s, 1, 3, reinterpret_cast<const char*>(t), true, &rec.table, &rec.context, &l);
  s.optionFlags &= ~0x20000u;
  EXPECT_EQ(hit(b, s, l.cx, l.cy).flags & kManipLegend, 0u);
  s.optionFlags |= 0x20000u;
  ManipState st;
  hit(b, s, l.cx, l.cy, &st);
  EXPECT_EQ(st.valid, uint32_t(kManipLegend));
  EXPECT_DOUBLE_EQ(st.dx, -l.hw);
  EXPECT_EQ(hit(b, s, l.cx + l.hw, l.cy).flags & kManipLegend, 0u);  // the border is outside
}

TEST_F(HitTest, SubplotWithoutContentAndSections) {
  s.hasContent = 0;
  ListBuilder b;
  b.open(0).rec(kCodePolyline, 0, 0, {1, 50, 50}, 1);
  EXPECT_EQ(hit(b, s, 50, 50).flags & kManipPointer, 0u);
  b.open(1).rec(kCodePolyline, 0, 0, {1, 50, 50}, 2);
  int32_t start = -1;
  ASSERT_TRUE(plotlist_section_start(b.d.data(), int32_t(b.d.size()), 1, &start));
  EXPECT_EQ(start, 16);
  EXPECT_TRUE(plotlist_section_start(b.d.data(), int32_t(b.d.size()), -1, &start));
  EXPECT_EQ(start, 23);
  EXPECT_FALSE(plotlist_section_start(b.d.data(), int32_t(b.d.size()), 2, &start));
  EXPECT_TRUE(hit_point_in_box(0, 0, 0, 1, 0, 1));
  EXPECT_FALSE(hit_point_in_box(0, 1, 0, 1, 0, 1));
  double x = -5, y = 50;
  EXPECT_TRUE(subplot_clamp_to_frame(&s, &x, &y));
  EXPECT_EQ(x, 0);
}

// A control under the pointer takes its place in the one walk by priority:
// it wins over the elements before it (level 0), a polyline point after it
// that is within the tolerance wins in turn, and the state is then free of
// the control's values. The press effects (the subplot tracking the slider)
// follow the winner only, and only with the start byte.
TEST_F(HitTest, ControlsTakeTheirPlaceInThePriorityWalk) {
  recdrv::Recorder rec;
  rec.quiet = true;
  auto section = [&](ListBuilder& b, double px, double py, uint8_t start_byte, ManipState* st, ControlPress* cp) {
    return plotlist_hit_test_section(b.d.data(), int32_t(b.d.size()), 0, 0, &s, px, py, kHitTolerance, 0,
                                     start_byte, st, &rec.table, &rec.context, cp);
  };
  // {min, max, row, rectangle, one thumb at 5, its colour, no label}, laid
  // out by a first press to find where it lies.
  ListBuilder lay;
  lay.open(0).rec(kCodeSlider, 0, 0, {0, 10, 0, 0, 0, 0, 0, 1, 5, 0, 0}, 7);
  ManipState st{};
  ControlPress cp;
  ASSERT_TRUE(section(lay, 1, 1, 1, &st, &cp));
  const std::vector<double> slider(lay.d.end() - 11, lay.d.end());
  ASSERT_LT(slider[3], slider[4]);
  ASSERT_LT(slider[5], slider[6]);
  const double px = (slider[3] + slider[4]) / 2, py = (slider[5] + slider[6]) / 2;
  double x, y;
  subplot_pixel_to_point(&s, px, py, &x, &y);
  auto build = [&](bool curve_first) {
    ListBuilder b;
    b.open(0);
    if (curve_first) b.rec(kCodePolyline, 0, 0, {1, x, y}, 1);
    b.recv(kCodeSlider, 0, 0, slider);
    b.d[b.d.size() - slider.size() - 5] = 7;
    if (!curve_first) b.rec(kCodePolyline, 0, 0, {1, x, y}, 1);
    return b;
  };
  struct Case {
    const char* what;
    bool curve_first;
    uint8_t start_byte;
    int32_t id;
    bool tracked;
  };
  const Case cases[] = {
      {"a curve, then the slider over it: the slider", true, 1, 7, true},
      {"the slider, then a curve through the pointer: the curve", false, 1, 1, false},
      {"a hover: the slider, tracked by nobody", true, 0, 7, false},
      {"a hover over the slider, then the curve: the curve", false, 0, 1, false},
  };
  for (const Case& k : cases) {
    ListBuilder b = build(k.curve_first);
    s.trackedId = -5;
    st = ManipState{};
    ASSERT_TRUE(section(b, px, py, k.start_byte, &st, &cp)) << k.what;
    EXPECT_EQ(st.id, k.id) << k.what;
    EXPECT_EQ(cp.hit, k.id == 7) << k.what;
    EXPECT_EQ(s.trackedId, k.tracked ? 7 : -5) << k.what;
    EXPECT_EQ(st.valid & kManipPointer, uint32_t(kManipPointer)) << k.what;
    if (k.id == 7) {
      EXPECT_EQ(st.ix, 1) << k.what;       // the thumb
      EXPECT_NEAR(st.x, 5, 1e-9) << k.what;  // the value under the pointer
      EXPECT_EQ(st.x0, 5) << k.what;
    } else {
      // The curve's point, and the pointer's own x, not the slider's value.
      EXPECT_EQ(st.valid & kManipPointHit, uint32_t(kManipPointHit)) << k.what;
      EXPECT_EQ(st.x, x) << k.what;
      EXPECT_EQ(st.x0, x) << k.what;
      EXPECT_EQ(st.ix, 1) << k.what;
    }
  }
}

}  // namespace
