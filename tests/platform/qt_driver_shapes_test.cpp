// The polyline and ellipse entries of the Qt driver, offscreen, by pixel
// probes: marker shapes, fill against outline, dash patterns, pen widths,
// the end pixel of a segment, the band, the invisible kind, the ellipse
// limit, the joins of a region's holes.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <QPainterPath>

#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

TEST(QtDriverShapes, MarkerShapes) {
  constexpr int X = 50, Y = 60;
  // Exact pixel sets where every segment is axis-parallel or diagonal; the
  // bounding box for the others (the box of the figure less the end pixels).
  PixelSet cross, plus, square, diamond;
  for (int d = -3; d <= 3; ++d) {
    cross.insert({X + d, Y + d});
    cross.insert({X - d, Y + d});
    plus.insert({X + d, Y});
    plus.insert({X, Y + d});
    for (int e = -3; e <= 3; ++e)
      if (std::abs(d) == 3 || std::abs(e) == 3) square.insert({X + d, Y + e});
    diamond.insert({X + d, Y + (3 - std::abs(d))});
    diamond.insert({X + d, Y - (3 - std::abs(d))});
  }
  struct Row {
    uint32_t kind;
    const char* name;
    Box box;
    const PixelSet* exact;
  } rows[] = {
      {kStyleKindCross, "cross", {X - 3, Y - 3, X + 3, Y + 3}, &cross},
      {kStyleKindPlus, "plus", {X - 3, Y - 3, X + 3, Y + 3}, &plus},
      {kStyleKindSquare, "square", {X - 3, Y - 3, X + 3, Y + 3}, &square},
      {kStyleKindDiamond, "diamond", {X - 3, Y - 3, X + 3, Y + 3}, &diamond},
      {kStyleKindCircle, "circle", {X - 3, Y - 3, X + 2, Y + 2}, nullptr},
      {kStyleKindStar, "star", {X - 3, Y - 3, X + 2, Y + 2}, nullptr},
      {kStyleKindTriangleUp, "triangle up", {X - 3, Y - 3, X + 3, Y + 2}, nullptr},
      {kStyleKindTriangleDown, "triangle down", {X - 3, Y - 2, X + 3, Y + 3}, nullptr},
  };
  for (const Row& r : rows) {
    Canvas c;
    c.line({{X + 0.9, Y + 0.7}}, r.kind);  // coordinates truncate
    EXPECT_EQ(c.ink_box(), r.box) << r.name;
    if (r.exact) {
      EXPECT_EQ(c.ink(), *r.exact) << r.name;
    }
  }
  Canvas dot;
  dot.line({{X, Y}, {X + 10, Y}}, kStyleKindDot);
  EXPECT_EQ(dot.ink(), (PixelSet{{X, Y}, {X + 10, Y}}));
  for (uint32_t kind : {kStyleKindNone, kStyleKindInvisible}) {
    Canvas c;
    c.line({{X, Y}, {X + 10, Y + 10}}, kind | kStyleBitFill);
    EXPECT_TRUE(c.ink().empty()) << kind;
  }
}

TEST(QtDriverShapes, CircleMarkerFilledOnlyUnderFill) {
  Canvas plain, filled;
  plain.line({{50, 50}}, kStyleKindCircle);
  filled.line({{50, 50}}, kStyleKindCircle | kStyleBitFill);
  EXPECT_EQ(plain.at(49, 49), kWhite);
  EXPECT_EQ(filled.at(49, 49), kBlack);
  EXPECT_EQ(plain.ink_box(), filled.ink_box());
}

TEST(QtDriverShapes, FillAgainstOutline) {
  const std::initializer_list<std::pair<double, double>> square = {{20, 20}, {60, 20}, {60, 60}, {20, 60}};
  Canvas fill, outline;
  fill.line(square, kStyleBitFill | 4);  // 'rf'
  outline.line(square, kStyleBitFill | kStyleBitThick | 4);  // 'Rf': a line in a 1-pixel pen
  EXPECT_EQ(fill.at(40, 40), qRgb(255, 0, 0));
  EXPECT_EQ(fill.at(20, 40), qRgb(255, 0, 0));  // the pen closes the polygon
  EXPECT_EQ(outline.at(40, 40), kWhite);
  EXPECT_EQ(outline.at(40, 20), qRgb(255, 0, 0));
  EXPECT_EQ(outline.at(40, 21), kWhite);
  EXPECT_EQ(outline.at(40, 19), kWhite);
  EXPECT_EQ(outline.at(20, 40), kWhite);  // not closed: a polyline through the points
  // Odd-even fill: a pentagram's centre stays empty.
  Canvas star;
  const double cx = 100, cy = 100, rad = 60;
  std::vector<std::pair<double, double>> p;
  for (int k = 0; k < 5; ++k) {
    double a = -M_PI / 2 + k * 4 * M_PI / 5;
    p.push_back({cx + rad * std::cos(a), cy + rad * std::sin(a)});
  }
  star.line({p[0], p[1], p[2], p[3], p[4]}, kStyleBitFill);
  EXPECT_EQ(star.at(100, 100), kWhite);
  EXPECT_EQ(star.at(100, 60), kBlack);
}

