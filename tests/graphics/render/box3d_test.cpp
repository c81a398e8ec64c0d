// The 3-D axes box through the recording driver: far sides and outline of
// the default camera, label edges, offsets and alignments, perspective and
// degenerate axes, scale factors, names, grid-only options, points behind
// the camera, a top view and a driver without text; the default view as a
// golden log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/render/render_box3d.h"
#include "support/box3_subplot.h"
#include "support/golden_file.h"
#include "support/recording_driver.h"

namespace {

constexpr StyleSpec kAxes = {0, 1, 2, 3};
constexpr StyleSpec kFrame = {kStyleKindSolidN, 4, 5, 6};
constexpr StyleSpec kFill = {kStyleBitFill | 7, 0, 0, 0};

struct Box : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s = box3_subplot(1);
  std::string frame() {
    render_box3d_frame(&s, &kAxes, &kFrame, &kFill, &rec.table, &rec.context);
    return rec.take();
  }
  std::string labels() {
    render_box3d_labels(&s, &kAxes, &kFrame, &rec.table, &rec.context);
    return rec.take();
  }
  std::string at(double x, double y, double z) {
    double px, py;
    subplot_data_to_pixel(&s, &x, &y, &z, 1, &px, &py, nullptr);
    return "(" + recdrv::num(px) + "," + recdrv::num(py) + ")";
  }
  // The text lines of a log.
  static std::vector<std::string> texts(const std::string& log) {
    std::vector<std::string> out;
    size_t p = 0;
    while ((p = log.find("text ", p)) != std::string::npos) {
      if (p == 0 || log[p - 1] == '\n') out.push_back(log.substr(p, log.find('\n', p) - p));
      p += 5;
    }
    return out;
  }
  static int count(const std::string& log, const std::string& what) {
    int n = 0;
    for (size_t p = log.find(what); p != std::string::npos; p = log.find(what, p + 1)) ++n;
    return n;
  }
};

TEST_F(Box, DefaultCameraCornersAndOutline) {
  double lo[3], hi[3], back[3], front[3], x[7], y[7], d[7];
  s.xMin = 0, s.xMax = 4, s.yMin = 1, s.yMax = 3, s.zMin = -2, s.zMax = 2;
  subplot_update_transform(&s);
  render_box3d_outline(&s, lo, hi, back, front, x, y, d);
  EXPECT_EQ(std::vector<double>(back, back + 3), (std::vector<double>{4, 3, -2}));
  EXPECT_EQ(std::vector<double>(front, front + 3), (std::vector<double>{0, 1, 2}));
  const double want[7][3] = {{0, 3, -2}, {0, 1, -2}, {4, 1, -2}, {4, 1, 2}, {4, 3, 2}, {0, 3, 2}, {0, 3, -2}};
  for (int p = 0; p < 7; ++p)
    EXPECT_EQ("(" + recdrv::num(x[p]) + "," + recdrv::num(y[p]) + ")", at(want[p][0], want[p][1], want[p][2])) << p;
  // The far edges meet at the back corner.
  const std::string log = frame();
  const std::string corner = at(4, 3, -2);
  EXPECT_EQ(count(log, "style=0x100/4,5,6 "), 3);
  EXPECT_NE(log.find("style=0x100/4,5,6 (0,3,-2)"), 0u);
  EXPECT_EQ(count(log, corner), 3);
  expect_golden(log + labels(), "box3d_default.log");
}

