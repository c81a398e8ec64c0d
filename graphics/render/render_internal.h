// State of one interpreter call, shared by the record drawers. Internal to
// graphics/render.
#pragma once

#include <cstdint>

#include "graphics/plotlist/plot_records.h"
#include "graphics/render/plot_render.h"

struct Scene;

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
  DrawRoom* room;
  bool font_changed;
  // The flow (render_flow.cpp): started at its first record, the pixel y
  // of its next line, and the stops of the last tab-stop record.
  bool flow_started;
  double flow_y;
  double* tabs;
  int32_t tab_count;
  // The open pop-up menu drawn after everything else (-1: none).
  int32_t deferred_menu;
  double deferred_menu_y;
  // 3-D subplots: the scene in the room's scene region (null: none).
  Scene* scene;
  // The records that feed the scene, and the one curve that is all of it
  // (-1: none): its segments are alike and need no ordering, so it is drawn
  // without the scene, in its place at the object's end.
  int32_t scene_feeders;
  int32_t lone_curve;
};

// Working memory of a record: at least `count` doubles of the room's points
// region (its contents are not kept from one request to the next), or null
// when memory ran out, which the room then records.
double* render_points(RenderState* st, int64_t count);

// Record drawers (render_lines.cpp, render_image.cpp, render_cells.cpp).
void render_polyline(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_clipped_line(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_ellipses(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_bars(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_multi_polyline(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_line3(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_image(RenderState* st, const PlotRecord& rec);
void render_cells(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_eigen_locus(RenderState* st, const PlotRecord& rec);  // render_locus.cpp

// Flowed text, positioned text, tab stops and controls (render_flow.cpp):
// false for any other code. Runs in the drawing and the layout pass.
bool render_flow_record(RenderState* st, const PlotRecord& rec);
// The "..." marks of a scrolled flow, in the closing bracket.
void render_flow_marks(RenderState* st);
// A control laid out (and drawn, in the drawing pass) on the flow's line
// at pixel y (render_controls.cpp).
void render_control(RenderState* st, const PlotRecord& rec, double y);
// The deferred open pop-up menu, drawn last.
void render_deferred_menu(RenderState* st);

// The record's style with the figure's default style substituted.
StyleSpec render_effective_style(const RenderState* st, const PlotRecord& rec);

// The 3-D scene (render_scene.cpp): set up in the room's scene region, fed
// by records 1, 2, 13, 14, 15 and 57, drawn at the object's end. Before a
// record is fed the scene is given room for every primitive it can add.
void render_scene_setup(RenderState* st);
// Room for `more` primitives beyond those added; false when memory ran out.
bool render_scene_reserve(RenderState* st, int64_t more);
void render_polyline3(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
// A curve of a 3-D subplot straight to the driver, run by run (render_lines.cpp).
void render_curve3(RenderState* st, const PlotRecord& rec, const StyleSpec& style);
void render_line3_to_scene(RenderState* st, const PlotRecord& rec);
// The ends of a code-14 line across the subplot's limits (render_lines.cpp).
bool render_line3_ends(const RenderState* st, const PlotRecord& rec, double x[2], double y[2], double z[2]);
void render_polygons(RenderState* st, const PlotRecord& rec);
void render_text3_to_scene(RenderState* st, const PlotRecord& rec);
void render_scene(RenderState* st);

// Both ends finite.
bool render_finite(double x, double y);
// A pixel coordinate or depth of a 3-D point in single precision, as the
// scene holds it and as a curve drawn without the scene takes it. A finite
// value beyond the range becomes the largest there is, so that a point far
// along the view direction is drawn either way (out-of-range narrowing is
// undefined, and an infinite depth would drop it from the scene alone);
// NaN and infinities stay as they are and drop the point on both ways.
float render_narrow(double v);