// The pixels of row y from x0 to x1 - 1 as a string of '#' and '.'.
std::string row_pattern(Canvas& c, int y, int x0, int x1) {
  std::string s;
  for (int x = x0; x < x1; ++x) s += c.at(x, y) == kWhite ? '.' : '#';
  return s;
}

TEST(QtDriverShapes, DashPatternsInDevicePixels) {
  struct Row {
    uint32_t kind;
    std::string period;
  } rows[] = {
      {kStyleKindSolid, "#"},
      {kStyleKindSolidN, "#"},
      {kStyleKindDashed, std::string(18, '#') + std::string(6, '.')},
      {kStyleKindDotted, "###..."},
      {kStyleKindDashDot, std::string(9, '#') + std::string(6, '.') + "###" + std::string(6, '.')},
  };
  for (const Row& r : rows) {
    Canvas c;
    c.line({{10, 100}, {130, 100}}, r.kind);
    std::string want;
    while (want.size() < 120) want += r.period;
    EXPECT_EQ(row_pattern(c, 100, 10, 130), want.substr(0, 120)) << r.kind;
    EXPECT_EQ(c.at(130, 100), kWhite) << "end pixel";
  }
  // Thick lines on: the dashed style becomes a 2-pixel solid pen.
  Canvas thick;
  thick.ctx.thick_lines = 1;
  thick.line({{10, 100}, {130, 100}}, kStyleKindDashed);
  EXPECT_EQ(thick.at(30, 100), kBlack);  // inside the first gap of the dash
  EXPECT_EQ(thick.ink_box().bottom - thick.ink_box().top + 1, 2);
}

TEST(QtDriverShapes, PenWidths) {
  struct Row {
    uint32_t bits;
    int32_t thick_lines;
    int width;
  } rows[] = {
      {0, 0, 1}, {0, 1, 2}, {kStyleBitThick, 0, 2}, {kStyleBitThick, 1, 4}, {kStyleBitThick | kStyleKindDashed, 0, 2},
  };
  for (const Row& r : rows) {
    Canvas c;
    c.ctx.thick_lines = r.thick_lines;
    c.line({{40, 100}, {160, 100}}, r.bits);
    int count = 0;
    for (int y = 90; y < 110; ++y) count += c.at(100, y) != kWhite;
    EXPECT_EQ(count, r.width) << r.bits << " " << r.thick_lines;
    if (r.width > 1) {
      EXPECT_EQ(c.at(130, 100), kBlack) << "solid";
    }
  }
}

// A segment covers its start and not its end in either direction (the
// rasteriser's own tests sweep the slopes); a polyline draws each vertex once.
TEST(QtDriverShapes, SegmentsLeaveTheirEndPixel) {
  for (auto [dx, dy] : {std::pair{10, 0}, {-10, 0}, {0, -10}, {-7, 7}, {-4, 9}}) {
    Canvas c;
    c.line({{50, 50}, {50.0 + dx, 50.0 + dy}}, 0);
    PixelSet ink = c.ink();
    EXPECT_TRUE(ink.count({50, 50})) << dx << "," << dy;
    EXPECT_FALSE(ink.count({50 + dx, 50 + dy})) << dx << "," << dy;
  }
  Canvas c;
  c.line({{60, 10}, {70, 10}, {70, 20}, {60, 20}, {60, 11}}, 0);
  PixelSet ink = c.ink();
  EXPECT_EQ(ink.size(), 10u + 10u + 10u + 9u);
  EXPECT_FALSE(ink.count({60, 11}));
}

