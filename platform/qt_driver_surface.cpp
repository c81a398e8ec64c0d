// The QPainter driver's surface entries: clipping, rectangle fills, the XOR
// focus rectangle, image rows and the pixel size; the three installed tables
// and the start and end of a paint through them. A box (l, t)-(r, b) covers
// pixels l to r - 1 and t to b - 1, so fills and clips take width r - l.
#include <algorithm>

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPolygon>

#include "platform/device_geometry.h"
#include "platform/qt_driver_internal.h"

namespace {

// Size given to a vector device that reports none (an SVG generator without
// a size): large enough never to cut a figure.
constexpr int kUnsizedDeviceExtent = 1 << 16;

// The box cut to the device grown by the margin: same visible pixels, small numbers.
DeviceBox reach_box(const QtDriverTarget* t, DeviceBox b) {
  int32_t lo = -kDeviceMargin;
  int32_t hi = (t->bounds.width() > t->bounds.height() ? t->bounds.width() : t->bounds.height()) + kDeviceMargin;
  return clamp_box(b, lo, hi);
}

QColor colour_ref(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

bool beyond_focus_limits(double a, double b) {
  return (a < 0 && b < 0) || (a > kFocusRectLimit && b > kFocusRectLimit);
}

// The pixels (x + y even) of the border of the box on the device, each once,
// so that drawing them twice with XOR restores the image.
void focus_points(const QRect& dev, const DeviceBox& b, QPolygon* out) {
  int64_t r = int64_t(b.right) - 1, bot = int64_t(b.bottom) - 1;
  auto put = [&](int64_t x, int64_t y) {
    if (((x + y) & 1) == 0 && x >= dev.left() && x <= dev.right() && y >= dev.top() && y <= dev.bottom())
      out->append(QPoint(int(x), int(y)));
  };
  auto row = [&](int64_t y) {
    if (y < dev.top() || y > dev.bottom()) return;
    for (int64_t x = std::max<int64_t>(b.left, dev.left()); x <= std::min<int64_t>(r, dev.right()); ++x) put(x, y);
  };
  auto column = [&](int64_t x) {
    if (x < dev.left() || x > dev.right()) return;
    for (int64_t y = std::max<int64_t>(int64_t(b.top) + 1, dev.top()); y <= std::min<int64_t>(bot - 1, dev.bottom());
         ++y)
      put(x, y);
  };
  row(b.top);
  if (bot != b.top) row(bot);
  column(b.left);
  if (r != b.left) column(r);
}

}  // namespace

void qt_clip_begin(double left, double right, double top, double bottom, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t) return;
  DeviceBox b = reach_box(t, device_box(left, top, right, bottom));
  t->painter->save();
  ++t->clip_depth;
  t->painter->setClipRect(QRect(b.left, b.top, int(b.width()), int(b.height())), Qt::IntersectClip);
}

void qt_clip_end(GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t || t->clip_depth <= 0) return;  // an unmatched end restores nothing
  --t->clip_depth;
  t->painter->restore();
}

void qt_fill_rect(double left, double top, double right, double bottom, int32_t kind, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t) return;
  DeviceBox b = reach_box(t, device_box(left, top, right, bottom));
  if (b.width() <= 0 || b.height() <= 0) return;
  QColor c = kind == kFillWhite ? QColor(Qt::white) : colour_ref(ctx->background_colour);
  t->painter->fillRect(QRect(b.left, b.top, int(b.width()), int(b.height())), c);
}

void qt_focus_rect(double left, double top, double right, double bottom, int32_t, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t) return;
  if (beyond_focus_limits(left, right) || beyond_focus_limits(top, bottom)) return;
  if (!point_is_finite(left, top) || !point_is_finite(right, bottom)) return;
  DeviceBox b = device_box(left, top, right, bottom);
  if (b.width() <= 0 || b.height() <= 0) return;
  if (!t->raster) {
    // A page or a vector copy cannot be drawn over again to take a mark
    // away: it gets the dotted outline that the screen's inverting dots
    // leave on a light background.
    QPainter* p = t->painter;
    p->save();
    p->setPen(QPen(Qt::black, 0, Qt::DotLine));
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRectF(b.left, b.top, double(b.width() - 1), double(b.height() - 1)));
    p->restore();
    return;
  }
  QPolygon pts;
  focus_points(t->bounds, b, &pts);
  if (pts.isEmpty()) return;
  QPainter* p = t->painter;
  p->save();
  p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  QPen pen(Qt::white);
  pen.setWidth(1);
  p->setPen(pen);
  p->drawPoints(pts);
  p->restore();
}

