// Axes of 2-D subplots: frame lines, tick marks, tick labels and axis names
// drawn after the records; grid lines and the polar grid drawn before them;
// and the line, circle and rule helpers the charts share. They read only the
// subplot and draw only through the driver table; nothing here fails.
#pragma once

#include "graphics/plotlist/style_spec.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

// optionFlags bits of the axes.
enum : uint32_t {
  kOptFrameHorizontal = 0x1,
  kOptTicksX = 0x2,
  kOptGridX = 0x4,
  kOptLabelsX = 0x8,
  kOptFrameVertical = 0x10,
  kOptTicksY = 0x20,
  kOptGridY = 0x40,
  kOptLabelsY = 0x80,
};

void axes_render(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx);
void grid_render(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx);
void polar_grid_render(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx);
// The line a x + b y = c across the visible range (linear axes only).
void render_straight_line(const Subplot* s, double a, double b, double c, const StyleSpec* style,
                          const GraphicsDriver* d, GraphicsDriverContext* ctx);
// Circle of data radius r about the data point (x, y); an ellipse when the
// axes scale differently.
void render_circle_data(const Subplot* s, double x, double y, double r, const StyleSpec* style,
                        const GraphicsDriver* d, GraphicsDriverContext* ctx);
void render_hline_data(const Subplot* s, double y, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx);
void render_vline_data(const Subplot* s, double x, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx);

// Tick label text of value v (the compact general number format); returns
// the length written into buf (at most kTickLabelBytes).
constexpr int32_t kTickLabelBytes = 20;
int32_t axis_label_text(double v, char* buf);

// The room of a tick label of n characters drawn at (x, y) with the align
// bits, as the driver places text: n character widths by one line height.
// Measured by count rather than through the driver, so that choosing labels
// draws nothing and costs no driver call; a digit is the widest character a
// label holds, and the character width is the width of "0".
struct TickLabelBox {
  double left, right, top, bottom;
};
TickLabelBox tick_label_box(double x, double y, int32_t n, uint32_t align, double char_width, double line_height);
// Neighbouring labels are apart when half a character width lies between
// them across, or a quarter line up and down; closer, they read as one.
bool tick_labels_apart(const TickLabelBox& a, const TickLabelBox& b, double char_width, double line_height);
