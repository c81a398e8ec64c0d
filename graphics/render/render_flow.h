// Flowed text and the controls' row: where the flow's first line goes (and
// the scroll state of a subplot whose flow does not fit), text with TAB and
// LF drawn in tab columns, the segment boundaries of a row, and the bevelled
// box of a control. Drawing never fails; counts come bounded by the caller.
#pragma once

#include <cstdint>

#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

constexpr double kMinSegmentWidth = 80.0;  // segments without tab stops are never narrower

// Boundary k of a row of n segments from left to right: from the tab stops
// (t of them, cumulative pixel offsets) when there are any, else equal
// widths of at least kMinSegmentWidth.
double plot_scale_value(double left, double right, int32_t n, const double* stops, int32_t t, int32_t k);
// The segment (from 0) whose next boundary is the first one beyond x; -1
// left of the row's start or right of boundary n.
int32_t scale_find_segment(double left, double right, int32_t n, const double* stops, int32_t t, double x);

// How many of a tab-stop record's k stops have a sample in its text (the
// samples are separated by TAB; nothing after a last TAB is no sample).
int32_t tab_stop_samples(const char* text, int32_t length, int32_t k);

// A slider's value at pixel x of its track and back, linear or logarithmic
// (a log slider whose minimum or ratio is not above 0 is linear). A track or
// range without width gives the left end and the minimum.
double slider_value_to_pixel(double v, double lo, double hi, bool log, double left, double right);
double slider_pixel_to_value(double x, double lo, double hi, bool log, double left, double right);

// Places the flow's first line of `lines` lines of height h in the frame and
// keeps the scroll state: yMode 0 when the flow fits, else 2 with the
// offset scrolled (yOffset) within 0 and the flow's height (yMax).
void render_flow_start(Subplot* s, double h, int32_t lines, double* y);
// Draws text, a TAB moving to the next column and an LF to the next line.
void render_text_lines(double left, double right, double y, double step, int32_t columns, const double* stops,
                       int32_t stop_count, const char* text, int32_t length, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx);
// The box of a control: grey rows through the image entry (light edge on the
// frame's top side), else a white-filled rectangle outlined in the style.
void render_bevel_box(double x0, double x1, double y0, double y1, const StyleSpec* style, bool pressed,
                      const Subplot* s, const GraphicsDriver* d, GraphicsDriverContext* ctx);

// Bevel greys: light edge, face, dark edge; pressed boxes swap the edges.
constexpr uint8_t kBevelLight = 250, kBevelFace = 220, kBevelDark = 127, kBevelPressedFace = 200;