TEST_F(Box, LabelEdgesOffsetsAndAlignments) {
  std::memcpy(s.xLabel, "ex", 3);
  const std::string log = labels();
  const std::vector<std::string> t = texts(log);
  ASSERT_FALSE(t.empty());
  // x labels on y = yMin, z = zMin moved toward smaller y by one character.
  double ppu[3];
  const double back[3] = {1, 1, -1}, front[3] = {-1, -1, 1};
  render_box3d_pixels_per_unit(&s, back, front, ppu);
  const double oy = s.charWidth / ppu[1];
  const auto text_at = [&](double x, double y, double z) {
    std::string p = at(x, y, z);
    p = p.substr(1, p.size() - 2);
    p[p.find(',')] = ' ';
    return "text " + p + " align=";
  };
  EXPECT_NE(log.find(text_at(-1, -1 - oy, -1)), std::string::npos) << log;
  // y labels on z = zMax, x = xMax moved toward larger z; z labels on
  // x = xMin, y = yMax moved toward smaller x.
  const double oz = s.charWidth / ppu[2], ox = s.charWidth / ppu[0];
  EXPECT_NE(log.find(text_at(1, -1, 1 + oz)), std::string::npos) << log;
  EXPECT_NE(log.find(text_at(-1 - ox, 1, -1)), std::string::npos) << log;
  // The x name stands at (xMax, yMin - charWidth / ppu[y], zMin).
  EXPECT_NE(log.find(text_at(1, -1 - oy, -1) + "4 colour=- \"ex\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"ex\""), std::string::npos);
  // One alignment per axis, on the outward side: below for x here.
  EXPECT_NE(t.front().find("align=4"), std::string::npos);
}

TEST_F(Box, PerspectiveWithTheCameraLevelWithTheTarget) {
  s.orthographic = 0;
  s.viewFlags = 0;
  s.camPos[0] = 5, s.camPos[1] = 0, s.camPos[2] = 0;  // level on y and z
  s.camTarget[0] = s.camTarget[1] = s.camTarget[2] = 0;
  subplot_update_transform(&s);
  double lo[3], hi[3], back[3], front[3], x[7], y[7], d[7];
  render_box3d_outline(&s, lo, hi, back, front, x, y, d);
  EXPECT_EQ(back[0], -1);  // the viewer is on the high side of x
  EXPECT_EQ(back[1], -1);  // equal: back is the lower limit
  EXPECT_EQ(back[2], -1);
}

TEST_F(Box, AnAxisWithoutExtentHasNoTicksOfItsOwn) {
  s.zMin = s.zMax = 0.5;
  s.optionFlags |= 0x444;  // grids too
  const std::string f = frame();
  const std::string l = labels();
  EXPECT_EQ(count(f, "polyline 7 style=0x27"), 1);  // backdrop
  EXPECT_EQ(count(l, "polyline 7 style=0x0/1,2,3"), 1);  // outline
  EXPECT_GE(count(f, "polyline 2 style=0x100/4,5,6"), 3);  // far edges
  // The z bits add nothing: the same drawing as without them.
  s.optionFlags &= ~0xE00u;
  EXPECT_EQ(frame(), f);
  EXPECT_EQ(labels(), l);
  for (const std::string& t : texts(l)) EXPECT_EQ(t.find("0.5"), std::string::npos) << t;
}

TEST_F(Box, ScaleFactorsLabelDisplayValues) {
  s.scaleFactor[2] = 100;
  s.optionFlags = kOptFrame | 0x800;  // z labels only
  const std::vector<std::string> t = texts(labels());
  ASSERT_GE(t.size(), 2u);
  EXPECT_NE(t[0].find("\"-100\""), std::string::npos) << t[0];
  // The label -100 stands at z = -1, where the -1 label stood unscaled.
  s.scaleFactor[2] = 1;
  const std::vector<std::string> u = texts(labels());
  EXPECT_EQ(t[0].substr(0, t[0].find('"')), u[0].substr(0, u[0].find('"')));
  // Tick marks likewise stand at the data values of their labels.
  s.optionFlags = kOptFrame | 0x200;
  s.scaleFactor[2] = 100;
  const std::string scaled = frame();
  s.scaleFactor[2] = 1;
  EXPECT_EQ(scaled, frame());
}

TEST_F(Box, RoundingNoiseReadsZero) {
  s.xMin = s.yMin = s.zMin = -0.3;
  s.xMax = s.yMax = s.zMax = 0.3;
  subplot_update_transform(&s);
  bool zero = false;
  for (const std::string& t : texts(labels())) {
    EXPECT_EQ(t.find("e-"), std::string::npos) << t;
    zero = zero || t.find("\"0\"") != std::string::npos;
  }
  EXPECT_TRUE(zero);
}

