// Helpers shared by the files of the QPainter driver; not part of its surface.
#pragma once

#include <QColor>
#include <QPen>

#include "platform/qt_driver.h"

// The target of a context, or null when the context has none (nothing drawn).
inline QtDriverTarget* qt_target(GraphicsDriverContext* ctx) {
  if (!ctx || !ctx->device) return nullptr;
  QtDriverTarget* t = static_cast<QtDriverTarget*>(ctx->device);
  return t->painter ? t : nullptr;
}

// Pen colour of a style: index 0 the style's own r, g, b; 1 to 7 the driver's colours.
QColor qt_style_colour(const StyleSpec* style);
// The pen for a style, with thick lines on or off.
QPen qt_style_pen(const StyleSpec* style, bool thick_lines);
// Whether a style fills closed shapes: fill bit without thick bit.
inline bool qt_style_fills(const StyleSpec* style) {
  return (style->bits & kStyleBitsPen) == kStyleBitFill;
}

// Device pixels beyond which nothing is visible: rectangles are cut to the
// device grown by this margin before Qt sees them.
constexpr int32_t kDeviceMargin = 16;

// Makes the figure font of ctx the target's font.
void qt_target_use_figure_font(QtDriverTarget* t, const GraphicsDriverContext* ctx);