void qt_draw_image_row(double x, double y, int32_t n, int32_t bands, int32_t cell_width, int32_t rows_per_band,
                       const uint8_t* red, const uint8_t* green, const uint8_t* blue, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t || !red || n <= 0 || bands <= 0 || cell_width <= 0 || rows_per_band <= 0) return;
  if (!point_is_finite(x, y)) return;
  bool grey = !green || !blue;
  // Only the part of the row that lands on the device is built: the row of
  // n x cellWidth pixels and bands x rowsPerBand rows may be far larger.
  int64_t x0 = device_coord(x), y0 = device_coord(y);
  int64_t x1 = x0 + int64_t(n) * cell_width, y1 = y0 + int64_t(bands) * rows_per_band;
  int64_t vx0 = std::max<int64_t>(x0, t->bounds.left()), vx1 = std::min<int64_t>(x1, int64_t(t->bounds.right()) + 1);
  int64_t vy0 = std::max<int64_t>(y0, t->bounds.top()), vy1 = std::min<int64_t>(y1, int64_t(t->bounds.bottom()) + 1);
  if (vx0 >= vx1 || vy0 >= vy1) return;
  QImage row(int(vx1 - vx0), 1, QImage::Format_RGB32);
  if (row.isNull()) return;  // the row cannot be allocated: nothing drawn
  QRgb* px = reinterpret_cast<QRgb*>(row.scanLine(0));
  for (int64_t X = vx0; X < vx1; ++X) {
    int64_t i = (X - x0) / cell_width;
    uint8_t r = red[i];
    *px++ = grey ? qRgb(r, r, r) : qRgb(r, green[i], blue[i]);
  }
  // Every band repeats the same row: one scaled blit covers all the rows.
  t->painter->drawImage(QRect(int(vx0), int(vy0), int(vx1 - vx0), int(vy1 - vy0)), row);
}

void qt_pixel_size(double* width, double* height) {
  if (width) *width = 1.0;
  if (height) *height = 1.0;
}

void qt_target_begin(QtDriverTarget* target, QPainter* painter, GraphicsDriverContext* ctx) {
  target->painter = painter;
  QPaintEngine* engine = painter->paintEngine();
  // Pixel-exact drawing (pixel lines, XOR marks) only where a drawing unit is
  // a device pixel: a raster painter scaled to a page draws like a vector one.
  target->raster = engine && engine->type() == QPaintEngine::Raster && painter->transform().isIdentity();
  painter->setRenderHint(QPainter::Antialiasing, !target->raster);
  painter->setRenderHint(QPainter::TextAntialiasing, !target->raster);
  painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  QPaintDevice* dev = painter->device();
  int w = dev && dev->width() > 0 ? dev->width() : kUnsizedDeviceExtent;
  int h = dev && dev->height() > 0 ? dev->height() : kUnsizedDeviceExtent;
  target->bounds = QRect(0, 0, w, h);
  target->clip_depth = 0;
  qt_target_use_figure_font(target, ctx);
  ctx->device = target;
  // The pixel rule the cell renderer relies on is the raster one of
  // qt_draw_polyline's filled polygons (fillRect for boxes, Qt's aliased
  // polygon with a 1-pixel pen for flat ones).
  ctx->pixel_exact = target->raster ? 1 : 0;
}

void qt_target_end(QtDriverTarget* target, GraphicsDriverContext* ctx) {
  while (target->clip_depth > 0) {
    --target->clip_depth;
    target->painter->restore();
  }
  if (ctx->device == target) {
    ctx->device = nullptr;
    ctx->pixel_exact = 0;
  }
}

GraphicsDriver g_qt_screen_driver = {
    qt_clip_begin, qt_clip_end, qt_draw_polyline, qt_draw_ellipse, qt_draw_text, qt_text_extent, qt_set_font,
    qt_focus_rect, nullptr, qt_draw_image_row, qt_pixel_size, qt_fill_rect, kScreenDriverValues, 0};
GraphicsDriver g_qt_metafile_driver = {
    qt_clip_begin, qt_clip_end, qt_draw_polyline, qt_draw_ellipse, qt_draw_text, qt_text_extent, qt_set_font,
    qt_focus_rect, nullptr, qt_draw_image_row, qt_pixel_size, qt_fill_rect, kMetafileValuesBase, 0};
GraphicsDriver g_qt_printer_driver = {
    qt_clip_begin, qt_clip_end, qt_draw_polyline, qt_draw_ellipse, qt_draw_text, qt_text_extent, qt_set_font,
    qt_focus_rect, nullptr, qt_draw_image_row, qt_pixel_size, qt_fill_rect, kPrinterDriverValues, 0};
