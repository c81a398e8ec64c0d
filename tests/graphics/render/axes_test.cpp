// Tick choice and the axes drawn around a subplot: the rules of the tick
// steps as a table, a randomised check that every range ends with sane
// ticks, log lists, and one standard subplot's axes as a golden log.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "graphics/render/axis_ticks.h"
#include "graphics/render/plot_render.h"
#include "graphics/render/render_axes.h"
#include "support/plot_list_builder.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"

namespace {

TEST(AxisTicks, StepRules) {
  struct Case {
    double lo, hi, limit, s1, s2;
    bool ok;
    AxisTicks want;
  };
  const Case cases[] = {
      {0, 1, 1, 0.01, 0.1, true, {0, 0.02, 0, 1, 0, 0.1}},
      {3, 4.5, 4.5, 0.1, 0.5, true, {3, 0.2, 3, 1, 3, 1}},
      {3, 4.5, 4.5, 2, 0.5, true, {5, 5, 3, 10, 3, 1}},  // major step past the smallest; labels shrink to fit
      {4.5, 3, 4.5, 0.1, 0.5, true, {3, 0.2, 3, 1, 3, 1}},  // reversed ranges are ordered first
      {2, 2, 2, 0.1, 0.1, false, {2, 1, 2, 1, 2, 1}},
      {0, 1e19, 1, 0.1, 0.1, false, {5e18, 1, 5e18, 1, 5e18, 1}},
      {NAN, 1, 1, 0.1, 0.1, false, {1, 1, 1, 1, 1, 1}},
      {0.5, 0.95, 0.95, 0.001, 0.1, true, {0.5, 0.002, 0.5, 0.1, 0.5, 0.1}},  // no decade multiple inside
  };
  for (const Case& c : cases) {
    AxisTicks t{};
    EXPECT_EQ(axis_ticks(c.lo, c.hi, c.limit, c.s1, c.s2, &t, true), c.ok) << c.lo << " " << c.hi;
    const double got[6] = {t.minorFirst, t.minorStep, t.majorFirst, t.majorStep, t.labelFirst, t.labelStep};
    const double want[6] = {c.want.minorFirst, c.want.minorStep, c.want.majorFirst,
                            c.want.majorStep,  c.want.labelFirst, c.want.labelStep};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], 1e-12) << c.lo << " " << c.hi << " field " << i;
  }
}

// Any range ordered either way gives steps that divide the major step, a
// first tick inside the range and a bounded number of ticks per pixel rule.
TEST(AxisTicks, RandomRangesGiveSaneTicks) {
  std::mt19937_64 rng(21);
  std::uniform_real_distribution<double> exp10(-6, 8), unit(-1, 1);
  for (int k = 0; k < 20000; ++k) {
    const double scale = std::pow(10, exp10(rng));
    const double lo = unit(rng) * scale, hi = lo + unit(rng) * scale;
    const double span = std::fabs(hi - lo);
    const double s1 = span / (1 + 200 * std::fabs(unit(rng))), s2 = 5 * s1;
    AxisTicks t{};
    const bool ok = axis_ticks(lo, hi, std::max(lo, hi), s1, s2, &t, true);
    if (span < 1e-8) {
      EXPECT_FALSE(ok);
      continue;
    }
    ASSERT_TRUE(ok);
    const double a = std::min(lo, hi), b = std::max(lo, hi);
    EXPECT_GE(t.minorFirst, a - 1e-9 * span);
    EXPECT_LT(t.minorFirst, b + t.minorStep);
    const double ratio = t.majorStep / t.minorStep;
    EXPECT_NEAR(ratio, std::round(ratio), 1e-6);
    EXPECT_LE(span / t.minorStep, 2.0 * kMaxAxisTicks);
    EXPECT_GT(t.labelStep, 0);
  }
}

