// Pens and brushes for a style, and the shape entries of the QPainter driver:
// polylines, filled polygons, markers and ellipses. The geometry is the GDI
// one: truncated coordinates; 1-pixel pens with flat caps whose segments
// leave out their end pixel (rasterised by pixel_lines on raster targets);
// dash lengths in device pixels; wider pens with round caps and joins;
// odd-even fill, outlined along the boundary only.
#include <algorithm>

#include <QLineF>
#include <QPainter>
#include <QPolygon>

#include "platform/device_geometry.h"
#include "platform/pixel_lines.h"
#include "platform/qt_driver_internal.h"

namespace {

constexpr int kThinPen = 1;
constexpr int kNormalThickPen = 2;  // plain style with thick lines on, or the thick bit alone
constexpr int kThickThickPen = 4;   // the thick bit with thick lines on
constexpr int kMarkerRadius = 3;

constexpr int kDashed[] = {18, 6};
constexpr int kDotted[] = {3, 3};
constexpr int kDashDot[] = {9, 6, 3, 6};

int pen_width(uint32_t bits, bool thick_lines) {
  switch (bits & kStyleBitsPen) {
    case 0: return thick_lines ? kNormalThickPen : kThinPen;
    case kStyleBitThick: return thick_lines ? kThickThickPen : kNormalThickPen;
    default: return kThinPen;  // fill, and fill with thick: a 1-pixel pen
  }
}

// The dash pattern of a 1-pixel pen's kind; count 0 for solid.
const int* dash_pattern(uint32_t kind, int* count) {
  switch (kind) {
    case kStyleKindDashed: *count = 2; return kDashed;
    case kStyleKindDotted: *count = 2; return kDotted;
    case kStyleKindDashDot: *count = 4; return kDashDot;
    default: *count = 0; return nullptr;
  }
}

// Where the segments of a line or of markers go: pixel by pixel into the
// target's point list (1-pixel pens on raster targets), or to Qt as lines.
struct SegmentSink {
  QtDriverTarget* t;
  bool pixels;
  DashState dash;
  void add(int x0, int y0, int x1, int y1) {
    if (pixels)
      raster_segment(&t->points, x0, y0, x1, y1, t->bounds, &dash);
    else
      t->lines.append(QLineF(x0, y0, x1, y1));
  }
  void flush() {
    if (pixels && !t->points.isEmpty()) t->painter->drawPoints(t->points.constData(), int(t->points.size()));
    if (!pixels && !t->lines.isEmpty()) t->painter->drawLines(t->lines.constData(), int(t->lines.size()));
    t->points.clear();
    t->lines.clear();
  }
};

// The segments of one marker at (X, Y); the circle is drawn apart.
void marker_segments(uint32_t kind, int X, int Y, SegmentSink* out) {
  constexpr int r = kMarkerRadius;
  auto closed = [&](std::initializer_list<QPoint> pts) {
    const QPoint* p = pts.begin();
    for (size_t i = 0; i + 1 < pts.size(); ++i) out->add(p[i].x(), p[i].y(), p[i + 1].x(), p[i + 1].y());
  };
  switch (kind) {
    case kStyleKindDot: out->add(X, Y, X + 1, Y); break;
    case kStyleKindCross:
      out->add(X - r, Y - r, X + r + 1, Y + r + 1);
      out->add(X + r, Y - r, X - r - 1, Y + r + 1);
      break;
    case kStyleKindPlus:
      out->add(X - r, Y, X + r + 1, Y);
      out->add(X, Y - r, X, Y + r + 1);
      break;
    case kStyleKindStar:
      out->add(X - 2, Y - r, X + 2, Y + r);
      out->add(X + 2, Y - r, X - 2, Y + r);
      out->add(X - r, Y, X + r, Y);
      break;
    case kStyleKindTriangleUp: closed({{X, Y - r}, {X + r, Y + 2}, {X - r, Y + 2}, {X, Y - r}}); break;
    case kStyleKindTriangleDown: closed({{X, Y + r}, {X + r, Y - 2}, {X - r, Y - 2}, {X, Y + r}}); break;
    case kStyleKindSquare:
      closed({{X + r, Y + r}, {X - r, Y + r}, {X - r, Y - r}, {X + r, Y - r}, {X + r, Y + r}});
      break;
    case kStyleKindDiamond: closed({{X, Y + r}, {X + r, Y}, {X, Y - r}, {X - r, Y}, {X, Y + r}}); break;
    default: break;  // kStyleKindNone, and kinds no character gives
  }
}

// Qt strokes the ellipse of QRect(l, t, w, h) over pixels l to l + w; the
// box (l, t)-(r, b) covers l to r - 1, hence one less.
QRect stroked_ellipse_rect(const DeviceBox& b) {
  return QRect(b.left, b.top, int(b.width() - 1), int(b.height() - 1));
}

void draw_markers(QtDriverTarget* t, const double* x, const double* y, int32_t n, uint32_t kind, bool fill,
                  bool pixels) {
  QPainter* p = t->painter;
  if (kind == kStyleKindCircle) {
    if (!fill) p->setBrush(Qt::NoBrush);
    for (int32_t i = 0; i < n; ++i) {
      if (!point_is_finite(x[i], y[i])) continue;
      int64_t X = device_coord(x[i]), Y = device_coord(y[i]);
      if (X < -kDrawBand || X > kDrawBand || Y < -kDrawBand || Y > kDrawBand) continue;
      DeviceBox b{int32_t(X - kMarkerRadius), int32_t(Y - kMarkerRadius), int32_t(X + kMarkerRadius),
                  int32_t(Y + kMarkerRadius)};
      p->drawEllipse(stroked_ellipse_rect(b));
    }
    return;
  }
  SegmentSink sink{t, pixels, {}};
  t->points.clear();
  t->lines.clear();
  for (int32_t i = 0; i < n; ++i) {
    if (!point_is_finite(x[i], y[i])) continue;
    int64_t X = device_coord(x[i]), Y = device_coord(y[i]);
    // A marker far off the device is invisible; skipping it also keeps the
    // offsets from leaving the int range.
    if (X < -kDrawBand || X > kDrawBand || Y < -kDrawBand || Y > kDrawBand) continue;
    marker_segments(kind, int(X), int(Y), &sink);
  }
  sink.flush();
}

// The corners of a polygon that runs round an axis-parallel rectangle (four
// corners, or five with the first again), each side along x or y.
bool device_rectangle(const double* x, const double* y, int32_t n, QPoint* a, QPoint* b) {
  if (n == 5 && (x[4] != x[0] || y[4] != y[0])) return false;
  if (n != 4 && n != 5) return false;
  QPoint q[4];
  for (int i = 0; i < 4; ++i) {
    if (!point_is_finite(x[i], y[i])) return false;
    q[i] = QPoint(device_coord(x[i]), device_coord(y[i]));
  }
  const bool along_x = q[0].y() == q[1].y() && q[1].x() == q[2].x() && q[2].y() == q[3].y() && q[3].x() == q[0].x();
  const bool along_y = q[0].x() == q[1].x() && q[1].y() == q[2].y() && q[2].x() == q[3].x() && q[3].y() == q[0].y();
  if (!along_x && !along_y) return false;
  *a = QPoint(std::min(q[0].x(), q[2].x()), std::min(q[0].y(), q[2].y()));
  *b = QPoint(std::max(q[0].x(), q[2].x()), std::max(q[0].y(), q[2].y()));
  return a->x() < b->x() && a->y() < b->y();  // a flat one is a line to Qt
}

uint64_t point_key(const QPoint& p) { return uint64_t(uint32_t(p.x())) << 32 | uint32_t(p.y()); }

// Twice the signed area of the polygon, closed back to its first point.
// Device coordinates make each term an exact integer far beyond any device,
// so a flat polygon gives exactly 0.
double twice_area(const QList<QPoint>& poly) {
  double sum = 0;
  const qsizetype n = poly.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QPoint& a = poly[i];
    const QPoint& b = poly[i + 1 == n ? 0 : i + 1];
    sum += double(a.x()) * b.y() - double(b.x()) * a.y();
  }
  return sum;
}

