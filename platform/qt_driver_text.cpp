// Text entries of the QPainter driver: fonts sized in pixels, integer
// metrics (QFontMetrics) measured on the target device, and text placed by
// its cell bottom (baseline = bottom - descent), as a bottom-aligned GDI
// context places it. The font in force lives in the target, not the painter,
// so that clip_end's restore does not undo a set_font.
#include <cmath>

#include <QPainter>

#include "platform/device_geometry.h"
#include "platform/qt_driver_internal.h"
#include "platform/utf8_text.h"

namespace {

// Largest font height accepted, in pixels: bigger requests are cut to it so
// that a wild size in a display list cannot make the rasteriser build huge
// glyphs.
constexpr int kMaxFontPixels = 2048;
constexpr int kFaceNameChars = 32;

int font_pixels(double size, int fallback) {
  int px = device_coord(size);
  if (px <= 0) return fallback > 0 ? fallback : 1;  // height 0: the default size
  return px < kMaxFontPixels ? px : kMaxFontPixels;
}

void use_font(QtDriverTarget* t, const QFont& font) {
  t->font = font;
  if (t->raster) t->font.setStyleStrategy(QFont::NoAntialias);
  t->metrics = QFontMetrics(t->font, t->painter->device());
  t->text_height = t->metrics.height();
  t->text_descent = t->metrics.descent();
  t->font_on_painter = false;
}

// Gives the painter the target's font and a pen of colour c, each only when
// it differs from what the painter holds (see QtDriverTarget::painter_font).
void prepare_painter(QtDriverTarget* t, const QColor& c) {
  QPainter* p = t->painter;
  if (!t->font_on_painter || !(p->font() == t->painter_font)) {
    p->setFont(t->font);
    t->painter_font = p->font();
    t->font_on_painter = true;
  }
  if (t->text_pen.color() != c) t->text_pen.setColor(c);
  if (!(p->pen() == t->text_pen)) p->setPen(t->text_pen);
}

QFont figure_font(const GraphicsDriverContext* ctx) {
  QString face;
  const char* f = ctx->figure_font_face;
  size_t len = 0;
  while (len < sizeof ctx->figure_font_face && f[len]) ++len;
  cstring_from_utf8(f, int32_t(len), &face);
  QFont font(face);
  font.setPixelSize(font_pixels(ctx->figure_font_size, 1));
  return font;
}

// Horizontal offset of the text from x for the align bits.
int horizontal_offset(uint32_t align, int w) {
  if (align & kAlignLeft) return 0;
  if (align & kAlignRight) return -1 - w;
  return -(w / 2);
}

// Bottom edge of the text cell, from y.
int64_t cell_bottom(uint32_t align, int64_t y, int h) {
  if (align & kAlignBelow) return y + h + 1;
  if (align & kAlignAbove) return y - 1;
  return y + h / 2;
}

}  // namespace

void qt_target_use_figure_font(QtDriverTarget* t, const GraphicsDriverContext* ctx) {
  use_font(t, figure_font(ctx));
}

void qt_draw_text(double x, double y, const char* text, int32_t length, uint32_t align, const uint8_t* colour,
                  GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t || !text || length <= 0 || !point_is_finite(x, y)) return;
  // Hot in flowed text: the cell's rows and a left end are known before the
  // text is decoded or measured, and a left-aligned text that starts inside
  // the reach needs no width at all.
  const int h = t->text_height;
  const int64_t baseline = cell_bottom(align, device_coord(y), h) - t->text_descent;
  const QRect reach = t->bounds.adjusted(-kDeviceMargin, -kDeviceMargin, kDeviceMargin, kDeviceMargin);
  if (baseline - h > reach.bottom() || baseline + h < reach.top()) return;  // wholly above or below
  const int64_t x0 = device_coord(x);
  if ((align & kAlignLeft) && x0 > reach.right()) return;
  QString& s = t->text;
  cstring_from_utf8(text, length, &s);
  int64_t left = x0;
  if (!(align & kAlignLeft) || x0 < reach.left()) {
    const int w = t->metrics.horizontalAdvance(s);
    left += horizontal_offset(align, w);
    if (left > reach.right() || left + w < reach.left()) return;  // wholly off; keeps the numbers inside int
  }
  QColor c = Qt::black;  // the text colour in force when nothing was set
  if (colour)
    c = QColor(colour[0], colour[1], colour[2]);
  else if (ctx->text_colour_set)
    c = QColor(ctx->text_colour[0], ctx->text_colour[1], ctx->text_colour[2]);
  prepare_painter(t, c);
  t->painter->drawText(QPoint(int(left), int(baseline)), s);
}

void qt_text_extent(const char* text, int32_t length, double* width, double* height, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t) return;
  if (width) {
    QString& s = t->text;
    cstring_from_utf8(text, text ? length : 0, &s);  // no text, or length <= 0: empty, width 0
    *width = t->metrics.horizontalAdvance(s);
  }
  if (height) *height = t->text_height;
}

void qt_set_font(const char* face, double size, uint32_t flags, const uint8_t* colour, GraphicsDriverContext* ctx) {
  QtDriverTarget* t = qt_target(ctx);
  if (!t) return;
  if (!face) {
    use_font(t, figure_font(ctx));
    ctx->text_colour_set = 0;
    return;
  }
  size_t len = 0;
  while (face[len] && len < size_t(kFaceNameChars) * 4) ++len;  // 32 characters take at most 128 bytes
  QString family;
  cstring_from_utf8(face, int32_t(len), &family);
  family.truncate(kFaceNameChars);
  // A family the machine lacks falls back to Qt's nearest match, as a face
  // that cannot be created falls back to a point font of the same size.
  QFont font(family);
  font.setPixelSize(font_pixels(size, t->font.pixelSize()));
  font.setBold(flags & kFontBold);
  font.setItalic(flags & kFontItalic);
  font.setUnderline(flags & kFontUnderline);
  use_font(t, font);
  if (!colour || (colour[0] == 0 && colour[1] == 0 && colour[2] == 0)) {
    ctx->text_colour_set = 0;
  } else {
    ctx->text_colour[0] = colour[0];
    ctx->text_colour[1] = colour[1];
    ctx->text_colour[2] = colour[2];
    ctx->text_colour_set = 1;
  }
}
