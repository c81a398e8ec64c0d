// The graphics driver table: the twelve drawing entry points through which
// every figure is drawn, followed by eight device values and the flip byte.
// Any entry point may be null; every caller tests before it calls and draws
// less. Coordinates are doubles in device pixels, y downward; a driver
// truncates them toward zero. This header is plain data: no platform types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graphics/plotlist/style_spec.h"

// The appearance the host owns reaches the driver through this record; the
// runtime block holds a pointer to it (its driver context) next to the table.
// A driver keeps its own target state behind `device`.
struct GraphicsDriverContext {
  void* device;                // the driver's target (painter, recorder, ...)
  uint32_t background_colour;  // 0x00BBGGRR, used by fill_rect kinds other than white
  int32_t thick_lines;         // non-zero: pens one step wider
  char figure_font_face[32];   // UTF-8, zero-terminated
  double figure_font_size;     // character height in pixels
  // Text colour given with the last set_font that named a face.
  uint8_t text_colour[3];
  uint8_t text_colour_set;
  // Set by the driver with `device` when its target is an aliased raster in
  // device pixels that fills a 4-corner polygon running round an
  // axis-parallel box exactly on the pixels from its smallest to its largest
  // truncated corner, both included, and fills none when all four corners
  // fall on one pixel; the last fill over a pixel shows. The cell renderer
  // then hands whole pixel rows to draw_image_row instead of a polygon per
  // cell. Zero for pages and vector copies, which draw every cell.
  uint8_t pixel_exact;
};

constexpr uint32_t kDefaultBackgroundColour = 0xE5E5E5;
constexpr int32_t kDefaultThickLines = 0;
constexpr char kDefaultFigureFontFace[] = "Arial";
constexpr double kDefaultFigureFontSize = 11.0;
static_assert(sizeof(kDefaultFigureFontFace) <= sizeof(GraphicsDriverContext::figure_font_face));

// Fills the appearance with the defaults; `device` and `pixel_exact` are
// left to the caller.
inline void graphics_context_defaults(GraphicsDriverContext* c) {
  c->background_colour = kDefaultBackgroundColour;
  c->thick_lines = kDefaultThickLines;
  for (size_t i = 0; i < sizeof c->figure_font_face; ++i)
    c->figure_font_face[i] = i < sizeof kDefaultFigureFontFace ? kDefaultFigureFontFace[i] : '\0';
  c->figure_font_size = kDefaultFigureFontSize;
  c->text_colour[0] = c->text_colour[1] = c->text_colour[2] = 0;
  c->text_colour_set = 0;
}

// Entry point types, in table order. Rectangles: clip_begin takes left,
// right, top, bottom; focus_rect, frame_rect and fill_rect take left, top,
// right, bottom.
using DrvClipBegin = void (*)(double left, double right, double top, double bottom, GraphicsDriverContext* ctx);
using DrvClipEnd = void (*)(GraphicsDriverContext* ctx);
using DrvDrawPolyline = void (*)(const double* x, const double* y, int32_t n, const StyleSpec* style,
                                 GraphicsDriverContext* ctx);
using DrvDrawEllipse = void (*)(double x, double y, double rx, double ry, const StyleSpec* style,
                                GraphicsDriverContext* ctx);
// colour: three bytes r, g, b, or null for the current text colour.
using DrvDrawText = void (*)(double x, double y, const char* text, int32_t length, uint32_t align,
                             const uint8_t* colour, GraphicsDriverContext* ctx);
using DrvTextExtent = void (*)(const char* text, int32_t length, double* width, double* height,
                               GraphicsDriverContext* ctx);
// face null: back to the figure font. size in points; flags kFontBold etc.
using DrvSetFont = void (*)(const char* face, double size, uint32_t flags, const uint8_t* colour,
                            GraphicsDriverContext* ctx);
using DrvFocusRect = void (*)(double left, double top, double right, double bottom, int32_t mode,
                              GraphicsDriverContext* ctx);
using DrvFrameRect = void (*)(double left, double top, double right, double bottom, GraphicsDriverContext* ctx);
// A row of n cells, cellWidth pixels each, repeated downward rowsPerBand
// times for each of bands bands; green and blue null: grey cells from red.
using DrvDrawImageRow = void (*)(double x, double y, int32_t n, int32_t bands, int32_t cell_width,
                                 int32_t rows_per_band, const uint8_t* red, const uint8_t* green,
                                 const uint8_t* blue, GraphicsDriverContext* ctx);
using DrvPixelSize = void (*)(double* width, double* height);
using DrvFillRect = void (*)(double left, double top, double right, double bottom, int32_t kind,
                             GraphicsDriverContext* ctx);