// A region with holes is one polygon: its outer ring from its first point
// round to it again, then each hole, joined to that point there and back.
// Under the odd-even rule a join bounds nothing, and outlined it would show
// as a line across the hole and across whatever lies behind it. So the
// edges that meet the first point and are run along an even number of
// times are left out of the outline (edges elsewhere keep theirs, as GDI
// outlines every edge; finding them would cost a pass over a hash table of
// all the points, for shapes that draw no joins). A flat polygon (a bar of
// no height, a line there and back) keeps its whole outline, the line GDI
// draws for it. True when the polygon has edges to leave out; they are then
// marked in t->edge_flags by their place in the polygon (edge i runs from
// point i to the next).
bool mark_joins(QtDriverTarget* t, const QList<QPoint>& poly) {
  const qsizetype n = poly.size();
  if (n < 3) return false;
  const QPoint home = poly[0];
  std::vector<std::array<uint64_t, 3>>& edges = t->edges;
  edges.clear();
  for (qsizetype i = 0; i < n; ++i) {
    const QPoint& a = poly[i];
    const QPoint& b = poly[i + 1 == n ? 0 : i + 1];
    if (a == b || (a != home && b != home)) continue;
    const uint64_t ka = point_key(a), kb = point_key(b);
    edges.push_back({std::min(ka, kb), std::max(ka, kb), uint64_t(i)});
  }
  if (edges.size() < 2) return false;
  std::sort(edges.begin(), edges.end());
  std::vector<uint8_t>& doubled = t->edge_flags;
  doubled.assign(size_t(n), 0);
  bool any = false;
  for (size_t i = 0; i < edges.size();) {
    size_t j = i + 1;
    while (j < edges.size() && edges[j][0] == edges[i][0] && edges[j][1] == edges[i][1]) ++j;
    if ((j - i) % 2 == 0) {
      any = true;
      for (size_t k = i; k < j; ++k) doubled[edges[k][2]] = 1;
    }
    i = j;
  }
  return any && twice_area(poly) != 0;
}