TEST(AxisLogTicks, ListsFollowTheSpacing) {
  AxisLogLists l{};
  ASSERT_TRUE(axis_log_tick_lists(1, 1e6, 1e6, 1e30, 1e30, &l));
  EXPECT_EQ(l.firstDecade, 1);
  EXPECT_EQ(l.minor[0], 1);  // list A: one tick per six decades
  EXPECT_EQ(l.minor[1], -1e6);
  ASSERT_TRUE(axis_log_tick_lists(1, 1e6, 1e6, 11, 11, &l));
  EXPECT_EQ(l.minor[1], -100);  // a decade's ratio 10 is below 11: one per two decades
  ASSERT_TRUE(axis_log_tick_lists(1, 1e6, 1e6, 9, 9, &l));
  EXPECT_EQ(l.minor[1], -10);  // one per decade
  EXPECT_EQ(l.major[1], -10);
  ASSERT_TRUE(axis_log_tick_lists(2.5, 300, 300, 1.1, 1.6, &l));
  EXPECT_EQ(l.firstDecade, 1);
  EXPECT_EQ(l.minor[1], 1.5);  // the 1, 1.5, ... list
  EXPECT_EQ(l.major[8], 9);    // fractional factors: majors at every whole factor
  EXPECT_EQ(l.label[1], 2);
  EXPECT_EQ(l.label[2], 5);
  // Refused: non-positive or non-finite ranges; reversed ranges are ordered.
  EXPECT_FALSE(axis_log_tick_lists(0, 10, 10, 2, 2, &l));
  EXPECT_FALSE(axis_log_tick_lists(-1, 10, 10, 2, 2, &l));
  EXPECT_FALSE(axis_log_tick_lists(1, INFINITY, 10, 2, 2, &l));
  EXPECT_FALSE(axis_log_tick_lists(NAN, 10, 10, 2, 2, &l));
  EXPECT_TRUE(axis_log_tick_lists(1000, 10, 10, 2, 2, &l));
  EXPECT_EQ(l.firstDecade, 10);
}

TEST(AxisLogTicks, WalkVisitsTheDecadesOnceEach) {
  AxisLogLists l{};
  ASSERT_TRUE(axis_log_tick_lists(1, 1e6, 1e6, 9, 9, &l));
  std::string got;
  auto visit = [](double v, void* c) { *static_cast<std::string*>(c) += recdrv::num(v) + " "; };
  axis_log_walk(l.minor, l.firstDecade, 1, 1e6, visit, &got);
  EXPECT_EQ(got, "1 10 100 1000 10000 100000 ");  // the walk stops at the top
  got.clear();
  axis_log_walk(axis_log_decade_list(), 1e-300, 1e-300, 1e300, visit, &got);  // bounded walk over 600 decades
  EXPECT_FALSE(got.empty());
}

TEST(AxisLabels, CompactNumbers) {
  const std::pair<double, const char*> cases[] = {{0, "0"}, {0.5, "0.5"}, {1e-5, "1e-5"}, {1000, "1000"},
                                                  {-2.5, "-2.5"}, {0.30000000000000004, "0.3"}};
  for (auto [v, want] : cases) {
    char buf[kTickLabelBytes];
    const int32_t n = axis_label_text(v, buf);
    EXPECT_EQ(std::string(buf, size_t(n)), want);
  }
}

// One subplot laid out as a figure lays it out, axes drawn around an empty
// object.
struct Axes : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s{};
  void SetUp() override {
    subplot_init_defaults(&s);
    subplot_set_char_size(&s, recdrv::kCharWidth, recdrv::kCharHeight);
    const GraphicsDriverValues& v = kScreenPaintValues;
    subplot_set_margins(&s, v.marginLeft, v.marginRight, v.marginTop, v.marginBottom);
    subplot_set_rect(&s, 0, 320, 0, 240);
    s.xMin = 0, s.xMax = 10, s.yMin = -1, s.yMax = 1;
    s.xMode = s.yMode = kAxisFixed;
    subplot_compute_transform(&s, 0, 0.0);
  }
  std::string draw() {
    plotlists::ListBuilder b;
    b.open(0);
    int32_t start = 0;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start,
                    nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table, &rec.context};
    plotlist_render(&q);
    return rec.take();
  }
  int count(const std::string& log, const std::string& what) {
    int n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  }
};

