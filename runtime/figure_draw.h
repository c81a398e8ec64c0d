// Drawing an instance's figure through the block's graphics driver: the
// background, each subplot's object of the committed display list, and the
// selection marks. The subplot frames come from the layout; no handler runs.
#pragma once

#include <cstdint>

#include "graphics/render/draw_room.h"
#include "graphics/render/graphics_driver.h"
#include "runtime/runtime_block.h"

// Draws the object at *start of the instance's list and moves *start to
// the next object; false when there is nothing (more) to draw. The records'
// working memory comes from `room` (null: a room of the call's own).
bool plot_draw_objects(RuntimeBlock* b, int32_t id, int32_t* start, bool no_draw, const GraphicsDriver* driver,
                       GraphicsDriverContext* context, DrawRoom* room = nullptr);
// Draws the whole figure. 0, or kRtPlotOverflow when the memory some
// records needed could not be had: the figure then holds everything else,
// and the caller shows the failure as it shows a handler's.
int figure_draw(RuntimeBlock* b, int32_t id);
// Draws the objects of subplot k alone, in list order; the same result.
int figure_draw_subplot(RuntimeBlock* b, int32_t id, int32_t k);
// Draws (on) or erases (off) the selection mark of subplot k.
void inst_draw_subplot(RuntimeBlock* b, int32_t id, int32_t k, bool mark_on);
// Draws the current subplot alone into the rectangle (l, r, t, b): its plot
// handler runs to build its object, which is drawn (a cell without one of
// its own, drawn into through `subplot`, has its objects drawn as the list
// holds them), then the layout and the instance are refreshed. Without a
// current subplot that has something to draw the whole figure is drawn;
// kRtNonexistentInstance for a missing instance.
// Handlers may grow the block: everything is read again through the handle.
int inst_draw_current_subplot(RuntimeBlock** handle, int32_t id, double left, double right, double top,
                              double bottom);
// The context record the installed driver is handed.
GraphicsDriverContext* rt_graphics_context(RuntimeBlock* b);
