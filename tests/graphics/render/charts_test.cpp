// The control-design charts: their point generators against the curves they
// stand for, the cases of each renderer through the recording driver, the
// records 47-54 through the interpreter (drawn only with the grid bits), and
// golden logs of the four charts with their fine lines.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "graphics/render/plot_render.h"
#include "graphics/render/render_charts.h"
#include "support/golden_file.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(ChartPoints, NaturalFrequencyCurve) {
  double x[kChartCurvePoints], y[kChartCurvePoints];
  chart_zgrid_wn_points(kPi / 2, x, y);
  EXPECT_NEAR(x[0], 0, 1e-15);
  EXPECT_EQ(y[0], 1);
  EXPECT_EQ(x[15], std::exp(-kPi / 2));
  EXPECT_EQ(y[15], 0);
  // Each point is e^(s) of s on the circle |s| = w in the left half-plane.
  for (int k = 1; k <= 14; ++k) {
    const double a = k * kPi / 30, re = -kPi / 2 * std::sin(a), im = kPi / 2 * std::cos(a);
    EXPECT_NEAR(x[k], std::exp(re) * std::cos(im), 1e-15);
    EXPECT_NEAR(y[k], std::exp(re) * std::sin(im), 1e-15);
  }
}

TEST(ChartPoints, DampingSpiral) {
  double x[kChartSpiralMax], y[kChartSpiralMax];
  EXPECT_EQ(chart_zgrid_zeta_points(1.2, x, y), 0);
  EXPECT_EQ(chart_zgrid_zeta_points(-0.1, x, y), 0);
  EXPECT_EQ(chart_zgrid_zeta_points(NAN, x, y), 0);
  ASSERT_EQ(chart_zgrid_zeta_points(1, x, y), 2);
  EXPECT_EQ(x[0], 0);
  EXPECT_EQ(x[1], 1);
  for (double z : {0.0, 0.1, 0.5, 0.9, 0.9999}) {
    const int32_t n = chart_zgrid_zeta_points(z, x, y);
    ASSERT_GE(n, 3) << z;
    ASSERT_LE(n, kChartSpiralMax) << z;
    EXPECT_EQ(x[0], 1);
    EXPECT_EQ(y[n - 1], 0) << z;  // ends on the real axis
    const double rho = std::exp(-0.05 * z / std::sqrt(1 - z * z));
    for (int32_t k = 1; k + 1 < n; ++k) {
      EXPECT_GE(y[k], 0) << z;
      EXPECT_NEAR(std::hypot(x[k], y[k]), std::pow(rho, k), 1e-12) << z;
    }
  }
}

TEST(ChartPoints, SpacingPeriodsAndNicholsCurves) {
  EXPECT_DOUBLE_EQ(chart_sgrid_spacing(20), 10 * kPi);
  EXPECT_DOUBLE_EQ(chart_sgrid_spacing(0.02), kPi / 100);
  EXPECT_EQ(chart_sgrid_spacing(0), 0);
  EXPECT_EQ(chart_sgrid_spacing(INFINITY), 0);
  int32_t k0, k1;
  ASSERT_TRUE(chart_ngrid_periods(-30, 0, &k0, &k1));
  EXPECT_EQ(k0, 0);
  EXPECT_EQ(k1, 4);  // ceil(30 / 2 pi) = 5, five periods at most
  ASSERT_TRUE(chart_ngrid_periods(-10, -7, &k0, &k1));
  EXPECT_EQ(k0, 1);
  EXPECT_EQ(k1, 2);
  EXPECT_FALSE(chart_ngrid_periods(-1e300, 0, &k0, &k1));
  EXPECT_FALSE(chart_ngrid_periods(NAN, 0, &k0, &k1));
  EXPECT_FALSE(chart_ngrid_periods(1, 1, &k0, &k1));
  double ph[kChartCurvePoints], g[kChartCurvePoints];
  EXPECT_EQ(chart_ngrid_mcurve_points(1, 0.4, ph, g), 0);
  // Every point of a curve M has closed-loop magnitude |L / (1 + L)| = M.
  for (double m : {4.0, 2.0, std::sqrt(2.0), 0.5, 0.25}) {
    ASSERT_EQ(chart_ngrid_mcurve_points(m, 2, ph, g), kChartCurvePoints);
    for (int i = 0; i < kChartCurvePoints; ++i) {
      const double re = g[i] * std::cos(ph[i]), im = g[i] * std::sin(ph[i]);
      EXPECT_NEAR(std::hypot(re, im) / std::hypot(1 + re, im), m, 1e-12 * m) << m << " " << i;
    }
  }
  ASSERT_EQ(chart_ngrid_mcurve_points(1, 2, ph, g), kChartCurvePoints);
  for (int i = 0; i < kChartCurvePoints; ++i) {
    const double re = g[i] * std::cos(ph[i]), im = g[i] * std::sin(ph[i]);
    EXPECT_NEAR(re, -0.5, 1e-12);
    EXPECT_NEAR(std::hypot(re, im) / std::hypot(1 + re, im), 1, 1e-12);
  }
}

