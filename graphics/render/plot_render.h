// The display-list interpreter: draws one graphical object of a list (its
// opening record and every record up to the next one) through the driver
// table in the pixel coordinates of its subplot. A record that cannot be
// drawn (no driver entry, a wrong kind of subplot) is skipped; one whose
// working memory cannot be had is left out and the room records the failure.
// Every count read from a record is bounded by the record and the list end.
#pragma once

#include <cstdint>

#include "graphics/plotlist/style_spec.h"
#include "graphics/render/draw_room.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

// The interpreter's arguments. Absent styles (null) take their defaults.
struct RenderRequest {
  double* list;  // writable: the tab-stop record is rewritten in place
  int32_t length;
  // Where the records' working memory comes from; null: the call takes a
  // room of its own and gives it back at its end. A caller that passes one
  // learns from it whether memory ran out (draw_room_failed).
  DrawRoom* room;
  Subplot* subplot;
  int32_t* start;  // in: the opening record; out: the next one, or length
  const StyleSpec* default_style;
  const StyleSpec* fill_style;
  const StyleSpec* frame_style;
  const StyleSpec* chart_style;
  const StyleSpec* axes_style;
  int32_t edit_flag;  // < 0: no text field is being edited
  int32_t edit_record;
  int32_t edit_caret;
  int32_t edit_anchor;
  bool no_draw;
  const GraphicsDriver* driver;
  GraphicsDriverContext* context;
  // The dragged slider's live thumb: the slider of this id and index shows
  // thumb live_thumb (from 1; 0 none) at live_value instead of its own.
  int32_t live_id;
  int32_t live_index;
  int32_t live_thumb;
  double live_value;
};

// True when further objects follow (start out < length).
bool plotlist_render(const RenderRequest* q);
// The tab columns of the flow of the object at `start` (at least 1), as the
// interpreter counts them before laying the flow out.
int32_t plotlist_flow_columns(const double* list, int32_t length, int32_t start);
// Fills the figure's background (the fill entry's background kind).
void plot_fill_background(double left, double right, double top, double bottom, const GraphicsDriver* driver,
                          GraphicsDriverContext* context);
// A rectangle outline as a closed five-point polyline.
void plot_driver_rect(double x0, double x1, double y0, double y1, const StyleSpec* style,
                      const GraphicsDriver* driver, GraphicsDriverContext* context);
// Re-measures the character cell and takes the driver's margins.
void render_reset_styles(Subplot* s, const GraphicsDriver* driver, GraphicsDriverContext* context);

// Styles used when the figure supplies none.
constexpr StyleSpec kRenderDefaultStyle = {0, 0, 0, 0};
constexpr StyleSpec kRenderFillStyle = {kStyleBitFill | 7, 0, 0, 0};
constexpr StyleSpec kRenderFrameStyle = {kStyleKindSolidN, 0, 0, 0};
constexpr StyleSpec kRenderChartStyle = {kStyleKindSolidN, 0, 0, 0};
constexpr StyleSpec kRenderAxesStyle = {0, 0, 0, 0};
