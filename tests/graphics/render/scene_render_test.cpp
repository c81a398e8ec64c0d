// The interpreter's 3-D pass: facet lighting and colours from polygon
// records, ear and fan cuts, records fed to the scene and drawn through the
// recording driver, damaged polygon records, and a lit surface as a golden log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/render/plot_render.h"
#include "support/room_limit.h"
#include "graphics/render/render_scene.h"
#include "support/golden_file.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"
#include "support/box3_subplot.h"

namespace {

using plotlists::ListBuilder;

// Record 15's data: flags, v, m, x, y, z, extra (values, colours, range), p, indices.
std::vector<double> polygons(uint32_t flags, int32_t v, const std::vector<double>& x, const std::vector<double>& y,
                             const std::vector<double>& z, const std::vector<double>& extra,
                             const std::vector<int32_t>& idx) {
  std::vector<double> d = {double(flags), double(v), double(x.size())};
  d.insert(d.end(), x.begin(), x.end());
  d.insert(d.end(), y.begin(), y.end());
  d.insert(d.end(), z.begin(), z.end());
  d.insert(d.end(), extra.begin(), extra.end());
  d.push_back(v ? double(idx.size() / size_t(v)) : 0.0);
  std::vector<double> packed(idx.size() / 2 + 1, 0.0);
  std::memcpy(packed.data(), idx.data(), idx.size() * sizeof(int32_t));
  d.insert(d.end(), packed.begin(), packed.end());
  return d;
}

struct Facets : ::testing::Test {
  ListBuilder b;
  SceneDrawContext c{};
  PolygonLayout p{};
  std::vector<double> map = {0, 1, 0, 0, 0, 1};  // two entries: black, then (1, 0, 1)
  int32_t material = -1;
  void with_lights(const std::vector<double>& lights) {
    lights_ = lights;
    c.lights = lights_.empty() ? nullptr : lights_.data();
    c.light_count = int32_t(lights_.size() / 6);
  }
  void layout(uint32_t flags, const std::vector<double>& extra, const std::vector<double>& z = {0, 0, 0}) {
    b.recv(kCodePolygons, 0, 0, polygons(flags, 3, {0, 1, 0}, {0, 0, 1}, z, extra, {0, 1, 2}));
    c.list = b.d.data();
    c.length = int32_t(b.d.size());
    // The record is the last one.
    PlotReader r;
    plotreader_init(&r, c.list, c.length, 0);
    PlotRecord rec{}, next{};
    while (plotreader_next(&r, &next)) rec = next;
    ASSERT_TRUE(polygon_layout(rec, &p));
  }
  std::vector<double> lights_;
};

TEST_F(Facets, LightingFactor) {
  layout(kPolyFillComputed, {});
  EXPECT_EQ(render_facet_light(&c, p, 0, true, -1), 1.0);  // no lights
  const double s60 = std::sin(M_PI / 3), c60 = std::cos(M_PI / 3);
  struct Case {
    std::vector<double> lights;
    bool front;
    double want;
  };
  const Case cases[] = {
      {{0, 0, 1, 1, 1, 1}, true, 1.0},                  // along the normal: 0.2 + 0.8
      {{s60, 0, c60, 1, 1, 1}, true, 0.6},              // at 60 degrees
      {{0, 0, 1, 1, 1, 1}, false, 0.2},                 // a back facet's normal turns away
      {{0, 0, -1, 1, 1, 1}, false, 1.0},
      {{0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 0, 0}, true, 1.0},  // capped at 1
      {{0, 0, NAN, 1, 1, 1}, true, 0.2},
      {{0, 0, 1, 1, 1}, true, 1.0},                     // five doubles: no light
  };
  for (const Case& k : cases) {
    with_lights(k.lights);
    EXPECT_NEAR(render_facet_light(&c, p, 0, k.front, -1), k.want, 1e-12) << k.lights.size();
  }
}

TEST_F(Facets, MaterialAndDegeneratePolygons) {
  b.rec(kCodeMaterial, 0, 0, {0.3, 0.5, 1, 3, 1});  // at 0
  b.rec(kCodeMaterial, 0, 0, {0.9});                // at 11: too short, counts as none
  b.rec(kCodeMaterial, 0, 0, {NAN, 0.5});           // at 18
  layout(kPolyFillComputed, {});
  with_lights({0, 0, 1, 1, 1, 1});
  EXPECT_NEAR(render_facet_light(&c, p, 0, true, 0), 0.8, 1e-12);
  EXPECT_NEAR(render_facet_light(&c, p, 0, true, 11), 1.0, 1e-12);
  EXPECT_EQ(render_facet_light(&c, p, 0, true, 18), 0.0);  // NaN counts as 0
  EXPECT_NEAR(render_facet_light(&c, p, 0, true, 3), 1.0, 1e-12);  // not a record start: none
  // Collinear corners: no normal, only the ambient term.
  ListBuilder d;
  d.recv(kCodePolygons, 0, 0, polygons(kPolyFillComputed, 3, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {}, {0, 1, 2}));
  PlotReader r;
  plotreader_init(&r, d.d.data(), int32_t(d.d.size()), 0);
  PlotRecord rec;
  ASSERT_TRUE(plotreader_next(&r, &rec));
  PolygonLayout q;
  ASSERT_TRUE(polygon_layout(rec, &q));
  EXPECT_NEAR(render_facet_light(&c, q, 0, true, -1), 0.2, 1e-12);
}

TEST_F(Facets, ComputedColours) {
  c.map_m = 2, c.map_r = map.data(), c.map_g = map.data() + 2, c.map_b = map.data() + 4;
  uint8_t rgb[3];
  // Mean z 0.6 without a range: the map's upper entry, dimmed by L.
  layout(kPolyFillComputed, {}, {0.3, 0.6, 0.9});
  render_facet_colour(&c, p, 0, 0.5, rgb);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{128, 0, 128}));
  // With a range 0..4 the same mean normalises to 0.15: the lower entry.
  b.d.clear();
  layout(kPolyFillComputed | kPolyRange, {0, 4}, {0.3, 0.6, 0.9});
  render_facet_colour(&c, p, 0, 1.0, rgb);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{0, 0, 0}));
  // RGB per vertex: the channels' means, floor(c L 255.9999), clamped.
  b.d.clear();
  layout(kPolyFillComputed | kPolyRgb, {1, 0, 0.5, 0, 0, 0, 2, 2, -1});
  render_facet_colour(&c, p, 0, 1.0, rgb);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{127, 0, 255}));
  // One uniform value through the map.
  b.d.clear();
  layout(kPolyFillComputed | kPolyValues | kPolyUniform, {0.9});
  render_facet_colour(&c, p, 0, 1.0, rgb);
  EXPECT_EQ(std::vector<int>(rgb, rgb + 3), (std::vector<int>{255, 0, 255}));
}