struct Charts : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s{};
  void limits(double x0, double x1, double y0, double y1) {
    subplot_init_defaults(&s);
    subplot_set_char_size(&s, recdrv::kCharWidth, recdrv::kCharHeight);
    const GraphicsDriverValues& v = kScreenPaintValues;
    subplot_set_margins(&s, v.marginLeft, v.marginRight, v.marginTop, v.marginBottom);
    subplot_set_rect(&s, 0, 320, 0, 240);
    s.xMin = x0, s.xMax = x1, s.yMin = y0, s.yMax = y1;
    s.xMode = s.yMode = kAxisFixed;
    subplot_compute_transform(&s, 0, 0.0);
  }
  int count(const std::string& log, const std::string& what) {
    int n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  }
  std::string draw(plotlists::ListBuilder& b) {
    int32_t start = 0;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &start,
                    nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table, &rec.context};
    plotlist_render(&q);
    return rec.take();
  }
};

TEST_F(Charts, HgridCirclesInRange) {
  limits(-2, 2, -2, 2);  // s = 0.8
  const StyleSpec st{kStyleKindSolidN, 204, 204, 204};
  render_hgrid(&s, true, &st, &rec.table, &rec.context);
  const std::string log = rec.take();
  // Unit circle, the pair of radius 20/9, the 90-degree circle, the phase
  // circles of 30, 20 and 10 degrees (radius above 0.8) in pairs.
  EXPECT_EQ(count(log, "ellipse "), 1 + 2 + 1 + 6);
  EXPECT_EQ(count(log, "polyline "), 2);  // y = 0 and x = -0.5
  render_hgrid(&s, false, &st, &rec.table, &rec.context);
  const std::string plain = rec.take();
  EXPECT_EQ(count(plain, "ellipse "), 1);
  EXPECT_EQ(count(plain, "polyline "), 1);
}

TEST_F(Charts, ZgridDampingCurvesAndSgridCircles) {
  limits(-1.1, 1.1, -1.1, 1.1);
  const StyleSpec st{kStyleKindSolidN, 0, 0, 0};
  render_zgrid(&s, 4, 0, true, &st, &rec.table, &rec.context);
  const std::string four = rec.take();
  // 0.25, 0.5 and 0.75 (1.0 is excluded), each in runs drawn twice.
  int runs = 0;
  double x[kChartSpiralMax], y[kChartSpiralMax];
  for (double z : {0.25, 0.5, 0.75}) runs += (chart_zgrid_zeta_points(z, x, y) - 1 + 14) / 15;
  EXPECT_EQ(count(four, "polyline "), 2 * runs);
  EXPECT_EQ(count(four, "ellipse "), 1);
  render_sgrid_ray(&s, 0, &st, &rec.table, &rec.context);
  EXPECT_EQ(count(rec.take(), "polyline 2 "), 1);  // the imaginary axis
  render_zgrid_zeta(&s, 1.2, &st, &rec.table, &rec.context);
  EXPECT_EQ(rec.take(), "");
  limits(-20, 0, -10, 10);
  double xlo, xhi;
  subplot_visible_xrange(&s, &xlo, &xhi);
  render_sgrid(&s, 0, 2, true, &st, &rec.table, &rec.context);
  const std::string circles = rec.take();
  EXPECT_EQ(count(circles, "ellipse "), 2);
  const double d = chart_sgrid_spacing(std::fabs(xlo));
  EXPECT_DOUBLE_EQ(d, 10 * kPi);
  EXPECT_NE(circles.find(recdrv::num(std::fabs(5 * kPi * s.xScale))), std::string::npos);
}

TEST_F(Charts, RecordsNeedTheGridBitsAndNonFiniteValuesDrawNothing) {
  limits(-1.1, 1.1, -1.1, 1.1);
  plotlists::ListBuilder b;
  b.open(0).rec(47, 8, 0, {}).rec(51, 8, 0, {kPi / 2}).rec(54, 8, 0, {NAN}).rec(52, 8, 0, {INFINITY});
  const std::string without = draw(b);
  s.optionFlags |= 0x2000;
  const std::string with = draw(b);
  EXPECT_EQ(count(with, "ellipse ") - count(without, "ellipse "), 1);  // the unit circle
  EXPECT_EQ(count(without, "polyline 16 "), 2);                        // the value record alone
}

TEST_F(Charts, GoldenLogsOfTheFourCharts) {
  const struct {
    int32_t code;
    double x0, x1, y0, y1;
    const char* golden;
  } rows[] = {
      {47, -1.1, 1.1, -1.1, 1.1, "chart_zgrid.log"},
      {48, -5, 1, -3, 3, "chart_sgrid.log"},
      {49, -2, 2, -2, 2, "chart_hgrid.log"},
      {50, -7, 0, 0.1, 4, "chart_ngrid.log"},
  };
  for (const auto& r : rows) {
    limits(r.x0, r.x1, r.y0, r.y1);
    s.optionFlags |= 0x6000;
    plotlists::ListBuilder b;
    b.open(0).rec(r.code, 8, 0, {});
    expect_golden(draw(b), r.golden);
  }
}

}  // namespace