// The eight device values, in table order.
struct GraphicsDriverValues {
  double marginLeft;    // character widths
  double marginRight;   // character widths
  double marginTop;     // line heights
  double marginBottom;  // line heights
  double unitScaleX;    // pixel width to the units of _width
  double unitScaleY;    // pixel height to the units of _height
  double gridStepX;     // pixels
  double gridStepY;     // pixels
};
static_assert(sizeof(GraphicsDriverValues) == 8 * sizeof(double));

struct GraphicsDriver {
  DrvClipBegin clip_begin;          // 0
  DrvClipEnd clip_end;              // 1
  DrvDrawPolyline draw_polyline;    // 2
  DrvDrawEllipse draw_ellipse;      // 3
  DrvDrawText draw_text;            // 4
  DrvTextExtent text_extent;        // 5
  DrvSetFont set_font;              // 6
  DrvFocusRect focus_rect;          // 7
  DrvFrameRect frame_rect;          // 8
  DrvDrawImageRow draw_image_row;   // 9
  DrvPixelSize pixel_size;          // 10
  DrvFillRect fill_rect;            // 11
  GraphicsDriverValues values;
  // Non-zero: subplot positions count upward. No table of ours sets it.
  uint8_t flip_vertical;
};
constexpr int kDriverEntryCount = 12;
static_assert(offsetof(GraphicsDriver, values) == kDriverEntryCount * sizeof(void*));
static_assert(offsetof(GraphicsDriver, flip_vertical) == offsetof(GraphicsDriver, values) + sizeof(GraphicsDriverValues));

// Values of the installed tables. The host rewrites the screen table's values
// to kScreenPaintValues before each paint and to the metafile values (grid
// step h/2, h the height of "0") before a metafile copy.
constexpr GraphicsDriverValues kEmptyDriverValues = {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 8.0, 8.0};
constexpr GraphicsDriverValues kScreenDriverValues = {5.0, 0.5, 1.5, 1.5, 1.0, 1.0, 8.0, 8.0};
constexpr GraphicsDriverValues kScreenPaintValues = {5.0, 0.5, 2.0, 2.0, 1.0, 1.0, 8.0, 8.0};
constexpr GraphicsDriverValues kMetafileValuesBase = {5.0, 0.5, 1.5, 1.3, 1.0, 1.0, 0.0, 0.0};
constexpr GraphicsDriverValues kPrinterDriverValues = {5.0, 0.5, 1.5, 1.5, 1.0, 1.0, 24.0, 24.0};

// The table installed until a view installs its own: nothing is drawn.
// inline: one object, so that its address names it in every file.
inline constexpr GraphicsDriver kEmptyGraphicsDriver = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                 kEmptyDriverValues, 0};

// Margins and character cell used by a subplot's drawing setup when no
// table is installed, or the table cannot measure text.
constexpr GraphicsDriverValues kNoDriverValues = {5.0, 0.5, 1.5, 1.5, 1.0, 1.0, 8.0, 8.0};
constexpr double kNoExtentCharWidth = 10.0;
constexpr double kNoExtentCharHeight = 12.0;

// draw_text align bits.
constexpr uint32_t kAlignLeft = 1;   // x is the left end
constexpr uint32_t kAlignRight = 2;  // x is the right end (text ends one pixel left of it)
constexpr uint32_t kAlignBelow = 4;  // the text's top lies one pixel below y
constexpr uint32_t kAlignAbove = 8;  // the text's bottom lies one pixel above y

// set_font flags.
constexpr uint32_t kFontBold = 1;
constexpr uint32_t kFontItalic = 2;
constexpr uint32_t kFontUnderline = 4;

// fill_rect kinds: white, or the background colour for any other kind.
constexpr int32_t kFillWhite = 1;
constexpr int32_t kFillBackground = 0;

// Geometry every driver keeps.
constexpr double kPolylineBand = 20000.0;   // segments wholly beyond one side are moved over
constexpr double kEllipseRadiusLimit = 5000.0;  // larger radii draw nothing
constexpr double kFocusRectLimit = 2000.0;  // rectangles wholly beyond 0..limit draw nothing

// Pen colours of the colour indexes 1 to 7 (index 0 uses the style's r, g, b);
// the driver's own colours, not the style palette.
struct DriverColour {
  uint8_t r, g, b;
};
constexpr DriverColour kDriverIndexColours[8] = {
    {0, 0, 0}, {0, 0, 255}, {0, 153, 0}, {0, 204, 255}, {255, 0, 0}, {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