TEST(QtDriverShapes, BandNonFiniteAndHugeCoordinates) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  Canvas c;
  c.line({{-30000, 5}, {-25000, 7}}, 0);  // wholly beyond the band: skipped
  c.line({{-30000, 150}, {100, 150}}, 0);  // crosses it: drawn
  c.line({{10, 30}, {kNaN, 0}, {50, 30}, {kInf, 30}}, 0);  // non-finite points are left out
  EXPECT_EQ(c.at(50, 150), kBlack);
  EXPECT_EQ(c.at(30, 30), kBlack);
  EXPECT_EQ(c.at(50, 30), kWhite);
  c.resume();
  // Saturated coordinates reach Qt without overflow, in every kind and pen.
  for (uint32_t bits : {0u, kStyleBitThick, kStyleBitFill, kStyleKindCircle, kStyleKindSquare}) {
    c.line({{1e300, 5}, {-1e300, 5}, {5, 3e9}, {-kInf, kInf}, {100, 100}}, bits);
    StyleSpec s{bits, 0, 0, 0};
    c.drv->draw_ellipse(1e300, 50, 10, 10, &s, &c.ctx);
    c.drv->draw_ellipse(2147483640.0, 50, 10, 10, &s, &c.ctx);
  }
}

TEST(QtDriverShapes, EllipseBoxAndRadiusLimit) {
  StyleSpec black{0, 0, 0, 0};
  Canvas c;
  c.drv->draw_ellipse(50.5, 50.9, 10, 10, &black, &c.ctx);  // box (40, 40)-(60, 60), corners truncated
  EXPECT_EQ(c.ink_box(), (Box{40, 40, 59, 59}));
  struct Row {
    double rx;
    bool drawn;
  } rows[] = {{5000.0, true}, {5000.5, false}, {-5000.0, true}, {-5000.5, false}, {NAN, false}};
  for (const Row& r : rows) {
    Canvas e;
    e.drv->draw_ellipse(100, 100, r.rx, 10, &black, &e.ctx);
    EXPECT_EQ(!e.ink().empty(), r.drawn) << r.rx;
    Canvas f;
    f.drv->draw_ellipse(100, 100, 10, r.rx, &black, &f.ctx);
    EXPECT_EQ(!f.ink().empty(), r.drawn) << r.rx;
  }
}

TEST(QtDriverShapes, DriverColours) {
  // Index 0 takes the style's own colour; 1 to 7 the driver's, not the palette.
  const QRgb want[8] = {qRgb(10, 20, 30), qRgb(0, 0, 255), qRgb(0, 153, 0), qRgb(0, 204, 255),
                        qRgb(255, 0, 0), qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255)};
  for (uint32_t index = 0; index < 8; ++index) {
    Canvas c(40, 40, kBlack);
    c.line({{5, 5}, {30, 5}}, index, 10, 20, 30);
    EXPECT_EQ(c.at(10, 5), want[index]) << index;
  }
}

}  // namespace

// Long curves put many points on one pixel. Such points add segments of no
// length: the picture is the one of the curve without them, dashes and
// joins included, on the pixel path and on Qt's stroker alike.
TEST(QtDriverShapes, PointsOnThePixelOfTheOneBeforeChangeNothing) {
  const std::vector<std::pair<double, double>> corners = {{10, 10}, {90, 40}, {30, 120}, {150, 150}, {150, 20}};
  auto with_repeats = [](const std::vector<std::pair<double, double>>& pts) {
    std::vector<std::pair<double, double>> out;
    for (auto [x, y] : pts)
      for (double d : {0.0, 0.25, 0.5, 0.9}) out.push_back({x + d, y + d / 2});
    return out;
  };
  auto draw = [](Canvas* c, const std::vector<std::pair<double, double>>& pts, uint32_t bits) {
    std::vector<double> xs, ys;
    for (auto [x, y] : pts) xs.push_back(x), ys.push_back(y);
    StyleSpec s{bits, 0, 0, 0};
    c->drv->draw_polyline(xs.data(), ys.data(), int32_t(xs.size()), &s, &c->ctx);
  };
  for (const uint32_t bits : {uint32_t(kStyleKindSolid), uint32_t(kStyleKindDashed), uint32_t(kStyleKindDashDot),
                              uint32_t(kStyleBitThick)})
    for (const int32_t thick : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "bits " << bits << " thick lines " << thick);
      Canvas plain, repeated;
      plain.ctx.thick_lines = repeated.ctx.thick_lines = thick;
      draw(&plain, corners, bits);
      draw(&repeated, with_repeats(corners), bits);
      EXPECT_EQ(repeated.ink(), plain.ink());
      // A run on one pixel draws what its first two points draw.
      Canvas one, two;
      one.ctx.thick_lines = two.ctx.thick_lines = thick;
      draw(&one, {{70, 70}, {70.3, 70.2}, {70.6, 70.9}}, bits);
      draw(&two, {{70, 70}, {70.3, 70.2}}, bits);
      EXPECT_EQ(one.ink(), two.ink());
    }
}

