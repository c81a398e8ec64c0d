// The legend box of a subplot: one geometry shared by drawing and the hit
// test, so that the box that is drawn is the box that is grabbed. Entries
// are the lines of one byte string (line feeds between them), each with a
// style {bits, packed colour}.
#pragma once

#include <cstdint>

#include "graphics/plotlist/style_spec.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

// optionFlags bits of the legend's corner.
enum : uint32_t {
  kOptLegendLeft = 0x40000,
  kOptLegendBottom = 0x80000,
};

struct LegendLayout {
  double cx, cy, hw, hh;  // centre and half sizes
  double entryX;          // x of the samples' centre
  double entryY;          // y of the first entry
  double lineStep;        // signed, from one entry to the next
  double sample;          // length of a line sample
};

void legend_box_layout(const Subplot* s, int32_t n, int32_t text_length, const char* text, bool framed,
                       const GraphicsDriver* d, GraphicsDriverContext* ctx, LegendLayout* out);
// Strictly inside the box: the border itself is outside.
bool legend_box_contains(const Subplot* s, int32_t n, int32_t text_length, const char* text, double px, double py,
                         bool framed, const GraphicsDriver* d, GraphicsDriverContext* ctx);
// styles: n pairs {style bits, packed colour}.
void legend_render(const Subplot* s, int32_t n, int32_t text_length, const char* text, const double* styles,
                   bool framed, const StyleSpec* frame_style, const StyleSpec* back_style, const GraphicsDriver* d,
                   GraphicsDriverContext* ctx);