TEST_F(Axes, StandardSubplotGolden) {
  subplot_set_labels(&s, "time", 4, "value", 5, "", 0);
  expect_golden(draw(), "axes_standard.log");
}

TEST_F(Axes, GridLinesBehindTheRecordsAndPolarGrid) {
  s.optionFlags |= kOptGridX | kOptGridY;
  expect_golden(draw(), "axes_grid.log");
  s.polar = 1;
  s.xMin = -2, s.xMax = 2, s.yMin = -2, s.yMax = 2;
  subplot_compute_transform(&s, 0, 0.0);
  expect_golden(draw(), "axes_polar.log");
}

TEST_F(Axes, LabelsNeedTheMarginBitAndZeroReadsZero) {
  s.xMin = -0.3, s.xMax = 0.7;
  subplot_compute_transform(&s, 0, 0.0);
  const std::string with = draw();
  EXPECT_GT(count(with, "\"0\""), 0);
  EXPECT_EQ(count(with, "e-17"), 0);
  EXPECT_EQ(count(with, "e-16"), 0);
  s.optionFlags &= ~kOptMargin;
  const std::string without = draw();
  EXPECT_EQ(count(without, "text "), 0);
  EXPECT_EQ(count(without, "polyline"), count(with, "polyline"));
}

TEST_F(Axes, LogAxisTicksAtDecades) {
  s.scaleFlags |= kScaleLogX;
  s.xMin = 1, s.xMax = 1e6;
  subplot_compute_transform(&s, 0, 0.0);
  const std::string log = draw();
  for (const char* label : {"\"1\"", "\"10\"", "\"100\"", "\"1000\""}) EXPECT_EQ(count(log, label), 1) << label;
}

TEST_F(Axes, DegenerateAndHugeRangesEnd) {
  const double ranges[][2] = {{0, 0}, {1e300, -1e300}, {NAN, 1}, {-1e-320, 1e-320}, {0, INFINITY}};
  for (auto& r : ranges) {
    s.xMin = r[0], s.xMax = r[1];
    subplot_compute_transform(&s, 0, 0.0);
    s.optionFlags |= kOptGridX | kOptGridY;
    EXPECT_LT(count(draw(), "\n"), 4 * kMaxAxisTicks);
    s.scaleFlags |= kScaleLogX | kScaleDbY;
    EXPECT_LT(count(draw(), "\n"), 4 * kMaxAxisTicks);
    s.scaleFlags = 0;
  }
}

TEST_F(Axes, HelpersMapDataToPixels) {
  render_circle_data(&s, 5, 0, 1, nullptr, &rec.table, &rec.context);
  render_hline_data(&s, 0, nullptr, &rec.table, &rec.context);
  render_vline_data(&s, 5, nullptr, &rec.table, &rec.context);
  render_straight_line(&s, 0, 1, 0.5, nullptr, &rec.table, &rec.context);  // y = 0.5 across
  double px[2], py[2];
  const double x[2] = {5, 0}, y[2] = {0, 0.5};
  subplot_data_to_pixel(&s, x, y, nullptr, 2, px, py, nullptr);
  const std::string log = rec.take();
  EXPECT_NE(log.find("ellipse " + recdrv::num(px[0]) + " " + recdrv::num(py[0]) + " " +
                     recdrv::num(std::fabs(s.xScale)) + " " + recdrv::num(std::fabs(s.yScale))),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("(" + recdrv::num(s.frameLeft) + "," + recdrv::num(py[0]) + ")"), std::string::npos);
  EXPECT_NE(log.find("(" + recdrv::num(px[0]) + "," + recdrv::num(s.frameTop) + ")"), std::string::npos);
  EXPECT_NE(log.find("," + recdrv::num(py[1]) + ") ("), std::string::npos);
  s.scaleFlags = kScaleLogX;
  render_straight_line(&s, 0, 1, 0.5, nullptr, &rec.table, &rec.context);
  EXPECT_EQ(rec.take(), "");
}

}  // namespace