// The fill is outlined in its own colour, as GDI outlines a polygon with
// the pen: the pixels on its boundary are its own, so that neighbouring
// regions leave no hairline between them. A region's joins to its holes
// are left out of the outline: between them it is drawn as runs of the
// polygon's own points.
// `solid_pixels`: the pen is a solid 1-pixel one of the fill's colour on an
// untransformed raster painter. A rectangle's fill and outline then cover
// exactly its pixels corner to corner, which one fillRect paints at a
// fraction of a polygon's cost: a pcolor of 10^6 cells is 10^6 of them.
void draw_filled_polygon(QtDriverTarget* t, const double* x, const double* y, int32_t n, bool solid_pixels,
                         const QColor& colour) {
  QPoint a, b;
  if (solid_pixels && device_rectangle(x, y, n, &a, &b)) {
    t->painter->fillRect(QRect(a, b), colour);
    return;
  }
  QList<QPoint>& poly = t->points;
  poly.clear();
  for (int32_t i = 0; i < n; ++i)
    if (point_is_finite(x[i], y[i])) poly.append(QPoint(device_coord(x[i]), device_coord(y[i])));
  QPainter* p = t->painter;
  const qsizetype m = poly.size();
  if (m == 0 || !mark_joins(t, poly)) {
    if (m > 0) p->drawPolygon(poly.constData(), int(m), Qt::OddEvenFill);
    poly.clear();
    return;
  }
  const QPen pen = p->pen();
  p->setPen(Qt::NoPen);
  p->drawPolygon(poly.constData(), int(m), Qt::OddEvenFill);
  p->setPen(pen);
  const std::vector<uint8_t>& doubled = t->edge_flags;
  // Runs of edges between joins; the closing edge, from the last point to
  // the first, on its own.
  qsizetype start = -1;
  for (qsizetype i = 0; i + 1 < m; ++i) {
    if (!doubled[size_t(i)]) {
      if (start < 0) start = i;
      continue;
    }
    if (start >= 0) p->drawPolyline(poly.constData() + start, int(i - start + 1));
    start = -1;
  }
  if (start >= 0) p->drawPolyline(poly.constData() + start, int(m - start));
  if (!doubled[size_t(m - 1)] && poly[m - 1] != poly[0]) p->drawLine(poly[m - 1], poly[0]);
  poly.clear();
}

// Segments with both ends beyond one side of the band are not drawn: the pen
// only moves, and the dash pattern starts again after the move. Pixel lines
// go to Qt as points in one call; the others as runs of connected points,
// so that Qt's dashes and joins carry on across the vertices.
void draw_lines(QtDriverTarget* t, const double* x, const double* y, int32_t n, uint32_t kind, bool pixels) {
  int dash_count = 0;
  const int* dashes = dash_pattern(kind, &dash_count);
  DashState dash;
  dash_start(&dash, dashes, dash_count);
  QList<QPoint>& out = t->points;
  out.clear();
  QList<QPoint> run;
  auto flush_run = [&] {
    if (run.size() > 1) t->painter->drawPolyline(run.constData(), int(run.size()));
    run.clear();
  };
  bool have_last = false;
  QPoint last;
  for (int32_t i = 0; i < n; ++i) {
    if (!point_is_finite(x[i], y[i])) continue;
    QPoint q(device_coord(x[i]), device_coord(y[i]));
    // A point on the pixel of the one before adds a segment of no length,
    // which draws nothing and leaves the dashes where they are: long curves
    // have many points to a pixel, and each costs only this test. (A run
    // keeps its second point, so that a run on one pixel still goes to Qt.)
    if (have_last && q == last && (pixels || run.size() > 1)) continue;
    bool moved = have_last && segment_beyond_band(last.x(), last.y(), q.x(), q.y());
    if (pixels) {
      if (moved)
        dash_start(&dash, dashes, dash_count);
      else if (have_last)
        raster_segment(&out, last.x(), last.y(), q.x(), q.y(), t->bounds, &dash);
    } else {
      if (moved) flush_run();
      run.append(q);
    }
    last = q;
    have_last = true;
  }
  if (pixels && !out.isEmpty()) t->painter->drawPoints(out.constData(), int(out.size()));
  out.clear();
  flush_run();
}

}  // namespace