TEST(PolygonRecords, DamagedRecordsAreRefusedOrSkipped) {
  struct Case {
    std::vector<double> d;
    bool ok;
  };
  const std::vector<double> good = polygons(0x403, 3, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}, {}, {0, 1, 2});
  std::vector<double> many = good;
  many[3 + 9] = 1e9;  // polygon count beyond the record
  std::vector<double> frac = good;
  frac[2] = 2.5;
  std::vector<double> ranged = polygons(0x413, 3, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}, {}, {0, 1, 2});
  ranged.resize(ranged.size() - 2);  // the range eats p: the indices no longer fit
  const Case cases[] = {{good, true}, {many, false}, {frac, true}, {ranged, false}, {{3, 3}, false}, {{}, false}};
  for (const Case& k : cases) {
    ListBuilder b;
    b.recv(kCodePolygons, 0, 0, k.d);
    PlotReader r;
    plotreader_init(&r, b.d.data(), int32_t(b.d.size()), 0);
    PlotRecord rec;
    ASSERT_TRUE(plotreader_next(&r, &rec));
    PolygonLayout p;
    EXPECT_EQ(polygon_layout(rec, &p), k.ok) << k.d.size();
  }
  // A vertex number at or beyond m makes its polygon invalid.
  ListBuilder b;
  b.recv(kCodePolygons, 0, 0, polygons(3, 3, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}, {}, {0, 1, 2, 0, 1, 3, -1, 0, 1}));
  PlotReader r;
  plotreader_init(&r, b.d.data(), int32_t(b.d.size()), 0);
  PlotRecord rec;
  ASSERT_TRUE(plotreader_next(&r, &rec));
  PolygonLayout p;
  ASSERT_TRUE(polygon_layout(rec, &p));
  EXPECT_TRUE(polygon_valid(p, 0));
  EXPECT_FALSE(polygon_valid(p, 1));
  EXPECT_FALSE(polygon_valid(p, 2));
  EXPECT_FALSE(polygon_valid(p, 3));
}