namespace {

// A filled polygon as Qt draws it from the driver's pen and brush: the
// reference for the rectangles the driver fills in one call.
QImage polygon_reference(const std::vector<std::pair<int, int>>& pts, QRgb colour) {
  QImage image(120, 120, QImage::Format_RGB32);
  image.fill(qt_probe::kWhite);
  QPainter p(&image);
  QPen pen{QColor(colour)};
  pen.setWidth(1);
  pen.setCapStyle(Qt::FlatCap);
  pen.setJoinStyle(Qt::MiterJoin);
  p.setPen(pen);
  p.setBrush(QColor(colour));
  QPolygon poly;
  for (auto [x, y] : pts) poly.append(QPoint(x, y));
  p.drawPolygon(poly, Qt::OddEvenFill);
  p.end();
  return image;
}

}  // namespace

// Axis-parallel rectangles in either winding, from any corner, closed or
// not, thin down to one pixel: the one-call fill covers the very pixels of
// the polygon with its outline; a quadrilateral that is no rectangle still
// goes the polygon's way.
TEST(QtDriverShapes, RectangleFillsMatchThePolygon) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pos(5, 110), size(0, 6), coin(0, 1), turn(0, 3);
  for (int k = 0; k < 400; ++k) {
    const int x0 = pos(rng), y0 = pos(rng);
    const int x1 = std::min(115, x0 + (coin(rng) ? size(rng) : 3 * size(rng)));
    const int y1 = std::min(115, y0 + (coin(rng) ? size(rng) : 3 * size(rng)));
    std::vector<std::pair<int, int>> corners = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    if (coin(rng)) std::reverse(corners.begin(), corners.end());
    std::rotate(corners.begin(), corners.begin() + turn(rng), corners.end());
    if (k % 5 == 4) corners[2].first += 2;  // no rectangle
    if (coin(rng)) corners.push_back(corners[0]);
    Canvas c(120, 120);
    std::vector<double> xs, ys;
    for (auto [x, y] : corners) xs.push_back(x + 0.25), ys.push_back(y + 0.5);  // coordinates truncate
    StyleSpec s{kStyleBitFill, 30, 90, 200};
    c.drv->draw_polyline(xs.data(), ys.data(), int32_t(xs.size()), &s, &c.ctx);
    c.finish();
    const QImage want = polygon_reference(corners, qRgb(30, 90, 200));
    ASSERT_EQ(c.image, want) << "rectangle " << k << " from (" << x0 << "," << y0 << ") to (" << x1 << "," << y1
                             << ")";
  }
}

// A region with holes as the contour command stores it: the outer ring,
// then each hole joined to the ring's first point there and back. The
// picture is the odd-even fill of the rings with each ring outlined, the
// joins nowhere: the very pixels Qt paints for the fill without a pen and
// for each ring as a closed line in the driver's pen. A flat polygon (all
// its edges run there and back) is still drawn, as its outline.
TEST(QtDriverShapes, HolesJoinedThereAndBackShowNoJoin) {
  std::mt19937 rng(90);
  std::uniform_int_distribution<int> hole_count(1, 4);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const QRgb colour = qRgb(30, 90, 200);
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    // Rings round centres on a 3 x 3 grid of cells, the outer one round all.
    using Ring = std::vector<QPoint>;
    auto ring = [&](double cx, double cy, double r, int corners) {
      Ring out;
      const double turn = u(rng) * 6.28;
      for (int i = 0; i <= corners; ++i) {
        const double a = turn + 6.2831853 * (i % corners) / corners, s = r * (0.75 + 0.25 * u(rng));
        out.push_back(QPoint(int(cx + s * std::cos(a)), int(cy + s * std::sin(a))));
      }
      out.back() = out.front();  // closed
      return out;
    };
    std::vector<Ring> rings = {ring(60, 60, 56, 5 + k % 7)};
    std::vector<int> cells = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    std::shuffle(cells.begin(), cells.end(), rng);
    for (int h = hole_count(rng); h > 0; --h)
      rings.push_back(ring(36 + 24 * (cells[size_t(h)] % 3), 36 + 24 * (cells[size_t(h)] / 3), 10, 3 + h));
    std::vector<double> xs, ys;
    for (size_t r = 0; r < rings.size(); ++r) {
      for (const QPoint& q : rings[r]) xs.push_back(q.x() + 0.25), ys.push_back(q.y() + 0.5);
      if (r > 0) xs.push_back(rings[0][0].x() + 0.25), ys.push_back(rings[0][0].y() + 0.5);
    }
    Canvas c(120, 120);
    StyleSpec fill{kStyleBitFill, 30, 90, 200};
    c.drv->draw_polyline(xs.data(), ys.data(), int32_t(xs.size()), &fill, &c.ctx);
    c.finish();

    Canvas want(120, 120);
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const Ring& r : rings) path.addPolygon(QPolygonF(QPolygon(QList<QPoint>(r.begin(), r.end()))));
    want.painter.fillPath(path, QColor(colour));
    QPen pen{QColor(colour)};
    pen.setWidth(1);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    want.painter.setPen(pen);
    for (const Ring& r : rings) want.painter.drawPolyline(r.data(), int(r.size()));
    want.finish();
    ASSERT_EQ(c.image, want.image);
  }
  // Flat polygons: there and back along one line, which they show whole.
  StyleSpec fill{kStyleBitFill, 30, 90, 200};
  {
    Canvas c(120, 120);
    const double fx[] = {10.5, 90.5, 10.5}, fy[] = {20.5, 60.5, 20.5};
    c.drv->draw_polyline(fx, fy, 3, &fill, &c.ctx);
    EXPECT_EQ(c.at(10, 20), colour);
    EXPECT_EQ(c.at(50, 40), colour);
  }
  {
    Canvas c(120, 120);
    const double fx[] = {10.5, 50.5, 90.5, 50.5}, fy[] = {20.5, 20.5, 20.5, 20.5};
    c.drv->draw_polyline(fx, fy, 4, &fill, &c.ctx);
    EXPECT_EQ(c.at(20, 20), colour);
    EXPECT_EQ(c.at(70, 20), colour);
  }
}

