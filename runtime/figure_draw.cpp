// Figure drawing. Lists are read from the plot store through the bounded
// reader; the records' working memory is one drawing room for the whole
// figure, outside the block, so nothing here moves the list.
#include "runtime/figure_draw.h"

#include <algorithm>

#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/render/plot_render.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/runtime_status.h"

namespace {

constexpr double kHandleHalf = 3.0;  // free-layout handles are 6 x 6
constexpr StyleSpec kMarkStyle = {kStyleKindDashed, 0, 0, 0};
enum : int32_t {
  kStyleDefaultSlot,
  kStyleFillSlot,
  kStyleChartSlot,
  kStyleFrameSlot,
  kStyleAxesSlot,
  kStyleInteractiveAxesSlot
};

int32_t cell_count(const InstanceRec* rec) {
  return std::min(std::max(0, rec->rows) * std::max(0, rec->cols), kMaxSubplots);
}

// A rectangle through the mark entry, else the frame entry, else a polyline.
void mark_rect(const GraphicsDriver* d, GraphicsDriverContext* ctx, double l, double t, double r, double bo,
               bool on) {
  if (d->focus_rect)
    d->focus_rect(l, t, r, bo, on ? 1 : 0, ctx);
  else if (d->frame_rect)
    d->frame_rect(l, t, r, bo, ctx);
  else
    plot_driver_rect(l, r, t, bo, &kMarkStyle, d, ctx);
}

}  // namespace

GraphicsDriverContext* rt_graphics_context(RuntimeBlock* b) {
  return static_cast<GraphicsDriverContext*>(b->h.driver_context);
}

bool plot_draw_objects(RuntimeBlock* b, int32_t id, int32_t* start, bool no_draw, const GraphicsDriver* driver,
                       GraphicsDriverContext* context, DrawRoom* room) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec || !driver) return false;
  PlotStore* store = rt_plot_store(b);
  double* area = plotstore_data(store);
  double* list = nullptr;
  int32_t length = 0;
  int32_t pos = 0;
  if (plotstore_find(store, id, &pos, &length)) {
    list = area + pos;
  } else if (b->h.build.key == id && b->h.build.subplot >= 0) {
    // Drawing while the list is built (drawnow): what it holds so far.
    list = area + b->h.build.start;
    length = b->h.build.used;
  }
  if (!list || *start < 0 || *start >= length) return false;
  PlotReader r;
  plotreader_init(&r, list, length, *start);
  PlotRecord open;
  int32_t k;
  if (!plotreader_next(&r, &open) || open.code_int != kCodeOpenObject || !record_count(open, 0, kMaxSubplots - 1, &k))
    return false;
  const StyleSpec* st = rec->styles;
  // With the highlight preference on, subplots that take the mouse show it
  // by their axes.
  const int32_t axes =
      b->h.interactive_highlight && inst_figure_takes_mouse(b, id, rec->subplots[k].handlerWords[kSubplotFigureWord])
          ? kStyleInteractiveAxesSlot
          : kStyleAxesSlot;
  RenderRequest q{list, length, room, &rec->subplots[k], start, &st[kStyleDefaultSlot],
                  &st[kStyleFillSlot], &st[kStyleFrameSlot], &st[kStyleChartSlot], &st[axes],
                  rec->focus_subplot == k ? 0 : -1, rec->focus_record, rec->focus_caret,
                  rec->focus_anchor, no_draw, driver, context, 0, 0, 0, 0};
  // The slider being dragged shows its live thumb, not the record's value.
  const ManipState& m = b->h.manip;
  constexpr uint32_t kLive = kManipId | kManipNb | kManipIx | kManipX1;
  if (b->h.interaction.active == k && (m.valid & kLive) == kLive)
    q.live_id = m.id, q.live_index = m.nb, q.live_thumb = m.ix, q.live_value = m.x1;
  if (!plotlist_render(&q)) return false;
  if (!driver->focus_rect && !no_draw) {
    // Without a self-inverting mark the marks are drawn again over each object.
    const int32_t n = cell_count(rec);
    for (int32_t j = 0; j < n; ++j)
      if (rec->selection & (1u << j)) inst_draw_subplot(b, id, j, true);
  }
  return true;
}

void inst_draw_subplot(RuntimeBlock* b, int32_t id, int32_t k, bool mark_on) {
  InstanceRec* rec = inst_find_by_id(b, id);
  const GraphicsDriver* d = b->h.driver;
  if (!rec || !d || k < 0 || k >= kMaxSubplots) return;
  GraphicsDriverContext* ctx = rt_graphics_context(b);
  const Subplot& s = rec->subplots[k];
  double dx = 0.0, dy = 0.0;
  if (b->h.frame_move.drawn) dx = b->h.frame_move.offset_x, dy = b->h.frame_move.offset_y;
  const double l = s.rectLeft + dx, r = s.rectRight + dx, t = s.rectTop + dy, bo = s.rectBottom + dy;
  mark_rect(d, ctx, l, t, r, bo, mark_on);
  if (!rec->free_layout) return;
  const double xs[2] = {l, r}, ys[2] = {t, bo};
  for (double x : xs)
    for (double y : ys) mark_rect(d, ctx, x - kHandleHalf, y - kHandleHalf, x + kHandleHalf, y + kHandleHalf, mark_on);
}

int figure_draw_subplot(RuntimeBlock* b, int32_t id, int32_t k) {
  const GraphicsDriver* d = b->h.driver;
  ScopedDrawRoom room;
  // Drawing may compact the store and move the list: each object is looked
  // for again from its offset in the list, which the move keeps.
  for (int32_t from = 0;;) {
    int32_t pos = 0, length = 0;
    if (!d || !plotstore_find(rt_plot_store(b), id, &pos, &length)) break;
    PlotReader r;
    plotreader_init(&r, plotstore_data(rt_plot_store(b)) + pos, length, from);
    PlotRecord rec;
    int32_t j = -1, at = -1;
    while (at < 0 && plotreader_next(&r, &rec))
      if (rec.code_int == kCodeOpenObject && record_count(rec, 0, kMaxSubplots - 1, &j) && j == k) at = rec.at;
    if (at < 0) break;
    int32_t start = at;
    plot_draw_objects(b, id, &start, false, d, rt_graphics_context(b), &room.room);
    from = start > at ? start : at + kOpenObjectLength;
  }
  return draw_room_failed(&room.room) ? kRtPlotOverflow : 0;
}

int figure_draw(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  const GraphicsDriver* d = b->h.driver;
  if (!rec || !d) return 0;
  GraphicsDriverContext* ctx = rt_graphics_context(b);
  plot_fill_background(rec->frame[0], rec->frame[1], rec->frame[2], rec->frame[3], d, ctx);
  ScopedDrawRoom room;
  int32_t start = 0;
  while (plot_draw_objects(b, id, &start, false, d, ctx, &room.room)) {
  }
  rec = inst_find_by_id(b, id);
  const int32_t n = cell_count(rec);
  for (int32_t k = 0; k < n; ++k)
    if (rec->selection & (1u << k)) inst_draw_subplot(b, id, k, true);
  b->h.band_drawn = 0;
  rec->changed_outside = 0;
  return draw_room_failed(&room.room) ? kRtPlotOverflow : 0;
}
