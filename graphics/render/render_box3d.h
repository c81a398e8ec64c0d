// The box around a 3-D subplot: its backdrop, far edges, grid lines and tick
// marks before the data (frame pass), and its outline, tick labels and axis
// names (late pass). Both read only the subplot and draw only through the
// driver; a point that does not project to a finite pixel is skipped.
#pragma once

#include "graphics/plotlist/style_spec.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

// The box values and the seven outline points in pixels with their depth.
void render_box3d_outline(const Subplot* s, double lo[3], double hi[3], double back[3], double front[3], double x[7],
                          double y[7], double depth[7]);
void render_box3d_frame(const Subplot* s, const StyleSpec* axes_style, const StyleSpec* frame_style,
                        const StyleSpec* fill_style, const GraphicsDriver* d, GraphicsDriverContext* ctx);
void render_box3d_labels(const Subplot* s, const StyleSpec* axes_style, const StyleSpec* frame_style,
                         const GraphicsDriver* d, GraphicsDriverContext* ctx);
// Pixels one data unit covers along each axis at the back corner; NaN for
// an axis seen end-on, of no extent, or behind a perspective camera.
void render_box3d_pixels_per_unit(const Subplot* s, const double back[3], const double front[3], double out[3]);