// Cuts of one polygon into the scene: the triangles' corners and edge bits.
struct Cuts : ::testing::Test {
  std::vector<double> mem = std::vector<double>(4096);
  Scene* s = scene_init(mem.data(), int64_t(mem.size()) * 8, 0);
  std::string cut(int32_t v, const std::vector<double>& px, const std::vector<double>& py, bool ears) {
    std::vector<int32_t> idx(static_cast<size_t>(v));
    for (int32_t i = 0; i < v; ++i) idx[size_t(i)] = i;
    std::vector<double> zero(px.size(), 0.0);
    ListBuilder b;
    b.recv(kCodePolygons, 0, 0, polygons(3, v, px, py, zero, {}, idx));
    PlotReader r;
    plotreader_init(&r, b.d.data(), int32_t(b.d.size()), 0);
    PlotRecord rec;
    plotreader_next(&r, &rec);
    PolygonLayout p;
    polygon_layout(rec, &p);
    PolygonTarget t{0, -1, 0, px.data(), py.data(), zero.data(), 1, 1};
    std::vector<double> work(static_cast<size_t>(3 * v));
    if (ears)
      polygon_ears(s, t, p, 0, v, work.data());
    else
      polygon_fan(s, t, p, 0, v);
    std::string out;
    for (int32_t i = 0; i < s->count; ++i) {
      const ScenePrim* q = scene_prim(s, i);
      for (int k = 0; k < 3; ++k) out += recdrv::num(q->x[k]) + "," + recdrv::num(q->y[k]) + " ";
      for (int k = 0; k < 3; ++k) out += q->edge[k] == kSceneEdgeDrawn ? "D" : "h";
      out += ";";
    }
    return out;
  }
};

TEST_F(Cuts, FansFromTheFirstVertex) {
  EXPECT_EQ(cut(3, {0, 1, 0}, {0, 0, 1}, false), "0,0 1,0 0,1 DDD;");
  s->count = 0;
  EXPECT_EQ(cut(5, {0, 2, 3, 1, -1}, {0, 0, 2, 3, 2}, false),
            "0,0 2,0 3,2 DDh;0,0 3,2 1,3 hDh;0,0 1,3 -1,2 hDD;");
}

TEST_F(Cuts, EarsCutAConcavePolygon) {
  // An arrow from its tip: the fan's first triangle would fill the notch
  // outside the polygon; ears keep inside it.
  EXPECT_EQ(cut(4, {4, 1, 0, 0}, {0, 1, 4, 0}, false), "4,0 1,1 0,4 DDh;4,0 0,4 0,0 hDD;");
  s->count = 0;
  EXPECT_EQ(cut(4, {4, 1, 0, 0}, {0, 1, 4, 0}, true), "0,0 4,0 1,1 DDh;1,1 0,4 0,0 DDh;");
  // Clockwise the same way.
  s->count = 0;
  EXPECT_EQ(cut(4, {4, 0, 0, 1}, {0, 0, 4, 1}, true), "1,1 4,0 0,0 DDh;0,0 0,4 1,1 DDh;");
}