// Calls in a row share the pen and brush built for the first of a style: one
// build per change of style, thick lines or pixel drawing (a translated
// painter), and the picture is the one a pen built for every call draws.
TEST(QtDriverShapes, ShapeToolsBuiltOncePerStyle) {
  struct Call {
    StyleSpec style;
    int32_t thick;
    bool shifted;  // the painter translates: no pixel drawing
    bool builds;
  } calls[] = {
      {{kStyleKindSolid, 200, 0, 0, 0}, 0, false, true},
      {{kStyleKindSolid, 200, 0, 0, 0}, 0, false, false},
      {{kStyleKindDashed, 200, 0, 0, 0}, 0, false, true},
      {{kStyleKindDashed, 0, 200, 0, 0}, 0, false, true},
      {{kStyleKindDashed, 0, 200, 0, 0}, 1, false, true},
      {{kStyleKindDashed, 0, 200, 0, 0}, 1, false, false},
      {{kStyleBitFill, 0, 200, 0, 0}, 1, false, true},
      {{kStyleBitFill, 0, 200, 0, 0}, 1, true, true},
      {{kStyleBitFill, 0, 200, 0, 0}, 1, true, false},
      {{kStyleBitFill, 0, 0, 200, 0}, 1, true, true},
      {{kStyleBitFill | 4, 0, 0, 200, 0}, 1, true, true},
      {{kStyleKindDotted, 0, 0, 200, 0}, 0, false, true},
      {{kStyleKindCircle | kStyleBitFill, 0, 0, 200, 0}, 0, false, true},
      {{kStyleKindCircle | kStyleBitFill, 0, 0, 200, 0}, 0, false, false},
  };
  Canvas shared(160, 160), fresh(160, 160);
  int64_t want_builds = 0;
  for (size_t k = 0; k < std::size(calls); ++k) {
    const Call& c = calls[k];
    const double o = 8.0 * double(k);
    const double xs[] = {10 + o, 60 + o, 60 + o, 10 + o, 10 + o}, ys[] = {5 + o, 5 + o, 30 + o, 30 + o, 5 + o};
    want_builds += c.builds;
    for (Canvas* v : {&shared, &fresh}) {
      v->ctx.thick_lines = c.thick;
      v->painter.setTransform(c.shifted ? QTransform::fromTranslate(3, 2) : QTransform());
      if (v == &fresh) v->target.shape_thick = -1;  // as if nothing were built yet
      v->drv->draw_polyline(xs, ys, 5, &c.style, &v->ctx);
    }
    EXPECT_EQ(shared.target.shape_builds, want_builds) << "call " << k;
  }
  shared.finish();
  fresh.finish();
  EXPECT_EQ(shared.image, fresh.image);
}
