// Legend geometry: the layout's measures with and without text measuring,
// its four corners framed and unframed on frames with y down and up, the
// strict containment the hit test relies on, and the samples drawn.
#include <gtest/gtest.h>

#include <string>

#include "graphics/render/legend_box.h"
#include "graphics/render/plot_render.h"

#include <cstring>
#include <vector>
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"

namespace {

struct Legend : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s{};
  void SetUp() override {
    plotlists::flat_subplot(&s, 0, 200, 0, 100, 0, 1, 0, 1);
    s.frameLeft = 40, s.frameRight = 190, s.frameTop = 20, s.frameBottom = 90;
  }
};

TEST_F(Legend, MeasuresWithoutTextExtent) {
  GraphicsDriver d = rec.table;
  d.text_extent = nullptr;
  LegendLayout l;
  legend_box_layout(&s, 1, 3, "abc", true, &d, &rec.context, &l);
  EXPECT_EQ(2 * l.hw, 24 + 8 + 12);  // W = maxW + sample + 1.5 gx
  EXPECT_EQ(2 * l.hh, 20 + 8);       // one top margin per line plus gy
  EXPECT_EQ(l.sample, 8);
  legend_box_layout(&s, 0, 0, nullptr, true, &d, &rec.context, &l);
  EXPECT_EQ(2 * l.hh, 8);  // no entries: gy high
}

TEST_F(Legend, CornersFramedAndUnframed) {
  struct Case {
    uint32_t corner;
    bool framed;
    bool y_up;
    double right_or_left_gap, top_or_bottom_gap;
  };
  const Case cases[] = {
      {0, true, false, 8, 8},        {0, false, false, 1, 1},      {kOptLegendLeft, true, false, 8, 8},
      {kOptLegendBottom, true, false, 8, 8}, {kOptLegendLeft | kOptLegendBottom, false, false, 1, 1},
      {0, true, true, 8, 8},         {kOptLegendBottom, false, true, 1, 1},
  };
  for (const Case& c : cases) {
    Subplot t = s;
    t.optionFlags = (t.optionFlags & ~(kOptLegendLeft | kOptLegendBottom)) | c.corner;
    if (c.y_up) std::swap(t.frameTop, t.frameBottom);
    LegendLayout l;
    legend_box_layout(&t, 2, 7, "one\ntwo", c.framed, &rec.table, &rec.context, &l);
    const bool left = c.corner & kOptLegendLeft, bottom = c.corner & kOptLegendBottom;
    if (left)
      EXPECT_EQ(l.cx - l.hw - t.frameLeft, c.right_or_left_gap);
    else
      EXPECT_EQ(t.frameRight - (l.cx + l.hw), c.right_or_left_gap);
    const double edge = bottom ? t.frameBottom : t.frameTop;
    const double near = std::fabs(edge - l.cy) - l.hh;  // gap between the box and that edge
    EXPECT_DOUBLE_EQ(near, c.top_or_bottom_gap) << c.corner << " " << c.y_up;
    EXPECT_EQ(l.lineStep, c.y_up ? -recdrv::kCharHeight : recdrv::kCharHeight);
  }
}

TEST_F(Legend, ContainmentIsStrict) {
  LegendLayout l;
  legend_box_layout(&s, 1, 3, "abc", true, &rec.table, &rec.context, &l);
  auto in = [&](double x, double y) { return legend_box_contains(&s, 1, 3, "abc", x, y, true, &rec.table, &rec.context); };
  EXPECT_TRUE(in(l.cx, l.cy));
  EXPECT_FALSE(in(l.cx + l.hw, l.cy));
  EXPECT_FALSE(in(l.cx, l.cy - l.hh));
  EXPECT_TRUE(in(l.cx + l.hw - 0.01, l.cy + l.hh - 0.01));
}

TEST_F(Legend, SamplesByStyle) {
  const double styles[] = {0x20 | 1, 0, 0x30 | 1, 0, kStyleKindCircle, 255};
  const StyleSpec frame{0, 0, 0, 0}, back{0x27, 0, 0, 0};
  rec.take();
  legend_render(&s, 3, 5, "a\nb\nc", styles, true, &frame, &back, &rec.table, &rec.context);
  const std::string log = rec.take();
  EXPECT_NE(log.find("polyline 5 style=0x27"), std::string::npos);  // back first
  EXPECT_LT(log.find("polyline 5 style=0x27"), log.find("polyline 5 style=0x0"));
  EXPECT_NE(log.find("polyline 4 style=0x21/"), std::string::npos);  // a fill square
  EXPECT_NE(log.find("polyline 2 style=0x31/"), std::string::npos);  // fill with thick: a line sample
  EXPECT_NE(log.find("polyline 1 style=0x1c0/0,0,255"), std::string::npos);  // a marker
  EXPECT_NE(log.find("\"c\""), std::string::npos);
}

}  // namespace

namespace {

// The interpreter draws a legend record only while the legend option is on.
TEST_F(Legend, DrawnByTheInterpreterWithTheOption) {
  plotlists::ListBuilder b;
  double text = 0;
  std::memcpy(&text, "abc", 3);
  b.open(0).recv(kCodeLegend, 0, 0, {0, 1, 3, 0x20 | 1, 0, text});
  auto draw = [&] {
    int32_t start = 0;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start,
                    nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table, &rec.context};
    plotlist_render(&q);
    return rec.take();
  };
  s.optionFlags &= ~0x200FFu;
  EXPECT_EQ(draw().find("\"abc\""), std::string::npos);
  s.optionFlags |= 0x20000u;
  const std::string log = draw();
  EXPECT_NE(log.find("polyline 5 style=0x27/"), std::string::npos) << log;  // the fill style behind
  EXPECT_NE(log.find("\"abc\""), std::string::npos);
}

}  // namespace