TEST_F(Cuts, EarCuttingStopsWhenTheSceneIsFull) {
  std::vector<double> small(int((48 + 96) / 8) + 1);
  s = scene_init(small.data(), 48 + 96, 0);
  ASSERT_EQ(s->capacity, 1);
  cut(6, {0, 2, 3, 2, 0, -1}, {0, 0, 1, 2, 2, 1}, true);
  EXPECT_EQ(s->count, 1);
}

// The interpreter draws a 3-D object: the box, the scene, the late pass.
struct Render3d : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s = box3_subplot(1);
  ScopedDrawRoom room;
  std::string draw(ListBuilder& b, bool framed) {
    int32_t at = 0;
    s.hasContent = 1;
    if (!framed) s.optionFlags &= ~kOptFrame;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), &room.room, &s, &at, nullptr,
                    nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table, &rec.context, 0, 0, 0, 0.0};
    plotlist_render(&q);
    return rec.take();
  }
};

TEST_F(Render3d, RecordsReachTheSceneAndAreDrawnFarToNear) {
  ListBuilder b;
  b.open(0);
  b.rec(kCodePolyline, 0, 0xFF0000, {2, -1, 1, -1, 1});  // z = 0 plane
  b.rec(kCodePolyline3, kStyleKindCircle, 0x00FF00, {2, 0, 0, 0, 0, -1, 1});
  b.rec(kCodeLine3, 0, 0x0000FF, {1, 0, 0, 0.5, 0, 1, 0, 0});  // x = 0.5, y = 0
  b.recv(kCodeTextAt3, 0, 0, {0, 0, 1, double(kAlignLeft), 2, 0});
  std::memcpy(&b.d.back(), "hi", 2);
  b.rec(18, 0, 0, {112, 3, 0, 0, 0, 0, 0, 1});  // a sensor: never drawn
  const std::string log = draw(b, false);
  EXPECT_EQ(log.find("polyline 7"), std::string::npos);  // no box without the frame
  EXPECT_NE(log.find("text "), std::string::npos);
  EXPECT_NE(log.find("\"hi\""), std::string::npos);
  expect_golden(log, "scene_records.log");
}

// Text at a 3-D point draws only when its bytes lie in its record and its
// point projects to a finite pixel.
TEST_F(Render3d, TextMustLieInItsRecord) {
  const double bytes = plotlists::pack_bytes({'o', 'k'})[0];
  struct Case {
    std::vector<double> data;
    bool drawn;
  };
  const Case cases[] = {{{0, 0, 1, 1, 2, bytes}, true},
                        {{0, 0, 1, 1, 9, bytes}, false},  // 9 bytes in one double
                        {{0, 0, 1, 1, -1, bytes}, false},
                        {{0, 0, NAN, 1, 2, bytes}, false},
                        // Beyond single precision but not NaN: drawn, far off the frame.
                        {{0, 0, 1e300, 1, 2, bytes}, true},
                        {{0, 0, 1, -1, 2, bytes}, false},  // no alignment
                        {{0, 0, 1, 1}, false}};
  for (const Case& k : cases) {
    ListBuilder b;
    b.open(0).recv(kCodeTextAt3, 0, 0, k.data);
    EXPECT_EQ(draw(b, false).find("text ") != std::string::npos, k.drawn) << k.data.size() << " " << k.data[2];
  }
}

int fills(const std::string& log) {
  int n = 0;
  for (size_t p = log.find("polyline 3 style=0x20/"); p != std::string::npos; p = log.find("polyline 3 style=0x20/", p + 1))
    ++n;
  return n;
}

