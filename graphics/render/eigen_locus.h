// The eigenvalue-locus raster: how far each point of the complex plane is
// from being a root of a polynomial whose coefficients may move with the
// weighting W, drawn as coloured image rows mirrored about the real axis.
// Public so that the erlocus command's tests can check the distance.
#pragma once

#include <cstdint>

#include "graphics/render/draw_room.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

// The weighted squared distance from p (degree n, leading first; all but
// the leading coefficient may move) to the nearest polynomial with a root
// at x + i y. W is n by n, row by row; scratch holds 2n doubles.
double erlocus_root_distance(const double* p, const double* W, int32_t n, double x, double y, double* scratch);

// Draws the raster of a locus record over the subplot's visible range: k
// squared levels with their colours (3 bytes each), or the fixed bands
// without levels. Its working memory (3 bytes per column and 2n doubles)
// comes from the room; nothing is drawn without the image entry or when
// that memory cannot be had.
void curve_render_adaptive(const double* p, const double* W, int32_t n, int32_t k, const double* levels2,
                           const uint8_t* colours, DrawRoom* room, const Subplot* s,
                           const GraphicsDriver* drv, GraphicsDriverContext* ctx);