QColor qt_style_colour(const StyleSpec* style) {
  uint32_t index = style->bits & kStyleBitsIndex;
  if (index == 0) return QColor(style->r, style->g, style->b);
  const DriverColour& c = kDriverIndexColours[index];
  return QColor(c.r, c.g, c.b);
}

QPen qt_style_pen(const StyleSpec* style, bool thick_lines) {
  int width = pen_width(style->bits, thick_lines);
  QPen pen(qt_style_colour(style));
  pen.setWidth(width);
  if (width == kThinPen) {
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    int count = 0;
    const int* dashes = dash_pattern(style->bits & kStyleBitsKind, &count);
    if (count > 0) {
      QList<qreal> pattern;
      for (int i = 0; i < count; ++i) pattern.append(dashes[i]);
      pen.setDashPattern(pattern);  // in pen widths, which are pixels here
    }
  } else {
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
  }
  return pen;
}

// The target's pen and brush for style, built again only when the style,
// the thick-lines setting or the pixel drawing differs from the last call's.
static void shape_tools(QtDriverTarget* t, const StyleSpec* style, bool thick_lines, bool pixels) {
  const StyleSpec& k = t->shape_style;
  if (t->shape_thick == int32_t(thick_lines) && t->shape_pixels == pixels && k.bits == style->bits &&
      k.r == style->r && k.g == style->g && k.b == style->b)
    return;
  t->shape_pen = qt_style_pen(style, thick_lines);
  // Points drawn one by one take a plain solid pen; the dashes are in the points.
  if (pixels) t->shape_pen.setStyle(Qt::SolidLine);
  t->shape_brush = qt_style_fills(style) ? QBrush(qt_style_colour(style)) : QBrush(Qt::NoBrush);
  t->shape_style = *style;
  t->shape_thick = int32_t(thick_lines);
  t->shape_pixels = pixels;
  ++t->shape_builds;
}

void qt_draw_polyline(const double* x, const double* y, int32_t n, const StyleSpec* style,
                      GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t || !x || !y || !style || n <= 0) return;
  uint32_t kind = style->bits & kStyleBitsKind;
  if (kind == kStyleKindInvisible) return;
  QPainter* p = t->painter;
  bool fill = qt_style_fills(style);
  const bool thick_lines = ctx->thick_lines != 0;
  // Points are device pixels only while the painter does not transform.
  bool pixels = t->raster && pen_width(style->bits, thick_lines) == kThinPen &&
                p->transform().type() == QTransform::TxNone;
  shape_tools(t, style, thick_lines, pixels);
  const QPen& pen = t->shape_pen;
  p->setPen(pen);
  p->setBrush(t->shape_brush);
  if (kind > kStyleKindInvisible)
    draw_markers(t, x, y, n, kind, fill, pixels);
  else if (fill)
    draw_filled_polygon(t, x, y, n, pixels && pen.style() == Qt::SolidLine && pen.dashPattern().isEmpty(),
                        t->shape_brush.color());
  else
    draw_lines(t, x, y, n, kind, pixels);
  p->setBrush(Qt::NoBrush);
}

void qt_draw_ellipse(double x, double y, double rx, double ry, const StyleSpec* style, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t || !style) return;
  // The radius limit bounds the magnitude: a radius of -1e300 is no smaller
  // an ellipse than one of 1e300. NaN fails the test and draws nothing too.
  if (!(std::fabs(rx) <= kEllipseRadiusLimit && std::fabs(ry) <= kEllipseRadiusLimit)) return;
  if (!point_is_finite(x, y)) return;
  DeviceBox b = device_box(x - rx, y - ry, x + rx, y + ry);
  if (b.width() < 1 || b.height() < 1) return;
  QRect reach = t->bounds.adjusted(-kDeviceMargin, -kDeviceMargin, kDeviceMargin, kDeviceMargin);
  if (b.right < reach.left() || b.left > reach.right() || b.bottom < reach.top() || b.top > reach.bottom())
    return;  // wholly off the device
  QPainter* p = t->painter;
  p->setPen(qt_style_pen(style, ctx->thick_lines != 0));
  p->setBrush(qt_style_fills(style) ? QBrush(qt_style_colour(style)) : QBrush(Qt::NoBrush));
  p->drawEllipse(stroked_ellipse_rect(b));
  p->setBrush(Qt::NoBrush);
}