// Culling flags, fans and ears, and polygons that add nothing, counted as
// the filled triangles the interpreter draws.
TEST_F(Render3d, PolygonsByFlags) {
  // A square in z = 0 seen from above (front), and an arrow for the ears.
  const std::vector<double> square = {-1, 1, 1, -1, -1, -1, 1, 1, 0, 0, 0, 0};
  const std::vector<double> arrow = {1, -0.5, -1, -1, -1, -0.5, 1, -1, 0, 0, 0, 0};
  struct Case {
    uint32_t flags;
    int32_t v;
    std::vector<double> xyz;
    std::vector<int32_t> idx;
    int want;
  };
  const Case cases[] = {
      {0x401, 4, square, {0, 1, 2, 3}, 2},     // front faces kept
      {0x402, 4, square, {0, 1, 2, 3}, 0},     // only back faces kept
      {0x402, 4, square, {3, 2, 1, 0}, 2},     // the other winding is a back face
      {0x403, 2, square, {0, 1, 2, 3}, 0},     // two-vertex polygons add nothing
      {0x403, 4, square, {0, 1, 2, 4}, 0},     // a vertex number beyond m
      {0x407, 4, arrow, {0, 1, 2, 3}, 2},      // ears
      {0x403, 3, square, {0, 1, 2, 0, 2, 3}, 2},
      {0x003, 4, square, {0, 1, 2, 3}, 0},     // nothing to fill
  };
  for (const Case& k : cases) {
    ListBuilder b;
    b.open(0).recv(kCodePolygons, 0, 0, polygons(k.flags, k.v, {k.xyz.begin(), k.xyz.begin() + 4},
                                                {k.xyz.begin() + 4, k.xyz.begin() + 8}, {k.xyz.begin() + 8, k.xyz.end()},
                                                {}, k.idx));
    EXPECT_EQ(fills(draw(b, false)), k.want) << std::hex << k.flags << " " << k.idx[0];
  }
}

// The scene has its own region of the room: a bound that leaves no room
// for it draws none of the square's two facets and says so; without one
// both are drawn.
TEST_F(Render3d, TheRoomBoundsTheScene) {
  ListBuilder b;
  b.open(0).recv(kCodePolygons, 0, 0, polygons(0x403, 4, {-1, 1, 1, -1}, {-1, -1, 1, 1}, {0, 0, 0, 0}, {}, {0, 1, 2, 3}));
  struct Case {
    int64_t limit;
    int want;
  };
  for (const Case& k : {Case{8192, 0}, Case{0, 2}}) {
    const DrawRoomBound limit(k.limit);
    room.room.refused = 0;
    EXPECT_EQ(fills(draw(b, false)), k.want) << k.limit;
    EXPECT_EQ(draw_room_failed(&room.room), k.want == 0) << k.limit;
    draw_room_release(&room.room);
  }
}

// Lines of the log that draw in the given colour, and the segments they hold.
struct Calls {
  int calls = 0, segments = 0;
};
Calls curve_calls(const std::string& log, const std::string& colour) {
  Calls c;
  for (size_t p = log.find("polyline "); p != std::string::npos; p = log.find("polyline ", p + 1)) {
    const size_t end = log.find('\n', p);
    const std::string line = log.substr(p, end - p);
    if (line.find("style=0x0/" + colour + " ") == std::string::npos) continue;
    ++c.calls;
    c.segments += std::stoi(line.substr(9)) - 1;
  }
  return c;
}

// A helix of many turns crosses itself all over its projection, yet its
// segments reach the driver joined, a few polylines in all, and the walk
// examines no pair of them.
TEST_F(Render3d, ACurveGoesToTheDriverJoined) {
  const int n = 3000;
  std::vector<double> d = {double(n)};
  for (int axis = 0; axis < 3; ++axis)
    for (int i = 0; i < n; ++i) {
      const double t = 20 * M_PI * i / (n - 1);
      d.push_back(axis == 0 ? 0.9 * std::cos(t) : axis == 1 ? 0.9 * std::sin(t) : -0.9 + 1.8 * i / (n - 1));
    }
  ListBuilder b;
  b.open(0).recv(kCodePolyline3, 0, 0xFF0000, d);
  const Calls c = curve_calls(draw(b, false), "255,0,0");
  EXPECT_GE(c.segments, n - 1);
  EXPECT_LE(c.calls, 2);
  EXPECT_EQ(scene_last_stats().tested, 0);
}