TEST_F(Box, ASixteenByteNameWithoutItsZero) {
  std::memset(s.yLabel, 'Y', sizeof s.yLabel);
  const std::string log = labels();
  EXPECT_NE(log.find("text_extent \"YYYYYYYYYYYYYYYY\""), std::string::npos);
  EXPECT_NE(log.find("\"YYYYYYYYYYYYYYYY\"\n"), std::string::npos);
}

TEST_F(Box, GridLinesAloneOnZ) {
  s.optionFlags = kOptFrame | 0x400;
  const std::string f = frame();
  // Backdrop, three far edges, and two grid lines per major z tick.
  const int grid = count(f, "style=0x100/4,5,6") - 3;
  EXPECT_GT(grid, 0);
  EXPECT_EQ(grid % 2, 0);
  EXPECT_EQ(count(f, "style=0x0/1,2,3"), 0);  // no tick marks
  EXPECT_TRUE(texts(labels()).empty());
}

TEST_F(Box, OutlinePointsBehindTheCamera) {
  s.orthographic = 0;
  s.viewFlags = 0;
  s.camPos[0] = -3, s.camPos[1] = -2, s.camPos[2] = 1;
  std::memset(s.viewMatrix, 0, sizeof s.viewMatrix);
  s.viewMatrix[0][0] = 1, s.viewMatrix[1][1] = 1, s.viewMatrix[3][3] = 1;
  double lo[3], hi[3], back[3], front[3], x[7], y[7], d[7];
  // w = -z - 0.5: the points at z = zMin (1, 2, 3, 7) lie behind.
  s.viewMatrix[2][2] = -1, s.viewMatrix[2][3] = -0.5;
  render_box3d_outline(&s, lo, hi, back, front, x, y, d);
  for (int p : {0, 1, 2, 6}) EXPECT_EQ(x[p], x[5]) << p;
  EXPECT_TRUE(std::isfinite(x[3]) && std::isfinite(x[4]));
  // w = -x - 0.5: points 1, 2, 6, 7 (x = xMin) lie behind, 6 too.
  s.viewMatrix[2][2] = 0, s.viewMatrix[2][0] = -1;
  render_box3d_outline(&s, lo, hi, back, front, x, y, d);
  EXPECT_EQ(x[0], 0.0);
  EXPECT_EQ(y[0], 0.0);
  EXPECT_EQ(x[1], 0.0);
  EXPECT_EQ(x[5], x[4]);
  EXPECT_EQ(y[5], y[4]);
  EXPECT_EQ(x[6], x[4]);
  // The passes draw what is left without NaN.
  const std::string log = frame() + labels();
  EXPECT_EQ(log.find("nan"), std::string::npos);
}

TEST_F(Box, ATopViewSkipsTheAxisSeenEndOn) {
  s.viewFlags = 0;
  s.camPos[0] = 0, s.camPos[1] = 0, s.camPos[2] = 5;
  s.camUp[0] = 0, s.camUp[1] = 1, s.camUp[2] = 0;
  subplot_update_transform(&s);
  double ppu[3];
  const double back[3] = {-1, -1, -1}, front[3] = {1, 1, 1};
  render_box3d_pixels_per_unit(&s, back, front, ppu);
  EXPECT_TRUE(std::isnan(ppu[2]));
  std::memcpy(s.zLabel, "zed", 4);
  const std::string log = frame() + labels();
  EXPECT_EQ(log.find("zed"), std::string::npos);
  EXPECT_EQ(log.find("nan"), std::string::npos);
}

TEST_F(Box, ADriverWithoutText) {
  rec.table.draw_text = nullptr;
  const std::string f = frame();
  EXPECT_GT(count(f, "polyline"), 4);
  const std::string l = labels();
  EXPECT_EQ(l.substr(0, 10), "polyline 7");
  EXPECT_EQ(count(l, "\n"), 1);
  rec.table.draw_polyline = nullptr;
  EXPECT_EQ(frame() + labels(), "");
}

}  // namespace
