// The graphics driver over QPainter: the drawing tables a view installs, and
// the per-paint target record that the driver context's `device` points to.
// Any paint device works (QImage back buffer, QSvgGenerator, QPdfWriter,
// QPrinter); raster devices get the XOR focus rectangle, vector devices a
// dotted outline in its place.
#pragma once

#include <QBrush>
#include <QFont>
#include <QFontMetrics>
#include <QLineF>
#include <QList>
#include <QPen>
#include <QPoint>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "graphics/render/graphics_driver.h"

class QPainter;

// State of one paint through the driver. Lives as long as the QPainter; the
// driver context's `device` points here between qt_target_begin and
// qt_target_end.
struct QtDriverTarget {
  QPainter* painter = nullptr;
  bool raster = false;    // raster paint engine: aliased drawing, XOR rectangles
  int32_t clip_depth = 0; // clip_begin calls not yet matched by clip_end
  QRect bounds;           // the device's pixels
  QFont font;             // font of draw_text and text_extent
  QFontMetrics metrics{QFont()};  // integer metrics of `font` on the device
  int text_height = 0;    // metrics.height() and .descent(), read once per font
  int text_descent = 0;
  // What draw_text last handed the painter. A text whose font and pen are
  // already the painter's sets neither again: setFont gives the painter a
  // fresh font object whose engine Qt looks up anew at the next drawText.
  // painter_font is the painter's own (device-resolved) copy; compared with
  // painter->font() it stays right across save/restore, and font_on_painter
  // is cleared whenever `font` changes.
  QFont painter_font;
  bool font_on_painter = false;
  QPen text_pen;          // a 1-pixel solid pen in the last text colour
  QString text;           // scratch of the text entries, kept to avoid reallocating
  QList<QPoint> points;   // scratch of the polyline entry, kept to avoid reallocating
  QList<QLineF> lines;    // the same for separate segments
  // Scratch of a filled polygon's outline: edges by their ends and their
  // place in the polygon, and whether each is run along an even number of times.
  std::vector<std::array<uint64_t, 3>> edges;
  std::vector<uint8_t> edge_flags;
  // The pen and fill brush the shape entries last built, for shape_style at
  // shape_thick (thick lines on) and shape_pixels (points drawn one by one).
  // A figure draws long runs in one style (10^6 cells or segments), and
  // building a pen and a brush for each call was a large share of its time.
  StyleSpec shape_style{};
  int32_t shape_thick = -1;  // -1: nothing built yet
  bool shape_pixels = false;
  QPen shape_pen;
  QBrush shape_brush;
  int64_t shape_builds = 0;  // how often the pair was built, for the tests
};

// Prepares painter for drawing through a driver table with ctx: render hints,
// the figure font of ctx, no clip pushed. Sets ctx->device to target.
void qt_target_begin(QtDriverTarget* target, QPainter* painter, GraphicsDriverContext* ctx);
// Pops clips the caller left open and detaches the target from ctx.
void qt_target_end(QtDriverTarget* target, GraphicsDriverContext* ctx);

// The installed tables: entries 0 to 7 and 9 to 11 (frame_rect is null), the
// same in all three. The screen table serves raster targets, the metafile
// table vector copies of a figure. The host rewrites the values before
// installing a table, as the driver table header says.
extern GraphicsDriver g_qt_screen_driver;
extern GraphicsDriver g_qt_metafile_driver;
extern GraphicsDriver g_qt_printer_driver;

// The entry points, also reachable through the tables.
void qt_clip_begin(double left, double right, double top, double bottom, GraphicsDriverContext* ctx);
void qt_clip_end(GraphicsDriverContext* ctx);
void qt_draw_polyline(const double* x, const double* y, int32_t n, const StyleSpec* style,
                      GraphicsDriverContext* ctx);
void qt_draw_ellipse(double x, double y, double rx, double ry, const StyleSpec* style, GraphicsDriverContext* ctx);
void qt_draw_text(double x, double y, const char* text, int32_t length, uint32_t align, const uint8_t* colour,
                  GraphicsDriverContext* ctx);
void qt_text_extent(const char* text, int32_t length, double* width, double* height, GraphicsDriverContext* ctx);
void qt_set_font(const char* face, double size, uint32_t flags, const uint8_t* colour, GraphicsDriverContext* ctx);
void qt_focus_rect(double left, double top, double right, double bottom, int32_t mode, GraphicsDriverContext* ctx);
void qt_draw_image_row(double x, double y, int32_t n, int32_t bands, int32_t cell_width, int32_t rows_per_band,
                       const uint8_t* red, const uint8_t* green, const uint8_t* blue, GraphicsDriverContext* ctx);
void qt_pixel_size(double* width, double* height);
void qt_fill_rect(double left, double top, double right, double bottom, int32_t kind, GraphicsDriverContext* ctx);