// The pieces a log draws, in no order: each segment of a line (its ends
// sorted) and each point of a marker polyline, with its style.
std::vector<std::string> pieces(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("polyline ", 0) != 0) continue;
    const size_t open = line.find(" (");
    const std::string style = line.substr(line.find("style="), open - line.find("style="));
    std::vector<std::string> pts;
    for (size_t p = line.find('(', open); p != std::string::npos; p = line.find('(', p + 1))
      pts.push_back(line.substr(p, line.find(')', p) + 1 - p));
    const bool markers = style.find("style=0x0/") == std::string::npos;
    if (markers || pts.size() == 1) {
      for (const std::string& q : pts) out.push_back(style + " " + q);
      continue;
    }
    for (size_t i = 1; i < pts.size(); ++i)
      out.push_back(style + " " + std::min(pts[i - 1], pts[i]) + std::max(pts[i - 1], pts[i]));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A curve that is all of its object's scene needs no ordering and goes to
// the driver without the scene: the same polylines, point for point, as
// when another record (an empty text far off the frame) makes a scene of
// it. Gaps at NaN, markers, the plane z = 0 and points behind a camera
// in perspective break the runs alike; a point far along the view
// direction, its depth beyond single precision, is drawn by both (only
// NaN drops a point); the scene may draw the runs in another order, which in
// one colour changes no pixel.
TEST_F(Render3d, ACurveAloneDrawsAsItWouldInTheScene) {
  struct Case {
    const char* name;
    int32_t code;
    uint32_t style;
    uint8_t orthographic;
    int n;
    int nan_every;
    int far_at;  // the point moved far along the view direction (-1: none)
  };
  const Case cases[] = {{"helix", kCodePolyline3, 0, 1, 2000, 0, -1},
                        {"gaps", kCodePolyline3, 0, 1, 700, 97, -1},
                        {"markers", kCodePolyline3, kStyleKindCircle, 1, 300, 41, -1},
                        {"plane", kCodePolyline, 0, 1, 500, 0, -1},
                        {"perspective", kCodePolyline3, 0, 0, 900, 0, -1},
                        {"far", kCodePolyline3, 0, 1, 40, 0, 17},
                        {"far markers", kCodePolyline3, kStyleKindCircle, 1, 40, 0, 17}};
  for (const Case& k : cases) {
    const int planes = k.code == kCodePolyline3 ? 3 : 2;
    std::vector<double> d = {double(k.n)};
    for (int axis = 0; axis < planes; ++axis)
      for (int i = 0; i < k.n; ++i) {
        const double t = 12 * M_PI * i / (k.n - 1);
        // In perspective the curve runs out to 40 units, past the camera.
        const double r = k.orthographic ? 0.9 : 40.0 * i / (k.n - 1);
        double v = axis == 0 ? r * std::cos(t) : axis == 1 ? r * std::sin(t) : -0.9 + 1.8 * i / (k.n - 1);
        if (k.nan_every && i % k.nan_every == 5) v = NAN;
        d.push_back(v);
      }
    s = box3_subplot(k.orthographic);
    if (k.far_at >= 0) {
      // Along the view direction, the data step that moves neither pixel
      // coordinate (across their gradients), to a depth of 1e39.
      double gx[3], gy[3], gd[3];
      for (int a = 0; a < 3; ++a) {
        const double o[3] = {0, 0, 0};
        double e[3] = {0, 0, 0};
        e[a] = 1;
        double p0[3], p1[3];
        subplot_data_to_pixel(&s, &o[0], &o[1], &o[2], 1, &p0[0], &p0[1], &p0[2]);
        subplot_data_to_pixel(&s, &e[0], &e[1], &e[2], 1, &p1[0], &p1[1], &p1[2]);
        gx[a] = p1[0] - p0[0], gy[a] = p1[1] - p0[1], gd[a] = p1[2] - p0[2];
      }
      const double v[3] = {gx[1] * gy[2] - gx[2] * gy[1], gx[2] * gy[0] - gx[0] * gy[2], gx[0] * gy[1] - gx[1] * gy[0]};
      const double scale = 1e39 / (gd[0] * v[0] + gd[1] * v[1] + gd[2] * v[2]);
      for (int a = 0; a < 3; ++a) d[1 + size_t(a) * k.n + size_t(k.far_at)] += scale * v[a];
    }
    ListBuilder alone, beside;
    alone.open(0).recv(k.code, k.style, 0xFF0000, d);
    const std::string lone_log = draw(alone, false);
    EXPECT_EQ(scene_last_stats().drawn, 0) << k.name;  // no scene was drawn
    beside.open(0).recv(k.code, k.style, 0xFF0000, d);
    beside.recv(kCodeTextAt3, 0, 0, {1e3, 1e3, 1e3, double(kAlignLeft), 0, 0});
    std::string scene_log = draw(beside, false);
    for (size_t p = scene_log.find("text "); p != std::string::npos; p = scene_log.find("text ")) {
      const size_t line = scene_log.rfind('\n', p) == std::string::npos ? 0 : scene_log.rfind('\n', p) + 1;
      scene_log.erase(line, scene_log.find('\n', p) + 1 - line);
    }
    EXPECT_NE(lone_log.find("/255,0,0 "), std::string::npos) << k.name;
    EXPECT_EQ(pieces(lone_log), pieces(scene_log)) << k.name;
    // The far point is drawn, not dropped: every segment, or every marker.
    if (k.far_at >= 0) EXPECT_EQ(pieces(lone_log).size(), size_t(k.n - (k.style ? 0 : 1))) << k.name;
  }
}

