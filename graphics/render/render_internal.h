// State of one interpreter call, shared by the record drawers. Internal to
// graphics/render.
#pragma once

#include <cstdint>

#include "graphics/plotlist/plot_records.h"
#include "graphics/render/plot_render.h"

struct RenderState {
  const RenderRequest* q;
  Subplot* s;
  const GraphicsDriver* drv;
  GraphicsDriverContext* ctx;
  bool draw;
  bool is3d;
  bool framed;
  StyleSpec default_style, fill_style, frame_style, chart_style, axes_style;
  // The last colour-map record: m entries, planes r, g, b (null: none).
  const double* map_r;
  const double* map_g;
  const double* map_b;
  int32_t map_m;
  int32_t light_record;
  int32_t material_record;
  int32_t lines, columns;
  double line_height, arrow_size, clamp;
  double* scratch;
  int32_t scratch_size;
  bool font_changed;
};

// Record drawers (render_lines.cpp, render_image.cpp).
void render_polyline(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_clipped_line(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_ellipses(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_bars(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_multi_polyline(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_line3(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_image(RenderState* st, const PlotRecord& rec);
void render_cells(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_eigen_locus(RenderState* st, const PlotRecord& rec);  // render_locus.cpp

// Both ends finite.
bool render_finite(double x, double y);