// A line through a surface: the parts behind it and in front of it are
// drawn on either side of the facets, every segment once, the runs broken
// where the facets come between.
TEST_F(Render3d, ACurveThroughASurfaceIsDrawnOnBothSidesOfIt) {
  const int n = 300;
  std::vector<double> d = {double(n)};
  for (int axis = 0; axis < 3; ++axis)
    for (int i = 0; i < n; ++i) {
      const double t = -1 + 2.0 * i / (n - 1);
      d.push_back(axis == 0 ? 0.9 * t : axis == 1 ? 0.05 : 0.9 * t);
    }
  ListBuilder b;
  b.open(0);
  b.recv(kCodePolygons, 0, 0, polygons(0x403, 4, {-0.5, 0.5, 0.5, -0.5}, {-0.5, -0.5, 0.5, 0.5}, {0, 0, 0, 0}, {},
                                       {0, 1, 2, 3}));
  b.recv(kCodePolyline3, 0, 0xFF0000, d);
  const std::string log = draw(b, false);
  const Calls c = curve_calls(log, "255,0,0");
  EXPECT_GE(c.segments, n - 1);
  EXPECT_GE(c.calls, 2);
  EXPECT_LE(c.calls, 8);
  const size_t first_fill = log.find("polyline 3 style=0x20/"), last_fill = log.rfind("polyline 3 style=0x20/");
  ASSERT_NE(first_fill, std::string::npos);
  EXPECT_LT(log.find("/255,0,0 "), first_fill);
  EXPECT_GT(log.rfind("/255,0,0 "), last_fill);
}

TEST_F(Render3d, ALitSurfaceInItsBox) {
  // A 3 x 3 grid surface, four quads, a light and a material.
  std::vector<double> x, y, z;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) x.push_back(c - 1), y.push_back(r - 1), z.push_back(0.25 * (r - 1) * (c - 1));
  std::vector<int32_t> faces;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) faces.insert(faces.end(), {r * 3 + c, r * 3 + c + 1, (r + 1) * 3 + c + 1, (r + 1) * 3 + c});
  ListBuilder b;
  b.open(0);
  b.rec(kCodeColourMap, 0, 0, {2, 0, 1, 0, 0, 1, 0});
  b.rec(kCodeLights, 0, 0, {0, 0, 1, 1, 1, 1});
  b.rec(kCodeMaterial, 0, 0, {0.3, 0.7, 1, 3, 1});
  b.recv(kCodePolygons, kStyleKindInvisible, 0, polygons(0x513, 4, x, y, z, {-0.25, 0.25}, faces));
  const std::string log = draw(b, true);
  EXPECT_NE(log.find("style=0x20/"), std::string::npos);  // lit fills
  expect_golden(log, "scene_surface.log");
}

}  // namespace
